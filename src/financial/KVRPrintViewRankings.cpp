#include "financial/KVRPrintViewRankings.h"

#include <cmath>

#include "platform/KVRLocalization.h"

KVRPrintViewRankings::KVRPrintViewRankings(QWidget* parent) : KVRPrintViewBase(parent) {
  titleLabel_ = makeLabel(this, 34, true);
  footer_ = makeLabel(this, 14, false, Qt::AlignCenter);
  footer_->setText(KVRLocalized("Printed with Vortely"));
  graphView_ = new KVRPrintBox(this);
  tableView_ = new KVRPrintBox(this);
  trendBox_ = new KVRPrintBox(this);
  displaySettingsBox_ = new KVRPrintBox(this);
  titleLabel_->resize(1110, 50);
  trendBox_->resize(203, 200);
  displaySettingsBox_->resize(1110, 84);
}

void KVRPrintViewRankings::adjustSizingForPrinting(const QSizeF& printable) {
  trendBox_->hide();
  displaySettingsBox_->hide();
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
}
