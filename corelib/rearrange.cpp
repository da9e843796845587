// Rearranging arrays without arithmetic beyond differences and products:
// diff, kron, the flips, rot90, diag, tril and triu, repmat, ndgrid and
// meshgrid. Lists, cells and structures are flipped, rotated and tiled through
// a table of their element positions, rearranged like an int32 array.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corelib/arrays.h"
#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/indexing.h"

namespace {

constexpr int kMaxTileDims = 16;
constexpr int64_t kMaxResultElements = INT32_MAX;

bool IsRearrangedComposite(const ValueDescriptor& d) {
  return IsComposite(d) && d.extra >= kList && d.extra <= kStructArray;
}

void DropTop(EngineContext* ctx, int k) {
  for (int i = 0; i < k; ++i) PopValue(ctx);
}

int32_t SizeAlong(const NumericView& v, int j) { return j < v.ndims ? static_cast<int32_t>(v.dims[j]) : 1; }

// A kernel pushes the rearranged array of the array at a position (the
// parameters were read before).
struct Kernel {
  virtual StatusCode Push(EngineContext* ctx, int position) = 0;

 protected:
  ~Kernel() = default;
};

// With the rearranged position table on top and the nargin arguments under
// it, the composite argument `d` first: its elements gathered by the table
// take the arguments' place (a list stays a list).
[[nodiscard]] StatusCode GatherRearranged(EngineContext* ctx, int nargin, const ValueDescriptor& d) {
  int32_t fields = 0;
  if (StatusCode st = GatherCompositeElements(ctx, nargin, &fields); st != kOk) {
    PopValue(ctx);
    return st;
  }
  (void)DropArgsUnderResults(ctx, 1, 1);
  if (d.extra == kList && DescriptorAt(ctx, 0)->extra == kCellArray)
    if (StatusCode st = ReshapeTopCellArray(ctx, 0, nullptr); st != kOk) {
      PopValue(ctx);
      return st;
    }
  return DropArgsUnderResults(ctx, 1, nargin);
}

// Runs a kernel on the value at position (the first of nargin inputs) and
// leaves its result in place of the inputs. A composite goes through its
// position table: the table is rearranged, the elements gathered by it, and a
// list stays a list.
[[nodiscard]] StatusCode RearrangeValue(EngineContext* ctx, int nargin, Kernel& kernel) {
  const int position = nargin - 1;
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (!IsRearrangedComposite(d)) {
    if (StatusCode st = kernel.Push(ctx, position); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (StatusCode st = BuildElementOffsetTable(ctx, position, false); st != kOk) return st;
  if (StatusCode st = kernel.Push(ctx, 0); st != kOk) {
    PopValue(ctx);
    return st;
  }
  (void)DropArgsUnderResults(ctx, 1, 1);
  return GatherRearranged(ctx, nargin, d);
}

// An order or count given as a double; NaN and infinities reach the callers
// as they are, so that each can judge them before truncating.
[[nodiscard]] StatusCode ReadRealScalar(EngineContext* ctx, int position, double* x) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsPlainMatrix(d) || (d.kind & kComplex) || d.cells != 1) return kWrongType;
  *x = DataAt(ctx, position)->f;
  return kOk;
}

// Reverses every run along dimension d (0-based) of one part in place.
void FlipPart(uint8_t* data, int size, const DimensionSplit& s) {
  uint8_t tmp[8];
  for (int64_t o = 0; o < s.outer; ++o)
    for (int64_t i = 0; i < s.inner; ++i) {
      uint8_t* base = data + (o * s.length * s.inner + i) * size;
      for (int64_t a = 0, b = s.length - 1; a < b; ++a, --b) {
        std::memcpy(tmp, base + a * s.inner * size, size);
        std::memcpy(base + a * s.inner * size, base + b * s.inner * size, size);
        std::memcpy(base + b * s.inner * size, tmp, size);
      }
    }
}

// Flips the array at a position in place along d; never fails.
void FlipArrayInPlace(EngineContext* ctx, int position, int d) {
  ArrayKind kind;
  NumericView v;
  (void)ReadArrayKind(ctx, position, &kind, &v);
  if (SizeAlong(v, d) <= 1 || v.count == 0) return;
  int32_t dims[kMaxDims];
  for (int j = 0; j < v.ndims; ++j) dims[j] = static_cast<int32_t>(v.dims[j]);
  DimensionSplit s;
  SplitDimensions(v.ndims, dims, &d, &s);
  auto* data = const_cast<uint8_t*>(v.data);
  FlipPart(data, kind.size, s);
  if (kind.complex) FlipPart(data + v.count * kind.size, kind.size, s);
}

// rot90 of every page; k is 1, 2 or 3.
struct RotateKernel final : Kernel {
  int k;
  StatusCode Push(EngineContext* ctx, int position) override {
    ArrayKind kind;
    NumericView v;
    if (!ReadArrayKind(ctx, position, &kind, &v)) return kWrongType;
    int32_t dims[kMaxDims];
    for (int j = 0; j < v.ndims; ++j) dims[j] = static_cast<int32_t>(v.dims[j]);
    const int64_t rows = dims[0], cols = dims[1];
    if (k != 2) std::swap(dims[0], dims[1]);
    uint8_t* re = nullptr;
    uint8_t* im = nullptr;
    if (StatusCode st = PushArrayOfKind(ctx, kind, v.ndims, dims, &re, &im); st != kOk) return st;
    ReadNumeric(ctx, position + 1, &v);
    const int64_t page = rows * cols;
    const int parts = kind.complex ? 2 : 1;
    for (int part = 0; part < parts; ++part) {
      const uint8_t* from = v.data + part * v.count * kind.size;
      uint8_t* to = part == 0 ? re : im;
      for (int64_t p = 0; p * page < v.count; ++p)
        for (int64_t i = 0; i < rows; ++i)
          for (int64_t j = 0; j < cols; ++j) {
            int64_t at = 0;
            if (k == 1) at = (cols - 1 - j) * rows + i;  // new (cols-1-j, i), rows columns
            if (k == 2) at = page - 1 - (i * cols + j);  // the page reversed
            if (k == 3) at = j * rows + (rows - 1 - i);  // new (j, rows-1-i)
            std::memcpy(to + (p * page + at) * kind.size, from + (p * page + i * cols + j) * kind.size, kind.size);
          }
    }
    return kOk;
  }
};

// Tiles the array by counts[j] along each dimension j (count 0 .. n-1).
struct TileKernel final : Kernel {
  int n;
  const int64_t* counts;
  bool empty;  // some count below 1
  StatusCode Push(EngineContext* ctx, int position) override {
    ArrayKind kind;
    NumericView v;
    if (!ReadArrayKind(ctx, position, &kind, &v)) return kWrongType;
    if (v.ndims > kMaxTileDims) return kOutOfRangeArg;
    int32_t dims[kMaxDims];
    int32_t from[kMaxDims];
    const int nd = std::max(n, v.ndims);
    int64_t total = 1;
    for (int j = 0; j < nd; ++j) {
      from[j] = SizeAlong(v, j);
      const int64_t size = from[j] * (j < n ? counts[j] : 1);
      if (size > kMaxResultElements) return kObjTooLarge;
      dims[j] = static_cast<int32_t>(size);
      total = std::min<int64_t>(total * size, kMaxResultElements + 1);
    }
    if (empty) {
      const int32_t zero[2] = {0, 0};
      uint8_t* re = nullptr;
      uint8_t* im = nullptr;
      return PushArrayOfKind(ctx, kind, 2, zero, &re, &im);
    }
    if (total > kMaxResultElements) return kObjTooLarge;
    uint8_t* re = nullptr;
    uint8_t* im = nullptr;
    if (StatusCode st = PushArrayOfKind(ctx, kind, nd, dims, &re, &im); st != kOk) return st;
    if (total == 0) return kOk;
    ReadNumeric(ctx, position + 1, &v);
    int64_t stride[kMaxDims];
    StorageStrides(nd, from, stride);
    // Walking the result in storage order, the source subscript along j is
    // the result's modulo the source size: offset follows it.
    const int parts = kind.complex ? 2 : 1;
    for (int part = 0; part < parts; ++part) {
      const uint8_t* src = v.data + part * v.count * kind.size;
      uint8_t* out = part == 0 ? re : im;
      int32_t at[kMaxDims] = {};
      int32_t sub[kMaxDims] = {};
      int64_t offset = 0;
      for (int64_t e = 0; e < total; ++e) {
        std::memcpy(out + e * kind.size, src + offset * kind.size, kind.size);
        for (int w = 0; w < nd; ++w) {
          const int j = w == 0 ? (nd > 1 ? 1 : 0) : w == 1 ? 0 : w;
          ++at[j];
          if (++sub[j] == from[j]) {
            sub[j] = 0;
            offset -= stride[j] * (from[j] - 1);
          } else {
            offset += stride[j];
          }
          if (at[j] < dims[j]) break;
          at[j] = 0;
          // A wrap of at[j] always coincides with a wrap of sub[j].
        }
      }
    }
    return kOk;
  }
};

// The count inputs of repmat: an empty flag for any count below 1 (NaN and
// -Inf too), 109 for a count whose tiles cannot exist.
[[nodiscard]] StatusCode JudgeCount(double x, int64_t* count, bool* empty) {
  if (!(x >= 1)) {
    *empty = true;
    *count = 0;
    return kOk;
  }
  if (x > static_cast<double>(kMaxResultElements)) return kObjTooLarge;
  *count = TruncateToInt64(x);
  return kOk;
}

[[nodiscard]] StatusCode RepmatCounts(EngineContext* ctx, int nargin, int64_t* counts, int* n, bool* empty) {
  *empty = false;
  if (nargin == 3) {
    double m = 0, k = 0;
    if (StatusCode st = ReadRealScalar(ctx, 1, &m); st != kOk) return st;
    if (StatusCode st = ReadRealScalar(ctx, 0, &k); st != kOk) return st;
    *n = 2;
    if (StatusCode st = JudgeCount(m, &counts[0], empty); st != kOk) return st;
    return JudgeCount(k, &counts[1], empty);
  }
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsPlainMatrix(d) || (d.kind & kComplex)) return kWrongType;
  const Cell* c = DataAt(ctx, 0);
  const int64_t k = d.cells;
  if (k == 0 || k > kMaxTileDims) return kOutOfRangeArg;
  *n = k == 1 ? 2 : static_cast<int>(k);
  for (int j = 0; j < *n; ++j)
    if (StatusCode st = JudgeCount(c[k == 1 ? 0 : j].f, &counts[j], empty); st != kOk) return st;
  return kOk;
}

// Grids: grid g of k inputs has the element s_g of input g at subscripts s.
[[nodiscard]] StatusCode PushGrid(EngineContext* ctx, int inputPosition, int g, int k, const int32_t* dims) {
  ArrayKind kind;
  NumericView v;
  (void)ReadArrayKind(ctx, inputPosition, &kind, &v);
  uint8_t* re = nullptr;
  uint8_t* im = nullptr;
  if (StatusCode st = PushArrayOfKind(ctx, kind, k, dims, &re, &im); st != kOk) return st;
  ReadNumeric(ctx, inputPosition + 1, &v);
  int64_t total = 1;
  for (int j = 0; j < k; ++j) total *= dims[j];
  if (total == 0) return kOk;
  int64_t stride[kMaxDims] = {};
  stride[g] = 1;  // only subscript g moves through the input
  const int parts = kind.complex ? 2 : 1;
  for (int part = 0; part < parts; ++part) {
    const uint8_t* src = v.data + part * v.count * kind.size;
    uint8_t* out = part == 0 ? re : im;
    int32_t at[kMaxDims] = {};
    int64_t offset = 0;
    int64_t e = 0;
    do {
      std::memcpy(out + e++ * kind.size, src + offset * kind.size, kind.size);
    } while (NextInStorageOrder(k, dims, at, stride, &offset));
  }
  return kOk;
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers of the rearranging builtins.

bool ReadArrayKind(EngineContext* ctx, int position, ArrayKind* kind, NumericView* view) {
  if (!ReadNumeric(ctx, position, view)) return false;
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  kind->complex = IsComplexClass(view->cls) && view->count > 0;
  kind->cls = view->cls == kComplexDouble ? kDouble : view->cls == kComplexSingle ? kSingle : view->cls;
  kind->subtype = IsPlainMatrix(d) ? 0 : d.extra;
  kind->size = ElementBytes(kind->cls);
  return true;
}

StatusCode PushArrayOfKind(EngineContext* ctx, const ArrayKind& kind, int nd, const int32_t* dims, uint8_t** re,
                           uint8_t** im) {
  void* r = nullptr;
  void* i = nullptr;
  StatusCode st = kOk;
  if (kind.cls == kDouble)
    st = PushDoubleArray(ctx, nd, dims, reinterpret_cast<double**>(&r),
                         kind.complex ? reinterpret_cast<double**>(&i) : nullptr);
  else if (kind.cls == kSingle)
    st = PushSingleArray(ctx, nd, dims, reinterpret_cast<float**>(&r),
                         kind.complex ? reinterpret_cast<float**>(&i) : nullptr);
  else if (kind.subtype == kCharArray)
    st = PushCharArray(ctx, nd, dims, reinterpret_cast<uint16_t**>(&r));
  else if (kind.subtype == kLogicalArray)
    st = PushLogicalArray(ctx, nd, dims, reinterpret_cast<uint8_t**>(&r));
  else
    st = PushIntegerArray(ctx, nd, dims, static_cast<int>(kind.cls & 0x7F), (kind.cls & 0x80) != 0, &r);
  *re = static_cast<uint8_t*>(r);
  *im = static_cast<uint8_t*>(i);
  return st;
}

void StorageStrides(int nd, const int32_t* dims, int64_t* stride) {
  if (nd < 2) {
    stride[0] = 1;
    return;
  }
  stride[1] = 1;
  stride[0] = dims[1];
  int64_t s = int64_t{dims[0]} * dims[1];
  for (int j = 2; j < nd; ++j) {
    stride[j] = s;
    s *= dims[j];
  }
}

bool NextInStorageOrder(int nd, const int32_t* dims, int32_t* at, const int64_t* stride, int64_t* offset) {
  for (int w = 0; w < nd; ++w) {
    const int j = nd < 2 ? 0 : w == 0 ? 1 : w == 1 ? 0 : w;
    *offset += stride[j];
    if (++at[j] < dims[j]) return true;
    *offset -= stride[j] * dims[j];
    at[j] = 0;
  }
  return false;
}

// ---------------------------------------------------------------------------
// The builtins.

StatusCode diff(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  int dim = -1;
  if (nargin == 3) {
    int32_t k = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &k); st != kOk) return ReportedStatus(st);
    if (k < 1) return kBadDim;
    dim = k - 1;
  }
  double order = 1;
  if (nargin >= 2) {
    const int p = nargin - 2;
    int nd = 0;
    int32_t dims[kMaxDims];
    int64_t count = 0;
    double* re = nullptr;
    if (StatusCode st = GetDoubleArrayArg(ctx, p, &nd, dims, &count, &re, nullptr); st != kOk)
      return ReportedStatus(st);
    if (count > 1) return kBadSize;
    if (count == 1) order = std::trunc(re[0]);
    if (std::isnan(order) || order < 0) return kOutOfRangeArg;
  }
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
  const ValueDescriptor& x = *DescriptorAt(ctx, nargin - 1);
  if (!IsPlainMatrix(x) && !(IsBoxedArray(x) && x.extra == kNumericArray)) return kWrongType;
  if (StatusCode st = GetDoubleArrayArg(ctx, nargin - 1, &nd, dims, &count, &re, &im); st != kOk)
    return ReportedStatus(st);
  DimensionSplit s{1, 1, 1};
  int d = dim;
  if (d < nd || d < 0) SplitDimensions(nd, dims, &d, &s);
  const double length = d < nd ? dims[d] : 1;
  if (order >= length) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (order == 0) return DropArgsUnderResults(ctx, 0, nargin - 1);
  const auto n = static_cast<int64_t>(order);
  int32_t shape[kMaxDims];
  std::copy(dims, dims + nd, shape);
  shape[d] -= static_cast<int32_t>(n);
  double* out = nullptr;
  double* outIm = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, nd, shape, &out, im ? &outIm : nullptr); st != kOk) return st;
  (void)GetDoubleArrayArg(ctx, nargin, &nd, dims, &count, &re, &im);
  const int64_t kept = s.length - n;
  for (double* part : {re, im}) {
    if (part == nullptr) continue;
    double* to = part == re ? out : outIm;
    for (int64_t o = 0; o < s.outer; ++o)
      for (int64_t i = 0; i < s.inner; ++i) {
        double* col = part + o * s.length * s.inner + i;
        for (int64_t pass = 1; pass <= n; ++pass)
          for (int64_t k = 0; k + pass < s.length; ++k) col[k * s.inner] = col[(k + 1) * s.inner] - col[k * s.inner];
        for (int64_t k = 0; k < kept; ++k) to[(o * kept + k) * s.inner + i] = col[k * s.inner];
      }
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode kron(EngineContext* ctx) {
  int32_t am = 0, an = 0, bm = 0, bn = 0;
  double *ar = nullptr, *ai = nullptr, *br = nullptr, *bi = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, 1, &am, &an, &ar, &ai); st != kOk) return ReportedStatus(st);
  if (StatusCode st = GetDoubleMatrixArg(ctx, 0, &bm, &bn, &br, &bi); st != kOk) return ReportedStatus(st);
  const int64_t rows = int64_t{am} * bm, cols = int64_t{an} * bn;
  if (rows > kMaxResultElements || cols > kMaxResultElements || rows * cols > kMaxResultElements) return kObjTooLarge;
  const bool complex = (ai || bi) && rows * cols > 0;
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st =
          PushDoubleMatrix(ctx, static_cast<int32_t>(rows), static_cast<int32_t>(cols), &re, complex ? &im : nullptr);
      st != kOk)
    return st;
  (void)GetDoubleMatrixArg(ctx, 2, &am, &an, &ar, &ai);
  (void)GetDoubleMatrixArg(ctx, 1, &bm, &bn, &br, &bi);
  for (int64_t r = 0; r < am; ++r)
    for (int64_t j = 0; j < an; ++j) {
      const double xr = ar[r * an + j], xi = ai ? ai[r * an + j] : 0;
      for (int64_t i = 0; i < bm; ++i)
        for (int64_t k = 0; k < bn; ++k) {
          const double yr = br[i * bn + k], yi = bi ? bi[i * bn + k] : 0;
          const int64_t at = (r * bm + i) * cols + j * bn + k;
          re[at] = complex ? xr * yr - xi * yi : xr * yr;
          if (complex) im[at] = xr * yi + xi * yr;
        }
    }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode FlipAlongDimension(EngineContext* ctx, int flag) {
  const int nargin = flag == 0 ? 2 : 1;
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  int d = flag == 1 ? 0 : 1;
  if (flag == 0) {
    int32_t k = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &k); st != kOk) return ReportedStatus(st);
    if (k < 1) return kBadDim;
    d = k - 1;
  }
  const int position = nargin - 1;
  const ValueDescriptor v = *DescriptorAt(ctx, position);
  if (IsRearrangedComposite(v)) {
    if (StatusCode st = BuildElementOffsetTable(ctx, position, false); st != kOk) return st;
    FlipArrayInPlace(ctx, 0, d);
    return GatherRearranged(ctx, nargin, v);
  }
  if (!IsPlainMatrix(v) && !IsBoxedArray(v)) return kWrongType;
  FlipArrayInPlace(ctx, position, d);
  return DropArgsUnderResults(ctx, 0, nargin - 1);
}

StatusCode rot90(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  const ValueDescriptor& v = *DescriptorAt(ctx, nargin - 1);
  if (!IsRearrangedComposite(v) && !IsPlainMatrix(v) && !IsBoxedArray(v)) return kWrongType;
  int64_t count = 0;
  if (StatusCode st = GetArgDims(ctx, nargin - 1, nullptr, nullptr, &count); st != kOk) return ReportedStatus(st);
  int32_t k = 1;
  if (nargin == 2)
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &k); st != kOk) return ReportedStatus(st);
  k = ((k % 4) + 4) % 4;
  if (count == 0 || k == 0) return DropArgsUnderResults(ctx, 0, nargin - 1);
  RotateKernel kernel;
  kernel.k = k;
  return RearrangeValue(ctx, nargin, kernel);
}

StatusCode diag(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  int32_t k = 0;
  if (nargin == 2)
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &k); st != kOk) return ReportedStatus(st);
  ArrayKind kind;
  NumericView v;
  if (!ReadArrayKind(ctx, nargin - 1, &kind, &v)) return kWrongType;
  if (v.count == 0) return DropArgsUnderResults(ctx, 0, nargin - 1);
  if (v.ndims > 2) return kBadDim;
  const int64_t rows = v.dims[0], cols = v.dims[1];
  uint8_t* re = nullptr;
  uint8_t* im = nullptr;
  const int parts = kind.complex ? 2 : 1;
  if (rows == 1 || cols == 1) {
    const int64_t n = v.count + std::abs(int64_t{k});
    if (n * n > kMaxResultElements) return kObjTooLarge;
    const int32_t dims[2] = {static_cast<int32_t>(n), static_cast<int32_t>(n)};
    if (StatusCode st = PushArrayOfKind(ctx, kind, 2, dims, &re, &im); st != kOk) return st;
    ReadNumeric(ctx, nargin, &v);
    std::memset(re, 0, n * n * kind.size);
    if (im) std::memset(im, 0, n * n * kind.size);
    for (int part = 0; part < parts; ++part)
      for (int64_t i = 0; i < v.count; ++i) {
        const int64_t at = k >= 0 ? i * n + i + k : (i - k) * n + i;
        std::memcpy((part ? im : re) + at * kind.size, v.data + (part * v.count + i) * kind.size, kind.size);
      }
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  int64_t length = 0, r0 = 0, c0 = 0;
  if (k >= 0 && k < cols) {
    length = std::min(cols - k, rows);
    c0 = k;
  } else if (k < 0 && -int64_t{k} < rows) {
    length = std::min(rows + k, cols);
    r0 = -int64_t{k};
  }
  const int32_t dims[2] = {static_cast<int32_t>(length), 1};
  if (StatusCode st = PushArrayOfKind(ctx, kind, 2, dims, &re, &im); st != kOk) return st;
  ReadNumeric(ctx, nargin, &v);
  for (int part = 0; part < parts && length > 0; ++part)
    for (int64_t i = 0; i < length; ++i)
      std::memcpy((part ? im : re) + i * kind.size, v.data + (part * v.count + (r0 + i) * cols + c0 + i) * kind.size,
                  kind.size);
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode TriangularPart(EngineContext* ctx, bool upper, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  int32_t k = 0;
  if (nargin == 2)
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &k); st != kOk) return ReportedStatus(st);
  ArrayKind kind;
  NumericView v;
  if (!ReadArrayKind(ctx, nargin - 1, &kind, &v)) return kWrongType;
  if (v.ndims > 2) return kind.cls == kDouble ? kWrongType : kBadDim;
  const int64_t rows = v.dims[0], cols = v.dims[1];
  auto* data = const_cast<uint8_t*>(v.data);
  for (int part = 0; part < (kind.complex ? 2 : 1); ++part)
    for (int64_t i = 0; i < rows; ++i) {
      // tril clears the columns above i + k, triu those below it.
      const int64_t edge = i + k;
      const int64_t from = upper ? 0 : std::max<int64_t>(0, edge + 1);
      const int64_t to = upper ? std::min<int64_t>(cols, std::max<int64_t>(0, edge)) : cols;
      if (from < to) std::memset(data + (part * v.count + i * cols + from) * kind.size, 0, (to - from) * kind.size);
    }
  return DropArgsUnderResults(ctx, 0, nargin - 1);
}

StatusCode repmat(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  const ValueDescriptor v = *DescriptorAt(ctx, nargin - 1);
  if (!IsRearrangedComposite(v) && !IsPlainMatrix(v) && !IsBoxedArray(v)) return kWrongType;
  int64_t counts[kMaxTileDims];
  int n = 0;
  bool empty = false;
  if (StatusCode st = RepmatCounts(ctx, nargin, counts, &n, &empty); st != kOk) return st;
  if (empty && IsRearrangedComposite(v)) {
    const StatusCode st = v.extra == kList || v.extra == kCellArray
                              ? MakeListFromValues(ctx, 0, false, nullptr, 0)
                              : PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr);
    if (st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  TileKernel kernel;
  kernel.n = n;
  kernel.counts = counts;
  kernel.empty = empty;
  return RearrangeValue(ctx, nargin, kernel);
}

StatusCode BuildGridArrays(EngineContext* ctx, bool mesh, int nargin, int nargout) {
  if (nargin > kMaxTileDims || nargout > kMaxTileDims) return kOutOfRangeArg;
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  const int grids = mesh ? 2 : std::max(nargout, nargin == 1 ? 1 : nargin);
  if (!mesh && nargin > 1 && nargout > nargin) return kTooManyArgout;
  const int outputs = std::max(1, std::min(nargout, grids));
  // Input g of the grids, by position: with one input every grid reads it;
  // meshgrid builds its grids for (y, x).
  const int k = nargin == 1 ? grids : nargin;
  auto positionOf = [&](int g) {
    if (nargin == 1) return 0;
    if (mesh) return g;  // (x, y) exchanged: grid 0 reads y on top
    return nargin - 1 - g;
  };
  int32_t dims[kMaxDims];
  int64_t total = 1;
  for (int g = 0; g < k; ++g) {
    NumericView v;
    if (!ReadNumeric(ctx, positionOf(g), &v)) return kWrongType;
    if (v.count > kMaxResultElements) return kObjTooLarge;
    dims[g] = static_cast<int32_t>(v.count);
    total = std::min<int64_t>(total * v.count, kMaxResultElements + 1);
  }
  if (total > kMaxResultElements) return kObjTooLarge;
  const int nd = std::max(k, 2);
  if (k < 2) dims[1] = 1;
  // The first output ends on top: ndgrid's output j is grid j; meshgrid's X
  // is its second grid, Y its first.
  for (int o = outputs - 1; o >= 0; --o) {
    const int g = mesh ? 1 - o : o;
    const int pushed = outputs - 1 - o;
    if (StatusCode st = PushGrid(ctx, positionOf(g) + pushed, g, nd, dims); st != kOk) {
      DropTop(ctx, pushed);
      return st;
    }
  }
  return DropArgsUnderResults(ctx, outputs, nargin);
}

// ---------------------------------------------------------------------------
// Opcode handlers: ins[1] holds the input count, ins[2] the output count.

StatusCode RearrangeOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Diff:
      return diff(ctx, ins[1]);
    case Op::Kron:
      return kron(ctx);
    case Op::Flipdim:
      return FlipAlongDimension(ctx, 0);
    case Op::Flipud:
      return FlipAlongDimension(ctx, 1);
    case Op::Fliplr:
      return FlipAlongDimension(ctx, 2);
    case Op::Rot90:
      return rot90(ctx, ins[1]);
    case Op::Diag:
      return diag(ctx, ins[1]);
    case Op::Tril:
      return TriangularPart(ctx, false, ins[1]);
    case Op::Triu:
      return TriangularPart(ctx, true, ins[1]);
    case Op::Repmat:
      return repmat(ctx, ins[1]);
    case Op::Ndgrid:
      return BuildGridArrays(ctx, false, ins[1], ins[2]);
    default:
      return BuildGridArrays(ctx, true, ins[1], ins[2]);
  }
}
