#include "overview/KVROverviewPeriod.h"

#include "core/KVRCalendar.h"
#include "overview/KVROverviewTypes.h"

const char* KVRTrendTitleForPeriodTag(int tag) {
  switch (tag) {
    case KVRPeriodCustom: return "Custom trend";
    case KVRPeriodDaily: return "Daily trend";
    case KVRPeriodWeekly: return "Weekly trend";
    case KVRPeriodTwoWeeks: return "2 weeks trend";
    case KVRPeriodMonthly: return "Monthly trend";
    case KVRPeriodThreeMonths: return "3 months trend";
    case KVRPeriodSixMonths: return "6 months trend";
    case KVRPeriodYearly: return "Yearly trend";
    case KVRPeriodCurrentMonth: return "Current month trend";
    default: return "Trend";
  }
}

KVRPeriodStep KVRPeriodStepForTag(int tag, int dayOfMonthOfE) {
  KVRPeriodStep s;
  KVRDateComponents& c = s.components;
  s.hasStep = true;
  switch (tag) {
    case KVRPeriodDaily: c.day = 0; break;
    case KVRPeriodWeekly: c.day = -6; break;
    case KVRPeriodTwoWeeks: c.day = -13; break;
    case KVRPeriodMonthly: c.month = -1; c.day = 1; break;
    case KVRPeriodThreeMonths: c.month = -3; c.day = 1; break;
    case KVRPeriodSixMonths: c.month = -6; c.day = 1; break;
    case KVRPeriodYearly: c.year = -1; c.day = 1; break;
    case KVRPeriodCurrentMonth: c.day = 1 - dayOfMonthOfE; break;
    default: s.hasStep = false; break;
  }
  return s;
}

bool KVRIsPeriodTag(long long tag) { return tag >= KVRPeriodCustom && tag <= KVRPeriodCurrentMonth; }

KVRDate KVRFirstDateFallback() {
  return KVRCalendar::shared().dateFromComponents(KVRDateComponents::ymd(2008, 7, 10));
}

std::pair<KVRDate, KVRDate> KVRGraphDateBounds(KVRDate first, KVRDate last, KVRDate now) {
  KVRCalendar& cal = KVRCalendar::shared();
  const KVRDate lower = first.isValid() ? cal.startOfDay(first) : KVRFirstDateFallback();
  KVRDate upper = cal.startOfDay(last.isValid() ? last : now);
  if (upper.isEarlierThan(lower)) upper = lower;
  return {lower, upper};
}

KVRDate KVRClampDate(KVRDate date, KVRDate lower, KVRDate upper) {
  if (date.isEarlierThan(lower)) return lower;
  if (date.isLaterThan(upper)) return upper;
  return date;
}

std::pair<KVRDate, KVRDate> KVRGraphRangeWithin(KVRDate start, KVRDate end, KVRDate lower, KVRDate upper) {
  if (end.isEarlierThan(lower) || start.isLaterThan(upper)) return {lower, upper};
  return {KVRClampDate(start, lower, upper), KVRClampDate(end, lower, upper)};
}

std::pair<KVRDate, KVRDate> KVRPreviousSpan(int periodTag, KVRDate s, KVRDate e, KVRDate ld, KVRDate cd) {
  KVRCalendar& cal = KVRCalendar::shared();
  if (periodTag == KVRPeriodCurrentMonth) {
    const KVRDateComponents back = KVRDateComponents::months(-1);
    return {cal.dateByAddingComponents(back, s), cal.dateByAddingComponents(back, e)};
  }
  if (!ld.isValid() || !cd.isValid()) return {KVRDate(), KVRDate()};
  const KVRDate pe = cal.dateByAddingComponents(KVRDateComponents::days(-1), ld);
  KVRDateComponents d =
      cal.components(KVRYearCalendarUnit | KVRMonthCalendarUnit | KVRDayCalendarUnit, cd, ld, 0);
  return {cal.dateByAddingComponents(d, pe), pe};
}

QString KVRRegionCodeForTag(int tag) {
  static const char* const codes[] = {"US", "EU", "CA", "GB", "JP", "AU", "WW", "MX", "NZ",
                                      "NO", "CH", "CN", "DK", "SE", "SG", "TW", "HK"};
  if (tag < 0 || tag >= int(sizeof codes / sizeof codes[0])) return QString();
  return QString::fromLatin1(codes[tag]);
}

QString KVRFormatWithArguments(const QString& format, const QStringList& arguments) {
  QString out;
  out.reserve(format.size() + 32);
  int next = 0;
  for (int i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('%') && i + 1 < format.size()) {
      if (format[i + 1] == QLatin1Char('@')) {
        if (next < arguments.size()) out += arguments[next];
        ++next;
        ++i;
        continue;
      }
      if (format[i + 1] == QLatin1Char('%')) {
        out += QLatin1Char('%');
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

QRectF KVRCalendarPopoverFrame(const QRectF& controlFrame, const QPointF& origin, const QSizeF& size) {
  return QRectF(origin.x() + controlFrame.width() - size.width(), origin.y() + controlFrame.height(),
                size.width(), size.height());
}

float KVRConstrainSplitPosition(float proposed, float height) {
  if (proposed < 200.0f) return 200.0f;
  if (proposed > height - 250.0f) return height - 250.0f;
  return proposed;
}
