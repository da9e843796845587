// Character and string builtins over char arrays: classification, ASCII
// case changes, strcmp and strcmpi, findstr, strmatch, strtok, deblank and
// strtrim. They read the 16-bit codes in storage order and ignore shapes,
// except strmatch, which takes the rows of a char matrix as its candidates.
#include <cmath>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/values/valuestack.h"

namespace {

// The codes of the char array at a position; good until the next push.
struct Codes {
  const uint16_t* at = nullptr;
  int64_t count = 0;
};

Codes ReadCodes(EngineContext* ctx, int position) {
  NumericView v;
  (void)ReadNumeric(ctx, position, &v);  // callers checked the kind
  return {reinterpret_cast<const uint16_t*>(v.data), v.count};
}

bool IsCharArray(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kBoxed && d.extra == kCharArray;
}

bool IsList(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kComposite && d.extra == kList;
}

bool IsLetter(uint16_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(uint16_t c) { return c >= '0' && c <= '9'; }
bool IsSpace(uint16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
// What deblank and strtrim remove.
bool IsBlank(uint16_t c) { return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' '; }
uint16_t UpperAscii(uint16_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - 32) : c; }

// A char row of n codes, or the empty text 0 x 0 when n is 0.
[[nodiscard]] StatusCode PushCodes(EngineContext* ctx, int64_t n, uint16_t** out) {
  const int32_t dims[2] = {n > 0 ? 1 : 0, static_cast<int32_t>(n)};
  return PushCharArray(ctx, 2, dims, out);
}

// Copies codes [from, from + n) of the char array at position into a new row.
[[nodiscard]] StatusCode PushCodeRange(EngineContext* ctx, int position, int64_t from, int64_t n) {
  uint16_t* out = nullptr;
  if (StatusCode st = PushCodes(ctx, n, &out); st != kOk) return st;
  const Codes s = ReadCodes(ctx, position + 1);
  for (int64_t k = 0; k < n; ++k) out[k] = s.at[from + k];
  return kOk;
}

// Whether the first n codes of a and b agree.
bool SamePrefix(const uint16_t* a, const uint16_t* b, int64_t n, bool ignoreCase) {
  for (int64_t k = 0; k < n; ++k)
    if (ignoreCase ? UpperAscii(a[k]) != UpperAscii(b[k]) : a[k] != b[k]) return false;
  return true;
}

// strmatch over the rows of a char matrix: the index of the first row that
// begins with the text (and is exactly as wide with exact), else 0.
int64_t MatchRows(const Codes& text, EngineContext* ctx, int position, bool exact) {
  NumericView v;
  (void)ReadNumeric(ctx, position, &v);
  const int64_t rows = v.count == 0 ? 0 : v.dims[0];
  const int64_t width = rows == 0 ? 0 : v.count / rows;
  const auto* codes = reinterpret_cast<const uint16_t*>(v.data);
  if (text.count > width || (exact && text.count != width)) return 0;
  for (int64_t r = 0; r < rows; ++r)
    if (SamePrefix(codes + r * width, text.at, text.count, false)) return r + 1;
  return 0;
}

}  // namespace

int64_t FindCharInSet(const uint16_t* codes, int64_t count, const uint16_t* set, int64_t setCount, bool stopAtMember) {
  for (int64_t k = 0; k < count; ++k) {
    bool member = false;
    for (int64_t j = 0; j < setCount && !member; ++j) member = codes[k] == set[j];
    if (member == stopAtMember) return k;
  }
  return count;
}

StatusCode ClassifyCharacters(EngineContext* ctx, char kind) {
  bool (*test)(uint16_t) = nullptr;
  switch (kind) {
    case 'l':
      test = IsLetter;
      break;
    case 'd':
      test = IsDigit;
      break;
    case 's':
      test = IsSpace;
      break;
    default:
      return kNotSupported;
  }
  if (!IsCharArray(ctx, 0)) return kWrongType;
  int nd = 0;
  int32_t dims[kMaxDims];
  if (StatusCode st = GetArgDims(ctx, 0, &nd, dims, nullptr); st != kOk) return ReportedStatus(st);
  uint8_t* out = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, nd, dims, &out); st != kOk) return st;
  const Codes s = ReadCodes(ctx, 1);
  for (int64_t k = 0; k < s.count; ++k) out[k] = test(s.at[k]) ? 1 : 0;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode ChangeLetterCase(EngineContext* ctx, char direction) {
  if (direction != 'u' && direction != 'l') return kNotSupported;
  if (!IsCharArray(ctx, 0)) return kWrongType;
  const ArrayView a = ReadArray(TopData(ctx));
  auto* codes = reinterpret_cast<uint16_t*>(a.data);
  const uint16_t from = direction == 'u' ? 'a' : 'A';
  for (int64_t k = 0; k < a.count; ++k) {
    if (codes[k] < from || codes[k] > from + 25) continue;
    codes[k] = static_cast<uint16_t>(direction == 'u' ? codes[k] - 32 : codes[k] + 32);
  }
  return kOk;
}

StatusCode CompareStrings(EngineContext* ctx, int ignoreCase, int n) {
  if (n != 2 && n != 3) return kWrongType;
  if (StatusCode st = CheckArgTypes(ctx, n, "SS[i"); st != kOk) return st;
  bool prefix = false;
  int64_t c = 0;
  if (n == 3) {
    double x = 0;
    if (GetRealScalarArg(ctx, 0, &x) != kOk || std::isnan(x)) return kBadArg;
    prefix = true;
    c = static_cast<int64_t>(std::trunc(x));  // 'i' let only 32-bit integers through
  }
  const int base = n - 2;
  const Codes a = ReadCodes(ctx, base + 1), b = ReadCodes(ctx, base);
  bool equal = true;
  if (!prefix || c > 0) {
    int64_t compared = a.count;
    if (prefix && a.count >= c && b.count >= c)
      compared = c;
    else if (a.count != b.count)
      equal = false;
    equal = equal && SamePrefix(a.at, b.at, compared, ignoreCase != 0);
  }
  if (StatusCode st = PushLogicalScalar(ctx, equal ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, n);
}

StatusCode findstr(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 2, "SS"); st != kOk) return st;
  Codes text = ReadCodes(ctx, 1), pattern = ReadCodes(ctx, 0);
  int64_t found = 0;
  if (pattern.count > 0)
    for (int64_t j = 0; j + pattern.count <= text.count; ++j)
      found += SamePrefix(text.at + j, pattern.at, pattern.count, false) ? 1 : 0;
  if (found == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 2);
  }
  double* out = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, static_cast<int32_t>(found), &out, nullptr); st != kOk) return st;
  text = ReadCodes(ctx, 2);
  pattern = ReadCodes(ctx, 1);
  int64_t k = 0;
  for (int64_t j = 0; j + pattern.count <= text.count; ++j)
    if (SamePrefix(text.at + j, pattern.at, pattern.count, false)) out[k++] = static_cast<double>(j + 1);
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode strmatch(EngineContext* ctx, int n) {
  if (n != 2 && n != 3) return kWrongType;
  const int base = n - 2;  // the candidates' position
  if (!IsCharArray(ctx, base + 1) || (!IsCharArray(ctx, base) && !IsList(ctx, base))) return kWrongType;
  bool exact = false;
  if (n == 3) {
    if (!IsCharArray(ctx, 0)) return kWrongType;
    const Codes mode = ReadCodes(ctx, 0);
    if (mode.count > 0 && mode.at[0] != 'e') return kUnknownOpt;
    exact = mode.count > 0;
  }
  int64_t match = 0;
  if (IsCharArray(ctx, base)) {
    match = MatchRows(ReadCodes(ctx, base + 1), ctx, base, exact);
  } else {
    int32_t count = 0;
    (void)GetListArg(ctx, base, &count, nullptr);
    // Each element is copied above the operands, looked at and dropped
    // again, so a push short of room leaves the stack as it was.
    for (int32_t i = 1; i <= count && match == 0; ++i) {
      if (StatusCode st = PushListElement(ctx, base, i); st != kOk) return ReportedStatus(st);
      if (!IsCharArray(ctx, 0)) {
        PopValue(ctx);
        return kWrongTypeInternal;
      }
      const Codes candidate = ReadCodes(ctx, 0), text = ReadCodes(ctx, base + 2);
      const bool fits = exact ? candidate.count == text.count : candidate.count >= text.count;
      if (fits && SamePrefix(candidate.at, text.at, text.count, false)) match = i;
      PopValue(ctx);
    }
  }
  if (StatusCode st = PushRealScalar(ctx, static_cast<double>(match)); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, n);
}

StatusCode strtok(EngineContext* ctx, int inputs, int outputs) {
  if (inputs != 1 && inputs != 2) return kWrongType;
  if (StatusCode st = CheckArgTypes(ctx, inputs, "S[S"); st != kOk) return st;
  static constexpr uint16_t kWhite[] = {' ', '\t', '\r', '\n'};
  const int textAt = inputs - 1;
  const Codes text = ReadCodes(ctx, textAt);
  const Codes set = inputs == 2 ? ReadCodes(ctx, 0) : Codes{kWhite, 4};
  int64_t start = FindCharInSet(text.at, text.count, set.at, set.count, false);
  int64_t end = 0;
  if (start == text.count)
    start = 0;  // only delimiters: an empty token, and the whole text remains
  else
    end = start + FindCharInSet(text.at + start, text.count - start, set.at, set.count, true);
  if (outputs >= 2)
    if (StatusCode st = PushCodeRange(ctx, textAt, end, text.count - end); st != kOk) return st;
  if (StatusCode st = PushCodeRange(ctx, textAt + (outputs >= 2 ? 1 : 0), start, end - start); st != kOk) {
    if (outputs >= 2) PopValue(ctx);
    return st;
  }
  return DropArgsUnderResults(ctx, outputs >= 2 ? 2 : 1, inputs);
}

StatusCode TrimBlanks(EngineContext* ctx, int bothEnds) {
  if (!IsCharArray(ctx, 0)) return kWrongType;
  const Codes s = ReadCodes(ctx, 0);
  int64_t end = s.count;
  while (end > 0 && IsBlank(s.at[end - 1])) --end;
  int64_t start = 0;
  if (bothEnds)
    while (start < end && IsBlank(s.at[start])) ++start;
  if (StatusCode st = PushCodeRange(ctx, 0, start, end - start); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

// ---------------------------------------------------------------------------
// Opcode handler.

StatusCode StringOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Isletter:
      return ClassifyCharacters(ctx, 'l');
    case Op::Isdigit:
      return ClassifyCharacters(ctx, 'd');
    case Op::Isspace:
      return ClassifyCharacters(ctx, 's');
    case Op::Upper:
      return ChangeLetterCase(ctx, 'u');
    case Op::Lower:
      return ChangeLetterCase(ctx, 'l');
    case Op::Strcmp:
      return CompareStrings(ctx, 0, ins[1]);
    case Op::Strcmpi:
      return CompareStrings(ctx, 1, ins[1]);
    case Op::Findstr:
      return findstr(ctx);
    case Op::Strmatch:
      return strmatch(ctx, ins[1]);
    case Op::Deblank:
      return TrimBlanks(ctx, 0);
    case Op::Strtrim:
      return TrimBlanks(ctx, 1);
    case Op::Strtok:
      return strtok(ctx, ins[1], ins[2]);
    default:
      return kNotSupported;
  }
}
