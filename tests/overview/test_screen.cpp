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

#include "graphs/KVRVortelyCamembertGraphView.h"
#include "graphs/KVRVortelyCounterView.h"
#include "graphs/KVRVortelyGraphView.h"
#include "overview/KVROverviewScreen.h"
#include "overview/KVROverviewTypes.h"
#include "overview/KVRVortelyResumeController.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRUserDefaults.h"
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
}

TEST(OverviewScreen, ChartsGrowInTwentySteps) {
  KVROverviewScreen screen(nullptr);
  screen.updateCamembertViewWithAnimation(true);
  EXPECT_FLOAT_EQ(screen.graphAnimatePercent(), 0.0f);
  QElapsedTimer t;
  t.start();
  while (screen.graphAnimatePercent() < 1.0f && t.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(screen.graphAnimatePercent(), 1.0f);
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
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != &screen && w->isVisible()) ++calendars;
  EXPECT_EQ(calendars, 1);
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
  KVRUserDefaults& defaults = KVRUserDefaults::standard();
  for (const char* suffix : {"SelectedValue", "SelectedScale", "SelectedPeriod", "StartDate", "EndDate"})
    defaults.removeObjectForKey(QStringLiteral("KVRDashboard") + QString::fromLatin1(suffix));
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
  AppScope scope;
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  // Two products selling one and two units a day in France.
  for (int i = 0; i < 2; ++i) {
    KVRVortelyManagedProduct* p = store.product(700 + i, i ? "Beta" : "Alpha", acc);
    auto values = std::make_shared<KVRProductValues>();
    KVRValueSeries series;
    series.valueKey = QStringLiteral("EU-FR");
    series.region = QStringLiteral("EU");
    series.country = QStringLiteral("FR");
    for (KVRCivilDay d = KVRCivilDayFromYMD(2026, 3, 1); d <= KVRCivilDayFromYMD(2026, 3, 15); ++d) {
      KVRTotalsStruct r;
      r.sales = 1.0f + float(i);
      series.days.push_back(d);
      series.records.push_back(r);
    }
    values->series.push_back(series);
    p->publishValues(values, 15, 0, 10);
    p->firstDate = day(2026, 3, 1);
    p->lastDate = day(2026, 3, 15);
    scope.app.extended.push_back(p);
  }
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
  }
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
}
