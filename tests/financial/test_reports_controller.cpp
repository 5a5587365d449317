// The reports controller on a small store: the rebuild and what it keeps, the
// month window, the currency mode and its user default, the report browser,
// the print title; then the screen walked as a user would, offscreen.
#include <QAction>
#include <QFileInfo>
#include <QGraphicsEffect>
#include <QTemporaryDir>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>

#include "core/KVRFormatters.h"
#include "core/KVRNotifications.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRFinancialTexts.h"
#include "financial/KVRFinancialWidgets.h"
#include "financial/KVRPrintViewFinancial.h"
#include "platform/KVRPrintInfo.h"
#include "financial/KVRVortelyReportsController.h"
#include "graphs/KVRVortelyBarGraphView.h"
#include "graphs/KVREvolutionView.h"
#include "graphs/KVRSegmentedControl.h"
#include "platform/KVRNotificationCenter.h"
#include "core/fake_selection.h"
#include "statement_fixture.h"

namespace {

class ReportsTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    KVRResetMonthCaptionLocale(QStringLiteral("en_US"));
    KVRUserDefaults::standard().removeObjectForKey(QStringLiteral("KVRVortelyFinancialSelectedCurrency"));
    services.install();
  }
  void TearDown() override {
    services.uninstall();
    KVRUserDefaults::standard().removeObjectForKey(QStringLiteral("KVRVortelyFinancialSelectedCurrency"));
    KVRFormatters::shared().resetLocale();
    KVRResetMonthCaptionLocale();
    StatementTest::TearDown();
  }

  // The account selected in the product list, as a click on its row.
  void selectAccount(KVRStoreAccount* a) {
    services.selected.clear();
    services.extended = a->products;
    services.accounts = {a};
    services.accountSelected = true;
    KVRNotificationCenter::defaultCenter().postNotification(KVRVortelySelectedProductDidChange);
  }
  void selectProducts(std::vector<KVRVortelyManagedProduct*> products) {
    services.selectProducts(products);
    services.accounts = {products.front()->account};
    services.accountSelected = false;
    KVRNotificationCenter::defaultCenter().postNotification(KVRVortelySelectedProductDidChange);
  }
  std::unique_ptr<KVRVortelyReportsController> makeController() {
    auto c = std::make_unique<KVRVortelyReportsController>(&services);
    c->setDatabaseSaver([](QString* error) { return dm().save(error); });
    c->setFinancialAccountsProvider([] {
      return std::vector<KVRFinancialAccount>{{"Business EUR", "", "", "", "", "EUR", false}};
    });
    c->setClock([] { return kNow; });
    return c;
  }
  // Six months of the US region, January to June 2011: 100, 110, ... euros.
  void sixMonths() {
    for (int m = 1; m <= 6; ++m)
      line(financial(soft, QStringLiteral("V_%1_US.txt").arg(m), day(2011, m, 1)), app, 1, 10000 + 1000 * (m - 1), "EUR");
  }

  FakeSelection services;
};

const KVRFinancialValue* regionCell(const KVRVortelyReportsController& c, int row, int column) {
  return c.grid().value(KVRFinancialGrid::indexOf(row, column + 1));
}

}  // namespace

TEST_F(ReportsTest, RebuildShowsTheLastMonthsAndKeepsTheMonthOnShow) {
  sixMonths();
  auto c = makeController();
  c->awakeFromNib();
  selectAccount(soft);
  EXPECT_EQ(c->rebuildCount(), 1);
  EXPECT_EQ(c->selectedMonth(), 3);  // April to June
  EXPECT_EQ(c->grid().captions[0], "Apr 2011");
  // The first cell is selected: a title cell, so the panel is empty.
  EXPECT_EQ(c->selectedFinancialsValues(), KVRIndexSet{0});
  EXPECT_EQ(c->details().title, "");
  EXPECT_EQ(c->incomesTitle(), "2011 incomes for Pelliro Soft");

  // The month on show and the selected position stay through a rebuild.
  c->previousMonth();
  c->setSelectedFinancialsValues({KVRFinancialGrid::indexOf(KVRRegionRowUS, 1)});
  EXPECT_EQ(c->details().title, "Mar 2011-USA");
  selectAccount(soft);
  EXPECT_EQ(c->selectedMonth(), 2);
  EXPECT_EQ(c->details().title, "Mar 2011-USA");
  EXPECT_EQ(c->trend().title, "+ 10.00 €");

  // The trend of a selected total follows the new figures at once.
  c->setSelectedFinancialsValuesAll({1});
  EXPECT_EQ(c->trend().title, "+ 10.00 €");
  line(financial(soft, "V_7_EU.txt", day(2011, 4, 1)), app, 1, 5000, "EUR");
  app->resetFinancialReports();  // as the data rebuild after an import does
  selectAccount(soft);
  EXPECT_TRUE(c->allSelectedFlag());
  EXPECT_EQ(c->trend().title, "+ 60.00 €");
  EXPECT_FLOAT_EQ(c->fixedIncomes()[3], 180.0f);
  EXPECT_FLOAT_EQ(c->financialsArray()[0].income, 100 + 110 + 120 + 130 + 140 + 150 + 50.0f);
}

TEST_F(ReportsTest, YearsAndAndroidReportsInAnyTimeZone) {
  // Auckland: the first instant of April is 31 March, 11:00 GMT.
  KVRCalendar::shared().resetTimeZone(QStringLiteral("Pacific/Auckland"));
  KVRStoreAccount* droid = account("Android Pelliro");
  KVRVortelyManagedProduct* compass = product(droid, 7100000001);
  line(financial(droid, "Earnings_201104.txt", day(2011, 3, 27)), compass, 2, 300, "EUR");
  line(financial(droid, "Earnings_201002.txt", day(2010, 1, 27)), compass, 1, 300, "EUR");
  auto c = makeController();
  c->awakeFromNib();
  selectAccount(droid);
  // The Android report answers for every region of its month.
  EXPECT_NE(c->financialReportForMonth({2011, 4}, u"JP"), nullptr);
  EXPECT_EQ(regionCell(*c, KVRRegionRowEU, 1)->kind, KVRFinancialCellKind::month);
  EXPECT_EQ(regionCell(*c, KVRRegionRowEU, 1)->income, "6.00 €");
  EXPECT_EQ(regionCell(*c, KVRRegionRowJP, 1)->income, "0.00 €");

  // Another year of the pop-up shows its totals; a year the statement does
  // not have keeps the table on show.
  EXPECT_FLOAT_EQ(c->financialsArray()[KVRRegionRowEU].income, 6.0f);
  c->selectYear(2010);
  EXPECT_FLOAT_EQ(c->financialsArray()[KVRRegionRowEU].income, 3.0f);
  EXPECT_EQ(c->incomesTitle(), "2010 incomes for Android Pelliro");
  c->selectYear(1999);
  EXPECT_FLOAT_EQ(c->financialsArray()[KVRRegionRowEU].income, 3.0f);
  EXPECT_EQ(c->incomesTitle(), "Incomes");
}

TEST_F(ReportsTest, MonthWindowNavigation) {
  sixMonths();
  auto c = makeController();
  c->awakeFromNib();
  selectAccount(soft);
  c->nextMonth();
  EXPECT_EQ(c->selectedMonth(), 3);  // already the last three
  c->jumpToMonth(1);                 // February of the year on show
  EXPECT_EQ(c->selectedMonth(), 1);
  c->jumpToMonth(8);                 // September, after every record: the last three
  EXPECT_EQ(c->selectedMonth(), 3);
  c->previousMonth();
  c->previousMonth();
  c->previousMonth();
  c->previousMonth();
  EXPECT_EQ(c->selectedMonth(), 0);
  EXPECT_EQ(c->compsForIndex(0), (KVRMonthKey{2011, 1}));
  EXPECT_EQ(c->indexForRegionCode(u"HK"), 8);
  EXPECT_EQ(c->indexForRegionCode(u"XX"), -1);
  // The reports of the months on show, each once.
  EXPECT_EQ(c->visibleDatesReports().size(), 3u);
  EXPECT_EQ(c->financialReportForMonth({2011, 2}, u"US"), c->visibleDatesReports()[1]);
}

TEST_F(ReportsTest, CurrencyModeIsKeptAndAStrangeStoredOneReadsAsTheFirst) {
  sixMonths();
  KVRUserDefaults::standard().setInteger(QStringLiteral("KVRVortelyFinancialSelectedCurrency"), 7);
  auto c = makeController();
  c->awakeFromNib();
  EXPECT_EQ(c->currencyMode(), KVRCurrencyModePreferred);
  selectAccount(soft);
  const int us = KVRFinancialGrid::indexOf(KVRRegionRowUS, 3);
  c->setSelectedFinancialsValues({us});
  c->setCurrencyMode(KVRCurrencyModeUnits);
  EXPECT_EQ(KVRUserDefaults::standard().integerForKey(QStringLiteral("KVRVortelyFinancialSelectedCurrency")), 2);
  EXPECT_EQ(regionCell(*c, KVRRegionRowUS, 2)->income, "1");
  EXPECT_EQ(c->selectedFinancialsValues(), KVRIndexSet{us});
  EXPECT_EQ(c->details().title, "Jun 2011-USA");
  // Units never reach the money figures of a total.
  c->setSelectedFinancialsValuesAll({2});
  EXPECT_EQ(c->details().income, "150.00 €");
  EXPECT_EQ(c->trend().title, "--");  // one unit each month
}

TEST_F(ReportsTest, ReportBrowserAndPrintTitle) {
  sixMonths();
  KVRVortelyManagedProduct* game = product(soft, 1002);
  auto c = makeController();
  int tabs = -1;
  c->setTabSelector([&](int tab) { tabs = tab; });
  c->awakeFromNib();
  selectProducts({app, game});
  const int rebuilds = c->rebuildCount();
  c->changeFilteredRegion(17);
  EXPECT_EQ(c->region().value_or(""), "HK");
  c->changeFilteredRegion(17);
  EXPECT_EQ(c->rebuildCount(), rebuilds + 1);
  c->changeFilteredRegion(18);
  EXPECT_FALSE(c->region().has_value());
  c->setReportDate(c->reportDate());
  EXPECT_EQ(c->rebuildCount(), rebuilds + 2);

  QMenu menu;
  QAction* items[3];
  for (int i = 0; i < 3; ++i) {
    items[i] = menu.addAction(QStringLiteral("Type %1").arg(i));
    items[i]->setData(i);
  }
  menu.addSeparator();
  QAction* other = menu.addAction(QStringLiteral("Other"));
  c->menuSetReportType(items[2]);
  EXPECT_TRUE(items[2]->isChecked());
  EXPECT_FALSE(items[0]->isChecked());
  EXPECT_FALSE(other->isCheckable());
  EXPECT_EQ(c->reportType(), 3);
  EXPECT_EQ(tabs, 3);

  EXPECT_EQ(c->printTitle(), "Financial Report for multiple selection");
  selectProducts({app});
  EXPECT_EQ(c->printTitle(), "Financial Report for Product 1001");
  EXPECT_EQ(c->reportTypesValues().back().Label, "Financial");
}

// ---------------------------------------------------------------------------
// The screen, walked as a user would.

namespace {

void click(QWidget* w, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

void clickCell(KVRFinancialGridView* grid, int record) {
  click(grid->viewport(), grid->cellRect(record).center());
}

QString header(KVRFinancialGridView* grid, int column) {
  return grid->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

QString shown(KVRFinancialGridView* grid, int record) {
  return grid->model()->data(grid->gridModel()->modelIndex(record), Qt::DisplayRole).toString();
}

}  // namespace

TEST_F(ReportsTest, ScreenWalk) {
  converter().setRate("JPY", "EUR", 0.008);
  sixMonths();
  // Japan in May and June; June's yen payment received in euros.
  line(financial(soft, "V_5_JP.txt", day(2011, 5, 1)), app, 2, 500000, "JPY");
  line(financial(soft, "V_6_JP.txt", day(2011, 6, 1)), app, 3, 500000, "JPY");
  reconcile(payment(soft, "JP", day(2011, 6, 1), 1500000, "JPY"), 118.0f, "EUR", "Business EUR");
  // May's dollars are paid, not reconciled yet.
  payment(soft, "US", day(2011, 5, 1), 14000, "USD");

  auto c = makeController();
  KVRFinancialScreen screen(c.get());
  screen.resize(1200, 680);
  screen.show();
  c->awakeFromNib();
  screen.finishAnimations();
  // The options bar has closed up over the statement, which has faded in.
  EXPECT_EQ(screen.reportsTableViewBox()->maximumHeight(), QWIDGETSIZE_MAX);
  EXPECT_EQ(screen.financialsBox()->graphicsEffect(), nullptr);
  EXPECT_EQ(screen.trendView()->caption()->text(), "Monthly trend");
  EXPECT_EQ(screen.currencyControl()->labelForSegment(0), "EUR");

  selectAccount(soft);
  KVRFinancialGridView* grid = screen.regionGrid();
  EXPECT_EQ(header(grid, 1), "Apr 2011");
  EXPECT_EQ(header(grid, 3), "Jun 2011");
  EXPECT_FALSE(screen.nextMonthButton()->isEnabled());
  EXPECT_EQ(screen.availableYears()->currentText(), "2011");

  // June in Japan: reconciled at 118 € for 120 € announced.
  const int jpJune = KVRFinancialGrid::indexOf(KVRRegionRowJP, 3);
  clickCell(grid, jpJune);
  EXPECT_EQ(c->selectedFinancialsValues(), KVRIndexSet{jpJune});
  EXPECT_EQ(shown(grid, jpJune), "118.00 €");
  KVRFinancialDetailsPanel* panel = screen.detailsPanel();
  EXPECT_EQ(panel->financialValueTitle()->text(), "Jun 2011-Japan");
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: payment received");
  EXPECT_EQ(panel->financialValueReconcileButton()->text(), "Reconcile");
  EXPECT_TRUE(panel->financialValueReconcileButton()->isEnabled());
  EXPECT_EQ(panel->financialValueReconcileValue()->text(), "118.00 €");
  EXPECT_EQ(screen.trendView()->dayVariation()->texts().currentDayValueRight, "118.00 €");
  // The badge of a reconciled payment is green-yellow.
  const QImage shot = grid->viewport()->grab().toImage();
  const QRect cell = grid->cellRect(jpJune);
  const QColor badge = shot.pixelColor(cell.right() - 5, cell.center().y() - cell.height() / 4);
  EXPECT_GT(badge.green(), 180);
  EXPECT_LT(badge.blue(), 60);

  // The local currency: yen in the region cells, euros in the totals.
  click(screen.currencyControl(), screen.currencyControl()->segmentRect(1).center().toPoint());
  EXPECT_EQ(c->currencyMode(), KVRCurrencyModeLocal);
  EXPECT_EQ(shown(grid, jpJune), "15,000.00 ¥");
  EXPECT_EQ(screen.totalsGrid()->model()->data(screen.totalsGrid()->model()->index(0, 3)).toString(), "268.00 €");
  EXPECT_EQ(panel->financialValueTitle()->text(), "Jun 2011-Japan");

  // May in the US: the payment advice waits for its reconciliation.
  click(screen.currencyControl(), screen.currencyControl()->segmentRect(0).center().toPoint());
  const int usMay = KVRFinancialGrid::indexOf(KVRRegionRowUS, 2);
  clickCell(grid, usMay);
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: payment advise received, waiting for reconciliation");
  EXPECT_TRUE(panel->financialValueLabel()->text().startsWith("Total payment amount: 140.00 € (140.00 $)"));

  // April in Europe: no report; April in the US: "Create Payment", wider.
  clickCell(grid, KVRFinancialGrid::indexOf(KVRRegionRowEU, 1));
  EXPECT_EQ(panel->financialValueStatus()->text(), "Status: waiting for financial report");
  EXPECT_TRUE(panel->financialValueReconcileButton()->isHidden());
  clickCell(grid, KVRFinancialGrid::indexOf(KVRRegionRowUS, 1));
  EXPECT_EQ(panel->financialValueReconcileButton()->text(), "Create Payment");
  EXPECT_EQ(panel->financialValueReconcileButton()->width(), KVRFinancialDetailsPanel::kReconcileWidth + 25);

  // A month back: the same position, the month before.
  click(screen.previousMonthButton(), QPoint(5, 5));
  EXPECT_EQ(header(grid, 1), "Mar 2011");
  EXPECT_EQ(panel->financialValueTitle()->text(), "Mar 2011-USA");
  EXPECT_TRUE(screen.nextMonthButton()->isEnabled());

  // A total: the region selection is cleared, the trend compares all regions.
  clickCell(screen.totalsGrid(), 2);
  EXPECT_TRUE(c->allSelectedFlag());
  EXPECT_TRUE(grid->selectionModel()->selectedIndexes().isEmpty());
  EXPECT_TRUE(panel->financialValueStatus()->isHidden());
  EXPECT_EQ(screen.trendView()->dayVariation()->texts().currentDayValueLeft, "130.00 €");   // April
  EXPECT_EQ(screen.trendView()->dayVariation()->texts().currentDayValueRight, "220.00 €");  // May: 140 + 10,000 yen at 0.008
  EXPECT_TRUE(panel->financialValueReconcileButton()->isHidden());

  // The bar chart and the regions table show the year totals.
  const KVRBarChartSnapshot chart = screen.revenuesGraph()->collect();
  ASSERT_EQ(chart.parts.size(), 19u);
  EXPECT_EQ(chart.parts[KVRRegionRowJP].legend, "JP");
  EXPECT_EQ(screen.revenuesTable()->model()->data(screen.revenuesTable()->model()->index(18, 0)).toString(), "All Regions");
  EXPECT_EQ(screen.incomesTitle()->text(), "2011 incomes for Pelliro Soft");

  // The print shows the same texts as the screen.
  QTemporaryDir out;
  KVRPrintInfo info = KVRPrintInfo::shared();
  const KVRPrintInfo saved = info;
  info.outputPdfPath = out.filePath("statement.pdf");
  KVRPrintInfo::setShared(info);
  QString error;
  EXPECT_TRUE(c->print(&error)) << error.toStdString();
  KVRPrintInfo::setShared(saved);
  EXPECT_GT(QFileInfo(out.filePath("statement.pdf")).size(), 0);
  EXPECT_EQ(c->printView()->titleLabel()->text(), "Financial Report for Pelliro Soft");
  auto* printedTrend = dynamic_cast<KVRFinancialTrendView*>(c->printView()->tableView2()->content());
  ASSERT_NE(printedTrend, nullptr);
  EXPECT_EQ(printedTrend->dayVariation()->texts(), screen.trendView()->dayVariation()->texts());
  EXPECT_EQ(printedTrend->dayVariation()->style(), KVREvolutionStyle::print);
}

// A screen that is not on show reads nothing: the selections made meanwhile
// come to one rebuild when it is shown, of the last selection.
TEST_F(ReportsTest, AHiddenScreenIsRebuiltOnceWhenShownWithTheLastSelection) {
  sixMonths();
  KVRStoreAccount* nord = account("Nord Labs");
  line(financial(nord, "N_1_US.txt", day(2012, 9, 1)), product(nord, 2001), 1, 5000, "EUR");
  auto c = makeController();
  // The statements behind another page of the window.
  QStackedWidget pages;
  pages.resize(1200, 680);
  pages.addWidget(new QWidget);
  auto* screen = new KVRFinancialScreen(c.get());
  pages.addWidget(screen);
  pages.show();
  c->awakeFromNib();

  selectAccount(nord);
  selectProducts({app});
  EXPECT_EQ(c->rebuildCount(), 0);
  EXPECT_TRUE(c->rebuildPending());
  EXPECT_EQ(screen->availableYears()->count(), 0);

  pages.setCurrentWidget(screen);
  screen->finishAnimations();
  EXPECT_EQ(c->rebuildCount(), 1);
  EXPECT_FALSE(c->rebuildPending());
  ASSERT_EQ(screen->availableYears()->count(), 1);
  EXPECT_EQ(screen->availableYears()->currentText(), "2011");
  EXPECT_EQ(header(screen->regionGrid(), 1), "Apr 2011");
  EXPECT_EQ(c->incomesTitle(), "2011 incomes for Product 1001");
  // Shown again without a new selection: nothing to do.
  pages.setCurrentIndex(0);
  pages.setCurrentWidget(screen);
  EXPECT_EQ(c->rebuildCount(), 1);
}
