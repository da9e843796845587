// Formatted text in and out: sprintf and fprintf over the engine's printf
// engine, the scan engine behind sscanf and fscanf, and the line reads of
// fgetl and fgets, which a descriptor with no byte yet suspends (502).
#include <algorithm>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/context.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

// ---------------------------------------------------------------------------
// Scanning.

// The text under scan: 16-bit characters of a value, or the bytes of a line.
struct ScanText {
  const uint16_t* wide;
  const uint8_t* narrow;
  int64_t length;
  uint16_t operator[](int64_t k) const { return wide != nullptr ? wide[k] : narrow[k]; }
};

constexpr int64_t kNoWidth = INT64_MAX;
constexpr int kShortNumber = 128;

bool IsBlank(uint16_t c) { return c == ' ' || c == '\t'; }
bool IsDecimal(uint16_t c) { return c >= '0' && c <= '9'; }
int DigitValue(uint16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

struct ScanState {
  ScanText text;
  int64_t t = 0;          // text position
  Cell* cells = nullptr;  // stored values, in the free data space
  int64_t stored = 0;
  int64_t capacity = 0;
  int64_t conversions = 0;
  bool charResult = true;
};

// The extent [from, to) of a number in the text turned into a double by the
// correctly rounding parser. Short texts are narrowed on the C stack, longer
// ones in the top end of the free data space, clear of the stored values.
[[nodiscard]] StatusCode ParseExtent(ScanState* s, int64_t from, int64_t to, double* out) {
  const int64_t n = to - from;
  char local[kShortNumber];
  char* bytes = local;
  if (n > kShortNumber) {
    const int64_t freeBytes = (s->capacity - s->stored - 1) * int64_t{sizeof(Cell)};
    if (n > freeBytes || n > INT32_MAX) return kDataStackFull;
    bytes = reinterpret_cast<char*>(s->cells + s->capacity) - n;
  }
  for (int64_t k = 0; k < n; ++k) bytes[k] = static_cast<char>(s->text[from + k]);
  int position = 0;
  if (!ParseRealNumber(bytes, static_cast<int>(n), &position, out)) *out = 0;
  return kOk;
}

// Takes an optional sign within the width; answers the sign.
double TakeSign(ScanState* s, int64_t* width) {
  if (*width > 0 && s->t < s->text.length && (s->text[s->t] == '-' || s->text[s->t] == '+')) {
    --*width;
    return s->text[s->t++] == '-' ? -1 : 1;
  }
  return 1;
}

// Digits of a base, at most width of them, accumulated as a double.
int64_t TakeDigits(ScanState* s, int base, int64_t* width, double* value) {
  int64_t n = 0;
  while (*width > 0 && s->t < s->text.length && DigitValue(s->text[s->t]) < base) {
    *value = *value * base + DigitValue(s->text[s->t]);
    ++s->t;
    --*width;
    ++n;
  }
  return n;
}

// One numeric conversion; *matched false when the text does not hold the
// number (the scan then ends, the text position where it was).
[[nodiscard]] StatusCode ScanNumber(ScanState* s, uint16_t letter, int64_t width, bool* matched, double* value) {
  *matched = false;
  *value = 0;
  const ScanText& x = s->text;
  const int64_t start = s->t;
  switch (letter) {
    case 'd': {
      TakeSign(s, &width);
      const int64_t digits = s->t;
      while (width > 0 && s->t < x.length && IsDecimal(x[s->t])) ++s->t, --width;
      if (s->t == digits) break;
      *matched = true;
      return ParseExtent(s, start, s->t, value);
    }
    case 'e':
    case 'f':
    case 'g': {
      TakeSign(s, &width);
      if (width <= 0 || s->t >= x.length || !(IsDecimal(x[s->t]) || x[s->t] == '.')) break;
      while (width > 0 && s->t < x.length && IsDecimal(x[s->t])) ++s->t, --width;
      // The point is not counted in the width.
      if (s->t < x.length && x[s->t] == '.') {
        ++s->t;
        while (width > 0 && s->t < x.length && IsDecimal(x[s->t])) ++s->t, --width;
      }
      if (width > 0 && s->t < x.length && (x[s->t] == 'e' || x[s->t] == 'E')) {
        ++s->t, --width;
        if (width > 0 && s->t < x.length && (x[s->t] == '-' || x[s->t] == '+')) ++s->t, --width;
        while (width > 0 && s->t < x.length && IsDecimal(x[s->t])) ++s->t, --width;
      }
      *matched = true;
      return ParseExtent(s, start, s->t, value);
    }
    case 'i': {
      const double sign = TakeSign(s, &width);
      if (width <= 0 || s->t >= x.length || !IsDecimal(x[s->t])) break;
      int base = 10;
      if (x[s->t] == '0' && s->t + 1 < x.length) {
        const uint16_t p = x[s->t + 1];
        // The two-letter prefixes are not counted in the width.
        if ((p == 'x' || p == 'X') && s->t + 2 < x.length && DigitValue(x[s->t + 2]) < 16) {
          base = 16;
          s->t += 2;
        } else if ((p == 'b' || p == 'B') && s->t + 2 < x.length && DigitValue(x[s->t + 2]) < 2) {
          base = 2;
          s->t += 2;
        } else {
          base = 8;
        }
      }
      double v = 0;
      if (TakeDigits(s, base, &width, &v) == 0) break;
      *matched = true;
      *value = sign * v;
      return kOk;
    }
    case 'o':
    case 'x': {
      double v = 0;
      if (TakeDigits(s, letter == 'o' ? 8 : 16, &width, &v) == 0) break;
      *matched = true;
      *value = v;
      return kOk;
    }
    default:
      break;
  }
  if (!*matched) s->t = start;
  return kOk;
}

[[nodiscard]] StatusCode Store(ScanState* s, double v) {
  if (s->stored >= s->capacity) return kDataStackFull;
  s->cells[s->stored++].f = v;
  return kOk;
}

// The walk over format and text; it ends without error when a literal or a
// conversion does not match.
[[nodiscard]] StatusCode WalkFormat(ScanState* s, const uint16_t* fmt, int64_t flen) {
  int64_t lastUnknown = 0;
  int64_t f = 0;
  int64_t passStart = s->t;
  while (s->t < s->text.length) {
    if (f >= flen) {
      // A pass that took no character of the text would take none again.
      if (s->t == passStart) return kOk;
      passStart = s->t;
      f = 0;
    }
    const uint16_t c = fmt[f];
    if (IsBlank(c)) {
      while (s->t < s->text.length && IsBlank(s->text[s->t])) ++s->t;
      ++f;
      continue;
    }
    if (c != '%' || f + 1 >= flen) {
      if (s->text[s->t] != c) return kOk;
      ++s->t;
      ++f;
      continue;
    }
    // A conversion: "%", an optional "*", the width, the letter.
    ++f;
    bool suppress = false;
    if (fmt[f] == '*' && f + 1 < flen) {
      suppress = true;
      ++f;
    }
    int64_t width = kNoWidth;
    if (f < flen && IsDecimal(fmt[f])) {
      width = 0;
      while (f < flen && IsDecimal(fmt[f])) width = std::min<int64_t>(width * 10 + (fmt[f++] - '0'), INT32_MAX);
    }
    if (s->stored >= s->capacity) return kDataStackFull;
    const uint16_t letter = f < flen ? fmt[f] : 0;
    if (f < flen) ++f;
    switch (letter) {
      case '%':
        if (s->text[s->t] != '%') return kOk;
        ++s->t;
        continue;
      case 'c': {
        const uint16_t ch = s->text[s->t++];
        ++s->conversions;
        if (!suppress)
          if (StatusCode st = Store(s, ch); st != kOk) return st;
        continue;
      }
      case 's': {
        while (s->t < s->text.length && IsBlank(s->text[s->t])) ++s->t;
        ++s->conversions;
        for (int64_t w = width; w > 0 && s->t < s->text.length && !IsBlank(s->text[s->t]); --w) {
          const uint16_t ch = s->text[s->t++];
          if (!suppress)
            if (StatusCode st = Store(s, ch); st != kOk) return st;
        }
        continue;
      }
      case 'd':
      case 'i':
      case 'o':
      case 'x':
      case 'e':
      case 'f':
      case 'g': {
        s->charResult = false;
        while (s->t < s->text.length && IsBlank(s->text[s->t])) ++s->t;
        bool matched = false;
        double v = 0;
        if (StatusCode st = ScanNumber(s, letter, width, &matched, &v); st != kOk) return st;
        if (!matched) return kOk;
        ++s->conversions;
        if (!suppress)
          if (StatusCode st = Store(s, v); st != kOk) return st;
        continue;
      }
      default:
        // Met again where the last one was (or at the start): nothing moves.
        if (s->t == lastUnknown) return kOk;
        lastUnknown = s->t;
        continue;
    }
  }
  return kOk;
}

[[nodiscard]] StatusCode ScanFormatted(EngineContext* ctx, ScanText text, int nargout) {
  if (!IsCharArg(ctx, 0)) return kBadArg;
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  auto restore = [&](StatusCode st) {
    ctx->descLength = descLength;
    ctx->dataTop = dataTop;
    return st;
  };
  // The count and the position are filled in at the end, under the values.
  const int extra = nargout >= 3 ? 2 : nargout >= 2 ? 1 : 0;
  for (int k = 0; k < extra; ++k)
    if (StatusCode st = PushRealScalar(ctx, 0); st != kOk) return restore(st);
  if (ctx->descLength + 3 >= ctx->descCapacity) return restore(kDescStackFull);

  ScanState s;
  s.text = text;
  s.cells = ctx->dataBase + ctx->dataTop;
  s.capacity = FreeDataCells(ctx) - 1;
  const ArrayView format = ReadArray(DataAt(ctx, extra));
  StatusCode st = WalkFormat(&s, reinterpret_cast<const uint16_t*>(format.data), format.count);
  if (st != kOk) return restore(st);

  // The values are where the matrix's cells go: it is pushed over them.
  const bool asText = s.charResult && s.stored > 0;
  const auto n = static_cast<int32_t>(s.stored);
  double* re = nullptr;
  st = s.stored == 0 ? PushEmptyMatrix(ctx) : PushDoubleMatrix(ctx, asText ? 1 : n, asText ? n : 1, &re, nullptr);
  if (st == kOk && asText) st = ConvertToChar(ctx, 1);
  if (st != kOk) return restore(st);
  if (extra >= 1) DataAt(ctx, 1)->f = static_cast<double>(s.conversions);
  if (extra >= 2) DataAt(ctx, 2)->f = static_cast<double>(s.t);
  // The first output on top: values, count, position.
  return kOk;
}

// ---------------------------------------------------------------------------
// Descriptors and lines.

// A real scalar argument as a descriptor or count: 44 when complex, 104 when
// not a scalar.
[[nodiscard]] StatusCode ReadScalarArg(EngineContext* ctx, int position, double* x) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (IsPlainMatrix(d) && (d.kind & kComplex)) return kWrongType;
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  if (GetArgDims(ctx, position, &ndims, dims, &count) != kOk) return kWrongType;
  if (count != 1) return kNonScalarArg;
  const StatusCode st = GetRealScalarArg(ctx, position, x);
  return st == kWrongTypeInternal ? kWrongType : st;
}

int32_t DescriptorNumber(double x) {
  const int64_t d = TruncateToInt64(x);
  return d < INT32_MIN || d > INT32_MAX ? INT32_MIN : static_cast<int32_t>(d);
}

// The line buffer of fscanf: the descriptor stack's free words beyond room
// for the results, so that the data space stays free for the values.
constexpr int kResultDescriptorWords = 16;

char* LineArea(EngineContext* ctx, int32_t* capacity) {
  const int64_t words = int64_t{ctx->descCapacity} - ctx->descLength - kResultDescriptorWords;
  *capacity = words > 0 ? static_cast<int32_t>(std::min<int64_t>(words * 4, INT32_MAX)) : 0;
  return reinterpret_cast<char*>(ctx->descBase + ctx->descLength + kResultDescriptorWords);
}

// The bytes of a suspended read and its marker: (bytes row, tagged count).
// The bytes lie in the descriptor stack's free words, beyond the two
// descriptors pushed here.
[[nodiscard]] StatusCode KeepPartialLine(EngineContext* ctx, const char* bytes, int32_t n) {
  const int32_t dims[] = {n > 0 ? 1 : 0, n};
  void* data = nullptr;
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  StatusCode st = PushIntegerArray(ctx, 2, dims, 1, true, &data);
  if (st == kOk) {
    std::memcpy(data, bytes, static_cast<size_t>(n));
    st = PushTaggedInteger(ctx, n);
  }
  if (st != kOk) {
    ctx->descLength = descLength;
    ctx->dataTop = dataTop;
  }
  return st;
}

}  // namespace

StatusCode ScanFormattedText(EngineContext* ctx, const uint16_t* text, int64_t length, int nargout) {
  return ScanFormatted(ctx, {text, nullptr, length}, nargout);
}

StatusCode ScanFormattedBytes(EngineContext* ctx, const char* text, int64_t length, int nargout) {
  return ScanFormatted(ctx, {nullptr, reinterpret_cast<const uint8_t*>(text), length}, nargout);
}

StatusCode ReadLineIntoBuffer(EngineContext* ctx, int32_t descriptor, bool strip, char* buffer, int32_t already,
                              int32_t maximum, int32_t* count) {
  int32_t got = 0;
  StatusCode st = ReadFromDescriptor(ctx, descriptor, buffer + already, std::max(maximum - already, 0), true, &got);
  *count = already + std::max(got, 0);
  if (st == kEof) st = kOk;
  if (st == kOk && strip && *count > 0 && buffer[*count - 1] == '\n') --*count;
  return st;
}

StatusCode SprintfOpcode(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  const StatusCode st = FormatPrintfArguments(ctx, n, false, nullptr, nullptr);
  if (st == kWrongType) PopValue(ctx);
  if (st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, n);
}

StatusCode FprintfOpcode(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1], nargout = ins[2];
  if (n < 1) return kTooFewArgin;
  int32_t descriptor = kStdoutDescriptor;
  int formatInputs = n;
  if (!IsCharArg(ctx, n - 1)) {
    if (!IsRealScalar(*DescriptorAt(ctx, n - 1))) return kNonScalarArg;
    if (n < 2) return kTooFewArgin;
    descriptor = DescriptorNumber(DataAt(ctx, n - 1)->f);
    formatInputs = n - 1;
  }
  const char* bytes = nullptr;
  int64_t length = 0;
  if (StatusCode st = FormatPrintfArguments(ctx, formatInputs, true, &bytes, &length); st != kOk) return st;
  if (length > INT32_MAX) return kObjTooLarge;
  if (StatusCode st = WriteToDescriptor(ctx, descriptor, bytes, static_cast<int32_t>(length)); st != kOk) return st;
  (void)DropArgsUnderResults(ctx, 0, n);
  if (nargout >= 1) return PushRealScalar(ctx, static_cast<double>(length));
  if (nargout < 0) return PushVoidValue(ctx);
  return kOk;
}

// sscanf's one operand is its output count; its inputs are always two.
StatusCode SscanfOpcode(EngineContext* ctx, const int16_t* ins) {
  const int nargout = std::max<int>(ins[1], 1);
  if (CheckArgTypes(ctx, 2, "SS") != kOk) return kWrongType;
  const ArrayView text = ReadArray(DataAt(ctx, 1));
  if (StatusCode st = ScanFormattedText(ctx, reinterpret_cast<const uint16_t*>(text.data), text.count, nargout);
      st != kOk)
    return st;
  return DropArgsUnderResults(ctx, std::min(nargout, 3), 2);
}

StatusCode FscanfOpcode(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  const int nargout = std::max<int>(ins[2], 1);
  int32_t marker = 0;
  const bool resumed = GetTaggedInteger(ctx, 0, &marker);
  const int above = resumed ? 2 : 0;  // the kept bytes and their marker
  int32_t descriptor = kStdinDescriptor;
  if (nargin >= 2) {
    double x = 0;
    if (StatusCode st = ReadScalarArg(ctx, above + nargin - 1, &x); st != kOk) return st;
    descriptor = DescriptorNumber(x);
  }
  if (!IsCharArg(ctx, above)) return kBadArg;

  int32_t capacity = 0;
  char* line = LineArea(ctx, &capacity);
  int32_t already = 0;
  if (resumed) {
    const ArrayView kept = ReadArray(DataAt(ctx, 1));
    already = static_cast<int32_t>(std::min<int64_t>(kept.count, capacity));
    std::memcpy(line, kept.data, static_cast<size_t>(already));
  }
  int32_t n = 0;
  const StatusCode st = ReadLineIntoBuffer(ctx, descriptor, true, line, already, capacity, &n);
  if (st == kWouldBlock) {
    if (resumed) {
      // The kept row is replaced by the longer line.
      PopValue(ctx);
      PopValue(ctx);
    }
    if (StatusCode kept = KeepPartialLine(ctx, line, n); kept != kOk) return kept;
    return kWouldBlock;
  }
  if (resumed) {
    PopValue(ctx);
    PopValue(ctx);
  }
  if (st != kOk) return st;
  if (StatusCode scanned = ScanFormattedBytes(ctx, line, n, nargout); scanned != kOk) return scanned;
  return DropArgsUnderResults(ctx, std::min(nargout, 2), nargin);
}

// fgetl (strip) and fgets: (descriptor [, maximum]).
StatusCode ReadTextLine(EngineContext* ctx, int nargin, bool strip) {
  int32_t already = 0;
  const bool resumed = GetTaggedInteger(ctx, 0, &already);
  if (resumed) PopValue(ctx);
  const int above = resumed ? 1 : 0;  // the line buffer
  double maximum = -1, d = 0;
  if (nargin >= 2)
    if (StatusCode st = ReadScalarArg(ctx, above, &maximum); st != kOk) return st;
  if (StatusCode st = ReadScalarArg(ctx, above + nargin - 1, &d); st != kOk) {
    if (resumed) (void)PushTaggedInteger(ctx, already);
    return st;
  }
  const int32_t descriptor = DescriptorNumber(d);
  uint16_t* codes = nullptr;
  int64_t chars = 0;
  if (!resumed) {
    chars = -2;
    if (StatusCode st = ReserveWideStringBuffer(ctx, &chars, &codes); st != kOk) return st;
  } else {
    const ArrayView row = ReadArray(TopData(ctx));
    codes = reinterpret_cast<uint16_t*>(row.data);
    chars = row.count;
  }
  // Without a decoder the bytes go to the row's start and are widened from
  // the last; with one they go to its second half and are decoded forward
  // into the first, each character written behind the bytes it came from.
  const bool decode = ctx->charsetDecode != nullptr;
  char* bytes = reinterpret_cast<char*>(codes) + (decode ? chars : 0);
  int64_t limit = std::min<int64_t>(chars, INT32_MAX);
  if (maximum >= 0) limit = std::min<int64_t>(limit, TruncateToInt64(maximum));
  int32_t n = 0;
  const StatusCode st = ReadLineIntoBuffer(ctx, descriptor, false, bytes, already, static_cast<int32_t>(limit), &n);
  if (st == kWouldBlock) {
    if (StatusCode kept = PushTaggedInteger(ctx, n); kept != kOk) return kept;
    return kWouldBlock;
  }
  if (st != kOk) {
    PopValue(ctx);
    return st;
  }
  int64_t m = 0;
  if (decode) {
    uint16_t ch = 0;
    for (int position = 0; position < n;)
      if (ctx->charsetDecode(bytes, &ch, &position, n)) codes[m++] = ch;
  } else {
    for (int64_t k = n - 1; k >= 0; --k) codes[k] = static_cast<uint8_t>(bytes[k]);
    m = n;
  }
  if (strip && m > 0 && codes[m - 1] == '\n') --m;
  if (StatusCode fin = FinishWideStringBuffer(ctx, m); fin != kOk) return fin;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode FgetlOpcode(EngineContext* ctx, const int16_t* ins) {
  return ReadTextLine(ctx, ins[1], static_cast<Op>(ins[0]) == Op::Fgetl);
}
