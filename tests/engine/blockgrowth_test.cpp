// Growth of the block under a running command: an instruction or a
// compilation short of room is offered to the host, runs again in the grown
// block and gives what a large block gives; a host that declines sees the
// failure exactly as without the offer; out of memory names the size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/engine.h"
#include "engine/frames.h"
#include "engine/heap.h"

namespace {

// Functions typed with a command line: a recursion and a chain of calls.
constexpr char kRecursion[] =
    "function r = depth(k)\n"
    "if k == 0, r = 0; else, r = depth(k - 1) + 1; end\n"
    "endfunction\n";

std::string ManyVariables(int n) {
  std::string text;
  for (int k = 1; k <= n; ++k) text += "a" + std::to_string(k) + " = " + std::to_string(k) + "; ";
  return text + "r = a" + std::to_string(n) + ";";
}

// The command with disp('once') first among its statements, after the
// functions it defines.
std::string SayingOnce(const std::string& text) {
  const size_t functions = text.rfind("endfunction\n");
  const size_t at = functions == std::string::npos ? 0 : functions + 12;
  return text.substr(0, at) + "disp('once'); " + text.substr(at);
}

std::string LongRow(int n) {
  std::string text = "v = [";
  for (int k = 1; k <= n; ++k) text += std::to_string(k) + " ";
  return text + "]; r = v(end);";
}

std::string ManyFunctions(int n) {
  std::string text;
  for (int k = 1; k <= n; ++k)
    text += "function r = g" + std::to_string(k) + "(x)\nr = x + " + std::to_string(k) + ";\nendfunction\n";
  return text + "r = g" + std::to_string(n) + "(0);";
}

class BlockGrowthTest : public ::testing::Test {
 protected:
  static constexpr size_t kStartBytes = 16 * 1024;
  static constexpr size_t kRoomBytes = size_t{64} << 20;

  // The host's side: grows the engine where it lies, by half or by what was
  // asked, within the vector's room.
  static BlockGrowth Grow(EngineContext* ctx, StatusCode region, int64_t asked, void* self) {
    auto* t = static_cast<BlockGrowthTest*>(self);
    t->offers.push_back({region, asked});
    if (t->answer != BlockGrowth::kGrown) return t->answer;
    size_t want = t->bytes + t->bytes / 2;
    if (asked > 0) want = std::max(want, t->bytes + static_cast<size_t>(asked) + 1024);
    want = std::min(want & ~size_t{7}, kRoomBytes);
    if (want <= t->bytes) return BlockGrowth::kOutOfMemory;
    t->bytes = want;
    MakeContextPointersRelative(ctx);
    RelocateEngineContext(ctx, static_cast<int64_t>(want), region);
    return BlockGrowth::kGrown;
  }

  struct Offer {
    StatusCode region;
    int64_t asked;
  };

  // A fresh engine of the given size at the start of the room, its output
  // and errors captured, offering its failures to Grow when asked to.
  void Start(size_t startBytes, bool offer) {
    block.assign(kRoomBytes / sizeof(uint64_t), 0);
    bytes = startBytes;
    offers.clear();
    out.clear();
    err.clear();
    ASSERT_EQ(InitEngineContext(block.data(), bytes, &ctx), kOk);
    ASSERT_EQ(InstallCoreLibrary(ctx, GetCoreLibraryTable()), kOk);
    ASSERT_EQ(InstallNativeLibrary(ctx, kEngineMessageTables, false), kOk);
    hooks[0] = {};
    hooks[0].handler = AsNativeHandler(Capture);
    hooks[0].userData = this;
    hooks[0].minInputs = 1;
    std::strcpy(hooks[0].name, "+write");
    hooks[1] = {};
    ASSERT_EQ(InstallNativeLibrary(ctx, hooks, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    if (offer) SetBlockGrowthCallback(ctx, &Grow, this);
  }

  [[nodiscard]] static StatusCode Capture(EngineContext*, int32_t descriptor, const char* text, int32_t length,
                                          void* self) {
    auto* t = static_cast<BlockGrowthTest*>(self);
    if (descriptor == kStdoutDescriptor)
      t->out.append(text, length);
    else if (descriptor == kStderrDescriptor)
      t->err.append(text, length);
    else
      return kBadFileId;
    return kOk;
  }

  [[nodiscard]] StatusCode Command(const std::string& text) {
    const StatusCode st = EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true);
    if (st != kSuspended) return st;
    return RunInterpreter(ctx, 0);
  }

  // The base frame's variable as a real scalar; NaN without one.
  double Scalar(const char* name) {
    CallFrame* f = FrameAt(ctx, 0);
    const auto* names = reinterpret_cast<const char*>(FrameSlots(f) + f->nameCapacity);
    for (int32_t v = 0; v < f->variableCount; ++v) {
      if (std::strncmp(names + 32 * v, name, 32) != 0) continue;
      const int32_t value = VariableValueBlock(ctx, FrameSlots(f)[v]);
      if (value <= 0 || VariableDescriptor(ctx, value).cells != 1) break;
      return ctx->heapBase[value + kVariableHeaderCells].f;
    }
    return std::nan("");
  }

  bool Offered(StatusCode region) const {
    for (const Offer& o : offers)
      if (o.region == region) return true;
    return false;
  }

  std::vector<uint64_t> block;
  size_t bytes = 0;
  EngineContext* ctx = nullptr;
  std::vector<Offer> offers;
  BlockGrowth answer = BlockGrowth::kGrown;
  std::string out, err;
  NativeFunctionRecord hooks[2]{};
};

// Each command runs short of one region in a 16 KiB block; grown under it,
// it gives r as from a large block, and its output once.
TEST_F(BlockGrowthTest, EachRegionShortOfRoomGrowsAndTheCommandEndsAsInALargeBlock) {
  struct Case {
    const char* what;
    std::string text;
    StatusCode region;  // offered at least once
    double r;
  };
  const Case kCases[] = {
      {"descriptor stack: recursion", std::string(kRecursion) + "r = depth(400);", kDescStackFull, 400},
      {"data stack: a string", "s = ''; for k = 1:3000, s = [s 'ab']; end, r = double(s(end));", kDataStackFull, 'b'},
      {"heap: an array stored", "x(6000) = 2; x(1) = 1; r = x(end) + x(1);", kHeapFull, 3},
      {"heap: growth one by one", "x = []; for k = 1:5000, x(end + 1) = k; end, r = x(end);", kHeapFull, 5000},
      {"code area: many functions", ManyFunctions(120), kCodeOverflow, 120},
      {"compiler records: a long row", LongRow(2500), kDataStackFull, 2500},
      {"names: many variables", ManyVariables(300), kDescStackFull, 300},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Start(kStartBytes, true);
    const Cell* heapBefore = ctx->heapBase;
    const int16_t* codeBefore = ctx->codeBase;
    ASSERT_EQ(Command(SayingOnce(c.text)), kOk) << err;
    EXPECT_EQ(Scalar("r"), c.r);
    EXPECT_EQ(out, "once\n");
    EXPECT_EQ(err, "");
    EXPECT_TRUE(Offered(c.region));
    // The regions after the first one moved: the repeated step found them
    // where the growth put them.
    EXPECT_GT(bytes, kStartBytes);
    EXPECT_TRUE(ctx->heapBase != heapBefore || ctx->codeBase != codeBefore);
    // The engine goes on in its grown block.
    ASSERT_EQ(Command("q = r + 1;"), kOk) << err;
    EXPECT_EQ(Scalar("q"), c.r + 1);
  }
}

// A host that declines, or none: the same failure, the same message, the same
// stacks and heap, byte for byte.
TEST_F(BlockGrowthTest, AHostThatDeclinesSeesTheFailureAsWithoutGrowth) {
  const std::string kTexts[] = {
      std::string(kRecursion) + "r = depth(400);",
      "y = 1; x(6000) = 2;",
      "y = 1; x = []; for k = 1:5000, x(end + 1) = k; end",
      ManyFunctions(120),
      LongRow(2500),
  };
  for (const std::string& text : kTexts) {
    SCOPED_TRACE(text.substr(0, 40));
    Start(kStartBytes, false);
    const StatusCode alone = Command(text);
    const std::string aloneErr = err;
    // The regions, after the header whose callback fields differ.
    const size_t from = kContextHeaderBytes / 8, to = kStartBytes / 8;
    const std::vector<uint64_t> aloneRegions(block.begin() + from, block.begin() + to);

    answer = BlockGrowth::kDeclined;
    Start(kStartBytes, true);
    EXPECT_EQ(Command(text), alone);
    EXPECT_NE(alone, kOk);
    EXPECT_FALSE(offers.empty());
    EXPECT_EQ(err, aloneErr);
    EXPECT_TRUE(std::equal(aloneRegions.begin(), aloneRegions.end(), block.begin() + from)) << "the regions differ";
    answer = BlockGrowth::kGrown;
  }
}

// Out of memory: status 8 with the bytes asked for, catchable, the variable
// as it was, and the engine goes on.
TEST_F(BlockGrowthTest, OutOfMemoryNamesTheSizeAndLeavesTheVariable) {
  answer = BlockGrowth::kOutOfMemory;
  Start(kStartBytes, true);
  ASSERT_EQ(Command("x = 5;"), kOk);
  EXPECT_EQ(Command("x(1e6) = 1;"), kOutOfMem);
  EXPECT_NE(err.find("Out of memory ("), std::string::npos) << err;
  EXPECT_NE(err.find(" bytes asked for)"), std::string::npos) << err;
  EXPECT_EQ(Scalar("x"), 5);
  ASSERT_EQ(Command("try, y(1e6) = 1; catch, z = 7; end"), kOk) << err;
  EXPECT_EQ(Scalar("z"), 7);
  ASSERT_EQ(Command("w = x + 1;"), kOk);
  EXPECT_EQ(Scalar("w"), 6);
}

}  // namespace
