// The language's console host. For now it brings an engine to life in a block
// of its own and reports the engine's version.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/engine.h"

int main() {
  constexpr size_t kBlockBytes = 1 << 20;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlockBytes / 8]);
  EngineContext* ctx = nullptr;
  if (StatusCode st = InitEngineContext(block.get(), kBlockBytes, &ctx); st != kOk) {
    std::fprintf(stderr, "engine initialisation failed (%d)\n", st);
    return EXIT_FAILURE;
  }
  auto version = GetService<const char* (*)()>(ctx, Service::GetEngineVersionText);
  std::printf("%s\n", version());
  return EXIT_SUCCESS;
}
