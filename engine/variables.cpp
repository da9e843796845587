// Variables and the ways into them: loading, storing, clearing and declaring
// variables, and the references that walk into the fields, cells and indexed
// parts of a variable's heap value, read through them, and assign or delete
// there without copying the variable.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/function.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/indexing.h"
#include "engine/objects.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

// ---------------------------------------------------------------------------
// References. An assignment never changes the variable before its final step
// (EndRefAssign, IndexVarForAssign): a step that must reshape the value (a
// placeholder for an undefined variable, a new field, a grown cell array)
// works on a copy in a new block that the reference holds as detached; the
// final step installs it in the slot. A chain that fails on the way leaves
// the variable as it was.

constexpr int kReferenceCells = 4;

struct Reference {
  uint32_t mode;     // 0 read, 1 assignment
  uint32_t two;      // always 2
  int32_t slot;      // word of the slot on the descriptor stack; -entry: a global's or persistent's store entry
  int32_t block;     // heap block of the value the reference walks in
  int32_t offset;    // cells from the block to the designated element's header; 0 the whole value
  int32_t created;   // the designated element is a placeholder made for this assignment
  int32_t variable;  // for messages
  int32_t detached;  // block is a reshaped copy not yet in the slot
};
static_assert(sizeof(Reference) == kReferenceCells * sizeof(Cell));

bool IsReference(const ValueDescriptor& d) { return d.kind == kLink && d.cells == kReferenceCells; }

Reference* ReferenceAt(EngineContext* ctx, int position) { return reinterpret_cast<Reference*>(DataAt(ctx, position)); }

// A variable's block starts with a header laid out like an element header
// (kind, cells; extra, name 0), so the whole value is the element at offset 0.
CompositeElementHeader* HeapElement(EngineContext* ctx, int32_t block, int64_t offset) {
  return reinterpret_cast<CompositeElementHeader*>(ctx->heapBase + block + offset);
}

CompositeElementHeader* Designated(EngineContext* ctx, const Reference* r) {
  return HeapElement(ctx, r->block, r->offset);
}

int64_t ElementSpan(const CompositeElementHeader* e) { return kElementHeaderCells + int64_t{e->cells}; }

ValueDescriptor DescriptorOf(const CompositeElementHeader* e) { return {e->kind, e->cells, e->extra}; }

// The first element inside a composite element.
CompositeElementHeader* Inside(CompositeElementHeader* e) {
  return reinterpret_cast<CompositeElementHeader*>(ElementData(e));
}

bool IsRoomCode(StatusCode st) { return st >= kDescStackFull && st <= kCodeOverflow; }

// The word that names a variable's value block: its frame slot, or the store
// entry's position for a global or persistent.
int32_t* TargetWord(EngineContext* ctx, int32_t slot) {
  return slot >= 0 ? ctx->descBase + slot : &StoreEntry(ctx, -slot)->position;
}

// A detached copy takes the variable's place; the block it replaces goes.
void Commit(EngineContext* ctx, Reference* r) {
  if (!r->detached) return;
  int32_t* target = TargetWord(ctx, r->slot);
  const int32_t old = *target;
  *target = r->block;
  if (old > 0 && old != r->block) FreeHeapBlock(ctx, old);
  r->detached = 0;
}

// Forgets a detached copy, leaving the variable as it was.
void Abandon(EngineContext* ctx, Reference* r) {
  if (!r->detached) return;
  FreeHeapBlock(ctx, r->block);
  r->detached = 0;
  r->block = 0;
}

// A failure of an access step. Room failures keep the copy, so that the
// instruction can be repeated once the block has grown.
StatusCode Fail(EngineContext* ctx, Reference* r, StatusCode st) {
  if (r != nullptr && !IsRoomCode(st)) Abandon(ctx, r);
  return st;
}

// Gives every element on the way from the value down to element x (x
// included) delta more cells. The walk reads only headers before x, which a
// change at or after x's data leaves in place.
void AdjustEnclosingElementSizes(Cell* base, int64_t x, int64_t delta) {
  int64_t p = 0;
  for (;;) {
    auto* h = reinterpret_cast<CompositeElementHeader*>(base + p);
    if (p == x) {
      h->cells += static_cast<int32_t>(delta);
      return;
    }
    const int64_t end = p + kElementHeaderCells + h->cells;
    int64_t c = p + kElementHeaderCells;
    while (c < end) {
      const int64_t next = c + ElementSpan(reinterpret_cast<CompositeElementHeader*>(base + c));
      if (x < next) break;
      c = next;
    }
    h->cells += static_cast<int32_t>(delta);
    if (c >= end) return;
    p = c;
  }
}

// Cuts a block to its first cells; the rest becomes a free block.
void ShrinkHeapBlock(EngineContext* ctx, int32_t block, int64_t cells) {
  const int64_t had = HeapBlockCells(ctx, block);
  if (cells >= had) return;
  ctx->heapBase[block - 1].w[0] = static_cast<uint32_t>(cells) | kHeapInUse;
  if (had - cells >= 1) {
    ctx->heapBase[block + cells].u = 0;
    ctx->heapBase[block + cells].w[0] = static_cast<uint32_t>(had - cells - 1);
    if (block + cells < ctx->heapFirstFree) ctx->heapFirstFree = static_cast<int32_t>(block + cells);
  }
}

// Replaces the cells [at, at + remove) of the reference's value by insert
// cells, left for the caller to fill at *gap; element x (whose data holds
// them) and every element enclosing it count the difference. The value
// changes in place when it does not grow and either it is a detached copy
// or final is set (the last step of an assignment); otherwise the reference
// moves to a new detached block, and a detached block it leaves is freed.
StatusCode ChangeElement(EngineContext* ctx, Reference* r, int64_t x, int64_t at, int64_t remove, int64_t insert,
                         bool final, Cell** gap) {
  Cell* base = ctx->heapBase + r->block;
  const int64_t total = kVariableHeaderCells + int64_t{base[0].iw[1]};
  const int64_t delta = insert - remove;
  const int64_t grown = total + delta;
  if (grown > kHeapCountMask) return kHeapFull;
  if (delta <= 0 && (final || r->detached)) {
    std::memmove(base + at + insert, base + at + remove, (total - at - remove) * sizeof(Cell));
    AdjustEnclosingElementSizes(base, x, delta);
    ShrinkHeapBlock(ctx, r->block, grown);
    *gap = base + at;
    return kOk;
  }
  int32_t fresh = 0;
  if (StatusCode st = AllocateHeapBlock(ctx, static_cast<int32_t>(grown), &fresh); st != kOk) return st;
  base = ctx->heapBase + r->block;
  Cell* out = ctx->heapBase + fresh;
  std::memcpy(out, base, at * sizeof(Cell));
  std::memcpy(out + at + insert, base + at + remove, (total - at - remove) * sizeof(Cell));
  AdjustEnclosingElementSizes(out, x, delta);
  if (r->detached) FreeHeapBlock(ctx, r->block);
  r->block = fresh;
  r->detached = 1;
  *gap = out + at;
  return kOk;
}

// The designated element takes the value d with its cells; it keeps its name.
StatusCode ReplaceDesignated(EngineContext* ctx, Reference* r, const ValueDescriptor& d, const Cell* data) {
  CompositeElementHeader* e = Designated(ctx, r);
  Cell* gap = nullptr;
  if (StatusCode st = ChangeElement(ctx, r, r->offset, r->offset + kElementHeaderCells, e->cells, d.cells, true, &gap);
      st != kOk)
    return st;
  e = Designated(ctx, r);
  e->kind = d.kind;
  e->extra = d.extra;
  if (d.cells > 0) std::memcpy(gap, data, int64_t{d.cells} * sizeof(Cell));
  r->created = 0;
  return kOk;
}

// ---------------------------------------------------------------------------
// Finding variables.

// VariableDescriptor read in place, for the hot loads: the call returns the
// three words through memory and stalls on the stores that just wrote them.
inline ValueDescriptor BlockDescriptor(const EngineContext* ctx, int32_t block) {
  const Cell* b = ctx->heapBase + block;
  return {b[0].w[0], b[0].iw[1], b[1].iw[0]};
}

struct Place {
  int32_t slot;   // as in a Reference
  int32_t block;  // the value's block, -1 when undefined
};

StatusCode LocateVariable(EngineContext* ctx, int v, Place* p) {
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr || v < 0 || v >= FrameSlotCount(f)) return kIllegal;
  int32_t* slot = FrameSlots(f) + v;
  p->slot = static_cast<int32_t>(slot - ctx->descBase);
  p->block = *slot > 0 ? *slot : -1;
  if (*slot <= 0 || *slot >= ctx->heapSize || (ctx->heapBase[*slot].w[0] & kLink) == 0) return kOk;
  const int32_t entry = ctx->heapBase[*slot + kVariableHeaderCells + 1].iw[0];
  if (entry <= 0 || entry >= ctx->entriesInUse || StoreEntry(ctx, entry)->kind != kEntryVariable) return kIllegal;
  p->slot = -entry;
  const int32_t position = StoreEntry(ctx, entry)->position;
  p->block = position > 0 ? position : -1;
  return kOk;
}

// The function-store entry of the function a frame runs, -1 when unknown:
// the line markers record it; before the first one, the frame's name table
// tells which compiled function it belongs to.
int32_t FrameFunctionEntry(EngineContext* ctx, const CallFrame* f) {
  if (f == nullptr || IsBaseFrame(f)) return -1;
  if (f->function >= 0) return f->function;
  if (f->nameTable <= 0) return -1;
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind >= 0 || e->position <= 0) continue;
    const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + e->position);
    const char* names = HeaderNameTable(h);
    if (names != nullptr && names - reinterpret_cast<const char*>(ctx->codeBase) == 2 * int64_t{f->nameTable}) return i;
  }
  return -1;
}

// An input argument the caller did not pass reads as such, not as a variable
// that was never set.
StatusCode UndefinedVariable(EngineContext* ctx, int v) {
  const CallFrame* f = CurrentFrame(ctx);
  const int32_t entry = f != nullptr && f->variableCount > v ? FrameFunctionEntry(ctx, f) : -1;
  if (entry > 0) {
    const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + StoreEntry(ctx, entry)->position);
    const int16_t* inputs = InputVariables(h);
    for (int i = 0; i < h->inputs; ++i)
      if (inputs[i] == v) return RaiseError(ctx, kUndefArgin, v, 0, -1, nullptr);
  }
  return RaiseError(ctx, kUndefVar, v, 0, -1, nullptr);
}

// Frees a slot's value; a global or persistent link takes the shared value
// with it, so every function that links to it reads it as undefined.
void ClearSlot(EngineContext* ctx, int32_t* slot) {
  const int32_t b = *slot;
  if (b > 0 && b < ctx->heapSize && (ctx->heapBase[b].w[0] & kLink) != 0) {
    const int32_t entry = ctx->heapBase[b + kVariableHeaderCells + 1].iw[0];
    if (entry > 0 && entry < ctx->entriesInUse && StoreEntry(ctx, entry)->kind == kEntryVariable) {
      FunctionStoreEntry* e = StoreEntry(ctx, entry);
      if (e->position > 0) FreeHeapBlock(ctx, e->position);
      e->position = -1;
    }
  }
  FreeHeapBlock(ctx, b);
  *slot = -1;
}

StatusCode StoreTopInto(EngineContext* ctx, int v) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind == kVoid) {
    PopValue(ctx);
    return kOk;
  }
  if (d.kind == kComposite && d.extra == kFreeList) return kFreeListAssignment;
  if (IsReference(d)) return kIllegal;
  Place p;
  if (StatusCode st = LocateVariable(ctx, v, &p); st != kOk) return st;
  const int64_t cells = kVariableHeaderCells + int64_t{d.cells};
  int32_t block = p.block;
  if (block <= 0 || HeapBlockCells(ctx, block) != cells) {
    // The new block comes first: a full heap leaves the old value in place.
    if (cells > kHeapCountMask) return kHeapFull;
    int32_t fresh = 0;
    if (StatusCode st = AllocateHeapBlock(ctx, static_cast<int32_t>(cells), &fresh); st != kOk) return st;
    if (block > 0) FreeHeapBlock(ctx, block);
    block = fresh;
    *TargetWord(ctx, p.slot) = block;
  }
  WriteVariableDescriptor(ctx, block, d);
  if (d.cells > 0)
    std::memcpy(ctx->heapBase + block + kVariableHeaderCells, TopData(ctx), int64_t{d.cells} * sizeof(Cell));
  PopValue(ctx);
  return kOk;
}

// Variable v has just been stored (or loaded, for a bare name): a copy of it
// is shown under its name and popped. v < 0 shows the value on top unnamed.
StatusCode DisplayNamedValue(EngineContext* ctx, int v) {
  if (v < 0) return CoreDisplayTopValue(ctx, kStdoutDescriptor, true);
  const int16_t load[2] = {static_cast<int16_t>(Op::LoadVar), static_cast<int16_t>(v)};
  if (StatusCode st = OpLoadVar(ctx, load); st != kOk) return st;
  const StatusCode st = CoreDisplayStatementResult(ctx, v, false, true);
  // A display short of room leaves nothing behind, so repeating it after
  // growth does not leave a stray copy.
  if (IsRoomCode(st)) PopValue(ctx);
  return st;
}

// ---------------------------------------------------------------------------
// Reading values: arrays of numbers, characters and logicals; composites.

struct ArrayInfo {
  int ndims;
  int32_t dims[kMaxDims];
  int64_t count;
  void* re;
  void* im;
  int elementKind;
  uint32_t cls;
  int32_t subtype;
  bool isUnsigned, isChar, isLogical;
};

bool ReadArrayInfo(const ValueDescriptor& d, Cell* data, ArrayInfo* a) {
  *a = {};
  if (IsPlainMatrix(d)) {
    const bool complex = (d.kind & kComplex) != 0;
    a->ndims = 2;
    a->dims[0] = PlainRows(d);
    a->dims[1] = d.extra;
    a->count = int64_t{a->dims[0]} * a->dims[1];
    a->re = data;
    a->im = complex ? data + a->count : nullptr;
    a->elementKind = kDoubleElements;
    a->cls = complex ? kComplexDouble : kDouble;
    a->subtype = kNumericArray;
    return true;
  }
  if (!IsBoxedArray(d)) return false;
  const ArrayView v = ReadArray(data);
  a->ndims = v.ndims;
  for (int j = 0; j < v.ndims; ++j) a->dims[j] = static_cast<int32_t>(v.dims[j]);
  a->count = v.count;
  a->re = v.data;
  a->cls = v.cls;
  a->subtype = d.extra;
  auto* bytes = reinterpret_cast<uint8_t*>(v.data);
  if (v.cls == kDouble || v.cls == kComplexDouble) {
    a->elementKind = kDoubleElements;
    a->im = v.cls == kComplexDouble ? bytes + v.count * 8 : nullptr;
  } else if (v.cls == kSingle || v.cls == kComplexSingle) {
    a->elementKind = kSingleElements;
    a->im = v.cls == kComplexSingle ? bytes + v.count * 4 : nullptr;
  } else {
    a->elementKind = ElementBytes(v.cls);
    a->isUnsigned = (v.cls & 0x80) != 0;
    a->isChar = d.extra == kCharArray;
    a->isLogical = d.extra == kLogicalArray;
  }
  return true;
}

bool IsContainer(const ValueDescriptor& d) {
  return d.kind == kComposite && d.extra >= kList && d.extra <= kStructArray;
}

// Lists read as 1 x count (0 x 0 when empty), a structure as 1 x 1.
struct CompositeView {
  int ndims;
  int32_t dims[kMaxDims + 1];
  int64_t count;   // items: elements, or structures of a structure array
  int32_t fields;  // -1 for lists and cells
  CompositeElementHeader* first;
};

bool ReadComposite(const ValueDescriptor& d, Cell* data, CompositeView* c) {
  if (!IsContainer(d)) return false;
  if (d.cells == 0 && (d.extra == kCellArray || d.extra == kStructArray)) {
    *c = {2, {0, 0}, 0, d.extra == kCellArray ? -1 : 0, reinterpret_cast<CompositeElementHeader*>(data)};
    return true;
  }
  if (GetCompositeInfo(&d, reinterpret_cast<CompositeElementHeader*>(data), '?', &c->ndims, c->dims, &c->count,
                       &c->fields, &c->first) != kOk)
    return false;
  if (d.extra == kList || d.extra == kStruct) {
    c->ndims = 2;
    c->dims[0] = c->count == 0 ? 0 : 1;
    c->dims[1] = static_cast<int32_t>(c->count);
  }
  return true;
}

CompositeElementHeader* ElementAfter(CompositeElementHeader* e, int64_t n) {
  for (int64_t k = 0; k < n; ++k) e = NextElement(e);
  return e;
}

// Field s among the n elements from e, or null.
CompositeElementHeader* FindField(CompositeElementHeader* e, int64_t n, SymbolId s) {
  for (int64_t k = 0; k < n; ++k, e = NextElement(e))
    if (e->name == s) return e;
  return nullptr;
}

int64_t CountElementsIn(CompositeElementHeader* e, int64_t cells) {
  const Cell* end = reinterpret_cast<Cell*>(e) + cells;
  int64_t n = 0;
  for (; reinterpret_cast<Cell*>(e) < end; e = NextElement(e)) ++n;
  return n;
}

// Replaces the top value by its element e (which lies inside it) in place.
void KeepElementOfTop(EngineContext* ctx, CompositeElementHeader* e) {
  const ValueDescriptor d = DescriptorOf(e);
  Cell* out = TopData(ctx);
  std::memmove(out, ElementData(e), int64_t{d.cells} * sizeof(Cell));
  ctx->dataTop -= DescriptorAt(ctx, 0)->cells - d.cells;
  *DescriptorAt(ctx, 0) = d;
}

// A cell array or list on top becomes a free list (or a list) of its items.
void MakeTopListOf(EngineContext* ctx, int32_t subtype) {
  ValueDescriptor* d = DescriptorAt(ctx, 0);
  if (d->extra == kCellArray && d->cells > 0) {
    Cell* data = TopData(ctx);
    const int64_t head = ElementSpan(reinterpret_cast<CompositeElementHeader*>(data));
    std::memmove(data, data + head, (d->cells - head) * sizeof(Cell));
    d->cells -= static_cast<int32_t>(head);
    ctx->dataTop -= static_cast<int32_t>(head);
  }
  d->extra = subtype;
}

// The indices that are values (not colons) are the top k.
int CountIndexValues(int n, uint32_t colonMask) {
  int k = 0;
  for (int j = 0; j < n; ++j) k += ((colonMask >> j) & 1) != 0 ? 0 : 1;
  return k;
}

// Errors of the kernels name the variable.
StatusCode RaiseIndexError(EngineContext* ctx, StatusCode st, int v) {
  switch (st) {
    case kBadIndexType:
    case kNonIntegerIndex:
    case kIndexOutOfRange:
    case kBadListIndex:
    case kWrongNumInd:
    case kIncompSelectionSize:
    case kIncompAsgnSize:
      return RaiseError(ctx, st, v, 0, -1, nullptr);
    default:
      return ReportedStatus(st);
  }
}

// A 1 x 1 real double given as a plain matrix: the common index.
bool PlainScalar(EngineContext* ctx, int position, double* x) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsRealScalar(d)) return false;
  *x = DataAt(ctx, position)->f;
  return true;
}

// The position of a 1-based index value x in a dimension of size n, or -1.
int64_t ScalarPosition(double x, int64_t n) {
  if (!(x >= 1) || x > static_cast<double>(n) || x != std::floor(x)) return -1;
  return static_cast<int64_t>(x) - 1;
}

// The element that one or two plain scalar indices select in a plain real
// matrix, or -1 when the general path must decide (and report).
int64_t ScalarElement(EngineContext* ctx, int n, const ValueDescriptor& d) {
  if (d.kind != 0) return -1;
  const int64_t rows = PlainRows(d), cols = d.extra;
  double i = 0, j = 0;
  if (n == 1) {
    if (!PlainScalar(ctx, 0, &i)) return -1;
    return ScalarPosition(i, rows * cols);
  }
  if (!PlainScalar(ctx, 1, &i) || !PlainScalar(ctx, 0, &j)) return -1;
  const int64_t r = ScalarPosition(i, rows), c = ScalarPosition(j, cols);
  return r < 0 || c < 0 ? -1 : r * cols + c;
}

// The value or the element a reference designates, at a stack position.
struct Target {
  Reference* ref;  // null for a plain value
  ValueDescriptor d;
  Cell* data;
  int variable;
};

Target TargetAt(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsReference(d)) return {nullptr, d, DataAt(ctx, position), -1};
  Reference* r = ReferenceAt(ctx, position);
  CompositeElementHeader* e = Designated(ctx, r);
  return {r, DescriptorOf(e), ElementData(e), r->variable};
}

// Replaces the reference at a position by a copy of what it designates,
// keeping the values above it in place.
StatusCode DereferenceAt(EngineContext* ctx, int position) {
  RotateValues(ctx, position + 1, 1);
  const Reference r = *ReferenceAt(ctx, 0);
  CompositeElementHeader* e = Designated(ctx, &r);
  const ValueDescriptor d = DescriptorOf(e);
  if (int64_t{d.cells} - kReferenceCells >= FreeDataCells(ctx)) {
    RotateValues(ctx, position + 1, position);
    return kDataStackFull;
  }
  PopValue(ctx);
  Cell* data = nullptr;
  PushValue(ctx, d.kind, d.cells, d.extra, Room::kAll, &data);
  if (d.cells > 0) std::memcpy(data, ElementData(Designated(ctx, &r)), int64_t{d.cells} * sizeof(Cell));
  RotateValues(ctx, position + 1, position);
  return kOk;
}

// ---------------------------------------------------------------------------
// Fields.

// Replaces a structure array on top by the free list of field s of each of
// its structures, in place.
StatusCode CollectFieldOfStructArray(EngineContext* ctx, SymbolId s) {
  CompositeView c;
  if (!ReadComposite(*DescriptorAt(ctx, 0), TopData(ctx), &c)) return kWrongType;
  CompositeElementHeader* e = c.first;
  for (int64_t i = 0; i < c.count; ++i, e = ElementAfter(e, c.fields))
    if (FindField(e, c.fields, s) == nullptr) return RaiseError(ctx, kUndefField, -1, s, -1, nullptr);
  Cell* out = TopData(ctx);
  Cell* write = out;
  e = c.first;
  for (int64_t i = 0; i < c.count; ++i) {
    CompositeElementHeader* next = ElementAfter(e, c.fields);
    CompositeElementHeader* f = FindField(e, c.fields, s);
    const int64_t span = ElementSpan(f);
    std::memmove(write, f, span * sizeof(Cell));
    reinterpret_cast<CompositeElementHeader*>(write)->name = 0;
    write += span;
    e = next;
  }
  ValueDescriptor* d = DescriptorAt(ctx, 0);
  ctx->dataTop -= static_cast<int32_t>(d->cells - (write - out));
  *d = {kComposite, static_cast<int32_t>(write - out), kFreeList};
  return kOk;
}

StatusCode FieldOfValue(EngineContext* ctx, SymbolId s) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind != kComposite) return kWrongType;
  int64_t offset = 0, cells = d.cells;
  if (d.extra < 0) {
    // Only a method of a class that owns a part of the object reads its fields.
    const CallFrame* f = FindScopeFrame(ctx);
    if (f == nullptr || f->methodClass == 0) return kInvalidFieldAccess;
    const StatusCode st = FindObjectPartByClass(ctx, TopData(ctx), d.cells, d.extra, f->methodClass, &offset, &cells);
    if (st != kOk) return st == kDataStackFull ? st : kInvalidFieldAccess;
  } else if (d.extra == kStructArray) {
    return CollectFieldOfStructArray(ctx, s);
  } else if (d.extra != kStruct) {
    return kWrongType;
  }
  auto* part = reinterpret_cast<CompositeElementHeader*>(TopData(ctx) + offset);
  CompositeElementHeader* field = FindField(part, CountElementsIn(part, static_cast<int32_t>(cells)), s);
  if (field == nullptr) return RaiseError(ctx, kUndefField, -1, s, -1, nullptr);
  KeepElementOfTop(ctx, field);
  return kOk;
}

// Moves a reference on top into field s of the structure it designates; in
// assignment mode a missing field is appended as a placeholder.
StatusCode FieldAtReference(EngineContext* ctx, Reference* r, SymbolId s) {
  CompositeElementHeader* e = Designated(ctx, r);
  const bool assign = r->mode == 1;
  if (assign && r->created && e->cells == 0) {
    e->kind = kComposite;
    e->extra = kStruct;
  }
  if (e->kind != kComposite || e->extra == kList || e->extra == kCellArray || e->extra == kFreeList)
    return Fail(ctx, r, RaiseError(ctx, kNonStructVar, r->variable, s, -1, nullptr));
  if (e->extra != kStruct) {
    // Structure arrays and objects are read from a copy; assigning a field
    // of every structure at once is no assignment.
    if (assign) return Fail(ctx, r, kWrongType);
    if (StatusCode st = DereferenceAt(ctx, 0); st != kOk) return st;
    return FieldOfValue(ctx, s);
  }
  if (CompositeElementHeader* f = FindField(Inside(e), CountElementsIn(Inside(e), e->cells), s)) {
    r->offset = static_cast<int32_t>(reinterpret_cast<Cell*>(f) - (ctx->heapBase + r->block));
    r->created = 0;
    return kOk;
  }
  if (!assign) return RaiseError(ctx, kUndefField, r->variable, s, -1, nullptr);
  const int64_t at = r->offset + kElementHeaderCells + int64_t{e->cells};
  Cell* gap = nullptr;
  if (StatusCode st = ChangeElement(ctx, r, r->offset, at, 0, kElementHeaderCells, false, &gap); st != kOk)
    return Fail(ctx, r, st);
  *reinterpret_cast<CompositeElementHeader*>(gap) = {kComposite, 0, kList, s};
  r->offset = static_cast<int32_t>(at);
  r->created = 1;
  return kOk;
}

StatusCode FieldStep(EngineContext* ctx, SymbolId s) {
  if (IsReference(*DescriptorAt(ctx, 0))) return FieldAtReference(ctx, ReferenceAt(ctx, 0), s);
  return FieldOfValue(ctx, s);
}

// Interns the field name on top, leaving it there.
StatusCode ReadFieldName(EngineContext* ctx, SymbolId* s) {
  char name[kVariableNameBytes + 1];
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length);
  if (st == kWrongTypeInternal) return kWrongType;
  // A longer name cannot name a field.
  if (st != kOk || length > kVariableNameBytes || length == 0) return RaiseError(ctx, kUndefField, -1, 0, -1, nullptr);
  return InternSymbol(ctx, name, static_cast<int>(length), kVariableNameBytes, s);
}

// Interns the field name on top and pops it.
StatusCode PopFieldName(EngineContext* ctx, SymbolId* s) {
  if (StatusCode st = ReadFieldName(ctx, s); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

// ---------------------------------------------------------------------------
// Composite rebuilding: new contents are composed in scratch space at the far
// end of the data stack, then copied over the designated element's data.

// Writes a CellDimsElement of a cell array's (or structure array's) entries.
Cell* WriteDims(Cell* at, const int32_t* entries, int k) {
  WriteDimsElement(at, entries, k);
  return at + DimsElementCells(k);
}

constexpr CompositeElementHeader kEmptyElement = {0, 0, 0, 0};

// Installs cells of new content as the designated element's data.
StatusCode InstallContent(EngineContext* ctx, Reference* r, const Cell* content, int64_t cells, int32_t subtype,
                          bool final) {
  CompositeElementHeader* e = Designated(ctx, r);
  Cell* gap = nullptr;
  if (StatusCode st = ChangeElement(ctx, r, r->offset, r->offset + kElementHeaderCells, e->cells, cells, final, &gap);
      st != kOk)
    return st;
  e = Designated(ctx, r);
  e->kind = kComposite;
  e->extra = subtype;
  std::memmove(gap, content, cells * sizeof(Cell));
  return kOk;
}

// Grows the list or cell array the reference designates to new dims (a list
// stays one row); old items keep their subscripts, new places hold [].
// Growth keeps the storage order of the old items, so one pass places them.
StatusCode GrowCellArrayAtReference(EngineContext* ctx, Reference* r, const CompositeView& c, int32_t subtype, int nd,
                                    const int32_t* dims) {
  int64_t total = 1;
  for (int j = 0; j < nd; ++j) total *= dims[j];
  int64_t cells = subtype == kCellArray ? DimsElementCells(nd) : 0;
  CompositeElementHeader* e = c.first;
  int64_t oldCells = 0;
  for (int64_t i = 0; i < c.count; ++i, e = NextElement(e)) oldCells += ElementSpan(e);
  cells += oldCells + (total - c.count) * kElementHeaderCells;
  if (cells > kMaxPlainCells) return kHeapFull;
  Cell* scratch = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, cells, &scratch); st != kOk) return st;
  Cell* w = scratch;
  if (subtype == kCellArray) w = WriteDims(w, dims, nd);
  e = c.first;
  int32_t subs[kMaxDims];
  int64_t taken = 0;
  for (int64_t q = 0; q < total; ++q) {
    bool old = false;
    if (subtype == kList || nd == 1) {
      old = q < c.count;
    } else {
      LinearIndexToSubscripts(nd, dims, q, subs);
      old = true;
      for (int j = 0; j < nd; ++j) old &= subs[j] < (j < c.ndims ? c.dims[j] : 1);
    }
    if (old && taken < c.count) {
      const int64_t span = ElementSpan(e);
      std::memcpy(w, e, span * sizeof(Cell));
      w += span;
      e = NextElement(e);
      ++taken;
    } else {
      *reinterpret_cast<CompositeElementHeader*>(w) = kEmptyElement;
      w += kElementHeaderCells;
    }
  }
  return InstallContent(ctx, r, scratch, w - scratch, subtype, false);
}

// Rebuilds the structure or structure array the reference designates as a
// structure array of new dims (at least the old ones) and, with add, one more
// field of that name at the end of every structure. New structures take the
// first structure's field names; new places hold [].
StatusCode ReshapeStructsAtReference(EngineContext* ctx, Reference* r, const CompositeView& c, int nd,
                                     const int32_t* dims, SymbolId add) {
  const int32_t fields = std::max(c.fields, 0) + (add != 0 ? 1 : 0);
  int64_t total = 1;
  for (int j = 0; j < nd; ++j) total *= dims[j];
  int64_t oldCells = 0;
  CompositeElementHeader* e = c.first;
  for (int64_t i = 0; i < c.count * std::max(c.fields, 0); ++i, e = NextElement(e)) oldCells += ElementSpan(e);
  const int64_t cells = DimsElementCells(nd + 1) + oldCells + (total - c.count) * std::max(c.fields, 0) * 2 +
                        (add != 0 ? total * kElementHeaderCells : 0);
  if (cells > kMaxPlainCells) return kHeapFull;
  Cell* scratch = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, cells, &scratch); st != kOk) return st;
  int32_t entries[kMaxDims + 1];
  std::copy(dims, dims + nd, entries);
  entries[nd] = fields;
  Cell* w = WriteDims(scratch, entries, nd + 1);
  e = c.first;
  int32_t subs[kMaxDims];
  int64_t taken = 0;
  for (int64_t q = 0; q < total; ++q) {
    LinearIndexToSubscripts(nd, dims, q, subs);
    bool old = taken < c.count;
    for (int j = 0; j < nd && old; ++j) old = subs[j] < (j < c.ndims ? c.dims[j] : 1);
    CompositeElementHeader* model = c.first;
    for (int32_t f = 0; f < c.fields; ++f) {
      if (old) {
        std::memcpy(w, e, ElementSpan(e) * sizeof(Cell));
        w += ElementSpan(e);
        e = NextElement(e);
      } else {
        *reinterpret_cast<CompositeElementHeader*>(w) = {0, 0, 0, model->name};
        w += kElementHeaderCells;
        model = NextElement(model);
      }
    }
    if (old) ++taken;
    if (add != 0) {
      *reinterpret_cast<CompositeElementHeader*>(w) = {0, 0, 0, add};
      w += kElementHeaderCells;
    }
  }
  return InstallContent(ctx, r, scratch, w - scratch, kStructArray, false);
}

// Subscripts of scalar index values (1-based on the stack, 0-based out):
// false when some index is not a numeric scalar.
bool ScalarSubscripts(EngineContext* ctx, int n, uint32_t colonMask, int32_t* subs, StatusCode* st) {
  *st = kOk;
  if (colonMask != 0) return false;
  for (int j = 0; j < n; ++j) {
    const int p = n - 1 - j;
    const ValueDescriptor& d = *DescriptorAt(ctx, p);
    if (!(IsPlainMatrix(d) || (IsBoxedArray(d) && d.extra == kNumericArray))) return false;
    NumericView v;
    if (!ReadNumeric(ctx, p, &v) || v.count != 1) return false;
    const double x = RealElement(v, 0);
    if (x != std::floor(x)) {
      *st = kBadListIndex;
    } else if (!(x >= 1)) {
      *st = kIndexOutOfRange;
    } else if (x > 2147483647.0) {
      *st = kIndexOutOfRange;
    } else {
      subs[j] = static_cast<int32_t>(x) - 1;
      continue;
    }
    return true;
  }
  return true;
}

// The item that scalar subscripts select among c's items: its number, or -1
// past the end with *beyond the first subscript out of range (1-based).
int64_t ItemNumber(const CompositeView& c, int n, const int32_t* subs, int64_t* beyond) {
  *beyond = 0;
  if (n == 1) {
    if (subs[0] >= c.count) *beyond = int64_t{subs[0]} + 1;
    return *beyond ? -1 : subs[0];
  }
  int32_t eff[kMaxIndexDims];
  for (int j = 0; j < n; ++j) eff[j] = j < c.ndims ? c.dims[j] : 1;
  // Fewer subscripts than dims: the last one runs over the remaining dims.
  for (int j = n; j < c.ndims; ++j) eff[n - 1] *= c.dims[j];
  for (int j = 0; j < n; ++j)
    if (subs[j] >= eff[j]) {
      *beyond = int64_t{subs[j]} + 1;
      return -1;
    }
  return SubscriptsToLinearIndex(n, eff, n, subs);
}

// The dims that make scalar subscripts fall inside c, or false (with the
// status) when no growth can.
bool GrownDims(const CompositeView& c, int32_t subtype, int n, const int32_t* subs, int* nd, int32_t* dims,
               StatusCode* st) {
  *st = kIndexOutOfRange;
  if (subtype == kList || n == 1) {
    int64_t want = 0;
    if (n == 1) {
      want = int64_t{subs[0]} + 1;
    } else {
      for (int j = 0; j < n; ++j)
        if (j != 1 && subs[j] != 0) return false;
      want = int64_t{subs[1]} + 1;
    }
    // Only vectors grow through one index: a column downwards, else a row.
    *nd = 2;
    if (subtype != kList && c.ndims == 2 && c.dims[0] >= 2 && c.dims[1] == 1) {
      dims[0] = static_cast<int32_t>(want), dims[1] = 1;
      return true;
    }
    if (subtype != kList && (c.ndims > 2 || c.dims[0] >= 2)) return false;
    dims[0] = 1, dims[1] = static_cast<int32_t>(want);
    return true;
  }
  if (n < c.ndims) return false;
  if (n > c.ndims) {
    for (int j = c.ndims; j < n; ++j)
      if (subs[j] != 0) {
        *st = kWrongNumInd;
        return false;
      }
  }
  *nd = c.ndims;
  for (int j = 0; j < c.ndims; ++j) dims[j] = std::max(c.dims[j], j < n ? subs[j] + 1 : 1);
  return true;
}

// Brace indexing and IndexGetField with scalar subscripts through a
// reference: the reference moves to the selected item (or to field s of the
// selected structure).
StatusCode BracesAtReference(EngineContext* ctx, Reference* r, int n, const int32_t* subs, bool field, SymbolId s) {
  CompositeElementHeader* e = Designated(ctx, r);
  const bool assign = r->mode == 1;
  const int v = r->variable;
  if (assign && r->created && e->cells == 0) {
    e->kind = kComposite;
    e->extra = field ? kStruct : kCellArray;
  }
  const ValueDescriptor d = DescriptorOf(e);
  CompositeView c;
  const bool ok = field ? d.kind == kComposite && (d.extra == kStruct || d.extra == kStructArray)
                        : d.kind == kComposite && (d.extra == kList || d.extra == kCellArray);
  if (!ok || !ReadComposite(d, ElementData(e), &c))
    return Fail(ctx, r, RaiseError(ctx, kNonListVar, v, 0, int64_t{subs[0]} + 1, nullptr));
  int64_t beyond = 0;
  int64_t item = ItemNumber(c, n, subs, &beyond);
  bool grown = false;
  if (item < 0) {
    if (!assign) return Fail(ctx, r, RaiseError(ctx, kIndexOutOfRange, v, 0, beyond, nullptr));
    int nd = 0;
    int32_t dims[kMaxDims];
    StatusCode st = kOk;
    if (!GrownDims(c, d.extra, n, subs, &nd, dims, &st))
      return Fail(ctx, r, RaiseError(ctx, st, v, 0, st == kWrongNumInd ? n : beyond, nullptr));
    st = field ? ReshapeStructsAtReference(ctx, r, c, nd, dims, 0)
               : GrowCellArrayAtReference(ctx, r, c, d.extra, nd, dims);
    if (st != kOk) return Fail(ctx, r, st);
    e = Designated(ctx, r);
    ReadComposite(DescriptorOf(e), ElementData(e), &c);
    item = ItemNumber(c, n, subs, &beyond);
    grown = true;
  }
  CompositeElementHeader* target = nullptr;
  if (field) {
    target = FindField(ElementAfter(c.first, item * c.fields), c.fields, s);
    if (target == nullptr) {
      if (!assign) return RaiseError(ctx, kUndefField, v, s, -1, nullptr);
      if (e->extra == kStruct) return FieldAtReference(ctx, r, s);
      // Every structure of the array gets the field.
      if (StatusCode st = ReshapeStructsAtReference(ctx, r, c, c.ndims, c.dims, s); st != kOk) return Fail(ctx, r, st);
      e = Designated(ctx, r);
      ReadComposite(DescriptorOf(e), ElementData(e), &c);
      target = FindField(ElementAfter(c.first, item * c.fields), c.fields, s);
      grown = true;
    }
  } else {
    target = ElementAfter(c.first, item);
  }
  r->offset = static_cast<int32_t>(reinterpret_cast<Cell*>(target) - (ctx->heapBase + r->block));
  r->created = grown ? 1 : 0;
  return kOk;
}

// Parenthesis selection of a list, cell array, structure or structure array
// at position k under k converted index values: the result replaces them.
StatusCode IndexCompositeValue(EngineContext* ctx, int n, uint32_t colonMask, int k) {
  const int32_t subtype = DescriptorAt(ctx, k)->extra;
  if (StatusCode st = BuildElementOffsetTable(ctx, k, false); st != kOk) return st;
  RotateValues(ctx, k + 1, k);
  const ArrayView t = ReadArray(DataAt(ctx, k));
  int32_t dims[kMaxDims];
  for (int j = 0; j < t.ndims; ++j) dims[j] = static_cast<int32_t>(t.dims[j]);
  if (StatusCode st = SelectArrayElements(ctx, t.data, nullptr, t.ndims, dims, kNumericArray, 4, kInt32, n, colonMask);
      st != kOk)
    return st;
  DropArgsUnderResults(ctx, 1, 1);
  int32_t fields = 0;
  if (StatusCode st = GatherCompositeElements(ctx, 1, &fields); st != kOk) return st;
  DropArgsUnderResults(ctx, 1, 2);
  if (subtype == kList) MakeTopListOf(ctx, kList);
  return kOk;
}

// Brace indexing (or IndexGetField) of a plain value at position k.
StatusCode BracesOfValue(EngineContext* ctx, int n, uint32_t colonMask, int k, bool field, SymbolId s) {
  const ValueDescriptor d = *DescriptorAt(ctx, k);
  const bool ok = field ? d.kind == kComposite && (d.extra == kStruct || d.extra == kStructArray)
                        : d.kind == kComposite && (d.extra == kList || d.extra == kCellArray);
  int32_t subs[kMaxIndexDims];
  StatusCode st = kOk;
  const bool scalar = ScalarSubscripts(ctx, n, colonMask, subs, &st);
  if (!ok) return RaiseError(ctx, kNonListVar, -1, 0, scalar && st == kOk ? int64_t{subs[0]} + 1 : -1, nullptr);
  if (st != kOk) return RaiseError(ctx, st, -1, 0, -1, nullptr);
  if (!scalar) {
    int count = 0;
    if (st = ConvertIndexArguments(ctx, n, colonMask, &count, false); st != kOk) return RaiseIndexError(ctx, st, -1);
    if (st = IndexCompositeValue(ctx, n, colonMask, k); st != kOk) return RaiseIndexError(ctx, st, -1);
    if (field) return FieldOfValue(ctx, s);
    MakeTopListOf(ctx, kFreeList);
    return kOk;
  }
  CompositeView c;
  if (!ReadComposite(d, DataAt(ctx, k), &c)) return kWrongType;
  int64_t beyond = 0;
  const int64_t item = ItemNumber(c, n, subs, &beyond);
  if (item < 0) return RaiseError(ctx, kIndexOutOfRange, -1, 0, beyond, nullptr);
  CompositeElementHeader* target = nullptr;
  if (field) {
    target = FindField(ElementAfter(c.first, item * c.fields), c.fields, s);
    if (target == nullptr) return RaiseError(ctx, kUndefField, -1, s, -1, nullptr);
  } else {
    target = ElementAfter(c.first, item);
  }
  const int64_t at = reinterpret_cast<Cell*>(target) - DataAt(ctx, k);
  DropArgsUnderResults(ctx, 0, k);
  KeepElementOfTop(ctx, reinterpret_cast<CompositeElementHeader*>(TopData(ctx) + at));
  return kOk;
}

StatusCode IndexByBraces(EngineContext* ctx, int n, uint32_t colonMask, bool field, SymbolId s) {
  if (n > kMaxIndexDims) return kBadDim;
  const int k = CountIndexValues(n, colonMask);
  if (!IsReference(*DescriptorAt(ctx, k))) return BracesOfValue(ctx, n, colonMask, k, field, s);
  Reference* r = ReferenceAt(ctx, k);
  int32_t subs[kMaxIndexDims];
  StatusCode st = kOk;
  if (ScalarSubscripts(ctx, n, colonMask, subs, &st)) {
    if (st != kOk) return Fail(ctx, r, RaiseError(ctx, st, r->variable, 0, -1, nullptr));
    if (st = BracesAtReference(ctx, r, n, subs, field, s); st != kOk) return st;
    DropArgsUnderResults(ctx, 0, k);
    return kOk;
  }
  // Ranges, colons and masks read a selection; they assign nothing.
  if (r->mode == 1) return Fail(ctx, r, RaiseError(ctx, kBadListIndex, r->variable, 0, -1, nullptr));
  if (st = DereferenceAt(ctx, k); st != kOk) return st;
  return BracesOfValue(ctx, n, colonMask, k, field, s);
}

// ---------------------------------------------------------------------------
// Parentheses.

StatusCode IndexByParentheses(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  const uint32_t colonMask = static_cast<uint16_t>(ins[2]);
  const int nargout = ins[3];
  if (n > kMaxIndexDims) return kOutOfRangeArg;
  const int k = CountIndexValues(n, colonMask);
  const bool throughReference = IsReference(*DescriptorAt(ctx, k));

  // x(i) and x(i, j) of a real matrix: no conversion of the indices.
  if (colonMask == 0 && k == n && (n == 1 || n == 2) && (nargout == 1 || nargout == -1)) {
    const Target t = TargetAt(ctx, k);
    if (const int64_t at = ScalarElement(ctx, n, t.d); at >= 0) {
      const double x = t.data[at].f;
      ctx->dataTop -= k + (throughReference ? kReferenceCells : t.d.cells);
      ctx->descLength -= 3 * (k + 1);
      Cell* out = nullptr;
      PushValue(ctx, 0, 1, 1, Room::kAll, &out);
      out->f = x;
      return kOk;
    }
  }

  int count = 0;
  Target t = TargetAt(ctx, k);
  if (StatusCode st = ConvertIndexArguments(ctx, n, colonMask, &count, true); st != kOk)
    return RaiseIndexError(ctx, st, t.variable);
  t = TargetAt(ctx, k);

  // A function value indexed with parentheses is called with the indices.
  if (t.d.kind == kBoxed && (t.d.extra == kInlineFunction || t.d.extra == kFunctionRef)) {
    if (colonMask != 0) return RaiseError(ctx, kBadIndexType, t.variable, 0, -1, nullptr);
    if (throughReference)
      if (StatusCode st = DereferenceAt(ctx, k); st != kOk) return st;
    return CallFunctionFromArgument(ctx, false, GetCurrentLibraryIndex(ctx), k + 1, nargout);
  }
  if (nargout != 1 && nargout != -1 && !(nargout == 0 && throughReference))
    return nargout >= 2 ? kTooManyArgout : kTooFewArgout;

  ArrayInfo a;
  if (ReadArrayInfo(t.d, t.data, &a)) {
    if (StatusCode st =
            SelectArrayElements(ctx, a.re, a.im, a.ndims, a.dims, a.subtype, a.elementKind, a.cls, n, colonMask);
        st != kOk)
      return RaiseIndexError(ctx, st, t.variable);
    DropArgsUnderResults(ctx, 1, 1);
    if (nargout == 0) PopValue(ctx);
    return kOk;
  }
  if (IsContainer(t.d)) {
    if (throughReference)
      if (StatusCode st = DereferenceAt(ctx, k); st != kOk) return st;
    if (StatusCode st = IndexCompositeValue(ctx, n, colonMask, k); st != kOk)
      return RaiseIndexError(ctx, st, t.variable);
    if (nargout == 0) PopValue(ctx);
    return kOk;
  }
  return throughReference ? RaiseError(ctx, kWrongVarType, t.variable, 0, -1, nullptr) : kWrongType;
}

// ---------------------------------------------------------------------------
// Indexed assignment and deletion.

// Whether position p of a deletion plan's dimension is deleted; the index
// list is sorted and distinct, so a cursor walks it once per outer block.
struct DeletedPositions {
  const DeletionPlan& plan;
  const int32_t* list;
  const uint8_t* mask;
  int32_t cursor = 0;
  bool Deleted(int32_t p) {
    if (list != nullptr) {
      while (cursor < plan.deleted && list[cursor] < p) ++cursor;
      return cursor < plan.deleted && list[cursor] == p;
    }
    if (mask != nullptr) return mask[p] != 0;
    return plan.deleted == plan.length;
  }
};

// Pushes the array that remains of a after the plan's deletion.
StatusCode PushRemainingElements(EngineContext* ctx, const ArrayInfo& a, const DeletionPlan& plan, const int32_t* list,
                                 const uint8_t* mask) {
  uint8_t* re = nullptr;
  uint8_t* im = nullptr;
  if (a.elementKind == kDoubleElements) {
    double* r = nullptr;
    double* i = nullptr;
    if (StatusCode st = PushDoubleArray(ctx, plan.ndims, plan.dims, &r, a.im ? &i : nullptr); st != kOk) return st;
    re = reinterpret_cast<uint8_t*>(r), im = reinterpret_cast<uint8_t*>(i);
  } else if (a.elementKind == kSingleElements) {
    float* r = nullptr;
    float* i = nullptr;
    if (StatusCode st = PushSingleArray(ctx, plan.ndims, plan.dims, &r, a.im ? &i : nullptr); st != kOk) return st;
    re = reinterpret_cast<uint8_t*>(r), im = reinterpret_cast<uint8_t*>(i);
  } else {
    void* data = nullptr;
    if (StatusCode st = PushIntegerArray(ctx, plan.ndims, plan.dims, a.elementKind, a.isUnsigned, &data); st != kOk)
      return st;
    DescriptorAt(ctx, 0)->extra = a.subtype;
    re = static_cast<uint8_t*>(data);
  }
  const int size = a.elementKind < 0 ? -a.elementKind : a.elementKind;
  const auto* inRe = static_cast<const uint8_t*>(a.re);
  const auto* inIm = static_cast<const uint8_t*>(a.im);
  int64_t w = 0;
  for (int32_t o = 0; o < plan.outer; ++o) {
    DeletedPositions del{plan, list, mask};
    for (int32_t p = 0; p < plan.length; ++p) {
      if (del.Deleted(p)) continue;
      const int64_t from = (int64_t{o} * plan.length + p) * plan.inner;
      std::memcpy(re + w * size, inRe + from * size, int64_t{plan.inner} * size);
      if (im && inIm) std::memcpy(im + w * size, inIm + from * size, int64_t{plan.inner} * size);
      w += plan.inner;
    }
  }
  return kOk;
}

// Element counts of a value that assigns into a list or cell array: its
// items, or 0 for a value without elements.
int64_t NewValueElements(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  CompositeView c;
  if (IsContainer(d) && ReadComposite(d, DataAt(ctx, position), &c)) return c.count;
  int64_t count = 1;
  if (GetArgDims(ctx, position, nullptr, nullptr, &count) != kOk) return 1;
  return count;
}

// List and cell targets: [ref][new][k index values] on the stack.
StatusCode AssignCompositeElements(EngineContext* ctx, int n, uint32_t colonMask, int k) {
  Reference* r = ReferenceAt(ctx, k + 1);
  const int v = r->variable;
  CompositeElementHeader* e = Designated(ctx, r);
  const int32_t subtype = e->extra;
  CompositeView c;
  ReadComposite(DescriptorOf(e), ElementData(e), &c);
  const ValueDescriptor nd = *DescriptorAt(ctx, k);

  if (NewValueElements(ctx, k) == 0) {
    // Deletion: the items that remain, and for a cell array its new dims.
    if (!(IsPlainMatrix(nd) || IsBoxedArray(nd))) {
      // An empty list or cell deletes as [] does.
      RotateValues(ctx, k + 1, 1);
      PopValue(ctx);
      PushEmptyMatrix(ctx);
      RotateValues(ctx, k + 1, k);
    }
    DeletionPlan plan;
    const int32_t* list = nullptr;
    const uint8_t* mask = nullptr;
    if (StatusCode st = PlanElementDeletion(ctx, c.ndims, c.dims, n, colonMask, &plan, &list, &mask); st != kOk)
      return RaiseIndexError(ctx, st, v);
    if (!plan.deletes) return DropArgsUnderResults(ctx, 0, k);
    int64_t cells = subtype == kCellArray ? DimsElementCells(plan.ndims) : 0;
    CompositeElementHeader* item = c.first;
    for (int64_t i = 0; i < c.count; ++i, item = NextElement(item)) cells += ElementSpan(item);
    Cell* scratch = nullptr;
    if (StatusCode st = GetScratchAtDataEnd(ctx, cells, &scratch); st != kOk) return st;
    Cell* w = scratch;
    if (subtype == kCellArray) w = WriteDims(w, plan.dims, plan.ndims);
    item = c.first;
    for (int32_t o = 0; o < plan.outer; ++o) {
      DeletedPositions del{plan, list, mask};
      for (int32_t p = 0; p < plan.length; ++p) {
        const bool gone = del.Deleted(p);
        for (int32_t i = 0; i < plan.inner; ++i, item = NextElement(item)) {
          if (gone) continue;
          std::memcpy(w, item, ElementSpan(item) * sizeof(Cell));
          w += ElementSpan(item);
        }
      }
    }
    if (StatusCode st = InstallContent(ctx, r, scratch, w - scratch, subtype, true); st != kOk) return st;
    return DropArgsUnderResults(ctx, 0, k);
  }

  if (nd.kind != kComposite) return kWrongType;
  // The selection: growth first, then the numbers of the selected items.
  IndexAnalysis a;
  IndexGrowth g;
  if (StatusCode st = AnalyzeIndexArguments(ctx, c.ndims, c.dims, 0, nullptr, n, colonMask, &a, false, &g); st != kOk)
    return RaiseIndexError(ctx, st, v);
  for (int j = 0; j < a.ndims; ++j)
    if (a.list[j] != nullptr)
      for (int32_t q = 0; q < a.count[j]; ++q) ++a.list[j][q];
  if (g.grow) {
    if (subtype == kList && !(g.ndims == 2 && g.dims[0] <= 1))
      return RaiseError(ctx, kIndexOutOfRange, v, 0, -1, nullptr);
    if (StatusCode st = GrowCellArrayAtReference(ctx, r, c, subtype, g.ndims, g.dims); st != kOk) return st;
    e = Designated(ctx, r);
    ReadComposite(DescriptorOf(e), ElementData(e), &c);
  }
  int32_t dims[kMaxDims];
  for (int j = 0; j < c.ndims; ++j) dims[j] = c.dims[j];
  void* numbers = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, c.ndims, dims, 4, false, &numbers); st != kOk) return st;
  for (int64_t i = 0; i < c.count; ++i) static_cast<int32_t*>(numbers)[i] = static_cast<int32_t>(i);
  RotateValues(ctx, k + 1, k);
  const ArrayView nums = ReadArray(DataAt(ctx, k));
  if (StatusCode st =
          SelectArrayElements(ctx, nums.data, nullptr, c.ndims, dims, kNumericArray, 4, kInt32, n, colonMask);
      st != kOk)
    return RaiseIndexError(ctx, st, v);
  DropArgsUnderResults(ctx, 1, 1);  // [ref][new][selected]
  const ArrayView sel = ReadArray(TopData(ctx));
  const int64_t selected = sel.count;

  // The new value's items: one per selected place, or one for all.
  CompositeView nv;
  const bool spread = (nd.extra == kList || nd.extra == kCellArray) && ReadComposite(nd, DataAt(ctx, 1), &nv);
  const int64_t supplied = spread ? nv.count : 1;
  if (supplied != 1 && supplied != selected) return RaiseError(ctx, kIncompAsgnSize, v, 0, -1, nullptr);
  if (selected == 0) {
    if (supplied > 1) return kBadSize;
    PopValue(ctx);
    return kOk;
  }

  // Ranks sorted by position; the last assignment to a place wins.
  int64_t cells = subtype == kCellArray ? DimsElementCells(c.ndims) : 0;
  const int64_t pairCells = selected;
  Cell* pairs = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, pairCells, &pairs); st != kOk) return st;
  // Each pair is {place; rank} in one word, so sorting the words orders the
  // places and, within a place, the ranks.
  auto* order = reinterpret_cast<uint64_t*>(pairs);
  for (int64_t i = 0; i < selected; ++i)
    order[i] =
        uint64_t{static_cast<uint32_t>(reinterpret_cast<const int32_t*>(sel.data)[i])} << 32 | static_cast<uint32_t>(i);
  std::sort(order, order + selected);
  auto keys = [order](int64_t q) { return static_cast<int32_t>(order[q] >> 32); };
  auto ranks = [order](int64_t q) { return static_cast<int32_t>(order[q] & 0xFFFFFFFFu); };
  auto newItem = [&](int32_t rank) {
    return spread ? ElementAfter(nv.first, supplied == 1 ? 0 : rank) : static_cast<CompositeElementHeader*>(nullptr);
  };
  auto span = [&](CompositeElementHeader* x) { return x ? ElementSpan(x) : kElementHeaderCells + int64_t{nd.cells}; };
  {
    CompositeElementHeader* item = c.first;
    int64_t q = 0;
    for (int64_t i = 0; i < c.count; ++i, item = NextElement(item)) {
      int32_t rank = -1;
      for (; q < selected && keys(q) == i; ++q) rank = std::max(rank, ranks(q));
      cells += rank >= 0 ? span(newItem(rank)) : ElementSpan(item);
    }
  }
  Cell* scratch = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, cells + pairCells, &scratch); st != kOk) return st;
  Cell* w = scratch;
  if (subtype == kCellArray) w = WriteDims(w, c.dims, c.ndims);
  CompositeElementHeader* item = c.first;
  int64_t q = 0;
  const Cell* whole = DataAt(ctx, 1);
  for (int64_t i = 0; i < c.count; ++i, item = NextElement(item)) {
    int32_t rank = -1;
    for (; q < selected && keys(q) == i; ++q) rank = std::max(rank, ranks(q));
    if (rank < 0) {
      std::memcpy(w, item, ElementSpan(item) * sizeof(Cell));
      w += ElementSpan(item);
      continue;
    }
    if (CompositeElementHeader* x = newItem(rank)) {
      std::memcpy(w, x, ElementSpan(x) * sizeof(Cell));
    } else {
      *reinterpret_cast<CompositeElementHeader*>(w) = {nd.kind, nd.cells, nd.extra, 0};
      std::memcpy(w + kElementHeaderCells, whole, int64_t{nd.cells} * sizeof(Cell));
    }
    reinterpret_cast<CompositeElementHeader*>(w)->name = 0;
    w += span(newItem(rank));
  }
  PopValue(ctx);  // the selection; [ref][new]
  return InstallContent(ctx, r, scratch, w - scratch, subtype, true);
}

// Numeric, char and logical targets (and a placeholder, which takes the new
// value's class): [ref][new][k index values].
StatusCode AssignArrayAtReference(EngineContext* ctx, int n, uint32_t colonMask, int k, Reference* r,
                                  const ArrayInfo* target) {
  const int v = r->variable;
  if (target != nullptr) {
    DeletionPlan plan;
    const int32_t* list = nullptr;
    const uint8_t* mask = nullptr;
    if (StatusCode st = PlanElementDeletion(ctx, target->ndims, target->dims, n, colonMask, &plan, &list, &mask);
        st != kOk)
      return RaiseIndexError(ctx, st, v);
    if (plan.deletes) {
      if (StatusCode st = PushRemainingElements(ctx, *target, plan, list, mask); st != kOk) return st;
      r = ReferenceAt(ctx, k + 2);
      if (StatusCode st = ReplaceDesignated(ctx, r, *DescriptorAt(ctx, 0), TopData(ctx)); st != kOk) return st;
      DropArgsUnderResults(ctx, 0, k + 1);
      return kOk;
    }
  }
  bool grew = false;
  StatusCode st =
      target == nullptr
          ? AssignArrayElements(ctx, nullptr, nullptr, 0, nullptr, 0, false, false, false, n, colonMask, &grew)
          : AssignArrayElements(ctx, target->re, target->im, target->ndims, target->dims, target->elementKind,
                                target->isUnsigned, target->isChar, target->isLogical, n, colonMask, &grew);
  if (st != kOk) return RaiseIndexError(ctx, st, v);
  if (grew) {
    r = ReferenceAt(ctx, 2);
    if (st = ReplaceDesignated(ctx, r, *DescriptorAt(ctx, 0), TopData(ctx)); st != kOk) return st;
    PopValue(ctx);
  }
  return kOk;
}

// x(i) = y and x(i, j) = y of a real matrix with a real scalar: in place.
bool AssignScalarInPlace(EngineContext* ctx, int n, int k) {
  if (k != n || (n != 1 && n != 2)) return false;
  double y = 0;
  if (!PlainScalar(ctx, k + 1, &y)) return false;
  Reference* r = ReferenceAt(ctx, k);
  if (r->created) return false;
  CompositeElementHeader* e = Designated(ctx, r);
  const int64_t at = ScalarElement(ctx, n, DescriptorOf(e));
  if (at < 0) return false;
  ElementData(e)[at].f = y;
  Commit(ctx, r);
  ctx->dataTop -= k + kReferenceCells + 1;
  ctx->descLength -= 3 * (k + 2);
  return true;
}

// Scans one frame's values (descriptor words [from, to), their data ending
// at cell end) for references that hold a detached copy.
int64_t ReleaseInValues(EngineContext* ctx, int32_t from, int32_t to, int64_t end) {
  for (int32_t w = to - 3; w >= from; w -= 3) {
    const auto* d = reinterpret_cast<const ValueDescriptor*>(ctx->descBase + w);
    end -= d->cells;
    if (IsReference(*d)) Abandon(ctx, reinterpret_cast<Reference*>(ctx->dataBase + end));
  }
  return end;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opcode handlers.

void ReleaseDetachedReferences(EngineContext* ctx) {
  int64_t end = ctx->dataTop;
  int32_t top = ctx->descLength;
  for (CallFrame* f = CurrentFrame(ctx); f != nullptr; f = PreviousFrame(ctx, f)) {
    const int32_t position = static_cast<int32_t>(reinterpret_cast<int32_t*>(f) - ctx->descBase);
    end = ReleaseInValues(ctx, position + FrameExtent(f), top, end);
    top = position;
  }
  ReleaseInValues(ctx, 0, top, end);
}

StatusCode OpLoadVar(EngineContext* ctx, const int16_t* ins) {
  const int v = ins[1];
  Place p;
  if (StatusCode st = LocateVariable(ctx, v, &p); st != kOk) return st;
  if (p.block <= 0) return UndefinedVariable(ctx, v);
  const ValueDescriptor d = BlockDescriptor(ctx, p.block);
  Cell* data = nullptr;
  if (StatusCode st = PushValue(ctx, d.kind, d.cells, d.extra, IsPlainMatrix(d) ? Room::kAll : Room::kStrict, &data);
      st != kOk)
    return RaiseError(ctx, st == kDescStackFull ? kDescStackFullToo : kDataStackFullToo, v, 0, -1, nullptr);
  if (d.cells > 0) std::memcpy(data, ctx->heapBase + p.block + kVariableHeaderCells, int64_t{d.cells} * sizeof(Cell));
  return kOk;
}

StatusCode OpStoreVar(EngineContext* ctx, const int16_t* ins) { return StoreTopInto(ctx, ins[1]); }

StatusCode OpClearVar(EngineContext* ctx, const int16_t* ins) {
  Place p;
  if (StatusCode st = LocateVariable(ctx, ins[1], &p); st != kOk) return st;
  ClearSlot(ctx, FrameSlots(FindScopeFrame(ctx)) + ins[1]);
  return kOk;
}

StatusCode OpClear(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr) return kIllegal;
  int32_t* slots = FrameSlots(f);
  const int32_t count = FrameSlotCount(f);
  if (nargin <= 0) {
    for (int32_t i = 0; i < count; ++i) ClearSlot(ctx, slots + i);
    return kOk;
  }
  for (int p = 0; p < nargin; ++p)
    if (!IsCharArg(ctx, p)) return kWrongType;
  if (nargin == 1) {
    const ArrayView a = ReadArray(DataAt(ctx, 0));
    const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
    if (a.count >= 2 && codes[0] == '-' && codes[1] == 'f') {
      if (IsAnyFunctionActive(ctx)) return kBadContext;
      for (int32_t i = 1; i < ctx->entriesInUse; ++i)
        if (StoreEntry(ctx, i)->kind < 0 && StoreEntry(ctx, i)->position > 0)
          if (StatusCode st = DiscardFunctionCode(ctx, i); st != kOk) return st;
      PopValue(ctx);
      return kOk;
    }
  }
  for (int p = nargin - 1; p >= 0; --p) {
    char name[kVariableNameBytes];
    int64_t length = 0;
    // A name longer than a variable's matches none.
    if (CopyStringArgToBuffer(ctx, p, name, sizeof name, &length) != kOk) continue;
    for (int32_t i = 0; i < count; ++i) {
      const char* known = GetVariableName(ctx, i);
      if (known != nullptr && VariableNameLength(known) == length && std::memcmp(known, name, length) == 0)
        ClearSlot(ctx, slots + i);
    }
  }
  return DropArgsUnderResults(ctx, 0, nargin);
}

StatusCode OpDeclareGlobal(EngineContext* ctx, const int16_t* ins) {
  const int v = ins[1];
  const bool persistent = ins[2] != 0;
  const CallFrame* current = CurrentFrame(ctx);
  if (current != nullptr && current->sandboxed) return kSecViolationGlobal;
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr || v < 0 || v >= FrameSlotCount(f)) return kIllegal;
  const char* name = GetVariableName(ctx, v);
  if (name == nullptr) return kIllegal;
  SymbolId symbol = 0;
  if (StatusCode st = InternSymbol(ctx, name, VariableNameLength(name), kVariableNameBytes, &symbol); st != kOk)
    return st;
  const int32_t owner = persistent ? FrameFunctionEntry(ctx, f) : -1;
  int32_t entry = -1;
  for (int32_t i = 1; i < ctx->entriesInUse && entry < 0; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind == kEntryVariable && e->name == symbol && e->qualifier == owner) entry = i;
  }
  if (entry < 0) return kIllegal;

  int32_t link = 0, empty = 0;
  if (StatusCode st = AllocateHeapBlock(ctx, kVariableHeaderCells + 4, &link); st != kOk) return st;
  if (StoreEntry(ctx, entry)->position <= 0) {
    if (StatusCode st = AllocateHeapBlock(ctx, kVariableHeaderCells, &empty); st != kOk) {
      FreeHeapBlock(ctx, link);
      return st;
    }
    WriteVariableDescriptor(ctx, empty, {0, 0, 0});
    StoreEntry(ctx, entry)->position = empty;
  }
  WriteVariableDescriptor(ctx, link, {kLink, 4, 0});
  Cell* data = ctx->heapBase + link + kVariableHeaderCells;
  std::memset(data, 0, 4 * sizeof(Cell));
  data[0].iw[1] = 1;
  data[1].iw[0] = entry;
  data[3].iw[0] = v;
  // The slot's own value goes; a link it held is only a link.
  int32_t* slot = FrameSlots(f) + v;
  FreeHeapBlock(ctx, *slot);
  *slot = link;
  return kOk;
}

StatusCode OpIncrementVar(EngineContext* ctx, const int16_t* ins) {
  const int v = ins[1];
  const double delta = ins[0] == static_cast<int16_t>(Op::DecrementVar) ? -1.0 : 1.0;
  Place p;
  if (StatusCode st = LocateVariable(ctx, v, &p); st != kOk) return st;
  if (p.block <= 0) return RaiseError(ctx, kUndefVar, v, 0, -1, nullptr);
  const ValueDescriptor d = BlockDescriptor(ctx, p.block);
  if (!IsPlainMatrix(d)) return RaiseError(ctx, kWrongVarType, v, 0, -1, nullptr);
  Cell* data = ctx->heapBase + p.block + kVariableHeaderCells;
  const int64_t count = (d.kind & kComplex) ? d.cells / 2 : d.cells;
  for (int64_t i = 0; i < count; ++i) data[i].f += delta;
  return kOk;
}

StatusCode OpDisplayVar(EngineContext* ctx, const int16_t* ins) { return DisplayNamedValue(ctx, ins[1]); }

StatusCode OpDisplayStored(EngineContext* ctx, const int16_t* ins) {
  Place p;
  if (StatusCode st = LocateVariable(ctx, ins[1], &p); st != kOk) return st;
  if (p.block <= 0) return UndefinedVariable(ctx, ins[1]);
  return DisplayNamedValue(ctx, ins[1]);
}

StatusCode OpStoreAnsDisplay(EngineContext* ctx, const int16_t* ins) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind == kVoid) {
    PopValue(ctx);
    return kOk;
  }
  // A free list is spread: its elements but the last are shown without a
  // name, as disp shows them, and the last becomes the variable.
  if (d.kind == kComposite && d.extra == kFreeList) {
    int left = 0;
    if (StatusCode st = SpreadFreeLists(ctx, 1, &left); st != kOk) return st;
    if (left == 0) return kOk;
    for (; left > 1; --left) {
      RotateValues(ctx, left, 1);  // the first remaining element to the top
      if (StatusCode st = CoreDisplayTopValue(ctx, kStdoutDescriptor, true); st != kOk) return st;
    }
  }
  if (StatusCode st = StoreTopInto(ctx, ins[1]); st != kOk) return st;
  return DisplayNamedValue(ctx, ins[1]);
}

StatusCode OpRefVar(EngineContext* ctx, const int16_t* ins) {
  const bool assign = ins[0] == static_cast<int16_t>(Op::RefVarForAssign);
  const int v = ins[1];
  if (ctx->descLength + 3 >= ctx->descCapacity) return RaiseError(ctx, kDescStackFullToo, v, 0, -1, nullptr);
  if (kReferenceCells >= FreeDataCells(ctx)) return RaiseError(ctx, kDataStackFullToo, v, 0, -1, nullptr);
  Place p;
  if (StatusCode st = LocateVariable(ctx, v, &p); st != kOk) return st;
  Reference r{assign ? 1u : 0u, 2, p.slot, p.block, 0, 0, v, 0};
  if (p.block <= 0) {
    if (!assign) return UndefinedVariable(ctx, v);
    // The placeholder stays out of the slot until the assignment completes.
    if (StatusCode st = AllocateHeapBlock(ctx, kVariableHeaderCells, &r.block); st != kOk) return st;
    WriteVariableDescriptor(ctx, r.block, {kComposite, 0, kList});
    r.created = 1;
    r.detached = 1;
  }
  Cell* data = nullptr;
  PushValue(ctx, kLink, kReferenceCells, 0, Room::kStrict, &data);
  std::memcpy(data, &r, sizeof r);
  return kOk;
}

StatusCode OpEndRef(EngineContext* ctx, const int16_t*) {
  if (!IsReference(*DescriptorAt(ctx, 0))) return kOk;
  return DereferenceAt(ctx, 0);
}

StatusCode OpEndRefAssign(EngineContext* ctx, const int16_t*) {
  if (!IsReference(*DescriptorAt(ctx, 0))) return kIllegal;
  Reference* r = ReferenceAt(ctx, 0);
  const ValueDescriptor d = *DescriptorAt(ctx, 1);
  if (d.kind == kComposite && d.extra == kFreeList)
    return Fail(ctx, r, RaiseError(ctx, kFreeListAssignment, r->variable, 0, -1, nullptr));
  if (IsReference(d)) return Fail(ctx, r, kIllegal);
  if (d.kind != kVoid) {
    if (StatusCode st = ReplaceDesignated(ctx, r, d, DataAt(ctx, 1)); st != kOk) return Fail(ctx, r, st);
    Commit(ctx, r);
  } else {
    // Nothing to store, as for a plain assignment of no value.
    Abandon(ctx, r);
  }
  return DropArgsUnderResults(ctx, 0, 2);
}

StatusCode OpGetField(EngineContext* ctx, const int16_t* ins) { return FieldStep(ctx, ins[1]); }

StatusCode OpGetDynamicField(EngineContext* ctx, const int16_t*) {
  if (ctx->descLength < 6) return kIllegal;
  SymbolId s = 0;
  if (StatusCode st = ReadFieldName(ctx, &s); st != kOk) {
    if (CountFrameValues(ctx) > 1 && IsReference(*DescriptorAt(ctx, 1))) Fail(ctx, ReferenceAt(ctx, 1), st);
    return st;
  }
  // A refusal leaves [value][name] as they were (the value perhaps copied
  // out of its variable): the overload step hands the name to an object's
  // subsref or subsasgn, and a room failure can repeat the instruction.
  RotateValues(ctx, 2, 1);
  if (StatusCode st = FieldStep(ctx, s); st != kOk) {
    RotateValues(ctx, 2, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode OpIndexValue(EngineContext* ctx, const int16_t* ins) { return IndexByParentheses(ctx, ins); }
StatusCode OpIndexVar(EngineContext* ctx, const int16_t* ins) { return IndexByParentheses(ctx, ins); }

StatusCode OpCellIndexValue(EngineContext* ctx, const int16_t* ins) {
  return IndexByBraces(ctx, ins[1], static_cast<uint16_t>(ins[2]), false, 0);
}

StatusCode OpIndexGetField(EngineContext* ctx, const int16_t* ins) {
  return IndexByBraces(ctx, ins[1], static_cast<uint16_t>(ins[2]), true, ins[3]);
}

StatusCode OpIndexGetDynamicField(EngineContext* ctx, const int16_t* ins) {
  SymbolId s = 0;
  if (StatusCode st = PopFieldName(ctx, &s); st != kOk) {
    const int k = CountIndexValues(ins[1], static_cast<uint16_t>(ins[2]));
    if (k + 1 < CountFrameValues(ctx) && IsReference(*DescriptorAt(ctx, k + 1))) Fail(ctx, ReferenceAt(ctx, k + 1), st);
    return st;
  }
  return IndexByBraces(ctx, ins[1], static_cast<uint16_t>(ins[2]), true, s);
}

StatusCode OpIndexEndOrBeginning(EngineContext* ctx, const int16_t* ins) {
  const auto op = static_cast<Op>(ins[0]);
  const int depth = ins[1], k = ins[2], n = ins[3];
  if (op == Op::IndexBeginning) return PushRealScalar(ctx, 1);
  const Target t = TargetAt(ctx, depth);
  int nd = 0;
  int32_t dims[kMaxDims + 1] = {0, 0};
  ArrayInfo a;
  CompositeView c;
  if (t.ref != nullptr && t.ref->created && t.d.cells == 0) {
    nd = 2;  // a placeholder is still empty
  } else if (ReadArrayInfo(t.d, t.data, &a)) {
    nd = a.ndims;
    std::copy(a.dims, a.dims + nd, dims);
  } else if (t.d.kind == kComposite && t.d.extra == kStruct) {
    nd = 0;
  } else if (ReadComposite(t.d, t.data, &c)) {
    nd = c.ndims;
    std::copy(c.dims, c.dims + nd, dims);
  } else {
    return RaiseError(ctx, kWrongVarType, t.variable, 0, -1, nullptr);
  }
  if (op == Op::IndexEnd) {
    int64_t value = 1;
    if (k >= 1 && k <= nd) {
      value = dims[k - 1];
      if (k == n)
        for (int j = k; j < nd; ++j) value *= dims[j];
    }
    return PushRealScalar(ctx, static_cast<double>(value));
  }
  const bool rows = op == Op::IndexMatrixRow;
  if (nd < 2) nd = 2, dims[0] = dims[1] = 1;
  if (n == 1) {
    double* out = nullptr;
    if (StatusCode st = PushDoubleArray(ctx, nd, dims, &out, nullptr); st != kOk) return st;
    int64_t pages = 1;
    for (int j = 2; j < nd; ++j) pages *= dims[j];
    int64_t w = 0;
    for (int64_t p = 0; p < pages; ++p)
      for (int32_t i = 0; i < dims[0]; ++i)
        for (int32_t j = 0; j < dims[1]; ++j) out[w++] = rows ? i + 1 : j + 1;
    return kOk;
  }
  const int32_t length = rows ? dims[0] : dims[1];
  double* out = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, length, &out, nullptr); st != kOk) return st;
  for (int32_t i = 0; i < length; ++i) out[i] = i + 1;
  return kOk;
}

StatusCode OpIndexVarForAssign(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  const uint32_t colonMask = static_cast<uint16_t>(ins[2]);
  if (n > kMaxIndexDims) return kOutOfRangeArg;
  const int k = CountIndexValues(n, colonMask);
  if (!IsReference(*DescriptorAt(ctx, k))) return kIllegal;
  if (colonMask == 0 && AssignScalarInPlace(ctx, n, k)) return kOk;
  Reference* r = ReferenceAt(ctx, k);
  const int v = r->variable;
  if (IsReference(*DescriptorAt(ctx, k + 1))) return Fail(ctx, r, kIllegal);
  const ValueDescriptor nd = *DescriptorAt(ctx, k + 1);
  if (nd.kind == kComposite && nd.extra == kFreeList)
    return Fail(ctx, r, RaiseError(ctx, kFreeListAssignment, v, 0, -1, nullptr));
  int count = 0;
  if (StatusCode st = ConvertIndexArguments(ctx, n, colonMask, &count, false); st != kOk)
    return Fail(ctx, ReferenceAt(ctx, k), RaiseIndexError(ctx, st, v));
  // [new][ref][indices] becomes [ref][new][indices], the kernels' order.
  RotateValues(ctx, k + 2, 1);
  RotateValues(ctx, k + 1, k);
  r = ReferenceAt(ctx, k + 1);

  CompositeElementHeader* e = Designated(ctx, r);
  const bool placeholder = r->created && e->cells == 0;
  StatusCode st = kOk;
  ArrayInfo a;
  if (placeholder && nd.kind == kComposite && (nd.extra == kList || nd.extra == kCellArray)) {
    // A placeholder that receives items becomes an empty cell array first.
    const CompositeView none{2, {0, 0}, 0, -1, nullptr};
    const int32_t zero[2] = {0, 0};
    e->kind = kComposite;
    st = GrowCellArrayAtReference(ctx, r, none, kCellArray, 2, zero);
    if (st == kOk) st = AssignCompositeElements(ctx, n, colonMask, k);
  } else if (placeholder) {
    st = AssignArrayAtReference(ctx, n, colonMask, k, r, nullptr);
  } else if (ReadArrayInfo(DescriptorOf(e), ElementData(e), &a)) {
    st = AssignArrayAtReference(ctx, n, colonMask, k, r, &a);
  } else if (e->kind == kComposite && (e->extra == kList || e->extra == kCellArray)) {
    st = AssignCompositeElements(ctx, n, colonMask, k);
  } else if (e->kind == kComposite && e->extra >= kList) {
    st = kWrongType;
  } else {
    st = RaiseError(ctx, kWrongVarType, v, 0, -1, nullptr);
  }
  // Done, the stack is [ref][new]; after a failure the reference lies
  // somewhere among the top values.
  if (st == kOk) {
    Commit(ctx, ReferenceAt(ctx, 1));
    return DropArgsUnderResults(ctx, 0, 2);
  }
  const int values = CountFrameValues(ctx);
  for (int p = 0; p < std::min(values, k + 3); ++p)
    if (IsReference(*DescriptorAt(ctx, p))) return Fail(ctx, ReferenceAt(ctx, p), st);
  return st;
}

StatusCode OpSubsref(EngineContext*, const int16_t*) { return kNotSupported; }
StatusCode OpSubsasgn(EngineContext*, const int16_t*) { return kNotSupported; }
