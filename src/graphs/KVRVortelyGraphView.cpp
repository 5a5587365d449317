#include "graphs/KVRVortelyGraphView.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEngine>
#include <QPainterPath>
#include <algorithm>
#include <functional>
#include <cmath>
#include <memory>
#include <optional>

#include "core/KVRCalendar.h"
#include "core/KVRFormatters.h"
#include "graphs/KVRGraphStyle.h"
#include "platform/KVRLocalization.h"

namespace {

// A round step of about span / ticks: 1, 2, 2.5 or 5 times a power of ten.
double niceStep(double span, int ticks) {
  const double raw = span / std::max(1, ticks);
  if (!(raw > 0) || !std::isfinite(raw)) return 1.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double n = raw / magnitude;
  const double nice = n <= 1.0 ? 1.0 : n <= 2.0 ? 2.0 : n <= 2.5 ? 2.5 : n <= 5.0 ? 5.0 : 10.0;
  return nice * magnitude;
}

QString dateText(KVRDate date) {
  if (!date.isValid()) return QString();
  return KVRFormatters::shared().numberedDateFormatter().stringFromDate(date);
}

QColor averageColor() { return QColor(232, 118, 38); }

// Text with a soft white halo so that it stays readable over curves: the text
// in white around it, then in its colour. Glyphs drawn as text come from the
// glyph cache; outlining them as paths would cost a path per label. A page of
// vectors holds each text once: its halo is a plate laid before the curves.
void drawHaloText(QPainter& p, const QPointF& baseline, const QString& text, const QColor& color, bool vectors) {
  p.save();
  if (vectors) {
    p.setPen(color);
    p.drawText(baseline, text);
    p.restore();
    return;
  }
  p.setPen(QColor(255, 255, 255, 200));
  for (const QPointF d : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1), QPointF(-1, -1), QPointF(1, -1),
                          QPointF(-1, 1), QPointF(1, 1)})
    p.drawText(baseline + d, text);
  p.setPen(color);
  p.drawText(baseline, text);
  p.restore();
}

}  // namespace

std::vector<int> KVRDateAxisLabelPoints(const std::vector<KVRCivilDay>& days, int fit, int firstDayOfWeek) {
  const int n = static_cast<int>(days.size());
  std::vector<int> all(n);
  for (int i = 0; i < n; ++i) all[i] = i;
  if (n <= std::max(1, fit)) return all;

  // 1970-01-01 was a Thursday (4 with Monday 1 ... Sunday 7).
  auto weekday = [](KVRCivilDay d) { return int(((d % 7) + 7 + 3) % 7) + 1; };
  using Rule = std::function<bool(int index, const KVRYMD& ymd, KVRCivilDay day)>;
  int weekStarts = 0;  // counts week starts as they are met, for "every other"
  std::vector<Rule> rules;
  for (int k : {2, 3}) rules.push_back([k](int i, const KVRYMD&, KVRCivilDay) { return i % k == 0; });
  rules.push_back([&](int, const KVRYMD&, KVRCivilDay d) { return weekday(d) == firstDayOfWeek; });
  rules.push_back([&](int, const KVRYMD&, KVRCivilDay d) {
    return weekday(d) == firstDayOfWeek && weekStarts++ % 2 == 0;
  });
  for (unsigned k : {1u, 2u, 3u, 6u})
    rules.push_back([k](int, const KVRYMD& t, KVRCivilDay) { return t.day == 1 && (t.month - 1) % k == 0; });
  for (int k : {1, 2, 5, 10, 20, 50, 100})
    rules.push_back([k](int, const KVRYMD& t, KVRCivilDay) { return t.day == 1 && t.month == 1 && t.year % k == 0; });

  for (const Rule& rule : rules) {
    weekStarts = 0;
    std::vector<int> chosen;
    for (int i = 0; i < n; ++i)
      if (rule(i, KVRYMDFromCivilDay(days[i]), days[i])) chosen.push_back(i);
    if (!chosen.empty() && static_cast<int>(chosen.size()) <= fit) return chosen;
  }
  return {0};
}

KVRVortelyGraphView::KVRVortelyGraphView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setMinimumSize(120, 80);
}

KVRVortelyGraphView::~KVRVortelyGraphView() = default;

void KVRVortelyGraphView::setDataSource(KVRVortelyGraphViewDataSource* dataSource) {
  dataSource_ = dataSource;
  cache_.reset();
  hoveredPoint_ = -1;
  update();
}

void KVRVortelyGraphView::setKindOfGraph(int kind) {
  kindOfGraph_ = kind;
  update();
}

void KVRVortelyGraphView::setShowValues(bool show) {
  showValues_ = show;
  update();
}

void KVRVortelyGraphView::setShowLastDay(bool show) {
  showLastDay_ = show;
  update();
}

KVRGraphSnapshot KVRVortelyGraphView::collect(KVRVortelyGraphViewDataSource& ds) {
  KVRGraphSnapshot s;
  if (const auto loading = ds.loadingData(); loading && *loading) {
    s.loading = true;
    return s;
  }
  s.numberOfPoints = std::max(0, ds.numberOfPointsInCurves());
  s.valueLabelFormat = ds.valueLabelFormat();
  s.wholeMoney = ds.valuesInWholeUnits();
  s.range = ds.maxRangeForCurves();
  const int curves = std::max(0, ds.numberOfCurves());
  s.curves.reserve(curves);
  double sum = 0;
  long long count = 0;
  for (int c = 0; c < curves; ++c) {
    KVRGraphSnapshot::Curve curve;
    curve.color = ds.colorForCurve(c);
    curve.dates.reserve(s.numberOfPoints);
    curve.values.reserve(s.numberOfPoints);
    for (int p = 0; p < s.numberOfPoints; ++p) {
      curve.dates.push_back(ds.dateForPointAtIndex(p, c));
      const double v = ds.valueAtIndex(p, c);
      curve.values.push_back(v);
      if (std::isfinite(v)) {
        sum += v;
        ++count;
      }
    }
    s.curves.push_back(std::move(curve));
  }
  if (const auto median = ds.medianValue()) {
    const std::optional<bool> force = ds.medianForce();
    if (*median != KVRGraphNoMedianValue) {
      if (force && *force)
        s.averageValue = *median;
      else if (count > 0)
        s.averageValue = sum / static_cast<double>(count);
    }
  }
  s.startDate = ds.startDate();
  s.endDate = ds.endDate();
  const int events = std::max(0, ds.numberOfEvents());
  for (int e = 0; e < events; ++e) {
    KVRGraphSnapshot::Event ev;
    ev.label = ds.labelForEventAtIndex(e);
    ev.color = ds.colorForEventAtIndex(e);
    ev.date = ds.dateForEventAtIndex(e);
    ev.image = ds.imageForEventAtIndex(e);
    s.events.push_back(std::move(ev));
  }
  return s;
}

// What a paint pulled and where it drew the plot: enough to draw the value
// bubble again over the same picture.
struct KVRVortelyGraphView::Frame {
  KVRGraphSnapshot s;
  bool plotted = false;  // the plot was drawn (a data source, no loading, room enough)
  QRectF area, plot, inner;
  double bottom = 0, span = 1, top = 1;
  // The vertical axis: its round values and the room their labels take.
  std::vector<double> ticks;
  QFont axisFont;
  qreal labelWidth = 0, topMargin = 14;
  KVRGraphTextLayout text;

  int count() const { return s.numberOfPoints; }
  // Values far outside the axis are pinned a little beyond the plot (and
  // clipped there); a value that is no number sits on zero.
  double yOf(double v) const {
    if (!std::isfinite(v)) v = 0;
    const double y = plot.bottom() - (v - bottom) / span * plot.height();
    return std::clamp(y, plot.top() - 2 * plot.height(), plot.bottom() + 2 * plot.height());
  }
  qreal xOf(int i) const {
    const int n = count();
    if (n <= 1) return inner.center().x();
    return inner.left() + inner.width() * static_cast<double>(i) / static_cast<double>(n - 1);
  }
};

// The picture of the last paint on screen, kept while the data source's
// answers and the view stay as they were.
struct KVRVortelyGraphView::Cache {
  struct Key {
    uint64_t generation = 0;
    bool loading = false;
    QSize size;
    qreal pixelRatio = 1;
    bool showValues = false, showLastDay = false;
    QString locale;
    bool operator==(const Key&) const = default;
  };
  Key key;
  QImage picture;
  Frame frame;
};

void KVRVortelyGraphView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const uint64_t generation = dataSource_ ? dataSource_->answersGeneration() : 0;
  // Printed (the paint recorded as vectors), the graph is drawn anew, never
  // from the picture kept for the screen.
  if (generation == 0 || paintsVectors(p)) {
    cache_.reset();
    render(p, QRectF(rect()));
    return;
  }
  const std::optional<bool> loading = dataSource_->loadingData();
  const Cache::Key key{generation,          loading && *loading, size(),           devicePixelRatioF(),
                       showValues_,         showLastDay_,        QLocale().name()};
  if (!cache_ || !(cache_->key == key)) {
    auto cache = std::make_unique<Cache>();
    cache->key = key;
    cache->picture = QImage(size() * key.pixelRatio, QImage::Format_ARGB32_Premultiplied);
    cache->picture.setDevicePixelRatio(key.pixelRatio);
    cache->picture.fill(Qt::transparent);
    {
      QPainter picture(&cache->picture);
      drawBody(picture, QRectF(rect()), &cache->frame);
    }
    if (cache->frame.plotted) lastText_ = cache->frame.text;
    cache_ = std::move(cache);
  }
  p.drawImage(QPointF(0, 0), cache_->picture);
  const Frame& f = cache_->frame;
  lastPlotRect_ = f.plotted ? f.inner : QRectF();
  lastPointCount_ = f.plotted ? f.count() : 0;
  if (f.plotted) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    drawBubble(p, f);
  }
}

void KVRVortelyGraphView::render(QPainter& p, const QRectF& area) {
  const bool onScreen = p.device() == this;
  Frame f;
  {
    const KVRGraphStyle::PanelScope panel(p, area);
    drawBody(p, area, &f, false);
    if (f.plotted && onScreen) drawBubble(p, f);
  }
  if (f.plotted) lastText_ = f.text;
  if (onScreen) {
    lastPlotRect_ = f.plotted ? f.inner : QRectF();
    lastPointCount_ = f.plotted ? f.count() : 0;
  }
}

// A value label over the curves: the column it keeps free, its rectangle and
// where its text goes.
struct KVRVortelyGraphView::ValueLabel {
  QRectF box;  // the column kept free around the label
  QRectF rect;
  QPointF baseline;
  QString text;
};

void KVRVortelyGraphView::drawBody(QPainter& p, const QRectF& area, Frame* out, bool panel) {
  using namespace KVRGraphStyle;
  std::optional<PanelScope> scope;
  if (panel) scope.emplace(p, area);
  if (!dataSource_) return;
  out->s = collect(*dataSource_);
  if (out->s.loading) {
    drawLoading(p, area);
    return;
  }
  if (!layOutPlot(area, *out)) return;
  Frame& f = *out;
  // A page of vectors (print) holds no translucent gradient: the area under
  // a single curve is shaded in opaque colours, before the grid that shows
  // through it on screen.
  const bool vectors = paintsVectors(p);
  const bool fillFirst = vectors && f.s.curves.size() == 1;

  drawPlotBackground(p, f);
  if (fillFirst) drawCurves(p, f, CurvePart::fill, true);
  drawTicks(p, f);
  drawDateAxis(p, f);
  drawEvents(p, f);

  // Curves, the average line and the value labels, clipped to the plot
  // (values may leave the data source's range). On paper the labels' halo is
  // a plate under them, laid over the average line and under the curves, so
  // that these stay whole.
  p.save();
  p.setClipRect(f.plot.adjusted(-1, -f.topMargin + 2, 1, 1));
  const std::vector<ValueLabel> labels = placeValueLabels(f);
  QString averageCaption;
  const QRectF averagePill = placeAverageCaption(f, labels, &averageCaption);
  if (vectors) {
    drawAverageLine(p, f);
    drawValuePlates(p, labels, averagePill);
  }
  drawCurves(p, f, fillFirst ? CurvePart::line : CurvePart::both, vectors);
  if (!vectors) drawAverageLine(p, f);
  drawValueLabels(p, f, labels, averagePill, vectors);
  p.restore();  // clip

  drawAverageCaption(p, f, averagePill, averageCaption);
  drawLastDay(p, f);
}

bool KVRVortelyGraphView::paintsVectors(QPainter& p) {
  const QPaintEngine* engine = p.paintEngine();
  if (!engine) return false;
  switch (engine->type()) {
    case QPaintEngine::Picture:
    case QPaintEngine::Pdf:
    case QPaintEngine::SVG:
    case QPaintEngine::MacPrinter:
    case QPaintEngine::Windows:
      return true;
    default:
      return false;
  }
}

bool KVRVortelyGraphView::layOutPlot(const QRectF& area, Frame& f) {
  using namespace KVRGraphStyle;
  const KVRGraphSnapshot& s = f.s;
  // Vertical axis, in 64 bits then double: the range may exceed 32 bits.
  const double bottom = static_cast<double>(s.range.location);
  double span = static_cast<double>(s.range.length);
  if (!(span > 0)) span = 1.0;
  const double top = bottom + span;
  const double step = niceStep(span, 4);
  f.ticks.clear();
  for (double t = std::ceil(bottom / step) * step; t <= top + step * 1e-9 && f.ticks.size() < 50; t += step)
    f.ticks.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);

  f.axisFont = uiFont(8.5);
  const QFontMetricsF afm(f.axisFont);
  f.labelWidth = 0;
  for (double t : f.ticks) f.labelWidth = std::max(f.labelWidth, afm.horizontalAdvance(KVRGraphNumberText(t)));

  f.topMargin = s.averageValue ? 22 : 14;
  QRectF plot(area.left() + f.labelWidth + 18, area.top() + f.topMargin, 0, 0);
  plot.setRight(area.right() - 16);
  plot.setBottom(area.bottom() - 28);
  if (plot.width() < 10 || plot.height() < 10) return false;
  f.plotted = true;
  f.area = area;
  f.plot = plot;
  f.inner = plot.adjusted(8, 0, -8, 0);
  f.bottom = bottom;
  f.span = span;
  f.top = top;
  f.text.plot = plot;
  return true;
}

void KVRVortelyGraphView::drawPlotBackground(QPainter& p, const Frame& f) {
  p.setPen(Qt::NoPen);
  p.setBrush(KVRGraphStyle::plotBackground());
  p.drawRect(f.plot);
}

// The horizontal grid with the axis labels.
void KVRVortelyGraphView::drawTicks(QPainter& p, const Frame& f) {
  using namespace KVRGraphStyle;
  p.setFont(f.axisFont);
  for (double t : f.ticks) {
    const qreal y = std::round(f.yOf(t)) + 0.5;
    const bool zero = t == 0.0 && f.bottom < 0;
    p.setPen(QPen(zero ? frame().darker(115) : grid(), 1));
    p.drawLine(QPointF(f.plot.left(), y), QPointF(f.plot.right(), y));
    p.setPen(axisText());
    p.drawText(QRectF(f.area.left() + 4, y - 8, f.labelWidth + 8, 16), Qt::AlignRight | Qt::AlignVCenter,
               KVRGraphNumberText(t));
  }
}

// Horizontal labels: dates (or the data source's labels) on round days (week
// or month starts on long ranges), as many as fit; then the axis line.
void KVRVortelyGraphView::drawDateAxis(QPainter& p, Frame& f) {
  using namespace KVRGraphStyle;
  const KVRGraphSnapshot& s = f.s;
  const int n = s.numberOfPoints;
  const QRectF &plot = f.plot, &area = f.area;
  if (n > 0) {
    const QFontMetricsF afm(f.axisFont);
    const KVRDate sample = s.curves.empty() ? KVRDate() : s.curves.front().dates.front();
    const qreal wanted = afm.horizontalAdvance(dateText(sample).isEmpty() ? QStringLiteral("00/00/00")
                                                                          : dateText(sample)) + 18;
    const int fit = std::max(1, static_cast<int>(f.inner.width() / wanted));
    std::vector<int> labelled;
    bool dated = !s.curves.empty();
    std::vector<KVRCivilDay> days;
    if (dated) {
      days.reserve(n);
      for (int i = 0; i < n && dated; ++i) {
        const KVRDate d = s.curves.front().dates[i];
        dated = d.isValid();
        if (dated) days.push_back(KVRCalendar::shared().civilDay(d));
      }
    }
    if (dated) {
      labelled = KVRDateAxisLabelPoints(days, fit, int(QLocale().firstDayOfWeek()));
    } else {
      const int labelStep = std::max(1, static_cast<int>(std::ceil(static_cast<double>(n) / fit)));
      for (int i = 0; i < n; i += labelStep) labelled.push_back(i);
    }
    for (int i : labelled) {
      QString label = dataSource_->labelAtIndex(i);
      if (label.isEmpty() && !s.curves.empty()) label = dateText(s.curves.front().dates[i]);
      const qreal x = f.xOf(i);
      p.setPen(QPen(grid(), 1, Qt::DotLine));
      if (n > 1) p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
      p.setPen(axisText());
      QRectF lr(x - wanted / 2, plot.bottom() + 6, wanted, 16);
      if (lr.left() < area.left() + 2) lr.moveLeft(area.left() + 2);
      if (lr.right() > area.right() - 2) lr.moveRight(area.right() - 2);
      p.drawText(lr, Qt::AlignHCenter | Qt::AlignTop, label);
    }
    f.text.axisLabelPoints = labelled;
  }
  p.setPen(QPen(frame(), 1));
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(plot.left(), plot.bottom() + 0.5), QPointF(plot.right(), plot.bottom() + 0.5));
}

// Event marks: a dashed line, an image or a dot, and the label's flag.
void KVRVortelyGraphView::drawEvents(QPainter& p, const Frame& f) {
  using namespace KVRGraphStyle;
  const KVRGraphSnapshot& s = f.s;
  const int n = s.numberOfPoints;
  const QRectF& plot = f.plot;
  const bool datedAxis = s.startDate.isValid() && s.endDate.isValid() && s.endDate.isLaterThan(s.startDate);
  for (const auto& ev : s.events) {
    if (!ev.date.isValid() || !datedAxis) continue;
    const double at = (ev.date.ms - s.startDate.ms) / (s.endDate.ms - s.startDate.ms);
    if (at < 0 || at > 1) continue;
    const qreal x = n <= 1 ? f.inner.center().x() : f.inner.left() + f.inner.width() * at;
    const QColor c = ev.color.isValid() ? ev.color : secondaryText();
    QColor line = c;
    line.setAlpha(150);
    p.setPen(QPen(line, 1, Qt::DashLine));
    p.drawLine(QPointF(x, plot.top() + 4), QPointF(x, plot.bottom()));
    qreal flagLeft = x;
    if (!ev.image.isNull()) {
      p.drawImage(QRectF(x - 7, plot.top() + 1, 14, 14), ev.image);
      flagLeft = x + 9;
    } else {
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawEllipse(QPointF(x, plot.top() + 8), 3, 3);
      flagLeft = x + 5;
    }
    if (!ev.label.isEmpty()) {
      p.setFont(uiFont(7.5, true));
      const QFontMetricsF efm(p.font());
      QRectF flag(flagLeft, plot.top() + 1, efm.horizontalAdvance(ev.label) + 10, 14);
      if (flag.right() > plot.right()) flag.moveRight(x - 5);
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawRoundedRect(flag, 4, 4);
      p.setPen(c.lightnessF() > 0.7 ? KVRGraphStyle::text() : QColor(Qt::white));
      p.drawText(flag, Qt::AlignCenter, ev.label);
    }
  }
}

// The curves: the area under a single curve, shaded, then each line and,
// when there is room, its points. For a page of vectors the shade is in
// opaque colours (the translucent ones over the plot's background) and each
// line one path; the area alone is drawn clipped to the plot.
void KVRVortelyGraphView::drawCurves(QPainter& p, const Frame& f, CurvePart part, bool vectors) {
  using namespace KVRGraphStyle;
  const KVRGraphSnapshot& s = f.s;
  const int n = s.numberOfPoints;
  const QRectF& plot = f.plot;
  const double baselineValue = std::clamp(0.0, f.bottom, f.top);
  const bool single = s.curves.size() == 1;
  const bool dots = n > 0 && n <= 45 && f.inner.width() / std::max(1, n) >= 9;
  const bool fills = part != CurvePart::line, lines = part != CurvePart::fill;
  const bool opaqueFill = vectors;
  if (part == CurvePart::fill) {
    p.save();
    p.setClipRect(plot.adjusted(-1, -f.topMargin + 2, 1, 1));
  }
  for (const auto& curve : s.curves) {
    const int count = static_cast<int>(std::min<size_t>(curve.values.size(), n));
    if (count == 0) continue;
    QColor color = colorOrAccent(curve.color);
    QPainterPath line;
    for (int i = 0; i < count; ++i) {
      const QPointF pt(f.xOf(i), f.yOf(curve.values[i]));
      if (i == 0)
        line.moveTo(pt);
      else
        line.lineTo(pt);
    }
    if (single && fills) {
      QPainterPath fill = line;
      fill.lineTo(f.xOf(count - 1), f.yOf(baselineValue));
      fill.lineTo(f.xOf(0), f.yOf(baselineValue));
      fill.closeSubpath();
      QLinearGradient g(0, plot.top(), 0, plot.bottom());
      QColor a = color, b = color;
      if (opaqueFill) {
        const QColor ground = plotBackground();
        auto over = [&](double alpha) {
          const double k = alpha * color.alphaF();
          return QColor::fromRgbF(float(color.redF() * k + ground.redF() * (1 - k)),
                                  float(color.greenF() * k + ground.greenF() * (1 - k)),
                                  float(color.blueF() * k + ground.blueF() * (1 - k)));
        };
        a = over(0.32);
        b = over(0.04);
      } else {
        a.setAlphaF(0.32);
        b.setAlphaF(0.04);
      }
      g.setColorAt(0, a);
      g.setColorAt(1, b);
      p.setPen(Qt::NoPen);
      p.setBrush(g);
      // Its edge along the curve lies under the curve's line: no need to
      // smooth it.
      p.setRenderHint(QPainter::Antialiasing, false);
      p.drawPath(fill);
      p.setRenderHint(QPainter::Antialiasing, true);
    }
    if (!lines) continue;
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color.darker(single ? 112 : 100), single ? 2.2 : 1.8, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    // Segment by segment: with an opaque pen and round caps this covers the
    // very pixels the stroke of the whole path does (its round joins), at a
    // fraction of the cost of outlining a long path that folds on itself.
    if (color.alpha() == 255 && count > 1 && !vectors) {
      std::vector<QLineF> segments;
      segments.reserve(size_t(count - 1));
      for (int i = 1; i < count; ++i)
        segments.emplace_back(QPointF(f.xOf(i - 1), f.yOf(curve.values[i - 1])),
                              QPointF(f.xOf(i), f.yOf(curve.values[i])));
      p.drawLines(segments.data(), int(segments.size()));
    } else {
      p.drawPath(line);
    }
    if (count == 1 || dots) {
      p.setBrush(Qt::white);
      p.setPen(QPen(color.darker(115), 1.6));
      for (int i = 0; i < count; ++i) p.drawEllipse(QPointF(f.xOf(i), f.yOf(curve.values[i])), 2.8, 2.8);
    }
  }
  if (part == CurvePart::fill) p.restore();
}

// Value labels, highest values first, each where it overlaps no label already
// placed: every point when there is room, the peaks otherwise. Several curves
// share the room. They are drawn after the average caption has found its
// place.
std::vector<KVRVortelyGraphView::ValueLabel> KVRVortelyGraphView::placeValueLabels(const Frame& f) const {
  std::vector<ValueLabel> labels;
  if (!showValues_) return labels;
  const KVRGraphSnapshot& s = f.s;
  const int n = s.numberOfPoints;
  const QRectF& plot = f.plot;
  const QFontMetricsF vfm(KVRGraphStyle::uiFont(8));
  // The columns of the plot a label already holds. A point whose narrowest
  // possible label would meet one is passed over before its text is made.
  const int columns = std::max(1, static_cast<int>(std::ceil(f.area.right())) + 16);
  std::vector<char> taken(size_t(columns), 0);
  auto columnsOf = [&](qreal from, qreal to) {
    return std::pair<int, int>(std::clamp(static_cast<int>(std::floor(from)), 0, columns - 1),
                               std::clamp(static_cast<int>(std::ceil(to)), 0, columns - 1));
  };
  auto isFree = [&](qreal from, qreal to) {
    const auto [a, b] = columnsOf(from, to);
    for (int c = a; c <= b; ++c)
      if (taken[size_t(c)]) return false;
    return true;
  };
  const qreal narrowest = vfm.horizontalAdvance(QStringLiteral("0"));
  for (const auto& curve : s.curves) {
    const int count = static_cast<int>(std::min<size_t>(curve.values.size(), n));
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      const double va = std::isfinite(curve.values[a]) ? curve.values[a] : 0.0;
      const double vb = std::isfinite(curve.values[b]) ? curve.values[b] : 0.0;
      return va > vb;
    });
    for (int i : order) {
      if (labels.size() > 400) break;
      // Over long ranges only the peaks are labelled: a row of zeros says nothing.
      if (count > 31 && curve.values[i] == 0.0f) continue;
      const qreal nx = std::clamp(f.xOf(i) - narrowest / 2, plot.left() + 2, plot.right() - narrowest - 2);
      if (!isFree(nx - 4, nx + narrowest + 4)) continue;
      const QString label = KVRGraphStyle::valueText(s.valueLabelFormat, curve.values[i], s.wholeMoney);
      const qreal w = vfm.horizontalAdvance(label);
      const qreal x = std::clamp(f.xOf(i) - w / 2, plot.left() + 2, plot.right() - w - 2);
      const qreal y = std::max(plot.top() + 10, f.yOf(curve.values[i]) - 7);
      // Labels keep apart horizontally (one label per column of the plot).
      const QRectF box(x - 4, plot.top(), w + 8, plot.height());
      if (!isFree(box.left(), box.right()) ||
          std::any_of(labels.begin(), labels.end(), [&](const ValueLabel& l) { return l.box.intersects(box); }))
        continue;
      labels.push_back(ValueLabel{box, QRectF(x - 1, y - vfm.ascent() - 1, w + 2, vfm.height() + 2), QPointF(x, y),
                                  label});
      const auto [a, b] = columnsOf(box.left(), box.right());
      for (int c = a; c <= b; ++c) taken[size_t(c)] = 1;
    }
  }
  return labels;
}

// Where the average line goes, none when there is no average or it is off
// the plot.
std::optional<qreal> KVRVortelyGraphView::averageY(const Frame& f) {
  if (!f.s.averageValue) return std::nullopt;
  const qreal y = f.yOf(*f.s.averageValue);
  if (y < f.plot.top() - 1 || y > f.plot.bottom() + 1) return std::nullopt;
  return y;
}

void KVRVortelyGraphView::drawAverageLine(QPainter& p, const Frame& f) {
  const std::optional<qreal> y = averageY(f);
  if (!y) return;
  p.setPen(QPen(averageColor(), 1.2, Qt::DashLine));
  p.drawLine(QPointF(f.plot.left(), *y), QPointF(f.plot.right(), *y));
}

// The average line's caption goes where it covers no value label (and, when
// there is such a place, no point of the curves). Its place, null when there
// is no line.
QRectF KVRVortelyGraphView::placeAverageCaption(const Frame& f, const std::vector<ValueLabel>& labels,
                                                QString* caption) {
  using namespace KVRGraphStyle;
  const KVRGraphSnapshot& s = f.s;
  const std::optional<qreal> averageLine = averageY(f);
  if (!averageLine) return QRectF();
  const int n = s.numberOfPoints;
  const QRectF &plot = f.plot, &area = f.area;
  const double avg = *s.averageValue;
  const qreal y = *averageLine;
  *caption = KVRApplyValueFormat(KVRLocalized("Average value: %@"), valueText(s.valueLabelFormat, avg, s.wholeMoney));
  const QFontMetricsF cfm(uiFont(8, true));
  const qreal w = cfm.horizontalAdvance(*caption) + 12, h = 15;
  // The points of the curves, by their left edge: a candidate looks only at
  // those whose column it spans.
  std::vector<QRectF> dots;
  for (const auto& curve : s.curves)
    for (int i = 0; i < static_cast<int>(std::min<size_t>(curve.values.size(), n)); ++i)
      dots.emplace_back(f.xOf(i) - 4, f.yOf(curve.values[i]) - 4, 8, 8);
  std::sort(dots.begin(), dots.end(), [](const QRectF& a, const QRectF& b) { return a.left() < b.left(); });
  auto freeOfDots = [&](const QRectF& r) {
    auto it = std::lower_bound(dots.begin(), dots.end(), r.left() - 8,
                               [](const QRectF& d, qreal x) { return d.left() < x; });
    for (; it != dots.end() && it->left() <= r.right(); ++it)
      if (it->intersects(r)) return false;
    return true;
  };
  auto freeOfLabels = [&](const QRectF& r) {
    return std::none_of(labels.begin(), labels.end(), [&](const ValueLabel& l) { return l.rect.intersects(r); });
  };
  // Candidates: just above the line, then just below it, from the right end
  // of the plot to its left end.
  std::vector<QRectF> candidates;
  const qreal right = plot.right() - 4 - w, left = plot.left() + 4;
  for (const qreal top : {y - h - 3, y + 3}) {
    if (top < area.top() + 2 || top + h > plot.bottom()) continue;
    for (qreal x = right; x >= left - 0.5; x -= std::max<qreal>(8, w / 4)) candidates.emplace_back(x, top, w, h);
  }
  if (candidates.empty()) candidates.emplace_back(right, std::clamp(y - h - 3, area.top() + 2, plot.bottom() - h), w, h);
  auto pick = [&](bool avoidDots) -> std::optional<QRectF> {
    for (const QRectF& c : candidates)
      if (freeOfLabels(c) && (!avoidDots || freeOfDots(c))) return c;
    return std::nullopt;
  };
  return pick(true).value_or(pick(false).value_or(candidates.front()));
}

// The plates under the value labels on a page of vectors (their halo).
void KVRVortelyGraphView::drawValuePlates(QPainter& p, const std::vector<ValueLabel>& labels,
                                          const QRectF& averagePill) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 200));
  for (const ValueLabel& l : labels)
    if (averagePill.isNull() || !l.rect.intersects(averagePill)) p.drawRoundedRect(l.rect, 2, 2);
  p.restore();
}

// The value labels; those that the average caption still covers (no free
// place was left) give way to it.
void KVRVortelyGraphView::drawValueLabels(QPainter& p, Frame& f, const std::vector<ValueLabel>& labels,
                                          const QRectF& averagePill, bool vectors) {
  p.setFont(KVRGraphStyle::uiFont(8));
  for (const ValueLabel& l : labels) {
    if (!averagePill.isNull() && l.rect.intersects(averagePill)) continue;
    drawHaloText(p, l.baseline, l.text, KVRGraphStyle::text(), vectors);
    f.text.valueLabels.push_back(l.rect);
    f.text.valueLabelTexts.push_back(l.text);
  }
}

void KVRVortelyGraphView::drawAverageCaption(QPainter& p, Frame& f, const QRectF& pill, const QString& caption) {
  if (pill.isNull()) return;
  QColor bg = averageColor();
  bg.setAlpha(235);
  p.setPen(Qt::NoPen);
  p.setBrush(bg);
  p.drawRoundedRect(pill, 7, 7);
  p.setFont(KVRGraphStyle::uiFont(8, true));
  p.setPen(Qt::white);
  p.drawText(pill, Qt::AlignCenter, caption);
  f.text.averageLabel = pill;
  f.text.averageText = caption;
}

// The last day of a daily view: a dotted line down to the axis and a ringed
// point.
void KVRVortelyGraphView::drawLastDay(QPainter& p, const Frame& f) const {
  const int n = f.s.numberOfPoints;
  if (!showLastDay_ || n <= 0) return;
  for (const auto& curve : f.s.curves) {
    if (static_cast<int>(curve.values.size()) < n) continue;
    const QColor color = KVRGraphStyle::colorOrAccent(curve.color);
    const QPointF pt(f.xOf(n - 1), std::clamp(f.yOf(curve.values[n - 1]), f.plot.top(), f.plot.bottom()));
    p.setPen(QPen(color.darker(120), 1, Qt::DotLine));
    p.drawLine(pt, QPointF(pt.x(), f.plot.bottom()));
    QColor halo = color;
    halo.setAlpha(70);
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(pt, 7, 7);
    p.setBrush(Qt::white);
    p.setPen(QPen(color.darker(125), 2));
    p.drawEllipse(pt, 3.6, 3.6);
  }
}

// The value bubble of the point under the mouse.
void KVRVortelyGraphView::drawBubble(QPainter& p, const Frame& f) {
  using namespace KVRGraphStyle;
  const KVRGraphSnapshot& s = f.s;
  const QRectF& plot = f.plot;
  const QRectF& area = f.area;
  auto yOf = [&f](double v) { return f.yOf(v); };
  if (hoveredPoint_ >= 0 && hoveredPoint_ < f.count() && !s.curves.empty()) {
    const int i = hoveredPoint_;
    const qreal x = f.xOf(i);
    p.setPen(QPen(QColor(120, 128, 140, 140), 1));
    p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    QStringList lines;
    std::vector<QColor> colors;
    for (size_t c = 0; c < s.curves.size(); ++c) {
      const auto& curve = s.curves[c];
      if (static_cast<int>(curve.values.size()) <= i) continue;
      const QColor color = colorOrAccent(curve.color);
      const QPointF pt(x, std::clamp(yOf(curve.values[i]), plot.top(), plot.bottom()));
      p.setBrush(color);
      p.setPen(QPen(Qt::white, 1.5));
      p.drawEllipse(pt, 4, 4);
      const QString unit = dataSource_->mouseOverLabelForCurve(static_cast<int>(c));
      // A value in its format carries its unit; a count gets the unit word.
      QString line = valueText(s.valueLabelFormat, curve.values[i], s.wholeMoney);
      if (!s.valueLabelFormat && !unit.isEmpty()) line += u' ' + unit;
      lines << line;
      colors.push_back(color);
    }
    const QString title = dateText(s.curves.front().dates[i]);
    const QFont titleFont = uiFont(8.5, true), lineFont = uiFont(9);
    const QFontMetricsF tfm(titleFont), lfm(lineFont);
    qreal w = tfm.horizontalAdvance(title);
    for (const QString& l : lines) w = std::max(w, lfm.horizontalAdvance(l) + 14);
    const qreal h = 8 + tfm.height() + lines.size() * (lfm.height() + 1) + 6;
    QRectF bubble(x + 12, plot.top() + 6, w + 18, h);
    if (bubble.right() > area.right() - 4) bubble.moveRight(x - 12);
    p.setPen(QPen(QColor(0, 0, 0, 40), 1));
    p.setBrush(QColor(255, 255, 255, 245));
    p.drawRoundedRect(bubble, 6, 6);
    p.setFont(titleFont);
    p.setPen(secondaryText());
    p.drawText(QRectF(bubble.left() + 9, bubble.top() + 5, w, tfm.height()), Qt::AlignLeft, title);
    p.setFont(lineFont);
    qreal ly = bubble.top() + 6 + tfm.height() + 1;
    for (int l = 0; l < lines.size(); ++l) {
      p.setPen(Qt::NoPen);
      p.setBrush(colors[l]);
      p.drawEllipse(QPointF(bubble.left() + 13, ly + lfm.height() / 2), 3.5, 3.5);
      p.setPen(KVRGraphStyle::text());
      p.drawText(QRectF(bubble.left() + 22, ly, w, lfm.height()), Qt::AlignLeft, lines[l]);
      ly += lfm.height() + 1;
    }
  }
}

int KVRVortelyGraphView::pointIndexAt(qreal x) const {
  if (lastPointCount_ <= 0 || lastPlotRect_.isEmpty()) return -1;
  if (x < lastPlotRect_.left() - 8 || x > lastPlotRect_.right() + 8) return -1;
  if (lastPointCount_ == 1) return 0;
  const double f = (x - lastPlotRect_.left()) / lastPlotRect_.width();
  const int i = static_cast<int>(std::lround(f * (lastPointCount_ - 1)));
  return std::clamp(i, 0, lastPointCount_ - 1);
}

void KVRVortelyGraphView::setHoveredPoint(int point) {
  if (point == hoveredPoint_) return;
  hoveredPoint_ = point;
  update();
}

void KVRVortelyGraphView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  const bool inside = lastPlotRect_.adjusted(-8, -30, 8, 0).contains(pos);
  setHoveredPoint(inside ? pointIndexAt(pos.x()) : -1);
  QWidget::mouseMoveEvent(event);
}

void KVRVortelyGraphView::leaveEvent(QEvent* event) {
  setHoveredPoint(-1);
  QWidget::leaveEvent(event);
}
