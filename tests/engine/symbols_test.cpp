// Interning names in the symbol area at the end of the code area.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/context.h"
#include "tests/engine/stack_fixture.h"

namespace {

class Symbols : public StackFixture {
 protected:
  Symbols() : StackFixture({.blockCells = 8 * 1024}) {}

  [[nodiscard]] StatusCode Intern(const std::string& name, SymbolId* id, int max = 32) {
    return InternSymbol(ctx, name.data(), static_cast<int>(name.size()), max, id);
  }
  std::string Text(SymbolId id) { return std::string(SymbolText(ctx, id), SymbolLength(ctx, id)); }
};

TEST_F(Symbols, IdsAreOffsetsFromTheAreaEnd) {
  SymbolId a = 0, again = 0, b = 0;
  ASSERT_EQ(Intern("x", &a), kOk);
  EXPECT_EQ(a, -2);
  ASSERT_EQ(Intern("x", &again), kOk);
  EXPECT_EQ(again, -2);
  EXPECT_EQ(ctx->symbolBytes, -2) << "a known name does not grow the area";
  ASSERT_EQ(Intern("abc", &b), kOk);
  EXPECT_EQ(b, -6);
  EXPECT_EQ(Text(a), "x");
  EXPECT_EQ(Text(b), "abc");
  EXPECT_EQ(FindSymbol(ctx, "abc", 3), -6);
  EXPECT_EQ(FindSymbol(ctx, "ab", 2), 0);
}

TEST_F(Symbols, LetterCaseMatters) {
  SymbolId lower = 0, upper = 0;
  ASSERT_EQ(Intern("name", &lower), kOk);
  ASSERT_EQ(Intern("Name", &upper), kOk);
  EXPECT_NE(lower, upper);
}

TEST_F(Symbols, RefusedNamesChangeNothing) {
  SymbolId id = 123;
  EXPECT_EQ(Intern("", &id), kNullName);
  EXPECT_EQ(Intern(std::string(33, 'f'), &id), kNameTooLong);
  EXPECT_EQ(Intern(std::string(32, 'f'), &id), kOk);
  EXPECT_EQ(Intern(std::string(100, 'e'), &id, 127), kOk);
  EXPECT_EQ(Intern(std::string(300, 'e'), &id, 1000), kNameTooLong) << "the length byte holds 255 at most";
  SymbolId before = ctx->symbolBytes;
  EXPECT_EQ(Intern("", &id), kNullName);
  EXPECT_EQ(ctx->symbolBytes, before);
}

TEST_F(Symbols, FullCodeAreaGivesCodeOverflow) {
  // Leave room for exactly one more short name, then ask for two.
  ctx->codeTop = ctx->codeSize - 4;  // free: codeSize - top - 1 = 3 words = 6 bytes
  SymbolId id = 0;
  ASSERT_EQ(Intern("abcde", &id), kOk);  // 6 bytes
  const int32_t before = ctx->symbolBytes;
  EXPECT_EQ(Intern("f", &id), kCodeOverflow);
  EXPECT_EQ(ctx->symbolBytes, before);
  EXPECT_EQ(Intern("abcde", &id), kOk) << "a known name needs no room";
}

TEST_F(Symbols, AreaLimitGivesSymbolTableTooLarge) {
  block.assign(64 * 1024, 0);
  Reset();
  ASSERT_GT(FreeCodeWords(ctx) * 2, 40000);
  StatusCode st = kOk;
  int n = 0;
  for (; st == kOk; ++n) {
    char name[40];
    const int len = std::snprintf(name, sizeof name, "name_%05d_padding_to_32_chars", n);  // 32 characters
    st = InternSymbol(ctx, name, len, 32, nullptr);
  }
  EXPECT_EQ(st, kSymbTableTooLarge);
  EXPECT_LE(-ctx->symbolBytes, 32767);
  EXPECT_GT(-ctx->symbolBytes + 32 + 2, 32767);
}

}  // namespace
