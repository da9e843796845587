// Raw bytes in and out: the precision names, fread and sread turning bytes
// into arrays, fwrite, swrite and bwrite turning arrays into bytes, and the
// builtins that control descriptors through the stream layer.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/context.h"
#include "engine/values/valuestack.h"

// The twelve plain names, then each again with ";l" and with ";b". Only
// elements of more than one byte have a byte order to turn.
constexpr PrecisionRecord kPrecisionRecords[] = {
    {"int8", 1, 0, 0, 0, 0},
    {"int16", 2, 0, 0, 0, 0},
    {"int32", 4, 0, 0, 0, 0},
    {"int64", 8, 0, 0, 0, 0},
    {"uint8", 1, 1, 0, 0, 0},
    {"uint16", 2, 1, 0, 0, 0},
    {"uint32", 4, 1, 0, 0, 0},
    {"uint64", 8, 1, 0, 0, 0},
    {"char", 1, 0, 0, 1, 0},
    {"uchar", 1, 1, 0, 1, 0},
    {"single", 4, 0, 0, 0, 1},
    {"double", 8, 0, 0, 0, 1},
    {"int8;l", 1, 0, 0, 0, 0},
    {"int16;l", 2, 0, 0, 0, 0},
    {"int32;l", 4, 0, 0, 0, 0},
    {"int64;l", 8, 0, 0, 0, 0},
    {"uint8;l", 1, 1, 0, 0, 0},
    {"uint16;l", 2, 1, 0, 0, 0},
    {"uint32;l", 4, 1, 0, 0, 0},
    {"uint64;l", 8, 1, 0, 0, 0},
    {"char;l", 1, 0, 0, 1, 0},
    {"uchar;l", 1, 1, 0, 1, 0},
    {"single;l", 4, 0, 0, 0, 1},
    {"double;l", 8, 0, 0, 0, 1},
    {"int8;b", 1, 0, 0, 0, 0},
    {"int16;b", 2, 0, 1, 0, 0},
    {"int32;b", 4, 0, 1, 0, 0},
    {"int64;b", 8, 0, 1, 0, 0},
    {"uint8;b", 1, 1, 0, 0, 0},
    {"uint16;b", 2, 1, 1, 0, 0},
    {"uint32;b", 4, 1, 1, 0, 0},
    {"uint64;b", 8, 1, 1, 0, 0},
    {"char;b", 1, 0, 0, 1, 0},
    {"uchar;b", 1, 1, 0, 1, 0},
    {"single;b", 4, 0, 1, 0, 1},
    {"double;b", 8, 0, 1, 0, 1},
    {},
};
static_assert(sizeof(PrecisionRecord) == 20);
static_assert(sizeof kPrecisionRecords / sizeof kPrecisionRecords[0] == 37);

const PrecisionRecord* GetPrecisionRecords() { return kPrecisionRecords; }

StatusCode ParsePrecisionName(EngineContext* ctx, uint32_t* size, bool* isUnsigned, bool* bigEndian, bool* isChar,
                              bool* isFloat, bool* keepClass) {
  char name[sizeof kPrecisionRecords[0].name];
  int64_t length = 0;
  StatusCode st = CopyStringArgToBuffer(ctx, 0, name, sizeof name - 1, &length);
  if (st == kWrongTypeInternal) return kWrongType;
  if (st != kOk) return st;
  name[length] = 0;
  const char* text = name;
  if (keepClass != nullptr) {
    *keepClass = text[0] == '*';
    if (*keepClass) ++text;
  }
  for (const PrecisionRecord* r = kPrecisionRecords; r->size != 0; ++r) {
    // A NUL inside the text never matches a whole name.
    if (std::strcmp(r->name, text) != 0 || static_cast<int64_t>(std::strlen(text)) != length - (text - name)) continue;
    *size = r->size;
    *isUnsigned = r->isUnsigned != 0;
    *bigEndian = r->bigEndian != 0;
    if (isChar != nullptr) *isChar = r->isChar != 0;
    *isFloat = r->isFloat != 0;
    return kOk;
  }
  return kUnknownOpt;
}

namespace {

struct Precision {
  uint32_t size = 1;
  bool isUnsigned = true;
  bool bigEndian = false;
  bool isChar = false;
  bool isFloat = false;
  bool keepClass = false;
};

[[nodiscard]] StatusCode ParsePrecision(EngineContext* ctx, bool askKeep, Precision* p) {
  return ParsePrecisionName(ctx, &p->size, &p->isUnsigned, &p->bigEndian, &p->isChar, &p->isFloat,
                            askKeep ? &p->keepClass : nullptr);
}

// A real numeric scalar (a descriptor, an offset) truncated to 32 bits; 44
// for anything else.
[[nodiscard]] StatusCode IntegerArg(EngineContext* ctx, int position, int32_t* out) {
  double x = 0;
  if (CheckArgTypes(ctx, 1 + position, "r*") != kOk) {
    NumericView v;
    if (!ReadNumeric(ctx, position, &v) || v.count != 1 || IsComplexClass(v.cls) ||
        DescriptorAt(ctx, position)->extra == kCharArray)
      return kWrongType;
    x = RealElement(v, 0);
  } else {
    x = DataAt(ctx, position)->f;
  }
  const int64_t d = TruncateToInt64(x);
  *out = d < INT32_MIN || d > INT32_MAX ? INT32_MIN : static_cast<int32_t>(d);
  return kOk;
}

void ReverseElementBytes(uint8_t* data, int64_t count, uint32_t size) {
  for (int64_t k = 0; k < count; ++k) std::reverse(data + k * size, data + (k + 1) * size);
}

// Bytes of one element once the result has its final class: 0 when the
// class read stays.
uint32_t FinalElementBytes(const Precision& p) {
  if (!p.keepClass) return p.isFloat && p.size == 8 ? 0 : 8;
  return p.isChar ? 2 : 0;
}

int64_t ResultCells(const Precision& p, int64_t elements) {
  const int64_t bytes = elements * p.size;
  if (p.isFloat && p.size == 8) return elements;
  return ArrayDataCell(2) + (bytes + 7) / 8;
}

// Cells of the array read plus those of its conversion, which is built above it.
int64_t CellsNeeded(const Precision& p, int64_t elements) {
  const uint32_t final = FinalElementBytes(p);
  const int64_t converted = final == 0 ? 0 : final == 8 ? elements : ArrayDataCell(2) + (elements * final + 7) / 8;
  return ResultCells(p, elements) + converted + 1;
}

// The uninitialised array of the precision's class.
[[nodiscard]] StatusCode PushResult(EngineContext* ctx, const Precision& p, int64_t rows, int64_t cols,
                                    uint8_t** data) {
  const int32_t dims[] = {static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
  if (p.isFloat && p.size == 8) {
    double* re = nullptr;
    StatusCode st = PushDoubleMatrix(ctx, dims[0], dims[1], &re, nullptr);
    *data = reinterpret_cast<uint8_t*>(re);
    return st;
  }
  if (p.isFloat) {
    float* re = nullptr;
    StatusCode st = PushSingleArray(ctx, 2, dims, &re, nullptr);
    *data = reinterpret_cast<uint8_t*>(re);
    return st;
  }
  void* ints = nullptr;
  StatusCode st = PushIntegerArray(ctx, 2, dims, static_cast<int>(p.size), p.isUnsigned, &ints);
  *data = static_cast<uint8_t*>(ints);
  return st;
}

// The top result takes rows x cols over the data it holds.
void ShrinkResult(EngineContext* ctx, const Precision& p, int64_t rows, int64_t cols) {
  if (p.isFloat && p.size == 8) {
    PopValue(ctx);
    (void)PushDoubleMatrix(ctx, static_cast<int32_t>(rows), static_cast<int32_t>(cols), nullptr, nullptr);
    return;
  }
  const uint32_t cls = p.isFloat ? kSingle : p.size + (p.isUnsigned ? 128 : 0);
  const uint32_t dims[] = {static_cast<uint32_t>(rows), static_cast<uint32_t>(cols)};
  ResizeTopArray(ctx, kNumericArray, cls, dims, 2, rows * cols * p.size);
}

// The class the caller asked for, in place on the top value.
[[nodiscard]] StatusCode FinishClass(EngineContext* ctx, const Precision& p, bool colsGiven) {
  if (!p.keepClass) return ConvertArgsToFloat(ctx, 0, false, nullptr);
  if (!p.isChar) return kOk;
  if (StatusCode st = ConvertArgToIntegerClass(ctx, 0, 2, true, false); st != kOk) return st;
  DescriptorAt(ctx, 0)->extra = kCharArray;
  if (colsGiven) return kOk;
  const int32_t row[] = {1, static_cast<int32_t>(ReadArray(TopData(ctx)).count)};
  return ReshapeTopValue(ctx, 2, row);
}

constexpr int64_t kNoLimit = -1;

// sread's source: a char array, whose characters give their low bytes, or
// one-byte elements. It is read where it lies and left as it is, so that an
// instruction short of room can run again on the same input.
struct Source {
  const uint8_t* bytes = nullptr;
  int64_t length = 0;
  int stride = 1;  // 2 for characters: the low byte comes first
};

[[nodiscard]] StatusCode FindSource(EngineContext* ctx, int position, Source* s) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  NumericView v;
  if (!IsBoxedArray(d) || !ReadNumeric(ctx, position, &v)) return kWrongTypeInternal;
  if (IsCharArg(ctx, position)) {
    *s = {v.data, v.count, 2};
    return kOk;
  }
  if (v.cls != kInt8 && v.cls != kUint8) return kWrongTypeInternal;
  *s = {v.data, v.count, 1};
  return kOk;
}

[[nodiscard]] StatusCode ReadBinaryArray(EngineContext* ctx, int nargin, int nargout, bool fromDescriptor) {
  if (nargin < 1) return kTooFewArgin;
  if (CheckArgTypes(ctx, nargin, nullptr) != kOk) return kWrongType;
  if (nargin > 3) return kTooManyArgin;
  if (nargout > 2) return kTooManyArgout;
  if (nargout < 0) nargout = 1;

  Precision p;
  if (nargin == 3)
    if (StatusCode st = ParsePrecision(ctx, true, &p); st != kOk) return st;
  int64_t rows = kNoLimit, cols = 1;
  bool colsGiven = false;
  if (nargin >= 2) {
    int32_t m = 0, n = 0;
    double* re = nullptr;
    if (StatusCode st = GetDoubleMatrixArg(ctx, nargin == 3 ? 1 : 0, &m, &n, &re, nullptr); st != kOk) return st;
    const int64_t given = int64_t{m} * n;
    if (given > 2) return kBadSize;
    auto whole = [](double x) { return std::max<int64_t>(TruncateToInt64(x), 0); };
    if (given == 1 && !std::isinf(re[0])) rows = whole(re[0]);
    if (given == 2) {
      if (!std::isinf(re[0])) rows = whole(re[0]);
      cols = whole(re[1]);
      colsGiven = true;
    }
  }
  if (rows == 0 || cols == 0) {
    // Nothing is asked for, so nothing is read.
    (void)DropArgsUnderResults(ctx, 0, nargin);
    if (nargout >= 2)
      if (StatusCode st = PushRealScalar(ctx, 0); st != kOk) return st;
    return PushEmptyMatrix(ctx);
  }
  if (rows != kNoLimit && rows * cols * p.size > INT32_MAX) return kObjTooLarge;

  int32_t descriptor = 0;
  Source source;
  if (fromDescriptor) {
    if (StatusCode st = IntegerArg(ctx, nargin - 1, &descriptor); st != kOk) return st;
  } else {
    if (FindSource(ctx, nargin - 1, &source) != kOk) return kWrongTypeInternal;
    const int64_t available = source.length / (p.size * cols);
    if (rows == kNoLimit || available < rows) rows = available;
  }

  // The result is built above the inputs, so a failure leaves them as they were.
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  auto restore = [&](StatusCode st) {
    ctx->descLength = descLength;
    ctx->dataTop = dataTop;
    return st;
  };
  if (ctx->descLength + 12 >= ctx->descCapacity) return kDescStackFull;
  const int64_t freeCells = FreeDataCells(ctx) - 4;  // the count's cell, and a spare
  const bool unlimited = rows == kNoLimit;
  if (unlimited) {
    // As many whole rows as fit together with the conversion.
    const uint32_t final = FinalElementBytes(p);
    const int64_t bytes = (freeCells - 2 * ArrayDataCell(2) - 3) * 8;
    int64_t elements = std::max<int64_t>(bytes, 0) / (p.size + final);
    elements = std::min<int64_t>(elements, INT32_MAX / p.size);
    elements = std::min<int64_t>(elements, p.isFloat ? kMaxFloatArrayElements : kMaxIntegerElements);
    rows = elements / cols;
    if (rows == 0) {
      ctx->roomAsked = (CellsNeeded(p, cols) + 4) * int64_t{sizeof(Cell)};
      return kDataStackFull;
    }
  } else if (CellsNeeded(p, rows * cols) > freeCells) {
    // Checked before anything is read, so the instruction can run again.
    ctx->roomAsked = (CellsNeeded(p, rows * cols) + 4) * int64_t{sizeof(Cell)};
    return kDataStackFull;
  }
  uint8_t* data = nullptr;
  if (StatusCode st = PushResult(ctx, p, rows, cols, &data); st != kOk) return restore(st);

  const int64_t capacity = rows * cols * p.size;
  int64_t elements = rows * cols;
  if (fromDescriptor) {
    (void)ControlDescriptor(ctx, descriptor, kControlBeforeRead, 0, nullptr, nullptr);
    int32_t start = 0;
    const bool told = unlimited && ControlDescriptor(ctx, descriptor, kControlTell, 0, &start, nullptr) == kOk;
    int32_t got = 0;
    StatusCode st =
        ReadFromDescriptor(ctx, descriptor, reinterpret_cast<char*>(data), static_cast<int32_t>(capacity), false, &got);
    if (st == kEof && got > 0) st = kOk;
    if (st != kOk && st != kWouldBlock) return restore(st);
    if (unlimited && got == capacity) {
      // More may follow than the block holds: the bytes go back where they
      // were, so the command run again in a grown block reads them all.
      if (told) (void)ControlDescriptor(ctx, descriptor, kControlSeekStart, start, nullptr, nullptr);
      ctx->roomAsked = -1;
      return restore(kDataStackFull);
    }
    elements = got / p.size;
  } else {
    for (int64_t k = 0; k < capacity; ++k) data[k] = source.bytes[k * source.stride];
  }
  const int64_t rowsRead = (elements + cols - 1) / cols;
  // Storage runs row by row, as the bytes do. A short last row is completed
  // with zeros; the count tells the elements read.
  std::memset(data + elements * p.size, 0, static_cast<size_t>((rowsRead * cols - elements) * p.size));
  if (p.bigEndian) ReverseElementBytes(data, rowsRead * cols, p.size);
  if (rowsRead != rows) ShrinkResult(ctx, p, rowsRead, cols);
  if (StatusCode st = FinishClass(ctx, p, colsGiven); st != kOk) return restore(st);

  if (nargout >= 2) {
    if (StatusCode st = PushRealScalar(ctx, static_cast<double>(elements)); st != kOk) return restore(st);
    (void)RotateValues(ctx, 2, 1);
  }
  return DropArgsUnderResults(ctx, std::min(nargout, 2), nargin);
}

}  // namespace

namespace {

// mode 'f' fwrite (descriptor, data [, precision]), 's' swrite and 'b'
// bwrite (data [, precision]).
[[nodiscard]] StatusCode WriteBinaryArray(EngineContext* ctx, int nargin, char mode) {
  const int dataInputs = mode == 'f' ? 2 : 1;
  if (nargin < dataInputs) return kTooFewArgin;
  if (nargin > dataInputs + 1) return kTooManyArgin;
  if (CheckArgTypes(ctx, nargin, nullptr) != kOk) return kWrongType;
  Precision p;
  if (nargin == dataInputs + 1) {
    if (StatusCode st = ParsePrecision(ctx, false, &p); st != kOk) return st;
    PopValue(ctx);
    nargin = dataInputs;
  }
  StatusCode st = p.isFloat ? ConvertArgsToFloat(ctx, 0, p.size == 4, nullptr)
                            : ConvertArgToIntegerClass(ctx, 0, static_cast<int>(p.size), p.isUnsigned, false);
  if (st == kOk && p.isFloat) st = DropImaginaryPart(ctx);
  if (st == kWrongTypeInternal) return kWrongType;
  if (st != kOk) return st;
  int32_t descriptor = 0;
  if (mode == 'f')
    if (StatusCode d = IntegerArg(ctx, 1, &descriptor); d != kOk) return d;

  NumericView v;
  if (!ReadNumeric(ctx, 0, &v)) return kWrongType;
  int64_t length = v.count * p.size;
  if (length > INT32_MAX) return kObjTooLarge;
  char* out = nullptr;
  if (StatusCode r = ReserveStringBuffer(ctx, &length, &out); r != kOk) return r;
  ReadNumeric(ctx, 1, &v);  // the reservation moved nothing, but the view is taken afresh
  std::memcpy(out, v.data, static_cast<size_t>(v.count * p.size));
  if (p.bigEndian) ReverseElementBytes(reinterpret_cast<uint8_t*>(out), v.count, p.size);
  const int64_t n = v.count * p.size;

  if (mode == 's') {
    if (StatusCode f = FinishStringBuffer(ctx, n); f != kOk) return f;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (mode == 'b') {
    // The row's bytes become the elements of a uint8 row in place.
    const uint32_t dims[] = {n > 0 ? 1u : 0u, static_cast<uint32_t>(n)};
    ResizeTopArray(ctx, kNumericArray, kUint8, dims, 2, n);
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (StatusCode w = WriteToDescriptor(ctx, descriptor, out, static_cast<int32_t>(n)); w != kOk) {
    PopValue(ctx);
    return w;
  }
  PopValue(ctx);
  (void)DropArgsUnderResults(ctx, 0, nargin);
  return PushRealScalar(ctx, static_cast<double>(v.count));
}

[[nodiscard]] StatusCode PopDescriptor(EngineContext* ctx, int32_t* descriptor) {
  if (StatusCode st = IntegerArg(ctx, 0, descriptor); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

constexpr char kRedirectLoopId[] = "RVO:redirectLoop";
constexpr char kRedirectLoopMessage[] = "stdout <-> stderr redirection loop";

[[nodiscard]] StatusCode ReportRedirection(EngineContext* ctx, int32_t d) {
  const char* name = d == kStdoutDescriptor ? "stdout" : "stderr";
  auto text = [&](const char* t) { return WriteToDescriptor(ctx, kStdoutDescriptor, t, -1); };
  auto number = [&](int32_t x) { return WriteNumberToDescriptor(ctx, kStdoutDescriptor, x); };
  StatusCode st = text(name);
  if (st == kOk) st = text(" (fd=");
  if (st == kOk) st = number(d);
  if (st == kOk) st = text(") -> fd=");
  if (st == kOk) st = number(ctx->redirect[d - 1]);
  if (st == kOk && ctx->redirectCopy[d - 1]) st = text(" copy");
  if (st == kOk) st = WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
  return st;
}

[[nodiscard]] StatusCode Redirect(EngineContext* ctx, int nargin, int nargout) {
  if (CheckArgTypes(ctx, nargin, "[ii*") != kOk) return kWrongType;
  uint8_t copy = 0;
  int32_t target = 0, d = 0;
  if (nargin >= 3)
    if (StatusCode st = PopBoolean(ctx, &copy); st != kOk) return st == kWrongTypeInternal ? kWrongType : st;
  if (nargin >= 2) (void)PopIntegerScalar(ctx, &target);
  if (nargin >= 1) {
    (void)PopIntegerScalar(ctx, &d);
    if (d < kStdoutDescriptor || d > kStderrDescriptor) return kBadFileId;
  }
  if (nargin >= 2) {
    const bool standardPair = (d == kStdoutDescriptor && target == kStderrDescriptor) ||
                              (d == kStderrDescriptor && target == kStdoutDescriptor);
    if (standardPair && ctx->redirect[target - 1] == d)
      return RaiseErrorWithIdentifier(ctx, kRedirectLoopId, -1, kRedirectLoopMessage, -1);
    if (StatusCode st = SetStandardRedirection(ctx, d, target, copy != 0); st != kOk) return st;
  }
  if (nargout >= 1) {
    if (nargin == 0) {
      double* m = nullptr;
      if (StatusCode st = PushDoubleMatrix(ctx, 2, 2, &m, nullptr); st != kOk) return st;
      m[0] = ctx->redirect[0];
      m[1] = ctx->redirectCopy[0];
      m[2] = ctx->redirect[1];
      m[3] = ctx->redirectCopy[1];
      return kOk;
    }
    double* row = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, 1, 2, &row, nullptr); st != kOk) return st;
    row[0] = ctx->redirect[d - 1];
    row[1] = ctx->redirectCopy[d - 1];
    return kOk;
  }
  if (nargin <= 1) {
    for (int32_t k = kStdoutDescriptor; k <= kStderrDescriptor; ++k)
      if (nargin == 0 || k == d)
        if (StatusCode st = ReportRedirection(ctx, k); st != kOk) return st;
  }
  if (nargout < 0) return PushVoidValue(ctx);
  return kOk;
}

[[nodiscard]] StatusCode Fclose(EngineContext* ctx) {
  if (!IsCharArg(ctx, 0)) {
    int32_t d = 0;
    if (StatusCode st = PopDescriptor(ctx, &d); st != kOk) return st;
    return CloseDescriptor(ctx, d);
  }
  char text[4];
  int64_t length = 0;
  if (CopyStringArgToBuffer(ctx, 0, text, sizeof text, &length) != kOk || length != 3 ||
      std::memcmp(text, "all", 3) != 0)
    return kUnknownOpt;
  PopValue(ctx);
  return CloseDescriptor(ctx, kAllDescriptors);
}

[[nodiscard]] StatusCode Fseek(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 2) return kTooFewArgin;
  int32_t code = kControlSeekStart;
  if (nargin >= 3) {
    if (!IsCharArg(ctx, 0)) return kWrongType;
    const ArrayView origin = ReadArray(DataAt(ctx, 0));
    const uint16_t first = origin.count > 0 ? reinterpret_cast<const uint16_t*>(origin.data)[0] : 0;
    code = first == 'b' ? kControlSeekStart : first == 'c' ? kControlSeekCurrent : first == 'e' ? kControlSeekEnd : -1;
    if (code < 0) return kUnknownOpt;
  }
  int32_t offset = 0, d = 0;
  if (StatusCode st = IntegerArg(ctx, nargin >= 3 ? 1 : 0, &offset); st != kOk) return st;
  if (StatusCode st = IntegerArg(ctx, nargin - 1, &d); st != kOk) return st;
  StatusCode st = ControlDescriptor(ctx, d, code, offset, nullptr, nullptr);
  if (st != kOk && st != kIoErr) return st;
  (void)DropArgsUnderResults(ctx, 0, nargin);
  if (nargout >= 1) return PushRealScalar(ctx, st == kIoErr ? -1 : 0);
  if (nargout < 0) return PushVoidValue(ctx);
  return kOk;
}

}  // namespace

StatusCode FreadOpcode(EngineContext* ctx, const int16_t* ins) {
  return ReadBinaryArray(ctx, ins[1], ins[2], static_cast<Op>(ins[0]) == Op::Fread);
}

StatusCode FwriteOpcode(EngineContext* ctx, const int16_t* ins) {
  const Op op = static_cast<Op>(ins[0]);
  return WriteBinaryArray(ctx, ins[1], op == Op::Fwrite ? 'f' : op == Op::Swrite ? 's' : 'b');
}

StatusCode DescriptorOpcode(EngineContext* ctx, const int16_t* ins) {
  int32_t d = kStdoutDescriptor;
  switch (static_cast<Op>(ins[0])) {
    case Op::Fclose:
      return Fclose(ctx);
    case Op::Redirect:
      return Redirect(ctx, ins[1], ins[2]);
    case Op::Fseek:
      return Fseek(ctx, ins[1], ins[2]);
    case Op::Fflush:
      if (StatusCode st = PopDescriptor(ctx, &d); st != kOk) return st;
      return ControlDescriptor(ctx, d, kControlFlush, 0, nullptr, nullptr);
    case Op::Clc:
      if (ins[1] >= 1)
        if (StatusCode st = PopDescriptor(ctx, &d); st != kOk) return st;
      return ControlDescriptor(ctx, d, kControlClear, 0, nullptr, nullptr);
    case Op::Ftell: {
      if (StatusCode st = IntegerArg(ctx, 0, &d); st != kOk) return st;
      int32_t position = 0;
      const StatusCode st = ControlDescriptor(ctx, d, kControlTell, 0, &position, nullptr);
      if (st != kOk && st != kIoErr) return st;
      PopValue(ctx);
      return PushRealScalar(ctx, st == kIoErr ? -1 : position);
    }
    case Op::Feof: {
      if (StatusCode st = IntegerArg(ctx, 0, &d); st != kOk) return st;
      bool atEnd = false;
      if (StatusCode st = ControlDescriptor(ctx, d, kControlEof, 0, nullptr, &atEnd); st != kOk) return st;
      PopValue(ctx);
      return PushLogicalScalar(ctx, atEnd ? 1 : 0);
    }
    default:
      return kNotSupported;
  }
}
