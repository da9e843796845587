// Writes valid saved engine states into a folder, as the seed corpus of the
// loader's fuzz target: plain variables, a program stopped inside a function,
// a waiting interpreter thread, and a table of many functions.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/functionstore.h"
#include "engine/threads.h"
#include "engine/vm.h"
#include "tools/imagewriter.h"

namespace {

// The fuzz target loads into a block of this size.
constexpr size_t kSeedBlockBytes = 64 * 1024;

struct Seed {
  const char* name;
  const char* program;
  bool stopInCode;  // saved at the first suspension inside compiled code
  bool thread;      // a worker(2) thread left waiting
};

const Seed kSeeds[] = {
    {"variables", "x = 4; s.alpha = [1 2 3]; t = 'text';", false, false},
    {"suspended",
     "function r = acc(n)\n  r = 0;\n  for k = 1:n\n    r = r + k;\n  end\nendfunction\n"
     "total = 0;\nfor i = 1:3\n  total = total + acc(i);\nend\n",
     true, false},
    {"thread", "function worker(n)\n  for k = 1:n\n    disp(k)\n  end\nendfunction\n", false, true},
    {"functions",
     "function a = f1()\n a = 1;\nendfunction\nfunction a = f2()\n a = f1() + 1;\nendfunction\n"
     "function a = f3()\n a = f2() + 1;\nendfunction\nv = f3();",
     false, false},
};

bool Write(const std::string& path, const std::vector<uint8_t>& image) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  return std::fclose(f) == 0 && ok;
}

bool MakeSeed(const Seed& seed, std::vector<uint8_t>* image) {
  std::vector<uint64_t> block(kSeedBlockBytes / 8);
  EngineContext* ctx = nullptr;
  if (InitEngineContext(block.data(), kSeedBlockBytes, &ctx) != kOk) return false;
  if (InstallCoreLibrary(ctx, GetCoreLibraryTable()) != kOk) return false;
  if (InstallNativeLibrary(ctx, kEngineMessageTables, false) != kOk || ResetEngineToBaseFrame(ctx) != kOk) return false;
  StatusCode st = EvaluateCommandLine(ctx, seed.program, static_cast<int32_t>(std::strlen(seed.program)), true);
  for (int k = 0; st == kSuspended && k < 10000; ++k) {
    if (seed.stopInCode && ctx->pc.space == kCodeArea) {
      SaveEngineState(ctx, image);
      return true;
    }
    st = RunInterpreter(ctx, seed.stopInCode ? 1 : 0);
  }
  if (st != kOk) return false;
  if (seed.thread) {
    const int32_t library = FindLibraryEntry(ctx, FindSymbol(ctx, "_cli", 4));
    int32_t id = 0;
    if (PushStringFromBytes(ctx, 6, "worker") != kOk || PushRealScalar(ctx, 2) != kOk) return false;
    if (CreateInterpreterThread(ctx, 2048, library, 1, false, kDefaultPriority, &id) != kOk) return false;
  }
  SaveEngineState(ctx, image);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: state_seeds FOLDER\n", stderr);
    return 2;
  }
  for (const Seed& seed : kSeeds) {
    std::vector<uint8_t> image;
    if (!MakeSeed(seed, &image) || !Write(std::string(argv[1]) + "/" + seed.name + ".img", image)) {
      std::fprintf(stderr, "state_seeds: no image for %s\n", seed.name);
      return 1;
    }
  }
  return 0;
}
