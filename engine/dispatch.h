// Who runs each opcode: the interpreter loop inline, one of the machine's own
// handlers, or the core library through its installed table. Every opcode has
// exactly one place, and the compiler proves it: a binding listed twice, or a
// core-library handler for an opcode the machine runs, fails the build.
#pragma once

#include <array>

#include "engine/bytecode.h"
#include "engine/evaluate.h"
#include "engine/objects.h"
#include "engine/resolution.h"
#include "engine/vm.h"

// Runs only inline in the loop; reaching it as a handler is a fault of the loop.
[[nodiscard]] StatusCode InlineOnlyOpcode(EngineContext* ctx, const int16_t* ins);

struct OpcodeBinding {
  Op op;
  OpcodeHandler handler;
  // The machine's handler covers some forms and hands the others to the core
  // library's handler of the same opcode (disp of an object, sized inf).
  bool delegates = false;
};

inline constexpr OpcodeBinding kMachineOpcodes[] = {
    {Op::Nop, InlineOnlyOpcode},
    {Op::PushZero, InlineOnlyOpcode},
    {Op::PushOne, InlineOnlyOpcode},
    {Op::I, OpPushLiteral},
    {Op::Pi, OpPushLiteral},
    {Op::Goldenratio, OpPushLiteral},
    {Op::Inf, OpSpecialValue, true},
    {Op::Nan, OpSpecialValue, true},
    {Op::Realmin, OpSpecialValue, true},
    {Op::Realmax, OpSpecialValue, true},
    {Op::Eps, OpSpecialValue, true},
    {Op::True, OpSpecialValue, true},
    {Op::False, OpSpecialValue, true},
    {Op::PushSmallInt, OpPushLiteral},
    {Op::PushSmallImag, OpPushLiteral},
    {Op::PushDouble, OpPushLiteral},
    {Op::PushImagDouble, OpPushLiteral},
    {Op::PushSingle, OpPushLiteral},
    {Op::PushImagSingle, OpPushLiteral},
    {Op::PushInt8, OpPushLiteral},
    {Op::PushInt16, OpPushLiteral},
    {Op::PushInt32, OpPushLiteral},
    {Op::PushUint8, OpPushLiteral},
    {Op::PushUint16, OpPushLiteral},
    {Op::PushUint32, OpPushLiteral},
    {Op::PushInt32Wide, OpPushLiteral},
    {Op::PushUint32Wide, OpPushLiteral},
    {Op::PushInt64, OpPushLiteral},
    {Op::PushUint64, OpPushLiteral},
    {Op::PushInt64Wide, OpPushLiteral},
    {Op::PushUint64Wide, OpPushLiteral},
    {Op::PushSmallRange, OpPushLiteral},
    {Op::PushString8, OpPushString},
    {Op::PushString16, OpPushString},
    {Op::PushVoid, OpPushLiteral},
    {Op::PrintText8, OpPrintText},
    {Op::PrintText16, OpPrintText},
    {Op::Drop, InlineOnlyOpcode},
    {Op::Dup, OpDup},
    {Op::Rotate, OpRotate},
    {Op::Disp, OpDispOrOverload, true},
    {Op::PushEmpty, OpPushLiteral},
    {Op::MakeList, OpMakeList},
    {Op::AppendToList, OpAppendToList},
    {Op::JoinValuesToList, OpJoinValuesToList},
    {Op::DeclareGlobal, OpDeclareGlobal},
    {Op::Clear, OpClear},
    {Op::LoadVar, OpLoadVar},
    {Op::Subsref, OpSubsref},
    {Op::StoreVar, OpStoreVar},
    {Op::Subsasgn, OpSubsasgn},
    {Op::DisplayStored, OpDisplayStored},
    {Op::StoreAnsDisplay, OpStoreAnsDisplay},
    {Op::DisplayVar, OpDisplayVar},
    {Op::IncrementVar, OpIncrementVar},
    {Op::DecrementVar, OpIncrementVar},
    {Op::ClearVar, OpClearVar},
    {Op::GetField, OpGetField},
    {Op::GetDynamicField, OpGetDynamicField},
    {Op::IndexValue, OpIndexValue},
    {Op::CellIndexValue, OpCellIndexValue},
    {Op::IndexGetField, OpIndexGetField},
    {Op::IndexGetDynamicField, OpIndexGetDynamicField},
    {Op::IndexBeginning, OpIndexEndOrBeginning},
    {Op::IndexEnd, OpIndexEndOrBeginning},
    {Op::IndexMatrixRow, OpIndexEndOrBeginning},
    {Op::IndexMatrixCol, OpIndexEndOrBeginning},
    {Op::RefVar, OpRefVar},
    {Op::RefVarForAssign, OpRefVar},
    {Op::EndRef, OpEndRef},
    {Op::IndexVar, OpIndexVar},
    {Op::EndRefAssign, OpEndRefAssign},
    {Op::IndexVarForAssign, OpIndexVarForAssign},
    {Op::Nargin, OpArgumentCount},
    {Op::Nargout, OpArgumentCount},
    {Op::Real, OpRealPart},
    {Op::Exist, OpExist},
    {Op::Class, OpClass},
    {Op::Isobject, OpIsobject},
    {Op::Isa, OpIsa},
    {Op::Methods, OpMethods},
    {Op::Int8, OpToIntegerClass},
    {Op::Int16, OpToIntegerClass},
    {Op::Int32, OpToIntegerClass},
    {Op::Int64, OpToIntegerClass},
    {Op::Uint8, OpToIntegerClass},
    {Op::Uint16, OpToIntegerClass},
    {Op::Uint32, OpToIntegerClass},
    {Op::Uint64, OpToIntegerClass},
    {Op::Eval, OpEval},
    {Op::Feval, OpFevalOrBuiltin},
    {Op::Builtin, OpFevalOrBuiltin},
    {Op::Inline, OpInline},
    {Op::Fun2str, OpFun2str},
    {Op::Deal, OpDeal},
    {Op::Variables, OpVariables},
    {Op::Str2fun, OpFunctionReference},
    {Op::MakeFunctionRef, OpFunctionReference},
    {Op::Jump, InlineOnlyOpcode},
    {Op::JumpIfTrue, InlineOnlyOpcode},
    {Op::JumpIfFalse, InlineOnlyOpcode},
    {Op::SkipOperand, InlineOnlyOpcode},
    {Op::CaseTest, OpCaseTest},
    {Op::ForNext, OpForNext},
    {Op::ForNextRange, OpForNextRange},
    {Op::RangeIterator, OpRangeIterator},
    {Op::RangeLastValue, OpRangeLastValue},
    {Op::OrElseJump, InlineOnlyOpcode},
    {Op::AndAlsoJump, InlineOnlyOpcode},
    {Op::CallFunction, OpCallFunction},
    {Op::ReservedCall, InlineOnlyOpcode},
    {Op::CallByValue, OpCallByValue},
    {Op::Return, OpReturn},
    {Op::EndOfCode, OpEndOfCode},
    {Op::Error, OpErrorFamily},
    {Op::Warning, OpErrorFamily},
    {Op::Rethrow, OpErrorFamily},
    {Op::Lasterr, OpErrorFamily},
    {Op::Lasterror, OpErrorFamily},
    {Op::TryMark, OpTryMark},
    {Op::LineMarker, OpLineMarker},
    {Op::Info, OpPushLiteral},
    {Op::Assert, OpAssert},
    {Op::EndOfThreadCode, OpEndOfThreadCode},
};

// How often the machine binds each opcode.
constexpr std::array<int, kOpcodeCount> MachineBindingCounts() {
  std::array<int, kOpcodeCount> n{};
  for (const OpcodeBinding& b : kMachineOpcodes) ++n[static_cast<int>(b.op)];
  return n;
}

constexpr bool EachOpcodeBoundOnce() {
  for (int n : MachineBindingCounts())
    if (n > 1) return false;
  return true;
}
static_assert(EachOpcodeBoundOnce(), "an opcode is bound twice");

// Whether the core library's handler of an opcode may run: the machine leaves
// the opcode to it, or hands it some forms.
constexpr bool IsCoreLibraryOpcode(Op op) {
  for (const OpcodeBinding& b : kMachineOpcodes)
    if (b.op == op) return b.delegates;
  return static_cast<int>(op) < kOpcodeCount;
}

// The way into the core library (engine/corebuiltins.cpp).

// The core library's handler of the instruction's opcode; 1000 when the
// library is not installed or has none.
[[nodiscard]] StatusCode RunCoreBuiltin(EngineContext* ctx, const int16_t* ins);

// The core library's displays; 1000 when it is not installed.
[[nodiscard]] StatusCode CoreDisplayTopValue(EngineContext* ctx, int32_t descriptor, bool drop);
[[nodiscard]] StatusCode CoreDisplayStatementResult(EngineContext* ctx, int32_t variable, bool allowObjects, bool drop);
