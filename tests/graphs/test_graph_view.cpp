// The curve graph: the order in which it pulls its data source, the loading
// state, the average line rules, the bubble and the value-format helper.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cmath>

#include "graphs/KVRGraphStyle.h"
#include "graphs/KVRValueTexts.h"
#include "graphs/KVRVortelyGraphView.h"
#include "render_dir.h"

namespace {

class RecordingGraphSource : public KVRVortelyGraphViewDataSource {
 public:
  QStringList log;
  std::optional<bool> loading = false;
  int points = 3;
  int curves = 2;
  std::optional<double> median = 10.0;
  std::optional<bool> force = false;
  int events = 1;
  KVRSignedRange range{0, 10};
  std::vector<std::vector<double>> values{{1, 2, 3}, {4, 5, 6}};

  std::optional<bool> loadingData() override { log << "loadingData"; return loading; }
  int numberOfPointsInCurves() override { log << "numberOfPointsInCurves"; return points; }
  std::optional<QString> valueLabelFormat() override { log << "valueLabelFormat"; return QStringLiteral("%@ €"); }
  KVRSignedRange maxRangeForCurves() override { log << "maxRangeForCurves"; return range; }
  int numberOfCurves() override { log << "numberOfCurves"; return curves; }
  QColor colorForCurve(int c) override { log << QString("colorForCurve:%1").arg(c); static const QColor colors[] = {QColor(196, 214, 10), QColor(52, 120, 246), QColor(230, 90, 120)};
    return colors[c % 3];
  }
  KVRDate dateForPointAtIndex(int p, int c) override {
    log << QString("dateForPointAtIndex:%1:%2").arg(p).arg(c);
    return KVRDate(1.7e12 + p * 86400000.0);
  }
  double valueAtIndex(int p, int c) override {
    log << QString("valueAtIndex:%1:%2").arg(p).arg(c);
    return values[c % values.size()][p % values[0].size()];
  }
  std::optional<double> medianValue() override { log << "medianValue"; return median; }
  std::optional<bool> medianForce() override { log << "medianForce"; return force; }
  QString mouseOverLabelForCurve(int c) override { log << QString("mouseOverLabelForCurve:%1").arg(c); return "sales"; }
  KVRDate startDate() override { log << "startDate"; return KVRDate(1.7e12); }
  KVRDate endDate() override { log << "endDate"; return KVRDate(1.7e12 + 2 * 86400000.0); }
  int numberOfEvents() override { log << "numberOfEvents"; return events; }
  QString labelForEventAtIndex(int e) override { log << QString("labelForEventAtIndex:%1").arg(e); return "v1.1"; }
  QColor colorForEventAtIndex(int e) override { log << QString("colorForEventAtIndex:%1").arg(e); return Qt::red; }
  KVRDate dateForEventAtIndex(int e) override { log << QString("dateForEventAtIndex:%1").arg(e); return KVRDate(1.7e12 + 86400000.0); }
  QImage imageForEventAtIndex(int e) override { log << QString("imageForEventAtIndex:%1").arg(e); return QImage(); }
  QString labelAtIndex(int i) override { log << QString("labelAtIndex:%1").arg(i); return QString(); }
};

// The part of a log before the first horizontal-axis label question.
QStringList withoutAxisLabels(const QStringList& log, QStringList* axis = nullptr) {
  QStringList head;
  for (const QString& s : log) {
    if (s.startsWith("labelAtIndex:")) {
      if (axis) *axis << s;
    } else {
      head << s;
    }
  }
  return head;
}

}  // namespace

TEST(GraphView, PullsTheDataSourceInDrawingOrder) {
  RecordingGraphSource ds;
  KVRVortelyGraphView view;
  view.resize(500, 240);
  view.setDataSource(&ds);
  ds.log.clear();
  view.grab();
  QStringList axis;
  const QStringList head = withoutAxisLabels(ds.log, &axis);
  const QStringList expected = {
      "loadingData", "numberOfPointsInCurves", "valueLabelFormat", "maxRangeForCurves", "numberOfCurves",
      "colorForCurve:0", "dateForPointAtIndex:0:0", "valueAtIndex:0:0", "dateForPointAtIndex:1:0", "valueAtIndex:1:0",
      "dateForPointAtIndex:2:0", "valueAtIndex:2:0",
      "colorForCurve:1", "dateForPointAtIndex:0:1", "valueAtIndex:0:1", "dateForPointAtIndex:1:1", "valueAtIndex:1:1",
      "dateForPointAtIndex:2:1", "valueAtIndex:2:1",
      "medianValue", "medianForce", "startDate", "endDate", "numberOfEvents",
      "labelForEventAtIndex:0", "colorForEventAtIndex:0", "dateForEventAtIndex:0", "imageForEventAtIndex:0"};
  // One paint pulls the whole sequence once, then the axis labels.
  ASSERT_GE(head.size(), expected.size());
  EXPECT_EQ(head.mid(0, expected.size()), expected);
  EXPECT_FALSE(axis.isEmpty());
  EXPECT_TRUE(ds.log.indexOf(axis.first()) > ds.log.indexOf("imageForEventAtIndex:0"));
  // The bubble's unit word is asked only while the mouse is over a point.
  EXPECT_FALSE(ds.log.join(',').contains("mouseOverLabelForCurve"));
}

TEST(GraphView, LoadingStateAsksNothingElse) {
  RecordingGraphSource ds;
  ds.loading = true;
  KVRVortelyGraphView view;
  view.resize(300, 160);
  view.setDataSource(&ds);
  ds.log.clear();
  view.grab();
  ASSERT_FALSE(ds.log.isEmpty());
  for (const QString& s : ds.log) EXPECT_EQ(s, "loadingData");
  EXPECT_TRUE(KVRVortelyGraphView::collect(ds).loading);
}

TEST(GraphView, LoadingNotImplementedOrFalseDraws) {
  RecordingGraphSource ds;
  ds.loading = std::nullopt;
  EXPECT_FALSE(KVRVortelyGraphView::collect(ds).loading);
  EXPECT_EQ(KVRVortelyGraphView::collect(ds).numberOfPoints, 3);
}

TEST(GraphView, AverageLineRules) {
  RecordingGraphSource ds;  // values 1..6, mean 3.5
  ds.median = 10.0f;
  ds.force = true;
  EXPECT_DOUBLE_EQ(*KVRVortelyGraphView::collect(ds).averageValue, 10.0);
  ds.force = false;
  EXPECT_DOUBLE_EQ(*KVRVortelyGraphView::collect(ds).averageValue, 3.5);
  ds.force = std::nullopt;  // not implemented reads as NO
  EXPECT_DOUBLE_EQ(*KVRVortelyGraphView::collect(ds).averageValue, 3.5);
  ds.median = 2147483648.0f;
  ds.force = true;
  EXPECT_FALSE(KVRVortelyGraphView::collect(ds).averageValue.has_value());
  ds.median = std::nullopt;
  ds.log.clear();
  EXPECT_FALSE(KVRVortelyGraphView::collect(ds).averageValue.has_value());
  EXPECT_FALSE(ds.log.contains("medianForce"));
  // No drawn values and no forced value: nothing to average.
  ds.median = 1.0f;
  ds.force = false;
  ds.points = 0;
  EXPECT_FALSE(KVRVortelyGraphView::collect(ds).averageValue.has_value());
}

TEST(GraphView, SignedAndWideRangesSurvive) {
  RecordingGraphSource ds;
  ds.range = {-5, 5};
  EXPECT_EQ(KVRVortelyGraphView::collect(ds).range, (KVRSignedRange{-5, 5}));
  EXPECT_EQ(ds.range.top(), 0);
  // Beyond 32 bits: the axis must neither overflow nor hang.
  ds.range = {-3000000000LL, 9000000000LL};
  ds.values = {{-2.9e9f, 0, 5.9e9f}, {1, 2, 3}};
  KVRVortelyGraphView view;
  view.resize(400, 200);
  view.setDataSource(&ds);
  view.setShowValues(true);
  view.setShowLastDay(true);
  view.grab();
  // The highest and the lowest point keep their labels, in whole units.
  const QStringList labels(view.lastTextLayout().valueLabelTexts.begin(), view.lastTextLayout().valueLabelTexts.end());
  const QString high = KVRFormattedValueText(ds.valueLabelFormat(), double(5.9e9f), false);
  const QString low = KVRFormattedValueText(ds.valueLabelFormat(), double(-2.9e9f), false);
  EXPECT_TRUE(labels.contains(high)) << labels.join(" | ").toStdString();
  EXPECT_TRUE(labels.contains(low));
  // An empty range still draws its plot.
  ds.range = {0, 0};
  view.grab();
  EXPECT_FALSE(view.lastTextLayout().plot.isEmpty());
}

TEST(GraphView, BubbleAsksTheUnitWordOfEveryCurve) {
  RecordingGraphSource ds;
  KVRVortelyGraphView view;
  view.resize(500, 240);
  view.setDataSource(&ds);
  view.grab();
  // After a paint the mouse positions map onto the points.
  EXPECT_EQ(view.pointIndexAt(-100), -1);
  const int first = view.pointIndexAt(60);
  const int last = view.pointIndexAt(view.width() - 20);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 2);
  view.setHoveredPoint(1);
  ds.log.clear();
  view.grab();
  EXPECT_TRUE(ds.log.contains("mouseOverLabelForCurve:0"));
  EXPECT_TRUE(ds.log.contains("mouseOverLabelForCurve:1"));
  // A hovered point beyond a shrunken curve is ignored.
  ds.points = 1;
  view.setHoveredPoint(2);
  ds.log.clear();
  view.grab();
  EXPECT_FALSE(ds.log.join(',').contains("mouseOverLabelForCurve"));
}

// A data source that numbers its answers: a paint that finds the number of
// the last paint shows that paint's picture again, with the bubble drawn over
// it, and asks nothing but the loading state; a new number is asked again.
TEST(GraphView, PaintsOfTheSameAnswersAskNothingAgain) {
  struct NumberedSource : RecordingGraphSource {
    uint64_t generation = 1;
    uint64_t answersGeneration() override { return generation; }
  };
  NumberedSource ds;
  ds.curves = 1;
  KVRVortelyGraphView view;
  view.resize(500, 240);
  view.setDataSource(&ds);
  view.setShowValues(true);
  const QImage first = view.grab().toImage();
  ds.log.clear();
  EXPECT_EQ(view.grab().toImage(), first);
  EXPECT_EQ(ds.log, QStringList{"loadingData"});

  // The same picture as a paint that asks everything, to the rounding of a
  // pixel's blend.
  RecordingGraphSource plain;
  plain.curves = 1;
  KVRVortelyGraphView reference;
  reference.resize(500, 240);
  reference.setDataSource(&plain);
  reference.setShowValues(true);
  const QImage asked = reference.grab().toImage();
  ASSERT_EQ(asked.size(), first.size());
  int largest = 0;
  for (int y = 0; y < first.height(); ++y)
    for (int x = 0; x < first.width(); ++x) {
      const QColor a(first.pixel(x, y)), b(asked.pixel(x, y));
      largest = std::max({largest, std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                          std::abs(a.blue() - b.blue())});
    }
  EXPECT_LE(largest, 2);

  // The bubble over the kept picture, and gone again.
  view.setHoveredPoint(1);
  ds.log.clear();
  EXPECT_NE(view.grab().toImage(), first);
  EXPECT_EQ(ds.log, (QStringList{"loadingData", "mouseOverLabelForCurve:0"}));
  view.setHoveredPoint(-1);
  EXPECT_EQ(view.grab().toImage(), first);

  // New answers are asked for and drawn.
  ds.values = {{3, 2, 1}};
  ++ds.generation;
  ds.log.clear();
  EXPECT_NE(view.grab().toImage(), first);
  EXPECT_TRUE(ds.log.contains("valueAtIndex:0:0"));
}

TEST(GraphView, NoDataSourceDrawsAnEmptyPanel) {
  KVRVortelyGraphView view;
  view.resize(200, 100);
  const QImage img = view.grab().toImage();
  EXPECT_EQ(QColor(img.pixel(100, 50)), KVRGraphStyle::background());
  EXPECT_EQ(view.pointIndexAt(50), -1);
}

TEST(ValueFormat, ReplacesValueAndPercentEscapes) {
  EXPECT_EQ(KVRApplyValueFormat(QStringLiteral("%@ €"), "12.50"), "12.50 €");
  EXPECT_EQ(KVRApplyValueFormat(QStringLiteral("%@ %%"), "12.5"), "12.5 %");
  EXPECT_EQ(KVRApplyValueFormat(QStringLiteral("%@ %"), "12.5"), "12.5 %");
  EXPECT_EQ(KVRApplyValueFormat(std::nullopt, "7"), "7");
  EXPECT_EQ(KVRApplyValueFormat(QString(), "7"), "7");
  EXPECT_EQ(KVRApplyValueFormat(QStringLiteral("Average value: %@"), "3 $"), "Average value: 3 $");
  // A value that itself holds "%@" is not expanded again.
  EXPECT_EQ(KVRApplyValueFormat(QStringLiteral("%@!"), "%@"), "%@!");
}

TEST(GraphView, RendersSampleCurves) {
  RecordingGraphSource ds;
  ds.points = 30;
  ds.curves = 1;
  ds.values = {{}};
  for (int i = 0; i < 30; ++i) ds.values[0].push_back(40 + 25 * std::sin(i / 4.0) + (i % 7) * 3);
  ds.range = {0, 100};
  ds.median = 0;
  ds.force = false;
  KVRVortelyGraphView view;
  view.resize(720, 260);
  view.setDataSource(&ds);
  view.setShowValues(true);
  view.setShowLastDay(true);
  view.grab();
  view.setHoveredPoint(12);
  const QImage img = view.grab().toImage();
  saveRender(img, "graph_single.png");
  // The curve in its colour (a little darker): under the label of its
  // highest point, the point itself.
  const KVRGraphTextLayout& t = view.lastTextLayout();
  ASSERT_FALSE(t.valueLabels.empty());
  const QColor line = QColor(196, 214, 10).darker(112);
  bool found = false;
  const QRectF top = t.valueLabels.front();
  for (int y = int(top.bottom()); y < int(top.bottom()) + 14 && !found; ++y)
    for (int x = int(top.left()); x < int(top.right()) && !found; ++x) {
      const QColor c(img.pixel(x, y));
      found = std::abs(c.red() - line.red()) < 25 && std::abs(c.green() - line.green()) < 25 &&
              std::abs(c.blue() - line.blue()) < 25;
    }
  EXPECT_TRUE(found);

  ds.curves = 3;
  ds.values = {{}, {}, {}};
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 30; ++i) ds.values[c].push_back(20 + 15 * c + 12 * std::sin(i / (3.0 + c)) - (c == 2 ? 30 : 0));
  ds.range = {-20, 90};
  ds.median = 2147483648.0f;
  view.setShowValues(false);
  const QImage multi = view.grab().toImage();
  saveRender(multi, "graph_multi.png");
  // Each curve in its own colour, no value label, no average line (the
  // median says none).
  for (const QColor& curve : {QColor(196, 214, 10), QColor(52, 120, 246), QColor(230, 90, 120)}) {
    bool seen = false;
    for (int y = 0; y < multi.height() && !seen; ++y)
      for (int x = 0; x < multi.width() && !seen; ++x) {
        const QColor c(multi.pixel(x, y));
        seen = std::abs(c.red() - curve.red()) < 12 && std::abs(c.green() - curve.green()) < 12 &&
               std::abs(c.blue() - curve.blue()) < 12;
      }
    EXPECT_TRUE(seen) << curve.name().toStdString();
  }
  EXPECT_TRUE(view.lastTextLayout().valueLabels.empty());
  EXPECT_TRUE(view.lastTextLayout().averageText.isEmpty());

  // A long daily range: labels and dots thin out.
  ds.points = 120;
  ds.curves = 1;
  ds.values = {{}};
  for (int i = 0; i < 120; ++i) ds.values[0].push_back(300 + 200 * std::sin(i / 9.0) + (i * 37 % 23) * 6);
  ds.range = {0, 700};
  ds.median = 0;
  ds.events = 0;
  view.setShowValues(true);
  view.setHoveredPoint(-1);
  saveRender(view.grab().toImage(), "graph_long.png");
  // Dates on some days only, value labels on the peaks only, none over
  // another.
  const KVRGraphTextLayout& longRange = view.lastTextLayout();
  EXPECT_GE(longRange.axisLabelPoints.size(), 3u);
  EXPECT_LT(longRange.axisLabelPoints.size(), 30u);
  EXPECT_GE(longRange.valueLabels.size(), 3u);
  EXPECT_LT(longRange.valueLabels.size(), 40u);
  for (size_t a = 0; a < longRange.valueLabels.size(); ++a)
    for (size_t b = a + 1; b < longRange.valueLabels.size(); ++b)
      EXPECT_FALSE(longRange.valueLabels[a].intersects(longRange.valueLabels[b]));
}

TEST(GraphView, PrintRenderPullsTheSameDataWithoutBubble) {
  RecordingGraphSource ds;
  KVRVortelyGraphView view;
  view.resize(500, 240);
  view.setDataSource(&ds);
  view.grab();
  view.setHoveredPoint(1);
  QImage page(1000, 480, QImage::Format_ARGB32_Premultiplied);
  page.fill(Qt::white);
  ds.log.clear();
  {
    QPainter painter(&page);
    view.render(painter, QRectF(0, 0, 1000, 480));
  }
  const QStringList head = withoutAxisLabels(ds.log);
  EXPECT_EQ(head.first(), "loadingData");
  EXPECT_TRUE(head.contains("imageForEventAtIndex:0"));
  EXPECT_FALSE(ds.log.join(',').contains("mouseOverLabelForCurve"));
  // The print render leaves the mouse geometry of the screen alone.
  EXPECT_EQ(view.pointIndexAt(60), 0);
}

TEST(SignedRange, TopSaturates) {
  EXPECT_EQ((KVRSignedRange{-5, 5}).top(), 0);
  EXPECT_EQ((KVRSignedRange{-3000000000LL, 9000000000LL}).top(), 6000000000LL);
  EXPECT_EQ((KVRSignedRange{LLONG_MAX - 1, 10}).top(), LLONG_MAX);
  EXPECT_EQ((KVRSignedRange{LLONG_MIN + 1, -10}).top(), LLONG_MIN);
}

TEST(GraphView, LongRangesLabelRoundDays) {
  auto days = [](KVRCivilDay from, int n) {
    std::vector<KVRCivilDay> d(n);
    for (int i = 0; i < n; ++i) d[i] = from + i;
    return d;
  };
  // A week that fits: every day.
  EXPECT_EQ(KVRDateAxisLabelPoints(days(KVRCivilDayFromYMD(2026, 3, 2), 7), 10, 1).size(), 7u);
  // A month: the Mondays.
  const std::vector<KVRCivilDay> month = days(KVRCivilDayFromYMD(2026, 3, 1), 31);
  for (int i : KVRDateAxisLabelPoints(month, 6, 1)) EXPECT_EQ((month[i] % 7 + 7 + 3) % 7, 0) << i;
  // Four months: the first days of the months, not every 29th day.
  const std::vector<KVRCivilDay> months = days(KVRCivilDayFromYMD(2026, 1, 15), 120);
  const std::vector<int> firsts = KVRDateAxisLabelPoints(months, 8, 1);
  ASSERT_EQ(firsts.size(), 4u);
  for (int i : firsts) EXPECT_EQ(KVRYMDFromCivilDay(months[i]).day, 1u);
  // Five years in ten labels: January and July.
  const std::vector<KVRCivilDay> years = days(KVRCivilDayFromYMD(2021, 3, 1), 5 * 365);
  const std::vector<int> halves = KVRDateAxisLabelPoints(years, 10, 7);
  EXPECT_LE(halves.size(), 10u);
  EXPECT_GE(halves.size(), 9u);
  for (int i : halves) {
    const KVRYMD t = KVRYMDFromCivilDay(years[i]);
    EXPECT_EQ(t.day, 1u);
    EXPECT_TRUE(t.month == 1 || t.month == 7);
  }
}

TEST(GraphView, AverageCaptionCoversNoValueLabel) {
  // Every point close to the average: the caption's first place, above the
  // line at the right end, is taken by the labels.
  RecordingGraphSource ds;
  ds.points = 7;
  ds.curves = 1;
  ds.events = 0;
  ds.values = {{80, 85, 83, 84, 82, 86, 83.8}};
  ds.range = {0, 100};
  ds.median = 0;
  ds.force = false;
  KVRVortelyGraphView view;
  view.resize(560, 240);
  view.setDataSource(&ds);
  view.setShowValues(true);
  saveRender(view.grab().toImage(), "graph_average.png");
  const KVRGraphTextLayout& t = view.lastTextLayout();
  EXPECT_EQ(t.averageText, "Average value: 83.40 €");
  ASSERT_EQ(t.valueLabels.size(), 7u);
  EXPECT_EQ(t.valueLabelTexts.front(), "86.00 €");
  for (const QRectF& label : t.valueLabels) EXPECT_FALSE(label.intersects(t.averageLabel));
  EXPECT_TRUE(t.plot.contains(t.averageLabel));

  // Counts are whole, the average too.
  class CountSource : public RecordingGraphSource {
   public:
    std::optional<QString> valueLabelFormat() override { return std::nullopt; }
  } counts;
  counts.points = 7;
  counts.curves = 1;
  counts.events = 0;
  counts.values = {{200, 210, 190, 205, 201, 214, 205}};
  counts.range = {0, 250};
  counts.median = 0;
  counts.force = false;
  view.setDataSource(&counts);
  view.grab();
  EXPECT_EQ(view.lastTextLayout().averageText, "Average value: 204");
}

TEST(GraphView, PrintsItsShadeAndTextsAsVectors) {
  // A single curve high in its range: a wide shaded area under it.
  RecordingGraphSource ds;
  ds.points = 7;
  ds.curves = 1;
  ds.events = 0;
  ds.values = {{80, 85, 83, 84, 82, 86, 83.8}};
  ds.range = {0, 100};
  ds.median = 0;
  KVRVortelyGraphView view;
  view.resize(560, 240);
  view.setDataSource(&ds);
  view.setShowValues(true);

  QTemporaryDir dir;
  const QString pdf = dir.filePath(QStringLiteral("graph.pdf"));
  {
    QPdfWriter writer(pdf);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QSizeF(560, 240), QPageSize::Point));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    view.render(painter, QRectF(0, 0, 560, 240));
  }
  const KVRGraphTextLayout& t = view.lastTextLayout();
  ASSERT_EQ(t.valueLabelTexts.size(), 7u);

  // Each value label is on the page once, as text.
  QProcess text;
  text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  ASSERT_TRUE(text.waitForFinished(30000));
  const QString words = QString::fromUtf8(text.readAllStandardOutput());
  for (const QString& label : t.valueLabelTexts) EXPECT_EQ(words.count(label), 1) << label.toStdString();

  // The shade under the curve stays as light as on screen: the page cannot
  // hold a translucent gradient, the print draws it in opaque colours.
  QProcess png;
  png.start(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("72"),
                                         QStringLiteral("-singlefile"), pdf, dir.filePath(QStringLiteral("graph"))});
  ASSERT_TRUE(png.waitForFinished(30000));
  const QImage page(dir.filePath(QStringLiteral("graph.png")));
  ASSERT_FALSE(page.isNull());
  saveRender(page, "graph_print.png");
  const QPoint under(int(t.plot.center().x()) + 3, int(t.plot.bottom()) - 20);
  const QColor shade(page.pixel(under));
  EXPECT_GT(shade.blue(), 200) << shade.name().toStdString();
  EXPECT_GT(shade.green(), shade.blue());  // still the curve's hue
}
