#include "reference_engine.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "core/KVRCalendar.h"
#include "core/KVRFormatters.h"
#include "platform/KVRVortelyLogCenter.h"

namespace reference {

namespace {

std::mutex g_formatterLock;

QString dayKey(KVRDate d) {
  std::lock_guard<std::mutex> g(g_formatterLock);
  return KVRFormatters::shared().numberedDateFormatter().stringFromDate(d);
}

float roundCount(float s) { return static_cast<float>(std::trunc(static_cast<double>(s) + 0.5)); }

bool isCount(int m) { return m < KVRCountMeasureCount; }

// The working state the engine keeps on each product during a run.
struct Work {
  int64_t idStore = 0;
  std::map<QString, KVRTotalsStruct> entry;           // country -> record
  std::map<double, KVRTotalsStruct> totalsByDayGlobal;  // date (ms) -> day accumulator
  std::vector<double> totalsByDayGlobalArray;         // dates in walk order
  KVRTotalsStruct totalsGlobal;
  std::optional<KVRTotalsStruct> totalsCountryGlobal;
  const std::map<QString, KVRTotalsStruct>* currentValuesByDate = nullptr;
  bool currentLooked = false;
  std::unique_ptr<std::mutex> valuesLock = std::make_unique<std::mutex>();
};

}  // namespace

Caches Caches::fromSnapshots(const std::vector<KVRTotalsEngine::ProductInput>& products) {
  Caches c;
  KVRCalendar& cal = KVRCalendar::shared();
  std::map<KVRCivilDay, QString> texts;
  for (const auto& p : products) {
    if (!p.values) continue;
    auto& cache = c.products[p.idStore];
    for (const KVRValueSeries& s : p.values->series) {
      auto& days = cache[s.valueKey];
      auto& shared = c.shared[s.valueKey];
      for (size_t i = 0; i < s.days.size(); ++i) {
        auto it = texts.find(s.days[i]);
        if (it == texts.end()) it = texts.emplace(s.days[i], dayKey(cal.dateFromCivilDay(s.days[i]))).first;
        days[it->second] = s.records[i];
        shared[it->second][p.idStore] = s.records[i];
      }
    }
  }
  return c;
}

std::optional<KVRTotalsResult> totalsForRegion(const Caches& caches, const QString& region, KVRDate fromDate,
                                               KVRDate toDate, const std::vector<int64_t>& products,
                                               bool onlyTotals, const std::atomic<bool>* cancelLoad,
                                               Order order, Order* usedOrder) {
  auto cancelled = [&] { return cancelLoad && cancelLoad->load(); };
  KVRVortelyLogCenter::sharedInstance().addLogEntry("totalsForRegion start", false, "Resume Controller");

  const KVRDate from = fromDate, to = toDate;
  KVRTotalsResult result;

  std::vector<Work> work(products.size());
  for (size_t k = 0; k < products.size(); ++k) work[k].idStore = products[k];

  // Day walk.
  std::vector<KVRDate> dates;
  std::vector<QString> dayKeys;
  for (KVRDate d : KVRCalendar::shared().dayWalk(from, to)) {
    dates.push_back(d);
    dayKeys.push_back(dayKey(d));
  }

  // Value keys.
  QStringList keys;
  for (const auto& [k, v] : caches.shared) keys << k;
  std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });

  const size_t P = products.size(), D = dates.size();
  bool productCacheOrder = 2 * P < D + 1;
  if (order == Order::ProductCache) productCacheOrder = true;
  if (order == Order::SharedIndex) productCacheOrder = false;
  if (usedOrder) *usedOrder = productCacheOrder ? Order::ProductCache : Order::SharedIndex;

  bool firstKey = true;
  for (const QString& key : keys) {
    if (productCacheOrder && cancelled()) return std::nullopt;
    const QStringList parts = key.split(QLatin1Char('-'));
    if (parts.size() < 2) continue;
    const QString regionPart = parts[0], country = parts[1];
    if (!region.isNull() && regionPart != region) continue;

    const std::map<QString, std::map<int64_t, KVRTotalsStruct>>* keyDays = nullptr;
    if (!productCacheOrder) {
      auto it = caches.shared.find(key);
      keyDays = it == caches.shared.end() ? nullptr : &it->second;
    }

    for (size_t i = 0; i < D; ++i) {
      if (productCacheOrder && cancelled()) return std::nullopt;
      const std::map<int64_t, KVRTotalsStruct>* dayProducts = nullptr;
      if (!productCacheOrder && keyDays) {
        auto it = keyDays->find(dayKeys[i]);
        dayProducts = it == keyDays->end() ? nullptr : &it->second;
      }
      for (Work& p : work) {
        const KVRTotalsStruct* dayValues = nullptr;
        std::unique_lock<std::mutex> lock;
        if (productCacheOrder) {
          if (cancelled()) return std::nullopt;
          lock = std::unique_lock<std::mutex>(*p.valuesLock);
          if (!p.currentValuesByDate) {
            auto pc = caches.products.find(p.idStore);
            if (pc != caches.products.end()) {
              auto kc = pc->second.find(key);
              if (kc != pc->second.end()) p.currentValuesByDate = &kc->second;
            }
          }
          if (p.currentValuesByDate) {
            auto it = p.currentValuesByDate->find(dayKeys[i]);
            if (it != p.currentValuesByDate->end()) dayValues = &it->second;
          }
        } else if (dayProducts) {
          auto it = dayProducts->find(p.idStore);
          if (it != dayProducts->end()) dayValues = &it->second;
        }
        if (!p.totalsCountryGlobal) p.totalsCountryGlobal = KVRTotalsStruct();
        KVRTotalsStruct* dayAcc = nullptr;
        if (!onlyTotals) {
          if (firstKey) {
            p.totalsByDayGlobal[dates[i].ms] = KVRTotalsStruct();
            p.totalsByDayGlobalArray.push_back(dates[i].ms);
          }
          dayAcc = &p.totalsByDayGlobal[p.totalsByDayGlobalArray[i]];
        }
        if (dayValues) {
          for (int m = 0; m < KVRSummedMeasureCount; ++m) {
            const KVRMeasure measure = static_cast<KVRMeasure>(m);
            p.totalsCountryGlobal->measure(measure) = p.totalsCountryGlobal->measure(measure) + dayValues->measure(measure);
            if (!onlyTotals) dayAcc->measure(measure) = dayAcc->measure(measure) + dayValues->measure(measure);
          }
          for (const QString& code : dayValues->currencies.codes()) {
            const QByteArray c = code.toLatin1();
            const std::string_view cv(c.constData(), size_t(c.size()));
            p.totalsGlobal.addValueFrom(*dayValues, cv);
            if (!onlyTotals) {
              p.totalsCountryGlobal->addValueFrom(*dayValues, cv);
              dayAcc->addValueFrom(*dayValues, cv);
            }
          }
        }
      }
    }

    // Key merge.
    for (Work& p : work) {
      if (!p.totalsCountryGlobal) continue;
      if (productCacheOrder && cancelled()) {
        p.totalsCountryGlobal.reset();
        p.currentValuesByDate = nullptr;
        continue;
      }
      const KVRTotalsStruct& a = *p.totalsCountryGlobal;
      for (int m = 0; m < KVRSummedMeasureCount; ++m) {
        const KVRMeasure measure = static_cast<KVRMeasure>(m);
        const float v = isCount(m) ? roundCount(a.measure(measure)) : a.measure(measure);
        p.totalsGlobal.measure(measure) = p.totalsGlobal.measure(measure) + v;
      }
      auto it = p.entry.find(country);
      if (it == p.entry.end()) {
        p.entry[country] = a;
      } else {
        for (int m = 0; m < KVRSummedMeasureCount; ++m) {
          const KVRMeasure measure = static_cast<KVRMeasure>(m);
          const float v = isCount(m) ? roundCount(a.measure(measure)) : a.measure(measure);
          it->second.measure(measure) = it->second.measure(measure) + v;
        }
        it->second.addValuesFrom(a);
      }
      p.totalsCountryGlobal.reset();
      p.currentValuesByDate = nullptr;
    }
    firstKey = false;
  }

  // Final assembly.
  for (Work& p : work) {
    if (productCacheOrder && cancelled()) continue;
    KVRProductTotals entry;
    entry.byCountry.reserve(p.entry.size());
    for (const auto& [country, record] : p.entry) entry.byCountry.append(country, record);
    entry.totals = p.totalsGlobal;
    entry.hasSalesByDate = !onlyTotals;
    if (!onlyTotals)
      for (double ms : p.totalsByDayGlobalArray) entry.salesByDate.emplace_back(KVRDate(ms), p.totalsByDayGlobal[ms]);
    result[p.idStore] = std::move(entry);
  }
  KVRVortelyLogCenter::sharedInstance().addLogEntry("totalsForRegion end", false, "Resume Controller");
  return result;
}

}  // namespace reference
