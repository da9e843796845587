// Indexed reading: parentheses on arrays and composites (with the scalar
// fast path), braces and IndexGetField on cells and structures (a reference
// moves to the selected item, growing the value when it assigns), and the
// end and beginning of an index.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/errors.h"
#include "engine/frames.h"
#include "engine/indexing.h"
#include "engine/variableaccess.h"
#include "engine/vm.h"

// ---------------------------------------------------------------------------
// Views of values.

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

namespace {

bool ReadCountedComposite(const ValueDescriptor& d, Cell* data, int64_t elements, CompositeView* c) {
  if (!IsContainer(d)) return false;
  if (d.cells == 0 && (d.extra == kCellArray || d.extra == kStructArray)) {
    *c = {2, {0, 0}, 0, d.extra == kCellArray ? -1 : 0, reinterpret_cast<CompositeElementHeader*>(data)};
    return true;
  }
  if (GetCountedCompositeInfo(&d, reinterpret_cast<CompositeElementHeader*>(data), elements, '?', &c->ndims, c->dims,
                              &c->count, &c->fields, &c->first) != kOk)
    return false;
  if (d.extra == kList || d.extra == kStruct) {
    c->ndims = 2;
    c->dims[0] = c->count == 0 ? 0 : 1;
    c->dims[1] = static_cast<int32_t>(c->count);
  }
  return true;
}

}  // namespace

bool ReadComposite(const ValueDescriptor& d, Cell* data, CompositeView* c) {
  if (!IsContainer(d)) return false;
  return ReadCountedComposite(d, data, CountElementsIn(reinterpret_cast<CompositeElementHeader*>(data), d.cells), c);
}

bool ReadDesignatedComposite(EngineContext* ctx, const Reference* r, CompositeView* c) {
  CompositeElementHeader* e = Designated(ctx, r);
  const ValueDescriptor d = DescriptorOf(e);
  if (!IsContainer(d)) return false;
  auto& k = ctx->counted;
  if (k.stamp != ctx->valueStamp || k.block != r->block || k.offset != r->offset || k.cells != d.cells)
    k = {ctx->valueStamp, r->block, r->offset, d.cells,
         CountElementsIn(reinterpret_cast<CompositeElementHeader*>(ElementData(e)), d.cells)};
  return ReadCountedComposite(d, ElementData(e), k.elements, c);
}

void KeepElementOfTop(EngineContext* ctx, CompositeElementHeader* e) {
  const ValueDescriptor d = DescriptorOf(e);
  Cell* out = TopData(ctx);
  std::memmove(out, ElementData(e), int64_t{d.cells} * sizeof(Cell));
  ctx->dataTop -= DescriptorAt(ctx, 0)->cells - d.cells;
  *DescriptorAt(ctx, 0) = d;
}

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

StatusCode RaiseIndexError(EngineContext* ctx, StatusCode st, int v) {
  switch (st) {
    case kBadIndexType:
    case kNonIntegerIndex:
    case kIndexOutOfRange:
    case kBadListIndex:
    case kWrongNumInd:
    case kIncompSelectionSize:
    case kIncompAsgnSize:
      // The detailed messages name a variable; a value indexed without one
      // (a call's result, subsref's operand, subsasgn's unnamed copy) takes
      // the plain message.
      if (const char* name = v >= 0 ? GetVariableName(ctx, v) : nullptr; name == nullptr || VariableNameLength(name) == 0) {
        (void)StoreLastErrorMessage(ctx, st, nullptr, 0, true, nullptr);
        return st;
      }
      return RaiseError(ctx, st, v, 0, -1, nullptr);
    default:
      return ReportedStatus(st);
  }
}

namespace {

// ---------------------------------------------------------------------------
// Braces.

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
// With stored, the instruction that stores through the reference comes next
// and will store that value.
[[nodiscard]] StatusCode BracesAtReference(EngineContext* ctx, Reference* r, int n, const int32_t* subs, bool field,
                                           SymbolId s, const Target* stored) {
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
  if (!ok || !ReadDesignatedComposite(ctx, r, &c))
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
    if (stored != nullptr) {
      // The item's number among the grown items, as ItemNumber gives it after growth.
      CompositeView larger = c;
      larger.ndims = nd;
      larger.count = 1;
      for (int j = 0; j < nd; ++j) larger.count *= larger.dims[j] = dims[j];
      const GrowthToStore g{nd, dims, ItemNumber(larger, n, subs, &beyond), field ? s : 0, stored->d, stored->data};
      bool taken = false;
      st = AppendItemsAtReference(ctx, r, c, g, &taken);
      if (taken) return st == kOk ? kOk : Fail(ctx, r, st);
    }
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

}  // namespace

StatusCode AppendItemByParentheses(EngineContext* ctx, int n, uint32_t colonMask, int k, bool* taken) {
  *taken = false;
  int32_t subs[kMaxIndexDims];
  StatusCode st = kOk;
  if (n != 1 || !ScalarSubscripts(ctx, n, colonMask, subs, &st) || st != kOk) return kOk;
  Reference* r = ReferenceAt(ctx, k);
  CompositeElementHeader* e = Designated(ctx, r);
  const ValueDescriptor d = DescriptorOf(e);
  if (d.kind != kComposite || (d.extra != kList && d.extra != kCellArray) || (r->created && d.cells == 0)) return kOk;
  // The new value must hold exactly one item.
  const ValueDescriptor nd = *DescriptorAt(ctx, k + 1);
  CompositeView nv;
  if (nd.kind != kComposite || (nd.extra != kList && nd.extra != kCellArray) ||
      !ReadComposite(nd, DataAt(ctx, k + 1), &nv) || nv.count != 1)
    return kOk;
  CompositeView c;
  if (!ReadDesignatedComposite(ctx, r, &c)) return kOk;
  int64_t beyond = 0;
  int grownNd = 0;
  int32_t dims[kMaxDims];
  if (ItemNumber(c, n, subs, &beyond) >= 0 || !GrownDims(c, d.extra, n, subs, &grownNd, dims, &st)) return kOk;
  // One index: the item is the subscript itself.
  const GrowthToStore g{grownNd, dims, subs[0], 0, DescriptorOf(nv.first), ElementData(nv.first)};
  if (st = AppendItemsAtReference(ctx, r, c, g, taken); st != kOk) return Fail(ctx, r, st);
  if (!*taken) return kOk;
  Commit(ctx, r);
  return DropArgsUnderResults(ctx, 0, k + 2);
}

namespace {

// Parenthesis selection of a list, cell array, structure or structure array
// at position k under k converted index values: the result replaces them.
[[nodiscard]] StatusCode IndexCompositeValue(EngineContext* ctx, int n, uint32_t colonMask, int k) {
  const int32_t subtype = DescriptorAt(ctx, k)->extra;
  if (StatusCode st = BuildElementOffsetTable(ctx, k, false); st != kOk) return st;
  (void)RotateValues(ctx, k + 1, k);
  const ArrayView t = ReadArray(DataAt(ctx, k));
  int32_t dims[kMaxDims];
  for (int j = 0; j < t.ndims; ++j) dims[j] = static_cast<int32_t>(t.dims[j]);
  if (StatusCode st = SelectArrayElements(ctx, t.data, nullptr, t.ndims, dims, kNumericArray, 4, kInt32, n, colonMask);
      st != kOk)
    return st;
  (void)DropArgsUnderResults(ctx, 1, 1);
  int32_t fields = 0;
  if (StatusCode st = GatherCompositeElements(ctx, 1, &fields); st != kOk) return st;
  (void)DropArgsUnderResults(ctx, 1, 2);
  if (subtype == kList) MakeTopListOf(ctx, kList);
  return kOk;
}

// Brace indexing (or IndexGetField) of a plain value at position k.
[[nodiscard]] StatusCode BracesOfValue(EngineContext* ctx, int n, uint32_t colonMask, int k, bool field, SymbolId s) {
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
  if (item < 0) return RaiseIndexError(ctx, kIndexOutOfRange, -1);
  CompositeElementHeader* target = nullptr;
  if (field) {
    target = FindField(ElementAfter(c.first, item * c.fields), c.fields, s);
    if (target == nullptr) return RaiseError(ctx, kUndefField, -1, s, -1, nullptr);
  } else {
    target = ElementAfter(c.first, item);
  }
  const int64_t at = reinterpret_cast<Cell*>(target) - DataAt(ctx, k);
  (void)DropArgsUnderResults(ctx, 0, k);
  KeepElementOfTop(ctx, reinterpret_cast<CompositeElementHeader*>(TopData(ctx) + at));
  return kOk;
}

[[nodiscard]] StatusCode IndexByBraces(EngineContext* ctx, int n, uint32_t colonMask, bool field, SymbolId s,
                                       bool storeFollows) {
  if (n > kMaxIndexDims) return kBadDim;
  const int k = CountIndexValues(n, colonMask);
  if (!IsReference(*DescriptorAt(ctx, k))) return BracesOfValue(ctx, n, colonMask, k, field, s);
  Reference* r = ReferenceAt(ctx, k);
  int32_t subs[kMaxIndexDims];
  StatusCode st = kOk;
  if (ScalarSubscripts(ctx, n, colonMask, subs, &st)) {
    if (st != kOk) return Fail(ctx, r, RaiseError(ctx, st, r->variable, 0, -1, nullptr));
    Target next{};
    const Target* stored = nullptr;
    if (storeFollows && r->mode == 1 && k + 1 < CountFrameValues(ctx)) {
      next = {nullptr, *DescriptorAt(ctx, k + 1), DataAt(ctx, k + 1), -1};
      stored = &next;
    }
    if (st = BracesAtReference(ctx, r, n, subs, field, s, stored); st != kOk) return st;
    (void)DropArgsUnderResults(ctx, 0, k);
    return kOk;
  }
  // Ranges, colons and masks read a selection; they assign nothing.
  if (r->mode == 1) return Fail(ctx, r, RaiseError(ctx, kBadListIndex, r->variable, 0, -1, nullptr));
  if (st = DereferenceAt(ctx, k); st != kOk) return st;
  return BracesOfValue(ctx, n, colonMask, k, field, s);
}

// ---------------------------------------------------------------------------
// Parentheses.

[[nodiscard]] StatusCode IndexByParentheses(EngineContext* ctx, const int16_t* ins) {
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
      (void)PushValue(ctx, 0, 1, 1, Room::kAll, &out);  // in the place of the popped values
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
    (void)DropArgsUnderResults(ctx, 1, 1);
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

}  // namespace

// ---------------------------------------------------------------------------
// Opcode handlers.

StatusCode OpIndexValue(EngineContext* ctx, const int16_t* ins) { return IndexByParentheses(ctx, ins); }
StatusCode OpIndexVar(EngineContext* ctx, const int16_t* ins) { return IndexByParentheses(ctx, ins); }

namespace {

// Whether the next instruction stores through the reference: the growth of
// an assignment such as c{k} = v can then take the store with it.
bool StoreFollows(const int16_t* ins) {
  return ins[GetInstructionLength(ins)] == static_cast<int16_t>(Op::EndRefAssign);
}

}  // namespace

StatusCode OpCellIndexValue(EngineContext* ctx, const int16_t* ins) {
  return IndexByBraces(ctx, ins[1], static_cast<uint16_t>(ins[2]), false, 0, StoreFollows(ins));
}

StatusCode OpIndexGetField(EngineContext* ctx, const int16_t* ins) {
  return IndexByBraces(ctx, ins[1], static_cast<uint16_t>(ins[2]), true, ins[3], StoreFollows(ins));
}

StatusCode OpIndexGetDynamicField(EngineContext* ctx, const int16_t* ins) {
  SymbolId s = 0;
  if (StatusCode st = PopFieldName(ctx, &s); st != kOk) {
    const int k = CountIndexValues(ins[1], static_cast<uint16_t>(ins[2]));
    if (k + 1 < CountFrameValues(ctx) && IsReference(*DescriptorAt(ctx, k + 1)))
      return Fail(ctx, ReferenceAt(ctx, k + 1), st);
    return st;
  }
  return IndexByBraces(ctx, ins[1], static_cast<uint16_t>(ins[2]), true, s, StoreFollows(ins));
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
  } else if (t.ref != nullptr ? ReadDesignatedComposite(ctx, t.ref, &c) : ReadComposite(t.d, t.data, &c)) {
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

// ---------------------------------------------------------------------------
// subsref: indexing described by a structure {type, subs}.

namespace {

// Values subsref and subsasgn index: arrays, lists, cells and structures.
bool IsSubscriptable(const ValueDescriptor& d) {
  if (IsPlainMatrix(d) || IsBoxedArray(d)) return true;
  return d.kind == kComposite && (d.extra == kList || d.extra == kCellArray || d.extra == kStruct);
}

}  // namespace

// Pushes the "subs" of the structure at position and answers its "type": 1
// for "()", 2 for "{}", 3 for ".".
StatusCode ReadSubscriptStruct(EngineContext* ctx, int position, int* type) {
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind != kComposite || d.extra != kStruct) return kWrongTypeInternal;
  char text[3] = {};
  int64_t length = 0;
  if (StatusCode st = PushStructField(ctx, position, "type", 4); st != kOk) return st;
  const StatusCode read = CopyStringArgToBuffer(ctx, 0, text, 2, &length);
  PopValue(ctx);
  if (read == kObjTooLarge) return kUnknownOpt;
  if (read != kOk) return read;
  const std::string_view t(text, length);
  *type = t == "()" ? 1 : t == "{}" ? 2 : t == "." ? 3 : 0;
  if (*type == 0) return kUnknownOpt;
  return PushStructField(ctx, position, "subs", 4);
}

// Replaces the list or cell of subscripts on top by its values; a ":" becomes
// a bit of *colonMask instead. *n counts the subscripts.
StatusCode ExpandSubscripts(EngineContext* ctx, int* n, uint32_t* colonMask) {
  int32_t count = 0;
  CompositeElementHeader* first = nullptr;
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind != kComposite || (d.extra != kList && d.extra != kCellArray)) return kWrongTypeInternal;
  int64_t elements = 0;
  (void)GetCompositeInfo(&d, reinterpret_cast<CompositeElementHeader*>(TopData(ctx)), '?', nullptr, nullptr, &elements,
                         nullptr, &first);
  if (elements > kMaxIndexDims) return kOutOfRangeArg;
  count = static_cast<int32_t>(elements);
  int pushed = 0;
  *colonMask = 0;
  for (int32_t j = 0; j < count; ++j) {
    if (StatusCode st = PushListElement(ctx, pushed, j + 1); st != kOk) {
      while (pushed-- > 0) PopValue(ctx);
      return st;
    }
    if (IsCharArg(ctx, 0)) {
      char c[2] = {};
      int64_t length = 0;
      const StatusCode st = CopyStringArgToBuffer(ctx, 0, c, 1, &length);
      PopValue(ctx);
      if (st != kOk || length != 1 || c[0] != ':') {
        while (pushed-- > 0) PopValue(ctx);
        return kBadIndexType;
      }
      *colonMask |= 1u << j;
      continue;
    }
    ++pushed;
  }
  *n = count;
  return DropArgsUnderResults(ctx, pushed, 1);
}

StatusCode OpSubsref(EngineContext* ctx, const int16_t*) {
  if (!IsSubscriptable(*DescriptorAt(ctx, 1))) return kWrongType;
  // The work is done on a copy above the inputs, so a failure pops back to them.
  const int32_t mark = ctx->descLength;
  auto finish = [&](StatusCode st) {
    if (st == kOk) return DropArgsUnderResults(ctx, 1, 2);
    while (ctx->descLength > mark) PopValue(ctx);
    return ReportedStatus(st);
  };
  if (StatusCode st = DuplicateValues(ctx, 1, 1); st != kOk) return st;
  int type = 0;
  if (StatusCode st = ReadSubscriptStruct(ctx, 1, &type); st != kOk) return finish(st);
  if (type == 3) {
    const int16_t getfield[] = {static_cast<int16_t>(Op::Getfield)};
    return finish(RunCoreBuiltin(ctx, getfield));
  }
  int n = 0;
  uint32_t mask = 0;
  if (StatusCode st = ExpandSubscripts(ctx, &n, &mask); st != kOk) return finish(st);
  if (type == 1) {
    const int16_t ins[] = {static_cast<int16_t>(Op::IndexValue), static_cast<int16_t>(n), static_cast<int16_t>(mask),
                           1};
    return finish(IndexByParentheses(ctx, ins));
  }
  return finish(IndexByBraces(ctx, n, mask, false, 0, false));
}
