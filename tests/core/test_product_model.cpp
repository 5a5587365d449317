// The product's values cache against the shared index, rebuilds, ratings,
// financial reports, partners and costs.
#include <gtest/gtest.h>

#include <QBuffer>
#include <atomic>
#include <chrono>
#include <thread>

#include "test_history_fixture.h"

namespace {

KVRSharedValuesIndex& sharedIndex() { return KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate(); }

class ProductValues : public HistoryFixture {};

TEST_F(ProductValues, BuildPublishesTheSameSnapshotInTheSharedIndex) {
  auto* p = product(9101);
  line(p, report(KVRReportTypeDaily), KVREntryTypeSale, 2, 100, "EUR", "FR", D);
  EXPECT_FALSE(p->initialized());
  EXPECT_FALSE(p->valuesByCountryAndDate());
  EXPECT_FLOAT_EQ(p->totalSales(), 0);

  p->buildHistoryByDate();
  EXPECT_TRUE(p->initialized());
  auto view = sharedIndex().snapshot();
  auto it = view->byProduct.find(9101);
  ASSERT_NE(it, view->byProduct.end());
  EXPECT_EQ(it->second, p->valuesByCountryAndDate());
  EXPECT_TRUE(view->valueKeys.contains("EU-FR"));
  ASSERT_TRUE(view->find("EU-FR", D, 9101));
  EXPECT_FLOAT_EQ(view->find("EU-FR", D, 9101)->sales, 2);
}

TEST_F(ProductValues, BuildIsSkippedOnceBuiltAndRedoneAfterReset) {
  auto* p = product(9102);
  auto* daily = report(KVRReportTypeDaily);
  line(p, daily, KVREntryTypeSale, 2, 100, "EUR", "FR", D);
  p->buildHistoryByDate();
  auto first = p->valuesByCountryAndDate();

  line(p, daily, KVREntryTypeSale, 5, 100, "EUR", "FR", D);
  p->buildHistoryByDate();
  EXPECT_EQ(p->valuesByCountryAndDate(), first);

  p->resetHistory();
  EXPECT_FALSE(p->initialized());
  EXPECT_FALSE(sharedIndex().snapshot()->byProduct.count(9102));
  p->buildHistoryByDate();
  EXPECT_FLOAT_EQ(p->valuesByCountryAndDate()->find("EU-FR", D)->sales, 7);
  EXPECT_FLOAT_EQ(p->totalSales(), 7);
  // The earlier snapshot a reader may still hold is untouched.
  EXPECT_FLOAT_EQ(first->find("EU-FR", D)->sales, 2);
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
      if (it != view->byProduct.end() && it->second) {
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
      if (own && own->recordCount() == 0) ++torn;
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

TEST_F(ProductValues, PublishValuesInstallsExactValuesAndTotals) {
  auto* p = product(9106);
  auto v = std::make_shared<KVRProductValues>();
  KVRValueSeries s{"EU-FR", "EU", "FR", {D}, {KVRTotalsStruct{}}};
  s.records[0].sales = 1.25f;
  v->series.push_back(s);
  p->publishValues(v, 1.25f, 2, 3.5f);
  EXPECT_TRUE(p->initialized());
  EXPECT_EQ(p->valuesByCountryAndDate(), v);
  EXPECT_EQ(sharedIndex().snapshot()->byProduct.at(9106), v);
  EXPECT_FLOAT_EQ(p->totalSales(), 1.25f);
  EXPECT_FLOAT_EQ(p->totalUpgrades(), 2);
  EXPECT_FLOAT_EQ(p->totalIncomes(), 3.5f);
  // A build after publishValues keeps the installed values.
  p->buildHistoryByDate();
  EXPECT_EQ(p->valuesByCountryAndDate(), v);
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

TEST_F(ProductRatings, AndroidAndIcon) {
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

  QImage img(4, 4, QImage::Format_ARGB32);
  img.fill(Qt::red);
  QBuffer buf(&p->iconData);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  EXPECT_FALSE(p->icone().isNull());
  EXPECT_EQ(p->icone().size(), QSize(4, 4));
  p->iconData = "not an image";
  EXPECT_TRUE(p->icone().isNull());
}

// ---------------------------------------------------------------- financial reports

class ProductFinancials : public HistoryFixture {};

TEST_F(ProductFinancials, DistinctReportsInDateOrderWithTheirLinesDates) {
  KVRStoreAccount account;
  auto* p = product(9301);
  p->account = &account;
  auto* march = report(KVRReportTypeFinancial);
  auto* feb = report(KVRReportTypeFinancial);
  auto* a = line(p, march, KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  line(p, march, KVREntryTypeSale, 1, 100, "EUR", "DE", D);
  auto* b = line(p, feb, KVREntryTypeSale, 1, 100, "USD", "US", D - 28);
  b->endDate = dateOf(D - 1);
  a->endDate = dateOf(D + 30);
  line(p, report(KVRReportTypeDaily), KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  march->beginDate = KVRDate();

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

TEST_F(ProductFinancials, NoAccountNoReports) {
  auto* p = product(9302);
  line(p, report(KVRReportTypeFinancial), KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  EXPECT_TRUE(p->financialReports().empty());
}

TEST_F(ProductFinancials, PartnersAndCostsPointBackOnce) {
  auto* p = product(9303);
  KVRPartner partner;
  KVRCost cost;
  p->addPartnersObject(&partner);
  p->addPartnersObject(&partner);
  p->addCostsObject(&cost);
  p->addPartnersObject(nullptr);
  EXPECT_EQ(partner.product, p);
  EXPECT_EQ(cost.product, p);
  EXPECT_EQ(p->partners.size(), 1u);
  EXPECT_EQ(p->costs.size(), 1u);
}

}  // namespace
