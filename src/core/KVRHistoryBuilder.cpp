#include "core/KVRHistoryBuilder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>
#include <tuple>

#include <sys/mman.h>
#include <unistd.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRCalendar.h"

namespace {

// Packs a short ASCII code into a number (0 when it cannot), so that the
// per-line look-ups of countries and currencies need no string hashing.
uint64_t packShortCode(const QString& s) {
  const qsizetype n = s.size();
  if (n == 0 || n > 4) return 0;
  uint64_t v = uint64_t(n);
  const QChar* p = s.constData();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = p[i].unicode();
    if (c == 0 || c > 0x7f) return 0;
    v = (v << 16) | c;
  }
  return v;
}

bool isSalesReportLine(const KVRReportEntry* e) {
  if (!e || !e->beginDate.isValid()) return false;
  if (e->type < KVREntryTypeSale || e->type > KVREntryTypeInAppPurchase) return false;
  if (!e->report) return true;
  const int t = e->report->type;
  return t == KVRReportTypeNew || t == KVRReportTypeDaily || t == KVRReportTypeWeekly ||
         t == KVRReportTypeMonthlyFree;
}

// One line once its days and value key are known.
struct Line {
  const KVRReportEntry* entry;
  int32_t key;
  KVRCivilDay day;        // first day
  int16_t spread;         // days of its span: 1 for a daily line
  int16_t uncovered = 0;  // days of the span no daily report covers (0: counts nowhere)
  int16_t currency = -1;  // index in the builder's currencies
  bool daily;             // a line of a daily report (or of no report): one day, always counted
};

// Longest span a monthly free line is spread over; beyond it the dates are
// taken for damage and the line lands on its first day.
constexpr int kLongestSpread = 366;

// The days covered by the account's daily reports, as a bitmap over the range
// they span.
class DayCoverage {
 public:
  DayCoverage() = default;
  explicit DayCoverage(const std::vector<KVRCivilDay>& days) {
    if (days.empty()) return;
    const auto [lo, hi] = std::minmax_element(days.begin(), days.end());
    first_ = *lo;
    bits_.assign(size_t(int64_t(*hi) - int64_t(*lo) + 1), 0);
    for (KVRCivilDay d : days) bits_[size_t(d - first_)] = 1;
  }
  bool covers(KVRCivilDay day) const {
    const int64_t i = int64_t(day) - int64_t(first_);
    return i >= 0 && i < int64_t(bits_.size()) && bits_[size_t(i)];
  }

 private:
  KVRCivilDay first_ = 0;
  std::vector<uint8_t> bits_;
};

// The record field a sub-type also feeds, or -1.
int subTypeField(int subType) {
  switch (subType) {
    case KVREntrySubTypePromoCode: return KVRRecordField::promoCode;
    case KVREntrySubTypeGiftPurchase: return KVRRecordField::giftPurchase;
    case KVREntrySubTypeGiftRedemption: return KVRRecordField::giftRedemption;
    case KVREntrySubTypeEducation: return KVRRecordField::eduStore;
    case KVREntrySubTypeNewSubscription: return KVRRecordField::newSubscription;
    case KVREntrySubTypeRenewal: return KVRRecordField::renewal;
    default: return -1;
  }
}

// Key texts are few and every product repeats them: one copy for all.
QString internedKeyText(const QString& text) {
  static std::mutex lock;
  static QHash<QString, QString> table;
  std::lock_guard<std::mutex> g(lock);
  auto it = table.constFind(text);
  if (it == table.constEnd()) it = table.insert(text, text);
  return *it;
}

uint32_t floatBits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// What the lines of one value key touch, and the layout of its series while
// it is summed: one float column per field that gets additions of its own;
// a field whose additions are always those of another field shares that
// field's column.
struct KeyWork {
  bool sale = false, paid = false, free = false, upgrade = false, refund = false, ads = false;
  uint8_t subTypes = 0;      // bit per sub-type field written
  uint16_t slotMask = 0;       // bit per currency slot written
  bool noSlotMoney = false;  // a line in a currency without an amount of its own
  bool oneRate = true;       // every line, every day, converts at `rate`
  bool anyRate = false;
  float rate = 1.0f;
  uint32_t count = 0;        // records
  uint32_t first = 0;        // number of its first record in the product
  int8_t column[KVRRecordField::count];  // -1: the field stays zero
  bool writes[KVRRecordField::count];    // the field adds into its column itself
  uint16_t stride = 0;                   // bytes per row while summing

  void noteRate(float r) {
    if (!anyRate) rate = r, anyRate = true;
    else if (floatBits(r) != floatBits(rate)) oneRate = false;
  }

  void layOut() {
    std::fill(std::begin(column), std::end(column), int8_t(-1));
    std::fill(std::begin(writes), std::end(writes), false);
    int8_t next = 0;
    auto own = [&](int f) {
      column[f] = next++;
      writes[f] = true;
    };
    auto share = [&](int f, int with) { column[f] = column[with]; };
    namespace F = KVRRecordField;
    if (sale) {
      own(F::sales);
      // Every sale adds to paid or to free sales as well: when all of them
      // are of one kind, that measure takes exactly the additions of sales.
      if (paid && free) own(F::paiedSales), own(F::freeSales);
      else if (paid) share(F::paiedSales, F::sales);
      else if (free) share(F::freeSales, F::sales);
    }
    if (upgrade) own(F::upgrades);
    // downloads = sales + upgrades, and x + 0 is x.
    if (sale && upgrade) own(F::downloads);
    else if (sale) share(F::downloads, F::sales);
    else if (upgrade) share(F::downloads, F::upgrades);
    if (refund) own(F::refunds);
    for (int f = 0; f < 6; ++f)
      if (subTypes & (1u << f)) own(F::promoCode + f);
    if (sale || upgrade || refund) {
      own(F::income);
      // An amount takes the income's additions when every line is in its
      // currency; the preferred-currency amount does when every rate is 1.
      const bool oneSlot = slotMask != 0 && (slotMask & (slotMask - 1)) == 0 && !noSlotMoney;
      for (int s = 0; s < KVRCurrencySlotCount; ++s) {
        if (!(slotMask & (1u << s))) continue;
        if (oneSlot) share(F::firstSlot + s, F::income);
        else own(F::firstSlot + s);
      }
      if (oneRate && anyRate && rate == 1.0f) share(F::currency, F::income);
      else own(F::currency);
    }
    if (ads)
      for (int f : {F::iAdSales, F::eCPM, F::requests, F::impressions, F::fillRate, F::ctr}) own(f);
    stride = uint16_t(next * sizeof(float));
  }
};

// The narrowest exact form of a column's values.
uint8_t encodingOf(const float* rows, size_t n, size_t strideFloats, int column, bool* allZero) {
  bool zero = true, whole = true;
  float lo = 0, hi = 0;
  for (size_t i = 0; i < n; ++i) {
    const float v = rows[i * strideFloats + size_t(column)];
    const uint32_t b = floatBits(v);
    if (b == 0) continue;
    zero = false;
    // -0 and fractions stay floats (NaN fails the comparison too).
    if (b == 0x80000000u || !(v == std::trunc(v)) || std::fabs(v) > 32768.0f) {
      whole = false;
      break;
    }
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  *allZero = zero;
  if (zero || !whole) return KVRSeriesRecords::kFloat;
  if (lo >= -128.0f && hi <= 127.0f) return KVRSeriesRecords::kInt8;
  if (lo >= -32768.0f && hi <= 32767.0f) return KVRSeriesRecords::kInt16;
  return KVRSeriesRecords::kFloat;
}

size_t widthOf(uint8_t encoding) {
  switch (encoding & KVRSeriesRecords::kEncodingMask) {
    case KVRSeriesRecords::kInt16: return 2;
    case KVRSeriesRecords::kInt8: return 1;
    default: return 4;
  }
}

}  // namespace

// The block holding one product's series: mapped at a size none of them can
// make it exceed, handed out in slices from its start, and cut to what the
// slices took. Pages never written take no memory.
class KVRProductBlock {
 public:
  explicit KVRProductBlock(size_t bound) {
    if (bound == 0) return;
    mapped_ = pageRounded(bound);
    void* p = ::mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    base_ = static_cast<uint8_t*>(p);
    *length_ = mapped_;
    owner_ = std::shared_ptr<uint8_t>(base_, [length = length_](uint8_t* q) {
      if (*length) ::munmap(q, *length);
    });
  }
  // `bytes` (zero) at the block's end, which then moves on by `reserve`.
  KVRByteBuffer take(size_t reserve, size_t bytes) {
    KVRByteBuffer b;
    if (bytes == 0) return b;
    b.borrow(std::shared_ptr<uint8_t>(owner_, base_ + used_), bytes);
    used_ += reserve;
    return b;
  }
  // Gives back the pages after the last slice.
  void finish() {
    if (!base_) return;
    const size_t keep = pageRounded(used_);
    if (keep < mapped_) ::munmap(base_ + keep, mapped_ - keep);
    *length_ = keep;
  }

 private:
  static size_t pageRounded(size_t n) {
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
  }
  uint8_t* base_ = nullptr;
  size_t mapped_ = 0, used_ = 0;
  std::shared_ptr<size_t> length_ = std::make_shared<size_t>(0);  // what the owner unmaps
  std::shared_ptr<uint8_t> owner_;
};

// Working tables kept from one build to the next.
struct KVRHistoryBuilder::Scratch {
  std::vector<Line> lines;        // in relationship order
  std::vector<uint32_t> byDate;   // their order by date
  std::vector<float> oneDayRate;  // a one-day line's rate, effective or cached (when the product has effective rates)
  std::vector<uint32_t> lineOrder;       // lines grouped by value key
  std::vector<KVRCivilDay> coveredDays;
  std::vector<int32_t> grid;             // day -> record number of the key being summed
  std::vector<float> table;              // its records being summed, float columns
  std::vector<KVRCurrencySet> cellSets;  // its records' currency sets
  std::vector<KVRCivilDay> dayOf;        // its days
};

KVRHistoryBuilder::~KVRHistoryBuilder() = default;

KVRHistoryBuilder::Services KVRHistoryBuilder::servicesFrom(const KVRCalculationServices& services) {
  Services s;
  s.regionForCountry = [](const QString& country) {
    return KVRVortelyStoreDataSource::regionForCountryCode(country);
  };
  KVRVortelyCurrencyConverter* converter = services.converter;
  KVRCalendar* calendar = services.calendar;
  const QString preferred = converter->preferedCurrency();
  s.rateToPreferred = [converter, preferred](const QString& code) {
    // A missing rate is counted at 1: the converter remembers it for the notice.
    return code.isEmpty() ? converter->rateFrom(code, preferred) : converter->rateFromNotingMissing(code, preferred);
  };
  s.civilDay = [calendar](KVRDate d) { return calendar->civilDay(d); };
  s.dateFromCivilDay = [calendar](KVRCivilDay day) { return calendar->dateFromCivilDay(day); };
  return s;
}

KVRHistoryBuilder::Services KVRHistoryBuilder::defaultServices() {
  return servicesFrom(KVRCalculationServices::shared());
}

KVRHistoryBuilder::KVRHistoryBuilder() : KVRHistoryBuilder(defaultServices()) {}

KVRHistoryBuilder::KVRHistoryBuilder(const KVRCalculationServices& services)
    : KVRHistoryBuilder(servicesFrom(services)) {}

KVRHistoryBuilder::KVRHistoryBuilder(Services services)
    : services_(std::move(services)), scratch_(std::make_unique<Scratch>()) {}

int KVRHistoryBuilder::keyIndexFor(const QString& rawCountry) {
  const uint64_t packed = packShortCode(rawCountry);
  if (packed) {
    auto it = shortCountryIndex_.find(packed);
    if (it != shortCountryIndex_.end()) return it->second;
  } else {
    auto it = countryIndex_.constFind(rawCountry);
    if (it != countryIndex_.constEnd()) return it.value();
  }
  const QString country = rawCountry.toUpper();
  QString region = services_.regionForCountry ? services_.regionForCountry(country) : QString();
  if (region.isEmpty()) region = QStringLiteral("WW");
  // Two raw spellings of one country share a key.
  int index = -1;
  const QString key = region + QLatin1Char('-') + country;
  for (size_t i = 0; i < keys_.size(); ++i)
    if (keys_[i].key == key) index = int(i);
  if (index < 0) {
    index = int(keys_.size());
    keys_.push_back(KeyInfo{internedKeyText(key), internedKeyText(region), internedKeyText(country)});
  }
  if (packed) shortCountryIndex_.emplace(packed, index);
  else countryIndex_.insert(rawCountry, index);
  return index;
}

const KVRHistoryBuilder::CurrencyInfo& KVRHistoryBuilder::currencyFor(const QString& rawCode) {
  const uint64_t packed = packShortCode(rawCode);
  if (packed) {
    auto it = shortCurrencyIndex_.find(packed);
    if (it != shortCurrencyIndex_.end()) return currencies_[size_t(it->second)];
  } else {
    auto it = currencyIndex_.constFind(rawCode);
    if (it != currencyIndex_.constEnd()) return currencies_[size_t(it.value())];
  }
  const QString code = KVRVortelyCurrencyConverter::rateCodeForCurrency(rawCode.trimmed());
  CurrencyInfo info;
  const QByteArray latin = code.toLatin1();
  const std::string_view view(latin.constData(), size_t(latin.size()));
  info.slot = KVRCurrencySlotForCode(view);
  if (!code.isEmpty()) info.set.insert(view);
  info.set.make();
  const double rate = services_.rateToPreferred ? services_.rateToPreferred(code) : 0.0;
  info.rate = KVRVortelyCurrencyConverter::isUsableRate(rate) ? float(rate) : 1.0f;
  info.code = code;
  const int index = int(currencies_.size());
  info.index = index;
  currencies_.push_back(info);
  if (packed) shortCurrencyIndex_.emplace(packed, index);
  else currencyIndex_.insert(rawCode, index);
  return currencies_.back();
}

KVRCivilDay KVRHistoryBuilder::dayFor(KVRDate date) {
  // Lines come in date order: most ask for the instant the previous one did.
  const int64_t bits = std::bit_cast<int64_t>(date.ms);
  if (lastInstantValid_ && bits == lastInstant_) return lastDay_;
  auto it = dayOfInstant_.find(bits);
  const KVRCivilDay day = it != dayOfInstant_.end() ? it->second : services_.civilDay(date);
  if (it == dayOfInstant_.end()) dayOfInstant_.emplace(bits, day);
  lastInstant_ = bits;
  lastDay_ = day;
  lastInstantValid_ = true;
  return day;
}

namespace {

// An ad line once its day and value key are known.
struct AdLine {
  const KVRiAdReportEntry* entry;
  int key;
  KVRCivilDay day;
};

// The effective rates of a (value key, currency): a run of the account's
// rates, sorted by day; empty for most.
struct Spans {
  const KVREffectiveRate* first = nullptr;
  const KVREffectiveRate* last = nullptr;
  bool empty() const { return first == last; }
  float on(KVRCivilDay day, float fallback) const {
    const KVREffectiveRate* it = std::upper_bound(
        first, last, day, [](KVRCivilDay d, const KVREffectiveRate& r) { return d < r.firstDay; });
    if (it == first) return fallback;
    --it;
    return day <= it->lastDay ? float(it->rate) : fallback;
  }
};

constexpr int32_t kMarked = -2;  // a day of the key being surveyed, not yet numbered

size_t align8(size_t n) { return (n + 7) & ~size_t(7); }

}  // namespace

// One build: its working state, and its steps in the order build() runs them.
struct KVRHistoryBuilder::Build {
  Build(KVRHistoryBuilder& builder, Scratch& scratch) : b(builder), w(scratch) {}

  void gatherSalesLines(const std::vector<KVRReportEntry*>& entries, const std::vector<KVRReport*>& accountReports);
  void orderLinesByDate();
  void gatherAdLines(const std::vector<KVRiAdReportEntry*>& adEntries);
  void findDaySpan();
  Spans spansFor(int key, const CurrencyInfo& cur);
  void countAllTimeTotals();
  void groupLinesByValueKey();
  size_t seriesBound() const;
  void prepareDayGrid();
  int32_t& cellOf(KVRCivilDay day);
  KeyWork surveyKey(const uint32_t* keyLines, size_t lineCount, const uint32_t* keyAds, size_t adCount);
  void sumKeyRecords(const KeyWork& k, const uint32_t* keyLines, size_t lineCount, const uint32_t* keyAds,
                     size_t adCount);
  void writeSeries(int key, const KeyWork& k, KVRProductValues& values, KVRProductBlock& block);
  KVRProductValuesRef writeAllSeries(const KVRProductValues* previous = nullptr,
                                     const QSet<QString>* regions = nullptr);

  KVRHistoryBuilder& b;
  Scratch& w;
  DayCoverage coverage;
  std::vector<AdLine> ads;
  KVRCivilDay firstDay = 0, lastDay = -1;  // the days any line touches
  bool any = false;
  bool withRates = false;  // the product's account has effective rates
  std::unordered_map<uint64_t, Spans> spansByKeyAndCurrency;
  float totalSales = 0, totalUpgrades = 0, totalIncomes = 0;
  float adFactor = 1.0f;
  size_t keyCount = 0;
  std::vector<uint32_t> lineStart, adStart, adOrder;  // lines and ad lines grouped by value key
  bool dense = false;
  std::unordered_map<KVRCivilDay, int32_t> sparse;
};

// Sales lines with their value key, first day and span, and the days daily
// reports cover (the account's daily reports and the product's daily lines).
void KVRHistoryBuilder::Build::gatherSalesLines(const std::vector<KVRReportEntry*>& entries,
                                                const std::vector<KVRReport*>& accountReports) {
  std::vector<Line>& lines = w.lines;
  lines.clear();
  lines.reserve(entries.size());
  std::vector<KVRCivilDay>& coveredDays = w.coveredDays;
  coveredDays.clear();
  for (const KVRReport* r : accountReports)
    if (r && r->type == KVRReportTypeDaily && r->beginDate.isValid()) coveredDays.push_back(b.dayFor(r->beginDate));
  for (const KVRReportEntry* e : entries) {
    if (!isSalesReportLine(e)) continue;
    Line l{e, b.keyIndexFor(e->country), b.dayFor(e->beginDate), 1, 0, -1, true};
    const KVRCivilDay endDay = e->endDate.isValid() ? b.dayFor(e->endDate) : l.day;
    const int reportType = e->report ? e->report->type : KVRReportTypeNew;
    if (reportType == KVRReportTypeWeekly || endDay - l.day == 6 || endDay - l.day == 7) {
      l.spread = 7;
      l.daily = false;
    } else if (reportType == KVRReportTypeMonthlyFree) {
      // Its begin to end days; an end on the same day of a later month is
      // the first instant after the span.
      KVRCivilDay last = endDay;
      if (last > l.day && KVRYMDFromCivilDay(last).day == KVRYMDFromCivilDay(l.day).day) --last;
      const int64_t span = int64_t(last) - int64_t(l.day) + 1;
      l.spread = int16_t(span >= 1 && span <= kLongestSpread ? span : 1);
      l.daily = false;
    }
    // Any other line is a daily line, whatever its end (the same day or the
    // next midnight).
    if (l.daily) coveredDays.push_back(l.day);
    lines.push_back(l);
  }
  coverage = DayCoverage(coveredDays);
}

// The order of the lines: by date, then objectID, then relationship order.
void KVRHistoryBuilder::Build::orderLinesByDate() {
  const std::vector<Line>& lines = w.lines;
  auto lineBefore = [](const Line& a, const Line& b) {
    if (a.entry->beginDate.ms != b.entry->beginDate.ms) return a.entry->beginDate.ms < b.entry->beginDate.ms;
    return a.entry->objectID < b.entry->objectID;
  };
  std::vector<uint32_t>& byDate = w.byDate;
  byDate.resize(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) byDate[i] = uint32_t(i);
  auto before = [&](uint32_t a, uint32_t b) {
    return lineBefore(lines[a], lines[b]) || (!lineBefore(lines[b], lines[a]) && a < b);
  };
  if (!std::is_sorted(byDate.begin(), byDate.end(), before)) std::sort(byDate.begin(), byDate.end(), before);
}

// Ad lines, in date then objectID order.
void KVRHistoryBuilder::Build::gatherAdLines(const std::vector<KVRiAdReportEntry*>& adEntries) {
  std::vector<const KVRiAdReportEntry*> sortedAds;
  sortedAds.reserve(adEntries.size());
  for (const KVRiAdReportEntry* a : adEntries)
    if (a && a->date.isValid()) sortedAds.push_back(a);
  auto adBefore = [](const KVRiAdReportEntry* a, const KVRiAdReportEntry* b) {
    if (a->date.ms != b->date.ms) return a->date.ms < b->date.ms;
    return a->objectID < b->objectID;
  };
  if (!std::is_sorted(sortedAds.begin(), sortedAds.end(), adBefore))
    std::stable_sort(sortedAds.begin(), sortedAds.end(), adBefore);
  ads.reserve(sortedAds.size());
  for (const KVRiAdReportEntry* a : sortedAds) ads.push_back(AdLine{a, b.keyIndexFor(a->country), b.dayFor(a->date)});
}

// The first and last days any line touches.
void KVRHistoryBuilder::Build::findDaySpan() {
  auto cover = [&](KVRCivilDay a, KVRCivilDay z) {
    if (!any) {
      firstDay = a;
      lastDay = z;
      any = true;
      return;
    }
    firstDay = std::min(firstDay, a);
    lastDay = std::max(lastDay, z);
  };
  for (const Line& l : w.lines) cover(l.day, l.day + l.spread - 1);
  for (const AdLine& a : ads) cover(a.day, a.day);
}

Spans KVRHistoryBuilder::Build::spansFor(int key, const CurrencyInfo& cur) {
  const KVREffectiveRatesRef& rates = b.effectiveRates_;
  if (!rates || rates->empty()) return {};
  const uint64_t id = (uint64_t(uint32_t(key)) << 32) | uint32_t(cur.index);
  auto it = spansByKeyAndCurrency.find(id);
  if (it != spansByKeyAndCurrency.end()) return it->second;
  const QString& region = b.keys_[size_t(key)].region;
  const std::pair<const QString&, const QString&> wanted(region, cur.code);
  auto lo = std::lower_bound(rates->begin(), rates->end(), wanted, [](const KVREffectiveRate& r, const auto& k) {
    return std::tie(r.region, r.currency) < std::tie(k.first, k.second);
  });
  auto hi = std::upper_bound(lo, rates->end(), wanted, [](const auto& k, const KVREffectiveRate& r) {
    return std::tie(k.first, k.second) < std::tie(r.region, r.currency);
  });
  Spans spans;
  if (lo != hi) spans = {&*lo, &*lo + (hi - lo)};
  spansByKeyAndCurrency.emplace(id, spans);
  return spans;
}

// The days of the span the daily reports leave to each line (0: the line
// counts nowhere), its currency, and the all-time totals.
void KVRHistoryBuilder::Build::countAllTimeTotals() {
  std::vector<Line>& lines = w.lines;
  withRates = b.effectiveRates_ && !b.effectiveRates_->empty();
  if (withRates) w.oneDayRate.resize(lines.size());
  for (const uint32_t li : w.byDate) {
    Line& l = lines[li];
    int uncovered = l.spread;
    if (!l.daily)
      for (int i = 0; i < l.spread; ++i)
        if (coverage.covers(l.day + i)) --uncovered;
    l.uncovered = int16_t(uncovered);
    if (uncovered == 0) continue;
    const KVRReportEntry* e = l.entry;
    const CurrencyInfo& cur = b.currencyFor(e->currency);
    l.currency = int16_t(&cur - b.currencies_.data());
    const float count = float(e->count);
    const float lineIncome = count * float(e->income) / 100.0f;
    const Spans spans = spansFor(l.key, cur);
    // The line's part of the all-time totals: whole when no day of its span
    // is covered, else uncovered / spread of it, rounded once.
    const bool whole = uncovered == l.spread;
    const float countPart = whole ? count : float(double(e->count) * uncovered / l.spread);
    const float incomePart = whole ? lineIncome : float(double(lineIncome) * uncovered / l.spread);
    switch (e->type) {
      case KVREntryTypeSale:
      case KVREntryTypeInAppPurchase: totalSales += countPart; break;
      case KVREntryTypeUpgrade: totalUpgrades += countPart; break;
      default: break;
    }
    // A one-day line's rate, found once for the totals and its record.
    if (withRates && l.spread == 1) w.oneDayRate[li] = spans.empty() ? cur.rate : spans.on(l.day, cur.rate);
    // Converted at the effective rates, a spread line adds its income day
    // by day, each uncovered day's share at that day's rate.
    if (spans.empty()) {
      totalIncomes += incomePart * cur.rate;
    } else if (l.spread == 1) {
      totalIncomes += incomePart * w.oneDayRate[li];
    } else {
      const float dayIncome = lineIncome / float(l.spread);
      for (int i = 0; i < l.spread; ++i)
        if (l.daily || !coverage.covers(l.day + i)) totalIncomes += dayIncome * spans.on(l.day + i, cur.rate);
    }
  }
  // The ad network pays in dollars; the screens show its money in the
  // preferred currency, so revenue and eCPM are converted at the cached dollar
  // rate (kept in dollars when no rate is known).
  adFactor = ads.empty() ? 1.0f : b.currencyFor(QStringLiteral("USD")).rate;
}

// The lines grouped by value key, each group in line order: the additions
// into any record come from its key's lines only, in line order.
void KVRHistoryBuilder::Build::groupLinesByValueKey() {
  const std::vector<Line>& lines = w.lines;
  keyCount = b.keys_.size();
  lineStart.assign(keyCount + 1, 0);
  adStart.assign(keyCount + 1, 0);
  for (const Line& l : lines)
    if (l.uncovered) ++lineStart[size_t(l.key) + 1];
  for (const AdLine& a : ads) ++adStart[size_t(a.key) + 1];
  for (size_t k = 0; k < keyCount; ++k) {
    lineStart[k + 1] += lineStart[k];
    adStart[k + 1] += adStart[k];
  }
  std::vector<uint32_t>& lineOrder = w.lineOrder;
  lineOrder.resize(lineStart[keyCount]);
  adOrder.assign(adStart[keyCount], 0);
  std::vector<uint32_t> next(lineStart.begin(), lineStart.end() - 1), nextAd(adStart.begin(), adStart.end() - 1);
  for (const uint32_t i : w.byDate)
    if (lines[i].uncovered) lineOrder[next[size_t(lines[i].key)]++] = i;
  for (size_t i = 0; i < ads.size(); ++i) adOrder[nextAd[size_t(ads[i].key)]++] = uint32_t(i);
}

// A size no series of the product can make its block exceed.
size_t KVRHistoryBuilder::Build::seriesBound() const {
  namespace F = KVRRecordField;
  size_t bound = 0;
  for (size_t key = 0; key < keyCount; ++key) {
    size_t records = adStart[key + 1] - adStart[key];
    for (uint32_t i = lineStart[key]; i < lineStart[key + 1]; ++i)
      records += size_t(w.lines[w.lineOrder[i]].uncovered);
    if (records == 0) continue;
    bound += align8(records * sizeof(KVRCivilDay)) +
             align8(F::count * sizeof(KVRSeriesRecords::FieldOp) + records * F::count * sizeof(float));
  }
  return bound;
}

// Day -> record number of the key being summed: a dense array over the
// product's days, or a hash map when they lie centuries apart.
void KVRHistoryBuilder::Build::prepareDayGrid() {
  const int64_t span = any ? int64_t(lastDay) - int64_t(firstDay) + 1 : 0;
  dense = span > 0 && span <= (int64_t(1) << 22);
  if (dense) w.grid.assign(size_t(span), -1);
}

int32_t& KVRHistoryBuilder::Build::cellOf(KVRCivilDay day) {
  if (dense) return w.grid[size_t(int64_t(day) - firstDay)];
  return sparse.try_emplace(day, -1).first->second;
}

// What a key's lines touch, and its days (in w.dayOf, sorted, each day's
// cell its record number).
KeyWork KVRHistoryBuilder::Build::surveyKey(const uint32_t* keyLines, size_t lineCount, const uint32_t* keyAds,
                                            size_t adCount) {
  namespace F = KVRRecordField;
  KeyWork k;
  std::vector<KVRCivilDay>& days = w.dayOf;
  days.clear();
  auto mark = [&](KVRCivilDay day) {
    int32_t& cell = cellOf(day);
    if (cell == -1) cell = kMarked, days.push_back(day);
  };
  for (size_t j = 0; j < lineCount; ++j) {
    const Line& l = w.lines[keyLines[j]];
    const KVRReportEntry* e = l.entry;
    const CurrencyInfo& cur = b.currencies_[size_t(l.currency)];
    switch (e->type) {
      case KVREntryTypeSale:
      case KVREntryTypeInAppPurchase:
        k.sale = true;
        (e->income == 0 ? k.free : k.paid) = true;
        break;
      case KVREntryTypeUpgrade: k.upgrade = true; break;
      case KVREntryTypeRefund: k.refund = true; break;
      default: break;
    }
    if (e->type != KVREntryTypeRefund && e->subType != KVREntrySubTypeStandard) {
      const int f = subTypeField(e->subType);
      if (f >= 0) k.subTypes |= uint8_t(1u << (f - F::promoCode));
    }
    if (cur.slot >= 0) k.slotMask |= uint16_t(1u << cur.slot);
    else k.noSlotMoney = true;
    // A one-day line's rate was found with the totals; the days of a
    // spread line with effective rates each have their own.
    const Spans spans = l.spread == 1 ? Spans{} : spansFor(l.key, cur);
    if (spans.empty()) k.noteRate(withRates && l.spread == 1 ? w.oneDayRate[keyLines[j]] : cur.rate);
    for (int i = 0; i < l.spread; ++i) {
      if (!l.daily && coverage.covers(l.day + i)) continue;
      mark(l.day + i);
      if (!spans.empty()) k.noteRate(spans.on(l.day + i, cur.rate));
    }
  }
  k.ads = adCount > 0;
  for (size_t j = 0; j < adCount; ++j) mark(ads[keyAds[j]].day);
  std::sort(days.begin(), days.end());
  const size_t n = days.size();
  for (size_t i = 0; i < n; ++i) cellOf(days[i]) = int32_t(i);
  k.count = uint32_t(n);
  k.layOut();
  return k;
}

// The key's records summed in float columns (w.table) with their currency
// sets (w.cellSets), the lines in line order.
void KVRHistoryBuilder::Build::sumKeyRecords(const KeyWork& k, const uint32_t* keyLines, size_t lineCount,
                                             const uint32_t* keyAds, size_t adCount) {
  namespace F = KVRRecordField;
  const size_t n = k.count;
  const size_t width = k.stride / sizeof(float);
  w.table.assign(n * width, 0.0f);
  w.cellSets.assign(n, KVRCurrencySet());
  float* rows = w.table.data();
  for (size_t j = 0; j < lineCount; ++j) {
    const Line& l = w.lines[keyLines[j]];
    const KVRReportEntry* e = l.entry;
    const CurrencyInfo& cur = b.currencies_[size_t(l.currency)];
    const float count = float(e->count);
    const float lineIncome = count * float(e->income) / 100.0f;
    const float divisor = float(l.spread);
    const float dayCount = l.spread == 1 ? count : count / divisor;
    const float dayIncome = l.spread == 1 ? lineIncome : lineIncome / divisor;
    const Spans spans = l.spread == 1 ? Spans{} : spansFor(l.key, cur);
    const float dayCurrency = dayIncome * (withRates && l.spread == 1 ? w.oneDayRate[keyLines[j]] : cur.rate);
    const int subField = e->type != KVREntryTypeRefund && e->subType != KVREntrySubTypeStandard
                             ? subTypeField(e->subType) : -1;
    const int slotField = cur.slot >= 0 ? F::firstSlot + cur.slot : -1;
    for (int i = 0; i < l.spread; ++i) {
      if (!l.daily && coverage.covers(l.day + i)) continue;
      const int32_t cell = cellOf(l.day + i);
      float* r = rows + size_t(cell) * width;
      auto add = [&](int f, float v) {
        if (k.writes[f]) r[k.column[f]] += v;
      };
      switch (e->type) {
        case KVREntryTypeSale:
        case KVREntryTypeInAppPurchase:
          add(F::sales, dayCount);
          add(e->income == 0 ? F::freeSales : F::paiedSales, dayCount);
          break;
        case KVREntryTypeUpgrade: add(F::upgrades, dayCount); break;
        case KVREntryTypeRefund: add(F::refunds, std::fabs(dayCount)); break;
        default: break;
      }
      if (subField >= 0) add(subField, dayCount);
      add(F::income, dayIncome);
      if (slotField >= 0) add(slotField, dayIncome);
      w.cellSets[size_t(cell)].unite(cur.set);
      add(F::currency, spans.empty() ? dayCurrency : dayIncome * spans.on(l.day + i, cur.rate));
    }
  }
  for (size_t j = 0; j < adCount; ++j) {
    const AdLine& l = ads[keyAds[j]];
    const KVRiAdReportEntry* a = l.entry;
    float* r = rows + size_t(cellOf(l.day)) * width;
    r[k.column[F::iAdSales]] += a->revenue * adFactor;
    r[k.column[F::requests]] += a->requests;
    r[k.column[F::impressions]] += a->impressions;
    r[k.column[F::eCPM]] += (a->eCPM * adFactor) * a->impressions;
    r[k.column[F::ctr]] += a->ctr * a->impressions;
    r[k.column[F::fillRate]] += a->fillRate * a->requests;
  }
}

// The key's series written once at its final size: fields that stayed zero
// leave the row, whole numbers shrink to 8 or 16 bits, downloads are read as
// sales + upgrades (the build's own sum), and the preferred-currency amount
// as income x rate when that gives every record's amount bit for bit. The
// key's days leave the day grid.
void KVRHistoryBuilder::Build::writeSeries(int key, const KeyWork& k, KVRProductValues& values,
                                           KVRProductBlock& block) {
  namespace F = KVRRecordField;
  const std::vector<KVRCivilDay>& days = w.dayOf;
  const size_t n = k.count;
  const size_t width = k.stride / sizeof(float);
  const float* rows = w.table.data();
  std::vector<uint8_t> encoding(width, KVRSeriesRecords::kFloat);
  std::vector<char> kept(width, 0);
  for (size_t c = 0; c < width; ++c) {
    bool zero = false;
    encoding[c] = encodingOf(rows, n, width, int(c), &zero);
    kept[c] = !zero;
  }
  bool scaledCurrency = false;
  if (k.writes[F::currency] && k.oneRate && k.anyRate && kept[size_t(k.column[F::currency])]) {
    const size_t ci = size_t(k.column[F::currency]), ii = size_t(k.column[F::income]);
    scaledCurrency = kept[ii];
    for (size_t i = 0; i < n && scaledCurrency; ++i)
      scaledCurrency = floatBits(rows[i * width + ii] * k.rate) == floatBits(rows[i * width + ci]);
    if (scaledCurrency) kept[ci] = 0;
  }
  if (k.writes[F::downloads]) kept[size_t(k.column[F::downloads])] = 0;  // never stored: a sum
  // The kept columns, floats first (then 16 and 8 bits), in column order.
  std::vector<uint16_t> offset(width, 0);
  uint16_t stride = 0;
  for (uint8_t pass = 0; pass < 3; ++pass)
    for (size_t c = 0; c < width; ++c)
      if (kept[c] && encoding[c] == pass) {
        offset[c] = stride;
        stride = uint16_t(stride + widthOf(encoding[c]));
      }
  auto opOf = [&](int f, KVRSeriesRecords::FieldOp* op) {
    const int c = k.column[f];
    if (c < 0 || !kept[size_t(c)]) return false;
    *op = {uint8_t(f), encoding[size_t(c)], offset[size_t(c)], 0, 0, 0};
    return true;
  };
  std::vector<KVRSeriesRecords::FieldOp> ops;
  for (int f = 0; f < F::count; ++f) {
    KVRSeriesRecords::FieldOp op{};
    if (f == F::currency && scaledCurrency) {
      if (opOf(F::income, &op)) {
        op.field = uint8_t(f);
        op.encoding |= KVRSeriesRecords::kScaled;
        ops.push_back(op);
      }
    } else if (f == F::downloads && k.writes[F::downloads]) {
      KVRSeriesRecords::FieldOp a{}, c{};
      const bool hasA = opOf(F::sales, &a), hasC = opOf(F::upgrades, &c);
      if (hasA && hasC) {
        ops.push_back({uint8_t(f), uint8_t(a.encoding | KVRSeriesRecords::kSum), a.offset, c.encoding, 0, c.offset});
      } else if (hasA || hasC) {
        op = hasA ? a : c;  // x + 0 is x
        op.field = uint8_t(f);
        ops.push_back(op);
      }
    } else if (opOf(f, &op)) {
      ops.push_back(op);
    }
  }

  const KeyInfo& info = b.keys_[size_t(key)];
  KVRValueSeries& series = values.series.emplace_back();
  series.valueKey = info.key;
  series.region = info.region;
  series.country = info.country;
  const size_t daysBytes = KVRSeriesDays::layoutBytes(days.data(), n);
  series.days.assign(days.data(), n, block.take(align8(daysBytes), daysBytes));
  KVRSeriesRecords& recs = series.records;
  for (size_t i = 0; i < n; ++i) recs.noteSet(i, w.cellSets[i]);
  recs.arrangeOps(ops);
  recs.stride_ = stride;
  recs.scale_ = scaledCurrency ? k.rate : 1.0f;
  recs.count_ = uint32_t(n);
  recs.capacity_ = uint32_t(n);
  const size_t opsBytes = ops.size() * sizeof(KVRSeriesRecords::FieldOp);
  const size_t opsAt = KVRSeriesRecords::opsOffset(n, stride);
  const size_t recordsBytes = opsAt + opsBytes;
  recs.block_ = block.take(align8(recordsBytes), recordsBytes);
  uint8_t* out = const_cast<uint8_t*>(recs.block_.data());  // this build's own, still unshared
  if (opsBytes) std::memcpy(out + opsAt, ops.data(), opsBytes);
  for (size_t i = 0; i < n; ++i, out += stride) {
    const float* in = rows + i * width;
    for (size_t c = 0; c < width; ++c) {
      if (!kept[c]) continue;
      const float v = in[c];
      switch (encoding[c]) {
        case KVRSeriesRecords::kInt16: {
          const int16_t x = int16_t(v);
          std::memcpy(out + offset[c], &x, sizeof x);
          break;
        }
        case KVRSeriesRecords::kInt8: out[offset[c]] = uint8_t(int8_t(v)); break;
        default: std::memcpy(out + offset[c], &v, sizeof v); break;
      }
    }
  }
  for (KVRCivilDay d : days) cellOf(d) = -1;
}

// Every key's series, in key order, into one block mapped at a size no
// series can exceed (untouched pages take no memory) and cut to what they
// took. With `previous`, the series of a key whose region is not among
// `regions` is taken from it as it is.
KVRProductValuesRef KVRHistoryBuilder::Build::writeAllSeries(const KVRProductValues* previous,
                                                             const QSet<QString>* regions) {
  KVRProductBlock block(seriesBound());
  prepareDayGrid();
  std::vector<int> keyOfRank(keyCount);
  for (size_t i = 0; i < keyCount; ++i) keyOfRank[i] = int(i);
  const std::vector<KeyInfo>& keys = b.keys_;
  std::sort(keyOfRank.begin(), keyOfRank.end(),
            [&keys](int x, int y) { return keys[size_t(x)].key < keys[size_t(y)].key; });
  auto values = std::make_shared<KVRProductValues>();
  values->dateOfDay = b.services_.dateFromCivilDay;
  {
    size_t withRecords = 0;
    for (size_t key = 0; key < keyCount; ++key)
      withRecords += lineStart[key + 1] > lineStart[key] || adStart[key + 1] > adStart[key];
    values->series.reserve(withRecords);
  }
  for (const int key : keyOfRank) {
    const uint32_t* keyLines = w.lineOrder.data() + lineStart[size_t(key)];
    const size_t lineCount = lineStart[size_t(key) + 1] - lineStart[size_t(key)];
    const uint32_t* keyAds = adOrder.data() + adStart[size_t(key)];
    const size_t adCount = adStart[size_t(key) + 1] - adStart[size_t(key)];
    if (lineCount == 0 && adCount == 0) continue;
    if (previous && !regions->contains(keys[size_t(key)].region))
      if (const KVRValueSeries* kept = previous->find(keys[size_t(key)].key)) {
        values->series.push_back(*kept);
        continue;
      }
    const KeyWork k = surveyKey(keyLines, lineCount, keyAds, adCount);
    sumKeyRecords(k, keyLines, lineCount, keyAds, adCount);
    writeSeries(key, k, *values, block);
  }
  block.finish();
  return values;
}

KVRHistory KVRHistoryBuilder::build(const std::vector<KVRReportEntry*>& entries,
                                    const std::vector<KVRiAdReportEntry*>& adEntries,
                                    const std::vector<KVRReport*>& accountReports) {
  return rebuild(entries, adEntries, accountReports, nullptr, {});
}

KVRHistory KVRHistoryBuilder::rebuild(const std::vector<KVRReportEntry*>& entries,
                                      const std::vector<KVRiAdReportEntry*>& adEntries,
                                      const std::vector<KVRReport*>& accountReports,
                                      const KVRProductValues* previous, const QSet<QString>& regions) {
  Build run(*this, *scratch_);
  run.gatherSalesLines(entries, accountReports);
  run.orderLinesByDate();
  run.gatherAdLines(adEntries);
  run.findDaySpan();
  run.countAllTimeTotals();
  run.groupLinesByValueKey();
  KVRHistory history;
  history.values = run.writeAllSeries(previous, &regions);
  history.totalSales = run.totalSales;
  history.totalUpgrades = run.totalUpgrades;
  history.totalIncomes = run.totalIncomes;
  return history;
}
