// The rates that reconciled payments show, and the figures that use them:
// the overview's income of a paid month adds up to the money received, as
// the statement's does.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "core/KVRCalendar.h"
#include "core/KVRVortelyManagedProduct.h"
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

  void sale(KVRDate date, const char* country, int count, int income, const char* currency,
            KVRVortelyManagedProduct* product = nullptr, KVRReport* report = nullptr) {
    KVRReportEntry* e = dm().insertReportEntry(report ? report : daily, product ? product : app);
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
  KVRReconciliationOutcome reconcile(KVRMonthKey m, const QString& code, const QString& amount,
                                     KVRStoreAccount* account = nullptr) {
    const KVRFinancialStatement st = build(accountSelection({account ? account : soft}));
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

// A reconciliation rebuilds the rates of its account and the histories they
// change, and nothing else: what it leaves is what a full rebuild gives.
TEST_F(EffectiveRatesTest, AReconciliationRebuildsWhatAFullRebuildWouldChange) {
  // Pelliro Soft: one product sold in January, one only in March; another
  // account whose payment was reconciled before.
  KVRVortelyManagedProduct* marchOnly = product(soft, 1002);
  sale(day(2011, 1, 10), "FR", 10, 1000, "EUR");
  sale(day(2011, 2, 10), "FR", 5, 1000, "EUR");
  sale(day(2011, 1, 11), "US", 3, 1000, "USD");  // a series the rebuild keeps as it was
  sale(day(2011, 3, 10), "DE", 7, 1000, "EUR", marchOnly);
  month("S_0111_EU.txt", 2011, 1, 10, 1000, "EUR");
  payment(soft, "EU", day(2011, 1, 1), 10000, "EUR");
  KVRStoreAccount* other = account(QStringLiteral("Ferro Apps"));
  KVRVortelyManagedProduct* otherApp = product(other, 2001);
  KVRReport* otherDaily = dm().insertReport();
  otherDaily->type = KVRReportTypeDaily;
  otherDaily->account = other;
  otherDaily->filename = "F_D_2011.txt";
  otherDaily->beginDate = day(2011, 1, 1);
  sale(day(2011, 1, 12), "FR", 4, 1000, "EUR", otherApp, otherDaily);
  KVRReport* otherMonth = financial(other, "F_0111_EU.txt", day(2011, 1, 1));
  otherMonth->endDate = KVRDate(day(2011, 2, 1).ms - 43200000.0);
  line(otherMonth, otherApp, 4, 1000, "EUR");
  payment(other, "EU", day(2011, 1, 1), 4000, "EUR");
  ASSERT_EQ(reconcile({2011, 1}, "EU", "48", other).kind, KVRReconciliationOutcome::done);
  const std::vector<KVRVortelyManagedProduct*> all = dm().products();
  KVRInstallEffectiveRates(dm());
  KVRVortelyManagedProduct::buildHistories(all, true);

  auto sameRates = [](const KVREffectiveRatesRef& a, const KVREffectiveRatesRef& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (size_t i = 0; i < a->size(); ++i) {
      const KVREffectiveRate &x = (*a)[i], &y = (*b)[i];
      if (x.region != y.region || x.currency != y.currency || x.firstDay != y.firstDay ||
          x.lastDay != y.lastDay || std::memcmp(&x.rate, &y.rate, sizeof x.rate) != 0)
        return false;
    }
    return true;
  };
  auto sameValues = [](const KVRProductValuesRef& a, const KVRProductValuesRef& b) {
    if (!a || !b || a->series.size() != b->series.size()) return false;
    for (size_t s = 0; s < a->series.size(); ++s) {
      const KVRValueSeries &x = a->series[s], &y = b->series[s];
      if (x.valueKey != y.valueKey || x.days.size() != y.days.size() || x.records.size() != y.records.size())
        return false;
      for (size_t i = 0; i < x.days.size(); ++i)
        if (x.days[i] != y.days[i] || !(x.records[i] == y.records[i])) return false;
    }
    return true;
  };
  // The partial rebuild installed, then compared with a full one.
  auto expectAsFullRebuild = [&](const std::vector<KVRVortelyManagedProduct*>& rebuilt) {
    KVRRatesRebuild partial = KVRRebuildRatesOfAccounts(dm(), {soft});
    EXPECT_EQ(partial.products, rebuilt);
    KVRInstallRatesRebuild(std::move(partial));
    std::map<const KVRStoreAccount*, KVREffectiveRatesRef> rates;
    std::map<const KVRVortelyManagedProduct*, std::pair<KVRProductValuesRef, float>> values;
    for (KVRStoreAccount* a : dm().accounts()) rates[a] = converter().effectiveRatesForAccount(a);
    for (KVRVortelyManagedProduct* p : all) values[p] = {p->valuesByCountryAndDate(), p->totalIncomes()};

    KVRInstallEffectiveRates(dm());
    KVRVortelyManagedProduct::buildHistories(all, true);
    for (KVRStoreAccount* a : dm().accounts())
      EXPECT_TRUE(sameRates(rates[a], converter().effectiveRatesForAccount(a))) << a->developer.toStdString();
    for (KVRVortelyManagedProduct* p : all) {
      EXPECT_TRUE(sameValues(values[p].first, p->valuesByCountryAndDate())) << p->idStore;
      EXPECT_EQ(values[p].second, p->totalIncomes()) << p->idStore;
    }
  };

  // Reconciled: January's euros of the January product change, at 0.75.
  ASSERT_EQ(reconcile({2011, 1}, "EU", "75").kind, KVRReconciliationOutcome::done);
  expectAsFullRebuild({app});
  EXPECT_FLOAT_EQ(app->valuesByCountryAndDate()->find("EU-FR", KVRCalendar::shared().civilDay(day(2011, 1, 10)))->currency,
                  75.0f);
  EXPECT_NE(converter().effectiveRatesForAccount(other), nullptr);

  // Taken back: the cached rate again, the other account's rate kept.
  const KVRFinancialStatement st = build(accountSelection({soft}));
  KVRReconciliationCell cell;
  cell.month = KVRMonthKey{2011, 1};
  cell.regionCode = "EU";
  cell.payment = st.monthRecord({2011, 1})->payments.sharedForCode(u"EU");
  ASSERT_EQ(KVRReconciliation().unreconcile(st, cell).kind, KVRReconciliationOutcome::done);
  expectAsFullRebuild({app});
  EXPECT_EQ(converter().effectiveRatesForAccount(soft), nullptr);
  EXPECT_FLOAT_EQ(app->valuesByCountryAndDate()->find("EU-FR", KVRCalendar::shared().civilDay(day(2011, 1, 10)))->currency,
                  130.0f);

  // Nothing changed since: nothing rebuilt.
  expectAsFullRebuild({});
}

}  // namespace
