// The financial statements screen on a large database, everything selected:
// median time of a month step (the grid, the details panel and the trend
// made anew and put into the screen's views) and of a change of the currency
// mode, each also with the repaint of the screen that follows, offscreen.
//
//   VORTELY_BENCH_DATA   the sample folder (vortely-sample-data --size large
//                        --out <dir>) or the database file; default
//                        build/sample-large. Without one, a large sample is
//                        generated into a temporary folder first.
//
// Target: under 5 ms for a step and for a mode change (without the repaint).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "bench_sample.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "bench_common.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRVortelyReportsController.h"
#include "platform/KVRUserDefaults.h"

namespace {

double medianMs(const std::function<void(int)>& fn, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto a = std::chrono::steady_clock::now();
    fn(i);
    t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  bench::nameApplication();
  benchmark::Initialize(&argc, argv);
  // The screen keeps its currency mode in the user defaults: a file of our own.
  QTemporaryDir settings;
  KVRUserDefaults::standard().useFile(settings.filePath("bench.ini"));

  QTemporaryDir generated;
  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  const QString store = bench::openLargeSample(dm, generated);
  if (store.isEmpty()) return 1;

  bench::Everything selection;
  selection.accounts = dm.accounts();
  for (KVRStoreAccount* a : selection.accounts)
    selection.products.insert(selection.products.end(), a->products.begin(), a->products.end());
  KVRApplicationServices::setCurrent(&selection);

  KVRVortelyReportsController controller(&selection);
  controller.setDatabaseSaver([](QString*) { return true; });  // the bench leaves the file as it is
  KVRFinancialScreen screen(&controller);
  screen.resize(1200, 680);
  screen.show();
  controller.awakeFromNib();
  screen.finishAnimations();
  controller.selectedProductDidChange(true);
  const int months = int(controller.statement().months.size());
  std::printf("database        %s: %zu products, %d months on the statement\n", qPrintable(store),
              selection.products.size(), months);

  // A selected cell of the region grid, as the user leaves it.
  controller.setSelectedFinancialsValues({KVRFinancialGrid::indexOf(KVRRegionRowEU, 2)});
  QApplication::processEvents();
  const int runs = 200;
  // Steps back and forth in the middle of the records.
  controller.jumpToMonth(0);
  auto step = [&](int i) {
    if (i % 2) controller.nextMonth();
    else controller.previousMonth();
  };
  if (controller.selectedMonth() == 0) controller.nextMonth();
  const double stepMs = medianMs(step, runs);
  const double stepPaintMs = medianMs(
      [&](int i) {
        step(i);
        screen.repaint();
      },
      runs);
  auto modeChange = [&](int i) { controller.setCurrencyMode((i + 1) % 3); };
  const double modeMs = medianMs(modeChange, runs);
  const double modePaintMs = medianMs(
      [&](int i) {
        modeChange(i);
        screen.repaint();
      },
      runs);
  controller.setCurrencyMode(0);

  std::printf("month step      %.3f ms (with the repaint %.2f ms), target 5 ms\n", stepMs, stepPaintMs);
  std::printf("currency mode   %.3f ms (with the repaint %.2f ms), target 5 ms\n", modeMs, modePaintMs);
  std::printf("peak memory     %.0f MB\n", bench::peakMegabytes());
  KVRApplicationServices::setCurrent(nullptr);
  return stepMs < 5.0 && modeMs < 5.0 ? 0 : 1;
}
