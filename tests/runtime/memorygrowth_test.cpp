// Growing the runtime block: which region takes the growth, what the host is
// told, and that every region keeps its contents across the move.
#include <cstdio>

#include "tests/runtime/imagefixture.h"

namespace {

// Descriptor 2 as the host would show it.
struct ErrorCapture {
  std::string text;
  NativeFunctionRecord hooks[2]{};
  explicit ErrorCapture(RuntimeBlock* block) {
    hooks[0].handler = AsNativeHandler(&Capture);
    hooks[0].userData = this;
    std::strncpy(hooks[0].name, "+write", sizeof hooks[0].name - 1);
    hooks[0].minInputs = 1;
    EXPECT_EQ(InstallRuntimeNativeLibrary(block, hooks), kOk);
  }
  [[nodiscard]] static StatusCode Capture(EngineContext*, int32_t descriptor, const char* bytes, int32_t length,
                                          void* self) {
    if (descriptor != kStderrDescriptor) return kBadFileId;
    static_cast<ErrorCapture*>(self)->text.append(bytes, length);
    return kOk;
  }
};

int64_t HostSize(const RuntimeBlock* b) {
  int64_t size = b->codeWordsUsed;
  for (int32_t s : b->regionSize) size += s;
  return size;
}

std::string Expected(int64_t size) {
  char text[80];
  if (size < 1048576)
    std::snprintf(text, sizeof text, "KV memory expanded to %.0f KB\n", static_cast<double>(size) / 1024);
  else
    std::snprintf(text, sizeof text, "KV memory expanded to %.1f MB\n", static_cast<double>(size) / 1048576);
  return text;
}

using Image = std::vector<std::vector<uint8_t>>;

void ClearWord(std::vector<uint8_t>* chunk, size_t at) { std::fill_n(chunk->begin() + at, 4, uint8_t{0}); }

// An image taken after growth against one taken before: a grown name region
// says so in the table's capacity, a grown variable region lengthens the heap
// by a free block behind the old cells and says so in its size and
// heap-length words; everything else must match byte for byte.
void ExpectSameContents(Image after, Image before, StatusCode status) {
  ASSERT_EQ(after.size(), before.size()) << status;
  const size_t names = after.size() - 3, sets = after.size() - 2, heap = after.size() - 1;
  for (Image* image : {&after, &before}) {
    ClearWord(&(*image)[0], 24);     // heap cells
    ClearWord(&(*image)[names], 0);  // rows the region holds
    ClearWord(&(*image)[sets], 0);   // the region's size
    ClearWord(&(*image)[sets], 16);  // heap length
  }
  ASSERT_GE(after[heap].size(), before[heap].size()) << status;
  after[heap].resize(before[heap].size());
  for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i], before[i]) << status << " chunk " << i;
}

TEST(MemoryGrowth, PlotOverflowGivesRegionOneTheWholeGrowth) {
  struct Case {
    int64_t bytes;
    const char* message;
  };
  const Case kCases[] = {{8290304, "KV memory expanded to 11.9 MB\n"},
                         {int64_t{64} << 10, "KV memory expanded to 93 KB\n"}};
  for (const Case& c : kCases) {
    GrowingRuntime rt(c.bytes);
    ErrorCapture errors(rt.block);
    int32_t before[5];
    std::memcpy(before, rt.block->regionSize, sizeof before);
    const int64_t asked = HostSize(rt.block) * 3 / 2;
    ASSERT_TRUE(ExpandRuntimeMemory(&rt.block, 10001));
    const int64_t t = (asked - kRuntimeHeaderBytes) & ~int64_t{2047};
    EXPECT_EQ(rt.block->regionSize[1], t - before[0] - before[2] - before[3] - before[4]);
    for (int i : {0, 2, 3, 4}) EXPECT_EQ(rt.block->regionSize[i], before[i]) << i;
    EXPECT_EQ(errors.text, Expected(asked));
    EXPECT_EQ(errors.text, c.message);
    EXPECT_LE(kRuntimeHeaderBytes + t, 8 * static_cast<int64_t>(rt.memory.size())) << "the regions fit the block";
  }
}

TEST(MemoryGrowth, RefusalAtTheHostsMaximum) {
  GrowingRuntime rt(int64_t{256} << 10, int64_t{256} << 10);
  SetMemoryGrowthCallback(rt.block, &GrowingRuntime::Grow, &rt);
  int32_t before[5];
  std::memcpy(before, rt.block->regionSize, sizeof before);
  EXPECT_FALSE(ExpandRuntimeMemory(&rt.block, 10001));
  EXPECT_EQ(std::memcmp(before, rt.block->regionSize, sizeof before), 0);
  EXPECT_EQ(RunCommand(rt.ctx(), "x = 2 + 3;"), kOk) << "the engine works after the refusal";
  SetMemoryGrowthCallback(rt.block, nullptr, nullptr);
  EXPECT_FALSE(ExpandRuntimeMemory(&rt.block, 10001)) << "no callback";
}

TEST(MemoryGrowth, EveryRegionHoldsWhatItHeldAndNoneShrinks) {
  struct Case {
    StatusCode status;
    int grows;  // the region taking the growth, -1 all by the creation shares
  };
  const Case kCases[] = {{3, 0}, {10001, 1}, {10006, 2}, {10009, 4}, {10000, -1}, {10003, -1}};
  for (const Case& c : kCases) {
    GrowingRuntime rt(int64_t{1} << 20);
    BuildDemoApplication(rt.block);
    const auto image = WriteApplicationImageChunks(rt.block);
    int32_t before[5];
    std::memcpy(before, rt.block->regionSize, sizeof before);
    const size_t records = size_t{kInstanceRecordBytes} * size_t(rt.block->instanceCount);
    const std::vector<uint8_t> recordBytes(RuntimeRegion(rt.block, 1) + rt.block->regionSize[1] - records,
                                           RuntimeRegion(rt.block, 1) + rt.block->regionSize[1]);
    ASSERT_TRUE(ExpandRuntimeMemory(&rt.block, c.status)) << c.status;
    for (int i = 0; i < 5; ++i) {
      EXPECT_GE(rt.block->regionSize[i], before[i]) << c.status << " region " << i;
      if (c.grows >= 0 && i != c.grows) {
        EXPECT_EQ(rt.block->regionSize[i], before[i]) << c.status << " " << i;
      }
    }
    // The engine, the store, the code words, the names and the variables.
    ExpectSameContents(WriteApplicationImageChunks(rt.block), image, c.status);
    EXPECT_EQ(std::memcmp(RuntimeRegion(rt.block, 1) + rt.block->regionSize[1] - records, recordBytes.data(), records),
              0);
    EXPECT_EQ(CheckVariableStore(RuntimeVariableStore(rt.block), rt.block->regionSize[4]), kOk);
    EXPECT_TRUE(CheckBlockStore(RuntimeBlockStore(rt.block), BlockStoreDoubles(rt.block, rt.block->instanceCount)));
    EXPECT_EQ(RunCommand(rt.ctx(), "y = px * 4;"), kOk) << c.status;
  }
}

void CountCall(EngineContext*, void* calls) { ++*static_cast<int*>(calls); }

TEST(MemoryGrowth, CallQueuedBeforeGrowthReachesTheMovedBlock) {
  GrowingRuntime rt(int64_t{64} << 10);
  PendingCallAccess access{};
  GetPendingCallAccess(rt.ctx(), &access);
  const RuntimeBlock* old = rt.block;
  ASSERT_TRUE(ExpandRuntimeMemory(&rt.block, 10001));
  ASSERT_NE(rt.block, old) << "the host moved the block";
  int calls = 0;
  ASSERT_TRUE(PostPendingCall(access, &CountCall, &calls));
  EXPECT_EQ(RunCommand(rt.ctx(), "x = 1; y = x + 1;"), kOk);
  EXPECT_EQ(calls, 1) << "the call ran in the engine at the block's new address";
}

TEST(MemoryGrowth, GrowAndRetrySet) {
  for (StatusCode st : {1, 2, 3, 4, 5, 6, 180, 198, 10000, 10001, 10003, 10006, 10008, 10009})
    EXPECT_TRUE(IsGrowAndRetryStatus(st)) << st;
  for (StatusCode st : {0, 7, 8, 181, 600, 10002, 10004, 10005, 10007}) EXPECT_FALSE(IsGrowAndRetryStatus(st)) << st;
}

}  // namespace
