// The overview screen: a display record put into the widgets, the boxes, the
// controls' state the graphs read, and a render to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeView>
#include <chrono>
#include <future>

#include "graphs/KVRFittingLabel.h"
#include "graphs/KVRVortelyCamembertGraphView.h"
#include "graphs/KVRVortelyCounterView.h"
#include "graphs/KVRVortelyGraphView.h"
#include "overview/KVROverviewScreen.h"
#include "overview/KVROverviewTypes.h"
#include "overview/KVRVortelyResumeController.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRMainThread.h"
#include "test_presenter_sample.h"

using namespace display_test;

namespace {

void saveRender(const QImage& image, const QString& name) {
  const char* dir = std::getenv("VORTELY_RENDER_DIR");
  if (!dir || !*dir) return;
  QDir().mkpath(QString::fromLocal8Bit(dir));
  image.save(QString::fromLocal8Bit(dir) + u'/' + name);
}

}  // namespace

TEST(OverviewScreen, ShowsTheRecordAndTheBoxes) {
  AppScope scope;
  Sample s;
  makeSample(s);
  scope.app.extended = s.products;
  scope.app.selected = s.products;
  scope.app.accounts = {s.store.accounts.front().get()};
  for (auto* p : s.products) p->publishValues(std::make_shared<KVRProductValues>(), 1200, 300, 2450.5f);

  KVROverviewScreen screen(nullptr);
  screen.resize(1280, 820);
  screen.selectValueTag(4);
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  screen.showDisplay(d);
  screen.updateBoxes();
  screen.setProductNameLabel(QStringLiteral("Multiple products"));
  screen.setTrendLabel(QStringLiteral("Monthly trend"));
  screen.updateCamembertViewWithAnimation(false);

  EXPECT_EQ(screen.label("salesDatesLabel")->text(), d.salesText);
  EXPECT_EQ(screen.label("graphLabel")->text(), "All Regions Revenues");
  EXPECT_EQ(screen.label("camembertDownloadsLabel")->text(), "Sales");
  EXPECT_EQ(screen.dayVariation()->shownText(), d.evolution.title);
  EXPECT_FLOAT_EQ(screen.counterView()->floatValue(), KVRVortelyCounterView::roundedToCents(d.counterValue));
  EXPECT_EQ(screen.label("accountNameLabel")->text(), "Pelliro Labs");
  EXPECT_EQ(screen.label("productTotalSalesLabel")->text(), "3600");
  EXPECT_EQ(screen.label("revenuesLabel")->text(), "Revenues (€)");

  // The graph and the charts draw from the same record.
  const KVRGraphSnapshot g = KVRVortelyGraphView::collect(*screen.lastWeekGraph()->dataSource());
  ASSERT_EQ(g.curves.size(), 1u);
  EXPECT_EQ(g.numberOfPoints, 28);
  EXPECT_EQ(g.valueLabelFormat.value_or(QString()), "%@ €");
  const KVRPartChartSnapshot c = screen.downloadsCamembert()->collect();
  EXPECT_EQ(int(c.parts.size()), d.downloadsPerProduct.count());

  // Per-product curves once the by-product segment is chosen.
  screen.selectCombineSegment(1);
  EXPECT_EQ(KVRVortelyGraphView::collect(*screen.lastWeekGraph()->dataSource()).curves.size(), 3u);
  screen.selectCombineSegment(0);

  screen.showPeriodTag(2);
  screen.setStartPickerDate(s.input.graphStartDate);
  screen.setEndPickerDate(s.input.graphEndDate);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 700) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);  // the counters roll
  saveRender(screen.grab().toImage(), QStringLiteral("overview-screen.png"));

  // The print command's captions come from the same screen.
  scope.app.accountSelected = true;
  const KVROverviewPrintCaptions pc = screen.printCaptions();
  EXPECT_EQ(pc.displayKind, "Revenues");
  EXPECT_EQ(pc.displayRegion, "All Regions");
  EXPECT_EQ(pc.displayView, "Daily, Combined");
  EXPECT_FALSE(pc.hideByProduct);
  EXPECT_EQ(pc.kindLabel, "Sales");
  EXPECT_EQ(pc.printTitle, "Overview Report for Pelliro Labs, from 2/9/26 to 3/8/26");

  // The curve graph draws again when the controls change what it shows.
  QWidget* graph = screen.lastWeekGraph();
  const QImage daily = graph->grab().toImage();
  screen.selectCumulativeSegment(1);
  EXPECT_NE(graph->grab().toImage(), daily);
  screen.selectCumulativeSegment(0);
  EXPECT_EQ(graph->grab().toImage(), daily);

  // A reload clears the curves and the charts on screen; a print made
  // meanwhile still shows the last complete record.
  screen.clearCurvesAndCharts();
  EXPECT_FALSE(screen.hasPerProductCurves());
  EXPECT_EQ(screen.display().downloadsPerProduct.count(), 0);
  EXPECT_EQ(screen.display().salesText, d.salesText);
  EXPECT_EQ(screen.display().pointsInCurve.size(), d.pointsInCurve.size());
  const KVROverviewPrintJob job = screen.printJob();
  EXPECT_EQ(job.display.curves.size(), d.curves.size());
  EXPECT_EQ(job.display.downloadsPerProduct.count(), d.downloadsPerProduct.count());
  EXPECT_EQ(job.display.salesText, d.salesText);
}

TEST(OverviewScreen, ChartsGrowInTwentySteps) {
  Sample s;
  makeSample(s);
  KVROverviewScreen screen(nullptr);
  screen.showDisplay(KVRMakeOverviewDisplay(s.input));
  screen.updateCamembertViewWithAnimation(true);
  EXPECT_FLOAT_EQ(screen.graphAnimatePercent(), 0.0f);
  EXPECT_TRUE(screen.isAnimatingCharts());
  // Each step grows the bars by a twentieth; the twentieth step ends it.
  int steps = 0;
  while (screen.isAnimatingCharts() && steps < 100) {
    screen.animateCamembertNextStep();
    ++steps;
    const KVRPartChartSnapshot chart = screen.downloadsCamembert()->collect();
    ASSERT_FALSE(chart.parts.empty());
    EXPECT_NEAR(chart.parts.front().ratio, std::min(1.0, 0.05 * steps), 1e-5) << steps;
  }
  EXPECT_EQ(steps, 20);
  EXPECT_EQ(screen.graphAnimatePercent(), 1.0f);
  // The timer runs the same steps on its own.
  screen.updateCamembertViewWithAnimation(true);
  QElapsedTimer t;
  t.start();
  while (screen.isAnimatingCharts() && t.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(screen.graphAnimatePercent(), 1.0f);
}

TEST(OverviewScreen, SplitViewKeepsTheGraphAndTheChartsInTheirRule) {
  KVROverviewScreen screen(nullptr);
  screen.resize(1000, 900);
  screen.show();
  QCoreApplication::processEvents();
  QSplitter* split = screen.splitView();
  ASSERT_EQ(split->count(), 2);
  EXPECT_TRUE(split->widget(0)->isAncestorOf(screen.lastWeekGraph()));
  EXPECT_TRUE(split->widget(1)->isAncestorOf(screen.downloadsCamembert()));
  const int height = split->height();
  ASSERT_GT(height, 500);
  screen.moveSplitDivider(150);  // below 200: 200
  EXPECT_EQ(split->sizes().front(), 200);
  screen.moveSplitDivider(height - 100);  // leaves the charts 250
  EXPECT_EQ(split->sizes().front(), height - 250);
  screen.moveSplitDivider(300);
  EXPECT_EQ(split->sizes().front(), 300);
  screen.hide();
}

TEST(OverviewScreen, OneProductChartsSayTheyListCountries) {
  Sample s;
  makeSample(s, 4, true);
  KVROverviewScreen screen(nullptr);
  screen.showDisplay(KVRMakeOverviewDisplay(s.input));
  for (KVRVortelyCamembertGraphView* chart : {screen.downloadsCamembert(), screen.revenuesCamembert()}) {
    const KVRPartChartSnapshot snap = chart->collect();
    EXPECT_EQ(snap.index, 0);
    EXPECT_TRUE(snap.listsCountries);
    EXPECT_TRUE(snap.firstListsCountries);
    ASSERT_FALSE(snap.parts.empty());
    EXPECT_EQ(snap.parts.back().legend, "United States");
  }
  Sample several;
  makeSample(several);
  screen.showDisplay(KVRMakeOverviewDisplay(several.input));
  EXPECT_FALSE(screen.downloadsCamembert()->collect().listsCountries);
}

TEST(OverviewScreen, ControlsAsTheControllerSeesThem) {
  KVROverviewScreen screen(nullptr);
  screen.setValueItemEnabled(4, false);
  EXPECT_FALSE(screen.isValueItemEnabled(4));
  EXPECT_TRUE(screen.isValueItemEnabled(0));
  screen.selectValueTag(17);
  EXPECT_EQ(screen.selectedValueTag(), 17);
  screen.selectFirstRegionItem();
  EXPECT_EQ(screen.selectedRegionTag(), -1);  // all regions
  screen.setCombineSegmentEnabled(0, false);
  screen.selectCombineSegment(1);
  EXPECT_EQ(screen.combineSelectedSegment(), 1);
  EXPECT_TRUE(screen.controlState().perProduct);
  screen.showPeriodTag(-1);
  EXPECT_EQ(screen.periodMatrixPU()->currentData().toInt(), -1);

  // Dates are never typed: a click on a picker's text opens the calendar.
  screen.show();
  QLineEdit* field = screen.startDatePicker()->findChild<QLineEdit*>();
  ASSERT_NE(field, nullptr);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), field->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(field, &press);
  int calendars = 0;
  QWidget* calendar = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != &screen && w->isVisible()) {
      ++calendars;
      calendar = w;
    }
  ASSERT_EQ(calendars, 1);
  // Right-aligned with the picker, just below it.
  QDateEdit* picker = screen.startDatePicker();
  const QPoint corner = picker->mapToGlobal(QPoint(picker->width(), picker->height()));
  EXPECT_EQ(calendar->geometry().right() + 1, corner.x());
  EXPECT_EQ(calendar->geometry().top(), corner.y());
  EXPECT_TRUE(screen.startDatePicker()->isReadOnly());
  screen.hide();

  // Start of a reload: the per-product curves and the chart data go.
  KVROverviewDisplay d;
  d.curves.resize(2);
  d.downloadsPerProduct.add("A", 1);
  d.downloadsPerProduct.sortKeys();
  screen.showDisplay(d);
  EXPECT_TRUE(screen.hasPerProductCurves());
  screen.clearCurvesAndCharts();
  EXPECT_FALSE(screen.hasPerProductCurves());
  EXPECT_EQ(screen.display().downloadsPerProduct.count(), 0);
}

TEST(OverviewScreen, AdOverviewLooksAtAdFigures) {
  AppScope scope;
  Sample s;
  makeSample(s, 7);
  auto ads = [](KVRTotalsStruct& c) {
    c.iAdSales = c.currency * 0.1f;
    c.impressions = c.sales * 120;
    c.requests = c.impressions * 1.25f;
    c.fillRate = 80 * c.requests;
    c.ctr = 1.5f * c.impressions;
    c.eCPM = 2.1f * c.impressions;
  };
  for (auto& [id, e] : s.current) {
    for (auto& [code, c] : e.byCountry) ads(c);
    for (auto& [date, c] : e.salesByDate) ads(c);
    ads(e.totals);
  }
  for (auto& [id, e] : s.previous) ads(e.totals);
  scope.app.extended = s.products;
  s.input.iAd = true;
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  EXPECT_EQ(d.fillRateText, "80.00 %");
  EXPECT_EQ(d.ctrText, "1.50 %");
  EXPECT_EQ(d.eCPMText, "2.10 €");

  // The iAd overview is the controller with a data provider.
  KVRVortelyResumeController sales(nullptr, &scope.app);
  KVRVortelyResumeController iAd(&sales, &scope.app);
  KVROverviewScreen screen(&iAd, &scope.app);
  EXPECT_TRUE(screen.isIAd());
  EXPECT_EQ(iAd.controls(), &screen);
  screen.resize(1280, 820);
  screen.selectValueTag(7);
  screen.showDisplay(d);
  screen.updateBoxes();
  screen.updateCamembertViewWithAnimation(false);
  EXPECT_EQ(screen.label("fillRateLabel")->text(), "80.00 %");
  EXPECT_EQ(screen.label("graphLabel")->text(), "iAd Revenues");
  EXPECT_FLOAT_EQ(iAd.medianValue(), d.medianValue);
  EXPECT_TRUE(screen.printCaptions().displayRegion.isEmpty());
  // Fits beside the product list in the smallest main window (1200 wide).
  EXPECT_LE(screen.minimumSizeHint().width(), 1000);
  EXPECT_LE(KVROverviewScreen(nullptr).minimumSizeHint().width(), 1000);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 700) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  saveRender(screen.grab().toImage(), QStringLiteral("overview-screen-iad.png"));
}

TEST(OverviewScreen, ALoadOfTheControllerReachesTheScreen) {
  forgetDashboard();
  AppScope scope;
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  // Two products selling one and two units a day in France.
  for (int i = 0; i < 2; ++i)
    scope.app.extended.push_back(frenchSeller(store, 700 + i, i ? "Beta" : "Alpha", acc, 1.0f + float(i)));
  scope.app.selected = scope.app.extended;
  scope.app.accounts = {acc};
  {
    KVRVortelyResumeController sales(nullptr, &scope.app);
    KVROverviewScreen screen(&sales, &scope.app);
    sales.awakeFromNib();
    sales.selectedProductDidChange(true);
    ASSERT_TRUE(sales.waitForLoads(10));
    KVRMainThread::waitUntil([&] { return sales.displayedLoadCount() > 0; }, 5.0);
    ASSERT_GT(sales.displayedLoadCount(), 0u);
    // The daily period: the last report day, and the week before it in the graph.
    const KVROverviewDisplay& d = screen.display();
    EXPECT_EQ(d.sales, 3);
    EXPECT_EQ(screen.label("salesDatesLabel")->text(), "3");
    ASSERT_EQ(d.pointsInCurve.size(), 7u);
    EXPECT_FLOAT_EQ(d.pointsInCurve.back().count, 3);
    EXPECT_EQ(d.curves.size(), 2u);
    EXPECT_EQ(d.downloadsPerProduct.count(), 2);
    EXPECT_EQ(d.reportsDatesText, "3/15/26");
    EXPECT_TRUE(d.showLastDay);

    // The record is built on the load thread for the value of the load's
    // start: a value picked while the load runs is what the screen shows.
    std::promise<void> running, release;
    std::shared_future<void> released = release.get_future().share();
    const uint64_t held = sales.loadRequestCount() + 1;
    sales.setLoadHookForTesting([&running, released, held](uint64_t g, KVRVortelyResumeController::LoadPhase phase) {
      if (g != held || phase != KVRVortelyResumeController::LoadPhase::Running) return;
      running.set_value();
      released.wait();
    });
    std::future<void> started = running.get_future();
    sales.selectedProductDidChange(false);
    KVRMainThread::waitUntil([&] { return started.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                             10.0);
    screen.selectValueTag(1);
    sales.changeSelectedValue(1);
    release.set_value();
    ASSERT_TRUE(sales.waitForLoads(10));
    sales.setLoadHookForTesting({});
    const KVROverviewDisplay& u = screen.display();
    EXPECT_EQ(u.valueTag, 1);
    EXPECT_EQ(u.measureKey, "upgrades");
    EXPECT_EQ(screen.label("camembertDownloadsLabel")->text(), "Upgrades");
    ASSERT_EQ(u.pointsInCurve.size(), 7u);
    EXPECT_FLOAT_EQ(u.pointsInCurve.back().count, 0);
  }
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
}

// An overview that is not on show asks for no load: the selections made
// meanwhile come to one reload when it is shown, of the last selection.
TEST(OverviewScreen, AHiddenOverviewLoadsOnceWhenShown) {
  forgetDashboard();
  AppScope scope;
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* alpha = frenchSeller(store, 710, "Alpha", acc, 1.0f);
  KVRVortelyManagedProduct* beta = frenchSeller(store, 711, "Beta", acc, 2.0f);
  scope.app.accounts = {acc};
  {
    KVRVortelyResumeController sales(nullptr, &scope.app);
    KVRVortelyResumeController iAd(&sales, &scope.app);
    // The two overviews as pages of one window, the sales overview on show.
    QStackedWidget pages;
    pages.resize(1280, 820);
    auto* salesScreen = new KVROverviewScreen(&sales, &scope.app);
    auto* iAdScreen = new KVROverviewScreen(&iAd, &scope.app);
    pages.addWidget(salesScreen);
    pages.addWidget(iAdScreen);
    pages.show();
    sales.awakeFromNib();
    iAd.awakeFromNib();
    for (KVRVortelyManagedProduct* p : {alpha, beta}) {
      scope.app.extended = scope.app.selected = {p};
      sales.selectedProductDidChange(true);
      iAd.selectedProductDidChange(true);
    }
    ASSERT_TRUE(sales.waitForLoads(10));
    EXPECT_GT(sales.loadRequestCount(), 0u);
    EXPECT_EQ(iAd.loadRequestCount(), 0u);
    EXPECT_TRUE(iAd.reloadPending());
    EXPECT_EQ(salesScreen->label("productNameLabel")->text(), "Beta");
    EXPECT_NE(iAdScreen->label("productNameLabel")->text(), "Beta");

    pages.setCurrentWidget(iAdScreen);
    EXPECT_FALSE(iAd.reloadPending());
    EXPECT_EQ(iAd.loadRequestCount(), 1u);
    ASSERT_TRUE(iAd.waitForLoads(10));
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return iAd.displayedLoadCount() == 1; }, 5.0));
    EXPECT_EQ(iAdScreen->label("productNameLabel")->text(), "Beta");
  }
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
}

TEST(OverviewScreen, NineDigitFiguresFitTheSmallestWindow) {
  AppScope scope;
  Sample s;
  makeSample(s);
  // Amounts of nine digits and more: every money figure times 200,000.
  scaleMoney(s, 200000.0f);
  scope.app.extended = s.products;
  scope.app.selected = s.products;
  scope.app.accounts = {s.store.accounts.front().get()};
  for (auto* p : s.products) p->publishValues(std::make_shared<KVRProductValues>(), 1200, 300, 987654321.5f);

  // The main window's split at its smallest: 1200 wide, the product list on the left.
  QSplitter window(Qt::Horizontal);
  auto* list = new QTreeView;
  list->setMinimumWidth(200);
  window.addWidget(list);
  auto* screen = new KVROverviewScreen(nullptr);
  window.addWidget(screen);
  window.setStretchFactor(1, 1);
  window.resize(1200, 660);
  window.setSizes({240, 960});
  window.show();
  QCoreApplication::processEvents();
  const int listWidth = list->width();

  screen->selectValueTag(4);
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  ASSERT_GT(d.counterValue, 1e9);
  screen->showDisplay(d);
  screen->updateBoxes();
  screen->setTrendLabel(QStringLiteral("Monthly trend"));
  const QString longName = QStringLiteral("Skyline Sketch Professional Edition for Architects and Interior Designers (Mac)");
  screen->setProductNameLabel(longName);
  QCoreApplication::processEvents();
  // The product list keeps its width.
  EXPECT_EQ(list->width(), listWidth);
  // A long name is elided in the middle, keeping what tells it apart.
  auto* name = static_cast<KVRFittingLabel*>(screen->label("productNameLabel"));
  window.grab();
  EXPECT_NE(name->shownText(), longName);
  EXPECT_TRUE(name->shownText().endsWith("(Mac)"));
  EXPECT_EQ(name->toolTip(), longName);

  // The evolution: every part in its own place, every digit shown.
  const KVREvolutionLayout e = screen->evolutionView()->currentLayout();
  EXPECT_TRUE(e.fits);
  std::vector<QRectF> parts = {e.arrow, e.badge};
  for (const auto& t : e.texts)
    if (t.rect != e.badge) parts.push_back(t.rect);
  for (size_t a = 0; a < parts.size(); ++a)
    for (size_t b = a + 1; b < parts.size(); ++b) EXPECT_FALSE(parts[a].intersects(parts[b])) << a << " " << b;
  EXPECT_EQ(screen->evolutionView()->texts().currentDayValueRight, d.evolution.currentText);
  // Every figure fits its box at a readable size.
  for (const char* outlet : {"salesDatesLabel", "refundsLabel", "upgradesLabel", "downloadsLabel",
                             "accountTotalSalesLabel", "accountTotalIncomeLabel", "productTotalIncomeLabel"}) {
    auto* label = static_cast<KVRFittingLabel*>(screen->label(outlet));
    EXPECT_TRUE(label->fitsReadably()) << outlet << " " << label->text().toStdString();
  }
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 700) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);  // the counters roll
  saveRender(window.grab().toImage(), QStringLiteral("overview-nine-digits-1200.png"));
}
