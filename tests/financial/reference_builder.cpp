#include "reference_builder.h"

#include <QStringList>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <tuple>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRCalendar.h"
#include "core/KVRFormatters.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"

namespace reference {
namespace {

using Vec = std::array<float, 19>;

KVRCalendar& calendar() { return KVRCalendar::shared(); }

// The month date of a financial report or payment line: begin date + 15 days,
// its year and month, the first day of that month.
KVRDate monthDateOf(KVRDate beginDate) {
  const KVRDate later = calendar().dateByAddingComponents(KVRDateComponents::days(15), beginDate);
  const KVRDateComponents c = calendar().components(12, later);
  KVRDateComponents ym;
  ym.year = c.year;
  ym.month = c.month;
  return calendar().dateFromComponents(ym);
}

KVRMonthKey keyOf(KVRDate monthDate) {
  const KVRDateComponents c = calendar().components(12, monthDate);
  return {c.year, c.month};
}

KVRDate previousMonth(KVRDate monthDate) {
  return calendar().dateByAddingComponents(KVRDateComponents::months(-1), monthDate);
}

// indexForRegionCode on the region row table, rows 1 to 18 only for a region.
int regionIndex(const KVRRegionRowTable& table, const QString& code) {
  for (int i = 0; i < 19; ++i)
    if (table[size_t(i)].shortDesc == code) return i == 0 ? -1 : i;
  return -1;
}

QString fileRegion(const QString& filename) {
  QString name = filename;
  const int slash = int(name.lastIndexOf('/'));
  const int dot = int(name.lastIndexOf('.'));
  if (dot > slash + 1) name = name.left(dot);
  return name.split('_').last();
}

int64_t integerPart(float x) {
  if (std::isnan(x)) return 0;
  if (x >= 9.2e18f) return std::numeric_limits<int64_t>::max();
  if (x <= -9.2e18f) return std::numeric_limits<int64_t>::min();
  return int64_t(x);
}

bool idLess(const KVRManagedObject* a, const KVRManagedObject* b) {
  const int64_t x = a->objectID > 0 ? a->objectID : std::numeric_limits<int64_t>::max();
  const int64_t y = b->objectID > 0 ? b->objectID : std::numeric_limits<int64_t>::max();
  return x < y;
}

std::vector<KVRReport*> sortedByBeginDate(const std::set<KVRReport*>& set, const std::vector<KVRReport*>& firstSeen) {
  std::vector<KVRReport*> v;
  for (KVRReport* r : firstSeen)
    if (set.count(r) && std::find(v.begin(), v.end(), r) == v.end()) v.push_back(r);
  std::stable_sort(v.begin(), v.end(), [](KVRReport* a, KVRReport* b) {
    if (a->beginDate.isValid() != b->beginDate.isValid()) return a->beginDate.isValid();
    if (a->beginDate.isValid() && a->beginDate.ms != b->beginDate.ms) return a->beginDate.ms < b->beginDate.ms;
    return idLess(a, b);
  });
  return v;
}

std::vector<KVRReportEntry*> linesById(const KVRReport* r) {
  std::vector<KVRReportEntry*> lines = r->entries;
  std::stable_sort(lines.begin(), lines.end(), idLess);
  return lines;
}

// Hundredths, half away from zero: x x 100, 0.5 added away from zero, the
// integer part, / 100, in single precision.
float hundredths(float x) {
  if (x != x) return 0.0f;
  float y = x * 100.0f;
  if (x < 0) y = y - 0.5f;
  else y = y + 0.5f;
  if (y >= 9.2e18f) return float(std::numeric_limits<int64_t>::max()) / 100.0f;
  if (y <= -9.2e18f) return float(std::numeric_limits<int64_t>::min()) / 100.0f;
  return float(int64_t(y)) / 100.0f;
}

QString format(float unrounded, const QString& symbol) {
  // The hundredths themselves, as a decimal the formatter writes as it is.
  float y = unrounded * 100.0f;
  y = unrounded < 0 ? y - 0.5f : y + 0.5f;
  const double amount = std::isfinite(y) && std::fabs(y) < 9.2e18f ? double(int64_t(y)) / 100.0 : double(unrounded);
  std::unique_lock<std::recursive_mutex> g;
  if (auto* app = KVRApplicationServices::current()) g = std::unique_lock<std::recursive_mutex>(app->formatterLock());
  return QStringLiteral("%1 %2").arg(KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(amount),
                                     symbol);
}

QString currencySymbol(const QString& code) {
  QString s = KVRVortelyCurrencyConverter::currencySymbolForCurrencyValue(code);
  if (s.isEmpty()) s = code.isEmpty() ? KVRVortelyCurrencyConverter::currencySymbolForCurrencyRegion("US") : code;
  return s;
}

// One account's record, as a dictionary would hold it.
struct Dict {
  KVRReport* PaymentReport = nullptr;
  bool hasPaymentMonth = false;
  KVRDate PaymentMonth;
  float LocalIncome = 0;
  QString LocalCurrency, LocalIncomeStr, IncomeStr;
  float Income = 0;
  bool hasJPRatio = false;
  float JPRatio = 1;
  bool hasPaymentRatio = false;
  float PaymentRatio = 1;
  float PointedIncome = 0;
  QString PointedIncomeStr, PointedAccount;
  KVRDate PointedDate;
  std::vector<KVRDate> PriorMonths;
  std::vector<KVRReport*> paying;
};

// month date (ms) -> region code -> record
using PaymentsMap = std::map<double, std::map<QString, std::shared_ptr<Dict>>>;

// Payment matching of one account's payment reports against its estimates.
void matchPayments(const std::vector<KVRReport*>& kept, const std::map<double, Vec>& estimate,
                   const KVRRegionRowTable& table, KVRDate now, PaymentsMap& payments) {
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  std::set<std::pair<double, QString>> ownMonths;  // (month, region) paid by a payment of that month
  for (KVRReport* report : kept) {
    const std::vector<KVRReportEntry*> lines = linesById(report);
    const KVRReportEntry* line = nullptr;
    const KVRReportEntry* reconciliation = nullptr;
    for (const KVRReportEntry* e : lines) {
      if (e->type == 9 && !line) line = e;
      if (e->type == 10 && !reconciliation) reconciliation = e;
    }
    QString currency = line->currency;
    if (currency == "USD RoW" || currency == "USD - RoW" || currency == "IAD") currency = "USD";
    const QString regionCode = line->country;
    const float P = float(line->income);
    const KVRDate paymentMonth = monthDateOf(line->beginDate);
    const QString reconciliationCurrency = reconciliation ? reconciliation->currency : QString();
    const int slot = regionIndex(table, regionCode);
    const bool hasEntry = estimate.count(paymentMonth.ms) && slot >= 0;

    float JPRatio = 1.0f;
    if (regionCode == "JP" && hasEntry) {
      const float E = estimate.at(paymentMonth.ms)[size_t(slot)];
      const int64_t E100 = integerPart(E * 100 + 0.5f);
      if (E100 > P && E100 != 0) JPRatio = P / float(E100);
    }
    auto d = std::make_shared<Dict>();
    d->LocalIncome = P / 100;
    d->Income = converter.convertAmountToPreferedCurrency(d->LocalIncome, currency);

    float pointed = report->pointedIncome;
    float ratio;
    if (d->Income > 0) {
      if (!reconciliationCurrency.isEmpty())
        pointed = converter.convertAmountToPreferedCurrency(pointed, reconciliationCurrency);
      ratio = pointed / d->Income;
    } else {
      ratio = 1.0f;
    }
    const bool pointedKeys = pointed > 0 || (pointed == 0 && d->Income == 0 && report->status > 0);
    d->LocalIncomeStr = format(d->LocalIncome, currencySymbol(currency));
    d->LocalCurrency = currency;
    d->IncomeStr = format(d->Income, converter.preferedCurrencySymbol());
    d->hasJPRatio = true;
    d->JPRatio = JPRatio;
    if (pointedKeys) {
      d->PointedIncome = pointed;
      d->PointedIncomeStr = format(pointed, converter.preferedCurrencySymbol());
      d->PointedDate = report->pointedDate.isValid() ? report->pointedDate : now;
      d->PointedAccount = report->pointedAccount.isEmpty() ? QString("--") : report->pointedAccount;
      d->hasPaymentRatio = true;
      d->PaymentRatio = ratio;
    }
    d->PaymentReport = report;
    d->hasPaymentMonth = true;
    d->PaymentMonth = paymentMonth;
    d->paying = {report};
    payments[paymentMonth.ms][regionCode] = d;
    ownMonths.insert({paymentMonth.ms, regionCode});

    if (!hasEntry) continue;
    int64_t E0;
    if (regionCode == "IAD") {
      E0 = line->income;
    } else {
      const int64_t E100 = integerPart(estimate.at(paymentMonth.ms)[size_t(slot)] * 100 + 0.5f);
      E0 = integerPart(float(E100) * JPRatio);
    }
    int64_t R = line->income;
    int64_t cur = E0;
    KVRDate m = previousMonth(paymentMonth);
    if (E0 < 0 && R == 0) {
      d->PaymentReport = nullptr;
      d->hasPaymentMonth = false;
      continue;
    }
    for (;;) {
      // The Part's four stops, on every turn.
      if (R == cur) break;
      if (R == 0) break;
      if (R == E0 - 1) break;
      if (R == E0 + 1) break;
      // The decided ones: a remainder above 0 and above the month's estimate
      // plus one hundredth; never a month whose payment was its own.
      if (!(R > 0)) break;
      if (!(R > cur + 1)) break;
      if (ownMonths.count({m.ms, regionCode})) break;
      d->PriorMonths.push_back(m);
      if (!estimate.count(m.ms)) break;
      R = R - cur;
      const float v = estimate.at(m.ms)[size_t(slot)];
      cur = integerPart(float(integerPart(v > 0 ? v * 100 + 0.5f : v * 100 - 0.5f)) * JPRatio);
      auto prior = std::make_shared<Dict>();
      prior->LocalIncome = v;
      prior->Income = converter.convertAmountToPreferedCurrency(v, currency);
      prior->hasPaymentMonth = true;
      prior->PaymentMonth = paymentMonth;
      if (pointedKeys) {
        prior->hasPaymentRatio = true;
        prior->PaymentRatio = ratio;
        prior->PointedIncome = prior->Income * ratio;
      }
      prior->paying = {report};
      payments[m.ms][regionCode] = prior;
      m = previousMonth(m);
    }
  }
}

KVRPaymentRecord toRecord(const Dict& d) {
  KVRPaymentRecord r;
  r.paymentReport = d.PaymentReport;
  if (d.hasPaymentMonth) r.paymentMonth = keyOf(d.PaymentMonth);
  r.localIncome = d.LocalIncome;
  r.localCurrency = d.LocalCurrency;
  r.localIncomeStr = d.LocalIncomeStr;
  r.income = d.Income;
  r.incomeStr = d.IncomeStr;
  if (d.hasJPRatio) r.jpRatio = d.JPRatio;
  if (d.hasPaymentRatio) r.paymentRatio = d.PaymentRatio;
  r.pointedIncome = d.PointedIncome;
  r.pointedIncomeStr = d.PointedIncomeStr;
  r.pointedDate = d.PointedDate;
  r.pointedAccount = d.PointedAccount;
  for (KVRDate m : d.PriorMonths) r.priorMonths.push_back(keyOf(m));
  r.payingReports = d.paying;
  return r;
}

// What a month shows for a region where several accounts have an estimate
// or a payment: the records' amounts added up, no report of its own; the
// paying month when each of those accounts has a record naming one;
// reconciled when each has a reconciled record.
KVRPaymentRecord summary(const std::vector<std::shared_ptr<Dict>>& ds, size_t accountsThere) {
  KVRPaymentRecord r;
  const bool everyone = ds.size() == accountsThere;
  size_t withMonth = 0, pointedCount = 0;
  float pointedSum = 0;
  std::optional<KVRMonthKey> latest;
  std::set<QString> currencies, accounts;
  for (const auto& d : ds) {
    r.localIncome = r.localIncome + d->LocalIncome;
    r.income = r.income + d->Income;
    for (KVRReport* x : d->paying) r.payingReports.push_back(x);
    currencies.insert(d->LocalCurrency);
    accounts.insert(d->PointedAccount);
    if (d->hasPaymentMonth) {
      ++withMonth;
      if (!latest || keyOf(d->PaymentMonth) > *latest) latest = keyOf(d->PaymentMonth);
    }
    if (d->hasPaymentRatio) {
      ++pointedCount;
      pointedSum = pointedSum + d->PointedIncome;
      if (d->PointedDate.isValid() && (!r.pointedDate.isValid() || d->PointedDate.ms > r.pointedDate.ms))
        r.pointedDate = d->PointedDate;
    }
  }
  if (everyone && withMonth == ds.size()) r.paymentMonth = latest;
  r.localCurrency = currencies.size() == 1 ? *currencies.begin() : QString();
  if (everyone && pointedCount == ds.size()) {
    r.paymentRatio = r.income > 0 ? pointedSum / r.income : 1.0f;
    r.pointedIncome = pointedSum;
    r.pointedAccount = accounts.size() == 1 ? *accounts.begin() : QString("--");
  } else {
    r.pointedDate = KVRDate();
  }
  return r;
}

}  // namespace

KVRFinancialStatement build(const KVRFinancialSelection& selection, KVRDate now) {
  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  std::lock_guard<std::recursive_mutex> context(dm.contextLock());
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  KVRFinancialStatement st;
  const KVRRegionRowTable table = KVRMakeRegionRowTable();

  // Step 2: the selected products' financial reports, each once.
  std::set<KVRVortelyManagedProduct*> products(selection.products.begin(), selection.products.end());
  products.erase(nullptr);
  std::set<KVRReport*> reportSet, androidSet, otherSet;
  std::vector<KVRReport*> seen;
  for (KVRVortelyManagedProduct* p : selection.products) {
    if (!p) continue;
    for (KVRReport* r : p->financialReports()) {
      reportSet.insert(r);
      (p->isAndroid() ? androidSet : otherSet).insert(r);
      seen.push_back(r);
    }
  }
  const std::vector<KVRReport*> reports = sortedByBeginDate(reportSet, seen);

  // The selected accounts in id order; a selected product's lines go to its
  // account's part, or to a last part for products of no selected account.
  std::vector<KVRStoreAccount*> accounts;
  for (KVRStoreAccount* a : selection.accounts)
    if (a && std::find(accounts.begin(), accounts.end(), a) == accounts.end()) accounts.push_back(a);
  std::stable_sort(accounts.begin(), accounts.end(), idLess);
  std::map<const KVRVortelyManagedProduct*, size_t> partOf;
  size_t partCount = accounts.size();
  for (KVRVortelyManagedProduct* p : products) {
    auto it = std::find(accounts.begin(), accounts.end(), p->account);
    partOf[p] = it == accounts.end() ? accounts.size() : size_t(it - accounts.begin());
    if (it == accounts.end()) partCount = accounts.size() + 1;
  }
  struct PartMonth {
    Vec preferred{}, local{}, units{};
    std::set<int> rows;  // regions where the part's products have lines
  };
  std::vector<std::map<double, PartMonth>> parts(partCount);

  std::map<double, Vec> preferredMap, localMap, unitsMap;
  float pAcc[19][13], lAcc[19][13];
  auto zero = [&] {
    for (int r = 0; r < 19; ++r)
      for (int m = 0; m < 13; ++m) pAcc[r][m] = lAcc[r][m] = 0;
  };
  zero();
  int currentYear = -1;
  auto closeYear = [&](int year) {
    KVRRegionRowTable t = table;
    for (int r = 0; r < 19; ++r) {
      t[size_t(r)].income = pAcc[r][0];
      t[size_t(r)].incomeLocal = lAcc[r][0];
    }
    st.financialsByYear[year] = t;
  };
  std::set<KVRReport*> putAside;

  // Step 3.
  for (KVRReport* report : reports) {
    if (report->filename.startsWith("Zuvo")) {
      putAside.insert(report);
      continue;
    }
    if (!report->beginDate.isValid()) continue;
    const KVRDate month = monthDateOf(report->beginDate);
    const int year = calendar().components(4, month).year;
    const int monthNumber = calendar().components(12, month).month;
    if (currentYear == -1) currentYear = year;
    if (year != currentYear) {
      closeYear(currentYear);
      currentYear = year;
      zero();
    }
    const int reportRegion = regionIndex(table, fileRegion(report->filename));
    Vec preferred = preferredMap[month.ms], local = localMap[month.ms], units = unitsMap[month.ms];
    for (KVRReportEntry* line : linesById(report)) {
      const float income = float(line->income);
      const int count = line->count;
      QString currency = line->currency;
      int r = reportRegion;
      if (r == -1) {
        QString code = KVRVortelyCurrencyConverter::currencyRegionForCurrencyValue(currency);
        if (code.isNull()) code = "WW";
        r = regionIndex(table, code);
      }
      if (r == -1) continue;
      if (currency == "USD RoW") currency = "USD";
      if (currency == "USD - RoW") currency = "USD";
      const float product = count * income;
      const float amount = float((double(product) + 0.0001) / 100.0);
      const float converted = converter.floatConvertAmountToPreferedCurrency(amount, currency);
      if (products.count(line->product)) {
        PartMonth& part = parts[partOf.at(line->product)][month.ms];
        part.units[size_t(r)] += count;
        part.preferred[0] += converted;
        part.preferred[size_t(r)] += converted;
        part.local[0] += amount;
        part.local[size_t(r)] += amount;
        part.rows.insert(r);
        units[size_t(r)] += count;
        preferred[0] += converted;
        preferred[size_t(r)] += converted;
        local[0] += amount;
        local[size_t(r)] += amount;
        pAcc[0][0] += converted;
        pAcc[r][0] += converted;
        pAcc[r][monthNumber] += converted;
        pAcc[0][monthNumber] += converted;
        lAcc[0][0] += amount;
        lAcc[r][0] += amount;
        lAcc[r][monthNumber] += amount;
        lAcc[0][monthNumber] += amount;
      }
    }
    preferredMap[month.ms] = preferred;
    localMap[month.ms] = local;
    unitsMap[month.ms] = units;
  }
  // Step 4.
  if (currentYear != -1) {
    closeYear(currentYear);
  } else {
    zero();
    closeYear(2010);
    closeYear(2011);
  }

  // Step 7: the payments, account by account, against the account's estimates.
  std::vector<PaymentsMap> perAccount;
  std::vector<std::pair<KVRReport*, KVRDate>> beginDates;
  for (KVRStoreAccount* account : accounts) {
    // The account's estimates: every line of every financial report of its products.
    std::set<KVRReport*> own;
    std::vector<KVRReport*> ownSeen;
    for (KVRVortelyManagedProduct* p : account->products)
      for (KVRReport* r : p->financialReports()) {
        own.insert(r);
        ownSeen.push_back(r);
      }
    std::map<double, Vec> estimate;
    for (KVRReport* report : sortedByBeginDate(own, ownSeen)) {
      // Put aside only where the selected products' reports are read (above).
      if (report->filename.startsWith("Zuvo")) continue;
      if (!report->beginDate.isValid()) continue;
      const KVRDate month = monthDateOf(report->beginDate);
      const int reportRegion = regionIndex(table, fileRegion(report->filename));
      Vec e = estimate[month.ms];
      for (KVRReportEntry* line : linesById(report)) {
        int r = reportRegion;
        if (r == -1) {
          QString code = KVRVortelyCurrencyConverter::currencyRegionForCurrencyValue(line->currency);
          if (code.isNull()) code = "WW";
          r = regionIndex(table, code);
        }
        if (r == -1) continue;
        const float product = line->count * float(line->income);
        const float amount = float((double(product) + 0.0001) / 100.0);
        e[0] += amount;
        e[size_t(r)] += amount;
      }
      estimate[month.ms] = e;
    }
    // Its payment reports with a dated Payment line and a region, by that line's date.
    std::vector<KVRReport*> kept;
    for (KVRReport* r : dm.paymentReports()) {
      if (r->account != account) continue;
      const KVRReportEntry* line = nullptr;
      for (const KVRReportEntry* e : linesById(r))
        if (e->type == 9) {
          line = e;
          break;
        }
      if (!line || !line->beginDate.isValid()) continue;
      if (r->beginDate != line->beginDate) beginDates.emplace_back(r, line->beginDate);
      if (line->country.isEmpty()) continue;
      kept.push_back(r);
    }
    auto paymentDate = [](KVRReport* r) {
      for (const KVRReportEntry* e : linesById(r))
        if (e->type == 9) return e->beginDate;
      return KVRDate();
    };
    std::stable_sort(kept.begin(), kept.end(), [&](KVRReport* a, KVRReport* b) {
      if (paymentDate(a).ms != paymentDate(b).ms) return paymentDate(a).ms < paymentDate(b).ms;
      return idLess(a, b);
    });
    perAccount.emplace_back();
    matchPayments(kept, estimate, table, now, perAccount.back());
  }

  // Steps 8 and 9.
  std::set<double> monthDates;
  for (const auto& [ms, v] : preferredMap) monthDates.insert(ms);
  if (selection.accountSelected)
    for (const PaymentsMap& pm : perAccount)
      for (const auto& [ms, byCode] : pm) monthDates.insert(ms);
  for (double ms : monthDates) {
    KVRFinancialMonth month;
    month.date = keyOf(KVRDate(ms));
    month.income.setIncome(preferredMap[ms]);
    month.incomeLocal.setIncome(localMap[ms]);
    month.units.setIncome(unitsMap[ms]);
    // Each account's part: its products' vectors and its own records.
    const bool adSlots = !selection.productsSelected && selection.accountSelected;
    month.parts.resize(partCount);
    for (size_t a = 0; a < partCount; ++a) {
      KVRAccountMonth& part = month.parts[a];
      if (parts[a].count(ms)) {
        const PartMonth& pm = parts[a].at(ms);
        part.income.setIncome(pm.preferred);
        part.incomeLocal.setIncome(pm.local);
        part.units.setIncome(pm.units);
        for (int r : pm.rows) part.estimateRows |= uint32_t(1) << r;
      }
      if (a < perAccount.size() && perAccount[a].count(ms))
        for (const auto& [code, d] : perAccount[a].at(ms)) part.payments.set(code, std::make_shared<KVRPaymentRecord>(toRecord(*d)));
      if (const KVRPaymentRecord* iad = part.payments.forCode(QStringLiteral("IAD")); iad && adSlots) {
        part.incomeLocal.income()[18] = iad->localIncome;
        part.income.income()[18] = iad->income;
      }
    }
    // What the month shows: the record of the one account with an estimate
    // or a payment there, else the summary of the accounts'.
    std::map<QString, std::vector<std::shared_ptr<Dict>>> byCode;
    for (PaymentsMap& pm : perAccount)
      if (pm.count(ms))
        for (const auto& [code, d] : pm[ms]) byCode[code].push_back(d);
    for (const auto& [code, ds] : byCode) {
      const int row = regionIndex(table, code);
      size_t there = 0;
      for (size_t a = 0; a < partCount; ++a) {
        const bool paid = a < perAccount.size() && perAccount[a].count(ms) && perAccount[a].at(ms).count(code);
        const bool estimated = row > 0 && parts[a].count(ms) && parts[a].at(ms).rows.count(row);
        if (paid || estimated) ++there;
      }
      month.payments.set(code, std::make_shared<KVRPaymentRecord>(there == 1 ? toRecord(*ds.front()) : summary(ds, there)));
    }
    if (const KVRPaymentRecord* iad = month.payments.forCode(QStringLiteral("IAD"))) {
      if (!selection.productsSelected && selection.accountSelected) {
        month.incomeLocal.income()[18] = iad->localIncome;
        month.income.income()[18] = iad->income;
      }
      if (st.financialsByYear.count(month.date.year)) {
        KVRRegionRowTable& t = st.financialsByYear[month.date.year];
        t[18].income += iad->income;
        t[18].incomeLocal += iad->localIncome;
        t[0].income += iad->income;
        t[0].incomeLocal += iad->localIncome;
      }
    }
    st.months.push_back(month);
  }

  // financialReportForMonth: the other products' reports whose file name ends
  // in the region and whose month is the month, then the Android reports of
  // the month, each set in its order.
  auto monthOf = [&](KVRReport* r) { return keyOf(monthDateOf(r->beginDate)); };
  auto findOther = [&](KVRMonthKey month, int row) -> KVRReport* {
    for (KVRReport* r : reports)
      if (otherSet.count(r) && !putAside.count(r) && r->beginDate.isValid() &&
          fileRegion(r->filename) == table[size_t(row)].shortDesc && monthOf(r) == month)
        return r;
    return nullptr;
  };
  auto findAndroid = [&](KVRMonthKey month) -> KVRReport* {
    for (KVRReport* r : reports)
      if (androidSet.count(r) && !putAside.count(r) && r->beginDate.isValid() && monthOf(r) == month) return r;
    return nullptr;
  };
  std::set<KVRMonthKey> reportMonths;
  for (KVRReport* r : reports)
    if (r->beginDate.isValid() && !putAside.count(r)) reportMonths.insert(monthOf(r));
  if (!reportMonths.empty()) {
    KVRFinancialReportIndex& index = st.reportIndex;
    index.firstSerial = reportMonths.begin()->serial();
    index.monthCount = reportMonths.rbegin()->serial() - index.firstSerial + 1;
    index.byMonthAndRow.assign(size_t(index.monthCount) * 19, nullptr);
    index.androidByMonth.assign(size_t(index.monthCount), nullptr);
    for (KVRMonthKey m : reportMonths) {
      const size_t offset = size_t(m.serial() - index.firstSerial);
      for (int row = 1; row < 19; ++row) index.byMonthAndRow[offset * 19 + size_t(row)] = findOther(m, row);
      index.androidByMonth[offset] = findAndroid(m);
    }
  }

  // The figures of every region and month: each part rounded after its own
  // ratios, then added up; row 0 the regions that count.
  for (KVRFinancialMonth& month : st.months) {
    KVRRegionFigure total;
    for (int r = 1; r < 19; ++r) {
      const QString code = table[size_t(r)].shortDesc;
      KVRRegionFigure f;
      f.counts = st.financialReportForMonth(month.date, code) != nullptr || month.payments.forCode(code) != nullptr;
      f.units = month.units[r];
      std::vector<std::tuple<const KVRFinancialsByRegion*, const KVRFinancialsByRegion*, const KVRMonthPayments*>> each;
      if (month.parts.empty()) each.emplace_back(&month.income, &month.incomeLocal, &month.payments);
      for (const KVRAccountMonth& part : month.parts) each.emplace_back(&part.income, &part.incomeLocal, &part.payments);
      for (const auto& [P, L, pay] : each) {
        const KVRPaymentRecord* d = pay->forCode(code);
        const float p = d && d->paymentRatio ? *d->paymentRatio : 1.0f;
        const float j = d && d->jpRatio ? *d->jpRatio : 1.0f;
        f.preferred = f.preferred + hundredths(p * (*P)[r] * j);
        f.local = f.local + hundredths(j * (*L)[r]);
        f.localValue = f.localValue + j * (*L)[r];
        f.reportLocal = f.reportLocal + hundredths((*L)[r]);
      }
      for (const KVRAccountMonth& part : month.parts)
        if (part.payments.forCode(code) || (part.estimateRows & (uint32_t(1) << r))) ++f.accounts;
      if (month.parts.empty() && f.counts) f.accounts = 1;
      if (f.counts) {
        total.preferred = total.preferred + f.preferred;
        total.units = total.units + f.units;
      }
      month.figures[size_t(r)] = f;
    }
    total.counts = true;
    month.figures[0] = total;
  }
  st.accountsOnly = selection.accountSelected && !selection.productsSelected;

  st.storeChanges.reportsToDelete.assign(putAside.begin(), putAside.end());
  st.storeChanges.paymentBeginDates = beginDates;
  return st;
}

// ---------------------------------------------------------------- comparison

namespace {

bool same(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }
bool same(KVRDate a, KVRDate b) { return a == b; }
std::string text(KVRMonthKey m) { return std::to_string(m.year) + "-" + std::to_string(m.month); }

std::string recordDifference(const KVRPaymentRecord& a, const KVRPaymentRecord& b) {
  std::ostringstream o;
  auto f = [&](const char* name, float x, float y) {
    if (!same(x, y)) o << name << " " << x << " vs " << y << "; ";
  };
  auto s = [&](const char* name, const QString& x, const QString& y) {
    if (x != y) o << name << " \"" << x.toStdString() << "\" vs \"" << y.toStdString() << "\"; ";
  };
  if (a.paymentReport != b.paymentReport) o << "PaymentReport; ";
  if (a.paymentMonth != b.paymentMonth) o << "PaymentMonth; ";
  f("LocalIncome", a.localIncome, b.localIncome);
  s("LocalCurrency", a.localCurrency, b.localCurrency);
  s("LocalIncomeStr", a.localIncomeStr, b.localIncomeStr);
  f("Income", a.income, b.income);
  s("IncomeStr", a.incomeStr, b.incomeStr);
  if (a.jpRatio.has_value() != b.jpRatio.has_value() || (a.jpRatio && !same(*a.jpRatio, *b.jpRatio))) o << "JPRatio; ";
  if (a.paymentRatio.has_value() != b.paymentRatio.has_value() ||
      (a.paymentRatio && !same(*a.paymentRatio, *b.paymentRatio)))
    o << "PaymentRatio; ";
  f("PointedIncome", a.pointedIncome, b.pointedIncome);
  s("PointedIncomeStr", a.pointedIncomeStr, b.pointedIncomeStr);
  s("PointedAccount", a.pointedAccount, b.pointedAccount);
  if (!same(a.pointedDate, b.pointedDate)) o << "PointedDate; ";
  if (a.priorMonths != b.priorMonths) o << "PriorMonths; ";
  if (a.payingReports != b.payingReports) o << "payingReports; ";
  return o.str();
}

std::string paymentsDifference(const KVRMonthPayments& x, const KVRMonthPayments& y) {
  const auto pa = x.all(), pb = y.all();
  if (pa.size() != pb.size()) return ": payment count";
  for (size_t k = 0; k < pa.size(); ++k) {
    if (pa[k].first != pb[k].first) return ": payment codes";
    const std::string d = recordDifference(*pa[k].second, *pb[k].second);
    if (!d.empty()) return " " + pa[k].first.toStdString() + ": " + d;
  }
  return std::string();
}

}  // namespace

std::string difference(const KVRFinancialStatement& a, const KVRFinancialStatement& b) {
  std::ostringstream o;
  if (a.accountsOnly != b.accountsOnly) return "accounts only";
  if (a.financialsByYear.size() != b.financialsByYear.size()) return "year count";
  for (const auto& [year, ta] : a.financialsByYear) {
    auto it = b.financialsByYear.find(year);
    if (it == b.financialsByYear.end()) return "year " + std::to_string(year) + " missing";
    for (int r = 0; r < 19; ++r) {
      const KVRRegionRow &x = ta[size_t(r)], &y = it->second[size_t(r)];
      if (x.label != y.label || x.shortDesc != y.shortDesc || !same(x.income, y.income) ||
          !same(x.incomeLocal, y.incomeLocal))
        return "year " + std::to_string(year) + " row " + std::to_string(r) + ": " + std::to_string(x.income) +
               " vs " + std::to_string(y.income) + ", " + std::to_string(x.incomeLocal) + " vs " +
               std::to_string(y.incomeLocal);
    }
  }
  if (a.months.size() != b.months.size())
    return "month count " + std::to_string(a.months.size()) + " vs " + std::to_string(b.months.size());
  for (size_t i = 0; i < a.months.size(); ++i) {
    const KVRFinancialMonth &x = a.months[i], &y = b.months[i];
    if (x.date != y.date) return "month " + std::to_string(i) + ": " + text(x.date) + " vs " + text(y.date);
    for (int r = 0; r < 19; ++r) {
      if (!same(x.income[r], y.income[r]) || !same(x.incomeLocal[r], y.incomeLocal[r]) ||
          !same(x.units[r], y.units[r]))
        return "month " + text(x.date) + " row " + std::to_string(r) + ": " + std::to_string(x.income[r]) + " vs " +
               std::to_string(y.income[r]);
    }
    const std::string pd = paymentsDifference(x.payments, y.payments);
    if (!pd.empty()) return "month " + text(x.date) + pd;
    if (x.parts.size() != y.parts.size()) return "month " + text(x.date) + ": part count";
    for (size_t k = 0; k < x.parts.size(); ++k) {
      const KVRAccountMonth &u = x.parts[k], &w = y.parts[k];
      for (int r = 0; r < 19; ++r)
        if (!same(u.income[r], w.income[r]) || !same(u.incomeLocal[r], w.incomeLocal[r]) || !same(u.units[r], w.units[r]))
          return "month " + text(x.date) + " part " + std::to_string(k) + " row " + std::to_string(r);
      if (u.estimateRows != w.estimateRows) return "month " + text(x.date) + " part " + std::to_string(k) + ": rows";
      const std::string d = paymentsDifference(u.payments, w.payments);
      if (!d.empty()) return "month " + text(x.date) + " part " + std::to_string(k) + d;
    }
    for (int r = 0; r < 19; ++r) {
      const KVRRegionFigure &f = x.figures[size_t(r)], &g = y.figures[size_t(r)];
      if (f.counts != g.counts || f.accounts != g.accounts || !same(f.preferred, g.preferred) || !same(f.local, g.local) ||
          !same(f.localValue, g.localValue) || !same(f.reportLocal, g.reportLocal) || !same(f.units, g.units))
        return "month " + text(x.date) + " row " + std::to_string(r) + " figure: " + std::to_string(f.preferred) +
               " vs " + std::to_string(g.preferred) + ", " + std::to_string(f.local) + " vs " + std::to_string(g.local);
    }
    for (int r = 1; r < 19; ++r) {
      const QString code = KVRFinancialRegionCode(r);
      if (a.financialReportForMonth(x.date, code) != b.financialReportForMonth(y.date, code))
        return "month " + text(x.date) + " " + code.toStdString() + ": financial report";
    }
  }
  auto sorted = [](std::vector<KVRReport*> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  if (sorted(a.storeChanges.reportsToDelete) != sorted(b.storeChanges.reportsToDelete)) return "reports to delete";
  auto dates = [](std::vector<std::pair<KVRReport*, KVRDate>> v) {
    std::sort(v.begin(), v.end(), [](const auto& p, const auto& q) { return p.first < q.first; });
    std::vector<std::pair<KVRReport*, double>> out;
    for (const auto& [r, d] : v) out.emplace_back(r, d.ms);
    return out;
  };
  if (dates(a.storeChanges.paymentBeginDates) != dates(b.storeChanges.paymentBeginDates)) return "payment dates";
  return std::string();
}

}  // namespace reference
