// Objects and classes: class names, class/isobject/isa/methods, the search of
// parent parts, and the overload step of the virtual machine for a native
// class of a test library, for language classes, and the retry as double.
#include "engine/objects.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/bytecode.h"
#include "engine/heap.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

// ---------------------------------------------------------------------------
// The test library: class "vec" holds one double.

[[nodiscard]] StatusCode ReadSubscript(EngineContext* ctx, double* k);

double OperandValue(EngineContext* ctx, int position) {
  int64_t bytes = 0;
  void* payload = nullptr;
  if (GetNativeObjectArg(ctx, position, &bytes, &payload) == kOk) {
    double x = 0;
    std::memcpy(&x, payload, sizeof x);
    return x;
  }
  double x = 0;
  EXPECT_EQ(GetRealScalarArg(ctx, position, &x), kOk);
  return x;
}

[[nodiscard]] StatusCode PushVec(EngineContext* ctx, double x) {
  void* payload = nullptr;
  if (StatusCode st = PushNativeObject(ctx, sizeof x, &payload); st != kOk) return st;
  std::memcpy(payload, &x, sizeof x);
  return kOk;
}

[[nodiscard]] StatusCode VecNew(EngineContext* ctx, int nargin, int, void*) {
  const double x = OperandValue(ctx, 0);
  if (StatusCode st = PushVec(ctx, x); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

[[nodiscard]] StatusCode VecPlus(EngineContext* ctx, int nargin, int, void*) {
  const double x = OperandValue(ctx, 1) + OperandValue(ctx, 0);
  if (StatusCode st = PushVec(ctx, x); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

[[nodiscard]] StatusCode VecDisp(EngineContext* ctx, int nargin, int, void*) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "vec %g\n", OperandValue(ctx, 0));
  if (StatusCode st = WriteToDescriptor(ctx, 1, text, n); st != kOk) return st;
  return DropArgsUnderResults(ctx, 0, nargin);
}

// v(k) is the value times k; the type must be "()".
[[nodiscard]] StatusCode VecSubsref(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = PushStructField(ctx, 0, "type", 4); st != kOk) return st;
  char type[8] = {};
  int64_t length = 0;
  EXPECT_EQ(PopStringToBuffer(ctx, type, sizeof type, &length), kOk);
  if (std::strcmp(type, "()") != 0) return kBadArg;
  // The subscript may come as any numeric class.
  double k = 0;
  if (StatusCode st = ReadSubscript(ctx, &k); st != kOk) return st;
  if (StatusCode st = PushRealScalar(ctx, OperandValue(ctx, 1) * k); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

// The subscript of {type: "()", subs: {k}} on top.
[[nodiscard]] StatusCode ReadSubscript(EngineContext* ctx, double* k) {
  if (StatusCode st = PushStructField(ctx, 0, "subs", 4); st != kOk) return st;
  if (StatusCode st = PushListElement(ctx, 0, 1); st != kOk) return st;
  NumericView v;
  if (!ReadNumeric(ctx, 0, &v) || v.count != 1) return kBadArg;
  *k = RealElement(v, 0);
  return DropArgsUnderResults(ctx, 0, 2);
}

// v(k) = x makes a vec of 10 x + k.
[[nodiscard]] StatusCode VecSubsasgn(EngineContext* ctx, int nargin, int, void*) {
  double k = 0;
  EXPECT_EQ(RotateValues(ctx, 2, 1), kOk);  // S on top
  if (StatusCode st = ReadSubscript(ctx, &k); st != kOk) return st;
  if (StatusCode st = PushVec(ctx, 10 * OperandValue(ctx, 1) + k); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

// end(v, k, n) is 4; the position and count it was asked for are kept.
double g_endAsked[2];
[[nodiscard]] StatusCode VecEnd(EngineContext* ctx, int nargin, int, void*) {
  g_endAsked[0] = OperandValue(ctx, 1);
  g_endAsked[1] = OperandValue(ctx, 0);
  if (StatusCode st = PushRealScalar(ctx, 4); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

// v - x answers its result and then suspends the run, as a native that waits
// for its host does.
[[nodiscard]] StatusCode VecMinus(EngineContext* ctx, int nargin, int, void*) {
  const double x = OperandValue(ctx, 1) - OperandValue(ctx, 0);
  if (StatusCode st = PushVec(ctx, x); st != kOk) return st;
  if (StatusCode st = DropArgsUnderResults(ctx, 1, nargin); st != kOk) return st;
  return kSuspended;
}

// A plain native that takes only doubles, doubling them.
[[nodiscard]] StatusCode OnlyDouble(EngineContext* ctx, int, int, void*) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (d.kind != 0) return kWrongType;
  double x = 0;
  if (StatusCode st = PopRealScalar(ctx, &x); st != kOk) return kWrongType;
  return PushRealScalar(ctx, 2 * x);
}

NativeFunctionRecord Native(NativeHandler h, int32_t kind, const char* name, uint8_t minIn, uint8_t maxIn,
                            uint8_t minOut, uint8_t maxOut) {
  NativeFunctionRecord r{};
  r.handler = h;
  r.kind = kind;
  std::strncpy(r.name, name, sizeof r.name);
  r.minInputs = minIn, r.maxInputs = maxIn, r.minOutputs = minOut, r.maxOutputs = maxOut;
  return r;
}

NativeFunctionRecord g_vecLibrary[] = {
    Native(nullptr, 0, "@vec", 0, 0, 0, 0),           Native(&VecNew, -1, "vec", 1, 1, 0, 1),
    Native(&VecPlus, 1, "plus", 2, 2, 0, 1),          Native(&VecMinus, 1, "minus", 2, 2, 0, 1),
    Native(&VecDisp, 1, "disp", 1, 1, 0, 0),          Native(&VecSubsref, 1, "subsref", 2, 2, 0, 1),
    Native(&VecSubsasgn, 1, "subsasgn", 3, 3, 1, 1),  Native(&VecEnd, 1, "end", 3, 3, 0, 1),
    Native(&OnlyDouble, 0, "onlydouble", 1, 1, 0, 1), NativeFunctionRecord{},
};

// Language classes typed at the command line.
constexpr char kPointClass[] =
    "function o = point(x)\n"
    "s.x = x;\n"
    "o = class(s, 'point');\n"
    "function r = point::getx(o)\n"
    "r = o.x;\n"
    "function o = mark(p)\n"
    "s.m = 1;\n"
    "o = class(s, 'mark', p);\n";

class ObjectsTest : public StackFixture {
 protected:
  ObjectsTest() : StackFixture({.blockCells = 512 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    CaptureDescriptor(1, &output);
    ASSERT_EQ(InstallNativeLibrary(ctx, g_vecLibrary, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  // What a command line writes on descriptor 1.
  std::string Output(const std::string& text) {
    output.clear();
    EXPECT_EQ(Command(text), kOk) << text;
    return output;
  }

  std::string output;
};

TEST_F(ObjectsTest, ClassNamesOfEveryKindOfValue) {
  struct Case {
    const char* expression;
    const char* want;
  };
  const Case kCases[] = {
      {"true", "logical"},       {"['ab'; 'cd']", "char"},
      {"1", "double"},           {"reshape([1 2 3 4 5 6 7 8], 2, 2, 2)", "double"},
      {"int16([1 2])", "int16"}, {"uint64(1)", "uint64"},
      {"{1, 2}", "list"},        {"s", "struct"},
      {"vec(1)", "vec"},         {"@sin", "funref"},
  };
  ASSERT_EQ(Command("s.a = 1;"), kOk);
  for (const Case& c : kCases) {
    output.clear();
    ASSERT_EQ(Command(std::string("x = class(") + c.expression + ");"), kOk) << c.expression;
    EXPECT_EQ(Output("disp(x)"), std::string(c.want) + "\n") << c.expression;
  }
}

TEST_F(ObjectsTest, ClassMakesObjectsWithParentsFirst) {
  ASSERT_EQ(Command(kPointClass), kOk);
  EXPECT_EQ(Output("disp(class(point(1)))"), "point\n");
  EXPECT_EQ(Output("s.a = 1; disp(isobject(point(2))); disp(isobject(s))"), "true\nfalse\n");
  ASSERT_EQ(Command("m = mark(point(5));"), kOk);
  EXPECT_EQ(Output("disp(isa(m, 'point')); disp(isa(m, 'mark')); disp(isa(m, 'other')); disp(isa(m, ''))"),
            "true\ntrue\nfalse\nfalse\n");
  EXPECT_EQ(Output("disp(isa(1, 'double')); disp(isa(int8(1), 'double'))"), "true\nfalse\n");
  // The parent's method finds the parent's fields through the part.
  EXPECT_EQ(Output("disp(getx(point(7)))"), "         7\n");
}

TEST_F(ObjectsTest, ClassRefusesBadParents) {
  ASSERT_EQ(Command(kPointClass), kOk);
  ASSERT_EQ(Command("p = point(1); s.a = 1;"), kOk);
  EXPECT_EQ(Command("x = class(s, 'twice', p, p);"), kUndefField);
  EXPECT_EQ(Command("s.point = 2; x = class(s, 'clash', p);"), kUndefField);
  EXPECT_EQ(Command("t.a = 1; x = class(t, 'bad', 3);"), kNonObjectArg);
  EXPECT_EQ(Command("x = class(3, 'bad');"), kWrongType);
}

TEST_F(ObjectsTest, MethodsListsAClassesFunctions) {
  ASSERT_EQ(Command(kPointClass), kOk);
  EXPECT_EQ(Output("methods('point')"), "getx\n");
  EXPECT_EQ(Output("methods('neverseen')"), "No method for class neverseen\n");
  EXPECT_EQ(Output("m = methods('neverseen'); disp(class(m))"), "list\n");

  // Short of room for the list, the class name stays for a second try.
  ASSERT_EQ(PushStringFromBytes(ctx, 5, "point"), kOk);
  const int64_t nameCells = Top().cells;
  PopValue(ctx);
  FillData(nameCells + 1);
  ASSERT_EQ(PushStringFromBytes(ctx, 5, "point"), kOk);
  const Snapshot before = Take();
  const int16_t ins[2] = {static_cast<int16_t>(Op::Methods), 1};
  EXPECT_EQ(OpMethods(ctx, ins), kDataStackFull);
  EXPECT_TRUE(Take() == before);
}

// Builds p = point-like object {a: 1} of class "base", then an object of
// class "top" holding p as its parent part, on the stack.
class PartSearchTest : public StackFixture {
 protected:
  SymbolId Intern(const char* name) {
    SymbolId s = 0;
    EXPECT_EQ(InternSymbol(ctx, name, static_cast<int>(std::strlen(name)), 32, &s), kOk);
    return s;
  }
  void PushObject(const char* field, double value, const char* cls, int parents) {
    ASSERT_EQ(PushRealScalar(ctx, value), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, 1, false, field, static_cast<int>(std::strlen(field))), kOk);
    if (parents > 0) (void)RotateValues(ctx, parents + 1, parents);  // the struct under its parents
    ASSERT_EQ(PushStringFromBytes(ctx, static_cast<int64_t>(std::strlen(cls)), cls), kOk);
    if (parents > 0) (void)RotateValues(ctx, parents + 1, parents);
    const int16_t ins[2] = {static_cast<int16_t>(Op::Class), static_cast<int16_t>(2 + parents)};
    ASSERT_EQ(OpClass(ctx, ins), kOk);
  }
};

TEST_F(PartSearchTest, FindsNestedPartsDepthFirst) {
  PushObject("a", 1, "base", 0);
  PushObject("b", 2, "middle", 1);
  PushObject("c", 3, "top", 1);
  const ValueDescriptor d = Top();
  ASSERT_EQ(d.extra, Intern("top"));
  int64_t offset = -1, cells = -1;
  ASSERT_EQ(FindObjectPartByClass(ctx, TopData(ctx), d.cells, d.extra, Intern("top"), &offset, &cells), kOk);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(cells, d.cells);
  ASSERT_EQ(FindObjectPartByClass(ctx, TopData(ctx), d.cells, d.extra, Intern("base"), &offset, &cells), kOk);
  // top = [middle = [base = [a], b], c]: base's data starts after two headers.
  EXPECT_EQ(offset, 4);
  const auto* a = reinterpret_cast<const CompositeElementHeader*>(TopData(ctx) + offset);
  EXPECT_EQ(a->name, Intern("a"));
  EXPECT_EQ(reinterpret_cast<const Cell*>(a + 1)->f, 1);
  EXPECT_EQ(FindObjectPartByClass(ctx, TopData(ctx), d.cells, d.extra, Intern("other"), &offset, &cells), kUndefField);
  EXPECT_EQ(FindObjectPartByClass(ctx, TopData(ctx), d.cells, kStruct, Intern("base"), &offset, &cells),
            kWrongTypeInternal);
  FillData(0);
  const ValueDescriptor o = At(1);
  EXPECT_EQ(FindObjectPartByClass(ctx, DataAt(ctx, 1), o.cells, o.extra, Intern("base"), &offset, &cells),
            kDataStackFull);
}

TEST_F(PartSearchTest, ParentsStandFirstInTheOrderGiven) {
  const int32_t before = ctx->descLength;
  PushObject("a", 1, "first", 0);
  PushObject("b", 2, "second", 0);
  PushObject("c", 3, "child", 2);
  const auto* e = reinterpret_cast<const CompositeElementHeader*>(TopData(ctx));
  EXPECT_EQ(e->name, Intern("first"));
  EXPECT_EQ(e->extra, Intern("first"));
  e = reinterpret_cast<const CompositeElementHeader*>(reinterpret_cast<const Cell*>(e + 1) + e->cells);
  EXPECT_EQ(e->name, Intern("second"));
  e = reinterpret_cast<const CompositeElementHeader*>(reinterpret_cast<const Cell*>(e + 1) + e->cells);
  EXPECT_EQ(e->name, Intern("c"));
  EXPECT_EQ(reinterpret_cast<const Cell*>(e + 1)->f, 3);
  EXPECT_EQ(ctx->descLength, before + 3) << "the inputs are replaced by the object";
}

TEST_F(PartSearchTest, ClassIdsAtDepth) {
  PushObject("a", 1, "base", 0);
  PushRow({1, 2});
  PushInteger<int8_t>(ctx, 3);
  EXPECT_EQ(GetClassIdAtDepth(ctx, 2), Intern("base"));
  EXPECT_EQ(GetClassIdAtDepth(ctx, 1), 0);
  EXPECT_EQ(GetBoxedSubtypeAtDepth(ctx, 0), kNumericArray);
  EXPECT_EQ(GetBoxedSubtypeAtDepth(ctx, 1), 0);
  EXPECT_EQ(GetBoxedSubtypeAtDepth(ctx, 2), 0);
  const auto isObject = GetServiceTable(ctx)->IsObjectArg;
  EXPECT_TRUE(isObject(ctx, 2));
  EXPECT_FALSE(isObject(ctx, 1));
  const char* name = nullptr;
  int length = 0;
  ASSERT_TRUE(GetValueClassName(ctx, &name, &length));
  EXPECT_EQ(std::string(name, length), "int8");
}

// A builtin short of room for its answer leaves its input in place, so that
// it can run again once the block has grown.
TEST_F(PartSearchTest, ClassBuiltinsShortOfRoomKeepTheirInput) {
  struct Case {
    const char* name;
    StatusCode (*handler)(EngineContext*, const int16_t*);
    Op op;
    int16_t operand;
  };
  const Case kCases[] = {
      {"class", &OpClass, Op::Class, 1},
      {"isobject", &OpIsobject, Op::Isobject, 0},
  };
  for (const Case& c : kCases) {
    Reset();
    // One cell always stays free: a push needs more than there is.
    FillData(2);
    ASSERT_EQ(PushRealScalar(ctx, 7), kOk) << c.name;
    const Snapshot before = Take();
    const int16_t ins[2] = {static_cast<int16_t>(c.op), c.operand};
    EXPECT_EQ(c.handler(ctx, ins), kDataStackFull) << c.name;
    EXPECT_TRUE(Take() == before) << c.name;
  }
}

// isa searches the parts with the name still on the stack: its scratch
// levels never overwrite an input it might have to keep.
TEST_F(PartSearchTest, IsaShortOfScratchKeepsItsInputs) {
  // base inside eight levels of children: the search needs a level each.
  PushObject("a", 1, "base", 0);
  const char* const kChildren[] = {"l1", "l2", "l3", "l4", "l5", "l6", "l7", "l8"};
  for (const char* child : kChildren) PushObject("f", 2, child, 1);
  ASSERT_EQ(PushStringFromBytes(ctx, 4, "base"), kOk);
  const int64_t nameCells = Top().cells;
  PopValue(ctx);
  FillData(nameCells + 1);
  ASSERT_EQ(RotateValues(ctx, 2, 1), kOk);  // the object back on top, the filler under it
  ASSERT_EQ(PushStringFromBytes(ctx, 4, "base"), kOk);
  const Snapshot before = Take();
  const int16_t ins[1] = {static_cast<int16_t>(Op::Isa)};
  EXPECT_EQ(OpIsa(ctx, ins), kDataStackFull);
  EXPECT_TRUE(Take() == before);
}

TEST_F(ObjectsTest, NativeClassMethodsTakeOperatorsIndexingAndDisplay) {
  ASSERT_EQ(Command("v = vec(2);"), kOk);
  EXPECT_EQ(Output("w = v + 3;"), "");
  EXPECT_EQ(Output("disp(w)"), "vec 5\n");
  EXPECT_EQ(Output("disp(4 + v)"), "vec 6\n");
  EXPECT_EQ(Output("disp(v(3))"), "         6\n");
  EXPECT_EQ(Output("disp(v(end))"), "         8\n");
  EXPECT_EQ(g_endAsked[0], 1);
  EXPECT_EQ(g_endAsked[1], 1);
  EXPECT_EQ(Output("v(3) = 5; disp(v)"), "vec 53\n");
  // The class has no times: the error stands.
  EXPECT_EQ(Command("x = v .* 2;"), kWrongType);
}

TEST_F(ObjectsTest, NativeMethodThatSuspendsIsResumedLikeAnyNative) {
  ASSERT_EQ(Command("v = vec(10);"), kOk);
  const std::string text = "w = v - 4; disp(w)";
  ASSERT_EQ(EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true), kSuspended);
  output.clear();
  EXPECT_EQ(RunInterpreter(ctx, 0), kSuspended);
  EXPECT_EQ(output, "") << "nothing after the suspension has run yet";
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(output, "vec 6\n");
}

TEST_F(ObjectsTest, RefusedIntegerCharAndLogicalInputsRunAgainAsDouble) {
  struct Case {
    const char* call;
    const char* want;
  };
  const Case kCases[] = {
      {"onlydouble(int8(4))", "         8\n"},
      {"onlydouble(true)", "         2\n"},
      {"onlydouble('a')", "       194\n"},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(Command(std::string("x = ") + c.call + ";"), kOk) << c.call;
    EXPECT_EQ(Output("disp(x)"), c.want) << c.call;
  }
  EXPECT_EQ(Command("x = onlydouble({1});"), kWrongType);
}

TEST_F(ObjectsTest, LanguageClassWithoutMethodFailsNamingClassAndMethod) {
  ASSERT_EQ(Command(kPointClass), kOk);
  ASSERT_EQ(Command("p = point(1);"), kOk);
  EXPECT_EQ(Command("x = p + 1;"), kUndefFun);
  EXPECT_EQ(std::string(ctx->failingName), "point::plus");
  EXPECT_EQ(Command("x = p.x;"), kUndefFun);
  EXPECT_EQ(std::string(ctx->failingName), "point::subsref");
  // A field named by a value asks the same methods, with the name kept.
  EXPECT_EQ(Command("x = p.('x');"), kUndefFun);
  EXPECT_EQ(std::string(ctx->failingName), "point::subsref");
  EXPECT_EQ(Command("p.('x') = 2;"), kUndefFun);
  EXPECT_EQ(std::string(ctx->failingName), "point::subsasgn");
  // A name that names no field is refused before the object is asked.
  EXPECT_EQ(Command("x = p.(3);"), kWrongType);
  EXPECT_EQ(Command("x = p.('');"), kUndefField);
  // No method takes a field of an indexed object.
  EXPECT_EQ(Command("x = p(1).x;"), kIllegal);
  // Displayed without a disp method: the standard display, and the run goes on.
  EXPECT_EQ(Output("p\ndisp(7)"), "p =\n point object\nx: 1\n         7\n");
}

TEST_F(ObjectsTest, NativeClassSubsrefTakesDynamicFields) {
  ASSERT_EQ(Command("v = vec(2);"), kOk);
  // The class's subsref takes only "()": being asked at all shows the dispatch.
  EXPECT_EQ(Command("x = v.('a');"), kBadArg);
  EXPECT_EQ(Output("disp(v(2))"), "         4\n");
}

TEST_F(ObjectsTest, FunctionsCallNamesThatExistOnlyAsMethods) {
  ASSERT_EQ(Command(kPointClass), kOk);
  ASSERT_EQ(Command("function r = total(o)\nr = getx(o) + 1;\n"), kOk);
  EXPECT_EQ(Output("disp(total(point(2)))"), "         3\n");
  // Through a child object the parent's method answers.
  EXPECT_EQ(Output("disp(total(mark(point(5))))"), "         6\n");
  EXPECT_EQ(Command("function r = bad(o)\nr = nothing_at_all(o);\n"), kUnknownFun);
}

}  // namespace
