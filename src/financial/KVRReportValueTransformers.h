#pragma once
// What the report tables show of a report line or a report: the amount texts
// in the line's currency and in the preferred currency, the date or date
// range, the entry-type label, and the sort value of the "income" column.
// Plain functions for the table models; main thread.
#include <QString>

#include "platform/KVRDate.h"

struct KVRReport;
struct KVRReportEntry;

// count x income / 100 in single precision, in the line's own currency.
float KVRIncomeForCompare(const KVRReportEntry& line);

// "--" when the line's income is 0; else the amount text (KVRFinancialTexts:
// the user's grouped form with two decimals) of count x income / 100 and the
// symbol of the line's currency (its code when it has none).
struct KVRReportIncomeTransformer {
  static QString transformedValue(const KVRReportEntry& line);
};

// The same amount converted into the preferred currency, with its symbol.
struct KVRReportConvertIncomeTransformer {
  static QString transformedValue(const KVRReportEntry& line);
};

// The begin date alone when there is no end date or both are equal, else
// "begin-end"; medium date style of the user's locale, under the formatter
// lock. "" without a begin date.
struct KVRReportDateTransformer {
  static QString transformedValue(KVRDate beginDate, KVRDate endDate);
  static QString transformedValue(const KVRReport& report);
  static QString transformedValue(const KVRReportEntry& line);
  // Drops the kept formatter, so the next use follows a new locale or zone.
  static void resetFormatter();
};

// "Sale", "Upgrade", "Refund", "In-App Purchase", "Prior Balance",
// "Current Month", "Withholding Tax", "GST/JCT Tax", "Payment",
// "Reconciliation"; "?" for a code that is none of these.
struct KVRDownloadTypeTransformer {
  static QString transformedValue(int entryType);
};
