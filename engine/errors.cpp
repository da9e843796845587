// Errors: message tables found through "+errmsgtable" records, raising with
// templates, the current and last error texts kept in heap records with their
// location, identifiers, and the error, warning, rethrow, lasterr and
// lasterror builtins.
#include "engine/errors.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/heap.h"
#include "engine/registry.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

constexpr char kTablePrefix[] = "RVO:";
constexpr int kTablePrefixLength = 4;
constexpr int kLocationBytes = 66;
constexpr int kPrintBytes = 124;
// " (location;line) 'name'" at its longest, with the NUL: the room a composed
// text takes beyond its message's.
constexpr int kSuffixBytes = 2 + kLocationBytes + 1 + 11 + 1 + 2 + kFailingNameBytes + 1;
constexpr int kMaxIdentifierArg = 66;
constexpr int kMaxIdentifierSymbol = 127;

// Walks every registered table, in list order.
template <class F>
const ErrorRecord* ForEachTable(EngineContext* ctx, F visit) {
  int cursor = -1;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, "+errmsgtable", &cursor, nullptr)) {
    const auto* table = reinterpret_cast<const ErrorRecord*>(r->handler);
    if (const ErrorRecord* found = visit(table)) return found;
  }
  return nullptr;
}

// The text of a heap error record, after its code cell.
char* RecordText(EngineContext* ctx, int32_t record) { return reinterpret_cast<char*>(ctx->heapBase + record + 1); }

[[nodiscard]] StatusCode RecordCode(EngineContext* ctx, int32_t record) {
  return static_cast<StatusCode>(ctx->heapBase[record].f);
}

void FreeRecord(EngineContext* ctx, int32_t* record) {
  if (*record > 0) FreeHeapBlock(ctx, *record);
  *record = -1;
}

// Bounded appends that stop one byte before the end and keep a NUL there.
struct Text {
  char* buffer;
  int size;
  int length = 0;
  void Add(const char* s, int n) {
    if (size <= 0) return;
    AppendChars(buffer, &length, s, n, size);
    buffer[length] = 0;
  }
  void Add(const char* s) { Add(s, static_cast<int>(std::strlen(s))); }
  void Add(char c) { Add(&c, 1); }
  void AddNumber(int64_t v) {
    char digits[24];
    int n = 0;
    FormatDecimal64(digits, &n, v, sizeof digits);
    Add(digits, n);
  }
};

bool IsIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

}  // namespace

StatusCode ClearError(EngineContext* ctx) {
  ctx->errorCode = 0;
  ctx->errorPosition = 0;
  ctx->errorFunction = -1;
  std::memset(ctx->failingName, 0, sizeof ctx->failingName);
  return kOk;
}

void SetErrorLocation(EngineContext* ctx, StatusCode code, int32_t position) {
  // Frames entered for eval or code fragments have no function of their own:
  // the error belongs to the function that called them.
  CallFrame* f = CurrentFrame(ctx);
  while (f != nullptr && f->function == -1 && f->callerSpace != 0) {
    CallFrame* previous = PreviousFrame(ctx, f);
    if (previous == nullptr) break;
    f = previous;
  }
  ctx->errorCode = code;
  ctx->errorFunction = f != nullptr ? f->function : -1;
  if (position > 0)
    ctx->errorPosition = position;
  else
    ctx->errorPosition = f != nullptr ? f->line : -1;
}

int32_t GetErrorLocationText(EngineContext* ctx, char* buffer, int size, char* name, int nameSize) {
  if (buffer != nullptr && size > 0) {
    Text t{buffer, size};
    buffer[0] = 0;
    const int32_t f = ctx->errorFunction;
    if (f == -2) {
      t.Add("(inline)");
    } else if (f >= 0 && f < ctx->entriesInUse) {
      const int32_t* w = FunctionEntryWords(ctx, f);
      const int32_t library = w[1] & 0x3FFFFFFF;
      const char* text = nullptr;
      int length = 0;
      if (library != 0) {
        GetFunctionNameByIndex(ctx, library, &text, &length);
        t.Add(text, std::min(length, size - 2));
        t.Add('/');
        if (w[1] & int32_t(0x80000000u)) t.Add('.');
      }
      if (w[3] != 0 && t.length < size - 3) {
        t.Add(SymbolText(ctx, w[3]), SymbolLength(ctx, w[3]));
        t.Add("::");
      }
      GetFunctionNameByIndex(ctx, f, &text, &length);
      if (t.length < size - 1) t.Add(text, length);
    }
  }
  if (name != nullptr && nameSize > 0) {
    Text n{name, nameSize};
    name[0] = 0;
    if (static_cast<unsigned char>(ctx->failingName[0]) > ' ')
      n.Add(ctx->failingName, static_cast<int>(strnlen(ctx->failingName, sizeof ctx->failingName)));
  }
  return ctx->errorPosition;
}

const ErrorRecord* FindErrorRecord(EngineContext* ctx, StatusCode code, bool detail) {
  return ForEachTable(ctx, [&](const ErrorRecord* table) -> const ErrorRecord* {
    const ErrorRecord* first = table;
    while (first->message != nullptr && first->code != code) ++first;
    if (first->message == nullptr) return nullptr;
    if (detail)
      for (const ErrorRecord* later = first + 1; later->message != nullptr; ++later)
        if (later->code == code) return later;
    return first;
  });
}

StatusCode FindErrorCodeByIdentifier(EngineContext* ctx, const char* text, int length) {
  if (length <= kTablePrefixLength || std::strncmp(text, kTablePrefix, kTablePrefixLength) != 0) return 0;
  const char* id = text + kTablePrefixLength;
  const int n = length - kTablePrefixLength;
  const ErrorRecord* found = ForEachTable(ctx, [&](const ErrorRecord* table) -> const ErrorRecord* {
    for (const ErrorRecord* r = table; r->message != nullptr; ++r)
      if (r->identifier != nullptr && std::strncmp(r->identifier, id, n) == 0 && r->identifier[n] == 0) return r;
    return nullptr;
  });
  return found != nullptr ? found->code : 0;
}

StatusCode StoreLastErrorMessage(EngineContext* ctx, StatusCode code, const char* text, int64_t length,
                                 bool withLocation, int64_t* stored) {
  FreeRecord(ctx, &ctx->currentErrorRecord);
  if (stored) *stored = 0;
  if (text == nullptr) {
    if (code == 0) return kOk;
    const ErrorRecord* r = FindErrorRecord(ctx, code, false);
    text = r != nullptr ? r->message : "Error";
    length = -1;
  }
  if (length < 0) length = static_cast<int64_t>(std::strlen(text));
  SetErrorLocation(ctx, code, 0);

  // The suffix " (location;line)" is formatted first so the block fits the
  // whole text, however long the line number.
  char suffix[kLocationBytes + 40];
  Text s{suffix, sizeof suffix};
  suffix[0] = 0;
  if (withLocation) {
    char location[kLocationBytes];
    const int32_t line = GetErrorLocationText(ctx, location, sizeof location, nullptr, 0);
    if (line >= 2) {
      s.Add(" (");
      if (location[0] != 0) {
        s.Add(location);
        s.Add(';');
      }
      s.AddNumber(line);
      s.Add(')');
    }
  }
  const int64_t total = length + s.length;
  int32_t record = 0;
  const int64_t cells = 1 + (total + 1 + 7) / 8;
  if (cells > INT32_MAX) return kHeapFull;
  if (StatusCode st = AllocateHeapBlock(ctx, static_cast<int32_t>(cells), &record); st != kOk) return st;
  ctx->heapBase[record].f = static_cast<double>(code);
  char* out = RecordText(ctx, record);
  std::memmove(out, text, length);
  std::memcpy(out + length, suffix, s.length);
  out[total] = 0;
  ctx->currentErrorRecord = record;
  if (stored) *stored = total;
  return kOk;
}

void MoveErrorToLastError(EngineContext* ctx) {
  if (ctx->currentErrorRecord < 0) return;
  FreeRecord(ctx, &ctx->lastErrorRecord);
  ctx->lastErrorRecord = ctx->currentErrorRecord;
  ctx->currentErrorRecord = -1;
}

namespace {

// The text of an error: a stored record's own text, or the plain message with
// its location composed into `compose`, which holds messageRoom +
// kSuffixBytes bytes. A message that leaves less than 71 bytes of its room
// goes without location and name.
const char* ResolveErrorText(EngineContext* ctx, StatusCode code, bool raise, char* compose, int messageRoom) {
  compose[0] = 0;
  if (raise) {
    if (code > 0 && ctx->currentErrorRecord > 0) {
      MoveErrorToLastError(ctx);
      return RecordText(ctx, ctx->lastErrorRecord);
    }
    if ((code == kUserError || code < 0) && ctx->lastErrorRecord > 0) return RecordText(ctx, ctx->lastErrorRecord);
    if (code == 0) return compose;
  } else {
    if (ctx->lastErrorRecord > 0) return RecordText(ctx, ctx->lastErrorRecord);
    if (code == 0) return compose;
  }
  const ErrorRecord* r = FindErrorRecord(ctx, code, false);
  if (r == nullptr) return compose;
  Text t{compose, messageRoom};
  t.Add(r->message);
  if (t.length + 71 >= messageRoom) return compose;
  t.size = messageRoom + kSuffixBytes;
  char location[kLocationBytes];
  char name[kFailingNameBytes];
  const int32_t line = GetErrorLocationText(ctx, location, sizeof location, name, sizeof name);
  const bool open = location[0] != 0 || line >= 2;
  if (open) {
    t.Add(" (");
    t.Add(location);
    const bool semicolon = location[0] != 0 && line > 0;
    if (semicolon) t.Add(';');
    if (line >= 2 || (line == 1 && semicolon)) t.AddNumber(line);
    t.Add(')');
  }
  if (name[0] != 0) {
    t.Add(" '");
    t.Add(name);
    t.Add('\'');
  }
  return compose;
}

}  // namespace

void GetLastErrorText(EngineContext* ctx, StatusCode code, bool raise, char* buffer, int64_t size, int64_t* length) {
  constexpr int kMessageRoom = kPrintBytes + kLocationBytes + 40;
  static_assert(kMessageRoom + kSuffixBytes == kErrorTextBytes);
  char compose[kMessageRoom + kSuffixBytes];
  const char* text = ResolveErrorText(ctx, code, raise, compose, kMessageRoom);
  int64_t n = static_cast<int64_t>(std::strlen(text));
  if (n > size - 1) n = size > 0 ? size - 1 : 0;
  if (size > 0) {
    std::memmove(buffer, text, n);
    buffer[n] = 0;
  }
  if (length) *length = n;
}

StatusCode PrintError(EngineContext* ctx, StatusCode code, bool store) {
  // The text is printed and stored whole: a long message is not cut here.
  char compose[kPrintBytes + kSuffixBytes];
  const char* text = ResolveErrorText(ctx, code, store, compose, kPrintBytes);
  const int64_t length = static_cast<int64_t>(std::strlen(text));
  if (store) {
    if (StatusCode st = StoreLastErrorMessage(ctx, code, text, length, false, nullptr); st != kOk) return st;
    MoveErrorToLastError(ctx);
    text = RecordText(ctx, ctx->lastErrorRecord);
  }
  if (length == 0) return kOk;
  if (StatusCode st = WriteToDescriptor(ctx, 2, text, static_cast<int32_t>(length)); st != kOk) return st;
  return WriteNewlineToDescriptor(ctx, 2);
}

StatusCode PushErrorIdentifier(EngineContext* ctx, StatusCode code) {
  if (code < 0) return PushStringFromBytes(ctx, SymbolLength(ctx, code), SymbolText(ctx, code));
  const ErrorRecord* r = code != 0 ? FindErrorRecord(ctx, code, false) : nullptr;
  if (r == nullptr || r->identifier == nullptr) return PushCharRow(ctx, 0, nullptr);
  const int64_t n = static_cast<int64_t>(std::strlen(r->identifier));
  uint16_t* codes = nullptr;
  if (StatusCode st = PushCharRow(ctx, static_cast<int32_t>(kTablePrefixLength + n), &codes); st != kOk) return st;
  for (int k = 0; k < kTablePrefixLength; ++k) codes[k] = static_cast<uint8_t>(kTablePrefix[k]);
  for (int64_t k = 0; k < n; ++k) codes[kTablePrefixLength + k] = static_cast<uint8_t>(r->identifier[k]);
  return kOk;
}

namespace {

// The code an identifier names: a table's, or the identifier's own symbol.
[[nodiscard]] StatusCode CodeOfIdentifier(EngineContext* ctx, const char* id, int length, StatusCode* code) {
  *code = FindErrorCodeByIdentifier(ctx, id, length);
  if (*code != 0) return kOk;
  SymbolId symbol = 0;
  if (StatusCode st = InternSymbol(ctx, id, length, kMaxIdentifierSymbol, &symbol); st != kOk) return st;
  *code = symbol;
  return kOk;
}

}  // namespace

StatusCode RaiseErrorWithIdentifier(EngineContext* ctx, const char* identifier, int identifierLength,
                                    const char* message, int64_t messageLength) {
  StatusCode code = kUserError;
  if (identifier != nullptr) {
    if (identifierLength < 0) identifierLength = static_cast<int>(std::strlen(identifier));
    if (StatusCode st = CodeOfIdentifier(ctx, identifier, identifierLength, &code); st != kOk) return st;
  }
  if (message != nullptr && messageLength < 0) messageLength = static_cast<int64_t>(std::strlen(message));
  // A message without heap room fails the raise, as in error(), rather than
  // leave the code's table text in its place.
  if (message != nullptr && messageLength > 0)
    if (StatusCode st = StoreLastErrorMessage(ctx, code, message, messageLength, true, nullptr); st != kOk) return st;
  return code;
}

StatusCode RaiseError(EngineContext* ctx, StatusCode code, int v, SymbolId s, int64_t k, const char* t) {
  // The text is built in the upper half of the free data space, out of the
  // way of anything pushed meanwhile.
  const int64_t half = (FreeDataCells(ctx) * int64_t{sizeof(Cell)} / 2) & ~int64_t{7};
  const int size = static_cast<int>(std::min<int64_t>(half, INT32_MAX & ~7));
  Cell* scratch = nullptr;
  if (size < 8 || GetScratchAtDataEnd(ctx, size / 8, &scratch) != kOk) {
    // Without room for a text the code alone reports the error.
    (void)StoreLastErrorMessage(ctx, code, "", 0, true, nullptr);
    return code;
  }
  Text out{reinterpret_cast<char*>(scratch), size};
  out.buffer[0] = 0;
  const ErrorRecord* r = FindErrorRecord(ctx, code, true);
  if (r == nullptr) {
    out.Add("Error ");
    out.AddNumber(code);
  } else {
    const char* variable = v >= 0 ? GetVariableName(ctx, v) : nullptr;
    for (const char* p = r->message; *p != 0; ++p) {
      if (*p != '%') {
        out.Add(*p);
        continue;
      }
      const char kind = *++p;
      if (kind == 0) break;
      bool missing = false;
      switch (kind) {
        case 'v':
          missing = variable == nullptr;
          if (!missing) {
            out.Add('\'');
            out.Add(variable, VariableNameLength(variable));
            out.Add('\'');
          }
          break;
        case 'f':
          missing = s == 0;
          if (!missing) {
            out.Add('\'');
            out.Add(SymbolText(ctx, s), SymbolLength(ctx, s));
            out.Add('\'');
          }
          break;
        case 'n': {
          missing = t == nullptr;
          if (missing) break;
          int n = 0;
          while (n < 32 && IsIdentifierChar(t[n])) ++n;
          out.Add('\'');
          out.Add(t, n);
          out.Add('\'');
          break;
        }
        case 'S':
          missing = t == nullptr || k < 1;
          if (!missing) {
            out.Add('\'');
            out.Add(t, static_cast<int>(std::min<int64_t>(k, INT32_MAX)));
            out.Add('\'');
          }
          break;
        case 's':
          missing = t == nullptr;
          if (!missing) {
            out.Add('\'');
            out.Add(t);
            out.Add('\'');
          }
          break;
        case 'i':
          if (k >= 0) {
            out.AddNumber(k);
            break;
          }
          missing = true;
          if (p[1] == ')' && out.length > 0 && out.buffer[out.length - 1] == '(') {
            out.buffer[--out.length] = 0;
            ++p;
          }
          break;
        case 'c':
          if (k < 0) break;
          if (k >= 32 && k <= 126) {
            out.Add('\'');
            out.Add(static_cast<char>(k));
            out.Add('\'');
          } else {
            char hex[24];
            int n = 0;
            FormatHex64(hex, &n, static_cast<uint64_t>(k), sizeof hex, {.minDigits = 2});
            out.Add("0x");
            out.Add(hex, n);
          }
          break;
        default:
          break;  // an unknown placeholder goes with its character
      }
      if (missing && p[1] == ' ') ++p;
    }
  }
  // Without heap room for the text the code alone reports the error.
  (void)StoreLastErrorMessage(ctx, code, out.buffer, out.length, true, nullptr);
  return code;
}

// ---------------------------------------------------------------------------
// Builtins

namespace {

// The text a message's arguments stand for, formatted as sprintf does and
// left on top as a byte row in the charset (the heap record that stores it
// may take room from the free space). An argument of the wrong kind cuts the
// text short but keeps it: the message is still raised or printed.
[[nodiscard]] StatusCode FormatMessage(EngineContext* ctx, int nargs, const char** text, int64_t* length) {
  *text = "";
  *length = 0;
  StatusCode st =
      nargs == 0 ? PushStringFromBytes(ctx, 0, "") : FormatPrintfArguments(ctx, nargs, false, nullptr, nullptr);
  if (st != kOk && st != kWrongType) return st;
  uint8_t* bytes = nullptr;
  if (st = EncodeCharArg(ctx, 0, false, &bytes, length); st != kOk) {
    PopValue(ctx);
    return st;
  }
  *text = reinterpret_cast<const char*>(bytes);
  return kOk;
}

bool IsIdentifierArgument(EngineContext* ctx, int position) {
  if (!IsCharArg(ctx, position)) return false;
  const ArrayView a = ReadArray(DataAt(ctx, position));
  if (a.count > kMaxIdentifierArg) return false;
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  bool colon = false;
  for (int64_t k = 0; k < a.count; ++k) {
    const uint16_t c = codes[k];
    if (c == ':') {
      colon = true;
    } else if (c > 127 || !IsIdentifierChar(static_cast<char>(c))) {
      return false;
    }
  }
  return colon;
}

}  // namespace

StatusCode ErrorBuiltin(EngineContext* ctx, int nargin, bool warning) {
  StatusCode result = warning ? kOk : kUserError;
  if (nargin > 0 && IsIdentifierArgument(ctx, nargin - 1)) {
    char id[kMaxIdentifierArg + 1];
    int64_t n = 0;
    (void)CopyStringArgToBuffer(ctx, nargin - 1, id, sizeof id, &n);  // class and length checked above
    StatusCode code = 0;
    if (StatusCode st = CodeOfIdentifier(ctx, id, static_cast<int>(n), &code); st != kOk) return st;
    if (!warning) result = code;
    (void)DropArgsUnderResults(ctx, nargin - 1, 1);
    if (--nargin == 0) {
      // An identifier alone raises with an empty message, never an older text.
      if (!warning)
        if (StatusCode st = StoreLastErrorMessage(ctx, result, "", 0, true, nullptr); st != kOk) return st;
      return result;
    }
  }
  const char* text = nullptr;
  int64_t length = 0;
  StatusCode st = FormatMessage(ctx, nargin, &text, &length);
  if (st != kOk) return st;
  if (length > 0) {
    if (warning) {
      st = WriteToDescriptor(ctx, 2, text, static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX)));
      if (st == kOk) st = WriteNewlineToDescriptor(ctx, 2);
    } else {
      st = StoreLastErrorMessage(ctx, result, text, length, true, nullptr);
    }
  }
  (void)DropArgsUnderResults(ctx, 0, nargin + 1);
  if (st != kOk) return st;
  return warning || length == 0 ? kOk : result;
}

StatusCode RethrowBuiltin(EngineContext* ctx) {
  int pushed = 0;
  for (const char* field : {"identifier", "message"}) {
    const StatusCode st = PushStructField(ctx, pushed, field, static_cast<int>(std::strlen(field)));
    if (st == kOk)
      ++pushed;
    else if (st != kUndefField)
      return ReportedStatus(st);
  }
  if (pushed == 0) return kUndefField;
  (void)DropArgsUnderResults(ctx, pushed, 1);
  return ErrorBuiltin(ctx, pushed, false);
}

StatusCode LastErrorBuiltin(EngineContext* ctx, int nargout, bool asStruct) {
  if (!asStruct && nargout >= 2)
    if (StatusCode st = PushErrorIdentifier(ctx, ctx->errorCode); st != kOk) return st;
  int64_t length = -1;
  char* buffer = nullptr;
  if (StatusCode st = ReserveStringBuffer(ctx, &length, &buffer); st != kOk) return st;
  int64_t written = 0;
  GetLastErrorText(ctx, ctx->errorCode, false, buffer, length, &written);
  if (StatusCode st = FinishStringBuffer(ctx, written); st != kOk) return st;
  if (!asStruct) return kOk;
  if (StatusCode st = MakeListFromValues(ctx, 1, false, "message", 7); st != kOk) return st;
  const StatusCode code = ctx->lastErrorRecord > 0 ? RecordCode(ctx, ctx->lastErrorRecord) : ctx->errorCode;
  if (StatusCode st = PushErrorIdentifier(ctx, code); st != kOk) return st;
  return MakeListFromValues(ctx, 1, true, "identifier", 10);
}
