#pragma once
// An instant in time (milliseconds since 1970-01-01 00:00 UTC, as ICU counts
// them) that may be absent, and the calendar components used to build and step
// dates. Day-level data is keyed by civil days instead (KVRCivilDay).
#include <cmath>
#include <cstdint>
#include <limits>

struct KVRDate {
  double ms = std::numeric_limits<double>::quiet_NaN();  // NaN: no date

  constexpr KVRDate() = default;
  constexpr explicit KVRDate(double milliseconds) : ms(milliseconds) {}
  static KVRDate none() { return KVRDate(); }
  static KVRDate fromSeconds(double s) { return KVRDate(s * 1000.0); }

  bool isValid() const { return !std::isnan(ms); }
  explicit operator bool() const { return isValid(); }
  double seconds() const { return ms / 1000.0; }

  // Comparisons between two present dates. A missing date equals only a
  // missing date and is neither earlier nor later than anything.
  bool operator==(const KVRDate& o) const {
    return (!isValid() && !o.isValid()) || ms == o.ms;
  }
  bool operator!=(const KVRDate& o) const { return !(*this == o); }
  bool isEarlierThan(const KVRDate& o) const { return isValid() && o.isValid() && ms < o.ms; }
  bool isLaterThan(const KVRDate& o) const { return isValid() && o.isValid() && ms > o.ms; }
};

// Calendar unit flags, with the values the callers' masks use (12 = year and
// month, 4 = year alone).
enum KVRCalendarUnit : unsigned {
  KVRYearCalendarUnit = 4,
  KVRMonthCalendarUnit = 8,
  KVRDayCalendarUnit = 16,
  KVRHourCalendarUnit = 32,
  KVRMinuteCalendarUnit = 64,
  KVRSecondCalendarUnit = 128,
  KVRWeekdayCalendarUnit = 512,
};

// Date components; a field left at KVRUndefinedComponent takes no part.
inline constexpr int KVRUndefinedComponent = std::numeric_limits<int>::max();

struct KVRDateComponents {
  int year = KVRUndefinedComponent;
  int month = KVRUndefinedComponent;
  int day = KVRUndefinedComponent;
  int hour = KVRUndefinedComponent;
  int minute = KVRUndefinedComponent;
  int second = KVRUndefinedComponent;
  int weekday = KVRUndefinedComponent;  // 1 = Sunday ... 7 = Saturday

  static KVRDateComponents days(int d) { KVRDateComponents c; c.day = d; return c; }
  static KVRDateComponents months(int m) { KVRDateComponents c; c.month = m; return c; }
  static KVRDateComponents ymd(int y, int m, int d) {
    KVRDateComponents c; c.year = y; c.month = m; c.day = d; return c;
  }
  static bool isSet(int v) { return v != KVRUndefinedComponent; }
};

// A civil (calendar) day: days since 1970-01-01 in the proleptic Gregorian
// calendar, independent of any time zone.
using KVRCivilDay = int32_t;

constexpr KVRCivilDay KVRCivilDayFromYMD(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int>(doe) - 719468;
}

struct KVRYMD { int year; unsigned month; unsigned day; };

constexpr KVRYMD KVRYMDFromCivilDay(KVRCivilDay z) {
  z += 719468;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int y = static_cast<int>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}
