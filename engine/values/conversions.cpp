// Numeric class conversions on the value stack: unifying argument classes,
// float and integer conversions, logical conversion, real and complex parts,
// and gathering the data of elementwise arguments. A converted value is built
// above the original and then takes its place.
#include <cmath>
#include <cstring>

#include "engine/values/valuestack.h"

namespace {

// Pushes an array of the source's shape: a double result of at most two
// dimensions is a plain matrix, everything else boxed.
[[nodiscard]] StatusCode PushShaped(EngineContext* ctx, const NumericView& s, int32_t subtype, uint32_t cls,
                                    Cell** data) {
  if ((cls == kDouble || cls == kComplexDouble) && s.ndims == 2) {
    double* re = nullptr;
    double* im = nullptr;
    StatusCode st = PushDoubleMatrix(ctx, static_cast<int32_t>(s.dims[0]), static_cast<int32_t>(s.dims[1]), &re,
                                     cls == kComplexDouble ? &im : nullptr);
    if (st != kOk) return st;
    *data = reinterpret_cast<Cell*>(re);
    return kOk;
  }
  return PushArray(ctx, subtype, cls, s.dims, s.ndims, data);
}

// Cells of the value a conversion builds from s.
int64_t ResultCells(const NumericView& s, uint32_t target) {
  if ((target == kDouble || target == kComplexDouble) && s.ndims == 2)
    return s.count * (target == kComplexDouble && s.count > 0 ? 2 : 1);
  return ArrayPayloadCells(target, s.ndims, s.count);
}

uint32_t FloatTarget(const NumericView& s, bool toSingle) {
  const bool complex = IsComplexClass(s.cls);
  return toSingle ? (complex ? kComplexSingle : kSingle) : (complex ? kComplexDouble : kDouble);
}

// Values already of the target class stay as they are.
bool FloatUnchanged(const NumericView& s, uint32_t target, bool toSingle) {
  return s.cls == target && (toSingle || s.plain || s.ndims > 2);
}

// Integer classes of one size share their bytes: only the class word changes.
bool IntegerInPlace(const NumericView& s, uint32_t target) {
  return !IsFloatClass(s.cls) && (s.cls & 0x7F) == (target & 0x7F);
}

// Converts the top value to double or single in place of itself.
[[nodiscard]] StatusCode ConvertTopToFloat(EngineContext* ctx, bool toSingle, bool* changed) {
  NumericView s;
  if (!ReadNumeric(ctx, 0, &s)) return kWrongTypeInternal;
  const bool complex = IsComplexClass(s.cls);
  const uint32_t target = FloatTarget(s, toSingle);
  if (FloatUnchanged(s, target, toSingle)) return kOk;
  Cell* out = nullptr;
  if (StatusCode st = PushShaped(ctx, s, kNumericArray, target, &out); st != kOk) return st;
  ReadNumeric(ctx, 1, &s);
  const int parts = complex ? 2 : 1;
  for (int part = 0; part < parts; ++part)
    for (int64_t k = 0; k < s.count; ++k) {
      const double x = part == 0 ? RealElement(s, k) : ImagElement(s, k);
      if (toSingle)
        reinterpret_cast<float*>(out)[part * s.count + k] = static_cast<float>(x);
      else
        reinterpret_cast<double*>(out)[part * s.count + k] = x;
    }
  if (changed) *changed = true;
  return DropArgsUnderResults(ctx, 1, 1);
}

// Converting the values at positions first..last one after the other builds
// each result above the top before its original goes; checks beforehand that
// every step has room, so a run that would fail changes nothing.
template <class Target>
[[nodiscard]] StatusCode CheckConversionRoom(EngineContext* ctx, int first, int last, Target target) {
  if (ctx->descLength + 3 >= ctx->descCapacity) return kDescStackFull;
  int64_t grown = 0;
  for (int p = first; p <= last; ++p) {
    NumericView s;
    if (!ReadNumeric(ctx, p, &s)) return kWrongTypeInternal;
    const uint32_t cls = target(s);
    if (cls == 0) continue;  // converted in place or left alone
    const int64_t cells = ResultCells(s, cls);
    if (grown + cells >= FreeDataCells(ctx)) return kDataStackFull;
    grown += cells - DescriptorAt(ctx, p)->cells;
  }
  return kOk;
}

template <class F>
[[nodiscard]] StatusCode AtPosition(EngineContext* ctx, int position, F convert) {
  (void)RotateValues(ctx, position + 1, 1);
  const StatusCode st = convert();
  (void)RotateValues(ctx, position + 1, position);
  return st;
}

[[nodiscard]] StatusCode CheckIntegerRange(const NumericView& s, int bytes, bool isUnsigned) {
  const __int128 hi = isUnsigned ? ((__int128{1} << (8 * bytes)) - 1) : ((__int128{1} << (8 * bytes - 1)) - 1);
  const __int128 lo = isUnsigned ? 0 : -(__int128{1} << (8 * bytes - 1));
  for (int64_t k = 0; k < s.count; ++k) {
    if (IsFloatClass(s.cls)) {
      const double x = RealElement(s, k);
      if (!std::isfinite(x)) return kOutOfRangeArg;
      if (x != std::trunc(x)) return kNonIntArg;
      if (x < static_cast<double>(lo) || x > static_cast<double>(hi)) return kOutOfRangeArg;
    } else {
      const __int128 v = IntegerElement(s, k);
      if (v < lo || v > hi) return kOutOfRangeArg;
    }
  }
  return kOk;
}

[[nodiscard]] StatusCode ConvertTopToInteger(EngineContext* ctx, int bytes, bool isUnsigned, bool check) {
  NumericView s;
  if (!ReadNumeric(ctx, 0, &s)) return kWrongTypeInternal;
  if (check)
    if (StatusCode st = CheckIntegerRange(s, bytes, isUnsigned); st != kOk) return st;
  const uint32_t target = static_cast<uint32_t>(bytes) + (isUnsigned ? 128 : 0);
  if (IntegerInPlace(s, target)) {
    Cell* payload = TopData(ctx);
    reinterpret_cast<uint32_t*>(payload)[0] = target;
    DescriptorAt(ctx, 0)->extra = kNumericArray;
    return kOk;
  }
  Cell* out = nullptr;
  if (StatusCode st = PushArray(ctx, kNumericArray, target, s.dims, s.ndims, &out); st != kOk) return st;
  ReadNumeric(ctx, 1, &s);
  auto* o = reinterpret_cast<uint8_t*>(out);
  for (int64_t k = 0; k < s.count; ++k) {
    const uint64_t v = IsFloatClass(s.cls) ? static_cast<uint64_t>(TruncateToInt64(RealElement(s, k)))
                                           : static_cast<uint64_t>(IntegerElement(s, k));
    std::memcpy(o + k * bytes, &v, bytes);  // little-endian: the low bytes
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

}  // namespace

StatusCode ConvertArgsToFloat(EngineContext* ctx, int position, bool toSingle, bool* converted) {
  if (converted) *converted = false;
  const int first = position >= 0 ? position : 0;
  const int last = position >= 0 ? position : -position - 1;
  StatusCode room = CheckConversionRoom(ctx, first, last, [&](const NumericView& s) {
    const uint32_t target = FloatTarget(s, toSingle);
    return FloatUnchanged(s, target, toSingle) ? 0u : target;
  });
  if (room != kOk) return room;
  for (int p = first; p <= last; ++p) {
    StatusCode st = AtPosition(ctx, p, [&] { return ConvertTopToFloat(ctx, toSingle, converted); });
    if (st != kOk) return st;
  }
  return kOk;
}

int64_t TruncateToInt64(double x) {
  // The test keeps the cast defined: it runs only below 2^63 in magnitude.
  if (!(std::fabs(x) < 9223372036854775808.0)) return INT64_MIN;
  return static_cast<int64_t>(x);
}

StatusCode ConvertArgToIntegerClass(EngineContext* ctx, int position, int elementBytes, bool isUnsigned, bool check) {
  if (elementBytes != 1 && elementBytes != 2 && elementBytes != 4 && elementBytes != 8) return kBadArg;
  return AtPosition(ctx, position, [&] { return ConvertTopToInteger(ctx, elementBytes, isUnsigned, check); });
}

StatusCode UnifyNumericArgs(EngineContext* ctx, int n) {
  bool anyDouble = false, anySingle = false;
  int bytes = 0;
  bool isUnsigned = false;
  for (int p = 0; p < n; ++p) {
    NumericView s;
    if (!ReadNumeric(ctx, p, &s)) return kWrongTypeInternal;
    if (s.cls == kDouble || s.cls == kComplexDouble) {
      anyDouble = true;
    } else if (s.cls == kSingle || s.cls == kComplexSingle) {
      anySingle = true;
    } else {
      const int b = static_cast<int>(s.cls & 0x7F);
      const bool u = (s.cls & 0x80) != 0;
      if (b > bytes)
        bytes = b, isUnsigned = u;
      else if (b == bytes)
        isUnsigned |= u;
    }
  }
  if (anyDouble || anySingle) return ConvertArgsToFloat(ctx, -n, !anyDouble, nullptr);
  const uint32_t target = static_cast<uint32_t>(bytes) + (isUnsigned ? 128 : 0);
  if (StatusCode st = CheckConversionRoom(
          ctx, 0, n - 1, [&](const NumericView& s) { return IntegerInPlace(s, target) ? 0u : target; });
      st != kOk)
    return st;
  for (int p = 0; p < n; ++p)
    if (StatusCode st = ConvertArgToIntegerClass(ctx, p, bytes, isUnsigned, false); st != kOk) return st;
  return kOk;
}

StatusCode ConvertArgToLogical(EngineContext* ctx, int position) {
  NumericView s;
  if (!ReadNumeric(ctx, position, &s)) return kWrongTypeInternal;
  if (s.cls == kSingle || s.cls == kComplexSingle) return kWrongTypeInternal;
  ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (s.cls == kInt8 || s.cls == kUint8) {
    // One byte per element already: rewrite the bytes and the class in place.
    Cell* payload = DataAt(ctx, position);
    reinterpret_cast<uint32_t*>(payload)[0] = kUint8;
    uint8_t* p = reinterpret_cast<uint8_t*>(ReadArray(payload).data);
    for (int64_t k = 0; k < s.count; ++k) p[k] = p[k] != 0;
    d.extra = kLogicalArray;
    return kOk;
  }
  return AtPosition(ctx, position, [&] {
    NumericView t;
    ReadNumeric(ctx, 0, &t);
    Cell* out = nullptr;
    if (StatusCode st = PushArray(ctx, kLogicalArray, kUint8, t.dims, t.ndims, &out); st != kOk) return st;
    ReadNumeric(ctx, 1, &t);
    auto* o = reinterpret_cast<uint8_t*>(out);
    for (int64_t k = 0; k < t.count; ++k) {
      const double re = RealElement(t, k), im = ImagElement(t, k);
      o[k] = (re < 0 || re > 0 || im < 0 || im > 0) ? 1 : 0;  // NaN is false
    }
    return DropArgsUnderResults(ctx, 1, 1);
  });
}

StatusCode DropImaginaryPart(EngineContext* ctx) {
  ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (IsPlainMatrix(d)) {
    if (d.kind & kComplex) {
      ctx->dataTop -= d.cells / 2;
      d.cells /= 2;
      d.kind = 0;
    }
    return kOk;
  }
  if (!IsBoxedArray(d) || d.extra != kNumericArray) return kWrongTypeInternal;
  Cell* payload = TopData(ctx);
  const ArrayView a = ReadArray(payload);
  if (!IsFloatClass(a.cls)) return kWrongTypeInternal;
  if (!IsComplexClass(a.cls)) return kOk;
  const uint32_t real = a.cls == kComplexDouble ? kDouble : kSingle;
  ResizeTopArray(ctx, kNumericArray, real, a.dims, a.ndims, a.count * ElementBytes(real));
  return kOk;
}

StatusCode MakeTopComplex(EngineContext* ctx, void** imag) {
  ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (IsPlainMatrix(d)) {
    Cell* data = TopData(ctx);
    if (d.kind & kComplex) {
      if (imag) *imag = data + d.cells / 2;
      return kOk;
    }
    if (d.cells >= FreeDataCells(ctx)) return kDataStackFull;
    std::memset(data + d.cells, 0, int64_t{d.cells} * sizeof(Cell));
    if (imag) *imag = data + d.cells;
    ctx->dataTop += d.cells;
    if (d.cells > 0) d.kind = kComplex;  // an empty matrix never carries the flag
    d.cells *= 2;
    return kOk;
  }
  if (!IsBoxedArray(d) || d.extra != kNumericArray) return kWrongTypeInternal;
  Cell* payload = TopData(ctx);
  const ArrayView a = ReadArray(payload);
  if (!IsFloatClass(a.cls)) return kWrongTypeInternal;
  const int half = a.cls == kDouble || a.cls == kComplexDouble ? 8 : 4;
  if (IsComplexClass(a.cls)) {
    if (imag) *imag = reinterpret_cast<uint8_t*>(a.data) + a.count * half;
    return kOk;
  }
  const uint32_t complexCls = a.cls == kDouble ? kComplexDouble : kComplexSingle;
  if (ArrayPayloadCells(complexCls, a.ndims, a.count) - d.cells >= FreeDataCells(ctx)) return kDataStackFull;
  ResizeTopArray(ctx, kNumericArray, complexCls, a.dims, a.ndims, a.count * half);
  if (imag) *imag = reinterpret_cast<uint8_t*>(a.data) + a.count * half;
  return kOk;
}

StatusCode CheckElementwiseArgs(EngineContext* ctx, int n, int* ndims, int32_t* dims, int64_t* count, double** re,
                                double** im, float** sre, float** sim, void** ints, int* elementBytes, bool* isUnsigned,
                                uint8_t* isArray) {
  int nd = 2;
  int32_t shape[kMaxDims] = {1, 1};
  int64_t total = 1;
  bool seen = false;
  for (int i = 0; i < n; ++i) {
    if (re) re[i] = nullptr;
    if (im) im[i] = nullptr;
    if (sre) sre[i] = nullptr;
    if (sim) sim[i] = nullptr;
    if (ints) ints[i] = nullptr;
    int k = 0;
    int32_t d[kMaxDims];
    int64_t c = 0;
    StatusCode st = kWrongTypeInternal;
    if (re || !ints) {
      double* r = nullptr;
      double* m = nullptr;
      st = GetDoubleArrayArg(ctx, i, &k, d, &c, &r, &m);
      if (st == kOk) {
        if (re) re[i] = r;
        if (im) im[i] = m;
      }
    }
    if (st != kOk && sre) {
      st = GetSingleArrayArg(ctx, i, &k, d, &c, &sre[i], sim ? &sim[i] : nullptr);
    }
    if (st != kOk && ints) {
      int b = 0;
      bool u = false;
      st = GetIntegerArrayArg(ctx, i, &k, d, &c, &b, &u, &ints[i]);
      if (st == kOk) {
        if (elementBytes) elementBytes[i] = b;
        if (isUnsigned) isUnsigned[i] = u;
      }
    }
    if (st != kOk) return st;
    const bool array = c != 1;
    if (isArray) isArray[i] = array ? 1 : 0;
    if (!array) continue;
    if (!seen) {
      seen = true;
      nd = k;
      std::memcpy(shape, d, k * sizeof(int32_t));
      total = c;
      continue;
    }
    if (c != total || k != nd || std::memcmp(shape, d, k * sizeof(int32_t)) != 0) return kIncompSize;
  }
  if (ndims) *ndims = nd;
  if (dims) std::memcpy(dims, shape, nd * sizeof(int32_t));
  if (count) *count = total;
  return kOk;
}
