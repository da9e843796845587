// Help texts inside sources: comment blocks read a line at a time, the
// comment after a function's header, and the entries of help files. Line
// ends are LF, CR or CR LF; a comment's lines never include them.
#include "engine/helptext.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsEnd(char c) { return c == '\n' || c == '\r'; }

int32_t LineEnd(const char* text, int32_t length, int32_t p) {
  while (p < length && !IsEnd(text[p])) ++p;
  return p;
}

// The start of the line after the one that ends at `end`.
int32_t NextLine(const char* text, int32_t length, int32_t end) {
  if (end < length && text[end] == '\r' && end + 1 < length && text[end + 1] == '\n') return end + 2;
  return end < length ? end + 1 : end;
}

int32_t SkipBlanks(const char* text, int32_t end, int32_t p) {
  while (p < end && IsBlank(text[p])) ++p;
  return p;
}

// The marker's length at p: 1 for "%", 2 for "//" or "/*", 0 for none.
int MarkerAt(const char* text, int32_t end, int32_t p) {
  if (p >= end) return 0;
  if (text[p] == '%') return 1;
  if (text[p] == '/' && p + 1 < end && (text[p + 1] == '/' || text[p + 1] == '*')) return 2;
  return 0;
}

bool LineComment(const char* text, int32_t end, int32_t p) {
  const int n = MarkerAt(text, end, p);
  return n == 1 || (n == 2 && text[p + 1] == '/');
}

// Where "*/" starts in [p, end), or -1.
int32_t FindClose(const char* text, int32_t end, int32_t p) {
  for (; p + 1 < end; ++p)
    if (text[p] == '*' && text[p + 1] == '/') return p;
  return -1;
}

// Whether a block comment is still open after the bytes [p, end) of a line,
// read from the state inBlock: a line comment ends the line's reading.
bool BlockOpenAfter(const char* text, int32_t end, int32_t p, bool inBlock) {
  while (p < end) {
    if (inBlock) {
      const int32_t close = FindClose(text, end, p);
      if (close < 0) return true;
      inBlock = false;
      p = close + 2;
      continue;
    }
    const int n = MarkerAt(text, end, p);
    if (n == 0) {
      ++p;
    } else if (n == 2 && text[p + 1] == '*') {
      inBlock = true;
      p += 2;
    } else {
      return false;
    }
  }
  return inBlock;
}

// The first comment marker in [p, end), or -1.
int32_t FirstMarker(const char* text, int32_t end, int32_t p) {
  for (; p < end; ++p)
    if (MarkerAt(text, end, p) != 0) return p;
  return -1;
}

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

}  // namespace

bool StartComment(const char* text, int32_t length, int32_t at, CommentReader* reader) {
  if (at < 0 || at >= length) return false;
  const int32_t end = LineEnd(text, length, at);
  const int n = MarkerAt(text, end, at);
  if (n == 0) return false;
  *reader = {text, length, at, n == 2 && text[at + 1] == '*', false, false, false};
  reader->markup = at + n < end && text[at + n] == '=';
  return true;
}

bool NextCommentLine(CommentReader* r, int32_t* start, int32_t* count) {
  const char* t = r->text;
  const int32_t length = r->length;
  if (r->block) {
    int32_t p = r->position;
    if (!r->started) {
      r->started = true;
      p += r->markup ? 3 : 2;
      if (r->markup) {
        // Markup goes on in one piece; a line end right after "/*=" is none of it.
        if (p < length && IsEnd(t[p])) p = NextLine(t, length, p);
        const int32_t close = FindClose(t, length, p);
        *start = p;
        *count = (close < 0 ? length : close) - p;
        r->done = true;
        return true;
      }
      const int32_t end = LineEnd(t, length, p);
      // Nothing after "/*" on its line: the text starts on the next one.
      if (FindClose(t, end, p) < 0 && SkipBlanks(t, end, p) == end) p = NextLine(t, length, end);
    }
    while (!r->done && p < length) {
      const int32_t end = LineEnd(t, length, p);
      const int32_t close = FindClose(t, end, p);
      const int32_t stop = close < 0 ? end : close;
      r->position = NextLine(t, length, end);
      if (close >= 0) {
        r->done = true;
        // Only blanks before "*/": that closing line is no text.
        if (SkipBlanks(t, stop, p) == stop) return false;
      }
      *start = p;
      *count = stop - p;
      return true;
    }
    r->done = true;
    return false;
  }
  if (r->done || r->position >= length) {
    r->done = true;
    return false;
  }
  const int32_t end = LineEnd(t, length, r->position);
  int32_t p = r->position;
  if (r->started) {
    p = SkipBlanks(t, end, p);
    if (!LineComment(t, end, p)) {
      r->done = true;
      return false;
    }
  } else if (!LineComment(t, end, p)) {
    r->done = true;
    return false;
  }
  p += MarkerAt(t, end, p);
  if (!r->started && r->markup) ++p;
  r->started = true;
  *start = p;
  *count = end - p;
  r->position = NextLine(t, length, end);
  return true;
}

bool ShortDescription(const char* text, int32_t length, int32_t at, int32_t* start, int32_t* count) {
  CommentReader r;
  if (!StartComment(text, length, at, &r)) return false;
  int32_t p = at, n = 0;
  // A comment without a line of text describes nothing.
  if (!NextCommentLine(&r, &p, &n)) {
    p = at;
    n = 0;
  }
  int32_t end = LineEnd(text, p + n, p);
  p = SkipBlanks(text, end, p);
  while (end > p && IsBlank(text[end - 1])) --end;
  *start = p;
  *count = end - p;
  return true;
}

int32_t FindHelpAfterHeader(const char* text, int32_t length) {
  int32_t p = 0;
  bool inBlock = false;
  // The header: the first line that is neither blank nor comment.
  for (;;) {
    if (p >= length) return -1;
    const int32_t end = LineEnd(text, length, p);
    const int32_t q = SkipBlanks(text, end, p);
    if (inBlock || q == end || MarkerAt(text, end, q) != 0) {
      inBlock = BlockOpenAfter(text, end, q, inBlock);
      p = NextLine(text, length, end);
      continue;
    }
    break;
  }
  // The header line and the lines its "..." ends continue it with.
  for (;;) {
    const int32_t end = LineEnd(text, length, p);
    int32_t last = end;
    while (last > p && IsBlank(text[last - 1])) --last;
    const bool continued = last - p >= 3 && text[last - 1] == '.' && text[last - 2] == '.' && text[last - 3] == '.';
    p = NextLine(text, length, end);
    if (!continued || p >= length) break;
  }
  if (p >= length) return -1;
  const int32_t end = LineEnd(text, length, p);
  const int32_t q = SkipBlanks(text, end, p);
  return MarkerAt(text, end, q) != 0 ? q : -1;
}

bool NextHelpEntry(const char* text, int32_t length, HelpFileCursor* cursor, HelpEntry* entry) {
  int32_t p = cursor->position;
  if (p < 0) {
    const int32_t end = LineEnd(text, length, 0);
    cursor->inBlock = BlockOpenAfter(text, end, 0, false);
    p = NextLine(text, length, end);
  }
  while (p < length) {
    const int32_t end = LineEnd(text, length, p);
    const int32_t next = NextLine(text, length, end);
    const char c = text[p];
    const bool entryLine =
        !cursor->inBlock && p < end && !IsBlank(c) && !(c == '/' && p + 1 < end && text[p + 1] == '/');
    if (!entryLine) {
      cursor->inBlock = BlockOpenAfter(text, end, p, cursor->inBlock);
      p = next;
      continue;
    }
    int32_t w = p;
    while (w < end && !IsBlank(text[w])) ++w;
    entry->word = p;
    entry->wordLength = w - p;
    entry->name = p;
    entry->nameLength = w - p;
    int32_t q = p;
    if (IsNameStart(text[q])) {
      while (q < w && IsNameChar(text[q])) ++q;
      if (q + 2 <= w && text[q] == ':' && text[q + 1] == ':') {
        entry->name = q + 2;
        entry->nameLength = w - q - 2;
      }
    }
    entry->help = FirstMarker(text, end, w);
    cursor->inBlock = BlockOpenAfter(text, end, p, false);
    cursor->position = next;
    return true;
  }
  cursor->position = length;
  return false;
}
