// Opening a large database and building every product's history: seconds,
// peak memory and the build's page faults, as the application's start-up does
// them (KVRVortelyCoreDataManager::openStore, then KVRInstallEffectiveRates
// and KVRVortelyManagedProduct::buildHistories).
//
//   VORTELY_BENCH_DATA   the sample folder (made by vortely-sample-data --size
//                        large --out <dir>) or the database file itself;
//                        default build/sample-large
//   VORTELY_BENCH_SYNTHETIC=1  build made-up products in memory instead
//                        (also used when no database is found)
//
//   bench_history --copies N --out <folder>
//                        writes into <folder> a store N times the one of
//                        VORTELY_BENCH_DATA (every account, product, report
//                        and line copied N - 1 times under new ids), with the
//                        sample's rates beside it.
//
// Then a reconciliation's rebuild: the payment's account's rates and the
// histories they change, timed and checked against a full rebuild (exit 3
// when they differ). Target: under 150 ms until the new statement, 400 ms on
// one processor.
//
// One run per process (the peak memory is the process's). Targets: open +
// build (with the integrity check beside it) under 0.6 s, or 1.5 s when the
// process may run on one processor only (`taskset -c 0`); peak memory no
// higher than 443 MB for the large sample, under 2 GB for a store four times
// as large.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <SQLiteCpp/SQLiteCpp.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "core/KVRCalendar.h"
#include "core/KVRProcessors.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVREffectiveRates.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "core/KVRVortelyManagedProduct.h"

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Resident bytes of the process now.
double residentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return double(resident) * double(sysconf(_SC_PAGESIZE));
}

long minorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
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

// Writes into `folder` a store `copies` times the one at `store`: every row
// of every table copied under ids shifted past the largest, products under
// new store ids; the rates file beside the store comes along.
int makeCopies(const QString& store, int copies, const QString& folder) {
  if (store.isEmpty() || copies < 1) {
    std::fprintf(stderr, "no database to copy\n");
    return 1;
  }
  QDir().mkpath(folder);
  const QString target = QDir(folder).filePath(QStringLiteral("Vortely.sqlite"));
  QFile::remove(target);
  if (!QFile::copy(store, target)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
    return 1;
  }
  const QString rates = QFileInfo(store).dir().filePath(QStringLiteral("Rates.json"));
  QFile::remove(QDir(folder).filePath(QStringLiteral("Rates.json")));
  if (QFile::exists(rates)) QFile::copy(rates, QDir(folder).filePath(QStringLiteral("Rates.json")));
  try {
    SQLite::Database db(target.toStdString(), SQLite::OPEN_READWRITE);
    const char* tables[] = {"StoreAccount", "Product", "Report", "ReportEntry", "iAdReportEntry", "Rating", "Cost", "Partner"};
    std::map<std::string, int64_t> maxId;
    std::map<std::string, std::vector<std::string>> columns;
    for (const char* t : tables) {
      maxId[t] = db.execAndGet(std::string("SELECT ifnull(max(id), 0) FROM ") + t).getInt64();
      SQLite::Statement q(db, std::string("PRAGMA table_info(") + t + ")");
      while (q.executeStep()) columns[t].push_back(q.getColumn(1).getString());
    }
    const int64_t storeIdStep = db.execAndGet("SELECT ifnull(max(abs(idStore)), 0) + 1 FROM Product").getInt64();
    SQLite::Transaction transaction(db);
    for (int k = 1; k < copies; ++k) {
      for (const char* t : tables) {
        std::string select;
        for (const std::string& c : columns[t]) {
          if (!select.empty()) select += ", ";
          if (c == "id") select += "id + " + std::to_string(maxId[t] * k);
          else if (c == "account_id") select += "account_id + " + std::to_string(maxId["StoreAccount"] * k);
          else if (c == "product_id") select += "product_id + " + std::to_string(maxId["Product"] * k);
          else if (c == "report_id") select += "report_id + " + std::to_string(maxId["Report"] * k);
          else if (c == "idStore") select += "idStore + " + std::to_string(storeIdStep * k);
          else select += c;
        }
        db.exec(std::string("INSERT INTO ") + t + " SELECT " + select + " FROM " + t + " WHERE id <= " +
                std::to_string(maxId[t]) + " ORDER BY id");
      }
    }
    transaction.commit();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot copy: %s\n", e.what());
    return 1;
  }
  std::printf("%s: %d times %s\n", qPrintable(target), copies, qPrintable(store));
  return 0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A checksum of every history: value keys, days and every record's floats,
// bit for bit, with the all-time totals. Two builds that agree give the same.
uint64_t historiesChecksum(const std::vector<KVRVortelyManagedProduct*>& products) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  };
  for (const KVRVortelyManagedProduct* p : products) {
    const KVRProductValuesRef v = p ? p->valuesByCountryAndDate() : nullptr;
    if (!v) continue;
    const float totals[] = {p->totalSales(), p->totalUpgrades(), p->totalIncomes()};
    mix(&p->idStore, sizeof p->idStore);
    mix(totals, sizeof totals);
    for (const KVRValueSeries& s : v->series) {
      mix(s.valueKey.constData(), size_t(s.valueKey.size()) * sizeof(QChar));
      for (size_t i = 0; i < s.days.size(); ++i) {
        const KVRCivilDay d = s.days[i];
        const KVRTotalsStruct r = s.records[i];
        mix(&d, sizeof d);
        for (int m = 0; m <= int(KVRMeasure::income); ++m) {
          const float x = r.measure(KVRMeasure(m));
          mix(&x, sizeof x);
        }
        for (int c = 0; c < KVRCurrencySlotCount; ++c) {
          const float x = r.currencyAmount(KVRCurrencySlot(c));
          mix(&x, sizeof x);
        }
      }
    }
  }
  return h;
}

bool sameValues(const KVRProductValuesRef& a, const KVRProductValuesRef& b) {
  if (!a || !b || a->series.size() != b->series.size()) return false;
  for (size_t s = 0; s < a->series.size(); ++s) {
    const KVRValueSeries &x = a->series[s], &y = b->series[s];
    if (x.valueKey != y.valueKey || x.days.size() != y.days.size() || x.records.size() != y.records.size())
      return false;
    for (size_t i = 0; i < x.days.size(); ++i)
      if (x.days[i] != y.days[i] || !(x.records[i] == y.records[i])) return false;
  }
  return true;
}

// A reconciliation's rebuild, as the application runs it: the payment's
// account's rates derived again and the histories they change built in the
// background, then installed on the main thread; then the statement of every
// account (its rebuild on the main thread, another piece's). The payment: the
// latest reconciled United States one (else any region's) of the account with
// the most lines, its received amount changed (reconcile) and put back
// (unreconcile), in turn. Checked
// against a full rebuild, bit for bit. False when the check fails.
bool benchReconcile(KVRVortelyCoreDataManager& dm, const std::vector<KVRVortelyManagedProduct*>& products) {
  KVRStoreAccount* account = nullptr;
  KVRReport* payment = nullptr;
  {
    std::lock_guard<std::recursive_mutex> g(dm.contextLock());
    std::map<KVRStoreAccount*, size_t> lines;
    for (KVRVortelyManagedProduct* p : products)
      if (p && p->account) lines[p->account] += p->entries.size();
    // The account with the most lines; its latest payment of the region with
    // the most sales (the United States) when it has one, the widest rebuild.
    for (const auto& [a, n] : lines)
      if (!account || n > lines[account]) account = a;
    auto isUS = [](const KVRReport* r) {
      for (const KVRReportEntry* e : r->entries)
        if (e && e->country == QLatin1String("US")) return true;
      return false;
    };
    for (KVRReport* r : dm.reports()) {
      if (!r || r->type != KVRReportTypePayment || r->account != account || r->status != KVRReportStatusPointed ||
          !(r->pointedIncome > 0))
        continue;
      const bool better = !payment || (isUS(r) && !isUS(payment)) ||
                          (isUS(r) == isUS(payment) && r->beginDate.ms > payment->beginDate.ms);
      if (better) payment = r;
    }
  }
  if (!payment) {
    std::printf("reconcile     no reconciled payment in the store\n");
    return true;
  }
  const double pointed = payment->pointedIncome;
  std::vector<double> background, install, statement, total, rebuilt;
  std::vector<std::vector<KVRProductValuesRef>> keep;
  KVRFinancialSelection everything;
  everything.products = products;
  everything.accounts = dm.accounts();
  everything.accountSelected = true;
  const KVRFinancialStatementBuilder builder(dm);
  for (int run = 0; run < 10; ++run) {
    {
      std::lock_guard<std::recursive_mutex> g(dm.contextLock());
      payment->pointedIncome = run % 2 == 0 ? pointed * 1.05 : pointed;
    }
    const auto a = std::chrono::steady_clock::now();
    KVRRatesRebuild r = KVRRebuildRatesOfAccounts(dm, {account});
    const auto b = std::chrono::steady_clock::now();
    rebuilt.push_back(double(r.products.size()));
    std::vector<KVRProductValuesRef> replaced = KVRInstallRatesRebuild(std::move(r));
    const auto c = std::chrono::steady_clock::now();
    keep.push_back(std::move(replaced));  // the application lets go of them off the main thread
    const KVRFinancialStatement st = builder.build(everything);
    const auto d = std::chrono::steady_clock::now();
    auto ms = [](auto x, auto y) { return std::chrono::duration<double, std::milli>(y - x).count(); };
    background.push_back(ms(a, b));
    install.push_back(ms(b, c));
    statement.push_back(ms(c, d));
    total.push_back(ms(a, d));
    if (st.months.empty()) std::printf("(empty statement)\n");
  }
  auto range = [](const std::vector<double>& v) {
    return std::make_pair(*std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
  };
  auto show = [&](const char* what, const std::vector<double>& v) {
    const auto [lo, hi] = range(v);
    std::printf("  %-34s median %7.1f ms (%.1f to %.1f)\n", what, median(v), lo, hi);
  };
  std::printf("reconcile     %s's payment of %s, %.0f of %zu products rebuilt (10 runs)\n",
              qPrintable(account->developer), qPrintable(payment->filename), median(rebuilt), products.size());
  show("rates and histories (background)", background);
  show("installed (main thread)", install);
  show("statement, every account (main)", statement);
  show("until the new statement", total);
  {
    std::vector<double> derive;
    for (int run = 0; run < 5; ++run) {
      const auto a = std::chrono::steady_clock::now();
      KVRDeriveEffectiveRatesForAccount(dm, account, KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency());
      derive.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
    }
    show("of which the account's rates", derive);
  }

  // The full rebuild gives the same rates and histories.
  std::map<const KVRStoreAccount*, KVREffectiveRatesRef> rates;
  std::map<const KVRVortelyManagedProduct*, KVRProductValuesRef> values;
  for (KVRStoreAccount* a : dm.accounts()) rates[a] = KVRVortelyCurrencyConverter::sharedInstance().effectiveRatesForAccount(a);
  for (KVRVortelyManagedProduct* p : products) values[p] = p->valuesByCountryAndDate();
  const auto f0 = std::chrono::steady_clock::now();
  KVRInstallEffectiveRates(dm);
  KVRVortelyManagedProduct::buildHistories(products, true);
  const auto f1 = std::chrono::steady_clock::now();
  std::printf("  %-34s %7.1f ms\n", "full rebuild, for comparison", std::chrono::duration<double, std::milli>(f1 - f0).count());
  bool same = true;
  for (KVRStoreAccount* a : dm.accounts()) {
    const KVREffectiveRatesRef x = rates[a], y = KVRVortelyCurrencyConverter::sharedInstance().effectiveRatesForAccount(a);
    if (bool(x) != bool(y) || (x && x->size() != y->size())) same = false;
    if (x && y && same)
      for (size_t i = 0; i < x->size(); ++i)
        if ((*x)[i].firstDay != (*y)[i].firstDay || (*x)[i].lastDay != (*y)[i].lastDay ||
            std::memcmp(&(*x)[i].rate, &(*y)[i].rate, sizeof(double)) != 0 || (*x)[i].region != (*y)[i].region)
          same = false;
  }
  for (KVRVortelyManagedProduct* p : products)
    if (!sameValues(values[p], p->valuesByCountryAndDate())) same = false;
  std::printf("  %s\n", same ? "same rates and histories as the full rebuild" : "DIFFERS FROM THE FULL REBUILD");
  const bool fast = median(total) < (KVRAvailableProcessors() == 1 ? 400.0 : 150.0);
  std::printf("  %s (target: until the new statement under %d ms)\n", fast ? "within target" : "OVER TARGET",
              KVRAvailableProcessors() == 1 ? 400 : 150);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bench::nameApplication();
  const bench::Data data = bench::dataFromEnvironment();
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--copies") == 0) {
      QString out;
      for (int j = 1; j + 1 < argc; ++j)
        if (std::strcmp(argv[j], "--out") == 0) out = QString::fromLocal8Bit(argv[j + 1]);
      if (out.isEmpty()) {
        std::fprintf(stderr, "--copies needs --out <folder>\n");
        return 1;
      }
      return makeCopies(data.store, std::atoi(argv[i + 1]), out);
    }

  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  Synthetic synthetic;
  std::vector<KVRVortelyManagedProduct*> products;
  const double residentBefore = residentBytes();
  const auto t0 = std::chrono::steady_clock::now();
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
  const double loadedBytes = residentBytes() - residentBefore;

  // Every product's history, built anew, as the application's start-up does:
  // the effective rates of the reconciled payments first, then the builds.
  const long f2 = minorFaults();
  const double c2 = cpuSeconds();
  const auto t2 = std::chrono::steady_clock::now();
  const size_t effectiveRates = store.isEmpty() ? 0 : KVRInstallEffectiveRates(dm);
  const auto tRates = std::chrono::steady_clock::now();
  KVRVortelyManagedProduct::buildHistories(products, true);
  // The file's integrity check runs from the end of the open beside the
  // build; start-up waits for it before the window shows.
  const auto tBuilt = std::chrono::steady_clock::now();
  if (!store.isEmpty() && !dm.waitForIntegrityCheck()) return 1;
  const auto t3 = std::chrono::steady_clock::now();
  const double c3 = cpuSeconds();
  const long f3 = minorFaults();

  size_t records = 0, valueBytes = 0;
  for (auto* p : products)
    if (auto v = p->valuesByCountryAndDate()) records += v->recordCount(), valueBytes += v->byteSize();
  const double loadSeconds = std::chrono::duration<double>(t1 - t0).count();
  const double buildSeconds = std::chrono::duration<double>(t3 - t2).count();
  const double peakMB = bench::peakMegabytes();
  const unsigned processors = KVRAvailableProcessors();
  std::printf("processors    %u\n", processors);
  std::printf("products      %zu\n", products.size());
  std::printf("sales lines   %zu\n", lines);
  std::printf("ad lines      %zu\n", adLines);
  std::printf("day records   %zu (%.1f MB, %.1f bytes each)\n", records, valueBytes / 1048576.0,
              records ? double(valueBytes) / double(records) : 0.0);
  std::printf("open          %.3f s (peak %.0f MB)\n", loadSeconds, loadMB);
  std::printf("effective rates %zu runs in %.3f s\n", effectiveRates, std::chrono::duration<double>(tRates - t2).count());
  std::printf("history build %.3f s (processor time %.3f s, effective rates and the wait for the integrity check "
              "included), %ld page faults\n",
              buildSeconds, c3 - c2, f3 - f2);
  std::printf("integrity check ended %.3f s after the build\n", std::chrono::duration<double>(t3 - tBuilt).count());
  std::printf("open + build  %.3f s\n", loadSeconds + buildSeconds);
  std::printf("peak memory   %.0f MB\n", peakMB);
  std::printf("histories     checksum %016llx\n", (unsigned long long)historiesChecksum(products));
  // What each step cannot do without, to set against the memory bandwidth
  // (bench_memory): the open reads the file and writes the loaded objects;
  // the build reads the lines and writes the day records, whose pages it
  // must fault in at least once.
  const double fileBytes = store.isEmpty() ? 0.0 : double(QFileInfo(store).size());
  const double lineBytes = double(lines) * sizeof(KVRReportEntry) + double(adLines) * sizeof(KVRiAdReportEntry);
  std::printf("open touches  %.0f MB (the file %.0f MB, the loaded objects %.0f MB)\n",
              (fileBytes + loadedBytes) / 1048576.0, fileBytes / 1048576.0, loadedBytes / 1048576.0);
  std::printf("build touches %.0f MB (the lines %.0f MB, the day records %.0f MB: at least %.0f page faults)\n",
              (lineBytes + double(valueBytes)) / 1048576.0, lineBytes / 1048576.0, valueBytes / 1048576.0,
              std::ceil(double(valueBytes) / double(sysconf(_SC_PAGESIZE))));
  // The large sample has under 3 million lines; four times it, over 11. The
  // time target is the large sample's.
  const bool large = lines > 6000000;
  const double timeTarget = large ? 1e9 : processors == 1 ? 1.5 : 0.6;
  const double memoryTarget = large ? 2048.0 : 443.0;
  const bool ok = loadSeconds + buildSeconds < timeTarget && peakMB <= memoryTarget;
  if (large)
    std::printf("%s (target: peak no higher than %.0f MB)\n", ok ? "within target" : "OVER TARGET", memoryTarget);
  else
    std::printf("%s (target: open + build under %.1f s, peak no higher than %.0f MB)\n", ok ? "within target" : "OVER TARGET",
                timeTarget, memoryTarget);
  const bool same = store.isEmpty() || benchReconcile(dm, products);
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    char text[128] = {};
    if (std::fgets(text, sizeof text, f)) std::printf("load average  %s", text);
    std::fclose(f);
  }
  if (!store.isEmpty()) dm.closeStore();
  return !same ? 3 : ok ? 0 : 2;
}
