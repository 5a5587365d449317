#include <QSet>
#include <gtest/gtest.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "catalogue/KVRVortelyStoreDataSource.h"

namespace {

using Store = KVRVortelyStoreDataSource;

TEST(StoreDataSource, CountryTableIsConsistent) {
  const auto& rows = Store::countries();
  EXPECT_GE(rows.size(), 140u);
  QSet<QString> codes, storefronts, regions;
  QString previousLabel;
  for (const auto& r : rows) {
    EXPECT_EQ(r.ShortDesc.size(), 2);
    EXPECT_EQ(r.ShortDesc, r.ShortDesc.toLower());
    EXPECT_EQ(r.Value.size(), 6) << r.Label.toStdString();
    EXPECT_TRUE(r.Value.startsWith("143")) << r.Label.toStdString();
    EXPECT_FALSE(r.Label.isEmpty());
    EXPECT_FALSE(r.iAdLabel.isEmpty());
    // Every region has its currency in the currency table.
    EXPECT_EQ(r.CurrencyFormat, KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(r.Region))
        << r.Label.toStdString();
    EXPECT_FALSE(r.CurrencyFormat.isEmpty()) << r.Label.toStdString();
    EXPECT_LT(QString::compare(previousLabel, r.Label), 0) << r.Label.toStdString();
    previousLabel = r.Label;
    EXPECT_FALSE(codes.contains(r.ShortDesc)) << r.ShortDesc.toStdString();
    EXPECT_FALSE(storefronts.contains(r.Value)) << r.Value.toStdString();
    codes.insert(r.ShortDesc);
    storefronts.insert(r.Value);
    regions.insert(r.Region);
  }
  EXPECT_EQ(regions.size(), 17);
}

TEST(StoreDataSource, CountryLookups) {
  EXPECT_EQ(Store::countryLabelForShortDesc("fr"), "France");
  EXPECT_EQ(Store::countryLabelForShortDesc("us"), "United States");
  EXPECT_TRUE(Store::countryLabelForShortDesc("FR").isNull());  // lower case only
  EXPECT_TRUE(Store::countryLabelForShortDesc("zz").isNull());
  EXPECT_TRUE(Store::countryLabelForShortDesc("").isNull());
  EXPECT_TRUE(Store::countryLabelForShortDesc(QString()).isNull());

  ASSERT_NE(Store::countryForStorefront("143441"), nullptr);
  EXPECT_EQ(Store::countryForStorefront("143441")->ShortDesc, "us");
  EXPECT_EQ(Store::countryForStorefront("143442")->ShortDesc, "fr");
  EXPECT_EQ(Store::countryForStorefront("Android"), nullptr);
  EXPECT_EQ(Store::countryForCode("De")->Label, "Germany");
  EXPECT_EQ(Store::countryForCode("deu"), nullptr);
}

TEST(StoreDataSource, MoneyRegionOfACountry) {
  EXPECT_EQ(Store::regionForCountryCode("US"), "US");
  EXPECT_EQ(Store::regionForCountryCode("fr"), "EU");
  EXPECT_EQ(Store::regionForCountryCode("DE"), "EU");
  EXPECT_EQ(Store::regionForCountryCode("GB"), "GB");
  EXPECT_EQ(Store::regionForCountryCode("ch"), "CH");
  EXPECT_EQ(Store::regionForCountryCode("HK"), "HK");
  EXPECT_EQ(Store::regionForCountryCode("BR"), "WW");  // a store country paid in dollars
  EXPECT_EQ(Store::regionForCountryCode("XX"), "WW");  // unknown
  EXPECT_EQ(Store::regionForCountryCode(""), "WW");
  EXPECT_EQ(Store::regionForCountryCode(QString()), "WW");
}

TEST(StoreDataSource, CategoryIDs) {
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Business"), 6000);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Books"), 6018);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Games"), 6014);
  // Mac-only categories, and shared labels asked for the Mac store.
  EXPECT_GE(Store::categoryIDForRankingFromCategoryLabel("Developer Tools"), 12000);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Graphics & Design"), 12022);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Games", true), 12006);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Business", true), 12001);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Books", true), 6018);  // no Mac row
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("In-App Purchase"), 0);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("E-Book"), 0);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel("Nothing"), 0);
  EXPECT_EQ(Store::categoryIDForRankingFromCategoryLabel(QString()), 0);

  for (const auto& c : Store::categories()) {
    if (c.Value != 0) {
      EXPECT_EQ(c.mac, c.Value >= 12000) << c.Label.toStdString();
    }
  }
}

}  // namespace
