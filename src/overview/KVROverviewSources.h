#pragma once
// The overview's answers to the graph views, over one display record: the
// curve graph's data source and one part-chart data source per chart. The
// screen and the print layout each hold their own, pointed at the same kind
// of record, so what is printed is what is shown.
#include <QImage>
#include <QSize>
#include <functional>

#include "graphs/KVRGraphDataSources.h"
#include "overview/KVROverviewCurves.h"
#include "overview/KVROverviewPresenter.h"

class KVROverviewGraphSource : public KVRVortelyGraphViewDataSource {
 public:
  KVROverviewGraphSource(const KVROverviewDisplay* display, const KVROverviewControlState* state)
      : display_(display), state_(state) {}
  // While it answers true the graph draws its loading state.
  std::function<bool()> loading;
  // The number of the answers' present state (see answersGeneration); none:
  // every paint asks again.
  std::function<uint64_t()> generation;

  std::optional<bool> loadingData() override;
  int numberOfPointsInCurves() override;
  std::optional<QString> valueLabelFormat() override;
  bool valuesInWholeUnits() override;
  KVRSignedRange maxRangeForCurves() override;
  int numberOfCurves() override;
  QColor colorForCurve(int curve) override;
  KVRDate dateForPointAtIndex(int point, int curve) override;
  double valueAtIndex(int point, int curve) override;
  std::optional<double> medianValue() override;
  std::optional<bool> medianForce() override;
  QString mouseOverLabelForCurve(int curve) override;
  KVRDate startDate() override;
  KVRDate endDate() override;
  int numberOfEvents() override { return 0; }
  uint64_t answersGeneration() override { return generation ? generation() : 0; }

 private:
  const KVROverviewDisplay* display_;
  const KVROverviewControlState* state_;
};

class KVROverviewChartSource : public KVRVortelyCamembertGraphDataSource {
 public:
  KVROverviewChartSource(KVRPartChart chart, const KVROverviewDisplay* display,
                         const KVROverviewControlState* state, const float* animatePercent = nullptr)
      : chart_(chart), display_(display), state_(state), animatePercent_(animatePercent) {}
  std::function<bool()> loading;
  KVRPartChart chart() const { return chart_; }

  std::optional<bool> loadingData() override;
  int numberOfPartsForCamembertGraph(KVRVortelyCamembertGraphView* view, int index) override;
  double valueForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) override;
  QString legendForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) override;
  std::optional<QString> valueLabelFormatForCamembertGraph(KVRVortelyCamembertGraphView* view) override;
  bool valuesInWholeUnitsForCamembertGraph(KVRVortelyCamembertGraphView* view) override;
  bool divisionListsCountries(KVRVortelyCamembertGraphView* view, int index) override;
  float percentForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) override;
  float ratioForAnimationAtIndex(KVRVortelyCamembertGraphView* view, int index) override;
  QColor colorForPartAtIndex(KVRVortelyCamembertGraphView* view, int part, int index) override;

 private:
  KVRPartChart chart_;
  const KVROverviewDisplay* display_;
  const KVROverviewControlState* state_;
  const float* animatePercent_;
};
