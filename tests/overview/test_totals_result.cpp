// The engine's records per country laid over one shared array of zero records.
#include <gtest/gtest.h>

#include "overview/KVRTotalsResult.h"

TEST(TotalsResultCountries, RecordsLaidOverSharedZerosStayApart) {
  auto zeros = std::make_shared<KVRCountryTotals>();
  for (const char* c : {"DE", "FR", "US"}) zeros->append(c, KVRTotalsStruct());
  const std::shared_ptr<const KVRCountryTotals> shared = zeros;

  KVRCountryTotals a, b;
  a.assignFrom(shared);
  b.assignFrom(shared);
  // Reading finds every country, zero.
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(static_cast<const KVRCountryTotals&>(a).at("FR").sales, 0.0f);
  EXPECT_TRUE(static_cast<const KVRCountryTotals&>(a).find("GB") == static_cast<const KVRCountryTotals&>(a).end());

  // A record summed into is the container's own: the shared zeros and the
  // other product's records keep their zeros.
  a.entry(1).second.sales = 4;
  EXPECT_EQ(static_cast<const KVRCountryTotals&>(a).at("FR").sales, 4.0f);
  EXPECT_EQ(shared->entry(1).second.sales, 0.0f);
  EXPECT_EQ(static_cast<const KVRCountryTotals&>(b).at("FR").sales, 0.0f);

  // In order, with the zero records between.
  std::vector<QString> codes;
  std::vector<float> sales;
  for (const auto& [code, record] : static_cast<const KVRCountryTotals&>(a)) {
    codes.push_back(code);
    sales.push_back(record.sales);
  }
  EXPECT_EQ(codes, (std::vector<QString>{"DE", "FR", "US"}));
  EXPECT_EQ(sales, (std::vector<float>{0, 4, 0}));

  // The same records as an array of its own compare equal; a copy changed
  // through a mutable iteration or operator[] changes alone.
  KVRCountryTotals dense;
  for (const char* c : {"DE", "FR", "US"}) dense.append(c, KVRTotalsStruct());
  dense["FR"].sales = 4;
  EXPECT_TRUE(a == dense);
  KVRCountryTotals copy = a;
  for (auto& [code, record] : copy) record.sales += 1;
  copy["GB"].sales = 2;
  EXPECT_EQ(copy.size(), 4u);
  EXPECT_EQ(copy.at("FR").sales, 5.0f);
  EXPECT_EQ(static_cast<const KVRCountryTotals&>(a).at("FR").sales, 4.0f);
  EXPECT_EQ(static_cast<const KVRCountryTotals&>(a).at("US").sales, 0.0f);
  EXPECT_EQ(shared->entry(2).second.sales, 0.0f);
  EXPECT_FALSE(a == copy);
}
