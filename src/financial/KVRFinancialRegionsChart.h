#pragma once
// What the bar chart of the year's income per region and the regions tables
// show of the year totals table (financialsArray): plain answers, asked by the
// views while they draw.
//
// Bar chart: 19 parts, one per region row, labelled with the region code;
// the ad part counts only while a store account is selected. In the local
// currency mode every region part shows its income in its own currency.
// Regions tables: 19 rows, the regions AU to iAd, then all regions.
#include <QColor>
#include <QString>

#include "financial/KVRFinancialGrid.h"

class KVRFinancialRegionsChart {
 public:
  KVRFinancialRegionsChart() = default;
  KVRFinancialRegionsChart(const KVRRegionRowTable* rows, int currencyMode, bool accountSelected,
                           QString preferredSymbol)
      : rows_(rows), mode_(currencyMode), accountSelected_(accountSelected), preferredSymbol_(std::move(preferredSymbol)) {}

  // --- Bar chart
  static constexpr int partCount() { return KVRFinancialRegionCount; }
  QString legend(int part) const;
  static QColor color();
  // Part -1 is the chart's scale.
  float value(int part) const;
  // A fraction of all regions' income.
  float percent(int part) const;
  // "%@ €": the symbol of the part's figures.
  QString valueLabelFormat(int part) const;

  // --- Regions tables
  static constexpr int tableRowCount() { return KVRFinancialRegionCount; }
  // The region row a table row shows: AU to iAd, then all regions.
  static int regionRowOfTableRow(int tableRow) { return (tableRow + 1) % KVRFinancialRegionCount; }
  QString tableLabel(int tableRow) const;
  // The row's income as an amount in the preferred currency; "--" for 0.
  QString tableIncome(int tableRow) const;

 private:
  const KVRRegionRow* row(int r) const;
  const KVRRegionRowTable* rows_ = nullptr;
  int mode_ = KVRCurrencyModePreferred;
  bool accountSelected_ = false;
  QString preferredSymbol_;
};
