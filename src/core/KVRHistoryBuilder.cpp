#include "core/KVRHistoryBuilder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <tuple>

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
  int key;
  KVRCivilDay day;  // first day
  int spread;       // days of its span: 1 for a daily line
  bool daily;       // a line of a daily report (or of no report): one day, always counted
};

// Longest span a monthly free line is spread over; beyond it the dates are
// taken for damage and the line lands on its first day.
constexpr int kLongestSpread = 366;

// The days covered by the account's daily reports, as a bitmap over the range
// they span.
class DayCoverage {
 public:
  explicit DayCoverage(std::vector<KVRCivilDay> days) {
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

struct Slot {
  int key;
  KVRCivilDay day;
  KVRTotalsStruct record;
};

// The records being built, reached by value key and day. Lines of one product
// span a limited range of days, so a dense key x day grid of record indexes
// serves them without hashing; a grid that would be too large (lines decades
// apart) falls back to a hash map.
class SlotTable {
 public:
  SlotTable(int keyCount, KVRCivilDay firstDay, KVRCivilDay lastDay) : keys_(keyCount), first_(firstDay) {
    const int64_t span = int64_t(lastDay) - int64_t(firstDay) + 1;
    if (keyCount > 0 && span > 0 && int64_t(keyCount) * span <= (int64_t(1) << 24)) {
      span_ = span;
      grid_.assign(size_t(int64_t(keyCount) * span), -1);
    }
  }
  void reserve(size_t n) { slots_.reserve(dense() ? std::min(n, grid_.size()) : n); }
  bool dense() const { return span_ > 0; }

  KVRTotalsStruct& at(int key, KVRCivilDay day) {
    if (dense()) {
      int32_t& index = grid_[size_t(int64_t(key) * span_ + (int64_t(day) - first_))];
      if (index < 0) {
        index = int32_t(slots_.size());
        slots_.push_back(Slot{key, day, KVRTotalsStruct{}});
      }
      return slots_[size_t(index)].record;
    }
    const uint64_t k = (uint64_t(uint32_t(key)) << 32) | uint32_t(day);
    auto [it, inserted] = index_.try_emplace(k, slots_.size());
    if (inserted) slots_.push_back(Slot{key, day, KVRTotalsStruct{}});
    return slots_[it->second].record;
  }

  std::vector<Slot>& entries() { return slots_; }

  // Record indexes by key rank, then day ascending.
  std::vector<uint32_t> ordered(const std::vector<int>& keyOfRank, const std::vector<int>& rankOfKey) const {
    std::vector<uint32_t> order;
    order.reserve(slots_.size());
    if (dense()) {
      for (int key : keyOfRank) {
        const int32_t* row = grid_.data() + int64_t(key) * span_;
        for (int64_t d = 0; d < span_; ++d)
          if (row[d] >= 0) order.push_back(uint32_t(row[d]));
      }
      return order;
    }
    for (size_t i = 0; i < slots_.size(); ++i) order.push_back(uint32_t(i));
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      const Slot& x = slots_[a];
      const Slot& y = slots_[b];
      const int rx = rankOfKey[size_t(x.key)], ry = rankOfKey[size_t(y.key)];
      return rx != ry ? rx < ry : x.day < y.day;
    });
    return order;
  }

 private:
  int keys_;
  KVRCivilDay first_;
  int64_t span_ = 0;
  std::vector<int32_t> grid_;
  std::vector<Slot> slots_;
  std::unordered_map<uint64_t, size_t> index_;
};

float& subTypeMeasure(KVRTotalsStruct& r, int subType, bool* ok) {
  *ok = true;
  switch (subType) {
    case KVREntrySubTypePromoCode: return r.promoCode;
    case KVREntrySubTypeGiftPurchase: return r.giftPurchase;
    case KVREntrySubTypeGiftRedemption: return r.giftRedemption;
    case KVREntrySubTypeEducation: return r.eduStore;
    case KVREntrySubTypeNewSubscription: return r.newSubscription;
    case KVREntrySubTypeRenewal: return r.renewal;
    default: *ok = false; return r.promoCode;
  }
}

}  // namespace

KVRHistoryBuilder::Services KVRHistoryBuilder::defaultServices() {
  Services s;
  s.regionForCountry = [](const QString& country) {
    return KVRVortelyStoreDataSource::regionForCountryCode(country);
  };
  const QString preferred = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency();
  s.rateToPreferred = [preferred](const QString& code) {
    KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
    // A missing rate is counted at 1: the converter remembers it for the notice.
    return code.isEmpty() ? converter.rateFrom(code, preferred) : converter.rateFromNotingMissing(code, preferred);
  };
  s.civilDay = [](KVRDate d) { return KVRCalendar::shared().civilDay(d); };
  s.dateFromCivilDay = [](KVRCivilDay day) { return KVRCalendar::shared().dateFromCivilDay(day); };
  return s;
}

KVRHistoryBuilder::KVRHistoryBuilder() : KVRHistoryBuilder(defaultServices()) {}

KVRHistoryBuilder::KVRHistoryBuilder(Services services) : services_(std::move(services)) {}

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
    keys_.push_back(KeyInfo{key, region, country});
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

KVRDate KVRHistoryBuilder::dateForDay(KVRCivilDay day) {
  auto it = dateOfDay_.find(day);
  if (it != dateOfDay_.end()) return it->second;
  const KVRDate date = services_.dateFromCivilDay ? services_.dateFromCivilDay(day) : KVRDate();
  dateOfDay_.emplace(day, date);
  return date;
}

KVRHistory KVRHistoryBuilder::build(const std::vector<KVRReportEntry*>& entries,
                                    const std::vector<KVRiAdReportEntry*>& adEntries,
                                    const std::vector<KVRReport*>& accountReports) {
  KVRHistory history;

  // Sales lines, in date then objectID order (relationship order on ties).
  std::vector<const KVRReportEntry*> sorted;
  sorted.reserve(entries.size());
  for (const KVRReportEntry* e : entries)
    if (isSalesReportLine(e)) sorted.push_back(e);
  auto lineBefore = [](const KVRReportEntry* a, const KVRReportEntry* b) {
    if (a->beginDate.ms != b->beginDate.ms) return a->beginDate.ms < b->beginDate.ms;
    return a->objectID < b->objectID;
  };
  if (!std::is_sorted(sorted.begin(), sorted.end(), lineBefore))
    std::stable_sort(sorted.begin(), sorted.end(), lineBefore);

  std::vector<Line> lines;
  lines.reserve(sorted.size());
  std::vector<KVRCivilDay> coveredDays;
  for (const KVRReport* r : accountReports)
    if (r && r->type == KVRReportTypeDaily && r->beginDate.isValid()) coveredDays.push_back(dayFor(r->beginDate));
  for (const KVRReportEntry* e : sorted) {
    Line l{e, keyIndexFor(e->country), dayFor(e->beginDate), 1, true};
    const KVRCivilDay endDay = e->endDate.isValid() ? dayFor(e->endDate) : l.day;
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
      l.spread = span >= 1 && span <= kLongestSpread ? int(span) : 1;
      l.daily = false;
    }
    // Any other line is a daily line, whatever its end (the same day or the
    // next midnight).
    if (l.daily) coveredDays.push_back(l.day);
    lines.push_back(l);
  }
  const DayCoverage coverage(std::move(coveredDays));

  // Ad lines, in date then objectID order.
  struct AdLine { const KVRiAdReportEntry* entry; int key; KVRCivilDay day; };
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
  std::vector<AdLine> ads;
  ads.reserve(sortedAds.size());
  for (const KVRiAdReportEntry* a : sortedAds) ads.push_back(AdLine{a, keyIndexFor(a->country), dayFor(a->date)});

  KVRCivilDay firstDay = 0, lastDay = -1;
  bool any = false;
  auto cover = [&](KVRCivilDay a, KVRCivilDay b) {
    if (!any) { firstDay = a; lastDay = b; any = true; return; }
    firstDay = std::min(firstDay, a);
    lastDay = std::max(lastDay, b);
  };
  for (const Line& l : lines) cover(l.day, l.day + l.spread - 1);
  for (const AdLine& a : ads) cover(a.day, a.day);

  SlotTable table(int(keys_.size()), firstDay, lastDay);
  {
    size_t cells = ads.size();
    for (const Line& l : lines) cells += size_t(l.spread);
    table.reserve(cells);
  }
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
  std::unordered_map<uint64_t, Spans> spansByKeyAndCurrency;
  auto spansFor = [&](int key, const CurrencyInfo& cur) -> Spans {
    if (!effectiveRates_ || effectiveRates_->empty()) return {};
    const uint64_t id = (uint64_t(uint32_t(key)) << 32) | uint32_t(cur.index);
    auto it = spansByKeyAndCurrency.find(id);
    if (it != spansByKeyAndCurrency.end()) return it->second;
    const QString& region = keys_[size_t(key)].region;
    const std::pair<const QString&, const QString&> wanted(region, cur.code);
    auto lo = std::lower_bound(effectiveRates_->begin(), effectiveRates_->end(), wanted,
                               [](const KVREffectiveRate& r, const auto& k) {
                                 return std::tie(r.region, r.currency) < std::tie(k.first, k.second);
                               });
    auto hi = std::upper_bound(lo, effectiveRates_->end(), wanted, [](const auto& k, const KVREffectiveRate& r) {
      return std::tie(k.first, k.second) < std::tie(r.region, r.currency);
    });
    Spans spans;
    if (lo != hi) spans = {&*lo, &*lo + (hi - lo)};
    spansByKeyAndCurrency.emplace(id, spans);
    return spans;
  };

  float totalSales = 0, totalUpgrades = 0, totalIncomes = 0;
  for (const Line& l : lines) {
    // The days of the span the daily reports leave to this line.
    int uncovered = l.spread;
    if (!l.daily)
      for (int i = 0; i < l.spread; ++i)
        if (coverage.covers(l.day + i)) --uncovered;
    if (uncovered == 0) continue;

    const KVRReportEntry* e = l.entry;
    const CurrencyInfo& cur = currencyFor(e->currency);
    const float count = float(e->count);
    const float lineIncome = count * float(e->income) / 100.0f;
    const float divisor = float(l.spread);
    const float dayCount = l.spread == 1 ? count : count / divisor;
    const float dayIncome = l.spread == 1 ? lineIncome : lineIncome / divisor;
    const Spans spans = spansFor(l.key, cur);
    const float dayCurrency = dayIncome * cur.rate;
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
    if (spans.empty()) totalIncomes += incomePart * cur.rate;
    else if (l.spread == 1) totalIncomes += incomePart * spans.on(l.day, cur.rate);

    for (int i = 0; i < l.spread; ++i) {
      if (!l.daily && coverage.covers(l.day + i)) continue;
      KVRTotalsStruct& r = table.at(l.key, l.day + i);
      switch (e->type) {
        case KVREntryTypeSale:
        case KVREntryTypeInAppPurchase:
          r.sales += dayCount;
          if (e->income == 0) r.freeSales += dayCount;
          else r.paiedSales += dayCount;
          break;
        case KVREntryTypeUpgrade: r.upgrades += dayCount; break;
        case KVREntryTypeRefund: r.refunds += std::fabs(dayCount); break;
        default: break;
      }
      if (e->type != KVREntryTypeRefund && e->subType != KVREntrySubTypeStandard) {
        bool ok = false;
        float& m = subTypeMeasure(r, e->subType, &ok);
        if (ok) m += dayCount;
      }
      r.income += dayIncome;
      if (cur.slot >= 0) r.currencyAmount(KVRCurrencySlot(cur.slot)) += dayIncome;
      r.currencies.unite(cur.set);
      if (spans.empty()) {
        r.currency += dayCurrency;
      } else {
        const float converted = dayIncome * spans.on(l.day + i, cur.rate);
        r.currency += converted;
        if (l.spread != 1) totalIncomes += converted;
      }
    }
  }

  // The ad network pays in dollars; the screens show its money in the
  // preferred currency, so revenue and eCPM are converted at the cached dollar
  // rate (kept in dollars when no rate is known).
  const float adFactor = ads.empty() ? 1.0f : currencyFor(QStringLiteral("USD")).rate;
  for (const AdLine& l : ads) {
    const KVRiAdReportEntry* a = l.entry;
    KVRTotalsStruct& r = table.at(l.key, l.day);
    r.iAdSales += a->revenue * adFactor;
    r.requests += a->requests;
    r.impressions += a->impressions;
    r.eCPM += (a->eCPM * adFactor) * a->impressions;
    r.ctr += a->ctr * a->impressions;
    r.fillRate += a->fillRate * a->requests;
  }

  // Series by value key, days ascending.
  std::vector<int> keyOfRank(keys_.size()), rankOfKey(keys_.size());
  for (size_t i = 0; i < keyOfRank.size(); ++i) keyOfRank[i] = int(i);
  std::sort(keyOfRank.begin(), keyOfRank.end(),
            [this](int a, int b) { return keys_[size_t(a)].key < keys_[size_t(b)].key; });
  for (size_t i = 0; i < keyOfRank.size(); ++i) rankOfKey[size_t(keyOfRank[i])] = int(i);
  std::vector<Slot>& cells = table.entries();
  const std::vector<uint32_t> order = table.ordered(keyOfRank, rankOfKey);

  std::vector<size_t> perKey(keys_.size(), 0);
  for (const Slot& c : cells) ++perKey[size_t(c.key)];
  auto values = std::make_shared<KVRProductValues>();
  int currentKey = -1;
  for (uint32_t i : order) {
    Slot& c = cells[i];
    if (c.key != currentKey) {
      currentKey = c.key;
      const KeyInfo& k = keys_[size_t(c.key)];
      values->series.push_back(KVRValueSeries{k.key, k.region, k.country, {}, {}});
      values->series.back().days.reserve(perKey[size_t(c.key)]);
      values->series.back().records.reserve(perKey[size_t(c.key)]);
    }
    KVRValueSeries& series = values->series.back();
    KVRTotalsStruct& r = c.record;
    r.downloads = r.sales + r.upgrades;
    r.date = r.beginDate = r.endDate = dateForDay(c.day);
    series.days.push_back(c.day);
    series.records.push_back(r);
  }

  history.values = std::move(values);
  history.totalSales = totalSales;
  history.totalUpgrades = totalUpgrades;
  history.totalIncomes = totalIncomes;
  return history;
}
