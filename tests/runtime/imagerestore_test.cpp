#include <climits>

#include "tests/runtime/imagefixture.h"

namespace {

using Chunks = std::vector<std::vector<uint8_t>>;

void SetWord(Chunks* c, int word, int32_t v) { std::memcpy((*c)[0].data() + 4 * word, &v, 4); }

// Chunk indices of an image without extension names: header, list length,
// the engine state's reads, then store, records, code, names, set area, heap.
constexpr size_t kStoreFromEnd = 6, kRecordsFromEnd = 5, kCodeFromEnd = 4, kNamesFromEnd = 3;
std::vector<uint8_t>& FromEnd(Chunks* c, size_t k) { return (*c)[c->size() - k]; }

// The restored block holds what the written one held: the image written
// again is the same image, and regions 2 and 3 and the records match byte
// for byte. In a block of other sizes the name table's capacity and the
// variable store's layout follow their regions: their contents compare.
void ExpectSameApplication(RuntimeBlock* from, const Chunks& image, RuntimeBlock* to) {
  Chunks again = WriteApplicationImageChunks(to);
  ASSERT_EQ(again.size(), image.size());
  if (std::memcmp(to->regionSize, from->regionSize, sizeof from->regionSize) == 0) {
    EXPECT_EQ(again, image);
  } else {
    EXPECT_EQ(std::memcmp(again[0].data(), image[0].data(), 20), 0);
    EXPECT_EQ(std::memcmp(again[0].data() + 28, image[0].data() + 28, 40), 0);
    for (size_t k = 1; k + 3 < image.size(); ++k) EXPECT_EQ(again[k], image[k]) << k;
    int32_t cells = 0;
    const double* data = nullptr;
    ASSERT_EQ(ReadVariable(RuntimeVariableStore(to), 0, 0, kVarTitle, &cells, &data), kOk);
    int32_t want = 0;
    const double* wantData = nullptr;
    ASSERT_EQ(ReadVariable(RuntimeVariableStore(from), 0, 0, kVarTitle, &want, &wantData), kOk);
    ASSERT_EQ(cells, want);
    EXPECT_EQ(std::memcmp(data, wantData, 8 * size_t(cells)), 0);
  }
  ASSERT_EQ(to->codeWordsUsed, from->codeWordsUsed);
  EXPECT_EQ(std::memcmp(RuntimeCodeWords(to), RuntimeCodeWords(from), 4 * size_t(from->codeWordsUsed)), 0);
  ASSERT_EQ(to->instanceCount, from->instanceCount);
  const size_t records = size_t{kInstanceRecordBytes} * size_t(from->instanceCount);
  EXPECT_EQ(std::memcmp(RuntimeRegion(to, 1) + to->regionSize[1] - records,
                        RuntimeRegion(from, 1) + from->regionSize[1] - records, records),
            0);
  int32_t rows = 0;
  std::memcpy(&rows, reinterpret_cast<uint8_t*>(RuntimeNameTable(from)) + 4, 4);
  EXPECT_EQ(CheckVariableStore(RuntimeVariableStore(to), to->regionSize[4]), kOk);
  EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(RuntimeNameTable(to)) + 4,
                        reinterpret_cast<uint8_t*>(RuntimeNameTable(from)) + 4, 4 + 32 * size_t(rows)),
            0);
}

// The runtime after a failed restore: nothing of the image, and it still runs code.
void ExpectEmptyAndUsable(RuntimeBlock* b) {
  EXPECT_EQ(b->instanceCount, 1);
  EXPECT_EQ(b->codeWordsUsed, 0);
  EXPECT_EQ(RunCommand(RuntimeEngine(b), "q = 6 * 7;"), kOk);
}

class ImageRestore : public ::testing::Test {
 protected:
  GrowingRuntime source{int64_t{1} << 20};
  DemoLayout demo = BuildDemoApplication(source.block);
  Chunks image = WriteApplicationImageChunks(source.block);
};

TEST_F(ImageRestore, RoundTripIntoBlocksOfEverySize) {
  struct Case {
    int64_t bytes;
    bool seek;
    bool grows;
  };
  // The engine region of the smallest block is too small for the state: it
  // grows only when the stream can return to the engine state's start.
  const Case kCases[] = {{int64_t{1} << 20, true, false},
                         {int64_t{1} << 20, false, false},
                         {int64_t{160} << 10, true, true},
                         {int64_t{160} << 10, false, true},
                         {int64_t{64} << 10, true, true}};
  for (const Case& c : kCases) {
    GrowingRuntime target(c.bytes);
    ASSERT_EQ(Restore(&target.block, image, c.seek), kOk) << c.bytes;
    EXPECT_EQ(target.grows > 0, c.grows) << c.bytes;
    ExpectSameApplication(source.block, image, target.block);
    for (int i = 0; i < 5; ++i) EXPECT_GE(target.block->regionSize[i], 0);
  }
}

TEST_F(ImageRestore, EngineRoomCodeWithoutPositionCallbackIsReturned) {
  // The engine's values outgrow the engine region of the smaller block.
  ASSERT_EQ(RunCommand(source.ctx(), "big = zeros(1, 3000);"), kOk);
  const Chunks large = WriteApplicationImageChunks(source.block);
  GrowingRuntime small(int64_t{64} << 10);
  const StatusCode st = Restore(&small.block, large, false);
  EXPECT_TRUE(st >= 1 && st <= 6) << st;
  const int regionGrowths = small.grows;
  EXPECT_EQ(RunCommand(small.ctx(), "q = 1;"), kOk) << "the engine is as it was";
  ASSERT_EQ(Restore(&small.block, large, true), kOk);
  EXPECT_GT(small.grows, regionGrowths);
  ExpectSameApplication(source.block, large, small.block);
}

TEST_F(ImageRestore, HeaderFieldsAndIdleFieldsAreWrittenBack) {
  // Stale idle fields in the image are replaced; the header's fields land in the block.
  InstanceRecordAt(source.block, 0)->idleState = 7;
  InstanceRecordAt(source.block, 1)->idleMode = 3;
  InstanceRecordAt(source.block, 1)->nextIdleTime = 12.5;
  const Chunks stale = WriteApplicationImageChunks(source.block);
  GrowingRuntime target(int64_t{1} << 20);
  ASSERT_EQ(Restore(&target.block, stale), kOk);
  RuntimeBlock* b = target.block;
  EXPECT_EQ(b->savedCurrentInstance, demo.second);
  EXPECT_EQ(b->nextInstanceId, demo.second + 1);
  EXPECT_EQ(b->defaultSandbox, 1);
  EXPECT_EQ(b->mouseMode, 3);
  EXPECT_EQ(b->defaultStyles[1].word, 512);
  EXPECT_EQ(b->defaultStyles[1].blue, 0x30);
  EXPECT_EQ(b->highlight, 0);
  EXPECT_EQ(b->outlinesShown, 1);
  for (int32_t i = 0; i < 2; ++i) {
    const InstanceRecord* r = InstanceRecordAt(b, i);
    EXPECT_EQ(r->idleState, r->id == demo.second ? 2 : 0) << i;
    EXPECT_EQ(r->idleMode, 0);
    EXPECT_EQ(r->nextIdleTime, -1.0);
    EXPECT_EQ(r->lastIdleTime, -1.0);
  }
  // No handler ran: the engine's state and every region are the written ones.
  EXPECT_EQ(WriteApplicationImageChunks(b), image);
}

TEST_F(ImageRestore, CapacityCodesGrowTheRegionThatIsShort) {
  struct Case {
    const char* what;
    int word;
    int32_t value;
    StatusCode code;
  };
  GrowingRuntime probe(int64_t{256} << 10);
  const RuntimeBlock* p = probe.block;
  // Each image asks for more than its region of a 256 KiB block holds.
  const Case kCases[] = {
      {"store", 0, p->regionSize[1], 10001},
      {"code", 2, p->regionSize[2] / 4 + 1, kNotEnoughMemForKVFile},
      {"heap", 6, p->regionSize[4] / 8, kVarTooLargeForUndo},
      {"names", 3, p->regionSize[3] + 8, kTooSmallNameBuf},
  };
  for (const Case& c : kCases) {
    Chunks big = image;
    SetWord(&big, c.word, c.value);
    GrowingRuntime fixed(int64_t{256} << 10);
    SetMemoryGrowthCallback(fixed.block, nullptr, nullptr);
    EXPECT_EQ(Restore(&fixed.block, big), c.code) << c.what;
    EXPECT_EQ(RunCommand(RuntimeEngine(fixed.block), "q = 1;"), kOk) << c.what;
    GrowingRuntime growing(int64_t{256} << 10);
    // The grown block then finds the image's chunks cut: 600, after growing.
    const StatusCode st = Restore(&growing.block, big);
    if (c.code == kTooSmallNameBuf) {
      EXPECT_EQ(st, kTooSmallNameBuf) << "final";
      EXPECT_EQ(growing.grows, 0);
    } else {
      EXPECT_EQ(st, kInitError) << c.what;
      EXPECT_GT(growing.grows, 0) << c.what;
      ExpectEmptyAndUsable(growing.block);
    }
  }
}

TEST_F(ImageRestore, RefusedGrowthReturnsTheRoomCode) {
  Chunks big = image;
  SetWord(&big, 0, 1 << 26);
  GrowingRuntime target(int64_t{256} << 10, int64_t{1} << 20);
  EXPECT_EQ(Restore(&target.block, big), 10001);
  EXPECT_GT(target.grows, 0);
}

TEST_F(ImageRestore, ImageThatExactlyFillsRegionOneGrowsAndLoads) {
  // The store sized so that store and records fill region 1 of the target.
  GrowingRuntime target(int64_t{1} << 20);
  const int64_t storeBytes = target.block->regionSize[1] - int64_t{kInstanceRecordBytes} * 2;
  Chunks full = image;
  std::vector<double> store(static_cast<size_t>(storeBytes / 8));
  InitBlockStore(store.data(), static_cast<int32_t>(store.size()));
  FromEnd(&full, kStoreFromEnd)
      .assign(reinterpret_cast<uint8_t*>(store.data()), reinterpret_cast<uint8_t*>(store.data() + store.size()));
  SetWord(&full, 0, static_cast<int32_t>(storeBytes));
  ASSERT_EQ(Restore(&target.block, full), kOk);
  EXPECT_EQ(target.grows, 1);
  EXPECT_TRUE(CheckBlockStore(RuntimeBlockStore(target.block), BlockStoreDoubles(target.block, 2)));
}

TEST_F(ImageRestore, ShortStreamsAndExtensionNames) {
  auto collect = [](RuntimeBlock*, const char* name, int32_t length, void* data) {
    static_cast<std::vector<std::string>*>(data)->emplace_back(name, length);
  };
  struct Case {
    const char* list;
    std::vector<std::string> want;
  };
  const Case kCases[] = {{";a;b;", {"", "a", "b"}}, {"a;;bc", {"a", "", "bc"}}, {"one", {"one"}}};
  for (const Case& c : kCases) {
    const Chunks withNames = WriteApplicationImageChunks(source.block, c.list);
    GrowingRuntime target(int64_t{1} << 20);
    std::vector<std::string> seen;
    ASSERT_EQ(Restore(&target.block, withNames, true, collect, &seen), kOk) << c.list;
    EXPECT_EQ(seen, c.want) << c.list;
    GrowingRuntime bare(int64_t{1} << 20);
    EXPECT_EQ(Restore(&bare.block, withNames), kIllegal) << "names and no callback";
    // Cut within the first three chunks: the stream ended.
    for (size_t k = 0; k < 3; ++k) {
      GrowingRuntime cut(int64_t{1} << 20);
      EXPECT_EQ(Restore(&cut.block, Chunks(withNames.begin(), withNames.begin() + long(k)), true, collect, &seen), kEof)
          << k;
    }
  }
}

TEST_F(ImageRestore, CutAtEveryChunkBoundaryLeavesTheRuntimeEmpty) {
  GrowingRuntime target(int64_t{1} << 20);
  for (size_t k = 0; k < image.size(); ++k) {
    ASSERT_EQ(RunCommand(target.ctx(), "leftover = 1;"), kOk);
    const StatusCode st = Restore(&target.block, Chunks(image.begin(), image.begin() + long(k)));
    EXPECT_EQ(st, k < 2 ? kEof : kInitError) << k;
    if (k >= 2) ExpectEmptyAndUsable(target.block);
  }
  ASSERT_EQ(Restore(&target.block, image), kOk);
  ExpectSameApplication(source.block, image, target.block);
}

TEST_F(ImageRestore, BadHeaderWordsGive600) {
  const int kWords[] = {0, 1, 2, 3, 5, 6};
  const int32_t kValues[] = {-1, INT32_MIN, INT32_MAX, 0x40000000, 7};
  for (int w : kWords) {
    for (int32_t v : kValues) {
      Chunks bad = image;
      SetWord(&bad, w, v);
      GrowingRuntime target(int64_t{1} << 20, int64_t{4} << 20);
      const StatusCode st = Restore(&target.block, bad);
      // A size beyond the host's maximum ends in its room code, nothing read.
      if (st == kInitError) {
        ExpectEmptyAndUsable(target.block);
      } else {
        EXPECT_TRUE(IsGrowAndRetryStatus(st) || st == kTooSmallNameBuf) << w << " " << v << " " << st;
      }
      EXPECT_NE(st, kOk) << w << " " << v;
      if (v < 0) {
        EXPECT_EQ(st, kInitError) << w << " " << v;
      }
    }
  }
}

TEST_F(ImageRestore, MalformedRegionsGive600) {
  auto code = [](Chunks* c) { return reinterpret_cast<int32_t*>(FromEnd(c, kCodeFromEnd).data()); };
  auto record0 = [](Chunks* c) {
    std::vector<uint8_t>& r = FromEnd(c, kRecordsFromEnd);
    return reinterpret_cast<InstanceRecord*>(r.data() + r.size() - kInstanceRecordBytes);
  };
  struct Case {
    const char* what;
    void (*spoil)(Chunks*, const DemoLayout&);
  };
  static decltype(code) codeOf = code;
  static decltype(record0) recordOf = record0;
  const Case kCases[] = {
      {"item of length 0", [](Chunks* c, const DemoLayout&) { codeOf(c)[1] = 0; }},
      {"item past the used words", [](Chunks* c, const DemoLayout&) { codeOf(c)[1] = 1 << 20; }},
      {"handler input count", [](Chunks* c, const DemoLayout& d) { codeOf(c)[d.draw + 1] = 1000; }},
      {"text length", [](Chunks* c, const DemoLayout& d) { codeOf(c)[d.figure + 2] = 4000; }},
      {"figure offset", [](Chunks* c, const DemoLayout&) { recordOf(c)->subplots[0].figureShown = 5000; }},
      {"figure sentinel", [](Chunks* c, const DemoLayout&) { recordOf(c)->subplots[3].figureShown = -9; }},
      {"handler offset", [](Chunks* c, const DemoLayout&) { recordOf(c)->subplots[0].handlerSlots[4] = 900; }},
      {"language", [](Chunks* c, const DemoLayout&) { recordOf(c)->language = 77; }},
      {"layout",
       [](Chunks* c, const DemoLayout&) {
         recordOf(c)->rows = 6;
         recordOf(c)->columns = 5;
       }},
      {"store area", [](Chunks* c, const DemoLayout&) { FromEnd(c, kStoreFromEnd)[3] = 0x7f; }},
      {"name rows", [](Chunks* c, const DemoLayout&) { FromEnd(c, kNamesFromEnd)[7] = 0x7f; }},
      {"variable store depth", [](Chunks* c, const DemoLayout&) { FromEnd(c, 2)[4] = 3; }},
  };
  for (const Case& c : kCases) {
    Chunks bad = image;
    c.spoil(&bad, demo);
    GrowingRuntime target(int64_t{1} << 20);
    EXPECT_EQ(Restore(&target.block, bad), kInitError) << c.what;
    ExpectEmptyAndUsable(target.block);
  }
}

}  // namespace
