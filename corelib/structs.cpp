// Lists, cell arrays and structures: arrays cut into cells and lists and
// joined back, repeated lists, structures and structure arrays built from
// names and values, converted to and from cell arrays, and their fields
// queried, read, written, removed and reordered.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corelib/arrays.h"
#include "corelib/corelib.h"
#include "engine/bytecode.h"

namespace {

constexpr int kMaxNameBytes = 32;
constexpr int kMaxCutDims = 16;

void DropTop(EngineContext* ctx, int k) {
  for (int i = 0; i < k; ++i) PopValue(ctx);
}

bool IsStructValue(const ValueDescriptor& d) {
  return IsComposite(d) && (d.extra == kStruct || d.extra == kStructArray);
}

// Elements of a composite from its first one.
CompositeElementHeader* FirstElement(EngineContext* ctx, int position) {
  return reinterpret_cast<CompositeElementHeader*>(DataAt(ctx, position));
}

// The bytes of a char array element (low bytes of its codes) into buffer;
// 43 for an element of another kind. Longer names are cut at size, which
// finds or interns nothing, so the caller sees them as too long.
[[nodiscard]] StatusCode ElementText(const CompositeElementHeader* e, char* buffer, int size, int* length) {
  if (e->kind != kBoxed || e->extra != kCharArray) return kWrongTypeInternal;
  const ArrayView a = ReadArray(const_cast<Cell*>(ElementData(e)));
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  *length = static_cast<int>(std::min<int64_t>(a.count, size));
  for (int k = 0; k < *length; ++k) buffer[k] = static_cast<char>(codes[k]);
  if (a.count > size) *length = size + 1;  // marks the name too long
  return kOk;
}

[[nodiscard]] StatusCode InternName(EngineContext* ctx, const char* text, int64_t length, SymbolId* id) {
  if (length == 0) return kNullName;
  if (length > kMaxNameBytes) return kNameTooLong;
  return InternSymbol(ctx, text, static_cast<int>(length), kMaxNameBytes, id);
}

// The name of the char array at a position, interned.
[[nodiscard]] StatusCode InternArgName(EngineContext* ctx, int position, SymbolId* id) {
  char buffer[kMaxNameBytes + 1];
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, position, buffer, sizeof buffer, &length);
  if (st == kObjTooLarge || (st == kOk && length > kMaxNameBytes)) return kNameTooLong;
  if (st != kOk) return ReportedStatus(st);
  return InternName(ctx, buffer, length, id);
}

// Interns every name of a list or cell array of char arrays.
[[nodiscard]] StatusCode InternElementNames(EngineContext* ctx, int position, SymbolId* ids, int64_t capacity,
                                            int64_t* count) {
  int64_t n = 0;
  CompositeElementHeader* e = nullptr;
  if (StatusCode st = GetCompositeArgInfo(ctx, position, 'c', nullptr, nullptr, &n, nullptr, &e); st != kOk)
    return ReportedStatus(st);
  if (n > capacity) return kObjTooLarge;
  for (int64_t k = 0; k < n; ++k, e = NextElement(e)) {
    char text[kMaxNameBytes + 1];
    int length = 0;
    if (StatusCode st = ElementText(e, text, kMaxNameBytes, &length); st != kOk) return ReportedStatus(st);
    if (StatusCode st = InternName(ctx, text, length, &ids[k]); st != kOk) return st;
  }
  *count = n;
  return kOk;
}

bool HasDuplicates(const SymbolId* ids, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < i; ++j)
      if (ids[i] == ids[j]) return true;
  return false;
}

// Pushes element k of the array at a position as a 1 x 1 value of its class.
[[nodiscard]] StatusCode PushElement(EngineContext* ctx, int position, int64_t k) {
  ArrayKind kind;
  NumericView v;
  (void)ReadArrayKind(ctx, position, &kind, &v);
  if (kind.cls == kDouble) {
    const double im = ImagElement(v, k);
    return im != 0 ? PushComplexScalar(ctx, RealElement(v, k), im) : PushRealScalar(ctx, RealElement(v, k));
  }
  if (kind.cls == kSingle) return PushSingleScalar(ctx, RealElement(v, k), ImagElement(v, k), kind.complex);
  if (kind.subtype == kCharArray) {
    uint16_t* c = nullptr;
    const auto code = static_cast<uint16_t>(IntegerElement(v, k));
    if (StatusCode st = PushCharRow(ctx, 1, &c); st != kOk) return st;
    *c = code;
    return kOk;
  }
  if (kind.subtype == kLogicalArray) return PushLogicalScalar(ctx, v.data[k]);
  return PushIntegerScalar(ctx, kind.cls, IntegerElement(v, k));
}

// Cuts the array at a position into pieces: a piece spans the dimensions
// marked in spans at their full length and one position of every other
// dimension. The pieces are pushed in the storage order of their positions;
// the shape of that grid of positions goes to grid.
[[nodiscard]] StatusCode PushPieces(EngineContext* ctx, int position, const bool* spans, int* gridNd, int32_t* grid,
                                    int64_t* pieces) {
  ArrayKind kind;
  NumericView v;
  (void)ReadArrayKind(ctx, position, &kind, &v);
  const int nd = v.ndims;
  int32_t dims[kMaxDims], piece[kMaxDims];
  int64_t perPiece = 1;
  *pieces = 1;
  for (int j = 0; j < nd; ++j) {
    dims[j] = static_cast<int32_t>(v.dims[j]);
    piece[j] = spans[j] ? dims[j] : 1;
    grid[j] = spans[j] ? 1 : dims[j];
    perPiece *= piece[j];
    *pieces *= grid[j];
  }
  *gridNd = nd;
  int64_t stride[kMaxDims], gridStride[kMaxDims], pieceStride[kMaxDims];
  StorageStrides(nd, dims, stride);
  for (int j = 0; j < nd; ++j) gridStride[j] = spans[j] ? 0 : stride[j];
  for (int j = 0; j < nd; ++j) pieceStride[j] = spans[j] ? stride[j] : 0;

  int32_t at[kMaxDims] = {};
  int64_t base = 0;
  for (int64_t p = 0; p < *pieces; ++p) {
    uint8_t* re = nullptr;
    uint8_t* im = nullptr;
    StatusCode st = PushArrayOfKind(ctx, kind, nd, piece, &re, &im);
    if (st != kOk) {
      DropTop(ctx, static_cast<int>(p));
      return st;
    }
    ReadNumeric(ctx, position + static_cast<int>(p) + 1, &v);
    for (int part = 0; part < (kind.complex ? 2 : 1); ++part) {
      const uint8_t* src = v.data + part * v.count * kind.size;
      uint8_t* out = part == 0 ? re : im;
      int32_t in[kMaxDims] = {};
      int64_t offset = base;
      int64_t e = 0;
      do {
        std::memcpy(out + e++ * kind.size, src + offset * kind.size, kind.size);
      } while (e < perPiece && NextInStorageOrder(nd, piece, in, pieceStride, &offset));
    }
    (void)NextInStorageOrder(nd, grid, at, gridStride, &base);
  }
  return kOk;
}

// num2cell and num2list: the elements or pieces of x as a list, given x's
// shape (or the pieces' grid) as a cell array when dims are asked for.
[[nodiscard]] StatusCode CutIntoList(EngineContext* ctx, int nargin, const bool* spans, bool cells) {
  const int position = nargin - 1;
  ArrayKind kind;
  NumericView v;
  if (!ReadArrayKind(ctx, position, &kind, &v)) return kWrongType;
  if (v.count == 0) {
    if (StatusCode st = MakeListFromValues(ctx, 0, false, nullptr, 0); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (v.count > INT32_MAX / 2) return kObjTooLarge;
  int nd = v.ndims;
  int32_t grid[kMaxDims];
  int64_t pieces = 0;
  if (spans == nullptr) {
    for (int j = 0; j < nd; ++j) grid[j] = static_cast<int32_t>(v.dims[j]);
    pieces = v.count;
    for (int64_t k = 0; k < pieces; ++k)
      if (StatusCode st = PushElement(ctx, position + static_cast<int>(k), k); st != kOk) {
        DropTop(ctx, static_cast<int>(k));
        return st;
      }
  } else if (StatusCode st = PushPieces(ctx, position, spans, &nd, grid, &pieces); st != kOk) {
    return st;
  }
  if (StatusCode st = MakeListFromValues(ctx, static_cast<int>(pieces), false, nullptr, 0); st != kOk) {
    DropTop(ctx, static_cast<int>(pieces));
    return st;
  }
  if (cells) {
    while (nd > 2 && grid[nd - 1] == 1) --nd;
    if (StatusCode st = ReshapeTopCellArray(ctx, nd, grid); st != kOk) {
      PopValue(ctx);
      return st;
    }
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

// Rewrites the leading CellDimsElement of the composite on top with k
// entries and gives it the subtype, moving the elements after it.
[[nodiscard]] StatusCode RewriteDimsElement(EngineContext* ctx, const int32_t* entries, int k, int32_t subtype) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  Cell* data = TopData(ctx);
  const auto* first = reinterpret_cast<CompositeElementHeader*>(data);
  const int64_t oldCells = ElementSpan(first);
  const int64_t newCells = DimsElementCells(k);
  const int64_t delta = newCells - oldCells;
  if (delta > 0 && delta >= FreeDataCells(ctx)) return kDataStackFull;
  std::memmove(data + newCells, data + oldCells, (d.cells - oldCells) * sizeof(Cell));
  WriteDimsElement(data, entries, k);
  ctx->dataTop += static_cast<int32_t>(delta);
  *DescriptorAt(ctx, 0) = {kComposite, static_cast<int32_t>(d.cells + delta), subtype};
  return kOk;
}

// Gives every field of every structure of the composite on top a name, the
// names repeating over the structures (null names: no name).
void NameFieldsCyclically(EngineContext* ctx, const SymbolId* names, int64_t f) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  auto* e = reinterpret_cast<CompositeElementHeader*>(TopData(ctx));
  const Cell* end = TopData(ctx) + d.cells;
  if (d.extra == kCellArray || d.extra == kStructArray) e = NextElement(e);
  for (int64_t k = 0; reinterpret_cast<Cell*>(e) < end; ++k, e = NextElement(e)) e->name = names ? names[k % f] : 0;
}

// Pushes a permutation row and applies ipermute to the composite below it.
[[nodiscard]] StatusCode InversePermuteTop(EngineContext* ctx, const double* order, int k) {
  double* row = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, k, &row, nullptr); st != kOk) return st;
  std::memcpy(row, order, k * sizeof(double));
  if (StatusCode st = PermuteDimensions(ctx, 1); st != kOk) {
    PopValue(ctx);
    return st;
  }
  return kOk;
}

// Pushes an empty structure array of these dims and field count.
[[nodiscard]] StatusCode PushEmptyStructArray(EngineContext* ctx, int nd, const int32_t* dims, int32_t fields) {
  int32_t entries[kMaxDims + 1];
  std::copy(dims, dims + nd, entries);
  entries[nd] = fields;
  Cell* out = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, DimsElementCells(nd + 1), kStructArray, Room::kStrict, &out);
      st != kOk)
    return st;
  WriteDimsElement(out, entries, nd + 1);
  return kOk;
}

// Builds a structure on top from fields: each (name, element) copied whole,
// the element given as its header (name ignored) and data.
struct FieldSource {
  SymbolId name;
  const CompositeElementHeader* element;  // null: take the value at position
  int position;
};

[[nodiscard]] StatusCode PushStructFromFields(EngineContext* ctx, const FieldSource* fields, int64_t n) {
  int64_t cells = 0;
  for (int64_t k = 0; k < n; ++k)
    cells += kElementHeaderCells +
             (fields[k].element ? fields[k].element->cells : DescriptorAt(ctx, fields[k].position)->cells);
  if (cells > kMaxPlainCells) return kObjTooLarge;
  Cell* out = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, cells, kStruct, Room::kStrict, &out); st != kOk) return st;
  for (int64_t k = 0; k < n; ++k) {
    auto* h = reinterpret_cast<CompositeElementHeader*>(out);
    if (fields[k].element) {
      const CompositeElementHeader* e = fields[k].element;
      *h = {e->kind, e->cells, e->extra, fields[k].name};
      std::memcpy(out + kElementHeaderCells, ElementData(e), int64_t{e->cells} * sizeof(Cell));
    } else {
      const int p = fields[k].position + 1;  // the new structure sits above
      const ValueDescriptor v = *DescriptorAt(ctx, p);
      *h = {v.kind, v.cells, v.extra, fields[k].name};
      std::memcpy(out + kElementHeaderCells, DataAt(ctx, p), int64_t{v.cells} * sizeof(Cell));
    }
    out += ElementSpan(h);
  }
  return kOk;
}

// Field k of the structure at a position, or null.
const CompositeElementHeader* FindField(EngineContext* ctx, int position, SymbolId id, int64_t* index) {
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  const CompositeElementHeader* e = FirstElement(ctx, position);
  const Cell* end = DataAt(ctx, position) + d.cells;
  for (int64_t k = 0; reinterpret_cast<const Cell*>(e) < end; ++k, e = NextElement(e))
    if (id != 0 && e->name == id) {
      if (index) *index = k;
      return e;
    }
  return nullptr;
}

struct FieldNameOrder {
  EngineContext* ctx;
  const SymbolId* names;
};

// Byte by byte; a prefix first.
int CompareFieldNames(int a, int b, void* record) {
  const auto* r = static_cast<const FieldNameOrder*>(record);
  const SymbolId x = r->names[a], y = r->names[b];
  const int lx = x ? SymbolLength(r->ctx, x) : 0, ly = y ? SymbolLength(r->ctx, y) : 0;
  const int c = std::memcmp(x ? SymbolText(r->ctx, x) : "", y ? SymbolText(r->ctx, y) : "", std::min(lx, ly));
  if (c != 0) return c < 0 ? -1 : 1;
  return lx < ly ? -1 : lx > ly ? 1 : 0;
}

// Names of a structure's fields in order.
int64_t ReadFieldNames(EngineContext* ctx, int position, SymbolId* names, int64_t capacity) {
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  const CompositeElementHeader* e = FirstElement(ctx, position);
  const Cell* end = DataAt(ctx, position) + d.cells;
  int64_t n = 0;
  for (; reinterpret_cast<const Cell*>(e) < end && n < capacity; e = NextElement(e)) names[n++] = e->name;
  return n;
}

constexpr int kMaxOrderedFields = 4096;

}  // namespace

// ---------------------------------------------------------------------------

StatusCode RelabelCellAsStructArray(EngineContext* ctx, int flag) {
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int32_t fields = -1;
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsComposite(d) || d.extra != (flag == 0 ? kCellArray : kStructArray)) return kWrongTypeInternal;
  if (StatusCode st = GetCompositeArgInfo(ctx, 0, '?', &nd, dims, nullptr, &fields, nullptr); st != kOk) return st;
  int32_t entries[kMaxDims + 1];
  int k = 0;
  if (flag == 0) {
    if (nd == 2) dims[nd++] = 1;
    // A c x f x r cell holds an r x c structure array of f fields.
    entries[k++] = dims[2];
    entries[k++] = dims[0];
    for (int j = 3; j < nd; ++j) entries[k++] = dims[j];
    entries[k++] = dims[1];
    return RewriteDimsElement(ctx, entries, k, kStructArray);
  }
  entries[k++] = nd > 1 ? dims[1] : 1;
  entries[k++] = fields;
  entries[k++] = dims[0];
  for (int j = 2; j < nd; ++j) entries[k++] = dims[j];
  while (k > 2 && entries[k - 1] == 1) --k;
  return RewriteDimsElement(ctx, entries, k, kCellArray);
}

StatusCode num2cell(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  if (nargin == 1) return CutIntoList(ctx, 1, nullptr, true);
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, 0, &nd, dims, &count, &re, nullptr); st != kOk) return ReportedStatus(st);
  bool spans[kMaxDims] = {};
  for (int64_t k = 0; k < count; ++k) {
    if (!(re[k] >= 1)) return kBadDim;
    if (re[k] <= kMaxDims) spans[static_cast<int>(re[k]) - 1] = true;
  }
  return CutIntoList(ctx, 2, spans, true);
}

StatusCode num2list(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  if (nargin == 1) return CutIntoList(ctx, 1, nullptr, false);
  int32_t dim = 0;
  if (StatusCode st = GetIntegerScalarArg(ctx, 0, &dim); st != kOk) return ReportedStatus(st);
  if (dim < 1) return kBadDim;
  if (dim > kMaxCutDims) return kOutOfRangeArg;
  bool spans[kMaxDims];
  std::fill(spans, spans + kMaxDims, true);
  spans[dim - 1] = false;
  return CutIntoList(ctx, 2, spans, false);
}

StatusCode list2num(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 1, "E"); st != kOk) return st;
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  int32_t n = 0;
  if (StatusCode st = ExplodeTopList(ctx, &n); st != kOk) {
    PopValue(ctx);
    return ReportedStatus(st);
  }
  if (n == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
  } else if (StatusCode st = ConcatenateValues(ctx, n, 2); st != kOk) {
    DropTop(ctx, n);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode TestListOrCell(EngineContext* ctx, int flag) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  const bool yes = IsComposite(d) && (d.extra == kList || (flag == 1 && d.extra == kCellArray));
  if (StatusCode st = PushLogicalScalar(ctx, yes ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode replist(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 2, "li"); st != kOk) return st;
  int32_t n = 0;
  if (StatusCode st = GetIntegerScalarArg(ctx, 0, &n); st != kOk) return ReportedStatus(st);
  const int64_t cells = DescriptorAt(ctx, 1)->cells;
  const int64_t total = n > 0 ? cells * n : 0;
  if (total > kMaxPlainCells) return kObjTooLarge;
  Cell* out = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, total, kList, Room::kStrict, &out); st != kOk) return st;
  const Cell* from = DataAt(ctx, 2);
  for (int32_t k = 0; k < n && cells > 0; ++k) std::memcpy(out + k * cells, from, cells * sizeof(Cell));
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode struct_(EngineContext* ctx, int nargin) {
  if (nargin == 0) return PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr);
  if (nargin == 1) {
    ValueDescriptor& d = *DescriptorAt(ctx, 0);
    if (!IsComposite(d) || d.extra == kList || d.extra == kCellArray || d.extra == kFreeList) return kWrongType;
    if (d.extra < 0) d.extra = kStruct;  // an object's fields, as a plain structure
    return kOk;
  }
  if (nargin % 2 != 0) return kTooFewArgin;
  const int n = nargin / 2;
  FieldSource fields[64];
  if (n > 64) return kTooManyArgin;
  SymbolId ids[64];
  for (int k = 0; k < n; ++k) {
    if (StatusCode st = InternArgName(ctx, nargin - 1 - 2 * k, &ids[k]); st != kOk) return st;
    fields[k] = {ids[k], nullptr, nargin - 2 - 2 * k};
  }
  if (HasDuplicates(ids, n)) return kBadArg;
  if (StatusCode st = PushStructFromFields(ctx, fields, n); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode structarray(EngineContext* ctx, int nargin) {
  if (nargin == 0) return PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr);
  for (int k = 0; k < nargin; ++k) {
    const ValueDescriptor& d = *DescriptorAt(ctx, nargin - 1 - k);
    const bool fits = k % 2 == 0 ? IsBoxedArray(d) && d.extra == kCharArray
                                 : IsComposite(d) && (d.extra == kList || d.extra == kCellArray);
    if (!fits) return kWrongType;
  }
  if (nargin % 2 != 0) return kTooFewArgin;
  const int f = nargin / 2;
  if (f > 64) return kTooManyArgin;
  SymbolId ids[64];
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  for (int k = 0; k < f; ++k) {
    if (StatusCode st = InternArgName(ctx, nargin - 1 - 2 * k, &ids[k]); st != kOk) return st;
    int knd = 0;
    int32_t kdims[kMaxDims];
    int64_t kcount = 0;
    if (StatusCode st = GetArgDims(ctx, nargin - 2 - 2 * k, &knd, kdims, &kcount); st != kOk) return ReportedStatus(st);
    knd = std::max(knd, 2);
    if (k == 0) {
      nd = knd, count = kcount;
      std::copy(kdims, kdims + knd, dims);
    } else if (knd != nd) {
      return kBadSize;
    } else if (!std::equal(kdims, kdims + knd, dims)) {
      return kIncompSize;
    }
  }
  if (HasDuplicates(ids, f)) return kBadArg;
  if (nd > kMaxCutDims) return kOutOfRangeArg;
  if (count == 0) {
    if (StatusCode st = PushEmptyStructArray(ctx, nd, dims, f); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  // Copies of the values joined along a new last dimension, then turned so
  // that the field index is fastest: the cell form of the structure array.
  for (int k = 0; k < f; ++k)
    if (StatusCode st = DuplicateValues(ctx, nargin - 2 - 2 * k + k, 1); st != kOk) {
      DropTop(ctx, k);
      return st;
    }
  int joined = f;
  if (f == 1) {
    if (StatusCode st = MakeListFromValues(ctx, 0, false, nullptr, 0); st != kOk) {
      PopValue(ctx);
      return st;
    }
    joined = 2;
  }
  if (StatusCode st = ConcatenateValues(ctx, joined, nd + 1); st != kOk) {
    DropTop(ctx, joined);
    return st;
  }
  double order[kMaxCutDims + 1];
  order[0] = 3, order[1] = 1;
  for (int j = 2; j < nd; ++j) order[j] = j + 2;
  order[nd] = 2;
  if (StatusCode st = InversePermuteTop(ctx, order, nd + 1); st != kOk) {
    PopValue(ctx);
    return st;
  }
  if (DescriptorAt(ctx, 0)->extra == kList) {
    // One structure: the join came back as a 1 x f list.
    const int32_t cell[2] = {1, f};
    (void)ReshapeTopCellArray(ctx, 2, cell);
  }
  if (StatusCode st = RelabelCellAsStructArray(ctx, 0); st != kOk) {
    PopValue(ctx);
    return st;
  }
  NameFieldsCyclically(ctx, ids, f);
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode struct2cell(EngineContext* ctx) {
  ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsStructValue(d)) return kWrongType;
  if (d.extra == kStruct) {
    d.extra = kList;
    NameFieldsCyclically(ctx, nullptr, 1);
    int32_t n = 0;
    (void)GetListArg(ctx, 0, &n, nullptr);
    const int32_t column[2] = {n, 1};
    return ReshapeTopCellArray(ctx, 2, column);
  }
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  (void)GetCompositeArgInfo(ctx, 0, 's', &nd, dims, nullptr, nullptr, nullptr);
  NameFieldsCyclically(ctx, nullptr, 1);
  if (StatusCode st = RelabelCellAsStructArray(ctx, 1); st != kOk) return st;
  // Fields first, then the array's dimensions.
  double order[kMaxDims + 1];
  order[0] = 3, order[1] = 1, order[2] = 2;
  for (int j = 3; j <= std::max(nd, 2); ++j) order[j] = j + 1;
  return InversePermuteTop(ctx, order, std::max(nd, 2) + 1);
}

StatusCode cell2struct(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "EE[i"); st != kOk) return st;
  int32_t dim = 1;
  if (nargin == 3) {
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &dim); st != kOk) return ReportedStatus(st);
    if (dim < 1) return kBadDim;
    if (dim > kMaxCutDims) return kOutOfRangeArg;
  }
  const int namesAt = nargin - 2, cellAt = nargin - 1;
  SymbolId ids[kMaxOrderedFields];
  int64_t names = 0;
  if (StatusCode st = InternElementNames(ctx, namesAt, ids, kMaxOrderedFields, &names); st != kOk) return st;
  if (HasDuplicates(ids, names)) return kBadArg;
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  if (StatusCode st = GetArgDims(ctx, cellAt, &nd, dims, &count); st != kOk) return ReportedStatus(st);
  nd = std::max(nd, 2);
  for (int j = nd; j < dim; ++j) dims[j] = 1;
  nd = std::max(nd, static_cast<int>(dim));
  if (StatusCode st = DuplicateValues(ctx, nargin - 1, 1); st != kOk) return st;
  if (DescriptorAt(ctx, 0)->extra == kList) {
    const int32_t row[2] = {count > 0 ? 1 : 0, static_cast<int32_t>(count)};
    if (StatusCode st = ReshapeTopCellArray(ctx, 2, row); st != kOk) {
      PopValue(ctx);
      return st;
    }
  }
  // Dimension dim of the cell becomes the fields: the turned cell is
  // (d2, d_dim, d1, the others), the cell form of a structure array.
  double order[kMaxCutDims + 1];
  if (dim == 1) {
    order[0] = 2, order[1] = 3, order[2] = 1;
  } else if (dim == 2) {
    order[0] = 3, order[1] = 2, order[2] = 1;
  } else {
    order[0] = 3, order[1] = 1;
    for (int j = 3; j <= nd; ++j) order[j - 1] = j == dim ? 2 : j < dim ? j + 1 : j;
  }
  for (int j = 3; j < nd && dim <= 2; ++j) order[j] = j + 1;
  const int k = dim <= 2 ? std::max(nd, 3) : nd;
  if (count == 0) {
    // Nothing to turn: the shape alone says what the structure array is.
    int32_t shape[kMaxDims + 1];
    int sk = 0;
    for (int j = 0; j < nd; ++j)
      if (j != dim - 1) shape[sk++] = j < nd ? dims[j] : 1;
    const int32_t f = dim - 1 < nd ? dims[dim - 1] : 1;
    PopValue(ctx);
    if (f != names) return kIncompSize;
    while (sk < 2) shape[sk++] = 1;
    if (StatusCode st = PushEmptyStructArray(ctx, sk, shape, f); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (StatusCode st = InversePermuteTop(ctx, order, k); st != kOk) {
    PopValue(ctx);
    return st;
  }
  if (DescriptorAt(ctx, 0)->extra == kList) {
    int32_t n = 0;
    (void)GetListArg(ctx, 0, &n, nullptr);
    const int32_t row[2] = {1, n};
    (void)ReshapeTopCellArray(ctx, 2, row);
  }
  if (StatusCode st = RelabelCellAsStructArray(ctx, 0); st != kOk) {
    PopValue(ctx);
    return st;
  }
  int32_t fields = 0;
  (void)GetCompositeArgInfo(ctx, 0, 's', nullptr, nullptr, nullptr, &fields, nullptr);
  if (fields != names) {
    PopValue(ctx);
    return kIncompSize;
  }
  NameFieldsCyclically(ctx, ids, fields);
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode isstruct(EngineContext* ctx) {
  const bool yes = IsStructValue(*DescriptorAt(ctx, 0));
  if (StatusCode st = PushLogicalScalar(ctx, yes ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode isfield(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 2, "tS"); st != kOk) return st;
  char name[kMaxNameBytes + 1];
  int64_t length = 0;
  bool yes = false;
  if (CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length) == kOk && length <= kMaxNameBytes)
    yes = FindField(ctx, 1, FindSymbol(ctx, name, static_cast<int>(length)), nullptr) != nullptr;
  if (StatusCode st = PushLogicalScalar(ctx, yes ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode getfield(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 2, "tS"); st != kOk) return st;
  char name[kMaxNameBytes + 1];
  int64_t length = 0;
  if (CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length) != kOk || length > kMaxNameBytes) return kUndefField;
  if (StatusCode st = PushStructField(ctx, 1, name, static_cast<int>(length)); st != kOk) return ReportedStatus(st);
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode setfield(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 3, "tS?"); st != kOk) return st;
  SymbolId id = 0;
  if (StatusCode st = InternArgName(ctx, 1, &id); st != kOk) return st;
  SymbolId names[kMaxOrderedFields];
  const int64_t n = ReadFieldNames(ctx, 2, names, kMaxOrderedFields);
  if (n == kMaxOrderedFields) return kObjTooLarge;
  static_assert(kMaxOrderedFields <= 4096);
  FieldSource fields[kMaxOrderedFields + 1];
  const CompositeElementHeader* e = FirstElement(ctx, 2);
  bool replaced = false;
  for (int64_t k = 0; k < n; ++k, e = NextElement(e)) {
    fields[k] = {names[k], e, 0};
    if (names[k] == id && !replaced) {
      fields[k] = {id, nullptr, 0};
      replaced = true;
    }
  }
  int64_t total = n;
  if (!replaced) fields[total++] = {id, nullptr, 0};
  if (StatusCode st = PushStructFromFields(ctx, fields, total); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 3);
}

StatusCode rmfield(EngineContext* ctx) {
  if (!IsStructValue(*DescriptorAt(ctx, 1))) return kWrongType;
  SymbolId gone[kMaxOrderedFields];
  int64_t k = 0;
  const ValueDescriptor& names = *DescriptorAt(ctx, 0);
  if (IsBoxedArray(names) && names.extra == kCharArray) {
    char text[kMaxNameBytes + 1];
    int64_t length = 0;
    if (CopyStringArgToBuffer(ctx, 0, text, sizeof text, &length) == kOk && length <= kMaxNameBytes)
      gone[k++] = FindSymbol(ctx, text, static_cast<int>(length));
  } else {
    int64_t n = 0;
    CompositeElementHeader* e = nullptr;
    if (StatusCode st = GetCompositeArgInfo(ctx, 0, 'c', nullptr, nullptr, &n, nullptr, &e); st != kOk)
      return ReportedStatus(st);
    if (n > kMaxOrderedFields) return kObjTooLarge;
    for (int64_t j = 0; j < n; ++j, e = NextElement(e)) {
      char text[kMaxNameBytes + 1];
      int length = 0;
      if (StatusCode st = ElementText(e, text, kMaxNameBytes, &length); st != kOk) return ReportedStatus(st);
      gone[k++] = length <= kMaxNameBytes ? FindSymbol(ctx, text, length) : 0;
    }
  }
  auto removed = [&](SymbolId id) { return id != 0 && std::find(gone, gone + k, id) != gone + k; };

  const ValueDescriptor d = *DescriptorAt(ctx, 1);
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t structs = 0;
  int32_t fields = 0;
  CompositeElementHeader* item = nullptr;
  (void)GetCompositeArgInfo(ctx, 1, 's', &nd, dims, &structs, &fields, &item);
  // The field list is the first structure's; every structure shares it.
  int32_t kept = 0;
  int64_t cells = 0;
  const CompositeElementHeader* e = item;
  for (int64_t s = 0; s < structs || (d.extra == kStruct && s == 0); ++s)
    for (int32_t f = 0; f < fields; ++f, e = NextElement(e))
      if (!removed(e->name)) {
        cells += ElementSpan(e);
        if (s == 0) ++kept;
      }
  if (structs == 0) {
    // No structure to read the names from: the fields stay.
    return DropArgsUnderResults(ctx, 0, 1);
  }
  const bool array = d.extra == kStructArray;
  const int64_t head = array ? DimsElementCells(nd + 1) : 0;
  Cell* out = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, head + cells, d.extra, Room::kStrict, &out); st != kOk) return st;
  (void)GetCompositeArgInfo(ctx, 2, 's', nullptr, nullptr, nullptr, nullptr, &item);
  if (array) {
    dims[nd] = kept;
    WriteDimsElement(out, dims, nd + 1);
    out += head;
  }
  e = item;
  for (int64_t s = 0; s < structs; ++s)
    for (int32_t f = 0; f < fields; ++f, e = NextElement(e))
      if (!removed(e->name)) {
        std::memcpy(out, e, ElementSpan(e) * sizeof(Cell));
        out += ElementSpan(e);
      }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode fieldnames(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 1, "T"); st != kOk) return st;
  int64_t structs = 0;
  int32_t fields = 0;
  CompositeElementHeader* e = nullptr;
  (void)GetCompositeArgInfo(ctx, 0, 's', nullptr, nullptr, &structs, &fields, &e);
  if (structs == 0) fields = 0;
  for (int32_t f = 0; f < fields; ++f, e = NextElement(e)) {
    const SymbolId id = e->name;
    const StatusCode st =
        id ? PushStringFromBytes(ctx, SymbolLength(ctx, id), SymbolText(ctx, id)) : PushStringFromBytes(ctx, 0, "");
    if (st != kOk) {
      DropTop(ctx, f);
      return st;
    }
  }
  if (StatusCode st = MakeListFromValues(ctx, fields, false, nullptr, 0); st != kOk) {
    DropTop(ctx, fields);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode orderfields(EngineContext* ctx, int nargin, int nargout) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "t*"); st != kOk) return st;
  const int s = nargin - 1;
  SymbolId names[kMaxOrderedFields];
  const int64_t f = ReadFieldNames(ctx, s, names, kMaxOrderedFields);
  if (f == kMaxOrderedFields) return kObjTooLarge;
  int32_t p[kMaxOrderedFields];
  if (nargin == 1) {
    FieldNameOrder record{ctx, names};
    ShellSortPermutation(static_cast<int>(f), CompareFieldNames, p, &record, false);
  } else {
    const ValueDescriptor& d = *DescriptorAt(ctx, 0);
    int64_t n = 0;
    if (IsComposite(d) && d.extra == kStruct) {
      SymbolId order[kMaxOrderedFields];
      n = ReadFieldNames(ctx, 0, order, kMaxOrderedFields);
      if (n != f) return kBadSize;
      for (int64_t i = 0; i < n; ++i) {
        int64_t at = -1;
        if (!FindField(ctx, s, order[i], &at)) return kBadArg;
        p[i] = static_cast<int32_t>(at);
      }
    } else if (IsComposite(d) && d.extra == kList) {
      CompositeElementHeader* e = nullptr;
      (void)GetCompositeArgInfo(ctx, 0, 'c', nullptr, nullptr, &n, nullptr, &e);
      if (n != f) return kBadSize;
      for (int64_t i = 0; i < n; ++i, e = NextElement(e)) {
        char text[kMaxNameBytes + 1];
        int length = 0;
        if (StatusCode st = ElementText(e, text, kMaxNameBytes, &length); st != kOk) return ReportedStatus(st);
        const SymbolId id = length <= kMaxNameBytes ? FindSymbol(ctx, text, length) : 0;
        int64_t at = -1;
        if (!FindField(ctx, s, id, &at)) return kBadArg;
        p[i] = static_cast<int32_t>(at);
      }
    } else if (IsPlainMatrix(d) && !(d.kind & kComplex)) {
      if (d.cells != f) return kBadSize;
      const Cell* c = DataAt(ctx, 0);
      for (int64_t i = 0; i < f; ++i)
        if (c[i].f != std::trunc(c[i].f)) return kNonIntArg;
      for (int64_t i = 0; i < f; ++i) {
        if (!(c[i].f >= 1 && c[i].f <= static_cast<double>(f))) return kBadArg;
        p[i] = static_cast<int32_t>(c[i].f) - 1;
      }
    } else {
      return kWrongType;
    }
    // Each field once: a repeated name or number would drop another field.
    bool seen[kMaxOrderedFields] = {};
    for (int64_t i = 0; i < f; ++i) {
      if (seen[p[i]]) return kBadArg;
      seen[p[i]] = true;
    }
  }
  const int outputs = nargout >= 2 ? 2 : 1;
  if (outputs == 2) {
    double* column = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, static_cast<int32_t>(f), f > 0 ? 1 : 0, &column, nullptr); st != kOk)
      return st;
    for (int64_t i = 0; i < f; ++i) column[i] = p[i] + 1;
  }
  const int at = s + outputs - 1;  // the structure, below what was pushed
  FieldSource fields[kMaxOrderedFields];
  const CompositeElementHeader* e = FirstElement(ctx, at);
  const CompositeElementHeader* byIndex[kMaxOrderedFields];
  for (int64_t i = 0; i < f; ++i, e = NextElement(e)) byIndex[i] = e;
  for (int64_t i = 0; i < f; ++i) fields[i] = {byIndex[p[i]]->name, byIndex[p[i]], 0};
  if (StatusCode st = PushStructFromFields(ctx, fields, f); st != kOk) {
    DropTop(ctx, outputs - 1);
    return st;
  }
  return DropArgsUnderResults(ctx, outputs, nargin);
}

// ---------------------------------------------------------------------------
// Opcode handlers: ins[1] holds the input count, ins[2] the output count.

StatusCode StructOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Num2list:
      return num2list(ctx, ins[1]);
    case Op::Num2cell:
      return num2cell(ctx, ins[1]);
    case Op::List2num:
      return list2num(ctx);
    case Op::Islist:
      return TestListOrCell(ctx, 0);
    case Op::Iscell:
      return TestListOrCell(ctx, 1);
    case Op::Replist:
      return replist(ctx);
    case Op::Struct:
      return struct_(ctx, ins[1]);
    case Op::Structarray:
      return structarray(ctx, ins[1]);
    case Op::Struct2cell:
      return struct2cell(ctx);
    case Op::Cell2struct:
      return cell2struct(ctx, ins[1]);
    case Op::Isstruct:
      return isstruct(ctx);
    case Op::Isfield:
      return isfield(ctx);
    case Op::Getfield:
      return getfield(ctx);
    case Op::Setfield:
      return setfield(ctx);
    case Op::Rmfield:
      return rmfield(ctx);
    case Op::Fieldnames:
      return fieldnames(ctx);
    default:
      return orderfields(ctx, ins[1], ins[2]);
  }
}
