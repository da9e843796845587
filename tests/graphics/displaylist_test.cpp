#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <vector>

#include "graphics/graphics.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Element builders for hand-made lists; appended one by one, since g++ 12
// warns falsely on inserting a braced list into an empty vector when optimising.
void Append(std::vector<double>& l, std::initializer_list<double> values) {
  for (double v : values) l.push_back(v);
}
void Marker(std::vector<double>& l, int k) { Append(l, {70, -1, -1, 0, 0, 1, double(k)}); }
void Curve(std::vector<double>& l, double id) { Append(l, {1, id, 1, 8, 0, 5, 2, 0, 1, 0, 1}); }

// The list in a heap block of exactly its length, so ASan sees any read past it.
std::unique_ptr<double[]> Exact(const std::vector<double>& l) {
  auto copy = std::make_unique<double[]>(l.size() > 0 ? l.size() : 1);
  std::copy(l.begin(), l.end(), copy.get());
  return copy;
}

std::vector<int32_t> Positions(const double* list, int32_t length) {
  std::vector<int32_t> out;
  ElementCursor cursor{list, length, 0};
  ListElement e{};
  while (NextElement(&cursor, &e)) out.push_back(e.position);
  return out;
}

uint64_t Bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}

TEST(DisplayList, FirstPlotCallOnAnEmptyListStartsWithAMarker) {
  // One curve of two points: header, n, x[2], y[2]; the marker comes first.
  constexpr int32_t kCurve = kElementHeaderDoubles + 5;
  for (int32_t capacity : {kSectionMarkerDoubles + kCurve, kSectionMarkerDoubles + kCurve - 1}) {
    std::vector<double> buffer(capacity + 1, 99.0);
    DisplayListWriter list{buffer.data(), capacity, 0};
    bool started = false;
    StatusCode st = BeginListAppend(&list, kCurve, &started);
    if (capacity < kSectionMarkerDoubles + kCurve) {
      EXPECT_EQ(st, kPlotOverflow);
      EXPECT_EQ(list.used, 0);
      EXPECT_EQ(buffer[0], 99.0);
      continue;
    }
    ASSERT_EQ(st, kOk);
    EXPECT_TRUE(started);
    double* data = AppendElement(&list, ElementHeader{1, 4, 1, 8, 0xFF0000, 5});
    ASSERT_NE(data, nullptr);
    const double values[5] = {2, 0.5, 1.5, -1, 1};
    std::copy(values, values + 5, data);
    const std::vector<double> want = {70, -1, -1, 0, 0, 1, 0, 1, 4, 1, 8, 0xFF0000, 5, 2, 0.5, 1.5, -1, 1};
    EXPECT_EQ(std::vector<double>(buffer.begin(), buffer.begin() + list.used), want);
    EXPECT_EQ(buffer[capacity], 99.0);
  }
}

TEST(DisplayList, WritersFitExactlyTheirSize) {
  // Each writer at exactly its size succeeds and at one double less fails untouched.
  for (int32_t slack : {0, -1}) {
    std::vector<double> buffer(40, 99.0);
    int32_t used = 10;
    bool ok = AppendSectionMarker(buffer.data(), 10 + kSectionMarkerDoubles + slack, &used, 3);
    EXPECT_EQ(ok, slack == 0);
    EXPECT_EQ(used, slack == 0 ? 17 : 10);
    EXPECT_EQ(buffer[10], slack == 0 ? 70.0 : 99.0);

    DisplayListWriter list{buffer.data(), 20 + kElementHeaderDoubles + 4 + slack, 20};
    double* data = AppendElement(&list, ElementHeader{4, -1, -1, 8, 0, 4});
    EXPECT_EQ(data != nullptr, slack == 0);
    EXPECT_EQ(list.used, slack == 0 ? 30 : 20);

    // A list that is not empty needs no marker.
    DisplayListWriter open{buffer.data(), 20 + 9 + slack, 20};
    EXPECT_EQ(BeginListAppend(&open, 9, nullptr), slack == 0 ? kOk : kPlotOverflow);
    EXPECT_EQ(open.used, 20);
  }
  // No free block at all: the capacity is negative.
  double one = 0;
  DisplayListWriter none{&one, -3, 0};
  EXPECT_EQ(BeginListAppend(&none, 0, nullptr), kPlotOverflow);
}

TEST(DisplayList, FindsSections) {
  std::vector<double> markerLed, curveLed, markerFree;
  Marker(markerLed, 0);  // 0
  Curve(markerLed, 1);   // 7
  Marker(markerLed, 1);  // 18
  Curve(markerLed, 2);   // 25
  Marker(markerLed, 2);  // 36
  Curve(markerLed, 3);   // 43
  Curve(curveLed, 1);    // 0
  Marker(curveLed, 1);   // 11
  Curve(curveLed, 2);    // 18
  Marker(curveLed, 2);   // 29
  Curve(curveLed, 3);    // 36
  Curve(markerFree, 1);
  Curve(markerFree, 2);
  const std::vector<double> empty;
  struct Case {
    const char* name;
    const std::vector<double>* list;
    int32_t n;
    bool found;
    int32_t position;
  };
  const Case kCases[] = {
      {"marker-led", &markerLed, 0, true, 0},
      {"marker-led", &markerLed, 1, true, 18},
      {"marker-led", &markerLed, 2, true, 36},
      {"marker-led", &markerLed, 3, false, 0},
      {"marker-led", &markerLed, -1, true, 43},
      {"curve-led", &curveLed, 0, true, 0},
      {"curve-led", &curveLed, 1, true, 11},
      {"curve-led", &curveLed, 2, true, 29},
      {"curve-led", &curveLed, 3, false, 0},
      {"curve-led", &curveLed, -1, true, 36},
      {"marker-free", &markerFree, -1, true, 0},
      {"marker-free", &markerFree, 0, true, 0},
      {"marker-free", &markerFree, 1, false, 0},
      {"empty", &empty, -1, true, 0},
      {"empty", &empty, 0, false, 0},
  };
  for (const Case& c : kCases) {
    auto list = Exact(*c.list);
    int32_t position = -5;
    bool found = FindSectionInList(list.get(), static_cast<int32_t>(c.list->size()), c.n, &position);
    EXPECT_EQ(found, c.found) << c.name << " n = " << c.n;
    if (c.found) {
      EXPECT_EQ(position, c.position) << c.name << " n = " << c.n;
    }
  }
}

TEST(DisplayList, TextIsPackedEightBytesPerDouble) {
  EXPECT_EQ(TextDoubles(0), 1);
  EXPECT_EQ(TextDoubles(8), 2);
  EXPECT_EQ(TextDoubles(9), 3);
  EXPECT_EQ(TextDoubles(16), 3);

  const char* text = "abcdefghi";
  std::vector<double> l = {55, -1, -1, 8, 0, double(TextDoubles(9))};
  l.resize(l.size() + TextDoubles(9), 1.5);
  PackText(l.data() + kElementHeaderDoubles, reinterpret_cast<const uint8_t*>(text), 9);
  EXPECT_EQ(l[6], 9.0);
  // Byte 0 of the text is the lowest-addressed byte: the low byte of a little-endian word.
  EXPECT_EQ(Bits(l[7]), 0x6867666564636261u);
  EXPECT_EQ(Bits(l[8]), 0x69u);

  auto list = Exact(l);
  ElementCursor cursor{list.get(), static_cast<int32_t>(l.size()), 0};
  ListElement e{};
  ASSERT_TRUE(NextElement(&cursor, &e));
  const uint8_t* bytes = nullptr;
  int32_t length = 0;
  ASSERT_TRUE(ElementText(e, 0, &bytes, &length));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), length), text);
  // A text length the element's data cannot hold is refused.
  for (double bad : {17.0, -1.0, 2.5, kNaN}) {
    list[6] = bad;
    EXPECT_FALSE(ElementText(e, 0, &bytes, &length)) << bad;
  }
  list[6] = 16;
  EXPECT_TRUE(ElementText(e, 0, &bytes, &length));
  EXPECT_FALSE(ElementText(e, 3, &bytes, &length));
}

TEST(DisplayList, FaceIndicesArePackedTwoPerDouble) {
  EXPECT_EQ(FaceTableDoubles(15), 8);  // 5 triangles
  EXPECT_EQ(FaceTableDoubles(16), 9);  // 4 quadrilaterals
  for (int64_t count : {15, 16}) {
    std::vector<double> table(FaceTableDoubles(count), 0.0);
    for (int64_t i = 0; i < count; ++i) StoreFaceIndex(table.data(), i, static_cast<int32_t>(1000 * i + 7));
    for (int64_t i = 0; i < count; ++i) EXPECT_EQ(LoadFaceIndex(table.data(), i), 1000 * i + 7);
    // The first index of a pair is the low word, in memory order.
    EXPECT_EQ(Bits(table[1]), (uint64_t{3007} << 32) | 2007u);
  }
}

TEST(DisplayList, CursorStopsAtTruncationWithoutReadingPastTheLength) {
  std::vector<double> l;
  Marker(l, 0);                         // ends at 7
  Curve(l, 1);                          // ends at 18
  Append(l, {67, -1, -1, 0, 0, 1, 1});  // ends at 25
  const std::vector<int32_t> ends = {7, 18, 25};
  for (int32_t cut = 0; cut <= static_cast<int32_t>(l.size()); ++cut) {
    auto list = Exact(std::vector<double>(l.begin(), l.begin() + cut));
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= cut) ++whole;
    EXPECT_EQ(Positions(list.get(), cut).size(), whole) << "cut at " << cut;
  }
}

TEST(DisplayList, CursorEndsTheListAtAMalformedElement) {
  // The second element (at 7) is corrupted in one field; the walk keeps only the marker.
  struct Case {
    int field;
    double value;
  };
  const Case kCases[] = {
      {0, 0},
      {0, 71},
      {0, -1},
      {0, kNaN},
      {0, 1e300},
      {0, 0.5},
      {5, -1},
      {5, 2.5},
      {5, kNaN},
      {5, 13},
      {5, 1e300},
      {5, -0.5},
      {5, std::numeric_limits<double>::infinity()},
  };
  for (const Case& c : kCases) {
    std::vector<double> l;
    Marker(l, 0);
    Curve(l, 1);
    Marker(l, 1);
    l[7 + c.field] = c.value;
    auto list = Exact(l);
    EXPECT_EQ(Positions(list.get(), static_cast<int32_t>(l.size())), std::vector<int32_t>{0})
        << "field " << c.field << " = " << c.value;
  }
  // Fields the cursor does not judge are truncated toward zero.
  std::vector<double> l;
  Append(l, {70.9, 3.5, -2.7, 520.9, 65535.2, 1, 0});
  auto list = Exact(l);
  ElementCursor cursor{list.get(), 7, 0};
  ListElement e{};
  ASSERT_TRUE(NextElement(&cursor, &e));
  EXPECT_EQ(e.code, 70);
  EXPECT_EQ(e.id, 3.5);
  EXPECT_EQ(e.item, -2);
  EXPECT_EQ(e.styleWord, 520);
  EXPECT_EQ(e.colour, 65535);
  EXPECT_FALSE(NextElement(&cursor, &e));
  EXPECT_FALSE(NextElement(&cursor, &e));
}

}  // namespace
