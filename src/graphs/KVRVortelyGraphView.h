#pragma once
// The curve graph: one or more curves over days, a vertical axis from the data
// source's signed range, grid and axis labels, optional value labels, the
// average line, event marks, the last-day mark and a value bubble under the
// mouse. Everything is pulled from the data source while painting (order in
// KVRGraphDataSources.h); on screen, a data source that numbers its answers
// (answersGeneration) is asked again only when the number changes.
#include <QImage>
#include <QPointF>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "graphs/KVRGraphDataSources.h"

// What one paint pulled from the data source.
struct KVRGraphSnapshot {
  struct Curve {
    QColor color;
    std::vector<KVRDate> dates;
    std::vector<double> values;
  };
  struct Event {
    QString label;
    QColor color;
    KVRDate date;
    QImage image;
  };
  bool loading = false;
  int numberOfPoints = 0;
  std::optional<QString> valueLabelFormat;
  bool wholeMoney = false;  // money values in whole units
  KVRSignedRange range;
  std::vector<Curve> curves;
  std::optional<double> averageValue;  // where the average line goes; none: no line
  KVRDate startDate;
  KVRDate endDate;
  std::vector<Event> events;
};

// Where the texts of the last render went, in the painter's coordinates.
struct KVRGraphTextLayout {
  QRectF plot;
  std::vector<QRectF> valueLabels;  // the value labels drawn over the curves
  std::vector<QString> valueLabelTexts;
  QRectF averageLabel;              // the "Average value" caption; empty when none
  QString averageText;
  std::vector<int> axisLabelPoints;  // the points that carry a date on the axis
};

// The points of a day axis that carry a label, when at most `fit` labels have
// room: every day; else every 2nd or 3rd day; else the week starts
// (`firstDayOfWeek`: 1 Monday ... 7 Sunday), every other week start; else the
// month starts, every 2nd, 3rd or 6th month start; else the year starts and
// every 2nd, 5th or 10th. Days need not follow each other.
std::vector<int> KVRDateAxisLabelPoints(const std::vector<KVRCivilDay>& days, int fit, int firstDayOfWeek);

class KVRVortelyGraphView : public QWidget {
  Q_OBJECT
 public:
  explicit KVRVortelyGraphView(QWidget* parent = nullptr);
  ~KVRVortelyGraphView() override;

  // Not owned; the data source must outlive the view or be reset to null.
  void setDataSource(KVRVortelyGraphViewDataSource* dataSource);
  KVRVortelyGraphViewDataSource* dataSource() const { return dataSource_; }
  // Kind of graph (the overview uses 2: day curves). Kept for the callers;
  // every kind is drawn as curves.
  void setKindOfGraph(int kind);
  int kindOfGraph() const { return kindOfGraph_; }
  void setShowValues(bool show);
  bool showValues() const { return showValues_; }
  void setShowLastDay(bool show);
  bool showLastDay() const { return showLastDay_; }
  void setNeedsDisplay(bool needs = true) { if (needs) update(); }

  // Pulls one snapshot from a data source in the drawing order (without the
  // axis labels and the bubble, which depend on the geometry).
  static KVRGraphSnapshot collect(KVRVortelyGraphViewDataSource& dataSource);
  // Draws the graph into a rectangle of any painter (screen or print); on
  // the view itself with the value bubble. Asks the data source every time.
  void render(QPainter& painter, const QRectF& rect);
  // The point under a horizontal position of the widget, -1 when none (tests
  // and the bubble).
  int pointIndexAt(qreal x) const;
  // Shows (or with -1 hides) the value bubble of a point as the mouse does.
  void setHoveredPoint(int point);
  int hoveredPoint() const { return hoveredPoint_; }
  // Where the last render put its texts.
  const KVRGraphTextLayout& lastTextLayout() const { return lastText_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  struct Frame;
  struct Cache;
  struct ValueLabel;
  enum class CurvePart { fill, line, both };
  // Everything but the value bubble; the panel under it when `panel`. The
  // steps below, in the order it takes them.
  void drawBody(QPainter& painter, const QRectF& area, Frame* frame, bool panel = true);
  // True for a painter that records vectors (a picture, a PDF, a printer).
  static bool paintsVectors(QPainter& painter);
  // The vertical axis and the plot's rectangle; false when there is no room.
  static bool layOutPlot(const QRectF& area, Frame& frame);
  static void drawPlotBackground(QPainter& painter, const Frame& frame);
  static void drawTicks(QPainter& painter, const Frame& frame);
  void drawDateAxis(QPainter& painter, Frame& frame);
  static void drawEvents(QPainter& painter, const Frame& frame);
  std::vector<ValueLabel> placeValueLabels(const Frame& frame) const;
  static std::optional<qreal> averageY(const Frame& frame);
  static QRectF placeAverageCaption(const Frame& frame, const std::vector<ValueLabel>& labels, QString* caption);
  static void drawValuePlates(QPainter& painter, const std::vector<ValueLabel>& labels, const QRectF& averagePill);
  static void drawCurves(QPainter& painter, const Frame& frame, CurvePart part, bool vectors);
  static void drawAverageLine(QPainter& painter, const Frame& frame);
  static void drawValueLabels(QPainter& painter, Frame& frame, const std::vector<ValueLabel>& labels,
                              const QRectF& averagePill, bool vectors);
  static void drawAverageCaption(QPainter& painter, Frame& frame, const QRectF& pill, const QString& caption);
  void drawLastDay(QPainter& painter, const Frame& frame) const;
  void drawBubble(QPainter& painter, const Frame& frame);

  KVRVortelyGraphViewDataSource* dataSource_ = nullptr;
  int kindOfGraph_ = 2;
  bool showValues_ = false;
  bool showLastDay_ = false;
  int hoveredPoint_ = -1;
  // Plot rectangle and point count of the last paint, for the mouse.
  QRectF lastPlotRect_;
  int lastPointCount_ = 0;
  KVRGraphTextLayout lastText_;
  // A paint on screen shows this picture again, with the bubble over it,
  // while the data source's answersGeneration and the view are unchanged.
  std::unique_ptr<Cache> cache_;
};
