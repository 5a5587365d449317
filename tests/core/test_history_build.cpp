// The history build: hand-made report and ad lines to per-key, per-day records.
#include <gtest/gtest.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRHistoryBuilder.h"
#include "platform/KVRUserDefaults.h"
#include "platform/KVRVortelyLogCenter.h"
#include "test_history_fixture.h"

namespace {

class HistoryBuild : public HistoryFixture {
 protected:
  void SetUp() override { KVRUserDefaults::standard().setString("PreferedCurrency", "EUR"); }
  void TearDown() override {
    KVRUserDefaults::standard().removeObjectForKey("PreferedCurrency");
    HistoryFixture::TearDown();
  }
  KVRProductValuesRef build(KVRVortelyManagedProduct* p) {
    p->buildHistoryByDate(services);
    return p->valuesByCountryAndDate();
  }

  KVRVortelyCurrencyConverter converter;  // the build's own: no rates but those a test gives
  KVRVortelyLogCenter log;
  const KVRCalculationServices services{&converter, &KVRCalendar::shared(), &log};
};

TEST_F(HistoryBuild, DailyLinesLandOnTheirDayUnderRegionAndCountry) {
  auto* p = product(9001);
  auto* daily = report(KVRReportTypeDaily);
  line(p, daily, KVREntryTypeSale, 3, 199, "EUR", "FR", D);
  line(p, daily, KVREntryTypeSale, 2, 99, "USD", "US", D + 1);
  line(p, daily, KVREntryTypeSale, 1, 99, "USD", "ZZ", D);   // not in the catalogue
  line(p, daily, KVREntryTypeSale, 4, 99, "CHF", "ch", D);   // lower-case country

  auto v = build(p);
  ASSERT_TRUE(v);
  ASSERT_EQ(v->series.size(), 4u);
  EXPECT_EQ(v->series[0].valueKey, "CH-CH");
  EXPECT_EQ(v->series[1].valueKey, "EU-FR");
  EXPECT_EQ(v->series[1].region, "EU");
  EXPECT_EQ(v->series[1].country, "FR");
  EXPECT_EQ(v->series[2].valueKey, "US-US");
  EXPECT_EQ(v->series[3].valueKey, "WW-ZZ");

  const KVRTotalsStruct* fr = v->find("EU-FR", D);
  ASSERT_TRUE(fr);
  EXPECT_FLOAT_EQ(fr->sales, 3);
  EXPECT_FLOAT_EQ(fr->paiedSales, 3);
  EXPECT_FLOAT_EQ(fr->freeSales, 0);
  EXPECT_FLOAT_EQ(fr->downloads, 3);
  EXPECT_EQ(fr->income, 3.0f * 199.0f / 100.0f);
  EXPECT_EQ(fr->currencyEUR, fr->income);
  EXPECT_EQ(fr->currency, fr->income);  // EUR to EUR: rate 1
  EXPECT_TRUE(fr->currencies.contains("EUR"));
  EXPECT_EQ(fr->date, dateOf(D));
  EXPECT_EQ(fr->beginDate, dateOf(D));
  EXPECT_EQ(v->find("EU-FR", D + 1), nullptr);
  EXPECT_TRUE(v->find("US-US", D + 1));
}

TEST_F(HistoryBuild, MeasuresPerEntryTypeAndSubType) {
  auto* p = product(9002);
  auto* daily = report(KVRReportTypeDaily);
  line(p, daily, KVREntryTypeSale, 5, 0, "EUR", "FR", D);  // free
  line(p, daily, KVREntryTypeSale, 2, 100, "EUR", "FR", D);
  line(p, daily, KVREntryTypeUpgrade, 4, 0, "EUR", "FR", D);
  line(p, daily, KVREntryTypeRefund, -3, 100, "EUR", "FR", D);
  line(p, daily, KVREntryTypeInAppPurchase, 6, 50, "EUR", "FR", D, KVREntrySubTypeRenewal);
  line(p, daily, KVREntryTypeSale, 7, 0, "EUR", "FR", D, KVREntrySubTypePromoCode);
  line(p, daily, KVREntryTypeSale, 1, 100, "EUR", "FR", D, KVREntrySubTypeGiftPurchase);
  line(p, daily, KVREntryTypeSale, 1, 0, "EUR", "FR", D, KVREntrySubTypeGiftRedemption);
  line(p, daily, KVREntryTypeSale, 2, 50, "EUR", "FR", D, KVREntrySubTypeEducation);
  line(p, daily, KVREntryTypeInAppPurchase, 3, 50, "EUR", "FR", D, KVREntrySubTypeNewSubscription);
  // Neither payment-type lines nor financial or payment report lines count.
  line(p, daily, KVREntryTypePayment, 100, 100, "EUR", "FR", D);
  line(p, report(KVRReportTypeFinancial), KVREntryTypeSale, 100, 100, "EUR", "FR", D);
  line(p, report(KVRReportTypePayment), KVREntryTypeSale, 100, 100, "EUR", "FR", D);

  auto v = build(p);
  const KVRTotalsStruct* r = v->find("EU-FR", D);
  ASSERT_TRUE(r);
  EXPECT_FLOAT_EQ(r->sales, 5 + 2 + 6 + 7 + 1 + 1 + 2 + 3);
  EXPECT_FLOAT_EQ(r->freeSales, 5 + 7 + 1);
  EXPECT_FLOAT_EQ(r->paiedSales, 2 + 6 + 1 + 2 + 3);
  EXPECT_FLOAT_EQ(r->upgrades, 4);
  EXPECT_FLOAT_EQ(r->downloads, r->sales + r->upgrades);
  EXPECT_FLOAT_EQ(r->refunds, 3);  // a positive count
  EXPECT_FLOAT_EQ(r->renewal, 6);
  EXPECT_FLOAT_EQ(r->promoCode, 7);
  EXPECT_FLOAT_EQ(r->giftPurchase, 1);
  EXPECT_FLOAT_EQ(r->giftRedemption, 1);
  EXPECT_FLOAT_EQ(r->eduStore, 2);
  EXPECT_FLOAT_EQ(r->newSubscription, 3);
  // 2.00 - 3.00 (refund) + 3.00 + 1.00 + 1.00 + 1.50
  EXPECT_FLOAT_EQ(r->income, 5.5f);
  EXPECT_FLOAT_EQ(p->totalSales(), 27);
  EXPECT_FLOAT_EQ(p->totalUpgrades(), 4);
  EXPECT_FLOAT_EQ(p->totalIncomes(), 5.5f);
}

TEST_F(HistoryBuild, WeeklyLineSpreadsOverSevenFractionalDays) {
  auto* p = product(9003);
  line(p, report(KVRReportTypeWeekly), KVREntryTypeSale, 10, 70, "EUR", "FR", D);
  // A line of a week by its own dates, without a report.
  auto* e = line(p, nullptr, KVREntryTypeUpgrade, 3, 0, "EUR", "DE", D);
  e->endDate = dateOf(D + 6);

  auto v = build(p);
  const KVRValueSeries* fr = v->find("EU-FR");
  ASSERT_TRUE(fr);
  ASSERT_EQ(fr->days.size(), 7u);
  EXPECT_EQ(fr->days.front(), D);
  EXPECT_EQ(fr->days.back(), D + 6);
  for (const KVRTotalsStruct& r : fr->records) {
    EXPECT_EQ(r.sales, 10.0f / 7.0f);
    EXPECT_EQ(r.paiedSales, 10.0f / 7.0f);
    EXPECT_EQ(r.downloads, 10.0f / 7.0f);
    EXPECT_EQ(r.income, 7.0f / 7.0f);
  }
  const KVRValueSeries* de = v->find("EU-DE");
  ASSERT_TRUE(de);
  ASSERT_EQ(de->days.size(), 7u);
  EXPECT_EQ(de->records[3].upgrades, 3.0f / 7.0f);
  // The all-time total counts the week once, whole.
  EXPECT_FLOAT_EQ(p->totalSales(), 10);
  EXPECT_FLOAT_EQ(p->totalUpgrades(), 3);
}

// A week whose daily reports cover four days: the weekly line counts its
// sevenths on the three other days only, whether or not the product sold on
// the covered days (the account's daily report of a day without the product
// says it sold nothing).
TEST_F(HistoryBuild, WeeklyLineCountsOnTheDaysNoDailyReportCovers) {
  auto* p = product(9004);
  std::vector<KVRReport*> accountReports;
  for (int i = 0; i < 4; ++i) accountReports.push_back(report(KVRReportTypeDaily, D + i));
  accountReports.push_back(report(KVRReportTypeWeekly, D));
  line(p, report(KVRReportTypeWeekly), KVREntryTypeSale, 70, 100, "EUR", "FR", D);
  line(p, report(KVRReportTypeWeekly), KVREntryTypeUpgrade, 10, 0, "EUR", "DE", D);
  line(p, accountReports[0], KVREntryTypeSale, 12, 100, "EUR", "FR", D);
  line(p, accountReports[2], KVREntryTypeSale, 9, 100, "USD", "US", D + 2);
  // The next week has no daily report: its weekly line counts whole.
  line(p, report(KVRReportTypeWeekly, D + 7), KVREntryTypeSale, 14, 100, "EUR", "FR", D + 7);

  const KVRHistory h = KVRHistoryBuilder().build(p->entries, p->iAdEntries, accountReports);
  const KVRProductValues& v = *h.values;
  ASSERT_TRUE(v.find("EU-FR", D));
  EXPECT_EQ(v.find("EU-FR", D)->sales, 12.0f);  // the daily line alone
  for (int i = 1; i < 4; ++i) EXPECT_EQ(v.find("EU-FR", D + i), nullptr) << i;
  for (int i = 4; i < 7; ++i) {
    const KVRTotalsStruct* r = v.find("EU-FR", D + i);
    ASSERT_TRUE(r) << i;
    EXPECT_EQ(r->sales, 10.0f);
    EXPECT_EQ(r->paiedSales, 10.0f);
    EXPECT_EQ(r->income, 10.0f);
    EXPECT_EQ(r->currencyEUR, 10.0f);
    EXPECT_EQ(r->currency, 10.0f);
    EXPECT_EQ(v.find("EU-DE", D + i)->upgrades, 10.0f / 7.0f);
  }
  EXPECT_EQ(v.find("EU-DE", D + 3), nullptr);
  EXPECT_EQ(v.find("EU-FR", D + 7)->sales, 2.0f);
  EXPECT_EQ(v.find("EU-FR", D + 13)->sales, 2.0f);
  // Each sale once: 12 + 9 daily, 30 of the first week, 14 of the second; the
  // upgrades' three sevenths of 10 rounded once.
  EXPECT_EQ(h.totalSales, 12.0f + 9.0f + 30.0f + 14.0f);
  EXPECT_EQ(h.totalUpgrades, float(30.0 / 7.0));
  EXPECT_EQ(h.totalIncomes, 12.0f + 9.0f + 30.0f + 14.0f);  // no rates: everything at 1

  // Without the account's reports only the product's own daily lines cover
  // days (the first and third).
  const KVRHistory own = KVRHistoryBuilder().build(p->entries, p->iAdEntries);
  EXPECT_EQ(own.values->find("EU-FR", D + 1)->sales, 10.0f);
  EXPECT_EQ(own.values->find("EU-FR", D + 2), nullptr);
  EXPECT_EQ(own.totalSales, 12.0f + 9.0f + 50.0f + 14.0f);
}

TEST_F(HistoryBuild, DailyLineEndingAtTheNextMidnightCoversItsOwnDayOnly) {
  auto* p = product(9011);
  line(p, report(KVRReportTypeWeekly), KVREntryTypeSale, 70, 0, "EUR", "FR", D);
  auto* d = line(p, report(KVRReportTypeDaily, D + 3), KVREntryTypeSale, 2, 0, "EUR", "FR", D + 3);
  d->endDate = dateOf(D + 4);

  auto v = build(p);
  EXPECT_EQ(v->recordCount(), 7u);
  EXPECT_EQ(v->find("EU-FR", D + 3)->sales, 2.0f);
  EXPECT_EQ(v->find("EU-FR", D + 3)->freeSales, 2.0f);
  EXPECT_EQ(v->find("EU-FR", D + 4)->sales, 10.0f);
  EXPECT_EQ(p->totalSales(), 62.0f);
}

// A monthly free line spreads over its month like a weekly line over its
// week, and leaves the days daily reports cover to them.
TEST_F(HistoryBuild, MonthlyFreeLineSpreadsOverTheDaysOfItsMonthNotCovered) {
  auto* p = product(9012);
  const KVRCivilDay march1 = KVRCivilDayFromYMD(2026, 3, 1), april1 = KVRCivilDayFromYMD(2026, 4, 1);
  auto* m = line(p, report(KVRReportTypeMonthlyFree, march1), KVREntryTypeSale, 62, 0, "EUR", "DE", march1);
  m->endDate = dateOf(april1);  // the first instant after March: 31 days
  auto* covered = line(p, report(KVRReportTypeMonthlyFree, april1), KVREntryTypeSale, 30, 0, "EUR", "DE", april1);
  covered->endDate = dateOf(april1 + 29);  // 1 to 30 April, inclusive
  for (int i = 0; i < 30; i += 2) line(p, report(KVRReportTypeDaily, april1 + i), KVREntryTypeSale, 3, 0, "EUR", "DE", april1 + i);

  auto v = build(p);
  const KVRValueSeries* de = v->find("EU-DE");
  ASSERT_TRUE(de);
  ASSERT_EQ(de->days.size(), 31u + 30u);
  for (int i = 0; i < 31; ++i) EXPECT_EQ(v->find("EU-DE", march1 + i)->sales, 2.0f) << i;
  EXPECT_EQ(v->find("EU-DE", april1)->sales, 3.0f);
  EXPECT_EQ(v->find("EU-DE", april1 + 1)->sales, 1.0f);
  EXPECT_EQ(p->totalSales(), 62.0f + 15 * 3.0f + 15.0f);
}

TEST_F(HistoryBuild, CurrencyUsesTheCachedRateToThePreferredCurrency) {
  auto& conv = converter;
  conv.setRate("USD", "EUR", 0.5);
  auto* p = product(9005);
  auto* daily = report(KVRReportTypeDaily);
  line(p, daily, KVREntryTypeSale, 4, 250, "USD", "US", D);      // 10.00 USD
  line(p, daily, KVREntryTypeSale, 1, 100, "USD RoW", "BR", D);  // dollars of the rest of the world
  line(p, daily, KVREntryTypeSale, 2, 100, "XYZ", "FR", D);      // no known rate

  auto v = build(p);
  const KVRTotalsStruct* us = v->find("US-US", D);
  ASSERT_TRUE(us);
  EXPECT_FLOAT_EQ(us->income, 10);
  EXPECT_FLOAT_EQ(us->currencyUSD, 10);
  EXPECT_FLOAT_EQ(us->currency, 5);
  const KVRTotalsStruct* br = v->find("WW-BR", D);
  ASSERT_TRUE(br);
  EXPECT_FLOAT_EQ(br->currencyUSD, 1);
  EXPECT_TRUE(br->currencies.contains("USD"));
  EXPECT_FLOAT_EQ(br->currency, 0.5f);
  // A currency without a rate counts at 1, and the user is told which.
  const KVRTotalsStruct* fr = v->find("EU-FR", D);
  ASSERT_TRUE(fr);
  EXPECT_FLOAT_EQ(fr->income, 2);
  EXPECT_FLOAT_EQ(fr->currency, 2);
  EXPECT_TRUE(fr->currencies.contains("XYZ"));
  EXPECT_FLOAT_EQ(fr->currencyEUR, 0);
  EXPECT_FLOAT_EQ(p->totalIncomes(), 7.5f);
  const auto notice = conv.takeRatesNotice();
  ASSERT_TRUE(notice);
  EXPECT_TRUE(notice->text.contains("converts XYZ into EUR")) << notice->text.toStdString();
}

TEST_F(HistoryBuild, AdLinesAddWeightedRatios) {
  auto* p = product(9006);
  ad(p, "FR", D, 1.5f, 1000, 800, 2.0f, 0.5f, 80.0f);
  ad(p, "FR", D, 0.5f, 500, 200, 4.0f, 1.0f, 40.0f);
  ad(p, "US", D + 1, 2.0f, 10, 10, 1.0f, 1.0f, 100.0f);

  auto v = build(p);
  const KVRTotalsStruct* fr = v->find("EU-FR", D);
  ASSERT_TRUE(fr);
  EXPECT_FLOAT_EQ(fr->iAdSales, 2.0f);
  EXPECT_FLOAT_EQ(fr->requests, 1500);
  EXPECT_FLOAT_EQ(fr->impressions, 1000);
  EXPECT_FLOAT_EQ(fr->eCPM, 2.0f * 800 + 4.0f * 200);
  EXPECT_FLOAT_EQ(fr->ctr, 0.5f * 800 + 1.0f * 200);
  EXPECT_FLOAT_EQ(fr->fillRate, 80.0f * 1000 + 40.0f * 500);
  // Without a dollar rate the ad money stays in dollars, apart from the sales money.
  EXPECT_FLOAT_EQ(fr->currency, 0);
  EXPECT_FLOAT_EQ(fr->currencyUSD, 0);
  EXPECT_FLOAT_EQ(fr->sales, 0);
  EXPECT_TRUE(v->find("US-US", D + 1));
  EXPECT_FLOAT_EQ(p->totalIncomes(), 0);
}

TEST_F(HistoryBuild, AdMoneyIsShownInThePreferredCurrency) {
  converter.setRate("USD", "EUR", 0.5);
  auto* p = product(9010);
  ad(p, "FR", D, 3.0f, 1000, 800, 2.0f, 0.5f, 80.0f);
  auto v = build(p);
  const KVRTotalsStruct* fr = v->find("EU-FR", D);
  ASSERT_TRUE(fr);
  EXPECT_FLOAT_EQ(fr->iAdSales, 1.5f);
  EXPECT_FLOAT_EQ(fr->eCPM, 1.0f * 800);
  EXPECT_FLOAT_EQ(fr->ctr, 0.5f * 800);  // ratios without money are unchanged
  EXPECT_FLOAT_EQ(fr->currency, 0);
}

TEST_F(HistoryBuild, SumsDoNotDependOnTheOrderOfTheRelationship) {
  // Float sums depend on their order: the build sorts lines by date, then id.
  auto* a = product(9007);
  auto* b = product(9008);
  auto* daily = report(KVRReportTypeDaily);
  std::vector<KVRReportEntry*> lines;
  const int counts[] = {16777216, 1, 1, 3, -1, 7};
  for (int i = 0; i < 6; ++i) lines.push_back(line(a, daily, KVREntryTypeSale, counts[i], 1, "EUR", "FR", D));
  b->entries.assign(a->entries.rbegin(), a->entries.rend());

  KVRHistoryBuilder builder(services);
  KVRHistory ha = builder.build(a->entries, a->iAdEntries);
  KVRHistory hb = builder.build(b->entries, b->iAdEntries);
  ASSERT_EQ(ha.values->recordCount(), 1u);
  EXPECT_TRUE(ha.values->series[0].records[0] == hb.values->series[0].records[0]);
  EXPECT_EQ(ha.totalSales, hb.totalSales);
}

TEST_F(HistoryBuild, LinesWithoutDateAndEmptyProductsGiveEmptyValues) {
  auto* p = product(9009);
  auto* e = line(p, report(KVRReportTypeDaily), KVREntryTypeSale, 3, 100, "EUR", "FR", D);
  e->beginDate = KVRDate();
  p->entries.push_back(nullptr);

  auto v = build(p);
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->series.empty());
  EXPECT_TRUE(p->initialized());
  EXPECT_FLOAT_EQ(p->totalSales(), 0);
}

TEST_F(HistoryBuild, DaysFollowTheLocalCalendarNotUTC) {
  // 00:30 in Paris is still the evening before in UTC: the line belongs to
  // the local day.
  auto* p = product(9010);
  auto* e = line(p, report(KVRReportTypeDaily), KVREntryTypeSale, 1, 100, "EUR", "FR", D);
  e->beginDate = KVRDate(dateOf(D).ms + 30 * 60 * 1000.0);
  auto v = build(p);
  EXPECT_TRUE(v->find("EU-FR", D));
  EXPECT_EQ(v->recordCount(), 1u);
}

}  // namespace
