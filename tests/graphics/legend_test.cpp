#include <gtest/gtest.h>

#include <string>

#include "tests/graphics/render_fixture.h"

namespace {

const PlotStyle kFrame = {0, 0, 0, 0, 0};
const PlotStyle kFill = {0x27, 255, 255, 255, 0};

TEST(DrawLegend, WithoutEntriesOnlyTheBoxIsDrawnInFillThenFrameStyle) {
  SubplotRecord r = MakeSubplot(0, 1, 0, 1);
  Recording rec;
  DrawingDevice d = RecordingDevice();
  DrawLegend(&r, 0, 0, nullptr, nullptr, true, &kFrame, &kFill, &d, &rec);
  auto calls = Only(Calls(rec), "polyline");
  ASSERT_EQ(calls.size(), 2u);
  // Width: no text, a sample of half the height of "M" (8) and 1.5 cells; height d7.
  EXPECT_EQ(rec.calls.back(), "polyline style 0 (0,0,0) 372,8 372,16 392,16 392,8 372,8");
  EXPECT_NE(rec.calls[rec.calls.size() - 2].find("style 39 (255,255,255) 372,8 372,16"), std::string::npos);
}

TEST(DrawLegend, CornerInsetsDependOnTheFrame) {
  struct Case {
    bool frame;
    const char* box;
  };
  // One entry "a": 10 wide, 16 high; the box is 30 x 24.
  const Case kCases[] = {{true, "8,268 8,292 38,292 38,268 8,268"}, {false, "1,275 1,299 31,299 31,275 1,275"}};
  for (const Case& c : kCases) {
    SubplotRecord r = MakeSubplot(0, 1, 0, 1);
    r.plotOptions |= 0x40000 | 0x80000;
    Recording rec;
    DrawingDevice d = RecordingDevice();
    const double styles[2] = {0, 0};
    DrawLegend(&r, 1, 1, reinterpret_cast<const uint8_t*>("a"), styles, c.frame, &kFrame, &kFill, &d, &rec);
    auto boxes = Only(Calls(rec), "polyline");
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_NE(rec.calls[rec.calls.size() - 2 - 1].find(c.box), std::string::npos) << rec.calls[rec.calls.size() - 3];
  }
}

TEST(DrawLegend, EntriesBeyondTheTextKeepTheirSamples) {
  SubplotRecord r = MakeSubplot(0, 1, 0, 1);
  Recording rec;
  DrawingDevice d = RecordingDevice();
  // A line, a filled square and a marker (kind 5).
  const double styles[6] = {1, 0xFF0000, 0x20, 0x00FF00, 5 << kStyleKindShift, 0x0000FF};
  DrawLegend(&r, 3, 3, reinterpret_cast<const uint8_t*>("a\nb"), styles, true, &kFrame, &kFill, &d, &rec);
  auto calls = Calls(rec);
  auto lines = Only(calls, "polyline");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2].points.size(), 2u);
  EXPECT_EQ(lines[3].points.size(), 4u);
  EXPECT_EQ(lines[4].points.size(), 1u);
  auto texts = Only(calls, "text");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "a");
  EXPECT_EQ(texts[1].text, "b");
}

TEST(PointInLegend, TheBorderIsOutside) {
  SubplotRecord r = MakeSubplot(0, 1, 0, 1);
  DrawingDevice d = RecordingDevice();
  Recording rec;
  struct Case {
    double x, y;
    bool inside;
  };
  // The empty legend's box: x 372..392, y 8..16.
  const Case kCases[] = {{372, 12, false}, {373, 12, true}, {391.5, 15.5, true},
                         {392, 12, false}, {380, 8, false}, {380, 16, false}};
  for (const Case& c : kCases) {
    EXPECT_EQ(PointInLegend(&r, 0, 0, nullptr, c.x, c.y, true, &d, &rec), c.inside) << c.x << "," << c.y;
  }
}

}  // namespace
