// Call frames: entering with arguments moved into variables, returning
// outputs (optional ones, varargout and their errors), re-entering natives,
// unwinding to a level or a catch, the frame queries and the ServiceTable
// slots, break polling with "+onabort" hooks, and the resets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/context.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "stack_fixture.h"

namespace {

constexpr int16_t kReturn = static_cast<int16_t>(Op::Return);
constexpr int16_t kLineMarker = static_cast<int16_t>(Op::LineMarker);

struct Signature {
  int16_t flags;
  int16_t variables;
  std::vector<int16_t> inputs;  // their variable numbers
  int16_t outputs;
};

// Header words, input numbers, names (unless stripped) and the code.
std::vector<int16_t> CompiledWords(const Signature& s, const std::vector<std::string>& names,
                                   const std::vector<int16_t>& code = {kReturn}) {
  std::vector<int16_t> w = {s.flags, s.variables, static_cast<int16_t>(s.inputs.size()), s.outputs};
  w.insert(w.end(), s.inputs.begin(), s.inputs.end());
  if (!(s.flags & kHeaderNamesStripped)) {
    const size_t at = w.size();
    w.resize(at + s.variables * kVariableNameBytes / 2, 0);
    for (size_t i = 0; i < names.size() && i < static_cast<size_t>(s.variables); ++i)
      std::memcpy(&w[at + i * kVariableNameBytes / 2], names[i].data(), std::min<size_t>(names[i].size(), 32));
  }
  w.insert(w.end(), code.begin(), code.end());
  return w;
}

class FrameTest : public StackFixture {
 protected:
  void SetUp() override {
    StackFixture::SetUp();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  // Compiled code in the code area, as the function store keeps it.
  const CompiledFunctionHeader* Function(const Signature& s, const std::vector<std::string>& names = {},
                                         const std::vector<int16_t>& code = {kReturn}) {
    const std::vector<int16_t> w = CompiledWords(s, names, code);
    int16_t* at = ctx->codeBase + ctx->codeTop;
    std::memcpy(at, w.data(), w.size() * sizeof(int16_t));
    ctx->codeTop += static_cast<int32_t>((w.size() + 3) & ~size_t{3});
    return reinterpret_cast<const CompiledFunctionHeader*>(at);
  }

  static ProgramCounter At(int32_t offset) { return ProgramCounter{kCodeArea, 0, {}, offset}; }

  [[nodiscard]] StatusCode Enter(const CompiledFunctionHeader* h, int32_t nargout, int32_t nargin,
                                 const ProgramCounter* caller) {
    return EnterFunctionFrame(ctx, caller, h, 0, 0, nargout, nargin, false, false, false);
  }
  [[nodiscard]] StatusCode Enter(const CompiledFunctionHeader* h, int32_t nargout, int32_t nargin) {
    const ProgramCounter pc = At(0x40);
    return Enter(h, nargout, nargin, &pc);
  }

  CallFrame* Frame() { return CurrentFrame(ctx); }
  int32_t Slot(int i) { return FrameSlots(Frame())[i]; }

  // Moves the top value into variable i of the current frame.
  void StoreTop(int i) {
    const ValueDescriptor d = Top();
    int32_t index = 0;
    ASSERT_EQ(AllocateHeapBlock(ctx, d.cells + 2, &index), kOk);
    WriteVariableDescriptor(ctx, index, d);
    std::memcpy(ctx->heapBase + index + 2, TopData(ctx), d.cells * sizeof(Cell));
    PopValue(ctx);
    FreeHeapBlock(ctx, Slot(i));
    FrameSlots(Frame())[i] = index;
  }
  void SetVar(int i, double x) {
    ASSERT_EQ(PushRealScalar(ctx, x), kOk);
    StoreTop(i);
  }
  void SetVarList(int i, std::vector<double> items) {
    for (double x : items) ASSERT_EQ(PushRealScalar(ctx, x), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, static_cast<int>(items.size()), false, nullptr, 0), kOk);
    StoreTop(i);
  }
  double VarScalar(int i) {
    const int32_t value = VariableValueBlock(ctx, Slot(i));
    EXPECT_GT(value, 0) << i;
    return value > 0 ? ctx->heapBase[value + 2].f : -1;
  }
  double ScalarAt(int position) {
    double x = -1;
    EXPECT_EQ(GetRealScalarArg(ctx, position, &x), kOk) << position;
    return x;
  }

  int64_t InUseCells() {
    int64_t n = 0;
    for (int64_t at = 0; at < ctx->heapSize; at += 1 + (ctx->heapBase[at].w[0] & kHeapCountMask))
      if (ctx->heapBase[at].w[0] & kHeapInUse) n += ctx->heapBase[at].w[0] & kHeapCountMask;
    return n;
  }

  std::string Name(int i) {
    const char* n = GetVariableName(ctx, i);
    return n ? std::string(n, VariableNameLength(n)) : "(null)";
  }
};

// [y] = f(a, b): y is variable 0, a and b are 1 and 2.
const Signature kTwoInOneOut{0, 3, {1, 2}, 1};

TEST_F(FrameTest, BaseFrameAfterReset) {
  // Whatever ran before goes: frames, values, variables.
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(Enter(Function({0, 1, {0}, 0}), 0, 1), kOk);
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);

  EXPECT_EQ(ctx->frameIndex, 0);
  EXPECT_EQ(ctx->descLength, 166);
  EXPECT_EQ(ctx->dataTop, 0);
  EXPECT_EQ(InUseCells(), 0);
  const int32_t want[22] = {6, 0, -1, 0, 0, 0, 0, 0, 0, -1, 0, 1, 0, 0, 0, 16, 0, 0, -1, -1, 0, 0};
  EXPECT_EQ(std::vector<int32_t>(ctx->descBase, ctx->descBase + 22), std::vector<int32_t>(want, want + 22));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(FrameSlots(Frame())[i], -1) << i;
  EXPECT_EQ(CountFrameValues(ctx), 0);
  EXPECT_EQ(Name(0), "ans");
  EXPECT_EQ(Name(15), "");
  EXPECT_EQ(Name(16), "(null)");
  EXPECT_FALSE(IsAnyFunctionActive(ctx));
}

TEST_F(FrameTest, StackRegistersReset) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ctx->uniformRandom = {5, 6};
  ctx->normalRandom = {7, 8};
  ctx->pc = At(12);
  ctx->errorCode = 29;
  ctx->errorFunction = 3;
  ctx->errorPosition = 8;
  std::strcpy(ctx->failingName, "sum");
  ResetStackRegisters(ctx);
  EXPECT_EQ(ctx->descLength, 0);
  EXPECT_EQ(ctx->dataTop, 0);
  EXPECT_EQ(ctx->frameIndex, -1);
  EXPECT_EQ(ctx->uniformRandom.a, 0u);
  EXPECT_EQ(ctx->uniformRandom.b, 1u);
  EXPECT_EQ(ctx->normalRandom.b, 1u);
  EXPECT_EQ(ctx->pc.space, kNoCode);
  EXPECT_EQ(ctx->errorCode, 0);
  EXPECT_EQ(ctx->errorFunction, -1);
  EXPECT_EQ(ctx->errorPosition, 0);
  EXPECT_EQ(ctx->failingName[0], 0);
}

TEST_F(FrameTest, EnterMovesArgumentsIntoVariables) {
  const CompiledFunctionHeader* h = Function(kTwoInOneOut, {"y", "a", "b"});
  ASSERT_EQ(PushRealScalar(ctx, 99), kOk);  // a value of the caller, under the arguments
  const int32_t dataBefore = ctx->dataTop;
  const int32_t position = ctx->descLength;
  ASSERT_EQ(PushRealScalar(ctx, 10), kOk);
  PushRow({1, 2});
  const ProgramCounter caller = At(0x40);
  ASSERT_EQ(EnterFunctionFrame(ctx, &caller, h, 3, -17, 1, 2, false, false, false), kOk);

  ASSERT_EQ(ctx->frameIndex, position);
  EXPECT_EQ(ctx->descLength, position + 22 + 3);
  EXPECT_EQ(ctx->dataTop, dataBefore);
  const CallFrame* f = Frame();
  EXPECT_EQ(f->callerSpace, 1);
  EXPECT_EQ(f->callerOffset, 0x40);
  EXPECT_EQ(f->link, position);
  EXPECT_EQ(f->catchSpace, 0);
  EXPECT_EQ(f->library, 3);
  EXPECT_EQ(f->methodClass, -17);
  EXPECT_EQ(f->variableCount, 3);
  EXPECT_EQ(f->requestedOutputs, 1);
  EXPECT_EQ(f->nargin, 2);
  EXPECT_EQ(f->outputs, 1);
  EXPECT_EQ(f->nameCapacity, 0);
  EXPECT_EQ(f->line, -1);
  EXPECT_EQ(f->function, -1);
  EXPECT_EQ(f->debugState, 0);
  EXPECT_GT(f->nameTable, 0);

  EXPECT_EQ(Slot(0), -1);
  EXPECT_EQ(VarScalar(1), 10);
  const ValueDescriptor row = VariableDescriptor(ctx, Slot(2));
  EXPECT_EQ(row.cells, 2);
  EXPECT_EQ(row.extra, 2);
  EXPECT_EQ(ctx->heapBase[Slot(2) + 3].f, 2);
  EXPECT_EQ(CountFrameValues(ctx), 0);
  EXPECT_EQ(Name(2), "b");
  EXPECT_TRUE(IsAnyFunctionActive(ctx));

  // The output returns on top of the caller's value.
  SetVar(0, 5);
  ASSERT_EQ(ReturnFromFunction(ctx), kOk);
  EXPECT_EQ(ctx->frameIndex, 0);
  EXPECT_EQ(ctx->descLength, position + 3);
  EXPECT_EQ(ScalarAt(0), 5);
  EXPECT_EQ(ScalarAt(1), 99);
  EXPECT_EQ(InUseCells(), 0);
}

TEST_F(FrameTest, ArgumentCountsAreChecked) {
  struct Case {
    Signature sig;
    int32_t nargin, nargout;
    StatusCode want;
  };
  const Case kCases[] = {
      {{0, 2, {1}, 1}, 2, 1, kTooManyArgin},
      {{0, 2, {1}, 1}, 1, 2, kTooManyArgout},
      {{0, 2, {1}, 1}, 0, -1, kOk},
      {{kHeaderVarargin, 3, {1, 2}, 1}, 5, 1, kOk},
      {{kHeaderVarargout, 2, {1}, 2}, 1, 4, kOk},
      {{kHeaderDefine, 0, {}, 0}, 1, 1, kTooManyArgin},
      {{kHeaderDefine, 0, {}, 0}, 0, 2, kTooManyArgout},
      {{kHeaderDefine, 0, {}, 0}, 0, 0, kOk},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    for (int i = 0; i < c.nargin; ++i) ASSERT_EQ(PushRealScalar(ctx, i), kOk);
    const Snapshot before = Take();
    const StatusCode st = Enter(Function(c.sig), c.nargout, c.nargin);
    EXPECT_EQ(st, c.want) << c.nargin << " in, " << c.nargout << " out";
    if (st != kOk) {
      EXPECT_TRUE(Take() == before);
      EXPECT_EQ(ctx->frameIndex, 0);
      EXPECT_EQ(InUseCells(), 0);
    }
  }
  // Names come only from a structure, and only for code without header.
  PushKind(Kind::kStruct);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(EnterFunctionFrame(ctx, nullptr, nullptr, 0, 0, 0, 1, false, true, false), kIllegal);
}

TEST_F(FrameTest, EnterWithoutRoomChangesNothing) {
  // f(a, b, varargin) called with four scalars needs blocks of 8 (the list),
  // 3 and 3 cells, each with its header: leave room for the first two only.
  const CompiledFunctionHeader* h = Function({kHeaderVarargin, 3, {0, 1, 2}, 0});
  int32_t filler = 0;
  ASSERT_EQ(AllocateHeapBlock(ctx, ctx->heapSize - 1 - 15 - 1, &filler), kOk);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(PushRealScalar(ctx, i), kOk);
  const Snapshot before = Take();
  const int64_t used = InUseCells();
  EXPECT_EQ(Enter(h, 0, 4), kHeapFull);
  EXPECT_TRUE(Take() == before);
  EXPECT_EQ(InUseCells(), used);
  EXPECT_EQ(ctx->frameIndex, 0);

  // Once the host has made room, the same call goes through.
  FreeHeapBlock(ctx, filler);
  ASSERT_EQ(Enter(h, 0, 4), kOk);
  EXPECT_EQ(VarScalar(1), 1);

  // A frame larger than the descriptor stack.
  const Snapshot full = Take();
  EXPECT_EQ(Enter(Function({kHeaderNamesStripped, static_cast<int16_t>(ctx->descCapacity), {}, 0}), 0, 0),
            kDescStackFull);
  EXPECT_TRUE(Take() == full);
}

TEST_F(FrameTest, OutputsRequestedAndReturned) {
  // requested outputs word, outputs-to-return word
  struct Case {
    Signature sig;
    int32_t nargout;
    int32_t requested, outputs;
  };
  const Case kCases[] = {
      {{0, 2, {}, 2}, 2, 2, 2},
      {{0, 2, {}, 2}, 0, 0, 0},
      {{0, 2, {}, 2}, -1, -1, 1},
      {{0, 0, {}, 0}, -1, -2, 1},  // optional output of a function without any
      {{kHeaderVarargout, 3, {}, 3}, 5, 5, 2},
      {{kHeaderVarargout, 3, {}, 3}, -1, -1, 2},
      {{kHeaderDefine, 0, {}, 0}, -1, 1, 1},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    ASSERT_EQ(Enter(Function(c.sig), c.nargout, 0), kOk);
    EXPECT_EQ(Frame()->requestedOutputs, c.requested) << c.nargout;
    EXPECT_EQ(Frame()->outputs, c.outputs) << c.nargout;
  }
}

TEST_F(FrameTest, VararginPacksTheArgumentsBeyondTheFixedOnes) {
  // f(a, varargin): a is variable 0, varargin 1.
  const Signature sig{kHeaderVarargin, 2, {0, 1}, 0};
  struct Case {
    int nargin;
    bool aDefined;
    int listed;
  };
  const Case kCases[] = {{0, false, 0}, {1, true, 0}, {2, true, 1}, {4, true, 3}};
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    for (int i = 0; i < c.nargin; ++i) ASSERT_EQ(PushRealScalar(ctx, 10 + i), kOk);
    ASSERT_EQ(Enter(Function(sig), 0, c.nargin), kOk);
    EXPECT_EQ(Frame()->nargin, c.nargin);
    EXPECT_EQ(Slot(0) > 0, c.aDefined) << c.nargin;
    if (c.aDefined) {
      EXPECT_EQ(VarScalar(0), 10);
    }
    const ValueDescriptor list = VariableDescriptor(ctx, Slot(1));
    EXPECT_EQ(list.kind, kComposite);
    EXPECT_EQ(list.extra, kList);
    EXPECT_EQ(list.cells, 3 * c.listed) << c.nargin;
    EXPECT_EQ(HeapBlockCells(ctx, Slot(1)), 2 + 3 * c.listed);
    for (int k = 0; k < c.listed; ++k)
      EXPECT_EQ(ctx->heapBase[Slot(1) + 2 + 3 * k + 2].f, 11 + k) << c.nargin << " element " << k;
    EXPECT_EQ(ctx->dataTop, 0);
  }
}

TEST_F(FrameTest, ReturnDropsValuesAndFreesVariables) {
  // [y, z] = f(x)
  const CompiledFunctionHeader* h = Function({0, 3, {2}, 2});
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  const int32_t position = ctx->descLength - 3;
  ASSERT_EQ(Enter(h, 2, 1), kOk);
  SetVar(0, 5);
  SetVar(1, 6);
  PushRow({7, 8, 9});  // left by the function's code
  ASSERT_EQ(PushRealScalar(ctx, 4), kOk);
  ctx->pc = At(0x100);
  ASSERT_EQ(ReturnFromFunction(ctx), kOk);

  EXPECT_EQ(ctx->pc.space, kCodeArea);
  EXPECT_EQ(ctx->pc.offset, 0x40);
  EXPECT_EQ(ctx->frameIndex, 0);
  EXPECT_EQ(ctx->descLength, position + 6);
  EXPECT_EQ(ctx->dataTop, 2);
  EXPECT_EQ(ScalarAt(0), 5);
  EXPECT_EQ(ScalarAt(1), 6);
  EXPECT_EQ(InUseCells(), 0);
}

TEST_F(FrameTest, OptionalOutputLeavesVoidWhenUndefined) {
  struct Case {
    Signature sig;
    bool defineOutput;
    bool wantVoid;
  };
  const Case kCases[] = {
      {{0, 1, {}, 1}, false, true},
      {{0, 1, {}, 1}, true, false},
      {{0, 1, {}, 0}, false, true},  // declares no output
      {{kHeaderVarargout, 1, {}, 1}, false, true},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    ASSERT_EQ(Enter(Function(c.sig), -1, 0), kOk);
    if (c.defineOutput) SetVar(0, 3);
    ASSERT_EQ(ReturnFromFunction(ctx), kOk);
    ASSERT_EQ(ctx->descLength, 166 + 3);
    if (c.wantVoid) {
      EXPECT_EQ(Top().kind, kVoid);
    } else {
      EXPECT_EQ(ScalarAt(0), 3);
    }
  }
}

TEST_F(FrameTest, VarargoutSuppliesOutputsBeyondTheFixedOnes) {
  // [a, varargout] = f asked for three outputs: a on top of two elements.
  ASSERT_EQ(Enter(Function({kHeaderVarargout, 2, {}, 2}), 3, 0), kOk);
  SetVar(0, 1);
  SetVarList(1, {2, 3, 4});
  ASSERT_EQ(ReturnFromFunction(ctx), kOk);
  ASSERT_EQ(CountFrameValues(ctx), 3);
  EXPECT_EQ(ScalarAt(0), 1);
  EXPECT_EQ(ScalarAt(1), 2);
  EXPECT_EQ(ScalarAt(2), 3);
  EXPECT_EQ(InUseCells(), 0);

  // [varargout] = f as a statement: the first element, alone.
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  ASSERT_EQ(Enter(Function({kHeaderVarargout, 1, {}, 1}), -1, 0), kOk);
  SetVarList(0, {8, 9});
  ASSERT_EQ(ReturnFromFunction(ctx), kOk);
  ASSERT_EQ(CountFrameValues(ctx), 1);
  EXPECT_EQ(ScalarAt(0), 8);
}

TEST_F(FrameTest, VarargoutCellArrayHandsOutItsCellsNotItsDimensions) {
  ASSERT_EQ(Enter(Function({kHeaderVarargout, 1, {}, 1}), 2, 0), kOk);
  // {5, 6} as a 1 x 2 cell array: the hidden dims element, then the cells.
  const int32_t dims[] = {1, 2};
  ASSERT_EQ(PushEmptyCellArray(ctx, 2, dims), kOk);
  const int32_t cells = Top().cells;
  ASSERT_GE(cells, 5);
  auto* elements = reinterpret_cast<CompositeElementHeader*>(TopData(ctx) + cells - 4);
  elements[0].cells = 1;
  elements[0].extra = 1;
  // Overwrite the two empty cells with two scalars: grow the value by two cells.
  ctx->dataTop += 2;
  DescriptorAt(ctx, 0)->cells = cells + 2;
  Cell* tail = TopData(ctx) + cells - 4;
  *reinterpret_cast<CompositeElementHeader*>(tail) = {0, 1, 1, 0};
  tail[2].f = 5;
  *reinterpret_cast<CompositeElementHeader*>(tail + 3) = {0, 1, 1, 0};
  tail[5].f = 6;
  StoreTop(0);
  ASSERT_EQ(ReturnFromFunction(ctx), kOk);
  ASSERT_EQ(CountFrameValues(ctx), 2);
  EXPECT_EQ(ScalarAt(0), 5);
  EXPECT_EQ(ScalarAt(1), 6);
}

TEST_F(FrameTest, ReturnErrorsLeaveTheFrame) {
  enum Setup { kNothing, kScalarVarargout, kShortVarargout, kFixedOnly };
  struct Case {
    Signature sig;
    int32_t nargout;
    Setup setup;
    StatusCode want;
  };
  const Signature withVarargout{kHeaderVarargout, 2, {}, 2};
  const Case kCases[] = {
      {{0, 2, {}, 2}, 1, kNothing, kUndefVar},
      {{0, 2, {}, 2}, 2, kFixedOnly, kUndefVar},
      {withVarargout, 3, kScalarVarargout, kVarargoutNotList},
      {withVarargout, -1, kScalarVarargout, kOk},  // varargout is not consulted
      {withVarargout, 4, kShortVarargout, kNotEnoughVarargoutEl},
      {withVarargout, 2, kFixedOnly, kNotEnoughVarargoutEl},  // undefined varargout holds nothing
      {withVarargout, 3, kShortVarargout, kOk},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    ASSERT_EQ(Enter(Function(c.sig), c.nargout, 0), kOk);
    if (c.setup != kNothing) SetVar(0, 1);
    if (c.setup == kScalarVarargout) SetVar(1, 2);
    if (c.setup == kShortVarargout) SetVarList(1, {2, 3});
    ctx->pc = At(0x200);
    const Snapshot before = Take();
    const int64_t used = InUseCells();
    EXPECT_EQ(ReturnFromFunction(ctx), c.want) << c.nargout << " setup " << c.setup;
    if (c.want != kOk) {
      EXPECT_TRUE(Take() == before);
      // Raising may store the error's text in the heap; nothing else is taken.
      const int32_t record = ctx->currentErrorRecord;
      EXPECT_EQ(InUseCells() - (record > 0 ? HeapBlockCells(ctx, record) : 0), used);
      EXPECT_EQ(ctx->frameIndex, 166);
      EXPECT_EQ(ctx->pc.offset, 0x200);
    }
  }
}

TEST_F(FrameTest, UndefinedOutputIsNamedInTheError) {
  ASSERT_EQ(InstallNativeLibrary(ctx, kEngineMessageTables, false), kOk);
  ASSERT_EQ(Enter(Function({0, 2, {}, 2}, {"first", "second"}), 2, 0), kOk);
  SetVar(0, 1);
  ASSERT_EQ(ReturnFromFunction(ctx), kUndefVar);
  ASSERT_GT(ctx->currentErrorRecord, 0);
  const std::string text(reinterpret_cast<const char*>(ctx->heapBase + ctx->currentErrorRecord + 1));
  EXPECT_EQ(text.rfind("Undefined variable 'second'", 0), 0u) << text;
}

TEST_F(FrameTest, ReturnWithoutRoomChangesNothing) {
  FillData(40);  // the caller's values
  ASSERT_EQ(Enter(Function({0, 1, {}, 1}), 1, 0), kOk);
  // y = a row of 50, made in place in the heap.
  int32_t y = 0;
  ASSERT_EQ(AllocateHeapBlock(ctx, 52, &y), kOk);
  WriteVariableDescriptor(ctx, y, {0, 50, 50});
  FrameSlots(Frame())[0] = y;
  PushRow(std::vector<double>(20, 1.0));  // the function's values make room as they go
  const Snapshot before = Take();
  const int64_t used = InUseCells();
  EXPECT_EQ(ReturnFromFunction(ctx), kDataStackFullToo);
  EXPECT_TRUE(Take() == before);
  EXPECT_EQ(InUseCells(), used);
  EXPECT_EQ(Frame()->variableCount, 1);
}

TEST_F(FrameTest, CodeWithoutHeaderKeepsItsValues) {
  // Evaluated code: no variables of its own, its arguments stay values.
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  const int32_t position = ctx->descLength - 6;
  ASSERT_EQ(EnterFunctionFrame(ctx, nullptr, nullptr, 0, 0, 2, 2, false, false, false), kOk);
  EXPECT_EQ(Frame()->variableCount, 0);
  EXPECT_EQ(Frame()->callerSpace, 0);
  EXPECT_EQ(CountFrameValues(ctx), 2);
  EXPECT_EQ(ScalarAt(0), 2);
  ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
  // Names are those of the frame in scope: the base frame.
  EXPECT_EQ(Name(0), "ans");
  EXPECT_FALSE(IsAnyFunctionActive(ctx));

  ASSERT_EQ(ReturnFromFrameKeepingValues(ctx), kOk);
  EXPECT_EQ(ctx->frameIndex, 0);
  EXPECT_EQ(ctx->descLength, position + 6);
  EXPECT_EQ(ctx->dataTop, 2);
  EXPECT_EQ(ScalarAt(0), 3);
  EXPECT_EQ(ScalarAt(1), 2);
  EXPECT_EQ(ctx->pc.space, kNoCode);
}

TEST_F(FrameTest, NamesModeTakesTheStructureFields) {
  const std::string longName(32, 'q');
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, false, "a", 1), kOk);
  PushRow({2, 3});
  ASSERT_EQ(MakeListFromValues(ctx, 1, true, longName.data(), 32), kOk);
  const int32_t position = ctx->descLength - 3;
  ASSERT_EQ(EnterFunctionFrame(ctx, nullptr, nullptr, 0, 0, 0, 0, false, true, false), kOk);

  EXPECT_EQ(ctx->frameIndex, position);
  EXPECT_EQ(Frame()->nameCapacity, 2);
  EXPECT_EQ(Frame()->variableCount, 2);
  EXPECT_EQ(ctx->descLength, position + 22 + 18);
  EXPECT_EQ(ctx->dataTop, 0);
  EXPECT_EQ(CountFrameValues(ctx), 0);
  EXPECT_EQ(VarScalar(0), 1);
  EXPECT_EQ(VariableDescriptor(ctx, Slot(1)).cells, 2);
  EXPECT_EQ(Name(0), "a");
  EXPECT_EQ(Name(1), longName);  // all 32 characters, no terminator
  EXPECT_EQ(Name(2), "(null)");
}

TEST_F(FrameTest, VariableNamesComeFromTheFunctionsTable) {
  const std::string longName(32, 'z');
  // A frame without variables above the function: the function's are in scope.
  ASSERT_EQ(Enter(Function({0, 2, {}, 1}, {"out", longName}), 0, 0), kOk);
  ASSERT_EQ(EnterFunctionFrame(ctx, nullptr, nullptr, 0, 0, 0, 0, false, false, false), kOk);
  EXPECT_EQ(Name(0), "out");
  EXPECT_EQ(Name(1), longName);
  EXPECT_EQ(VariableNameLength(GetVariableName(ctx, 1)), 32);
  EXPECT_EQ(Name(2), "(null)");
  EXPECT_EQ(Name(-1), "(null)");

  // Without a name block there is no name, not the frame's values behind its slots.
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  ASSERT_EQ(Enter(Function({kHeaderNamesStripped, 2, {}, 1}), 0, 0), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, 3, "abc"), kOk);
  EXPECT_EQ(Frame()->nameTable, 0);
  EXPECT_EQ(Name(0), "(null)");
}

TEST_F(FrameTest, InlineFunctionValueBringsItsBoundArgument) {
  // @(b, x) ... with b bound to 9, called with one argument.
  const std::vector<int16_t> code = CompiledWords({0, 3, {1, 2}, 1}, {"r", "b", "x"});
  const char source[] = "b+x";
  const int64_t textBytes = 2 + 2 * static_cast<int64_t>(code.size()) + 2 + 3;
  const int64_t capturedAt = (textBytes + 7) / 8 * 8;
  void* payload = nullptr;
  ASSERT_EQ(PushBoxedValue(ctx, kInlineFunction, capturedAt + 4 * 8, &payload), kOk);
  auto* bytes = static_cast<uint8_t*>(payload);
  const int16_t k = static_cast<int16_t>(code.size()), length = 3;
  std::memcpy(bytes, &k, 2);
  std::memcpy(bytes + 2, code.data(), 2 * code.size());
  std::memcpy(bytes + 2 + 2 * code.size(), &length, 2);
  std::memcpy(bytes + 4 + 2 * code.size(), source, 3);
  const double bound[] = {0, 1, 1, 9};
  std::memcpy(bytes + capturedAt, bound, sizeof bound);
  const int32_t position = ctx->descLength - 3;
  const int32_t valueCells = ctx->dataTop;
  ASSERT_EQ(PushRealScalar(ctx, 4), kOk);

  const ProgramCounter caller = At(0x10);
  ASSERT_EQ(EnterFunctionFrame(ctx, &caller, nullptr, 0, 0, 1, 1, true, false, false), kOk);
  EXPECT_EQ(ctx->frameIndex, position);
  EXPECT_EQ(Frame()->nargin, 2);
  EXPECT_EQ(Frame()->functionValue, 1);
  EXPECT_EQ(Frame()->function, -2);
  EXPECT_LT(Frame()->nameTable, -1);  // the names are on the data stack
  EXPECT_EQ(VarScalar(1), 9);
  EXPECT_EQ(VarScalar(2), 4);
  EXPECT_EQ(Name(2), "x");
  // The function value stays, as the first value above the variables.
  EXPECT_EQ(CountFrameValues(ctx), 1);
  EXPECT_EQ(Top().extra, kInlineFunction);
  EXPECT_EQ(ctx->dataTop, valueCells);

  SetVar(0, 13);
  ASSERT_EQ(ReturnFromFunction(ctx), kOk);
  EXPECT_EQ(ctx->descLength, position + 3);
  EXPECT_EQ(ScalarAt(0), 13);
  EXPECT_EQ(ctx->dataTop, 1);
}

TEST_F(FrameTest, DefineBlockValueTakesNoArgumentAndGivesOneValue) {
  const std::vector<int16_t> code = CompiledWords({kHeaderDefine, 0, {}, 0}, {});
  struct Case {
    int32_t nargin, nargout;
    StatusCode want;
  };
  const Case kCases[] = {
      {0, -1, kOk}, {0, 1, kOk}, {1, 1, kTooManyArgin}, {0, 0, kTooManyArgout}, {0, 2, kTooManyArgout}};
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    void* payload = nullptr;
    ASSERT_EQ(PushBoxedValue(ctx, kInlineFunction, 2 + 2 * code.size() + 2, &payload), kOk);
    const int16_t k = static_cast<int16_t>(code.size());
    std::memcpy(payload, &k, 2);
    std::memcpy(static_cast<uint8_t*>(payload) + 2, code.data(), 2 * code.size());
    const int16_t noSource = 0;
    std::memcpy(static_cast<uint8_t*>(payload) + 2 + 2 * code.size(), &noSource, 2);
    for (int i = 0; i < c.nargin; ++i) ASSERT_EQ(PushRealScalar(ctx, i), kOk);
    EXPECT_EQ(EnterFunctionFrame(ctx, nullptr, nullptr, 0, 0, c.nargout, c.nargin, true, false, false), c.want)
        << c.nargin << " " << c.nargout;
    if (c.want == kOk) {
      EXPECT_EQ(Frame()->variableCount, 0);
      EXPECT_EQ(Frame()->requestedOutputs, 1);
    }
  }
}

TEST_F(FrameTest, NewFrameStopsForStepIntoOrAnEntryBreakpoint) {
  // f's code starts with a line marker naming function-store entry 5.
  const CompiledFunctionHeader* f = Function({0, 1, {}, 0}, {"v"}, {kLineMarker, 5, 1, kReturn});
  const CompiledFunctionHeader* g = Function({0, 1, {}, 0}, {"v"}, {kLineMarker, 6, 1, kReturn});
  int32_t list = 0;
  ASSERT_EQ(AllocateHeapBlock(ctx, 8, &list), kOk);
  ctx->heapBase[list].iw[0] = 6;  // a breakpoint inside g, not at its entry
  ctx->heapBase[list].iw[1] = 4;
  ctx->heapBase[list + 1].iw[0] = 5;
  ctx->heapBase[list + 1].iw[1] = 0;
  ctx->breakpointList = list;
  struct Case {
    const CompiledFunctionHeader* code;
    int32_t count;
    int32_t callerState;
    int32_t want;
  };
  const Case kCases[] = {
      {f, 2, 0, 2}, {f, 1, 0, 0}, {g, 2, 0, 0}, {g, 2, 3, 2}, {g, 2, 2, 0},
  };
  for (const Case& c : kCases) {
    ctx->breakpointCount = c.count;
    Frame()->debugState = c.callerState;
    const ProgramCounter pc = At(0);
    ASSERT_EQ(Enter(c.code, 0, 0, &pc), kOk);
    EXPECT_EQ(Frame()->debugState, c.want) << c.count << " " << c.callerState;
    ASSERT_EQ(UnwindFrames(ctx, 0), kOk);
  }
}

// Frames over the base frame, each with one variable and one value of its own.
class NestedFrames : public FrameTest {
 protected:
  void SetUp() override { Build(); }

  void Build() {
    Reset();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 100), kOk);  // on the base frame
    baseLength = ctx->descLength;
    const CompiledFunctionHeader* h = Function({0, 1, {0}, 0});
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(PushRealScalar(ctx, i), kOk);
      position[i] = ctx->descLength - 3;
      const ProgramCounter pc = At(0x20 * (i + 1));
      ASSERT_EQ(Enter(h, 0, 1, i == hostEntered ? nullptr : &pc), kOk);
      ASSERT_EQ(PushRealScalar(ctx, 10 + i), kOk);
      ASSERT_EQ(PushRealScalar(ctx, 20 + i), kOk);
    }
  }

  int hostEntered = -1;
  int32_t baseLength = 0;
  int32_t position[3] = {};
};

TEST_F(NestedFrames, UnwindToALevel) {
  const auto unwind = GetServiceTable(ctx)->UnwindFrames;

  ctx->pc = At(0x80);
  ASSERT_EQ(unwind(ctx, position[1]), kOk);
  EXPECT_EQ(ctx->frameIndex, position[0]);
  EXPECT_EQ(ctx->descLength, position[1]);
  EXPECT_EQ(ScalarAt(0), 20);
  EXPECT_EQ(ctx->pc.space, kCodeArea);  // only level 0 ends the code

  ASSERT_EQ(unwind(ctx, 0), kOk);
  EXPECT_EQ(ctx->frameIndex, 0);
  EXPECT_EQ(ctx->descLength, baseLength);
  EXPECT_EQ(ctx->dataTop, 1);
  EXPECT_EQ(ctx->pc.space, kNoCode);
  EXPECT_EQ(InUseCells(), 0);
}

TEST_F(NestedFrames, UnwindStopsAtTheFrameStoppedInTheDebugger) {
  FrameAt(ctx, position[1])->suspendSpace = kCodeArea;
  ASSERT_EQ(UnwindFrames(ctx, -1), kOk);
  EXPECT_EQ(ctx->frameIndex, position[1]);
  EXPECT_EQ(CountFrameValues(ctx), 2);
  // Without a stopped frame the walk ends at the base frame.
  FrameAt(ctx, position[1])->suspendSpace = 0;
  ASSERT_EQ(UnwindFrames(ctx, -1), kOk);
  EXPECT_EQ(ctx->frameIndex, 0);
}

TEST_F(NestedFrames, UnwindToANotedLengthTakesLaterValuesToo) {
  int32_t noted = 0;
  ASSERT_EQ(GetServiceTable(ctx)->GetDescriptorStackLength(ctx, &noted), kOk);
  EXPECT_EQ(noted, ctx->descLength);
  const int32_t dataBefore = ctx->dataTop;
  ASSERT_EQ(PushRealScalar(ctx, 7), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 8), kOk);
  ASSERT_EQ(Enter(Function({0, 1, {0}, 0}), 0, 1), kOk);
  ASSERT_EQ(UnwindFrames(ctx, noted), kOk);
  EXPECT_EQ(ctx->descLength, noted);
  EXPECT_EQ(ctx->dataTop, dataBefore);
  EXPECT_EQ(ctx->frameIndex, position[2]);
}

TEST_F(NestedFrames, CatchInAnOuterFrameKeepsItsValues) {
  CallFrame* outer = FrameAt(ctx, position[0]);
  outer->catchSpace = kCodeArea;
  outer->catchOffset = 0x66;
  outer->catchKeep = 1;
  const int64_t used = InUseCells();
  ProgramCounter pc{};
  const Snapshot before = Take();
  EXPECT_TRUE(UnwindToCatch(ctx, false, nullptr));
  EXPECT_TRUE(Take() == before);  // only answered
  EXPECT_EQ(InUseCells(), used);

  ASSERT_TRUE(UnwindToCatch(ctx, false, &pc));
  EXPECT_EQ(pc.space, kCodeArea);
  EXPECT_EQ(pc.offset, 0x66);
  EXPECT_EQ(pc.safe, 0);
  EXPECT_EQ(ctx->frameIndex, position[0]);
  EXPECT_EQ(CountFrameValues(ctx), 1);
  EXPECT_EQ(ScalarAt(0), 10);
  EXPECT_EQ(ctx->dataTop, 2);  // the base frame's value and the kept one
  EXPECT_EQ(InUseCells(), 3);  // the outer frame's own variable
}

TEST_F(NestedFrames, SandboxedFramesDoNotCatchSecurityErrors) {
  struct Case {
    bool security;
    bool sandboxed;
    bool baseTry;
    bool want;
    int32_t frame;  // where the catch lands
  };
  const Case kCases[] = {
      {false, true, false, true, 1},
      {true, false, false, true, 1},
      {true, true, false, false, -1},
      {true, true, true, true, 0},  // an unsandboxed try further out
  };
  for (const Case& c : kCases) {
    CallFrame* middle = FrameAt(ctx, position[1]);
    middle->catchSpace = kCodeArea;
    middle->sandboxed = c.sandboxed ? 1 : 0;
    FrameAt(ctx, 0)->catchSpace = c.baseTry ? int32_t{kCodeArea} : 0;
    const bool secViolation = c.security;
    EXPECT_EQ(UnwindToCatch(ctx, secViolation, nullptr), c.want) << c.security << c.sandboxed << c.baseTry;
    if (c.want) {
      ProgramCounter pc{};
      ASSERT_TRUE(UnwindToCatch(ctx, secViolation, &pc));
      EXPECT_EQ(ctx->frameIndex, c.frame == 1 ? position[1] : 0);
      Build();
    }
  }
}

class HostEnteredFrame : public NestedFrames {
 protected:
  void SetUp() override {
    hostEntered = 1;
    NestedFrames::SetUp();
  }
};

TEST_F(HostEnteredFrame, CatchNeverReachesPastIt) {
  FrameAt(ctx, position[0])->catchSpace = kCodeArea;
  const int32_t length = ctx->descLength;
  ProgramCounter pc{};
  EXPECT_FALSE(UnwindToCatch(ctx, false, &pc));
  // The frames stay for the trace; the innermost one lost its variables, the
  // frame entered from the host kept its own.
  EXPECT_EQ(ctx->descLength, length);
  EXPECT_EQ(ctx->frameIndex, position[2]);
  EXPECT_EQ(Slot(0), -1);
  EXPECT_GT(FrameSlots(FrameAt(ctx, position[1]))[0], 0);
  // A later unwind does not free the lost variables again.
  ASSERT_EQ(UnwindFrames(ctx, 0), kOk);
  EXPECT_EQ(InUseCells(), 0);

  // A try in the host-entered frame itself still counts.
  Build();
  FrameAt(ctx, position[1])->catchSpace = kCodeArea;
  EXPECT_TRUE(UnwindToCatch(ctx, false, &pc));
  EXPECT_EQ(ctx->frameIndex, position[1]);
}

TEST_F(FrameTest, QueriesThroughTheServiceTable) {
  const auto active = GetServiceTable(ctx)->IsAnyFunctionActive;
  const auto getPosition = GetServiceTable(ctx)->GetExecutionPosition;
  const auto setPosition = GetServiceTable(ctx)->SetExecutionPosition;
  const auto length = GetServiceTable(ctx)->GetDescriptorStackLength;

  EXPECT_FALSE(active(ctx));
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(Enter(Function({0, 3, {0, 1}, 3}), 3, 2), kOk);
  EXPECT_TRUE(active(ctx));
  int32_t n = 0;
  ASSERT_EQ(length(ctx, &n), kOk);
  EXPECT_EQ(n, ctx->descLength);

  ctx->pc = {kCodeArea, 1, {}, 12};
  int32_t words[2] = {};
  ASSERT_EQ(getPosition(ctx, words), kOk);
  EXPECT_EQ(words[0], 1);
  EXPECT_EQ(words[1], 12);
  const int32_t next[2] = {3, 48};
  ASSERT_EQ(setPosition(ctx, next), kOk);
  EXPECT_EQ(ctx->pc.space, kDataStackCode);
  EXPECT_EQ(ctx->pc.offset, 48);
  EXPECT_EQ(ctx->pc.safe, 0);

  // nargin and nargout of the running function; nothing negative.
  ASSERT_EQ(PushFrameArgCount(ctx, false), kOk);
  EXPECT_EQ(ScalarAt(0), 2);
  ASSERT_EQ(PushFrameArgCount(ctx, true), kOk);
  EXPECT_EQ(ScalarAt(0), 3);
  Frame()->requestedOutputs = -1;
  ASSERT_EQ(PushFrameArgCount(ctx, true), kOk);
  EXPECT_EQ(ScalarAt(0), 0);

  EXPECT_EQ(Frame()->sandboxed, 0);
  MarkFrameSandboxed(ctx);
  EXPECT_EQ(Frame()->sandboxed, 1);
  // A frame called from a sandboxed one is sandboxed too; one from the host is not.
  const ProgramCounter pc = At(0);
  ASSERT_EQ(Enter(Function({0, 1, {}, 0}), 0, 0, &pc), kOk);
  EXPECT_EQ(Frame()->sandboxed, 1);
  ASSERT_EQ(Enter(Function({0, 1, {}, 0}), 0, 0, nullptr), kOk);
  EXPECT_EQ(Frame()->sandboxed, 0);
}

TEST_F(FrameTest, FunctionArgCountsOfAFunctionValue) {
  // nargin('atan2') and nargout('atan2'): the builtin takes 2 and gives 1.
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "atan2"), kOk);
  ASSERT_EQ(PushFunctionArgCounts(ctx, 0, false), kOk);
  EXPECT_EQ(ctx->descLength, kBaseFrameWords + 3) << "the name gives way to the count";
  double n = 0;
  ASSERT_EQ(PopRealScalar(ctx, &n), kOk);
  EXPECT_EQ(n, 2);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "atan2"), kOk);
  ASSERT_EQ(PushFunctionArgCounts(ctx, 0, true), kOk);
  ASSERT_EQ(PopRealScalar(ctx, &n), kOk);
  EXPECT_EQ(n, 1);

  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  const Snapshot before = Take();
  EXPECT_NE(PushFunctionArgCounts(ctx, 0, true), kOk) << "a number names no function";
  EXPECT_TRUE(Take() == before);
}

// ---------------------------------------------------------------------------
// Natives: re-entry after a requested call, and break hooks.

struct Calls {
  std::vector<std::string> log;
  int nargin = 0, nargout = 0;
};

[[nodiscard]] StatusCode Again(EngineContext*, int nargin, int nargout, void* userData) {
  auto* calls = static_cast<Calls*>(userData);
  calls->nargin = nargin;
  calls->nargout = nargout;
  calls->log.push_back("again");
  return 77;
}

void AbortFirst(EngineContext*, void* userData) { static_cast<Calls*>(userData)->log.push_back("first"); }
void AbortSecond(EngineContext*, void* userData) { static_cast<Calls*>(userData)->log.push_back("second"); }

Calls g_calls;
Calls g_defaultCalls;
NativeFunctionRecord g_natives[] = {
    {Again, &g_calls, 0, "again", 0, kAnyCount, 0, kAnyCount},
    {AsNativeHandler(AbortFirst), &g_calls, 0, "+onabort", 0, 0, 0, 0},
    {Again, &g_calls, 0, "+onabor", 0, 0, 0, 0},  // a near miss
    {AsNativeHandler(AbortSecond), nullptr, 0, "+onabort", 0, 0, 0, 0},
    {},
};

bool g_breakAnswer = false;
bool Poll(void* answer) { return *static_cast<bool*>(answer); }

class NativeFrames : public FrameTest {
 protected:
  void SetUp() override {
    StackFixture::SetUp();
    g_calls = {};
    g_defaultCalls = {};
    g_breakAnswer = false;
    ASSERT_EQ(InstallNativeLibrary(ctx, g_natives, false), kOk);
    SetNativeDefaultUserData(ctx, &g_defaultCalls);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  // The instruction {333 + 0; 5; 2} of the native "again" in the code area;
  // a requesting native's frame returns to the position after it.
  ProgramCounter AfterNativeCall() {
    int16_t* at = ctx->codeBase + ctx->codeTop;
    at[0] = static_cast<int16_t>(Op::kFirstNativeOpcode);
    at[1] = 5;
    at[2] = 2;
    const ProgramCounter pc = At(2 * (ctx->codeTop + 3));
    ctx->codeTop += 4;
    return pc;
  }
};

TEST_F(NativeFrames, ReturnCallsTheRequestingNativeAgain) {
  const ProgramCounter caller = AfterNativeCall();
  ASSERT_EQ(EnterFunctionFrame(ctx, &caller, Function({0, 2, {}, 2}), 0, 0, 2, 0, false, false, true), kOk);
  SetVar(0, 1);
  SetVar(1, 2);
  EXPECT_EQ(ReturnFromFunction(ctx), 77);  // the native's status is the return's
  EXPECT_EQ(g_calls.nargin, ~2);
  EXPECT_EQ(g_calls.nargout, 2);
  EXPECT_EQ(ScalarAt(0), 1);
  EXPECT_EQ(ScalarAt(1), 2);

  // Nothing returned: nargin -1, and no void value for the native.
  const int32_t length = ctx->descLength;
  ASSERT_EQ(EnterFunctionFrame(ctx, &caller, Function({0, 1, {}, 1}), 0, 0, -1, 0, false, false, true), kOk);
  EXPECT_EQ(ReturnFromFunction(ctx), 77);
  EXPECT_EQ(g_calls.nargin, -1);
  EXPECT_EQ(ctx->descLength, length);

  // Evaluated code keeps its values and reports how many.
  ASSERT_EQ(EnterFunctionFrame(ctx, &caller, nullptr, 0, 0, 1, 0, false, false, true), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  EXPECT_EQ(ReturnFromFrameKeepingValues(ctx), 77);
  EXPECT_EQ(g_calls.nargin, ~1);
  EXPECT_EQ(ScalarAt(0), 5);
  EXPECT_EQ(g_calls.log.size(), 3u);

  // A frame entered from the host has no native to go back to.
  ASSERT_EQ(EnterFunctionFrame(ctx, nullptr, Function({0, 1, {}, 1}), 0, 0, -1, 0, false, false, true), kOk);
  EXPECT_EQ(ReturnFromFunction(ctx), kOk);
  EXPECT_EQ(Top().kind, kVoid);
  EXPECT_EQ(g_calls.log.size(), 3u);
}

TEST_F(NativeFrames, BreakRunsTheAbortHooksInOrder) {
  const auto poll = GetServiceTable(ctx)->PollBreak;
  EXPECT_FALSE(poll(ctx));  // no callback
  SetBreakPollCallback(ctx, Poll, &g_breakAnswer);
  EXPECT_FALSE(poll(ctx));
  EXPECT_TRUE(g_calls.log.empty());

  g_breakAnswer = true;
  EXPECT_TRUE(poll(ctx));
  EXPECT_EQ(g_calls.log, std::vector<std::string>{"first"});
  // A hook without user data of its own gets the context's default.
  EXPECT_EQ(g_defaultCalls.log, std::vector<std::string>{"second"});
}

TEST_F(NativeFrames, BreakEntersTheDebuggerOnEverySecondReport) {
  SetBreakPollCallback(ctx, Poll, &g_breakAnswer);
  g_breakAnswer = true;
  ctx->breakEntersDebugger = 1;
  std::vector<bool> answers;
  for (int i = 0; i < 4; ++i) answers.push_back(PollBreak(ctx));
  EXPECT_EQ(answers, (std::vector<bool>{false, true, false, true}));
  EXPECT_EQ(g_calls.log.size(), 4u);  // the hooks hear every report
}

TEST_F(NativeFrames, CheckBreakRequestBeforeSuspending) {
  struct Case {
    bool callback, answer, debugger;
    StatusCode want;
    int32_t state;
  };
  const Case kCases[] = {
      {false, true, false, kSuspended, 0},
      {true, false, true, kSuspended, 0},
      {true, true, false, kHalted, 0},
      {true, true, true, kDebugStop, 2},
  };
  for (const Case& c : kCases) {
    SetBreakPollCallback(ctx, c.callback ? Poll : nullptr, &g_breakAnswer);
    g_breakAnswer = c.answer;
    ctx->breakEntersDebugger = c.debugger;
    ctx->breakPending = 1;
    Frame()->debugState = 0;
    g_calls.log.clear();
    EXPECT_EQ(CheckBreakRequest(ctx), c.want);
    EXPECT_EQ(ctx->breakPending, 0);
    EXPECT_EQ(Frame()->debugState, c.state);
    EXPECT_EQ(g_calls.log.size(), c.want == kSuspended ? size_t{0} : size_t{1});
  }
}

}  // namespace
