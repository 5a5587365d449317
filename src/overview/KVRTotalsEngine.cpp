#include "overview/KVRTotalsEngine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <QHash>

#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyLogCenter.h"
#include "core/KVRVortelyManagedProduct.h"

namespace {

const QString kLogKeyword = QStringLiteral("Resume Controller");

using Member = float KVRTotalsStruct::*;

// The 13 per-currency amounts, by KVRCurrencySlot.
constexpr Member kSlotMembers[KVRCurrencySlotCount] = {
    &KVRTotalsStruct::currencyUSD, &KVRTotalsStruct::currencyEUR, &KVRTotalsStruct::currencyAUD,
    &KVRTotalsStruct::currencyCAD, &KVRTotalsStruct::currencyJPY, &KVRTotalsStruct::currencyGBP,
    &KVRTotalsStruct::currencyCHF, &KVRTotalsStruct::currencyNOK, &KVRTotalsStruct::currencyNZD,
    &KVRTotalsStruct::currencyMXN, &KVRTotalsStruct::currencyCNY, &KVRTotalsStruct::currencySEK,
    &KVRTotalsStruct::currencyDKK};

// The 20 measure floats lie side by side, income among them: the working
// accumulators add all 20 in one vector pass and have their income cleared
// before they reach the result (income is never summed). Every other float
// gets exactly the same additions as one by one.
constexpr size_t kMeasuresOffset = offsetof(KVRTotalsStruct, promoCode);
static_assert(offsetof(KVRTotalsStruct, ctr) == kMeasuresOffset + 19 * sizeof(float));
static_assert(offsetof(KVRTotalsStruct, income) == kMeasuresOffset + 13 * sizeof(float));

inline void addMeasures(KVRTotalsStruct& a, const KVRTotalsStruct& v) {
  float x[20], y[20];
  std::memcpy(x, reinterpret_cast<const char*>(&a) + kMeasuresOffset, sizeof x);
  std::memcpy(y, reinterpret_cast<const char*>(&v) + kMeasuresOffset, sizeof y);
  for (int i = 0; i < 20; ++i) x[i] = x[i] + y[i];
  std::memcpy(reinterpret_cast<char*>(&a) + kMeasuresOffset, x, sizeof x);
}

// Adds a finished key accumulator: count measures rounded, the others as they are.
inline void addMeasuresRounded(KVRTotalsStruct& a, const KVRTotalsStruct& k) {
  a.sales = a.sales + KVRTotalsEngine::roundCount(k.sales);
  a.upgrades = a.upgrades + KVRTotalsEngine::roundCount(k.upgrades);
  a.refunds = a.refunds + KVRTotalsEngine::roundCount(k.refunds);
  a.downloads = a.downloads + KVRTotalsEngine::roundCount(k.downloads);
  a.paiedSales = a.paiedSales + KVRTotalsEngine::roundCount(k.paiedSales);
  a.freeSales = a.freeSales + KVRTotalsEngine::roundCount(k.freeSales);
  a.currency = a.currency + k.currency;
  a.iAdSales = a.iAdSales + k.iAdSales;
  a.eCPM = a.eCPM + k.eCPM;
  a.requests = a.requests + k.requests;
  a.impressions = a.impressions + k.impressions;
  a.fillRate = a.fillRate + k.fillRate;
  a.ctr = a.ctr + k.ctr;
  a.promoCode = a.promoCode + k.promoCode;
  a.giftPurchase = a.giftPurchase + k.giftPurchase;
  a.giftRedemption = a.giftRedemption + k.giftRedemption;
  a.eduStore = a.eduStore + k.eduStore;
  a.newSubscription = a.newSubscription + k.newSubscription;
  a.renewal = a.renewal + k.renewal;
}

// What one run shares between its products.
struct Plan {
  std::vector<KVRDate> walk;
  std::vector<KVRCivilDay> walkDays;  // the calendar day of each walked date
  bool consecutive = true;            // walkDays[i] == walkDays[0] + i
  struct Key {
    QString valueKey;
    int country = 0;  // index into countries
  };
  std::vector<Key> keys;     // the keys that pass the filter, in visiting order
  QHash<QString, int> keyIndex;  // value key -> position in keys
  QStringList countries;     // distinct countries of those keys
  bool onlyTotals = false;
  std::array<int, 64> slotOfCode{};  // interned currency index -> KVRCurrencySlot or -1
  const std::atomic<bool>* cancel = nullptr;
};

// Applies addValueFrom(v, c) for every code c of v's currencies, in one pass:
// each code touches its own amount once, so the result is the same.
inline void addCurrencies(KVRTotalsStruct& a, const KVRTotalsStruct& v, const Plan& plan) {
  a.currencies.unite(v.currencies);
  for (uint64_t b = v.currencies.bits(); b; b &= b - 1) {
    const int slot = plan.slotOfCode[__builtin_ctzll(b)];
    if (slot >= 0) {
      const Member m = kSlotMembers[slot];
      a.*m = a.*m + v.*m;
    }
  }
}

// The position of the first day not before d. Days rise strictly, so
// days[i] >= days[0] + i and days[i] <= days[n-1] - (n-1-i): the answer lies
// in a window that is a single position when the series has every day (the
// usual case). Inside the window an interpolation search needs few probes on
// days spread evenly, and never more than a binary search's.
size_t firstDayNotBefore(const std::vector<KVRCivilDay>& days, KVRCivilDay d) {
  const size_t n = days.size();
  if (n == 0 || d <= days.front()) return 0;
  if (d > days.back()) return n;
  // Here days[lo - 1] < d <= days[hi] holds with lo >= 1.
  size_t hi = std::min(size_t(d - days.front()), n - 1);
  const KVRCivilDay fromBack = days.back() - d;  // >= 0
  size_t lo = n - 1 > size_t(fromBack) ? n - 1 - size_t(fromBack) : 1;
  lo = std::max<size_t>(lo, 1);
  if (days[lo - 1] >= d) return size_t(std::lower_bound(days.begin(), days.begin() + long(lo), d) - days.begin());
  bool interpolate = true;
  while (hi > lo) {
    size_t mid;
    if (interpolate) {
      const double span = double(days[hi]) - double(days[lo - 1]);
      mid = lo - 1 + size_t(double(hi - lo + 1) * (double(d) - double(days[lo - 1])) / span);
      mid = std::clamp(mid, lo, hi - 1);
    } else {
      mid = lo + (hi - lo) / 2;
    }
    interpolate = !interpolate;  // alternate, so the worst case stays logarithmic
    if (days[mid] < d)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

bool cancelled(const Plan& plan) {
  return plan.cancel && plan.cancel->load(std::memory_order_relaxed);
}

// Sums one product. False when the run was cancelled.
// countries: the plan's country codes, as copies owned by the calling thread
// (threads sharing one text would contend on its reference count).
bool sumProduct(const Plan& plan, const QStringList& countries, const KVRTotalsEngine::ProductInput& in,
                KVRProductTotals& out) {
  const size_t dayCount = plan.walk.size();
  KVRTotalsStruct overall;
  std::vector<KVRTotalsStruct> countryRecords;  // in order of first use

  out.hasSalesByDate = !plan.onlyTotals;
  const bool perDay = !plan.onlyTotals && dayCount > 0 && !plan.keys.empty();
  if (perDay) {
    out.salesByDate.resize(dayCount);
    for (size_t i = 0; i < dayCount; ++i) out.salesByDate[i].first = plan.walk[i];
  }

  // The product's series of each passing key, found once.
  std::vector<const KVRValueSeries*> seriesOfKey(plan.keys.size(), nullptr);
  if (in.values && dayCount > 0)
    for (const KVRValueSeries& s : in.values->series) {
      const auto it = plan.keyIndex.constFind(s.valueKey);
      if (it != plan.keyIndex.constEnd()) seriesOfKey[size_t(*it)] = &s;
    }

  if (dayCount > 0) {
    const KVRCivilDay firstDay = plan.walkDays.front();
    const KVRCivilDay lastDay = plan.walkDays.back();
    const size_t keyCount = plan.keys.size();
    // Where the walk enters each series. The series lie apart in memory: ask
    // for all their first and last days, then for all entry records, before
    // summing, so that the fetches overlap instead of following one another.
    std::vector<size_t> entry(keyCount, 0);
    if (plan.consecutive) {
      for (const KVRValueSeries* series : seriesOfKey)
        if (series && !series->days.empty()) {
          __builtin_prefetch(series->days.data());
          __builtin_prefetch(series->days.data() + series->days.size() - 1);
        }
      for (size_t k = 0; k < keyCount; ++k)
        if (const KVRValueSeries* series = seriesOfKey[k]) {
          entry[k] = firstDayNotBefore(series->days, firstDay);
          if (entry[k] < series->days.size()) {
            const char* rec = reinterpret_cast<const char*>(&series->records[entry[k]]);
            for (size_t line = 0; line < sizeof(KVRTotalsStruct); line += 64) __builtin_prefetch(rec + line);
          }
        }
    }
    std::vector<int> slotOfCountry(size_t(plan.countries.size()), -1);
    countryRecords.reserve(size_t(plan.countries.size()));
    for (size_t k = 0; k < keyCount; ++k) {
      const Plan::Key& key = plan.keys[k];
      if (cancelled(plan)) return false;
      KVRTotalsStruct acc;  // the key accumulator
      const KVRValueSeries* series = seriesOfKey[k];
      auto addDay = [&](const KVRTotalsStruct& v, size_t i) {
        addMeasures(acc, v);
        if (perDay) addMeasures(out.salesByDate[i].second, v);
        if (!v.currencies.empty()) {
          addCurrencies(overall, v, plan);
          if (!plan.onlyTotals) {
            addCurrencies(acc, v, plan);
            addCurrencies(out.salesByDate[i].second, v, plan);
          }
        }
      };
      if (series && !series->days.empty()) {
        if (plan.consecutive) {
          const size_t n = series->days.size();
          for (size_t pos = entry[k]; pos < n && series->days[pos] <= lastDay; ++pos)
            addDay(series->records[pos], size_t(series->days[pos] - firstDay));
        } else {
          for (size_t i = 0; i < dayCount; ++i)
            if (const KVRTotalsStruct* v = series->find(plan.walkDays[i])) addDay(*v, i);
        }
      }
      // Key merge.
      acc.income = 0;
      addMeasuresRounded(overall, acc);
      int& slot = slotOfCountry[size_t(key.country)];
      if (slot < 0) {
        slot = int(countryRecords.size());
        countryRecords.push_back(acc);
      } else {
        KVRTotalsStruct& record = countryRecords[size_t(slot)];
        addMeasuresRounded(record, acc);
        record.addValuesFrom(acc);
      }
    }
    if (cancelled(plan)) return false;
    for (size_t c = 0; c < slotOfCountry.size(); ++c)
      if (slotOfCountry[c] >= 0)
        out.byCountry.emplace_hint(out.byCountry.end(), countries[int(c)],
                                   std::move(countryRecords[size_t(slotOfCountry[c])]));
  }
  if (cancelled(plan)) return false;

  for (auto& d : out.salesByDate) d.second.income = 0;
  out.totals = overall;
  return true;
}

// Helper threads kept for the engine's runs, so that a run does not pay for
// starting threads. A run uses them only when no other run does; otherwise it
// sums on its own thread.
class WorkerPool {
 public:
  static WorkerPool& shared() {
    static WorkerPool* pool = new WorkerPool(std::min(7u, std::max(1u, std::thread::hardware_concurrency()) - 1));
    return *pool;
  }
  unsigned helperCount() const { return unsigned(helpers_.size()); }

  // Runs job on the calling thread and on up to `helpers` pool threads; returns
  // once every one has returned. False (nothing run) when the pool is busy.
  bool tryRun(unsigned helpers, const std::function<void()>& job) {
    std::unique_lock<std::mutex> busy(runLock_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    helpers = std::min(helpers, helperCount());
    {
      std::lock_guard<std::mutex> g(m_);
      job_ = &job;
      wanted_ = helpers;
      pending_ = helpers;
      ++generation_;
    }
    cv_.notify_all();
    job();
    std::unique_lock<std::mutex> g(m_);
    done_.wait(g, [this] { return pending_ == 0; });
    job_ = nullptr;
    return true;
  }

 private:
  explicit WorkerPool(unsigned n) {
    for (unsigned i = 0; i < n; ++i) helpers_.emplace_back([this, i] { loop(i); }).detach();
  }
  void loop(unsigned index) {
    uint64_t seen = 0;
    for (;;) {
      const std::function<void()>* job = nullptr;
      {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return generation_ != seen; });
        seen = generation_;
        if (index >= wanted_) continue;
        job = job_;
      }
      (*job)();
      std::lock_guard<std::mutex> g(m_);
      if (--pending_ == 0) done_.notify_all();
    }
  }

  std::mutex runLock_;
  std::mutex m_;
  std::condition_variable cv_, done_;
  const std::function<void()>* job_ = nullptr;
  unsigned wanted_ = 0, pending_ = 0;
  uint64_t generation_ = 0;
  std::vector<std::thread> helpers_;
};

// The sorted value keys of the last run: the shared index hands the same list
// (the same shared data) until a product publishes new keys.
QStringList sortedKeysCached(const QStringList& keys) {
  static std::mutex lock;
  static QStringList lastInput, lastSorted;
  std::lock_guard<std::mutex> g(lock);
  if (lastInput.size() == keys.size() && (lastInput.constData() == keys.constData() || lastInput == keys))
    return lastSorted;
  lastSorted = KVRTotalsEngine::sortedValueKeys(keys);
  lastInput = keys;
  return lastSorted;
}

}  // namespace

float KVRTotalsEngine::roundCount(float s) {
  return static_cast<float>(std::trunc(static_cast<double>(s) + 0.5));
}

QStringList KVRTotalsEngine::sortedValueKeys(QStringList keys) {
  std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });
  return keys;
}

std::vector<KVRDate> KVRTotalsEngine::dayWalk(KVRDate fromDate, KVRDate toDate) {
  std::vector<KVRDate> walk;
  if (!fromDate.isValid() || !toDate.isValid() || fromDate.isLaterThan(toDate)) return walk;
  KVRCalendar& cal = KVRCalendar::shared();
  const KVRDateComponents oneDay = KVRDateComponents::days(1);
  KVRDate d = fromDate;
  while (d.isValid() && !d.isLaterThan(toDate)) {
    walk.push_back(d);
    const KVRDate next = cal.dateByAddingComponents(oneDay, d);
    if (!next.isLaterThan(d)) break;  // a calendar that cannot step ends the walk
    d = next;
  }
  return walk;
}

std::optional<KVRTotalsResult> KVRTotalsEngine::run(const QStringList& valueKeys,
                                                    const std::vector<ProductInput>& products,
                                                    const QString& region, KVRDate fromDate,
                                                    KVRDate toDate, bool onlyTotals,
                                                    const std::atomic<bool>* cancel, int maxThreads) {
  KVRVortelyLogCenter& log = KVRVortelyLogCenter::sharedInstance();
  log.addLogEntry(QStringLiteral("totalsForRegion start"), false, kLogKeyword);

  Plan plan;
  plan.onlyTotals = onlyTotals;
  plan.cancel = cancel;
  plan.walk = dayWalk(fromDate, toDate);
  KVRCalendar& cal = KVRCalendar::shared();
  plan.walkDays.reserve(plan.walk.size());
  for (size_t i = 0; i < plan.walk.size(); ++i) {
    plan.walkDays.push_back(cal.civilDay(plan.walk[i]));
    if (i > 0 && plan.walkDays[i] != plan.walkDays[0] + KVRCivilDay(i)) plan.consecutive = false;
  }

  // The keys that pass the filter, in visiting order. A key without "-" names
  // no country and is not counted.
  QHash<QString, int> countryIndex;
  for (const QString& key : sortedKeysCached(valueKeys)) {
    const int dash = key.indexOf(QLatin1Char('-'));
    if (dash < 0) continue;
    if (!region.isNull() && QStringView(key).left(dash) != region) continue;
    if (plan.keyIndex.contains(key)) continue;  // a key listed twice is visited once
    const int next = key.indexOf(QLatin1Char('-'), dash + 1);
    const QString country = key.mid(dash + 1, next < 0 ? -1 : next - dash - 1);
    auto found = countryIndex.constFind(country);
    if (found == countryIndex.constEnd()) {
      found = countryIndex.insert(country, int(plan.countries.size()));
      plan.countries << country;
    }
    plan.keyIndex.insert(key, int(plan.keys.size()));
    plan.keys.push_back({key, *found});
  }
  // Countries in ascending order so the per-product maps fill from the end.
  {
    QStringList sorted = plan.countries;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> remap(size_t(plan.countries.size()));
    for (int i = 0; i < plan.countries.size(); ++i)
      remap[size_t(i)] = int(std::lower_bound(sorted.begin(), sorted.end(), plan.countries[i]) - sorted.begin());
    for (auto& k : plan.keys) k.country = remap[size_t(k.country)];
    plan.countries = sorted;
  }
  for (int b = 0; b < 64; ++b) {
    const std::string_view code = KVRCurrencySet::codeForIndex(b);
    plan.slotOfCode[size_t(b)] = code.empty() ? -1 : KVRCurrencySlotForCode(code);
  }

  std::vector<KVRProductTotals> totals(products.size());
  std::atomic<bool> stopped{false};
  std::atomic<size_t> nextProduct{0};
  auto worker = [&] {
    QStringList countries;
    countries.reserve(plan.countries.size());
    for (const QString& c : plan.countries) countries << QString(c.constData(), c.size());
    for (;;) {
      if (stopped.load(std::memory_order_relaxed)) return;
      const size_t k = nextProduct.fetch_add(1, std::memory_order_relaxed);
      if (k >= products.size()) return;
      if (!sumProduct(plan, countries, products[k], totals[k])) {
        stopped.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };
  unsigned threads = maxThreads > 0 ? unsigned(maxThreads) : 8u;
  // Small runs are not worth a thread.
  const size_t work = products.size() * (plan.walk.size() + 8) * std::max<size_t>(1, plan.keys.size());
  if (products.size() < 2 || work < 4000) threads = 1;
  threads = unsigned(std::min<size_t>(threads, products.size()));
  const std::function<void()> job = worker;
  if (threads <= 1 || !WorkerPool::shared().tryRun(threads - 1, job)) worker();
  if (stopped.load() || (cancel && cancel->load())) return std::nullopt;

  KVRTotalsResult result;
  for (size_t k = 0; k < products.size(); ++k)
    result.insert_or_assign(products[k].idStore, std::move(totals[k]));
  log.addLogEntry(QStringLiteral("totalsForRegion end"), false, kLogKeyword);
  return result;
}

std::optional<KVRTotalsResult> KVRTotalsEngine::totalsForRegion(
    const QString& region, KVRDate fromDate, KVRDate toDate,
    const std::vector<KVRVortelyManagedProduct*>& products, bool onlyTotals,
    const std::atomic<bool>* cancel) {
  // One consistent snapshot per product for the whole run.
  std::vector<ProductInput> inputs;
  inputs.reserve(products.size());
  for (KVRVortelyManagedProduct* p : products) {
    if (!p) continue;
    inputs.push_back({p->idStore, p->valuesByCountryAndDate()});
  }
  const KVRSharedValuesIndex::ViewRef view =
      KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().snapshot();
  const QStringList keys = view ? view->valueKeys : QStringList();
  return run(keys, inputs, region, fromDate, toDate, onlyTotals, cancel);
}
