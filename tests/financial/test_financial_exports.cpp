// The financial exports: the stored report files of the months on show and
// the yearly archive, byte for byte, in Paris time and American English.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "core/KVRFormatters.h"
#include "qt_print.h"
#include "financial/KVRFinancialExports.h"
#include "reports/KVRVortelyReportsManager.h"
#include "statement_fixture.h"

namespace {

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

// A stored report line of 22 fields (or `fields`) for a store identifier.
QByteArray reportLine(const char* storeId, const char* units, int fields = 22) {
  QList<QByteArray> f(fields, QByteArray());
  f[0] = "05/29/2011";
  f[1] = "07/02/2011";
  f[5] = units;
  f[8] = "EUR";
  f[10] = storeId;
  f[12] = "Title, \"quoted\"";
  return f.join('\t');
}

const QByteArray kHeader =
    "Start Date\tEnd Date\tUPC\tISRC/ISBN\tVendor Identifier\tQuantity\tPartner Share\tExtended Partner Share\t"
    "Partner Share Currency\tSales or Return\tStore Identifier\tDeveloper\tTitle\tPublisher\tGrid\t"
    "Product Type Identifier\tOther Identifier\tCountry Of Sale\tPre-order Flag\tPromo Code\tCustomer Price\t"
    "Customer Currency";

class FinancialExportsTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    ASSERT_TRUE(out_.isValid());
  }
  void TearDown() override {
    KVRFormatters::shared().resetLocale();
    StatementTest::TearDown();
  }

  QString folderOf(KVRStoreAccount* a) {
    return KVRVortelyReportsManager::financialReportsSaveFolderForDevName(KVRAccountKey(*a));
  }
  void save() {
    QString error;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  }
  QString out(const QString& name) const { return out_.filePath(name); }
  QStringList written() const {
    QStringList names = QDir(out_.path()).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
  }

  QTemporaryDir out_;
};

}  // namespace

TEST(FinancialExportPieces, CsvFieldsAreQuotedTheRfcWay) {
  EXPECT_EQ(KVRCsvField("Europe"), "Europe");
  EXPECT_EQ(KVRCsvField("1,234.50"), "\"1,234.50\"");
  EXPECT_EQ(KVRCsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(KVRCsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(KVRCsvField("cr\r"), "\"cr\r\"");
  EXPECT_EQ(KVRCsvField(""), "");
}

TEST(FinancialExportPieces, FileNamesFromTheStore) {
  EXPECT_EQ(KVRReportFileName("Kai-Lin Apps-Sales-0611_EU.txt", "Kai-Lin Apps"), "Sales-0611_EU.txt");
  EXPECT_TRUE(KVRReportFileName("Other-0611_EU.txt", "Kai-Lin Apps").isNull());
  EXPECT_TRUE(KVRReportFileName("0611_EU.txt", "").isNull());
  for (const char* bad : {"", ".", "..", "../x.txt", "a/b", "a\\b", "tab\there", "line\nbreak"})
    EXPECT_FALSE(KVRIsPlainFileName(QString::fromUtf8(bad))) << bad;
  EXPECT_FALSE(KVRIsPlainFileName(QString(QChar(0)) + "x"));
  EXPECT_TRUE(KVRIsPlainFileName("Sales - 0611 (EU).txt"));
  EXPECT_TRUE(KVRIsPlainFileName("...txt"));

  EXPECT_EQ(KVRUniqueFileName("0611_EU.txt", {}), "0611_EU.txt");
  EXPECT_EQ(KVRUniqueFileName("0611_EU.txt", {"0611_eu.TXT"}), "0611_EU (2).txt");
  EXPECT_EQ(KVRUniqueFileName("0611_EU.txt", {"0611_EU.txt", "0611_EU (2).txt"}), "0611_EU (3).txt");
  EXPECT_EQ(KVRUniqueFileName("README", {"README"}), "README (2)");
  EXPECT_EQ(KVRUniqueFileName(".hidden", {".hidden"}), ".hidden (2)");
}

TEST(FinancialExportPieces, ReportLinesKeptAndDropped) {
  const QByteArray source = "\xEF\xBB\xBF" + kHeader + "\r\n" + reportLine("1001", "3") + "\r\n" +
                            reportLine("1001", "9", 21) + "\r\n\r\n" + reportLine("1002", "4") + "\r" +
                            reportLine("Total", "7") + "\n" + "Total_Amount\t12.00" + "\n" +
                            reportLine(" 1001 ", "5");
  const std::optional<QStringList> all = KVRFilterFinancialReport(source, {});
  ASSERT_TRUE(all);
  // The byte-order mark goes, the header stays, the short, empty and summary lines go.
  EXPECT_EQ(*all, (QStringList{kHeader, reportLine("1001", "3"), reportLine("1002", "4"), reportLine(" 1001 ", "5")}));
  const std::optional<QStringList> one = KVRFilterFinancialReport(source, {1002});
  ASSERT_TRUE(one);
  EXPECT_EQ(*one, (QStringList{kHeader, reportLine("1002", "4")}));
  // Not UTF-8.
  EXPECT_FALSE(KVRFilterFinancialReport(kHeader + "\n" + reportLine("1001", "\xFF"), {}));
  // A header of any length stays; nothing else may pass.
  EXPECT_EQ(*KVRFilterFinancialReport("a\tb\n" + reportLine("1001", "3", 21), {}), QStringList{"a\tb"});
}

TEST(FinancialExportPieces, DateDescriptionInTheUserZone) {
  KVRCalendar::shared().resetTimeZone("Europe/Paris");
  EXPECT_EQ(KVRDateDescription(KVRMonthKey{2011, 1}.firstInstant()), "2011-01-01 00:00:00 +0100");
  EXPECT_EQ(KVRDateDescription(KVRMonthKey{2011, 7}.firstInstant()), "2011-07-01 00:00:00 +0200");
  // A month whose first day has no midnight begins at 01:00.
  KVRCalendar::shared().resetTimeZone("America/Asuncion");
  EXPECT_EQ(KVRDateDescription(KVRMonthKey{2017, 10}.firstInstant()), "2017-10-01 01:00:00 -0300");
  KVRCalendar::shared().resetTimeZone();
}

TEST(FinancialExportPieces, AtomicWriteLeavesNothingHalfDone) {
  QTemporaryDir dir;
  const QString path = dir.filePath("YearlyFinancials.csv");
  QString error;
  ASSERT_TRUE(KVRWriteFileAtomically(path, "old", &error));
  ASSERT_TRUE(KVRWriteFileAtomically(path, "new", &error));
  EXPECT_EQ(fileBytes(path), "new");
  // A link of that name is replaced, the file it points at is left alone.
  const QString elsewhere = dir.filePath("elsewhere.txt");
  writeBytes(elsewhere, "keep");
  const QString link = dir.filePath("link.csv");
  ASSERT_TRUE(QFile::link(elsewhere, link));
  ASSERT_TRUE(KVRWriteFileAtomically(link, "written", &error));
  EXPECT_EQ(fileBytes(elsewhere), "keep");
  EXPECT_FALSE(QFileInfo(link).isSymLink());
  EXPECT_EQ(fileBytes(link), "written");
  // A folder in the way: a failure with a reason, and no temporary file left.
  ASSERT_TRUE(QDir(dir.path()).mkdir("taken.csv"));
  EXPECT_FALSE(KVRWriteFileAtomically(dir.filePath("taken.csv"), "x", &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(KVRWriteFileAtomically(dir.filePath("missing/x.csv"), "x", &error));
  QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  left.sort();
  EXPECT_EQ(left, (QStringList{"YearlyFinancials.csv", "elsewhere.txt", "link.csv", "taken.csv"}));
}

// --- Reports of the months on show ------------------------------------------

TEST_F(FinancialExportsTest, VisibleReportsAreCopiedWithTheirSalesLines) {
  KVRVortelyManagedProduct* other = product(soft, 1002);
  KVRVortelyManagedProduct* big = product(soft, 5000000001LL);  // beyond 32 bits
  KVRStoreAccount* kai = account("Kai-Lin Apps");
  KVRVortelyManagedProduct* kaiApp = product(kai, 2001);
  KVRStoreAccount* bare = account("Bare");  // no report folder at all
  KVRVortelyManagedProduct* bareApp = product(bare, 3001);

  const KVRDate june = day(2011, 5, 29), july = day(2011, 7, 3);
  line(financial(soft, "0611_EU.txt", june), app, 3, 70, "EUR");
  line(financial(soft, "0611_US.txt", june), app, 1, 99, "USD");
  line(financial(soft, "../0611_GB.txt", june), app, 1, 99, "GBP");
  line(financial(soft, "0611_CA.txt", june), app, 1, 99, "CAD");
  line(financial(soft, "0611_AU.txt", june), app, 1, 99, "AUD");
  line(financial(kai, "0611_EU.txt", july), kaiApp, 2, 70, "EUR");  // another account, the same name
  line(financial(kai, "Sales-0711_JP.txt", july), kaiApp, 2, 7000, "JPY");
  line(financial(bare, "0711_NZ.txt", july), bareApp, 2, 70, "NZD");
  save();

  const QString softFolder = folderOf(soft), kaiFolder = folderOf(kai);
  writeBytes(softFolder + "/0611_EU.txt",
             kHeader + "\r\n" + reportLine("1001", "3") + "\r\n" + reportLine("1002", "4") + "\r\n" +
                 reportLine("5000000001", "2") + "\r\n" + reportLine("705032705", "6") + "\r\n" +
                 reportLine("1001", "8", 21) + "\r\n" + "Total_Amount\t9.99\r\n");
  writeBytes(softFolder + "/0611_US.txt", kHeader + "\n" + reportLine("Total", "1") + "\nTotal_Amount\t0\n");
  writeBytes(softFolder + "/../0611_GB.txt", kHeader + "\n" + reportLine("1001", "1") + "\n");  // never read
  writeBytes(softFolder + "/0611_AU.txt", kHeader + "\n" + reportLine("1001", "\xE9") + "\n");
  writeBytes(kaiFolder + "/0611_EU.txt", kHeader + "\n" + reportLine("2001", "2") + "\n");
  writeBytes(kaiFolder + "/Sales-0711_JP.txt", kHeader + "\n" + reportLine("2001", "5"));
  const QString bareFolder = KVRVortelyReportsManager::reportsFolder() + "/" + KVRAccountKey(*bare);

  const KVRFinancialStatement st =
      KVRFinancialStatementBuilder().build(productSelection({app, other, big, kaiApp, bareApp}), kNow);
  ASSERT_EQ(st.months.size(), 2u);

  // Every product: every sales line.
  KVRFinancialExportResult r = KVRExportVisibleDatesReports(st, 0, out_.path(), nullptr);
  EXPECT_EQ(r.written, (QStringList{"0611_EU.txt", "0611_EU (2).txt", "Sales-0711_JP.txt"}));
  EXPECT_EQ(written(), (QStringList{"0611_EU (2).txt", "0611_EU.txt", "Sales-0711_JP.txt"}));
  EXPECT_EQ(fileBytes(out("0611_EU.txt")), kHeader + "\n" + reportLine("1001", "3") + "\n" +
                                               reportLine("1002", "4") + "\n" + reportLine("5000000001", "2") +
                                               "\n" + reportLine("705032705", "6"));
  EXPECT_EQ(fileBytes(out("0611_EU (2).txt")), kHeader + "\n" + reportLine("2001", "2"));
  EXPECT_EQ(fileBytes(out("Sales-0711_JP.txt")), kHeader + "\n" + reportLine("2001", "5"));
  EXPECT_FALSE(r.hasFailures());
  EXPECT_EQ(r.title(), "Export finished");
  // A count and the folder; only what was left out is named.
  EXPECT_EQ(r.text(), "3 files were written into “" + QDir::toNativeSeparators(out_.path()) +
                          "”.\n\n"
                          "Left out:\n"
                          "• “0611_AU.txt”: its file is not UTF-8 text\n"
                          "• “0611_CA.txt”: its file is not in its account's folder of financial reports\n"
                          "• “../0611_GB.txt”: its file name is not a plain file name\n"
                          "• “0611_US.txt”: its file holds no sales line\n"
                          "• “0711_NZ.txt”: its account has no folder of financial reports");
  // Looking for a folder to read from made none.
  EXPECT_FALSE(QFileInfo::exists(bareFolder));

  // The chosen products only, store identifiers compared whole.
  QTemporaryDir second;
  const std::vector<KVRVortelyManagedProduct*> chosen = {big, kaiApp};
  r = KVRExportVisibleDatesReports(st, 0, second.path(), &chosen);
  EXPECT_EQ(r.written, (QStringList{"0611_EU.txt", "0611_EU (2).txt", "Sales-0711_JP.txt"}));
  EXPECT_EQ(fileBytes(second.filePath("0611_EU.txt")), kHeader + "\n" + reportLine("5000000001", "2"));
}

TEST_F(FinancialExportsTest, NothingToExportAndFailedWritesAreSaid) {
  const KVRDate june = day(2011, 5, 29);
  line(financial(soft, "0611_EU.txt", june), app, 3, 70, "EUR");
  save();
  writeBytes(folderOf(soft) + "/0611_EU.txt", kHeader + "\n" + reportLine("1001", "3"));
  const KVRFinancialStatement st = KVRFinancialStatementBuilder().build(productSelection({app}), kNow);

  // A product without a line in the report: nothing written, and why.
  KVRVortelyManagedProduct* quiet = product(soft, 1009);
  const std::vector<KVRVortelyManagedProduct*> chosen = {quiet};
  KVRFinancialExportResult r = KVRExportVisibleDatesReports(st, 0, out_.path(), &chosen);
  EXPECT_TRUE(written().isEmpty());
  EXPECT_EQ(r.title(), "Nothing was exported");
  EXPECT_EQ(r.text(), "No file was written into “" + QDir::toNativeSeparators(out_.path()) +
                          "”.\n\nLeft out:\n• “0611_EU.txt”: its file holds no sales line of the chosen products");

  // A folder in the way of the file: a failure, the former contents untouched.
  ASSERT_TRUE(QDir(out_.path()).mkdir("0611_EU.txt"));
  r = KVRExportVisibleDatesReports(st, 0, out_.path(), nullptr);
  EXPECT_EQ(r.title(), "The export failed");
  ASSERT_EQ(r.failed.size(), 1u);
  EXPECT_EQ(r.failed[0].name, "0611_EU.txt");
  EXPECT_TRUE(r.text().contains("Not written into"));
  EXPECT_TRUE(QFileInfo(out("0611_EU.txt")).isDir());

  // No month on show.
  r = KVRExportVisibleDatesReports(KVRFinancialStatement(), 0, out_.path(), nullptr);
  EXPECT_EQ(r.title(), "Nothing was exported");
  EXPECT_EQ(r.text(), "The months on show have no financial report, so no file was written.");
}

// --- Yearly archive ---------------------------------------------------------

namespace {

// January 2011 with estimates in a few regions, a reconciled euro payment,
// a dollar month paid by a later payment, a yen payment not reconciled; and
// months of 2010 and 2012 that the 2011 archive leaves out.
KVRFinancialStatement yearlyStatement() {
  KVRFinancialStatement st;
  st.financialsByYear[2011] = KVRMakeRegionRowTable();
  for (KVRMonthKey key : {KVRMonthKey{2010, 12}, KVRMonthKey{2011, 1}, KVRMonthKey{2012, 1}}) {
    KVRFinancialMonth m;
    m.date = key;
    st.months.push_back(std::move(m));
  }
  KVRFinancialMonth& jan = st.months[1];
  auto set = [&](int row, float units, float local, float preferred) {
    jan.units.income()[size_t(row)] = units;
    jan.incomeLocal.income()[size_t(row)] = local;
    jan.income.income()[size_t(row)] = preferred;
  };
  set(KVRRegionRowCA, 500, 1234.5f, 901.25f);
  set(KVRRegionRowEU, 40, 28, 28);
  set(KVRRegionRowUS, 12, 8.4f, 6.3f);
  set(KVRRegionRowJP, 3, 2100, 18.5f);
  set(KVRRegionRowIAD, 0, 3.25f, 2.5f);
  auto eu = std::make_shared<KVRPaymentRecord>();
  eu->localIncome = 30;
  eu->localCurrency = "EUR";
  eu->income = 30;
  eu->paymentRatio = 0.9f;
  eu->pointedIncome = 27;
  jan.payments.set("EU", eu);
  auto us = std::make_shared<KVRPaymentRecord>();  // paid with February
  us->localIncome = 8.4f;
  us->income = 6.3f;
  us->paymentMonth = KVRMonthKey{2011, 2};
  jan.payments.set("US", us);
  auto jp = std::make_shared<KVRPaymentRecord>();
  jp->localIncome = 2000;
  jp->localCurrency = "JPY";
  jp->income = 17.6f;
  jan.payments.set("JP", jp);
  return st;
}

const QByteArray kYearlyPaid =
    "Date,Region,Units,Income (local),Currency (local),Income (your currency),Your Currency,Pointed Income\n"
    "2011-01-01 00:00:00 +0100,Australia,0,0.00,AUD,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Canada,500,\"1,234.50\",CAD,901.25,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Switzerland,0,0.00,CHF,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,China,0,0.00,CNY,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Denmark,0,0.00,DKK,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Europe,40,30.00,EUR,30.00,EUR,27.00\n"
    "2011-01-01 00:00:00 +0100,Great Britain,0,0.00,GBP,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Hong Kong,0,0.00,HKD,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Japan,3,\"2,000.00\",JPY,17.60,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Mexico,0,0.00,MXN,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Norway,0,0.00,NOK,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,New Zealand,0,0.00,NZD,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Sweden,0,0.00,SEK,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Singapore,0,0.00,SGD,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,Taiwan,0,0.00,TWD,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,USA,12,8.40,USD,6.30,EUR,--\n"
    "2011-01-01 00:00:00 +0100,World Wide,0,0.00,USD,0.00,EUR,--\n"
    "2011-01-01 00:00:00 +0100,iAd,0,3.25,USD,2.50,EUR,--";

}  // namespace

// The notice of a long export: a count, the folder, and the names of what
// was left out or not written, cut short after ten.
TEST(FinancialExportNotice, ACountAndTheFolderAndOnlyWhatWasLeftOut) {
  KVRFinancialExportResult r;
  r.folder = QStringLiteral("/tmp/out");
  for (int i = 0; i < 51; ++i) r.written << QStringLiteral("report%1.txt").arg(i);
  for (int i = 0; i < 12; ++i) r.skipped.push_back({QStringLiteral("gone%1.txt").arg(i), QStringLiteral("missing")});
  const QString text = r.text();
  EXPECT_TRUE(text.startsWith("51 files were written into “" + QDir::toNativeSeparators("/tmp/out") + "”.\n\nLeft out:\n"))
      << text.toStdString();
  EXPECT_FALSE(text.contains("report"));
  EXPECT_TRUE(text.contains("• “gone9.txt”: missing\n• and 2 more"));
  EXPECT_FALSE(text.contains("gone10.txt"));
  r.skipped.pop_back();  // eleven: the last is named rather than counted
  EXPECT_TRUE(r.text().endsWith("• “gone10.txt”: missing"));
}

TEST_F(FinancialExportsTest, YearlyArchiveByteForByte) {
  const KVRFinancialStatement st = yearlyStatement();
  // Every product, an account selected: the payments where a month has them.
  KVRFinancialExportResult r = KVRExportYearlyArchive(st, 2011, true, out_.path(), nullptr);
  EXPECT_EQ(r.written, QStringList{"YearlyFinancials.csv"});
  EXPECT_EQ(fileBytes(out("YearlyFinancials.csv")), kYearlyPaid);
  EXPECT_EQ(r.title(), "Export finished");
  EXPECT_EQ(r.text(), "1 file was written into “" + QDir::toNativeSeparators(out_.path()) + "”.");

  // Chosen products: estimates everywhere; no account selected: seven columns.
  KVRVortelyManagedProduct one;
  const std::vector<KVRVortelyManagedProduct*> chosen = {&one};
  QByteArray estimates = KVRYearlyArchiveText(st, 2011, false, &chosen);
  QList<QByteArray> lines = estimates.split('\n');
  ASSERT_EQ(lines.size(), 19);
  EXPECT_EQ(lines[0], "Date,Region,Units,Income (local),Currency (local),Income (your currency),Your Currency");
  EXPECT_EQ(lines[6], "2011-01-01 00:00:00 +0100,Europe,40,28.00,EUR,28.00,EUR");
  EXPECT_EQ(lines[9], "2011-01-01 00:00:00 +0100,Japan,3,\"2,100.00\",JPY,18.50,EUR");
  EXPECT_EQ(lines[16], "2011-01-01 00:00:00 +0100,USA,12,8.40,USD,6.30,EUR");
  for (const QByteArray& l : lines) EXPECT_EQ(l.count(','), 6 + l.count('"') / 2) << l.constData();
  // An empty filter is no filter.
  const std::vector<KVRVortelyManagedProduct*> none;
  EXPECT_EQ(KVRYearlyArchiveText(st, 2011, true, &none), kYearlyPaid);
}

TEST_F(FinancialExportsTest, YearlyArchiveWithoutMonthsWritesNothing) {
  const KVRFinancialStatement st = yearlyStatement();
  writeBytes(out("YearlyFinancials.csv"), "from before");
  KVRFinancialExportResult r = KVRExportYearlyArchive(st, 2013, true, out_.path(), nullptr);
  EXPECT_FALSE(r.wroteFiles());
  EXPECT_EQ(r.title(), "Nothing was exported");
  EXPECT_EQ(r.text(), "The statement has no month in 2013, so “YearlyFinancials.csv” was not written.");
  EXPECT_EQ(fileBytes(out("YearlyFinancials.csv")), "from before");

  // A region label that needs quoting is quoted.
  KVRFinancialStatement one = yearlyStatement();
  one.financialsByYear[2011][size_t(KVRRegionRowEU)].label = "Europe, \"EU\"";
  EXPECT_TRUE(KVRYearlyArchiveText(one, 2011, false, nullptr).contains("\n2011-01-01 00:00:00 +0100,\"Europe, \"\"EU\"\"\",40,"));
}
