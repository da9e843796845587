// References into a variable's value: the reference a RefVar pushes, the
// change of the element it designates (in place or on a detached copy), the
// reshaping of the composite it walks in, and the final step that stores
// through it.
#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/frames.h"
#include "engine/heap.h"
#include "engine/indexing.h"
#include "engine/variableaccess.h"
#include "engine/vm.h"

namespace {

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

// A change of element x in place: inside the counted composite it keeps the
// composite's count; anywhere else in its block it may move or rewrite it.
void KeepCountedElements(EngineContext* ctx, int32_t block, int64_t x, int64_t delta) {
  auto& k = ctx->counted;
  if (k.stamp != ctx->valueStamp || k.block != block) return;
  if (k.offset < x && x < k.offset + kElementHeaderCells + k.cells) {
    k.cells += delta;
  } else {
    ValuesChanged(ctx);
  }
}

constexpr CompositeElementHeader kEmptyElement = {0, 0, 0, 0};

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

void Commit(EngineContext* ctx, Reference* r) {
  if (!r->detached) return;
  int32_t* target = TargetWord(ctx, r->slot);
  const int32_t old = *target;
  *target = r->block;
  if (old > 0 && old != r->block) FreeHeapBlock(ctx, old);
  r->detached = 0;
}

void Abandon(EngineContext* ctx, Reference* r) {
  if (!r->detached) return;
  FreeHeapBlock(ctx, r->block);
  r->detached = 0;
  r->block = 0;
}

StatusCode Fail(EngineContext* ctx, Reference* r, StatusCode st) {
  if (r != nullptr && !IsRoomCode(st)) Abandon(ctx, r);
  return st;
}

StatusCode ChangeElement(EngineContext* ctx, Reference* r, int64_t x, int64_t at, int64_t remove, int64_t insert,
                         bool final, Cell** gap) {
  Cell* base = ctx->heapBase + r->block;
  const int64_t total = kVariableHeaderCells + int64_t{base[0].iw[1]};
  const int64_t delta = insert - remove;
  const int64_t grown = total + delta;
  if (grown > kHeapCountMask) return kObjTooLarge;  // no block holds it, however large
  // A value that grows keeps room to spare inside its block, so that growth
  // by one element at a time costs amortised constant time. Free room after
  // the block would not do: the next allocation of another value takes it.
  const auto roomy = static_cast<int32_t>(grown + std::min<int64_t>(grown / 2, kHeapCountMask - grown));
  if ((final || r->detached) && (grown <= HeapBlockCells(ctx, r->block) || ExtendHeapBlock(ctx, r->block, roomy) ||
                                 ExtendHeapBlock(ctx, r->block, static_cast<int32_t>(grown)))) {
    std::memmove(base + at + insert, base + at + remove, (total - at - remove) * sizeof(Cell));
    if (delta != 0) AdjustEnclosingElementSizes(base, x, delta);
    KeepCountedElements(ctx, r->block, x, delta);
    // A value that shrank to less than half its block gives the rest back.
    if (grown < HeapBlockCells(ctx, r->block) / 2) ShrinkHeapBlock(ctx, r->block, static_cast<int32_t>(grown));
    *gap = base + at;
    return kOk;
  }
  int32_t fresh = 0;
  if (delta <= 0 || AllocateHeapBlock(ctx, roomy, &fresh) != kOk) {
    if (StatusCode st = AllocateHeapBlock(ctx, static_cast<int32_t>(grown), &fresh); st != kOk) return st;
  }
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

bool HasRoomToChange(EngineContext* ctx, const Reference* r, int64_t delta) {
  const int64_t grown = kVariableHeaderCells + int64_t{ctx->heapBase[r->block].iw[1]} + delta;
  if (grown > kHeapCountMask) {
    ctx->roomAsked = grown * int64_t{sizeof(Cell)};
    return false;
  }
  if (grown <= HeapBlockCells(ctx, r->block) || HasRoomAfterHeapBlock(ctx, r->block, static_cast<int32_t>(grown)))
    return true;
  // A block of that size now is one then: nothing allocates in between.
  int32_t probe = 0;
  if (AllocateHeapBlock(ctx, static_cast<int32_t>(grown), &probe) != kOk) return false;
  FreeHeapBlock(ctx, probe);
  return true;
}

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

StatusCode DereferenceAt(EngineContext* ctx, int position) {
  (void)RotateValues(ctx, position + 1, 1);
  const Reference r = *ReferenceAt(ctx, 0);
  CompositeElementHeader* e = Designated(ctx, &r);
  const ValueDescriptor d = DescriptorOf(e);
  if (int64_t{d.cells} - kReferenceCells >= FreeDataCells(ctx)) {
    (void)RotateValues(ctx, position + 1, position);
    return kDataStackFull;
  }
  PopValue(ctx);
  Cell* data = nullptr;
  (void)PushValue(ctx, d.kind, d.cells, d.extra, Room::kAll, &data);  // room was checked above
  if (d.cells > 0) std::memcpy(data, ElementData(Designated(ctx, &r)), int64_t{d.cells} * sizeof(Cell));
  (void)RotateValues(ctx, position + 1, position);
  return kOk;
}

// ---------------------------------------------------------------------------
// Composite rebuilding.

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
  if (cells > kMaxPlainCells) return kObjTooLarge;
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

namespace {

// Whether growth to dims keeps c's items in the first storage places, so the
// new ones only follow them.
bool AppendsInStorageOrder(const CompositeView& c, int nd, const int32_t* dims) {
  if (c.count == 0) return true;
  int32_t subs[kMaxDims];
  LinearIndexToSubscripts(c.ndims, c.dims, c.count - 1, subs);
  return SubscriptsToLinearIndex(nd, dims, c.ndims, subs) == c.count - 1;
}

}  // namespace

StatusCode AppendItemsAtReference(EngineContext* ctx, Reference* r, const CompositeView& c, const GrowthToStore& g,
                                  bool* taken) {
  *taken = false;
  CompositeElementHeader* e = Designated(ctx, r);
  const int32_t subtype = e->extra;
  const ValueDescriptor& v = g.value;
  if (v.kind == kVoid || IsReference(v) || (v.kind == kComposite && v.extra == kFreeList)) return kOk;
  const bool structs = subtype == kStructArray;
  if (structs ? c.fields <= 0 || g.field == 0 || FindField(c.first, c.fields, g.field) == nullptr
              : g.field != 0 || (subtype != kList && subtype != kCellArray))
    return kOk;
  if (subtype != kList && (e->cells == 0 || c.ndims != g.ndims || !AppendsInStorageOrder(c, g.ndims, g.dims)))
    return kOk;
  int64_t total = 1;
  for (int j = 0; j < g.ndims; ++j) total *= g.dims[j];
  const int64_t perItem = structs ? int64_t{c.fields} : 1;
  const int64_t insert = (total - c.count) * perItem * kElementHeaderCells + v.cells;
  if (int64_t{e->cells} + insert > kMaxPlainCells) return kOk;  // the general path reports it
  *taken = true;

  const int64_t x = r->offset;
  const int64_t end = x + ElementSpan(e);
  Cell* gap = nullptr;
  if (StatusCode st = ChangeElement(ctx, r, x, end, 0, insert, true, &gap); st != kOk) return st;
  e = Designated(ctx, r);
  const CompositeElementHeader* model = nullptr;
  if (structs) {
    int32_t entries[kMaxDims + 1];
    std::copy(g.dims, g.dims + g.ndims, entries);
    entries[g.ndims] = c.fields;
    WriteDimsElement(ElementData(e), entries, g.ndims + 1);
    model = reinterpret_cast<CompositeElementHeader*>(ElementData(e) + DimsElementCells(g.ndims + 1));
  } else if (subtype == kCellArray) {
    WriteDimsElement(ElementData(e), g.dims, g.ndims);
  }
  Cell* w = gap;
  Cell* target = nullptr;
  for (int64_t q = c.count; q < total; ++q) {
    const CompositeElementHeader* name = model;
    for (int64_t f = 0; f < perItem; ++f) {
      auto* h = reinterpret_cast<CompositeElementHeader*>(w);
      *h = {0, 0, 0, structs ? name->name : 0};
      if (structs) name = NextElement(name);
      if (q == g.item && (!structs || h->name == g.field)) {
        *h = {v.kind, v.cells, v.extra, h->name};
        if (v.cells > 0) std::memcpy(ElementData(h), g.data, int64_t{v.cells} * sizeof(Cell));
        target = w;
      }
      w += ElementSpan(h);
    }
  }
  Cell* base = ctx->heapBase + r->block;
  ctx->counted = {ctx->valueStamp, r->block, static_cast<int32_t>(x), e->cells,
                  total * perItem + (subtype == kList ? 0 : 1)};
  r->offset = static_cast<int32_t>(target - base);
  r->created = 0;
  return kOk;
}

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
  if (cells > kMaxPlainCells) return kObjTooLarge;
  Cell* scratch = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, cells, &scratch); st != kOk) return st;
  int32_t entries[kMaxDims + 1];
  std::copy(dims, dims + nd, entries);
  entries[nd] = fields;
  Cell* w = WriteDims(scratch, entries, nd + 1);
  e = c.first;
  int32_t subs[kMaxDims];
  int64_t taken = 0;
  // Structures without fields have no elements to place.
  for (int64_t q = 0; q < total && (c.fields > 0 || add != 0); ++q) {
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
  (void)PushValue(ctx, kLink, kReferenceCells, 0, Room::kStrict, &data);  // room was checked above
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
