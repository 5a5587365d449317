#pragma once
// The shared calendars: Gregorian, in the user's locale and time zone (shared)
// or in GMT (sharedGMT), on ICU. Every operation takes the calendar's lock, so
// any thread may call them.
#include <QString>
#include <mutex>

#include "platform/KVRDate.h"

class KVRCalendar {
 public:
  static KVRCalendar& shared();
  static KVRCalendar& sharedGMT();

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

  // Day-level helpers.
  KVRDate startOfDay(KVRDate date);           // the date cut to its day
  KVRCivilDay civilDay(KVRDate date);         // the calendar day the date falls on
  KVRDate dateFromCivilDay(KVRCivilDay day);  // midnight (or the day's first instant)

  std::recursive_mutex& calendarLock() { return lock_; }

  // Re-reads the time zone and locale from the environment (TZ, LANG) or the
  // given IANA zone; tests use it.
  void resetTimeZone(const QString& ianaZone = QString());

 private:
  KVRCalendar(bool gmt);
  ~KVRCalendar();
  struct Impl;
  Impl* d_;
  std::recursive_mutex lock_;
};
