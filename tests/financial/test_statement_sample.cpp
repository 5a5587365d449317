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

TEST_F(StatementSampleTest, AfterTheStoreChangesTheStatementStillAgrees) {
  const KVRFinancialSelection everything = accounts(dm().accounts());
  const KVRFinancialStatement first = KVRFinancialStatementBuilder().build(everything, kNow);
  EXPECT_TRUE(KVRFinancialStatementBuilder().applyStoreChanges(first.storeChanges));
  const KVRFinancialStatement second = KVRFinancialStatementBuilder().build(everything, kNow);
  EXPECT_TRUE(second.storeChanges.empty());
  EXPECT_EQ(reference::difference(first, second), "reports to delete");
  EXPECT_EQ(reference::difference(second, reference::build(everything, kNow)), "");
}
