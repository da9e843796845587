// Dates: the local clock, and Julian dates (a day starts at .5) to and from
// calendar dates. The calendar arithmetic runs in integers whose intermediate
// products are wider than any double's integer part, so no input overflows.
#include <time.h>

#include <cmath>
#include <cstdint>

#include "corelib/corelib.h"

namespace {

using Wide = __int128;

// The doubles nearest 1/60 and 1/24.
constexpr double kPerMinute = 0.016666666666666666;
constexpr double kPerHour = 0.041666666666666664;
// Tenths of milliseconds.
constexpr int64_t kTicksPerMinute = 600000;
constexpr int64_t kTicksPerHour = 60 * kTicksPerMinute;
constexpr int64_t kTicksPerDay = 24 * kTicksPerHour;

// Divisions truncate toward zero, as the formulas ask.
Wide JulianDayNumber(Wide year, Wide month, Wide day) {
  const Wide k = (month - 14) / 12;
  return 1461 * (year + 4800 + k) / 4 + 367 * (month - 2 - 12 * k) / 12 - 3 * ((year + 4900 + k) / 100) / 4 + day -
         32075;
}

void CalendarDate(Wide n, double* year, double* month, double* day) {
  Wide l = n + 68569;
  const Wide q = 4 * l / 146097;
  l = l - (146097 * q + 3) / 4;
  const Wide i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  const Wide j = 80 * l / 2447;
  *day = static_cast<double>(l - 2447 * j / 80);
  const Wide c = j / 11;
  *month = static_cast<double>(j + 2 - 12 * c);
  *year = static_cast<double>(100 * (q - 49) + i + c);
}

}  // namespace

void LocalClockFields(int64_t unixSeconds, int milliseconds, double fields[6]) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm local {};
  localtime_r(&t, &local);
  fields[0] = local.tm_year + 1900.0;
  fields[1] = local.tm_mon + 1.0;
  fields[2] = local.tm_mday;
  fields[3] = local.tm_hour;
  fields[4] = local.tm_min;
  fields[5] = local.tm_sec + milliseconds / 1000.0;
}

StatusCode ClockNative(EngineContext* ctx, int, int, void*) {
  // Read whole at every call: fields kept from an earlier reading would run
  // past a month's end or a change of the clock.
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  double* row = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, 6, &row, nullptr); st != kOk) return st;
  LocalClockFields(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000), row);
  return kOk;
}

StatusCode Cal2JulianNative(EngineContext* ctx, int nargin, int, void*) {
  // year, month, day, hour, minute as integers; the seconds keep their fraction.
  Wide parts[5] = {0, 0, 1, 0, 0};
  double second = 0;
  if (nargin == 1) {
    int32_t m = 0, n = 0;
    double* re = nullptr;
    if (StatusCode st = GetDoubleMatrixArg(ctx, 0, &m, &n, &re, nullptr); st != kOk) return st;
    const int64_t count = int64_t{m} * n;
    if (count < 3 || count > 6) return kBadSize;
    for (int64_t k = 0; k < count && k < 5; ++k) parts[k] = TruncateToInt64(re[k]);
    if (count == 6) second = re[5];
  } else {
    for (int k = 0; k < nargin; ++k) {
      const int position = nargin - 1 - k;
      if (k == 5) {
        if (StatusCode st = GetRealScalarArg(ctx, position, &second); st != kOk) return st;
        continue;
      }
      int32_t v = 0;
      if (StatusCode st = GetIntegerScalarArg(ctx, position, &v); st != kOk) return st;
      parts[k] = v;
    }
  }
  const double jdn = static_cast<double>(JulianDayNumber(parts[0], parts[1], parts[2]));
  const double time =
      ((second * kPerMinute + static_cast<double>(parts[4])) * kPerMinute + static_cast<double>(parts[3])) * kPerHour;
  if (StatusCode st = PushRealScalar(ctx, jdn - 0.5 + time); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode Julian2CalNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin != 1) return kTooManyArgin;
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
  if (GetDoubleArrayArg(ctx, 0, &ndims, dims, &count, &re, &im) != kOk) return kWrongType;
  if (count != 1 || im != nullptr) return kNonScalarArg;
  const double jd = re[0];
  // Past 2^62 days the day number leaves the integers the date formulas use.
  if (!(std::fabs(jd) < 4611686018427387904.0)) return kOutOfRangeArg;
  double whole = std::floor(jd + 0.5);
  // The time of day in tenths of milliseconds, rounded once: rounding the
  // seconds apart from the hour and minute shows 12:00 as 11:59 and 60
  // seconds whenever the day's fraction falls a hair short of the minute.
  auto ticks = static_cast<int64_t>(std::floor((jd - whole + 0.5) * 86400 * 10000 + 0.5));
  if (ticks >= kTicksPerDay) ticks -= kTicksPerDay, whole += 1;
  double f[6];
  CalendarDate(static_cast<int64_t>(whole), &f[0], &f[1], &f[2]);
  f[3] = static_cast<double>(ticks / kTicksPerHour);
  f[4] = static_cast<double>(ticks / kTicksPerMinute % 60);
  f[5] = static_cast<double>(ticks % kTicksPerMinute) / 10000;

  if (nargout <= 1) {
    // One output: the row; none asked for: the year alone.
    if (nargout == 1) {
      double* row = nullptr;
      if (StatusCode st = PushDoubleMatrix(ctx, 1, 6, &row, nullptr); st != kOk) return st;
      for (int k = 0; k < 6; ++k) row[k] = f[k];
    } else if (StatusCode st = PushRealScalar(ctx, f[0]); st != kOk) {
      return st;
    }
    return DropArgsUnderResults(ctx, 1, 1);
  }
  const int n = nargout < 6 ? nargout : 6;
  for (int k = n - 1; k >= 0; --k) {
    if (StatusCode st = PushRealScalar(ctx, f[k]); st != kOk) {
      for (int j = k + 1; j < n; ++j) (void)DropArgsUnderResults(ctx, 0, 1);
      return st;
    }
  }
  return DropArgsUnderResults(ctx, n, 1);
}
