// Curve builders, the vertical range of the curve graph and the answers the
// graph and the part charts pull.
#include <gtest/gtest.h>

#include <array>

#include "overview/KVROverviewCurves.h"
#include "overview/KVROverviewPresenter.h"
#include "test_presenter_fixtures.h"

using namespace display_test;

TEST(OverviewCurves, MaxRangeRoundsPadsAndKeepsANegativeBottom) {
  auto range = [](std::vector<double> v, bool iAd = false) { return KVRMaxRangeForValues(v, iAd); };
  EXPECT_EQ(range({0, 0}), (KVRSignedRange{0, 5}));
  EXPECT_EQ(range({2.4f}), (KVRSignedRange{0, 5}));
  EXPECT_EQ(range({-0.4f, 3.6f}), (KVRSignedRange{0, 5}));
  EXPECT_EQ(range({0, -1.2f}), (KVRSignedRange{-5, 5}));
  EXPECT_EQ(range({0}, true), (KVRSignedRange{0, 1}));
  EXPECT_EQ(range({-1, -2}, true), (KVRSignedRange{-2, 2}));
  EXPECT_EQ(range({12.5f, 7}), (KVRSignedRange{0, 13}));
  // A highest point that rounds down still fits under the top (a CTR of 1.3 %).
  EXPECT_EQ(range({0.4, 1.3}, true), (KVRSignedRange{0, 2}));
  EXPECT_EQ(range({12.2}), (KVRSignedRange{0, 13}));
  // Cumulative impressions pass 2^31: the range stays right.
  const KVRSignedRange big = range({3.0e9f});
  EXPECT_EQ(big.location, 0);
  EXPECT_EQ(big.length, 3000000000LL);
}

TEST(OverviewCurves, BuildersWalkTheGraphRange) {
  const KVRDate d1 = day(2026, 3, 29), d3 = day(2026, 3, 31);  // over the clock change in Paris
  Entry e;
  e.onDay(d1, salesOf(2)).onDay(d3, salesOf(5));
  const KVRDayTotals days(e.t.salesByDate);
  std::vector<KVRCurvePoint> pts;
  ASSERT_TRUE(KVRBuildPointsInCurve(days, "sales", d1, d3, &pts));
  ASSERT_EQ(pts.size(), 3u);
  EXPECT_EQ(pts[2].date, d3);
  EXPECT_FLOAT_EQ(pts[1].count, 0);
  EXPECT_FLOAT_EQ(pts[2].cumul, 7);

  // One day: Cumul is the undivided value.
  Entry r;
  r.onDay(d1, [](KVRTotalsStruct& t) { t.eCPM = 30; t.impressions = 10; });
  ASSERT_TRUE(KVRBuildPointsInCurve(KVRDayTotals(r.t.salesByDate), "eCPM", d1, d1, &pts));
  ASSERT_EQ(pts.size(), 1u);
  EXPECT_FLOAT_EQ(pts[0].count, 3);
  EXPECT_FLOAT_EQ(pts[0].cumul, 30);

  // Missing or reversed ranges leave the curve alone.
  std::vector<KVRCurvePoint> kept = {KVRCurvePoint{d1, 9, 9}};
  EXPECT_FALSE(KVRBuildPointsInCurve(days, "sales", d3, d1, &kept));
  EXPECT_FALSE(KVRBuildPointsInCurve(days, "sales", KVRDate::none(), d1, &kept));
  EXPECT_EQ(kept.size(), 1u);

  // One walk of the range serves every product.
  const KVRGraphDays range(d1, d3);
  ASSERT_TRUE(range.isValid());
  const std::vector<KVRCurvePoint> walked = KVRPointsInCurve(days, "sales", range);
  ASSERT_EQ(walked.size(), 3u);
  EXPECT_EQ(walked[1].date, range.dates()[1]);
  EXPECT_FLOAT_EQ(walked[2].cumul, 7);
  EXPECT_TRUE(KVRPointsInCurve(days, "sales", KVRGraphDays(d3, d1)).empty());
}

// The combined curve sums each day of the range over the products; a ratio
// divides by the day's summed divisor, which takes only the products whose
// period has some.
TEST(OverviewCurves, CombinedDaysSumTheProductsOverTheRange) {
  const KVRDate d1 = day(2026, 3, 29), d2 = day(2026, 3, 30), d3 = day(2026, 3, 31);
  auto ad = [](float ecpm, float impressions) {
    return [=](KVRTotalsStruct& t) {
      t.eCPM = ecpm;
      t.impressions = impressions;
    };
  };
  Entry a, b;
  // A day before the range feeds no point.
  a.onDay(plusDays(d1, -1), ad(1000, 100)).onDay(d1, ad(30, 10)).onDay(d3, ad(0, 0));
  b.onDay(d1, ad(50, 40)).onDay(d2, ad(8, 0));
  KVRTotalsStruct withImpressions, without;
  withImpressions.impressions = 1;
  const KVRGraphDays range(d1, d3);
  const KVRDayTotals da(a.t.salesByDate), db(b.t.salesByDate);
  KVRCombinedDayValues combined(range);
  combined.addProduct(da, "eCPM", withImpressions);
  combined.addProduct(db, "eCPM", without);
  std::vector<KVRCurvePoint> pts;
  ASSERT_TRUE(combined.buildPoints(&pts));
  ASSERT_EQ(pts.size(), 3u);
  EXPECT_DOUBLE_EQ(pts[0].count, 80.0 / 10.0);  // b's impressions are left out
  EXPECT_DOUBLE_EQ(pts[1].count, 8);             // no divisor: the bare sum
  EXPECT_DOUBLE_EQ(pts[2].count, 0);
  EXPECT_DOUBLE_EQ(pts[2].cumul, 88);

  // Days far apart are found as well; a day met twice keeps its first totals.
  Entry far;
  far.onDay(day(1990, 1, 1), salesOf(1)).onDay(d1, salesOf(2));
  far.t.salesByDate.emplace_back(d1, KVRTotalsStruct{});
  const KVRDayTotals fd(far.t.salesByDate);
  ASSERT_NE(fd.find(KVRCalendar::shared().civilDay(d1)), nullptr);
  EXPECT_FLOAT_EQ(fd.find(KVRCalendar::shared().civilDay(d1))->sales, 2);
  EXPECT_FLOAT_EQ(fd.find(KVRCalendar::shared().civilDay(day(1990, 1, 1)))->sales, 1);
  EXPECT_EQ(fd.find(KVRCalendar::shared().civilDay(d2)), nullptr);
  EXPECT_EQ(fd.days().size(), 2u);
}

TEST(OverviewCurves, GraphAnswersFollowTheControls) {
  KVROverviewDisplay d;
  d.pointsInCurve = {KVRCurvePoint{day(2026, 3, 1), 2, 2}, KVRCurvePoint{day(2026, 3, 2), 3, 5}};
  d.curves = {KVROverviewCurve{{KVRCurvePoint{day(2026, 3, 1), 1, 1}, KVRCurvePoint{day(2026, 3, 2), -4, -3}},
                               QColor(Qt::red)},
              KVROverviewCurve{{KVRCurvePoint{day(2026, 3, 1), 1, 1}, KVRCurvePoint{day(2026, 3, 2), 7, 8}},
                               QColor(Qt::blue)}};
  d.medianValue = 2.5f;
  KVROverviewControlState s;

  // Combined segment: one curve even though per-product curves exist.
  EXPECT_EQ(KVRNumberOfCurves(d, s), 1);
  EXPECT_FLOAT_EQ(KVRValueAtIndex(d, s, 1, 1), 3);
  EXPECT_EQ(KVRColorForCurve(d, s, 0), KVRMainCurveColor());
  EXPECT_FLOAT_EQ(KVRMedianValueForGraph(d, s), 2.5f);

  s.perProduct = true;
  EXPECT_EQ(KVRNumberOfCurves(d, s), 2);
  EXPECT_FLOAT_EQ(KVRValueAtIndex(d, s, 1, 1), 7);
  EXPECT_EQ(KVRColorForCurve(d, s, 1), QColor(Qt::blue));
  EXPECT_EQ(KVRMedianValueForGraph(d, s), KVRNoMedianValue);
  EXPECT_EQ(KVRMaxRangeForCurves(d, s), (KVRSignedRange{-5, 12}));

  s.cumulative = true;
  s.perProduct = false;
  EXPECT_FLOAT_EQ(KVRValueAtIndex(d, s, 1, 0), 5);
  EXPECT_EQ(KVRMedianValueForGraph(d, s), KVRNoMedianValue);

  EXPECT_TRUE(KVRMedianForce(8));
  EXPECT_FALSE(KVRMedianForce(4));
  EXPECT_EQ(KVRValueLabelFormat(4, "€"), "%@ €");
  EXPECT_EQ(KVRValueLabelFormat(12, "€"), "%@ %%");
  EXPECT_TRUE(KVRValueLabelFormat(0, "€").isEmpty());
  // Rounded money: whole units for revenues on the curve and on a revenue
  // chart; eCPM keeps its cents.
  EXPECT_TRUE(KVRCurveValuesInWholeUnits(4, true));
  EXPECT_FALSE(KVRCurveValuesInWholeUnits(8, true));
  EXPECT_FALSE(KVRCurveValuesInWholeUnits(4, false));
  EXPECT_TRUE(KVRChartValuesInWholeUnits(KVRPartChart::printRevenues2, 0, true));
  EXPECT_FALSE(KVRChartValuesInWholeUnits(KVRPartChart::downloads, 8, true));
  EXPECT_EQ(KVRMouseOverLabel(17, "€"), "sales");
  EXPECT_EQ(KVRMouseOverLabel(8, "€"), "€");
  EXPECT_TRUE(KVRMouseOverLabel(9, "€").isEmpty());
}

TEST(OverviewCurves, PartChartDivisionsLegendsAndPercents) {
  KVROverviewDisplay d;
  d.downloadsPerProduct.add("Alpha", 3);
  d.downloadsPerProduct.add("AB", 1);  // two characters: read as a country code
  d.downloadsPerProduct.total = 4;
  d.downloadsPerProduct.sortKeys();
  d.downloadsPerCountry.add("fr", 2);
  d.downloadsPerCountry.add("ZZ", 6);
  d.downloadsPerCountry.total = 8;
  d.downloadsPerCountry.sortKeys();

  EXPECT_EQ(KVRDivisionForChart(d, KVRPartChart::downloads, 0).count(), 2);
  EXPECT_EQ(KVRLegendForPart(d, KVRPartChart::downloads, 0, 0), "ab");
  EXPECT_EQ(KVRLegendForPart(d, KVRPartChart::downloads, 0, 1), "Alpha");
  EXPECT_EQ(KVRLegendForPart(d, KVRPartChart::downloads, 2, 0), "France");
  EXPECT_EQ(KVRLegendForPart(d, KVRPartChart::downloads, 2, 1), "zz");
  EXPECT_TRUE(KVRLegendForPart(d, KVRPartChart::downloads, 2, 5).isEmpty());
  // Print charts have a fixed division whatever the index.
  EXPECT_FLOAT_EQ(KVRDivisionForChart(d, KVRPartChart::printDownloads2, 0).valueAt(-1), 8);
  EXPECT_FLOAT_EQ(KVRDivisionForChart(d, KVRPartChart::printDownloads, 7).valueAt(-1), 4);
  EXPECT_FLOAT_EQ(KVRDivisionForChart(d, KVRPartChart::downloads, 1).percentAt(1), 0.75f);

  KVRChartDivision empty;
  empty.add("US", 0);
  empty.sortKeys();
  EXPECT_FLOAT_EQ(empty.percentAt(0), 0);  // a total of 0 gives 0, not a division by zero

  // The specified colours: every download part, every revenue part, the main curve.
  auto rgbF = [](const QColor& c) { return std::array<double, 4>{c.redF(), c.greenF(), c.blueF(), c.alphaF()}; };
  const std::array<double, 4> download{0.92578125, 0.66796875, 0.1015625, 1.0};
  const std::array<double, 4> revenue{0.57421875, 0.80859375, 0.93359375, 1.0};
  for (KVRPartChart c : {KVRPartChart::downloads, KVRPartChart::printDownloads, KVRPartChart::printDownloads2})
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(rgbF(KVRColorForChart(c))[i], download[i], 1e-4);
  for (KVRPartChart c : {KVRPartChart::revenues, KVRPartChart::printRevenues, KVRPartChart::printRevenues2})
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(rgbF(KVRColorForChart(c))[i], revenue[i], 1e-4);
  const std::array<double, 4> curve{0.76953125, 0.83984375, 0.0390625, 1.0};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(rgbF(KVRMainCurveColor())[i], curve[i], 1e-4);
  EXPECT_EQ(KVRValueLabelFormatForChart(KVRPartChart::revenues, 0, "$"), "%@ $");
  EXPECT_EQ(KVRValueLabelFormatForChart(KVRPartChart::downloads, 8, "$"), "%@ $");
  EXPECT_EQ(KVRValueLabelFormatForChart(KVRPartChart::downloads, 11, "$"), "%@ %%");
  EXPECT_FLOAT_EQ(KVRRatioForAnimation(KVRPartChart::printDownloads, 0.1f), 1.0f);
  EXPECT_FLOAT_EQ(KVRRatioForAnimation(KVRPartChart::downloads, 0.1f), 0.1f);
}

TEST(OverviewCurves, GrowAnimationEndsAtOneAfterTwentyTicks) {
  float p = 0;
  int ticks = 0;
  while (p < 1.0f && ticks < 100) {
    p = KVRNextAnimationStep(p);
    ++ticks;
  }
  EXPECT_EQ(ticks, 20);
  EXPECT_EQ(p, 1.0f);
}
