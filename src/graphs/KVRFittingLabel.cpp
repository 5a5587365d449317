#include "graphs/KVRFittingLabel.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "graphs/KVRGraphStyle.h"

QFont KVRPixelFont(double pixelSize, bool bold) {
  QFont f = QApplication::font();
  f.setPixelSize(std::max(1, int(std::lround(pixelSize))));
  f.setBold(bold);
  return f;
}

void KVRDrawFittedText(QPainter& p, const QRectF& r, Qt::Alignment align, const QString& text, QFont font) {
  const double base = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF();
  for (double size = base; size >= base * 0.7; size -= std::max(0.5, base * 0.05)) {
    if (font.pixelSize() > 0) font.setPixelSize(std::max(1, int(std::lround(size))));
    else font.setPointSizeF(size);
    if (QFontMetricsF(font).horizontalAdvance(text) <= r.width()) break;
  }
  p.setFont(font);
  const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, r.width());
  p.drawText(r, int(align), shown);
}

namespace {

int pixelSizeOf(const QFont& f) {
  if (f.pixelSize() > 0) return f.pixelSize();
  return std::max(1, int(std::lround(QFontMetricsF(f).height() * 0.8)));
}

QFont withPixelSize(QFont f, int pixels) {
  f.setPixelSize(std::max(1, pixels));
  return f;
}

}  // namespace

KVRFittingLabel::KVRFittingLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void KVRFittingLabel::setMinimumPixelSize(int pixels) {
  minimumPixelSize_ = std::max(1, pixels);
  updateGeometry();
  update();
}

void KVRFittingLabel::setElidesName(bool elides) {
  elidesName_ = elides;
  update();
}

int KVRFittingLabel::fittedPixelSize() const {
  const int base = pixelSizeOf(font());
  const qreal room = contentsRect().width();
  const int floor = elidesName_ ? std::min(base, minimumPixelSize_) : 1;
  for (int px = base; px > floor; --px)
    if (QFontMetricsF(withPixelSize(font(), px)).horizontalAdvance(text()) + 1 <= room) return px;
  return floor;
}

QString KVRFittingLabel::shownText() const {
  if (!elidesName_) return text();
  const QFontMetricsF fm(withPixelSize(font(), fittedPixelSize()));
  return KVRGraphStyle::elidedName(fm, text(), contentsRect().width() - 1);
}

QSize KVRFittingLabel::sizeHint() const {
  const QFontMetricsF fm(font());
  const QMargins m = contentsMargins();
  return QSize(int(std::ceil(fm.horizontalAdvance(text()))) + 2 + m.left() + m.right(),
               int(std::ceil(fm.height())) + m.top() + m.bottom());
}

QSize KVRFittingLabel::minimumSizeHint() const {
  // Room for a short figure at the readable size, whatever the text.
  const QFontMetricsF fm(withPixelSize(font(), minimumPixelSize_));
  const QMargins m = contentsMargins();
  return QSize(int(std::ceil(fm.horizontalAdvance(QStringLiteral("0000")))) + m.left() + m.right(),
               int(std::ceil(QFontMetricsF(font()).height())) + m.top() + m.bottom());
}

void KVRFittingLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(withPixelSize(font(), fittedPixelSize()));
  p.setPen(palette().color(foregroundRole()));
  const QString shown = shownText();
  if (elidesName_) {
    const QString tip = shown != text() ? text() : QString();
    if (toolTip() != tip) setToolTip(tip);
  }
  p.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, shown);
}
