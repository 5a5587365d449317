// The financial exports on the demo data, run as the File > Export command
// runs them: the yearly archive read back with a strict RFC 4180 reader, and
// the report files of the months on show.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

#include "app/KVRVortelyMainController.h"
#include "core/KVRFormatters.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVRVortelyReportsController.h"
#include "platform/KVRMainThread.h"
#include "products/KVRVortelyProductListController.h"
#include "sampledata/KVRDatabaseSampleData.h"

namespace {

// RFC 4180, strictly: fields separated by commas; a field is either bare (no
// comma, double quote, CR or LF in it) or enclosed in double quotes with its
// quotes doubled; records end at a line break (CRLF, or LF as this file
// writes it); every record has as many fields as the header. Anything else
// (a stray quote, text after a closing quote, an open quote at the end, a
// short record) makes the whole text unreadable.
std::optional<std::vector<QStringList>> readCsvStrictly(const QString& text) {
  std::vector<QStringList> records;
  QStringList record;
  QString field;
  qsizetype i = 0;
  const qsizetype n = text.size();
  auto endRecord = [&]() -> bool {
    record << field;
    field.clear();
    if (!records.empty() && record.size() != records.front().size()) return false;
    records.push_back(record);
    record.clear();
    return true;
  };
  if (n == 0) return std::nullopt;
  while (i <= n) {
    if (i < n && text[i] == u'"') {
      // Quoted field.
      ++i;
      for (;;) {
        if (i >= n) return std::nullopt;  // not closed
        if (text[i] == u'"') {
          if (i + 1 < n && text[i + 1] == u'"') {
            field += u'"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
      if (i < n && text[i] != u',' && text[i] != u'\n' && text[i] != u'\r') return std::nullopt;
    } else {
      while (i < n && text[i] != u',' && text[i] != u'\n' && text[i] != u'\r') {
        if (text[i] == u'"') return std::nullopt;  // a quote inside a bare field
        field += text[i++];
      }
    }
    if (i >= n) {
      if (!endRecord()) return std::nullopt;
      break;
    }
    if (text[i] == u',') {
      record << field;
      field.clear();
      ++i;
      continue;
    }
    if (text[i] == u'\r') {
      if (i + 1 >= n || text[i + 1] != u'\n') return std::nullopt;  // a lone CR
      ++i;
    }
    ++i;  // the LF
    if (!endRecord()) return std::nullopt;
    if (i == n) break;  // a line break after the last record
  }
  return records;
}

TEST(StrictCsvReader, RefusesWhatRfc4180Refuses) {
  EXPECT_EQ(readCsvStrictly("a,b\n1,\"x, \"\"y\"\"\""), (std::vector<QStringList>{{"a", "b"}, {"1", "x, \"y\""}}));
  EXPECT_EQ(readCsvStrictly("a\r\n\"two\nlines\"\r\n"), (std::vector<QStringList>{{"a"}, {"two\nlines"}}));
  EXPECT_FALSE(readCsvStrictly("a,b\n1,x\"y"));      // quote in a bare field
  EXPECT_FALSE(readCsvStrictly("a,b\n1,\"x\"y"));    // text after the closing quote
  EXPECT_FALSE(readCsvStrictly("a,b\n1,\"x"));       // never closed
  EXPECT_FALSE(readCsvStrictly("a,b\n1"));           // short record
  EXPECT_FALSE(readCsvStrictly("a,b\n1,2,3"));       // long record
}

class FinancialExportsDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(support_.isValid() && out_.isValid());
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    previousSupport_ = qgetenv("VORTELY_SUPPORT_FOLDER");
    qputenv("VORTELY_SUPPORT_FOLDER", support_.path().toUtf8());
    KVRSampleDataOptions options;
    options.size = KVRSampleDataSize::Demo;
    options.outFolder = support_.path();
    options.lastDay = KVRCivilDayFromYMD(2011, 11, 20);
    KVRSampleDataSummary summary;
    QString error;
    ASSERT_TRUE(KVRGenerateSampleData(options, &summary, &error)) << error.toStdString();
    ASSERT_GT(summary.financialFiles, 0);

    controller_ = std::make_unique<KVRVortelyMainController>();
    controller_->setStorePath(summary.databasePath);
    controller_->setShowsWindows(false);
    controller_->setAlertPresenter([this](QWidget*, const QString& title, const QString& text) {
      alerts_ << title + ": " + text;
    });
    controller_->setNoticePresenter([this](QWidget*, const QString& title, const QString& text) {
      notices_ << title + ": " + text;
    });
    controller_->applicationDidFinishLaunching();
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return controller_->startupFinished(); }, 60));
  }
  void TearDown() override {
    controller_.reset();
    KVRVortelyCoreDataManager::sharedInstance().closeStore();
    KVRFormatters::shared().resetLocale();
    if (previousSupport_.isNull()) qunsetenv("VORTELY_SUPPORT_FOLDER");
    else qputenv("VORTELY_SUPPORT_FOLDER", previousSupport_);
  }

  // Selects the accounts and waits for the statement of the selection: made
  // at once, or, the statements screen not being on show, when it is
  // needed (the export makes it).
  void selectAndWaitForTheStatement(const std::vector<KVRStoreAccount*>& accounts) {
    KVRVortelyReportsController* reports = controller_->financialController();
    ASSERT_NE(reports, nullptr);
    const int before = reports->rebuildCount();
    controller_->productList()->selectObjects(accounts, {});
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return reports->rebuildCount() > before || reports->rebuildPending(); }, 10));
  }
  KVRStoreAccount* accountNamed(const QString& name) {
    for (KVRStoreAccount* a : KVRVortelyCoreDataManager::sharedInstance().accounts())
      if (a->name == name) return a;
    return nullptr;
  }

  QTemporaryDir support_, out_;
  QByteArray previousSupport_;
  std::unique_ptr<KVRVortelyMainController> controller_;
  QStringList alerts_, notices_;
};

}  // namespace

TEST_F(FinancialExportsDemoTest, YearlyArchiveReadsBackWithTheColumnsOfTheArchive) {
  KVRStoreAccount* soft = accountNamed("Pelliro Soft");
  ASSERT_NE(soft, nullptr);
  selectAndWaitForTheStatement({soft});

  ASSERT_TRUE(controller_->exportReportsWithInfos(8, out_.path())) << alerts_.join("\n").toStdString();
  ASSERT_EQ(notices_.size(), 1);
  EXPECT_TRUE(notices_[0].startsWith("Export finished: 1 file was written into")) << notices_[0].toStdString();
  QFile file(out_.filePath("YearlyFinancials.csv"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
  EXPECT_FALSE(bytes.contains('\r'));
  EXPECT_FALSE(bytes.endsWith('\n'));
  const std::optional<std::vector<QStringList>> records = readCsvStrictly(QString::fromUtf8(bytes));
  ASSERT_TRUE(records);
  ASSERT_GE(records->size(), 1u + 18u);
  EXPECT_EQ(records->front(), (QStringList{"Date", "Region", "Units", "Income (local)", "Currency (local)",
                                           "Income (your currency)", "Your Currency", "Pointed Income"}));
  EXPECT_EQ((records->size() - 1) % 18, 0u);  // every region of every month

  const QRegularExpression date(QStringLiteral("^2011-(\\d\\d)-01 0[01]:00:00 [+-]\\d{4}$"));
  const QRegularExpression amount(QStringLiteral("^-?\\d{1,3}(,\\d{3})*\\.\\d\\d$"));
  int pointed = 0, quotedAmounts = 0;
  QStringList regions;
  for (size_t i = 1; i < records->size(); ++i) {
    const QStringList& r = (*records)[i];
    EXPECT_TRUE(date.match(r[0]).hasMatch()) << r[0].toStdString();
    if (!regions.contains(r[1])) regions << r[1];
    bool whole = false;
    r[2].toInt(&whole);
    EXPECT_TRUE(whole) << r[2].toStdString();
    EXPECT_TRUE(amount.match(r[3]).hasMatch()) << r[3].toStdString();
    EXPECT_EQ(r[4].size(), 3) << r[4].toStdString();
    EXPECT_TRUE(amount.match(r[5]).hasMatch()) << r[5].toStdString();
    EXPECT_EQ(r[6], "EUR");
    if (r[7] != "--") {
      EXPECT_TRUE(amount.match(r[7]).hasMatch()) << r[7].toStdString();
      ++pointed;
    }
    quotedAmounts += r[3].contains(',') || r[5].contains(',');
  }
  EXPECT_EQ(regions.size(), 18);  // region by region, each with every month of the year
  EXPECT_EQ(regions.front(), "Australia");
  EXPECT_EQ(regions.back(), "iAd");
  EXPECT_GT(pointed, 0);  // reconciled months show what was received
  EXPECT_GT(quotedAmounts, 0);
}

TEST_F(FinancialExportsDemoTest, ReportsOfTheShownMonths) {
  KVRStoreAccount* soft = accountNamed("Pelliro Soft");
  ASSERT_NE(soft, nullptr);
  selectAndWaitForTheStatement({soft});

  ASSERT_TRUE(controller_->exportReportsWithInfos(6, out_.path())) << alerts_.join("\n").toStdString();
  const QStringList files = QDir(out_.path()).entryList(QDir::Files);
  EXPECT_GE(files.size(), 3);
  ASSERT_EQ(notices_.size(), 1);
  EXPECT_TRUE(notices_[0].contains(QString::number(files.size()) + " files were written into"));
  for (const QString& name : files) {
    QFile f(out_.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_GE(lines.size(), 2) << name.toStdString();
    EXPECT_TRUE(lines[0].startsWith("Start Date\t"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
      EXPECT_GE(lines[i].count('\t'), 21) << name.toStdString();
      EXPECT_FALSE(lines[i].startsWith("Total_Amount"));
    }
  }
}
