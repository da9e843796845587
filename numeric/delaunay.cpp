// delaunayn, delaunay, voronoin and voronoi: Bowyer-Watson insertion into an
// enclosing super-simplex, worked out in the free space above the stack top,
// and the Voronoi diagram read off the circumcentres of the simplices.
//
// Each native keeps its point matrix untouched until it succeeds: a refusal
// for room, an error or a break drops only what it pushed, so the engine can
// grow the block and rerun the call from the same arguments.
#include <cmath>
#include <cstring>

#include "corelib/corelib.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::PopValues;
using numeric::ReadMatrix;

constexpr double kPi = 3.14159265358979323846;
// Sorts after every angle in [0, 2 pi): marks the vertex at infinity.
constexpr double kInfiniteAngle = 10;

// Doubles FitCircumsphere needs: the equations with their right-hand side, V,
// the singular values and the SVD's work (n doubles and n integers).
int64_t FitScratchDoubles(int n) { return int64_t{n} * (n + 1) * (n + 1) / 2 + n / 2 + int64_t{n} * (n + 2) + 1; }

// The centre (and squared radius) of the sphere through the n + 1 points
// q[0..n] of the row-by-row point matrix p: the minimum-norm least-squares
// solution of the pairwise bisector equations, so flat or repeated vertices
// still get a finite centre.
void FitCircumsphere(const double* p, int n, const int32_t* q, double* centre, double* radius2, double* scratch) {
  const int rows = n * (n + 1) / 2;
  double* a = scratch;
  double* rhs = a + int64_t{rows} * n;
  double* v = rhs + rows;
  double* w = v + int64_t{n} * n;
  double* work = w + n;
  int r = 0;
  for (int i = 0; i < n + 1; ++i)
    for (int j = i + 1; j < n + 1; ++j, ++r) {
      const double* pi = p + int64_t{q[i]} * n;
      const double* pj = p + int64_t{q[j]} * n;
      double s = 0;
      for (int c = 0; c < n; ++c) {
        a[int64_t{r} * n + c] = pi[c] - pj[c];
        s += pi[c] * pi[c] - pj[c] * pj[c];
      }
      rhs[r] = s / 2;
    }
  (void)ComputeRealSvd(a, rows, n, w, v, work);
  // 5000 * 2^-52: singular values below n^2 s0 times this are dropped.
  const double floor = double(n) * n * w[0] * 1.1102230246251565e-12;
  int rank = 0;
  while (rank < n && w[rank] > floor) ++rank;
  for (int c = 0; c < n; ++c) centre[c] = 0;
  for (int j = 0; j < rank; ++j) {
    double t = 0;
    for (int l = 0; l < rows; ++l) t += a[int64_t{l} * n + j] * rhs[l];
    t /= w[j];
    for (int c = 0; c < n; ++c) centre[c] += v[int64_t{c} * n + j] * t;
  }
  if (radius2) {
    const double* p0 = p + int64_t{q[0]} * n;
    double s = 0;
    for (int c = 0; c < n; ++c) s += (centre[c] - p0[c]) * (centre[c] - p0[c]);
    *radius2 = s;
  }
}

bool AllFinite(const Matrix& p) {
  for (int64_t k = 0; k < p.count(); ++k)
    if (!std::isfinite(p.re[k])) return false;
  return true;
}

// Asks the engine for more room than is free before answering 3.
StatusCode NoRoom(EngineContext* ctx, int64_t cells) {
  int64_t bytes = 0;
  (void)GetFreeDataSpace(ctx, &bytes, nullptr);
  (void)GetScratchAtDataEnd(ctx, bytes / int64_t{sizeof(Cell)} + cells + 1, nullptr);
  return kDataStackFull;
}

// The simplex list and the face buffer in the free space above the extended
// point matrix.
struct Work {
  int n = 0;
  int64_t capacity = 0;
  double* fit = nullptr;
  double* spheres = nullptr;  // per simplex: centre (n), squared radius
  int32_t* vertices = nullptr;
  int32_t* faces = nullptr;
  int64_t count = 0;
  double* sphere(int64_t s) const { return spheres + s * (n + 1); }
  int32_t* simplex(int64_t s) const { return vertices + s * (n + 1); }
};

// Inserts point i of the extended matrix e; 3 when the list or buffer is full.
StatusCode InsertPoint(EngineContext* ctx, const double* e, int32_t i, Work* w) {
  const int n = w->n;
  const double* x = e + int64_t{i} * n;
  int64_t faces = 0;
  for (int64_t s = 0; s < w->count; ++s) {
    const double* c = w->sphere(s);
    double d = 0;
    for (int j = 0; j < n; ++j) d += (x[j] - c[j]) * (x[j] - c[j]);
    if (!(d < c[n]) && !std::isnan(d)) continue;
    int32_t* v = w->simplex(s);
    for (int k = 0; k <= n; ++k) {
      int32_t face[kMaxDims];
      int32_t* f = n <= kMaxDims ? face : nullptr;
      // The face buffer's next slot is the scratch for wide simplices.
      if (f == nullptr) {
        if (faces >= w->capacity) return NoRoom(ctx, (16 * int64_t{n} + 12) * w->capacity / 8);
        f = w->faces + faces * n;
      }
      for (int j = 0, t = 0; j <= n; ++j)
        if (j != k) f[t++] = v[j];
      int64_t found = -1;
      for (int64_t g = 0; g < faces && found < 0; ++g)
        if (std::memcmp(w->faces + g * n, f, sizeof(int32_t) * n) == 0) found = g;
      if (found >= 0) {
        std::memmove(w->faces + found * n, w->faces + (found + 1) * n, sizeof(int32_t) * n * (faces - found - 1));
        --faces;
      } else {
        if (faces >= w->capacity) return NoRoom(ctx, (16 * int64_t{n} + 12) * w->capacity / 8);
        if (f != w->faces + faces * n) std::memcpy(w->faces + faces * n, f, sizeof(int32_t) * n);
        ++faces;
      }
    }
    v[0] = -1;
  }
  int64_t kept = 0;
  for (int64_t s = 0; s < w->count; ++s) {
    if (w->simplex(s)[0] < 0) continue;
    if (kept != s) {
      std::memcpy(w->simplex(kept), w->simplex(s), sizeof(int32_t) * (n + 1));
      std::memcpy(w->sphere(kept), w->sphere(s), sizeof(double) * (n + 1));
    }
    ++kept;
  }
  w->count = kept;
  for (int64_t g = 0; g < faces; ++g) {
    if (w->count >= w->capacity) return NoRoom(ctx, (16 * int64_t{n} + 12) * w->capacity / 8);
    int32_t* v = w->simplex(w->count);
    std::memcpy(v, w->faces + g * n, sizeof(int32_t) * n);
    v[n] = i;
    double* c = w->sphere(w->count);
    FitCircumsphere(e, n, v, c, c + n, w->fit);
    ++w->count;
  }
  return kOk;
}

// Triangulates the m x n matrix P on top of the stack. On success P is
// replaced by T (and H under it when outs is 2); on failure P stays alone.
StatusCode Triangulate(EngineContext* ctx, int outs) {
  Matrix p;
  if (ReadMatrix(ctx, 0, &p) != kOk) return kWrongType;
  if (!AllFinite(p)) return kBadArg;
  const int32_t m = p.m, n = p.n;
  if (m == 0 || n == 0) {
    for (int k = 0; k < outs; ++k) {
      if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) {
        PopValues(ctx, k);
        return st;
      }
    }
    return DropArgsUnderResults(ctx, outs, 1);
  }
  uint8_t* hull = nullptr;
  if (outs == 2) {
    const int32_t dims[2] = {m, 1};
    if (StatusCode st = PushLogicalArray(ctx, 2, dims, &hull); st != kOk) return st;
    std::memset(hull, 0, size_t(m));
  }
  const int pushed = outs == 2 ? 2 : 1;
  Matrix e;
  if (StatusCode st = numeric::PushResult(ctx, m + n + 1, n, false, &e); st != kOk) {
    PopValues(ctx, outs == 2 ? 1 : 0);
    return st;
  }
  (void)ReadMatrix(ctx, pushed, &p);
  std::memcpy(e.re, p.re, sizeof(double) * size_t(m) * n);

  // The working storage: the fit's block, then 16n + 12 bytes per simplex.
  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  const int64_t fixed = FitScratchDoubles(n);
  const int64_t perSimplex = 16 * int64_t{n} + 12;
  Work w;
  w.n = n;
  w.capacity = bytes / 8 > fixed ? (bytes - fixed * 8) / perSimplex : 0;
  if (w.capacity < int64_t{m} + n) {
    PopValues(ctx, pushed);
    return NoRoom(ctx, fixed + (int64_t{m} + n) * perSimplex / 8 + 1);
  }
  w.fit = &free->f;
  w.spheres = w.fit + fixed;
  w.vertices = reinterpret_cast<int32_t*>(w.spheres + w.capacity * (n + 1));
  w.faces = w.vertices + w.capacity * (n + 1);

  // The super-simplex: every vertex at t in each coordinate except vertex j,
  // pushed far out along coordinate j.
  for (int j = 0; j < n; ++j) {
    double lo = INFINITY, hi = -INFINITY;
    for (int32_t i = 0; i < m; ++i) {
      lo = std::fmin(lo, p.re[int64_t{i} * n + j]);
      hi = std::fmax(hi, p.re[int64_t{i} * n + j]);
    }
    const double t = lo - 100000 * (hi - lo), u = hi + 3 * (hi - t);
    for (int s = 0; s <= n; ++s) e.re[int64_t{m + s} * n + j] = s == j ? t + n * (u - t) : t;
    w.spheres[j] = (u + t) / 2;
  }
  w.spheres[n] = INFINITY;
  for (int s = 0; s <= n; ++s) w.vertices[s] = m + s;
  w.count = 1;

  for (int32_t i = 0; i < m; ++i) {
    StatusCode st = InsertPoint(ctx, e.re, i, &w);
    if (st == kOk && PollBreak(ctx)) st = kHalted;
    if (st != kOk) {
      PopValues(ctx, pushed);
      return st;
    }
  }

  // Keep the simplices clear of the super-simplex, packed at the front.
  int64_t kept = 0;
  for (int64_t s = 0; s < w.count; ++s) {
    const int32_t* v = w.simplex(s);
    bool outer = false;
    for (int j = 0; j <= n; ++j) outer = outer || v[j] >= m;
    if (outer) {
      for (int j = 0; j <= n && hull; ++j)
        if (v[j] < m) hull[v[j]] = 1;
      continue;
    }
    std::memmove(w.vertices + kept * (n + 1), v, sizeof(int32_t) * (n + 1));
    ++kept;
  }
  // Move the lists to the far end of the free space: T, pushed where the
  // extended matrix was, grows toward them but, at 8 bytes per entry against
  // their 4 and within 16n + 12 bytes a simplex, never reaches an unread one.
  const int64_t entries = kept * (n + 1);
  auto* end = reinterpret_cast<int32_t*>(free + bytes / int64_t{sizeof(Cell)});
  int32_t* lists = end - entries;
  std::memmove(lists, w.vertices, sizeof(int32_t) * entries);
  PopValues(ctx, 1);
  double* t = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, int32_t(kept), n + 1, &t, nullptr); st != kOk) {
    PopValues(ctx, outs == 2 ? 1 : 0);
    return st;
  }
  for (int64_t k = 0; k < entries; ++k) t[k] = lists[k] + 1.0;
  return DropArgsUnderResults(ctx, outs, 1);
}

// Orders a two-dimensional cell by angle around its site, the vertex at
// infinity (entry 1) moved to the first gap of at least pi.
void OrderCell(double* cell, int64_t len, const double* v, double sx, double sy, double* angles) {
  for (int64_t k = 0; k < len; ++k) {
    const int64_t row = int64_t(cell[k]) - 1;
    if (row == 0) {
      angles[k] = kInfiniteAngle;
      continue;
    }
    double a = std::atan2(v[2 * row + 1] - sy, v[2 * row] - sx);
    angles[k] = a < 0 ? a + 2 * kPi : a;
  }
  ShellSortComplex(angles, cell, int(len), 1, false);
  if (len < 2 || angles[len - 1] != kInfiniteAngle) return;
  for (int64_t k = 1; k < len; ++k)
    if (angles[k] - angles[k - 1] >= kPi) {
      std::memmove(cell + k + 1, cell + k, sizeof(double) * (len - 1 - k));
      cell[k] = 1;
      return;
    }
}

// The Voronoi diagram of the m x n matrix P on top of the stack, replaced by
// V (and the list C above it, then V brought back on top) on success.
StatusCode Tessellate(EngineContext* ctx, int outs, bool byAngle) {
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  if (StatusCode st = Triangulate(ctx, 2); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  int pushed = 2;  // H and T above P
  // H as doubles, to be read like the rest; it is dropped at the end.
  bool converted = false;
  if (StatusCode st = ConvertArgsToFloat(ctx, 1, false, &converted); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  Matrix p, t, v, h;
  (void)ReadMatrix(ctx, 2, &p);
  (void)ReadMatrix(ctx, 0, &t);
  const int32_t m = p.m, n = p.n, k = t.m;
  if (m > 0 && t.n != n + 1 && k > 0) {
    PopValues(ctx, pushed);
    return kIncompSize;
  }
  if (StatusCode st = numeric::PushResult(ctx, k + 1, n, false, &v); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  ++pushed;
  const int64_t fixed = FitScratchDoubles(n);
  double* fit = nullptr;
  if (StatusCode st = numeric::Scratch(ctx, fixed + n + 2, &fit); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  (void)ReadMatrix(ctx, 3, &p);
  (void)ReadMatrix(ctx, 1, &t);
  auto* q = reinterpret_cast<int32_t*>(fit + fixed);
  for (int j = 0; j < n; ++j) v.re[j] = INFINITY;
  for (int32_t s = 0; s < k; ++s) {
    for (int j = 0; j <= n; ++j) q[j] = int32_t(t.re[int64_t{s} * (n + 1) + j]) - 1;
    FitCircumsphere(p.re, n, q, v.re + int64_t{s + 1} * n, nullptr, fit);
  }
  if (outs == 1) return DropArgsUnderResults(ctx, 1, 3);

  // Per point: its simplices in increasing order, by counts and prefix sums
  // in scratch at the far end, below which the m rows must fit.
  int32_t* counts = nullptr;
  const int64_t entries = int64_t{k} * (n + 1);
  const int64_t ints = 2 * int64_t{m} + 1 + entries;
  double* scratch = nullptr;
  if (StatusCode st = numeric::Scratch(ctx, ints / 2 + 1, &scratch); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  counts = reinterpret_cast<int32_t*>(scratch);
  int32_t* starts = counts + m;
  int32_t* lists = starts + m + 1;
  std::memset(counts, 0, sizeof(int32_t) * size_t(m));
  for (int64_t e = 0; e < entries; ++e) ++counts[int32_t(t.re[e]) - 1];
  starts[0] = 0;
  for (int32_t i = 0; i < m; ++i) starts[i + 1] = starts[i] + counts[i];
  for (int32_t i = 0; i < m; ++i) counts[i] = 0;
  for (int32_t s = 0; s < k; ++s)
    for (int j = 0; j <= n; ++j) {
      const int32_t i = int32_t(t.re[int64_t{s} * (n + 1) + j]) - 1;
      lists[starts[i] + counts[i]++] = s;
    }
  (void)ReadMatrix(ctx, 2, &h);
  const double* hull = h.re;
  int64_t longest = 0, rowCells = 0;
  for (int32_t i = 0; i < m; ++i) {
    const int64_t len = counts[i] + (hull && hull[i] ? 1 : 0);
    longest = len > longest ? len : longest;
    rowCells += len;
  }
  int64_t bytes = 0;
  (void)GetFreeDataSpace(ctx, &bytes, nullptr);
  const int64_t need = ints / 2 + 1 + rowCells + (byAngle ? longest : 0) + m;
  if (need > bytes / int64_t{sizeof(Cell)}) {
    PopValues(ctx, pushed);
    return NoRoom(ctx, need);
  }
  double* angles = scratch - longest;
  for (int32_t i = 0; i < m; ++i) {
    const bool open = hull && hull[i];
    const int64_t len = counts[i] + (open ? 1 : 0);
    double* row = nullptr;
    StatusCode st = PushDoubleMatrix(ctx, len ? 1 : 0, int32_t(len), &row, nullptr);
    if (st == kOk) {
      ++pushed;
      int64_t at = 0;
      if (open) row[at++] = 1;
      for (int32_t c = 0; c < counts[i]; ++c) row[at++] = lists[starts[i] + c] + 2.0;
      if (byAngle) {
        (void)ReadMatrix(ctx, i + 1, &v);
        (void)ReadMatrix(ctx, i + 4, &p);
        OrderCell(row, len, v.re, p.re[2 * int64_t{i}], p.re[2 * int64_t{i} + 1], angles);
      }
      if (PollBreak(ctx)) st = kHalted;
    }
    if (st != kOk) {
      PopValues(ctx, pushed);
      return st;
    }
  }
  if (StatusCode st = MakeListFromValues(ctx, m, false, nullptr, 0); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  (void)RotateValues(ctx, 2, 1);
  return DropArgsUnderResults(ctx, 2, 3);
}

int Outputs(int nargout) { return nargout >= 2 ? 2 : 1; }

}  // namespace

StatusCode DelaunaynNative(EngineContext* ctx, int, int nargout, void*) { return Triangulate(ctx, Outputs(nargout)); }

StatusCode DelaunayNative(EngineContext* ctx, int, int nargout, void*) {
  if (StatusCode st = JoinCoordinateColumns(ctx, 1, 0); st != kOk) return st;
  const int outs = Outputs(nargout);
  if (StatusCode st = Triangulate(ctx, outs); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, outs, 2);
}

StatusCode VoronoinNative(EngineContext* ctx, int, int nargout, void*) {
  return Tessellate(ctx, Outputs(nargout), false);
}

StatusCode VoronoiNative(EngineContext* ctx, int, int nargout, void*) {
  if (StatusCode st = JoinCoordinateColumns(ctx, 1, 0); st != kOk) return st;
  const int outs = Outputs(nargout);
  if (StatusCode st = Tessellate(ctx, outs, outs == 2); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, outs, 2);
}

// The triangulation for griddatan: T pushed above P, which stays.
StatusCode TriangulateCopy(EngineContext* ctx, int position) {
  if (StatusCode st = DuplicateValues(ctx, position, 1); st != kOk) return st;
  if (StatusCode st = Triangulate(ctx, 1); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  return kOk;
}

StatusCode JoinCoordinateColumns(EngineContext* ctx, int xPos, int yPos) {
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t nx = 0, ny = 0;
  double *x = nullptr, *y = nullptr, *im = nullptr;
  if (GetDoubleArrayArg(ctx, xPos, &ndims, dims, &nx, &x, &im) != kOk) return kWrongType;
  if (GetDoubleArrayArg(ctx, yPos, &ndims, dims, &ny, &y, &im) != kOk) return kWrongType;
  if (nx != ny) return kIncompSize;
  if (nx > INT32_MAX) return kObjTooLarge;
  double* p = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, int32_t(nx), 2, &p, nullptr); st != kOk) return st;
  (void)GetDoubleArrayArg(ctx, xPos + 1, &ndims, dims, &nx, &x, &im);
  (void)GetDoubleArrayArg(ctx, yPos + 1, &ndims, dims, &ny, &y, &im);
  for (int64_t k = 0; k < nx; ++k) {
    p[2 * k] = x[k];
    p[2 * k + 1] = y[k];
  }
  return kOk;
}
