// sort, unique and the set operations built on them. Every ordering runs on
// the Shell-sort kernels over a copy of one column kept in the scratch space
// at the far end of the data stack. NaNs (complex: a NaN in either part) are
// set aside before a kernel runs and come after every number ascending,
// before every number descending, among themselves in input order.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corelib/arrays.h"
#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/indexing.h"
#include "engine/values/valuestack.h"

namespace {

constexpr uint64_t kSignBit = uint64_t{1} << 63;

// Cells a scratch of that many int32 entries takes.
int64_t IntCells(int64_t n) { return (n + 1) / 2; }

int PartBytes(uint32_t cls) { return IsComplexClass(cls) ? ElementBytes(cls) / 2 : ElementBytes(cls); }

uint8_t* Writable(const NumericView& v) { return const_cast<uint8_t*>(v.data); }

bool IsNaNAt(const NumericView& v, int64_t k) {
  if (IsIntegerClass(v.cls)) return false;
  return std::isnan(RealElement(v, k)) || std::isnan(ImagElement(v, k));
}

// Signed keys are offset by 2^63 so that one unsigned comparison orders every
// integer class, uint64 above 2^63 and int64 at both extremes included.
uint64_t IntegerKey(const NumericView& v, int64_t k) {
  const __int128 x = IntegerElement(v, k);
  const bool isUnsigned = (v.cls & 0x80) != 0;
  return isUnsigned ? static_cast<uint64_t>(x) : static_cast<uint64_t>(static_cast<int64_t>(x)) ^ kSignBit;
}

// The angle unique uses to make equal values of one magnitude neighbours;
// adding 0.0 turns -0 into +0, so -1 - 0i and -1 + 0i get the same angle.
double NeutralAngle(double re, double im) { return std::atan2(im + 0.0, re + 0.0); }

struct KeyRecord {
  const void* keys;
  const double* second;  // null, or a tie-breaking key (angles)
};

int CompareUnsignedKeys(int a, int b, void* record) {
  const auto* keys = static_cast<const uint64_t*>(static_cast<KeyRecord*>(record)->keys);
  return keys[a] < keys[b] ? -1 : keys[a] > keys[b] ? 1 : 0;
}

// NaN orders after every number, and equal to another NaN.
int CompareDoubles(double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return std::isnan(x) ? (std::isnan(y) ? 0 : 1) : -1;
  return x < y ? -1 : x > y ? 1 : 0;
}

int CompareDoubleKeys(int a, int b, void* record) {
  const auto* r = static_cast<KeyRecord*>(record);
  const auto* keys = static_cast<const double*>(r->keys);
  const int c = CompareDoubles(keys[a], keys[b]);
  return c != 0 || !r->second ? c : CompareDoubles(r->second[a], r->second[b]);
}

// Scratch cells OrderColumn needs for n elements.
int64_t OrderWorkCells(int64_t n) { return 4 * n + 2; }

// Fills order with the positions (0-based) of a column of n elements at the
// stride in sorted order. byAngle orders complex values of equal magnitude by
// their angle, then by position, so that equal values are neighbours.
void OrderColumn(const NumericView& v, int64_t base, int64_t stride, int n, bool descending, bool byAngle,
                 Cell* work, int32_t* order) {
  int m = 0;
  for (int k = 0; k < n; ++k)
    if (!IsNaNAt(v, base + k * stride)) order[m++] = k;
  for (int k = 0, nan = m; k < n; ++k)
    if (IsNaNAt(v, base + k * stride)) order[nan++] = k;

  if (v.cls == kDouble) {
    // By value, ties by position in both directions.
    auto* value = reinterpret_cast<double*>(work);
    double* position = value + m;
    for (int s = 0; s < m; ++s) {
      value[s] = RealElement(v, base + order[s] * stride);
      position[s] = order[s];
    }
    ShellSortComplex(value, position, m, 1, descending);
    for (int s = 0; s < m; ++s) order[s] = static_cast<int32_t>(position[s]);
  } else if (v.cls == kComplexDouble) {
    auto* key = reinterpret_cast<double*>(work);
    double* re = key + m;
    double* im = re + m;
    auto* position = reinterpret_cast<int32_t*>(im + m);
    for (int s = 0; s < m; ++s) {
      const int64_t at = base + order[s] * stride;
      re[s] = RealElement(v, at);
      im[s] = ImagElement(v, at);
      key[s] = re[s] * re[s] + im[s] * im[s];
      position[s] = order[s];
    }
    // The positions are always the tie key, so the result never depends on
    // whether an index output was asked for.
    ShellSortKeysWithCompanions(key, re, im, position, m, 1, descending);
    if (byAngle) {
      for (int s = 0; s < m;) {
        int e = s + 1;
        while (e < m && key[e] == key[s]) ++e;
        if (e - s > 1) {
          for (int t = s; t < e; ++t) key[t] = NeutralAngle(re[t], im[t]);
          ShellSortKeysWithCompanions(key + s, re + s, im + s, position + s, e - s, 1, false);
        }
        s = e;
      }
    }
    for (int s = 0; s < m; ++s) order[s] = position[s];
  } else {
    auto* positions = reinterpret_cast<int32_t*>(work);
    Cell* keyCells = work + IntCells(m);
    auto* permutation = reinterpret_cast<int32_t*>(keyCells + m);
    double* second = nullptr;
    KeyRecord record{keyCells, nullptr};
    ItemComparison compare = CompareUnsignedKeys;
    std::memcpy(positions, order, sizeof(int32_t) * m);
    if (IsIntegerClass(v.cls)) {
      auto* key = reinterpret_cast<uint64_t*>(keyCells);
      for (int s = 0; s < m; ++s) key[s] = IntegerKey(v, base + positions[s] * stride);
    } else {
      auto* key = reinterpret_cast<double*>(keyCells);
      const bool complex = IsComplexClass(v.cls);
      if (complex && byAngle) second = reinterpret_cast<double*>(keyCells + m + IntCells(m));
      for (int s = 0; s < m; ++s) {
        const int64_t at = base + positions[s] * stride;
        const double re = RealElement(v, at), im = ImagElement(v, at);
        key[s] = complex ? re * re + im * im : re;
        if (second) second[s] = NeutralAngle(re, im);
      }
      record.second = second;
      compare = CompareDoubleKeys;
    }
    ShellSortIndicesByComparison(m, compare, permutation, &record, descending);
    for (int s = 0; s < m; ++s) order[s] = positions[permutation[s]];
  }
  if (descending) std::rotate(order, order + m, order + n);
}

// True when the elements at a and b hold the same value; NaN equals nothing.
bool SameElement(const NumericView& v, int64_t a, int64_t b) {
  if (IsIntegerClass(v.cls)) return IntegerElement(v, a) == IntegerElement(v, b);
  return RealElement(v, a) == RealElement(v, b) && ImagElement(v, a) == ImagElement(v, b);
}

void CopyElementBytes(const uint8_t* from, int64_t fromCount, int64_t i, uint8_t* to, int64_t toCount, int64_t j,
                      int part, bool complex) {
  std::memcpy(to + j * part, from + i * part, part);
  if (complex) std::memcpy(to + (toCount + j) * part, from + (fromCount + i) * part, part);
}

// ---------------------------------------------------------------------------
// Strings: the elements of a list or cell array whose elements are all char
// arrays, read in place.

struct StringRef {
  const uint16_t* text;
  int64_t length;
};

int CompareStrings(int a, int b, void* record) {
  const auto* s = static_cast<const StringRef*>(static_cast<KeyRecord*>(record)->keys);
  const int64_t n = std::min(s[a].length, s[b].length);
  for (int64_t k = 0; k < n; ++k)
    if (s[a].text[k] != s[b].text[k]) return s[a].text[k] < s[b].text[k] ? -1 : 1;
  return s[a].length < s[b].length ? -1 : s[a].length > s[b].length ? 1 : 0;
}

bool SameString(const StringRef& a, const StringRef& b) {
  return a.length == b.length && std::equal(a.text, a.text + a.length, b.text);
}

// The first element of the list or cell array at position and their count;
// 43 when one is not a char array.
[[nodiscard]] StatusCode ReadStringElements(EngineContext* ctx, int position, const CompositeElementHeader** first,
                                            int32_t* count) {
  CompositeElementHeader* e = nullptr;
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (d.kind != kComposite || (d.extra != kList && d.extra != kCellArray)) return kWrongType;
  if (d.extra == kList) {
    if (StatusCode st = GetListArg(ctx, position, count, &e); st != kOk) return ReportedStatus(st);
  } else {
    int nd = 0;
    int32_t dims[kMaxDims];
    int64_t n = 0;
    int32_t fields = 0;
    if (StatusCode st = GetCellArgInfo(ctx, position, &nd, dims, &n, &fields, &e); st != kOk)
      return ReportedStatus(st);
    *count = static_cast<int32_t>(n);
  }
  const CompositeElementHeader* walk = e;
  for (int32_t k = 0; k < *count; ++k, walk = NextElement(walk))
    if (walk->kind != kBoxed || walk->extra != kCharArray) return kWrongTypeInternal;
  *first = e;
  return kOk;
}

void CollectStrings(const CompositeElementHeader* e, int32_t count, StringRef* out) {
  for (int32_t k = 0; k < count; ++k, e = NextElement(e)) {
    const ArrayView a = ReadArray(const_cast<Cell*>(ElementData(e)));
    out[k] = {reinterpret_cast<const uint16_t*>(a.data), a.count};
  }
}

// Moves the exploded values, n on top, so that the chosen ones (original
// indices, 0 the deepest) lie on top in the order given; the others stay
// below them. slot and at are n entries of scratch each.
void BringToTop(EngineContext* ctx, int n, const int32_t* chosen, int k, int32_t* slot, int32_t* at) {
  for (int j = 0; j < n; ++j) slot[j] = at[j] = j;
  for (int c = 0; c < k; ++c) {
    const int32_t item = chosen[c];
    const int32_t from = at[item];
    (void)RotateValues(ctx, n - from, 1);
    for (int t = from + 1; t < n; ++t) {
      slot[t - 1] = slot[t];
      at[slot[t - 1]] = t - 1;
    }
    slot[n - 1] = item;
    at[item] = n - 1;
  }
}

// A 1 x n double row filled by the caller.
[[nodiscard]] StatusCode PushRow(EngineContext* ctx, int64_t n, double** data) {
  return PushDoubleMatrix(ctx, 1, static_cast<int32_t>(n), data, nullptr);
}

// Room for what a composed operation over values of that many cells and
// elements may push and use as scratch, checked before anything moves so that
// a failure for room leaves the stacks as they were.
[[nodiscard]] StatusCode CheckRoomFor(EngineContext* ctx, int64_t cells, int64_t elements, int values) {
  if (ctx->descLength + 3 * (values + 2) >= ctx->descCapacity) return kDescStackFull;
  return GetScratchAtDataEnd(ctx, cells + 16 * elements + 64 * (values + 1), nullptr);
}

int64_t CellsOfTopValues(EngineContext* ctx, int n) {
  int64_t cells = 0;
  for (int p = 0; p < n; ++p) cells += DescriptorAt(ctx, p)->cells;
  return cells;
}

int64_t ElementCount(EngineContext* ctx, int position) {
  NumericView v;
  if (ReadNumeric(ctx, position, &v)) return v.count;
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  if (GetArgDims(ctx, position, &nd, dims, &count) == kOk) return count;
  int32_t n = 0;
  CompositeElementHeader* e = nullptr;
  if (GetListArg(ctx, position, &n, &e) == kOk) return n;
  return 0;
}

// ---------------------------------------------------------------------------
// sort

[[nodiscard]] StatusCode SortStrings(EngineContext* ctx, int nargin, int rest, bool descending, int outputs) {
  if (rest > 1) return kTooManyArgin;
  const int at = nargin - 1;
  const CompositeElementHeader* first = nullptr;
  int32_t n = 0;
  if (StatusCode st = ReadStringElements(ctx, at, &first, &n); st != kOk) return st;
  const int64_t scratch = 2 * int64_t{n} + 3 * IntCells(n) + 4;
  if (StatusCode st = CheckRoomFor(ctx, scratch + n, n, 2); st != kOk) return st;
  if (nargin == 2) PopValue(ctx);
  if (StatusCode st = ExplodeTopList(ctx, &n); st != kOk) return ReportedStatus(st);
  Cell* work = nullptr;
  (void)GetScratchAtDataEnd(ctx, scratch, &work);
  auto* refs = reinterpret_cast<StringRef*>(work);
  auto* permutation = reinterpret_cast<int32_t*>(work + 2 * int64_t{n});
  int32_t* slot = permutation + 2 * IntCells(n);
  int32_t* place = slot + 2 * IntCells(n);
  for (int32_t k = 0; k < n; ++k) {
    NumericView s;
    (void)ReadNumeric(ctx, n - 1 - k, &s);
    refs[k] = {reinterpret_cast<const uint16_t*>(s.data), s.count};
  }
  KeyRecord record{refs, nullptr};
  ShellSortIndicesByComparison(n, CompareStrings, permutation, &record, descending);
  BringToTop(ctx, n, permutation, n, slot, place);
  // The scratch outlives the packing: it lies beyond the room checked above.
  if (StatusCode st = MakeListFromValues(ctx, n, false, nullptr, 0); st != kOk) return st;
  if (outputs < 2) return kOk;
  double* index = nullptr;
  if (StatusCode st = PushRow(ctx, n, &index); st != kOk) return st;
  for (int32_t s = 0; s < n; ++s) index[s] = permutation[s] + 1;
  return RotateValues(ctx, 2, 1);
}

[[nodiscard]] StatusCode SortValues(EngineContext* ctx, int nargin, int nargout) {
  if (nargin > 3) return kTooManyArgin;
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  bool descending = false;
  int rest = nargin;
  if (nargin > 1 && IsCharArg(ctx, 0)) {
    NumericView mode;
    (void)ReadNumeric(ctx, 0, &mode);
    const double letter = mode.count > 0 ? RealElement(mode, 0) : 'a';
    if (letter != 'a' && letter != 'd') return kUnknownOpt;
    descending = letter == 'd';
    rest = nargin - 1;
  } else if (nargin == 3) {
    return kUnknownOpt;
  }
  const int outputs = nargout >= 2 ? 2 : 1;
  const int at = nargin - 1;
  if (IsListOrCellArg(ctx, at)) return SortStrings(ctx, nargin, rest, descending, outputs);

  int dim = -1;
  if (rest == 2) {
    int32_t d = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, nargin - 2, &d); st != kOk) return ReportedStatus(st);
    if (d < 1) return kBadDim;
    dim = d - 1;
  }
  NumericView v;
  if (!ReadNumeric(ctx, at, &v)) return kWrongType;
  int32_t dims[kMaxDims];
  for (int k = 0; k < v.ndims; ++k) dims[k] = static_cast<int32_t>(v.dims[k]);
  DimensionSplit split{};
  SplitDimensions(v.ndims, dims, &dim, &split);
  const int n = split.length;
  const bool plain = v.cls == kDouble && outputs == 1;
  const bool complex = IsComplexClass(v.cls);
  const int part = PartBytes(v.cls);
  // Plain doubles sort a compact copy of their numbers; the rest need the
  // order, the ordering work and a copy of the column to write back from.
  const int64_t copyCells = (int64_t{n} * part * (complex ? 2 : 1) + 7) / 8;
  const int64_t scratch = plain ? n + 1 : IntCells(n) + OrderWorkCells(n) + copyCells + 2;
  const int64_t indexCells = outputs == 2 ? v.count + 16 : 0;
  if (StatusCode st = GetScratchAtDataEnd(ctx, scratch + indexCells + 16, nullptr); st != kOk) return st;

  double* index = nullptr;
  if (outputs == 2)
    if (StatusCode st = PushDoubleArray(ctx, v.ndims, dims, &index, nullptr); st != kOk) return st;
  (void)ReadNumeric(ctx, at + outputs - 1, &v);
  Cell* work = nullptr;
  (void)GetScratchAtDataEnd(ctx, scratch, &work);
  uint8_t* data = Writable(v);
  auto* order = reinterpret_cast<int32_t*>(work);
  Cell* orderWork = work + IntCells(n);
  auto* copy = reinterpret_cast<uint8_t*>(orderWork + OrderWorkCells(n));
  for (int64_t o = 0; o < split.outer; ++o)
    for (int64_t i = 0; i < split.inner; ++i) {
      const int64_t base = o * split.length * split.inner + i;
      const int64_t stride = split.inner;
      if (plain) {
        auto* x = reinterpret_cast<double*>(data);
        auto* numbers = reinterpret_cast<double*>(work);
        int m = 0, nans = 0;
        for (int k = 0; k < n; ++k) {
          const double e = x[base + k * stride];
          if (std::isnan(e))
            ++nans;
          else
            numbers[m++] = e;
        }
        ShellSortDoubles(numbers, m, 1, descending);
        const int lead = descending ? nans : 0;
        for (int k = 0; k < n; ++k) {
          const int s = k - lead;
          x[base + k * stride] = s >= 0 && s < m ? numbers[s] : std::nan("");
        }
        continue;
      }
      OrderColumn(v, base, stride, n, descending, false, orderWork, order);
      for (int k = 0; k < n; ++k) CopyElementBytes(data, v.count, base + k * stride, copy, n, k, part, complex);
      for (int s = 0; s < n; ++s) {
        CopyElementBytes(copy, n, order[s], data, v.count, base + s * stride, part, complex);
        if (index) index[base + s * stride] = order[s] + 1;
      }
    }
  if (outputs == 1) return DropArgsUnderResults(ctx, 0, nargin - 1);
  (void)DropArgsUnderResults(ctx, 1, nargin - 1);
  return RotateValues(ctx, 2, 1);
}

// ---------------------------------------------------------------------------
// unique

[[nodiscard]] StatusCode UniqueStrings(EngineContext* ctx, int outputs) {
  const CompositeElementHeader* first = nullptr;
  int32_t n = 0;
  if (StatusCode st = ReadStringElements(ctx, 0, &first, &n); st != kOk) return st;
  const int64_t scratch = 2 * int64_t{n} + 4 * IntCells(n) + 4;
  if (StatusCode st = CheckRoomFor(ctx, scratch + 2 * int64_t{n}, n, 3); st != kOk) return st;
  if (StatusCode st = ExplodeTopList(ctx, &n); st != kOk) return ReportedStatus(st);
  Cell* work = nullptr;
  (void)GetScratchAtDataEnd(ctx, scratch, &work);
  auto* refs = reinterpret_cast<StringRef*>(work);
  auto* permutation = reinterpret_cast<int32_t*>(work + 2 * int64_t{n});
  int32_t* kept = permutation + 2 * IntCells(n);
  int32_t* slot = kept + 2 * IntCells(n);
  int32_t* place = slot + 2 * IntCells(n);
  for (int32_t k = 0; k < n; ++k) {
    NumericView s;
    (void)ReadNumeric(ctx, n - 1 - k, &s);
    refs[k] = {reinterpret_cast<const uint16_t*>(s.data), s.count};
  }
  KeyRecord record{refs, nullptr};
  ShellSortIndicesByComparison(n, CompareStrings, permutation, &record, false);
  int32_t results = 0;
  for (int32_t s = 0; s < n; ++s)
    if (s == 0 || !SameString(refs[permutation[s]], refs[kept[results - 1]])) kept[results++] = permutation[s];
  // The positions outputs first (j deepest), then the values on top.
  double* j = nullptr;
  double* i = nullptr;
  if (outputs >= 3) {
    (void)PushRow(ctx, n, &j);
    for (int32_t s = 0, r = -1; s < n; ++s) {
      if (s == 0 || !SameString(refs[permutation[s]], refs[permutation[s - 1]])) ++r;
      j[permutation[s]] = r + 1;
    }
  }
  if (outputs >= 2) {
    (void)PushRow(ctx, results, &i);
    for (int32_t r = 0; r < results; ++r) i[r] = kept[r] + 1;
  }
  const int rows = outputs - 1;
  // The strings lie under the position rows: bring them up, keep one of each.
  (void)RotateValues(ctx, n + rows, n);
  BringToTop(ctx, n, kept, results, slot, place);
  (void)DropArgsUnderResults(ctx, results, n - results);
  return MakeListFromValues(ctx, results, false, nullptr, 0);
}

// The unique values of the array on top in the order of OrderColumn with
// byAngle, replacing it, with the rows i and j under them as asked.
[[nodiscard]] StatusCode UniqueValues(EngineContext* ctx, int outputs) {
  NumericView v;
  ArrayKind kind{};
  if (!ReadArrayKind(ctx, 0, &kind, &v)) return kWrongType;
  const int64_t n = v.count;
  if (n > INT32_MAX) return kOutOfRangeArg;
  const int64_t scratch = IntCells(n) + OrderWorkCells(n) + 2;
  if (StatusCode st = CheckRoomFor(ctx, scratch + 4 * n, n, 3); st != kOk) return st;
  if (n == 0) {
    for (int k = 1; k < outputs; ++k) (void)PushRow(ctx, 0, nullptr);
    return RotateValues(ctx, outputs, 1);
  }
  Cell* work = nullptr;
  (void)GetScratchAtDataEnd(ctx, scratch, &work);
  auto* order = reinterpret_cast<int32_t*>(work);
  OrderColumn(v, 0, 1, static_cast<int>(n), false, true, work + IntCells(n), order);
  int64_t results = 0;
  for (int64_t s = 0; s < n; ++s) results += s == 0 || !SameElement(v, order[s], order[s - 1]) ? 1 : 0;

  double* j = nullptr;
  double* i = nullptr;
  if (outputs >= 3) (void)PushRow(ctx, n, &j);
  if (outputs >= 2) (void)PushRow(ctx, results, &i);
  const bool row = v.cls == kDouble || v.cls == kComplexDouble ? v.ndims == 2 && v.dims[0] == 1 : v.dims[0] == 1;
  const int32_t shape[2] = {row ? 1 : static_cast<int32_t>(results), row ? static_cast<int32_t>(results) : 1};
  uint8_t* re = nullptr;
  uint8_t* im = nullptr;
  (void)PushArrayOfKind(ctx, kind, 2, shape, &re, &im);
  (void)ReadNumeric(ctx, outputs, &v);
  const int part = PartBytes(v.cls);
  for (int64_t s = 0, r = -1; s < n; ++s) {
    if (s == 0 || !SameElement(v, order[s], order[s - 1])) {
      ++r;
      CopyElementBytes(v.data, v.count, order[s], re, results, r, part, kind.complex);
      if (i) i[r] = order[s] + 1;
    }
    if (j) j[order[s]] = static_cast<double>(r + 1);
  }
  return DropArgsUnderResults(ctx, outputs, 1);
}

[[nodiscard]] StatusCode UniqueTop(EngineContext* ctx, int outputs) {
  if (IsListOrCellArg(ctx, 0)) return UniqueStrings(ctx, outputs);
  return UniqueValues(ctx, outputs);
}

// ---------------------------------------------------------------------------
// Set operations

// Cells MarkCommon needs for a joined value of n elements.
int64_t MarkWorkCells(int64_t n) { return IntCells(n) + OrderWorkCells(n) + 2; }

// The value on top joins a's unique values (the first shared elements) with
// b. Marks each of a's values that occurs in b and notes its first position
// in b (0-based). a's values are distinct and come first, so the run of a
// common value starts with it and goes on with its occurrences in b in their
// order; NaN equals nothing, so it is never common.
[[nodiscard]] StatusCode MarkCommon(EngineContext* ctx, int64_t shared, Cell* work, uint8_t* common, int32_t* inB) {
  std::fill(common, common + shared, uint8_t{0});
  if (IsListOrCellArg(ctx, 0)) {
    const CompositeElementHeader* first = nullptr;
    int32_t n = 0;
    if (StatusCode st = ReadStringElements(ctx, 0, &first, &n); st != kOk) return st;
    auto* refs = reinterpret_cast<StringRef*>(work);
    auto* order = reinterpret_cast<int32_t*>(work + 2 * int64_t{n});
    CollectStrings(first, n, refs);
    KeyRecord record{refs, nullptr};
    ShellSortIndicesByComparison(n, CompareStrings, order, &record, false);
    for (int32_t s = 0; s + 1 < n; ++s)
      if (order[s] < shared && order[s + 1] >= shared && SameString(refs[order[s]], refs[order[s + 1]])) {
        common[order[s]] = 1;
        inB[order[s]] = static_cast<int32_t>(order[s + 1] - shared);
      }
    return kOk;
  }
  NumericView v;
  if (!ReadNumeric(ctx, 0, &v)) return kWrongType;
  const int64_t n = v.count;
  auto* order = reinterpret_cast<int32_t*>(work);
  OrderColumn(v, 0, 1, static_cast<int>(n), false, true, work + IntCells(n), order);
  for (int64_t s = 0; s + 1 < n; ++s)
    if (order[s] < shared && order[s + 1] >= shared && SameElement(v, order[s], order[s + 1])) {
      common[order[s]] = 1;
      inB[order[s]] = static_cast<int32_t>(order[s + 1] - shared);
    }
  return kOk;
}

// The two top values joined: two lists or cell arrays through join, else both
// as columns in storage order stacked vertically, the deeper one first.
[[nodiscard]] StatusCode ConcatForSetOperation(EngineContext* ctx) {
  if (IsListOrCellArg(ctx, 0) && IsListOrCellArg(ctx, 1)) return join(ctx, 2);
  if (StatusCode st = ReshapeValue(ctx, 1); st != kOk) return st;
  (void)RotateValues(ctx, 2, 1);
  if (StatusCode st = ReshapeValue(ctx, 1); st != kOk) return st;
  (void)RotateValues(ctx, 2, 1);
  return ConcatenateValues(ctx, 2, 1);
}

// Pushes the elements of the value at position whose mask entry is set: a
// list from a list or cell array; else an array of its class, a row when the
// value is a row and asRow allows it, a column otherwise.
[[nodiscard]] StatusCode PushMaskedElements(EngineContext* ctx, int position, const uint8_t* mask, int64_t n,
                                            bool asRow) {
  int64_t k = 0;
  for (int64_t s = 0; s < n; ++s) k += mask[s];
  if (IsListOrCellArg(ctx, position)) {
    int pushed = 0;
    for (int64_t s = 0; s < n; ++s)
      if (mask[s]) {
        if (StatusCode st = PushListElement(ctx, position + pushed, static_cast<int32_t>(s + 1)); st != kOk)
          return st;
        ++pushed;
      }
    return MakeListFromValues(ctx, pushed, false, nullptr, 0);
  }
  NumericView v;
  ArrayKind kind{};
  if (!ReadArrayKind(ctx, position, &kind, &v)) return kWrongType;
  const bool row = asRow && v.ndims == 2 && v.dims[0] == 1;
  const int32_t shape[2] = {row ? 1 : static_cast<int32_t>(k), row ? static_cast<int32_t>(k) : 1};
  kind.complex = IsComplexClass(v.cls) && k > 0;
  uint8_t* re = nullptr;
  uint8_t* im = nullptr;
  if (StatusCode st = PushArrayOfKind(ctx, kind, 2, shape, &re, &im); st != kOk) return st;
  (void)ReadNumeric(ctx, position + 1, &v);
  const int part = PartBytes(v.cls);
  for (int64_t s = 0, r = 0; s < n; ++s)
    if (mask[s]) CopyElementBytes(v.data, v.count, s, re, k, r++, part, kind.complex);
  return kOk;
}

struct Marks {
  int64_t shared;  // a's unique values
  uint8_t* common;
  int32_t* inB;
};

// [a, b] -> [j?, i, ua, c] (j with three unique outputs), c joining ua and b,
// with the marks over ua. The marks lie at the far end of the data space;
// whatever is pushed afterwards stays within the room checked here.
[[nodiscard]] StatusCode MarkSharedValues(EngineContext* ctx, int uniqueOutputs, Marks* marks) {
  const int64_t elements = ElementCount(ctx, 0) + ElementCount(ctx, 1);
  const int64_t scratch = MarkWorkCells(elements) + 2 * IntCells(elements) + 2;
  if (StatusCode st = CheckRoomFor(ctx, scratch + 6 * CellsOfTopValues(ctx, 2), elements, 8); st != kOk) return st;
  (void)RotateValues(ctx, 2, 1);
  if (StatusCode st = UniqueTop(ctx, uniqueOutputs); st != kOk) return st;
  marks->shared = ElementCount(ctx, 0);
  (void)DuplicateValues(ctx, 0, 1);
  (void)RotateValues(ctx, uniqueOutputs + 2, 1);
  if (StatusCode st = ConcatForSetOperation(ctx); st != kOk) return st;
  Cell* end = nullptr;
  (void)GetScratchAtDataEnd(ctx, scratch, &end);
  marks->inB = reinterpret_cast<int32_t*>(end);
  marks->common = reinterpret_cast<uint8_t*>(end + IntCells(elements));
  return MarkCommon(ctx, marks->shared, end + 2 * IntCells(elements) + 2, marks->common, marks->inB);
}

[[nodiscard]] StatusCode Union(EngineContext* ctx, int outputs) {
  const int64_t na = ElementCount(ctx, 1);
  const int64_t elements = na + ElementCount(ctx, 0);
  if (StatusCode st = CheckRoomFor(ctx, 4 * CellsOfTopValues(ctx, 2), elements, 6); st != kOk) return st;
  if (StatusCode st = ConcatForSetOperation(ctx); st != kOk) return st;
  if (StatusCode st = UniqueTop(ctx, outputs >= 2 ? 2 : 1); st != kOk) return st;
  if (outputs < 2) return kOk;
  // [i, u]: the positions from a go to ia, those from b (less a's count) to
  // ib; ib is pushed first so that the pushes end in output order.
  for (int which = outputs >= 3 ? 1 : 0; which >= 0; --which) {
    NumericView i;
    (void)ReadNumeric(ctx, 1 + (outputs >= 3 && which == 0 ? 1 : 0), &i);
    const auto inA = [na](double p) { return p <= static_cast<double>(na); };
    int64_t k = 0;
    for (int64_t r = 0; r < i.count; ++r) k += inA(RealElement(i, r)) == (which == 0) ? 1 : 0;
    double* out = nullptr;
    (void)PushRow(ctx, k, &out);
    (void)ReadNumeric(ctx, 2 + (outputs >= 3 && which == 0 ? 1 : 0), &i);
    for (int64_t r = 0, w = 0; r < i.count; ++r) {
      const double p = RealElement(i, r);
      if (inA(p) == (which == 0)) out[w++] = which == 0 ? p : p - static_cast<double>(na);
    }
  }
  (void)RotateValues(ctx, outputs, 1);
  return DropArgsUnderResults(ctx, outputs, 1);
}

[[nodiscard]] StatusCode Intersect(EngineContext* ctx, int outputs) {
  Marks marks{};
  if (StatusCode st = MarkSharedValues(ctx, 2, &marks); st != kOk) return st;
  const int64_t n = marks.shared;
  int64_t k = 0;
  for (int64_t s = 0; s < n; ++s) k += marks.common[s];
  // [ia, ua, c]: ib, then the places in a, then the values.
  double* out = nullptr;
  if (outputs >= 3) {
    (void)PushRow(ctx, k, &out);
    for (int64_t s = 0, w = 0; s < n; ++s)
      if (marks.common[s]) out[w++] = marks.inB[s] + 1;
  }
  if (outputs >= 2) {
    (void)PushRow(ctx, k, &out);
    NumericView ia;
    (void)ReadNumeric(ctx, outputs + 1, &ia);
    for (int64_t s = 0, w = 0; s < n; ++s)
      if (marks.common[s]) out[w++] = RealElement(ia, s);
  }
  if (StatusCode st = PushMaskedElements(ctx, outputs, marks.common, n, false); st != kOk) return st;
  return DropArgsUnderResults(ctx, outputs, 3);
}

[[nodiscard]] StatusCode Setdiff(EngineContext* ctx, int outputs) {
  Marks marks{};
  if (StatusCode st = MarkSharedValues(ctx, 2, &marks); st != kOk) return st;
  const int64_t n = marks.shared;
  for (int64_t s = 0; s < n; ++s) marks.common[s] = !marks.common[s];
  if (outputs >= 2) {
    int64_t k = 0;
    for (int64_t s = 0; s < n; ++s) k += marks.common[s];
    double* out = nullptr;
    (void)PushRow(ctx, k, &out);
    NumericView ia;
    (void)ReadNumeric(ctx, 3, &ia);
    for (int64_t s = 0, w = 0; s < n; ++s)
      if (marks.common[s]) out[w++] = RealElement(ia, s);
  }
  if (StatusCode st = PushMaskedElements(ctx, outputs, marks.common, n, true); st != kOk) return st;
  return DropArgsUnderResults(ctx, outputs, 3);
}

[[nodiscard]] StatusCode Setxor(EngineContext* ctx, int outputs) {
  const int64_t elements = ElementCount(ctx, 0) + ElementCount(ctx, 1);
  if (StatusCode st = CheckRoomFor(ctx, 24 * CellsOfTopValues(ctx, 2), 4 * elements, 24); st != kOk) return st;
  (void)DuplicateValues(ctx, 0, 2);
  if (StatusCode st = Setdiff(ctx, 2); st != kOk) return st;  // [a, b, ia, da]
  (void)RotateValues(ctx, 4, 2);
  (void)RotateValues(ctx, 2, 1);
  if (StatusCode st = Setdiff(ctx, 2); st != kOk) return st;  // [ia, da, ib, db]
  (void)RotateValues(ctx, 3, 1);
  (void)RotateValues(ctx, 2, 1);
  if (StatusCode st = Union(ctx, 1); st != kOk) return st;  // [ia, ib, values]
  (void)RotateValues(ctx, 3, 1);
  (void)RotateValues(ctx, 2, 1);  // [ib, ia, values]
  return DropArgsUnderResults(ctx, outputs, 3 - outputs);
}

[[nodiscard]] StatusCode Ismember(EngineContext* ctx) {
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  int32_t fields = 0;
  CompositeElementHeader* first = nullptr;
  const ValueDescriptor& d = *DescriptorAt(ctx, 1);
  const bool list = d.kind == kComposite && d.extra == kList;
  if (list || (IsListOrCellArg(ctx, 1) ? GetCellArgInfo(ctx, 1, &nd, dims, &count, &fields, &first)
                                       : GetArgDims(ctx, 1, &nd, dims, &count)) != kOk) {
    nd = 2;
    dims[0] = 1;
    dims[1] = static_cast<int32_t>(ElementCount(ctx, 1));
  }
  Marks marks{};
  if (StatusCode st = MarkSharedValues(ctx, 3, &marks); st != kOk) return st;
  // [j, i, ua, c]
  uint8_t* out = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, nd, dims, &out); st != kOk) return st;
  NumericView j;
  (void)ReadNumeric(ctx, 4, &j);
  for (int64_t k = 0; k < j.count; ++k) out[k] = marks.common[static_cast<int64_t>(RealElement(j, k)) - 1];
  return DropArgsUnderResults(ctx, 1, 4);
}

}  // namespace

StatusCode sort(EngineContext* ctx, int nargin, int nargout) { return SortValues(ctx, nargin, nargout); }

StatusCode unique(EngineContext* ctx, int nargout) {
  if (nargout > 3) return kTooManyArgout;
  return UniqueTop(ctx, nargout < 1 ? 1 : nargout);
}

StatusCode CombineSets(EngineContext* ctx, char selector, int nargout) {
  const int outputs = nargout < 1 ? 1 : nargout;
  switch (selector) {
    case 'u':
      return outputs > 3 ? kTooManyArgout : Union(ctx, outputs);
    case 'i':
      return outputs > 3 ? kTooManyArgout : Intersect(ctx, outputs);
    case 'd':
      return outputs > 2 ? kTooManyArgout : Setdiff(ctx, outputs);
    case 'x':
      return outputs > 3 ? kTooManyArgout : Setxor(ctx, outputs);
    case 'm':
      return outputs > 1 ? kTooManyArgout : Ismember(ctx);
    default:
      return kNotSupported;
  }
}

// sort carries its input and output counts; unique and the set operations
// their output count; ismember none.
StatusCode SortingOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Sort:
      return sort(ctx, ins[1], ins[2]);
    case Op::Unique:
      return unique(ctx, ins[1]);
    case Op::Union:
      return CombineSets(ctx, 'u', ins[1]);
    case Op::Intersect:
      return CombineSets(ctx, 'i', ins[1]);
    case Op::Setdiff:
      return CombineSets(ctx, 'd', ins[1]);
    case Op::Setxor:
      return CombineSets(ctx, 'x', ins[1]);
    case Op::Ismember:
      return CombineSets(ctx, 'm', 1);
    default:
      return kNotSupported;
  }
}
