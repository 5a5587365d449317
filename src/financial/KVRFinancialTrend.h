#pragma once
// The monthly trend: the month of the selected grid cell against the month
// before it, for the cell's region or for all regions, in the chosen unit.
// The same record fills the screen's trend view and its print twin.
//
// Region cell: the two months' figures of that region (in the preferred
// currency the reconciled amount, in the local currency the paid amount,
// where the month has payments), both scaled by the cell's Japanese ratio.
// Total cell: the months' fixed incomes, or their units.
// No trend (all fields empty) for no cell, a title or empty cell, the first
// month record, or a column beyond the records.
#include <QString>
#include <optional>
#include <set>
#include <vector>

#include "financial/KVRFinancialGrid.h"

struct KVRFinancialTrend {
  enum class State { none, steady, rise, fall };
  State state = State::none;
  QString arrowImage;                     // "up_arrow", "down_arrow", "noev_arrow"; empty: none
  QString badgeImage = "evolution_blue";  // "evolution_green", "evolution_red", "evolution_blue"
  QString title = "--";                   // the difference
  QString alternateTitle = "--";          // the change in percent
  // The figure positions of the view.
  QString lastDayValueLeft, lastDayValueRight, currentDayValueLeft, currentDayValueRight;
  float current = 0, previous = 0;  // the two figures compared
};

struct KVRFinancialTrendInput {
  const KVRFinancialStatement* statement = nullptr;
  const std::vector<float>* fixedIncomes = nullptr;  // one per month record
  const KVRFinancialValue* value = nullptr;          // the selected cell
  int selectedMonth = 0;
  bool allSelected = false;            // the selection lies in the all-regions grid
  std::optional<int> selectedTotal;    // first index of the all-regions selection
  int currencyMode = KVRCurrencyModePreferred;
  QString preferredSymbol;
};

KVRFinancialTrend KVRComputeFinancialTrend(const KVRFinancialTrendInput& input);
