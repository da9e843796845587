// The tokenizer of the markup language: reads one token at the input position
// according to the converter's state, the open list levels, the open inline
// styles and the flags. A construct read as plain leaves the position on its
// first byte; the converter writes that byte and moves on.
#include "markup/internal.h"

namespace {

struct Reader {
  MarkupOutputState* st;
  const char* t;
  int n;
  int p;
  int mode;
  int* token;

  int Emit(int code, int next) {
    *token = code;
    st->inputPosition = next;
    return 1;
  }
  int Plain() { return Emit(kTokPlain, p); }
  int Style(int kind, int next) {
    st->inlineKind = kind;
    return Emit(kTokStyle, next);
  }
  char At(int k) const { return k < n ? t[k] : '\0'; }
  bool Has(int k, char c) const { return k < n && t[k] == c; }
  bool Off(unsigned flag) const { return (st->flags & flag) != 0; }
  bool Open(int kind) const { return FindInlineStyle(st->inlineStack, st->inlineCount, kind, nullptr); }
  int Innermost() const { return st->depth > 0 ? st->levels[st->depth - 1] : 0; }
  int Outermost() const { return st->depth > 0 ? st->levels[0] : 0; }
  bool InlineText() const { return mode == kModeInline; }
  bool LineOrBlockStart() const { return mode == kModeLineStart || mode == kModeBlockStart; }
  bool Textual() const { return mode == kModeInline || mode == kModeHeading || LineOrBlockStart(); }

  // Only blanks follow from k to the end of the line.
  bool RestOfLineBlank(int k) const {
    while (k < n && IsBlank(t[k])) ++k;
    return k >= n || IsLineEnd(t[k]);
  }

  static bool Accepts(int kind, char c) {
    if (kind == kLevelBullet) return c == '*';
    if (kind == kLevelTerm || kind == kLevelDefinition) return c == ';' || c == ':';
    return kind >= 1 && c == '#';  // indents and table rows take no list markers
  }

  // Markers past the eighth level are left to be read as plain text.
  void KeepExcessPlain(int q, bool colons) {
    int r = q;
    while (r < n &&
           (colons ? t[r] == ':' : (t[r] == '*' || t[r] == '#' || (t[r] == ';' && !Off(kMarkupNoDefinitions)))))
      ++r;
    if (r > q) st->plainUntil = r;
  }

  int MarkerRun() {
    int count = 0, q = p;
    while (q < n && count < kMarkupMaxLevels) {
      char c = t[q];
      bool ok;
      if (count < st->depth) {
        ok = Accepts(st->levels[count], c);
      } else {
        if (c == ':') break;
        ok = c == '*' || c == '#' || (c == ';' && !Off(kMarkupNoDefinitions));
      }
      if (!ok) break;
      ++count;
      ++q;
    }
    if (count == 0) return Plain();
    if (count == kMarkupMaxLevels) KeepExcessPlain(q, false);
    st->requestedDepth = count;
    st->markerStart = p;
    return Emit(t[q - 1] == ':' ? kTokDefinition : kTokListMarkers, q);
  }

  int ColonRun() {
    int count = 0, q = p;
    while (q < n && t[q] == ':' && count < kMarkupMaxLevels &&
           (count >= st->depth || st->levels[count] == kLevelIndent)) {
      ++count;
      ++q;
    }
    if (count == 0) return Plain();
    if (count == kMarkupMaxLevels) KeepExcessPlain(q, true);
    st->requestedDepth = count;
    st->markerStart = p;
    return Emit(kTokListMarkers, q);
  }

  int StarOrHash(char c) {
    int kind = c == '*' ? kInlineBold : kInlineMonospace;
    bool on = !Off(c == '*' ? kMarkupNoBold : kMarkupNoMonospace);
    bool doubled = Has(p + 1, c);
    if (!LineOrBlockStart()) return (doubled && on) ? Style(kind, p + 2) : Plain();
    if (st->depth == 0) return (doubled && on) ? Style(kind, p + 2) : MarkerRun();
    char outer = Outermost() == kLevelBullet ? '*' : '#';
    if (c != outer) return (doubled && on) ? Style(kind, p + 2) : Plain();
    if (doubled && on) {
      bool secondOther = st->depth >= 2 && (c == '*' ? st->levels[1] != kLevelBullet : st->levels[1] < 1);
      if (secondOther || p + 2 == n) return Style(kind, p + 2);
    }
    return MarkerRun();
  }

  // "scheme://": the slashes after a colon that follows a scheme character.
  bool UrlSlash() const {
    if (p < 2 || t[p - 1] != ':') return false;
    char s = t[p - 2];
    bool scheme =
        (s >= 'a' && s <= 'z') || (s >= 'A' && s <= 'Z') || (s >= '0' && s <= '9') || s == '+' || s == '-' || s == '.';
    return scheme && p + 2 < n && !IsBlank(t[p + 2]) && !IsLineEnd(t[p + 2]);
  }

  int Braces(char c) {
    if (c == '}' && Has(p + 1, '}') && Open(kInlineImage)) return Emit(kTokImageClose, p + 2);
    bool three = Has(p + 1, c) && Has(p + 2, c);
    if (three && c == '}' && Has(p + 3, '}')) return Plain();
    if (three) {
      bool open = Open(kInlineNowiki);
      bool toggles = (c == '{' && !open) || (c == '}' && open);
      if (LineOrBlockStart() && RestOfLineBlank(p + 3)) {
        int q = p + 3;
        while (q < n && IsBlank(t[q])) ++q;
        return Emit(kTokPre, q);
      }
      return toggles ? Style(kInlineNowiki, p + 3) : Plain();
    }
    if (c == '{' && Has(p + 1, '{') && !Off(kMarkupNoImages) && !Open(kInlineImage)) return Emit(kTokImageOpen, p + 2);
    return Plain();
  }

  int Cell() {
    bool header = Has(p + 1, '=');
    int q = p + (header ? 2 : 1);
    while (q < n && IsBlank(t[q])) ++q;
    if (InlineText()) {
      if (q >= n) {
        st->inputPosition = n;
        return 0;  // a cell mark at the end of the text ends the token stream
      }
      if (IsLineEnd(t[q])) return Emit(kTokLineEnd, q + ((t[q] == '\r' && Has(q + 1, '\n')) ? 2 : 1));
    }
    return Emit(header ? kTokHeaderCell : kTokCell, q);
  }

  // A plug-in call needs its closing marks; without them "<<" is text, so that
  // an unclosed one cannot swallow the rest of the document.
  int Plugin() {
    bool triple = Has(p + 2, '<');
    int q = p + (triple ? 3 : 2);
    bool block = false;
    if (LineOrBlockStart()) {
      int k = q;
      while (k < n && IsBlank(t[k])) ++k;
      while (k < n && !IsBlank(t[k]) && !IsLineEnd(t[k]) && t[k] != '>') ++k;
      block = RestOfLineBlank(k);
    }
    int form = (triple ? 2 : 0) + (block ? 1 : 0);
    PluginCall call = CutPluginCall(t, n, q, triple, block);
    if (call.bodyStart >= st->noPluginClose[form]) return Plain();
    if (call.after < 0) {
      // None after this body start means none after any later one.
      st->noPluginClose[form] = call.bodyStart;
      return Plain();
    }
    return Emit(triple ? (block ? kTokPluginTripleBlock : kTokPluginTriple) : (block ? kTokPluginBlock : kTokPlugin),
                q);
  }

  int Read();
};

int Reader::Read() {
  if (p < st->plainUntil) return Plain();
  if (mode == kModeHeading && IsBlank(t[p])) {
    int q = p;
    while (q < n && IsBlank(t[q])) ++q;
    if (q < n && t[q] == '=') p = q;
  }
  char c = t[p];
  switch (c) {
    case '\t':
      return Emit(kTokTab, p + 1);
    case ' ':
      return Emit(kTokSpace, p + 1);
    case '\n':
      return Emit(kTokLineEnd, p + 1);
    case '\r':
      return Emit(kTokLineEnd, Has(p + 1, '\n') ? p + 2 : p + 1);
    default:
      break;
  }
  if (mode == kModePreLine || mode == kModePreLineStart) {
    if (mode == kModePreLineStart && c == '}' && Has(p + 1, '}') && Has(p + 2, '}')) return Emit(kTokPre, p + 3);
    return Plain();
  }
  // Inside nowiki only blanks, line ends, the rule and triple braces keep their meaning.
  bool nowiki = (mode == kModeInline || mode == kModeLineStart) && st->inlineCount > 0 &&
                st->inlineStack[st->inlineCount - 1] == kInlineNowiki;
  if (nowiki && c != '-' && c != '{' && c != '}') return Plain();
  if (nowiki && (c == '{' || c == '}') && !(Has(p + 1, c) && Has(p + 2, c))) return Plain();

  switch (c) {
    case '*':
    case '#':
      return StarOrHash(c);
    case '-':
      if (LineOrBlockStart() && !Off(kMarkupNoRule) && Has(p + 1, '-') && Has(p + 2, '-') && Has(p + 3, '-') &&
          p + 4 < n) {
        int q = p;
        while (q < n && t[q] == '-') ++q;
        return Emit(kTokRule, q);
      }
      return Plain();
    case '/':
    case '_':
    case '^':
    case ',': {
      if (!Textual() || !Has(p + 1, c)) return Plain();
      if (c == '/' && UrlSlash()) return Plain();
      int kind = c == '/'   ? kInlineItalic
                 : c == '_' ? kInlineUnderline
                 : c == '^' ? kInlineSuperscript
                            : kInlineSubscript;
      unsigned flag = c == '/' ? kMarkupNoItalic : c == '_' ? kMarkupNoUnderline : kMarkupNoScripts;
      return Off(flag) ? Plain() : Style(kind, p + 2);
    }
    case ':':
      if (InlineText()) {
        if (Innermost() != kLevelTerm) return Plain();
        int q = p + 1;
        while (q < n && IsBlank(t[q])) ++q;
        return Emit(kTokDefinition, q);
      }
      if (mode == kModeLineStart && (Outermost() == kLevelTerm || Outermost() == kLevelDefinition)) return MarkerRun();
      if (LineOrBlockStart() && (mode == kModeBlockStart || st->depth == 0 || Outermost() == kLevelIndent) &&
          !Off(kMarkupNoIndents))
        return ColonRun();
      return Plain();
    case ';':
      if (LineOrBlockStart() && !Off(kMarkupNoDefinitions) &&
          (st->depth == 0 || Outermost() == kLevelTerm || Outermost() == kLevelDefinition))
        return MarkerRun();
      return Plain();
    case '<':
      if (!Off(kMarkupNoPlugins) && Has(p + 1, '<') && p + 2 != n) return Plugin();
      return Plain();
    case '=': {
      int q = p;
      while (q < n && t[q] == '=') ++q;
      if (mode == kModeHeading) return Emit(kTokHeading, q);
      if (!LineOrBlockStart()) return Plain();
      int level = q - p;
      if (level == 1 && Off(kMarkupSingleEqualIsLevel2)) level = 2;
      int most = st->format->maxHeadingLevel > 0 ? st->format->maxHeadingLevel : 1;
      if (level > most) level = most;
      st->headingLevel = level;
      return Emit(kTokHeading, q);
    }
    case '\\':
      if (Textual() && Has(p + 1, '\\')) {
        int q = p + 2;
        while (q < n && IsBlank(t[q])) ++q;
        return Emit(kTokLineBreak, q);
      }
      return Plain();
    case '[':
      if (Textual() && !Off(kMarkupNoLinks) && Has(p + 1, '[')) return Emit(kTokLinkOpen, p + 2);
      return Plain();
    case ']':
      if (Textual() && !Off(kMarkupNoLinks) && Has(p + 1, ']') && Open(kInlineLink)) return Emit(kTokLinkClose, p + 2);
      return Plain();
    case '|':
      if (Off(kMarkupNoTables)) return Plain();
      if (LineOrBlockStart()) {
        // No level is left for a table row inside eight open levels.
        if (st->depth >= kMarkupMaxLevels && Innermost() != kLevelDataRow && Innermost() != kLevelHeaderRow)
          return Plain();
        return Cell();
      }
      if (InlineText() && (Innermost() == kLevelDataRow || Innermost() == kLevelHeaderRow)) return Cell();
      return Plain();
    case '{':
    case '}':
      return Textual() ? Braces(c) : Plain();
    case '~':
      if (!Off(kMarkupNoTilde) && p + 1 < n && !IsBlank(t[p + 1]) && !IsLineEnd(t[p + 1]))
        return Emit(kTokPlain, p + 1);
      return Plain();
    default:
      return Plain();
  }
}

}  // namespace

int NextMarkupToken(MarkupOutputState* st, int mode, int* token) {
  if (st->inputPosition >= st->inputLength) return 0;
  Reader r{st, st->input, st->inputLength, st->inputPosition, mode, token};
  return r.Read();
}
