#include "core/KVRFormatters.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/gregocal.h>
#include <unicode/numfmt.h>

#include "platform/KVRICUSupport.h"

namespace {

// Blanks and direction marks that locales put between the currency sign and
// the number.
bool isPatternSpace(UChar c) {
  return c == u' ' || c == 0x00A0 || c == 0x202F || c == 0x2009 || c == 0x200E || c == 0x200F ||
         c == 0x061C;
}

// The pattern without its currency sign and the blanks that went with it, so
// that no symbol and no stray space reach the text.
icu::UnicodeString withoutCurrencySign(const icu::UnicodeString& pattern) {
  icu::UnicodeString out;
  const int32_t n = pattern.length();
  for (int32_t i = 0; i < n; ++i) {
    const UChar c = pattern.charAt(i);
    if (c != 0x00A4) {
      out.append(c);
      continue;
    }
    // Drop the blanks and marks on either side of the sign.
    while (out.length() > 0 && isPatternSpace(out.charAt(out.length() - 1))) out.truncate(out.length() - 1);
    while (i + 1 < n && pattern.charAt(i + 1) == 0x00A4) ++i;  // "¤¤" forms
    while (i + 1 < n && isPatternSpace(pattern.charAt(i + 1))) ++i;
  }
  return out;
}

enum class NumberKind { plain, amount, percentage };

// What a figure that is not a number (or is infinite) reads as on screen.
const QString kNotAFigure = QStringLiteral("--");

std::unique_ptr<icu::NumberFormat> makeNumberFormat(NumberKind kind, const icu::Locale& locale) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> f;
  switch (kind) {
    case NumberKind::plain:
      f.reset(icu::NumberFormat::createInstance(locale, UNUM_DECIMAL, status));
      break;
    case NumberKind::amount: {
      f.reset(icu::NumberFormat::createInstance(locale, UNUM_CURRENCY, status));
      if (auto* df = dynamic_cast<icu::DecimalFormat*>(f.get())) {
        icu::UnicodeString pattern;
        df->toPattern(pattern);
        UErrorCode st = U_ZERO_ERROR;
        std::unique_ptr<icu::NumberFormat> plain(
            icu::NumberFormat::createInstance(locale, UNUM_DECIMAL, st));
        if (auto* pdf = dynamic_cast<icu::DecimalFormat*>(plain.get()); U_SUCCESS(st) && pdf) {
          pdf->applyPattern(withoutCurrencySign(pattern), st);
          // Amounts take the locale's money separators, which some locales
          // set apart from those of plain numbers (fr_CH writes its francs
          // with a point, de_AT groups euros with a point).
          icu::DecimalFormatSymbols symbols(*pdf->getDecimalFormatSymbols());
          symbols.setSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol,
                            symbols.getSymbol(icu::DecimalFormatSymbols::kMonetarySeparatorSymbol));
          symbols.setSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol,
                            symbols.getSymbol(icu::DecimalFormatSymbols::kMonetaryGroupingSeparatorSymbol));
          pdf->setDecimalFormatSymbols(symbols);
          if (U_SUCCESS(st)) f = std::move(plain);
        }
      }
      f->setMinimumFractionDigits(2);
      f->setMaximumFractionDigits(2);
      break;
    }
    case NumberKind::percentage:
      f.reset(icu::NumberFormat::createInstance(locale, UNUM_DECIMAL, status));
      if (auto* df = dynamic_cast<icu::DecimalFormat*>(f.get())) {
        df->setPositivePrefix(icu::UnicodeString());
        df->setNegativePrefix(icu::UnicodeString());
      }
      f->setMaximumFractionDigits(2);
      break;
  }
  if (U_FAILURE(status) || !f) {
    status = U_ZERO_ERROR;
    f.reset(icu::NumberFormat::createInstance(icu::Locale::getRoot(), status));
  }
  return f;
}

class NumberFormatter final : public KVRNumberFormatter {
 public:
  explicit NumberFormatter(NumberKind kind) : kind_(kind) {}

  void reset(const icu::Locale& locale) {
    std::lock_guard<std::mutex> g(lock_);
    format_ = makeNumberFormat(kind_, locale);
  }

  QString stringFromNumber(double value) const override {
    if (!std::isfinite(value)) return kNotAFigure;
    std::lock_guard<std::mutex> g(lock_);
    if (!format_) return QString();
    icu::UnicodeString out;
    format_->format(value, out);
    return KVRFromUnicodeString(out);
  }

 private:
  const NumberKind kind_;
  mutable std::mutex lock_;
  std::unique_ptr<icu::NumberFormat> format_;
};

// Gregorian in every locale, in the user's time zone, like the shared
// calendar: a date's label names the day the calendar files it under.
class DateFormatter final : public KVRDateFormatter {
 public:
  void reset(const icu::Locale& locale) {
    std::lock_guard<std::mutex> g(lock_);
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale gregorian(locale);
    gregorian.setKeywordValue("calendar", "gregorian", status);
    if (U_FAILURE(status)) gregorian = locale;
    locale_ = gregorian;
    format_.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale_));
    zoneGeneration_ = 0;
    followZone();
  }

  QString stringFromDate(KVRDate date) const override {
    if (!date.isValid()) return QString(u""_qs);
    std::lock_guard<std::mutex> g(lock_);
    if (!format_) return QString(u""_qs);
    followZone();
    icu::UnicodeString out;
    format_->format(date.ms, out);
    return KVRFromUnicodeString(out);
  }

 private:
  // Takes the user's zone again when it was resolved anew since the last use.
  void followZone() const {
    const uint64_t generation = KVRUserTimeZoneGeneration();
    if (!format_ || generation == zoneGeneration_) return;
    UErrorCode status = U_ZERO_ERROR;
    auto calendar = std::make_unique<icu::GregorianCalendar>(KVRUserTimeZone().release(), locale_, status);
    if (U_SUCCESS(status)) {
      // Proleptic, as the shared calendar is.
      calendar->setGregorianChange(-8.64e15, status);
      format_->adoptCalendar(calendar.release());
    } else {
      format_->adoptTimeZone(KVRUserTimeZone().release());
    }
    zoneGeneration_ = generation;
  }

  mutable std::mutex lock_;
  icu::Locale locale_;
  std::unique_ptr<icu::DateFormat> format_;
  mutable uint64_t zoneGeneration_ = 0;
};

struct FormatterSet {
  std::once_flag made;
  std::mutex localeLock;
  icu::Locale numbersLocale;
  NumberFormatter plain{NumberKind::plain};
  NumberFormatter amount{NumberKind::amount};
  NumberFormatter percentage{NumberKind::percentage};
  DateFormatter date;

  // Figures follow the numbers locale (LC_NUMERIC), dates the dates locale
  // (LC_TIME); a locale named here serves both.
  void reset(const QString& localeName) {
    const icu::Locale numbers = KVRLocaleNamed(localeName, KVRLocaleCategory::numbers);
    {
      std::lock_guard<std::mutex> g(localeLock);
      numbersLocale = numbers;
    }
    plain.reset(numbers);
    amount.reset(numbers);
    percentage.reset(numbers);
    date.reset(KVRLocaleNamed(localeName, KVRLocaleCategory::dates));
  }
};

FormatterSet& formatters() {
  static FormatterSet set;
  std::call_once(set.made, [] { set.reset(QString()); });
  return set;
}

}  // namespace

KVRFormatters& KVRFormatters::shared() {
  static KVRFormatters instance;
  return instance;
}

const KVRNumberFormatter& KVRFormatters::currencyFormatter() { return formatters().plain; }

const KVRNumberFormatter& KVRFormatters::currencyFormatterWithFloats() {
  return formatters().amount;
}

const KVRNumberFormatter& KVRFormatters::currencyFormatterWithPrefixAndFloats() {
  return formatters().percentage;
}

const KVRDateFormatter& KVRFormatters::numberedDateFormatter() { return formatters().date; }

void KVRFormatters::resetLocale(const QString& icuLocale) { formatters().reset(icuLocale); }

icu::Locale KVRFormatters::numbersLocale() {
  FormatterSet& set = formatters();
  std::lock_guard<std::mutex> g(set.localeLock);
  return set.numbersLocale;
}

QString KVRFormatters::amountInLocale(double value, const icu::Locale& locale) {
  NumberFormatter amount(NumberKind::amount);
  amount.reset(locale);
  return amount.stringFromNumber(value);
}
