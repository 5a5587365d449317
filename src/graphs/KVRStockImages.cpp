#include "graphs/KVRStockImages.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {

QColor riseColor() { return QColor(0x3a, 0xa5, 0x5d); }
QColor fallColor() { return QColor(0xd9, 0x48, 0x3b); }
QColor steadyColor() { return QColor(0x3b, 0x82, 0xc4); }

void drawArrow(QPainter& p, const QRectF& r, int direction, const QColor& c) {
  // direction: 1 up, -1 down, 0 right.
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawEllipse(r.adjusted(1, 1, -1, -1));
  const QPointF m = r.center();
  const qreal s = r.width() * 0.26;
  QPainterPath path;
  if (direction == 0) {
    path.moveTo(m.x() - s, m.y() - s * 0.35);
    path.lineTo(m.x() + s * 0.1, m.y() - s * 0.35);
    path.lineTo(m.x() + s * 0.1, m.y() - s * 0.9);
    path.lineTo(m.x() + s * 1.05, m.y());
    path.lineTo(m.x() + s * 0.1, m.y() + s * 0.9);
    path.lineTo(m.x() + s * 0.1, m.y() + s * 0.35);
    path.lineTo(m.x() - s, m.y() + s * 0.35);
  } else {
    const qreal d = direction;  // up: tip at -y
    path.moveTo(m.x() - s * 0.35, m.y() + d * s);
    path.lineTo(m.x() - s * 0.35, m.y() - d * s * 0.1);
    path.lineTo(m.x() - s * 0.9, m.y() - d * s * 0.1);
    path.lineTo(m.x(), m.y() - d * s * 1.05);
    path.lineTo(m.x() + s * 0.9, m.y() - d * s * 0.1);
    path.lineTo(m.x() + s * 0.35, m.y() - d * s * 0.1);
    path.lineTo(m.x() + s * 0.35, m.y() + d * s);
  }
  path.closeSubpath();
  p.setBrush(Qt::white);
  p.drawPath(path);
}

void drawPill(QPainter& p, const QRectF& r, const QColor& c) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, c.lighter(118));
  g.setColorAt(1, c.darker(108));
  p.setPen(QPen(c.darker(120), 1));
  p.setBrush(g);
  const qreal radius = r.height() / 2;
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void drawTile(QPainter& p, const QRectF& r, const QColor& c) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, c.lighter(125));
  g.setColorAt(1, c);
  p.setPen(QPen(c.darker(130), 1));
  p.setBrush(g);
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), r.width() * 0.22, r.width() * 0.22);
}

void drawGlyph(QPainter& p, const QRectF& r, const QString& text, const QColor& color, qreal scale = 0.5) {
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(std::max(6, int(r.height() * scale)));
  p.setFont(f);
  p.setPen(color);
  p.drawText(r, Qt::AlignCenter, text);
}

void drawPerson(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  const qreal w = r.width();
  p.drawEllipse(QPointF(r.center().x(), r.top() + w * 0.36), w * 0.16, w * 0.16);
  QPainterPath body;
  body.addRoundedRect(QRectF(r.center().x() - w * 0.28, r.top() + w * 0.56, w * 0.56, w * 0.3), w * 0.14, w * 0.14);
  p.drawPath(body);
}

}  // namespace

QImage KVRStockImage(const QString& name, const QSize& size, qreal dpr) {
  if (size.isEmpty()) return QImage();
  QImage img(QSize(int(size.width() * dpr), int(size.height() * dpr)), QImage::Format_ARGB32_Premultiplied);
  img.setDevicePixelRatio(dpr);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  if (!KVRDrawStockImage(p, name, QRectF(0, 0, size.width(), size.height()))) return QImage();
  return img;
}

bool KVRDrawStockImage(QPainter& p, const QString& name, const QRectF& r) {
  if (r.isEmpty()) return false;
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const qreal side = std::min(r.width(), r.height());
  const QRectF sq(r.center().x() - side / 2, r.center().y() - side / 2, side, side);
  if (name == QLatin1String("up_arrow")) drawArrow(p, sq, 1, riseColor());
  else if (name == QLatin1String("down_arrow")) drawArrow(p, sq, -1, fallColor());
  else if (name == QLatin1String("noev_arrow")) drawArrow(p, sq, 0, steadyColor());
  else if (name == QLatin1String("evolution_green")) drawPill(p, r, riseColor());
  else if (name == QLatin1String("evolution_red")) drawPill(p, r, fallColor());
  else if (name == QLatin1String("evolution_blue")) drawPill(p, r, steadyColor());
  else if (name == QLatin1String("inapp")) {
    drawTile(p, sq, QColor(0x8e, 0x5c, 0xd6));
    drawGlyph(p, sq, QStringLiteral("$"), Qt::white, 0.55);
  } else if (name == QLatin1String("ebook")) {
    drawTile(p, sq, QColor(0xe0, 0x8a, 0x2e));
    p.setPen(QPen(Qt::white, std::max<qreal>(1.0, side * 0.05)));
    p.setBrush(Qt::NoBrush);
    const QRectF b = sq.adjusted(side * 0.25, side * 0.24, -side * 0.25, -side * 0.24);
    p.drawRect(b);
    p.drawLine(QPointF(b.left() + b.width() * 0.25, b.top()), QPointF(b.left() + b.width() * 0.25, b.bottom()));
  } else if (name == QLatin1String("productMultipleIcon")) {
    const qreal t = side * 0.7;
    drawTile(p, QRectF(sq.right() - t, sq.top(), t, t), QColor(0x9c, 0xb8, 0xd8));
    drawTile(p, QRectF(sq.left(), sq.bottom() - t, t, t), QColor(0x4a, 0x86, 0xc8));
  } else if (name == QLatin1String("productNoIcon")) {
    p.setPen(QPen(QColor(0xb8, 0xbe, 0xc6), std::max<qreal>(1.0, side * 0.04), Qt::DashLine));
    p.setBrush(QColor(0xf3, 0xf5, 0xf7));
    p.drawRoundedRect(sq.adjusted(2, 2, -2, -2), side * 0.2, side * 0.2);
  } else if (name == QLatin1String("accountNoIcon")) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe4, 0xe8, 0xee));
    p.drawEllipse(sq.adjusted(1, 1, -1, -1));
    drawPerson(p, sq, QColor(0x9a, 0xa4, 0xb2));
  } else if (name == QLatin1String("accountMultipleIcon")) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe4, 0xe8, 0xee));
    p.drawEllipse(sq.adjusted(1, 1, -1, -1));
    const qreal t = side * 0.62;
    drawPerson(p, QRectF(sq.left() + side * 0.08, sq.top() + side * 0.12, t, t), QColor(0xb4, 0xbd, 0xc8));
    drawPerson(p, QRectF(sq.right() - t - side * 0.06, sq.top() + side * 0.2, t, t), QColor(0x7d, 0x89, 0x99));
  } else {
    p.restore();
    return false;
  }
  p.restore();
  return true;
}
