// The instruction tables: their self-check, instruction lengths, stack
// effects and the names the tables give.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/context.h"

namespace {

int16_t W(Op op) { return static_cast<int16_t>(op); }

TEST(OpcodeTables, SelfCheckPasses) {
  for (int i = 0; i < kOpcodeCount; ++i) EXPECT_EQ(kOpcodeTable[i].opcode, i);
  int builtins = 0;
  while (kBuiltinTable[builtins].id != 0xFFFF) ++builtins;
  EXPECT_EQ(builtins, kBuiltinCount);
  EXPECT_EQ(kBuiltinTable[builtins].name[0], 0);
}

TEST(OpcodeTables, CorruptedTablesGive600) {
  struct Corruption {
    const char* what;
    void (*apply)(std::vector<OpcodeRecord>&, std::vector<BuiltinRecord>&);
  };
  const Corruption kCases[] = {
      {"record out of place", [](auto& ops, auto&) { ops[40].opcode = 41; }},
      {"operands without a kind", [](auto& ops, auto&) { ops[13].kind = 0; }},
      {"kind without operands", [](auto& ops, auto&) { ops[13].count = 0; }},
      {"fixed input count disagrees", [](auto&, auto& bs) { bs[0].inputs = 2; }},  // abs takes 1
      {"fixed output count disagrees", [](auto& ops, auto&) { ops[static_cast<int>(Op::Plus)].effect = Effect(2, 2); }},
      {"variable counts disagree with the operand count",
       [](auto& ops, auto&) { ops[static_cast<int>(Op::Feval)].count = 1; }},
  };
  for (const Corruption& c : kCases) {
    std::vector<OpcodeRecord> ops(kOpcodeTable, kOpcodeTable + kOpcodeCount);
    std::vector<BuiltinRecord> bs(kBuiltinTable, kBuiltinTable + kBuiltinCount + 1);
    c.apply(ops, bs);
    EXPECT_EQ(CheckOpcodeTables(ops.data(), bs.data()), kInitError) << c.what;
  }
}

TEST(OpcodeTables, IrregularBuiltinsAreNotCountChecked) {
  std::vector<OpcodeRecord> ops(kOpcodeTable, kOpcodeTable + kOpcodeCount);
  std::vector<BuiltinRecord> bs(kBuiltinTable, kBuiltinTable + kBuiltinCount + 1);
  for (BuiltinRecord& b : bs)
    if (std::strcmp(b.name, "lasterror") == 0) b.outputs = 5;
  EXPECT_EQ(CheckOpcodeTables(ops.data(), bs.data()), kOk);
}

TEST(Instructions, Lengths) {
  struct Case {
    const char* what;
    std::vector<int16_t> code;
    int want;
  };
  const Case kCases[] = {
      {"PushString8, 5 bytes", {W(Op::PushString8), 5, 0, 0, 0}, 5},
      {"PushString8, empty", {W(Op::PushString8), 0}, 2},
      {"PushString16, 5 characters", {W(Op::PushString16), 5, 0, 0, 0, 0, 0}, 7},
      {"PushDouble", {W(Op::PushDouble), 0, 0, 0, 0}, 5},
      {"CallFunction", {W(Op::CallFunction), 1, 0, 1}, 4},
      {"native call", {333, 2, 1}, 3},
      {"highest native number", {-1, 2, 1}, 3},
      {"Nop", {W(Op::Nop)}, 1},
      {"PushInt32Wide", {W(Op::PushInt32Wide), 0, 0}, 3},
      {"PushUint64Wide", {W(Op::PushUint64Wide), 0, 0, 0, 0}, 5},
      {"feval with both counts", {W(Op::Feval), 2, 1}, 3},
      {"sin", {W(Op::Sin)}, 1},
      {"LineMarker", {W(Op::LineMarker), -1, 7}, 3},
  };
  for (const Case& c : kCases) EXPECT_EQ(GetInstructionLength(c.code.data()), c.want) << c.what;
}

TEST(Instructions, StackEffects) {
  struct Case {
    const char* what;
    std::vector<int16_t> code;
    StatusCode want;
    int in, out;
  };
  const Case kCases[] = {
      {"fixed", {W(Op::Plus)}, kOk, 2, 1},
      {"variable inputs", {W(Op::Horzcat), 4}, kOk, 4, 1},
      {"inputs word before outputs word", {W(Op::Feval), 3, 2}, kOk, 3, 2},
      {"variable outputs only", {W(Op::Unique), 2}, kOk, 1, 2},
      {"native call", {400, 3, -1}, kOk, 3, -1},
      {"machine opcode", {W(Op::Drop)}, kOk, 1, 0},
      {"irregular", {W(Op::Jump), 4}, kBadArg, 0, 0},
      {"irregular builtin", {W(Op::Error), 1}, kBadArg, 0, 0},
  };
  for (const Case& c : kCases) {
    int in = 0, out = 0;
    EXPECT_EQ(GetInstructionStackEffect(c.code.data(), &in, &out), c.want) << c.what;
    if (c.want == kOk) {
      EXPECT_EQ(in, c.in) << c.what;
      EXPECT_EQ(out, c.out) << c.what;
    }
  }
}

TEST(Instructions, OpcodeNames) {
  struct Case {
    Op op;
    bool operatorForm;
    const char* want;
  };
  const Case kCases[] = {
      {Op::Uminus, true, "-"}, {Op::Plus, true, "+"},    {Op::Sin, true, "sin"}, {Op::Plus, false, "plus"},
      {Op::I, false, "i"},     {Op::Inf, false, "inf"},  {Op::Not, true, "~"},   {Op::Transpose, true, ".'"},
      {Op::Jump, false, ""},   {Op::PushZero, true, ""},
  };
  for (const Case& c : kCases) {
    char name[32];
    std::memset(name, 0x55, sizeof name);
    GetOpcodeName(nullptr, static_cast<int>(c.op), c.operatorForm, name);
    EXPECT_STREQ(name, c.want) << static_cast<int>(c.op);
    const size_t len = std::strlen(name);
    for (size_t k = len; k < 32; ++k) ASSERT_EQ(name[k], 0) << "padding of " << c.want;
  }
  char name[32];
  GetOpcodeName(nullptr, 500, false, name);
  EXPECT_STREQ(name, "") << "a native number past the last library";
}

TEST(Instructions, BuiltinNamesByIndex) {
  const char* lib = nullptr;
  bool sandbox = false;
  EXPECT_STREQ(GetBuiltinNameByIndex(nullptr, 0, false, &lib, &sandbox), "abs");
  EXPECT_STREQ(lib, "RVO");
  EXPECT_TRUE(sandbox);
  EXPECT_STREQ(GetBuiltinNameByIndex(nullptr, kBuiltinCount - 1, false, &lib, &sandbox), "zeros");
  EXPECT_STREQ(GetBuiltinNameByIndex(nullptr, 0, true, nullptr, nullptr), ";");
  EXPECT_STREQ(GetBuiltinNameByIndex(nullptr, kOperatorCount - 1, true, nullptr, nullptr), ".'");
  EXPECT_EQ(GetBuiltinNameByIndex(nullptr, kOperatorCount, true, nullptr, nullptr), nullptr);
}

TEST(Instructions, SharedNamesAndLookup) {
  struct Case {
    const char* name;
    Op want;
  };
  const Case kCases[] = {{"i", Op::I},     {"j", Op::I},     {"inf", Op::Inf},     {"Inf", Op::Inf},
                         {"nan", Op::Nan}, {"NaN", Op::Nan}, {"zeros", Op::Zeros}, {"sread", Op::Sread}};
  for (const Case& c : kCases) {
    const BuiltinRecord* b = FindBuiltin(c.name, static_cast<int>(std::strlen(c.name)));
    ASSERT_NE(b, nullptr) << c.name;
    EXPECT_EQ(b->id, static_cast<int>(c.want)) << c.name;
  }
  EXPECT_EQ(FindBuiltin("NAN", 3), nullptr);
  EXPECT_EQ(FindBuiltin("ze", 2), nullptr);
}

TEST(Instructions, MultiValueAndPurity) {
  EXPECT_TRUE(IsMultiValueInstruction(333));
  EXPECT_TRUE(IsMultiValueInstruction(static_cast<int>(Op::CallFunction)));
  EXPECT_TRUE(IsMultiValueInstruction(static_cast<int>(Op::Size)));    // 1-16 outputs
  EXPECT_TRUE(IsMultiValueInstruction(static_cast<int>(Op::Deconv)));  // 1-2 outputs
  EXPECT_FALSE(IsMultiValueInstruction(static_cast<int>(Op::Plus)));
  EXPECT_FALSE(IsMultiValueInstruction(static_cast<int>(Op::Jump)));

  const int16_t pure[] = {W(Op::PushOne), W(Op::PushSmallInt), 3, W(Op::Plus), W(Op::Drop)};
  EXPECT_TRUE(IsPureCode(pure, 5));
  const int16_t printing[] = {W(Op::PushOne), W(Op::Disp)};
  EXPECT_FALSE(IsPureCode(printing, 2));
  const int16_t native[] = {W(Op::PushOne), 340, 1, 1};
  EXPECT_FALSE(IsPureCode(native, 4));
  EXPECT_TRUE(IsPureCode(pure, 0));
}

TEST(Instructions, ImpureBuiltins) {
  for (Op op : {Op::Disp, Op::Rand, Op::Eval, Op::Feval, Op::Error, Op::Clear, Op::Fclose})
    EXPECT_EQ(kOpcodeTable[static_cast<int>(op)].flags & kPure, 0) << static_cast<int>(op);
  for (Op op : {Op::Plus, Op::Sin, Op::Zeros, Op::Sscanf, Op::Lasterror})
    EXPECT_EQ(kOpcodeTable[static_cast<int>(op)].flags & kPure, kPure) << static_cast<int>(op);
}

}  // namespace
