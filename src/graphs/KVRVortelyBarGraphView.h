#pragma once
// The bar chart: one vertical bar per part (the financial screen's regions),
// scaled by the value of part -1, with the legend below and the percentage or
// the value above each bar. Data is pulled while painting in the order given
// in KVRGraphDataSources.h.
#include <QWidget>
#include <optional>
#include <vector>

#include "graphs/KVRGraphDataSources.h"

struct KVRBarChartSnapshot {
  struct Part {
    QString legend;
    QColor color;
    double value = 0;
    float percent = 0;
    float ratio = 1;
    std::optional<QString> valueLabelFormat;
  };
  double scale = 0;  // the value of a full-height bar
  std::vector<Part> parts;
  bool wholeMoney = false;  // money values in whole units
  bool barsFollowPercent = false;  // bar height = percent x full height
};

// One drawn bar, in the painter's coordinates.
struct KVRBarChartBar {
  QRectF slot, bar;  // the part's column, and its bar (empty when flat)
  QString legend;    // the whole legend (the drawn one may be elided)
  QString label;
};

class KVRVortelyBarGraphView : public QWidget {
  Q_OBJECT
 public:
  explicit KVRVortelyBarGraphView(QWidget* parent = nullptr);
  ~KVRVortelyBarGraphView() override;

  // Not owned.
  void setDataSource(KVRVortelyBarGraphDataSource* dataSource);
  KVRVortelyBarGraphDataSource* dataSource() const { return dataSource_; }
  // 1: bars labelled with their values; any other value: with percentages.
  void setShowValuesInsteadOfPercent(int show);
  int showValuesInsteadOfPercent() const { return showValuesInsteadOfPercent_; }
  void setNeedsDisplay(bool needs = true) { if (needs) update(); }

  KVRBarChartSnapshot collect();
  void render(QPainter& painter, const QRectF& rect);
  // The bars of the last render.
  const std::vector<KVRBarChartBar>& lastBars() const { return lastBars_; }
  // The whole legend of the column under a point (its tooltip); empty when none.
  QString legendAt(const QPointF& pos) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  std::vector<KVRBarChartBar> lastBars_;
  KVRVortelyBarGraphDataSource* dataSource_ = nullptr;
  int showValuesInsteadOfPercent_ = 0;
};
