// The overview display record of one load: labels, counter, captions,
// evolution, part charts and curves, for one product and for several.
#include <gtest/gtest.h>

#include "overview/KVROverviewPresenter.h"
#include "test_presenter_fixtures.h"

using namespace display_test;

namespace {

float sumOfPercents(const KVRChartDivision& d) {
  float s = 0;
  for (int i = 0; i < d.count(); ++i) s += d.percentAt(i);
  return s;
}

}  // namespace

TEST(OverviewPresenter, OneProductLabelsCountriesAndCurve) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* p = store.product(1, "Alpha", acc);
  const KVRDate from = day(2026, 3, 8), to = day(2026, 3, 10);
  Entry prev;
  prev.totals(salesOf(0));
  Entry cur;
  cur.country("US", [](KVRTotalsStruct& r) { r.sales = 10.4f; r.upgrades = 2.5f; r.currency = 7.0f; r.refunds = 1; })
      .country("FR", [](KVRTotalsStruct& r) { r.sales = 4.6f; r.currency = 3.0f; })
      .country("DE", [](KVRTotalsStruct& r) { r.sales = 0.2f; r.currency = 0; })  // rounds to 0: no part
      .sumCountries()
      .onDay(from, salesOf(6))
      .onDay(plusDays(from, 2), salesOf(9.2f));
  const KVROverviewDisplay d =
      KVRMakeOverviewDisplay(oneProductInput(p, &prev.t, &cur.t, 0, from, to));

  EXPECT_TRUE(d.oneProduct);
  EXPECT_EQ(d.sales, 15);  // 15.2 rounded
  EXPECT_EQ(d.upgrades, 3);
  EXPECT_EQ(d.downloads, 18);
  EXPECT_EQ(d.refunds, 1);
  EXPECT_FLOAT_EQ(d.counterValue, 10.0f);
  EXPECT_EQ(d.salesText, "15");
  EXPECT_EQ(d.chartCaption, "Sales");

  // By country with one product: zero parts are left out; ascending order.
  ASSERT_EQ(d.downloadsPerProduct.count(), 2);
  EXPECT_EQ(d.downloadsPerProduct.sortedKeys[0], "FR");
  EXPECT_EQ(d.downloadsPerProduct.sortedKeys[1], "US");
  EXPECT_FLOAT_EQ(d.downloadsPerProduct.total, 15.0f);
  EXPECT_FLOAT_EQ(d.revenuesPerProduct.total, 10.0f);
  EXPECT_EQ(d.revenuesPerProduct.count(), 2);

  // One point per day of the range; a missing day counts 0.
  ASSERT_EQ(d.pointsInCurve.size(), 3u);
  EXPECT_FLOAT_EQ(d.pointsInCurve[1].count, 0.0f);
  EXPECT_FLOAT_EQ(d.pointsInCurve[2].cumul, 15.2f);
  EXPECT_TRUE(d.curves.empty());
  EXPECT_FLOAT_EQ(d.medianValue, 15.0f / 3.0f);

  // Previous 0, current 15: a rise from nothing.
  EXPECT_EQ(d.evolution.arrowImage, "up_arrow");
  EXPECT_EQ(d.evolution.badgeImage, "evolution_green");
  EXPECT_EQ(d.evolution.title, "+ 15");
  EXPECT_EQ(d.evolution.alternateTitle, "-- %");
  EXPECT_EQ(d.evolution.lastDayValueLeft, "0");
  EXPECT_EQ(d.evolution.currentDayValueRight, "15");
  EXPECT_TRUE(d.evolution.lastDayValueRight.isEmpty());
}

TEST(OverviewPresenter, EvolutionSteadyAndFall) {
  Store store;
  KVRVortelyManagedProduct* p = store.product(1, "Alpha", store.account("Studio"));
  const KVRDate from = day(2026, 3, 1), to = day(2026, 3, 7);
  Entry prev, cur;
  prev.totals(salesOf(200));
  cur.totals(salesOf(200));
  KVROverviewDisplay d = KVRMakeOverviewDisplay(oneProductInput(p, &prev.t, &cur.t, 0, from, to));
  EXPECT_EQ(d.evolution.arrowImage, "noev_arrow");
  EXPECT_EQ(d.evolution.badgeImage, "evolution_blue");
  EXPECT_EQ(d.evolution.title, "--");
  EXPECT_EQ(d.evolution.alternateTitle, "--");
  EXPECT_EQ(d.evolution.lastDayValueLeft, "200");
  EXPECT_EQ(d.evolution.currentDayValueRight, "200");

  cur.totals(salesOf(150));
  d = KVRMakeOverviewDisplay(oneProductInput(p, &prev.t, &cur.t, 0, from, to));
  EXPECT_EQ(d.evolution.arrowImage, "down_arrow");
  EXPECT_EQ(d.evolution.badgeImage, "evolution_red");
  EXPECT_EQ(d.evolution.lastDayValueRight, "200");
  EXPECT_EQ(d.evolution.currentDayValueLeft, "150");
  EXPECT_TRUE(d.evolution.lastDayValueLeft.isEmpty());
  EXPECT_TRUE(d.evolution.currentDayValueRight.isEmpty());
  EXPECT_EQ(d.evolution.title, "- 50");
  EXPECT_EQ(d.evolution.alternateTitle, "- 25 %");
}

TEST(OverviewPresenter, MoneyTextsFollowTheRoundingSetting) {
  Store store;
  KVRVortelyManagedProduct* p = store.product(1, "Alpha", store.account("Studio"));
  const KVRDate from = day(2026, 3, 1), to = day(2026, 3, 7);
  Entry prev, cur;
  prev.totals(salesOf(3, 100.25f));
  cur.totals(salesOf(5, 123.5f));
  KVROverviewInput in = oneProductInput(p, &prev.t, &cur.t, 4, from, to);
  KVROverviewDisplay d = KVRMakeOverviewDisplay(in);
  EXPECT_EQ(d.chartCaption, "Sales");  // the left chart counts sales
  EXPECT_EQ(d.evolution.lastDayValueLeft, "100.25 €");
  EXPECT_EQ(d.evolution.currentDayValueRight, "123.50 €");
  EXPECT_EQ(d.evolution.title, "+ 23.25 €");
  EXPECT_EQ(d.evolution.alternateTitle, "+ 23.19 %");
  EXPECT_FLOAT_EQ(d.medianValue, 123.5f / 7.0f);

  in.roundCurrency = true;
  d = KVRMakeOverviewDisplay(in);
  EXPECT_EQ(d.evolution.lastDayValueLeft, "100 €");
  EXPECT_EQ(d.evolution.currentDayValueRight, "124 €");
  EXPECT_EQ(d.evolution.title, "+ 24 €");
  EXPECT_EQ(d.counterText, "124 €");

  // The difference is that of the two figures shown.
  in.roundCurrency = false;
  prev.totals(salesOf(3, 100.004f));
  cur.totals(salesOf(5, 100.006f));
  d = KVRMakeOverviewDisplay(in);
  EXPECT_EQ(d.evolution.lastDayValueLeft, "100.00 €");
  EXPECT_EQ(d.evolution.currentDayValueRight, "100.01 €");
  EXPECT_EQ(d.evolution.title, "+ 0.01 €");
}

TEST(OverviewPresenter, OneFigureOneText) {
  // Three products of 4,000,000.25 each, in two countries: twelve million and
  // three quarters, beyond what single precision holds to the cent.
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  std::vector<KVRVortelyManagedProduct*> products;
  KVRTotalsResult current, previous;
  for (int i = 0; i < 3; ++i) {
    products.push_back(store.product(1 + i, QStringLiteral("App %1").arg(i), acc));
    current[1 + i] = Entry()
                         .country("US", [](KVRTotalsStruct& r) { r.sales = 10; r.currency = 3000000.25f; })
                         .country("FR", [](KVRTotalsStruct& r) { r.sales = 5; r.currency = 1000000.0f; })
                         .sumCountries()
                         .t;
    previous[1 + i] = Entry().totals(salesOf(1, 1)).t;
  }
  const KVROverviewDisplay d =
      KVRMakeOverviewDisplay(severalInput(products, &current, &previous, 4, day(2026, 3, 1), day(2026, 3, 7)));
  EXPECT_DOUBLE_EQ(d.counterValue, 12000000.75);
  EXPECT_TRUE(d.counterText.endsWith("000.75 €")) << d.counterText.toStdString();
  // The counter and the trend, the chart by product and the chart by country.
  EXPECT_EQ(d.evolution.currentText, d.counterText);
  EXPECT_DOUBLE_EQ(d.revenuesPerProduct.total, d.counterValue);
  EXPECT_DOUBLE_EQ(d.revenuesPerCountry.total, d.counterValue);
  EXPECT_DOUBLE_EQ(d.revenuesPerCountry.values.at("US"), 9000000.75);
  EXPECT_DOUBLE_EQ(d.downloadsPerCountry.total, d.downloadsPerProduct.total);
}

TEST(OverviewPresenter, RatioValuesDivideEachSpanByItsOwnDivisor) {
  Store store;
  KVRVortelyManagedProduct* p = store.product(1, "Alpha", store.account("Studio"));
  const KVRDate from = day(2026, 3, 1), to = day(2026, 3, 2);
  Entry prev, cur;
  // Fill rate is kept as percent x requests.
  prev.totals([](KVRTotalsStruct& r) { r.fillRate = 40 * 100; r.requests = 100; });
  cur.country("US", [](KVRTotalsStruct& r) { r.fillRate = 50 * 200; r.requests = 200; })
      .country("GB", [](KVRTotalsStruct& r) { r.fillRate = 0; r.requests = 50; })  // a zero part: left out
      .sumCountries()
      .onDay(from, [](KVRTotalsStruct& r) { r.fillRate = 50 * 200; r.requests = 200; })
      .onDay(to, [](KVRTotalsStruct& r) { r.fillRate = 7; r.requests = 0; });
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(oneProductInput(p, &prev.t, &cur.t, 11, from, to));
  EXPECT_FLOAT_EQ(d.evolution.previous, 40.0f);
  EXPECT_FLOAT_EQ(d.evolution.current, 40.0f);  // 10000 / 250
  EXPECT_EQ(d.evolution.lastDayValueLeft, "40.00 %");
  EXPECT_FLOAT_EQ(d.fillRate, 0.4f);
  EXPECT_EQ(d.fillRateText, "40.00 %");
  EXPECT_FLOAT_EQ(d.medianValue, 40.0f);
  ASSERT_EQ(d.downloadsPerProduct.count(), 1);
  EXPECT_FLOAT_EQ(d.downloadsPerProduct.valueAt(0), 50.0f);
  // The chart totals the ratio of its summed parts: the product's fill rate.
  EXPECT_FLOAT_EQ(d.downloadsPerProduct.total, 40.0f);
  // A day without requests keeps its undivided value; Cumul never divides.
  EXPECT_FLOAT_EQ(d.pointsInCurve[0].count, 50.0f);
  EXPECT_FLOAT_EQ(d.pointsInCurve[1].count, 7.0f);
  EXPECT_FLOAT_EQ(d.pointsInCurve[1].cumul, 10007.0f);
}

TEST(OverviewPresenter, SameNamesAcrossPlatformsAndWithinOnePlatform) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* iosApp = store.product(1, "Notes", acc, "Productivity");
  KVRVortelyManagedProduct* macApp = store.product(2, "Notes", acc, "Developer Tools");
  KVRVortelyManagedProduct* a = store.product(3, "Twin", acc);
  KVRVortelyManagedProduct* b = store.product(4, "Twin", acc);
  const KVRDate from = day(2026, 3, 1), to = day(2026, 3, 3);
  KVRTotalsResult current;
  current[1] = Entry().totals(salesOf(10, 5)).t;
  current[2] = Entry().totals(salesOf(20, 6)).t;
  current[3] = Entry().totals(salesOf(30, 7)).t;
  current[4] = Entry().totals(salesOf(40, 8)).t;
  const KVROverviewDisplay d =
      KVRMakeOverviewDisplay(severalInput({iosApp, macApp, a, b}, &current, nullptr, 0, from, to));
  const auto& parts = d.downloadsPerProduct.values;
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_FLOAT_EQ(parts.at("Notes (iOS)"), 10);
  EXPECT_FLOAT_EQ(parts.at("Notes (Mac)"), 20);
  // Same name on one platform: one part holding both, so nothing is lost.
  EXPECT_FLOAT_EQ(parts.at("Twin"), 70);
  EXPECT_FLOAT_EQ(d.downloadsPerProduct.total, 100);
  EXPECT_NEAR(sumOfPercents(d.downloadsPerProduct), 1.0f, 1e-6f);
  EXPECT_FLOAT_EQ(d.revenuesPerProduct.values.at("Twin"), 15);
  EXPECT_NEAR(sumOfPercents(d.revenuesPerProduct), 1.0f, 1e-6f);
  EXPECT_EQ(d.curves.size(), 4u);
  EXPECT_EQ(d.sales, 100);
  EXPECT_FLOAT_EQ(d.counterValue, 26);
}

TEST(OverviewPresenter, InAppPurchasesOnlyForTheirValue) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* app = store.product(1, "Alpha", acc);
  KVRVortelyManagedProduct* iap = store.product(2, "Coins", acc, "In-App Purchase");
  const KVRDate from = day(2026, 3, 1), to = day(2026, 3, 3);
  Entry cur;
  cur.country("US", salesOf(12, 24)).sumCountries();
  // Tag 17 keeps the one in-app purchase: the one-product path.
  KVROverviewDisplay d = KVRMakeOverviewDisplay(oneProductInput(iap, nullptr, &cur.t, 17, from, to));
  KVROverviewInput in = oneProductInput(iap, nullptr, &cur.t, 17, from, to);
  in.extendedProducts = {app, iap};
  d = KVRMakeOverviewDisplay(in);
  EXPECT_TRUE(d.oneProduct);
  EXPECT_EQ(d.sales, 12);
  EXPECT_EQ(d.graphCaption, "Sales");

  // Without any in-app purchase the list is empty: the several-products path.
  KVRTotalsResult none;
  d = KVRMakeOverviewDisplay(severalInput({app}, &none, nullptr, 17, from, to));
  EXPECT_FALSE(d.oneProduct);
  EXPECT_EQ(d.sales, 0);
  EXPECT_EQ(d.chartCaption, "Sales");
  EXPECT_TRUE(d.curves.empty());
}

TEST(OverviewPresenter, EmptySelectionShowsZerosAndNoEvolution) {
  const KVRDate from = day(2026, 3, 1), to = day(2026, 3, 7);
  KVRTotalsResult empty;
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(severalInput({}, &empty, &empty, 0, from, to));
  EXPECT_EQ(d.salesText, "0");
  EXPECT_FLOAT_EQ(d.counterValue, 0);
  EXPECT_EQ(d.downloadsPerProduct.count(), 0);
  EXPECT_EQ(d.revenuesPerCountry.count(), 0);
  EXPECT_FALSE(d.evolution.available);
  EXPECT_TRUE(d.evolution.arrowImage.isEmpty());
  EXPECT_TRUE(d.evolution.title.isEmpty());
  EXPECT_TRUE(d.evolution.lastDayValueLeft.isEmpty());
  EXPECT_EQ(d.pointsInCurve.size(), 7u);
  EXPECT_FLOAT_EQ(d.medianValue, 0.0f);
  EXPECT_EQ(d.reportsDatesText, "From 3/1/26 to 3/7/26");
}

TEST(OverviewPresenter, ProductsWithoutAccountShowNoEvolution) {
  Store store;
  KVRVortelyManagedProduct* p = store.product(1, "Followed");
  Entry prev, cur;
  prev.totals(salesOf(1));
  cur.totals(salesOf(4));
  const KVROverviewDisplay d =
      KVRMakeOverviewDisplay(oneProductInput(p, &prev.t, &cur.t, 0, day(2026, 3, 1), day(2026, 3, 2)));
  EXPECT_TRUE(d.evolution.arrowImage.isEmpty());
  EXPECT_TRUE(d.evolution.title.isEmpty());
  EXPECT_EQ(d.evolution.badgeImage, "evolution_green");
}

TEST(OverviewPresenter, DailyPeriodDrawsTheGraphRangeAndMissingDatesShowDashes) {
  Store store;
  KVRVortelyManagedProduct* p = store.product(1, "Alpha", store.account("Studio"));
  const KVRDate end = day(2026, 3, 14), weekStart = plusDays(end, -6);
  Entry cur, week;
  cur.totals(salesOf(3)).onDay(end, salesOf(3));
  for (int i = 0; i < 7; ++i) week.onDay(plusDays(weekStart, i), salesOf(float(i)));
  KVROverviewInput in = oneProductInput(p, nullptr, &cur.t, 0, end, end);
  in.selectedPeriod = 0;
  in.totals.graphEntry = &week.t;
  in.graphStartDate = weekStart;
  KVROverviewDisplay d = KVRMakeOverviewDisplay(in);
  EXPECT_TRUE(d.showLastDay);
  ASSERT_EQ(d.pointsInCurve.size(), 7u);
  EXPECT_FLOAT_EQ(d.pointsInCurve[6].count, 6);
  EXPECT_FLOAT_EQ(d.pointsInCurve[6].cumul, 21);
  EXPECT_EQ(d.reportsDatesText, "3/14/26");
  EXPECT_EQ(d.evolutionDatesText, "3/14/26");

  in.selectedPeriod = 1;
  in.startDate = KVRDate::none();
  d = KVRMakeOverviewDisplay(in);
  EXPECT_EQ(d.reportsDatesText, "From -- to 3/14/26");

  // A missing graph range keeps the curve shown before.
  in.graphStartDate = KVRDate::none();
  in.previousPointsInCurve = {KVRCurvePoint{end, 1, 1}};
  d = KVRMakeOverviewDisplay(in);
  ASSERT_EQ(d.pointsInCurve.size(), 1u);
  EXPECT_FLOAT_EQ(d.pointsInCurve[0].count, 1);
}

TEST(OverviewPresenter, CombinedCtrCurveDividesBySummedImpressions) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* a = store.product(1, "A", acc);
  KVRVortelyManagedProduct* b = store.product(2, "B", acc);
  KVRVortelyManagedProduct* c = store.product(3, "C", acc);
  const KVRDate d1 = day(2026, 3, 1), d2 = day(2026, 3, 2);
  auto ad = [](float ctr, float impressions) {
    return [=](KVRTotalsStruct& r) { r.ctr = ctr; r.impressions = impressions; };
  };
  KVRTotalsResult current;
  current[1] = Entry().country("US", ad(300, 100)).sumCountries().onDay(d1, ad(300, 100)).onDay(d2, ad(0, 0)).t;
  current[2] = Entry().country("US", ad(100, 100)).sumCountries().onDay(d1, ad(100, 100)).t;
  // C has no impressions over the period: its ctr counts, its impressions not.
  current[3] = Entry().onDay(d2, ad(50, 0)).t;
  KVRTotalsResult previous;
  previous[1] = Entry().totals(ad(100, 100)).t;
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(severalInput({a, b, c}, &current, &previous, 12, d1, d2));
  ASSERT_EQ(d.pointsInCurve.size(), 2u);
  EXPECT_FLOAT_EQ(d.pointsInCurve[0].count, 2.0f);   // 400 / 200
  EXPECT_FLOAT_EQ(d.pointsInCurve[1].count, 50.0f);  // no impressions that day: undivided
  EXPECT_FLOAT_EQ(d.pointsInCurve[1].cumul, 450.0f);
  // Per product: each its own quotient; the total over all impressions.
  EXPECT_FLOAT_EQ(d.downloadsPerProduct.values.at("A"), 3.0f);
  EXPECT_FLOAT_EQ(d.downloadsPerProduct.values.at("B"), 1.0f);
  EXPECT_FLOAT_EQ(d.downloadsPerProduct.total, 2.0f);
  EXPECT_FLOAT_EQ(d.downloadsPerCountry.values.at("US"), 2.0f);
  EXPECT_FLOAT_EQ(d.evolution.current, 2.0f);
  EXPECT_FLOAT_EQ(d.evolution.previous, 1.0f);
  EXPECT_EQ(d.evolution.title, "+ 1.00 %");
  EXPECT_FLOAT_EQ(d.ctr, 400.0f / 200.0f / 100.0f);  // period totals
  EXPECT_FLOAT_EQ(d.medianValue, d.ctr * 100.0f);
}

TEST(OverviewPresenter, AdOverviewCountsCountryRevenuesAndHasNoRegionPrefix) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* a = store.product(1, "A", acc);
  KVRVortelyManagedProduct* b = store.product(2, "B", acc);
  const KVRDate from = day(2026, 3, 1), to = day(2026, 3, 2);
  auto rev = [](float iAd, float impressions) {
    return [=](KVRTotalsStruct& r) { r.iAdSales = iAd; r.impressions = impressions; r.currency = 99; };
  };
  KVRTotalsResult current;
  current[1] = Entry().country("US", rev(2.5f, 1000)).country("FR", rev(1.5f, 400)).sumCountries().t;
  current[2] = Entry().country("US", rev(1.0f, 600)).sumCountries().t;
  KVROverviewInput in = severalInput({a, b}, &current, nullptr, 7, from, to);
  in.iAd = true;
  in.regionTitle = QStringLiteral("All Regions");
  KVROverviewDisplay d = KVRMakeOverviewDisplay(in);
  EXPECT_FLOAT_EQ(d.counterValue, 5.0f);
  EXPECT_EQ(d.graphCaption, "iAd Revenues");
  EXPECT_EQ(d.chartCaption, "Impressions");
  EXPECT_FLOAT_EQ(d.downloadsPerCountry.values.at("US"), 1600);
  EXPECT_FLOAT_EQ(d.revenuesPerCountry.values.at("US"), 3.5f);

  in.iAd = false;
  in.valueTag = 0;
  d = KVRMakeOverviewDisplay(in);
  EXPECT_EQ(d.graphCaption, "All Regions Sales");
  EXPECT_FLOAT_EQ(d.counterValue, 297.0f);
}

TEST(OverviewPresenter, PrintTitleSubject) {
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  KVRVortelyManagedProduct* a = store.product(1, "Alpha", acc);
  KVRVortelyManagedProduct* b = store.product(2, "Beta", acc);
  KVROverviewPrintSelection s;
  s.extendedProducts = {a, b};
  s.accounts = {acc};
  EXPECT_EQ(KVROverviewPrintSubject(s), "multiple selection");
  s.isAccountSelected = true;
  EXPECT_EQ(KVROverviewPrintSubject(s), "Studio");
  s.isAccountSelected = false;
  s.extendedProducts = {b};
  EXPECT_EQ(KVROverviewPrintSubject(s), "Beta");
  EXPECT_EQ(KVROverviewPrintTitle("Beta", "From 3/1/26 to 3/7/26"), "Overview Report for Beta, from 3/1/26 to 3/7/26");
  EXPECT_EQ(KVROverviewPrintTitle("Beta", QString()), "Overview Report for Beta, --");
}
