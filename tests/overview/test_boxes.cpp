// The account and product boxes: names, all-time sums, icons and ratings.
#include <gtest/gtest.h>

#include "overview/KVRBoxesPresenter.h"
#include "test_presenter_fixtures.h"

using namespace display_test;

namespace {

void setTotals(KVRVortelyManagedProduct* p, float sales, float upgrades, float income) {
  p->publishValues(std::make_shared<KVRProductValues>(), sales, upgrades, income);
}

KVRBoxesInput input(std::vector<KVRVortelyManagedProduct*> extended, std::vector<KVRVortelyManagedProduct*> selected,
                    std::vector<KVRStoreAccount*> accounts) {
  KVRBoxesInput in;
  in.extendedProducts = std::move(extended);
  in.selectedProducts = std::move(selected);
  in.accounts = std::move(accounts);
  in.currencySymbol = QStringLiteral("€");
  return in;
}

}  // namespace

TEST(OverviewBoxes, NothingSelected) {
  const KVRBoxesDisplay b = KVRMakeBoxesDisplay(input({}, {}, {}));
  EXPECT_EQ(b.accountName, "No account");
  EXPECT_EQ(b.productIconName, "productNoIcon");
  EXPECT_EQ(b.accountIconName, "accountNoIcon");
  for (const QString& t : {b.accountTotalSales, b.accountTotalUpgrades, b.accountTotalIncome, b.productTotalSales,
                           b.productTotalUpgrades, b.productTotalIncome})
    EXPECT_EQ(t, "--");
  EXPECT_FLOAT_EQ(b.globalCounterValue, 0);
  EXPECT_EQ(b.revenuesLabel, "Revenues (€)");
}

TEST(OverviewBoxes, AccountNameFallsBackToDeveloperThenLogin) {
  Store store;
  KVRStoreAccount* acc = store.account(QString());
  acc->developer = QStringLiteral("Pelliro Labs");
  acc->login = QStringLiteral("dev@example.com");
  EXPECT_EQ(KVRMakeBoxesDisplay(input({}, {}, {acc})).accountName, "Pelliro Labs");
  acc->developer.clear();
  EXPECT_EQ(KVRMakeBoxesDisplay(input({}, {}, {acc})).accountName, "dev@example.com");
  KVRStoreAccount* other = store.account("Other");
  EXPECT_EQ(KVRMakeBoxesDisplay(input({}, {}, {acc, other})).accountName, "Multiple accounts");
}

TEST(OverviewBoxes, IconsComeFromTheShownSelection) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* iap = store.product(1, "Coins", acc, "In-App Purchase");
  KVRVortelyManagedProduct* book = store.product(2, "Guide", acc, "E-Book");
  KVRVortelyManagedProduct* app = store.product(3, "Alpha", acc);

  EXPECT_EQ(KVRMakeBoxesDisplay(input({iap}, {iap}, {acc})).productIconName, "inapp");
  EXPECT_EQ(KVRMakeBoxesDisplay(input({book}, {book}, {acc})).productIconName, "ebook");
  // An app without an icon of its own.
  EXPECT_EQ(KVRMakeBoxesDisplay(input({app}, {app}, {acc})).productIconName, "productNoIcon");

  KVRBoxesDisplay b = KVRMakeBoxesDisplay(input({iap, app}, {iap, app}, {acc}));
  EXPECT_EQ(b.productIconName, "productMultipleIcon");
  EXPECT_EQ(b.accountIconName, "accountMultipleIcon");

  // Only the account row selected: its products through the account, and its own icon.
  acc->icon = QByteArray("PNGDATA");
  b = KVRMakeBoxesDisplay(input({iap, book, app}, {}, {acc}));
  EXPECT_EQ(b.productIconName, "productMultipleIcon");
  EXPECT_EQ(b.accountIconName, "accountNoIcon");
  EXPECT_EQ(b.accountIconData, QByteArray("PNGDATA"));
}

TEST(OverviewBoxes, SumsAndRounding) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* a = store.product(1, "Alpha", acc);
  KVRVortelyManagedProduct* b = store.product(2, "Beta", acc);
  KVRVortelyManagedProduct* followed = store.product(3, "Followed");
  setTotals(a, 10.5f, 1.4f, 20.25f);
  setTotals(b, 4.4f, 2.5f, 0.5f);

  KVRBoxesInput in = input({a, b}, {a}, {acc});
  KVRBoxesDisplay d = KVRMakeBoxesDisplay(in);
  EXPECT_EQ(d.accountTotalSales, "15");  // 11 + 4, each rounded first
  EXPECT_EQ(d.accountTotalUpgrades, "4");
  EXPECT_EQ(d.accountTotalIncome, "20.75");
  EXPECT_FLOAT_EQ(d.globalCounterValue, 20.75f);
  EXPECT_EQ(d.productTotalSales, "11");  // the shown selection: Alpha only
  EXPECT_EQ(d.productTotalIncome, "20.25");

  in.roundCurrency = true;
  d = KVRMakeBoxesDisplay(in);
  EXPECT_EQ(d.accountTotalIncome, "21");
  EXPECT_EQ(d.productTotalIncome, "20");

  // The whole account selected: both boxes add up the same products, to the
  // cent, also beyond what single precision holds.
  setTotals(a, 1, 0, 4000000.25f);
  setTotals(b, 1, 0, 3000000.5f);
  d = KVRMakeBoxesDisplay(input({a, b}, {}, {acc}));
  EXPECT_TRUE(d.accountTotalIncome.endsWith("000.75")) << d.accountTotalIncome.toStdString();
  EXPECT_EQ(d.productTotalIncome, d.accountTotalIncome);
  EXPECT_DOUBLE_EQ(d.globalCounterValue, 7000000.75);

  // A shown product without an account: the labels show "--", the counter its sum.
  d = KVRMakeBoxesDisplay(input({followed}, {followed}, {}));
  EXPECT_EQ(d.productTotalSales, "--");
  EXPECT_EQ(d.accountTotalIncome, "--");
}

TEST(OverviewBoxes, RatingsAddUpByStarLevel) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* a = store.product(1, "Alpha", acc);
  KVRVortelyManagedProduct* b = store.product(2, "Beta", acc);
  // Alpha has no two-star votes; Beta none at one star: levels must not shift.
  store.rate(a, 1, 4, 1);
  store.rate(a, 5, 10, 2);
  store.rate(b, 2, 3, 0);
  store.rate(b, 5, 1, 1, "143442");
  a->cacheRatings();
  b->cacheRatings();
  KVRBoxesInput in = input({a, b}, {a, b}, {acc});
  in.ratingsLoaded = true;
  const KVRBoxesDisplay d = KVRMakeBoxesDisplay(in);
  EXPECT_TRUE(d.ratingsAvailable);
  EXPECT_EQ(d.accountRatings, (std::array<int, 5>{4, 3, 0, 0, 11}));
  EXPECT_EQ(d.accountNewRatings, (std::array<int, 5>{1, 0, 0, 0, 3}));
  EXPECT_EQ(d.productRatings, d.accountRatings);

  in.ratingsLoaded = false;
  EXPECT_FALSE(KVRMakeBoxesDisplay(in).ratingsAvailable);
}
