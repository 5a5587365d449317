// Opening a store reads its report lines straight from the file's pages when
// the file is plainly laid out, and through SQLite otherwise: both give the
// same lines, in the same order, with the same values.
#include <QFileInfo>
#include <QTemporaryDir>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>

#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }

using LineRow = std::tuple<int64_t, int64_t, QString, int, int, int, int, QString, bool, QString, bool, uint64_t, uint64_t>;

uint64_t bitsOf(KVRDate d) {
  uint64_t b;
  std::memcpy(&b, &d.ms, sizeof b);
  return d.isValid() ? b : 0;
}

// Every line, by product (relationship order), then the lines without product by report.
std::vector<LineRow> snapshot() {
  std::vector<LineRow> rows;
  auto add = [&](const KVRReportEntry* e) {
    rows.emplace_back(e->objectID, e->product ? e->product->idStore : -1, e->report ? e->report->filename : QString(),
                      e->type, e->subType, e->count, e->income, e->currency, e->currency.isNull(), e->country,
                      e->country.isNull(), bitsOf(e->beginDate), bitsOf(e->endDate));
  };
  for (KVRVortelyManagedProduct* p : dm().products())
    for (const KVRReportEntry* e : p->entries) add(e);
  for (KVRReport* r : dm().reports())
    for (const KVRReportEntry* e : r->entries)
      if (!e->product) add(e);
  return rows;
}

class DatabaseLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("Vortely.sqlite");
  }
  void TearDown() override { dm().closeStore(); }

  // A store with lines of every odd kind; with `longText`, one line whose
  // text does not fit on a page.
  void write(bool longText) {
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    std::vector<KVRVortelyManagedProduct*> products;
    for (int i = 0; i < 3; ++i) {
      products.push_back(dm().insertProduct(nullptr));
      products.back()->idStore = 500 + i;
    }
    std::vector<KVRReport*> reports;
    for (int i = 0; i < 40; ++i) {
      reports.push_back(dm().insertReport());
      reports.back()->filename = QStringLiteral("Dev-report %1.txt").arg(i);
    }
    const int64_t counts[] = {0, 1, -1, 127, 128, -129, 32767, -32768, 2147483647, -2147483647 - 1, 40000};
    const char* texts[] = {"USD", "EUR", "", "€uro", "日本"};
    for (int i = 0; i < 6000; ++i) {
      KVRReportEntry* e = dm().insertReportEntry(i % 97 == 0 ? nullptr : reports[size_t(i % 40)],
                                                 i % 89 == 0 ? nullptr : products[size_t(i % 3)]);
      e->type = i % 11;
      e->subType = i % 7;
      e->count = int(counts[i % 11]);
      e->income = i % 5 == 0 ? 0 : 99 * i;
      if (i % 13) e->currency = QString::fromUtf8(texts[i % 5]);
      if (i % 17) e->country = i % 2 ? "US" : "FR";
      if (i % 19) e->beginDate = KVRDate(1.7e12 + 86400000.0 * (i % 700) + (i % 3 ? 0.5 : 0.0));
      if (i % 23) e->endDate = KVRDate(double(int64_t(1.7e12) + int64_t(3600000) * i));
    }
    if (longText) {
      KVRReportEntry* e = dm().insertReportEntry(reports[0], products[0]);
      e->currency = QString(6000, QLatin1Char('X'));
    }
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
    dm().closeStore();
  }
  void setPageSize(int bytes) {
    SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE);
    raw.exec("PRAGMA journal_mode = DELETE");
    raw.exec("PRAGMA page_size = " + std::to_string(bytes));
    raw.exec("VACUUM");
    raw.exec("PRAGMA journal_mode = WAL");
  }
  // Opens the store; whether its lines went through SQLite.
  std::vector<LineRow> open(bool* throughSQLite) {
    KVRVortelyLogCenter::sharedInstance().clear();
    QString error;
    EXPECT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    *throughSQLite = KVRVortelyLogCenter::sharedInstance().lines().join('\n').contains("Report lines read through SQLite");
    std::vector<LineRow> rows = snapshot();
    dm().closeStore();
    return rows;
  }

  QTemporaryDir dir_;
  QString path_;
};

TEST_F(DatabaseLoad, LinesReadFromPagesAreThoseSQLiteReads) {
  write(false);
  for (int pageSize : {512, 4096, 65536}) {
    setPageSize(pageSize);
    bool viaSQLite = true;
    const std::vector<LineRow> fromPages = open(&viaSQLite);
    EXPECT_FALSE(viaSQLite) << pageSize;
    ASSERT_EQ(fromPages.size(), 5999u);  // the first line belongs to neither a product nor a report
    // A write-ahead log with frames beside the file: its pages may be newer
    // than the file's, so SQLite reads.
    SQLite::Database writer(path_.toStdString(), SQLite::OPEN_READWRITE);
    writer.exec("PRAGMA wal_autocheckpoint = 0");
    writer.exec("UPDATE Report SET type = type + 1");
    writer.exec("UPDATE Report SET type = type - 1");
    ASSERT_GT(QFileInfo(path_ + "-wal").size(), 0) << pageSize;
    const std::vector<LineRow> throughSQLite = open(&viaSQLite);
    EXPECT_TRUE(viaSQLite) << pageSize;
    EXPECT_TRUE(fromPages == throughSQLite) << pageSize;
  }
}

TEST_F(DatabaseLoad, ALineLargerThanItsPageIsReadThroughSQLite) {
  write(true);
  bool viaSQLite = false;
  const std::vector<LineRow> rows = open(&viaSQLite);
  EXPECT_TRUE(viaSQLite);
  ASSERT_EQ(rows.size(), 6000u);
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const LineRow& r) { return std::get<7>(r).size() == 6000; }));
}

}  // namespace
