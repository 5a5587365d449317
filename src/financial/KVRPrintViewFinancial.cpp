#include "financial/KVRPrintViewFinancial.h"

#include "graphs/KVRVortelyBarGraphView.h"
#include <cmath>

KVRPrintViewFinancial::KVRPrintViewFinancial(QWidget* parent) : KVRTitledPrintView(parent) {
  graphView1_ = new KVRPrintBox(this);
  graphView2_ = new KVRPrintBox(this);
  tableView1_ = new KVRPrintBox(this);
  tableView2_ = new KVRPrintBox(this);
  tableView3_ = new KVRPrintBox(this);
  barView_ = new KVRVortelyBarGraphView;
  graphView2_->setContent(barView_);

  original_.titleHeight = 50;
  original_.table1Height = 300;
  original_.table2Height = 300;
  original_.table3Height = 300;
  original_.trendWidth = 203;
  original_.trendHeight = 200;
}

void KVRPrintViewFinancial::adjustSizingForPrinting(const QSizeF& printable) {
  hideTrendAndSettings();
  // A new paper size lays the page out again, not only a new orientation.
  if (laidOut_ == printable) return;
  laidOut_ = printable;
  ++passes_;

  const KVRFinancialPrintLayout L = KVRLayoutFinancialPrint(printable.width(), printable.height(), original_);
  resize(int(std::lround(L.width)), int(std::lround(L.height)));
  place(titleLabel_, L.title);
  if (!L.portrait) {
    place(trendBox_, L.trend);
    place(displaySettingsBox_, L.displaySettings);
  }
  place(tableView1_, L.table1);
  place(tableView2_, L.table2);
  place(tableView3_, L.table3);
  place(graphView1_, L.graph1);
  place(graphView2_, L.graph2);
  barView_->setShowValuesInsteadOfPercent(1);
  place(footer_, L.footer);
  layOutContents();
  layout_ = L.portrait ? 1 : 2;
}
