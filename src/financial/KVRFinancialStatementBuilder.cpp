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
#include <thread>
#include <unordered_map>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "core/KVRCalendar.h"
#include "financial/KVRFinancialFigures.h"
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

  // The entry of a code, found by its text (entries stay where they are).
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

 private:
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

// "%@ %@": the amount rounded to hundredths, by the shared amount formatter,
// a blank, a symbol.
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
  int part = -1;     // the part its lines add to (selected products)
};

enum ReportFlag : uint8_t { Selected = 1, FromAndroid = 2, FromOther = 4 };

struct ReportInfo {
  uint8_t flags = 0;
  std::vector<int> accounts;  // indexes of the selected accounts whose products list it
};

struct MonthVectors {
  Values preferred{}, local{}, units{};
  uint32_t rows = 0;  // bit r: lines of the selected products in region r
};

// A payment record of one account. `own`: made for its month by the payment
// of that month (whatever later became of its payment report).
struct AccountRecord {
  KVRPaymentRecord record;
  bool own = false;
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

struct IndexEntry {
  int serial, row;
  KVRReport* report;
  bool android;
};

// One rebuild of the statement, step by step.
class StatementRun {
 public:
  StatementRun(KVRVortelyCoreDataManager& dm, const KVRCalculationServices& services,
               const KVRFinancialSelection& selection, KVRDate now)
      : dm_(dm),
        converter_(services.converter ? *services.converter : KVRVortelyCurrencyConverter::sharedInstance()),
        calendar_(services.calendar ? *services.calendar : KVRCalendar::shared()),
        log_(services.log ? *services.log : KVRVortelyLogCenter::sharedInstance()),
        selection_(selection),
        now_(now),
        currencies_(converter_) {}

  KVRFinancialStatement run() {
    selectAccounts();
    collectFinancialReports();
    readFinancialReports();
    indexFinancialReports();
    collectPaymentReports();
    preferredSymbol_ = converter_.preferedCurrencySymbol();
    accountPayments_.resize(accounts_.size());
    for (const PaymentInput& in : inputs_) matchPayment(in);
    makeMonths();
    KVRComputeRegionFigures(st_);
    return std::move(st_);
  }

 private:
  void log(const QString& message) { log_.addLogEntry(message, false, QStringLiteral("Reports Controller")); }

  std::optional<KVRMonthKey> monthOfDate(KVRDate date) {
    auto cached = monthOfBeginDate_.find(date.ms);
    if (cached == monthOfBeginDate_.end())
      cached = monthOfBeginDate_.emplace(date.ms, KVRMonthKey::ofReportDate(date, calendar_)).first;
    return cached->second;
  }

  int accountIndex(const KVRStoreAccount* a) const {
    auto it = std::find(accounts_.begin(), accounts_.end(), a);
    return it == accounts_.end() ? -1 : int(it - accounts_.begin());
  }

  // The selected accounts, each once, in id order; each has its part, and the
  // selected products of no selected account share the last one.
  void selectAccounts() {
    for (KVRStoreAccount* a : selection_.accounts)
      if (a && std::find(accounts_.begin(), accounts_.end(), a) == accounts_.end()) accounts_.push_back(a);
    std::stable_sort(accounts_.begin(), accounts_.end(), byIdThenPosition);
    st_.accountsOnly = selection_.accountSelected && !selection_.productsSelected;
  }

  // The products read (the selected ones, and every product of a selected
  // account for the account's estimates) and their financial reports, each
  // once, in begin date order.
  void collectFinancialReports() {
    std::vector<KVRVortelyManagedProduct*> productOrder;
    auto addProduct = [&](KVRVortelyManagedProduct* p, bool selected) {
      if (!p) return;
      bool created = false;
      ProductInfo& info = products_.get(p, &created);
      if (created) {
        info.account = p->account ? accountIndex(p->account) : -1;
        productOrder.push_back(p);
      }
      info.selected = info.selected || selected;
    };
    for (KVRVortelyManagedProduct* p : selection_.products) addProduct(p, true);
    for (KVRStoreAccount* a : accounts_)
      for (KVRVortelyManagedProduct* p : a->products) addProduct(p, false);
    bool otherPart = false;
    for (KVRVortelyManagedProduct* p : productOrder) {
      ProductInfo& info = products_.get(p);
      if (!info.selected) continue;
      if (info.account >= 0) {
        info.part = info.account;
      } else {
        info.part = int(accounts_.size());
        otherPart = true;
      }
    }
    partMonths_.resize(accounts_.size() + (otherPart ? 1 : 0));

    for (KVRVortelyManagedProduct* p : productOrder) {
      const ProductInfo info = *products_.find(p);
      const uint8_t flags = info.selected ? uint8_t(Selected | (p->isAndroid() ? FromAndroid : FromOther)) : 0;
      for (KVRReport* r : p->financialReports()) {
        bool created = false;
        ReportInfo& ri = reports_.get(r, &created);
        if (created) reportOrder_.push_back(r);
        ri.flags |= flags;
        if (info.account >= 0 && std::find(ri.accounts.begin(), ri.accounts.end(), info.account) == ri.accounts.end())
          ri.accounts.push_back(info.account);
      }
    }
    std::stable_sort(reportOrder_.begin(), reportOrder_.end(), [](const KVRReport* a, const KVRReport* b) {
      if (a->beginDate.isValid() != b->beginDate.isValid()) return a->beginDate.isValid();
      if (a->beginDate.isValid() && a->beginDate.ms != b->beginDate.ms) return a->beginDate.ms < b->beginDate.ms;
      return byIdThenPosition(a, b);
    });
    estimates_.resize(accounts_.size());
  }

  void closeYear(int year) {
    KVRRegionRowTable t = rowTemplate_;
    for (int r = 0; r < kRows; ++r) {
      t[size_t(r)].income = preferredYear_[r][0];
      t[size_t(r)].incomeLocal = localYear_[r][0];
    }
    st_.financialsByYear[year] = std::move(t);
  }

  void zeroYear() {
    std::fill(&preferredYear_[0][0], &preferredYear_[0][0] + kRows * 13, 0.0f);
    std::fill(&localYear_[0][0], &localYear_[0][0] + kRows * 13, 0.0f);
  }

  // The reports read and their lines: the month vectors and the year tables
  // of the selected products, each account's part, each account's estimates.
  void readFinancialReports() {
    rowTemplate_ = KVRMakeRegionRowTable();
    for (KVRReport* r : reportOrder_) {
      const ReportInfo& info = *reports_.find(r);
      const bool selected = info.flags & Selected;
      if (r->filename.startsWith(QLatin1String("Zuvo"))) {
        // Put aside where the statement reads it for the selected products;
        // a report of other products is only left out of the estimates.
        if (selected) st_.storeChanges.reportsToDelete.push_back(r);
        continue;
      }
      if (!r->beginDate.isValid()) {
        log(QStringLiteral("Financial report \"%1\" has no date: left out").arg(r->filename));
        continue;
      }
      const std::optional<KVRMonthKey> month = monthOfDate(r->beginDate);
      if (!month) continue;
      addJob(r, info, *month);
    }
    decodeLines();
    sumLines();
  }

  // A report whose lines are read: its month and region, and where its
  // decoded lines are.
  struct LineJob {
    KVRReport* report;
    const ReportInfo* info;
    KVRMonthKey month;
    int region;
    size_t offset, count;
    std::vector<KVRReportEntry*> sorted;  // the lines in id order, when the report's are not
    const std::vector<KVRReportEntry*>& lines() const { return sorted.empty() ? report->entries : sorted; }
  };
  // A line as the sums read it: region -1 when it counts nowhere, part -1
  // when it adds to no selected product's figures.
  struct DecodedLine {
    float amount, converted, units;
    int16_t region, part;
  };
  // Below this many lines a thread costs more than it saves.
  static constexpr size_t kThreadedLines = 150000;

  void addJob(KVRReport* r, const ReportInfo& info, KVRMonthKey month) {
    LineJob job{r, &info, month, regionOfFileName(r->filename), lineCount_, r->entries.size(), {}};
    if (info.flags & Selected) {
      const int serial = month.serial();
      if (info.flags & FromOther) indexEntries_.push_back({serial, job.region, r, false});
      if (info.flags & FromAndroid) indexEntries_.push_back({serial, -1, r, true});
    }
    lineCount_ += job.count;
    jobs_.push_back(std::move(job));
  }

  // The lines' amounts, regions and parts, read from the reports (the part
  // bound by memory) on a few threads: each line on its own, no sums here.
  void decodeLines() {
    decoded_.reset(new DecodedLine[lineCount_]);  // every line is written by decodeJobs: no zeroing
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t threads = lineCount_ < kThreadedLines ? 1 : std::min<size_t>({4, cores, jobs_.size()});
    if (threads <= 1) {
      decodeJobs(0, jobs_.size());
      return;
    }
    std::vector<size_t> bounds{0};
    const size_t share = lineCount_ / threads + 1;
    for (size_t j = 0, lines = 0; j < jobs_.size(); ++j) {
      lines += jobs_[j].count;
      if (lines >= share * bounds.size() && bounds.size() < threads) bounds.push_back(j + 1);
    }
    bounds.push_back(jobs_.size());
    std::vector<std::thread> workers;
    for (size_t t = 1; t + 1 < bounds.size(); ++t)
      workers.emplace_back([this, from = bounds[t], to = bounds[t + 1]] { decodeJobs(from, to); });
    decodeJobs(bounds[0], bounds[1]);
    for (std::thread& w : workers) w.join();
  }

  void decodeJobs(size_t from, size_t to) {
    std::unordered_map<const void*, const CurrencyTable::Entry*> currencyOf;
    const void* lastKey = nullptr;
    const CurrencyTable::Entry* lastCurrency = nullptr;
    auto currency = [&](const QString& code) -> const CurrencyTable::Entry& {
      const void* key = code.constData();
      if (key == lastKey) return *lastCurrency;
      auto it = currencyOf.find(key);
      if (it == currencyOf.end()) {
        std::lock_guard<std::mutex> g(currencyLock_);
        it = currencyOf.emplace(key, &currencies_.byText(code)).first;
      }
      lastKey = key;
      return *(lastCurrency = it->second);
    };
    for (size_t j = from; j < to; ++j) {
      LineJob& job = jobs_[j];
      const std::vector<KVRReportEntry*>& entries = job.report->entries;
      if (!std::is_sorted(entries.begin(), entries.end(), byIdThenPosition)) {
        job.sorted = entries;
        std::stable_sort(job.sorted.begin(), job.sorted.end(), byIdThenPosition);
      }
      const bool selected = job.info->flags & Selected;
      DecodedLine* out = decoded_.get() + job.offset;
      const KVRVortelyManagedProduct* lastProduct = nullptr;
      int lastPart = -1;
      for (const KVRReportEntry* e : job.lines()) {
        DecodedLine& d = *out++;
        d = {0, 0, 0, -1, -1};
        if (!e) continue;
        const CurrencyTable::Entry& c = currency(e->currency);
        const int region = job.region >= 0 ? job.region : c.region;
        if (region < 0) continue;
        d.region = int16_t(region);
        d.amount = lineAmount(e->count, float(e->income));
        if (!selected) continue;
        if (e->product != lastProduct || !lastProduct) {
          lastProduct = e->product;
          const ProductInfo* pi = e->product ? products_.find(e->product) : nullptr;
          lastPart = pi && pi->selected ? pi->part : -1;
        }
        if (lastPart < 0) continue;
        d.part = int16_t(lastPart);
        if (c.direct) {
          std::lock_guard<std::mutex> g(currencyLock_);
          d.converted = currencies_.toPreferred(c, d.amount);
        } else {
          d.converted = currencies_.toPreferred(c, d.amount);
        }
        d.units = float(e->count);
      }
    }
  }

  // The sums, in report order and line order: the month vectors and the
  // year tables of the selected products here, each account's estimates and
  // each part's vectors beside them on a thread of their own (they share no
  // sum).
  void sumLines() {
    std::thread parts;
    if (lineCount_ >= kThreadedLines && std::thread::hardware_concurrency() > 1)
      parts = std::thread([this] {
        for (const LineJob& job : jobs_) sumPartLines(job);
      });
    else
      for (const LineJob& job : jobs_) sumPartLines(job);
    std::optional<int> currentYear;
    for (const LineJob& job : jobs_) {
      if (job.info->flags & Selected) {
        if (!currentYear) {
          currentYear = job.month.year;
        } else if (job.month.year != *currentYear) {
          closeYear(*currentYear);
          currentYear = job.month.year;
          zeroYear();
        }
        sumSelectedLines(job);
      }
    }
    if (currentYear) {
      closeYear(*currentYear);
    } else {
      closeYear(2010);
      closeYear(2011);
    }
    if (parts.joinable()) parts.join();
  }

  // A selected report's lines into its month's vectors and the year tables.
  void sumSelectedLines(const LineJob& job) {
    MonthVectors* mv = &monthVectors_[job.month.serial()];
    const int m = job.month.month;
    const DecodedLine* end = decoded_.get() + job.offset + job.count;
    for (const DecodedLine* d = decoded_.get() + job.offset; d != end; ++d) {
      const int region = d->region;
      if (region < 0 || d->part < 0) continue;
      const float amount = d->amount;
      const float converted = d->converted;
      mv->units[size_t(region)] += d->units;
      mv->preferred[0] += converted;
      mv->preferred[size_t(region)] += converted;
      mv->local[0] += amount;
      mv->local[size_t(region)] += amount;
      mv->rows |= uint32_t(1) << region;
      preferredYear_[0][0] += converted;
      preferredYear_[region][0] += converted;
      preferredYear_[region][m] += converted;
      preferredYear_[0][m] += converted;
      localYear_[0][0] += amount;
      localYear_[region][0] += amount;
      localYear_[region][m] += amount;
      localYear_[0][m] += amount;
    }
  }

  // A report's lines into the estimates of the accounts that list it, and a
  // selected report's into its parts' vectors (when there are several parts:
  // one part's vectors are the month's, copied when the months are made).
  void sumPartLines(const LineJob& job) {
    const ReportInfo& info = *job.info;
    const int serial = job.month.serial();
    Values* est[4] = {};
    std::vector<Values*> moreEst;
    int estCount = 0;
    for (int a : info.accounts) {
      Values* v = &estimates_[size_t(a)][serial];
      if (estCount < 4) est[estCount++] = v;
      else moreEst.push_back(v);
    }
    const bool partVectors = (info.flags & Selected) && partMonths_.size() > 1;
    if (partVectors) partVectors_.assign(partMonths_.size(), nullptr);
    const DecodedLine* end = decoded_.get() + job.offset + job.count;
    for (const DecodedLine* d = decoded_.get() + job.offset; d != end; ++d) {
      const int region = d->region;
      if (region < 0) continue;
      const float amount = d->amount;
      for (int k = 0; k < estCount; ++k) {
        (*est[k])[0] += amount;
        (*est[k])[size_t(region)] += amount;
      }
      for (Values* v : moreEst) {
        (*v)[0] += amount;
        (*v)[size_t(region)] += amount;
      }
      if (!partVectors || d->part < 0) continue;
      const float converted = d->converted;
      MonthVectors*& pv = partVectors_[size_t(d->part)];
      if (!pv) pv = &partMonths_[size_t(d->part)][serial];
      pv->units[size_t(region)] += d->units;
      pv->preferred[0] += converted;
      pv->preferred[size_t(region)] += converted;
      pv->local[0] += amount;
      pv->local[size_t(region)] += amount;
      pv->rows |= uint32_t(1) << region;
    }
  }

  // The index (month, region) -> report: the earliest report wins.
  void indexFinancialReports() {
    if (indexEntries_.empty()) return;
    KVRFinancialReportIndex& index = st_.reportIndex;
    int first = indexEntries_.front().serial, last = first;
    for (const IndexEntry& e : indexEntries_) {
      first = std::min(first, e.serial);
      last = std::max(last, e.serial);
    }
    index.firstSerial = first;
    index.monthCount = last - first + 1;
    index.byMonthAndRow.assign(size_t(index.monthCount) * kRows, nullptr);
    index.androidByMonth.assign(size_t(index.monthCount), nullptr);
    for (const IndexEntry& e : indexEntries_) {
      const size_t offset = size_t(e.serial - first);
      if (!e.android && e.row < 0) continue;
      KVRReport*& slot = e.android ? index.androidByMonth[offset] : index.byMonthAndRow[offset * kRows + size_t(e.row)];
      if (!slot) slot = e.report;
    }
  }

  // The selected accounts' payment reports with a dated Payment line and a
  // region, in the order of that line's date; their begin dates follow it.
  void collectPaymentReports() {
    for (KVRReport* r : dm_.paymentReports()) {
      const int account = r->account ? accountIndex(r->account) : -1;
      if (account < 0) continue;
      // The first Payment and first Reconciliation lines, in one pass.
      const KVRReportEntry* line = nullptr;
      const KVRReportEntry* reconciliation = nullptr;
      for (const KVRReportEntry* e : r->entries) {
        if (!e) continue;
        if (e->type == KVREntryTypePayment) {
          if (!line || byIdThenPosition(e, line)) line = e;
        } else if (e->type == KVREntryTypeReconciliation) {
          if (!reconciliation || byIdThenPosition(e, reconciliation)) reconciliation = e;
        }
      }
      if (!line) continue;
      if (!line->beginDate.isValid()) {
        log(QStringLiteral("Payment report \"%1\": its Payment line has no date, left out").arg(r->filename));
        continue;
      }
      if (line->beginDate != r->beginDate) st_.storeChanges.paymentBeginDates.emplace_back(r, line->beginDate);
      if (line->country.isEmpty()) {
        log(QStringLiteral("Payment report \"%1\": its Payment line has no region, left out").arg(r->filename));
        continue;
      }
      const std::optional<KVRMonthKey> month = monthOfDate(line->beginDate);
      if (!month) continue;
      inputs_.push_back({r, line, reconciliation, *month, account});
    }
    std::stable_sort(inputs_.begin(), inputs_.end(), [](const PaymentInput& a, const PaymentInput& b) {
      if (a.line->beginDate.ms != b.line->beginDate.ms) return a.line->beginDate.ms < b.line->beginDate.ms;
      return byIdThenPosition(a.report, b.report);
    });
  }

  // A payment of one account: its record in its month (paid amount,
  // conversion, reconciliation, Japanese ratio), then the earlier months it
  // also pays.
  const QString& cachedSymbol(const QString& currency) {
    for (const auto& [code, symbol] : symbols_)
      if (code == currency) return symbol;
    symbols_.emplace_back(currency, symbolOfCurrency(currency));
    return symbols_.back().second;
  }

  void matchPayment(const PaymentInput& in) {
    AccountPayments& payments = accountPayments_[size_t(in.account)];
    const std::map<int, Values>& estimate = estimates_[size_t(in.account)];
    const QString& code = in.line->country;
    const QString currency = paymentCurrency(in.line->currency);
    const float P = float(in.line->income);
    const int row = KVRMoneyRegionForCode(code);
    const Values* monthEstimate = nullptr;
    if (row >= 0)
      if (auto it = estimate.find(in.month.serial()); it != estimate.end()) monthEstimate = &it->second;

    auto own = std::make_shared<AccountRecord>();
    own->own = true;
    KVRPaymentRecord& rec = own->record;
    float jp = 1.0f;
    if (code == QLatin1String("JP") && monthEstimate) {
      const int64_t e100 = integerPart((*monthEstimate)[size_t(row)] * 100.0f + 0.5f);
      if (float(e100) > P && e100 != 0) jp = P / float(e100);
    }
    rec.localIncome = P / 100.0f;
    rec.income = converter_.convertAmountToPreferedCurrency(double(rec.localIncome), currency);

    // Reconciliation.
    float pointed = in.report->pointedIncome;
    float ratio = 1.0f;
    if (rec.income > 0) {
      if (in.reconciliation && !in.reconciliation->currency.isEmpty())
        pointed = converter_.convertAmountToPreferedCurrency(double(pointed), in.reconciliation->currency);
      ratio = pointed / rec.income;
    }
    const bool reconciled = pointed > 0 || (pointed == 0 && rec.income == 0 && in.report->status >= KVRReportStatusPointed);
    if (reconciled) {
      rec.pointedIncome = pointed;
      rec.pointedIncomeStr = amountText(pointed, preferredSymbol_);
      rec.pointedDate = in.report->pointedDate.isValid() ? in.report->pointedDate : now_;
      rec.pointedAccount = in.report->pointedAccount.isEmpty() ? QStringLiteral("--") : in.report->pointedAccount;
      rec.paymentRatio = ratio;
    }
    rec.localIncomeStr = amountText(rec.localIncome, cachedSymbol(currency));
    rec.localCurrency = currency;
    rec.incomeStr = amountText(rec.income, preferredSymbol_);
    rec.jpRatio = jp;
    rec.paymentReport = in.report;
    rec.paymentMonth = in.month;
    rec.payingReports = {in.report};
    payments[in.month.serial()][code] = own;

    if (!monthEstimate) return;
    coverPriorMonths(in, *own, estimate, payments, *monthEstimate, row, currency, jp, reconciled, ratio);
  }

  // The earlier months a payment also pays. On every turn the four stops
  // (remainder equal to the month's estimate, to 0, or to the payment
  // month's own estimate one hundredth either way), then ours: the remainder
  // must stay above 0 and above the month's estimate plus one hundredth, and
  // a month that had a payment of its own is never entered.
  void coverPriorMonths(const PaymentInput& in, AccountRecord& own, const std::map<int, Values>& estimate,
                        AccountPayments& payments, const Values& monthEstimate, int row, const QString& currency,
                        float jp, bool reconciled, float ratio) {
    KVRPaymentRecord& rec = own.record;
    const QString& code = in.line->country;
    const int64_t paid = in.line->income;
    int64_t e0;
    if (code == QLatin1String("IAD")) {
      e0 = paid;
    } else {
      const int64_t e100 = integerPart(monthEstimate[size_t(row)] * 100.0f + 0.5f);
      e0 = integerPart(float(e100) * jp);
    }
    int64_t remaining = paid, cur = e0;
    if (e0 < 0 && remaining == 0) {
      rec.paymentReport = nullptr;
      rec.paymentMonth.reset();
      return;
    }
    for (KVRMonthKey m = in.month.previous();; m = m.previous()) {
      const int64_t fromE0 = saturatedSub(remaining, e0);
      if (remaining == cur || remaining == 0 || fromE0 == -1 || fromE0 == 1) break;
      if (remaining <= 0 || remaining - 1 <= cur) break;
      if (auto monthIt = payments.find(m.serial()); monthIt != payments.end()) {
        auto it = monthIt->second.find(code);
        if (it != monthIt->second.end() && it->second->own) break;
      }
      rec.priorMonths.push_back(m);
      auto earlier = estimate.find(m.serial());
      if (earlier == estimate.end()) break;
      remaining = saturatedSub(remaining, cur);
      const float v = earlier->second[size_t(row)];
      cur = integerPart(float(integerPart(v > 0 ? v * 100.0f + 0.5f : v * 100.0f - 0.5f)) * jp);
      auto prior = std::make_shared<AccountRecord>();
      KVRPaymentRecord& p = prior->record;
      p.localIncome = v;
      p.income = converter_.convertAmountToPreferedCurrency(double(v), currency);
      p.paymentMonth = in.month;
      if (reconciled) {
        p.paymentRatio = ratio;
        p.pointedIncome = p.income * ratio;
      }
      p.payingReports = {in.report};
      payments[m.serial()][code] = prior;
    }
  }

  // The record a month shows for a region where several parts meet: their
  // sums, naming no single report; reconciled only when every part with an
  // estimate or a payment there is, paid by a month only when every one has
  // a payment there.
  static KVRPaymentRecord summaryRecord(const std::vector<const KVRPaymentRecord*>& records, bool everyPartHasOne) {
    KVRPaymentRecord m;
    bool reconciled = everyPartHasOne, paidMonths = everyPartHasOne, oneCurrency = true, oneAccount = true;
    float pointed = 0;
    for (const KVRPaymentRecord* r : records) {
      m.localIncome += r->localIncome;
      m.income += r->income;
      if (r->paymentMonth && (!m.paymentMonth || *m.paymentMonth < *r->paymentMonth)) m.paymentMonth = r->paymentMonth;
      else if (!r->paymentMonth) paidMonths = false;
      m.payingReports.insert(m.payingReports.end(), r->payingReports.begin(), r->payingReports.end());
      oneCurrency = oneCurrency && r->localCurrency == records.front()->localCurrency;
      oneAccount = oneAccount && r->pointedAccount == records.front()->pointedAccount;
      if (!r->isReconciled()) {
        reconciled = false;
        continue;
      }
      pointed += r->pointedIncome;
      if (r->pointedDate.isValid() && (!m.pointedDate.isValid() || r->pointedDate.isLaterThan(m.pointedDate)))
        m.pointedDate = r->pointedDate;
    }
    if (!paidMonths) m.paymentMonth.reset();
    // No texts: a summary names no payment report, and only a payment
    // report's record shows its amounts in the details panel.
    m.localCurrency = oneCurrency ? records.front()->localCurrency : QString();
    if (reconciled) {
      m.paymentRatio = m.income > 0 ? pointed / m.income : 1.0f;
      m.pointedIncome = pointed;
      m.pointedAccount = oneAccount ? records.front()->pointedAccount : QStringLiteral("--");
    } else {
      m.pointedDate = KVRDate();
    }
    return m;
  }

  // The months, ascending: the reports' months, with the payments' months
  // when an account row is selected; each with its parts, its records and
  // the iAd payments.
  void makeMonths() {
    std::vector<int> serials;
    serials.reserve(monthVectors_.size());
    for (const auto& [serial, v] : monthVectors_) serials.push_back(serial);
    if (selection_.accountSelected) {
      for (const AccountPayments& payments : accountPayments_)
        for (const auto& [serial, p] : payments) serials.push_back(serial);
      std::sort(serials.begin(), serials.end());
      serials.erase(std::unique(serials.begin(), serials.end()), serials.end());
    }
    const bool adSlots = !selection_.productsSelected && selection_.accountSelected;
    st_.months.reserve(serials.size());
    for (int serial : serials) {
      KVRFinancialMonth fm;
      fm.date = KVRMonthKey::fromSerial(serial);
      if (auto it = monthVectors_.find(serial); it != monthVectors_.end()) {
        fm.income.setIncome(it->second.preferred);
        fm.incomeLocal.setIncome(it->second.local);
        fm.units.setIncome(it->second.units);
      }
      fm.parts.resize(partMonths_.size());
      for (size_t a = 0; a < partMonths_.size(); ++a) {
        KVRAccountMonth& part = fm.parts[a];
        const std::map<int, MonthVectors>& vectors = partMonths_.size() == 1 ? monthVectors_ : partMonths_[a];
        if (auto it = vectors.find(serial); it != vectors.end()) {
          part.income.setIncome(it->second.preferred);
          part.incomeLocal.setIncome(it->second.local);
          part.units.setIncome(it->second.units);
          part.estimateRows = it->second.rows;
        }
        if (a >= accountPayments_.size()) continue;
        auto paid = accountPayments_[a].find(serial);
        if (paid == accountPayments_[a].end()) continue;
        for (const auto& [code, record] : paid->second)
          part.payments.set(code, KVRPaymentRecordRef(record, &record->record));
        if (const KVRPaymentRecord* ad = part.payments.forRow(KVRRegionRowIAD); ad && adSlots) {
          part.incomeLocal.income()[KVRRegionRowIAD] = ad->localIncome;
          part.income.income()[KVRRegionRowIAD] = ad->income;
        }
      }
      showRecords(fm);
      // iAd payments.
      if (const KVRPaymentRecord* ad = fm.payments.forRow(KVRRegionRowIAD)) {
        if (adSlots) {
          fm.incomeLocal.income()[KVRRegionRowIAD] = ad->localIncome;
          fm.income.income()[KVRRegionRowIAD] = ad->income;
        }
        if (auto year = st_.financialsByYear.find(fm.date.year); year != st_.financialsByYear.end()) {
          for (int r : {int(KVRRegionRowIAD), int(KVRRegionRowAll)}) {
            year->second[size_t(r)].income += ad->income;
            year->second[size_t(r)].incomeLocal += ad->localIncome;
          }
        }
      }
      st_.months.push_back(std::move(fm));
    }
  }

  // The month's records: for each region code, the one part's record where
  // one part has an estimate or a payment there, else the parts' summary.
  void showRecords(KVRFinancialMonth& fm) {
    std::map<QString, std::vector<const KVRPaymentRecord*>> byCode;
    std::map<QString, KVRPaymentRecordRef> single;
    for (const KVRAccountMonth& part : fm.parts)
      for (const auto& [code, record] : part.payments.all()) {
        byCode[code].push_back(record.get());
        single.emplace(code, record);
      }
    for (const auto& [code, records] : byCode) {
      const int row = KVRMoneyRegionForCode(code);
      int involved = 0;
      for (const KVRAccountMonth& part : fm.parts)
        involved += part.payments.forCode(code) || (row >= 0 && (part.estimateRows >> row) & 1u);
      if (involved == 1) fm.payments.set(code, single[code]);
      else fm.payments.set(code, std::make_shared<const KVRPaymentRecord>(summaryRecord(records, int(records.size()) == involved)));
    }
  }

  KVRVortelyCoreDataManager& dm_;
  KVRVortelyCurrencyConverter& converter_;
  KVRCalendar& calendar_;
  KVRVortelyLogCenter& log_;
  const KVRFinancialSelection& selection_;
  const KVRDate now_;
  KVRFinancialStatement st_;

  std::vector<KVRStoreAccount*> accounts_;
  ObjectTable<ProductInfo> products_;
  ObjectTable<ReportInfo> reports_;
  std::vector<KVRReport*> reportOrder_;
  CurrencyTable currencies_;
  std::unordered_map<double, std::optional<KVRMonthKey>> monthOfBeginDate_;

  std::map<int, MonthVectors> monthVectors_;              // month serial -> selected products' vectors
  std::vector<std::map<int, MonthVectors>> partMonths_;   // per part: month serial -> vectors
  std::vector<MonthVectors*> partVectors_;                // per part: the current report's month
  std::vector<std::map<int, Values>> estimates_;          // per account: month serial -> estimate
  float preferredYear_[kRows][13] = {}, localYear_[kRows][13] = {};
  KVRRegionRowTable rowTemplate_;
  std::vector<IndexEntry> indexEntries_;
  std::vector<LineJob> jobs_;
  size_t lineCount_ = 0;
  std::unique_ptr<DecodedLine[]> decoded_;
  std::mutex currencyLock_;  // the currency table, while the lines are decoded

  std::vector<PaymentInput> inputs_;
  QString preferredSymbol_;
  std::vector<std::pair<QString, QString>> symbols_;  // payment currency -> its symbol, as met
  std::vector<AccountPayments> accountPayments_;
};

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
    : dm_(KVRVortelyCoreDataManager::sharedInstance()), services_(KVRCalculationServices::shared()) {}
KVRFinancialStatementBuilder::KVRFinancialStatementBuilder(KVRVortelyCoreDataManager& dataManager,
                                                           const KVRCalculationServices& services)
    : dm_(dataManager), services_(services) {}

KVRFinancialStatement KVRFinancialStatementBuilder::build(const KVRFinancialSelection& selection, KVRDate now) const {
  if (!now.isValid()) now = KVRDate(double(QDateTime::currentMSecsSinceEpoch()));
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  return StatementRun(dm_, services_, selection, now).run();
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
      if (KVRVortelyLogCenter* log = services_.log ? services_.log : &KVRVortelyLogCenter::sharedInstance())
        log->addLogEntry(QStringLiteral("The statement's changes could not be saved: %1").arg(why), false,
                         QStringLiteral("Reports Controller"));
      if (error) *error = why;
    }
  }
  return st;
}
