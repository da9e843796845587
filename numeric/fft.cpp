// Fast Fourier transforms: a mixed-radix driver that splits each length into
// radix-3 and other odd factors down to a power of two, an iterative radix-2
// kernel for that power, and the natives fft, ifft, fft2, ifft2, fftn, ifftn.
//
// Forward X[k] = sum x[j] e^(-2 pi i jk/n); the inverse carries the 1/n in
// pieces: radix-2 scales its input by 1/N and each combination divides by its
// radix. Twiddles come from repeated multiplication, so they drift by about
// L * 2^-52 over a table of length L.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/indexing.h"
#include "numeric/numeric.h"

namespace {

// One level of the factorisation: `count` sequences of length `length`, the
// first at `offset`, consecutive ones `step` apart, elements `stride` apart.
// `progress` counts the sequences already transformed.
struct LevelRecord {
  int32_t offset, length, count, stride, step, progress;
};
static_assert(sizeof(LevelRecord) == 24);

bool IsPowerOfTwo(int64_t n) { return (n & (n - 1)) == 0; }

int64_t OddPart(int64_t n) {
  while (n % 2 == 0) n /= 2;
  return n;
}

int64_t ChooseRadix(int64_t length) {
  if (length % 3 == 0) return 3;
  if (length < 26) return OddPart(length);
  for (int64_t k = 1; (6 * k - 1) * (6 * k - 1) < length; ++k) {
    if (length % (6 * k - 1) == 0) return 6 * k - 1;
    if (length % (6 * k + 1) == 0) return 6 * k + 1;
  }
  return OddPart(length);
}

// Levels a length can need: each one but the last divides by at least 3.
int64_t MaxLevels(int64_t n) {
  int64_t levels = 1;
  for (int64_t l = n; l >= 3; l /= 3) ++levels;
  return levels;
}

// Work (multiply-adds) between two break polls inside one combination.
constexpr int64_t kPollWork = int64_t{1} << 18;

}  // namespace

void ComputeFftRadix2(const double* inRe, const double* inIm, int64_t inputs, int64_t inStride, double* outRe,
                      double* outIm, int64_t n, int64_t outStride, bool inverse) {
  int bits = 0;
  while ((int64_t{1} << bits) < n) ++bits;
  const double scale = inverse ? 1.0 / static_cast<double>(n) : 1.0;
  for (int64_t i = 0; i < n; ++i) {
    int64_t v = 0;
    for (int b = 0; b < bits; ++b)
      if (i & (int64_t{1} << b)) v |= int64_t{1} << (bits - 1 - b);
    const bool present = v < inputs;
    outRe[i * outStride] = present ? scale * inRe[v * inStride] : 0.0;
    outIm[i * outStride] = present ? scale * inIm[v * inStride] : 0.0;
  }
  for (int64_t span = 2; span <= n; span *= 2) {
    const double angle = 2 * std::numbers::pi / static_cast<double>(span);
    const double stepRe = std::cos(angle), stepIm = inverse ? std::sin(angle) : -std::sin(angle);
    double wr = 1, wi = 0;
    const int64_t half = span / 2;
    for (int64_t i = 0; i < half; ++i) {
      for (int64_t g = i; g < n; g += span) {
        const int64_t a = g * outStride, b = (g + half) * outStride;
        const double tr = wr * outRe[b] - wi * outIm[b];
        const double ti = wr * outIm[b] + wi * outRe[b];
        outRe[b] = outRe[a] - tr;
        outIm[b] = outIm[a] - ti;
        outRe[a] += tr;
        outIm[a] += ti;
      }
      const double t = wr * stepRe - wi * stepIm;
      wi = wr * stepIm + wi * stepRe;
      wr = t;
    }
  }
}

int ComputeFft(double* inRe, double* inIm, int64_t n, int64_t stride, int64_t count, int64_t step, double* outRe,
               double* outIm, bool inverse, double* scratch, int64_t scratchCells, EngineContext* ctx) {
  const bool paired = inIm == nullptr;
  const int64_t firstStep = step;
  if (paired) {
    // Each odd sequence serves as the imaginary part of the even one before it.
    count /= 2;
    inIm = inRe + step;
    step *= 2;
  }
  const int64_t levels = MaxLevels(n);
  if (8 * scratchCells - 16 * n < levels * int64_t{sizeof(LevelRecord)}) return 2;
  double* twRe = scratch;
  double* twIm = scratch + n;
  LevelRecord* stack = reinterpret_cast<LevelRecord*>(scratch + 2 * n);
  double* bufRe[2] = {outRe, inRe};
  double* bufIm[2] = {outIm, inIm};
  stack[0] = {
      0, static_cast<int32_t>(n), static_cast<int32_t>(count), static_cast<int32_t>(stride), static_cast<int32_t>(step),
      0};
  int top = 0;
  bool copied = false;
  int64_t twiddles = 0;  // length of the table built last
  int64_t work = 0;
  for (;;) {
    LevelRecord& r = stack[top];
    const int a = top % 2;
    if (r.progress < r.count) {
      if (r.length == 1) {
        if (a == 0)
          for (int64_t k = 0; k < r.count; ++k) {
            const int64_t at = r.offset + k * r.step;
            outRe[at] = inRe[at];
            outIm[at] = inIm[at];
          }
        r.progress = r.count;
      } else if (IsPowerOfTwo(r.length)) {
        if (a == 1 && !copied) {
          // Odd levels read the output buffers: give them the input first.
          const int64_t last = (count - 1) * step + (n - 1) * stride;
          for (int64_t k = 0; k <= last; ++k) {
            outRe[k] = inRe[k];
            outIm[k] = inIm[k];
          }
          copied = true;
        }
        for (int64_t k = 0; k < r.count; ++k) {
          const int64_t at = r.offset + k * r.step;
          ComputeFftRadix2(bufRe[1 - a] + at, bufIm[1 - a] + at, r.length, r.stride, bufRe[a] + at, bufIm[a] + at,
                           r.length, r.stride, inverse);
        }
        r.progress = r.count;
      } else {
        const int64_t e = ChooseRadix(r.length);
        stack[top + 1] = {r.offset,
                          static_cast<int32_t>(r.length / e),
                          static_cast<int32_t>(e),
                          static_cast<int32_t>(r.stride * e),
                          r.stride,
                          0};
        ++top;
      }
      continue;
    }
    if (top == 0) break;
    // Combine the E sub-transforms of the parent's current sequence.
    const LevelRecord& child = stack[top];
    LevelRecord& p = stack[--top];
    const int64_t e = child.count, length = e * child.length, sub = child.length;
    if (twiddles != length) {
      const double angle = 2 * std::numbers::pi / static_cast<double>(length);
      const double wr = std::cos(angle), wi = inverse ? std::sin(angle) : -std::sin(angle);
      twRe[0] = 1;
      twIm[0] = 0;
      for (int64_t k = 1; k < length; ++k) {
        twRe[k] = twRe[k - 1] * wr - twIm[k - 1] * wi;
        twIm[k] = twRe[k - 1] * wi + twIm[k - 1] * wr;
      }
      twiddles = length;
    }
    const double* srcRe = bufRe[a];
    const double* srcIm = bufIm[a];
    double* dstRe = bufRe[1 - a];
    double* dstIm = bufIm[1 - a];
    const double scale = inverse ? 1.0 / static_cast<double>(e) : 1.0;
    for (int64_t k = 0; k < length; ++k) {
      double sr = 0, si = 0;
      const int64_t j = k % sub;
      int64_t w = 0;  // (t * k) mod length
      for (int64_t t = 0; t < e; ++t) {
        const int64_t at = p.offset + t * p.stride + j * p.stride * e;
        sr += twRe[w] * srcRe[at] - twIm[w] * srcIm[at];
        si += twRe[w] * srcIm[at] + twIm[w] * srcRe[at];
        w += k;
        if (w >= length) w %= length;
      }
      dstRe[p.offset + k * p.stride] = sr * scale;
      dstIm[p.offset + k * p.stride] = si * scale;
      // A large prime radix makes one combination O(L^2): poll inside it too.
      work += e;
      if (work >= kPollWork) {
        work = 0;
        if (ctx && PollBreak(ctx)) return 1;
      }
    }
    ++p.progress;
    p.offset += p.step;
    if (ctx && PollBreak(ctx)) return 1;
  }
  if (!paired) return 0;
  // Z = X1 + i X2 with X1, X2 Hermitian: split the spectrum of each pair.
  for (int64_t q = 0; q < count; ++q) {
    const int64_t even = q * step, odd = even + firstStep;
    for (int64_t k = 0; k <= n / 2; ++k) {
      const int64_t m = (n - k) % n;
      const double zr = outRe[even + k * stride], zi = outIm[even + k * stride];
      const double yr = outRe[even + m * stride], yi = outIm[even + m * stride];
      // X1[k] = (Z[k] + conj Z[m]) / 2, X2[k] = (Z[k] - conj Z[m]) / 2i.
      const double x1r = (zr + yr) / 2, x1i = (zi - yi) / 2;
      const double x2r = (zi + yi) / 2, x2i = (yr - zr) / 2;
      outRe[even + k * stride] = x1r;
      outIm[even + k * stride] = x1i;
      outRe[odd + k * stride] = x2r;
      outIm[odd + k * stride] = x2i;
      outRe[even + m * stride] = x1r;
      outIm[even + m * stride] = -x1i;
      outRe[odd + m * stride] = x2r;
      outIm[odd + m * stride] = -x2i;
    }
    outIm[even] = 0;
    outIm[odd] = 0;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Natives.

namespace {

struct Shape {
  int ndims = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count() const {
    int64_t c = 1;
    for (int k = 0; k < ndims; ++k) c *= dims[k];
    return c;
  }
  int32_t at(int k) const { return k < ndims ? dims[k] : 1; }
};

void PopValues(EngineContext* ctx, int k) { (void)DropArgsUnderResults(ctx, 0, k); }

// Sets dimension d to length n, adding singleton dimensions below it.
void Resize(Shape* s, int d, int32_t n) {
  while (s->ndims <= d) s->dims[s->ndims++] = 1;
  s->dims[d] = std::max(n, 0);
}

// Copies the source array into the target shape: entries beyond the source
// along any dimension are 0, entries beyond the target are left out. Storage
// runs row by row within each page, the pages by dimension 2 up.
void CopyResized(const Shape& from, const double* re, const double* im, const Shape& to, double* outRe, double* outIm) {
  const int nd = std::max(std::max(from.ndims, to.ndims), 2);
  int order[kMaxDims];
  order[0] = 1;
  order[1] = 0;
  for (int k = 2; k < nd; ++k) order[k] = k;
  int64_t strides[kMaxDims];
  int64_t s = 1;
  for (int k = 0; k < nd; ++k) {
    strides[order[k]] = s;
    s *= from.at(order[k]);
  }
  int32_t sub[kMaxDims] = {};
  const int64_t total = to.count();
  for (int64_t t = 0; t < total; ++t) {
    bool inside = true;
    int64_t at = 0;
    for (int k = 0; k < nd; ++k) {
      if (sub[k] >= from.at(k)) inside = false;
      at += sub[k] * strides[k];
    }
    outRe[t] = inside ? re[at] : 0.0;
    outIm[t] = inside && im ? im[at] : 0.0;
    for (int k = 0; k < nd; ++k) {
      const int d = order[k];
      if (++sub[d] < to.at(d)) break;
      sub[d] = 0;
    }
  }
}

// Transforms the array in `in` along each of the listed dimensions in turn;
// the result ends in `out` (in is destroyed). Pairing of real sequences only
// applies in the first pass.
StatusCode Transform(EngineContext* ctx, const Shape& shape, const int* dims, int ndims, bool real, bool inverse,
                     double* inRe, double* inIm, double* outRe, double* outIm, double* scratch, int64_t cells) {
  double* src[2] = {inRe, inIm};
  double* dst[2] = {outRe, outIm};
  bool first = true;
  for (int k = 0; k < ndims; ++k) {
    int d = dims[k];
    DimensionSplit split{};
    SplitDimensions(shape.ndims, shape.dims, &d, &split);
    if (split.length <= 1) continue;
    const bool pair = first && real && split.inner % 2 == 0;
    const int64_t block = int64_t{split.length} * split.inner;
    for (int64_t o = 0; o < split.outer; ++o) {
      const int result =
          ComputeFft(src[0] + o * block, pair ? nullptr : src[1] + o * block, split.length, split.inner, split.inner, 1,
                     dst[0] + o * block, dst[1] + o * block, inverse, scratch, cells, ctx);
      if (result == 1) return kHalted;
      if (result == 2) return kDataStackFull;
    }
    first = false;
    std::swap(src, dst);
  }
  // The data sits in src after the last swap.
  if (src[0] != outRe) {
    std::copy_n(src[0], shape.count(), outRe);
    std::copy_n(src[1], shape.count(), outIm);
  }
  return kOk;
}

// Pushes the transform of the argument at `position` resized to `shape` over
// the listed dimensions. The argument is read, never changed: the work buffers
// and the kernel's scratch lie in the free space above the result, so a
// failure for room leaves the stack as it was.
StatusCode PushTransform(EngineContext* ctx, int position, const Shape& shape, const int* dims, int ndims,
                         bool inverse) {
  Shape from;
  int64_t count = 0;
  double *re = nullptr, *im = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, position, &from.ndims, from.dims, &count, &re, &im); st != kOk)
    return ReportedStatus(st);
  const int64_t total = shape.count();
  if (total == 0) return PushEmptyMatrix(ctx);
  double *outRe = nullptr, *outIm = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, shape.ndims, shape.dims, &outRe, &outIm); st != kOk) return st;
  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  const int64_t cells = bytes / int64_t{sizeof(Cell)} - 2 * total;
  int longest = 1;
  for (int k = 0; k < shape.ndims; ++k) longest = std::max(longest, shape.dims[k]);
  if (cells < 2 * int64_t{longest} + 4 * MaxLevels(longest)) {
    PopValues(ctx, 1);
    return kDataStackFull;
  }
  double* bufRe = &free->f;
  double* bufIm = bufRe + total;
  (void)GetDoubleArrayArg(ctx, position + 1, &from.ndims, from.dims, &count, &re, &im);
  CopyResized(from, re, im, shape, bufRe, bufIm);
  const StatusCode st =
      Transform(ctx, shape, dims, ndims, im == nullptr, inverse, bufRe, bufIm, outRe, outIm, bufIm + total, cells);
  if (st != kOk) PopValues(ctx, 1);
  return st;
}

}  // namespace

StatusCode FftNative(EngineContext* ctx, int nargin, int, void* selector) {
  const bool inverse = reinterpret_cast<intptr_t>(selector) == 'i';
  const int a0 = nargin - 1;
  Shape shape;
  int64_t count = 0;
  if (StatusCode st = GetDoubleArrayArg(ctx, a0, &shape.ndims, shape.dims, &count, nullptr, nullptr); st != kOk)
    return ReportedStatus(st);
  int d = -1;
  if (nargin == 3) {
    int32_t dim = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &dim); st != kOk) return ReportedStatus(st);
    if (dim - 1 < 0) return kBadDim;
    d = dim - 1;
  } else {
    DimensionSplit split{};
    SplitDimensions(shape.ndims, shape.dims, &d, &split);
  }
  if (nargin >= 2) {
    int ndims = 0;
    int32_t dims[kMaxDims];
    int64_t cells = 0;
    if (StatusCode st = GetArgDims(ctx, nargin - 2, &ndims, dims, &cells); st != kOk) return ReportedStatus(st);
    if (cells > 0) {
      int32_t n = 0;
      if (StatusCode st = GetIntegerScalarArg(ctx, nargin - 2, &n); st != kOk) return ReportedStatus(st);
      Resize(&shape, d, n);
    }
  }
  const int dims[1] = {d};
  if (StatusCode st = PushTransform(ctx, a0, shape, dims, 1, inverse); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode FftMultiNative(EngineContext* ctx, int nargin, int, void* selector) {
  const intptr_t which = reinterpret_cast<intptr_t>(selector);
  const bool two = which == '2' || which == 'I';
  const bool inverse = which == 'i' || which == 'I';
  if (StatusCode st = CheckArgTypes(ctx, nargin, "A[Rr"); st != kOk) return st;
  const int a0 = nargin - 1;
  Shape shape;
  int64_t count = 0;
  if (StatusCode st = GetDoubleArrayArg(ctx, a0, &shape.ndims, shape.dims, &count, nullptr, nullptr); st != kOk)
    return ReportedStatus(st);
  if (nargin == 2) {
    int32_t m = 0, n = 0;
    double* siz = nullptr;
    if (StatusCode st = GetDoubleMatrixArg(ctx, 0, &m, &n, &siz, nullptr); st != kOk) return ReportedStatus(st);
    const int64_t k = int64_t{m} * n;
    for (int64_t i = 0; i < k; ++i)
      if (siz[i] != std::trunc(siz[i])) return kNonIntArg;
    if (k > 16) return kObjTooLarge;
    if (two ? k > 2 : k < shape.ndims) return kBadSize;
    const int64_t given = k == 1 ? 2 : k;
    for (int i = 0; i < given; ++i) {
      const double v = siz[k == 1 ? 0 : i];
      Resize(&shape, i, v > 0 ? static_cast<int32_t>(std::min(v, 2147483647.0)) : 0);
    }
  } else if (nargin == 3) {
    int32_t m = 0, n = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 1, &m); st != kOk) return ReportedStatus(st);
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &n); st != kOk) return ReportedStatus(st);
    Resize(&shape, 0, m);
    Resize(&shape, 1, n);
  }
  int dims[kMaxDims];
  const int ndims = two ? 2 : shape.ndims;
  for (int k = 0; k < ndims; ++k) dims[k] = k;
  if (StatusCode st = PushTransform(ctx, a0, shape, dims, ndims, inverse); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}
