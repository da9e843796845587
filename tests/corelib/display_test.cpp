// Value display: statement results and disp run through the interpreter, the
// row printers and summaries on values pushed directly, the format builtin's
// settings and refusals, and a break in the middle of a long display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/compiler/codegen.h"
#include "engine/heap.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

std::string* g_out = nullptr;

[[nodiscard]] StatusCode OutWrite(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void*) {
  if (descriptor != 1) return kBadFileId;
  g_out->append(bytes, length);
  return kOk;
}

// Breaks once the display has written this many pieces.
int g_breakAfter = -1;
bool BreakPoll(void*) { return g_breakAfter >= 0 && g_breakAfter-- == 0; }

class DisplayTest : public StackFixture {
 protected:
  DisplayTest() : StackFixture({.messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    g_out = &out;
    g_breakAfter = -1;
    natives[0].handler = AsNativeHandler(OutWrite);
    ASSERT_EQ(InstallNativeLibrary(ctx, natives, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }
  void TearDown() override { g_out = nullptr; }

  // Compiles text as command-line code over the base frame's names and runs it.
  [[nodiscard]] StatusCode Execute(const std::string& text) {
    CallFrame* f = CurrentFrame(ctx);
    auto* names = reinterpret_cast<char*>(FrameSlots(f) + f->nameCapacity);
    int32_t count = f->variableCount, used = 0;
    std::vector<int16_t> code(4000);
    StatusCode st = CompileSource(ctx, 0, text.data(), static_cast<int32_t>(text.size()), code.data(),
                                  static_cast<int32_t>(code.size()), &used,
                                  {.names = names, .nameCount = &count, .nameCapacity = f->nameCapacity});
    if (st != kOk) return st;
    CurrentFrame(ctx)->variableCount = count;
    // Doubles in the code sit on 8-byte boundaries: keep the alignment.
    int32_t at = ctx->codeTop;
    while (reinterpret_cast<uintptr_t>(ctx->codeBase + at) % 8 != 0) ++at;
    std::memcpy(ctx->codeBase + at, code.data(), used * sizeof(int16_t));
    ctx->pc = {kCodeArea, 0, {}, at * 2};
    return RunInterpreter(ctx, 0);
  }

  std::string Shown(const std::string& text) {
    out.clear();
    EXPECT_EQ(Execute(text), kOk) << text;
    return out;
  }

  std::string out;
  NativeFunctionRecord natives[2] = {{nullptr, nullptr, 0, "+write", 1, 0, 0, 0}, {}};
};

TEST_F(DisplayTest, StatementResultsInEachFormat) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {"x = 3", "x =\n         3\n"},
      {"x = pi", "x =\n    3.1416\n"},
      {"x = -2.5", "x =\n      -2.5\n"},
      {"x = int8(5)", "x =\n    5int8\n"},
      {"x = uint16(7)", "x =\n     7uint16\n"},
      {"x = 'ab'", "x =\nab\n"},
      {"x = ''", "x =\n ''\n"},
      {"x = true", "x =\ntrue\n"},
      {"x = 1 + 2i", "x =\n       1 +      2j\n"},
      {"format short; x = [1 2 3]", "x =\n     1     2     3\n"},
      {"format short; x = [1 2.5]", "x =\n    1.0000    2.5000\n"},
      {"format short; x = [1 1e7]", "x =\n    1.0000 10000000.0000\n"},
      {"format short; x = [1 NaN]", "x =\n     1   nan\n"},
      {"format long; x = pi", "x =\n    3.141592653589793\n"},
      {"format int; x = -7.9", "x =\n    -7\n"},
      {"format int x; x = 255", "x =\n  0xff\n"},
      {"format('+'); x = [2 0 -1 NaN]", "x =\n+ --\n"},
      {"format loose; x = 3", "\nx =\n\n         3\n\n"},
      {"x = 4; x", "x =\n         4\n"},
      {"disp(3)", "         3\n"},
      {"disp('hi')", "hi\n"},
  };
  for (const Case& c : kCases) {
    ctx->display = DisplayFormatSettings{4, 'g', 'j', 0, 0, {24, -1}};
    EXPECT_EQ(Shown(c.text), c.want) << c.text;
  }
}

TEST_F(DisplayTest, FormatSetsTheSettingsOrRefusesLeavingThemUnchanged) {
  struct Case {
    const char* text;
    StatusCode want;
    char letter;
    int digits;
  };
  const Case kCases[] = {
      {"format", kOk, 'f', 4},
      {"format long", kOk, 'f', 15},
      {"format('long', 'e')", kOk, 'e', 15},
      {"format('short', 'eng')", kOk, 'n', 4},
      {"format bank", kOk, 'F', 2},
      {"format('bank', 'eng')", kOk, 'e', 2},
      {"format('int', 'o')", kOk, 'o', 0},
      {"format('+')", kOk, '+', 4},
      {"format('compact', 'e')", kUnknownOpt, 'g', 4},
      {"format('int', 'q')", kUnknownOpt, 'g', 4},
      {"format('short', 'x')", kUnknownOpt, 'g', 4},
      {"format Short", kUnknownOpt, 'g', 4},
      {"format(3)", kWrongType, 'g', 4},
  };
  for (const Case& c : kCases) {
    ctx->display.format = 'g';
    ctx->display.digits = 4;
    EXPECT_EQ(Execute(c.text), c.want) << c.text;
    EXPECT_EQ(ctx->display.format, c.letter) << c.text;
    EXPECT_EQ(ctx->display.digits, c.digits) << c.text;
  }
  ASSERT_EQ(Execute("format j; format loose"), kOk);
  EXPECT_EQ(ctx->display.imagUnit, 'j');
  EXPECT_EQ(ctx->display.loose, 1);
  ASSERT_EQ(Execute("format i; format compact"), kOk);
  EXPECT_EQ(ctx->display.imagUnit, 'i');
  EXPECT_EQ(ctx->display.loose, 0);
}

// Values that the language cannot build yet are pushed directly.
TEST_F(DisplayTest, ArraysOfMoreDimensionsAndClassesShowTheirSummaries) {
  const int32_t base = ctx->descLength;
  const int32_t cube[] = {2, 2, 2};
  double* re = nullptr;
  ASSERT_EQ(PushDoubleArray(ctx, 3, cube, &re, nullptr), kOk);
  for (int k = 0; k < 8; ++k) re[k] = k + 1;
  ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
  EXPECT_EQ(out,
            "2x2x2 array\n(:,:,1) =\n         1         2\n         3         4\n"
            "(:,:,2) =\n         5         6\n         7         8\n");

  out.clear();
  const int32_t four[] = {2, 2, 2, 2};
  ASSERT_EQ(PushDoubleArray(ctx, 4, four, &re, nullptr), kOk);
  for (int k = 0; k < 16; ++k) re[k] = k;
  ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
  EXPECT_EQ(out, "2x2x2x2 array\n");

  out.clear();
  const int32_t square[] = {2, 2};
  void* data = nullptr;
  ASSERT_EQ(PushIntegerArray(ctx, 2, square, 2, false, &data), kOk);
  const int16_t values[] = {1, -2, 300, 4};
  std::memcpy(data, values, sizeof values);
  ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
  EXPECT_EQ(out, "2x2 int16 array\n      1     -2\n    300      4\n");

  out.clear();
  uint8_t* bits = nullptr;
  const int32_t row[] = {1, 3};
  ASSERT_EQ(PushLogicalArray(ctx, 2, row, &bits), kOk);
  bits[0] = 1, bits[1] = 0, bits[2] = 1;
  ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
  EXPECT_EQ(out, " T F T\n");

  out.clear();
  const int32_t none[] = {0, 0};
  ASSERT_EQ(PushLogicalArray(ctx, 2, none, &bits), kOk);
  ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
  EXPECT_EQ(out, "0x0 logical array\n []\n");

  out.clear();
  uint16_t* chars = nullptr;
  ASSERT_EQ(PushCharRow(ctx, 3, &chars), kOk);
  chars[0] = 'a', chars[1] = 10, chars[2] = 'b';
  ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
  EXPECT_EQ(out, "a\nb\n");
  EXPECT_EQ(ctx->descLength, base);
}

TEST_F(DisplayTest, CompositesShowOneLineOfShortForms) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {"s.a = 1; s.b = 'hi'; s.c = int8(3); s", "s =\na: 1\nb: 'hi'\nc: 3int8\n"},
      {"c = {pi, 'ab', true}", "c =\n {3.1416,'ab',true}\n"},
      {"c = {}", "c =\n {}\n"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Shown(c.text), c.want) << c.text;
}

TEST_F(DisplayTest, SinglesTakeTheIntegerRuleWhateverTheLetter) {
  struct Case {
    std::vector<float> values;
    int digits;
    const char* want;
  };
  const Case kCases[] = {
      {{2.5f}, 4, "       2.5single\n"},
      {{1, 2}, 4, "1x2 single array\n     1     2\n"},
      {{1, 1e5f}, 4, "1x2 single array\n         1    100000\n"},
      // 15 digits become 7 for single, so its rounding error stays hidden.
      {{0.1f}, 15, "          0.1single\n"},
  };
  for (const Case& c : kCases) {
    out.clear();
    ctx->display.digits = c.digits;
    const int32_t dims[] = {1, static_cast<int32_t>(c.values.size())};
    float* re = nullptr;
    ASSERT_EQ(PushSingleArray(ctx, 2, dims, &re, nullptr), kOk);
    std::memcpy(re, c.values.data(), c.values.size() * sizeof(float));
    ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
    EXPECT_EQ(out, c.want) << c.values[0] << " digits " << c.digits;
  }
}

TEST_F(DisplayTest, VoidShowsNothingAndIsPopped) {
  const int32_t base = ctx->descLength;
  ASSERT_EQ(PushVoidValue(ctx), kOk);
  ASSERT_EQ(DisplayTopValue(ctx, 1, true), kOk);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ctx->descLength, base);
}

TEST_F(DisplayTest, SummariesStopShortOfTheBufferEnd) {
  char buffer[64];
  int pos = 0;
  const int32_t dims[] = {2, 3};
  AppendArraySummary(buffer, sizeof buffer, &pos, 1, true, false, false, 2, dims, -1);
  EXPECT_EQ(std::string(buffer, pos), "2x3 uint8 array");
  pos = 0;
  AppendArraySummary(buffer, sizeof buffer, &pos, -3, false, false, false, 2, dims, 1);
  EXPECT_EQ(std::string(buffer, pos), "2x3 struct array (1 field)");
  pos = 0;
  const int32_t one[] = {1, 1};
  AppendArraySummary(buffer, sizeof buffer, &pos, 0, false, true, false, 2, one, -1);
  EXPECT_EQ(std::string(buffer, pos), "logical value");
  // With fewer than 20 bytes left nothing is appended.
  pos = 50;
  AppendArraySummary(buffer, sizeof buffer, &pos, 0, false, false, false, 2, dims, -1);
  EXPECT_EQ(pos, 50);
}

TEST_F(DisplayTest, ABreakStopsALongDisplayAndKeepsTheValue) {
  const int32_t base = ctx->descLength;
  const int32_t dims[] = {50, 2};
  double* re = nullptr;
  ASSERT_EQ(PushDoubleArray(ctx, 2, dims, &re, nullptr), kOk);
  for (int k = 0; k < 100; ++k) re[k] = k;
  SetBreakPollCallback(ctx, BreakPoll, nullptr);
  g_breakAfter = 3;
  EXPECT_EQ(DisplayTopValue(ctx, 1, true), kHalted);
  // The summary line and two rows were ended before the break; the third
  // row's text went out with the write that saw it.
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
  EXPECT_EQ(ctx->descLength, base + 3);
}

TEST_F(DisplayTest, ANearlyFullDataStackAnswersRoomBeforeWritingAnything) {
  ASSERT_EQ(Execute("x = 3;"), kOk);
  CallFrame* f = CurrentFrame(ctx);
  const auto* names = reinterpret_cast<const char*>(FrameSlots(f) + f->nameCapacity);
  int16_t x = 0;
  while (x < f->variableCount && std::strncmp(names + 32 * x, "x", 32) != 0) ++x;
  const int16_t show[2] = {static_cast<int16_t>(Op::DisplayVar), x};
  FillData(4);
  const int32_t before = ctx->descLength;
  EXPECT_EQ(OpDisplayVar(ctx, show), kDataStackFull);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ctx->descLength, before);
}

}  // namespace
