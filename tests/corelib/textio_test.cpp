// Formatted text through hooks: the line end a "+write" hook asks for, line
// reads that an in-memory "+read" hook suspends mid-line and later resumes,
// and a scan whose values do not fit, which must leave the stacks alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/bytecode.h"
#include "tests/engine/stack_fixture.h"

namespace {

std::string* gOut = nullptr;

[[nodiscard]] StatusCode OutWrite(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void*) {
  if (descriptor != kStdoutDescriptor) return kBadFileId;
  gOut->append(bytes, static_cast<size_t>(length));
  return kOk;
}

// Descriptor 0 over a text in which '|' stands for "no byte yet": the read
// answers no byte there until the test lets it pass.
struct PausedInput {
  std::string text;
  size_t at = 0;
  bool paused = true;
};
PausedInput* gIn = nullptr;

[[nodiscard]] StatusCode PausedRead(EngineContext*, int32_t descriptor, char* buffer, int32_t capacity, int32_t* count,
                                    void*) {
  if (descriptor != kStdinDescriptor) return kBadFileId;
  *count = 0;
  if (gIn->at < gIn->text.size() && gIn->text[gIn->at] == '|') {
    if (gIn->paused) return kOk;
    ++gIn->at;
    gIn->paused = true;
  }
  if (gIn->at >= gIn->text.size()) return kEof;
  if (capacity < 1) return kOk;
  buffer[0] = gIn->text[gIn->at++];
  *count = 1;
  return kOk;
}

class TextIo : public StackFixture {
 protected:
  void SetUp() override {
    StackFixture::SetUp();
    gOut = &out;
    gIn = &in;
  }

  void InstallHooks(uint8_t writeStyle) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    hooks[0] = {};
    std::strcpy(hooks[0].name, "@textio");
    hooks[1] = {};
    hooks[1].handler = AsNativeHandler(&OutWrite);
    hooks[1].minInputs = writeStyle;
    std::strcpy(hooks[1].name, "+write");
    hooks[2] = {};
    hooks[2].handler = AsNativeHandler(&PausedRead);
    std::strcpy(hooks[2].name, "+read");
    hooks[3] = {};
    ASSERT_EQ(InstallNativeLibrary(ctx, hooks, false), kOk);
  }

  NativeFunctionRecord hooks[4]{};
  std::string out;
  PausedInput in;
};

TEST_F(TextIo, FprintfWritesTheHooksLineEnd) {
  struct Case {
    uint8_t style;
    const char* lineEnd;
  };
  const Case kCases[] = {{1, "\n"}, {2, "\r\n"}, {3, "\r"}};
  for (const Case& c : kCases) {
    Reset();
    InstallHooks(c.style);
    out.clear();
    // Line feeds of the format, of %s and of %c; sprintf keeps its own.
    ASSERT_EQ(Command("fprintf('a\\nb%s%c', ['x' 10 'y'], 10); fprintf('%s', sprintf('[\\n]'))"), kOk);
    const std::string le = c.lineEnd;
    EXPECT_EQ(out, "a" + le + "bx" + le + "y" + le + "[" + le + "]") << int{c.style};
    char end[3];
    GetHookLineEnd(ctx, end);
    EXPECT_STREQ(end, c.lineEnd);
  }
}

TEST_F(TextIo, LineReadsResumeAfterTheBytesAlreadyRead) {
  struct Case {
    const char* input;
    const char* command;
    const char* want;
  };
  const Case kCases[] = {
      {"hel|lo\nnext\n", "x = fgetl(0); y = fgetl(0); fprintf('[%s][%s]', x, y)", "[hello][next]"},
      {"ab|c\n", "x = fgets(0); fprintf('%d,', x)", "97,98,99,10,"},
      {"12 3|4 5\n6\n", "x = fscanf(0, '%d'); y = fscanf(0, '%d'); fprintf('%d,', x, y)", "12,34,5,6,"},
      {"1|2|3\n", "x = fscanf(0, '%d'); fprintf('%d,', x)", "123,"},
  };
  for (const Case& c : kCases) {
    Reset();
    InstallHooks(1);
    in = {c.input, 0, true};
    out.clear();
    const std::string command = c.command;
    StatusCode st = EvaluateCommandLine(ctx, command.data(), static_cast<int32_t>(command.size()), true);
    if (st == kSuspended) st = RunInterpreter(ctx, 0);
    // Every pause suspends the command once; the stacks keep what was read.
    size_t suspensions = 0;
    while (st == kSuspended) {
      ++suspensions;
      in.paused = false;
      st = RunInterpreter(ctx, 0);
    }
    EXPECT_EQ(st, kOk) << c.command;
    const std::string input = c.input;
    EXPECT_EQ(suspensions, static_cast<size_t>(std::count(input.begin(), input.end(), '|'))) << c.command;
    EXPECT_EQ(out, c.want) << c.command;
  }
}

TEST_F(TextIo, ScanThatDoesNotFitLeavesTheStacks) {
  InstallHooks(1);
  in = {"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\n", 0, false};
  // Fill the data space but for a few cells.
  double* re = nullptr;
  const int64_t free = FreeDataCells(ctx);
  ASSERT_EQ(PushDoubleMatrix(ctx, 1, static_cast<int32_t>(free - 12), &re, nullptr), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "%d"), kOk);
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  const int16_t ins[] = {static_cast<int16_t>(Op::Fscanf), 1, 1};
  EXPECT_EQ(FscanfOpcode(ctx, ins), kDataStackFull);
  EXPECT_EQ(ctx->descLength, descLength);
  EXPECT_EQ(ctx->dataTop, dataTop);
  EXPECT_TRUE(IsCharArg(ctx, 0));
}

}  // namespace
