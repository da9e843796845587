// The engine a test starts from: a block of its own with the core library
// (and, when asked, the engine's message tables), helpers to push typical
// values, to leave a chosen number of free data cells, to run command lines
// and to compare the stacks' contents before and after an operation.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "corelib/corelib.h"
#include "engine/evaluate.h"
#include "engine/heap.h"
#include "engine/relocate.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"
#include "tests/support/byte_reader.h"

// Copies an engine's block to a new allocation of `cells` (the old one is
// freed, so a stale address trips the sanitizer) and relocates into it; a
// larger block takes the growth by the region choice.
inline void MoveEngineBlock(std::vector<uint64_t>& block, EngineContext*& ctx, size_t cells, int32_t choice) {
  std::vector<uint64_t> moved(cells, 0x5A5A5A5A5A5A5A5Aull);
  MakeContextPointersRelative(ctx);
  std::memcpy(moved.data(), block.data(), std::min(cells, block.size()) * sizeof(uint64_t));
  const bool grows = cells > block.size();
  block.swap(moved);
  ctx = reinterpret_cast<EngineContext*>(block.data());
  RelocateEngineContext(ctx, grows ? static_cast<int64_t>(cells * sizeof(uint64_t)) : 0, choice);
}

// Loads a saved image held in memory, cut to its first `length` bytes.
[[nodiscard]] inline StatusCode LoadImageFromMemory(EngineContext* ctx, const std::vector<uint8_t>& image,
                                                    size_t length = SIZE_MAX) {
  ByteReader source{image.data(), std::min(length, image.size())};
  return LoadEngineState(ctx, &ByteReader::Read, &source);
}

class StackFixture : public ::testing::Test {
 protected:
  // What the fixture's engine starts with.
  struct EngineSetup {
    size_t blockCells = 16 * 1024;
    bool messages = false;  // the message tables, installed right after the core library
  };

  StackFixture() = default;
  explicit StackFixture(const EngineSetup& s) : block(s.blockCells), messages_(s.messages) {}

  void SetUp() override { Reset(); }

  // A fresh engine in the fixture's block.
  void Reset() {
    StartEngine(block, &ctx);
    if (messages_ && !HasFatalFailure()) {
      ASSERT_EQ(InstallNativeLibrary(ctx, kEngineMessageTables, false), kOk);
    }
  }

  // A fresh engine with the core library in cells, the fixture's block or
  // another one a test keeps.
  static void StartEngine(std::vector<uint64_t>& cells, EngineContext** c) {
    ASSERT_EQ(InitEngineContext(cells.data(), cells.size() * sizeof(uint64_t), c), kOk);
    ASSERT_EQ(InstallCoreLibrary(*c, GetCoreLibraryTable()), kOk);
  }

  ValueDescriptor Top() { return *DescriptorAt(ctx, 0); }
  ValueDescriptor At(int position) { return *DescriptorAt(ctx, position); }

  template <class T>
  static void PushInteger(EngineContext* c, T v) {
    void* data = nullptr;
    ASSERT_EQ(PushIntegerArray(c, 0, nullptr, sizeof(T), std::is_unsigned_v<T>, &data), kOk);
    std::memcpy(data, &v, sizeof v);
  }

  // A row of doubles.
  void PushRow(std::vector<double> values) {
    double* re = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, 1, static_cast<int32_t>(values.size()), &re, nullptr), kOk);
    std::memcpy(re, values.data(), values.size() * sizeof(double));
  }

  double TopScalar() {
    double x = 0;
    EXPECT_EQ(GetRealScalarArg(ctx, 0, &x), kOk);
    return x;
  }

  // The top character array's codes, narrowed to bytes.
  std::string TopString() {
    const ArrayView a = ReadArray(TopData(ctx));
    const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
    std::string s;
    for (int64_t k = 0; k < a.count; ++k) s += static_cast<char>(codes[k]);
    return s;
  }

  // The text of the error being raised, "<none>" without one.
  std::string CurrentErrorText() {
    if (ctx->currentErrorRecord < 0) return "<none>";
    return reinterpret_cast<const char*>(ctx->heapBase + ctx->currentErrorRecord + 1);
  }

  // Compiles and runs one command line: the compile's status when it is not
  // 500, else the run's.
  [[nodiscard]] StatusCode Command(const std::string& text) {
    const StatusCode st = EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true);
    if (st != kSuspended) return st;
    return RunInterpreter(ctx, 0);
  }

  // The heap block holding the value of the base frame's variable; 0 when it
  // has no value, -1 when the frame does not name it.
  int32_t BaseVariableValue(const std::string& name) {
    CallFrame* f = FrameAt(ctx, 0);
    const auto* names = reinterpret_cast<const char*>(FrameSlots(f) + f->nameCapacity);
    for (int32_t v = 0; v < f->variableCount; ++v) {
      if (std::strncmp(names + 32 * v, name.c_str(), 32) != 0) continue;
      return std::max(VariableValueBlock(ctx, FrameSlots(f)[v]), 0);
    }
    return -1;
  }

  // The base frame's variable as a real scalar; NaN without one.
  double BaseScalar(const std::string& name) {
    const int32_t value = BaseVariableValue(name);
    if (value <= 0 || VariableDescriptor(ctx, value).cells != 1) return std::nan("");
    return ctx->heapBase[value + kVariableHeaderCells].f;
  }

  // Installs a "+write" hook (LF line ends) that appends what reaches the
  // descriptor to *out.
  void CaptureDescriptor(int32_t descriptor, std::string* out) {
    capture = {descriptor, out};
    captureHook[0] = {};
    captureHook[0].handler = AsNativeHandler(CaptureWrite);
    captureHook[0].userData = &capture;
    captureHook[0].minInputs = 1;
    std::strcpy(captureHook[0].name, "+write");
    captureHook[1] = {};
    ASSERT_EQ(InstallNativeLibrary(ctx, captureHook, false), kOk);
  }

  enum class Kind { kScalar, kRow, kFraction, kString, kList, kStruct };
  void PushKind(Kind k) {
    switch (k) {
      case Kind::kScalar:
        ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
        break;
      case Kind::kRow:
        PushRow({1, 2});
        break;
      case Kind::kFraction:
        PushRow({1, 2.5});
        break;
      case Kind::kString:
        ASSERT_EQ(PushStringFromBytes(ctx, 3, "abc"), kOk);
        break;
      case Kind::kList:
        ASSERT_EQ(MakeListFromValues(ctx, 0, false, nullptr, 0), kOk);
        break;
      case Kind::kStruct:
        ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
        ASSERT_EQ(MakeListFromValues(ctx, 1, false, "f", 1), kOk);
        break;
    }
  }

  // Pushes a filler matrix so that exactly freeCells data cells stay free.
  void FillData(int64_t freeCells) {
    const int64_t fill = FreeDataCells(ctx) - freeCells;
    ASSERT_GE(fill, 1);
    ASSERT_EQ(PushDoubleMatrix(ctx, 1, static_cast<int32_t>(fill), nullptr, nullptr), kOk);
    ASSERT_EQ(FreeDataCells(ctx), freeCells);
  }

  // Everything up to each stack's top; the free space above is scratch.
  struct Snapshot {
    std::vector<int32_t> words;
    std::vector<uint64_t> cells;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Take() {
    Snapshot s;
    s.words.assign(ctx->descBase, ctx->descBase + ctx->descLength);
    s.cells.resize(ctx->dataTop);
    if (ctx->dataTop > 0) std::memcpy(s.cells.data(), ctx->dataBase, ctx->dataTop * sizeof(Cell));
    return s;
  }

  std::vector<uint64_t> block = std::vector<uint64_t>(16 * 1024);
  EngineContext* ctx = nullptr;

 private:
  bool messages_ = false;
  struct Capture {
    int32_t descriptor;
    std::string* out;
  };
  [[nodiscard]] static StatusCode CaptureWrite(EngineContext*, int32_t descriptor, const char* bytes, int32_t length,
                                               void* data) {
    auto* c = static_cast<Capture*>(data);
    if (descriptor != c->descriptor) return kBadFileId;
    c->out->append(bytes, length);
    return kOk;
  }
  Capture capture{};
  NativeFunctionRecord captureHook[2]{};
};
