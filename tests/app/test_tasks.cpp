// Tasks and the task manager: numbering, announcements on the main thread,
// cancel and pause.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <thread>

#include "core/KVRNotifications.h"
#include "core/KVRTask.h"
#include "core/KVRTaskManager.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"

namespace {

TEST(Tasks, ManagerNumbersRegistersOnceAndRemoves) {
  auto& manager = KVRTaskManager::sharedInstance();
  auto a = std::make_shared<KVRTask>("A");
  auto b = std::make_shared<KVRTask>("B");
  EXPECT_EQ(a->identifier(), 0);
  manager.registerTask(a);
  manager.registerTask(b);
  manager.registerTask(a);
  EXPECT_GT(a->identifier(), 0);
  EXPECT_EQ(b->identifier(), a->identifier() + 1);
  ASSERT_EQ(manager.tasks().size(), 2u);
  EXPECT_EQ(manager.tasks()[0], a);
  EXPECT_EQ(manager.taskWithIdentifier(b->identifier()), b);
  manager.unregisterTask(a);
  manager.unregisterTask(a);
  EXPECT_EQ(manager.tasks(), (std::vector<std::shared_ptr<KVRTask>>{b}));
  manager.unregisterTask(b);
  EXPECT_TRUE(manager.tasks().empty());
  KVRMainThread::waitUntil([] { return false; }, 0.05);  // drain the announcements
}

TEST(Tasks, ListChangesAreAnnouncedOnTheMainThread) {
  int onMain = 0, elsewhere = 0;
  int token = 0;
  KVRNotificationCenter::defaultCenter().addObserver(&token, KVRTaskManagerTaskListDidChange, nullptr,
                                                      [&](const KVRNotification&) {
                                                        (KVRMainThread::isMainThread() ? onMain : elsewhere)++;
                                                      });
  auto task = std::make_shared<KVRTask>("Worker");
  std::thread worker([&] {
    KVRTaskManager::sharedInstance().registerTask(task);
    KVRTaskManager::sharedInstance().unregisterTask(task);
  });
  worker.join();
  EXPECT_EQ(onMain, 0);  // queued, never delivered inline
  EXPECT_TRUE(KVRMainThread::waitUntil([&] { return onMain == 2; }, 5));
  EXPECT_EQ(elsewhere, 0);
  KVRNotificationCenter::defaultCenter().removeObserver(&token);
}

TEST(Tasks, CancelProgressAndPause) {
  KVRTask fixed("Saving database", false);
  fixed.cancel();
  EXPECT_FALSE(fixed.isCancelled());

  KVRTask task("Updating");
  task.setProgress(1.5f);
  EXPECT_EQ(task.progress(), 1.0f);
  task.setProgress(-1.0f);
  EXPECT_EQ(task.progress(), 0.0f);
  task.setProgress(std::nanf(""));
  EXPECT_EQ(task.progress(), 0.0f);

  // A paused worker wakes up when cancelled.
  task.setPaused(true);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    task.waitWhilePaused();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done);
  task.cancel();
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_TRUE(task.isCancelled());
}

}  // namespace
