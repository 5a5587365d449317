#include "graphs/KVRVortelyBarGraphView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "graphs/KVRGraphStyle.h"
#include "platform/KVRLocalization.h"

KVRVortelyBarGraphView::KVRVortelyBarGraphView(QWidget* parent) : QWidget(parent) { setMinimumSize(160, 100); }

KVRVortelyBarGraphView::~KVRVortelyBarGraphView() = default;

void KVRVortelyBarGraphView::setDataSource(KVRVortelyBarGraphDataSource* dataSource) {
  dataSource_ = dataSource;
  update();
}

void KVRVortelyBarGraphView::setShowValuesInsteadOfPercent(int show) {
  showValuesInsteadOfPercent_ = show;
  update();
}

KVRBarChartSnapshot KVRVortelyBarGraphView::collect() {
  KVRBarChartSnapshot s;
  if (!dataSource_) return s;
  KVRVortelyBarGraphDataSource& ds = *dataSource_;
  const int parts = std::max(0, ds.numberOfPartsForCamembertGraph(this));
  s.scale = ds.valueForPartAtIndex(this, -1);
  s.parts.reserve(parts);
  for (int i = 0; i < parts; ++i) {
    KVRBarChartSnapshot::Part part;
    part.legend = ds.legendForPartAtIndex(this, i);
    part.color = ds.colorForPartAtIndex(this, i);
    part.value = ds.valueForPartAtIndex(this, i);
    part.percent = ds.percentForPartAtIndex(this, i);
    part.ratio = ds.ratioForAnimationAtIndex(this, i);
    part.valueLabelFormat = ds.valueLabelFormatAtIndex(this, i);
    s.parts.push_back(std::move(part));
  }
  s.wholeMoney = ds.valuesInWholeUnits(this);
  s.barsFollowPercent = ds.barsFollowPercent(this);
  return s;
}

void KVRVortelyBarGraphView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  render(p, QRectF(rect()));
}

void KVRVortelyBarGraphView::render(QPainter& p, const QRectF& area) {
  using namespace KVRGraphStyle;
  const PanelScope panel(p, area);
  lastBars_.clear();
  if (!dataSource_) return;
  const KVRBarChartSnapshot s = collect();
  const int count = static_cast<int>(s.parts.size());
  if (count == 0) {
    drawMessage(p, area, KVRLocalized("No data"));
    return;
  }
  // A bar of the scale's value fills the height; without a usable scale the
  // bars stay flat (the labels still show the values).
  const bool scaled = std::isfinite(s.scale) && s.scale > 0;

  QStringList labels;
  const QFont labelFont = uiFont(8, true), legendFont = uiFont(8.5), axisFont = uiFont(8);
  const QFontMetricsF vfm(labelFont), lfm(legendFont), afm(axisFont);
  qreal labelWidth = 0;
  for (const auto& part : s.parts) {
    const QString text =
        partLabel(showValuesInsteadOfPercent_, part.valueLabelFormat, part.value, part.percent, s.wholeMoney);
    labels << text;
    labelWidth = std::max(labelWidth, vfm.horizontalAdvance(text));
  }
  std::vector<double> ticks;
  qreal axisWidth = 0;
  if (scaled) {
    for (int q = 0; q <= 4; ++q) {
      ticks.push_back(s.scale * q / 4.0);
      axisWidth = std::max(axisWidth, afm.horizontalAdvance(KVRGraphNumberText(std::round(ticks.back()))));
    }
  }
  QRectF plot = area.adjusted(axisWidth + 16, 12, -12, -26);
  const qreal slot = plot.width() / count;
  const bool rotated = labelWidth + 4 > slot;
  plot.setTop(plot.top() + (rotated ? std::min(labelWidth + 6, plot.height() * 0.45) : vfm.height() + 4));
  if (plot.height() < 10 || slot < 2) return;
  p.setFont(axisFont);
  for (double t : ticks) {
    const qreal y = std::round(plot.bottom() - t / s.scale * plot.height()) + 0.5;
    p.setPen(QPen(grid(), 1));
    p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    p.setPen(axisText());
    p.drawText(QRectF(area.left() + 4, y - 8, axisWidth + 6, 16), Qt::AlignRight | Qt::AlignVCenter,
               KVRGraphNumberText(std::round(t)));
  }
  p.setPen(QPen(frame(), 1));
  p.drawLine(QPointF(plot.left(), plot.bottom() + 0.5), QPointF(plot.right(), plot.bottom() + 0.5));

  // Region codes shrink to fit their column (down to a readable size) before
  // any of them is elided.
  QFont fittedLegendFont = legendFont;
  qreal legendWidth = 0;
  for (const auto& part : s.parts) legendWidth = std::max(legendWidth, lfm.horizontalAdvance(part.legend));
  if (legendWidth > slot - 1 && legendWidth > 0)
    fittedLegendFont.setPointSizeF(std::max(6.0, legendFont.pointSizeF() * (slot - 1) / legendWidth));
  const QFontMetricsF flfm(fittedLegendFont);
  const qreal barWidth = std::max<qreal>(2, std::min<qreal>(slot * 0.62, 46));
  for (int i = 0; i < count; ++i) {
    const auto& part = s.parts[i];
    const qreal cx = plot.left() + slot * (i + 0.5);
    double fraction = s.barsFollowPercent ? (std::isfinite(part.percent) ? double(part.percent) : 0.0)
                      : scaled && std::isfinite(part.value) ? part.value / s.scale
                                                            : 0.0;
    fraction = std::clamp(fraction, 0.0, 1.0) * animationRatio(part.ratio);
    const qreal h = plot.height() * fraction;
    const QRectF bar(cx - barWidth / 2, plot.bottom() - h, barWidth, h);
    lastBars_.push_back(KVRBarChartBar{QRectF(cx - slot / 2, area.top(), slot, area.height()),
                                       h > 0.5 ? bar : QRectF(), part.legend, labels[i]});
    if (h > 0.5) {
      const QColor c = colorOrAccent(part.color);
      QLinearGradient g(bar.topLeft(), bar.topRight());
      g.setColorAt(0, c.lighter(108));
      g.setColorAt(1, c.darker(110));
      p.setPen(Qt::NoPen);
      p.setBrush(g);
      const qreal r = std::min<qreal>(3, barWidth / 3);
      // Rounded top, square foot on the baseline.
      QPainterPath shape;
      shape.addRoundedRect(bar, r, r);
      QPainterPath foot;
      foot.addRect(bar.adjusted(0, std::min(h / 2, r), 0, 0));
      p.drawPath(shape.united(foot));
    }
    p.setFont(labelFont);
    p.setPen(secondaryText());
    if (rotated) {
      p.save();
      p.translate(cx + vfm.ascent() / 2 - 1, bar.top() - 4);
      p.rotate(-90);
      p.drawText(QPointF(0, 0), labels[i]);
      p.restore();
    } else {
      p.drawText(QRectF(cx - slot / 2, bar.top() - vfm.height() - 2, slot, vfm.height()), Qt::AlignCenter, labels[i]);
    }
    p.setFont(fittedLegendFont);
    p.setPen(KVRGraphStyle::text());
    p.drawText(QRectF(cx - slot / 2, plot.bottom() + 5, slot, flfm.height()), Qt::AlignHCenter | Qt::AlignTop,
               elidedName(flfm, part.legend, slot));
  }
}

QString KVRVortelyBarGraphView::legendAt(const QPointF& pos) const {
  for (const KVRBarChartBar& b : lastBars_)
    if (b.slot.contains(pos)) return b.legend;
  return QString();
}

bool KVRVortelyBarGraphView::event(QEvent* event) {
  if (KVRGraphStyle::showLegendToolTip(this, event, [this](const QPointF& pos) { return legendAt(pos); })) return true;
  return QWidget::event(event);
}
