// Fuzz target of the printf engine: the input up to its first NUL is the
// format, each byte after it picks a value to format (its payload read from
// the bytes that follow). Every call ends in a text, "no room", or 44 for
// the list among the values, and pushes nothing but its result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/values/valuestack.h"

namespace {

constexpr size_t kBlockBytes = 256 * 1024;
constexpr int kMaxValues = 8;

#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "printf_fuzz: check at line %d failed\n", line);
  std::abort();
}

[[nodiscard]] StatusCode Write(EngineContext*, int32_t descriptor, const char*, int32_t, void*) {
  return descriptor == kStdoutDescriptor ? kOk : kBadFileId;
}

NativeFunctionRecord gHooks[3]{};

EngineContext* Engine() {
  static std::vector<uint64_t> block(kBlockBytes / sizeof(uint64_t));
  static EngineContext* ctx = nullptr;
  if (ctx == nullptr) {
    Check(InitEngineContext(block.data(), kBlockBytes, &ctx) == kOk);
    Check(InstallCoreLibrary(ctx, GetCoreLibraryTable()) == kOk);
    std::strcpy(gHooks[0].name, "@fuzz");
    gHooks[1].handler = AsNativeHandler(&Write);
    gHooks[1].minInputs = 2;
    std::strcpy(gHooks[1].name, "+write");
    Check(InstallNativeLibrary(ctx, gHooks, false) == kOk);
  }
  return ctx;
}

struct Bytes {
  const uint8_t* at;
  const uint8_t* end;
  uint64_t Take(int n) {
    uint64_t v = 0;
    for (int k = 0; k < n && at < end; ++k) v |= uint64_t{*at++} << (8 * k);
    return v;
  }
};

// Pushes the value the byte picks; true when it is a list.
bool PushPicked(EngineContext* ctx, uint8_t pick, Bytes* b) {
  void* data = nullptr;
  switch (pick % 8) {
    case 0: {
      const uint64_t bits = b->Take(8);
      double x = 0;
      std::memcpy(&x, &bits, sizeof x);
      Check(PushRealScalar(ctx, x) == kOk);
      return false;
    }
    case 1:
    case 2: {
      Check(PushIntegerArray(ctx, 0, nullptr, 8, pick % 8 == 2, &data) == kOk);
      const uint64_t bits = b->Take(8);
      std::memcpy(data, &bits, sizeof bits);
      return false;
    }
    case 3: {
      const auto n = static_cast<int64_t>(b->Take(1) % 16);
      char text[16] = {};
      for (int64_t k = 0; k < n; ++k) text[k] = static_cast<char>(b->Take(1));
      Check(PushStringFromBytes(ctx, n, text) == kOk);
      return false;
    }
    case 4:
      Check(PushEmptyMatrix(ctx) == kOk);
      return false;
    case 5:
      Check(MakeListFromValues(ctx, 0, false, "", 0) == kOk);
      return true;
    case 6: {
      const int32_t dims[] = {1, 3};
      Check(PushIntegerArray(ctx, 2, dims, 1, false, &data) == kOk);
      const uint64_t bits = b->Take(3);
      std::memcpy(data, &bits, 3);
      return false;
    }
    default: {
      double* re = nullptr;
      Check(PushDoubleMatrix(ctx, 2, 2, &re, nullptr) == kOk);
      for (int k = 0; k < 4; ++k) re[k] = static_cast<double>(static_cast<int8_t>(b->Take(1))) / 2;
      return false;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EngineContext* ctx = Engine();
  ctx->descLength = 0;
  ctx->dataTop = 0;
  const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t formatLength = nul != nullptr ? static_cast<size_t>(nul - data) : size;
  Check(PushStringFromBytes(ctx, static_cast<int64_t>(formatLength), reinterpret_cast<const char*>(data)) == kOk);
  Bytes b{data + formatLength + (nul != nullptr ? 1 : 0), data + size};
  int n = 1;
  bool list = false;
  while (b.at < b.end && n <= kMaxValues) {
    const uint8_t pick = static_cast<uint8_t>(b.Take(1));
    list = PushPicked(ctx, pick, &b) || list;
    ++n;
  }
  for (int mode = 0; mode < 2; ++mode) {
    const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
    const char* text = nullptr;
    int64_t length = 0;
    const StatusCode st = FormatPrintfArguments(ctx, n, mode == 1, mode == 1 ? &text : nullptr, &length);
    Check(st == kOk || st == kDataStackFull || (st == kWrongType && list));
    if (st == kDataStackFull) {
      Check(ctx->descLength == descLength && ctx->dataTop == dataTop);
      continue;
    }
    Check(ctx->descLength == descLength + (mode == 1 ? 0 : 3));
    Check(length >= 0);
    ctx->descLength = descLength;
    ctx->dataTop = dataTop;
  }
  return 0;
}
