#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "graphics/graphics.h"

namespace {

constexpr uint8_t kGrey[3] = {10, 20, 30};

struct PickCase {
  const char* text;
  int32_t curve;
  int32_t defaultWord;
  StatusCode status;
  int32_t word;
  uint8_t red, green, blue;
};

void ExpectPick(const PickCase& c) {
  PlotStyle s{};
  StatusCode st = PickPlotStyle(c.text, static_cast<int32_t>(std::strlen(c.text)), c.curve, c.defaultWord, kGrey, &s);
  ASSERT_EQ(st, c.status) << '"' << c.text << "\" curve " << c.curve;
  if (st != kOk) return;
  EXPECT_EQ(s.word, c.word) << '"' << c.text << "\" curve " << c.curve;
  EXPECT_EQ(s.red, c.red) << c.text;
  EXPECT_EQ(s.green, c.green) << c.text;
  EXPECT_EQ(s.blue, c.blue) << c.text;
}

TEST(PlotStyle, PicksTheStyleOfEachCurve) {
  const PickCase kCases[] = {
      // An empty string leaves the defaults, even a default colour index.
      {"", 0, 8, kOk, 8, 10, 20, 30},
      {"", 3, 4, kOk, 4, 10, 20, 30},
      {"r", 5, 8, kOk, 4, 255, 0, 0},
      {"b,r:,g*", 0, 8, kOk, 1, 0, 0, 255},
      {"b,r:,g*", 1, 8, kOk, 0x84, 255, 0, 0},
      {"b,r:,g*", 2, 8, kOk, 0x282, 0, 255, 0},
      {"b,r:,g*", 3, 8, kOk, 1, 0, 0, 255},
      {"b,r:,g*", 4, 8, kOk, 0x84, 255, 0, 0},
      {"b,r:,g*", 5, 8, kOk, 0x282, 0, 255, 0},
      {"h(f80)", 0, 8, kOk, 0, 255, 136, 0},
      {"h(ff8800)", 0, 8, kOk, 0, 255, 136, 0},
      {"h(F8a)", 0, 8, kOk, 0, 255, 136, 170},
      {"H(f80)", 0, 0x28, kOk, 0x10, 255, 136, 0},
      {"H(0080fF)", 0, 8, kOk, 0x10, 0, 128, 255},
      {"h(f80)-", 0, 8, kOk, 0x40, 255, 136, 0},
      {"-h(f80)", 0, 8, kOk, 0x40, 255, 136, 0},
      {"h(f80)r", 1, 8, kOk, 4, 255, 0, 0},
      // Upper case: thick, fill cleared; "K" keeps the default colour, "k" is black.
      {"R", 0, 0x28, kOk, 0x14, 255, 0, 0},
      {"K", 0, 0x28, kOk, 0x10, 10, 20, 30},
      {"k", 0, 0x28, kOk, 0x20, 0, 0, 0},
      // A line character keeps the colour index and thickness, drops the figure default.
      {"-", 0, 8, kOk, 0x40, 10, 20, 30},
      {"-", 0, 0x1D, kOk, 0x55, 255, 0, 255},
      {"rf", 0, 8, kOk, 0x24, 255, 0, 0},
      {"fs", 0, 8, kOk, 0x20, 10, 20, 30},
      {"fs", 1, 8, kOk, 0x800, 10, 20, 30},
      {"r,q", 0, 8, kOk, 4, 255, 0, 0},
      {"r,q", 1, 8, kUnknownOpt, 0, 0, 0, 0},
      {"r,", 7, 8, kOk, 4, 255, 0, 0},
      {",r", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"h(ff88)", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"h(12g)", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"h", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"h(f80", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"rh(f8", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"Hf80)", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      // The counting pass checks a hexadecimal colour in any style.
      {"r,h(zz)", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"r,h(ff8800", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"q", 0, 8, kUnknownOpt, 0, 0, 0, 0},
      {"r-q", 0, 8, kOk, 0x44, 255, 0, 0},
      {"r-q", 1, 8, kUnknownOpt, 0, 0, 0, 0},
      {"-7", 0, 8, kOk, 0x40, 10, 20, 30},
      {"-7", 1, 8, kUnknownOpt, 0, 0, 0, 0},
  };
  for (const PickCase& c : kCases) ExpectPick(c);
}

TEST(PlotStyle, EachCharacterWritesItsBitsThroughItsMask) {
  // All bits set beforehand, so the mask shows in what survives.
  constexpr int32_t kAll = -1;
  struct Case {
    char c;
    int32_t word;
  };
  const Case kCases[] = {
      {'k', 0xFBF0},       {'b', 0xFBF1},       {'g', 0xFBF2},       {'c', 0xFBF3},        {'r', 0xFBF4},
      {'m', 0xFBF5},       {'y', 0xFBF6},       {'w', 0xFBF7},       {'K', 0xFBD0},        {'B', 0xFBD1},
      {'G', 0xFBD2},       {'C', 0xFBD3},       {'R', 0xFBD4},       {'M', 0xFBD5},        {'Y', 0xFBD6},
      {'W', 0xFBD7},       {'_', 0x17},         {'-', 0x17 | 0x40},  {':', 0x17 | 0x80},   {'!', 0x17 | 0xC0},
      {'n', 0x17 | 0x100}, {' ', 0x17 | 0x140}, {'.', 0x17 | 0x180}, {'o', 0x17 | 0x1C0},  {'x', 0x17 | 0x200},
      {'+', 0x17 | 0x240}, {'*', 0x17 | 0x280}, {'^', 0x17 | 0x2C0}, {'v', 0x17 | 0x300},  {'[', 0x17 | 0x340},
      {'<', 0x17 | 0x380}, {'f', 0x17 | 0x20},  {'s', 0x17 | 0x800}, {'a', 0x17 | 0x2000}, {'A', 0x17 | 0x3000},
  };
  for (const Case& c : kCases) {
    PlotStyle s{kAll, 1, 2, 3, 0};
    ASSERT_EQ(ParseStyleString(&c.c, 1, 0, nullptr, &s), kOk) << c.c;
    EXPECT_EQ(s.word, c.word) << '\'' << c.c << '\'';
  }
  for (char c : std::string("deijlpqtuzDEFIJ0129,;()")) {
    PlotStyle s{kAll, 1, 2, 3, 0};
    EXPECT_EQ(ParseStyleString(&c, 1, 0, nullptr, &s), kUnknownOpt) << '\'' << c << '\'';
  }
}

TEST(PlotStyle, DerivesTheColourOfEachIndex) {
  struct Case {
    const char* text;
    uint8_t red, green, blue;
  };
  const Case kCases[] = {{"b", 0, 0, 255},     {"g", 0, 255, 0},     {"c", 0, 255, 255},
                         {"r", 255, 0, 0},     {"m", 255, 0, 255},   {"y", 255, 255, 0},
                         {"w", 255, 255, 255}, {"W", 255, 255, 255}, {"k", 0, 0, 0}};
  for (const Case& c : kCases) {
    PlotStyle s{};
    ASSERT_EQ(PickPlotStyle(c.text, 1, 0, 8, kGrey, &s), kOk);
    EXPECT_EQ(PlotStyleColour(s), c.red * 65536 + c.green * 256 + c.blue) << c.text;
  }
  // The default colour is zero without one.
  PlotStyle s{};
  ASSERT_EQ(PickPlotStyle("-", 1, 0, 8, nullptr, &s), kOk);
  EXPECT_EQ(PlotStyleColour(s), 0);
}

TEST(PlotStyle, CountsStyles) {
  struct Case {
    const char* text;
    StatusCode status;
    int32_t count;
  };
  const Case kCases[] = {
      {"", kOk, 1},
      {"r", kOk, 1},
      {"r-g", kOk, 2},
      {"rg", kOk, 2},
      {"-r", kOk, 1},
      {"r--", kOk, 2},
      {"fs", kOk, 2},
      {"rf", kOk, 1},
      {"r,", kOk, 1},
      {"r,,g", kOk, 2},
      {",r", kUnknownOpt, 0},
      {"b,r:,g*", kOk, 3},
      {"h(f80)-r", kOk, 2},
      {"h(f80)h(ff8800)", kOk, 2},
      {"r,h(ff88)", kUnknownOpt, 0},
      {"qqq", kOk, 3},
      {"-r-r", kOk, 2},
      {"r, g", kOk, 2},
  };
  for (const Case& c : kCases) {
    int32_t count = -7;
    ASSERT_EQ(CountPlotStyles(c.text, static_cast<int32_t>(std::strlen(c.text)), &count), c.status) << c.text;
    if (c.status == kOk) {
      EXPECT_EQ(count, c.count) << '"' << c.text << '"';
    }
  }
}

TEST(PlotStyle, ApplyingStopsAtTheNextStyle) {
  // Only style 0 is read: a malformed colour after it goes unseen.
  PlotStyle s{8, 0, 0, 0, 0};
  ASSERT_EQ(ParseStyleString("r-,h(zz)", 8, 0, nullptr, &s), kOk);
  EXPECT_EQ(s.word, 0x44);
  // Characters outside the grammar in earlier styles are not looked up either.
  s = PlotStyle{8, 0, 0, 0, 0};
  ASSERT_EQ(ParseStyleString("q,g:", 4, 1, nullptr, &s), kOk);
  EXPECT_EQ(s.word, 0x82);
}

TEST(PlotStyle, StoredAsEightLittleEndianBytes) {
  uint8_t bytes[8] = {};
  StorePlotStyle(bytes, PlotStyle{0x12345, 0xAA, 0xBB, 0xCC, 0});
  const uint8_t want[8] = {0x45, 0x23, 0x01, 0x00, 0xAA, 0xBB, 0xCC, 0};
  EXPECT_EQ(std::memcmp(bytes, want, 8), 0);
  PlotStyle back = LoadPlotStyle(bytes);
  EXPECT_EQ(back.word, 0x12345);
  EXPECT_EQ(PlotStyleColour(back), 0xAABBCC);
}

}  // namespace
