// Periods of the overview: the preset table, the custom period made with the
// pickers, the previous spans a load compares with, and the small pure rules.
#include <gtest/gtest.h>

#include <QDateTime>

#include "core/KVRVortelyCoreDataManager.h"
#include "overview/KVROverviewPeriod.h"
#include "overview/KVRVortelyResumeController.h"
#include "platform/KVRUserDefaults.h"
#include "test_controller_fakes.h"

using namespace overview_test;

namespace {

void clearOverviewDefaults() {
  KVRUserDefaults& d = KVRUserDefaults::standard();
  for (const char* prefix : {"KVRDashboard", "KVRiAd"})
    for (const char* suffix : {"SelectedValue", "SelectedScale", "SelectedPeriod", "StartDate", "EndDate"})
      d.removeObjectForKey(QString::fromLatin1(prefix) + QString::fromLatin1(suffix));
}

class PeriodTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearOverviewDefaults();
    account = store.account("Studio");
    product = store.product(77, "App", account);
    services.accounts = {account};
    services.extended = {product};
    services.selected = {product};
  }
  void TearDown() override {
    if (controller) {
      EXPECT_TRUE(controller->waitForLoads(10));
    }
  }
  // A controller whose selected account's reports run from first to last.
  KVRVortelyResumeController& make(KVRDate first, KVRDate last, KVRVortelyResumeController* provider = nullptr) {
    product->firstDate = first;
    product->lastDate = last;
    controller = std::make_unique<KVRVortelyResumeController>(provider, &services, &controls);
    controller->setFirstDate(first);
    controller->setLastDate(last);
    return *controller;
  }

  ProductStore store;
  KVRStoreAccount* account = nullptr;
  KVRVortelyManagedProduct* product = nullptr;
  FakeServices services;
  FakeControls controls;
  std::unique_ptr<KVRVortelyResumeController> controller;
};

}  // namespace

TEST_F(PeriodTest, DailyPeriodShowsAWeekInTheGraph) {
  auto& c = make(day(2025, 1, 5), KVRDate(day(2026, 3, 18).ms + 15 * 3600e3));
  controls.cumulativeSegment = 1;
  c.changeLastPeriod(0);
  EXPECT_EQ(c.currentStartDate(), day(2026, 3, 18));
  EXPECT_EQ(c.currentEndDate(), day(2026, 3, 18));
  EXPECT_EQ(c.graphStartDate(), day(2026, 3, 12));
  EXPECT_EQ(c.graphEndDate(), day(2026, 3, 18));
  EXPECT_EQ(c.lastDayDate(), day(2026, 3, 18));
  EXPECT_EQ(c.currentDayDate(), day(2026, 3, 18));
  EXPECT_EQ(controls.trend, "Daily trend");
  EXPECT_EQ(KVRUserDefaults::standard().integerForKey("KVRDashboardSelectedPeriod"), 0);
  // The week graph range is kept in the defaults too.
  EXPECT_EQ(KVRUserDefaults::standard().dateForKey("KVRDashboardStartDate"), day(2026, 3, 12));
  // The pickers show the graph range the period computed.
  EXPECT_EQ(controls.startPicker, day(2026, 3, 12));
  EXPECT_EQ(controls.endPicker, day(2026, 3, 18));
  // The day period has no cumulative view (the rule applies with the tag in
  // force when the action starts, so apply once more now that it is 0).
  c.changeLastPeriod(0);
  EXPECT_EQ(controls.cumulativeSegment, 0);
  EXPECT_FALSE(controls.cumulativeEnabled[1]);
}

TEST_F(PeriodTest, WeeklyMonthlyAndCurrentMonthPresets) {
  // 18 March 2026 is a Wednesday.
  auto& c = make(day(2025, 1, 5), day(2026, 3, 18));
  c.changeLastPeriod(1);
  EXPECT_EQ(c.currentStartDate(), day(2026, 3, 12));
  EXPECT_EQ(c.graphStartDate(), day(2026, 3, 12));
  EXPECT_EQ(c.graphEndDate(), day(2026, 3, 18));
  EXPECT_EQ(c.lastDayDate(), day(2026, 3, 12));
  EXPECT_EQ(controls.trend, "Weekly trend");

  c.changeLastPeriod(2);
  EXPECT_TRUE(controls.cumulativeEnabled[1]);  // the rule saw period 1
  EXPECT_EQ(c.currentStartDate(), day(2026, 2, 19));
  EXPECT_EQ(controls.trend, "Monthly trend");
  c.changeLastPeriod(5);
  EXPECT_EQ(c.currentStartDate(), day(2025, 3, 19));
  c.changeLastPeriod(7);
  EXPECT_EQ(c.currentStartDate(), day(2026, 3, 5));
  EXPECT_EQ(controls.trend, "2 weeks trend");
  c.changeLastPeriod(8);
  EXPECT_EQ(c.currentStartDate(), day(2026, 3, 1));
  EXPECT_EQ(controls.trend, "Current month trend");
  c.changeLastPeriod(6);
  EXPECT_EQ(c.currentStartDate(), day(2025, 1, 5));
  EXPECT_EQ(controls.trend, "Trend");
}

TEST_F(PeriodTest, PresetAfterAnEarlierLastReportDayFollowsIt) {
  auto& c = make(day(2025, 1, 5), day(2026, 3, 18));
  c.changeLastPeriod(1);
  // The reports now end before the graph range shown so far.
  product->lastDate = day(2026, 2, 5);
  c.setLastDate(day(2026, 2, 5));
  c.changeLastPeriod(1);
  EXPECT_EQ(c.currentStartDate(), day(2026, 1, 30));
  EXPECT_EQ(c.currentEndDate(), day(2026, 2, 5));
  EXPECT_EQ(c.graphStartDate(), day(2026, 1, 30));
  EXPECT_EQ(c.graphEndDate(), day(2026, 2, 5));
}

TEST_F(PeriodTest, CurrentMonthOnTheFirstDayIsOneDayWithoutWeekGraph) {
  auto& c = make(day(2025, 1, 5), day(2026, 3, 1));
  c.changeLastPeriod(8);
  EXPECT_EQ(c.currentStartDate(), day(2026, 3, 1));
  EXPECT_EQ(c.currentEndDate(), day(2026, 3, 1));
  EXPECT_EQ(c.graphStartDate(), day(2026, 3, 1));
  EXPECT_EQ(c.graphEndDate(), day(2026, 3, 1));
}

TEST_F(PeriodTest, WithoutReportsEveryPresetStartsAtTheFallback) {
  services.accounts.clear();
  auto& c = make(KVRDate(), KVRDate());
  c.changeLastPeriod(6);
  EXPECT_EQ(c.currentStartDate(), day(2008, 7, 10));
  const QDate today = QDate::currentDate();
  EXPECT_EQ(c.currentEndDate(), day(today.year(), today.month(), today.day()));
  EXPECT_EQ(controls.trend, "Trend");
  // The day period then shows the current period in the graph, not a week.
  c.changeLastPeriod(0);
  EXPECT_EQ(c.graphStartDate(), day(2008, 7, 10));
}

TEST_F(PeriodTest, CustomStartPickedAfterTheEndIsPulledBack) {
  auto& c = make(day(2025, 1, 5), day(2026, 3, 18));
  c.changeLastPeriod(1);
  c.pickerDidChangeDate(false, day(2026, 3, 1));
  EXPECT_EQ(c.selectedPeriod(), -1);
  EXPECT_EQ(controls.shownPeriod, -1);
  c.pickerDidChangeDate(true, day(2026, 3, 10));
  EXPECT_EQ(c.graphStartDate(), day(2026, 3, 1));
  EXPECT_EQ(c.graphEndDate(), day(2026, 3, 10));
  c.pickerDidChangeDate(false, day(2026, 3, 15));
  EXPECT_EQ(c.graphStartDate(), day(2026, 3, 10));
  EXPECT_EQ(c.currentStartDate(), day(2026, 3, 10));
  EXPECT_EQ(c.currentEndDate(), day(2026, 3, 10));
  EXPECT_EQ(c.lastDayDate(), day(2026, 3, 10));
  EXPECT_EQ(c.currentDayDate(), day(2026, 3, 10));
  EXPECT_EQ(controls.trend, "Custom trend");
  KVRUserDefaults& d = KVRUserDefaults::standard();
  EXPECT_EQ(d.integerForKey("KVRDashboardSelectedPeriod"), -1);
  EXPECT_EQ(d.dateForKey("KVRDashboardStartDate"), day(2026, 3, 10));
  EXPECT_EQ(d.dateForKey("KVRDashboardEndDate"), day(2026, 3, 10));
  // An end before the start is pushed to the start.
  c.pickerDidChangeDate(true, day(2026, 3, 2));
  EXPECT_EQ(c.graphEndDate(), day(2026, 3, 10));
  // While custom, the pop-up's action ignores its sender; setSelectedPeriod leaves it.
  c.changeLastPeriod(1);
  EXPECT_EQ(c.selectedPeriod(), -1);
  c.setSelectedPeriod(1);
  EXPECT_EQ(c.selectedPeriod(), 1);
  EXPECT_EQ(c.currentStartDate(), day(2026, 3, 12));
}

TEST_F(PeriodTest, SettingsAreRestoredPerInstance) {
  KVRUserDefaults& d = KVRUserDefaults::standard();
  d.setInteger("KVRiAdSelectedPeriod", -1);
  d.setDate("KVRiAdStartDate", day(2026, 2, 1));
  d.setDate("KVRiAdEndDate", day(2026, 2, 9));
  d.setInteger("KVRiAdSelectedValue", 25);  // not a value tag
  d.setInteger("KVRDashboardSelectedPeriod", 42);  // not a period tag
  d.setInteger("KVRDashboardSelectedValue", 9);

  FakeControls salesControls;
  KVRVortelyResumeController sales(nullptr, &services, &salesControls);
  sales.awakeFromNib();
  EXPECT_EQ(sales.prefixForUserDefaults(), "KVRDashboard");
  EXPECT_EQ(sales.selectedPeriod(), 0);
  EXPECT_EQ(salesControls.valueTag, 9);
  EXPECT_EQ(sales.previousTag(), 9);
  EXPECT_EQ(salesControls.counterResets, 1);

  auto& iad = make(day(2025, 1, 5), day(2026, 3, 18), &sales);
  iad.awakeFromNib();
  EXPECT_EQ(iad.prefixForUserDefaults(), "KVRiAd");
  EXPECT_EQ(iad.selectedPeriod(), -1);
  EXPECT_EQ(controls.valueTag, 0);
  EXPECT_EQ(iad.graphStartDate(), day(2026, 2, 1));
  EXPECT_EQ(iad.graphEndDate(), day(2026, 2, 9));
  EXPECT_EQ(iad.currentStartDate(), day(2026, 2, 1));
  EXPECT_EQ(iad.currentEndDate(), day(2026, 2, 9));
  EXPECT_EQ(controls.trend, "Custom trend");
  EXPECT_GE(iad.loadRequestCount(), 1u);
  EXPECT_EQ(sales.loadRequestCount(), 0u);
  EXPECT_TRUE(sales.waitForLoads(10));
}

TEST_F(PeriodTest, StoredAndPickedCustomDatesAreHeldToTheReportDays) {
  KVRUserDefaults& d = KVRUserDefaults::standard();
  auto restore = [&](KVRDate start, KVRDate end, KVRDate first, KVRDate last) {
    d.setInteger("KVRDashboardSelectedPeriod", -1);
    d.setDate("KVRDashboardStartDate", start);
    d.setDate("KVRDashboardEndDate", end);
    if (controller) { EXPECT_TRUE(controller->waitForLoads(10)); }
    auto& c = make(first, last);
    c.awakeFromNib();
    EXPECT_TRUE(c.waitForLoads(10));
    return std::pair{c.graphStartDate(), c.graphEndDate()};
  };
  using Range = std::pair<KVRDate, KVRDate>;
  // Years 1 to 9999: the report days, and the load covers only them.
  EXPECT_EQ(restore(day(1, 6, 1), day(9999, 12, 31), day(2025, 1, 5), day(2026, 3, 18)),
            Range(day(2025, 1, 5), day(2026, 3, 18)));
  EXPECT_EQ(controller->currentStartDate(), day(2025, 1, 5));
  EXPECT_EQ(controller->currentEndDate(), day(2026, 3, 18));
  ASSERT_FALSE(controls.displays.empty());
  EXPECT_EQ(controls.displays.back().startDate, day(2025, 1, 5));
  EXPECT_EQ(d.dateForKey("KVRDashboardStartDate"), day(2025, 1, 5));
  // A range overlapping the report days keeps its part inside them.
  EXPECT_EQ(restore(day(2024, 6, 1), day(2025, 3, 1), day(2025, 1, 5), day(2026, 3, 18)),
            Range(day(2025, 1, 5), day(2025, 3, 1)));
  // A range wholly before them becomes them, not their first day alone.
  EXPECT_EQ(restore(day(2001, 1, 1), day(2001, 2, 1), day(2025, 1, 5), day(2026, 3, 18)),
            Range(day(2025, 1, 5), day(2026, 3, 18)));
  // No report day known yet: the stores' years, up to today.
  const QDate today = QDate::currentDate();
  EXPECT_EQ(restore(day(1, 6, 1), day(9999, 12, 31), KVRDate(), KVRDate()),
            Range(day(2008, 7, 10), day(today.year(), today.month(), today.day())));

  // Picked dates likewise.
  auto& c = make(day(2025, 1, 5), KVRDate(day(2026, 3, 18).ms + 15 * 3600e3));
  c.pickerDidChangeDate(true, day(9999, 12, 31));
  EXPECT_EQ(c.graphEndDate(), day(2026, 3, 18));
  c.pickerDidChangeDate(false, day(1, 6, 1));
  EXPECT_EQ(c.graphStartDate(), day(2025, 1, 5));
  EXPECT_EQ(c.currentStartDate(), day(2025, 1, 5));
  EXPECT_EQ(c.currentEndDate(), day(2026, 3, 18));
  c.pickerDidChangeDate(false, day(2025, 6, 1));
  EXPECT_EQ(c.graphStartDate(), day(2025, 6, 1));
}

TEST_F(PeriodTest, CustomRangeOutsideANewSelectionsReportDaysBecomesThem) {
  // Two accounts, one product each, with report days years apart.
  KVRStoreAccount* old = store.account("Old");
  KVRVortelyManagedProduct* retired = store.product(78, "Retired", old);
  for (KVRVortelyManagedProduct* p : {product, retired}) {
    HistoryBuilder h;
    h.sales("EU-FR", civil(2026, 3, 1), 1);
    p->publishValues(h.build(), 1, 0, 1);
  }
  retired->firstDate = day(2019, 4, 1);
  retired->lastDate = day(2020, 6, 30);
  auto& c = make(day(2025, 1, 5), day(2026, 3, 18));
  auto select = [&](KVRVortelyManagedProduct* p) {
    services.extended = services.selected = {p};
    services.accounts = {p->account};
    c.selectedProductDidChange(true);
  };
  select(product);
  c.pickerDidChangeDate(false, day(2026, 3, 1));
  c.pickerDidChangeDate(true, day(2026, 3, 10));
  // Wholly after the new report days.
  select(retired);
  EXPECT_EQ(c.graphStartDate(), day(2019, 4, 1));
  EXPECT_EQ(c.graphEndDate(), day(2020, 6, 30));
  EXPECT_EQ(c.currentStartDate(), day(2019, 4, 1));
  EXPECT_EQ(c.currentEndDate(), day(2020, 6, 30));
  KVRUserDefaults& d = KVRUserDefaults::standard();
  EXPECT_EQ(d.dateForKey("KVRDashboardStartDate"), day(2019, 4, 1));
  EXPECT_EQ(d.dateForKey("KVRDashboardEndDate"), day(2020, 6, 30));
  // Wholly before them.
  c.pickerDidChangeDate(false, day(2019, 5, 1));
  c.pickerDidChangeDate(true, day(2019, 5, 31));
  select(product);
  EXPECT_EQ(c.graphStartDate(), day(2025, 1, 5));
  EXPECT_EQ(c.graphEndDate(), day(2026, 3, 18));
  EXPECT_EQ(controls.startPicker, day(2025, 1, 5));
  EXPECT_EQ(controls.endPicker, day(2026, 3, 18));
  // Overlapping: only the part outside goes.
  c.pickerDidChangeDate(false, day(2025, 1, 5));
  c.pickerDidChangeDate(true, day(2025, 3, 1));
  select(product);
  EXPECT_EQ(c.graphStartDate(), day(2025, 1, 5));
  EXPECT_EQ(c.graphEndDate(), day(2025, 3, 1));
  // A range ending on the first report day overlaps it, whatever its hour.
  product->firstDate = KVRDate(day(2025, 1, 5).ms + 15 * 3600e3);
  c.pickerDidChangeDate(true, day(2025, 1, 5));
  select(product);
  EXPECT_EQ(c.graphStartDate(), day(2025, 1, 5));
  EXPECT_EQ(c.graphEndDate(), day(2025, 1, 5));
}

TEST(OverviewSpans, PreviousSpans) {
  // Current month, 1 to 15 March: the same days of February.
  auto [ps, pe] = KVRPreviousSpan(8, day(2026, 3, 1), day(2026, 3, 15), day(2026, 3, 1), day(2026, 3, 15));
  EXPECT_EQ(ps, day(2026, 2, 1));
  EXPECT_EQ(pe, day(2026, 2, 15));
  // A week, 8 to 14 March: the week before.
  std::tie(ps, pe) = KVRPreviousSpan(1, day(2026, 3, 8), day(2026, 3, 14), day(2026, 3, 8), day(2026, 3, 14));
  EXPECT_EQ(ps, day(2026, 3, 1));
  EXPECT_EQ(pe, day(2026, 3, 7));
  // Custom 10 to 20 March: same calendar length before the 10th.
  std::tie(ps, pe) = KVRPreviousSpan(-1, day(2026, 3, 10), day(2026, 3, 20), day(2026, 3, 10), day(2026, 3, 20));
  EXPECT_EQ(ps, day(2026, 2, 27));
  EXPECT_EQ(pe, day(2026, 3, 9));
  std::tie(ps, pe) = KVRPreviousSpan(-1, day(2024, 3, 10), day(2024, 3, 20), day(2024, 3, 10), day(2024, 3, 20));
  EXPECT_EQ(ps, day(2024, 2, 28));
  EXPECT_EQ(pe, day(2024, 3, 9));
  // No compared span: no previous span.
  std::tie(ps, pe) = KVRPreviousSpan(1, KVRDate(), KVRDate(), KVRDate(), KVRDate());
  EXPECT_FALSE(ps.isValid());
  EXPECT_FALSE(pe.isValid());
}

TEST(OverviewRules, SplitViewAndPopover) {
  EXPECT_EQ(KVRVortelyResumeController::constrainSplitPosition(150, 600), 200.0f);
  EXPECT_EQ(KVRVortelyResumeController::constrainSplitPosition(400, 600), 350.0f);
  EXPECT_EQ(KVRVortelyResumeController::constrainSplitPosition(300, 600), 300.0f);
  // Right edges aligned, directly below the picker.
  const QRectF f = KVRCalendarPopoverFrame(QRectF(10, 20, 120, 24), QPointF(500, 300), QSizeF(200, 180));
  EXPECT_EQ(f, QRectF(420, 324, 200, 180));
  EXPECT_EQ(KVRFormatWithArguments("%@ %%", {"5"}), "5 %");
}
