// The application's variables outside the engine: the name table that names
// variable and function ids, and the variable store that keeps one variable set
// per instance with an undo history of up to sixteen states over a shared,
// reference-counted value heap. Both live in regions of the runtime block and
// are stored formats (little-endian words at fixed offsets, indices rather than
// pointers), so an image restores them byte for byte.
#pragma once

#include <cstdint>

#include "engine/engine.h"

// Runtime status codes met by the name table and the variable store.
constexpr StatusCode kTooSmallNameBuf = 10002;
constexpr StatusCode kNoMoreNameSlot = 10003;
constexpr StatusCode kTooSmallUndoBuf = 10005;
constexpr StatusCode kTooManyVarInUndoBuf = 10008;
constexpr StatusCode kVarTooLargeForUndo = 10009;
constexpr StatusCode kVarNotInSet = 10010;  // varNotFound; the engine has its own kVarNotFound
constexpr StatusCode kVarDuplicate = 10011;
constexpr StatusCode kNonexistentUndoSet = 10044;
constexpr StatusCode kCannotUndo = 10058;
constexpr StatusCode kCannotRedo = 10059;

// ---------------------------------------------------------------------------
// Name table: {i32 capacity in rows; i32 rows used} then rows of 32 bytes
// {i32 id; 28 bytes of name, NUL-terminated when shorter}.

struct NameTable;  // the region's first byte

constexpr int32_t kNameTableMinBytes = 256;
constexpr int kNameBytes = 28;
constexpr int32_t kMinNameId = -(1 << 30);
constexpr int32_t kMaxNameId = (1 << 30) - 1;

[[nodiscard]] StatusCode InitNameTable(NameTable** table, void* region, int64_t size);
// Sets the capacity for a region of size bytes, the rows kept (after an image
// filled the region); 10002 when the region is too small for them.
[[nodiscard]] StatusCode SetNameTableSize(NameTable* table, int64_t size);
// length <= 0: name is NUL-terminated. Names longer than 28 bytes are cut.
[[nodiscard]] StatusCode AddName(NameTable* table, int32_t id, const char* name, int length);
// *name points into the table and is not NUL-terminated when 28 bytes long.
[[nodiscard]] StatusCode GetNameById(const NameTable* table, int32_t id, const char** name, int* length);
// An image's table in a region of size bytes: 0 when consistent, else 600.
[[nodiscard]] StatusCode CheckNameTable(const NameTable* table, int64_t size);

// ---------------------------------------------------------------------------
// Variable store. Words (i32 at byte 4i): 0 size in bytes, 1 history depth,
// 2 set-area capacity in words, 3 number of sets, 4 heap length in cells,
// 5 heap start in cells, 6 byte 0 compacted flag; the set area from word 7.
// A set: {length in words; key; n; states used; current state}, n pairs
// {id; flags}, then 16 rows of n slots, oldest state first. A slot is a heap
// cell index or kSlotEmpty, kSlotUndefined, kSlotToBeMade. The region must
// start on an 8-byte boundary: values are read in place as doubles.

struct VariableStore;  // the region's first byte

constexpr int32_t kVariableStoreMinBytes = 8192;
constexpr int32_t kHistoryDepth = 16;
constexpr int32_t kSlotEmpty = -1;
constexpr int32_t kSlotUndefined = -2;
constexpr int32_t kSlotToBeMade = -3;
constexpr int32_t kHistoryClearingFlag = 1;

[[nodiscard]] StatusCode InitVariableStore(VariableStore** store, void* region, int64_t size);
[[nodiscard]] StatusCode ResizeVariableStore(VariableStore* store, int64_t size);

[[nodiscard]] StatusCode AddVariableSet(VariableStore* store, int32_t key);
[[nodiscard]] StatusCode DeleteVariableSet(VariableStore* store, int32_t key);
// Variables are added before the set has states (12 otherwise).
[[nodiscard]] StatusCode AddVariableToSet(VariableStore* store, int32_t key, int32_t id, int32_t flags);
// withoutClearing: only the variables before the first history-clearing one count.
[[nodiscard]] StatusCode GetSetVariableId(const VariableStore* store, int32_t key, int32_t index, bool withoutClearing,
                                          int32_t* id);

[[nodiscard]] StatusCode ResetVariableSetHistory(VariableStore* store, int32_t key);
[[nodiscard]] StatusCode OpenVariableState(VariableStore* store, int32_t key);
[[nodiscard]] StatusCode DropLastVariableState(VariableStore* store, int32_t key);
[[nodiscard]] StatusCode StepVariableStateBack(VariableStore* store, int32_t key);
[[nodiscard]] StatusCode StepVariableStateForward(VariableStore* store, int32_t key);
bool HasEarlierVariableState(const VariableStore* store, int32_t key);
bool HasLaterVariableState(const VariableStore* store, int32_t key);

// back: states before the current one (0 = current). An empty or undefined
// slot reads as 0 cells and a null *data. *data is good until the next write.
[[nodiscard]] StatusCode ReadVariable(const VariableStore* store, int32_t key, int32_t back, int32_t id, int32_t* cells,
                                      const double** data);
// back -1 is the oldest state. Leaves *data pointing at cells doubles for the
// caller to fill (a CopiedValue); cells < 1 stores the empty value, *data null.
[[nodiscard]] StatusCode WriteVariable(VariableStore* store, int32_t key, int32_t back, int32_t id, int32_t cells,
                                       double** data);
[[nodiscard]] StatusCode MarkVariable(VariableStore* store, int32_t key, int32_t back, int32_t id, bool toBeMade);
bool IsVariableDefined(const VariableStore* store, int32_t key, int32_t back, int32_t id);
bool IsVariableToBeMade(const VariableStore* store, int32_t key, int32_t back, int32_t id);
void ClearToBeMadeMarks(VariableStore* store, int32_t key, int32_t back);

// Image input: headerBytes of header and set area (through the first heap
// cell) and heapCells cells of value heap. Without a reader only the room test
// (10009); with one, reads both, fits the store to its region again and checks
// it: 600 when a read fails or the result is inconsistent.
[[nodiscard]] StatusCode RestoreVariableStore(VariableStore* store, int64_t headerBytes, int64_t heapCells,
                                              EngineStateReader read, void* userData);
// 0 when the store is consistent for a region of size bytes, else 600.
[[nodiscard]] StatusCode CheckVariableStore(const VariableStore* store, int64_t size);

// The heap's own operations, open for the tests. A slot is a block's header
// cell index; AllocateHeapCells(0) gives kSlotUndefined.
[[nodiscard]] StatusCode AllocateHeapCells(VariableStore* store, int32_t cells, int32_t* slot);
void ReleaseHeapValue(VariableStore* store, int32_t slot);
void CompactVariableHeap(VariableStore* store);
