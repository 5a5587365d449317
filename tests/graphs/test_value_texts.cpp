// The texts of money, counts and percentages, and the one rounding rule of
// money.
#include <gtest/gtest.h>

#include <random>

#include "core/KVRFormatters.h"
#include "graphs/KVRValueTexts.h"

TEST(ValueTexts, CentsRoundAsTheAmountFormatterRounds) {
  // A value rounded first prints the digits of the value itself, whatever its
  // size, for halves, near-halves and float sums alike.
  const KVRNumberFormatter& f = KVRFormatters::shared().currencyFormatterWithFloats();
  std::mt19937 rng(7);
  std::uniform_int_distribution<int64_t> thousandths(-999999999999LL, 999999999999LL);
  std::vector<double> values = {1417.625, 1417.635, 0.005, 0.015, 2.675, 1.005, -0.125, 999999.995, 123456789.125};
  for (int i = 0; i < 3000; ++i) values.push_back(double(thousandths(rng)) / 1000.0);
  for (int i = 0; i < 1000; ++i) values.push_back(double(float(thousandths(rng) % 100000000) / 1000.0f));
  for (double v : values)
    ASSERT_EQ(f.stringFromNumber(KVRRoundedToCents(v)), f.stringFromNumber(v)) << std::setprecision(17) << v;
  EXPECT_EQ(KVRRoundedToCents(1417.625), 1417.62);
  EXPECT_EQ(KVRRoundedToCents(-1417.635), -1417.64);
  EXPECT_EQ(KVRRoundedToCents(99.995), 100.0);
}

TEST(ValueTexts, EachFigureInItsForm) {
  EXPECT_EQ(KVRCountText(203.57), "204");
  EXPECT_EQ(KVRCountText(-0.4), "0");
  EXPECT_EQ(KVRMoneyText(470.5, false, "€"), "470.50 €");
  EXPECT_EQ(KVRMoneyText(470.5, true, "€"), "471 €");
  EXPECT_EQ(KVRPercentText(6), "6.00 %");
  EXPECT_EQ(KVRPercentText(6.6), "6.60 %");

  // The graph data sources' value formats.
  EXPECT_EQ(KVRFormattedValueText(std::nullopt, 203.57, false), "204");
  EXPECT_EQ(KVRFormattedValueText(QStringLiteral("%@ €"), 83.4, false), "83.40 €");
  EXPECT_EQ(KVRFormattedValueText(QStringLiteral("%@ €"), 83.4, true), "83 €");
  EXPECT_EQ(KVRFormattedValueText(QStringLiteral("%@ %%"), 6, true), "6.00 %");
}
