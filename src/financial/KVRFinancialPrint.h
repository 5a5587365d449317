#pragma once
// The printed financial statement: what the reports screen puts into the
// financial print layout. From the top of a portrait page: the title, the
// grid of the three months with their totals (first graph box), the bar chart
// of the year's income per region (second graph box), then the selected
// cell's details, its monthly trend and the year totals by region (the three
// table boxes). The figures are the screen's own records.
#include <QString>

#include "financial/KVRFinancialDetails.h"
#include "financial/KVRFinancialGrid.h"
#include "financial/KVRFinancialTrend.h"

class KVRPrintViewFinancial;

struct KVRFinancialPrintContent {
  QString title;         // prPrintTitle: "Financial Report for %1"
  QString incomesTitle;  // prIncomesTitle: "2011 incomes"
  QString trendLabel;
  KVRFinancialGrid grid;
  KVRFinancialTrend trend;
  KVRFinancialDetailsState details;
  KVRRegionRowTable yearTable = KVRMakeRegionRowTable();
  int currencyMode = KVRCurrencyModePreferred;
  bool accountSelected = false;
  QString preferredSymbol;
};

// Fills the layout's boxes (their content made on first use) with the content.
void KVRFillFinancialPrint(KVRPrintViewFinancial& view, const KVRFinancialPrintContent& content);
