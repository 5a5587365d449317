#include "app/KVRScreenshotRunner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <functional>
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

// The financial statements of the account with the most products: a
// reconciled month, a month whose payment waits for its reconciliation, a
// Japanese month in the local currency, then the print to PDF.
int financialScreenshots(KVRVortelyMainController& controller, const std::function<void(const QString&)>& grab,
                         const QString& folder) {
  QTextStream err(stderr);
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
  reports->jumpToMonth(11);
  for (int row : {KVRRegionRowUS, KVRRegionRowEU, KVRRegionRowGB, KVRRegionRowCA, KVRRegionRowAU})
    if (selectCell(row, waiting)) break;
  grab(QStringLiteral("financial-waiting-for-payment"));
  reports->setCurrencyMode(KVRCurrencyModeLocal);
  reports->jumpToMonth(11);
  selectCell(KVRRegionRowJP, [](const KVRFinancialValue& v) { return v.kind == KVRFinancialCellKind::month; });
  grab(QStringLiteral("financial-japan-local-currency"));

  // The print, to a PDF file (the script turns its pages into images).
  KVRPrintInfo info = KVRPrintInfo::shared();
  const KVRPrintInfo original = info;
  info.outputPdfPath = QDir(folder).filePath(QStringLiteral("financial-print.pdf"));
  KVRPrintInfo::setShared(info);
  controller.printDocument();
  KVRPrintInfo::setShared(original);
  reports->setCurrencyMode(KVRCurrencyModePreferred);
  if (!QFileInfo::exists(info.outputPdfPath)) {
    err << "could not write " << info.outputPdfPath << "\n";
    return 1;
  }
  err << "wrote " << info.outputPdfPath << "\n";
  return 0;
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
    if (QPushButton* byProduct = screen->combineControl()->button(1)) byProduct->click();
    grab(QStringLiteral("overview-several-products-by-product"));
    if (QPushButton* combined = screen->combineControl()->button(0)) combined->click();
  }

  // The account with the most products.
  KVRStoreAccount* biggest = nullptr;
  for (KVRVortelyManagedProduct* p : products)
    if (p->account && (!biggest || p->account->products.size() > biggest->products.size())) biggest = p->account;
  list->selectObjects(biggest ? std::vector<KVRStoreAccount*>{biggest} : std::vector<KVRStoreAccount*>{}, {});
  grab(QStringLiteral("overview-account"));

  // iAd overview: the products that carry ads.
  std::vector<KVRVortelyManagedProduct*> withAds;
  for (KVRVortelyManagedProduct* p : products)
    if (!p->iAdEntries.empty()) withAds.push_back(p);
  list->selectObjects({}, withAds);
  controller.setSelectedTabIndex(KVRVortelyMainController::IAdOverviewSegment);
  grab(QStringLiteral("iad-overview"));
  controller.setSelectedTabIndex(KVRVortelyMainController::OverviewSegment);
  failures += financialScreenshots(controller, grab, folder);
  return failures == 0 ? 0 : 1;
}
