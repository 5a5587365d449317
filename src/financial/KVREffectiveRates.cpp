#include "financial/KVREffectiveRates.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <tuple>

#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
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

KVREffectiveRatesByAccount KVRDeriveEffectiveRates(KVRVortelyCoreDataManager& dm, const QString& preferred) {
  KVREffectiveRatesByAccount result;
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  const KVRFinancialStatementBuilder builder(dm);
  std::lock_guard<std::recursive_mutex> context(dm.contextLock());
  for (KVRStoreAccount* account : dm.accounts()) {
    if (!account) continue;
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
    if (!rates.empty()) result[account] = std::make_shared<const KVREffectiveRates>(std::move(rates));
  }
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
