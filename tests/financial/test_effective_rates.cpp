// The rates that reconciled payments show, and the figures that use them:
// the overview's income of a paid month adds up to the money received, as
// the statement's does.
#include <gtest/gtest.h>

#include "core/KVRCalendar.h"
#include "financial/KVREffectiveRates.h"
#include "financial/KVRReconciliation.h"
#include "statement_fixture.h"

namespace {

class EffectiveRatesTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    KVRUserDefaults::standard().setString("PreferedCurrency", "USD");
    converter().setRate("EUR", "USD", 1.3);
    converter().setRate("JPY", "USD", 0.012);
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({{"Bank USD", "Me", "Hudson", "1", "Checking", "USD", false}});
    daily = dm().insertReport();
    daily->type = KVRReportTypeDaily;
    daily->account = soft;
    daily->filename = "S_D_2011.txt";
    daily->beginDate = day(2011, 1, 1);
  }
  void TearDown() override {
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
    StatementTest::TearDown();
  }

  void sale(KVRDate date, const char* country, int count, int income, const char* currency) {
    KVRReportEntry* e = dm().insertReportEntry(daily, app);
    e->type = KVREntryTypeSale;
    e->count = count;
    e->income = income;
    e->currency = currency;
    e->country = country;
    e->beginDate = e->endDate = date;
  }
  // The month's financial report of a region, its begin to end days.
  KVRReport* month(const QString& name, int year, int m, int count, int income, const char* currency) {
    KVRReport* r = financial(soft, name, day(year, m, 1));
    r->endDate = KVRDate(day(year, m + 1, 1).ms - 43200000.0);  // noon of the month's last day
    line(r, app, count, income, currency);
    return r;
  }
  KVRReconciliationOutcome reconcile(KVRMonthKey m, const QString& code, const QString& amount) {
    const KVRFinancialStatement st = build(accountSelection({soft}));
    KVRReconciliationCell cell;
    cell.month = m;
    cell.regionCode = code;
    const KVRFinancialMonth* mr = st.monthRecord(m);
    cell.incomeLocalValue = mr->incomeLocal[KVRIndexForRegionCode(code)];
    cell.payment = mr->payments.sharedForCode(code);
    return KVRReconciliation().reconcile(st, cell, amount, day(2011, 3, 2), "Bank USD", icu::Locale("en_US"));
  }
  // The overview's income in the preferred currency of a value key on a day.
  float currencyOn(const char* key, KVRDate date) {
    app->resetHistory();
    app->buildHistoryByDate();
    const KVRTotalsStruct* r = app->valuesByCountryAndDate()->find(key, KVRCalendar::shared().civilDay(date));
    return r ? r->currency : -1.0f;
  }
  // The statement's income of a cell in the preferred currency, after its
  // payment's ratios.
  float statementIncome(KVRMonthKey m, const QString& code) {
    const KVRFinancialStatement st = build(accountSelection({soft}));
    const KVRFinancialMonth* mr = st.monthRecord(m);
    const KVRPaymentRecord* p = mr->payments.forCode(code);
    return mr->income[KVRIndexForRegionCode(code)] * (p ? p->paymentRatioOrOne() * p->jpRatioOrOne() : 1.0f);
  }

  KVRReport* daily = nullptr;
};

TEST_F(EffectiveRatesTest, APaidMonthsSalesBringWhatReachedTheBank) {
  sale(day(2011, 1, 10), "FR", 10, 1000, "EUR");
  sale(day(2011, 1, 20), "FR", 10, 1000, "EUR");
  sale(day(2011, 2, 10), "FR", 5, 1000, "EUR");
  sale(day(2011, 1, 10), "US", 3, 1000, "USD");
  month("S_0111_EU.txt", 2011, 1, 20, 1000, "EUR");
  payment(soft, "EU", day(2011, 1, 1), 20000, "EUR");
  ASSERT_EQ(reconcile({2011, 1}, "EU", "150").kind, KVRReconciliationOutcome::done);

  EXPECT_EQ(KVRInstallEffectiveRates(dm()), 1u);
  const KVREffectiveRatesRef rates = converter().effectiveRatesForAccount(soft);
  ASSERT_TRUE(rates && rates->size() == 1);
  EXPECT_EQ((*rates)[0].region, "EU");
  EXPECT_EQ((*rates)[0].currency, "EUR");
  EXPECT_EQ((*rates)[0].firstDay, KVRCivilDayFromYMD(2011, 1, 1));
  EXPECT_EQ((*rates)[0].lastDay, KVRCivilDayFromYMD(2011, 1, 31));
  EXPECT_DOUBLE_EQ((*rates)[0].rate, 0.75);  // 150 dollars for 200 euros

  // January's euros at 0.75, February's and the dollars as before.
  EXPECT_FLOAT_EQ(currencyOn("EU-FR", day(2011, 1, 10)), 75.0f);
  EXPECT_FLOAT_EQ(currencyOn("EU-FR", day(2011, 1, 20)), 75.0f);
  EXPECT_FLOAT_EQ(currencyOn("EU-FR", day(2011, 2, 10)), 65.0f);
  EXPECT_FLOAT_EQ(currencyOn("US-US", day(2011, 1, 10)), 30.0f);
  EXPECT_FLOAT_EQ(app->totalIncomes(), 75.0f + 75.0f + 65.0f + 30.0f);
  // The statement tells the same.
  EXPECT_FLOAT_EQ(statementIncome({2011, 1}, "EU"), 150.0f);

  // Taken back: the cached rate again.
  const KVRFinancialStatement st = build(accountSelection({soft}));
  KVRReconciliationCell cell;
  cell.month = KVRMonthKey{2011, 1};
  cell.regionCode = "EU";
  cell.payment = st.monthRecord({2011, 1})->payments.sharedForCode(u"EU");
  ASSERT_EQ(KVRReconciliation().unreconcile(st, cell).kind, KVRReconciliationOutcome::done);
  EXPECT_EQ(KVRInstallEffectiveRates(dm()), 0u);
  EXPECT_FLOAT_EQ(currencyOn("EU-FR", day(2011, 1, 10)), 130.0f);

  // A rate derived for another preferred currency is not used.
  ASSERT_EQ(reconcile({2011, 1}, "EU", "150").kind, KVRReconciliationOutcome::done);
  KVRInstallEffectiveRates(dm());
  KVRUserDefaults::standard().setString("PreferedCurrency", "EUR");
  EXPECT_EQ(converter().effectiveRatesForAccount(soft), nullptr);
}

// Japan pays less than its reports announce (withholding): the rate is the
// money received over the income booked, so the overview shows what the
// statement shows after its Japanese ratio.
TEST_F(EffectiveRatesTest, WithheldYenFoldIntoTheRate) {
  sale(day(2011, 1, 10), "JP", 1, 100000, "JPY");
  month("S_0111_JP.txt", 2011, 1, 1, 100000, "JPY");
  payment(soft, "JP", day(2011, 1, 1), 95000, "JPY");
  ASSERT_EQ(reconcile({2011, 1}, "JP", "9.5").kind, KVRReconciliationOutcome::done);
  KVRInstallEffectiveRates(dm());
  EXPECT_FLOAT_EQ(currencyOn("JP-JP", day(2011, 1, 10)), 9.5f);
  EXPECT_FLOAT_EQ(statementIncome({2011, 1}, "JP"), 9.5f);
}

}  // namespace
