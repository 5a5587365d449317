#include "core/KVRHistoryBuilder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

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
  KVRCivilDay day;
  int spread;        // 7 for a weekly line, else 1
  KVRCivilDay last;  // last day the line covers (for the daily-coverage test)
  bool daily;        // covers one day only
};

struct Slot {
  int key;
  KVRCivilDay day;
  KVRTotalsStruct record;
};

class SlotTable {
 public:
  KVRTotalsStruct& at(int key, KVRCivilDay day) {
    const uint64_t k = (uint64_t(uint32_t(key)) << 32) | uint32_t(day);
    if (k == lastKey_ && lastIndex_ < slots_.size()) return slots_[lastIndex_].record;
    auto [it, inserted] = index_.try_emplace(k, slots_.size());
    if (inserted) slots_.push_back(Slot{key, day, KVRTotalsStruct{}});
    lastKey_ = k;
    lastIndex_ = it->second;
    return slots_[it->second].record;
  }
  std::vector<Slot>& entries() { return slots_; }

 private:
  std::vector<Slot> slots_;
  std::unordered_map<uint64_t, size_t> index_;
  uint64_t lastKey_ = ~uint64_t(0);
  size_t lastIndex_ = ~size_t(0);
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
    return KVRVortelyCurrencyConverter::sharedInstance().rateFrom(code, preferred);
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
  info.rate = std::isfinite(rate) && rate > 0 ? float(rate) : 0.0f;
  const int index = int(currencies_.size());
  currencies_.push_back(info);
  if (packed) shortCurrencyIndex_.emplace(packed, index);
  else currencyIndex_.insert(rawCode, index);
  return currencies_.back();
}

KVRCivilDay KVRHistoryBuilder::dayFor(KVRDate date) {
  const int64_t bits = std::bit_cast<int64_t>(date.ms);
  auto it = dayOfInstant_.find(bits);
  if (it != dayOfInstant_.end()) return it->second;
  const KVRCivilDay day = services_.civilDay(date);
  dayOfInstant_.emplace(bits, day);
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
                                    const std::vector<KVRiAdReportEntry*>& adEntries) {
  KVRHistory history;

  // Sales lines, in date then objectID order (relationship order on ties).
  std::vector<const KVRReportEntry*> sorted;
  sorted.reserve(entries.size());
  for (const KVRReportEntry* e : entries)
    if (isSalesReportLine(e)) sorted.push_back(e);
  std::stable_sort(sorted.begin(), sorted.end(), [](const KVRReportEntry* a, const KVRReportEntry* b) {
    if (a->beginDate.ms != b->beginDate.ms) return a->beginDate.ms < b->beginDate.ms;
    return a->objectID < b->objectID;
  });

  std::vector<Line> lines;
  lines.reserve(sorted.size());
  std::vector<KVRCivilDay> dailyDays;
  for (const KVRReportEntry* e : sorted) {
    Line l{e, keyIndexFor(e->country), dayFor(e->beginDate), 1, 0, true};
    const KVRCivilDay endDay = e->endDate.isValid() ? dayFor(e->endDate) : l.day;
    const int reportType = e->report ? e->report->type : KVRReportTypeNew;
    const bool weekly = reportType == KVRReportTypeWeekly || endDay - l.day == 6 || endDay - l.day == 7;
    if (weekly) {
      l.spread = 7;
      l.last = l.day + 6;
      l.daily = false;
    } else {
      l.last = std::max(endDay, l.day);
      l.daily = reportType != KVRReportTypeMonthlyFree && l.last == l.day;
    }
    if (l.daily) dailyDays.push_back(l.day);
    lines.push_back(l);
  }
  std::sort(dailyDays.begin(), dailyDays.end());
  dailyDays.erase(std::unique(dailyDays.begin(), dailyDays.end()), dailyDays.end());
  auto hasDailyLineIn = [&dailyDays](KVRCivilDay first, KVRCivilDay last) {
    auto it = std::lower_bound(dailyDays.begin(), dailyDays.end(), first);
    return it != dailyDays.end() && *it <= last;
  };

  SlotTable table;
  float totalSales = 0, totalUpgrades = 0, totalIncomes = 0;
  for (const Line& l : lines) {
    if (!l.daily && hasDailyLineIn(l.day, l.last)) continue;  // the daily lines already hold it
    const KVRReportEntry* e = l.entry;
    const CurrencyInfo& cur = currencyFor(e->currency);
    const float count = float(e->count);
    const float lineIncome = count * float(e->income) / 100.0f;
    const float divisor = float(l.spread);
    const float dayCount = l.spread == 1 ? count : count / divisor;
    const float dayIncome = l.spread == 1 ? lineIncome : lineIncome / divisor;
    const float dayCurrency = dayIncome * cur.rate;

    switch (e->type) {
      case KVREntryTypeSale:
      case KVREntryTypeInAppPurchase: totalSales += count; break;
      case KVREntryTypeUpgrade: totalUpgrades += count; break;
      default: break;
    }
    if (cur.rate != 0.0f) totalIncomes += lineIncome * cur.rate;

    for (int i = 0; i < l.spread; ++i) {
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
      if (cur.rate != 0.0f) r.currency += dayCurrency;
    }
  }

  // Ad lines, in date then objectID order.
  std::vector<const KVRiAdReportEntry*> ads;
  ads.reserve(adEntries.size());
  for (const KVRiAdReportEntry* a : adEntries)
    if (a && a->date.isValid()) ads.push_back(a);
  std::stable_sort(ads.begin(), ads.end(), [](const KVRiAdReportEntry* a, const KVRiAdReportEntry* b) {
    if (a->date.ms != b->date.ms) return a->date.ms < b->date.ms;
    return a->objectID < b->objectID;
  });
  for (const KVRiAdReportEntry* a : ads) {
    KVRTotalsStruct& r = table.at(keyIndexFor(a->country), dayFor(a->date));
    r.iAdSales += a->revenue;
    r.requests += a->requests;
    r.impressions += a->impressions;
    r.eCPM += a->eCPM * a->impressions;
    r.ctr += a->ctr * a->impressions;
    r.fillRate += a->fillRate * a->requests;
  }

  // Series by value key, days ascending.
  std::vector<Slot>& cells = table.entries();
  std::vector<int> keyRank(keys_.size(), 0);
  {
    std::vector<int> order(keys_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    std::sort(order.begin(), order.end(), [this](int a, int b) { return keys_[size_t(a)].key < keys_[size_t(b)].key; });
    for (size_t i = 0; i < order.size(); ++i) keyRank[size_t(order[i])] = int(i);
  }
  std::vector<uint32_t> order(cells.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const Slot& x = cells[a];
    const Slot& y = cells[b];
    const int rx = keyRank[size_t(x.key)], ry = keyRank[size_t(y.key)];
    return rx != ry ? rx < ry : x.day < y.day;
  });

  auto values = std::make_shared<KVRProductValues>();
  int currentKey = -1;
  for (uint32_t i : order) {
    Slot& s = cells[i];
    if (s.key != currentKey) {
      currentKey = s.key;
      const KeyInfo& k = keys_[size_t(s.key)];
      values->series.push_back(KVRValueSeries{k.key, k.region, k.country, {}, {}});
    }
    KVRValueSeries& series = values->series.back();
    KVRTotalsStruct& r = s.record;
    r.downloads = r.sales + r.upgrades;
    r.date = r.beginDate = r.endDate = dateForDay(s.day);
    series.days.push_back(s.day);
    series.records.push_back(std::move(r));
  }

  history.values = std::move(values);
  history.totalSales = totalSales;
  history.totalUpgrades = totalUpgrades;
  history.totalIncomes = totalIncomes;
  return history;
}
