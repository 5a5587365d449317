// The overview controller on the main thread: value, region and option
// controls, the product box of the reload and the combined-graph control.
#include <gtest/gtest.h>

#include "core/KVRNotifications.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "overview/KVRVortelyResumeController.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"
#include "platform/KVRUserDefaults.h"
#include "test_controller_fixture.h"

using namespace overview_test;

namespace {

class ControllerTest : public ResumeControllerFixture {
 protected:
  KVRVortelyManagedProduct* built(int64_t id, const QString& name, float income, KVRStoreAccount* acc) {
    KVRVortelyManagedProduct* p = store.product(id, name, acc);
    HistoryBuilder h;
    h.sales("EU-FR", civil(2026, 3, 1), 1);
    p->publishValues(h.build(), 10.4f, 2.6f, income);
    p->firstDate = day(2026, 1, 5);
    p->lastDate = day(2026, 3, 18);
    return p;
  }
  void select(std::vector<KVRVortelyManagedProduct*> selected, std::vector<KVRVortelyManagedProduct*> extended = {}) {
    services.selected = selected;
    services.extended = extended.empty() ? selected : extended;
    services.accounts.clear();
    for (auto* p : services.extended)
      if (p->account && std::find(services.accounts.begin(), services.accounts.end(), p->account) == services.accounts.end())
        services.accounts.push_back(p->account);
  }
};

}  // namespace

TEST_F(ControllerTest, ValueChangesRedisplayUnlessTheProductSetChanges) {
  KVRUserDefaults::standard().setInteger("KVRDashboardSelectedPeriod", 1);
  auto& c = makeSales();
  c.updatePeriod();
  EXPECT_EQ(c.selectedPeriod(), 1);
  // No load is running: another value shows the loaded totals again at once.
  controls.valueTag = 2;
  c.changeSelectedValue();
  EXPECT_EQ(c.loadRequestCount(), 0u);
  ASSERT_EQ(controls.displays.size(), 1u);
  EXPECT_EQ(controls.displays.back().valueTag, 2);
  EXPECT_EQ(c.previousTag(), 2);
  EXPECT_EQ(KVRUserDefaults::standard().integerForKey("KVRDashboardSelectedValue"), 2);

  // To and from the in-app tag the product set changes: a load.
  controls.valueTag = 17;
  c.changeSelectedValue();
  EXPECT_EQ(c.loadRequestCount(), 1u);
  controls.valueTag = 8;
  c.changeSelectedValue();
  EXPECT_EQ(c.loadRequestCount(), 2u);
  // Ratio values have no cumulative view.
  EXPECT_EQ(controls.cumulativeSegment, 0);
  EXPECT_FALSE(controls.cumulativeEnabled[1]);
  controls.valueTag = 3;
  c.changeSelectedValue();
  EXPECT_EQ(c.loadRequestCount(), 2u);
  EXPECT_TRUE(controls.cumulativeEnabled[1]);
}

TEST_F(ControllerTest, RegionChangesReloadOnlyWhenTheCodeChanges) {
  auto& c = makeSales();
  c.changeFilteredRegion(16);
  EXPECT_EQ(c.region(), "HK");
  EXPECT_EQ(c.loadRequestCount(), 1u);
  c.changeFilteredRegion(16);
  EXPECT_EQ(c.loadRequestCount(), 1u);
  c.changeFilteredRegion(17);
  EXPECT_TRUE(c.region().isNull());
  EXPECT_EQ(c.loadRequestCount(), 2u);
  c.changeFilteredRegion(-1);
  EXPECT_EQ(c.loadRequestCount(), 2u);
}

TEST_F(ControllerTest, OptionsKeepTheRevenueItemOfTheSalesOverview) {
  auto& c = makeSales();
  makeIad();
  controls.setValueItemEnabled(4, false);
  c.setOptionsEnabled(false);
  EXPECT_FALSE(controls.valuePopUpEnabled);
  EXPECT_FALSE(controls.periodPopUpEnabled);
  EXPECT_FALSE(controls.regionPopUpEnabled);
  EXPECT_FALSE(controls.pickersEnabled);
  c.setOptionsEnabled(true);
  EXPECT_TRUE(controls.valuePopUpEnabled);
  EXPECT_FALSE(controls.isValueItemEnabled(4));
  EXPECT_TRUE(controls.combineControlEnabled);

  iadControls.valuePopUpEnabled = false;
  iad->setOptionsEnabled(true);
  EXPECT_TRUE(iadControls.valuePopUpEnabled);
  EXPECT_EQ(iad->prefixForUserDefaults(), "KVRiAd");
  EXPECT_EQ(c.prefixForUserDefaults(), "KVRDashboard");
}

TEST_F(ControllerTest, ReloadFillsTheProductBox) {
  auto& c = makeSales();
  KVRVortelyManagedProduct* free = built(1, "Free", 0.0f, account);
  controls.valueTag = 4;
  select({free});
  c.selectedProductDidChange(true);
  EXPECT_EQ(controls.productName, "Free");
  EXPECT_TRUE(controls.revenues.startsWith("Revenues ("));
  EXPECT_EQ(controls.sales, "10");
  EXPECT_EQ(controls.upgrades, "3");
  // A built product without income: no revenue value.
  EXPECT_EQ(controls.valueTag, 0);
  EXPECT_FALSE(controls.isValueItemEnabled(4));
  EXPECT_TRUE(controls.reportsDates.startsWith("(from "));
  EXPECT_EQ(c.firstDate(), day(2026, 1, 5));
  EXPECT_EQ(c.lastDate(), day(2026, 3, 18));
  EXPECT_EQ(c.medianValue(), KVRNoMedianValue);
  EXPECT_GE(controls.boxes, 1);

  KVRVortelyManagedProduct* paid = built(2, "Paid", 12.5f, account);
  select({free, paid});
  c.selectedProductDidChange(true);
  EXPECT_EQ(controls.productName, "Multiple products");
  EXPECT_TRUE(controls.isValueItemEnabled(4));
  EXPECT_EQ(controls.sales, "20");

  // Products without an account show no sums.
  KVRVortelyManagedProduct* orphan = built(3, "Orphan", 3.0f, nullptr);
  select({orphan});
  c.selectedProductDidChange(true);
  EXPECT_EQ(controls.income, "--");
  EXPECT_EQ(controls.sales, "--");
  EXPECT_EQ(controls.upgrades, "--");
  select({});
  c.selectedProductDidChange(true);
  EXPECT_EQ(controls.productName, "No product");
  EXPECT_EQ(controls.sales, "--");

  // The iAd overview never touches the revenue item.
  makeIad();
  iadControls.valueTag = 4;
  iadControls.setValueItemEnabled(4, false);
  select({free});
  iad->selectedProductDidChange(true);
  EXPECT_EQ(iadControls.valueTag, 4);
  EXPECT_FALSE(iadControls.isValueItemEnabled(4));
}

TEST_F(ControllerTest, CombinedGraphControlFollowsTheSelection) {
  auto& c = makeSales();
  KVRVortelyManagedProduct* a = built(1, "A", 1, account);
  KVRVortelyManagedProduct* b = built(2, "B", 1, account);
  controls.combineSegment = 0;
  select({a});
  c.selectedProductDidChange(true);
  EXPECT_EQ(controls.combineSegment, 1);
  EXPECT_FALSE(controls.combineEnabled[0]);
  EXPECT_TRUE(controls.combineEnabled[1]);
  EXPECT_TRUE(c.shouldComeBackToCombined());

  select({a, b});
  c.selectedProductDidChange(true);
  EXPECT_EQ(controls.combineSegment, 0);
  EXPECT_TRUE(controls.combineEnabled[0]);
  EXPECT_TRUE(controls.combineEnabled[1]);

  // Only an account selected: one combined curve.
  select({}, {a, b});
  services.accountSelected = true;
  controls.combineSegment = 1;
  c.selectedProductDidChange(true);
  EXPECT_EQ(controls.combineSegment, 0);
  EXPECT_FALSE(controls.combineEnabled[1]);

  // The user's choice ends the way back to the combined graph.
  c.switchCombined();
  EXPECT_FALSE(c.shouldComeBackToCombined());
  EXPECT_EQ(services.refreshCount, 1);
  controls.combineSegment = 1;
  controls.perProductCurves = false;
  EXPECT_TRUE(c.isOverviewGraphCombined());
  controls.perProductCurves = true;
  EXPECT_FALSE(c.isOverviewGraphCombined());
}

TEST_F(ControllerTest, NotificationsReachTheController) {
  auto& c = makeSales();
  c.awakeFromNib();
  const uint64_t before = c.loadRequestCount();
  const int boxes = controls.boxes;
  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelySelectedProductDidChange);
  EXPECT_EQ(c.loadRequestCount(), before + 1);
  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelyRatingsHaveBeenLoaded);
  EXPECT_EQ(controls.boxes, boxes + 2);
  // refreshUI shows the loading state only while a load runs.
  EXPECT_TRUE(c.waitForLoads(10));
  const int redraws = controls.chartRedraws;
  c.refreshUI();
  EXPECT_EQ(controls.chartRedraws, redraws);
}

TEST_F(ControllerTest, WorksWithoutControlsOrServices) {
  KVRVortelyResumeController bare(nullptr, nullptr, nullptr);
  bare.awakeFromNib();
  bare.changeLastPeriod(1);
  bare.changeSelectedValue(2);
  bare.changeSelectedValue(17);
  bare.changeFilteredRegion(1);
  bare.setOptionsEnabled(false);
  bare.switchCombined();
  EXPECT_TRUE(bare.isOverviewGraphCombined());
  EXPECT_EQ(bare.selectedValueTag(), 17);
  EXPECT_TRUE(bare.waitForLoads(10));
  KVRMainThread::waitUntil([&] { return bare.lastLoadResults().has_value(); }, 5);
  ASSERT_TRUE(bare.lastLoadResults().has_value());
  EXPECT_TRUE(bare.lastLoadResults()->products.empty());
}
