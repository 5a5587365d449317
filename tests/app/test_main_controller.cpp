// The application delegate: start-up on a real database file, the selection
// hub, the data rebuild, print set-up, export failures and the quit that
// saves first.
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeView>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "app/KVRBusyOverlay.h"
#include "app/KVRFinancialStatementsController.h"
#include "app/KVRMainWindow.h"
#include "app/KVRPrintCommand.h"
#include "app/KVRStartupWindow.h"
#include "app/KVRVortelyMainController.h"
#include "core/KVRDatabaseSchema.h"
#include "core/KVRNotifications.h"
#include "core/KVRTaskManager.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"
#include "platform/KVRUserDefaults.h"
#include "products/KVRVortelyProductListController.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Alert {
  QString title, text;
};

class MainControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("Vortely.sqlite");
    KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 0);
  }
  void TearDown() override {
    controller_.reset();
    dm().closeStore();
  }

  // Two accounts ("Beta Apps": Gamma and alpha; "Atlas": Orbit) and a
  // followed product without account, saved to the test's file.
  void makeDatabase() {
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    KVRStoreAccount* beta = dm().insertStoreAccount();
    beta->name = "Beta Apps";
    KVRStoreAccount* atlas = dm().insertStoreAccount();
    atlas->name = "Atlas";
    int64_t id = 100;
    for (auto [name, account] : {std::pair{"Gamma", beta}, {"alpha", beta}, {"Orbit", atlas},
                                 {"Followed", static_cast<KVRStoreAccount*>(nullptr)}}) {
      KVRVortelyManagedProduct* p = dm().insertProduct(account);
      p->name = name;
      p->idStore = ++id;
    }
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
  }

  void start() {
    controller_ = std::make_unique<KVRVortelyMainController>();
    controller_->setStorePath(path_);
    controller_->setShowsWindows(false);
    controller_->setAlertPresenter(
        [this](QWidget*, const QString& title, const QString& text) { alerts_.push_back({title, text}); });
    controller_->setNoticePresenter(
        [this](QWidget*, const QString& title, const QString& text) { notices_.push_back({title, text}); });
    controller_->setQuitHandler([this] { ++quits_; });
    controller_->applicationDidFinishLaunching();
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return controller_->startupFinished(); }, 30));
  }

  KVRVortelyManagedProduct* product(const QString& name) {
    for (KVRVortelyManagedProduct* p : dm().products())
      if (p->name == name) return p;
    return nullptr;
  }
  KVRStoreAccount* account(const QString& name) {
    for (KVRStoreAccount* a : dm().accounts())
      if (a->name == name) return a;
    return nullptr;
  }

  QTemporaryDir dir_;
  QString path_;
  std::unique_ptr<KVRVortelyMainController> controller_;
  std::vector<Alert> alerts_;
  std::vector<Alert> notices_;
  int quits_ = 0;
};

// --- Start-up -------------------------------------------------------------

TEST_F(MainControllerTest, StartupLoadsBuildsAndAnnounces) {
  makeDatabase();
  int announcements = 0;
  int token = 0;
  KVRNotificationCenter::defaultCenter().addObserver(&token, KVRVortelySelectedProductDidChange, nullptr,
                                                      [&](const KVRNotification&) { ++announcements; });
  controller_ = std::make_unique<KVRVortelyMainController>();
  controller_->setStorePath(path_);
  controller_->applicationDidFinishLaunching();
  EXPECT_EQ(controller_->startupWindow()->titleText(), "Loading Vortely...");
  EXPECT_EQ(controller_->startupWindow()->statusText(), "Loading database...");
  EXPECT_TRUE(controller_->startupWindow()->isVisible());
  EXPECT_FALSE(controller_->mainWindow()->isVisible());
  EXPECT_FALSE(controller_->shouldUpdateRankings());
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return controller_->startupFinished(); }, 30));
  KVRNotificationCenter::defaultCenter().removeObserver(&token);
  EXPECT_FALSE(controller_->startupWindow()->isVisible());
  EXPECT_TRUE(controller_->mainWindow()->isVisible());

  EXPECT_TRUE(controller_->storeOpened());
  EXPECT_TRUE(controller_->shouldUpdateRankings());
  EXPECT_EQ(announcements, 1);
  for (KVRVortelyManagedProduct* p : dm().products()) EXPECT_TRUE(p->initialized()) << p->name.toStdString();
  EXPECT_EQ(controller_->mainWindow()->emptyState(), KVRMainWindow::NoEmptyState);
  EXPECT_EQ(KVRApplicationServices::current(), controller_.get());
}

TEST_F(MainControllerTest, LockedDatabaseKeepsTheStartUpWindowAliveAndSaysWhatWaits) {
  makeDatabase();
  auto other = std::make_unique<SQLite::Database>(path_.toStdString(), SQLite::OPEN_READWRITE);
  other->exec("PRAGMA locking_mode = EXCLUSIVE");
  other->exec("BEGIN EXCLUSIVE");
  controller_ = std::make_unique<KVRVortelyMainController>();
  controller_->setStorePath(path_);
  controller_->setShowsWindows(false);
  controller_->setAlertPresenter(
      [this](QWidget*, const QString& title, const QString& text) { alerts_.push_back({title, text}); });
  controller_->applicationDidFinishLaunching();
  // The main thread goes on while the database waits: the window tells why.
  const QString waitText = "Waiting for the database: another program is using it...";
  const bool told =
      KVRMainThread::waitUntil([&] { return controller_->startupWindow()->statusText() == waitText; }, 10);
  EXPECT_TRUE(told);
  EXPECT_FALSE(controller_->startupFinished());
  other.reset();
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return controller_->startupFinished(); }, 30));
  EXPECT_TRUE(controller_->storeOpened());
  EXPECT_TRUE(alerts_.empty());
  EXPECT_NE(product("Gamma"), nullptr);
  controller_.reset();
  dm().closeStore();

  // Still locked when the wait ends: the start-up goes on without data, and
  // the alert names the other program.
  other = std::make_unique<SQLite::Database>(path_.toStdString(), SQLite::OPEN_READWRITE);
  other->exec("PRAGMA locking_mode = EXCLUSIVE");
  other->exec("BEGIN EXCLUSIVE");
  dm().setBusyTimeoutMs(300);
  start();
  dm().setBusyTimeoutMs(KVRDatabaseSchema::kBusyTimeoutMs);
  EXPECT_FALSE(controller_->storeOpened());
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_TRUE(alerts_[0].text.contains("in use by another program")) << alerts_[0].text.toStdString();
}

TEST_F(MainControllerTest, FirstStartWindowIsLargeEnough) {
  KVRUserDefaults::standard().removeObjectForKey("KVRVortelyMainWindowGeometry");
  start();
  EXPECT_GE(controller_->mainWindow()->width(), 1200);
  EXPECT_GE(controller_->mainWindow()->height(), 730);
}

TEST_F(MainControllerTest, EmptyDatabaseShowsTheNoAccountView) {
  start();
  EXPECT_EQ(controller_->mainWindow()->emptyState(), KVRMainWindow::NoAccountState);
  EXPECT_TRUE(alerts_.empty());
}

TEST_F(MainControllerTest, AccountWithoutProductsShowsTheNoProductView) {
  QString error;
  ASSERT_TRUE(dm().openStore(path_, &error));
  dm().insertStoreAccount()->name = "Lonely";
  ASSERT_TRUE(dm().save(&error));
  dm().closeStore();
  start();
  EXPECT_EQ(controller_->mainWindow()->emptyState(), KVRMainWindow::NoProductState);
}

TEST_F(MainControllerTest, DamagedDatabaseIsNamedAndLeftUntouched) {
  const QByteArray garbage("this is not a database file, but it is the user's file\n");
  {
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(garbage);
  }
  start();
  EXPECT_FALSE(controller_->storeOpened());
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_TRUE(alerts_[0].text.contains(path_)) << alerts_[0].text.toStdString();
  EXPECT_EQ(controller_->mainWindow()->emptyState(), KVRMainWindow::NoAccountState);

  // Quitting saves nothing over it and does not wait for a save.
  bool saverCalled = false;
  controller_->setDatabaseSaver([&](QString*) { return saverCalled = true; });
  controller_->requestQuit();
  EXPECT_FALSE(saverCalled);
  EXPECT_EQ(quits_, 1);
  EXPECT_EQ(fileBytes(path_), garbage);
}

TEST_F(MainControllerTest, LinesTheOpenLeavesOutAreToldInOneAlert) {
  makeDatabase();
  {
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    for (const char* name : {"Beta-1_0312_US.txt", "Beta-1_0312_EU.txt"}) {
      KVRReport* r = dm().insertReport();
      r->filename = name;
      r->type = KVRReportTypeFinancial;
      for (int i = 0; i < 2; ++i) dm().insertReportEntry(r, product("Gamma"))->beginDate = KVRDate(1.33e12);
    }
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
    SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE);
    raw.exec("UPDATE ReportEntry SET count = 1099511627776");
  }
  start();
  EXPECT_TRUE(controller_->storeOpened());
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].title, "Some report lines could not be read");
  EXPECT_TRUE(alerts_[0].text.contains("“Beta-1_0312_US.txt”, “Beta-1_0312_EU.txt”")) << alerts_[0].text.toStdString();
  EXPECT_TRUE(product("Gamma")->entries.empty());
}

TEST_F(MainControllerTest, DamageFoundBesideTheHistoryBuildIsNamedAndLeftUntouched) {
  makeDatabase();
  {
    // A NaN planted in a stored amount, then the row rewritten by SQLite
    // (which reads the NaN as NULL): a NULL the layout forbids, which only
    // the integrity check sees.
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    dm().insertReport()->pointedIncome = 23456.789f;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
    SQLite::Database(path_.toStdString(), SQLite::OPEN_READWRITE).exec("PRAGMA journal_mode = DELETE");
    const double stored = double(23456.789f);
    uint64_t bits;
    std::memcpy(&bits, &stored, sizeof bits);
    QByteArray needle(8, '\0');
    for (int i = 0; i < 8; ++i) needle[i] = char(bits >> (56 - 8 * i));
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const qsizetype at = f.readAll().indexOf(needle);
    ASSERT_GE(at, 0);
    f.seek(at);
    f.write(QByteArray("\x7f\xf8\0\0\0\0\0\0", 8));
    f.close();
    SQLite::Database(path_.toStdString(), SQLite::OPEN_READWRITE).exec("UPDATE Report SET type = type");
  }
  const QByteArray damaged = fileBytes(path_);
  start();
  EXPECT_FALSE(controller_->storeOpened());
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].title, "The database could not be opened");
  EXPECT_TRUE(alerts_[0].text.contains("is damaged (NULL value in Report.pointedIncome)")) << alerts_[0].text.toStdString();
  EXPECT_TRUE(dm().products().empty());
  EXPECT_EQ(controller_->mainWindow()->emptyState(), KVRMainWindow::NoAccountState);
  bool saverCalled = false;
  controller_->setDatabaseSaver([&](QString*) { return saverCalled = true; });
  controller_->requestQuit();
  EXPECT_FALSE(saverCalled);
  EXPECT_EQ(fileBytes(path_), damaged);
}

TEST_F(MainControllerTest, SavedSegmentIsRestoredAndMissingOnesIgnored) {
  KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 5);
  start();
  EXPECT_EQ(controller_->selectedTabIndex(), 5);
  controller_->setSelectedTabIndex(4);  // no screen there
  EXPECT_EQ(controller_->selectedTabIndex(), 5);
  // The reports tab brings the financial statements forward.
  controller_->setSelectedTabIndex(3);
  EXPECT_EQ(controller_->selectedTabIndex(), 1);
  EXPECT_EQ(controller_->mainWindow()->segmentPage(1)->objectName(), "financialPage");
  EXPECT_EQ(KVRUserDefaults::standard().integerForKey("KVRVortelySelectedTab"), 1);
  controller_.reset();
  KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 2);
  start();
  EXPECT_EQ(controller_->selectedTabIndex(), 0);
}

// --- Selection hub ---------------------------------------------------------

TEST_F(MainControllerTest, SelectionHubOverAccountsAndProducts) {
  makeDatabase();
  start();
  auto* list = controller_->productList();
  KVRStoreAccount* beta = account("Beta Apps");
  KVRStoreAccount* atlas = account("Atlas");
  KVRVortelyManagedProduct* gamma = product("Gamma");
  KVRVortelyManagedProduct* alpha = product("alpha");
  KVRVortelyManagedProduct* orbit = product("Orbit");
  KVRVortelyManagedProduct* followed = product("Followed");

  // Start-up selects nothing by itself.
  EXPECT_FALSE(controller_->isAccountSelected());
  EXPECT_TRUE(controller_->selectedAccounts().empty());
  EXPECT_EQ(controller_->selectedProduct(), nullptr);

  int announcements = 0;
  int token = 0;
  KVRNotificationCenter::defaultCenter().addObserver(&token, KVRVortelySelectedProductDidChange, nullptr,
                                                      [&](const KVRNotification&) { ++announcements; });
  list->selectObjects({beta}, {orbit});
  EXPECT_EQ(announcements, 1);
  EXPECT_EQ(controller_->selectedProducts(), (std::vector<KVRVortelyManagedProduct*>{orbit}));
  EXPECT_EQ(controller_->extendedSelectedProducts(), (std::vector<KVRVortelyManagedProduct*>{orbit, alpha, gamma}));
  EXPECT_EQ(controller_->selectedAccounts(), (std::vector<KVRStoreAccount*>{atlas, beta}));

  list->selectObjects({}, {followed});
  EXPECT_EQ(announcements, 2);
  EXPECT_EQ(controller_->selectedProduct(), followed);
  EXPECT_FALSE(controller_->isAccountSelected());
  EXPECT_TRUE(controller_->selectedAccounts().empty());  // a followed product has no account

  list->clearSelection();
  EXPECT_EQ(controller_->selectedProduct(), nullptr);
  EXPECT_TRUE(controller_->extendedSelectedProducts().empty());
  EXPECT_FALSE(controller_->isAccountSelected());
  KVRNotificationCenter::defaultCenter().removeObserver(&token);
}

TEST_F(MainControllerTest, FinancialAccountsAreOneListAndALockIsStoredAtOnce) {
  KVRVortelyCurrencyConverter::setFinancialAccountsDefault({{"Bank A", "Me", "First", "123", "Current", "EUR", false}});
  start();
  auto& accounts = controller_->financialAccounts();
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_EQ(accounts[0].Label, "Bank A");
  // The converter reads the shell's list, not the defaults again.
  accounts[0].Currency = "USD";
  EXPECT_EQ(KVRVortelyCurrencyConverter::sharedInstance().financialAccountWithName("Bank A")->Currency, "USD");

  // A lock reaches the settings file at once.
  ASSERT_TRUE(KVRFinancialAccounts::shared().setCurrencyLocked("Bank A", true));
  EXPECT_TRUE(controller_->financialAccounts()[0].CurrencyLocked);
  QSettings file(QSettings::IniFormat, QSettings::UserScope, "Pelliro", "Vortely");
  const QVariantList stored = file.value("FinancialAccounts").toList();
  ASSERT_EQ(stored.size(), 1);
  EXPECT_EQ(stored[0].toMap().value("Currency").toString(), "USD");
  EXPECT_EQ(stored[0].toMap().value("CurrencyLocked").toString(), "true");

  // A settings file that cannot be written: told, and the flag stays as stored.
  QTemporaryDir blocked;
  QFile wall(blocked.filePath("wall"));
  ASSERT_TRUE(wall.open(QIODevice::WriteOnly));
  wall.close();
  KVRUserDefaults::standard().useFile(blocked.filePath("wall/Vortely.ini"));
  QString error;
  EXPECT_FALSE(KVRFinancialAccounts::shared().setCurrencyLocked("Bank A", false, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(controller_->financialAccounts()[0].CurrencyLocked);
  KVRUserDefaults::standard().useFile(file.fileName());
  KVRFinancialAccounts::shared().reload();
}

// --- Rebuild ---------------------------------------------------------------

TEST_F(MainControllerTest, ReconciliationRebuildsUnderATaskAndAnnounces) {
  makeDatabase();
  start();
  int announcements = 0;
  int token = 0;
  KVRNotificationCenter::defaultCenter().addObserver(&token, KVRVortelySelectedProductDidChange, nullptr,
                                                      [&](const KVRNotification&) { ++announcements; });
  // Hold the context lock so that the task is seen while it waits for it.
  std::unique_lock<std::recursive_mutex> hold(dm().contextLock());
  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelyReconcileHaveBeenUpdated);
  ASSERT_TRUE(controller_->isRebuilding());
  auto tasks = KVRTaskManager::sharedInstance().tasks();
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0]->label(), "Applying reconciliation");
  EXPECT_FALSE(tasks[0]->cancelable());
  EXPECT_EQ(controller_->mainWindow()->taskStatusText(), "Applying reconciliation");
  // A second request while it runs waits for it rather than running beside it.
  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelyPreferedCurrencyDidChange);
  EXPECT_EQ(KVRTaskManager::sharedInstance().tasks().size(), 1u);
  EXPECT_EQ(announcements, 0);
  hold.unlock();

  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return announcements == 2 && !controller_->isRebuilding(); }, 30));
  EXPECT_TRUE(KVRTaskManager::sharedInstance().tasks().empty());
  KVRMainThread::waitUntil([] { return false; }, 0.1);
  EXPECT_EQ(controller_->mainWindow()->taskStatusText(), "");
  for (KVRVortelyManagedProduct* p : dm().products()) EXPECT_TRUE(p->initialized());
  KVRNotificationCenter::defaultCenter().removeObserver(&token);
}

// The start-up and the reconciliation rebuild convert a reconciled month's
// sales at the rate its payment showed.
TEST_F(MainControllerTest, RebuildsUseTheRatesOfReconciledPayments) {
  KVRVortelyCurrencyConverter::sharedInstance().removeAllRates();
  KVRUserDefaults::standard().setString("PreferedCurrency", "EUR");
  makeDatabase();
  const KVRDate jan10(1294614000000.0), jan1(1293836400000.0), jan31(1296428400000.0);  // Paris
  {
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error));
    KVRStoreAccount* atlas = account("Atlas");
    KVRReport* daily = dm().insertReport();
    daily->type = KVRReportTypeDaily;
    daily->account = atlas;
    daily->beginDate = daily->endDate = jan10;
    KVRReport* financial = dm().insertReport();
    financial->type = KVRReportTypeFinancial;
    financial->account = atlas;
    financial->filename = "Atlas-S_0111_EU.txt";
    financial->beginDate = jan1;
    financial->endDate = jan31;
    KVRReport* payment = dm().insertReport();
    payment->type = KVRReportTypePayment;
    payment->account = atlas;
    payment->filename = "Atlas-Payment_EU.txt";
    payment->pointedIncome = 90.0f;
    payment->status = KVRReportStatusPointed;
    for (auto [report, type] : {std::pair{daily, int(KVREntryTypeSale)}, {financial, int(KVREntryTypeSale)},
                                {payment, int(KVREntryTypePayment)}}) {
      KVRReportEntry* e = dm().insertReportEntry(report, type == KVREntryTypePayment ? nullptr : product("Orbit"));
      e->type = type;
      e->count = type == KVREntryTypePayment ? 1 : 10;
      e->income = type == KVREntryTypePayment ? 10000 : 1000;
      e->currency = "EUR";
      e->country = type == KVREntryTypePayment ? "EU" : "FR";
      e->beginDate = report == daily ? jan10 : jan1;
      e->endDate = report == daily ? jan10 : jan31;
    }
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
  }
  start();
  auto januaryTenth = [&] {
    const KVRTotalsStruct* r = product("Orbit")->valuesByCountryAndDate()->find("EU-FR", 14984);  // 2011-01-10
    return r ? r->currency : -1.0f;
  };
  EXPECT_FLOAT_EQ(januaryTenth(), 90.0f);  // 100 euros of sales, 90 received
  int announcements = 0;
  int token = 0;
  KVRNotificationCenter::defaultCenter().addObserver(&token, KVRVortelySelectedProductDidChange, nullptr,
                                                      [&](const KVRNotification&) { ++announcements; });
  for (KVRReport* r : dm().paymentReports()) {
    r->pointedIncome = 80.0f;
    dm().markChanged(r);
  }
  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelyReconcileHaveBeenUpdated);
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return announcements == 1 && !controller_->isRebuilding(); }, 30));
  EXPECT_FLOAT_EQ(januaryTenth(), 80.0f);
  KVRNotificationCenter::defaultCenter().removeObserver(&token);
  KVRUserDefaults::standard().removeObjectForKey("PreferedCurrency");
}

// Damaged rates are told once, in the window, naming what is wrong: not again
// at the next rebuild, and the amounts without a rate still count (at 1).
TEST_F(MainControllerTest, DamagedRatesAreToldOnceInTheWindow) {
  auto& converter = KVRVortelyCurrencyConverter::sharedInstance();
  converter.removeAllRates();
  converter.resetRatesProblems();
  KVRUserDefaults::standard().setString("PreferedCurrency", "EUR");
  makeDatabase();
  {
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error));
    KVRReport* daily = dm().insertReport();
    daily->type = KVRReportTypeDaily;
    daily->account = account("Atlas");
    daily->beginDate = daily->endDate = KVRDate(1325376000000.0);
    KVRReportEntry* e = dm().insertReportEntry(daily, product("Orbit"));
    e->type = KVREntryTypeSale;
    e->count = 4;
    e->income = 250;
    e->currency = "USD";
    e->country = "US";
    e->beginDate = e->endDate = daily->beginDate;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
  }
  QFile rates(KVRVortelyCurrencyConverter::ratesFilePath());
  ASSERT_TRUE(rates.open(QIODevice::WriteOnly | QIODevice::Truncate));
  rates.write("{\"version\":1,\"rates\":{\"USD>EUR\":");
  rates.close();

  start();
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].title, "Some exchange rates are missing or damaged");
  EXPECT_TRUE(alerts_[0].text.contains("converts USD into EUR")) << alerts_[0].text.toStdString();
  EXPECT_TRUE(alerts_[0].text.contains("damaged"));
  EXPECT_EQ(product("Orbit")->totalIncomes(), 10.0f);

  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelyReconcileHaveBeenUpdated);
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return !controller_->isRebuilding(); }, 30));
  EXPECT_EQ(alerts_.size(), 1u);
  QFile::remove(KVRVortelyCurrencyConverter::ratesFilePath());
  converter.resetRatesProblems();
}

TEST_F(MainControllerTest, CurrencySwitchLabelNamesThePreferredCurrency) {
  KVRUserDefaults::standard().setString("PreferedCurrency", "USD");
  EXPECT_TRUE(KVRVortelyMainController::currencySwitchLabel().startsWith("Switching currency to "));
  EXPECT_FALSE(KVRVortelyMainController::currencySwitchLabel().endsWith("USD"));  // the name, not the code
  KVRUserDefaults::standard().setString("PreferedCurrency", "EUR");
  EXPECT_EQ(KVRVortelyMainController::currencySwitchLabel(), "Switching currency to Euro");
  KVRUserDefaults::standard().removeObjectForKey("PreferedCurrency");
}

// --- Print -----------------------------------------------------------------

TEST(PrintCommand, PortraitGetsTheWideBottomMargin) {
  KVRPrintInfo in;
  in.margins = QMarginsF(72, 72, 72, 72);
  in.outputPdfPath = "/tmp/x.pdf";
  const KVRPrintInfo out = KVRPrintInfoForPrintCommand(in);
  EXPECT_TRUE(out.horizontalPaginationFit);
  EXPECT_TRUE(out.horizontallyCentered);
  EXPECT_TRUE(out.verticallyCentered);
  EXPECT_EQ(out.margins, QMarginsF(10, 10, 10, 35));
  EXPECT_EQ(out.outputPdfPath, "/tmp/x.pdf");  // the rest is kept
  EXPECT_EQ(out.orientation, QPageLayout::Portrait);
}

TEST(PrintCommand, LandscapeAndWidePaperGetTheWideRightMargin) {
  KVRPrintInfo in;
  in.orientation = QPageLayout::Landscape;
  EXPECT_EQ(KVRPrintInfoForPrintCommand(in).margins, QMarginsF(10, 10, 35, 10));
  // Paper that is itself wider than high, in portrait orientation.
  KVRPrintInfo wide;
  wide.paperSize = QPageSize(QSizeF(800, 400), QPageSize::Point);
  EXPECT_EQ(KVRPrintInfoForPrintCommand(wide).margins, QMarginsF(10, 10, 35, 10));
}

TEST_F(MainControllerTest, PrintInstallsThePageSetUpAndAsksTheShownScreen) {
  start();
  const KVRPrintInfo original = KVRPrintInfo::shared();
  KVRPrintInfo landscape = original;
  landscape.orientation = QPageLayout::Landscape;
  KVRPrintInfo::setShared(landscape);

  std::vector<std::pair<int, KVRPrintInfo>> printed;
  for (int segment : {0, 1, 4, 5})
    controller_->setPrintHandler(segment, [&, segment](QString*) {
      printed.push_back({segment, KVRPrintInfo::shared()});
      return true;
    });

  controller_->setSelectedTabIndex(5);
  controller_->printDocument();
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0].first, 5);
  EXPECT_EQ(printed[0].second.margins, QMarginsF(10, 10, 35, 10));
  EXPECT_TRUE(printed[0].second.horizontalPaginationFit);
  EXPECT_EQ(KVRPrintInfo::shared().margins, QMarginsF(10, 10, 35, 10));  // installed as shared

  KVRPrintInfo::setShared(original);
  controller_->setSelectedTabIndex(0);
  controller_->printDocument();
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_EQ(printed[1].first, 0);
  EXPECT_EQ(printed[1].second.margins, QMarginsF(10, 10, 10, 35));
  KVRPrintInfo::setShared(original);
}

TEST_F(MainControllerTest, OverviewPrintsToThePdfFileOfThePrintInformation) {
  makeDatabase();
  start();
  const KVRPrintInfo original = KVRPrintInfo::shared();
  for (int segment : {0, 5}) {
    KVRPrintInfo info = original;
    info.outputPdfPath = dir_.filePath(QStringLiteral("overview-%1.pdf").arg(segment));
    KVRPrintInfo::setShared(info);
    controller_->setSelectedTabIndex(segment);
    controller_->printDocument();
    EXPECT_TRUE(fileBytes(info.outputPdfPath).startsWith("%PDF")) << segment;
  }
  EXPECT_TRUE(alerts_.empty());

  // A PDF file that cannot be written is reported, as a failed export is.
  KVRPrintInfo info = original;
  info.outputPdfPath = dir_.filePath(QStringLiteral("missing/folder/overview.pdf"));
  KVRPrintInfo::setShared(info);
  controller_->setSelectedTabIndex(0);
  controller_->printDocument();
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].title, "The print failed");
  EXPECT_TRUE(alerts_[0].text.contains("missing/folder/overview.pdf")) << alerts_[0].text.toStdString();

  // A cancelled print says nothing; a screen's own failure is shown with its reason.
  controller_->setPrintHandler(5, [](QString*) { return false; });
  controller_->setPrintHandler(1, [](QString* error) {
    *error = "No printer is available.";
    return false;
  });
  controller_->setSelectedTabIndex(5);
  controller_->printDocument();
  EXPECT_EQ(alerts_.size(), 1u);
  controller_->setSelectedTabIndex(1);
  controller_->printDocument();
  ASSERT_EQ(alerts_.size(), 2u);
  EXPECT_EQ(alerts_[1].text, "No printer is available.");
  KVRPrintInfo::setShared(original);
}

// --- Export ----------------------------------------------------------------

class FakeReports : public KVRFinancialStatementsController {
 public:
  void setOptionsEnabled(bool enabled) override { optionsEnabled = enabled; }
  bool print(QString*) override {
    ++prints;
    return true;
  }
  KVRExportOutcome exportVisibleDatesReportsToPath(const QString& folder,
                                                  const std::vector<KVRVortelyManagedProduct*>* filter) override {
    return record(6, folder, filter);
  }
  KVRExportOutcome exportYearlyArchiveToPath(const QString& folder,
                                             const std::vector<KVRVortelyManagedProduct*>* filter) override {
    return record(8, folder, filter);
  }
  KVRExportOutcome record(int kind, const QString& folder, const std::vector<KVRVortelyManagedProduct*>* filter) {
    calls.push_back({kind, folder, filter != nullptr, filter ? *filter : std::vector<KVRVortelyManagedProduct*>()});
    if (fail) return {KVRExportOutcome::Failed, "The export failed", "Disk full"};
    if (nothing) return {KVRExportOutcome::NothingWritten, "Nothing was exported", "No month in 2013"};
    return {KVRExportOutcome::Written, "Export finished", "Written into " + folder};
  }
  struct Call {
    int kind;
    QString folder;
    bool filtered;
    std::vector<KVRVortelyManagedProduct*> products;
  };
  std::vector<Call> calls;
  bool fail = false;
  bool nothing = false;
  bool optionsEnabled = false;
  int prints = 0;
};

TEST_F(MainControllerTest, ExportOfAnEmptyStatementSaysWhyNothingWasWritten) {
  start();
  EXPECT_FALSE(controller_->exportReportsWithInfos(6, dir_.path()));
  EXPECT_FALSE(controller_->exportReportsWithInfos(8, dir_.path()));
  ASSERT_EQ(alerts_.size(), 2u);
  EXPECT_EQ(alerts_[0].title, "Nothing was exported");
  EXPECT_EQ(alerts_[0].text, "The months on show have no financial report, so no file was written.");
  EXPECT_EQ(alerts_[1].title, "Nothing was exported");
  EXPECT_TRUE(alerts_[1].text.endsWith("so “YearlyFinancials.csv” was not written."));
  EXPECT_TRUE(notices_.empty());
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath("YearlyFinancials.csv")));
}

TEST_F(MainControllerTest, ExportFormatsReachTheRightExportWithTheRightProducts) {
  makeDatabase();
  start();
  FakeReports reports;
  controller_->setReportsController(&reports);
  controller_->productList()->selectObjects({account("Atlas")}, {product("Followed"), product("Gamma")});

  for (int format : {6, 7, 8, 9}) EXPECT_TRUE(controller_->exportReportsWithInfos(format, dir_.path()));
  ASSERT_EQ(reports.calls.size(), 4u);
  EXPECT_EQ(reports.calls[0].kind, 6);
  EXPECT_FALSE(reports.calls[0].filtered);
  EXPECT_EQ(reports.calls[1].kind, 6);
  ASSERT_TRUE(reports.calls[1].filtered);
  // The followed product has no account and is left out.
  EXPECT_EQ(reports.calls[1].products, (std::vector<KVRVortelyManagedProduct*>{product("Orbit"), product("Gamma")}));
  EXPECT_EQ(reports.calls[2].kind, 8);
  EXPECT_FALSE(reports.calls[2].filtered);
  EXPECT_EQ(reports.calls[3].kind, 8);
  EXPECT_TRUE(reports.calls[3].filtered);
  EXPECT_TRUE(alerts_.empty());
  // Each ends with a notice of what was written where.
  ASSERT_EQ(notices_.size(), 4u);
  EXPECT_EQ(notices_[3].title, "Export finished");
  EXPECT_EQ(notices_[3].text, "Written into " + dir_.path());

  controller_->setSelectedTabIndex(1);
  controller_->printDocument();
  EXPECT_EQ(reports.prints, 1);
  controller_->setReportsController(nullptr);
}

TEST_F(MainControllerTest, ExportWriteFailuresAreReported) {
  start();
  FakeReports reports;
  controller_->setReportsController(&reports);

  // A folder that does not exist: nothing is attempted.
  EXPECT_FALSE(controller_->exportReportsWithInfos(8, dir_.filePath("missing/folder")));
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_TRUE(alerts_[0].text.contains("missing/folder"));
  EXPECT_TRUE(reports.calls.empty());

  // The exporter itself fails: its reason reaches the user.
  reports.fail = true;
  EXPECT_FALSE(controller_->exportReportsWithInfos(6, dir_.path()));
  ASSERT_EQ(alerts_.size(), 2u);
  EXPECT_TRUE(alerts_[1].text.contains("Disk full"));
  // Nothing to export is said too, as a warning.
  reports.fail = false;
  reports.nothing = true;
  EXPECT_FALSE(controller_->exportReportsWithInfos(8, dir_.path()));
  ASSERT_EQ(alerts_.size(), 3u);
  EXPECT_EQ(alerts_[2].title, "Nothing was exported");
  EXPECT_EQ(alerts_[2].text, "No month in 2013");
  EXPECT_TRUE(notices_.empty());
  controller_->setReportsController(nullptr);
}

TEST_F(MainControllerTest, EmptyStatesSwitchTheScreensOptions) {
  start();
  FakeReports reports;
  reports.optionsEnabled = true;
  controller_->setReportsController(&reports);
  controller_->updateNoAccountView();
  EXPECT_FALSE(reports.optionsEnabled);
  controller_->setReportsController(nullptr);
}

// --- Quit ------------------------------------------------------------------

TEST_F(MainControllerTest, QuitSavesUnderATaskThenQuits) {
  makeDatabase();
  start();
  std::atomic<bool> sawTask{false}, heldLock{false}, onWorker{false};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  controller_->setDatabaseSaver([&](QString* error) {
    for (const auto& t : KVRTaskManager::sharedInstance().tasks())
      if (t->label() == "Saving database" && !t->cancelable()) sawTask = true;
    onWorker = !KVRMainThread::isMainThread();
    // The lock is re-entrant: another thread must not get it now.
    std::thread probe([&] {
      heldLock = !dm().contextLock().try_lock();
      if (!heldLock) dm().contextLock().unlock();
    });
    probe.join();
    released.wait();
    return dm().save(error);
  });
  product("Gamma")->name = "Gamma Renamed";
  dm().markChanged(product("Gamma Renamed"));

  controller_->requestQuit();
  EXPECT_TRUE(controller_->isSaving());
  EXPECT_TRUE(controller_->mainWindow()->overlay()->isVisible() || !controller_->mainWindow()->isVisible());
  EXPECT_FALSE(controller_->mainWindow()->printAction()->isEnabled());
  controller_->requestQuit();  // a second request while saving does nothing
  EXPECT_EQ(quits_, 0);
  release.set_value();

  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return quits_ > 0; }, 30));
  EXPECT_EQ(quits_, 1);
  EXPECT_TRUE(sawTask);
  EXPECT_TRUE(heldLock);
  EXPECT_TRUE(onWorker);
  EXPECT_TRUE(KVRTaskManager::sharedInstance().tasks().empty());
  EXPECT_TRUE(KVRUserDefaults::standard().hasKey("KVRVortelyMainWindowGeometry"));

  // What the save wrote is there on the next start.
  controller_.reset();
  dm().closeStore();
  QString error;
  ASSERT_TRUE(dm().openStore(path_, &error));
  EXPECT_NE(product("Gamma Renamed"), nullptr);
}

TEST_F(MainControllerTest, FailedSaveKeepsTheApplicationOpen) {
  start();
  controller_->setDatabaseSaver([](QString* error) {
    *error = "The disk is full.";
    return false;
  });
  controller_->requestQuit();
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return !controller_->isSaving(); }, 30));
  EXPECT_EQ(quits_, 0);
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].title, "The database could not be saved");
  EXPECT_TRUE(alerts_[0].text.contains("The disk is full."));
  EXPECT_FALSE(controller_->mainWindow()->overlay()->isVisible());
  EXPECT_TRUE(controller_->mainWindow()->quitAction()->isEnabled());
  EXPECT_FALSE(controller_->mainWindow()->printAction()->isEnabled());  // an empty store: nothing to print

  // Closing the window is refused (it asks to quit instead); a later quit can succeed.
  EXPECT_FALSE(controller_->mainWindow()->close());
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return !controller_->isSaving(); }, 30));
  controller_->setDatabaseSaver([](QString*) { return true; });
  controller_->requestQuit();
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return quits_ == 1; }, 30));
  EXPECT_TRUE(controller_->mainWindow()->close());
}

}  // namespace
