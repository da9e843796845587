// The lexical level: blanks, comments and continuations, keywords and
// iskeyword, numeric and string literals as the instructions that push them,
// the quote rule, and command syntax.
#include "engine/compiler/scanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/registry.h"
#include "engine/values/textformat.h"
#include "tests/engine/stack_fixture.h"

namespace {

int W(Op op) { return static_cast<int>(op); }

int Length(const char* text) { return static_cast<int>(std::strlen(text)); }

class Scanner : public StackFixture {
 protected:
  Scanner() : StackFixture({.messages = true}) {}

  std::string ErrorText() { return CurrentErrorText(); }

  // Compiles the literal at the start of text; the code words, or the status.
  [[nodiscard]] StatusCode Compile(const char* text, bool string, std::vector<int>* words, int* consumed = nullptr,
                                   int32_t start = 0, int32_t room = 64) {
    int p = 0;
    int32_t at = start;
    const StatusCode st = string ? CompileStringLiteral(ctx, text, Length(text), &p, code, room, &at)
                                 : CompileNumericLiteral(ctx, text, Length(text), &p, code, room, &at);
    words->clear();
    for (int32_t k = start; k < at; ++k) words->push_back(code[k]);
    if (consumed) *consumed = p;
    return st;
  }

  static std::vector<int> DoubleWords(Op op, double x) {
    int16_t w[4];
    std::memcpy(w, &x, sizeof x);
    return {W(op), w[0], w[1], w[2], w[3]};
  }

  alignas(8) int16_t code[72] = {};
};

// ---------------------------------------------------------------------------
// Blanks, comments, continuations

TEST_F(Scanner, SkipBlanksAndComments) {
  struct Case {
    const char* text;
    bool stop;
    int want;
    int end;  // position afterwards
    int lines;
  };
  const Case kCases[] = {
      {"x", false, 0, 0, 0},
      {"  \tx", false, 1, 3, 0},
      {"% c\nx", false, 2, 4, 1},
      {"// c\r\nx", false, 2, 6, 1},
      {"/* a \n b */ x", false, 1, 12, 1},
      {"/*/ x", false, 1, 4, 0},
      {"/* never closed \n", false, 2, 17, 1},
      {"...\n\n\n x", false, 1, 7, 3},
      {"... comment\r\n x", false, 1, 14, 1},
      {"\n... \n x", false, 1, 7, 2},  // a continuation right after a line end joins the lines
      {"\r\r\n\nx", false, 2, 4, 3},
      {", x", true, 2, 2, 0},
      {", x", false, 0, 0, 0},
      {" ;; x", true, 2, 4, 0},
      {"", false, 2, 0, 0},
      {"   ", false, 2, 3, 0},
  };
  for (const Case& c : kCases) {
    int p = 0;
    int32_t lines = 0;
    EXPECT_EQ(SkipBlanksAndComments(ctx, c.text, Length(c.text), &p, c.stop, &lines), c.want) << c.text;
    EXPECT_EQ(p, c.end) << c.text;
    EXPECT_EQ(lines, c.lines) << c.text;
  }
}

TEST_F(Scanner, SkipBlanksInLineStopsAtTheLineEnd) {
  const char* text = "  % c\ny";
  int p = 0;
  int32_t lines = 0;
  EXPECT_TRUE(SkipBlanksInLine(text, Length(text), &p, &lines));
  EXPECT_EQ(p, 5);
  EXPECT_EQ(lines, 0);
  // A continuation still joins the next line.
  text = " ...\n  y";
  p = 0;
  EXPECT_TRUE(SkipBlanksInLine(text, Length(text), &p, &lines));
  EXPECT_EQ(text[p], 'y');
  EXPECT_EQ(lines, 1);
}

// ---------------------------------------------------------------------------
// Keywords

TEST_F(Scanner, MatchKeywordNeedsAWordBoundary) {
  struct Case {
    const char* text;
    const char* word;
    bool want;
  };
  const Case kCases[] = {
      {"end;", "end", true},   {"end", "end", true},   {"end x", "end", true}, {"endfunction", "end", false},
      {"end_x", "end", false}, {"end2", "end", false}, {"en", "end", false},   {"End", "end", false},
  };
  for (const Case& c : kCases) {
    int p = 0;
    EXPECT_EQ(MatchKeyword(c.text, Length(c.text), &p, c.word), c.want) << c.text;
    EXPECT_EQ(p, c.want ? 3 : 0) << c.text;
  }
  // The length bounds the match, not a terminator.
  int p = 0;
  EXPECT_TRUE(MatchKeyword("endx", 3, &p, "end"));
}

TEST_F(Scanner, KeywordList) {
  std::vector<std::string> words;
  for (const char* w = GetKeywordList(nullptr); w != nullptr; w = GetKeywordList(w)) words.push_back(w);
  ASSERT_EQ(words.size(), 29u);
  EXPECT_EQ(words.front(), "break");
  EXPECT_EQ(words[8], "endfunction");
  EXPECT_EQ(words.back(), "_pragma");
  for (const std::string& w : words) EXPECT_TRUE(IsKeyword(w.data(), static_cast<int>(w.size()))) << w;
  EXPECT_FALSE(IsKeyword("define", 6));
  EXPECT_FALSE(IsKeyword("End", 3));
}

TEST_F(Scanner, IsKeywordNative) {
  // Called as a native: registered, then run by its number.
  NativeFunctionRecord records[2] = {};
  records[0].handler = IsKeywordNative;
  std::strcpy(records[0].name, "iskeyword");
  records[0].maxInputs = 1;
  records[0].minOutputs = records[0].maxOutputs = 1;
  ASSERT_EQ(InstallNativeLibrary(ctx, records, false), kOk);
  int g = 0;
  while (g < 100 && GetNativeRecordByIndex(ctx, g) != &records[0]) ++g;

  struct Case {
    const char* text;
    bool want;
  };
  for (const Case& c : {Case{"end", true}, Case{"End", false}, Case{"endfunction", true}, Case{"_pragma", true},
                        Case{"define", false}, Case{"includeifexists", true}, Case{"includeifexistsx", false},
                        Case{"a much longer text than any keyword", false}}) {
    ASSERT_EQ(PushStringFromBytes(ctx, -1, c.text), kOk);
    ASSERT_EQ(CallNativeByNumber(ctx, g, 1, 1, false), kOk) << c.text;
    uint8_t b = 2;
    ASSERT_EQ(PopBoolean(ctx, &b), kOk);
    EXPECT_EQ(b != 0, c.want) << c.text;
    EXPECT_EQ(ctx->descLength, 0);
  }

  // Codes are compared whole: "end" with a high bit on its "e" is no keyword.
  uint16_t* row = nullptr;
  ASSERT_EQ(PushCharRow(ctx, 3, &row), kOk);
  row[0] = 0x165;
  row[1] = 'n';
  row[2] = 'd';
  ASSERT_EQ(CallNativeByNumber(ctx, g, 1, 1, false), kOk);
  uint8_t b = 2;
  ASSERT_EQ(PopBoolean(ctx, &b), kOk);
  EXPECT_EQ(b, 0);

  ASSERT_EQ(CallNativeByNumber(ctx, g, 0, 1, false), kOk);
  int32_t count = 0;
  CompositeElementHeader* first = nullptr;
  ASSERT_EQ(GetListArg(ctx, 0, &count, &first), kOk);
  EXPECT_EQ(count, 29);
  ASSERT_EQ(PushListElement(ctx, 0, 29), kOk);  // 1-based
  EXPECT_EQ(TopString(), "_pragma");
}

TEST_F(Scanner, IsKeywordNativeRefusesOtherValuesAndKeepsTheStack) {
  ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
  const Snapshot before = Take();
  EXPECT_EQ(IsKeywordNative(ctx, 1, 1, nullptr), kWrongType);
  EXPECT_EQ(Take(), before);

  // No room for the list: nothing is left behind.
  FillData(8);
  const Snapshot full = Take();
  EXPECT_EQ(IsKeywordNative(ctx, 0, 1, nullptr), kDataStackFull);
  EXPECT_EQ(Take(), full);
}

// ---------------------------------------------------------------------------
// The quote rule

TEST_F(Scanner, QuoteRule) {
  struct Case {
    int previous;
    bool previousTranspose;
    bool transpose;
  };
  const Case kCases[] = {
      {'a', false, true},  {'Z', false, true},   {'7', false, true},  {'_', false, true},  {'.', false, true},
      {')', false, true},  {']', false, true},   {'}', false, true},  {'\'', true, true},  {'\'', false, false},
      {-1, false, false},  {'=', false, false},  {'(', false, false}, {',', false, false}, {' ', false, false},
      {'[', false, false}, {0xE9, false, false},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(QuoteIsTranspose(c.previous, c.previousTranspose), c.transpose) << c.previous << c.previousTranspose;
}

// ---------------------------------------------------------------------------
// Numeric literals

TEST_F(Scanner, NumericLiteralCode) {
  struct Case {
    const char* text;
    std::vector<int> words;
    int consumed;
  };
  const Case kCases[] = {
      {"1e3", {W(Op::PushSmallInt), 1000}, 3},
      {"2i", {W(Op::PushSmallImag), 2}, 2},
      {"2j", {W(Op::PushSmallImag), 2}, 2},
      {"1i", {W(Op::I)}, 2},
      {"1", {W(Op::PushOne)}, 1},
      {"0", {W(Op::PushZero)}, 1},
      {"0i", {W(Op::PushZero)}, 2},
      {"32767", {W(Op::PushSmallInt), 32767}, 5},
      {"0x10", {W(Op::PushSmallInt), 16}, 4},
      {"0b101", {W(Op::PushSmallInt), 5}, 5},
      {"010", {W(Op::PushSmallInt), 8}, 3},
      {"09", {W(Op::PushZero)}, 1},  // the 9 stands as the next token
      {"1./x", {W(Op::PushOne)}, 1},
      {"2.^x", {W(Op::PushSmallInt), 2}, 1},
      {"3.*x", {W(Op::PushSmallInt), 3}, 1},
      {"4.\\x", {W(Op::PushSmallInt), 4}, 1},
      {"5e+", {W(Op::PushSmallInt), 5}, 3},  // an exponent without digits is e0
      {"200uint8", {W(Op::PushUint8), 200}, 8},
      {"300uint8", {W(Op::PushUint8), 44}, 8},
      {"255int8", {W(Op::PushInt8), -1}, 7},
      {"65535uint16", {W(Op::PushUint16), -1}, 11},
      {"0x7fint16", {W(Op::PushInt16), 127}, 9},
      {"0b101int8", {W(Op::PushInt8), 5}, 9},
      {"017int32", {W(Op::PushInt32), 15}, 8},
      {"70000int32", {W(Op::PushInt32Wide), 70000 - 65536, 1}, 10},
      {"4294967295uint32", {W(Op::PushUint32), -1}, 16},
      {"12uint64", {W(Op::PushUint64), 12}, 8},
      {"4294967296int64", {W(Op::PushInt64Wide), 0, 0, 1, 0}, 15},
      {"18446744073709551615uint64", {W(Op::PushUint64), -1}, 26},
      {"18446744073709551616int64", {W(Op::PushInt64), 0}, 25},  // wraps
      {"7int8)", {W(Op::PushInt8), 7}, 5},
  };
  for (const Case& c : kCases) {
    std::vector<int> words;
    int consumed = 0;
    EXPECT_EQ(Compile(c.text, false, &words, &consumed), kOk) << c.text;
    EXPECT_EQ(words, c.words) << c.text;
    EXPECT_EQ(consumed, c.consumed) << c.text;
  }
}

TEST_F(Scanner, DoubleLiteralsAreAlignedConstants) {
  struct Case {
    const char* text;
    Op op;
    double value;
  };
  const Case kCases[] = {
      {"1.0", Op::PushDouble, 1.0},      {"32768", Op::PushDouble, 32768},    {"0.5i", Op::PushImagDouble, 0.5},
      {"1e-3", Op::PushDouble, 0.001},   {"100e-1", Op::PushDouble, 10},      {"10e-1", Op::PushDouble, 1},
      {"0.0", Op::PushDouble, 0},        {"2single", Op::PushSingle, 2},      {"2.5isingle", Op::PushImagSingle, 2.5},
      {"0xFFFF", Op::PushDouble, 65535}, {"1e400", Op::PushDouble, HUGE_VAL}, {".25", Op::PushDouble, 0.25},
  };
  // Whatever the starting word, the double lands on an 8-byte address.
  for (int32_t start = 0; start < 4; ++start) {
    for (const Case& c : kCases) {
      std::vector<int> words;
      ASSERT_EQ(Compile(c.text, false, &words, nullptr, start), kOk) << c.text;
      const int nops = (4 - (start + 1) % 4) % 4;
      ASSERT_EQ(words.size(), static_cast<size_t>(nops + 5)) << c.text << start;
      for (int k = 0; k < nops; ++k) EXPECT_EQ(words[k], W(Op::Nop));
      EXPECT_EQ(reinterpret_cast<uintptr_t>(code + start + nops + 1) % 8, 0u);
      const std::vector<int> tail(words.begin() + nops, words.end());
      EXPECT_EQ(tail, DoubleWords(c.op, c.value)) << c.text;
    }
  }
}

TEST_F(Scanner, DecimalLiteralsAreCorrectlyRounded) {
  // Digit-by-digit accumulation gets several of these wrong in the last bit.
  const char* kTexts[] = {"0.1",
                          "0.3",
                          "0.7",
                          "1.2345678901234567",
                          "9007199254740993",
                          "123456789012345678901234567890",
                          "2.2250738585072011e-308",
                          "1e-320",
                          "4.9e-324",
                          "1.7976931348623157e308",
                          "8.98846567431158e307",
                          "0.000000000000000000000000000000000000001",
                          "3.141592653589793238462643383279"};
  for (const char* text : kTexts) {
    NumericLiteral n;
    int p = 0;
    ASSERT_EQ(ScanNumericLiteral(ctx, text, Length(text), &p, &n), kOk) << text;
    EXPECT_EQ(n.value, std::strtod(text, nullptr)) << text;
    EXPECT_EQ(p, Length(text));
  }
}

TEST_F(Scanner, RadixLiteralsAreCorrectlyRounded) {
  struct Case {
    const char* text;
    double want;
  };
  const double two53 = std::ldexp(1.0, 53);
  const Case kCases[] = {
      {"0x20000000000001", two53},                      // halfway: to even
      {"0x20000000000003", two53 + 4},                  // halfway: to even, upwards
      {"0x200000000000011", std::ldexp(1.0, 57) + 32},  // above halfway only through the last digit
      {"0x1fffffffffffffffff", std::ldexp(1.0, 69)},
      {"0b11111111111111111111111111111111111111111111111111111111111111111111", std::ldexp(1.0, 68)},
      {"0777", 511},
  };
  for (const Case& c : kCases) {
    NumericLiteral n;
    int p = 0;
    ASSERT_EQ(ScanNumericLiteral(ctx, c.text, Length(c.text), &p, &n), kOk) << c.text;
    EXPECT_EQ(n.value, c.want) << c.text;
    EXPECT_TRUE(n.plain);
  }
}

TEST_F(Scanner, TypedIntegerErrors) {
  std::vector<int> words;
  EXPECT_EQ(Compile("12int7", false, &words), kUnsupportedIntSize);
  EXPECT_EQ(Compile("12int)", false, &words), kUnsupportedIntSize);
  EXPECT_EQ(Compile("12uint128", false, &words), kUnsupportedIntSize);
  EXPECT_EQ(Compile("1e3int8", false, &words), kUnrecognizedToken);
  EXPECT_NE(ErrorText().find("Unrecognized token 'e'"), std::string::npos) << ErrorText();
  EXPECT_EQ(Compile("09int8", false, &words), kUnrecognizedToken);
  // "int" with nothing after it is no typed literal.
  NumericLiteral n;
  int p = 0;
  EXPECT_EQ(ScanNumericLiteral(ctx, "12int", 5, &p, &n), kOk);
  EXPECT_FALSE(n.integer);
  EXPECT_EQ(n.value, 12);
}

TEST_F(Scanner, LiteralsThatDoNotFitWriteNothingBeyondTheRoom) {
  std::vector<int> words;
  code[2] = 77;
  EXPECT_EQ(Compile("1.5", false, &words, nullptr, 0, 4), kCodeOverflow);
  EXPECT_EQ(Compile("7", false, &words, nullptr, 0, 1), kCodeOverflow);
  EXPECT_EQ(Compile("4294967296int64", false, &words, nullptr, 0, 4), kCodeOverflow);
  EXPECT_EQ(Compile("'abcdef'", true, &words, nullptr, 0, 4), kCodeOverflow);
  EXPECT_EQ(code[2], 77);
  EXPECT_EQ(Compile("1.5", false, &words, nullptr, 0, 8), kOk);  // 3 Nops, opcode, 4 words
}

// ---------------------------------------------------------------------------
// String literals

TEST_F(Scanner, StringLiterals) {
  struct Case {
    const char* text;
    std::vector<int> words;
    int consumed;
  };
  const Case kCases[] = {
      {"'it''s'", {W(Op::PushString8), 4, 'i' | 't' << 8, '\'' | 's' << 8}, 7},
      {"'abc' + 1", {W(Op::PushString8), 3, 'a' | 'b' << 8, 'c'}, 5},
      {"''", {W(Op::PushString8), 0}, 2},
      {"''''", {W(Op::PushString8), 1, '\''}, 4},
      {"'\\x41\\u263a'", {W(Op::PushString16), 2, 0x41, 0x263a}, 12},
      {"'\\377'", {W(Op::PushString8), 1, 255}, 6},
      {"'\\400'", {W(Op::PushString8), 1, 0}, 6},  // modulo 256
      {"'\\1012'", {W(Op::PushString8), 2, 'A' | '2' << 8}, 7},
      {"'\\\"\\'\\\\'", {W(Op::PushString8), 3, '"' | '\'' << 8, '\\'}, 8},
      {"'\\a\\b\\f\\n\\r\\t\\v'", {W(Op::PushString8), 7, 7 | 8 << 8, 12 | 10 << 8, 13 | 9 << 8, 11}, 16},
      {"'\\xg'", {W(Op::PushString8), 2, 0 | 'g' << 8}, 5},  // no digit gives 0
      {"'\\u00e9x'", {W(Op::PushString8), 2, 0xE9 | 'x' << 8}, 9},
      {"'a\nb'", {W(Op::PushString8), 3, 'a' | '\n' << 8, 'b'}, 5},
  };
  for (const Case& c : kCases) {
    std::vector<int> words;
    int consumed = 0;
    ASSERT_EQ(Compile(c.text, true, &words, &consumed), kOk) << c.text;
    std::vector<int> want = c.words;
    for (int& w : want) w = static_cast<int16_t>(w);
    EXPECT_EQ(words, want) << c.text;
    EXPECT_EQ(consumed, c.consumed) << c.text;
    EXPECT_EQ(GetInstructionLength(code), static_cast<int>(words.size())) << c.text;
  }
}

TEST_F(Scanner, StringLiteralErrors) {
  std::vector<int> words;
  EXPECT_EQ(Compile("'\\q'", true, &words), kUnknownEscape);
  EXPECT_EQ(Compile("'abc", true, &words), kUnterminatedString);
  EXPECT_EQ(Compile("'abc''", true, &words), kUnterminatedString);
  EXPECT_EQ(Compile("'abc\\", true, &words), kUnterminatedString);
  EXPECT_EQ(Compile("'", true, &words), kUnterminatedString);
}

bool DecodeUtf8(const char* text, uint16_t* out, int* position, int length) {
  return DecodeUtf8Char(text, length, position, out);
}

TEST_F(Scanner, HighBytesInStringsGoThroughTheCharsetDecoder) {
  std::vector<int> words;
  // Without a decoder every byte is a character.
  ASSERT_EQ(Compile("'\xC3\xA9'", true, &words), kOk);
  EXPECT_EQ(words, (std::vector<int>{W(Op::PushString8), 2, static_cast<int16_t>(0xC3 | 0xA9 << 8)}));

  ctx->charsetDecode = DecodeUtf8;
  ASSERT_EQ(Compile("'\xC3\xA9'", true, &words), kOk);
  EXPECT_EQ(words, (std::vector<int>{W(Op::PushString8), 1, 0xE9}));
  ASSERT_EQ(Compile("'a\xE2\x98\xBA'", true, &words), kOk);
  EXPECT_EQ(words, (std::vector<int>{W(Op::PushString16), 2, 'a', 0x263a}));
  // A byte the decoder refuses is dropped.
  ASSERT_EQ(Compile("'a\xFF"
                    "b'",
                    true, &words),
            kOk);
  EXPECT_EQ(words, (std::vector<int>{W(Op::PushString8), 2, 'a' | 'b' << 8}));
}

// ---------------------------------------------------------------------------
// Command syntax

TEST_F(Scanner, CommandSyntax) {
  struct Case {
    const char* text;
    const char* call;  // null: not a command
    int end;           // where the command stops
  };
  const Case kCases[] = {
      {"format long", "format('long')", 11},
      {"disp 'a b'", "disp('a b')", 10},
      {"cd ../x", "cd('../x')", 7},
      {"x -y", "x('-y')", 4},
      {"hold on  off  ", "hold('on','off')", 14},
      {"cd c:\\dir", "cd('c:\\\\dir')", 9},
      {"disp it's", "disp('it\\'s')", 9},
      {"disp 'a\\'b c'", "disp('a\\'b c')", 13},
      {"format long; x", "format('long')", 11},
      {"format long, x", "format('long')", 11},
      {"format long % note", "format('long')", 12},
      {"format long\nx", "format('long')", 11},
      {"format ...\n long", "format('long')", 16},
      {"x \xC3\xA9", "x('\xC3\xA9')", 4},
      {"x - y", nullptr, 0},
      {"x = 3", nullptr, 0},
      {"x == 3", nullptr, 0},
      {"x (1)", nullptr, 0},
      {"x +y", nullptr, 0},
      {"x", nullptr, 0},
      {"x % comment", nullptr, 0},
      {"x\ny", nullptr, 0},
      {"x -\ny", nullptr, 0},
      {"x/*c*/y", nullptr, 0},
  };
  for (const Case& c : kCases) {
    const int n = Length(c.text);
    ASSERT_EQ(IsCommandSyntax(ctx, c.text, n, 0), c.call != nullptr) << c.text;
    if (c.call == nullptr) continue;
    char out[64];
    int length = 0;
    int p = 0;
    int32_t lines = 0;
    ASSERT_EQ(ConvertCommandSyntax(ctx, c.text, n, &p, out, sizeof out, &length, &lines), kOk) << c.text;
    EXPECT_EQ(std::string(out, length), c.call) << c.text;
    EXPECT_EQ(p, c.end) << c.text;
  }
}

TEST_F(Scanner, CommandSyntaxErrors) {
  char out[64];
  int length = 0;
  int p = 0;
  EXPECT_EQ(ConvertCommandSyntax(ctx, "format long", 11, &p, out, 10, &length, nullptr), kCompOutOfMemory);
  p = 0;
  EXPECT_EQ(ConvertCommandSyntax(ctx, "format long", 11, &p, out, 14, &length, nullptr), kOk);
  p = 0;
  EXPECT_EQ(ConvertCommandSyntax(ctx, "disp 'abc", 9, &p, out, sizeof out, &length, nullptr), kUnterminatedString);
  p = 0;
  EXPECT_EQ(ConvertCommandSyntax(ctx, "disp 'abc\n'", 11, &p, out, sizeof out, &length, nullptr), kUnterminatedString);
}

}  // namespace
