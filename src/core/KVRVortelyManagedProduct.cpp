#include "core/KVRVortelyManagedProduct.h"

#include <algorithm>
#include <thread>
#include <unordered_map>

#include "core/KVRProcessors.h"

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRHistoryBuilder.h"
#include "core/KVRVortelyCoreDataManager.h"

// ---------------------------------------------------------------- store facts

bool KVRVortelyManagedProduct::isAndroid() const {
  if (account) return account->isAndroid();
  // A followed product has no account: its ratings tell its store, the
  // Android Market rating under the storefront "Android".
  std::lock_guard<std::mutex> g(ratingsLock_);
  for (const auto& [country, counts] : ratingCache_)
    if (country == QLatin1String("Android")) return true;
  return false;
}

QImage KVRVortelyManagedProduct::icone() const {
  if (iconData.isEmpty()) return QImage();
  return QImage::fromData(iconData);
}

// ---------------------------------------------------------------- ratings

void KVRVortelyManagedProduct::cacheRatings() {
  // [0..4] votes of levels 1..5, [5..9] new votes; "" sums every country.
  std::vector<std::pair<QString, std::array<int, 10>>> cache;
  cache.emplace_back(QString(), std::array<int, 10>{});
  for (const KVRRating* r : ratings) {
    if (!r || !r->allVersions || r->stars < 1 || r->stars > 5) continue;
    auto it = std::find_if(cache.begin() + 1, cache.end(),
                           [r](const auto& e) { return e.first == r->country; });
    if (it == cache.end()) {
      cache.emplace_back(r->country, std::array<int, 10>{});
      it = cache.end() - 1;
    }
    const size_t level = size_t(r->stars - 1);
    it->second[level] += r->count;
    it->second[level + 5] += r->newCount;
    cache.front().second[level] += r->count;
    cache.front().second[level + 5] += r->newCount;
  }
  std::lock_guard<std::mutex> g(ratingsLock_);
  ratingCache_ = std::move(cache);
}

namespace {
std::vector<int> ratingSlice(const std::vector<std::pair<QString, std::array<int, 10>>>& cache,
                             const QString& country, size_t offset) {
  std::vector<int> out(5, 0);
  const QString wanted = country.isEmpty() ? QString() : country;
  for (const auto& [c, counts] : cache) {
    if (c.isEmpty() != wanted.isEmpty() || (!wanted.isEmpty() && c != wanted)) continue;
    for (size_t i = 0; i < 5; ++i) out[i] = counts[i + offset];
    break;
  }
  return out;
}
}  // namespace

// Before the ratings load has filled the cache, every level reads 0: reading
// the rows here would mean taking the context lock on the main thread while a
// long rebuild may hold it.
std::vector<int> KVRVortelyManagedProduct::ratingsForCountry(const QString& country) const {
  std::lock_guard<std::mutex> g(ratingsLock_);
  return ratingSlice(ratingCache_, country, 0);
}

std::vector<int> KVRVortelyManagedProduct::newRatingsForCountry(const QString& country) const {
  std::lock_guard<std::mutex> g(ratingsLock_);
  return ratingSlice(ratingCache_, country, 5);
}

// ---------------------------------------------------------------- history

// The build itself is KVRHistoryBuilder (see there for what is counted and
// how). It reads the product's lines and its account's reports: the caller
// holds the data manager's context lock. Builds of one product are
// serialised, so two threads asking at once compute it once. The new values
// are built aside while readers keep the previous snapshot; the values lock is
// held only to swap them in, so a reader never sees the product emptied.
namespace {

// The daily reports of each account, from the context's reports (the caller
// holds the context lock).
std::unordered_map<const KVRStoreAccount*, std::vector<KVRReport*>> dailyReportsByAccount() {
  std::unordered_map<const KVRStoreAccount*, std::vector<KVRReport*>> daily;
  for (KVRReport* r : KVRVortelyCoreDataManager::sharedInstance().reports())
    if (r && r->account && r->type == KVRReportTypeDaily) daily[r->account].push_back(r);
  return daily;
}

}  // namespace

void KVRVortelyManagedProduct::buildHistoryByDate(const KVRCalculationServices& services) {
  if (initialized() && !stale_.load(std::memory_order_acquire)) return;
  std::vector<KVRReport*> accountReports;
  if (account)
    for (KVRReport* r : KVRVortelyCoreDataManager::sharedInstance().reports())
      if (r && r->account == account && r->type == KVRReportTypeDaily) accountReports.push_back(r);
  KVRHistoryBuilder builder(services);
  buildHistoryWith(builder, accountReports, *services.converter);
}

void KVRVortelyManagedProduct::buildHistoryWith(KVRHistoryBuilder& builder, const std::vector<KVRReport*>& accountReports,
                                                KVRVortelyCurrencyConverter& converter) {
  if (initialized() && !stale_.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> build(buildLock_);
  if (initialized() && !stale_.load(std::memory_order_acquire)) return;
  // A reset arriving during this build asks for another one.
  stale_.store(false, std::memory_order_release);
  builder.setEffectiveRates(converter.effectiveRatesForAccount(account));
  KVRHistory h = builder.build(entries, iAdEntries, accountReports);
  publishValues(std::move(h.values), h.totalSales, h.totalUpgrades, h.totalIncomes);
}

void KVRVortelyManagedProduct::runBuildBatches(const std::vector<KVRVortelyManagedProduct*>& products,
                                               const KVRCalculationServices& services, const BatchStep& beforeBatch,
                                               const BuildStep& build, const BatchStep& afterBatch) {
  if (products.empty()) return;
  // At most four threads: past that, the working tables of the builds side by
  // side cost more memory than the few milliseconds they save.
  const size_t threads = std::min<size_t>({KVRAvailableProcessors(), 4, products.size()});
  // One builder per thread, kept for every batch: its working tables are
  // reused from one product to the next.
  std::vector<std::unique_ptr<KVRHistoryBuilder>> builders;
  for (size_t t = 0; t < threads; ++t) builders.push_back(std::make_unique<KVRHistoryBuilder>(services));
  std::recursive_mutex& context = KVRVortelyCoreDataManager::sharedInstance().contextLock();
  const size_t batch = threads == 1 ? 1 : threads * 2;
  // Largest first, so that the products of a batch take about as long as
  // each other and its threads end together.
  std::vector<size_t> order(products.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  {
    std::lock_guard<std::recursive_mutex> g(context);
    auto size = [&](size_t i) { return products[i] ? products[i]->entries.size() + products[i]->iAdEntries.size() : 0; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return size(a) > size(b); });
  }
  static const std::vector<KVRReport*> kNone;
  std::vector<size_t> members;
  for (size_t first = 0; first < order.size(); first += batch) {
    const size_t last = std::min(order.size(), first + batch);
    members.assign(order.begin() + ptrdiff_t(first), order.begin() + ptrdiff_t(last));
    std::lock_guard<std::recursive_mutex> g(context);
    const auto daily = dailyReportsByAccount();
    if (beforeBatch) beforeBatch(members);
    std::atomic<size_t> next{0};
    auto work = [&](size_t t) {
      for (size_t i; (i = next.fetch_add(1)) < members.size();) {
        KVRVortelyManagedProduct* p = products[members[i]];
        if (!p) continue;
        auto it = p->account ? daily.find(p->account) : daily.end();
        build(members[i], *builders[t], it == daily.end() ? kNone : it->second);
      }
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < std::min(threads, members.size()); ++t) helpers.emplace_back(work, t);
    work(0);
    for (std::thread& h : helpers) h.join();
    if (afterBatch) afterBatch(members);
  }
}

void KVRVortelyManagedProduct::buildHistories(const std::vector<KVRVortelyManagedProduct*>& products, bool rebuild,
                                              const std::function<void(KVRVortelyManagedProduct*)>& afterEach,
                                              const KVRCalculationServices& services) {
  runBuildBatches(
      products, services,
      [&](const std::vector<size_t>& batch) {
        if (rebuild)
          for (size_t i : batch)
            if (products[i]) products[i]->resetHistory();
      },
      [&](size_t i, KVRHistoryBuilder& builder, const std::vector<KVRReport*>& accountReports) {
        products[i]->buildHistoryWith(builder, accountReports, *services.converter);
      },
      [&](const std::vector<size_t>& batch) {
        if (afterEach)
          for (size_t i : batch)
            if (products[i]) afterEach(products[i]);
      });
}

std::vector<KVRHistory> KVRVortelyManagedProduct::buildHistoriesAside(
    const std::vector<KVRVortelyManagedProduct*>& products,
    const std::function<KVREffectiveRatesRef(const KVRStoreAccount*)>& ratesOf, const QSet<QString>* changedRegions,
    const KVRCalculationServices& services) {
  std::vector<KVRHistory> out(products.size());
  runBuildBatches(products, services, {},
                  [&](size_t i, KVRHistoryBuilder& builder, const std::vector<KVRReport*>& accountReports) {
                    const KVRVortelyManagedProduct* p = products[i];
                    builder.setEffectiveRates(ratesOf ? ratesOf(p->account) : nullptr);
                    // Series are kept only from a history built since the last reset.
                    const bool current = changedRegions && p->initialized() && !p->stale_.load();
                    const KVRProductValuesRef previous = current ? p->valuesByCountryAndDate() : nullptr;
                    out[i] = builder.rebuild(p->entries, p->iAdEntries, accountReports, previous.get(),
                                             changedRegions ? *changedRegions : QSet<QString>());
                  },
                  {});
  return out;
}

void KVRVortelyManagedProduct::installHistory(KVRHistory history) {
  // No build lock: the main thread never waits for a build. A reset since
  // stays in force, and the next build makes the history again.
  publishValues(std::move(history.values), history.totalSales, history.totalUpgrades, history.totalIncomes);
}

void KVRVortelyManagedProduct::resetHistory() { stale_.store(true, std::memory_order_release); }

KVRProductValuesRef KVRVortelyManagedProduct::valuesByCountryAndDate() const {
  std::lock_guard<std::mutex> g(valuesLock_);
  return values_;
}

void KVRVortelyManagedProduct::publishValues(KVRProductValuesRef values, float totalSales,
                                             float totalUpgrades, float totalIncomes) {
  if (!values) values = std::make_shared<KVRProductValues>();
  std::lock_guard<std::mutex> g(valuesLock_);
  values_ = values;
  totalSales_.store(totalSales, std::memory_order_relaxed);
  totalUpgrades_.store(totalUpgrades, std::memory_order_relaxed);
  totalIncomes_.store(totalIncomes, std::memory_order_relaxed);
  // The same snapshot, whole, in the shared index: a shorter rebuild leaves
  // no day of the previous one behind.
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().publish(idStore, std::move(values));
  initialized_.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------- financial reports

const std::vector<KVRReport*>& KVRVortelyManagedProduct::financialReports() {
  static const std::vector<KVRReport*> none;
  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  std::lock_guard<std::recursive_mutex> ctx(dm.contextLock());
  if (!account) return none;
  if (financialReportsBuilt_) return financialReports_;

  std::vector<KVRReportEntry*> lines;
  for (KVRReportEntry* e : entries)
    if (e && e->report && e->report->type == KVRReportTypeFinancial) lines.push_back(e);
  std::stable_sort(lines.begin(), lines.end(), [](const KVRReportEntry* a, const KVRReportEntry* b) {
    // Lines without a date go last.
    if (a->beginDate.isValid() != b->beginDate.isValid()) return a->beginDate.isValid();
    if (a->beginDate.ms != b->beginDate.ms && a->beginDate.isValid()) return a->beginDate.ms < b->beginDate.ms;
    return a->objectID < b->objectID;
  });

  financialReports_.clear();
  for (KVRReportEntry* e : lines) {
    KVRReport* r = e->report;
    // A report's dates come from its dated lines only.
    if (e->beginDate.isValid() && (r->beginDate != e->beginDate || r->endDate != e->endDate)) {
      r->beginDate = e->beginDate;
      r->endDate = e->endDate;
      dm.markChanged(r);
    }
    if (std::find(financialReports_.begin(), financialReports_.end(), r) == financialReports_.end())
      financialReports_.push_back(r);
  }
  financialReportsBuilt_ = true;
  return financialReports_;
}

void KVRVortelyManagedProduct::resetFinancialReports() {
  std::lock_guard<std::recursive_mutex> ctx(KVRVortelyCoreDataManager::sharedInstance().contextLock());
  financialReportsBuilt_ = false;
  financialReports_.clear();
}

// ---------------------------------------------------------------- partners and costs

void KVRVortelyManagedProduct::addPartnersObject(KVRPartner* p) {
  if (!p) return;
  p->product = this;
  if (std::find(partners.begin(), partners.end(), p) == partners.end()) partners.push_back(p);
}

void KVRVortelyManagedProduct::addCostsObject(KVRCost* c) {
  if (!c) return;
  c->product = this;
  if (std::find(costs.begin(), costs.end(), c) == costs.end()) costs.push_back(c);
}
