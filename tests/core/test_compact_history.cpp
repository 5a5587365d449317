// The compact day records: a build gives every record, float for float, as a
// plain per-record accumulation does, and series made by hand read back what
// was put in.
#include <gtest/gtest.h>

#include <set>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRHistoryBuilder.h"
#include "platform/KVRVortelyLogCenter.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRUserDefaults.h"
#include "random_history.h"
#include "reference_history.h"

namespace {

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class CompactHistory : public ::testing::Test {
 protected:
  void SetUp() override {
    KVRUserDefaults::standard().setString("PreferedCurrency", "EUR");
    auto& conv = converter;
    conv.setRate("USD", "EUR", 0.913);
    conv.setRate("GBP", "EUR", 1.17);
    conv.setRate("JPY", "EUR", 0.0063);
    conv.setRate("CHF", "EUR", 1.0);
  }
  void TearDown() override { KVRUserDefaults::standard().removeObjectForKey("PreferedCurrency"); }

  KVRVortelyCurrencyConverter converter;  // the builds' own rates
  KVRVortelyLogCenter log;
  const KVRCalculationServices services{&converter, &KVRCalendar::shared(), &log};
};

TEST_F(CompactHistory, BuildGivesThePlainAccumulationsFloatsBitForBit) {
  constexpr KVRCivilDay first = KVRCivilDayFromYMD(2025, 1, 6);
  KVRHistoryBuilder builder(services);  // one builder for every product, as a rebuild of all
  bool sawInt8 = false, sawInt16 = false, sawFloat = false, sawScaled = false, sawSum = false, sawMixedSets = false;
  for (int seed = 0; seed < 12; ++seed) {
    std::mt19937 rng{unsigned(seed)};
    RandomHistory lines;
    KVRVortelyManagedProduct product;
    // Some products sell little, each day in its country's currency: their
    // amounts in the preferred currency are read as income x rate.
    const bool quiet = seed % 4 == 1;
    lines.fill(&product, rng, first, seed % 3 == 0 ? 30 : 400, quiet ? 200 : 2500, !quiet);
    const KVRHistory h = builder.build(product.entries, product.iAdEntries, lines.accountReports);
    const reference::History ref =
        reference::buildHistory(converter, product.entries, product.iAdEntries, lines.accountReports);

    EXPECT_TRUE(sameBits(h.totalSales, ref.totalSales)) << seed;
    EXPECT_TRUE(sameBits(h.totalUpgrades, ref.totalUpgrades)) << seed;
    EXPECT_TRUE(sameBits(h.totalIncomes, ref.totalIncomes)) << seed;
    ASSERT_EQ(h.values->recordCount(), ref.records.size()) << seed;
    for (const auto& [key, r] : ref.records) {
      const KVRTotalsStruct* got = h.values->find(key.first, key.second);
      ASSERT_TRUE(got) << seed << " " << key.first.toStdString() << " " << key.second;
      ASSERT_TRUE(*got == r) << seed << " " << key.first.toStdString() << " day " << key.second << ": sales " << got->sales
                             << " vs " << r.sales << ", currency " << got->currency << " vs " << r.currency;
      ASSERT_EQ(got->date, r.date);
    }
    for (const KVRValueSeries& s : h.values->series) {
      // Reading a series front to back gives its days in order and the same records.
      for (size_t i = 0; i < s.days.size(); ++i) {
        ASSERT_TRUE(s.records[i] == ref.records.at({s.valueKey, s.days[i]})) << s.valueKey.toStdString() << " " << i;
        ASSERT_EQ(s.days.indexOf(s.days[i]), ptrdiff_t(i));
        ASSERT_EQ(s.days.lowerBound(s.days[i] - 1), i > 0 && s.days[i - 1] == s.days[i] - 1 ? i - 1 : i);
      }
      for (const KVRSeriesRecords::FieldOp& op : s.records.allOps()) {
        const int enc = op.encoding & KVRSeriesRecords::kEncodingMask;
        sawInt8 |= enc == KVRSeriesRecords::kInt8;
        sawInt16 |= enc == KVRSeriesRecords::kInt16;
        sawFloat |= enc == KVRSeriesRecords::kFloat;
        sawScaled |= (op.encoding & KVRSeriesRecords::kScaled) != 0;
        sawSum |= (op.encoding & KVRSeriesRecords::kSum) != 0;
      }
      sawMixedSets |= !s.records.uniformSets();
    }
  }
  // The random lines reach every form a field can take.
  EXPECT_TRUE(sawInt8 && sawInt16 && sawFloat && sawScaled && sawSum && sawMixedSets)
      << sawInt8 << sawInt16 << sawFloat << sawScaled << sawSum << sawMixedSets;
}

// Runs of effective rates over some of the (region, currency) pairs the
// random lines use: runs of 1 to 40 days with gaps, rates of 1 (the preferred
// currency's own), the cached rate or others, and now and then a pair whose
// runs all lie before the lines.
std::shared_ptr<const KVREffectiveRates> randomEffectiveRates(std::mt19937& rng, KVRCivilDay first, int days) {
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  std::set<std::pair<QString, QString>> pairs;
  for (const char* country : {"FR", "DE", "US", "GB", "JP", "ZZ", "CH", "BR", "IT"}) {
    QString region = KVRVortelyStoreDataSource::regionForCountryCode(country);
    if (region.isEmpty()) region = "WW";
    for (const char* currency : {"EUR", "USD", "GBP", "JPY", "CHF"}) pairs.insert({region, currency});
  }
  const double rates[] = {1.0, 0.75, 1.3, 0.913};
  KVREffectiveRates runs;
  for (const auto& [region, currency] : pairs) {
    if (pick(3) == 0) continue;
    const bool before = pick(6) == 0;
    KVRCivilDay day = before ? first - 100 : first - 10 + pick(20);
    const KVRCivilDay end = before ? first - 1 : first + days + 10;
    while (day < end) {
      const KVRCivilDay last = std::min<KVRCivilDay>(end - 1, day + pick(40));
      runs.push_back({region, currency, day, last, rates[pick(4)]});
      day = last + 1 + (pick(3) == 0 ? pick(10) : 0);
    }
  }
  return std::make_shared<const KVREffectiveRates>(std::move(runs));
}

// Reconciled payments' rates convert day by day: a build with them gives the
// plain accumulation's floats, and the next product built without them by the
// same builder converts at the cached rates again.
TEST_F(CompactHistory, EffectiveRatesConvertAsThePlainAccumulationDoes) {
  constexpr KVRCivilDay first = KVRCivilDayFromYMD(2024, 11, 4);
  constexpr int days = 150;
  KVRHistoryBuilder builder(services);
  bool changedSomething = false;
  for (int seed = 0; seed < 16; ++seed) {
    std::mt19937 rng{unsigned(50 + seed)};
    RandomHistory lines;
    KVRVortelyManagedProduct product;
    // Few lines leave some keys with one-day lines only.
    lines.fill(&product, rng, first, days, seed % 4 == 1 ? 40 : 1500, seed % 2 == 0);
    const std::shared_ptr<const KVREffectiveRates> rates = seed % 3 == 2 ? nullptr : randomEffectiveRates(rng, first, days);
    builder.setEffectiveRates(rates);
    const KVRHistory h = builder.build(product.entries, product.iAdEntries, lines.accountReports);
    const reference::History ref =
        reference::buildHistory(converter, product.entries, product.iAdEntries, lines.accountReports, rates.get());
    EXPECT_TRUE(sameBits(h.totalIncomes, ref.totalIncomes)) << seed << ": " << h.totalIncomes << " vs " << ref.totalIncomes;
    ASSERT_EQ(h.values->recordCount(), ref.records.size()) << seed;
    for (const auto& [key, r] : ref.records) {
      const KVRTotalsStruct* got = h.values->find(key.first, key.second);
      ASSERT_TRUE(got && *got == r) << seed << " " << key.first.toStdString() << " day " << key.second << ": currency "
                                    << (got ? got->currency : -1) << " vs " << r.currency;
    }
    if (rates)
      changedSomething |= !sameBits(ref.totalIncomes, reference::buildHistory(converter, product.entries,
                                                                              product.iAdEntries, lines.accountReports)
                                                          .totalIncomes);
  }
  EXPECT_TRUE(changedSomething);
}

TEST(CompactSeries, HandMadeRecordsAndDaysReadBackAsPutIn) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-3.0f, 50.0f);
  KVRValueSeries s;
  std::vector<KVRTotalsStruct> put;
  std::vector<KVRCivilDay> days;
  KVRCivilDay day = 100;
  for (int i = 0; i < 300; ++i) {
    KVRTotalsStruct r;
    float* x = KVRRecordFloats(r);
    // Ever more fields, some of them -0, not-a-number or huge.
    for (int f = 0; f < KVRRecordField::count; ++f) {
      if (int(rng() % 40) > i % 40) continue;
      const int kind = int(rng() % 8);
      x[f] = kind == 0 ? -0.0f : kind == 1 ? std::numeric_limits<float>::quiet_NaN() : kind == 2 ? 3.0e30f : value(rng);
    }
    if (i % 3) r.currencies.insert(i % 2 ? "EUR" : "XTS");
    s.days.push_back(day);
    s.records.push_back(r);
    put.push_back(r);
    days.push_back(day);
    day += i == 150 ? 70000 : 1 + KVRCivilDay(rng() % 5);  // past 16 bits of days once
  }
  const KVRValueSeries copy = s;
  for (const KVRValueSeries* series : {static_cast<const KVRValueSeries*>(&s), &copy}) {
    ASSERT_EQ(series->records.size(), put.size());
    for (size_t i = 0; i < put.size(); ++i) {
      const KVRTotalsStruct got = series->records[i];
      for (int f = 0; f < KVRRecordField::count; ++f)
        ASSERT_TRUE(sameBits(KVRRecordFloats(got)[f], KVRRecordFloats(put[i])[f])) << i << " field " << f;
      ASSERT_TRUE(got.currencies == put[i].currencies) << i;
      ASSERT_EQ(series->days[i], days[i]);
      ASSERT_EQ(series->indexOf(days[i]), ptrdiff_t(i));
    }
    EXPECT_EQ(series->indexOf(days[151] - 1), -1);
    EXPECT_EQ(series->days.lowerBound(days[151] - 1), 151u);
    EXPECT_EQ(series->days.lowerBound(days.back() + 1), put.size());
  }
}

}  // namespace

namespace {

TEST_F(CompactHistory, ProductsBuiltSideBySideGetWhatEachBuiltAloneGets) {
  constexpr KVRCivilDay first = KVRCivilDayFromYMD(2025, 3, 3);
  RandomHistory lines;
  std::vector<std::unique_ptr<KVRVortelyManagedProduct>> owned;
  std::vector<KVRVortelyManagedProduct*> products;
  for (int i = 0; i < 9; ++i) {
    owned.push_back(std::make_unique<KVRVortelyManagedProduct>());
    products.push_back(owned.back().get());
    products.back()->idStore = 7700 + i;
    std::mt19937 rng{unsigned(100 + i)};
    lines.fill(products.back(), rng, first, 120, 300 + 200 * i);
  }
  std::vector<KVRVortelyManagedProduct*> after;
  KVRVortelyManagedProduct::buildHistories(
      products, false, [&](KVRVortelyManagedProduct* p) { after.push_back(p); }, services);
  // Each product once, the largest first.
  ASSERT_EQ(after.size(), products.size());
  EXPECT_EQ(std::set<KVRVortelyManagedProduct*>(after.begin(), after.end()),
            std::set<KVRVortelyManagedProduct*>(products.begin(), products.end()));
  EXPECT_EQ(after.front(), products.back());
  for (KVRVortelyManagedProduct* p : products) {
    ASSERT_TRUE(p->initialized());
    const KVRHistory alone = KVRHistoryBuilder(services).build(p->entries, p->iAdEntries);
    const KVRProductValuesRef built = p->valuesByCountryAndDate();
    ASSERT_EQ(built->recordCount(), alone.values->recordCount());
    for (const KVRValueSeries& s : alone.values->series)
      for (size_t i = 0; i < s.days.size(); ++i)
        ASSERT_TRUE(s.records[i] == *built->find(s.valueKey, s.days[i])) << p->idStore;
    EXPECT_EQ(p->totalSales(), alone.totalSales);
    KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().publish(p->idStore, nullptr);
  }
}

}  // namespace
