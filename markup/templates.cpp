// The template language: literal text with escapes for integer expressions over
// the conversion's variables, repetitions and the list-nesting prefix, expanded
// into the conversion's output. Also the output primitives everything writes with.
#include <climits>
#include <cstdint>
#include <cstring>

#include "markup/internal.h"

bool WriteOutputBytes(MarkupOutputState* st, const char* bytes, int n) {
  if (n > OutputRoom(st)) return false;
  char* out = st->output + st->outputLength;
  for (int k = 0; k < n; ++k) {
    out[k] = bytes[k];
    if (CountsAsCharacter(static_cast<unsigned char>(bytes[k]))) ++st->characterCount;
  }
  st->outputLength += n;
  st->column += n;
  return true;
}

void TruncateOutput(MarkupOutputState* st, int length) {
  if (length < 0) length = 0;
  if (length >= st->outputLength) return;
  bool lineEnd = false;
  for (int k = length; k < st->outputLength; ++k) {
    unsigned char b = static_cast<unsigned char>(st->output[k]);
    if (CountsAsCharacter(b)) --st->characterCount;
    if (IsLineEnd(static_cast<char>(b))) lineEnd = true;
  }
  int removed = st->outputLength - length;
  st->outputLength = length;
  if (lineEnd) {
    int k = length;
    while (k > 0 && !IsLineEnd(st->output[k - 1])) --k;
    st->column = length - k;
  } else {
    st->column = st->column >= removed ? st->column - removed : 0;
  }
  // Bytes past the new length may now differ between the halves.
  if (st->synchronisedPrefix > length) st->synchronisedPrefix = length;
  if (st->wrapScanFrom > length) st->wrapScanFrom = length;
}

void SkipSpacesAndTabs(const char* text, int length, int* position) {
  while (*position < length && IsBlank(text[*position])) ++*position;
}

int GetMarkupOutputLength(const MarkupOutputState* st) { return st->outputLength; }
int GetMarkupCharacterCount(const MarkupOutputState* st) { return st->characterCount; }

void GetMarkupLinkTarget(const MarkupOutputState* st, int* position, int* length) {
  bool image = st->targetKind == kInlineImage;
  if (position)
    *position = image ? st->imageTarget[0] + st->imageTargetOffset : st->linkTarget[0] + st->linkTargetOffset;
  if (length) *length = image ? st->imageTarget[1] : st->linkTarget[1];
}

int ListNestingPrefix(const MarkupOutputState* st, char* out) {
  int n = st->level < st->depth ? st->level : st->depth;
  if (n > kMarkupMaxLevels) n = kMarkupMaxLevels;
  for (int k = 0; k < n; ++k) {
    int kind = st->levels[k];
    out[k] = kind == kLevelBullet                                 ? '*'
             : kind == kLevelTerm                                 ? ';'
             : (kind == kLevelDefinition || kind == kLevelIndent) ? ':'
                                                                  : '#';
  }
  return n > 0 ? n : 0;
}

namespace {

int Precedence(char op) {
  switch (op) {
    case '|':
      return 1;
    case '&':
      return 2;
    case '=':
    case '!':
    case '<':
    case '>':
      return 3;
    case '+':
    case '-':
      return 4;
    case '*':
    case '/':
      return 5;
    default:
      return 0;
  }
}

int VariableValue(char c, const MarkupOutputState* st, bool* ok) {
  *ok = true;
  switch (c) {
    case 'i':
      return st->number;
    case 'l':
      return st->level;
    case 'o':
      return st->inputPosition + st->inputOffset;
    case 'p':
      return st->outputLength;
    case 's':
      return st->fontSize;
    case 'x':
      return st->anchor;
    default:
      *ok = false;
      return 0;
  }
}

constexpr int kMaxPending = 16;

}  // namespace

// Arithmetic wraps in 32 bits; division by zero and INT_MIN / -1 give 0, so no
// template can trap whatever its variables hold.
void ApplyTemplateOperator(int* values, int* count, char op) {
  if (*count < 2) return;
  int a = values[*count - 2], b = values[*count - 1];
  uint32_t ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
  int r = 0;
  switch (op) {
    case '|':
      r = a != 0 ? a : b;
      break;
    case '&':
      r = a != 0 ? b : 0;
      break;
    case '=':
      r = a == b;
      break;
    case '!':
      r = a != b;
      break;
    case '<':
      r = a < b;
      break;
    case '>':
      r = a > b;
      break;
    case '+':
      r = static_cast<int>(ua + ub);
      break;
    case '-':
      r = static_cast<int>(ua - ub);
      break;
    case '*':
      r = static_cast<int>(ua * ub);
      break;
    case '/':
      r = (b == 0 || (a == INT_MIN && b == -1)) ? 0 : a / b;
      break;
    default:
      break;
  }
  --*count;
  values[*count - 1] = r;
}

int EvaluateTemplateExpression(const char* text, int length, const MarkupOutputState* st) {
  char ops[kMaxPending];
  int nops = 0;
  int values[kMaxPending + 2];
  int nvalues = 0;
  // Applies pending operators back to the nearest '(' (left in place), or all of
  // them (parentheses dropped) when all is set.
  auto reduce = [&](int minPrecedence, bool all) {
    while (nops > 0) {
      char op = ops[nops - 1];
      if (op == '(') {
        if (!all) return;
        --nops;
        continue;
      }
      if (!all && Precedence(op) < minPrecedence) return;
      ApplyTemplateOperator(values, &nvalues, op);
      --nops;
    }
  };
  int p = 0;
  bool wantOperand = true;
  for (;;) {
    SkipSpacesAndTabs(text, length, &p);
    if (wantOperand) {
      while (p < length && text[p] == '(') {
        if (nops == kMaxPending) return 1;
        ops[nops++] = '(';
        ++p;
        SkipSpacesAndTabs(text, length, &p);
      }
      if (p >= length) return 1;
      int value = 0;
      if (text[p] >= '0' && text[p] <= '9') {
        uint32_t v = 0;
        while (p < length && text[p] >= '0' && text[p] <= '9') v = v * 10u + static_cast<uint32_t>(text[p++] - '0');
        value = static_cast<int>(v);
      } else {
        bool ok = false;
        value = VariableValue(text[p], st, &ok);
        if (!ok) return 1;
        ++p;
      }
      values[nvalues++] = value;
      SkipSpacesAndTabs(text, length, &p);
      while (p < length && text[p] == ')') {
        bool found = false;
        for (int k = nops - 1; k >= 0; --k) {
          if (ops[k] == '(') {
            found = true;
            break;
          }
        }
        if (found) {
          reduce(0, false);
          --nops;  // the '('
        } else {
          reduce(0, true);
        }
        ++p;
        SkipSpacesAndTabs(text, length, &p);
      }
      wantOperand = false;
    } else {
      if (p >= length) break;
      int prec = Precedence(text[p]);
      if (prec == 0) return 1;
      reduce(prec, false);
      if (nops == kMaxPending) return 1;
      ops[nops++] = text[p++];
      wantOperand = true;
    }
  }
  reduce(0, true);
  return nvalues > 0 ? values[0] : 1;
}

namespace {

bool WriteLineEnd(MarkupOutputState* st) {
  int eol = st->endOfLineLength;
  if (eol + st->indentation > OutputRoom(st)) return false;
  WriteOutputBytes(st, st->endOfLine, eol);
  for (int k = 0; k < st->indentation; ++k) WriteOutputBytes(st, " ", 1);
  st->column = st->indentation;
  return true;
}

bool WriteNumber(MarkupOutputState* st, int value) {
  if (OutputRoom(st) < 12) return false;
  char digits[12];
  int n = 0;
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  char text[12];
  int m = 0;
  if (negative) text[m++] = '-';
  while (n > 0) text[m++] = digits[--n];
  return WriteOutputBytes(st, text, m);
}

int FindByte(const char* t, int from, int length, char c) {
  for (int k = from; k < length; ++k)
    if (t[k] == c) return k;
  return -1;
}

int FindPair(const char* t, int from, int length, char c) {
  for (int k = from; k + 1 < length; ++k)
    if (t[k] == c && t[k + 1] == c) return k;
  return -1;
}

}  // namespace

int ExpandMarkupTemplate(const char* templ, int length, char escape, MarkupOutputState* st) {
  if (!templ) return 1;
  if (length < 0) length = static_cast<int>(std::strlen(templ));
  const char e = escape;
  int k = 0;
  while (k < length) {
    char c = templ[k];
    if (c == '\n') {
      if (!WriteLineEnd(st)) return 0;
      ++k;
      continue;
    }
    // An escape needs a byte after its second one; "%{" or "%L" at the end is text.
    if (e != 0 && c == e && k + 2 < length) {
      char next = templ[k + 1];
      if (next == '{') {
        int close = FindByte(templ, k + 2, length, '}');
        if (close < 0) return 1;
        if (!WriteNumber(st, EvaluateTemplateExpression(templ + k + 2, close - k - 2, st))) return 0;
        k = close + 1;
        continue;
      }
      if (next == e && templ[k + 2] == '{') {
        int close = FindByte(templ, k + 3, length, '}');
        if (close < 0) return 1;
        int times = EvaluateTemplateExpression(templ + k + 3, close - k - 3, st);
        int body = close + 1;
        int pair = FindPair(templ, body, length, e);
        int bodyEnd = pair < 0 ? length : pair;
        k = pair < 0 ? length : pair + 2;
        if (times <= 0) continue;
        if (times > 100) times = 100;
        int start = st->outputLength;
        if (!ExpandMarkupTemplate(templ + body, bodyEnd - body, e, st)) return 0;
        int size = st->outputLength - start;
        if (size == 0) continue;
        if (static_cast<int64_t>(size) * (times - 1) > OutputRoom(st)) return 0;
        int lastLineEnd = -1;
        for (int b = 0; b < size; ++b)
          if (IsLineEnd(st->output[start + b])) lastLineEnd = b;
        for (int t = 1; t < times; ++t) WriteOutputBytes(st, st->output + start, size);
        if (lastLineEnd >= 0) st->column = size - lastLineEnd - 1;
        continue;
      }
      if (next == 'L') {
        if (OutputRoom(st) < kMarkupMaxLevels) return 0;
        char prefix[kMarkupMaxLevels];
        int n = ListNestingPrefix(st, prefix);
        WriteOutputBytes(st, prefix, n);
        k += 2;
        continue;
      }
    }
    if (!WriteOutputBytes(st, &c, 1)) return 0;
    ++k;
  }
  return 1;
}
