// The product's values cache against the shared index, rebuilds, ratings and
// financial reports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_history_fixture.h"

namespace {

KVRSharedValuesIndex& sharedIndex() { return KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate(); }

class ProductValues : public HistoryFixture {};

TEST_F(ProductValues, BuildPublishesOnceAndAgainAfterReset) {
  auto* p = product(9101);
  auto* daily = report(KVRReportTypeDaily);
  line(p, daily, KVREntryTypeSale, 2, 100, "EUR", "FR", D);
  EXPECT_FALSE(p->valuesByCountryAndDate());
  p->buildHistoryByDate();
  auto first = p->valuesByCountryAndDate();
  EXPECT_EQ(sharedIndex().snapshot()->byProduct.at(9101), first);
  EXPECT_TRUE(sharedIndex().snapshot()->valueKeys.contains("EU-FR"));

  line(p, daily, KVREntryTypeSale, 5, 100, "EUR", "FR", D);
  p->buildHistoryByDate();  // already built: nothing changes
  EXPECT_EQ(p->valuesByCountryAndDate(), first);

  // A reset keeps the current values in place until the rebuild swaps the
  // new ones in: a load meanwhile never finds the product empty.
  p->resetHistory();
  EXPECT_TRUE(p->initialized());
  EXPECT_EQ(p->valuesByCountryAndDate(), first);
  EXPECT_EQ(sharedIndex().snapshot()->byProduct.at(9101), first);
  EXPECT_FLOAT_EQ(p->totalSales(), 2);
  p->buildHistoryByDate();
  EXPECT_FLOAT_EQ(sharedIndex().snapshot()->find("EU-FR", D, 9101)->sales, 7);
  EXPECT_FLOAT_EQ(p->totalSales(), 7);
  EXPECT_FLOAT_EQ(first->find("EU-FR", D)->sales, 2);  // a reader's old snapshot stays whole
}

TEST_F(ProductValues, ShorterRebuildLeavesNoStaleDayOrKey) {
  auto* p = product(9103);
  auto* other = product(9104);
  auto* daily = report(KVRReportTypeDaily);
  line(p, daily, KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  line(p, daily, KVREntryTypeSale, 1, 100, "EUR", "FR", D + 1);
  line(p, daily, KVREntryTypeSale, 1, 100, "USD", "US", D + 1);
  line(other, daily, KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  p->buildHistoryByDate();
  other->buildHistoryByDate();

  // The product loses its later lines (a report deleted) and is rebuilt.
  p->entries.resize(1);
  p->resetHistory();
  p->buildHistoryByDate();

  auto view = sharedIndex().snapshot();
  EXPECT_TRUE(view->find("EU-FR", D, 9103));
  EXPECT_FALSE(view->find("EU-FR", D + 1, 9103));
  EXPECT_FALSE(view->find("US-US", D + 1, 9103));
  EXPECT_EQ(view->byProduct.at(9103), p->valuesByCountryAndDate());
  EXPECT_FALSE(view->valueKeys.contains("US-US"));  // no product holds it any more
  EXPECT_TRUE(view->find("EU-FR", D, 9104));        // other products keep theirs
}

TEST_F(ProductValues, ReadersSeeWholeSnapshotsWhileAnotherThreadRebuilds) {
  auto* p = product(9105);
  auto* daily = report(KVRReportTypeDaily);
  for (int i = 0; i < 20; ++i) line(p, daily, KVREntryTypeSale, 1, 100, "EUR", "FR", D + i);
  p->buildHistoryByDate();

  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, torn{0};
  std::thread reader([&] {
    while (!stop.load()) {
      auto view = sharedIndex().snapshot();
      auto it = view->byProduct.find(9105);
      if (it == view->byProduct.end() || !it->second) ++torn;  // emptied during a rebuild
      else {
        // Every snapshot is one build: one series whose days are contiguous
        // from D and all carry the same count.
        const KVRProductValues& v = *it->second;
        if (v.series.size() != 1) { ++torn; continue; }
        const KVRValueSeries& s = v.series[0];
        if (s.days.size() != s.records.size()) ++torn;
        for (size_t i = 0; i < s.days.size(); ++i)
          if (s.days[i] != D + KVRCivilDay(i) || s.records[i].sales != s.records[0].sales) ++torn;
      }
      auto own = p->valuesByCountryAndDate();
      if (!own || own->recordCount() == 0 || p->totalSales() == 0) ++torn;
      ++reads;
    }
  });

  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  int builds = 0;
  while (std::chrono::steady_clock::now() < until || reads.load() < 10) {
    // Alternate a long and a short history with different counts.
    const bool shortOne = builds % 2 == 0;
    p->entries.clear();
    daily->entries.clear();
    for (int i = 0; i < (shortOne ? 5 : 20); ++i)
      line(p, daily, KVREntryTypeSale, shortOne ? 2 : 1, 100, "EUR", "FR", D + i);
    p->resetHistory();
    p->buildHistoryByDate();
    ++builds;
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_GT(builds, 1);
}

// ---------------------------------------------------------------- ratings

class ProductRatings : public HistoryFixture {
 protected:
  KVRRating* rating(KVRVortelyManagedProduct* p, const char* country, int stars, int count, int newCount,
                    bool allVersions = true) {
    auto* r = keep(std::make_unique<KVRRating>());
    r->product = p;
    r->country = QString::fromLatin1(country);
    r->stars = stars;
    r->count = count;
    r->newCount = newCount;
    r->allVersions = allVersions;
    p->ratings.push_back(r);
    return r;
  }
};

TEST_F(ProductRatings, FiveCountsPerLevelWithZeroForMissingLevels) {
  auto* p = product(9201);
  rating(p, "143441", 5, 10, 1);
  rating(p, "143441", 2, 4, 0);
  rating(p, "143442", 5, 3, 2);
  rating(p, "143442", 1, 7, 7, /*allVersions=*/false);  // current version only: not counted
  rating(p, "143442", 6, 99, 99);                       // no such level
  p->cacheRatings();

  EXPECT_EQ(p->ratingsForCountry("143441"), (std::vector<int>{0, 4, 0, 0, 10}));
  EXPECT_EQ(p->newRatingsForCountry("143441"), (std::vector<int>{0, 0, 0, 0, 1}));
  EXPECT_EQ(p->ratingsForCountry("143442"), (std::vector<int>{0, 0, 0, 0, 3}));
  EXPECT_EQ(p->ratingsForCountry(), (std::vector<int>{0, 4, 0, 0, 13}));
  EXPECT_EQ(p->ratingsForCountry(""), (std::vector<int>{0, 4, 0, 0, 13}));
  EXPECT_EQ(p->newRatingsForCountry(), (std::vector<int>{0, 0, 0, 0, 3}));
  EXPECT_EQ(p->ratingsForCountry("143443"), (std::vector<int>(5, 0)));
}

TEST_F(ProductRatings, NoRowsGiveFiveZerosAndARecacheFollowsNewRows) {
  auto* p = product(9202);
  EXPECT_EQ(p->ratingsForCountry(), (std::vector<int>(5, 0)));
  EXPECT_EQ(p->newRatingsForCountry(), (std::vector<int>(5, 0)));
  rating(p, "143441", 3, 2, 1);
  p->cacheRatings();
  EXPECT_EQ(p->ratingsForCountry(), (std::vector<int>{0, 0, 2, 0, 0}));
}

TEST_F(ProductRatings, AndroidAndNoIcon) {
  auto* p = product(9203);
  EXPECT_FALSE(p->isAndroid());
  EXPECT_TRUE(p->icone().isNull());

  KVRStoreAccount account;
  account.developer = "Android Jane";
  p->account = &account;
  EXPECT_TRUE(p->isAndroid());
  account.developer = "Jane";
  EXPECT_FALSE(p->isAndroid());
  p->account = nullptr;
  rating(p, "Android", 4, 1, 0);  // a followed product of the Android store
  p->cacheRatings();
  EXPECT_TRUE(p->isAndroid());

  p->iconData = "not an image";
  EXPECT_TRUE(p->icone().isNull());
}

// ---------------------------------------------------------------- financial reports

class ProductFinancials : public HistoryFixture {};

TEST_F(ProductFinancials, DistinctReportsInDateOrderWithTheirLinesDates) {
  KVRStoreAccount account;
  auto* p = product(9301);
  auto* march = report(KVRReportTypeFinancial);
  auto* feb = report(KVRReportTypeFinancial);
  auto* a = line(p, march, KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  line(p, march, KVREntryTypeSale, 1, 100, "EUR", "DE", D);
  auto* b = line(p, feb, KVREntryTypeSale, 1, 100, "USD", "US", D - 28);
  b->endDate = dateOf(D - 1);
  a->endDate = dateOf(D + 30);
  line(p, report(KVRReportTypeDaily), KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  march->beginDate = KVRDate();
  EXPECT_TRUE(p->financialReports().empty());  // no account
  p->account = &account;
  p->resetFinancialReports();

  const auto& reports = p->financialReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], feb);
  EXPECT_EQ(reports[1], march);
  EXPECT_EQ(feb->beginDate, dateOf(D - 28));
  EXPECT_EQ(feb->endDate, dateOf(D - 1));
  EXPECT_EQ(march->beginDate, dateOf(D));

  // Cached until reset.
  auto* april = report(KVRReportTypeFinancial);
  line(p, april, KVREntryTypeSale, 1, 100, "EUR", "FR", D + 31);
  EXPECT_EQ(p->financialReports().size(), 2u);
  p->resetFinancialReports();
  EXPECT_EQ(p->financialReports().size(), 3u);
  EXPECT_EQ(p->financialReports().back(), april);
}

}  // namespace
