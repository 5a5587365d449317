#pragma once
// The texts the financial screen, its panel and its print share, so that one
// figure reads the same wherever it is shown:
//  - an amount (the one form of money): rounded to hundredths once (round2,
//    half away from zero), written by the shared amount formatter (grouped,
//    two decimals, the user's separators), a blank and a currency symbol;
//  - units: the whole number, truncated toward zero, grouped like every
//    count (the shared decimal formatter's text);
//  - a month caption: the month in the localized "MMM yyyy" form, Gregorian,
//    in the user's locale ("Apr 2011").
// Every use of a shared formatter holds the application's formatter lock.
#include <QString>

#include "financial/KVRFinancialStatement.h"

// "1,234.56 €". A symbol that is empty leaves the amount alone.
QString KVRFinancialAmountText(double amount, const QString& symbol);
// The shared amount formatter's text alone ("1,234.56").
QString KVRFinancialAmountNumber(double amount);
// The shared decimal formatter's text ("1,234").
QString KVRFinancialDecimalText(double value);
// The shared percentage formatter's text, without sign ("50", "12.35").
QString KVRFinancialPercentText(double value);
// The value truncated toward zero (saturated; 0 for no number), grouped
// ("1,234").
QString KVRFinancialUnitsText(double units);

// The symbol of a region's currency; the "US" region's when the region has
// none (the ad region).
QString KVRRegionCurrencySymbol(const QString& regionCode);
// The symbol of a currency code; the code itself when the table has no
// symbol for it.
QString KVRCurrencySymbolOrCode(const QString& currencyCode);

// The month caption of a month.
QString KVRMonthCaption(KVRMonthKey month);
// Makes the month captions follow another locale ("en_US", "fr_FR"); empty:
// the user's (tests).
void KVRResetMonthCaptionLocale(const QString& icuLocale = QString());
