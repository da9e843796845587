#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "graphics/graphics.h"

namespace {

// A store laid out by hand, as a saved image holds it: positive sizes are used
// blocks keyed 1, 2, ... in order with payload key * 1000 + j, negative sizes
// free blocks. The buffer has `extra` doubles beyond the store for moves.
struct Store {
  std::vector<double> buffer;
  double* s() { return buffer.data(); }
  double* area() { return buffer.data() + 1; }
  int32_t n() { return ReadBlockStoreHeader(s()).areaLength; }
  bool compacted() { return ReadBlockStoreHeader(s()).compacted == 1; }
};

Store Make(std::vector<int32_t> sizes, uint8_t compacted = 0, int32_t extra = 0) {
  int32_t n = 0;
  for (int32_t v : sizes) n += v < 0 ? -v : v;
  Store st;
  st.buffer.assign(n + 4 + extra, -12345.0);
  WriteBlockStoreHeader(st.s(), BlockStoreHeader{n, compacted, {0, 0, 0}});
  int32_t b = 0;
  int32_t key = 0;
  for (int32_t v : sizes) {
    st.area()[b] = v;
    if (v > 0) {
      st.area()[b + 1] = ++key;
      for (int32_t j = 0; j < v - 2; ++j) st.area()[b + 2 + j] = key * 1000 + j;
    }
    b += v < 0 ? -v : v;
  }
  return st;
}

// The block lengths of a walk over the area.
std::vector<int32_t> Layout(double* store) {
  std::vector<int32_t> out;
  const double* area = store + 1;
  int32_t n = ReadBlockStoreHeader(store).areaLength;
  for (int32_t b = 0; b < n;) {
    int32_t len = static_cast<int32_t>(area[b]);
    out.push_back(len);
    if (len == 0) break;
    b += len < 0 ? -len : len;
  }
  return out;
}

// The block of `key` holds k doubles of the pattern Make wrote.
void ExpectBlock(double* store, int32_t key, int32_t k) {
  double* p = nullptr;
  int32_t length = -1;
  ASSERT_TRUE(FindBlock(store, key, &p, &length)) << "key " << key;
  ASSERT_EQ(length, k) << "key " << key;
  for (int32_t j = 0; j < k; ++j) ASSERT_EQ(p[j], key * 1000 + j) << "key " << key << " at " << j;
}

TEST(BlockStore, NewStoreIsOneFreeBlock) {
  std::vector<double> buffer(1000, 7.0);
  InitBlockStore(buffer.data(), 1000);
  // Header: i32 996 little-endian, compacted 1, reserved 0.
  const uint8_t header[8] = {0xE4, 0x03, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(std::memcmp(buffer.data(), header, 8), 0);
  EXPECT_EQ(buffer[1], -996.0);
  double* p = nullptr;
  int32_t capacity = 0, total = 0;
  FindLargestFreeBlock(buffer.data(), &p, &capacity, true, &total);
  EXPECT_EQ(capacity, 994);
  EXPECT_EQ(total, 996);
  EXPECT_EQ(p, buffer.data() + 3);
  EXPECT_TRUE(CheckBlockStore(buffer.data(), 1000));
  // The last three doubles belong to no block.
  EXPECT_EQ(buffer[997], 7.0);
}

TEST(BlockStore, ScanMergesFreeRunsAndKeepsThemMerged) {
  Store st = Make({10, 20, 30, 936});
  FreeBlock(st.s(), 1);
  FreeBlock(st.s(), 2);
  EXPECT_FALSE(st.compacted());
  EXPECT_EQ(Layout(st.s()), (std::vector<int32_t>{-10, -20, 30, 936}));
  int32_t capacity = 0, total = 0;
  FindLargestFreeBlock(st.s(), nullptr, &capacity, false, &total);
  EXPECT_EQ(capacity, 28);
  EXPECT_EQ(total, 30);
  EXPECT_EQ(Layout(st.s()), (std::vector<int32_t>{-30, 30, 936}));
  ExpectBlock(st.s(), 3, 28);

  // Equal runs: the first wins, also when the second grows to its size by merging.
  Store tie = Make({-16, 5, -8, -8, 100});
  double* p = nullptr;
  FindLargestFreeBlock(tie.s(), &p, &capacity, false, &total);
  EXPECT_EQ(p, tie.area() + 2);
  EXPECT_EQ(capacity, 14);
  EXPECT_EQ(total, 32);
}

TEST(BlockStore, CompactsOnlyWhenFragmentationMatters) {
  struct Case {
    const char* name;
    std::vector<int32_t> sizes;
    uint8_t compacted;
    bool mayCompact;
    int32_t capacity;
    int32_t total;
    bool compacts;
  };
  const Case kCases[] = {
      // 130 is not more than 2 x 70.
      {"60 and 70", {-60, 10, -70, 10}, 0, true, 68, 130, false},
      // 120 free of an area of 996 is not more than 996 / 8 = 124.
      {"three of 40", {-40, 10, -40, 10, -40, 856}, 0, true, 38, 120, false},
      {"three of 42", {-42, 10, -42, 10, -42, 850}, 0, true, 124, 126, true},
      {"flag set", {-42, 10, -42, 10, -42, 850}, 1, true, 40, 126, false},
      {"not allowed", {-42, 10, -42, 10, -42, 850}, 0, false, 40, 126, false},
  };
  for (const Case& c : kCases) {
    Store st = Make(c.sizes, c.compacted);
    double* p = nullptr;
    int32_t capacity = 0, total = 0;
    FindLargestFreeBlock(st.s(), &p, &capacity, c.mayCompact, &total);
    EXPECT_EQ(capacity, c.capacity) << c.name;
    EXPECT_EQ(total, c.total) << c.name;
    EXPECT_EQ(st.area()[0] > 0, c.compacts) << c.name;
    if (c.compacts) {
      EXPECT_TRUE(st.compacted()) << c.name;
      EXPECT_EQ(Layout(st.s()), (std::vector<int32_t>{10, 10, 850, -126})) << c.name;
      EXPECT_EQ(p, st.area() + 870 + 2) << c.name;
      ExpectBlock(st.s(), 1, 8);
      ExpectBlock(st.s(), 3, 848);
    }
  }
}

TEST(BlockStore, NoFreeBlockGivesNegativeCapacityAndNoScratch) {
  Store st = Make({20, 30});
  double* p = st.s();
  int32_t capacity = 0, total = -1;
  FindLargestFreeBlock(st.s(), &p, &capacity, true, &total);
  EXPECT_EQ(capacity, -3);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(p, nullptr);
  void* scratch = st.s();
  int64_t bytes = -1;
  GetLargestFreeSpace(st.s(), &scratch, &bytes);
  EXPECT_EQ(bytes, 0);
  EXPECT_EQ(scratch, nullptr);
  // A free block of two doubles has no room either.
  Store two = Make({20, -2});
  GetLargestFreeSpace(two.s(), &scratch, &bytes);
  EXPECT_EQ(bytes, 0);

  Store some = Make({20, -12});
  GetLargestFreeSpace(some.s(), &scratch, &bytes);
  EXPECT_EQ(bytes, 80);
  EXPECT_EQ(scratch, some.area() + 22);
}

TEST(BlockStore, CommitsWithAndWithoutRemainder) {
  struct Case {
    int32_t k;
    bool ok;
    std::vector<int32_t> layout;
  };
  const Case kCases[] = {
      {28, true, {10, 30, 5}},                               // exactly 2 shorter than the free block
      {20, true, {10, 22, -8, 5}},                           // the rest stays free right after
      {27, true, {10, 29, -1, 5}}, {0, true, {10, -30, 5}},  // no block for the key
      {29, false, {10, -30, 5}},   {-1, false, {10, -30, 5}},
  };
  for (const Case& c : kCases) {
    Store st = Make({10, -30, 5});
    EXPECT_EQ(CommitBlockAt(st.s(), 9, st.area() + 12, c.k), c.ok) << c.k;
    EXPECT_EQ(Layout(st.s()), c.layout) << c.k;
    EXPECT_EQ(FindBlock(st.s(), 9, nullptr, nullptr), c.ok && c.k > 0) << c.k;
    EXPECT_TRUE(CheckBlockStore(st.s(), static_cast<int32_t>(st.buffer.size()))) << c.k;
  }
  // A pointer that starts no free region changes nothing.
  Store st = Make({10, -30, 5});
  EXPECT_FALSE(CommitBlockAt(st.s(), 9, st.area() + 2, 4));
  EXPECT_FALSE(CommitBlockAt(st.s(), 9, st.area() + 13, 4));
  EXPECT_FALSE(CommitBlockAt(st.s(), 9, nullptr, 4));
  EXPECT_EQ(Layout(st.s()), (std::vector<int32_t>{10, -30, 5}));
}

TEST(BlockStore, Resizes) {
  struct Case {
    const char* name;
    int32_t m;
    StatusCode status;
    int32_t n;
    std::vector<int32_t> layout;
  };
  // 45 doubles used of an area of 100.
  const Case kCases[] = {
      {"same size", 104, kOk, 100, {-10, 20, -5, 25, -40}},
      {"grow", 124, kOk, 120, {-10, 20, -5, 25, -40, -20}},
      {"shrink", 80, kOk, 76, {20, 25, -31}},
      {"used + 1", 50, kOk, 46, {20, 25, -1}},
      {"used size", 49, kExhaustedRsrc, 100, {20, 25, -55}},
      {"below used", 20, kExhaustedRsrc, 100, {20, 25, -55}},
      {"nothing", 0, kExhaustedRsrc, 100, {20, 25, -55}},
  };
  for (const Case& c : kCases) {
    Store st = Make({-10, 20, -5, 25, -40});
    st.buffer.resize(200, -12345.0);
    std::vector<double> before = st.buffer;
    EXPECT_EQ(ResizeBlockStore(st.s(), c.m), c.status) << c.name;
    EXPECT_EQ(st.n(), c.n) << c.name;
    EXPECT_EQ(Layout(st.s()), c.layout) << c.name;
    if (c.m == 104) {
      EXPECT_EQ(st.buffer, before);
    }
    ExpectBlock(st.s(), 1, 18);
    ExpectBlock(st.s(), 2, 23);
    EXPECT_TRUE(CheckBlockStore(st.s(), c.status == kOk ? c.m : 104)) << c.name;
  }
  // The free block added at the end merges with the one before it at the next scan.
  Store st = Make({20, -10}, 1);
  st.buffer.resize(100, -12345.0);
  ASSERT_EQ(ResizeBlockStore(st.s(), 44), kOk);
  int32_t capacity = 0;
  FindLargestFreeBlock(st.s(), nullptr, &capacity, false, nullptr);
  EXPECT_EQ(capacity, 18);
  EXPECT_EQ(Layout(st.s()), (std::vector<int32_t>{20, -20}));
}

TEST(BlockStore, OpensABlockForWriting) {
  struct Case {
    const char* name;
    std::vector<int32_t> sizes;
    int32_t key;
    int32_t payloadAt;  // area index of the payload handed out
    int32_t length;
    int32_t capacity;
  };
  const Case kCases[] = {
      {"absent key", {10, -30, 5, -20}, 7, 12, 0, 28},
      // 8 + 30 >= 48 / 2: the block takes the free block after it.
      {"grows in place", {10, -30, 5, -18}, 1, 2, 8, 38},
      // 8 + 10 < 60 / 2: copied to the largest free block.
      {"relocates", {10, -10, 5, -50}, 1, 27, 8, 48},
      {"next block used", {10, 5, -30}, 1, 17, 8, 28},
      {"ends the area", {-30, 10}, 1, 2, 8, 28},
      // Largest 8 of 24 free: the fragmented store is compacted first.
      {"compacts first", {-8, 12, 5, -8, 100, -8}, 1, 119, 10, 22},
      // 24 free is not more than twice the largest 12, so the scan leaves the
      // holes; only the two together take the 12 payload doubles.
      {"compacts for room", {-12, 14, 100, -12}, 1, 116, 12, 22},
  };
  for (const Case& c : kCases) {
    Store st = Make(c.sizes);
    double* p = nullptr;
    int32_t length = -1, capacity = -1;
    OpenBlockForWriting(st.s(), c.key, &p, &length, &capacity);
    EXPECT_EQ(p - st.area(), c.payloadAt) << c.name;
    EXPECT_EQ(length, c.length) << c.name;
    EXPECT_EQ(capacity, c.capacity) << c.name;
    for (int32_t j = 0; j < length; ++j) ASSERT_EQ(p[j], c.key * 1000 + j) << c.name;
    EXPECT_FALSE(FindBlock(st.s(), c.key, nullptr, nullptr)) << c.name;
    // Append two doubles of the same pattern and commit.
    for (int32_t j = length; j < length + 2; ++j) p[j] = c.key * 1000 + j;
    ASSERT_TRUE(CommitBlockAt(st.s(), c.key, p, length + 2)) << c.name;
    ExpectBlock(st.s(), c.key, length + 2);
    EXPECT_TRUE(CheckBlockStore(st.s(), static_cast<int32_t>(st.buffer.size()))) << c.name;
  }
}

TEST(BlockStore, OpeningWithNoRoomLeavesTheBlockWhereItIs) {
  // Nowhere else fits the 18 payload doubles of block 1, even after compaction.
  Store st = Make({-6, 20, 20, -6}, 0);
  std::vector<double> before = st.buffer;
  double* p = nullptr;
  int32_t length = -1, capacity = -1;
  OpenBlockForWriting(st.s(), 1, &p, &length, &capacity);
  EXPECT_EQ(p, st.area() + 8);
  EXPECT_EQ(length, 18);
  EXPECT_EQ(capacity, 18);
  // The writer finds the list full at its first append.
  DisplayListWriter list{p, capacity, length};
  EXPECT_EQ(BeginListAppend(&list, 1, nullptr), kPlotOverflow);
  ASSERT_TRUE(CommitBlockAt(st.s(), 1, p, length));
  EXPECT_EQ(st.buffer, before);

  // A full store likewise.
  Store full = Make({20, 30});
  before = full.buffer;
  OpenBlockForWriting(full.s(), 2, &p, &length, &capacity);
  EXPECT_EQ(p, full.area() + 22);
  EXPECT_EQ(length, 28);
  EXPECT_EQ(capacity, 28);
  ASSERT_TRUE(CommitBlockAt(full.s(), 2, p, length));
  EXPECT_EQ(full.buffer, before);
}

TEST(BlockStore, MovesOverlappingBuffers) {
  // 100 doubles up, then back down, and into a smaller overlapping buffer.
  Store st = Make({-10, 20, -5, 25, 300, -36}, 0, 200);
  const int32_t m = 400;
  ASSERT_EQ(MoveBlockStore(st.s(), st.s() + 100, m), kOk);
  double* up = st.s() + 100;
  EXPECT_EQ(Layout(up), (std::vector<int32_t>{-10, 20, -5, 25, 300, -36}));
  for (int32_t key : {1, 2, 3}) ExpectBlock(up, key, key == 1 ? 18 : key == 2 ? 23 : 298);

  ASSERT_EQ(MoveBlockStore(up, st.s(), m), kOk);
  EXPECT_EQ(Layout(st.s()), (std::vector<int32_t>{-10, 20, -5, 25, 300, -36}));
  for (int32_t key : {1, 2, 3}) ExpectBlock(st.s(), key, key == 1 ? 18 : key == 2 ? 23 : 298);

  // Where the old area would reach if copied whole past a smaller destination.
  st.buffer[420] = 4242;
  // 345 used: a buffer of 350 takes them with a free double; nothing is
  // written past it, where the old area went on.
  ASSERT_EQ(MoveBlockStore(st.s(), st.s() + 50, 350), kOk);
  double* small = st.s() + 50;
  EXPECT_EQ(Layout(small), (std::vector<int32_t>{20, 25, 300, -1}));
  EXPECT_EQ(st.buffer[420], 4242);
  EXPECT_TRUE(CheckBlockStore(small, 350));
  for (int32_t key : {1, 2, 3}) ExpectBlock(small, key, key == 1 ? 18 : key == 2 ? 23 : 298);

  // Too small: the destination stays as it was.
  std::vector<double> other(400, 5.0);
  EXPECT_EQ(MoveBlockStore(small, other.data(), 349), kExhaustedRsrc);
  EXPECT_EQ(other, std::vector<double>(400, 5.0));

  // A move to the same place only resizes.
  ASSERT_EQ(MoveBlockStore(small, small, 360), kOk);
  EXPECT_EQ(Layout(small), (std::vector<int32_t>{20, 25, 300, -1, -10}));
}

TEST(BlockStore, ChecksAStoreFromAnImage) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  // Valid: {-10, 20 (key 1), -5, 25 (key 2), -40}, area 100, buffer 104.
  struct Case {
    const char* name;
    int32_t index;  // area index to overwrite, or -1 for none
    double value;
    int32_t m;
    bool valid;
  };
  const Case kCases[] = {
      {"as made", -1, 0, 104, true},
      {"larger buffer", -1, 0, 200, true},
      {"buffer too small", -1, 0, 103, false},
      {"zero length", 0, 0, 104, false},
      {"fractional length", 0, -9.5, 104, false},
      {"NaN length", 0, kNaN, 104, false},
      {"length past the area", 60, -41, 104, false},
      {"walk stops short", 60, -39, 104, false},
      {"huge length", 60, 1e300, 104, false},
      {"used block of one double", 10, 1, 104, false},
      {"duplicate key", 36, 1, 104, false},
      {"fractional key", 11, 1.5, 104, false},
      {"NaN key", 36, kNaN, 104, false},
      {"walk lands inside a block", 30, -1, 104, false},
  };
  for (const Case& c : kCases) {
    Store st = Make({-10, 20, -5, 25, -40});
    st.buffer.resize(200, 0.0);
    if (c.index >= 0) st.area()[c.index] = c.value;
    EXPECT_EQ(CheckBlockStore(st.s(), c.m), c.valid) << c.name;
  }
  struct HeaderCase {
    const char* name;
    BlockStoreHeader header;
    bool valid;
  };
  const HeaderCase kHeaders[] = {
      {"compacted 1", {100, 1, {0, 0, 0}}, true},
      {"compacted 2", {100, 2, {0, 0, 0}}, false},
      {"negative area", {-4, 0, {0, 0, 0}}, false},
      {"area past the buffer", {101, 0, {0, 0, 0}}, false},
      {"area shorter than the walk", {99, 0, {0, 0, 0}}, false},
  };
  for (const HeaderCase& c : kHeaders) {
    Store st = Make({-10, 20, -5, 25, -40});
    WriteBlockStoreHeader(st.s(), c.header);
    EXPECT_EQ(CheckBlockStore(st.s(), 104), c.valid) << c.name;
  }
}

}  // namespace
