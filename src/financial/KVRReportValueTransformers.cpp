#include "financial/KVRReportValueTransformers.h"

#include <memory>
#include <mutex>
#include <unicode/datefmt.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVREntities.h"
#include "financial/KVRFinancialTexts.h"
#include "platform/KVRICUSupport.h"

namespace {

float lineAmount(const KVRReportEntry& line) { return float(line.count) * float(line.income) / 100.0f; }


// The date transformer's own formatter, made on first use; used and replaced
// under the formatter lock only.
std::unique_ptr<icu::DateFormat>& dateFormat() {
  static std::unique_ptr<icu::DateFormat> format;
  return format;
}

}  // namespace

float KVRIncomeForCompare(const KVRReportEntry& line) { return lineAmount(line); }

QString KVRReportIncomeTransformer::transformedValue(const KVRReportEntry& line) {
  if (line.income == 0) return QStringLiteral("--");
  return KVRFinancialAmountText(lineAmount(line), KVRCurrencySymbolOrCode(line.currency));
}

QString KVRReportConvertIncomeTransformer::transformedValue(const KVRReportEntry& line) {
  if (line.income == 0) return QStringLiteral("--");
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  return KVRFinancialAmountText(converter.floatConvertAmountToPreferedCurrency(lineAmount(line), line.currency),
                                converter.preferedCurrencySymbol());
}

QString KVRReportDateTransformer::transformedValue(KVRDate beginDate, KVRDate endDate) {
  if (!beginDate.isValid()) return QString(u""_qs);
  auto guard = KVRApplicationServices::lockFormatters();
  std::unique_ptr<icu::DateFormat>& format = dateFormat();
  if (!format) {
    icu::Locale locale = KVRUserLocale();
    UErrorCode status = U_ZERO_ERROR;
    locale.setKeywordValue("calendar", "gregorian", status);
    format.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, locale));
    if (!format) return QString(u""_qs);
    format->adoptTimeZone(KVRUserTimeZone().release());
  }
  auto text = [&](KVRDate d) {
    icu::UnicodeString out;
    format->format(d.ms, out);
    return KVRFromUnicodeString(out);
  };
  if (!endDate.isValid() || endDate == beginDate) return text(beginDate);
  return text(beginDate) + u'-' + text(endDate);
}

QString KVRReportDateTransformer::transformedValue(const KVRReport& report) {
  return transformedValue(report.beginDate, report.endDate);
}

QString KVRReportDateTransformer::transformedValue(const KVRReportEntry& line) {
  return transformedValue(line.beginDate, line.endDate);
}

void KVRReportDateTransformer::resetFormatter() {
  auto guard = KVRApplicationServices::lockFormatters();
  dateFormat().reset();
}

QString KVRDownloadTypeTransformer::transformedValue(int entryType) {
  switch (entryType) {
    case KVREntryTypeSale: return QStringLiteral("Sale");
    case KVREntryTypeUpgrade: return QStringLiteral("Upgrade");
    case KVREntryTypeRefund: return QStringLiteral("Refund");
    case KVREntryTypeInAppPurchase: return QStringLiteral("In-App Purchase");
    case KVREntryTypePriorBalance: return QStringLiteral("Prior Balance");
    case KVREntryTypeCurrentMonth: return QStringLiteral("Current Month");
    case KVREntryTypeWithholdingTax: return QStringLiteral("Withholding Tax");
    case KVREntryTypeGstJctTax: return QStringLiteral("GST/JCT Tax");
    case KVREntryTypePayment: return QStringLiteral("Payment");
    case KVREntryTypeReconciliation: return QStringLiteral("Reconciliation");
    default: return QStringLiteral("?");
  }
}
