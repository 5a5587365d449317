// The part chart and the bar chart: their data-source order, the fall back to
// the first division, the loading state, the switch, and renders.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QStringList>

#include "core/KVRFormatters.h"
#include "graphs/KVRGraphStyle.h"
#include "graphs/KVRVortelyBarGraphView.h"
#include "graphs/KVRVortelyCamembertGraphView.h"
#include "render_dir.h"

namespace {

class RecordingPartSource : public KVRVortelyCamembertGraphDataSource {
 public:
  QStringList log;
  std::optional<bool> loading = false;
  int partsByProduct = 2;
  int partsByCountry = 3;
  float totalValue = 100;
  std::vector<QString> legends{"Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta"};

  std::optional<bool> loadingData() override { log << "loadingData"; return loading; }
  int numberOfPartsForCamembertGraph(KVRVortelyCamembertGraphView*, int index) override {
    log << QString("numberOfParts:%1").arg(index);
    return index == 0 ? partsByProduct : partsByCountry;
  }
  double valueForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) override {
    log << QString("value:%1:%2").arg(part).arg(index);
    return part < 0 ? totalValue : 10.0f * (part + 1);
  }
  QString legendForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) override {
    log << QString("legend:%1:%2").arg(part).arg(index);
    return legends[part % legends.size()];
  }
  std::optional<QString> valueLabelFormatForCamembertGraph(KVRVortelyCamembertGraphView*) override {
    log << "format";
    return QStringLiteral("%@ €");
  }
  float percentForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) override {
    log << QString("percent:%1:%2").arg(part).arg(index);
    return totalValue == 0 ? 0.0f : 10.0f * (part + 1) / totalValue;
  }
  float ratioForAnimationAtIndex(KVRVortelyCamembertGraphView*, int index) override {
    log << QString("ratio:%1").arg(index);
    return 1.0f;
  }
  QColor colorForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) override {
    log << QString("color:%1:%2").arg(part).arg(index);
    return QColor(236, 171, 26);
  }
};

QStringList partSequence(int part, int index) {
  return {QString("value:%1:%2").arg(part).arg(index), QString("legend:%1:%2").arg(part).arg(index), "format",
          QString("percent:%1:%2").arg(part).arg(index), QString("ratio:%1").arg(index),
          QString("color:%1:%2").arg(part).arg(index)};
}

class RecordingBarSource : public KVRVortelyBarGraphDataSource {
 public:
  QStringList log;
  int parts = 2;
  float scale = 50;
  bool answersFormat = true;
  double valueFactor = 1;  // values in another unit than the scale
  bool followPercent = false;
  bool barsFollowPercent(KVRVortelyBarGraphView*) override { return followPercent; }
  int numberOfPartsForCamembertGraph(KVRVortelyBarGraphView*) override { log << "numberOfParts"; return parts; }
  QString legendForPartAtIndex(KVRVortelyBarGraphView*, int part) override {
    log << QString("legend:%1").arg(part);
    static const char* codes[] = {"WW", "AU", "CA", "CH", "DK", "EU", "GB", "HK", "ID", "IL",
                                  "IN", "JP", "MX", "NO", "NZ", "RU", "SE", "US", "IAD"};
    return QString::fromLatin1(codes[part % 19]);
  }
  QColor colorForPartAtIndex(KVRVortelyBarGraphView*, int part) override {
    log << QString("color:%1").arg(part);
    return QColor(196, 214, 10);
  }
  double valueForPartAtIndex(KVRVortelyBarGraphView*, int part) override {
    log << QString("value:%1").arg(part);
    if (part < 0) return scale;
    return valueFactor * (part == 0 ? scale : scale * ((part * 7) % 11) / 22.0f);
  }
  float percentForPartAtIndex(KVRVortelyBarGraphView*, int part) override {
    log << QString("percent:%1").arg(part);
    return scale == 0 ? 0.0f : (part == 0 ? 1.0f : ((part * 7) % 11) / 22.0f);
  }
  float ratioForAnimationAtIndex(KVRVortelyBarGraphView*, int part) override {
    log << QString("ratio:%1").arg(part);
    return 1.0f;
  }
  std::optional<QString> valueLabelFormatAtIndex(KVRVortelyBarGraphView*, int part) override {
    log << QString("format:%1").arg(part);
    if (!answersFormat) return std::nullopt;
    return QStringLiteral("%@ $");
  }
};

}  // namespace

TEST(PartChart, PullsTheDataSourceInDrawingOrder) {
  RecordingPartSource ds;
  KVRVortelyCamembertGraphView view;
  view.resize(320, 200);
  view.setDataSource(&ds);
  ds.log.clear();
  const KVRPartChartSnapshot s = view.collect();
  QStringList expected = {"loadingData", "numberOfParts:0", "value:-1:0"};
  expected << partSequence(0, 0) << partSequence(1, 0);
  EXPECT_EQ(ds.log, expected);
  EXPECT_EQ(s.index, 0);
  EXPECT_FLOAT_EQ(s.total, 100);
  ASSERT_EQ(s.parts.size(), 2u);
  EXPECT_EQ(s.parts[1].legend, "Beta");
  EXPECT_FLOAT_EQ(s.parts[1].percent, 0.2f);

  // A paint pulls the same sequence.
  ds.log.clear();
  view.grab();
  EXPECT_EQ(ds.log.mid(0, expected.size()), expected);
}

TEST(PartChart, EmptyCountryDivisionFallsBackToProducts) {
  RecordingPartSource ds;
  ds.partsByCountry = 0;
  KVRVortelyCamembertGraphView view;
  view.setDataSource(&ds);
  view.setDisplayState(3);  // index 1
  int announced = -1;
  QObject::connect(&view, &KVRVortelyCamembertGraphView::displayStateChanged, [&](int s) { announced = s; });
  ds.log.clear();
  const KVRPartChartSnapshot s = view.collect();
  QStringList expected = {"loadingData", "numberOfParts:1", "numberOfParts:0", "value:-1:0"};
  expected << partSequence(0, 0) << partSequence(1, 0);
  EXPECT_EQ(ds.log, expected);
  EXPECT_EQ(view.displayState(), 0);
  EXPECT_EQ(announced, 0);
  EXPECT_EQ(s.index, 0);
}

TEST(PartChart, StateAboveOneAsksItsOwnDivision) {
  RecordingPartSource ds;
  KVRVortelyCamembertGraphView view;
  view.setDataSource(&ds);
  view.setDisplayState(2);
  ds.log.clear();
  const KVRPartChartSnapshot s = view.collect();
  EXPECT_EQ(ds.log.mid(0, 3), (QStringList{"loadingData", "numberOfParts:1", "value:-1:1"}));
  EXPECT_EQ(s.parts.size(), 3u);
  EXPECT_EQ(view.displayState(), 2);
  // State 1 halves to division 0.
  view.setDisplayState(1);
  EXPECT_EQ(view.divisionIndex(), 0);
}

TEST(PartChart, NoPartsInFirstDivisionIsNotRetried) {
  RecordingPartSource ds;
  ds.partsByProduct = 0;
  KVRVortelyCamembertGraphView view;
  view.setDataSource(&ds);
  ds.log.clear();
  const KVRPartChartSnapshot s = view.collect();
  EXPECT_EQ(ds.log, (QStringList{"loadingData", "numberOfParts:0", "value:-1:0"}));
  EXPECT_TRUE(s.parts.empty());
  view.grab();
  EXPECT_TRUE(view.lastRows().empty());
}

TEST(PartChart, LoadingStateAsksNothingElse) {
  RecordingPartSource ds;
  ds.loading = true;
  KVRVortelyCamembertGraphView view;
  view.resize(300, 160);
  view.setDataSource(&ds);
  ds.log.clear();
  view.grab();
  ASSERT_FALSE(ds.log.isEmpty());
  for (const QString& s : ds.log) EXPECT_EQ(s, "loadingData");
}

TEST(PartChart, SwitchTogglesTheDivision) {
  RecordingPartSource ds;
  KVRVortelyCamembertGraphView view;
  view.resize(320, 200);
  view.setDataSource(&ds);
  view.toggleDivision();
  EXPECT_EQ(view.displayState(), 2);
  view.toggleDivision();
  EXPECT_EQ(view.displayState(), 0);
  const QRectF sw = view.switchRect();
  ASSERT_FALSE(sw.isEmpty());
  const QPointF right(sw.right() - 5, sw.center().y());
  QMouseEvent press(QEvent::MouseButtonPress, right, view.mapToGlobal(right), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &press);
  EXPECT_EQ(view.displayState(), 2);
  const QPointF left(sw.left() + 5, sw.center().y());
  QMouseEvent press2(QEvent::MouseButtonPress, left, view.mapToGlobal(left), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &press2);
  EXPECT_EQ(view.displayState(), 0);
  view.setShowsDivisionSwitch(false);
  EXPECT_TRUE(view.switchRect().isEmpty());
}

TEST(PartChart, ZeroTotalAndOddAnswersDrawSafely) {
  RecordingPartSource ds;
  ds.totalValue = 0;  // every percent 0
  KVRVortelyCamembertGraphView view;
  view.resize(300, 180);
  view.setDataSource(&ds);
  view.grab();
  // The rows are listed, with no bar and a share of nothing.
  ASSERT_EQ(view.lastRows().size(), 2u);
  for (const KVRPartChartRow& r : view.lastRows()) {
    EXPECT_TRUE(r.bar.isNull());
    EXPECT_EQ(r.label, "0.00 %");
  }
  ds.partsByProduct = -4;  // a nonsense count reads as no parts
  ds.log.clear();
  EXPECT_TRUE(view.collect().parts.empty());
}

// Whether a pixel is near a colour (the bars are shaded a little).
bool near(QRgb pixel, const QColor& c, int tolerance = 30) {
  return std::abs(qRed(pixel) - c.red()) <= tolerance && std::abs(qGreen(pixel) - c.green()) <= tolerance &&
         std::abs(qBlue(pixel) - c.blue()) <= tolerance;
}

TEST(PartChart, DrawsEachBarInItsColourAndLengthWithItsShare) {
  RecordingPartSource ds;
  ds.partsByProduct = 5;
  ds.totalValue = 150;
  KVRVortelyCamembertGraphView view;
  view.resize(340, 200);
  view.setDataSource(&ds);
  const QImage img = view.grab().toImage();
  saveRender(img, "parts_percent.png");
  // Largest part first: 50, 40, 30, 20, 10 of 150.
  const auto& rows = view.lastRows();
  ASSERT_EQ(rows.size(), 5u);
  const QStringList shares = {"33.33 %", "26.67 %", "20.00 %", "13.33 %", "6.67 %"};
  for (int r = 0; r < 5; ++r) {
    EXPECT_EQ(rows[r].label, shares[r]);
    EXPECT_EQ(rows[r].legend, ds.legends[4 - r]);
    // Bars measure their share against the largest one.
    EXPECT_NEAR(rows[r].bar.width() / rows[0].bar.width(), (50.0 - 10 * r) / 50.0, 0.02);
    // The bar's own colour in its middle, the empty track after its end.
    const QPointF mid = rows[r].bar.center();
    EXPECT_TRUE(near(img.pixel(mid.toPoint()), QColor(236, 171, 26))) << r;
    const QPointF after(rows[r].bar.right() + 4, mid.y());
    if (after.x() < rows[r].track.right() - 2) { EXPECT_TRUE(near(img.pixel(after.toPoint()), QColor(233, 236, 241), 8)); }
  }

  // Values instead of shares, each in its form; more parts than rows: the rest counted.
  view.setShowValuesInsteadOfPercent(1);
  view.setGreenBars(true);
  ds.partsByCountry = 40;
  view.setDisplayState(2);
  saveRender(view.grab().toImage(), "parts_values_many.png");
  ASSERT_FALSE(view.lastRows().empty());
  EXPECT_LT(view.lastRows().size(), 40u);
  EXPECT_EQ(view.lastRows().front().label, "400.00 €");
  // A total of ten digits beside the switch: set smaller, never over it.
  ds.totalValue = 1661378656.0f;
  view.resize(300, 200);
  view.grab();
  EXPECT_FALSE(view.lastTotalRect().intersects(view.switchRect()));
  EXPECT_LE(view.lastTotalRect().right(), view.width());
  ds.loading = true;
  saveRender(view.grab().toImage(), "parts_loading.png");
  EXPECT_TRUE(view.lastRows().empty());
}

TEST(PartChart, SwitchShowsWhatTheRowsList) {
  RecordingPartSource ds;
  KVRVortelyCamembertGraphView view;
  view.resize(320, 200);
  view.setDataSource(&ds);
  const QRectF sw = view.switchRect();
  const QPoint productHalf(int(sw.left() + sw.width() / 4), int(sw.center().y()));
  const QPoint countryHalf(int(sw.right() - sw.width() / 4), int(sw.center().y()));
  // Hits only the switch's own halves: the highlight colour sits behind the
  // text's first pixels, so look just above the middle.
  auto highlighted = [&](QPoint at) {
    const QImage img = view.grab().toImage();
    return near(img.pixel(at.x() - 30, at.y() - 5), QColor(52, 120, 246), 20);
  };
  EXPECT_TRUE(highlighted(productHalf));
  EXPECT_FALSE(highlighted(countryHalf));

  // One product: the first division lists its countries.
  class OneProductSource : public RecordingPartSource {
   public:
    bool divisionListsCountries(KVRVortelyCamembertGraphView*, int) override { return true; }
  } one;
  view.setDataSource(&one);
  EXPECT_FALSE(highlighted(productHalf));
  EXPECT_TRUE(highlighted(countryHalf));
  // Nothing to list by product: its half does nothing.
  view.setDisplayState(2);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(productHalf), view.mapToGlobal(QPointF(productHalf)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &press);
  EXPECT_EQ(view.displayState(), 2);
}

TEST(PartChart, LongNamesKeepWhatTellsThemApart) {
  const QFontMetricsF fm(QFont(QStringLiteral("DejaVu Sans"), 9));
  const QString ios = QStringLiteral("Skyline Sketch Professional Edition (iOS)");
  const QString mac = QStringLiteral("Skyline Sketch Professional Edition (Mac)");
  const qreal width = fm.horizontalAdvance(QStringLiteral("Skyline Sketch Pro"));
  const QString a = KVRGraphStyle::elidedName(fm, ios, width), b = KVRGraphStyle::elidedName(fm, mac, width);
  EXPECT_TRUE(a.endsWith("(iOS)")) << a.toStdString();
  EXPECT_TRUE(b.endsWith("(Mac)")) << b.toStdString();
  EXPECT_TRUE(a.startsWith("Sky"));
  EXPECT_LE(fm.horizontalAdvance(a), width);
  EXPECT_NE(a, b);
  EXPECT_EQ(KVRGraphStyle::elidedName(fm, QStringLiteral("Atlas"), width), "Atlas");

  // In a narrow chart the whole name is the row's tooltip.
  RecordingPartSource ds;
  ds.legends = {ios, mac};
  KVRVortelyCamembertGraphView view;
  view.resize(260, 160);
  view.setDataSource(&ds);
  view.grab();
  ASSERT_EQ(view.lastRows().size(), 2u);
  EXPECT_EQ(view.legendAt(view.lastRows()[0].legendRect.center()), mac);
  EXPECT_EQ(view.legendAt(view.lastRows()[1].row.center()), ios);
  EXPECT_TRUE(view.legendAt(QPointF(2, 2)).isEmpty());
}

TEST(BarChart, PullsTheDataSourceInDrawingOrder) {
  RecordingBarSource ds;
  KVRVortelyBarGraphView view;
  view.resize(400, 200);
  view.setDataSource(&ds);
  ds.log.clear();
  const KVRBarChartSnapshot s = view.collect();
  const QStringList expected = {"numberOfParts", "value:-1",
                                "legend:0",      "color:0", "value:0", "percent:0", "ratio:0", "format:0",
                                "legend:1",      "color:1", "value:1", "percent:1", "ratio:1", "format:1"};
  EXPECT_EQ(ds.log, expected);
  EXPECT_FLOAT_EQ(s.scale, 50);
  ASSERT_EQ(s.parts.size(), 2u);
  EXPECT_EQ(s.parts[0].valueLabelFormat, QStringLiteral("%@ $"));
  ds.answersFormat = false;
  EXPECT_FALSE(view.collect().parts[0].valueLabelFormat.has_value());
  ds.log.clear();
  view.grab();
  EXPECT_EQ(ds.log.mid(0, expected.size()), expected);
}

TEST(BarChart, ZeroScaleDrawsSafely) {
  RecordingBarSource ds;
  ds.scale = 0;
  ds.parts = 19;
  KVRVortelyBarGraphView view;
  view.resize(600, 220);
  view.setDataSource(&ds);
  view.grab();
  // No scale: every bar flat, every column still named.
  ASSERT_EQ(view.lastBars().size(), 19u);
  for (const KVRBarChartBar& b : view.lastBars()) {
    EXPECT_TRUE(b.bar.isNull());
    EXPECT_FALSE(b.legend.isEmpty());
  }
}

TEST(BarChart, DrawsEachBarInItsColourAndHeightWithItsValue) {
  RecordingBarSource ds;
  ds.parts = 19;
  ds.scale = 12840.5f;
  KVRVortelyBarGraphView view;
  view.resize(760, 240);
  view.setDataSource(&ds);
  const QImage img = view.grab().toImage();
  saveRender(img, "bars_percent.png");
  const auto& bars = view.lastBars();
  ASSERT_EQ(bars.size(), 19u);
  // Slice 0 fills the height; the others in proportion to their values.
  for (int i = 1; i < 19; ++i) {
    const double value = ds.scale * ((i * 7) % 11) / 22.0;
    if (value == 0) {
      EXPECT_TRUE(bars[i].bar.isNull()) << i;
      continue;
    }
    EXPECT_NEAR(bars[i].bar.height() / bars[0].bar.height(), value / ds.scale, 0.02) << i;
    EXPECT_TRUE(near(img.pixel(bars[i].bar.center().toPoint()), QColor(196, 214, 10))) << i;
    EXPECT_EQ(bars[i].legend, ds.legendForPartAtIndex(&view, i));
  }
  EXPECT_EQ(bars[0].label, "100.00 %");
  view.setShowValuesInsteadOfPercent(1);
  saveRender(view.grab().toImage(), "bars_values.png");
  EXPECT_EQ(view.lastBars()[0].label, QStringLiteral("%1 $").arg(KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(12840.5)));
  EXPECT_EQ(view.legendAt(view.lastBars()[3].slot.center()), "CH");

  // Values in other units than the scale (amounts in each region's currency,
  // about 150 times the preferred one): bars that follow the shares keep
  // their heights instead of all reaching the top.
  ds.valueFactor = 150;
  ds.followPercent = true;
  view.grab();
  for (int i = 1; i < 19; ++i) {
    const double share = ((i * 7) % 11) / 22.0;
    if (share > 0) { EXPECT_NEAR(view.lastBars()[i].bar.height() / view.lastBars()[0].bar.height(), share, 0.02) << i; }
  }
}
