#include "graphs/KVRGraphStyle.h"

#include <QHelpEvent>
#include <QPainterPath>
#include <QToolTip>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "core/KVRFormatters.h"
#include "graphs/KVRValueTexts.h"
#include "platform/KVRLocalization.h"

namespace KVRGraphStyle {

QColor background() { return QColor(250, 251, 253); }
QColor plotBackground() { return QColor(255, 255, 255); }
QColor frame() { return QColor(214, 219, 227); }
QColor grid() { return QColor(232, 235, 240); }
QColor axisText() { return QColor(128, 134, 145); }
QColor text() { return QColor(45, 50, 60); }
QColor secondaryText() { return QColor(110, 117, 130); }
QColor accent() { return QColor(52, 120, 246); }

QFont uiFont(qreal pointSize, bool bold) {
  QFont f;
  f.setPointSizeF(pointSize);
  f.setBold(bold);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

void drawPanel(QPainter& p, const QRectF& r) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  const QRectF box = r.adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(QPen(frame(), 1));
  p.setBrush(background());
  p.drawRoundedRect(box, 6, 6);
  p.restore();
}

void drawLoading(QPainter& p, const QRectF& r) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setFont(uiFont(11));
  p.setPen(secondaryText());
  const QString text = KVRLocalized("Loading...");
  const QRectF textRect(r.left(), r.center().y() - 22, r.width(), 20);
  p.drawText(textRect, Qt::AlignCenter, text);
  // three dots under the text
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 3; ++i) {
    QColor c = accent();
    c.setAlphaF(0.35 + 0.25 * i);
    p.setBrush(c);
    p.drawEllipse(QPointF(r.center().x() + (i - 1) * 12, r.center().y() + 8), 3.2, 3.2);
  }
  p.restore();
}

void drawMessage(QPainter& p, const QRectF& r, const QString& message) {
  p.save();
  p.setFont(uiFont(11));
  p.setPen(axisText());
  p.drawText(r, Qt::AlignCenter | Qt::TextWordWrap, message);
  p.restore();
}

PanelScope::PanelScope(QPainter& p, const QRectF& area) : p_(p) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  drawPanel(p, area);
}

QString elidedName(const QFontMetricsF& metrics, const QString& name, qreal width) {
  if (metrics.horizontalAdvance(name) <= width) return name;
  const qsizetype open = name.lastIndexOf(QStringLiteral(" ("));
  if (name.endsWith(u')') && open > 0) {
    const QString suffix = name.mid(open);
    const qreal room = width - metrics.horizontalAdvance(suffix);
    if (room >= metrics.horizontalAdvance(QStringLiteral("W…"))) return metrics.elidedText(name.left(open), Qt::ElideMiddle, room) + suffix;
  }
  return metrics.elidedText(name, Qt::ElideMiddle, width);
}

bool showLegendToolTip(QWidget* view, QEvent* event, const std::function<QString(const QPointF&)>& legendAt) {
  if (event->type() != QEvent::ToolTip) return false;
  auto* help = static_cast<QHelpEvent*>(event);
  const QString legend = legendAt(help->pos());
  if (legend.isEmpty()) QToolTip::hideText();
  else QToolTip::showText(help->globalPos(), legend, view);
  return true;
}

float animationRatio(float ratio) { return std::isfinite(ratio) ? std::clamp(ratio, 0.0f, 1.0f) : 1.0f; }

QString percentText(float fraction) {
  if (!std::isfinite(fraction)) fraction = 0;
  return KVRPercentText(static_cast<double>(fraction) * 100.0);
}

QString valueText(const std::optional<QString>& format, double value, bool wholeMoney) {
  return KVRFormattedValueText(format, value, wholeMoney);
}

QString partLabel(int showValuesInsteadOfPercent, const std::optional<QString>& format, double value, float percent,
                  bool wholeMoney) {
  return showValuesInsteadOfPercent == 1 ? valueText(format, value, wholeMoney) : percentText(percent);
}

}  // namespace KVRGraphStyle

QString KVRApplyValueFormat(const std::optional<QString>& format, const QString& value) {
  if (!format || format->isEmpty()) return value;
  const QString& f = *format;
  QString out;
  out.reserve(f.size() + value.size());
  for (qsizetype i = 0; i < f.size(); ++i) {
    const QChar c = f.at(i);
    if (c == u'%' && i + 1 < f.size()) {
      const QChar n = f.at(i + 1);
      if (n == u'@') { out += value; ++i; continue; }
      if (n == u'%') { out += u'%'; ++i; continue; }
    }
    out += c;
  }
  return out;
}

QString KVRGraphNumberText(double value) {
  return KVRFormatters::shared().currencyFormatter().stringFromNumber(value);
}
