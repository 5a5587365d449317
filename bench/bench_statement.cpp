// The financial statement rebuild on a large database: median time of a full
// rebuild (build, then the store changes, none left after the first) with
// every account selected and with the account of most products, peak memory,
// and the speed against the plain reference builder.
//
//   VORTELY_BENCH_DATA        the sample folder (vortely-sample-data --size large
//                             --out <dir>) or the database file; default
//                             build/sample-large. Without one, a large sample
//                             is generated into a temporary folder first.
//   VORTELY_BENCH_NO_REFERENCE=1  skip the reference builder
//
// The exchange rates are the sample folder's. Products' financial report lists
// are built by the first rebuild (the application builds them at start-up).
//
// Targets: under 20 ms with everything selected, at least 40 times faster
// than the reference builder, identical results; the first rebuild (with its
// store changes) identical to the reference's reading of the store before it.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_sample.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialStatementBuilder.h"
// The reference builder is compiled in here.
#include "../tests/financial/reference_builder.cpp"

namespace {

const KVRDate kNow(1.34e12);

double medianMs(const std::function<KVRFinancialStatement()>& fn, int runs, KVRFinancialStatement* last = nullptr) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto a = std::chrono::steady_clock::now();
    KVRFinancialStatement st = fn();
    t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
    if (last) *last = std::move(st);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

struct Case {
  std::string name;
  KVRFinancialSelection selection;
  double target;
};

KVRFinancialSelection accountsSelected(const std::vector<KVRStoreAccount*>& accounts) {
  KVRFinancialSelection s;
  for (KVRStoreAccount* a : accounts) s.products.insert(s.products.end(), a->products.begin(), a->products.end());
  s.accounts = accounts;
  s.accountSelected = true;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bench::nameApplication();
  benchmark::Initialize(&argc, argv);
  const bool withReference = std::getenv("VORTELY_BENCH_NO_REFERENCE") == nullptr;

  QTemporaryDir generated;
  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  const QString store = bench::openLargeSample(dm, generated);
  if (store.isEmpty()) return 1;
  const double dataMB = bench::peakMegabytes();

  const std::vector<KVRStoreAccount*> accounts = dm.accounts();
  KVRStoreAccount* largest = nullptr;
  for (KVRStoreAccount* a : accounts)
    if (!largest || a->products.size() > largest->products.size()) largest = a;
  if (!largest) {
    std::fprintf(stderr, "no account\n");
    return 1;
  }
  size_t lines = 0, reports = 0;
  for (KVRReport* r : dm.reports())
    if (r->type == KVRReportTypeFinancial) {
      ++reports;
      lines += r->entries.size();
    }
  std::printf("database        %s: %zu financial reports, %zu lines; account \"%s\" with %zu products\n",
              qPrintable(store), reports, lines, qPrintable(largest->name), largest->products.size());

  std::vector<Case> cases = {
      {"everything selected", accountsSelected(accounts), 20},
      {"largest account", accountsSelected({largest}), 20},
  };
  KVRFinancialStatementBuilder builder(dm);
  auto rebuild = [&builder](const KVRFinancialSelection& s) {
    return builder.rebuild(s, nullptr, nullptr, kNow);  // saved by the application, not timed here
  };
  // First rebuild: lists the products' financial reports and makes the store
  // changes (the put-aside reports go, the payment dates are set). The
  // reference reads the store as it was before.
  KVRFinancialStatement firstReference, first;
  if (withReference) firstReference = reference::build(cases[0].selection, kNow);
  double firstMs = medianMs([&] { return rebuild(cases[0].selection); }, 1, &first);
  std::string firstDiff = withReference ? reference::difference(first, firstReference) : std::string();
  if (!firstDiff.empty()) std::printf("first rebuild: %s\n", firstDiff.c_str());

  struct Row {
    double fast = 0, ref = 0;
    bool same = true;
  };
  std::vector<Row> rows(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const KVRFinancialSelection sel = cases[i].selection;
    benchmark::RegisterBenchmark(cases[i].name.c_str(), [&rebuild, sel](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(rebuild(sel));
    })->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
    rows[i].fast = medianMs([&] { return rebuild(sel); }, 15);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double fastMB = bench::peakMegabytes();

  if (withReference) {
    for (size_t i = 0; i < cases.size(); ++i) {
      KVRFinancialStatement ref;
      rows[i].ref = medianMs([&] { return reference::build(cases[i].selection, kNow); }, 3, &ref);
      const std::string diff = reference::difference(rebuild(cases[i].selection), ref);
      rows[i].same = diff.empty();
      if (!diff.empty()) std::printf("%s: %s\n", cases[i].name.c_str(), diff.c_str());
    }
  }

  bool ok = true;
  std::printf("\nfirst rebuild   %.1f ms (lists every product's financial reports, makes the store changes) %s\n",
              firstMs, withReference ? (firstDiff.empty() ? "identical" : "DIFFERENT") : "-");
  ok = ok && firstDiff.empty();
  std::printf("%-22s %10s %8s %12s %8s %s\n", "rebuild", "median ms", "target", "reference ms", "ratio", "results");
  for (size_t i = 0; i < cases.size(); ++i) {
    const Row& r = rows[i];
    const double ratio = r.ref > 0 ? r.ref / r.fast : 0;
    const bool within = r.fast < cases[i].target && (!withReference || (ratio >= 40 && r.same));
    ok = ok && within;
    std::printf("%-22s %10.2f %8.0f %12.1f %7.0fx %s%s\n", cases[i].name.c_str(), r.fast, cases[i].target, r.ref,
                ratio, withReference ? (r.same ? "identical" : "DIFFERENT") : "-", within ? "" : "  OVER TARGET");
  }
  std::printf("peak memory     %.0f MB after the rebuilds (%.0f MB with the data loaded; %.0f MB with the reference)\n",
              fastMB, dataMB, bench::peakMegabytes());
  dm.closeStore();
  return ok ? 0 : 2;
}
