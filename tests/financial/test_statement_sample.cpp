// The statement of the demo sample: the builder agrees bit for bit with the
// reference builder for every kind of selection, and the sample holds every
// case the financial screen shows.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "reference_builder.h"
#include "statement_fixture.h"
#include "sampledata/KVRDatabaseSampleData.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }
const KVRDate kNow(1.34e12);

KVRFinancialSelection accounts(std::vector<KVRStoreAccount*> list) {
  KVRFinancialSelection s;
  for (KVRStoreAccount* a : list) s.products.insert(s.products.end(), a->products.begin(), a->products.end());
  s.accounts = std::move(list);
  s.accountSelected = true;
  return s;
}

KVRFinancialSelection products(std::vector<KVRVortelyManagedProduct*> list) {
  KVRFinancialSelection s;
  for (KVRVortelyManagedProduct* p : list)
    if (std::find(s.accounts.begin(), s.accounts.end(), p->account) == s.accounts.end()) s.accounts.push_back(p->account);
  s.products = std::move(list);
  s.productsSelected = true;
  return s;
}

}  // namespace

class StatementSampleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<QTemporaryDir>();
    KVRCalendar::shared().resetTimeZone("Europe/Paris");
    KVRSampleDataOptions o;
    o.size = KVRSampleDataSize::Demo;
    o.seed = 3;
    o.outFolder = dir_->filePath("support");
    o.lastDay = KVRCivilDayFromYMD(2012, 6, 30);
    QString error;
    ASSERT_TRUE(KVRGenerateSampleData(o, nullptr, &error)) << error.toStdString();
    ASSERT_TRUE(dm().openStore(o.outFolder + "/Vortely.sqlite", &error)) << error.toStdString();
  }
  static void TearDownTestSuite() {
    dm().closeStore();
    KVRVortelyCurrencyConverter::sharedInstance().removeAllRates();
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
    KVRCalendar::shared().resetTimeZone();
    dir_.reset();
  }

  static KVRStoreAccount* accountNamed(const char* name) {
    for (KVRStoreAccount* a : dm().accounts())
      if (a->name == QLatin1String(name)) return a;
    return nullptr;
  }

  static void expectSameAsReference(const KVRFinancialSelection& s, const char* what) {
    const KVRFinancialStatement fast = KVRFinancialStatementBuilder().build(s, kNow);
    EXPECT_EQ(reference::difference(fast, reference::build(s, kNow)), "") << what;
    EXPECT_FALSE(fast.months.empty()) << what;
  }

  static std::unique_ptr<QTemporaryDir> dir_;
};
std::unique_ptr<QTemporaryDir> StatementSampleTest::dir_;

TEST_F(StatementSampleTest, BuilderAgreesWithReferenceForEverySelection) {
  const std::vector<KVRStoreAccount*> all = dm().accounts();
  expectSameAsReference(accounts(all), "everything");
  for (KVRStoreAccount* a : all) expectSameAsReference(accounts({a}), qPrintable(a->name));
  KVRStoreAccount* soft = accountNamed("Pelliro Soft");
  KVRStoreAccount* editions = accountNamed("Pelliro Editions");
  KVRStoreAccount* android = accountNamed("Pelliro on Android");
  ASSERT_TRUE(soft && editions && android);
  expectSameAsReference(products({soft->products.front()}), "one product");
  expectSameAsReference(products({soft->products.back(), editions->products.front(), android->products.front()}),
                        "products of three accounts");
  KVRFinancialSelection noRowAccount = accounts({soft, editions});
  noRowAccount.accountSelected = false;
  expectSameAsReference(noRowAccount, "two accounts, no account row");
}

TEST_F(StatementSampleTest, DemoShowsEveryCaseOfTheScreen) {
  KVRStoreAccount* soft = accountNamed("Pelliro Soft");
  KVRStoreAccount* android = accountNamed("Pelliro on Android");
  const KVRFinancialStatement st = KVRFinancialStatementBuilder().build(accounts({soft}), kNow);
  ASSERT_GE(st.months.size(), 20u);

  // A report for every region of every month after the first.
  for (size_t i = 1; i < st.months.size(); ++i)
    for (int row = 1; row < KVRRegionRowIAD; ++row)
      EXPECT_NE(st.financialReportForMonth(st.months[i].date, KVRFinancialRegionCode(row)), nullptr)
          << st.months[i].date.year << "-" << st.months[i].date.month << " " << row;
  EXPECT_EQ(st.storeChanges.reportsToDelete.size(), 2u);

  int reconciled = 0, waiting = 0, coverOne = 0, coverSeveral = 0, iAd = 0, japanPaidLess = 0, negative = 0;
  for (const KVRFinancialMonth& m : st.months) {
    negative += m.incomeLocal[KVRRegionRowCA] < 0;
    for (const auto& [code, record] : m.payments.all()) {
      if (!record->isPaymentForm()) continue;
      (record->isReconciled() ? reconciled : waiting)++;
      coverOne += record->priorMonths.size() == 1;
      coverSeveral += record->priorMonths.size() >= 2;
      japanPaidLess += code == "JP" && record->jpRatioOrOne() < 1.0f;
      if (code == "IAD") {
        ++iAd;
        EXPECT_EQ(m.income[KVRRegionRowIAD], record->income);
      }
    }
  }
  EXPECT_GT(reconciled, 0);
  EXPECT_GT(waiting, 0);
  EXPECT_GT(coverOne, 0);
  EXPECT_GT(coverSeveral, 0);
  EXPECT_GT(iAd, 0);
  EXPECT_GT(japanPaidLess, 0);
  EXPECT_EQ(negative, 1);

  // The Android account's earnings: one report a month, answering every
  // region, its lines spread over the regions of their currencies.
  const KVRFinancialStatement droid = KVRFinancialStatementBuilder().build(accounts({android}), kNow);
  ASSERT_FALSE(droid.months.empty());
  const KVRFinancialMonth& last = droid.months.back();
  EXPECT_NE(droid.financialReportForMonth(last.date, u"JP"), nullptr);
  int regions = 0;
  for (int row = 1; row < KVRRegionRowIAD; ++row) regions += last.incomeLocal[row] != 0;
  EXPECT_GE(regions, 5);
}

TEST_F(StatementSampleTest, AfterTheStoreChangesTheStatementStillAgrees) {
  const KVRFinancialSelection everything = accounts(dm().accounts());
  const KVRFinancialStatement first = KVRFinancialStatementBuilder().build(everything, kNow);
  EXPECT_TRUE(KVRFinancialStatementBuilder().applyStoreChanges(first.storeChanges));
  const KVRFinancialStatement second = KVRFinancialStatementBuilder().build(everything, kNow);
  EXPECT_TRUE(second.storeChanges.empty());
  EXPECT_EQ(reference::difference(first, second), "reports to delete");
  EXPECT_EQ(reference::difference(second, reference::build(everything, kNow)), "");
}

// Several accounts: each account's figures are its own, the selection's cell
// their sum; a cell is reconciled only when every account with an estimate or
// a payment there is.
TEST_F(StatementSampleTest, AllAccountsCellIsTheSumOfTheAccountsCells) {
  const std::vector<KVRStoreAccount*> all = dm().accounts();
  ASSERT_GE(all.size(), 2u);
  const KVRFinancialStatement together = KVRFinancialStatementBuilder().build(accounts(all), kNow);
  std::vector<KVRFinancialStatement> alone;
  std::vector<KVRStoreAccount*> byId = all;
  std::stable_sort(byId.begin(), byId.end(), [](const KVRStoreAccount* a, const KVRStoreAccount* b) {
    return a->objectID < b->objectID;
  });
  for (KVRStoreAccount* a : byId) alone.push_back(KVRFinancialStatementBuilder().build(accounts({a}), kNow));

  int cells = 0, paidAndWaiting = 0, received = 0;
  for (const KVRFinancialMonth& m : together.months) {
    for (int row = 1; row < KVRFinancialRegionCount; ++row) {
      const QString code = KVRFinancialRegionCode(row);
      float preferred = 0, local = 0, units = 0;
      bool anyThere = false, everyReceived = true, someReceived = false;
      for (const KVRFinancialStatement& st : alone) {
        const KVRFinancialMonth* own = st.monthRecord(m.date);
        if (!own) continue;
        const KVRRegionFigure& f = own->figures[size_t(row)];
        preferred += f.preferred;
        local += f.local;
        units += f.units;
        const KVRPaymentRecord* record = own->payments.forCode(code);
        // An estimate there: the account's lines in the region (an Android
        // report answers for every region, with lines in some).
        const bool estimate = !own->parts.empty() && ((own->parts.front().estimateRows >> row) & 1u);
        if (!record && !estimate) continue;
        anyThere = true;
        const bool reconciled = record && record->isReconciled();
        everyReceived = everyReceived && reconciled;
        someReceived = someReceived || reconciled;
      }
      const KVRRegionFigure& f = m.figures[size_t(row)];
      EXPECT_FLOAT_BITS(f.preferred, preferred) << m.date.year << "-" << m.date.month << " " << code.toStdString();
      EXPECT_FLOAT_BITS(f.local, local);
      EXPECT_FLOAT_EQ(f.units, units);
      const KVRPaymentRecord* shown = m.payments.forCode(code);
      EXPECT_EQ(shown && shown->isReconciled(), anyThere && everyReceived)
          << m.date.year << "-" << m.date.month << " " << code.toStdString();
      ++cells;
      paidAndWaiting += someReceived && !everyReceived;
      received += anyThere && everyReceived && shown;
    }
  }
  EXPECT_GT(cells, 400);
  EXPECT_GT(paidAndWaiting, 0);  // one account paid, another not
  EXPECT_GT(received, 0);
}
