// The per-report financials panel without a window: periods, region filter,
// lines and totals, the report states with the payment received, partners
// and costs, each edit saved at once.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include "core/KVRFormatters.h"
#include "financial/KVRFinancialsPanel.h"
#include "financial/KVRReportValueTransformers.h"
#include "core/fake_selection.h"
#include "qt_print.h"
#include "statement_fixture.h"

namespace {

class FinancialsPanelTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
    KVRReportDateTransformer::resetFormatter();
    selection.install();
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault(
        {{"Pelliro Business EUR", "Pelliro", "Banque", "FR76", "Checking", "EUR", false},
         {"Pelliro USD Account", "Pelliro", "Bank", "US01", "Checking", "USD", false}});
  }
  void TearDown() override {
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
    selection.uninstall();
    KVRFormatters::shared().resetLocale();
    StatementTest::TearDown();
  }

  void select(std::vector<KVRVortelyManagedProduct*> products) { selection.selectProducts(std::move(products)); }
  void save() {
    QString error;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  }
  KVRReportEntry* typed(KVRReportEntry* e, int type) {
    e->type = type;
    return e;
  }
  // What the file holds of a report, read on a connection of its own.
  struct Stored {
    int status;
    double pointedIncome;
    std::string pointedAccount;
    bool hasDate;
  };
  Stored stored(const KVRReport* r) {
    SQLite::Database db(storePath().toStdString(), SQLite::OPEN_READONLY);
    SQLite::Statement q(db, "SELECT status, pointedIncome, pointedAccount, pointedDate FROM Report WHERE id = ?");
    q.bind(1, static_cast<int64_t>(r->objectID));
    EXPECT_TRUE(q.executeStep());
    return {q.getColumn(0).getInt(), q.getColumn(1).getDouble(), q.getColumn(2).getString(),
            !q.getColumn(3).isNull()};
  }
  int rowsIn(const char* table) {
    SQLite::Database db(storePath().toStdString(), SQLite::OPEN_READONLY);
    return db.execAndGet(std::string("SELECT COUNT(*) FROM ") + table).getInt();
  }

  FakeSelection selection;
};

}  // namespace

TEST_F(FinancialsPanelTest, PeriodsRegionsLinesAndTotals) {
  KVRVortelyManagedProduct* other = product(soft, 1002);
  KVRVortelyManagedProduct* notSelected = product(soft, 1003);
  const KVRDate june = day(2011, 5, 29), july = day(2011, 7, 3);
  KVRReport* eu = financial(soft, "0611_EU.txt", june);
  eu->endDate = day(2011, 7, 2);
  KVRReport* gb = financial(soft, "0611_GB.txt", june);
  gb->endDate = day(2011, 7, 9);  // same begin date, another end: one period, the first report's end
  KVRReport* us = financial(soft, "0711_US.txt", july);
  us->endDate = day(2011, 7, 30);
  line(eu, app, 10, 70, "EUR");                                    // 7.00
  typed(line(eu, app, -2, 150, "EUR"), KVREntryTypeRefund);        // -3.00, no counter
  typed(line(eu, other, -1, 99, "EUR"), KVREntryTypeInAppPurchase);  // -0.99, sales unchanged
  typed(line(eu, other, 3, 0, "EUR"), KVREntryTypeInAppPurchase);    // free: +3 sales
  typed(line(eu, app, 4, 500, "EUR"), KVREntryTypeUpgrade);        // counted, no revenue
  typed(line(eu, app, 1, 100, "EUR"), KVREntryTypeWithholdingTax);   // listed only
  line(eu, notSelected, 100, 100, "EUR");                          // not selected
  line(gb, app, 2, 100, "GBP");
  line(us, app, 5, 200, "USD");
  for (KVRReport* r : {eu, gb, us})
    for (KVRReportEntry* e : r->entries) e->endDate = r->endDate;
  converter().setRate("GBP", "EUR", 1.25);
  converter().setRate("USD", "EUR", 0.5);
  save();
  select({app, other});

  KVRFinancialsPanel panel;
  panel.selectedProductDidChange();
  ASSERT_EQ(panel.periodsValues().size(), 3u);
  EXPECT_EQ(panel.periodsValues()[0].label, "All");
  EXPECT_EQ(panel.periodsValues()[0].value, KVRDate(0.0));
  EXPECT_EQ(panel.periodsValues()[1].label, "May 29, 2011-Jul 2, 2011");
  EXPECT_EQ(panel.periodsValues()[2].label, "Jul 3, 2011-Jul 30, 2011");
  EXPECT_EQ(panel.selectedPeriodIndex(), 0);
  EXPECT_EQ(panel.reportTitles(),
            (QStringList{"0611_EU.txt (May 29, 2011-Jul 2, 2011)", "0611_GB.txt (May 29, 2011-Jul 9, 2011)",
                         "0711_US.txt (Jul 3, 2011-Jul 30, 2011)"}));
  // All periods: 10 + 3 + 2 + 5 sales; 7 - 3 - 0.99 + 2.50 + 5.00 = 10.51.
  EXPECT_EQ(panel.totalSales(), 20);
  EXPECT_EQ(panel.totalUpgrades(), 4);
  EXPECT_EQ(panel.totalRevenuesText(), "10.51 €");
  EXPECT_EQ(panel.lineCount(), 8);

  panel.setSelectedPeriod(june);
  EXPECT_EQ(panel.selectedPeriodIndex(), 1);
  EXPECT_EQ(panel.filteredReports(), (std::vector<KVRReport*>{eu, gb}));
  panel.filterRegion(KVRFinancialsPanel::GB);
  EXPECT_EQ(panel.filteredReports(), std::vector<KVRReport*>{gb});
  EXPECT_EQ(panel.totalRevenuesText(), "2.50 €");
  panel.filterRegion(KVRFinancialsPanel::EU);
  EXPECT_EQ(panel.totalSales(), 13);
  EXPECT_EQ(panel.totalUpgrades(), 4);
  EXPECT_EQ(panel.totalRevenuesText(), "3.01 €");
  ASSERT_EQ(panel.lineCount(), 6);
  const KVRFinancialsLineRow refund = panel.lineRow(1);
  EXPECT_EQ(refund.date, "May 29, 2011-Jul 2, 2011");
  EXPECT_EQ(refund.product, "Product 1001");
  EXPECT_EQ(refund.type, "Refund");
  EXPECT_EQ(refund.units, "-2");
  EXPECT_EQ(refund.income, "-3.00 €");
  EXPECT_EQ(panel.lineRow(5).type, "Withholding Tax");
  EXPECT_EQ(panel.lineRow(2).type, "In-App Purchase");

  // Sorted by income, both ways; ties keep their order.
  panel.sortLines(KVRFinancialsPanel::SortColumn::Income, true);
  QStringList incomes;
  for (int i = 0; i < panel.lineCount(); ++i) incomes << panel.lineRow(i).income;
  EXPECT_EQ(incomes, (QStringList{"-3.00 €", "-0.99 €", "--", "1.00 €", "7.00 €", "20.00 €"}));
  panel.sortLines(KVRFinancialsPanel::SortColumn::Income, false);
  EXPECT_EQ(panel.lineRow(0).income, "20.00 €");
  // The order stays through a refresh.
  panel.filterRegion(KVRFinancialsPanel::AllRegions);
  EXPECT_EQ(panel.lineRow(0).income, "20.00 €");

  // A period that is gone after a refresh falls back to all periods.
  select({other});
  panel.setSelectedPeriod(july);
  panel.selectedProductDidChange();
  EXPECT_EQ(panel.periodsValues().size(), 2u);
  EXPECT_EQ(panel.selectedPeriodIndex(), 0);
  EXPECT_EQ(panel.filteredReports(), std::vector<KVRReport*>{eu});
}

TEST_F(FinancialsPanelTest, ChoosingAReportNeverConvertedEstimatesItAndSavesIt) {
  KVRReport* eu = financial(soft, "0611_EU.txt", day(2011, 5, 29));
  line(eu, app, 10, 70, "EUR");
  line(eu, app, 2, 150, "EUR");
  save();
  ASSERT_EQ(eu->status, KVRReportStatusNotConverted);
  select({app});
  KVRFinancialsPanel panel;
  panel.selectedProductDidChange();
  EXPECT_EQ(eu->status, KVRReportStatusEstimated);
  EXPECT_FLOAT_EQ(eu->pointedIncome, 10.0f);
  EXPECT_EQ(panel.stateTag(), 0);
  EXPECT_EQ(panel.stateSentence(), "Estimated revenues for this report: 10.00 €");
  const Stored s = stored(eu);
  EXPECT_EQ(s.status, 0);
  EXPECT_DOUBLE_EQ(s.pointedIncome, 10.0);

  // Reported, saved at once.
  EXPECT_EQ(panel.reportStateChange(2), KVRFinancialsPanel::StateChange::Stored);
  EXPECT_EQ(stored(eu).status, 2);
  EXPECT_EQ(panel.stateSentence(), "This report revenues have been reported. Estimated revenues: 10.00 €");
}

TEST_F(FinancialsPanelTest, PaymentReceivedSheet) {
  KVRReport* eu = financial(soft, "0611_EU.txt", day(2011, 5, 29));
  line(eu, app, 10, 70, "EUR");
  save();
  select({app});
  KVRFinancialsPanel panel;
  panel.selectedProductDidChange();

  // Choosing "pointed" opens the sheet, cancelling it stores nothing.
  EXPECT_EQ(panel.reportStateChange(1), KVRFinancialsPanel::StateChange::OpenSheet);
  EXPECT_EQ(panel.stateTag(), 1);
  const KVRFinancialsRealIncomeSheet sheet = panel.realIncomeSheet(day(2011, 8, 1));
  EXPECT_EQ(sheet.accounts, (QStringList{"Pelliro Business EUR", "Pelliro USD Account"}));
  EXPECT_EQ(sheet.amount, "7.00 €");
  panel.reportRealIncomeSetCancel();
  EXPECT_EQ(panel.stateTag(), 0);
  EXPECT_EQ(eu->status, 0);
  EXPECT_EQ(stored(eu).status, 0);

  // An empty, unreadable or not positive amount keeps the sheet open and
  // stores nothing; the sheet reads amounts as the reconciliation does.
  panel.reportStateChange(1);
  QString message;
  EXPECT_FALSE(panel.reportRealIncomeSetOK("", day(2011, 8, 1), "Pelliro Business EUR", &message));
  EXPECT_EQ(message, "No amount was typed. Type it as 1,234.56.");
  EXPECT_FALSE(panel.reportRealIncomeSetOK(" € ", day(2011, 8, 1), "Pelliro Business EUR", &message));
  EXPECT_FALSE(panel.reportRealIncomeSetOK("6,9O €", day(2011, 8, 1), "Pelliro Business EUR", &message));
  EXPECT_EQ(message, "“6,9O €” is not an amount. Type it as 1,234.56.");
  EXPECT_FALSE(panel.reportRealIncomeSetOK("12.5abc", day(2011, 8, 1), "Pelliro Business EUR", &message));
  EXPECT_FALSE(panel.reportRealIncomeSetOK("1e400", day(2011, 8, 1), "Pelliro Business EUR", &message));
  for (const char* notPositive : {"-6.90", "0"}) {
    EXPECT_FALSE(panel.reportRealIncomeSetOK(notPositive, day(2011, 8, 1), "Pelliro Business EUR", &message));
    EXPECT_EQ(message, "The amount received must be above zero.");
  }
  EXPECT_EQ(eu->status, 0);
  EXPECT_EQ(stored(eu).status, 0);

  // Confirmed: amount, date, account and state, saved at once.
  ASSERT_TRUE(panel.reportRealIncomeSetOK("1,006.90 €", day(2011, 8, 1), "Pelliro Business EUR", &message));
  EXPECT_EQ(panel.stateTag(), 1);
  EXPECT_EQ(panel.stateSentence(),
            "Pointed revenues for this report: 1,006.90 €\nOn account Pelliro Business EUR, on Aug 1, 2011");
  const Stored s = stored(eu);
  EXPECT_EQ(s.status, 1);
  EXPECT_NEAR(s.pointedIncome, 1006.9, 1e-3);
  EXPECT_EQ(s.pointedAccount, "Pelliro Business EUR");
  EXPECT_TRUE(s.hasDate);

  // A pointed report without a date says "--" for it.
  eu->pointedDate = KVRDate();
  EXPECT_EQ(KVRFinancialsPanel::stateSentenceFor(*eu, 1),
            "Pointed revenues for this report: 1,006.90 €\nOn account Pelliro Business EUR, on --");

  // Without financial accounts the sheet offers "--", which is stored.
  KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
  panel.reportStateChange(1);
  EXPECT_EQ(panel.realIncomeSheet(day(2011, 8, 1)).accounts, QStringList{"--"});
  ASSERT_TRUE(panel.reportRealIncomeSetOK("5", day(2011, 8, 2), "--", &message));
  EXPECT_EQ(stored(eu).pointedAccount, "--");
}

TEST_F(FinancialsPanelTest, AFailedSaveChangesNothing) {
  KVRReport* eu = financial(soft, "0611_EU.txt", day(2011, 5, 29));
  line(eu, app, 10, 70, "EUR");
  eu->status = KVRReportStatusEstimated;
  eu->pointedIncome = 7;
  save();
  const int64_t id = eu->objectID;
  dm().closeStore();
  dm().setBusyTimeoutMs(50);
  QString error;
  ASSERT_TRUE(dm().openStore(storePath(), &error)) << error.toStdString();
  eu = nullptr;
  for (KVRReport* r : dm().reports())
    if (r->objectID == id) eu = r;
  ASSERT_NE(eu, nullptr);
  KVRVortelyManagedProduct* p = eu->entries.front()->product;
  select({p});
  KVRFinancialsPanel panel;
  panel.selectedProductDidChange();

  // Another program holds the file.
  SQLite::Database other(storePath().toStdString(), SQLite::OPEN_READWRITE);
  other.exec("BEGIN EXCLUSIVE");
  EXPECT_EQ(panel.reportStateChange(2, &error), KVRFinancialsPanel::StateChange::Failed);
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(eu->status, 0);
  EXPECT_EQ(panel.stateTag(), 0);
  panel.reportStateChange(1);
  QString message;
  EXPECT_FALSE(panel.reportRealIncomeSetOK("8", day(2011, 8, 1), "--", &message));
  EXPECT_TRUE(message.startsWith("The payment could not be saved: ")) << message.toStdString();
  EXPECT_EQ(eu->status, 0);
  EXPECT_FLOAT_EQ(eu->pointedIncome, 7);
  EXPECT_FALSE(panel.addCost("Design", "100", &message));
  EXPECT_TRUE(p->costs.empty());
  other.exec("ROLLBACK");
  EXPECT_EQ(panel.reportStateChange(2), KVRFinancialsPanel::StateChange::Stored);
  EXPECT_EQ(stored(eu).status, 2);
  dm().setBusyTimeoutMs(10000);
}

TEST_F(FinancialsPanelTest, PartnersAndCostsOfTheSelectedProduct) {
  KVRVortelyManagedProduct* other = product(soft, 1002);
  save();
  KVRFinancialsPanel panel;
  select({app, other});
  panel.selectedProductDidChange();
  EXPECT_FALSE(panel.canAddPartnerCost());
  QString message;
  EXPECT_FALSE(panel.addCost("Design", "100", &message));
  EXPECT_EQ(message, "Select one product to add a cost to it.");

  select({app});
  panel.selectedProductDidChange();
  ASSERT_TRUE(panel.canAddPartnerCost());
  EXPECT_FALSE(panel.addCost("  ", "100", &message));
  EXPECT_EQ(message, "Type a name for the cost.");
  EXPECT_FALSE(panel.addCost("Design", "", &message));
  EXPECT_FALSE(panel.addCost("Design", "lots", &message));
  EXPECT_EQ(message, "“lots” is not an amount. Type it as 1,234.56.");
  EXPECT_FALSE(panel.addCost("Design", "-5", &message));
  EXPECT_EQ(message, "A cost cannot be negative: type 0 or more.");
  EXPECT_FALSE(panel.addPartner("Studio", "12x", "", &message));
  EXPECT_FALSE(panel.addPartner("Studio", "-5", "", &message));
  EXPECT_FALSE(panel.addPartner("Studio", "", "250", &message));
  EXPECT_EQ(message, "Royalties are a share from 0 to 1, such as 0.35 for 35%; “250” is outside.");
  EXPECT_EQ(rowsIn("Cost") + rowsIn("Partner"), 0);  // nothing stored
  ASSERT_TRUE(panel.addCost("Design", "1,250.50", &message)) << message.toStdString();
  ASSERT_TRUE(panel.addPartner("Studio", "", "0.3", &message)) << message.toStdString();
  // Saved at once.
  EXPECT_EQ(rowsIn("Cost"), 1);
  EXPECT_EQ(rowsIn("Partner"), 1);
  EXPECT_FALSE(dm().hasChanges());
  const auto rows = panel.partnerCostRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].kind, "Cost");
  EXPECT_EQ(rows[0].name, "Design");
  EXPECT_EQ(rows[0].amount, "1,250.50");
  EXPECT_EQ(rows[1].kind, "Partner");
  EXPECT_EQ(rows[1].amount, "0.00");
  EXPECT_EQ(rows[1].royalties, "0.3");
  EXPECT_DOUBLE_EQ(app->costs.front()->value, 1250.5);

  // A product not yet in the file goes with its cost.
  KVRVortelyManagedProduct* fresh = product(soft, 1004);
  select({fresh});
  panel.selectedProductDidChange();
  ASSERT_TRUE(panel.addCost("Icon", "80", &message)) << message.toStdString();
  EXPECT_GT(fresh->objectID, 0);
  EXPECT_EQ(rowsIn("Cost"), 2);
  EXPECT_FALSE(dm().hasChanges());
}
