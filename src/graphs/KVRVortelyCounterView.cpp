#include "graphs/KVRVortelyCounterView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "core/KVRFormatters.h"
#include "graphs/KVRGraphStyle.h"
#include "graphs/KVRValueTexts.h"

KVRVortelyCounterView::KVRVortelyCounterView(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(kStepIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] { stepAnimation(); });
  setMinimumSize(80, 28);
}

KVRVortelyCounterView::~KVRVortelyCounterView() = default;

double KVRVortelyCounterView::roundedToCents(double value) {
  if (!std::isfinite(value)) return 0.0;  // a counter never shows NaN or infinity
  return KVRRoundedToCents(value);
}

void KVRVortelyCounterView::setWholeUnits(bool whole) {
  if (whole == wholeUnits_) return;
  wholeUnits_ = whole;
  update();
}

QString KVRVortelyCounterView::displayedText() const { return KVRAmountText(displayed_, wholeUnits_); }

void KVRVortelyCounterView::setValue(double value, bool animated) {
  target_ = wholeUnits_ ? (std::isfinite(value) ? double(KVRWholeNumber(value)) : 0.0) : roundedToCents(value);
  if (!animated || displayed_ == target_) {
    timer_.stop();
    displayed_ = target_;
    step_ = 0;
    update();
    return;
  }
  // A new target during an animation rolls on from the digits on display.
  from_ = displayed_;
  step_ = 0;
  timer_.start();
  update();
}

void KVRVortelyCounterView::stepAnimation() {
  ++step_;
  if (step_ >= kAnimationSteps) {
    displayed_ = target_;
    timer_.stop();
  } else {
    const double f = static_cast<double>(step_) / kAnimationSteps;
    displayed_ = from_ + (target_ - from_) * f;
  }
  update();
}

QSize KVRVortelyCounterView::sizeHint() const { return QSize(220, 40); }

void KVRVortelyCounterView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  render(p, QRectF(rect()));
}

void KVRVortelyCounterView::render(QPainter& p, const QRectF& area) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  const QString text = displayedText();

  // Tiles for digits, narrow gaps for separators and signs.
  qreal tileH = std::max<qreal>(12, area.height() - 6);
  qreal tileW = tileH * 0.64;
  auto widthOf = [&](QChar c) { return c.isDigit() ? tileW + 2 : tileW * 0.42; };
  int digits = 0;
  for (QChar c : text) digits += c.isDigit() ? 1 : 0;
  const int others = int(text.size()) - digits;
  qreal total = 0;
  for (QChar c : text) total += widthOf(c);
  if (total > area.width() - 8 && total > 0) {
    // Narrower tiles (the gaps between them keep their 2 pixels), so that
    // every digit stays inside the view.
    const qreal fitW = (area.width() - 8 - 2.0 * digits) / std::max(0.1, digits + 0.42 * others);
    const qreal k = std::max(0.05, fitW / tileW);
    tileH *= k;
    tileW *= k;
    total = 0;
    for (QChar c : text) total += widthOf(c);
  }
  QFont digitFont = KVRGraphStyle::uiFont(10, true);
  digitFont.setPixelSize(std::max(6, static_cast<int>(tileH * 0.68)));
  p.setFont(digitFont);
  qreal x = area.left() + (area.width() - total) / 2;
  const qreal top = area.top() + (area.height() - tileH) / 2;
  for (QChar c : text) {
    const qreal w = widthOf(c);
    if (c.isDigit()) {
      const QRectF tile(x + 1, top, tileW, tileH);
      QLinearGradient g(tile.topLeft(), tile.bottomLeft());
      g.setColorAt(0.0, QColor(70, 76, 88));
      g.setColorAt(0.48, QColor(40, 44, 52));
      g.setColorAt(0.52, QColor(28, 31, 37));
      g.setColorAt(1.0, QColor(48, 52, 61));
      p.setPen(QPen(QColor(20, 22, 27), 1));
      p.setBrush(g);
      p.drawRoundedRect(tile, tileW * 0.14, tileW * 0.14);
      p.setPen(QColor(250, 250, 252));
      p.drawText(tile, Qt::AlignCenter, QString(c));
      // the seam of the rolling drum
      p.setPen(QPen(QColor(0, 0, 0, 90), 1));
      p.drawLine(QPointF(tile.left() + 1, tile.center().y()), QPointF(tile.right() - 1, tile.center().y()));
    } else {
      p.setPen(KVRGraphStyle::text());
      p.drawText(QRectF(x, top, w, tileH), Qt::AlignHCenter | Qt::AlignBottom, QString(c));
    }
    x += w;
  }
  p.restore();
}
