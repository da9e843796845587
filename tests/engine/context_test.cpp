// Laying out a fresh engine: the partition of a block into regions, the
// smallest block, and the header a new context starts from.
#include "engine/context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

TEST(Context, FreshHeader) {
  Block block(256 * 1024);
  EngineContext* ctx = nullptr;
  std::memset(block.data(), 0xA5, block.bytes);  // nothing may depend on a zeroed block
  ASSERT_EQ(InitEngineContext(block.data(), block.bytes, &ctx), kOk);

  EXPECT_EQ(ctx->descLength, 0);
  EXPECT_EQ(ctx->dataTop, 0);
  EXPECT_EQ(ctx->frameIndex, -1);
  EXPECT_EQ(ctx->entriesInUse, 1);
  EXPECT_EQ(ctx->codeTop, 8 * ctx->entryCapacity);
  EXPECT_EQ(ctx->symbolBytes, 0);
  EXPECT_EQ(ctx->compileOutput, 0);
  for (int w = 0; w < 8; ++w) EXPECT_EQ(ctx->codeBase[w], 0) << "entry 0 word " << w;

  // One free heap block covers the heap.
  EXPECT_EQ(ctx->heapBase[0].w[0], static_cast<uint32_t>(ctx->heapSize - 1));
  EXPECT_EQ(ctx->heapFirstFree, 0);

  EXPECT_EQ(ctx->libraries, nullptr);
  EXPECT_EQ(ctx->libraryCount, 0);
  EXPECT_EQ(ctx->namedItems, nullptr);
  EXPECT_EQ(ctx->pendingCount, 0);
  EXPECT_EQ(ctx->currentThread, 0);
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->nextThreadId, 1);
  EXPECT_EQ(ctx->timeSlice, 0.05);
  EXPECT_EQ(ctx->semaphoreTable, -1);
  EXPECT_EQ(ctx->uniformRandom.a, 0u);
  EXPECT_EQ(ctx->uniformRandom.b, 1u);
  EXPECT_EQ(ctx->normalRandom.b, 1u);
  EXPECT_EQ(ctx->pc.space, kNoCode);
  EXPECT_EQ(ctx->running, 0);
  EXPECT_EQ(ctx->errorCode, 0);
  EXPECT_EQ(ctx->errorFunction, -1);
  EXPECT_EQ(ctx->errorPosition, -1);
  EXPECT_EQ(ctx->failingName[0], 0);
  EXPECT_EQ(ctx->lastErrorRecord, -1);
  EXPECT_EQ(ctx->currentErrorRecord, -1);
  EXPECT_EQ(ctx->optimisationLevel, 1);
  EXPECT_EQ(ctx->lineInfo, 0);
  EXPECT_EQ(ctx->display.digits, 4);
  EXPECT_EQ(ctx->display.format, 'g');
  EXPECT_EQ(ctx->display.imagUnit, 'j');
  EXPECT_EQ(ctx->display.hostWords[0], 24);
  EXPECT_EQ(ctx->display.hostWords[1], -1);
  EXPECT_EQ(ctx->nextDescriptor, 1024);
  EXPECT_EQ(ctx->redirect[0], 1);
  EXPECT_EQ(ctx->redirect[1], 2);
  EXPECT_EQ(ctx->memoryBuffer, nullptr);
  EXPECT_EQ(ctx->crPendingCount, 0);
  EXPECT_STREQ(ctx->librarySuffix, "rvl");
  EXPECT_STREQ(ctx->helpSuffix, "hlp");
  EXPECT_EQ(ctx->breakpointList, -1);
  EXPECT_EQ(ctx->profilerFunction, -1);
  EXPECT_EQ(ctx->echo, -1);
  EXPECT_EQ(ctx->breakPending, 0);
  EXPECT_EQ(ctx->breakEntersDebugger, 0);
}

TEST(Context, ServiceSlotZeroGivesTheVersion) {
  Block block(64 * 1024);
  EngineContext* ctx = nullptr;
  ASSERT_EQ(InitEngineContext(block.data(), block.bytes, &ctx), kOk);
  auto version = GetServiceTable(ctx)->GetEngineVersionText;
  ASSERT_NE(version, nullptr);
  EXPECT_STREQ(version(), "RVO 5.1");
}

}  // namespace
