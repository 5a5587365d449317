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
    float value = 0;
    float percent = 0;
    float ratio = 1;
    std::optional<QString> valueLabelFormat;
  };
  float scale = 0;  // the value of a full-height bar
  std::vector<Part> parts;
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

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  KVRVortelyBarGraphDataSource* dataSource_ = nullptr;
  int showValuesInsteadOfPercent_ = 0;
};
