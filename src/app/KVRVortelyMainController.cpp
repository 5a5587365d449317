#include "app/KVRVortelyMainController.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <mutex>

#include "app/KVRBusyOverlay.h"
#include "app/KVRFinancialStatementsController.h"
#include "app/KVRMainWindow.h"
#include "app/KVRPrintCommand.h"
#include "app/KVRStartupWindow.h"
#include "core/KVRNotifications.h"
#include "financial/KVREffectiveRates.h"
#include "financial/KVRFinancialScreen.h"
#include "overview/KVRPrintView.h"
#include "financial/KVRVortelyReportsController.h"
#include "overview/KVROverviewScreen.h"
#include "overview/KVRVortelyResumeController.h"
#include "core/KVRTask.h"
#include "core/KVRTaskManager.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"
#include "core/KVRVortelyManagedProduct.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"
#include "platform/KVRUserDefaults.h"
#include "products/KVRVortelyProductListController.h"

namespace {
const QString kLogKeyword = QStringLiteral("Main Controller");
const QString kSelectedTabKey = QStringLiteral("KVRVortelySelectedTab");
const QString kWindowGeometryKey = QStringLiteral("KVRVortelyMainWindowGeometry");
const QString kSplitterStateKey = QStringLiteral("KVRVortelyMainSplitterState");

void log(const QString& message) { KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, kLogKeyword); }

KVRExportOutcome outcomeOf(const KVRFinancialExportResult& r) {
  const KVRExportOutcome::Kind kind = r.hasFailures()  ? KVRExportOutcome::Failed
                                      : r.wroteFiles() ? KVRExportOutcome::Written
                                                       : KVRExportOutcome::NothingWritten;
  return {kind, r.title(), r.text()};
}

// The shell's view of the financial statements controller.
class FinancialBridge : public KVRFinancialStatementsController {
 public:
  explicit FinancialBridge(KVRVortelyReportsController* controller) : controller_(controller) {}
  void setOptionsEnabled(bool enabled) override { controller_->setOptionsEnabled(enabled); }
  bool print(QString* error) override { return controller_->print(error); }
  bool hasMonths() const override { return !controller_->statement().months.empty(); }
  bool rebuildPending() const override { return controller_->rebuildPending(); }
  KVRExportOutcome exportVisibleDatesReportsToPath(const QString& folder,
                                                  const std::vector<KVRVortelyManagedProduct*>* filter) override {
    return outcomeOf(controller_->exportVisibleDatesReportsToPath(folder, filter));
  }
  KVRExportOutcome exportYearlyArchiveToPath(const QString& folder,
                                             const std::vector<KVRVortelyManagedProduct*>* filter) override {
    return outcomeOf(controller_->exportYearlyArchiveToPath(folder, filter));
  }

 private:
  KVRVortelyReportsController* controller_;
};
}  // namespace

KVRVortelyMainController::KVRVortelyMainController(QObject* parent)
    : QObject(parent), alive_(std::make_shared<std::atomic<bool>>(true)) {
  alertPresenter_ = &KVRShowAlertSheet;
  noticePresenter_ = &KVRShowNoticeSheet;
  saver_ = [](QString* error) { return KVRVortelyCoreDataManager::sharedInstance().save(error); };
  quitHandler_ = [] { QCoreApplication::quit(); };
  KVRApplicationServices::setCurrent(this);
}

KVRVortelyMainController::~KVRVortelyMainController() {
  alive_->store(false);
  for (Worker& w : workers_)
    if (w.thread.joinable()) w.thread.join();
  KVRNotificationCenter::defaultCenter().removeObserver(this);
  if (KVRApplicationServices::current() == this) KVRApplicationServices::setCurrent(nullptr);
  delete productList_;
  delete mainWindow_;  // the screens go before their controllers
  delete startupWindow_;
  iAdController_.reset();
  salesController_.reset();
  financialController_.reset();
}

void KVRVortelyMainController::runInBackground(std::function<void()> job) {
  // Finished workers are joined as new ones start; the rest at destruction.
  std::erase_if(workers_, [](Worker& w) {
    if (!w.done->load()) return false;
    w.thread.join();
    return true;
  });
  auto done = std::make_shared<std::atomic<bool>>(false);
  workers_.push_back({std::thread([job = std::move(job), done] {
                        job();
                        done->store(true);
                      }),
                      done});
}

void KVRVortelyMainController::postToMain(std::function<void()> fn) {
  std::shared_ptr<std::atomic<bool>> alive = alive_;
  KVRMainThread::post([alive, fn = std::move(fn)] {
    if (alive->load()) fn();
  });
}

void KVRVortelyMainController::setPrintHandler(int segment, PrintHandler handler) {
  printHandlers_[segment] = std::move(handler);
}

void KVRVortelyMainController::setReportsController(KVRFinancialStatementsController* controller) {
  reportsController_ = controller;
  if (controller) setPrintHandler(FinancialSegment, [controller](QString* error) { return controller->print(error); });
  else printHandlers_.erase(FinancialSegment);
}

// ---------------------------------------------------------------------------
// Start-up

void KVRVortelyMainController::applicationDidFinishLaunching() {
  KVRVortelyLogCenter::sharedInstance().markStart();
  log(QStringLiteral("applicationDidFinishLaunching start"));

  mainWindow_ = new KVRMainWindow();
  updateCommandsState();  // nothing to print or export until the data is loaded
  buildOverviewScreens();
  restoreWindowGeometry();

  productList_ = new KVRVortelyProductListController(mainWindow_->productTree());
  productList_->setCombinedGraphQuery([this] { return isOverviewGraphCombined(); });
  connect(productList_, &KVRVortelyProductListController::selectionDidChange, this,
          &KVRVortelyMainController::selectionDidChange);
  connect(mainWindow_, &KVRMainWindow::segmentChosen, this, &KVRVortelyMainController::setSelectedTabIndex);
  connect(mainWindow_, &KVRMainWindow::printRequested, this, &KVRVortelyMainController::printDocument);
  connect(mainWindow_, &KVRMainWindow::exportRequested, this, &KVRVortelyMainController::showExportSheet);
  connect(mainWindow_, &KVRMainWindow::quitRequested, this, &KVRVortelyMainController::requestQuit);

  startupWindow_ = new KVRStartupWindow();
  if (showsWindows_) startupWindow_->show();

  // Overview segment while the database opens. It opens on a worker thread,
  // so that the start-up window stays alive, and says so when another program
  // holds the file's lock.
  startupWindow_->setStatusText(KVRLocalized("Loading database..."));
  mainWindow_->selectSegment(OverviewSegment);

  const QString path = storePath_.isEmpty() ? KVRVortelyCoreDataManager::defaultStorePath() : storePath_;
  auto waiting = [this] {
    postToMain([this] {
      startupWindow_->setStatusText(KVRLocalized("Waiting for the database: another program is using it..."));
    });
  };
  runInBackground([this, path, waiting] {
    QString error;
    const bool opened = KVRVortelyCoreDataManager::sharedInstance().openStore(path, &error, waiting);
    postToMain([this, opened, path, error] { storeDidOpen(opened, path, error); });
  });
}

void KVRVortelyMainController::storeDidOpen(bool opened, const QString& path, const QString& error) {
  storeOpened_ = opened;
  if (!storeOpened_) storeNotOpened(path, error);

  productList_->reloadData();
  registerObservers();

  const int savedTab = int(KVRUserDefaults::standard().integerForKey(kSelectedTabKey));
  setSelectedTabIndex(mainWindow_->hasSegment(savedTab) ? savedTab : OverviewSegment);
  updateNoAccountView();
  updateNoProductView();
  startDataLoad();
}

void KVRVortelyMainController::storeNotOpened(const QString& path, const QString& error) {
  storeOpened_ = false;
  // The file is left as it is; the application runs on an empty context and
  // never saves over it.
  log(QStringLiteral("openStore failed: %1 (%2)").arg(path, error));
  // Shown on the main window once it is on screen.
  startupAlerts_.push_back({KVRLocalized("The database could not be opened"),
        KVRLocalized("The file “%1” could not be opened: %2\n\nVortely starts without data and leaves the file as it is.")
            .arg(QDir::toNativeSeparators(path), error)});
}

void KVRVortelyMainController::buildOverviewScreens() {
  salesController_ = std::make_unique<KVRVortelyResumeController>(nullptr, this);
  iAdController_ = std::make_unique<KVRVortelyResumeController>(salesController_.get(), this);
  salesScreen_ = new KVROverviewScreen(salesController_.get(), this);
  salesScreen_->setObjectName(QStringLiteral("overviewPage"));
  iAdScreen_ = new KVROverviewScreen(iAdController_.get(), this);
  iAdScreen_->setObjectName(QStringLiteral("iAdOverviewPage"));
  mainWindow_->setSegmentPage(OverviewSegment, salesScreen_);
  financialController_ = std::make_unique<KVRVortelyReportsController>(this);
  financialController_->setDatabaseSaver([this](QString* error) {
    return saver_ ? saver_(error) : KVRVortelyCoreDataManager::sharedInstance().save(error);
  });
  financialController_->setFinancialAccountsProvider([this] { return financialAccounts(); });
  financialController_->setTabSelector([this](int index) { setSelectedTabIndex(index); });
  financialController_->setAlertHandler([this](const QString& title, const QString& text) { alert(title, text); });
  financialScreen_ = new KVRFinancialScreen(financialController_.get());
  mainWindow_->setSegmentPage(FinancialSegment, financialScreen_);
  financialBridge_ = std::make_unique<FinancialBridge>(financialController_.get());
  setReportsController(financialBridge_.get());
  mainWindow_->setSegmentPage(IAdOverviewSegment, iAdScreen_);
  salesController_->awakeFromNib();
  iAdController_->awakeFromNib();
  financialController_->awakeFromNib();

  auto printOverview = [this](KVROverviewScreen* screen, QString* error) {
    return KVRPrintOverviewScreen(*screen, mainWindow_, error);
  };
  if (!printHandlers_.count(OverviewSegment))
    printHandlers_[OverviewSegment] = [this, printOverview](QString* error) {
      return printOverview(salesScreen_, error);
    };
  if (!printHandlers_.count(IAdOverviewSegment))
    printHandlers_[IAdOverviewSegment] = [this, printOverview](QString* error) {
      return printOverview(iAdScreen_, error);
    };
}

void KVRVortelyMainController::restoreWindowGeometry() {
  auto& defaults = KVRUserDefaults::standard();
  const QByteArray geometry = defaults.objectForKey(kWindowGeometryKey).toByteArray();
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1600, 1000);
  bool restored = !geometry.isEmpty() && mainWindow_->restoreGeometry(geometry);
  if (restored) {
    // Fitted to the screen, never below the smallest size.
    QRect frame = mainWindow_->geometry();
    frame.setWidth(std::min(std::max(frame.width(), 1200), available.width()));
    frame.setHeight(std::min(std::max(frame.height(), 730), available.height()));
    if (!available.intersects(frame)) frame.moveCenter(available.center());
    mainWindow_->setGeometry(frame);
  } else {
    // First start: at least 1200 by 730, centred.
    const QSize size(std::max(1200, std::min(available.width() * 3 / 4, 1440)),
                     std::max(730, std::min(available.height() * 3 / 4, 900)));
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(available.center());
    mainWindow_->setGeometry(frame);
  }
  const QByteArray splitter = defaults.objectForKey(kSplitterStateKey).toByteArray();
  splitterRestored_ = !splitter.isEmpty() && mainWindow_->splitter()->restoreState(splitter);
}

void KVRVortelyMainController::saveWindowState() {
  if (!mainWindow_) return;
  auto& defaults = KVRUserDefaults::standard();
  defaults.setObject(kWindowGeometryKey, mainWindow_->saveGeometry());
  defaults.setObject(kSplitterStateKey, mainWindow_->splitter()->saveState());
  defaults.synchronize();
}

void KVRVortelyMainController::registerObservers() {
  auto& center = KVRNotificationCenter::defaultCenter();
  center.addObserver(this, KVRVortelyReconcileHaveBeenUpdated, nullptr,
                     [this](const KVRNotification&) {
                       // The payment is one of the selection's accounts': only
                       // their rates, and the histories those change, are rebuilt.
                       std::vector<KVRStoreAccount*> accounts = selectedAccounts();
                       for (KVRVortelyManagedProduct* p : extendedSelectedProducts())
                         if (p && p->account && std::find(accounts.begin(), accounts.end(), p->account) == accounts.end())
                           accounts.push_back(p->account);
                       rebuildData(KVRLocalized("Applying reconciliation"), accounts);
                     });
  center.addObserver(this, KVRVortelyPreferedCurrencyDidChange, nullptr,
                     [this](const KVRNotification&) { rebuildData(currencySwitchLabel()); });
  center.addObserver(this, KVRTaskManagerTaskListDidChange, nullptr,
                     [this](const KVRNotification&) { updateTaskStatus(); });
  taskTimer_ = new QTimer(this);
  taskTimer_->setInterval(250);
  connect(taskTimer_, &QTimer::timeout, this, &KVRVortelyMainController::updateTaskStatus);
}

void KVRVortelyMainController::startDataLoad() {
  startupWindow_->setStatusText(KVRLocalized("Caching graphs values..."));
  KVRVortelyCurrencyConverter::sharedInstance().loadRates();
  log(QStringLiteral("startDataLoad start"));
  const std::vector<KVRVortelyManagedProduct*> products = productList_->allProducts();
  runInBackground([this, products] {
    // The rates that reconciled payments show convert their months' sales.
    KVRInstallEffectiveRates(KVRVortelyCoreDataManager::sharedInstance());
    // The lock is taken per batch of a few products built side by side, so
    // the main thread never waits for more than one batch.
    KVRVortelyManagedProduct::buildHistories(products);
    // The file's integrity check ran beside the build.
    QString problems;
    const bool sound = KVRVortelyCoreDataManager::sharedInstance().waitForIntegrityCheck(&problems);
    postToMain([this, sound, problems] {
      if (!sound) {
        KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
        const QString path = dm.storePath();
        dm.closeStore();
        storeNotOpened(path, problems);
        productList_->reloadData();
        updateNoAccountView();
        updateNoProductView();
      }
      finishDataLoad();
    });
  });
}

void KVRVortelyMainController::finishDataLoad() {
  log(QStringLiteral("startDataLoad end"));
  startupWindow_->hide();
  if (showsWindows_) {
    mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
  }
  if (!splitterRestored_) {
    const int list = 260;
    mainWindow_->splitter()->setSizes({list, std::max(400, mainWindow_->splitter()->width() - list)});
  }
  startupFinished_ = true;
  scheduleCommandsState();
  // Lines the open left out: told once, on the window.
  if (storeOpened_)
    if (auto notice = KVRVortelyCoreDataManager::sharedInstance().takeLoadNotice())
      startupAlerts_.push_back({notice->title, notice->text});
  // Rates that were missing or damaged for the build: told once, on the window.
  if (auto notice = KVRVortelyCurrencyConverter::sharedInstance().takeRatesNotice())
    startupAlerts_.push_back({notice->title, notice->text});
  for (const auto& [title, text] : startupAlerts_) alert(title, text);
  startupAlerts_.clear();
  postSelectedProductDidChange();
  emit startupDidFinish();
}

// ---------------------------------------------------------------------------
// Selection hub

KVRVortelyManagedProduct* KVRVortelyMainController::selectedProduct() {
  return productList_ ? productList_->selectedProduct() : nullptr;
}
std::vector<KVRVortelyManagedProduct*> KVRVortelyMainController::selectedProducts() {
  return productList_ ? productList_->selectedProducts() : std::vector<KVRVortelyManagedProduct*>();
}
std::vector<KVRVortelyManagedProduct*> KVRVortelyMainController::extendedSelectedProducts() {
  return productList_ ? productList_->extendedSelectedProducts() : std::vector<KVRVortelyManagedProduct*>();
}
std::vector<KVRStoreAccount*> KVRVortelyMainController::selectedAccounts() {
  return productList_ ? productList_->selectedAccounts() : std::vector<KVRStoreAccount*>();
}
bool KVRVortelyMainController::isAccountSelected() { return productList_ && productList_->isAccountSelected(); }
bool KVRVortelyMainController::shouldUpdateRankings() {
  return startupFinished_ && !(startupWindow_ && startupWindow_->isVisible());
}
void KVRVortelyMainController::refreshProductsList() {
  if (productList_) productList_->refresh();
}

bool KVRVortelyMainController::saveDB(QString* error) {
  std::lock_guard<std::recursive_mutex> g(KVRVortelyCoreDataManager::sharedInstance().contextLock());
  return saver_ ? saver_(error) : KVRVortelyCoreDataManager::sharedInstance().save(error);
}

std::vector<KVRFinancialAccount>& KVRVortelyMainController::financialAccounts() {
  return KVRFinancialAccounts::shared().accounts();
}

void KVRVortelyMainController::setSelectedTabIndex(int index) {
  if (index == 3) index = FinancialSegment;  // the reports tab
  if (!mainWindow_ || !mainWindow_->hasSegment(index)) return;
  mainWindow_->selectSegment(index);
  KVRUserDefaults::standard().setInteger(kSelectedTabKey, index);
  scheduleCommandsState();
}

int KVRVortelyMainController::selectedTabIndex() const { return mainWindow_ ? mainWindow_->selectedSegment() : 0; }

KVRVortelyResumeController* KVRVortelyMainController::resumeController() const { return salesController_.get(); }
KVRVortelyResumeController* KVRVortelyMainController::resumeiAdController() const { return iAdController_.get(); }
bool KVRVortelyMainController::isOverviewGraphCombined() const {
  return salesController_ ? salesController_->isOverviewGraphCombined() : true;
}

void KVRVortelyMainController::selectionDidChange() {
  if (!startupFinished_) return;  // the data load ends with its own announcement
  postSelectedProductDidChange();
}

void KVRVortelyMainController::postSelectedProductDidChange() {
  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelySelectedProductDidChange, this);
  scheduleCommandsState();
}

// ---------------------------------------------------------------------------
// Empty states

void KVRVortelyMainController::setOptionsEnabled(bool enabled) {
  if (salesController_) salesController_->setOptionsEnabled(enabled);
  if (iAdController_) iAdController_->setOptionsEnabled(enabled);
  if (reportsController_) reportsController_->setOptionsEnabled(enabled);
  scheduleCommandsState();
}

void KVRVortelyMainController::updateCommandsState() {
  commandsStateScheduled_ = false;
  if (!mainWindow_) return;
  // Nothing before the data is loaded, nothing on an empty state.
  const bool shown = startupFinished_ && mainWindow_->emptyState() == KVRMainWindow::NoEmptyState;
  // A statement waiting for its screen (it is rebuilt only when shown, or by
  // the export itself) counts as there when something is selected; the export
  // then says so if the selection has no month.
  const bool statement = shown && reportsController_ &&
                         (reportsController_->rebuildPending() ? !extendedSelectedProducts().empty()
                                                               : reportsController_->hasMonths());
  bool printable = false;
  switch (selectedTabIndex()) {
    case OverviewSegment:
    case IAdOverviewSegment:
      printable = shown && !extendedSelectedProducts().empty();
      break;
    case FinancialSegment:
      printable = statement;
      break;
    default:
      printable = shown && printHandlers_.count(selectedTabIndex()) != 0;
      break;
  }
  mainWindow_->setPrintAvailable(printable && printHandlers_.count(selectedTabIndex()) != 0);
  // Every export writes the financial statement's reports, whichever screen is on show.
  mainWindow_->setExportAvailable(statement);
}

void KVRVortelyMainController::scheduleCommandsState() {
  if (commandsStateScheduled_) return;
  commandsStateScheduled_ = true;
  QTimer::singleShot(0, this, [this] { updateCommandsState(); });
}

void KVRVortelyMainController::updateNoAccountView() {
  if (!mainWindow_ || !productList_) return;
  const bool none = !productList_->hasAccounts() && !productList_->hasProducts();
  if (none) {
    mainWindow_->setEmptyState(KVRMainWindow::NoAccountState);
  } else if (mainWindow_->emptyState() == KVRMainWindow::NoAccountState) {
    mainWindow_->setEmptyState(KVRMainWindow::NoEmptyState);
  }
  setOptionsEnabled(mainWindow_->emptyState() == KVRMainWindow::NoEmptyState);
}

void KVRVortelyMainController::updateNoProductView() {
  if (!mainWindow_ || !productList_) return;
  if (mainWindow_->emptyState() == KVRMainWindow::NoAccountState) return;  // the account view comes first
  mainWindow_->setEmptyState(productList_->hasProducts() ? KVRMainWindow::NoEmptyState
                                                         : KVRMainWindow::NoProductState);
  setOptionsEnabled(mainWindow_->emptyState() == KVRMainWindow::NoEmptyState);
}

// ---------------------------------------------------------------------------
// Data rebuild

QString KVRVortelyMainController::currencySwitchLabel() {
  const QString code = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency();
  QString name = code;
  for (const KVRCurrencyRow& row : KVRVortelyCurrencyConverter::currencyValues())
    if (row.Value == code) {
      name = row.Label;
      break;
    }
  return QStringLiteral("%1 %2").arg(KVRLocalized("Switching currency to"), name);
}

void KVRVortelyMainController::rebuildData(const QString& taskLabel, std::vector<KVRStoreAccount*> accounts) {
  if (rebuildTask_) {
    // One rebuild at a time; the newest request runs after the current one,
    // covering every account any waiting request asked for.
    if (rebuildPending_ && (pendingRebuildAccounts_.empty() || accounts.empty())) {
      accounts.clear();
    } else if (rebuildPending_) {
      for (KVRStoreAccount* a : pendingRebuildAccounts_)
        if (std::find(accounts.begin(), accounts.end(), a) == accounts.end()) accounts.push_back(a);
    }
    rebuildPending_ = true;
    pendingRebuildLabel_ = taskLabel;
    pendingRebuildAccounts_ = std::move(accounts);
    return;
  }
  log(QStringLiteral("rebuildData start: %1").arg(taskLabel));
  auto task = std::make_shared<KVRTask>(taskLabel, false);
  rebuildTask_ = task;
  KVRTaskManager::sharedInstance().registerTask(task);
  updateTaskStatus();
  auto finish = [this, task] {
    KVRTaskManager::sharedInstance().unregisterTask(task);
    rebuildTask_.reset();
    updateTaskStatus();
    log(QStringLiteral("rebuildData end"));
    if (auto notice = KVRVortelyCurrencyConverter::sharedInstance().takeRatesNotice())
      alert(notice->title, notice->text);
    postSelectedProductDidChange();
    if (rebuildPending_) {
      rebuildPending_ = false;
      rebuildData(pendingRebuildLabel_, std::move(pendingRebuildAccounts_));
    }
  };
  if (!accounts.empty()) {
    // The rates of these accounts and the histories they change, built in
    // the background and installed here, on the main thread.
    runInBackground([this, task, accounts, finish] {
      auto rebuild = std::make_shared<KVRRatesRebuild>(
          KVRRebuildRatesOfAccounts(KVRVortelyCoreDataManager::sharedInstance(), accounts));
      task->setProgress(1.0f);
      postToMain([this, rebuild, finish] {
        std::vector<KVRProductValuesRef> replaced = KVRInstallRatesRebuild(std::move(*rebuild));
        runInBackground([replaced = std::move(replaced)] {});  // let go of there
        finish();
      });
    });
    return;
  }
  const std::vector<KVRVortelyManagedProduct*> products =
      productList_ ? productList_->allProducts() : std::vector<KVRVortelyManagedProduct*>();
  runInBackground([this, task, products, finish] {
    // The effective rates of the reconciled payments first (a reconciliation
    // or a new preferred currency changes them), then every product's
    // history with them.
    KVRInstallEffectiveRates(KVRVortelyCoreDataManager::sharedInstance());
    const size_t count = products.size();
    size_t built = 0;
    KVRVortelyManagedProduct::buildHistories(products, true, [&](KVRVortelyManagedProduct* product) {
      product->resetFinancialReports();
      task->setProgress(float(++built) / float(count));
    });
    postToMain(finish);
  });
}

void KVRVortelyMainController::updateTaskStatus() {
  if (!mainWindow_) return;
  const auto tasks = KVRTaskManager::sharedInstance().tasks();
  if (tasks.empty()) {
    mainWindow_->setTaskStatus(QString(), 0);
    if (taskTimer_) taskTimer_->stop();
    return;
  }
  mainWindow_->setTaskStatus(tasks.front()->label(), tasks.front()->progress());
  if (taskTimer_ && !taskTimer_->isActive()) taskTimer_->start();
}

// ---------------------------------------------------------------------------
// Print and export

void KVRVortelyMainController::printDocument() {
  KVRPrintInfo::setShared(KVRPrintInfoForPrintCommand(KVRPrintInfo::shared()));
  const int segment = selectedTabIndex();
  switch (segment) {
    case OverviewSegment:
    case FinancialSegment:
    case RankingsSegment:
    case IAdOverviewSegment: {
      auto it = printHandlers_.find(segment);
      if (it == printHandlers_.end() || !it->second) break;
      QString error;
      // A failed print is reported as a failed export is; a cancelled one is not.
      if (!it->second(&error) && !error.isEmpty()) alert(KVRLocalized("The print failed"), error);
      break;
    }
    default:
      break;
  }
}

bool KVRVortelyMainController::exportReportsWithInfos(int format, const QString& folder) {
  const QString title = KVRLocalized("The export failed");
  if (format < 6 || format > 9) {
    alert(title, KVRLocalized("This export format is not available."));
    return false;
  }
  if (!reportsController_) {
    alert(title, KVRLocalized("The financial statements are not available, so there is nothing to export."));
    return false;
  }
  const QFileInfo info(folder);
  if (folder.isEmpty() || !info.isDir() || !info.isWritable()) {
    alert(title, KVRLocalized("The folder “%1” cannot be written.").arg(QDir::toNativeSeparators(folder)));
    return false;
  }
  std::vector<KVRVortelyManagedProduct*> filter;
  const bool filtered = format == 7 || format == 9;
  if (filtered)
    for (KVRVortelyManagedProduct* p : extendedSelectedProducts())
      if (p->account) filter.push_back(p);
  const KVRExportOutcome outcome =
      format <= 7 ? reportsController_->exportVisibleDatesReportsToPath(folder, filtered ? &filter : nullptr)
                  : reportsController_->exportYearlyArchiveToPath(folder, filtered ? &filter : nullptr);
  if (outcome.kind != KVRExportOutcome::Written) {
    alert(outcome.title.isEmpty() ? title : outcome.title,
          outcome.text.isEmpty() ? KVRLocalized("The files could not be written.") : outcome.text);
    return false;
  }
  log(outcome.title + QStringLiteral(": ") + outcome.text);
  if (noticePresenter_) noticePresenter_(mainWindow_, outcome.title, outcome.text);
  return true;
}

void KVRVortelyMainController::showExportSheet() {
  const QStringList choices = {KVRLocalized("Financial reports of the shown months, all products"),
                               KVRLocalized("Financial reports of the shown months, selected products"),
                               KVRLocalized("Yearly archive, all products"),
                               KVRLocalized("Yearly archive, selected products")};
  bool ok = false;
  const QString choice = QInputDialog::getItem(mainWindow_, KVRLocalized("Export"), KVRLocalized("Export:"),
                                               choices, 0, false, &ok);
  if (!ok) return;
  const int format = 6 + int(choices.indexOf(choice));
  const QString folder = QFileDialog::getExistingDirectory(mainWindow_, KVRLocalized("Export into folder"));
  if (folder.isEmpty()) return;
  exportReportsWithInfos(format, folder);
}

void KVRVortelyMainController::alert(const QString& title, const QString& text) {
  KVRVortelyLogCenter::sharedInstance().addLogEntry(title + QStringLiteral(": ") + text, false, kLogKeyword);
  if (alertPresenter_) alertPresenter_(mainWindow_, title, text);
}

// ---------------------------------------------------------------------------
// Quit

void KVRVortelyMainController::requestQuit() {
  if (saving_) return;
  // End any edit in progress so that its value reaches the objects.
  if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
  if (mainWindow_) saveWindowState();

  if (!storeOpened_) {
    // Nothing was loaded from the database file: leave it untouched.
    if (mainWindow_) mainWindow_->setCloseAllowed(true);
    quitHandler_();
    return;
  }

  saving_ = true;
  if (mainWindow_) {
    mainWindow_->setCommandsEnabled(false);
    mainWindow_->overlay()->cover();
  }
  log(QStringLiteral("saveDB start"));
  auto task = std::make_shared<KVRTask>(KVRLocalized("Saving database"), false);
  KVRTaskManager::sharedInstance().registerTask(task);
  updateTaskStatus();
  std::function<bool(QString*)> saver = saver_;
  runInBackground([this, task, saver] {
    QString error;
    bool ok;
    {
      std::lock_guard<std::recursive_mutex> g(KVRVortelyCoreDataManager::sharedInstance().contextLock());
      ok = saver ? saver(&error) : KVRVortelyCoreDataManager::sharedInstance().save(&error);
    }
    task->setProgress(1.0f);
    postToMain([this, task, ok, error] {
      KVRTaskManager::sharedInstance().unregisterTask(task);
      updateTaskStatus();
      saving_ = false;
      log(ok ? QStringLiteral("saveDB end") : QStringLiteral("saveDB failed: %1").arg(error));
      if (mainWindow_) {
        mainWindow_->overlay()->uncover();
        mainWindow_->setCommandsEnabled(true);
      }
      if (ok) {
        if (mainWindow_) mainWindow_->setCloseAllowed(true);
        quitHandler_();
      } else {
        alert(KVRLocalized("The database could not be saved"),
              KVRLocalized("Your changes could not be written: %1\n\nVortely stays open.").arg(error));
      }
    });
  });
}
