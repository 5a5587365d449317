#pragma once
// The monthly trend: the month of the selected grid cell against the month
// before it, for the cell's region or for all regions, in the chosen unit.
// The same record fills the screen's trend view and its print twin.
//
// Region cell of a store account selection: the two months' figures of that
// region (in the preferred currency the money received once reconciled, the
// estimate while it is not; in the local currency the paid amount, where the
// month has payments), both scaled by the cell's Japanese ratio; with several
// accounts, the sum of what each account alone would show.
// Region cell of a product selection: the two months' cells as the grid
// shows them (the account's payments are not the products' money).
// Total cell: the months' fixed incomes, or their units.
// Amount texts show round2 of the figures.
// No trend (all fields empty) for no cell, a title or empty cell, the first
// month record, or a column beyond the records.
#include <QString>
#include <optional>
#include <set>
#include <vector>

#include "financial/KVRFinancialGrid.h"
#include "graphs/KVREvolutionView.h"

// The texts of the evolution view (arrow, badge image, difference, percentage
// and the four figure positions), with the comparison they come from.
struct KVRFinancialTrend : KVREvolutionTexts {
  enum class State { none, steady, rise, fall };
  State state = State::none;
  float current = 0, previous = 0;  // the two figures compared

  KVRFinancialTrend() {
    badgeImage = QStringLiteral("evolution_blue");
    title = alternateTitle = QStringLiteral("--");
  }
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
