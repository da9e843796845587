// Fuzz target of utf8decode: any bytes decode to a row no longer than the
// input, and that row encodes and decodes back to itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/values/valuestack.h"

namespace {

constexpr size_t kBlockBytes = 1024 * 1024;

#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "utf8_fuzz: check at line %d failed\n", line);
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

std::vector<uint16_t> TopCodes(EngineContext* ctx) {
  Check(IsCharArg(ctx, 0));
  const ArrayView a = ReadArray(DataAt(ctx, 0));
  std::vector<uint16_t> codes(static_cast<size_t>(a.count));
  if (a.count > 0) std::memcpy(codes.data(), a.data, codes.size() * 2);
  return codes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  EngineContext* ctx = Engine();
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  void* bytes = nullptr;
  const int32_t dims[] = {1, static_cast<int32_t>(size)};
  Check(PushIntegerArray(ctx, 2, dims, 1, true, &bytes) == kOk);
  if (size > 0) std::memcpy(bytes, data, size);
  Check(Utf8DecodeNative(ctx, 1, 1, nullptr) == kOk);
  const std::vector<uint16_t> decoded = TopCodes(ctx);
  Check(decoded.size() <= size);
  Check(Utf8EncodeNative(ctx, 1, 1, nullptr) == kOk);
  Check(Utf8DecodeNative(ctx, 1, 1, nullptr) == kOk);
  Check(TopCodes(ctx) == decoded);
  Check(ctx->descLength == descLength + 3);
  ctx->descLength = descLength;
  ctx->dataTop = dataTop;
  return 0;
}
