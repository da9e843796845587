// Installing native libraries: numbering across the list, prepending, the
// sandbox rule, class ids, hooks in registration order and the refusals.
#include "engine/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "tests/engine/stack_fixture.h"

namespace {

// Every test native pushes its own name's first letter code and answers 0.
[[nodiscard]] StatusCode Mark(EngineContext* ctx, int, int, void* userData) {
  return PushRealScalar(ctx, static_cast<double>(reinterpret_cast<intptr_t>(userData)));
}

NativeFunctionRecord Record(const std::string& name, int kind = 0, intptr_t data = 0) {
  NativeFunctionRecord r{};
  r.handler = Mark;
  r.userData = reinterpret_cast<void*>(data);
  r.kind = kind;
  std::strncpy(r.name, name.c_str(), sizeof r.name - 1);
  return r;
}

// A run of records with its empty end record.
std::vector<NativeFunctionRecord> Table(std::vector<NativeFunctionRecord> records) {
  records.push_back(NativeFunctionRecord{});
  return records;
}

std::vector<NativeFunctionRecord> Numbered(const std::string& prefix, int n) {
  std::vector<NativeFunctionRecord> r;
  for (int k = 0; k < n; ++k) r.push_back(Record(prefix + std::to_string(k)));
  return Table(r);
}

class Registry : public StackFixture {
 protected:
  std::string NameOf(int g) {
    const NativeFunctionRecord* r = GetNativeRecordByIndex(ctx, g);
    return r ? r->name : "";
  }
};

TEST_F(Registry, NumbersFollowTheListOrder) {
  auto a = Numbered("a", 10), b = Numbered("b", 5), c = Numbered("c", 3);
  ASSERT_EQ(InstallNativeLibrary(ctx, a.data(), false), kOk);
  ASSERT_EQ(InstallNativeLibrary(ctx, b.data(), false), kOk);
  EXPECT_EQ(NameOf(12), "b2");
  EXPECT_EQ(NameOf(15), "");
  ASSERT_EQ(InstallNativeLibrary(ctx, c.data(), true), kOk);
  EXPECT_EQ(NameOf(0), "c0");
  EXPECT_EQ(NameOf(12), "a9");
  EXPECT_EQ(NameOf(17), "b4");

  char name[32];
  GetOpcodeName(ctx, kOpcodeCount + 12, false, name);
  EXPECT_STREQ(name, "a9");
  GetOpcodeName(ctx, kOpcodeCount + 18, false, name);
  EXPECT_STREQ(name, "") << "past the last library";
}

TEST_F(Registry, Refusals) {
  auto a = Numbered("a", 2);
  const auto empty = Table({});
  EXPECT_EQ(InstallNativeLibrary(ctx, empty.data(), false), kOk);
  EXPECT_EQ(InstallNativeLibrary(ctx, nullptr, false), kOk);
  EXPECT_EQ(ctx->libraryCount, 0);
  ASSERT_EQ(InstallNativeLibrary(ctx, a.data(), false), kOk);
  EXPECT_EQ(InstallNativeLibrary(ctx, a.data(), true), kInitError) << "installed twice";

  auto wide = Table({Record("k", 128)});
  EXPECT_EQ(InstallNativeLibrary(ctx, wide.data(), false), kInitError);
  auto ok = Table({Record("k", -127)});
  EXPECT_EQ(InstallNativeLibrary(ctx, ok.data(), false), kOk);

  // Once code exists, renumbering would change what it calls.
  auto late = Numbered("late", 1);
  ctx->entriesInUse = 2;
  EXPECT_EQ(InstallNativeLibrary(ctx, late.data(), true), kInitError);
  ctx->entriesInUse = 1;
  ctx->pc.space = kCodeArea;
  EXPECT_EQ(InstallNativeLibrary(ctx, late.data(), false), kInitError);
  ctx->pc.space = kNoCode;
  EXPECT_EQ(ctx->libraryCount, 2);
}

TEST_F(Registry, InstallingMovesTheDataStack) {
  PushRow({1, 2, 3});
  ASSERT_EQ(PushStringFromBytes(ctx, 2, "ok"), kOk);
  const int32_t capacity = ctx->dataCapacity;
  const Snapshot before = Take();
  auto a = Numbered("a", 1), b = Numbered("b", 1);
  ASSERT_EQ(InstallNativeLibrary(ctx, a.data(), false), kOk);
  ASSERT_EQ(InstallNativeLibrary(ctx, b.data(), false), kOk);
  EXPECT_TRUE(Take() == before) << "values keep their contents";
  EXPECT_EQ(reinterpret_cast<uint8_t*>(ctx->dataBase), RegionStart(ctx) + DataStackOffset(2, 0));
  EXPECT_EQ(ctx->dataCapacity, capacity - DataStackOffset(2, 0) / 8);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(ctx->libraries), RegionStart(ctx));

  // Without room for the entry nothing changes.
  FillData(1);
  auto c = Numbered("c", 1);
  const Snapshot full = Take();
  EXPECT_EQ(InstallNativeLibrary(ctx, c.data(), false), kDataStackFull);
  EXPECT_TRUE(Take() == full);
  EXPECT_EQ(ctx->libraryCount, 2);
}

TEST_F(Registry, SandboxFollowsTheLastHeader) {
  auto t = Table({Record("free", 0, 1), Record("@locked"), Record("hidden", 0, 2), Record("!open"),
                  Record("shown", 0, 3), Record("method", 4, 4)});
  ASSERT_EQ(InstallNativeLibrary(ctx, t.data(), false), kOk);
  struct Case {
    int g;
    bool sandboxed;
    StatusCode want;
  };
  const Case kCases[] = {
      {0, true, kSecViolation},  // before any header
      {2, true, kSecViolation},  // after "@"
      {4, true, kOk},            // after "@" then "!"
      {0, false, kOk},          {2, false, kOk},
      {5, false, kWrongType},  // a method is reached only through overloading
      {6, false, kUndefFun},
  };
  for (const Case& c : kCases) {
    const int32_t length = ctx->descLength;
    EXPECT_EQ(CallNativeByNumber(ctx, c.g, 0, 1, c.sandboxed), c.want) << c.g << (c.sandboxed ? " sandboxed" : "");
    EXPECT_EQ(ctx->descLength, length + (c.want == kOk ? 3 : 0)) << "refused natives never run";
  }
}

TEST_F(Registry, UserDataAndClassIds) {
  auto a = Numbered("a", 1);
  auto b = Table({Record("plain"), Record("ctor", -2), Record("m", 2, 9)});
  ASSERT_EQ(InstallNativeLibrary(ctx, a.data(), false), kOk);
  ASSERT_EQ(InstallNativeLibrary(ctx, b.data(), false), kOk);
  SetNativeDefaultUserData(ctx, reinterpret_cast<void*>(intptr_t{77}));
  ASSERT_EQ(CallNativeByNumber(ctx, 2, 0, 1, false), kOk);
  EXPECT_EQ(TopScalar(), 77.0) << "a record without user data gets the default";
  EXPECT_EQ(ctx->runningNativeClass, 136) << "list index 1, kind 2";
  EXPECT_STREQ(GetNativeClassName(ctx, 136), "ctor");
  EXPECT_STREQ(GetNativeClassName(ctx, 134), "plain");
  EXPECT_EQ(GetNativeClassName(ctx, 0), nullptr);
  EXPECT_EQ(GetNativeClassName(ctx, 999), nullptr);

  SetNativeUserDataByHandler(b.data(), Mark, reinterpret_cast<void*>(intptr_t{5}));
  ASSERT_EQ(CallNativeByNumber(ctx, 1, 0, 1, false), kOk);
  EXPECT_EQ(TopScalar(), 5.0);
}

TEST_F(Registry, HooksAreWalkedInRegistrationOrder) {
  auto a = Table({Record("+write", 0, 1), Record("x"), Record("+write", 0, 2)});
  auto b = Table({Record("+write", 0, 3), Record("+read")});
  auto c = Table({Record("+write", 0, 4)});
  ASSERT_EQ(InstallNativeLibrary(ctx, a.data(), false), kOk);
  ASSERT_EQ(InstallNativeLibrary(ctx, b.data(), false), kOk);
  ASSERT_EQ(InstallNativeLibrary(ctx, c.data(), true), kOk);
  std::vector<intptr_t> order;
  int cursor = -1;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, "+write", &cursor, nullptr))
    order.push_back(reinterpret_cast<intptr_t>(r->userData));
  EXPECT_EQ(order, (std::vector<intptr_t>{4, 1, 2, 3}));
}

TEST_F(Registry, LibraryFlagsAndNames) {
  auto t =
      Table({Record("@core"), Record("inner"), Record("!tools"), Record("tool"), Record("+hook"), Record("_under")});
  ASSERT_EQ(InstallNativeLibrary(ctx, t.data(), false), kOk);
  EXPECT_EQ(SetLibraryFlagByName(ctx, "core", 1), kSecViolation);
  EXPECT_EQ(SetLibraryFlagByName(ctx, "none", 1), kSrcNotFound);
  EXPECT_EQ(SetLibraryFlagByName(ctx, "tools", 1), kOk);
  EXPECT_EQ(ctx->libraries[0].flag, 1);

  const char* library = nullptr;
  bool sandbox = true;
  EXPECT_STREQ(GetBuiltinNameByIndex(ctx, kBuiltinCount, false, &library, &sandbox), "inner");
  EXPECT_STREQ(library, "core");
  EXPECT_FALSE(sandbox);
  EXPECT_STREQ(GetBuiltinNameByIndex(ctx, kBuiltinCount + 1, false, &library, &sandbox), "tool");
  EXPECT_STREQ(library, "tools");
  EXPECT_TRUE(sandbox);
  EXPECT_STREQ(GetBuiltinNameByIndex(ctx, kBuiltinCount + 2, false, &library, &sandbox), "_under")
      << "headers and hooks are skipped";
  EXPECT_EQ(GetBuiltinNameByIndex(ctx, kBuiltinCount + 3, false, &library, &sandbox), nullptr);
}

TEST_F(Registry, HostSetters) {
  SetLineInfoFlag(ctx, 1);
  SetCodeOptions(ctx, 4, 1);
  EXPECT_EQ(ctx->lineInfo, 1);
  EXPECT_EQ(ctx->optimisationLevel, 4);
  EXPECT_EQ(ctx->discardAssert, 1);
  auto a = Numbered("a", 3);
  ASSERT_EQ(InstallNativeLibrary(ctx, a.data(), false), kOk);
  auto byIndex = GetServiceTable(ctx)->GetNativeRecordByIndex;
  EXPECT_STREQ(byIndex(ctx, 2)->name, "a2");
}

}  // namespace
