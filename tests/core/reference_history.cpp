#include "reference_history.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRCalendar.h"

namespace reference {

namespace {

bool countsAsSales(const KVRReportEntry* e) {
  if (!e || !e->beginDate.isValid() || e->type < KVREntryTypeSale || e->type > KVREntryTypeInAppPurchase) return false;
  if (!e->report) return true;
  const int t = e->report->type;
  return t == KVRReportTypeNew || t == KVRReportTypeDaily || t == KVRReportTypeWeekly || t == KVRReportTypeMonthlyFree;
}

QString keyOf(const QString& rawCountry) {
  const QString country = rawCountry.toUpper();
  QString region = KVRVortelyStoreDataSource::regionForCountryCode(country);
  if (region.isEmpty()) region = QStringLiteral("WW");
  return region + QLatin1Char('-') + country;
}

float rateOf(KVRVortelyCurrencyConverter& conv, const QString& code) {
  const double r = conv.rateFrom(code, conv.preferedCurrency());
  return KVRVortelyCurrencyConverter::isUsableRate(r) ? float(r) : 1.0f;
}

}  // namespace

History buildHistory(KVRVortelyCurrencyConverter& converter, const std::vector<KVRReportEntry*>& entries,
                     const std::vector<KVRiAdReportEntry*>& adEntries,
                     const std::vector<KVRReport*>& accountReports, const KVREffectiveRates* effectiveRates) {
  KVRCalendar& cal = KVRCalendar::shared();
  History h;
  std::vector<const KVRReportEntry*> lines;
  for (const KVRReportEntry* e : entries)
    if (countsAsSales(e)) lines.push_back(e);
  std::stable_sort(lines.begin(), lines.end(), [](const KVRReportEntry* a, const KVRReportEntry* b) {
    return a->beginDate.ms != b->beginDate.ms ? a->beginDate.ms < b->beginDate.ms : a->objectID < b->objectID;
  });

  // Each line's first day and span; the days daily reports and lines cover.
  struct Span { KVRCivilDay day; int spread; bool daily; };
  std::vector<Span> spans;
  std::set<KVRCivilDay> covered;
  for (const KVRReport* r : accountReports)
    if (r && r->type == KVRReportTypeDaily && r->beginDate.isValid()) covered.insert(cal.civilDay(r->beginDate));
  for (const KVRReportEntry* e : lines) {
    Span s{cal.civilDay(e->beginDate), 1, true};
    const KVRCivilDay end = e->endDate.isValid() ? cal.civilDay(e->endDate) : s.day;
    const int type = e->report ? e->report->type : KVRReportTypeNew;
    if (type == KVRReportTypeWeekly || end - s.day == 6 || end - s.day == 7) {
      s = {s.day, 7, false};
    } else if (type == KVRReportTypeMonthlyFree) {
      KVRCivilDay last = end;
      if (last > s.day && KVRYMDFromCivilDay(last).day == KVRYMDFromCivilDay(s.day).day) --last;
      const int64_t n = int64_t(last) - int64_t(s.day) + 1;
      s = {s.day, n >= 1 && n <= 366 ? int(n) : 1, false};
    }
    if (s.daily) covered.insert(s.day);
    spans.push_back(s);
  }

  for (size_t i = 0; i < lines.size(); ++i) {
    const KVRReportEntry* e = lines[i];
    const Span& s = spans[i];
    int uncovered = 0;
    for (int d = 0; d < s.spread; ++d) uncovered += s.daily || !covered.count(s.day + d);
    if (uncovered == 0) continue;
    const QString code = KVRVortelyCurrencyConverter::rateCodeForCurrency(e->currency.trimmed());
    const float rate = rateOf(converter, code);
    // The effective rates of the line's region and currency, if any.
    const QString key = keyOf(e->country);
    const QString region = key.left(key.indexOf(QLatin1Char('-')));
    std::vector<KVREffectiveRate> runs;
    if (effectiveRates)
      for (const KVREffectiveRate& run : *effectiveRates)
        if (run.region == region && run.currency == code) runs.push_back(run);
    auto rateOn = [&](KVRCivilDay day) {
      for (const KVREffectiveRate& run : runs)
        if (run.firstDay <= day && day <= run.lastDay) return float(run.rate);
      return rate;
    };
    const int slot = KVRCurrencySlotForCode(code.toStdString());
    KVRCurrencySet set;
    if (!code.isEmpty()) set.insert(code.toStdString());
    set.make();
    const float count = float(e->count);
    const float lineIncome = count * float(e->income) / 100.0f;
    const float dayCount = s.spread == 1 ? count : count / float(s.spread);
    const float dayIncome = s.spread == 1 ? lineIncome : lineIncome / float(s.spread);
    const bool whole = uncovered == s.spread;
    const float countPart = whole ? count : float(double(e->count) * uncovered / s.spread);
    const float incomePart = whole ? lineIncome : float(double(lineIncome) * uncovered / s.spread);
    if (e->type == KVREntryTypeSale || e->type == KVREntryTypeInAppPurchase) h.totalSales += countPart;
    if (e->type == KVREntryTypeUpgrade) h.totalUpgrades += countPart;
    // At effective rates a spread line's income counts day by day.
    if (runs.empty()) h.totalIncomes += incomePart * rate;
    else if (s.spread == 1) h.totalIncomes += incomePart * rateOn(s.day);
    for (int d = 0; d < s.spread; ++d) {
      if (!s.daily && covered.count(s.day + d)) continue;
      if (!runs.empty() && s.spread != 1) h.totalIncomes += dayIncome * rateOn(s.day + d);
      KVRTotalsStruct& r = h.records[{key, s.day + d}];
      if (e->type == KVREntryTypeSale || e->type == KVREntryTypeInAppPurchase) {
        r.sales += dayCount;
        (e->income == 0 ? r.freeSales : r.paiedSales) += dayCount;
      }
      if (e->type == KVREntryTypeUpgrade) r.upgrades += dayCount;
      if (e->type == KVREntryTypeRefund) r.refunds += std::fabs(dayCount);
      if (e->type != KVREntryTypeRefund) {
        float* sub[] = {nullptr, &r.promoCode, &r.giftPurchase, &r.giftRedemption, &r.eduStore, &r.newSubscription, &r.renewal};
        if (e->subType >= 1 && e->subType <= 6) *sub[e->subType] += dayCount;
      }
      r.income += dayIncome;
      if (slot >= 0) r.currencyAmount(KVRCurrencySlot(slot)) += dayIncome;
      r.currencies.unite(set);
      r.currency += dayIncome * rateOn(s.day + d);
    }
  }

  std::vector<const KVRiAdReportEntry*> ads;
  for (const KVRiAdReportEntry* a : adEntries)
    if (a && a->date.isValid()) ads.push_back(a);
  std::stable_sort(ads.begin(), ads.end(), [](const KVRiAdReportEntry* a, const KVRiAdReportEntry* b) {
    return a->date.ms != b->date.ms ? a->date.ms < b->date.ms : a->objectID < b->objectID;
  });
  const float adRate = ads.empty() ? 1.0f : rateOf(converter, QStringLiteral("USD"));
  for (const KVRiAdReportEntry* a : ads) {
    KVRTotalsStruct& r = h.records[{keyOf(a->country), cal.civilDay(a->date)}];
    r.iAdSales += a->revenue * adRate;
    r.requests += a->requests;
    r.impressions += a->impressions;
    r.eCPM += (a->eCPM * adRate) * a->impressions;
    r.ctr += a->ctr * a->impressions;
    r.fillRate += a->fillRate * a->requests;
  }
  for (auto& [key, r] : h.records) {
    r.downloads = r.sales + r.upgrades;
    r.date = r.beginDate = r.endDate = cal.dateFromCivilDay(key.second);
  }
  return h;
}

}  // namespace reference
