// Printing either screen to PDF on a large database, every account selected:
// the overview (the print command of the shown screen: its last display put
// into the print layout, laid out and written) and the financial statements
// (the reports controller's print). Median, lowest and highest time of a
// print to a PDF file on A4 and Letter, portrait and landscape, and the size
// of the file.
//
//   VORTELY_BENCH_DATA   the sample folder (vortely-sample-data --size large
//                        --out <dir>) or the database file; default
//                        build/sample-large. Without one, a large sample is
//                        generated into a temporary folder first.
//   VORTELY_BENCH_ROUNDS prints per page set-up (default 9)
//   VORTELY_BENCH_KEEP   a folder to keep the last PDF of each page set-up in
//   VORTELY_BENCH_CURRENCY  the preferred currency (JPY gives nine-digit totals)
//   VORTELY_BENCH_VALUE, VORTELY_BENCH_PERIOD  the overview's value and period
//                        tags (default: as a new user finds them)
//
// Target: a print of either screen to PDF in under 60 ms.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
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
#include "overview/KVROverviewScreen.h"
#include "overview/KVRPrintView.h"
#include "overview/KVRVortelyResumeController.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRPrintInfo.h"
#include "platform/KVRUserDefaults.h"

namespace {

struct Setup {
  const char* name;
  QPageSize::PageSizeId paper;
  QPageLayout::Orientation orientation;
};

// The print command's page set-up (margins 10 points, 35 on the right of a
// landscape page or at the bottom of a portrait one).
KVRPrintInfo pageSetUp(const Setup& s, const QString& pdf) {
  KVRPrintInfo info;
  info.paperSize = QPageSize(s.paper);
  info.orientation = s.orientation;
  info.margins = s.orientation == QPageLayout::Landscape ? QMarginsF(10, 10, 35, 10) : QMarginsF(10, 10, 10, 35);
  info.horizontalPaginationFit = info.horizontallyCentered = info.verticallyCentered = true;
  info.outputPdfPath = pdf;
  return info;
}

struct Figures {
  std::vector<double> ms;
  qint64 bytes = 0;
};

double at(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[size_t(q * double(v.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  bench::nameApplication();
  QTemporaryDir settings;
  KVRUserDefaults& defaults = KVRUserDefaults::standard();
  defaults.useFile(settings.filePath("bench.ini"));
  if (const char* currency = std::getenv("VORTELY_BENCH_CURRENCY"))
    defaults.setString("PreferedCurrency", QString::fromLatin1(currency));
  if (const char* value = std::getenv("VORTELY_BENCH_VALUE")) defaults.setInteger("KVRDashboardSelectedValue", std::atoi(value));
  if (const char* period = std::getenv("VORTELY_BENCH_PERIOD"))
    defaults.setInteger("KVRDashboardSelectedPeriod", std::atoi(period));
  QTemporaryDir scratch;
  KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
  const QString store = bench::openLargeSample(dm, scratch);
  if (store.isEmpty()) return 1;
  KVRVortelyManagedProduct::buildHistories(dm.products());

  bench::Everything selection;
  selection.updatesRankings = false;
  selection.accounts = dm.accounts();
  for (KVRStoreAccount* a : selection.accounts)
    selection.products.insert(selection.products.end(), a->products.begin(), a->products.end());
  KVRApplicationServices::setCurrent(&selection);
  std::printf("database        %s: %zu accounts, %zu products\n", qPrintable(store), selection.accounts.size(),
              selection.products.size());

  // The overview, loaded and shown.
  KVRVortelyResumeController sales(nullptr, &selection);
  KVROverviewScreen overview(&sales, &selection);
  overview.resize(1280, 820);
  overview.show();
  sales.awakeFromNib();
  sales.selectedProductDidChange(true);
  sales.waitForLoads(60);
  KVRMainThread::waitUntil([&] { return sales.displayedLoadCount() > 0; }, 60);

  // The financial statements, built and shown.
  KVRVortelyReportsController reports(&selection);
  reports.setDatabaseSaver([](QString*) { return true; });  // the bench leaves the file as it is
  KVRFinancialScreen financial(&reports);
  financial.resize(1200, 680);
  financial.show();
  reports.awakeFromNib();
  financial.finishAnimations();
  reports.selectedProductDidChange(true);
  QApplication::processEvents();

  const Setup setups[] = {{"A4 portrait", QPageSize::A4, QPageLayout::Portrait},
                          {"A4 landscape", QPageSize::A4, QPageLayout::Landscape},
                          {"Letter portrait", QPageSize::Letter, QPageLayout::Portrait},
                          {"Letter landscape", QPageSize::Letter, QPageLayout::Landscape}};
  const int rounds = std::getenv("VORTELY_BENCH_ROUNDS") ? std::max(1, std::atoi(std::getenv("VORTELY_BENCH_ROUNDS"))) : 9;
  const char* keep = std::getenv("VORTELY_BENCH_KEEP");
  const KVRPrintInfo saved = KVRPrintInfo::shared();

  struct Screen {
    const char* name;
    std::function<bool(QString*)> print;
    Figures figures[4];
  };
  Screen screens[] = {{"overview", [&](QString* error) { return KVRPrintOverviewScreen(overview, nullptr, error); }, {}},
                      {"financial", [&](QString* error) { return reports.print(error); }, {}}};
  bool ok = true;
  for (Screen& s : screens) {
    for (int i = 0; i < 4; ++i) {
      const QString pdf = scratch.filePath(QStringLiteral("%1-%2.pdf").arg(s.name).arg(i));
      KVRPrintInfo::setShared(pageSetUp(setups[i], pdf));
      for (int r = 0; r < rounds + 1; ++r) {  // the first print makes the layout: not counted
        QFile::remove(pdf);
        QString error;
        QElapsedTimer t;
        t.start();
        const bool printed = s.print(&error);
        const double ms = double(t.nsecsElapsed()) * 1e-6;
        if (!printed) {
          std::fprintf(stderr, "%s, %s: not printed: %s\n", s.name, setups[i].name, qPrintable(error));
          ok = false;
          break;
        }
        if (r > 0) s.figures[i].ms.push_back(ms);
      }
      s.figures[i].bytes = QFileInfo(pdf).size();
      if (keep && *keep) {
        QDir().mkpath(QString::fromLocal8Bit(keep));
        const QString to = QString::fromLocal8Bit(keep) + QStringLiteral("/%1-%2.pdf").arg(s.name).arg(
                                                              QString::fromLatin1(setups[i].name).replace(u' ', u'-'));
        QFile::remove(to);
        QFile::copy(pdf, to);
      }
    }
  }
  KVRPrintInfo::setShared(saved);

  std::printf("\n%-10s %-17s %10s %10s %10s %10s\n", "screen", "page", "median", "lowest", "highest", "PDF");
  for (const Screen& s : screens)
    for (int i = 0; i < 4; ++i) {
      const double median = at(s.figures[i].ms, 0.5);
      ok = ok && median < 60.0;
      std::printf("%-10s %-17s %7.1f ms %7.1f ms %7.1f ms %7lld kB%s\n", s.name, setups[i].name, median,
                  at(s.figures[i].ms, 0), at(s.figures[i].ms, 1), static_cast<long long>(s.figures[i].bytes / 1024),
                  median < 60.0 ? "" : "  OVER TARGET");
    }
  std::printf("%s (target: a print of either screen to PDF in under 60 ms)\n", ok ? "within target" : "OVER TARGET");
  return ok ? 0 : 2;
}
