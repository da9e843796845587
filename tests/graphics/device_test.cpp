#include "graphics/device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/support/canvas.h"
#include "tests/support/recording_device.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;
constexpr RgbColour kWhite = {255, 255, 255};
constexpr int32_t kRed = 4;  // palette index

PlotStyle Style(int32_t word, RgbColour c = {0, 0, 0}) { return {word, c.red, c.green, c.blue, 0}; }
int32_t Kind(int32_t k) { return k << kStyleKindShift; }

class DeviceTest : public testing::Test {
 protected:
  DeviceTest() : canvas(200, 200), dc(canvas.surface()) {
    SetThickLines(false);
    SetBackgroundColor({229, 229, 229});
    SetDefaultDeviceFont(nullptr);
    SetBackgroundColorChooser(nullptr, nullptr);
    GdiSelectFont(nullptr, 0, 0, {0, 0, 0}, &dc);
  }
  ~DeviceTest() override {
    SetThickLines(false);
    canvas.KeepIfFailed(testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void Line(std::initializer_list<double> xs, std::initializer_list<double> ys, const PlotStyle& s) {
    GdiPolyline(xs.begin(), ys.begin(), int32_t(xs.size()), &s, &dc);
  }
  // The inked rows of one column.
  std::set<int> Column(int x) {
    std::set<int> out;
    for (int y = 0; y < canvas.height(); ++y) {
      if (!(canvas.At(x, y) == kWhite)) out.insert(y);
    }
    return out;
  }
  Canvas canvas;
  DrawingContext dc;
};

TEST_F(DeviceTest, SegmentsWhollyBeyondTheSkipLimitBreakTheLineWithoutStoppingIt) {
  // The middle segment lies beyond 20000 in x; the line goes on from its end.
  Line({0, 30000, 40000, 10}, {0, 0, 10, 100}, Style(0));
  EXPECT_EQ(Column(50), (std::set<int>{0, 100}));
  EXPECT_EQ(Column(150), (std::set<int>{0, 100}));
  EXPECT_FALSE(canvas.Inked().contains({10, 100}));  // the end pixel
}

TEST_F(DeviceTest, FarSegmentsAreCutKeepingTheirDirectionAndNonFinitePointsBreakTheLine) {
  // From (-4e6, 100) to (2e6, 160) the line crosses x = 100 at y 140; moving
  // the two ends to 1e6 each would put it at 130.
  Line({-4e6, 2e6}, {100, 160}, Style(0));
  EXPECT_EQ(Column(100), std::set<int>{140});
  canvas.Clear();
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  Line({10, nan, 50, 90, inf, 120}, {10, 50, 50, 50, 60, 60}, Style(0));
  Pixels want;
  for (int x = 50; x < 90; ++x) want.insert({x, 50});
  EXPECT_EQ(canvas.Inked(), want);
}

TEST_F(DeviceTest, FarOrNonFinitePointsDrawNoMarkerTextOrEllipse) {
  const double far[] = {1e300, -2e6, std::numeric_limits<double>::quiet_NaN()};
  const uint8_t kText[] = {'A'};
  for (double v : far) {
    double xs[] = {v, 20}, ys[] = {20, v};
    PlotStyle s = Style(Kind(13));
    GdiPolyline(xs, ys, 2, &s, &dc);
    GdiTextOut(v, 50, kText, 1, 0, nullptr, &dc);
    GdiTextOut(50, v, kText, 1, 0, nullptr, &dc);
    GdiEllipse(v, 50, 10, 10, &s, &dc);
    GdiEllipse(50, 50, v, 10, &s, &dc);
    GdiFocusRect(v, 0, 50, 50, 0, &dc);
    GdiFocusRect(v, 0, 50, 50, 0, &dc);
  }
  EXPECT_TRUE(canvas.Inked().empty());
}

TEST_F(DeviceTest, FillBitAloneFillsThePolygonAndThickWithFillOnlyOutlinesIt) {
  const double xs[] = {20, 60, 60, 20, 20}, ys[] = {20, 20, 60, 60, 20};
  PlotStyle both = Style(kRed | kStyleThick | kStyleFilled);
  GdiPolyline(xs, ys, 5, &both, &dc);
  EXPECT_EQ(canvas.At(20, 40), (RgbColour{255, 0, 0}));
  EXPECT_EQ(canvas.At(19, 40), kWhite);
  EXPECT_EQ(canvas.At(21, 40), kWhite);  // a 1-pixel outline
  EXPECT_EQ(canvas.At(40, 40), kWhite);  // and no fill

  canvas.Clear();
  // The polygon closes itself.
  PlotStyle fill = Style(kRed | kStyleFilled);
  GdiPolyline(xs, ys, 4, &fill, &dc);
  EXPECT_EQ(canvas.At(40, 40), (RgbColour{255, 0, 0}));
  EXPECT_EQ(canvas.At(19, 40), kWhite);
  EXPECT_EQ(canvas.At(60, 40), (RgbColour{255, 0, 0}));
  EXPECT_EQ(canvas.At(61, 40), kWhite);
}

TEST_F(DeviceTest, PensFollowTheStyleWordAndTheThickLinesSwitch) {
  struct Case {
    int32_t word;
    bool thick;
    int32_t width;
    PenDash dash;
    bool brush;
  };
  const Case kCases[] = {
      {0, false, 1, PenDash::kSolid, false},
      {0, true, 2, PenDash::kSolid, false},
      {kStyleThick, false, 2, PenDash::kSolid, false},
      {kStyleThick, true, 4, PenDash::kSolid, false},
      {kStyleFilled, true, 1, PenDash::kSolid, true},
      {kStyleFilled | kStyleThick, true, 1, PenDash::kSolid, false},
      {Kind(1), false, 1, PenDash::kDash, false},
      {Kind(2), false, 1, PenDash::kDot, false},
      {Kind(3) | kStyleFilled, false, 1, PenDash::kDashDot, true},
      {Kind(1), true, 2, PenDash::kSolid, false},
      {Kind(1) | kStyleThick, false, 2, PenDash::kSolid, false},
      {Kind(4), false, 1, PenDash::kSolid, false},
  };
  for (const Case& c : kCases) {
    SetThickLines(c.thick);
    Pen pen;
    Brush brush;
    SelectStylePen(Style(c.word), &pen, &brush);
    EXPECT_EQ(pen.width, c.width) << c.word << " " << c.thick;
    EXPECT_EQ(pen.dash, c.dash) << c.word << " " << c.thick;
    EXPECT_EQ(brush.solid, c.brush) << c.word << " " << c.thick;
  }
}

TEST_F(DeviceTest, DashesOnlyAtWidthOneAndThickLinesCoverWholeRows) {
  struct Case {
    int32_t word;
    bool thick;
    int rows;
    bool gaps;
  };
  const Case kCases[] = {
      {Kind(1), false, 1, true},
      {Kind(1) | kStyleThick, false, 2, false},
      {Kind(1) | kStyleThick, true, 4, false},
      {Kind(2), true, 2, false},
      {0, false, 1, false},
  };
  for (const Case& c : kCases) {
    canvas.Clear();
    SetThickLines(c.thick);
    Line({10, 190}, {50, 50}, Style(c.word));
    std::set<int> rows;
    for (auto [x, y] : canvas.Inked()) rows.insert(y);
    EXPECT_EQ(int(rows.size()), c.rows) << c.word << " " << c.thick;
    bool gaps = false;
    for (int x = 20; x < 180; ++x) gaps |= canvas.At(x, 50) == kWhite;
    EXPECT_EQ(gaps, c.gaps) << c.word << " " << c.thick;
  }
}

TEST_F(DeviceTest, ColourIndicesDrawTheDevicePalette) {
  const RgbColour kWant[] = {{10, 20, 30}, {0, 0, 255},   {0, 153, 0},   {0, 204, 255},
                             {255, 0, 0},  {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
  for (int32_t i = 0; i < 8; ++i) {
    Line({10, 20}, {10.0 + i, 10.0 + i}, Style(i, {10, 20, 30}));
    EXPECT_EQ(canvas.At(15, 10 + i), kWant[i]) << i;
  }
}

TEST_F(DeviceTest, EllipsesUpToRadius5000AreDrawn) {
  PlotStyle s = Style(0);
  GdiEllipse(100, 5100, 5000, 5000, &s, &dc);
  EXPECT_TRUE(canvas.Inked().contains({100, 100}));
  canvas.Clear();
  GdiEllipse(100, 5100, 5000.5, 5000, &s, &dc);
  GdiEllipse(100, 5100, 5000, 5000.5, &s, &dc);
  EXPECT_TRUE(canvas.Inked().empty());
}

TEST_F(DeviceTest, MarkersCoverTheirExactPixels) {
  struct Case {
    int32_t kind;
    Pixels want;
  };
  const Case kCases[] = {
      {6, {{20, 20}}},
      {8, PixelPicture(17, 17, {"#.....#", ".#...#.", "..#.#..", "...#...", "..#.#..", ".#...#.", "#.....#"})},
      {9, PixelPicture(17, 17, {"...#...", "...#...", "...#...", "#######", "...#...", "...#...", "...#..."})},
      {10, PixelPicture(17, 17, {".#...#.", "..#.#..", "..#.#..", "######.", "..#.#..", "..#.#.."})},
      {11, PixelPicture(17, 17, {"...#...", "..#.#..", "..#.#..", ".#...#.", ".#...#.", "#######"})},
      {12, PixelPicture(17, 18, {"#######", ".#...#.", ".#...#.", "..#.#..", "..#.#..", "...#..."})},
      {13, PixelPicture(17, 17, {"#######", "#.....#", "#.....#", "#.....#", "#.....#", "#.....#", "#######"})},
      {14, PixelPicture(17, 17, {"...#...", "..#.#..", ".#...#.", "#.....#", ".#...#.", "..#.#..", "...#..."})},
  };
  for (const Case& c : kCases) {
    canvas.Clear();
    Line({20.9}, {20.2}, Style(Kind(c.kind)));
    EXPECT_EQ(canvas.Inked(), c.want) << "kind " << c.kind;
  }
}

TEST_F(DeviceTest, CircleMarkersAreSymmetricInsideTheirBoxAndFilledWhenTheStyleIs) {
  for (int32_t fill : {0, int32_t(kStyleFilled)}) {
    canvas.Clear();
    Line({20}, {20}, Style(Kind(7) | fill));
    Pixels ink = canvas.Inked();
    ASSERT_FALSE(ink.empty());
    for (auto [x, y] : ink) {
      EXPECT_TRUE(x >= 17 && x <= 23 && y >= 17 && y <= 23) << x << "," << y;
      EXPECT_TRUE(ink.contains({40 - x, y}) && ink.contains({x, 40 - y}) && ink.contains({y, x})) << x << "," << y;
    }
    EXPECT_EQ(ink.contains({20, 20}), fill != 0);
  }
}

TEST_F(DeviceTest, NothingKindsDrawNothing) {
  for (int32_t kind : {5, 15}) Line({10, 100, 100}, {10, 10, 100}, Style(Kind(kind) | kStyleFilled));
  EXPECT_TRUE(canvas.Inked().empty());
}

TEST_F(DeviceTest, TextOffsetsPlaceTheCellAroundThePoint) {
  const uint8_t kA[] = {'A'};
  GdiSelectFont("Liberation Sans", 20, 0, {0, 0, 0}, &dc);
  double w = 0, h = 0;
  GdiTextExtent(kA, 1, &w, &h, &dc);
  int wi = int(w), hi = int(h);
  ASSERT_GT(wi, 5);
  ASSERT_GT(hi, 15);

  GdiTextOut(100, 100, kA, 1, 0, nullptr, &dc);
  Canvas::Box box = canvas.InkBox();
  // Centred: the cell spans from -w/2 and stands h/2 below the point.
  EXPECT_GE(box.left, 100 - wi / 2);
  EXPECT_LE(box.right, 100 - wi / 2 + wi);
  EXPECT_LT(box.bottom, 100 + hi / 2);
  EXPECT_GE(box.top, 100 + hi / 2 - hi);
  EXPECT_LE(std::abs(box.left + box.right - 200), 2);

  canvas.Clear();
  GdiTextOut(100, 100, kA, 1, kTextStartsAtPoint | kTextHangsBelow, nullptr, &dc);
  Canvas::Box hung = canvas.InkBox();
  // The ink of "A" sits the same way in its cell: the cell moved to (100, 101).
  EXPECT_EQ(hung.left - box.left, 100 - (100 - wi / 2));
  EXPECT_EQ(hung.top - box.top, 101 - (100 + hi / 2 - hi));

  canvas.Clear();
  GdiTextOut(100, 100, kA, 1, kTextEndsAtPoint | kTextStandsAbove, nullptr, &dc);
  Canvas::Box above = canvas.InkBox();
  EXPECT_EQ(above.left - box.left, (99 - wi) - (100 - wi / 2));
  EXPECT_EQ(above.top - box.top, (99 - hi) - (100 + hi / 2 - hi));
}

// The colour of the darkest pixel drawn, which antialiased text reaches to
// within a few steps.
RgbColour Darkest(const Canvas& canvas) {
  RgbColour best = kWhite;
  for (auto [x, y] : canvas.Inked()) {
    RgbColour c = canvas.At(x, y);
    if (c.red + c.green + c.blue < best.red + best.green + best.blue) best = c;
  }
  return best;
}
testing::AssertionResult Close(RgbColour got, RgbColour want) {
  if (std::abs(got.red - want.red) <= 16 && std::abs(got.green - want.green) <= 16 &&
      std::abs(got.blue - want.blue) <= 16) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "(" << int(got.red) << "," << int(got.green) << "," << int(got.blue) << ")";
}

TEST_F(DeviceTest, TextColourComesFromTheArgumentTheFontOrTheContext) {
  const uint8_t kText[] = {'M', 'M'};
  dc.SetTextColour({0, 0, 255});
  GdiSelectFont("Liberation Sans", 30, kFontBold, {0, 0, 0}, &dc);
  GdiTextOut(50, 50, kText, 2, 5, nullptr, &dc);
  EXPECT_TRUE(Close(Darkest(canvas), (RgbColour{0, 0, 255})));  // (0, 0, 0) left the context alone
  EXPECT_EQ(dc.textColour(), (RgbColour{0, 0, 255}));

  canvas.Clear();
  GdiSelectFont("Liberation Sans", 30, kFontBold, {255, 0, 0}, &dc);
  GdiTextOut(50, 50, kText, 2, 5, nullptr, &dc);
  EXPECT_TRUE(Close(Darkest(canvas), (RgbColour{255, 0, 0})));
  EXPECT_EQ(dc.textColour(), (RgbColour{0, 0, 0}));  // reset after the output

  canvas.Clear();
  const RgbColour green = {0, 128, 0};
  GdiTextOut(50, 50, kText, 2, 5, &green, &dc);
  EXPECT_TRUE(Close(Darkest(canvas), green));
  EXPECT_EQ(dc.textColour(), (RgbColour{0, 0, 0}));

  // A null name drops the remembered colour.
  canvas.Clear();
  dc.SetTextColour({0, 0, 255});
  GdiSelectFont(nullptr, 0, 0, {255, 0, 0}, &dc);
  GdiTextOut(50, 50, kText, 2, 5, nullptr, &dc);
  EXPECT_TRUE(Close(Darkest(canvas), (RgbColour{0, 0, 255})));
}

TEST_F(DeviceTest, AFontChosenInsideAClipPairEndsWithItButItsColourStays) {
  const uint8_t kText[] = {'W'};
  GdiSelectFont("Liberation Sans", 12, 0, {0, 0, 0}, &dc);
  double w0, h0;
  GdiTextExtent(kText, 1, &w0, &h0, &dc);
  GdiBeginClip(0, 200, 0, 200, &dc);
  GdiSelectFont("Liberation Sans", 40, kFontBold, {255, 0, 0}, &dc);
  double w1, h1;
  GdiTextExtent(kText, 1, &w1, &h1, &dc);
  EXPECT_GT(h1, h0);
  GdiEndClip(&dc);
  double w2, h2;
  GdiTextExtent(kText, 1, &w2, &h2, &dc);
  EXPECT_EQ(w2, w0);
  EXPECT_EQ(h2, h0);
  GdiTextOut(50, 50, kText, 1, 5, nullptr, &dc);
  EXPECT_TRUE(Close(Darkest(canvas), (RgbColour{255, 0, 0})));
}

TEST_F(DeviceTest, FontStyleBitsAndTheDefaultFont) {
  const uint8_t kText[] = {'m', 'm', 'm'};
  double plain, bold, other;
  GdiSelectFont("Liberation Serif", 20, 0, {0, 0, 0}, &dc);
  GdiTextExtent(kText, 3, &plain, nullptr, &dc);
  GdiSelectFont("Liberation Serif", 20, kFontBold, {0, 0, 0}, &dc);
  GdiTextExtent(kText, 3, &bold, nullptr, &dc);
  EXPECT_GT(bold, plain);
  GdiSelectFont("Liberation Serif", 20, kFontBold | kFontItalic | kFontUnderline | 0x8, {0, 0, 0}, &dc);
  EXPECT_TRUE(dc.font().bold && dc.font().italic && dc.font().underline);
  FontSpec big;
  big.pixels = 30;
  SetDefaultDeviceFont(&big);
  GdiSelectFont(nullptr, 12, 0, {0, 0, 0}, &dc);
  EXPECT_EQ(dc.font().pixels, 30);
  GdiTextExtent(kText, 3, &other, nullptr, &dc);
  EXPECT_GT(other, plain);
  // An unknown face falls back to an installed one and still measures text.
  GdiSelectFont("No Such Face At All", 20, 0, {0, 0, 0}, &dc);
  GdiTextExtent(kText, 3, &other, nullptr, &dc);
  EXPECT_GT(other, 0);
}

TEST_F(DeviceTest, ImageBytesRepeatIntoBlocks) {
  const uint8_t grey[] = {10, 20, 30, 40};
  GdiImage(5, 7, 2, 2, 3, 2, grey, nullptr, nullptr, &dc);
  Pixels want;
  for (int y = 7; y < 11; ++y) {
    for (int x = 5; x < 11; ++x) {
      want.insert({x, y});
      uint8_t v = grey[(y - 7) / 2 * 2 + (x - 5) / 3];
      EXPECT_EQ(canvas.At(x, y), (RgbColour{v, v, v})) << x << "," << y;
    }
  }
  EXPECT_EQ(canvas.Inked(), want);

  canvas.Clear();
  const uint8_t r[] = {1, 2}, g[] = {3, 4}, b[] = {5, 6};
  GdiImage(50, 60, 2, 1, 1, 1, r, g, b, &dc);
  EXPECT_EQ(canvas.At(50, 60), (RgbColour{1, 3, 5}));
  EXPECT_EQ(canvas.At(51, 60), (RgbColour{2, 4, 6}));
  // Green without blue: the red bytes are grey.
  GdiImage(50, 61, 2, 1, 1, 1, r, g, nullptr, &dc);
  EXPECT_EQ(canvas.At(51, 61), (RgbColour{2, 2, 2}));
}

TEST_F(DeviceTest, ImagesWithoutRepeatsOrWithRowsTooWideDrawNothing) {
  const uint8_t one[] = {7};
  GdiImage(5, 5, 1, 1, 0, 1, one, nullptr, nullptr, &dc);
  GdiImage(5, 5, 1, 1, 1, -1, one, nullptr, nullptr, &dc);
  // 2^20 columns repeated 2^10 times need 3 * 2^30 bytes a row: no byte is read.
  GdiImage(5, 5, 1 << 20, 1, 1 << 10, 1, one, nullptr, nullptr, &dc);
  GdiImage(5, 5, 1, 1, std::numeric_limits<int32_t>::max(), 1, one, nullptr, nullptr, &dc);
  EXPECT_TRUE(canvas.Inked().empty());
}

TEST_F(DeviceTest, FocusRectanglesOffScreenAreSkippedAndTwiceLeaveNoTrace) {
  GdiFocusRect(-10, 5, -1, 20, 0, &dc);
  GdiFocusRect(10, 2001, 50, 3000, 0, &dc);
  EXPECT_TRUE(canvas.Inked().empty());
  GdiFocusRect(-10, 5, 10, 20, 0, &dc);  // crossing the left edge
  EXPECT_FALSE(canvas.Inked().empty());
  EXPECT_EQ(canvas.InkBox().right, 9);
  GdiFocusRect(-10, 5, 10, 20, 0, &dc);
  GdiFocusRect(150, 180, 120, 10, 0, &dc);  // given the wrong way round
  EXPECT_EQ(canvas.InkBox().left, 120);
  GdiFocusRect(150, 180, 120, 10, 0, &dc);
  EXPECT_TRUE(canvas.Inked().empty());
}

TEST_F(DeviceTest, FillModesAndTheChosenBackground) {
  GdiFillRect(10, 10, 0, 0, 0, &dc);
  EXPECT_EQ(canvas.At(0, 0), (RgbColour{229, 229, 229}));
  EXPECT_EQ(canvas.At(9, 9), (RgbColour{229, 229, 229}));
  EXPECT_EQ(canvas.At(10, 10), kWhite);
  GdiFillRect(0, 0, 5, 5, 1, &dc);
  EXPECT_EQ(canvas.At(2, 2), kWhite);

  EXPECT_FALSE(ChooseBackgroundColor());  // no chooser
  struct Fake {
    bool confirm;
    RgbColour offered;
    RgbColour seen;
  } fake = {false, {1, 2, 3}, {}};
  auto chooser = [](RgbColour current, RgbColour* chosen, void* user) {
    Fake* f = static_cast<Fake*>(user);
    f->seen = current;
    *chosen = f->offered;
    return f->confirm;
  };
  SetBackgroundColorChooser(chooser, &fake);
  EXPECT_FALSE(ChooseBackgroundColor());
  EXPECT_EQ(GetBackgroundColor(), (RgbColour{229, 229, 229}));
  fake.confirm = true;
  EXPECT_TRUE(ChooseBackgroundColor());
  EXPECT_EQ(fake.seen, (RgbColour{229, 229, 229}));
  EXPECT_EQ(GetBackgroundColor(), (RgbColour{1, 2, 3}));
  GdiFillRect(20, 20, 30, 30, 2, &dc);
  EXPECT_EQ(canvas.At(25, 25), (RgbColour{1, 2, 3}));
}

TEST(DrawingDevices, TablesAndParameters) {
  struct Case {
    const DrawingDevice* device;
    double d[8];
    bool operations;
  };
  DrawingDevice screen = ScreenDrawingDevice;
  const Case kBefore[] = {
      {&screen, {5, 0.5, 1.5, 1.5, 1, 1, 8, 8}, true},
      {&PrinterDrawingDevice, {5, 0.5, 1.5, 1.5, 1, 1, 24, 24}, true},
      {&kInitialRuntimeDevice, {0, 0, 0, 0, 1, 1, 8, 8}, false},
  };
  PrepareScreenDevice(nullptr, nullptr);
  const Case kPrepared = {&ScreenDrawingDevice, {5, 0.5, 2, 2, 1, 1, 8, 8}, true};
  auto check = [](const Case& c) {
    const DrawingDevice& d = *c.device;
    const double got[8] = {d.d0, d.d1, d.d2, d.d3, d.d4, d.d5, d.d6, d.d7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], c.d[i]) << "d" << i;
    EXPECT_EQ(d.yUp, 0);
    EXPECT_EQ(d.none, nullptr);
    EXPECT_EQ(d.frameRect, nullptr);
    EXPECT_EQ(d.polyline != nullptr, c.operations);
    EXPECT_EQ(d.fillRect != nullptr, c.operations);
    EXPECT_EQ(d.text != nullptr, c.operations);
  };
  for (const Case& c : kBefore) check(c);
  check(kPrepared);
  ScreenDrawingDevice = screen;
}

TEST(RecordingDevice, LogsEachOperationWithItsArguments) {
  Recording rec;
  DrawingDevice d = RecordingDevice();
  const double xs[] = {1, 2}, ys[] = {3, 4.5};
  PlotStyle s = {0x21, 1, 2, 3, 0};
  const uint8_t text[] = {'h', 'i'};
  const RgbColour red = {255, 0, 0};
  double w = 0;
  d.beginClip(0, 10, 1, 11, &rec);
  d.polyline(xs, ys, 2, &s, &rec);
  d.text(5, 6, text, 2, 5, &red, &rec);
  d.textExtent(text, 2, &w, nullptr, &rec);
  d.font(nullptr, 12, 2, {0, 0, 0}, &rec);
  d.endClip(&rec);
  const std::vector<std::string> want = {"beginClip 0 10 1 11",         "polyline style 33 (1,2,3) 1,3 2,4.5",
                                         "text 5 6 \"hi\" 5 (255,0,0)", "textExtent \"hi\"",
                                         "font null 12 2 (0,0,0)",      "endClip"};
  EXPECT_EQ(rec.calls, want);
  EXPECT_EQ(w, rec.textWidth);
}

}  // namespace
