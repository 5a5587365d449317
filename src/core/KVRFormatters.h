#pragma once
// The four shared formatters, on ICU in the user's locale: figures in the
// numbers locale (LC_NUMERIC), dates in the dates locale (LC_TIME), LC_ALL
// over both. Callers serialise their use with the application's
// formatterLock; each formatter also locks itself, so a caller that forgets
// is still safe. A figure that is not a finite number reads "--".
#include <QString>
#include <unicode/locid.h>

#include "platform/KVRDate.h"

class KVRNumberFormatter {
 public:
  virtual ~KVRNumberFormatter() = default;
  virtual QString stringFromNumber(double value) const = 0;
};

class KVRDateFormatter {
 public:
  virtual ~KVRDateFormatter() = default;
  virtual QString stringFromDate(KVRDate date) const = 0;  // "" for no date
};

class KVRFormatters {
 public:
  static KVRFormatters& shared();
  // Decimal style, nothing else set: counts and rounded money.
  const KVRNumberFormatter& currencyFormatter();
  // Currency style with exactly two fraction digits and no currency symbol,
  // with the locale's money separators.
  const KVRNumberFormatter& currencyFormatterWithFloats();
  // Decimal, no sign ever written, at most two fraction digits.
  const KVRNumberFormatter& currencyFormatterWithPrefixAndFloats();
  // Short date style, no time, the user's locale, always Gregorian, in the
  // user's time zone (the shared calendar's).
  const KVRDateFormatter& numberedDateFormatter();

  // Rebuilds the formatters for a locale such as "en_US" or "fr_FR" (tests);
  // empty for the user's locale.
  void resetLocale(const QString& icuLocale = QString());
  // The locale the figures are written in (and typed amounts read in).
  icu::Locale numbersLocale();

  // An amount as currencyFormatterWithFloats writes it in another locale
  // (the amount typed in a field is read, and shown as expected, in the
  // locale of the field's reader).
  static QString amountInLocale(double value, const icu::Locale& locale);
};
