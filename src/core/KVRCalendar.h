#pragma once
// The shared calendars: Gregorian, in the user's locale and time zone (shared)
// or in GMT (sharedGMT), on ICU. Every operation takes the calendar's lock, so
// any thread may call them.
//
// Clock changes, one rule everywhere (the platform calendar's): a wall time
// that a clock change skips moves forward by the length of the gap (00:00 on
// a day whose clocks go from 00:00 to 01:00 is 01:00, 02:30 in a 02:00-03:00
// gap is 03:30); a wall time that occurs twice is its first occurrence. This
// holds for dates made from components, for additions and for the day
// helpers alike.
#include <QDate>
#include <QString>
#include <mutex>
#include <vector>

#include "platform/KVRDate.h"

class KVRCalendar {
 public:
  static KVRCalendar& shared();
  static KVRCalendar& sharedGMT();
  // A calendar of one's own (tests): in the user's locale and time zone, or
  // in GMT.
  explicit KVRCalendar(bool gmt = false);
  ~KVRCalendar();
  KVRCalendar(const KVRCalendar&) = delete;
  KVRCalendar& operator=(const KVRCalendar&) = delete;

  // Adds all the set components in one step, largest unit first
  // (-1 month +1 day from 31 March gives 1 March).
  KVRDate dateByAddingComponents(const KVRDateComponents& c, KVRDate date);
  // The components (KVRCalendarUnit mask) of a date.
  KVRDateComponents components(unsigned unitFlags, KVRDate date);
  // The difference from one date to another in the requested units, negative
  // when the second is earlier.
  KVRDateComponents components(unsigned unitFlags, KVRDate from, KVRDate to, unsigned options = 0);
  // Year, month and day alone give midnight of that day.
  KVRDate dateFromComponents(const KVRDateComponents& c);
  // The day of a date as a QDate (date pickers), and midnight of a QDate's
  // day; each gives an invalid date for an invalid one.
  QDate qDate(KVRDate d);
  KVRDate dateFromQDate(const QDate& q);

  // Day-level helpers.
  KVRDate startOfDay(KVRDate date);           // the date cut to its day
  KVRCivilDay civilDay(KVRDate date);         // the calendar day the date falls on
  // The calendar days of many dates at once: out[i] is civilDay(dates[i]).
  void civilDays(const KVRDate* dates, size_t count, KVRCivilDay* out);
  KVRDate dateFromCivilDay(KVRCivilDay day);  // midnight (or the day's first instant)
  // The days from the day of `from` to the day of `to`, both included, one
  // date per calendar day: `from` itself, then each following day at from's
  // wall time. Stepping by calendar day rather than adding a day to the
  // previous date keeps every day, also where a clock change moved one day's
  // date off midnight. Empty when a date is missing or `from` is later than `to`.
  std::vector<KVRDate> dayWalk(KVRDate from, KVRDate to);
  // The same, with the calendar day of each date walked in `days`.
  std::vector<KVRDate> dayWalk(KVRDate from, KVRDate to, std::vector<KVRCivilDay>* days);

  std::recursive_mutex& calendarLock() { return lock_; }

  // Resolves the user's time zone again (KVRResetUserTimeZone: from the
  // environment, or the given zone name or POSIX rule) and re-reads the locale;
  // the shared date formatter follows. Tests use it.
  void resetTimeZone(const QString& zoneName = QString());

 private:
  struct Impl;
  Impl* d_;
  std::recursive_mutex lock_;
};
