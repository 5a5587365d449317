#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "platform/KVRSupportFolder.h"
#include "reports/KVRVortelyReportsManager.h"

namespace {

using Manager = KVRVortelyReportsManager;

QStringList reportsFolderEntries() {
  return QDir(Manager::reportsFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

TEST(ReportsManager, FinancialFolderIsCreatedWithAllSubfolders) {
  EXPECT_EQ(Manager::reportsFolder(), KVRSupportFolder::path() + "/Reports");
  const QString financial = Manager::financialReportsSaveFolderForDevName("acct-1");
  ASSERT_FALSE(financial.isNull());
  EXPECT_EQ(financial, Manager::reportsFolder() + "/acct-1/Financial");
  for (const char* sub : {"Daily", "Weekly", "Monthly", "Financial", "iAd"})
    EXPECT_TRUE(QFileInfo(Manager::reportsFolder() + "/acct-1/" + sub).isDir()) << sub;
  // A second call finds the folders in place, and keeps their files.
  QFile file(financial + "/report.txt");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.close();
  EXPECT_EQ(Manager::financialReportsSaveFolderForDevName("acct-1"), financial);
  EXPECT_TRUE(QFileInfo::exists(financial + "/report.txt"));
  // A missing subfolder is made again.
  ASSERT_TRUE(QDir(Manager::reportsFolder() + "/acct-1/Weekly").removeRecursively());
  EXPECT_EQ(Manager::financialReportsSaveFolderForDevName("acct-1"), financial);
  EXPECT_TRUE(QFileInfo(Manager::reportsFolder() + "/acct-1/Weekly").isDir());
}

TEST(ReportsManager, RefusesNamesThatAreNoPlainFolderName) {
  QDir().mkpath(Manager::reportsFolder());
  const QStringList before = reportsFolderEntries();
  const QString supportBefore = QDir(KVRSupportFolder::path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join('|');
  for (const QString& name :
       {QString(), QString(""), QString("/"), QString("."), QString(".."), QString("a/b"),
        QString("../escape"), QString("a\\b"), QString("/tmp"), QString("nul") + QChar(0) + "x"}) {
    EXPECT_TRUE(Manager::financialReportsSaveFolderForDevName(name).isNull()) << name.toStdString();
    EXPECT_TRUE(Manager::accountFolderForDevName(name).isNull()) << name.toStdString();
  }
  EXPECT_EQ(reportsFolderEntries(), before);
  EXPECT_EQ(QDir(KVRSupportFolder::path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join('|'),
            supportBefore);
  EXPECT_FALSE(QFileInfo::exists(Manager::reportsFolder() + "/a"));
  // Dots and spaces inside a name are fine.
  EXPECT_FALSE(Manager::financialReportsSaveFolderForDevName("My Company.. Ltd").isNull());
}

TEST(ReportsManager, FailureToCreateGivesNull) {
  // A file in the way of the account folder.
  QDir().mkpath(Manager::reportsFolder());
  QFile blocker(Manager::reportsFolder() + "/blocked");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_TRUE(Manager::financialReportsSaveFolderForDevName("blocked").isNull());
}

TEST(AccountKey, Sha1OfKnownTexts) {
  EXPECT_EQ(KVRSha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(KVRSha1Hex(QByteArray()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  // Every byte counts, a zero byte too.
  EXPECT_EQ(KVRSha1Hex(QByteArray("a\0b", 3)), "4a3dec2d1f8245280855c42db0ee4239f917fdb8");
  EXPECT_NE(KVRSha1Hex(QByteArray("a\0b", 3)), KVRSha1Hex("a"));
}

TEST(AccountKey, StableLowercaseHexPerObjectID) {
  const QRegularExpression hex40("^[0-9a-f]{40}$");
  KVRStoreAccount a;
  a.objectID = 7;
  a.name = "Apple account";
  KVRStoreAccount b;
  b.objectID = 8;
  b.name = "Apple account";
  EXPECT_EQ(KVRAccountObjectIDText(a), "x-vortely://StoreAccount/p7");
  const QString key = KVRAccountKey(a);
  EXPECT_TRUE(hex40.match(key).hasMatch()) << key.toStdString();
  EXPECT_EQ(key, KVRSha1Hex("x-vortely://StoreAccount/p7"));
  EXPECT_NE(KVRAccountKey(b), key);
  a.name = "Renamed";
  EXPECT_EQ(KVRAccountKey(a), key);  // the key does not follow the name
  // An account not yet saved has no key, so it never shares another's folder.
  KVRStoreAccount unsaved;
  EXPECT_TRUE(KVRAccountKey(unsaved).isNull());
  EXPECT_TRUE(Manager::financialReportsSaveFolderForDevName(KVRAccountKey(unsaved)).isNull());
  EXPECT_FALSE(Manager::financialReportsSaveFolderForDevName(key).isNull());
}

}  // namespace
