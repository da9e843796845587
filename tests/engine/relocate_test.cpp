// Moving and growing the block while a program is suspended in it, and saved
// engine states: written from a live context, loaded into the same and into
// other blocks and run on; truncated, out-of-range and corrupted images.
#include "engine/relocate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/threads.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"
#include "tools/imagewriter.h"

namespace {

// One engine in a block of its own, its descriptors 1 and 2 captured. Every
// engine installs the same libraries in the same order, so native numbers in
// compiled code mean the same in each.
class Engine {
 public:
  explicit Engine(size_t bytes) : block_(bytes / 8, 0) {
    hooks_[0] = Record(nullptr, "@relocatetest");
    hooks_[1] = Record(AsNativeHandler(&Write), "+write");
    hooks_[1].minInputs = 1;  // LF line ends
    hooks_[1].userData = this;
    hooks_[2] = {};
    started_ = InitEngineContext(block_.data(), bytes, &ctx) == kOk &&
               InstallCoreLibrary(ctx, GetCoreLibraryTable()) == kOk &&
               InstallNativeLibrary(ctx, kEngineMessageTables, false) == kOk &&
               InstallNativeLibrary(ctx, hooks_, false) == kOk && ResetEngineToBaseFrame(ctx) == kOk;
  }

  bool started() const { return started_; }
  size_t bytes() const { return block_.size() * 8; }

  // Compiles a command line and runs it; with poll every backward jump
  // suspends, and between(k) runs at the k-th suspension before the run goes on.
  StatusCode Command(const std::string& text, bool poll = false, const std::function<void(int)>& between = {}) {
    const StatusCode st = EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true);
    if (st != kSuspended) return st;
    return Resume(poll, between);
  }

  [[nodiscard]] StatusCode Resume(bool poll = false, const std::function<void(int)>& between = {}) {
    StatusCode st = RunInterpreter(ctx, poll ? 1 : 0);
    for (int k = 0; st == kSuspended && k < 100000; ++k) {
      if (between) between(k);
      st = RunInterpreter(ctx, poll ? 1 : 0);
    }
    return st;
  }

  void Move(size_t bytes, int32_t choice) { MoveEngineBlock(block_, ctx, bytes / 8, choice); }

  // What reached descriptor 1 since the last call, each line without the
  // display's leading blanks.
  std::string TakeOutput() {
    std::string lines;
    bool start = true;
    for (char ch : std::exchange(out_, "")) {
      if (start && ch == ' ') continue;
      lines += ch;
      start = ch == '\n';
    }
    return lines;
  }
  const std::string& errors() const { return err_; }

  EngineContext* ctx = nullptr;

 private:
  static NativeFunctionRecord Record(NativeHandler handler, const char* name) {
    NativeFunctionRecord r{};
    r.handler = handler;
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.maxInputs = kAnyCount;
    r.maxOutputs = 1;
    return r;
  }

  [[nodiscard]] static StatusCode Write(EngineContext*, int32_t descriptor, const char* bytes, int32_t length,
                                        void* data) {
    auto* self = static_cast<Engine*>(data);
    if (length < 0) length = static_cast<int32_t>(std::strlen(bytes));
    if (descriptor == 1)
      self->out_.append(bytes, length);
    else if (descriptor == 2)
      self->err_.append(bytes, length);
    else if (descriptor != 3)
      return kBadFileId;
    return kOk;
  }

  std::vector<uint64_t> block_;
  NativeFunctionRecord hooks_[3]{};
  std::string out_, err_;
  bool started_ = false;
};

std::unique_ptr<Engine> StartEngine(size_t bytes) { return std::make_unique<Engine>(bytes); }

// Functions that call each other inside loops, a structure field (a symbol)
// and globals, all printed as the run goes.
const char kProgram[] =
    "function r = sq(x)\n"
    "  r = x .* x;\n"
    "endfunction\n"
    "function r = acc(n)\n"
    "  r = 0;\n"
    "  for k = 1:n\n"
    "    r = r + sq(k);\n"
    "  end\n"
    "endfunction\n"
    "total = 0;\n"
    "s.alpha = 10;\n"
    "for i = 1:4\n"
    "  total = total + acc(i) + s.alpha;\n"
    "  disp(total)\n"
    "end\n";

// What the program prints, run without interruption.
std::string ReferenceOutput() {
  auto e = StartEngine(256 * 1024);
  EXPECT_TRUE(e->started());
  EXPECT_EQ(e->Command(kProgram), kOk) << e->errors();
  return e->TakeOutput();
}

// The header's fields of the four regions.
struct Sizes {
  int32_t data, heap, desc, code, entries;
  bool operator==(const Sizes&) const = default;
};
Sizes SizesOf(const EngineContext* ctx) {
  return {ctx->dataCapacity, ctx->heapSize, ctx->descCapacity, ctx->codeSize, ctx->entryCapacity};
}
void PrintTo(const Sizes& s, std::ostream* os) {
  *os << "{data " << s.data << ", heap " << s.heap << ", desc " << s.desc << ", code " << s.code << ", entries "
      << s.entries << "}";
}

// Where the regions start, in bytes from the block's start.
std::vector<intptr_t> RegionOffsets(const EngineContext* ctx) {
  const auto at = [ctx](const void* p) { return reinterpret_cast<intptr_t>(p) - reinterpret_cast<intptr_t>(ctx); };
  return {at(ctx->dataBase), at(ctx->heapBase), at(ctx->descBase), at(ctx->codeBase)};
}

// ---------------------------------------------------------------------------
// Relocation.

TEST(RelocateTest, RelativeThenRelocatedInPlaceLeavesTheHeaderUnchanged) {
  auto e = StartEngine(64 * 1024);
  ASSERT_TRUE(e->started());
  ASSERT_EQ(e->Command("x = 5;"), kOk);
  std::vector<uint8_t> before(kContextHeaderBytes);
  std::memcpy(before.data(), e->ctx, before.size());
  MakeContextPointersRelative(e->ctx);
  EXPECT_EQ(e->ctx->libraries, reinterpret_cast<LibraryListEntry*>(kContextHeaderBytes));
  RelocateEngineContext(e->ctx, 0, 0);
  EXPECT_EQ(std::memcmp(before.data(), e->ctx, before.size()), 0);
}

TEST(RelocateTest, GrowingWhileSuspendedKeepsTheProgramRunning) {
  const std::string want = ReferenceOutput();
  ASSERT_EQ(want, "11\n26\n50\n90\n");
  // Which sizes grow with each choice; the others stay.
  struct Case {
    int32_t choice;
    bool data, heap, desc, code;
  };
  const Case kCases[] = {
      {kDescStackFull, false, false, true, false},  {kDescStackFullToo, false, false, true, false},
      {kDataStackFull, true, false, false, false},  {kDataStackFullToo, true, false, false, false},
      {kHeapFull, false, true, false, false},       {kCodeOverflow, false, false, false, true},
      {kSymbTableTooLarge, true, true, true, true}, {0, true, true, true, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.choice);
    auto e = StartEngine(256 * 1024);
    ASSERT_TRUE(e->started());
    Sizes before{}, after{};
    int32_t codeBefore = 0, frameBefore = 0;
    // The first suspension inside acc, two frames above the base.
    bool moved = false;
    const StatusCode st = e->Command(kProgram, true, [&](int) {
      if (moved || e->ctx->pc.space != kCodeArea) return;
      moved = true;
      before = SizesOf(e->ctx);
      codeBefore = e->ctx->pc.space;
      frameBefore = e->ctx->frameIndex;
      e->Move(2 * e->bytes(), c.choice);
      after = SizesOf(e->ctx);
    });
    EXPECT_EQ(st, kOk) << e->errors();
    EXPECT_EQ(e->TakeOutput(), want);
    EXPECT_EQ(codeBefore, kCodeArea);
    EXPECT_GT(frameBefore, 0);
    EXPECT_EQ(after.data > before.data, c.data);
    EXPECT_EQ(after.heap > before.heap, c.heap);
    EXPECT_EQ(after.desc > before.desc, c.desc);
    EXPECT_EQ(after.code > before.code, c.code);
    EXPECT_GE(after.data, before.data);
    EXPECT_GE(after.heap, before.heap);
    // Growing the code area by this much enlarges the table: code moves.
    if (c.code) {
      EXPECT_GT(after.entries, before.entries);
    }
    // Variables, functions and symbols still answer, and the heap allocates.
    EXPECT_EQ(e->Command("z = [1, 2, 3, 4, 5, 6, 7, 8]; disp(z(8) + total + sq(3) + s.alpha)"), kOk) << e->errors();
    EXPECT_EQ(e->TakeOutput(), "117\n");
    EXPECT_EQ(e->errors(), "");
  }
}

TEST(RelocateTest, SeveralMovesInOneRun) {
  const std::string want = ReferenceOutput();
  auto e = StartEngine(128 * 1024);
  ASSERT_TRUE(e->started());
  const int32_t kChoices[] = {kCodeOverflow, kHeapFull, 0, kDescStackFull, kDataStackFull};
  // Moves without growth (size 0) in between: only the addresses change.
  EXPECT_EQ(e->Command(kProgram, true,
                       [&](int k) {
                         if (k % 2 == 1)
                           e->Move(e->bytes(), 0);
                         else if (k / 2 < static_cast<int>(std::size(kChoices)))
                           e->Move(e->bytes() * 3 / 2, kChoices[k / 2]);
                       }),
            kOk)
      << e->errors();
  EXPECT_EQ(e->TakeOutput(), want);
}

TEST(RelocateTest, DefaultProportionsThatWouldShrinkARegionOnlyMoveTheBlock) {
  auto e = StartEngine(128 * 1024);
  ASSERT_TRUE(e->started());
  ASSERT_EQ(e->Command("a = 7;"), kOk);
  // All growth to the heap; the default proportions of a slightly larger
  // block then give the heap fewer cells than it has.
  e->Move(512 * 1024, kHeapFull);
  const Sizes grown = SizesOf(e->ctx);
  e->Move(520 * 1024, 0);
  EXPECT_EQ(SizesOf(e->ctx), grown);
  EXPECT_EQ(e->Command("disp(a)"), kOk);
  EXPECT_EQ(e->TakeOutput(), "7\n");
}

TEST(RelocateTest, GrowingToTheDefaultProportionsLaysOutLikeAFreshEngine) {
  // 24 KB and 64 KB give a code area whose table takes the denser fallback;
  // 1 MB does not.
  for (const size_t bytes : {size_t{24} << 10, size_t{64} << 10, size_t{1} << 20}) {
    SCOPED_TRACE(bytes);
    auto grown = StartEngine(16 * 1024);
    auto fresh = StartEngine(bytes);
    ASSERT_TRUE(grown->started());
    ASSERT_TRUE(fresh->started());
    grown->Move(bytes, 0);
    EXPECT_EQ(SizesOf(grown->ctx), SizesOf(fresh->ctx));
    EXPECT_EQ(RegionOffsets(grown->ctx), RegionOffsets(fresh->ctx));
  }
}

TEST(RelocateTest, GrowingTheCodeAreaKeepsEverySymbol) {
  auto e = StartEngine(64 * 1024);
  ASSERT_TRUE(e->started());
  ASSERT_EQ(e->Command("q.first = 1; q.second = 2; q.third_field = 3;"), kOk);
  std::vector<std::string> names;
  const auto* end = reinterpret_cast<const uint8_t*>(e->ctx->codeBase + e->ctx->codeSize);
  std::vector<SymbolId> ids;
  for (int32_t at = e->ctx->symbolBytes; at < 0; at += end[at] + 1) ids.push_back(at);
  for (SymbolId id : ids) names.emplace_back(SymbolText(e->ctx, id), SymbolLength(e->ctx, id));
  ASSERT_FALSE(ids.empty());
  e->Move(256 * 1024, kCodeOverflow);
  for (size_t k = 0; k < ids.size(); ++k)
    EXPECT_EQ(std::string(SymbolText(e->ctx, ids[k]), SymbolLength(e->ctx, ids[k])), names[k]);
  EXPECT_EQ(e->Command("disp(q.second + q.third_field)"), kOk);
  EXPECT_EQ(e->TakeOutput(), "5\n");
}

// ---------------------------------------------------------------------------
// Saved state.

[[nodiscard]] StatusCode Load(Engine& e, const std::vector<uint8_t>& image, size_t length = SIZE_MAX) {
  return LoadImageFromMemory(e.ctx, image, length);
}

// The program saved at its first suspension inside acc, before it printed.
std::vector<uint8_t> SuspendedImage(Engine& e) {
  std::vector<uint8_t> image;
  const StatusCode st = e.Command(kProgram, true, [&](int) {
    if (image.empty() && e.ctx->pc.space == kCodeArea) SaveEngineState(e.ctx, &image);
  });
  EXPECT_EQ(st, kOk) << e.errors();
  return image;
}

TEST(StateImageTest, LoadedIntoTheSameAndALargerBlockTheProgramRunsOn) {
  const std::string want = ReferenceOutput();
  auto source = StartEngine(256 * 1024);
  ASSERT_TRUE(source->started());
  const std::vector<uint8_t> image = SuspendedImage(*source);
  ASSERT_GT(image.size(), static_cast<size_t>(kStateHeaderBytes));

  // Into the same context, which has run on since; then into a larger block
  // whose table has another capacity.
  auto larger = StartEngine(1024 * 1024);
  ASSERT_TRUE(larger->started());
  ASSERT_NE(larger->ctx->entryCapacity, source->ctx->entryCapacity);
  for (Engine* e : {source.get(), larger.get()}) {
    e->TakeOutput();
    ASSERT_EQ(Load(*e, image), kOk);
    EXPECT_EQ(e->ctx->frameIndex > 0, true);
    EXPECT_EQ(e->Resume(), kOk) << e->errors();
    // Saved before the first line was printed: the whole output follows.
    EXPECT_EQ(e->TakeOutput(), want);
    EXPECT_EQ(e->Command("disp(total + sq(3) + s.alpha)"), kOk) << e->errors();
    EXPECT_EQ(e->TakeOutput(), "109\n");
  }
}

TEST(StateImageTest, AnImageOfMoreEntriesThanTheTableHoldsRaisesItsCapacity) {
  auto source = StartEngine(512 * 1024);
  ASSERT_TRUE(source->started());
  std::string text;
  for (int k = 0; k < 60; ++k)
    text += "function r = f" + std::to_string(k) + "()\n  r = " + std::to_string(k) + ";\nendfunction\n";
  text += "v = f1();";
  ASSERT_EQ(source->Command(text), kOk) << source->errors();
  std::vector<uint8_t> image;
  SaveEngineState(source->ctx, &image);

  auto small = StartEngine(40 * 1024);
  ASSERT_TRUE(small->started());
  const int32_t entries = source->ctx->entriesInUse;
  ASSERT_LT(small->ctx->entryCapacity, entries);
  ASSERT_EQ(Load(*small, image), kOk);
  EXPECT_EQ(small->ctx->entryCapacity, entries);
  EXPECT_EQ(small->ctx->codeTop,
            kEntryWords * entries + (source->ctx->codeTop - kEntryWords * source->ctx->entryCapacity));
  EXPECT_EQ(small->Command("disp(f37() + f59() + v)"), kOk) << small->errors();
  EXPECT_EQ(small->TakeOutput(), "97\n");
}

TEST(StateImageTest, TheHeapBeyondTheImageIsOneFreeBlock) {
  auto source = StartEngine(128 * 1024);
  ASSERT_TRUE(source->started());
  ASSERT_EQ(source->Command("w = 3;"), kOk);
  std::vector<uint8_t> partial;
  SaveEngineState(source->ctx, &partial);
  // Then every free cell taken: the image's heap is the whole heap.
  const int32_t used = HeapCellsInUse(source->ctx);
  int32_t block = 0;
  ASSERT_EQ(AllocateHeapBlock(source->ctx, source->ctx->heapSize - used - 1, &block), kOk);
  std::vector<uint8_t> full;
  SaveEngineState(source->ctx, &full);

  auto target = StartEngine(128 * 1024);
  ASSERT_TRUE(target->started());
  ASSERT_EQ(Load(*target, partial), kOk);
  const Cell* heap = target->ctx->heapBase;
  EXPECT_EQ(heap[used].w[0], static_cast<uint32_t>(target->ctx->heapSize - used - 1));
  ASSERT_EQ(Load(*target, full), kOk);
  EXPECT_EQ(HeapCellsInUse(target->ctx), target->ctx->heapSize);
  EXPECT_NE(heap[block - 1].w[0] & kHeapInUse, 0u);
  EXPECT_EQ(target->Command("disp(w)"), kOk);
  EXPECT_EQ(target->TakeOutput(), "3\n");
}

// Little-endian patch of a 32-bit field.
void Patch(std::vector<uint8_t>* image, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) (*image)[at + k] = static_cast<uint8_t>(v >> (8 * k));
}
uint32_t Field(const std::vector<uint8_t>& image, size_t at) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= uint32_t{image[at + k]} << (8 * k);
  return v;
}

// Nothing of the block changes on a refusal for room or a missing header.
TEST(StateImageTest, RegionsTooSmallAndMissingHeadersChangeNothing) {
  auto source = StartEngine(256 * 1024);
  ASSERT_TRUE(source->started());
  const std::vector<uint8_t> image = SuspendedImage(*source);
  auto target = StartEngine(64 * 1024);
  ASSERT_TRUE(target->started());
  ASSERT_EQ(target->Command("keep = 4;"), kOk);
  const EngineContext* t = target->ctx;
  struct Case {
    size_t field;
    int64_t value;  // -1: as it is
    size_t length;  // bytes delivered
    StatusCode want;
  };
  const Case kCases[] = {
      {0, t->descCapacity + 1, SIZE_MAX, kDescStackFull},
      {4, t->dataCapacity + 1, SIZE_MAX, kDataStackFull},
      {8, t->heapSize + 1, SIZE_MAX, kHeapFull},
      {16, t->codeSize, SIZE_MAX, kCodeOverflow},
      {12, t->codeSize / 8, SIZE_MAX, kCodeOverflow},
      {20, 2 * t->codeSize - 16 * t->entryCapacity, SIZE_MAX, kCodeOverflow},
      {0, -1, 0, kEof},
      {0, -1, kStateHeaderBytes - 1, kEof},
  };
  std::vector<uint8_t> before(target->bytes());
  for (const Case& c : kCases) {
    std::vector<uint8_t> patched = image;
    if (c.value >= 0) Patch(&patched, c.field, static_cast<uint32_t>(c.value));
    std::memcpy(before.data(), target->ctx, before.size());
    EXPECT_EQ(Load(*target, patched, c.length), c.want) << c.field;
    EXPECT_EQ(std::memcmp(before.data(), target->ctx, before.size()), 0) << c.field;
  }
  EXPECT_EQ(LoadEngineState(
                target->ctx, [](void*, int32_t, void*) { return false; }, nullptr),
            kEof);
  EXPECT_EQ(target->Command("disp(keep)"), kOk);
  EXPECT_EQ(target->TakeOutput(), "4\n");
}

// After a failed load the engine resets and runs.
void ExpectUsableAfterReset(Engine& e) {
  ASSERT_EQ(ResetEngineToBaseFrame(e.ctx), kOk);
  // The display settings are the image's; a corrupted one may carry any.
  SetEngineDisplayFormat(e.ctx, 'g', 4, 'j', false, 24, false);
  e.TakeOutput();
  EXPECT_EQ(e.Command("u = 2 + 3; disp(u)"), kOk) << e.errors();
  EXPECT_EQ(e.TakeOutput(), "5\n");
}

TEST(StateImageTest, EveryTruncationIsRefused) {
  auto source = StartEngine(64 * 1024);
  ASSERT_TRUE(source->started());
  const std::vector<uint8_t> image = SuspendedImage(*source);
  auto target = StartEngine(64 * 1024);
  ASSERT_TRUE(target->started());
  for (size_t length = 0; length < image.size(); ++length) {
    const StatusCode st = Load(*target, image, length);
    EXPECT_EQ(st, length < static_cast<size_t>(kStateHeaderBytes) ? kEof : kInitError) << length;
    if (length % 97 == 0 || length + 1 == image.size()) ExpectUsableAfterReset(*target);
  }
  EXPECT_EQ(Load(*target, image), kOk);
}

TEST(StateImageTest, FieldsOutOfRangeAreRefused) {
  auto source = StartEngine(128 * 1024);
  ASSERT_TRUE(source->started());
  const std::vector<uint8_t> image = SuspendedImage(*source);
  const size_t h0 = Field(image, 0), h1 = Field(image, 4), h2 = Field(image, 8), h3 = Field(image, 12),
               h4 = Field(image, 16);
  const size_t desc = kStateHeaderBytes, heap = desc + 4 * h0 + 8 * h1, entries = heap + 8 * h2,
               code = entries + 16 * h3, symbols = code + 2 * h4;
  const uint32_t frame = Field(image, 24);
  // The first function entry after entry 0 and the library entry of "_cli".
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  };
  const Case kCases[] = {
      {"current thread", 232, 8},
      {"frame index", 24, static_cast<uint32_t>(h0)},
      {"frame index inside a frame", 24, frame + 1},
      {"pc space", 28, 5},  // no code space has that number
      {"pc offset odd", 36, Field(image, 36) + 1},
      {"pc offset beyond the code", 36, static_cast<uint32_t>(2 * (8 * h3 + h4))},
      {"pc offset inside the table", 36, 2},
      {"frame link", desc + 4 * frame + 8, frame + 1},
      {"frame caller offset", desc + 4 * frame + 4, 0x7FFFFFF0},
      {"frame variable count", desc + 4 * frame + 44, 0x10000},
      {"frame slot", desc + 4 * frame + 4 * kFrameHeaderWords, 3},
      {"frame function", desc + 4 * frame + 76, static_cast<uint32_t>(h3)},
      {"heap header", heap, 0x3FFFFFFF},
      {"heap block past the image's heap", heap, static_cast<uint32_t>(h2) | kHeapInUse},
      {"entry kind", entries + 16 + 0, 5},
      {"entry name symbol", entries + 16 + 0, static_cast<uint32_t>(-1)},
      {"entry code position", entries + 16 + 8, static_cast<uint32_t>(8 * h3 + h4 + 4)},
      {"symbol length zero", symbols, 0},
      {"semaphore table", 244, 3},
      {"thread list", 236, 1},
  };
  auto target = StartEngine(128 * 1024);
  ASSERT_TRUE(target->started());
  for (const Case& c : kCases) {
    std::vector<uint8_t> patched = image;
    Patch(&patched, c.at, c.value);
    EXPECT_EQ(Load(*target, patched), kInitError) << c.what;
    ExpectUsableAfterReset(*target);
  }
  ASSERT_EQ(Load(*target, image), kOk);
  EXPECT_EQ(target->Resume(), kOk) << target->errors();
}

TEST(StateImageTest, RandomCorruptionNeverCrashes) {
  auto source = StartEngine(64 * 1024);
  ASSERT_TRUE(source->started());
  const std::vector<uint8_t> image = SuspendedImage(*source);
  auto target = StartEngine(64 * 1024);
  ASSERT_TRUE(target->started());
  std::mt19937 random(12345);
  int loaded = 0;
  for (int round = 0; round < 1500; ++round) {
    std::vector<uint8_t> corrupt = image;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int k = 0; k < flips; ++k) corrupt[random() % corrupt.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    const StatusCode st = Load(*target, corrupt);
    const bool known = st == kOk || st == kInitError || st == kEof || (st >= kDescStackFull && st <= kCodeOverflow);
    EXPECT_TRUE(known) << st;
    loaded += st == kOk;
    if (round % 50 == 0 || st != kOk) ExpectUsableAfterReset(*target);
  }
  EXPECT_GT(loaded, 0);
}

// ---------------------------------------------------------------------------
// Threads.

int64_t HeapOffset(const EngineContext* ctx) {
  return reinterpret_cast<const char*>(ctx->heapBase) - reinterpret_cast<const char*>(ctx);
}

// A thread of worker(3) started by hand, waiting for its first turn.
void StartWorker(Engine& e, int32_t* id) {
  ASSERT_EQ(e.Command("function worker(n)\n  for k = 1:n\n    disp(k .* 100)\n  end\nendfunction\n"), kOk);
  const int32_t library = FindLibraryEntry(e.ctx, FindSymbol(e.ctx, "_cli", 4));
  ASSERT_GT(library, 0);
  ASSERT_EQ(PushStringFromBytes(e.ctx, 6, "worker"), kOk);
  ASSERT_EQ(PushRealScalar(e.ctx, 3), kOk);
  ASSERT_EQ(CreateInterpreterThread(e.ctx, 4096, library, 1, false, kDefaultPriority, id), kOk) << e.errors();
}

// A thread started by hand and left waiting, or running when the block moves:
// its record and stacks move with the heap and its positions with the code;
// it then runs to its end.
TEST(RelocateTest, AWaitingThreadRunsAfterTheMove) {
  for (const int32_t choice : {kCodeOverflow, kHeapFull}) {
    SCOPED_TRACE(choice);
    auto e = StartEngine(256 * 1024);
    ASSERT_TRUE(e->started());
    int32_t id = 0;
    StartWorker(*e, &id);
    const int32_t h = e->ctx->threadListHead;
    ASSERT_GT(h, 0);
    const bool running = choice == kHeapFull;
    if (running) SwitchInterpreterThread(e->ctx, h);
    const ThreadRecord before = *ThreadRecordAt(e->ctx, h);
    const int32_t entriesBefore = e->ctx->entryCapacity;
    const int64_t heapBefore = HeapOffset(e->ctx);
    const std::vector<int32_t> frames(
        reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(e->ctx) + before.descBase),
        reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(e->ctx) + before.descBase) + before.descLength);

    e->Move(2 * e->bytes(), choice);
    const ThreadRecord* after = ThreadRecordAt(e->ctx, h);
    const int32_t shift = 16 * (e->ctx->entryCapacity - entriesBefore);
    EXPECT_EQ(choice == kCodeOverflow, shift > 0);
    EXPECT_EQ(after->id, id);
    EXPECT_EQ(after->descLength, before.descLength);
    // The stacks keep their place in the heap block.
    EXPECT_EQ(after->descBase - before.descBase, HeapOffset(e->ctx) - heapBefore);
    EXPECT_EQ(after->dataBase - before.dataBase, HeapOffset(e->ctx) - heapBefore);
    if (before.pcSpace == kCodeArea) {
      EXPECT_EQ(after->pcOffset, before.pcOffset + shift);
    }
    const auto* stack = reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(e->ctx) + after->descBase);
    EXPECT_EQ(stack[before.frameIndex + 1] - frames[before.frameIndex + 1],
              before.frameIndex >= 0 && frames[before.frameIndex] == kCodeArea ? shift : 0);

    // The running thread's stacks are reached through the context.
    EXPECT_EQ(e->ctx->currentThread, running ? h : 0);
    if (running) {
      EXPECT_EQ(reinterpret_cast<const char*>(e->ctx->descBase) - reinterpret_cast<const char*>(e->ctx),
                after->descBase);
    }

    SwitchInterpreterThread(e->ctx, h);
    EXPECT_EQ(e->Resume(), kOk) << e->errors();
    EXPECT_EQ(e->TakeOutput(), "100\n200\n300\n");
  }
}

// The growth is worked out from the main thread's stacks, whichever thread
// runs: a thread's small stacks must not become the main thread's.
TEST(RelocateTest, GrowingWhileAThreadRunsSizesTheMainThreadsStacks) {
  for (const int32_t choice : {kHeapFull, kCodeOverflow, kDataStackFull, kDescStackFull, 0}) {
    SCOPED_TRACE(choice);
    auto e = StartEngine(256 * 1024);
    ASSERT_TRUE(e->started());
    int32_t id = 0;
    StartWorker(*e, &id);
    const int32_t h = e->ctx->threadListHead;
    const Sizes main = SizesOf(e->ctx);
    SwitchInterpreterThread(e->ctx, h);
    const int32_t threadDesc = e->ctx->descCapacity, threadData = e->ctx->dataCapacity;

    e->Move(2 * e->bytes(), choice);
    EXPECT_EQ(e->ctx->currentThread, h);
    EXPECT_EQ(e->ctx->descCapacity, threadDesc);
    EXPECT_EQ(e->ctx->dataCapacity, threadData);
    SwitchInterpreterThread(e->ctx, 0);
    const Sizes grown = SizesOf(e->ctx);
    EXPECT_GE(grown.desc, main.desc);
    EXPECT_GE(grown.data, main.data);
    EXPECT_GE(grown.heap, main.heap);
    EXPECT_GE(grown.code, main.code);
    EXPECT_NE(grown, main);

    // Both threads still run: the worker, then a command of the main thread.
    SwitchInterpreterThread(e->ctx, h);
    EXPECT_EQ(e->Resume(), kOk) << e->errors();
    EXPECT_EQ(e->TakeOutput(), "100\n200\n300\n");
    EXPECT_EQ(e->Command("z = 7; disp(z + 1)"), kOk) << e->errors();
    EXPECT_EQ(e->TakeOutput(), "8\n");
  }
}

// A refusal for room while an interpreter thread is current leaves that
// thread current and the block as it was; the room asked for is the main
// thread's, which the image replaces.
TEST(StateImageTest, ARefusedLoadKeepsTheRunningThread) {
  auto source = StartEngine(256 * 1024);
  ASSERT_TRUE(source->started());
  std::vector<uint8_t> image;
  SaveEngineState(source->ctx, &image);
  auto target = StartEngine(256 * 1024);
  ASSERT_TRUE(target->started());
  int32_t id = 0;
  StartWorker(*target, &id);
  const int32_t h = target->ctx->threadListHead;
  SwitchInterpreterThread(target->ctx, h);
  const ThreadRecord& main = target->ctx->mainThread;
  for (const auto& [field, value, want] : {std::tuple{size_t{0}, main.descCapacity + 1, kDescStackFull},
                                           std::tuple{size_t{4}, main.dataCapacity + 1, kDataStackFull}}) {
    std::vector<uint8_t> patched = image;
    Patch(&patched, field, static_cast<uint32_t>(value));
    std::vector<uint8_t> before(target->bytes());
    std::memcpy(before.data(), target->ctx, before.size());
    EXPECT_EQ(Load(*target, patched), want) << field;
    EXPECT_EQ(std::memcmp(before.data(), target->ctx, before.size()), 0) << field;
  }
  EXPECT_EQ(Load(*target, image), kOk);
  EXPECT_EQ(target->ctx->currentThread, 0);
}

// An image holding a waiting thread: the loader rebases its record, and the
// thread runs in the new block; a record whose stacks leave its block is refused.
TEST(StateImageTest, ThreadsInAnImageRunAfterTheLoad) {
  auto source = StartEngine(256 * 1024);
  ASSERT_TRUE(source->started());
  int32_t id = 0;
  StartWorker(*source, &id);
  const int32_t h = source->ctx->threadListHead;
  std::vector<uint8_t> image;
  SaveEngineState(source->ctx, &image);

  auto target = StartEngine(1024 * 1024);
  ASSERT_TRUE(target->started());
  ASSERT_EQ(Load(*target, image), kOk);
  ASSERT_EQ(target->ctx->threadListHead, h);
  EXPECT_EQ(ThreadRecordAt(target->ctx, h)->id, id);
  SwitchInterpreterThread(target->ctx, h);
  EXPECT_EQ(target->Resume(), kOk) << target->errors();
  EXPECT_EQ(target->TakeOutput(), "100\n200\n300\n");

  // The record's descriptor-stack length beyond its capacity; a capacity
  // whose stacks would leave the thread's block.
  const size_t record = kStateHeaderBytes + 4 * Field(image, 0) + 8 * Field(image, 4) + 8 * h;
  for (const size_t word : {2, 1}) {
    std::vector<uint8_t> patched = image;
    Patch(&patched, record + 4 * word, 0x7FFFFFF0);
    EXPECT_EQ(Load(*target, patched), kInitError) << word;
    ExpectUsableAfterReset(*target);
  }
}

}  // namespace
