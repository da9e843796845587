// The converter: a single pass over the marked-up text that acts on each token
// according to its state (block start, inline text, line start, heading,
// preformatted line start, preformatted line), opening and closing paragraphs,
// headings, list levels, tables and preformatted blocks through the templates,
// callbacks and hooks of a MarkupFormat.
#include <cstring>

#include "markup/internal.h"

namespace {

const char* LevelMarker(int kind) {
  switch (kind) {
    case kLevelBullet:
      return "*";
    case kLevelTerm:
      return ";";
    case kLevelDefinition:
      return ";:";
    case kLevelIndent:
      return ":";
    case kLevelDataRow:
      return "|";
    case kLevelHeaderRow:
      return "|=";
    default:
      return "#";
  }
}

int KindOfMarker(char c) {
  switch (c) {
    case '*':
      return kLevelBullet;
    case ';':
      return kLevelTerm;
    case ':':
      return kLevelIndent;
    default:
      return 1;  // '#': a numbered list starting at item 1
  }
}

bool IsRow(int kind) { return kind == kLevelDataRow || kind == kLevelHeaderRow; }

class Converter {
 public:
  explicit Converter(MarkupOutputState& st) : st_(st), f_(*st.format) {}

  int Run();

 private:
  MarkupOutputState& st_;
  const MarkupFormat& f_;
  int mode_ = kModeBlockStart;
  int previousHeading_ = 0;  // heading level before the current token was read

  bool InPre() const { return mode_ == kModePreLine || mode_ == kModePreLineStart; }
  int Position() const { return st_.inputPosition + st_.inputOffset; }
  int Innermost() const { return st_.depth > 0 ? st_.levels[st_.depth - 1] : 0; }
  int NumberOf(int kind) const { return kind >= 0 ? kind : 0; }

  int Template(const char* t) {
    if (!ExpandMarkupTemplate(t, -1, st_.escape, &st_)) return kMarkupNoRoom;
    return InPre() ? 0 : WrapMarkupOutputLine(&st_, &f_);
  }
  // A template with the level and number variables set for it.
  int Template(const char* t, int level, int number) {
    int l = st_.level, i = st_.number;
    st_.level = level;
    st_.number = number;
    int r = Template(t);
    st_.level = l;
    st_.number = i;
    return r;
  }
  int Hook(MarkupHook hook, int level, int number, int begin, const char* markup) {
    return hook ? hook(level, number, begin, markup, Position(), &st_, f_.hookData) : 0;
  }
  int BlockHook(int begin, const char* markup, int level = 0, int number = 0) {
    return Hook(f_.blockHook, level, number, begin, markup);
  }
  int ListHook(int begin, const char* markup, int level, int number = 0) {
    return Hook(f_.listHook, level, number, begin, markup);
  }
  void SkipBlanks() { SkipSpacesAndTabs(st_.input, st_.inputLength, &st_.inputPosition); }

  int Character(MarkupCharCallback callback, const void* data);
  int CloseStyles() { return CloseInlineStyles(st_.inlineStack, &st_.inlineCount, Position(), &f_, &st_); }
  int Paragraph();
  int CloseBlock(bool lists);
  int CloseLevel();
  int OpenLevels(int count);
  int Item();
  int AdjustLists(int count);
  int Heading();
  int EndHeading();
  int OpenTable(int kind);
  int NextCell(int kind);
  int Rule();
  int StartPre();
  int InlineToken(int token);
  int Plugin(int token, bool closeForBlock, bool joinFirst);
  int Detect();

  int BlockStart(int token);
  int InlineText(int token);
  int LineStart(int token);
  int HeadingText(int token);
  int PreLineStart(int token);
  int PreLine(int token);
  int Finish();
};

// Writes the plain character at the position through the callback, or copies it.
int Converter::Character(MarkupCharCallback callback, const void* data) {
  int before = st_.inputPosition;
  if (callback) {
    if (int r = callback(st_.input, st_.inputLength, &st_.inputPosition, &st_, data); r != 0) return r;
    // A callback must consume; one that does not would read the byte forever.
    if (st_.inputPosition <= before) st_.inputPosition = before + 1;
    if (st_.inputPosition > st_.inputLength) st_.inputPosition = st_.inputLength;
  } else {
    if (!WriteOutputBytes(&st_, st_.input + before, 1)) return kMarkupNoRoom;
    st_.inputPosition = before + 1;
  }
  return InPre() ? 0 : WrapMarkupOutputLine(&st_, &f_);
}

int Converter::Paragraph() {
  if (int r = BlockHook(1, "p"); r != 0) return r;
  return Template(f_.paragraphBegin);
}

int Converter::CloseBlock(bool lists) {
  if (st_.depth == 0) {
    if (int r = Template(f_.paragraphEnd); r != 0) return r;
    if (int r = BlockHook(0, "p"); r != 0) return r;
  } else {
    int d = st_.depth;
    int kind = st_.levels[d - 1];
    int number = NumberOf(kind);
    const char* end = nullptr;
    switch (kind) {
      case kLevelBullet:
        end = f_.bulletItemEnd;
        break;
      case kLevelTerm:
        end = f_.termEnd;
        break;
      case kLevelDefinition:
        end = f_.definitionEnd;
        break;
      case kLevelIndent:
        end = f_.indentedEnd;
        break;
      case kLevelDataRow:
        end = f_.cellEnd;
        break;
      case kLevelHeaderRow:
        end = f_.headerCellEnd;
        break;
      default:
        end = f_.numberedItemEnd;
        st_.levels[d - 1] = kind + 1;  // the next item gets the next number
        break;
    }
    if (int r = Template(end, d, number); r != 0) return r;
    if (int r = BlockHook(0, LevelMarker(kind), d, number); r != 0) return r;
    if (IsRow(kind)) {
      if (int r = Template(f_.rowEnd, d, number); r != 0) return r;
    }
  }
  if (lists) {
    while (st_.depth > 0) {
      if (int r = CloseLevel(); r != 0) return r;
    }
  }
  return 0;
}

int Converter::CloseLevel() {
  int d = st_.depth;
  int kind = st_.levels[d - 1];
  const char* end;
  const char* marker;
  switch (kind) {
    case kLevelBullet:
      end = f_.bulletListEnd;
      marker = "*";
      break;
    case kLevelTerm:
    case kLevelDefinition:
      end = f_.definitionListEnd;
      marker = ";";
      break;
    case kLevelIndent:
      end = f_.indentEnd;
      marker = ":";
      break;
    case kLevelDataRow:
    case kLevelHeaderRow:
      end = f_.tableEnd;
      marker = "|";
      break;
    default:
      end = f_.numberedListEnd;
      marker = "#";
      break;
  }
  if (int r = Template(end, d, 0); r != 0) return r;
  --st_.depth;
  return ListHook(0, marker, IsRow(kind) ? 0 : d);
}

// Opens the levels from the current depth up to count, their kinds taken from
// the markers of the last list-marker run.
int Converter::OpenLevels(int count) {
  while (st_.depth < count) {
    int k = st_.depth + 1;
    int kind = KindOfMarker(st_.input[st_.markerStart + k - 1]);
    st_.levels[st_.depth++] = kind;
    const char* begin;
    switch (kind) {
      case kLevelBullet:
        begin = f_.bulletListBegin;
        break;
      case kLevelTerm:
        begin = f_.definitionListBegin;
        break;
      case kLevelIndent:
        begin = f_.indentBegin;
        break;
      default:
        begin = f_.numberedListBegin;
        break;
    }
    if (int r = ListHook(1, LevelMarker(kind), k); r != 0) return r;
    if (int r = Template(begin, k, 0); r != 0) return r;
  }
  return 0;
}

int Converter::Item() {
  SkipBlanks();
  int d = st_.depth;
  int kind = st_.levels[d - 1];
  int number = NumberOf(kind);
  const char* begin;
  switch (kind) {
    case kLevelBullet:
      begin = f_.bulletItemBegin;
      break;
    case kLevelTerm:
      begin = f_.termBegin;
      break;
    case kLevelIndent:
      begin = f_.indentedBegin;
      break;
    default:
      begin = f_.numberedItemBegin;
      break;
  }
  if (int r = BlockHook(1, LevelMarker(kind), d, number); r != 0) return r;
  return Template(begin, d, number);
}

int Converter::AdjustLists(int count) {
  while (st_.depth > count) {
    if (int r = CloseLevel(); r != 0) return r;
  }
  if (int r = OpenLevels(count); r != 0) return r;
  if (st_.levels[st_.depth - 1] == kLevelDefinition) st_.levels[st_.depth - 1] = kLevelTerm;
  return Item();
}

int Converter::Heading() {
  int n = st_.headingLevel;
  for (int level = previousHeading_; level > n; --level) {
    if (level >= 1 && level <= 4 && (st_.openHeadingLevels & (1 << (level - 1)))) {
      if (int r = ListHook(0, "=", level); r != 0) return r;
    }
  }
  // CountHeadingLevel
  if (n >= 1 && n <= 4) st_.openHeadingLevels = (st_.openHeadingLevels & ((1 << (n - 1)) - 1)) | (1 << (n - 1));
  if (n == 1) {
    ++st_.headingCounters[0];
    st_.headingCounters[1] = 0;
  } else if (n == 2) {
    ++st_.headingCounters[1];
  }
  int number = 0;
  if (n == 1 && (st_.flags & kMarkupNumberLevel1)) number = st_.headingCounters[0];
  if (n == 2 && (st_.flags & kMarkupNumberLevel2)) number = st_.headingCounters[1];
  if (int r = ListHook(1, "=", n, number); r != 0) return r;
  if (int r = BlockHook(1, "=", n, number); r != 0) return r;
  if (int r = Template(f_.headingBegin, n, number); r != 0) return r;
  SkipBlanks();
  mode_ = kModeHeading;
  return 0;
}

int Converter::EndHeading() {
  if (int r = CloseStyles(); r != 0) return r;
  if (int r = Template(f_.headingEnd, st_.headingLevel, 0); r != 0) return r;
  if (int r = BlockHook(0, "=", st_.headingLevel); r != 0) return r;
  mode_ = kModeBlockStart;
  return 0;
}

int Converter::OpenTable(int kind) {
  st_.levels[st_.depth++] = kind;
  if (int r = ListHook(1, "|", 0); r != 0) return r;
  return Template(f_.tableBegin, st_.depth, 0);
}

// Row and cell begin (or only the cell when a row is under way).
int Converter::NextCell(int kind) {
  st_.levels[st_.depth - 1] = kind;
  if (int r = BlockHook(1, LevelMarker(kind), st_.depth); r != 0) return r;
  if (int r = Template(kind == kLevelHeaderRow ? f_.headerCellBegin : f_.cellBegin, st_.depth, 0); r != 0) return r;
  mode_ = kModeInline;
  return 0;
}

int Converter::Rule() {
  if (int r = BlockHook(1, "----"); r != 0) return r;
  if (int r = Template(f_.rule); r != 0) return r;
  if (int r = BlockHook(0, "----"); r != 0) return r;
  mode_ = kModeBlockStart;
  return 0;
}

int Converter::StartPre() {
  if (int r = BlockHook(1, "{{{"); r != 0) return r;
  if (int r = Template(f_.preBegin); r != 0) return r;
  if (int r = Template(f_.preLinePrefix); r != 0) return r;
  if (st_.inputPosition < st_.inputLength && st_.input[st_.inputPosition] == '\r') ++st_.inputPosition;
  if (st_.inputPosition < st_.inputLength && st_.input[st_.inputPosition] == '\n') ++st_.inputPosition;
  mode_ = kModePreLineStart;
  return 0;
}

// Inline styles, links and images, as read in inline text.
int Converter::InlineToken(int token) {
  int* stack = st_.inlineStack;
  int* count = &st_.inlineCount;
  switch (token) {
    case kTokStyle:
      return ToggleInlineStyle(stack, count, st_.inlineKind, Position(), &f_, &st_);
    case kTokLinkOpen:
      return OpenLinkOrImage(0, stack, count, Position(), &f_, &st_);
    case kTokImageOpen:
      return OpenLinkOrImage(1, stack, count, Position(), &f_, &st_);
    case kTokLinkClose:
      return ToggleInlineStyle(stack, count, kInlineLink, Position(), &f_, &st_);
    case kTokImageClose:
      return ToggleInlineStyle(stack, count, kInlineImage, Position(), &f_, &st_);
    default:
      return kMarkupUnexpectedToken;
  }
}

// A plug-in call. A block plug-in first closes what is open when closeForBlock;
// an inline one first writes the join string when joinFirst (line start) or
// opens a paragraph (block start).
int Converter::Plugin(int token, bool closeForBlock, bool joinFirst) {
  bool triple = token == kTokPluginTriple || token == kTokPluginTripleBlock;
  bool blockForm = token == kTokPluginBlock || token == kTokPluginTripleBlock;
  int index = FindMarkupPlugin(st_.input, st_.inputLength, st_.inputPosition, triple, &f_);
  bool blockPlugin = index >= 0 && (f_.plugins[index].flags & kPluginBlock);
  if (blockPlugin && closeForBlock) {
    if (int r = CloseStyles(); r != 0) return r;
    if (int r = CloseBlock(true); r != 0) return r;
    mode_ = kModeBlockStart;
  } else if (!blockPlugin && index >= 0 && mode_ == kModeBlockStart) {
    if (int r = Paragraph(); r != 0) return r;
    mode_ = kModeInline;
  } else if (!blockPlugin && joinFirst) {
    if (int r = Template(f_.join); r != 0) return r;
    mode_ = kModeInline;
  }
  int before = st_.outputLength;
  if (int r = CallMarkupPlugin(blockForm, triple, st_.flags, &f_, &st_, &st_.reparseRequest); r != 0) return r;
  if (st_.reparseRequest) {
    st_.reparseRequest = 0;
    return ReparsePluginOutput(&st_.input, &st_.inputLength, &st_, &st_.synchronisedPrefix, before);
  }
  return InPre() ? 0 : WrapMarkupOutputLine(&st_, &f_);
}

// Detectors may turn the text at the position into markup that is read again.
int Converter::Detect() {
  for (const MarkupDetector* d = f_.detectors; d->function; ++d) {
    int before = st_.outputLength;
    int from = st_.inputPosition;
    if (!d->function(st_.input, st_.inputLength, &st_.inputPosition, &st_, d->data)) continue;
    if (st_.inputPosition < from) st_.inputPosition = from;
    if (st_.inputPosition > st_.inputLength) st_.inputPosition = st_.inputLength;
    // Not again over its own output; and not again here when it consumed nothing.
    int limit = st_.outputLength + (st_.inputPosition == from ? 1 : 0);
    if (int r = ReparsePluginOutput(&st_.input, &st_.inputLength, &st_, &st_.synchronisedPrefix, before); r != 0)
      return r;
    st_.detectorLimit = limit;
    return 0;
  }
  return 0;
}

int Converter::BlockStart(int token) {
  switch (token) {
    case kTokPlain:
      if (int r = Paragraph(); r != 0) return r;
      mode_ = kModeInline;
      return Character(f_.textChar, f_.textCharData);
    case kTokSpace:
    case kTokTab:
    case kTokLineEnd:
      return 0;
    case kTokHeading:
      return Heading();
    case kTokLineBreak:
      if (int r = Paragraph(); r != 0) return r;
      mode_ = kModeInline;
      return Template(f_.lineBreak);
    case kTokListMarkers:
      if (int r = OpenLevels(st_.requestedDepth); r != 0) return r;
      mode_ = kModeInline;
      return Item();
    case kTokCell:
    case kTokHeaderCell: {
      int kind = token == kTokHeaderCell ? kLevelHeaderRow : kLevelDataRow;
      if (int r = OpenTable(kind); r != 0) return r;
      if (int r = Template(f_.rowBegin, st_.depth, 0); r != 0) return r;
      return NextCell(kind);
    }
    case kTokRule:
      return Rule();
    case kTokPre:
      return StartPre();
    case kTokStyle:
    case kTokLinkOpen:
    case kTokImageOpen:
      if (int r = Paragraph(); r != 0) return r;
      mode_ = kModeInline;
      return InlineToken(token);
    case kTokPlugin:
    case kTokPluginBlock:
    case kTokPluginTriple:
    case kTokPluginTripleBlock:
      return Plugin(token, false, false);
    default:
      return kMarkupUnexpectedToken;
  }
}

int Converter::InlineText(int token) {
  switch (token) {
    case kTokPlain:
      return Character(f_.textChar, f_.textCharData);
    case kTokSpace:
    case kTokTab:
      SkipBlanks();
      if (st_.inputPosition >= st_.inputLength || IsLineEnd(st_.input[st_.inputPosition])) return 0;
      return Template(f_.join);
    case kTokLineEnd:
      if (mode_ == kModeHeading) return EndHeading();
      mode_ = kModeLineStart;
      return 0;
    case kTokLineBreak:
      return Template(f_.lineBreak);
    case kTokDefinition:
      if (int r = CloseStyles(); r != 0) return r;
      if (int r = CloseBlock(false); r != 0) return r;
      // The level is a definition before its begin template, so that "%L" shows it.
      st_.levels[st_.depth - 1] = kLevelDefinition;
      if (int r = BlockHook(1, ";:", st_.depth); r != 0) return r;
      return Template(f_.definitionBegin, st_.depth, 0);
    case kTokCell:
    case kTokHeaderCell: {
      int length = st_.outputLength;
      while (length > 0 && st_.output[length - 1] == ' ') --length;
      TruncateOutput(&st_, length);
      if (int r = CloseStyles(); r != 0) return r;
      int d = st_.depth;
      int kind = st_.levels[d - 1];
      if (int r = Template(kind == kLevelHeaderRow ? f_.headerCellEnd : f_.cellEnd, d, 0); r != 0) return r;
      if (int r = BlockHook(0, LevelMarker(kind), d); r != 0) return r;
      return NextCell(token == kTokHeaderCell ? kLevelHeaderRow : kLevelDataRow);
    }
    case kTokStyle:
    case kTokLinkOpen:
    case kTokLinkClose:
    case kTokImageOpen:
    case kTokImageClose:
      return InlineToken(token);
    case kTokPlugin:
    case kTokPluginBlock:
    case kTokPluginTriple:
    case kTokPluginTripleBlock:
      return Plugin(token, mode_ == kModeInline, false);
    default:
      return kMarkupUnexpectedToken;
  }
}

int Converter::LineStart(int token) {
  switch (token) {
    case kTokPlain:
      if ((st_.flags & kMarkupLinePerParagraph) || IsRow(Innermost())) {
        if (int r = CloseStyles(); r != 0) return r;
        if (int r = CloseBlock(true); r != 0) return r;
        if (int r = Paragraph(); r != 0) return r;
      } else {
        if (int r = Template(f_.join); r != 0) return r;
      }
      mode_ = kModeInline;
      return Character(f_.textChar, f_.textCharData);
    case kTokSpace:
    case kTokTab:
      return 0;  // leading blanks of a continuation line; a blank line is an empty one
    case kTokLineEnd:
      if (int r = CloseStyles(); r != 0) return r;
      if (int r = CloseBlock(true); r != 0) return r;
      mode_ = kModeBlockStart;
      return 0;
    case kTokLineBreak:
      return Template(f_.lineBreak);
    case kTokListMarkers:
      if (int r = CloseStyles(); r != 0) return r;
      if (int r = CloseBlock(false); r != 0) return r;
      mode_ = kModeInline;
      return AdjustLists(st_.requestedDepth);
    case kTokDefinition: {
      if (int r = CloseStyles(); r != 0) return r;
      if (int r = CloseBlock(false); r != 0) return r;
      // The run's last marker names the level that takes the definition.
      while (st_.depth > st_.requestedDepth) {
        if (int r = CloseLevel(); r != 0) return r;
      }
      if (Innermost() != kLevelTerm && f_.definitionPrefix) {
        if (int r = Template(f_.definitionPrefix, st_.depth, 0); r != 0) return r;
      }
      SkipBlanks();
      st_.levels[st_.depth - 1] = kLevelDefinition;
      mode_ = kModeInline;
      if (int r = BlockHook(1, ";:", st_.depth); r != 0) return r;
      return Template(f_.definitionBegin, st_.depth, 0);
    }
    case kTokCell:
    case kTokHeaderCell: {
      if (int r = CloseStyles(); r != 0) return r;
      if (int r = CloseBlock(false); r != 0) return r;
      int kind = token == kTokHeaderCell ? kLevelHeaderRow : kLevelDataRow;
      if (!IsRow(Innermost())) {
        if (int r = OpenTable(kind); r != 0) return r;
      }
      if (int r = Template(f_.rowBegin, st_.depth, 0); r != 0) return r;
      return NextCell(kind);
    }
    case kTokRule:
      if (int r = CloseStyles(); r != 0) return r;
      if (int r = CloseBlock(true); r != 0) return r;
      return Rule();
    case kTokStyle:
    case kTokLinkOpen:
    case kTokLinkClose:
    case kTokImageOpen:
    case kTokImageClose:
      if (int r = Template(f_.join); r != 0) return r;
      mode_ = kModeInline;
      return InlineToken(token);
    case kTokPlugin:
    case kTokPluginBlock:
    case kTokPluginTriple:
    case kTokPluginTripleBlock:
      return Plugin(token, true, true);
    default:
      return kMarkupUnexpectedToken;
  }
}

int Converter::HeadingText(int token) {
  switch (token) {
    case kTokHeading:  // the closing run
      SkipBlanks();
      return EndHeading();
    case kTokPlain:
    case kTokSpace:
    case kTokTab:
    case kTokLineEnd:
    case kTokLineBreak:
    case kTokStyle:
    case kTokLinkOpen:
    case kTokLinkClose:
    case kTokImageOpen:
    case kTokImageClose:
    case kTokPlugin:
    case kTokPluginBlock:
    case kTokPluginTriple:
    case kTokPluginTripleBlock:
      return InlineText(token);
    default:
      return kMarkupUnexpectedToken;
  }
}

int Converter::PreLineStart(int token) {
  if (token == kTokPre) {
    if (int r = Template(f_.preEnd); r != 0) return r;
    if (int r = BlockHook(0, "{{{"); r != 0) return r;
    mode_ = kModeBlockStart;
    return 0;
  }
  if (int r = Template(f_.preLinePrefix); r != 0) return r;
  mode_ = kModePreLine;
  if (token == kTokSpace || token == kTokTab) {
    // A line of blanks before "}}}" loses its first blank.
    const char* t = st_.input;
    int k = st_.inputPosition;
    while (k < st_.inputLength && IsBlank(t[k])) ++k;
    if (k + 2 < st_.inputLength && t[k] == '}' && t[k + 1] == '}' && t[k + 2] == '}') return 0;
  }
  return PreLine(token);
}

int Converter::PreLine(int token) {
  switch (token) {
    case kTokLineEnd:
      if (int r = Template(f_.preLineEnd); r != 0) return r;
      mode_ = kModePreLineStart;
      return 0;
    case kTokSpace:
      if (f_.preChar) {
        int p = 0;
        return f_.preChar(" ", 1, &p, &st_, f_.preCharData);
      }
      return WriteOutputBytes(&st_, " ", 1) ? 0 : kMarkupNoRoom;
    case kTokTab:
      do {
        if (!WriteOutputBytes(&st_, " ", 1)) return kMarkupNoRoom;
      } while (st_.column % 4 != 0);
      return 0;
    default:
      return Character(f_.preChar, f_.preCharData);
  }
}

int Converter::Finish() {
  switch (mode_) {
    case kModePreLine:
    case kModePreLineStart:
      if (int r = Template(f_.preEnd); r != 0) return r;
      if (int r = BlockHook(0, "{{{"); r != 0) return r;
      break;
    case kModeHeading:
      if (int r = EndHeading(); r != 0) return r;
      break;
    case kModeInline:
    case kModeLineStart:
      if (int r = CloseStyles(); r != 0) return r;
      if (int r = CloseBlock(true); r != 0) return r;
      break;
    default:
      break;
  }
  mode_ = kModeBlockStart;
  if (!(st_.flags & kMarkupNoDocument)) {
    if (int r = Template(f_.documentEnd); r != 0) return r;
  }
  return 0;
}

int Converter::Run() {
  if (!(st_.flags & kMarkupNoDocument)) {
    if (int r = Template(f_.documentBegin); r != 0) return r;
  }
  while (st_.inputPosition < st_.inputLength) {
    if (OutputRoom(&st_) < 3) return kMarkupNoRoom;
    if (!InPre() && f_.detectors && !(st_.flags & kMarkupNoPlugins) && st_.inputPosition >= st_.detectorLimit &&
        st_.inputPosition >= st_.plainUntil) {
      if (int r = Detect(); r != 0) return r;
      if (st_.inputPosition >= st_.inputLength) break;
    }
    previousHeading_ = st_.headingLevel;
    int token = 0;
    if (!NextMarkupToken(&st_, mode_, &token)) break;
    int r = 0;
    switch (mode_) {
      case kModeBlockStart:
        r = BlockStart(token);
        break;
      case kModeInline:
        r = InlineText(token);
        break;
      case kModeLineStart:
        if (token == kTokHeading) {
          if ((r = CloseStyles()) == 0 && (r = CloseBlock(true)) == 0) r = Heading();
        } else if (token == kTokPre) {
          if ((r = CloseStyles()) == 0 && (r = CloseBlock(true)) == 0) r = StartPre();
        } else {
          r = LineStart(token);
        }
        break;
      case kModeHeading:
        r = HeadingText(token);
        break;
      case kModePreLineStart:
        r = PreLineStart(token);
        break;
      case kModePreLine:
        r = PreLine(token);
        break;
      default:
        r = kMarkupUnexpectedToken;
        break;
    }
    if (r != 0) return r;
  }
  if (int r = Finish(); r != 0) return r;
  if (OutputRoom(&st_) < 2) return kMarkupNoRoom;
  st_.output[st_.outputLength] = '\0';
  return 0;
}

}  // namespace

int ConvertMarkup(const char* text, int length, char* work, int workSize, unsigned flags, const char* endOfLine,
                  const MarkupFormat* format, int fontSize, const char** outText, int* outLength,
                  int* outCharacterCount) {
  if (!format) format = &kMarkupFormats[kPlainTextFormat];
  if (!text) length = 0;
  if (length < 0) length = static_cast<int>(std::strlen(text));
  if (!work || workSize < 0) return kMarkupNoRoom;
  int capacity = workSize / 2;
  if (length > capacity) return kMarkupNoRoom;

  MarkupOutputState st;
  std::memset(&st, 0, sizeof st);
  if (length > 0) std::memcpy(work, text, length);
  st.input = work;
  st.inputLength = length;
  st.output = work + capacity;
  st.capacity = capacity;
  st.format = format;
  st.endOfLine = (endOfLine && endOfLine[0]) ? endOfLine : "\n";
  st.endOfLineLength = st.endOfLine[1] ? 2 : 1;
  st.escape = format->escape;
  st.flags = flags;
  st.fontSize = fontSize >= 1 ? fontSize : format->defaultFontSize;
  st.anchor = (flags & kMarkupHeadingAnchors) ? 1 : 0;
  st.noDocument = flags & kMarkupNoDocument;
  st.targetKind = kInlineLink;
  ForgetPluginCloses(&st);

  Converter converter(st);
  if (int r = converter.Run(); r != 0) return r;
  if (outText) *outText = st.output;
  if (outLength) *outLength = st.outputLength;
  if (outCharacterCount) *outCharacterCount = st.characterCount;
  return 0;
}
