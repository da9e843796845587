// Internal view of the native registry: where the library list and named
// items sit below the data stack, how a native number is found, hooks walked
// in registration order, and calling a native record.
#pragma once

#include "engine/context.h"

// Both the library list and the named items use entries of this size; the
// repartition of a growing block counts them through it too.
constexpr int64_t kRegistryEntryBytes = 16;
static_assert(sizeof(LibraryListEntry) == kRegistryEntryBytes && sizeof(NamedItem) == kRegistryEntryBytes);

// Offsets from the start of the region area: the named items start one cell
// after the library list, the data stack one cell after the last item.
// With neither libraries nor items the data stack starts at 0.
int64_t NamedItemsOffset(int libraries);
int64_t DataStackOffset(int libraries, int namedItems);

// Start of the region area, right after the header.
inline uint8_t* RegionStart(EngineContext* ctx) { return reinterpret_cast<uint8_t*>(ctx) + kContextHeaderBytes; }

// Installing renumbers natives: only before any function entry is in use
// and while no code runs.
bool CanInstallLibraries(const EngineContext* ctx);

// Where native number g lives.
struct NativeRef {
  const NativeFunctionRecord* record;
  int library;  // index in the list
  int index;    // index in its run
};
bool FindNative(EngineContext* ctx, int g, NativeRef* out);

// NativeClassId of records of that kind in the library at that index.
inline int32_t NativeClassIdOf(int library, int32_t kind) { return library * 128 + (kind < 0 ? -kind : kind) + 6; }

// The natives after a "!" header of their run may run in sandboxed frames.
bool IsAllowedInSandbox(const NativeRef& n);

// The next record named `name` after native number *cursor (start with -1),
// in list order and each run in record order; null when there is none.
const NativeFunctionRecord* FindNextNamedRecord(EngineContext* ctx, const char* name, int* cursor, NativeRef* out);

// Calls the record's handler with its user data (or the context's default),
// after setting the running NativeClassId.
[[nodiscard]] StatusCode InvokeNative(EngineContext* ctx, const NativeRef& n, int nargin, int nargout);

// Calls native number g under the registry's rules: 403 for a native that
// may not run in a sandboxed frame, 44 for a class method called directly.
[[nodiscard]] StatusCode CallNativeByNumber(EngineContext* ctx, int g, int nargin, int nargout, bool sandboxed);
