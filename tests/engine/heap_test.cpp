// The variable heap: first-fit allocation with deferred merging, a full heap
// that changes nothing, moving the heap, links to globals and the
// reachability pass that keeps only globals and persistents.
#include "engine/heap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/context.h"
#include "engine/function.h"
#include "stack_fixture.h"

namespace {

// A fixed pseudo-random sequence, so that a failing step can be replayed.
class Sequence {
 public:
  explicit Sequence(uint32_t seed) : seed_(seed) {}
  uint32_t operator()(uint32_t n) {
    seed_ = seed_ * 1103515245u + 12345u;
    return (seed_ >> 16) % n;
  }

 private:
  uint32_t seed_;
};

class HeapTest : public StackFixture {
 protected:
  void FreeOneOf(std::vector<int32_t>& live, Sequence& next) {
    const size_t k = next(static_cast<uint32_t>(live.size()));
    FreeHeapBlock(ctx, live[k]);
    live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
  }

  uint32_t Header(int32_t cell) { return ctx->heapBase[cell].w[0]; }
  uint32_t Cells(int32_t cell) { return Header(cell) & kHeapCountMask; }
  bool InUse(int32_t cell) { return (Header(cell) & kHeapInUse) != 0; }

  int32_t Allocate(int32_t cells) {
    int32_t index = -7;
    EXPECT_EQ(AllocateHeapBlock(ctx, cells, &index), kOk) << cells;
    return index;
  }

  // Every block from cell 0 as {cells, in use}; they must tile the heap.
  std::vector<std::pair<uint32_t, bool>> Blocks() {
    std::vector<std::pair<uint32_t, bool>> out;
    int64_t at = 0;
    for (; at < ctx->heapSize; at += 1 + Cells(static_cast<int32_t>(at)))
      out.emplace_back(Cells(static_cast<int32_t>(at)), InUse(static_cast<int32_t>(at)));
    EXPECT_EQ(at, ctx->heapSize);
    return out;
  }

  std::vector<uint64_t> HeapCells() {
    std::vector<uint64_t> v(ctx->heapSize);
    std::memcpy(v.data(), ctx->heapBase, v.size() * sizeof(Cell));
    return v;
  }

  // Allocates as AllocateHeapBlock does from the first-free bound, and checks
  // that the status, index and every header are what a walk from cell 0 gives.
  StatusCode AllocateCheckedAgainstAWalk(int32_t cells, int32_t* index) {
    const auto before = HeapCells();
    const int32_t bound = ctx->heapFirstFree;
    ctx->heapFirstFree = 0;
    int32_t fromStart = 0;
    const StatusCode walked = AllocateHeapBlock(ctx, cells, &fromStart);
    const auto walkedHeap = HeapCells();
    std::memcpy(ctx->heapBase, before.data(), before.size() * sizeof(Cell));
    ctx->heapFirstFree = bound;
    const StatusCode st = AllocateHeapBlock(ctx, cells, index);
    EXPECT_EQ(st, walked);
    EXPECT_EQ(HeapCells(), walkedHeap);
    if (st == kOk) {
      EXPECT_EQ(*index, fromStart);
    }
    return st;
  }

  // Function-store entry i as a global or persistent variable whose value is that block.
  void DefineGlobalEntry(int32_t i, int32_t value) {
    auto* e = reinterpret_cast<FunctionStoreEntry*>(FunctionEntryWords(ctx, i));
    *e = {kEntryVariable, 0, value, -1};
    if (ctx->entriesInUse <= i) ctx->entriesInUse = i + 1;
  }
};

TEST_F(HeapTest, FreshHeapIsOneFreeBlock) {
  ASSERT_EQ(Blocks().size(), 1u);
  EXPECT_EQ(Cells(0), static_cast<uint32_t>(ctx->heapSize - 1));
  EXPECT_FALSE(InUse(0));
}

TEST_F(HeapTest, ZeroCellsTakeNoBlock) {
  const auto before = HeapCells();
  EXPECT_EQ(Allocate(0), 0);
  EXPECT_EQ(HeapCells(), before);
}

TEST_F(HeapTest, FirstFitSplitsTheBlockItTakes) {
  const int32_t a = Allocate(3);
  const int32_t b = Allocate(5);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 5);  // right after a's three cells and b's header
  EXPECT_EQ(Header(0), 3u | kHeapInUse);
  const auto blocks = Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[2], std::make_pair(static_cast<uint32_t>(ctx->heapSize - 1 - 3 - 1 - 5 - 1), false));

  // A freed block is the first fit again; a larger request goes past it.
  FreeHeapBlock(ctx, a);
  EXPECT_EQ(Allocate(4), 11);
  EXPECT_EQ(Allocate(2), 1);
}

TEST_F(HeapTest, OneCellLargerLeavesAnEmptyFreeBlock) {
  const int32_t a = Allocate(4);
  const int32_t b = Allocate(2);
  FreeHeapBlock(ctx, a);
  EXPECT_EQ(Allocate(3), a);
  EXPECT_EQ(Header(4), 0u);  // a free block of no cells
  EXPECT_EQ(Header(b - 1), 2u | kHeapInUse);
  // The empty block is still a block: it merges with a free neighbour later.
  FreeHeapBlock(ctx, b);
  EXPECT_EQ(Allocate(3), 5);
}

TEST_F(HeapTest, FreeNeighboursMergeAtTheNextWalk) {
  const int32_t a = Allocate(3);
  const int32_t b = Allocate(3);
  const int32_t c = Allocate(2);
  FreeHeapBlock(ctx, a);
  FreeHeapBlock(ctx, b);
  // Freeing changes nothing but the in-use bits.
  EXPECT_EQ(Header(0), 3u);
  EXPECT_EQ(Header(4), 3u);

  // a alone would do, but the walk swallows b first and then splits.
  EXPECT_EQ(Allocate(2), a);
  EXPECT_EQ(Header(0), 2u | kHeapInUse);
  EXPECT_EQ(Header(3), 4u);  // 3 + 1 + 3 cells less the two taken and a header
  EXPECT_EQ(Header(c - 1), 2u | kHeapInUse);
  // So a request larger than either freed block fits where both were.
  EXPECT_EQ(Allocate(4), 4);
}

TEST_F(HeapTest, FirstFreeBoundGivesWhatAWalkFromTheStartGives) {
  // Allocation starts at a bound below which every block is in use. Each
  // step here is also made on a copy walked from cell 0: index, status and
  // every header must agree through frees below and above the bound,
  // merges, exact fits and a full heap.
  std::vector<int32_t> live;
  Sequence next(12345);
  int fulls = 0;
  for (int step = 0; step < 3000; ++step) {
    if (!live.empty() && next(5) < 2) {
      FreeOneOf(live, next);
      continue;
    }
    const auto cells = static_cast<int32_t>(1 + next(step % 50 == 0 ? 4000 : 40));
    int32_t index = 0;
    const StatusCode st = AllocateCheckedAgainstAWalk(cells, &index);
    ASSERT_FALSE(HasFailure()) << step;
    if (st != kOk) {
      ++fulls;
      continue;
    }
    live.push_back(index);
  }
  EXPECT_GT(fulls, 0);  // the sequence reached a full heap
}

TEST_F(HeapTest, FullHeapAnswersFiveAndChangesNothing) {
  // In-use blocks with a free one between them: no walk can merge anything.
  const int32_t a = Allocate(10);
  const int32_t b = Allocate(10);
  const int32_t rest = static_cast<int32_t>(Cells(b + 10));
  Allocate(rest);
  FreeHeapBlock(ctx, b);
  ctx->heapBase[a].f = 1.5;
  const auto before = HeapCells();

  for (int32_t cells : {11, rest + 1, ctx->heapSize}) {
    int32_t index = -7;
    EXPECT_EQ(AllocateHeapBlock(ctx, cells, &index), kHeapFull) << cells;
    EXPECT_EQ(index, -7);
    EXPECT_EQ(HeapCells(), before) << cells;
  }
  EXPECT_EQ(Allocate(10), b);
}

TEST_F(HeapTest, MovingKeepsBlocksAndFreesTheGrowth) {
  const int32_t a = Allocate(3);
  ctx->heapBase[a + 2].f = 42;
  const int32_t used = 1 + 3;
  // Up by two cells over itself, into a heap of 20 cells.
  std::vector<Cell> region(32);
  std::memcpy(region.data(), ctx->heapBase, used * sizeof(Cell));
  MoveHeapRegion(region.data(), used, region.data() + 2, 20);
  EXPECT_EQ(region[2].w[0], 3u | kHeapInUse);
  EXPECT_EQ(region[2 + a + 2].f, 42);
  EXPECT_EQ(region[2 + used].w[0], 20u - used - 1);

  ctx->heapBase = region.data() + 2;
  ctx->heapSize = 20;
  EXPECT_EQ(Allocate(15), used + 1);
  int32_t index = 0;
  EXPECT_EQ(AllocateHeapBlock(ctx, 1, &index), kHeapFull);
}

TEST_F(HeapTest, LinkBlocksLeadToTheGlobalsValue) {
  const int32_t value = Allocate(3);
  WriteVariableDescriptor(ctx, value, {0, 1, 1});
  ctx->heapBase[value + 2].f = 7;
  const int32_t link = Allocate(6);
  WriteVariableDescriptor(ctx, link, {kLink, 4, 0});
  ctx->heapBase[link + 3].iw[0] = 2;
  DefineGlobalEntry(2, value);

  EXPECT_EQ(VariableValueBlock(ctx, value), value);
  EXPECT_EQ(VariableValueBlock(ctx, link), value);
  EXPECT_EQ(VariableDescriptor(ctx, value).cells, 1);
  EXPECT_EQ(VariableValueBlock(ctx, -1), -1);
  // A global without a value yet, and a link to an entry that is no variable.
  DefineGlobalEntry(2, -1);
  EXPECT_EQ(VariableValueBlock(ctx, link), -1);
  ctx->heapBase[link + 3].iw[0] = 0;
  EXPECT_EQ(VariableValueBlock(ctx, link), -1);
}

TEST_F(HeapTest, ReachabilityKeepsOnlyGlobalsAndPersistents) {
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  const int32_t plain = Allocate(4);
  const int32_t global = Allocate(3);
  const int32_t record = Allocate(2);
  const int32_t persistent = Allocate(5);
  DefineGlobalEntry(1, global);
  DefineGlobalEntry(2, persistent);
  DefineGlobalEntry(3, -1);  // a global without a value
  ctx->lastErrorRecord = record;
  ctx->breakpointList = plain;
  ctx->breakpointCount = 2;
  ctx->breakEntersDebugger = 1;
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);

  MarkReachableHeapBlocks(ctx);
  EXPECT_EQ(ctx->descLength, 0);
  EXPECT_EQ(ctx->dataTop, 0);
  EXPECT_EQ(ctx->frameIndex, -1);
  EXPECT_EQ(ctx->lastErrorRecord, -1);
  EXPECT_EQ(ctx->currentErrorRecord, -1);
  EXPECT_EQ(ctx->breakpointList, -1);
  EXPECT_EQ(ctx->breakpointCount, 0);
  EXPECT_EQ(ctx->profilerFunction, -1);
  EXPECT_EQ(ctx->profilerHeap, -1);
  EXPECT_EQ(ctx->echo, -1);
  EXPECT_EQ(ctx->breakEntersDebugger, 0);

  EXPECT_EQ(Header(global - 1), 3u | kHeapInUse | kHeapMark);
  EXPECT_EQ(Header(persistent - 1), 5u | kHeapInUse | kHeapMark);
  EXPECT_FALSE(InUse(plain - 1));
  EXPECT_FALSE(InUse(record - 1));
  // The next walk merges the freed blocks with the free rest behind them.
  EXPECT_EQ(Allocate(4), plain);
  EXPECT_EQ(Allocate(7), persistent + 5 + 1);

  // A second pass clears the old marks before setting them again.
  DefineGlobalEntry(2, -1);
  MarkReachableHeapBlocks(ctx);
  EXPECT_EQ(Header(global - 1), 3u | kHeapInUse | kHeapMark);
  EXPECT_FALSE(InUse(persistent - 1));
}

TEST_F(HeapTest, GrowingInPlaceKeepsFirstFitAndTheBound) {
  // Blocks grow into the free blocks after them and shrink, amid allocations
  // and frees. Every allocation is checked against a walk from the heap
  // start, so a first-free bound left inside a grown block would show; a
  // growth that does not fit must leave every cell as it was.
  std::vector<int32_t> live;
  Sequence next(777);
  int grown = 0, refused = 0;
  for (int step = 0; step < 3000; ++step) {
    const uint32_t what = next(10);
    if (!live.empty() && what < 3) {
      FreeOneOf(live, next);
      continue;
    }
    if (!live.empty() && what < 6) {
      const int32_t b = live[next(static_cast<uint32_t>(live.size()))];
      const int32_t cells = HeapBlockCells(ctx, b) + static_cast<int32_t>(1 + next(60));
      const auto before = HeapCells();
      if (ExtendHeapBlock(ctx, b, cells)) {
        ++grown;
        ASSERT_EQ(HeapBlockCells(ctx, b), cells) << step;
        ASSERT_TRUE(InUse(b - 1)) << step;
        Blocks();  // they still tile the heap
      } else {
        ++refused;
        ASSERT_EQ(HeapCells(), before) << step;
      }
      continue;
    }
    if (!live.empty() && what < 7) {
      const int32_t b = live[next(static_cast<uint32_t>(live.size()))];
      const int32_t cells = static_cast<int32_t>(next(static_cast<uint32_t>(HeapBlockCells(ctx, b)) + 1));
      ShrinkHeapBlock(ctx, b, cells);
      ASSERT_EQ(HeapBlockCells(ctx, b), cells) << step;
      Blocks();
      continue;
    }
    int32_t index = 0;
    const StatusCode st = AllocateCheckedAgainstAWalk(static_cast<int32_t>(1 + next(40)), &index);
    ASSERT_FALSE(HasFailure()) << step;
    if (st == kOk) live.push_back(index);
  }
  EXPECT_GT(grown, 30);
  EXPECT_GT(refused, 30);
}

}  // namespace
