#include "print/KVRPrintViewRankings.h"

#include <cmath>

KVRPrintViewRankings::KVRPrintViewRankings(QWidget* parent) : KVRTitledPrintView(parent) {
  graphView_ = new KVRPrintBox(this);
  tableView_ = new KVRPrintBox(this);
  titleLabel_->resize(1110, 50);
  trendBox_->resize(203, 200);
  displaySettingsBox_->resize(1110, 84);
}

void KVRPrintViewRankings::adjustSizingForPrinting(const QSizeF& printable) {
  hideTrendAndSettings();
  KVRRankingsPrintSizes s;
  s.titleHeight = titleLabel_->height();
  s.displaySettingsHeight = displaySettingsBox_->height();
  s.trendHeight = trendBox_->height();
  const KVRRankingsPrintLayout L = KVRLayoutRankingsPrint(printable.width(), printable.height(), s);
  resize(int(std::lround(L.width)), int(std::lround(L.height)));
  place(titleLabel_, L.title);
  place(displaySettingsBox_, L.displaySettings);
  place(graphView_, L.graph);
  place(tableView_, L.table);
  place(footer_, L.footer);
  layOutContents();
}
