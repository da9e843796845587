// Code given as data: failing str2obj, eval and sandbox calls leave the
// stacks (and the data stack's end) as they found them, and the source text
// of every data value reads back through str2obj as the same value.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/engine/stack_fixture.h"

namespace {

NativeFunctionRecord Named(NativeHandler handler, const char* name, uint8_t maxInputs, uint8_t maxOutputs) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.minInputs = 1;
  r.maxInputs = maxInputs;
  r.maxOutputs = maxOutputs;
  return r;
}

class GenericCalls : public StackFixture {
 protected:
  GenericCalls() : StackFixture({.blockCells = 256 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    records[0] = Named(nullptr, "@gen", 0, 0);
    records[1] = Named(&SandboxNative, "sandbox", 2, 1);
    records[2] = Named(nullptr, "!gen", 0, 0);
    records[3] = Named(&Str2objNative, "str2obj", 1, kAnyCount);
    records[4] = Named(&DumpvarNative, "dumpvar", 3, 1);
    ASSERT_EQ(InstallNativeLibrary(ctx, records, false), kOk);
  }

  struct Tops {
    int32_t descLength, dataTop, dataCapacity, frameIndex;
    bool operator==(const Tops&) const = default;
  };
  Tops Now() { return {ctx->descLength, ctx->dataTop, ctx->dataCapacity, ctx->frameIndex}; }

  NativeFunctionRecord records[6]{};
};

TEST_F(GenericCalls, FailingCallsLeaveTheStacksAsTheyWere) {
  // Each call fails inside a function, whose try catches it; a value the
  // function holds under the call must still be there, and the command after
  // it runs.
  const char* kCalls[] = {
      "str2obj('[1 2')",        // compile error
      "str2obj('sin(1)')",      // not a data expression
      "[p, q] = str2obj('1')",  // count mismatch
      "str2obj('[1 2; 3]')",    // error while the fragment runs
      "str2obj(5)",             // not a text
      "eval('x = (1 +')",       // compile error
      "eval('y = [1 2] + [1 2 3]')",
      "sandbox('x = (1 +')",
      "sandbox('z = (', struct('a', 1))",
      "sandbox('u = [1 2] + [1 2 3]')",
  };
  for (const char* call : kCalls) {
    const std::string fn = std::string("function r = probe()\nr = 7;\nkeep = [1 2 3];\ntry\n") + call +
                           ";\ncatch\nr = sum(keep) + r;\nend\nendfunction\n";
    // The first run settles the base frame's names and the function's code.
    ASSERT_EQ(Command(fn + "v = probe();"), kOk) << call;
    ASSERT_EQ(Command("v = probe();"), kOk) << call;
    const Tops before = Now();
    ASSERT_EQ(Command("v = probe();"), kOk) << call;
    EXPECT_EQ(Now(), before) << call;
    EXPECT_EQ(BaseScalar("v"), 13) << call;
    ASSERT_EQ(Command("w = str2obj('[4 5]'); v = w(2);"), kOk) << call;
    EXPECT_EQ(BaseScalar("v"), 5) << call;
  }
}

TEST_F(GenericCalls, SourceTextOfDataValuesReadsBack) {
  const char* kValues[] = {
      "[]",
      "1.5",
      "[1 NaN -Inf; 2 3 4]",
      "[1+2i, NaN-1i]",
      "single([0.5 NaN])",
      "int8([-128 127])",
      "uint64([1 2])",
      "int64(-5)",
      "'it''s'",
      "['ab'; 'cd']",
      "[true false]",
      "zeros(2, 0)",
      "ones(2, 2, 2)",
      "{1, 'a', {}}",
      "reshape({1, 'a', [], {2}}, [2, 2])",
      "struct('a', 1, 'b', 'text')",
      "struct()",
      "structarray('x', {1, 2}, 'y', {'p', NaN})",
      "{struct('n', {{1, 2}})}",
  };
  for (const char* value : kValues) {
    ASSERT_EQ(Command(std::string("v = ") + value + "; t = dumpvar(v); w = str2obj(t); ok = same(w, v);"), kOk)
        << value;
    double ok = BaseScalar("ok");
    if (std::isnan(ok)) {
      // A logical scalar is not a double; read it from the heap block.
      ASSERT_EQ(Command("ok = double(ok);"), kOk);
      ok = BaseScalar("ok");
    }
    EXPECT_EQ(ok, 1) << value;
  }
}

}  // namespace
