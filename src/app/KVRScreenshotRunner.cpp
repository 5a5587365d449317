#include "app/KVRScreenshotRunner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTextStream>
#include <vector>

#include "app/KVRMainWindow.h"
#include "app/KVRVortelyMainController.h"
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
  if (!KVRMainThread::waitUntil([&] { return controller.startupFinished(); }, 120.0)) {
    err << "start-up did not finish\n";
    return 1;
  }
  KVRMainWindow* window = controller.mainWindow();
  window->resize(1400, 860);
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
  // One product: the first one that is not an in-app purchase.
  KVRVortelyManagedProduct* one = nullptr;
  for (KVRVortelyManagedProduct* p : products)
    if (!p->isInAppPurchase()) { one = p; break; }
  if (!one && !products.empty()) one = products.front();
  if (one) list->selectObjects({}, {one});
  grab(QStringLiteral("overview-one-product"));

  std::vector<KVRVortelyManagedProduct*> several(products.begin(),
                                                 products.begin() + std::min<size_t>(3, products.size()));
  list->selectObjects({}, several);
  grab(QStringLiteral("overview-several-products"));

  std::vector<KVRStoreAccount*> account;
  for (KVRVortelyManagedProduct* p : products)
    if (p->account) { account.push_back(p->account); break; }
  list->selectObjects(account, {});
  grab(QStringLiteral("overview-account"));

  controller.setSelectedTabIndex(KVRVortelyMainController::IAdOverviewSegment);
  grab(QStringLiteral("iad-overview"));
  controller.setSelectedTabIndex(KVRVortelyMainController::OverviewSegment);
  return failures == 0 ? 0 : 1;
}
