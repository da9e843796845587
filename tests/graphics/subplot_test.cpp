#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "graphics/graphics.h"

namespace {

SubplotRecord Fresh() {
  SubplotRecord r;
  std::memset(&r, 0, sizeof r);
  InitSubplotRecord(&r);
  return r;
}

template <typename T>
T At(const SubplotRecord& r, size_t offset) {
  T v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&r) + offset, sizeof v);
  return v;
}

std::string Field(const uint8_t* field, size_t size) {
  return std::string(reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), size));
}

// The stored format read byte-wise at its offsets, as a saved image holds it.
TEST(SubplotRecord, InitialisedFieldsSitAtTheirStoredOffsets) {
  SubplotRecord r;
  std::memset(&r, 0xAB, sizeof r);
  InitSubplotRecord(&r);
  struct DoubleCase {
    size_t offset;
    double want;
  };
  const DoubleCase kDoubles[] = {
      {24, 1e30},  {40, 1e30},  {48, -1e30}, {64, -1e30}, {96, 1e30},  {104, -1e30}, {136, -1e30}, {144, 0},
      {152, 1000}, {168, 1000}, {176, 0},    {184, 1000}, {200, 1000}, {208, 0},     {232, 0},     {280, 12},
      {288, 20},   {344, -3},   {352, -2},   {360, 1},    {368, 0},    {392, 0},     {408, 1},     {424, 1},
      {440, 1},    {464, 1},    {480, 1},    {624, 1},    {640, 1},    {648, 10},    {656, 4},     {664, 2},
  };
  for (const DoubleCase& c : kDoubles) EXPECT_EQ(At<double>(r, c.offset), c.want) << "offset " << c.offset;
  struct IntCase {
    size_t offset;
    int32_t want;
  };
  const IntCase kInts[] = {{4, 0}, {8, 0}, {12, 0}, {328, 0}, {336, 15}, {620, 0}, {672, 0}, {676, 0x138BBB}};
  for (const IntCase& c : kInts) EXPECT_EQ(At<int32_t>(r, c.offset), c.want) << "offset " << c.offset;
  struct ByteCase {
    size_t offset;
    uint8_t want;
  };
  const ByteCase kBytes[] = {{0, 0},   {16, 0},  {272, 0}, {273, 0}, {274, 1}, {332, 0}, {416, 1}, {432, 1},
                             {616, 0}, {680, 0}, {681, 0}, {744, 0}, {745, 0}, {792, 0}, {793, 0}};
  for (const ByteCase& c : kBytes) EXPECT_EQ(At<uint8_t>(r, c.offset), c.want) << "offset " << c.offset;
  // The pressed control, the zoom bounds and the runtime's words are not the record's to set.
  for (size_t offset : {72, 80, 88, 240, 264, 800, 844}) {
    EXPECT_EQ(At<uint8_t>(r, offset), 0xAB) << "offset " << offset;
  }
  // The view is computed: an orthographic camera at (-3, -2, 1) looks at the origin.
  EXPECT_DOUBLE_EQ(At<double>(r, 488 + 11 * 8), -1);
  EXPECT_EQ(At<double>(r, 488 + 15 * 8), 1);
}

TEST(SubplotRecord, TitlesAndAxisNamesAreCutToTheirFields) {
  SubplotRecord r = Fresh();
  const std::string full(64, 't');
  SetSubplotTitle(&r, full.c_str(), 64);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.title), 64), full);
  EXPECT_EQ(r.axisName[0][0], 0) << "a full title has no terminator and spills nothing";

  const std::string longer = std::string(64, 'a') + "bbbbbb";
  SetSubplotTitle(&r, longer.c_str(), 70);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.title), 64), std::string(64, 'a'));
  SetSubplotTitle(&r, "short\0hidden", -1);
  EXPECT_EQ(Field(r.title, 64), "short");
  EXPECT_EQ(r.title[5], 0);
  EXPECT_EQ(r.title[63], 0) << "the rest of the field is zero-filled";
  SetSubplotTitle(&r, nullptr, 5);
  EXPECT_EQ(r.title[0], 0) << "no text clears the title";

  SetAxisLabels(&r, "time", -1, "voltage", -1, "depth", -1);
  SetAxisLabels(&r, "abcdefghijklmnopqrst", 20, nullptr, 0, "zz", 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.axisName[0]), 16), "abcdefghijklmnop");
  EXPECT_EQ(Field(r.axisName[1], 16), "voltage");
  EXPECT_EQ(Field(r.axisName[2], 16), "zz");
  EXPECT_EQ(r.scaleTypeExplicit, 0) << "the z name stays inside its field";
}

TEST(SubplotRecord, OptionsShowOnlyWhatTheSubplotCanDraw) {
  SubplotRecord r = Fresh();
  EXPECT_EQ(GetPlotOptions(&r), kDefaultPlotOptions & ~(kOptionFrame | kOptionLabel))
      << "no mapping: no frame; no title: no label";
  EXPECT_EQ(GetApplicablePlotOptions(&r), kOptionMargin);

  const double x[] = {0, 1}, y[] = {0, 1};
  ExtendAutoLimits(&r, x, y, nullptr, 2);
  SetSubplotTitle(&r, "Step", -1);
  EXPECT_EQ(GetPlotOptions(&r), kDefaultPlotOptions);
  EXPECT_EQ(GetApplicablePlotOptions(&r), 0x118044);
  SetSubplot3D(&r, true);
  EXPECT_EQ(GetApplicablePlotOptions(&r), 0x118444);
  SetContentPlotOptions(&r, 0x26000 | 0x1);
  EXPECT_EQ(GetApplicablePlotOptions(&r), 0x13E444) << "content bits outside 0xE7000 do not count";
  SetPlotOptions(&r, 0, kOptionMargin);
  EXPECT_EQ(GetApplicablePlotOptions(&r) & kOptionLabel, 0) << "no margin: nowhere to put the title";
}

TEST(SubplotRecord, GridLevelFollowsTheContentUntilOptionsAreExplicit) {
  SubplotRecord r = Fresh();
  SetContentGridOptions(&r, 0x2000, 0x4000);
  EXPECT_EQ(r.plotOptions & 0x7000, 0x4000);
  EXPECT_EQ(r.contentOptions, 0x2000);
  SetContentGridOptions(&r, 0x1000, 0x2000);
  EXPECT_EQ(r.plotOptions & 0x7000, 0x4000) << "the first grid made the options explicit";
  EXPECT_EQ(r.contentOptions, 0x1000);
}

TEST(SubplotRecord, MarginOptionChangesThePlotRectangle) {
  SubplotRecord r = Fresh();
  SetSubplotMargins(&r, 5, 1, 1.5, 2);
  EXPECT_EQ(r.plotRect[0], 60);
  EXPECT_EQ(r.plotRect[3], 960);
  EXPECT_TRUE(IsSubplotMetricsCurrent(&r));
  SetPlotOptions(&r, 0, kOptionMargin);
  EXPECT_EQ(r.plotRect[0], 0);
  EXPECT_EQ(r.plotRect[3], 1000);
  MarkSubplotScaleStale(&r);
  EXPECT_FALSE(IsSubplotMetricsCurrent(&r));
}

TEST(SubplotRecord, ExplicitScaleTypeKeepsTheLogarithmicBits) {
  SubplotRecord r = Fresh();
  const double x[] = {1, 100}, y[] = {0, 1};
  ExtendAutoLimits(&r, x, y, nullptr, 2);
  SetScaleType(&r, 7, kScaleLogX);
  EXPECT_EQ(r.scaleFlags, kScaleLogX);
  EXPECT_EQ(r.scaleTypeExplicit, 1);
  EXPECT_EQ(r.secondaryScaleCode, 7);
  double px[1];
  const double ten[] = {10};
  DataToPixel(&r, ten, nullptr, nullptr, 1, px, nullptr, nullptr);
  EXPECT_NEAR(px[0], 500, 1e-9) << "the first scale type maps x logarithmically";

  SetScaleType(&r, 0, kScaleEqual);
  EXPECT_EQ(r.scaleFlags, kScaleLogX | kScaleEqual);
  EXPECT_NEAR(std::abs(r.xScale), std::abs(r.yScale), 1e-9) << "the explicit path recomputes the mapping";

  SetScaleTypeFixed(&r, false);
  SetScaleType(&r, 0, kScaleDecibelY);
  EXPECT_EQ(r.scaleFlags, kScaleDecibelY);
}

TEST(SubplotRecord, ResetKeepsTheRectanglesAndOptionallyTheOptions) {
  for (bool resetOptions : {false, true}) {
    SubplotRecord r = Fresh();
    SetSubplotPixelRect(&r, 10, 410, 300, 20);
    SetCharacterSize(&r, 7, 11);
    const double x[] = {0, 1}, y[] = {0, 1};
    ExtendAutoLimits(&r, x, y, nullptr, 2);
    SetPlotOptions(&r, 0x4000 | 0x20000 | 0x40000, 0x7000 | 0x20000 | 0x40000);
    SetContentPlotOptions(&r, 0x2000);
    MarkPlotOptionsSet(&r);
    SetSubplotTitle(&r, "Bode", -1);
    SetAxisLabels(&r, "w", -1, nullptr, 0, nullptr, 0);
    SetScaleType(&r, 0, kScaleLogX);
    r.spanRecorded[0] = 1;
    r.smallestSpan[0] = 0.25;
    const int32_t options = r.plotOptions;

    ResetSubplotContents(&r, resetOptions);
    EXPECT_EQ(r.title[0], 0);
    EXPECT_EQ(r.axisName[0][0], 0);
    EXPECT_EQ(r.hasScale, 0);
    EXPECT_EQ(r.mode[0], kAxisNone);
    EXPECT_EQ(r.minimum[0], 1e30);
    EXPECT_EQ(r.scaleFlags, 0);
    EXPECT_EQ(r.scaleTypeExplicit, 0);
    EXPECT_EQ(r.spanRecorded[0], 0);
    EXPECT_EQ(r.smallestSpan[0], 0.25) << "the zoom bounds stay";
    EXPECT_EQ(r.subplotRect[2], 300);
    EXPECT_EQ(r.plotRect[3], 20);
    EXPECT_EQ(r.characterWidth, 7);
    EXPECT_EQ(r.characterHeight, -11);
    if (resetOptions) {
      EXPECT_EQ(r.plotOptions, kDefaultPlotOptions);
      EXPECT_EQ(r.contentOptions, 0);
      EXPECT_EQ(r.optionsExplicit, 0);
    } else {
      EXPECT_EQ(r.plotOptions, options);
      EXPECT_EQ(r.contentOptions, 0x2000);
      EXPECT_EQ(r.optionsExplicit, 1);
    }
  }
}

TEST(SubplotRecord, SuspendedAxesCountAsHeldButNotFixed) {
  SubplotRecord r = Fresh();
  const double x[] = {0, 10}, y[] = {0, 10};
  ExtendAutoLimits(&r, x, y, nullptr, 2);
  r.mode[0] = kAxisAutomatic;
  r.mode[1] = kAxisFixed;
  r.mode[2] = kAxisSet;
  SuspendAutoRange(&r, true);
  EXPECT_EQ(r.mode[0], kAxisAutomatic | kAxisSuspended);

  const double more[] = {50};
  ExtendAutoLimits(&r, more, more, more, 1);
  EXPECT_EQ(r.maximum[0], 10) << "a suspended automatic axis is held against plots";
  ResetAutoLimits(&r);
  EXPECT_EQ(r.maximum[0], 10) << "and against a recomputation";
  EXPECT_FALSE(IsSubplotLocked(&r)) << "a suspended fixed axis is not fixed";
  const double ySpan = r.yScale;
  SetSubplotPixelRect(&r, 0, 500, 0, 1000);
  EXPECT_DOUBLE_EQ(r.yScale, ySpan) << "the plot rectangle keeps the held axis' mapping";

  SuspendAutoRange(&r, false);
  EXPECT_EQ(r.mode[0], kAxisAutomatic);
  EXPECT_EQ(r.mode[1], kAxisFixed);
  EXPECT_EQ(r.mode[2], kAxisSet);
  ResetAutoLimits(&r);
  EXPECT_EQ(r.maximum[0], -1e30);
  EXPECT_EQ(r.mode[2], kAxisAutomatic) << "a set axis restarts from its defaults";
  EXPECT_EQ(r.maximum[1], 10);
}

}  // namespace
