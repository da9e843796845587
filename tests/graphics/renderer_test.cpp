#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/graphics/render_fixture.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct List {
  std::vector<double> d;
  List& Marker(int k) {
    d.insert(d.end(), {70, -1, -1, 0, 0, 1, double(k)});
    return *this;
  }
  List& Element(int code, int32_t word, int32_t colour, std::vector<double> data) {
    d.insert(d.end(), {double(code), -1, 1, double(word), double(colour), double(data.size())});
    d.insert(d.end(), data.begin(), data.end());
    return *this;
  }
  List& Curve(std::vector<double> x, std::vector<double> y, int32_t word = 0) {
    std::vector<double> data = {double(x.size())};
    data.insert(data.end(), x.begin(), x.end());
    data.insert(data.end(), y.begin(), y.end());
    return Element(1, word, 0, data);
  }
};

struct Rendered {
  Recording rec;
  int32_t position = 0;
  bool more = false;
  std::vector<std::string> Polylines() const {
    std::vector<std::string> out;
    for (const std::string& c : rec.calls) {
      if (c.rfind("polyline", 0) == 0) out.push_back(c);
    }
    return out;
  }
};

// The plot rectangle is 400 x 300 for [0, 10] x [0, 10]: x pixel 40 x, y pixel 300 - 30 y.
Rendered Render(List& list, SubplotRecord r, const PlotStyle* figure = nullptr, bool layoutOnly = false,
                int64_t scratchLength = 1000) {
  Rendered out;
  std::vector<double> scratch(size_t(std::max<int64_t>(scratchLength, 1)));
  DrawingDevice d = RecordingDevice();
  out.more =
      RenderDisplayList(list.d.data(), int32_t(list.d.size()), scratch.data(), scratchLength, &r, &out.position, figure,
                        nullptr, nullptr, nullptr, nullptr, EditState{-1, 0, 0, 0}, layoutOnly, &d, &out.rec);
  return out;
}

SubplotRecord Plain(int32_t scaleFlags = 0) {
  SubplotRecord r = MakeSubplot(0, 10, 0, 10, 400, 300, scaleFlags);
  r.plotOptions = 0;  // no frame, no decorations: only the elements draw
  return r;
}

TEST(RenderDisplayList, AnEmptySectionDrawsBackgroundFrameAndTitle) {
  SubplotRecord r = MakeSubplot(0, 10, 0, 10, 400, 300, 0, 20);
  r.plotOptions = kOptionFrame | kOptionLabel | kOptionMargin | 0x1 | 0x10;
  SetSubplotTitle(&r, "Hello", -1);
  List list;
  list.Marker(0).Marker(1);
  Rendered got = Render(list, r);
  const std::vector<std::string> want = {
      "beginClip 0 400 20 320",
      "fillRect 0 20 400 320 1",
      "textExtent \"M\"",
      "endClip",
      "beginClip 0 400 0 320",
      "polyline style 0 (0,0,0) 0,320 400,320",
      "polyline style 0 (0,0,0) 0,20 400,20",
      "polyline style 0 (0,0,0) 0,20 0,320",
      "polyline style 0 (0,0,0) 400,20 400,320",
      "text 0 10 \"Hello\" 1 null",
      "endClip",
  };
  EXPECT_EQ(got.rec.calls, want);
  EXPECT_EQ(got.position, 7);
  EXPECT_TRUE(got.more);
}

TEST(RenderDisplayList, TheResultDependsOnTheStoppingPositionAlone) {
  SubplotRecord r = Plain();
  r.plotOptions = kOptionLabel | kOptionMargin;
  SetSubplotTitle(&r, "A title longer than anything in the list", -1);
  List last;
  last.Marker(0).Curve({1, 2}, {1, 1});
  Rendered end = Render(last, r);
  EXPECT_EQ(end.position, int32_t(last.d.size()));
  EXPECT_FALSE(end.more);
  List followed = last;
  followed.Marker(1).Curve({1}, {1});
  Rendered middle = Render(followed, r);
  EXPECT_EQ(middle.position, int32_t(last.d.size()));
  EXPECT_TRUE(middle.more);
}

TEST(RenderDisplayList, PolylinesSplitAtNonFinitePointsAndCarryArrowheads) {
  struct Case {
    const char* what;
    std::vector<double> x, y;
    int32_t word;
    std::vector<std::string> want;
  };
  const std::string s = "polyline style 0 (0,0,0) ";
  const std::string a = "polyline style 12288 (0,0,0) ";
  const Case kCases[] = {
      {"NaN in the middle", {1, 2, kNaN, 4, 5}, {1, 1, 1, 1, 1}, 0, {s + "40,270 80,270", s + "160,270 200,270"}},
      {"single finite points",
       {1, kNaN, 2, INFINITY, 3},
       {1, 1, 1, 1, 1},
       0,
       {s + "40,270", s + "80,270", s + "120,270"}},
      {"arrows at both ends",
       {1, 2, 3},
       {1, 1, 1},
       kStyleArrowFirst | kStyleArrowLast,
       {a + "40,270 80,270 120,270", a + "52.8,263.6 40,270 52.8,276.4", a + "107.2,276.4 120,270 107.2,263.6"}},
      {"no arrowhead after a NaN first point",
       {kNaN, 2, 3},
       {1, 1, 1},
       kStyleArrowFirst | kStyleArrowLast,
       {a + "80,270 120,270", a + "107.2,276.4 120,270 107.2,263.6"}},
  };
  for (const Case& c : kCases) {
    List list;
    list.Marker(0).Curve(c.x, c.y, c.word);
    EXPECT_EQ(Render(list, Plain()).Polylines(), c.want) << c.what;
  }
}

TEST(RenderDisplayList, FarPointsAreBroughtWithinTheCoordinateBound) {
  SubplotRecord r = Plain();
  r.xOffset = r.yOffset = 0;
  r.xScale = r.yScale = 1;  // data are pixels
  List list;
  list.Marker(0).Curve({1e12, 5}, {10, 5e6});
  // B = 100 * (400 + 300).
  EXPECT_EQ(Render(list, r).Polylines(), std::vector<std::string>{"polyline style 0 (0,0,0) 70000,7e-07 5,70000"});
}

TEST(RenderDisplayList, StraightLinesSpanTheVisibleRange) {
  struct Case {
    const char* what;
    double a, b, c;
    int32_t word;
    std::vector<std::string> want;
  };
  const Case kCases[] = {
      {"vertical x = 2", 1, 0, 2, 0, {"polyline style 0 (0,0,0) 80,300 80,0"}},
      {"|a| = |b| from the y range", 1, 1, 5, 0, {"polyline style 0 (0,0,0) 200,300 -200,0"}},
      {"filled: the side below c", 1, 0, 2, kStyleFilled, {"polyline style 32 (0,0,0) 80,300 80,0 0,0 0,300"}},
      {"a = b = 0", 0, 0, 1, 0, {}},
      {"non-finite coefficient", 1, kNaN, 1, 0, {}},
      {"infinite c", 1, 0, INFINITY, 0, {}},
  };
  for (const Case& c : kCases) {
    List list;
    list.Marker(0).Element(4, c.word, 0, {c.a, c.b, c.c});
    EXPECT_EQ(Render(list, Plain()).Polylines(), c.want) << c.what;
  }
}

TEST(RenderDisplayList, CirclesAreDrawnOnLinearAxesOnly) {
  List list;
  list.Marker(0).Element(5, 0, 0, {1, 5, 5, 1}).Element(6, 0, 0, {1, 5, 5, 1, 2});
  Rendered linear = Render(list, Plain());
  std::vector<std::string> ellipses;
  for (const std::string& c : linear.rec.calls) {
    if (c.rfind("ellipse", 0) == 0) ellipses.push_back(c);
  }
  EXPECT_EQ(ellipses, (std::vector<std::string>{"ellipse 200 150 40 30 style 0 (0,0,0)",
                                                "ellipse 200 150 40 60 style 0 (0,0,0)"}));
  for (int32_t flags : {kScaleLogX, kScaleLogY}) {
    SubplotRecord r = MakeSubplot(1, 10, 1, 10, 400, 300, flags);
    r.plotOptions = 0;
    for (const std::string& c : Render(list, r).rec.calls) EXPECT_NE(c.rfind("ellipse", 0), 0u) << flags;
  }
}

TEST(RenderDisplayList, BarsFoldFarEndsToOnePlotExtentBeyondTheEdge) {
  struct Case {
    const char* what;
    std::vector<double> data;
    std::vector<std::string> want;
  };
  const Case kCases[] = {
      {"far above", {0, 1, 1, 5, 1e6}, {"polyline style 0 (0,0,0) 180,300 220,300 220,-300 180,-300 180,300"}},
      {"horizontal with own base",
       {3, 2, 1, 5, 8, 2},
       {"polyline style 0 (0,0,0) 80,180 80,120 320,120 320,180 80,180"}},
      {"NaN value skipped",
       {0, 1, 2, 5, 6, kNaN, 3},
       {"polyline style 0 (0,0,0) 220,300 260,300 260,210 220,210 220,300"}},
      {"count beyond the element", {0, 1, 3, 5, 6}, {}},
  };
  for (const Case& c : kCases) {
    List list;
    list.Marker(0).Element(7, 0, 0, c.data);
    EXPECT_EQ(Render(list, Plain()).Polylines(), c.want) << c.what;
  }
}

TEST(RenderDisplayList, PolylineRecordsEndAtANegativeCountOrTheElementsEnd) {
  struct Case {
    const char* what;
    std::vector<double> data;
    size_t calls;
  };
  const Case kCases[] = {
      {"{3}{2}{-1}", {3, 1, 2, 3, 1, 1, 1, 2, 4, 5, 2, 2, -1, 9, 9}, 2},
      {"no end mark", {2, 1, 2, 1, 1, 1, 7, 7}, 2},
      {"count past the element", {2, 1, 2, 1, 1, 4, 1, 2}, 1},
      {"NaN count", {kNaN, 1, 2}, 0},
  };
  for (const Case& c : kCases) {
    List list;
    list.Marker(0).Element(8, 0, 0, c.data);
    EXPECT_EQ(Render(list, Plain()).Polylines().size(), c.calls) << c.what;
  }
}

TEST(RenderDisplayList, ScratchTooSmallSkipsTheElement) {
  List list;
  list.Marker(0).Curve({1, 2, 3, 4}, {1, 1, 1, 1}).Curve({1, 2}, {1, 1});
  EXPECT_EQ(Render(list, Plain(), nullptr, false, 11).Polylines().size(), 1u);
  EXPECT_EQ(Render(list, Plain(), nullptr, false, 12).Polylines().size(), 2u);
}

TEST(RenderDisplayList, FigureDefaultStylesKeepTheElementsMarkerKind) {
  struct Case {
    const char* what;
    const PlotStyle* figure;
    int32_t word;
    std::string style;
  };
  const PlotStyle green = {kStyleThick, 0, 255, 0, 0};
  const int32_t marker = 5 << kStyleKindShift;
  const Case kCases[] = {
      {"own style", &green, 0x1, "style 1 (255,0,0)"},
      {"figure default line", &green, kStyleFigureDefault | 0x1, "style 16 (0,255,0)"},
      {"figure default marker", &green, kStyleFigureDefault | marker, "style 336 (0,255,0)"},
      {"default figure style", nullptr, kStyleFigureDefault | marker, "style 320 (0,0,0)"},
  };
  for (const Case& c : kCases) {
    List list;
    list.Marker(0).Element(1, c.word, 0xFF0000, {1, 1, 1});
    auto lines = Render(list, Plain(), c.figure).Polylines();
    ASSERT_EQ(lines.size(), 1u) << c.what;
    EXPECT_EQ(lines[0], "polyline " + c.style + " 40,270") << c.what;
  }
}

TEST(RenderDisplayList, AMalformedElementEndsTheSection) {
  List list;
  list.Marker(0).Curve({1, 2}, {1, 1});
  const int32_t bad = int32_t(list.d.size());
  list.d.insert(list.d.end(), {1, -1, 1, 0, 0, 50, 1});  // n beyond the list
  Rendered got = Render(list, Plain());
  EXPECT_EQ(got.Polylines().size(), 1u);
  EXPECT_EQ(got.position, int32_t(list.d.size()));
  EXPECT_FALSE(got.more);
  EXPECT_GT(got.position, bad);
}

TEST(RenderDisplayList, LegendsDrawOnlyWithTheirOptionAndWithinTheirElement) {
  struct Case {
    const char* what;
    int32_t options;
    std::vector<double> data;
    size_t polylines;
  };
  double text;
  std::memcpy(&text, "ab\0\0\0\0\0\0", 8);
  const Case kCases[] = {
      {"shown", 0x20000, {0, 1, 2, 1, 0, text}, 3},
      {"option off", 0, {0, 1, 2, 1, 0, text}, 0},
      {"more lines than pairs", 0x20000, {0, 3, 2, 1, 0, text}, 0},
      {"text past the element", 0x20000, {0, 1, 9, 1, 0, text}, 0},
  };
  for (const Case& c : kCases) {
    SubplotRecord r = Plain();
    r.plotOptions = c.options;
    List list;
    list.Marker(0).Element(58, 0, 0, c.data);
    EXPECT_EQ(Render(list, r).Polylines().size(), c.polylines) << c.what;
  }
}

TEST(RenderDisplayList, LayoutOnlyDrawsNothing) {
  SubplotRecord r = MakeSubplot(0, 10, 0, 10);
  List list;
  list.Marker(0).Curve({1, 2}, {1, 1}).Element(4, 0, 0, {1, 0, 2});
  Rendered got = Render(list, r, nullptr, true);
  for (const std::string& c : got.rec.calls) EXPECT_EQ(c.rfind("textExtent", 0), 0u) << c;
  EXPECT_FALSE(got.more);
}

TEST(ColormapLookup, NaNAndOutOfRangeValuesLandOnTheEnds) {
  const double map[6] = {0, 1, 0, 0.5, 1, 0};  // red, green, blue of two entries
  struct Case {
    double v;
    int32_t k;
    uint8_t r, g, b;
  };
  const Case kCases[] = {
      {kNaN, 0, 0, 0, 0},      {-1, 0, 0, 0, 0},     {0.5, 0, 127, 127, 127},
      {1.5, 0, 255, 255, 255}, {kNaN, 2, 0, 0, 255}, {0.49, 2, 0, 0, 255},
      {0.5, 2, 255, 127, 0},   {1, 2, 255, 127, 0},  {-INFINITY, 2, 0, 0, 255},
  };
  for (const Case& c : kCases) {
    uint8_t r = 1, g = 1, b = 1;
    ColormapLookup(c.v, map, c.k, &r, &g, &b);
    EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({c.r, c.g, c.b})) << c.v << " k " << c.k;
  }
}

TEST(SetupSubplotFontMetrics, MeasuresZeroAndAppliesTheDeviceMargins) {
  SubplotRecord r = MakeSubplot(0, 1, 0, 1, 400, 300);
  r.plotOptions = kOptionMargin;
  Recording rec;
  rec.textWidth = 7;
  rec.textHeight = 13;
  DrawingDevice d = RecordingDevice();
  d.d0 = 5, d.d1 = 0.5, d.d2 = 2, d.d3 = 2;
  SetupSubplotFontMetrics(&r, &d, &rec);
  EXPECT_EQ(rec.calls, std::vector<std::string>{"textExtent \"0\""});
  EXPECT_EQ(r.characterWidth, 7);
  EXPECT_EQ(r.characterHeight, 13);
  EXPECT_EQ(r.plotRect[0], 35);
  EXPECT_EQ(r.plotRect[2], 26);
  EXPECT_EQ(r.metricsStale, 0);
}

}  // namespace
