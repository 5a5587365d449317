#include "graphs/KVRSegmentedControl.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "graphs/KVRGraphStyle.h"

namespace {
constexpr qreal kPadding = 14;
constexpr qreal kHeight = 24;
constexpr qreal kRadius = 6;
QColor borderColor() { return QColor(0xb9, 0xc0, 0xc9); }
QColor chosenColor() { return QColor(0x3b, 0x82, 0xc4); }
QColor focusColor() { return QColor(0x7f, 0xb2, 0xe5); }
}  // namespace

KVRSegmentedControl::KVRSegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), labels_(labels), enabled_(size_t(labels.size()), true) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  // Tab reaches it; a click does not take the focus from where the user types.
  setFocusPolicy(Qt::TabFocus);
  QFont f = font();
  f.setPixelSize(12);
  setFont(f);
}

void KVRSegmentedControl::setSelectedSegment(int segment) {
  if (segment < 0 || segment >= count()) return;
  selected_ = segment;
  if (!hasFocus()) focused_ = segment;
  update();
}

void KVRSegmentedControl::setSegmentEnabled(int segment, bool enabled) {
  if (segment < 0 || segment >= count()) return;
  enabled_[size_t(segment)] = enabled;
  update();
}

bool KVRSegmentedControl::isSegmentEnabled(int segment) const {
  return segment >= 0 && segment < count() && enabled_[size_t(segment)];
}

QString KVRSegmentedControl::labelForSegment(int segment) const {
  return segment >= 0 && segment < count() ? labels_[segment] : QString();
}

void KVRSegmentedControl::setLabelForSegment(int segment, const QString& label) {
  if (segment < 0 || segment >= count() || labels_[segment] == label) return;
  labels_[segment] = label;
  updateGeometry();
  update();
}

void KVRSegmentedControl::setMinimumSegmentWidth(int width) {
  minimumSegmentWidth_ = width;
  updateGeometry();
  update();
}

void KVRSegmentedControl::clickSegment(int segment) {
  if (!isEnabled() || !isSegmentEnabled(segment)) return;
  setSelectedSegment(segment);
  emit segmentClicked(segment);
}

std::vector<qreal> KVRSegmentedControl::segmentWidths() const {
  const QFontMetricsF fm(font());
  std::vector<qreal> widths;
  for (const QString& l : labels_)
    widths.push_back(std::max<qreal>(minimumSegmentWidth_, std::ceil(fm.horizontalAdvance(l)) + 2 * kPadding));
  return widths;
}

QSize KVRSegmentedControl::sizeHint() const {
  qreal w = 0;
  for (qreal s : segmentWidths()) w += s;
  return QSize(int(std::ceil(w)) + 2, int(kHeight) + 2);
}

QRectF KVRSegmentedControl::segmentRect(int segment) const {
  if (segment < 0 || segment >= count()) return QRectF();
  const std::vector<qreal> widths = segmentWidths();
  qreal total = 0;
  for (qreal w : widths) total += w;
  // The segments share the control's width in proportion to their labels.
  const qreal k = total > 0 ? (width() - 2) / total : 1.0;
  qreal x = 1;
  for (int i = 0; i < segment; ++i) x += widths[size_t(i)] * k;
  return QRectF(x, 1, widths[size_t(segment)] * k, height() - 2);
}

int KVRSegmentedControl::segmentAt(const QPointF& pos) const {
  for (int i = 0; i < count(); ++i)
    if (segmentRect(i).contains(pos)) return i;
  return -1;
}

void KVRSegmentedControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath capsule;
  capsule.addRoundedRect(outer, kRadius, kRadius);
  p.setPen(Qt::NoPen);
  p.setBrush(isEnabled() ? QColor(Qt::white) : QColor(0xf3, 0xf5, 0xf7));
  p.drawPath(capsule);

  // The chosen segment filled, clipped to the capsule's rounded ends.
  if (selected_ >= 0 && selected_ < count()) {
    p.save();
    p.setClipPath(capsule);
    QColor fill = chosenColor();
    if (!isEnabled()) fill = fill.lighter(150);
    p.setBrush(fill);
    p.drawRect(segmentRect(selected_).adjusted(-1, -1, 1, 1));
    p.restore();
  }
  // Dividers between segments (none beside the chosen one).
  p.setPen(QPen(borderColor(), 1));
  for (int i = 1; i < count(); ++i) {
    if (i == selected_ || i - 1 == selected_) continue;
    const qreal x = std::round(segmentRect(i).left()) + 0.5;
    p.drawLine(QPointF(x, outer.top() + 4), QPointF(x, outer.bottom() - 4));
  }
  p.setBrush(Qt::NoBrush);
  p.drawPath(capsule);

  // The focus ring: around the segment under it, inside the capsule.
  if (hasFocus() && focused_ >= 0 && focused_ < count()) {
    p.save();
    p.setClipPath(capsule);
    p.setPen(QPen(focusColor(), 2.5));
    p.setBrush(Qt::NoBrush);
    const QRectF r = segmentRect(focused_).adjusted(1.25, 1.25, -1.25, -1.25);
    p.drawRoundedRect(r, kRadius - 1.5, kRadius - 1.5);
    p.restore();
  }

  p.setFont(font());
  for (int i = 0; i < count(); ++i) {
    QColor c = i == selected_ ? QColor(Qt::white) : KVRGraphStyle::text();
    if (!isEnabled() || !isSegmentEnabled(i)) c = i == selected_ ? QColor(235, 240, 246) : QColor(0xb0, 0xb6, 0xbe);
    p.setPen(c);
    p.drawText(segmentRect(i), Qt::AlignCenter, labels_[i]);
  }
}

void KVRSegmentedControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  clickSegment(segmentAt(event->position()));
}

void KVRSegmentedControl::keyPressEvent(QKeyEvent* event) {
  const bool rtl = layoutDirection() == Qt::RightToLeft;
  int step = 0;
  switch (event->key()) {
    case Qt::Key_Left:
      step = rtl ? 1 : -1;
      break;
    case Qt::Key_Right:
      step = rtl ? -1 : 1;
      break;
    case Qt::Key_Up:
      step = -1;
      break;
    case Qt::Key_Down:
      step = 1;
      break;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (event->modifiers() & ~Qt::KeypadModifier) break;
      clickSegment(focused_);
      return;
    default:
      break;
  }
  if (step == 0 || (event->modifiers() & ~Qt::KeypadModifier)) return QWidget::keyPressEvent(event);
  // To the next enabled segment that way; none: the ring stays.
  for (int i = focused_ + step; i >= 0 && i < count(); i += step)
    if (isSegmentEnabled(i)) {
      focused_ = i;
      update();
      break;
    }
}

void KVRSegmentedControl::focusInEvent(QFocusEvent* event) {
  focused_ = selected_;
  update();
  QWidget::focusInEvent(event);
}

void KVRSegmentedControl::focusOutEvent(QFocusEvent* event) {
  focused_ = selected_;
  update();
  QWidget::focusOutEvent(event);
}

void KVRSegmentedControl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) updateGeometry();
  QWidget::changeEvent(event);
}
