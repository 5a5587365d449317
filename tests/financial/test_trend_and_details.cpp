// The trend of the selected cell, the details panel's presentations and the
// answers of the bar chart and regions tables, on statements made in memory.
#include <gtest/gtest.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRFormatters.h"
#include "financial/KVRFinancialDetails.h"
#include "financial/KVRFinancialFigures.h"
#include "financial/KVRFinancialRegionsChart.h"
#include "financial/KVRFinancialTrend.h"
#include "financial/KVRFinancialTexts.h"
#include "statement_maker.h"

namespace {

constexpr KVRMonthKey kJan{2011, 1}, kFeb{2011, 2}, kMar{2011, 3}, kApr{2011, 4};
const QString kEuro = QStringLiteral("€");
using State = KVRFinancialTrend::State;

class TrendAndDetailsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    KVRResetMonthCaptionLocale(QStringLiteral("en_US"));
    KVRVortelyCurrencyConverter::sharedInstance().removeAllRates();
  }
  void TearDown() override {
    KVRFormatters::shared().resetLocale();
    KVRResetMonthCaptionLocale();
    KVRVortelyCurrencyConverter::sharedInstance().removeAllRates();
  }

  const KVRFinancialGrid& grid(int selectedMonth, int mode) {
    mode_ = mode;
    selectedMonth_ = selectedMonth;
    fixed_ = KVRFixedIncomes(maker.statement());
    grid_ = maker.grid(selectedMonth, mode);
    return grid_;
  }
  KVRFinancialTrend trendOf(int row, int column) {
    KVRFinancialTrendInput in = input();
    in.value = grid_.value(KVRFinancialGrid::indexOf(row, column + 1));
    return KVRComputeFinancialTrend(in);
  }
  KVRFinancialTrend trendOfTotal(int column) {
    KVRFinancialTrendInput in = input();
    in.value = grid_.total(column);
    in.allSelected = true;
    in.selectedTotal = column;
    return KVRComputeFinancialTrend(in);
  }
  KVRFinancialTrendInput input() {
    KVRFinancialTrendInput in;
    in.statement = &maker.statement();
    in.fixedIncomes = &fixed_;
    in.selectedMonth = selectedMonth_;
    in.currencyMode = mode_;
    in.preferredSymbol = kEuro;
    return in;
  }

  StatementMaker maker;
  KVRFinancialGrid grid_;
  std::vector<float> fixed_;
  int mode_ = 0, selectedMonth_ = 0;
};

KVRFinancialDetailsInput details(const KVRFinancialValue* v) {
  KVRFinancialDetailsInput in;
  in.value = v;
  in.accountSelected = true;
  in.preferredCurrency = QStringLiteral("EUR");
  in.financialAccounts = {{"Business EUR", "", "", "", "", "EUR", true}, {"USD Account", "", "", "", "", "USD", false}};
  in.now = KVRDate(1.3e12);
  return in;
}

}  // namespace

TEST_F(TrendAndDetailsTest, TrendOfARegionCell) {
  maker.figures(kJan, KVRRegionRowEU, 100.0f, 100.0f, 10);
  maker.figures(kFeb, KVRRegionRowEU, 150.0f, 150.0f, 10);
  maker.figures(kMar, KVRRegionRowEU, 0.0f, 0.0f, 4);

  grid(0, KVRCurrencyModePreferred);
  const KVRFinancialTrend rise = trendOf(KVRRegionRowEU, 1);
  EXPECT_EQ(rise.state, State::rise);
  EXPECT_EQ(rise.arrowImage, "up_arrow");
  EXPECT_EQ(rise.badgeImage, "evolution_green");
  EXPECT_EQ(rise.title, "+ 50.00 €");
  EXPECT_EQ(rise.alternateTitle, "+ 50 %");
  EXPECT_EQ(rise.currentDayValueLeft, "100.00 €");
  EXPECT_EQ(rise.currentDayValueRight, "150.00 €");
  EXPECT_EQ(rise.lastDayValueLeft, "");
  EXPECT_EQ(rise.lastDayValueRight, "");

  const KVRFinancialTrend fall = trendOf(KVRRegionRowEU, 2);
  EXPECT_EQ(fall.state, State::fall);
  EXPECT_EQ(fall.badgeImage, "evolution_red");
  EXPECT_EQ(fall.title, "- 150.00 €");
  EXPECT_EQ(fall.alternateTitle, "- 100 %");
  EXPECT_EQ(fall.lastDayValueLeft, "150.00 €");
  EXPECT_EQ(fall.lastDayValueRight, "0.00 €");

  // The first month record, a title cell, an empty cell: no trend.
  for (const KVRFinancialTrend& none :
       {trendOf(KVRRegionRowEU, 0), trendOf(KVRRegionRowUS, -1), KVRComputeFinancialTrend(input())}) {
    EXPECT_EQ(none.state, State::none);
    EXPECT_EQ(none.arrowImage, "");
    EXPECT_EQ(none.badgeImage, "evolution_blue");
    EXPECT_EQ(none.title, "--");
    EXPECT_EQ(none.alternateTitle, "--");
    EXPECT_EQ(none.currentDayValueRight + none.lastDayValueLeft, "");
  }

  // Units: steady, blue, the decimal formatter without symbol.
  grid(0, KVRCurrencyModeUnits);
  const KVRFinancialTrend steady = trendOf(KVRRegionRowEU, 1);
  EXPECT_EQ(steady.state, State::steady);
  EXPECT_EQ(steady.arrowImage, "noev_arrow");
  EXPECT_EQ(steady.title, "--");
  EXPECT_EQ(steady.lastDayValueLeft, "10");
  EXPECT_EQ(steady.currentDayValueRight, "10");
}

TEST_F(TrendAndDetailsTest, TrendUsesTheCellsRatiosAndThePayments) {
  // Japan paid 90 % of February's estimate: January is scaled too; February's
  // payment is not reconciled yet, so it reads its estimate, not 0.
  maker.figures(kJan, KVRRegionRowJP, 50.0f, 6000.0f);
  maker.figures(kFeb, KVRRegionRowJP, 100.0f, 12000.0f);
  maker.payment(kFeb, KVRRegionRowJP)->jpRatio = 0.9f;
  // March: the Canadian payment against a February of 0 (February has
  // payments, none for Canada); a reconciled payment in the US.
  maker.figures(kFeb, KVRRegionRowCA, 0.0f, 0.0f);
  maker.figures(kMar, KVRRegionRowCA, 10.0f, 13.0f);
  maker.payment(kMar, KVRRegionRowCA)->localIncome = 13.0f;
  maker.figures(kFeb, KVRRegionRowUS, 80.0f, 100.0f);
  maker.figures(kMar, KVRRegionRowUS, 90.0f, 110.0f);
  auto us = maker.payment(kMar, KVRRegionRowUS);
  us->paymentRatio = 1.1f;
  us->pointedIncome = 99.0f;
  us->localIncome = 110.0f;

  grid(0, KVRCurrencyModePreferred);
  const KVRFinancialTrend jp = trendOf(KVRRegionRowJP, 1);
  EXPECT_EQ(jp.state, State::rise);
  EXPECT_EQ(jp.currentDayValueLeft, "45.00 €");
  EXPECT_EQ(jp.currentDayValueRight, "90.00 €");
  const KVRFinancialTrend us0 = trendOf(KVRRegionRowUS, 2);
  EXPECT_EQ(us0.state, State::rise);
  EXPECT_EQ(us0.currentDayValueLeft, "0.00 €");
  EXPECT_EQ(us0.currentDayValueRight, "99.00 €");

  grid(0, KVRCurrencyModeLocal);
  EXPECT_EQ(trendOf(KVRRegionRowJP, 1).lastDayValueLeft, "5,400.00 ¥");
  const KVRFinancialTrend caLocal = trendOf(KVRRegionRowCA, 2);
  EXPECT_EQ(caLocal.title, "+ 13.00 CA$");
  EXPECT_EQ(caLocal.alternateTitle, "--");
}

TEST_F(TrendAndDetailsTest, TrendOfAllRegions) {
  maker.figures(kJan, KVRRegionRowEU, 10.004f, 10.0f, 5);
  maker.figures(kFeb, KVRRegionRowEU, 20.0f, 20.0f, 3);
  maker.figures(kFeb, KVRRegionRowUS, 5.0f, 6.0f, 4);

  grid(0, KVRCurrencyModeLocal);
  const KVRFinancialTrend money = trendOfTotal(1);
  EXPECT_EQ(money.title, "+ 15.00 €");  // the fixed incomes, in the preferred currency
  EXPECT_FLOAT_EQ(money.previous, 10.0f);
  EXPECT_EQ(trendOfTotal(0).state, State::none);
  EXPECT_EQ(trendOfTotal(2).state, State::none);  // beyond the records

  grid(0, KVRCurrencyModeUnits);
  const KVRFinancialTrend units = trendOfTotal(1);
  EXPECT_EQ(units.title, "+ 2");
  EXPECT_EQ(units.currentDayValueRight, "7");
}

TEST_F(TrendAndDetailsTest, DetailsOfEachPresentation) {
  KVRVortelyCurrencyConverter::sharedInstance().setRate("USD", "EUR", 0.75);
  maker.figures(kJan, KVRRegionRowUS, 40.0f, 52.0f);
  maker.payment(kJan, KVRRegionRowUS, false, kApr);
  maker.figures(kFeb, KVRRegionRowUS, 50.0f, 65.0f);
  maker.figures(kMar, KVRRegionRowUS, 60.0f, 80.0f);
  maker.payment(kMar, KVRRegionRowUS, false, kApr);
  maker.figures(kApr, KVRRegionRowUS, 75.0f, 100.0f);
  auto paid = maker.payment(kApr, KVRRegionRowUS);
  paid->localIncome = 200.0f;
  paid->localCurrency = "USD RoW";
  paid->localIncomeStr = "200.00 $";
  paid->incomeStr = "150.00 €";
  paid->priorMonths = {kMar, kJan};
  maker.figures(kApr, KVRRegionRowEU, 10.0f, 10.0f);

  grid(1, KVRCurrencyModePreferred);  // February to April
  const KVRFinancialValue* apr = grid_.value(KVRFinancialGrid::indexOf(KVRRegionRowUS, 3));
  const KVRFinancialValue* eu = grid_.value(KVRFinancialGrid::indexOf(KVRRegionRowEU, 3));
  const KVRFinancialValue* mar = grid_.value(KVRFinancialGrid::indexOf(KVRRegionRowUS, 2));
  const KVRFinancialValue* waiting = grid_.value(KVRFinancialGrid::indexOf(KVRRegionRowCA, 3));

  // Payment advice received, not reconciled: the amount in the first account's
  // currency ("USD RoW" converts as dollars), the summary, the amount field focused.
  KVRFinancialDetailsState s = KVRPresentFinancialDetails(details(apr));
  EXPECT_EQ(s.title, "Apr 2011-USA");
  EXPECT_EQ(s.status, "Status: payment advise received, waiting for reconciliation");
  EXPECT_EQ(s.income, "75.00 €");
  EXPECT_EQ(s.incomeLocal, "100.00 $");
  EXPECT_FALSE(s.reconcileButton.hidden);
  EXPECT_TRUE(s.unreconcileButton.hidden);
  EXPECT_EQ(s.reconcileTitle.value_or(""), "Reconcile");
  EXPECT_EQ(s.reconcileAction, KVRDetailsAction::reconcile);
  EXPECT_EQ(s.reconcileButton.enabled, true);
  ASSERT_TRUE(s.accountItems);
  EXPECT_EQ(s.accountItems->size(), 2u);
  EXPECT_EQ(s.accountSelection, 0);
  EXPECT_EQ(s.amountText.value_or(""), "150.00 €");
  EXPECT_EQ(s.label, "Total payment amount: 150.00 € (200.00 $)\nFor months: Jan 2011, Mar 2011, Apr 2011");
  EXPECT_TRUE(s.focusAmountField);
  EXPECT_EQ(s.pickerDate, KVRDate(1.3e12));

  // The user picks the dollar account (the pop-up is not refilled): the amount
  // follows its currency, the selection stays.
  KVRFinancialDetailsInput again = details(apr);
  again.updateAccountsPopup = false;
  again.currentItems = *s.accountItems;
  again.currentSelection = 1;
  const KVRFinancialDetailsState usd = KVRPresentFinancialDetails(again);
  EXPECT_EQ(usd.amountText.value_or(""), "200.00 $");
  EXPECT_FALSE(usd.accountItems);
  EXPECT_FALSE(usd.reconcileButton.enabled.has_value());

  // The financial report without payment: "Create Payment", 25 points wider,
  // once; then back to "Reconcile".
  KVRFinancialDetailsInput create = details(eu);
  const KVRFinancialDetailsState c1 = KVRPresentFinancialDetails(create);
  EXPECT_EQ(c1.reconcileTitle.value_or(""), "Create Payment");
  EXPECT_EQ(c1.reconcileAction, KVRDetailsAction::forcePayment);
  EXPECT_EQ(c1.status, "Status: waiting for payment advise");
  EXPECT_EQ(c1.reconcileWidthChange, 25);
  EXPECT_TRUE(c1.bigger);
  EXPECT_EQ(c1.reconcileButton.enabled, true);
  EXPECT_TRUE(c1.amountField.hidden);
  create.bigger = c1.bigger;
  EXPECT_EQ(KVRPresentFinancialDetails(create).reconcileWidthChange, 0);
  KVRFinancialDetailsInput back = details(apr);
  back.bigger = true;
  const KVRFinancialDetailsState b = KVRPresentFinancialDetails(back);
  EXPECT_EQ(b.reconcileWidthChange, -25);
  EXPECT_FALSE(b.bigger);
  // Blocked after a reconciliation, or no store account selected: disabled.
  create.blockReconciliation = true;
  EXPECT_EQ(KVRPresentFinancialDetails(create).reconcileButton.enabled, false);
  create.blockReconciliation = false;
  create.accountSelected = false;
  EXPECT_EQ(KVRPresentFinancialDetails(create).reconcileButton.enabled, false);
  // On the all-regions row the status line and "Create Payment" are hidden.
  KVRFinancialDetailsInput total = details(grid_.total(2));
  total.allSelected = true;
  const KVRFinancialDetailsState t = KVRPresentFinancialDetails(total);
  EXPECT_TRUE(t.statusHidden);
  EXPECT_TRUE(t.reconcileButton.hidden);
  EXPECT_EQ(t.income, "85.00 €");

  // Paid with a later month.
  const KVRFinancialDetailsState m = KVRPresentFinancialDetails(details(mar));
  EXPECT_EQ(m.status, "Status: payment advise received, waiting for reconciliation (reported on Apr 2011)");
  EXPECT_EQ(m.label, "Paid on Apr 2011");
  EXPECT_TRUE(m.reconcileButton.hidden);

  // Waiting for the financial report.
  const KVRFinancialDetailsState w = KVRPresentFinancialDetails(details(waiting));
  EXPECT_EQ(w.status, "Status: waiting for financial report");
  EXPECT_TRUE(w.reconcileButton.hidden);

  // An empty cell: all blank and hidden, the width kept.
  KVRFinancialDetailsInput empty = details(grid_.value(0));
  empty.bigger = true;
  const KVRFinancialDetailsState e = KVRPresentFinancialDetails(empty);
  EXPECT_EQ(e.title + e.status + e.label + e.income, "");
  EXPECT_TRUE(e.reconcileButton.hidden && e.amountField.hidden && e.accountsPopup.hidden && e.datePicker.hidden);
  EXPECT_TRUE(e.bigger);
  EXPECT_EQ(KVRPresentFinancialDetails(details(nullptr)).statusColor, KVRFinancialGreyColor());
}

TEST_F(TrendAndDetailsTest, DetailsOfAReconciledPaymentAndWithoutAccount) {
  KVRVortelyCurrencyConverter::sharedInstance().setRate("USD", "EUR", 0.75);
  maker.figures(kApr, KVRRegionRowUS, 75.0f, 100.0f);
  auto paid = maker.payment(kApr, KVRRegionRowUS);
  paid->localIncome = 100.0f;
  paid->localCurrency = "USD";
  paid->paymentRatio = 1.0f;
  paid->pointedIncome = 99.0f;
  paid->pointedIncomeStr = "99.00 $";
  paid->pointedAccount = "USD Account";
  paid->pointedDate = KVRDate(1.2e12);
  maker.figures(kApr, KVRRegionRowGB, 75.0f, 60.0f);
  auto pounds = maker.payment(kApr, KVRRegionRowGB);
  pounds->localIncome = 60.0f;
  pounds->localCurrency = "PLN";  // a currency without symbol

  grid(0, KVRCurrencyModePreferred);
  const KVRFinancialValue* us = grid_.value(KVRFinancialGrid::indexOf(KVRRegionRowUS, 1));
  const KVRFinancialDetailsState s = KVRPresentFinancialDetails(details(us));
  EXPECT_EQ(s.status, "Status: payment received");
  EXPECT_FALSE(s.unreconcileButton.hidden);
  EXPECT_EQ(s.accountSelection, 1);
  EXPECT_EQ(s.pickerDate, KVRDate(1.2e12));
  // The record holds the money received in the preferred currency (the
  // statement converted it): 99 euros, shown in the account's dollars.
  EXPECT_EQ(s.amountText.value_or(""), "132.00 $");

  // No financial account: a single "--" item, the buttons disabled, the
  // message; the amount in the preferred currency.
  KVRFinancialDetailsInput none = details(grid_.value(KVRFinancialGrid::indexOf(KVRRegionRowGB, 1)));
  none.financialAccounts.clear();
  const KVRFinancialDetailsState n = KVRPresentFinancialDetails(none);
  ASSERT_TRUE(n.accountItems);
  ASSERT_EQ(n.accountItems->size(), 1u);
  EXPECT_EQ(n.accountItems->front().title, "--");
  EXPECT_EQ(n.reconcileButton.enabled, false);
  EXPECT_EQ(n.unreconcileButton.enabled, false);
  EXPECT_TRUE(n.label.startsWith("To enable reconciliation"));
  EXPECT_EQ(n.amountText.value_or(""), "60.00 €");  // no rate for PLN: unconverted
  KVRFinancialDetailsInput zloty = none;
  zloty.preferredCurrency = "PLN";
  EXPECT_EQ(KVRPresentFinancialDetails(zloty).amountText.value_or(""), "60.00 PLN");
}

TEST_F(TrendAndDetailsTest, BarChartAndRegionsTables) {
  KVRRegionRowTable rows = KVRMakeRegionRowTable();
  rows[KVRRegionRowIAD].income = 40.0f;
  rows[KVRRegionRowIAD].incomeLocal = 50.0f;
  const KVRFinancialRegionsChart onlyAds(&rows, KVRCurrencyModeLocal, true, kEuro);
  EXPECT_FLOAT_EQ(onlyAds.percent(KVRRegionRowIAD), 1.0f);
  EXPECT_FLOAT_EQ(onlyAds.value(-1), 50.0f);
  EXPECT_EQ(KVRFinancialRegionsChart(&rows, KVRCurrencyModeLocal, false, kEuro).value(KVRRegionRowIAD), 0.0f);
  EXPECT_EQ(KVRFinancialRegionsChart(&rows, KVRCurrencyModeLocal, false, kEuro).percent(KVRRegionRowIAD), 0.0f);

  rows[0].income = 200.0f;
  rows[KVRRegionRowJP].income = 160.0f;
  rows[KVRRegionRowJP].incomeLocal = 20000.0f;
  const KVRFinancialRegionsChart local(&rows, KVRCurrencyModeLocal, true, kEuro);
  EXPECT_FLOAT_EQ(local.value(KVRRegionRowJP), 20000.0f);
  EXPECT_FLOAT_EQ(local.percent(KVRRegionRowJP), 0.8f);
  EXPECT_EQ(local.valueLabelFormat(KVRRegionRowJP), "%@ ¥");
  EXPECT_EQ(local.valueLabelFormat(0), "%@ €");
  EXPECT_EQ(local.valueLabelFormat(KVRRegionRowIAD), "%@ $");
  EXPECT_EQ(local.legend(KVRRegionRowJP), "JP");
  EXPECT_FLOAT_EQ(local.value(-1), 200.0f);

  EXPECT_EQ(local.tableLabel(0), "Australia");
  EXPECT_EQ(local.tableLabel(18), "All Regions");
  EXPECT_EQ(local.tableIncome(0), "--");
  EXPECT_EQ(local.tableIncome(18), "200.00 €");
}
