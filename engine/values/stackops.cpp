// Rearranging values on the stack (drop under results, rotate, reverse,
// duplicate, transpose), scratch space above the top, and copies of values out
// of the stacks and back. Rotations work in place.
#include <algorithm>
#include <cstring>

#include "engine/values/valuestack.h"

namespace {

// Cells of the top n values.
int64_t CellsOfTop(EngineContext* ctx, int n) {
  int64_t cells = 0;
  for (int p = 0; p < n; ++p) cells += DescriptorAt(ctx, p)->cells;
  return cells;
}

}  // namespace

StatusCode GetScratchAtDataEnd(EngineContext* ctx, int64_t n, Cell** pointer) {
  if (n > FreeDataCells(ctx)) {
    ctx->roomAsked = n * int64_t{sizeof(Cell)};
    return kDataStackFull;
  }
  if (pointer) *pointer = ctx->dataBase + ctx->dataCapacity - n;
  return kOk;
}

StatusCode GetFreeDataSpace(EngineContext* ctx, int64_t* bytes, Cell** pointer) {
  if (bytes) *bytes = FreeDataCells(ctx) * int64_t{sizeof(Cell)};
  if (pointer) *pointer = ctx->dataBase + ctx->dataTop;
  return kOk;
}

StatusCode DropArgsUnderResults(EngineContext* ctx, int k, int n) {
  if (n < 1) return kOk;
  const int64_t keepCells = CellsOfTop(ctx, k);
  const int64_t dropCells = CellsOfTop(ctx, k + n) - keepCells;
  Cell* top = ctx->dataBase + ctx->dataTop;
  std::memmove(top - keepCells - dropCells, top - keepCells, keepCells * sizeof(Cell));
  int32_t* words = ctx->descBase + ctx->descLength;
  std::memmove(words - 3 * (k + n), words - 3 * k, 3 * k * sizeof(int32_t));
  ctx->dataTop -= static_cast<int32_t>(dropCells);
  ctx->descLength -= 3 * n;
  return kOk;
}

StatusCode RotateValues(EngineContext* ctx, int n, int k) {
  if (k < 1 || k >= n) return kOk;
  const int64_t all = CellsOfTop(ctx, n);
  const int64_t deep = all - CellsOfTop(ctx, n - k);
  Cell* top = ctx->dataBase + ctx->dataTop;
  std::rotate(top - all, top - all + deep, top);
  int32_t* words = ctx->descBase + ctx->descLength;
  std::rotate(words - 3 * n, words - 3 * n + 3 * k, words);
  return kOk;
}

StatusCode ReverseValues(EngineContext* ctx, int n) {
  for (int j = n; j >= 2; --j) (void)RotateValues(ctx, j, j - 1);
  return kOk;
}

StatusCode DuplicateValues(EngineContext* ctx, int d, int k) {
  if (k < 1) return kOk;
  if (ctx->descLength + 3 * k >= ctx->descCapacity) return kDescStackFull;
  const int64_t below = CellsOfTop(ctx, d);
  const int64_t cells = CellsOfTop(ctx, d + k) - below;
  if (cells >= FreeDataCells(ctx)) return kDataStackFull;
  Cell* top = ctx->dataBase + ctx->dataTop;
  std::memcpy(top, top - below - cells, cells * sizeof(Cell));
  int32_t* words = ctx->descBase + ctx->descLength;
  std::memcpy(words, words - 3 * (d + k), 3 * k * sizeof(int32_t));
  ctx->dataTop += static_cast<int32_t>(cells);
  ctx->descLength += 3 * k;
  return kOk;
}

StatusCode TransposeTopMatrix(EngineContext* ctx) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (IsPlainMatrix(d)) {
    const int32_t m = PlainRows(d), n = d.extra;
    if (m <= 1 || n <= 1) {
      // A vector keeps its storage order; only the shape turns.
      if (n > 0) DescriptorAt(ctx, 0)->extra = m;
      return kOk;
    }
    const bool complex = (d.kind & kComplex) != 0;
    double* re = nullptr;
    double* im = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, n, m, &re, complex ? &im : nullptr); st != kOk) return st;
    const double* src = &DataAt(ctx, 1)->f;
    const int64_t count = int64_t{m} * n;
    for (int part = 0; part < (complex ? 2 : 1); ++part) {
      const double* s = src + part * count;
      double* t = part == 0 ? re : im;
      for (int32_t r = 0; r < m; ++r)
        for (int32_t c = 0; c < n; ++c) t[int64_t{c} * m + r] = s[int64_t{r} * n + c];
    }
    return DropArgsUnderResults(ctx, 1, 1);
  }
  if (!IsBoxedArray(d)) return kWrongTypeInternal;
  Cell* payload = TopData(ctx);
  ArrayView a = ReadArray(payload);
  if (a.ndims != 2 || a.cls == kDouble || a.cls == kComplexDouble) return kNonMatrix;
  const uint32_t m = a.dims[0], n = a.dims[1];
  auto* dims = reinterpret_cast<uint32_t*>(payload) + 2;
  if (m <= 1 || n <= 1) {
    std::swap(dims[0], dims[1]);
    return kOk;
  }
  const uint32_t flipped[] = {n, m};
  Cell* out = nullptr;
  if (StatusCode st = PushArray(ctx, d.extra, a.cls, flipped, 2, &out); st != kOk) return st;
  a = ReadArray(DataAt(ctx, 1));
  // Complex singles transpose their real and imaginary blocks alike.
  const int size = IsComplexClass(a.cls) ? ElementBytes(a.cls) / 2 : ElementBytes(a.cls);
  const int parts = IsComplexClass(a.cls) ? 2 : 1;
  const int64_t count = int64_t{m} * n;
  for (int part = 0; part < parts; ++part) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(a.data) + part * count * size;
    uint8_t* t = reinterpret_cast<uint8_t*>(out) + part * count * size;
    for (uint32_t r = 0; r < m; ++r)
      for (uint32_t c = 0; c < n; ++c)
        std::memcpy(t + (int64_t{c} * m + r) * size, s + (int64_t{r} * n + c) * size, size);
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

// ---------------------------------------------------------------------------
// Copies

StatusCode GetValueSize(EngineContext* ctx, int position, int64_t* size) {
  if (size) *size = int64_t{DescriptorAt(ctx, position)->cells} + 3;
  return kOk;
}

StatusCode CopyValueOut(EngineContext* ctx, int position, double* copy) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  copy[0] = static_cast<double>(d.kind);
  copy[1] = static_cast<double>(d.cells);
  copy[2] = static_cast<double>(d.extra);
  std::memcpy(copy + 3, DataAt(ctx, position), int64_t{d.cells} * sizeof(Cell));
  return kOk;
}

StatusCode PushCopiedValue(EngineContext* ctx, const double* copy) {
  const auto kind = static_cast<uint32_t>(copy[0]);
  const auto cells = static_cast<int64_t>(copy[1]);
  const auto extra = static_cast<int32_t>(copy[2]);
  if (cells < 0 || cells > kMaxPlainCells) return kObjTooLarge;
  Cell* data = nullptr;
  if (StatusCode st = PushValue(ctx, kind, cells, extra, Room::kStrict, &data); st != kOk) return st;
  std::memcpy(data, copy + 3, cells * sizeof(Cell));
  return kOk;
}

StatusCode ReshapeTopValue(EngineContext* ctx, int ndims, const int32_t* dims) {
  if (ndims > kMaxReshapeDims) return kOutOfRangeArg;
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (IsComposite(d)) return ReshapeTopCellArray(ctx, ndims, dims);
  if (!IsPlainMatrix(d) && !IsBoxedArray(d)) return kWrongTypeInternal;

  Cell* payload = TopData(ctx);
  const bool plain = IsPlainMatrix(d);
  const uint32_t cls = plain ? ((d.kind & kComplex) ? kComplexDouble : kDouble) : ReadArray(payload).cls;
  const int64_t count = plain ? int64_t{PlainRows(d)} * d.extra : ReadArray(payload).count;
  const int64_t oldHeader = plain ? 0 : ArrayDataCell(ReadArray(payload).ndims);
  const int64_t elementCells = d.cells - oldHeader;

  uint32_t shape[kMaxDims];
  int n = 2;
  if (dims == nullptr) {
    shape[0] = static_cast<uint32_t>(count);
    shape[1] = count > 0 ? 1 : 0;
  } else {
    int64_t want = 0;
    n = NormalizeCallerDims(ndims, dims, shape, &want);
    if (want != count) return kBadSize;
  }
  const bool toPlain = (cls == kDouble || cls == kComplexDouble) && n == 2;
  const int64_t newHeader = toPlain ? 0 : ArrayDataCell(n);
  const int64_t grow = newHeader - oldHeader;
  if (grow > 0 && grow >= FreeDataCells(ctx)) return kDataStackFull;

  std::memmove(payload + newHeader, payload + oldHeader, elementCells * sizeof(Cell));
  ctx->dataTop += static_cast<int32_t>(grow);
  ValueDescriptor& top = *DescriptorAt(ctx, 0);
  if (toPlain) {
    top = {cls == kComplexDouble && count > 0 ? uint32_t{kComplex} : 0u, static_cast<int32_t>(elementCells),
           static_cast<int32_t>(shape[1])};
    return kOk;
  }
  WriteArrayHeader(payload, cls, shape, n);
  top = {kBoxed, static_cast<int32_t>(newHeader + elementCells), plain ? int32_t{kNumericArray} : d.extra};
  return kOk;
}
