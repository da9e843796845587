#include "platform/drawing.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/canvas.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

TEST(NormaliseUtf8, KeepsValidTextJoinsSplitSurrogatesAndDropsBadBytesSingly) {
  struct Case {
    std::string in;
    std::string want;
  };
  const Case kCases[] = {
      {"plain", "plain"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      // U+1F600 as two encoded UTF-16 halves, D83D and DE00.
      {"a\xED\xA0\xBD\xED\xB8\x80z", "a\xF0\x9F\x98\x80z"},
      // A lone half of either kind vanishes byte by byte.
      {"a\xED\xA0\xBDz", "az"},
      {"a\xED\xB8\x80z", "az"},
      // High half followed by a character that is not a low half.
      {"\xED\xA0\xBD\xC3\xA9", "\xC3\xA9"},
      {"a\xFFz", "az"},
      {"a\xC0\x80z", "az"},          // overlong NUL
      {"a\xE0\x80\xAFz", "az"},      // overlong slash
      {"a\xF4\x90\x80\x80z", "az"},  // beyond U+10FFFF
      {"a\xC3z", "az"},              // cut short, the next byte kept
      {"a\xE2\x82", "a"},            // cut short at the end
      {"\x80\xBF", ""},              // stray continuation bytes
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : kCases) {
    std::string got = NormaliseUtf8(reinterpret_cast<const uint8_t*>(c.in.data()), c.in.size());
    EXPECT_EQ(got, c.want) << testing::PrintToString(c.in);
  }
}

class DrawingTest : public testing::Test {
 protected:
  DrawingTest() : canvas(64, 64), dc(canvas.surface()) {}
  ~DrawingTest() override { canvas.KeepIfFailed(testing::UnitTest::GetInstance()->current_test_info()->name()); }
  Canvas canvas;
  DrawingContext dc;
};

// The pixels of an ideal 1-pixel line: along the major axis one pixel per
// step, the nearest to the line, the last point left out. Lines that pass
// exactly between two pixel centres are avoided: the rasteriser breaks such ties.
Pixels IdealLine(DrawPoint a, DrawPoint b) {
  Pixels out;
  int dx = b.x - a.x, dy = b.y - a.y;
  int steps = std::max(std::abs(dx), std::abs(dy));
  for (int k = 0; k < steps; ++k) {
    double t = double(k) / steps;
    out.insert({int(std::lround(a.x + t * dx)), int(std::lround(a.y + t * dy))});
  }
  return out;
}

TEST_F(DrawingTest, ThinLinesCoverOnePixelPerStepAndNotTheirEnd) {
  struct Case {
    DrawPoint a, b;
  };
  const Case kCases[] = {
      {{5, 5}, {20, 5}},  {{20, 5}, {5, 5}},    {{9, 3}, {9, 30}},    {{9, 30}, {9, 3}},   {{4, 4}, {24, 24}},
      {{24, 4}, {4, 24}}, {{10, 10}, {41, 13}}, {{41, 13}, {10, 10}}, {{30, 2}, {27, 51}}, {{3, 40}, {60, 33}},
  };
  for (const Case& c : kCases) {
    canvas.Clear();
    DrawPoint p[] = {c.a, c.b};
    dc.Polyline(p, 2);
    EXPECT_EQ(canvas.Inked(), IdealLine(c.a, c.b)) << c.a.x << "," << c.a.y << " to " << c.b.x << "," << c.b.y;
    if (HasFailure()) break;
  }
}

TEST_F(DrawingTest, PolylineJoinsLeaveNoGapAndNoSecondCoverOfTheLastPoint) {
  DrawPoint p[] = {{5, 5}, {20, 5}, {20, 20}, {5, 20}};
  dc.Polyline(p, 4);
  Pixels want = IdealLine(p[0], p[1]);
  want.merge(IdealLine(p[1], p[2]));
  want.merge(IdealLine(p[2], p[3]));
  EXPECT_EQ(canvas.Inked(), want);
  EXPECT_FALSE(canvas.Inked().contains({5, 20}));
}

TEST_F(DrawingTest, PolygonFillsByTheEvenOddRule) {
  // A square drawn round twice the long way: a pentagram's inner pentagon
  // would be left empty the same way, but a square's pixels are exact.
  DrawPoint star[] = {{32, 4}, {49, 58}, {4, 24}, {60, 24}, {15, 58}};
  dc.SetBrush({true, {255, 0, 0}});
  dc.SetPen({1, PenDash::kSolid, {0, 0, 255}});
  dc.Polygon(star, 5);
  EXPECT_EQ(canvas.At(32, 36), (RgbColour{255, 255, 255}));  // inner pentagon
  EXPECT_EQ(canvas.At(32, 14), (RgbColour{255, 0, 0}));      // a point of the star
  EXPECT_EQ(canvas.At(4, 24), (RgbColour{0, 0, 255}));       // outline, closing edge included
}

TEST_F(DrawingTest, EmptyEllipseDrawsNothingAndLeavesTheContextUsable) {
  dc.Ellipse(10, 10, 10, 30);
  dc.Ellipse(10, 10, 30, 10);
  EXPECT_TRUE(canvas.Inked().empty());
  EXPECT_EQ(cairo_status(dc.cairo()), CAIRO_STATUS_SUCCESS);
  dc.Ellipse(10, 10, 30, 30);
  EXPECT_FALSE(canvas.Inked().empty());
}

TEST_F(DrawingTest, EllipseIsSymmetricAboutItsCentrePixelAndInsideItsBox) {
  const int kBoxes[][4] = {{20, 20, 26, 26}, {10, 12, 50, 30}, {5, 5, 7, 7}};
  for (auto& b : kBoxes) {
    canvas.Clear();
    dc.Ellipse(b[0], b[1], b[2], b[3]);
    Pixels ink = canvas.Inked();
    ASSERT_FALSE(ink.empty());
    for (auto [x, y] : ink) {
      EXPECT_TRUE(x >= b[0] && x <= b[2] && y >= b[1] && y <= b[3]) << x << "," << y;
      EXPECT_TRUE(ink.contains({b[0] + b[2] - x, y})) << x << "," << y;
      EXPECT_TRUE(ink.contains({x, b[1] + b[3] - y})) << x << "," << y;
    }
    // The extreme points of both axes are reached.
    EXPECT_TRUE(ink.contains({b[0], (b[1] + b[3]) / 2}));
    EXPECT_TRUE(ink.contains({(b[0] + b[2]) / 2, b[3]}));
  }
}

TEST_F(DrawingTest, ClipExcludesRightAndBottomAndRestoreBringsBackFontAndTextColour) {
  dc.SetTextColour({1, 2, 3});
  dc.Save();
  dc.ClipRect(10, 10, 20, 20);
  FontSpec bold;
  bold.bold = true;
  dc.SetFont(bold);
  dc.SetTextColour({200, 0, 0});
  dc.FillRect(0, 0, 64, 64, {0, 0, 0});
  dc.Restore();
  EXPECT_EQ(canvas.Inked(), PixelPicture(10, 10,
                                         {"##########", "##########", "##########", "##########", "##########",
                                          "##########", "##########", "##########", "##########", "##########"}));
  EXPECT_FALSE(dc.font().bold);
  EXPECT_EQ(dc.textColour(), (RgbColour{1, 2, 3}));
  dc.Restore();  // without a save: nothing happens
  EXPECT_EQ(cairo_status(dc.cairo()), CAIRO_STATUS_SUCCESS);
}

TEST_F(DrawingTest, TextStandsOnItsPointAndIsMeasuredAt96DpiOnAnySurface) {
  const uint8_t kText[] = {'H', 'g'};
  FontSpec font;
  font.pixels = 20;
  dc.SetFont(font);
  dc.SetTextColour({0, 0, 0});
  double w = 0, h = 0;
  dc.MeasureText(kText, 2, &w, &h);
  EXPECT_GT(w, 10);
  EXPECT_GE(h, 20);
  EXPECT_LT(h, 30);
  dc.DrawText(10, 50, kText, 2);
  Canvas::Box box = canvas.InkBox();
  EXPECT_GE(box.left, 10);
  EXPECT_LE(box.right, 10 + w);
  EXPECT_LT(box.bottom, 50);
  EXPECT_GE(box.top, 50 - h);

  // A surface scaled twice over measures the same text the same.
  cairo_surface_t* scaled = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 8);
  cairo_surface_set_device_scale(scaled, 2, 2);
  {
    DrawingContext other(scaled);
    other.SetFont(font);
    double w2 = 0, h2 = 0;
    other.MeasureText(kText, 2, &w2, &h2);
    EXPECT_EQ(w2, w);
    EXPECT_EQ(h2, h);
  }
  cairo_surface_destroy(scaled);
}

TEST_F(DrawingTest, TextIsOneParagraphAndBadBytesDoNotStopIt) {
  const std::string kLines[] = {"ab\ncd",
                                "ab\xFF"
                                "cd",
                                "abcd"};
  double heights[3], widths[3];
  for (int i = 0; i < 3; ++i) {
    dc.MeasureText(reinterpret_cast<const uint8_t*>(kLines[i].data()), kLines[i].size(), &widths[i], &heights[i]);
  }
  EXPECT_EQ(heights[0], heights[2]);
  EXPECT_EQ(widths[1], widths[2]);
}

TEST_F(DrawingTest, FocusRectangleInvertsADottedOutlineAndUndoesItself) {
  dc.FillRect(0, 0, 64, 64, {10, 20, 30});
  dc.FocusRect(4, 4, 9, 8);
  // Every other pixel of the outline from the top-left corner.
  EXPECT_EQ(canvas.At(4, 4), (RgbColour{245, 235, 225}));
  EXPECT_EQ(canvas.At(5, 4), (RgbColour{10, 20, 30}));
  EXPECT_EQ(canvas.At(8, 4), (RgbColour{245, 235, 225}));
  EXPECT_EQ(canvas.At(9, 4), (RgbColour{10, 20, 30}));  // right edge exclusive
  EXPECT_EQ(canvas.At(4, 6), (RgbColour{245, 235, 225}));
  EXPECT_EQ(canvas.At(6, 6), (RgbColour{10, 20, 30}));  // inside
  dc.FocusRect(4, 4, 9, 8);
  dc.FocusRect(-5, -5, 80, 70);  // partly off the surface
  dc.FocusRect(-5, -5, 80, 70);
  dc.Save();
  dc.ClipRect(0, 0, 6, 64);
  dc.FocusRect(2, 2, 12, 12);
  EXPECT_EQ(canvas.At(10, 2), (RgbColour{10, 20, 30}));  // clipped away
  dc.FocusRect(2, 2, 12, 12);
  dc.Restore();
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) ASSERT_EQ(canvas.At(x, y), (RgbColour{10, 20, 30})) << x << "," << y;
  }
}

TEST_F(DrawingTest, RgbRowIsCopiedToEveryRowAsked) {
  const uint8_t kRow[] = {255, 0, 0, 0, 255, 0, 0, 0, 255};
  dc.BlitRgbRow(7, 9, kRow, 3, 4);
  for (int y = 9; y < 13; ++y) {
    EXPECT_EQ(canvas.At(7, y), (RgbColour{255, 0, 0}));
    EXPECT_EQ(canvas.At(8, y), (RgbColour{0, 255, 0}));
    EXPECT_EQ(canvas.At(9, y), (RgbColour{0, 0, 255}));
  }
  EXPECT_EQ(canvas.Inked().size(), 12u);
}

}  // namespace
