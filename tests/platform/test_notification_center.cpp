#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"

namespace {
const QString kName = QStringLiteral("KVRTestNotification");
}

TEST(NotificationCenter, MatchesByNameAndObject) {
  auto& center = KVRNotificationCenter::defaultCenter();
  int anyObject = 0, onlyA = 0, other = 0;
  int a = 0, b = 0;
  const int o1 = 0, o2 = 0, o3 = 0;
  center.addObserver(&o1, kName, nullptr, [&](const KVRNotification&) { ++anyObject; });
  center.addObserver(&o2, kName, &a, [&](const KVRNotification&) { ++onlyA; });
  center.addObserver(&o3, QStringLiteral("Other"), nullptr, [&](const KVRNotification&) { ++other; });

  center.postNotification(kName, &a);
  center.postNotification(kName, &b);
  center.postNotification(kName);
  EXPECT_EQ(anyObject, 3);
  EXPECT_EQ(onlyA, 1);
  EXPECT_EQ(other, 0);

  center.removeObserver(&o1, QStringLiteral("Unrelated"));
  center.postNotification(kName, &a);
  EXPECT_EQ(anyObject, 4);
  center.removeObserver(&o1, kName);
  center.removeObserver(&o2);
  center.removeObserver(&o3);
  center.postNotification(kName, &a);
  EXPECT_EQ(anyObject, 4);
  EXPECT_EQ(onlyA, 2);
}

TEST(NotificationCenter, CarriesUserInfoAndObject) {
  auto& center = KVRNotificationCenter::defaultCenter();
  const int observer = 0;
  const int sender = 0;
  KVRNotification seen;
  center.addObserver(&observer, kName, nullptr, [&](const KVRNotification& n) { seen = n; });
  center.postNotification(kName, &sender, {{QStringLiteral("count"), 3}});
  center.removeObserver(&observer);
  EXPECT_EQ(seen.name, kName);
  EXPECT_EQ(seen.object, &sender);
  EXPECT_EQ(seen.userInfo.value(QStringLiteral("count")).toInt(), 3);
}

TEST(NotificationCenter, RemovalInsideHandlerStopsLaterDeliveryWithoutDeadlock) {
  auto& center = KVRNotificationCenter::defaultCenter();
  const int first = 0, second = 0;
  int firstCalls = 0, secondCalls = 0;
  center.addObserver(&first, kName, nullptr, [&](const KVRNotification&) {
    ++firstCalls;
    center.removeObserver(&second);  // second is in this post's snapshot
    center.removeObserver(&first);   // removing itself
  });
  center.addObserver(&second, kName, nullptr, [&](const KVRNotification&) { ++secondCalls; });
  center.postNotification(kName);
  center.postNotification(kName);
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenter, ObserverAddedDuringPostWaitsForTheNextPost) {
  auto& center = KVRNotificationCenter::defaultCenter();
  const int first = 0, late = 0;
  int lateCalls = 0;
  center.addObserver(&first, kName, nullptr, [&](const KVRNotification&) {
    center.removeObserver(&first);
    center.addObserver(&late, kName, nullptr, [&](const KVRNotification&) { ++lateCalls; });
  });
  center.postNotification(kName);
  EXPECT_EQ(lateCalls, 0);
  center.postNotification(kName);
  EXPECT_EQ(lateCalls, 1);
  center.removeObserver(&late);
}

TEST(NotificationCenter, SendFromWorkerThreadDeliversOnMainThread) {
  auto& center = KVRNotificationCenter::defaultCenter();
  const int observer = 0;
  std::atomic<int> calls{0};
  std::atomic<bool> onMain{false};
  QString seenValue;
  center.addObserver(&observer, kName, nullptr, [&](const KVRNotification& n) {
    onMain = KVRMainThread::isMainThread();
    seenValue = n.userInfo.value(QStringLiteral("k")).toString();
    ++calls;
  });
  std::thread worker([&] {
    KVRNotificationEnvelope envelope;
    envelope.NotificationName = kName;
    envelope.NotificationUserInfo = {{QStringLiteral("k"), QStringLiteral("v")}};
    center.sendNotification(envelope);
  });
  worker.join();
  EXPECT_EQ(calls.load(), 0);
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return calls.load() == 1; }, 5));
  EXPECT_TRUE(onMain.load());
  EXPECT_EQ(seenValue, QStringLiteral("v"));
  center.removeObserver(&observer);
}

TEST(NotificationCenter, ConcurrentPostsAndRegistrations) {
  auto& center = KVRNotificationCenter::defaultCenter();
  std::atomic<int> calls{0};
  const int base = 0;
  center.addObserver(&base, kName, nullptr, [&](const KVRNotification&) { ++calls; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const int mine = t;
      for (int i = 0; i < 200; ++i) {
        center.addObserver(&mine, kName, nullptr, [](const KVRNotification&) {});
        center.postNotification(kName);
        center.removeObserver(&mine);
      }
    });
  }
  for (auto& th : threads) th.join();
  center.removeObserver(&base);
  EXPECT_EQ(calls.load(), 800);
}
