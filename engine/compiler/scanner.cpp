// The lexical level of the language: blanks, comments and continuations,
// keywords and the iskeyword native, names, numeric and string literals with
// the instructions that push them, the quote rule and command syntax.
#include "engine/compiler/scanner.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "engine/bytecode.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

constexpr const char* kKeywords[kKeywordCount] = {
    "break",       "case",       "catch",       "classdef", "continue", "else",   "elseif",  "end",
    "endfunction", "for",        "function",    "global",   "goto",     "if",     "include", "includeifexists",
    "otherwise",   "persistent", "private",     "public",   "repeat",   "return", "switch",  "try",
    "until",       "use",        "useifexists", "while",    "_pragma",
};

bool StartsWith(const char* text, int length, int p, const char* word) {
  for (; *word != 0; ++word, ++p)
    if (p >= length || text[p] != *word) return false;
  return true;
}

// From the "/" of "/*" to just after the first "*/" whose "*" follows that
// "/" (so "/*/" is complete), or to the end of an unterminated comment.
int SkipBlockComment(const char* text, int length, int p, int32_t* line) {
  int q = p + 1;
  while (q < length) {
    if (text[q] == '*' && q + 1 < length && text[q + 1] == '/') return q + 2;
    if (IsLineEnd(text[q]))
      PassLineEnd(text, length, &q, line);
    else
      ++q;
  }
  return length;
}

// A continuation: the rest of its line, then every blank and line end after it.
int SkipContinuation(const char* text, int length, int p, int32_t* line) {
  while (p < length && !IsLineEnd(text[p])) ++p;
  while (p < length && (IsBlank(text[p]) || IsLineEnd(text[p]))) {
    if (IsLineEnd(text[p]))
      PassLineEnd(text, length, &p, line);
    else
      ++p;
  }
  return p;
}

// One scan over blanks, comments, continuations and (when allowed) line ends
// and separators; the result as SkipBlanksAndComments gives it.
int Skip(const char* text, int length, int* position, bool stopAtSeparators, bool passLineEnds, int32_t* line) {
  int p = *position;
  int r = 0;
  for (;;) {
    const int start = p;
    while (p < length && IsBlank(text[p])) ++p;
    if (p > start && r == 0) r = 1;
    if (p >= length) break;
    const char c = text[p];
    if (c == '%' || (c == '/' && p + 1 < length && text[p + 1] == '/')) {
      while (p < length && !IsLineEnd(text[p])) ++p;
      continue;
    }
    if (c == '/' && p + 1 < length && text[p + 1] == '*') {
      p = SkipBlockComment(text, length, p, line);
      continue;
    }
    if (IsLineEnd(c)) {
      if (!passLineEnds) break;
      PassLineEnd(text, length, &p, line);
      r = 2;
      continue;
    }
    if (StartsWith(text, length, p, "...")) {
      p = SkipContinuation(text, length, p, line);
      r = 1;  // also after a line end: the continuation joins the lines
      continue;
    }
    if (stopAtSeparators && (c == ',' || c == ';')) {
      ++p;
      r = 2;
      continue;
    }
    break;
  }
  *position = p;
  return p >= length ? 2 : r;
}

int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The integer written in base 2^bitsPerDigit, rounded to the nearest double:
// the first 64 significant bits are kept, the rest only as a sticky bit, so
// that one rounding of the 64-bit value gives the right double.
double RadixValue(const char* text, int length, int* p, int bitsPerDigit) {
  const int base = 1 << bitsPerDigit;
  uint64_t mantissa = 0;
  int exponent = 0;
  bool sticky = false;
  for (; *p < length && HexDigitValue(text[*p]) < base; ++*p) {
    const int d = HexDigitValue(text[*p]);
    for (int b = bitsPerDigit - 1; b >= 0; --b) {
      const uint64_t bit = (d >> b) & 1;
      if (mantissa >> 63) {
        ++exponent;
        sticky = sticky || bit != 0;
      } else {
        mantissa = mantissa << 1 | bit;
      }
    }
  }
  if (sticky) mantissa |= 1;
  return std::ldexp(static_cast<double>(mantissa), exponent);
}

[[nodiscard]] StatusCode RaiseToken(EngineContext* ctx, int c) {
  return RaiseError(ctx, kUnrecognizedToken, -1, 0, c, nullptr);
}

// Typed integer literal: digits, then "int" or "uint" and the size.
[[nodiscard]] StatusCode ScanTypedInteger(EngineContext* ctx, const char* text, int length, int* position,
                                          NumericLiteral* out) {
  int p = *position;
  uint64_t v = 0;  // wraps modulo 2^64 like the language's integer classes
  if (StartsWith(text, length, p, "0x")) {
    for (p += 2; p < length && HexDigitValue(text[p]) < 16; ++p) v = v * 16 + HexDigitValue(text[p]);
  } else if (StartsWith(text, length, p, "0b")) {
    for (p += 2; p < length && (text[p] == '0' || text[p] == '1'); ++p) v = v * 2 + (text[p] - '0');
  } else if (text[p] == '0' && p + 1 < length && IsDecimalDigit(text[p + 1])) {
    for (; p < length && text[p] >= '0' && text[p] <= '7'; ++p) v = v * 8 + (text[p] - '0');
  } else {
    for (; p < length && IsDecimalDigit(text[p]); ++p) v = v * 10 + (text[p] - '0');
  }
  bool isUnsigned = false;
  if (StartsWith(text, length, p, "uint")) {
    isUnsigned = true;
    p += 4;
  } else if (StartsWith(text, length, p, "int")) {
    p += 3;
  } else {
    return RaiseToken(ctx, p < length ? ByteAt(text, p) : 0);
  }
  int size = 0;
  for (; p < length && IsDecimalDigit(text[p]); ++p) size = size < 1000 ? size * 10 + (text[p] - '0') : size;
  if (size != 8 && size != 16 && size != 32 && size != 64) return kUnsupportedIntSize;
  out->integer = true;
  out->bits = v;
  out->size = size;
  out->isUnsigned = isUnsigned;
  *position = p;
  return kOk;
}

bool TypedIntegerAhead(const char* text, int length, int p) {
  int end = p;
  while (end < length && IsNameChar(text[end])) ++end;
  for (int k = p; k + 3 <= end; ++k)
    if (StartsWith(text, length, k, "int") && k + 3 < length) return true;
  return false;
}

// Room check, then the words of one instruction.
[[nodiscard]] StatusCode Emit(int16_t* code, int32_t room, int32_t* at, std::initializer_list<int> words) {
  if (*at + static_cast<int32_t>(words.size()) > room) return kCodeOverflow;
  for (int w : words) code[(*at)++] = static_cast<int16_t>(w);
  return kOk;
}

// An opcode whose operand is one double: Nops first, so that the double lands
// on an 8-byte address.
[[nodiscard]] StatusCode EmitDouble(int16_t* code, int32_t room, int32_t* at, Op op, double x) {
  int32_t p = *at;
  while (reinterpret_cast<uintptr_t>(code + p + 1) % 8 != 0) ++p;
  if (p + 5 > room) return kCodeOverflow;
  while (*at < p) code[(*at)++] = static_cast<int16_t>(Op::Nop);
  code[(*at)++] = static_cast<int16_t>(op);
  std::memcpy(code + *at, &x, sizeof x);
  *at += 4;
  return kOk;
}

int Word(Op op) { return static_cast<int>(op); }

[[nodiscard]] StatusCode EmitTypedInteger(const NumericLiteral& n, int16_t* code, int32_t room, int32_t* at) {
  const bool u = n.isUnsigned;
  switch (n.size) {
    case 8:
      // The operand is already the class's value, so nothing depends on how
      // the machine converts an out-of-range word.
      return Emit(code, room, at,
                  {Word(u ? Op::PushUint8 : Op::PushInt8),
                   u ? static_cast<int>(n.bits & 0xFF) : static_cast<int>(static_cast<int8_t>(n.bits & 0xFF))});
    case 16:
      return Emit(code, room, at, {Word(u ? Op::PushUint16 : Op::PushInt16), static_cast<int16_t>(n.bits & 0xFFFF)});
    case 32: {
      const auto low = static_cast<uint32_t>(n.bits);
      if (static_cast<int32_t>(low) == static_cast<int16_t>(low & 0xFFFF))
        return Emit(code, room, at, {Word(u ? Op::PushUint32 : Op::PushInt32), static_cast<int16_t>(low & 0xFFFF)});
      return Emit(code, room, at,
                  {Word(u ? Op::PushUint32Wide : Op::PushInt32Wide), static_cast<int16_t>(low & 0xFFFF),
                   static_cast<int16_t>(low >> 16)});
    }
    default: {
      const uint64_t v = n.bits;
      if (static_cast<int64_t>(v) == static_cast<int16_t>(v & 0xFFFF))
        return Emit(code, room, at, {Word(u ? Op::PushUint64 : Op::PushInt64), static_cast<int16_t>(v & 0xFFFF)});
      return Emit(code, room, at,
                  {Word(u ? Op::PushUint64Wide : Op::PushInt64Wide), static_cast<int16_t>(v & 0xFFFF),
                   static_cast<int16_t>((v >> 16) & 0xFFFF), static_cast<int16_t>((v >> 32) & 0xFFFF),
                   static_cast<int16_t>(v >> 48)});
    }
  }
}

// One character of a string literal at *p, which must not be the closing
// quote. *skip is set for a byte the charset decoder refused.
[[nodiscard]] StatusCode StringChar(EngineContext* ctx, const char* text, int length, int* p, uint16_t* ch,
                                    bool* skip) {
  *skip = false;
  const int c = ByteAt(text, *p);
  if (c == '\'') {  // a doubled quote
    *ch = '\'';
    *p += 2;
    return kOk;
  }
  if (c >= 128) {
    if (ctx->charsetDecode == nullptr) {
      *ch = static_cast<uint16_t>(c);
      ++*p;
      return kOk;
    }
    const int before = *p;
    *skip = !ctx->charsetDecode(text, ch, p, length);
    if (*p <= before) *p = before + 1;  // a decoder must consume; never loop on one byte
    return kOk;
  }
  if (c != '\\') {
    *ch = static_cast<uint16_t>(c);
    ++*p;
    return kOk;
  }
  if (*p + 1 >= length) return kUnterminatedString;
  const int e = ByteAt(text, *p + 1);
  *p += 2;
  switch (e) {
    case '"':
    case '\'':
    case '\\':
      *ch = static_cast<uint16_t>(e);
      return kOk;
    case 'a':
      *ch = 7;
      return kOk;
    case 'b':
      *ch = 8;
      return kOk;
    case 'f':
      *ch = 12;
      return kOk;
    case 'n':
      *ch = 10;
      return kOk;
    case 'r':
      *ch = 13;
      return kOk;
    case 't':
      *ch = 9;
      return kOk;
    case 'v':
      *ch = 11;
      return kOk;
    case 'x':
    case 'u': {
      const int most = e == 'x' ? 2 : 4;
      unsigned v = 0;
      for (int k = 0; k < most && *p < length && HexDigitValue(text[*p]) < 16; ++k, ++*p)
        v = v * 16 + HexDigitValue(text[*p]);
      *ch = static_cast<uint16_t>(v);
      return kOk;
    }
    default:
      break;
  }
  if (e >= '0' && e <= '7') {
    unsigned v = e - '0';
    for (int k = 1; k < 3 && *p < length && text[*p] >= '0' && text[*p] <= '7'; ++k, ++*p) v = v * 8 + (text[*p] - '0');
    *ch = static_cast<uint16_t>(v & 0xFF);
    return kOk;
  }
  return kUnknownEscape;
}

// Walks the literal from after its opening quote to after its closing quote,
// handing every character to put; answers the end position through *p.
template <class Put>
[[nodiscard]] StatusCode WalkString(EngineContext* ctx, const char* text, int length, int* p, Put put) {
  for (;;) {
    if (*p >= length) return kUnterminatedString;
    if (text[*p] == '\'' && !(*p + 1 < length && text[*p + 1] == '\'')) {
      ++*p;
      return kOk;
    }
    uint16_t ch = 0;
    bool skip = false;
    if (StatusCode st = StringChar(ctx, text, length, p, &ch, &skip); st != kOk) return st;
    if (!skip) put(ch);
  }
}

// Longest string literal: its length is one code word.
constexpr int kMaxStringLiteral = 32767;

// Command words end at blanks, statement ends and comments.
bool EndsCommandWord(const char* text, int length, int p) {
  const char c = text[p];
  return IsBlank(c) || IsLineEnd(c) || c == ',' || c == ';' || c == '%' || StartsWith(text, length, p, "//") ||
         StartsWith(text, length, p, "/*");
}

}  // namespace

void PassLineEnd(const char* text, int length, int* position, int32_t* line) {
  if (text[*position] == '\r' && *position + 1 < length && text[*position + 1] == '\n') ++*position;
  ++*position;
  if (line) ++*line;
}

int NameLength(const char* text, int length, int position) {
  int p = position;
  while (p < length && IsNameChar(text[p])) ++p;
  return p - position;
}

StatusCode CheckNameLength(EngineContext* ctx, const char* name, int length) {
  if (length <= kMaxNameLength) return kOk;
  // The name may sit in scratch space that raising writes over.
  char copy[256];
  const int n = length < static_cast<int>(sizeof copy) ? length : static_cast<int>(sizeof copy);
  std::memcpy(copy, name, n);
  return RaiseError(ctx, kNameTooLong, -1, 0, n, copy);
}

int SkipBlanksAndComments(EngineContext*, const char* text, int length, int* position, bool stopAtSeparators,
                          int32_t* line) {
  return Skip(text, length, position, stopAtSeparators, true, line);
}

bool SkipBlanksInLine(const char* text, int length, int* position, int32_t* line) {
  const int before = *position;
  Skip(text, length, position, false, false, line);
  return *position != before;
}

bool AtStatementEnd(const char* text, int length, int position) {
  return position >= length || IsLineEnd(text[position]) || text[position] == ',' || text[position] == ';';
}

bool MatchKeyword(const char* text, int length, int* position, const char* word) {
  int p = *position;
  for (; *word != 0; ++word, ++p)
    if (p >= length || text[p] != *word) return false;
  if (p < length && IsNameChar(text[p])) return false;
  *position = p;
  return true;
}

const char* GetKeywordList(const char* previous) {
  if (previous == nullptr) return kKeywords[0];
  for (int k = 0; k + 1 < kKeywordCount; ++k)
    if (kKeywords[k] == previous) return kKeywords[k + 1];
  return nullptr;
}

bool IsKeyword(const char* text, int length) {
  for (const char* word : kKeywords)
    if (static_cast<int>(std::strlen(word)) == length && std::memcmp(word, text, length) == 0) return true;
  return false;
}

StatusCode IsKeywordNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin == 0) {
    int pushed = 0;
    StatusCode st = kOk;
    for (const char* word : kKeywords) {
      if ((st = PushStringFromBytes(ctx, -1, word)) != kOk) break;
      ++pushed;
    }
    if (st == kOk) st = MakeListFromValues(ctx, kKeywordCount, false, nullptr, 0);
    if (st != kOk)
      while (pushed-- > 0) PopValue(ctx);
    return st;
  }
  if (nargin != 1) return kTooManyArgin;
  if (!IsCharArg(ctx, 0)) return kWrongType;
  // Compared code by code: no keyword is longer than 15 characters or has a
  // character beyond ASCII.
  const ArrayView a = ReadArray(DataAt(ctx, 0));
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  char word[16];
  bool found = a.count < 16;
  for (int64_t k = 0; found && k < a.count; ++k) {
    found = codes[k] < 128;
    word[k] = static_cast<char>(codes[k]);
  }
  found = found && IsKeyword(word, static_cast<int>(a.count));
  if (StatusCode st = PushLogicalScalar(ctx, found ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

bool QuoteIsTranspose(int previous, bool previousIsTranspose) {
  if (previous == '\'') return previousIsTranspose;
  return IsNameChar(previous) || previous == '.' || previous == ')' || previous == ']' || previous == '}';
}

StatusCode ScanNumericLiteral(EngineContext* ctx, const char* text, int length, int* position, NumericLiteral* out) {
  *out = NumericLiteral{};
  int p = *position;
  if (TypedIntegerAhead(text, length, p)) return ScanTypedInteger(ctx, text, length, position, out);

  out->plain = true;
  if (StartsWith(text, length, p, "0x") && p + 2 < length && HexDigitValue(text[p + 2]) < 16) {
    p += 2;
    out->value = RadixValue(text, length, &p, 4);
  } else if (StartsWith(text, length, p, "0b") && p + 2 < length && (text[p + 2] == '0' || text[p + 2] == '1')) {
    p += 2;
    out->value = RadixValue(text, length, &p, 1);
  } else if (text[p] == '0' && p + 1 < length && IsDecimalDigit(text[p + 1])) {
    // Octal; an 8 or 9 ends it and stands as the next token.
    out->value = RadixValue(text, length, &p, 3);
  } else {
    // Lex the decimal literal here (a "." before an operator such as "./"
    // belongs to the operator), then convert exactly that text.
    int end = p;
    while (end < length && IsDecimalDigit(text[end])) ++end;
    if (end < length && text[end] == '.') {
      const char next = end + 1 < length ? text[end + 1] : 0;
      if (next != '*' && next != '/' && next != '\\' && next != '^') {
        out->plain = false;
        ++end;
        while (end < length && IsDecimalDigit(text[end])) ++end;
      }
    }
    if (end < length && (text[end] == 'e' || text[end] == 'E')) {
      ++end;
      if (end < length && (text[end] == '+' || text[end] == '-')) {
        if (text[end] == '-') out->plain = false;
        ++end;
      }
      while (end < length && IsDecimalDigit(text[end])) ++end;
    }
    int q = p;
    if (!ParseRealNumber(text, end, &q, &out->value)) out->value = 0;
    p = end;
  }
  if (p < length && (text[p] == 'i' || text[p] == 'j')) {
    out->imaginary = true;
    ++p;
  }
  if (StartsWith(text, length, p, "single")) {
    out->single = true;
    p += 6;
  }
  *position = p;
  return kOk;
}

StatusCode EmitNumericLiteral(const NumericLiteral& n, int16_t* code, int32_t room, int32_t* at) {
  if (n.integer) return EmitTypedInteger(n, code, room, at);
  if (n.single) return EmitDouble(code, room, at, n.imaginary ? Op::PushImagSingle : Op::PushSingle, n.value);
  // Only a literal written as an integer («1», not «1.0») becomes a short constant.
  if (n.plain && n.value == 0) return Emit(code, room, at, {Word(Op::PushZero)});
  if (n.plain && n.value == 1) return Emit(code, room, at, {Word(n.imaginary ? Op::I : Op::PushOne)});
  if (n.plain && n.value >= -32768 && n.value <= 32767 && n.value == std::floor(n.value))
    return Emit(code, room, at, {Word(n.imaginary ? Op::PushSmallImag : Op::PushSmallInt), static_cast<int>(n.value)});
  return EmitDouble(code, room, at, n.imaginary ? Op::PushImagDouble : Op::PushDouble, n.value);
}

StatusCode CompileNumericLiteral(EngineContext* ctx, const char* text, int length, int* position, int16_t* code,
                                 int32_t room, int32_t* codePosition) {
  NumericLiteral n;
  int p = *position;
  if (StatusCode st = ScanNumericLiteral(ctx, text, length, &p, &n); st != kOk) return st;
  if (StatusCode st = EmitNumericLiteral(n, code, room, codePosition); st != kOk) return st;
  *position = p;
  return kOk;
}

StatusCode CompileStringLiteral(EngineContext* ctx, const char* text, int length, int* position, int16_t* code,
                                int32_t room, int32_t* codePosition) {
  // A first walk sizes the literal and tells whether 8 bits suffice, the
  // second writes it.
  int p = *position + 1;
  int count = 0;
  bool wide = false;
  if (StatusCode st = WalkString(ctx, text, length, &p,
                                 [&](uint16_t ch) {
                                   ++count;
                                   wide = wide || ch > 255;
                                 });
      st != kOk)
    return st;
  if (count > kMaxStringLiteral) return kCompOutOfMemory;
  const int32_t words = wide ? 2 + count : 2 + (count + 1) / 2;
  const int32_t at = *codePosition;
  if (at + words > room) return kCodeOverflow;

  code[at] = static_cast<int16_t>(wide ? Op::PushString16 : Op::PushString8);
  code[at + 1] = static_cast<int16_t>(count);
  code[at + words - 1] = 0;  // the pad byte of an odd 8-bit count
  int k = 0;
  p = *position + 1;
  // The sizing walk above went over the same characters without a failure.
  (void)WalkString(ctx, text, length, &p, [&](uint16_t ch) {
    if (wide) {
      code[at + 2 + k] = static_cast<int16_t>(ch);
    } else {
      uint16_t& w = reinterpret_cast<uint16_t&>(code[at + 2 + k / 2]);
      w = (k % 2 == 0) ? ch : static_cast<uint16_t>((w & 0xFF) | ch << 8);
    }
    ++k;
  });
  *codePosition = at + words;
  *position = p;
  return kOk;
}

bool IsCommandSyntax(EngineContext* ctx, const char* text, int length, int position) {
  if (position >= length || !IsNameStart(text[position])) return false;
  int p = position + NameLength(text, length, position);
  if (SkipBlanksAndComments(ctx, text, length, &p, false, nullptr) != 1 || p >= length) return false;
  const int c = ByteAt(text, p);
  if (IsNameChar(c) || c == '\'' || c >= 128) return true;
  if (c != '.' && c != '/' && c != '-' && c != ':' && c != '*') return false;
  // «cd ../x» and «x -y» are commands, «x - y» is not: the run of other
  // characters must reach a word before any blank.
  int q = p;
  while (q < length && !IsBlank(text[q]) && !IsNameChar(text[q]) && ByteAt(text, q) < 128 &&
         !AtStatementEnd(text, length, q))
    ++q;
  return q < length && (IsNameChar(text[q]) || ByteAt(text, q) >= 128);
}

StatusCode ConvertCommandSyntax(EngineContext* ctx, const char* text, int length, int* position, char* out, int room,
                                int* outLength, int32_t* line) {
  int n = 0;
  bool full = false;
  auto put = [&](char c) {
    if (n >= room) {
      full = true;
      return;
    }
    out[n++] = c;
  };
  auto puts = [&](const char* s) {
    for (; *s != 0; ++s) put(*s);
  };

  int p = *position;
  const int nameEnd = p + NameLength(text, length, p);
  while (p < nameEnd) put(text[p++]);
  SkipBlanksAndComments(ctx, text, length, &p, false, line);

  bool first = true;
  while (!full && p < length && !EndsCommandWord(text, length, p)) {
    puts(first ? "('" : "','");
    first = false;
    if (text[p] == '\'') {
      // A quoted word keeps its blanks and its escapes as written.
      for (++p; p < length && !(text[p] == '\'' && text[p - 1] != '\\'); ++p) {
        if (IsLineEnd(text[p])) return kUnterminatedString;
        put(text[p]);
      }
      if (p >= length) return kUnterminatedString;
      ++p;
    }
    for (; p < length && !EndsCommandWord(text, length, p); ++p) {
      if (text[p] == '\\' || text[p] == '\'') put('\\');
      put(text[p]);
    }
    while (p < length && IsBlank(text[p])) ++p;
  }
  if (!first) puts("')");
  if (full) return kCompOutOfMemory;
  *position = p;
  *outLength = n;
  return kOk;
}
