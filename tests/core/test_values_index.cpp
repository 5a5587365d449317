// The shared values index on its own: key union and copy-on-write views.
#include <gtest/gtest.h>

#include "core/KVRSharedValuesIndex.h"

namespace {

KVRProductValuesRef values(std::initializer_list<const char*> keys, float sales = 1) {
  auto v = std::make_shared<KVRProductValues>();
  for (const char* k : keys) {
    const QString key = QString::fromLatin1(k);
    KVRTotalsStruct r;
    r.sales = sales;
    KVRValueSeries s{{r}, key, key.section('-', 0, 0), key.section('-', 1), {100}};
    v->series.push_back(std::move(s));
  }
  std::sort(v->series.begin(), v->series.end(),
            [](const KVRValueSeries& a, const KVRValueSeries& b) { return a.valueKey < b.valueKey; });
  return v;
}

TEST(ValuesIndex, KeysAreTheUnionSortedCaseInsensitively) {
  KVRSharedValuesIndex index;
  EXPECT_TRUE(index.snapshot()->byProduct.empty());
  EXPECT_TRUE(index.snapshot()->valueKeys.isEmpty());

  index.publish(1, values({"WW-BR", "EU-FR"}));
  index.publish(2, values({"EU-FR", "US-US", "eu-DE"}));
  EXPECT_EQ(index.snapshot()->valueKeys, (QStringList{"eu-DE", "EU-FR", "US-US", "WW-BR"}));

  // A key stays while some product holds it.
  index.publish(2, values({"US-US"}));
  EXPECT_EQ(index.snapshot()->valueKeys, (QStringList{"EU-FR", "US-US", "WW-BR"}));
  index.publish(1, nullptr);
  EXPECT_EQ(index.snapshot()->valueKeys, (QStringList{"US-US"}));
  EXPECT_EQ(index.snapshot()->byProduct.size(), 1u);

  index.clear();
  EXPECT_TRUE(index.snapshot()->byProduct.empty());
  EXPECT_TRUE(index.snapshot()->valueKeys.isEmpty());
  index.publish(3, values({"CA-CA"}));
  EXPECT_EQ(index.snapshot()->valueKeys, (QStringList{"CA-CA"}));
}

TEST(ValuesIndex, ViewsTakenEarlierNeverChange) {
  KVRSharedValuesIndex index;
  index.publish(7, values({"EU-FR"}, 1));
  auto before = index.snapshot();
  index.publish(7, values({"US-US"}, 2));
  index.publish(8, values({"EU-FR"}, 3));

  ASSERT_TRUE(before->find("EU-FR", 100, 7));
  EXPECT_FLOAT_EQ(before->find("EU-FR", 100, 7)->sales, 1);
  EXPECT_FALSE(before->find("EU-FR", 100, 8));
  EXPECT_EQ(before->valueKeys, QStringList{"EU-FR"});

  auto after = index.snapshot();
  EXPECT_FALSE(after->find("EU-FR", 100, 7));  // the rebuild replaced the product's records whole
  EXPECT_FLOAT_EQ(after->find("US-US", 100, 7)->sales, 2);
  EXPECT_FALSE(after->find("US-US", 101, 7));
  EXPECT_FALSE(after->find("US-US", 100, 99));
}

}  // namespace
