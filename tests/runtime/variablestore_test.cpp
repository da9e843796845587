// The name table and the variable store on plain byte regions: their stored
// layouts, the undo history and the shared value heap.
#include "runtime/variablestore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Name table

int32_t TableWord(const std::vector<uint8_t>& region, int i) {
  int32_t w;
  std::memcpy(&w, region.data() + 4 * i, 4);
  return w;
}

TEST(NameTable, CapacityFollowsTheRegionAboveTheMinimum) {
  struct Case {
    int64_t size;
    StatusCode want;
    int32_t capacity;
  };
  const Case kCases[] = {{255, kTooSmallNameBuf, 0}, {256, kOk, 7}, {263, kOk, 7}, {264, kOk, 8}, {1000, kOk, 31}};
  for (const Case& c : kCases) {
    std::vector<uint8_t> region(c.size);
    NameTable* table = nullptr;
    ASSERT_EQ(InitNameTable(&table, region.data(), c.size), c.want) << c.size;
    if (c.want != kOk) {
      EXPECT_EQ(table, nullptr);
      continue;
    }
    EXPECT_EQ(TableWord(region, 0), c.capacity) << c.size;
    // Every row fits the region exactly: the sanitizer sees a row past its end.
    for (int32_t i = 0; i < c.capacity; ++i)
      ASSERT_EQ(AddName(table, i, ("n" + std::to_string(i)).c_str(), 0), kOk) << c.size << " " << i;
    EXPECT_EQ(AddName(table, 999, "extra", 0), kNoMoreNameSlot) << c.size;
  }
}

TEST(NameTable, IdsNamesAndRefusals) {
  std::vector<uint8_t> region(1024);
  NameTable* table = nullptr;
  ASSERT_EQ(InitNameTable(&table, region.data(), 1024), kOk);
  struct Case {
    int32_t id;
    const char* name;
    int length;
    StatusCode want;
  };
  const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
  const std::string other30 = "abcdefghijklmnopqrstuvwxyz01XY";  // equal in the first 28
  const Case kCases[] = {
      {kMinNameId, "low", 0, kOk},
      {kMaxNameId, "high", 0, kOk},
      {kMinNameId - 1, "below", 0, kVarDuplicate},
      {kMaxNameId + 1, "above", 0, kVarDuplicate},
      {kMaxNameId, "again", 0, kVarDuplicate},
      {5, "low", 0, kVarDuplicate},
      {6, "lowx", 3, kVarDuplicate},  // the given length cuts it to "low"
      {7, "lo", 0, kOk},              // a prefix of a name is another name
      {8, thirty.c_str(), 0, kOk},
      {9, other30.c_str(), 0, kVarDuplicate},
      {10, thirty.c_str(), 28, kVarDuplicate},
      {11, thirty.c_str(), 27, kOk},
  };
  for (const Case& c : kCases) EXPECT_EQ(AddName(table, c.id, c.name, c.length), c.want) << c.id << " " << c.name;

  struct Lookup {
    int32_t id;
    std::string name;
  };
  const Lookup kLookups[] = {
      {kMinNameId, "low"}, {kMaxNameId, "high"}, {7, "lo"}, {8, thirty.substr(0, 28)}, {11, thirty.substr(0, 27)}};
  for (const Lookup& l : kLookups) {
    const char* name = nullptr;
    int length = 0;
    ASSERT_EQ(GetNameById(table, l.id, &name, &length), kOk) << l.id;
    EXPECT_EQ(std::string(name, length), l.name);
  }
  const char* name = nullptr;
  int length = 0;
  EXPECT_EQ(GetNameById(table, 5, &name, &length), kVarNotInSet);
  EXPECT_EQ(CheckNameTable(table, 1024), kOk);
}

TEST(NameTable, ResizeKeepsRowsAndCheckRefusesBadTables) {
  std::vector<uint8_t> region(1024);
  NameTable* table = nullptr;
  ASSERT_EQ(InitNameTable(&table, region.data(), 1024), kOk);
  for (int32_t i = 0; i < 10; ++i) ASSERT_EQ(AddName(table, i, ("v" + std::to_string(i)).c_str(), 0), kOk);
  // 10 rows need 8 + 320 bytes: a 256-byte region holds only 7.
  EXPECT_EQ(SetNameTableSize(table, 256), kTooSmallNameBuf);
  EXPECT_EQ(SetNameTableSize(table, 200), kTooSmallNameBuf);
  ASSERT_EQ(SetNameTableSize(table, 328), kOk);
  EXPECT_EQ(TableWord(region, 0), 10);
  EXPECT_EQ(AddName(table, 10, "v10", 0), kNoMoreNameSlot);
  EXPECT_EQ(CheckNameTable(table, 328), kOk);

  struct Corruption {
    const char* what;
    int word;
    int32_t value;
  };
  const Corruption kCorruptions[] = {{"capacity not the region's", 0, 11},
                                     {"rows used negative", 1, -1},
                                     {"rows used above capacity", 1, 11},
                                     {"id out of range", 2, kMaxNameId + 1}};
  for (const Corruption& c : kCorruptions) {
    std::vector<uint8_t> copy = region;
    std::memcpy(copy.data() + 4 * c.word, &c.value, 4);
    EXPECT_EQ(CheckNameTable(reinterpret_cast<NameTable*>(copy.data()), 328), kInitError) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Variable store

// A store in an 8-byte aligned region, with helpers that write and read values
// as vectors of doubles.
struct Store {
  std::vector<uint64_t> region;
  VariableStore* store = nullptr;

  // The region starts full of noise: nothing may rely on bytes the store never wrote.
  explicit Store(int64_t size, int64_t regionSize = 0)
      : region((regionSize ? regionSize : size) / 8, 0xA5A5A5A5A5A5A5A5u) {
    EXPECT_EQ(InitVariableStore(&store, region.data(), size), kOk);
  }
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(region.data()); }
  int32_t Word(int i) {
    int32_t w;
    std::memcpy(&w, bytes() + 4 * i, 4);
    return w;
  }
  void SetWord(int i, int32_t w) { std::memcpy(bytes() + 4 * i, &w, 4); }
  // Header of the heap block at a slot: {reference count, cells}.
  int32_t Refs(int32_t slot) { return Word(2 * (Word(5) + slot)); }

  // A set with the variables ids (flags alongside) and its history reset.
  void MakeSet(int32_t key, const std::vector<int32_t>& ids, const std::vector<int32_t>& flags = {}) {
    ASSERT_EQ(AddVariableSet(store, key), kOk);
    for (size_t i = 0; i < ids.size(); ++i)
      ASSERT_EQ(AddVariableToSet(store, key, ids[i], i < flags.size() ? flags[i] : 0), kOk);
    ASSERT_EQ(ResetVariableSetHistory(store, key), kOk);
  }
  StatusCode Put(int32_t key, int32_t back, int32_t id, const std::vector<double>& value) {
    double* data = nullptr;
    const StatusCode st = WriteVariable(store, key, back, id, static_cast<int32_t>(value.size()), &data);
    if (st == kOk && !value.empty()) std::memcpy(data, value.data(), 8 * value.size());
    return st;
  }
  // A value of n cells whose cells all hold x.
  StatusCode Fill(int32_t key, int32_t back, int32_t id, int32_t n, double x) {
    return Put(key, back, id, std::vector<double>(n, x));
  }
  std::vector<double> Get(int32_t key, int32_t back, int32_t id) {
    int32_t cells = -1;
    const double* data = nullptr;
    EXPECT_EQ(ReadVariable(store, key, back, id, &cells, &data), kOk) << key << " " << back << " " << id;
    return data ? std::vector<double>(data, data + cells) : std::vector<double>();
  }
  int32_t Slot(int32_t key, int32_t back, int32_t id) {
    int32_t cells = 0;
    const double* data = nullptr;
    EXPECT_EQ(ReadVariable(store, key, back, id, &cells, &data), kOk);
    if (!data) return -1;
    return static_cast<int32_t>((reinterpret_cast<const uint8_t*>(data) - bytes()) / 8 - Word(5) - 1);
  }
  int Undos(int32_t key) {
    int n = 0;
    while (StepVariableStateBack(store, key) == kOk) ++n;
    return n;
  }
  bool Consistent() { return CheckVariableStore(store, Word(0)) == kOk; }
};

TEST(VariableStore, InitLaysOutHeaderAndOneFreeBlock) {
  std::vector<uint64_t> small(8184 / 8);
  VariableStore* store = nullptr;
  EXPECT_EQ(InitVariableStore(&store, small.data(), 8184), kTooSmallUndoBuf);
  EXPECT_EQ(store, nullptr);

  Store s(8192);
  // capacity (8192 - 36) / 32 = 254 words; heap (8192 - 1016 - 36) / 8 = 892 cells from cell 132.
  const int32_t kWant[] = {8192, 16, 254, 0, 892, 132, 1};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(s.Word(i), kWant[i]) << i;
  EXPECT_EQ(s.Refs(0), 0);
  EXPECT_EQ(s.Word(2 * 132 + 1), 891);
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, SetsAddDeleteAndMoveDown) {
  Store s(8192);
  s.MakeSet(1, {10, 11});
  s.MakeSet(2, {20});
  s.MakeSet(3, {30, 31, 32});
  ASSERT_EQ(s.Put(1, 0, 10, {1.5}), kOk);
  ASSERT_EQ(s.Put(2, 0, 20, {2.5, 2.25}), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 2), kOk);  // set 2's value is shared by two states
  ASSERT_EQ(s.Put(3, 0, 32, {3.5, 3.25, 3.125}), kOk);
  const int32_t shared = s.Slot(2, 0, 20);
  EXPECT_EQ(s.Refs(shared), 2);

  EXPECT_EQ(AddVariableSet(s.store, 4), kOk);
  EXPECT_EQ(DeleteVariableSet(s.store, 2), kOk);
  EXPECT_EQ(s.Word(3), 3);
  EXPECT_LE(s.Refs(shared), 0);  // both states' references went with the set
  EXPECT_EQ(DeleteVariableSet(s.store, 2), kNonexistentUndoSet);
  EXPECT_EQ(OpenVariableState(s.store, 2), kNonexistentUndoSet);
  EXPECT_FALSE(HasEarlierVariableState(s.store, 2));
  EXPECT_EQ(s.Get(1, 0, 10), std::vector<double>({1.5}));
  EXPECT_EQ(s.Get(3, 0, 32), std::vector<double>({3.5, 3.25, 3.125}));
  EXPECT_FALSE(IsVariableDefined(s.store, 3, 0, 30));
  // The set after the deleted one still takes variables and a history.
  EXPECT_EQ(AddVariableToSet(s.store, 4, 40, 0), kOk);
  EXPECT_EQ(ResetVariableSetHistory(s.store, 4), kOk);
  EXPECT_EQ(s.Put(4, 0, 40, {4.0}), kOk);
  EXPECT_EQ(s.Get(3, 0, 32), std::vector<double>({3.5, 3.25, 3.125}));
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, VariablesAndTheirIds) {
  Store s(8192);
  ASSERT_EQ(AddVariableSet(s.store, 7), kOk);
  EXPECT_EQ(AddVariableToSet(s.store, 8, 1, 0), kNonexistentUndoSet);
  ASSERT_EQ(AddVariableToSet(s.store, 7, 100, 0), kOk);
  ASSERT_EQ(AddVariableToSet(s.store, 7, 101, 0), kOk);
  ASSERT_EQ(AddVariableToSet(s.store, 7, 102, kHistoryClearingFlag), kOk);
  ASSERT_EQ(AddVariableToSet(s.store, 7, 103, 0), kOk);
  EXPECT_EQ(AddVariableToSet(s.store, 7, 101, 0), kVarDuplicate);
  struct Case {
    int32_t index;
    bool withoutClearing;
    StatusCode want;
    int32_t id;
  };
  const Case kCases[] = {{0, false, kOk, 100},        {1, true, kOk, 101},         {2, false, kOk, 102},
                         {3, false, kOk, 103},        {2, true, kVarNotInSet, 0},  {3, true, kVarNotInSet, 0},
                         {4, false, kVarNotInSet, 0}, {-1, false, kVarNotInSet, 0}};
  for (const Case& c : kCases) {
    int32_t id = 0;
    EXPECT_EQ(GetSetVariableId(s.store, 7, c.index, c.withoutClearing, &id), c.want) << c.index;
    if (c.want == kOk) {
      EXPECT_EQ(id, c.id) << c.index;
    }
  }
  ASSERT_EQ(ResetVariableSetHistory(s.store, 7), kOk);
  // Once it has states, a new variable would shift the stored rows.
  EXPECT_EQ(AddVariableToSet(s.store, 7, 104, 0), kIllegal);
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, SetAreaRoomIsTestedAndResetStaysInside) {
  Store s(8192, 16384);  // 254 words of set area
  // Adding needs offset + 16n + length + 128 words: 7 variables at offset 0.
  ASSERT_EQ(AddVariableSet(s.store, 1), kOk);
  for (int32_t id = 0; id < 7; ++id) ASSERT_EQ(AddVariableToSet(s.store, 1, id, 0), kOk);
  EXPECT_EQ(AddVariableToSet(s.store, 1, 7, 0), kTooManyVarInUndoBuf);
  ASSERT_EQ(AddVariableSet(s.store, 2), kOk);
  for (int32_t id = 0; id < 6; ++id) ASSERT_EQ(AddVariableToSet(s.store, 2, id, 0), kOk);
  ASSERT_EQ(AddVariableSet(s.store, 3), kOk);
  for (int32_t id = 0; id < 5; ++id) ASSERT_EQ(AddVariableToSet(s.store, 3, id, 0), kOk);
  // Set 1 takes 5 + 18 * 7 words, moving sets 2 and 3 up; set 2's sixteen
  // rows would then pass the area's end.
  ASSERT_EQ(ResetVariableSetHistory(s.store, 1), kOk);
  ASSERT_EQ(s.Put(1, 0, 6, {6.0, 6.5}), kOk);
  EXPECT_EQ(ResetVariableSetHistory(s.store, 2), kTooManyVarInUndoBuf);
  EXPECT_TRUE(s.Consistent());
  EXPECT_EQ(AddVariableSet(s.store, 4), kTooManyVarInUndoBuf);
  EXPECT_EQ(ResizeVariableStore(s.store, 8000), kTooSmallUndoBuf);
  ASSERT_EQ(ResizeVariableStore(s.store, 16384), kOk);
  EXPECT_EQ(s.Word(2), (16384 - 36) / 32);
  ASSERT_EQ(ResetVariableSetHistory(s.store, 2), kOk);
  ASSERT_EQ(ResetVariableSetHistory(s.store, 3), kOk);
  ASSERT_EQ(s.Put(3, 0, 4, {3.0}), kOk);
  ASSERT_EQ(s.Put(2, 0, 5, {2.0}), kOk);
  EXPECT_EQ(s.Get(1, 0, 6), std::vector<double>({6.0, 6.5}));
  EXPECT_EQ(s.Get(2, 0, 5), std::vector<double>({2.0}));
  EXPECT_EQ(s.Get(3, 0, 4), std::vector<double>({3.0}));
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, SeventeenOpensKeepSixteenStates) {
  Store s(8192);
  s.MakeSet(1, {5});
  ASSERT_EQ(s.Put(1, 0, 5, {0.0}), kOk);
  for (int i = 1; i <= 17; ++i) {
    ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
    ASSERT_EQ(s.Put(1, 0, 5, {double(i)}), kOk);
  }
  EXPECT_EQ(StepVariableStateForward(s.store, 1), kCannotRedo);
  EXPECT_EQ(s.Get(1, 15, 5), std::vector<double>({2.0}));  // states 0 and 1 were pushed out
  int32_t cells = 0;
  const double* data = nullptr;
  EXPECT_EQ(ReadVariable(s.store, 1, 16, 5, &cells, &data), kNonexistentUndoSet);
  for (int i = 0; i < 15; ++i) ASSERT_EQ(StepVariableStateBack(s.store, 1), kOk) << i;
  EXPECT_EQ(StepVariableStateBack(s.store, 1), kCannotUndo);
  EXPECT_FALSE(HasEarlierVariableState(s.store, 1));
  EXPECT_TRUE(HasLaterVariableState(s.store, 1));
  EXPECT_EQ(s.Get(1, 0, 5), std::vector<double>({2.0}));
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, OpeningAfterUndoDropsRedoStates) {
  Store s(8192);
  s.MakeSet(1, {5});
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
    }
    ASSERT_EQ(s.Put(1, 0, 5, {double(i)}), kOk);
  }
  ASSERT_EQ(StepVariableStateBack(s.store, 1), kOk);
  ASSERT_EQ(StepVariableStateBack(s.store, 1), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  EXPECT_FALSE(HasLaterVariableState(s.store, 1));
  EXPECT_EQ(s.Get(1, 0, 5), std::vector<double>({1.0}));  // a copy of the state it opened from
  EXPECT_EQ(s.Refs(s.Slot(1, 0, 5)), 2);
  EXPECT_EQ(s.Undos(1), 2);
  EXPECT_TRUE(s.Consistent());  // the dropped states' values were released
}

TEST(VariableStore, DropLastStateAndStepLimits) {
  Store s(8192);
  ASSERT_EQ(AddVariableSet(s.store, 1), kOk);
  ASSERT_EQ(AddVariableToSet(s.store, 1, 5, 0), kOk);
  // Before the first reset there is no state at all.
  EXPECT_EQ(OpenVariableState(s.store, 1), kNonexistentUndoSet);
  EXPECT_EQ(DropLastVariableState(s.store, 1), kNonexistentUndoSet);
  ASSERT_EQ(ResetVariableSetHistory(s.store, 1), kOk);
  EXPECT_EQ(DropLastVariableState(s.store, 1), kNonexistentUndoSet);
  EXPECT_EQ(StepVariableStateBack(s.store, 1), kCannotUndo);
  EXPECT_EQ(StepVariableStateForward(s.store, 1), kCannotRedo);
  EXPECT_EQ(StepVariableStateBack(s.store, 9), kNonexistentUndoSet);
  EXPECT_EQ(StepVariableStateForward(s.store, 9), kNonexistentUndoSet);

  ASSERT_EQ(s.Put(1, 0, 5, {1.0}), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(s.Put(1, 0, 5, {2.0}), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(s.Put(1, 0, 5, {3.0}), kOk);
  // Dropping the newest while it is current: the state before becomes current.
  ASSERT_EQ(DropLastVariableState(s.store, 1), kOk);
  EXPECT_EQ(s.Get(1, 0, 5), std::vector<double>({2.0}));
  EXPECT_FALSE(HasLaterVariableState(s.store, 1));
  // Dropping the newest from an older current state keeps the current one.
  ASSERT_EQ(StepVariableStateBack(s.store, 1), kOk);
  ASSERT_EQ(DropLastVariableState(s.store, 1), kOk);
  EXPECT_EQ(s.Get(1, 0, 5), std::vector<double>({1.0}));
  EXPECT_EQ(DropLastVariableState(s.store, 1), kNonexistentUndoSet);
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, EmptyUndefinedAndToBeMade) {
  Store s(8192);
  s.MakeSet(1, {1, 2, 3});
  ASSERT_EQ(s.Put(1, 0, 1, {}), kOk);
  ASSERT_EQ(s.Put(1, 0, 3, {9.0}), kOk);
  struct Case {
    int32_t id;
    bool defined;
  };
  for (const Case& c : {Case{1, true}, Case{2, false}}) {
    int32_t cells = -1;
    const double sentinel = 0;
    const double* data = &sentinel;
    ASSERT_EQ(ReadVariable(s.store, 1, 0, c.id, &cells, &data), kOk);
    EXPECT_EQ(cells, 0) << c.id;
    EXPECT_EQ(data, nullptr) << c.id;
    EXPECT_EQ(IsVariableDefined(s.store, 1, 0, c.id), c.defined) << c.id;
  }
  int32_t cells = 0;
  const double* data = nullptr;
  EXPECT_EQ(ReadVariable(s.store, 1, 0, 4, &cells, &data), kVarNotInSet);
  EXPECT_EQ(ReadVariable(s.store, 1, 1, 1, &cells, &data), kNonexistentUndoSet);
  EXPECT_EQ(ReadVariable(s.store, 2, 0, 1, &cells, &data), kNonexistentUndoSet);
  EXPECT_EQ(MarkVariable(s.store, 1, 0, 4, true), kVarNotInSet);

  const int32_t slot = s.Slot(1, 0, 3);
  ASSERT_EQ(MarkVariable(s.store, 1, 0, 3, true), kOk);  // the value goes
  ASSERT_EQ(MarkVariable(s.store, 1, 0, 2, true), kOk);
  EXPECT_LE(s.Refs(slot), 0);
  EXPECT_TRUE(IsVariableToBeMade(s.store, 1, 0, 3));
  EXPECT_FALSE(IsVariableDefined(s.store, 1, 0, 3));
  EXPECT_TRUE(s.Consistent());
  // Marks belong to one state.
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(MarkVariable(s.store, 1, 0, 1, true), kOk);
  ClearToBeMadeMarks(s.store, 1, 1);
  EXPECT_FALSE(IsVariableToBeMade(s.store, 1, 1, 3));
  EXPECT_FALSE(IsVariableToBeMade(s.store, 1, 1, 2));
  EXPECT_TRUE(IsVariableToBeMade(s.store, 1, 0, 3));  // the copy in the new state
  EXPECT_TRUE(IsVariableToBeMade(s.store, 1, 0, 1));
  ClearToBeMadeMarks(s.store, 1, 0);
  for (int32_t id : {1, 2, 3}) {
    EXPECT_FALSE(IsVariableToBeMade(s.store, 1, 0, id)) << id;
    EXPECT_FALSE(IsVariableDefined(s.store, 1, 0, id)) << id;
  }
  ASSERT_EQ(MarkVariable(s.store, 1, 1, 2, false), kOk);
  EXPECT_FALSE(IsVariableDefined(s.store, 1, 1, 2));
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, WritesIntoOlderStates) {
  Store s(8192);
  s.MakeSet(1, {1});
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
    }
    ASSERT_EQ(s.Put(1, 0, 1, {double(i)}), kOk);
  }
  ASSERT_EQ(StepVariableStateBack(s.store, 1), kOk);  // current is state 2 of 0..3
  ASSERT_EQ(s.Put(1, 1, 1, {10.0}), kOk);             // state 1
  ASSERT_EQ(s.Put(1, -1, 1, {20.0, 21.0}), kOk);      // the oldest
  EXPECT_EQ(s.Put(1, 3, 1, {1.0}), kNonexistentUndoSet);
  EXPECT_EQ(s.Put(1, 0, 9, {1.0}), kVarNotInSet);
  EXPECT_EQ(s.Put(2, 0, 1, {1.0}), kNonexistentUndoSet);
  const std::vector<double> kWant[] = {{20.0, 21.0}, {10.0}, {2.0}};
  for (int back = 0; back < 3; ++back) EXPECT_EQ(s.Get(1, back, 1), kWant[2 - back]) << back;
  ASSERT_EQ(StepVariableStateForward(s.store, 1), kOk);
  EXPECT_EQ(s.Get(1, 0, 1), std::vector<double>({3.0}));
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, HistoryClearingWriteLeavesNothingToUndo) {
  Store s(8192);
  s.MakeSet(1, {1, 2}, {0, kHistoryClearingFlag});
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
    }
    ASSERT_EQ(s.Put(1, 0, 1, {double(i)}), kOk);
  }
  ASSERT_EQ(StepVariableStateBack(s.store, 1), kOk);
  ASSERT_EQ(s.Put(1, 0, 2, {7.0}), kOk);
  EXPECT_FALSE(HasEarlierVariableState(s.store, 1));
  EXPECT_EQ(StepVariableStateBack(s.store, 1), kCannotUndo);
  EXPECT_EQ(s.Get(1, 0, 1), std::vector<double>({2.0}));
  EXPECT_EQ(s.Get(1, 0, 2), std::vector<double>({7.0}));
  // The redo state stays.
  ASSERT_EQ(StepVariableStateForward(s.store, 1), kOk);
  EXPECT_EQ(s.Get(1, 0, 1), std::vector<double>({3.0}));
  // Written into an older state, the clearing write makes that state the oldest.
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(s.Put(1, 1, 2, {8.0}), kOk);
  EXPECT_EQ(s.Undos(1), 1);
  EXPECT_EQ(s.Get(1, 0, 2), std::vector<double>({8.0}));
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, FullHeapDropsOlderThenNewerStates) {
  Store s(8192);  // 892 heap cells
  s.MakeSet(1, {1, 2});
  // Older states: states 0 and 1 hold a 400-cell value each, state 2 shares state 1's.
  ASSERT_EQ(s.Fill(1, 0, 1, 400, 0.5), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(s.Fill(1, 0, 1, 400, 1.5), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(s.Fill(1, 0, 2, 400, 2.5), kOk);  // only state 0 can go: state 1 stays
  EXPECT_EQ(s.Get(1, 0, 2), std::vector<double>(400, 2.5));
  EXPECT_EQ(s.Undos(1), 1);
  EXPECT_EQ(s.Get(1, 0, 1), std::vector<double>(400, 1.5));
  EXPECT_FALSE(IsVariableDefined(s.store, 1, 0, 2));

  // Newer states: written from the older of the two states, the newer one goes.
  ASSERT_EQ(s.Fill(1, 0, 2, 300, 5.5), kOk);
  EXPECT_FALSE(HasLaterVariableState(s.store, 1));
  EXPECT_EQ(s.Get(1, 0, 1), std::vector<double>(400, 1.5));
  EXPECT_EQ(s.Get(1, 0, 2), std::vector<double>(300, 5.5));

  // Nothing left to drop: the write fails and leaves the variable undefined.
  EXPECT_EQ(s.Fill(1, 0, 2, 600, 6.5), kVarTooLargeForUndo);
  EXPECT_FALSE(IsVariableDefined(s.store, 1, 0, 2));
  EXPECT_EQ(s.Get(1, 0, 1), std::vector<double>(400, 1.5));
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, HeapTakesNoExactBlockAndCompactsOnDemand) {
  Store s(8192);
  int32_t a, b, c, d;
  ASSERT_EQ(AllocateHeapCells(s.store, 10, &a), kOk);
  ASSERT_EQ(AllocateHeapCells(s.store, 100, &b), kOk);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 11);
  ASSERT_EQ(AllocateHeapCells(s.store, 0, &c), kOk);
  EXPECT_EQ(c, kSlotUndefined);
  ReleaseHeapValue(s.store, a);
  EXPECT_EQ(s.Word(6) & 0xFF, 0);
  ASSERT_EQ(AllocateHeapCells(s.store, 10, &c), kOk);
  EXPECT_EQ(c, 112);  // ten free cells cannot hold ten cells and a header behind them
  ASSERT_EQ(AllocateHeapCells(s.store, 9, &d), kOk);
  EXPECT_EQ(d, 0);
  // Two neighbouring free blocks merge when a walk passes them.
  ReleaseHeapValue(s.store, d);
  ReleaseHeapValue(s.store, b);
  ASSERT_EQ(AllocateHeapCells(s.store, 105, &d), kOk);
  EXPECT_EQ(d, 0);
  // The rest (892 - 11 cells) is one block only after compaction.
  ReleaseHeapValue(s.store, d);
  ASSERT_EQ(AllocateHeapCells(s.store, 892 - 11 - 1 - 1, &d), kOk);
  EXPECT_EQ(d, 11);  // behind the 10-cell block, moved down to cell 0
  EXPECT_EQ(s.Word(6) & 0xFF, 1);
  int32_t e;
  EXPECT_EQ(AllocateHeapCells(s.store, 1, &e), kVarTooLargeForUndo);
}

TEST(VariableStore, CompactionRewritesEverySharingSlot) {
  Store s(8192);
  s.MakeSet(1, {1, 2});
  s.MakeSet(2, {1});
  ASSERT_EQ(s.Fill(1, 0, 1, 100, 1.0), kOk);  // a hole once released
  ASSERT_EQ(s.Fill(2, 0, 1, 50, 2.0), kOk);
  ASSERT_EQ(s.Fill(1, 0, 2, 20, 3.0), kOk);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 2), kOk);
  for (int back = 0; back < 4; ++back) ASSERT_EQ(s.Put(1, back, 1, {}), kOk);
  const int32_t before = s.Slot(1, 0, 2);
  ASSERT_EQ(s.Refs(before), 4);
  CompactVariableHeap(s.store);
  EXPECT_EQ(s.Slot(2, 0, 1), 0);
  EXPECT_EQ(s.Slot(2, 1, 1), 0);
  for (int back = 0; back < 4; ++back) {
    EXPECT_EQ(s.Slot(1, back, 2), 51) << back;
    EXPECT_EQ(s.Get(1, back, 2), std::vector<double>(20, 3.0)) << back;
  }
  EXPECT_EQ(s.Get(2, 1, 1), std::vector<double>(50, 2.0));
  EXPECT_EQ(s.Refs(51), 4);
  EXPECT_EQ(s.Refs(72), 0);
  EXPECT_EQ(s.Word(2 * (s.Word(5) + 72) + 1), 892 - 72 - 1);
  EXPECT_TRUE(s.Consistent());
}

TEST(VariableStore, ResizeMovesTheHeap) {
  Store s(8192, 32768);
  s.MakeSet(1, {1, 2});
  ASSERT_EQ(s.Fill(1, 0, 1, 250, 1.0), kOk);
  ASSERT_EQ(OpenVariableState(s.store, 1), kOk);
  ASSERT_EQ(s.Fill(1, 0, 2, 250, 2.0), kOk);
  EXPECT_EQ(s.Fill(1, 0, 1, 600, 3.0), kVarTooLargeForUndo);
  ASSERT_EQ(s.Fill(1, 0, 1, 250, 1.0), kOk);
  const int32_t start = s.Word(5);
  ASSERT_EQ(ResizeVariableStore(s.store, 32768), kOk);
  EXPECT_EQ(s.Word(0), 32768);
  EXPECT_EQ(s.Word(2), (32768 - 36) / 32);
  EXPECT_EQ(s.Word(4), (32768 - 4 * s.Word(2) - 36) / 8);
  EXPECT_EQ(s.Word(5), 32768 / 8 - s.Word(4));
  EXPECT_GT(s.Word(5), start);
  EXPECT_TRUE(s.Consistent());
  EXPECT_EQ(s.Get(1, 1, 1), std::vector<double>(250, 1.0));
  EXPECT_EQ(s.Get(1, 0, 2), std::vector<double>(250, 2.0));
  ASSERT_EQ(s.Fill(1, 0, 1, 2000, 3.0), kOk);
  EXPECT_EQ(s.Undos(1), 1);
  EXPECT_EQ(s.Get(1, 0, 1), std::vector<double>(250, 1.0));
  EXPECT_TRUE(s.Consistent());
}

// ---------------------------------------------------------------------------
// Restore from image bytes

struct ByteReader {
  std::vector<uint8_t> bytes;
  size_t at = 0;
  static bool Read(void* buffer, int32_t n, void* data) {
    auto* r = static_cast<ByteReader*>(data);
    if (n < 0 || r->at + n > r->bytes.size()) return false;
    std::memcpy(buffer, r->bytes.data() + r->at, n);
    r->at += n;
    return true;
  }
};

// The image chunks of a store: header and set area through the first heap
// cell, then the heap.
struct Image {
  int64_t headerBytes;
  int64_t heapCells;
  std::vector<uint8_t> bytes;
};

Image ImageOf(Store& s) {
  Image image;
  image.headerBytes = 8 * (int64_t{s.Word(5)} + 1);
  image.heapCells = s.Word(4);
  image.bytes.assign(s.bytes(), s.bytes() + image.headerBytes);
  const uint8_t* heap = s.bytes() + 8 * int64_t{s.Word(5)};
  image.bytes.insert(image.bytes.end(), heap, heap + 8 * image.heapCells);
  return image;
}

Store SampleStore() {
  Store s(8192);
  s.MakeSet(0, {100, 101});
  s.MakeSet(3, {7});
  EXPECT_EQ(s.Fill(0, 0, 100, 30, 1.0), kOk);
  EXPECT_EQ(s.Fill(3, 0, 7, 3, 2.0), kOk);
  EXPECT_EQ(OpenVariableState(s.store, 0), kOk);
  EXPECT_EQ(s.Fill(0, 0, 101, 5, 3.0), kOk);
  EXPECT_EQ(s.Put(0, 0, 100, {}), kOk);
  EXPECT_EQ(OpenVariableState(s.store, 3), kOk);  // two references to one block
  return s;
}

TEST(VariableStoreRestore, ReadsAnImageIntoALargerRegion) {
  Store source = SampleStore();
  const Image image = ImageOf(source);

  // The room test: the store's doubles must hold B / 8 + H + 1.
  const int64_t need = 8 * (image.headerBytes / 8 + image.heapCells + 1);
  {
    Store small(8192);
    ASSERT_LT(8192, need);
    EXPECT_EQ(RestoreVariableStore(small.store, image.headerBytes, image.heapCells, nullptr, nullptr),
              kVarTooLargeForUndo);
    Store fits(need, need);
    EXPECT_EQ(RestoreVariableStore(fits.store, image.headerBytes, image.heapCells, nullptr, nullptr), kOk);
  }
  Store target(65536);
  ByteReader reader{image.bytes};
  ASSERT_EQ(RestoreVariableStore(target.store, image.headerBytes, image.heapCells, &ByteReader::Read, &reader), kOk);
  EXPECT_EQ(reader.at, image.bytes.size());
  EXPECT_EQ(target.Word(0), 65536);
  EXPECT_EQ(target.Word(2), (65536 - 36) / 32);
  EXPECT_TRUE(target.Consistent());
  EXPECT_TRUE(IsVariableDefined(target.store, 0, 0, 100));
  EXPECT_EQ(target.Get(0, 0, 100), std::vector<double>());
  EXPECT_EQ(target.Get(0, 1, 100), std::vector<double>(30, 1.0));
  EXPECT_EQ(target.Get(0, 0, 101), std::vector<double>(5, 3.0));
  EXPECT_EQ(target.Get(3, 0, 7), std::vector<double>(3, 2.0));
  // The restored store goes on working, with the room of its new size.
  ASSERT_EQ(target.Fill(3, 0, 7, 5000, 4.0), kOk);
  ASSERT_EQ(StepVariableStateBack(target.store, 0), kOk);
  EXPECT_EQ(target.Get(0, 0, 101), std::vector<double>());
  EXPECT_TRUE(target.Consistent());

  // Sizes without a header, and a read that fails, are initialization errors.
  for (const int64_t headerBytes : {int64_t{0}, int64_t{32}}) {
    Store empty(65536);
    ByteReader none{image.bytes};
    EXPECT_EQ(RestoreVariableStore(empty.store, headerBytes, 10, &ByteReader::Read, &none), kInitError) << headerBytes;
  }
  Store cut(65536);
  ByteReader shortReader{std::vector<uint8_t>(image.bytes.begin(), image.bytes.end() - 8)};
  EXPECT_EQ(RestoreVariableStore(cut.store, image.headerBytes, image.heapCells, &ByteReader::Read, &shortReader),
            kInitError);
}

TEST(VariableStoreRestore, KeepsASetAreaLargerThanTheRegionsShare) {
  // An image whose sets take 960 words, more than an 8192-byte store's 254.
  Store big(65536);
  for (int32_t key = 0; key < 10; ++key) big.MakeSet(key, {1, 2, 3, 4, 5});
  const int64_t headerBytes = 8 * ((28 + 4 * 960) / 8 + 2);
  Image image{headerBytes, 100, std::vector<uint8_t>(big.bytes(), big.bytes() + headerBytes)};
  const uint32_t freeBlock[2] = {0, 99};
  image.bytes.insert(image.bytes.end(), reinterpret_cast<const uint8_t*>(freeBlock),
                     reinterpret_cast<const uint8_t*>(freeBlock) + 8);
  image.bytes.resize(headerBytes + 800);

  Store target(8192);
  ByteReader reader{image.bytes};
  ASSERT_EQ(RestoreVariableStore(target.store, headerBytes, 100, &ByteReader::Read, &reader), kOk);
  EXPECT_GE(target.Word(2), 950);
  EXPECT_GE(target.Word(4), 100);
  EXPECT_TRUE(target.Consistent());
  ASSERT_EQ(target.Fill(9, 0, 5, 40, 9.0), kOk);
  ASSERT_EQ(OpenVariableState(target.store, 9), kOk);
  EXPECT_EQ(target.Get(9, 0, 5), std::vector<double>(40, 9.0));
  EXPECT_EQ(AddVariableSet(target.store, 10), kTooManyVarInUndoBuf);
  EXPECT_TRUE(target.Consistent());
}

TEST(VariableStoreRestore, RefusesCorruptedImages) {
  Store source = SampleStore();
  const Image image = ImageOf(source);
  // Word offsets into the image: set 0 starts at word 7 with two variables, so
  // its slot rows start at word 16; the heap's chunk follows the header bytes.
  const int64_t heapWord = image.headerBytes / 4;
  const int32_t slot0 = source.Slot(0, 1, 100);
  struct Corruption {
    const char* what;
    int64_t word;
    int32_t value;
  };
  const Corruption kCorruptions[] = {
      {"depth not 16", 1, 15},
      {"a set count beyond the sets", 3, 3},
      {"a negative set count", 3, -1},
      {"a set longer than the area", 7, 100000},
      {"a set shorter than its pairs", 7, 6},
      {"a set with pairs but no full rows", 7, 5 + 2 * 2 + 4},
      {"more states than the depth", 7 + 3, 17},
      {"current state past the used ones", 7 + 4, 2},
      {"a negative current state", 7 + 4, -1},
      {"a slot below to-be-made", 16, -4},
      {"a slot inside a block", 16, slot0 + 1},
      {"a slot past the heap", 16, 100000},
      {"a slot on a free block", 16 + 2 + 1, 41},
      {"a slot between blocks' headers", 16 + 2 + 1, int32_t(source.Word(4) - 1)},
      {"a reference count too high", heapWord + 2 * slot0, 2},
      {"a reference count too low", heapWord + 2 * 31, 1},
      {"a block past the heap's end", heapWord + 2 * slot0 + 1, 100000},
      {"a block short of the heap's end", heapWord + 2 * slot0 + 1, 29},
  };
  // The slot of the 30-cell value, state 0, before corruption: a valid baseline.
  ASSERT_EQ(slot0, 0);
  for (const Corruption& c : kCorruptions) {
    Image copy = image;
    std::memcpy(copy.bytes.data() + 4 * c.word, &c.value, 4);
    Store target(65536);
    ByteReader reader{copy.bytes};
    EXPECT_EQ(RestoreVariableStore(target.store, copy.headerBytes, copy.heapCells, &ByteReader::Read, &reader),
              kInitError)
        << c.what;
  }
  Store target(65536);
  ByteReader reader{image.bytes};
  EXPECT_EQ(RestoreVariableStore(target.store, image.headerBytes, image.heapCells, &ByteReader::Read, &reader), kOk);
}

// ---------------------------------------------------------------------------
// Randomized: opens, writes, undos, redos, drops and compactions against a
// model that keeps every state's values.

TEST(VariableStore, RandomOperationsMatchAModel) {
  using Value = std::optional<std::vector<double>>;  // nullopt: undefined
  struct ModelSet {
    std::vector<std::vector<Value>> rows;
    int current = 0;
  };
  constexpr int kVars = 3;
  const int32_t kKeys[] = {4, 9};
  Store s(16384);
  ModelSet model[2];
  for (int k = 0; k < 2; ++k) {
    // The last variable of set 9 clears the history.
    s.MakeSet(kKeys[k], {1, 2, 3}, {0, 0, k == 1 ? kHistoryClearingFlag : 0});
    model[k].rows.assign(1, std::vector<Value>(kVars));
  }
  std::mt19937 rng(12345);
  double next = 1.0;
  for (int step = 0; step < 4000; ++step) {
    const int k = static_cast<int>(rng() % 2);
    const int32_t key = kKeys[k];
    ModelSet& m = model[k];
    const int op = static_cast<int>(rng() % 10);
    std::string what;
    if (op < 2) {
      what = "open";
      ASSERT_EQ(OpenVariableState(s.store, key), kOk);
      m.rows.resize(m.current + 1);
      if (m.rows.size() == kHistoryDepth) {
        m.rows.erase(m.rows.begin());
        --m.current;
      }
      m.rows.push_back(m.rows[m.current]);
      ++m.current;
    } else if (op < 6) {
      const int var = static_cast<int>(rng() % kVars);
      const int back = static_cast<int>(rng() % (m.current + 2)) - 1;  // -1 is the oldest
      const int row = back < 0 ? 0 : m.current - back;
      const int cells = static_cast<int>(rng() % 9);
      std::vector<double> value(cells);
      for (double& x : value) x = next++;
      what = "write " + std::to_string(var) + " back " + std::to_string(back);
      ASSERT_EQ(s.Put(key, back, var + 1, value), kOk) << step;
      m.rows[row][var] = value;
      if (k == 1 && var == 2 && cells > 0) {
        m.rows.erase(m.rows.begin(), m.rows.begin() + row);
        m.current -= row;
      }
    } else if (op == 6) {
      what = "undo";
      ASSERT_EQ(StepVariableStateBack(s.store, key), m.current > 0 ? kOk : kCannotUndo);
      if (m.current > 0) --m.current;
    } else if (op == 7) {
      what = "redo";
      const bool can = m.current + 1 < static_cast<int>(m.rows.size());
      ASSERT_EQ(StepVariableStateForward(s.store, key), can ? kOk : kCannotRedo);
      if (can) ++m.current;
    } else if (op == 8) {
      what = "drop last";
      const bool can = m.rows.size() >= 2;
      ASSERT_EQ(DropLastVariableState(s.store, key), can ? kOk : kNonexistentUndoSet);
      if (can) {
        m.rows.pop_back();
        if (m.current >= static_cast<int>(m.rows.size())) m.current = static_cast<int>(m.rows.size()) - 1;
      }
    } else {
      what = "compact";
      CompactVariableHeap(s.store);
    }
    for (int j = 0; j < 2; ++j) {
      const ModelSet& mj = model[j];
      ASSERT_EQ(HasEarlierVariableState(s.store, kKeys[j]), mj.current > 0) << step << " " << what;
      ASSERT_EQ(HasLaterVariableState(s.store, kKeys[j]), mj.current + 1 < static_cast<int>(mj.rows.size()))
          << step << " " << what;
      for (int r = 0; r < static_cast<int>(mj.rows.size()); ++r)
        for (int v = 0; v < kVars; ++v) {
          const int back = mj.current - r;
          const Value& want = mj.rows[r][v];
          ASSERT_EQ(IsVariableDefined(s.store, kKeys[j], back, v + 1), want.has_value()) << step << " " << what;
          ASSERT_EQ(s.Get(kKeys[j], back, v + 1), want.value_or(std::vector<double>())) << step << " " << what;
        }
    }
    ASSERT_TRUE(s.Consistent()) << step << " " << what;
  }
}

}  // namespace
