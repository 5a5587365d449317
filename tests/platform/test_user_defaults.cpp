#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <thread>

#include "platform/KVRUserDefaults.h"

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.filePath(QStringLiteral("defaults.ini"));
    KVRUserDefaults::standard().useFile(path_);
  }
  QTemporaryDir dir_;
  QString path_;
};

TEST_F(UserDefaultsTest, AbsentKeysReadAsNothing) {
  auto& d = KVRUserDefaults::standard();
  const QString k = QStringLiteral("KVRNeverWritten");
  EXPECT_FALSE(d.hasKey(k));
  EXPECT_EQ(d.integerForKey(k), 0);
  EXPECT_FALSE(d.boolForKey(k));
  EXPECT_EQ(d.floatForKey(k), 0.0f);
  EXPECT_EQ(d.doubleForKey(k), 0.0);
  EXPECT_TRUE(d.stringForKey(k).isNull());
  EXPECT_FALSE(d.dateForKey(k).isValid());
  EXPECT_TRUE(d.arrayForKey(k).isEmpty());
  EXPECT_FALSE(d.objectForKey(k).isValid());
}

TEST_F(UserDefaultsTest, WrongKindsReadAsNothing) {
  auto& d = KVRUserDefaults::standard();
  d.setString(QStringLiteral("text"), QStringLiteral("hello"));
  d.setArray(QStringLiteral("list"), {1, 2});
  d.setInteger(QStringLiteral("number"), 7);
  EXPECT_EQ(d.integerForKey(QStringLiteral("text")), 0);
  EXPECT_FALSE(d.boolForKey(QStringLiteral("text")));
  EXPECT_EQ(d.doubleForKey(QStringLiteral("text")), 0.0);
  EXPECT_FALSE(d.dateForKey(QStringLiteral("text")).isValid());
  EXPECT_TRUE(d.arrayForKey(QStringLiteral("text")).isEmpty());
  EXPECT_EQ(d.integerForKey(QStringLiteral("list")), 0);
  EXPECT_TRUE(d.stringForKey(QStringLiteral("list")).isNull());
  EXPECT_TRUE(d.arrayForKey(QStringLiteral("number")).isEmpty());
  EXPECT_FALSE(d.dateForKey(QStringLiteral("number")).isValid());
}

TEST_F(UserDefaultsTest, ValuesSurviveTheFile) {
  auto& d = KVRUserDefaults::standard();
  const KVRDate when(1325419200123.0);  // with milliseconds
  QVariantMap account{{QStringLiteral("Label"), QStringLiteral("Main")},
                      {QStringLiteral("CurrencyLocked"), true}};
  d.setInteger(QStringLiteral("KVRDashboardSelectedValue"), 12);
  d.setBool(QStringLiteral("KVRVortelyRoundValues"), true);
  d.setBool(QStringLiteral("off"), false);
  d.setDouble(QStringLiteral("ratio"), 0.25);
  d.setFloat(QStringLiteral("f"), 1.5f);
  d.setString(QStringLiteral("name"), QStringLiteral("Zoë"));
  d.setDate(QStringLiteral("KVRDashboardStartDate"), when);
  d.setArray(QStringLiteral("FinancialAccounts"), {account});
  d.setArray(QStringLiteral("one"), {QStringLiteral("single")});
  d.synchronize();

  // Re-open: values now come back from the text of the file.
  KVRUserDefaults::standard().useFile(path_);
  EXPECT_EQ(d.integerForKey(QStringLiteral("KVRDashboardSelectedValue")), 12);
  EXPECT_TRUE(d.boolForKey(QStringLiteral("KVRVortelyRoundValues")));
  EXPECT_FALSE(d.boolForKey(QStringLiteral("off")));
  EXPECT_TRUE(d.hasKey(QStringLiteral("off")));
  EXPECT_DOUBLE_EQ(d.doubleForKey(QStringLiteral("ratio")), 0.25);
  EXPECT_EQ(d.floatForKey(QStringLiteral("f")), 1.5f);
  EXPECT_EQ(d.stringForKey(QStringLiteral("name")), QStringLiteral("Zoë"));
  EXPECT_EQ(d.dateForKey(QStringLiteral("KVRDashboardStartDate")).ms, when.ms);
  const QVariantList accounts = d.arrayForKey(QStringLiteral("FinancialAccounts"));
  ASSERT_EQ(accounts.size(), 1);
  EXPECT_EQ(accounts[0].toMap().value(QStringLiteral("Label")).toString(), QStringLiteral("Main"));
  EXPECT_TRUE(accounts[0].toMap().value(QStringLiteral("CurrencyLocked")).toBool());
  const QVariantList one = d.arrayForKey(QStringLiteral("one"));
  ASSERT_EQ(one.size(), 1);
  EXPECT_EQ(one[0].toString(), QStringLiteral("single"));
}

TEST_F(UserDefaultsTest, InvalidDateAndRemovalClearTheKey) {
  auto& d = KVRUserDefaults::standard();
  d.setDate(QStringLiteral("d"), KVRDate(0.0));
  EXPECT_TRUE(d.hasKey(QStringLiteral("d")));
  EXPECT_EQ(d.dateForKey(QStringLiteral("d")).ms, 0.0);
  d.setDate(QStringLiteral("d"), KVRDate::none());
  EXPECT_FALSE(d.hasKey(QStringLiteral("d")));
  d.setInteger(QStringLiteral("n"), 3);
  d.removeObjectForKey(QStringLiteral("n"));
  EXPECT_EQ(d.integerForKey(QStringLiteral("n")), 0);
}

TEST_F(UserDefaultsTest, ManyThreadsWriteAndRead) {
  auto& d = KVRUserDefaults::standard();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&d, t] {
      const QString key = QStringLiteral("thread%1").arg(t);
      for (int i = 0; i < 300; ++i) {
        d.setInteger(key, i);
        EXPECT_EQ(d.integerForKey(key), i);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(d.integerForKey(QStringLiteral("thread%1").arg(t)), 299);
}

TEST(UserDefaultsStandard, LivesInTheApplicationsConfigFolder) {
  // The standard file is "Pelliro/Vortely.ini" under the XDG config folder.
  QSettings probe(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Pelliro"),
                  QStringLiteral("Vortely"));
  EXPECT_TRUE(probe.fileName().endsWith(QStringLiteral("Pelliro/Vortely.ini")));
  EXPECT_TRUE(probe.fileName().startsWith(QDir::fromNativeSeparators(qEnvironmentVariable("XDG_CONFIG_HOME"))));
}
