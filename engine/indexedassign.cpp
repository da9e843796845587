// Indexed assignment and deletion through a reference: x(i) = y on arrays,
// lists and cell arrays, growth and deletion included, with the scalar case
// written in place.
#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/evaluate.h"
#include "engine/frames.h"
#include "engine/indexing.h"
#include "engine/variableaccess.h"
#include "engine/vm.h"

namespace {

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
[[nodiscard]] StatusCode PushRemainingElements(EngineContext* ctx, const ArrayInfo& a, const DeletionPlan& plan,
                                               const int32_t* list, const uint8_t* mask) {
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
[[nodiscard]] StatusCode AssignCompositeElements(EngineContext* ctx, int n, uint32_t colonMask, int k) {
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
      (void)RotateValues(ctx, k + 1, 1);
      PopValue(ctx);
      (void)PushValue(ctx, 0, 0, 0, Room::kAll, nullptr);  // [] in the place of the popped value
      (void)RotateValues(ctx, k + 1, k);
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
  (void)RotateValues(ctx, k + 1, k);
  const ArrayView nums = ReadArray(DataAt(ctx, k));
  if (StatusCode st =
          SelectArrayElements(ctx, nums.data, nullptr, c.ndims, dims, kNumericArray, 4, kInt32, n, colonMask);
      st != kOk)
    return RaiseIndexError(ctx, st, v);
  (void)DropArgsUnderResults(ctx, 1, 1);  // [ref][new][selected]
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

// Grows the array that the reference at a stack position designates in its
// heap block: the block extends into free room after it, or moves once with
// room to spare, so that growth at the end costs amortised constant time.
// Only a shape whose layout stays that of a fresh array of the new shape
// grows here: a plain real or complex double matrix that stays a matrix, and
// a real boxed array that keeps its number of dimensions.
class ElementGrower final : public ArrayGrower {
 public:
  ElementGrower(EngineContext* ctx, int position) : ctx_(ctx), position_(position) {}

  StatusCode Grow(int nd, const int32_t* dims, uint8_t** re, uint8_t** im, bool* done) override {
    *done = false;
    uint32_t shape[kMaxDims];
    for (int j = 0; j < nd; ++j) shape[j] = static_cast<uint32_t>(dims[j]);
    nd = NormalizeDimensions(shape, nd);
    int32_t grown[kMaxDims];
    int64_t count = 1;
    for (int j = 0; j < nd; ++j) count *= grown[j] = static_cast<int32_t>(shape[j]);
    Reference* r = ReferenceAt(ctx_, position_);
    CompositeElementHeader* e = Designated(ctx_, r);
    ArrayInfo a;
    if (!ReadArrayInfo(DescriptorOf(e), ElementData(e), &a) || count <= a.count) return kOk;
    const bool plain = IsPlainMatrix(DescriptorOf(e));
    const bool complex = a.im != nullptr;
    const int size = a.elementKind < 0 ? -a.elementKind : a.elementKind;
    int64_t cells = 0;
    if (plain) {
      if (nd != 2 || count * (complex ? 2 : 1) > kMaxPlainCells) return kOk;
      cells = count * (complex ? 2 : 1);
    } else {
      // Beyond these counts a fresh array reports the size.
      if (complex || nd != a.ndims || count > std::min(kMaxFloatArrayElements, kMaxIntegerElements)) return kOk;
      cells = ArrayPayloadCells(a.cls, nd, count);
    }
    const int32_t had = e->cells;
    Cell* gap = nullptr;
    const int64_t end = r->offset + kElementHeaderCells + had;
    if (StatusCode st = ChangeElement(ctx_, r, r->offset, end, 0, cells - had, true, &gap); st != kOk) return st;

    // The element may have moved with its block; what follows its old cells
    // is not yet written.
    e = Designated(ctx_, r);
    uint8_t* data = nullptr;
    if (plain) {
      e->extra = grown[1];
      data = reinterpret_cast<uint8_t*>(ElementData(e));
    } else {
      data = reinterpret_cast<uint8_t*>(WriteArrayHeader(ElementData(e), a.cls, shape, nd));
    }
    if (complex) {
      // The imaginary part follows the real one: it moves to its new start.
      std::memmove(data + count * size, data + a.count * size, a.count * size);
      SpreadToLargerShape(data + count * size, size, a.ndims, a.dims, nd, grown);
    }
    SpreadToLargerShape(data, size, a.ndims, a.dims, nd, grown);
    // The bytes after the elements stay zero, as in a fresh array.
    const auto* last = reinterpret_cast<uint8_t*>(ElementData(e) + cells);
    uint8_t* after = data + count * size * (complex ? 2 : 1);
    std::memset(after, 0, last - after);
    *re = data;
    *im = complex ? data + count * size : nullptr;
    *done = true;
    return kOk;
  }

  bool HasRoomFor(int64_t cells) override {
    const Reference* r = ReferenceAt(ctx_, position_ + 1);  // under the pushed array
    return HasRoomToChange(ctx_, r, cells - Designated(ctx_, r)->cells);
  }

 private:
  EngineContext* ctx_;
  int position_;
};

// Numeric, char and logical targets (and a placeholder, which takes the new
// value's class): [ref][new][k index values].
[[nodiscard]] StatusCode AssignArrayAtReference(EngineContext* ctx, int n, uint32_t colonMask, int k, Reference* r,
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
      (void)DropArgsUnderResults(ctx, 0, k + 1);
      return kOk;
    }
  }
  bool grew = false;
  ElementGrower grower(ctx, k + 1);
  StatusCode st =
      target == nullptr
          ? AssignArrayElements(ctx, nullptr, nullptr, 0, nullptr, 0, false, false, false, n, colonMask, &grew, &grower)
          : AssignArrayElements(ctx, target->re, target->im, target->ndims, target->dims, target->elementKind,
                                target->isUnsigned, target->isChar, target->isLogical, n, colonMask, &grew, &grower);
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
  int64_t at = ScalarElement(ctx, n, DescriptorOf(e));
  if (at < 0) {
    // x(end + 1) = y on a real row or column, or on [] with 1: the block
    // grows by one cell, mostly in place.
    double i = 0;
    if (n != 1 || e->kind != 0 || !PlainScalar(ctx, 0, &i)) return false;
    const int32_t count = e->cells, cols = e->extra, rows = cols > 0 ? count / cols : 0;
    const bool row = rows == 1, column = cols == 1 && rows > 1, empty = count == 0 && cols == 0;
    if (!(row || column || empty) || i != static_cast<double>(count) + 1 || count >= kMaxPlainCells) return false;
    Cell* gap = nullptr;
    const int64_t end = r->offset + kElementHeaderCells + count;
    if (ChangeElement(ctx, r, r->offset, end, 0, 1, true, &gap) != kOk) return false;  // the general path reports
    e = Designated(ctx, r);
    e->extra = column ? 1 : count + 1;
    at = count;
  }
  ElementData(e)[at].f = y;
  Commit(ctx, r);
  ctx->dataTop -= k + kReferenceCells + 1;
  ctx->descLength -= 3 * (k + 2);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opcode handlers.

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
  bool appended = false;
  if (StatusCode st = AppendItemByParentheses(ctx, n, colonMask, k, &appended); st != kOk || appended) return st;
  int count = 0;
  if (StatusCode st = ConvertIndexArguments(ctx, n, colonMask, &count, false); st != kOk)
    return Fail(ctx, ReferenceAt(ctx, k), RaiseIndexError(ctx, st, v));
  // [new][ref][indices] becomes [ref][new][indices], the kernels' order.
  (void)RotateValues(ctx, k + 2, 1);
  (void)RotateValues(ctx, k + 1, k);
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
  // Short of room the kernels leave [ref][new][indices] as they found them:
  // the instruction's own order comes back, so that it can run again.
  if (IsRoomCode(st) && k + 2 <= CountFrameValues(ctx) && IsReference(*DescriptorAt(ctx, k + 1))) {
    (void)RotateValues(ctx, k + 1, 1);
    (void)RotateValues(ctx, k + 2, k + 1);
    return st;
  }
  const int values = CountFrameValues(ctx);
  for (int p = 0; p < std::min(values, k + 3); ++p)
    if (IsReference(*DescriptorAt(ctx, p))) return Fail(ctx, ReferenceAt(ctx, p), st);
  return st;
}

StatusCode OpSubsasgn(EngineContext* ctx, const int16_t*) {
  const ValueDescriptor d = *DescriptorAt(ctx, 2);
  const bool subscriptable =
      IsPlainMatrix(d) || IsBoxedArray(d) ||
      (d.kind == kComposite && (d.extra == kList || d.extra == kCellArray || d.extra == kStruct));
  if (!subscriptable) return kWrongType;
  const int32_t mark = ctx->descLength;
  auto fail = [&](StatusCode st) {
    while (ctx->descLength > mark) PopValue(ctx);
    return ReportedStatus(st);
  };
  int type = 0;
  if (StatusCode st = ReadSubscriptStruct(ctx, 1, &type); st != kOk) return fail(st);
  if (type == 3) {
    // setfield runs over (value, name, new value) as an instruction of its
    // own, so that a block grown for its result repeats it there rather than
    // this instruction, whose subscript structure is gone by then.
    (void)RotateValues(ctx, 2, 1);
    (void)DropArgsUnderResults(ctx, 2, 1);
    const int16_t setfield[] = {static_cast<int16_t>(Op::Setfield)};
    return EnterCodeFragment(ctx, setfield, 1, 3, 1, 0, GetCurrentLibraryIndex(ctx), true);
  }
  int n = 0;
  uint32_t mask = 0;
  const int32_t before = ctx->descLength;
  if (StatusCode st = ExpandSubscripts(ctx, &n, &mask); st != kOk) return fail(st);
  const int k = (ctx->descLength - before) / 3 + 1;  // index values
  // The fragment runs over (new value, indices, a copy of the value): the
  // copy becomes its variable and is changed through a reference to it.
  if (StatusCode st = DuplicateValues(ctx, k + 2, 1); st != kOk) return fail(st);
  (void)DropArgsUnderResults(ctx, k + 2, 2);
  int16_t words[16];
  int count = 0;
  for (int16_t w : {static_cast<int16_t>(Op::StoreVar), int16_t{0}, static_cast<int16_t>(Op::RefVarForAssign),
                    int16_t{0}, static_cast<int16_t>(Op::Rotate), static_cast<int16_t>(k + 1), static_cast<int16_t>(k)})
    words[count++] = w;
  words[count++] = static_cast<int16_t>(type == 1 ? Op::IndexVarForAssign : Op::CellIndexValue);
  words[count++] = static_cast<int16_t>(n);
  words[count++] = static_cast<int16_t>(mask);
  if (type == 2) words[count++] = static_cast<int16_t>(Op::EndRefAssign);
  words[count++] = static_cast<int16_t>(Op::LoadVar);
  words[count++] = 0;
  return EnterCodeFragment(ctx, words, count, k + 2, 1, 1, GetCurrentLibraryIndex(ctx), true);
}
