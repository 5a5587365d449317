#include "overview/KVROverviewPresenter.h"
#include "overview/KVROverviewTypes.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRFormatters.h"
#include "core/KVRVortelyManagedProduct.h"
#include "graphs/KVRValueTexts.h"
#include "graphs/KVRVortelyCounterView.h"
#include "platform/KVRLocalization.h"

namespace {

const KVRTotalsStruct kNoTotals{};

// Holds the application's formatter lock (when there is an application) while
// the shared formatters are used.
class FormatterGuard {
 public:
  FormatterGuard() {
    if (KVRApplicationServices* app = KVRApplicationServices::current()) {
      lock_ = &app->formatterLock();
      lock_->lock();
    }
  }
  ~FormatterGuard() {
    if (lock_) lock_->unlock();
  }
  FormatterGuard(const FormatterGuard&) = delete;
  FormatterGuard& operator=(const FormatterGuard&) = delete;

 private:
  std::recursive_mutex* lock_ = nullptr;
};

// A percentage without sign, at most two decimals (the evolution's alternate title).
QString percentText(double v) {
  return KVRFormatters::shared().currencyFormatterWithPrefixAndFloats().stringFromNumber(v);
}

bool isRatioTag(int tag) { return tag == 8 || tag == 11 || tag == 12; }
bool isAdTag(int tag) { return tag >= 7 && tag <= 12; }
// The divisor of a ratio tag: requests for the fill rate, impressions otherwise.
float ratioDivisor(int tag, const KVRTotalsStruct& t) { return tag == 11 ? t.requests : t.impressions; }


const KVRProductTotals* entryOf(const KVRTotalsResult* r, const KVRVortelyManagedProduct* p) {
  if (!r) return nullptr;
  auto it = r->find(p->idStore);
  return it == r->end() ? nullptr : &it->second;
}
const KVRTotalsStruct& totalsOf(const KVRProductTotals* e) { return e ? e->totals : kNoTotals; }

// A measure key looked up once for the many countries of a chart.
class CountryMeasure {
 public:
  explicit CountryMeasure(std::string_view key)
      : known_(KVRMeasureForKey(key, &measure_)), currency_(key == "currency"), iAdSales_(key == "iAdSales") {}
  bool isCurrency() const { return currency_; }
  bool isIAdSales() const { return iAdSales_; }
  float valueOf(const KVRTotalsStruct& c) const { return known_ ? c.measure(measure_) : 0.0f; }

 private:
  KVRMeasure measure_ = KVRMeasure{};  // set by the lookup in the constructor
  bool known_, currency_, iAdSales_;
};

// The left (one-product, by country) chart value of a country, and whether the
// country enters the chart at all. For the ratio tags: the numerator and the
// divisor, divided by the caller.
std::optional<float> countryLeftValue(int tag, const CountryMeasure& key, const KVRTotalsStruct& c) {
  if (key.isCurrency()) return float(KVRRounded(c.sales));
  if (key.isIAdSales()) return float(KVRRounded(c.impressions));
  if (isRatioTag(tag)) {
    const float n = key.valueOf(c), q = ratioDivisor(tag, c);
    if (n == 0 && q == 0) return std::nullopt;
    return q != 0 ? n / q : n;
  }
  return float(KVRRounded(key.valueOf(c)));
}

// Sums by country for the charts: the adds of each country are made in the
// order they come, as the division's own map would make them, and written
// into it once at the end (a map insert per product and country compares
// strings every time).
class CountrySums {
 public:
  void add(const QString& country, double v) {
    const auto [it, fresh] = index_.try_emplace(country, sums_.size());
    if (fresh) sums_.emplace_back(country, 0.0);
    sums_[it->second].second += v;
  }
  void addInto(std::map<QString, double>& values) const {
    for (const auto& [country, v] : sums_) values[country] += v;
  }

 private:
  std::unordered_map<QString, size_t> index_;
  std::vector<std::pair<QString, double>> sums_;
};

// Sorts the keys of a division; parts of value 0 are left out, since a chart
// cannot draw them (the total is kept).
void finishDivision(KVRChartDivision& d) {
  for (auto it = d.values.begin(); it != d.values.end();) {
    if (it->second == 0 || std::isnan(it->second)) it = d.values.erase(it);
    else ++it;
  }
  d.sortKeys();
}

void fillLabelTexts(KVROverviewDisplay& d, const QString& symbol) {
  FormatterGuard guard;
  d.salesText = KVRCountText(double(d.sales));
  d.refundsText = KVRCountText(double(d.refunds));
  d.upgradesText = KVRCountText(double(d.upgrades));
  d.downloadsText = KVRCountText(double(d.downloads));
  d.requestsText = KVRCountText(double(d.requests));
  d.impressionsText = KVRCountText(double(d.impressions));
  d.fillRateText = KVRPercentText(d.fillRate * 100.0);
  d.ctrText = KVRPercentText(d.ctr * 100.0);
  d.eCPMText = KVRMoneyText(d.eCPM, false, symbol);  // eCPM keeps its cents
  d.counterText = KVRMoneyText(d.counterValue, d.roundCurrency, symbol);
}

// A figure as the evolution shows it, in hundredths or whole units, so that
// the difference is the difference of the two figures shown.
int64_t shownUnits(double v, bool whole) {
  if (!std::isfinite(v)) return 0;
  return whole ? KVRWholeNumber(v) : int64_t(std::llround(KVRRoundedToCents(v) * 100.0));
}

void fillEvolution(KVREvolutionDisplay& e, int tag, bool available, bool roundCurrency, const QString& symbol) {
  const double prev = e.previous, cur = e.current;
  const bool money = tag == 4 || tag == 7;
  const bool percent = tag == 11 || tag == 12;
  // Counts and rounded money in whole units; other money and percentages in
  // hundredths (eCPM keeps its cents when money is rounded).
  const bool whole = !(money && !roundCurrency) && !percent && tag != 8;
  const int64_t rp = shownUnits(prev, whole), rc = shownUnits(cur, whole);
  // Rise and fall as the two figures read.
  const bool rise = rc > rp, fall = rc < rp;
  e.available = available;
  FormatterGuard guard;
  if (available) {
    auto text = [&](int64_t units) {
      return whole ? KVRCountText(double(units)) : KVRAmountText(double(units) / 100.0, false);
    };
    const QString unit = percent ? QStringLiteral(" %") : (money || tag == 8) ? QLatin1Char(' ') + symbol : QString();
    e.previousText = text(rp) + unit;
    e.currentText = text(rc) + unit;
    e.differenceText = rise || fall ? (rise ? QStringLiteral("+ ") : QStringLiteral("- ")) +
                                          text(rise ? rc - rp : rp - rc) + unit
                                    : QStringLiteral("--");
    e.arrowImage = rise ? QStringLiteral("up_arrow") : fall ? QStringLiteral("down_arrow") : QStringLiteral("noev_arrow");
  }
  if (fall) {
    e.lastDayValueRight = e.previousText;
    e.currentDayValueLeft = e.currentText;
    e.badgeImage = QStringLiteral("evolution_red");
  } else {
    e.lastDayValueLeft = e.previousText;
    e.currentDayValueRight = e.currentText;
    e.badgeImage = rise ? QStringLiteral("evolution_green") : QStringLiteral("evolution_blue");
  }
  e.title = e.differenceText;
  if (!rise && !fall) {
    e.alternateTitle = QStringLiteral("--");
  } else if (prev == 0) {
    e.alternateTitle = QStringLiteral("-- %");
  } else {
    const double p = rise ? (cur - prev) * 100.0 / prev : (prev - cur) * 100.0 / prev;
    e.alternateTitle = (rise ? QStringLiteral("+ ") : QStringLiteral("- ")) + percentText(std::fabs(p)) +
                       QStringLiteral(" %");
  }
}

void displayOneProduct(const KVROverviewInput& in, KVROverviewDisplay& d, std::string_view key,
                       bool& usedPreviousCurve) {
  const KVRProductTotals* P = in.totals.previousEntry;
  const KVRProductTotals* C = in.totals.currentEntry;
  const KVRProductTotals* days = in.selectedPeriod == 0 ? in.totals.graphEntry : C;
  const KVRTotalsStruct& T = totalsOf(C);
  const int tag = in.valueTag;

  d.counterValue = in.iAd ? T.iAdSales : T.currency;
  d.sales = KVRRounded(T.sales);
  d.refunds = KVRRounded(T.refunds);
  d.upgrades = KVRRounded(T.upgrades);
  d.downloads = KVRRounded(T.sales) + KVRRounded(T.upgrades);
  d.fillRate = T.requests != 0 ? double(T.fillRate) / T.requests / 100.0 : 0.0;
  d.eCPM = T.impressions != 0 ? double(T.eCPM) / T.impressions : 0.0;
  d.ctr = T.impressions != 0 ? double(T.ctr) / T.impressions / 100.0 : 0.0;
  d.requests = KVRRounded(T.requests);
  d.impressions = KVRRounded(T.impressions);

  double cur = T.objectForKey(key);
  double prev = totalsOf(P).objectForKey(key);
  if (isRatioTag(tag)) {
    const double qc = ratioDivisor(tag, T), qp = ratioDivisor(tag, totalsOf(P));
    cur = qc != 0 ? cur / qc : 0.0;
    prev = qp != 0 ? prev / qp : 0.0;
  }
  d.evolution.current = cur;
  d.evolution.previous = prev;

  const KVRDayTotals dayTotals = days ? KVRDayTotals(days->salesByDate) : KVRDayTotals();
  if (!KVRBuildPointsInCurve(dayTotals, key, in.graphStartDate, in.graphEndDate, &d.pointsInCurve)) {
    d.pointsInCurve = in.previousPointsInCurve;
    usedPreviousCurve = true;
  }

  // With one product both charts list its countries.
  d.downloadsPerProduct.listsCountries = d.revenuesPerProduct.listsCountries = true;
  if (!C) return;
  const CountryMeasure measure(key);
  // A ratio chart totals the ratio of its summed parts, never the sum of the
  // ratios.
  double numerators = 0, divisors = 0;
  for (const auto& [country, c] : C->byCountry) {
    if (isRatioTag(tag)) {
      numerators += c.objectForKey(key);
      divisors += ratioDivisor(tag, c);
    }
    if (const std::optional<float> v = countryLeftValue(tag, measure, c); v && *v != 0) {
      d.downloadsPerProduct.add(country, *v);
      if (!isRatioTag(tag)) d.downloadsPerProduct.total += *v;
    }
    const float r = isAdTag(tag) ? c.iAdSales : c.currency;
    if (r != 0) {
      d.revenuesPerProduct.total += r;
      d.revenuesPerProduct.add(country, r);
    }
  }
  if (isRatioTag(tag)) d.downloadsPerProduct.total = divisors != 0 ? numerators / divisors : 0.0;
}

void displaySeveralProducts(const KVROverviewInput& in, KVROverviewDisplay& d, std::string_view key,
                            const std::vector<KVRVortelyManagedProduct*>& products, bool& usedPreviousCurve) {
  const int tag = in.valueTag;
  const bool ratio = isRatioTag(tag);
  const KVRTotalsResult* A = in.totals.current;
  const bool comparedIsCurrent = in.startDate == in.lastDayDate && in.endDate == in.currentDayDate;
  const KVRTotalsResult* X = comparedIsCurrent || !in.totals.compared ? A : in.totals.compared;
  const KVRTotalsResult* P = in.totals.previous;
  const KVRTotalsResult* G = in.selectedPeriod == 0 ? in.totals.graph : nullptr;
  const CountryMeasure measure(key);

  // Same-name rule: a name found among both the Mac and the iOS products gets
  // its platform after it.
  QStringList macNames, iosNames, duplicates;
  for (const KVRVortelyManagedProduct* p : products) {
    const bool mac = KVRVortelyStoreDataSource::categoryIDForRankingFromCategoryLabel(p->category) >= 12000;
    (mac ? macNames : iosNames).append(p->name);
    if (macNames.contains(p->name) && iosNames.contains(p->name) && !duplicates.contains(p->name))
      duplicates.append(p->name);
  }
  auto displayName = [&](const KVRVortelyManagedProduct* p) {
    if (!duplicates.contains(p->name)) return p->name;
    const bool mac = KVRVortelyStoreDataSource::categoryIDForRankingFromCategoryLabel(p->category) >= 12000;
    return p->name + (mac ? QStringLiteral(" (Mac)") : QStringLiteral(" (iOS)"));
  };

  int64_t sumSales = 0, sumUpgrades = 0, sumRefunds = 0;
  // Sums over products, made for display in double precision.
  double sumCurrency = 0, sumRequests = 0, sumImpressions = 0, sumFillRate = 0, sumECPM = 0, sumCtr = 0;
  double cur = 0, prev = 0, xRequests = 0, xImpressions = 0, pRequests = 0, pImpressions = 0;
  // Ratio tags: numerators and divisors by product legend and by country.
  std::map<QString, std::pair<double, double>> productRatios;
  std::map<QString, double> countryDivisors;
  CountrySums downloadsByCountry, revenuesByCountry, divisorsByCountry;
  // The totals the charts show, computed once from the products' totals: a
  // chart by product and the chart by country of the same measure show the
  // same total (the engine's totals may lose cents against its country parts).
  double revenueTotal = 0, ratioNumerators = 0, ratioDivisors = 0;
  // The graph range is walked once for every curve.
  const KVRGraphDays range(in.graphStartDate, in.graphEndDate);
  KVRCombinedDayValues combined(range);

  // Each product's days and curve depend on that product alone: they are
  // built on a few threads, then used below in the products' order.
  const size_t productCount = products.size();
  std::vector<KVRDayTotals> productDays(productCount);
  std::vector<std::vector<KVRCurvePoint>> productCurves(productCount);
  {
    auto build = [&](size_t first, size_t step) {
      for (size_t i = first; i < productCount; i += step) {
        const KVRProductTotals* dayEntry = G ? entryOf(G, products[i]) : entryOf(A, products[i]);
        if (dayEntry) productDays[i] = KVRDayTotals(dayEntry->salesByDate);
        productCurves[i] = KVRPointsInCurve(productDays[i], key, range);
      }
    };
    const size_t threads = std::min<size_t>({4, std::max(1u, std::thread::hardware_concurrency()), productCount / 16 + 1});
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) helpers.emplace_back(build, t, threads);
    build(0, threads);
    for (std::thread& h : helpers) h.join();
  }

  for (size_t i = 0; i < productCount; ++i) {
    const KVRVortelyManagedProduct* p = products[i];
    const KVRProductTotals* entry = entryOf(A, p);
    const KVRTotalsStruct& T = totalsOf(entry);
    const QString name = displayName(p);

    sumSales += KVRRounded(T.sales);
    sumUpgrades += KVRRounded(T.upgrades);
    sumRefunds += KVRRounded(T.refunds);
    sumCurrency += T.currency;
    sumRequests += T.requests;
    sumImpressions += T.impressions;
    sumFillRate += T.fillRate;
    sumECPM += T.eCPM;
    sumCtr += T.ctr;

    // Right chart by product. Products of one name add up into one part.
    const float r = isAdTag(tag) ? T.iAdSales : T.currency;
    revenueTotal += r;
    if (r > 0) d.revenuesPerProduct.add(name, r);

    // Left chart by product.
    if (ratio) {
      const float n = T.objectForKey(key), q = ratioDivisor(tag, T);
      ratioNumerators += n;
      ratioDivisors += q;
      if (n > 0 || q > 0) {
        auto& [sn, sq] = productRatios[name];
        sn += n;
        sq += q;
      }
    } else {
      float v = 0;
      switch (tag) {
        case 0: case 4: case 17: v = float(KVRRounded(T.sales)); break;
        case 1: v = float(KVRRounded(T.upgrades)); break;
        case 2: v = float(KVRRounded(T.sales) + KVRRounded(T.upgrades)); break;
        case 3: v = float(KVRRounded(T.refunds)); break;
        case 5: v = float(KVRRounded(T.freeSales)); break;
        case 6: v = float(KVRRounded(T.paiedSales)); break;
        case 7: case 10: v = T.impressions; break;
        case 9: v = T.requests; break;
        default: v = T.objectForKey(key); break;
      }
      if (v > 0) {
        d.downloadsPerProduct.total += v;
        d.downloadsPerProduct.add(name, v);
      }
    }

    // Evolution sums.
    const KVRTotalsStruct& XT = totalsOf(entryOf(X, p));
    const KVRTotalsStruct& PT = totalsOf(entryOf(P, p));
    cur += XT.objectForKey(key);
    prev += PT.objectForKey(key);
    xRequests += XT.requests;
    xImpressions += XT.impressions;
    pRequests += PT.requests;
    pImpressions += PT.impressions;

    // The product's curve over the days of the range, and the combined sums.
    d.curves.push_back(KVROverviewCurve{std::move(productCurves[i]), p->curveColor});
    combined.addProduct(productDays[i], key, T);

    // Part charts by country.
    if (!entry) continue;
    for (const auto& [country, c] : entry->byCountry) {
      if (ratio) {
        const float n = measure.valueOf(c), q = ratioDivisor(tag, c);
        if (n != 0 || q != 0) {
          downloadsByCountry.add(country, n);
          divisorsByCountry.add(country, q);
        }
      } else if (const std::optional<float> v = countryLeftValue(tag, measure, c); v && *v != 0) {
        downloadsByCountry.add(country, *v);
      }
      const float rc = isAdTag(tag) ? c.iAdSales : c.currency;
      if (rc != 0) revenuesByCountry.add(country, rc);
    }
  }
  downloadsByCountry.addInto(d.downloadsPerCountry.values);
  revenuesByCountry.addInto(d.revenuesPerCountry.values);
  divisorsByCountry.addInto(countryDivisors);

  if (ratio) {
    for (const auto& [name, nq] : productRatios)
      d.downloadsPerProduct.values[name] = nq.second != 0 ? nq.first / nq.second : nq.first;
    for (auto& [country, v] : d.downloadsPerCountry.values) {
      const double q = countryDivisors[country];
      if (q != 0) v = v / q;
    }
    // Both ratio charts total the ratio of the current period's summed parts.
    const double ratioTotal = ratioDivisors != 0 ? ratioNumerators / ratioDivisors : 0.0;
    d.downloadsPerProduct.total = d.downloadsPerCountry.total = ratioTotal;
    const double xq = tag == 11 ? xRequests : xImpressions;
    const double pq = tag == 11 ? pRequests : pImpressions;
    cur = xq != 0 ? cur / xq : 0.0;
    prev = pq != 0 ? prev / pq : 0.0;
  } else {
    d.downloadsPerCountry.total = d.downloadsPerProduct.total;
  }
  d.revenuesPerProduct.total = d.revenuesPerCountry.total = revenueTotal;
  d.evolution.current = cur;
  d.evolution.previous = prev;

  if (!combined.buildPoints(&d.pointsInCurve)) {
    d.pointsInCurve = in.previousPointsInCurve;
    usedPreviousCurve = true;
  }

  d.counterValue = in.iAd ? revenueTotal : sumCurrency;
  d.sales = sumSales;
  d.refunds = sumRefunds;
  d.upgrades = sumUpgrades;
  d.downloads = sumSales + sumUpgrades;
  d.fillRate = sumRequests != 0 ? sumFillRate / sumRequests / 100.0 : 0.0;
  d.eCPM = sumImpressions != 0 ? sumECPM / sumImpressions : 0.0;
  d.ctr = sumImpressions != 0 ? sumCtr / sumImpressions / 100.0 : 0.0;
  d.requests = KVRWholeNumber(sumRequests);
  d.impressions = KVRWholeNumber(sumImpressions);
}

double medianFor(const KVROverviewDisplay& d) {
  const int points = KVRNumberOfPointsInCurves(d);
  auto perPoint = [points](double v) { return points > 0 ? v / points : double(KVRNoMedianValue); };
  switch (d.valueTag) {
    case 0: case 17: return perPoint(double(d.sales));
    case 1: return perPoint(double(d.upgrades));
    case 2: return perPoint(double(d.downloads));
    case 3: return perPoint(double(d.refunds));
    // The amount as the counter holds it.
    case 4: case 7:
      return perPoint(d.roundCurrency ? double(KVRWholeNumber(d.counterValue))
                                      : KVRVortelyCounterView::roundedToCents(d.counterValue));
    case 8: return d.eCPM;
    case 11: return d.fillRate * 100.0;
    case 12: return d.ctr * 100.0;
    default: return KVRNoMedianValue;
  }
}

}  // namespace

int64_t KVRRounded(float x) { return KVRWholeNumber(double(x)); }

QString KVRMeasureKeyForTag(int tag) {
  static const char* const keys[] = {
      "sales", "upgrades", "downloads", "refunds", "currency", "freeSales", "paiedSales",
      "iAdSales", "eCPM", "requests", "impressions", "fillRate", "ctr", "promoCode",
      "giftRedemption", "giftPurchase", "eduStore", "sales", "newSubscription", "renewal"};
  if (tag < 0 || tag > 19) return QString();
  return QString::fromLatin1(keys[tag]);
}

QString KVRGraphCaptionForTag(int tag) {
  static const char* const titles[] = {
      "Sales", "Upgrades", "Downloads", "Refunds", "Revenues", "Free Sales", "Paid Sales",
      "iAd Revenues", "eCPM", "Requests", "Impressions", "Fill Rate", "CTR", "Promo Codes",
      "Gift Redemptions", "Gifts", "Educational Sales", "Sales", "New Subscription", "Renewal"};
  if (tag < 0 || tag > 19) return QString();
  return KVRLocalized(titles[tag]);
}

QString KVRChartCaptionForTag(int tag) {
  // The left chart counts sales for the revenue value and impressions for the
  // ad revenue value.
  if (tag == 4) return KVRLocalized("Sales");
  if (tag == 7) return KVRLocalized("Impressions");
  return KVRGraphCaptionForTag(tag);
}

QString KVRFormatDayOrDashes(KVRDate date) {
  if (!date.isValid()) return QStringLiteral("--");
  FormatterGuard guard;
  const QString s = KVRFormatters::shared().numberedDateFormatter().stringFromDate(date);
  return s.isEmpty() ? QStringLiteral("--") : s;
}

std::vector<KVRVortelyManagedProduct*> KVRSortedByName(std::vector<KVRVortelyManagedProduct*> products) {
  products.erase(std::remove(products.begin(), products.end(), nullptr), products.end());
  std::stable_sort(products.begin(), products.end(),
                   [](const KVRVortelyManagedProduct* a, const KVRVortelyManagedProduct* b) { return a->name < b->name; });
  return products;
}

KVROverviewDisplay KVRMakeOverviewDisplay(const KVROverviewInput& in, bool* usedPreviousCurve) {
  KVROverviewDisplay d;
  bool previousCurve = false;
  d.valueTag = in.valueTag;
  d.iAd = in.iAd;
  d.graphStartDate = in.graphStartDate;
  d.graphEndDate = in.graphEndDate;

  std::vector<KVRVortelyManagedProduct*> products = KVRSortedByName(in.extendedProducts);
  if (in.valueTag == 17)
    products.erase(std::remove_if(products.begin(), products.end(),
                                  [](const KVRVortelyManagedProduct* p) { return !p->isInAppPurchase(); }),
                   products.end());
  const std::vector<KVRVortelyManagedProduct*> selected = KVRSortedByName(in.selectedProducts);

  d.measureKey = KVRMeasureKeyForTag(in.valueTag);
  d.chartCaption = KVRChartCaptionForTag(in.valueTag);
  d.graphCaption = KVRGraphCaptionForTag(in.valueTag);
  const QByteArray keyBytes = d.measureKey.toLatin1();
  const std::string_view key(keyBytes.constData(), size_t(keyBytes.size()));

  d.oneProduct = products.size() == 1;
  d.roundCurrency = in.roundCurrency;
  d.downloadsPerCountry.listsCountries = d.revenuesPerCountry.listsCountries = true;
  if (d.oneProduct) displayOneProduct(in, d, key, previousCurve);
  else displaySeveralProducts(in, d, key, products, previousCurve);
  if (usedPreviousCurve) *usedPreviousCurve = previousCurve;

  if (!in.iAd && !in.regionTitle.isEmpty())
    d.graphCaption = QStringLiteral("%1 %2").arg(in.regionTitle, d.graphCaption);

  fillLabelTexts(d, in.currencySymbol);
  d.medianValue = medianFor(d);

  finishDivision(d.downloadsPerProduct);
  finishDivision(d.revenuesPerProduct);
  finishDivision(d.downloadsPerCountry);
  finishDivision(d.revenuesPerCountry);
  d.showLastDay = in.selectedPeriod == 0;

  // The evolution is shown only when one of its products belongs to an account.
  const std::vector<KVRVortelyManagedProduct*>& evolutionProducts = selected.empty() ? products : selected;
  const bool available = std::any_of(evolutionProducts.begin(), evolutionProducts.end(),
                                     [](const KVRVortelyManagedProduct* p) { return p->account != nullptr; });
  fillEvolution(d.evolution, in.valueTag, available, in.roundCurrency, in.currencySymbol);

  if (in.selectedPeriod != 0) {
    d.reportsDatesText = KVRLocalized("From %1 to %2").arg(KVRFormatDayOrDashes(in.startDate), KVRFormatDayOrDashes(in.endDate));
    d.evolutionDatesText =
        KVRLocalized("From %1 to %2").arg(KVRFormatDayOrDashes(in.graphStartDate), KVRFormatDayOrDashes(in.graphEndDate));
  } else {
    d.reportsDatesText = KVRFormatDayOrDashes(in.endDate);
    d.evolutionDatesText = d.reportsDatesText;
  }
  return d;
}

KVROverviewTotals KVRTotalsFromLoad(const KVRLoadResults& load) {
  KVROverviewTotals t;
  if (load.singleProduct) {
    t.previousEntry = load.productPrevious ? &*load.productPrevious : nullptr;
    t.currentEntry = load.productCurrent ? &*load.productCurrent : nullptr;
    t.graphEntry = load.productGraph ? &*load.productGraph : nullptr;
  } else {
    t.current = load.current ? &*load.current : nullptr;
    t.compared = load.comparedOrCurrent();
    t.previous = load.previous ? &*load.previous : nullptr;
    t.graph = load.graph ? &*load.graph : nullptr;
  }
  return t;
}

KVROverviewInput KVROverviewInputFromLoad(const KVRLoadResults& load, bool iAd) {
  KVROverviewInput in;
  in.totals = KVRTotalsFromLoad(load);
  in.valueTag = load.valueTag;
  in.selectedPeriod = load.periodTag;
  in.iAd = iAd;
  in.startDate = load.startDate;
  in.endDate = load.endDate;
  in.graphStartDate = load.graphStartDate;
  in.graphEndDate = load.graphEndDate;
  in.lastDayDate = load.lastDayDate;
  in.currentDayDate = load.currentDayDate;
  in.extendedProducts = load.products;
  return in;
}

QString KVROverviewPrintSubject(const KVROverviewPrintSelection& s) {
  QString subject = KVRLocalized("multiple selection");
  if (s.isAccountSelected) {
    if (s.accounts.size() == 1 && s.accounts.front()) subject = s.accounts.front()->name;
  } else if (s.extendedProducts.size() == 1 && s.extendedProducts.front()) {
    subject = s.extendedProducts.front()->name;
  }
  return subject;
}

QString KVROverviewPrintTitle(const QString& subject, const QString& evolutionDatesText) {
  const QString dates = evolutionDatesText.isEmpty() ? QStringLiteral("--") : evolutionDatesText.toLower();
  return KVRLocalized("Overview Report for %1, %2").arg(subject, dates);
}
