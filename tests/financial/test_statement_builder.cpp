// The statement builder on small hand-made stores: months and regions of
// reports and lines, the sums, payments and the months they cover, the
// Japanese and reconciliation ratios, iAd payments, several accounts, the
// report index, and the store changes. Every build is checked against the
// reference builder too (statement_fixture.h).
#include <QFile>

#include <algorithm>

#include "core/KVRFormatters.h"
#include "platform/KVRVortelyLogCenter.h"
#include "statement_fixture.h"

namespace {
constexpr KVRMonthKey kJan11{2011, 1}, kFeb11{2011, 2}, kMar11{2011, 3}, kApr11{2011, 4}, kMay11{2011, 5};

bool logHas(const QString& text) {
  const QStringList lines = KVRVortelyLogCenter::sharedInstance().lines();
  return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(text); });
}
}  // namespace

TEST_F(StatementTest, MonthRegionAndAmountOfEachLine) {
  converter().setRate("USD", "EUR", 0.75);
  // Begins on the 20th: counts for the next month; the file names its region.
  KVRReport* eu = financial(soft, "80012345_0411_EU.txt", day(2011, 3, 20));
  line(eu, app, 3, 70, "EUR");
  // No region code after the last "_": each line's currency decides.
  KVRReport* mixed = financial(soft, "80012345_0411_ZZ.txt", day(2011, 3, 20));
  line(mixed, app, 1, 10000, "JPY");   // JP
  line(mixed, app, 2, 150, "ABC");     // a currency without region: WW, unconverted
  line(mixed, app, 4, 100, "USD RoW"); // WW, converted as dollars
  // An empty code is not the "All Region" row either.
  KVRReport* blank = financial(soft, "80012345_0411_.txt", day(2011, 3, 20));
  line(blank, app, 1, 500, "GBP");

  const KVRFinancialStatement st = build(accountSelection({soft}));
  ASSERT_EQ(st.months.size(), 1u);
  const KVRFinancialMonth& m = st.months[0];
  EXPECT_EQ(m.date, kApr11);
  // 3 x 70 hundredths: (210 + 0.0001) / 100.
  EXPECT_FLOAT_BITS(m.incomeLocal[KVRRegionRowEU], 2.1000011f);
  EXPECT_FLOAT_BITS(m.income[KVRRegionRowEU], 2.1000011f);
  EXPECT_EQ(m.units[KVRRegionRowEU], 3.0f);
  EXPECT_FLOAT_BITS(m.incomeLocal[KVRRegionRowJP], 100.0f);
  EXPECT_FLOAT_BITS(m.incomeLocal[KVRRegionRowWW], 3.000001f + 4.000001f);
  EXPECT_FLOAT_BITS(m.income[KVRRegionRowWW], 3.000001f + float(double(4.000001f) * 0.75));
  EXPECT_FLOAT_BITS(m.incomeLocal[KVRRegionRowGB], 5.000001f);
  EXPECT_EQ(m.units[KVRRegionRowAll], 0.0f);
  // "All" is the sum once, not twice: 2.1 + 100 + 3 + 4 + 5.
  EXPECT_NEAR(m.incomeLocal[KVRRegionRowAll], 114.1f, 1e-3);
  const KVRRegionRowTable* year = st.yearTable(2011);
  ASSERT_NE(year, nullptr);
  EXPECT_FLOAT_BITS((*year)[KVRRegionRowEU].incomeLocal, 2.1000011f);
  EXPECT_EQ((*year)[KVRRegionRowEU].shortDesc, "EU");
  EXPECT_FLOAT_BITS((*year)[KVRRegionRowAll].incomeLocal, m.incomeLocal[KVRRegionRowAll]);
}

TEST_F(StatementTest, MonthIsBeginDatePlusFifteenDaysInTheCalendar) {
  // Paris moves to summer time on 27 March 2011: 17 March + 15 days is
  // 1 April 00:00, not 31 March 23:00.
  line(financial(soft, "V_0411_US.txt", day(2011, 3, 17)), app, 1, 100, "USD");
  line(financial(soft, "V_0311_US.txt", day(2011, 3, 16)), app, 1, 100, "USD");
  EXPECT_EQ(KVRMonthKey::ofReportDate(day(2011, 3, 17)), kApr11);
  EXPECT_EQ(KVRMonthKey::ofReportDate(day(2011, 3, 16)), kMar11);
  const KVRFinancialStatement st = build(accountSelection({soft}));
  ASSERT_EQ(st.months.size(), 2u);
  EXPECT_EQ(st.months[0].date, kMar11);
  EXPECT_EQ(st.months[1].date, kApr11);
  EXPECT_EQ(st.months[1].date.firstInstant(), day(2011, 4, 1));
}

TEST_F(StatementTest, MonthOfADayWithoutMidnight) {
  // Havana skips from 23:59 on 31 March 2012 to 01:00 on 1 April.
  KVRCalendar::shared().resetTimeZone("America/Havana");
  line(financial(soft, "V_0412_US.txt", day(2012, 3, 17)), app, 1, 100, "USD");
  line(financial(soft, "V_0312_US.txt", day(2012, 3, 16)), app, 1, 100, "USD");
  const KVRFinancialStatement st = build(accountSelection({soft}));
  ASSERT_EQ(st.months.size(), 2u);
  EXPECT_EQ(st.months[1].date, (KVRMonthKey{2012, 4}));
  EXPECT_EQ(KVRMonthKey::containing(st.months[1].date.firstInstant()), (KVRMonthKey{2012, 4}));
  EXPECT_EQ(KVRMonthKey::containing(KVRDate(st.months[1].date.firstInstant().ms - 1)), (KVRMonthKey{2012, 3}));
}

TEST_F(StatementTest, SharedReportCountsOnceAndPaymentsMatchTheWholeAccount) {
  KVRVortelyManagedProduct* game = product(soft, 1002);
  KVRVortelyManagedProduct* other = product(soft, 1003);
  KVRReport* jp = financial(soft, "V_0111_JP.txt", day(2010, 12, 26));
  line(jp, app, 1, 50000, "JPY");
  line(jp, game, 1, 30000, "JPY");
  line(jp, other, 1, 20000, "JPY");  // not selected: only in the account's estimate
  // The estimate is 1000 yen (E100 100000); Japan paid 950.
  payment(soft, "JP", day(2010, 12, 26), 95000, "JPY");

  const KVRFinancialStatement st = build(productSelection({app, game}));
  ASSERT_EQ(st.months.size(), 1u);
  EXPECT_FLOAT_BITS(st.months[0].incomeLocal[KVRRegionRowJP], 500.000001f + 300.000001f);
  EXPECT_EQ(st.months[0].units[KVRRegionRowJP], 2.0f);
  const KVRPaymentRecord* paid = st.dictForDate(kJan11, u"JP");
  ASSERT_NE(paid, nullptr);
  EXPECT_FLOAT_BITS(paid->jpRatioOrOne(), 0.95f);
  // What a payment covers does not depend on the products on show.
  const KVRFinancialStatement whole = build(accountSelection({soft}));
  EXPECT_FLOAT_BITS(whole.dictForDate(kJan11, u"JP")->jpRatioOrOne(), 0.95f);
}

TEST_F(StatementTest, JapaneseRatioOnlyWhenJapanPaidLess) {
  line(financial(soft, "V_0211_JP.txt", day(2011, 1, 30)), app, 1, 100000, "JPY");
  payment(soft, "JP", day(2011, 1, 30), 100000, "JPY");
  // 30 units at 10,000,000 yen: an estimate of 3e10 hundredths, beyond 32 bits.
  line(financial(soft, "V_0311_JP.txt", day(2011, 2, 27)), app, 30, 1000000000, "JPY");
  payment(soft, "JP", day(2011, 2, 27), 2000000000, "JPY");

  const KVRFinancialStatement st = build(accountSelection({soft}));
  EXPECT_EQ(st.dictForDate(kFeb11, u"JP")->jpRatioOrOne(), 1.0f);
  const KVRPaymentRecord* big = st.dictForDate(kMar11, u"JP");
  ASSERT_NE(big, nullptr);
  EXPECT_NEAR(big->jpRatioOrOne(), 2e9 / 3e10, 1e-6);
  EXPECT_FLOAT_BITS(big->localIncome, 2e7f);
}

TEST_F(StatementTest, PaymentCoversEarlierMonthsOnlyWhileItHasMoneyLeft) {
  converter().setRate("USD", "EUR", 0.75);
  // Estimates of 80.00 in January, 120.00 in February, 100.00 in March.
  auto threeMonths = [&](KVRStoreAccount* a) {
    KVRVortelyManagedProduct* p = product(a, 2000 + int(a->products.size()) + qHash(a->developer) % 1000);
    line(financial(a, "V_0111_US.txt", day(2010, 12, 26)), p, 1, 8000, "USD");
    line(financial(a, "V_0211_US.txt", day(2011, 1, 30)), p, 1, 12000, "USD");
    line(financial(a, "V_0311_US.txt", day(2011, 2, 27)), p, 1, 10000, "USD");
  };
  auto covered = [&](KVRStoreAccount* a, int paid, bool received = false) {
    threeMonths(a);
    KVRReport* r = payment(a, "US", day(2011, 2, 27), paid, "USD");
    if (received) reconcile(r, paid / 100.0f * 0.9f, "EUR", "Bank");
    return build(accountSelection({a}));
  };

  // 30000 against 10000, then 20000 against 12000, then 8000 against 8000.
  const KVRFinancialStatement st = covered(soft, 30000);
  const KVRPaymentRecord* march = st.dictForDate(kMar11, u"US");
  ASSERT_NE(march, nullptr);
  EXPECT_TRUE(march->isPaymentForm());
  EXPECT_EQ(march->priorMonths, (std::vector<KVRMonthKey>{kFeb11, kJan11}));
  const KVRPaymentRecord* feb = st.dictForDate(kFeb11, u"US");
  ASSERT_NE(feb, nullptr);
  EXPECT_FALSE(feb->isPaymentForm());
  EXPECT_EQ(feb->paymentMonth, kMar11);
  EXPECT_FLOAT_EQ(feb->localIncome, 120.0f);
  EXPECT_FLOAT_EQ(feb->income, 90.0f);
  EXPECT_FALSE(feb->isReconciled());  // the March payment is not reconciled
  EXPECT_FLOAT_EQ(st.dictForDate(kJan11, u"US")->localIncome, 80.0f);

  // One hundredth more than the month's estimate covers nothing.
  EXPECT_TRUE(covered(account("A2"), 10001).dictForDate(kMar11, u"US")->priorMonths.empty());
  // Less than the month's estimate covers nothing either.
  EXPECT_TRUE(covered(account("A3"), 5000).dictForDate(kMar11, u"US")->priorMonths.empty());
  // 25000: February and January are paid, December (no report) is not entered.
  EXPECT_EQ(covered(account("A4"), 25000).dictForDate(kMar11, u"US")->priorMonths,
            (std::vector<KVRMonthKey>{kFeb11, kJan11}));
  // A reconciled payment passes its ratio to the months it covers.
  const KVRFinancialStatement received = covered(account("A5"), 30000, true);
  const KVRPaymentRecord* receivedFeb = received.dictForDate(kFeb11, u"US");
  ASSERT_TRUE(receivedFeb->isReconciled());
  EXPECT_FLOAT_BITS(*receivedFeb->paymentRatio, *received.dictForDate(kMar11, u"US")->paymentRatio);
  EXPECT_FLOAT_BITS(receivedFeb->pointedIncome, receivedFeb->income * *receivedFeb->paymentRatio);

  // A month paid on its own is never entered.
  KVRStoreAccount* a6 = account("A6");
  threeMonths(a6);
  payment(a6, "US", day(2011, 1, 30), 12000, "USD");
  payment(a6, "US", day(2011, 2, 27), 30000, "USD");
  const KVRFinancialStatement own = build(accountSelection({a6}));
  EXPECT_TRUE(own.dictForDate(kMar11, u"US")->priorMonths.empty());
  EXPECT_TRUE(own.dictForDate(kFeb11, u"US")->isPaymentForm());
  EXPECT_EQ(own.dictForDate(kJan11, u"US"), nullptr);
}

TEST_F(StatementTest, PaymentWalkStopsOnEveryTurnAndNeverEntersAMonthPaidOnItsOwn) {
  converter().setRate("USD", "EUR", 0.75);
  constexpr KVRMonthKey kDec10{2010, 12};
  // US estimates in hundredths: December 2000, January 2000, February 3000,
  // March 10000 (the paying month's own, E0).
  auto estimates = [&](KVRStoreAccount* a) {
    KVRVortelyManagedProduct* p = product(a, 4000 + qHash(a->developer) % 1000);
    line(financial(a, "V_1210_US.txt", day(2010, 11, 28)), p, 1, 2000, "USD");
    line(financial(a, "V_0111_US.txt", day(2010, 12, 26)), p, 1, 2000, "USD");
    line(financial(a, "V_0211_US.txt", day(2011, 1, 30)), p, 1, 3000, "USD");
    line(financial(a, "V_0311_US.txt", day(2011, 2, 27)), p, 1, 10000, "USD");
    return p;
  };
  auto covered = [&](const char* name, int paid) {
    KVRStoreAccount* a = account(name);
    estimates(a);
    payment(a, "US", day(2011, 2, 27), paid, "USD");
    return build(accountSelection({a})).dictForDate(kMar11, u"US")->priorMonths;
  };
  // 20001 pays February (3000); the remainder 10001 is E0 + 1 on the second turn: stop.
  EXPECT_EQ(covered("Second turn", 20001), std::vector<KVRMonthKey>{kFeb11});
  // 22999 pays February and January; the remainder 9999 is E0 - 1 on the third turn: stop.
  EXPECT_EQ(covered("Third turn", 22999), (std::vector<KVRMonthKey>{kFeb11, kJan11}));
  // 24000 runs on: the remainder 11000 on the third turn pays December as
  // well, and November (no report) ends the walk.
  EXPECT_EQ(covered("Runs on", 24000), (std::vector<KVRMonthKey>{kFeb11, kJan11, kDec10, {2010, 11}}));

  // A zero payment against a negative estimate keeps its record without its
  // report and month; it is still the month's own payment: a later payment
  // does not walk into it.
  KVRStoreAccount* minus = account("Refunds");
  KVRVortelyManagedProduct* p = product(minus, 4999);
  line(financial(minus, "V_0311_US.txt", day(2011, 2, 27)), p, 1, -5000, "USD");
  line(financial(minus, "V_0411_US.txt", day(2011, 3, 27)), p, 1, 10000, "USD");
  payment(minus, "US", day(2011, 2, 27), 0, "USD");
  payment(minus, "US", day(2011, 3, 27), 30000, "USD");
  const KVRFinancialStatement st = build(accountSelection({minus}));
  const KVRPaymentRecord* march = st.dictForDate(kMar11, u"US");
  ASSERT_NE(march, nullptr);
  EXPECT_EQ(march->paymentReport, nullptr);
  EXPECT_FALSE(march->paymentMonth.has_value());
  EXPECT_FLOAT_EQ(march->localIncome, 0.0f);
  EXPECT_TRUE(st.dictForDate(kApr11, u"US")->priorMonths.empty());
}

TEST_F(StatementTest, ReconciledPaymentRatioAndTexts) {
  converter().setRate("USD", "EUR", 0.75);
  line(financial(soft, "V_0311_US.txt", day(2011, 2, 27)), app, 1, 10000, "USD");
  line(financial(soft, "V_0311_CA.txt", day(2011, 2, 27)), app, 1, 10000, "CAD");
  line(financial(soft, "V_0311_GB.txt", day(2011, 2, 27)), app, 1, 10000, "GBP");
  // 100.00 USD received as 76.00 EUR.
  reconcile(payment(soft, "US", day(2011, 2, 27), 10000, "USD"), 76.0f, "EUR", "Pelliro Business EUR");
  payment(soft, "CA", day(2011, 2, 27), 10000, "CAD");  // not received (pointedIncome -1)
  KVRReport* gb = payment(soft, "GB", day(2011, 2, 27), 10000, "GBP");
  gb->pointedIncome = 50.0f;  // received, without date or account
  gb->status = KVRReportStatusPointed;

  const KVRFinancialStatement st = build(accountSelection({soft}));
  const KVRPaymentRecord* us = st.dictForDate(kMar11, u"US");
  ASSERT_NE(us, nullptr);
  EXPECT_FLOAT_EQ(us->income, 75.0f);
  EXPECT_FLOAT_BITS(*us->paymentRatio, 76.0f / 75.0f);
  EXPECT_EQ(us->localCurrency, "USD");
  EXPECT_EQ(us->localIncomeStr, "100.00 $");
  EXPECT_EQ(us->incomeStr, "75.00 €");
  EXPECT_EQ(us->pointedIncomeStr, "76.00 €");
  EXPECT_EQ(us->pointedAccount, "Pelliro Business EUR");
  EXPECT_EQ(us->pointedDate, day(2011, 6, 2));

  const KVRPaymentRecord* ca = st.dictForDate(kMar11, u"CA");
  EXPECT_FALSE(ca->isReconciled());
  EXPECT_TRUE(ca->pointedIncomeStr.isEmpty());
  EXPECT_FALSE(ca->pointedDate.isValid());
  EXPECT_EQ(ca->localIncomeStr, "100.00 CA$");

  const KVRPaymentRecord* gbRecord = st.dictForDate(kMar11, u"GB");
  EXPECT_TRUE(gbRecord->isReconciled());
  EXPECT_EQ(gbRecord->pointedAccount, "--");
  EXPECT_EQ(gbRecord->pointedDate, kNow);

  // Amounts are written in the user's locale.
  KVRFormatters::shared().resetLocale("de_DE");
  const KVRFinancialStatement german = build(accountSelection({soft}));
  KVRFormatters::shared().resetLocale();
  EXPECT_EQ(german.dictForDate(kMar11, u"US")->localIncomeStr, "100,00 $");
}

TEST_F(StatementTest, IAdPaymentsFillTheAdRowWithoutCoveringMonths) {
  converter().setRate("USD", "EUR", 0.75);
  line(financial(soft, "V_0411_US.txt", day(2011, 3, 27)), app, 1, 1000, "USD");
  line(financial(soft, "V_0511_US.txt", day(2011, 4, 24)), app, 1, 1000, "USD");
  payment(soft, "IAD", day(2011, 4, 24), 20000, "IAD");  // more than May's estimate: still May only

  const KVRFinancialStatement st = build(accountSelection({soft}));
  const KVRPaymentRecord* ad = st.dictForDate(kMay11, u"IAD");
  ASSERT_NE(ad, nullptr);
  EXPECT_EQ(ad->localCurrency, "USD");
  EXPECT_FLOAT_EQ(ad->income, 150.0f);
  EXPECT_TRUE(ad->priorMonths.empty());
  EXPECT_EQ(st.dictForDate(kApr11, u"IAD"), nullptr);
  const KVRFinancialMonth* may = st.monthRecord(kMay11);
  EXPECT_FLOAT_EQ(may->incomeLocal[KVRRegionRowIAD], 200.0f);
  EXPECT_FLOAT_EQ(may->income[KVRRegionRowIAD], 150.0f);
  const KVRRegionRowTable& year = *st.yearTable(2011);
  EXPECT_FLOAT_EQ(year[KVRRegionRowIAD].income, 150.0f);
  EXPECT_FLOAT_EQ(year[KVRRegionRowIAD].incomeLocal, 200.0f);
  // "All" stays the sum of the regions: 2 x 7.50 of sales and the ad payment.
  EXPECT_FLOAT_EQ(year[KVRRegionRowAll].income, 165.0f);

  // With products selected the month shows no ad income; the year still does.
  const KVRFinancialStatement products = build(productSelection({app}));
  EXPECT_EQ(products.monthRecord(kMay11)->income[KVRRegionRowIAD], 0.0f);
  EXPECT_FLOAT_EQ((*products.yearTable(2011))[KVRRegionRowIAD].income, 150.0f);
}

TEST_F(StatementTest, WhichPaymentsCountAndHowTheyAreKept) {
  line(financial(soft, "V_0311_US.txt", day(2011, 2, 27)), app, 1, 10000, "USD");
  line(financial(soft, "V_0411_US.txt", day(2011, 3, 27)), app, -1, 500, "USD");  // refunds only
  // Of two payments for one month and region, the later one stays.
  payment(soft, "US", day(2011, 2, 27), 5000, "USD");
  payment(soft, "US", day(2011, 2, 28), 7000, "USD");
  // Nothing paid on a negative month: a record without payment report.
  payment(soft, "US", day(2011, 3, 27), 0, "USD");
  // A region no row has: no estimate, so ratio 1 and no earlier month.
  payment(soft, "ZZ", day(2011, 2, 27), 900000, "XYZ");
  // Skipped: a Payment line without date (the report keeps its own) and
  // one without region (its date is still taken).
  KVRReport* undated = payment(soft, "CA", day(2011, 2, 27), 100, "CAD");
  const KVRDate undatedBegin = undated->beginDate;
  for (KVRReportEntry* e : undated->entries) e->beginDate = KVRDate();
  KVRReport* nowhere = payment(soft, "", day(2011, 2, 27), 100, "CAD");
  // Another account's payment, not selected.
  KVRStoreAccount* elsewhere = account("Northwind Games");
  payment(elsewhere, "US", day(2011, 2, 27), 99999, "USD");

  const KVRFinancialStatement st = build(accountSelection({soft}));
  EXPECT_FLOAT_EQ(st.dictForDate(kMar11, u"US")->localIncome, 70.0f);
  const KVRPaymentRecord* negative = st.dictForDate(kApr11, u"US");
  ASSERT_NE(negative, nullptr);
  EXPECT_FALSE(negative->isPaymentForm());
  EXPECT_FALSE(negative->paymentMonth.has_value());
  const KVRPaymentRecord* unknown = st.dictForDate(kMar11, u"ZZ");
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->jpRatioOrOne(), 1.0f);
  EXPECT_TRUE(unknown->priorMonths.empty());
  EXPECT_TRUE(unknown->localIncomeStr.endsWith(" XYZ")) << unknown->localIncomeStr.toStdString();
  EXPECT_EQ(st.dictForDate(kMar11, u"CA"), nullptr);
  EXPECT_TRUE(logHas(undated->filename));
  EXPECT_TRUE(logHas(nowhere->filename));
  const auto& dates = st.storeChanges.paymentBeginDates;
  auto dated = [&](KVRReport* r) {
    return std::any_of(dates.begin(), dates.end(), [&](const auto& d) { return d.first == r; });
  };
  EXPECT_FALSE(dated(undated));
  EXPECT_TRUE(dated(nowhere));
  EXPECT_EQ(undated->beginDate, undatedBegin);
}

TEST_F(StatementTest, MonthsAscendingWithPaymentMonthsMergedIn) {
  line(financial(soft, "V_0311_US.txt", day(2011, 2, 27)), app, 1, 1000, "USD");
  line(financial(soft, "V_0411_US.txt", day(2011, 3, 27)), app, 1, 1000, "USD");
  payment(soft, "CA", day(2010, 12, 26), 1000, "CAD");  // January: no report that month
  auto dates = [](const KVRFinancialStatement& st) {
    std::vector<KVRMonthKey> v;
    for (const KVRFinancialMonth& m : st.months) v.push_back(m.date);
    return v;
  };
  EXPECT_EQ(dates(build(accountSelection({soft}))), (std::vector<KVRMonthKey>{kJan11, kMar11, kApr11}));
  EXPECT_EQ(dates(build(productSelection({app}))), (std::vector<KVRMonthKey>{kMar11, kApr11}));
}

TEST(FinancialStatement, MonthWindowLookups) {
  KVRFinancialStatement st;
  for (int m = 1; m <= 6; ++m) st.months.push_back({KVRMonthKey{2011, m}, {}, {}, {}, {}, {}, {}});
  EXPECT_EQ(st.indexOfMonth(3, 2011), 2);
  EXPECT_EQ(st.indexOfMonth(2, 2010), -1);
  EXPECT_EQ(st.indexOfMonth(9, 2011), 6);
  EXPECT_EQ(st.compsForIndex(5), (KVRMonthKey{2011, 6}));
  EXPECT_FALSE(st.compsForIndex(6).has_value());
  // After a rebuild: the last three months, or the remembered one kept in range.
  EXPECT_EQ(st.firstShownMonth(std::nullopt), 3);
  EXPECT_EQ(st.firstShownMonth(KVRMonthKey{2011, 2}), 1);
  EXPECT_EQ(st.firstShownMonth(KVRMonthKey{2011, 9}), 3);
  EXPECT_EQ(st.firstShownMonth(KVRMonthKey{2010, 2}), 0);
  st.months.erase(st.months.begin() + 1);  // January, March to June
  EXPECT_EQ(st.indexOfMonth(2, 2011), -1);
  st.months.resize(2);
  EXPECT_EQ(st.firstShownMonth(KVRMonthKey{2012, 1}), 0);
  EXPECT_EQ((KVRMonthKey{2011, 1}.previous()), (KVRMonthKey{2010, 12}));
  EXPECT_EQ(KVRMonthKey::fromSerial((KVRMonthKey{-1, 12}.serial())), (KVRMonthKey{-1, 12}));
}

TEST_F(StatementTest, PaymentsOfTwoAccountsAreSummed) {
  converter().setRate("USD", "EUR", 0.75);
  KVRStoreAccount* bright = account("Brightwater Apps");
  KVRVortelyManagedProduct* lamp = product(bright, 3001);
  line(financial(soft, "V_0311_US.txt", day(2011, 2, 27)), app, 1, 10000, "USD");
  line(financial(bright, "B_0311_US.txt", day(2011, 2, 27)), lamp, 1, 5000, "USD");
  KVRReport* a = payment(soft, "US", day(2011, 2, 27), 10000, "USD");
  KVRReport* b = payment(bright, "US", day(2011, 2, 27), 5000, "USD");
  reconcile(a, 80.0f, "EUR", "Bank");

  const KVRFinancialStatement one = build(accountSelection({bright}));
  EXPECT_EQ(one.dictForDate(kMar11, u"US")->paymentReport, b);

  const KVRFinancialStatement both = build(accountSelection({soft, bright}));
  const KVRPaymentRecord* sum = both.dictForDate(kMar11, u"US");
  ASSERT_NE(sum, nullptr);
  EXPECT_EQ(sum->paymentReport, nullptr);
  EXPECT_EQ(sum->paymentMonth, kMar11);
  EXPECT_EQ(sum->payingReports.size(), 2u);
  EXPECT_FLOAT_EQ(sum->localIncome, 150.0f);
  EXPECT_FLOAT_EQ(sum->income, 112.5f);
  EXPECT_FALSE(sum->isReconciled());  // one of the two is not received yet
  // Each account's cell on its own: Pelliro Soft's 75.00 received as 80.00,
  // Brightwater's 37.50 estimate at ratio 1.
  const KVRRegionFigure& cell = both.monthRecord(kMar11)->figures[KVRRegionRowUS];
  EXPECT_FLOAT_EQ(cell.preferred, 117.5f);
  EXPECT_FLOAT_BITS(cell.preferred, build(accountSelection({soft})).monthRecord(kMar11)->figures[KVRRegionRowUS].preferred +
                                        one.monthRecord(kMar11)->figures[KVRRegionRowUS].preferred);
  EXPECT_EQ(cell.accounts, 2);

  reconcile(b, 40.0f, "EUR", "Bank");
  const KVRFinancialStatement again = build(accountSelection({soft, bright}));
  const KVRPaymentRecord* received = again.dictForDate(kMar11, u"US");
  ASSERT_TRUE(received->isReconciled());
  EXPECT_FLOAT_BITS(*received->paymentRatio, 120.0f / 112.5f);
  EXPECT_EQ(received->pointedAccount, "Bank");
  EXPECT_FLOAT_EQ(again.monthRecord(kMar11)->figures[KVRRegionRowUS].preferred, 120.0f);
}

TEST_F(StatementTest, ReportIndexAnswersRegionsAndAndroidMonths) {
  KVRStoreAccount* droid = account("Android Pelliro");
  KVRVortelyManagedProduct* compass = product(droid, 7100000001);
  KVRReport* eu = financial(soft, "V_0411_EU.txt", day(2011, 3, 27));
  line(eu, app, 1, 100, "EUR");
  KVRReport* us = financial(soft, "V_0411_US.txt", day(2011, 3, 27));
  line(us, app, 1, 100, "USD");
  KVRReport* earnings = financial(droid, "Earnings_201104.txt", day(2011, 3, 27));
  line(earnings, compass, 2, 300, "EUR");

  const KVRFinancialStatement st = build(productSelection({app, compass}));
  EXPECT_EQ(st.financialReportForMonth(kApr11, u"EU"), eu);
  EXPECT_EQ(st.financialReportForMonth(kApr11, u"US"), us);
  EXPECT_EQ(st.financialReportForMonth(kApr11, u"JP"), earnings);
  EXPECT_EQ(st.financialReportForMonth(kApr11, u"IAD"), earnings);
  EXPECT_EQ(st.financialReportForMonth(kMay11, u"EU"), nullptr);
  EXPECT_EQ(st.reportsOfMonths(0, 3), (std::vector<KVRReport*>{earnings, eu, us}));  // rows AU (Android), EU, US
  // The Android lines count in the region of their currency.
  EXPECT_FLOAT_BITS(st.months[0].incomeLocal[KVRRegionRowEU], 1.000001f + 6.000001f);
  // Without the Android product, its report answers nothing.
  EXPECT_EQ(build(productSelection({app})).financialReportForMonth(kApr11, u"JP"), nullptr);
}

TEST_F(StatementTest, YearTablesOfTheReports) {
  KVRFinancialSelection nothing;
  const KVRFinancialStatement empty = build(nothing);
  EXPECT_EQ(empty.years(), (std::vector<int>{2010, 2011}));
  EXPECT_EQ((*empty.yearTable(2011))[KVRRegionRowUS].income, 0.0f);
  EXPECT_EQ(empty.chosenYear(2010), 2010);
  EXPECT_EQ(empty.chosenYear(2009), 2011);
  EXPECT_EQ(empty.chosenYear(std::nullopt), 2011);
  EXPECT_TRUE(empty.months.empty());

  line(financial(soft, "V_0610_US.txt", day(2010, 5, 30)), app, 1, 100, "USD");
  line(financial(soft, "V_0612_US.txt", day(2012, 5, 27)), app, 1, 100, "USD");
  KVRReport* undated = financial(soft, "V_0611_US.txt", KVRDate());
  line(undated, app, 1, 100, "USD")->beginDate = KVRDate();
  const KVRFinancialStatement st = build(accountSelection({soft}));
  EXPECT_EQ(st.years(), (std::vector<int>{2010, 2012}));
  EXPECT_EQ(st.chosenYear(2011), 2012);
  EXPECT_EQ(st.months.size(), 2u);
  EXPECT_TRUE(logHas(undated->filename));
}

TEST_F(StatementTest, ZuvoReportsOfOtherProductsStayUnderAProductSelection) {
  KVRVortelyManagedProduct* other = product(soft, 1002);
  line(financial(soft, "V_0411_EU.txt", day(2011, 3, 27)), app, 1, 100, "EUR");
  KVRReport* zuvo = financial(soft, "ignored", day(2011, 3, 27));
  zuvo->filename = "Zuvo-Sales_0411_EU.txt";
  line(zuvo, other, 5, 900, "EUR");
  // The selected product's reports hold no "Zuvo" report: nothing is put aside.
  EXPECT_TRUE(build(productSelection({app})).storeChanges.reportsToDelete.empty());
  // The account's row reads it among its products' reports: put aside.
  EXPECT_EQ(build(accountSelection({soft})).storeChanges.reportsToDelete, std::vector<KVRReport*>{zuvo});
}

TEST_F(StatementTest, ReportsPutAsideAndPaymentDatesAreSavedOnce) {
  KVRReport* kept = financial(soft, "V_0411_EU.txt", day(2011, 3, 27));
  line(kept, app, 1, 100, "EUR");
  KVRReport* zuvo = financial(soft, "ignored", day(2011, 3, 27));
  zuvo->filename = "Zuvo-Sales_0411_EU.txt";
  line(zuvo, app, 5, 900, "EUR");
  KVRReport* paid = payment(soft, "EU", day(2011, 3, 27), 100, "EUR");
  QString error;
  ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  const size_t linesBefore = app->entries.size();

  int saves = 0;
  auto save = [&](QString* why) {
    ++saves;
    return dm().save(why);
  };
  const KVRFinancialStatement st =
      KVRFinancialStatementBuilder().rebuild(accountSelection({soft}), save, &error, kNow);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  EXPECT_EQ(saves, 1);
  EXPECT_FLOAT_BITS(st.months.at(0).incomeLocal[KVRRegionRowEU], 1.000001f);  // nothing of the put-aside report
  EXPECT_EQ(st.storeChanges.reportsToDelete, (std::vector<KVRReport*>{zuvo}));
  EXPECT_EQ(app->financialReports(), (std::vector<KVRReport*>{kept}));
  EXPECT_EQ(app->entries.size(), linesBefore - 1);
  EXPECT_EQ(paid->beginDate, day(2011, 3, 27));

  // Nothing left to change: no second save.
  KVRFinancialStatementBuilder().rebuild(accountSelection({soft}), save, &error, kNow);
  EXPECT_EQ(saves, 1);

  // On disk.
  dm().closeStore();
  ASSERT_TRUE(dm().openStore(storePath(), &error)) << error.toStdString();
  int zuvoReports = 0;
  KVRReport* paidAgain = nullptr;
  for (KVRReport* r : dm().reports()) {
    zuvoReports += r->filename.startsWith("Zuvo");
    if (r->type == KVRReportTypePayment) paidAgain = r;
  }
  EXPECT_EQ(zuvoReports, 0);
  ASSERT_NE(paidAgain, nullptr);
  EXPECT_EQ(paidAgain->beginDate, day(2011, 3, 27));
  EXPECT_EQ(dm().products().front()->entries.size(), 1u);
}
