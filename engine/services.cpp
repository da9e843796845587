// The ServiceTable's contents. Slots are filled as their services exist; a slot
// left null has no service behind it yet.
#include <algorithm>
#include <iterator>
#include <utility>

#include "engine/context.h"
#include "engine/vm.h"

namespace {

template <class F>
ServiceFn Entry(F* fn) {
  return reinterpret_cast<ServiceFn>(fn);
}

// Every slot's function carries the slot's own name.
#define SERVICE(name) \
  { Service::name, Entry(name) }

const std::pair<Service, ServiceFn> kServiceEntries[] = {
    SERVICE(GetEngineVersionText),
    SERVICE(ResolveFunctionName),
    SERVICE(CallFunctionValue),
    SERVICE(FindNativeFunction),
    SERVICE(CallNativeFunction),
    SERVICE(CallFunctionByName),
    SERVICE(RunInterpreter),
    SERVICE(IsAnyFunctionActive),
    SERVICE(PollBreak),
    SERVICE(GetDescriptorStackLength),
    SERVICE(UnwindFrames),
    SERVICE(GetExecutionPosition),
    SERVICE(SetExecutionPosition),
    SERVICE(GetNativeRecordByIndex),
    SERVICE(ClearError),
    SERVICE(CompileTextInCallerScope),
    SERVICE(IsSafeDataExpression),
    SERVICE(DiscardEvalFrame),
    SERVICE(RaiseErrorWithIdentifier),
    SERVICE(CheckArgTypes),
    SERVICE(PushRealScalar),
    SERVICE(PushInf),
    SERVICE(PushNaN),
    SERVICE(PushLogicalScalar),
    SERVICE(PushComplexScalar),
    SERVICE(PushEmptyMatrix),
    SERVICE(PushVoidValue),
    SERVICE(PushTaggedInteger),
    SERVICE(GetTaggedInteger),
    SERVICE(PushDoubleMatrix),
    SERVICE(PushDoubleArray),
    SERVICE(PushSingleArray),
    SERVICE(PushIntegerArray),
    SERVICE(PushCharArray),
    SERVICE(PushCharRow),
    SERVICE(PushLogicalArray),
    SERVICE(PopDoubleMatrix),
    SERVICE(PopRealScalar),
    SERVICE(PopComplexScalar),
    SERVICE(GetIntegerScalarArg),
    SERVICE(PopIntegerScalar),
    SERVICE(PopBoolean),
    SERVICE(PopConditionValue),
    SERVICE(GetDoubleMatrixArg),
    SERVICE(GetRealScalarArg),
    SERVICE(GetBooleanArg),
    SERVICE(GetArgDims),
    SERVICE(GetDoubleArrayArg),
    SERVICE(GetSingleArrayArg),
    SERVICE(GetIntegerArrayArg),
    SERVICE(UnifyNumericArgs),
    SERVICE(CheckElementwiseArgs),
    SERVICE(DropImaginaryPart),
    SERVICE(MakeTopComplex),
    SERVICE(IsCharArg),
    SERVICE(IsLogicalArg),
    SERVICE(ConvertArgsToFloat),
    SERVICE(ConvertArgToIntegerClass),
    SERVICE(ConvertArgToLogical),
    SERVICE(PushStringFromBytes),
    SERVICE(PushStringFromWideText),
    SERVICE(ReserveStringBuffer),
    SERVICE(FinishStringBuffer),
    SERVICE(ReserveWideStringBuffer),
    SERVICE(FinishWideStringBuffer),
    SERVICE(ReserveEncodedTextBuffer),
    SERVICE(FinishUtf8TextBuffer),
    SERVICE(PushStringFromUtf8),
    SERVICE(PopStringToBuffer),
    SERVICE(CopyStringArgToBuffer),
    SERVICE(GetStringArg),
    SERVICE(EncodeCharArg),
    SERVICE(GetScratchAtDataEnd),
    SERVICE(GetFreeDataSpace),
    SERVICE(DropArgsUnderResults),
    SERVICE(RotateValues),
    SERVICE(ReverseValues),
    SERVICE(DuplicateValues),
    SERVICE(TransposeTopMatrix),
    SERVICE(MakeListFromValues),
    SERVICE(GetListArg),
    SERVICE(PushEmptyCellArray),
    SERVICE(ReshapeTopValue),
    SERVICE(ReshapeTopCellArray),
    SERVICE(ConvertTopToStructArray),
    SERVICE(IsListOrCellArg),
    SERVICE(IsStructArg),
    SERVICE(IsObjectArg),
    SERVICE(GetCellArgInfo),
    SERVICE(PushListElement),
    SERVICE(PushStructField),
    SERVICE(ExplodeTopList),
    SERVICE(GetStructFieldName),
    SERVICE(GetValueSize),
    SERVICE(CopyValueOut),
    SERVICE(PushCopiedValue),
    SERVICE(ApplyOptionSet),
    SERVICE(PushOptionValue),
    SERVICE(PopRealScalarOrDefault),
    SERVICE(GetRealOption),
    SERVICE(GetBooleanOption),
    SERVICE(WriteToDescriptor),
    SERVICE(WriteNumberToDescriptor),
    SERVICE(WriteNewlineToDescriptor),
    SERVICE(SetDescriptorBuffering),
    SERVICE(ControlDescriptor),
    SERVICE(ReadFromDescriptor),
    SERVICE(AllocateDescriptorRange),
    SERVICE(PushNativeObject),
    SERVICE(GetNativeObjectArg),
    SERVICE(CallNativeByNameAndKind),
    SERVICE(FindNamedItem),
    SERVICE(GetPendingCallAccess),
    SERVICE(SumArgumentValueSizes),
    SERVICE(CopyArgumentValuesOut),
};

#undef SERVICE

}  // namespace

void FillServiceTable(EngineContext* ctx) {
  std::fill(std::begin(ctx->services.slot), std::end(ctx->services.slot), nullptr);
  for (const auto& [slot, fn] : kServiceEntries) ctx->services.slot[static_cast<int>(slot)] = fn;
}
