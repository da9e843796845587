// Laying out a fresh engine: the partition of a block into regions, the
// smallest block, and a fresh engine in a block of stale bytes.
#include "engine/context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/engine/stack_fixture.h"

namespace {

// A block the engine may use, 8-byte aligned like any host allocation.
struct Block {
  explicit Block(size_t n) : bytes(n), cells((n + 7) / 8) {}
  void* data() { return cells.data(); }
  size_t bytes;
  std::vector<uint64_t> cells;
};

TEST(Partition, RegionSizesFollowTheProportions) {
  struct Case {
    int64_t regionBytes;
    RegionSizes want;
    int64_t leftover;
  };
  const Case kCases[] = {
      {6144, {96, 288, 192, 1152, 9}, 0},  // entry capacity from C/128: C/256 is below 100
      {64344, {1000, 3016, 2008, 12088, 94}, 8},
      {1 << 20, {16384, 49152, 32768, 196608, 768}, 0},  // C/256 is at least 100
  };
  for (const Case& c : kCases) {
    const RegionSizes s = PartitionRegions(c.regionBytes);
    EXPECT_EQ(s.dataCells, c.want.dataCells) << c.regionBytes;
    EXPECT_EQ(s.heapCells, c.want.heapCells) << c.regionBytes;
    EXPECT_EQ(s.descWords, c.want.descWords) << c.regionBytes;
    EXPECT_EQ(s.codeWords, c.want.codeWords) << c.regionBytes;
    EXPECT_EQ(s.entryCapacity, c.want.entryCapacity) << c.regionBytes;
    const int64_t used = 8 * s.dataCells + 8 * s.heapCells + 4 * s.descWords + 2 * s.codeWords;
    EXPECT_EQ(c.regionBytes - used, c.leftover) << c.regionBytes;
  }
}

TEST(Partition, InitCarvesTheRegionsInAddressOrder) {
  Block block(kContextHeaderBytes + 64344);
  EngineContext* ctx = nullptr;
  ASSERT_EQ(InitEngineContext(block.data(), block.bytes, &ctx), kOk);
  auto* base = static_cast<uint8_t*>(block.data());
  EXPECT_EQ(reinterpret_cast<uint8_t*>(ctx->dataBase), base + kContextHeaderBytes);
  EXPECT_EQ(ctx->heapBase, ctx->dataBase + 1000);
  EXPECT_EQ(reinterpret_cast<Cell*>(ctx->descBase), ctx->heapBase + 3016);
  EXPECT_EQ(reinterpret_cast<int32_t*>(ctx->codeBase), ctx->descBase + 2008);
  EXPECT_EQ(ctx->dataCapacity, 1000);
  EXPECT_EQ(ctx->heapSize, 3016);
  EXPECT_EQ(ctx->descCapacity, 2008);
  EXPECT_EQ(ctx->codeSize, 12088);
  EXPECT_EQ(ctx->entryCapacity, 94);
  // The code area ends 8 bytes before the block does.
  EXPECT_EQ(reinterpret_cast<uint8_t*>(ctx->codeBase + ctx->codeSize) + 8, base + block.bytes);
}

TEST(Partition, SmallestBlock) {
  for (size_t bytes : {kMinEngineBlockBytes - 1, kMinEngineBlockBytes}) {
    Block block(bytes);
    std::memset(block.data(), 0xA5, block.bytes);
    EngineContext* ctx = nullptr;
    const StatusCode st = InitEngineContext(block.data(), bytes, &ctx);
    EXPECT_EQ(ctx, block.data());
    if (bytes < kMinEngineBlockBytes) {
      EXPECT_EQ(st, kInitError);
      // A refused block is left as it was.
      const auto* p = static_cast<const uint8_t*>(block.data());
      EXPECT_TRUE(std::all_of(p, p + bytes, [](uint8_t b) { return b == 0xA5; }));
    } else {
      EXPECT_EQ(st, kOk);
    }
  }
}

TEST(Partition, MisalignedBlockIsRefused) {
  Block block(64 * 1024);
  EngineContext* ctx = nullptr;
  void* odd = static_cast<uint8_t*>(block.data()) + 4;
  EXPECT_EQ(InitEngineContext(odd, block.bytes - 8, &ctx), kInitError);
  EXPECT_EQ(InitEngineContext(nullptr, block.bytes, &ctx), kInitError);
}

// Nothing in a fresh engine may depend on a zeroed block.
class FreshEngine : public StackFixture {
 protected:
  FreshEngine() : StackFixture({.messages = true}) {}

  void SetUp() override {
    std::fill(block.begin(), block.end(), 0xA5A5A5A5A5A5A5A5ull);
    Reset();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }
};

TEST_F(FreshEngine, RunsACommandInABlockOfStaleBytes) {
  ASSERT_EQ(Command("x = 1"), kOk) << CurrentErrorText();
  EXPECT_EQ(BaseScalar("x"), 1);
}

TEST(Context, ServiceTableGivesTheVersion) {
  Block block(64 * 1024);
  EngineContext* ctx = nullptr;
  ASSERT_EQ(InitEngineContext(block.data(), block.bytes, &ctx), kOk);
  auto version = GetServiceTable(ctx)->GetEngineVersionText;
  ASSERT_NE(version, nullptr);
  EXPECT_STREQ(version(), "RVO 5.1");
}

}  // namespace
