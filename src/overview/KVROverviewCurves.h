#pragma once
// Curves and part charts of the overview: the curve builders that turn a day
// dictionary into curve points, the vertical range of the curve graph, and the
// answers the curve graph and the six part charts pull while drawing. Every
// function here is pure: it reads a display record and the state of the
// screen's controls and changes nothing.
#include <QColor>
#include <QString>
#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/KVRTotalsStruct.h"
#include "graphs/KVRGraphDataSources.h"
#include "overview/KVROverviewTypes.h"
#include "overview/KVRTotalsResult.h"
#include "platform/KVRDate.h"

struct KVROverviewDisplay;

// One day of a curve.
// Values are made for display from the engine's single-precision day totals
// and kept in double precision: a running sum over years of money keeps its
// cents.
struct KVRCurvePoint {
  KVRDate date;
  double count = 0;  // the day's value; for ratio measures the day's quotient
  double cumul = 0;  // running sum of the undivided day values
};

// One product's curve when several products are shown.
struct KVROverviewCurve {
  std::vector<KVRCurvePoint> curve;
  QColor color;
};

// The days of a graph range, walked once for a whole display: the dates as
// the totals engine walks its span (both ends included) and their calendar
// days.
class KVRGraphDays {
 public:
  KVRGraphDays() = default;
  // Not valid when a date is missing or the range is reversed.
  KVRGraphDays(KVRDate start, KVRDate end);
  bool isValid() const { return valid_; }
  size_t size() const { return dates_.size(); }
  const std::vector<KVRDate>& dates() const { return dates_; }
  const std::vector<KVRCivilDay>& days() const { return days_; }
  // The position of a calendar day in the walk; -1 when it is not walked.
  int indexOf(KVRCivilDay day) const;

 private:
  bool valid_ = false;
  bool contiguous_ = true;  // no day skipped between the first and the last
  std::vector<KVRDate> dates_;
  std::vector<KVRCivilDay> days_;
};

// A product's per-day totals, looked up by calendar day. A day met twice
// keeps its first totals.
class KVRDayTotals {
 public:
  KVRDayTotals() = default;
  explicit KVRDayTotals(const std::vector<std::pair<KVRDate, KVRTotalsStruct>>& salesByDate);
  const KVRTotalsStruct* find(KVRCivilDay day) const;
  bool empty() const { return ordered_.empty(); }
  // The days held, in the order the engine walked them.
  const std::vector<std::pair<KVRCivilDay, const KVRTotalsStruct*>>& days() const { return ordered_; }

 private:
  std::vector<std::pair<KVRCivilDay, const KVRTotalsStruct*>> ordered_;
  // Days lying close together are found by their distance from the first;
  // days far apart by a search in the sorted list.
  KVRCivilDay first_ = 0;
  std::vector<const KVRTotalsStruct*> byOffset_;
  std::vector<std::pair<KVRCivilDay, const KVRTotalsStruct*>> sorted_;
};

// The per-day sums over several products that feed the combined curve, for
// the days of a graph range: the measure's value of each day, and for ratio
// measures the day's summed requests ("fillRate") or impressions ("eCPM",
// "ctr").
class KVRCombinedDayValues {
 public:
  explicit KVRCombinedDayValues(const KVRGraphDays& range);
  // Adds one product's days (the measure `key`). A ratio measure also adds the
  // day's divisor, but only when the product's period total of that divisor
  // is not 0.
  void addProduct(const KVRDayTotals& days, std::string_view key, const KVRTotalsStruct& periodTotals);
  // One point per day of the range: a day whose summed divisor is not 0 is
  // divided by it (requests first, then impressions). False (and `out`
  // untouched) when the range is not valid.
  bool buildPoints(std::vector<KVRCurvePoint>* out) const;

 private:
  const KVRGraphDays& range_;
  std::vector<double> values_, requests_, impressions_;
  // Whether a product added a divisor to the day (a sum of 0 is still there).
  std::vector<char> hasRequests_, hasImpressions_;
};

// Builds one point per day of the graph range from a product's days. False
// (and `out` untouched) when the range is missing or reversed.
bool KVRBuildPointsInCurve(const KVRDayTotals& days, std::string_view key, KVRDate graphStart, KVRDate graphEnd,
                           std::vector<KVRCurvePoint>* out);
// The points of one product over the days of a graph range; empty when the
// range is not valid. No division by combined divisors.
std::vector<KVRCurvePoint> KVRPointsInCurve(const KVRDayTotals& days, std::string_view key,
                                            const KVRGraphDays& range);

// The state of the screen's controls that the answers depend on.
struct KVROverviewControlState {
  bool cumulative = false;  // cumulativeControl shows its segment 1
  bool perProduct = false;  // combineControl shows its segment 1
  bool iAd = false;         // the iAd overview
  int valueTag = 0;
  QString currencySymbol;
  bool roundCurrency = false;  // money shown in whole units
  bool operator==(const KVROverviewControlState&) const = default;
};

// Vertical axis of the curve graph: bottom (signed) and length.
using KVRCurveRange = KVRSignedRange;

// --- Curve graph answers ---------------------------------------------------
bool KVRIsPerProductMode(const KVROverviewDisplay& d, const KVROverviewControlState& s);
int KVRNumberOfCurves(const KVROverviewDisplay& d, const KVROverviewControlState& s);
int KVRNumberOfPointsInCurves(const KVROverviewDisplay& d);
double KVRValueAtIndex(const KVROverviewDisplay& d, const KVROverviewControlState& s, int point, int curve);
KVRDate KVRDateForPointAtIndex(const KVROverviewDisplay& d, int point);
QColor KVRColorForCurve(const KVROverviewDisplay& d, const KVROverviewControlState& s, int curve);
KVRCurveRange KVRMaxRangeForCurves(const KVROverviewDisplay& d, const KVROverviewControlState& s);
// The same over plain values (the rounding, padding and bottom rules). The
// axis always holds every value: a top that rounds below the highest value is
// raised to the next whole number.
KVRCurveRange KVRMaxRangeForValues(const std::vector<double>& values, bool iAd);
double KVRMedianValueForGraph(const KVROverviewDisplay& d, const KVROverviewControlState& s);
bool KVRMedianForce(int valueTag);
// A value format in which "%@" stands for the value and "%%" for a percent
// sign: "%@ €" for money, "%@ %%" for percentages; empty for plain numbers.
QString KVRValueLabelFormat(int valueTag, const QString& currencySymbol);
QString KVRMouseOverLabel(int valueTag, const QString& currencySymbol);
QColor KVRMainCurveColor();

// --- Part charts -------------------------------------------------------------
// One division of a part chart: the values by legend key, the keys in
// ascending order of value, and the total. Sums made for display, in double
// precision.
struct KVRChartDivision {
  std::map<QString, double> values;
  std::vector<QString> sortedKeys;
  double total = 0;
  bool listsCountries = false;  // the legends are countries

  void add(const QString& key, double v) { values[key] += v; }
  void sortKeys();  // ascending value, then key
  int count() const { return int(sortedKeys.size()); }
  double valueAt(int i) const;   // -1: the total
  float percentAt(int i) const;  // a fraction of the total; 0 when the total is 0
};

enum class KVRPartChart {
  downloads,         // on screen: by product for index 0, by country otherwise
  revenues,          // on screen, as above
  printDownloads,    // print layout, by product
  printRevenues,     // print layout, by product
  printDownloads2,   // print layout, by country
  printRevenues2,    // print layout, by country
};

bool KVRIsRevenueChart(KVRPartChart c);
bool KVRIsPrintChart(KVRPartChart c);
const KVRChartDivision& KVRDivisionForChart(const KVROverviewDisplay& d, KVRPartChart c, int index);
// A two-character key is a country code: its catalogue label, else the
// lower-case code. Other keys are product legends, returned unchanged.
QString KVRLegendForKey(const QString& key);
QString KVRLegendForPart(const KVROverviewDisplay& d, KVRPartChart c, int index, int part);
QColor KVRColorForChart(KVRPartChart c);
QString KVRValueLabelFormatForChart(KVRPartChart c, int valueTag, const QString& currencySymbol);
// Money in whole units: on a revenue chart, or for the revenue values (tags
// 4 and 7), when the user rounds money. eCPM always keeps its cents.
bool KVRChartValuesInWholeUnits(KVRPartChart c, int valueTag, bool roundCurrency);
bool KVRCurveValuesInWholeUnits(int valueTag, bool roundCurrency);
// Whether a chart's division lists countries (always with one product).
bool KVRDivisionListsCountries(const KVROverviewDisplay& d, KVRPartChart c, int index);
float KVRRatioForAnimation(KVRPartChart c, float graphAnimatePercent);
// One step of the grow animation: +0.05 up to exactly 1.0.
float KVRNextAnimationStep(float graphAnimatePercent);
