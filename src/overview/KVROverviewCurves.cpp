#include "overview/KVROverviewCurves.h"

#include <algorithm>
#include <cmath>

#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRCalendar.h"
#include "overview/KVROverviewPresenter.h"

namespace {

bool isDividedByRequests(std::string_view key) { return key == "fillRate"; }
bool isDividedByImpressions(std::string_view key) { return key == "eCPM" || key == "ctr"; }

// A measure key resolved once for many days.
class MeasureReader {
 public:
  explicit MeasureReader(std::string_view key)
      : known_(KVRMeasureForKey(key, &measure_)),
        byRequests_(isDividedByRequests(key)),
        byImpressions_(isDividedByImpressions(key)) {}
  float valueOf(const KVRTotalsStruct* rec) const { return rec && known_ ? rec->measure(measure_) : 0.0f; }
  bool byRequests() const { return byRequests_; }
  bool byImpressions() const { return byImpressions_; }

  // One day of a product: the value under the key, divided by the day's own
  // divisor for ratio measures; the cumulative sum takes the undivided value.
  KVRCurvePoint point(const KVRTotalsStruct* rec, KVRDate d, double* cumul) const {
    const double v = valueOf(rec);
    double count = v;
    if (rec) {
      if (byRequests_ && rec->requests != 0) count = v / rec->requests;
      else if (byImpressions_ && rec->impressions != 0) count = v / rec->impressions;
    }
    *cumul = *cumul + v;
    return KVRCurvePoint{d, count, *cumul};
  }

 private:
  KVRMeasure measure_ = KVRMeasure{};
  bool known_;
  bool byRequests_, byImpressions_;
};

}  // namespace

// --- Graph range -----------------------------------------------------------------

KVRGraphDays::KVRGraphDays(KVRDate start, KVRDate end) {
  if (!start.isValid() || !end.isValid() || start.isLaterThan(end)) return;
  valid_ = true;
  dates_ = KVRCalendar::shared().dayWalk(start, end, &days_);
  contiguous_ = days_.empty() || int64_t(days_.back()) - int64_t(days_.front()) + 1 == int64_t(days_.size());
}

int KVRGraphDays::indexOf(KVRCivilDay day) const {
  if (days_.empty() || day < days_.front() || day > days_.back()) return -1;
  if (contiguous_) return int(day - days_.front());
  const auto it = std::lower_bound(days_.begin(), days_.end(), day);
  return it != days_.end() && *it == day ? int(it - days_.begin()) : -1;
}

// --- Day totals ----------------------------------------------------------------

KVRDayTotals::KVRDayTotals(const std::vector<std::pair<KVRDate, KVRTotalsStruct>>& salesByDate) {
  const size_t n = salesByDate.size();
  if (n == 0) return;
  std::vector<KVRDate> dates(n);
  for (size_t i = 0; i < n; ++i) dates[i] = salesByDate[i].first;
  std::vector<KVRCivilDay> days(n);
  KVRCalendar::shared().civilDays(dates.data(), n, days.data());
  const auto [lo, hi] = std::minmax_element(days.begin(), days.end());
  const int64_t span = int64_t(*hi) - int64_t(*lo) + 1;
  ordered_.reserve(n);
  if (span <= int64_t(4 * n + 366)) {
    first_ = *lo;
    byOffset_.assign(size_t(span), nullptr);
    for (size_t i = 0; i < n; ++i) {
      const KVRTotalsStruct*& slot = byOffset_[size_t(days[i] - first_)];
      if (slot) continue;
      slot = &salesByDate[i].second;
      ordered_.emplace_back(days[i], slot);
    }
    return;
  }
  // Far apart: the first of each day in the engine's order, then sorted.
  sorted_.reserve(n);
  for (size_t i = 0; i < n; ++i) sorted_.emplace_back(days[i], &salesByDate[i].second);
  std::stable_sort(sorted_.begin(), sorted_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  sorted_.erase(std::unique(sorted_.begin(), sorted_.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                sorted_.end());
  for (size_t i = 0; i < n; ++i)
    if (find(days[i]) == &salesByDate[i].second) ordered_.emplace_back(days[i], &salesByDate[i].second);
}

const KVRTotalsStruct* KVRDayTotals::find(KVRCivilDay day) const {
  if (!byOffset_.empty()) {
    const int64_t offset = int64_t(day) - int64_t(first_);
    return offset >= 0 && offset < int64_t(byOffset_.size()) ? byOffset_[size_t(offset)] : nullptr;
  }
  const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), day,
                                   [](const auto& e, KVRCivilDay d) { return e.first < d; });
  return it != sorted_.end() && it->first == day ? it->second : nullptr;
}

// --- Combined days -------------------------------------------------------------

KVRCombinedDayValues::KVRCombinedDayValues(const KVRGraphDays& range)
    : range_(range),
      values_(range.size(), 0.0),
      requests_(range.size(), 0.0),
      impressions_(range.size(), 0.0),
      hasRequests_(range.size(), 0),
      hasImpressions_(range.size(), 0) {}

void KVRCombinedDayValues::addProduct(const KVRDayTotals& days, std::string_view key,
                                      const KVRTotalsStruct& periodTotals) {
  const MeasureReader reader(key);
  const bool addImpressions = reader.byImpressions() && periodTotals.impressions != 0;
  const bool addRequests = reader.byRequests() && periodTotals.requests != 0;
  // Days outside the range feed no point.
  for (const auto& [day, rec] : days.days()) {
    const int i = range_.indexOf(day);
    if (i < 0) continue;
    values_[size_t(i)] += reader.valueOf(rec);
    if (addImpressions) {
      impressions_[size_t(i)] += rec->impressions;
      hasImpressions_[size_t(i)] = 1;
    }
    if (addRequests) {
      requests_[size_t(i)] += rec->requests;
      hasRequests_[size_t(i)] = 1;
    }
  }
}

bool KVRCombinedDayValues::buildPoints(std::vector<KVRCurvePoint>* out) const {
  if (!range_.isValid()) return false;
  std::vector<KVRCurvePoint> points;
  points.reserve(range_.size());
  double cumul = 0;
  for (size_t i = 0; i < range_.size(); ++i) {
    const double v = values_[i];
    double count = v;
    if (hasRequests_[i] && requests_[i] != 0) count = v / requests_[i];
    else if (hasImpressions_[i] && impressions_[i] != 0) count = v / impressions_[i];
    cumul = cumul + v;
    points.push_back(KVRCurvePoint{range_.dates()[i], count, cumul});
  }
  *out = std::move(points);
  return true;
}

// --- Builders --------------------------------------------------------------------

bool KVRBuildPointsInCurve(const KVRDayTotals& days, std::string_view key, KVRDate graphStart, KVRDate graphEnd,
                           std::vector<KVRCurvePoint>* out) {
  const KVRGraphDays range(graphStart, graphEnd);
  if (!range.isValid()) return false;
  *out = KVRPointsInCurve(days, key, range);
  return true;
}

std::vector<KVRCurvePoint> KVRPointsInCurve(const KVRDayTotals& days, std::string_view key,
                                            const KVRGraphDays& range) {
  std::vector<KVRCurvePoint> points;
  if (!range.isValid()) return points;
  const MeasureReader reader(key);
  points.reserve(range.size());
  double cumul = 0;
  for (size_t i = 0; i < range.size(); ++i)
    points.push_back(reader.point(days.find(range.days()[i]), range.dates()[i], &cumul));
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

bool KVRMedianForce(int valueTag) { return valueTag == KVRValueECPM || valueTag == KVRValueFillRate || valueTag == KVRValueCTR; }

QString KVRValueLabelFormat(int valueTag, const QString& currencySymbol) {
  if (valueTag == KVRValueRevenues || valueTag == KVRValueIAdRevenues || valueTag == KVRValueECPM) return QStringLiteral("%@ ") + currencySymbol;
  if (valueTag == KVRValueFillRate || valueTag == KVRValueCTR) return QStringLiteral("%@ %%");
  return QString();
}

QString KVRMouseOverLabel(int valueTag, const QString& currencySymbol) {
  switch (valueTag) {
    case KVRValueSales: case KVRValueInAppSales: return QStringLiteral("sales");
    case KVRValueUpgrades: return QStringLiteral("upgrades");
    case KVRValueDownloads: return QStringLiteral("downloads");
    case KVRValueRefunds: return QStringLiteral("refunds");
    case KVRValueRevenues: case KVRValueIAdRevenues: case KVRValueECPM: return currencySymbol;
    default: return QString();
  }
}

// --- Part charts -------------------------------------------------------------------

void KVRChartDivision::sortKeys() {
  // The keys in their order, with their values at hand for the sort.
  std::vector<std::pair<double, const QString*>> order;
  order.reserve(values.size());
  for (const auto& [k, v] : values) order.emplace_back(v, &k);
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  sortedKeys.clear();
  sortedKeys.reserve(order.size());
  for (const auto& [v, k] : order) sortedKeys.push_back(*k);
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
  if (KVRIsRevenueChart(c) || valueTag == KVRValueECPM) return QStringLiteral("%@ ") + currencySymbol;
  if (valueTag == KVRValueFillRate || valueTag == KVRValueCTR) return QStringLiteral("%@ %%");
  return QString();
}

bool KVRChartValuesInWholeUnits(KVRPartChart c, int valueTag, bool roundCurrency) {
  if (!roundCurrency) return false;
  return KVRIsRevenueChart(c) || valueTag == KVRValueRevenues || valueTag == KVRValueIAdRevenues;
}

bool KVRCurveValuesInWholeUnits(int valueTag, bool roundCurrency) {
  return roundCurrency && (valueTag == KVRValueRevenues || valueTag == KVRValueIAdRevenues);
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
