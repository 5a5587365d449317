// History build of every product of a large database: seconds and peak memory.
//
//   VORTELY_BENCH_DATA   the sample folder (made by vortely-sample-data --size
//                        large --out <dir>) or the database file itself;
//                        default build/sample-large
//   VORTELY_BENCH_SYNTHETIC=1  build made-up products in memory instead
//                        (also used when no database is found)
//
// Target: the build of all products in under 5 seconds on one core, peak
// resident memory under 2 GB.
#include <QCoreApplication>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench_common.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVREffectiveRates.h"

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Made-up products: daily lines for three years in 40 countries, a weekly
// report for the first year, ad lines for a few products.
struct Synthetic {
  std::vector<std::unique_ptr<KVRManagedObject>> owned;
  std::vector<KVRVortelyManagedProduct*> products;

  template <typename T> T* make() {
    auto o = std::make_unique<T>();
    T* raw = o.get();
    owned.push_back(std::move(o));
    return raw;
  }

  void generate(int productCount, int days) {
    static const char* countries[] = {"US", "FR", "DE", "GB", "JP", "CA", "AU", "IT", "ES", "NL",
                                      "BR", "MX", "CH", "SE", "NO", "DK", "NZ", "CN", "TW", "HK",
                                      "SG", "BE", "AT", "PT", "IE", "FI", "PL", "RU", "KR", "IN",
                                      "AR", "CL", "CO", "ZA", "TR", "GR", "CZ", "HU", "IL", "AE"};
    static const char* currencies[] = {"USD", "EUR", "EUR", "GBP", "JPY", "CAD", "AUD", "EUR", "EUR", "EUR",
                                       "USD", "MXN", "CHF", "SEK", "NOK", "DKK", "NZD", "CNY", "USD", "USD",
                                       "USD", "EUR", "EUR", "EUR", "EUR", "EUR", "USD", "USD", "USD", "USD",
                                       "USD", "USD", "USD", "USD", "USD", "EUR", "USD", "USD", "USD", "USD"};
    QString countryText[40], currencyText[40];
    for (int i = 0; i < 40; ++i) {
      countryText[i] = QString::fromLatin1(countries[i]);
      currencyText[i] = QString::fromLatin1(currencies[i]);
    }
    KVRCalendar& cal = KVRCalendar::shared();
    const KVRCivilDay first = KVRCivilDayFromYMD(2023, 1, 2);
    std::vector<KVRDate> dates(size_t(days) + 7);
    for (size_t d = 0; d < dates.size(); ++d) dates[d] = cal.dateFromCivilDay(first + KVRCivilDay(d));

    std::vector<KVRReport*> daily(static_cast<size_t>(days), nullptr);
    for (int d = 0; d < days; ++d) {
      daily[size_t(d)] = make<KVRReport>();
      daily[size_t(d)]->type = KVRReportTypeDaily;
    }
    int64_t id = 0;
    uint32_t seed = 12345;
    auto rnd = [&seed] { seed = seed * 1664525u + 1013904223u; return seed >> 8; };
    for (int p = 0; p < productCount; ++p) {
      auto* product = make<KVRVortelyManagedProduct>();
      product->idStore = 100000 + p;
      products.push_back(product);
      for (int d = 0; d < days; ++d) {
        for (int c = 0; c < 40; ++c) {
          if (rnd() % 100 >= 45) continue;
          auto* e = make<KVRReportEntry>();
          e->objectID = ++id;
          e->product = product;
          e->report = daily[size_t(d)];
          e->type = rnd() % 10 == 0 ? KVREntryTypeUpgrade : KVREntryTypeSale;
          e->count = int(rnd() % 20) + 1;
          e->income = p % 5 == 0 ? 0 : 70 * (1 + p % 4);
          e->currency = currencyText[c];
          e->country = countryText[c];
          e->beginDate = e->endDate = dates[size_t(d)];
          product->entries.push_back(e);
        }
      }
      if (p % 10 == 0)
        for (int d = 0; d < days; ++d)
          for (int c = 0; c < 10; ++c) {
            auto* a = make<KVRiAdReportEntry>();
            a->objectID = ++id;
            a->product = product;
            a->country = countryText[c];
            a->date = dates[size_t(d)];
            a->revenue = 1.5f;
            a->requests = 1000;
            a->impressions = 900;
            a->eCPM = 1.6f;
            a->ctr = 0.4f;
            a->fillRate = 90;
            product->iAdEntries.push_back(a);
          }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bench::nameApplication();

  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  Synthetic synthetic;
  std::vector<KVRVortelyManagedProduct*> products;
  const auto t0 = std::chrono::steady_clock::now();
  const bench::Data data = bench::dataFromEnvironment();
  const QString& store = data.store;
  if (!store.isEmpty()) {
    if (!bench::openStore(dm, store)) return 1;
    products = dm.products();
    std::printf("database      %s\n", qPrintable(store));
  } else {
    std::printf("no database under %s: synthetic products\n", qPrintable(data.path));
    synthetic.generate(200, 3 * 365);
    products = synthetic.products;
  }
  const auto t1 = std::chrono::steady_clock::now();
  size_t lines = 0, adLines = 0;
  for (auto* p : products) {
    lines += p->entries.size();
    adLines += p->iAdEntries.size();
  }
  const double loadMB = bench::peakMegabytes();

  // Every product's history, built anew, one after the other (each build
  // reads its lines under the context lock, as the application's rebuild does),
  // after the effective rates of the reconciled payments.
  const double c2 = cpuSeconds();
  const auto t2 = std::chrono::steady_clock::now();
  const size_t effectiveRates = store.isEmpty() ? 0 : KVRInstallEffectiveRates(dm);
  const auto tRates = std::chrono::steady_clock::now();
  for (KVRVortelyManagedProduct* p : products) {
    std::lock_guard<std::recursive_mutex> ctx(dm.contextLock());
    p->resetHistory();
    p->buildHistoryByDate();
  }
  const auto t3 = std::chrono::steady_clock::now();
  const double c3 = cpuSeconds();

  size_t records = 0;
  for (auto* p : products)
    if (auto v = p->valuesByCountryAndDate()) records += v->recordCount();
  const double loadSeconds = std::chrono::duration<double>(t1 - t0).count();
  const double buildSeconds = std::chrono::duration<double>(t3 - t2).count();
  const double peakMB = bench::peakMegabytes();
  std::printf("products      %zu\n", products.size());
  std::printf("sales lines   %zu\n", lines);
  std::printf("ad lines      %zu\n", adLines);
  std::printf("day records   %zu\n", records);
  std::printf("load          %.3f s (peak %.0f MB)\n", loadSeconds, loadMB);
  std::printf("effective rates %zu runs in %.3f s\n", effectiveRates, std::chrono::duration<double>(tRates - t2).count());
  std::printf("history build %.3f s (processor time %.3f s, effective rates included)\n", buildSeconds, c3 - c2);
  std::printf("peak memory   %.0f MB\n", peakMB);
  const bool ok = buildSeconds < 5.0 && peakMB < 2048.0;
  std::printf("%s (target: build under 5 s, peak under 2048 MB)\n", ok ? "within target" : "OVER TARGET");
  if (!store.isEmpty()) dm.closeStore();
  return ok ? 0 : 2;
}
