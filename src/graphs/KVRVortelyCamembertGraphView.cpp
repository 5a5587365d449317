#include "graphs/KVRVortelyCamembertGraphView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "graphs/KVRGraphStyle.h"
#include "platform/KVRLocalization.h"

namespace {

constexpr qreal kHeaderHeight = 30;
constexpr qreal kSwitchWidth = 168;
constexpr qreal kSwitchHeight = 20;

QColor switchColor(bool green) { return green ? QColor(76, 160, 96) : KVRGraphStyle::accent(); }

}  // namespace

KVRVortelyCamembertGraphView::KVRVortelyCamembertGraphView(QWidget* parent) : QWidget(parent) {
  setMinimumSize(160, 90);
}

KVRVortelyCamembertGraphView::~KVRVortelyCamembertGraphView() = default;

void KVRVortelyCamembertGraphView::setDataSource(KVRVortelyCamembertGraphDataSource* dataSource) {
  dataSource_ = dataSource;
  update();
}

void KVRVortelyCamembertGraphView::setGreenBars(bool green) {
  greenBars_ = green;
  update();
}

void KVRVortelyCamembertGraphView::setShowValuesInsteadOfPercent(int show) {
  showValuesInsteadOfPercent_ = show;
  update();
}

void KVRVortelyCamembertGraphView::setDisplayState(int state) {
  if (state < 0) state = 0;
  if (state == displayState_) return;
  displayState_ = state;
  emit displayStateChanged(state);
  update();
}

void KVRVortelyCamembertGraphView::setShowsDivisionSwitch(bool show) {
  showsDivisionSwitch_ = show;
  update();
}

void KVRVortelyCamembertGraphView::toggleDivision() { setDisplayState(divisionIndex() == 0 ? 2 : 0); }

KVRPartChartSnapshot KVRVortelyCamembertGraphView::collect() {
  KVRPartChartSnapshot s;
  if (!dataSource_) return s;
  KVRVortelyCamembertGraphDataSource& ds = *dataSource_;
  if (const auto loading = ds.loadingData(); loading && *loading) {
    s.loading = true;
    return s;
  }
  int index = divisionIndex();
  int parts = ds.numberOfPartsForCamembertGraph(this, index);
  if (parts <= 0 && displayState_ >= 2) {
    // The chosen division has nothing to show: fall back to the first one.
    displayState_ = 0;
    emit displayStateChanged(0);
    index = 0;
    parts = ds.numberOfPartsForCamembertGraph(this, index);
  }
  parts = std::max(0, parts);
  s.index = index;
  s.listsCountries = ds.divisionListsCountries(this, index);
  s.firstListsCountries = index == 0 ? s.listsCountries : ds.divisionListsCountries(this, 0);
  s.wholeMoney = ds.valuesInWholeUnitsForCamembertGraph(this);
  s.total = ds.valueForPartAtIndex(this, -1, index);
  s.parts.reserve(parts);
  for (int i = 0; i < parts; ++i) {
    KVRPartChartSnapshot::Part part;
    part.value = ds.valueForPartAtIndex(this, i, index);
    part.legend = ds.legendForPartAtIndex(this, i, index);
    part.valueLabelFormat = ds.valueLabelFormatForCamembertGraph(this);
    part.percent = ds.percentForPartAtIndex(this, i, index);
    part.ratio = ds.ratioForAnimationAtIndex(this, index);
    part.color = ds.colorForPartAtIndex(this, i, index);
    s.parts.push_back(std::move(part));
  }
  return s;
}

QRectF KVRVortelyCamembertGraphView::switchRect() const {
  if (!showsDivisionSwitch_) return QRectF();
  return QRectF(10, (kHeaderHeight - kSwitchHeight) / 2 + 2, std::min<qreal>(kSwitchWidth, width() - 20),
                kSwitchHeight);
}

void KVRVortelyCamembertGraphView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  render(p, QRectF(rect()));
}

void KVRVortelyCamembertGraphView::render(QPainter& p, const QRectF& area) {
  using namespace KVRGraphStyle;
  const PanelScope panel(p, area);
  lastRows_.clear();
  lastTotalRect_ = QRectF();
  if (!dataSource_) return;
  const KVRPartChartSnapshot s = collect();
  if (s.loading) {
    drawLoading(p, area);
    return;
  }

  // Header: the division switch and the total.
  const bool onScreen = p.device() == this;
  const bool showSwitch = showsDivisionSwitch_ && onScreen;
  if (onScreen) productDivisionShown_ = !s.firstListsCountries;
  qreal headerHeight = showSwitch || !s.parts.empty() ? kHeaderHeight : 0;
  if (showSwitch) {
    const QRectF sw = switchRect().translated(area.topLeft());
    const QColor on = switchColor(greenBars_);
    p.setPen(QPen(frame(), 1));
    p.setBrush(QColor(238, 241, 245));
    p.drawRoundedRect(sw, sw.height() / 2, sw.height() / 2);
    const QRectF left(sw.left(), sw.top(), sw.width() / 2, sw.height());
    const QRectF right(sw.center().x(), sw.top(), sw.width() / 2, sw.height());
    // The highlighted half names what the rows list.
    const bool countries = s.listsCountries;
    const QRectF chosen = countries ? right : left;
    p.setPen(Qt::NoPen);
    p.setBrush(on);
    p.drawRoundedRect(chosen.adjusted(1.5, 1.5, -1.5, -1.5), sw.height() / 2 - 1.5, sw.height() / 2 - 1.5);
    p.setFont(uiFont(8.5, true));
    QColor productText = !countries ? QColor(Qt::white) : secondaryText();
    if (s.firstListsCountries) productText = QColor(190, 196, 204);  // nothing to list by product
    p.setPen(productText);
    p.drawText(left, Qt::AlignCenter, KVRLocalized("By product"));
    p.setPen(countries ? QColor(Qt::white) : secondaryText());
    p.drawText(right, Qt::AlignCenter, KVRLocalized("By country"));
  }
  const std::optional<QString> format =
      s.parts.empty() ? std::nullopt : s.parts.front().valueLabelFormat;
  if (!s.parts.empty()) {
    // The total, right of the switch; a long one is set smaller, never over it.
    const QString total = valueText(format, s.total, s.wholeMoney);
    const qreal left = showSwitch ? switchRect().translated(area.topLeft()).right() + 8 : area.left() + 10;
    const QRectF totalRect(left, area.top() + 2, std::max<qreal>(0, area.right() - 12 - left), kHeaderHeight);
    qreal size = 10;
    while (size > 5 && QFontMetricsF(uiFont(size, true)).horizontalAdvance(total) > totalRect.width()) size -= 0.5;
    p.setFont(uiFont(size, true));
    p.setPen(KVRGraphStyle::text());
    p.drawText(totalRect, Qt::AlignRight | Qt::AlignVCenter, total);
    lastTotalRect_ = QFontMetricsF(p.font()).boundingRect(totalRect, Qt::AlignRight | Qt::AlignVCenter, total);
    p.setPen(QPen(grid(), 1));
    p.drawLine(QPointF(area.left() + 8, area.top() + headerHeight + 0.5),
               QPointF(area.right() - 8, area.top() + headerHeight + 0.5));
  }
  const QRectF body = area.adjusted(10, headerHeight + 6, -12, -8);
  if (s.parts.empty()) {
    drawMessage(p, body, KVRLocalized("No data"));
    return;
  }

  // Rows: largest part (last index) first, as many as fit.
  const int count = static_cast<int>(s.parts.size());
  const qreal rowHeight = std::clamp(body.height() / count, 17.0, 24.0);
  int fitting = std::min(count, std::max(1, static_cast<int>(body.height() / rowHeight)));
  const bool more = fitting < count;
  if (more) fitting = std::max(1, fitting - 1);
  float maxShare = 0;
  for (const auto& part : s.parts)
    if (std::isfinite(part.percent)) maxShare = std::max(maxShare, std::abs(part.percent));

  const QFont legendFont = uiFont(9), labelFont = uiFont(8.5, true);
  const QFontMetricsF lfm(legendFont), vfm(labelFont);
  QStringList labels;
  qreal labelWidth = 0;
  for (int r = 0; r < fitting; ++r) {
    const auto& part = s.parts[count - 1 - r];
    const QString label =
        partLabel(showValuesInsteadOfPercent_, part.valueLabelFormat, part.value, part.percent, s.wholeMoney);
    labels << label;
    labelWidth = std::max(labelWidth, vfm.horizontalAdvance(label));
  }
  const qreal legendWidth = std::min(body.width() * 0.38, 150.0);
  const qreal barLeft = body.left() + legendWidth + 8;
  const qreal barMax = std::max(10.0, body.right() - labelWidth - 8 - barLeft);
  for (int r = 0; r < fitting; ++r) {
    const auto& part = s.parts[count - 1 - r];
    const qreal top = body.top() + r * rowHeight;
    const QRectF row(body.left(), top, body.width(), rowHeight);
    if (r % 2 == 1) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(244, 246, 249));
      p.drawRoundedRect(row.adjusted(-4, 0, 4, 0), 3, 3);
    }
    p.setFont(legendFont);
    p.setPen(KVRGraphStyle::text());
    const QRectF legendRect(body.left(), top, legendWidth, rowHeight);
    p.drawText(legendRect, Qt::AlignLeft | Qt::AlignVCenter, elidedName(lfm, part.legend, legendWidth));
    // Bar length relative to the largest share; no share at all draws none.
    const float share = std::isfinite(part.percent) ? std::abs(part.percent) : 0.0f;
    const qreal length = maxShare > 0 ? barMax * (share / maxShare) * animationRatio(part.ratio) : 0.0;
    const qreal barHeight = std::min<qreal>(12, rowHeight - 6);
    const QRectF track(barLeft, top + (rowHeight - barHeight) / 2, barMax, barHeight);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(233, 236, 241));
    p.drawRoundedRect(track, barHeight / 2, barHeight / 2);
    QRectF bar;
    if (length > 0.5) {
      const QColor c = colorOrAccent(part.color);
      QLinearGradient g(0, track.top(), 0, track.bottom());
      g.setColorAt(0, c.lighter(112));
      g.setColorAt(1, c.darker(108));
      p.setBrush(g);
      bar = QRectF(track.left(), track.top(), std::max<qreal>(length, barHeight), barHeight);
      p.drawRoundedRect(bar, barHeight / 2, barHeight / 2);
    }
    lastRows_.push_back(KVRPartChartRow{row, legendRect, track, bar, part.legend, labels[r]});
    p.setFont(labelFont);
    p.setPen(secondaryText());
    p.drawText(QRectF(barLeft + barMax + 6, top, labelWidth + 4, rowHeight), Qt::AlignRight | Qt::AlignVCenter,
               labels[r]);
  }
  if (more) {
    p.setFont(uiFont(8.5));
    p.setPen(axisText());
    p.drawText(QRectF(body.left(), body.top() + fitting * rowHeight, body.width(), rowHeight),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("+ %1").arg(count - fitting));
  }
}

void KVRVortelyCamembertGraphView::mousePressEvent(QMouseEvent* event) {
  const QRectF sw = switchRect();
  if (event->button() == Qt::LeftButton && sw.contains(event->position())) {
    const bool productHalf = event->position().x() < sw.center().x();
    // With nothing to list by product, the product half does nothing.
    if (!productHalf || productDivisionShown_) setDisplayState(productHalf ? 0 : 2);
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

QString KVRVortelyCamembertGraphView::legendAt(const QPointF& pos) const {
  for (const KVRPartChartRow& r : lastRows_)
    if (r.row.contains(pos)) return r.legend;
  return QString();
}

bool KVRVortelyCamembertGraphView::event(QEvent* event) {
  if (KVRGraphStyle::showLegendToolTip(this, event, [this](const QPointF& pos) { return legendAt(pos); })) return true;
  return QWidget::event(event);
}
