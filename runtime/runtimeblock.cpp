// The runtime block: its partition into regions, creation and reset, the
// setters through which the host installs its callbacks, the call context of
// the runtime's natives, the runtime's message table and the standard-input hook.
#include <cstring>

#include "runtime/nativetable.h"
#include "runtime/runtime.h"

const ErrorRecord kRuntimeErrorTable[61] = {
    {10000, "exhaustedRsrc", "Exhausted resources"},
    {10001, "plotOverflow", "Plot memory overflow"},
    {10002, "tooSmallNameBuf", "Too small name buffer"},
    {10003, "noMoreNameSlot", "No more name slot"},
    {10004, "notEnoughMemForKV", "Too small KV buffer"},
    {10006, "notEnoughMemForKVFile", "Not enough memory for decoding KV file"},
    {10007, "circularMakeDep", "Circular make dependance"},
    {10005, "tooSmallUndoBuf", "Too small Undo buffer"},
    {10008, "tooManyVarInUndoBuf", "Too many variables for the Undo buffer"},
    {10009, "varTooLargeForUndo", "Variable too large for the Undo buffer"},
    {10010, "varNotFound", "Variable not found"},
    {10011, "varDuplicate", "Variable already exists"},
    {10012, "unexpectedStdVar", "Standard variable unexpected here"},
    {10013, "syntaxError", "Syntax error in KV file"},
    {10014, "unknownKeyword", "Unknown KV file keyword"},
    {10015, "unknownUIOption", "Unknown userinterface option"},
    {10016, "unexpectedChar", "Unexpected character in KV file"},
    {10017, "emptyString", "Invalid empty string"},
    {10018, "blockExpected", "Block of text expected"},
    {10019, "unterminatedBlock", "Unterminated block of text"},
    {10020, "stringExpected", "String expected"},
    {10021, "charExpected", "Character expected"},
    {10022, "unterminatedString", "Unterminated string"},
    {10023, "badVarDecl", "Bad variable declaration"},
    {10024, "badDef", "Bad definition"},
    {10025, "badFunDef", "Bad function declaration"},
    {10026, "missingFunDecl", "Missing function declaration"},
    {10027, "badUse", "Bad \"use\" statement"},
    {10028, "unterminatedOutArgs", "Unterminated list of output arguments"},
    {10029, "unterminatedInArgs", "Unterminated list of input arguments"},
    {10030, "unexpectedCharOutArgs", "Unexpected character in list of output arguments"},
    {10031, "unexpectedCharInArgs", "Unexpected character in list of input arguments"},
    {10032, "missingEqualInFunDecl", "Missing '=' after list of output arguments"},
    {10033, "badFunName", "Bad function name in function declaration"},
    {10034, "varNameAsFunName", "Variable name used as function name"},
    {10035, "unexpectedCharAfterFunDecl", "Unexpected character after function declaration"},
    {10036, "missingListOfVar", "Missing list of variables"},
    {10037, "unterminatedListOfVar", "Unterminated list of variables"},
    {10038, "unexpectedCharInListOfVar", "Unexpected character in list of variables"},
    {10039, "badFunBlock", "Bad block of source code"},
    {10040, "undefElement", "Undefined element"},
    {10041, "nonexistentInstance", "Nonexistent instance"},
    {10042, "cannotCreateFigure", "Cannot create new figure"},
    {10043, "invalidFigureId", "Invalid figure ID"},
    {10044, "nonexistentUndoSet", "Nonexistent set of variables in the Undo buffer"},
    {10045, "invalidMultipleDecl", "Invalid multiple declaration"},
    {10046, "invalidDeclHere", "Declaration invalid here"},
    {10047, "menuendMismatch", "\"endmenu\" not matching \"beginmenu\""},
    {10048, "submenuendMismatch", "\"endsubmenu\" not matching \"beginsubmenu\""},
    {10049, "nestedMenu", "Nested menus"},
    {10050, "nestedSubmenu", "Nested submenus"},
    {10051, "missingEndmenu", "Missing \"endmenu\""},
    {10052, "missingEndsubmenu", "Missing \"endsubmenu\""},
    {10053, "menuOutsideBeginmenu", "\"menu\" outside \"beginmenu\"/\"endmenu\""},
    {10054, "extAfterFunctions", "\"extension\" after \"function\""},
    {10055, "notKVD", "Not an KV data file"},
    {10056, "cannotOpenLib", "Library file cannot be opened in place of KV file"},
    {10057, "KVSrcNotAvailable", "KV file source code not available"},
    {10058, "cannotUndo", "Cannot undo"},
    {10059, "cannotRedo", "Cannot redo"},
    {0, nullptr, nullptr},
};

namespace {

uint8_t* Base(RuntimeBlock* b) { return reinterpret_cast<uint8_t*>(b); }

// The creation shares of u usable bytes; every division is a shift, so each
// share stays a multiple of 64 and the regions keep 8-byte alignment.
void Partition(int64_t u, int32_t* sizes) {
  sizes[0] = static_cast<int32_t>(3 * (u >> 3));
  sizes[1] = static_cast<int32_t>(3 * (u >> 3));
  sizes[2] = static_cast<int32_t>(u >> 5);
  sizes[3] = static_cast<int32_t>(u >> 5);
  sizes[4] = static_cast<int32_t>(u - sizes[0] - sizes[1] - sizes[2] - sizes[3]);
}

}  // namespace

uint8_t* RuntimeRegion(RuntimeBlock* block, int region) {
  int64_t offset = kRuntimeHeaderBytes;
  for (int i = 0; i < region; ++i) offset += block->regionSize[i];
  return Base(block) + offset;
}
EngineContext* RuntimeEngine(RuntimeBlock* block) { return reinterpret_cast<EngineContext*>(RuntimeRegion(block, 0)); }
double* RuntimeBlockStore(RuntimeBlock* block) { return reinterpret_cast<double*>(RuntimeRegion(block, 1)); }
int32_t* RuntimeCodeWords(RuntimeBlock* block) { return reinterpret_cast<int32_t*>(RuntimeRegion(block, 2)); }
NameTable* RuntimeNameTable(RuntimeBlock* block) { return reinterpret_cast<NameTable*>(RuntimeRegion(block, 3)); }
VariableStore* RuntimeVariableStore(RuntimeBlock* block) {
  return reinterpret_cast<VariableStore*>(RuntimeRegion(block, 4));
}
int32_t BlockStoreDoubles(const RuntimeBlock* block, int32_t records) {
  return static_cast<int32_t>((int64_t{block->regionSize[1]} - int64_t{kInstanceRecordBytes} * records) / 8);
}

StatusCode CreateRuntime(RuntimeBlock** out, void* memory, int64_t size, int32_t reservedWord, int32_t lineEndStyle) {
  *out = nullptr;
  if (size < kMinRuntimeBlockBytes) return kNotEnoughMemForKV;
  auto* b = static_cast<RuntimeBlock*>(memory);
  std::memset(b, 0, kRuntimeHeaderBytes);
  *out = b;
  Partition((size - kRuntimeHeaderBytes) & ~int64_t{2047}, b->regionSize);

  EngineContext* ctx = nullptr;
  StatusCode st = InitEngineContext(RuntimeRegion(b, 0), static_cast<size_t>(b->regionSize[0]), &ctx);
  if (st != kOk) {
    *out = nullptr;
    return st;
  }
  InitCallContext(&b->callContext, 0, b, 0);
  st = InstallStaticNativeTable(ctx, true);
  if (st != kOk) {
    *out = nullptr;
    return st;
  }
  SetNativeDefaultUserData(ctx, &b->callContext);
  (void)SetLibraryFlagByName(ctx, "Korvatil", 1);
  SetPendingCallResolver(ctx, &ResolvePendingCallContext, out);
  SetLineInfoFlag(ctx, 1);
  SetCodeOptions(ctx, 4, 0);
  if (st = ResetEngineToBaseFrame(ctx); st != kOk) {
    *out = nullptr;
    return st;
  }

  b->device = &kInitialRuntimeDevice;
  b->reservedWord = reservedWord;
  b->lineEndStyle = lineEndStyle;
  b->mouseMode = 1;
  b->highlight = 1;
  b->defaultStyles[0] = b->defaultStyles[1] = PlotStyle{256, 0xCC, 0xCC, 0xCC, 0};
  b->currentList[0] = -1;
  b->currentSubplot = -1;
  b->manipulatedSubplot = -1;
  b->lastHandlerSubplot = -1;
  InitDefaultInstance(b);
  b->layoutWord = 0;
  return ResetRuntimeToEmpty(b, true);
}

StatusCode ResetRuntimeToEmpty(RuntimeBlock* block, bool forgetFunctions) {
  NameTable* names = nullptr;
  VariableStore* store = nullptr;
  const StatusCode nameStatus = InitNameTable(&names, RuntimeRegion(block, 3), block->regionSize[3]);
  const StatusCode storeStatus = InitVariableStore(&store, RuntimeRegion(block, 4), block->regionSize[4]);
  if (nameStatus != kOk) return nameStatus;
  if (storeStatus != kOk) return storeStatus;
  for (const SpecialVariableRecord* v = kSpecialVariables; v->id != -1; ++v)
    if (StatusCode st = AddName(names, v->id, v->name, 0); st != kOk) return st;

  InitBlockStore(RuntimeBlockStore(block), BlockStoreDoubles(block, block->instanceCount));
  block->savedCurrentInstance = 0;
  block->instanceCount = 1;
  block->nextInstanceId = 1;
  // Instance 0 keeps its record; its variable set went with the old store.
  if (StatusCode st = AddInstanceVariableSet(block, 0); st != kOk) return st;
  InitInstanceState(block, 0, true);

  block->codeWordsUsed = 0;
  if (forgetFunctions)
    if (StatusCode st = ResetFunctionStore(RuntimeEngine(block)); st != kOk) return st;
  block->busy = 0;
  block->elementCursor = 1;
  block->callContext.statusFlags = 0;
  return kOk;
}

// ---------------------------------------------------------------------------
// Setters.

void SetMemoryGrowthCallback(RuntimeBlock* block, MemoryGrowthCallback callback, void* userData) {
  block->memoryGrowth = callback;
  block->memoryGrowthData = userData;
}
StatusCode InstallRuntimeNativeLibrary(RuntimeBlock* block, const NativeFunctionRecord* records) {
  return InstallNativeLibrary(RuntimeEngine(block), records, true);
}
void SetRuntimeCharset(RuntimeBlock* block, char letter) { SetTextCharset(RuntimeEngine(block), letter); }
void SetBreakCheckCallback(RuntimeBlock* block, BreakTestCallback callback, void* userData) {
  block->breakTest = callback;
  block->breakTestData = userData;
  SetBreakPollCallback(RuntimeEngine(block), callback, userData);
}
void SetDrawingDevice(RuntimeBlock* block, const DrawingDevice* device) { block->device = device; }
void SetDeviceContext(RuntimeBlock* block, void* context) { block->deviceContext = context; }
void SetInputDialogCallback(RuntimeBlock* block, InputDialogCallback callback, void* userData) {
  block->inputDialog = callback;
  block->inputDialogData = userData;
}
void SetRunningStatusCallback(RuntimeBlock* block, RunningStatusCallback callback, void* userData) {
  block->runningStatus = callback;
  block->runningStatusData = userData;
}
void SetCompilerOptions(RuntimeBlock* block, int32_t optimisationLevel, uint8_t discardAssert) {
  SetCodeOptions(RuntimeEngine(block), optimisationLevel, discardAssert);
}
void SetInstanceCallFlag(RuntimeBlock* block, int32_t instance, bool value) {
  if (InstanceRecord* r = FindInstanceRecord(block, instance)) r->sandbox = value ? 1 : 0;
}
bool GetInstanceCallFlag(RuntimeBlock* block, int32_t instance) {
  const InstanceRecord* r = FindInstanceRecord(block, instance);
  return r != nullptr && r->sandbox != 0;
}
void SetDisplayFormat(RuntimeBlock* block, char format, int32_t digits, char imagUnit, bool loose, int32_t width,
                      bool flag) {
  SetEngineDisplayFormat(RuntimeEngine(block), format, digits, imagUnit, loose, width, flag);
}
void GetDisplayFormat(RuntimeBlock* block, char* format, int32_t* digits, char* imagUnit, bool* loose, int32_t* width,
                      bool* flag) {
  GetEngineDisplayFormat(RuntimeEngine(block), format, digits, imagUnit, loose, width, flag);
}
void SetTimeSource(RuntimeBlock* block, RuntimeClock clock, void* data, int32_t size) {
  SetTimeCallback(RuntimeEngine(block), clock, data, size);
  block->clock = clock;
  block->clockStateSize = size;
  block->clockStates = data ? static_cast<uint8_t*>(data) + 3 * int64_t{size} : nullptr;
  if (clock == nullptr || data == nullptr) return;
  for (int n = 0; n < 3; ++n) (void)clock(block->clockStates + n * int64_t{size}, 0, 1);
}
StatusCode SetNamedValue(RuntimeBlock* block, const char* name, int32_t value) {
  return DefineNamedItem(RuntimeEngine(block), name, value);
}
double ReadRuntimeClock(RuntimeBlock* block, int n, bool reset) {
  if (block->clock == nullptr || block->clockStates == nullptr) return 0.0;
  return block->clock(block->clockStates + n * int64_t{block->clockStateSize}, 0, reset ? 1 : 0);
}

void PrepareRuntimeForMove(RuntimeBlock* block) { MakeContextPointersRelative(RuntimeEngine(block)); }

EngineContext* ResolvePendingCallContext(void* target) {
  RuntimeBlock* b = *static_cast<RuntimeBlock**>(target);
  return b != nullptr ? RuntimeEngine(b) : nullptr;
}

void InitCallContext(CallContextRecord* record, int32_t instance, RuntimeBlock* block, uint8_t standardInput) {
  record->block = block;
  record->instance = instance;
  record->standardInput = standardInput;
  record->statusFlags = 0;
  record->reserved = 0;
}
void SetCallContextBlock(CallContextRecord* record, RuntimeBlock* block) { record->block = block; }
bool IsSelfCancelStatus(const RuntimeBlock* block, StatusCode status) {
  return status == 402 && (block->callContext.statusFlags & kCallCancelled) != 0;
}

// ---------------------------------------------------------------------------
// Standard input.

void SetStandardInputText(RuntimeBlock* block, const char* text, int32_t length) {
  block->inputText = text;
  block->inputLength = text != nullptr && length > 0 ? length : 0;
  block->inputRead = 0;
  block->inputState = block->inputLength > 0 ? kInputAvailable : kInputIdle;
}

StatusCode RuntimeReadHook(EngineContext*, int32_t descriptor, char* buffer, int32_t capacity, int32_t* count,
                           void* userData) {
  *count = 0;
  // rvo installs the same table without a runtime: the host's own hook answers.
  const auto* call = static_cast<const CallContextRecord*>(userData);
  if (descriptor != kStdinDescriptor || call == nullptr || call->block == nullptr) return kBadFileId;
  if (call->standardInput == 0) return kBadContext;
  RuntimeBlock* b = call->block;
  if (b->inputState <= kInputWaiting) {
    b->inputState = kInputWaiting;
    return kWaitingForInput;
  }
  int32_t n = b->inputLength - b->inputRead;
  if (n > capacity) n = capacity;
  if (n < 0) n = 0;
  for (int32_t k = 0; k < n; ++k) {
    const char c = b->inputText[b->inputRead + k];
    buffer[k] = c == '\r' ? '\n' : c;
  }
  *count = n;
  b->inputRead += n;
  // What did not fit stays for the next read.
  if (b->inputRead >= b->inputLength) {
    b->inputState = kInputIdle;
    b->inputText = nullptr;
    b->inputLength = b->inputRead = 0;
  }
  return kOk;
}
