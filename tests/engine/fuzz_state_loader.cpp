// Fuzz target of LoadEngineState: any input loads, or is refused with 305,
// 1-6 or 600, without a fault; an accepted state survives a move into a
// larger block and a save and load round trip, and after any input the
// engine resets and runs a command.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/threads.h"
#include "engine/vm.h"
#include "tests/support/byte_reader.h"
#include "tools/imagewriter.h"

namespace {

constexpr size_t kBlockBytes = 64 * 1024;

bool Known(StatusCode st) {
  return st == kOk || st == kEof || st == kInitError || (st >= kDescStackFull && st <= kCodeOverflow);
}

// A broken promise stops the run with the line that saw it.
#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "state_loader_fuzz: check at line %d failed\n", line);
  std::abort();
}

EngineContext* Start(std::vector<uint64_t>* block) {
  EngineContext* ctx = nullptr;
  Check(InitEngineContext(block->data(), block->size() * 8, &ctx) == kOk);
  Check(InstallCoreLibrary(ctx, GetCoreLibraryTable()) == kOk);
  Check(InstallNativeLibrary(ctx, kEngineMessageTables, false) == kOk);
  Check(ResetEngineToBaseFrame(ctx) == kOk);
  return ctx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint64_t> block(kBlockBytes / 8);
  EngineContext* ctx = Start(&block);
  ByteReader in{data, size};
  const StatusCode st = LoadEngineState(ctx, &ByteReader::Read, &in);
  Check(Known(st));

  if (st == kOk) {
    // What was accepted saves and loads again.
    std::vector<uint8_t> image;
    SaveEngineState(ctx, &image);
    std::vector<uint64_t> other(kBlockBytes / 8);
    EngineContext* second = Start(&other);
    ByteReader again{image.data(), image.size()};
    Check(LoadEngineState(second, &ByteReader::Read, &again) == kOk);

    // And it moves into a larger block, the region chosen by the input.
    std::vector<uint64_t> larger(2 * block.size());
    MakeContextPointersRelative(ctx);
    std::memcpy(larger.data(), block.data(), block.size() * 8);
    ctx = reinterpret_cast<EngineContext*>(larger.data());
    RelocateEngineContext(ctx, static_cast<int64_t>(larger.size() * 8), size > 0 ? data[size - 1] % 8 : 0);
    block.swap(larger);
  }

  // As a host does before a reset: every interpreter thread ends.
  while (ctx->threadListHead != 0) UnlinkInterpreterThread(ctx, ctx->threadListHead);
  Check(ResetEngineToBaseFrame(ctx) == kOk);
  const char kCommand[] = "x = 1 + 2;";
  StatusCode run = EvaluateCommandLine(ctx, kCommand, sizeof kCommand - 1, true);
  if (run == kSuspended) run = RunInterpreter(ctx, 0);
  // After a refusal the engine is as fresh; a state that was accepted may
  // leave too little room, or name libraries whose sources are not there.
  if (st != kOk && run != kOk) std::fprintf(stderr, "state_loader_fuzz: the command answered %d\n", run);
  Check(st == kOk || run == kOk);
  return 0;
}
