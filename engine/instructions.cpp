// The machine's own instructions outside variables and calls: literals and
// texts, stack and list operations, switch case tests, the for-loop steps and
// loop ranges, try marks, line markers, assert and the error builtins, and
// the one dispatch point through which every core builtin opcode runs.
#include "engine/instructions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/errors.h"
#include "engine/evaluate.h"
#include "engine/heap.h"
#include "engine/indexing.h"
#include "engine/libraries.h"
#include "engine/objects.h"
#include "engine/resolution.h"
#include "engine/values/doublemath.h"
#include "engine/values/textformat.h"
#include "engine/vm.h"

namespace {

constexpr char kVersionText[] = "RVO 5.1";

// The double held in the four operand words after an opcode (aligned to 8
// bytes by the compiler's Nops).
double OperandDouble(const int16_t* ins) {
  double x = 0;
  std::memcpy(&x, ins + 1, sizeof x);
  return x;
}

uint32_t Unsigned16(int16_t w) { return static_cast<uint16_t>(w); }

// A 1 x 1 integer array of the class holding v, cut to the class's width.
StatusCode PushIntegerScalar(EngineContext* ctx, uint32_t cls, __int128 v) {
  void* data = nullptr;
  const int bytes = static_cast<int>(cls & 0x7F);
  if (StatusCode st = PushIntegerArray(ctx, 0, nullptr, bytes, (cls & 0x80) != 0, &data); st != kOk) return st;
  const auto low = static_cast<uint64_t>(v);
  std::memcpy(data, &low, bytes);
  return kOk;
}

StatusCode PushSingleScalar(EngineContext* ctx, double re, double im, bool complex) {
  float* r = nullptr;
  float* i = nullptr;
  if (StatusCode st = PushSingleArray(ctx, 0, nullptr, &r, complex ? &i : nullptr); st != kOk) return st;
  *r = static_cast<float>(re);
  if (complex) *i = static_cast<float>(im);
  return kOk;
}

// The real range of opcode 31: colon's count and its elements by repeated addition.
StatusCode PushSmallRange(EngineContext* ctx, double start, double stop, double step) {
  int64_t count = 0;
  if (!RangeElementCount(start, step, stop, &count)) return kObjTooLarge;
  if (count == 0) return PushEmptyMatrix(ctx);
  double* re = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, static_cast<int32_t>(count), &re, nullptr); st != kOk) return st;
  double x = start;
  for (int64_t k = 0; k < count; ++k, x += step) re[k] = x;
  return kOk;
}

// ---------------------------------------------------------------------------
bool IsFreeList(const ValueDescriptor& d) { return d.kind == kComposite && d.extra == kFreeList; }

}  // namespace

StatusCode SpreadFreeLists(EngineContext* ctx, int n, int* count) {
  int above = 0;
  for (int visited = 0; visited < n; ++visited) {
    if (!IsFreeList(*DescriptorAt(ctx, above))) {
      ++above;
      continue;
    }
    RotateValues(ctx, above + 1, 1);
    int32_t k = 0;
    if (StatusCode st = ExplodeTopList(ctx, &k); st != kOk) {
      RotateValues(ctx, above + 1, above);
      return st;
    }
    RotateValues(ctx, above + k, above);
    above += k;
  }
  *count = above;
  return kOk;
}

namespace {

// ---------------------------------------------------------------------------
// Switch cases. Equality is that of eq: a NaN on either side matches nothing.

bool IsListLike(const ValueDescriptor& d) {
  return d.kind == kComposite && (d.extra == kList || d.extra == kCellArray);
}

bool IsCharElement(const CompositeElementHeader* e) { return e->kind == kBoxed && e->extra == kCharArray; }

const CompositeElementHeader* NextElement(const CompositeElementHeader* e) {
  return reinterpret_cast<const CompositeElementHeader*>(reinterpret_cast<const Cell*>(e + 1) + e->cells);
}

Cell* ElementCells(const CompositeElementHeader* e) { return const_cast<Cell*>(reinterpret_cast<const Cell*>(e + 1)); }

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
StatusCode MatchSwitchCase(EngineContext* ctx, bool* match) {
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
    GetCompositeArgInfo(ctx, 0, 'c', nullptr, nullptr, &count, nullptr, &first);
    const CompositeElementHeader* e = first;
    for (int64_t k = 0; k < count; ++k, e = NextElement(e)) {
      if (isChar) {
        if (!IsCharElement(e)) return kWrongTypeInternal;
        if (!empty && SameChars(chars, ReadArray(ElementCells(e)))) *match = true;
        continue;
      }
      const ValueDescriptor d{e->kind, e->cells, e->extra};
      if (IsPlainMatrix(d)) {
        if (d.kind != 0 || d.cells != 1) return kBadSize;
        if (!empty && ElementCells(e)->f == x && xi == 0) *match = true;
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
StatusCode PushPlainColumn(EngineContext* ctx, int32_t n) {
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
StatusCode PushIndexedColumn(EngineContext* ctx, int32_t n) {
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  DescriptorAt(ctx, 0)->kind &= kKindBits;
  if (StatusCode st = PushRealScalar(ctx, n); st != kOk) {
    PopValue(ctx);
    return st;
  }
  const int16_t index[] = {static_cast<int16_t>(Op::IndexValue), kMaxIndexDims, static_cast<int16_t>(0xFFFD), 1};
  return OpIndexValue(ctx, index);
}

StatusCode NextColumnOrElement(EngineContext* ctx) {
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

StatusCode NextIntegerRangeValue(EngineContext* ctx, IntegerRange& r) {
  if (IntegerRangeDone(r)) return kIndexOutOfRange;
  if (StatusCode st = PushIntegerScalar(ctx, r.v.cls, r.start); st != kOk) return st;
  WriteIntegerElement(r, 0, r.start + r.step);
  // Read back in the class's own width and signedness.
  const __int128 next = IntegerElement(r.v, 0);
  // A wrap past the class's end lands on the wrong side of the old start.
  if (r.down ? next > r.start : next < r.start) EmptyIntegerRange(r);
  return kOk;
}

StatusCode NextRangeValue(EngineContext* ctx) {
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
StatusCode PackDoubleRange(EngineContext* ctx, int n, bool single) {
  double b[3] = {0, 1, 0};
  for (int k = 0; k < n; ++k) {
    NumericView v;
    ReadNumeric(ctx, n - 1 - k, &v);
    if (v.count != 1) return kNonScalarArg;
    b[n == 2 && k == 1 ? 2 : k] = RealElement(v, 0);
  }
  int64_t count = 0;
  if (!RangeElementCount(b[0], b[1], b[2], &count)) return kObjTooLarge;
  const int cells = single ? kSingleLoopRangeCells : n;
  DropArgsUnderResults(ctx, 0, n);
  double* re = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, cells, &re, nullptr); st != kOk) return st;
  re[0] = b[0];
  re[cells - 1] = single ? 1.0 : static_cast<double>(count);
  if (cells >= 3) re[1] = b[1];
  if (single) re[2] = static_cast<double>(count);
  return kOk;
}

StatusCode PackIntegerRange(EngineContext* ctx, int n, bool stepSigned) {
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
  DropArgsUnderResults(ctx, 0, n);
  void* data = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, 2, dims, bytes, isUnsigned, &data); st != kOk) return st;
  for (int k = 0; k < length; ++k) {
    const auto low = static_cast<uint64_t>(row[k]);
    std::memcpy(static_cast<uint8_t*>(data) + k * bytes, &low, bytes);
  }
  return kOk;
}

bool IsRealDoubleScalar(const ValueDescriptor& d) { return d.kind == 0 && d.cells == 1 && d.extra == 1; }

StatusCode PackLoopRange(EngineContext* ctx, int n) {
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

// ---------------------------------------------------------------------------
// Line markers: echo and the debugger's report of the line about to run.

// Line `line` of function f's source, or nothing when it cannot be read.
void WriteSourceLine(EngineContext* ctx, int32_t descriptor, int32_t f, int32_t line) {
  int64_t bytes = 0;
  Cell* free = nullptr;
  GetFreeDataSpace(ctx, &bytes, &free);
  auto* buffer = reinterpret_cast<char*>(free);
  int32_t length = 0, first = 1;
  const int32_t size = static_cast<int32_t>(std::min<int64_t>(bytes, 1 << 30));
  if (f < 0 || GetFunctionSource(ctx, f, buffer, size, &length, &first) != kOk) return;
  int32_t p = 0;
  for (int32_t at = first; at < line && p < length; ++p) {
    if (buffer[p] == '\r' && p + 1 < length && buffer[p + 1] == '\n') ++p;
    if (buffer[p] == '\n' || buffer[p] == '\r') ++at;
  }
  int32_t end = p;
  while (end < length && buffer[end] != '\n' && buffer[end] != '\r') ++end;
  WriteToDescriptor(ctx, descriptor, buffer + p, end - p);
}

void FunctionName(EngineContext* ctx, int32_t f, const char** name, int* length) {
  *name = "";
  *length = 0;
  if (f >= 0) GetFunctionNameByIndex(ctx, f, name, length);
}

void EchoSourceLine(EngineContext* ctx, int32_t f, int32_t line) {
  const char* name = nullptr;
  int length = 0;
  FunctionName(ctx, f, &name, &length);
  char head[24];
  int at = 0;
  AppendChars(head, &at, name, std::min(length, 16), 17);
  while (at < 16) head[at++] = ' ';
  char number[16];
  int digits = 0;
  FormatDecimal64(number, &digits, line, sizeof number);
  for (int k = digits; k < 5; ++k) head[at++] = ' ';
  std::memcpy(head + at, number, std::min(digits, 6));
  at += std::min(digits, 6);
  head[at++] = ' ';
  WriteToDescriptor(ctx, 2, head, at);
  WriteSourceLine(ctx, 2, f, line);
  WriteNewlineToDescriptor(ctx, 2);
  int32_t position = 0;
  ControlDescriptor(ctx, 2, kControlFlush, 0, &position, nullptr);
}

bool AtBreakpoint(EngineContext* ctx, int32_t f, int32_t line) {
  if (ctx->breakpointCount <= 0 || ctx->breakpointList <= 0) return false;
  const Cell* list = ctx->heapBase + ctx->breakpointList;
  const int32_t n = std::min(ctx->breakpointCount, HeapBlockCells(ctx, ctx->breakpointList));
  for (int32_t k = 0; k < n; ++k)
    if (list[k].iw[0] == f && list[k].iw[1] == line) return true;
  return false;
}

void ReportDebuggerLine(EngineContext* ctx, int32_t f, int32_t line) {
  char text[64];
  int at = 0;
  const char* name = nullptr;
  int length = 0;
  FunctionName(ctx, f, &name, &length);
  AppendChars(text, &at, "<", 1, sizeof text);
  if (f >= 0) {
    AppendChars(text, &at, name, std::min(length, 32), sizeof text);
    AppendChars(text, &at, ":", 1, sizeof text);
  }
  FormatDecimal64(text, &at, line, sizeof text);
  AppendChars(text, &at, "> ", 2, sizeof text);
  WriteToDescriptor(ctx, 2, text, at);
  WriteSourceLine(ctx, 2, f, line);
  WriteNewlineToDescriptor(ctx, 2);
}

}  // namespace

// ---------------------------------------------------------------------------
// Builtin opcodes whose handlers the engine itself holds.

StatusCode OpArgumentCount(EngineContext* ctx, const int16_t* ins) {
  const bool outputs = static_cast<Op>(ins[0]) == Op::Nargout;
  if (ins[1] == 0) return PushFrameArgCount(ctx, outputs);
  return PushFunctionArgCounts(ctx, GetCurrentLibraryIndex(ctx), outputs);
}

StatusCode OpRealPart(EngineContext* ctx, const int16_t*) {
  const StatusCode st = DropImaginaryPart(ctx);
  return ReportedStatus(st);
}

StatusCode OpToIntegerClass(EngineContext* ctx, const int16_t* ins) {
  int bytes = 1;
  bool isUnsigned = false;
  switch (static_cast<Op>(ins[0])) {
    case Op::Int8:
      bytes = 1;
      break;
    case Op::Int16:
      bytes = 2;
      break;
    case Op::Int32:
      bytes = 4;
      break;
    case Op::Int64:
      bytes = 8;
      break;
    case Op::Uint8:
      bytes = 1, isUnsigned = true;
      break;
    case Op::Uint16:
      bytes = 2, isUnsigned = true;
      break;
    case Op::Uint32:
      bytes = 4, isUnsigned = true;
      break;
    default:
      bytes = 8, isUnsigned = true;
      break;
  }
  const StatusCode st = ConvertArgToIntegerClass(ctx, 0, bytes, isUnsigned, false);
  return ReportedStatus(st);
}

// str2fun and @name: the char array on top becomes a function reference
// qualified by the calling library or by the library the compiler saw.
StatusCode OpFunctionReference(EngineContext* ctx, const int16_t* ins) {
  const int32_t library = static_cast<Op>(ins[0]) == Op::Str2fun ? GetCurrentLibraryIndex(ctx) : ins[1];
  char name[256];
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length);
  if (st == kObjTooLarge) return kNameTooLong;
  if (st != kOk) return ReportedStatus(st);
  if (StatusCode pushed = PushFunctionReference(ctx, name, static_cast<int>(length), library); pushed != kOk)
    return pushed;
  return DropArgsUnderResults(ctx, 1, 1);
}

// ---------------------------------------------------------------------------
// Constants, literals and texts.

StatusCode OpPushLiteral(EngineContext* ctx, const int16_t* ins) {
  // Operand words are read only by the opcodes that have them.
  switch (static_cast<Op>(ins[0])) {
    case Op::PushZero:
      return PushRealScalar(ctx, 0);
    case Op::PushOne:
      return PushRealScalar(ctx, 1);
    case Op::I:
      return PushComplexScalar(ctx, 0, 1);
    case Op::Pi:
      return PushRealScalar(ctx, std::numbers::pi);
    case Op::Goldenratio:
      return PushRealScalar(ctx, (std::sqrt(5.0) + 1) * 0.5);
    case Op::PushSmallInt:
      return PushRealScalar(ctx, ins[1]);
    case Op::PushSmallImag:
      return PushComplexScalar(ctx, 0, ins[1]);
    case Op::PushDouble:
      return PushRealScalar(ctx, OperandDouble(ins));
    case Op::PushImagDouble:
      return PushComplexScalar(ctx, 0, OperandDouble(ins));
    case Op::PushSingle:
      return PushSingleScalar(ctx, OperandDouble(ins), 0, false);
    case Op::PushImagSingle:
      return PushSingleScalar(ctx, 0, OperandDouble(ins), true);
    case Op::PushInt8:
      return PushIntegerScalar(ctx, kInt8, static_cast<int8_t>(ins[1] & 0xFF));
    case Op::PushUint8:
      return PushIntegerScalar(ctx, kUint8, ins[1] & 0xFF);
    case Op::PushInt16:
      return PushIntegerScalar(ctx, kInt16, ins[1]);
    case Op::PushUint16:
      return PushIntegerScalar(ctx, kUint16, Unsigned16(ins[1]));
    case Op::PushInt32:
      return PushIntegerScalar(ctx, kInt32, ins[1]);
    case Op::PushUint32:
      // Sign-extended first: a word of -1 is 4294967295.
      return PushIntegerScalar(ctx, kUint32, static_cast<uint32_t>(int32_t{ins[1]}));
    case Op::PushInt64:
      return PushIntegerScalar(ctx, kInt64, ins[1]);
    case Op::PushUint64:
      return PushIntegerScalar(ctx, kUint64, static_cast<uint64_t>(int64_t{ins[1]}));
    case Op::PushInt32Wide:
    case Op::PushUint32Wide: {
      const uint32_t v = Unsigned16(ins[1]) + Unsigned16(ins[2]) * 65536u;
      return PushIntegerScalar(ctx, static_cast<Op>(ins[0]) == Op::PushInt32Wide ? kInt32 : kUint32, v);
    }
    case Op::PushInt64Wide:
    case Op::PushUint64Wide: {
      uint64_t v = 0;
      for (int k = 3; k >= 0; --k) v = (v << 16) | Unsigned16(ins[1 + k]);
      return PushIntegerScalar(ctx, static_cast<Op>(ins[0]) == Op::PushInt64Wide ? kInt64 : kUint64, v);
    }
    case Op::PushSmallRange:
      return PushSmallRange(ctx, ins[1], ins[2], ins[3]);
    case Op::PushVoid:
      return PushVoidValue(ctx);
    case Op::PushEmpty:
      return PushEmptyMatrix(ctx);
    case Op::Info:
      return PushStringFromBytes(ctx, sizeof kVersionText - 1, kVersionText);
    default:
      return kNotSupported;
  }
}

StatusCode OpSpecialValue(EngineContext* ctx, const int16_t* ins) {
  // Without size arguments these are constants; sized forms are the core
  // library's array builders.
  if (ins[1] != 0) return RunCoreBuiltin(ctx, ins);
  switch (static_cast<Op>(ins[0])) {
    case Op::Inf:
      return PushInf(ctx);
    case Op::Nan:
      return PushNaN(ctx);
    case Op::Realmin:
      return PushRealScalar(ctx, 0x1p-1022);
    case Op::Realmax:
      return PushRealScalar(ctx, 0x1.fffffffffffffp1023);
    case Op::Eps:
      return PushRealScalar(ctx, 0x1p-52);
    case Op::True:
      return PushLogicalScalar(ctx, 1);
    case Op::False:
      return PushLogicalScalar(ctx, 0);
    default:
      return kNotSupported;
  }
}

StatusCode OpPushString(EngineContext* ctx, const int16_t* ins) {
  const int32_t n = static_cast<int32_t>(Unsigned16(ins[1]));
  uint16_t* data = nullptr;
  if (StatusCode st = PushCharRow(ctx, n, &data); st != kOk) return st;
  if (static_cast<Op>(ins[0]) == Op::PushString16) {
    std::memcpy(data, ins + 2, n * sizeof(uint16_t));
  } else {
    // Two bytes per word, the low byte first.
    const auto* bytes = reinterpret_cast<const uint8_t*>(ins + 2);
    for (int32_t k = 0; k < n; ++k) data[k] = static_cast<uint16_t>(bytes[k]);
  }
  return kOk;
}

StatusCode OpPrintText(EngineContext* ctx, const int16_t* ins) {
  const int32_t n = static_cast<int32_t>(Unsigned16(ins[1]));
  const int32_t bytes = static_cast<Op>(ins[0]) == Op::PrintText16 ? 2 * n : n;
  return WriteToDescriptor(ctx, 1, reinterpret_cast<const char*>(ins + 2), bytes);
}

// ---------------------------------------------------------------------------
// Stack and lists.

StatusCode OpDup(EngineContext* ctx, const int16_t* ins) { return DuplicateValues(ctx, ins[1] - ins[2], ins[2]); }

StatusCode OpRotate(EngineContext* ctx, const int16_t* ins) { return RotateValues(ctx, ins[1], ins[2]); }

StatusCode OpMakeList(EngineContext* ctx, const int16_t* ins) {
  int n = ins[1];
  if (StatusCode st = SpreadFreeLists(ctx, n, &n); st != kOk) return st;
  return MakeListFromValues(ctx, n, false, nullptr, 0);
}

StatusCode OpAppendToList(EngineContext* ctx, const int16_t*) {
  const StatusCode st = MakeListFromValues(ctx, 1, true, nullptr, 0);
  return st == kBadArg ? kWrongType : st;
}

StatusCode OpJoinValuesToList(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  RotateValues(ctx, n, n - 1);
  if (StatusCode st = MakeListFromValues(ctx, n - 1, false, nullptr, 0); st != kOk) {
    RotateValues(ctx, n, 1);
    return st;
  }
  RotateValues(ctx, 2, 1);
  const int16_t join[] = {static_cast<int16_t>(Op::Join), 2};
  return RunCoreBuiltin(ctx, join);
}

// ---------------------------------------------------------------------------
// Switch and loops.

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
  for (int p = 1; p < n && fast; ++p) fast = IsRealDoubleScalar(*DescriptorAt(ctx, p));
  if (!fast) return PackLoopRange(ctx, n);

  // Bounds folded in place: the end's imaginary part goes, its real part and
  // the start (and step) stay where they are.
  Cell* r = DataAt(ctx, n - 1);
  const double start = r[0].f, step = n == 3 ? r[1].f : 1.0, stop = r[n - 1].f;
  int64_t count = 0;
  if (!RangeElementCount(start, step, stop, &count)) return kObjTooLarge;
  ctx->dataTop -= end.cells - 1;
  ctx->descLength -= 3 * (n - 1);
  *DescriptorAt(ctx, 0) = ValueDescriptor{0, n, n};
  r[n - 1].f = static_cast<double>(count);
  return kOk;
}

StatusCode OpRangeLastValue(EngineContext* ctx, const int16_t* ins) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  bool empty = true;
  if (d.kind == 0 && d.extra == d.cells && d.cells >= 2 && d.cells <= kSingleLoopRangeCells) {
    const Cell* r = TopData(ctx);
    const int remainingAt = d.cells == kSingleLoopRangeCells ? 2 : d.cells - 1;
    const double remaining = r[remainingAt].f;
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

// ---------------------------------------------------------------------------
// Errors, try, line markers and assertions.

StatusCode OpErrorFamily(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Error:
      return ErrorBuiltin(ctx, ins[1], false);
    case Op::Warning:
      return ErrorBuiltin(ctx, ins[1], true);
    case Op::Rethrow:
      return RethrowBuiltin(ctx);
    case Op::Lasterr:
      return LastErrorBuiltin(ctx, ins[1], false);
    case Op::Lasterror:
      return LastErrorBuiltin(ctx, 1, true);
    default:
      return kNotSupported;
  }
}

StatusCode OpTryMark(EngineContext* ctx, const int16_t* ins) {
  CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr) return kOk;
  const int16_t o = ins[1];
  if (o > 0) {
    // The program counter already stands at the end of this instruction.
    f->catchSpace = static_cast<int32_t>(ctx->pc.space);
    f->catchOffset = ctx->pc.offset + 2 * o;
  } else {
    f->catchSpace = 0;
    f->catchOffset = 0;
  }
  f->catchKeep = ins[2];
  return kOk;
}

StatusCode OpLineMarker(EngineContext* ctx, const int16_t* ins) {
  const int32_t function = ins[1], line = ins[2];
  CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr) return kOk;
  f->function = function;
  f->line = line;
  if (ctx->echo == -2 || (ctx->echo >= 0 && ctx->echo == function)) EchoSourceLine(ctx, function, line);
  if (f->debugState == 0 && AtBreakpoint(ctx, function, line)) f->debugState = kDebugStopAtNextLine;
  if (f->debugState < 1) return kOk;
  ReportDebuggerLine(ctx, function, line);
  if (f->debugState == 1) {
    if (ctx->sliceTest == nullptr) ctx->sliceArg = 1;
    return kOk;
  }
  f->suspendSpace = static_cast<int32_t>(ctx->pc.space);
  f->suspendOffset = ctx->pc.offset;
  ctx->errorCode = kDebugStop;
  return kDebugStop;
}

StatusCode OpAssert(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  uint8_t holds = 0;
  if (StatusCode st = TestArgAllNonzero(ctx, nargin - 1, &holds); st != kOk) return st;
  if (holds) return DropArgsUnderResults(ctx, 0, nargin);
  if (nargin == 1) return kAssert;
  RotateValues(ctx, nargin, 1);
  PopValue(ctx);
  // A message that formats to nothing must not let a false assertion pass.
  const StatusCode st = ErrorBuiltin(ctx, nargin - 1, false);
  return st == kOk ? kAssert : st;
}

// ---------------------------------------------------------------------------
// Core builtins.

StatusCode RunCoreBuiltin(EngineContext* ctx, const int16_t* ins) {
  const auto op = static_cast<uint16_t>(ins[0]);
  if (ctx->core == nullptr || op >= kOpcodeCount) return kNotSupported;
  const BuiltinHandler handler = ctx->core->builtins[op];
  return handler ? handler(ctx, ins) : kNotSupported;
}

StatusCode CoreDisplayTopValue(EngineContext* ctx, int32_t descriptor, bool drop) {
  return ctx->core ? ctx->core->displayTopValue(ctx, descriptor, drop) : kNotSupported;
}

StatusCode CoreDisplayStatementResult(EngineContext* ctx, int32_t variable, bool allowObjects, bool drop) {
  return ctx->core ? ctx->core->displayStatementResult(ctx, variable, allowObjects, drop) : kNotSupported;
}

StatusCode InlineOnlyOpcode(EngineContext*, const int16_t*) { return kNotSupported; }

StatusCode InstallCoreLibrary(EngineContext* ctx, const CoreLibraryTable* table) {
  if (table == nullptr || table->builtins == nullptr || table->builtinCount != kOpcodeCount ||
      table->displayStatementResult == nullptr || table->displayTopValue == nullptr)
    return kInitError;
  ctx->core = table;
  return kOk;
}
