#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "tests/graphics/render_fixture.h"

namespace {

const PlotStyle kBlack = {0, 0, 0, 0, 0};

std::vector<Call> Frame(SubplotRecord& r, int32_t options, Recording* rec) {
  r.plotOptions = options;
  DrawingDevice d = RecordingDevice();
  DrawSubplotFrame(&r, &kBlack, &d, rec);
  return Calls(*rec);
}

// The data x of every x tick mark of the given length on the bottom edge.
std::set<double> XMarks(const SubplotRecord& r, const std::vector<Call>& calls, double length, bool logarithmic) {
  std::set<double> out;
  const double bottom = r.plotRect[3];
  for (const Call& c : Only(calls, "polyline")) {
    if (c.points.size() != 2 || c.points[0].y != bottom || c.points[0].x != c.points[1].x) continue;
    if (std::fabs(c.points[0].y - c.points[1].y) != length) continue;
    double v = (c.points[0].x - r.xOffset) / r.xScale;
    if (logarithmic) v = std::exp(v);
    // The recording keeps six digits: round to four.
    const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(v))) - 3);
    out.insert(std::round(v / unit) * unit);
  }
  return out;
}

std::vector<std::string> Texts(const std::vector<Call>& calls) {
  std::vector<std::string> out;
  for (const Call& c : Only(calls, "text")) out.push_back(c.text);
  return out;
}

TEST(DrawSubplotFrame, EdgesAloneDrawABareRectangle) {
  SubplotRecord r = MakeSubplot(0, 1, 0, 1);
  Recording rec;
  auto calls = Frame(r, 0x1 | 0x10 | kOptionMargin, &rec);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(rec.calls[0], "polyline style 0 (0,0,0) 0,300 400,300");
  EXPECT_EQ(rec.calls[1], "polyline style 0 (0,0,0) 0,0 400,0");
  EXPECT_EQ(rec.calls[2], "polyline style 0 (0,0,0) 0,0 0,300");
  EXPECT_EQ(rec.calls[3], "polyline style 0 (0,0,0) 400,0 400,300");
}

TEST(DrawSubplotFrame, LinearLabelsSnapAnAccumulatedZeroAndStopBeforeTheAxisName) {
  // 2000 pixels wide: labels every 0.1 from -1, summed step by step.
  SubplotRecord r = MakeSubplot(-1, 1, -1, 1, 2000);
  SetAxisLabels(&r, "0123456789abcdef", 16, nullptr, 0, nullptr, 0);
  Recording rec;
  auto calls = Frame(r, 0x2 | 0x8 | 0x20 | 0x80 | kOptionMargin, &rec);
  auto texts = Texts(calls);
  int zeros = 0;
  for (const std::string& t : texts) {
    if (t == "0123456789abcdef") continue;
    EXPECT_EQ(t.find('e'), std::string::npos) << t;  // no 1e-17 and the like
    zeros += t == "0" ? 1 : 0;
  }
  EXPECT_EQ(zeros, 2);  // one on each axis
  // The name is drawn whole at the right end, and no label lies under it.
  bool named = false;
  for (const std::string& line : rec.calls) {
    named = named || (line.rfind("text 2000 ", 0) == 0 && line.find("\"0123456789abcdef\" 6") != std::string::npos);
  }
  EXPECT_TRUE(named);
  for (const std::string& line : rec.calls) {
    if (line.rfind("text", 0) != 0 || line.find("\" 4 ") == std::string::npos) continue;
    double x = std::strtod(line.c_str() + 5, nullptr);
    EXPECT_LT(x, 2000 - 10) << line;  // the recording device measures every text 10 wide
  }
}

TEST(DrawSubplotFrame, LogarithmicAxisMarksFollowTheWidth) {
  struct Case {
    double width;
    std::set<double> minor, major;
  };
  std::set<double> k12468, k1to9, kHalves, kDecades = {1, 10, 100, 1000};
  for (double decade : {1.0, 10.0, 100.0}) {
    for (double m : {1.0, 2.0, 4.0, 6.0, 8.0}) k12468.insert(m * decade);
    for (double m = 1; m <= 9; ++m) k1to9.insert(m * decade);
    for (double m : {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 4.5, 5.0, 6.0, 7.0, 8.0, 9.0}) kHalves.insert(m * decade);
  }
  k12468.insert(1000), k1to9.insert(1000), kHalves.insert(1000);
  const Case kCases[] = {{400, k12468, kDecades}, {700, kHalves, k1to9}};
  for (const Case& c : kCases) {
    SubplotRecord r = MakeSubplot(1, 1000, 1, 2, c.width, 300, kScaleLogX);
    Recording rec;
    auto calls = Frame(r, 0x2 | kOptionMargin, &rec);
    EXPECT_EQ(XMarks(r, calls, 2, true), c.minor) << c.width;
    EXPECT_EQ(XMarks(r, calls, 4, true), c.major) << c.width;
  }
}

TEST(DrawSubplotFrame, DecibelAxisIsLabelledInDecibels) {
  struct Case {
    const char* name;
    double dbY;  // where "[dB]" stands
  };
  // Plot rectangle from y 20 down to 320 inside a subplot starting at 0.
  const Case kCases[] = {{"", 20}, {"Gain", 40}};
  for (const Case& c : kCases) {
    SubplotRecord r = MakeSubplot(0, 1, 0.01, 100, 400, 300, kScaleDecibelY, 20);
    SetAxisLabels(&r, nullptr, 0, c.name, -1, nullptr, 0);
    Recording rec;
    auto calls = Frame(r, 0x20 | 0x80 | kOptionMargin, &rec);
    bool bottomLabel = false, dbMark = false;
    for (const Call& t : Only(calls, "text")) {
      if (t.text == "-40") bottomLabel = true;
    }
    for (const std::string& line : rec.calls) {
      if (line.find("\"-40\"") != std::string::npos) {
        EXPECT_NE(line.find(" 320 "), std::string::npos) << line;
      }
      if (line.find("\"[dB]\"") != std::string::npos) {
        dbMark = true;
        EXPECT_NE(line.find(" " + std::to_string(int(c.dbY)) + " "), std::string::npos) << line;
      }
    }
    EXPECT_TRUE(bottomLabel) << c.name;
    EXPECT_TRUE(dbMark) << c.name;
  }
}

TEST(DrawSubplotFrame, AxesWithoutUsableBoundsDrawNoTicks) {
  struct Case {
    const char* what;
    SubplotRecord r;
    int32_t options, gridOptions;
  };
  SubplotRecord negativeFactor = MakeSubplot(1, 1000, 1, 1000, 400, 300, kScaleLogX | kScaleLogY);
  SetScaleFactors(&negativeFactor, -1, -1, 1);
  SubplotRecord decibel = MakeSubplot(0, 1, 0.01, 100, 400, 300, kScaleDecibelY);
  // A scale too steep to invert: the visible range is the limits, all below 0.
  decibel.minimum[1] = -2, decibel.maximum[1] = -1, decibel.yScale = 2e9;
  Case cases[] = {
      {"log bounds <= 0", negativeFactor, 0x2 | 0x8 | 0x20 | 0x80 | kOptionMargin, 0x4 | 0x40},
      {"dB axis ending at or below 0", decibel, 0x20 | 0x80 | kOptionMargin, 0x40},
  };
  for (Case& c : cases) {
    Recording rec;
    EXPECT_EQ(Frame(c.r, c.options, &rec).size(), 0u) << c.what;
    rec.calls.clear();
    c.r.plotOptions = c.gridOptions;
    DrawingDevice d = RecordingDevice();
    DrawSubplotGridLines(&c.r, &kBlack, &d, &rec);
    EXPECT_EQ(rec.calls.size(), 0u) << c.what;
  }
}

TEST(DrawSubplotGridLines, PolarGridHasTwelveRaysAndNoCircleAtTheOrigin) {
  SubplotRecord r = MakeSubplot(-1, 1, -1, 1, 300, 300);
  r.polar = 1;
  r.plotOptions = 0x4 | 0x40;
  Recording rec;
  DrawingDevice d = RecordingDevice();
  DrawSubplotGridLines(&r, &kBlack, &d, &rec);
  auto calls = Calls(rec);
  EXPECT_EQ(Only(calls, "polyline").size(), 12u);
  auto circles = Only(calls, "ellipse");
  EXPECT_GT(circles.size(), 2u);
  for (const std::string& line : rec.calls) {
    if (line.rfind("ellipse", 0) != 0) continue;
    double cx, cy, rx, ry;
    ASSERT_EQ(std::sscanf(line.c_str(), "ellipse %lf %lf %lf %lf", &cx, &cy, &rx, &ry), 4);
    EXPECT_EQ(cx, 150);
    EXPECT_GT(rx, 0.5) << line;
  }
}

TEST(DrawSubplotFrame, AnAxisFarFromZeroWithATinySpanEnds) {
  // plot([1e12, 1e12 + 1e-3]): the y steps fall below the spacing of doubles near 1e12.
  SubplotRecord r = MakeSubplot(1, 2, 1e12, 1e12 + 1e-3);
  Recording rec;
  r.plotOptions = 0x4 | 0x40;
  DrawingDevice d = RecordingDevice();
  DrawSubplotGridLines(&r, &kBlack, &d, &rec);
  auto calls = Frame(r, 0x1 | 0x2 | 0x8 | 0x10 | 0x20 | 0x80 | kOptionMargin, &rec);
  // At most one mark per pixel: 301 rows, three walks and their labels.
  EXPECT_LT(calls.size(), 6u * 301 + 401 * 6);
  EXPECT_GT(calls.size(), 4u);
}

}  // namespace
