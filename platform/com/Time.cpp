#include "platform/com/Time.h"

#include <ctime>
#include <limits>

namespace com {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kTicksPerDay = kTicksPerSecond * 86'400;
// 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116'444'736'000'000'000;
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;
// Largest FILETIME that FileTimeToSystemTime accepts: FILETIMEs are signed
// 64-bit quantities on Windows.
constexpr std::uint64_t kMaxTicks = std::numeric_limits<std::int64_t>::max();

using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  auto yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The inverse of DaysFromCivil.
void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  auto doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

constexpr std::int64_t kDaysBefore1601 = -DaysFromCivil(kFirstYear, 1, 1);

// Seconds east of UTC that the process's time-zone rules give at the UTC
// instant `ticks`.
bool UtcOffsetTicks(std::uint64_t ticks, std::int64_t* offset) {
  auto seconds = static_cast<std::int64_t>(ticks / kTicksPerSecond) -
                 static_cast<std::int64_t>(kUnixEpochTicks / kTicksPerSecond);
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return false;
  *offset = static_cast<std::int64_t>(tm.tm_gmtoff) * static_cast<std::int64_t>(kTicksPerSecond);
  return true;
}

// ticks + offset, FALSE when the sum leaves 0..kMaxTicks.
BOOL Shift(std::uint64_t ticks, std::int64_t offset, FILETIME* out) {
  if (offset < 0 && ticks < static_cast<std::uint64_t>(-offset)) return FALSE;
  std::uint64_t shifted = ticks + static_cast<std::uint64_t>(offset);
  if (shifted > kMaxTicks) return FALSE;
  *out = FileTimeFromTicks(shifted);
  return TRUE;
}

}  // namespace

std::uint64_t FileTimeTicks(const FILETIME& ft) {
  return (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

FILETIME FileTimeFromTicks(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

FILETIME FileTimeFromSystemClock(std::chrono::system_clock::time_point t) {
  auto sinceUnix = std::chrono::floor<Ticks>(t.time_since_epoch()).count();
  auto epoch = static_cast<std::int64_t>(kUnixEpochTicks);
  if (sinceUnix < -epoch) return FileTimeFromTicks(0);
  return FileTimeFromTicks(static_cast<std::uint64_t>(sinceUnix + epoch));
}

std::chrono::system_clock::time_point SystemClockFromFileTime(const FILETIME& ft) {
  using Clock = std::chrono::system_clock;
  // The clock's range (nanoseconds on this platform: years 1677..2262) is
  // smaller than FILETIME's; times beyond it saturate.
  std::uint64_t ticks = FileTimeTicks(ft);
  if (ticks > kMaxTicks) return Clock::time_point::max();
  auto sinceUnix = static_cast<std::int64_t>(ticks) - static_cast<std::int64_t>(kUnixEpochTicks);
  auto limit = std::chrono::duration_cast<Ticks>(Clock::duration::max()).count();
  if (sinceUnix >= limit) return Clock::time_point::max();
  if (sinceUnix <= -limit) return Clock::time_point::min();
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(Ticks(sinceUnix)));
}

void GetSystemTimeAsFileTime(FILETIME* ft) {
  if (ft) *ft = FileTimeFromSystemClock(std::chrono::system_clock::now());
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  if (!ft || !st) return FALSE;
  std::uint64_t ticks = FileTimeTicks(*ft);
  if (ticks > kMaxTicks) return FALSE;
  auto days = static_cast<std::int64_t>(ticks / kTicksPerDay);
  std::uint64_t inDay = ticks % kTicksPerDay;
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(days - kDaysBefore1601, &year, &month, &day);
  if (year > kLastYear) return FALSE;
  st->wYear = static_cast<WORD>(year);
  st->wMonth = static_cast<WORD>(month);
  st->wDay = static_cast<WORD>(day);
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  st->wHour = static_cast<WORD>(inDay / (3600 * kTicksPerSecond));
  st->wMinute = static_cast<WORD>(inDay / (60 * kTicksPerSecond) % 60);
  st->wSecond = static_cast<WORD>(inDay / kTicksPerSecond % 60);
  st->wMilliseconds = static_cast<WORD>(inDay / 10'000 % 1000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  if (!st || !ft) return FALSE;
  if (st->wYear < kFirstYear || st->wYear > kLastYear || st->wMonth < 1 || st->wMonth > 12 ||
      st->wDay < 1 || st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 ||
      st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999)
    return FALSE;
  std::int64_t days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) + kDaysBefore1601;
  std::uint64_t ticks = static_cast<std::uint64_t>(days) * kTicksPerDay +
                        ((st->wHour * 60u + st->wMinute) * 60u + st->wSecond) * kTicksPerSecond +
                        st->wMilliseconds * std::uint64_t{10'000};
  *ft = FileTimeFromTicks(ticks);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (!utc || !local) return FALSE;
  std::uint64_t ticks = FileTimeTicks(*utc);
  std::int64_t offset;
  if (ticks > kMaxTicks || !UtcOffsetTicks(ticks, &offset)) return FALSE;
  return Shift(ticks, offset, local);
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  if (!local || !utc) return FALSE;
  std::uint64_t ticks = FileTimeTicks(*local);
  if (ticks > kMaxTicks) return FALSE;
  // The offset belongs to the UTC instant we are looking for: guess it from
  // the local time read as UTC, then correct it once with the offset of the
  // first guess. This settles on the right instant everywhere but in the hour
  // a daylight-saving change skips or repeats, where it picks one of the two.
  std::int64_t offset;
  FILETIME guess;
  if (!UtcOffsetTicks(ticks, &offset) || !Shift(ticks, -offset, &guess)) return FALSE;
  if (!UtcOffsetTicks(FileTimeTicks(guess), &offset)) return FALSE;
  return Shift(ticks, -offset, utc);
}

}  // namespace com
