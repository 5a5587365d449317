// The sample-data generator: the small sample holds every kind of data the
// screens read, reads back through the data manager, matches its report
// files, and comes out the same for the same seed.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <set>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRCalendar.h"
#include "sampledata/KVRDatabaseSampleData.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "reports/KVRVortelyReportsManager.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }

const KVRCivilDay kLastDay = KVRCivilDayFromYMD(2012, 6, 30);

KVRSampleDataSummary generateSmall(const QString& folder, uint64_t seed) {
  KVRSampleDataOptions o;
  o.size = KVRSampleDataSize::Small;
  o.seed = seed;
  o.outFolder = folder;
  o.lastDay = kLastDay;
  KVRSampleDataSummary s;
  QString error;
  EXPECT_TRUE(KVRGenerateSampleData(o, &s, &error)) << error.toStdString();
  return s;
}

bool isMacCategory(const QString& label) {
  for (const KVRCategoryRow& c : KVRVortelyStoreDataSource::categories())
    if (c.Label == label) return c.mac;  // the first row of a label decides
  return false;
}

}  // namespace

class SampleDataTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leave the shared converter and defaults as the other tests expect them.
    dm().closeStore();
    KVRVortelyCurrencyConverter::sharedInstance().removeAllRates();
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
  }
  QTemporaryDir dir_;
};

TEST_F(SampleDataTest, SmallSampleHoldsEveryKindOfData) {
  // A bank account of the user's own survives the generation.
  KVRVortelyCurrencyConverter::setFinancialAccountsDefault({{"Mine", "Me", "My bank", "1", "Savings", "CHF", false}});

  const QString folder = dir_.filePath("support");
  const KVRSampleDataSummary summary = generateSmall(folder, 11);
  EXPECT_FALSE(dm().isOpen());
  QString error;
  ASSERT_TRUE(dm().openStore(folder + "/Vortely.sqlite", &error)) << error.toStdString();

  // Accounts: one Android.
  const auto accounts = dm().accounts();
  ASSERT_GE(accounts.size(), 2u);
  EXPECT_EQ(std::count_if(accounts.begin(), accounts.end(), [](KVRStoreAccount* a) { return a->isAndroid(); }), 1);
  EXPECT_EQ(int(accounts.size()), summary.accounts);

  // Products: in-app purchases, a book, and one name shared by an iOS and a Mac product.
  const auto products = dm().products();
  EXPECT_EQ(int(products.size()), summary.products);
  int inApp = 0, books = 0;
  std::map<QString, std::vector<KVRVortelyManagedProduct*>> byName;
  std::set<int64_t> storeIds;
  for (KVRVortelyManagedProduct* p : products) {
    inApp += p->isInAppPurchase();
    books += p->isEBook();
    byName[p->name].push_back(p);
    storeIds.insert(p->idStore);
    EXPECT_NE(p->account, nullptr);
    EXPECT_FALSE(p->bundleIdentifier.isEmpty());
    ASSERT_TRUE(p->firstDate.isValid()) << p->name.toStdString();
    EXPECT_TRUE(p->lastDate.isValid());
    EXPECT_FALSE(p->lastDate.isEarlierThan(p->firstDate));
    EXPECT_FALSE(p->entries.empty()) << p->name.toStdString();
  }
  EXPECT_GE(inApp, 1);
  EXPECT_GE(books, 1);
  EXPECT_EQ(storeIds.size(), products.size());
  bool sameNameIOSAndMac = false;
  for (const auto& [name, list] : byName) {
    if (list.size() < 2) continue;
    bool mac = false, ios = false;
    for (KVRVortelyManagedProduct* p : list) (isMacCategory(p->category) ? mac : ios) = true;
    sameNameIOSAndMac |= mac && ios;
  }
  EXPECT_TRUE(sameNameIOSAndMac);

  // Reports and lines.
  std::map<int, int> reportsOfType;
  std::set<int> subTypes, paymentLineTypes;
  bool fractionalWeek = false, refund = false, free = false, paid = false, reconciled = false, unreconciled = false;
  int64_t lines = 0, units = 0, income = 0;
  for (KVRReport* r : dm().reports()) {
    ++reportsOfType[r->type];
    EXPECT_NE(r->account, nullptr);
    EXPECT_TRUE(r->beginDate.isValid());
    for (KVRReportEntry* e : r->entries) {
      ++lines;
      units += e->count;
      income += int64_t(e->count) * e->income;
      EXPECT_EQ(e->report, r);
      EXPECT_FALSE(e->currency.isEmpty());
      if (r->type == KVRReportTypeDaily || r->type == KVRReportTypeWeekly) {
        EXPECT_NE(e->product, nullptr);
        EXPECT_GE(e->type, KVREntryTypeSale);
        EXPECT_LE(e->type, KVREntryTypeInAppPurchase);
        EXPECT_EQ(e->country.size(), 2);
        EXPECT_EQ(e->country, e->country.toUpper());
        subTypes.insert(e->subType);
        if (e->type == KVREntryTypeRefund) {
          refund = true;
          EXPECT_LT(e->count, 0);
        } else {
          EXPECT_GT(e->count, 0);
        }
        (e->income == 0 ? free : paid) = true;
      }
      if (r->type == KVRReportTypeWeekly) {
        EXPECT_EQ(KVRCalendar::shared().civilDay(e->endDate) - KVRCalendar::shared().civilDay(e->beginDate), 6);
        fractionalWeek |= e->count % 7 != 0;
      }
      if (r->type == KVRReportTypePayment) paymentLineTypes.insert(e->type);
    }
    if (r->type == KVRReportTypePayment) {
      (r->status == KVRReportStatusPointed ? reconciled : unreconciled) = true;
      if (r->status == KVRReportStatusPointed) {
        EXPECT_GT(r->pointedIncome, 0.0f);
        EXPECT_FALSE(r->pointedAccount.isEmpty());
        EXPECT_TRUE(KVRVortelyCurrencyConverter::sharedInstance().financialAccountWithName(r->pointedAccount).has_value());
      } else {
        EXPECT_EQ(r->pointedIncome, -1.0f);
      }
    }
  }
  EXPECT_EQ(lines, summary.entries);
  EXPECT_EQ(units, summary.unitSum);
  EXPECT_EQ(income, summary.incomeSum);
  for (int type : {KVRReportTypeDaily, KVRReportTypeWeekly, KVRReportTypeFinancial, KVRReportTypePayment,
                   KVRReportTypeIAd})
    EXPECT_GT(reportsOfType[type], 0) << "report type " << type;
  EXPECT_EQ(subTypes, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(fractionalWeek);
  EXPECT_TRUE(refund);
  EXPECT_TRUE(free);
  EXPECT_TRUE(paid);
  EXPECT_EQ(paymentLineTypes, (std::set<int>{5, 6, 7, 8, 9, 10}));
  EXPECT_TRUE(reconciled);
  EXPECT_TRUE(unreconciled);

  // Financial reports: the region after the last "_", and the stored file.
  const QStringList regions = {"AU", "CA", "CH", "CN", "DK", "EU", "GB", "HK", "JP", "MX",
                               "NO", "NZ", "SE", "SG", "TW", "US", "WW"};
  // Android earnings reports name no region; reports of another vendor's
  // archive begin with "Zuvo-".
  int checkedFiles = 0, androidReports = 0, archiveReports = 0;
  for (KVRReport* r : dm().reports()) {
    if (r->type != KVRReportTypeFinancial) continue;
    const bool archive = r->filename.startsWith("Zuvo-");
    archiveReports += archive;
    ASSERT_TRUE(archive || r->filename.startsWith(r->account->developer + "-"));
    const QString fileName = r->filename.mid(r->filename.indexOf('-') + 1);
    const QString stem = fileName.section('.', 0, 0);
    if (r->account->isAndroid()) {
      ++androidReports;
      EXPECT_TRUE(stem.startsWith("Earnings_")) << fileName.toStdString();
    } else {
      EXPECT_TRUE(regions.contains(stem.section('_', -1))) << fileName.toStdString();
    }
    ASSERT_FALSE(r->entries.empty());

    QFile f(folder + "/Reports/" + KVRAccountKey(*r->account) + "/Financial/" + fileName);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    const QStringList fileLines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(fileLines.size(), 3);
    EXPECT_TRUE(fileLines.last().startsWith("Total_Amount"));
    std::set<int64_t> idsInFile, idsInReport;
    int64_t fileUnits = 0, reportUnits = 0;
    for (int i = 1; i < fileLines.size() - 1; ++i) {
      const QStringList fields = fileLines[i].split('\t');
      ASSERT_GE(fields.size(), 22);
      idsInFile.insert(fields[10].toLongLong());
      fileUnits += fields[5].toLongLong();
    }
    for (KVRReportEntry* e : r->entries) {
      idsInReport.insert(e->product->idStore);
      reportUnits += e->count;
    }
    EXPECT_EQ(idsInFile, idsInReport);
    EXPECT_EQ(fileUnits, reportUnits);
    ++checkedFiles;
  }
  EXPECT_EQ(checkedFiles, summary.financialFiles);
  EXPECT_GT(androidReports, 0);
  EXPECT_GT(archiveReports, 0);

  // Ad lines and ratings.
  int64_t adLines = 0, ratings = 0;
  bool missingLevel = false;
  for (KVRVortelyManagedProduct* p : products) {
    for (KVRiAdReportEntry* a : p->iAdEntries) {
      ++adLines;
      EXPECT_EQ(a->report->type, KVRReportTypeIAd);
      EXPECT_GT(a->requests, 0.0f);
      EXPECT_LE(a->impressions, a->requests);
      EXPECT_GT(a->eCPM, 0.0f);
      EXPECT_GE(a->revenue, 0.0f);
    }
    std::map<QString, std::set<int>> levels;
    for (KVRRating* r : p->ratings) {
      ++ratings;
      EXPECT_GE(r->stars, 1);
      EXPECT_LE(r->stars, 5);
      EXPECT_NE(KVRVortelyStoreDataSource::countryForStorefront(r->country), nullptr);
      if (r->allVersions) levels[r->country].insert(r->stars);
    }
    for (const auto& [country, set] : levels) missingLevel |= set.size() < 5;
  }
  EXPECT_EQ(adLines, summary.iAdEntries);
  EXPECT_GT(adLines, 0);
  EXPECT_EQ(ratings, summary.ratings);
  EXPECT_TRUE(missingLevel);

  // Rates for every currency used, in the folder's rate file; bank accounts in the defaults.
  EXPECT_TRUE(QFile::exists(folder + "/Rates.json"));
  auto& converter = KVRVortelyCurrencyConverter::sharedInstance();
  for (KVRReport* r : dm().reports())
    for (KVRReportEntry* e : r->entries)
      EXPECT_GT(converter.rateFrom(e->currency, "EUR"), 0.0) << e->currency.toStdString();
  const auto banks = KVRVortelyCurrencyConverter::financialAccounts();
  EXPECT_TRUE(converter.financialAccountWithName("Mine").has_value());
  const auto eur = converter.financialAccountWithName("Pelliro Business EUR");
  ASSERT_TRUE(eur.has_value());
  EXPECT_EQ(eur->Currency, "EUR");
  EXPECT_FALSE(eur->Bank.isEmpty());
  EXPECT_EQ(banks.size(), 3u);
}

TEST_F(SampleDataTest, SameSeedSameData) {
  const KVRSampleDataSummary a = generateSmall(dir_.filePath("a"), 5);
  const KVRSampleDataSummary b = generateSmall(dir_.filePath("b"), 5);
  const KVRSampleDataSummary c = generateSmall(dir_.filePath("c"), 6);
  ASSERT_GT(a.entries, 1000);
  EXPECT_EQ(a.entries, b.entries);
  EXPECT_EQ(a.unitSum, b.unitSum);
  EXPECT_EQ(a.incomeSum, b.incomeSum);
  EXPECT_EQ(a.adRevenueSum, b.adRevenueSum);
  EXPECT_EQ(a.ratings, b.ratings);
  EXPECT_EQ(a.reports, b.reports);
  EXPECT_NE(a.unitSum, c.unitSum);

  // The databases read back the same.
  auto totals = [](const QString& path) {
    QString error;
    EXPECT_TRUE(dm().openStore(path, &error)) << error.toStdString();
    int64_t sum = 0;
    for (KVRVortelyManagedProduct* p : dm().products())
      for (KVRReportEntry* e : p->entries) sum += int64_t(e->count) * 31 + e->income + int64_t(e->beginDate.ms / 86400000);
    dm().closeStore();
    return sum;
  };
  EXPECT_EQ(totals(a.databasePath), totals(b.databasePath));
}

TEST_F(SampleDataTest, RefusesAFolderThatHoldsADatabase) {
  const QString folder = dir_.filePath("taken");
  QDir().mkpath(folder);
  QFile f(folder + "/Vortely.sqlite");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("precious");
  f.close();
  KVRSampleDataOptions o;
  o.size = KVRSampleDataSize::Small;
  o.outFolder = folder;
  QString error;
  EXPECT_FALSE(KVRGenerateSampleData(o, nullptr, &error));
  EXPECT_TRUE(error.contains("already exists"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("precious"));
  EXPECT_FALSE(dm().isOpen());
}
