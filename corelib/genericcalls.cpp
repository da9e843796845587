// Natives that call code given as data: apply, map, cellfun and fevalx call a
// function value through the machine's re-entry (their state lives on the
// value stack between the calls), sandbox runs a text in a frame of its own
// with reduced rights, and str2obj evaluates a safe data expression nested.
#include <algorithm>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/evaluate.h"
#include "engine/frames.h"
#include "engine/function.h"
#include "engine/functionstore.h"
#include "engine/resolution.h"
#include "engine/values/valuestack.h"

namespace {

// The working numbers (counts, counters) are plain doubles on the stack,
// read and written in place.
double NumberAt(EngineContext* ctx, int position) { return DataAt(ctx, position)->f; }
void SetNumberAt(EngineContext* ctx, int position, double x) { DataAt(ctx, position)->f = x; }

int32_t ElementCountAt(EngineContext* ctx, int position) {
  int64_t count = 0;
  (void)GetCellArgInfo(ctx, position, nullptr, nullptr, &count, nullptr, nullptr);
  return static_cast<int32_t>(count);
}

// The class whose methods a call would reach: that of the first object among
// the top n values (the deepest first), else 0.
SymbolId FirstObjectClass(EngineContext* ctx, int n) {
  for (int p = n - 1; p >= 0; --p) {
    const ValueDescriptor d = *DescriptorAt(ctx, p);
    if (d.kind == kComposite && d.extra < 0) return -d.extra;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// apply(fun, args [, nargout]) -> a list of the results

[[nodiscard]] StatusCode ApplyFirstCall(EngineContext* ctx, int nargin, int nargout) {
  if (!IsListOrCellArg(ctx, nargin == 3 ? 1 : 0)) return kWrongType;
  int32_t outputs = -1;
  if (nargin == 3) {
    int32_t given = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &given); st != kOk) return ReportedStatus(st);
    if (given < 0 || given > 65536) return kOutOfRangeArg;
    outputs = given;
    PopValue(ctx);
  }
  int32_t k = 0;
  if (StatusCode st = ExplodeTopList(ctx, &k); st != kOk) return ReportedStatus(st);
  if (outputs < 0) {
    int32_t declared = 0;
    const SymbolId cls = FirstObjectClass(ctx, k);
    const SymbolId qualifier = cls;
    StatusCode st = ResolveFunctionArgument(ctx, k, qualifier, GetCurrentLibraryIndex(ctx), nullptr, &declared);
    if (st != kOk) {
      // The arguments go back into their list, so the call fails as it came.
      (void)MakeListFromValues(ctx, k, false, nullptr, 0);
      return ReportedStatus(st);
    }
    outputs = std::min(declared, 256);
    if (outputs == 0 && nargout >= 1) outputs = 1;
  }
  // A function that refuses the count is asked again with one output fewer.
  for (;; --outputs) {
    const StatusCode st = CallFunctionValue(ctx, k, k, outputs, true);
    if ((st != kIncorrectNargout && st != kIncorrectNargin) || outputs == 0) return st;
    (void)ClearError(ctx);
  }
}

}  // namespace

StatusCode ApplyNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin >= 0) return ApplyFirstCall(ctx, nargin, nargout);
  const int results = ~nargin;
  (void)ReverseValues(ctx, results);
  if (StatusCode st = MakeListFromValues(ctx, results, false, nullptr, 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

namespace {

// ---------------------------------------------------------------------------
// map(fun, c1, ..., cr): above the inputs lie the accumulators (one list per
// output; one list for a negative output count; a counter instead for none,
// or once a statement call has returned nothing), then q and r.

// Working values between the inputs and q.
int MapWorkingValues(int nout) { return nout >= 1 ? nout : 1; }

// Starts call d + 1 with the working values on top.
[[nodiscard]] StatusCode MapStartCall(EngineContext* ctx, int nout, int32_t d) {
  const int r = static_cast<int>(NumberAt(ctx, 0));
  const int w = MapWorkingValues(nout);
  for (int i = 0; i < r; ++i) {
    // Each collection lies r + w + 1 down, however many elements are pushed.
    const int position = r + w + 1;
    const int32_t index = ElementCountAt(ctx, position) == 1 ? 1 : d + 1;
    if (StatusCode st = PushListElement(ctx, position, index); st != kOk) return ReportedStatus(st);
  }
  return CallFunctionValue(ctx, 2 * r + w + 2, r, nout, true);
}

[[nodiscard]] StatusCode MapFirstCall(EngineContext* ctx, int nargin, int nout) {
  const int r = nargin - 1;
  int32_t q = -1;
  for (int i = 0; i < r; ++i) {
    if (!IsListOrCellArg(ctx, r - 1 - i)) return kWrongType;
    const int32_t count = ElementCountAt(ctx, r - 1 - i);
    if (count == 1) continue;
    if (q < 0) q = count;
    if (count != q) return kIncompSize;
  }
  if (q < 0) q = 1;
  const int w = MapWorkingValues(nout);
  for (int j = 0; j < w; ++j) {
    const StatusCode st = nout == 0 ? PushRealScalar(ctx, 0) : MakeListFromValues(ctx, 0, false, nullptr, 0);
    if (st != kOk) return st;
  }
  if (q == 0) {
    if (nout == 0) return DropArgsUnderResults(ctx, 0, nargin + 1);
    return DropArgsUnderResults(ctx, w, nargin);
  }
  if (StatusCode st = PushRealScalar(ctx, q); st != kOk) return st;
  if (StatusCode st = PushRealScalar(ctx, r); st != kOk) return st;
  return MapStartCall(ctx, nout, 0);
}

// Appends the results R1..Rn (R1 on top) to the accumulators A1..An under
// them: each turn lifts the next accumulator over the results and its own
// result over it.
[[nodiscard]] StatusCode MapCollect(EngineContext* ctx, int n) {
  for (int j = 1; j <= n; ++j) {
    const int total = 2 * (n - j + 1) + (j - 1);
    (void)RotateValues(ctx, total, 1);
    (void)RotateValues(ctx, j + 1, 1);
    if (StatusCode st = MakeListFromValues(ctx, 1, true, nullptr, 0); st != kOk) return st;
  }
  return kOk;
}

[[nodiscard]] StatusCode MapReentry(EngineContext* ctx, int results, int nout) {
  const int w = MapWorkingValues(nout);
  const bool nothing = results == 0 || (results == 1 && DescriptorAt(ctx, 0)->kind == kVoid);
  if (nothing && nout >= 1) return kTooManyArgout;
  if (results > 0 && results < nout) return kTooManyArgout;
  if (nout >= 1 && results > nout) (void)DropArgsUnderResults(ctx, nout, results - nout), results = nout;
  // q, r and the topmost working value, under the results.
  const double q = NumberAt(ctx, results + 1);
  const double r = NumberAt(ctx, results);
  bool counting = DescriptorAt(ctx, results + 2)->kind != kComposite;
  if (nout < 0 && nothing && !counting) {
    // A statement call that gave nothing: from here on the calls are counted.
    (void)DropArgsUnderResults(ctx, 0, results);
    results = 0;
    const int32_t made = ElementCountAt(ctx, 2);
    (void)DropArgsUnderResults(ctx, 0, 3);
    if (StatusCode st = PushRealScalar(ctx, made); st != kOk) return st;
    if (StatusCode st = PushRealScalar(ctx, q); st != kOk) return st;
    if (StatusCode st = PushRealScalar(ctx, r); st != kOk) return st;
    counting = true;
  }
  int32_t made = 0;
  if (counting) {
    (void)DropArgsUnderResults(ctx, 0, results);
    SetNumberAt(ctx, 2, NumberAt(ctx, 2) + 1);
    made = static_cast<int32_t>(NumberAt(ctx, 2));
  } else {
    const int n = nout >= 1 ? nout : 1;
    (void)DropArgsUnderResults(ctx, results, 2);
    if (StatusCode st = MapCollect(ctx, n); st != kOk) return st;
    made = ElementCountAt(ctx, 0);
    if (StatusCode st = PushRealScalar(ctx, q); st != kOk) return st;
    if (StatusCode st = PushRealScalar(ctx, r); st != kOk) return st;
  }
  if (made < q) return MapStartCall(ctx, nout, made);

  const int inputs = static_cast<int>(r) + 1;
  if (counting) {
    (void)DropArgsUnderResults(ctx, 0, inputs + w + 2);
    return nout < 0 ? PushVoidValue(ctx) : kOk;
  }
  (void)DropArgsUnderResults(ctx, 0, 2);
  // The last collection with dimensions of its own and q elements shapes the results.
  int ndims = 0;
  int32_t dims[kMaxDims] = {};
  for (int i = 0; i < inputs - 1; ++i) {
    const int position = w + i;
    if (DescriptorAt(ctx, position)->extra != kCellArray) continue;
    int64_t count = 0;
    int nd = 0;
    int32_t dd[kMaxDims] = {};
    if (GetCellArgInfo(ctx, position, &nd, dd, &count, nullptr, nullptr) != kOk || count != q) continue;
    ndims = nd;
    std::copy(dd, dd + nd, dims);
    break;
  }
  if (ndims > 0) {
    for (int j = 0; j < w; ++j) {
      (void)RotateValues(ctx, w, 1);
      if (StatusCode st = ReshapeTopCellArray(ctx, ndims, dims); st != kOk) return st;
    }
  }
  (void)ReverseValues(ctx, w);
  return DropArgsUnderResults(ctx, w, inputs);
}

}  // namespace

StatusCode MapNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin >= 0) return MapFirstCall(ctx, nargin, nargout);
  return MapReentry(ctx, ~nargin, nargout);
}

namespace {

// ---------------------------------------------------------------------------
// cellfun(fun, c, extra1, ...): above the inputs lie the result array (an
// empty placeholder until the first result), a counter of stored results,
// q and r.

[[nodiscard]] StatusCode CellfunStartCall(EngineContext* ctx, int32_t d) {
  const int r = static_cast<int>(NumberAt(ctx, 0));
  // The collection and then each further input lie r + 3 down in turn.
  if (StatusCode st = PushListElement(ctx, r + 3, d + 1); st != kOk) return ReportedStatus(st);
  for (int i = 1; i < r; ++i)
    if (StatusCode st = DuplicateValues(ctx, r + 3, 1); st != kOk) return st;
  return CallFunctionValue(ctx, 2 * r + 4, r, 1, true);
}

// The class family a result joins: its element class, or char and logical
// told apart from the integer classes of their width.
struct ResultClass {
  uint32_t cls;
  int32_t subtype;  // kNumericArray, kCharArray or kLogicalArray; plain doubles count as numeric
};

bool ReadResultClass(const ValueDescriptor& d, Cell* data, ResultClass* out) {
  if (IsPlainMatrix(d)) {
    *out = {(d.kind & kComplex) ? kComplexDouble : kDouble, kNumericArray};
    return true;
  }
  if (!IsBoxedArray(d)) return false;
  *out = {ReadArray(data).cls, d.extra};
  return true;
}

uint32_t RealClass(uint32_t cls) { return cls == kComplexDouble ? kDouble : cls == kComplexSingle ? kSingle : cls; }

// Makes the result array in the placeholder's place, of R's class family and
// the collection's shape; floats carry an imaginary part from the start.
[[nodiscard]] StatusCode CellfunMakeArray(EngineContext* ctx, const ResultClass& rc, int collection) {
  int ndims = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count = 0;
  (void)GetCellArgInfo(ctx, collection, &ndims, dims, &count, nullptr, nullptr);
  if (ndims < 2) {
    // A list is a row.
    dims[0] = 1;
    dims[1] = static_cast<int32_t>(count);
    ndims = 2;
  }
  const uint32_t real = RealClass(rc.cls);
  StatusCode st = kOk;
  if (real == kDouble) {
    double *re = nullptr, *im = nullptr;
    st = PushDoubleArray(ctx, ndims, dims, &re, &im);
    if (st == kOk) {
      std::fill(re, re + count, 0.0);
      std::fill(im, im + count, 0.0);
    }
  } else if (real == kSingle) {
    float *re = nullptr, *im = nullptr;
    st = PushSingleArray(ctx, ndims, dims, &re, &im);
    if (st == kOk) {
      std::fill(re, re + count, 0.0f);
      std::fill(im, im + count, 0.0f);
    }
  } else if (rc.subtype == kCharArray) {
    uint16_t* data = nullptr;
    st = PushCharArray(ctx, ndims, dims, &data);
    if (st == kOk) std::fill(data, data + count, uint16_t{0});
  } else if (rc.subtype == kLogicalArray) {
    uint8_t* data = nullptr;
    st = PushLogicalArray(ctx, ndims, dims, &data);
    if (st == kOk) std::fill(data, data + count, uint8_t{0});
  } else {
    void* data = nullptr;
    st = PushIntegerArray(ctx, ndims, dims, ElementBytes(real), (real & 0x80) != 0, &data);
    if (st == kOk) std::memset(data, 0, count * ElementBytes(real));
  }
  if (st != kOk) return st;
  // [P, counter, q, r, R, A] -> [A, P, counter, q, r, R] -> [A, counter, q, r, R]
  (void)RotateValues(ctx, 6, 5);
  return DropArgsUnderResults(ctx, 4, 1);
}

// Stores R (on top) at element d of the array four values down.
[[nodiscard]] StatusCode CellfunStore(EngineContext* ctx, int32_t d) {
  ResultClass have;
  ResultClass want;
  if (!ReadResultClass(*DescriptorAt(ctx, 0), DataAt(ctx, 0), &have) ||
      !ReadResultClass(*DescriptorAt(ctx, 4), DataAt(ctx, 4), &want))
    return kWrongTypeInternal;
  const uint32_t real = RealClass(want.cls);
  if (RealClass(have.cls) != real || have.subtype != want.subtype) return kWrongTypeInternal;
  if (real == kDouble) {
    double *re = nullptr, *im = nullptr, *to = nullptr, *toIm = nullptr;
    int64_t count = 0;
    (void)GetDoubleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &re, &im);
    (void)GetDoubleArrayArg(ctx, 4, nullptr, nullptr, &count, &to, &toIm);
    to[d] = re[0];
    if (toIm != nullptr) toIm[d] = im != nullptr ? im[0] : 0.0;
    return kOk;
  }
  if (real == kSingle) {
    float *re = nullptr, *im = nullptr, *to = nullptr, *toIm = nullptr;
    (void)GetSingleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &re, &im);
    (void)GetSingleArrayArg(ctx, 4, nullptr, nullptr, nullptr, &to, &toIm);
    to[d] = re[0];
    if (toIm != nullptr) toIm[d] = im != nullptr ? im[0] : 0.0f;
    return kOk;
  }
  const int bytes = ElementBytes(real);
  const ArrayView from = ReadArray(DataAt(ctx, 0));
  const ArrayView to = ReadArray(DataAt(ctx, 4));
  std::memcpy(reinterpret_cast<char*>(to.data) + int64_t{d} * bytes, from.data, bytes);
  return kOk;
}

// Whether every imaginary part of the float array on top is 0.
bool ImaginaryPartsAllZero(EngineContext* ctx) {
  int64_t count = 0;
  double *re = nullptr, *im = nullptr;
  if (GetDoubleArrayArg(ctx, 0, nullptr, nullptr, &count, &re, &im) == kOk)
    return im == nullptr || std::all_of(im, im + count, [](double x) { return x == 0; });
  float *sre = nullptr, *sim = nullptr;
  if (GetSingleArrayArg(ctx, 0, nullptr, nullptr, &count, &sre, &sim) == kOk)
    return sim == nullptr || std::all_of(sim, sim + count, [](float x) { return x == 0; });
  return false;
}

}  // namespace

StatusCode CellfunNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin >= 0) {
    const int r = nargin - 1;
    if (!IsListOrCellArg(ctx, r - 1)) return kWrongType;
    const int32_t q = ElementCountAt(ctx, r - 1);
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    if (StatusCode st = PushRealScalar(ctx, 0); st != kOk) return st;
    if (q == 0) {
      PopValue(ctx);
      return DropArgsUnderResults(ctx, 1, nargin);
    }
    if (StatusCode st = PushRealScalar(ctx, q); st != kOk) return st;
    if (StatusCode st = PushRealScalar(ctx, r); st != kOk) return st;
    return CellfunStartCall(ctx, 0);
  }
  int results = ~nargin;
  if (results == 0 || (results == 1 && DescriptorAt(ctx, 0)->kind == kVoid)) return kTooManyArgout;
  if (results > 1) (void)DropArgsUnderResults(ctx, 1, results - 1);
  int64_t count = 0;
  if (GetArgDims(ctx, 0, nullptr, nullptr, &count) != kOk || count != 1) return kBadSize;
  const auto d = static_cast<int32_t>(NumberAt(ctx, 3));
  const double q = NumberAt(ctx, 2);
  const int r = static_cast<int>(NumberAt(ctx, 1));
  if (d == 0) {
    ResultClass rc;
    if (!ReadResultClass(*DescriptorAt(ctx, 0), DataAt(ctx, 0), &rc)) return kWrongTypeInternal;
    // The collection: under the further inputs and the five values above them.
    if (StatusCode st = CellfunMakeArray(ctx, rc, r + 4); st != kOk) return st;
  }
  if (StatusCode st = CellfunStore(ctx, d); st != kOk) return st;
  PopValue(ctx);
  SetNumberAt(ctx, 2, d + 1);
  if (d + 1 < q) return CellfunStartCall(ctx, d + 1);
  (void)DropArgsUnderResults(ctx, 0, 3);
  const ValueDescriptor a = *DescriptorAt(ctx, 0);
  const bool floats =
      IsPlainMatrix(a) || (IsBoxedArray(a) && a.extra == kNumericArray && IsFloatClass(ReadArray(DataAt(ctx, 0)).cls));
  if (floats && ImaginaryPartsAllZero(ctx))
    if (StatusCode st = DropImaginaryPart(ctx); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, r + 1);
}

namespace {

// ---------------------------------------------------------------------------
// fevalx(fun, x1, ..., xn): the arguments expanded to a common size.

constexpr int kFevalxDims = 16;

// Replaces the argument at position by its expansion to the common size.
[[nodiscard]] StatusCode ExpandArgument(EngineContext* ctx, int position, int ndims, const int32_t* common) {
  int nd = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count = 0;
  if (StatusCode st = GetArgDims(ctx, position, &nd, dims, &count); st != kOk) return st;
  for (int k = nd; k < ndims; ++k) dims[k] = 1;
  int64_t total = 1;
  for (int k = 0; k < ndims; ++k) total *= common[k];

  const ValueDescriptor d = *DescriptorAt(ctx, position);
  uint32_t cls = 0;
  int32_t subtype = kNumericArray;
  if (IsPlainMatrix(d)) {
    cls = (d.kind & kComplex) ? kComplexDouble : kDouble;
  } else if (IsBoxedArray(d)) {
    cls = ReadArray(DataAt(ctx, position)).cls;
    subtype = d.extra;
    if (cls == kSingle || cls == kComplexSingle) return kWrongTypeInternal;
  } else {
    return kWrongTypeInternal;
  }
  const bool complex = cls == kComplexDouble;
  const int bytes = complex ? 8 : ElementBytes(cls);
  void* out = nullptr;
  void* outIm = nullptr;
  StatusCode st = kOk;
  if (cls == kDouble || cls == kComplexDouble) {
    double *re = nullptr, *im = nullptr;
    st = PushDoubleArray(ctx, ndims, common, &re, complex ? &im : nullptr);
    out = re, outIm = im;
  } else if (subtype == kCharArray) {
    uint16_t* p = nullptr;
    st = PushCharArray(ctx, ndims, common, &p);
    out = p;
  } else if (subtype == kLogicalArray) {
    uint8_t* p = nullptr;
    st = PushLogicalArray(ctx, ndims, common, &p);
    out = p;
  } else {
    st = PushIntegerArray(ctx, ndims, common, bytes, (cls & 0x80) != 0, &out);
  }
  if (st != kOk) return st;
  // The source is one value further down now; its elements in storage order
  // (the second subscript fastest, then the first, then the third on).
  const char* from = nullptr;
  const char* fromIm = nullptr;
  if (IsPlainMatrix(d)) {
    double *re = nullptr, *im = nullptr;
    (void)GetDoubleArrayArg(ctx, position + 1, nullptr, nullptr, nullptr, &re, &im);
    from = reinterpret_cast<const char*>(re), fromIm = reinterpret_cast<const char*>(im);
  } else {
    const ArrayView a = ReadArray(DataAt(ctx, position + 1));
    from = reinterpret_cast<const char*>(a.data);
    if (complex) fromIm = from + count * 8;
  }
  // Storage order: dims 1 (columns) fastest, then 0 (rows), then 2, 3, ...
  int order[kFevalxDims];
  int o = 0;
  order[o++] = 1;
  order[o++] = 0;
  for (int k = 2; k < ndims; ++k) order[o++] = k;
  int64_t strideOut[kFevalxDims], strideIn[kFevalxDims];
  int64_t so = 1, si = 1;
  for (int j = 0; j < ndims; ++j) {
    const int k = order[j];
    strideOut[k] = so;
    strideIn[k] = dims[k] == 1 ? 0 : si;
    so *= common[k];
    si *= dims[k];
  }
  int32_t index[kFevalxDims] = {};
  for (int64_t e = 0; e < total; ++e) {
    int64_t at = 0, to = 0;
    for (int k = 0; k < ndims; ++k) at += index[k] * strideIn[k], to += index[k] * strideOut[k];
    std::memcpy(static_cast<char*>(out) + to * bytes, from + at * bytes, bytes);
    if (complex) std::memcpy(static_cast<char*>(outIm) + to * bytes, fromIm + at * bytes, bytes);
    for (int j = 0; j < ndims; ++j) {
      const int k = order[j];
      if (++index[k] < common[k]) break;
      index[k] = 0;
    }
  }
  // [x, above.., X] -> [X, x, above..] -> [X, above..]
  (void)RotateValues(ctx, position + 2, position + 1);
  (void)DropArgsUnderResults(ctx, position, 1);
  return kOk;
}

}  // namespace

StatusCode FevalxNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin < 0) {
    const int keep = nargout < 0 ? 1 : nargout;
    return DropArgsUnderResults(ctx, std::min(keep, ~nargin), 1);
  }
  const int n = nargin - 1;
  const ValueDescriptor f = *DescriptorAt(ctx, n);
  const bool function =
      (f.kind == kBoxed && (f.extra == kFunctionRef || f.extra == kInlineFunction)) || IsCharArg(ctx, n);
  if (!function) return kWrongType;
  int32_t common[kFevalxDims];
  std::fill(common, common + kFevalxDims, 1);
  bool set[kFevalxDims] = {};
  int ndims = 2;
  for (int i = 0; i < n; ++i) {
    int nd = 0;
    int32_t dims[kMaxDims] = {};
    if (StatusCode st = GetArgDims(ctx, n - 1 - i, &nd, dims, nullptr); st != kOk) return ReportedStatus(st);
    if (nd > kFevalxDims) return kOutOfRangeArg;
    ndims = std::max(ndims, nd);
    for (int k = 0; k < nd; ++k) {
      if (dims[k] == 1) continue;
      if (!set[k]) {
        common[k] = dims[k];
        set[k] = true;
      } else if (dims[k] != common[k]) {
        return kIncompSize;
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    const int position = n - 1 - i;
    int nd = 0;
    int32_t dims[kMaxDims] = {};
    (void)GetArgDims(ctx, position, &nd, dims, nullptr);
    bool same = true;
    for (int k = 0; k < ndims; ++k) same = same && (k < nd ? dims[k] : 1) == common[k];
    if (same) continue;
    if (StatusCode st = ExpandArgument(ctx, position, ndims, common); st != kOk) return st;
  }
  return CallFunctionValue(ctx, n, n, nargout, true);
}

// ---------------------------------------------------------------------------
// sandbox(code [, variables]) and sandboxtrust(function)

StatusCode SandboxNative(EngineContext* ctx, int nargin, int nargout, void*) {
  const bool withVariables = nargin == 2;
  if (withVariables && !(IsStructArg(ctx, 0) && DescriptorAt(ctx, 0)->extra == kStruct)) return kWrongType;
  const int codePosition = nargin - 1;
  if (!IsCharArg(ctx, codePosition)) return kWrongType;
  if (nargout < 0) {
    // The statement's result lies under the inputs.
    if (StatusCode st = PushVoidValue(ctx); st != kOk) return st;
    (void)RotateValues(ctx, nargin + 1, nargin);
  }
  auto undoVoid = [&](StatusCode st) {
    if (nargout < 0) (void)DropArgsUnderResults(ctx, nargin, 1);
    return st;
  };
  uint8_t* bytes = nullptr;
  int64_t length = 0;
  if (StatusCode st = EncodeCharArg(ctx, codePosition, false, &bytes, &length); st != kOk)
    return undoVoid(ReportedStatus(st));
  // The text goes to the far end of the data stack, whose end is lowered past
  // it while the compiler runs and restored on every way out.
  const int64_t cells = (length + 7) / 8;
  if (length > INT32_MAX || ctx->dataBase + ctx->dataCapacity - cells < ctx->dataBase + ctx->dataTop)
    return undoVoid(kDataStackFull);
  Cell* copy = ctx->dataBase + ctx->dataCapacity - cells;
  std::memmove(copy, bytes, length);
  (void)DropArgsUnderResults(ctx, codePosition, 1);
  const int32_t end = ctx->dataCapacity;
  ctx->dataCapacity -= static_cast<int32_t>(cells);
  const StatusCode st = CompileTextForEvaluation(ctx, reinterpret_cast<const char*>(copy), static_cast<int32_t>(length),
                                                 {.outputs = 0,
                                                  .library = GetCurrentLibraryIndex(ctx),
                                                  .newFrame = true,
                                                  .returnVariables = nargout >= 1,
                                                  .skipDefinitions = true,
                                                  .linkToCaller = true,
                                                  .structVariables = withVariables});
  ctx->dataCapacity = end;
  if (st != kOk) return st;
  MarkFrameSandboxed(ctx);
  return kOk;
}

StatusCode SandboxTrustNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin != 1) return kIncorrectNargin;
  char name[kMaxFunctionName + 1] = {};
  int32_t library = GetCurrentLibraryIndex(ctx);
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  int length = 0;
  if (d.kind == kBoxed && d.extra == kFunctionRef) {
    const char* text = nullptr;
    GetFunctionReferenceName(ctx, DataAt(ctx, 0), &text, &length);
    length = std::min(length, kMaxFunctionName);
    std::memcpy(name, text, length);
    library = reinterpret_cast<const int16_t*>(DataAt(ctx, 0))[1];  // {length; library; name}
  } else {
    int64_t n = 0;
    if (StatusCode st = CopyStringArgToBuffer(ctx, 0, name, kMaxFunctionName, &n); st != kOk && st != kObjTooLarge)
      return ReportedStatus(st);
    length = static_cast<int>(n);
  }
  const int32_t entry = length > 0 ? FindUserFunctionByName(ctx, name, length, library) : -1;
  if (entry < 0) return RaiseError(ctx, kUndefFun, -1, 0, -1, name);
  if (StoreEntry(ctx, entry)->position <= 0)
    if (StatusCode st = CompileStoredFunction(ctx, entry, nullptr, 0, false, 1); st != kOk) return st;
  auto* h = reinterpret_cast<CompiledFunctionHeader*>(ctx->codeBase + StoreEntry(ctx, entry)->position);
  h->flags = static_cast<int16_t>(h->flags | kHeaderTrusted);
  PopValue(ctx);
  return kOk;
}

// ---------------------------------------------------------------------------
// str2obj(text): a data expression run nested.

StatusCode Str2objNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin != 1) return kIncorrectNargin;
  const int m = nargout < 0 ? 1 : nargout;
  const char* text = nullptr;
  int64_t length = 0;
  if (StatusCode st = GetStringArg(ctx, 0, &text, &length); st != kOk) return ReportedStatus(st);
  if (length > INT32_MAX) return kBadArg;
  const ProgramCounter caller = ctx->pc;
  const int32_t mark = ctx->descLength;
  // Every failure leaves no frame of the fragment and the program counter
  // where the instruction left it.
  auto fail = [&](StatusCode st) {
    if (ctx->descLength > mark) (void)UnwindFrames(ctx, mark);
    ctx->pc = caller;
    return st;
  };
  int32_t values = 0;
  if (StatusCode st = CompileTextInCallerScope(ctx, text, static_cast<int32_t>(length), &values); st != kOk)
    return fail(st);
  if (values != m) return fail(m < values ? kTooFewArgout : kTooManyArgout);
  if (!IsSafeDataExpression(ctx)) return fail(kBadArg);
  // The fragment's return ends the nested run rather than going on with the
  // caller's code; the run leaves the running flag as the caller needs it.
  CurrentFrame(ctx)->callerSpace = kNoCode;
  const uint8_t running = ctx->running;
  (void)ClearError(ctx);
  const StatusCode st = RunInterpreter(ctx, 0);
  ctx->running = running;
  if (st != kOk) return fail(st);
  ctx->pc = caller;
  return DropArgsUnderResults(ctx, m, 1);
}
