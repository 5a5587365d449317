#pragma once
// The history build of a product, as a pure computation: from the product's
// sales report lines and ad lines to one totals record per value key
// ("EU-FR": region code, "-", country code) and civil day, plus the product's
// all-time totals. KVRVortelyManagedProduct::buildHistoryByDate runs it and
// installs the result.
//
// What is counted
// - Sales report lines only: lines of daily (1), weekly (2) and monthly free
//   (3) reports, and lines without a report (or of a report still typed 0).
//   Lines of financial (4) and payment (5) reports repeat money the sales
//   reports already hold, so they are left out; ad reports (6) come in through
//   the ad lines.
// - Entry types 1 sale, 2 upgrade, 3 refund, 4 in-app purchase; the payment
//   types (5 to 10) carry no sales and are skipped.
//
// Per line, with c = count and u = income per unit (hundredths):
// - sale and in-app purchase: sales += c; freeSales += c when u is 0, else
//   paiedSales += c;
// - upgrade: upgrades += c;
// - refund: refunds += |c| (a positive count);
// - the sub-type (promo code, gift purchase, gift redemption, education, new
//   subscription, renewal) also adds c to its own measure, for every type but
//   refunds;
// - money, every type: income += c x u / 100 in the line's currency; the
//   same amount goes to the record's amount in that currency (one of the 13
//   kept per record) and the code joins `currencies`; currency += income x
//   rate, where rate is the converter's current cached rate from the line's
//   currency to the preferred currency, read once per currency when the build
//   starts. A currency without a usable rate counts at rate 1 (the converter
//   remembers the pair, and the user is told). "USD RoW", "USD - RoW" and
//   "IAD" count as "USD". Where a reconciled payment gave an effective rate
//   (setEffectiveRates: the product's account, the region of the line's
//   country, the line's currency, the day), that rate converts instead, day
//   by day, for the records and the all-time total alike.
// - downloads = sales + upgrades, set once per record when the build ends.
//
// Days
// - A line's day is the civil day of its beginDate in the shared calendar.
// - A daily line (a line of a daily report, of no report or of a report still
//   typed 0, that is not weekly by its dates) lands whole on its begin day,
//   whatever its end (the same day or the next midnight).
// - A spread line covers a span of days: a weekly line (weekly report, or a
//   line whose end day is 6 or 7 days after its begin day) the seven days from
//   its begin day; a monthly free line its begin to end days (an end on the
//   same day of a later month is taken as the first instant after the span;
//   a span beyond a year, or reversed, is its begin day alone).
// - Daily and weekly (or monthly) reports of the same days hold the same
//   sales. The days covered by daily reports are the days of the account's
//   daily reports and of the product's daily lines: a day with a daily report
//   but no line of the product sold nothing. A spread line of span n gives
//   each day of its span that no daily report covers one n-th share of every
//   figure (c / n, c x u / 100 / n, ...: fractional figures), and nothing to
//   the covered days. So 70 sales over a week whose daily reports cover four
//   days count 10 on each of the three other days: 30, which with the daily
//   lines' own figures for the four days counts the week once, no sale twice
//   and none lost.
//
// Ad lines: per day and value key, iAdSales += revenue x the dollar's cached
// rate to the preferred currency (the ad network pays in dollars; without a
// known rate the dollars stay as they are; ad money never enters `currency`
// nor the per-currency amounts), requests += requests, impressions +=
// impressions, and the ratios as weighted sums: eCPM += (eCPM x the same
// rate) x impressions, ctr += ctr x impressions, fillRate += fillRate x
// requests.
//
// Value keys: the catalogue's region of the line's country (upper-cased),
// "-", the country; "WW" when the catalogue has no region for it.
//
// Arithmetic: single precision throughout, lines in a fixed order (sales lines
// by beginDate then objectID, then ad lines by date then objectID; ties keep
// the relationship order), each addition onto the running value.
//
// All-time totals: totalSales adds c of every counted sale and in-app purchase
// line, totalUpgrades c of every counted upgrade line, totalIncomes the
// line's income converted to the preferred currency (c x u / 100 x rate), in
// line order. A spread line adds its part once: c whole when no day of its
// span is covered, else c x uncovered days / n, rounded once to single
// precision (exact whenever that part is whole: 70 x 3 / 7 adds 30).
//
// Records: `date`, `beginDate` and `endDate` are the first instant of the day
// (shared calendar); the compact series keep them as the day alone and give
// them back with KVRProductValues::find.
//
// Storage (KVRProductValues.h): the build counts each value key's days and
// the measures its lines touch, sums the lines into a working table with a
// float column per measure that gets additions of its own, then writes each
// series once, at its final size, with every field in its smallest exact
// form. A builder keeps its working tables from one product to the next, so
// a rebuild of many products touches fresh memory only for the records it
// keeps.
//
// The build reads entity objects: callers hold the data manager's context lock.
#include <QHash>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRCalculationServices.h"
#include "core/KVREntities.h"
#include "core/KVRProductValues.h"

struct KVRHistory {
  KVRProductValuesRef values;  // never null after a build
  float totalSales = 0, totalUpgrades = 0, totalIncomes = 0;
};

class KVRHistoryBuilder {
 public:
  // What the build looks up outside the lines. Each is asked once per distinct
  // input and remembered for the builder's life, so one builder may serve many
  // products in a row (a rebuild of all products) as long as rates and the
  // calendar do not change meanwhile.
  struct Services {
    std::function<QString(const QString& country)> regionForCountry;  // empty: unknown
    std::function<double(const QString& currency)> rateToPreferred;   // 0: unknown (counts as 1)
    std::function<KVRCivilDay(KVRDate)> civilDay;
    std::function<KVRDate(KVRCivilDay)> dateFromCivilDay;
  };
  // The catalogue, the converter (preferred currency read now) and the
  // calendar of `services`.
  static Services servicesFrom(const KVRCalculationServices& services);
  // The same with the application's shared converter and calendar.
  static Services defaultServices();

  KVRHistoryBuilder();
  explicit KVRHistoryBuilder(const KVRCalculationServices& services);
  explicit KVRHistoryBuilder(Services services);
  ~KVRHistoryBuilder();

  // The effective rates of the product's account (see above); none by default.
  void setEffectiveRates(KVREffectiveRatesRef rates) { effectiveRates_ = std::move(rates); }

  // `accountReports`: the reports of the product's account; its daily
  // reports (others are ignored) tell which days daily reports cover.
  KVRHistory build(const std::vector<KVRReportEntry*>& entries,
                   const std::vector<KVRiAdReportEntry*>& adEntries,
                   const std::vector<KVRReport*>& accountReports = {});
  // The build again after the effective rates changed in the money regions
  // `regions` only: the series of the value keys of other regions are taken
  // from `previous` (they read none of the changed rates), the others summed
  // anew, and the all-time totals counted anew. Gives what build() gives, bit
  // for bit, when `previous` is what build() gave for the same lines, daily
  // reports and cached rates. Without `previous`, build().
  KVRHistory rebuild(const std::vector<KVRReportEntry*>& entries, const std::vector<KVRiAdReportEntry*>& adEntries,
                     const std::vector<KVRReport*>& accountReports, const KVRProductValues* previous,
                     const QSet<QString>& regions);

 private:
  struct KeyInfo { QString key, region, country; };
  struct CurrencyInfo { int slot = -1; float rate = 0; KVRCurrencySet set; QString code; int index = 0; };

  int keyIndexFor(const QString& country);
  const CurrencyInfo& currencyFor(const QString& code);
  KVRCivilDay dayFor(KVRDate date);

  Services services_;
  KVREffectiveRatesRef effectiveRates_;
  std::vector<KeyInfo> keys_;
  std::unordered_map<uint64_t, int> shortCountryIndex_;  // ASCII codes of up to 4 letters
  QHash<QString, int> countryIndex_;                      // any other code
  std::vector<CurrencyInfo> currencies_;
  std::unordered_map<uint64_t, int> shortCurrencyIndex_;
  QHash<QString, int> currencyIndex_;
  std::unordered_map<int64_t, KVRCivilDay> dayOfInstant_;
  int64_t lastInstant_ = 0;
  KVRCivilDay lastDay_ = 0;
  bool lastInstantValid_ = false;
  struct Scratch;  // working tables kept from one build to the next
  struct Build;    // one build's state and steps
  std::unique_ptr<Scratch> scratch_;
};
