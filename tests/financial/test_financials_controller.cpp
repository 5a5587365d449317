// The financials panel as the user works it, offscreen: pop-ups, the lines
// table and its sorting, the state cells with the payment sheet, and the
// partners and costs sheet.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <cmath>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include "core/KVRFormatters.h"
#include "core/KVRNotifications.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRReportValueTransformers.h"
#include "financial/KVRVortelyFinancialsController.h"
#include "financial/KVRVortelyReportsController.h"
#include "platform/KVRNotificationCenter.h"
#include "graphs/render_dir.h"
#include "core/fake_selection.h"
#include "qt_print.h"
#include "statement_fixture.h"

namespace {

class FinancialsControllerTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    KVRReportDateTransformer::resetFormatter();
    selection_.install();

    KVRReport* june = financial(soft, "0611_EU.txt", day(2011, 5, 29));
    june->endDate = day(2011, 7, 2);
    for (auto [count, income, type] : {std::tuple{12, 70, 1}, {3, 150, 1}, {-1, 70, 3}, {2, 0, 2}}) {
      KVRReportEntry* e = line(june, app, count, income, "EUR");
      e->type = type;
      e->endDate = june->endDate;
    }
    KVRReport* july = financial(soft, "0711_EU.txt", day(2011, 7, 3));
    july->endDate = day(2011, 7, 30);
    line(july, app, 5, 99, "EUR")->endDate = july->endDate;
    QString error;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    selection_.selectProducts({app});

    window_.resize(1000, 360);
    panel_ = new KVRVortelyFinancialsController(&window_, &selection_, [] {
      return std::vector<KVRFinancialAccount>{{"Pelliro Business EUR", "", "", "", "", "EUR", false}};
    });
    panel_->setAlertPresenter([this](QWidget*, const QString& title, const QString&) { alerts_ << title; });
    panel_->setGeometry(0, 0, 1000, 360);
    window_.show();
    panel_->selectedProductDidChange();
  }
  void TearDown() override {
    window_.close();
    selection_.uninstall();
    KVRFormatters::shared().resetLocale();
    StatementTest::TearDown();
  }

  QStringList column(int c) const {
    QStringList out;
    const QAbstractItemModel* m = panel_->reportsTableView()->model();
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, c).data().toString();
    return out;
  }

  FakeSelection selection_;
  QWidget window_;
  KVRVortelyFinancialsController* panel_ = nullptr;
  QStringList alerts_;
};

}  // namespace

TEST_F(FinancialsControllerTest, PopupsLinesAndSorting) {
  EXPECT_EQ(panel_->periodsPopup()->count(), 3);
  EXPECT_EQ(panel_->periodsPopup()->itemText(1), "May 29, 2011-Jul 2, 2011");
  EXPECT_EQ(panel_->reportsPopup()->currentText(), "0611_EU.txt (May 29, 2011-Jul 2, 2011)");
  EXPECT_EQ(column(KVRVortelyFinancialsController::IncomeColumn),
            (QStringList{"8.40 €", "4.50 €", "-0.70 €", "--", "4.95 €"}));
  EXPECT_EQ(panel_->reportsTotalSales()->text(), "20");
  EXPECT_EQ(panel_->reportsTotalUpgrades()->text(), "2");
  EXPECT_EQ(panel_->reportsTotalRevenues()->text(), "17.15 €");

  // Income, ascending then descending; another column does not sort.
  panel_->reportsTableView()->horizontalHeader()->sectionClicked(KVRVortelyFinancialsController::IncomeColumn);
  EXPECT_EQ(column(KVRVortelyFinancialsController::IncomeColumn),
            (QStringList{"-0.70 €", "--", "4.50 €", "4.95 €", "8.40 €"}));
  panel_->reportsTableView()->horizontalHeader()->sectionClicked(KVRVortelyFinancialsController::IncomeColumn);
  EXPECT_EQ(column(KVRVortelyFinancialsController::IncomeColumn).front(), "8.40 €");
  EXPECT_EQ(panel_->reportsTableView()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
  panel_->reportsTableView()->horizontalHeader()->sectionClicked(KVRVortelyFinancialsController::TypeColumn);
  EXPECT_EQ(column(KVRVortelyFinancialsController::IncomeColumn).front(), "8.40 €");

  // July alone, then the region filter that keeps nothing.
  panel_->periodsPopup()->setCurrentIndex(2);
  EXPECT_EQ(column(KVRVortelyFinancialsController::IncomeColumn), QStringList{"4.95 €"});
  EXPECT_EQ(panel_->reportsTotalSales()->text(), "5");
  panel_->regionsPopup()->setCurrentIndex(panel_->regionsPopup()->findData(KVRFinancialsPanel::US));
  EXPECT_TRUE(column(0).isEmpty());
  EXPECT_FALSE(panel_->reportsPopup()->isEnabled());
  EXPECT_FALSE(panel_->reportStateCell(0)->isEnabled());
  EXPECT_EQ(panel_->reportsTotalRevenues()->text(), "0.00 €");
  QApplication::processEvents();
  saveRender(window_.grab().toImage(), "financials-panel-empty.png");
}

TEST_F(FinancialsControllerTest, PaymentSheetCancelledAndConfirmed) {
  KVRReport* june = panel_->panel().selectedReport();
  ASSERT_NE(june, nullptr);
  EXPECT_TRUE(panel_->reportStateCell(0)->isChecked());
  EXPECT_EQ(panel_->reportStateLabel()->text(), "Estimated revenues for this report: 12.20 €");

  // Cancelled: the cells go back to the report's state, nothing stored.
  panel_->reportStateCell(1)->click();
  KVRRealIncomeSheet* sheet = panel_->reportRealIncomeSetPanel();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_EQ(sheet->parentWidget(), &window_);
  EXPECT_EQ(sheet->amountField()->text(), "12.20 €");
  EXPECT_EQ(sheet->accountPopup()->currentText(), "Pelliro Business EUR");
  sheet->cancelButton()->click();
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_TRUE(panel_->reportStateCell(0)->isChecked());
  EXPECT_FALSE(panel_->reportStateCell(1)->isChecked());
  EXPECT_EQ(june->status, 0);

  // An unreadable amount keeps the sheet open with the reason.
  panel_->reportStateCell(1)->click();
  sheet->amountField()->setText("twelve");
  sheet->okButton()->click();
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_TRUE(sheet->messageLabel()->isVisible());
  EXPECT_EQ(sheet->messageLabel()->text(), "“twelve” is not an amount. Type it as 1,234.56.");
  EXPECT_EQ(june->status, 0);
  QApplication::processEvents();
  saveRender(window_.grab().toImage(), "financials-panel-sheet-owner.png");
  saveRender(sheet->grab().toImage(), "financials-panel-sheet.png");

  sheet->amountField()->setText("12.50 €");
  sheet->datePicker()->setDate(QDate(2011, 8, 3));
  sheet->okButton()->click();
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_TRUE(panel_->reportStateCell(1)->isChecked());
  EXPECT_EQ(panel_->reportStateLabel()->text(),
            "Pointed revenues for this report: 12.50 €\nOn account Pelliro Business EUR, on Aug 3, 2011");
  EXPECT_EQ(june->status, 1);
  EXPECT_FLOAT_EQ(june->pointedIncome, 12.5f);
  EXPECT_FALSE(dm().hasChanges());
  EXPECT_TRUE(alerts_.isEmpty());
}

TEST_F(FinancialsControllerTest, PartnersAndCostsSheet) {
  EXPECT_TRUE(panel_->addPartnerCostButton()->isEnabled());
  EXPECT_EQ(panel_->partnersCostsTable()->rowCount(), 0);
  panel_->addPartnerCostButton()->click();
  KVRPartnerCostSheet* sheet = panel_->partnerCostAddPanel();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_EQ(sheet->parentWidget(), &window_);
  sheet->setPartnerCostAddSelection(1);
  sheet->partnerLabel()->setText("Studio Nord");
  sheet->partnerRoyalties()->setText("thirty");
  sheet->okButton()->click();
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->messageLabel()->text(),
            "“thirty” is not a share. Type the royalties as a share from 0 to 1, such as 0.35.");
  sheet->partnerRoyalties()->setText("0.3");
  sheet->okButton()->click();
  EXPECT_FALSE(sheet->isVisible());
  ASSERT_EQ(panel_->partnersCostsTable()->rowCount(), 1);
  EXPECT_EQ(panel_->partnersCostsTable()->item(0, 1)->text(), "Studio Nord");
  EXPECT_EQ(panel_->partnersCostsTable()->item(0, 3)->text(), "0.3");
  // The sheet keeps its fields for the next one.
  panel_->addPartnerCostButton()->click();
  EXPECT_EQ(sheet->partnerLabel()->text(), "Studio Nord");
  sheet->reject();

  // Two products: no single product to add to.
  selection_.selectProducts({app, product(soft, 1002)});
  panel_->selectedProductDidChange();
  EXPECT_FALSE(panel_->addPartnerCostButton()->isEnabled());
  EXPECT_EQ(panel_->partnersCostsTable()->rowCount(), 0);
}

TEST_F(FinancialsControllerTest, OnTheStatementsScreenTheReportsFollowEachRebuild) {
  // A copy from another vendor's archive, which the rebuild puts aside.
  KVRReport* copy = financial(soft, "0611_US.txt", day(2011, 5, 29));
  copy->filename = "Zuvo-0611_US.txt";
  line(copy, app, 1, 99, "USD");
  app->resetFinancialReports();
  QString error;
  ASSERT_TRUE(dm().save(&error)) << error.toStdString();

  KVRVortelyReportsController reports(&selection_);
  KVRFinancialScreen screen(&reports);
  screen.resize(1200, 680);
  screen.show();
  reports.awakeFromNib();
  screen.finishAnimations();
  screen.showPage(1);
  KVRVortelyFinancialsController* panel = screen.financialController();
  ASSERT_EQ(reports.financialController(), panel);
  EXPECT_EQ(panel->reportsPopup()->currentText(), "No financial report");

  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelySelectedProductDidChange);
  EXPECT_EQ(panel->reportsPopup()->count(), 2);
  EXPECT_EQ(panel->reportsPopup()->itemText(0), "0611_EU.txt (May 29, 2011-Jul 2, 2011)");
  EXPECT_EQ(panel->reportsPopup()->itemText(1), "0711_EU.txt (Jul 3, 2011-Jul 30, 2011)");
  EXPECT_EQ(panel->reportsTotalSales()->text(), "20");
  EXPECT_EQ(screen.shownPage(), 1);
}

TEST_F(FinancialsControllerTest, EveryLineColumnShowsItsWholeTextInTheSmallestWindow) {
  // Nine-digit amounts of both signs, one in a currency written by its code,
  // every long line type, a long product name and more lines than the table
  // shows at once.
  converter().setRate("CHF", "EUR", 0.9);
  const QString longName = "Skyline Sketch Professional Edition for Architects and Interior Designers";
  app->name = longName;
  KVRReport* autumn = financial(soft, "1111_EU.txt", day(2011, 9, 28));
  autumn->endDate = day(2011, 11, 30);
  auto add = [&](int count, int income, const char* currency, int type) {
    KVRReportEntry* e = line(autumn, app, count, income, currency);
    e->type = type;
    e->endDate = autumn->endDate;
    e->country = "GB";
  };
  add(999999, 99999, "EUR", KVREntryTypeInAppPurchase);
  add(-999999, 99999, "EUR", KVREntryTypeRefund);
  add(-999999, 99999, "CHF", KVREntryTypeSale);
  for (int type : {KVREntryTypeWithholdingTax, KVREntryTypeReconciliation, KVREntryTypePriorBalance,
                   KVREntryTypeCurrentMonth, KVREntryTypeGstJctTax})
    add(1, 100, "EUR", type);
  for (int i = 0; i < 30; ++i) add(1, 70, "EUR", KVREntryTypeSale);
  app->resetFinancialReports();
  QString error;
  ASSERT_TRUE(dm().save(&error)) << error.toStdString();

  // The main window's split: the product list, then the statements screen.
  QSplitter window(Qt::Horizontal);
  auto* list = new QTreeView;
  list->setMinimumWidth(200);
  window.addWidget(list);
  auto* screen = new KVRFinancialScreen(nullptr);
  window.addWidget(screen);
  window.setStretchFactor(1, 1);
  window.show();
  screen->finishAnimations();
  screen->showPage(1);
  KVRVortelyFinancialsController* panel = screen->financialController();
  panel->selectedProductDidChange();

  QTableView* table = panel->reportsTableView();
  QHeaderView* header = table->horizontalHeader();
  const QAbstractItemModel* model = table->model();
  ASSERT_EQ(model->rowCount(), 43);
  // What the header itself asks for its titles, with the sort arrow in the
  // columns a click sorts (Qt counts the arrow in every title while one shows).
  std::vector<int> titleWidths;
  for (int c = 0; c < model->columnCount(); ++c) titleWidths.push_back(header->sectionSizeHint(c));
  panel->sortByColumn(KVRVortelyFinancialsController::DateColumn);
  titleWidths[KVRVortelyFinancialsController::DateColumn] = header->sectionSizeHint(KVRVortelyFinancialsController::DateColumn);
  panel->sortByColumn(KVRVortelyFinancialsController::IncomeColumn);
  titleWidths[KVRVortelyFinancialsController::IncomeColumn] = header->sectionSizeHint(KVRVortelyFinancialsController::IncomeColumn);

  const QFontMetricsF metrics(table->font());
  const int margins = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
  // The smallest window (1200 by 730) and a wide one.
  for (auto [width, height, below] : {std::tuple{1200, 660, true}, {1480, 830, false}}) {
    SCOPED_TRACE(width);
    window.resize(width, height);
    window.setSizes({240, width - 240});
    QApplication::processEvents();
    EXPECT_EQ(panel->sidePanelBelow(), below);
    // Every column in view, none beyond the table's edge.
    EXPECT_LE(header->length(), table->viewport()->width());
    EXPECT_FALSE(table->horizontalScrollBar()->isVisible());
    for (int c = 0; c < model->columnCount(); ++c) {
      if (c == KVRVortelyFinancialsController::ProductColumn) continue;
      EXPECT_GE(header->sectionSize(c), titleWidths[size_t(c)]) << model->headerData(c, Qt::Horizontal).toString().toStdString();
      for (int r = 0; r < model->rowCount(); ++r) {
        const QString text = model->index(r, c).data().toString();
        EXPECT_LE(std::ceil(metrics.horizontalAdvance(text)) + margins, header->sectionSize(c)) << text.toStdString();
      }
    }
    // The product's name takes what is left: a word or more, the whole name
    // in the tooltip.
    EXPECT_GE(header->sectionSize(KVRVortelyFinancialsController::ProductColumn), 120);
    EXPECT_EQ(model->index(0, KVRVortelyFinancialsController::ProductColumn).data(Qt::ToolTipRole).toString(), longName);
    saveRender(window.grab().toImage(), QStringLiteral("financials-panel-lines-%1.png").arg(width));
  }
}

// Issue: a click in the product list changed the store, the hidden panel
// taking the first report's estimate at each statement rebuild. The panel
// reads nothing while its page is hidden; the estimate is stored when the
// user opens the page that shows the report.
TEST_F(FinancialsControllerTest, SelectingWithTheReportLinesPageHiddenLeavesTheStoreUnchanged) {
  KVRReport* june = panel_->panel().selectedReport();
  ASSERT_NE(june, nullptr);
  KVRVortelyManagedProduct* other = product(soft, 1002);
  QString error;
  ASSERT_TRUE(dm().saveReportState(june, {KVRReportStatusNotConverted, -1.0f, KVRDate(), QString()}, &error))
      << error.toStdString();
  ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  auto reportTable = [this] {
    SQLite::Database db(storePath().toStdString(), SQLite::OPEN_READONLY);
    SQLite::Statement q(db, "SELECT * FROM Report ORDER BY 1");
    std::string rows;
    while (q.executeStep())
      for (int c = 0; c < q.getColumnCount(); ++c) rows += q.getColumn(c).getString() + (c + 1 < q.getColumnCount() ? "|" : "\n");
    return rows;
  };
  const std::string before = reportTable();

  KVRVortelyReportsController reports(&selection_);
  reports.setDatabaseSaver([](QString* e) { return dm().save(e); });
  KVRFinancialScreen screen(&reports);
  screen.resize(1200, 680);
  screen.show();
  reports.awakeFromNib();
  screen.finishAnimations();
  ASSERT_EQ(screen.shownPage(), 0);
  KVRVortelyFinancialsController* panel = screen.financialController();
  for (auto products : {std::vector<KVRVortelyManagedProduct*>{app, other},
                        std::vector<KVRVortelyManagedProduct*>{app}}) {
    selection_.selectProducts(products);
    KVRNotificationCenter::defaultCenter().postNotification(KVRVortelySelectedProductDidChange);
    QApplication::processEvents();
  }
  EXPECT_EQ(reports.rebuildCount(), 2);
  EXPECT_TRUE(panel->refreshPending());
  EXPECT_EQ(june->status, KVRReportStatusNotConverted);
  EXPECT_FALSE(dm().hasChanges());
  EXPECT_EQ(reportTable(), before);

  // The user opens the page: the first report is shown with its estimate.
  screen.showPage(1);
  QApplication::processEvents();
  EXPECT_FALSE(panel->refreshPending());
  EXPECT_EQ(panel->reportsPopup()->currentText(), "0611_EU.txt (May 29, 2011-Jul 2, 2011)");
  EXPECT_EQ(june->status, KVRReportStatusEstimated);
  EXPECT_EQ(panel->reportStateLabel()->text(), "Estimated revenues for this report: 12.20 €");
  EXPECT_NE(reportTable(), before);
}
