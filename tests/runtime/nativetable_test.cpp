// The static native table as installed: its numbering against the checked-in
// list, and what its stand-ins answer until their libraries are built.
#include "runtime/nativetable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace {

struct Engine {
  std::vector<double> block = std::vector<double>(size_t{1} << 17);
  EngineContext* ctx = nullptr;
  Engine() {
    EXPECT_EQ(InitEngineContext(block.data(), block.size() * sizeof(double), &ctx), kOk);
    EXPECT_EQ(InstallStaticNativeTable(ctx, false), kOk);
  }
};

std::string Count(uint8_t n) { return n == kAnyCount ? "any" : std::to_string(n); }

// One line per native number: number, library (the header in force, "-"
// before the first), name, kind, inputs and outputs.
std::string Listing(EngineContext* ctx) {
  std::ostringstream out;
  std::string library = "-";
  for (int g = 0;; ++g) {
    const NativeFunctionRecord* r = GetNativeRecordByIndex(ctx, g);
    if (r == nullptr) break;
    const std::string name = r->name;
    if (name[0] == '@' || name[0] == '!') library = name;
    out << g << ' ' << library << ' ' << name << ' ' << r->kind;
    if (name[0] != '@' && name[0] != '!' && name[0] != '+')
      out << ' ' << Count(r->minInputs) << '-' << Count(r->maxInputs) << ' ' << Count(r->minOutputs) << '-'
          << Count(r->maxOutputs);
    out << '\n';
  }
  return out.str();
}

TEST(StaticNativeTable, NumbersEqualTheCheckedInList) {
  Engine e;
  const std::string path = std::string(RVO_RUNTIME_TEST_DIR) + "/nativetable.golden";
  std::ifstream file(path);
  ASSERT_TRUE(file) << path;
  std::stringstream want;
  want << file.rdbuf();
  const std::string got = Listing(e.ctx);
  if (got != want.str()) {
    // Left in the test's working folder, away from the sources.
    std::ofstream("nativetable.golden.actual") << got;
    FAIL() << "the installed numbering differs from " << path << "; the run's listing is nativetable.golden.actual";
  }
}

TEST(StaticNativeTable, InstallsOnceAndTheSecondTimeIsRefused) {
  Engine e;
  EXPECT_EQ(InstallStaticNativeTable(e.ctx, true), kInitError);
  EXPECT_EQ(GetNativeRecordByIndex(e.ctx, kStaticNativeRecordCount), nullptr);
}

}  // namespace
