#pragma once
// Reading an amount of money from a text: the amount the user typed as
// received (typed), or an amount the application wrote itself with the
// shared amount formatter and a currency symbol (formatted).
//
// In this order, each step ending the reading when it yields a number:
//  1. every currency symbol of the currency table is taken out, the longer
//     ones first, so that "CA$" goes whole and never leaves a stray "CA"
//     behind "$"; a row without symbol is skipped;
//  2. typed only: every apostrophe "'" is taken out (1'000);
//  3. the text is read as a number of the locale: its own decimal and
//     grouping separators, those of money too where the locale sets them
//     apart, groups where the locale puts them (1.234,56 in German, but
//     not 12.5);
//  4. again with blanks, tabs, no-break and narrow no-break spaces trimmed
//     at both ends;
//  5. again with the no-break and narrow no-break spaces inside made blanks;
//  6. again with every blank taken out (1 234,56);
//  7. typed only: when the text holds both "." and "," and the first ","
//     stands before the first ".", the commas are taken out and the rest is
//     read as in 3, else its leading number (point as decimal separator);
//  8. the leading number of the text of step 6: the longer of the locale's
//     reading and the point-decimal reading (12.5abc is 12.5).
// Only a finite number is an amount: a text in which no step finds a number,
// or that reads as "not a number" or an infinity, is refused with a message
// that says so.
#include <QString>
#include <optional>
#include <unicode/locid.h>


enum class KVRAmountTextVariant {
  typed,      // what the user typed into the amount field
  formatted,  // an amount the application formatted itself
};

struct KVRAmountReading {
  std::optional<double> value;  // set when the text holds an amount
  QString error;                // why it was refused, for the user
  bool ok() const { return value.has_value(); }
};

// The text read in the numbers of `locale`.
KVRAmountReading KVRReadAmountText(const QString& text, KVRAmountTextVariant variant, const icu::Locale& locale);
