// Fuzz target of the scan engine behind sscanf and fscanf: the input's first
// byte splits it into a format and a text, scanned as 16-bit characters and
// as a line's bytes. Each scan ends in its results or "no room" with the
// stacks as they were.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/values/valuestack.h"

namespace {

constexpr size_t kBlockBytes = 256 * 1024;

#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "scan_fuzz: check at line %d failed\n", line);
  std::abort();
}

EngineContext* Engine() {
  static std::vector<uint64_t> block(kBlockBytes / sizeof(uint64_t));
  static EngineContext* ctx = nullptr;
  if (ctx == nullptr) {
    Check(InitEngineContext(block.data(), kBlockBytes, &ctx) == kOk);
    Check(InstallCoreLibrary(ctx, GetCoreLibraryTable()) == kOk);
  }
  return ctx;
}

// One scan with the format on top; the results, when there are any, are
// the outputs asked for.
void Scan(EngineContext* ctx, bool bytes, const char* text, int64_t length, int nargout) {
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  StatusCode st = kOk;
  if (bytes) {
    st = ScanFormattedBytes(ctx, text, length, nargout);
  } else {
    const ArrayView a = ReadArray(DataAt(ctx, 1));
    st = ScanFormattedText(ctx, reinterpret_cast<const uint16_t*>(a.data), a.count, nargout);
  }
  Check(st == kOk || st == kDataStackFull);
  if (st != kOk) {
    Check(ctx->descLength == descLength && ctx->dataTop == dataTop);
    return;
  }
  Check(ctx->descLength == descLength + 3 * nargout);
  int32_t m = 0, n = 0;
  double* re = nullptr;
  if (!IsCharArg(ctx, 0)) Check(GetDoubleMatrixArg(ctx, 0, &m, &n, &re, nullptr) == kOk && n <= 1);
  ctx->descLength = descLength;
  ctx->dataTop = dataTop;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  EngineContext* ctx = Engine();
  ctx->descLength = 0;
  ctx->dataTop = 0;
  const size_t split = std::min<size_t>(data[0], size - 1);
  const auto* format = reinterpret_cast<const char*>(data + 1);
  const auto* text = reinterpret_cast<const char*>(data + 1 + split);
  const auto textLength = static_cast<int64_t>(size - 1 - split);
  Check(PushStringFromBytes(ctx, textLength, text) == kOk);
  Check(PushStringFromBytes(ctx, static_cast<int64_t>(split), format) == kOk);
  for (int nargout = 1; nargout <= 3; ++nargout) {
    Scan(ctx, false, text, textLength, nargout);
    Scan(ctx, true, text, textLength, nargout);
  }
  return 0;
}
