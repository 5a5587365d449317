// Region rows, region vectors, and what the report tables show of a line.
#include <gtest/gtest.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRCalendar.h"
#include "core/KVREntities.h"
#include "core/KVRFormatters.h"
#include "financial/KVRFinancialStatement.h"
#include "financial/KVRReportValueTransformers.h"
#include "platform/KVRUserDefaults.h"

namespace {
KVRReportEntry lineOf(int count, int income, const char* currency) {
  KVRReportEntry e;
  e.count = count;
  e.income = income;
  e.currency = QString::fromLatin1(currency);
  return e;
}
}  // namespace

TEST(FinancialRegions, RowsCodesAndVectors) {
  EXPECT_EQ(KVRIndexForRegionCode(u""), 0);
  EXPECT_EQ(KVRIndexForRegionCode(u"EU"), 6);
  EXPECT_EQ(KVRIndexForRegionCode(u"IAD"), 18);
  EXPECT_EQ(KVRIndexForRegionCode(u"eu"), -1);
  EXPECT_EQ(KVRIndexForRegionCode(u"USD"), -1);
  // "All Region" is a total, never the region of a report or a payment.
  EXPECT_EQ(KVRMoneyRegionForCode(u""), -1);
  EXPECT_EQ(KVRMoneyRegionForCode(u"WW"), 17);
  const KVRRegionRowTable table = KVRMakeRegionRowTable();
  EXPECT_EQ(table[0].label, "All Regions");
  EXPECT_EQ(table[0].shortDesc, "");
  EXPECT_EQ(table[18].label, "iAd");
  EXPECT_EQ(table[9].shortDesc, "JP");

  KVRFinancialsByRegion v;
  for (int r = 0; r < KVRFinancialRegionCount; ++r) EXPECT_EQ(v[r], 0.0f);
  EXPECT_EQ(v.incomeUS(), 0.0f);
  EXPECT_EQ(v.incomeSE(), 0.0f);
  KVRFinancialsByRegion::Values all;
  for (int r = 0; r < KVRFinancialRegionCount; ++r) all[size_t(r)] = float(r) + 0.5f;
  v.income()[3] = 9;
  v.setIncome(all);
  EXPECT_EQ(v[3], 3.5f);
  EXPECT_EQ(v[18], 18.5f);
  v.setIncomeJP(4);  // a named amount is storage of its own
  EXPECT_EQ(v[KVRRegionRowJP], 9.5f);
}

TEST(ReportValueTransformers, IncomeInTheLineCurrencyAndConverted) {
  auto& converter = KVRVortelyCurrencyConverter::sharedInstance();
  converter.removeAllRates();
  KVRUserDefaults::standard().setString("PreferedCurrency", "EUR");
  converter.setRate("CAD", "EUR", 0.5);

  EXPECT_EQ(KVRReportIncomeTransformer::transformedValue(lineOf(3, 70, "CAD")), "2.10 CA$");
  EXPECT_EQ(KVRReportIncomeTransformer::transformedValue(lineOf(3, 0, "CAD")), "--");
  EXPECT_EQ(KVRReportIncomeTransformer::transformedValue(lineOf(-1, 99, "USD")), "-0.99 $");
  // The zero test is on the unit income: no units still show an amount.
  EXPECT_EQ(KVRReportIncomeTransformer::transformedValue(lineOf(0, 70, "CAD")), "0.00 CA$");
  // A currency the table does not know shows its code.
  EXPECT_EQ(KVRReportIncomeTransformer::transformedValue(lineOf(3, 70, "XYZ")), "2.10 XYZ");
  EXPECT_EQ(KVRReportConvertIncomeTransformer::transformedValue(lineOf(3, 70, "CAD")), "1.05 €");
  EXPECT_EQ(KVRReportConvertIncomeTransformer::transformedValue(lineOf(3, 0, "CAD")), "--");
  EXPECT_FLOAT_EQ(KVRIncomeForCompare(lineOf(3, 70, "CAD")), 2.1f);
  EXPECT_FLOAT_EQ(KVRIncomeForCompare(lineOf(-2, 99, "USD")), -1.98f);

  // The one form of money: grouped in the user's locale, two decimals.
  KVRFormatters::shared().resetLocale("en_US");
  EXPECT_EQ(KVRReportIncomeTransformer::transformedValue(lineOf(1, 103540, "CAD")), "1,035.40 CA$");
  EXPECT_EQ(KVRReportConvertIncomeTransformer::transformedValue(lineOf(2, 103540, "CAD")), "1,035.40 €");
  KVRFormatters::shared().resetLocale("de_DE");
  EXPECT_EQ(KVRReportConvertIncomeTransformer::transformedValue(lineOf(2, 103540, "CAD")), "1.035,40 €");
  KVRFormatters::shared().resetLocale();

  converter.removeAllRates();
  KVRUserDefaults::standard().removeObjectForKey("PreferedCurrency");
}

TEST(ReportValueTransformers, DatesAndEntryTypes) {
  KVRCalendar& cal = KVRCalendar::shared();
  KVRReport weekly;
  weekly.beginDate = cal.dateFromComponents(KVRDateComponents::ymd(2011, 3, 14));
  weekly.endDate = cal.dateFromComponents(KVRDateComponents::ymd(2011, 3, 20));
  KVRReport daily;
  daily.beginDate = daily.endDate = weekly.endDate;
  EXPECT_EQ(KVRReportDateTransformer::transformedValue(daily), "Mar 20, 2011");
  EXPECT_EQ(KVRReportDateTransformer::transformedValue(weekly), "Mar 14, 2011-Mar 20, 2011");
  EXPECT_EQ(KVRReportDateTransformer::transformedValue(weekly.beginDate, KVRDate()), "Mar 14, 2011");
  EXPECT_EQ(KVRReportDateTransformer::transformedValue(KVRDate(), KVRDate()), "");

  // Every line type has its name; "?" for a code that is none.
  const char* labels[] = {"?", "Sale", "Upgrade", "Refund", "In-App Purchase", "Prior Balance", "Current Month",
                          "Withholding Tax", "GST/JCT Tax", "Payment", "Reconciliation", "?"};
  for (int type = 0; type <= 11; ++type)
    EXPECT_EQ(KVRDownloadTypeTransformer::transformedValue(type), labels[type]) << type;
}
