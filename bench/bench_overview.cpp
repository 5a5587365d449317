// Overview loads on a large database: median time of a full load (the engine
// calls one background load makes) for an account's products and for one
// product, peak memory, and the speed against the plain reference engine.
//
//   VORTELY_BENCH_DATA        the sample folder (vortely-sample-data --size large
//                             --out <dir>) or the database file; default
//                             build/sample-large
//   VORTELY_BENCH_SYNTHETIC=1 made-up histories in memory instead (also used
//                             when no database is found): 200 products, 150
//                             countries, 5 years
//   VORTELY_BENCH_NO_REFERENCE=1  skip the reference engine
//   VORTELY_BENCH_CASE=<text> only the loads whose name holds the text
//
// Targets: the 5-year account load under 100 ms, every other load under 20 ms,
// at least 30 times faster than the reference engine.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "bench_common.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "overview/KVROverviewPeriod.h"
#include "overview/KVROverviewTypes.h"
#include "overview/KVRTotalsEngine.h"
// The reference engine is compiled in here.
#include "../tests/overview/reference_engine.cpp"

namespace {

// Made-up histories: each product sells in 30 of 150 countries on about half
// of the days of five years, in its country's currency.
struct Synthetic {
  std::vector<std::unique_ptr<KVRVortelyManagedProduct>> owned;
  std::unique_ptr<KVRStoreAccount> account = std::make_unique<KVRStoreAccount>();

  std::vector<KVRVortelyManagedProduct*> generate(int productCount, int countryCount, KVRCivilDay first, int days) {
    const char* regions[] = {"US", "EU", "CA", "GB", "JP", "AU", "WW", "MX"};
    const char* currencies[] = {"USD", "EUR", "CAD", "GBP", "JPY", "AUD", "USD", "MXN"};
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> coin(0, 1), units(0, 12);
    std::vector<KVRVortelyManagedProduct*> out;
    account->name = "Synthetic";
    for (int p = 0; p < productCount; ++p) {
      owned.push_back(std::make_unique<KVRVortelyManagedProduct>());
      KVRVortelyManagedProduct* product = owned.back().get();
      product->idStore = 900000 + p;
      product->name = QString("Product %1").arg(p, 3, 10, QChar('0'));
      product->account = account.get();
      product->firstDate = KVRCalendar::shared().dateFromCivilDay(first);
      product->lastDate = KVRCalendar::shared().dateFromCivilDay(first + days - 1);
      account->products.push_back(product);
      auto values = std::make_shared<KVRProductValues>();
      std::vector<int> countries(static_cast<size_t>(countryCount));
      for (int c = 0; c < countryCount; ++c) countries[size_t(c)] = c;
      std::shuffle(countries.begin(), countries.end(), rng);
      for (int k = 0; k < 30; ++k) {
        const int c = countries[size_t(k)];
        KVRValueSeries s;
        s.region = regions[c % 8];
        s.country = QString("%1%2").arg(QChar('A' + c / 26)).arg(QChar('A' + c % 26));
        s.valueKey = s.region + "-" + s.country;
        for (int d = 0; d < days; ++d) {
          if (coin(rng)) continue;
          KVRTotalsStruct r;
          r.sales = float(units(rng));
          r.downloads = r.sales;
          r.currency = r.sales * 0.7f;
          r.currencies.insert(currencies[c % 8]);
          r.currencyAmount(KVRCurrencySlot(KVRCurrencySlotForCode(currencies[c % 8]))) = r.sales * 0.99f;
          s.days.push_back(first + d);
          s.records.push_back(r);
        }
        values->series.push_back(std::move(s));
      }
      std::sort(values->series.begin(), values->series.end(),
                [](const KVRValueSeries& a, const KVRValueSeries& b) { return a.valueKey < b.valueKey; });
      product->publishValues(values, 0, 0, 0);
      out.push_back(product);
    }
    return out;
  }
};

struct Spans {
  int tag = 0;
  KVRDate s, e, gs, ge, ld, cd, ps, pe;
};

// The spans the overview computes for a period tag (the end day is the last
// report day).
Spans spansFor(int tag, KVRDate firstDate, KVRDate lastDate) {
  KVRCalendar& cal = KVRCalendar::shared();
  Spans sp;
  sp.tag = tag;
  sp.e = cal.startOfDay(lastDate);
  const KVRPeriodStep step = KVRPeriodStepForTag(tag, cal.components(KVRDayCalendarUnit, sp.e).day);
  sp.s = tag == KVRPeriodAll ? cal.startOfDay(firstDate)
                             : (step.hasStep ? cal.dateByAddingComponents(step.components, sp.e) : sp.e);
  sp.gs = sp.s;
  sp.ge = sp.e;
  if (step.isZeroDayStep() && tag != KVRPeriodCurrentMonth)
    sp.gs = cal.dateByAddingComponents(KVRDateComponents::days(-6), sp.ge);
  sp.ld = sp.s;
  sp.cd = sp.e;
  std::tie(sp.ps, sp.pe) = KVRPreviousSpan(tag, sp.s, sp.e, sp.ld, sp.cd);
  return sp;
}

using Engine = std::function<std::optional<KVRTotalsResult>(KVRDate, KVRDate, bool)>;

// The engine calls of one background load: span and whether only totals.
struct Call {
  KVRDate from, to;
  bool onlyTotals;
};
std::vector<Call> callsOfLoad(size_t productCount, const Spans& sp) {
  if (productCount == 1) {
    std::vector<Call> calls = {{sp.ps, sp.pe, true}, {sp.s, sp.e, false}};
    if (sp.tag == 0) calls.push_back({sp.gs, sp.ge, false});
    return calls;
  }
  std::vector<Call> calls = {{sp.s, sp.e, false}};
  if (!(sp.s == sp.ld && sp.e == sp.cd)) calls.push_back({sp.ld, sp.cd, true});
  calls.push_back({sp.ps, sp.pe, true});
  if (sp.tag == 0) calls.push_back({sp.gs, sp.ge, false});
  return calls;
}

std::vector<std::optional<KVRTotalsResult>> runLoad(const Engine& T, size_t productCount, const Spans& sp) {
  std::vector<std::optional<KVRTotalsResult>> out;
  for (const Call& c : callsOfLoad(productCount, sp)) out.push_back(T(c.from, c.to, c.onlyTotals));
  return out;
}

bool identical(const std::optional<KVRTotalsResult>& a, const std::optional<KVRTotalsResult>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  if (a->size() != b->size()) return false;
  for (const auto& [id, pa] : *a) {
    auto it = b->find(id);
    if (it == b->end()) return false;
    const KVRProductTotals& pb = it->second;
    if (!(pa.totals == pb.totals) || pa.byCountry.size() != pb.byCountry.size() ||
        pa.salesByDate.size() != pb.salesByDate.size())
      return false;
    for (const auto& [c, r] : pa.byCountry) {
      auto ct = pb.byCountry.find(c);
      if (ct == pb.byCountry.end() || !(r == ct->second)) return false;
    }
    for (size_t i = 0; i < pa.salesByDate.size(); ++i)
      if (pa.salesByDate[i].first != pb.salesByDate[i].first || !(pa.salesByDate[i].second == pb.salesByDate[i].second))
        return false;
  }
  return true;
}

using LoadResults = std::vector<std::optional<KVRTotalsResult>>;

// Median time of the load alone: the results of each run are released after
// the clock stops (the screen keeps them until the next load), for both engines.
double medianMs(const std::function<LoadResults()>& fn, int runs, LoadResults* last = nullptr) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto a = std::chrono::steady_clock::now();
    LoadResults r = fn();
    t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
    if (last) *last = std::move(r);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

struct Case {
  std::string name;
  std::vector<KVRVortelyManagedProduct*> products;
  int tag;
  QString region;
  double target;
};

// The bytes a load cannot do without, to set against the memory bandwidth
// (bench_memory): for each engine call, the rows and days of the day records
// of the region's series in the call's span, and the results written.
double bytesTouched(const Case& c, const Spans& sp, const LoadResults& results) {
  KVRCalendar& cal = KVRCalendar::shared();
  double bytes = 0;
  for (const Call& call : callsOfLoad(c.products.size(), sp)) {
    const KVRCivilDay from = cal.civilDay(call.from), to = cal.civilDay(call.to);
    for (const KVRVortelyManagedProduct* p : c.products) {
      const KVRProductValuesRef values = p->valuesByCountryAndDate();
      if (!values) continue;
      for (const KVRValueSeries& series : values->series) {
        if (!c.region.isNull() && series.region != c.region) continue;
        const auto [a, b] = series.days.range(from, to);
        if (b <= a) continue;
        const double n = double(b - a);
        bytes += n * double(series.records.stride()) + n * double(series.days.byteSize()) / double(series.days.size());
      }
    }
  }
  // The results: a product's records of the countries it has sums for and
  // of the walk's days (its other countries share zero records).
  const KVRTotalsStruct zero;
  for (const auto& result : results) {
    if (!result) continue;
    for (const auto& [id, t] : *result) {
      bytes += double(sizeof(t)) + double(t.salesByDate.size()) * sizeof(t.salesByDate.front());
      for (const auto& [country, record] : t.byCountry)
        bytes += record == zero ? sizeof(int32_t) : sizeof(KVRCountryTotals::value_type);
    }
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bench::nameApplication();
  benchmark::Initialize(&argc, argv);

  const bool withReference = std::getenv("VORTELY_BENCH_NO_REFERENCE") == nullptr;

  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  Synthetic synthetic;
  std::vector<KVRVortelyManagedProduct*> accountProducts;
  const QString store = bench::dataFromEnvironment().store;
  if (!store.isEmpty()) {
    if (!bench::openStore(dm, store)) return 1;
    for (KVRVortelyManagedProduct* p : dm.products()) {
      std::lock_guard<std::recursive_mutex> ctx(dm.contextLock());
      p->buildHistoryByDate();
    }
    // The account with the most products.
    KVRStoreAccount* best = nullptr;
    for (KVRStoreAccount* a : dm.accounts())
      if (!best || a->products.size() > best->products.size()) best = a;
    if (best) accountProducts = best->products;
    std::printf("database        %s (%zu products, account \"%s\" with %zu)\n", qPrintable(store), dm.products().size(),
                best ? qPrintable(best->name) : "", accountProducts.size());
  } else {
    const KVRCivilDay last = KVRCivilDayFromYMD(2026, 11, 30);
    accountProducts = synthetic.generate(200, 150, last - 5 * 365 + 1, 5 * 365);
    std::printf("synthetic       200 products, 150 countries, 5 years\n");
  }
  std::sort(accountProducts.begin(), accountProducts.end(),
            [](auto* a, auto* b) { return a->name < b->name; });
  if (accountProducts.empty()) {
    std::fprintf(stderr, "no products\n");
    return 1;
  }

  // Report days of the account, and the product with the most records.
  KVRDate first, last;
  size_t records = 0, bestRecords = 0;
  KVRVortelyManagedProduct* busiest = accountProducts.front();
  for (auto* p : accountProducts) {
    if (p->firstDate.isValid() && (!first.isValid() || p->firstDate.isEarlierThan(first))) first = p->firstDate;
    if (p->lastDate.isValid() && (!last.isValid() || p->lastDate.isLaterThan(last))) last = p->lastDate;
    const size_t n = p->valuesByCountryAndDate() ? p->valuesByCountryAndDate()->recordCount() : 0;
    records += n;
    if (n > bestRecords) bestRecords = n, busiest = p;
  }
  const auto view = dm.valuesByCountryAndDate().snapshot();
  std::printf("day records     %zu in the account, %zu in its busiest product, %lld value keys\n", records,
              bestRecords, (long long)view->valueKeys.size());
  // "Trend" covers the last five years.
  const KVRDate fiveYears = KVRCalendar::shared().dateByAddingComponents(
      [] { KVRDateComponents c; c.year = -5; c.day = 1; return c; }(), KVRCalendar::shared().startOfDay(last));
  const KVRDate trendFirst = first.isLaterThan(fiveYears) ? first : fiveYears;
  const double dataMB = bench::peakMegabytes();

  std::vector<Case> cases = {
      {"account trend 5 years", accountProducts, KVRPeriodAll, QString(), 100},
      {"account yearly", accountProducts, KVRPeriodYearly, QString(), 20},
      {"account monthly EU", accountProducts, KVRPeriodMonthly, "EU", 20},
      {"account daily", accountProducts, KVRPeriodDaily, QString(), 20},
      {"one product 5 years", {busiest}, KVRPeriodAll, QString(), 20},
  };

  // VORTELY_BENCH_CASE: run only the loads whose name contains the text.
  if (const char* only = std::getenv("VORTELY_BENCH_CASE"))
    cases.erase(std::remove_if(cases.begin(), cases.end(),
                               [only](const Case& c) { return c.name.find(only) == std::string::npos; }),
                cases.end());
  struct Row { double fast = 0, fastBeside = 0, ref = 0, bytes = 0; bool same = true; };
  std::vector<Row> rows(cases.size());
  auto fastEngine = [](const Case& c) -> Engine {
    return [&c](KVRDate a, KVRDate b, bool only) {
      return KVRTotalsEngine::totalsForRegion(c.region, a, b, c.products, only);
    };
  };
  std::vector<Spans> spans;
  for (const Case& c : cases) spans.push_back(spansFor(c.tag, trendFirst, last));
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const Engine fast = fastEngine(c);
    benchmark::RegisterBenchmark(c.name.c_str(), [fast, sp = spans[i], n = c.products.size()](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(runLoad(fast, n, sp));
    })->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
    LoadResults results;
    rows[i].fast = medianMs([&] { return runLoad(fast, c.products.size(), spans[i]); }, 21, &results);
    rows[i].bytes = bytesTouched(c, spans[i], results);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double fastMB = bench::peakMegabytes();

  if (withReference) {
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      // The reference reads caches of the load's products, with every value key.
      std::vector<KVRTotalsEngine::ProductInput> inputs;
      std::vector<int64_t> ids;
      for (auto* p : c.products) {
        inputs.push_back({p->idStore, p->valuesByCountryAndDate()});
        ids.push_back(p->idStore);
      }
      reference::Caches caches = reference::Caches::fromSnapshots(inputs);
      for (const QString& k : view->valueKeys) caches.shared[k];
      const Engine ref = [&](KVRDate a, KVRDate b, bool only) {
        return reference::totalsForRegion(caches, c.region, a, b, ids, only);
      };
      LoadResults r;
      rows[i].ref = medianMs([&] { return runLoad(ref, c.products.size(), spans[i]); }, 1, &r);
      if (rows[i].ref < 200) {
        // The short loads: each reference run followed by fast runs, so that
        // both engines meet the same state of the (shared) machine and the
        // ratio compares like with like. The reference's run goes through
        // hundreds of megabytes of its own caches, which the application never
        // does between two loads: the first fast run after it, which finds
        // nothing of its own in the processor's caches, is left out.
        std::vector<double> refTimes, fastTimes;
        for (int k = 0; k < 7; ++k) {
          refTimes.push_back(medianMs([&] { return runLoad(ref, c.products.size(), spans[i]); }, 1));
          runLoad(fastEngine(c), c.products.size(), spans[i]);
          for (int j = 0; j < 5; ++j)
            fastTimes.push_back(medianMs([&] { return runLoad(fastEngine(c), c.products.size(), spans[i]); }, 1));
        }
        std::sort(refTimes.begin(), refTimes.end());
        std::sort(fastTimes.begin(), fastTimes.end());
        rows[i].ref = refTimes[refTimes.size() / 2];
        rows[i].fastBeside = fastTimes[fastTimes.size() / 2];
      }
      const auto f = runLoad(fastEngine(c), c.products.size(), spans[i]);
      for (size_t k = 0; k < f.size(); ++k) rows[i].same = rows[i].same && identical(f[k], r[k]);
    }
  }


  bool ok = true;
  std::printf("\n%-24s %10s %8s %12s %8s %-10s %s\n", "load", "median ms", "target", "reference ms", "ratio", "results",
              "touches");
  for (size_t i = 0; i < cases.size(); ++i) {
    const Row& r = rows[i];
    // A short load's ratio is against the fast runs made beside the reference's.
    const double ratio = r.ref > 0 ? r.ref / (r.fastBeside > 0 ? r.fastBeside : r.fast) : 0;
    const bool within = r.fast < cases[i].target && (!withReference || (ratio >= 30 && r.same));
    ok = ok && within;
    std::printf("%-24s %10.2f %8.0f %12.1f %7.0fx %-10s %6.1f MB%s\n", cases[i].name.c_str(), r.fast, cases[i].target,
                r.ref, ratio, withReference ? (r.same ? "identical" : "DIFFERENT") : "-", r.bytes / 1048576.0,
                within ? "" : "  OVER TARGET");
  }
  std::printf("peak memory     %.0f MB after the fast loads (%.0f MB with the data loaded; %.0f MB with the reference's caches)\n",
              fastMB, dataMB, bench::peakMegabytes());
  if (!store.isEmpty()) dm.closeStore();
  return ok ? 0 : 2;
}
