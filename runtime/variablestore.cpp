// The variable store: per-instance variable sets with their undo rows, and the
// value heap that the rows share by reference counts. Everything is addressed
// by word offsets from the store's start and by cell indices from the heap's
// start, so the region may move and an image restores it byte for byte.
#include "runtime/variablestore.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the store is a little-endian stored format");

namespace {

// Header words.
constexpr int kSizeWord = 0;
constexpr int kDepthWord = 1;
constexpr int kCapacityWord = 2;
constexpr int kSetCountWord = 3;
constexpr int kHeapLengthWord = 4;
constexpr int kHeapStartWord = 5;
constexpr int kFlagsWord = 6;
constexpr int kSetAreaWord = 7;
// Set words, from the set's first word.
constexpr int kLengthField = 0;
constexpr int kKeyField = 1;
constexpr int kCountField = 2;
constexpr int kUsedField = 3;
constexpr int kCurrentField = 4;
constexpr int kSetHead = 5;
// Room kept free in the set area when a set or a variable is added.
constexpr int64_t kSetMargin = 128;

uint8_t* Bytes(VariableStore* s) { return reinterpret_cast<uint8_t*>(s); }
const uint8_t* Bytes(const VariableStore* s) { return reinterpret_cast<const uint8_t*>(s); }

int32_t Word(const uint8_t* b, int64_t i) {
  int32_t w;
  std::memcpy(&w, b + 4 * i, 4);
  return w;
}
void SetWord(uint8_t* b, int64_t i, int32_t w) { std::memcpy(b + 4 * i, &w, 4); }

bool Compacted(const uint8_t* b) { return b[4 * kFlagsWord] != 0; }
void SetCompacted(uint8_t* b, bool on) { b[4 * kFlagsWord] = on ? 1 : 0; }

// Heap block headers: {u32 reference count, 0 or less = free; u32 cells}.
uint8_t* HeapCell(uint8_t* b, int64_t cell) { return b + 8 * (int64_t{Word(b, kHeapStartWord)} + cell); }
const uint8_t* HeapCell(const uint8_t* b, int64_t cell) { return b + 8 * (int64_t{Word(b, kHeapStartWord)} + cell); }
int32_t RefCount(const uint8_t* b, int64_t cell) { return Word(HeapCell(b, cell), 0); }
int64_t BlockCells(const uint8_t* b, int64_t cell) { return static_cast<uint32_t>(Word(HeapCell(b, cell), 1)); }
void SetHeader(uint8_t* b, int64_t cell, int32_t refs, int64_t cells) {
  SetWord(HeapCell(b, cell), 0, refs);
  SetWord(HeapCell(b, cell), 1, static_cast<int32_t>(static_cast<uint32_t>(cells)));
}

// Capacity in words and heap cells for a store of size bytes.
int64_t CapacityFor(int64_t size) { return (size - 36) / 32; }
int64_t HeapCellsFor(int64_t size, int64_t capacity) { return (size - 4 * capacity - 36) / 8; }

// A set seen through its word offset from the store's start.
struct Set {
  uint8_t* b;
  int64_t at;

  int32_t Field(int f) const { return Word(b, at + f); }
  void SetField(int f, int32_t v) const { SetWord(b, at + f, v); }
  int32_t Count() const { return Field(kCountField); }
  int32_t Used() const { return Field(kUsedField); }
  int32_t Current() const { return Field(kCurrentField); }
  int32_t Id(int32_t i) const { return Word(b, at + kSetHead + 2 * int64_t{i}); }
  int32_t Flags(int32_t i) const { return Word(b, at + kSetHead + 2 * int64_t{i} + 1); }
  int64_t SlotWord(int32_t row, int32_t col) const {
    return at + kSetHead + 2 * int64_t{Count()} + int64_t{row} * Count() + col;
  }
  int32_t Slot(int32_t row, int32_t col) const { return Word(b, SlotWord(row, col)); }
  void SetSlot(int32_t row, int32_t col, int32_t v) const { SetWord(b, SlotWord(row, col), v); }
  int32_t Column(int32_t id) const {
    for (int32_t i = 0; i < Count(); ++i)
      if (Id(i) == id) return i;
    return -1;
  }
};

// Walks go by each set's stored length, so a longer set from an image is kept whole.
int64_t FindSet(const uint8_t* b, int32_t key) {
  int64_t at = kSetAreaWord;
  for (int32_t i = 0; i < Word(b, kSetCountWord); ++i) {
    if (Word(b, at + kKeyField) == key) return at;
    at += Word(b, at + kLengthField);
  }
  return -1;
}

// Words the sets occupy.
int64_t UsedSetWords(const uint8_t* b) {
  int64_t used = 0;
  for (int32_t i = 0; i < Word(b, kSetCountWord); ++i) used += Word(b, kSetAreaWord + used + kLengthField);
  return used;
}

// Moves the set area's words from word `from` to its used end by delta words.
void ShiftSetWords(uint8_t* b, int64_t from, int64_t delta) {
  const int64_t end = kSetAreaWord + UsedSetWords(b);
  std::memmove(b + 4 * (from + delta), b + 4 * from, 4 * (end - from));
}

void ReleaseRow(VariableStore* store, const Set& s, int32_t row) {
  for (int32_t c = 0; c < s.Count(); ++c) {
    ReleaseHeapValue(store, s.Slot(row, c));
    s.SetSlot(row, c, kSlotUndefined);
  }
}

void DropOldestRow(VariableStore* store, const Set& s) {
  ReleaseRow(store, s, 0);
  const int64_t n = s.Count();
  std::memmove(s.b + 4 * s.SlotWord(0, 0), s.b + 4 * s.SlotWord(1, 0), 4 * n * (kHistoryDepth - 1));
  for (int32_t c = 0; c < n; ++c) s.SetSlot(kHistoryDepth - 1, c, kSlotUndefined);
  s.SetField(kUsedField, s.Used() - 1);
  s.SetField(kCurrentField, s.Current() - 1);
}

void DropNewestRow(VariableStore* store, const Set& s) {
  const int32_t newest = s.Used() - 1;
  ReleaseRow(store, s, newest);
  s.SetField(kUsedField, newest);
  if (s.Current() >= newest) s.SetField(kCurrentField, newest - 1);
}

// The set of key with its row for `back` states before the current one.
StatusCode FindRow(const uint8_t* b, int32_t key, int32_t back, int64_t* at, int32_t* row) {
  *at = FindSet(b, key);
  if (*at < 0) return kNonexistentUndoSet;
  const int32_t used = Word(b, *at + kUsedField);
  const int64_t r = int64_t{Word(b, *at + kCurrentField)} - back;
  if (r < 0 || r >= used) return kNonexistentUndoSet;
  *row = static_cast<int32_t>(r);
  return kOk;
}

// The slot of id in the row, or -1 when the variable or the state is missing.
int64_t SlotWordOf(const uint8_t* b, int32_t key, int32_t back, int32_t id) {
  int64_t at;
  int32_t row;
  if (FindRow(b, key, back, &at, &row) != kOk) return -1;
  const Set s{const_cast<uint8_t*>(b), at};
  const int32_t col = s.Column(id);
  return col < 0 ? -1 : s.SlotWord(row, col);
}

// Lays the store out again for size bytes, keeping the set area's words and
// the heap's cells (which move, last cell first, to the new heap start).
StatusCode Relayout(uint8_t* b, int64_t size) {
  const int64_t used = UsedSetWords(b);
  const int64_t oldCells = Word(b, kHeapLengthWord);
  int64_t capacity = CapacityFor(size);
  if (capacity < used) capacity = used;
  if (HeapCellsFor(size, capacity) < oldCells) {
    // A restored heap may need more than the usual share: the set area gives way.
    capacity = (size - 36 - 8 * oldCells) / 4;
    if (capacity < used) return kTooSmallUndoBuf;
  }
  const int64_t cells = HeapCellsFor(size, capacity);
  const int64_t start = size / 8 - cells;
  std::memmove(b + 8 * start, b + 8 * int64_t{Word(b, kHeapStartWord)}, 8 * oldCells);
  SetWord(b, kSizeWord, static_cast<int32_t>(size));
  SetWord(b, kCapacityWord, static_cast<int32_t>(capacity));
  SetWord(b, kHeapLengthWord, static_cast<int32_t>(cells));
  SetWord(b, kHeapStartWord, static_cast<int32_t>(start));
  if (cells > oldCells) SetHeader(b, oldCells, 0, cells - oldCells - 1);
  return kOk;
}

}  // namespace

StatusCode InitVariableStore(VariableStore** store, void* region, int64_t size) {
  *store = nullptr;
  if (size < kVariableStoreMinBytes) return kTooSmallUndoBuf;
  auto* b = static_cast<uint8_t*>(region);
  const int64_t capacity = CapacityFor(size);
  const int64_t cells = HeapCellsFor(size, capacity);
  std::memset(b, 0, 4 * kSetAreaWord);
  SetWord(b, kSizeWord, static_cast<int32_t>(size));
  SetWord(b, kDepthWord, kHistoryDepth);
  SetWord(b, kCapacityWord, static_cast<int32_t>(capacity));
  SetWord(b, kHeapLengthWord, static_cast<int32_t>(cells));
  SetWord(b, kHeapStartWord, static_cast<int32_t>(size / 8 - cells));
  SetCompacted(b, true);
  SetHeader(b, 0, 0, cells - 1);
  *store = static_cast<VariableStore*>(region);
  return kOk;
}

StatusCode ResizeVariableStore(VariableStore* store, int64_t size) {
  uint8_t* b = Bytes(store);
  if (size < Word(b, kSizeWord)) return kTooSmallUndoBuf;
  return Relayout(b, size);
}

StatusCode AddVariableSet(VariableStore* store, int32_t key) {
  uint8_t* b = Bytes(store);
  const int64_t used = UsedSetWords(b);
  if (used + kSetMargin > Word(b, kCapacityWord)) return kTooManyVarInUndoBuf;
  const Set s{b, kSetAreaWord + used};
  s.SetField(kLengthField, kSetHead);
  s.SetField(kKeyField, key);
  s.SetField(kCountField, 0);
  s.SetField(kUsedField, 0);
  s.SetField(kCurrentField, 0);
  SetWord(b, kSetCountWord, Word(b, kSetCountWord) + 1);
  return kOk;
}

StatusCode DeleteVariableSet(VariableStore* store, int32_t key) {
  uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{b, at};
  for (int32_t r = 0; r < s.Used(); ++r) ReleaseRow(store, s, r);
  const int64_t length = s.Field(kLengthField);
  ShiftSetWords(b, at + length, -length);
  SetWord(b, kSetCountWord, Word(b, kSetCountWord) - 1);
  return kOk;
}

StatusCode AddVariableToSet(VariableStore* store, int32_t key, int32_t id, int32_t flags) {
  uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{b, at};
  const int64_t n = s.Count();
  const int64_t length = s.Field(kLengthField);
  // A new pair would shift the slot rows under the stored states.
  if (s.Used() != 0 || length != kSetHead + 2 * n) return kIllegal;
  if (s.Column(id) >= 0) return kVarDuplicate;
  const int64_t capacity = Word(b, kCapacityWord);
  if (at - kSetAreaWord + 16 * n + length + kSetMargin > capacity || UsedSetWords(b) + 2 > capacity)
    return kTooManyVarInUndoBuf;
  ShiftSetWords(b, at + length, 2);
  SetWord(b, at + length, id);
  SetWord(b, at + length + 1, flags);
  s.SetField(kCountField, static_cast<int32_t>(n + 1));
  s.SetField(kLengthField, static_cast<int32_t>(length + 2));
  return kOk;
}

StatusCode GetSetVariableId(const VariableStore* store, int32_t key, int32_t index, bool withoutClearing, int32_t* id) {
  const uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{const_cast<uint8_t*>(b), at};
  if (index < 0 || index >= s.Count()) return kVarNotInSet;
  if (withoutClearing)
    for (int32_t i = 0; i <= index; ++i)
      if (s.Flags(i) & kHistoryClearingFlag) return kVarNotInSet;
  *id = s.Id(index);
  return kOk;
}

StatusCode ResetVariableSetHistory(VariableStore* store, int32_t key) {
  uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{b, at};
  const int64_t n = s.Count();
  const int64_t length = s.Field(kLengthField);
  if (length <= kSetHead + 2 * n) {
    // The set takes its sixteen rows now; they must stay inside the set area.
    const int64_t grow = kHistoryDepth * n;
    if (UsedSetWords(b) + grow > Word(b, kCapacityWord)) return kTooManyVarInUndoBuf;
    ShiftSetWords(b, at + length, grow);
    s.SetField(kLengthField, static_cast<int32_t>(length + grow));
  } else {
    for (int32_t r = 0; r < s.Used(); ++r) ReleaseRow(store, s, r);
  }
  for (int32_t r = 0; r < kHistoryDepth; ++r)
    for (int32_t c = 0; c < n; ++c) s.SetSlot(r, c, kSlotUndefined);
  s.SetField(kUsedField, 1);
  s.SetField(kCurrentField, 0);
  return kOk;
}

StatusCode OpenVariableState(VariableStore* store, int32_t key) {
  uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{b, at};
  if (s.Used() < 1) return kNonexistentUndoSet;
  while (s.Used() > s.Current() + 1) DropNewestRow(store, s);
  if (s.Used() == kHistoryDepth) DropOldestRow(store, s);
  const int32_t from = s.Current();
  for (int32_t c = 0; c < s.Count(); ++c) {
    const int32_t slot = s.Slot(from, c);
    if (slot >= 0) SetWord(HeapCell(b, slot), 0, RefCount(b, slot) + 1);
    s.SetSlot(from + 1, c, slot);
  }
  s.SetField(kUsedField, from + 2);
  s.SetField(kCurrentField, from + 1);
  return kOk;
}

StatusCode DropLastVariableState(VariableStore* store, int32_t key) {
  uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{b, at};
  if (s.Used() < 2) return kNonexistentUndoSet;
  DropNewestRow(store, s);
  return kOk;
}

StatusCode StepVariableStateBack(VariableStore* store, int32_t key) {
  uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{b, at};
  if (s.Current() <= 0) return kCannotUndo;
  s.SetField(kCurrentField, s.Current() - 1);
  return kOk;
}

StatusCode StepVariableStateForward(VariableStore* store, int32_t key) {
  uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  const Set s{b, at};
  if (s.Current() >= s.Used() - 1) return kCannotRedo;
  s.SetField(kCurrentField, s.Current() + 1);
  return kOk;
}

bool HasEarlierVariableState(const VariableStore* store, int32_t key) {
  const uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  return at >= 0 && Word(b, at + kCurrentField) > 0;
}

bool HasLaterVariableState(const VariableStore* store, int32_t key) {
  const uint8_t* b = Bytes(store);
  const int64_t at = FindSet(b, key);
  return at >= 0 && Word(b, at + kCurrentField) < Word(b, at + kUsedField) - 1;
}

StatusCode ReadVariable(const VariableStore* store, int32_t key, int32_t back, int32_t id, int32_t* cells,
                        const double** data) {
  const uint8_t* b = Bytes(store);
  *cells = 0;
  *data = nullptr;
  int64_t at;
  int32_t row;
  if (StatusCode st = FindRow(b, key, back, &at, &row); st != kOk) return st;
  const Set s{const_cast<uint8_t*>(b), at};
  const int32_t col = s.Column(id);
  if (col < 0) return kVarNotInSet;
  const int32_t slot = s.Slot(row, col);
  if (slot < 0) return kOk;
  *cells = static_cast<int32_t>(BlockCells(b, slot));
  *data = reinterpret_cast<const double*>(HeapCell(b, int64_t{slot} + 1));
  return kOk;
}

StatusCode WriteVariable(VariableStore* store, int32_t key, int32_t back, int32_t id, int32_t cells, double** data) {
  uint8_t* b = Bytes(store);
  *data = nullptr;
  int64_t at = FindSet(b, key);
  if (at < 0) return kNonexistentUndoSet;
  if (back == -1) back = Word(b, at + kCurrentField);
  int32_t row;
  if (StatusCode st = FindRow(b, key, back, &at, &row); st != kOk) return st;
  const Set s{b, at};
  const int32_t col = s.Column(id);
  if (col < 0) return kVarNotInSet;
  ReleaseHeapValue(store, s.Slot(row, col));
  s.SetSlot(row, col, kSlotUndefined);
  if (cells < 1) {
    s.SetSlot(row, col, kSlotEmpty);
    return kOk;
  }
  // A history-clearing write makes the written state the oldest.
  if (s.Flags(col) & kHistoryClearingFlag)
    for (; row > 0; --row) DropOldestRow(store, s);
  int32_t slot;
  for (;;) {
    const StatusCode st = AllocateHeapCells(store, cells, &slot);
    if (st == kOk) break;
    if (st != kVarTooLargeForUndo) return st;
    // Room comes first from the oldest states (one older state stays), then
    // from the redo states.
    if (row >= 2) {
      DropOldestRow(store, s);
      --row;
    } else if (s.Used() - 1 > s.Current()) {
      DropNewestRow(store, s);
    } else {
      return st;
    }
  }
  s.SetSlot(row, col, slot);
  *data = reinterpret_cast<double*>(HeapCell(b, int64_t{slot} + 1));
  return kOk;
}

StatusCode MarkVariable(VariableStore* store, int32_t key, int32_t back, int32_t id, bool toBeMade) {
  uint8_t* b = Bytes(store);
  int64_t at;
  int32_t row;
  if (StatusCode st = FindRow(b, key, back, &at, &row); st != kOk) return st;
  const Set s{b, at};
  const int32_t col = s.Column(id);
  if (col < 0) return kVarNotInSet;
  ReleaseHeapValue(store, s.Slot(row, col));
  s.SetSlot(row, col, toBeMade ? kSlotToBeMade : kSlotUndefined);
  return kOk;
}

bool IsVariableDefined(const VariableStore* store, int32_t key, int32_t back, int32_t id) {
  const int64_t w = SlotWordOf(Bytes(store), key, back, id);
  return w >= 0 && Word(Bytes(store), w) >= kSlotEmpty;
}

bool IsVariableToBeMade(const VariableStore* store, int32_t key, int32_t back, int32_t id) {
  const int64_t w = SlotWordOf(Bytes(store), key, back, id);
  return w >= 0 && Word(Bytes(store), w) == kSlotToBeMade;
}

void ClearToBeMadeMarks(VariableStore* store, int32_t key, int32_t back) {
  uint8_t* b = Bytes(store);
  int64_t at;
  int32_t row;
  if (FindRow(b, key, back, &at, &row) != kOk) return;
  const Set s{b, at};
  for (int32_t c = 0; c < s.Count(); ++c)
    if (s.Slot(row, c) == kSlotToBeMade) s.SetSlot(row, c, kSlotUndefined);
}

StatusCode AllocateHeapCells(VariableStore* store, int32_t cells, int32_t* slot) {
  uint8_t* b = Bytes(store);
  *slot = kSlotUndefined;
  if (cells == 0) return kOk;
  const int64_t length = Word(b, kHeapLengthWord);
  for (int pass = 0; pass < 2; ++pass) {
    for (int64_t at = 0; at < length; at += BlockCells(b, at) + 1) {
      if (RefCount(b, at) > 0) continue;
      int64_t free = BlockCells(b, at);
      for (int64_t next = at + free + 1; next < length && RefCount(b, next) <= 0; next = at + free + 1)
        free += BlockCells(b, next) + 1;
      SetHeader(b, at, 0, free);
      // A block of exactly n cells is not taken: its remainder needs a header.
      if (free < int64_t{cells} + 1) continue;
      SetHeader(b, at, 1, cells);
      SetHeader(b, at + cells + 1, 0, free - cells - 1);
      *slot = static_cast<int32_t>(at);
      return kOk;
    }
    if (Compacted(b)) break;
    CompactVariableHeap(store);
  }
  return kVarTooLargeForUndo;
}

void ReleaseHeapValue(VariableStore* store, int32_t slot) {
  if (slot < 0) return;
  uint8_t* b = Bytes(store);
  SetWord(HeapCell(b, slot), 0, RefCount(b, slot) - 1);
  SetCompacted(b, false);
}

void CompactVariableHeap(VariableStore* store) {
  uint8_t* b = Bytes(store);
  const int64_t length = Word(b, kHeapLengthWord);
  int64_t to = 0;
  for (int64_t at = 0; at < length;) {
    const int64_t cells = BlockCells(b, at);
    if (RefCount(b, at) > 0) {
      if (at != to) {
        std::memmove(HeapCell(b, to), HeapCell(b, at), 8 * (cells + 1));
        // Every state that shares the block follows it.
        int64_t setAt = kSetAreaWord;
        for (int32_t i = 0; i < Word(b, kSetCountWord); ++i) {
          const Set s{b, setAt};
          for (int32_t r = 0; r < s.Used(); ++r)
            for (int32_t c = 0; c < s.Count(); ++c)
              if (s.Slot(r, c) == at) s.SetSlot(r, c, static_cast<int32_t>(to));
          setAt += s.Field(kLengthField);
        }
      }
      to += cells + 1;
    }
    at += cells + 1;
  }
  if (to < length) SetHeader(b, to, 0, length - to - 1);
  SetCompacted(b, true);
}

StatusCode RestoreVariableStore(VariableStore* store, int64_t headerBytes, int64_t heapCells, EngineStateReader read,
                                void* userData) {
  uint8_t* b = Bytes(store);
  const int64_t size = Word(b, kSizeWord);
  if (size / 8 < headerBytes / 8 + heapCells + 1) return kVarTooLargeForUndo;
  if (!read) return kOk;
  // Growing cannot mend an image without a header: it is refused, not retried.
  if (headerBytes < 4 * kSetAreaWord + 8 || heapCells < 0) return kInitError;
  const int64_t heapStart = (headerBytes / 8 * 8 - 8) / 8;
  if (!read(b, static_cast<int32_t>(headerBytes), userData)) return kInitError;
  if (heapCells > 0 && !read(b + 8 * heapStart, static_cast<int32_t>(8 * heapCells), userData)) return kInitError;
  // The image's own size word is not this region's; the walks below trust
  // only what was read, and the check refuses what they cannot walk.
  SetWord(b, kCapacityWord, static_cast<int32_t>((headerBytes - 36) / 4));
  SetWord(b, kHeapStartWord, static_cast<int32_t>((headerBytes / 4 * 4 - 8) / 8));
  SetCompacted(b, true);
  SetWord(b, kHeapLengthWord, static_cast<int32_t>(heapCells));
  SetWord(b, kSizeWord, static_cast<int32_t>(size));
  if (CheckVariableStore(store, size) != kOk) return kInitError;
  if (Relayout(b, size) != kOk) return kInitError;
  return CheckVariableStore(store, size);
}

StatusCode CheckVariableStore(const VariableStore* store, int64_t size) {
  const uint8_t* b = Bytes(store);
  if (Word(b, kSizeWord) != size || Word(b, kDepthWord) != kHistoryDepth) return kInitError;
  const int64_t capacity = Word(b, kCapacityWord);
  const int64_t cells = Word(b, kHeapLengthWord);
  const int64_t start = Word(b, kHeapStartWord);
  // The set area, then the heap, inside the region.
  if (capacity < 0 || cells < 0 || 4 * (kSetAreaWord + capacity) > 8 * start || 8 * (start + cells) > size)
    return kInitError;
  // The heap's blocks walk exactly to its end.
  for (int64_t at = 0; at < cells; at += BlockCells(b, at) + 1)
    if (at + BlockCells(b, at) + 1 > cells) return kInitError;
  const int32_t sets = Word(b, kSetCountWord);
  if (sets < 0) return kInitError;
  int64_t at = kSetAreaWord;
  const int64_t end = kSetAreaWord + capacity;
  for (int32_t i = 0; i < sets; ++i) {
    if (at + kSetHead > end) return kInitError;
    const int64_t length = Word(b, at + kLengthField);
    const int64_t n = Word(b, at + kCountField);
    const int32_t used = Word(b, at + kUsedField);
    const int32_t current = Word(b, at + kCurrentField);
    if (n < 0 || length < kSetHead + 2 * n || at + length > end) return kInitError;
    // A set has no rows yet or all sixteen.
    if (length != kSetHead + 2 * n && length < kSetHead + (2 + kHistoryDepth) * n) return kInitError;
    if (used < 0 || used > kHistoryDepth || (used > 0 && length < kSetHead + (2 + kHistoryDepth) * n))
      return kInitError;
    if (used == 0 ? current != 0 : (current < 0 || current >= used)) return kInitError;
    const Set s{const_cast<uint8_t*>(b), at};
    for (int32_t r = 0; r < used; ++r)
      for (int32_t c = 0; c < n; ++c) {
        const int64_t slot = s.Slot(r, c);
        if (slot < kSlotToBeMade) return kInitError;
        if (slot < 0) continue;
        if (slot >= cells) return kInitError;
        // A slot names the header of a used block: found by walking from the start.
        int64_t block = 0;
        while (block < slot) block += BlockCells(b, block) + 1;
        if (block != slot || RefCount(b, slot) <= 0) return kInitError;
      }
    at += length;
  }
  // Each used block carries exactly the references of the slots sharing it.
  for (int64_t block = 0; block < cells; block += BlockCells(b, block) + 1) {
    const int32_t refs = RefCount(b, block);
    if (refs <= 0) continue;
    int64_t count = 0;
    int64_t setAt = kSetAreaWord;
    for (int32_t i = 0; i < sets; ++i) {
      const Set s{const_cast<uint8_t*>(b), setAt};
      for (int32_t r = 0; r < s.Used(); ++r)
        for (int32_t c = 0; c < s.Count(); ++c) count += s.Slot(r, c) == block;
      setAt += s.Field(kLengthField);
    }
    if (count != refs) return kInitError;
  }
  return kOk;
}
