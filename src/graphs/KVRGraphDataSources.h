#pragma once
// The data sources of the graph views. A view pulls everything it draws from
// its data source while it paints, in a fixed order (see each view), and keeps
// nothing between two paints; a data source may therefore be asked any number
// of times and must not change state when asked.
//
// Methods returning std::optional (or having a default body) are optional: the
// default answer means "not implemented" and the view falls back as described.
#include <QColor>
#include <QImage>
#include <QString>
#include <climits>
#include <cstdint>
#include <optional>

#include "platform/KVRDate.h"

// A vertical axis range whose bottom may be negative: the axis runs from
// `location` to `location + length`. 64-bit so that large totals survive.
struct KVRSignedRange {
  long long location = 0;
  long long length = 0;
  long long top() const {  // saturates instead of overflowing
    long long t;
    if (__builtin_add_overflow(location, length, &t)) return length > 0 ? LLONG_MAX : LLONG_MIN;
    return t;
  }
  bool operator==(const KVRSignedRange&) const = default;
};

// The average-line value that means "draw no average line".
inline constexpr double KVRGraphNoMedianValue = 2147483648.0;

// Curve graph (KVRVortelyGraphView). While painting the view asks, in order:
//   loadingData (true: the loading state is drawn and nothing else is asked),
//   numberOfPointsInCurves, valueLabelFormat, maxRangeForCurves,
//   numberOfCurves, then per curve colorForCurve and per point
//   dateForPointAtIndex and valueAtIndex; then medianValue and, when it
//   answered, medianForce; startDate, endDate; numberOfEvents and per event
//   labelForEventAtIndex, colorForEventAtIndex, dateForEventAtIndex,
//   imageForEventAtIndex; then labelAtIndex for the points that carry a
//   horizontal axis label. mouseOverLabelForCurve is asked only for the value
//   bubble under the mouse.
class KVRVortelyGraphViewDataSource {
 public:
  virtual ~KVRVortelyGraphViewDataSource() = default;

  virtual std::optional<bool> loadingData() { return std::nullopt; }
  virtual int numberOfPointsInCurves() = 0;
  // A value format in which "%@" stands for the formatted value and "%%" for a
  // percent sign, e.g. "%@ €" or "%@ %%"; nullopt shows the bare value.
  virtual std::optional<QString> valueLabelFormat() { return std::nullopt; }
  // Money values shown in whole units (the user rounds money); asked with
  // valueLabelFormat.
  virtual bool valuesInWholeUnits() { return false; }
  virtual KVRSignedRange maxRangeForCurves() = 0;
  virtual int numberOfCurves() = 0;
  virtual QColor colorForCurve(int curve) = 0;
  virtual KVRDate dateForPointAtIndex(int point, int curve) = 0;
  virtual double valueAtIndex(int point, int curve) = 0;
  // KVRGraphNoMedianValue: no average line. Any other value: the line is drawn
  // at that value when medianForce answers true, else at the mean of the
  // drawn values. Not implemented: no average line.
  virtual std::optional<double> medianValue() { return std::nullopt; }
  virtual std::optional<bool> medianForce() { return std::nullopt; }
  // The unit word of the value bubble ("sales", "€", ...); may be empty.
  virtual QString mouseOverLabelForCurve(int curve) = 0;
  virtual KVRDate startDate() = 0;
  virtual KVRDate endDate() = 0;

  // Event marks on the time axis. An invalid colour, a missing date or a null
  // image stand for "none".
  virtual int numberOfEvents() { return 0; }
  virtual QString labelForEventAtIndex(int /*event*/) { return QString(); }
  virtual QColor colorForEventAtIndex(int /*event*/) { return QColor(); }
  virtual KVRDate dateForEventAtIndex(int /*event*/) { return KVRDate(); }
  virtual QImage imageForEventAtIndex(int /*event*/) { return QImage(); }
  // A text replacing the date label of a point on the horizontal axis; empty
  // keeps the date.
  virtual QString labelAtIndex(int /*point*/) { return QString(); }

  // A number that changes whenever any answer but loadingData may change. A
  // paint that finds the number of the last paint (and the view unchanged)
  // shows what that paint drew without asking again. 0, the default,
  // promises nothing: every paint asks.
  virtual uint64_t answersGeneration() { return 0; }
};

class KVRVortelyCamembertGraphView;
class KVRVortelyBarGraphView;

// Part chart (KVRVortelyCamembertGraphView). The view passes itself first, so
// one data source can serve several charts. "index" is the division the chart
// shows (0 = by product, any other value = by country). While painting the
// view asks, in order: loadingData (true: loading state, nothing else asked),
// numberOfPartsForCamembertGraph (again with index 0 when a non-zero index
// gives no parts), valueForPartAtIndex with part -1 (the total), then per part
// valueForPartAtIndex, legendForPartAtIndex, valueLabelFormatForCamembertGraph,
// percentForPartAtIndex, ratioForAnimationAtIndex and colorForPartAtIndex.
class KVRVortelyCamembertGraphDataSource {
 public:
  virtual ~KVRVortelyCamembertGraphDataSource() = default;

  virtual std::optional<bool> loadingData() { return std::nullopt; }
  virtual int numberOfPartsForCamembertGraph(KVRVortelyCamembertGraphView* view, int index) = 0;
  // part -1: the total of the division.
  virtual double valueForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) = 0;
  virtual QString legendForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) = 0;
  // Same format rules as the curve graph's valueLabelFormat.
  virtual std::optional<QString> valueLabelFormatForCamembertGraph(KVRVortelyCamembertGraphView* /*view*/) {
    return std::nullopt;
  }
  // Money values shown in whole units (the user rounds money).
  virtual bool valuesInWholeUnitsForCamembertGraph(KVRVortelyCamembertGraphView* /*view*/) { return false; }
  // Whether a division lists countries (by default every division but the
  // first, which lists products); the chart's switch shows what is listed.
  virtual bool divisionListsCountries(KVRVortelyCamembertGraphView* /*view*/, int index) { return index != 0; }
  // A fraction of the total (0.25 for a quarter); 0 when the total is 0.
  virtual float percentForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) = 0;
  // Growth of the bars from 0 to 1.
  virtual float ratioForAnimationAtIndex(KVRVortelyCamembertGraphView* view, int index) = 0;
  virtual QColor colorForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) = 0;
};

// Bar chart (KVRVortelyBarGraphView): the part chart without division index.
// While painting the view asks, in order: numberOfPartsForCamembertGraph,
// valueForPartAtIndex with part -1 (the scale of the whole chart: a bar of that
// value fills the height), then per part legendForPartAtIndex,
// colorForPartAtIndex, valueForPartAtIndex, percentForPartAtIndex,
// ratioForAnimationAtIndex (with the part index) and valueLabelFormatAtIndex.
class KVRVortelyBarGraphDataSource {
 public:
  virtual ~KVRVortelyBarGraphDataSource() = default;

  virtual int numberOfPartsForCamembertGraph(KVRVortelyBarGraphView* view) = 0;
  virtual QString legendForPartAtIndex(KVRVortelyBarGraphView* view, int part) = 0;
  virtual QColor colorForPartAtIndex(KVRVortelyBarGraphView* view, int part) = 0;
  virtual double valueForPartAtIndex(KVRVortelyBarGraphView* view, int part) = 0;
  virtual float percentForPartAtIndex(KVRVortelyBarGraphView* view, int part) = 0;
  virtual float ratioForAnimationAtIndex(KVRVortelyBarGraphView* view, int part) = 0;
  virtual std::optional<QString> valueLabelFormatAtIndex(KVRVortelyBarGraphView* /*view*/, int /*part*/) {
    return std::nullopt;
  }
  // Money values shown in whole units (the user rounds money).
  virtual bool valuesInWholeUnits(KVRVortelyBarGraphView* /*view*/) { return false; }
  // Bars as high as their share of the whole (the percentage) rather than
  // their value over the scale: for charts whose labels show each part in a
  // unit of its own (amounts in each region's currency) while the scale is
  // one currency.
  virtual bool barsFollowPercent(KVRVortelyBarGraphView* /*view*/) { return false; }
};
