// Library texts: read through the source hooks with include expansion,
// scanned for their blocks, and the use lists that decide what code can see.
#include "engine/libraries.h"

#include <algorithm>
#include <cstring>

#include "engine/compiler/scanner.h"
#include "engine/errors.h"
#include "engine/functionstore.h"
#include "engine/registry.h"

const char kFunctionSourceSuffixes[] = ".m\0";

namespace {

constexpr int kMaxSourceName = 32;
constexpr int kUseListGrowth = 16;

// Moves past the statement at *position: to just after its line end or ';',
// passing over strings and comments so that nothing inside them ends it.
void SkipStatement(const char* t, int length, int* position, int32_t* line) {
  int previous = -1;
  bool previousTranspose = false;
  int& p = *position;
  while (p < length) {
    const int c = ByteAt(t, p);
    if (IsLineEnd(c)) return PassLineEnd(t, length, position, line);
    if (c == ';') {
      ++p;
      return;
    }
    if (c == '%' || (c == '/' && p + 1 < length && t[p + 1] == '/')) {
      while (p < length && !IsLineEnd(ByteAt(t, p))) ++p;
      continue;
    }
    if (c == '/' && p + 1 < length && t[p + 1] == '*') {
      // A block comment may span lines; the scanner counts them.
      SkipBlanksAndComments(nullptr, t, length, position, false, line);
      continue;
    }
    if (c == '\'' && !QuoteIsTranspose(previous, previousTranspose)) {
      for (++p; p < length; ++p) {
        const int s = ByteAt(t, p);
        if (s == '\\') {
          ++p;
        } else if (s == '\'') {
          if (p + 1 < length && t[p + 1] == '\'') {
            ++p;
            continue;
          }
          ++p;
          break;
        } else if (s == '\n' && line) {
          ++*line;
        }
      }
      previous = -1;
      previousTranspose = false;
      continue;
    }
    previousTranspose = c == '\'';
    previous = c;
    ++p;
  }
}

void SkipRestOfLine(const char* t, int length, int* position, int32_t* line) {
  while (*position < length && !IsLineEnd(ByteAt(t, *position))) ++*position;
  if (*position < length) PassLineEnd(t, length, position, line);
}

// Raises "Library not found 'name'" or "Source code not found 'name'".
[[nodiscard]] StatusCode RaiseNotFound(EngineContext* ctx, bool library, const char* name, int length) {
  return RaiseError(ctx, library ? kLibNotFound : kSrcNotFound, -1, 0, length, name);
}

// Asks the hooks of one name in registration order, each once per suffix; the
// first answer other than 300 ends the walk.
[[nodiscard]] StatusCode AskSourceHooks(EngineContext* ctx, const char* hookName, const char* name,
                                        const char* suffixes, const char* hint, char* buffer, int32_t size,
                                        int32_t* length, int32_t* firstLine, bool* untrusted) {
  int cursor = -1;
  NativeRef ref;
  while (FindNextNamedRecord(ctx, hookName, &cursor, &ref) != nullptr) {
    const auto hook = HandlerAs<SourceHook>(ref.record->handler);
    void* userData = ref.record->userData != nullptr ? ref.record->userData : ctx->nativeUserData;
    const char* suffix = suffixes;
    do {
      const char* s = suffixes != nullptr ? suffix : nullptr;
      const StatusCode st = hook(ctx, name, s, hint, buffer, size, length, firstLine, untrusted, userData);
      if (st != kNotMine) return st;
      if (suffixes != nullptr) suffix += std::strlen(suffix) + 1;
    } while (suffixes != nullptr && *suffix != 0);
  }
  return kNotMine;
}

// Expands the include statements of text[0..*length) in place, depth deep.
[[nodiscard]] StatusCode ExpandIncludes(EngineContext* ctx, const char* name, int nameLength, const char* suffixes,
                                        bool library, const char* hint, int depth, bool convert, char* text,
                                        int32_t size, int32_t* length, bool* untrusted) {
  int p = 0;
  while (p < *length) {
    SkipBlanksAndComments(ctx, text, *length, &p, true, nullptr);
    if (p >= *length) break;
    const int start = p;
    const bool ifExists = MatchKeyword(text, *length, &p, "includeifexists");
    if (!ifExists && !MatchKeyword(text, *length, &p, "include")) {
      SkipStatement(text, *length, &p, nullptr);
      continue;
    }
    SkipBlanksInLine(text, *length, &p, nullptr);
    const int n = NameLength(text, *length, p);
    if (n == 0 || n > kMaxSourceName || !IsNameStart(ByteAt(text, p)))
      return RaiseError(ctx, kIncludeSyntax, -1, 0, nameLength, name);
    if (depth == 0) return RaiseError(ctx, kIncludeDepth, -1, 0, nameLength, name);
    char included[kMaxSourceName + 1];
    std::memcpy(included, text + p, n);
    included[n] = 0;
    p += n;
    SkipBlanksInLine(text, *length, &p, nullptr);
    if (!AtStatementEnd(text, *length, p)) return RaiseError(ctx, kIncludeSyntax, -1, 0, nameLength, name);
    if (p < *length) {
      if (IsLineEnd(ByteAt(text, p)))
        PassLineEnd(text, *length, &p, nullptr);
      else
        ++p;
    }
    const int end = p;

    // The included text is read behind the current one, then rotated into the
    // statement's place.
    int32_t added = 0;
    bool inner = false;
    StatusCode st = ReadSourceText(ctx, included, n, suffixes, library, hint, depth - 1, convert, text + *length,
                                   size - *length, &added, nullptr, &inner);
    if (ifExists && (st == kSrcNotFound || st == kLibNotFound || st == kNotMine)) {
      st = kOk;
      added = 0;
    }
    if (st != kOk) return st;
    if (untrusted != nullptr) *untrusted = *untrusted || inner;  // an include can set it, never clear it
    std::rotate(text + start, text + *length, text + *length + added);
    std::memmove(text + start + added, text + start + added + (end - start), *length - end);
    *length = start + added + (*length - end);
    p = start;
  }
  return kOk;
}

// The words of a library's use list, or null when it has none.
int16_t* UseList(EngineContext* ctx, int32_t library) {
  const int32_t position = StoreEntry(ctx, library)->position;
  return position > 0 ? ctx->codeBase + position : nullptr;
}

int32_t UsedSlots(const int16_t* list) {
  const int16_t* slots = list + list[0];
  int32_t used = 0;
  while (used < list[1] && slots[used] != -1) ++used;
  return used;
}

// Reads the header of a function block after "function": an optional output
// list or output name and "=", then the name, optionally "class::name".
[[nodiscard]] StatusCode ParseFunctionBlockHeader(const char* t, int length, int p, const char** name,
                                                  int32_t* nameLength, const char** qualifier,
                                                  int32_t* qualifierLength) {
  auto blanks = [&] { SkipBlanksInLine(t, length, &p, nullptr); };
  auto qualifiedName = [&](bool required) {
    blanks();
    int n = NameLength(t, length, p);
    if (n == 0 || !IsNameStart(ByteAt(t, p))) return !required;
    *name = t + p;
    *nameLength = n;
    p += n;
    if (p + 1 < length && t[p] == ':' && t[p + 1] == ':') {
      *qualifier = *name;
      *qualifierLength = n;
      p += 2;
      n = NameLength(t, length, p);
      if (n == 0 || !IsNameStart(ByteAt(t, p))) return false;
      *name = t + p;
      *nameLength = n;
      p += n;
    }
    return true;
  };
  *qualifier = nullptr;
  *qualifierLength = 0;
  *name = nullptr;
  *nameLength = 0;
  blanks();
  if (p < length && (t[p] == '(' || t[p] == '[')) {
    while (p < length && t[p] != ')' && t[p] != ']' && !IsLineEnd(ByteAt(t, p))) ++p;
    if (p >= length || IsLineEnd(ByteAt(t, p))) return kBadFunHeader;
    ++p;
    blanks();
    if (p >= length || t[p] != '=') return kBadFunHeader;
    ++p;
    return qualifiedName(true) && *name != nullptr ? kOk : kBadFunHeader;
  }
  if (!qualifiedName(true) || *name == nullptr) return kBadFunHeader;
  blanks();
  if (p < length && t[p] == '=') {
    ++p;
    return qualifiedName(true) && *name != nullptr ? kOk : kBadFunHeader;
  }
  return kOk;
}

}  // namespace

StatusCode ReadSourceText(EngineContext* ctx, const char* name, int nameLength, const char* suffixes, bool library,
                          const char* hint, int includeDepth, bool convert, char* buffer, int32_t size, int32_t* length,
                          int32_t* firstLine, bool* untrusted) {
  if (untrusted) *untrusted = false;
  char copy[kMaxSourceName + 1];
  const int n = std::min(std::max(nameLength, 0), kMaxSourceName);
  std::memcpy(copy, name, n);
  copy[n] = 0;
  int32_t delivered = 0;
  bool scheme = false;
  StatusCode st = AskSourceHooks(ctx, library ? "+readlib" : "+readfn", copy, suffixes, hint, buffer, size, &delivered,
                                 firstLine, &scheme);
  if (untrusted) *untrusted = scheme;
  if (st == kNotMine) return RaiseNotFound(ctx, library, copy, n);
  if (st != kOk || buffer == nullptr) return st;
  if (delivered < 1) {
    st = RaiseNotFound(ctx, library, copy, n);
    MoveErrorToLastError(ctx);
    return st;
  }
  if (includeDepth >= 0 && !IsLineEnd(ByteAt(buffer, delivered - 1))) {
    if (delivered + 1 > size) return kDataStackFull;
    buffer[delivered++] = '\n';
  }
  if (ctx->charsetBom != nullptr) {
    const int skip = ctx->charsetBom(buffer, delivered);
    if (skip > 0 && skip <= delivered) {
      std::memmove(buffer, buffer + skip, delivered - skip);
      delivered -= skip;
    }
  }
  if (convert) {
    int cursor = -1;
    NativeRef ref;
    if (FindNextNamedRecord(ctx, "+convertcharset", &cursor, &ref) != nullptr) {
      void* userData = ref.record->userData != nullptr ? ref.record->userData : ctx->nativeUserData;
      st = HandlerAs<ConvertCharsetHook>(ref.record->handler)(ctx, buffer, size, &delivered, userData);
      if (st != kOk) return st;
    }
  }
  *length = delivered;
  if (includeDepth < 0) return kOk;
  st = ExpandIncludes(ctx, copy, n, suffixes, library, hint, includeDepth, convert, buffer, size, length, untrusted);
  return st;
}

StatusCode ScanLibrarySource(EngineContext* ctx, const char* text, int32_t length, int32_t* position, int32_t* line,
                             const char** name, int32_t* nameLength, const char** qualifier, int32_t* qualifierLength,
                             bool* isPrivate, bool headerRequired, bool quiet) {
  int32_t lineCount = line ? *line : 1;
  int p = *position;
  bool inside = false;
  if (p >= 0) {
    int q = p;
    if (MatchKeyword(text, length, &q, "function")) {
      inside = true;
      SkipRestOfLine(text, length, &p, &lineCount);
    } else if (MatchKeyword(text, length, &q, "define")) {
      SkipRestOfLine(text, length, &p, &lineCount);
    }
  } else {
    p = 0;
  }
  StatusCode st = kEof;
  int32_t blockLine = lineCount;
  while (true) {
    SkipBlanksAndComments(ctx, text, length, &p, false, &lineCount);
    if (p >= length) break;
    *position = p;
    blockLine = lineCount;
    if (line) *line = lineCount;
    int q = p;
    if (MatchKeyword(text, length, &q, "function")) {
      st = ParseFunctionBlockHeader(text, length, q, name, nameLength, qualifier, qualifierLength);
      break;
    }
    if (MatchKeyword(text, length, &q, "define")) {
      *qualifier = nullptr;
      *qualifierLength = 0;
      SkipBlanksInLine(text, length, &q, nullptr);
      const int n = NameLength(text, length, q);
      st = n > 0 && IsNameStart(ByteAt(text, q)) ? kOk : kBadDefinition;
      *name = text + q;
      *nameLength = n;
      break;
    }
    if (MatchKeyword(text, length, &q, "include") || MatchKeyword(text, length, &q, "includeifexists")) {
      st = kIncludeNotPermitted;
      break;
    }
    const bool privateWord = MatchKeyword(text, length, &q, "private");
    const bool publicWord = !privateWord && MatchKeyword(text, length, &q, "public");
    if (privateWord || publicWord) {
      if (isPrivate) *isPrivate = privateWord;
      inside = false;
    } else if (MatchKeyword(text, length, &q, "endfunction")) {
      inside = false;
    } else if (!inside && headerRequired && !MatchKeyword(text, length, &q, "use") &&
               !MatchKeyword(text, length, &q, "useifexists")) {
      st = kExpectedFunHeader;
      break;
    }
    SkipRestOfLine(text, length, &p, &lineCount);
  }
  if (st != kOk && st != kEof && !quiet) {
    // Without heap room the code's own message stands in for the stored text.
    (void)StoreLastErrorMessage(ctx, st, nullptr, -1, false, nullptr);
    ctx->errorPosition = blockLine;
  }
  return st;
}

StatusCode GrowUseList(EngineContext* ctx, int32_t library, const char* directory) {
  int16_t* old = UseList(ctx, library);
  const int32_t oldCount = old ? old[1] : 0;
  const int32_t count = oldCount == 0               ? kUseListGrowth
                        : oldCount < kUseListGrowth ? oldCount + kUseListGrowth
                                                    : oldCount * 2;
  FunctionStoreEntry* e = StoreEntry(ctx, library);
  if (old != nullptr && e->position + old[0] + oldCount == ctx->codeTop) {
    if (count - oldCount > FreeCodeWords(ctx)) return kCodeOverflow;
    std::fill(old + old[0] + oldCount, old + old[0] + count, int16_t{-1});
    old[1] = static_cast<int16_t>(count);
    ctx->codeTop += count - oldCount;
    return kOk;
  }
  // The directory part of the path, up to and including its last separator.
  const char* dir = directory;
  int dirBytes = 0;
  if (dir != nullptr) {
    const int n = static_cast<int>(std::strlen(dir));
    dirBytes = n;
    while (dirBytes > 0 && dir[dirBytes - 1] != '/' && dir[dirBytes - 1] != '\\') --dirBytes;
    if (dirBytes == 0) dirBytes = n;
  } else if (old != nullptr) {
    dir = reinterpret_cast<const char*>(old + 2);
    dirBytes = static_cast<int>(strnlen(dir, 2 * (old[0] - 2)));
  }
  const int32_t header = 3 + dirBytes / 2;
  if (header + count > FreeCodeWords(ctx) || header + count > INT16_MAX) return kCodeOverflow;
  int16_t* list = ctx->codeBase + ctx->codeTop;
  std::fill(list, list + header + count, int16_t{-1});
  list[0] = static_cast<int16_t>(header);
  list[1] = static_cast<int16_t>(count);
  std::memset(list + 2, 0, 2 * (header - 2));
  if (dirBytes > 0) std::memcpy(list + 2, dir, dirBytes);
  if (old != nullptr) std::copy(old + old[0], old + old[0] + oldCount, list + header);
  e->position = ctx->codeTop;
  ctx->codeTop += header + count;
  return kOk;
}

bool IsLibraryInUseList(EngineContext* ctx, int32_t library, int32_t other) {
  const int16_t* list = UseList(ctx, library);
  if (list == nullptr) return false;
  const int16_t* slots = list + list[0];
  for (int32_t k = 0; k < list[1]; ++k)
    if (slots[k] == other) return true;
  return false;
}

const char* LibraryDirectoryHint(EngineContext* ctx, int32_t library) {
  const int16_t* list = UseList(ctx, library);
  return list != nullptr && list[2] != 0 ? reinterpret_cast<const char*>(list + 2) : nullptr;
}

namespace {

// Puts X last among the used slots of L's list, growing the list when full.
[[nodiscard]] StatusCode UseLibrary(EngineContext* ctx, int32_t library, int32_t used, const char* hint) {
  int16_t* list = UseList(ctx, library);
  if (list == nullptr) {
    if (StatusCode st = GrowUseList(ctx, library, hint); st != kOk) return st;
    list = UseList(ctx, library);
  }
  int32_t count = UsedSlots(list);
  int16_t* slots = list + list[0];
  for (int32_t k = 0; k < count; ++k) {
    if (slots[k] != used) continue;
    std::copy(slots + k + 1, slots + count, slots + k);
    slots[count - 1] = static_cast<int16_t>(used);
    return kOk;
  }
  if (count == list[1]) {
    if (StatusCode st = GrowUseList(ctx, library, nullptr); st != kOk) return st;
    list = UseList(ctx, library);
    slots = list + list[0];
    if (count == list[1]) return kIllegal;
  }
  slots[count] = static_cast<int16_t>(used);
  return kOk;
}

// A "use" from the command line makes the library's functions compile again
// from their current source; with reread its source is read again too.
[[nodiscard]] StatusCode RefreshLibrary(EngineContext* ctx, int32_t library, bool reread) {
  for (int32_t i = 0; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind >= 0 || (static_cast<uint32_t>(e->name) & kLibraryIndexMask) != static_cast<uint32_t>(library))
      continue;
    if (e->position > 0)
      if (StatusCode st = DiscardFunctionCode(ctx, i); st != kOk) return st;
  }
  if (reread) StoreEntry(ctx, library)->position = -1;
  return kOk;
}

}  // namespace

StatusCode ProcessUseStatements(EngineContext* ctx, int32_t library, const char* text, int32_t length, const char* hint,
                                int32_t firstLine, bool commandLine, bool reread) {
  int32_t line = firstLine;
  int p = 0;
  while (p < length) {
    SkipBlanksAndComments(ctx, text, length, &p, true, &line);
    if (p >= length) break;
    const bool ifExists = MatchKeyword(text, length, &p, "useifexists");
    if (!ifExists && !MatchKeyword(text, length, &p, "use")) {
      SkipStatement(text, length, &p, &line);
      continue;
    }
    const int32_t statementLine = line;
    while (true) {
      SkipBlanksInLine(text, length, &p, nullptr);
      const int n = NameLength(text, length, p);
      if (n == 0 || !IsNameStart(ByteAt(text, p))) {
        // Without heap room the code's own message stands in for the stored text.
        (void)StoreLastErrorMessage(ctx, kBadLibName, nullptr, -1, false, nullptr);
        ctx->errorPosition = statementLine;
        return kBadLibName;
      }
      const char* name = text + p;
      p += n;
      bool present = true;
      if (ifExists) {
        const StatusCode st = ReadSourceText(ctx, name, n, ctx->librarySuffix, true, hint, -1, false, nullptr, 0,
                                             nullptr, nullptr, nullptr);
        present = st != kLibNotFound;
      }
      if (present) {
        int32_t used = 0;
        if (StatusCode st = DeclareLibrary(ctx, name, n, false, &used); st != kOk) return st;
        if (StatusCode st = UseLibrary(ctx, library, used, hint); st != kOk) return st;
        if (commandLine && !(n >= 4 && std::strncmp(name, "_cli", 4) == 0))
          if (StatusCode st = RefreshLibrary(ctx, used, reread); st != kOk) return st;
      }
      SkipBlanksInLine(text, length, &p, nullptr);
      if (p < length && text[p] == ',') {
        ++p;
        SkipBlanksInLine(text, length, &p, nullptr);
        if (AtStatementEnd(text, length, p)) {
          // Without heap room the code's own message stands in for the stored text.
          (void)StoreLastErrorMessage(ctx, kBadLibName, nullptr, -1, false, nullptr);
          ctx->errorPosition = statementLine;
          return kBadLibName;
        }
        continue;
      }
      break;  // the statement's end, or anything else, ends the list
    }
  }
  FunctionStoreEntry* e = StoreEntry(ctx, library);
  if (e->position == -1) e->position = 0;
  return kOk;
}

StatusCode LoadUsedLibraries(EngineContext* ctx, int32_t library, const char* text, int32_t length, const char* hint,
                             int32_t firstLine, bool commandLine, bool headerRequired) {
  ctx->errorPosition = 0;
  ctx->errorFunction = -1;
  int32_t current = library;
  bool sandboxed = false;
  int32_t moveFrom = 0;
  StatusCode lastReadError = kOk;
  auto fail = [&](StatusCode st) {
    FunctionStoreEntry* e = StoreEntry(ctx, current);
    if (e->position < 0) e->position = 0;
    return st;
  };
  if (StatusCode st = ProcessUseStatements(ctx, library, text, length, hint, firstLine, commandLine, true); st != kOk)
    return fail(st);
  while (true) {
    // Declare the blocks of the current text; they compile on first use.
    int32_t position = -1, line = firstLine;
    bool isPrivate = false;
    while (true) {
      const char* name = nullptr;
      const char* qualifier = nullptr;
      int32_t nameLength = 0, qualifierLength = 0;
      StatusCode st = ScanLibrarySource(ctx, text, length, &position, &line, &name, &nameLength, &qualifier,
                                        &qualifierLength, &isPrivate, headerRequired, false);
      if (st == kEof) break;
      if (st != kOk) return fail(st);
      int32_t entry = 0;
      st = DeclareFunction(ctx, name, nameLength, qualifier, qualifierLength, current, isPrivate, sandboxed, moveFrom,
                           &entry);
      if (st != kOk) return fail(st);
      FunctionStoreEntry* e = StoreEntry(ctx, entry);
      if (e->position == -1) e->position = 0;
    }

    // The next library named but not yet read.
    int32_t next = -1;
    for (int32_t i = 0; i < ctx->entriesInUse && next < 0; ++i) {
      const FunctionStoreEntry* e = StoreEntry(ctx, i);
      if (e->kind == kEntryLibrary && e->position == -1 && i != 0) next = i;
    }
    if (next < 0) return lastReadError;
    const char* libraryName = nullptr;
    int libraryNameLength = 0;
    GetFunctionNameByIndex(ctx, next, &libraryName, &libraryNameLength);
    Cell* free = nullptr;
    int64_t freeBytes = 0;
    (void)GetFreeDataSpace(ctx, &freeBytes, &free);
    char* buffer = reinterpret_cast<char*>(free);
    int32_t read = 0, readFirstLine = 1;
    bool untrusted = false;
    const StatusCode st = ReadSourceText(
        ctx, libraryName, libraryNameLength, ctx->librarySuffix, true, hint, kLibraryIncludeDepth, true, buffer,
        static_cast<int32_t>(std::min<int64_t>(freeBytes, INT32_MAX)), &read, &readFirstLine, &untrusted);
    if (st != kOk) {
      lastReadError = st;
      StoreEntry(ctx, next)->position = 0;
      continue;
    }
    current = next;
    text = buffer;
    length = read;
    firstLine = readFirstLine;
    sandboxed = untrusted;
    moveFrom = IsLibraryInUseList(ctx, library, next) ? library : 0;
    if (StatusCode use = ProcessUseStatements(ctx, current, text, length, hint, firstLine, commandLine, false);
        use != kOk)
      return fail(use);
  }
}

StatusCode GetFunctionLibraryName(EngineContext* ctx, int32_t entry, const char** name, int* length) {
  if (entry < 0 || entry >= ctx->entriesInUse) return kSrcNotFound;
  const FunctionStoreEntry* e = StoreEntry(ctx, entry);
  const int32_t library = static_cast<int32_t>(static_cast<uint32_t>(e->name) & kLibraryIndexMask);
  if (e->kind >= 0 || library == 0) return kSrcNotFound;
  GetFunctionNameByIndex(ctx, library, name, length);
  return kOk;
}

StatusCode GetFunctionSource(EngineContext* ctx, int32_t entry, char* buffer, int32_t size, int32_t* length,
                             int32_t* firstLine) {
  if (entry < 0 || entry >= ctx->entriesInUse) return kUndefFunOrVar;
  if (firstLine) *firstLine = 1;
  const FunctionStoreEntry* e = StoreEntry(ctx, entry);
  const char* name = nullptr;
  int nameLength = 0;
  GetFunctionNameByIndex(ctx, entry, &name, &nameLength);
  const char* libraryName = nullptr;
  int libraryNameLength = 0;
  if (GetFunctionLibraryName(ctx, entry, &libraryName, &libraryNameLength) != kOk)
    return ReadSourceText(ctx, name, nameLength, kFunctionSourceSuffixes, false, nullptr, -1, false, buffer, size,
                          length, firstLine, nullptr);

  const int32_t library = static_cast<int32_t>(static_cast<uint32_t>(e->name) & kLibraryIndexMask);
  const char* hint = LibraryDirectoryHint(ctx, library);
  int32_t textFirstLine = 1;
  StatusCode st = ReadSourceText(ctx, libraryName, libraryNameLength, ctx->librarySuffix, true, hint,
                                 kLibraryIncludeDepth, true, buffer, size, length, &textFirstLine, nullptr);
  if (st != kOk) return st;
  const char* qualifier = e->qualifier != 0 ? SymbolText(ctx, e->qualifier) : nullptr;
  const int qualifierLength = e->qualifier != 0 ? SymbolLength(ctx, e->qualifier) : 0;
  int32_t position = -1, line = 1;
  bool isPrivate = false;
  while (true) {
    const char* blockName = nullptr;
    const char* blockQualifier = nullptr;
    int32_t blockNameLength = 0, blockQualifierLength = 0;
    st = ScanLibrarySource(ctx, buffer, *length, &position, &line, &blockName, &blockNameLength, &blockQualifier,
                           &blockQualifierLength, &isPrivate, true, false);
    if (st == kEof) return kSrcNotFound;
    if (st != kOk) return st;
    if (blockNameLength != nameLength || std::memcmp(blockName, name, nameLength) != 0) continue;
    if (blockQualifierLength != qualifierLength ||
        (qualifierLength > 0 && std::memcmp(blockQualifier, qualifier, qualifierLength) != 0))
      continue;
    std::memmove(buffer, buffer + position, *length - position);
    *length -= position;
    if (firstLine) *firstLine = line + textFirstLine - 1;
    return kOk;
  }
}
