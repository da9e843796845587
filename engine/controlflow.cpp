// Control flow over values: switch case tests, the for-loop steps over the
// columns or elements of a value, and loop ranges (built from a range's
// bounds, stepped in place, and read for their last value).
#include <cstring>

#include "engine/bytecode.h"
#include "engine/indexing.h"
#include "engine/instructions.h"
#include "engine/values/doublemath.h"
#include "engine/vm.h"

namespace {

// ---------------------------------------------------------------------------
// Switch cases. Equality is that of eq: a NaN on either side matches nothing.

bool IsListLike(const ValueDescriptor& d) {
  return d.kind == kComposite && (d.extra == kList || d.extra == kCellArray);
}

bool IsCharElement(const CompositeElementHeader* e) { return e->kind == kBoxed && e->extra == kCharArray; }

bool SameChars(const ArrayView& a, const ArrayView& b) {
  return a.count == b.count && std::memcmp(a.data, b.data, a.count * sizeof(uint16_t)) == 0;
}

bool AnyEqual(const NumericView& v, double x, double xi) {
  for (int64_t k = 0; k < v.count; ++k)
    if (RealElement(v, k) == x && ImagElement(v, k) == xi) return true;
  return false;
}

// The case value on top against the switch value below it; the case value is
// popped when the comparison succeeds.
[[nodiscard]] StatusCode MatchSwitchCase(EngineContext* ctx, bool* match) {
  *match = false;
  const ValueDescriptor s = *DescriptorAt(ctx, 1);
  const ValueDescriptor c = *DescriptorAt(ctx, 0);
  bool empty = false, isChar = false;
  ArrayView chars{};
  double x = 0, xi = 0;
  if (IsPlainMatrix(s)) {
    if (s.cells == 0)
      empty = true;
    else if (s.cells > 1)
      return kWrongTypeInternal;
    else
      x = DataAt(ctx, 1)->f;
  } else if (s.kind == kBoxed && s.extra == kCharArray) {
    isChar = true;
    chars = ReadArray(DataAt(ctx, 1));
  } else if (s.kind == kBoxed && (s.extra == kNumericArray || s.extra == kLogicalArray)) {
    NumericView v;
    ReadNumeric(ctx, 1, &v);
    if (v.count != 1) return kBadSize;
    x = RealElement(v, 0);
    xi = ImagElement(v, 0);
  } else {
    return kWrongTypeInternal;
  }

  if (IsListLike(c)) {
    int64_t count = 0;
    CompositeElementHeader* first = nullptr;
    (void)GetCompositeArgInfo(ctx, 0, 'c', nullptr, nullptr, &count, nullptr, &first);  // a list or cell array
    CompositeElementHeader* e = first;
    for (int64_t k = 0; k < count; ++k, e = NextElement(e)) {
      if (isChar) {
        if (!IsCharElement(e)) return kWrongTypeInternal;
        if (!empty && SameChars(chars, ReadArray(ElementData(e)))) *match = true;
        continue;
      }
      const ValueDescriptor d{e->kind, e->cells, e->extra};
      if (IsPlainMatrix(d)) {
        if (d.kind != 0 || d.cells != 1) return kBadSize;
        if (!empty && ElementData(e)->f == x && xi == 0) *match = true;
      } else if (d.kind == kBoxed && (d.extra == kNumericArray || d.extra == kLogicalArray)) {
        return kNotSupported;
      } else {
        return kWrongTypeInternal;
      }
    }
  } else if (isChar) {
    if (c.kind == kBoxed && c.extra == kCharArray) {
      *match = !empty && SameChars(chars, ReadArray(DataAt(ctx, 0)));
    } else if (!IsPlainMatrix(c) && !(c.kind == kBoxed && (c.extra == kNumericArray || c.extra == kLogicalArray))) {
      return kWrongTypeInternal;
    }
  } else {
    NumericView v;
    if (c.kind == kBoxed && c.extra == kCharArray) return kWrongTypeInternal;
    if (!IsPlainMatrix(c) && !(c.kind == kBoxed && (c.extra == kNumericArray || c.extra == kLogicalArray)))
      return kWrongTypeInternal;
    ReadNumeric(ctx, 0, &v);
    *match = !empty && AnyEqual(v, x, xi);
  }
  PopValue(ctx);
  return kOk;
}

// ---------------------------------------------------------------------------
// Loops over values. The iteration count lives in the iterated value's first
// descriptor word, 64 per step above the kind flags.

constexpr uint32_t kKindBits = 63;
constexpr uint32_t kMaxColumnSteps = 0xFFFFFFFFu >> 6;

// The number of steps a value gives, or -1 for a value no loop walks.
int64_t StepsOf(EngineContext* ctx, const ValueDescriptor& d) {
  if (IsPlainMatrix(d)) return d.extra;
  if (IsBoxedArray(d) || (d.kind == kComposite && d.extra >= kList && d.extra <= kStructArray)) {
    int ndims = 0;
    int32_t dims[kMaxDims] = {1, 1};
    if (GetArgDims(ctx, 0, &ndims, dims, nullptr) != kOk) return -1;
    return dims[1];
  }
  return -1;
}

// Column n (from 1) of the plain matrix on top, as a column vector.
[[nodiscard]] StatusCode PushPlainColumn(EngineContext* ctx, int32_t n) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  const int32_t rows = PlainRows(d), cols = d.extra;
  const bool complex = (d.kind & kComplex) != 0;
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, rows, 1, &re, complex ? &im : nullptr); st != kOk) return st;
  const double* from = &DataAt(ctx, 1)->f;
  const int64_t count = int64_t{rows} * cols;
  for (int32_t r = 0; r < rows; ++r) {
    re[r] = from[int64_t{r} * cols + n - 1];
    if (complex) im[r] = from[count + int64_t{r} * cols + n - 1];
  }
  return kOk;
}

// Column n of any other array or composite: a copy indexed as
// value(:, n, :, ..., :) with sixteen indices, walking dimension 2.
[[nodiscard]] StatusCode PushIndexedColumn(EngineContext* ctx, int32_t n) {
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  DescriptorAt(ctx, 0)->kind &= kKindBits;
  if (StatusCode st = PushRealScalar(ctx, n); st != kOk) {
    PopValue(ctx);
    return st;
  }
  const int16_t index[] = {static_cast<int16_t>(Op::IndexValue), kMaxIndexDims, static_cast<int16_t>(0xFFFD), 1};
  return OpIndexValue(ctx, index);
}

[[nodiscard]] StatusCode NextColumnOrElement(EngineContext* ctx) {
  // The value is found again by its descriptor's place: a failed step may
  // leave other values above it.
  const int32_t at = ctx->descLength - 3;
  ValueDescriptor* d = DescriptorAt(ctx, 0);
  const uint32_t word = d->kind;
  const uint32_t kind = word & kKindBits;
  const auto n = static_cast<int32_t>((word >> 6) + 1);
  // The kind flags alone while the value is read; the count is put back after.
  d->kind = kind;
  const int64_t steps = StepsOf(ctx, *d);
  StatusCode st = kOk;
  if (steps < 0) {
    st = kWrongType;
  } else if (n == 1 && steps > kMaxColumnSteps) {
    st = kObjTooLarge;
  } else if (n > steps) {
    st = kIndexOutOfRange;
  } else if (IsPlainMatrix(*d)) {
    st = PushPlainColumn(ctx, n);
  } else if (d->kind == kComposite && d->extra == kList) {
    st = PushListElement(ctx, 0, n);
  } else {
    st = PushIndexedColumn(ctx, n);
  }
  // An index past the end ends the loop: the copy and its index go.
  if (st == kIndexOutOfRange)
    while (ctx->descLength > at + 3) PopValue(ctx);
  reinterpret_cast<ValueDescriptor*>(ctx->descBase + at)->kind =
      st == kOk ? kind | (static_cast<uint32_t>(n) << 6) : word;
  return st;
}

// ---------------------------------------------------------------------------
// Loop ranges. Integer ranges are 1 x 2 {start end}, 1 x 3 {start step end}
// or, for an unsigned class counting down, 1 x 4 {start step end x} boxed
// rows of their class; the start advances in place with wrap-around.

struct IntegerRange {
  NumericView v;
  Cell* data;  // the elements, writable
  __int128 start, step, end;
  bool down;  // ends when start falls below end
};

bool ReadIntegerRange(EngineContext* ctx, IntegerRange* r) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsBoxedArray(d) || !ReadNumeric(ctx, 0, &r->v) || !IsIntegerClass(r->v.cls)) return false;
  if (r->v.count < 2 || r->v.count > 4) return false;
  r->data = ReadArray(TopData(ctx)).data;
  const int64_t n = r->v.count;
  r->start = IntegerElement(r->v, 0);
  r->step = n >= 3 ? IntegerElement(r->v, 1) : 1;
  r->end = IntegerElement(r->v, n >= 3 ? 2 : 1);
  r->down = n == 4 || ((r->v.cls & 0x80) == 0 && r->step < 0);
  return true;
}

void WriteIntegerElement(const IntegerRange& r, int k, __int128 value) {
  const int bytes = static_cast<int>(r.v.cls & 0x7F);
  const auto low = static_cast<uint64_t>(value);
  std::memcpy(reinterpret_cast<uint8_t*>(r.data) + int64_t{k} * bytes, &low, bytes);
}

bool IntegerRangeDone(const IntegerRange& r) { return r.down ? r.start < r.end : r.start > r.end; }

// Makes the range one that the next step ends.
void EmptyIntegerRange(const IntegerRange& r) {
  const int endAt = r.v.count >= 3 ? 2 : 1;
  if (r.v.count == 4) {
    WriteIntegerElement(r, 0, 1);
    WriteIntegerElement(r, endAt, 2);
    return;
  }
  WriteIntegerElement(r, 0, 2);
  if (r.v.count == 3) WriteIntegerElement(r, 1, 1);
  WriteIntegerElement(r, endAt, 1);
}

[[nodiscard]] StatusCode NextIntegerRangeValue(EngineContext* ctx, IntegerRange& r) {
  if (IntegerRangeDone(r)) return kIndexOutOfRange;
  if (StatusCode st = PushIntegerScalar(ctx, r.v.cls, r.start); st != kOk) return st;
  WriteIntegerElement(r, 0, r.start + r.step);
  // Read back in the class's own width and signedness.
  const __int128 next = IntegerElement(r.v, 0);
  // A wrap past the class's end lands on the wrong side of the old start.
  if (r.down ? next > r.start : next < r.start) EmptyIntegerRange(r);
  return kOk;
}

[[nodiscard]] StatusCode NextRangeValue(EngineContext* ctx) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (IsDoubleLoopRange(d)) return StepDoubleLoopRange(ctx);
  if (d.kind == 0 && d.cells == kSingleLoopRangeCells && d.extra == d.cells) {
    Cell* r = TopData(ctx);
    if (!(r[2].f >= 1)) return kIndexOutOfRange;
    if (StatusCode st = PushSingleScalar(ctx, r[0].f, 0, false); st != kOk) return st;
    r[0].f += r[1].f;
    r[2].f -= 1;
    return kOk;
  }
  IntegerRange r;
  if (!ReadIntegerRange(ctx, &r)) return kWrongType;
  return NextIntegerRangeValue(ctx, r);
}

// Replaces the top n values, all double, by a double loop range: real parts
// only (a complex bound's imaginary part is never walked).
[[nodiscard]] StatusCode PackDoubleRange(EngineContext* ctx, int n, bool single) {
  double b[3] = {0, 1, 0};
  for (int k = 0; k < n; ++k) {
    NumericView v;
    ReadNumeric(ctx, n - 1 - k, &v);
    if (v.count != 1) return kNonScalarArg;
    b[n == 2 && k == 1 ? 2 : k] = RealElement(v, 0);
  }
  const double count = LoopElementCount(b[0], b[1], b[2]);
  const int cells = single ? kSingleLoopRangeCells : n;
  (void)DropArgsUnderResults(ctx, 0, n);
  double* re = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, cells, &re, nullptr); st != kOk) return st;
  re[0] = b[0];
  re[cells - 1] = single ? 1.0 : count;
  if (cells >= 3) re[1] = b[1];
  if (single) re[2] = count;
  return kOk;
}

[[nodiscard]] StatusCode PackIntegerRange(EngineContext* ctx, int n, bool stepSigned) {
  NumericView v[3];
  for (int k = 0; k < n; ++k) {
    ReadNumeric(ctx, n - 1 - k, &v[k]);
    if (v[k].count != 1) return kNonScalarArg;
  }
  const uint32_t cls = v[0].cls;
  const bool isUnsigned = (cls & 0x80) != 0;
  const int bytes = static_cast<int>(cls & 0x7F);
  const __int128 start = IntegerElement(v[0], 0), stop = IntegerElement(v[n - 1], 0);
  __int128 row[4] = {start, stop, 0, 0};
  int length = n;
  if (n == 3) {
    const __int128 step = IntegerElement(v[1], 0);
    // A zero step never reaches a larger end (colon's count is infinite
    // then) and runs nothing otherwise.
    if (step == 0 && stop > start) return kObjTooLarge;
    row[0] = step == 0 ? 2 : start;
    row[1] = step == 0 ? 1 : step;
    row[2] = step == 0 ? 1 : stop;
    // A negative step converted to an unsigned class counts down.
    if (isUnsigned && stepSigned && (step >> (8 * bytes - 1)) != 0) length = 4;
  }
  const int32_t dims[2] = {1, length};
  (void)DropArgsUnderResults(ctx, 0, n);
  void* data = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, 2, dims, bytes, isUnsigned, &data); st != kOk) return st;
  for (int k = 0; k < length; ++k) {
    const auto low = static_cast<uint64_t>(row[k]);
    std::memcpy(static_cast<uint8_t*>(data) + k * bytes, &low, bytes);
  }
  return kOk;
}

[[nodiscard]] StatusCode PackLoopRange(EngineContext* ctx, int n) {
  bool stepSigned = false;
  if (n == 3) {
    NumericView step;
    if (ReadNumeric(ctx, 1, &step)) stepSigned = IsIntegerClass(step.cls) && (step.cls & 0x80) == 0;
  }
  if (StatusCode st = UnifyNumericArgs(ctx, n); st != kOk) return ReportedStatus(st);
  NumericView v;
  ReadNumeric(ctx, 0, &v);
  if (IsFloatClass(v.cls)) return PackDoubleRange(ctx, n, v.cls == kSingle || v.cls == kComplexSingle);
  return PackIntegerRange(ctx, n, stepSigned);
}

// The last value of an integer range, false when it is empty.
bool LastIntegerValue(const IntegerRange& r, __int128* last) {
  if (IntegerRangeDone(r)) return false;
  __int128 step = r.step;
  if (r.v.count == 4) step -= static_cast<__int128>(1) << (8 * (r.v.cls & 0x7F));
  const __int128 steps = (r.end - r.start) / step;
  *last = r.start + steps * step;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opcode handlers.

StatusCode OpCaseTest(EngineContext* ctx, const int16_t* ins) {
  bool match = false;
  if (StatusCode st = MatchSwitchCase(ctx, &match); st != kOk) return st;
  if (!match) AdvanceProgramCounter(ctx, ins[1]);
  return kOk;
}

StatusCode OpForNext(EngineContext* ctx, const int16_t* ins) {
  const StatusCode st = NextColumnOrElement(ctx);
  if (st != kIndexOutOfRange) return st;
  AdvanceProgramCounter(ctx, ins[1]);
  return kOk;
}

StatusCode OpForNextRange(EngineContext* ctx, const int16_t* ins) {
  const StatusCode st = NextRangeValue(ctx);
  if (st != kIndexOutOfRange) return st;
  AdvanceProgramCounter(ctx, ins[1]);
  return kOk;
}

StatusCode OpRangeIterator(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  if (n != 2 && n != 3) return kBadArg;
  const ValueDescriptor end = *DescriptorAt(ctx, 0);
  const bool endScalar =
      (end.kind & ~uint32_t{kComplex}) == 0 && end.extra == 1 && end.cells == ((end.kind & kComplex) ? 2 : 1);
  bool fast = endScalar;
  for (int p = 1; p < n && fast; ++p) fast = IsRealScalar(*DescriptorAt(ctx, p));
  if (!fast) return PackLoopRange(ctx, n);

  // Bounds folded in place: the end's imaginary part goes, its real part and
  // the start (and step) stay where they are.
  Cell* r = DataAt(ctx, n - 1);
  const double start = r[0].f, step = n == 3 ? r[1].f : 1.0, stop = r[n - 1].f;
  ctx->dataTop -= end.cells - 1;
  ctx->descLength -= 3 * (n - 1);
  *DescriptorAt(ctx, 0) = ValueDescriptor{0, n, n};
  r[n - 1].f = LoopElementCount(start, step, stop);
  return kOk;
}

StatusCode OpRangeLastValue(EngineContext* ctx, const int16_t* ins) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  bool empty = true;
  if (d.kind == 0 && d.extra == d.cells && d.cells >= 2 && d.cells <= kSingleLoopRangeCells) {
    const Cell* r = TopData(ctx);
    const int remainingAt = d.cells == kSingleLoopRangeCells ? 2 : d.cells - 1;
    const double remaining = r[remainingAt].f;
    if (remaining > 0x1p53) {
      // A loop without end that does nothing runs until it is broken: this
      // instruction again, the break polled between.
      SetProgramCounter(ctx, ins);
      return kOk;
    }
    if (remaining >= 1) {
      empty = false;
      const double last = RangeElement(r[0].f, d.cells == 2 ? 1.0 : r[1].f, static_cast<int64_t>(remaining) - 1);
      PopValue(ctx);
      if (d.cells == kSingleLoopRangeCells) return PushSingleScalar(ctx, last, 0, false);
      return PushRealScalar(ctx, last);
    }
  } else {
    IntegerRange r;
    if (!ReadIntegerRange(ctx, &r)) return kWrongType;
    __int128 last = 0;
    if (LastIntegerValue(r, &last)) {
      const uint32_t cls = r.v.cls;
      PopValue(ctx);
      return PushIntegerScalar(ctx, cls, last);
    }
  }
  // An empty loop sets no variable: the store that follows is passed over.
  if (empty) {
    PopValue(ctx);
    const int16_t* next = ins + 1;
    if (static_cast<Op>(next[0]) == Op::StoreVar) AdvanceProgramCounter(ctx, GetInstructionLength(next));
  }
  return kOk;
}
