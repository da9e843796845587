// The local clock read by `clock`, against the C library's own local time.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "corelib/corelib.h"
#include "tests/engine/stack_fixture.h"

namespace {

// Runs under a fixed zone and puts the process's zone back after.
class FixedZone {
 public:
  explicit FixedZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~FixedZone() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(LocalClockFields, EveryFieldFollowsTheCalendarAcrossMonthAndYearEnds) {
  FixedZone zone("UTC");
  struct Case {
    int64_t seconds;
    int milliseconds;
    double want[6];
  };
  const Case kCases[] = {
      {1706745599, 999, {2024, 1, 31, 23, 59, 59.999}},  // the last moment of January
      {1706745600, 0, {2024, 2, 1, 0, 0, 0}},           {1709164800, 250, {2024, 2, 29, 0, 0, 0.25}},  // a leap day
      {1735689599, 500, {2024, 12, 31, 23, 59, 59.5}},  {1735689600, 1, {2025, 1, 1, 0, 0, 0.001}},
  };
  for (const Case& c : kCases) {
    double f[6];
    LocalClockFields(c.seconds, c.milliseconds, f);
    for (int k = 0; k < 6; ++k) EXPECT_DOUBLE_EQ(f[k], c.want[k]) << c.seconds << " field " << k;
  }
}

class ClockTest : public StackFixture {};

// The native's row equals localtime_r of the second it was read in.
TEST_F(ClockTest, TheRowIsTheLocalTimeOfTheCall) {
  FixedZone zone("Europe/Paris");
  for (int attempt = 0; attempt < 3; ++attempt) {
    const time_t before = time(nullptr);
    ASSERT_EQ(ClockNative(ctx, 0, 1, nullptr), kOk);
    const time_t after = time(nullptr);
    int32_t m = 0, n = 0;
    double* row = nullptr;
    ASSERT_EQ(PopDoubleMatrix(ctx, &m, &n, &row, nullptr), kOk);
    ASSERT_EQ(m, 1);
    ASSERT_EQ(n, 6);
    if (before != after) continue;  // a second boundary fell inside the call
    struct tm local {};
    localtime_r(&before, &local);
    EXPECT_EQ(row[0], local.tm_year + 1900);
    EXPECT_EQ(row[1], local.tm_mon + 1);
    EXPECT_EQ(row[2], local.tm_mday);
    EXPECT_EQ(row[3], local.tm_hour);
    EXPECT_EQ(row[4], local.tm_min);
    EXPECT_GE(row[5], local.tm_sec);
    EXPECT_LT(row[5], local.tm_sec + 1);
    return;
  }
  FAIL() << "three calls each crossed a second boundary";
}

}  // namespace
