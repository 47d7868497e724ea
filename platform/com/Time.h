// FILETIME and SYSTEMTIME.
#pragma once

#include <chrono>

#include "platform/com/Types.h"

namespace com {

// 100-nanosecond ticks since 1601-01-01 00:00 UTC (or local time, after
// FileTimeToLocalFileTime).
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

std::uint64_t FileTimeTicks(const FILETIME& ft);
FILETIME FileTimeFromTicks(std::uint64_t ticks);
FILETIME FileTimeFromSystemClock(std::chrono::system_clock::time_point t);
std::chrono::system_clock::time_point SystemClockFromFileTime(const FILETIME& ft);

void GetSystemTimeAsFileTime(FILETIME* ft);
// Both fail (FALSE) for null pointers and for years outside 1601..30827.
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
// Shifts by the offset from UTC that the process's time-zone rules (TZ, as
// localtime_r applies them) give for that very instant, so a time stamp from
// the other side of a daylight-saving change gets its own offset.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);

}  // namespace com
