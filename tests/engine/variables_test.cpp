// Variables and indexed access run by the interpreter on compiled code:
// reads through references, indexed, field and cell assignment with growth
// and deletion, what a failed assignment leaves behind, globals and their
// clearing, end inside indices, and the errors that name the variable.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/compiler/codegen.h"
#include "engine/function.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }

std::string Number(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", x);
  return text;
}

std::string Format(const ValueDescriptor& d, const Cell* data);

// Items of a composite: the elements, after the dims of a cell or structure array.
std::vector<const CompositeElementHeader*> Elements(const ValueDescriptor& d, const Cell* data) {
  std::vector<const CompositeElementHeader*> out;
  const Cell* end = data + d.cells;
  for (const Cell* c = data; c < end; c += 2 + reinterpret_cast<const CompositeElementHeader*>(c)->cells)
    out.push_back(reinterpret_cast<const CompositeElementHeader*>(c));
  return out;
}

std::string FormatElement(const CompositeElementHeader* e) {
  return Format({e->kind, e->cells, e->extra}, reinterpret_cast<const Cell*>(e) + 2);
}

std::string Dims(const CompositeElementHeader* dims, int drop) {
  const ArrayView a = ReadArray(const_cast<Cell*>(reinterpret_cast<const Cell*>(dims) + 2));
  const auto* entries = reinterpret_cast<const int32_t*>(a.data);
  std::string s;
  for (int64_t k = 0; k + drop < a.count; ++k) s += (k ? "x" : "") + std::to_string(entries[k]);
  return s;
}

// A compact text of a value: 5, [1 2; 3 4], 'abc', int8[1 2], {list items},
// {2x1: cell items}, (a=1, b=2), (1x2 structures: (a=1), (a=2)).
std::string Format(const ValueDescriptor& d, const Cell* data) {
  if (d.kind == 0) {
    const int32_t rows = PlainRows(d), cols = d.extra;
    if (rows * cols == 0) return "[]";
    if (rows * cols == 1) return Number(data[0].f);
    std::string s = "[";
    for (int32_t i = 0; i < rows; ++i)
      for (int32_t j = 0; j < cols; ++j) s += (j ? " " : i ? "; " : "") + Number(data[i * cols + j].f);
    return s + "]";
  }
  if (d.kind == kBoxed && d.extra >= kNumericArray && d.extra <= kLogicalArray) {
    const ArrayView a = ReadArray(const_cast<Cell*>(data));
    std::string s;
    if (d.extra == kCharArray) {
      for (int64_t k = 0; k < a.count; ++k) s += static_cast<char>(reinterpret_cast<const uint16_t*>(a.data)[k]);
      return "'" + s + "'";
    }
    for (int64_t k = 0; k < a.count; ++k) {
      double x = 0;
      if (a.cls == kDouble) x = reinterpret_cast<const double*>(a.data)[k];
      if (a.cls == kInt8) x = reinterpret_cast<const int8_t*>(a.data)[k];
      if (a.cls == kUint8) x = reinterpret_cast<const uint8_t*>(a.data)[k];
      if (a.cls == kInt32) x = reinterpret_cast<const int32_t*>(a.data)[k];
      s += (k ? " " : "") + Number(x);
    }
    const char* prefix = d.extra == kLogicalArray ? "L" : a.cls == kInt8 ? "int8" : a.cls == kDouble ? "d" : "n";
    return std::string(prefix) + "[" + s + "]";
  }
  if (d.kind == kComposite) {
    auto items = Elements(d, data);
    std::string s;
    switch (d.extra) {
      case kList:
      case kFreeList:
        for (size_t k = 0; k < items.size(); ++k) s += (k ? ", " : "") + FormatElement(items[k]);
        return (d.extra == kFreeList ? "free{" : "{") + s + "}";
      case kCellArray:
        for (size_t k = 1; k < items.size(); ++k) s += (k > 1 ? ", " : "") + FormatElement(items[k]);
        return "{" + Dims(items[0], 0) + ": " + s + "}";
      case kStruct:
        for (size_t k = 0; k < items.size(); ++k) {
          const CompositeElementHeader* e = items[k];
          s += (k ? ", " : "") + std::string(e->name ? "" : "?") + "=" + FormatElement(e);
        }
        return "(" + s + ")";
      case kStructArray:
        for (size_t k = 1; k < items.size(); ++k) s += (k > 1 ? ", " : "") + FormatElement(items[k]);
        return "(" + Dims(items[0], 1) + " structures: " + s + ")";
      default:
        return "<composite " + std::to_string(d.extra) + ">";
    }
  }
  return "<kind " + std::to_string(d.kind) + ">";
}

class VariablesTest : public StackFixture {
 protected:
  VariablesTest() : StackFixture({.blockCells = 64 * 1024, .messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    CaptureDescriptor(2, &errors);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    SetCodeOptions(ctx, 0, 0);
  }

  char* Names() {
    CallFrame* f = FrameAt(ctx, 0);
    return reinterpret_cast<char*>(FrameSlots(f) + f->nameCapacity);
  }

  // The base frame's variable of that name, added when new.
  int Variable(const char* name) {
    for (int i = 0; i < nameCount; ++i)
      if (std::strncmp(Names() + i * kVariableNameBytes, name, kVariableNameBytes) == 0) return i;
    std::memset(Names() + nameCount * kVariableNameBytes, 0, kVariableNameBytes);
    std::memcpy(Names() + nameCount * kVariableNameBytes, name, std::strlen(name));
    return nameCount++;
  }

  // Compiles text as command-line code over the base frame's names and runs it.
  [[nodiscard]] StatusCode Run(const std::string& text) {
    std::vector<int16_t> out(8192);
    int32_t used = 0;
    const StatusCode st = CompileSource(ctx, 0, text.data(), static_cast<int32_t>(text.size()), out.data(),
                                        static_cast<int32_t>(out.size()), &used,
                                        {.names = Names(), .nameCount = &nameCount, .nameCapacity = kBaseFrameNames});
    EXPECT_EQ(st, kOk) << "compiling " << text;
    if (st != kOk) return st;
    std::memcpy(ctx->codeBase + ctx->codeTop, out.data(), used * sizeof(int16_t));
    ctx->pc = {kCodeArea, 0, {}, ctx->codeTop * 2};
    errors.clear();
    return RunInterpreter(ctx, 0);
  }

  // Runs hand-assembled code.
  [[nodiscard]] StatusCode RunCode(std::vector<int16_t> code) {
    code.push_back(W(Op::EndOfCode));
    std::memcpy(ctx->codeBase + ctx->codeTop, code.data(), code.size() * sizeof(int16_t));
    ctx->pc = {kCodeArea, 0, {}, ctx->codeTop * 2};
    errors.clear();
    return RunInterpreter(ctx, 0);
  }

  [[nodiscard]] StatusCode Declare(const char* name, const char* source) {
    return DeclareAndCompileFunction(ctx, name, nullptr, 0, source, static_cast<int32_t>(std::strlen(source)), 1,
                                     false);
  }

  int32_t Slot(const char* name) { return FrameSlots(FrameAt(ctx, 0))[Variable(name)]; }

  std::string Show(const char* name) {
    const int32_t value = VariableValueBlock(ctx, Slot(name));
    if (value <= 0) return "<undefined>";
    return Format(VariableDescriptor(ctx, value), ctx->heapBase + value + kVariableHeaderCells);
  }

  // Stores the value on top into a variable.
  void Store(const char* name) {
    const int16_t store[] = {W(Op::StoreVar), static_cast<int16_t>(Variable(name))};
    ASSERT_EQ(OpStoreVar(ctx, store), kOk);
  }
  void SetRow(const char* name, std::vector<double> values) {
    PushRow(std::move(values));
    Store(name);
  }
  void SetMatrix(const char* name, int32_t rows, int32_t cols) {
    double* re = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, rows, cols, &re, nullptr), kOk);
    for (int32_t k = 0; k < rows * cols; ++k) re[k] = k + 1;
    Store(name);
  }
  // A 1 x n structure array whose structure k has field a = k + 1.
  void SetStructArray(const char* name, int n) {
    for (int k = 0; k < n; ++k) {
      ASSERT_EQ(PushRealScalar(ctx, k + 1), kOk);
      ASSERT_EQ(MakeListFromValues(ctx, 1, false, "a", 1), kOk);
    }
    ASSERT_EQ(MakeListFromValues(ctx, n, false, nullptr, 0), kOk);
    ASSERT_EQ(ConvertTopToStructArray(ctx), kOk);
    Store(name);
  }

  // Free heap cells, counting the error records as free: each error replaces them.
  int32_t FreeHeapCells() {
    int32_t free = 0;
    for (int32_t at = 0; at < ctx->heapSize; at += 1 + (ctx->heapBase[at].w[0] & kHeapCountMask)) {
      const bool record = at + 1 == ctx->lastErrorRecord || at + 1 == ctx->currentErrorRecord;
      if ((ctx->heapBase[at].w[0] & kHeapInUse) == 0 || record) free += 1 + (ctx->heapBase[at].w[0] & kHeapCountMask);
    }
    return free;
  }

  int nameCount = 1;  // "ans"
  std::string errors;
};

TEST_F(VariablesTest, ReadsFollowStorageOrder) {
  SetMatrix("x", 2, 3);  // [1 2 3; 4 5 6]
  SetRow("i", {2, 3});
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"y = x;", "[1 2 3; 4 5 6]"},
      {"y = x(2);", "2"},
      {"y = x(2, 1);", "4"},
      {"y = x(end);", "6"},
      {"y = x(1, end);", "3"},
      {"y = x(end, 1);", "4"},
      {"y = x(:, 2);", "[2; 5]"},
      {"y = x(2, :);", "[4 5 6]"},
      {"y = x(i);", "[2 3]"},
      {"y = x(2, i);", "[5 6]"},
      {"y = x(:);", "[1; 2; 3; 4; 5; 6]"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(c.text), kOk) << c.text << errors;
    EXPECT_EQ(Show("y"), c.want) << c.text;
  }
  EXPECT_EQ(Show("x"), "[1 2 3; 4 5 6]");
}

TEST_F(VariablesTest, IndexErrorsNameTheVariable) {
  SetMatrix("x", 2, 2);
  Variable("q");
  struct Case {
    const char* text;
    StatusCode code;
    const char* message;
  };
  const Case cases[] = {
      {"y = x(5);", kIndexOutOfRange, "Index out of range for variable 'x'"},
      {"y = x(0);", kIndexOutOfRange, "Index out of range for variable 'x'"},
      {"y = x(1.5);", kNonIntegerIndex, "Non-integer index for variable 'x'"},
      {"y = q;", kUndefVar, "Undefined variable 'q'"},
      {"y = x(1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1);", kOutOfRangeArg, ""},
      {"x(1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1) = 2;", kOutOfRangeArg, ""},
      {"c{2} = 1; y = c{1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1};", kBadDim, ""},
      {"s.a = 1; y = s.b;", kUndefField, "Undefined structure field 'b'"},
      {"y = x.a;", kNonStructVar, "Attempt to access field 'a' of non-struct variable 'x'"},
      {"y = x{1};", kNonListVar, "Attempt to access to element 1 of non-list variable 'x'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.text), c.code) << c.text;
    EXPECT_NE(errors.find(c.message), std::string::npos) << c.text << ": " << errors;
  }
  EXPECT_EQ(Show("x"), "[1 2; 3 4]");
}

TEST_F(VariablesTest, IndexedAssignmentGrowsAndDeletes) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"x(2) = 7;", "[1 7 3 4 5]"}, {"x(7) = 9;", "[1 2 3 4 5 0 9]"}, {"x(3) = [];", "[1 2 4 5]"},
      {"x(:) = 0;", "[0 0 0 0 0]"}, {"x(1, 2) = 8;", "[1 8 3 4 5]"},  {"x(2, 1) = 8;", "[1 2 3 4 5; 8 0 0 0 0]"},
      {"x(i) = [];", "[1 3 5]"},    {"x(i) = 6;", "[1 6 3 6 5]"},     {"x(:) = [];", "[]"},
  };
  for (const Case& c : cases) {
    SetRow("x", {1, 2, 3, 4, 5});
    SetRow("i", {2, 4});
    ASSERT_EQ(Run(c.text), kOk) << c.text << errors;
    EXPECT_EQ(Show("x"), c.want) << c.text;
  }
  // New variables take the shape the indices give them.
  ASSERT_EQ(Run("y(2, 3) = 1; z(3) = 5;"), kOk) << errors;
  EXPECT_EQ(Show("y"), "[0 0 0; 0 0 1]");
  EXPECT_EQ(Show("z"), "[0 0 5]");
}

TEST_F(VariablesTest, AssignmentWorksInPlace) {
  SetRow("x", {1, 2, 3, 4, 5});
  const int32_t before = Slot("x");
  ASSERT_EQ(Run("x(2) = 7; x(3) = [];"), kOk) << errors;
  EXPECT_EQ(Show("x"), "[1 7 4 5]");
  EXPECT_EQ(Slot("x"), before);
  // A field of a structure that keeps its size is written where it is.
  ASSERT_EQ(Run("s.a = 1; s.b = 2;"), kOk) << errors;
  const int32_t structure = Slot("s");
  ASSERT_EQ(Run("s.a = 3;"), kOk) << errors;
  EXPECT_EQ(Slot("s"), structure);
  EXPECT_EQ(Show("s"), "(=3, =2)");
}

TEST_F(VariablesTest, FailedAssignmentLeavesTheVariable) {
  SetRow("x", {1, 2, 3});
  ASSERT_EQ(Run("s.a = 1;"), kOk) << errors;
  const int32_t freeBefore = FreeHeapCells();
  struct Case {
    const char* text;
    StatusCode code;
  };
  const Case cases[] = {
      {"z(0) = 1;", kIndexOutOfRange},      {"z.a(1.5) = 1;", kNonIntegerIndex}, {"s.b(0) = 2;", kIndexOutOfRange},
      {"s.b.c{0} = 2;", kIndexOutOfRange},  {"x(0) = 4;", kIndexOutOfRange},     {"x(2) = {1};", kWrongType},
      {"c{2}.f(0) = 1;", kIndexOutOfRange},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.text), c.code) << c.text;
    EXPECT_EQ(Show("z"), "<undefined>") << c.text;
    EXPECT_EQ(Show("c"), "<undefined>") << c.text;
    EXPECT_EQ(Show("x"), "[1 2 3]") << c.text;
    EXPECT_EQ(Show("s"), "(=1)") << c.text;
    EXPECT_EQ(FreeHeapCells(), freeBefore) << c.text;
  }
}

TEST_F(VariablesTest, AssignmentCutShortByAnotherInstruction) {
  // The index fails to load after the placeholder for z was made.
  Variable("q");
  EXPECT_EQ(Run("z(q) = 1;"), kUndefVar);
  EXPECT_EQ(Show("z"), "<undefined>");
  ASSERT_EQ(Run("s.a = 1;"), kOk) << errors;
  EXPECT_EQ(Run("s.b(q) = 1;"), kUndefVar);
  EXPECT_EQ(Show("s"), "(=1)");
}

TEST_F(VariablesTest, CopiesOfAbandonedAssignmentsAreReleased) {
  // A chain cut short leaves its reference on the stack; the error ending
  // releases the copy it holds.
  const int32_t freeBefore = FreeHeapCells();
  const int16_t z = static_cast<int16_t>(Variable("z"));
  ASSERT_EQ(RunCode({W(Op::RefVarForAssign), z, W(Op::GetField), 0, W(Op::EndOfThreadCode)}), kOk) << errors;
  EXPECT_LT(FreeHeapCells(), freeBefore);
  ReleaseDetachedReferences(ctx);
  EXPECT_EQ(FreeHeapCells(), freeBefore);
  EXPECT_EQ(Show("z"), "<undefined>");
}

TEST_F(VariablesTest, FieldsAndNestedStructures) {
  ASSERT_EQ(Run("s.a.b = 1; s.c = 2; v = s.a.b; w = s.c;"), kOk) << errors;
  EXPECT_EQ(Show("s"), "(=(=1), =2)");
  EXPECT_EQ(Show("v"), "1");
  EXPECT_EQ(Show("w"), "2");
  // A field grows and shrinks inside the structure; its neighbours stay.
  SetRow("r", {4, 5, 6});
  ASSERT_EQ(Run("s.a.b = r; s.a.b(5) = 9; v = s.c;"), kOk) << errors;
  EXPECT_EQ(Show("s"), "(=(=[4 5 6 0 9]), =2)");
  EXPECT_EQ(Show("v"), "2");
  ASSERT_EQ(Run("s.a.b(2) = []; s.a = 0;"), kOk) << errors;
  EXPECT_EQ(Show("s"), "(=0, =2)");
  // Dynamic field names.
  ASSERT_EQ(PushStringFromBytes(ctx, 1, "c"), kOk);
  Store("n");
  ASSERT_EQ(Run("v = s.(n); s.(n) = 7;"), kOk) << errors;
  EXPECT_EQ(Show("v"), "2");
  EXPECT_EQ(Show("s"), "(=0, =7)");
}

TEST_F(VariablesTest, CellsGrowWithEmptyPlaces) {
  ASSERT_EQ(Run("c{2} = 1; c{5} = 2;"), kOk) << errors;
  EXPECT_EQ(Show("c"), "{1x5: [], 1, [], [], 2}");
  // A new place takes a structure; an [] already there is no structure.
  ASSERT_EQ(Run("v = c{2}; c{6}.f = 4; c(4) = [];"), kOk) << errors;
  EXPECT_EQ(Show("v"), "1");
  EXPECT_EQ(Show("c"), "{1x5: [], 1, [], 2, (=4)}");
  EXPECT_EQ(Run("c{3}.f = 4;"), kNonStructVar);
  ASSERT_EQ(Run("c{2, 2} = 8;"), kOk) << errors;
  EXPECT_EQ(Show("c"), "{2x5: [], 1, [], 2, (=4), [], 8, [], [], []}");
  // A column grows downwards; a list grows as a row.
  ASSERT_EQ(Run("l = {1}; l{3} = 3; d{2, 1} = 1; d{3} = 2;"), kOk) << errors;
  EXPECT_EQ(Show("l"), "{1, [], 3}");
  EXPECT_EQ(Show("d"), "{3x1: [], 1, 2}");
  EXPECT_EQ(Run("c{1, 1, 2} = 1;"), kWrongNumInd);
}

TEST_F(VariablesTest, CellSelectionsAndFreeLists) {
  ASSERT_EQ(Run("c{4} = 4; c{1} = 1;"), kOk) << errors;
  SetRow("i", {1, 4});
  ASSERT_EQ(Run("d = c(i); l = {c{i}};"), kOk) << errors;
  EXPECT_EQ(Show("d"), "{1x2: 1, 4}");
  EXPECT_EQ(Show("l"), "{1, 4}");
  EXPECT_EQ(Run("e = c{i};"), kFreeListAssignment);
  // Parentheses replace items one for one, or one for all.
  ASSERT_EQ(Run("c(i) = {7, 8}; e = c; c(2) = {9}; c(i) = {0};"), kOk) << errors;
  EXPECT_EQ(Show("e"), "{1x4: 7, [], [], 8}");
  EXPECT_EQ(Show("c"), "{1x4: 0, 9, [], 0}");
  EXPECT_EQ(Run("c(i) = {1, 2, 3};"), kIncompAsgnSize);
  EXPECT_EQ(Show("c"), "{1x4: 0, 9, [], 0}");
}

TEST_F(VariablesTest, StructureArrays) {
  SetStructArray("s", 3);
  ASSERT_EQ(Run("l = {s.a}; v = s(2).a; s(3).a = 30; w = s(3).a;"), kOk) << errors;
  EXPECT_EQ(Show("l"), "{1, 2, 3}");
  EXPECT_EQ(Show("v"), "2");
  EXPECT_EQ(Show("w"), "30");
  EXPECT_EQ(Run("v = s(4).a;"), kIndexOutOfRange);
  EXPECT_EQ(Run("v = s(1).b;"), kUndefField);
  // A new field reaches every structure; a new structure takes every field.
  ASSERT_EQ(Run("s(2).b = 5; s(5).a = 50; l = {s.b}; m = {s.a};"), kOk) << errors;
  EXPECT_EQ(Show("l"), "{[], 5, [], [], []}");
  EXPECT_EQ(Show("s"), "(5x1 structures: 1, [], 2, 5, 30, [], [], [], 50, [])");
  EXPECT_EQ(Show("m"), "{1, 2, 30, [], 50}");
  ASSERT_EQ(Run("t(2).a = 1; u(1).a = 2; l = {t.a};"), kOk) << errors;
  EXPECT_EQ(Show("l"), "{[], 1}");
  EXPECT_EQ(Show("u"), "(=2)");
}

TEST_F(VariablesTest, GlobalsAreSharedAndClearedEverywhere) {
  ASSERT_EQ(Declare("setg", "function setg()\nglobal G\nG = 5;\n"), kOk);
  ASSERT_EQ(Declare("clearg", "function clearg()\nglobal G\nclear('G');\n"), kOk);
  ASSERT_EQ(Run("global G; G(3) = 1;"), kOk) << errors;
  EXPECT_EQ(Show("G"), "[0 0 1]");
  ASSERT_EQ(RunFunctionByName(ctx, "setg", nullptr, 0, 0, false, 0), kOk) << errors;
  EXPECT_EQ(Show("G"), "5");
  ASSERT_EQ(RunFunctionByName(ctx, "clearg", nullptr, 0, 0, false, 0), kOk) << errors;
  EXPECT_EQ(Show("G"), "<undefined>");
  EXPECT_EQ(Run("y = G;"), kUndefVar);
  ASSERT_EQ(Run("G = 2;"), kOk) << errors;
  EXPECT_EQ(Show("G"), "2");
}

TEST_F(VariablesTest, PersistentsKeepTheirValueBetweenCalls) {
  SetLineInfoFlag(ctx, 1);  // the line markers tell whose persistents they are
  ASSERT_EQ(Declare("keep", "function r = keep()\npersistent v\nr = v;\nv = 7;\n"), kOk);
  ASSERT_EQ(Declare("other", "function r = other()\npersistent v\nr = v;\n"), kOk);
  for (const char* want : {"[]", "7", "7"}) {
    ASSERT_EQ(RunFunctionByName(ctx, "keep", nullptr, 0, 1, false, 0), kOk) << errors;
    EXPECT_EQ(Format(*DescriptorAt(ctx, 0), DataAt(ctx, 0)), want);
    PopValue(ctx);
  }
  ASSERT_EQ(RunFunctionByName(ctx, "other", nullptr, 0, 1, false, 0), kOk) << errors;
  EXPECT_EQ(Format(*DescriptorAt(ctx, 0), DataAt(ctx, 0)), "[]");
}

TEST_F(VariablesTest, FunctionValuesIndexedAreCalled) {
  ASSERT_EQ(Declare("same", "function r = same(a)\nr = a;\n"), kOk);
  void* payload = nullptr;
  ASSERT_EQ(PushBoxedValue(ctx, kFunctionRef, 8, &payload), kOk);
  const int16_t reference[4] = {4, 0, 's' | 'a' << 8, 'm' | 'e' << 8};
  std::memcpy(payload, reference, sizeof reference);
  Store("h");
  ASSERT_EQ(Run("y = h(4); s.f = h; z = s.f(5);"), kOk) << errors;
  EXPECT_EQ(Show("y"), "4");
  EXPECT_EQ(Show("z"), "5");
}

TEST_F(VariablesTest, ClearByName) {
  SetRow("x", {1});
  SetRow("y", {2});
  ASSERT_EQ(Run("clear('x', 'nosuchname', 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa');"), kOk) << errors;
  EXPECT_EQ(Show("x"), "<undefined>");
  EXPECT_EQ(Show("y"), "2");
  ASSERT_EQ(Run("clear;"), kOk) << errors;
  EXPECT_EQ(Show("y"), "<undefined>");
  // Discarding compiled code is refused while a function runs.
  ASSERT_EQ(Declare("dropcode", "function dropcode()\nclear('-f');\n"), kOk);
  EXPECT_EQ(RunFunctionByName(ctx, "dropcode", nullptr, 0, 0, false, 0), kBadContext);
  // From the host, with the failed call's frame (kept for its trace) gone.
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  ctx->pc.space = kNoCode;
  ASSERT_EQ(PushStringFromBytes(ctx, 2, "-f"), kOk);
  const int16_t clear[] = {W(Op::Clear), 1};
  EXPECT_EQ(OpClear(ctx, clear), kOk);
  EXPECT_EQ(StoreEntry(ctx, ctx->entriesInUse - 1)->position, 0);
}

TEST_F(VariablesTest, UndefinedInputArgument) {
  ASSERT_EQ(Declare("second", "function r = second(a, b)\nr = b;\n"), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(RunFunctionByName(ctx, "second", nullptr, 1, 1, false, 0), kUndefArgin);
  EXPECT_NE(errors.find("Undefined input argument 'b'"), std::string::npos) << errors;
}

TEST_F(VariablesTest, IncrementAndMatrixRowColumn) {
  SetMatrix("x", 2, 3);
  const int16_t x = static_cast<int16_t>(Variable("x"));
  const int16_t y = static_cast<int16_t>(Variable("y"));
  const int16_t z = static_cast<int16_t>(Variable("z"));
  ASSERT_EQ(RunCode({W(Op::IncrementVar), x, W(Op::IncrementVar), x, W(Op::DecrementVar), x}), kOk) << errors;
  EXPECT_EQ(Show("x"), "[2 3 4; 5 6 7]");
  // matrixrow for a single index: each element's row; with two indices 1..rows.
  ASSERT_EQ(RunCode({W(Op::RefVar), x, W(Op::IndexMatrixRow), 0, 1, 1, W(Op::StoreVar), y, W(Op::EndRef), W(Op::Drop),
                     W(Op::RefVar), x, W(Op::IndexMatrixCol), 0, 2, 2, W(Op::StoreVar), z, W(Op::Drop)}),
            kOk)
      << errors;
  EXPECT_EQ(Show("y"), "[1 1 1; 2 2 2]");
  EXPECT_EQ(Show("z"), "[1 2 3]");
  ASSERT_EQ(PushStringFromBytes(ctx, 2, "ab"), kOk);
  Store("t");
  EXPECT_EQ(RunCode({W(Op::IncrementVar), static_cast<int16_t>(Variable("t"))}), kWrongVarType);
}

}  // namespace
