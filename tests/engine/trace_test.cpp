// The error ending of a run on real code: the call trace with libraries,
// private functions, methods, inline functions and recursions; catches
// through several frames; the codes no try hides, the silent cancel, and a
// damaged chain of frame links.
#include "engine/trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "engine/heap.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr StatusCode kCancelled = 402;

[[nodiscard]] StatusCode Cancel(EngineContext*, int, int, void*) { return kCancelled; }
[[nodiscard]] StatusCode Halt(EngineContext*, int, int, void*) { return kHalted; }
[[nodiscard]] StatusCode RefuseGlobal(EngineContext*, int, int, void*) { return kSecViolationGlobal; }
[[nodiscard]] StatusCode Sandbox(EngineContext* ctx, int, int, void*) {
  MarkFrameSandboxed(ctx);
  return kOk;
}
// Makes the calling function's frame a call of a method of class C.
[[nodiscard]] StatusCode AsMethod(EngineContext* ctx, int, int, void*) {
  SymbolId c = 0;
  if (StatusCode st = InternSymbol(ctx, "C", 1, 32, &c); st != kOk) return st;
  CurrentFrame(ctx)->methodClass = c;
  return kOk;
}
[[nodiscard]] StatusCode HostOnly(EngineContext*, int, int, void*) { return kOk; }

// Sources of functions outside any library.
[[nodiscard]] StatusCode ReadFunction(EngineContext*, const char* name, const char*, const char*, char* buffer,
                                      int32_t size, int32_t* length, int32_t* firstLine, bool* untrusted, void*) {
  static constexpr char kLoose[] = "function loose()\n  asmethod();\n  fails();\n";
  if (std::strcmp(name, "loose") != 0) return kNotMine;
  if (buffer == nullptr) return kOk;
  const auto n = static_cast<int32_t>(sizeof kLoose - 1);
  if (n > size) return kDataStackFull;
  std::memcpy(buffer, kLoose, n);
  *length = n;
  if (firstLine != nullptr) *firstLine = 1;
  if (untrusted != nullptr) *untrusted = false;
  return kOk;
}

NativeFunctionRecord Native(NativeHandler handler, const char* name) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.maxInputs = 2;
  r.maxOutputs = 1;
  return r;
}

class TraceTest : public StackFixture {
 protected:
  TraceTest() : StackFixture({.blockCells = 512 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    CaptureDescriptor(2, &errors);
    ASSERT_EQ(InstallNativeLibrary(ctx, trusted, false), kOk);
    ASSERT_EQ(InstallNativeLibrary(ctx, hostOnly, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    SetLineInfoFlag(ctx, 1);
  }

  std::string LastError() {
    if (ctx->lastErrorRecord <= 0) return "<none>";
    return reinterpret_cast<const char*>(ctx->heapBase + ctx->lastErrorRecord + 1);
  }

  std::string errors;
  NativeFunctionRecord trusted[7] = {{nullptr, nullptr, 0, "!tracetest", 0, 0, 0, 0},
                                     Native(Cancel, "cancel"),
                                     Native(Halt, "halt"),
                                     Native(RefuseGlobal, "refuseglobal"),
                                     Native(Sandbox, "sandbox"),
                                     Native(AsMethod, "asmethod"),
                                     {}};
  NativeFunctionRecord hostOnly[4] = {{nullptr, nullptr, 0, "@hostonly", 0, 0, 0, 0},
                                      Native(HostOnly, "hostonly"),
                                      Native(AsNativeHandler(ReadFunction), "+readfn"),
                                      {}};
};

TEST_F(TraceTest, CallingFramesAreListedInnermostFirst) {
  const char* kProgram =
      "function a()\n"
      "  b();\n"
      "function b()\n"
      "  c();\n"
      "function c()\n"
      "  x = 1;\n"
      "  error('deep');\n";
  ASSERT_EQ(Command(kProgram), kOk);
  EXPECT_EQ(Command("a();"), kUserError);
  EXPECT_EQ(errors,
            "deep (_cli/c;7)\n"
            "-> _cli/b;4\n"
            "-> _cli/a;2\n");
  EXPECT_EQ(LastError(), "deep (_cli/c;7)");
  EXPECT_EQ(ctx->pc.space, kNoCode);
  EXPECT_EQ(ctx->running, 0);
  // The next command line starts from the base frame again.
  errors.clear();
  EXPECT_EQ(Command("y = 2;"), kOk);
  EXPECT_EQ(errors, "");
}

TEST_F(TraceTest, RecursionIsWrittenOnceWithItsCount) {
  const char* kProgram =
      "function top()\n"
      "  r(3);\n"
      "function r(n)\n"
      "  if n > 0\n"
      "    r(n - 1);\n"
      "  else\n"
      "    error('bottom');\n"
      "  end\n";
  ASSERT_EQ(Command(kProgram), kOk);
  struct Case {
    const char* call;
    const char* want;
  };
  const Case kCases[] = {
      // The run is closed by the frame that called into it.
      {"top();", "bottom (_cli/r;7)\n-> _cli/r;5\n3 recursive calls\n-> _cli/top;2\n"},
      // A run that reaches the end of the walk is closed all the same.
      {"r(4);", "bottom (_cli/r;7)\n-> _cli/r;5\n4 recursive calls\n"},
      // A single frame is no recursion.
      {"r(1);", "bottom (_cli/r;7)\n-> _cli/r;5\n"},
      // The failing frame itself is not part of the walk.
      {"r(0);", "bottom (_cli/r;7)\n"},
  };
  for (const Case& c : kCases) {
    errors.clear();
    EXPECT_EQ(Command(c.call), kUserError) << c.call;
    EXPECT_EQ(errors, c.want) << c.call;
  }
}

TEST_F(TraceTest, PrivateFunctionsMethodsAndInlineFunctions) {
  const char* kProgram =
      "function f()\n"
      "  g();\n"
      "function fails()\n"
      "  error('failed');\n"
      "private\n"
      "function g()\n"
      "  x = 1;\n"
      "  fails();\n";
  ASSERT_EQ(Command(kProgram), kOk);
  errors.clear();
  EXPECT_EQ(Command("f();"), kUserError);
  EXPECT_EQ(errors, "failed (_cli/fails;4)\n-> _cli/.g;8\n-> _cli/f;2\n");
  // The same frames, g's taken for an inline function's.
  PreviousFrame(ctx, CurrentFrame(ctx))->function = -2;
  errors.clear();
  PrintErrorTrace(ctx, kUserError);
  EXPECT_EQ(errors, "failed (_cli/fails;4)\n-> (inline);8\n-> _cli/f;2\n");

  // A function outside any library, called as a method of class C.
  errors.clear();
  EXPECT_EQ(Command("loose();"), kUserError);
  EXPECT_EQ(errors, "failed (_cli/fails;4)\n-> C::loose;3\n");
}

TEST_F(TraceTest, CatchThroughSeveralFrames) {
  const char* kProgram =
      "function r = outer()\n"
      "  r = 0;\n"
      "  try\n"
      "    middle();\n"
      "  catch\n"
      "    r = 1;\n"
      "  end\n"
      "function middle()\n"
      "  v = [1 2 3];\n"
      "  inner(v);\n"
      "function inner(v)\n"
      "  w = v;\n"
      "  w(9)\n";
  ASSERT_EQ(Command(kProgram), kOk);
  const int32_t baseLength = ctx->descLength;
  EXPECT_EQ(Command("caught = outer();"), kOk);
  EXPECT_EQ(errors, "");
  EXPECT_NE(LastError().find("(_cli/inner;13)"), std::string::npos) << LastError();
  // The frames between the catch and the failure are gone with their values.
  EXPECT_EQ(ctx->frameIndex, 0);
  EXPECT_EQ(ctx->descLength, baseLength);
}

TEST_F(TraceTest, CodesThatNoTryHides) {
  const char* kProgram =
      "function r = guarded(k)\n"
      "  r = 0;\n"
      "  try\n"
      "    exposed(k);\n"
      "  catch\n"
      "    r = 1;\n"
      "  end\n"
      "function exposed(k)\n"
      "  sandbox();\n"
      "  try\n"
      "    if k == 1\n"
      "      hostonly();\n"
      "    elseif k == 2\n"
      "      refuseglobal();\n"
      "    elseif k == 3\n"
      "      halt();\n"
      "    else\n"
      "      cancel();\n"
      "    end\n"
      "  catch\n"
      "  end\n";
  ASSERT_EQ(Command(kProgram), kOk);
  struct Case {
    int k;
    StatusCode want;
    double x;  // 1: caught by the frame that is not sandboxed; 0: by the sandboxed one
    bool printed;
  };
  const Case kCases[] = {
      {1, kOk, 1, false},  // 403 passes the sandboxed try
      {2, kOk, 1, false},  // and so does 404
      {3, kHalted, -1, true},
      {4, kOk, 0, false},  // 402 is an error like any other for try
  };
  for (const Case& c : kCases) {
    errors.clear();
    ASSERT_EQ(Command("x = -1;"), kOk);
    const std::string call = "x = guarded(" + std::to_string(c.k) + ");";
    EXPECT_EQ(Command(call), c.want) << c.k;
    EXPECT_EQ(BaseScalar("x"), c.x) << c.k;
    EXPECT_EQ(!errors.empty(), c.printed) << c.k << ": " << errors;
  }
  // Outside any try: 402 ends the run without a word; 501 with its message.
  errors.clear();
  EXPECT_EQ(Command("cancel();"), kCancelled);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(ctx->pc.space, kNoCode);
  EXPECT_EQ(Command("function stop()\n  halt();\n"), kOk);
  errors.clear();
  EXPECT_EQ(Command("try, stop(); catch, end"), kHalted);
  EXPECT_EQ(errors.substr(0, 17), "Execution halted ") << errors;
}

TEST_F(TraceTest, DamagedLinksEndTheWalk) {
  const char* kProgram =
      "function a()\n"
      "  b();\n"
      "function b()\n"
      "  c();\n"
      "function c()\n"
      "  error('deep');\n";
  ASSERT_EQ(Command(kProgram), kOk);
  ASSERT_EQ(Command("a();"), kUserError);
  // The frames stay after an uncaught error; their links are damaged here.
  CallFrame* c = CurrentFrame(ctx);
  CallFrame* b = PreviousFrame(ctx, c);
  ASSERT_NE(b, nullptr);
  const int32_t bLink = b->link;
  const int32_t kLinks[] = {
      -bLink,                          // points upward: would loop
      bLink + ctx->frameIndex + 1000,  // below the bottom of the stack
      1,                               // into the middle of the frame above
  };
  for (const int32_t link : kLinks) {
    b->link = link;
    errors.clear();
    PrintErrorTrace(ctx, kUserError);
    EXPECT_EQ(errors, "deep (_cli/c;6)\n-> _cli/b;4\n") << link;
  }
  // A current frame outside the used stack prints only the message.
  ctx->frameIndex = ctx->descLength;
  errors.clear();
  PrintErrorTrace(ctx, kUserError);
  EXPECT_EQ(errors, "deep (_cli/c;6)\n");
}

}  // namespace
