// Run-time name resolution: user functions seen from a calling library, class
// methods chosen by object arguments, natives and builtins by name, and calls
// set up by name or by function value without entering the interpreter again:
// a frame is pushed and the program counter moved to the callee's code.
#include "engine/resolution.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>

#include "engine/function.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/registry.h"
#include "engine/values/valuestack.h"

namespace {

// A name copied out of wherever it lives (a symbol, a value on the stack),
// NUL-terminated, so that later pushes and messages cannot disturb it.
struct NameText {
  char text[kMaxFunctionName + 1];
  int length;  // as given: a length over 32 names nothing
};

NameText CopyName(const char* name, int length) {
  NameText n{};
  if (length < 0) length = static_cast<int>(strnlen(name, kMaxFunctionName + 1));
  n.length = length;
  const int k = std::min(length, kMaxFunctionName);
  if (k > 0) std::memcpy(n.text, name, k);
  n.text[k] = 0;
  return n;
}

bool IsValidName(const NameText& n) { return n.length >= 1 && n.length <= kMaxFunctionName; }

SymbolId SymbolOf(EngineContext* ctx, const NameText& n) {
  return IsValidName(n) ? FindSymbol(ctx, n.text, n.length) : 0;
}

// An over-long name stays out of the message: cut, it could read as the name
// of a function that exists.
[[nodiscard]] StatusCode RaiseWithName(EngineContext* ctx, StatusCode code, int64_t count, const NameText& n) {
  return RaiseError(ctx, code, -1, 0, count, n.length <= kMaxFunctionName ? n.text : nullptr);
}

int32_t EntryLibrary(const FunctionStoreEntry* e) {
  return static_cast<int32_t>(static_cast<uint32_t>(e->name) & kLibraryIndexMask);
}

// The libraries searched from one library, as ranks: 0 the library itself,
// then its used libraries from the most recently used, then the base library.
struct SearchOrder {
  int32_t library;
  const int16_t* used;  // slots in use, most recent last
  int32_t usedCount;
  bool base;

  int32_t Rank(int32_t lib) const {
    if (lib == library) return 0;
    for (int32_t k = usedCount - 1; k >= 0; --k)
      if (used[k] == lib) return usedCount - k;
    if (base && lib == 0) return usedCount + 1;
    return -1;
  }
};

// Functions declared without a library (their own source files, names the
// compiler met first at the command line) belong to the base library; code of
// any library must reach them, or a call compiled to one would find nothing
// when it runs.
SearchOrder MakeSearchOrder(EngineContext* ctx, int32_t library, bool useList) {
  SearchOrder o{library, nullptr, 0, false};
  if (!useList) return o;
  o.base = library != 0;
  if (library < 0 || library >= ctx->entriesInUse) return o;
  const FunctionStoreEntry* lib = StoreEntry(ctx, library);
  if (lib->kind != kEntryLibrary || lib->position <= 0) return o;
  const int16_t* list = ctx->codeBase + lib->position;
  o.used = list + list[0];
  while (o.usedCount < list[1] && o.used[o.usedCount] != -1) ++o.usedCount;
  return o;
}

// Hooks and library headers have handlers of other signatures, or none: no
// call by name may reach them.
bool IsCallableRecord(const NativeFunctionRecord& r) {
  return r.name[0] != '+' && r.name[0] != '@' && r.name[0] != '!';
}

bool NativeNameIs(const NativeFunctionRecord& r, const char* name, int length) {
  if (length < 1 || length > kMaxFunctionName) return false;
  return std::memcmp(r.name, name, length) == 0 && (length == kMaxFunctionName || r.name[length] == 0);
}

bool CountAdmits(int32_t count, int32_t n) { return n >= CountMinimum(count) && n <= CountMaximum(count); }

bool IsUserObject(const ValueDescriptor& d) { return d.kind == kComposite && d.extra < 0; }

bool IsParentPart(const CompositeElementHeader& e) { return e.kind == kComposite && e.extra < 0 && e.name == e.extra; }

// Looks for P::name in the parent parts of the object at position, depth
// first in element order; the pending levels wait in the free data space.
[[nodiscard]] StatusCode FindParentMethod(EngineContext* ctx, int position, SymbolId name, int32_t library,
                                          int32_t* entry) {
  *entry = -1;
  Cell* base = ctx->dataBase;
  const int64_t start = DataAt(ctx, position) - base;
  Cell* levels = base + ctx->dataTop;
  const int64_t room = FreeDataCells(ctx);
  int64_t depth = 0;
  auto push = [&](int64_t from, int64_t to) {
    if (depth >= room) return false;
    levels[depth].iw[0] = static_cast<int32_t>(from);
    levels[depth].iw[1] = static_cast<int32_t>(to);
    ++depth;
    return true;
  };
  if (!push(start, start + DescriptorAt(ctx, position)->cells)) return kDataStackFull;
  while (depth > 0) {
    Cell& level = levels[depth - 1];
    const int64_t at = level.iw[0], end = level.iw[1];
    const auto* e = reinterpret_cast<const CompositeElementHeader*>(base + at);
    // Parent parts stand first; the first other element ends the level.
    if (at + kElementHeaderCells > end || !IsParentPart(*e)) {
      --depth;
      continue;
    }
    level.iw[0] = static_cast<int32_t>(at + kElementHeaderCells + e->cells);
    *entry = FindUserFunctionBySymbol(ctx, name, e->extra, false, library, true, nullptr);
    if (*entry >= 0) return kOk;
    if (!push(at + kElementHeaderCells, at + kElementHeaderCells + e->cells)) return kDataStackFull;
  }
  return kOk;
}

// What a name resolved to; everything empty when nothing was found.
struct Resolved {
  int32_t entry = -1;
  SymbolId cls = 0;
  const NativeFunctionRecord* native = nullptr;
  int32_t opcode = 0;
  const BuiltinRecord* builtin = nullptr;

  bool Found() const { return entry >= 0 || native != nullptr || builtin != nullptr; }
};

// Resolution without messages. A native whose counts do not fit leaves its
// code and the failing count in *remembered and *count; a builtin whose
// counts do not fit ends the resolution with 186 or 187.
[[nodiscard]] StatusCode Resolve(EngineContext* ctx, SymbolId s, const NameText& n, int32_t library, int32_t nargin,
                                 int32_t nargout, bool users, bool natives, bool builtins, Resolved* out,
                                 StatusCode* remembered, int32_t* count) {
  if (nargin < 0 || 3 * int64_t{nargin} > ctx->descLength) return kIllegal;

  if (users) {
    int objectAt = -1;
    for (int p = nargin - 1; p >= 0; --p) {
      if (IsUserObject(*DescriptorAt(ctx, p))) {
        objectAt = p;
        out->cls = DescriptorAt(ctx, p)->extra;
        break;
      }
    }
    if (s != 0) {
      int32_t f = -1;
      if (objectAt >= 0) {
        f = FindUserFunctionBySymbol(ctx, s, out->cls, false, library, true, nullptr);
        if (f < 0)
          if (StatusCode st = FindParentMethod(ctx, objectAt, s, library, &f); st != kOk) return st;
      }
      if (f < 0) f = FindUserFunctionBySymbol(ctx, s, 0, false, library, true, nullptr);
      if (f >= 0) {
        // The frame runs in the class of the method found, not of the object:
        // a parent's method reads the parent's part of a child object, and a
        // plain function given an object gets no access to its fields.
        out->entry = f;
        out->cls = StoreEntry(ctx, f)->qualifier;
        return kOk;
      }
    }
  }

  if (natives) {
    int32_t objectClass = 0;
    for (int p = nargin - 1; p >= 0; --p) {
      const ValueDescriptor& d = *DescriptorAt(ctx, p);
      if (d.kind == kBoxed && d.extra >= kFirstNativeClass) {
        objectClass = d.extra;
        break;
      }
    }
    int g = 0;
    for (int i = 0; i < ctx->libraryCount; ++i) {
      const LibraryListEntry& lib = ctx->libraries[i];
      for (int k = 0; k < lib.count; ++k, ++g) {
        const NativeFunctionRecord& r = lib.first[k];
        // A native object asks its own class; class methods never answer a plain call.
        if (objectClass != 0 ? NativeClassIdOf(i, r.kind) != objectClass : r.kind > 0) continue;
        if (!IsCallableRecord(r) || !NativeNameIs(r, n.text, n.length)) continue;
        if (nargin < r.minInputs || (!(r.maxInputs & kAnyCount) && nargin > r.maxInputs)) {
          *remembered = kIncorrectNargin;
          *count = nargin;
          continue;
        }
        if (nargout >= 0 && (nargout < r.minOutputs || (!(r.maxOutputs & kAnyCount) && nargout > r.maxOutputs))) {
          *remembered = kIncorrectNargout;
          *count = nargout;
          continue;
        }
        // The opcode word holds 333 + g as an unsigned 16-bit number.
        if (g > UINT16_MAX - static_cast<int>(Op::kFirstNativeOpcode)) return kNotSupported;
        out->native = &r;
        out->opcode = static_cast<int32_t>(Op::kFirstNativeOpcode) + g;
        return kOk;
      }
    }
  }

  if (builtins && IsValidName(n)) {
    if (const BuiltinRecord* b = FindBuiltin(n.text, n.length)) {
      if (!CountAdmits(b->inputs, nargin)) return kIncorrectNargin;
      if (nargout >= 0 && !CountAdmits(b->outputs, nargout)) return kIncorrectNargout;
      out->builtin = b;
      out->opcode = b->id;
    }
  }
  return kOk;
}

// Runs a native or builtin from a few code words on the data stack: its
// instruction, the no-value marker for a statement call without result, and
// the end of code, under a frame of its own whose values are the trampoline
// and the arguments. Results beyond the h wanted lie under them (the first
// result ends on top), so a drop would lose a wanted one: the end of the
// frame keeps the top h values and drops the rest with the trampoline.
[[nodiscard]] StatusCode EnterTrampoline(EngineContext* ctx, const Resolved& r, int32_t library, int32_t nargin,
                                         int32_t nargout, bool link, bool reentry) {
  int32_t minOut = 0, maxOut = 0;
  bool inOperand = true, outOperand = true;
  if (r.native != nullptr) {
    minOut = r.native->minOutputs;
    maxOut = (r.native->maxOutputs & kAnyCount) ? INT32_MAX : r.native->maxOutputs;
  } else {
    minOut = CountMinimum(r.builtin->outputs);
    maxOut = CountMaximum(r.builtin->outputs);
    inOperand = IsVariableCount(r.builtin->inputs);
    outOperand = IsVariableCount(r.builtin->outputs);
  }
  // h results are wanted; the instruction is asked for `given` of them.
  const int32_t h = nargout >= 0 ? nargout : (minOut >= 1 ? 1 : 0);
  if (h > maxOut) return kTooManyArgout;
  const int32_t given = std::max(h, minOut);
  const bool marker = nargout < 0 && h == 0;
  const int32_t words = 1 + (inOperand ? 1 : 0) + (outOperand ? 1 : 0) + (marker ? 1 : 0) + 1;
  const int32_t cells = (words + 3) / 4;

  // Room for the frame and the trampoline before anything changes.
  if (int64_t{ctx->descLength} + kFrameHeaderWords + 3 >= ctx->descCapacity) return kDescStackFull;
  if (cells >= FreeDataCells(ctx)) return kDataStackFull;
  if (StatusCode st = EnterFunctionFrame(ctx, link ? &ctx->pc : nullptr, nullptr, library, 0, nargout < 0 ? 1 : h,
                                         nargin, false, false, reentry);
      st != kOk)
    return st;
  Cell* data = nullptr;
  (void)PushValue(ctx, 0, cells, cells, Room::kStrict, &data);  // room was checked above
  std::memset(data, 0, int64_t{cells} * sizeof(Cell));
  auto* w = reinterpret_cast<int16_t*>(data);
  int32_t k = 0;
  w[k++] = static_cast<int16_t>(static_cast<uint16_t>(r.opcode));
  if (inOperand) w[k++] = static_cast<int16_t>(nargin);
  if (outOperand) w[k++] = static_cast<int16_t>(given);
  if (marker) w[k++] = static_cast<int16_t>(Op::PushVoid);
  w[k++] = static_cast<int16_t>(Op::EndOfCode);
  (void)RotateValues(ctx, nargin + 1, nargin);

  ctx->pc.space = kDataStackCode;
  ctx->pc.safe = 0;
  ctx->pc.offset = static_cast<int32_t>((DataAt(ctx, nargin) - ctx->dataBase) * int64_t{sizeof(Cell)});
  ctx->errorPosition = -1;
  ctx->errorFunction = -1;
  return kOk;
}

[[nodiscard]] StatusCode SetUpCall(EngineContext* ctx, SymbolId s, const NameText& n, int32_t library, int32_t nargin,
                                   int32_t nargout, bool userOnly, bool skipUser, bool link, bool reentry) {
  Resolved r;
  StatusCode remembered = kOk;
  int32_t count = -1;
  if (StatusCode st =
          Resolve(ctx, s, n, library, nargin, nargout, !skipUser, !userOnly, !userOnly, &r, &remembered, &count);
      st != kOk)
    return st;
  if (r.entry >= 0) return EnterUserFunction(ctx, r.entry, r.cls, nargin, nargout, link, reentry);
  if (userOnly) return RaiseWithName(ctx, kUndefFunOrVar, -1, n);
  if (!r.Found())
    return remembered != kOk ? RaiseWithName(ctx, remembered, count, n) : RaiseWithName(ctx, kUndefFun, -1, n);
  return EnterTrampoline(ctx, r, library, nargin, nargout, link, reentry);
}

// Enters the inline function at position: a copy goes under the arguments
// and becomes the frame's first value, whose code then runs.
[[nodiscard]] StatusCode EnterInlineFunction(EngineContext* ctx, int position, int32_t library, int32_t nargin,
                                             int32_t nargout, bool reentry) {
  if (StatusCode st = DuplicateValues(ctx, position, 1); st != kOk) return st;
  (void)RotateValues(ctx, nargin + 1, nargin);
  if (StatusCode st = EnterFunctionFrame(ctx, &ctx->pc, nullptr, library, 0, nargout, nargin, true, false, reentry);
      st != kOk) {
    (void)DropArgsUnderResults(ctx, nargin, 1);
    return st;
  }
  const int16_t* code = nullptr;
  // The copy made above is the frame's first value, on top.
  (void)GetInlineFunctionParts(ctx, 0, &code, nullptr, nullptr, nullptr);
  const auto* header = reinterpret_cast<const CompiledFunctionHeader*>(code);
  CallFrame* f = CurrentFrame(ctx);
  if (header->flags & kHeaderTrusted)
    f->sandboxed = 0;
  else if (header->flags & kHeaderSandboxed)
    f->sandboxed = 1;
  ctx->pc.space = kDataStackCode;
  ctx->pc.safe = 0;
  ctx->pc.offset = static_cast<int32_t>(reinterpret_cast<const char*>(FunctionCode(header)) -
                                        reinterpret_cast<const char*>(ctx->dataBase));
  return kOk;
}

const int16_t* ReferenceWords(EngineContext* ctx, int position) {
  return reinterpret_cast<const int16_t*>(DataAt(ctx, position));
}

template <class T>
void Put(T* out, T value) {
  if (out != nullptr) *out = value;
}

// The counts of a name (with qualifier text, or none: the name may read
// "class::name") as ResolveFunctionName answers them.
[[nodiscard]] StatusCode ResolveCounts(EngineContext* ctx, const char* name, int length, const char* qualifier,
                                       int qualifierLength, int32_t library, bool useList, int32_t* inputs,
                                       int32_t* outputs, bool* varargin, bool* varargout) {
  int32_t entry = qualifier != nullptr
                      ? FindUserFunction(ctx, name, length, qualifier, qualifierLength, library, useList, nullptr)
                      : FindUserFunctionByName(ctx, name, length, library);
  if (entry == kBadArg) entry = -1;
  if (entry >= 0) {
    if (StoreEntry(ctx, entry)->position <= 0)
      if (StatusCode st = CompileStoredFunction(ctx, entry, nullptr, 0, false, 1); st != kOk) return st;
    const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + StoreEntry(ctx, entry)->position);
    Put(inputs, int32_t{h->inputs});
    Put(outputs, int32_t{h->outputs});
    Put(varargin, (h->flags & kHeaderVarargin) != 0);
    Put(varargout, (h->flags & kHeaderVarargout) != 0);
    return kOk;
  }
  const NameText n = CopyName(name, length);
  if (IsValidName(n)) {
    if (const NativeFunctionRecord* r = FindNativeFunction(ctx, n.text, nullptr, 0, nullptr)) {
      // The any bit is the variable-count flag; the rest of the byte the count.
      Put(inputs, int32_t{r->maxInputs} & ~int32_t{kAnyCount});
      Put(outputs, int32_t{r->maxOutputs} & ~int32_t{kAnyCount});
      Put(varargin, (r->maxInputs & kAnyCount) != 0);
      Put(varargout, (r->maxOutputs & kAnyCount) != 0);
      return kOk;
    }
    if (const BuiltinRecord* b = FindBuiltin(n.text, n.length)) {
      Put(inputs, CountMaximum(b->inputs));
      Put(outputs, CountMaximum(b->outputs));
      Put(varargin, false);
      Put(varargout, false);
      return kOk;
    }
  }
  return RaiseWithName(ctx, kUndefFunOrVar, -1, n);
}

}  // namespace

// Pushes the user function's frame and points the program counter at its
// first instruction. A host's call (no link) that fails leaves no position.
StatusCode EnterUserFunction(EngineContext* ctx, int32_t entry, SymbolId cls, int32_t nargin, int32_t nargout,
                             bool link, bool reentry) {
  auto fail = [&](StatusCode st) {
    if (!link) ctx->pc.space = kNoCode;
    return st;
  };
  if (StoreEntry(ctx, entry)->position <= 0) {
    if (StatusCode st = CompileStoredFunction(ctx, entry, nullptr, 0, false, 1); st != kOk) return fail(st);
  }
  const FunctionStoreEntry* e = StoreEntry(ctx, entry);
  if (e->position <= 0) {
    return fail(RaiseWithName(ctx, kUndefFun, -1, CopyName(SymbolText(ctx, e->kind), SymbolLength(ctx, e->kind))));
  }
  const auto* header = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + e->position);
  if (StatusCode st = EnterFunctionFrame(ctx, link ? &ctx->pc : nullptr, header, EntryLibrary(e), cls, nargout, nargin,
                                         false, false, reentry);
      st != kOk)
    return fail(st);
  CallFrame* f = CurrentFrame(ctx);
  if (header->flags & kHeaderTrusted)
    f->sandboxed = 0;
  else if (header->flags & kHeaderSandboxed)
    f->sandboxed = 1;
  ctx->pc.space = kCodeArea;
  ctx->pc.safe = 0;
  ctx->pc.offset = 2 * (e->position + HeaderWords(header));
  return kOk;
}

// ---------------------------------------------------------------------------
// User functions.

int32_t FindUserFunctionBySymbol(EngineContext* ctx, SymbolId name, SymbolId qualifier, bool anyQualifier,
                                 int32_t library, bool useList, SymbolId* qualifierOut) {
  if (name >= 0) return -1;
  const SearchOrder order = MakeSearchOrder(ctx, library, useList);
  int32_t best = -1, bestRank = INT32_MAX;
  // One pass over the table: the best-ranked library wins, the first entry
  // in table order within it.
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind != name) continue;
    // A constructor class::class is found by the class name alone.
    if (!anyQualifier && e->qualifier != qualifier && e->qualifier != name) continue;
    const uint32_t word = static_cast<uint32_t>(e->name);
    const int32_t rank = order.Rank(static_cast<int32_t>(word & kLibraryIndexMask));
    if (rank < 0 || rank >= bestRank) continue;
    if (rank > 0 && (word & kLibraryPrivate) != 0 && !ctx->ignorePrivate) continue;
    best = i;
    bestRank = rank;
    if (rank == 0) break;
  }
  if (best >= 0 && qualifierOut != nullptr) *qualifierOut = StoreEntry(ctx, best)->qualifier;
  return best;
}

int32_t FindUserFunction(EngineContext* ctx, const char* name, int nameLength, const char* qualifier,
                         int qualifierLength, int32_t library, bool useList, SymbolId* qualifierOut) {
  if (nameLength < 1 || nameLength > kMaxFunctionName) return -1;
  const SymbolId s = FindSymbol(ctx, name, nameLength);
  if (s == 0) return -1;
  SymbolId q = 0;
  if (qualifierLength > 0) {
    if (qualifierLength > kMaxFunctionName) return -1;
    q = FindSymbol(ctx, qualifier, qualifierLength);
    if (q == 0) return -1;
  }
  return FindUserFunctionBySymbol(ctx, s, q, qualifierLength < 0, library, useList, qualifierOut);
}

int32_t FindUserFunctionByName(EngineContext* ctx, const char* text, int length, int32_t library) {
  int n = 0;
  while ((length < 0 || n < length) && text[n] != 0) ++n;
  const auto* colon = static_cast<const char*>(std::memchr(text, ':', n));
  if (colon == nullptr) return FindUserFunction(ctx, text, n, nullptr, 0, library, true, nullptr);
  const int q = static_cast<int>(colon - text);
  if (q + 1 >= n || text[q + 1] != ':') return kBadArg;
  return FindUserFunction(ctx, text + q + 2, n - q - 2, text, q, library, true, nullptr);
}

// ---------------------------------------------------------------------------
// Natives.

const NativeFunctionRecord* FindNativeFunction(EngineContext* ctx, const char* name, const NativeFunctionRecord* after,
                                               int32_t classKey, int32_t* global) {
  const int length = static_cast<int>(strnlen(name, kMaxFunctionName + 1));
  const int32_t key = classKey < 0 ? -classKey : classKey;
  bool passed = after == nullptr;
  int g = 0;
  for (int i = 0; i < ctx->libraryCount; ++i) {
    const LibraryListEntry& lib = ctx->libraries[i];
    for (int k = 0; k < lib.count; ++k, ++g) {
      const NativeFunctionRecord& r = lib.first[k];
      if (!passed) {
        passed = &r == after;
        continue;
      }
      if (!NativeNameIs(r, name, length)) continue;
      if (key != 0 && NativeClassIdOf(i, r.kind) != key) continue;
      Put(global, int32_t{g});
      return &r;
    }
  }
  return nullptr;
}

const char* GetNativeLibraryName(EngineContext* ctx, const NativeFunctionRecord* record) {
  for (int i = 0; i < ctx->libraryCount; ++i) {
    const LibraryListEntry& lib = ctx->libraries[i];
    const std::less<const NativeFunctionRecord*> before;
    if (before(record, lib.first) || !before(record, lib.first + lib.count)) continue;
    for (const NativeFunctionRecord* r = record - 1; r >= lib.first; --r)
      if (r->name[0] == '@' || r->name[0] == '!') return r->name + 1;
    return nullptr;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Resolution.

StatusCode ResolveFunctionName(EngineContext* ctx, const char* name, const char* qualifier, int32_t library,
                               bool useList, int32_t* inputs, int32_t* outputs, bool* varargin, bool* varargout) {
  const int length = static_cast<int>(std::strlen(name));
  const int qualifierLength = qualifier != nullptr ? static_cast<int>(std::strlen(qualifier)) : 0;
  return ResolveCounts(ctx, name, length, qualifier, qualifierLength, library, useList, inputs, outputs, varargin,
                       varargout);
}

StatusCode ResolveFunctionWithOverloading(EngineContext* ctx, const char* name, int length, int32_t library,
                                          int32_t nargin, int32_t nargout, int32_t* entry, SymbolId* cls,
                                          const NativeFunctionRecord** native, int32_t* opcode,
                                          const BuiltinRecord** builtin) {
  const NameText n = CopyName(name, length);
  Resolved r;
  StatusCode remembered = kOk;
  int32_t count = -1;
  const StatusCode st = Resolve(ctx, SymbolOf(ctx, n), n, library, nargin, nargout, entry != nullptr, native != nullptr,
                                builtin != nullptr, &r, &remembered, &count);
  Put(entry, r.entry);
  Put(cls, r.cls);
  Put(native, r.native);
  Put(opcode, r.opcode);
  Put(builtin, r.builtin);
  if (st != kOk || r.Found()) return st;
  return remembered != kOk ? RaiseWithName(ctx, remembered, count, n) : RaiseWithName(ctx, kUndefFun, -1, n);
}

StatusCode ResolveFunctionArgument(EngineContext* ctx, int position, SymbolId qualifier, int32_t library,
                                   int32_t* inputs, int32_t* outputs) {
  if (position < 0 || 3 * (int64_t{position} + 1) > ctx->descLength) return kIllegal;
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind == kBoxed && d.extra == kInlineFunction) {
    const int16_t* code = nullptr;
    if (StatusCode st = GetInlineFunctionParts(ctx, position, &code, nullptr, nullptr, nullptr); st != kOk) return st;
    const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(code);
    const bool define = (h->flags & kHeaderDefine) != 0;
    Put(inputs, define ? 0 : int32_t{h->inputs});
    Put(outputs, define ? 1 : int32_t{h->outputs});
    return kOk;
  }
  if (d.kind == kBoxed && d.extra == kFunctionRef) {
    const char* text = nullptr;
    int length = 0;
    GetFunctionReferenceName(ctx, DataAt(ctx, position), &text, &length);
    const NameText n = CopyName(text, length);
    return ResolveCounts(ctx, n.text, n.length, nullptr, 0, ReferenceWords(ctx, position)[1], true, inputs, outputs,
                         nullptr, nullptr);
  }
  char name[kMaxFunctionName + 1] = {};
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, position, name, kMaxFunctionName, &length);
  if (st == kObjTooLarge) return RaiseError(ctx, kUndefFun, -1, 0, -1, nullptr);
  if (st != kOk) return st;
  const char* q = qualifier != 0 ? SymbolText(ctx, qualifier) : nullptr;
  const int qLength = qualifier != 0 ? SymbolLength(ctx, qualifier) : 0;
  return ResolveCounts(ctx, name, static_cast<int>(length), q, qLength, library, true, inputs, outputs, nullptr,
                       nullptr);
}

// ---------------------------------------------------------------------------
// Calls.

StatusCode CallFunctionByName(EngineContext* ctx, const char* name, int32_t length, int32_t library, int32_t nargin,
                              int32_t nargout, bool userOnly, bool skipUser, bool linkToCaller) {
  return CallFunctionByNameForNative(ctx, name, length, library, nargin, nargout, userOnly, skipUser, linkToCaller,
                                     false);
}

StatusCode CallFunctionByNameForNative(EngineContext* ctx, const char* name, int32_t length, int32_t library,
                                       int32_t nargin, int32_t nargout, bool userOnly, bool skipUser, bool linkToCaller,
                                       bool reentry) {
  const NameText n = CopyName(name, length);
  return SetUpCall(ctx, SymbolOf(ctx, n), n, library, nargin, nargout, userOnly, skipUser, linkToCaller, reentry);
}

StatusCode CallFunctionBySymbol(EngineContext* ctx, SymbolId name, int32_t library, int32_t nargin, int32_t nargout,
                                bool userOnly, bool skipUser, bool linkToCaller) {
  const NameText n = CopyName(SymbolText(ctx, name), SymbolLength(ctx, name));
  return SetUpCall(ctx, name, n, library, nargin, nargout, userOnly, skipUser, linkToCaller, false);
}

StatusCode CallFunctionValue(EngineContext* ctx, int position, int32_t nargin, int32_t nargout, bool reentry) {
  if (ctx->breakPending) return kHalted;
  if (position < 0 || nargin < 0 || 3 * (int64_t{position} + 1) > ctx->descLength) return kIllegal;
  const int32_t library = GetCurrentLibraryIndex(ctx);
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (d.kind == kBoxed && d.extra == kInlineFunction)
    return EnterInlineFunction(ctx, position, library, nargin, nargout, reentry);
  if (d.kind == kBoxed && d.extra == kFunctionRef) {
    const char* text = nullptr;
    int length = 0;
    GetFunctionReferenceName(ctx, DataAt(ctx, position), &text, &length);
    const NameText n = CopyName(text, length);
    return SetUpCall(ctx, SymbolOf(ctx, n), n, ReferenceWords(ctx, position)[1], nargin, nargout, false, false, true,
                     reentry);
  }
  char name[kMaxFunctionName + 1] = {};
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, position, name, kMaxFunctionName, &length);
  if (st == kObjTooLarge) return RaiseError(ctx, kFunNotFound, -1, 0, -1, nullptr);
  if (st != kOk) return st;
  if (length == 0) return RaiseError(ctx, kNullName, -1, 0, -1, nullptr);
  return CallFunctionByNameForNative(ctx, name, static_cast<int32_t>(length), library, nargin, nargout, false, false,
                                     true, reentry);
}

StatusCode FindReentryState(EngineContext* ctx, int32_t nargin, int32_t results, int64_t cells, double** state) {
  if (nargin >= 0 || ~nargin != results) return kIncorrectNargout;
  if (3 * (int64_t{results} + 1) > ctx->descLength) return kWrongTypeInternal;
  int32_t m = 0, n = 0;
  double* re = nullptr;
  double* im = nullptr;
  if (GetDoubleMatrixArg(ctx, results, &m, &n, &re, &im) != kOk || im != nullptr || int64_t{m} * n != cells)
    return kWrongTypeInternal;
  *state = re;
  return kOk;
}

// ---------------------------------------------------------------------------
// Function references.

StatusCode PushFunctionReference(EngineContext* ctx, const char* name, int length, int32_t library) {
  if (length < 0) length = static_cast<int>(std::strlen(name));
  if (length > INT16_MAX) return kNameTooLong;
  void* payload = nullptr;
  if (StatusCode st = PushBoxedValue(ctx, kFunctionRef, 4 + int64_t{length} + 1, &payload); st != kOk) return st;
  auto* words = static_cast<int16_t*>(payload);
  words[0] = static_cast<int16_t>(length);
  words[1] = static_cast<int16_t>(library);
  char* text = reinterpret_cast<char*>(words + 2);
  // The name may lie just below the new value; the copy runs upwards.
  std::memmove(text, name, length);
  text[length] = 0;
  return kOk;
}

void GetFunctionReferenceName(EngineContext*, const void* payload, const char** name, int* length) {
  const auto* words = static_cast<const int16_t*>(payload);
  Put(length, int{words[0]});
  Put(name, reinterpret_cast<const char*>(words + 2));
}

// ---------------------------------------------------------------------------
// exist

StatusCode ExistBuiltin(EngineContext* ctx, int nargin) {
  if (nargin < 1 || nargin > 2 || 3 * int64_t{nargin} > ctx->descLength) return kIncorrectNargin;
  char kind = 0;
  if (nargin == 2) {
    if (!IsCharArg(ctx, 0)) return kWrongType;
    const ArrayView a = ReadArray(DataAt(ctx, 0));
    if (a.count > 0) kind = static_cast<char>(reinterpret_cast<const uint16_t*>(a.data)[0] & 0xFF);
  }
  const bool all = kind != 'v' && kind != 'f' && kind != 'b';

  char name[kMaxFunctionName + 1] = {};
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, nargin - 1, name, kMaxFunctionName, &length);
  if (st == kWrongTypeInternal) return kWrongType;
  bool found = false;
  if (st == kOk && length >= 1) {
    const int n = static_cast<int>(length);
    if (all || kind == 'v') {
      // Only a variable that holds a value exists; a slot of a name that was
      // never assigned or was cleared does not.
      CallFrame* f = FindScopeFrame(ctx);
      for (int32_t i = 0, count = f ? FrameSlotCount(f) : 0; i < count && !found; ++i) {
        const char* slotName = GetVariableName(ctx, i);
        found = slotName != nullptr && VariableNameLength(slotName) == n && std::memcmp(slotName, name, n) == 0 &&
                VariableValueBlock(ctx, FrameSlots(f)[i]) > 0;
      }
    }
    if (!found && (all || kind == 'f')) {
      const int32_t f = FindUserFunction(ctx, name, n, nullptr, 0, GetCurrentLibraryIndex(ctx), true, nullptr);
      found = f >= 0 && StoreEntry(ctx, f)->position > 0;
    }
    if (!found && (all || kind == 'b'))
      found = FindNativeFunction(ctx, name, nullptr, 0, nullptr) != nullptr || FindBuiltin(name, n) != nullptr;
  }
  if (StatusCode push = PushLogicalScalar(ctx, found ? 1 : 0); push != kOk) return push;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode OpExist(EngineContext* ctx, const int16_t* ins) { return ExistBuiltin(ctx, ins[1]); }
