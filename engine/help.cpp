// help and lookfor: a function's help is the comment after its header, or
// the comment of its entry in a help file (its native library's, "RVO" for
// the core builtins, "other" last). Plain help goes to descriptor 1, markup
// and lookfor's links to descriptor 4, which the host renders.
#include <algorithm>
#include <cstring>

#include "engine/errors.h"
#include "engine/frames.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/helptext.h"
#include "engine/libraries.h"
#include "engine/registry.h"
#include "engine/resolution.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

constexpr char kCoreHelpFile[] = "RVO";
constexpr char kLastHelpFile[] = "other";

struct Span {
  const char* text;
  int length;
};

bool SameText(Span a, const char* b, int n) { return a.length == n && std::memcmp(a.text, b, n) == 0; }

// The free data space: every text is read there, one at a time, and is good
// until the next read or push.
struct Scratch {
  char* text;
  int32_t size;
};

Scratch FreeSpace(EngineContext* ctx) {
  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  return {reinterpret_cast<char*>(free), static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX))};
}

// A missing or unreadable source is no error here: what its read raised is
// forgotten, so that no later error takes its text.
struct SavedError {
  StatusCode code;
  int32_t position;
  int32_t function;
  char failing[kFailingNameBytes];
};

SavedError SaveError(const EngineContext* ctx) {
  SavedError s{ctx->errorCode, ctx->errorPosition, ctx->errorFunction, {}};
  std::memcpy(s.failing, ctx->failingName, sizeof s.failing);
  return s;
}

void ForgetReadError(EngineContext* ctx, const SavedError& s) {
  if (ctx->currentErrorRecord > 0) FreeHeapBlock(ctx, ctx->currentErrorRecord);
  ctx->currentErrorRecord = -1;
  ctx->errorCode = s.code;
  ctx->errorPosition = s.position;
  ctx->errorFunction = s.function;
  std::memcpy(ctx->failingName, s.failing, sizeof s.failing);
}

// Reads a source quietly: kOk, 3 for a text too large for the free space (a
// larger block may hold it), else 300.
[[nodiscard]] StatusCode ReadQuietly(EngineContext* ctx, Span name, const char* suffixes, const char* hint, int depth,
                                     bool convert, Scratch space, int32_t* length) {
  const SavedError saved = SaveError(ctx);
  const StatusCode st = ReadSourceText(ctx, name.text, name.length, suffixes, true, hint, depth, convert, space.text,
                                       space.size, length, nullptr, nullptr);
  if (st == kOk || st == kDataStackFull) return st;
  ForgetReadError(ctx, saved);
  return kNotMine;
}

[[nodiscard]] StatusCode ReadHelpFile(EngineContext* ctx, Span name, const char* hint, Scratch space, int32_t* length) {
  return ReadQuietly(ctx, name, ctx->helpSuffix, hint, -1, false, space, length);
}

// The name of the library a native record belongs to: its run's last header
// before it, without '@' or '!'. Empty for records before any header.
Span NativeLibraryName(const NativeRef& ref) {
  const NativeFunctionRecord* run = ref.record - ref.index;
  for (int k = ref.index - 1; k >= 0; --k) {
    const NativeFunctionRecord& r = run[k];
    if (r.handler == nullptr && (r.name[0] == '@' || r.name[0] == '!'))
      return {r.name + 1, static_cast<int>(strnlen(r.name + 1, sizeof r.name - 1))};
  }
  return {"", 0};
}

// The help file of a name that is no user function: that of the library of
// its first plain native, "RVO" for a core builtin, else that of the library
// of a native of another kind; empty when none is.
Span NativeHelpFile(EngineContext* ctx, const char* name, int length) {
  int cursor = -1;
  NativeRef ref{};
  Span other{"", 0};
  while (FindNextNamedRecord(ctx, name, &cursor, &ref) != nullptr) {
    if (ref.record->handler == nullptr) continue;
    if (ref.record->kind == 0) return NativeLibraryName(ref);
    if (other.length == 0) other = NativeLibraryName(ref);
  }
  if (FindBuiltin(name, length) != nullptr) return {kCoreHelpFile, 3};
  return other;
}

// Searches one help file for the entry of that name with a comment: kOk with
// the text in the free space and *help at its comment, kNotMine when there
// is none, 3 when the file does not fit.
[[nodiscard]] StatusCode SearchHelpFile(EngineContext* ctx, Span file, const char* hint, Span name, int32_t* length,
                                        int32_t* help) {
  const Scratch space = FreeSpace(ctx);
  if (file.length == 0) return kNotMine;
  if (StatusCode st = ReadHelpFile(ctx, file, hint, space, length); st != kOk) return st;
  HelpFileCursor cursor;
  HelpEntry e{};
  while (NextHelpEntry(space.text, *length, &cursor, &e)) {
    if (e.help < 0 || !SameText(name, space.text + e.word, e.wordLength)) continue;
    *help = e.help;
    return kOk;
  }
  return kNotMine;
}

// Finds the help of a name: kOk with the text in the free space and *help at
// its comment, or *help -1 when there is none.
[[nodiscard]] StatusCode FindHelp(EngineContext* ctx, Span name, int32_t* length, int32_t* help) {
  *help = -1;
  const Scratch space = FreeSpace(ctx);
  const CallFrame* top = CurrentFrame(ctx);
  // A lone ':' names no function.
  const auto* colon = static_cast<const char*>(std::memchr(name.text, ':', name.length));
  const bool plain = colon == nullptr || (colon + 2 < name.text + name.length && colon[1] == ':');
  const int32_t entry =
      plain ? FindUserFunctionByName(ctx, name.text, name.length, top != nullptr ? top->library : 0) : -1;
  Span file{"", 0};
  const char* hint = nullptr;
  if (entry >= 0) {
    int32_t first = 0;
    const SavedError saved = SaveError(ctx);
    const StatusCode st = GetFunctionSource(ctx, entry, space.text, space.size, length, &first);
    if (st == kDataStackFull) return st;
    if (st == kOk && (*help = FindHelpAfterHeader(space.text, *length)) >= 0) return kOk;
    if (st != kOk) ForgetReadError(ctx, saved);
    const char* library = nullptr;
    int libraryLength = 0;
    if (GetFunctionLibraryName(ctx, entry, &library, &libraryLength) == kOk) {
      file = {library, libraryLength};
      hint = LibraryDirectoryHint(
          ctx, static_cast<int32_t>(static_cast<uint32_t>(StoreEntry(ctx, entry)->name) & kLibraryIndexMask));
    }
  } else {
    file = NativeHelpFile(ctx, name.text, name.length);
  }
  StatusCode st = SearchHelpFile(ctx, file, hint, name, length, help);
  if (st == kNotMine && !SameText(file, kCoreHelpFile, 3))
    st = SearchHelpFile(ctx, {kCoreHelpFile, 3}, nullptr, name, length, help);
  if (st == kNotMine) st = SearchHelpFile(ctx, {kLastHelpFile, 5}, nullptr, name, length, help);
  if (st == kNotMine) *help = -1;
  return st == kNotMine ? kOk : st;
}

// Writes the comment at `at`: markup to descriptor 4, plain text to 1.
[[nodiscard]] StatusCode WriteHelp(EngineContext* ctx, const char* text, int32_t length, int32_t at) {
  CommentReader r;
  if (!StartComment(text, length, at, &r)) return kOk;
  const int32_t d = r.markup ? kHelpDescriptor : kStdoutDescriptor;
  if (StatusCode st = SetDescriptorBuffering(ctx, d, 1); st != kOk && st != kBadFileId) return st;
  StatusCode st = kOk;
  int32_t start = 0, n = 0;
  while (st == kOk && NextCommentLine(&r, &start, &n)) {
    st = WriteToDescriptor(ctx, d, text + start, n);
    // A markup block comes in one piece with its own line ends.
    const bool ended = r.block && r.markup && n > 0 && (text[start + n - 1] == '\n' || text[start + n - 1] == '\r');
    if (st == kOk && !ended) st = WriteNewlineToDescriptor(ctx, d);
  }
  const StatusCode off = SetDescriptorBuffering(ctx, d, 0);
  return st != kOk ? st : off == kBadFileId ? kOk : off;
}

[[nodiscard]] StatusCode FinishHelp(EngineContext* ctx, int nargin, int nargout, bool found) {
  int results = 0;
  if (nargout > 0 || nargout < 0) {
    const StatusCode st = nargout > 0 ? PushLogicalScalar(ctx, found ? 1 : 0) : PushVoidValue(ctx);
    if (st != kOk) return st;
    results = 1;
  }
  return DropArgsUnderResults(ctx, results, nargin);
}

}  // namespace

StatusCode HelpNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 1) return kTooManyArgin;
  if (nargout > 1) return kTooManyArgout;
  if (nargin == 0) {
    if (nargout <= 0) {
      const char* lines[] = {
          "Type \"help fn\" to get help on function fn or \"help 'op'\" to get help on operator op.",
          "Type \"lookfor str\" to get a list of functions whose short description contains \"str\"."};
      for (const char* line : lines) {
        if (StatusCode st = WriteToDescriptor(ctx, kStdoutDescriptor, line, -1); st != kOk) return st;
        if (StatusCode st = WriteNewlineToDescriptor(ctx, kStdoutDescriptor); st != kOk) return st;
      }
    }
    return FinishHelp(ctx, nargin, nargout, true);
  }
  char name[256];
  int64_t n = 0;
  const StatusCode arg = CopyStringArgToBuffer(ctx, 0, name, sizeof name - 1, &n);
  if (arg != kOk && arg != kObjTooLarge) return ReportedStatus(arg);
  if (arg == kOk) name[n] = 0;  // the native registry compares whole names
  // A name longer than any the engine holds has no help.
  int32_t length = 0, help = -1;
  if (arg == kOk && n > 0)
    if (StatusCode st = FindHelp(ctx, {name, static_cast<int>(n)}, &length, &help); st != kOk) return st;
  if (nargout <= 0) {
    if (help >= 0) {
      if (StatusCode st = WriteHelp(ctx, FreeSpace(ctx).text, length, help); st != kOk) return st;
    } else {
      const int shown = arg == kOk ? static_cast<int>(n) : 0;
      StatusCode st = WriteToDescriptor(ctx, kStdoutDescriptor, "Sorry, no help about ", -1);
      if (st == kOk) st = WriteToDescriptor(ctx, kStdoutDescriptor, name, shown);
      if (st == kOk) st = WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
      if (st != kOk) return st;
    }
  }
  return FinishHelp(ctx, nargin, nargout, help >= 0);
}

namespace {

// The links written by one search, as hashes: a repeated link is left out.
// When the table is full further links are left out too, never doubled.
constexpr int kLinkSlots = 1024;

uint64_t HashOf(const char* text, int n) {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (int k = 0; k < n; ++k) h = (h ^ static_cast<unsigned char>(text[k])) * 1099511628211ull;
  return h;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool ContainsFolded(const char* text, int32_t n, const char* needle, int32_t m) {
  for (int32_t p = 0; p + m <= n; ++p) {
    int32_t k = 0;
    while (k < m && Lower(text[p + k]) == Lower(needle[k])) ++k;
    if (k == m) return true;
  }
  return false;
}

struct Search {
  EngineContext* ctx;
  bool write;  // false: a first walk that only makes sure every text fits
  uint64_t links[kLinkSlots];
  int linkCount;

  const char* Needle() const { return reinterpret_cast<const char*>(ReadArray(DataAt(ctx, 0)).data); }
  int32_t NeedleLength() const { return static_cast<int32_t>(ReadArray(DataAt(ctx, 0)).count); }

  // One examined item: its qualifier (may be empty), name and, when it has
  // one, the comment of its help in `text`.
  [[nodiscard]] StatusCode Examine(Span qualifier, Span name, const char* text, int32_t length, int32_t help) {
    if (!write) return kOk;
    if (PollBreak(ctx)) return kHalted;
    const char* needle = Needle();
    const int32_t m = NeedleLength();
    int32_t start = 0, n = 0;
    if (help < 0 || !ShortDescription(text, length, help, &start, &n)) n = 0;
    const bool described = help >= 0 && ContainsFolded(text + start, n, needle, m);
    const bool named = name.length >= m && std::memcmp(name.text, needle, m) == 0;
    if (!described && !named) return kOk;
    char link[160];
    int at = 0;
    const auto put = [&](const char* t, int k) { AppendChars(link, &at, t, k, sizeof link); };
    const auto target = [&](bool shown) {
      if (qualifier.length > 0) {
        put(qualifier.text, qualifier.length);
        put("::", 2);
      }
      // "||" cannot stand in a link's target.
      if (!shown && SameText(name, "||", 2))
        put("oror", 4);
      else
        put(name.text, name.length);
    };
    put("##[[help:", 9);
    target(false);
    put("|", 1);
    target(true);
    put("]]## ", 5);
    const uint64_t h = HashOf(link, at);
    for (int k = 0; k < linkCount; ++k)
      if (links[k] == h) return kOk;
    if (linkCount == kLinkSlots) return kOk;
    links[linkCount++] = h;
    StatusCode st = WriteToDescriptor(ctx, kHelpDescriptor, link, at);
    if (st == kOk) st = WriteToDescriptor(ctx, kHelpDescriptor, text + start, n);
    if (st == kOk) st = WriteNewlineToDescriptor(ctx, kHelpDescriptor);
    return st;
  }

  // Every entry of a help file; a file that cannot be read is passed over.
  [[nodiscard]] StatusCode HelpFile(Span file, const char* hint) {
    if (file.length == 0) return kOk;
    const Scratch space = FreeSpace(ctx);
    int32_t length = 0;
    const StatusCode st = ReadHelpFile(ctx, file, hint, space, &length);
    if (st != kOk) return st == kDataStackFull ? st : kOk;
    HelpFileCursor cursor;
    HelpEntry e{};
    while (NextHelpEntry(space.text, length, &cursor, &e)) {
      if (e.help < 0) continue;
      const Span qualifier{space.text + e.word, e.name > e.word ? e.name - e.word - 2 : 0};
      if (StatusCode x = Examine(qualifier, {space.text + e.name, e.nameLength}, space.text, length, e.help); x != kOk)
        return x;
    }
    return kOk;
  }

  // The public function and define blocks of a library's text, then its help file.
  [[nodiscard]] StatusCode Library(int32_t library) {
    const char* name = nullptr;
    int n = 0;
    GetFunctionNameByIndex(ctx, library, &name, &n);
    const char* hint = LibraryDirectoryHint(ctx, library);
    const Scratch space = FreeSpace(ctx);
    int32_t length = 0;
    const StatusCode st =
        ReadQuietly(ctx, {name, n}, ctx->librarySuffix, hint, kLibraryIncludeDepth, true, space, &length);
    if (st == kDataStackFull) return st;
    if (st == kOk) {
      int32_t position = -1, line = 1;
      bool isPrivate = false;
      for (;;) {
        const char* block = nullptr;
        const char* qualifier = nullptr;
        int32_t blockLength = 0, qualifierLength = 0;
        if (ScanLibrarySource(ctx, space.text, length, &position, &line, &block, &blockLength, &qualifier,
                              &qualifierLength, &isPrivate, true, true) != kOk)
          break;
        if (isPrivate) continue;
        const int32_t help = FindHelpAfterHeader(space.text + position, length - position);
        if (StatusCode x = Examine({qualifier, qualifierLength}, {block, blockLength}, space.text + position,
                                   length - position, help);
            x != kOk)
          return x;
      }
    }
    // The library's name lives in the store, not in the space the file is read to.
    GetFunctionNameByIndex(ctx, library, &name, &n);
    return HelpFile({name, n}, hint);
  }

  // Whether a native library's help file was searched before this header.
  bool Done(int list, int index, Span file) {
    if (SameText(file, kCoreHelpFile, 3)) return true;
    for (int32_t e = 1; e < ctx->entriesInUse; ++e) {
      if (StoreEntry(ctx, e)->kind != kEntryLibrary) continue;
      const char* name = nullptr;
      int n = 0;
      GetFunctionNameByIndex(ctx, e, &name, &n);
      if (SameText(file, name, n)) return true;
    }
    for (int i = 0; i <= list; ++i) {
      const LibraryListEntry& run = ctx->libraries[i];
      for (int k = 0; k < (i == list ? index : run.count); ++k) {
        const NativeFunctionRecord& r = run.first[k];
        if (r.handler != nullptr || (r.name[0] != '@' && r.name[0] != '!')) continue;
        if (SameText(file, r.name + 1, static_cast<int>(strnlen(r.name + 1, sizeof r.name - 1)))) return true;
      }
    }
    return false;
  }

  [[nodiscard]] StatusCode Walk() {
    for (int32_t e = 1; e < ctx->entriesInUse; ++e) {
      if (StoreEntry(ctx, e)->kind != kEntryLibrary) continue;
      if (StatusCode st = Library(e); st != kOk) return st;
    }
    for (int i = 0; i < ctx->libraryCount; ++i) {
      for (int k = 0; k < ctx->libraries[i].count; ++k) {
        const NativeFunctionRecord& r = ctx->libraries[i].first[k];
        if (r.handler != nullptr || (r.name[0] != '@' && r.name[0] != '!')) continue;
        const Span file{r.name + 1, static_cast<int>(strnlen(r.name + 1, sizeof r.name - 1))};
        if (file.length == 0 || Done(i, k, file)) continue;
        if (StatusCode st = HelpFile(file, nullptr); st != kOk) return st;
      }
    }
    if (StatusCode st = HelpFile({kCoreHelpFile, 3}, nullptr); st != kOk) return st;
    return HelpFile({kLastHelpFile, 5}, nullptr);
  }
};

}  // namespace

StatusCode LookforNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin != 1) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  if (nargout > 0) return kTooManyArgout;
  if (!IsCharArg(ctx, 0)) return kWrongType;
  // The text in UTF-8, pushed above the input so that it stays while the
  // sources are read into the free space.
  const ArrayView a = ReadArray(DataAt(ctx, 0));
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  int64_t total = 0;
  for (int64_t k = 0; k < a.count; ++k) total += codes[k] < 0x80 ? 1 : codes[k] < 0x800 ? 2 : 3;
  if (total > kMaxIntegerElements) return kObjTooLarge;
  const int32_t dims[] = {1, static_cast<int32_t>(total)};
  void* out = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, 2, dims, 1, true, &out); st != kOk) return st;
  codes = reinterpret_cast<const uint16_t*>(ReadArray(DataAt(ctx, 1)).data);
  int at = 0;
  for (int64_t k = 0; k < a.count; ++k) (void)AppendUtf8Char(static_cast<char*>(out), &at, codes[k], at + 3);
  // A first walk only reads: a text that needs a larger block fails the call
  // before any link is written, so that its repeat writes each once.
  Search search{ctx, false, {}, 0};
  StatusCode st = kOk;
  for (const bool write : {false, true}) {
    search.write = write;
    search.linkCount = 0;
    if (write)
      if (StatusCode on = SetDescriptorBuffering(ctx, kHelpDescriptor, 1); on != kOk && on != kBadFileId) st = on;
    if (st == kOk) st = search.Walk();
    if (write) {
      const StatusCode off = SetDescriptorBuffering(ctx, kHelpDescriptor, 0);
      if (st == kOk && off != kBadFileId) st = off;
    }
    if (st != kOk) break;
  }
  PopValue(ctx);
  if (st != kOk) return st;
  int results = 0;
  if (nargout < 0) {
    if (StatusCode v = PushVoidValue(ctx); v != kOk) return v;
    results = 1;
  }
  return DropArgsUnderResults(ctx, results, nargin);
}
