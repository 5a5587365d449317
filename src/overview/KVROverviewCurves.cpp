#include "overview/KVROverviewCurves.h"

#include <algorithm>
#include <cmath>

#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRCalendar.h"
#include "overview/KVROverviewPresenter.h"

namespace {

bool isDividedByRequests(std::string_view key) { return key == "fillRate"; }
bool isDividedByImpressions(std::string_view key) { return key == "eCPM" || key == "ctr"; }

// Walks the days of the graph range, both ends included, as the totals
// engine walks its span. False when the range is missing or reversed.
template <typename F>
bool walkGraphRange(KVRDate start, KVRDate end, F&& visit) {
  if (!start.isValid() || !end.isValid() || start.isLaterThan(end)) return false;
  for (KVRDate d : KVRCalendar::shared().dayWalk(start, end)) visit(d);
  return true;
}

// One day of a product: the value under the key, divided by the day's own
// divisor for ratio measures; the cumulative sum takes the undivided value.
KVRCurvePoint productDayPoint(const KVRDayTotals& days, std::string_view key, KVRDate d, double* cumul) {
  const KVRTotalsStruct* rec = days.find(KVRCalendar::shared().civilDay(d));
  const double v = KVRObjectForKey(rec, key);
  double count = v;
  if (rec) {
    if (isDividedByRequests(key) && rec->requests != 0) count = v / rec->requests;
    else if (isDividedByImpressions(key) && rec->impressions != 0) count = v / rec->impressions;
  }
  *cumul = *cumul + v;
  return KVRCurvePoint{d, count, *cumul};
}

double lookup(const std::map<KVRCivilDay, double>& m, KVRCivilDay day, bool* found = nullptr) {
  auto it = m.find(day);
  if (found) *found = it != m.end();
  return it == m.end() ? 0.0 : it->second;
}

}  // namespace

// --- Day totals ----------------------------------------------------------------

KVRDayTotals::KVRDayTotals(const std::vector<std::pair<KVRDate, KVRTotalsStruct>>& salesByDate) {
  KVRCalendar& cal = KVRCalendar::shared();
  ordered_.reserve(salesByDate.size());
  for (const auto& [date, rec] : salesByDate) {
    const KVRCivilDay day = cal.civilDay(date);
    if (byDay_.emplace(day, &rec).second) ordered_.emplace_back(day, &rec);
  }
}

const KVRTotalsStruct* KVRDayTotals::find(KVRCivilDay day) const {
  auto it = byDay_.find(day);
  return it == byDay_.end() ? nullptr : it->second;
}

void KVRCombinedDayValues::addProduct(const KVRDayTotals& days, std::string_view key,
                                      const KVRTotalsStruct& periodTotals) {
  const bool addImpressions = isDividedByImpressions(key) && periodTotals.impressions != 0;
  const bool addRequests = isDividedByRequests(key) && periodTotals.requests != 0;
  for (const auto& [day, rec] : days.days()) {
    values[day] += rec->objectForKey(key);
    if (addImpressions) impressions[day] += rec->impressions;
    if (addRequests) requests[day] += rec->requests;
  }
}

// --- Builders --------------------------------------------------------------------

bool KVRBuildPointsInCurve(const KVRDayTotals& days, std::string_view key, KVRDate graphStart, KVRDate graphEnd,
                           std::vector<KVRCurvePoint>* out) {
  std::vector<KVRCurvePoint> points;
  double cumul = 0;
  if (!walkGraphRange(graphStart, graphEnd,
                      [&](KVRDate d) { points.push_back(productDayPoint(days, key, d, &cumul)); }))
    return false;
  *out = std::move(points);
  return true;
}

bool KVRBuildPointsInCurve(const KVRCombinedDayValues& days, KVRDate graphStart, KVRDate graphEnd,
                           std::vector<KVRCurvePoint>* out) {
  std::vector<KVRCurvePoint> points;
  double cumul = 0;
  KVRCalendar& cal = KVRCalendar::shared();
  const bool ok = walkGraphRange(graphStart, graphEnd, [&](KVRDate d) {
    const KVRCivilDay day = cal.civilDay(d);
    const double v = lookup(days.values, day);
    double count = v;
    bool found = false;
    const double req = lookup(days.requests, day, &found);
    if (found && req != 0) {
      count = v / req;
    } else {
      const double impr = lookup(days.impressions, day, &found);
      if (found && impr != 0) count = v / impr;
    }
    cumul = cumul + v;
    points.push_back(KVRCurvePoint{d, count, cumul});
  });
  if (!ok) return false;
  *out = std::move(points);
  return true;
}

std::vector<KVRCurvePoint> KVRPointsInCurveWithDates(const KVRDayTotals& days, std::string_view key,
                                                     std::vector<KVRDate>* dates, KVRDate graphStart,
                                                     KVRDate graphEnd) {
  std::vector<KVRCurvePoint> points;
  if (!graphStart.isValid() || !graphEnd.isValid() || graphStart.isLaterThan(graphEnd)) return points;
  double cumul = 0;
  if (!dates->empty()) {
    points.reserve(dates->size());
    for (KVRDate d : *dates) points.push_back(productDayPoint(days, key, d, &cumul));
    return points;
  }
  walkGraphRange(graphStart, graphEnd, [&](KVRDate d) {
    dates->push_back(d);
    points.push_back(productDayPoint(days, key, d, &cumul));
  });
  return points;
}

// --- Curve graph answers ---------------------------------------------------------

bool KVRIsPerProductMode(const KVROverviewDisplay& d, const KVROverviewControlState& s) {
  return s.perProduct && !d.curves.empty();
}

int KVRNumberOfCurves(const KVROverviewDisplay& d, const KVROverviewControlState& s) {
  return KVRIsPerProductMode(d, s) ? int(d.curves.size()) : 1;
}

int KVRNumberOfPointsInCurves(const KVROverviewDisplay& d) { return int(d.pointsInCurve.size()); }

double KVRValueAtIndex(const KVROverviewDisplay& d, const KVROverviewControlState& s, int point, int curve) {
  const std::vector<KVRCurvePoint>* points = &d.pointsInCurve;
  if (KVRIsPerProductMode(d, s)) {
    if (curve < 0 || curve >= int(d.curves.size())) return 0;
    points = &d.curves[size_t(curve)].curve;
  }
  if (point < 0 || point >= int(points->size())) return 0;
  const KVRCurvePoint& p = (*points)[size_t(point)];
  return s.cumulative ? p.cumul : p.count;
}

KVRDate KVRDateForPointAtIndex(const KVROverviewDisplay& d, int point) {
  if (point < 0 || point >= int(d.pointsInCurve.size())) return KVRDate::none();
  return d.pointsInCurve[size_t(point)].date;
}

QColor KVRMainCurveColor() { return QColor::fromRgbF(0.76953125f, 0.83984375f, 0.0390625f, 1.0f); }

QColor KVRColorForCurve(const KVROverviewDisplay& d, const KVROverviewControlState& s, int curve) {
  if (KVRIsPerProductMode(d, s) && curve >= 0 && curve < int(d.curves.size())) {
    const QColor c = d.curves[size_t(curve)].color;
    return c.isValid() ? c : KVRMainCurveColor();
  }
  return KVRMainCurveColor();
}

KVRCurveRange KVRMaxRangeForValues(const std::vector<double>& values, bool iAd) {
  // Cumulative impressions easily pass 2^31, so the axis is worked out in 64 bits.
  constexpr double kLimit = 4.0e18;
  int64_t top = 0, bottom = 0;
  for (const double x : values) {
    if (std::isnan(x)) continue;
    const double shifted = x >= 0 ? x + 0.5 : x - 0.5;
    int64_t r = int64_t(std::trunc(std::clamp(shifted, -kLimit, kLimit)));
    if (r >= 0) {
      // A value rounded down (1.3 % to 1) would poke out of the axis.
      if (double(r) < x) r = int64_t(std::ceil(std::min(x, kLimit)));
      if (r > top) top = r;
    } else if (r < bottom) {
      bottom = r - 1;
    }
  }
  const int64_t m = iAd ? 1 : 5;
  if (top != 0 && top < m) top = m;
  if (bottom != 0 && bottom > -m) bottom = -m;
  if (top == 0 && bottom == 0) top = m;
  return KVRCurveRange{bottom, top - bottom};
}

KVRCurveRange KVRMaxRangeForCurves(const KVROverviewDisplay& d, const KVROverviewControlState& s) {
  std::vector<double> values;
  auto take = [&](const std::vector<KVRCurvePoint>& pts) {
    for (const KVRCurvePoint& p : pts) values.push_back(s.cumulative ? p.cumul : p.count);
  };
  if (KVRIsPerProductMode(d, s)) {
    for (const KVROverviewCurve& c : d.curves) take(c.curve);
  } else {
    take(d.pointsInCurve);
  }
  return KVRMaxRangeForValues(values, s.iAd);
}

double KVRMedianValueForGraph(const KVROverviewDisplay& d, const KVROverviewControlState& s) {
  if (s.cumulative || KVRIsPerProductMode(d, s)) return KVRNoMedianValue;
  return d.medianValue;
}

bool KVRMedianForce(int valueTag) { return valueTag == 8 || valueTag == 11 || valueTag == 12; }

QString KVRValueLabelFormat(int valueTag, const QString& currencySymbol) {
  if (valueTag == 4 || valueTag == 7 || valueTag == 8) return QStringLiteral("%@ ") + currencySymbol;
  if (valueTag == 11 || valueTag == 12) return QStringLiteral("%@ %%");
  return QString();
}

QString KVRMouseOverLabel(int valueTag, const QString& currencySymbol) {
  switch (valueTag) {
    case 0: case 17: return QStringLiteral("sales");
    case 1: return QStringLiteral("upgrades");
    case 2: return QStringLiteral("downloads");
    case 3: return QStringLiteral("refunds");
    case 4: case 7: case 8: return currencySymbol;
    default: return QString();
  }
}

// --- Part charts -------------------------------------------------------------------

void KVRChartDivision::sortKeys() {
  sortedKeys.clear();
  sortedKeys.reserve(values.size());
  for (const auto& [k, v] : values) sortedKeys.push_back(k);
  std::stable_sort(sortedKeys.begin(), sortedKeys.end(),
                   [this](const QString& a, const QString& b) { return values.at(a) < values.at(b); });
}

double KVRChartDivision::valueAt(int i) const {
  if (i == -1) return total;
  if (i < 0 || i >= int(sortedKeys.size())) return 0;
  return values.at(sortedKeys[size_t(i)]);
}

float KVRChartDivision::percentAt(int i) const {
  if (total == 0 || i < 0 || i >= int(sortedKeys.size())) return 0;
  return float(valueAt(i) / total);
}

bool KVRIsRevenueChart(KVRPartChart c) {
  return c == KVRPartChart::revenues || c == KVRPartChart::printRevenues || c == KVRPartChart::printRevenues2;
}

bool KVRIsPrintChart(KVRPartChart c) { return c != KVRPartChart::downloads && c != KVRPartChart::revenues; }

const KVRChartDivision& KVRDivisionForChart(const KVROverviewDisplay& d, KVRPartChart c, int index) {
  switch (c) {
    case KVRPartChart::downloads: return index == 0 ? d.downloadsPerProduct : d.downloadsPerCountry;
    case KVRPartChart::revenues: return index == 0 ? d.revenuesPerProduct : d.revenuesPerCountry;
    case KVRPartChart::printDownloads: return d.downloadsPerProduct;
    case KVRPartChart::printRevenues: return d.revenuesPerProduct;
    case KVRPartChart::printDownloads2: return d.downloadsPerCountry;
    case KVRPartChart::printRevenues2: return d.revenuesPerCountry;
  }
  return d.downloadsPerProduct;
}

QString KVRLegendForKey(const QString& key) {
  if (key.size() != 2) return key;
  const QString code = key.toLower();
  const QString label = KVRVortelyStoreDataSource::countryLabelForShortDesc(code);
  return label.isEmpty() ? code : label;
}

QString KVRLegendForPart(const KVROverviewDisplay& d, KVRPartChart c, int index, int part) {
  const KVRChartDivision& div = KVRDivisionForChart(d, c, index);
  if (part < 0 || part >= div.count()) return QString();
  return KVRLegendForKey(div.sortedKeys[size_t(part)]);
}

QColor KVRColorForChart(KVRPartChart c) {
  if (KVRIsRevenueChart(c)) return QColor::fromRgbF(0.57421875f, 0.80859375f, 0.93359375f, 1.0f);
  return QColor::fromRgbF(0.92578125f, 0.66796875f, 0.1015625f, 1.0f);
}

QString KVRValueLabelFormatForChart(KVRPartChart c, int valueTag, const QString& currencySymbol) {
  if (KVRIsRevenueChart(c) || valueTag == 8) return QStringLiteral("%@ ") + currencySymbol;
  if (valueTag == 11 || valueTag == 12) return QStringLiteral("%@ %%");
  return QString();
}

bool KVRChartValuesInWholeUnits(KVRPartChart c, int valueTag, bool roundCurrency) {
  if (!roundCurrency) return false;
  return KVRIsRevenueChart(c) || valueTag == 4 || valueTag == 7;
}

bool KVRCurveValuesInWholeUnits(int valueTag, bool roundCurrency) {
  return roundCurrency && (valueTag == 4 || valueTag == 7);
}

bool KVRDivisionListsCountries(const KVROverviewDisplay& d, KVRPartChart c, int index) {
  return KVRDivisionForChart(d, c, index).listsCountries;
}

float KVRRatioForAnimation(KVRPartChart c, float graphAnimatePercent) {
  return KVRIsPrintChart(c) ? 1.0f : graphAnimatePercent;
}

float KVRNextAnimationStep(float graphAnimatePercent) {
  const float next = graphAnimatePercent + 0.05f;
  return next >= 1.0f ? 1.0f : next;
}
