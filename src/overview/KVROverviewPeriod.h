#pragma once
// Period presets, spans and small pure rules of the overview: the calendar step
// of each period tag, its trend title, the previous span a load compares with,
// the region codes of the region pop-up and the placement of the calendar
// popover. All date arithmetic goes through the shared calendar, one call per
// step with all its units.
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <utility>

#include "platform/KVRDate.h"

// The trend title of a period tag (English source text, to be localized).
const char* KVRTrendTitleForPeriodTag(int periodTag);

// The calendar step from the end day E to the first day of the current period.
// hasStep is false for the tags that compute no step (6 and unknown tags).
// dayOfMonthOfE is used by tag 8 (current month).
struct KVRPeriodStep {
  bool hasStep = false;
  KVRDateComponents components;
  // The day period (tag 0): a step of exactly 0 days, whose graph shows a week.
  bool isZeroDayStep() const {
    return hasStep && KVRDateComponents::isSet(components.day) && components.day == 0 &&
           !KVRDateComponents::isSet(components.month) && !KVRDateComponents::isSet(components.year);
  }
};
KVRPeriodStep KVRPeriodStepForTag(int periodTag, int dayOfMonthOfE);

// True for the tags of the period pop-up (-1 custom, 0 to 8).
bool KVRIsPeriodTag(long long tag);

// The first day used when no report day is known: 10 July 2008, midnight.
KVRDate KVRFirstDateFallback();

// The days a stored or picked graph date is held to, both included: the report
// days (first .. last, cut to their days) when they are known; an end that is
// not known is the first-date fallback or today (the later of today and the
// known first day).
std::pair<KVRDate, KVRDate> KVRGraphDateBounds(KVRDate firstReportDay, KVRDate lastReportDay, KVRDate now);
// A date held to [lower, upper]; a missing date stays missing.
KVRDate KVRClampDate(KVRDate date, KVRDate lower, KVRDate upper);
// A stored graph range held to [lower, upper]: each end clamped, and a range
// lying wholly outside the bounds becomes the bounds themselves rather than
// one day at their edge. Missing ends stay missing.
std::pair<KVRDate, KVRDate> KVRGraphRangeWithin(KVRDate start, KVRDate end, KVRDate lower, KVRDate upper);

// The previous span (ps, pe) of a load: for the current-month period the
// current period one month earlier; otherwise the span that ends the day before
// the compared span (ld .. cd) and has its calendar length. Missing dates give
// missing ends.
std::pair<KVRDate, KVRDate> KVRPreviousSpan(int periodTag, KVRDate startDate, KVRDate endDate,
                                            KVRDate lastDayDate, KVRDate currentDayDate);

// Region code of a region pop-up tag; null (all regions) for any other tag.
QString KVRRegionCodeForTag(int regionTag);

// Fills each "%@" placeholder of a format with the next argument.
QString KVRFormatWithArguments(const QString& format, const QStringList& arguments);

// Where the calendar popover of a date picker goes, in screen coordinates with
// y growing downward: right edges aligned with the picker, directly below it.
// controlFrame: the picker's frame in its window (zero when it has none);
// controlOriginOnScreen: the picker's top-left corner on the screen.
QRectF KVRCalendarPopoverFrame(const QRectF& controlFrame, const QPointF& controlOriginOnScreen,
                               const QSizeF& popoverSize);

// The split view's divider rule: below 200 becomes 200; above height - 250
// becomes height - 250.
float KVRConstrainSplitPosition(float proposedPosition, float splitViewHeight);
