// The keyboard in the main window: the menu's shortcuts win over a text
// field's own bindings, the segmented controls and the month buttons are
// reached with Tab and answer Space and the arrow keys, and Print and Export
// are enabled only when the screen on show has something for them.
#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "app/KVRMainWindow.h"
#include "app/KVRVortelyMainController.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRFinancialWidgets.h"
#include "financial/KVRVortelyReportsController.h"
#include "graphs/KVRSegmentedControl.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRUserDefaults.h"
#include "products/KVRVortelyProductListController.h"
#include "sampledata/KVRDatabaseSampleData.h"

namespace {

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(support_.isValid());
    KVRSampleDataOptions options;
    options.size = KVRSampleDataSize::Demo;
    options.outFolder = support_.path();
    options.lastDay = KVRCivilDayFromYMD(2011, 11, 20);
    KVRSampleDataSummary summary;
    QString error;
    ASSERT_TRUE(KVRGenerateSampleData(options, &summary, &error)) << error.toStdString();
    controller_ = std::make_unique<KVRVortelyMainController>();
    controller_->setStorePath(summary.databasePath);
    controller_->setAlertPresenter([](QWidget*, const QString&, const QString&) {});
    controller_->setNoticePresenter([](QWidget*, const QString&, const QString&) {});
    controller_->applicationDidFinishLaunching();
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return controller_->startupFinished(); }, 60));
    window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
  }
  void TearDown() override {
    // The settings that keys changed go back for the tests that follow.
    if (controller_) controller_->financialController()->setCurrencyMode(0);
    KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 0);
    controller_.reset();
    KVRVortelyCoreDataManager::sharedInstance().closeStore();
  }

  KVRMainWindow* window() const { return controller_->mainWindow(); }
  KVRFinancialScreen* screen() const { return controller_->financialScreen(); }

  // Selects every account (or the one named) and waits for the statement of
  // the selection (or its pending rebuild while the statement is hidden).
  void selectAccounts(const QString& only = QString()) {
    KVRVortelyReportsController* reports = controller_->financialController();
    const int before = reports->rebuildCount();
    std::vector<KVRStoreAccount*> accounts = KVRVortelyCoreDataManager::sharedInstance().accounts();
    if (!only.isEmpty())
      accounts.erase(std::remove_if(accounts.begin(), accounts.end(), [&](KVRStoreAccount* a) { return a->name != only; }),
                     accounts.end());
    controller_->productList()->selectObjects(accounts, {});
    // The statement is rebuilt now when its screen is on show, else it waits for it.
    ASSERT_TRUE(KVRMainThread::waitUntil(
        [&] { return reports->rebuildCount() > before || reports->rebuildPending(); }, 10));
    QApplication::processEvents();
  }

  QTemporaryDir support_;
  std::unique_ptr<KVRVortelyMainController> controller_;
};

}  // namespace

TEST_F(KeyboardTest, PrintAndExportFollowWhatTheScreenOnShowHas) {
  controller_->productList()->clearSelection();
  controller_->setSelectedTabIndex(KVRVortelyMainController::FinancialSegment);
  QApplication::processEvents();
  EXPECT_FALSE(window()->printAction()->isEnabled());
  EXPECT_FALSE(window()->exportAction()->isEnabled());
  controller_->setSelectedTabIndex(KVRVortelyMainController::OverviewSegment);
  QApplication::processEvents();
  EXPECT_FALSE(window()->printAction()->isEnabled());
  EXPECT_FALSE(window()->exportAction()->isEnabled());

  selectAccounts();
  EXPECT_TRUE(window()->printAction()->isEnabled());
  EXPECT_TRUE(window()->exportAction()->isEnabled());
  controller_->setSelectedTabIndex(KVRVortelyMainController::FinancialSegment);
  QApplication::processEvents();
  EXPECT_TRUE(window()->printAction()->isEnabled());
  EXPECT_TRUE(window()->exportAction()->isEnabled());
}

TEST_F(KeyboardTest, TheExportShortcutWinsOverTheAmountField) {
  // One account: a payment is reconciled with its account selected alone.
  selectAccounts(QStringLiteral("Pelliro Soft"));
  controller_->setSelectedTabIndex(KVRVortelyMainController::FinancialSegment);
  QApplication::processEvents();
  // A cell waiting for its payment: selecting it puts the focus in the amount field.
  QLineEdit* amount = screen()->detailsPanel()->financialValueReconcileValue();
  KVRVortelyReportsController* reports = controller_->financialController();
  for (int record = 0; record < 3 * 19 && !amount->hasFocus(); ++record)
    reports->setSelectedFinancialsValues(KVRIndexSet{record});
  ASSERT_TRUE(amount->hasFocus());
  amount->setText("12.50");
  amount->setCursorPosition(0);
  // The offscreen platform has no X11 key scheme, under which the field binds
  // Ctrl+E (end of line) and claims the key before any shortcut: this stands
  // in for that binding, claiming the key as the field does there.
  struct FieldBinding : QObject {
    int claimed = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
      if (static_cast<QKeyEvent*>(event)->keyCombination() != (Qt::ControlModifier | Qt::Key_E)) return false;
      if (event->type() == QEvent::ShortcutOverride) {
        ++claimed;
        event->accept();
      } else {
        static_cast<QLineEdit*>(parent())->end(false);
      }
      return true;
    }
  } binding;
  binding.setParent(amount);
  amount->installEventFilter(&binding);

  // The export command asks for the format in a sheet: seen, then cancelled.
  QString sheetTitle;
  QTimer::singleShot(0, [&] {
    if (auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      sheetTitle = sheet->windowTitle();
      sheet->reject();
    }
  });
  QTest::keyClick(amount, Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(sheetTitle, "Export");
  // The field kept its text and its cursor (its own Ctrl+E moves to the end).
  EXPECT_EQ(amount->text(), "12.50");
  EXPECT_EQ(amount->cursorPosition(), 0);

  EXPECT_EQ(binding.claimed, 0);

  // With Export disabled the field has the key back.
  window()->setExportAvailable(false);
  amount->setFocus();
  QTest::keyClick(amount, Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(binding.claimed, 1);
  EXPECT_EQ(amount->cursorPosition(), 5);
  amount->removeEventFilter(&binding);
  binding.setParent(nullptr);
}

TEST_F(KeyboardTest, TabReachesTheSegmentsAndTheMonthsWhichAnswerSpaceAndArrows) {
  selectAccounts();
  controller_->setSelectedTabIndex(KVRVortelyMainController::FinancialSegment);
  QApplication::processEvents();
  KVRSegmentedControl* currency = screen()->currencyControl();
  KVRVortelyReportsController* reports = controller_->financialController();
  ASSERT_EQ(currency->selectedSegment(), 0);

  // From the year pop-up, Tab goes along the months, then to the currency segments.
  screen()->availableYears()->setFocus();
  bool passedJanuary = false;
  for (int i = 0; i < 40 && QApplication::focusWidget() != currency; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    passedJanuary |= QApplication::focusWidget() == screen()->monthButton(0);
  }
  ASSERT_EQ(QApplication::focusWidget(), currency);
  EXPECT_TRUE(passedJanuary);

  // The focus ring is drawn on the chosen segment.
  const QImage focused = currency->grab().toImage();
  window()->segmentedControl()->setFocus();
  const QImage unfocused = currency->grab().toImage();
  EXPECT_NE(focused, unfocused);
  currency->setFocus(Qt::TabFocusReason);

  // An arrow moves the ring only; Space chooses, as a click does.
  QTest::keyClick(currency, Qt::Key_Right);
  EXPECT_EQ(currency->focusedSegment(), 1);
  EXPECT_EQ(currency->selectedSegment(), 0);
  EXPECT_EQ(reports->currencyMode(), 0);
  QTest::keyClick(currency, Qt::Key_Space);
  EXPECT_EQ(currency->selectedSegment(), 1);
  EXPECT_EQ(reports->currencyMode(), 1);
  QTest::keyClick(currency, Qt::Key_Right);
  QTest::keyClick(currency, Qt::Key_Right);  // stays on the last segment
  EXPECT_EQ(currency->focusedSegment(), 2);
  QTest::keyClick(currency, Qt::Key_Space);
  EXPECT_EQ(reports->currencyMode(), 2);

  // The month buttons: the arrow goes to the next month, Space jumps to it.
  QToolButton* january = screen()->monthButton(0);
  january->setFocus(Qt::TabFocusReason);
  QTest::keyClick(january, Qt::Key_Right);
  ASSERT_EQ(QApplication::focusWidget(), screen()->monthButton(1));
  const int shown = reports->selectedMonth();
  QTest::keyClick(screen()->monthButton(1), Qt::Key_Space);
  const int jumped = reports->selectedMonth();
  EXPECT_NE(jumped, shown);
  screen()->monthButton(11)->click();
  screen()->monthButton(1)->click();
  EXPECT_EQ(reports->selectedMonth(), jumped);  // as a click on February

  // The screens' segments too: Space on the next one shows the iAd overview.
  KVRSegmentedControl* screens = window()->segmentedControl();
  screens->setFocus(Qt::TabFocusReason);
  QTest::keyClick(screens, Qt::Key_Right);
  QTest::keyClick(screens, Qt::Key_Space);
  EXPECT_EQ(controller_->selectedTabIndex(), KVRVortelyMainController::IAdOverviewSegment);
}
