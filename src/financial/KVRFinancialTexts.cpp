#include "financial/KVRFinancialTexts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unicode/gregocal.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRFormatters.h"
#include "financial/KVRFinancialFigures.h"
#include "platform/KVRICUSupport.h"
#include "platform/KVRLocalization.h"

namespace {

// Month captions: a civil month formatted at its first day, 00:00 GMT, by a
// Gregorian calendar in GMT, so that the caption names the month itself in
// every time zone.
class MonthCaptions {
 public:
  QString caption(KVRMonthKey month) {
    std::lock_guard<std::mutex> g(lock_);
    const QString pattern = KVRLocalized("MMM yyyy");
    if (!format_ || pattern != pattern_) make(pattern);
    if (!format_) return QString();
    const double ms = double(KVRCivilDayFromYMD(month.year, unsigned(month.month), 1)) * 86400000.0;
    icu::UnicodeString out;
    format_->format(ms, out);
    return KVRFromUnicodeString(out);
  }
  void reset(const QString& locale) {
    std::lock_guard<std::mutex> g(lock_);
    localeName_ = locale;
    format_.reset();
  }

 private:
  void make(const QString& pattern) {
    pattern_ = pattern;
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = KVRLocaleNamed(localeName_, KVRLocaleCategory::dates);
    locale.setKeywordValue("calendar", "gregorian", status);
    status = U_ZERO_ERROR;
    auto f = std::make_unique<icu::SimpleDateFormat>(KVRToUnicodeString(pattern), locale, status);
    if (U_FAILURE(status)) {
      format_.reset();
      return;
    }
    auto calendar = std::make_unique<icu::GregorianCalendar>(icu::TimeZone::getGMT()->clone(), locale, status);
    if (U_SUCCESS(status)) {
      calendar->setGregorianChange(-8.64e15, status);
      f->adoptCalendar(calendar.release());
    }
    format_ = std::move(f);
  }

  std::mutex lock_;
  QString localeName_;
  QString pattern_;
  std::unique_ptr<icu::SimpleDateFormat> format_;
};

MonthCaptions& monthCaptions() {
  static MonthCaptions captions;
  return captions;
}

}  // namespace

QString KVRFinancialAmountNumber(double amount) {
  // The one rounding of money: round2, half away from zero. The formatter is
  // then given the hundredths themselves, so that it has nothing left to
  // round (it would round a half to even: 1.125 to 1.12).
  double shown = amount;
  if (std::isfinite(amount) && std::isfinite(float(amount))) shown = double(KVRRound2Hundredths(float(amount))) / 100.0;
  auto guard = KVRApplicationServices::lockFormatters();
  return KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(shown);
}

QString KVRFinancialAmountText(double amount, const QString& symbol) {
  const QString number = KVRFinancialAmountNumber(amount);
  return symbol.isEmpty() ? number : number + u' ' + symbol;
}

QString KVRFinancialDecimalText(double value) {
  auto guard = KVRApplicationServices::lockFormatters();
  return KVRFormatters::shared().currencyFormatter().stringFromNumber(value);
}

QString KVRFinancialPercentText(double value) {
  auto guard = KVRApplicationServices::lockFormatters();
  return KVRFormatters::shared().currencyFormatterWithPrefixAndFloats().stringFromNumber(value);
}

QString KVRFinancialUnitsText(double units) {
  if (std::isnan(units)) units = 0;
  return KVRFinancialDecimalText(std::trunc(std::clamp(units, -9.2e18, 9.2e18)));
}

QString KVRRegionCurrencySymbol(const QString& regionCode) {
  const QString symbol = KVRVortelyCurrencyConverter::currencySymbolForCurrencyRegion(regionCode);
  if (!symbol.isEmpty()) return symbol;
  return KVRVortelyCurrencyConverter::currencySymbolForCurrencyRegion(QStringLiteral("US"));
}

QString KVRCurrencySymbolOrCode(const QString& currencyCode) {
  const QString symbol = KVRVortelyCurrencyConverter::currencySymbolForCurrencyValue(currencyCode);
  return symbol.isEmpty() ? currencyCode : symbol;
}

QString KVRMonthCaption(KVRMonthKey month) {
  if (!month.isValid()) return QStringLiteral("--");
  return monthCaptions().caption(month);
}

void KVRResetMonthCaptionLocale(const QString& icuLocale) { monthCaptions().reset(icuLocale); }
