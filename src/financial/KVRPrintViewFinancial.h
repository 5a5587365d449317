#pragma once
// The financial statements' print layout: a title, two graph boxes and three
// table boxes, stacked on a portrait page and side by side on a landscape one.
// The reports screen puts its views into the boxes (setContent) and prints.
#include "print/KVRPrintViewBase.h"

class KVRVortelyBarGraphView;

class KVRPrintViewFinancial : public KVRTitledPrintView {
 public:
  explicit KVRPrintViewFinancial(QWidget* parent = nullptr);

  // Hides the trend and settings boxes, then lays the page out when the
  // printable size differs from the one laid out last, always from the boxes'
  // original sizes.
  void adjustSizingForPrinting(const QSizeF& printable) override;

  // 0 not laid out yet, 1 portrait layout applied, 2 landscape layout applied.
  int layout() const { return layout_; }
  // How many times the boxes were placed (tests).
  int layoutPasses() const { return passes_; }

  // The sizes the boxes start from at every layout (the layout resource's).
  void setOriginalSizes(const KVRFinancialPrintSizes& sizes) { original_ = sizes; laidOut_ = QSizeF(); }
  const KVRFinancialPrintSizes& originalSizes() const { return original_; }

  KVRPrintBox* graphView1() const { return graphView1_; }
  KVRPrintBox* graphView2() const { return graphView2_; }
  KVRPrintBox* tableView1() const { return tableView1_; }
  KVRPrintBox* tableView2() const { return tableView2_; }
  KVRPrintBox* tableView3() const { return tableView3_; }
  // The region bar chart, inside the second graph box.
  KVRVortelyBarGraphView* barView() const { return barView_; }

 private:
  KVRFinancialPrintSizes original_;
  QSizeF laidOut_;
  int layout_ = 0;
  int passes_ = 0;
  KVRPrintBox *graphView1_ = nullptr, *graphView2_ = nullptr;
  KVRPrintBox *tableView1_ = nullptr, *tableView2_ = nullptr, *tableView3_ = nullptr;
  KVRVortelyBarGraphView* barView_ = nullptr;
};
