#pragma once
// The rankings' print layout: a title, the ranking curves and the table of
// positions; stacked on a portrait page, side by side on a landscape one.
// Whoever prints rankings puts its views into the boxes and calls print().
#include "print/KVRPrintViewBase.h"

class KVRPrintViewRankings : public KVRTitledPrintView {
 public:
  explicit KVRPrintViewRankings(QWidget* parent = nullptr);

  // Hides the trend and settings boxes and lays the page out, fully, at every
  // document.
  void adjustSizingForPrinting(const QSizeF& printable) override;

  KVRPrintBox* graphView() const { return graphView_; }
  KVRPrintBox* tableView() const { return tableView_; }

 private:
  KVRPrintBox *graphView_ = nullptr, *tableView_ = nullptr;
};
