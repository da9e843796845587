// Number and text formatting: bounded appends, the floating-point, complex and
// integer formatters, the real-number parser and UTF-8 coding. Nothing here
// allocates or keeps state; every routine works in the caller's buffer.
#include "engine/values/textformat.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace {

int ResolveLength(const char* text, int length) { return length < 0 ? static_cast<int>(std::strlen(text)) : length; }

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Writes one byte when the position + 1 is below the size, as the appends do.
void PutByte(char* buffer, int* position, char c, int size) {
  if (*position + 1 < size) buffer[(*position)++] = c;
}

double PowerOfTen(int k) { return std::pow(10.0, k); }

// The digit at fraction position k (1-based) of m, found by the same repeated
// multiplication that writes the digits, so the two always agree.
int FractionDigitAt(double m, int k) {
  double fr = m - std::floor(m);
  int d = 0;
  for (int i = 0; i < k; ++i) {
    fr *= 10;
    d = static_cast<int>(std::floor(fr));
    fr -= d;
  }
  return d;
}

int IntegerDigitCount(double m) {
  int n = 0;
  // 400 bounds the loop for an infinite m; real mantissas stop far below.
  while (n < 400 && m >= PowerOfTen(n)) ++n;
  return n;
}

int ExponentDigits(int e) { return (e <= -10 || e >= 10) ? 2 : 1; }

// What a value looks like after the form, digit count and rounding are chosen.
struct DoubleLayout {
  double m;  // mantissa (or the value in fixed form), already rounded
  int nd;    // fraction digits; <= 0 means no fraction
  int exponent;
  bool exponentForm;
};

DoubleLayout LayOutDouble(double a, int precision, char conversion) {
  const bool keepsTakingDigits = conversion == 'f' || conversion == 'e' || conversion == 'n';
  const bool trimsDigits = conversion == 'g' || conversion == 'k' || conversion == 'K';
  const bool compact = conversion == 'k' || conversion == 'K';

  DoubleLayout out{a, 0, 0, false};
  if (conversion == 'e' || conversion == 'n' || compact) {
    out.exponentForm = true;
  } else if (conversion == 'f') {
    out.exponentForm = a > 1e18;
  } else {
    out.exponentForm = a >= 2e9 || (a > 0 && a < 0.1);
  }

  if (out.exponentForm) {
    int e = a == 0 ? 0 : static_cast<int>(std::floor(std::log10(a)));
    if (conversion == 'n') e = static_cast<int>(std::floor(e / 3.0)) * 3;
    double m;
    if (std::fpclassify(a) == FP_SUBNORMAL) {
      // 10^e itself would underflow; divide in two steps.
      m = a / PowerOfTen(e / 2) / PowerOfTen(e - e / 2);
    } else {
      m = a / PowerOfTen(e);
    }
    if (std::isinf(m)) m = 0;
    out.m = m;
    out.exponent = e;
  }

  double r = 0.5;
  if (precision > 0 && keepsTakingDigits) {
    out.nd = precision;
    // r reaches 0 long before 400 divisions, and stays there.
    for (int i = 0; i < precision && i < 400; ++i) r /= 10;
  } else if (precision > 0 && trimsDigits) {
    double fr = out.m - std::floor(out.m);
    while (out.nd < precision && fr > 1e-6 && fr < 0.999999) {
      ++out.nd;
      r /= 10;
      fr *= 10;
      fr -= std::floor(fr);
    }
  }
  out.m += r;

  if (trimsDigits) {
    while (out.nd > 0 && FractionDigitAt(out.m, out.nd) == 0) --out.nd;
    if (out.nd == 0 && std::fmod(std::floor(out.m), 10.0) == 0) out.nd = -1;
  }

  if (compact) {
    const int e = out.exponent;
    const int nd = out.nd;
    const int w = e >= nd ? e : (e >= 0 ? nd + 1 : nd - e + 1);
    const int l1 = nd + 2 + ExponentDigits(e) + (e < 0 ? 1 : 0);
    const int e2 = e - nd;
    const int l2 = nd + 1 + ExponentDigits(e2) + (e2 < 0 ? 1 : 0);
    const int slack = conversion == 'K' ? 1 : 0;
    if (w - slack <= l1 && w - slack <= l2) {
      const int fd = nd >= e ? nd - e : 0;
      out.m = a + 0.5 * PowerOfTen(-fd);
      out.nd = fd;
      out.exponentForm = false;
    } else if (l2 < l1) {
      out.m *= PowerOfTen(nd);
      out.exponent = e2;
      out.nd = 0;
    }
  }
  return out;
}

void FillWidth(char* buffer, int* position, int start, int width, bool leftJustify, bool zeroPad, int size) {
  const int written = *position - start;
  if (width <= written) return;
  const int missing = width - written;
  if (leftJustify) {
    AppendRepeatedChar(buffer, position, ' ', missing, size);
    return;
  }
  // No room for the whole fill: none at all. 64-bit, as the width is the caller's.
  if (int64_t{*position} + missing + 2 >= size) return;
  int from = start;
  if (zeroPad && written > 0 && (buffer[start] == '+' || buffer[start] == '-' || buffer[start] == ' ')) ++from;
  std::memmove(buffer + from + missing, buffer + from, *position - from);
  std::memset(buffer + from, zeroPad ? '0' : ' ', missing);
  *position += missing;
}

// Sign, prefix, leading zeros and digits of an integer, padded to the width.
// Each byte goes through PutByte, so a short buffer gets a prefix of the text.
struct IntegerText {
  const char* sign;  // "", "-", "+" or " "
  const char* prefix;
  int zeros;
  const char* digits;
  int digitCount;
};

void WriteIntegerText(char* buffer, int* position, const IntegerText& t, int width, bool leftJustify, int size) {
  const int64_t length = int64_t{TextLength(t.sign)} + TextLength(t.prefix) + t.zeros + t.digitCount;
  const int fill = width > length ? static_cast<int>(width - length) : 0;
  if (!leftJustify) AppendRepeatedChar(buffer, position, ' ', fill, size);
  AppendText(buffer, position, t.sign, size);
  AppendText(buffer, position, t.prefix, size);
  AppendRepeatedChar(buffer, position, '0', t.zeros, size);
  AppendChars(buffer, position, t.digits, t.digitCount, size);
  if (leftJustify) AppendRepeatedChar(buffer, position, ' ', fill, size);
}

// Digits of value in the base into out (most significant first); none for 0.
// 64 bytes hold the longest case, 64 binary digits.
int UnsignedDigits(uint64_t value, unsigned base, bool uppercase, char (&out)[64]) {
  const char* alphabet = uppercase ? "0123456789ABCDEF" : "0123456789abcdef";
  char reversed[64];
  int n = 0;
  while (value != 0) {
    reversed[n++] = alphabet[value % base];
    value /= base;
  }
  for (int i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
  return n;
}

int ZerosBefore(int digitCount, const NumberFormat& f) {
  return f.minDigits > digitCount ? f.minDigits - digitCount : 0;
}

void FormatDecimal(char* buffer, int* position, uint64_t magnitude, bool negative, int size, const NumberFormat& f) {
  char digits[64];
  const int n = UnsignedDigits(magnitude, 10, false, digits);
  const char* sign = negative ? "-" : f.plus ? "+" : f.blank ? " " : "";
  const IntegerText t{sign, "", ZerosBefore(n, f), digits, n};
  WriteIntegerText(buffer, position, t, f.width, f.leftJustify, size);
}

void FormatHex(char* buffer, int* position, uint64_t value, int size, const NumberFormat& f) {
  char digits[64];
  const int n = UnsignedDigits(value, 16, f.uppercase, digits);
  const IntegerText t{"", f.alternate && value != 0 ? "0x" : "", ZerosBefore(n, f), digits, n};
  WriteIntegerText(buffer, position, t, f.width, f.leftJustify, size);
}

void FormatOctal(char* buffer, int* position, uint64_t value, int size, const NumberFormat& f) {
  char digits[64];
  const int n = UnsignedDigits(value, 8, false, digits);
  int zeros = ZerosBefore(n, f);
  // The digits of a nonzero value never start with 0, so only padding can supply it.
  if (f.alternate && value != 0 && zeros == 0) zeros = 1;
  const IntegerText t{"", "", zeros, digits, n};
  WriteIntegerText(buffer, position, t, f.width, f.leftJustify, size);
}

}  // namespace

// ---------------------------------------------------------------------------
// Text helpers

void CopyTextBounded(char* buffer, int size, const char* text, int length) {
  if (size <= 0) return;
  const int n = ResolveLength(text, length);
  const int count = n < size ? n : size;
  std::memmove(buffer, text, count);
  if (count < size) buffer[count] = '\0';
}

bool TextEquals(const char* a, int lengthA, const char* b, int lengthB, bool ignoreCase) {
  if (lengthA >= 0 && lengthB >= 0 && lengthA != lengthB) return false;
  for (int i = 0;; ++i) {
    // Checked before reading, so a counted text is never read past its length.
    const bool endA = lengthA >= 0 ? i == lengthA : a[i] == '\0';
    const bool endB = lengthB >= 0 ? i == lengthB : b[i] == '\0';
    if (endA || endB) return endA && endB;
    const char ca = ignoreCase ? FoldAscii(a[i]) : a[i];
    const char cb = ignoreCase ? FoldAscii(b[i]) : b[i];
    if (ca != cb) return false;
  }
}

int TextLength(const char* text) { return static_cast<int>(std::strlen(text)); }

int FindSubstring(const char* text, int length, const char* pattern, int patternLength) {
  const int n = ResolveLength(text, length);
  const int m = ResolveLength(pattern, patternLength);
  for (int i = 0; i + m <= n; ++i) {
    if (std::memcmp(text + i, pattern, m) == 0) return i;
  }
  return -1;
}

int AppendText(char* buffer, int* position, const char* text, int size) {
  while (*text != '\0' && *position + 1 < size) buffer[(*position)++] = *text++;
  return static_cast<unsigned char>(*text);
}

int AppendChars(char* buffer, int* position, const char* bytes, int count, int size) {
  int copied = 0;
  while (copied < count && *position + 1 < size) buffer[(*position)++] = bytes[copied++];
  return copied;
}

int AppendRepeatedChar(char* buffer, int* position, char byte, int count, int size) {
  int written = 0;
  while (written < count && *position + 1 < size) {
    buffer[(*position)++] = byte;
    ++written;
  }
  return written;
}

int AppendRepeatedWideChar(uint16_t* buffer, int* position, uint16_t ch, int count, int size) {
  int written = 0;
  while (written < count && *position + 1 < size) {
    buffer[(*position)++] = ch;
    ++written;
  }
  return written;
}

bool AppendUtf8Char(char* buffer, int* position, uint16_t ch, int size) {
  if (*position + 3 > size) return false;
  char* p = buffer + *position;
  if (ch < 0x80) {
    p[0] = static_cast<char>(ch);
    *position += 1;
  } else if (ch < 0x800) {
    p[0] = static_cast<char>(0xC0 | (ch >> 6));
    p[1] = static_cast<char>(0x80 | (ch & 0x3F));
    *position += 2;
  } else {
    p[0] = static_cast<char>(0xE0 | (ch >> 12));
    p[1] = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    p[2] = static_cast<char>(0x80 | (ch & 0x3F));
    *position += 3;
  }
  return true;
}

bool DecodeUtf8Char(const char* text, int length, int* position, uint16_t* out) {
  const int n = ResolveLength(text, length);
  int p = position ? *position : 0;
  if (p < 0 || p >= n) return false;
  const auto byte = [&](int i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](int i) { return i < n && (byte(i) & 0xC0) == 0x80; };
  const unsigned lead = byte(p);
  bool ok = true;
  if (lead < 0x80) {
    *out = static_cast<uint16_t>(lead);
    p += 1;
  } else if ((lead & 0xE0) == 0xC0 && continuation(p + 1)) {
    *out = static_cast<uint16_t>(((lead & 0x1F) << 6) | (byte(p + 1) & 0x3F));
    p += 2;
  } else if ((lead & 0xF0) == 0xE0 && continuation(p + 1) && continuation(p + 2)) {
    *out = static_cast<uint16_t>(((lead & 0x0F) << 12) | ((byte(p + 1) & 0x3F) << 6) | (byte(p + 2) & 0x3F));
    p += 3;
  } else {
    p += 1;
    ok = false;
  }
  if (position) *position = p;
  return ok;
}

bool ParseRealNumber(const char* text, int length, int* position, double* out) {
  const int n = ResolveLength(text, length);
  int p = position ? *position : 0;
  if (p < 0 || p > n) return false;
  while (p < n && (text[p] == ' ' || text[p] == '\t')) ++p;
  bool negative = false;
  if (p < n && (text[p] == '-' || text[p] == '+')) negative = text[p++] == '-';
  if (!(p < n && (IsDigit(text[p]) || text[p] == '.'))) {
    if (position) *position = p;
    return false;
  }

  // Lexing fixes the end position; the digits are then converted in one step
  // so that the result is the double nearest to the decimal text.
  const int start = p;
  int firstNonzero = -1;  // in the run of mantissa digits
  int integerDigits = 0;
  int mantissaDigits = 0;
  for (; p < n && IsDigit(text[p]); ++p, ++integerDigits, ++mantissaDigits) {
    if (firstNonzero < 0 && text[p] != '0') firstNonzero = mantissaDigits;
  }
  if (p < n && text[p] == '.') {
    ++p;
    for (; p < n && IsDigit(text[p]); ++p, ++mantissaDigits) {
      if (firstNonzero < 0 && text[p] != '0') firstNonzero = mantissaDigits;
    }
  }
  int numberEnd = p;
  int64_t exponent = 0;
  if (p < n && (text[p] == 'e' || text[p] == 'E')) {
    ++p;
    bool expNegative = false;
    if (p < n && (text[p] == '-' || text[p] == '+')) expNegative = text[p++] == '-';
    const int expStart = p;
    for (; p < n && IsDigit(text[p]); ++p) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[p] - '0');
    }
    if (expNegative) exponent = -exponent;
    if (p > expStart) numberEnd = p;  // "e" without digits means e0: left out of the conversion
  }

  double value = 0;
  if (mantissaDigits > 0) {
    const auto r = std::from_chars(text + start, text + numberEnd, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
      // Only far-out exponents get here, so the leading digit's decade decides.
      const int64_t decade = integerDigits - 1 - firstNonzero + exponent;
      value = decade >= 0 ? HUGE_VAL : 0.0;
    }
  }
  *out = negative ? -value : value;
  if (position) *position = p;
  return true;
}

// ---------------------------------------------------------------------------
// Floating-point and complex formatters

void FormatDouble(char* buffer, int* position, double value, int precision, char conversion, int size,
                  const NumberFormat& format) {
  const int start = *position;
  if (!std::isfinite(value)) {
    const char* word;
    if (std::isnan(value)) {
      word = format.uppercase ? "NaN" : "nan";
    } else if (value < 0) {
      word = format.uppercase ? "-Inf" : "-inf";
    } else if (format.plus) {
      word = format.uppercase ? "+Inf" : "+inf";
    } else if (format.blank) {
      word = format.uppercase ? " Inf" : " inf";
    } else {
      word = format.uppercase ? "Inf" : "inf";
    }
    const int length = TextLength(word);
    const int missing = format.width > length ? format.width - length : 0;
    if (!format.leftJustify && missing > 0) AppendRepeatedChar(buffer, position, ' ', missing, size);
    AppendText(buffer, position, word, size);
    if (format.leftJustify && missing > 0) AppendRepeatedChar(buffer, position, ' ', missing, size);
    return;
  }

  if (value < 0) {
    PutByte(buffer, position, '-', size);
  } else if (format.plus) {
    PutByte(buffer, position, '+', size);
  } else if (format.blank) {
    PutByte(buffer, position, ' ', size);
  }

  const DoubleLayout lay = LayOutDouble(std::fabs(value), precision, conversion);

  const int integerDigits = IntegerDigitCount(lay.m);
  if (integerDigits == 0 && *position + 2 < size) buffer[(*position)++] = '0';
  for (int k = integerDigits - 1; k >= 0 && *position + 2 < size; --k) {
    const double d = std::fmod(std::floor(lay.m / PowerOfTen(k)), 10.0);
    buffer[(*position)++] = static_cast<char>('0' + static_cast<int>(d));
  }
  if ((lay.nd > 0 || format.alternate) && *position + 2 < size) {
    buffer[(*position)++] = '.';
    double fr = lay.m - std::floor(lay.m);
    for (int i = 0; i < lay.nd && *position + 2 < size; ++i) {
      fr *= 10;
      const int d = static_cast<int>(std::floor(fr));
      fr -= d;
      buffer[(*position)++] = static_cast<char>('0' + d);
    }
  }

  if (lay.exponentForm && *position + 5 < size) {
    buffer[(*position)++] = format.uppercase ? 'E' : 'e';
    int e = lay.exponent;
    if (e < 0) {
      buffer[(*position)++] = '-';
      e = -e;
    }
    char digits[64];
    const int n = UnsignedDigits(static_cast<uint64_t>(e), 10, false, digits);
    if (n == 0) {
      buffer[(*position)++] = '0';
    } else {
      // |E| stays below 1000, so the five-byte test above covers these.
      AppendChars(buffer, position, digits, n, size);
    }
  }

  FillWidth(buffer, position, start, format.width, format.leftJustify, format.zeroPad, size);
}

void FormatComplex(char* buffer, int* position, double re, double im, int precision, char conversion, int size,
                   const NumberFormat& format) {
  const int start = *position;
  const int width = format.width;
  const bool leftJustify = format.leftJustify;
  NumberFormat part = format;
  part.width = leftJustify || width <= 2 ? 0 : (width - 2) / 2;
  part.zeroPad = false;
  FormatDouble(buffer, position, re, precision, conversion, size, part);

  // NaN and infinite real parts absorb any finite imaginary part: both
  // comparisons are false for them, as they are for a negligible one.
  const double sum = re + im;
  const bool showImaginary = std::isnan(im) || sum < re || sum > re;
  if (showImaginary && *position < size - 3) {
    if (!leftJustify) PutByte(buffer, position, ' ', size);
    PutByte(buffer, position, im < 0 ? '-' : '+', size);
    if (!leftJustify && width % 2 != 0) PutByte(buffer, position, ' ', size);
    // The sign is already written; size - 1 keeps room for the unit letter.
    part.plus = false;
    part.blank = false;
    FormatDouble(buffer, position, std::fabs(im), precision, conversion, size - 1, part);
    const char unit = format.unitLetter == 'j' ? 'j' : 'i';
    PutByte(buffer, position, format.uppercase ? static_cast<char>(unit - 'a' + 'A') : unit, size);
    return;
  }
  const int written = *position - start;
  if (width > written) AppendRepeatedChar(buffer, position, ' ', width - written, size);
}

// ---------------------------------------------------------------------------
// Integer formatters

void FormatDecimal32(char* buffer, int* position, int32_t value, int size, const NumberFormat& format) {
  if (format.isUnsigned) {
    FormatDecimal(buffer, position, static_cast<uint32_t>(value), false, size, format);
    return;
  }
  // Negated in 64 bits so that INT32_MIN has a magnitude.
  const int64_t v = value;
  FormatDecimal(buffer, position, static_cast<uint64_t>(v < 0 ? -v : v), v < 0, size, format);
}

void FormatDecimal64(char* buffer, int* position, int64_t value, int size, const NumberFormat& format) {
  const uint64_t u = static_cast<uint64_t>(value);
  if (format.isUnsigned || value >= 0) {
    FormatDecimal(buffer, position, u, false, size, format);
    return;
  }
  // Unsigned negation: INT64_MIN has no signed magnitude.
  FormatDecimal(buffer, position, 0 - u, true, size, format);
}

void FormatHex32(char* buffer, int* position, uint32_t value, int size, const NumberFormat& format) {
  FormatHex(buffer, position, value, size, format);
}

void FormatHex64(char* buffer, int* position, uint64_t value, int size, const NumberFormat& format) {
  FormatHex(buffer, position, value, size, format);
}

void FormatOctal32(char* buffer, int* position, uint32_t value, int size, const NumberFormat& format) {
  FormatOctal(buffer, position, value, size, format);
}

void FormatOctal64(char* buffer, int* position, uint64_t value, int size, const NumberFormat& format) {
  FormatOctal(buffer, position, value, size, format);
}

void FormatBinary64(char* buffer, int* position, uint64_t value, int size, const NumberFormat& format) {
  char digits[64];
  const int n = UnsignedDigits(value, 2, false, digits);
  const IntegerText t{"", format.alternate && value != 0 ? "0b" : "", ZerosBefore(n, format), digits, n};
  WriteIntegerText(buffer, position, t, format.width, format.leftJustify, size);
}
