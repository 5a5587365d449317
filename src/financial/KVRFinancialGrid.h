#pragma once
// The financial grid: for the three months on show (the month window), one
// cell per region and month, a title cell per region, and one total per
// month, as display records that the grid's views, the details panel, the
// trend and the payment actions read. Built anew on every rebuild, month
// step, currency mode change; keeps no state.
//
// Region grid: for region rows 1 to 18, the title cell then the cells of the
// window's columns 0, 1, 2: the cell of row r and column c is element
// (r - 1) x 4 + 1 + c. All-regions grid: the totals of columns 0, 1, 2.
#include <QColor>
#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "financial/KVRFinancialStatement.h"

// The currency mode of the screen (its three segments).
enum KVRCurrencyMode : int {
  KVRCurrencyModePreferred = 0,  // the preferred currency
  KVRCurrencyModeLocal = 1,      // each region's report currency
  KVRCurrencyModeUnits = 2,      // units
};

enum class KVRFinancialCellKind {
  title,   // a region's label
  empty,   // a column beyond the month records
  noData,  // a month without financial report or payment record for the region
  month,   // a month of a region
  total,   // a month of all regions
};

// One cell (a "financial value").
struct KVRFinancialValue {
  KVRFinancialCellKind kind = KVRFinancialCellKind::empty;
  QString income;       // Income: the figure in the chosen unit ("--" when none)
  QString incomePref;   // IncomePref: preferred-currency text (row label in a title cell)
  QString incomeLocal;  // IncomeLocal: local-currency text (row label in a title cell)
  // Total cells: the month's total in the preferred currency (IncomePref and
  // IncomeLocal as a number).
  std::optional<float> totalAmount;
  std::optional<float> incomeLocalValue;  // IncomeLocalValue: the local amount (month and no-data cells)
  std::optional<QString> units;           // Units (month and total cells)
  std::optional<QColor> badgeColor;       // BadgeColor
  QString month;                          // Month: the caption, "--" for title and empty cells
  QString region;                         // Region: the row label
  std::optional<KVRMonthKey> monthDate;   // MonthDate
  std::optional<QString> regionCode;      // RegionCode
  KVRPaymentRecordRef paymentDict;        // PaymentDict
  std::optional<QString> paymentMonth;    // PaymentMonth: caption of the paying month
  bool hidePayment = true;                // HidePayment
  bool enablePayment = false;             // EnablePayment
  // Status: the month's financial report is there, or missing.
  enum Status : int { ReportThere = 1, ReportMissing = 2 };
  int status = ReportThere;
  // Several selected accounts have an estimate or a payment here: a payment
  // is created or reconciled with one account selected.
  bool severalAccounts = false;

  bool isEmptyCell() const { return month == QLatin1String("--"); }
};

struct KVRFinancialGrid {
  std::array<QString, 3> captions{};      // displayedFinancialsMonths
  std::vector<KVRFinancialValue> values;  // displayedFinancialsValues: 18 x 4
  std::vector<KVRFinancialValue> totals;  // displayedFinancialsValuesAll: 3

  static constexpr int kColumns = 4;  // title + three months
  static int indexOf(int row, int column) { return (row - 1) * kColumns + column; }  // row 1-18, column 0-3
  const KVRFinancialValue* value(int index) const;
  const KVRFinancialValue* total(int index) const;
  // The label cell before the totals: all regions' label, in grey.
  KVRFinancialValue allRegionsTitle() const;
};

struct KVRFinancialGridInput {
  const KVRFinancialStatement* statement = nullptr;  // null: no month record
  const KVRRegionRowTable* rows = nullptr;           // labels and codes (financialsArray)
  int selectedMonth = 0;                             // first month of the window
  int currencyMode = KVRCurrencyModePreferred;
  bool productsSelected = false;  // selectedProducts is not empty
  bool accountSelected = false;   // isAccountSelected
  QString preferredSymbol;
};

// The colours of the grid.
QColor KVRFinancialGreyColor();  // calibrated white 0.85
QColor KVRFinancialRedColor();   // the title cells' badge

KVRFinancialGrid KVRBuildFinancialGrid(const KVRFinancialGridInput& input);
