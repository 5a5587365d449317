#pragma once
// Figures computed from the financial statement after each rebuild, and the
// one rounding they share:
//  - round2: an amount rounded to hundredths, half away from zero, through a
//    64-bit integer (2.345 -> 2.35, -1.234 -> -1.23, -1.235 -> -1.24);
//  - the year totals: per region, the sum over the year's months of the
//    rounded amounts after the payment ratios (what the bar chart and the
//    regions tables show);
//  - the fixed income of every month: the same sum over the regions of one
//    month, in the preferred currency (what the trend compares for all
//    regions).
// A region counts in a month when the month has its financial report or a
// payment record for it. The figures of every region and month are computed
// once (KVRComputeRegionFigures) and every view reads them: grid cells and
// totals, year totals, fixed income, trend. They round with KVRRound2 and
// nothing else.
#include <cstdint>
#include <vector>

#include "financial/KVRFinancialStatement.h"

// round2, in single precision: (x x 100 +/- 0.5) truncated toward zero in 64
// bits, divided by 100. No number gives 0.
float KVRRound2(float x);
// The hundredths of round2: (x x 100 +/- 0.5) truncated toward zero (what
// an amount text shows).
int64_t KVRRound2Hundredths(float x);

// Whether a region row (1 to 18) counts in a month: its financial report of
// the selected products, or a payment record.
bool KVRRegionCountsInMonth(const KVRFinancialStatement& st, const KVRFinancialMonth& month, int row);

// Fills the figures of every month (KVRFinancialMonth::figures): rows 1 to 18
// from the month's parts (each account on its own, then summed), row 0 the
// sum of the rows that count (preferred amounts and units).
void KVRComputeRegionFigures(KVRFinancialStatement& st);

// A region's figure in a currency mode (KVRCurrencyMode: 0 preferred, 1
// local, 2 units).
float KVRFigureInMode(const KVRRegionFigure& figure, int mode);

// The year totals table of a year: the rows' labels and codes from `rows`,
// Income and IncomeLocal the sums of the year's months (rows 1 to 18, row 0
// their total).
KVRRegionRowTable KVRYearTotals(const KVRFinancialStatement& st, int year, const KVRRegionRowTable& rows);

// The fixed income of every month record, in order: the sum over regions 1
// to 18 of the rounded preferred-currency amounts.
std::vector<float> KVRFixedIncomes(const KVRFinancialStatement& st);
