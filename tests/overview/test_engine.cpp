// The totals engine: summing rules on hand-made histories, and bit-for-bit
// agreement with a plain transcription of the loops on random data.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"
#include "overview/KVRTotalsEngine.h"
#include "reference_engine.h"
#include "test_controller_fakes.h"

using namespace overview_test;

namespace {

using Inputs = std::vector<KVRTotalsEngine::ProductInput>;

QStringList keysOf(const Inputs& inputs) {
  QStringList keys;
  for (const auto& p : inputs)
    if (p.values)
      for (const auto& s : p.values->series)
        if (!keys.contains(s.valueKey)) keys << s.valueKey;
  return keys;
}

std::optional<KVRTotalsResult> runFast(const Inputs& in, const QString& region, KVRDate from, KVRDate to,
                                       bool onlyTotals, int threads = 0, const QStringList* keys = nullptr) {
  return KVRTotalsEngine::run(keys ? *keys : keysOf(in), in, region, from, to, onlyTotals, nullptr, threads);
}

// Bit-exact comparison of two results, with a readable first difference.
::testing::AssertionResult sameResults(const std::optional<KVRTotalsResult>& a,
                                       const std::optional<KVRTotalsResult>& b) {
  if (a.has_value() != b.has_value()) return ::testing::AssertionFailure() << "one result is none";
  if (!a) return ::testing::AssertionSuccess();
  if (a->size() != b->size()) return ::testing::AssertionFailure() << "product count " << a->size() << " vs " << b->size();
  for (const auto& [id, pa] : *a) {
    auto it = b->find(id);
    if (it == b->end()) return ::testing::AssertionFailure() << "missing product " << id;
    const KVRProductTotals& pb = it->second;
    if (!(pa.totals == pb.totals)) return ::testing::AssertionFailure() << "totals differ for " << id;
    if (pa.hasSalesByDate != pb.hasSalesByDate) return ::testing::AssertionFailure() << "hasSalesByDate " << id;
    if (pa.byCountry.size() != pb.byCountry.size())
      return ::testing::AssertionFailure() << "country count " << pa.byCountry.size() << " vs " << pb.byCountry.size();
    for (const auto& [c, ra] : pa.byCountry) {
      auto ct = pb.byCountry.find(c);
      if (ct == pb.byCountry.end()) return ::testing::AssertionFailure() << "missing country " << c.toStdString();
      if (!(ra == ct->second))
        return ::testing::AssertionFailure() << "country " << c.toStdString() << " differs for " << id << ": sales "
                                             << ra.sales << " vs " << ct->second.sales;
    }
    if (pa.salesByDate.size() != pb.salesByDate.size())
      return ::testing::AssertionFailure() << "day count " << pa.salesByDate.size() << " vs " << pb.salesByDate.size();
    for (size_t i = 0; i < pa.salesByDate.size(); ++i) {
      if (pa.salesByDate[i].first != pb.salesByDate[i].first) return ::testing::AssertionFailure() << "day date " << i;
      if (!(pa.salesByDate[i].second == pb.salesByDate[i].second))
        return ::testing::AssertionFailure() << "day record " << i << " differs for " << id;
    }
  }
  return ::testing::AssertionSuccess();
}

std::optional<KVRTotalsResult> runReference(const Inputs& in, const QString& region, KVRDate from, KVRDate to,
                                            bool onlyTotals, reference::Order order = reference::Order::Automatic,
                                            reference::Order* used = nullptr, const Inputs* all = nullptr) {
  const reference::Caches caches = reference::Caches::fromSnapshots(all ? *all : in);
  std::vector<int64_t> ids;
  for (const auto& p : in) ids.push_back(p.idStore);
  return reference::totalsForRegion(caches, region, from, to, ids, onlyTotals, nullptr, order, used);
}

// Random histories: fractional counts, money in a few currencies (one of them
// without an amount slot), some keys differing only by case.
Inputs randomProducts(std::mt19937& rng, int productCount, KVRCivilDay firstDay, int dayCount) {
  const QStringList regions = {"US", "EU", "WW", "GB", "JP", "eu"};
  const QStringList countries = {"FR", "DE", "US", "GB", "JP", "IT", "ES"};
  const char* currencies[] = {"USD", "EUR", "GBP", "JPY", "XTS"};
  std::uniform_real_distribution<float> value(-2.0f, 40.0f);
  std::uniform_int_distribution<int> coin(0, 3);
  Inputs inputs;
  for (int p = 0; p < productCount; ++p) {
    if (coin(rng) == 0 && p > 0) {  // a product whose history was never built
      inputs.push_back({1000 + p, nullptr});
      continue;
    }
    HistoryBuilder h;
    for (const QString& r : regions) {
      for (const QString& c : countries) {
        if (coin(rng) != 0) continue;
        const QString key = r + "-" + c;
        for (int d = 0; d < dayCount; ++d) {
          if (coin(rng) == 0) continue;
          KVRTotalsStruct& rec = h.at(key, firstDay + d);
          for (int m = 0; m <= int(KVRMeasure::income); ++m) rec.measure(KVRMeasure(m)) = value(rng) / 4.0f;
          for (const char* cur : currencies) {
            if (coin(rng) != 0) continue;
            rec.currencies.insert(cur);
            const int slot = KVRCurrencySlotForCode(cur);
            if (slot >= 0) rec.currencyAmount(KVRCurrencySlot(slot)) = value(rng) * 1.37f;
          }
          if (coin(rng) == 0) rec.currencies.make();  // present but empty
        }
      }
    }
    inputs.push_back({1000 + p, h.build()});
  }
  return inputs;
}

}  // namespace

TEST(TotalsEngineRules, RegionFilterIsExact) {
  HistoryBuilder h;
  h.sales("EU-FR", civil(2026, 3, 1), 2).sales("US-US", civil(2026, 3, 1), 5).sales("WW-BR", civil(2026, 3, 1), 7);
  const Inputs in = {{1, h.build()}};
  const KVRDate d = day(2026, 3, 1);

  auto eu = runFast(in, "EU", d, d, false);
  ASSERT_TRUE(eu);
  const KVRProductTotals& p = eu->at(1);
  EXPECT_EQ(p.totals.sales, 2.0f);
  EXPECT_EQ(p.byCountry.size(), 1u);
  EXPECT_TRUE(p.byCountry.count("FR"));

  auto all = runFast(in, QString(), d, d, false);
  EXPECT_EQ(all->at(1).totals.sales, 14.0f);
  EXPECT_EQ(all->at(1).byCountry.size(), 3u);

  // Lower case matches no key: zero totals, no countries, no days.
  auto lower = runFast(in, "eu", d, d, false);
  EXPECT_EQ(lower->at(1).totals.sales, 0.0f);
  EXPECT_TRUE(lower->at(1).byCountry.empty());
  EXPECT_TRUE(lower->at(1).salesByDate.empty());
  EXPECT_TRUE(lower->at(1).hasSalesByDate);
}

TEST(TotalsEngineRules, CountryUnderTwoKeysAndFractionalDays) {
  HistoryBuilder h;
  h.sales("EU-FR", civil(2026, 3, 1), 1.25f).sales("EU-FR", civil(2026, 3, 2), 1.25f);
  h.sales("WW-FR", civil(2026, 3, 1), 0.4f).sales("WW-FR", civil(2026, 3, 2), 0.4f);
  h.at("EU-FR", civil(2026, 3, 1)).currency = 1.5f;
  h.at("WW-FR", civil(2026, 3, 2)).currency = 0.25f;
  const Inputs in = {{1, h.build()}};
  auto r = runFast(in, QString(), day(2026, 3, 1), day(2026, 3, 2), false);
  ASSERT_TRUE(r);
  const KVRProductTotals& p = r->at(1);
  // "totals": each key's count sums rounded (2.5 -> 3, 0.8 -> 1).
  EXPECT_EQ(p.totals.sales, 4.0f);
  EXPECT_EQ(p.totals.currency, 1.75f);
  // FR: EU-FR's sums as they are, plus WW-FR rounded.
  ASSERT_EQ(p.byCountry.size(), 1u);
  EXPECT_EQ(p.byCountry.at("FR").sales, 3.5f);
  // Per-day records keep the fractions.
  ASSERT_EQ(p.salesByDate.size(), 2u);
  EXPECT_EQ(p.salesByDate[0].second.sales, 1.25f + 0.4f);
  EXPECT_EQ(p.salesByDate[1].second.sales, 1.25f + 0.4f);
  EXPECT_TRUE(sameResults(r, runReference(in, QString(), day(2026, 3, 1), day(2026, 3, 2), false)));

  // Rounding of negative and half values.
  EXPECT_EQ(KVRTotalsEngine::roundCount(2.5f), 3.0f);
  EXPECT_EQ(KVRTotalsEngine::roundCount(2.4f), 2.0f);
  EXPECT_EQ(KVRTotalsEngine::roundCount(-2.7f), -2.0f);
}

TEST(TotalsEngineRules, OnlyTotalsIncomeAndZeroRecords) {
  HistoryBuilder h;
  KVRTotalsStruct& rec = h.at("EU-FR", civil(2026, 3, 1));
  rec.sales = 2;
  rec.income = 99;
  rec.currencyEUR = 10;
  rec.currencies.insert("EUR");
  HistoryBuilder other;
  other.sales("US-US", civil(2026, 3, 1), 3);
  const Inputs in = {{1, h.build()}, {2, other.build()}};
  const KVRDate d = day(2026, 3, 1);

  auto totals = runFast(in, QString(), d, d, true);
  ASSERT_TRUE(totals);
  const KVRProductTotals& p = totals->at(1);
  EXPECT_FALSE(p.hasSalesByDate);
  EXPECT_TRUE(p.salesByDate.empty());
  EXPECT_EQ(p.totals.currencyEUR, 10.0f);
  EXPECT_TRUE(p.totals.currencies.contains("EUR"));
  EXPECT_EQ(p.byCountry.at("FR").currencyEUR, 0.0f);
  EXPECT_TRUE(p.byCountry.at("FR").currencies.empty());
  EXPECT_EQ(p.byCountry.at("FR").sales, 2.0f);
  // A passing key without values of this product still gives its country.
  EXPECT_EQ(p.byCountry.at("US").sales, 0.0f);
  EXPECT_EQ(totals->at(2).byCountry.at("FR").sales, 0.0f);
  for (const auto& [id, e] : *totals) {
    EXPECT_EQ(e.totals.income, 0.0f);
    for (const auto& [c, r] : e.byCountry) EXPECT_EQ(r.income, 0.0f);
  }

  auto perDay = runFast(in, QString(), d, d, false);
  EXPECT_EQ(perDay->at(1).byCountry.at("FR").currencyEUR, 10.0f);
  EXPECT_EQ(perDay->at(1).salesByDate.at(0).second.income, 0.0f);
  EXPECT_EQ(perDay->at(1).salesByDate.at(0).second.currencyEUR, 10.0f);
}

TEST(TotalsEngineRules, EmptyWalksAndNoProducts) {
  HistoryBuilder h;
  h.sales("EU-FR", civil(2026, 3, 1), 2);
  const Inputs in = {{1, h.build()}};
  for (auto [from, to] : {std::pair{day(2026, 3, 2), day(2026, 3, 1)}, std::pair{KVRDate(), day(2026, 3, 1)},
                          std::pair{day(2026, 3, 1), KVRDate()}}) {
    auto r = runFast(in, QString(), from, to, false);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->at(1).totals.sales, 0.0f);
    EXPECT_TRUE(r->at(1).byCountry.empty());
    EXPECT_TRUE(r->at(1).salesByDate.empty());
    EXPECT_TRUE(sameResults(r, runReference(in, QString(), from, to, false)));
  }
  auto none = runFast({}, QString(), day(2026, 3, 1), day(2026, 3, 9), false);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(TotalsEngineRules, DaysAreFoundOnlyWithTheWalkDates) {
  HistoryBuilder h;
  h.sales("EU-FR", civil(2026, 3, 28), 1).sales("EU-FR", civil(2026, 3, 30), 4);
  const Inputs in = {{1, h.build()}};
  // A walk from 15:00, across the change to summer time: each date keeps its
  // time of day and falls on the next calendar day, up to the last day of the
  // span, whose midnight is earlier than 15:00.
  const KVRDate from = KVRDate(day(2026, 3, 27).ms + 15 * 3600e3);
  auto r = runFast(in, QString(), from, day(2026, 3, 31), false);
  ASSERT_TRUE(r);
  const KVRProductTotals& p = r->at(1);
  ASSERT_EQ(p.salesByDate.size(), 5u);  // 27 to 31 March at 15:00
  const KVRDate d28 = KVRCalendar::shared().dateByAddingComponents(KVRDateComponents::days(1), from);
  ASSERT_NE(p.dayRecord(d28), nullptr);
  EXPECT_EQ(p.dayRecord(d28)->sales, 1.0f);
  EXPECT_EQ(p.dayRecord(day(2026, 3, 28)), nullptr);  // midnight is not a walk date
  EXPECT_EQ(p.salesByDate[3].second.sales, 4.0f);
  EXPECT_TRUE(sameResults(r, runReference(in, QString(), from, day(2026, 3, 31), false)));
}

// Where clocks skip midnight (Santiago on 12 August 2018, Beirut on 31 March
// 2019), the day after the change still walks at midnight and a span ending
// at midnight keeps its last day; a span starting on the change day too.
TEST(TotalsEngineRules, SpansKeepTheirLastDayWhereMidnightIsSkipped) {
  struct Case { const char* zone; int y, m, change; };
  for (const Case c : {Case{"America/Santiago", 2018, 8, 12}, Case{"Asia/Beirut", 2019, 3, 31}}) {
    SCOPED_TRACE(c.zone);
    KVRCalendar::shared().resetTimeZone(QString::fromLatin1(c.zone));
    const KVRCivilDay change = civil(c.y, c.m, c.change);
    HistoryBuilder h;
    h.sales("EU-FR", change - 5, 1).sales("EU-FR", change, 2).sales("EU-FR", change + 6, 4);
    const Inputs in = {{1, h.build()}};
    for (const KVRCivilDay first : {change - 5, change}) {
      const KVRDate from = KVRCalendar::shared().dateFromCivilDay(first);
      const KVRDate to = KVRCalendar::shared().dateFromCivilDay(change + 6);
      auto r = runFast(in, QString(), from, to, false);
      ASSERT_TRUE(r);
      const KVRProductTotals& p = r->at(1);
      ASSERT_EQ(p.salesByDate.size(), size_t(change + 6 - first + 1));
      EXPECT_EQ(KVRCalendar::shared().civilDay(p.salesByDate.back().first), change + 6);
      EXPECT_EQ(p.salesByDate.back().second.sales, 4.0f);
      EXPECT_EQ(p.totals.sales, first == change ? 6.0f : 7.0f);
      EXPECT_TRUE(sameResults(r, runReference(in, QString(), from, to, false)));
    }
  }
  KVRCalendar::shared().resetTimeZone();
}

TEST(TotalsEngineRules, CancelledRunReturnsNoneWithoutEndLine) {
  HistoryBuilder h;
  h.sales("EU-FR", civil(2026, 3, 1), 2);
  const Inputs in = {{1, h.build()}, {2, h.build()}};
  std::atomic<bool> cancel{true};
  KVRVortelyLogCenter log;  // the run's own log
  KVRCalculationServices services = KVRCalculationServices::shared();
  services.log = &log;
  auto r = KVRTotalsEngine::run(keysOf(in), in, QString(), day(2026, 3, 1), day(2026, 3, 5), false, &cancel, 0,
                                services);
  EXPECT_FALSE(r.has_value());
  const QStringList lines = log.lines();
  EXPECT_TRUE(lines.filter("totalsForRegion start").size() == 1);
  EXPECT_TRUE(lines.filter("totalsForRegion end").isEmpty());
}

TEST(TotalsEngineRules, TotalsForRegionReadsPublishedProducts) {
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
  ProductStore store;
  HistoryBuilder a, b;
  a.sales("EU-FR", civil(2026, 3, 1), 2);
  b.sales("US-US", civil(2026, 3, 2), 3);
  KVRVortelyManagedProduct* pa = store.product(501, "A");
  KVRVortelyManagedProduct* pb = store.product(502, "B");
  pa->publishValues(a.build(), 2, 0, 0);
  pb->publishValues(b.build(), 3, 0, 0);
  auto r = KVRTotalsEngine::totalsForRegion(QString(), day(2026, 3, 1), day(2026, 3, 2), {pa, pb}, false);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->at(501).totals.sales, 2.0f);
  EXPECT_EQ(r->at(502).totals.sales, 3.0f);
  // Every country of the shared index appears, with zeros where the product has none.
  EXPECT_EQ(r->at(501).byCountry.count("US"), 1u);
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
}

TEST(TotalsEngineReference, OrdersChoiceAndAgreementOnSmallSpans) {
  std::mt19937 rng(7);
  const Inputs all = randomProducts(rng, 4, civil(2026, 3, 1), 7);
  struct Case { size_t products; int days; reference::Order expected; };
  for (const Case c : {Case{1, 1, reference::Order::SharedIndex}, Case{1, 2, reference::Order::ProductCache},
                       Case{3, 7, reference::Order::ProductCache}, Case{4, 7, reference::Order::SharedIndex}}) {
    const Inputs in(all.begin(), all.begin() + long(c.products));
    const KVRDate from = day(2026, 3, 1), to = day(2026, 3, c.days);
    reference::Order used;
    auto automatic = runReference(in, QString(), from, to, false, reference::Order::Automatic, &used, &all);
    EXPECT_EQ(used, c.expected);
    auto pc = runReference(in, QString(), from, to, false, reference::Order::ProductCache, nullptr, &all);
    auto si = runReference(in, QString(), from, to, false, reference::Order::SharedIndex, nullptr, &all);
    EXPECT_TRUE(sameResults(pc, si));
    const QStringList keys = keysOf(all);
    EXPECT_TRUE(sameResults(runFast(in, QString(), from, to, false, 0, &keys), automatic));
  }
}

TEST(TotalsEngineReference, RandomDataBitForBit) {
  const QString regions[] = {QString(), "EU", "eu", "WW", "XX"};
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    const int productCount = 1 + int(seed % 7) * 2;
    const Inputs all = randomProducts(rng, productCount + 2, civil(2026, 1, 20), 70);
    // The last two products only contribute keys to the shared index.
    const Inputs in(all.begin(), all.begin() + productCount);
    const QStringList keys = keysOf(all);
    const reference::Caches caches = reference::Caches::fromSnapshots(all);
    std::vector<int64_t> ids;
    for (const auto& p : in) ids.push_back(p.idStore);

    std::uniform_int_distribution<int> offset(0, 80), length(-3, 60);
    for (int run = 0; run < 6; ++run) {
      const QString& region = regions[(seed + unsigned(run)) % 5];
      const bool onlyTotals = run % 2 == 1;
      KVRDate from = KVRCalendar::shared().dateByAddingComponents(KVRDateComponents::days(offset(rng) - 10), day(2026, 1, 20));
      if (run == 3) from = KVRDate(from.ms + 9.5 * 3600e3);  // a time of day
      const KVRDate to = KVRCalendar::shared().dateByAddingComponents(KVRDateComponents::days(length(rng)), from);
      SCOPED_TRACE(::testing::Message() << "seed " << seed << " run " << run);
      auto pc = reference::totalsForRegion(caches, region, from, to, ids, onlyTotals, nullptr, reference::Order::ProductCache);
      auto si = reference::totalsForRegion(caches, region, from, to, ids, onlyTotals, nullptr, reference::Order::SharedIndex);
      ASSERT_TRUE(sameResults(pc, si));
      ASSERT_TRUE(sameResults(KVRTotalsEngine::run(keys, in, region, from, to, onlyTotals, nullptr, 1), pc));
      ASSERT_TRUE(sameResults(KVRTotalsEngine::run(keys, in, region, from, to, onlyTotals, nullptr, 4), pc));
    }
  }
}

TEST(TotalsEngineConcurrency, ParallelProductsAndCancelFromAnotherThread) {
  std::mt19937 rng(99);
  const Inputs in = randomProducts(rng, 24, civil(2025, 6, 1), 200);
  const QStringList keys = keysOf(in);
  const KVRDate from = day(2025, 6, 1), to = day(2025, 12, 31);
  const auto single = KVRTotalsEngine::run(keys, in, QString(), from, to, false, nullptr, 1);
  EXPECT_TRUE(sameResults(KVRTotalsEngine::run(keys, in, QString(), from, to, false, nullptr, 8), single));

  // A cancel arriving while the products are summed: none, or (when the run
  // was quicker) the full result - never a partial one.
  for (int delayUs : {0, 200, 1000, 5000}) {
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
      cancel.store(true);
    });
    const auto r = KVRTotalsEngine::run(keys, in, QString(), from, to, false, &cancel, 8);
    canceller.join();
    if (r) {
      EXPECT_TRUE(sameResults(r, single));
    }
  }
}

// The records per country: a sorted array that answers like the map it replaces.
TEST(TotalsResultCountries, OrderLookupsAndInsertion) {
  KVRCountryTotals t;
  std::map<QString, KVRTotalsStruct> model;
  // Inserted out of order, with codes that differ only by case and a prefix.
  for (const char* c : {"US", "fr", "FR", "F", "Fr", "AT", "US", "ZZ", ""}) {
    t[c].sales += 1.0f;
    model[c].sales += 1.0f;
  }
  ASSERT_EQ(t.size(), model.size());
  auto m = model.begin();
  for (const auto& [code, record] : t) {
    EXPECT_EQ(code, m->first);
    EXPECT_EQ(record.sales, m->second.sales);
    ++m;
  }
  EXPECT_EQ(t.at("US").sales, 2.0f);
  EXPECT_EQ(t.count("fr"), 1u);
  EXPECT_EQ(t.count("fR"), 0u);
  EXPECT_TRUE(t.find("DE") == t.end());
  EXPECT_THROW(t.at("DE"), std::out_of_range);
  EXPECT_THROW(static_cast<const KVRCountryTotals&>(t).at("DE"), std::out_of_range);
  EXPECT_EQ(t.size(), model.size());  // lookups insert nothing

  // Appending keeps the order: a code not after the last one is refused.
  KVRCountryTotals a;
  KVRTotalsStruct r;
  r.sales = 3;
  EXPECT_TRUE(a.append("DE", r));
  EXPECT_TRUE(a.append("FR", r));
  EXPECT_FALSE(a.append("FR", r));
  EXPECT_FALSE(a.append("AT", r));
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a.entry(0).first, "DE");
  EXPECT_EQ(a.entry(1).first, "FR");
  a["AT"].sales = 1;  // operator[] still inserts in place
  EXPECT_EQ(a.entry(0).first, "AT");
  EXPECT_EQ(a.at("FR").sales, 3.0f);
}

// The engine pairs a product's series with the keys whatever their order, and
// remembers the pairs only for a snapshot that is still alive.
TEST(TotalsEngineRules, SeriesInAnyOrderAndSnapshotsReplaced) {
  std::mt19937 rng(5);
  const Inputs sorted = randomProducts(rng, 3, civil(2026, 2, 1), 20);
  const QStringList keys = keysOf(sorted);
  const KVRDate from = day(2026, 2, 3), to = day(2026, 2, 12);
  // The same series reversed (so out of QString order), then with one series
  // listed twice.
  Inputs reversed, repeated;
  for (const auto& p : sorted) {
    if (!p.values) {
      reversed.push_back(p);
      repeated.push_back(p);
      continue;
    }
    auto r = std::make_shared<KVRProductValues>(*p.values);
    std::reverse(r->series.begin(), r->series.end());
    reversed.push_back({p.idStore, r});
    auto twice = std::make_shared<KVRProductValues>(*p.values);
    twice->series.push_back(twice->series.front());
    repeated.push_back({p.idStore, twice});
  }
  for (const QString& region : {QString(), QString("EU")}) {
    SCOPED_TRACE(region.toStdString());
    const auto expected = runReference(sorted, region, from, to, false);
    EXPECT_TRUE(sameResults(runFast(sorted, region, from, to, false, 1, &keys), expected));
    EXPECT_TRUE(sameResults(runFast(reversed, region, from, to, false, 1, &keys), expected));
    EXPECT_TRUE(sameResults(runFast(repeated, region, from, to, false, 1, &keys), expected));
  }

  // A product's snapshot replaced by one with other keys, between runs with
  // the same key list: the new snapshot's series are the ones summed.
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    HistoryBuilder h;
    h.sales(round % 2 ? "EU-FR" : "EU-DE", civil(2026, 2, 5), float(round + 1));
    const Inputs in = {{7, h.build()}};
    const QStringList both = {"EU-DE", "EU-FR"};
    const auto r = runFast(in, QString(), from, to, true, 1, &both);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->at(7).totals.sales, float(round + 1));
    EXPECT_EQ(r->at(7).byCountry.at(round % 2 ? "FR" : "DE").sales, float(round + 1));
    EXPECT_EQ(r->at(7).byCountry.at(round % 2 ? "DE" : "FR").sales, 0.0f);
  }
}

// Rounding a key's count sums as they merge: halves up, toward zero below
// zero, sums beyond 32-bit integers and infinity.
TEST(TotalsEngineRules, CountRoundingEdgeValues) {
  HistoryBuilder h;
  const KVRCivilDay d = civil(2026, 4, 1);
  h.at("EU-FR", d).sales = 1.25f;       // FR's record starts with 1.25
  h.at("WW-FR", d).sales = -0.7f;       // rounds to -0
  h.at("EU-FR", d).downloads = -2.0f;
  h.at("WW-FR", d).downloads = -1.7f;   // rounds to -1
  h.at("EU-DE", d).sales = 2.5f;        // 3
  h.at("EU-DE", d).refunds = -1.5f;     // -1
  h.at("EU-DE", d).upgrades = 3.0e9f;   // beyond 32-bit integers
  h.at("EU-DE", d).freeSales = 1.0e20f;
  h.at("EU-DE", d).paiedSales = std::numeric_limits<float>::infinity();
  h.at("EU-DE", d).currency = 0.6f;     // not a count: not rounded
  h.at("EU-DE", d).income = 5.0f;       // never summed
  h.at("WW-DE", d).sales = 0.49f;       // 0
  h.at("WW-DE", d).upgrades = 0.5f;     // 1
  const Inputs in = {{1, h.build()}};
  const auto r = runFast(in, QString(), day(2026, 4, 1), day(2026, 4, 1), false, 1);
  ASSERT_TRUE(r);
  const KVRProductTotals& p = r->at(1);
  const KVRTotalsStruct& fr = p.byCountry.at("FR");
  EXPECT_EQ(fr.sales, 1.25f);
  EXPECT_EQ(fr.downloads, -3.0f);
  const KVRTotalsStruct& de = p.byCountry.at("DE");
  EXPECT_EQ(de.sales, 2.5f + 0.0f);  // the first key's sums as they are
  EXPECT_EQ(de.upgrades, 3.0e9f + 1.0f);
  EXPECT_EQ(p.totals.sales, 3.0f + 1.0f);  // DE 3 + 0, FR 1 - 0
  EXPECT_EQ(p.totals.downloads, -2.0f);  // -2 rounds to -1 (toward zero from -1.5), -1.7 to -1
  EXPECT_EQ(p.totals.refunds, -1.0f);
  EXPECT_EQ(p.totals.upgrades, KVRTotalsEngine::roundCount(3.0e9f) + 1.0f);
  EXPECT_EQ(p.totals.freeSales, 1.0e20f);
  EXPECT_EQ(p.totals.paiedSales, std::numeric_limits<float>::infinity());
  EXPECT_EQ(p.totals.currency, 0.6f);
  EXPECT_EQ(p.totals.income, 0.0f);
  EXPECT_TRUE(sameResults(r, runReference(in, QString(), day(2026, 4, 1), day(2026, 4, 1), false)));
}
