// The background load: what a completed load hands to the display, and the
// cancellation and serialisation of loads running on their own threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/KVRVortelyCoreDataManager.h"
#include "overview/KVRVortelyResumeController.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRUserDefaults.h"
#include "test_controller_fixture.h"

using namespace overview_test;
using Phase = KVRVortelyResumeController::LoadPhase;

namespace {

// A gate a load thread waits at until the test opens it.
class Gate {
 public:
  void open() {
    std::lock_guard<std::mutex> g(m_);
    open_ = true;
    cv_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> g(m_);
    cv_.wait_for(g, std::chrono::seconds(10), [this] { return open_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

bool waitFor(const std::function<bool()>& done) {
  return KVRMainThread::waitUntil(done, 10.0);
}

// Lets the queued hand-overs reach the main thread.
void settle(KVRVortelyResumeController& c) { EXPECT_TRUE(c.waitForLoads(10)); }

// Runs every main-thread call queued so far (the turn of the event loop ends).
void endTurn() {
  bool reached = false;
  KVRMainThread::post([&] { reached = true; });
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return reached; }, 10));
}

// The generations of the loads that ran, in order.
struct RunLog {
  std::mutex m;
  std::vector<uint64_t> runs;
  KVRVortelyResumeController::LoadHook hook() {
    return [this](uint64_t g, Phase phase) {
      if (phase != Phase::Running) return;
      std::lock_guard<std::mutex> l(m);
      runs.push_back(g);
    };
  }
  std::vector<uint64_t> take() {
    std::lock_guard<std::mutex> l(m);
    return std::exchange(runs, {});
  }
};

class PipelineTest : public ResumeControllerFixture {
 protected:
  void SetUp() override {
    ResumeControllerFixture::SetUp();
    // Two products selling one unit a day in France, from 1 February to 15 March.
    for (int i = 0; i < 2; ++i) {
      KVRVortelyManagedProduct* p = store.product(100 + i, i ? "Beta" : "Alpha", account);
      HistoryBuilder h;
      for (KVRCivilDay d = civil(2026, 2, 1); d <= civil(2026, 3, 15); ++d) h.sales("EU-FR", d, 1.0f + float(i));
      p->publishValues(h.build(), 10, 0, 5);
      p->firstDate = day(2026, 2, 1);
      p->lastDate = day(2026, 3, 15);
      products.push_back(p);
    }
    services.extended = services.selected = products;
    services.accounts = {account};
  }

  std::vector<KVRVortelyManagedProduct*> products;
};

}  // namespace

TEST_F(PipelineTest, ReloadOfSeveralProductsFillsTheSlots) {
  auto& c = makeSales();
  c.setFirstDate(day(2026, 2, 1));
  c.setLastDate(day(2026, 3, 15));
  c.changeLastPeriod(1);  // 9 to 15 March
  settle(c);
  ASSERT_FALSE(controls.displays.empty());
  const KVRLoadResults& r = controls.displays.back();
  EXPECT_FALSE(r.singleProduct);
  EXPECT_EQ(r.startDate, day(2026, 3, 9));
  EXPECT_EQ(r.previousStartDate, day(2026, 3, 2));
  EXPECT_EQ(r.previousEndDate, day(2026, 3, 8));
  ASSERT_TRUE(r.current && r.previous);
  EXPECT_FALSE(r.compared);  // equal to the current period
  EXPECT_FALSE(r.graph);     // not the day period
  EXPECT_EQ(r.comparedOrCurrent(), &*r.current);
  EXPECT_EQ(r.current->at(100).totals.sales, 7.0f);
  EXPECT_EQ(r.current->at(101).totals.sales, 14.0f);
  EXPECT_EQ(r.current->at(101).salesByDate.size(), 7u);
  EXPECT_FALSE(r.previous->at(100).hasSalesByDate);
  EXPECT_EQ(r.products.size(), 2u);
  EXPECT_EQ(r.products[0]->name, "Alpha");

  c.changeLastPeriod(0);  // the day period adds the week graph
  settle(c);
  const KVRLoadResults& d = controls.displays.back();
  ASSERT_TRUE(d.graph);
  EXPECT_EQ(d.graph->at(100).salesByDate.size(), 7u);
  EXPECT_EQ(d.current->at(101).totals.sales, 2.0f);
  EXPECT_EQ(d.previous->at(101).totals.sales, 2.0f);
}

TEST_F(PipelineTest, ReloadOfOneProductHandsItsEntries) {
  services.extended = services.selected = {products[1]};
  auto& c = makeSales();
  c.setFirstDate(day(2026, 2, 1));
  c.setLastDate(day(2026, 3, 15));
  c.changeLastPeriod(0);
  settle(c);
  ASSERT_FALSE(controls.displays.empty());
  const KVRLoadResults& r = controls.displays.back();
  EXPECT_TRUE(r.singleProduct);
  ASSERT_TRUE(r.productPrevious && r.productCurrent && r.productGraph);
  EXPECT_EQ(r.productPrevious->totals.sales, 2.0f);
  EXPECT_EQ(r.productCurrent->totals.sales, 2.0f);
  EXPECT_EQ(r.productGraph->salesByDate.size(), 7u);
  EXPECT_FALSE(r.current);

  // In-app value with no in-app product: an empty list, the several-products case.
  controls.valueTag = 17;
  c.changeSelectedValue();
  settle(c);
  EXPECT_FALSE(controls.displays.back().singleProduct);
  EXPECT_TRUE(controls.displays.back().products.empty());
  ASSERT_TRUE(controls.displays.back().current);
  EXPECT_TRUE(controls.displays.back().current->empty());
}

TEST_F(PipelineTest, ReloadWhileALoadRunsOnlyTheSecondDisplays) {
  auto& c = makeSales();
  Gate gate;
  std::atomic<uint64_t> running{0};
  c.setLoadHookForTesting([&](uint64_t g, Phase phase) {
    if (phase != Phase::Running) return;
    running.store(g);
    if (g == 1) gate.wait();
  });
  c.selectedProductDidChange(false);
  ASSERT_TRUE(waitFor([&] { return running.load() == 1; }));
  EXPECT_TRUE(c.loadingData());
  c.selectedProductDidChange(false);
  EXPECT_TRUE(c.cancelLoadFlag());
  gate.open();
  settle(c);
  ASSERT_EQ(controls.displays.size(), 1u);
  EXPECT_EQ(controls.displays[0].generation, 2u);
  EXPECT_FALSE(c.loadingData());
}

TEST_F(PipelineTest, ReloadsWaitingForTheLockRunOnlyTheLastOne) {
  // While another load holds the shared loading lock, each overview receives a
  // burst of selection changes, one per turn of the event loop, alternating
  // between the two products: only the last request of each overview runs,
  // and what each displays is the last selection.
  auto& s = makeSales();
  makeIad();
  RunLog salesRuns, iadRuns;
  s.setLoadHookForTesting(salesRuns.hook());
  iad->setLoadHookForTesting(iadRuns.hook());
  for (int burst : {2, 40}) {
    controls.displays.clear();
    iadControls.displays.clear();
    {
      std::lock_guard<std::mutex> otherLoad(*s.loadingLock());
      for (int i = 0; i < burst; ++i) {
        services.extended = services.selected = {products[size_t(i % 2)]};
        s.selectedProductDidChange(true);
        iad->selectedProductDidChange(true);
        endTurn();
      }
      EXPECT_FALSE(s.loadingData());
      EXPECT_FALSE(iad->loadingData());
    }
    settle(s);
    settle(*iad);
    EXPECT_EQ(salesRuns.take(), std::vector<uint64_t>{s.loadRequestCount()}) << burst;
    EXPECT_EQ(iadRuns.take(), std::vector<uint64_t>{iad->loadRequestCount()}) << burst;
    for (FakeControls* fc : {&controls, &iadControls}) {
      ASSERT_EQ(fc->displays.size(), 1u) << burst;
      ASSERT_EQ(fc->displays[0].products.size(), 1u);
      EXPECT_EQ(fc->displays[0].products[0], products[1]) << burst;  // the last selection
      EXPECT_EQ(fc->productName, "Beta");
      ASSERT_TRUE(fc->displays[0].productCurrent);
    }
  }
}

TEST_F(PipelineTest, ReloadsOfOneTurnStartOneLoad) {
  auto& c = makeSales();
  RunLog runs;
  c.setLoadHookForTesting(runs.hook());
  services.extended = services.selected = {products[0]};
  c.selectedProductDidChange(true);
  services.extended = services.selected = {products[1]};
  c.selectedProductDidChange(true);
  settle(c);
  EXPECT_EQ(runs.take(), std::vector<uint64_t>{2});
  ASSERT_EQ(controls.displays.size(), 1u);
  EXPECT_EQ(controls.displays[0].products, std::vector<KVRVortelyManagedProduct*>{products[1]});

  // A date pick reloads from several setters: still one load, over the new dates.
  c.pickerDidChangeDate(false, day(2026, 3, 1));
  settle(c);
  EXPECT_EQ(runs.take().size(), 1u);
  ASSERT_EQ(controls.displays.size(), 2u);
  EXPECT_EQ(controls.displays[1].startDate, day(2026, 3, 1));
  EXPECT_EQ(controls.displays[1].graphStartDate, day(2026, 3, 1));
}

TEST_F(PipelineTest, ReloadAfterALoadEndedDropsThatLoadsResults) {
  // The first load has finished and released the lock, its results are on the
  // way to the main thread, when a new selection is made: the old results
  // are not shown under the new selection, the new load's are.
  auto& c = makeSales();
  Gate gate;
  std::atomic<bool> handingOver{false};
  c.setLoadHookForTesting([&](uint64_t g, Phase phase) {
    if (phase != Phase::HandOver || g != 1) return;
    handingOver.store(true);
    gate.wait();
  });
  services.extended = services.selected = {products[0]};
  c.selectedProductDidChange(true);
  ASSERT_TRUE(waitFor([&] { return handingOver.load(); }));
  EXPECT_FALSE(c.cancelLoadFlag());  // it had ended: nothing to cancel
  services.extended = services.selected = {products[1]};
  c.selectedProductDidChange(true);
  endTurn();
  gate.open();
  settle(c);
  ASSERT_EQ(controls.displays.size(), 1u);
  EXPECT_EQ(controls.displays[0].generation, 2u);
  EXPECT_EQ(controls.displays[0].products, std::vector<KVRVortelyManagedProduct*>{products[1]});
  // A value change now redisplays the newest results, not the dropped ones.
  controls.valueTag = 2;
  c.changeSelectedValue();
  ASSERT_EQ(controls.displays.size(), 2u);
  EXPECT_EQ(controls.displays[1].generation, 2u);
}

TEST_F(PipelineTest, ReloadForAnotherValueWhileLoadingWaitsForThatLoad) {
  auto& c = makeSales();
  Gate gate;
  std::atomic<uint64_t> running{0};
  c.setLoadHookForTesting([&](uint64_t g, Phase phase) {
    if (phase != Phase::Running) return;
    running.store(g);
    gate.wait();
  });
  c.selectedProductDidChange(false);
  ASSERT_TRUE(waitFor([&] { return running.load() == 1; }));
  controls.valueTag = 2;
  c.changeSelectedValue();
  EXPECT_FALSE(c.cancelLoadFlag());
  EXPECT_EQ(c.loadRequestCount(), 1u);
  EXPECT_TRUE(controls.displays.empty());
  gate.open();
  settle(c);
  ASSERT_EQ(controls.displays.size(), 1u);
  EXPECT_EQ(controls.displays[0].valueTag, 2);
}

TEST_F(PipelineTest, ThreadLoadsOfBothOverviewsNeverOverlap) {
  auto& s = makeSales();
  makeIad();
  std::atomic<int> inside{0}, maxInside{0};
  std::atomic<bool> salesRunning{false};
  Gate gate;
  auto hook = [&](bool isSales) {
    // Counts the loads inside their locked part at the same time.
    return [&, isSales](uint64_t g, Phase phase) {
      if (phase != Phase::Running) return;
      const int now = inside.fetch_add(1) + 1;
      int seen = maxInside.load();
      while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {}
      if (isSales && g == 1) {
        salesRunning.store(true);
        gate.wait();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      inside.fetch_sub(1);
    };
  };
  s.setLoadHookForTesting(hook(true));
  iad->setLoadHookForTesting(hook(false));
  s.selectedProductDidChange(false);
  ASSERT_TRUE(waitFor([&] { return salesRunning.load(); }));
  iad->selectedProductDidChange(false);
  // The iAd load waits for the sales load's lock.
  KVRMainThread::waitUntil([] { return false; }, 0.05);
  EXPECT_FALSE(iad->loadingData());
  gate.open();
  for (int i = 0; i < 3; ++i) {
    s.selectedProductDidChange(false);
    iad->selectedProductDidChange(false);
  }
  settle(s);
  settle(*iad);
  EXPECT_EQ(maxInside.load(), 1);
  EXPECT_FALSE(controls.displays.empty());
  EXPECT_FALSE(iadControls.displays.empty());
}

TEST_F(PipelineTest, ThreadRebuildsWhileLoadsRun) {
  auto& c = makeSales();
  std::atomic<bool> stop{false};
  std::thread rebuild([&] {
    for (int i = 0; !stop.load(); ++i) {
      HistoryBuilder h;
      for (KVRCivilDay d = civil(2026, 2, 1); d <= civil(2026, 3, 15); ++d) h.sales("EU-FR", d, float(i % 3));
      products[0]->publishValues(h.build(), 1, 0, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  c.setFirstDate(day(2026, 2, 1));
  c.setLastDate(day(2026, 3, 15));
  for (int i = 0; i < 20; ++i) {
    c.changeLastPeriod(i % 2 ? 1 : 6);
    KVRMainThread::waitUntil([] { return false; }, 0.005);
  }
  settle(c);
  stop.store(true);
  rebuild.join();
  ASSERT_FALSE(controls.displays.empty());
  EXPECT_EQ(controls.displays.back().generation, c.loadRequestCount());
}

TEST_F(PipelineTest, ThreadDestroyingTheControllerWhileALoadRunsDropsItsDisplay) {
  auto& c = makeSales();
  Gate gate;
  std::atomic<bool> started{false};
  c.setLoadHookForTesting([&](uint64_t, Phase phase) {
    if (phase != Phase::Running) return;
    started.store(true);
    gate.wait();
  });
  c.selectedProductDidChange(false);
  ASSERT_TRUE(waitFor([&] { return started.load(); }));
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate.open();
  });
  sales.reset();  // waits for its load thread
  opener.join();
  KVRMainThread::waitUntil([] { return false; }, 0.05);
  EXPECT_TRUE(controls.displays.empty());
}
