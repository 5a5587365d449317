#include <gtest/gtest.h>

#include <QRegularExpression>
#include <thread>

#include "core/KVRVortelyLogCenter.h"

TEST(LogCenter, LineShapeAndOrder) {
  auto& log = KVRVortelyLogCenter::sharedInstance();
  log.clear();
  log.markStart();
  log.addLogEntry(QStringLiteral("selectedProductDidChange start"), false,
                  QStringLiteral("Resume Controller"));
  log.addLogEntry(QStringLiteral("100% done %1"), false, QStringLiteral("Reports Controller"));
  const QStringList lines = log.lines();
  ASSERT_EQ(lines.size(), 2);
  const QRegularExpression shape(
      QStringLiteral("^.+ - \\[0s\\] Resume Controller - selectedProductDidChange start$"));
  EXPECT_TRUE(shape.match(lines[0]).hasMatch()) << lines[0].toStdString();
  // Placeholders in the message are kept as written.
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral("[0s] Reports Controller - 100% done %1")))
      << lines[1].toStdString();
  log.clear();
  EXPECT_TRUE(log.lines().isEmpty());
}

TEST(LogCenter, ManyThreadsLoseNoLine) {
  auto& log = KVRVortelyLogCenter::sharedInstance();
  log.clear();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log] {
      for (int i = 0; i < 250; ++i)
        log.addLogEntry(QStringLiteral("line"), false, QStringLiteral("Test"));
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(log.lines().size(), 1000);
  log.clear();
}
