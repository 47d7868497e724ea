#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/com/Time.h"

namespace com {
namespace {

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::uint64_t kHour = 3600 * kSecond;

SYSTEMTIME Date(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st{};
  st.wYear = y, st.wMonth = mo, st.wDay = d, st.wHour = h, st.wMinute = mi, st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

std::uint64_t Ticks(const SYSTEMTIME& st) {
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return FileTimeTicks(ft);
}

TEST(FileTime, KnownDates) {
  EXPECT_EQ(Ticks(Date(1601, 1, 1)), 0u);
  EXPECT_EQ(Ticks(Date(1970, 1, 1)), 116444736000000000u);
  EXPECT_EQ(Ticks(Date(2000, 2, 29, 12, 30, 15, 250)) - Ticks(Date(2000, 2, 29)),
            (12 * 3600 + 30 * 60 + 15) * kSecond + 250 * 10'000);

  SYSTEMTIME st{};
  FILETIME ft = FileTimeFromTicks(116444736000000000u + 951782400 * kSecond);  // 2000-02-29
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 2000);
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wDayOfWeek, 2);  // a Tuesday
  ft = FileTimeFromTicks(0);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wDayOfWeek, 1);  // 1601-01-01 was a Monday
}

TEST(FileTime, RoundTripsThroughSystemTime) {
  for (const SYSTEMTIME& in : {Date(1601, 1, 1), Date(1899, 12, 30, 23, 59, 59, 999),
                               Date(1900, 3, 1), Date(2024, 12, 31, 1, 2, 3, 4),
                               Date(2100, 2, 28, 6), Date(30827, 12, 31, 23, 59, 59, 999)}) {
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&in, &ft)) << in.wYear;
    SYSTEMTIME out{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &out)) << in.wYear;
    EXPECT_EQ(
        std::tie(out.wYear, out.wMonth, out.wDay, out.wHour, out.wMinute, out.wSecond,
                 out.wMilliseconds),
        std::tie(in.wYear, in.wMonth, in.wDay, in.wHour, in.wMinute, in.wSecond, in.wMilliseconds));
  }
}

TEST(FileTime, RefusesInvalidDatesAndRanges) {
  FILETIME ft{};
  for (const SYSTEMTIME& bad :
       {Date(1600, 12, 31), Date(30828, 1, 1), Date(2023, 2, 29), Date(1900, 2, 29),
        Date(2024, 13, 1), Date(2024, 4, 31), Date(2024, 1, 0), Date(2024, 1, 1, 24),
        Date(2024, 1, 1, 0, 60), Date(2024, 1, 1, 0, 0, 60), Date(2024, 1, 1, 0, 0, 0, 1000)}) {
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft)) << bad.wYear << "-" << bad.wMonth;
  }
  SYSTEMTIME leap = Date(2000, 2, 29);
  EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));

  SYSTEMTIME st{};
  FILETIME beyond = FileTimeFromTicks(0x8000000000000000u);  // negative on Windows
  EXPECT_FALSE(FileTimeToSystemTime(&beyond, &st));
  FILETIME year30828 = FileTimeFromTicks(Ticks(Date(30827, 12, 31, 23, 59, 59, 999)) + kSecond);
  EXPECT_FALSE(FileTimeToSystemTime(&year30828, &st));
  EXPECT_FALSE(FileTimeToSystemTime(nullptr, &st));
  EXPECT_FALSE(SystemTimeToFileTime(nullptr, &ft));
}

TEST(FileTime, SystemClockConversions) {
  auto now = std::chrono::system_clock::now();
  FILETIME ft = FileTimeFromSystemClock(now);
  auto back = SystemClockFromFileTime(ft);
  EXPECT_LE(back, now);
  EXPECT_LT(now - back, std::chrono::microseconds(1));  // 100 ns resolution

  EXPECT_EQ(FileTimeTicks(FileTimeFromSystemClock(std::chrono::system_clock::time_point{})),
            116444736000000000u);
  FILETIME far = FileTimeFromTicks(Ticks(Date(9999, 1, 1)));
  EXPECT_EQ(SystemClockFromFileTime(far), std::chrono::system_clock::time_point::max());

  FILETIME a, b;
  GetSystemTimeAsFileTime(&a);
  GetSystemTimeAsFileTime(&b);
  EXPECT_LE(FileTimeTicks(a), FileTimeTicks(b));
  EXPECT_GT(FileTimeTicks(a), Ticks(Date(2020, 1, 1)));
}

// Sets TZ for the life of the object and restores the previous value.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

std::int64_t LocalOffsetHours(const SYSTEMTIME& utc) {
  FILETIME u{}, l{};
  EXPECT_TRUE(SystemTimeToFileTime(&utc, &u));
  EXPECT_TRUE(FileTimeToLocalFileTime(&u, &l));
  return (static_cast<std::int64_t>(FileTimeTicks(l)) -
          static_cast<std::int64_t>(FileTimeTicks(u))) /
         static_cast<std::int64_t>(kHour);
}

TEST(LocalFileTime, EachInstantGetsItsOwnOffset) {
  ScopedTimeZone berlin("Europe/Berlin");
  EXPECT_EQ(LocalOffsetHours(Date(2023, 1, 15, 12)), 1);  // winter, whatever today is
  EXPECT_EQ(LocalOffsetHours(Date(2023, 7, 15, 12)), 2);  // summer
  // Around the change of 2023-03-26 01:00 UTC.
  EXPECT_EQ(LocalOffsetHours(Date(2023, 3, 26, 0, 59, 59)), 1);
  EXPECT_EQ(LocalOffsetHours(Date(2023, 3, 26, 1, 0, 0)), 2);

  SYSTEMTIME st{};
  FILETIME utc{}, local{};
  SYSTEMTIME summer = Date(2023, 7, 15, 12, 5, 3, 500);
  SystemTimeToFileTime(&summer, &utc);
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
  EXPECT_EQ(st.wHour, 14);
  EXPECT_EQ(st.wMilliseconds, 500);  // sub-second part kept
}

TEST(LocalFileTime, InverseRoundTripsOutsideTheSwitchHours) {
  ScopedTimeZone newYork("America/New_York");
  for (const SYSTEMTIME& when : {Date(2023, 1, 15, 12), Date(2023, 7, 15, 3, 30),
                                 Date(2023, 3, 12, 7, 0, 1), Date(2023, 11, 5, 7, 30)}) {
    FILETIME utc{}, local{}, back{};
    SystemTimeToFileTime(&when, &utc);
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(FileTimeTicks(back), FileTimeTicks(utc)) << when.wMonth << "/" << when.wDay;
  }
}

TEST(LocalFileTime, RefusesResultsBeforeTheEpoch) {
  ScopedTimeZone westOfUtc("America/New_York");
  FILETIME start = FileTimeFromTicks(0), out{};
  EXPECT_FALSE(FileTimeToLocalFileTime(&start, &out));
  EXPECT_FALSE(FileTimeToLocalFileTime(nullptr, &out));
  EXPECT_FALSE(LocalFileTimeToFileTime(&start, nullptr));
}

}  // namespace
}  // namespace com
