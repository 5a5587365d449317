// The part chart and the bar chart: their data-source order, the fall back to
// the first division, the loading state, the switch, and renders.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QMouseEvent>
#include <QStringList>

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
  float valueForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) override {
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
  float valueForPartAtIndex(KVRVortelyBarGraphView*, int part) override {
    log << QString("value:%1").arg(part);
    if (part < 0) return scale;
    return part == 0 ? scale : scale * ((part * 7) % 11) / 22.0f;
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
  EXPECT_FALSE(view.grab().toImage().isNull());
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
  EXPECT_FALSE(view.grab().toImage().isNull());
  ds.partsByProduct = -4;  // a nonsense count reads as no parts
  ds.log.clear();
  EXPECT_TRUE(view.collect().parts.empty());
}

TEST(PartChart, RendersSampleCharts) {
  RecordingPartSource ds;
  ds.partsByProduct = 5;
  ds.totalValue = 150;
  KVRVortelyCamembertGraphView view;
  view.resize(340, 200);
  view.setDataSource(&ds);
  saveRender(view.grab().toImage(), "parts_percent.png");
  view.setShowValuesInsteadOfPercent(1);
  view.setGreenBars(true);
  ds.partsByCountry = 40;
  view.setDisplayState(2);
  saveRender(view.grab().toImage(), "parts_values_many.png");
  ds.loading = true;
  saveRender(view.grab().toImage(), "parts_loading.png");
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
  EXPECT_FALSE(view.grab().toImage().isNull());
}

TEST(BarChart, RendersSampleChart) {
  RecordingBarSource ds;
  ds.parts = 19;
  ds.scale = 12840.5f;
  KVRVortelyBarGraphView view;
  view.resize(760, 240);
  view.setDataSource(&ds);
  saveRender(view.grab().toImage(), "bars_percent.png");
  view.setShowValuesInsteadOfPercent(1);
  saveRender(view.grab().toImage(), "bars_values.png");
}
