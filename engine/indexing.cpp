// Indexing kernels shared by the indexing opcodes and every builtin that works
// along a dimension: positions and splits, the analysis of index values, the
// gather and scatter walks over arrays, deletion plans, and the selection of
// composite elements through offset tables.
#include "engine/indexing.h"

#include <algorithm>
#include <cstring>

#include "engine/heap.h"
#include "engine/values/valuestack.h"

namespace {

int32_t SizeAt(int ndims, const int32_t* dims, int j) { return j < ndims ? dims[j] : 1; }

bool IsColon(uint32_t colonMask, int j) { return j < 32 && ((colonMask >> j) & 1) != 0; }

// An index value after ConvertIndexArguments: a logical mask or an int32 array.
struct IndexValue {
  bool isMask;
  int ndims;
  const uint32_t* dims;
  int64_t count;
  Cell* data;
};

[[nodiscard]] StatusCode ReadIndexValue(EngineContext* ctx, int position, IndexValue* v) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsBoxedArray(d)) return kBadIndexType;
  const ArrayView a = ReadArray(DataAt(ctx, position));
  if (d.extra == kLogicalArray) {
    *v = {true, a.ndims, a.dims, a.count, a.data};
    return kOk;
  }
  if (d.extra != kNumericArray || a.cls != kInt32) return kBadIndexType;
  *v = {false, a.ndims, a.dims, a.count, a.data};
  return kOk;
}

int32_t CountTrue(const uint8_t* mask, int64_t count) {
  int32_t n = 0;
  for (int64_t k = 0; k < count; ++k) n += mask[k] != 0 ? 1 : 0;
  return n;
}

// Checks numeric indices against 1..limit and reports the largest.
[[nodiscard]] StatusCode CheckRange(const int32_t* list, int64_t count, int64_t limit, bool growth, int32_t* largest) {
  int32_t hi = 0;
  for (int64_t k = 0; k < count; ++k) {
    if (list[k] < 1) return kIndexOutOfRange;
    hi = std::max(hi, list[k]);
  }
  if (hi > limit && !growth) return kIndexOutOfRange;
  *largest = hi;
  return kOk;
}

// Undoes the zero-based conversion after a failure later on, so that the
// caller may repeat the operation with the index values as they were.
void RestoreOneBased(const IndexAnalysis& a) {
  for (int j = 0; j < a.ndims; ++j)
    if (a.list[j])
      for (int32_t k = 0; k < a.count[j]; ++k) ++a.list[j][k];
}

int DropTrailingOnes(int32_t* dims, int ndims) {
  while (ndims > 2 && dims[ndims - 1] == 1) --ndims;
  return ndims;
}

// Strides of the index dimensions over a value of those dims: dimension 1
// varies fastest, then 0, then 2 and up. One index walks the storage order.
void IndexStrides(int n, int ndims, const int32_t* dims, int64_t* stride) {
  if (n == 1) {
    stride[0] = 1;
    return;
  }
  stride[1] = 1;
  stride[0] = SizeAt(ndims, dims, 1);
  int64_t s = stride[0] * SizeAt(ndims, dims, 0);
  for (int j = 2; j < n; ++j) {
    stride[j] = s;
    s *= SizeAt(ndims, dims, j);
  }
}

// Position of selection ordinal k along index dimension j; masks are scanned
// forward from the previous position.
int32_t PositionAt(const IndexAnalysis& a, int j, int32_t k, int32_t previous) {
  if (a.list[j]) return a.list[j][k];
  if (a.mask[j]) {
    int32_t p = k == 0 ? 0 : previous + 1;
    while (a.mask[j][p] == 0) ++p;
    return p;
  }
  return k;
}

// Calls f(i, offset) for the selected elements in storage order of the
// result: an odometer whose digits turn in the order 1, 0, 2, 3, ...;
// each step adds the stride of the dimension that moved.
template <class F>
void WalkSelection(const IndexAnalysis& a, const int64_t* stride, F f) {
  if (a.total <= 0) return;
  const int n = a.ndims;
  int order[kMaxIndexDims];
  int m = 0;
  if (n == 1) {
    order[m++] = 0;
  } else {
    order[m++] = 1;
    order[m++] = 0;
    for (int j = 2; j < n; ++j) order[m++] = j;
  }
  int32_t ordinal[kMaxIndexDims] = {};
  int32_t pos[kMaxIndexDims];
  int64_t offset = 0;
  for (int j = 0; j < n; ++j) {
    pos[j] = PositionAt(a, j, 0, 0);
    offset += pos[j] * stride[j];
  }
  for (int64_t i = 0; i < a.total; ++i) {
    f(i, offset);
    for (int r = 0; r < m; ++r) {
      const int j = order[r];
      int32_t next = 0;
      if (++ordinal[j] < a.count[j]) {
        next = PositionAt(a, j, ordinal[j], pos[j]);
        offset += (next - int64_t{pos[j]}) * stride[j];
        pos[j] = next;
        break;
      }
      ordinal[j] = 0;
      next = PositionAt(a, j, 0, 0);
      offset += (next - int64_t{pos[j]}) * stride[j];
      pos[j] = next;
    }
  }
}

int ElementSize(int elementKind) { return elementKind < 0 ? -elementKind : elementKind; }

// Pushes an uninitialised array of the class an element kind names; planes
// receives the real plane and, when complex, the imaginary one.
[[nodiscard]] StatusCode PushElementArray(EngineContext* ctx, int nd, const int32_t* dims, int elementKind,
                                          bool isUnsigned, int32_t subtype, bool complex, uint8_t** re, uint8_t** im) {
  *im = nullptr;
  if (elementKind == kDoubleElements) {
    double* r = nullptr;
    double* i = nullptr;
    if (StatusCode st = PushDoubleArray(ctx, nd, dims, &r, complex ? &i : nullptr); st != kOk) return st;
    *re = reinterpret_cast<uint8_t*>(r);
    *im = reinterpret_cast<uint8_t*>(i);
    return kOk;
  }
  if (elementKind == kSingleElements) {
    float* r = nullptr;
    float* i = nullptr;
    if (StatusCode st = PushSingleArray(ctx, nd, dims, &r, complex ? &i : nullptr); st != kOk) return st;
    *re = reinterpret_cast<uint8_t*>(r);
    *im = reinterpret_cast<uint8_t*>(i);
    return kOk;
  }
  void* data = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, nd, dims, elementKind, isUnsigned, &data); st != kOk) return st;
  DescriptorAt(ctx, 0)->extra = subtype;
  *re = static_cast<uint8_t*>(data);
  return kOk;
}

// The kind of the value a reference designates, read in the heap.
bool ReferencedDescriptor(EngineContext* ctx, int position, ValueDescriptor* out) {
  const Cell* r = DataAt(ctx, position);
  if (DescriptorAt(ctx, position)->cells < 3) return false;
  int32_t block = r[1].iw[1];
  const int32_t offset = r[2].iw[0];
  if (offset == 0) block = VariableValueBlock(ctx, block);
  if (block <= 0 || block >= ctx->heapSize || offset < 0 || offset >= HeapBlockCells(ctx, block)) return false;
  const Cell* v = ctx->heapBase + block + offset;
  *out = {v[0].w[0], v[0].iw[1], v[1].iw[0]};
  return true;
}

// Values whose parenthesis indexing is a call or an overload.
bool IndexingOverloaded(EngineContext* ctx, int position) {
  ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind == kLink && !ReferencedDescriptor(ctx, position, &d)) return false;
  if (d.kind == kComposite) return d.extra < kList || d.extra > kFreeList;
  return d.kind == kBoxed && (d.extra == kInlineFunction || d.extra == kFunctionRef);
}

// Cells of f consecutive elements from e (one element when f is negative).
int64_t SpanCells(const CompositeElementHeader* e, int32_t f) {
  if (f < 0) return ElementSpan(e);
  int64_t cells = 0;
  for (int32_t k = 0; k < f; ++k) {
    cells += ElementSpan(e);
    e = NextElement(e);
  }
  return cells;
}

}  // namespace

// ---------------------------------------------------------------------------
// Positions and splits

int64_t SubscriptsToLinearIndex(int ndims, const int32_t* dims, int n, const int32_t* subscripts) {
  if (n <= 0) return 0;
  if (n == 1) return subscripts[0];
  int64_t page = 0;
  for (int j = n - 1; j >= 2; --j) page = page * SizeAt(ndims, dims, j) + subscripts[j];
  return (page * SizeAt(ndims, dims, 0) + subscripts[0]) * SizeAt(ndims, dims, 1) + subscripts[1];
}

void LinearIndexToSubscripts(int n, const int32_t* dims, int64_t position, int32_t* subscripts) {
  if (n <= 0) return;
  if (n == 1) {
    subscripts[0] = static_cast<int32_t>(position);
    return;
  }
  // A zero dimension holds no element: its subscript stays 0.
  auto take = [&](int j) {
    if (dims[j] <= 0) {
      subscripts[j] = 0;
      return;
    }
    subscripts[j] = static_cast<int32_t>(position % dims[j]);
    position /= dims[j];
  };
  take(1);
  take(0);
  for (int j = 2; j < n; ++j) take(j);
}

void SplitDimensions(int ndims, const int32_t* dims, int* d, DimensionSplit* split) {
  if (*d < 0) {
    *d = 0;
    for (int j = 0; j < ndims; ++j)
      if (dims[j] > 1) {
        *d = j;
        break;
      }
  }
  const int dim = *d;
  int64_t inner = 1, outer = 1;
  if (dim == 0) {
    inner = SizeAt(ndims, dims, 1);
  } else if (dim >= 2) {
    for (int j = 0; j < dim; ++j) inner *= SizeAt(ndims, dims, j);
  }
  if (dim == 1) outer = SizeAt(ndims, dims, 0);
  for (int j = std::max(2, dim + 1); j < ndims; ++j) outer *= dims[j];
  *split = {static_cast<int32_t>(outer), static_cast<int32_t>(inner), SizeAt(ndims, dims, dim)};
}

// ---------------------------------------------------------------------------
// Index values

StatusCode ConvertIndexArguments(EngineContext* ctx, int n, uint32_t colonMask, int* count, bool check) {
  const int k = CountIndexValues(n, colonMask);
  if (count) *count = k;
  if (check && IndexingOverloaded(ctx, k)) return kOk;
  for (int p = 0; p < k; ++p) {
    if (IsLogicalArg(ctx, p)) continue;
    switch (ConvertArgToIntegerClass(ctx, p, 4, false, true)) {
      case kOk:
        break;
      case kWrongTypeInternal:
        return kBadIndexType;
      case kNonIntArg:
        return kNonIntegerIndex;
      case kOutOfRangeArg:
        return kIndexOutOfRange;
      case kDescStackFull:
        return kDescStackFull;
      default:
        return kDataStackFull;  // no room to build the int32 array
    }
  }
  return kOk;
}

StatusCode AnalyzeIndexArguments(EngineContext* ctx, int ndims, const int32_t* dims, int fallbackCount,
                                 const int32_t* fallbackSizes, int n, uint32_t colonMask, IndexAnalysis* out, bool sort,
                                 IndexGrowth* growth) {
  static constexpr int32_t kEmpty[2] = {0, 0};
  if (dims == nullptr || ndims < 1) {
    dims = kEmpty;
    ndims = 2;
  }
  if (n == 0) {
    // No index at all stands for the whole value.
    n = ndims;
    colonMask = ~0u;
  }
  if (n > 1 && n < ndims && !IsColon(colonMask, n - 1)) return kWrongNumInd;
  if (n > kMaxIndexDims) return kOutOfRangeArg;

  // Stack position of each index dimension's value, -1 for a colon.
  const int k = CountIndexValues(n, colonMask);
  int valueAt[kMaxIndexDims];
  for (int j = 0, r = 0; j < n; ++j) valueAt[j] = IsColon(colonMask, j) ? -1 : k - 1 - r++;
  if (n > 1 && n < ndims) {
    if (ndims > kMaxIndexDims) return kOutOfRangeArg;
    for (int j = n; j < ndims; ++j) valueAt[j] = -1;  // the last colon stands for the remaining dimensions
    n = ndims;
  }
  int64_t elements = 1;
  for (int j = 0; j < ndims; ++j) elements *= dims[j];
  bool anyColon = false;
  for (int j = 0; j < n; ++j) anyColon |= valueAt[j] < 0;

  *out = {};
  if (elements == 0 && anyColon && growth == nullptr) {
    out->ndims = 2;
    return kOk;
  }
  IndexGrowth g{};
  g.ndims = std::max(ndims, std::max(n, 2));
  for (int j = 0; j < g.ndims; ++j) g.dims[j] = SizeAt(ndims, dims, j);
  const bool useFallback = elements == 0 && fallbackCount > 0 && growth != nullptr;

  IndexValue values[kMaxIndexDims];
  for (int j = 0; j < n; ++j)
    if (valueAt[j] >= 0)
      if (StatusCode st = ReadIndexValue(ctx, valueAt[j], &values[j]); st != kOk) return st;

  out->ndims = n;
  if (n == 1) {
    if (valueAt[0] < 0) {
      int64_t all = elements;
      if (useFallback) {
        all = 1;
        for (int j = 0; j < fallbackCount; ++j) all *= fallbackSizes[j];
        g.ndims = std::max(2, std::min(fallbackCount, kMaxIndexDims));
        for (int j = 0; j < g.ndims; ++j) g.dims[j] = SizeAt(fallbackCount, fallbackSizes, j);
      }
      out->count[0] = static_cast<int32_t>(all);
    } else if (values[0].isMask) {
      const IndexValue& v = values[0];
      const bool matrixLike = v.ndims > 2 || (v.dims[0] > 1 && v.dims[1] > 1);
      if (matrixLike) {
        for (int j = 0; j < std::max(v.ndims, ndims); ++j) {
          const int64_t want = SizeAt(ndims, dims, j);
          const int64_t have = j < v.ndims ? int64_t{v.dims[j]} : 1;
          if (want != have) return kIncompSelectionSize;
        }
      } else if (v.count != elements) {
        return kIncompSelectionSize;
      }
      out->mask[0] = reinterpret_cast<const uint8_t*>(v.data);
      out->count[0] = CountTrue(out->mask[0], v.count);
    } else {
      const IndexValue& v = values[0];
      auto* list = reinterpret_cast<int32_t*>(v.data);
      int32_t largest = 0;
      if (StatusCode st = CheckRange(list, v.count, elements, growth != nullptr, &largest); st != kOk) return st;
      if (largest > elements) {
        // Only vectors grow through one index: a column downwards, anything
        // with fewer than two rows as a row.
        if (ndims > 2) return kIndexOutOfRange;
        if (dims[0] >= 2 && dims[1] <= 1) {
          g.ndims = 2, g.dims[0] = largest, g.dims[1] = 1;
        } else if (dims[0] < 2) {
          g.ndims = 2, g.dims[0] = 1, g.dims[1] = largest;
        } else {
          return kIndexOutOfRange;
        }
      }
      out->list[0] = list;
      out->count[0] = static_cast<int32_t>(v.count);
    }
  } else {
    for (int j = 0; j < n; ++j) {
      const int32_t size = SizeAt(ndims, dims, j);
      if (valueAt[j] < 0) {
        out->count[j] = size;
        if (useFallback) out->count[j] = g.dims[j] = SizeAt(fallbackCount, fallbackSizes, j);
        continue;
      }
      const IndexValue& v = values[j];
      if (v.isMask) {
        if (v.count != size) return kIncompSelectionSize;
        out->mask[j] = reinterpret_cast<const uint8_t*>(v.data);
        out->count[j] = CountTrue(out->mask[j], v.count);
        continue;
      }
      auto* list = reinterpret_cast<int32_t*>(v.data);
      int32_t largest = 0;
      if (StatusCode st = CheckRange(list, v.count, size, growth != nullptr, &largest); st != kOk) return st;
      g.dims[j] = std::max(g.dims[j], largest);
      out->list[j] = list;
      out->count[j] = static_cast<int32_t>(v.count);
    }
  }

  // Everything is checked: only now are the index values changed.
  out->total = 1;
  for (int j = 0; j < out->ndims; ++j) {
    if (int32_t* list = out->list[j]) {
      for (int32_t q = 0; q < out->count[j]; ++q) --list[q];
      if (sort) {
        std::sort(list, list + out->count[j]);
        int32_t distinct = 0;
        for (int32_t q = 0; q < out->count[j]; ++q)
          if (distinct == 0 || list[q] != list[distinct - 1]) list[distinct++] = list[q];
        out->count[j] = distinct;
      }
    }
    out->total *= out->count[j];
  }
  if (growth) {
    g.ndims = DropTrailingOnes(g.dims, g.ndims);
    g.grow = g.ndims > ndims;
    for (int j = 0; j < g.ndims; ++j) g.grow |= g.dims[j] > SizeAt(ndims, dims, j);
    *growth = g;
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// Gather and scatter

StatusCode SelectArrayElements(EngineContext* ctx, const void* re, const void* im, int ndims, const int32_t* dims,
                               int32_t resultKind, int elementKind, uint32_t elementClass, int n, uint32_t colonMask) {
  if (n > kMaxIndexDims) return kBadDim;
  const int k = CountIndexValues(n, colonMask);
  IndexAnalysis a;
  if (StatusCode st = AnalyzeIndexArguments(ctx, ndims, dims, 0, nullptr, n, colonMask, &a, false, nullptr); st != kOk)
    return st;
  if (dims == nullptr) ndims = 0;

  int32_t shape[kMaxIndexDims];
  int nd = 2;
  if (a.ndims >= 2) {
    nd = a.ndims;
    std::copy(a.count, a.count + nd, shape);
  } else {
    const bool twoDims = ndims == 2;
    const int32_t rows = SizeAt(ndims, dims, 0), cols = SizeAt(ndims, dims, 1);
    shape[0] = a.count[0], shape[1] = 1;
    if (a.list[0]) {
      const ArrayView index = ReadArray(TopData(ctx));
      nd = index.ndims;
      for (int j = 0; j < nd; ++j) shape[j] = static_cast<int32_t>(index.dims[j]);
      const bool rowIndex = nd == 2 && shape[0] == 1, columnIndex = nd == 2 && shape[1] == 1;
      if (twoDims && cols == 1 && rowIndex)
        shape[0] = a.count[0], shape[1] = 1;
      else if (twoDims && rows == 1 && columnIndex)
        shape[0] = 1, shape[1] = a.count[0];
    } else if (a.mask[0] && twoDims && rows == 1) {
      shape[0] = 1, shape[1] = a.count[0];
    }
  }

  const bool complex = im != nullptr && elementKind < 0;
  uint8_t* outRe = nullptr;
  uint8_t* outIm = nullptr;
  if (StatusCode st = PushElementArray(ctx, nd, shape, elementKind, (elementClass & 0x80) != 0, resultKind, complex,
                                       &outRe, &outIm);
      st != kOk) {
    RestoreOneBased(a);
    return st;
  }
  int64_t stride[kMaxIndexDims];
  IndexStrides(a.ndims, ndims, dims, stride);
  const int size = ElementSize(elementKind);
  const auto* inRe = static_cast<const uint8_t*>(re);
  const auto* inIm = static_cast<const uint8_t*>(im);
  WalkSelection(a, stride, [&](int64_t i, int64_t offset) {
    std::memcpy(outRe + i * size, inRe + offset * size, size);
    if (complex) std::memcpy(outIm + i * size, inIm + offset * size, size);
  });
  return DropArgsUnderResults(ctx, 1, k);
}

StatusCode AssignArrayElements(EngineContext* ctx, void* re, void* im, int ndims, const int32_t* dims, int elementKind,
                               bool isUnsigned, bool isChar, bool isLogical, int n, uint32_t colonMask, bool* grew,
                               ArrayGrower* grower) {
  if (grew) *grew = false;
  const int k = CountIndexValues(n, colonMask);
  const int at = k;  // the new value, under the index values

  // The new value takes the target's class first.
  StatusCode st = kOk;
  if (re == nullptr) {
    // A new variable: the class is the new value's.
  } else if (elementKind == kDoubleElements || elementKind == kSingleElements) {
    st = ConvertArgsToFloat(ctx, at, elementKind == kSingleElements, nullptr);
  } else if (isLogical) {
    // Logical elements hold 0 or 1: any non-zero value is true.
    if (!IsLogicalArg(ctx, at)) {
      NumericView v;
      if (ReadNumeric(ctx, at, &v) && (v.cls == kSingle || v.cls == kComplexSingle))
        st = ConvertArgsToFloat(ctx, at, false, nullptr);
      if (st == kOk) st = ConvertArgToLogical(ctx, at);
    }
  } else {
    st = ConvertArgToIntegerClass(ctx, at, elementKind, isUnsigned, false);
  }
  if (st != kOk) return st;
  NumericView x;
  if (!ReadNumeric(ctx, at, &x)) return kWrongTypeInternal;

  bool targetComplex = im != nullptr;
  if (re == nullptr) {
    targetComplex = false;
    const ValueDescriptor& d = *DescriptorAt(ctx, at);
    if (x.cls == kDouble || x.cls == kComplexDouble) {
      elementKind = kDoubleElements;
    } else if (x.cls == kSingle || x.cls == kComplexSingle) {
      elementKind = kSingleElements;
    } else {
      elementKind = static_cast<int>(x.cls & 0x7F);
      isUnsigned = (x.cls & 0x80) != 0;
      isChar = d.extra == kCharArray && !x.plain;
      isLogical = d.extra == kLogicalArray && !x.plain;
    }
    ndims = 0;
    dims = nullptr;
  }
  const bool floatKind = elementKind < 0;
  const bool valueComplex = floatKind && IsComplexClass(x.cls);

  int32_t fallback[kMaxDims];
  for (int j = 0; j < x.ndims; ++j) fallback[j] = static_cast<int32_t>(x.dims[j]);
  IndexAnalysis a;
  IndexGrowth g;
  if (st = AnalyzeIndexArguments(ctx, ndims, dims, x.ndims, fallback, n, colonMask, &a, false, &g); st != kOk)
    return st;
  if (x.count != 1 && x.count != a.total) {
    RestoreOneBased(a);
    return kIncompAsgnSize;
  }

  const int size = ElementSize(elementKind);
  auto* outRe = static_cast<uint8_t*>(re);
  auto* outIm = static_cast<uint8_t*>(im);
  const bool becomesComplex = valueComplex && !targetComplex;
  int outNd = ndims;
  const int32_t* outDims = dims;
  bool grown = false;
  if (re != nullptr && g.grow && !becomesComplex && grower != nullptr) {
    if (st = grower->Grow(g.ndims, g.dims, &outRe, &outIm, &grown); st != kOk) {
      RestoreOneBased(a);
      return st;
    }
    if (grown) outNd = g.ndims, outDims = g.dims;
  }
  const bool fresh = !grown && (re == nullptr || g.grow || becomesComplex);
  if (fresh) {
    const bool complex = floatKind && (targetComplex || valueComplex);
    const int32_t subtype = isChar ? kCharArray : isLogical ? kLogicalArray : kNumericArray;
    uint8_t* newRe = nullptr;
    uint8_t* newIm = nullptr;
    if (st = PushElementArray(ctx, g.ndims, g.dims, elementKind, isUnsigned, subtype, complex, &newRe, &newIm);
        st != kOk) {
      RestoreOneBased(a);
      return st;
    }
    if (grower != nullptr && !grower->HasRoomFor(DescriptorAt(ctx, 0)->cells)) {
      PopValue(ctx);
      RestoreOneBased(a);
      return kHeapFull;
    }
    // The old elements move to their subscripts in the new shape: copied to
    // its start, then spread as a value grown where it lies is.
    int64_t count = 1;
    for (int j = 0; j < g.ndims; ++j) count *= g.dims[j];
    auto place = [&](uint8_t* to, const uint8_t* from) {
      if (to == nullptr) return;
      if (from == nullptr) {
        std::memset(to, 0, count * size);
        return;
      }
      int64_t old = 1;
      for (int j = 0; j < ndims; ++j) old *= dims[j];
      std::memcpy(to, from, old * size);
      SpreadToLargerShape(to, size, ndims, dims, g.ndims, g.dims);
    };
    place(newRe, outRe);
    place(newIm, outIm);
    outRe = newRe;
    outIm = newIm;
    outNd = g.ndims;
    outDims = g.dims;
  }

  int64_t stride[kMaxIndexDims];
  IndexStrides(a.ndims, outNd, outDims, stride);
  const uint8_t* inRe = x.data;
  const uint8_t* inIm = valueComplex ? x.data + x.count * size : nullptr;
  const bool repeat = x.count == 1;
  WalkSelection(a, stride, [&](int64_t i, int64_t offset) {
    const int64_t from = repeat ? 0 : i;
    std::memcpy(outRe + offset * size, inRe + from * size, size);
    if (!outIm) return;
    if (inIm)
      std::memcpy(outIm + offset * size, inIm + from * size, size);
    else
      std::memset(outIm + offset * size, 0, size);
  });
  if (grew) *grew = fresh;
  return DropArgsUnderResults(ctx, fresh ? 1 : 0, k);
}

void SpreadToLargerShape(uint8_t* part, int size, int ndims, const int32_t* dims, int grownNd, const int32_t* grown) {
  int64_t count = 1, grownCount = 1;
  for (int j = 0; j < ndims; ++j) count *= dims[j];
  for (int j = 0; j < grownNd; ++j) grownCount *= grown[j];
  // Elements are stored row by row within each page, so a row is one run in
  // both shapes. The runs move last first, each to a place at or after its
  // own, so none is overwritten before it moved.
  const int64_t run = ndims >= 2 ? dims[1] : count;
  int64_t free = grownCount;  // the places from here up are settled
  int32_t subs[kMaxDims];
  for (int64_t p = count - run; run > 0 && p >= 0; p -= run) {
    LinearIndexToSubscripts(ndims, dims, p, subs);
    const int64_t q = SubscriptsToLinearIndex(grownNd, grown, ndims, subs);
    if (q != p) std::memmove(part + q * size, part + p * size, run * size);
    std::memset(part + (q + run) * size, 0, (free - q - run) * size);
    free = q;
  }
  std::memset(part, 0, free * size);
}

// ---------------------------------------------------------------------------
// Deletion

StatusCode PlanElementDeletion(EngineContext* ctx, int ndims, const int32_t* dims, int n, uint32_t colonMask,
                               DeletionPlan* plan, const int32_t** indexList, const uint8_t** mask) {
  *plan = {};
  if (indexList) *indexList = nullptr;
  if (mask) *mask = nullptr;
  const int k = CountIndexValues(n, colonMask);
  int64_t newElements = 0;
  if (GetArgDims(ctx, k, nullptr, nullptr, &newElements) != kOk || newElements > 0) return kOk;
  plan->deletes = true;

  static constexpr int32_t kEmpty[2] = {0, 0};
  if (dims == nullptr || ndims < 1) {
    dims = kEmpty;
    ndims = 2;
  }
  int64_t elements = 1;
  for (int j = 0; j < ndims; ++j) elements *= dims[j];
  plan->ndims = ndims;
  std::copy(dims, dims + ndims, plan->dims);
  const auto everything = [&] {
    *plan = {true, 1, static_cast<int32_t>(elements), static_cast<int32_t>(elements), 1, 2, {0, 0}};
  };
  if (k == 0) {
    everything();
    return kOk;
  }

  IndexAnalysis a;
  if (StatusCode st = AnalyzeIndexArguments(ctx, ndims, dims, 0, nullptr, n, colonMask, &a, true, nullptr); st != kOk)
    return st;
  int j = -1;  // the dimension with an index value
  int withValues = 0;
  bool nothing = false;
  for (int q = 0; q < a.ndims; ++q) {
    if (a.list[q] == nullptr && a.mask[q] == nullptr) continue;
    ++withValues;
    nothing |= a.count[q] == 0;
    j = q;
  }
  if (withValues > 1 && !nothing) return kDelMultipleDim;
  if (j < 0 || nothing) {
    // An empty value under a colon, or an index that selects nothing: the value stays.
    plan->outer = 1;
    plan->length = static_cast<int32_t>(elements);
    plan->inner = 1;
    return kOk;
  }
  if (indexList) *indexList = a.list[j];
  if (mask) *mask = a.mask[j];
  const int32_t deleted = a.count[j];
  plan->deleted = deleted;

  if (a.ndims == 1) {
    // One linear index runs over the elements in storage order. A row or a
    // column loses the positions along its length; any other value gives its
    // remaining elements as a row.
    plan->outer = 1;
    plan->length = static_cast<int32_t>(elements);
    plan->inner = 1;
    const bool vector = ndims == 2 && (dims[0] == 1 || dims[1] == 1);
    if (vector) {
      plan->dims[dims[0] == 1 ? 1 : 0] -= deleted;
    } else {
      plan->ndims = 2;
      plan->dims[0] = 1;
      plan->dims[1] = static_cast<int32_t>(elements - deleted);
    }
  } else {
    int32_t sizes[kMaxIndexDims];
    for (int q = 0; q < a.ndims; ++q) sizes[q] = SizeAt(ndims, dims, q);
    int d = j;
    DimensionSplit split;
    SplitDimensions(a.ndims, sizes, &d, &split);
    plan->outer = split.outer;
    plan->length = split.length;
    plan->inner = split.inner;
    sizes[j] -= deleted;
    plan->ndims = a.ndims;
    std::copy(sizes, sizes + a.ndims, plan->dims);
  }
  bool zero = false;
  for (int q = 0; q < plan->ndims; ++q) zero |= plan->dims[q] == 0;
  if (zero) {
    plan->ndims = 2;
    plan->dims[0] = plan->dims[1] = 0;
  }
  plan->ndims = DropTrailingOnes(plan->dims, plan->ndims);
  return kOk;
}

// ---------------------------------------------------------------------------
// Composite elements

StatusCode BuildElementOffsetTable(EngineContext* ctx, int position, bool absolute) {
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  int32_t fields = -1;
  CompositeElementHeader* item = nullptr;
  if (StatusCode st = GetCompositeArgInfo(ctx, position, '?', &nd, dims, &count, &fields, &item); st != kOk) return st;
  if (nd < 2) nd = 2;  // a list or a structure: {1 or 0, count}
  const Cell* base = absolute ? ctx->dataBase : DataAt(ctx, position);
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  void* data = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, nd, dims, 4, false, &data); st != kOk) return st;
  auto* offsets = static_cast<int32_t*>(data);
  const CompositeElementHeader* e = item;
  const int32_t step = d.extra == kStructArray ? fields : -1;
  for (int64_t i = 0; i < count; ++i) {
    offsets[i] = static_cast<int32_t>(reinterpret_cast<const Cell*>(e) - base);
    if (d.extra == kStruct) break;
    e = reinterpret_cast<const CompositeElementHeader*>(reinterpret_cast<const Cell*>(e) + SpanCells(e, step));
  }
  return kOk;
}

StatusCode GatherCompositeElements(EngineContext* ctx, int position, int32_t* fieldCount) {
  int tableDims = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  int bytes = 0;
  bool isUnsigned = true;
  void* data = nullptr;
  if (StatusCode st = GetIntegerArrayArg(ctx, 0, &tableDims, dims, &count, &bytes, &isUnsigned, &data); st != kOk)
    return st;
  if (bytes != 4 || isUnsigned) return kWrongTypeInternal;
  const auto* offsets = static_cast<const int32_t*>(data);

  const Cell* base = ctx->dataBase;
  int64_t limit = ctx->dataTop;
  int32_t f = *fieldCount;
  if (position >= 0) {
    const ValueDescriptor& d = *DescriptorAt(ctx, position);
    int64_t ignored = 0;
    if (StatusCode st = GetCompositeArgInfo(ctx, position, '?', nullptr, nullptr, &ignored, &f, nullptr); st != kOk)
      return st;
    if (d.extra == kList || d.extra == kCellArray) f = -1;
    base = DataAt(ctx, position);
    limit = d.cells;
    *fieldCount = f;
  }

  if (count == 0) {
    if (f < 0) return PushEmptyCellArray(ctx, 0, nullptr);
    return PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr);
  }
  int64_t cells = 0;
  for (int64_t i = 0; i < count; ++i) {
    if (offsets[i] < 0 || offsets[i] >= limit + (f == 0 ? 1 : 0)) return kIndexOutOfRange;
    cells += SpanCells(reinterpret_cast<const CompositeElementHeader*>(base + offsets[i]), f);
  }
  int32_t subtype = kCellArray;
  int entries = tableDims;
  if (f >= 0) {
    subtype = count == 1 ? kStruct : kStructArray;
    dims[entries++] = f;
  }
  const int64_t head = subtype == kStruct ? 0 : DimsElementCells(entries);
  if (head + cells > kMaxPlainCells) return kObjTooLarge;
  Cell* out = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, head + cells, subtype, Room::kStrict, &out); st != kOk) return st;
  if (head > 0) WriteDimsElement(out, dims, entries);
  Cell* write = out + head;
  for (int64_t i = 0; i < count; ++i) {
    const Cell* from = base + offsets[i];
    const int64_t span = SpanCells(reinterpret_cast<const CompositeElementHeader*>(from), f);
    std::memcpy(write, from, span * sizeof(Cell));
    write += span;
  }
  return kOk;
}

StatusCode PushSelectedListElements(EngineContext* ctx, const CompositeElementHeader* first, int32_t count, bool all) {
  const Cell* start = reinterpret_cast<const Cell*>(first);
  if (all) {
    const CompositeElementHeader* e = first;
    for (int32_t i = 0; i < count; ++i) e = NextElement(e);
    const int64_t cells = reinterpret_cast<const Cell*>(e) - start;
    Cell* out = nullptr;
    if (StatusCode st = PushValue(ctx, kComposite, cells, kList, Room::kStrict, &out); st != kOk) return st;
    std::memcpy(out, start, cells * sizeof(Cell));
    return kOk;
  }

  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsBoxedArray(d) || d.extra != kNumericArray) return kIllegal;
  const ArrayView index = ReadArray(TopData(ctx));
  if (index.cls != kInt32) return kIllegal;
  const auto* chosen = reinterpret_cast<const int32_t*>(index.data);
  for (int64_t i = 0; i < index.count; ++i)
    if (chosen[i] < 1 || chosen[i] > count) return kIndexOutOfRange;

  // The elements' offsets go at the far end of the free space, out of the way
  // of the list built at the top.
  const int64_t tableCells = (int64_t{count} + 1) / 2;
  Cell* scratch = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, tableCells, &scratch); st != kOk) return st;
  auto* offsets = reinterpret_cast<int32_t*>(scratch);
  const CompositeElementHeader* e = first;
  for (int32_t i = 0; i < count; ++i, e = NextElement(e))
    offsets[i] = static_cast<int32_t>(reinterpret_cast<const Cell*>(e) - start);
  int64_t cells = 0;
  for (int64_t i = 0; i < index.count; ++i)
    cells += SpanCells(reinterpret_cast<const CompositeElementHeader*>(start + offsets[chosen[i] - 1]), -1);
  if (cells + tableCells >= FreeDataCells(ctx)) return kDataStackFull;
  Cell* out = nullptr;
  if (StatusCode st = PushValue(ctx, kComposite, cells, kList, Room::kStrict, &out); st != kOk) return st;
  for (int64_t i = 0; i < index.count; ++i) {
    const Cell* from = start + offsets[chosen[i] - 1];
    const int64_t span = SpanCells(reinterpret_cast<const CompositeElementHeader*>(from), -1);
    std::memcpy(out, from, span * sizeof(Cell));
    out += span;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}
