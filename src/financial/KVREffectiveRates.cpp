#include "financial/KVREffectiveRates.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <tuple>

#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "platform/KVRVortelyLogCenter.h"

namespace {

void log(const QString& message) {
  KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, QStringLiteral("Reports Controller"));
}

// The days a month's sales are paid for: its financial report's begin to end
// days (the report takes them from its lines), else the calendar month.
std::pair<KVRCivilDay, KVRCivilDay> daysOf(const KVRFinancialStatement& st, KVRMonthKey month, int row) {
  if (const KVRReport* r = st.reportIndex.find(month, row); r && r->beginDate.isValid() && r->endDate.isValid()) {
    KVRCalendar& calendar = KVRCalendar::shared();
    const KVRCivilDay first = calendar.civilDay(r->beginDate), last = calendar.civilDay(r->endDate);
    // A month's report spans four or five weeks; anything shorter lacks its end.
    if (last - first >= 20 && last - first < 62) return {first, last};
  }
  const KVRMonthKey next = month.next();
  return {KVRCivilDayFromYMD(month.year, unsigned(month.month), 1),
          KVRCivilDayFromYMD(next.year, unsigned(next.month), 1) - 1};
}

// One account's rates: days painted in payment order (a later payment wins),
// then gathered into runs of equal rate.
class Painter {
 public:
  void paint(const QString& region, const QString& currency, KVRCivilDay first, KVRCivilDay last, double rate) {
    std::map<KVRCivilDay, double>& days = days_[{region, currency}];
    for (KVRCivilDay d = first; d <= last; ++d) days[d] = rate;
  }

  KVREffectiveRates runs() const {
    KVREffectiveRates out;
    for (const auto& [key, days] : days_) {
      for (const auto& [day, rate] : days) {
        if (!out.empty() && out.back().region == key.first && out.back().currency == key.second &&
            out.back().lastDay + 1 == day && out.back().rate == rate) {
          out.back().lastDay = day;
          continue;
        }
        out.push_back({key.first, key.second, day, day, rate});
      }
    }
    return out;  // sorted by region, currency and day by construction
  }

 private:
  std::map<std::pair<QString, QString>, std::map<KVRCivilDay, double>> days_;
};

}  // namespace

KVREffectiveRatesRef KVRDeriveEffectiveRatesForAccount(KVRVortelyCoreDataManager& dm, KVRStoreAccount* account,
                                                       const QString& preferred) {
  if (!account) return nullptr;
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  const KVRFinancialStatementBuilder builder(dm);
  std::lock_guard<std::recursive_mutex> context(dm.contextLock());
  KVRFinancialSelection selection;
  selection.products = account->products;
  selection.accounts = {account};
  selection.accountSelected = true;
  const KVRFinancialStatement st = builder.build(selection);

  Painter painter;
  for (const KVRFinancialMonth& month : st.months) {
    for (const auto& [code, record] : month.payments.all()) {
      if (!record || !record->isPaymentForm() || !record->isReconciled() || !record->paymentMonth) continue;
      const KVRReport* payment = record->paymentReport;
      const int row = KVRMoneyRegionForCode(code);
      if (row < 0 || row == KVRRegionRowIAD || record->localCurrency.isEmpty()) continue;
      const double received = payment->pointedIncome;
      if (!(received > 0) || !std::isfinite(received)) continue;

      std::vector<KVRMonthKey> months = record->priorMonths;
      months.push_back(*record->paymentMonth);
      std::sort(months.begin(), months.end());
      float estimated = 0;
      for (KVRMonthKey m : months)
        if (const KVRFinancialMonth* mr = st.monthRecord(m)) estimated += mr->incomeLocal[row];
      if (!(estimated > 0)) {
        log(QStringLiteral("No effective rate for the %1 payment of %2-%3: its months' estimate is %4")
                .arg(code)
                .arg(record->paymentMonth->year)
                .arg(record->paymentMonth->month)
                .arg(double(estimated)));
        continue;
      }
      // The received amount's currency: its reconciliation line's, else none.
      const KVRReportEntry* receivedLine = KVRFirstLineOfType(payment, KVREntryTypeReconciliation);
      QString receivedIn = receivedLine ? receivedLine->currency : QString();
      if (receivedIn.isEmpty()) receivedIn = preferred;
      const double toPreferred = converter.rateFrom(KVRVortelyCurrencyConverter::rateCodeForCurrency(receivedIn),
                                                    preferred);
      const double rate = received / double(estimated) * (toPreferred > 0 ? toPreferred : 1.0);
      if (!KVRVortelyCurrencyConverter::isUsableRate(rate)) continue;
      const QString currency = KVRVortelyCurrencyConverter::rateCodeForCurrency(record->localCurrency);
      for (KVRMonthKey m : months) {
        const auto [first, last] = daysOf(st, m, row);
        painter.paint(code, currency, first, last, rate);
      }
    }
  }
  KVREffectiveRates rates = painter.runs();
  if (rates.empty()) return nullptr;
  return std::make_shared<const KVREffectiveRates>(std::move(rates));
}

KVREffectiveRatesByAccount KVRDeriveEffectiveRates(KVRVortelyCoreDataManager& dm, const QString& preferred) {
  KVREffectiveRatesByAccount result;
  std::lock_guard<std::recursive_mutex> context(dm.contextLock());
  for (KVRStoreAccount* account : dm.accounts())
    if (KVREffectiveRatesRef rates = KVRDeriveEffectiveRatesForAccount(dm, account, preferred))
      result[account] = std::move(rates);
  return result;
}

size_t KVRInstallEffectiveRates(KVRVortelyCoreDataManager& dm) {
  const QString preferred = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency();
  KVREffectiveRatesByAccount rates = KVRDeriveEffectiveRates(dm, preferred);
  size_t count = 0;
  for (const auto& [account, list] : rates) count += list->size();
  KVRVortelyCurrencyConverter::sharedInstance().setEffectiveRates(preferred, std::move(rates));
  log(QStringLiteral("Effective rates: %1 for %2").arg(count).arg(preferred));
  return count;
}

namespace {

// The days on which two lists of one account's rates differ, per rate
// currency, as ranges of days.
using ChangedDays = std::map<QString, std::vector<std::pair<KVRCivilDay, KVRCivilDay>>>;

ChangedDays changedDays(const KVREffectiveRatesRef& before, const KVREffectiveRatesRef& after, size_t* runs,
                        QSet<QString>* regions) {
  using Days = std::map<KVRCivilDay, double>;
  std::map<std::pair<QString, QString>, std::pair<Days, Days>> byKey;
  auto spread = [&](const KVREffectiveRatesRef& list, bool second) {
    if (!list) return;
    for (const KVREffectiveRate& r : *list) {
      auto& [a, b] = byKey[{r.region, r.currency}];
      Days& days = second ? b : a;
      for (KVRCivilDay d = r.firstDay; d <= r.lastDay; ++d) days[d] = r.rate;
    }
  };
  spread(before, false);
  spread(after, true);
  ChangedDays changed;
  for (const auto& [key, pair] : byKey) {
    const auto& [a, b] = pair;
    std::vector<KVRCivilDay> days;
    for (const auto& [d, rate] : a) {
      auto it = b.find(d);
      if (it == b.end() || it->second != rate) days.push_back(d);
    }
    for (const auto& [d, rate] : b)
      if (!a.count(d)) days.push_back(d);
    if (days.empty()) continue;
    regions->insert(key.first);
    std::sort(days.begin(), days.end());
    auto& ranges = changed[key.second];
    for (KVRCivilDay d : days) {
      if (!ranges.empty() && ranges.back().second + 1 >= d) {
        ranges.back().second = std::max(ranges.back().second, d);
      } else {
        ranges.emplace_back(d, d);
        ++*runs;
      }
    }
  }
  return changed;
}

constexpr double kDayMs = 86400000.0;

// The instants of the changed days, a day wider on each side (a day's first
// instant moves with the time zone).
struct Window {
  QString currency;
  double from, to;
};

std::vector<Window> windowsOf(const ChangedDays& changed) {
  std::vector<Window> windows;
  KVRCalendar& calendar = KVRCalendar::shared();
  for (const auto& [currency, ranges] : changed)
    for (const auto& [first, last] : ranges)
      windows.push_back({currency, calendar.dateFromCivilDay(first).ms - kDayMs,
                         calendar.dateFromCivilDay(last + 1).ms + kDayMs});
  return windows;
}

// Whether a product has a line that may fall on a changed day in a changed
// currency. Generous on purpose: a line is taken to reach up to eight days
// past its begin (a weekly line's span) or to its end.
bool touchesChangedDays(const KVRVortelyManagedProduct& product, const std::vector<Window>& windows) {
  constexpr double kDay = kDayMs;
  for (const KVRReportEntry* e : product.entries) {
    if (!e || !e->beginDate.isValid()) continue;
    const double from = e->beginDate.ms;
    double to = from + 8 * kDay;
    if (e->endDate.isValid()) to = std::max(to, std::min(e->endDate.ms, from + 370 * kDay));
    for (const Window& w : windows) {
      if (to < w.from || from > w.to) continue;
      if (KVRVortelyCurrencyConverter::rateCodeForCurrency(e->currency.trimmed()) == w.currency) return true;
    }
  }
  return false;
}

}  // namespace

KVRRatesRebuild KVRRebuildRatesOfAccounts(KVRVortelyCoreDataManager& dm, const std::vector<KVRStoreAccount*>& accounts) {
  KVRRatesRebuild out;
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  out.preferred = converter.preferedCurrency();
  std::vector<KVRVortelyManagedProduct*> candidates;
  QSet<QString> regions;  // whose rates changed
  {
    std::lock_guard<std::recursive_mutex> context(dm.contextLock());
    for (KVRStoreAccount* account : dm.accounts()) {
      if (!account) continue;
      const KVREffectiveRatesRef before = converter.effectiveRatesForAccount(account);
      if (std::find(accounts.begin(), accounts.end(), account) == accounts.end()) {
        if (before) out.rates[account] = before;
        continue;
      }
      KVREffectiveRatesRef after = KVRDeriveEffectiveRatesForAccount(dm, account, out.preferred);
      if (after) out.rates[account] = after;
      const std::vector<Window> windows = windowsOf(changedDays(before, after, &out.changedRuns, &regions));
      for (KVRVortelyManagedProduct* p : account->products) {
        if (!p) continue;
        p->resetFinancialReports();
        if (!windows.empty() && touchesChangedDays(*p, windows)) candidates.push_back(p);
      }
    }
  }
  const KVREffectiveRatesByAccount& rates = out.rates;
  out.histories = KVRVortelyManagedProduct::buildHistoriesAside(
      candidates,
      [&rates](const KVRStoreAccount* a) {
        auto it = rates.find(a);
        return it == rates.end() ? KVREffectiveRatesRef() : it->second;
      },
      &regions);
  out.products = std::move(candidates);
  log(QStringLiteral("Effective rates of %1 account(s) derived again: %2 changed run(s), %3 product(s) rebuilt")
          .arg(accounts.size())
          .arg(out.changedRuns)
          .arg(out.products.size()));
  return out;
}

std::vector<KVRProductValuesRef> KVRInstallRatesRebuild(KVRRatesRebuild rebuild) {
  KVRVortelyCurrencyConverter::sharedInstance().setEffectiveRates(rebuild.preferred, std::move(rebuild.rates));
  std::vector<KVRProductValuesRef> replaced;
  replaced.reserve(rebuild.products.size());
  for (size_t i = 0; i < rebuild.products.size(); ++i) {
    replaced.push_back(rebuild.products[i]->valuesByCountryAndDate());
    rebuild.products[i]->installHistory(std::move(rebuild.histories[i]));
  }
  return replaced;
}
