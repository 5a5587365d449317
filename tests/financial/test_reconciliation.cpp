// Creating, recording and taking back payments on a hand-made store: what
// the reports hold afterwards, what the next statement shows, and that a
// refused or failed edit leaves nothing behind.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

#include "financial/KVRFinancialFigures.h"
#include "financial/KVRReconciliation.h"
#include "statement_fixture.h"

namespace {

class ReconciliationTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({
        {"Bank EUR", "Me", "Lac", "FR76", "Checking", "EUR", false},
        {"Bank USD", "Me", "Hudson", "0042", "Checking", "USD", false},
        {"Bank", "Me", "Plain", "7", "Checking", "", false},
    });
    // February and March estimates of 80.00 and 120.00 in Europe; March is
    // paid 200.00, which covers February too.
    feb = financial(soft, "S_0211_EU.txt", day(2011, 2, 1));
    line(feb, app, 1, 8000, "EUR");
    mar = financial(soft, "S_0311_EU.txt", day(2011, 3, 1));
    line(mar, app, 1, 12000, "EUR");
    marPayment = payment(soft, "EU", day(2011, 3, 1), 20000, "EUR");
    mar->pointedDate = day(2011, 1, 5);
    QString error;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  }
  void TearDown() override {
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
    StatementTest::TearDown();
  }

  static KVRReconciliationCell cellOf(const KVRFinancialStatement& st, KVRMonthKey m, const QString& code) {
    KVRReconciliationCell c;
    c.month = m;
    c.regionCode = code;
    if (const KVRFinancialMonth* mr = st.monthRecord(m)) {
      c.incomeLocalValue = mr->incomeLocal[KVRIndexForRegionCode(code)];
      c.payment = mr->payments.sharedForCode(code);
    }
    return c;
  }
  static bool locked(const QString& label) {
    for (const QVariant& v : KVRUserDefaults::standard().arrayForKey("FinancialAccounts"))
      if (v.toMap().value("Label").toString() == label) return v.toMap().value("CurrencyLocked").toBool();
    return false;
  }
  static std::vector<const KVRReportEntry*> linesOfType(const KVRReport* r, int type) {
    std::vector<const KVRReportEntry*> out;
    for (const KVRReportEntry* e : r->entries)
      if (e->type == type) out.push_back(e);
    return out;
  }
  KVRReconciliationOutcome reconcileMarch(const QString& amount, const QString& account,
                                          KVRReconciliation reconciliation = KVRReconciliation()) {
    const KVRFinancialStatement st = build(accountSelection({soft}));
    return reconciliation.reconcile(st, cellOf(st, kMarch, "EU"), amount, day(2011, 4, 2), account,
                                    icu::Locale("en_US"));
  }

  static constexpr KVRMonthKey kFebruary{2011, 2}, kMarch{2011, 3};
  KVRReport *feb = nullptr, *mar = nullptr, *marPayment = nullptr;
};

TEST_F(ReconciliationTest, ReceivedAmountIsSpreadOverThePaidMonthsAndSaved) {
  const KVRFinancialStatement before = build(accountSelection({soft}));
  const KVRPaymentRecord* record = before.dictForDate(kMarch, u"EU");
  ASSERT_TRUE(record && record->isPaymentForm());
  ASSERT_EQ(record->priorMonths, std::vector<KVRMonthKey>{kFebruary});

  const KVRReconciliationOutcome out = reconcileMarch("150", "Bank EUR");
  ASSERT_EQ(out.kind, KVRReconciliationOutcome::done) << out.message.toStdString();
  EXPECT_FALSE(dm().hasChanges());  // saved at once
  EXPECT_EQ(marPayment->pointedIncome, 150.0f);
  EXPECT_EQ(marPayment->status, KVRReportStatusPointed);
  EXPECT_EQ(marPayment->pointedDate, day(2011, 4, 2));
  EXPECT_EQ(marPayment->pointedAccount, "Bank EUR");
  // k = 150 / 200: the month 120 x 0.75, February 80 x 0.75.
  EXPECT_FLOAT_BITS(mar->pointedIncome, 90.0f);
  EXPECT_FLOAT_BITS(feb->pointedIncome, 60.0f);
  for (KVRReport* r : {mar, feb}) {
    EXPECT_EQ(r->status, KVRReportStatusPointed);
    EXPECT_EQ(r->pointedAccount, "Bank EUR");
  }
  EXPECT_EQ(mar->pointedDate, day(2011, 1, 5));  // left as it was
  // The payment now names the currency the money came in.
  const auto reconciliation = linesOfType(marPayment, KVREntryTypeReconciliation);
  ASSERT_EQ(reconciliation.size(), 1u);
  EXPECT_EQ(reconciliation[0]->currency, "EUR");
  EXPECT_TRUE(locked("Bank EUR"));
  EXPECT_FALSE(locked("Bank USD"));

  const KVRFinancialStatement after = build(accountSelection({soft}));
  const KVRPaymentRecord* reconciled = after.dictForDate(kMarch, u"EU");
  ASSERT_TRUE(reconciled && reconciled->isReconciled());
  EXPECT_FLOAT_BITS(*reconciled->paymentRatio, 150.0f / 200.0f);
  EXPECT_EQ(reconciled->pointedAccount, "Bank EUR");
  EXPECT_FLOAT_BITS(after.dictForDate(kFebruary, u"EU")->pointedIncome, 80.0f * 0.75f);
  // The year's European income is the money received; the local column
  // still the reports' estimates.
  const KVRRegionRowTable year = KVRYearTotals(after, 2011, *after.yearTable(2011));
  EXPECT_FLOAT_EQ(year[KVRRegionRowEU].income, 150.0f);
  EXPECT_FLOAT_EQ(year[KVRRegionRowEU].incomeLocal, 200.0f);
  EXPECT_FLOAT_EQ(year[KVRRegionRowAll].income, 150.0f);

  // Reconciling again overwrites, and never adds a second reconciliation line.
  ASSERT_EQ(reconcileMarch("160", "Bank EUR").kind, KVRReconciliationOutcome::done);
  EXPECT_EQ(marPayment->pointedIncome, 160.0f);
  EXPECT_EQ(linesOfType(marPayment, KVREntryTypeReconciliation).size(), 1u);
}

TEST_F(ReconciliationTest, MoneyReceivedInAnotherCurrencyIsConvertedFromIt) {
  converter().setRate("USD", "EUR", 0.8);
  ASSERT_EQ(reconcileMarch("150.00 $", "Bank USD").kind, KVRReconciliationOutcome::done);
  EXPECT_EQ(linesOfType(marPayment, KVREntryTypeReconciliation)[0]->currency, "USD");
  const KVRFinancialStatement st = build(accountSelection({soft}));
  const KVRPaymentRecord* r = st.dictForDate(kMarch, u"EU");
  ASSERT_TRUE(r && r->isReconciled());
  EXPECT_FLOAT_BITS(r->pointedIncome, 120.0f);  // 150 dollars at 0.8
  EXPECT_FLOAT_BITS(*r->paymentRatio, 120.0f / 200.0f);

  // An account without a currency receives in the preferred currency.
  ASSERT_EQ(reconcileMarch("150", "Bank").kind, KVRReconciliationOutcome::done);
  EXPECT_EQ(linesOfType(marPayment, KVREntryTypeReconciliation)[0]->currency, "EUR");
}

TEST_F(ReconciliationTest, TakingBackResetsEveryReportItTouched) {
  ASSERT_EQ(reconcileMarch("150", "Bank EUR").kind, KVRReconciliationOutcome::done);
  const KVRFinancialStatement st = build(accountSelection({soft}));
  const KVRReconciliationOutcome out = KVRReconciliation().unreconcile(st, cellOf(st, kMarch, "EU"));
  ASSERT_EQ(out.kind, KVRReconciliationOutcome::done);
  EXPECT_FALSE(dm().hasChanges());
  EXPECT_EQ(marPayment->pointedIncome, -1.0f);
  EXPECT_EQ(marPayment->status, KVRReportStatusNotConverted);
  EXPECT_FALSE(marPayment->pointedDate.isValid());
  EXPECT_EQ(marPayment->pointedAccount, "--");
  for (KVRReport* r : {mar, feb}) {
    EXPECT_EQ(r->pointedIncome, -1.0f);
    EXPECT_EQ(r->status, KVRReportStatusNotConverted);
    EXPECT_TRUE(r->pointedAccount.isEmpty());
  }
  EXPECT_EQ(mar->pointedDate, day(2011, 1, 5));
  EXPECT_TRUE(locked("Bank EUR"));  // the currency stays locked
  EXPECT_FALSE(build(accountSelection({soft})).dictForDate(kMarch, u"EU")->isReconciled());
}

TEST_F(ReconciliationTest, RefusedAmountsAndStaleCellsChangeNothing) {
  // The whole text is the amount, and an amount received is above zero
  // (the statement reads 0 or less as "not reconciled").
  for (const char* text : {"abc", "nan", "", "1e400", "12.5abc", "1.234,56", "-5", "0"}) {
    const KVRReconciliationOutcome out = reconcileMarch(text, "Bank EUR");
    EXPECT_EQ(out.kind, KVRReconciliationOutcome::refused) << text;
    EXPECT_FALSE(out.message.isEmpty());
  }
  EXPECT_EQ(reconcileMarch("-5", "Bank EUR").message, "The amount received must be above zero.");
  EXPECT_EQ(reconcileMarch("12.5abc", "Bank EUR").message, "“12.5abc” is not an amount. Type it as 1,234.56.");
  EXPECT_EQ(marPayment->pointedIncome, -1.0f);
  EXPECT_EQ(marPayment->status, KVRReportStatusNotConverted);
  EXPECT_TRUE(linesOfType(marPayment, KVREntryTypeReconciliation).empty());
  EXPECT_FALSE(locked("Bank EUR"));
  EXPECT_FALSE(dm().hasChanges());

  // February holds only the record of the March payment that covers it;
  // January holds nothing: no payment report to act on.
  const KVRFinancialStatement st = build(accountSelection({soft}));
  KVRReconciliation reconciliation;
  for (const KVRReconciliationCell& cell : {cellOf(st, kFebruary, "EU"), cellOf(st, {2011, 1}, "EU")}) {
    EXPECT_EQ(reconciliation.reconcile(st, cell, "10", day(2011, 4, 2), "Bank EUR").kind,
              KVRReconciliationOutcome::nothing);
    EXPECT_EQ(reconciliation.unreconcile(st, cell).kind, KVRReconciliationOutcome::nothing);
  }
  EXPECT_EQ(feb->status, KVRReportStatusNotConverted);
  EXPECT_FALSE(dm().hasChanges());
}

TEST_F(ReconciliationTest, APaymentOfNothingRecordsTheMoneyButLeavesTheEstimates) {
  KVRReport* apr = financial(soft, "S_0411_EU.txt", day(2011, 4, 1));
  line(apr, app, 1, 5000, "EUR");
  KVRReport* zero = payment(soft, "EU", day(2011, 4, 1), 0, "EUR");
  app->resetFinancialReports();
  const KVRFinancialStatement st = build(accountSelection({soft}));
  ASSERT_EQ(st.dictForDate({2011, 4}, u"EU")->localIncome, 0.0f);
  const KVRReconciliationOutcome out =
      KVRReconciliation().reconcile(st, cellOf(st, {2011, 4}, "EU"), "12", day(2011, 5, 2), "Bank EUR",
                                    icu::Locale("en_US"));
  ASSERT_EQ(out.kind, KVRReconciliationOutcome::done);
  EXPECT_EQ(zero->pointedIncome, 12.0f);
  EXPECT_EQ(zero->status, KVRReportStatusPointed);
  EXPECT_EQ(apr->pointedIncome, -1.0f);
  EXPECT_EQ(apr->status, KVRReportStatusNotConverted);
  for (KVRReport* r : dm().reports()) EXPECT_TRUE(std::isfinite(r->pointedIncome)) << r->filename.toStdString();
}

TEST_F(ReconciliationTest, AFailedSaveUndoesEverything) {
  KVRReconciliation failing(dm(), [](QString* error) {
    *error = QStringLiteral("The disk is full.");
    return false;
  });
  const size_t lines = marPayment->entries.size();
  const KVRReconciliationOutcome out = reconcileMarch("150", "Bank EUR", failing);
  EXPECT_EQ(out.kind, KVRReconciliationOutcome::failed);
  EXPECT_EQ(out.message, "The disk is full.");
  EXPECT_FALSE(out.title.isEmpty());
  EXPECT_EQ(marPayment->pointedIncome, -1.0f);
  EXPECT_EQ(marPayment->status, KVRReportStatusNotConverted);
  EXPECT_EQ(marPayment->entries.size(), lines);
  EXPECT_EQ(mar->pointedIncome, -1.0f);
  EXPECT_EQ(feb->status, KVRReportStatusNotConverted);
  EXPECT_FALSE(locked("Bank EUR"));
  EXPECT_FALSE(KVRFinancialAccounts::shared().withLabel("Bank EUR")->CurrencyLocked);

  // A created payment goes again, lines and all.
  KVRReport* jan = financial(soft, "S_0111_EU.txt", day(2011, 1, 1));
  line(jan, app, 1, 4000, "EUR");
  app->resetFinancialReports();
  const KVRFinancialStatement st = build(accountSelection({soft}));
  EXPECT_EQ(failing.forcePayment(st, cellOf(st, {2011, 1}, "EU")).kind, KVRReconciliationOutcome::failed);
  for (KVRReport* r : dm().reports()) EXPECT_FALSE(r->filename.endsWith("_PYMT.txt")) << r->filename.toStdString();
}

// The process is killed the moment the reconciliation returns: the file
// holds it, whole.
TEST_F(ReconciliationTest, AReconciliationSurvivesAKillRightAfterIt) {
  const QString paymentName = marPayment->filename, marchName = mar->filename;
  dm().closeStore();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    QString error;
    char answer = 'o';
    if (dm().openStore(storePath(), &error)) {
      KVRStoreAccount* account = dm().accounts().front();
      const KVRFinancialStatement st = KVRFinancialStatementBuilder().build(accountSelection({account}), kNow);
      const KVRReconciliationOutcome out = KVRReconciliation().reconcile(
          st, cellOf(st, kMarch, "EU"), "150", day(2011, 4, 2), "Bank EUR", icu::Locale("en_US"));
      answer = out.kind == KVRReconciliationOutcome::done ? 'y' : 'n';
    }
    if (write(ready[1], &answer, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  const ssize_t got = read(ready[0], &answer, 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(got, 1);
  ASSERT_EQ(answer, 'y');
  ASSERT_TRUE(WIFSIGNALED(status));

  SQLite::Database db(storePath().toStdString(), SQLite::OPEN_READWRITE);
  EXPECT_EQ(db.execAndGet("PRAGMA integrity_check").getString(), "ok");
  SQLite::Statement payment(db, "SELECT id, pointedIncome, status, pointedAccount FROM Report WHERE filename = ?");
  payment.bind(1, paymentName.toStdString());
  ASSERT_TRUE(payment.executeStep());
  EXPECT_EQ(payment.getColumn(1).getDouble(), 150.0);
  EXPECT_EQ(payment.getColumn(2).getInt(), KVRReportStatusPointed);
  EXPECT_EQ(payment.getColumn(3).getString(), "Bank EUR");
  SQLite::Statement line(db, "SELECT currency FROM ReportEntry WHERE report_id = ? AND type = 10");
  line.bind(1, payment.getColumn(0).getInt64());
  ASSERT_TRUE(line.executeStep());
  EXPECT_EQ(line.getColumn(0).getString(), "EUR");
  SQLite::Statement march(db, "SELECT pointedIncome, status FROM Report WHERE filename = ?");
  march.bind(1, marchName.toStdString());
  ASSERT_TRUE(march.executeStep());
  EXPECT_EQ(march.getColumn(0).getDouble(), 90.0);
  EXPECT_EQ(march.getColumn(1).getInt(), KVRReportStatusPointed);
}

// --- Creating a payment -----------------------------------------------------

TEST_F(ReconciliationTest, CreatedPaymentPaysTheRoundedLocalIncome) {
  KVRReport* ww = financial(soft, "S_0111_WW.txt", day(2011, 1, 1));
  line(ww, app, 1, 1000, "USD");
  const KVRFinancialStatement st = build(accountSelection({soft}));
  KVRReconciliationCell cell = cellOf(st, {2011, 1}, "WW");
  ASSERT_FALSE(cell.payment);
  cell.incomeLocalValue = 9.999f;  // shown as 10.00
  const KVRReconciliationOutcome out = KVRReconciliation().forcePayment(st, cell);
  ASSERT_EQ(out.kind, KVRReconciliationOutcome::done) << out.message.toStdString();
  EXPECT_FALSE(dm().hasChanges());
  const KVRReport* p = out.paymentReport;
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->filename, "Pelliro Soft-S_0111_WW_PYMT.txt");
  EXPECT_EQ(p->type, KVRReportTypePayment);
  EXPECT_EQ(p->beginDate, day(2011, 1, 1));
  EXPECT_EQ(p->account, soft);
  ASSERT_EQ(p->entries.size(), 5u);
  const int incomes[] = {0, 1000, 0, 0, 1000};
  for (int type = KVREntryTypePriorBalance; type <= KVREntryTypePayment; ++type) {
    const auto of = linesOfType(p, type);
    ASSERT_EQ(of.size(), 1u) << type;
    EXPECT_EQ(of[0]->count, 1);
    EXPECT_EQ(of[0]->income, incomes[type - KVREntryTypePriorBalance]) << type;
    EXPECT_EQ(of[0]->currency, "USD");
    EXPECT_EQ(of[0]->country, "WW");
    EXPECT_EQ(of[0]->product, nullptr);
  }
  // The next statement finds it like an imported one.
  const KVRFinancialStatement next = build(accountSelection({soft}));
  const KVRPaymentRecord* r = next.dictForDate({2011, 1}, u"WW");
  ASSERT_TRUE(r && r->isPaymentForm());
  EXPECT_FLOAT_BITS(r->localIncome, 10.0f);

  // A stale button on the old cell makes no second set.
  EXPECT_EQ(KVRReconciliation().forcePayment(st, cell).kind, KVRReconciliationOutcome::nothing);
  EXPECT_EQ(p->entries.size(), 5u);
}

TEST_F(ReconciliationTest, PaymentsAreCreatedOnlyWhereTheyCanBe) {
  KVRStoreAccount* android = account(QStringLiteral("Android Dev"));
  KVRVortelyManagedProduct* droid = product(android, 2001);
  KVRReport* earnings = financial(android, "Earnings_201101.txt", day(2011, 1, 1));
  line(earnings, droid, 1, 1000, "EUR");
  line(earnings, droid, 1, 2000, "USD");
  const KVRFinancialStatement st = build(accountSelection({android}));
  KVRReconciliation reconciliation;
  auto cell = [&](const QString& code) {
    KVRReconciliationCell c = cellOf(st, {2011, 1}, code);
    c.incomeLocalValue = 10.0f;
    return c;
  };
  // An Android report answers for every region: each gets its own payment.
  const KVRReconciliationOutcome eu = reconciliation.forcePayment(st, cell("EU"));
  const KVRReconciliationOutcome us = reconciliation.forcePayment(st, cell("US"));
  ASSERT_EQ(eu.kind, KVRReconciliationOutcome::done);
  ASSERT_EQ(us.kind, KVRReconciliationOutcome::done);
  EXPECT_EQ(eu.paymentReport->filename, "Android Dev-Earnings_201101_EU_PYMT.txt");
  EXPECT_EQ(us.paymentReport->filename, "Android Dev-Earnings_201101_US_PYMT.txt");
  EXPECT_EQ(linesOfType(eu.paymentReport, KVREntryTypePayment)[0]->currency, "EUR");

  const size_t reports = dm().reports().size();
  // iAd has no payment currency; February has no financial report; a cell
  // without a local income, or with a payment record already, makes nothing.
  EXPECT_EQ(reconciliation.forcePayment(st, cell("IAD")).kind, KVRReconciliationOutcome::nothing);
  KVRReconciliationCell february = cell("EU");
  february.month = KVRMonthKey{2011, 2};
  EXPECT_EQ(reconciliation.forcePayment(st, february).kind, KVRReconciliationOutcome::nothing);
  KVRReconciliationCell noIncome = cell("GB");
  noIncome.incomeLocalValue.reset();
  EXPECT_EQ(reconciliation.forcePayment(st, noIncome).kind, KVRReconciliationOutcome::nothing);
  const KVRFinancialStatement withPayments = build(accountSelection({soft}));
  EXPECT_EQ(reconciliation.forcePayment(withPayments, cellOf(withPayments, kMarch, "EU")).kind,
            KVRReconciliationOutcome::nothing);
  EXPECT_EQ(dm().reports().size(), reports);
}

}  // namespace
