// The application runtime's public face: the runtime block that holds the
// engine and every instance, the instance records, the code items that
// describe each instance, and the figure assignment of its subplots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine.h"
#include "graphics/device.h"
#include "graphics/graphics.h"
#include "graphics/subplot.h"
#include "runtime/variablestore.h"

// Runtime status codes beyond those of the name table and the variable store.
constexpr StatusCode kNotEnoughMemForKV = 10004;
constexpr StatusCode kNotEnoughMemForKVFile = 10006;
constexpr StatusCode kUndefElement = 10040;
constexpr StatusCode kNonexistentInstance = 10041;
constexpr StatusCode kCannotCreateFigure = 10042;
constexpr StatusCode kInvalidFigureId = 10043;

// The runtime's message table {code; identifier; message}, 60 entries in
// their fixed order, ended by a record with a null message.
extern const ErrorRecord kRuntimeErrorTable[61];

// ---------------------------------------------------------------------------
// The runtime block: a header of runtime state (in memory only, with native
// pointers) in a fixed reserve, then five regions in address order: 0 the
// engine context, 1 the display-list store growing up and the instance
// records stored down from the region's end, 2 the code words, 3 the name
// table, 4 the variable store.

constexpr int64_t kRuntimeHeaderBytes = 1024;
constexpr int64_t kMinRuntimeBlockBytes = 8192;
constexpr int32_t kInstanceRecordBytes = 22784;
constexpr int kMaxSubplots = 25;

struct RuntimeBlock;

// The natives' default user data: how a native of the runtime finds its block
// and the instance of the running handler.
struct CallContextRecord {
  RuntimeBlock* block;
  int32_t instance;
  uint8_t standardInput;  // 1 only while a plain-code application runs
  int32_t statusFlags;
  int32_t reserved;
};
constexpr int32_t kCallListChanged = 1;
constexpr int32_t kCallRedrawRequested = 2;
constexpr int32_t kCallCancelled = 4;

using RuntimeClock = double (*)(void* state, int processTime, int reset);
using MemoryGrowthCallback = bool (*)(RuntimeBlock** block, int64_t* size, void* userData);
using InputDialogCallback = int (*)(const char* title, int32_t titleLength, const char* prompt, int32_t promptLength,
                                    char* edit, int32_t editSize, int32_t* editLength, int32_t flag, void* userData);
using RunningStatusCallback = void (*)(int32_t state, double seconds, void* userData);
using BreakTestCallback = bool (*)(void* userData);
using PostHandlerCallback = void (*)(RuntimeBlock* block, int32_t instance, void* userData);

// The current event, from which the handler calls build their special inputs.
struct EventRecord {
  int32_t subplot;
  int32_t kind;  // the handler kind being called, 0 outside calls
  double pressPixel[2];
  double x, y;        // the pointer at the hit, in data coordinates
  double x0, y0, z0;  // the hit element's point
  double dragPixel[2];
  double x1, y1, z1;  // the pointer during a drag, or a control's new value
  double dx, dy;
  double q, q2;
  int32_t element;
  int32_t item;
  int32_t index;
  uint32_t flags;
};
// Availability bits of the event's fields.
enum : uint32_t {
  kEventX = 0x1,
  kEventX0 = 0x2,
  kEventX1 = 0x4,
  kEventY = 0x8,
  kEventY0 = 0x10,
  kEventY1 = 0x20,
  kEventZ0 = 0x40,
  kEventZ1 = 0x80,
  kEventQ = 0x100,
  kEventQPair = 0x200,
  kEventShift = 0x400,
  kEventElement = 0x800,
  kEventItem = 0x1000,
  kEventIndex = 0x2000,
  kEventDelta = 0x4000,
};

// Standard input of a plain-code application: 0 idle, 1 waiting, 2 text available.
enum : int32_t { kInputIdle = 0, kInputWaiting = 1, kInputAvailable = 2 };

struct RuntimeBlock {
  int32_t regionSize[5];
  int32_t codeWordsUsed;
  uint8_t busy;
  int32_t reservedWord;
  int32_t lineEndStyle;  // 0 CR, 1 LF, 2 CR LF
  int32_t instanceCount;
  int32_t nextInstanceId;
  int32_t savedCurrentInstance;
  int32_t currentList[4];  // key (-1 none), payload offset and capacity in doubles, doubles used
  int32_t currentSubplot;
  CallContextRecord callContext;
  int32_t layoutWord;
  BreakTestCallback breakTest;
  void* breakTestData;
  const DrawingDevice* device;
  void* deviceContext;
  int32_t reservedWords[3];
  InputDialogCallback inputDialog;
  void* inputDialogData;
  RunningStatusCallback runningStatus;
  void* runningStatusData;
  double nextStatusTime;
  double minimumMoveInterval;
  double nextMoveInterval;
  MemoryGrowthCallback memoryGrowth;
  void* memoryGrowthData;
  RuntimeClock clock;
  uint8_t* clockStates;  // the runtime's three, each clockStateSize bytes
  int32_t clockStateSize;
  uint8_t defaultSandbox;
  int32_t mouseMode;
  PlotStyle defaultStyles[2];
  uint8_t highlight;
  int32_t manipulatedSubplot;
  uint8_t elementCursor;
  int32_t lastHandlerSubplot;
  EventRecord event;
  uint8_t outlinesShown;
  double outlineOffset[2];
  PostHandlerCallback postHandler;
  void* postHandlerData;
  // The standard-input text stays the supplier's until it has been read.
  const char* inputText;
  int32_t inputLength;
  int32_t inputRead;
  int32_t inputState;
};
static_assert(sizeof(RuntimeBlock) <= kRuntimeHeaderBytes, "the header outgrew its reserve");
static_assert(kRuntimeHeaderBytes % 8 == 0, "the regions behind the header hold doubles");

[[nodiscard]] StatusCode CreateRuntime(RuntimeBlock** out, void* memory, int64_t size, int32_t reservedWord,
                                       int32_t lineEndStyle);
[[nodiscard]] StatusCode ResetRuntimeToEmpty(RuntimeBlock* block, bool forgetFunctions);

// Regions, as the header's sizes place them now.
uint8_t* RuntimeRegion(RuntimeBlock* block, int region);
EngineContext* RuntimeEngine(RuntimeBlock* block);
double* RuntimeBlockStore(RuntimeBlock* block);
int32_t* RuntimeCodeWords(RuntimeBlock* block);
NameTable* RuntimeNameTable(RuntimeBlock* block);
VariableStore* RuntimeVariableStore(RuntimeBlock* block);
// The store's size in doubles when n instance records sit at the region's end.
int32_t BlockStoreDoubles(const RuntimeBlock* block, int32_t records);

// Setters.
void SetMemoryGrowthCallback(RuntimeBlock* block, MemoryGrowthCallback callback, void* userData);
[[nodiscard]] StatusCode InstallRuntimeNativeLibrary(RuntimeBlock* block, const NativeFunctionRecord* records);
void SetRuntimeCharset(RuntimeBlock* block, char letter);
void SetBreakCheckCallback(RuntimeBlock* block, BreakTestCallback callback, void* userData);
void SetDrawingDevice(RuntimeBlock* block, const DrawingDevice* device);
void SetDeviceContext(RuntimeBlock* block, void* context);
void SetInputDialogCallback(RuntimeBlock* block, InputDialogCallback callback, void* userData);
void SetRunningStatusCallback(RuntimeBlock* block, RunningStatusCallback callback, void* userData);
void SetCompilerOptions(RuntimeBlock* block, int32_t optimisationLevel, uint8_t discardAssert);
void SetInstanceCallFlag(RuntimeBlock* block, int32_t instance, bool value);
bool GetInstanceCallFlag(RuntimeBlock* block, int32_t instance);
void SetDisplayFormat(RuntimeBlock* block, char format, int32_t digits, char imagUnit, bool loose, int32_t width,
                      bool flag);
void GetDisplayFormat(RuntimeBlock* block, char* format, int32_t* digits, char* imagUnit, bool* loose, int32_t* width,
                      bool* flag);
// data holds six clock states of size bytes: the engine's three, then the runtime's.
void SetTimeSource(RuntimeBlock* block, RuntimeClock clock, void* data, int32_t size);
[[nodiscard]] StatusCode SetNamedValue(RuntimeBlock* block, const char* name, int32_t value);
// Seconds on runtime clock n (0 idle, 1 running status, 2 move rate); a reset
// restarts it. 0 without a time source.
double ReadRuntimeClock(RuntimeBlock* block, int n, bool reset);

void PrepareRuntimeForMove(RuntimeBlock* block);
// The pending-call resolver: target is the address of the host's block pointer.
EngineContext* ResolvePendingCallContext(void* target);

void InitCallContext(CallContextRecord* record, int32_t instance, RuntimeBlock* block, uint8_t standardInput);
void SetCallContextBlock(CallContextRecord* record, RuntimeBlock* block);
bool IsSelfCancelStatus(const RuntimeBlock* block, StatusCode status);

// Gives the standard-input hook a text to answer with; the text must stay
// valid until the hook has handed out all of it.
void SetStandardInputText(RuntimeBlock* block, const char* text, int32_t length);
// The "+read" hook of the static table (ReadHook); user data: the call context.
[[nodiscard]] StatusCode RuntimeReadHook(EngineContext* ctx, int32_t descriptor, char* buffer, int32_t capacity,
                                         int32_t* count, void* userData);

// ---------------------------------------------------------------------------
// Memory growth. The grow-and-retry set: the statuses after which a caller
// grows the block (ExpandRuntimeMemory) and repeats the operation.

bool IsGrowAndRetryStatus(StatusCode status);
// Asks the host for a larger block and gives the growth to the region that
// ran short by status; *block is refreshed in every case (the host may have
// moved it even when it refused).
bool ExpandRuntimeMemory(RuntimeBlock** block, StatusCode status);
// newSize 0: only rebuilds the engine's pointers after a move.
bool RepartitionRuntime(RuntimeBlock* block, int64_t newSize, StatusCode status);

// ---------------------------------------------------------------------------
// Application images: the runtime state as the tool that built the
// application saved it, in chunks {header of 17 words; extension-name list
// length; the names; the engine state; the store; the instance records, the
// highest first; the code words; the name table; the variable store's header
// and set area through its first heap cell; its value heap}.

constexpr int32_t kImageHeaderWords = 17;
// Remembers the stream position in *position (flag 0) or returns to it (flag 1).
using ImagePositionCallback = void (*)(int32_t flag, int64_t* position, void* userData);
using ExtensionNameCallback = void (*)(RuntimeBlock* block, const char* name, int32_t length, void* data);

// Checks structure, not meaning: compiled code and variable contents are
// trusted once the regions pass their checks. Any failure once the regions
// are being filled (600) leaves the runtime empty.
[[nodiscard]] StatusCode RestoreApplicationImage(RuntimeBlock** block, EngineStateReader read,
                                                 ImagePositionCallback position, void* userData,
                                                 ExtensionNameCallback extension, void* extensionData);

// ---------------------------------------------------------------------------
// Instance records: a stored format, record i in the 22,784 bytes that end
// 22,784 * i bytes before the end of region 1.

struct InstanceRecord {
  int32_t id;
  uint8_t started;
  uint8_t builtIn;
  uint8_t sandbox;
  uint8_t reserved7;
  int32_t idleState;
  uint8_t idleResume;
  uint8_t idleAllowed;
  uint8_t reserved14[2];
  int32_t idleMode;
  uint8_t reserved20[4];
  double nextIdleTime;
  double lastIdleTime;
  uint32_t optionBits;
  PlotStyle frameStyles[6];
  int32_t maxSubplots;
  int32_t rows;
  int32_t columns;
  uint32_t selection;
  uint8_t freeLayout;
  uint8_t reserved109[3];
  double box[4];  // x0, x1, y0, y1 in pixels
  int32_t pointerSubplot;
  int32_t editSubplot;
  int32_t editElement;
  int32_t editSelectionStart;
  int32_t editSelectionEnd;
  uint8_t reserved164[4];
  SubplotRecord subplots[kMaxSubplots];
  double springs[kMaxSubplots][6];  // x before, width, x after, y before, height, y after
  uint8_t needsRedraw;
  uint8_t menuStale;
  uint8_t reserved22570[2];
  int32_t menuKey;
  uint8_t menuStates[3][64];
  int32_t language;  // word offset of its marker from the head, -2 none
  int32_t currentFigure;
  uint8_t firstRun;
  uint8_t eventFlag;
  uint8_t reserved22778[6];
};
static_assert(sizeof(InstanceRecord) == kInstanceRecordBytes);
static_assert(offsetof(InstanceRecord, started) == 4);
static_assert(offsetof(InstanceRecord, sandbox) == 6);
static_assert(offsetof(InstanceRecord, idleState) == 8);
static_assert(offsetof(InstanceRecord, idleResume) == 12);
static_assert(offsetof(InstanceRecord, idleAllowed) == 13);
static_assert(offsetof(InstanceRecord, idleMode) == 16);
static_assert(offsetof(InstanceRecord, nextIdleTime) == 24);
static_assert(offsetof(InstanceRecord, lastIdleTime) == 32);
static_assert(offsetof(InstanceRecord, optionBits) == 40);
static_assert(offsetof(InstanceRecord, frameStyles) == 44);
static_assert(offsetof(InstanceRecord, maxSubplots) == 92);
static_assert(offsetof(InstanceRecord, rows) == 96);
static_assert(offsetof(InstanceRecord, columns) == 100);
static_assert(offsetof(InstanceRecord, selection) == 104);
static_assert(offsetof(InstanceRecord, freeLayout) == 108);
static_assert(offsetof(InstanceRecord, box) == 112);
static_assert(offsetof(InstanceRecord, pointerSubplot) == 144);
static_assert(offsetof(InstanceRecord, editSubplot) == 148);
static_assert(offsetof(InstanceRecord, editElement) == 152);
static_assert(offsetof(InstanceRecord, editSelectionStart) == 156);
static_assert(offsetof(InstanceRecord, editSelectionEnd) == 160);
static_assert(offsetof(InstanceRecord, subplots) == 168);
static_assert(offsetof(InstanceRecord, springs) == 21368);
static_assert(offsetof(InstanceRecord, needsRedraw) == 22568);
static_assert(offsetof(InstanceRecord, menuStale) == 22569);
static_assert(offsetof(InstanceRecord, menuKey) == 22572);
static_assert(offsetof(InstanceRecord, menuStates) == 22576);
static_assert(offsetof(InstanceRecord, language) == 22768);
static_assert(offsetof(InstanceRecord, currentFigure) == 22772);
static_assert(offsetof(InstanceRecord, firstRun) == 22776);
static_assert(offsetof(InstanceRecord, eventFlag) == 22777);

// Saved-state variables of every instance.
constexpr int32_t kVarTitle = 103;
constexpr int32_t kVarVersion = 104;
constexpr int32_t kVarHelp = 105;
// The handler special variables {id; name}, entered into the name table at
// every reset, ended by id -1.
struct SpecialVariableRecord {
  int32_t id;
  char name[12];
};
extern const SpecialVariableRecord kSpecialVariables[47];

InstanceRecord* InstanceRecordAt(RuntimeBlock* block, int32_t index);
// The instance's variable set with its six saved-state variables; nothing
// stays behind when that fails.
[[nodiscard]] StatusCode AddInstanceVariableSet(RuntimeBlock* block, int32_t instance);
InstanceRecord* FindInstanceRecord(RuntimeBlock* block, int32_t instance);
// With out null, instance 0 is emptied and made again in place.
[[nodiscard]] StatusCode CreateInstance(RuntimeBlock* block, int32_t* out);
void InitDefaultInstance(RuntimeBlock* block);
void InitInstanceState(RuntimeBlock* block, int32_t instance, bool resetBox);
void DeleteInstanceRecord(RuntimeBlock* block, int32_t instance);
// The shell's reset-data command and the start of an application: the
// variables anew, then the init handlers; started only when they all succeed.
[[nodiscard]] StatusCode ResetInstance(RuntimeBlock** pp, int32_t instance);
// Nothing when the instance was not started.
[[nodiscard]] StatusCode RunTerminateHandlers(RuntimeBlock** pp, int32_t instance, InstanceRecord* record);
// Terminate handlers, code block, record; the terminate handlers' status.
[[nodiscard]] StatusCode DeleteInstance(RuntimeBlock** pp, int32_t instance);
// Copies count records from below oldEnd to below newEnd, the highest first.
void MoveInstanceRecords(uint8_t* newEnd, uint8_t* oldEnd, int32_t count);

// Texts: kind letter 't' title, 'v' version, 'h' help. The UTF-8 results lie
// in the engine's free data space, good until the next engine operation.
[[nodiscard]] StatusCode PushInstanceText(RuntimeBlock* block, int32_t instance, char kind, bool variableOnly);
[[nodiscard]] StatusCode SetInstanceText(RuntimeBlock* block, int32_t instance, char kind, const char* text,
                                         int32_t length);
[[nodiscard]] StatusCode GetInstanceTitle(RuntimeBlock* block, int32_t instance, const char** text, int32_t* length);
// format: 'n' raw, 'r' RTF, 'h' HTML, else plain text.
[[nodiscard]] StatusCode GetInstanceVersionText(RuntimeBlock* block, int32_t instance, char format, int fontSize,
                                                const char** text, int32_t* length);
[[nodiscard]] StatusCode GetInstanceHelpText(RuntimeBlock* block, int32_t instance, char format, int fontSize,
                                             const char** text, int32_t* length);

// Layout.
void ApplyLayoutToSubplots(InstanceRecord* record);
// Moves every subplot of a free layout from the box oldBox (x0, x1, y0, y1)
// into the record's box by its springs; yUp measures vertically from y1.
void ResizeFreeLayout(InstanceRecord* record, const double oldBox[4], bool yUp);
[[nodiscard]] StatusCode SetInstanceViewArea(RuntimeBlock** block, int32_t instance, double x0, double x1, double y0,
                                             double y1);

// ---------------------------------------------------------------------------
// Code items in region 2: little-endian i32 words {kind; length in words,
// both included; payload}. Positions are word indices from the region's
// start; positions kept in records are word offsets from the instance's head.

enum CodeItemKind : int32_t {
  kItemHead = 1,
  kItemTitle = 2,
  kItemVersion = 3,
  kItemHelp = 5,
  kItemOptions = 6,
  kItemInit = 7,
  kItemTerminate = 8,
  kItemLanguage = 11,
  kItemSectionBegin = 12,
  kItemSectionEnd = 13,
  kItemMenuItem = 19,
  kItemFigure = 24,
  kItemMouseDown = 26,
  kItemDoubleClick = 30,
  kItemMouseOver = 31,
  kItemMouseOut = 32,
  kItemMouseScroll = 33,
  kItemDragOut = 35,
  kItemDraw = 36,
  kItemFigureHandler = 37,
  kItemResize = 38,
  kItemIdle = 41,
  kItemInitText = 45,
  kItemPlainCode = 47,
  kItemLanguageInit = 48,  // asks for the init handlers of the current language
};
// Ids in a handler payload at or beyond these stand for integer constants.
constexpr int32_t kConstantIdBase = 1 << 30;

[[nodiscard]] StatusCode FindInstanceCodeBlock(RuntimeBlock* block, int32_t instance, int32_t* head);
// position -1 starts at the instance's head.
[[nodiscard]] StatusCode FindNextCodeItem(RuntimeBlock* block, int32_t instance, int32_t* position, int32_t kind);
// The first active item of the kind before the first active menu item or
// figure; payload points behind the first payload word.
[[nodiscard]] StatusCode FindInstanceItem(RuntimeBlock* block, int32_t instance, int32_t kind, const int32_t** payload,
                                          int32_t* first);
bool IsPlainCodeInstance(RuntimeBlock* block, int32_t* instance);
[[nodiscard]] StatusCode RemoveInstanceCodeBlock(RuntimeBlock* block, int32_t instance);
int32_t GetInstanceLibraryId(RuntimeBlock* block, int32_t instance);
int32_t FindInstanceByName(RuntimeBlock* block, const char* name);

// ---------------------------------------------------------------------------
// Figures. A subplot's figure is the word offset of its figure item from the
// head, or kFigureNone, kFigureMissing ("???"), kFigureNoFigure.

constexpr int32_t kFigureNone = -3;
constexpr int32_t kFigureMissing = -2;
constexpr int32_t kFigureNoFigure = -1;
constexpr int32_t kNoHandler = -2;
enum HandlerSlot : int {
  kSlotDraw,
  kSlotMouseDown,
  kSlotMouseDrag,
  kSlotFallbackDrag,
  kSlotMouseUp,
  kSlotDoubleClick,
  kSlotMouseOver,
  kSlotMouseOut,
  kSlotMouseScroll,
  kSlotDragIn,
  kSlotDragOut,
  kHandlerSlotCount
};
struct FigureHandlers {
  int32_t slot[kHandlerSlotCount];  // word offsets of handler payloads from the head, or kNoHandler
  bool mouseOverForElement;
};

[[nodiscard]] StatusCode ResolveFigureHandlers(RuntimeBlock* block, int32_t instance, int32_t figure, int32_t element,
                                               FigureHandlers* handlers);
bool FigureHasMouseHandlers(RuntimeBlock* block, int32_t instance, int32_t figure);
[[nodiscard]] StatusCode SetSubplotFigure(RuntimeBlock* block, int32_t instance, int32_t row, int32_t column,
                                          int32_t figure, bool force);
void ClearAllSubplotFigures(RuntimeBlock* block, int32_t instance);
int32_t GetSubplotFigure(RuntimeBlock* block, int32_t instance, int32_t row, int32_t column);
// False when the subplot shows no figure with a draw handler.
bool GetSubplotFigureTitle(RuntimeBlock* block, int32_t instance, int32_t row, int32_t column, const char** text,
                           int32_t* length);

// Display lists of instances.
bool FindSectionMarker(RuntimeBlock* block, int32_t instance, int32_t n, int32_t* position);
void FreeInstanceDisplayList(RuntimeBlock* block, int32_t instance);

// ---------------------------------------------------------------------------
// The display list being written: the instance's block of the store, open
// between OpenDisplayList and CloseDisplayList (no other store operation in
// between), described by the header's current list.

// fresh: the instance's block is freed and the largest free block becomes the
// list, empty; otherwise the existing block is opened for appending.
void OpenDisplayList(RuntimeBlock* block, int32_t instance, bool fresh);
void SetCurrentSubplot(RuntimeBlock* block, int32_t index);
void CloseDisplayList(RuntimeBlock* block);

// ---------------------------------------------------------------------------
// Handler calls. A handler payload {function; n inputs; n outputs; output
// ids; input ids} is named by its word offset from the instance's head.

// Special variable ids of handler inputs and outputs.
enum SpecialId : int32_t {
  kSpecialZ = 2,
  kSpecialX = 5,
  kSpecialTheta = 11,
  kSpecialRho = 14,
  kSpecialP0 = 17,
  kSpecialP1 = 18,
  kSpecialKx = 19,
  kSpecialKy = 20,
  kSpecialKz = 21,
  kSpecialDx = 22,
  kSpecialDy = 23,
  kSpecialDz = 24,
  kSpecialQ = 25,
  kSpecialM = 26,
  kSpecialAction = 27,
  kSpecialId = 28,
  kSpecialNb = 29,
  kSpecialIx = 30,
  kSpecialParam = 31,
  kSpecialKey = 32,
  kSpecialFd = 33,
  kSpecialWidth = 34,
  kSpecialHeight = 35,
  kSpecialXdata = 36,
  kSpecialXdatatype = 37,
  kSpecialMsg = 38,
  kSpecialCursor = 39,
  kSpecialIdleRate = 40,
  kSpecialIdleAmount = 41,
  kSpecialPpl = 101,
};
// Event kinds of handler calls besides the item kinds.
constexpr int32_t kEventMake = 16;
constexpr int32_t kEventMouseDrag = 27;
// Runtime statuses of handler calls.
constexpr StatusCode kCancelled = 402;
constexpr StatusCode kCircularMake = 10007;

// The handler's text buffer (_xdata, _xdatatype) and message buffer (_msg).
struct HandlerTexts {
  int32_t link = -1;
  char* text = nullptr;
  int32_t textSize = 0;
  int32_t* textLength = nullptr;
  char* message = nullptr;
  int32_t messageSize = 0;
  int32_t* messageLength = nullptr;  // null: the message ends with a NUL
};

// back: inputs (and in a nested call outputs) in the state before the
// current one; retry: grow the block and run again on a grow-and-retry
// status; nested: inside another handler call (no busy flag, no status
// reports, no make handlers). 402 when another top-level call runs.
[[nodiscard]] StatusCode CallApplicationHandler(RuntimeBlock** pp, int32_t instance, int32_t payload, bool back,
                                                bool retry, bool nested, int32_t subplot, int32_t eventKind,
                                                bool eventData, int32_t key, int32_t fd, HandlerTexts* texts);
[[nodiscard]] StatusCode PushHandlerSpecialValue(RuntimeBlock* block, int32_t instance, int32_t id, bool back);
[[nodiscard]] StatusCode PushHandlerInput(RuntimeBlock* block, int32_t instance, bool back, int32_t id);
// The top value into the variable; the caller pops it.
[[nodiscard]] StatusCode StoreHandlerOutput(RuntimeBlock* block, int32_t instance, bool back, int32_t id);
[[nodiscard]] StatusCode PushXdataInput(RuntimeBlock* block, int32_t id, const char* text, int32_t length);
[[nodiscard]] StatusCode PushSubplotParameter(RuntimeBlock* block, int32_t instance, int32_t subplot, bool back);
// Element subplot + 1 of the _ppl list := the top value, which is popped.
[[nodiscard]] StatusCode StoreSubplotParameter(RuntimeBlock* block, int32_t instance, int32_t subplot);

// Make handlers: variables whose values a make handler computes on demand.
[[nodiscard]] StatusCode RunPendingMakeHandlers(RuntimeBlock** pp, int32_t instance, int32_t payload, bool back,
                                                bool retry);
// payload -1: every variable of the set. True when something was marked.
bool MarkVariablesToMake(RuntimeBlock* block, int32_t instance, int32_t payload, bool back);
void UndefineDependents(RuntimeBlock* block, int32_t instance, int32_t payload);

// A static text of at most 255 bytes, good until the next call; the block
// may be null for statuses below 10000.
const char* FormatRuntimeErrorText(RuntimeBlock* block, StatusCode status);
// Lets the interpreter threads and posted calls run on.
[[nodiscard]] StatusCode RunInterpreterSlice(RuntimeBlock* block);
// cancel(), cancel(b): stops the handler with 402; cancel(false) makes the
// call a success that stores no outputs.
[[nodiscard]] StatusCode CancelNative(EngineContext* ctx, int nargin, int nargout, void* userData);
