#pragma once
// The part chart: one horizontal bar per part, largest first, with its legend,
// percentage (or value) and the total, and a small switch between the two
// divisions ("By product" / "By country"). The switch shows what the chart
// lists: with one product both divisions list countries, and "By product" is
// greyed out. Long legends are elided in the middle; the whole legend is the
// row's tooltip. Data is pulled while painting in
// the order given in KVRGraphDataSources.h.
#include <QWidget>
#include <optional>
#include <vector>

#include "graphs/KVRGraphDataSources.h"

struct KVRPartChartSnapshot {
  struct Part {
    double value = 0;
    QString legend;
    std::optional<QString> valueLabelFormat;
    float percent = 0;
    float ratio = 1;
    QColor color;
  };
  bool loading = false;
  int index = 0;  // the division asked for
  double total = 0;
  std::vector<Part> parts;
  bool wholeMoney = false;            // money values in whole units
  bool listsCountries = false;        // the division shown lists countries
  bool firstListsCountries = false;   // so does the first one (one product: no product division)
};

// One drawn row of a part chart, in the painter's coordinates.
struct KVRPartChartRow {
  QRectF row, legendRect, track, bar;
  QString legend;  // the whole legend (the drawn one may be elided)
  QString label;   // the share or value text
};

class KVRVortelyCamembertGraphView : public QWidget {
  Q_OBJECT
 public:
  explicit KVRVortelyCamembertGraphView(QWidget* parent = nullptr);
  ~KVRVortelyCamembertGraphView() override;

  // Not owned.
  void setDataSource(KVRVortelyCamembertGraphDataSource* dataSource);
  KVRVortelyCamembertGraphDataSource* dataSource() const { return dataSource_; }
  // Revenue charts pass true; the bar colours still come from the data source.
  void setGreenBars(bool green);
  bool greenBars() const { return greenBars_; }
  // 1: parts labelled with their values; any other value: with percentages.
  void setShowValuesInsteadOfPercent(int show);
  int showValuesInsteadOfPercent() const { return showValuesInsteadOfPercent_; }
  void setNeedsDisplay(bool needs = true) { if (needs) update(); }

  // Display state; the division index asked of the data source is state / 2
  // (0 = by product). The switch toggles between 0 and 2.
  void setDisplayState(int state);
  int displayState() const { return displayState_; }
  int divisionIndex() const { return displayState_ / 2; }
  // Print charts hide the switch (their division is fixed).
  void setShowsDivisionSwitch(bool show);
  bool showsDivisionSwitch() const { return showsDivisionSwitch_; }
  // Toggles the division as a click on the switch does.
  void toggleDivision();

  // Pulls one snapshot in the drawing order; resets the display state to 0
  // when a state of 2 or more finds no parts.
  KVRPartChartSnapshot collect();
  void render(QPainter& painter, const QRectF& rect);
  // The switch's rectangle in widget coordinates (empty when hidden).
  QRectF switchRect() const;
  // The rows of the last render, largest part first, and where its total went.
  const std::vector<KVRPartChartRow>& lastRows() const { return lastRows_; }
  QRectF lastTotalRect() const { return lastTotalRect_; }
  // The whole legend of the row under a point of the widget (its tooltip);
  // empty when there is none.
  QString legendAt(const QPointF& pos) const;

 signals:
  void displayStateChanged(int state);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  KVRVortelyCamembertGraphDataSource* dataSource_ = nullptr;
  bool greenBars_ = false;
  int showValuesInsteadOfPercent_ = 0;
  int displayState_ = 0;
  bool showsDivisionSwitch_ = true;
  bool productDivisionShown_ = true;  // the first division lists products
  std::vector<KVRPartChartRow> lastRows_;
  QRectF lastTotalRect_;
};
