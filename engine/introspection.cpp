// What a program can ask the engine about itself: its features, version and
// sizes, the variables, functions, libraries and threads it holds, and where
// a name comes from.
#include <cstring>

#include "engine/bytecode.h"
#include "engine/errors.h"
#include "engine/frames.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/libraries.h"
#include "engine/registry.h"
#include "engine/resolution.h"
#include "engine/threads.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"
#include "engine/variableaccess.h"

namespace {

// A name argument, NUL-terminated; too long a name is none the engine holds.
[[nodiscard]] StatusCode NameArg(EngineContext* ctx, char (&name)[kMaxFunctionName * 3 + 3], int* length) {
  int64_t n = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, 0, name, sizeof name - 1, &n);
  if (st == kObjTooLarge) {
    n = 0;
  } else if (st != kOk) {
    return ReportedStatus(st);
  }
  name[n] = 0;
  *length = static_cast<int>(n);
  return kOk;
}

// The slot of a named variable of the frame in scope, or -1.
int32_t FindScopeVariable(EngineContext* ctx, CallFrame* f, const char* name, int length) {
  if (f == nullptr || length == 0 || length > kVariableNameBytes) return -1;
  for (int32_t i = 0; i < FrameSlotCount(f); ++i) {
    const char* known = GetVariableName(ctx, i);
    if (known != nullptr && VariableNameLength(known) == length && std::memcmp(known, name, length) == 0) return i;
  }
  return -1;
}

// The store entry of the global or persistent a slot links to, else 0.
int32_t LinkedEntry(EngineContext* ctx, CallFrame* f, int32_t i) {
  const int32_t b = FrameSlots(f)[i];
  if (b <= 0 || b >= ctx->heapSize || (ctx->heapBase[b].w[0] & kLink) == 0) return 0;
  const int32_t e = ctx->heapBase[b + kVariableHeaderCells + 1].iw[0];
  if (e <= 0 || e >= ctx->entriesInUse || StoreEntry(ctx, e)->kind != kEntryVariable) return 0;
  return e;
}

}  // namespace

StatusCode HasFeatureNative(EngineContext* ctx, int nargin, int nargout, void* userData) {
  if (nargin != 1) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  char name[64];
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length);
  if (st != kOk && st != kObjTooLarge) return ReportedStatus(st);
  bool found = false;
  // The list holds one name a line; a name longer than the buffer is none of them.
  for (const char* line = static_cast<const char*>(userData); st == kOk && line != nullptr && *line != 0 && !found;) {
    const char* end = std::strchr(line, '\n');
    const size_t n = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
    found = n == static_cast<size_t>(length) && std::memcmp(line, name, n) == 0;
    line = end != nullptr ? end + 1 : nullptr;
  }
  if (nargout == 0) return DropArgsUnderResults(ctx, 0, nargin);
  if (StatusCode s = PushLogicalScalar(ctx, found ? 1 : 0); s != kOk) return s;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode WhichNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin != 1) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  char name[kMaxFunctionName * 3 + 3];
  int length = 0;
  if (StatusCode st = NameArg(ctx, name, &length); st != kOk) return st;
  char answer[120];
  int at = 0;
  CallFrame* scope = FindScopeFrame(ctx);
  if (const int32_t v = FindScopeVariable(ctx, scope, name, length); v >= 0 && FrameSlots(scope)[v] > 0) {
    AppendChars(answer, &at, "(var)/", 6, sizeof answer);
    AppendChars(answer, &at, name, length, sizeof answer);
  } else if (length > 0) {
    const CallFrame* top = CurrentFrame(ctx);
    // A lone ':' names no function; the answer is then none.
    const auto* colon = static_cast<const char*>(std::memchr(name, ':', length));
    const bool plain = colon == nullptr || (colon + 2 < name + length && colon[1] == ':');
    const int32_t entry = plain ? FindUserFunctionByName(ctx, name, length, top != nullptr ? top->library : 0) : -1;
    int cursor = -1;
    NativeRef ref{};
    if (entry >= 0) {
      FormatQualifiedFunctionName(ctx, entry, answer, sizeof answer, &at);
    } else if (FindNextNamedRecord(ctx, name, &cursor, &ref) != nullptr || FindBuiltin(name, length) != nullptr) {
      AppendChars(answer, &at, "(native)/", 9, sizeof answer);
      AppendChars(answer, &at, name, length, sizeof answer);
    }
  }
  if (StatusCode st = PushStringFromBytes(ctx, at, answer); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode IsGlobalNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin != 1) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  char name[kMaxFunctionName * 3 + 3];
  int length = 0;
  if (StatusCode st = NameArg(ctx, name, &length); st != kOk) return st;
  CallFrame* scope = FindScopeFrame(ctx);
  const int32_t v = FindScopeVariable(ctx, scope, name, length);
  const int32_t entry = v >= 0 ? LinkedEntry(ctx, scope, v) : 0;
  // A persistent's link names its owning function; a global's none.
  const bool global = entry > 0 && StoreEntry(ctx, entry)->qualifier < 0;
  if (StatusCode st = PushLogicalScalar(ctx, global ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

namespace {

// One item of a listing: a line on descriptor 1, or with an output a name
// string or a structure appended to the list being collected.
struct Field {
  const char* name;
  const char* text;  // null: the number below
  int length;
  double number;
  bool logical;
};

Field Text(const char* name, const char* text, int length = -1) {
  return {name, text, length < 0 ? static_cast<int>(std::strlen(text)) : length, 0, false};
}
Field Number(const char* name, double x) { return {name, nullptr, 0, x, false}; }
Field Logical(const char* name, bool b) { return {name, nullptr, 0, b ? 1.0 : 0.0, true}; }

struct Listing {
  EngineContext* ctx;
  bool collect;
  bool structs;

  [[nodiscard]] StatusCode Item(const char* line, int length, const Field* fields, int n) const {
    if (!collect) {
      if (StatusCode st = WriteToDescriptor(ctx, kStdoutDescriptor, line, length); st != kOk) return st;
      return WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
    }
    if (!structs) {
      if (StatusCode st = PushStringFromBytes(ctx, length, line); st != kOk) return st;
      return MakeListFromValues(ctx, 1, true, nullptr, 0);
    }
    if (StatusCode st = MakeListFromValues(ctx, 0, false, "", 0); st != kOk) return st;
    for (int k = 0; k < n; ++k) {
      const Field& f = fields[k];
      StatusCode st = f.text != nullptr ? PushStringFromBytes(ctx, f.length, f.text)
                      : f.logical       ? PushLogicalScalar(ctx, f.number != 0 ? 1 : 0)
                                        : PushRealScalar(ctx, f.number);
      if (st == kOk) st = MakeListFromValues(ctx, 1, true, f.name, static_cast<int>(std::strlen(f.name)));
      if (st != kOk) return st;
    }
    return MakeListFromValues(ctx, 1, true, nullptr, 0);
  }
};

// The words of a variable's description, after "name (".
int DescribeVariable(EngineContext* ctx, CallFrame* f, int32_t i, char* out, int size) {
  int at = 0;
  auto put = [&](const char* s) { AppendChars(out, &at, s, static_cast<int>(std::strlen(s)), size); };
  auto number = [&](int64_t n) { FormatDecimal64(out, &at, n, size); };
  const int32_t linked = LinkedEntry(ctx, f, i);
  if (linked > 0 && StoreEntry(ctx, linked)->qualifier < 0) {
    put("global");
    return at;
  }
  int32_t block = FrameSlots(f)[i];
  if (linked > 0) block = StoreEntry(ctx, linked)->position;
  if (block <= 0 || block >= ctx->heapSize) {
    put("not defined");
    return at;
  }
  const ValueDescriptor d = VariableDescriptor(ctx, block);
  Cell* payload = ctx->heapBase + block + kVariableHeaderCells;
  if (d.kind & kVoid) {
    put("not defined");
  } else if (d.kind & kComposite) {
    if (d.extra == kStruct || d.extra == kStructArray) {
      put("struct size=");
    } else if (d.extra < 0) {
      put("object class=");
      AppendChars(out, &at, SymbolText(ctx, d.extra), SymbolLength(ctx, d.extra), size);
      put(" size=");
    } else if (d.extra == kList) {
      put("list length=");
      number(CountElementsIn(reinterpret_cast<CompositeElementHeader*>(payload), d.cells));
      put(" size=");
    } else {
      put("binary data size=");
    }
    number(d.cells);
  } else if (d.kind & kBoxed) {
    const uint32_t cls = payload[0].w[0];
    const int64_t ndims = payload[0].w[1];
    switch (d.extra) {
      case kInlineFunction:
        put("inline function size=");
        number(d.cells);
        break;
      case kNumericArray:
        put("array ndim=");
        number(ndims);
        if (cls == kComplexDouble) put(" complex");
        break;
      case kCharArray:
        put("char array ndim=");
        number(ndims);
        break;
      case kLogicalArray:
        put("logical array ndim=");
        number(ndims);
        break;
      default:
        put("binary data size=");
        number(d.cells);
        break;
    }
  } else if (d.kind & (kLink | kTagged)) {
    put("binary data size=");
    number(d.cells);
  } else {
    number(PlainRows(d));
    put("x");
    number(d.extra);
    if (d.kind & kComplex) put(" complex");
  }
  return at;
}

[[nodiscard]] StatusCode ListScopeVariables(EngineContext* ctx, const Listing& out) {
  CallFrame* f = FindScopeFrame(ctx);
  bool any = false;
  for (int32_t i = 0; f != nullptr && i < FrameSlotCount(f); ++i) {
    const char* name = GetVariableName(ctx, i);
    if (name == nullptr || name[0] == 0) continue;
    const int length = VariableNameLength(name);
    any = true;
    char line[160];
    int at = 0;
    AppendChars(line, &at, name, length, sizeof line);
    AppendChars(line, &at, " (", 2, sizeof line);
    char words[100];
    const int n = DescribeVariable(ctx, f, i, words, sizeof words);
    AppendChars(line, &at, words, n, sizeof line);
    AppendChars(line, &at, ")", 1, sizeof line);
    const bool defined = n != 11 || std::memcmp(words, "not defined", 11) != 0;
    const Field fields[] = {Text("name", name, length), Logical("defined", defined)};
    if (StatusCode st = out.Item(line, at, fields, 2); st != kOk) return st;
  }
  if (!any && !out.collect) return out.Item("No variable", 11, nullptr, 0);
  return kOk;
}

// Modes f, m and I: user functions without a qualifier, with one, or the
// compiled ones of either kind.
[[nodiscard]] StatusCode ListFunctions(EngineContext* ctx, const Listing& out, char mode) {
  for (int32_t e = 1; e < ctx->entriesInUse; ++e) {
    const FunctionStoreEntry* entry = StoreEntry(ctx, e);
    if (entry->kind >= 0) continue;
    const bool method = entry->qualifier < 0;
    const bool loaded = entry->position > 0;
    if ((mode == 'f' && method) || (mode == 'm' && !method) || (mode == 'I' && !loaded)) continue;
    char name[100];
    int n = 0;
    FormatQualifiedFunctionName(ctx, e, name, sizeof name, &n);
    char line[104];
    int at = 0;
    const bool parens = mode != 'I' && !loaded;
    if (parens) line[at++] = '(';
    AppendChars(line, &at, name, n, sizeof line);
    if (parens) AppendChars(line, &at, ")", 1, sizeof line);
    const char* library = "";
    int libraryLength = 0;
    const auto libraryIndex = static_cast<int32_t>(static_cast<uint32_t>(entry->name) & kLibraryIndexMask);
    if (libraryIndex != 0) GetFunctionNameByIndex(ctx, libraryIndex, &library, &libraryLength);
    const char* plain = nullptr;
    int plainLength = 0;
    GetFunctionNameByIndex(ctx, e, &plain, &plainLength);
    const char* cls = method ? SymbolText(ctx, entry->qualifier) : "";
    const int clsLength = method ? SymbolLength(ctx, entry->qualifier) : 0;
    Field fields[4];
    int k = 0;
    fields[k++] = Text("library", library, libraryLength);
    if (mode != 'f') fields[k++] = Text("class", cls, clsLength);
    fields[k++] = Text("name", plain, plainLength);
    if (mode != 'I') fields[k++] = Logical("loaded", loaded);
    if (StatusCode st = out.Item(line, at, fields, k); st != kOk) return st;
  }
  return kOk;
}

// Modes l, g, p and u: names of libraries or variables of the store.
[[nodiscard]] StatusCode ListStoreNames(EngineContext* ctx, const Listing& out, char mode) {
  const CallFrame* top = CurrentFrame(ctx);
  const int32_t own = top != nullptr ? top->library : 0;
  for (int32_t e = 1; e < ctx->entriesInUse; ++e) {
    const FunctionStoreEntry* entry = StoreEntry(ctx, e);
    const char* name = nullptr;
    int n = 0;
    if (mode == 'l' || mode == 'u') {
      if (entry->kind != kEntryLibrary) continue;
      if (mode == 'u' && !IsLibraryInUseList(ctx, own, e)) continue;
      GetFunctionNameByIndex(ctx, e, &name, &n);
    } else {
      // A persistent's owner is its function's entry; a global has none.
      if (entry->kind != kEntryVariable || (entry->qualifier < 0) != (mode == 'g')) continue;
      name = SymbolText(ctx, entry->name);
      n = SymbolLength(ctx, entry->name);
    }
    if (name == nullptr || n == 0) continue;
    if (StatusCode st = out.Item(name, n, nullptr, 0); st != kOk) return st;
  }
  return kOk;
}

// Modes b and o: the builtins, then the natives of every library.
[[nodiscard]] StatusCode ListBuiltins(EngineContext* ctx, const Listing& out, bool withLibrary) {
  const char* library = nullptr;
  bool sandboxAllowed = false;
  for (int k = 0; const char* name = GetBuiltinNameByIndex(ctx, k, false, &library, &sandboxAllowed); ++k) {
    char line[120];
    int at = 0;
    if (withLibrary) {
      AppendChars(line, &at, library, static_cast<int>(std::strlen(library)), sizeof line);
      AppendChars(line, &at, "/", 1, sizeof line);
    }
    AppendChars(line, &at, name, static_cast<int>(strnlen(name, 64)), sizeof line);
    if (!sandboxAllowed) AppendChars(line, &at, " u", 2, sizeof line);
    const Field fields[] = {Text("name", name, static_cast<int>(strnlen(name, 64))), Text("module", library),
                            Logical("trusted", sandboxAllowed)};
    if (StatusCode st = out.Item(line, at, fields, 3); st != kOk) return st;
  }
  return kOk;
}

[[nodiscard]] StatusCode ListThreads(EngineContext* ctx, const Listing& out) {
  for (int32_t t = ctx->threadListHead; t > 0;) {
    const ThreadRecord* r = ThreadRecordAt(ctx, t);
    if (r == nullptr) break;
    const int32_t id = r->id;
    const double total = r->totalTime;
    t = r->next;
    char line[16];
    int at = 0;
    FormatDecimal64(line, &at, id, sizeof line);
    const Field fields[] = {Number("id", id), Number("totaltime", total)};
    if (StatusCode st = out.Item(line, at, fields, 2); st != kOk) return st;
  }
  return kOk;
}

[[nodiscard]] StatusCode ListSizes(EngineContext* ctx, const Listing& out) {
  constexpr int kSizes[2] = {static_cast<int>(sizeof(int)), static_cast<int>(sizeof(void*))};
  if (out.collect) {
    StatusCode st = MakeListFromValues(ctx, 0, false, "", 0);
    if (st == kOk) st = PushRealScalar(ctx, kSizes[0]);
    if (st == kOk) st = MakeListFromValues(ctx, 1, true, "int", 3);
    if (st == kOk) st = PushRealScalar(ctx, kSizes[1]);
    if (st == kOk) st = MakeListFromValues(ctx, 1, true, "ptr", 3);
    return st;
  }
  const char* labels[2] = {"int: ", "ptr: "};
  for (int k = 0; k < 2; ++k) {
    char line[32];
    int at = 0;
    AppendChars(line, &at, labels[k], 5, sizeof line);
    FormatDecimal64(line, &at, kSizes[k], sizeof line);
    AppendChars(line, &at, " bytes", 6, sizeof line);
    if (StatusCode st = out.Item(line, at, nullptr, 0); st != kOk) return st;
  }
  return kOk;
}

}  // namespace

StatusCode InfoNative(EngineContext* ctx, int nargin, int nargout, void* userData) {
  if (nargin > 1) return kTooManyArgin;
  if (nargout > 1) return kTooManyArgout;
  const bool inmem = reinterpret_cast<intptr_t>(userData) == 'm';
  const bool collect = nargout > 0;
  if (nargin == 0 && !inmem) {
    const char* version = GetEngineVersionText();
    if (collect) return PushStringFromBytes(ctx, -1, version);
    StatusCode st = WriteToDescriptor(ctx, kStdoutDescriptor, version, -1);
    if (st == kOk) st = WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
    if (st == kOk && nargout < 0) st = PushVoidValue(ctx);
    return st;
  }
  char mode = 'I';
  if (nargin == 1) {
    char text[2];
    int64_t n = 0;
    const StatusCode st = CopyStringArgToBuffer(ctx, 0, text, sizeof text, &n);
    if (st != kOk && st != kObjTooLarge) return ReportedStatus(st);
    // The first character chooses; 'I' is only inmem's own listing.
    if (n == 0 || text[0] == 'I') return kUnknownOpt;
    mode = text[0];
    if (std::strchr("vfmlgpubots", mode) == nullptr) return kUnknownOpt;
  }
  const bool structs = std::strchr("vfmIbots", mode) != nullptr;
  const Listing out{ctx, collect, structs};
  const int32_t mark = ctx->descLength;
  // A failure takes back everything pushed here, so a rerun after growth starts clean.
  auto finish = [&](StatusCode st) {
    if (!collect) {
      const StatusCode off = SetDescriptorBuffering(ctx, kStdoutDescriptor, 0);
      if (st == kOk && off != kBadFileId) st = off;
    }
    if (st != kOk) {
      while (ctx->descLength > mark) PopValue(ctx);
      return st;
    }
    int results = collect ? 1 : 0;
    if (nargout < 0) {
      if (StatusCode v = PushVoidValue(ctx); v != kOk) return v;
      results = 1;
    }
    return DropArgsUnderResults(ctx, results, nargin);
  };
  if (collect && mode != 's') {
    if (StatusCode st = MakeListFromValues(ctx, 0, false, nullptr, 0); st != kOk) return st;
  } else if (!collect) {
    if (StatusCode st = SetDescriptorBuffering(ctx, kStdoutDescriptor, 1); st != kOk && st != kBadFileId) return st;
  }
  StatusCode st = kOk;
  switch (mode) {
    case 'v':
      st = ListScopeVariables(ctx, out);
      break;
    case 'f':
    case 'm':
    case 'I':
      st = ListFunctions(ctx, out, mode);
      break;
    case 'l':
    case 'g':
    case 'p':
    case 'u':
      st = ListStoreNames(ctx, out, mode);
      break;
    case 'b':
    case 'o':
      st = ListBuiltins(ctx, out, mode == 'b');
      break;
    case 't':
      st = ListThreads(ctx, out);
      break;
    default:
      st = ListSizes(ctx, out);
      break;
  }
  if (st == kOk && collect && structs && mode != 's') st = ConvertTopToStructArray(ctx);
  return finish(st);
}
