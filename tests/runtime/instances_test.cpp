// Instance records: creation and deletion in region 1, moving the records,
// the title, version and help texts, and the placing of subplots in a grid or
// by their springs.
#include <cstring>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tests/runtime/runtimefixture.h"

namespace {

int32_t StoreDoubles(RuntimeBlock* b) { return ReadBlockStoreHeader(RuntimeBlockStore(b)).areaLength; }

TEST(Instances, CreateAndDeleteKeepRecordsPackedAtTheRegionEnd) {
  TestRuntime rt;
  RuntimeBlock* b = rt.block;
  int32_t ids[3] = {};
  for (int32_t& id : ids) ASSERT_EQ(CreateInstance(b, &id), kOk);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[2], 3);
  EXPECT_EQ(b->instanceCount, 4);
  EXPECT_EQ(InstanceRecordAt(b, 3)->id, 3);
  EXPECT_EQ(InstanceRecordAt(b, 3)->language, -2);
  EXPECT_EQ(InstanceRecordAt(b, 3)->builtIn, 0);
  // The store gave up exactly the room of the records.
  EXPECT_EQ(StoreDoubles(b), BlockStoreDoubles(b, 4) - 4);

  InstanceRecordAt(b, 3)->optionBits = 0x55;
  const int32_t before = StoreDoubles(b);
  DeleteInstanceRecord(b, 2);
  EXPECT_EQ(b->instanceCount, 3);
  EXPECT_EQ(InstanceRecordAt(b, 2)->id, 3);
  EXPECT_EQ(InstanceRecordAt(b, 2)->optionBits, 0x55u);
  EXPECT_EQ(FindInstanceRecord(b, 2), nullptr);
  EXPECT_EQ(StoreDoubles(b) - before, kInstanceRecordBytes / 8) << "the freed record goes to the store";
  int32_t cells = 0;
  const double* data = nullptr;
  EXPECT_NE(ReadVariable(RuntimeVariableStore(b), 2, 0, kVarTitle, &cells, &data), kOk) << "the set stayed";

  // Instance 0 is emptied, never removed.
  DeleteInstanceRecord(b, 0);
  EXPECT_EQ(b->instanceCount, 3);
  EXPECT_EQ(InstanceRecordAt(b, 0)->id, 0);
  int32_t next = 0;
  ASSERT_EQ(CreateInstance(b, &next), kOk);
  EXPECT_EQ(next, 4) << "ids are never reused";
}

TEST(Instances, AFailedCreateLeavesNothingBehind) {
  TestRuntime rt;
  RuntimeBlock* b = rt.block;
  // A display list that fills the store: it cannot give up a record's room.
  double* payload = nullptr;
  int32_t capacity = 0;
  int32_t total = 0;
  FindLargestFreeBlock(RuntimeBlockStore(b), &payload, &capacity, true, &total);
  ASSERT_TRUE(CommitBlockAt(RuntimeBlockStore(b), 0, payload, capacity));
  int32_t id = -7;
  EXPECT_EQ(CreateInstance(b, &id), kExhaustedRsrc);
  EXPECT_EQ(id, -7);
  EXPECT_EQ(b->instanceCount, 1);
  EXPECT_EQ(b->nextInstanceId, 1);
  EXPECT_NE(AddVariableSet(RuntimeVariableStore(b), 1), kVarDuplicate);
}

TEST(Instances, MoveInstanceRecordsEitherWayOverOverlap) {
  constexpr int kCount = 3;
  for (const int shift : {8, -8, 4 * kInstanceRecordBytes, -4 * kInstanceRecordBytes}) {
    std::vector<uint8_t> region(size_t{12} * kInstanceRecordBytes);
    uint8_t* oldEnd = region.data() + 7 * kInstanceRecordBytes;
    for (int i = 0; i < kCount; ++i) {
      uint8_t* r = oldEnd - (i + 1) * kInstanceRecordBytes;
      std::memset(r, 10 + i, kInstanceRecordBytes);
      std::memcpy(r, &i, 4);
    }
    uint8_t* newEnd = oldEnd + shift;
    MoveInstanceRecords(newEnd, oldEnd, kCount);
    for (int i = 0; i < kCount; ++i) {
      const uint8_t* r = newEnd - (i + 1) * kInstanceRecordBytes;
      int32_t id = -1;
      std::memcpy(&id, r, 4);
      EXPECT_EQ(id, i) << shift;
      EXPECT_EQ(r[kInstanceRecordBytes - 1], 10 + i) << shift;
    }
  }
}

struct TextRuntime : TestRuntime {
  TextRuntime() {
    SetRuntimeCharset(block, 'u');
    CodeItemBuilder code;
    code.Head(0, 0, "app");
    code.Text(kItemTitle, "Title **raw**");
    code.Text(kItemVersion, "Version **1** \xc3\xa9");
    code.Text(kItemHelp, "Help text");
    LoadCode(code);
    EXPECT_EQ(ResetVariableSetHistory(RuntimeVariableStore(block), 0), kOk);
  }
};

TEST(Instances, TextsComeFromTheVariableBeforeTheItem) {
  TextRuntime rt;
  ASSERT_EQ(PushInstanceText(rt.block, 0, 't', false), kOk);
  EXPECT_EQ(rt.PopText(), "Title **raw**");
  EXPECT_EQ(PushInstanceText(rt.block, 0, 't', true), kUndefElement);

  ASSERT_EQ(SetInstanceText(rt.block, 0, 't', "Set title", 9), kOk);
  ASSERT_EQ(PushInstanceText(rt.block, 0, 't', true), kOk);
  EXPECT_EQ(rt.PopText(), "Set title");
  // An empty value gives the item back.
  ASSERT_EQ(SetInstanceText(rt.block, 0, 't', nullptr, 0), kOk);
  ASSERT_EQ(PushInstanceText(rt.block, 0, 't', false), kOk);
  EXPECT_EQ(rt.PopText(), "Title **raw**");

  EXPECT_EQ(PushInstanceText(rt.block, 0, 'x', false), kIllegal);
  EXPECT_EQ(SetInstanceText(rt.block, 0, 'x', "a", 1), kIllegal);
  EXPECT_EQ(PushInstanceText(rt.block, 5, 't', false), kNonexistentInstance);
}

TEST(Instances, SetTextWritesTheOldestState) {
  TextRuntime rt;
  VariableStore* store = RuntimeVariableStore(rt.block);
  ASSERT_EQ(OpenVariableState(store, 0), kOk);
  ASSERT_EQ(OpenVariableState(store, 0), kOk);
  ASSERT_EQ(SetInstanceText(rt.block, 0, 'h', "Old", 3), kOk);
  EXPECT_TRUE(IsVariableDefined(store, 0, 2, kVarHelp));
  EXPECT_FALSE(IsVariableDefined(store, 0, 0, kVarHelp));
}

TEST(Instances, TextKindsAndFormats) {
  TextRuntime rt;
  const char* text = nullptr;
  int32_t length = 0;
  // The title is always raw.
  ASSERT_EQ(GetInstanceTitle(rt.block, 0, &text, &length), kOk);
  EXPECT_EQ(std::string(text, length), "Title **raw**");

  ASSERT_EQ(GetInstanceVersionText(rt.block, 0, 'n', 10, &text, &length), kOk);
  EXPECT_EQ(std::string(text, length), "Version **1** \xc3\xa9");
  struct Case {
    char format;
    const char* contains;
  };
  const Case kCases[] = {{'h', "<"}, {'r', "{\\rtf"}, {'p', "Version 1"}};
  for (const Case& c : kCases) {
    ASSERT_EQ(GetInstanceVersionText(rt.block, 0, c.format, 10, &text, &length), kOk) << c.format;
    const std::string got(text, length);
    EXPECT_NE(got.find(c.contains), std::string::npos) << c.format << ": " << got;
    EXPECT_EQ(got.find("**"), std::string::npos) << c.format << ": " << got;
  }
  ASSERT_EQ(GetInstanceHelpText(rt.block, 0, 'p', 10, &text, &length), kOk);
  EXPECT_NE(std::string(text, length).find("Help text"), std::string::npos);

  // A head cut short, or no code at all: the instance has no block.
  RuntimeCodeWords(rt.block)[1] = 0;
  EXPECT_EQ(GetInstanceHelpText(rt.block, 0, 'p', 10, &text, &length), kNonexistentInstance);
  rt.block->codeWordsUsed = 0;
  EXPECT_EQ(GetInstanceHelpText(rt.block, 0, 'n', 10, &text, &length), kNonexistentInstance);
}

TEST(Instances, EmptyTextIsUndefined) {
  TextRuntime rt;
  CodeItemBuilder code;
  code.Head(0, 0, "app");
  code.Text(kItemHelp, "");
  rt.LoadCode(code);
  const char* text = nullptr;
  int32_t length = 0;
  EXPECT_EQ(GetInstanceHelpText(rt.block, 0, 'n', 10, &text, &length), kUndefElement);
  EXPECT_EQ(GetInstanceTitle(rt.block, 0, &text, &length), kUndefElement);
}

// ---------------------------------------------------------------------------
// Layout.

void Rect(const InstanceRecord* r, int k, double out[4]) { std::memcpy(out, r->subplots[k].subplotRect, 32); }

TEST(Instances, GridRowsFollowTheBoxDirection) {
  TestRuntime rt;
  InstanceRecord* r = InstanceRecordAt(rt.block, 0);
  r->rows = 2;
  struct Case {
    double y0, y1;
    double want[2][2];  // per subplot: top, bottom
  };
  const Case kCases[] = {{0, 200, {{0, 100}, {100, 200}}}, {200, 0, {{200, 100}, {100, 0}}}};
  for (const Case& c : kCases) {
    r->box[0] = 0;
    r->box[1] = 300;
    r->box[2] = c.y0;
    r->box[3] = c.y1;
    ApplyLayoutToSubplots(r);
    for (int k = 0; k < 2; ++k) {
      double rect[4];
      Rect(r, k, rect);
      EXPECT_EQ(rect[0], 0) << c.y0;
      EXPECT_EQ(rect[1], 300) << c.y0;
      EXPECT_EQ(rect[2], c.want[k][0]) << c.y0 << " subplot " << k;
      EXPECT_EQ(rect[3], c.want[k][1]) << c.y0 << " subplot " << k;
    }
  }
}

TEST(Instances, SpringsShareABoxChange) {
  struct Case {
    const char* what;
    double springs[6];
    double want[4];  // x0, x1, y0, y1 after the box grows from 100 to 200 each way
  };
  const Case kCases[] = {
      {"all 1: far edges take it", {1, 1, 1, 1, 1, 1}, {10, 160, 20, 150}},
      {"all 0.5: in proportion", {0.5, 0.5, 0.5, 0.5, 0.5, 0.5}, {20, 120, 40, 100}},
      {"fixed size", {1, 1, 0, 1, 1, 0}, {10, 60, 20, 50}},
      {"margin before 0 alone: moves", {0, 0.5, 0.5, 0, 0.5, 0.5}, {110, 160, 120, 150}},
      {"both margins 0: halves", {0, 1, 0, 0, 1, 0}, {60, 110, 70, 100}},
      {"all 0: thirds", {0, 0, 0, 0, 0, 0}, {10 + 100 / 3.0, 60 + 200 / 3.0, 20 + 100 / 3.0, 50 + 200 / 3.0}},
      {"clamped into [0, 1]", {-3, 1, 7, -3, 1, 7}, {110, 160, 120, 150}},
  };
  for (const Case& c : kCases) {
    TestRuntime rt;
    InstanceRecord* r = InstanceRecordAt(rt.block, 0);
    r->freeLayout = 1;
    const double box[4] = {0, 100, 0, 100};
    std::memcpy(r->box, box, sizeof box);
    SetSubplotPixelRect(&r->subplots[0], 10, 60, 20, 50);
    std::memcpy(r->springs[0], c.springs, sizeof c.springs);
    ASSERT_EQ(SetInstanceViewArea(&rt.block, 0, 0, 200, 0, 200), kOk);
    double rect[4];
    Rect(r, 0, rect);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(rect[i], c.want[i], 1e-9) << c.what << " edge " << i;
  }
}

TEST(Instances, SpringsOfAYUpDeviceMeasureFromTheBottom) {
  TestRuntime rt;
  DrawingDevice device = kInitialRuntimeDevice;
  device.yUp = 1;
  SetDrawingDevice(rt.block, &device);
  InstanceRecord* r = InstanceRecordAt(rt.block, 0);
  r->freeLayout = 1;
  const double box[4] = {0, 100, 100, 0};
  std::memcpy(r->box, box, sizeof box);
  SetSubplotPixelRect(&r->subplots[0], 10, 60, 80, 50);
  // Fixed size keeps the distance from the top edge: the bottom margin takes the change.
  const double springs[6] = {1, 1, 0, 1, 1, 0};
  std::memcpy(r->springs[0], springs, sizeof springs);
  ASSERT_EQ(SetInstanceViewArea(&rt.block, 0, 0, 200, 200, 0), kOk);
  double rect[4];
  Rect(r, 0, rect);
  EXPECT_EQ(rect[2], 180);
  EXPECT_EQ(rect[3], 150);
  EXPECT_EQ(SetInstanceViewArea(&rt.block, 8, 0, 1, 0, 1), kNonexistentInstance);
}

}  // namespace
