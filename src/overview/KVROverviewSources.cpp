#include "overview/KVROverviewSources.h"


// --- Curve graph -----------------------------------------------------------------

std::optional<bool> KVROverviewGraphSource::loadingData() { return loading ? loading() : false; }
int KVROverviewGraphSource::numberOfPointsInCurves() { return KVRNumberOfPointsInCurves(*display_); }
std::optional<QString> KVROverviewGraphSource::valueLabelFormat() {
  const QString f = KVRValueLabelFormat(state_->valueTag, state_->currencySymbol);
  if (f.isEmpty()) return std::nullopt;
  return f;
}
bool KVROverviewGraphSource::valuesInWholeUnits() {
  return KVRCurveValuesInWholeUnits(state_->valueTag, state_->roundCurrency);
}
KVRSignedRange KVROverviewGraphSource::maxRangeForCurves() { return KVRMaxRangeForCurves(*display_, *state_); }
int KVROverviewGraphSource::numberOfCurves() { return KVRNumberOfCurves(*display_, *state_); }
QColor KVROverviewGraphSource::colorForCurve(int curve) { return KVRColorForCurve(*display_, *state_, curve); }
KVRDate KVROverviewGraphSource::dateForPointAtIndex(int point, int) {
  return KVRDateForPointAtIndex(*display_, point);
}
double KVROverviewGraphSource::valueAtIndex(int point, int curve) {
  return KVRValueAtIndex(*display_, *state_, point, curve);
}
std::optional<double> KVROverviewGraphSource::medianValue() { return KVRMedianValueForGraph(*display_, *state_); }
std::optional<bool> KVROverviewGraphSource::medianForce() { return KVRMedianForce(state_->valueTag); }
QString KVROverviewGraphSource::mouseOverLabelForCurve(int) {
  return KVRMouseOverLabel(state_->valueTag, state_->currencySymbol);
}
KVRDate KVROverviewGraphSource::startDate() { return display_->graphStartDate; }
KVRDate KVROverviewGraphSource::endDate() { return display_->graphEndDate; }

// --- Part charts -------------------------------------------------------------------

std::optional<bool> KVROverviewChartSource::loadingData() {
  if (KVRIsPrintChart(chart_)) return false;
  return loading ? loading() : false;
}
int KVROverviewChartSource::numberOfPartsForCamembertGraph(KVRVortelyCamembertGraphView*, int index) {
  return KVRDivisionForChart(*display_, chart_, index).count();
}
double KVROverviewChartSource::valueForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) {
  return KVRDivisionForChart(*display_, chart_, index).valueAt(part);
}
QString KVROverviewChartSource::legendForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) {
  return KVRLegendForPart(*display_, chart_, index, part);
}
std::optional<QString> KVROverviewChartSource::valueLabelFormatForCamembertGraph(KVRVortelyCamembertGraphView*) {
  const QString f = KVRValueLabelFormatForChart(chart_, state_->valueTag, state_->currencySymbol);
  if (f.isEmpty()) return std::nullopt;
  return f;
}
bool KVROverviewChartSource::valuesInWholeUnitsForCamembertGraph(KVRVortelyCamembertGraphView*) {
  return KVRChartValuesInWholeUnits(chart_, state_->valueTag, state_->roundCurrency);
}
bool KVROverviewChartSource::divisionListsCountries(KVRVortelyCamembertGraphView*, int index) {
  return KVRDivisionListsCountries(*display_, chart_, index);
}
float KVROverviewChartSource::percentForPartAtIndex(KVRVortelyCamembertGraphView*, int part, int index) {
  return KVRDivisionForChart(*display_, chart_, index).percentAt(part);
}
float KVROverviewChartSource::ratioForAnimationAtIndex(KVRVortelyCamembertGraphView*, int) {
  return KVRRatioForAnimation(chart_, animatePercent_ ? *animatePercent_ : 1.0f);
}
QColor KVROverviewChartSource::colorForPartAtIndex(KVRVortelyCamembertGraphView*, int, int) {
  return KVRColorForChart(chart_);
}
