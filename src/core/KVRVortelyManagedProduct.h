#pragma once
// One product of one store, own or followed, with its cached sales history.
#include <QColor>
#include <QImage>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/KVREntities.h"
#include "core/KVRHistoryBuilder.h"
#include "core/KVRProductValues.h"

class KVRVortelyManagedProduct : public KVRManagedObject {
 public:
  // Persistent attributes.
  int64_t idStore = 0;  // store identifier: key of the product in the values index and totals
  QString name;
  QString category;     // "In-App Purchase", "E-Book" or a store category label
  QString bundleIdentifier;
  QString version;
  bool free = false;
  KVRDate firstDate, lastDate;  // first and last report day
  KVRStoreAccount* account = nullptr;
  QByteArray iconData;

  // Relationships (owned by the data manager's context).
  std::vector<KVRReportEntry*> entries;
  std::vector<KVRiAdReportEntry*> iAdEntries;
  std::vector<KVRRating*> ratings;
  std::vector<KVRCost*> costs;
  std::vector<KVRPartner*> partners;

  // Transient: colour of the product's curve when several products are
  // selected; invalid when none is assigned. Main thread only.
  QColor curveColor;

  bool isInAppPurchase() const { return category == QLatin1String("In-App Purchase"); }
  bool isEBook() const { return category == QLatin1String("E-Book"); }
  bool isAndroid() const;
  QImage icone() const;  // null image when the product has no icon

  // Vote counts for the five star levels (1 to 5) of the all-versions slots;
  // country null or empty for all countries. Always five entries, 0 for a
  // level without a rating row; all 0 until cacheRatings has run.
  std::vector<int> ratingsForCountry(const QString& country = QString()) const;
  std::vector<int> newRatingsForCountry(const QString& country = QString()) const;
  // Fills the rating cache from the product's Rating rows (the data manager's
  // loadRatings calls it).
  void cacheRatings();

  // History. Builds the per-value-key, per-day records from the product's
  // report and ad lines, once; then publishes them in the product's cache and
  // in the shared values index. Returns at once when already built and not
  // reset since. What is counted and how: KVRHistoryBuilder. The build reads
  // the product's lines and its account's reports: the caller holds the data
  // manager's context lock. The build converts with the converter of
  // `services` (its rates and the account's effective rates) and counts days
  // in its calendar.
  void buildHistoryByDate(const KVRCalculationServices& services = KVRCalculationServices::shared());
  // Builds the histories of many products as buildHistoryByDate builds each
  // (anew for every one when `rebuild`), on as many threads as the process may
  // run on, at most four, the products with the most lines first. The data
  // manager's context lock is taken by the calling thread for one batch of a
  // few products at a time (so another thread never waits for more than a
  // batch), and `afterEach` runs on the calling thread, under that lock, for
  // each product once its batch is built.
  static void buildHistories(const std::vector<KVRVortelyManagedProduct*>& products, bool rebuild = false,
                             const std::function<void(KVRVortelyManagedProduct*)>& afterEach = {},
                             const KVRCalculationServices& services = KVRCalculationServices::shared());
  // Builds the histories of the products as buildHistories does, with the
  // effective rates `ratesOf` gives for each product's account instead of
  // the converter's, and installs none of them: out[i] is products[i]'s. The
  // caller installs them with installHistory (on the main thread, once the
  // rates they were built with are in place). When only the rates of the
  // money regions `changedRegions` differ from those the current histories
  // were built with, a product whose history is up to date keeps the series
  // of the other regions (KVRHistoryBuilder::rebuild); pass none to build
  // every series.
  static std::vector<KVRHistory> buildHistoriesAside(
      const std::vector<KVRVortelyManagedProduct*>& products,
      const std::function<KVREffectiveRatesRef(const KVRStoreAccount*)>& ratesOf,
      const QSet<QString>* changedRegions = nullptr,
      const KVRCalculationServices& services = KVRCalculationServices::shared());
  // Installs a history built aside (publishValues); a reset made before
  // stays in force. Main thread, without waiting for a build.
  void installHistory(KVRHistory history);
  // Marks the built history out of date, so that the next build recomputes it
  // (after new report lines, a new rate or a reconciliation). The current
  // values stay in place, for the product and in the shared index, until the
  // new ones replace them whole: a load meanwhile reads the old figures, never
  // an empty product.
  void resetHistory();
  bool initialized() const { return initialized_.load(std::memory_order_acquire); }
  // The product values cache: an immutable snapshot, null before the first build.
  KVRProductValuesRef valuesByCountryAndDate() const;
  std::mutex& valuesLock() { return valuesLock_; }
  // Installs a built history: the product values cache, the all-time totals,
  // and the same snapshot in the shared values index under idStore. The
  // history build ends with it; tests use it to set up exact values.
  void publishValues(KVRProductValuesRef values, float totalSales, float totalUpgrades, float totalIncomes);

  float totalSales() const { return totalSales_.load(std::memory_order_relaxed); }
  float totalUpgrades() const { return totalUpgrades_.load(std::memory_order_relaxed); }
  float totalIncomes() const { return totalIncomes_.load(std::memory_order_relaxed); }

  // The distinct financial reports (type 4) holding lines of this product, in
  // date order; cached until resetFinancialReports. Empty without an account.
  const std::vector<KVRReport*>& financialReports();
  void resetFinancialReports();

  void addPartnersObject(KVRPartner* p);
  void addCostsObject(KVRCost* c);

 private:
  // The build on a given builder, with the account's daily reports.
  void buildHistoryWith(KVRHistoryBuilder& builder, const std::vector<KVRReport*>& accountReports,
                        KVRVortelyCurrencyConverter& converter);
  // Runs `build` for every product (its index in `products`), on as many
  // threads as buildHistories uses, in batches under the context lock;
  // `beforeBatch` and `afterBatch` run on the calling thread with the
  // batch's indexes.
  using BatchStep = std::function<void(const std::vector<size_t>& batch)>;
  using BuildStep =
      std::function<void(size_t i, KVRHistoryBuilder& builder, const std::vector<KVRReport*>& accountReports)>;
  static void runBuildBatches(const std::vector<KVRVortelyManagedProduct*>& products,
                              const KVRCalculationServices& services, const BatchStep& beforeBatch,
                              const BuildStep& build, const BatchStep& afterBatch);

  mutable std::mutex valuesLock_;
  std::mutex buildLock_;  // one history build of the product at a time
  KVRProductValuesRef values_;
  std::atomic<bool> initialized_{false};
  std::atomic<bool> stale_{false};  // reset since the last build
  std::atomic<float> totalSales_{0}, totalUpgrades_{0}, totalIncomes_{0};

  bool financialReportsBuilt_ = false;
  std::vector<KVRReport*> financialReports_;

  mutable std::mutex ratingsLock_;
  // [country storefront][level 0..4] -> votes / new votes; "" = all countries
  std::vector<std::pair<QString, std::array<int, 10>>> ratingCache_;
};
