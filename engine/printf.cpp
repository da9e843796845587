// The printf engine behind sprintf, fprintf, error and warning: one format
// walked again and again over the elements of its inputs, the text built as
// 16-bit characters straight into a row reserved above the inputs.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/registry.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

constexpr int kDefaultPrecision = 4;
constexpr int kUnlimited = -1;
constexpr int kMaxFieldNumber = 1'000'000'000;  // widths and precisions saturate here
constexpr double kTwoTo32 = 4294967296.0;

// Where the inputs are and how far the walk has taken their elements. With
// the buffer on top, input i (0 the format) is at position inputs - i.
struct PrintfCursor {
  int inputs = 0;
  int next = 1;  // the next input to load
  bool loaded = false;
  NumericView view{};
  int64_t index = 0;      // the next element of the loaded input
  bool consumed = false;  // this pass took a value
};

[[nodiscard]] StatusCode LoadPrintfArgument(EngineContext* ctx, PrintfCursor* c) {
  if (c->next >= c->inputs) return kIndexOutOfRange;
  if (!ReadNumeric(ctx, c->inputs - c->next, &c->view)) return kWrongTypeInternal;
  ++c->next;
  c->loaded = true;
  c->index = 0;
  return kOk;
}

bool Is64BitClass(uint32_t cls) { return cls == kInt64 || cls == kUint64; }

// Integer mode reads a 32-bit integer (floats truncated toward zero, wider
// integers by their low bits); otherwise a double, and the exact value of a
// 64-bit class in *exact with *has64 set.
[[nodiscard]] StatusCode FetchPrintfElement(EngineContext* ctx, bool integerMode, PrintfCursor* c, double* out,
                                            int64_t* exact = nullptr, bool* has64 = nullptr) {
  while (!c->loaded || c->index >= c->view.count)
    if (StatusCode st = LoadPrintfArgument(ctx, c); st != kOk) return st;
  const NumericView& v = c->view;
  const int64_t k = c->index++;
  c->consumed = true;
  if (has64 != nullptr) *has64 = false;
  if (integerMode) {
    const uint64_t bits = IsIntegerClass(v.cls) ? static_cast<uint64_t>(IntegerElement(v, k))
                                                : static_cast<uint64_t>(TruncateToInt64(RealElement(v, k)));
    *out = static_cast<int32_t>(static_cast<uint32_t>(bits));
    return kOk;
  }
  *out = RealElement(v, k);
  if (Is64BitClass(v.cls) && exact != nullptr && has64 != nullptr) {
    *exact = static_cast<int64_t>(IntegerElement(v, k));
    *has64 = true;
  }
  return kOk;
}

// The elements left in the current input, the next one loaded first (once)
// when the current one is used up.
[[nodiscard]] StatusCode CountPrintfElementsLeft(EngineContext* ctx, PrintfCursor* c, int64_t* count) {
  if (!c->loaded || c->index >= c->view.count)
    if (StatusCode st = LoadPrintfArgument(ctx, c); st != kOk) return st;
  *count = c->view.count - c->index;
  return kOk;
}

// Whether another pass has a value to take. An input that is no array counts
// as having one, so that the pass meets it and reports it.
bool ElementsRemain(EngineContext* ctx, const PrintfCursor& c) {
  if (c.loaded && c.index < c.view.count) return true;
  for (int i = c.next; i < c.inputs; ++i) {
    int ndims = 0;
    int32_t dims[kMaxDims];
    int64_t count = 0;
    if (GetArgDims(ctx, c.inputs - i, &ndims, dims, &count) != kOk || count > 0) return true;
  }
  return false;
}

// The output row: codes[0 .. length) written, capacity characters reserved.
struct PrintfOutput {
  uint16_t* codes;
  int64_t length;
  int64_t capacity;
  char lineEnd[3];
  bool translate;
};

[[nodiscard]] StatusCode PutChar(PrintfOutput* o, uint16_t ch) {
  if (o->length >= o->capacity) return kDataStackFull;
  o->codes[o->length++] = ch;
  return kOk;
}

// A character of the text, a line feed becoming the line end when translating.
[[nodiscard]] StatusCode PutTextChar(PrintfOutput* o, uint16_t ch) {
  if (ch != '\n' || !o->translate) return PutChar(o, ch);
  for (const char* p = o->lineEnd; *p != 0; ++p)
    if (StatusCode st = PutChar(o, static_cast<uint8_t>(*p)); st != kOk) return st;
  return kOk;
}

[[nodiscard]] StatusCode PutBlanks(PrintfOutput* o, int64_t n) {
  for (int64_t k = 0; k < n; ++k)
    if (StatusCode st = PutChar(o, ' '); st != kOk) return st;
  return kOk;
}

// Runs an 8-bit formatter into the free part of the row, as bytes from the
// next character on, and widens what it wrote in place: byte k moves to
// character k, read from the last so that nothing is overwritten unread. A
// text that reaches the end of the bytes may have been cut: 3.
template <class Formatter>
[[nodiscard]] StatusCode PutFormatted(PrintfOutput* o, Formatter format) {
  const int64_t room = o->capacity - o->length;
  if (room < 1) return kDataStackFull;
  const int size = static_cast<int>(std::min<int64_t>(2 * room, INT32_MAX));
  auto* bytes = reinterpret_cast<char*>(o->codes + o->length);
  int written = 0;
  format(bytes, &written, size);
  if (written > room || written >= size - 1) return kDataStackFull;
  for (int k = written - 1; k >= 0; --k) o->codes[o->length + k] = static_cast<uint8_t>(bytes[k]);
  o->length += written;
  return kOk;
}

// floor(x + 0.5) of a finite double, reduced modulo 2^32, without rounding
// error: the fraction is exact, and fmod of an integral double is exact.
uint32_t RoundedLow32(double x) {
  const double whole = std::floor(x);
  const uint32_t up = x - whole >= 0.5 ? 1 : 0;
  double m = std::fmod(whole, kTwoTo32);
  if (m < 0) m += kTwoTo32;
  return static_cast<uint32_t>(m) + up;
}

// The integer part of a non-negative finite double modulo 2^32.
uint32_t IntegerPartLow32(double x) { return static_cast<uint32_t>(std::fmod(std::floor(x), kTwoTo32)); }

struct ConversionSpec {
  NumberFormat format;
  int precision = kDefaultPrecision;
  bool hasPrecision = false;
};

bool IsAsciiLetter(uint16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(uint16_t c) { return c >= '0' && c <= '9'; }

int ReadFieldNumber(const uint16_t* fmt, int64_t length, int64_t* q) {
  int64_t n = 0;
  for (; *q < length && IsDigit(fmt[*q]); ++*q) n = std::min<int64_t>(n * 10 + (fmt[*q] - '0'), kMaxFieldNumber);
  return static_cast<int>(n);
}

// A '*' field: the next element in integer mode.
[[nodiscard]] StatusCode FetchStarField(EngineContext* ctx, PrintfCursor* c, int* value) {
  double x = 0;
  if (StatusCode st = FetchPrintfElement(ctx, true, c, &x); st != kOk) return st;
  *value = static_cast<int>(x);
  return kOk;
}

[[nodiscard]] StatusCode PutAsG(PrintfOutput* o, double x, const ConversionSpec& s, bool upper) {
  NumberFormat f = s.format;
  f.uppercase = upper;
  f.zeroPad = false;
  f.minDigits = 1;
  return PutFormatted(o, [&](char* b, int* p, int size) { FormatDouble(b, p, x, s.precision, 'g', size, f); });
}

// One numeric conversion of the next element.
[[nodiscard]] StatusCode PutNumber(EngineContext* ctx, PrintfCursor* c, PrintfOutput* o, uint16_t letter,
                                   ConversionSpec s) {
  double x = 0;
  int64_t exact = 0;
  bool has64 = false;
  if (StatusCode st = FetchPrintfElement(ctx, false, c, &x, &exact, &has64); st != kOk) return st;
  NumberFormat& f = s.format;
  switch (letter) {
    case 'd':
    case 'i':
      if (!std::isfinite(x)) return PutAsG(o, x, s, false);
      f.zeroPad = false;
      if (has64) {
        f.isUnsigned = c->view.cls == kUint64;
        return PutFormatted(o, [&](char* b, int* p, int size) { FormatDecimal64(b, p, exact, size, f); });
      }
      return PutFormatted(
          o, [&](char* b, int* p, int size) { FormatDecimal32(b, p, static_cast<int32_t>(RoundedLow32(x)), size, f); });
    case 'x':
    case 'X':
    case 'o': {
      const bool negative = has64 ? (c->view.cls == kInt64 && exact < 0) : !(x >= 0);
      if (negative || !std::isfinite(x)) return PutAsG(o, x, s, letter == 'X');
      f.zeroPad = false;
      f.uppercase = letter == 'X';
      const bool hex = letter != 'o';
      const auto u64 = static_cast<uint64_t>(exact);
      const uint32_t u32 = has64 ? 0 : IntegerPartLow32(x);
      return PutFormatted(o, [&](char* b, int* p, int size) {
        if (has64)
          hex ? FormatHex64(b, p, u64, size, f) : FormatOctal64(b, p, u64, size, f);
        else
          hex ? FormatHex32(b, p, u32, size, f) : FormatOctal32(b, p, u32, size, f);
      });
    }
    default: {
      // e E f F g G k K n N
      const bool upper = letter >= 'A' && letter <= 'Z';
      const char lower = static_cast<char>(upper ? letter - 'A' + 'a' : letter);
      f.uppercase = upper;
      return PutFormatted(o, [&](char* b, int* p, int size) { FormatDouble(b, p, x, s.precision, lower, size, f); });
    }
  }
}

bool IsNumericLetter(uint16_t c) { return c < 128 && std::strchr("dioxXeEfFgGkKnN", static_cast<char>(c)) != nullptr; }
bool TakesZeroFill(uint16_t c) {
  return c < 128 && c != 0 && std::strchr("eEfFgGkKnN", static_cast<char>(c)) != nullptr;
}

// What a conversion left the walk with.
enum class Step { kGoOn, kComplete };

// One conversion at fmt[*p] == '%' with at least one character after it.
// *p ends after what the conversion used; a fetch that finds no input left
// completes the output, one that meets an input of another kind answers 43.
[[nodiscard]] StatusCode RunConversion(EngineContext* ctx, const uint16_t* fmt, int64_t length, int64_t* p,
                                       PrintfCursor* c, PrintfOutput* o, Step* step) {
  *step = Step::kGoOn;
  int64_t q = *p + 1;
  int64_t k = q;
  while (k < length && !IsAsciiLetter(fmt[k]) && fmt[k] != '_') ++k;
  const uint16_t found = k < length ? fmt[k] : 0;
  ConversionSpec s;
  s.precision = found == 's' ? kUnlimited : kDefaultPrecision;

  for (; q < length; ++q) {
    const uint16_t ch = fmt[q];
    if (ch == '-')
      s.format.leftJustify = true;
    else if (ch == '+')
      s.format.plus = true;
    else if (ch == '#')
      s.format.alternate = true;
    else if (ch == ' ')
      s.format.blank = true;
    else
      break;
  }
  // A missing element for '*' completes the output like a missing value.
  auto fetchFailed = [&](StatusCode st) {
    if (st == kIndexOutOfRange) {
      *step = Step::kComplete;
      return kOk;
    }
    return st;
  };
  if (q < length && fmt[q] == '*') {
    int w = 0;
    if (StatusCode st = FetchStarField(ctx, c, &w); st != kOk) return fetchFailed(st);
    if (w < 0) {
      s.format.leftJustify = true;
      w = w == INT32_MIN ? INT32_MAX : -w;
    }
    s.format.width = std::min(w, kMaxFieldNumber);
    ++q;
  } else if (q < length && IsDigit(fmt[q])) {
    if (fmt[q] == '0' && TakesZeroFill(found)) s.format.zeroPad = true;
    s.format.width = ReadFieldNumber(fmt, length, &q);
  }
  if (q < length && fmt[q] == '.') {
    ++q;
    s.hasPrecision = true;
    if (q < length && fmt[q] == '*') {
      int prec = 0;
      if (StatusCode st = FetchStarField(ctx, c, &prec); st != kOk) return fetchFailed(st);
      // A negative precision is taken as none.
      if (prec < 0) s.hasPrecision = false;
      s.precision = prec < 0 ? s.precision : std::min(prec, kMaxFieldNumber);
      ++q;
    } else {
      s.precision = ReadFieldNumber(fmt, length, &q);
    }
  }
  if (q >= length) {
    // The conversion ran to the end of the format: its last character alone.
    *p = length;
    return PutTextChar(o, fmt[length - 1]);
  }
  const uint16_t letter = fmt[q];
  s.format.minDigits = s.hasPrecision ? s.precision : 1;
  *p = q + 1;

  if (letter == '%') return PutChar(o, '%');
  if (IsNumericLetter(letter)) {
    if (StatusCode st = PutNumber(ctx, c, o, letter, s); st != kOk) return fetchFailed(st);
    return kOk;
  }
  if (letter == 'c') {
    double x = 0;
    if (StatusCode st = FetchPrintfElement(ctx, true, c, &x); st != kOk) return fetchFailed(st);
    const int64_t pad = s.format.width - 1;
    if (!s.format.leftJustify)
      if (StatusCode st = PutBlanks(o, pad); st != kOk) return st;
    if (StatusCode st = PutTextChar(o, static_cast<uint16_t>(static_cast<int32_t>(x))); st != kOk) return st;
    return s.format.leftJustify ? PutBlanks(o, pad) : kOk;
  }
  if (letter == 's') {
    int64_t count = 0;
    if (StatusCode st = CountPrintfElementsLeft(ctx, c, &count); st != kOk) return fetchFailed(st);
    c->consumed = true;
    const int64_t n = s.precision >= 0 ? std::min<int64_t>(count, s.precision) : count;
    const int64_t pad = s.format.width - n;
    if (!s.format.leftJustify)
      if (StatusCode st = PutBlanks(o, pad); st != kOk) return st;
    for (int64_t e = 0; e < n; ++e) {
      double x = 0;
      if (StatusCode st = FetchPrintfElement(ctx, true, c, &x); st != kOk) return st;
      if (StatusCode st = PutTextChar(o, static_cast<uint16_t>(static_cast<int32_t>(x))); st != kOk) return st;
    }
    c->index = c->view.count;
    return s.format.leftJustify ? PutBlanks(o, pad) : kOk;
  }
  // Unknown: a '%', then the walk goes on at the letter, as text.
  *p = q;
  return PutChar(o, '%');
}

void* UserDataOf(const EngineContext* ctx, const NativeFunctionRecord* r) {
  return r->userData != nullptr ? r->userData : ctx->nativeUserData;
}

}  // namespace

void GetHookLineEnd(EngineContext* ctx, char* lineEnd) {
  uint8_t style = 1;
  int cursor = -1;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, "+write", &cursor, nullptr)) {
    const StatusCode st = HandlerAs<WriteHook>(r->handler)(ctx, kStdoutDescriptor, "", 0, UserDataOf(ctx, r));
    if (st == kBadFileId) continue;
    if (st == kOk) style = r->minInputs;
    break;
  }
  const char* end = style == 1 ? "\n" : style == 2 ? "\r\n" : "\r";
  std::strcpy(lineEnd, end);
}

StatusCode FormatPrintfArguments(EngineContext* ctx, int n, bool translate, const char** text, int64_t* length) {
  if (n < 1) return kTooFewArgin;
  if (!IsCharArg(ctx, n - 1)) return kBadArg;
  PrintfOutput o{};
  o.translate = translate;
  std::strcpy(o.lineEnd, "\n");
  if (translate) GetHookLineEnd(ctx, o.lineEnd);
  // Half the free data space, within what a row may hold.
  o.capacity = std::min<int64_t>(2 * FreeDataCells(ctx), kMaxIntegerElements);
  if (StatusCode st = ReserveWideStringBuffer(ctx, &o.capacity, &o.codes); st != kOk) return st;
  if (o.capacity < 1) {
    PopValue(ctx);
    return kDataStackFull;
  }

  const ArrayView format = ReadArray(DataAt(ctx, n));
  const auto* fmt = reinterpret_cast<const uint16_t*>(format.data);
  const int64_t flen = format.count;
  PrintfCursor c;
  c.inputs = n;
  StatusCode result = kOk;
  bool complete = false;
  while (!complete && result == kOk) {
    c.consumed = false;
    for (int64_t p = 0; p < flen && !complete && result == kOk;) {
      const uint16_t ch = fmt[p];
      if (ch != '%' || p + 1 >= flen) {
        result = PutTextChar(&o, ch);
        ++p;
        continue;
      }
      Step step = Step::kGoOn;
      result = RunConversion(ctx, fmt, flen, &p, &c, &o, &step);
      complete = step == Step::kComplete;
    }
    if (!c.consumed || !ElementsRemain(ctx, c)) complete = true;
  }
  // An input of another kind ends the output where it stands, with the text
  // so far, and the caller learns of it: error and warning still use the text.
  if (result == kWrongTypeInternal) result = kWrongType;
  if (result != kOk && result != kWrongType) {
    PopValue(ctx);
    return result;
  }
  if (StatusCode st = FinishWideStringBuffer(ctx, o.length); st != kOk) {
    PopValue(ctx);
    return st;
  }
  if (text == nullptr) {
    if (length != nullptr) *length = o.length;
    return result;
  }
  uint8_t* bytes = nullptr;
  int64_t count = 0;
  if (StatusCode st = EncodeCharArg(ctx, 0, false, &bytes, &count); st != kOk) {
    PopValue(ctx);
    return st;
  }
  PopValue(ctx);
  *text = reinterpret_cast<const char*>(bytes);
  if (length != nullptr) *length = count;
  return result;
}
