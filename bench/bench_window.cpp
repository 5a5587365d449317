// The real window on a large database, as a user clicks: the application
// delegate with its main window, product list, overviews, statements screen
// and per-report panel, offscreen. Each action is timed from the call its
// control makes until the window has painted its result, with the longest
// task the main thread ran for it (the action itself, then each event the
// loop delivered until every load it caused had been displayed).
//
//   on the overview:        select every account; the largest account; two
//                           products of two accounts; the period "All" with
//                           every account selected
//   on the statements:      the same three selections (Statement page on show)
//   on the report lines:    the same three selections (Report Lines page on show)
//
// Before each timed action the selection (or period) is set to another one
// and the window left to settle, untimed, so that each action is a change.
//
//   VORTELY_BENCH_DATA   the sample folder (vortely-sample-data --size large
//                        --out <dir>) or the database file; default
//                        build/sample-large. The database and its rates are
//                        copied to a scratch folder: the run changes nothing.
//   VORTELY_BENCH_ROUNDS how many times each action is made (default 7)
//   VORTELY_BENCH_CASE   only the actions whose name holds the text
//
// Targets: every selection change painted in under 30 ms (60 pinned to one
// core), the period "All" in under 30 ms, the longest main-thread task under
// 16 ms.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "app/KVRMainWindow.h"
#include "app/KVRVortelyMainController.h"
#include "bench_common.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRVortelyReportsController.h"
#include "overview/KVROverviewScreen.h"
#include "overview/KVROverviewTypes.h"
#include "overview/KVRVortelyResumeController.h"
#include "platform/KVRUserDefaults.h"
#include "products/KVRVortelyProductListController.h"

namespace {

// Times every task the event loop gives the main thread (the outermost
// deliveries only) and the paints of one window.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;
  QElapsedTimer clock;
  QWidget* window = nullptr;
  qint64 longestTask = 0;     // ns, since the last reset
  qint64 lastPaintBegin = -1;  // ns, the last paint of the window
  qint64 lastPaintEnd = -1;
  QString longestWhat;  // the receiver and event of the longest task

  bool notify(QObject* receiver, QEvent* event) override {
    if (depth_++ > 0) {
      const bool done = QApplication::notify(receiver, event);
      --depth_;
      return done;
    }
    // The receiver and the event may be gone once delivered (a deleteLater,
    // a posted event): what the record names is read before.
    const char* className = receiver->metaObject()->className();
    const int type = int(event->type());
    const bool isWindowPaint = receiver == window && event->type() == QEvent::UpdateRequest;
    const qint64 begin = clock.nsecsElapsed();
    const bool done = QApplication::notify(receiver, event);
    const qint64 end = clock.nsecsElapsed();
    --depth_;
    if (end - begin > longestTask) {
      longestTask = end - begin;
      longestWhat = QString::fromLatin1(className) + QLatin1Char(' ') + QString::number(type);
    }
    if (isWindowPaint) {
      lastPaintBegin = begin;
      lastPaintEnd = end;
    }
    return done;
  }

 private:
  int depth_ = 0;
};

struct Stats {
  std::vector<double> painted, task;
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double lowest(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
double highest(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TimedApplication app(argc, argv);
  app.clock.start();
  bench::nameApplication();
  const QString source = bench::dataFromEnvironment().store;
  if (source.isEmpty()) {
    std::fprintf(stderr, "no database (VORTELY_BENCH_DATA)\n");
    return 1;
  }
  // A copy of the sample, its rates and settings of its own.
  QTemporaryDir scratch;
  const QString store = scratch.filePath("Vortely.sqlite");
  if (!QFile::copy(source, store)) {
    std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
    return 1;
  }
  QFile::copy(QFileInfo(source).absolutePath() + "/Rates.json", scratch.filePath("Rates.json"));
  qputenv("VORTELY_SUPPORT_FOLDER", QFile::encodeName(scratch.path()));
  KVRUserDefaults::standard().useFile(scratch.filePath("settings.ini"));

  auto controller = std::make_unique<KVRVortelyMainController>();
  controller->setStorePath(store);
  controller->setAlertPresenter([](QWidget*, const QString& title, const QString& text) {
    std::fprintf(stderr, "alert: %s: %s\n", qPrintable(title), qPrintable(text));
  });
  controller->setNoticePresenter([](QWidget*, const QString&, const QString&) {});
  controller->applicationDidFinishLaunching();
  QElapsedTimer limit;
  limit.start();
  while (!controller->startupFinished() && limit.elapsed() < 180000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  if (!controller->startupFinished()) {
    std::fprintf(stderr, "the start-up did not finish\n");
    return 1;
  }
  KVRMainWindow* window = controller->mainWindow();
  window->resize(1280, 800);
  app.window = window;
  KVRVortelyResumeController* sales = controller->resumeController();
  KVRVortelyResumeController* iAd = controller->resumeiAdController();
  KVRFinancialScreen* financial = controller->financialScreen();
  // When the sales overview's load thread has its results (it then hands them over).
  std::atomic<qint64> handedOverAt{0};
  sales->setLoadHookForTesting([&](uint64_t, KVRVortelyResumeController::LoadPhase phase) {
    if (phase == KVRVortelyResumeController::LoadPhase::HandOver) handedOverAt.store(app.clock.nsecsElapsed());
  });
  KVRVortelyProductListController* list = controller->productList();

  // Every load asked for has been displayed and the window painted since.
  auto settle = [&] {
    QElapsedTimer t;
    t.start();
    for (;;) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      const bool idle = !sales->loadingData() && !iAd->loadingData() && sales->waitForLoads(0) && iAd->waitForLoads(0);
      if (idle || t.elapsed() > 30000) break;
    }
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    window->repaint();
  };

  std::vector<KVRStoreAccount*> accounts = KVRVortelyCoreDataManager::sharedInstance().accounts();
  KVRStoreAccount* largest = nullptr;
  for (KVRStoreAccount* a : accounts)
    if (!largest || a->products.size() > largest->products.size()) largest = a;
  std::vector<KVRStoreAccount*> two;
  for (KVRStoreAccount* a : accounts)
    if (a != largest && !a->products.empty() && two.empty()) two.push_back(a);
  if (!largest || two.empty()) {
    std::fprintf(stderr, "the sample needs two accounts with products\n");
    return 1;
  }
  const std::vector<KVRVortelyManagedProduct*> twoProducts = {largest->products.front(), two.front()->products.front()};
  // The selection each timed one is changed from.
  const std::vector<KVRVortelyManagedProduct*> elsewhere = {two.front()->products.back()};
  std::printf("database   %s: %zu accounts, largest \"%s\" with %zu products\n", qPrintable(source),
              accounts.size(), qPrintable(largest->name), largest->products.size());

  struct Action {
    const char* name;
    int segment;   // the main window's segment on show
    int page;      // statements screen page (0 statement, 1 report lines)
    std::function<void()> before, run;
    // When the result is on show (after `run` returned); null: at once.
    std::function<bool(uint64_t displayedBefore)> done;
    Stats stats = {};
  };
  auto selectAccounts = [&](std::vector<KVRStoreAccount*> a) { return [&, a] { list->selectObjects(a, {}); }; };
  auto selectProducts = [&](std::vector<KVRVortelyManagedProduct*> p) { return [&, p] { list->selectObjects({}, p); }; };
  auto overviewShown = [&](uint64_t before) { return sales->displayedLoadCount() > before; };
  QComboBox* periods = controller->overviewScreen()->periodMatrixPU();
  auto choosePeriod = [&, periods](int tag) {
    return [periods, tag] {
      const int index = periods->findData(tag);
      periods->setCurrentIndex(index);
      emit periods->activated(index);
    };
  };
  // The selections are made with the period the window opened with.
  const int openingPeriod = sales->selectedPeriod();
  auto elsewhereWithOpeningPeriod = [&] {
    if (sales->selectedPeriod() != openingPeriod) choosePeriod(openingPeriod)();
    list->selectObjects({}, elsewhere);
  };
  std::vector<Action> actions;
  for (int screen = 0; screen < 3; ++screen) {
    const int segment = screen == 0 ? KVRVortelyMainController::OverviewSegment : KVRVortelyMainController::FinancialSegment;
    const int page = screen == 2 ? 1 : 0;
    const char* where = screen == 0 ? "overview" : screen == 1 ? "statement" : "report lines";
    std::function<bool(uint64_t)> done = screen == 0 ? std::function<bool(uint64_t)>(overviewShown) : nullptr;
    static std::vector<std::string> names;
    names.push_back(std::string(where) + ": every account");
    names.push_back(std::string(where) + ": largest account");
    names.push_back(std::string(where) + ": two products of two accounts");
    const size_t n = names.size();
    actions.push_back({names[n - 3].c_str(), segment, page, elsewhereWithOpeningPeriod, selectAccounts(accounts), done});
    actions.push_back({names[n - 2].c_str(), segment, page, elsewhereWithOpeningPeriod, selectAccounts({largest}), done});
    actions.push_back({names[n - 1].c_str(), segment, page, elsewhereWithOpeningPeriod, selectProducts(twoProducts), done});
  }
  actions.push_back({"overview: period \"All\", every account", KVRVortelyMainController::OverviewSegment, 0,
                     [&] {
                       list->selectObjects(accounts, {});
                       settle();
                       choosePeriod(KVRPeriodMonthly)();
                     },
                     choosePeriod(KVRPeriodAll), overviewShown});

  const int rounds = std::getenv("VORTELY_BENCH_ROUNDS") ? std::atoi(std::getenv("VORTELY_BENCH_ROUNDS")) : 7;
  if (const char* only = std::getenv("VORTELY_BENCH_CASE"))
    actions.erase(std::remove_if(actions.begin(), actions.end(),
                                 [only](const Action& a) { return !QString::fromUtf8(a.name).contains(QString::fromUtf8(only)); }),
                  actions.end());
  const double ms = 1e-6;
  bool ok = true;
  for (int round = 0; round < rounds + 1; ++round) {  // the first round warms up
    for (Action& a : actions) {
      controller->setSelectedTabIndex(a.segment);
      if (a.segment == KVRVortelyMainController::FinancialSegment) financial->showPage(a.page);
      a.before();
      settle();
      const uint64_t displayed = sales->displayedLoadCount();
      app.longestTask = 0;
      const qint64 t0 = app.clock.nsecsElapsed();
      a.run();
      const qint64 t1 = app.clock.nsecsElapsed();
      if (t1 - t0 > app.longestTask) {
        app.longestTask = t1 - t0;
        app.longestWhat = QStringLiteral("the action");
      }
      // The first paint that begins once the result is there.
      qint64 resultAt = a.done ? -1 : t1;
      qint64 painted = -1;
      QElapsedTimer wait;
      wait.start();
      while (painted < 0 && wait.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (resultAt < 0 && a.done(displayed)) resultAt = app.clock.nsecsElapsed();
        if (resultAt >= 0 && app.lastPaintBegin >= resultAt - 1) painted = app.lastPaintEnd;
        // A result that changes nothing on show is painted with the window.
        if (resultAt >= 0 && painted < 0 && app.clock.nsecsElapsed() - resultAt > 200000000) window->update();
      }
      if (painted < 0) {
        std::fprintf(stderr, "%s: not painted\n", a.name);
        ok = false;
        continue;
      }
      settle();  // the rest of what the action caused counts for its longest task
      if (round == 0) continue;
      a.stats.painted.push_back(double(painted - t0) * ms);
      a.stats.task.push_back(double(app.longestTask) * ms);
      if (std::getenv("VORTELY_BENCH_TRACE"))
        std::printf("  %s: painted %.1f ms (overview load %.1f ms, paint %.1f ms), longest %.1f ms in %s\n", a.name,
                    double(painted - t0) * ms, a.done ? double(handedOverAt.load() - t0) * ms : 0.0,
                    double(app.lastPaintEnd - app.lastPaintBegin) * ms, double(app.longestTask) * ms,
                    qPrintable(app.longestWhat));
    }
  }

  std::printf("\n%-48s %22s %26s\n", "action", "painted (median, range)", "longest task (median, range)");
  for (const Action& a : actions) {
    const double p = median(a.stats.painted), t = median(a.stats.task);
    const bool within = p < 30.0 && t < 16.0;
    ok = ok && within;
    std::printf("%-48s %7.1f ms (%5.1f-%5.1f) %10.1f ms (%5.1f-%5.1f)%s\n", a.name, p, lowest(a.stats.painted),
                highest(a.stats.painted), t, lowest(a.stats.task), highest(a.stats.task), within ? "" : "  OVER TARGET");
  }
  std::printf("%s (targets: painted in under 30 ms, longest main-thread task under 16 ms)\n",
              ok ? "within targets" : "OVER TARGET");
  sales->setLoadHookForTesting({});
  controller.reset();
  KVRVortelyCoreDataManager::sharedInstance().closeStore();
  return ok ? 0 : 2;
}
