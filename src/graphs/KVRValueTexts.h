#pragma once
// One figure, one text. Every text of money, counts and percentages that the
// screens, their charts and the printed pages show is made here, through the
// shared formatters, so that a quantity shown in two places reads the same:
//
// - money: two decimals, or whole units when the user rounds money, followed
//   by a blank and the currency symbol;
// - counts: whole numbers;
// - percentages: two decimals and " %".
//
// Money is rounded once, by the amount formatter's rule: half to even on the
// shortest decimal form of the value. KVRRoundedToCents applies that rule to a
// number, so that a figure kept rounded (the counter's target) prints with the
// digits of the unrounded value.
#include <QString>
#include <cstdint>
#include <optional>

// The value rounded to hundredths as the amount formatter rounds it; a value
// that is no number is returned as it is.
double KVRRoundedToCents(double value);
// x + 0.5 truncated toward zero; 0 for a value that is no number.
int64_t KVRWholeNumber(double value);

// "1,234" (rounded to a whole number).
QString KVRCountText(double value);
// "1,234.50", or "1,235" in whole units.
QString KVRAmountText(double value, bool wholeUnits);
// "1,234.50 €", or "1,235 €" in whole units.
QString KVRMoneyText(double value, bool wholeUnits, const QString& symbol);
// A percentage given in percent: 6.6 -> "6.60 %".
QString KVRPercentText(double percent);

// The kind of figure a value format of the graph data sources stands for (see
// KVRApplyValueFormat): no format, or one without "%@", a count; a format
// with "%%", a percentage; any other, money (its symbol in the format).
enum class KVRValueKind { count, money, percent };
KVRValueKind KVRValueKindOfFormat(const std::optional<QString>& format);
// A value in its form, put into its format.
QString KVRFormattedValueText(const std::optional<QString>& format, double value, bool wholeMoney);
