// The figures after a rebuild (round2, year totals, fixed income) and the
// grid of the month window, on statements made in memory.
#include <gtest/gtest.h>

#include "core/KVRCalendar.h"
#include "core/KVRFormatters.h"
#include "financial/KVRFinancialFigures.h"
#include "financial/KVRFinancialGrid.h"
#include "financial/KVRFinancialTexts.h"
#include "statement_maker.h"

namespace {

constexpr KVRMonthKey kJan{2011, 1}, kFeb{2011, 2}, kMar{2011, 3}, kApr{2011, 4};

class FinancialGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    KVRResetMonthCaptionLocale(QStringLiteral("en_US"));
  }
  void TearDown() override {
    KVRFormatters::shared().resetLocale();
    KVRResetMonthCaptionLocale();
  }

  KVRFinancialGrid grid(int selectedMonth, int mode = KVRCurrencyModePreferred, bool products = false,
                        bool account = true) {
    return maker.grid(selectedMonth, mode, products, account);
  }
  static const KVRFinancialValue& cell(const KVRFinancialGrid& g, int row, int column) {
    return g.values.at(size_t(KVRFinancialGrid::indexOf(row, column + 1)));
  }

  StatementMaker maker;
};

}  // namespace

TEST(Round2, HalfAwayFromZeroInSixtyFourBits) {
  EXPECT_FLOAT_EQ(KVRRound2(2.345f), 2.35f);
  EXPECT_FLOAT_EQ(KVRRound2(0.9f * 10.005f), 9.0f);
  // A negative amount no longer loses a cent to the added half.
  EXPECT_FLOAT_EQ(KVRRound2(-1.234f), -1.23f);
  EXPECT_FLOAT_EQ(KVRRound2(-1.236f), -1.24f);
  // Yen amounts beyond 32 bits of hundredths keep their value.
  EXPECT_FLOAT_EQ(KVRRound2(3.0e7f), 3.0e7f);
  EXPECT_FLOAT_EQ(KVRRound2(-3.0e7f), -3.0e7f);
  EXPECT_EQ(KVRRound2(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST_F(FinancialGridTest, CellsAndTotalShowRound2WithoutASecondRounding) {
  // 1.125 and 2.375 are exact in single precision: the formatter alone would
  // write them half to even (1.12, 2.38); the cells show round2 (1.13, 2.38)
  // and the total their sum.
  maker.figures(kJan, KVRRegionRowEU, 1.125f, 1.125f);
  maker.figures(kJan, KVRRegionRowUS, 2.375f, 2.375f);
  maker.figures(kJan, KVRRegionRowJP, -0.625f, -0.625f);
  const KVRFinancialGrid g = grid(0);
  EXPECT_EQ(cell(g, KVRRegionRowEU, 0).incomePref, "1.13 €");
  EXPECT_EQ(cell(g, KVRRegionRowUS, 0).incomePref, "2.38 €");
  EXPECT_EQ(cell(g, KVRRegionRowJP, 0).incomePref, "-0.63 €");
  EXPECT_EQ(g.totals.at(0).income, "2.88 €");
  EXPECT_EQ(KVRFinancialAmountNumber(0.125), "0.13");
}

TEST_F(FinancialGridTest, YearTotalsAndFixedIncomeRoundEachRegionAfterTheRatios) {
  maker.figures(kJan, KVRRegionRowEU, 10.005f, 10.005f, 3);
  maker.payment(kJan, KVRRegionRowEU)->paymentRatio = 0.9f;      // 0.9 x 10.005 = 9.0045 -> 9.00
  maker.figures(kJan, KVRRegionRowCA, -1.234f, -1.5f, 1);        // a refund month: -1.23
  maker.figures(kFeb, KVRRegionRowUS, 2.345f, 3.125f, 2);        // no payment: ratio 1
  maker.month(kFeb).income.income()[KVRRegionRowGB] = 50.0f;     // neither report nor payment: left out
  maker.figures(KVRMonthKey{2012, 1}, KVRRegionRowUS, 100.0f, 130.0f);
  const KVRFinancialStatement& st = maker.statement();

  const KVRRegionRowTable year = KVRYearTotals(st, 2011, KVRMakeRegionRowTable());
  EXPECT_FLOAT_EQ(year[KVRRegionRowEU].income, 9.0f);
  EXPECT_FLOAT_EQ(year[KVRRegionRowEU].incomeLocal, 10.01f);  // the local column takes no ratio
  EXPECT_FLOAT_EQ(year[KVRRegionRowCA].income, -1.23f);
  EXPECT_FLOAT_EQ(year[KVRRegionRowUS].income, 2.35f);
  EXPECT_EQ(year[KVRRegionRowGB].income, 0.0f);
  EXPECT_FLOAT_EQ(year[0].income, 9.0f - 1.23f + 2.35f);
  EXPECT_EQ(year[KVRRegionRowUS].label, "USA");
  EXPECT_EQ(year[KVRRegionRowUS].shortDesc, "US");

  // The fixed income is the money sum of each month, whatever the unit on show.
  const std::vector<float> fixed = KVRFixedIncomes(st);
  ASSERT_EQ(fixed.size(), 3u);
  EXPECT_FLOAT_EQ(fixed[0], 9.0f - 1.23f);
  EXPECT_FLOAT_EQ(fixed[1], 2.35f);
  EXPECT_FLOAT_EQ(fixed[2], 100.0f);
}

TEST_F(FinancialGridTest, WindowBeyondTheRecordsShowsEmptyColumns) {
  maker.figures(kJan, KVRRegionRowUS, 10, 12, 1);
  maker.figures(kFeb, KVRRegionRowUS, 20, 24, 2);
  const KVRFinancialGrid g = grid(0);
  EXPECT_EQ(g.captions[0], "Jan 2011");
  EXPECT_EQ(g.captions[1], "Feb 2011");
  EXPECT_EQ(g.captions[2], "--");
  ASSERT_EQ(g.values.size(), 72u);
  ASSERT_EQ(g.totals.size(), 3u);
  for (int r = 1; r <= 18; ++r) {
    EXPECT_EQ(g.values[size_t(KVRFinancialGrid::indexOf(r, 0))].kind, KVRFinancialCellKind::title);
    EXPECT_EQ(cell(g, r, 2).kind, KVRFinancialCellKind::empty);
    EXPECT_EQ(cell(g, r, 2).income, "--");
  }
  EXPECT_EQ(g.totals[2].kind, KVRFinancialCellKind::empty);
  EXPECT_EQ(g.totals[2].region, "All Regions");
  EXPECT_EQ(g.totals[1].income, "20.00 €");
  // A region without report or payment in a month: no data, waiting for its report.
  const KVRFinancialValue& eu = cell(g, KVRRegionRowEU, 0);
  EXPECT_EQ(eu.kind, KVRFinancialCellKind::noData);
  EXPECT_EQ(eu.status, 2);
  EXPECT_EQ(eu.month, "Jan 2011");
  EXPECT_EQ(eu.regionCode.value_or(""), "EU");

  // No month record at all: every cell, caption and total is empty.
  StatementMaker none;
  const KVRRegionRowTable rows = KVRMakeRegionRowTable();
  KVRFinancialGridInput in;
  in.statement = &none.statement();
  in.rows = &rows;
  const KVRFinancialGrid empty = KVRBuildFinancialGrid(in);
  EXPECT_EQ(empty.captions[0], "--");
  EXPECT_TRUE(empty.value(1)->isEmptyCell());
  EXPECT_TRUE(empty.total(0)->isEmptyCell());
}

TEST_F(FinancialGridTest, JapaneseAndPaymentRatiosBadgesAndPaymentMarks) {
  maker.figures(kMar, KVRRegionRowJP, 80.0f, 10000.0f, 4);
  maker.payment(kMar, KVRRegionRowJP)->jpRatio = 0.9f;
  maker.figures(kMar, KVRRegionRowUS, 100.0f, 130.0f, 7);
  auto us = maker.payment(kMar, KVRRegionRowUS);
  us->paymentRatio = 1.02f;
  maker.figures(kFeb, KVRRegionRowUS, 50.0f, 65.0f, 3);
  maker.payment(kFeb, KVRRegionRowUS, false, kMar)->paymentRatio = 1.02f;  // paid with March
  maker.figures(kJan, KVRRegionRowUS, 40.0f, 52.0f, 2);
  maker.payment(kJan, KVRRegionRowUS, false, kMar);                        // paid with March, not reconciled

  const KVRFinancialGrid g = grid(0);
  const KVRFinancialValue& jp = cell(g, KVRRegionRowJP, 2);
  EXPECT_EQ(jp.income, "72.00 €");
  EXPECT_EQ(jp.incomeLocal, "9,000.00 ¥");
  EXPECT_FLOAT_EQ(*jp.incomeLocalValue, 9000.0f);
  EXPECT_EQ(jp.badgeColor->name(QColor::HexArgb), QColor::fromRgbF(0.92578125f, 0.66796875f, 0.1015625f, 1.0f).name(QColor::HexArgb));
  EXPECT_TRUE(jp.enablePayment);
  EXPECT_FALSE(jp.hidePayment);
  EXPECT_EQ(jp.paymentMonth.value_or(""), "Mar 2011");
  EXPECT_EQ(grid(0, KVRCurrencyModeLocal).value(KVRFinancialGrid::indexOf(KVRRegionRowJP, 3))->income, "9,000.00 ¥");
  EXPECT_EQ(grid(0, KVRCurrencyModeUnits).value(KVRFinancialGrid::indexOf(KVRRegionRowJP, 3))->income, "4");

  // Reconciled: the preferred figure takes the ratio, the local one does not.
  const KVRFinancialValue& paid = cell(g, KVRRegionRowUS, 2);
  EXPECT_EQ(paid.incomePref, "102.00 €");
  EXPECT_EQ(paid.income, "102.00 €");
  EXPECT_EQ(paid.incomeLocal, "130.00 $");
  EXPECT_FLOAT_EQ(*paid.incomeLocalValue, 130.0f);
  EXPECT_NEAR(paid.badgeColor->alphaF(), 0.9, 1e-3);
  EXPECT_TRUE(paid.enablePayment);
  EXPECT_EQ(paid.paymentDict.get(), us.get());

  // Months paid with a later payment: the paying month, no payment action.
  const KVRFinancialValue& feb = cell(g, KVRRegionRowUS, 1);
  EXPECT_FALSE(feb.hidePayment);
  EXPECT_FALSE(feb.enablePayment);
  EXPECT_EQ(feb.paymentMonth.value_or(""), "Mar 2011");
  EXPECT_NEAR(feb.badgeColor->alphaF(), 0.5, 1e-3);
  EXPECT_NEAR(cell(g, KVRRegionRowUS, 0).badgeColor->alphaF(), 0.4, 1e-3);
  EXPECT_EQ(cell(g, KVRRegionRowUS, 0).income, "40.00 €");

  // A title cell.
  const KVRFinancialValue& title = *g.value(KVRFinancialGrid::indexOf(KVRRegionRowUS, 0));
  EXPECT_EQ(title.income, "USA");
  EXPECT_EQ(title.month, "--");
  EXPECT_EQ(*title.badgeColor, QColor(Qt::red));
}

TEST_F(FinancialGridTest, AdRowAndTotals) {
  maker.figures(kJan, KVRRegionRowUS, 2.345f, 3.0f, 1234);
  maker.figures(kJan, KVRRegionRowCA, -1.234f, -1.6f, -2);
  maker.figures(kJan, KVRRegionRowIAD, 30.0f, 40.0f);
  maker.payment(kJan, KVRRegionRowIAD);

  // The ad row is shown only while a store account alone is selected; the
  // totals count it in every case.
  const KVRFinancialGrid account = grid(0);
  EXPECT_EQ(cell(account, KVRRegionRowIAD, 0).kind, KVRFinancialCellKind::month);
  const KVRFinancialGrid products = grid(0, KVRCurrencyModePreferred, true, false);
  EXPECT_EQ(cell(products, KVRRegionRowIAD, 0).kind, KVRFinancialCellKind::noData);
  EXPECT_EQ(cell(products, KVRRegionRowIAD, 0).income, "--");
  // 2.35 - 1.23 + 30.00: each region rounded, negative amounts too.
  EXPECT_EQ(products.totals[0].income, "31.12 €");
  EXPECT_FLOAT_EQ(*products.totals[0].totalAmount, 31.12f);
  EXPECT_EQ(products.totals[0].units.value_or(""), "1,232");

  // Units: grouped like every count, in the cells and in the total; the
  // total's amount stays the money total.
  const KVRFinancialGrid units = grid(0, KVRCurrencyModeUnits);
  EXPECT_EQ(cell(units, KVRRegionRowUS, 0).income, "1,234");
  EXPECT_EQ(units.totals[0].income, "1,232");
  EXPECT_EQ(units.totals[0].incomePref, "31.12 €");
  // The local mode's totals are in the preferred currency.
  EXPECT_EQ(grid(0, KVRCurrencyModeLocal).totals[0].income, "31.12 €");
}

TEST(FinancialTexts, CaptionsAndAmountsFollowTheLocaleInTheGregorianCalendar) {
  KVRResetMonthCaptionLocale(QStringLiteral("fr_FR"));
  KVRFormatters::shared().resetLocale(QStringLiteral("fr_FR"));
  EXPECT_EQ(KVRMonthCaption({2011, 4}), "avr. 2011");
  EXPECT_EQ(KVRFinancialAmountText(1234.5, QStringLiteral("€")), QStringLiteral("1\u202F234,50 €"));
  // Another calendar in the locale: the months stay Gregorian.
  KVRResetMonthCaptionLocale(QStringLiteral("ja_JP@calendar=japanese"));
  EXPECT_TRUE(KVRMonthCaption({2011, 4}).contains(QStringLiteral("2011"))) << KVRMonthCaption({2011, 4}).toStdString();
  // The month itself, whatever the time zone: no instant is involved.
  KVRResetMonthCaptionLocale(QStringLiteral("en_US"));
  KVRCalendar::shared().resetTimeZone(QStringLiteral("Pacific/Kiritimati"));
  EXPECT_EQ(KVRMonthCaption({2011, 12}), "Dec 2011");
  KVRCalendar::shared().resetTimeZone();
  KVRResetMonthCaptionLocale();
  KVRFormatters::shared().resetLocale();
}
