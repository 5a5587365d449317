#pragma once
// The part chart: one horizontal bar per part, largest first, with its legend,
// percentage (or value) and the total, and a small switch between the two
// divisions ("By product" / "By country"). Data is pulled while painting in
// the order given in KVRGraphDataSources.h.
#include <QWidget>
#include <optional>
#include <vector>

#include "graphs/KVRGraphDataSources.h"

struct KVRPartChartSnapshot {
  struct Part {
    float value = 0;
    QString legend;
    std::optional<QString> valueLabelFormat;
    float percent = 0;
    float ratio = 1;
    QColor color;
  };
  bool loading = false;
  int index = 0;  // the division asked for
  float total = 0;
  std::vector<Part> parts;
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

 signals:
  void displayStateChanged(int state);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  KVRVortelyCamembertGraphDataSource* dataSource_ = nullptr;
  bool greenBars_ = false;
  int showValuesInsteadOfPercent_ = 0;
  int displayState_ = 0;
  bool showsDivisionSwitch_ = true;
};
