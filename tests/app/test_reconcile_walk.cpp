// A month reconciled through the details panel, as a user does it, in the
// running application: the amount typed, the button pressed, the controls
// held until the "Applying reconciliation" rebuild ends, the money on disk
// before that, then the grid, the panel and the overview's figures.
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <mutex>

#include "app/KVRMainWindow.h"
#include "app/KVRVortelyMainController.h"
#include "core/KVRCalendar.h"
#include "core/KVRFormatters.h"
#include "core/KVRNotifications.h"
#include "core/KVRTaskManager.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRFinancialWidgets.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"
#include "platform/KVRUserDefaults.h"
#include "products/KVRVortelyProductListController.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }

void click(QWidget* w, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

void type(QWidget* w, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
  }
}

QColor badge(KVRFinancialGridView* grid, int record) {
  const QImage shot = grid->viewport()->grab().toImage();
  const QRect cell = grid->cellRect(record);
  return shot.pixelColor(cell.right() - 5, cell.center().y() - cell.height() / 4);
}

class ReconcileWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVRCalendar::shared().resetTimeZone(QStringLiteral("Europe/Paris"));
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    KVRVortelyCurrencyConverter::sharedInstance().removeAllRates();
    KVRVortelyCurrencyConverter::sharedInstance().setRate("GBP", "EUR", 1.2);
    KVRUserDefaults::standard().setString("PreferedCurrency", "EUR");
    KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 1);
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({{"Bank EUR", "Me", "Lac", "FR76", "Checking", "EUR", false}});
    path_ = dir_.filePath("Vortely.sqlite");
    // Atlas sells 100 euros in France in January 2011; its European report
    // says so, and the store announces a payment of 100 euros.
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    KVRStoreAccount* atlas = dm().insertStoreAccount();
    atlas->name = atlas->developer = "Atlas";
    KVRVortelyManagedProduct* orbit = dm().insertProduct(atlas);
    orbit->name = "Orbit";
    orbit->idStore = 101;
    auto day = [](int d) { return KVRCalendar::shared().dateFromComponents(KVRDateComponents::ymd(2011, 1, d)); };
    auto report = [&](int type, const char* name) {
      KVRReport* r = dm().insertReport();
      r->type = type;
      r->account = atlas;
      r->filename = name;
      return r;
    };
    auto entry = [&](KVRReport* r, KVRVortelyManagedProduct* p, int type, int count, int income, const char* country,
                     KVRDate begin, KVRDate end, const char* currency = "EUR") {
      KVRReportEntry* e = dm().insertReportEntry(r, p);
      e->type = type;
      e->count = count;
      e->income = income;
      e->currency = currency;
      e->country = country;
      e->beginDate = begin;
      e->endDate = end;
    };
    KVRReport* daily = report(KVRReportTypeDaily, "Atlas-S_D_20110110.txt");
    daily->beginDate = daily->endDate = day(10);
    entry(daily, orbit, KVREntryTypeSale, 10, 1000, "FR", day(10), day(10));
    entry(report(KVRReportTypeFinancial, "Atlas-S_0111_EU.txt"), orbit, KVREntryTypeSale, 10, 1000, "FR", day(1),
          day(31));
    // Its British report has no payment advice yet.
    entry(report(KVRReportTypeFinancial, "Atlas-S_0111_GB.txt"), orbit, KVREntryTypeSale, 4, 250, "GB", day(1),
          day(31), "GBP");
    entry(report(KVRReportTypePayment, "Atlas-Payment_EU_201101.txt"), nullptr, KVREntryTypePayment, 1, 10000, "EU",
          day(1), day(31));
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
  }
  void TearDown() override {
    controller_.reset();
    dm().closeStore();
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
    KVRUserDefaults::standard().removeObjectForKey("PreferedCurrency");
    KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 0);
    KVRFormatters::shared().resetLocale();
    KVRCalendar::shared().resetTimeZone();
  }

  void start() {
    controller_ = std::make_unique<KVRVortelyMainController>();
    controller_->setStorePath(path_);
    controller_->setShowsWindows(false);
    controller_->setAlertPresenter([this](QWidget*, const QString& title, const QString&) { alerts_.push_back(title); });
    controller_->applicationDidFinishLaunching();
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return controller_->startupFinished(); }, 30));
    controller_->mainWindow()->resize(1200, 730);
    controller_->mainWindow()->show();
    controller_->financialScreen()->finishAnimations();
  }
  // The stored payment report: pointed income and status, read from the file.
  std::pair<double, int> storedPayment() {
    SQLite::Database db(path_.toStdString(), SQLite::OPEN_READONLY);
    SQLite::Statement q(db, "SELECT pointedIncome, status FROM Report WHERE type = 5 ORDER BY id");
    if (!q.executeStep()) return {0, 0};
    return {q.getColumn(0).getDouble(), q.getColumn(1).getInt()};
  }
  float overviewIncomeOnJanuaryTenth() {
    KVRVortelyManagedProduct* orbit = dm().products().front();
    const KVRTotalsStruct* r = orbit->valuesByCountryAndDate()->find("EU-FR", KVRCivilDayFromYMD(2011, 1, 10));
    return r ? r->currency : -1.0f;
  }

  QTemporaryDir dir_;
  QString path_;
  std::unique_ptr<KVRVortelyMainController> controller_;
  std::vector<QString> alerts_;
};

TEST_F(ReconcileWalkTest, ReconcilingAMonthThroughThePanel) {
  start();
  int rebuilt = 0;
  int token = 0;
  KVRNotificationCenter::defaultCenter().addObserver(&token, KVRVortelySelectedProductDidChange, nullptr,
                                                      [&](const KVRNotification&) { ++rebuilt; });
  controller_->productList()->selectObjects({dm().accounts().front()}, {});
  rebuilt = 0;
  KVRFinancialScreen* screen = controller_->financialScreen();
  KVRFinancialGridView* grid = screen->regionGrid();
  KVRFinancialDetailsPanel* panel = screen->detailsPanel();
  const int euJanuary = KVRFinancialGrid::indexOf(KVRRegionRowEU, 1);
  click(grid->viewport(), grid->cellRect(euJanuary).center());
  EXPECT_EQ(panel->financialValueTitle()->text(), "Jan 2011-Europe");
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: payment advise received, waiting for reconciliation");
  EXPECT_TRUE(panel->financialValueUnreconcileButton()->isHidden());
  const QColor waiting = badge(grid, euJanuary);
  EXPECT_GT(waiting.red(), 200);  // orange
  EXPECT_LT(waiting.blue(), 80);

  // A text without an amount is refused and changes nothing.
  panel->financialValueReconcileValue()->selectAll();
  type(panel->financialValueReconcileValue(), "ninety");
  click(panel->financialValueReconcileButton(), QPoint(5, 5));
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0], "The payment was not recorded");
  EXPECT_TRUE(panel->financialValueReconcileButton()->isEnabled());
  EXPECT_EQ(storedPayment(), std::make_pair(-1.0, -1));

  // 90 euros arrived. While the rebuild waits (the context lock held here),
  // the payment is already on disk and the panel's controls stay disabled,
  // also through a month step that lays the panel out again.
  std::unique_lock<std::recursive_mutex> hold(dm().contextLock());
  panel->financialValueReconcileValue()->selectAll();
  type(panel->financialValueReconcileValue(), "90");
  click(panel->financialValueReconcileButton(), QPoint(5, 5));
  EXPECT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(storedPayment(), std::make_pair(90.0, int(KVRReportStatusPointed)));
  EXPECT_TRUE(controller_->isRebuilding());
  EXPECT_EQ(controller_->mainWindow()->taskStatusText(), "Applying reconciliation");
  EXPECT_TRUE(controller_->financialController()->blockReconciliation());
  click(grid->viewport(), grid->cellRect(euJanuary).center());
  for (QWidget* w : std::initializer_list<QWidget*>{
           panel->financialValueReconcileButton(), panel->financialValueReconcileValue(),
           panel->financialValueReconcileAccount(), panel->financialValueReconcileDate()})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_EQ(rebuilt, 0);
  hold.unlock();

  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return rebuilt == 1 && !controller_->isRebuilding(); }, 30));
  EXPECT_FALSE(controller_->financialController()->blockReconciliation());
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: payment received");
  EXPECT_FALSE(panel->financialValueUnreconcileButton()->isHidden());
  for (QWidget* w : std::initializer_list<QWidget*>{
           panel->financialValueReconcileButton(), panel->financialValueUnreconcileButton(),
           panel->financialValueReconcileValue(), panel->financialValueReconcileDate()})
    EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_EQ(panel->financialValueReconcileValue()->text(), "90.00 €");
  EXPECT_EQ(grid->model()->data(grid->gridModel()->modelIndex(euJanuary)).toString(), "90.00 €");
  const QColor received = badge(grid, euJanuary);
  EXPECT_GT(received.green(), 180);  // green-yellow
  EXPECT_LT(received.blue(), 60);
  // The overview's January sales came in at the rate the bank showed.
  EXPECT_FLOAT_EQ(overviewIncomeOnJanuaryTenth(), 90.0f);

  // Taken back: waiting again, after another rebuild.
  click(panel->financialValueUnreconcileButton(), QPoint(5, 5));
  EXPECT_EQ(storedPayment(), std::make_pair(-1.0, -1));
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return rebuilt == 2 && !controller_->isRebuilding(); }, 30));
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: payment advise received, waiting for reconciliation");
  EXPECT_FLOAT_EQ(overviewIncomeOnJanuaryTenth(), 100.0f);

  // Britain's advice never came: the payment is made by hand, saved, and
  // the panel offers its reconciliation at once.
  const int gbJanuary = KVRFinancialGrid::indexOf(KVRRegionRowGB, 1);
  click(grid->viewport(), grid->cellRect(gbJanuary).center());
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: waiting for payment advise");
  EXPECT_EQ(panel->financialValueReconcileButton()->text(), "Create Payment");
  click(panel->financialValueReconcileButton(), QPoint(5, 5));
  EXPECT_FALSE(dm().hasChanges());
  EXPECT_EQ(panel->financialValueTitle()->text(), "Jan 2011-Great Britain");
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: payment advise received, waiting for reconciliation");
  EXPECT_EQ(panel->financialValueReconcileButton()->text(), "Reconcile");
  EXPECT_TRUE(panel->financialValueLabel()->text().startsWith("Total payment amount: 12.00 € (10.00 £)"))
      << panel->financialValueLabel()->text().toStdString();
  KVRNotificationCenter::defaultCenter().removeObserver(&token);
}

}  // namespace
