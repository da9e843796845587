// Fuzz target of RestoreApplicationImage: any input restores, or is refused
// with a known code, without a fault; a refused image leaves the runtime
// empty and running code; an accepted one is walked by the runtime's own
// readers and written and restored again. The restore runs no handler: the
// block's post-handler hook stops the run if one ever does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "runtime/runtime.h"
#include "tests/support/byte_reader.h"
#include "tools/appimagewriter.h"

namespace {

constexpr int64_t kBlockBytes = int64_t{256} << 10;
constexpr int64_t kMaximumBytes = int64_t{2} << 20;

void Extension(RuntimeBlock*, const char*, int32_t, void*) {}

#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "image_restore_fuzz: check at line %d failed\n", line);
  std::abort();
}

void NoHandler(RuntimeBlock*, int32_t, void*) { Check(false); }

// The host's block, grown to 3/2 of what the runtime names, refused at the maximum.
struct Host {
  std::vector<uint64_t> memory;
  RuntimeBlock* block = nullptr;

  Host() : memory(static_cast<size_t>(kBlockBytes / 8)) {
    Check(CreateRuntime(&block, memory.data(), kBlockBytes, 0, 1) == kOk);
    Check(InstallCoreLibrary(RuntimeEngine(block), GetCoreLibraryTable()) == kOk);
    SetMemoryGrowthCallback(block, &Grow, this);
    block->postHandler = &NoHandler;
  }
  static bool Grow(RuntimeBlock** block, int64_t* size, void* data) {
    auto* host = static_cast<Host*>(data);
    const int64_t have = 8 * static_cast<int64_t>(host->memory.size());
    const int64_t want = *size * 3 / 2;
    if (want > kMaximumBytes || want <= have) return false;
    host->memory.resize(static_cast<size_t>((want + 7) / 8));
    *block = reinterpret_cast<RuntimeBlock*>(host->memory.data());
    *size = want;
    return true;
  }
};

bool Known(StatusCode st) {
  return st == kOk || st == kEof || st == kIllegal || st == kInitError || (st >= 1 && st <= 6) ||
         IsGrowAndRetryStatus(st) || st == kTooSmallNameBuf;
}

// Every instance's items and texts, through the readers the runtime uses.
void WalkInstances(RuntimeBlock* b) {
  for (int32_t i = 0; i < b->instanceCount; ++i) {
    const int32_t id = InstanceRecordAt(b, i)->id;
    int32_t position = -1;
    int steps = 0;
    while (FindNextCodeItem(b, id, &position, kItemFigure) == kOk) Check(++steps <= b->codeWordsUsed);
    const char* text = nullptr;
    int32_t length = 0;
    (void)GetInstanceTitle(b, id, &text, &length);
    FigureHandlers handlers{};
    const InstanceRecord* r = InstanceRecordAt(b, i);
    for (int32_t s = 0; s < r->rows * r->columns; ++s)
      (void)ResolveFigureHandlers(b, id, r->subplots[s].figureShown, 0, &handlers);
  }
}

StatusCode RunCommand(EngineContext* ctx, const char* text) {
  const StatusCode st = EvaluateCommandLine(ctx, text, static_cast<int32_t>(std::strlen(text)), true);
  return st == kSuspended ? RunInterpreter(ctx, 0) : st;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Host host;
  ByteReader in{data, size};
  const StatusCode st =
      RestoreApplicationImage(&host.block, &ByteReader::Read, &ByteReader::Position, &in, &Extension, nullptr);
  if (!Known(st)) std::fprintf(stderr, "image_restore_fuzz: the restore answered %d\n", st);
  Check(Known(st));
  RuntimeBlock* b = host.block;

  if (st == kInitError) {
    Check(b->instanceCount == 1 && b->codeWordsUsed == 0);
    Check(RunCommand(RuntimeEngine(b), "x = 1 + 2;") == kOk);
  }
  if (st != kOk) return 0;

  WalkInstances(b);
  // What was accepted writes and restores again.
  const std::vector<std::vector<uint8_t>> chunks = WriteApplicationImageChunks(b);
  Host again;
  ImageChunks image{chunks, 0};
  const StatusCode second =
      RestoreApplicationImage(&again.block, &ReadImageChunk, &SeekImageChunk, &image, &Extension, nullptr);
  if (second != kOk) std::fprintf(stderr, "image_restore_fuzz: the image written again answered %d\n", second);
  Check(second == kOk);
  return 0;
}
