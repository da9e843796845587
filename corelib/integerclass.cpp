// The integer-class natives: map2int scales doubles from [lo, hi] onto the
// range of an integer class; intmax and intmin give a class's limits.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "corelib/arrays.h"
#include "corelib/corelib.h"

namespace {

struct IntegerClass {
  const char* name;
  int bytes;
  bool isUnsigned;
};

constexpr IntegerClass kClasses[] = {
    {"uint8", 1, true}, {"uint16", 2, true}, {"uint32", 4, true}, {"uint64", 8, true},
    {"int8", 1, false}, {"int16", 2, false}, {"int32", 4, false}, {"int64", 8, false},
};

// The class a char argument names, in full and case-sensitively; null when none.
const IntegerClass* NamedClass(EngineContext* ctx, int position) {
  int64_t count = 0;
  void* data = nullptr;
  if (GetIntegerArrayArg(ctx, position, nullptr, nullptr, &count, nullptr, nullptr, &data) != kOk) return nullptr;
  const auto* codes = static_cast<const uint16_t*>(data);
  for (const IntegerClass& c : kClasses) {
    if (static_cast<int64_t>(std::strlen(c.name)) != count) continue;
    bool same = true;
    for (int64_t k = 0; same && k < count; ++k) same = codes[k] == static_cast<uint8_t>(c.name[k]);
    if (same) return &c;
  }
  return nullptr;
}

constexpr double kTwo64 = 18446744073709551616.0;

// The element of x in [lo, hi] (NaN as lo), scaled by s = 1/(hi - lo), as the
// bits of the class. Every value is clamped into the class before the
// conversion: the 64-bit rows can round up to 2^64.
uint64_t Scaled(const IntegerClass& c, double x, double lo, double hi, double s) {
  if (!(x >= lo)) x = lo;
  if (x > hi) x = hi;
  const double d = x - lo;
  if (c.bytes == 8) {
    const double v = std::trunc(d * (s * kTwo64));
    if (c.isUnsigned) return x >= hi || v >= kTwo64 ? UINT64_MAX : static_cast<uint64_t>(v);
    if (x >= hi || v >= kTwo64) return static_cast<uint64_t>(INT64_MAX);
    return static_cast<uint64_t>(v) - (uint64_t{1} << 63);
  }
  const double span = c.bytes == 1 ? 255.999 : c.bytes == 2 ? 65535.999 : 4294967295.999;
  const double top = c.bytes == 1 ? 255 : c.bytes == 2 ? 65535 : 4294967295.0;
  double v = 0;
  double low = 0, high = top;
  if (c.isUnsigned) {
    v = std::trunc(d * (s * span));
  } else {
    const double half = (top + 1) / 2;
    v = std::floor(d * (s * span) - half);
    low = -half, high = half - 1;
  }
  if (!(v >= low)) v = low;
  if (v > high) v = high;
  return static_cast<uint64_t>(static_cast<int64_t>(v));
}

}  // namespace

StatusCode Map2IntNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin == 2) return kTooFewArgin;
  if (StatusCode st = CheckArgTypes(ctx, nargin, "a[rrS"); st != kOk) return st;
  double lo = 0, hi = 1;
  if (nargin >= 3) {
    if (StatusCode st = GetRealScalarArg(ctx, nargin - 2, &lo); st != kOk) return st;
    if (StatusCode st = GetRealScalarArg(ctx, nargin - 3, &hi); st != kOk) return st;
  }
  // An empty or reversed interval has no scale.
  if (!(lo < hi)) return kBadArg;
  const IntegerClass* c = &kClasses[0];
  if (nargin == 4 && (c = NamedClass(ctx, 0)) == nullptr) return kUnknownOpt;

  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  if (StatusCode st = GetArgDims(ctx, nargin - 1, &ndims, dims, &count); st != kOk) return st;
  void* out = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, ndims, dims, c->bytes, c->isUnsigned, &out); st != kOk) return st;
  double* x = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, nargin, nullptr, nullptr, nullptr, &x, nullptr); st != kOk) {
    (void)DropArgsUnderResults(ctx, 0, 1);
    return st;
  }
  const double s = 1 / (hi - lo);
  for (int64_t k = 0; k < count; ++k) StoreLowBytes(out, c->bytes, k, Scaled(*c, x[k], lo, hi, s));
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode IntLimitNative(EngineContext* ctx, int nargin, int, void* selector) {
  const bool max = static_cast<char>(reinterpret_cast<intptr_t>(selector)) == 'a';
  int bytes = 4;
  bool isUnsigned = false;
  if (nargin == 1) {
    if (!IsCharArg(ctx, 0)) return kWrongType;
    int64_t count = 0;
    void* data = nullptr;
    if (StatusCode st = GetIntegerArrayArg(ctx, 0, nullptr, nullptr, &count, nullptr, nullptr, &data); st != kOk)
      return st;
    const auto* codes = static_cast<const uint16_t*>(data);
    if (count > 0) {
      int64_t p = 0;
      isUnsigned = codes[0] == 'u';
      if (isUnsigned) ++p;
      const auto is = [&](int64_t k, char c) { return k < count && codes[k] == static_cast<uint16_t>(c); };
      if (count - p < 4 || !is(p, 'i') || !is(p + 1, 'n') || !is(p + 2, 't')) return kUnknownOpt;
      p += 3;
      const int64_t rest = count - p;
      if (rest == 1 && is(p, '8'))
        bytes = 1;
      else if (rest == 2 && is(p, '1') && is(p + 1, '6'))
        bytes = 2;
      else if (rest == 2 && is(p, '3') && is(p + 1, '2'))
        bytes = 4;
      else if (rest == 2 && is(p, '6') && is(p + 1, '4'))
        bytes = 8;
      else
        return kUnknownOpt;
    }
  }
  const int bits = bytes * 8;
  const uint64_t ones = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  const uint64_t sign = uint64_t{1} << (bits - 1);
  const uint64_t v = max ? (isUnsigned ? ones : sign - 1) : (isUnsigned ? 0 : sign);
  const int32_t dims[] = {1, 1};
  void* out = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, 2, dims, bytes, isUnsigned, &out); st != kOk) return st;
  StoreLowBytes(out, bytes, 0, v);
  return DropArgsUnderResults(ctx, 1, nargin);
}
