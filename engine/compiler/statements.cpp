// Pass 1 of the compiler: a source text split into statement records with
// normalised texts, the table of variable names, and the function header
// with its outputs, inputs and the statements of default input values.
#include <algorithm>
#include <cstring>

#include "engine/compiler/compiler.h"
#include "engine/compiler/scanner.h"
#include "engine/values/textformat.h"

namespace {

constexpr int kMaxBracketDepth = 30;

bool IsOperatorChar(int c) { return c > 0 && c < 128 && std::strchr("&*+-./:<=>?\\^|~", c) != nullptr; }

bool StartsGap(const char* text, int length, int p) {
  const char c = text[p];
  if (IsBlank(c) || IsLineEnd(c) || c == '%') return true;
  if (c == '/' && p + 1 < length) return text[p + 1] == '/' || text[p + 1] == '*';
  return c == '.' && p + 2 < length && text[p + 1] == '.' && text[p + 2] == '.';
}

// Counts a line end copied inside a string ("\r\n" once, at its "\n").
void CountCopiedLineEnd(const char* text, int length, int p, int32_t* line) {
  if (line == nullptr) return;
  if (text[p] == '\n' || (text[p] == '\r' && !(p + 1 < length && text[p + 1] == '\n'))) ++*line;
}

[[nodiscard]] StatusCode ClosingError(int c) {
  return c == ')' ? kUnexpectedRightPar : c == ']' ? kUnexpectedRightBracket : kUnexpectedRightBrace;
}

// The destination of CopyStatementText, which remembers the last character
// written and whether it was a transpose quote.
struct Output {
  char* text;
  int room;
  int n = 0;
  int last = -1;
  bool lastTranspose = false;

  bool Put(int c) {
    if (n >= room) return false;
    text[n++] = static_cast<char>(c);
    last = c;
    lastTranspose = false;
    return true;
  }
  void Replace(int c) {
    text[n - 1] = static_cast<char>(c);
    last = c;
  }
  void Remove() {
    --n;
    last = n > 0 ? static_cast<unsigned char>(text[n - 1]) : -1;
  }
};

// From an opening bracket past its closing one, strings skipped.
void SkipBalanced(const char* t, int n, int* p) {
  int depth = 0;
  int last = -1;
  bool lastTranspose = false;
  while (*p < n) {
    const int c = ByteAt(t, *p);
    if (c == '\'' && !QuoteIsTranspose(last, lastTranspose)) {
      for (++*p; *p < n; ++*p) {
        if (t[*p] == '\\') {
          ++*p;
          continue;
        }
        if (t[*p] == '\'') break;
      }
      if (*p < n) ++*p;
      last = '\'';
      lastTranspose = false;
      continue;
    }
    lastTranspose = c == '\'';
    last = c;
    ++*p;
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && --depth <= 0) return;
  }
}

// Past the indices and field selections that follow a target's name.
void SkipTargetTail(const char* t, int n, int* p) {
  while (*p < n) {
    const char c = t[*p];
    if (c == '(' || c == '{') {
      SkipBalanced(t, n, p);
    } else if (c == '.' && *p + 1 < n && IsNameStart(t[*p + 1])) {
      *p += 1 + NameLength(t, n, *p + 1);
    } else if (c == '.' && *p + 1 < n && t[*p + 1] == '(') {
      ++*p;
      SkipBalanced(t, n, p);
    } else {
      return;
    }
  }
}

// Where a default input value ends: the "," or ")" that closes it, or a line
// end, outside brackets and strings.
int DefaultValueEnd(const char* text, int length, int p) {
  int depth = 0;
  int last = -1;
  bool lastTranspose = false;
  while (p < length) {
    const int c = ByteAt(text, p);
    if (depth == 0 && (c == ',' || c == ')' || IsLineEnd(c))) return p;
    if (c == '\'' && !QuoteIsTranspose(last, lastTranspose)) {
      for (++p; p < length && text[p] != '\''; ++p)
        if (text[p] == '\\') ++p;
      if (p < length) ++p;
      last = '\'';
      lastTranspose = false;
      continue;
    }
    if (!IsBlank(c)) {
      lastTranspose = c == '\'';
      last = c;
    }
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && depth > 0) --depth;
    ++p;
  }
  return p;
}

// ---------------------------------------------------------------------------
// Pass 1 state.

struct StatementKeyword {
  const char* word;
  StatementClass cls;
};

// Tested in this order.
constexpr StatementKeyword kStatementKeywords[] = {
    {"if", kStatementIf},
    {"elseif", kStatementElseif},
    {"else", kStatementElse},
    {"end", kStatementEnd},
    {"switch", kStatementSwitch},
    {"case", kStatementCase},
    {"otherwise", kStatementOtherwise},
    {"while", kStatementWhile},
    {"break", kStatementBreak},
    {"continue", kStatementContinue},
    {"for", kStatementFor},
    {"repeat", kStatementRepeat},
    {"until", kStatementUntil},
    {"return", kStatementReturn},
    {"try", kStatementTry},
    {"catch", kStatementCatch},
    {"global", kStatementGlobal},
    {"persistent", kStatementPersistent},
};

struct Pass {
  EngineContext* ctx;
  const char* text;
  int length;
  int pos;
  int32_t* line;
  int32_t statementLine;

  int32_t* scratch;
  int32_t scratchWords;
  int32_t used;

  int16_t* header;
  int32_t outputWords;
  char* names;
  int32_t count;
  int32_t capacity;

  bool functionMode;
  bool stopAtNextUnit;
  bool skipMode;
  bool headerSeen;
  bool define;
};

// A record at the end of the scratch; null when its fixed words do not fit.
StatementRecord* BeginRecord(Pass& s, StatementClass cls) {
  if (s.scratchWords - s.used < kStatementRecordWords) return nullptr;
  auto* r = reinterpret_cast<StatementRecord*>(s.scratch + s.used);
  *r = StatementRecord{cls, s.statementLine, 0, 0, 0};
  return r;
}

char* RecordText(StatementRecord* r) { return reinterpret_cast<char*>(r + 1); }

int TextRoom(const Pass& s) { return (s.scratchWords - s.used - kStatementRecordWords) * 4; }

// Zero-pads both texts and keeps the record.
void CommitRecord(Pass& s, StatementRecord* r) {
  char* t = RecordText(r);
  const int targetEnd = (r->targetLength + 3) & ~3;
  for (int k = r->targetLength; k < targetEnd; ++k) t[k] = 0;
  for (int k = targetEnd + r->expressionLength; k % 4 != 0; ++k) t[k] = 0;
  s.used += StatementRecordWords(r);
}

[[nodiscard]] StatusCode AddName(Pass& s, const char* text, int length, int* p, bool declaring, int32_t* index,
                                 int* marker) {
  // A function's names live in the room of its code: no room for any is a
  // full table, not a name that is unknown.
  if (s.functionMode && s.capacity <= 0) return kVarTableOverflow;
  return FindOrAddVariable(text, length, p, s.names, &s.count, s.capacity, declaring, index, marker, s.ctx);
}

// Every target of a record becomes a variable: «[a, b(2).c] = f» adds a and b.
[[nodiscard]] StatusCode RegisterTargets(Pass& s, const StatementRecord* r) {
  const char* t = RecordTargetText(r);
  const int n = r->targetLength;
  int p = n > 0 && (t[0] == '[' || t[0] == '(') ? 1 : 0;
  for (int32_t k = 0; k < r->targets; ++k) {
    int32_t index = 0;
    if (StatusCode st = AddName(s, t, n, &p, false, &index, nullptr); st != kOk) return st;
    SkipTargetTail(t, n, &p);
    if (p < n && t[p] == ',') ++p;
  }
  return kOk;
}

[[nodiscard]] StatusCode ExpressionStatement(Pass& s, bool command) {
  StatementRecord* r = BeginRecord(s, kStatementShown);
  if (r == nullptr) return kCompOutOfMemory;
  int32_t targets = 0;
  int targetLength = 0;
  int expressionLength = 0;
  const StatusCode st = command ? ConvertCommandSyntax(s.ctx, s.text, s.length, &s.pos, RecordText(r), TextRoom(s),
                                                       &expressionLength, s.line)
                                : CopyStatementText(s.ctx, s.text, s.length, &s.pos, RecordText(r), TextRoom(s),
                                                    &expressionLength, &targets, &targetLength, s.line);
  if (st != kOk) return st;
  r->targets = targets;
  r->targetLength = targetLength;
  r->expressionLength = expressionLength;
  // In a definition block every statement gives a value; ";" hides nothing.
  if (!s.define && s.pos < s.length && s.text[s.pos] == ';') r->cls = kStatementQuiet;
  CommitRecord(s, r);
  return RegisterTargets(s, r);
}

// A statement whose text is an expression, and for "for" a target too.
[[nodiscard]] StatusCode TextStatement(Pass& s, StatementClass cls) {
  const bool splitting = cls == kStatementFor;
  SkipBlanksInLine(s.text, s.length, &s.pos, s.line);
  if (!splitting && AtStatementEnd(s.text, s.length, s.pos)) return kMissingExpr;
  StatementRecord* r = BeginRecord(s, cls);
  if (r == nullptr) return kCompOutOfMemory;
  int32_t targets = 0;
  int targetLength = 0;
  int expressionLength = 0;
  if (StatusCode st = CopyStatementText(s.ctx, s.text, s.length, &s.pos, RecordText(r), TextRoom(s), &expressionLength,
                                        splitting ? &targets : nullptr, &targetLength, s.line);
      st != kOk)
    return st;
  if (splitting && targets != 1) return kBadForAssignment;
  r->targets = targets;
  r->targetLength = targetLength;
  r->expressionLength = expressionLength;
  CommitRecord(s, r);
  return RegisterTargets(s, r);
}

// global and persistent: names separated by blanks or commas, kept joined by
// commas as the target text.
[[nodiscard]] StatusCode DeclarationStatement(Pass& s, StatementClass cls) {
  if (cls == kStatementPersistent) {
    if (!s.functionMode) return kUnexpectedPersistent;
    // Persistent variables are found through the line markers.
    if (!s.ctx->lineInfo) return kNotSupported;
  }
  StatementRecord* r = BeginRecord(s, cls);
  if (r == nullptr) return kCompOutOfMemory;
  char* t = RecordText(r);
  const int room = TextRoom(s);
  int n = 0;
  int32_t count = 0;
  for (;;) {
    SkipBlanksInLine(s.text, s.length, &s.pos, s.line);
    if (s.pos >= s.length || IsLineEnd(s.text[s.pos]) || s.text[s.pos] == ';') break;
    if (s.text[s.pos] == ',') {
      ++s.pos;
      continue;
    }
    if (!IsNameStart(s.text[s.pos]))
      return RaiseError(s.ctx, kUnrecognizedToken, -1, 0, ByteAt(s.text, s.pos), nullptr);
    const int length = NameLength(s.text, s.length, s.pos);
    if (StatusCode st = CheckNameLength(s.ctx, s.text + s.pos, length); st != kOk) return st;
    if (n + (count > 0 ? 1 : 0) + length > room) return kExprTooLarge;
    if (count > 0) t[n++] = ',';
    std::memcpy(t + n, s.text + s.pos, length);
    n += length;
    s.pos += length;
    ++count;
  }
  r->targets = count;
  r->targetLength = n;
  CommitRecord(s, r);
  return RegisterTargets(s, r);
}

[[nodiscard]] StatusCode KeywordStatement(Pass& s, StatementClass cls) {
  switch (cls) {
    case kStatementIf:
    case kStatementElseif:
    case kStatementSwitch:
    case kStatementCase:
    case kStatementWhile:
    case kStatementUntil:
    case kStatementFor:
      return TextStatement(s, cls);
    case kStatementGlobal:
    case kStatementPersistent:
      return DeclarationStatement(s, cls);
    default:
      break;
  }
  StatementRecord* r = BeginRecord(s, cls);
  if (r == nullptr) return kCompOutOfMemory;
  CommitRecord(s, r);
  // else, otherwise, repeat, try and catch let a statement follow on their
  // line; end, break, continue and return stand alone.
  if (cls == kStatementElse || cls == kStatementOtherwise || cls == kStatementRepeat || cls == kStatementTry ||
      cls == kStatementCatch)
    return kOk;
  SkipBlanksInLine(s.text, s.length, &s.pos, s.line);
  return AtStatementEnd(s.text, s.length, s.pos) ? kOk : kUnexpectedExpr;
}

// The three statements of a default input value, «b = 3» as the k-th input:
// if nargin<k, b=3; end.
[[nodiscard]] StatusCode DefaultInput(Pass& s, int k, const char* name, int nameLength) {
  SkipBlanksInLine(s.text, s.length, &s.pos, s.line);
  const int start = s.pos;
  const int end = DefaultValueEnd(s.text, s.length, start);
  if (end == start) return kBadFunHeader;

  StatementRecord* r = BeginRecord(s, kStatementIf);
  if (r == nullptr) return kCompOutOfMemory;
  char condition[24] = "nargin<";
  int n = 7;
  FormatDecimal32(condition, &n, k, sizeof condition);
  if (n > TextRoom(s)) return kExprTooLarge;
  std::memcpy(RecordText(r), condition, n);
  r->expressionLength = n;
  CommitRecord(s, r);

  r = BeginRecord(s, kStatementQuiet);
  if (r == nullptr) return kCompOutOfMemory;
  const int targetRoom = (nameLength + 3) & ~3;
  if (targetRoom > TextRoom(s)) return kExprTooLarge;
  std::memcpy(RecordText(r), name, nameLength);
  std::memset(RecordText(r) + nameLength, 0, targetRoom - nameLength);
  int expressionLength = 0;
  int targetLength = 0;
  int p = start;
  if (StatusCode st = CopyStatementText(s.ctx, s.text, end, &p, RecordText(r) + targetRoom, TextRoom(s) - targetRoom,
                                        &expressionLength, nullptr, &targetLength, s.line);
      st != kOk)
    return st;
  if (p != end) return kBadFunHeader;
  r->targets = 1;
  r->targetLength = nameLength;
  r->expressionLength = expressionLength;
  CommitRecord(s, r);

  r = BeginRecord(s, kStatementEnd);
  if (r == nullptr) return kCompOutOfMemory;
  CommitRecord(s, r);
  s.pos = end;
  return kOk;
}

// A function name, optionally qualified as «class::name».
[[nodiscard]] StatusCode ReadFunctionName(Pass& s) {
  for (int part = 0; part < 2; ++part) {
    if (s.pos >= s.length || !IsNameStart(s.text[s.pos])) return kBadFunHeader;
    const int n = NameLength(s.text, s.length, s.pos);
    if (StatusCode st = CheckNameLength(s.ctx, s.text + s.pos, n); st != kOk) return st;
    s.pos += n;
    if (!(s.pos + 1 < s.length && s.text[s.pos] == ':' && s.text[s.pos + 1] == ':')) break;
    if (part == 1) return kBadFunHeader;
    s.pos += 2;
  }
  return kOk;
}

// The names are collected after room for capacity input numbers; they move
// down behind the real inputs when the text ends.
[[nodiscard]] StatusCode ParseFunctionHeader(Pass& s) {
  const char* text = s.text;
  const int length = s.length;
  int& p = s.pos;
  if (SkipBlanksAndComments(s.ctx, text, length, &p, true, s.line) == 2) return kMissingFunName;
  if (s.outputWords < 4) return kCodeOverflow;

  int16_t flags = 0;
  int16_t outputs = 0;
  int16_t inputs = 0;
  int32_t index = 0;
  int marker = 0;
  const int c = ByteAt(text, p);
  if (c == '[' || c == '(') {
    const char close = c == '[' ? ']' : ')';
    bool varargout = false;
    bool afterComma = false;
    for (++p;;) {
      SkipBlanksInLine(text, length, &p, s.line);
      if (p >= length) return kBadFunHeader;
      const char d = text[p];
      if (d == close && !afterComma) {
        ++p;
        break;
      }
      if (d == ',' && varargout) return kMisplacedVarargout;
      if (d == ',' && outputs > 0 && !afterComma) {
        afterComma = true;
        ++p;
        continue;
      }
      if (!IsNameStart(d)) return kBadFunHeader;
      if (varargout) return kMisplacedVarargout;
      if (StatusCode st = AddName(s, text, length, &p, true, &index, &marker); st != kOk) return st;
      if (marker == 1) return kMisplacedVarargin;
      varargout = marker == 2;
      afterComma = false;
      ++outputs;
    }
    if (varargout) flags |= kHeaderVarargout;
    SkipBlanksInLine(text, length, &p, s.line);
    if (p >= length || text[p] != '=') return kBadFunHeader;
    ++p;
    SkipBlanksInLine(text, length, &p, s.line);
  } else {
    if (!IsNameStart(c)) return kBadFunHeader;
    // A single name is the output when "=" follows it, else the function's name.
    int q = p + NameLength(text, length, p);
    int32_t line = *s.line;
    SkipBlanksInLine(text, length, &q, &line);
    if (q < length && text[q] == '=') {
      if (StatusCode st = AddName(s, text, length, &p, true, &index, &marker); st != kOk) return st;
      if (marker == 1) return kMisplacedVarargin;
      if (marker == 2) flags |= kHeaderVarargout;
      outputs = 1;
      p = q + 1;
      *s.line = line;
      SkipBlanksInLine(text, length, &p, s.line);
    }
  }

  if (StatusCode st = ReadFunctionName(s); st != kOk) return st;
  SkipBlanksInLine(text, length, &p, s.line);
  int16_t* inputNumbers = s.header + 4;
  if (!AtStatementEnd(text, length, p)) {
    if (text[p] != '(') return kBadFunHeader;
    ++p;
    SkipBlanksInLine(text, length, &p, s.line);
    bool varargin = false;
    if (p < length && text[p] == ')') {
      ++p;
    } else {
      for (;;) {
        SkipBlanksInLine(text, length, &p, s.line);
        if (p >= length || !IsNameStart(text[p])) return kBadFunHeader;
        const int nameStart = p;
        if (StatusCode st = AddName(s, text, length, &p, true, &index, &marker); st != kOk) return st;
        if (marker == 2) return kMisplacedVarargout;
        varargin = marker == 1;
        // The table's capacity never exceeds the room for input numbers.
        inputNumbers[inputs++] = static_cast<int16_t>(index);
        SkipBlanksInLine(text, length, &p, s.line);
        if (p < length && text[p] == '=') {
          ++p;
          if (StatusCode st = DefaultInput(s, inputs, text + nameStart, NameLength(text, length, nameStart)); st != kOk)
            return st;
          SkipBlanksInLine(text, length, &p, s.line);
        }
        if (p < length && text[p] == ',') {
          if (varargin) return kMisplacedVarargin;
          ++p;
          continue;
        }
        if (p < length && text[p] == ')') {
          ++p;
          break;
        }
        return kBadFunHeader;
      }
    }
    if (varargin) flags |= kHeaderVarargin;
  }
  s.header[0] = flags;
  s.header[1] = 0;  // written when the text ends
  s.header[2] = inputs;
  s.header[3] = outputs;
  s.headerSeen = true;
  return kOk;
}

// «define name = expression»: a definition block whose statements are values.
[[nodiscard]] StatusCode ParseDefinition(Pass& s) {
  if (s.outputWords < 4) return kCodeOverflow;
  s.header[0] = kHeaderDefine;
  s.header[1] = s.header[2] = s.header[3] = 0;
  s.headerSeen = true;
  s.define = true;
  SkipBlanksInLine(s.text, s.length, &s.pos, s.line);
  if (s.pos >= s.length || !IsNameStart(s.text[s.pos])) return kBadDefinition;
  s.pos += NameLength(s.text, s.length, s.pos);
  SkipBlanksInLine(s.text, s.length, &s.pos, s.line);
  if (s.pos >= s.length || s.text[s.pos] != '=') return kBadDefinition;
  ++s.pos;
  SkipBlanksInLine(s.text, s.length, &s.pos, s.line);
  if (AtStatementEnd(s.text, s.length, s.pos)) return kBadDefinition;
  return ExpressionStatement(s, false);
}

// Skip mode: a function is passed over up to the line that starts with
// endfunction; without one the text ends.
void SkipFunction(Pass& s) {
  int& p = s.pos;
  for (;;) {
    while (p < s.length && !IsLineEnd(s.text[p])) ++p;
    if (p >= s.length) return;
    PassLineEnd(s.text, s.length, &p, s.line);
    while (p < s.length && IsBlank(s.text[p])) ++p;
    if (MatchKeyword(s.text, s.length, &p, "endfunction")) return;
  }
}

// Skip mode: a definition is read like a statement into the free scratch and dropped.
[[nodiscard]] StatusCode SkipDefinition(Pass& s) {
  int expressionLength = 0;
  int targetLength = 0;
  return CopyStatementText(s.ctx, s.text, s.length, &s.pos, reinterpret_cast<char*>(s.scratch + s.used),
                           (s.scratchWords - s.used) * 4, &expressionLength, nullptr, &targetLength, s.line);
}

[[nodiscard]] StatusCode Pragma(Pass& s) {
  int& p = s.pos;
  SkipBlanksInLine(s.text, s.length, &p, s.line);
  if (!AtStatementEnd(s.text, s.length, p)) {
    if (!IsNameStart(s.text[p])) return RaiseError(s.ctx, kUnrecognizedToken, -1, 0, ByteAt(s.text, p), nullptr);
    if (MatchKeyword(s.text, s.length, &p, "line")) {
      SkipBlanksInLine(s.text, s.length, &p, s.line);
      if (p < s.length && IsDecimalDigit(s.text[p])) {
        int64_t n = 0;
        for (; p < s.length && IsDecimalDigit(s.text[p]); ++p) n = n < INT32_MAX ? n * 10 + (s.text[p] - '0') : n;
        *s.line = static_cast<int32_t>(n < INT32_MAX ? n : INT32_MAX);
      }
    }
  }
  while (!AtStatementEnd(s.text, s.length, p)) ++p;
  return kOk;
}

// One statement from the position; *done when the text ends quietly here.
[[nodiscard]] StatusCode Statement(Pass& s, bool* done) {
  const char* text = s.text;
  const int length = s.length;
  int& p = s.pos;
  const bool unitStarted = !s.functionMode || s.headerSeen;

  if (MatchKeyword(text, length, &p, "function")) {
    if (s.skipMode) {
      SkipFunction(s);
      return kOk;
    }
    if (unitStarted) {
      *done = s.stopAtNextUnit;
      return s.stopAtNextUnit ? kOk : kUnexpectedFunHeader;
    }
    return ParseFunctionHeader(s);
  }
  if (MatchKeyword(text, length, &p, "endfunction")) {
    *done = s.functionMode;
    return s.functionMode ? kOk : kUnexpectedEndFunction;
  }
  if (MatchKeyword(text, length, &p, "define")) {
    if (s.skipMode) return SkipDefinition(s);
    if (unitStarted) {
      *done = s.stopAtNextUnit;
      return s.stopAtNextUnit ? kOk : kUnexpectedConstDef;
    }
    return ParseDefinition(s);
  }
  if (MatchKeyword(text, length, &p, "_pragma")) return Pragma(s);
  if (s.functionMode && !s.headerSeen) return kExpectedFunHeader;
  if (MatchKeyword(text, length, &p, "use") || MatchKeyword(text, length, &p, "useifexists")) {
    // The library reader acts on these.
    while (p < length && !IsLineEnd(text[p]) && text[p] != ';') ++p;
    return kOk;
  }
  if (MatchKeyword(text, length, &p, "include") || MatchKeyword(text, length, &p, "includeifexists"))
    return kIncludeNotPermitted;
  for (const StatementKeyword& k : kStatementKeywords)
    if (MatchKeyword(text, length, &p, k.word)) return KeywordStatement(s, k.cls);
  return ExpressionStatement(s, IsCommandSyntax(s.ctx, text, length, p));
}

}  // namespace

StatusCode FindOrAddVariable(const char* text, int length, int* position, char* names, int32_t* count, int32_t capacity,
                             bool declaring, int32_t* index, int* marker, EngineContext* ctx) {
  if (marker) *marker = 0;
  const int p = *position;
  if (p >= length || !IsNameStart(text[p])) return kBadVarName;
  const int n = NameLength(text, length, p);
  if (StatusCode st = CheckNameLength(ctx, text + p, n); st != kOk) return st;
  // The name may sit in scratch space that raising writes over.
  char name[kMaxNameLength];
  std::memcpy(name, text + p, n);
  if (names == nullptr) return RaiseError(ctx, kVarNotFound, -1, 0, n, name);

  if (const int32_t i = FindVariableName(names, *count, name, n); i >= 0) {
    *index = i;
    *position = p + n;
    return declaring ? kReusedVarName : kOk;
  }
  if (capacity <= 0) return RaiseError(ctx, kVarNotFound, -1, 0, n, name);
  if (*count >= capacity) return kVarTableOverflow;
  if (marker && n == 8 && std::memcmp(name, "varargin", 8) == 0) *marker = 1;
  if (marker && n == 9 && std::memcmp(name, "varargout", 9) == 0) *marker = 2;
  char* slot = names + kVariableNameBytes * *count;
  std::memset(slot, 0, kVariableNameBytes);
  std::memcpy(slot, name, n);
  *index = (*count)++;
  *position = p + n;
  return kOk;
}

StatusCode CopyStatementText(EngineContext* ctx, const char* text, int length, int* position, char* destination,
                             int room, int* expressionLength, int32_t* targetCount, int* targetLength, int32_t* line) {
  Output out{destination, room};
  int p = *position;
  const bool splitting = targetCount != nullptr;
  bool split = false;
  int splitAt = 0;
  int expressionStart = 0;
  char open[kMaxBracketDepth];
  int depth = 0;
  // Commas directly inside a leading "(" or "[" separate targets.
  bool leadingOpen = false;
  int32_t commas = 0;
  auto countsTarget = [&] { return leadingOpen && depth == 1 && !split; };

  while (p < length) {
    const int c = ByteAt(text, p);
    const char inner = depth > 0 ? open[depth - 1] : 0;

    if (StartsGap(text, length, p)) {
      const int gapStart = p;
      const int32_t lineBefore = line ? *line : 0;
      const int r = SkipBlanksAndComments(ctx, text, length, &p, false, line);
      if (inner != '[') {
        if (depth == 0 && r == 2) {
          // The statement ends at this line end: leave it for the caller.
          if (line) *line = lineBefore;
          p = gapStart;
          SkipBlanksInLine(text, length, &p, line);
          break;
        }
        // «a b» and «f(a b)» are errors, «a + b» is a+b.
        if (p < length && IsNameChar(out.last) && IsNameChar(text[p])) return kSyntaxErr;
        continue;
      }
      if (p >= length) break;
      if (r == 2) {
        // A line end inside square brackets ends a row.
        if (out.last == ',') {
          if (countsTarget()) --commas;
          out.Replace(';');
        } else if (out.last != ';' && out.last != '[' && !out.Put(';')) {
          return kExprTooLarge;
        }
        continue;
      }
      int e = p;
      while (e < length && IsOperatorChar(text[e])) ++e;
      if (e > p && e < length && IsBlank(text[e])) {
        // «[a - b]» is one element: the operator joins what follows it.
        while (p < e)
          if (!out.Put(text[p++])) return kExprTooLarge;
        SkipBlanksInLine(text, length, &p, line);
        if (p >= length || IsLineEnd(text[p])) return kSyntaxErr;
        continue;
      }
      // A gap separates elements, unless it follows a separator or a binary
      // operator («[a* b]» is a*b; a "." there ends a number, «[1. 2]»).
      const int last = out.last;
      const bool joined = last == ',' || last == ';' || last == '[' || (IsOperatorChar(last) && last != '.');
      if (!joined) {
        if (countsTarget()) ++commas;
        if (!out.Put(',')) return kExprTooLarge;
      }
      continue;
    }

    // A NUL byte is no token, and parts of the compiler read it as an end.
    if (c == 0) return RaiseError(ctx, kUnrecognizedToken, -1, 0, 0, nullptr);

    if (c == ',' || c == ';') {
      if (depth == 0) break;
      if (inner == '[' && out.last == ';') {  // «;,» and «;;» are one «;»
        ++p;
        continue;
      }
      if (inner == '[' && out.last == ',') {  // «,;» is «;»
        if (c == ';' && countsTarget()) --commas;
        out.Replace(c);
        ++p;
        continue;
      }
      if (c == ',' && countsTarget()) ++commas;
      if (!out.Put(c)) return kExprTooLarge;
      ++p;
      continue;
    }

    if (c == '\'') {
      if (QuoteIsTranspose(out.last, out.lastTranspose)) {
        if (!out.Put(c)) return kExprTooLarge;
        out.lastTranspose = true;
        ++p;
        continue;
      }
      // A string is copied as it stands, line ends and escapes included.
      if (!out.Put(c)) return kExprTooLarge;
      for (++p; p < length;) {
        const char s = text[p];
        if (s == '\\' && p + 1 < length) {
          CountCopiedLineEnd(text, length, p + 1, line);
          if (!out.Put(s) || !out.Put(text[p + 1])) return kExprTooLarge;
          p += 2;
          continue;
        }
        CountCopiedLineEnd(text, length, p, line);
        if (!out.Put(s)) return kExprTooLarge;
        ++p;
        if (s == '\'') break;
      }
      continue;
    }

    if (c == '(' || c == '[' || c == '{') {
      if (depth == kMaxBracketDepth) return kTooManyNestedPar;
      if (p == *position) leadingOpen = true;
      open[depth++] = static_cast<char>(c);
      if (!out.Put(c)) return kExprTooLarge;
      ++p;
      continue;
    }

    if (c == ')' || c == ']' || c == '}') {
      const char opener = c == ')' ? '(' : c == ']' ? '[' : '{';
      if (inner != opener) return ClosingError(c);
      if (c == ']' && (out.last == ',' || out.last == ';')) {  // «[1, 2, ]» is «[1,2]»
        if (out.last == ',' && countsTarget()) --commas;
        out.Remove();
      }
      --depth;
      if (depth == 0) leadingOpen = false;
      if (!out.Put(c)) return kExprTooLarge;
      ++p;
      continue;
    }

    if (c == '=' && splitting && !split) {
      const int last = out.last;
      const bool comparison =
          last == '<' || last == '=' || last == '>' || last == '~' || (p + 1 < length && text[p + 1] == '=');
      if (!comparison) {
        split = true;
        splitAt = out.n;
        while (out.n % 4 != 0)
          if (!out.Put(0)) return kExprTooLarge;
        expressionStart = out.n;
        out.last = '=';
        ++p;
        continue;
      }
    }

    if (!out.Put(c)) return kExprTooLarge;
    ++p;
  }

  *position = p;
  if (split) {
    *targetLength = splitAt;
    *expressionLength = out.n - expressionStart;
    *targetCount = commas + 1;
  } else {
    if (targetLength) *targetLength = 0;
    *expressionLength = out.n;
    if (targetCount) *targetCount = 0;
  }
  return kOk;
}

StatusCode SplitStatements(EngineContext* ctx, int32_t* scratch, int32_t scratchWords, int32_t* scratchUsed,
                           const char* text, int length, bool stopAtNextUnit, int16_t* header, int32_t outputWords,
                           int32_t* headerWords, char* names, int32_t* nameCount, int32_t nameCapacity,
                           bool functionMode, bool skipFunctionsAndDefinitions, int32_t* line) {
  int32_t ownLine = 1;
  Pass s{};
  s.ctx = ctx;
  s.text = text;
  s.length = length;
  s.line = line != nullptr ? line : &ownLine;
  s.scratch = scratch;
  s.scratchWords = scratchWords;
  s.header = header;
  s.outputWords = outputWords;
  s.functionMode = functionMode;
  s.stopAtNextUnit = stopAtNextUnit;
  s.skipMode = skipFunctionsAndDefinitions;
  if (functionMode) {
    // Room for the header, capacity input numbers and capacity names.
    s.capacity = std::clamp(outputWords / 17 - 5, 0, kMaxVariableSlots);
    s.names = reinterpret_cast<char*>(header + 4 + s.capacity);
  } else {
    s.names = names;
    s.count = nameCount != nullptr ? *nameCount : 0;
    s.capacity = nameCapacity;
  }
  if (headerWords) *headerWords = 0;

  StatusCode st = kOk;
  for (bool done = false; st == kOk && !done;) {
    SkipBlanksAndComments(ctx, text, length, &s.pos, true, s.line);
    if (s.pos >= length) break;
    s.statementLine = *s.line;
    ctx->errorPosition = s.statementLine;
    // public and private only qualify the function that follows, for the
    // library reader; a header may still come after them.
    while (MatchKeyword(text, length, &s.pos, "public") || MatchKeyword(text, length, &s.pos, "private"))
      SkipBlanksInLine(text, length, &s.pos, s.line);
    if (AtStatementEnd(text, length, s.pos)) continue;
    st = Statement(s, &done);
  }
  if (scratchUsed) *scratchUsed = s.used;
  if (st != kOk) {
    // Raising an error places it by the call frames; a compile error belongs
    // to the statement being read.
    ctx->errorPosition = s.statementLine;
    // A function's names are kept in its code's room.
    if (st == kVarTableOverflow && functionMode) ctx->roomRegion = kCodeOverflow;
    return st;
  }

  if (!functionMode) {
    if (nameCount) *nameCount = s.count;
    return kOk;
  }
  if (!s.headerSeen) return kExpectedFunHeader;
  const int16_t inputs = header[2];
  std::memmove(header + 4 + inputs, s.names, static_cast<size_t>(s.count) * kVariableNameBytes);
  header[1] = static_cast<int16_t>(s.count);
  if (headerWords) *headerWords = 4 + inputs + 16 * s.count;
  return kOk;
}
