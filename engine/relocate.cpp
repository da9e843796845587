// Moving and growing the host's block (address fields made relative and
// rebuilt, regions repartitioned and their contents moved) and reading a saved
// engine state, which is outside input and checked before anything runs it.
#include "engine/relocate.h"

#include <algorithm>
#include <cstring>

#include "engine/context.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "engine/heldpositions.h"
#include "engine/registry.h"
#include "engine/threads.h"

namespace {

// ---------------------------------------------------------------------------
// Address fields.

template <class T>
void AddToAddress(T*& field, intptr_t delta) {
  if (field != nullptr) field = reinterpret_cast<T*>(reinterpret_cast<intptr_t>(field) + delta);
}

void AddToAddressFields(EngineContext* ctx, intptr_t delta) {
  AddToAddress(ctx->descBase, delta);
  AddToAddress(ctx->dataBase, delta);
  AddToAddress(ctx->libraries, delta);
  AddToAddress(ctx->namedItems, delta);
  AddToAddress(ctx->heapBase, delta);
  AddToAddress(ctx->codeBase, delta);
}

// ---------------------------------------------------------------------------
// Code positions: those held by frames and threads are in
// engine/heldpositions.h.

// Function code and library use lists live in the code area; a variable's
// third word is a heap index.
bool HoldsCode(const FunctionStoreEntry* e) { return e->kind != kEntryVariable && e->position > 0; }

FunctionStoreEntry* Entry(EngineContext* ctx, int32_t i) {
  return reinterpret_cast<FunctionStoreEntry*>(FunctionEntryWords(ctx, i));
}

// ---------------------------------------------------------------------------
// Repartition.

struct NewLayout {
  int64_t data, heap, desc, code, entries;
};

// The sizes of the choice, or false when any region would shrink.
bool ChooseSizes(const EngineContext* ctx, int64_t newSize, int32_t choice, NewLayout* out) {
  const int64_t r = newSize - static_cast<int64_t>(kContextHeaderBytes);
  const int64_t lists = DataStackOffset(ctx->libraryCount, ctx->namedItemCount);
  int64_t d = ctx->dataCapacity, h = ctx->heapSize, s = ctx->descCapacity, c = ctx->codeSize;
  switch (choice) {
    case kDescStackFull:
    case kDescStackFullToo:
      s = (r - lists - 2 * c - 8 * (h + d)) / 4;
      break;
    case kDataStackFull:
    case kDataStackFullToo:
      d = (r - lists - 4 * s - 8 * h - 2 * c) / 8;
      break;
    case kHeapFull:
      h = (r - lists - 4 * s - 8 * d - 2 * c) / 8;
      break;
    case kCodeOverflow:
      c = (r - lists - 4 * s - 8 * (h + d)) / 2;
      break;
    default: {
      // A fresh engine's layout; the lists come out of the data stack, as
      // when the libraries were installed into it.
      const RegionSizes fresh = PartitionRegions(r);
      d = fresh.dataCells - lists / 8;
      h = fresh.heapCells;
      s = fresh.descWords;
      c = fresh.codeWords;
      break;
    }
  }
  if (d < ctx->dataCapacity || h < ctx->heapSize || s < ctx->descCapacity || c < ctx->codeSize) return false;
  if (h > kHeapCountMask) return false;

  // A larger table moves the code up; when the code would then reach the
  // symbols the table keeps its capacity.
  int64_t e = std::max<int64_t>(EntryCapacityFor(c), ctx->entryCapacity);
  const int64_t top = ctx->codeTop + kEntryWords * (e - ctx->entryCapacity);
  if (2 * top + (-int64_t{ctx->symbolBytes}) > 2 * (c - 1)) e = ctx->entryCapacity;
  *out = NewLayout{d, h, s, c, e};
  return true;
}

// With the main thread's registers loaded: they name the regions.
void Repartition(EngineContext* ctx, const NewLayout& n) {
  const int32_t shift = static_cast<int32_t>(kEntryWords * (n.entries - ctx->entryCapacity));
  // Positions are shifted where they lie now, before anything moves.
  if (shift != 0) ShiftCodeAreaPositions(ctx, shift);

  uint8_t* data = RegionStart(ctx) + DataStackOffset(ctx->libraryCount, ctx->namedItemCount);
  auto* heap = reinterpret_cast<Cell*>(data) + n.data;
  auto* desc = reinterpret_cast<int32_t*>(heap + n.heap);
  auto* code = reinterpret_cast<int16_t*>(desc + n.desc);

  // Every region moves up or stays, so moving the highest first never
  // overwrites what has yet to move.
  const int32_t symbols = -ctx->symbolBytes;
  const int32_t oldTable = kEntryWords * ctx->entryCapacity;
  const int32_t newTable = static_cast<int32_t>(kEntryWords * n.entries);
  std::memmove(reinterpret_cast<uint8_t*>(code + n.code) - symbols,
               reinterpret_cast<uint8_t*>(ctx->codeBase + ctx->codeSize) - symbols, static_cast<size_t>(symbols));
  std::memmove(code + newTable, ctx->codeBase + oldTable,
               sizeof(int16_t) * static_cast<size_t>(ctx->codeTop - oldTable));
  std::memmove(code, ctx->codeBase, sizeof(int16_t) * static_cast<size_t>(oldTable));
  std::memset(code + oldTable, 0, sizeof(int16_t) * static_cast<size_t>(newTable - oldTable));
  std::memmove(desc, ctx->descBase, sizeof(int32_t) * static_cast<size_t>(ctx->descLength));
  MoveHeapRegion(ctx->heapBase, HeapCellsInUse(ctx), heap, static_cast<int32_t>(n.heap));
  std::memmove(data, ctx->dataBase, sizeof(Cell) * static_cast<size_t>(ctx->dataTop));

  ctx->dataBase = reinterpret_cast<Cell*>(data);
  ctx->dataCapacity = static_cast<int32_t>(n.data);
  ctx->heapBase = heap;
  ctx->heapSize = static_cast<int32_t>(n.heap);
  ctx->heapFirstFree = 0;
  ValuesChanged(ctx);
  ctx->descBase = desc;
  ctx->descCapacity = static_cast<int32_t>(n.desc);
  ctx->codeBase = code;
  ctx->codeSize = static_cast<int32_t>(n.code);
  ctx->entryCapacity = static_cast<int32_t>(n.entries);
  ctx->codeTop += shift;

  RebaseThreadRecords(ctx);
}

// ---------------------------------------------------------------------------
// Reading an image.

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadU32(p)); }

bool ReadSection(EngineStateReader read, void* userData, void* to, int64_t bytes) {
  return bytes == 0 || read(to, static_cast<int32_t>(bytes), userData);
}

// After a load that failed part way: empty stacks, heap and store, so that a
// reset finds nothing it could trip over.
void EmptyState(EngineContext* ctx) {
  ctx->descLength = 0;
  ctx->frameIndex = -1;
  ForgetScopeFrame(ctx);
  ctx->dataTop = 0;
  ctx->pc = ProgramCounter{};
  ctx->heapBase[0].u = 0;
  ctx->heapBase[0].w[0] = static_cast<uint32_t>(ctx->heapSize - 1) & kHeapCountMask;
  ctx->heapFirstFree = 0;
  ValuesChanged(ctx);
  ctx->entriesInUse = 1;
  std::memset(ctx->codeBase, 0, kEntryWords * sizeof(int16_t));
  ctx->codeTop = kEntryWords * ctx->entryCapacity;
  ctx->symbolBytes = 0;
  ctx->currentThread = 0;
  ctx->threadListHead = 0;
  ctx->semaphoreTable = -1;
  ctx->semaphoreCapacity = 0;
}

// Error records, breakpoints and the profiler name heap blocks of the state
// that was replaced; none of them is part of an image.
void ForgetReplacedState(EngineContext* ctx) {
  (void)ClearError(ctx);
  ctx->lastErrorRecord = -1;
  ctx->currentErrorRecord = -1;
  ClearDebuggerState(ctx);
  ctx->breakpointFlag = 0;
  ctx->compileOutput = 0;
  ctx->running = 0;
}

// Checks of a loaded image. Code-area positions are checked against the
// words that hold code, before they are shifted behind the final table.
class ImageCheck {
 public:
  // Positions count from codeLow; the code itself lies shift words further.
  ImageCheck(EngineContext* ctx, int32_t codeLow, int32_t codeHigh, int32_t shift)
      : ctx_(ctx), low_(codeLow), high_(codeHigh), shift_(shift) {}

  bool Symbols() const {
    const uint8_t* end = reinterpret_cast<const uint8_t*>(ctx_->codeBase + ctx_->codeSize);
    int32_t at = ctx_->symbolBytes;
    while (at < 0) {
      if (end[at] == 0) return false;
      at += end[at] + 1;
    }
    return at == 0;
  }

  bool IsSymbol(int32_t id) const {
    if (id >= 0 || id < ctx_->symbolBytes) return false;
    const uint8_t* end = reinterpret_cast<const uint8_t*>(ctx_->codeBase + ctx_->codeSize);
    for (int32_t at = ctx_->symbolBytes; at < 0; at += end[at] + 1)
      if (at == id) return true;
    return false;
  }

  // The blocks must tile the cells in use exactly.
  bool Heap(int32_t used) const {
    int64_t at = 0;
    while (at < used) at += 1 + (ctx_->heapBase[at].w[0] & kHeapCountMask);
    return at == used;
  }

  // Whether index names a block in use; *cells receives its size.
  bool IsBlockInUse(int64_t index, int32_t* cells = nullptr) const {
    if (index <= 0 || index >= ctx_->heapSize) return false;
    int64_t at = 0;
    while (at + 1 < index) at += 1 + (ctx_->heapBase[at].w[0] & kHeapCountMask);
    if (at + 1 != index) return false;
    const uint32_t header = ctx_->heapBase[at].w[0];
    if (cells != nullptr) *cells = static_cast<int32_t>(header & kHeapCountMask);
    return (header & kHeapInUse) != 0;
  }

  // A library's use list: its header and slots inside the code, each slot
  // free or naming a library.
  bool UseList(int32_t position) const {
    if (position < low_ || position >= high_ - 1) return false;
    const int16_t* list = ctx_->codeBase + position + shift_;
    if (list[0] < 2 || list[1] < 0 || int64_t{position} + list[0] + list[1] > high_) return false;
    for (int32_t k = 0; k < list[1]; ++k) {
      const int16_t slot = list[list[0] + k];
      if (slot == -1) continue;
      if (slot < 0 || slot >= ctx_->entriesInUse || Entry(ctx_, slot)->kind != kEntryLibrary) return false;
    }
    return true;
  }

  // A compiled function's header: its counts and input numbers inside the code.
  bool FunctionHeader(int32_t position) const {
    if (position < low_ || int64_t{position} + 4 > high_) return false;
    const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(ctx_->codeBase + position + shift_);
    if (h->variables < 0 || h->inputs < 0 || h->outputs < 0 || h->inputs > h->variables) return false;
    if (int64_t{position} + HeaderWords(h) > high_) return false;
    const int16_t* inputs = InputVariables(h);
    for (int32_t k = 0; k < h->inputs; ++k)
      if (inputs[k] < 0 || inputs[k] >= h->variables) return false;
    return true;
  }

  bool Entries() const {
    const FunctionStoreEntry* base = Entry(ctx_, 0);
    if (base->kind != kEntryLibrary || base->name != 0 || base->qualifier != 0) return false;
    if (base->position > 0 && !UseList(base->position)) return false;
    for (int32_t i = 1; i < ctx_->entriesInUse; ++i) {
      const FunctionStoreEntry* e = Entry(ctx_, i);
      if (e->kind < 0) {
        const uint32_t library = static_cast<uint32_t>(e->name) & kLibraryIndexMask;
        if (!IsSymbol(e->kind) || library >= static_cast<uint32_t>(ctx_->entriesInUse)) return false;
        if (e->qualifier != 0 && !IsSymbol(e->qualifier)) return false;
      } else if (e->kind == kEntryLibrary || e->kind == kEntryVariable) {
        if (!IsSymbol(e->name)) return false;
      } else {
        return false;
      }
      if (e->position <= 0) continue;
      if (e->kind == kEntryVariable  ? !IsBlockInUse(e->position)
          : e->kind == kEntryLibrary ? !UseList(e->position)
                                     : !FunctionHeader(e->position))
        return false;
    }
    return true;
  }

  bool Position(int32_t space, int32_t offset, int64_t dataBytes) const {
    if (space == kNoCode) return true;
    if (offset < 0 || offset % 2 != 0) return false;
    switch (space) {
      case kCodeArea:
        return offset / 2 >= low_ && offset / 2 < high_;
      case kDataStackCode:
        return offset < dataBytes;
      case kHeapCode:
        return offset < 8 * int64_t{ctx_->heapSize};
      default:
        return false;
    }
  }

  // The values between two frames (or above the top one): whole descriptors
  // whose data adds up to no more than the data stack holds.
  static bool Values(const int32_t* stack, int64_t from, int64_t to, int64_t* cells) {
    if ((to - from) % 3 != 0) return false;
    for (int64_t at = from; at < to; at += 3) {
      if (stack[at + 1] < 0) return false;
      *cells += stack[at + 1];
    }
    return true;
  }

  // The frames of one thread's stacks, from its current frame down, and the
  // values above and between them.
  bool Frames(const int32_t* stack, int32_t length, int32_t frame, int32_t dataTop) const {
    const int64_t dataBytes = 8 * int64_t{dataTop};
    int64_t limit = length, cells = 0;
    while (frame != -1) {
      if (frame < 0 || frame + int64_t{kFrameHeaderWords} > limit) return false;
      const auto* f = reinterpret_cast<const CallFrame*>(stack + frame);
      if (f->variableCount < 0 || f->nameCapacity < 0 || f->variableCount > length || f->nameCapacity > length)
        return false;
      if (f->nameCapacity > 0 && f->variableCount > f->nameCapacity) return false;
      if (frame + int64_t{FrameExtent(f)} > limit) return false;
      if (!Values(stack, frame + FrameExtent(f), limit, &cells) || cells > dataTop) return false;
      const int32_t* slots = reinterpret_cast<const int32_t*>(f + 1);
      for (int32_t k = 0; k < FrameSlotCount(f); ++k)
        if (slots[k] > 0 && !IsBlockInUse(slots[k])) return false;
      if (f->callerSpace != kBaseFrameMark && !Position(f->callerSpace, f->callerOffset, dataBytes)) return false;
      if (!Position(f->catchSpace, f->catchOffset, dataBytes)) return false;
      if (!Position(f->suspendSpace, f->suspendOffset, dataBytes)) return false;
      if (f->nameTable > 0 && (f->nameTable < low_ || f->nameTable >= high_)) return false;
      if (f->nameTable < -1 && -int64_t{f->nameTable} >= dataBytes) return false;
      if (f->function < -2 || f->function >= ctx_->entriesInUse) return false;
      if (f->library < -1 || f->library >= ctx_->entriesInUse) return false;
      if (f->link <= 0) return Values(stack, 0, frame, &cells) && cells <= dataTop;
      if (f->link > frame) return false;
      limit = frame;
      frame -= f->link;
    }
    return Values(stack, 0, limit, &cells) && cells <= dataTop;
  }

  // The thread list: records in blocks of their own, no block twice.
  bool ThreadList() const {
    int32_t h = ctx_->threadListHead;
    for (int32_t n = 0; h != 0; ++n) {
      int32_t cells = 0;
      if (n > ctx_->heapSize / kThreadRecordCells || !IsBlockInUse(h, &cells) || cells < kThreadRecordCells)
        return false;
      // The stacks the scheduler places behind the record must fit the block:
      // the record, 8d bytes of clock state and data, the descriptor stack.
      const auto* r = reinterpret_cast<const ThreadRecord*>(ctx_->heapBase + h);
      if (r->descCapacity < 0 || r->dataCapacity < 0 || r->dataCapacity > r->descCapacity / 2) return false;
      const int64_t bytes =
          int64_t{sizeof(ThreadRecord)} + 8 * int64_t{r->descCapacity / 2} + 4 * int64_t{r->descCapacity};
      if (bytes > 8 * int64_t{cells}) return false;
      h = r->next;
    }
    return true;
  }

  // Each saved thread's stacks inside its own block, after the rebase.
  bool Threads() const {
    const int64_t heapOffset = reinterpret_cast<const char*>(ctx_->heapBase) - reinterpret_cast<const char*>(ctx_);
    for (int32_t h = ctx_->threadListHead; h != 0;) {
      const auto* r = reinterpret_cast<const ThreadRecord*>(ctx_->heapBase + h);
      int32_t cells = 0;
      IsBlockInUse(h, &cells);
      const int64_t from = heapOffset + 8 * int64_t{h}, to = from + 8 * int64_t{cells};
      if (r->descCapacity < 0 || r->dataCapacity < 0 || r->descBase % 4 != 0 || r->dataBase % 8 != 0) return false;
      if (r->descBase < from || r->descBase + 4 * int64_t{r->descCapacity} > to) return false;
      if (r->dataBase < from || r->dataBase + 8 * int64_t{r->dataCapacity} > to) return false;
      if (r->descLength < 0 || r->descLength > r->descCapacity || r->dataTop < 0 || r->dataTop > r->dataCapacity)
        return false;
      if (r->priority < kLowestPriority || r->priority > kHighestPriority) return false;
      if (!Position(static_cast<int32_t>(r->pcSpace), r->pcOffset, 8 * int64_t{r->dataTop})) return false;
      const auto* stack = reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(ctx_) + r->descBase);
      if (!Frames(stack, r->descLength, r->frameIndex, r->dataTop)) return false;
      h = r->next;
    }
    return true;
  }

  bool Semaphores() const {
    if (ctx_->semaphoreTable == -1) return ctx_->semaphoreCapacity == 0;
    int32_t cells = 0;
    return IsBlockInUse(ctx_->semaphoreTable, &cells) && ctx_->semaphoreCapacity >= 0 &&
           ctx_->semaphoreCapacity <= cells;
  }

 private:
  EngineContext* ctx_;
  int32_t low_, high_, shift_;
};

// Everything the sections and the header name, checked before any of it is
// used; threads are rebased on the way. Code positions then move behind the
// final table.
bool AcceptImage(EngineContext* ctx, int32_t usedHeap, int32_t savedTable) {
  const int32_t shift = kEntryWords * ctx->entryCapacity - savedTable;
  const ImageCheck check(ctx, savedTable, ctx->codeTop - shift, shift);
  if (!check.Symbols() || !check.Heap(usedHeap) || !check.Entries() || !check.Semaphores()) return false;
  if (!check.Position(static_cast<int32_t>(ctx->pc.space), ctx->pc.offset, 8 * int64_t{ctx->dataTop})) return false;
  if (!check.Frames(ctx->descBase, ctx->descLength, ctx->frameIndex, ctx->dataTop)) return false;
  if (!check.ThreadList()) return false;
  RebaseThreadRecords(ctx);
  if (!check.Threads()) return false;
  ShiftCodeAreaPositions(ctx, shift);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

void ShiftCodeAreaPositions(EngineContext* ctx, int32_t delta) {
  // Entry 0 is the base library's: its third word may hold a use list.
  for (int32_t i = 0; i < ctx->entriesInUse; ++i)
    if (FunctionStoreEntry* e = Entry(ctx, i); HoldsCode(e)) e->position += delta;
  if (ctx->pc.space == kCodeArea) ctx->pc.offset += 2 * delta;
  if (ctx->compileOutput > 0) ctx->compileOutput += delta;
  ForEachHeldPosition(ctx, [delta](int32_t* value, int perWord) { *value += delta * perWord; });
}

int32_t HeapCellsInUse(const EngineContext* ctx) {
  int64_t at = 0, used = 0;
  while (at < ctx->heapSize) {
    const uint32_t header = ctx->heapBase[at].w[0];
    at += 1 + (header & kHeapCountMask);
    if (header & kHeapInUse) used = at;
  }
  return static_cast<int32_t>(std::min<int64_t>(used, ctx->heapSize));
}

void MakeContextPointersRelative(EngineContext* ctx) { AddToAddressFields(ctx, -reinterpret_cast<intptr_t>(ctx)); }

void RelocateEngineContext(EngineContext* ctx, int64_t newSize, int32_t choice) {
  AddToAddressFields(ctx, reinterpret_cast<intptr_t>(ctx));
  // Every size and offset is a 32-bit count, as InitEngineContext requires.
  if (newSize <= 0 || newSize > INT32_MAX) return;
  // The sizes are the main thread's stacks, not those of a running thread.
  const int32_t running = ctx->currentThread;
  if (running != 0) SwitchInterpreterThread(ctx, 0);
  NewLayout n{};
  if (ChooseSizes(ctx, newSize, choice, &n)) Repartition(ctx, n);
  if (running != 0) SwitchInterpreterThread(ctx, running);
}

StatusCode LoadEngineState(EngineContext* ctx, EngineStateReader read, void* userData) {
  uint8_t h[kStateHeaderBytes];
  if (read == nullptr || !read(h, kStateHeaderBytes, userData)) return kEof;
  const int64_t descWords = ReadU32(h), dataCells = ReadU32(h + 4), heapCells = ReadU32(h + 8);
  const int64_t entries = ReadU32(h + 12), codeWords = ReadU32(h + 16), symbols = ReadU32(h + 20);
  // Only the main thread's registers are in the header.
  const uint8_t* t = h + kHeaderThreadFields;
  if (ReadI32(t) != 0 || entries < 1 || symbols > kMaxSavedSymbolBytes) return kInitError;

  // The image replaces the main thread's stacks: their room decides, and a
  // refusal must leave a running interpreter thread current.
  const bool mainRunning = ctx->currentThread == 0;
  const int32_t descCapacity = mainRunning ? ctx->descCapacity : ctx->mainThread.descCapacity;
  const int32_t dataCapacity = mainRunning ? ctx->dataCapacity : ctx->mainThread.dataCapacity;
  if (descWords > descCapacity) return kDescStackFull;
  if (dataCells > dataCapacity) return kDataStackFull;
  if (heapCells > ctx->heapSize) return kHeapFull;
  const int64_t capacity = std::max<int64_t>(ctx->entryCapacity, entries);
  // The table, the code and the symbols, with the word FreeCodeWords holds back.
  if (2 * (kEntryWords * capacity + codeWords + 1) + symbols > 2 * int64_t{ctx->codeSize}) return kCodeOverflow;
  if (!mainRunning) SwitchInterpreterThread(ctx, 0);

  ctx->frameIndex = ReadI32(h + 24);
  ForgetScopeFrame(ctx);
  ctx->pc.space = ReadU32(h + 28);
  ctx->pc.safe = h[32];
  ctx->pc.offset = ReadI32(h + 36);
  ctx->descLength = static_cast<int32_t>(descWords);
  std::memcpy(&ctx->mainThread, h + kHeaderMainThread, sizeof(ThreadRecord));
  ctx->currentThread = 0;
  ctx->threadListHead = ReadI32(t + 4);
  ctx->nextThreadId = ReadI32(t + 8);
  ctx->semaphoreTable = ReadI32(t + 12);
  ctx->semaphoreCapacity = ReadI32(t + 16);
  ctx->lastSemaphoreId = ReadI32(t + 20);
  ctx->display.digits = ReadI32(t + 24);
  ctx->display.format = t[28];
  ctx->display.imagUnit = t[29];
  ctx->display.loose = t[30];
  ctx->display.hostWords[0] = ReadI32(t + 32);
  ctx->display.hostWords[1] = t[36] != 0 ? 0 : -1;
  ForgetReplacedState(ctx);

  bool whole = ReadSection(read, userData, ctx->descBase, 4 * descWords);
  ctx->dataTop = static_cast<int32_t>(dataCells);
  whole = whole && ReadSection(read, userData, ctx->dataBase, 8 * dataCells);
  whole = whole && ReadSection(read, userData, ctx->heapBase, 8 * heapCells);
  ctx->heapFirstFree = 0;
  ValuesChanged(ctx);
  if (heapCells < ctx->heapSize) {
    ctx->heapBase[heapCells].u = 0;
    ctx->heapBase[heapCells].w[0] = static_cast<uint32_t>(ctx->heapSize - heapCells - 1) & kHeapCountMask;
  }
  ctx->entriesInUse = static_cast<int32_t>(entries);
  ctx->entryCapacity = static_cast<int32_t>(capacity);
  whole = whole && ReadSection(read, userData, ctx->codeBase, 16 * entries);
  const int32_t table = kEntryWords * ctx->entryCapacity;
  std::memset(ctx->codeBase + kEntryWords * entries, 0,
              sizeof(int16_t) * static_cast<size_t>(table - kEntryWords * entries));
  ctx->codeTop = static_cast<int32_t>(codeWords) + table;
  whole = whole && ReadSection(read, userData, ctx->codeBase + table, 2 * codeWords);
  ctx->symbolBytes = -static_cast<int32_t>(symbols);
  whole = whole &&
          ReadSection(read, userData, reinterpret_cast<uint8_t*>(ctx->codeBase + ctx->codeSize) - symbols, symbols);

  // The image's positions count from a table of exactly its entries.
  if (!whole || !AcceptImage(ctx, static_cast<int32_t>(heapCells), static_cast<int32_t>(kEntryWords * entries))) {
    EmptyState(ctx);
    return kInitError;
  }
  return kOk;
}

static_assert(sizeof(ThreadRecord) == kThreadRecordBytes);
static_assert(kEntryWords == kFunctionEntryWords);

void ViewEngineState(const EngineContext* ctx, EngineStateView* view) {
  const int32_t table = kEntryWords * ctx->entryCapacity;
  const auto* codeEnd = reinterpret_cast<const uint8_t*>(ctx->codeBase + ctx->codeSize);
  *view = EngineStateView{
      .bytesInUse = codeEnd - reinterpret_cast<const uint8_t*>(ctx),
      .currentThread = ctx->currentThread,
      .descLength = ctx->descLength,
      .dataTop = ctx->dataTop,
      .heapCellsInUse = HeapCellsInUse(ctx),
      .entriesInUse = ctx->entriesInUse,
      .entryCapacity = ctx->entryCapacity,
      .codeWords = ctx->codeTop - table,
      .symbolBytes = -ctx->symbolBytes,
      .frameIndex = ctx->frameIndex,
      .pcSpace = ctx->pc.space,
      .pcSafe = ctx->pc.safe,
      .pcOffset = ctx->pc.offset,
      .mainThread = &ctx->mainThread,
      .threadListHead = ctx->threadListHead,
      .nextThreadId = ctx->nextThreadId,
      .semaphoreTable = ctx->semaphoreTable,
      .semaphoreCapacity = ctx->semaphoreCapacity,
      .lastSemaphoreId = ctx->lastSemaphoreId,
      .digits = ctx->display.digits,
      .format = ctx->display.format,
      .imagUnit = ctx->display.imagUnit,
      .loose = ctx->display.loose,
      .hostWords = {ctx->display.hostWords[0], ctx->display.hostWords[1]},
      .descriptors = ctx->descBase,
      .data = ctx->dataBase,
      .heap = ctx->heapBase,
      .entries = ctx->codeBase,
      .code = ctx->codeBase + table,
      .symbols = codeEnd + ctx->symbolBytes,
  };
}

void SwitchToMainThread(EngineContext* ctx) {
  if (ctx->currentThread != 0) SwitchInterpreterThread(ctx, 0);
}
