// Everything that crosses the boundary between the engine and an extension
// library, laid out for x86-64 with natural alignment: native records, the
// ServiceTable of current-interface natives, and the descriptors, callback
// block and value references of older-interface functions. An extension
// includes this header and nothing else of the engine.
#pragma once

#include <cstddef>
#include <cstdint>

struct EngineContext;
struct CompositeElementHeader;
struct OptionDefaultRecord;
union Cell;

using StatusCode = int32_t;

// ---------------------------------------------------------------------------
// Native records. A library is a run of them ended by one with an empty name.

using NativeHandler = StatusCode (*)(EngineContext* ctx, int nargin, int nargout, void* userData);

struct NativeFunctionRecord {
  NativeHandler handler;  // for "+errmsgtable": the address of its error table
  void* userData;         // null: the context's default user data
  int32_t kind;           // 0 plain; > 0 a method of class kind; < 0 a constructor of class -kind
  char name[32];
  uint8_t minInputs;  // for a hook: its style byte
  uint8_t maxInputs;  // kAnyCount: any number
  uint8_t minOutputs;
  uint8_t maxOutputs;
};
static_assert(sizeof(NativeFunctionRecord) == 56);
static_assert(offsetof(NativeFunctionRecord, userData) == 8);
static_assert(offsetof(NativeFunctionRecord, kind) == 16);
static_assert(offsetof(NativeFunctionRecord, name) == 20);
static_assert(offsetof(NativeFunctionRecord, minInputs) == 52);
static_assert(offsetof(NativeFunctionRecord, maxOutputs) == 55);

constexpr uint8_t kAnyCount = 0x40;

// ---------------------------------------------------------------------------
// Pending calls posted from outside the engine, and values copied out of it.

using PendingCallFunction = void (*)(EngineContext* ctx, void* argument);
// Maps the host's target to the context at its current address, so that a
// poster outside the engine survives moves of the block.
using PendingCallResolver = EngineContext* (*)(void* target);

struct PendingCallAccess;
using PostPendingCallFn = bool (*)(PendingCallAccess access, PendingCallFunction function, void* argument);
using PostPendingEventFn = bool (*)(PendingCallAccess access, void* callBlock);

// The post functions take it by value.
struct PendingCallAccess {
  PendingCallResolver resolver;  // null: target is the context itself
  PostPendingCallFn postCall;
  PostPendingEventFn postEvent;
  void* target;
};
static_assert(sizeof(PendingCallAccess) == 32);

// A value copied out of the stacks: its descriptor's three words as doubles,
// then `cells` data cells of 8 bytes.
struct CopiedValue {
  double kind;
  double cells;
  double extra;
};
static_assert(sizeof(CopiedValue) == 24);

// ---------------------------------------------------------------------------
// The ServiceTable sits at offset 0 of every context. An extension built
// elsewhere finds a service by its slot, so the order never changes; the
// engine checks every slot against its own declaration.

struct ServiceTable {
  const char* (*GetEngineVersionText)();
  StatusCode (*ResolveFunctionName)(EngineContext* ctx, const char* name, const char* qualifier, int32_t library,
                                    bool useList, int32_t* inputs, int32_t* outputs, bool* varargin, bool* varargout);
  StatusCode (*CallFunctionValue)(EngineContext* ctx, int position, int32_t nargin, int32_t nargout, bool reentry);
  const NativeFunctionRecord* (*FindNativeFunction)(EngineContext* ctx, const char* name,
                                                    const NativeFunctionRecord* after, int32_t classKey,
                                                    int32_t* global);
  const NativeFunctionRecord* (*GetNativeRecordByIndex)(EngineContext* ctx, int g);
  StatusCode (*CallNativeFunction)(EngineContext* ctx, NativeHandler handler, int nargin, int nargout);
  StatusCode (*CallFunctionByName)(EngineContext* ctx, const char* name, int32_t length, int32_t library,
                                   int32_t nargin, int32_t nargout, bool userOnly, bool skipUser, bool linkToCaller);
  StatusCode (*CompileTextInCallerScope)(EngineContext* ctx, const char* text, int32_t length, int32_t* results);
  bool (*IsSafeDataExpression)(EngineContext* ctx);
  StatusCode (*DiscardEvalFrame)(EngineContext* ctx);
  StatusCode (*ClearError)(EngineContext* ctx);
  StatusCode (*RunInterpreter)(EngineContext* ctx, uint8_t pollAtBackwardJumps);
  StatusCode (*RaiseErrorWithIdentifier)(EngineContext* ctx, const char* identifier, int identifierLength,
                                         const char* message, int64_t messageLength);
  bool (*IsAnyFunctionActive)(EngineContext* ctx);
  bool (*PollBreak)(EngineContext* ctx);
  StatusCode (*GetDescriptorStackLength)(EngineContext* ctx, int32_t* length);
  StatusCode (*UnwindFrames)(EngineContext* ctx, int32_t level);
  StatusCode (*GetExecutionPosition)(EngineContext* ctx, int32_t* position);
  StatusCode (*SetExecutionPosition)(EngineContext* ctx, const int32_t* position);
  StatusCode (*CheckArgTypes)(EngineContext* ctx, int nargin, const char* types);
  StatusCode (*PushRealScalar)(EngineContext* ctx, double x);
  StatusCode (*PushInf)(EngineContext* ctx);
  StatusCode (*PushNaN)(EngineContext* ctx);
  StatusCode (*PushLogicalScalar)(EngineContext* ctx, uint8_t b);
  StatusCode (*PushComplexScalar)(EngineContext* ctx, double re, double im);
  StatusCode (*PushEmptyMatrix)(EngineContext* ctx);
  StatusCode (*PushVoidValue)(EngineContext* ctx);
  StatusCode (*PushTaggedInteger)(EngineContext* ctx, int32_t v);
  bool (*GetTaggedInteger)(EngineContext* ctx, int position, int32_t* v);
  StatusCode (*PushDoubleMatrix)(EngineContext* ctx, int32_t m, int32_t n, double** re, double** im);
  StatusCode (*PushDoubleArray)(EngineContext* ctx, int ndims, const int32_t* dims, double** re, double** im);
  StatusCode (*PushSingleArray)(EngineContext* ctx, int ndims, const int32_t* dims, float** re, float** im);
  StatusCode (*PushIntegerArray)(EngineContext* ctx, int ndims, const int32_t* dims, int elementBytes, bool isUnsigned,
                                 void** data);
  StatusCode (*PushCharArray)(EngineContext* ctx, int ndims, const int32_t* dims, uint16_t** data);
  StatusCode (*PushCharRow)(EngineContext* ctx, int32_t n, uint16_t** data);
  StatusCode (*PushLogicalArray)(EngineContext* ctx, int ndims, const int32_t* dims, uint8_t** data);
  StatusCode (*PopDoubleMatrix)(EngineContext* ctx, int32_t* m, int32_t* n, double** re, double** im);
  StatusCode (*PopRealScalar)(EngineContext* ctx, double* x);
  StatusCode (*PopComplexScalar)(EngineContext* ctx, double* re, double* im);
  StatusCode (*GetIntegerScalarArg)(EngineContext* ctx, int position, int32_t* i);
  StatusCode (*PopIntegerScalar)(EngineContext* ctx, int32_t* i);
  StatusCode (*PopBoolean)(EngineContext* ctx, uint8_t* b);
  StatusCode (*PopConditionValue)(EngineContext* ctx, uint8_t* b);
  StatusCode (*GetDoubleMatrixArg)(EngineContext* ctx, int position, int32_t* m, int32_t* n, double** re, double** im);
  StatusCode (*GetRealScalarArg)(EngineContext* ctx, int position, double* x);
  StatusCode (*GetBooleanArg)(EngineContext* ctx, int position, uint8_t* b);
  StatusCode (*GetArgDims)(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count);
  StatusCode (*GetDoubleArrayArg)(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                                  double** re, double** im);
  StatusCode (*GetSingleArrayArg)(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                                  float** re, float** im);
  StatusCode (*GetIntegerArrayArg)(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                                   int* elementBytes, bool* isUnsigned, void** data);
  StatusCode (*UnifyNumericArgs)(EngineContext* ctx, int n);
  StatusCode (*CheckElementwiseArgs)(EngineContext* ctx, int n, int* ndims, int32_t* dims, int64_t* count, double** re,
                                     double** im, float** sre, float** sim, void** ints, int* elementBytes,
                                     bool* isUnsigned, uint8_t* isArray);
  StatusCode (*DropImaginaryPart)(EngineContext* ctx);
  StatusCode (*MakeTopComplex)(EngineContext* ctx, void** imag);
  bool (*IsCharArg)(EngineContext* ctx, int position);
  bool (*IsLogicalArg)(EngineContext* ctx, int position);
  StatusCode (*ConvertArgsToFloat)(EngineContext* ctx, int position, bool toSingle, bool* converted);
  StatusCode (*ConvertArgToIntegerClass)(EngineContext* ctx, int position, int elementBytes, bool isUnsigned,
                                         bool check);
  StatusCode (*ConvertArgToLogical)(EngineContext* ctx, int position);
  StatusCode (*PushStringFromBytes)(EngineContext* ctx, int64_t length, const char* text);
  StatusCode (*PushStringFromWideText)(EngineContext* ctx, int64_t length, const uint16_t* text);
  StatusCode (*ReserveStringBuffer)(EngineContext* ctx, int64_t* length, char** buffer);
  StatusCode (*FinishStringBuffer)(EngineContext* ctx, int64_t n);
  StatusCode (*ReserveWideStringBuffer)(EngineContext* ctx, int64_t* length, uint16_t** buffer);
  StatusCode (*FinishWideStringBuffer)(EngineContext* ctx, int64_t n);
  StatusCode (*ReserveEncodedTextBuffer)(EngineContext* ctx, int64_t* length, char** buffer);
  StatusCode (*FinishUtf8TextBuffer)(EngineContext* ctx, int64_t n);
  StatusCode (*PushStringFromUtf8)(EngineContext* ctx, int64_t length, const char* text);
  StatusCode (*PopStringToBuffer)(EngineContext* ctx, char* buffer, int64_t size, int64_t* length);
  StatusCode (*CopyStringArgToBuffer)(EngineContext* ctx, int position, char* buffer, int64_t size, int64_t* length);
  StatusCode (*GetStringArg)(EngineContext* ctx, int position, const char** text, int64_t* length);
  StatusCode (*EncodeCharArg)(EngineContext* ctx, int position, bool addNul, uint8_t** data, int64_t* length);
  StatusCode (*GetScratchAtDataEnd)(EngineContext* ctx, int64_t n, Cell** pointer);
  StatusCode (*GetFreeDataSpace)(EngineContext* ctx, int64_t* bytes, Cell** pointer);
  StatusCode (*DropArgsUnderResults)(EngineContext* ctx, int k, int n);
  StatusCode (*RotateValues)(EngineContext* ctx, int n, int k);
  StatusCode (*ReverseValues)(EngineContext* ctx, int n);
  StatusCode (*DuplicateValues)(EngineContext* ctx, int d, int k);
  StatusCode (*TransposeTopMatrix)(EngineContext* ctx);
  StatusCode (*MakeListFromValues)(EngineContext* ctx, int n, bool append, const char* name, int nameLength);
  StatusCode (*GetListArg)(EngineContext* ctx, int position, int32_t* count, CompositeElementHeader** first);
  StatusCode (*PushEmptyCellArray)(EngineContext* ctx, int ndims, const int32_t* dims);
  StatusCode (*ReshapeTopValue)(EngineContext* ctx, int ndims, const int32_t* dims);
  StatusCode (*ReshapeTopCellArray)(EngineContext* ctx, int ndims, const int32_t* dims);
  StatusCode (*ConvertTopToStructArray)(EngineContext* ctx);
  bool (*IsListOrCellArg)(EngineContext* ctx, int position);
  bool (*IsStructArg)(EngineContext* ctx, int position);
  bool (*IsObjectArg)(EngineContext* ctx, int position);
  StatusCode (*GetCellArgInfo)(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                               int32_t* fieldCount, CompositeElementHeader** firstItem);
  StatusCode (*PushListElement)(EngineContext* ctx, int position, int32_t index);
  StatusCode (*PushStructField)(EngineContext* ctx, int position, const char* name, int length);
  StatusCode (*ExplodeTopList)(EngineContext* ctx, int32_t* count);
  StatusCode (*GetStructFieldName)(EngineContext* ctx, int position, int32_t index, const char** name, int* length);
  StatusCode (*GetValueSize)(EngineContext* ctx, int position, int64_t* size);
  StatusCode (*CopyValueOut)(EngineContext* ctx, int position, double* copy);
  StatusCode (*PushCopiedValue)(EngineContext* ctx, const double* copy);
  StatusCode (*ApplyOptionSet)(EngineContext* ctx, int nargin, const OptionDefaultRecord* table);
  StatusCode (*PushOptionValue)(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table);
  StatusCode (*PopRealScalarOrDefault)(EngineContext* ctx, double defaultValue, double* value);
  StatusCode (*GetRealOption)(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table,
                              double defaultValue, double* value);
  StatusCode (*GetBooleanOption)(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table,
                                 bool defaultFlag, bool* flag);
  StatusCode (*WriteToDescriptor)(EngineContext* ctx, int32_t descriptor, const char* bytes, int32_t length);
  StatusCode (*WriteNumberToDescriptor)(EngineContext* ctx, int32_t descriptor, double value);
  StatusCode (*WriteNewlineToDescriptor)(EngineContext* ctx, int32_t descriptor);
  StatusCode (*SetDescriptorBuffering)(EngineContext* ctx, int32_t descriptor, int32_t on);
  StatusCode (*ControlDescriptor)(EngineContext* ctx, int32_t descriptor, int32_t code, int32_t argument,
                                  int32_t* position, bool* atEnd);
  StatusCode (*ReadFromDescriptor)(EngineContext* ctx, int32_t descriptor, char* buffer, int32_t capacity,
                                   bool lineMode, int32_t* count);
  int32_t (*AllocateDescriptorRange)(EngineContext* ctx, int32_t n);
  StatusCode (*PushNativeObject)(EngineContext* ctx, int64_t bytes, void** payload);
  StatusCode (*GetNativeObjectArg)(EngineContext* ctx, int position, int64_t* bytes, void** payload);
  StatusCode (*CallNativeByNameAndKind)(EngineContext* ctx, const char* name, int32_t kind, void* argument);
  int32_t (*FindNamedItem)(EngineContext* ctx, const char* name);
  void (*GetPendingCallAccess)(EngineContext* ctx, PendingCallAccess* access);
  StatusCode (*SumArgumentValueSizes)(EngineContext* ctx, int position, int n, int64_t* size);
  StatusCode (*CopyArgumentValuesOut)(EngineContext* ctx, int position, int n, PendingCallAccess* access,
                                      double* block);
};
static_assert(sizeof(ServiceTable) == 115 * sizeof(void*));

inline const ServiceTable* GetServiceTable(const EngineContext* ctx) {
  return reinterpret_cast<const ServiceTable*>(ctx);
}

// ---------------------------------------------------------------------------
// Entry points an extension library exports (with C linkage). Current
// interface: GetRVOExtensionsVersion answers kExtensionInterfaceVersion and
// InstallRVOExtensions hands over a run of native records, which then call
// back through the ServiceTable. Older interface: InstallFn describes the
// functions, which call back through the ExtensionCallbackBlock.

constexpr int32_t kExtensionInterfaceVersion = 51001;
constexpr int32_t kCallbackBlockVersion = 51;

struct ExtensionCallbackBlock;

// Nonzero for success; 0 after a callback stored an error code in the block
// (or, with none stored, the engine reports 11).
using ExtensionFunction = int (*)(ExtensionCallbackBlock* block, int nargin, int nargout);

struct ExtensionFunctionDescriptor {
  char name[32];  // NUL-terminated; a leading '<' marks a method of the library's class
  ExtensionFunction fn;
  int32_t minInputs;
  int32_t maxInputs;  // kAnyCount: any number
  int32_t minOutputs;
  int32_t maxOutputs;
};
static_assert(sizeof(ExtensionFunctionDescriptor) == 56);
static_assert(offsetof(ExtensionFunctionDescriptor, fn) == 32);
static_assert(offsetof(ExtensionFunctionDescriptor, minInputs) == 40);
static_assert(offsetof(ExtensionFunctionDescriptor, maxOutputs) == 52);

using GetRVOExtensionsVersionFn = int (*)();
using InstallRVOExtensionsFn = void (*)(EngineContext* ctx, void* installArgument,
                                        const NativeFunctionRecord** records);
using ShutdownRVOExtensionsFn = void (*)();
using InstallFnFn = int (*)(ExtensionCallbackBlock* block, const ExtensionFunctionDescriptor** descriptors);
using ShutdownFnFn = void (*)();

// What callbacks 9, 12, 14 and 15 fill in.
enum ExtensionRefKind : int32_t {
  kExtRefOther = 0,
  kExtRefArray = 1,  // double matrix or numeric array (ExtGetArgRef); any array as an element
  kExtRefList = 2,
  kExtRefStruct = 3,
  kExtRefStructArray = 4,
};

struct ExtensionValueRef {
  int32_t kind;      // ExtensionRefKind
  void* descriptor;  // the value's descriptor or element header
  void* data;        // its data or first element
};
static_assert(sizeof(ExtensionValueRef) == 24);

// Array kinds of callbacks 7, 8 and 10. Complex data holds all real parts,
// then all imaginary parts; characters take 2 bytes, logicals 1.
enum ExtensionArrayKind : int32_t {
  kExtSigned = 0,
  kExtUnsigned = 1,
  kExtReal = 2,
  kExtComplex = 3,
  kExtChar = 4,
  kExtLogical = 5,
};

// Room the dims of callbacks 7 and 10 must have.
constexpr int kExtMaxDims = 32;

// Every callback takes the block first and answers nonzero for success, or
// 0 after storing an error code in the block. Input i counts from 1.
struct ExtensionCallbacks {
  int (*ExtGetMatrixArg)(ExtensionCallbackBlock* b, int i, int32_t* m, int32_t* n, double** re, double** im);
  int (*ExtGetStringArg)(ExtensionCallbackBlock* b, int i, char** text, int32_t* length);
  int (*ExtPushMatrix)(ExtensionCallbackBlock* b, int32_t m, int32_t n, double** re, double** im);
  // *length -1: all free space; it receives the length reserved.
  int (*ExtBeginString)(ExtensionCallbackBlock* b, int32_t* length, char** buffer);
  int (*ExtEndString)(ExtensionCallbackBlock* b);
  void* (*ExtAllocScratch)(ExtensionCallbackBlock* b, int32_t bytes);
  int (*ExtPrint)(ExtensionCallbackBlock* b, const char* text);
  int (*ExtGetArrayArg)(ExtensionCallbackBlock* b, int i, int32_t* ndims, int32_t* dims, int32_t* elementSize,
                        int32_t* kind, void** data);
  // One dimension of -1 pushes nothing and receives how many would fit.
  int (*ExtPushArray)(ExtensionCallbackBlock* b, int32_t ndims, int32_t* dims, int32_t elementSize, int32_t kind,
                      void** data);
  int (*ExtGetArgRef)(ExtensionCallbackBlock* b, int i, ExtensionValueRef* ref);
  int (*ExtGetArrayRefInfo)(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t* ndims, int32_t* dims,
                            int32_t* elementSize, int32_t* kind, void** data);
  int (*ExtGetRefCount)(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t* count);
  int (*ExtGetListElement)(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t index,
                           ExtensionValueRef* element);
  int (*ExtGetFieldName)(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t index, char* name);
  int (*ExtGetField)(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, const char* name,
                     ExtensionValueRef* field);
  int (*ExtGetStructArrayField)(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t element,
                                const char* name, ExtensionValueRef* field);
  int (*ExtNewList)(ExtensionCallbackBlock* b);
  int (*ExtAppendToList)(ExtensionCallbackBlock* b);
  int (*ExtNewStruct)(ExtensionCallbackBlock* b);
  int (*ExtAddField)(ExtensionCallbackBlock* b, const char* name);
  int (*ExtMakeStructArray)(ExtensionCallbackBlock* b, int32_t ndims, const int32_t* dims);
  // length -1: NUL-terminated.
  int (*ExtWrite)(ExtensionCallbackBlock* b, int32_t descriptor, const char* text, int32_t length, int32_t lineFlag);
  int (*ExtError)(ExtensionCallbackBlock* b, const char* identifier, const char* message);
  int (*ExtGetScalarArg)(ExtensionCallbackBlock* b, int i, double* re, double* im);
  int (*ExtNewObject)(ExtensionCallbackBlock* b, int32_t bytes, void** payload);
  int (*ExtGetObjectArg)(ExtensionCallbackBlock* b, int i, int32_t* bytes, void** payload);
  int (*ExtSetFields)(ExtensionCallbackBlock* b, int32_t n);
  int (*ExtPushComplex)(ExtensionCallbackBlock* b, double re, double im);
  int (*ExtPushBool)(ExtensionCallbackBlock* b, int32_t value);
  int (*ExtPollBreak)(ExtensionCallbackBlock* b);
  // The buffer of ExtCopyArgsOut starts with a PendingCallAccess, then a call
  // block: the count as a double and the CopiedValues, input i first.
  int (*ExtSizeOfArgs)(ExtensionCallbackBlock* b, int i, int after, int32_t* bytes);
  int (*ExtCopyArgsOut)(ExtensionCallbackBlock* b, int i, int after, void* buffer);
};
static_assert(sizeof(ExtensionCallbacks) == 32 * sizeof(void*));

// Filled by the engine for each call of an older-interface function.
struct ExtensionCallbackBlock {
  int32_t version;  // kCallbackBlockVersion
  int32_t version2;
  ExtensionCallbacks callbacks;
  EngineContext* ctx;
  int32_t nargin;
  int32_t nargout;
  int32_t results;       // pushed so far
  int32_t error;         // of the last failing callback
  int32_t stringLength;  // of the open string output; -1 when none
  uint8_t* scratch;
  int32_t scratchBytes;
};
static_assert(offsetof(ExtensionCallbackBlock, callbacks) == 8);
static_assert(offsetof(ExtensionCallbackBlock, ctx) == 264);
static_assert(offsetof(ExtensionCallbackBlock, nargin) == 272);
static_assert(offsetof(ExtensionCallbackBlock, stringLength) == 288);
static_assert(offsetof(ExtensionCallbackBlock, scratch) == 296);
static_assert(offsetof(ExtensionCallbackBlock, scratchBytes) == 304);
static_assert(sizeof(ExtensionCallbackBlock) == 312);
