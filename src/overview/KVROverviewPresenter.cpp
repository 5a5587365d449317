#include "overview/KVROverviewPresenter.h"
#include "overview/KVROverviewTypes.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRFormatters.h"
#include "core/KVRVortelyManagedProduct.h"
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

QString plainText(double v) { return KVRFormatters::shared().currencyFormatter().stringFromNumber(v); }
QString floatText(double v) { return KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(v); }
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

// The left (one-product, by country) chart value of a country, and whether the
// country enters the chart at all.
std::optional<float> countryLeftValue(int tag, const QString& key, const KVRTotalsStruct& c) {
  if (key == QLatin1String("currency")) return float(KVRRounded(c.sales));
  if (key == QLatin1String("iAdSales")) return float(KVRRounded(c.impressions));
  if (isRatioTag(tag)) {
    const float n = c.objectForKey(key), q = ratioDivisor(tag, c);
    if (n == 0 && q == 0) return std::nullopt;
    return q != 0 ? n / q : n;
  }
  return float(KVRRounded(c.objectForKey(key)));
}

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
  d.salesText = plainText(double(d.sales));
  d.refundsText = plainText(double(d.refunds));
  d.upgradesText = plainText(double(d.upgrades));
  d.downloadsText = plainText(double(d.downloads));
  d.requestsText = plainText(double(d.requests));
  d.impressionsText = plainText(double(d.impressions));
  d.fillRateText = floatText(double(d.fillRate) * 100.0) + QStringLiteral(" %");
  d.ctrText = floatText(double(d.ctr) * 100.0) + QStringLiteral(" %");
  d.eCPMText = floatText(d.eCPM) + QLatin1Char(' ') + symbol;
  d.counterText = floatText(d.counterValue) + QLatin1Char(' ') + symbol;
}

void fillEvolution(KVREvolutionDisplay& e, int tag, bool available, bool roundCurrency, const QString& symbol) {
  const float prev = e.previous, cur = e.current;
  const bool rise = cur > prev, fall = cur < prev;
  e.available = available;
  FormatterGuard guard;
  if (available) {
    const QString sign = rise ? QStringLiteral("+ ") : QStringLiteral("- ");
    if ((tag == 4 || tag == 7) && !roundCurrency) {
      e.previousText = floatText(prev);
      e.currentText = floatText(cur);
      e.differenceText = sign + floatText(std::fabs(double(cur) - double(prev)));
    } else if (tag == 11 || tag == 12) {
      e.previousText = floatText(prev) + QStringLiteral(" %");
      e.currentText = floatText(cur) + QStringLiteral(" %");
      e.differenceText = sign + floatText(std::fabs(double(cur) - double(prev))) + QStringLiteral(" %");
    } else if (tag == 8) {
      e.previousText = floatText(prev);
      e.currentText = floatText(cur);
      e.differenceText = sign + floatText(std::fabs(double(cur) - double(prev)));
    } else {
      const int64_t rp = KVRRounded(prev), rc = KVRRounded(cur);
      e.previousText = plainText(double(rp));
      e.currentText = plainText(double(rc));
      e.differenceText = sign + plainText(double(std::max(rp, rc) - std::min(rp, rc)));
    }
    if (!rise && !fall) e.differenceText = QStringLiteral("--");
    e.arrowImage = rise ? QStringLiteral("up_arrow") : fall ? QStringLiteral("down_arrow") : QStringLiteral("noev_arrow");
    if ((tag == 4 || tag == 7 || tag == 8) && !e.previousText.isEmpty() && !e.currentText.isEmpty()) {
      const QString suffix = QLatin1Char(' ') + symbol;
      e.previousText += suffix;
      e.currentText += suffix;
      e.differenceText += suffix;
    }
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
    const double p = rise ? (double(cur) - double(prev)) * 100.0 / double(prev)
                          : (double(prev) - double(cur)) * 100.0 / double(prev);
    e.alternateTitle = (rise ? QStringLiteral("+ ") : QStringLiteral("- ")) + percentText(float(p)) + QStringLiteral(" %");
  }
}

void displayOneProduct(const KVROverviewInput& in, KVROverviewDisplay& d, std::string_view key) {
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
  d.fillRate = T.requests != 0 ? T.fillRate / T.requests / 100.0f : 0.0f;
  d.eCPM = T.impressions != 0 ? T.eCPM / T.impressions : 0.0f;
  d.ctr = T.impressions != 0 ? T.ctr / T.impressions / 100.0f : 0.0f;
  d.requests = KVRRounded(T.requests);
  d.impressions = KVRRounded(T.impressions);

  float cur = T.objectForKey(key);
  float prev = totalsOf(P).objectForKey(key);
  if (isRatioTag(tag)) {
    const float qc = ratioDivisor(tag, T), qp = ratioDivisor(tag, totalsOf(P));
    cur = qc != 0 ? cur / qc : 0.0f;
    prev = qp != 0 ? prev / qp : 0.0f;
  }
  d.evolution.current = cur;
  d.evolution.previous = prev;

  const KVRDayTotals dayTotals = days ? KVRDayTotals(days->salesByDate) : KVRDayTotals();
  if (!KVRBuildPointsInCurve(dayTotals, key, in.graphStartDate, in.graphEndDate, &d.pointsInCurve))
    d.pointsInCurve = in.previousPointsInCurve;

  if (!C) return;
  const QString qkey = QString::fromLatin1(key.data(), int(key.size()));
  for (const auto& [country, c] : C->byCountry) {
    if (const std::optional<float> v = countryLeftValue(tag, qkey, c); v && *v != 0) {
      d.downloadsPerProduct.total += *v;
      d.downloadsPerProduct.add(country, *v);
    }
    const float r = isAdTag(tag) ? c.iAdSales : c.currency;
    if (r != 0) {
      d.revenuesPerProduct.total += r;
      d.revenuesPerProduct.add(country, r);
    }
  }
}

void displaySeveralProducts(const KVROverviewInput& in, KVROverviewDisplay& d, std::string_view key,
                            const std::vector<KVRVortelyManagedProduct*>& products) {
  const int tag = in.valueTag;
  const bool ratio = isRatioTag(tag);
  const KVRTotalsResult* A = in.totals.current;
  const bool comparedIsCurrent = in.startDate == in.lastDayDate && in.endDate == in.currentDayDate;
  const KVRTotalsResult* X = comparedIsCurrent || !in.totals.compared ? A : in.totals.compared;
  const KVRTotalsResult* P = in.totals.previous;
  const KVRTotalsResult* G = in.selectedPeriod == 0 ? in.totals.graph : nullptr;
  const QString qkey = QString::fromLatin1(key.data(), int(key.size()));

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
  float sumCurrency = 0, sumRequests = 0, sumImpressions = 0, sumFillRate = 0, sumECPM = 0, sumCtr = 0;
  float cur = 0, prev = 0, xRequests = 0, xImpressions = 0, pRequests = 0, pImpressions = 0;
  // Ratio tags: numerators and divisors by product legend and by country.
  std::map<QString, std::pair<float, float>> productRatios;
  std::map<QString, float> countryDivisors;
  float countryDivisorSum = 0;
  std::vector<KVRDate> dates;
  KVRCombinedDayValues combined;

  for (const KVRVortelyManagedProduct* p : products) {
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
    if (r > 0) {
      d.revenuesPerProduct.total += r;
      d.revenuesPerProduct.add(name, r);
    }

    // Left chart by product.
    if (ratio) {
      const float n = T.objectForKey(key), q = ratioDivisor(tag, T);
      if (n > 0 || q > 0) {
        auto& [sn, sq] = productRatios[name];
        sn += n;
        sq += q;
      }
      d.downloadsPerProduct.total += n;
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

    // The product's curve over the shared list of days, and the combined sums.
    const KVRProductTotals* dayEntry = G ? entryOf(G, p) : entry;
    const KVRDayTotals days = dayEntry ? KVRDayTotals(dayEntry->salesByDate) : KVRDayTotals();
    d.curves.push_back(KVROverviewCurve{
        KVRPointsInCurveWithDates(days, key, &dates, in.graphStartDate, in.graphEndDate), p->curveColor});
    combined.addProduct(days, key, T);

    // Part charts by country.
    if (!entry) continue;
    for (const auto& [country, c] : entry->byCountry) {
      if (ratio) {
        const float n = c.objectForKey(key), q = ratioDivisor(tag, c);
        if (n != 0 || q != 0) {
          d.downloadsPerCountry.add(country, n);
          d.downloadsPerCountry.total += n;
          countryDivisors[country] += q;
          countryDivisorSum += q;
        }
      } else if (const std::optional<float> v = countryLeftValue(tag, qkey, c); v && *v != 0) {
        d.downloadsPerCountry.add(country, *v);
        d.downloadsPerCountry.total += *v;
      }
      const float rc = isAdTag(tag) ? c.iAdSales : c.currency;
      if (rc != 0) {
        d.revenuesPerCountry.add(country, rc);
        d.revenuesPerCountry.total += rc;
      }
    }
  }

  if (ratio) {
    for (const auto& [name, nq] : productRatios)
      d.downloadsPerProduct.values[name] = nq.second != 0 ? nq.first / nq.second : nq.first;
    for (auto& [country, v] : d.downloadsPerCountry.values) {
      const float q = countryDivisors[country];
      if (q != 0) v = v / q;
    }
    d.downloadsPerCountry.total = countryDivisorSum != 0 ? d.downloadsPerCountry.total / countryDivisorSum : 0.0f;
    const float xq = tag == 11 ? xRequests : xImpressions;
    const float pq = tag == 11 ? pRequests : pImpressions;
    d.downloadsPerProduct.total = xq != 0 ? d.downloadsPerProduct.total / xq : 0.0f;
    cur = xq != 0 ? cur / xq : 0.0f;
    prev = pq != 0 ? prev / pq : 0.0f;
  }
  d.evolution.current = cur;
  d.evolution.previous = prev;

  if (!KVRBuildPointsInCurve(combined, in.graphStartDate, in.graphEndDate, &d.pointsInCurve))
    d.pointsInCurve = in.previousPointsInCurve;

  d.counterValue = in.iAd ? d.revenuesPerCountry.total : sumCurrency;
  d.sales = sumSales;
  d.refunds = sumRefunds;
  d.upgrades = sumUpgrades;
  d.downloads = sumSales + sumUpgrades;
  d.fillRate = sumRequests != 0 ? sumFillRate / sumRequests / 100.0f : 0.0f;
  d.eCPM = sumImpressions != 0 ? sumECPM / sumImpressions : 0.0f;
  d.ctr = sumImpressions != 0 ? sumCtr / sumImpressions / 100.0f : 0.0f;
  d.requests = KVRRounded(sumRequests);
  d.impressions = KVRRounded(sumImpressions);
}

float medianFor(const KVROverviewDisplay& d) {
  const int points = KVRNumberOfPointsInCurves(d);
  auto perPoint = [points](double v) { return points > 0 ? float(v / points) : KVRNoMedianValue; };
  switch (d.valueTag) {
    case 0: case 17: return perPoint(double(d.sales));
    case 1: return perPoint(double(d.upgrades));
    case 2: return perPoint(double(d.downloads));
    case 3: return perPoint(double(d.refunds));
    case 4: case 7: return points > 0 ? KVRVortelyCounterView::roundedToCents(d.counterValue) / float(points) : KVRNoMedianValue;
    case 8: return d.eCPM;
    case 11: return d.fillRate * 100.0f;
    case 12: return d.ctr * 100.0f;
    default: return KVRNoMedianValue;
  }
}

}  // namespace

int64_t KVRRounded(float x) {
  const double shifted = double(x) + 0.5;
  if (std::isnan(shifted)) return 0;
  return int64_t(std::trunc(std::clamp(shifted, -4.0e18, 4.0e18)));
}

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

KVROverviewDisplay KVRMakeOverviewDisplay(const KVROverviewInput& in) {
  KVROverviewDisplay d;
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
  if (d.oneProduct) displayOneProduct(in, d, key);
  else displaySeveralProducts(in, d, key, products);

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
