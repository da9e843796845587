// Number and text formatting: the conversion letters and flags of the double
// and complex formatters, the integer formatters, the parser's rounding and
// lexical rules, UTF-8 coding, and that nothing writes past the buffer.
#include "engine/values/textformat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// Flags as letters: '-' left-justify, 'U' uppercase, '+' plus, ' ' blank,
// '0' zero-pad, '#' alternate.
bool Has(const char* flags, char f) { return std::strchr(flags, f) != nullptr; }

NumberFormat Format(int width, const char* flags, int minDigits = 1) {
  return {.width = width,
          .minDigits = minDigits,
          .leftJustify = Has(flags, '-'),
          .plus = Has(flags, '+'),
          .blank = Has(flags, ' '),
          .zeroPad = Has(flags, '0'),
          .alternate = Has(flags, '#'),
          .uppercase = Has(flags, 'U')};
}

std::string Fd(double v, int precision, char conversion, int width = 0, const char* flags = "", int size = 128) {
  std::vector<char> buf(size + 1, '\0');
  int pos = 0;
  FormatDouble(buf.data(), &pos, v, precision, conversion, size, Format(width, flags));
  return std::string(buf.data(), pos);
}

std::string Fc(double re, double im, int precision, char conversion, int width = 0, const char* flags = "",
               char unit = 'i', int size = 128) {
  std::vector<char> buf(size + 1, '\0');
  int pos = 0;
  NumberFormat f = Format(width, flags);
  f.unitLetter = unit;
  FormatComplex(buf.data(), &pos, re, im, precision, conversion, size, f);
  return std::string(buf.data(), pos);
}

// ---------------------------------------------------------------------------
// FormatDouble

struct DoubleCase {
  double value;
  int precision;
  char conversion;
  int width;
  const char* flags;
  const char* want;
};

void CheckDoubleCases(const std::vector<DoubleCase>& cases) {
  for (const DoubleCase& c : cases) {
    EXPECT_EQ(Fd(c.value, c.precision, c.conversion, c.width, c.flags), c.want)
        << c.value << " %" << c.flags << c.width << "." << c.precision << c.conversion;
  }
}

TEST(FormatDouble, ConversionLetters) {
  CheckDoubleCases({
      // 'f': exactly p digits, half up, exponent form only beyond 1e18.
      {3.14159, 2, 'f', 0, "", "3.14"},
      {2.5, 0, 'f', 0, "", "3"},
      {0.125, 2, 'f', 0, "", "0.13"},
      {0.0004, 2, 'f', 0, "", "0.00"},
      {1e18, 0, 'f', 0, "", "1000000000000000000"},
      {1e19, 2, 'f', 0, "", "1.00e19"},
      {-0.0, 1, 'f', 0, "", "0.0"},
      // 'e'
      {1234.5, 2, 'e', 0, "", "1.23e3"},
      {0.0001234, 2, 'e', 0, "", "1.23e-4"},
      {0, 2, 'e', 0, "", "0.00e0"},
      {1e-100, 0, 'e', 0, "", "1e-100"},
      {1e300, 1, 'e', 0, "", "1.0e300"},
      {DBL_MAX, 3, 'e', 0, "", "1.798e308"},
      {5e-324, 2, 'e', 0, "", "4.94e-324"},
      {9.9996, 3, 'e', 0, "", "10.000e0"},  // a carry is not renormalised
      // 'n'
      {1.5, 2, 'n', 0, "", "1.50e0"},
      {1.5e4, 1, 'n', 0, "", "15.0e3"},
      {0.015, 1, 'n', 0, "", "15.0e-3"},
      {123456, 0, 'n', 0, "", "123e3"},
      // 'g': the precision counts fraction digits; no trailing zeros.
      {123.456, 4, 'g', 0, "", "123.456"},
      {0.00012, 4, 'g', 0, "", "1.2e-4"},
      {3e9, 4, 'g', 0, "", "3e9"},
      {1999999999, 4, 'g', 0, "", "1999999999"},
      {0.1, 4, 'g', 0, "", "0.1"},
      {1.0 / 3, 4, 'g', 0, "", "0.3333"},
      {2.0 / 3, 4, 'g', 0, "", "0.6667"},
      {2.5, 4, 'g', 0, "", "2.5"},
      {100, 4, 'g', 0, "", "100"},
      {0, 4, 'g', 0, "", "0"},
      {1.0000001, 4, 'g', 0, "", "1"},
      // Any other letter: as 'g' without fraction digits.
      {2.5, 4, 'd', 0, "", "3"},
      {2e9, 4, 'd', 0, "", "2e9"},
      {0.05, 4, 'd', 0, "", "5e-2"},
  });
}

TEST(FormatDouble, CompactFormsPickTheShortest) {
  CheckDoubleCases({
      {100, 4, 'k', 0, "", "100"},
      {1000, 4, 'k', 0, "", "1e3"},
      {1000, 4, 'K', 0, "", "1000"},  // 'K' accepts a fixed form one longer
      {0.001, 4, 'k', 0, "", "1e-3"},
      {0.001, 4, 'K', 0, "", "0.001"},
      {1234.5, 4, 'k', 0, "", "1234.5"},
      {12345.678, 4, 'k', 0, "", "12346"},
      {1.5e-5, 4, 'k', 0, "", "15e-6"},  // integer mantissa beats 1.5e-5
      {2.5, 4, 'k', 0, "", "2.5"},
      {0, 4, 'k', 0, "", "0"},
      {-1e20, 4, 'k', 0, "", "-1e20"},
  });
}

TEST(FormatDouble, SignsWidthAndPadding) {
  CheckDoubleCases({
      {3.14159, 2, 'f', 8, "", "    3.14"},
      {3.14159, 2, 'f', 8, "-", "3.14    "},
      {3.14159, 2, 'f', 8, "0", "00003.14"},
      {-3.14159, 2, 'f', 8, "0", "-0003.14"},
      {3.14159, 2, 'f', 8, "+0", "+0003.14"},
      {3.14159, 2, 'f', 8, " 0", " 0003.14"},
      {3.14159, 2, 'f', 8, "-0", "3.14    "},  // zero-pad only pads on the left
      {3.14159, 2, 'f', 0, "+", "+3.14"},
      {3.14159, 2, 'f', 0, " ", " 3.14"},
      {-0.0, 1, 'f', 0, "+", "+0.0"},
      {-2.5, 1, 'f', 3, "", "-2.5"},  // a text longer than the width is left alone
      {3, 0, 'f', 0, "#", "3."},
      {3, 4, 'g', 0, "#", "3."},
      {1234.5, 2, 'e', 0, "U", "1.23E3"},
      {1234.5, 2, 'e', 9, "0", "0001.23e3"},
  });
}

TEST(FormatDouble, NonFiniteWords) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CheckDoubleCases({
      {nan, 2, 'f', 0, "", "nan"},
      {nan, 2, 'f', 0, "U", "NaN"},
      {nan, 2, 'f', 0, "+ ", "nan"},  // NaN never gets a sign
      {-nan, 2, 'f', 0, "U", "NaN"},
      {inf, 2, 'g', 0, "", "inf"},
      {inf, 2, 'g', 0, "+", "+inf"},
      {inf, 2, 'g', 0, " U", " Inf"},
      {-inf, 2, 'g', 0, "+U", "-Inf"},
      {inf, 2, 'g', 6, "U", "   Inf"},
      {inf, 2, 'g', 6, "-U", "Inf   "},
      {inf, 2, 'g', 6, "0U", "   Inf"},  // the zero-pad flag is ignored
      {-inf, 2, 'e', 6, "-", "-inf  "},
  });
}

TEST(FormatDouble, RightJustifiedFillNeedsRoomForAllOfIt) {
  // "3.14" plus 6 blanks: filled only when position + missing + 2 < size.
  EXPECT_EQ(Fd(3.14159, 2, 'f', 10, "", 12), "3.14");
  EXPECT_EQ(Fd(3.14159, 2, 'f', 10, "", 13), "      3.14");
  // Left-justified fill is cut off at the buffer's end instead.
  EXPECT_EQ(Fd(3.14159, 2, 'f', 10, "-", 8), "3.14   ");
}

TEST(FormatDouble, AppendsAtThePosition) {
  char buf[32] = "x=";
  int pos = 2;
  FormatDouble(buf, &pos, -1.25, 2, 'f', sizeof buf);
  EXPECT_EQ(std::string(buf, pos), "x=-1.25");
  // The width counts from the first character of this number.
  FormatDouble(buf, &pos, 1, 0, 'f', sizeof buf, {.width = 3, .zeroPad = true});
  EXPECT_EQ(std::string(buf, pos), "x=-1.25001");
}

TEST(FormatDouble, ExponentFormParsesBackClosely) {
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> mant(1.0, 10.0);
  std::uniform_int_distribution<int> exp10(-300, 300);
  for (int i = 0; i < 2000; ++i) {
    const double v = mant(gen) * std::pow(10.0, exp10(gen));
    const std::string text = Fd(v, 14, 'e', 0, "");
    double back = 0;
    int pos = 0;
    ASSERT_TRUE(ParseRealNumber(text.c_str(), static_cast<int>(text.size()), &pos, &back)) << text;
    EXPECT_EQ(pos, static_cast<int>(text.size())) << text;
    EXPECT_NEAR(back / v, 1.0, 1e-13) << text;
  }
}

// ---------------------------------------------------------------------------
// FormatComplex

TEST(FormatComplex, ImaginaryPartAndUnit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double re, im;
    int width;
    const char* flags;
    char unit;
    const char* want;
  };
  const Case kCases[] = {
      {1, 2, 0, "-", 'i', "1+2i"},
      {1, -2, 0, "-", 'i', "1-2i"},
      {1, -2, 0, "-", 'j', "1-2j"},
      {1, -2, 0, "-U", 'j', "1-2J"},
      {1, 2, 0, "-U", 'x', "1+2I"},  // any letter but j means i
      {1, 2, 0, "", 'i', "1 +2i"},   // right-justified: a blank before the sign
      {1, 2, 10, "", 'i', "   1 +   2i"},
      {1, 2, 11, "", 'i', "   1 +    2i"},  // odd width: one more blank
      {-1, 2, 0, "-+", 'i', "-1+2i"},
      {1, 2, 0, "-+", 'i', "+1+2i"},  // the plus flag is for the real part only
      {1, nan, 0, "-", 'i', "1+nani"},
      {1, nan, 0, "-U", 'i', "1+NaNI"},
      // Left out: zero, negligible, or swallowed by a non-finite real part.
      {1, 0, 0, "-", 'i', "1"},
      {1e20, 1, 0, "-", 'i', "1e20"},
      {nan, 1, 0, "-U", 'i', "NaN"},
      {inf, 1, 0, "-", 'i', "inf"},
      {1, 0, 8, "", 'i', "  1     "},  // then blanks fill the whole width
      {1, 0, 8, "-", 'i', "1       "},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Fc(c.re, c.im, 4, 'g', c.width, c.flags, c.unit), c.want) << c.re << " " << c.im << " " << c.flags;
  }
}

TEST(FormatComplex, KeepsRoomForTheUnitLetter) {
  // The imaginary digits are written with the size less one, so the unit
  // letter still fits where the digits stop.
  for (int size = 1; size < 16; ++size) {
    std::vector<char> buf(size + 4, '#');
    int pos = 0;
    FormatComplex(buf.data(), &pos, 1.5, -2.25, 2, 'f', size, {.leftJustify = true});
    ASSERT_LT(pos, size) << size;
    for (int i = size; i < size + 4; ++i) EXPECT_EQ(buf[i], '#') << size;
    const std::string got(buf.data(), pos);
    if (got.find('-') != std::string::npos) {
      EXPECT_EQ(got.back(), 'i') << got;
    }
  }
}

// ---------------------------------------------------------------------------
// Integer formatters

std::string Dec32(int32_t v, bool u, int width, const char* flags, int minDigits = 1, int size = 64) {
  std::vector<char> buf(size + 1);
  int pos = 0;
  NumberFormat f = Format(width, flags, minDigits);
  f.isUnsigned = u;
  FormatDecimal32(buf.data(), &pos, v, size, f);
  return std::string(buf.data(), pos);
}

std::string Dec64(int64_t v, bool u, int width, const char* flags, int minDigits = 1, int size = 64) {
  std::vector<char> buf(size + 1);
  int pos = 0;
  NumberFormat f = Format(width, flags, minDigits);
  f.isUnsigned = u;
  FormatDecimal64(buf.data(), &pos, v, size, f);
  return std::string(buf.data(), pos);
}

std::string Hex(uint64_t v, bool wide, int width, const char* flags, int minDigits = 1, int size = 64) {
  std::vector<char> buf(size + 1);
  int pos = 0;
  if (wide) {
    FormatHex64(buf.data(), &pos, v, size, Format(width, flags, minDigits));
  } else {
    FormatHex32(buf.data(), &pos, static_cast<uint32_t>(v), size, Format(width, flags, minDigits));
  }
  return std::string(buf.data(), pos);
}

std::string Oct(uint64_t v, bool wide, int width, const char* flags, int minDigits = 1, int size = 64) {
  std::vector<char> buf(size + 1);
  int pos = 0;
  if (wide) {
    FormatOctal64(buf.data(), &pos, v, size, Format(width, flags, minDigits));
  } else {
    FormatOctal32(buf.data(), &pos, static_cast<uint32_t>(v), size, Format(width, flags, minDigits));
  }
  return std::string(buf.data(), pos);
}

std::string Bin(uint64_t v, int width, const char* flags, int minDigits = 1, int size = 80) {
  std::vector<char> buf(size + 1);
  int pos = 0;
  FormatBinary64(buf.data(), &pos, v, size, Format(width, flags, minDigits));
  return std::string(buf.data(), pos);
}

TEST(FormatIntegers, Decimal) {
  EXPECT_EQ(Dec32(0, false, 0, ""), "0");
  EXPECT_EQ(Dec32(0, false, 0, "", 0), "");  // minimum 0: the value 0 has no digits
  EXPECT_EQ(Dec32(-42, false, 0, ""), "-42");
  EXPECT_EQ(Dec32(42, false, 0, "+"), "+42");
  EXPECT_EQ(Dec32(42, false, 0, " "), " 42");
  EXPECT_EQ(Dec32(-42, false, 0, "+ "), "-42");
  EXPECT_EQ(Dec32(42, false, 6, ""), "    42");
  EXPECT_EQ(Dec32(42, false, 6, "-"), "42    ");
  EXPECT_EQ(Dec32(42, false, 0, "", 5), "00042");
  EXPECT_EQ(Dec32(-42, false, 8, "", 5), "  -00042");
  EXPECT_EQ(Dec32(12345, false, 3, ""), "12345");
  EXPECT_EQ(Dec32(INT32_MIN, false, 0, ""), "-2147483648");
  EXPECT_EQ(Dec32(INT32_MAX, false, 0, ""), "2147483647");
  EXPECT_EQ(Dec32(-1, true, 0, ""), "4294967295");
  EXPECT_EQ(Dec64(INT64_MIN, false, 0, ""), "-9223372036854775808");
  EXPECT_EQ(Dec64(INT64_MAX, false, 0, "+"), "+9223372036854775807");
  EXPECT_EQ(Dec64(-1, true, 0, ""), "18446744073709551615");
  EXPECT_EQ(Dec64(-7, false, 4, "-"), "-7  ");
}

TEST(FormatIntegers, HexOctalBinary) {
  EXPECT_EQ(Hex(255, false, 6, "#"), "  0xff");
  EXPECT_EQ(Hex(255, false, 6, "#U"), "  0xFF");  // the prefix stays lowercase
  EXPECT_EQ(Hex(255, false, 6, "#-"), "0xff  ");
  EXPECT_EQ(Hex(255, false, 0, "#", 4), "0x00ff");
  EXPECT_EQ(Hex(0, false, 0, "#"), "0");
  EXPECT_EQ(Hex(0xDEADBEEF, false, 0, ""), "deadbeef");
  EXPECT_EQ(Hex(0xDEADBEEFCAFEBABEull, true, 0, "U"), "DEADBEEFCAFEBABE");
  EXPECT_EQ(Hex(0x1DEADBEEFull, false, 0, ""), "deadbeef");  // the 32-bit form sees the low word

  EXPECT_EQ(Oct(8, false, 0, "#"), "010");
  EXPECT_EQ(Oct(5, false, 0, "#"), "05");
  EXPECT_EQ(Oct(8, false, 0, "#", 4), "0010");
  EXPECT_EQ(Oct(8, false, 0, "", 4), "0010");
  EXPECT_EQ(Oct(0, false, 0, "#"), "0");
  EXPECT_EQ(Oct(8, false, 5, "#"), "  010");  // the width counts the added 0
  EXPECT_EQ(Oct(8, false, 5, "#-"), "010  ");
  EXPECT_EQ(Oct(0x80000000u, false, 0, ""), "20000000000");
  EXPECT_EQ(Oct(UINT64_MAX, true, 0, "#"), "01777777777777777777777");

  EXPECT_EQ(Bin(5, 0, "#"), "0b101");
  EXPECT_EQ(Bin(0, 0, "#"), "0");
  EXPECT_EQ(Bin(5, 0, "", 8), "00000101");
  EXPECT_EQ(Bin(5, 7, "#"), "  0b101");
  EXPECT_EQ(Bin(UINT64_MAX, 0, ""), std::string(64, '1'));
}

// Every formatter, at every buffer size, stays inside the buffer, leaves room
// for the NUL and, for the integers, writes a prefix of the full text.
TEST(FormatBounds, NothingWritesPastTheSize) {
  using Writer = void (*)(char*, int*, int);
  struct Named {
    const char* name;
    Writer write;
    bool prefixOfFullText;
  };
  const Named kWriters[] = {
      {"dec32", [](char* b, int* p, int s) { FormatDecimal32(b, p, INT32_MIN, s, {.width = 15, .plus = true}); }, true},
      {"dec64",
       [](char* b, int* p, int s) { FormatDecimal64(b, p, INT64_MIN, s, {.minDigits = 25, .leftJustify = true}); },
       true},
      {"hex64",
       [](char* b, int* p, int s) {
         FormatHex64(b, p, UINT64_MAX, s, {.width = 20, .alternate = true, .uppercase = true});
       },
       true},
      {"oct64",
       [](char* b, int* p, int s) { FormatOctal64(b, p, UINT64_MAX, s, {.leftJustify = true, .alternate = true}); },
       true},
      {"bin64", [](char* b, int* p, int s) { FormatBinary64(b, p, UINT64_MAX, s, {.width = 70, .alternate = true}); },
       true},
      {"double f", [](char* b, int* p, int s) { FormatDouble(b, p, -123456.789, 30, 'f', s); }, false},
      {"double e width",
       [](char* b, int* p, int s) { FormatDouble(b, p, -1.5e-300, 3, 'e', s, {.width = 12, .zeroPad = true}); }, false},
      {"double k left",
       [](char* b, int* p, int s) {
         FormatDouble(b, p, 1.5e-5, 6, 'k', s, {.width = 12, .leftJustify = true, .plus = true});
       },
       false},
      {"double inf",
       [](char* b, int* p, int s) { FormatDouble(b, p, -HUGE_VAL, 3, 'g', s, {.width = 9, .uppercase = true}); },
       false},
      // Widths and precisions come from user format strings: extremes must
      // neither overflow nor run for long.
      {"double extremes",
       [](char* b, int* p, int s) {
         FormatDouble(b, p, 1.0 / 3, INT_MAX, 'f', s, {.width = INT_MAX, .zeroPad = true});
         FormatDouble(b, p, 1.0 / 3, INT_MAX, 'g', s, {.width = INT_MIN, .leftJustify = true});
         FormatDouble(b, p, 5e-324, INT_MAX, 'k', s, {.width = INT_MAX, .leftJustify = true});
       },
       false},
      {"integer extremes",
       [](char* b, int* p, int s) {
         FormatDecimal64(b, p, 7, s, {.width = INT_MAX, .minDigits = INT_MAX});
         FormatHex32(b, p, 7, s, {.width = INT_MIN, .minDigits = INT_MIN, .leftJustify = true, .alternate = true});
       },
       false},
      {"complex extremes",
       [](char* b, int* p, int s) {
         FormatComplex(b, p, 1, 2, INT_MAX, 'e', s, {.width = INT_MIN});
         FormatComplex(b, p, 1, 0, 3, 'e', s, {.width = INT_MAX, .leftJustify = true});
       },
       false},
      {"complex",
       [](char* b, int* p, int s) {
         FormatComplex(b, p, -1.25, 3.5e7, 4, 'g', s,
                       {.width = 21, .plus = true, .alternate = true, .unitLetter = 'j'});
       },
       false},
  };
  for (const Named& w : kWriters) {
    char full[256];
    int fullLength = 0;
    w.write(full, &fullLength, sizeof full);
    for (int size = 0; size < fullLength + 4; ++size) {
      std::vector<char> buf(size + 8, '#');
      int pos = 0;
      w.write(buf.data(), &pos, size);
      for (int i = size; i < size + 8; ++i) ASSERT_EQ(buf[i], '#') << w.name << " size " << size;
      if (size > 0) {
        EXPECT_LT(pos, size) << w.name;
      }
      if (w.prefixOfFullText) {
        EXPECT_EQ(std::string(buf.data(), pos), std::string(full, pos)) << w.name << " " << size;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// ParseRealNumber

TEST(ParseRealNumber, ValuesAndEndPositions) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* text;
    double want;
    int end;
  };
  const Case kCases[] = {
      {"0.3", 0.3, 3},
      {"  -1.5e2x", -150, 8},
      {"+.5", 0.5, 3},
      {".", 0, 1},
      {"5.", 5, 2},
      {"5.e3", 5000, 4},
      {"\t7", 7, 2},
      {"1e", 1, 2},   // e without digits counts as e0
      {"1e+", 1, 3},  // ... and still ends the number
      {"2E-2", 0.02, 4},
      {"1.5 2", 1.5, 3},
      {"0.1e1", 1, 5},
      {".e5", 0, 3},
      {"0e999999999999", 0, 14},
      {"1.7976931348623157e308", DBL_MAX, 22},
      {"2.2250738585072011e-308", 2.2250738585072011e-308, 23},
      {"4.9e-324", 4.9406564584124654e-324, 8},
      {"2e-324", 0, 6},  // below half the smallest subnormal
      {"1e400", inf, 5},
      {"-1e400", -inf, 6},
      {"1e-400", 0, 6},
      {"1e99999999999999999999", inf, 22},
      {"1e-99999999999999999999", 0, 23},
      {"0.000000000000000000001e330", inf, 27},  // leading zeros count for the decade
      {"0.000001e-320", 0, 13},
      {"123456789012345678901234567890", 1.2345678901234568e29, 30},
      {"9007199254740993", 9007199254740992.0, 16},  // ties to even
      {"0.1000000000000000055511151231257827", 0.1, 36},
  };
  for (const Case& c : kCases) {
    double v = -99;
    int pos = 0;
    ASSERT_TRUE(ParseRealNumber(c.text, -1, &pos, &v)) << c.text;
    EXPECT_EQ(v, c.want) << c.text;
    EXPECT_EQ(pos, c.end) << c.text;
  }
  double neg = 1;
  int pos = 0;
  ASSERT_TRUE(ParseRealNumber("-.", -1, &pos, &neg));
  EXPECT_TRUE(neg == 0 && std::signbit(neg));
}

TEST(ParseRealNumber, RejectsWhatIsNotANumber) {
  struct Case {
    const char* text;
    int end;  // after the blanks and the sign
  };
  const Case kCases[] = {{"e5", 0}, {"", 0}, {"   ", 3}, {" -", 2}, {"--1", 1}, {"+-1", 1}, {"abc", 0}, {" inf", 1}};
  for (const Case& c : kCases) {
    double v = -99;
    int pos = 0;
    EXPECT_FALSE(ParseRealNumber(c.text, -1, &pos, &v)) << c.text;
    EXPECT_EQ(pos, c.end) << c.text;
    EXPECT_EQ(v, -99) << c.text;
  }
}

TEST(ParseRealNumber, CountedTextsAndStartPositions) {
  double v = 0;
  int pos = 0;
  // The length ends the number even where the text goes on.
  ASSERT_TRUE(ParseRealNumber("12345", 3, &pos, &v));
  EXPECT_EQ(v, 123);
  EXPECT_EQ(pos, 3);
  pos = 0;
  ASSERT_TRUE(ParseRealNumber("1e55", 2, &pos, &v));
  EXPECT_EQ(v, 1);
  EXPECT_EQ(pos, 2);

  const char list[] = "3.5, 42";
  pos = 4;
  ASSERT_TRUE(ParseRealNumber(list, sizeof list - 1, &pos, &v));
  EXPECT_EQ(v, 42);
  EXPECT_EQ(pos, 7);

  // A null position reads from the start.
  ASSERT_TRUE(ParseRealNumber("0.3", 3, nullptr, &v));
  EXPECT_EQ(v, 0.3);
}

TEST(ParseRealNumber, ShortestTextsRoundTripExactly) {
  std::mt19937_64 gen(3);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = gen();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, x);
    const int length = static_cast<int>(r.ptr - text);
    double back = 0;
    int pos = 0;
    ASSERT_TRUE(ParseRealNumber(text, length, &pos, &back)) << std::string(text, length);
    EXPECT_EQ(pos, length);
    EXPECT_EQ(std::memcmp(&back, &x, sizeof x), 0) << std::string(text, length);
  }
  // Fixed-point decimals of two digits, the common case in scripts.
  for (int k = 0; k < 10000; ++k) {
    const std::string text = std::to_string(k / 100) + "." + std::to_string(k % 100 / 10) + std::to_string(k % 10);
    double back = 0;
    ASSERT_TRUE(ParseRealNumber(text.c_str(), -1, nullptr, &back));
    double want = 0;
    std::from_chars(text.data(), text.data() + text.size(), want);
    EXPECT_EQ(back, want) << text;
  }
}

// ---------------------------------------------------------------------------
// UTF-8

TEST(Utf8, EveryCharacterRoundTrips) {
  for (uint32_t c = 0; c <= 0xFFFF; ++c) {
    char buf[3];
    int pos = 0;
    ASSERT_TRUE(AppendUtf8Char(buf, &pos, static_cast<uint16_t>(c), 3));
    ASSERT_EQ(pos, c < 0x80 ? 1 : c < 0x800 ? 2 : 3);
    int at = 0;
    uint16_t back = 0;
    ASSERT_TRUE(DecodeUtf8Char(buf, pos, &at, &back)) << c;
    EXPECT_EQ(back, c);
    EXPECT_EQ(at, pos);
  }
}

TEST(Utf8, InvalidBytesAreSkippedOneAtATime) {
  struct Case {
    const char* bytes;
    int length;
    int calls;  // decodes until the end, each answering false and advancing one
  };
  const Case kCases[] = {
      {"\xF0\x9F", 2, 2},  // a four-byte lead and a lone continuation
      {"\xE2\x82", 2, 2},  // truncated three-byte sequence
      {"\xC3", 1, 1},      // truncated two-byte sequence
      {"\xC3\x41", 2, 1},  // not a continuation: the A decodes next
      {"\xFF", 1, 1},
  };
  for (const Case& c : kCases) {
    int pos = 0;
    for (int i = 0; i < c.calls; ++i) {
      uint16_t ch = 0xBEEF;
      EXPECT_FALSE(DecodeUtf8Char(c.bytes, c.length, &pos, &ch)) << i;
      EXPECT_EQ(pos, i + 1);
      EXPECT_EQ(ch, 0xBEEF);
    }
  }
  int pos = 1;
  uint16_t ch = 0;
  ASSERT_TRUE(DecodeUtf8Char("\xC3\x41", 2, &pos, &ch));
  EXPECT_EQ(ch, 'A');

  // At the end of the text there is nothing to skip.
  pos = 2;
  EXPECT_FALSE(DecodeUtf8Char("ab", 2, &pos, &ch));
  EXPECT_EQ(pos, 2);
}

TEST(Utf8, AppendNeedsThreeBytesOfRoom) {
  char buf[8];
  int pos = 5;
  EXPECT_TRUE(AppendUtf8Char(buf, &pos, 'a', 8));  // 5 + 3 does not pass 8
  EXPECT_EQ(pos, 6);
  EXPECT_FALSE(AppendUtf8Char(buf, &pos, 'b', 8));
  EXPECT_EQ(pos, 6);
  int at = 0;
  uint16_t ch = 0;
  pos = 0;
  ASSERT_TRUE(AppendUtf8Char(buf, &pos, 0x20AC, 8));
  ASSERT_TRUE(DecodeUtf8Char(buf, pos, &at, &ch));
  EXPECT_EQ(std::string(buf, pos), "\xE2\x82\xAC");
  EXPECT_EQ(ch, 0x20AC);
}

// ---------------------------------------------------------------------------
// Text helpers

TEST(TextHelpers, AppendsStopOneBeforeTheSize) {
  char buf[8];
  int pos = 0;
  EXPECT_EQ(AppendRepeatedChar(buf, &pos, 'x', 10, 8), 7);
  EXPECT_EQ(pos, 7);

  pos = 0;
  EXPECT_EQ(AppendText(buf, &pos, "abc", 8), 0);  // all copied
  EXPECT_EQ(AppendText(buf, &pos, "defgh", 8), 'h');
  EXPECT_EQ(std::string(buf, pos), "abcdefg");

  pos = 0;
  EXPECT_EQ(AppendChars(buf, &pos, "a\0b", 3, 8), 3);  // counted texts keep their NULs
  EXPECT_EQ(std::string(buf, pos), std::string("a\0b", 3));
  EXPECT_EQ(AppendChars(buf, &pos, "12345678", 8, 8), 4);
  EXPECT_EQ(AppendChars(buf, &pos, "z", 1, 8), 0);

  uint16_t wide[4];
  pos = 1;
  EXPECT_EQ(AppendRepeatedWideChar(wide, &pos, 0x263A, 5, 4), 2);
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(wide[2], 0x263A);
}

TEST(TextHelpers, CopyTextBounded) {
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  CopyTextBounded(buf, 8, "abc", -1);
  EXPECT_STREQ(buf, "abc");

  std::memset(buf, '#', sizeof buf);
  CopyTextBounded(buf, 4, "abcdef", -1);  // exactly the size: no room for a NUL
  EXPECT_EQ(std::string(buf, 5), "abcd#");

  std::memset(buf, '#', sizeof buf);
  CopyTextBounded(buf, 8, "ab\0cd", 5);
  EXPECT_EQ(std::string(buf, 7), std::string("ab\0cd\0#", 7));

  // Overlapping areas in both directions.
  char s[16] = "0123456789";
  CopyTextBounded(s + 2, 14, s, 6);
  EXPECT_STREQ(s, "01012345");
  char t[16] = "0123456789";
  CopyTextBounded(t, 16, t + 3, -1);
  EXPECT_STREQ(t, "3456789");
}

TEST(TextHelpers, EqualsLengthAndSearch) {
  struct Eq {
    const char* a;
    int la;
    const char* b;
    int lb;
    bool ignoreCase;
    bool want;
  };
  const Eq kEquals[] = {
      {"abc", -1, "abc", -1, false, true},      {"abc", -1, "abd", -1, false, false},
      {"abc", -1, "ab", -1, false, false},      {"abc", 3, "abcd", 3, false, true},
      {"abc", 3, "abc", 2, false, false},       {"abc", -1, "abcdef", 3, false, true},
      {"ab", -1, "ab\0", 3, false, false},      {"Hello", -1, "hELLO", -1, true, true},
      {"Hello", -1, "hELLO", -1, false, false}, {"\xC4", -1, "\xE4", -1, true, false},  // only A-Z fold
      {"[", -1, "{", -1, true, false},          {"", -1, "", 0, false, true},
  };
  for (const Eq& c : kEquals) {
    EXPECT_EQ(TextEquals(c.a, c.la, c.b, c.lb, c.ignoreCase), c.want) << c.a << " / " << c.b;
  }

  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength("hello"), 5);

  struct Find {
    const char* text;
    int length;
    const char* pattern;
    int patternLength;
    int want;
  };
  const Find kFinds[] = {
      {"hello world", -1, "world", -1, 6}, {"hello", -1, "", -1, 0},   {"", -1, "", -1, 0},
      {"hello", -1, "Hello", -1, -1},      {"aaab", -1, "aab", -1, 1}, {"abc", -1, "abcd", -1, -1},
      {"a\0bc", 4, "bc", -1, 2},           {"abcabc", 4, "bc", 2, 1},  {"abcdef", 4, "ef", -1, -1},
  };
  for (const Find& c : kFinds) {
    EXPECT_EQ(FindSubstring(c.text, c.length, c.pattern, c.patternLength), c.want) << c.text << " / " << c.pattern;
  }
}

}  // namespace
