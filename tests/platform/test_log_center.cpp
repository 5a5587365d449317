#include <gtest/gtest.h>

#include <QRegularExpression>
#include <chrono>
#include <thread>

#include "platform/KVRVortelyLogCenter.h"

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
      QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 - \\[0s\\] Resume Controller - selectedProductDidChange start$"));
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

TEST(LogCenter, SecondsSinceStartAndConsoleOnlyWhenAsked) {
  auto& log = KVRVortelyLogCenter::sharedInstance();
  log.clear();
  log.markStart();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  testing::internal::CaptureStderr();
  log.addLogEntry(QStringLiteral("quiet"), false, QStringLiteral("Financials Controller"));
  log.addLogEntry(QStringLiteral("loud"), true, QStringLiteral("Financials Controller"));
  const std::string console = testing::internal::GetCapturedStderr();
  const QStringList lines = log.lines();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].contains(QStringLiteral(" - [1s] Financials Controller - quiet")));
  EXPECT_EQ(console.find("quiet"), std::string::npos);
  EXPECT_NE(console.find("[1s] Financials Controller - loud"), std::string::npos);
  log.clear();
}
