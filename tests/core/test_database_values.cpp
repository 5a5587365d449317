// Values a store holds that the program cannot use: a financial report's line
// without a date, counts and amounts no line can hold, a reconciled amount
// that is not money, a financial report stored twice, lines of no report.
// Whichever way the lines are read (from the file's pages or through SQLite),
// each is left out or counted as the open says, the user is told once, and
// nothing of it is written back.
#include <QFile>
#include <QTemporaryDir>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }

const KVRDate kMarch1(1330560000000.0), kMarch31(1333152000000.0);
const QString kDated = "Dev-80000001_0312_US.txt", kNumbers = "Dev-80000001_0312_EU.txt",
              kTwice = "Dev-80000001_0312_JP.txt";

KVRReport* reportNamed(const QString& name) {
  for (KVRReport* r : dm().reports())
    if (r->filename == name) return r;
  return nullptr;
}

// Every value of the Report table, with its kind and exact bits.
std::vector<std::string> reportTable(const QString& path) {
  SQLite::Database db(path.toStdString(), SQLite::OPEN_READONLY);
  SQLite::Statement q(db, "SELECT * FROM Report ORDER BY id");
  std::vector<std::string> values;
  while (q.executeStep()) {
    for (int c = 0; c < q.getColumnCount(); ++c) {
      const SQLite::Column col = q.getColumn(c);
      std::string v = std::to_string(col.getType()) + ":";
      if (col.isFloat()) {
        const double d = col.getDouble();
        v.append(reinterpret_cast<const char*>(&d), sizeof d);
      } else {
        v += col.getString();
      }
      values.push_back(v);
    }
  }
  return values;
}

// Replaces the 8 bytes of a stored REAL in the file with a NaN (SQLite never
// writes one; another program might).
void plantNaN(const QString& path, double stored) {
  uint64_t bits;
  std::memcpy(&bits, &stored, sizeof bits);
  QByteArray needle(8, '\0'), nan(8, '\0');
  for (int i = 0; i < 8; ++i) needle[i] = char(bits >> (56 - 8 * i));
  nan[0] = char(0x7f), nan[1] = char(0xf8);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  QByteArray bytes = f.readAll();
  const qsizetype at = bytes.indexOf(needle);
  ASSERT_GE(at, 0);
  ASSERT_EQ(bytes.indexOf(needle, at + 1), -1);
  f.seek(at);
  f.write(nan);
}

class StoredValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("Vortely.sqlite");
  }
  void TearDown() override { dm().closeStore(); }

  // The store, made through the program, then changed as another program
  // might: the rows named by `bad` get values no line can hold.
  void write() {
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    KVRStoreAccount* account = dm().insertStoreAccount();
    account->developer = "Dev";
    KVRVortelyManagedProduct* p = dm().insertProduct(account);
    p->idStore = 7;
    auto report = [&](const QString& name, int type) {
      KVRReport* r = dm().insertReport();
      r->filename = name;
      r->type = type;
      r->account = account;
      r->beginDate = kMarch1;
      r->endDate = kMarch31;
      return r;
    };
    auto line = [&](KVRReport* r, int count, int income, bool dated = true) {
      KVRReportEntry* e = dm().insertReportEntry(r, p);
      e->type = KVREntryTypeSale;
      e->count = count;
      e->income = income;
      e->currency = "USD";
      if (dated) e->beginDate = kMarch1, e->endDate = kMarch31;
      return e;
    };
    KVRReport* dated = report(kDated, KVRReportTypeFinancial);
    line(dated, 2, 150);
    line(dated, 1, 100, false);
    KVRReport* numbers = report(kNumbers, KVRReportTypeFinancial);
    line(numbers, 3, 70);
    std::vector<KVRReportEntry*> bad;
    for (int i = 0; i < 7; ++i) bad.push_back(line(numbers, 1, 1));
    line(report(kTwice, KVRReportTypeFinancial), 4, 10);
    line(report(kTwice, KVRReportTypeFinancial), 5, 10);
    KVRReport* ads = report("Dev-ads", KVRReportTypeIAd);
    KVRiAdReportEntry* ad = dm().insertIAdReportEntry(ads, p);
    ad->date = kMarch1;
    std::vector<KVRReport*> payments;
    for (int i = 0; i < 5; ++i) payments.push_back(report(QStringLiteral("Dev-payment-%1").arg(i), KVRReportTypePayment));
    payments[4]->status = KVRReportStatusPointed;
    payments[4]->pointedIncome = 12.5f;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    const int64_t productId = p->objectID;
    std::vector<int64_t> badIds, paymentIds;
    for (KVRReportEntry* e : bad) badIds.push_back(e->objectID);
    for (KVRReport* r : payments) paymentIds.push_back(r->objectID);
    const int64_t adId = ad->objectID;
    dm().closeStore();

    {
      SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE);
      raw.exec("PRAGMA journal_mode = DELETE");
      const char* lineValues[] = {"count = 1099511627776", "income = 1e308", "income = 'abc'", "count = 2.5",
                                  "income = 9e999", "income = -9e999", "income = 12345.678"};
      for (size_t i = 0; i < badIds.size(); ++i)
        raw.exec(std::string("UPDATE ReportEntry SET ") + lineValues[i] + " WHERE id = " + std::to_string(badIds[i]));
      raw.exec("UPDATE iAdReportEntry SET revenue = 1e308 WHERE id = " + std::to_string(adId));
      const char* amounts[] = {"9e999", "-9e999", "23456.789", "-7"};
      for (size_t i = 0; i < 4; ++i)
        raw.exec(std::string("UPDATE Report SET pointedIncome = ") + amounts[i] +
                 " WHERE id = " + std::to_string(paymentIds[i]));
      raw.exec("INSERT INTO ReportEntry (product_id, report_id, type, count, income, currency, beginDate)"
               " VALUES (" + std::to_string(productId) + ", 999999, 1, 1, 1, 'USD', 1330560000000.0)");
    }
    plantNaN(path_, 12345.678);
    plantNaN(path_, 23456.789);
  }

  QTemporaryDir dir_;
  QString path_;
};

TEST_F(StoredValuesTest, UnusableValuesAreLeftOutToldOnceAndNeverWritten) {
  write();
  const std::vector<std::string> before = reportTable(path_);
  for (bool throughSQLite : {false, true}) {
    SCOPED_TRACE(throughSQLite ? "through SQLite" : "from the pages");
    // Frames in a write-ahead log beside the file make the load read the
    // lines through SQLite.
    std::unique_ptr<SQLite::Database> writer;
    if (throughSQLite) {
      writer = std::make_unique<SQLite::Database>(path_.toStdString(), SQLite::OPEN_READWRITE);
      writer->exec("PRAGMA journal_mode = WAL");
      writer->exec("PRAGMA wal_autocheckpoint = 0");
      writer->exec("UPDATE StoreAccount SET name = 'Main'");
    }
    KVRVortelyLogCenter::sharedInstance().clear();
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    const QString log = KVRVortelyLogCenter::sharedInstance().lines().join('\n');
    EXPECT_EQ(log.contains("Report lines read through SQLite"), throughSQLite);

    // The line without a date is left out; the report keeps its lines' date.
    KVRVortelyManagedProduct* p = dm().products().at(0);
    KVRReport* dated = reportNamed(kDated);
    ASSERT_NE(dated, nullptr);
    ASSERT_EQ(dated->entries.size(), 1u);
    EXPECT_EQ(dated->entries[0]->count, 2);
    EXPECT_TRUE(log.contains("Report \"" + kDated + "\": 1 lines without a date left out")) << log.toStdString();
    // A report stored twice counts once: the first, with its own lines.
    int twice = 0;
    for (KVRReport* r : p->financialReports()) twice += r->filename == kTwice;
    EXPECT_EQ(twice, 1);
    ASSERT_EQ(reportNamed(kTwice)->entries.size(), 1u);
    EXPECT_EQ(reportNamed(kTwice)->entries[0]->count, 4);
    EXPECT_TRUE(log.contains("Report \"" + kTwice + "\" is stored twice")) << log.toStdString();
    EXPECT_EQ(dated->beginDate, kMarch1);
    // 2^40, 1e308, text, 2.5, +Inf, -Inf and NaN: none of them is a line.
    KVRReport* numbers = reportNamed(kNumbers);
    ASSERT_EQ(numbers->entries.size(), 1u);
    EXPECT_EQ(numbers->entries[0]->count, 3);
    EXPECT_EQ(numbers->entries[0]->income, 70);
    EXPECT_TRUE(p->iAdEntries.empty());
    // The orphan line is kept and logged.
    EXPECT_TRUE(log.contains("1 report lines belong to no report that exists (report ids 999999)")) << log.toStdString();
    // Reconciled amounts that are not money received read as not reconciled.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(reportNamed(QStringLiteral("Dev-payment-%1").arg(i))->pointedIncome, -1.0f) << i;
    EXPECT_EQ(reportNamed("Dev-payment-4")->pointedIncome, 12.5f);

    // One notice, naming the reports and counting the lines.
    const auto notice = dm().takeLoadNotice();
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(notice->title, "Some report lines could not be read");
    EXPECT_TRUE(notice->text.startsWith("8 report lines hold a count or an amount")) << notice->text.toStdString();
    EXPECT_TRUE(notice->text.contains("Reports concerned (2): “" + kNumbers + "”, “Dev-ads”.")) << notice->text.toStdString();
    EXPECT_FALSE(dm().takeLoadNotice().has_value());

    // A later save of the reports (as a quit after any edit would do) leaves
    // the Report table as it was, to the byte. But for the NaN: SQLite itself
    // reads it as NULL, which the row may not hold; once its report is
    // written (the second time round), it is -1, not reconciled.
    for (KVRReport* r : dm().reports())
      if (throughSQLite || r->filename != "Dev-payment-2") dm().markChanged(r);
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
    writer.reset();
    const std::vector<std::string> after = reportTable(path_);
    ASSERT_EQ(after.size(), before.size());
    std::vector<size_t> changed;
    for (size_t i = 0; i < after.size(); ++i)
      if (after[i] != before[i]) changed.push_back(i);
    if (!throughSQLite) {
      EXPECT_TRUE(changed.empty());
    } else {
      ASSERT_EQ(changed.size(), 1u);
      SQLite::Database db(path_.toStdString(), SQLite::OPEN_READONLY);
      EXPECT_EQ(db.execAndGet("SELECT pointedIncome FROM Report WHERE filename = 'Dev-payment-2'").getDouble(), -1.0);
    }
  }
}

}  // namespace

namespace {

// A NULL where the layout forbids one: the load reads past it (the amount is
// not money), the integrity check that runs after the open does not.
TEST_F(StoredValuesTest, DamageFoundAfterTheOpenStopsEveryWrite) {
  QString error;
  ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
  KVRReport* r = dm().insertReport();
  r->filename = "Dev-payment";
  r->pointedIncome = 23456.789f;
  ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  dm().closeStore();
  {
    SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE);
    raw.exec("PRAGMA journal_mode = DELETE");
  }
  plantNaN(path_, double(23456.789f));
  {
    SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE);
    raw.exec("UPDATE Report SET type = type");  // SQLite reads the NaN as NULL and writes that
  }
  const QByteArray before = [&] {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();

  ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
  ASSERT_NE(reportNamed("Dev-payment"), nullptr);
  // An edit made before the check has ended waits for it, then is refused.
  dm().insertStoreAccount()->name = "New";
  EXPECT_FALSE(dm().save(&error));
  EXPECT_TRUE(error.contains("is damaged (NULL value in Report.pointedIncome)")) << error.toStdString();
  EXPECT_FALSE(dm().saveReportState(reportNamed("Dev-payment"), {}, &error));
  QString problems;
  EXPECT_FALSE(dm().waitForIntegrityCheck(&problems));
  EXPECT_TRUE(problems.contains("damaged")) << problems.toStdString();
  dm().closeStore();
  QFile f(path_);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll() == before);
  EXPECT_FALSE(QFile::exists(path_ + "-wal"));
  EXPECT_FALSE(QFile::exists(path_ + "-shm"));
}

}  // namespace
