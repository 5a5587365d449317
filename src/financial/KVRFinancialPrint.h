#pragma once
// The printed financial statement: what the reports screen puts into the
// financial print layout. From the top of a portrait page: the title, the
// grid of the three months with their totals (first graph box), the bar chart
// of the year's income per region (second graph box), then the selected
// cell's details, its monthly trend and the year totals by region (the three
// table boxes). The figures are the screen's own records. Below, the pieces
// of the page that draw them: the grid, a box of text lines, the year totals.
#include <QString>
#include <QStringList>
#include <QWidget>
#include <utility>
#include <vector>

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

// The grid's three months and totals, drawn to fill the box.
class KVRFinancialGridPrint : public QWidget {
 public:
  explicit KVRFinancialGridPrint(QWidget* parent = nullptr) : QWidget(parent) {}
  void setGrid(const KVRFinancialGrid& grid) { grid_ = grid; update(); }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  KVRFinancialGrid grid_;
};

// A title and lines of text.
class KVRPrintTextBox : public QWidget {
 public:
  explicit KVRPrintTextBox(QWidget* parent = nullptr) : QWidget(parent) {}
  void setLines(const QString& title, const QStringList& lines) { title_ = title; lines_ = lines; update(); }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString title_;
  QStringList lines_;
};

// The year totals by region in two columns.
class KVRRegionsPrint : public QWidget {
 public:
  explicit KVRRegionsPrint(QWidget* parent = nullptr) : QWidget(parent) {}
  void setRows(const QString& title, const std::vector<std::pair<QString, QString>>& rows) {
    title_ = title;
    rows_ = rows;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString title_;
  std::vector<std::pair<QString, QString>> rows_;
};
