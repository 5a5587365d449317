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

QString format(float amount, const QString& symbol) {
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
  int64_t P = 0, E100 = 0;  // for summing accounts
};

// month date (ms) -> region code -> record
using PaymentsMap = std::map<double, std::map<QString, std::shared_ptr<Dict>>>;

// Payment matching of one account's payment reports against its estimates.
void matchPayments(const std::vector<KVRReport*>& kept, const std::map<double, Vec>& estimate,
                   const KVRRegionRowTable& table, KVRDate now, PaymentsMap& payments) {
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
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
    int64_t jpE100 = 0;
    if (regionCode == "JP" && hasEntry) {
      const float E = estimate.at(paymentMonth.ms)[size_t(slot)];
      const int64_t E100 = integerPart(E * 100 + 0.5f);
      jpE100 = E100;
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
    d->P = line->income;
    d->E100 = jpE100;
    payments[paymentMonth.ms][regionCode] = d;

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
      if (!(R > 0 && R > cur + 1)) break;
      if (payments.count(m.ms) && payments[m.ms].count(regionCode) && payments[m.ms][regionCode]->PaymentReport) break;
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

// Several accounts' records of one month and region, summed.
KVRPaymentRecord sumOfAccounts(const QString& code, const std::vector<std::shared_ptr<Dict>>& ds) {
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  KVRPaymentRecord r;
  bool anyPayment = false, allPointed = true;
  float pointedSum = 0;
  int64_t P = 0, E = 0;
  std::set<KVRMonthKey> prior;
  std::set<QString> currencies, accounts;
  for (const auto& d : ds) {
    r.localIncome = r.localIncome + d->LocalIncome;
    r.income = r.income + d->Income;
    if (d->hasPaymentMonth && (!r.paymentMonth || keyOf(d->PaymentMonth) > *r.paymentMonth))
      r.paymentMonth = keyOf(d->PaymentMonth);
    for (KVRReport* x : d->paying) r.payingReports.push_back(x);
    if (d->hasPaymentRatio) pointedSum = pointedSum + d->PointedIncome;
    else allPointed = false;
    if (d->PaymentReport) {
      anyPayment = true;
      P += d->P;
      E += d->E100;
      for (KVRDate m : d->PriorMonths) prior.insert(keyOf(m));
      currencies.insert(d->LocalCurrency);
      accounts.insert(d->PointedAccount);
      if (d->hasPaymentRatio && (!r.pointedDate.isValid() || d->PointedDate.ms > r.pointedDate.ms))
        r.pointedDate = d->PointedDate;
    }
  }
  if (anyPayment) {
    r.localCurrency = currencies.size() == 1 ? *currencies.begin() : QString();
    r.localIncomeStr = format(r.localIncome, currencySymbol(r.localCurrency));
    r.incomeStr = format(r.income, converter.preferedCurrencySymbol());
    r.jpRatio = (code == "JP" && float(E) > float(P) && E != 0) ? float(P) / float(E) : 1.0f;
    r.priorMonths.assign(prior.rbegin(), prior.rend());
  }
  if (allPointed) {
    r.paymentRatio = r.income > 0 ? pointedSum / r.income : 1.0f;
    r.pointedIncome = pointedSum;
  }
  if (allPointed && anyPayment) {
    r.pointedIncomeStr = format(pointedSum, converter.preferedCurrencySymbol());
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
  std::vector<KVRStoreAccount*> accounts;
  for (KVRStoreAccount* a : selection.accounts)
    if (a && std::find(accounts.begin(), accounts.end(), a) == accounts.end()) accounts.push_back(a);
  std::stable_sort(accounts.begin(), accounts.end(), idLess);
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
      if (report->filename.startsWith("Zuvo")) {
        putAside.insert(report);
        continue;
      }
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
    std::map<QString, std::vector<std::shared_ptr<Dict>>> byCode;
    for (PaymentsMap& pm : perAccount)
      if (pm.count(ms))
        for (const auto& [code, d] : pm[ms]) byCode[code].push_back(d);
    for (const auto& [code, ds] : byCode)
      month.payments.set(code, std::make_shared<KVRPaymentRecord>(ds.size() == 1 ? toRecord(*ds.front())
                                                                                 : sumOfAccounts(code, ds)));
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

}  // namespace

std::string difference(const KVRFinancialStatement& a, const KVRFinancialStatement& b) {
  std::ostringstream o;
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
    const auto pa = x.payments.all(), pb = y.payments.all();
    if (pa.size() != pb.size()) return "month " + text(x.date) + ": payment count";
    for (size_t k = 0; k < pa.size(); ++k) {
      if (pa[k].first != pb[k].first) return "month " + text(x.date) + ": payment codes";
      const std::string d = recordDifference(*pa[k].second, *pb[k].second);
      if (!d.empty()) return "month " + text(x.date) + " " + pa[k].first.toStdString() + ": " + d;
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
