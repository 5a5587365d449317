#include "core/KVRCalendar.h"

#include <cmath>
#include <memory>
#include <unicode/basictz.h>
#include <unicode/gregocal.h>
#include <unicode/tztrans.h>

#include "platform/KVRICUSupport.h"

namespace {

constexpr double kMsPerDay = 86400000.0;
// Earliest representable instant: makes the calendar proleptic Gregorian, like
// the civil-day numbering.
constexpr double kProlepticChange = -8.64e15;

struct FieldUnit {
  KVRCalendarUnit unit;
  UCalendarDateFields field;
  int KVRDateComponents::*member;
};

// Largest unit first: additions and differences are applied in this order.
constexpr FieldUnit kFields[] = {
    {KVRYearCalendarUnit, UCAL_YEAR, &KVRDateComponents::year},
    {KVRMonthCalendarUnit, UCAL_MONTH, &KVRDateComponents::month},
    {KVRDayCalendarUnit, UCAL_DATE, &KVRDateComponents::day},
    {KVRHourCalendarUnit, UCAL_HOUR_OF_DAY, &KVRDateComponents::hour},
    {KVRMinuteCalendarUnit, UCAL_MINUTE, &KVRDateComponents::minute},
    {KVRSecondCalendarUnit, UCAL_SECOND, &KVRDateComponents::second},
};

}  // namespace

struct KVRCalendar::Impl {
  bool gmt = false;
  std::unique_ptr<icu::GregorianCalendar> cal;
  const icu::BasicTimeZone* zone = nullptr;  // owned by cal; null if not a BasicTimeZone

  void build() {
    std::unique_ptr<icu::TimeZone> tz =
        gmt ? std::unique_ptr<icu::TimeZone>(icu::TimeZone::getGMT()->clone()) : KVRUserTimeZone();
    UErrorCode status = U_ZERO_ERROR;
    // Always Gregorian, whatever calendar the locale prefers: the month and
    // day tables of the application have twelve months.
    auto c = std::make_unique<icu::GregorianCalendar>(tz.release(), KVRUserLocale(KVRLocaleCategory::dates),
                                                      status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      c = std::make_unique<icu::GregorianCalendar>(status);
    }
    c->setGregorianChange(kProlepticChange, status);
    c->setLenient(true);
    // A skipped wall time moves forward by the gap's length (read with the
    // offset in force before the change); a repeated one is its first
    // occurrence. dateFromLocalTime reads clock changes the same way.
    c->setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
    c->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    zone = dynamic_cast<const icu::BasicTimeZone*>(&c->getTimeZone());
    cal = std::move(c);
    span.valid = false;
  }

  // The span between two clock changes around the last instant looked up, and
  // the zone's offset there: day lookups in loops hit it almost always.
  struct OffsetSpan {
    bool valid = false;
    double from = 0, to = 0;  // [from, to) in UTC milliseconds
    double offset = 0;
  } span;

  void learnSpan(double ms) {
    span.valid = false;
    if (!zone) return;
    icu::TimeZoneTransition tr;
    const double from = zone->getPreviousTransition(ms, true, tr) ? tr.getTime() : -HUGE_VAL;
    const double to = zone->getNextTransition(ms, false, tr) ? tr.getTime() : HUGE_VAL;
    span.from = from;
    span.to = to;
    span.offset = offsetAt(ms);
    span.valid = true;
  }

  double cachedOffsetAt(double ms) {
    if (!(span.valid && ms >= span.from && ms < span.to)) {
      learnSpan(ms);
      if (!span.valid) return offsetAt(ms);
    }
    return span.offset;
  }

  // The offset of local wall time from UTC at the instant.
  double offsetAt(double ms) const {
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    cal->getTimeZone().getOffset(ms, false, raw, dst, status);
    return U_SUCCESS(status) ? double(raw) + double(dst) : 0.0;
  }

  KVRDate dateFromFields(int y, int m, int d, int h, int mi, int s, int ms = 0) {
    UErrorCode status = U_ZERO_ERROR;
    cal->clear();
    cal->set(UCAL_EXTENDED_YEAR, y);
    cal->set(UCAL_MONTH, m - 1);
    cal->set(UCAL_DATE, d);
    cal->set(UCAL_HOUR_OF_DAY, h);
    cal->set(UCAL_MINUTE, mi);
    cal->set(UCAL_SECOND, s);
    cal->set(UCAL_MILLISECOND, ms);
    const UDate t = cal->getTime(status);
    return U_SUCCESS(status) ? KVRDate(t) : KVRDate();
  }

  // The instant of a local wall time, given as milliseconds from 1970-01-01
  // 00:00 wall time. A wall time skipped by a clock change is read with the
  // offset in force before the change (forward by the gap's length), a
  // repeated one is its first occurrence: the calendar's own rule.
  KVRDate dateFromLocalTime(double local) {
    if (span.valid) {
      // A day away from both ends of the span, the wall time can be neither
      // skipped nor repeated: the span's offset answers.
      const double guess = local - span.offset;
      if (guess >= span.from + kMsPerDay && guess < span.to - kMsPerDay) return KVRDate(guess);
    }
    if (zone) {
      int32_t raw = 0, dst = 0;
      UErrorCode status = U_ZERO_ERROR;
      zone->getOffsetFromLocal(local, UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_FORMER, raw, dst, status);
      if (U_SUCCESS(status)) {
        const double t = local - double(raw) - double(dst);
        learnSpan(t);
        return KVRDate(t);
      }
    }
    const double dayNumber = std::floor(local / kMsPerDay);
    const KVRYMD ymd = KVRYMDFromCivilDay(KVRCivilDay(dayNumber));
    const int64_t inDay = int64_t(local - dayNumber * kMsPerDay);
    return dateFromFields(ymd.year, int(ymd.month), int(ymd.day), int(inDay / 3600000),
                          int(inDay / 60000 % 60), int(inDay / 1000 % 60), int(inDay % 1000));
  }

  KVRCivilDay civilDayOf(double ms) {
    return static_cast<KVRCivilDay>(std::floor((ms + cachedOffsetAt(ms)) / kMsPerDay));
  }
};

KVRCalendar::KVRCalendar(bool gmt) : d_(new Impl) {
  d_->gmt = gmt;
  d_->build();
}

KVRCalendar::~KVRCalendar() { delete d_; }

KVRCalendar& KVRCalendar::shared() {
  static KVRCalendar calendar(false);
  return calendar;
}

KVRCalendar& KVRCalendar::sharedGMT() {
  static KVRCalendar calendar(true);
  return calendar;
}

void KVRCalendar::resetTimeZone(const QString& zoneName) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (!d_->gmt) KVRResetUserTimeZone(zoneName);
  d_->build();
}

KVRDate KVRCalendar::dateByAddingComponents(const KVRDateComponents& c, KVRDate date) {
  if (!date.isValid()) return KVRDate();
  std::lock_guard<std::recursive_mutex> g(lock_);
  icu::GregorianCalendar& cal = *d_->cal;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(date.ms, status);
  for (const FieldUnit& f : kFields) {
    const int v = c.*(f.member);
    if (KVRDateComponents::isSet(v) && v != 0) cal.add(f.field, v, status);
  }
  const UDate t = cal.getTime(status);
  return U_SUCCESS(status) ? KVRDate(t) : KVRDate();
}

KVRDateComponents KVRCalendar::components(unsigned unitFlags, KVRDate date) {
  KVRDateComponents out;
  if (!date.isValid()) return out;
  std::lock_guard<std::recursive_mutex> g(lock_);
  icu::GregorianCalendar& cal = *d_->cal;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(date.ms, status);
  for (const FieldUnit& f : kFields) {
    if (!(unitFlags & f.unit)) continue;
    int v = f.field == UCAL_YEAR ? cal.get(UCAL_EXTENDED_YEAR, status) : cal.get(f.field, status);
    if (f.field == UCAL_MONTH) v += 1;
    out.*(f.member) = v;
  }
  if (unitFlags & KVRWeekdayCalendarUnit) out.weekday = cal.get(UCAL_DAY_OF_WEEK, status);
  if (U_FAILURE(status)) return KVRDateComponents();
  return out;
}

KVRDateComponents KVRCalendar::components(unsigned unitFlags, KVRDate from, KVRDate to,
                                          unsigned /*options*/) {
  KVRDateComponents out;
  if (!from.isValid() || !to.isValid()) return out;
  std::lock_guard<std::recursive_mutex> g(lock_);
  icu::GregorianCalendar& cal = *d_->cal;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(from.ms, status);
  // Each difference leaves the calendar advanced by it, so the next smaller
  // unit measures only the remainder.
  for (const FieldUnit& f : kFields)
    if (unitFlags & f.unit) out.*(f.member) = cal.fieldDifference(to.ms, f.field, status);
  if (U_FAILURE(status)) return KVRDateComponents();
  return out;
}

KVRDate KVRCalendar::dateFromComponents(const KVRDateComponents& c) {
  auto or_ = [](int v, int fallback) { return KVRDateComponents::isSet(v) ? v : fallback; };
  std::lock_guard<std::recursive_mutex> g(lock_);
  return d_->dateFromFields(or_(c.year, 1), or_(c.month, 1), or_(c.day, 1), or_(c.hour, 0),
                            or_(c.minute, 0), or_(c.second, 0));
}

QDate KVRCalendar::qDate(KVRDate d) {
  if (!d.isValid()) return QDate();
  const KVRDateComponents c = components(KVRYearCalendarUnit | KVRMonthCalendarUnit | KVRDayCalendarUnit, d);
  return QDate(c.year, c.month, c.day);
}

KVRDate KVRCalendar::dateFromQDate(const QDate& q) {
  if (!q.isValid()) return KVRDate();
  return dateFromComponents(KVRDateComponents::ymd(q.year(), q.month(), q.day()));
}

KVRDate KVRCalendar::startOfDay(KVRDate date) {
  if (!date.isValid()) return KVRDate();
  std::lock_guard<std::recursive_mutex> g(lock_);
  return dateFromCivilDay(civilDay(date));
}

KVRCivilDay KVRCalendar::civilDay(KVRDate date) {
  if (!date.isValid()) return 0;
  std::lock_guard<std::recursive_mutex> g(lock_);
  return d_->civilDayOf(date.ms);
}

void KVRCalendar::civilDays(const KVRDate* dates, size_t count, KVRCivilDay* out) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  for (size_t i = 0; i < count; ++i) out[i] = dates[i].isValid() ? d_->civilDayOf(dates[i].ms) : 0;
}

KVRDate KVRCalendar::dateFromCivilDay(KVRCivilDay day) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  return d_->dateFromLocalTime(double(day) * kMsPerDay);
}

std::vector<KVRDate> KVRCalendar::dayWalk(KVRDate from, KVRDate to) { return dayWalk(from, to, nullptr); }

std::vector<KVRDate> KVRCalendar::dayWalk(KVRDate from, KVRDate to, std::vector<KVRCivilDay>* days) {
  std::vector<KVRDate> walk;
  if (days) days->clear();
  if (!from.isValid() || !to.isValid() || from.isLaterThan(to)) return walk;
  std::lock_guard<std::recursive_mutex> g(lock_);
  const KVRCivilDay first = d_->civilDayOf(from.ms);
  const KVRCivilDay last = d_->civilDayOf(to.ms);
  // from's wall time, as milliseconds into its day.
  const double timeOfDay = from.ms + d_->cachedOffsetAt(from.ms) - double(first) * kMsPerDay;
  walk.reserve(size_t(int64_t(last) - int64_t(first) + 1));
  walk.push_back(from);
  if (days) {
    days->reserve(walk.capacity());
    days->push_back(first);
  }
  for (KVRCivilDay day = first + 1; day <= last; ++day) {
    KVRDate d = d_->dateFromLocalTime(double(day) * kMsPerDay + timeOfDay);
    // A clock change late in the day can push that wall time into the next
    // day: the day is then walked at its first instant. A day the zone
    // skipped whole (Apia, 30 December 2011) has no instant and is not walked.
    if (d_->civilDayOf(d.ms) != day) d = d_->dateFromLocalTime(double(day) * kMsPerDay);
    if (d_->civilDayOf(d.ms) == day) {
      walk.push_back(d);
      if (days) days->push_back(day);
    }
  }
  return walk;
}
