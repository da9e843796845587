// The runtime block: creation and its partition, the reset that enters the
// special names, the time source, call flags and the standard-input hook.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tests/runtime/runtimefixture.h"

namespace {

TEST(RuntimeBlock, CreationRefusesSmallBlocksAndReportsRegionMinimums) {
  struct Case {
    int64_t bytes;
    StatusCode want;
  };
  // 8,192 passes the size test and then fails the engine's own minimum;
  // 41,984 leaves the variable store 7,680 bytes.
  const Case kCases[] = {{8191, kNotEnoughMemForKV}, {8192, kInitError}, {41984, kTooSmallUndoBuf}};
  for (const Case& c : kCases) {
    std::vector<double> memory(static_cast<size_t>(c.bytes / 8 + 1), 7.0);
    auto* block = reinterpret_cast<RuntimeBlock*>(&memory[0]);
    RuntimeBlock* out = block;
    EXPECT_EQ(CreateRuntime(&out, memory.data(), c.bytes, 0, 2), c.want) << c.bytes;
    if (c.want != kTooSmallUndoBuf) {
      EXPECT_EQ(out, nullptr) << c.bytes;
    }
    if (c.want == kNotEnoughMemForKV) {
      EXPECT_EQ(memory[0], 7.0) << "written before the size test";
    }
  }
}

TEST(RuntimeBlock, PartitionOfTheHostsMinimum) {
  TestRuntime rt(8290304);
  ASSERT_NE(rt.block, nullptr);
  const int32_t want[5] = {3108096, 3108096, 259008, 259008, 1554048};
  int64_t sum = 0;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(rt.block->regionSize[i], want[i]) << i;
    sum += rt.block->regionSize[i];
  }
  EXPECT_LE(sum + kRuntimeHeaderBytes, 8290304);
  EXPECT_EQ(RuntimeRegion(rt.block, 0), reinterpret_cast<uint8_t*>(rt.block) + kRuntimeHeaderBytes);
  // One empty instance whose record ends region 1, and a store that leaves it room.
  EXPECT_EQ(rt.block->instanceCount, 1);
  EXPECT_EQ(rt.block->nextInstanceId, 1);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(InstanceRecordAt(rt.block, 0)) + kInstanceRecordBytes,
            RuntimeRegion(rt.block, 2));
  EXPECT_EQ(InstanceRecordAt(rt.block, 0)->builtIn, 1);
  EXPECT_EQ(ReadBlockStoreHeader(RuntimeBlockStore(rt.block)).areaLength, BlockStoreDoubles(rt.block, 1) - 4);
  EXPECT_EQ(rt.block->mouseMode, 1);
  EXPECT_EQ(rt.block->device->d6, 8.0);
}

StatusCode HostNative(EngineContext*, int, int, void*) { return kOk; }

TEST(RuntimeBlock, HostsInstallTheirTablesInFrontAfterCreation) {
  TestRuntime rt;
  NativeFunctionRecord host[3] = {};
  std::strcpy(host[0].name, "@host");
  std::strcpy(host[1].name, "hostfn");
  host[1].handler = &HostNative;
  ASSERT_EQ(InstallRuntimeNativeLibrary(rt.block, host), kOk);
  EXPECT_STREQ(GetNativeRecordByIndex(rt.ctx(), 1)->name, "hostfn");
  EXPECT_STREQ(GetNativeRecordByIndex(rt.ctx(), 2)->name, "+read");
}

TEST(RuntimeBlock, ANameRegionBelowItsMinimumIsReportedByTheReset) {
  TestRuntime rt;
  // Give region 3 all but 200 bytes' worth to region 4; region 4 keeps its start aligned.
  rt.block->regionSize[4] += rt.block->regionSize[3] - 200;
  rt.block->regionSize[3] = 200;
  EXPECT_EQ(ResetRuntimeToEmpty(rt.block, false), kTooSmallNameBuf);
}

TEST(RuntimeBlock, ResetEntersEveryHandlerSpecialName) {
  TestRuntime rt;
  std::set<int32_t> ids;
  for (const SpecialVariableRecord* v = kSpecialVariables; v->id != -1; ++v) {
    ids.insert(v->id);
    const char* name = nullptr;
    int length = 0;
    ASSERT_EQ(GetNameById(RuntimeNameTable(rt.block), v->id, &name, &length), kOk) << v->id;
    EXPECT_EQ(std::string(name, length), v->name);
  }
  EXPECT_EQ(ids.size(), 46u);
  int32_t rows = 0;
  std::memcpy(&rows, RuntimeRegion(rt.block, 3) + 4, 4);
  EXPECT_EQ(rows, 46);
  // A second reset starts the table afresh rather than adding duplicates.
  ASSERT_EQ(ResetRuntimeToEmpty(rt.block, true), kOk);
  std::memcpy(&rows, RuntimeRegion(rt.block, 3) + 4, 4);
  EXPECT_EQ(rows, 46);
}

struct ClockLog {
  std::vector<std::pair<const void*, int>> calls;  // state, reset flag
};
ClockLog* g_clockLog = nullptr;
double LoggingClock(void* state, int, int reset) {
  g_clockLog->calls.emplace_back(state, reset);
  return 1.5;
}

TEST(RuntimeBlock, TimeSourceResetsTheRuntimesThreeClocks) {
  TestRuntime rt;
  ClockLog log;
  g_clockLog = &log;
  std::vector<uint8_t> states(6 * 16);
  SetTimeSource(rt.block, &LoggingClock, states.data(), 16);
  for (int n = 3; n < 6; ++n) {
    const void* state = states.data() + 16 * n;
    bool reset = false;
    for (const auto& c : log.calls) reset |= c.first == state && c.second == 1;
    EXPECT_TRUE(reset) << "clock state " << n;
  }
  log.calls.clear();
  EXPECT_EQ(ReadRuntimeClock(rt.block, 2, false), 1.5);
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0].first, states.data() + 16 * 5);
  g_clockLog = nullptr;
}

TEST(RuntimeBlock, CallFlagsOfMissingInstancesChangeNothing) {
  TestRuntime rt;
  EXPECT_FALSE(GetInstanceCallFlag(rt.block, 9));
  SetInstanceCallFlag(rt.block, 9, true);
  EXPECT_FALSE(GetInstanceCallFlag(rt.block, 0));
  SetInstanceCallFlag(rt.block, 0, true);
  EXPECT_TRUE(GetInstanceCallFlag(rt.block, 0));
}

TEST(RuntimeBlock, StandardInputHook) {
  TestRuntime rt;
  CallContextRecord* call = &rt.block->callContext;
  char buffer[8] = {};
  int32_t n = -1;
  // Not this hook's descriptor, or no call context (the console's case): declined.
  EXPECT_EQ(RuntimeReadHook(rt.ctx(), 1, buffer, 8, &n, call), kBadFileId);
  EXPECT_EQ(RuntimeReadHook(rt.ctx(), 0, buffer, 8, &n, nullptr), kBadFileId);
  // Outside a plain-code application.
  EXPECT_EQ(RuntimeReadHook(rt.ctx(), 0, buffer, 8, &n, call), kBadContext);

  call->standardInput = 1;
  EXPECT_EQ(RuntimeReadHook(rt.ctx(), 0, buffer, 8, &n, call), kWaitingForInput);
  EXPECT_EQ(RuntimeReadHook(rt.ctx(), 0, buffer, 8, &n, call), kWaitingForInput);
  EXPECT_EQ(rt.block->inputState, kInputWaiting);

  const std::string text = "ab\r\ncd\r";
  SetStandardInputText(rt.block, text.data(), static_cast<int32_t>(text.size()));
  ASSERT_EQ(RuntimeReadHook(rt.ctx(), 0, buffer, 3, &n, call), kOk);
  EXPECT_EQ(std::string(buffer, n), "ab\n");
  // What did not fit is the next read's.
  ASSERT_EQ(RuntimeReadHook(rt.ctx(), 0, buffer, 8, &n, call), kOk);
  EXPECT_EQ(std::string(buffer, n), "\ncd\n");
  EXPECT_EQ(RuntimeReadHook(rt.ctx(), 0, buffer, 8, &n, call), kWaitingForInput);
}

TEST(RuntimeBlock, ErrorTableKeepsItsOrder) {
  std::vector<int32_t> want = {10000, 10001, 10002, 10003, 10004, 10006, 10007, 10005};
  for (int32_t code = 10008; code <= 10059; ++code) want.push_back(code);
  std::vector<int32_t> got;
  for (const ErrorRecord* e = kRuntimeErrorTable; e->message != nullptr; ++e) got.push_back(e->code);
  EXPECT_EQ(got, want);
  EXPECT_STREQ(kRuntimeErrorTable[1].message, "Plot memory overflow");
  EXPECT_STREQ(kRuntimeErrorTable[27].message, "Bad \"use\" statement");
}

}  // namespace
