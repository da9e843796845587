// What the converter calls while it reads inline text: the inline-style stack
// that keeps bold, italic, links and the rest properly nested, link and image
// targets, plug-in calls, re-parsing of output as markup, and line wrapping.
#include <climits>
#include <cstring>

#include "markup/internal.h"

namespace {

// Writes a template and wraps the line when it has reached the wrap column.
int Emit(MarkupOutputState* st, const char* templ) {
  if (!ExpandMarkupTemplate(templ, -1, st->escape, st)) return kMarkupNoRoom;
  return WrapMarkupOutputLine(st, st->format);
}

int CallInlineHook(const MarkupFormat* format, MarkupOutputState* st, int begin, const char* markup, int position) {
  if (!format->inlineHook) return 0;
  return format->inlineHook(-1, 0, begin, markup, position, st, format->hookData);
}

int TargetBit(int kind) { return kind == kInlineImage ? 2 : 1; }

// Writes the target of an open link or image. After a re-parse the target's
// bytes are no longer in the input half, so nothing is written for it.
int WriteTargetOf(MarkupOutputState* st, const MarkupFormat* format, int kind) {
  bool image = kind == kInlineImage;
  int pos = image ? st->imageTarget[0] : st->linkTarget[0];
  int len = image ? st->imageTarget[1] : st->linkTarget[1];
  int offset = image ? st->imageTargetOffset : st->linkTargetOffset;
  if (offset != st->inputOffset || pos < 0 || len < 0 || pos + len > st->inputLength) return 0;
  const char* t = st->input + pos;
  if (format->linkPrefixes) {
    for (const MarkupLinkPrefix* e = format->linkPrefixes; e->prefix; ++e) {
      int n = static_cast<int>(std::strlen(e->prefix));
      if (n <= len && std::memcmp(t, e->prefix, n) == 0) {
        if (!ExpandMarkupTemplate(e->replacement, -1, st->escape, st)) return kMarkupNoRoom;
        t += n;
        len -= n;
        break;
      }
    }
  }
  if (format->linkTarget) return format->linkTarget(t, len, st, format->linkTargetData);
  int column = st->column;
  if (!WriteOutputBytes(st, t, len)) return kMarkupNoRoom;
  st->column = column;  // a copied target does not count towards wrapping
  return 0;
}

int OpenEntry(int* stack, int count, int kind, int position, const MarkupFormat* format, MarkupOutputState* st) {
  if (kind == kInlineNowiki) {
    // Nowiki is silent unless the caller wants it shown as monospace.
    st->nowikiStyled =
        (st->flags & kMarkupNowikiAsMonospace) && !FindInlineStyle(stack, count, kInlineMonospace, nullptr);
    if (!st->nowikiStyled) return 0;
    if (int r = CallInlineHook(format, st, 1, MarkupOfInlineStyle(kInlineMonospace), position); r != 0) return r;
    return Emit(st, format->styles[kInlineMonospace][0]);
  }
  if (int r = CallInlineHook(format, st, 1, MarkupOfInlineStyle(kind), position); r != 0) return r;
  return Emit(st, format->styles[kind][0]);
}

int CloseEntry(int kind, int position, const MarkupFormat* format, MarkupOutputState* st) {
  if (kind == kInlineLink || kind == kInlineImage) {
    bool image = kind == kInlineImage;
    bool plain = (st->plainTargets & TargetBit(kind)) != 0;
    const char* middle = image ? format->imageMiddle : format->linkMiddle;
    bool after = image ? format->imageTargetAfterText : format->linkTargetAfterText;
    if (!plain && middle && after) {
      if (int r = Emit(st, middle); r != 0) return r;
      int r = WriteTargetOf(st, format, kind);
      if (r != 0 && r != kMarkupTargetRefused) return r;
    }
    if (!plain) {
      if (int r = Emit(st, image ? format->imageEnd : format->linkEnd); r != 0) return r;
    }
    st->plainTargets &= ~TargetBit(kind);
    if (image) st->targetKind = kInlineLink;
    return CallInlineHook(format, st, 0, MarkupOfInlineStyle(kind), position);
  }
  if (kind == kInlineNowiki) {
    if (!st->nowikiStyled) return 0;
    st->nowikiStyled = 0;
    if (int r = Emit(st, format->styles[kInlineMonospace][1]); r != 0) return r;
    return CallInlineHook(format, st, 0, MarkupOfInlineStyle(kInlineMonospace), position);
  }
  if (int r = Emit(st, format->styles[kind][1]); r != 0) return r;
  return CallInlineHook(format, st, 0, MarkupOfInlineStyle(kind), position);
}

}  // namespace

bool FindInlineStyle(const int* values, int count, int value, int* index) {
  for (int k = 0; k < count; ++k) {
    if (values[k] == value) {
      if (index) *index = k;
      return true;
    }
  }
  return false;
}

const char* MarkupOfInlineStyle(int kind) {
  static constexpr const char* kMarkup[] = {"**", "//", "__", "^^", ",,", "##", nullptr, "[[", "{{"};
  return kind >= 0 && kind <= kInlineImage ? kMarkup[kind] : nullptr;
}

int ToggleInlineStyle(int* stack, int* count, int kind, int position, const MarkupFormat* format,
                      MarkupOutputState* st) {
  int index = 0;
  if (FindInlineStyle(stack, *count, kind, &index)) {
    // Close everything above it too, then reopen those styles so output nests;
    // links and images stay closed.
    int reopen[kMarkupMaxInline];
    int n = 0;
    for (int k = *count - 1; k >= index; --k) {
      if (int r = CloseEntry(stack[k], position, format, st); r != 0) return r;
      if (k > index && stack[k] != kInlineLink && stack[k] != kInlineImage) reopen[n++] = stack[k];
    }
    *count = index;
    while (n > 0) {
      int again = reopen[--n];
      stack[(*count)++] = again;
      if (int r = OpenEntry(stack, *count - 1, again, position, format, st); r != 0) return r;
    }
    return 0;
  }
  if (kind == kInlineLink || kind == kInlineImage) return 0;
  if (format->noStylesInImages && FindInlineStyle(stack, *count, kInlineImage, nullptr)) return 0;
  if (*count >= kMarkupMaxInline) {
    // Never reached while each kind opens once; kept so the stack cannot overflow.
    const char* markup = MarkupOfInlineStyle(kind);
    if (markup && !WriteOutputBytes(st, markup, 2)) return kMarkupNoRoom;
    return 0;
  }
  stack[(*count)++] = kind;
  return OpenEntry(stack, *count - 1, kind, position, format, st);
}

int CloseInlineStyles(int* stack, int* count, int position, const MarkupFormat* format, MarkupOutputState* st) {
  while (*count > 0) {
    int kind = stack[*count - 1];
    --*count;
    if (int r = CloseEntry(kind, position, format, st); r != 0) return r;
  }
  return 0;
}

int WriteLinkTarget(MarkupOutputState* st, const MarkupFormat* format) {
  return WriteTargetOf(st, format, st->targetKind);
}

int OpenLinkOrImage(int image, int* stack, int* count, int position, const MarkupFormat* format,
                    MarkupOutputState* st) {
  int kind = image ? kInlineImage : kInlineLink;
  if (FindInlineStyle(stack, *count, kInlineImage, nullptr)) return 0;
  if (!image && FindInlineStyle(stack, *count, kInlineLink, nullptr)) return 0;
  if (*count >= kMarkupMaxInline) return 0;
  const char* t = st->input;
  int n = st->inputLength;
  int start = st->inputPosition;
  SkipSpacesAndTabs(t, n, &start);
  char close = image ? '}' : ']';
  int q = start;
  while (q < n) {
    if ((t[q] == close && q + 1 < n && t[q + 1] == close) || t[q] == '|') break;
    if (IsLineEnd(t[q])) {
      int next = q + ((t[q] == '\r' && q + 1 < n && t[q + 1] == '\n') ? 2 : 1);
      int s = next;
      SkipSpacesAndTabs(t, n, &s);
      if (s >= n || IsLineEnd(t[s])) break;  // an empty line ends the target
      q = next;
      continue;
    }
    ++q;
  }
  int end = q;
  while (end > start && (IsBlank(t[end - 1]) || IsLineEnd(t[end - 1]))) --end;
  if (end == start) {
    st->inputPosition = q;
    return 0;
  }
  if (image) {
    st->imageTarget[0] = start;
    st->imageTarget[1] = end - start;
    st->imageTargetOffset = st->inputOffset;
  } else {
    st->linkTarget[0] = start;
    st->linkTarget[1] = end - start;
    st->linkTargetOffset = st->inputOffset;
  }
  st->targetKind = kind;
  st->plainTargets &= ~TargetBit(kind);
  if (int r = CallInlineHook(format, st, 1, MarkupOfInlineStyle(kind), position); r != 0) return r;
  const char* middle = image ? format->imageMiddle : format->linkMiddle;
  if (middle) {
    bool after = image ? format->imageTargetAfterText : format->linkTargetAfterText;
    int markLength = st->outputLength, markCount = st->characterCount, markColumn = st->column;
    // No wrapping until the target is accepted: the marks must stay valid.
    if (!ExpandMarkupTemplate(image ? format->imageBegin : format->linkBegin, -1, st->escape, st)) return kMarkupNoRoom;
    int beginLength = st->outputLength, beginCount = st->characterCount, beginColumn = st->column;
    // The target is written here even when it belongs after the text, so that a
    // refused target drops the element before any of it is out.
    int r = WriteTargetOf(st, format, kind);
    if (r == kMarkupTargetRefused) {
      TruncateOutput(st, markLength);
      st->characterCount = markCount;
      st->column = markColumn;
      st->plainTargets |= TargetBit(kind);
    } else if (r != 0) {
      return r;
    } else if (after) {
      TruncateOutput(st, beginLength);
      st->characterCount = beginCount;
      st->column = beginColumn;
      if (int w = WrapMarkupOutputLine(st, format); w != 0) return w;
    } else {
      if (int w = WrapMarkupOutputLine(st, format); w != 0) return w;
      if (int w = Emit(st, middle); w != 0) return w;
    }
  }
  int p = start;
  if (q < n && t[q] == '|') {
    p = q + 1;
    SkipSpacesAndTabs(t, n, &p);
  }
  st->inputPosition = p;
  stack[(*count)++] = kind;
  return 0;
}

int FindMarkupPlugin(const char* text, int length, int position, int triple, const MarkupFormat* format) {
  if (!format->plugins) return -1;
  int p = position;
  SkipSpacesAndTabs(text, length, &p);
  int nameStart = p;
  while (p < length && !IsBlank(text[p]) && !IsLineEnd(text[p]) && text[p] != '>') ++p;
  int nameLength = p - nameStart;
  for (int k = 0; format->plugins[k].name; ++k) {
    const MarkupPlugin& e = format->plugins[k];
    if (((e.flags & kPluginTriple) != 0) != (triple != 0)) continue;
    int n = static_cast<int>(std::strlen(e.name));
    bool prefix = (e.flags & kPluginPrefix) != 0;
    if ((n == nameLength || (prefix && n <= nameLength)) && std::memcmp(text + nameStart, e.name, n) == 0) return k;
  }
  return -1;
}

PluginCall CutPluginCall(const char* t, int n, int position, int triple, int blockForm) {
  PluginCall c;
  int p = position;
  SkipSpacesAndTabs(t, n, &p);
  c.nameStart = p;
  while (p < n && !IsBlank(t[p]) && !IsLineEnd(t[p]) && t[p] != '>') ++p;
  c.nameLength = p - c.nameStart;
  SkipSpacesAndTabs(t, n, &p);
  if (p < n && t[p] == '\r') ++p;
  if (p < n && t[p] == '\n') ++p;
  int marks = triple ? 3 : 2;
  auto closesAt = [&](int k) {
    if (k + marks > n) return false;
    for (int m = 0; m < marks; ++m)
      if (t[k + m] != '>') return false;
    return true;
  };
  c.bodyStart = p;
  c.bodyEnd = n;
  c.after = -1;
  if (!blockForm) {
    for (int k = p; k < n; ++k) {
      if (closesAt(k)) {
        c.bodyEnd = k;
        c.after = k + marks;
        break;
      }
    }
  } else {
    int line = p;
    while (line < n) {
      if (closesAt(line)) {
        int s = line + marks;
        SkipSpacesAndTabs(t, n, &s);
        if (s >= n || IsLineEnd(t[s])) {
          c.bodyEnd = line;
          c.after = line + marks;
          break;
        }
      }
      while (line < n && t[line] != '\n') ++line;
      if (line < n) ++line;
    }
  }
  if (c.bodyEnd > c.bodyStart && t[c.bodyEnd - 1] == '\n') --c.bodyEnd;
  if (c.bodyEnd > c.bodyStart && t[c.bodyEnd - 1] == '\r') --c.bodyEnd;
  return c;
}

void ForgetPluginCloses(MarkupOutputState* st) {
  for (int& from : st->noPluginClose) from = INT_MAX;
}

int CallMarkupPlugin(int blockForm, int triple, unsigned, const MarkupFormat* format, MarkupOutputState* st,
                     int* reparse) {
  *reparse = 0;
  const char* t = st->input;
  int n = st->inputLength;
  int index = FindMarkupPlugin(t, n, st->inputPosition, triple, format);
  PluginCall c = CutPluginCall(t, n, st->inputPosition, triple, blockForm);
  st->inputPosition = c.after >= 0 ? c.after : n;
  if (index < 0) return 0;
  const MarkupPlugin& e = format->plugins[index];
  if (int r = e.function(t + c.nameStart, c.nameLength, t + c.bodyStart, c.bodyEnd - c.bodyStart, st, e.data); r != 0)
    return r;
  if (e.flags & kPluginReparse) *reparse = 1;
  return 0;
}

// The new output and the unread input become the input; the output written
// before them is already (up to the synchronised prefix) in the other half, so
// only the difference is copied and the halves swap roles.
int ReparsePluginOutput(char** input, int* inputLength, MarkupOutputState* st, int* synchronised, int start) {
  int end = st->outputLength;
  int rest = *inputLength - st->inputPosition;
  if (rest < 0) rest = 0;
  if (start < 0 || start > end) return kMarkupNoRoom;
  if (end + rest > st->capacity) return kMarkupNoRoom;
  std::memcpy(st->output + end, *input + st->inputPosition, rest);
  if (start > *synchronised) std::memcpy(*input + *synchronised, st->output + *synchronised, start - *synchronised);
  for (int k = start; k < end; ++k)
    if (CountsAsCharacter(static_cast<unsigned char>(st->output[k]))) --st->characterCount;
  int oldPosition = st->inputPosition;
  char* half = *input;
  *input = st->output;
  st->output = half;
  *inputLength = end + rest;
  st->inputPosition = start;
  st->outputLength = start;
  int k = start;
  while (k > 0 && !IsLineEnd(st->output[k - 1])) --k;
  st->column = start - k;
  st->inputOffset += oldPosition - end;
  *synchronised = start;
  st->plainUntil = 0;
  st->wrapScanFrom = 0;
  ForgetPluginCloses(st);
  st->detectorLimit = st->detectorLimit > oldPosition ? st->detectorLimit - oldPosition + end : 0;
  return 0;
}

int WrapMarkupOutputLine(MarkupOutputState* st, const MarkupFormat* format) {
  if (format->wrapColumn <= 0 || st->column < format->wrapColumn) return 0;
  char* o = st->output;
  int length = st->outputLength;
  int lineStart = length;
  while (lineStart > 0 && !IsLineEnd(o[lineStart - 1])) --lineStart;
  // Bytes that failed before are not tried again, so a long line without a break
  // point costs no more than once; the last two are, as a test may look ahead.
  int lower = st->wrapScanFrom > lineStart ? st->wrapScanFrom : lineStart;
  int at = -1, answer = 0;
  for (int k = length - 1; k >= lower; --k) {
    int a = format->breakTest ? format->breakTest(o, length, k, format->breakTestData) : (IsBlank(o[k]) ? 1 : 0);
    if (a != 0) {
      at = k;
      answer = a;
      break;
    }
  }
  if (at < 0) {
    st->wrapScanFrom = length - 2 > lineStart ? length - 2 : lineStart;
    return 0;
  }
  int after = length - at - 1;
  int insert = answer == 2 ? at + 1 : at;
  int added = st->endOfLineLength + st->indentation;
  int removed = answer == 2 ? 0 : 1;
  if (length - removed + added > st->capacity) return kMarkupNoRoom;
  if (removed && CountsAsCharacter(static_cast<unsigned char>(o[at]))) --st->characterCount;
  std::memmove(o + insert + added, o + at + 1, after);
  std::memcpy(o + insert, st->endOfLine, st->endOfLineLength);
  std::memset(o + insert + st->endOfLineLength, ' ', st->indentation);
  st->characterCount += added;  // line-end bytes and blanks are one character each
  st->outputLength = length - removed + added;
  st->column = st->indentation + after;
  if (st->synchronisedPrefix > at) st->synchronisedPrefix = at;
  st->wrapScanFrom = insert + added;
  return 0;
}
