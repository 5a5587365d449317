#pragma once
// A segmented control: one rounded capsule split into segments, exactly one
// of them chosen (drawn filled), as the platform's segmented controls look.
// A click on an enabled segment chooses it and announces it. From the
// keyboard the control takes the focus with Tab; the arrow keys move the focus
// ring from segment to segment (enabled ones only) and Space or Return chooses
// the segment under it, as a click would.
#include <QStringList>
#include <QWidget>
#include <vector>

class KVRSegmentedControl : public QWidget {
  Q_OBJECT
 public:
  explicit KVRSegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

  int count() const { return int(labels_.size()); }
  int selectedSegment() const { return selected_; }
  // Chooses a segment without announcing it.
  void setSelectedSegment(int segment);
  void setSegmentEnabled(int segment, bool enabled);
  bool isSegmentEnabled(int segment) const;
  QString labelForSegment(int segment) const;
  void setLabelForSegment(int segment, const QString& label);
  // Segments at least this wide (the labels' width otherwise).
  void setMinimumSegmentWidth(int width);
  // What a click on a segment does: chooses an enabled segment and announces it.
  void clickSegment(int segment);
  // The segment's rectangle, and the segment under a point (-1 when none).
  QRectF segmentRect(int segment) const;
  int segmentAt(const QPointF& pos) const;
  // The segment under the focus ring while the control has the focus.
  int focusedSegment() const { return focused_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 signals:
  void segmentClicked(int segment);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  std::vector<qreal> segmentWidths() const;
  QStringList labels_;
  std::vector<bool> enabled_;
  int selected_ = 0;
  int minimumSegmentWidth_ = 0;
  int focused_ = 0;
};
