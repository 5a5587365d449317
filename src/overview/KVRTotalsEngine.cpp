#include "overview/KVRTotalsEngine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <QHash>

#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"
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

// A finished key accumulator's 20 measures as they merge: count measures
// rounded, the others as they are, income 0 (the accumulator's income is
// cleared first). Adding these with addMeasures makes the same additions as
// adding the six counts rounded and the other 13 measures one by one: the
// income the merge also adds is +0 into an income that is +0 itself.
struct MergedMeasures {
  float x[20];
};
inline MergedMeasures mergedMeasures(const KVRTotalsStruct& k) {
  constexpr size_t kCounts[KVRCountMeasureCount] = {
      (offsetof(KVRTotalsStruct, sales) - kMeasuresOffset) / sizeof(float),
      (offsetof(KVRTotalsStruct, upgrades) - kMeasuresOffset) / sizeof(float),
      (offsetof(KVRTotalsStruct, refunds) - kMeasuresOffset) / sizeof(float),
      (offsetof(KVRTotalsStruct, downloads) - kMeasuresOffset) / sizeof(float),
      (offsetof(KVRTotalsStruct, paiedSales) - kMeasuresOffset) / sizeof(float),
      (offsetof(KVRTotalsStruct, freeSales) - kMeasuresOffset) / sizeof(float)};
  MergedMeasures m;
  std::memcpy(m.x, reinterpret_cast<const char*>(&k) + kMeasuresOffset, sizeof m.x);
  for (size_t i : kCounts) m.x[i] = KVRTotalsEngine::roundCount(m.x[i]);
  return m;
}
inline void addMeasures(KVRTotalsStruct& a, const MergedMeasures& m) {
  float x[20];
  std::memcpy(x, reinterpret_cast<const char*>(&a) + kMeasuresOffset, sizeof x);
  for (int i = 0; i < 20; ++i) x[i] = x[i] + m.x[i];
  std::memcpy(reinterpret_cast<char*>(&a) + kMeasuresOffset, x, sizeof x);
}

// The keys a run visits and their countries. They depend on the value keys and
// the region alone, so runs in a row (one load makes several) share them.
struct KeyPlan {
  QStringList sortedKeys;  // the sorted value keys it was made from
  QString region;
  struct Key {
    QString valueKey;
    int country = 0;  // index into countries
  };
  std::vector<Key> keys;  // the keys that pass the filter, in visiting order
  // The same keys in QString order, each with its position in keys: a
  // product's series come in that order, so one merge pass pairs them.
  std::vector<std::pair<QString, int>> keysByText;
  // Distinct countries of those keys, ascending, as interned texts (see
  // internedText): the records of every product carry them.
  QStringList countries;
  // A zero record for each of the countries: every product gets a record for
  // every country, so its records start as a copy of these.
  KVRCountryTotals zeroRecords;
};

// What one run shares between its products.
struct Plan {
  std::vector<KVRDate> walk;
  std::vector<KVRCivilDay> walkDays;  // the calendar day of each walked date
  bool consecutive = true;            // walkDays[i] == walkDays[0] + i
  std::shared_ptr<const KeyPlan> keyPlan;
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

// A key's text as UTF-16 code units: comparing these orders texts the way
// QString's operator< does, without a call per comparison.
inline std::u16string_view codeUnits(const QString& s) {
  return {reinterpret_cast<const char16_t*>(s.constData()), size_t(s.size())};
}

// For each visited key, the position of the product's series of that key (-1
// when it has none). The series normally rise in QString order; one that does
// not (or that repeats a key) restarts the search, so any order gives the same
// pairs, the last series of a key winning.
std::vector<int> pairSeriesWithKeys(const KeyPlan& kp, const KVRProductValues& values) {
  std::vector<int> seriesIndex(kp.keys.size(), -1);
  const auto& keys = kp.keysByText;
  const size_t n = keys.size();
  size_t j = 0;
  std::u16string_view previous;
  for (size_t i = 0; i < values.series.size(); ++i) {
    const std::u16string_view text = codeUnits(values.series[i].valueKey);
    if (i > 0 && !(previous < text)) j = 0;
    previous = text;
    while (j < n && codeUnits(keys[j].first) < text) ++j;
    if (j < n && codeUnits(keys[j].first) == text) seriesIndex[size_t(keys[j].second)] = int(i);
  }
  return seriesIndex;
}

// pairSeriesWithKeys, remembered per thread for the snapshots it has seen with
// the current key plan: loads in a row sum the same snapshots with the same
// keys. An entry is used only while its snapshot is alive, so an address in
// the table is the snapshot it was made for.
const std::vector<int>& seriesIndexOfKeys(const std::shared_ptr<const KeyPlan>& kp, const KVRProductValuesRef& values) {
  struct Entry {
    std::weak_ptr<const KVRProductValues> values;
    std::vector<int> seriesIndex;
  };
  struct Cache {
    std::shared_ptr<const KeyPlan> keyPlan;
    std::unordered_map<const KVRProductValues*, Entry> bySnapshot;
  };
  thread_local Cache cache;
  if (cache.keyPlan != kp || cache.bySnapshot.size() > 4096) {
    cache.bySnapshot.clear();
    cache.keyPlan = kp;
  }
  Entry& e = cache.bySnapshot[values.get()];
  if (e.values.expired()) {
    e.values = values;
    e.seriesIndex = pairSeriesWithKeys(*kp, *values);
  }
  return e.seriesIndex;
}

// Sums one product. False when the run was cancelled.
bool sumProduct(const Plan& plan, const KVRTotalsEngine::ProductInput& in, KVRProductTotals& out) {
  const KeyPlan& kp = *plan.keyPlan;
  const size_t dayCount = plan.walk.size();
  KVRTotalsStruct overall;

  out.hasSalesByDate = !plan.onlyTotals;
  const bool perDay = !plan.onlyTotals && dayCount > 0 && !kp.keys.empty();
  if (perDay) {
    out.salesByDate.resize(dayCount);
    for (size_t i = 0; i < dayCount; ++i) out.salesByDate[i].first = plan.walk[i];
  }

  // The product's series of each passing key, found once.
  std::vector<const KVRValueSeries*> seriesOfKey(kp.keys.size(), nullptr);
  if (in.values && dayCount > 0) {
    const std::vector<int>& seriesIndex = seriesIndexOfKeys(plan.keyPlan, in.values);
    for (size_t k = 0; k < seriesIndex.size(); ++k)
      if (seriesIndex[k] >= 0) seriesOfKey[k] = &in.values->series[size_t(seriesIndex[k])];
  }

  if (dayCount > 0) {
    const KVRCivilDay firstDay = plan.walkDays.front();
    const KVRCivilDay lastDay = plan.walkDays.back();
    const size_t keyCount = kp.keys.size();
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
    // Every country of a visited key gets a record: lay them all out in
    // order first, then sum into them.
    const size_t countryCount = kp.zeroRecords.size();
    out.byCountry = kp.zeroRecords;
    std::vector<char> countrySeen(countryCount, 0);
    KVRTotalsStruct later;  // the key accumulator of a country's later keys
    for (size_t k = 0; k < keyCount; ++k) {
      const KeyPlan::Key& key = kp.keys[k];
      if (cancelled(plan)) return false;
      // The key accumulator. A country's first key gives its record as it is,
      // so that key sums straight into the (still zero) record.
      char& seen = countrySeen[size_t(key.country)];
      KVRTotalsStruct& record = out.byCountry.entry(size_t(key.country)).second;
      if (seen) later = KVRTotalsStruct();
      KVRTotalsStruct& acc = seen ? later : record;
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
      const MergedMeasures merged = mergedMeasures(acc);
      addMeasures(overall, merged);
      if (seen) {
        addMeasures(record, merged);
        record.addValuesFrom(acc);
      }
      seen = 1;
    }
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
  // once every one that started has returned. False (nothing run) when the
  // pool is busy. A helper that the system has not yet given a processor when
  // the calling thread's job returns does not start: job must share its work
  // out so that whichever threads run it do all of it (the caller's alone too).
  bool tryRun(unsigned helpers, const std::function<void()>& job) {
    std::unique_lock<std::mutex> busy(runLock_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    helpers = std::min(helpers, helperCount());
    {
      std::lock_guard<std::mutex> g(m_);
      job_ = &job;
      wanted_ = helpers;
      running_ = 0;
      open_ = true;
      generation_.store(generation_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    cv_.notify_all();
    job();
    std::unique_lock<std::mutex> g(m_);
    open_ = false;
    done_.wait(g, [this] { return running_ == 0; });
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
      // Runs come in bursts (a load makes several in a row): watch for the
      // next one for a moment before sleeping, so that it need not wake us.
      const auto watchUntil = std::chrono::steady_clock::now() + kWatch;
      for (unsigned i = 1; generation_.load(std::memory_order_acquire) == seen; ++i) {
        if (i % 64 == 0 && std::chrono::steady_clock::now() > watchUntil) break;
        relax();
      }
      {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return generation_.load(std::memory_order_relaxed) != seen; });
        seen = generation_.load(std::memory_order_relaxed);
        if (index >= wanted_ || !open_) continue;
        job = job_;
        ++running_;
      }
      (*job)();
      std::lock_guard<std::mutex> g(m_);
      if (--running_ == 0) done_.notify_all();
    }
  }

  std::mutex runLock_;
  std::mutex m_;
  std::condition_variable cv_, done_;
  const std::function<void()>* job_ = nullptr;
  unsigned wanted_ = 0, running_ = 0;
  bool open_ = false;  // helpers may still start on the current job
  std::atomic<uint64_t> generation_{0};  // written under m_
  static constexpr std::chrono::microseconds kWatch{200};
  static void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
  }
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

// A text equal to t whose characters are kept for the life of the process and
// that has no reference count: copies of it, made by every thread for every
// product's records, share nothing that they write. (Country codes are few.)
QString internedText(const QString& t) {
  static std::mutex lock;
  static QHash<QString, QString> table;
  std::lock_guard<std::mutex> g(lock);
  auto it = table.constFind(t);
  if (it == table.constEnd()) {
    char16_t* kept = new char16_t[size_t(t.size()) + 1];  // never freed
    std::memcpy(kept, t.constData(), size_t(t.size()) * sizeof(char16_t));
    kept[t.size()] = 0;
    it = table.insert(t, QString::fromRawData(reinterpret_cast<const QChar*>(kept), t.size()));
  }
  return *it;
}

KeyPlan makeKeyPlan(const QStringList& sortedKeys, const QString& region) {
  KeyPlan kp;
  kp.sortedKeys = sortedKeys;
  kp.region = region;
  // The keys that pass the filter, in visiting order. A key without "-" names
  // no country and is not counted.
  QHash<QString, int> countryIndex;
  QHash<QString, int> keyIndex;
  for (const QString& key : sortedKeys) {
    const int dash = key.indexOf(QLatin1Char('-'));
    if (dash < 0) continue;
    if (!region.isNull() && QStringView(key).left(dash) != region) continue;
    if (keyIndex.contains(key)) continue;  // a key listed twice is visited once
    const int next = key.indexOf(QLatin1Char('-'), dash + 1);
    const QString country = key.mid(dash + 1, next < 0 ? -1 : next - dash - 1);
    auto found = countryIndex.constFind(country);
    if (found == countryIndex.constEnd()) {
      found = countryIndex.insert(country, int(kp.countries.size()));
      kp.countries << country;
    }
    keyIndex.insert(key, int(kp.keys.size()));
    kp.keys.push_back({key, *found});
  }
  // Countries in ascending order, the order of the per-product records.
  {
    QStringList sorted = kp.countries;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> remap(size_t(kp.countries.size()));
    for (int i = 0; i < kp.countries.size(); ++i)
      remap[size_t(i)] = int(std::lower_bound(sorted.begin(), sorted.end(), kp.countries[i]) - sorted.begin());
    for (auto& k : kp.keys) k.country = remap[size_t(k.country)];
    kp.countries.clear();
    for (const QString& c : sorted) kp.countries << internedText(c);
  }
  kp.zeroRecords.reserve(size_t(kp.countries.size()));
  for (const QString& c : kp.countries) kp.zeroRecords.append(c, KVRTotalsStruct());
  kp.keysByText.reserve(kp.keys.size());
  for (size_t i = 0; i < kp.keys.size(); ++i) kp.keysByText.emplace_back(kp.keys[i].valueKey, int(i));
  std::sort(kp.keysByText.begin(), kp.keysByText.end(),
            [](const auto& a, const auto& b) { return codeUnits(a.first) < codeUnits(b.first); });
  return kp;
}

// The key plan of the last run, reused while the sorted keys (the same shared
// list) and the region stay the same. The plan holds the list it was made
// from, so a list at the same address is that list.
std::shared_ptr<const KeyPlan> keyPlanCached(const QStringList& sortedKeys, const QString& region) {
  static std::mutex lock;
  static std::shared_ptr<const KeyPlan> last;
  std::lock_guard<std::mutex> g(lock);
  if (last && last->sortedKeys.size() == sortedKeys.size() && last->sortedKeys.constData() == sortedKeys.constData() &&
      last->region.isNull() == region.isNull() && last->region == region)
    return last;
  last = std::make_shared<const KeyPlan>(makeKeyPlan(sortedKeys, region));
  return last;
}


}  // namespace

QStringList KVRTotalsEngine::sortedValueKeys(QStringList keys) {
  std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });
  return keys;
}

std::vector<KVRDate> KVRTotalsEngine::dayWalk(KVRDate fromDate, KVRDate toDate) {
  // By calendar day, both ends included, whatever clock changes the zone has.
  return KVRCalendar::shared().dayWalk(fromDate, toDate);
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

  plan.keyPlan = keyPlanCached(sortedKeysCached(valueKeys), region);
  for (int b = 0; b < 64; ++b) {
    const std::string_view code = KVRCurrencySet::codeForIndex(b);
    plan.slotOfCode[size_t(b)] = code.empty() ? -1 : KVRCurrencySlotForCode(code);
  }

  std::vector<KVRProductTotals> totals(products.size());
  std::atomic<bool> stopped{false};
  std::atomic<size_t> nextProduct{0};
  auto worker = [&] {
    for (;;) {
      if (stopped.load(std::memory_order_relaxed)) return;
      const size_t k = nextProduct.fetch_add(1, std::memory_order_relaxed);
      if (k >= products.size()) return;
      if (!sumProduct(plan, products[k], totals[k])) {
        stopped.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };
  unsigned threads = maxThreads > 0 ? unsigned(maxThreads) : 8u;
  // Small runs are not worth a thread.
  const size_t work = products.size() * (plan.walk.size() + 8) * std::max<size_t>(1, plan.keyPlan->keys.size());
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
