// The function store: declaring functions and libraries in the entry table at
// the start of the code area, compiling them at the code end on demand or in
// the pending pass, and growing, compacting and resetting the area.
#include "engine/functionstore.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/compiler/codegen.h"
#include "engine/heap.h"
#include "engine/heldpositions.h"
#include "engine/libraries.h"

namespace {

constexpr int kNameLimit = 32;

// The engine's own compiler and library reader.
constexpr FunctionStoreSeams kDefaultSeams = {CompileFunctionSource, GetFunctionSource, ScanLibrarySource,
                                              LoadUsedLibraries};
FunctionStoreSeams seams = kDefaultSeams;

bool IsIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

int32_t TableEnd(const EngineContext* ctx) { return kEntryWords * ctx->entryCapacity; }

bool IsFunctionIndex(EngineContext* ctx, int32_t i) {
  return i > 0 && i < ctx->entriesInUse && StoreEntry(ctx, i)->kind < 0;
}

bool IsLibraryIndex(EngineContext* ctx, int32_t i) {
  return i >= 0 && i < ctx->entriesInUse && StoreEntry(ctx, i)->kind == kEntryLibrary;
}

// Function code and library use lists live in the code area; a variable's
// third word is a heap index.
bool HoldsCode(const FunctionStoreEntry* e) { return e->kind != kEntryVariable && e->position > 0; }

int32_t FindFunctionIn(EngineContext* ctx, int32_t library, SymbolId name, SymbolId qualifier) {
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind == name && e->qualifier == qualifier &&
        (static_cast<uint32_t>(e->name) & kLibraryIndexMask) == static_cast<uint32_t>(library))
      return i;
  }
  return -1;
}

// A function's name as NUL-terminated text, for messages that take text.
void CopyFunctionName(EngineContext* ctx, int32_t entry, char (&out)[kNameLimit + 1]) {
  const SymbolId name = StoreEntry(ctx, entry)->kind;
  const int n = std::min(SymbolLength(ctx, name), kNameLimit);
  std::memcpy(out, SymbolText(ctx, name), n);
  out[n] = 0;
}

// ---------------------------------------------------------------------------
// Code positions held outside the table (engine/heldpositions.h).

// Whether any held position lies in the words [from, to).
bool IsPositionHeld(EngineContext* ctx, int32_t from, int32_t to) {
  bool held = false;
  ForEachHeldPosition(ctx, [&](int32_t* value, int perWord) {
    const int32_t word = *value / perWord;
    if (word >= from && word < to) held = true;
  });
  return held;
}

// The running program counter: the interpreter keeps its own pointer into
// the code while it runs, so code at or above it must not move.
bool IsRunningAtOrAbove(const EngineContext* ctx, int32_t word) {
  return ctx->pc.space == kCodeArea && ctx->pc.offset / 2 >= word;
}

void ShiftCodePositions(EngineContext* ctx, int32_t from, int32_t delta) {
  // From entry 0: its third word holds the base library's use list.
  for (int32_t i = 0; i < ctx->entriesInUse; ++i) {
    FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (HoldsCode(e) && e->position >= from) e->position += delta;
  }
  ForEachHeldPosition(ctx, [&](int32_t* value, int perWord) {
    if (*value / perWord >= from) *value += delta * perWord;
  });
}

// Takes a function's code out of the area: everything above it moves down
// and every position that pointed there follows.
[[nodiscard]] StatusCode RemoveFunctionCode(EngineContext* ctx, int32_t entry) {
  const int32_t start = StoreEntry(ctx, entry)->position;
  int32_t end = ctx->codeTop;
  for (int32_t i = 0; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (HoldsCode(e) && e->position > start) end = std::min(end, e->position);
  }
  // Stale use lists may lie between; moving by whole multiples of 4 keeps
  // every function that follows on its 4-word boundary.
  const int32_t shift = end == ctx->codeTop ? end - start : (end - start) & ~3;
  if (ctx->compileOutput != 0 || IsRunningAtOrAbove(ctx, start) || IsPositionHeld(ctx, start, start + shift))
    return kBadContext;

  std::memmove(ctx->codeBase + start, ctx->codeBase + start + shift,
               sizeof(int16_t) * static_cast<size_t>(ctx->codeTop - start - shift));
  ShiftCodePositions(ctx, start + shift, -shift);
  ctx->codeTop -= shift;
  StoreEntry(ctx, entry)->position = 0;
  return kOk;
}

// Compiles text as the code of a function entry at the aligned code end.
[[nodiscard]] StatusCode CompileAtCodeEnd(EngineContext* ctx, int32_t entry, const char* text, int32_t length,
                                          bool further, int32_t firstLine) {
  const int32_t start = (ctx->codeTop + 3) & ~3;
  const int32_t room = std::max(FreeCodeWords(ctx) - (start - ctx->codeTop), 0) & ~3;
  const int32_t library = static_cast<int32_t>(static_cast<uint32_t>(StoreEntry(ctx, entry)->name) & kLibraryIndexMask);

  ctx->compileOutput = start;
  ctx->errorFunction = entry;
  int32_t used = 0;
  const StatusCode st =
      seams.compile(ctx, library, text, length, further, ctx->codeBase + start, room, &used, entry, firstLine);
  ctx->compileOutput = 0;
  if (st != kOk) return st;
  ctx->errorFunction = -1;

  const int32_t taken = (used + 3) & ~3;
  if (used < static_cast<int32_t>(sizeof(CompiledFunctionHeader) / 2) || taken > room) return kIllegal;
  // Names interned while compiling came down from the top of the free words.
  if (taken > FreeCodeWords(ctx) - (start - ctx->codeTop)) return kCodeOverflow;

  FunctionStoreEntry* e = StoreEntry(ctx, entry);
  if (static_cast<uint32_t>(e->name) & kLibrarySandboxed) {
    auto* header = reinterpret_cast<CompiledFunctionHeader*>(ctx->codeBase + start);
    header->flags = static_cast<int16_t>(header->flags | kHeaderSandboxed);
  }
  e->position = start;
  ctx->codeTop = start + taken;
  return kOk;
}

int32_t FreeDescriptorBytes(const EngineContext* ctx) {
  return static_cast<int32_t>(std::min<int64_t>(4 * int64_t{ctx->descCapacity - ctx->descLength}, INT32_MAX));
}

int32_t FreeDataBytes(const EngineContext* ctx) {
  return static_cast<int32_t>(std::min<int64_t>(8 * int64_t{ctx->dataCapacity - ctx->dataTop}, INT32_MAX));
}

// A fetched source and the stack tops it moved: it goes into the free
// descriptor stack, or the free data stack when it is too large there, and
// stays reserved while it compiles, out of the compiler's scratch space.
struct FetchedSource {
  char* text = nullptr;
  int32_t length = 0;
  int32_t firstLine = 1;
  int32_t descLength = 0;
  int32_t dataTop = 0;
};

// 0; 3 when it fits neither stack; the fetcher's status.
[[nodiscard]] StatusCode FetchSource(EngineContext* ctx, int32_t entry, FetchedSource* s) {
  s->descLength = ctx->descLength;
  s->dataTop = ctx->dataTop;
  s->text = reinterpret_cast<char*>(ctx->descBase + ctx->descLength);
  int32_t size = FreeDescriptorBytes(ctx);
  StatusCode st = seams.fetchSource(ctx, entry, s->text, size, &s->length, &s->firstLine);
  if (st == kDataStackFull) {
    s->text = reinterpret_cast<char*>(ctx->dataBase + ctx->dataTop);
    size = FreeDataBytes(ctx);
    s->length = 0;
    s->firstLine = 1;
    st = seams.fetchSource(ctx, entry, s->text, size, &s->length, &s->firstLine);
    s->length = std::clamp(s->length, 0, size);
    if (st == kOk) ctx->dataTop += (s->length + 7) / 8;
    return st;
  }
  s->length = std::clamp(s->length, 0, size);
  if (st == kOk) ctx->descLength += (s->length + 3) / 4;
  return st;
}

void ReleaseSource(EngineContext* ctx, const FetchedSource& s) {
  ctx->descLength = s.descLength;
  ctx->dataTop = s.dataTop;
}

}  // namespace

FunctionStoreSeams SetFunctionStoreSeams(const FunctionStoreSeams& s) {
  const FunctionStoreSeams previous = seams;
  seams.compile = s.compile ? s.compile : kDefaultSeams.compile;
  seams.fetchSource = s.fetchSource ? s.fetchSource : kDefaultSeams.fetchSource;
  seams.scanLibrary = s.scanLibrary ? s.scanLibrary : kDefaultSeams.scanLibrary;
  seams.loadUsedLibraries = s.loadUsedLibraries ? s.loadUsedLibraries : kDefaultSeams.loadUsedLibraries;
  return previous;
}

// ---------------------------------------------------------------------------
// Declarations.

StatusCode DeclareFunction(EngineContext* ctx, const char* name, int nameLength, const char* qualifier,
                           int qualifierLength, int32_t library, bool isPrivate, bool sandboxed, int32_t moveFrom,
                           int32_t* entry) {
  if (qualifier == nullptr) qualifierLength = 0;
  if (nameLength <= 0 || qualifierLength < 0) return kNullName;
  if (nameLength > kNameLimit || qualifierLength > kNameLimit) return kNameTooLong;
  if (!IsLibraryIndex(ctx, library)) return kBadArg;

  const SymbolId nameId = FindSymbol(ctx, name, nameLength);
  const SymbolId qualifierId = qualifierLength > 0 ? FindSymbol(ctx, qualifier, qualifierLength) : 0;
  if (nameId != 0 && (qualifierLength == 0 || qualifierId != 0)) {
    if (const int32_t i = FindFunctionIn(ctx, library, nameId, qualifierId); i > 0) {
      FunctionStoreEntry* e = StoreEntry(ctx, i);
      const uint32_t word = static_cast<uint32_t>(e->name);
      e->name = static_cast<int32_t>(isPrivate ? word | kLibraryPrivate : word & ~kLibraryPrivate);
      *entry = i;
      return kOk;
    }
    if (moveFrom != 0 && !isPrivate && IsLibraryIndex(ctx, moveFrom)) {
      if (const int32_t i = FindFunctionIn(ctx, moveFrom, nameId, qualifierId); i > 0) {
        StoreEntry(ctx, i)->name = static_cast<int32_t>(library | (sandboxed ? kLibrarySandboxed : 0));
        *entry = i;
        return kOk;
      }
    }
  }

  // A table that could not grow is still full: the next line reports it.
  if (ctx->entriesInUse >= ctx->entryCapacity) (void)GrowFunctionTable(ctx);
  if (ctx->entriesInUse >= ctx->entryCapacity) return kTooManyUserFun;
  SymbolId n = 0, q = 0;
  if (StatusCode st = InternSymbol(ctx, name, nameLength, kNameLimit, &n); st != kOk) return st;
  if (qualifierLength > 0)
    if (StatusCode st = InternSymbol(ctx, qualifier, qualifierLength, kNameLimit, &q); st != kOk) return st;

  const uint32_t word =
      static_cast<uint32_t>(library) | (sandboxed ? kLibrarySandboxed : 0) | (isPrivate ? kLibraryPrivate : 0);
  *StoreEntry(ctx, ctx->entriesInUse) = FunctionStoreEntry{n, static_cast<int32_t>(word), -1, q};
  *entry = ctx->entriesInUse++;
  return kOk;
}

StatusCode DeclareLibrary(EngineContext* ctx, const char* name, int length, bool alreadyRead, int32_t* entry) {
  int n = 0;
  while ((length < 0 || n < length) && IsIdentifierChar(name[n])) ++n;
  if (n == 0) return kNullName;
  if (n > kNameLimit) return kNameTooLong;
  if (const SymbolId id = FindSymbol(ctx, name, n); id != 0) {
    if (const int32_t i = FindLibraryEntry(ctx, id); i >= 0) {
      *entry = i;
      return kOk;
    }
  }
  if (ctx->entriesInUse >= ctx->entryCapacity) return kTooManyUserFun;
  SymbolId id = 0;
  if (StatusCode st = InternSymbol(ctx, name, n, kNameLimit, &id); st != kOk) return st;
  *StoreEntry(ctx, ctx->entriesInUse) = FunctionStoreEntry{kEntryLibrary, id, alreadyRead ? 0 : -1, 0};
  *entry = ctx->entriesInUse++;
  return kOk;
}

int32_t FindLibraryEntry(EngineContext* ctx, SymbolId name) {
  for (int32_t i = 0; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind == kEntryLibrary && e->name == name) return i;
  }
  return -1;
}

StatusCode GrowFunctionTable(EngineContext* ctx) {
  // Running code and a compilation at the code end hold pointers into the code.
  if (ctx->pc.space != kNoCode || ctx->compileOutput != 0) return kTooManyUserFun;
  const int32_t free = FreeCodeWords(ctx);
  const int32_t added = std::max((free - 1) / 256, 2);
  if (kEntryWords * added >= free - 1) return kTooManyUserFun;

  const int32_t end = TableEnd(ctx), delta = kEntryWords * added;
  std::memmove(ctx->codeBase + end + delta, ctx->codeBase + end,
               sizeof(int16_t) * static_cast<size_t>(ctx->codeTop - end));
  std::memset(ctx->codeBase + end, 0, sizeof(int16_t) * static_cast<size_t>(delta));
  ShiftCodePositions(ctx, end, delta);
  ctx->entryCapacity += added;
  ctx->codeTop += delta;
  return kOk;
}

// ---------------------------------------------------------------------------
// Compilation.

StatusCode CompileStoredFunction(EngineContext* ctx, int32_t entry, const char* source, int32_t length,
                                 bool furtherFunctions, int32_t firstLine) {
  if (!IsFunctionIndex(ctx, entry)) return kBadArg;
  // Only one compilation writes at the code end at a time.
  if (ctx->compileOutput != 0) return kBadContext;
  if (StoreEntry(ctx, entry)->position > 0) {
    // The error is the caller's request, not a fault of the function's text:
    // it carries no function and no line.
    (void)RaiseError(ctx, kFunAlreadyDefined, -1, StoreEntry(ctx, entry)->kind, -1, nullptr);
    ctx->errorPosition = 0;
    ctx->errorFunction = -1;
    return kFunAlreadyDefined;
  }
  StoreEntry(ctx, entry)->position = 0;
  if (source != nullptr) return CompileAtCodeEnd(ctx, entry, source, std::max(length, 0), furtherFunctions, firstLine);

  FetchedSource fetched;
  StatusCode st = FetchSource(ctx, entry, &fetched);
  if (st == kSrcNotFound) {
    char name[kNameLimit + 1];
    CopyFunctionName(ctx, entry, name);
    return RaiseError(ctx, kUndefFunOrVar, -1, 0, -1, name);
  }
  // A library text goes on after this function: stop at the next header.
  if (st == kOk) st = CompileAtCodeEnd(ctx, entry, fetched.text, fetched.length, true, fetched.firstLine);
  ReleaseSource(ctx, fetched);
  return st;
}

StatusCode DeclareAndCompileFunction(EngineContext* ctx, const char* name, const char* qualifier, int32_t library,
                                     const char* source, int32_t length, int32_t firstLine, bool sandboxed) {
  // One character past the limit is enough to be refused as too long.
  const int nameLength = static_cast<int>(strnlen(name, kNameLimit + 1));
  const int qualifierLength = qualifier ? static_cast<int>(strnlen(qualifier, kNameLimit + 1)) : 0;
  int32_t entry = 0;
  if (StatusCode st =
          DeclareFunction(ctx, name, nameLength, qualifier, qualifierLength, library, false, sandboxed, 0, &entry);
      st != kOk)
    return st;
  return CompileStoredFunction(ctx, entry, source, length, false, firstLine);
}

StatusCode CompilePendingFunctions(EngineContext* ctx, bool alsoUncompiled) {
  bool missing = false;
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) {
    FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind >= 0 || !(e->position == -1 || (alsoUncompiled && e->position == 0))) continue;
    e->position = 0;
    FetchedSource fetched;
    StatusCode st = FetchSource(ctx, i, &fetched);
    if (st == kOk)
      st = CompileStoredFunction(ctx, i, fetched.text, fetched.length, true, fetched.firstLine);
    else if (st == kSrcNotFound || st == kLibNotFound || st == kDataStackFull)
      st = RaiseError(ctx, kFunNotFound, -1, StoreEntry(ctx, i)->kind, -1, nullptr);
    ReleaseSource(ctx, fetched);
    if (st == kFunNotFound) {
      missing = true;
      continue;
    }
    if (st != kOk) return st;
    // Compiling may have declared further functions: walk again from the start.
    i = 0;
  }
  return missing ? kFunNotFound : kOk;
}

StatusCode CompileTextFunctions(EngineContext* ctx, int32_t library, const char* text, int32_t length, const char* hint,
                                int32_t firstLine, bool sandboxed, bool replace, bool noHeaderCheck) {
  if (length < 0) return CompilePendingFunctions(ctx, false);
  if (StatusCode st = seams.loadUsedLibraries(ctx, library, text, length, hint, firstLine, true, !noHeaderCheck);
      st != kOk)
    return st;

  int32_t position = -1, line = firstLine;
  bool isPrivate = false;
  for (;;) {
    const char* name = nullptr;
    const char* qualifier = nullptr;
    int32_t nameLength = 0, qualifierLength = 0;
    StatusCode st = seams.scanLibrary(ctx, text, length, &position, &line, &name, &nameLength, &qualifier,
                                      &qualifierLength, &isPrivate, !noHeaderCheck, false);
    if (st == kEof) break;
    if (st != kOk) return st;
    if (position < 0 || position >= length) return kIllegal;
    if (nameLength > kNameLimit) return RaiseError(ctx, kNameTooLong, -1, 0, nameLength, name);
    if (qualifierLength > kNameLimit) return RaiseError(ctx, kNameTooLong, -1, 0, qualifierLength, qualifier);

    int32_t entry = 0;
    st = DeclareFunction(ctx, name, nameLength, qualifier, qualifierLength, library, isPrivate, sandboxed, 0, &entry);
    if (st != kOk) return st;
    if (replace && StoreEntry(ctx, entry)->position > 0)
      if (st = DiscardFunctionCode(ctx, entry); st != kOk) return st;
    if (st = CompileStoredFunction(ctx, entry, text + position, length - position, true, line); st != kOk) return st;
  }
  return CompilePendingFunctions(ctx, false);
}

// ---------------------------------------------------------------------------
// Discarding and resetting.

StatusCode DiscardFunctionCode(EngineContext* ctx, int32_t entry) {
  if (!IsFunctionIndex(ctx, entry)) return kBadArg;
  if (StoreEntry(ctx, entry)->position <= 0) return kOk;
  return RemoveFunctionCode(ctx, entry);
}

StatusCode DropLastFunction(EngineContext* ctx) {
  const int32_t last = ctx->entriesInUse - 1;
  if (!IsFunctionIndex(ctx, last)) return kOk;
  // A failed compilation leaves no code: the code end stays where it is.
  if (StoreEntry(ctx, last)->position > 0)
    if (StatusCode st = RemoveFunctionCode(ctx, last); st != kOk) return st;
  ctx->entriesInUse = last;
  return kOk;
}

StatusCode ResetFunctionStore(EngineContext* ctx) {
  if (ctx->compileOutput != 0 || IsRunningAtOrAbove(ctx, 0) || IsPositionHeld(ctx, 0, ctx->codeSize))
    return kBadContext;
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) StoreEntry(ctx, i)->position = -1;
  *StoreEntry(ctx, 0) = FunctionStoreEntry{0, 0, 0, 0};
  ctx->entriesInUse = 1;
  ctx->codeTop = TableEnd(ctx);
  return kOk;
}

int32_t GetCurrentLibraryIndex(EngineContext* ctx) {
  // The base frame marks its library -1; code there belongs to the base library.
  const CallFrame* f = CurrentFrame(ctx);
  return f != nullptr && f->library > 0 ? f->library : 0;
}
