// Instance records: creation, reset of their state and deletion in region 1,
// the title, version and help texts, and the placing of subplots in the
// layout box, in a grid or by each subplot's springs.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "markup/markup.h"
#include "runtime/runtime.h"

const SpecialVariableRecord kSpecialVariables[47] = {
    {2, "_z"},    {3, "_z0"},      {4, "_z1"},        {5, "_x"},           {6, "_x0"},      {7, "_x1"},
    {8, "_y"},    {9, "_y0"},      {10, "_y1"},       {11, "_theta"},      {12, "_theta0"}, {13, "_theta1"},
    {14, "_rho"}, {15, "_rho0"},   {16, "_rho1"},     {17, "_p0"},         {18, "_p1"},     {19, "_kx"},
    {20, "_ky"},  {21, "_kz"},     {22, "_dx"},       {23, "_dy"},         {24, "_dz"},     {25, "_q"},
    {28, "_id"},  {29, "_nb"},     {30, "_ix"},       {26, "_m"},          {27, "_action"}, {31, "_param"},
    {32, "_key"}, {33, "_fd"},     {34, "_width"},    {35, "_height"},     {36, "_xdata"},  {37, "_xdatatype"},
    {38, "_msg"}, {39, "_cursor"}, {40, "_idlerate"}, {41, "_idleamount"}, {100, "_pl"},    {101, "_ppl"},
    {102, "_3d"}, {103, "_title"}, {104, "_version"}, {105, "_help"},      {-1, ""},
};

namespace {

constexpr int32_t kSavedStateFirst = 100;
constexpr int32_t kSavedStateLast = 105;

void ClearSubplot(SubplotRecord* s) {
  InitSubplotRecord(s);
  s->figureShown = kFigureNone;
  std::fill(s->handlerSlots, s->handlerSlots + kHandlerSlotCount, kNoHandler);
}

// The values of a new record; the caller sets the id.
void FillNewRecord(const RuntimeBlock* b, InstanceRecord* r, uint8_t builtIn) {
  const int32_t id = r->id;
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  r->id = id;
  r->builtIn = builtIn;
  r->sandbox = b->defaultSandbox;
  r->idleAllowed = 1;
  r->nextIdleTime = r->lastIdleTime = -1.0;
  r->frameStyles[0] = PlotStyle{0, 0, 0, 0, 0};
  r->frameStyles[1] = PlotStyle{39, 0, 0, 0, 0};
  r->frameStyles[2] = b->defaultStyles[0];
  r->frameStyles[3] = b->defaultStyles[1];
  r->frameStyles[4] = PlotStyle{0, 0, 0, 0, 0};
  r->frameStyles[5] = PlotStyle{4, 0, 0, 0, 0};
  r->maxSubplots = kMaxSubplots;
  r->rows = r->columns = 1;
  const double box[4] = {0, 1, 0, 1};
  std::memcpy(r->box, box, sizeof box);
  r->pointerSubplot = -1;
  r->editSubplot = -1;
  for (SubplotRecord& s : r->subplots) ClearSubplot(&s);
  r->menuStale = 1;
  r->language = -2;
}

int32_t TextVariable(char kind) {
  switch (kind) {
    case 't':
      return kVarTitle;
    case 'v':
      return kVarVersion;
    case 'h':
      return kVarHelp;
    default:
      return 0;
  }
}
int32_t TextItemKind(char kind) { return kind == 't' ? kItemTitle : kind == 'v' ? kItemVersion : kItemHelp; }

// Pushes the instance's text and encodes it to bytes, leaving the bytes' value
// on the stack: 10040 for an empty text.
StatusCode PushTextBytes(RuntimeBlock* b, int32_t instance, char kind, const char** text, int32_t* length) {
  EngineContext* ctx = RuntimeEngine(b);
  if (StatusCode st = PushInstanceText(b, instance, kind, false); st != kOk) return st;
  uint8_t* bytes = nullptr;
  int64_t n = 0;
  if (StatusCode st = EncodeCharArg(ctx, 0, false, &bytes, &n); st != kOk) {
    (void)DropArgsUnderResults(ctx, 1, 0);
    return ReportedStatus(st);
  }
  if (n <= 0) {
    (void)DropArgsUnderResults(ctx, 1, 0);
    return kUndefElement;
  }
  *text = reinterpret_cast<const char*>(bytes);
  *length = static_cast<int32_t>(n);
  return kOk;
}

// The text converted from markup into the free data space above the pushed
// bytes; the raw bytes when the conversion fails. Either way the value is
// dropped, so the result lies in free data space.
StatusCode ConvertedText(RuntimeBlock* b, int32_t instance, char kind, char format, int fontSize, const char** text,
                         int32_t* length) {
  EngineContext* ctx = RuntimeEngine(b);
  if (StatusCode st = PushTextBytes(b, instance, kind, text, length); st != kOk) return st;
  if (format != 'n') {
    const MarkupFormat* f = format == 'r'   ? &kMarkupFormats[kRtfFormat]
                            : format == 'h' ? &kMarkupFormats[kHtmlFormat]
                            : kind == 'h'   ? &kMarkupFormats[kPlainTextFormat]
                                            : &kMarkupFormats[kCompactTextFormat];
    const char* eol = b->lineEndStyle == 0 ? "\r" : b->lineEndStyle == 1 ? "\n" : "\r\n";
    int64_t room = 0;
    Cell* space = nullptr;
    (void)GetFreeDataSpace(ctx, &room, &space);
    room = std::min<int64_t>(room, INT32_MAX);
    const char* out = nullptr;
    int outLength = 0;
    if (room > 0 && ConvertMarkup(*text, *length, reinterpret_cast<char*>(space), static_cast<int>(room), 0, eol, f,
                                  fontSize, &out, &outLength, nullptr) == kMarkupOk) {
      *text = out;
      *length = outLength;
    }
  }
  (void)DropArgsUnderResults(ctx, 1, 0);
  return kOk;
}

// Spring shares of a change shared among the segments before a subplot, the
// subplot and after it: f0 moves the near edge, f1 the far edge.
void SpringShares(const double length[3], const double spring[3], double* f0, double* f1) {
  double k[3];
  for (int i = 0; i < 3; ++i) k[i] = spring[i] > 1 ? 1 : spring[i] > 0 ? spring[i] : 0;  // NaN: 0
  // A spring of 0 has infinite compliance: the infinite segments share the change.
  const int zeros = (k[0] == 0) + (k[1] == 0) + (k[2] == 0);
  if (zeros > 0) {
    *f0 = k[0] == 0 ? 1.0 / zeros : 0.0;
    *f1 = *f0 + (k[1] == 0 ? 1.0 / zeros : 0.0);
    return;
  }
  double c[3];
  for (int i = 0; i < 3; ++i) c[i] = length[i] * (1 - k[i]) / k[i];
  const double sum = c[0] + c[1] + c[2];
  if (sum == 0) {
    // Nothing yields: the near edge stays and the far edge takes the change.
    *f0 = 0;
    *f1 = 1;
    return;
  }
  *f0 = c[0] / sum;
  *f1 = (c[0] + c[1]) / sum;
}

// One axis: lo and hi are the subplot's near and far edges as seen from the
// origin; springs in the same order (before, size, after).
void SpringAxis(double oldOrigin, double oldExtent, double newOrigin, double newExtent, const double spring[3],
                double* lo, double* hi) {
  const double length[3] = {*lo - oldOrigin, *hi - *lo, oldOrigin + oldExtent - *hi};
  double f0 = 0;
  double f1 = 1;
  SpringShares(length, spring, &f0, &f1);
  const double change = newExtent - oldExtent;
  *lo = newOrigin + length[0] + f0 * change;
  *hi = newOrigin + length[0] + length[1] + f1 * change;
}

}  // namespace

InstanceRecord* InstanceRecordAt(RuntimeBlock* block, int32_t index) {
  return reinterpret_cast<InstanceRecord*>(RuntimeRegion(block, 1) + block->regionSize[1] -
                                           int64_t{kInstanceRecordBytes} * (index + 1));
}

InstanceRecord* FindInstanceRecord(RuntimeBlock* block, int32_t instance) {
  for (int32_t i = 0; i < block->instanceCount; ++i)
    if (InstanceRecord* r = InstanceRecordAt(block, i); r->id == instance) return r;
  return nullptr;
}

StatusCode AddInstanceVariableSet(RuntimeBlock* block, int32_t instance) {
  VariableStore* store = RuntimeVariableStore(block);
  if (StatusCode st = AddVariableSet(store, instance); st != kOk) return st;
  for (int32_t id = kSavedStateFirst; id <= kSavedStateLast; ++id) {
    if (StatusCode st = AddVariableToSet(store, instance, id, 0); st != kOk) {
      (void)DeleteVariableSet(store, instance);
      return st;
    }
  }
  return kOk;
}

StatusCode CreateInstance(RuntimeBlock* block, int32_t* out) {
  if (out == nullptr) {
    FreeInstanceDisplayList(block, 0);
    (void)DeleteVariableSet(RuntimeVariableStore(block), 0);
  }
  if (StatusCode st = ResizeBlockStore(RuntimeBlockStore(block), BlockStoreDoubles(block, block->instanceCount + 1));
      st != kOk)
    return st;
  const int32_t id = out != nullptr ? block->nextInstanceId : 0;
  if (StatusCode st = AddInstanceVariableSet(block, id); st != kOk) return st;
  InstanceRecord* r = nullptr;
  if (out != nullptr) {
    *out = id;
    ++block->nextInstanceId;
    ++block->instanceCount;
    r = InstanceRecordAt(block, block->instanceCount - 1);
  } else {
    r = InstanceRecordAt(block, 0);
  }
  r->id = id;
  FillNewRecord(block, r, 0);
  InitInstanceState(block, id, true);
  return kOk;
}

void InitDefaultInstance(RuntimeBlock* block) {
  InstanceRecord* r = InstanceRecordAt(block, 0);
  r->id = 0;
  FillNewRecord(block, r, 1);
  r->frameStyles[2] = r->frameStyles[3] = PlotStyle{256, 0xCC, 0xCC, 0xCC, 0};
  block->instanceCount = 1;
}

void InitInstanceState(RuntimeBlock* block, int32_t instance, bool resetBox) {
  InstanceRecord* r = FindInstanceRecord(block, instance);
  if (r == nullptr) return;
  r->rows = r->columns = 1;
  r->freeLayout = 0;
  if (resetBox) {
    const double box[4] = {0, 1, 0, 1};
    std::memcpy(r->box, box, sizeof box);
  }
  r->pointerSubplot = -1;
  r->editSubplot = -1;
  SubplotRecord& s = r->subplots[0];
  s.figureShown = -1;
  std::fill(s.handlerSlots, s.handlerSlots + kHandlerSlotCount, -1);
  block->layoutWord = 0;
  InitSubplotRecord(&s);
  // No figure resolves no function, so this cannot fail.
  (void)SetSubplotFigure(block, instance, 0, 0, kFigureNone, true);
}

void DeleteInstanceRecord(RuntimeBlock* block, int32_t instance) {
  (void)DeleteVariableSet(RuntimeVariableStore(block), instance);
  FreeInstanceDisplayList(block, instance);
  if (instance == 0) return;
  int32_t i = 0;
  while (i < block->instanceCount && InstanceRecordAt(block, i)->id != instance) ++i;
  if (i == block->instanceCount) return;
  for (int32_t j = i + 1; j < block->instanceCount; ++j)
    std::memmove(static_cast<void*>(InstanceRecordAt(block, j - 1)), InstanceRecordAt(block, j), kInstanceRecordBytes);
  --block->instanceCount;
  // Growing into the freed record cannot fail.
  (void)ResizeBlockStore(RuntimeBlockStore(block), BlockStoreDoubles(block, block->instanceCount));
}

void MoveInstanceRecords(uint8_t* newEnd, uint8_t* oldEnd, int32_t count) {
  if (count <= 0 || newEnd == oldEnd) return;
  const int64_t bytes = int64_t{kInstanceRecordBytes} * count;
  // The two runs overlap whenever the end moves by less than their length.
  std::memmove(newEnd - bytes, oldEnd - bytes, static_cast<size_t>(bytes));
}

// ---------------------------------------------------------------------------
// Texts.

StatusCode PushInstanceText(RuntimeBlock* block, int32_t instance, char kind, bool variableOnly) {
  const int32_t var = TextVariable(kind);
  if (var == 0) return kIllegal;
  if (FindInstanceRecord(block, instance) == nullptr) return kNonexistentInstance;
  EngineContext* ctx = RuntimeEngine(block);
  int32_t cells = 0;
  const double* data = nullptr;
  if (ReadVariable(RuntimeVariableStore(block), instance, 0, var, &cells, &data) == kOk && cells > 0 &&
      data != nullptr) {
    if (StatusCode st = PushCopiedValue(ctx, data); st != kOk) return st;
    int ndims = 0;
    int32_t dims[kMaxDims];
    int64_t count = 0;
    if (IsCharArg(ctx, 0) && GetArgDims(ctx, 0, &ndims, dims, &count) == kOk && count > 0) return kOk;
    (void)DropArgsUnderResults(ctx, 1, 0);
  }
  if (variableOnly) return kUndefElement;
  const int32_t* payload = nullptr;
  int32_t bytes = 0;
  if (StatusCode st = FindInstanceItem(block, instance, TextItemKind(kind), &payload, &bytes); st != kOk) return st;
  return PushStringFromUtf8(ctx, bytes, reinterpret_cast<const char*>(payload));
}

StatusCode SetInstanceText(RuntimeBlock* block, int32_t instance, char kind, const char* text, int32_t length) {
  const int32_t var = TextVariable(kind);
  if (var == 0) return kIllegal;
  if (FindInstanceRecord(block, instance) == nullptr) return kNonexistentInstance;
  EngineContext* ctx = RuntimeEngine(block);
  StatusCode st = text != nullptr ? PushStringFromUtf8(ctx, length, text) : PushEmptyMatrix(ctx);
  if (st != kOk) return st;
  int64_t size = 0;
  (void)GetValueSize(ctx, 0, &size);
  double* data = nullptr;
  st = WriteVariable(RuntimeVariableStore(block), instance, -1, var, static_cast<int32_t>(size), &data);
  if (st == kOk && data != nullptr) (void)CopyValueOut(ctx, 0, data);
  (void)DropArgsUnderResults(ctx, 1, 0);
  return st;
}

StatusCode GetInstanceTitle(RuntimeBlock* block, int32_t instance, const char** text, int32_t* length) {
  return ConvertedText(block, instance, 't', 'n', 0, text, length);
}
StatusCode GetInstanceVersionText(RuntimeBlock* block, int32_t instance, char format, int fontSize, const char** text,
                                  int32_t* length) {
  return ConvertedText(block, instance, 'v', format, fontSize, text, length);
}
StatusCode GetInstanceHelpText(RuntimeBlock* block, int32_t instance, char format, int fontSize, const char** text,
                               int32_t* length) {
  return ConvertedText(block, instance, 'h', format, fontSize, text, length);
}

// ---------------------------------------------------------------------------
// Layout.

void ApplyLayoutToSubplots(InstanceRecord* r) {
  const int32_t n = std::clamp(r->rows * r->columns, 0, kMaxSubplots);
  if (r->freeLayout != 0) {
    for (int32_t k = 0; k < n; ++k) {
      SubplotRecord* s = &r->subplots[k];
      SetSubplotPixelRect(s, s->subplotRect[0], s->subplotRect[1], s->subplotRect[2], s->subplotRect[3]);
    }
    return;
  }
  if (r->columns <= 0 || r->rows <= 0) return;
  const double x0 = r->box[0], x1 = r->box[1], y0 = r->box[2], y1 = r->box[3];
  const double w = (x1 - x0) / r->columns;
  const double h = std::fabs(y0 - y1) / r->rows;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t i = k / r->columns;
    const int32_t j = k % r->columns;
    const double left = x0 + j * w;
    if (y0 > y1)
      SetSubplotPixelRect(&r->subplots[k], left, left + w, y0 - i * h, y0 - i * h - h);
    else
      SetSubplotPixelRect(&r->subplots[k], left, left + w, y0 + i * h, y0 + i * h + h);
  }
}

void ResizeFreeLayout(InstanceRecord* r, const double oldBox[4], bool yUp) {
  if (r->freeLayout == 0) return;
  const double oldWidth = oldBox[1] - oldBox[0];
  const double oldHeight = std::fabs(oldBox[2] - oldBox[3]);
  const double newWidth = r->box[1] - r->box[0];
  const double newHeight = std::fabs(r->box[2] - r->box[3]);
  if (newWidth == oldWidth && newHeight == oldHeight) return;
  const int32_t n = std::clamp(r->rows * r->columns, 0, kMaxSubplots);
  for (int32_t k = 0; k < n; ++k) {
    double* rect = r->subplots[k].subplotRect;
    const double* spring = r->springs[k];
    SpringAxis(oldBox[0], oldWidth, r->box[0], newWidth, spring, &rect[0], &rect[1]);
    if (yUp) {
      // Measured from the bottom edge: the margin after comes first.
      const double reversed[3] = {spring[5], spring[4], spring[3]};
      SpringAxis(oldBox[3], oldHeight, r->box[3], newHeight, reversed, &rect[3], &rect[2]);
    } else {
      SpringAxis(oldBox[2], oldHeight, r->box[2], newHeight, spring + 3, &rect[2], &rect[3]);
    }
  }
}

StatusCode SetInstanceViewArea(RuntimeBlock** block, int32_t instance, double x0, double x1, double y0, double y1) {
  RuntimeBlock* b = *block;
  InstanceRecord* r = FindInstanceRecord(b, instance);
  if (r == nullptr) return kNonexistentInstance;
  double old[4];
  std::memcpy(old, r->box, sizeof old);
  r->box[0] = x0;
  r->box[1] = x1;
  r->box[2] = y0;
  r->box[3] = y1;
  ResizeFreeLayout(r, old, b->device != nullptr && b->device->yUp != 0);
  ApplyLayoutToSubplots(r);
  return kOk;
}

// ---------------------------------------------------------------------------
// Display lists.

bool FindSectionMarker(RuntimeBlock* block, int32_t instance, int32_t n, int32_t* position) {
  double* list = nullptr;
  int32_t length = 0;
  if (!FindBlock(RuntimeBlockStore(block), instance, &list, &length)) return false;
  return FindSectionInList(list, length, n, position);
}

void FreeInstanceDisplayList(RuntimeBlock* block, int32_t instance) { FreeBlock(RuntimeBlockStore(block), instance); }

// ---------------------------------------------------------------------------
// Reset and deletion: the init handlers start an application, the terminate
// handlers end it.

namespace {

// Runs every handler of the kind in block order as its event; the end of the
// items is success.
StatusCode RunHandlersOfKind(RuntimeBlock** pp, int32_t instance, int32_t kind) {
  int32_t head = 0;
  if (StatusCode st = FindInstanceCodeBlock(*pp, instance, &head); st != kOk) return st;
  int32_t p = -1;
  while (FindNextCodeItem(*pp, instance, &p, kind) == kOk) {
    // Positions stay valid across a growth: region 2 keeps its words in place.
    if (StatusCode st =
            CallApplicationHandler(pp, instance, p + 2 - head, false, true, false, -1, kind, false, 0, 1, nullptr);
        st != kOk)
      return st;
  }
  return kOk;
}

bool HasItem(RuntimeBlock* block, int32_t instance, int32_t kind) {
  int32_t p = -1;
  return FindNextCodeItem(block, instance, &p, kind) == kOk;
}

}  // namespace

StatusCode RunTerminateHandlers(RuntimeBlock** pp, int32_t instance, InstanceRecord* record) {
  if (record == nullptr || !record->started) return kOk;
  record->started = 0;
  record->idleState = 0;
  return RunHandlersOfKind(pp, instance, kItemTerminate);
}

StatusCode ResetInstance(RuntimeBlock** pp, int32_t instance) {
  RuntimeBlock* b = *pp;
  InstanceRecord* r = FindInstanceRecord(b, instance);
  if (r == nullptr) return kNonexistentInstance;
  int32_t plain = instance;
  if (IsPlainCodeInstance(b, &plain)) {
    r->firstRun = 1;
    InitInstanceState(b, instance, false);
    return kOk;
  }
  int32_t head = 0;
  if (StatusCode st = FindInstanceCodeBlock(b, instance, &head); st != kOk) return st;
  r->nextIdleTime = r->lastIdleTime = -1.0;
  r->idleState = 1;
  (void)RunTerminateHandlers(pp, instance, r);
  b = *pp;
  r = FindInstanceRecord(b, instance);
  r->selection = 0;
  StatusCode st = ResetVariableSetHistory(RuntimeVariableStore(b), instance);
  InitInstanceState(b, instance, false);
  if (st == kOk) {
    int32_t p = -1;
    if (FindNextCodeItem(b, instance, &p, kItemFigure) == kOk) st = SetSubplotFigure(b, instance, 0, 0, p - head, true);
    p = -1;
    if (st == kOk && FindNextCodeItem(b, instance, &p, kItemOptions) == kOk)
      r->optionBits = static_cast<uint32_t>(RuntimeCodeWords(b)[p + 2]);
  }
  if (st == kOk) st = RunHandlersOfKind(pp, instance, kItemInit);
  b = *pp;
  r = FindInstanceRecord(b, instance);
  FreeInstanceDisplayList(b, instance);
  r->idleMode = 0;
  if (st != kOk) {
    r->idleState = 0;
    return st;
  }
  r->started = 1;
  r->idleState = HasItem(b, instance, kItemIdle) ? 2 : 0;
  return kOk;
}

StatusCode DeleteInstance(RuntimeBlock** pp, int32_t instance) {
  InstanceRecord* r = FindInstanceRecord(*pp, instance);
  if (r == nullptr) return kNonexistentInstance;
  const StatusCode st = RunTerminateHandlers(pp, instance, r);
  (void)RemoveInstanceCodeBlock(*pp, instance);
  DeleteInstanceRecord(*pp, instance);
  return st;
}
