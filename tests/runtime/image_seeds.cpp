// Writes valid application images into a folder, as the seed corpus of the
// restore's fuzz target: the demonstration application, the same with
// extension names, and an empty runtime.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/runtime/imagefixture.h"

namespace {

struct Seed {
  const char* name;
  bool demo;
  const char* extensions;
};
const Seed kSeeds[] = {{"demo", true, ""}, {"demo_extensions", true, ";a;b;"}, {"empty", false, ""}};

bool Write(const std::string& path, const std::vector<std::vector<uint8_t>>& chunks) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = true;
  for (const std::vector<uint8_t>& c : chunks) ok = ok && std::fwrite(c.data(), 1, c.size(), f) == c.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: image_seeds FOLDER\n", stderr);
    return 2;
  }
  for (const Seed& seed : kSeeds) {
    // The fuzz target restores into a block of this size.
    GrowingRuntime rt(int64_t{256} << 10);
    if (seed.demo) BuildDemoApplication(rt.block);
    if (!Write(std::string(argv[1]) + "/" + seed.name + ".img",
               WriteApplicationImageChunks(rt.block, seed.extensions))) {
      std::fprintf(stderr, "image_seeds: no image for %s\n", seed.name);
      return 1;
    }
  }
  // The fixture's checks report outside any test.
  return ::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed() ? 1 : 0;
}
