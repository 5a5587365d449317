#include "app/KVRScreenshotRunner.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <functional>
#include <QAbstractButton>
#include <QComboBox>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSplitter>
#include <algorithm>
#include <QTextStream>
#include <vector>

#include "app/KVRMainWindow.h"
#include "app/KVRStartupWindow.h"
#include "app/KVRVortelyMainController.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRFinancialTexts.h"
#include "financial/KVRVortelyFinancialsController.h"
#include "financial/KVRVortelyReportsController.h"
#include "overview/KVROverviewScreen.h"
#include "platform/KVRPrintInfo.h"
#include "core/KVRVortelyManagedProduct.h"
#include "platform/KVRMainThread.h"
#include "products/KVRVortelyProductListController.h"

namespace {
// Lets the screens load and draw for a while.
void settle(double seconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < seconds * 1000.0) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    KVRMainThread::waitUntil([] { return false; }, 0.05);
  }
}

// The print of what the controller shows, on A4 and Letter paper, both ways
// round, as PDF files "<name>-<paper>-<orientation>.pdf" (the script turns
// them into images); the count of files that could not be written.
int printOnEveryPaper(KVRVortelyMainController& controller, const QString& folder, const QString& name) {
  QTextStream err(stderr);
  int failures = 0;
  const KVRPrintInfo savedInfo = KVRPrintInfo::shared();
  for (const auto& [paper, paperName] : {std::pair{QPageSize::A4, QStringLiteral("a4")},
                                         std::pair{QPageSize::Letter, QStringLiteral("letter")}}) {
    for (const auto& [orientation, orientationName] :
         {std::pair{QPageLayout::Portrait, QStringLiteral("portrait")},
          std::pair{QPageLayout::Landscape, QStringLiteral("landscape")}}) {
      KVRPrintInfo info = savedInfo;
      info.paperSize = QPageSize(paper);
      info.orientation = orientation;
      info.outputPdfPath =
          QDir(folder).filePath(QStringLiteral("%1-%2-%3.pdf").arg(name, paperName, orientationName));
      KVRPrintInfo::setShared(info);
      controller.printDocument();
      if (QFileInfo(info.outputPdfPath).size() > 0) {
        err << "wrote " << info.outputPdfPath << "\n";
      } else {
        err << "could not write " << info.outputPdfPath << "\n";
        ++failures;
      }
    }
  }
  KVRPrintInfo::setShared(savedInfo);
  return failures;
}

// The main window at the smallest size the application allows, grabbed as
// `name`, then put back as it was.
void grabSmallestWindow(KVRVortelyMainController& controller, const std::function<void(const QString&)>& grab,
                        const QString& name) {
  KVRMainWindow* window = controller.mainWindow();
  const QSize size = window->size();
  const QList<int> split = window->splitter()->sizes();
  window->resize(1200, 730);
  window->splitter()->setSizes({240, 960});
  grab(name);
  window->resize(size);
  window->splitter()->setSizes(split);
}

// The financial statements of the account with the most products: a
// reconciled month and its print, a month whose payment waits for its
// reconciliation (also in the smallest window), a Japanese month in the local
// currency.
int financialScreenshots(KVRVortelyMainController& controller, const std::function<void(const QString&)>& grab,
                         const QString& folder) {
  KVRVortelyReportsController* reports = controller.financialController();
  KVRFinancialScreen* screen = controller.financialScreen();
  if (!reports || !screen) return 1;
  KVRStoreAccount* biggest = nullptr;
  for (KVRVortelyManagedProduct* p : controller.productList()->allProducts())
    if (p->account && !p->account->isAndroid() &&
        (!biggest || p->account->products.size() > biggest->products.size()))
      biggest = p->account;
  controller.productList()->selectObjects(biggest ? std::vector<KVRStoreAccount*>{biggest} : std::vector<KVRStoreAccount*>{}, {});
  controller.setSelectedTabIndex(KVRVortelyMainController::FinancialSegment);
  screen->finishAnimations();
  reports->setCurrencyMode(KVRCurrencyModePreferred);

  // Steps back from the last months until a cell of the region row matches.
  auto selectCell = [&](int row, const std::function<bool(const KVRFinancialValue&)>& wanted) {
    for (int tries = 0; tries < 36; ++tries) {
      for (int column = 3; column >= 1; --column) {
        const int index = KVRFinancialGrid::indexOf(row, column);
        const KVRFinancialValue* v = reports->grid().value(index);
        if (v && wanted(*v)) {
          reports->setSelectedFinancialsValues(KVRIndexSet{index});
          return true;
        }
      }
      if (reports->selectedMonth() == 0) break;
      reports->previousMonth();
    }
    return false;
  };
  auto reconciled = [](const KVRFinancialValue& v) {
    return v.paymentDict && v.paymentDict->isPaymentForm() && v.paymentDict->isReconciled();
  };
  auto waiting = [](const KVRFinancialValue& v) {
    return v.paymentDict && v.paymentDict->isPaymentForm() && !v.paymentDict->isReconciled();
  };
  if (!selectCell(KVRRegionRowEU, reconciled)) selectCell(KVRRegionRowUS, reconciled);
  grab(QStringLiteral("financial-reconciled-month"));

  // The print of that month.
  int failures = printOnEveryPaper(controller, folder, QStringLiteral("financial-print"));

  reports->jumpToMonth(11);
  for (int row : {KVRRegionRowUS, KVRRegionRowEU, KVRRegionRowGB, KVRRegionRowCA, KVRRegionRowAU})
    if (selectCell(row, waiting)) break;
  grab(QStringLiteral("financial-waiting-for-payment"));
  // The smallest window.
  grabSmallestWindow(controller, grab, QStringLiteral("financial-1200x730"));

  reports->setCurrencyMode(KVRCurrencyModeLocal);
  reports->jumpToMonth(11);
  selectCell(KVRRegionRowJP, [](const KVRFinancialValue& v) { return v.kind == KVRFinancialCellKind::month; });
  grab(QStringLiteral("financial-japan-local-currency"));
  reports->setCurrencyMode(KVRCurrencyModeUnits);
  selectCell(KVRRegionRowUS, [](const KVRFinancialValue& v) { return v.kind == KVRFinancialCellKind::month; });
  grab(QStringLiteral("financial-units"));
  reports->setCurrencyMode(KVRCurrencyModePreferred);
  return failures;
}

// The per-report panel of the statements screen: the lines of the latest
// European report of one app with its partners and costs, the payment sheet
// over the window, and the smallest window.
int reportLinesScreenshots(KVRVortelyMainController& controller, const std::function<void(const QString&)>& grab,
                           const QString& folder) {
  QTextStream err(stderr);
  KVRFinancialScreen* screen = controller.financialScreen();
  KVRVortelyFinancialsController* panel = screen ? screen->financialController() : nullptr;
  if (!panel) return 1;
  // The app with the most financial reports.
  KVRVortelyManagedProduct* app = nullptr;
  size_t most = 0;
  for (KVRVortelyManagedProduct* p : controller.productList()->allProducts()) {
    if (!p->account || p->account->isAndroid() || p->isInAppPurchase() || p->isEBook()) continue;
    const size_t reports = p->financialReports().size();
    if (reports > most) {
      app = p;
      most = reports;
    }
  }
  if (!app) return 1;
  controller.productList()->selectObjects({}, {app});
  controller.setSelectedTabIndex(KVRVortelyMainController::FinancialSegment);
  screen->finishAnimations();
  screen->showPage(1);
  QApplication::processEvents();  // the page reads the selection once it is on show
  if (app->costs.empty() && app->partners.empty()) {
    QString message;
    if (!panel->panel().addCost(QStringLiteral("Icon design"), QStringLiteral("450"), &message) ||
        !panel->panel().addPartner(QStringLiteral("Studio Nord"), QStringLiteral("1200"),
                                   KVRFinancialPercentText(0.15), &message))
      QTextStream(stderr) << "The sample cost or partner was refused: " << message << "\n";
    panel->selectedProductDidChange();
  }
  panel->regionsPopup()->setCurrentIndex(panel->regionsPopup()->findData(KVRFinancialsPanel::EU));
  panel->periodsPopup()->setCurrentIndex(panel->periodsPopup()->count() - 1);
  panel->sortByColumn(KVRVortelyFinancialsController::IncomeColumn);
  panel->sortByColumn(KVRVortelyFinancialsController::IncomeColumn);
  grab(QStringLiteral("financial-report-lines"));

  // The payment sheet, drawn over the window as the sheet it is.
  int failures = 0;
  if (QAbstractButton* pointed = panel->reportStateCell(1)) pointed->click();
  if (KVRRealIncomeSheet* sheet = panel->reportRealIncomeSetPanel()) {
    grab(QStringLiteral("financial-real-income-sheet"));  // lets the sheet lay itself out
    KVRMainWindow* window = controller.mainWindow();
    QPixmap image = window->grab();
    const QPixmap front = sheet->grab();
    QPainter painter(&image);
    const QPoint at((image.width() - front.width()) / 2, window->menuBar()->height() + 40);
    painter.fillRect(QRect(at + QPoint(3, 4), front.size()), QColor(0, 0, 0, 50));
    painter.drawPixmap(at, front);
    painter.setPen(QColor(0x9a, 0xa3, 0xad));
    painter.drawRect(QRect(at, front.size()).adjusted(0, 0, -1, -1));
    painter.end();
    const QString path = QDir(folder).filePath(QStringLiteral("financial-real-income-sheet.png"));
    if (image.save(path)) {
      err << "wrote " << path << "\n";
    } else {
      err << "could not write " << path << "\n";
      ++failures;
    }
    sheet->cancelButton()->click();
  } else {
    ++failures;
  }

  grabSmallestWindow(controller, grab, QStringLiteral("financial-report-lines-1200x730"));
  screen->showPage(0);
  return failures;
}

}  // namespace

int KVRRunScreenshots(const QString& folder) {
  QTextStream err(stderr);
  QDir().mkpath(folder);
  KVRVortelyMainController controller;
  controller.setAlertPresenter([&err](QWidget*, const QString& title, const QString& text) {
    err << "alert: " << title << ": " << text << "\n";
  });
  controller.applicationDidFinishLaunching();
  if (!controller.startupFinished() && controller.startupWindow()->isVisible())
    controller.startupWindow()->grab().save(QDir(folder).filePath(QStringLiteral("startup-window.png")));
  if (!KVRMainThread::waitUntil([&] { return controller.startupFinished(); }, 120.0)) {
    err << "start-up did not finish\n";
    return 1;
  }
  KVRMainWindow* window = controller.mainWindow();
  window->resize(1480, 900);
  window->splitter()->setSizes({260, 1220});
  KVRVortelyProductListController* list = controller.productList();
  const auto& products = list->allProducts();

  int failures = 0;
  auto grab = [&](const QString& name) {
    settle(2.5);
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!window->grab().save(path)) {
      err << "could not write " << path << "\n";
      ++failures;
    } else {
      err << "wrote " << path << "\n";
    }
  };

  controller.setSelectedTabIndex(KVRVortelyMainController::OverviewSegment);
  auto isApp = [](const KVRVortelyManagedProduct* p) { return !p->isInAppPurchase() && !p->isEBook(); };

  // One product: the first app.
  KVRVortelyManagedProduct* one = nullptr;
  for (KVRVortelyManagedProduct* p : products)
    if (isApp(p)) { one = p; break; }
  if (!one && !products.empty()) one = products.front();
  if (one) list->selectObjects({}, {one});
  grab(QStringLiteral("overview-one-product"));

  // Several products: up to three apps, from as many accounts as possible.
  std::vector<KVRVortelyManagedProduct*> several;
  for (int pass = 0; pass < 2 && several.size() < 3; ++pass)
    for (KVRVortelyManagedProduct* p : products) {
      if (several.size() >= 3) break;
      if (!isApp(p) || std::find(several.begin(), several.end(), p) != several.end()) continue;
      const bool accountTaken = std::any_of(several.begin(), several.end(),
                                            [p](const KVRVortelyManagedProduct* q) { return q->account == p->account; });
      if (pass == 0 && accountTaken) continue;
      several.push_back(p);
    }
  list->selectObjects({}, several);
  grab(QStringLiteral("overview-several-products"));
  // The same, one curve per product (the list shows the colour chips).
  if (KVROverviewScreen* screen = controller.overviewScreen()) {
    screen->combineControl()->clickSegment(1);
    grab(QStringLiteral("overview-several-products-by-product"));
    screen->combineControl()->clickSegment(0);
  }

  // The account with the most products.
  KVRStoreAccount* biggest = nullptr;
  for (KVRVortelyManagedProduct* p : products)
    if (p->account && (!biggest || p->account->products.size() > biggest->products.size())) biggest = p->account;
  list->selectObjects(biggest ? std::vector<KVRStoreAccount*>{biggest} : std::vector<KVRStoreAccount*>{}, {});
  grab(QStringLiteral("overview-account"));

  // The smallest window the application allows, with several products.
  window->resize(1200, 730);
  window->splitter()->setSizes({240, 960});
  list->selectObjects({}, several);
  grab(QStringLiteral("overview-1200x730"));
  list->selectObjects({}, one ? std::vector<KVRVortelyManagedProduct*>{one} : std::vector<KVRVortelyManagedProduct*>{});
  grab(QStringLiteral("overview-one-product-1200x730"));

  // The printed overview of several products, on A4 and Letter paper, both
  // ways round, as PDF files (the script turns them into PNG).
  list->selectObjects({}, several);
  settle(2.5);
  failures += printOnEveryPaper(controller, folder, QStringLiteral("print-overview"));
  window->resize(1480, 900);
  window->splitter()->setSizes({260, 1220});

  // iAd overview: the products that carry ads.
  std::vector<KVRVortelyManagedProduct*> withAds;
  for (KVRVortelyManagedProduct* p : products)
    if (!p->iAdEntries.empty()) withAds.push_back(p);
  list->selectObjects({}, withAds);
  controller.setSelectedTabIndex(KVRVortelyMainController::IAdOverviewSegment);
  grab(QStringLiteral("iad-overview"));
  controller.setSelectedTabIndex(KVRVortelyMainController::OverviewSegment);
  failures += financialScreenshots(controller, grab, folder);
  failures += reportLinesScreenshots(controller, grab, folder);
  return failures == 0 ? 0 : 1;
}
