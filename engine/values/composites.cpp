// Lists, structures, cell arrays and structure arrays on the value stack:
// building them from values, reporting their shape, taking them apart and
// reshaping them. Elements are complete values behind a 2-cell header.
#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/values/valuestack.h"

// The core library's handler of an opcode (engine/dispatch.h).
[[nodiscard]] StatusCode RunCoreBuiltin(EngineContext* ctx, const int16_t* ins);

namespace {

// The dims entries of a cell or structure array's leading element.
ArrayView DimsOf(CompositeElementHeader* first) { return ReadArray(ElementData(first)); }

int64_t CountElements(const ValueDescriptor& d, CompositeElementHeader* first) {
  const Cell* end = reinterpret_cast<Cell*>(first) + d.cells;
  int64_t n = 0;
  for (auto* e = first; reinterpret_cast<Cell*>(e) < end; e = NextElement(e)) ++n;
  return n;
}

// Element index (0-based, counted over every element) of a composite.
CompositeElementHeader* ElementAt(CompositeElementHeader* first, int64_t index) {
  CompositeElementHeader* e = first;
  for (int64_t k = 0; k < index; ++k) e = NextElement(e);
  return e;
}

// Pushes a copy of the cells [from, from + cells) as a value described by d.
[[nodiscard]] StatusCode PushCopy(EngineContext* ctx, uint32_t kind, int64_t cells, int32_t extra, const Cell* from) {
  Cell* data = nullptr;
  if (StatusCode st = PushValue(ctx, kind, cells, extra, Room::kStrict, &data); st != kOk) return st;
  std::memcpy(data, from, cells * sizeof(Cell));
  return kOk;
}

// Moves the data of n elements, from e on, down to write, closing up over
// their headers, and records each element's descriptor when descs is given.
// Answers the cell after the last one moved. The writes never pass the data
// still to be read as long as write starts at or below the first element's data.
Cell* CloseUpElements(CompositeElementHeader* e, int64_t n, Cell* write, ValueDescriptor* descs) {
  for (int64_t k = 0; k < n; ++k) {
    const CompositeElementHeader h = *e;
    CompositeElementHeader* next = NextElement(e);
    std::memmove(write, ElementData(e), int64_t{h.cells} * sizeof(Cell));
    if (descs) *descs++ = {h.kind, h.cells, h.extra};
    write += h.cells;
    e = next;
  }
  return write;
}

// Structures of different field lists are stacked by the core library's
// vertical join, which gives them one field list (a field one lacks holds
// []). The join works on a copy, so a failure leaves the list as it was.
[[nodiscard]] StatusCode StackStructsOfDifferentFields(EngineContext* ctx) {
  if (ctx->core == nullptr) return kIncompSize;
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  int32_t n = 0;
  if (StatusCode st = ExplodeTopList(ctx, &n); st != kOk) {
    PopValue(ctx);
    return st;
  }
  const int16_t ins[2] = {static_cast<int16_t>(Op::Vertcat), static_cast<int16_t>(std::min<int32_t>(n, INT16_MAX))};
  if (n > INT16_MAX) {
    for (int32_t k = 0; k < n; ++k) PopValue(ctx);
    return kIncompSize;
  }
  if (StatusCode st = RunCoreBuiltin(ctx, ins); st != kOk) {
    for (int32_t k = 0; k < n; ++k) PopValue(ctx);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

}  // namespace

StatusCode GetListArg(EngineContext* ctx, int position, int32_t* count, CompositeElementHeader** first) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsComposite(d)) return kWrongTypeInternal;
  auto* f = reinterpret_cast<CompositeElementHeader*>(DataAt(ctx, position));
  if (count) *count = static_cast<int32_t>(CountElements(d, f));
  if (first) *first = f;
  return kOk;
}

StatusCode GetCompositeInfo(const ValueDescriptor* d, CompositeElementHeader* first, char selector, int* ndims,
                            int32_t* dims, int64_t* count, int32_t* fieldCount, CompositeElementHeader** firstItem) {
  if (d->kind != kComposite || d->extra < kList || d->extra > kStructArray) return kWrongTypeInternal;
  return GetCountedCompositeInfo(d, first, CountElements(*d, first), selector, ndims, dims, count, fieldCount,
                                 firstItem);
}

StatusCode GetCountedCompositeInfo(const ValueDescriptor* d, CompositeElementHeader* first, int64_t n, char selector,
                                   int* ndims, int32_t* dims, int64_t* count, int32_t* fieldCount,
                                   CompositeElementHeader** firstItem) {
  if (d->kind != kComposite || d->extra < kList || d->extra > kStructArray) return kWrongTypeInternal;
  const bool listLike = d->extra == kList || d->extra == kCellArray;
  if ((selector == 'c' && !listLike) || (selector == 's' && listLike)) return kWrongTypeInternal;
  int32_t fields = -1;
  CompositeElementHeader* item = first;
  switch (d->extra) {
    case kList:
      if (ndims) *ndims = 1;
      if (dims) dims[0] = n == 0 ? 0 : 1, dims[1] = static_cast<int32_t>(n);
      if (count) *count = n;
      break;
    case kStruct:
      if (ndims) *ndims = 1;
      if (dims) dims[0] = 1, dims[1] = 1;
      if (count) *count = 1;
      fields = static_cast<int32_t>(n);
      break;
    case kCellArray: {
      const ArrayView a = DimsOf(first);
      const auto* entries = reinterpret_cast<const int32_t*>(a.data);
      if (ndims) *ndims = static_cast<int>(a.count);
      if (dims)
        for (int64_t k = 0; k < a.count; ++k) dims[k] = entries[k];
      if (count) *count = n - 1;
      item = NextElement(first);
      break;
    }
    case kStructArray: {
      const ArrayView a = DimsOf(first);
      const auto* entries = reinterpret_cast<const int32_t*>(a.data);
      const int k = static_cast<int>(a.count) - 1;
      fields = entries[k];
      if (ndims) *ndims = k;
      if (dims)
        for (int j = 0; j < k; ++j) dims[j] = entries[j];
      // With no fields the elements cannot be counted; the dims tell.
      int64_t structs = 1;
      for (int j = 0; j < k; ++j) structs *= entries[j];
      if (count) *count = fields > 0 ? (n - 1) / fields : structs;
      item = NextElement(first);
      break;
    }
  }
  if (fieldCount) *fieldCount = fields;
  if (firstItem) *firstItem = item;
  return kOk;
}

StatusCode GetCompositeArgInfo(EngineContext* ctx, int position, char selector, int* ndims, int32_t* dims,
                               int64_t* count, int32_t* fieldCount, CompositeElementHeader** firstItem) {
  CompositeElementHeader* first = nullptr;
  if (StatusCode st = GetListArg(ctx, position, nullptr, &first); st != kOk) return st;
  return GetCompositeInfo(DescriptorAt(ctx, position), first, selector, ndims, dims, count, fieldCount, firstItem);
}

StatusCode GetCellArgInfo(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                          int32_t* fieldCount, CompositeElementHeader** firstItem) {
  return GetCompositeArgInfo(ctx, position, 'c', ndims, dims, count, fieldCount, firstItem);
}

StatusCode MakeListFromValues(EngineContext* ctx, int n, bool append, const char* name, int nameLength) {
  if (n == 0) {
    if (append) return kOk;
    return PushValue(ctx, kComposite, 0, name ? kStruct : kList, Room::kStrict, nullptr);
  }
  if (!append && ctx->descLength - 3 * n + 3 >= ctx->descCapacity) return kDescStackFull;
  if (2 * int64_t{n} >= FreeDataCells(ctx)) return kDataStackFull;
  SymbolId id = 0;
  if (name && nameLength > 0)
    if (StatusCode st = InternSymbol(ctx, name, nameLength, 32, &id); st != kOk) return st;

  // From the top down, each value moves up by the headers of itself and every
  // value below it, so nothing is overwritten before it moves.
  int64_t total = 0;
  Cell* end = ctx->dataBase + ctx->dataTop;
  for (int p = 0; p < n; ++p) {
    const ValueDescriptor d = *DescriptorAt(ctx, p);
    Cell* from = end - d.cells;
    Cell* to = from + kElementHeaderCells * (n - p);
    std::memmove(to, from, int64_t{d.cells} * sizeof(Cell));
    *reinterpret_cast<CompositeElementHeader*>(to - kElementHeaderCells) = {d.kind, d.cells, d.extra, id};
    total += d.cells + kElementHeaderCells;
    end = from;
  }
  ctx->descLength -= 3 * n;
  ctx->dataTop += 2 * n;

  if (!append) {
    ctx->dataTop -= static_cast<int32_t>(total);
    return PushValue(ctx, kComposite, total, name ? kStruct : kList, Room::kAll, nullptr);
  }
  ValueDescriptor* host = ctx->descLength >= 3 ? DescriptorAt(ctx, 0) : nullptr;
  if (host == nullptr || host->kind != kComposite) {
    ctx->dataTop -= static_cast<int32_t>(total);
    return kBadArg;
  }
  host->cells += static_cast<int32_t>(total);
  return kOk;
}

StatusCode PushEmptyCellArray(EngineContext* ctx, int ndims, const int32_t* dims) {
  int32_t d[kMaxDims];
  int k = 2;
  d[0] = d[1] = 0;
  if (dims != nullptr && ndims == 1) {
    d[0] = d[1] = dims[0] > 0 ? dims[0] : 0;
  } else if (dims != nullptr && ndims >= 2) {
    if (ndims > kMaxDims) return kOutOfRangeArg;
    bool zero = false;
    for (int j = 0; j < ndims; ++j) zero |= dims[j] <= 0;
    if (!zero) {
      std::memcpy(d, dims, ndims * sizeof(int32_t));
      k = ndims;
      while (k > 2 && d[k - 1] == 1) --k;
    }
  }
  int64_t cellsCount = 1;
  for (int j = 0; j < k; ++j) cellsCount *= d[j];
  const int64_t cells = DimsElementCells(k) + kElementHeaderCells * cellsCount;
  if (cells > kMaxPlainCells) return kObjTooLarge;
  Cell* data = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, cells, kCellArray, Room::kStrict, &data); st != kOk) return st;
  WriteDimsElement(data, d, k);
  std::memset(data + DimsElementCells(k), 0, kElementHeaderCells * cellsCount * sizeof(Cell));
  return kOk;
}

StatusCode ReshapeTopCellArray(EngineContext* ctx, int ndims, const int32_t* dims) {
  if (ndims > kMaxReshapeDims) return kOutOfRangeArg;
  ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind != kComposite || d.extra < kList || d.extra > kStructArray) return kWrongTypeInternal;
  auto* first = reinterpret_cast<CompositeElementHeader*>(TopData(ctx));
  const bool hasDims = d.extra == kCellArray || d.extra == kStructArray;
  const bool structs = d.extra == kStruct || d.extra == kStructArray;

  int64_t count = 0;
  int32_t fields = -1;
  (void)GetCompositeInfo(&d, first, '?', nullptr, nullptr, &count, &fields, nullptr);  // kind checked above
  if (dims == nullptr) {
    if (d.extra == kStruct) return kOk;
    if (d.extra == kList) return kOk;
    if (d.extra == kStructArray) {
      // Without dims a structure array keeps its elements as a column.
      const int32_t column[] = {static_cast<int32_t>(count), 1};
      return ReshapeTopCellArray(ctx, 2, column);
    }
    // A cell array without dims becomes a list: drop its dims element.
    const int64_t drop = kElementHeaderCells + first->cells;
    Cell* data = TopData(ctx);
    std::memmove(data, data + drop, (d.cells - drop) * sizeof(Cell));
    ctx->dataTop -= static_cast<int32_t>(drop);
    *DescriptorAt(ctx, 0) = {kComposite, static_cast<int32_t>(d.cells - drop), kList};
    return kOk;
  }

  int64_t want = 1;
  for (int j = 0; j < ndims; ++j) want *= dims[j] < 0 ? 0 : dims[j];
  if (ndims < 1 || want != count) return kBadSize;

  int32_t entries[kMaxReshapeDims + 1];
  std::memcpy(entries, dims, ndims * sizeof(int32_t));
  int k = ndims;
  if (structs) entries[k++] = fields;
  const int64_t newDims = DimsElementCells(k);
  const int64_t oldDims = hasDims ? kElementHeaderCells + first->cells : 0;
  const int64_t delta = newDims - oldDims;
  if (delta > 0 && delta >= FreeDataCells(ctx)) return kDataStackFull;
  Cell* data = TopData(ctx);
  std::memmove(data + newDims, data + oldDims, (d.cells - oldDims) * sizeof(Cell));
  WriteDimsElement(data, entries, k);
  ctx->dataTop += static_cast<int32_t>(delta);
  *DescriptorAt(ctx, 0) = {kComposite, static_cast<int32_t>(d.cells + delta), structs ? kStructArray : kCellArray};
  return kOk;
}

StatusCode PushListElement(EngineContext* ctx, int position, int32_t index) {
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind != kComposite || (d.extra != kList && d.extra != kCellArray && d.extra != kStructArray))
    return kWrongTypeInternal;
  auto* first = reinterpret_cast<CompositeElementHeader*>(DataAt(ctx, position));
  int64_t count = 0;
  int32_t fields = -1;
  CompositeElementHeader* item = nullptr;
  (void)GetCompositeInfo(&d, first, '?', nullptr, nullptr, &count, &fields, &item);  // kind checked above
  if (index < 1 || index > count) return kIndexOutOfRange;
  if (d.extra != kStructArray) {
    CompositeElementHeader* e = ElementAt(item, index - 1);
    return PushCopy(ctx, e->kind, e->cells, e->extra, ElementData(e));
  }
  CompositeElementHeader* from = ElementAt(item, int64_t{index - 1} * fields);
  CompositeElementHeader* to = ElementAt(from, fields);
  const int64_t cells = reinterpret_cast<Cell*>(to) - reinterpret_cast<Cell*>(from);
  return PushCopy(ctx, kComposite, cells, kStruct, reinterpret_cast<Cell*>(from));
}

StatusCode PushStructField(EngineContext* ctx, int position, const char* name, int length) {
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind != kComposite || d.extra != kStruct) return kWrongTypeInternal;
  const SymbolId id = FindSymbol(ctx, name, length);
  if (id == 0) return kUndefField;
  auto* e = reinterpret_cast<CompositeElementHeader*>(DataAt(ctx, position));
  const Cell* end = reinterpret_cast<Cell*>(e) + d.cells;
  for (; reinterpret_cast<Cell*>(e) < end; e = NextElement(e))
    if (e->name == id) return PushCopy(ctx, e->kind, e->cells, e->extra, ElementData(e));
  return kUndefField;
}

StatusCode ExplodeTopList(EngineContext* ctx, int32_t* count) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind != kComposite) return kWrongTypeInternal;
  auto* first = reinterpret_cast<CompositeElementHeader*>(TopData(ctx));
  int64_t n = CountElements(d, first);
  const bool skipDims = d.extra == kCellArray || d.extra == kStructArray;
  if (skipDims) --n;
  if (ctx->descLength - 3 + 3 * n >= ctx->descCapacity) return kDescStackFull;

  // Close up the element data over the headers, keeping the elements' order,
  // and lay their descriptors where the composite's was.
  Cell* base = TopData(ctx);
  ctx->descLength -= 3;
  auto* descs = reinterpret_cast<ValueDescriptor*>(ctx->descBase + ctx->descLength);
  Cell* write = CloseUpElements(skipDims ? NextElement(first) : first, n, base, descs);
  ctx->descLength += static_cast<int32_t>(3 * n);
  ctx->dataTop = static_cast<int32_t>(write - ctx->dataBase);
  if (count) *count = static_cast<int32_t>(n);
  return kOk;
}

StatusCode GetStructFieldName(EngineContext* ctx, int position, int32_t index, const char** name, int* length) {
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind != kComposite || d.extra == kList || d.extra == kCellArray || d.extra == kFreeList)
    return kWrongTypeInternal;
  auto* first = reinterpret_cast<CompositeElementHeader*>(DataAt(ctx, position));
  if (index < 1 || index > CountElements(d, first)) return kIndexOutOfRange;
  const CompositeElementHeader* e = ElementAt(first, index - 1);
  if (name) *name = e->name != 0 ? SymbolText(ctx, e->name) : nullptr;
  if (length) *length = e->name != 0 ? SymbolLength(ctx, e->name) : 0;
  return kOk;
}

StatusCode GetInlineFunctionParts(EngineContext* ctx, int position, const int16_t** code, const char** source,
                                  int* sourceLength, Cell** captured) {
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind != kBoxed || d.extra != kInlineFunction) return kWrongTypeInternal;
  Cell* payload = DataAt(ctx, position);
  const auto* words = reinterpret_cast<const int16_t*>(payload);
  const int k = words[0];
  const int length = words[1 + k];
  const auto* text = reinterpret_cast<const char*>(words + 2 + k);
  const int64_t usedBytes = 2 * (2 + int64_t{k}) + length;
  const int64_t capturedCell = (usedBytes + 7) / 8;
  if (code) *code = words + 1;
  if (source) *source = text;
  if (sourceLength) *sourceLength = length;
  if (captured) *captured = capturedCell < d.cells ? payload + capturedCell : nullptr;
  return kOk;
}

StatusCode ConvertTopToStructArray(EngineContext* ctx) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind != kComposite || (d.extra != kList && d.extra != kCellArray)) return kWrongTypeInternal;
  auto* first = reinterpret_cast<CompositeElementHeader*>(TopData(ctx));
  int64_t count = 0;
  CompositeElementHeader* item = nullptr;
  (void)GetCompositeInfo(&d, first, '?', nullptr, nullptr, &count, nullptr, &item);  // kind checked above
  if (count == 0) {
    PopValue(ctx);
    return PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr);
  }
  // Every element must be a structure with the same fields in the same order;
  // stacking such structures vertically keeps their fields as they are.
  int64_t fields = -1;
  bool differ = false;
  CompositeElementHeader* model = nullptr;
  CompositeElementHeader* e = item;
  for (int64_t k = 0; k < count; ++k, e = NextElement(e)) {
    if (e->kind != kComposite || e->extra != kStruct) return kWrongTypeInternal;
    auto* f = reinterpret_cast<CompositeElementHeader*>(ElementData(e));
    const int64_t n = CountElements(ValueDescriptor{e->kind, e->cells, e->extra}, f);
    if (model == nullptr) {
      model = f;
      fields = n;
      continue;
    }
    if (n != fields) {
      differ = true;
      continue;
    }
    CompositeElementHeader* g = model;
    for (int64_t j = 0; j < n; ++j, f = NextElement(f), g = NextElement(g)) differ = differ || f->name != g->name;
  }
  if (differ) return StackStructsOfDifferentFields(ctx);
  const int64_t oldDims = d.extra == kCellArray ? kElementHeaderCells + first->cells : 0;
  const int64_t newDims = DimsElementCells(3);
  const int64_t delta = newDims - oldDims - kElementHeaderCells * count;
  // The run first moves up far enough that the compaction below never writes
  // ahead of what it has still to read.
  const int64_t shift = std::max<int64_t>(0, newDims - oldDims - kElementHeaderCells);
  if (shift > 0 && shift >= FreeDataCells(ctx)) return kDataStackFull;

  Cell* base = TopData(ctx);
  const int64_t fieldCells = d.cells - oldDims - kElementHeaderCells * count;
  Cell* write = base + newDims;
  if (shift > 0) {
    std::memmove(base + shift, base, d.cells * sizeof(Cell));
    item = reinterpret_cast<CompositeElementHeader*>(reinterpret_cast<Cell*>(item) + shift);
  }
  CloseUpElements(item, count, write, nullptr);
  const int32_t entries[] = {static_cast<int32_t>(count), 1, static_cast<int32_t>(fields)};
  WriteDimsElement(base, entries, 3);
  ctx->dataTop += static_cast<int32_t>(delta);
  *DescriptorAt(ctx, 0) = {kComposite, static_cast<int32_t>(newDims + fieldCells), kStructArray};
  return kOk;
}

void WriteDimsElement(Cell* at, const int32_t* entries, int k) {
  auto* h = reinterpret_cast<CompositeElementHeader*>(at);
  const int64_t payload = ArrayPayloadCells(kInt32, 2, k);
  *h = {kBoxed, static_cast<int32_t>(payload), kNumericArray, 0};
  const uint32_t dims[] = {1, static_cast<uint32_t>(k)};
  Cell* data = WriteArrayHeader(at + kElementHeaderCells, kInt32, dims, 2);
  at[kElementHeaderCells + payload - 1].u = 0;
  std::memcpy(data, entries, k * sizeof(int32_t));
}
