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

  void build(const QString& ianaZone) {
    std::unique_ptr<icu::TimeZone> tz =
        gmt ? std::unique_ptr<icu::TimeZone>(icu::TimeZone::getGMT()->clone())
            : KVRUserTimeZone(ianaZone);
    UErrorCode status = U_ZERO_ERROR;
    // Always Gregorian, whatever calendar the locale prefers: the month and
    // day tables of the application have twelve months.
    auto c = std::make_unique<icu::GregorianCalendar>(tz.release(), KVRUserLocale(), status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      c = std::make_unique<icu::GregorianCalendar>(status);
    }
    c->setGregorianChange(kProlepticChange, status);
    c->setLenient(true);
    // A wall time skipped by a clock change (midnight on some days) resolves
    // to the first instant after the gap.
    c->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
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

  KVRDate dateFromFields(int y, int m, int d, int h, int mi, int s) {
    UErrorCode status = U_ZERO_ERROR;
    cal->clear();
    cal->set(UCAL_EXTENDED_YEAR, y);
    cal->set(UCAL_MONTH, m - 1);
    cal->set(UCAL_DATE, d);
    cal->set(UCAL_HOUR_OF_DAY, h);
    cal->set(UCAL_MINUTE, mi);
    cal->set(UCAL_SECOND, s);
    const UDate t = cal->getTime(status);
    return U_SUCCESS(status) ? KVRDate(t) : KVRDate();
  }
};

KVRCalendar::KVRCalendar(bool gmt) : d_(new Impl) {
  d_->gmt = gmt;
  d_->build(QString());
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

void KVRCalendar::resetTimeZone(const QString& ianaZone) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  d_->build(ianaZone);
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

KVRDate KVRCalendar::startOfDay(KVRDate date) {
  if (!date.isValid()) return KVRDate();
  std::lock_guard<std::recursive_mutex> g(lock_);
  return dateFromCivilDay(civilDay(date));
}

KVRCivilDay KVRCalendar::civilDay(KVRDate date) {
  if (!date.isValid()) return 0;
  std::lock_guard<std::recursive_mutex> g(lock_);
  const double local = date.ms + d_->cachedOffsetAt(date.ms);
  return static_cast<KVRCivilDay>(std::floor(local / kMsPerDay));
}

KVRDate KVRCalendar::dateFromCivilDay(KVRCivilDay day) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  const double localMidnight = double(day) * kMsPerDay;
  Impl::OffsetSpan& span = d_->span;
  if (span.valid) {
    // A day away from both ends of the span, midnight can be neither skipped
    // nor repeated: the span's offset answers.
    const double guess = localMidnight - span.offset;
    if (guess >= span.from + kMsPerDay && guess < span.to - kMsPerDay) return KVRDate(guess);
  }
  if (d_->zone) {
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    // Midnight skipped by a clock change: read it with the offset in force
    // before the change, which lands on the first instant after the gap.
    // Midnight repeated: the first occurrence.
    d_->zone->getOffsetFromLocal(localMidnight, UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_FORMER, raw,
                                 dst, status);
    if (U_SUCCESS(status)) {
      const double t = localMidnight - double(raw) - double(dst);
      d_->learnSpan(t);
      return KVRDate(t);
    }
  }
  const KVRYMD ymd = KVRYMDFromCivilDay(day);
  return d_->dateFromFields(ymd.year, int(ymd.month), int(ymd.day), 0, 0, 0);
}
