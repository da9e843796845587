// The native registry: installing libraries at the bottom of the data-stack
// region, numbering their records across the list, the sandbox rule, hooks in
// registration order, and the host's setters.
#include "engine/registry.h"

#include <cstring>

namespace {

constexpr int kMaxKind = 127;

bool NameIs(const NativeFunctionRecord& r, const char* name) { return std::strncmp(r.name, name, sizeof r.name) == 0; }

bool IsHeader(const NativeFunctionRecord& r) { return r.name[0] == '@' || r.name[0] == '!'; }

}  // namespace

int64_t NamedItemsOffset(int libraries) { return 8 * (kRegistryEntryBytes * libraries / 8 + 1); }

int64_t DataStackOffset(int libraries, int namedItems) {
  if (libraries == 0 && namedItems == 0) return 0;
  return NamedItemsOffset(libraries) + kRegistryEntryBytes * namedItems + 8;
}

// Code compiled or running under the old numbers would call the wrong natives.
bool CanInstallLibraries(const EngineContext* ctx) { return ctx->entriesInUse <= 1 && ctx->pc.space == kNoCode; }

StatusCode InstallNativeLibrary(EngineContext* ctx, const NativeFunctionRecord* records, bool prepend) {
  if (records == nullptr || records[0].name[0] == 0) return kOk;
  if (!CanInstallLibraries(ctx)) return kInitError;
  for (int i = 0; i < ctx->libraryCount; ++i)
    if (ctx->libraries[i].first == records) return kInitError;
  int32_t count = 0;
  for (; records[count].name[0] != 0; ++count)
    if (records[count].kind > kMaxKind || records[count].kind < -kMaxKind) return kInitError;

  const int libs = ctx->libraryCount, items = ctx->namedItemCount;
  const int64_t oldData = DataStackOffset(libs, items);
  const int64_t newData = DataStackOffset(libs + 1, items);
  const int32_t lost = static_cast<int32_t>((newData - oldData) / 8);
  if (int64_t{ctx->dataTop} + lost >= ctx->dataCapacity) return kDataStackFull;

  // Data first, then the named items, each copied from its highest cell down.
  uint8_t* region = RegionStart(ctx);
  std::memmove(region + newData, region + oldData, int64_t{ctx->dataTop} * sizeof(Cell));
  if (items > 0)
    std::memmove(region + NamedItemsOffset(libs + 1), region + NamedItemsOffset(libs), items * kRegistryEntryBytes);
  auto* list = reinterpret_cast<LibraryListEntry*>(region);
  LibraryListEntry entry{records, count, 0, {}};
  if (prepend) {
    std::memmove(list + 1, list, libs * sizeof(LibraryListEntry));
    list[0] = entry;
  } else {
    list[libs] = entry;
  }
  ctx->libraries = list;
  ctx->libraryCount = libs + 1;
  if (items > 0) ctx->namedItems = reinterpret_cast<NamedItem*>(region + NamedItemsOffset(libs + 1));
  ctx->dataBase = reinterpret_cast<Cell*>(region + newData);
  ctx->dataCapacity -= lost;
  return kOk;
}

bool FindNative(EngineContext* ctx, int g, NativeRef* out) {
  if (g < 0) return false;
  for (int i = 0; i < ctx->libraryCount; ++i) {
    const LibraryListEntry& e = ctx->libraries[i];
    if (g < e.count) {
      *out = {e.first + g, i, g};
      return true;
    }
    g -= e.count;
  }
  return false;
}

bool IsAllowedInSandbox(const NativeRef& n) {
  const NativeFunctionRecord* run = n.record - n.index;
  for (int k = n.index - 1; k >= 0; --k)
    if (IsHeader(run[k])) return run[k].name[0] == '!';
  return false;
}

const NativeFunctionRecord* FindNextNamedRecord(EngineContext* ctx, const char* name, int* cursor, NativeRef* out) {
  int g = 0;
  for (int i = 0; i < ctx->libraryCount; ++i) {
    const LibraryListEntry& e = ctx->libraries[i];
    for (int k = 0; k < e.count; ++k, ++g) {
      if (g <= *cursor || !NameIs(e.first[k], name)) continue;
      *cursor = g;
      if (out) *out = {e.first + k, i, k};
      return e.first + k;
    }
  }
  return nullptr;
}

StatusCode InvokeNative(EngineContext* ctx, const NativeRef& n, int nargin, int nargout) {
  ctx->runningNativeClass = NativeClassIdOf(n.library, n.record->kind);
  void* userData = n.record->userData != nullptr ? n.record->userData : ctx->nativeUserData;
  return n.record->handler(ctx, nargin, nargout, userData);
}

StatusCode CallNativeByNumber(EngineContext* ctx, int g, int nargin, int nargout, bool sandboxed) {
  NativeRef n;
  if (!FindNative(ctx, g, &n)) return kUndefFun;
  if (sandboxed && !IsAllowedInSandbox(n)) return kSecViolation;
  if (n.record->kind > 0) return kWrongType;  // methods are reached only through overloading
  return InvokeNative(ctx, n, nargin, nargout);
}

const NativeFunctionRecord* GetNativeRecordByIndex(EngineContext* ctx, int g) {
  NativeRef n;
  return FindNative(ctx, g, &n) ? n.record : nullptr;
}

const char* GetNativeClassName(EngineContext* ctx, int32_t classId) {
  if (classId <= 0) return nullptr;
  for (int i = 0; i < ctx->libraryCount; ++i) {
    const LibraryListEntry& e = ctx->libraries[i];
    for (int k = 0; k < e.count; ++k)
      if (NativeClassIdOf(i, e.first[k].kind) == classId) return e.first[k].name;
  }
  return nullptr;
}

StatusCode SetLibraryFlagByName(EngineContext* ctx, const char* name, uint8_t flag) {
  bool matched = false;
  for (int i = 0; i < ctx->libraryCount; ++i) {
    LibraryListEntry& e = ctx->libraries[i];
    for (int k = 0; k < e.count; ++k) {
      const NativeFunctionRecord& r = e.first[k];
      if (!IsHeader(r) || std::strncmp(r.name + 1, name, sizeof r.name - 1) != 0) continue;
      if (r.name[0] == '@') return kSecViolation;
      e.flag = flag;
      matched = true;
    }
  }
  return matched ? kOk : kSrcNotFound;
}

void SetNativeDefaultUserData(EngineContext* ctx, void* userData) { ctx->nativeUserData = userData; }

void SetNativeUserDataByHandler(NativeFunctionRecord* records, NativeHandler handler, void* userData) {
  for (NativeFunctionRecord* r = records; r->name[0] != 0; ++r)
    if (r->handler == handler) r->userData = userData;
}

void SetBreakPollCallback(EngineContext* ctx, bool (*callback)(void* userData), void* userData) {
  ctx->breakPoll = callback;
  ctx->breakPollData = userData;
}

void SetLineInfoFlag(EngineContext* ctx, uint8_t flag) { ctx->lineInfo = flag; }

void SetCodeOptions(EngineContext* ctx, int32_t optimisationLevel, uint8_t discardAssert) {
  ctx->optimisationLevel = optimisationLevel;
  ctx->discardAssert = discardAssert;
}
