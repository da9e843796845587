// The disassembler: every operand kind decoded, jump targets as absolute
// positions, native calls by number, and code cut short reported, not overrun.
#include "tools/disassembler.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <vector>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/context.h"
#include "tests/engine/stack_fixture.h"

namespace {

int16_t W(Op op) { return static_cast<int16_t>(op); }

// Appends a double operand as four words, low word first.
void AppendDouble(std::vector<int16_t>& code, double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  for (int k = 0; k < 4; ++k) code.push_back(static_cast<int16_t>(bits >> (16 * k)));
}

TEST(Disassembler, DecodesEachOperandKind) {
  std::vector<int16_t> code = {W(Op::PushOne), W(Op::PushSmallInt), -7, W(Op::Nop), W(Op::PushDouble)};
  AppendDouble(code, 0.1);
  code.insert(code.end(), {W(Op::PushInt32Wide), 0, -32768});                            // INT32_MIN
  code.insert(code.end(), {W(Op::PushUint32Wide), -1, -1});                              // UINT32_MAX
  code.insert(code.end(), {W(Op::PushInt64Wide), -2, -1, -1, -1});                       // -2
  code.insert(code.end(), {W(Op::PushUint64Wide), -1, -1, -1, -1});                      // UINT64_MAX
  code.insert(code.end(), {W(Op::PushString8), 3, 'a' | ('b' << 8), '\''});              // odd length
  code.insert(code.end(), {W(Op::PushString16), 2, 0x3B1, 'z'});                         // non-ASCII
  code.insert(code.end(), {W(Op::PushString8), 0});                                      // empty text
  code.insert(code.end(), {W(Op::Horzcat), 2, W(Op::Colon), 3, W(Op::Plus), W(Op::I)});  // builtins
  code.insert(code.end(), {W(Op::CallFunction), 4, 2, -1, static_cast<int16_t>(333 + 12), 3, -1});
  EXPECT_EQ(Disassemble(code.data(), static_cast<int>(code.size())),
            "0: PushOne\n"
            "1: PushSmallInt -7\n"
            "3: Nop\n"
            "4: PushDouble 0.1\n"
            "9: PushInt32Wide -2147483648\n"
            "12: PushUint32Wide 4294967295\n"
            "15: PushInt64Wide -2\n"
            "20: PushUint64Wide 18446744073709551615\n"
            "25: PushString8 'ab\\''\n"
            "29: PushString16 '\\u03B1z'\n"
            "33: PushString8 ''\n"
            "35: horzcat 2\n"
            "37: colon 3\n"
            "39: plus\n"
            "40: i\n"
            "41: CallFunction 4 2 -1\n"
            "45: native 12 3 -1\n");
}

TEST(Disassembler, DoublesRoundTrip) {
  for (double x : {1.0 / 3.0, -0.0, 1e-320, 1e308, 5e-324}) {
    std::vector<int16_t> code = {W(Op::PushDouble)};
    AppendDouble(code, x);
    const std::string line = DisassembleLines(code.data(), 5, {.positions = false})[0];
    const char* text = line.c_str() + line.find(' ') + 1;
    double back = 1;
    std::from_chars(text, line.c_str() + line.size(), back);
    EXPECT_EQ(std::memcmp(&back, &x, sizeof x), 0) << line;
  }
}

TEST(Disassembler, JumpTargetsAreAbsolute) {
  // Targets: the word after the operand plus the operand; TryMark counts from
  // the word after both of its operands and shows 0 (end of region) as is.
  const int16_t code[] = {
      W(Op::TryMark),      6,   0,  // 0 -> 9
      W(Op::JumpIfFalse),  2,       // 3 -> 7
      W(Op::Jump),         -7,      // 5 -> 0
      W(Op::AndAlsoJump),  0,       // 7 -> 9
      W(Op::TryMark),      0,   1,  // 9: end of the protected region
      W(Op::ForNextRange), -14,     // 12 -> 0
      W(Op::SkipOperand),  1,       // 14 -> 17
      W(Op::Return),
  };
  EXPECT_EQ(DisassembleLines(code, sizeof code / 2, {.positions = false}),
            (std::vector<std::string>{"TryMark ->9 0", "JumpIfFalse ->7", "Jump ->0", "AndAlsoJump ->9", "TryMark 0 1",
                                      "ForNextRange ->0", "SkipOperand ->17", "Return"}));
}

TEST(Disassembler, TruncatedCodeEndsTheListing) {
  struct Case {
    std::vector<int16_t> code;
    const char* want;
  };
  const Case kCases[] = {
      {{W(Op::PushOne), W(Op::PushDouble), 0, 0}, "0: PushOne\n1: <truncated PushDouble>\n"},
      {{W(Op::PushString8)}, "0: <truncated PushString8>\n"},
      {{W(Op::PushString16), 3, 'a'}, "0: <truncated PushString16>\n"},
      {{W(Op::PushString8), -1}, "0: <truncated PushString8>\n"},  // a length of 65535 bytes
      {{400, 1}, "0: <truncated native>\n"},
      {{W(Op::LineMarker), 1}, "0: <truncated LineMarker>\n"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Disassemble(c.code.data(), static_cast<int>(c.code.size())), c.want) << c.want;
}

// With a context, field operands name their symbols.
class DisassemblerInContext : public StackFixture {};

TEST_F(DisassemblerInContext, FieldSymbolsShowTheirText) {
  SymbolId s = 0;
  ASSERT_EQ(InternSymbol(ctx, "field", 5, 32, &s), kOk);
  const int16_t code[] = {W(Op::GetField),         static_cast<int16_t>(s), W(Op::IndexGetField),       1, 0,
                          static_cast<int16_t>(s), W(Op::GetField),         static_cast<int16_t>(s + 1)};
  const std::string plain = std::to_string(s);
  EXPECT_EQ(Disassemble(code, 8, {.positions = false}),
            "GetField " + plain + "\nIndexGetField 1 0 " + plain + "\nGetField " + std::to_string(s + 1) + "\n");
  // An id inside an entry is not a symbol: it stays a number.
  EXPECT_EQ(Disassemble(code, 8, {.positions = false, .ctx = ctx}),
            "GetField field\nIndexGetField 1 0 field\nGetField " + std::to_string(s + 1) + "\n");
}

}  // namespace
