// Option sets: default structures with hidden options left out, name/value
// pairs replacing and appending fields, every default type, the readers with
// their defaults, and the errors, which leave the arguments as they were.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/evaluate.h"
#include "engine/heap.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

const OptionDefaultRecord kOptim[] = {
    {"Display", kOptionLogical, 0, {}},
    {"MaxFunEvals", kOptionEmpty, 0, {}},
    {"MaxIter", kOptionEmpty, 0, {}},
    {"TolX", kOptionEmpty, 0, {}},
    {"", kOptionEnd, 0, {}},
};

const OptionDefaultRecord kThread[] = {
    {"Priority", kOptionReal, 0, {{3}}},      {"Running", kOptionLogical, 1, {{1}}},
    {"Sandbox", kOptionLogical, 0, {{0.75}}},  // integer part 0: false
    {"StackSize", kOptionReal, 0, {{4096}}},  {"", kOptionEnd, 0, {}},
};

const OptionDefaultRecord kDialog[] = {
    {"NPrec", kOptionReal, 0, {{6}}},
    {"Prompt", kOptionEmptyString, 0, {}},
    {"Title", kOptionEmptyString, 0, {}},
    {"Format", kOptionEmptyString, 1, {}},
    {"", kOptionEnd, 0, {}},
};

class OptionsTest : public StackFixture {
 public:
  // The cases' push functions reach these through a pointer to the fixture.
  using StackFixture::ctx;
  using StackFixture::PushRow;

  // Calls through the ServiceTable, as natives and extensions do.
  [[nodiscard]] StatusCode Apply(int nargin, const OptionDefaultRecord* table) {
    return GetServiceTable(ctx)->ApplyOptionSet(ctx, nargin, table);
  }
  [[nodiscard]] StatusCode Real(int position, const char* name, const OptionDefaultRecord* table, double def,
                                double* x) {
    return GetServiceTable(ctx)->GetRealOption(ctx, position, name, table, def, x);
  }
  [[nodiscard]] StatusCode Boolean(int position, const char* name, const OptionDefaultRecord* table, bool def,
                                   bool* b) {
    return GetServiceTable(ctx)->GetBooleanOption(ctx, position, name, table, def, b);
  }

  void PushName(const std::string& s) { ASSERT_EQ(PushStringFromBytes(ctx, -1, s.c_str()), kOk); }

  // A structure of the given (name, scalar) fields.
  void PushStruct(const std::vector<std::pair<std::string, double>>& fields) {
    ASSERT_EQ(PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr), kOk);
    for (const auto& [name, v] : fields) {
      ASSERT_EQ(PushRealScalar(ctx, v), kOk);
      ASSERT_EQ(MakeListFromValues(ctx, 1, true, name.data(), static_cast<int>(name.size())), kOk);
    }
  }

  std::vector<std::string> FieldNames(int position = 0) {
    std::vector<std::string> names;
    for (int32_t k = 1;; ++k) {
      const char* text = nullptr;
      int length = 0;
      if (GetStructFieldName(ctx, position, k, &text, &length) != kOk) break;
      names.emplace_back(text, length);
    }
    return names;
  }

  // The field's value, pushed on top for inspection.
  ValueDescriptor PushField(const char* name, int position = 0) {
    EXPECT_EQ(PushStructField(ctx, position, name, static_cast<int>(std::strlen(name))), kOk) << name;
    return Top();
  }

  double FieldScalar(const char* name) {
    PushField(name);
    NumericView v;
    EXPECT_TRUE(ReadNumeric(ctx, 0, &v));
    const double x = v.count == 1 ? RealElement(v, 0) : NAN;
    PopValue(ctx);
    return x;
  }

  bool TopIsLogical(bool want) {
    const ValueDescriptor d = Top();
    if (d.kind != kBoxed || d.extra != kLogicalArray) return false;
    const ArrayView a = ReadArray(TopData(ctx));
    return a.count == 1 && (*reinterpret_cast<const uint8_t*>(a.data) != 0) == want;
  }
};

TEST_F(OptionsTest, NoArgumentsGiveTheVisibleDefaultsInTableOrder) {
  ASSERT_EQ(Apply(0, kOptim), kOk);
  EXPECT_EQ(ctx->descLength, 3);
  EXPECT_EQ(FieldNames(), (std::vector<std::string>{"Display", "MaxFunEvals", "MaxIter", "TolX"}));
  PushField("Display");
  EXPECT_TRUE(TopIsLogical(false));
  PopValue(ctx);
  for (const char* name : {"MaxFunEvals", "MaxIter", "TolX"}) {
    const ValueDescriptor d = PushField(name);
    EXPECT_TRUE(d.kind == 0 && d.cells == 0) << name;
    PopValue(ctx);
  }

  Reset();
  ASSERT_EQ(Apply(0, kThread), kOk);
  EXPECT_EQ(FieldNames(), (std::vector<std::string>{"Priority", "Sandbox", "StackSize"}));
  EXPECT_EQ(FieldScalar("Priority"), 3);
  EXPECT_EQ(FieldScalar("Sandbox"), 0);
  EXPECT_EQ(FieldScalar("StackSize"), 4096);
}

TEST_F(OptionsTest, PairsReplaceKnownFieldsAndAppendTheRest) {
  // A hidden option may be set; it then joins the structure at its end.
  PushName("Priority");
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  PushName("Running");
  ASSERT_EQ(PushLogicalScalar(ctx, 0), kOk);
  ASSERT_EQ(Apply(4, kThread), kOk);
  EXPECT_EQ(ctx->descLength, 3);
  EXPECT_EQ(FieldNames(), (std::vector<std::string>{"Priority", "Sandbox", "StackSize", "Running"}));
  EXPECT_EQ(FieldScalar("Priority"), 5);
  EXPECT_EQ(FieldScalar("Running"), 0);

  // The same option twice: the last value stays.
  Reset();
  PushName("TolX");
  PushRow({1, 2, 3});
  PushName("TolX");
  ASSERT_EQ(PushRealScalar(ctx, 0.5), kOk);
  ASSERT_EQ(Apply(4, kOptim), kOk);
  EXPECT_EQ(FieldNames(), (std::vector<std::string>{"Display", "MaxFunEvals", "MaxIter", "TolX"}));
  EXPECT_EQ(FieldScalar("TolX"), 0.5);
}

// A given structure keeps its fields (known or not) in their order; a field
// replaced by a value of another size moves the later ones.
TEST_F(OptionsTest, GivenStructureIsUpdatedInPlace) {
  struct Case {
    const char* label;
    void (*push)(OptionsTest*);
  };
  const Case kCases[] = {
      {"scalar", [](OptionsTest* t) { ASSERT_EQ(PushRealScalar(t->ctx, 9), kOk); }},
      {"longer row",
       [](OptionsTest* t) {
         t->PushRow({9, 8, 7, 6, 5, 4, 3, 2});
       }},
      {"empty", [](OptionsTest* t) { ASSERT_EQ(PushEmptyMatrix(t->ctx), kOk); }},
      {"string", [](OptionsTest* t) { ASSERT_EQ(PushStringFromBytes(t->ctx, -1, "nine"), kOk); }},
      {"structure",
       [](OptionsTest* t) {
         t->PushStruct({{"a", 1}, {"b", 2}});
       }},
  };
  for (const Case& c : kCases) {
    Reset();
    PushStruct({{"before", 1}, {"TolX", 2}, {"after", 3}});
    PushName("TolX");
    c.push(this);
    const ValueDescriptor want = Top();
    PushName("MaxIter");
    ASSERT_EQ(PushRealScalar(ctx, 7), kOk);
    ASSERT_EQ(Apply(5, kOptim), kOk) << c.label;
    EXPECT_EQ(ctx->descLength, 3) << c.label;
    EXPECT_EQ(FieldNames(), (std::vector<std::string>{"before", "TolX", "after", "MaxIter"})) << c.label;
    EXPECT_EQ(FieldScalar("before"), 1) << c.label;
    EXPECT_EQ(FieldScalar("after"), 3) << c.label;
    EXPECT_EQ(FieldScalar("MaxIter"), 7) << c.label;
    const ValueDescriptor got = PushField("TolX");
    EXPECT_TRUE(got.kind == want.kind && got.cells == want.cells && got.extra == want.extra) << c.label;
    PopValue(ctx);
    // The structure's cells end exactly at the data top.
    EXPECT_EQ(TopData(ctx) + Top().cells, ctx->dataBase + ctx->dataTop) << c.label;
  }
}

TEST_F(OptionsTest, BadArgumentsLeaveTheStackUnchanged) {
  struct Case {
    const char* label;
    int nargin;
    void (*push)(OptionsTest*);
    StatusCode want;
  };
  const Case kCases[] = {
      {"first of odd not a structure", 3,
       [](OptionsTest* t) {
         t->PushRow({1});
         t->PushName("TolX");
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
       },
       kWrongTypeInternal},
      {"unknown name", 2,
       [](OptionsTest* t) {
         t->PushName("Tol");
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
       },
       kUnknownOpt},
      {"name differs in case", 2,
       [](OptionsTest* t) {
         t->PushName("tolx");
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
       },
       kUnknownOpt},
      {"name longer than any", 2,
       [](OptionsTest* t) {
         t->PushName("TolXTolXTolXTolXTolX");
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
       },
       kUnknownOpt},
      {"name not text", 2,
       [](OptionsTest* t) {
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
       },
       kWrongTypeInternal},
      {"second pair unknown", 4,
       [](OptionsTest* t) {
         t->PushName("TolX");
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
         t->PushName("Nope");
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
       },
       kUnknownOpt},
      {"unknown name after a structure", 3,
       [](OptionsTest* t) {
         t->PushStruct({{"TolX", 1}});
         t->PushName("Display ");
         ASSERT_EQ(PushRealScalar(t->ctx, 1), kOk);
       },
       kUnknownOpt},
  };
  for (const Case& c : kCases) {
    Reset();
    c.push(this);
    const Snapshot before = Take();
    EXPECT_EQ(Apply(c.nargin, kOptim), c.want) << c.label;
    EXPECT_TRUE(Take() == before) << c.label;
  }
}

// Without room the operation fails with 3 and changes nothing, so that the
// host can grow the block and repeat it; given room it succeeds.
TEST_F(OptionsTest, FullDataStackFailsCleanlyUntilThereIsRoom) {
  for (const bool given : {false, true}) {
    auto pushArgs = [&] {
      if (given) PushStruct({{"TolX", 1}, {"other", 2}});
      PushName("TolX");
      PushRow({1, 2, 3, 4, 5});
      PushName("Display");
      ASSERT_EQ(PushLogicalScalar(ctx, 1), kOk);
    };
    const int64_t free = FreeDataCells(ctx);
    pushArgs();
    const int64_t argCells = free - FreeDataCells(ctx);

    int failures = 0;
    bool done = false;
    // From 1: the last argument's own push keeps a cell spare.
    for (int64_t room = 1; room < 100 && !done; ++room) {
      Reset();
      FillData(room + argCells);
      pushArgs();
      ASSERT_EQ(FreeDataCells(ctx), room);
      const Snapshot before = Take();
      const StatusCode st = Apply(given ? 5 : 4, kOptim);
      if (st == kOk) {
        done = true;
        EXPECT_EQ(FieldNames().size(), given ? 3u : 4u);
        PushField("TolX");
        EXPECT_EQ(Top().cells, 5);
        break;
      }
      ++failures;
      EXPECT_EQ(st, kDataStackFull) << room;
      EXPECT_TRUE(Take() == before) << room;
    }
    EXPECT_TRUE(done) << given;
    EXPECT_GT(failures, 10) << given;
    Reset();
  }
}

TEST_F(OptionsTest, EveryDefaultTypePushesItsValue) {
  const char* kText = "text";
  const OptionDefaultRecord kAll[] = {
      {"Real", kOptionReal, 0, {{2.5}}},
      {"Row2", kOptionRow2, 0, {{1, 2}}},
      {"Row3", kOptionRow3, 0, {{1, 2, 3}}},
      {"Row4", kOptionRow4, 0, {{1, 2, 3, 4}}},
      {"LogicalTrue", kOptionLogical, 0, {{-1.5}}},
      {"LogicalFalse", kOptionLogical, 0, {{0.5}}},
      {"Empty", kOptionEmpty, 0, {}},
      {"List", kOptionEmptyList, 0, {}},
      {"String", kOptionEmptyString, 0, {}},
      {"Chars1", kOptionChars1, 0, {{65.9}}},
      {"Chars2", kOptionChars1 + 1, 0, {{66, 67 + 256}}},  // codes are truncated to bytes
      {"Chars3", kOptionChars1 + 2, 0, {{68, 69, 70}}},
      {"Chars4", kOptionChars4, 0, {{71, 72, 73, 74}}},
      {"Text", kOptionText, 0, {.text = kText}},
      {"NullText", kOptionText, 0, {.text = nullptr}},
      {"Unknown", 14, 0, {}},
      {"", kOptionEnd, 0, {}},
  };
  struct Case {
    const char* name;
    ValueDescriptor want;  // kind, cells; extra: columns or subtype
    std::vector<double> values;
    std::string text;
  };
  const Case kCases[] = {
      {"Real", {0, 1, 1}, {2.5}, ""},
      {"Row2", {0, 2, 2}, {1, 2}, ""},
      {"Row3", {0, 3, 3}, {1, 2, 3}, ""},
      {"Row4", {0, 4, 4}, {1, 2, 3, 4}, ""},
      {"Empty", {0, 0, 0}, {}, ""},
      {"List", {kComposite, 0, kList}, {}, ""},
      {"String", {kBoxed, -1, kCharArray}, {}, ""},
      {"Chars1", {kBoxed, -1, kCharArray}, {}, "A"},
      {"Chars2", {kBoxed, -1, kCharArray}, {}, "BC"},
      {"Chars3", {kBoxed, -1, kCharArray}, {}, "DEF"},
      {"Chars4", {kBoxed, -1, kCharArray}, {}, "GHIJ"},
      {"Text", {kBoxed, -1, kCharArray}, {}, "text"},
      {"NullText", {kBoxed, -1, kCharArray}, {}, ""},
  };
  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  for (const Case& c : kCases) {
    ASSERT_EQ(PushOptionValue(ctx, 0, c.name, kAll), kOk) << c.name;
    const ValueDescriptor d = Top();
    EXPECT_EQ(d.kind, c.want.kind) << c.name;
    EXPECT_EQ(d.extra, c.want.extra) << c.name;
    if (c.want.cells >= 0) {
      EXPECT_EQ(d.cells, c.want.cells) << c.name;
    }
    if (d.kind == kBoxed) {
      EXPECT_EQ(TopString(), c.text) << c.name;
    } else if (d.kind == 0) {
      EXPECT_EQ(std::vector<double>(&TopData(ctx)->f, &TopData(ctx)->f + d.cells), c.values) << c.name;
    }
    PopValue(ctx);
  }
  ASSERT_EQ(PushOptionValue(ctx, 0, "LogicalTrue", kAll), kOk);
  EXPECT_TRUE(TopIsLogical(true));
  PopValue(ctx);
  ASSERT_EQ(PushOptionValue(ctx, 0, "LogicalFalse", kAll), kOk);
  EXPECT_TRUE(TopIsLogical(false));
  PopValue(ctx);

  // A type this engine does not know is refused, not guessed at.
  const Snapshot before = Take();
  EXPECT_EQ(PushOptionValue(ctx, 0, "Unknown", kAll), kBadArg);
  EXPECT_TRUE(Take() == before);
}

TEST_F(OptionsTest, ReadersTakeTheFieldOrTheRightDefault) {
  // Fields: Priority and TolX hold [], MaxIter 7, Display int32 1, Other 2.
  ASSERT_EQ(PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr), kOk);
  for (const char* name : {"Priority", "TolX"}) {
    ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, 1, true, name, static_cast<int>(std::strlen(name))), kOk);
  }
  ASSERT_EQ(PushRealScalar(ctx, 7), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, true, "MaxIter", 7), kOk);
  PushInteger<int32_t>(ctx, 1);
  ASSERT_EQ(MakeListFromValues(ctx, 1, true, "Display", 7), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, true, "Other", 5), kOk);
  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);  // the struct sits at position 1, [] at 0

  struct Case {
    int position;
    const char* name;
    const OptionDefaultRecord* table;
    double def;
    double want;
  };
  const Case kCases[] = {
      {1, "Priority", kThread, -1, 3},  // [] field, real option: the table's default
      {1, "TolX", kOptim, -1, -1},      // [] field, option whose default is []: the caller's
      {1, "MaxIter", kOptim, -1, 7},       {1, "Display", kOptim, -1, 1},    // an integer class reads as double
      {1, "Other", kOptim, -1, 2},                                           // a field the table lacks is still read
      {1, "StackSize", kThread, -1, 4096}, {0, "Priority", kThread, -1, 3},  // [] as the option argument
      {0, "MaxFunEvals", kOptim, 11, 11},  {0, "Sandbox", kThread, 1, 0},    // a logical option's own default wins
  };
  const Snapshot before = Take();
  for (const Case& c : kCases) {
    double x = NAN;
    EXPECT_EQ(Real(c.position, c.name, c.table, c.def, &x), kOk) << c.name;
    EXPECT_EQ(x, c.want) << c.name << " at " << c.position;
    EXPECT_TRUE(Take() == before) << c.name;
  }

  bool flag = false;
  EXPECT_EQ(Boolean(0, "Running", kThread, false, &flag), kOk);  // hidden, still readable
  EXPECT_TRUE(flag);
  EXPECT_EQ(Boolean(0, "TolX", kOptim, true, &flag), kOk);
  EXPECT_TRUE(flag);
  EXPECT_EQ(Boolean(1, "Display", kOptim, false, &flag), kOk);
  EXPECT_TRUE(flag);

  // "Prompt" read from [] is the empty string.
  ASSERT_EQ(PushOptionValue(ctx, 0, "Prompt", kDialog), kOk);
  EXPECT_EQ(Top().extra, kCharArray);
  EXPECT_EQ(TopString(), "");
}

TEST_F(OptionsTest, BooleanIsTrueForNonzeroNotNaN) {
  const double kValues[] = {0, -0.0, NAN, -2, 0.25, INFINITY};
  for (double v : kValues) {
    Reset();
    PushStruct({{"Display", v}});
    bool flag = true;
    ASSERT_EQ(Boolean(0, "Display", kOptim, true, &flag), kOk) << v;
    EXPECT_EQ(flag, v < 0 || v > 0) << v;
  }
}

TEST_F(OptionsTest, ReaderErrorsLeaveTheStackUnchanged) {
  struct Case {
    const char* label;
    void (*push)(OptionsTest*);
    const char* name;
    StatusCode want;
  };
  const Case kCases[] = {
      {"argument neither [] nor a structure",
       [](OptionsTest* t) {
         t->PushRow({1, 2});
       },
       "TolX", kWrongTypeInternal},
      {"a list is not a structure",
       [](OptionsTest* t) { ASSERT_EQ(MakeListFromValues(t->ctx, 0, false, nullptr, 0), kOk); }, "TolX",
       kWrongTypeInternal},
      {"name the table lacks", [](OptionsTest* t) { ASSERT_EQ(PushEmptyMatrix(t->ctx), kOk); }, "Tolx", kUndefField},
  };
  for (const Case& c : kCases) {
    Reset();
    c.push(this);
    const Snapshot before = Take();
    double x = 0;
    EXPECT_EQ(Real(0, c.name, kOptim, 0, &x), c.want) << c.label;
    EXPECT_TRUE(Take() == before) << c.label;
  }

  // Values a real option cannot take.
  struct Bad {
    const char* label;
    void (*push)(OptionsTest*);
    StatusCode want;
  };
  const Bad kBad[] = {
      {"row",
       [](OptionsTest* t) {
         t->PushRow({1, 2});
       },
       kBadSize},
      {"string", [](OptionsTest* t) { ASSERT_EQ(PushStringFromBytes(t->ctx, -1, "ab"), kOk); }, kBadSize},
      {"structure",
       [](OptionsTest* t) {
         t->PushStruct({{"a", 1}});
       },
       kWrongTypeInternal},
  };
  for (const Bad& b : kBad) {
    Reset();
    ASSERT_EQ(PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr), kOk);
    b.push(this);
    ASSERT_EQ(MakeListFromValues(ctx, 1, true, "TolX", 4), kOk);
    const Snapshot before = Take();
    double x = 0;
    EXPECT_EQ(Real(0, "TolX", kOptim, 0, &x), b.want) << b.label;
    EXPECT_TRUE(Take() == before) << b.label;
  }

  // Popping directly: an empty value of any class gives the default.
  Reset();
  ASSERT_EQ(PushStringFromBytes(ctx, 0, ""), kOk);
  double x = 0;
  auto pop = GetServiceTable(ctx)->PopRealScalarOrDefault;
  EXPECT_EQ(pop(ctx, 8, &x), kOk);
  EXPECT_EQ(x, 8);
  EXPECT_EQ(ctx->descLength, 0);
  PushRow({1, 2, 3});
  EXPECT_EQ(pop(ctx, 8, &x), kBadSize);
  EXPECT_EQ(ctx->descLength, 3);
}

TEST_F(OptionsTest, FindOptionRecordMatchesExactNames) {
  OptionDefaultRecord table[3] = {};
  std::memcpy(table[0].name, "ExactlySixteen16", 16);  // no room for a NUL
  std::memcpy(table[1].name, "Tol", 3);
  table[2].type = kOptionEnd;
  struct Case {
    const char* name;
    int length;
    int want;
  };
  const Case kCases[] = {
      {"ExactlySixteen16", -1, 0},
      {"ExactlySixteen16x", -1, -1},
      {"Tol", -1, 1},
      {"TolX", 3, 1},
      {"tol", -1, -1},
      {"To", -1, -1},
      {"", -1, -1},
  };
  for (const Case& c : kCases) EXPECT_EQ(FindOptionRecord(table, c.name, c.length), c.want) << c.name;
  EXPECT_EQ(FindOptionRecord(nullptr, "Tol", -1), -1);
}

// The body of a native through the language: a test family "testset" and a
// reader "testtol" that answers TolX with 0.125 as its default.
[[nodiscard]] StatusCode TestSet(EngineContext* ctx, int nargin, int, void*) {
  return ApplyOptionSet(ctx, nargin, kOptim);
}
[[nodiscard]] StatusCode TestTol(EngineContext* ctx, int nargin, int, void*) {
  double x = 0;
  if (StatusCode st = GetRealOption(ctx, 0, "TolX", kOptim, 0.125, &x); st != kOk) return st;
  if (StatusCode st = PushRealScalar(ctx, x); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

class OptionNativesTest : public StackFixture {
 protected:
  OptionNativesTest() : StackFixture({.blockCells = 512 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    natives[0] = {TestSet, nullptr, 0, "testset", 0, kAnyCount, 0, 1};
    natives[1] = {TestTol, nullptr, 0, "testtol", 1, 1, 0, 1};
    ASSERT_EQ(InstallNativeLibrary(ctx, natives, false), kOk);
    CaptureDescriptor(2, &errors);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  NativeFunctionRecord natives[3]{};
  std::string errors;
};

TEST_F(OptionNativesTest, OptionStructuresThroughTheLanguage) {
  EXPECT_EQ(Command("s = testset('TolX', 3, 'MaxIter', 4); t = testset(s, 'TolX', 5);"), kOk) << errors;
  EXPECT_EQ(Command("a = s.TolX; b = s.MaxIter; c = t.TolX; d = t.MaxIter;"), kOk) << errors;
  EXPECT_EQ(BaseScalar("a"), 3);
  EXPECT_EQ(BaseScalar("b"), 4);
  EXPECT_EQ(BaseScalar("c"), 5);
  EXPECT_EQ(BaseScalar("d"), 4);
  EXPECT_EQ(Command("e = testtol(s); f = testtol([]); g = testtol(testset());"), kOk) << errors;
  EXPECT_EQ(BaseScalar("e"), 3);
  EXPECT_EQ(BaseScalar("f"), 0.125);
  EXPECT_EQ(BaseScalar("g"), 0.125);
  EXPECT_EQ(errors, "");

  EXPECT_NE(Command("u = testset('tolx', 1);"), kOk);
  EXPECT_NE(errors.find("Unknown option"), std::string::npos) << errors;
}

}  // namespace
