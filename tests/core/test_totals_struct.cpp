#include <gtest/gtest.h>

#include <thread>

#include "core/KVRTotalsStruct.h"

namespace {
const char* const kReadable[] = {"downloads", "sales", "upgrades", "currency", "refunds",
                                 "freeSales", "paiedSales", "iAdSales", "eCPM", "requests",
                                 "impressions", "fillRate", "ctr", "giftPurchase",
                                 "giftRedemption", "eduStore", "promoCode", "newSubscription",
                                 "renewal"};
}

TEST(TotalsStruct, ObjectForKeyReadsNamedMeasuresOnly) {
  KVRTotalsStruct r;
  // Give every measure a distinct value through its field, then read it by name.
  float v = 1;
  for (int i = 0; i <= static_cast<int>(KVRMeasure::income); ++i) r.measure(static_cast<KVRMeasure>(i)) = v++;
  EXPECT_EQ(r.objectForKey("sales"), r.sales);
  EXPECT_EQ(r.objectForKey("paiedSales"), r.paiedSales);
  EXPECT_EQ(r.objectForKey("renewal"), r.renewal);
  EXPECT_EQ(r.objectForKey(QStringLiteral("ctr")), r.ctr);
  for (const char* key : kReadable) {
    KVRMeasure m;
    ASSERT_TRUE(KVRMeasureForKey(key, &m)) << key;
    EXPECT_STREQ(KVRMeasureName(m), key);
    EXPECT_EQ(r.objectForKey(key), r.measure(m)) << key;
    EXPECT_NE(r.objectForKey(key), 0.0f) << key;
  }
  EXPECT_EQ(r.income, 20.0f);
  EXPECT_EQ(r.objectForKey("income"), 0.0f);
  EXPECT_EQ(r.objectForKey("Sales"), 0.0f);
  EXPECT_EQ(r.objectForKey(""), 0.0f);
  EXPECT_EQ(r.objectForKey("currencyUSD"), 0.0f);
  EXPECT_EQ(KVRObjectForKey(nullptr, "sales"), 0.0f);
  EXPECT_EQ(KVRObjectForKey(&r, "sales"), r.sales);
}

TEST(TotalsStruct, AddValueFromOneCurrency) {
  KVRTotalsStruct a, b;
  EXPECT_FALSE(a.currencies.exists());
  b.currencyEUR = 2.5f;
  b.currencyUSD = 7.0f;
  b.sales = 3;
  a.addValueFrom(b, "EUR");
  a.addValueFrom(b, "EUR");
  EXPECT_EQ(a.currencyEUR, 5.0f);
  EXPECT_EQ(a.currencyUSD, 0.0f);  // only the named currency
  EXPECT_EQ(a.sales, 0.0f);
  EXPECT_TRUE(a.currencies.exists());
  EXPECT_EQ(a.currencies.codes(), QStringList{QStringLiteral("EUR")});

  // A code outside the 13 joins the set and changes no amount.
  const KVRTotalsStruct before = a;
  a.addValueFrom(b, "BRL");
  EXPECT_TRUE(a.currencies.contains("BRL"));
  EXPECT_EQ(a.currencies.count(), 2);
  KVRTotalsStruct amountsOnly = a;
  amountsOnly.currencies = before.currencies;
  EXPECT_TRUE(amountsOnly == before);
  // DKK, the last slot, is reached.
  b.currencyDKK = 1.25f;
  a.addValueFrom(b, "DKK");
  EXPECT_EQ(a.currencyDKK, 1.25f);
}

TEST(TotalsStruct, AddValuesFromJoinsSetsAndAddsThirteenAmounts) {
  KVRTotalsStruct a, b;
  for (int i = 0; i < KVRCurrencySlotCount; ++i) {
    a.currencyAmount(static_cast<KVRCurrencySlot>(i)) = float(i);
    b.currencyAmount(static_cast<KVRCurrencySlot>(i)) = 0.5f;
  }
  b.sales = 4;
  b.income = 9;
  b.currencies.insert("JPY");
  b.currencies.insert("XAF");
  a.currencies.insert("USD");
  a.addValuesFrom(b);
  for (int i = 0; i < KVRCurrencySlotCount; ++i)
    EXPECT_EQ(a.currencyAmount(static_cast<KVRCurrencySlot>(i)), float(i) + 0.5f) << i;
  EXPECT_EQ(a.sales, 0.0f);
  EXPECT_EQ(a.income, 0.0f);
  EXPECT_EQ(a.currencies.codes(),
            (QStringList{QStringLiteral("JPY"), QStringLiteral("USD"), QStringLiteral("XAF")}));

  // Adding a record whose set was never made still makes ours.
  KVRTotalsStruct c, empty;
  c.addValuesFrom(empty);
  EXPECT_TRUE(c.currencies.exists());
  EXPECT_TRUE(c.currencies.empty());
  EXPECT_FALSE(c == empty);  // an empty set is not an absent one
}

TEST(TotalsStruct, SlotsAndEqualityAreExact) {
  EXPECT_EQ(KVRCurrencySlotForCode("USD"), 0);
  EXPECT_EQ(KVRCurrencySlotForCode("DKK"), 12);
  EXPECT_EQ(KVRCurrencySlotForCode("usd"), -1);
  EXPECT_EQ(KVRCurrencySlotForCode("BRL"), -1);
  KVRTotalsStruct a, b;
  a.fillRate = 0.0f;
  b.fillRate = -0.0f;
  EXPECT_FALSE(a == b);  // bit-exact
  b.fillRate = 0.0f;
  a.currencyNZD = 1e-7f;
  EXPECT_FALSE(a == b);
}

TEST(CurrencySet, InterningIsStableAndThreadSafe) {
  const int i = KVRCurrencySet::indexForCode("SGD");
  EXPECT_GE(i, 0);
  EXPECT_EQ(KVRCurrencySet::indexForCode("SGD"), i);
  EXPECT_EQ(KVRCurrencySet::codeForIndex(i), "SGD");
  EXPECT_TRUE(KVRCurrencySet::codeForIndex(1000).empty());
  KVRCurrencySet s;
  EXPECT_FALSE(s.contains("never-seen"));
  // Codes are kept whole: two long codes with the same beginning stay two
  // codes, and each reads back as it was given.
  s.insert("USD - RoW");
  s.insert("USD - RoW2");
  EXPECT_TRUE(s.contains("USD - RoW"));
  EXPECT_TRUE(s.contains("USD - RoW2"));
  EXPECT_FALSE(s.contains("USD - R"));
  EXPECT_EQ(s.count(), 2);
  EXPECT_EQ(s.codes(), QStringList({"USD - RoW", "USD - RoW2"}));
  EXPECT_EQ(KVRCurrencySet::indexForCode("USD - RoW"), KVRCurrencySet::indexForCode("USD - RoW"));

  std::vector<std::thread> threads;
  std::vector<int> seen(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&seen, t] {
      for (int k = 0; k < 200; ++k) seen[t] = KVRCurrencySet::indexForCode("THB");
    });
  for (auto& th : threads) th.join();
  for (int t = 1; t < 4; ++t) EXPECT_EQ(seen[t], seen[0]);
}
