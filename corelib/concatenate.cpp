// Joining and reshaping values on the value stack: horzcat, vertcat and cat
// (plain arrays and, through element offset tables, cells and structures),
// the common field list of joined structures, reshape and squeeze, permute
// and ipermute, and the index conversions sub2ind and ind2sub.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corelib/arrays.h"
#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/indexing.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

constexpr int kMaxJoinDims = 16;

// Distinct field names a structure concatenation can gather.
constexpr int kMaxJoinedFields = 1024;

bool IsPlainOperand(const ValueDescriptor& d) { return IsPlainMatrix(d) || IsBoxedArray(d); }
bool IsCellOperand(const ValueDescriptor& d) { return IsComposite(d) && (d.extra == kList || d.extra == kCellArray); }
bool IsStructOperand(const ValueDescriptor& d) {
  return IsComposite(d) && (d.extra == kStruct || d.extra == kStructArray);
}

// The real-part class of an element class: complex classes share their parts' layout.
uint32_t RealClass(uint32_t cls) {
  if (cls == kComplexDouble) return kDouble;
  if (cls == kComplexSingle) return kSingle;
  return cls;
}

// The result of a join: its element class decides how every operand's
// elements are written into it.
struct JoinTarget {
  uint32_t cls;  // real class: double, single or an integer class
  bool logical;
  bool isChar;
  bool complex;
  int64_t count;
  uint8_t* re;
  uint8_t* im;
};

// Element k of s written at j of t, converted to t's class. A logical target
// holds only 0 and 1: any non-zero value (NaN counts as zero) gives 1.
void WriteElement(const JoinTarget& t, int64_t j, const NumericView& s, int64_t k) {
  if (t.logical) {
    const double re = RealElement(s, k), im = ImagElement(s, k);
    t.re[j] = (re < 0 || re > 0 || im < 0 || im > 0) ? 1 : 0;
    return;
  }
  if (t.cls == kDouble) {
    reinterpret_cast<double*>(t.re)[j] = RealElement(s, k);
    if (t.complex) reinterpret_cast<double*>(t.im)[j] = ImagElement(s, k);
    return;
  }
  if (t.cls == kSingle) {
    reinterpret_cast<float*>(t.re)[j] = static_cast<float>(RealElement(s, k));
    if (t.complex) reinterpret_cast<float*>(t.im)[j] = static_cast<float>(ImagElement(s, k));
    return;
  }
  const int bytes = static_cast<int>(t.cls & 0x7F);
  const uint64_t v = IsFloatClass(s.cls) ? static_cast<uint64_t>(TruncateToInt64(RealElement(s, k)))
                                         : static_cast<uint64_t>(IntegerElement(s, k));
  std::memcpy(t.re + j * bytes, &v, bytes);  // little-endian: the low bytes
}

// Copies run elements of s from k into t at j.
void CopyRun(const JoinTarget& t, int64_t j, const NumericView& s, bool sourceLogical, int64_t k, int64_t run) {
  const uint32_t sc = RealClass(s.cls);
  if (sc == t.cls && (!t.logical || sourceLogical)) {
    const int size = ElementBytes(sc);
    std::memcpy(t.re + j * size, s.data + k * size, run * size);
    if (t.complex) {
      if (IsComplexClass(s.cls))
        std::memcpy(t.im + j * size, s.data + (s.count + k) * size, run * size);
      else
        std::memset(t.im + j * size, 0, run * size);
    }
    return;
  }
  for (int64_t i = 0; i < run; ++i) WriteElement(t, j + i, s, k + i);
}

bool IsLogicalAt(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kBoxed && d.extra == kLogicalArray;
}

// A join operand after the base contributes nothing when it has no columns,
// or when it is two-dimensional without rows.
bool IsIgnored(const NumericView& v) { return v.dims[1] == 0 || (v.ndims == 2 && v.dims[0] == 0); }

uint32_t SizeAlong(const NumericView& v, int j) { return j < v.ndims ? v.dims[j] : 1u; }

void SplitOf(const NumericView& v, int nd, int d, DimensionSplit* split) {
  int32_t dims[kMaxDims];
  for (int j = 0; j < nd; ++j) dims[j] = static_cast<int32_t>(SizeAlong(v, j));
  SplitDimensions(nd, dims, &d, split);
}

// Joins the top n values, every one a plain matrix or a boxed numeric, char
// or logical array, along dimension dim (1-based); the result replaces them.
[[nodiscard]] StatusCode JoinArrays(EngineContext* ctx, int n, int dim) {
  NumericView v;
  ReadNumeric(ctx, n - 1, &v);
  const uint32_t firstClass = RealClass(v.cls);
  const bool firstLogical = IsLogicalAt(ctx, n - 1);
  const bool firstChar = DescriptorAt(ctx, n - 1)->kind == kBoxed && DescriptorAt(ctx, n - 1)->extra == kCharArray;

  int base = n - 1;
  for (int i = 0; i < n; ++i) {
    ReadNumeric(ctx, n - 1 - i, &v);
    if (v.ndims > 2 || v.dims[0] >= 1) {
      base = i;
      break;
    }
  }
  ReadNumeric(ctx, n - 1 - base, &v);
  const int nd = std::max(v.ndims, dim);
  const int d = dim - 1;
  int64_t dims[kMaxDims];
  for (int j = 0; j < nd; ++j) dims[j] = SizeAlong(v, j);
  bool complex = IsComplexClass(v.cls);
  for (int i = base + 1; i < n; ++i) {
    ReadNumeric(ctx, n - 1 - i, &v);
    if (IsIgnored(v)) continue;
    if (v.ndims > nd) return kIncompSize;
    for (int j = 0; j < nd; ++j)
      if (j != d && SizeAlong(v, j) != dims[j]) return kIncompSize;
    dims[d] += SizeAlong(v, d);
    if (dims[d] > INT32_MAX) return kObjTooLarge;
    complex = complex || IsComplexClass(v.cls);
  }

  int32_t shape[kMaxDims];
  for (int j = 0; j < nd; ++j) shape[j] = static_cast<int32_t>(dims[j]);
  JoinTarget t{firstClass, firstLogical, firstChar, false, 1, nullptr, nullptr};
  for (int j = 0; j < nd; ++j) t.count *= dims[j];
  StatusCode st = kOk;
  void* re = nullptr;
  void* im = nullptr;
  if (firstClass == kDouble) {
    t.complex = complex;
    st = PushDoubleArray(ctx, nd, shape, reinterpret_cast<double**>(&re),
                         complex ? reinterpret_cast<double**>(&im) : nullptr);
  } else if (firstClass == kSingle) {
    t.complex = complex;
    st = PushSingleArray(ctx, nd, shape, reinterpret_cast<float**>(&re),
                         complex ? reinterpret_cast<float**>(&im) : nullptr);
  } else if (firstChar) {
    st = PushCharArray(ctx, nd, shape, reinterpret_cast<uint16_t**>(&re));
  } else if (firstLogical) {
    st = PushLogicalArray(ctx, nd, shape, reinterpret_cast<uint8_t**>(&re));
  } else {
    st = PushIntegerArray(ctx, nd, shape, static_cast<int>(firstClass & 0x7F), (firstClass & 0x80) != 0, &re);
  }
  if (st != kOk) return st;
  t.re = static_cast<uint8_t*>(re);
  t.im = static_cast<uint8_t*>(im);
  t.complex = t.complex && t.count > 0;

  if (t.count > 0) {
    DimensionSplit whole;
    int split = d;
    SplitDimensions(nd, shape, &split, &whole);
    int64_t at = 0;  // position along d
    for (int i = base; i < n; ++i) {
      const int position = n - i;  // the result sits above the operands
      ReadNumeric(ctx, position, &v);
      if (i > base && IsIgnored(v)) continue;
      if (v.count == 0) {
        at += SizeAlong(v, d);
        continue;
      }
      DimensionSplit own;
      SplitOf(v, nd, d, &own);
      const bool logical = IsLogicalAt(ctx, position);
      const int64_t run = int64_t{own.length} * own.inner;
      for (int64_t o = 0; o < own.outer; ++o)
        CopyRun(t, (o * whole.length + at) * whole.inner, v, logical, o * run, run);
      at += own.length;
    }
  }
  return DropArgsUnderResults(ctx, 1, n);
}

void DropTop(EngineContext* ctx, int k) {
  for (int i = 0; i < k; ++i) PopValue(ctx);
}

// The fields of the first structure of the composite at a position, appended
// to names where not yet present.
[[nodiscard]] StatusCode GatherFieldNames(EngineContext* ctx, int position, SymbolId* names, int* count) {
  int64_t structs = 0;
  int32_t fields = 0;
  CompositeElementHeader* item = nullptr;
  if (StatusCode st = GetCompositeArgInfo(ctx, position, 's', nullptr, nullptr, &structs, &fields, &item); st != kOk)
    return st;
  if (structs == 0) return kOk;
  const CompositeElementHeader* e = item;
  for (int32_t f = 0; f < fields; ++f, e = NextElement(e)) {
    if (std::find(names, names + *count, e->name) != names + *count) continue;
    if (*count == kMaxJoinedFields) return kObjTooLarge;
    names[(*count)++] = e->name;
  }
  return kOk;
}

// Cell and structure joins: each operand's element offset table (absolute,
// so one gather serves them all) is joined like an int32 array, and the
// gather builds the composite from the joined table.
[[nodiscard]] StatusCode JoinComposites(EngineContext* ctx, int n, int dim, bool structs) {
  SymbolId names[kMaxJoinedFields];
  int count = 0;
  if (structs) {
    for (int p = 0; p < n; ++p)
      if (StatusCode st = GatherFieldNames(ctx, p, names, &count); st != kOk) return st;
    for (int p = 0; p < n; ++p) {
      (void)RotateValues(ctx, p + 1, 1);
      const StatusCode st = ConformStructFields(ctx, names, count);
      (void)RotateValues(ctx, p + 1, p);
      if (st != kOk) return st;
    }
  }
  for (int i = 0; i < n; ++i) {
    // With i tables pushed, operand i still sits at position n - 1.
    if (StatusCode st = BuildElementOffsetTable(ctx, n - 1, true); st != kOk) {
      DropTop(ctx, i);
      return st;
    }
  }
  if (StatusCode st = JoinArrays(ctx, n, dim); st != kOk) {
    DropTop(ctx, n);
    return st;
  }
  int64_t elements = 0;
  (void)GetArgDims(ctx, 0, nullptr, nullptr, &elements);  // the joined table is an int32 array
  StatusCode st = kOk;
  if (elements == 0) {
    PopValue(ctx);
    st = structs ? PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr)
                 : MakeListFromValues(ctx, 0, false, nullptr, 0);
    if (st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, n);
  }
  int32_t fields = structs ? count : -1;
  if (st = GatherCompositeElements(ctx, -1, &fields); st != kOk) {
    PopValue(ctx);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, n + 1);
}

// Dimensions of any value that has them; lists and structures count as rows.
[[nodiscard]] StatusCode ValueDims(EngineContext* ctx, int position, int* nd, int32_t* dims, int64_t* count) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsPlainOperand(d) && !(IsComposite(d) && d.extra >= kList && d.extra <= kStructArray)) return kWrongType;
  if (StatusCode st = GetArgDims(ctx, position, nd, dims, count); st != kOk) return st;
  if (*nd < 2) *nd = 2;
  return kOk;
}

// Reads a size or order vector: a plain double matrix of at most 16 elements,
// each truncated toward zero.
[[nodiscard]] StatusCode ReadSizeVector(EngineContext* ctx, int position, double* out, int* count) {
  int32_t m = 0, n = 0;
  double* re = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, position, &m, &n, &re, nullptr); st != kOk) return st;
  const int64_t c = int64_t{m} * n;
  if (c > kMaxJoinDims) return kOutOfRangeArg;
  for (int64_t k = 0; k < c; ++k) out[k] = std::trunc(re[k]);
  *count = static_cast<int>(c);
  return kOk;
}

// The sizes of reshape(x, ...) once read: checks them against the element
// count and applies them to x on top.
[[nodiscard]] StatusCode ApplySizes(EngineContext* ctx, double* sizes, int k, int computed, int64_t count) {
  __int128 product = 1;
  for (int j = 0; j < k; ++j) {
    if (!(sizes[j] >= 0)) return kBadSize;  // NaN too
    if (j != computed) product *= static_cast<__int128>(std::min(sizes[j], 4.0e9));
  }
  if (computed >= 0) sizes[computed] = product == 0 ? 0 : static_cast<double>(count / product);
  int32_t dims[kMaxJoinDims];
  __int128 wide = 1;
  int32_t narrow = 1;
  for (int j = 0; j < k; ++j) {
    const double s = std::min(sizes[j], 4.0e9);
    wide *= static_cast<__int128>(s);
    dims[j] = static_cast<int32_t>(static_cast<int64_t>(s));
    narrow = static_cast<int32_t>(static_cast<uint32_t>(narrow) * static_cast<uint32_t>(dims[j]));
  }
  if (wide != count || narrow != count) return kBadSize;
  if (count == 0) {
    const int32_t empty[2] = {0, 0};
    return ReshapeTopValue(ctx, 2, empty);
  }
  while (k > 2 && dims[k - 1] == 1) --k;
  if (k < 2) dims[k++] = 1;
  return ReshapeTopValue(ctx, k, dims);
}

// squeeze. Elements are stored with dimension 2 varying fastest, then 1, then
// 3 on, so dropping a singleton first or second dimension in place would move
// elements to other subscripts (the pages of a 1x2x3 array would come out
// transposed). The singleton dimensions are permuted to the end instead.
[[nodiscard]] StatusCode Squeeze(EngineContext* ctx, int nd, const int32_t* dims) {
  double order[kMaxDims];
  int k = 0;
  for (int j = 0; j < nd; ++j)
    if (dims[j] != 1) order[k++] = j + 1;
  int kept = k;
  for (int j = 0; j < nd; ++j)
    if (dims[j] == 1) order[k++] = j + 1;
  int32_t shape[kMaxDims];
  for (int j = 0; j < kept; ++j) shape[j] = dims[static_cast<int>(order[j]) - 1];
  while (kept < 2) shape[kept++] = 1;
  bool moves = false;
  for (int j = 0; j < nd; ++j) moves = moves || order[j] != j + 1;
  if (moves) {
    if (nd > kMaxJoinDims) return kOutOfRangeArg;
    double* row = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, 1, nd, &row, nullptr); st != kOk) return st;
    std::memcpy(row, order, nd * sizeof(double));
    if (StatusCode st = PermuteDimensions(ctx, 0); st != kOk) {
      PopValue(ctx);
      return st;
    }
  }
  return ReshapeTopValue(ctx, kept, shape);
}

// Permutes the array below the order vector on top; both are replaced.
[[nodiscard]] StatusCode PermuteArray(EngineContext* ctx, bool inverse) {
  if (!IsPlainOperand(*DescriptorAt(ctx, 1))) return kWrongType;
  double order[kMaxJoinDims];
  int k = 0;
  if (StatusCode st = ReadSizeVector(ctx, 0, order, &k); st != kOk) return st;
  bool seen[kMaxJoinDims] = {};
  for (int j = 0; j < k; ++j) {
    if (!(order[j] >= 1 && order[j] <= k) || seen[static_cast<int>(order[j]) - 1]) return kNonPermutation;
    seen[static_cast<int>(order[j]) - 1] = true;
  }
  NumericView v;
  ReadNumeric(ctx, 1, &v);
  const int nd = std::max(k, v.ndims);
  int32_t from[kMaxDims];
  for (int j = 0; j < nd; ++j) from[j] = static_cast<int32_t>(SizeAlong(v, j));
  int source[kMaxDims];  // result dimension j takes source dimension source[j]
  for (int j = 0; j < nd; ++j) source[j] = j;
  for (int j = 0; j < k; ++j) {
    const int p = static_cast<int>(order[j]) - 1;
    if (inverse)
      source[p] = j;
    else
      source[j] = p;
  }
  int32_t dims[kMaxDims];
  for (int j = 0; j < nd; ++j) dims[j] = from[source[j]];
  uint8_t* re = nullptr;
  uint8_t* im = nullptr;
  ArrayKind kind;
  (void)ReadArrayKind(ctx, 1, &kind, &v);  // a plain operand, checked above
  if (StatusCode st = PushArrayOfKind(ctx, kind, nd, dims, &re, &im); st != kOk) return st;
  ReadNumeric(ctx, 2, &v);

  int64_t fromStride[kMaxDims], stride[kMaxDims];
  StorageStrides(nd, from, fromStride);
  for (int j = 0; j < nd; ++j) stride[j] = fromStride[source[j]];
  // The result's dimensions in storage order, fastest first.
  int walk[kMaxDims];
  walk[0] = 1;
  walk[1] = 0;
  for (int j = 2; j < nd; ++j) walk[j] = j;
  const int size = ElementBytes(RealClass(v.cls));
  const int parts = IsComplexClass(v.cls) && v.count > 0 ? 2 : 1;
  int32_t at[kMaxDims] = {};
  int64_t s = 0;
  for (int64_t i = 0; i < v.count; ++i) {
    for (int part = 0; part < parts; ++part) {
      uint8_t* out = part == 0 ? re : im;
      std::memcpy(out + i * size, v.data + (part * v.count + s) * size, size);
    }
    for (int w = 0; w < nd; ++w) {
      const int j = walk[w];
      s += stride[j];
      if (++at[j] < dims[j]) break;
      s -= stride[j] * dims[j];
      at[j] = 0;
    }
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

// The size vector of the index conversions: a plain double matrix truncated,
// one size s standing for [s s].
[[nodiscard]] StatusCode ReadIndexSizes(EngineContext* ctx, int position, int64_t* sizes, int* count) {
  int32_t m = 0, n = 0;
  double* re = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, position, &m, &n, &re, nullptr); st != kOk) return st;
  const int64_t c = int64_t{m} * n;
  // Only the first 16 are kept; the callers refuse more by their counts.
  for (int64_t k = 0; k < std::min<int64_t>(c, kMaxJoinDims); ++k) sizes[k] = TruncateToInt64(re[k]);
  *count = static_cast<int>(std::min<int64_t>(c, INT32_MAX));
  if (c == 1) {
    sizes[1] = sizes[0];
    *count = 2;
  }
  return kOk;
}

}  // namespace

StatusCode ConformStructFields(EngineContext* ctx, const SymbolId* names, int count) {
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t structs = 0;
  int32_t fields = 0;
  CompositeElementHeader* item = nullptr;
  if (StatusCode st = GetCompositeArgInfo(ctx, 0, 's', &nd, dims, &structs, &fields, &item); st != kOk) return st;
  if (DescriptorAt(ctx, 0)->extra == kStruct) nd = 2, dims[0] = dims[1] = 1;
  if (fields == count) {
    bool same = true;
    const CompositeElementHeader* e = item;
    for (int f = 0; f < count && structs > 0; ++f, e = NextElement(e)) same = same && e->name == names[f];
    if (same) return kOk;
  }

  int64_t cells = DimsElementCells(nd + 1);
  const CompositeElementHeader* e = item;
  for (int64_t s = 0; s < structs; ++s) {
    for (int f = 0; f < count; ++f) {
      cells += kElementHeaderCells;
      const CompositeElementHeader* g = e;
      for (int32_t h = 0; h < fields; ++h, g = NextElement(g))
        if (g->name == names[f]) {
          cells += g->cells;
          break;
        }
    }
    for (int32_t h = 0; h < fields; ++h) e = NextElement(e);
  }
  if (cells > kMaxPlainCells) return kObjTooLarge;
  Cell* out = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, cells, kStructArray, Room::kStrict, &out); st != kOk) return st;
  dims[nd] = count;
  WriteDimsElement(out, dims, nd + 1);
  Cell* write = out + DimsElementCells(nd + 1);
  e = item;
  for (int64_t s = 0; s < structs; ++s) {
    for (int f = 0; f < count; ++f) {
      const CompositeElementHeader* g = e;
      int32_t h = 0;
      for (; h < fields && g->name != names[f]; ++h) g = NextElement(g);
      if (h < fields) {
        const int64_t span = kElementHeaderCells + int64_t{g->cells};
        std::memcpy(write, g, span * sizeof(Cell));
        write += span;
      } else {
        *reinterpret_cast<CompositeElementHeader*>(write) = {0, 0, 0, names[f]};
        write += kElementHeaderCells;
      }
    }
    for (int32_t h = 0; h < fields; ++h) e = NextElement(e);
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode ConcatenateValues(EngineContext* ctx, int n, int dimension) {
  int dim = dimension;
  int count = n;
  if (dimension < 0) {
    if (n < 1) return kTooFewArgin;
    int32_t k = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, n - 1, &k); st != kOk) return ReportedStatus(st);
    if (k < 1 || k > kMaxJoinDims) return kBadDim;
    dim = k;
    count = n - 1;
  }
  const int extra = n - count;  // the dimension of cat, below the operands
  if (count == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, extra);
  }
  if (count == 1) return DropArgsUnderResults(ctx, 1, extra);

  const ValueDescriptor top = *DescriptorAt(ctx, 0);
  const bool cells = IsCellOperand(top), structs = IsStructOperand(top);
  for (int p = 0; p < count; ++p) {
    const ValueDescriptor& d = *DescriptorAt(ctx, p);
    const bool fits = cells ? IsCellOperand(d) : structs ? IsStructOperand(d) : IsPlainOperand(d);
    if (!fits) return kWrongType;
  }
  const StatusCode st = cells || structs ? JoinComposites(ctx, count, dim, structs) : JoinArrays(ctx, count, dim);
  if (st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, extra);
}

StatusCode ReshapeValue(EngineContext* ctx, int n) {
  const int x = n < 0 ? 0 : n - 1;
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  if (StatusCode st = ValueDims(ctx, x, &nd, dims, &count); st != kOk) return st;
  if (n < 0) return Squeeze(ctx, nd, dims);
  if (n == 1) {
    const int32_t column[2] = {static_cast<int32_t>(count), count > 0 ? 1 : 0};
    return ReshapeTopValue(ctx, 2, column);
  }
  double sizes[kMaxJoinDims];
  int k = 0;
  int computed = -1;
  if (n == 2) {
    if (StatusCode st = ReadSizeVector(ctx, 0, sizes, &k); st != kOk) return st;
    PopValue(ctx);
  } else {
    k = n - 1;
    if (k > kMaxJoinDims) return kOutOfRangeArg;
    for (int j = k - 1; j >= 0; --j) {
      const ValueDescriptor& d = *DescriptorAt(ctx, 0);
      if (IsPlainMatrix(d) && d.cells == 0) {
        // Every [] after the leftmost one stands for a size of 1.
        if (computed >= 0) sizes[computed] = 1;
        computed = j;
        sizes[j] = 0;
        PopValue(ctx);
        continue;
      }
      int32_t s = 0;
      if (StatusCode st = PopIntegerScalar(ctx, &s); st != kOk) return st;
      sizes[j] = s;
    }
  }
  return ApplySizes(ctx, sizes, k, computed, count);
}

StatusCode PermuteDimensions(EngineContext* ctx, int inverse) {
  const ValueDescriptor d = *DescriptorAt(ctx, 1);
  if (!IsComposite(d)) return PermuteArray(ctx, inverse != 0);
  if (d.extra < kList || d.extra > kStructArray) return kWrongType;
  if (StatusCode st = BuildElementOffsetTable(ctx, 1, false); st != kOk) return st;
  (void)RotateValues(ctx, 2, 1);
  if (StatusCode st = PermuteArray(ctx, inverse != 0); st != kOk) {
    (void)RotateValues(ctx, 2, 1);
    PopValue(ctx);
    return st;
  }
  int32_t fields = 0;
  // On failure the permuted table stands in for the order vector, so the
  // stack keeps its depth.
  if (StatusCode st = GatherCompositeElements(ctx, 1, &fields); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode sub2ind(EngineContext* ctx, int n) {
  if (StatusCode st = CheckArgTypes(ctx, n, nullptr); st != kOk) return st;
  if (n < 2) return kTooFewArgin;
  if (n > kMaxJoinDims + 1) return kTooManyArgin;
  if (n == 2) return DropArgsUnderResults(ctx, 1, 1);
  const int subs = n - 1;
  int64_t sizes[kMaxJoinDims + 1];
  int k = 0;
  if (StatusCode st = ReadIndexSizes(ctx, n - 1, sizes, &k); st != kOk) return st;
  if (k > subs) return kTooFewArgin;
  for (int j = k; j < subs; ++j) sizes[j] = 1;

  // Integer, char and logical subscripts count by their values.
  if (StatusCode st = ConvertArgsToFloat(ctx, -subs, false, nullptr); st != kOk) return ReportedStatus(st);
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re[kMaxJoinDims];
  uint8_t isArray[kMaxJoinDims];
  if (StatusCode st = CheckElementwiseArgs(ctx, subs, &nd, dims, &count, re, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, isArray);
      st != kOk)
    return ReportedStatus(st);
  double* out = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, nd, dims, &out, nullptr); st != kOk) return st;
  // Subscript j lies at position subs - 1 - j (counted before the push).
  auto subscript = [&](int j, int64_t e) {
    const int p = subs - 1 - j;
    return std::trunc(re[p][isArray[p] ? e : 0]) - 1;
  };
  for (int64_t e = 0; e < count; ++e) {
    double page = 0;
    for (int j = subs - 1; j >= 2; --j) page = page * static_cast<double>(sizes[j]) + subscript(j, e);
    const double row = page * static_cast<double>(sizes[0]) + subscript(0, e);
    out[e] = row * static_cast<double>(sizes[1]) + subscript(1, e) + 1;
  }
  return DropArgsUnderResults(ctx, 1, n);
}

StatusCode ind2sub(EngineContext* ctx, int outputs) {
  if (StatusCode st = CheckArgTypes(ctx, 2, nullptr); st != kOk) return st;
  int64_t sizes[kMaxJoinDims + 1];
  int k = 0;
  if (StatusCode st = ReadIndexSizes(ctx, 1, sizes, &k); st != kOk) return st;
  if (outputs < k) return kTooFewArgout;
  if (outputs > kMaxJoinDims) return kTooManyArgout;
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* index = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, 0, &nd, dims, &count, &index, nullptr); st != kOk) return st;

  // The first output ends on top, so the last is pushed first.
  double* out[kMaxJoinDims];
  for (int o = outputs - 1; o >= 0; --o) {
    if (StatusCode st = PushDoubleArray(ctx, nd, dims, &out[o], nullptr); st != kOk) {
      DropTop(ctx, outputs - 1 - o);
      return st;
    }
  }
  int64_t sub[kMaxJoinDims];
  for (int64_t e = 0; e < count; ++e) {
    int64_t x = TruncateToInt64(index[e]);
    x = x == INT64_MIN ? x : x - 1;
    // Every subscript is a remainder, the last one too: indices outside the
    // array wrap. A size of 0 holds no position: its subscript takes the rest.
    auto take = [&x](int64_t size) {
      if (size == 0) {
        const int64_t r = x;
        x = 0;
        return r;
      }
      const int64_t r = x % size;
      x /= size;
      return r;
    };
    if (k >= 2) {
      sub[1] = take(sizes[1]);
      sub[0] = take(sizes[0]);
    }
    for (int j = 2; j < k; ++j) sub[j] = take(sizes[j]);
    for (int o = 0; o < outputs; ++o) out[o][e] = o < k ? static_cast<double>(sub[o]) + 1 : 1;
  }
  return DropArgsUnderResults(ctx, outputs, 2);
}

// ---------------------------------------------------------------------------
// Opcode handlers: ins[1] holds the operand count (ind2sub: the output count).

StatusCode ReshapeOpcode(EngineContext* ctx, const int16_t* ins) { return ReshapeValue(ctx, ins[1]); }
StatusCode SqueezeOpcode(EngineContext* ctx, const int16_t*) { return ReshapeValue(ctx, -1); }
StatusCode PermuteOpcode(EngineContext* ctx, const int16_t*) { return PermuteDimensions(ctx, 0); }
StatusCode IpermuteOpcode(EngineContext* ctx, const int16_t*) { return PermuteDimensions(ctx, 1); }
StatusCode Sub2indOpcode(EngineContext* ctx, const int16_t* ins) { return sub2ind(ctx, ins[1]); }
StatusCode Ind2subOpcode(EngineContext* ctx, const int16_t* ins) { return ind2sub(ctx, ins[1]); }

StatusCode ConcatenateOpcode(EngineContext* ctx, const int16_t* ins) {
  int n = ins[1];
  switch (static_cast<Op>(ins[0])) {
    case Op::Horzcat:
      if (StatusCode st = SpreadFreeLists(ctx, n, &n); st != kOk) return st;
      return ConcatenateValues(ctx, n, 2);
    case Op::Vertcat:
      return ConcatenateValues(ctx, n, 1);
    default:
      return ConcatenateValues(ctx, n, -1);
  }
}
