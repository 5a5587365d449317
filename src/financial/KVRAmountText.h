#pragma once
// Reading an amount from what the user typed: the one reader of every amount
// field (the amount received of the statement, the payment of the report
// lines' sheet, a cost, a partner's cost and royalties).
//
// The whole text is one number of the locale, or it is refused:
//  - blanks (the no-break and narrow no-break spaces included) at both ends
//    are ignored, and so is one currency symbol of the currency table or one
//    currency code ("EUR") before or after the number (money only), the
//    longer symbols first, so that "CA$" goes whole;
//  - the number is read with the locale's own decimal and grouping
//    separators (those of money too, where the locale sets them apart):
//    "1,234.56" in English, "1.234,56" in German; groups stand where the
//    locale puts them, or between groups of two or three digits with the
//    last of three (1,234,567.00 and 12,34,567.00 both read in English and
//    in India); a blank or an apostrophe inside stands for the locale's
//    grouping separator ("1 234,56", "1'000");
//  - an exponent ("1e3"), anything left over ("12.5abc"), a number of the
//    other convention ("1.234,56" in English), "not a number" or an infinity
//    is refused, with a message that shows the form expected;
//  - a magnitude of KVRAmountLimit or more is refused as out of range;
//  - each kind has its range (below), refused with a message that says so.
// A refused text yields no value: the caller stores nothing.
#include <QString>
#include <optional>
#include <unicode/locid.h>

enum class KVRAmountKind {
  received,  // an amount received: above zero (0 or less reads "not reconciled")
  cost,      // a cost, a partner's cost: zero or more
  share,     // royalties: a share from 0 to 1 (0.35), no currency symbol
  any,       // any amount, such as one the application wrote itself
};

// Amounts from this magnitude on are out of range.
inline constexpr double KVRAmountLimit = 1e12;

struct KVRAmountReading {
  std::optional<double> value;  // set when the text holds an amount of the kind
  QString error;                // why it was refused, for the user
  bool ok() const { return value.has_value(); }
};

// The text read in the numbers of `locale`.
KVRAmountReading KVRReadAmountText(const QString& text, KVRAmountKind kind, const icu::Locale& locale);
// The text read in the locale the shared formatters write figures in.
KVRAmountReading KVRReadAmountText(const QString& text, KVRAmountKind kind);
