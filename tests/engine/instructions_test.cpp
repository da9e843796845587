// The machine's own instructions: literals, stack and list operations with
// free lists, switch case tests, loop ranges and loops over values, try marks,
// line markers, assert and the error builtins, the builtin dispatch point, and
// compiled control structures run through the interpreter loop.
#include "engine/instructions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/compiler/codegen.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "engine/resolution.h"
#include "engine/values/doublemath.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// An instruction with one double operand.
std::vector<int16_t> WithDouble(Op op, double x) {
  std::vector<int16_t> ins(5);
  ins[0] = W(op);
  std::memcpy(&ins[1], &x, sizeof x);
  return ins;
}

// Values a test native saw, in order.
std::vector<double>* g_seen = nullptr;

// What reaches descriptor 1.
std::string* g_printed = nullptr;

[[nodiscard]] StatusCode PrintedWrite(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void*) {
  if (descriptor != 1) return kBadFileId;
  g_printed->append(bytes, length);
  return kOk;
}

[[nodiscard]] StatusCode Record(EngineContext* ctx, int nargin, int, void*) {
  for (int p = nargin - 1; p >= 0; --p) {
    NumericView v;
    g_seen->push_back(ReadNumeric(ctx, p, &v) && v.count == 1 ? RealElement(v, 0) : -999);
  }
  return DropArgsUnderResults(ctx, 0, nargin);
}

class InstructionsTest : public StackFixture {
 protected:
  InstructionsTest() : StackFixture({.messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    g_seen = &seen;
    g_printed = &printed;
    natives[2].handler = AsNativeHandler(PrintedWrite);
    CaptureDescriptor(2, &errors);
    ASSERT_EQ(InstallNativeLibrary(ctx, natives, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    ctx->pc = {kCodeArea, 0, {}, 1000};
  }
  void TearDown() override {
    g_seen = nullptr;
    g_printed = nullptr;
  }

  // Runs one handler on an instruction; *moved gets how far it moved the
  // program counter (in words) beyond the next instruction.
  [[nodiscard]] StatusCode Run(OpcodeHandler h, std::vector<int16_t> ins, int* moved = nullptr) {
    const int32_t before = ctx->pc.offset;
    const StatusCode st = h(ctx, ins.data());
    if (moved) *moved = (ctx->pc.offset - before) / 2;
    ctx->pc.offset = before;
    return st;
  }

  int ValuesAboveFrame() {
    CallFrame* f = CurrentFrame(ctx);
    return (ctx->descLength - ctx->frameIndex - FrameExtent(f)) / 3;
  }

  std::vector<double> TopRow() {
    NumericView v;
    EXPECT_TRUE(ReadNumeric(ctx, 0, &v));
    std::vector<double> out;
    for (int64_t k = 0; k < v.count; ++k) out.push_back(RealElement(v, k));
    return out;
  }

  // Compiles text as command-line code over the base frame's names and
  // points the program counter at it in the free code area.
  [[nodiscard]] StatusCode Load(const std::string& text, int level = 0) {
    SetCodeOptions(ctx, level, 0);
    CallFrame* f = CurrentFrame(ctx);
    auto* names = reinterpret_cast<char*>(FrameSlots(f) + f->nameCapacity);
    int32_t count = f->variableCount, used = 0;
    const StatusCode st = CompileSource(ctx, 0, text.data(), static_cast<int32_t>(text.size()), output.data(),
                                        static_cast<int32_t>(output.size()), &used,
                                        {.names = names, .nameCount = &count, .nameCapacity = f->nameCapacity});
    if (st != kOk) return st;
    f = CurrentFrame(ctx);
    f->variableCount = count;
    compiled = used;
    // Doubles in the code sit on 8-byte boundaries: keep the alignment.
    int32_t at = ctx->codeTop;
    while (reinterpret_cast<uintptr_t>(ctx->codeBase + at) % 8 != 0) ++at;
    std::memcpy(ctx->codeBase + at, output.data(), used * sizeof(int16_t));
    ctx->pc = {kCodeArea, 0, {}, at * 2};
    return kOk;
  }

  [[nodiscard]] StatusCode Execute(const std::string& text, int level = 0) {
    if (StatusCode st = Load(text, level); st != kOk) return st;
    return RunInterpreter(ctx, 0);
  }

  // The base frame's variable of that name as a real scalar; NaN when it is
  // undefined or not a real scalar.
  double Variable(const char* name) {
    CallFrame* f = CurrentFrame(ctx);
    const auto* names = reinterpret_cast<const char*>(FrameSlots(f) + f->nameCapacity);
    for (int32_t v = 0; v < f->variableCount; ++v) {
      if (std::strncmp(names + 32 * v, name, 32) != 0) continue;
      const int32_t value = VariableValueBlock(ctx, FrameSlots(f)[v]);
      if (value <= 0) return kNaN;
      const ValueDescriptor d = VariableDescriptor(ctx, value);
      if (d.kind != 0 || d.cells != 1) return kNaN;
      return ctx->heapBase[value + kVariableHeaderCells].f;
    }
    return kNaN;
  }

  // Whether the last compiled code holds the opcode.
  bool Holds(Op op) const {
    for (int32_t p = 0; p < compiled; p += GetInstructionLength(&output[p]))
      if (output[p] == W(op)) return true;
    return false;
  }

  std::vector<double> seen;
  std::string errors;
  std::string printed;
  int32_t compiled = 0;
  alignas(8) std::vector<int16_t> output = std::vector<int16_t>(4000);
  // The "+write" hook's handler is set in SetUp; its style byte 1 means LF line ends.
  NativeFunctionRecord natives[4] = {{nullptr, nullptr, 0, "@itest", 0, 0, 0, 0},
                                     {Record, nullptr, 0, "record", 0, kAnyCount, 0, 0},
                                     {nullptr, nullptr, 0, "+write", 1, 0, 0, 0},
                                     {}};
};

// ---------------------------------------------------------------------------
// Literals

TEST_F(InstructionsTest, IntegerLiteralsTakeTheirWordsAsTheClassSays) {
  struct Case {
    std::vector<int16_t> ins;
    uint32_t cls;
    double want;
  };
  const Case kCases[] = {
      {{W(Op::PushInt8), 0x0180}, kInt8, -128},
      {{W(Op::PushUint8), 0x0180}, kUint8, 128},
      {{W(Op::PushInt16), -2}, kInt16, -2},
      {{W(Op::PushUint16), -1}, kUint16, 65535},
      {{W(Op::PushInt32), -1}, kInt32, -1},
      {{W(Op::PushUint32), -1}, kUint32, 4294967295.0},
      {{W(Op::PushInt64), -3}, kInt64, -3},
      {{W(Op::PushUint64), 5}, kUint64, 5},
      {{W(Op::PushInt32Wide), -1, 0x7FFF}, kInt32, 2147483647},
      {{W(Op::PushUint32Wide), 2, -1}, kUint32, 4294901762.0},
      {{W(Op::PushInt64Wide), 0, 0, 1, 0}, kInt64, 4294967296.0},
      {{W(Op::PushUint64Wide), -1, -1, -1, -1}, kUint64, 18446744073709551615.0},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(Run(OpPushLiteral, c.ins), kOk) << OpcodeMnemonic(c.ins[0]);
    NumericView v;
    ASSERT_TRUE(ReadNumeric(ctx, 0, &v));
    EXPECT_EQ(v.cls, c.cls) << OpcodeMnemonic(c.ins[0]);
    EXPECT_EQ(v.count, 1);
    EXPECT_EQ(RealElement(v, 0), c.want) << OpcodeMnemonic(c.ins[0]);
    PopValue(ctx);
  }
}

TEST_F(InstructionsTest, ConstantsAndTexts) {
  auto scalar = [&](std::vector<int16_t> ins) {
    EXPECT_EQ(Run(ins[0] >= 6 && ins[0] <= 12 ? OpSpecialValue : OpPushLiteral, ins), kOk);
    NumericView v;
    EXPECT_TRUE(ReadNumeric(ctx, 0, &v));
    const double x = RealElement(v, 0), y = ImagElement(v, 0);
    PopValue(ctx);
    return std::pair<double, double>{x, y};
  };
  EXPECT_EQ(scalar({W(Op::Pi)}).first, 3.141592653589793);
  EXPECT_EQ(scalar({W(Op::Goldenratio)}).first, (std::sqrt(5.0) + 1) * 0.5);
  EXPECT_EQ(scalar({W(Op::I)}), (std::pair<double, double>{0, 1}));
  EXPECT_EQ(scalar({W(Op::PushSmallImag), -4}), (std::pair<double, double>{0, -4}));
  EXPECT_EQ(scalar(WithDouble(Op::PushDouble, 2.5)).first, 2.5);
  EXPECT_EQ(scalar(WithDouble(Op::PushImagDouble, 2.5)), (std::pair<double, double>{0, 2.5}));
  EXPECT_EQ(scalar(WithDouble(Op::PushSingle, 0.1)).first, static_cast<double>(0.1f));
  EXPECT_TRUE(std::isinf(scalar({W(Op::Inf), 0}).first));
  EXPECT_TRUE(std::isnan(scalar({W(Op::Nan), 0}).first));
  EXPECT_EQ(scalar({W(Op::Eps), 0}).first, 0x1p-52);
  EXPECT_EQ(scalar({W(Op::True), 0}).first, 1);
  // Sized forms belong to the core library's array builders.
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "single"), kOk);
  ASSERT_EQ(Run(OpSpecialValue, {W(Op::Nan), 2}), kOk);
  EXPECT_EQ(TopRow().size(), 4u);
  EXPECT_TRUE(std::isnan(TopRow()[3]));
  PopValue(ctx);

  ASSERT_EQ(Run(OpPushLiteral, {W(Op::Info)}), kOk);
  EXPECT_EQ(TopString(), "RVO 5.1");
  // "abc" packed two bytes per word, low byte first.
  ASSERT_EQ(Run(OpPushString, {W(Op::PushString8), 3, 'a' | ('b' << 8), 'c'}), kOk);
  EXPECT_EQ(TopString(), "abc");
  ASSERT_EQ(Run(OpPushString, {W(Op::PushString16), 2, 'h', 'i'}), kOk);
  EXPECT_EQ(TopString(), "hi");

  ASSERT_EQ(Run(OpPrintText, {W(Op::PrintText8), 3, 'o' | ('k' << 8), '\n'}), kOk);
  ASSERT_EQ(Run(OpPrintText, {W(Op::PrintText16), 1, 'k' | ('!' << 8)}), kOk);
  EXPECT_EQ(printed, std::string("ok\nk!"));
}

TEST_F(InstructionsTest, SmallRangesCountAsColonDoes) {
  struct Case {
    int16_t start, stop, step;
    StatusCode st;
    std::vector<double> want;
  };
  const Case kCases[] = {
      {1, 5, 2, kOk, {1, 3, 5}}, {5, 1, -2, kOk, {5, 3, 1}},  {5, 1, 1, kOk, {}},
      {1, 1, 0, kOk, {}},        {1, 5, 0, kObjTooLarge, {}}, {-2, 0, 1, kOk, {-2, -1, 0}},
  };
  for (const Case& c : kCases) {
    const int before = ValuesAboveFrame();
    ASSERT_EQ(Run(OpPushLiteral, {W(Op::PushSmallRange), c.start, c.stop, c.step}), c.st) << c.start << ":" << c.stop;
    if (c.st != kOk) {
      EXPECT_EQ(ValuesAboveFrame(), before);
      continue;
    }
    EXPECT_EQ(TopRow(), c.want) << c.start << ":" << c.step << ":" << c.stop;
    PopValue(ctx);
  }
}

TEST_F(InstructionsTest, LiteralsWithoutRoomPushNothing) {
  FillData(1);
  const Snapshot before = Take();
  EXPECT_EQ(Run(OpPushLiteral, {W(Op::Pi)}), kDataStackFull);
  EXPECT_EQ(Run(OpPushLiteral, {W(Op::PushInt8), 1}), kDataStackFull);
  EXPECT_EQ(Run(OpPushString, {W(Op::PushString8), 1, 'a'}), kDataStackFull);
  EXPECT_TRUE(Take() == before);
  PopValue(ctx);
  ctx->descCapacity = ctx->descLength + 3;
  EXPECT_EQ(Run(OpPushLiteral, {W(Op::Pi)}), kDescStackFull);
}

// ---------------------------------------------------------------------------
// Stack and lists

TEST_F(InstructionsTest, DupAndRotate) {
  for (double x : {1.0, 2.0, 3.0}) ASSERT_EQ(PushRealScalar(ctx, x), kOk);
  ASSERT_EQ(Run(OpDup, {W(Op::Dup), 3, 2}), kOk);
  ASSERT_EQ(Run(OpRotate, {W(Op::Rotate), 5, 1}), kOk);
  std::vector<double> all;
  for (int p = ValuesAboveFrame() - 1; p >= 0; --p) all.push_back(DataAt(ctx, p)->f);
  EXPECT_EQ(all, (std::vector<double>{2, 3, 1, 2, 1}));
}

// Pushes a free list of the given scalars.
void PushFreeList(EngineContext* ctx, std::vector<double> values) {
  for (double x : values) ASSERT_EQ(PushRealScalar(ctx, x), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, static_cast<int>(values.size()), false, nullptr, 0), kOk);
  DescriptorAt(ctx, 0)->extra = kFreeList;
}

TEST_F(InstructionsTest, MakeListSpreadsFreeListsInPlace) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  PushFreeList(ctx, {2, 3, 4});
  PushFreeList(ctx, {});
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  PushFreeList(ctx, {6});
  ASSERT_EQ(Run(OpMakeList, {W(Op::MakeList), 5}), kOk);
  EXPECT_EQ(ValuesAboveFrame(), 1);
  ASSERT_EQ(ExplodeTopList(ctx, nullptr), kOk);
  std::vector<double> all;
  for (int p = ValuesAboveFrame() - 1; p >= 0; --p) all.push_back(DataAt(ctx, p)->f);
  EXPECT_EQ(all, (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST_F(InstructionsTest, ConcatenationOfOneValueIsItself) {
  PushFreeList(ctx, {7});
  ASSERT_EQ(Run(RunOpcodeHandler, {W(Op::Horzcat), 1}), kOk);
  EXPECT_EQ(TopScalar(), 7);
  ASSERT_EQ(Run(RunOpcodeHandler, {W(Op::Horzcat), 0}), kOk);
  EXPECT_EQ(Top().cells, 0);
  // More than one value joins through the core library: [7, 8].
  PopValue(ctx);
  ASSERT_EQ(PushRealScalar(ctx, 8), kOk);
  ASSERT_EQ(Run(RunOpcodeHandler, {W(Op::Horzcat), 2}), kOk);
  EXPECT_EQ(Top().extra, 2);
}

// ---------------------------------------------------------------------------
// Switch

enum class V {
  kThree,
  kFour,
  kNotANumber,
  kEmpty,
  kRow123,
  kRow12,
  kInt8Three,
  kInt8Row,
  kTrue,
  kAbc,
  kAbd,
  kAb,
  kListXAbc,
  kList13,
  kList1A,
  kListRow,
  kListInt8,
  kListNaN,
  kStruct
};

class SwitchTest : public InstructionsTest {
 protected:
  void Push(V v) {
    switch (v) {
      case V::kThree:
        ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
        break;
      case V::kFour:
        ASSERT_EQ(PushRealScalar(ctx, 4), kOk);
        break;
      case V::kNotANumber:
        ASSERT_EQ(PushNaN(ctx), kOk);
        break;
      case V::kEmpty:
        ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
        break;
      case V::kRow123:
        PushRow({1, 2, 3});
        break;
      case V::kRow12:
        PushRow({1, 2});
        break;
      case V::kInt8Three:
        PushInteger<int8_t>(ctx, 3);
        break;
      case V::kInt8Row: {
        const int32_t dims[2] = {1, 2};
        void* data = nullptr;
        ASSERT_EQ(PushIntegerArray(ctx, 2, dims, 1, false, &data), kOk);
        std::memset(data, 3, 2);
        break;
      }
      case V::kTrue:
        ASSERT_EQ(PushLogicalScalar(ctx, 1), kOk);
        break;
      case V::kAbc:
        ASSERT_EQ(PushStringFromBytes(ctx, 3, "abc"), kOk);
        break;
      case V::kAbd:
        ASSERT_EQ(PushStringFromBytes(ctx, 3, "abd"), kOk);
        break;
      case V::kAb:
        ASSERT_EQ(PushStringFromBytes(ctx, 2, "ab"), kOk);
        break;
      case V::kListXAbc:
        List({V::kAb, V::kAbc});
        break;
      case V::kList13:
        ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
        ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
        ASSERT_EQ(MakeListFromValues(ctx, 2, false, nullptr, 0), kOk);
        break;
      case V::kList1A:
        List({V::kFour, V::kAbc});
        break;
      case V::kListRow:
        List({V::kRow12});
        break;
      case V::kListInt8:
        List({V::kInt8Three});
        break;
      case V::kListNaN:
        List({V::kNotANumber});
        break;
      case V::kStruct:
        PushKind(Kind::kStruct);
        break;
    }
  }
  void List(std::vector<V> items) {
    for (V v : items) Push(v);
    ASSERT_EQ(MakeListFromValues(ctx, static_cast<int>(items.size()), false, nullptr, 0), kOk);
  }
};

TEST_F(SwitchTest, CaseValuesMatchAsEqDoes) {
  struct Case {
    V value, label;
    StatusCode st;
    bool match;
  };
  const Case kCases[] = {
      {V::kThree, V::kThree, kOk, true},
      {V::kThree, V::kFour, kOk, false},
      {V::kThree, V::kRow123, kOk, true},
      {V::kThree, V::kInt8Three, kOk, true},
      {V::kInt8Three, V::kThree, kOk, true},
      {V::kTrue, V::kRow123, kOk, true},
      {V::kThree, V::kList13, kOk, true},
      {V::kFour, V::kList13, kOk, false},
      // NaN matches nothing, on either side.
      {V::kNotANumber, V::kNotANumber, kOk, false},
      {V::kNotANumber, V::kThree, kOk, false},
      {V::kThree, V::kNotANumber, kOk, false},
      {V::kNotANumber, V::kListNaN, kOk, false},
      {V::kEmpty, V::kEmpty, kOk, false},
      {V::kEmpty, V::kThree, kOk, false},
      {V::kAbc, V::kAbc, kOk, true},
      {V::kAbc, V::kAbd, kOk, false},
      {V::kAbc, V::kAb, kOk, false},
      {V::kAbc, V::kListXAbc, kOk, true},
      {V::kAb, V::kListXAbc, kOk, true},
      {V::kAbc, V::kThree, kOk, false},
      // Errors.
      {V::kRow12, V::kThree, kWrongTypeInternal, false},
      {V::kInt8Row, V::kThree, kBadSize, false},
      {V::kStruct, V::kThree, kWrongTypeInternal, false},
      {V::kThree, V::kAbc, kWrongTypeInternal, false},
      {V::kThree, V::kStruct, kWrongTypeInternal, false},
      {V::kThree, V::kList1A, kWrongTypeInternal, false},
      {V::kThree, V::kListRow, kBadSize, false},
      {V::kThree, V::kListInt8, kNotSupported, false},
      {V::kAbc, V::kList13, kWrongTypeInternal, false},
  };
  int row = 0;
  for (const Case& c : kCases) {
    Push(c.value);
    const Snapshot before = Take();
    Push(c.label);
    int moved = 0;
    EXPECT_EQ(Run(OpCaseTest, {W(Op::CaseTest), 9}, &moved), c.st) << "row " << row;
    if (c.st == kOk) {
      EXPECT_EQ(moved, c.match ? 0 : 9) << "row " << row;
      EXPECT_TRUE(Take() == before) << "row " << row;
    }
    while (ValuesAboveFrame() > 0) PopValue(ctx);
    ++row;
  }
}

// ---------------------------------------------------------------------------
// Loop ranges and loops over values

class LoopTest : public InstructionsTest {
 protected:
  // Steps the loop instruction on top until it jumps; the values it pushed.
  std::vector<double> Walk(OpcodeHandler step, Op op, int limit = 100) {
    std::vector<double> out;
    for (int k = 0; k < limit; ++k) {
      int moved = 0;
      const StatusCode st = Run(step, {W(op), 5}, &moved);
      EXPECT_EQ(st, kOk);
      if (st != kOk || moved == 5) break;
      NumericView v;
      EXPECT_TRUE(ReadNumeric(ctx, 0, &v));
      out.push_back(RealElement(v, 0));
      PopValue(ctx);
    }
    return out;
  }
};

TEST_F(LoopTest, DoubleRangesRunColonsCountAndElements) {
  struct Case {
    std::vector<double> bounds;  // start [step] end
    StatusCode st;
    int count;
  };
  const Case kCases[] = {
      {{1, 5}, kOk, 5},
      {{1, 1, 5}, kOk, 5},
      {{0, 0.1, 0.3}, kOk, 4},
      {{0, 0.1, 0.7}, kOk, 8},
      {{1, 0, 1}, kOk, 0},
      {{5, 0, 1}, kOk, 0},
      {{5, -1, 1}, kOk, 5},
      {{5, 1}, kOk, 0},
      {{kNaN, 1}, kOk, 0},
      {{0.5, 3}, kOk, 3},
      // A loop steps without counting its range: a zero step that never
      // passes the end runs until the walk stops it.
      {{1, 0, 5}, kOk, 100},
      {{1, 1e300}, kOk, 100},
  };
  for (const Case& c : kCases) {
    for (double b : c.bounds) ASSERT_EQ(PushRealScalar(ctx, b), kOk);
    const int n = static_cast<int>(c.bounds.size());
    ASSERT_EQ(Run(OpRangeIterator, {W(Op::RangeIterator), static_cast<int16_t>(n)}), c.st) << c.bounds[0];
    if (c.st != kOk) {
      while (ValuesAboveFrame() > 0) PopValue(ctx);
      continue;
    }
    EXPECT_EQ(ValuesAboveFrame(), 1);
    const std::vector<double> got = Walk(OpForNextRange, Op::ForNextRange);
    ASSERT_EQ(static_cast<int>(got.size()), c.count) << c.bounds[0] << ".." << c.bounds[n - 1];
    const double step = n == 3 ? c.bounds[1] : 1;
    for (int k = 0; k < c.count; ++k) EXPECT_TRUE(SameBits(got[k], RangeElement(c.bounds[0], step, k)));
    PopValue(ctx);
  }
}

TEST_F(LoopTest, FoldedRangeDropsTheEndsImaginaryPart) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushComplexScalar(ctx, 3, 9), kOk);
  ASSERT_EQ(Run(OpRangeIterator, {W(Op::RangeIterator), 2}), kOk);
  EXPECT_EQ(Walk(OpForNextRange, Op::ForNextRange), (std::vector<double>{1, 2, 3}));
}

TEST_F(LoopTest, LongRangesKeepCounting) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2e9), kOk);
  ASSERT_EQ(Run(OpRangeIterator, {W(Op::RangeIterator), 2}), kOk);
  EXPECT_EQ(Walk(OpForNextRange, Op::ForNextRange, 3), (std::vector<double>{1, 2, 3}));
  ASSERT_EQ(Run(OpRangeLastValue, {W(Op::RangeLastValue)}), kOk);
  EXPECT_EQ(TopScalar(), 2e9);
}

TEST_F(LoopTest, IntegerRangesStopAtTheClassesEnds) {
  struct Case {
    std::vector<int64_t> bounds;
    uint32_t cls;
    StatusCode st;
    std::vector<double> want;
  };
  const Case kCases[] = {
      {{120, 127}, kInt8, kOk, {120, 121, 122, 123, 124, 125, 126, 127}},
      {{-126, -1, -128}, kInt8, kOk, {-126, -127, -128}},
      {{5, -2, 0}, kInt32, kOk, {5, 3, 1}},
      {{250, 3, 255}, kUint8, kOk, {250, 253}},
      {{253, 1, 255}, kUint8, kOk, {253, 254, 255}},
      {{1, 0, 5}, kInt16, kObjTooLarge, {}},
      {{5, 0, 1}, kInt16, kOk, {}},
      {{3, 1}, kUint16, kOk, {}},
  };
  for (const Case& c : kCases) {
    for (int64_t b : c.bounds) {
      void* data = nullptr;
      ASSERT_EQ(PushIntegerArray(ctx, 0, nullptr, c.cls & 0x7F, (c.cls & 0x80) != 0, &data), kOk);
      std::memcpy(data, &b, c.cls & 0x7F);
    }
    const auto n = static_cast<int16_t>(c.bounds.size());
    ASSERT_EQ(Run(OpRangeIterator, {W(Op::RangeIterator), n}), c.st) << c.bounds[0];
    if (c.st != kOk) {
      while (ValuesAboveFrame() > 0) PopValue(ctx);
      continue;
    }
    ASSERT_EQ(Run(OpDup, {W(Op::Dup), 1, 1}), kOk);
    EXPECT_EQ(Walk(OpForNextRange, Op::ForNextRange), c.want) << c.bounds[0];
    PopValue(ctx);
    // The last value agrees with the walk; an empty range stores nothing.
    int moved = 0;
    ASSERT_EQ(Run(OpRangeLastValue, {W(Op::RangeLastValue), W(Op::StoreVar), 0}, &moved), kOk);
    if (c.want.empty()) {
      EXPECT_EQ(moved, 2);
      EXPECT_EQ(ValuesAboveFrame(), 0);
    } else {
      EXPECT_EQ(moved, 0);
      EXPECT_EQ(TopRow(), std::vector<double>{c.want.back()});
      PopValue(ctx);
    }
  }
}

TEST_F(LoopTest, UnsignedRangeWithANegativeStepCountsDown) {
  PushInteger<uint8_t>(ctx, 3);
  PushInteger<int8_t>(ctx, -1);
  PushInteger<uint8_t>(ctx, 0);
  ASSERT_EQ(Run(OpRangeIterator, {W(Op::RangeIterator), 3}), kOk);
  const std::vector<double> got = Walk(OpForNextRange, Op::ForNextRange);
  // However the class rules convert the step, the loop ends.
  EXPECT_LE(got.size(), 4u);
  if (got.size() == 4) {
    EXPECT_EQ(got, (std::vector<double>{3, 2, 1, 0}));
  }
}

TEST_F(LoopTest, LastValueOfDoubleRanges) {
  struct Case {
    std::vector<double> bounds;
    bool set;
  };
  const Case kCases[] = {
      {{1, 10}, true}, {{0, 0.1, 0.7}, true}, {{10, -3, 1}, true}, {{5, 1}, false}, {{1, 0, 1}, false}};
  for (const Case& c : kCases) {
    for (double b : c.bounds) ASSERT_EQ(PushRealScalar(ctx, b), kOk);
    const int n = static_cast<int>(c.bounds.size());
    ASSERT_EQ(Run(OpRangeIterator, {W(Op::RangeIterator), static_cast<int16_t>(n)}), kOk);
    int moved = 0;
    ASSERT_EQ(Run(OpRangeLastValue, {W(Op::RangeLastValue), W(Op::StoreVar), 0}, &moved), kOk);
    double last = 0;
    bool tooLarge = false;
    const double step = n == 3 ? c.bounds[1] : 1;
    ASSERT_EQ(RangeLastElement(c.bounds[0], step, c.bounds[n - 1], &last, &tooLarge), c.set);
    if (!c.set) {
      EXPECT_EQ(moved, 2);
      EXPECT_EQ(ValuesAboveFrame(), 0);
      continue;
    }
    EXPECT_EQ(moved, 0);
    EXPECT_TRUE(SameBits(TopScalar(), last));
    PopValue(ctx);
  }
}

TEST_F(LoopTest, MatricesByColumnsListsByElements) {
  // 2 x 3, row by row: columns are [1;4], [2;5], [3;6].
  double* re = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 2, 3, &re, nullptr), kOk);
  for (int k = 0; k < 6; ++k) re[k] = std::vector<double>{1, 2, 3, 4, 5, 6}[k];
  std::vector<std::vector<double>> columns;
  for (int k = 0; k < 5; ++k) {
    int moved = 0;
    ASSERT_EQ(Run(OpForNext, {W(Op::ForNext), 7}, &moved), kOk);
    if (moved == 7) break;
    EXPECT_EQ(Top().extra, 1);
    columns.push_back(TopRow());
    PopValue(ctx);
  }
  EXPECT_EQ(columns, (std::vector<std::vector<double>>{{1, 4}, {2, 5}, {3, 6}}));
  PopValue(ctx);

  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, 1, "a"), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 2, false, nullptr, 0), kOk);
  int moved = 0;
  ASSERT_EQ(Run(OpForNext, {W(Op::ForNext), 7}, &moved), kOk);
  EXPECT_EQ(TopScalar(), 1);
  PopValue(ctx);
  ASSERT_EQ(Run(OpForNext, {W(Op::ForNext), 7}, &moved), kOk);
  EXPECT_EQ(TopString(), "a");
  PopValue(ctx);
  ASSERT_EQ(Run(OpForNext, {W(Op::ForNext), 7}, &moved), kOk);
  EXPECT_EQ(moved, 7);
  // The value keeps its kind under the count.
  EXPECT_EQ(Top().kind & 63, uint32_t{kComposite});
  PopValue(ctx);

  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  ASSERT_EQ(Run(OpForNext, {W(Op::ForNext), 7}, &moved), kOk);
  EXPECT_EQ(moved, 7);
  PopValue(ctx);
  ASSERT_EQ(PushVoidValue(ctx), kOk);
  EXPECT_EQ(Run(OpForNext, {W(Op::ForNext), 7}), kWrongType);
}

TEST_F(LoopTest, ComplexMatrixColumnsKeepTheirImaginaryParts) {
  double* re = nullptr;
  double* im = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 2, 2, &re, &im), kOk);
  // [0 1; 2 3] + i [10 11; 12 13]: the second column is [1; 3] + i [11; 13].
  for (int k = 0; k < 4; ++k) re[k] = k, im[k] = 10 + k;
  ASSERT_EQ(Run(OpForNext, {W(Op::ForNext), 7}), kOk);
  PopValue(ctx);
  ASSERT_EQ(Run(OpForNext, {W(Op::ForNext), 7}), kOk);
  NumericView v;
  ASSERT_TRUE(ReadNumeric(ctx, 0, &v));
  ASSERT_EQ(v.count, 2);
  EXPECT_EQ(RealElement(v, 0), 1);
  EXPECT_EQ(RealElement(v, 1), 3);
  EXPECT_EQ(ImagElement(v, 1), 13);
}

// ---------------------------------------------------------------------------
// Try marks, line markers, assert and errors

TEST_F(InstructionsTest, TryMarkArmsAndDisarmsTheFramesCatch) {
  CallFrame* f = CurrentFrame(ctx);
  ASSERT_EQ(Run(OpTryMark, {W(Op::TryMark), 12, 2}), kOk);
  EXPECT_EQ(f->catchSpace, int32_t{kCodeArea});
  EXPECT_EQ(f->catchOffset, ctx->pc.offset + 24);
  EXPECT_EQ(f->catchKeep, 2);
  ASSERT_EQ(Run(OpTryMark, {W(Op::TryMark), 0, 0}), kOk);
  EXPECT_EQ(f->catchSpace, 0);
  EXPECT_EQ(f->catchKeep, 0);
}

TEST_F(InstructionsTest, LineMarkerRecordsTheLineAndStopsAtABreakpoint) {
  CallFrame* f = CurrentFrame(ctx);
  ASSERT_EQ(Run(OpLineMarker, {W(Op::LineMarker), -1, 7}), kOk);
  EXPECT_EQ(f->line, 7);
  EXPECT_EQ(f->function, -1);

  int32_t list = 0;
  ASSERT_EQ(AllocateHeapBlock(ctx, 8, &list), kOk);
  ctx->heapBase[list].iw[0] = -1;
  ctx->heapBase[list].iw[1] = 9;
  ctx->breakpointList = list;
  ctx->breakpointCount = 1;
  ASSERT_EQ(Run(OpLineMarker, {W(Op::LineMarker), -1, 8}), kOk);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(Run(OpLineMarker, {W(Op::LineMarker), -1, 9}), kDebugStop);
  EXPECT_EQ(f->debugState, kDebugStopAtNextLine);
  EXPECT_EQ(f->suspendOffset, ctx->pc.offset);
  EXPECT_EQ(ctx->errorCode, kDebugStop);
  EXPECT_EQ(errors, "<9> \n");
}

TEST_F(InstructionsTest, EchoWritesTheLineHead) {
  ctx->echo = -2;
  ASSERT_EQ(Run(OpLineMarker, {W(Op::LineMarker), -1, 42}), kOk);
  EXPECT_EQ(errors, std::string(16, ' ') + "   42 \n");
}

TEST_F(InstructionsTest, AssertPassesDropsOrRaises) {
  struct Case {
    bool holds;
    std::vector<const char*> message;  // the message and its arguments as texts
    StatusCode st;
    const char* text;
  };
  const Case kCases[] = {
      {true, {}, kOk, nullptr},        {true, {"never shown"}, kOk, nullptr},
      {false, {}, kAssert, nullptr},   {false, {"went wrong"}, kUserError, "went wrong"},
      {false, {""}, kAssert, nullptr},
  };
  for (const Case& c : kCases) {
    const Snapshot before = Take();
    ASSERT_EQ(PushLogicalScalar(ctx, c.holds ? 1 : 0), kOk);
    for (const char* m : c.message) ASSERT_EQ(PushStringFromBytes(ctx, -1, m), kOk);
    const auto n = static_cast<int16_t>(1 + c.message.size());
    EXPECT_EQ(Run(OpAssert, {W(Op::Assert), n}), c.st);
    if (c.st == kOk) {
      EXPECT_TRUE(Take() == before);
    }
    if (c.text != nullptr) {
      EXPECT_EQ(CurrentErrorText(), c.text);
    }
    while (ValuesAboveFrame() > 0) PopValue(ctx);
  }
  PushKind(Kind::kStruct);
  EXPECT_EQ(Run(OpAssert, {W(Op::Assert), 1}), kWrongBoolType);
}

TEST_F(InstructionsTest, ErrorFamilyRaisesAndReports) {
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "bad thing"), kOk);
  EXPECT_EQ(Run(OpErrorFamily, {W(Op::Error), 1}), kUserError);
  EXPECT_EQ(CurrentErrorText(), "bad thing");
  EXPECT_EQ(ValuesAboveFrame(), 0);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "careful"), kOk);
  EXPECT_EQ(Run(OpErrorFamily, {W(Op::Warning), 1}), kOk);
  EXPECT_EQ(errors, "careful\n");
  EXPECT_EQ(ValuesAboveFrame(), 0);
}

// ---------------------------------------------------------------------------
// The builtin dispatch point

TEST_F(InstructionsTest, BuiltinsWithoutHandlersAnswerNotSupported) {
  // A core library that lacks a builtin: the call is refused and the
  // stacks stay as they were.
  const CoreLibraryTable* full = GetCoreLibraryTable();
  std::vector<BuiltinHandler> handlers(full->builtins, full->builtins + full->builtinCount);
  CoreLibraryTable partial = *full;
  partial.builtins = handlers.data();
  for (Op op : {Op::Sort, Op::Fread}) {
    handlers[static_cast<size_t>(op)] = nullptr;
    ASSERT_EQ(InstallCoreLibrary(ctx, &partial), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
    const Snapshot before = Take();
    EXPECT_EQ(Run(RunOpcodeHandler, {W(op), 1, 1}), kNotSupported) << OpcodeMnemonic(static_cast<int>(op));
    EXPECT_TRUE(Take() == before);
    PopValue(ctx);
  }
  ASSERT_EQ(InstallCoreLibrary(ctx, full), kOk);
}

// A list literal ending in a list: the values before it lead, then its elements.
TEST_F(InstructionsTest, JoinValuesToListPutsTheValuesBeforeTheList) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 4), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 2, false, nullptr, 0), kOk);
  ASSERT_EQ(Run(OpJoinValuesToList, {W(Op::JoinValuesToList), 3}), kOk);
  EXPECT_EQ(ValuesAboveFrame(), 1);
  int32_t count = 0;
  ASSERT_EQ(ExplodeTopList(ctx, &count), kOk);
  ASSERT_EQ(count, 4);
  for (double want : {4.0, 3.0, 2.0, 1.0}) {
    double x = 0;
    ASSERT_EQ(PopRealScalar(ctx, &x), kOk);
    EXPECT_EQ(x, want);
  }
}

// A host that has not installed the core library gets a clear refusal, and
// an installation of a table that does not fit this engine is refused whole.
TEST_F(InstructionsTest, CoreLibraryTableIsCheckedAndRequired) {
  const CoreLibraryTable* installed = ctx->core;
  CoreLibraryTable wrong = *GetCoreLibraryTable();
  wrong.builtinCount = kOpcodeCount - 1;
  EXPECT_EQ(InstallCoreLibrary(ctx, &wrong), kInitError);
  wrong = *GetCoreLibraryTable();
  wrong.displayTopValue = nullptr;
  EXPECT_EQ(InstallCoreLibrary(ctx, &wrong), kInitError);
  EXPECT_EQ(InstallCoreLibrary(ctx, nullptr), kInitError);
  EXPECT_EQ(ctx->core, installed);

  ctx->core = nullptr;
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  const Snapshot before = Take();
  EXPECT_EQ(Run(RunOpcodeHandler, {W(Op::Plus)}), kNotSupported);
  EXPECT_EQ(Run(RunOpcodeHandler, {W(Op::Horzcat), 2}), kNotSupported);
  EXPECT_TRUE(Take() == before);
  ASSERT_EQ(InstallCoreLibrary(ctx, GetCoreLibraryTable()), kOk);
  ASSERT_EQ(Run(RunOpcodeHandler, {W(Op::Plus)}), kOk);
  double sum = 0;
  ASSERT_EQ(PopRealScalar(ctx, &sum), kOk);
  EXPECT_EQ(sum, 3);
}

TEST_F(InstructionsTest, BuiltinsTheEngineHolds) {
  ASSERT_EQ(PushRealScalar(ctx, 7), kOk);
  ASSERT_EQ(Run(RunOpcodeHandler, {W(Op::Uint16)}), kOk);
  NumericView v;
  ASSERT_TRUE(ReadNumeric(ctx, 0, &v));
  EXPECT_EQ(v.cls, uint32_t{kUint16});
  PopValue(ctx);
  ASSERT_EQ(PushComplexScalar(ctx, 3, 4), kOk);
  ASSERT_EQ(Run(RunOpcodeHandler, {W(Op::Real)}), kOk);
  EXPECT_EQ(Top().kind, 0u);
  EXPECT_EQ(TopScalar(), 3);
  PopValue(ctx);
  PushKind(Kind::kStruct);
  EXPECT_EQ(Run(RunOpcodeHandler, {W(Op::Real)}), kWrongType);
  PopValue(ctx);

  ASSERT_EQ(PushStringFromBytes(ctx, -1, "sin"), kOk);
  ASSERT_EQ(Run(RunOpcodeHandler, {W(Op::MakeFunctionRef), 0}), kOk);
  EXPECT_EQ(ValuesAboveFrame(), 1);
  int32_t subtype = 0;
  void* payload = nullptr;
  ASSERT_EQ(GetBoxedArg(ctx, 0, &subtype, nullptr, &payload), kOk);
  EXPECT_EQ(subtype, kFunctionRef);
  const char* name = nullptr;
  int length = 0;
  GetFunctionReferenceName(ctx, payload, &name, &length);
  EXPECT_EQ(std::string(name, length), "sin");
  EXPECT_EQ(Run(RunOpcodeHandler, {W(Op::Str2fun)}), kWrongType);
}

// ---------------------------------------------------------------------------
// Compiled code through the interpreter loop

class CompiledTest : public InstructionsTest {};

TEST_F(CompiledTest, RangeLoopsAtEveryLevel) {
  for (int level : {0, 1, 2, 3, 4}) {
    seen.clear();
    ASSERT_EQ(Execute("for k = 0:0.1:0.3, record(k); end", level), kOk) << errors;
    ASSERT_EQ(seen.size(), 4u) << "level " << level;
    EXPECT_TRUE(SameBits(seen.back(), RangeElement(0, 0.1, 3)));
    EXPECT_TRUE(SameBits(Variable("k"), RangeElement(0, 0.1, 3)));
    // Empty loops set nothing, with or without their body.
    ASSERT_EQ(Execute("m = 7; for m = 5:1, end", level), kOk) << errors;
    EXPECT_EQ(Variable("m"), 7) << "level " << level;
    // From level 3 an empty loop is only its last value.
    EXPECT_EQ(Holds(Op::RangeLastValue), level >= 3) << "level " << level;
    ASSERT_EQ(Execute("m = 7; for m = 1:0:1, record(m); end", level), kOk) << errors;
    EXPECT_EQ(Variable("m"), 7) << "level " << level;
    ASSERT_EQ(Execute("for m = 2:4, end", level), kOk) << errors;
    EXPECT_EQ(Variable("m"), 4) << "level " << level;
  }
  // A zero step never passes the end: the loop runs until it breaks.
  seen.clear();
  ASSERT_EQ(Execute("n = 0; for k = 1:0:5, n = n + 1; record(k); if n == 3, break; end, end"), kOk) << errors;
  EXPECT_EQ(seen, (std::vector<double>{1, 1, 1}));
}

TEST_F(CompiledTest, LoopsOverListsAndIntegerRanges) {
  ASSERT_EQ(Execute("for v = {1, 'a', 3}, record(v); end"), kOk) << errors;
  // The char 'a' reads as its code.
  EXPECT_EQ(seen, (std::vector<double>{1, 97, 3}));
  // Other arrays are walked by indexing a copy along their second dimension.
  seen.clear();
  ASSERT_EQ(Execute("for c = 'abc', record(c); end"), kOk) << errors;
  EXPECT_EQ(seen, (std::vector<double>{97, 98, 99}));
  seen.clear();
  ASSERT_EQ(Execute("for v = int8(125):int8(127), record(v); end"), kOk) << errors;
  EXPECT_EQ(seen, (std::vector<double>{125, 126, 127}));
}

TEST_F(CompiledTest, SwitchTakesTheFirstMatchingCase) {
  struct Case {
    const char* value;
    double want;
  };
  const Case kCases[] = {{"2", 20},  {"3", 20},   {"1", 10},    {"9", 30},  {"NaN", 30},
                         {"[]", 30}, {"'x'", 50}, {"'ab'", 40}, {"'a'", 60}};
  for (const Case& c : kCases) {
    const bool text = c.value[0] == '\'';
    const std::string source = std::string("switch ") + c.value +
                               (text ? ", case 'ab', y = 40; case {'b', 'x'}, y = 50; otherwise, y = 60; end"
                                     : ", case 1, y = 10; case {2, 3}, y = 20; otherwise, y = 30; end");
    ASSERT_EQ(Execute(source), kOk) << c.value << ": " << errors;
    EXPECT_EQ(Variable("y"), c.want) << c.value;
    EXPECT_EQ(ValuesAboveFrame(), 0);
  }
  // A text case cannot be compared with a number.
  EXPECT_EQ(Execute("switch 4, case 'x', y = 1; end"), kWrongTypeInternal);
}

TEST_F(CompiledTest, TryCatchesRaisedErrorsAndAsserts) {
  ASSERT_EQ(Execute("y = 0; try, error('boom'); y = 1; catch, y = 2; end"), kOk) << errors;
  EXPECT_EQ(Variable("y"), 2);
  ASSERT_EQ(Execute("y = 0; try, assert(false); catch, y = 3; end"), kOk) << errors;
  EXPECT_EQ(Variable("y"), 3);
  ASSERT_EQ(Execute("y = 0; for k = 1:3, try, assert(k); error('x'); catch, y = k; end; end"), kOk) << errors;
  EXPECT_EQ(Variable("y"), 3);
  errors.clear();
  EXPECT_EQ(Execute("assert(false, 'no way')"), kUserError);
  EXPECT_NE(errors.find("no way"), std::string::npos) << errors;
}

}  // namespace
