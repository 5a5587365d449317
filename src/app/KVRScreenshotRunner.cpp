#include "app/KVRScreenshotRunner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPushButton>
#include <QSplitter>
#include <algorithm>
#include <QTextStream>
#include <vector>

#include "app/KVRMainWindow.h"
#include "app/KVRStartupWindow.h"
#include "app/KVRVortelyMainController.h"
#include "overview/KVROverviewScreen.h"
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
  return failures == 0 ? 0 : 1;
}
