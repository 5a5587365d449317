#include "graphs/KVRVortelyCounterView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "core/KVRFormatters.h"
#include "graphs/KVRGraphStyle.h"

KVRVortelyCounterView::KVRVortelyCounterView(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(kStepIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] { stepAnimation(); });
  setMinimumSize(80, 28);
}

KVRVortelyCounterView::~KVRVortelyCounterView() = default;

float KVRVortelyCounterView::roundedToCents(float value) {
  if (!std::isfinite(value)) return 0.0f;  // a counter never shows NaN or infinity
  const float cents = std::round(value * 100.0f);
  return cents / 100.0f;
}

void KVRVortelyCounterView::setValue(float value, bool animated) {
  target_ = roundedToCents(value);
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
    displayed_ = static_cast<float>(from_ + (static_cast<double>(target_) - from_) * f);
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
  const QString text = KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(displayed_);

  // Tiles for digits, narrow gaps for separators and signs.
  qreal tileH = std::max<qreal>(12, area.height() - 6);
  qreal tileW = tileH * 0.64;
  auto widthOf = [&](QChar c) { return c.isDigit() ? tileW + 2 : tileW * 0.42; };
  qreal total = 0;
  for (QChar c : text) total += widthOf(c);
  if (total > area.width() - 8 && total > 0) {
    const qreal k = (area.width() - 8) / total;
    tileH *= k;
    tileW *= k;
    total *= k;
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
