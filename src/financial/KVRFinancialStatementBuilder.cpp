#include "financial/KVRFinancialStatementBuilder.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialTexts.h"
#include "platform/KVRVortelyLogCenter.h"

QStringView KVRRegionPartOfFileName(QStringView filename) {
  QStringView name = filename;
  const qsizetype slash = name.lastIndexOf(u'/');
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot > slash + 1) name = name.left(dot);
  const qsizetype underscore = name.lastIndexOf(u'_');
  return underscore >= 0 ? name.mid(underscore + 1) : name;
}

namespace {

using Values = KVRFinancialsByRegion::Values;
constexpr int kRows = KVRFinancialRegionCount;

void log(const QString& message) {
  KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, QStringLiteral("Reports Controller"));
}

// The integer part of a single-precision value, in 64 bits (saturated, 0 for
// NaN), so that large amounts in yen keep their value.
int64_t integerPart(float x) {
  if (std::isnan(x)) return 0;
  if (x >= 9.2e18f) return std::numeric_limits<int64_t>::max();
  if (x <= -9.2e18f) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(x);
}

int64_t saturatedSub(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return r;
}

// A line's amount in its report's currency: count x income in single
// precision, then + 0.0001 and / 100 in double, back to single.
inline float lineAmount(int count, float income) {
  const float product = float(count) * income;
  return float((double(product) + 0.0001) / 100.0);
}

// The region of a report: the region code its file name ends in; -1 when that
// is not a region row's code.
int regionOfFileName(const QString& filename) { return KVRMoneyRegionForCode(KVRRegionPartOfFileName(filename)); }

// Order by id; objects not yet saved (id 0) come after the saved ones.
struct ByIdThenPosition {
  static int64_t key(const KVRManagedObject* o) {
    return o->objectID > 0 ? o->objectID : std::numeric_limits<int64_t>::max();
  }
  bool operator()(const KVRManagedObject* a, const KVRManagedObject* b) const { return key(a) < key(b); }
};
constexpr ByIdThenPosition byIdThenPosition;

}  // namespace

const KVRReportEntry* KVRFirstLineOfType(const KVRReport* r, int type) {
  const KVRReportEntry* best = nullptr;
  for (const KVRReportEntry* e : r->entries)
    if (e && e->type == type && (!best || byIdThenPosition(e, best))) best = e;
  return best;
}

namespace {

// A value per context object: by object id when it has one (dense), else by
// address.
template <typename V>
class ObjectTable {
 public:
  // The object's value; *created tells whether it was just made.
  V& get(const KVRManagedObject* o, bool* created = nullptr) {
    int32_t* slot = slotOf(o, true);
    if (created) *created = *slot == 0;
    if (*slot == 0) {
      values_.emplace_back();
      *slot = int32_t(values_.size());
    }
    return values_[size_t(*slot - 1)];
  }
  const V* find(const KVRManagedObject* o) {
    int32_t* slot = slotOf(o, false);
    return slot && *slot ? &values_[size_t(*slot - 1)] : nullptr;
  }

 private:
  int32_t* slotOf(const KVRManagedObject* o, bool make) {
    const int64_t id = o->objectID;
    if (id > 0 && id < kDenseLimit) {
      if (size_t(id) >= dense_.size()) {
        if (!make) return nullptr;
        dense_.resize(std::max<size_t>(size_t(id) + 1, dense_.size() * 2), 0);
      }
      return &dense_[size_t(id)];
    }
    if (!make) {
      auto it = sparse_.find(o);
      return it == sparse_.end() ? nullptr : &it->second;
    }
    return &sparse_[o];
  }

  static constexpr int64_t kDenseLimit = int64_t(1) << 24;
  std::vector<int32_t> dense_;
  std::unordered_map<const void*, int32_t> sparse_;
  std::deque<V> values_;
};

// Per currency code of the lines: its region, its code for conversion and
// the conversion into the preferred currency, looked up once per build.
class CurrencyTable {
 public:
  struct Entry {
    QString code;
    int region = -1;   // row of the currency's region, "WW" when it has none
    QString mapped;    // "USD RoW" and "USD - RoW" as "USD"
    double rate = 0;   // 0: left unconverted
    bool direct = false;  // converted by the converter itself, line by line
  };

  explicit CurrencyTable(KVRVortelyCurrencyConverter& converter)
      : converter_(converter), preferred_(converter.preferedCurrency()) {}

  // Lines share the text of their currency (one per distinct code and load),
  // so the text's address finds its entry; the text itself only for a new one.
  const Entry& of(const QString& code) {
    const void* key = code.constData();
    if (key == lastKey_) return *last_;
    size_t h = (reinterpret_cast<uintptr_t>(key) >> 3) & (kSlots - 1);
    for (size_t probes = 0; probes < kSlots; ++probes, h = (h + 1) & (kSlots - 1)) {
      if (slots_[h].key == key) {
        lastKey_ = key;
        return *(last_ = slots_[h].entry);
      }
      if (!slots_[h].key) {
        Entry& e = byText(code);
        if (used_ < kSlots / 2) {
          slots_[h] = {key, &e};
          ++used_;
        }
        lastKey_ = key;
        return *(last_ = &e);
      }
    }
    return byText(code);
  }

  float toPreferred(const Entry& e, float amount) {
    return e.direct ? converter_.floatConvertAmountToPreferedCurrency(amount, e.mapped) : convertWith(e, amount);
  }

 private:
  Entry& byText(const QString& code) {
    for (Entry& e : entries_)
      if (e.code == code) return e;
    Entry e;
    e.code = code;
    const QString region = KVRVortelyCurrencyConverter::currencyRegionForCurrencyValue(code);
    e.region = KVRMoneyRegionForCode(region.isNull() ? QStringLiteral("WW") : region);
    e.mapped = code;
    if (e.mapped == QLatin1String("USD RoW")) e.mapped = QStringLiteral("USD");
    if (e.mapped == QLatin1String("USD - RoW")) e.mapped = QStringLiteral("USD");
    e.rate = converter_.rateFrom(e.mapped, preferred_);
    // The rate is used here only where it gives the converter's own results.
    for (float probe : {0.0f, 1.0f, -0.99f, 2.1000011f, 1234.5677f, -98765.43f, 3.4e7f}) {
      const float expected = converter_.floatConvertAmountToPreferedCurrency(probe, e.mapped);
      if (std::bit_cast<uint32_t>(expected) != std::bit_cast<uint32_t>(convertWith(e, probe))) e.direct = true;
    }
    entries_.push_back(std::move(e));
    return entries_.back();
  }

  static float convertWith(const Entry& e, float amount) {
    return e.rate == 0.0 ? amount : float(double(amount) * e.rate);
  }

  static constexpr size_t kSlots = 256;
  struct Slot {
    const void* key = nullptr;
    Entry* entry = nullptr;
  };

  KVRVortelyCurrencyConverter& converter_;
  QString preferred_;
  std::deque<Entry> entries_;
  std::array<Slot, kSlots> slots_{};
  size_t used_ = 0;
  const void* lastKey_ = nullptr;
  Entry* last_ = nullptr;
};

// "%@ %@": the amount by the shared amount formatter, a blank, a symbol.
QString amountText(float amount, const QString& symbol) {
  return KVRFinancialAmountNumber(double(amount)) + u' ' + symbol;
}

// The symbol of a payment currency; its code when the table has no symbol
// for it; the dollar of region "US" when there is no code at all.
QString symbolOfCurrency(const QString& code) {
  const QString symbol = KVRVortelyCurrencyConverter::currencySymbolForCurrencyValue(code);
  if (!symbol.isEmpty()) return symbol;
  if (!code.isEmpty()) return code;
  return KVRVortelyCurrencyConverter::currencySymbolForCurrencyRegion(QStringLiteral("US"));
}

QString paymentCurrency(const QString& code) {
  if (code == QLatin1String("USD RoW") || code == QLatin1String("USD - RoW") || code == QLatin1String("IAD"))
    return QStringLiteral("USD");
  return code;
}

struct ProductInfo {
  bool selected = false;
  int account = -1;  // index among the selected accounts
};

enum ReportFlag : uint8_t { Selected = 1, FromAndroid = 2, FromOther = 4 };

struct ReportInfo {
  uint8_t flags = 0;
  std::vector<int> accounts;  // indexes of the selected accounts whose products list it
};

struct MonthVectors {
  Values preferred{}, local{}, units{};
};

// A payment record of one account, with what merging needs.
struct AccountRecord {
  KVRPaymentRecord record;
  int64_t paid = 0;        // Payment line income, hundredths (payment form)
  int64_t jpEstimate = 0;  // E100 of the month's "JP" estimate (payment form in JP)
};
using AccountRecordRef = std::shared_ptr<AccountRecord>;
// month serial -> region code -> record
using AccountPayments = std::map<int, std::map<QString, AccountRecordRef>>;

struct PaymentInput {
  KVRReport* report = nullptr;
  const KVRReportEntry* line = nullptr;            // the Payment line
  const KVRReportEntry* reconciliation = nullptr;  // the reconciliation line, if any
  KVRMonthKey month;
  int account = -1;
};

// Records of several accounts for one month and region, summed: amounts
// added; reconciled when every one is, with the ratio of the sums; the
// Japanese ratio from the summed payments and estimates; the months covered
// by any; no single payment report.
KVRPaymentRecord mergeRecords(const QString& code, const std::vector<AccountRecordRef>& parts,
                              const QString& preferredSymbol) {
  KVRPaymentRecord m;
  bool paymentForm = false, reconciled = true, oneCurrency = true, oneAccount = true;
  QString currency, account;
  int64_t paid = 0, estimate = 0;
  float pointed = 0;
  std::vector<KVRMonthKey> prior;
  for (const AccountRecordRef& part : parts) {
    const KVRPaymentRecord& r = part->record;
    m.localIncome += r.localIncome;
    m.income += r.income;
    if (r.paymentMonth && (!m.paymentMonth || *m.paymentMonth < *r.paymentMonth)) m.paymentMonth = r.paymentMonth;
    m.payingReports.insert(m.payingReports.end(), r.payingReports.begin(), r.payingReports.end());
    if (r.isReconciled()) pointed += r.pointedIncome;
    else reconciled = false;
    if (!r.isPaymentForm()) continue;
    if (!paymentForm) {
      currency = r.localCurrency;
      account = r.pointedAccount;
    }
    oneCurrency = oneCurrency && r.localCurrency == currency;
    oneAccount = oneAccount && r.pointedAccount == account;
    paymentForm = true;
    paid += part->paid;
    estimate += part->jpEstimate;
    prior.insert(prior.end(), r.priorMonths.begin(), r.priorMonths.end());
    if (r.isReconciled() && (!m.pointedDate.isValid() || r.pointedDate.isLaterThan(m.pointedDate)))
      m.pointedDate = r.pointedDate;
  }
  if (paymentForm) {
    m.localCurrency = oneCurrency ? currency : QString();
    m.localIncomeStr = amountText(m.localIncome, symbolOfCurrency(m.localCurrency));
    m.incomeStr = amountText(m.income, preferredSymbol);
    float jp = 1.0f;
    if (code == QLatin1String("JP") && float(estimate) > float(paid) && estimate != 0) jp = float(paid) / float(estimate);
    m.jpRatio = jp;
    std::sort(prior.begin(), prior.end(), [](KVRMonthKey a, KVRMonthKey b) { return b < a; });
    prior.erase(std::unique(prior.begin(), prior.end()), prior.end());
    m.priorMonths = std::move(prior);
  }
  if (reconciled) {
    m.paymentRatio = m.income > 0 ? pointed / m.income : 1.0f;
    m.pointedIncome = pointed;
  }
  if (reconciled && paymentForm) {
    m.pointedIncomeStr = amountText(pointed, preferredSymbol);
    m.pointedAccount = oneAccount ? account : QStringLiteral("--");
  } else {
    m.pointedDate = KVRDate();
  }
  return m;
}

}  // namespace

KVRFinancialSelection KVRFinancialSelection::fromServices(KVRApplicationServices& services) {
  KVRFinancialSelection s;
  s.products = services.extendedSelectedProducts();
  s.accounts = services.selectedAccounts();
  s.productsSelected = !services.selectedProducts().empty();
  s.accountSelected = services.isAccountSelected();
  return s;
}

KVRFinancialStatementBuilder::KVRFinancialStatementBuilder()
    : dm_(KVRVortelyCoreDataManager::sharedInstance()) {}
KVRFinancialStatementBuilder::KVRFinancialStatementBuilder(KVRVortelyCoreDataManager& dataManager)
    : dm_(dataManager) {}

KVRFinancialStatement KVRFinancialStatementBuilder::build(const KVRFinancialSelection& selection, KVRDate now) const {
  if (!now.isValid()) now = KVRDate(double(QDateTime::currentMSecsSinceEpoch()));
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  KVRFinancialStatement st;

  // The selected accounts, each once, in id order.
  std::vector<KVRStoreAccount*> accounts;
  for (KVRStoreAccount* a : selection.accounts)
    if (a && std::find(accounts.begin(), accounts.end(), a) == accounts.end()) accounts.push_back(a);
  std::stable_sort(accounts.begin(), accounts.end(), byIdThenPosition);
  auto accountIndex = [&](const KVRStoreAccount* a) {
    auto it = std::find(accounts.begin(), accounts.end(), a);
    return it == accounts.end() ? -1 : int(it - accounts.begin());
  };

  // ---- The products read: the selected ones, and every product of a
  // selected account (for the account's estimates).
  ObjectTable<ProductInfo> products;
  std::vector<KVRVortelyManagedProduct*> productOrder;
  auto addProduct = [&](KVRVortelyManagedProduct* p, bool selected) {
    if (!p) return;
    bool created = false;
    ProductInfo& info = products.get(p, &created);
    if (created) {
      info.account = p->account ? accountIndex(p->account) : -1;
      productOrder.push_back(p);
    }
    info.selected = info.selected || selected;
  };
  for (KVRVortelyManagedProduct* p : selection.products) addProduct(p, true);
  for (KVRStoreAccount* a : accounts)
    for (KVRVortelyManagedProduct* p : a->products) addProduct(p, false);

  // ---- Their financial reports, each once.
  ObjectTable<ReportInfo> reports;
  std::vector<KVRReport*> reportOrder;
  for (KVRVortelyManagedProduct* p : productOrder) {
    const ProductInfo info = *products.find(p);
    const uint8_t flags = info.selected ? uint8_t(Selected | (p->isAndroid() ? FromAndroid : FromOther)) : 0;
    for (KVRReport* r : p->financialReports()) {
      bool created = false;
      ReportInfo& ri = reports.get(r, &created);
      if (created) reportOrder.push_back(r);
      ri.flags |= flags;
      if (info.account >= 0 && std::find(ri.accounts.begin(), ri.accounts.end(), info.account) == ri.accounts.end())
        ri.accounts.push_back(info.account);
    }
  }
  std::stable_sort(reportOrder.begin(), reportOrder.end(), [](const KVRReport* a, const KVRReport* b) {
    if (a->beginDate.isValid() != b->beginDate.isValid()) return a->beginDate.isValid();
    if (a->beginDate.isValid() && a->beginDate.ms != b->beginDate.ms) return a->beginDate.ms < b->beginDate.ms;
    return byIdThenPosition(a, b);
  });

  // ---- One pass over the reports and their lines.
  CurrencyTable currencies(converter);
  std::map<int, MonthVectors> monthVectors;          // month serial -> vectors (selected reports)
  std::vector<std::map<int, Values>> estimates(accounts.size());  // per account: month serial -> estimate
  float preferredYear[kRows][13] = {}, localYear[kRows][13] = {};
  std::optional<int> currentYear;
  const KVRRegionRowTable rowTemplate = KVRMakeRegionRowTable();
  auto closeYear = [&](int year) {
    KVRRegionRowTable t = rowTemplate;
    for (int r = 0; r < kRows; ++r) {
      t[size_t(r)].income = preferredYear[r][0];
      t[size_t(r)].incomeLocal = localYear[r][0];
    }
    st.financialsByYear[year] = std::move(t);
  };
  // The month of a report date (KVRMonthKey::ofReportDate), worked out once a date.
  std::unordered_map<double, std::optional<KVRMonthKey>> monthOfBeginDate;
  auto monthOfDate = [&monthOfBeginDate](KVRDate date) {
    auto cached = monthOfBeginDate.find(date.ms);
    if (cached == monthOfBeginDate.end())
      cached = monthOfBeginDate.emplace(date.ms, KVRMonthKey::ofReportDate(date)).first;
    return cached->second;
  };
  struct IndexEntry {
    int serial, row;
    KVRReport* report;
    bool android;
  };
  std::vector<IndexEntry> indexEntries;
  std::vector<KVRReportEntry*> sortedLines;
  const KVRVortelyManagedProduct* lastProduct = nullptr;
  bool lastSelected = false;

  for (KVRReport* r : reportOrder) {
    const ReportInfo& info = *reports.find(r);
    const bool selected = info.flags & Selected;
    if (r->filename.startsWith(QLatin1String("Zuvo"))) {
      st.storeChanges.reportsToDelete.push_back(r);
      continue;
    }
    if (!r->beginDate.isValid()) {
      log(QStringLiteral("Financial report \"%1\" has no date: left out").arg(r->filename));
      continue;
    }
    const std::optional<KVRMonthKey> reportMonth = monthOfDate(r->beginDate);
    if (!reportMonth) continue;
    const KVRMonthKey month = *reportMonth;
    const int serial = month.serial();

    MonthVectors* mv = nullptr;
    if (selected) {
      if (!currentYear) {
        currentYear = month.year;
      } else if (month.year != *currentYear) {
        closeYear(*currentYear);
        currentYear = month.year;
        std::fill(&preferredYear[0][0], &preferredYear[0][0] + kRows * 13, 0.0f);
        std::fill(&localYear[0][0], &localYear[0][0] + kRows * 13, 0.0f);
      }
      mv = &monthVectors[serial];
    }
    const int reportRegion = regionOfFileName(r->filename);
    if (selected) {
      if (info.flags & FromOther) indexEntries.push_back({serial, reportRegion, r, false});
      if (info.flags & FromAndroid) indexEntries.push_back({serial, -1, r, true});
    }
    Values* est[4] = {};
    std::vector<Values*> moreEst;
    int estCount = 0;
    for (int a : info.accounts) {
      Values* v = &estimates[size_t(a)][serial];
      if (estCount < 4) est[estCount++] = v;
      else moreEst.push_back(v);
    }

    // Lines in id order.
    const std::vector<KVRReportEntry*>* lines = &r->entries;
    if (!std::is_sorted(lines->begin(), lines->end(), byIdThenPosition)) {
      sortedLines = *lines;
      std::stable_sort(sortedLines.begin(), sortedLines.end(), byIdThenPosition);
      lines = &sortedLines;
    }
    const int m = month.month;
    for (const KVRReportEntry* e : *lines) {
      if (!e) continue;
      const CurrencyTable::Entry& currency = currencies.of(e->currency);
      const int region = reportRegion >= 0 ? reportRegion : currency.region;
      if (region < 0) continue;
      const float amount = lineAmount(e->count, float(e->income));
      for (int k = 0; k < estCount; ++k) {
        (*est[k])[0] += amount;
        (*est[k])[size_t(region)] += amount;
      }
      for (Values* v : moreEst) {
        (*v)[0] += amount;
        (*v)[size_t(region)] += amount;
      }
      if (!mv) continue;
      if (e->product != lastProduct) {
        lastProduct = e->product;
        const ProductInfo* pi = e->product ? products.find(e->product) : nullptr;
        lastSelected = pi && pi->selected;
      }
      if (!lastSelected) continue;
      const float converted = currencies.toPreferred(currency, amount);
      mv->units[size_t(region)] += float(e->count);
      mv->preferred[0] += converted;
      mv->preferred[size_t(region)] += converted;
      mv->local[0] += amount;
      mv->local[size_t(region)] += amount;
      preferredYear[0][0] += converted;
      preferredYear[region][0] += converted;
      preferredYear[region][m] += converted;
      preferredYear[0][m] += converted;
      localYear[0][0] += amount;
      localYear[region][0] += amount;
      localYear[region][m] += amount;
      localYear[0][m] += amount;
    }
  }
  if (currentYear) {
    closeYear(*currentYear);
  } else {
    closeYear(2010);
    closeYear(2011);
  }

  // ---- The index (month, region) -> report: the earliest report wins.
  if (!indexEntries.empty()) {
    KVRFinancialReportIndex& index = st.reportIndex;
    int first = indexEntries.front().serial, last = first;
    for (const IndexEntry& e : indexEntries) {
      first = std::min(first, e.serial);
      last = std::max(last, e.serial);
    }
    index.firstSerial = first;
    index.monthCount = last - first + 1;
    index.byMonthAndRow.assign(size_t(index.monthCount) * kRows, nullptr);
    index.androidByMonth.assign(size_t(index.monthCount), nullptr);
    for (const IndexEntry& e : indexEntries) {
      const size_t offset = size_t(e.serial - first);
      if (!e.android && e.row < 0) continue;
      KVRReport*& slot = e.android ? index.androidByMonth[offset] : index.byMonthAndRow[offset * kRows + size_t(e.row)];
      if (!slot) slot = e.report;
    }
  }

  // ---- Payments of the selected accounts.
  std::vector<PaymentInput> inputs;
  for (KVRReport* r : dm_.paymentReports()) {
    const int account = r->account ? accountIndex(r->account) : -1;
    if (account < 0) continue;
    const KVRReportEntry* line = KVRFirstLineOfType(r, KVREntryTypePayment);
    if (!line) continue;
    if (!line->beginDate.isValid()) {
      log(QStringLiteral("Payment report \"%1\": its Payment line has no date, left out").arg(r->filename));
      continue;
    }
    if (line->beginDate != r->beginDate) st.storeChanges.paymentBeginDates.emplace_back(r, line->beginDate);
    if (line->country.isEmpty()) {
      log(QStringLiteral("Payment report \"%1\": its Payment line has no region, left out").arg(r->filename));
      continue;
    }
    const std::optional<KVRMonthKey> month = monthOfDate(line->beginDate);
    if (!month) continue;
    inputs.push_back({r, line, KVRFirstLineOfType(r, KVREntryTypeReconciliation), *month, account});
  }
  std::stable_sort(inputs.begin(), inputs.end(), [](const PaymentInput& a, const PaymentInput& b) {
    if (a.line->beginDate.ms != b.line->beginDate.ms) return a.line->beginDate.ms < b.line->beginDate.ms;
    return byIdThenPosition(a.report, b.report);
  });

  const QString preferredSymbol = converter.preferedCurrencySymbol();
  std::vector<AccountPayments> accountPayments(accounts.size());
  for (const PaymentInput& in : inputs) {
    AccountPayments& payments = accountPayments[size_t(in.account)];
    const std::map<int, Values>& estimate = estimates[size_t(in.account)];
    auto estimateOf = [&](KVRMonthKey month) -> const Values* {
      auto it = estimate.find(month.serial());
      return it == estimate.end() ? nullptr : &it->second;
    };
    const QString& code = in.line->country;
    const QString currency = paymentCurrency(in.line->currency);
    const float P = float(in.line->income);
    const int64_t paid = in.line->income;
    const int row = KVRMoneyRegionForCode(code);
    const Values* monthEstimate = row >= 0 ? estimateOf(in.month) : nullptr;

    auto own = std::make_shared<AccountRecord>();
    KVRPaymentRecord& rec = own->record;
    float jp = 1.0f;
    if (code == QLatin1String("JP") && monthEstimate) {
      own->jpEstimate = integerPart((*monthEstimate)[size_t(row)] * 100.0f + 0.5f);
      if (float(own->jpEstimate) > P && own->jpEstimate != 0) jp = P / float(own->jpEstimate);
    }
    own->paid = paid;
    rec.localIncome = P / 100.0f;
    rec.income = converter.convertAmountToPreferedCurrency(double(rec.localIncome), currency);

    // Reconciliation.
    float pointed = in.report->pointedIncome;
    float ratio = 1.0f;
    if (rec.income > 0) {
      if (in.reconciliation && !in.reconciliation->currency.isEmpty())
        pointed = converter.convertAmountToPreferedCurrency(double(pointed), in.reconciliation->currency);
      ratio = pointed / rec.income;
    }
    const bool reconciled = pointed > 0 || (pointed == 0 && rec.income == 0 && in.report->status > 0);
    if (reconciled) {
      rec.pointedIncome = pointed;
      rec.pointedIncomeStr = amountText(pointed, preferredSymbol);
      rec.pointedDate = in.report->pointedDate.isValid() ? in.report->pointedDate : now;
      rec.pointedAccount = in.report->pointedAccount.isEmpty() ? QStringLiteral("--") : in.report->pointedAccount;
      rec.paymentRatio = ratio;
    }
    rec.localIncomeStr = amountText(rec.localIncome, symbolOfCurrency(currency));
    rec.localCurrency = currency;
    rec.incomeStr = amountText(rec.income, preferredSymbol);
    rec.jpRatio = jp;
    rec.paymentReport = in.report;
    rec.paymentMonth = in.month;
    rec.payingReports = {in.report};
    payments[in.month.serial()][code] = own;

    // The earlier months this payment also pays.
    if (!monthEstimate) continue;
    int64_t e0;
    if (code == QLatin1String("IAD")) {
      e0 = paid;
    } else {
      const int64_t e100 = integerPart((*monthEstimate)[size_t(row)] * 100.0f + 0.5f);
      e0 = integerPart(float(e100) * jp);
    }
    int64_t remaining = paid, cur = e0;
    if (e0 < 0 && remaining == 0) {
      rec.paymentReport = nullptr;
      rec.paymentMonth.reset();
      continue;
    }
    for (KVRMonthKey m = in.month.previous(); remaining > 0 && remaining - 1 > cur; m = m.previous()) {
      auto monthIt = payments.find(m.serial());
      if (monthIt != payments.end()) {
        auto it = monthIt->second.find(code);
        if (it != monthIt->second.end() && it->second->record.isPaymentForm()) break;
      }
      rec.priorMonths.push_back(m);
      const Values* earlier = estimateOf(m);
      if (!earlier) break;
      remaining = saturatedSub(remaining, cur);
      const float v = (*earlier)[size_t(row)];
      cur = integerPart(float(integerPart(v > 0 ? v * 100.0f + 0.5f : v * 100.0f - 0.5f)) * jp);
      auto prior = std::make_shared<AccountRecord>();
      KVRPaymentRecord& p = prior->record;
      p.localIncome = v;
      p.income = converter.convertAmountToPreferedCurrency(double(v), currency);
      p.paymentMonth = in.month;
      if (reconciled) {
        p.paymentRatio = ratio;
        p.pointedIncome = p.income * ratio;
      }
      p.payingReports = {in.report};
      payments[m.serial()][code] = prior;
    }
  }

  // ---- One payments map: each account's records, summed where accounts meet.
  std::map<int, std::map<QString, std::vector<AccountRecordRef>>> gathered;
  for (const AccountPayments& payments : accountPayments)
    for (const auto& [serial, byCode] : payments)
      for (const auto& [code, record] : byCode) gathered[serial][code].push_back(record);
  std::map<int, KVRMonthPayments> paymentsByMonth;
  for (auto& [serial, byCode] : gathered) {
    KVRMonthPayments& mp = paymentsByMonth[serial];
    for (auto& [code, parts] : byCode) {
      if (parts.size() == 1) mp.set(code, std::make_shared<const KVRPaymentRecord>(std::move(parts.front()->record)));
      else mp.set(code, std::make_shared<const KVRPaymentRecord>(mergeRecords(code, parts, preferredSymbol)));
    }
  }

  // ---- The months, ascending: the reports' months, with the payments'
  // months when an account row is selected.
  std::vector<int> serials;
  serials.reserve(monthVectors.size() + paymentsByMonth.size());
  for (const auto& [serial, v] : monthVectors) serials.push_back(serial);
  if (selection.accountSelected) {
    for (const auto& [serial, p] : paymentsByMonth) serials.push_back(serial);
    std::sort(serials.begin(), serials.end());
    serials.erase(std::unique(serials.begin(), serials.end()), serials.end());
  }
  st.months.reserve(serials.size());
  for (int serial : serials) {
    KVRFinancialMonth fm;
    fm.date = KVRMonthKey::fromSerial(serial);
    if (auto it = monthVectors.find(serial); it != monthVectors.end()) {
      fm.income.setIncome(it->second.preferred);
      fm.incomeLocal.setIncome(it->second.local);
      fm.units.setIncome(it->second.units);
    }
    if (auto it = paymentsByMonth.find(serial); it != paymentsByMonth.end()) fm.payments = it->second;
    // iAd payments.
    if (const KVRPaymentRecord* ad = fm.payments.forRow(KVRRegionRowIAD)) {
      if (!selection.productsSelected && selection.accountSelected) {
        fm.incomeLocal.income()[KVRRegionRowIAD] = ad->localIncome;
        fm.income.income()[KVRRegionRowIAD] = ad->income;
      }
      if (auto year = st.financialsByYear.find(fm.date.year); year != st.financialsByYear.end()) {
        for (int r : {int(KVRRegionRowIAD), int(KVRRegionRowAll)}) {
          year->second[size_t(r)].income += ad->income;
          year->second[size_t(r)].incomeLocal += ad->localIncome;
        }
      }
    }
    st.months.push_back(std::move(fm));
  }
  return st;
}

bool KVRFinancialStatementBuilder::applyStoreChanges(const KVRStatementStoreChanges& changes) const {
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  bool changed = false;
  for (const auto& [report, date] : changes.paymentBeginDates) {
    if (!report || report->beginDate == date) continue;
    report->beginDate = date;
    dm_.markChanged(report);
    changed = true;
  }
  if (!changes.reportsToDelete.empty()) {
    dm_.deleteReportsResettingProducts(changes.reportsToDelete);
    changed = true;
  }
  return changed;
}

KVRFinancialStatement KVRFinancialStatementBuilder::rebuild(const KVRFinancialSelection& selection,
                                                            const std::function<bool(QString*)>& save,
                                                            QString* error, KVRDate now) const {
  KVRFinancialStatement st = build(selection, now);
  if (applyStoreChanges(st.storeChanges) && save) {
    QString why;
    if (!save(&why)) {
      log(QStringLiteral("The statement's changes could not be saved: %1").arg(why));
      if (error) *error = why;
    }
  }
  return st;
}
