// The background load: what a completed load hands to the display, and the
// cancellation and serialisation of loads running on their own threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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
void settle(KVRVortelyResumeController& c) {
  EXPECT_TRUE(c.waitForLoads(10));
  KVRMainThread::waitUntil([] { return false; }, 0.05);
}

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

TEST_F(PipelineTest, CancelSeenAfterTheLockWasReleasedDisplaysNothing) {
  // The first load is cancelled while it runs, but by the time it looks at the
  // flag the next load has already cleared it: only the next one may display.
  auto& c = makeSales();
  Gate gate;
  std::atomic<uint64_t> running{0};
  c.setLoadHookForTesting([&](uint64_t g, Phase phase) {
    if (phase == Phase::Running) {
      running.store(g);
      if (g == 1) gate.wait();
    } else if (g == 1) {
      for (int i = 0; i < 1000 && running.load() != 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  c.selectedProductDidChange(false);
  ASSERT_TRUE(waitFor([&] { return running.load() == 1; }));
  c.selectedProductDidChange(false);
  gate.open();
  settle(c);
  ASSERT_EQ(controls.displays.size(), 1u);
  EXPECT_EQ(controls.displays[0].generation, 2u);
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
