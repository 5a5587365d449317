#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <thread>

#include "platform/KVRMainThread.h"

TEST(MainThread, PostFromWorkerRunsOnMainThreadLater) {
  ASSERT_TRUE(KVRMainThread::isMainThread());
  std::atomic<int> ran{0};
  std::atomic<bool> onMain{false};
  std::thread worker([&] {
    EXPECT_FALSE(KVRMainThread::isMainThread());
    KVRMainThread::post([&] {
      onMain = KVRMainThread::isMainThread();
      ++ran;
    });
  });
  worker.join();
  EXPECT_EQ(ran.load(), 0);  // queued, not run by the worker
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return ran.load() == 1; }, 5));
  EXPECT_TRUE(onMain.load());
}

TEST(MainThread, PostFromMainThreadIsNeverInline) {
  int ran = 0;
  KVRMainThread::post([&] { ++ran; });
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(KVRMainThread::waitUntil([&] { return ran == 1; }, 5));
}

TEST(MainThread, PostsKeepTheirOrder) {
  std::vector<int> order;
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) KVRMainThread::post([&order, i] { order.push_back(i); });
  });
  worker.join();
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return order.size() == 50; }, 5));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(MainThread, PostAfterFromWorkerWaitsForTheDelay) {
  std::atomic<bool> ran{false};
  std::atomic<bool> onMain{false};
  QElapsedTimer clock;
  clock.start();
  std::thread worker([&] {
    KVRMainThread::postAfter(0.15, [&] {
      onMain = KVRMainThread::isMainThread();
      ran = true;
    });
  });
  worker.join();
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return ran.load(); }, 5));
  EXPECT_GE(clock.elapsed(), 140);
  EXPECT_TRUE(onMain.load());
}

TEST(MainThread, RunAndWaitBlocksWorkerUntilDone) {
  // Inline on the main thread.
  int inlineRan = 0;
  KVRMainThread::runAndWait([&] { ++inlineRan; });
  EXPECT_EQ(inlineRan, 1);

  std::atomic<bool> finished{false};
  int value = 0;
  bool seenAfterReturn = false;
  std::thread worker([&] {
    KVRMainThread::runAndWait([&] {
      EXPECT_TRUE(KVRMainThread::isMainThread());
      value = 42;
    });
    seenAfterReturn = value == 42;
    finished = true;
  });
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return finished.load(); }, 5));
  worker.join();
  EXPECT_TRUE(seenAfterReturn);
}

TEST(MainThread, WaitUntilGivesUpAfterTimeout) {
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(KVRMainThread::waitUntil([] { return false; }, 0.1));
  EXPECT_GE(clock.elapsed(), 90);
  EXPECT_LT(clock.elapsed(), 2000);
}
