#pragma once
// Records and interfaces shared by the overview controller, the totals engine
// and the overview screen.
//
// KVRLoadResults is what one completed background load hands to the display,
// by value, together with the display request: the display therefore always
// shows the results of exactly one completed load, never a mix of two.
//
// KVRResumeControls is everything the overview controller reads from or writes
// to the screen's controls. The screen (a QWidget) implements it; the
// controller tolerates a null controls pointer (tests, start-up).
#include <QRectF>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "overview/KVRTotalsResult.h"
#include "platform/KVRDate.h"

class KVRVortelyManagedProduct;

// Value tags of the value pop-up (the measure shown).
enum KVROverviewValueTag : int {
  KVRValueSales = 0, KVRValueUpgrades = 1, KVRValueDownloads = 2, KVRValueRefunds = 3,
  KVRValueRevenues = 4, KVRValueFreeSales = 5, KVRValuePaidSales = 6, KVRValueIAdRevenues = 7,
  KVRValueECPM = 8, KVRValueRequests = 9, KVRValueImpressions = 10, KVRValueFillRate = 11,
  KVRValueCTR = 12, KVRValuePromoCodes = 13, KVRValueGiftRedemptions = 14, KVRValueGifts = 15,
  KVRValueEducationalSales = 16, KVRValueInAppSales = 17, KVRValueNewSubscription = 18,
  KVRValueRenewal = 19,
};
inline constexpr int KVROverviewValueTagCount = 20;

// Period tags of the period pop-up; -1 is the custom period.
enum KVROverviewPeriodTag : int {
  KVRPeriodCustom = -1, KVRPeriodDaily = 0, KVRPeriodWeekly = 1, KVRPeriodMonthly = 2,
  KVRPeriodThreeMonths = 3, KVRPeriodSixMonths = 4, KVRPeriodYearly = 5, KVRPeriodAll = 6,
  KVRPeriodTwoWeeks = 7, KVRPeriodCurrentMonth = 8,
};

// The graph's "no reference line" level.
inline constexpr float KVRNoMedianValue = 2147483648.0f;

// One completed load.
struct KVRPreparedOverviewDisplay;

struct KVRLoadResults {
  // The case: exactly one product in the load's product list, or none/several.
  bool singleProduct = false;

  // Exactly one product (the product's entry of each totals result):
  std::optional<KVRProductTotals> productPrevious;  // previous span, totals only
  std::optional<KVRProductTotals> productCurrent;   // current period, per day
  std::optional<KVRProductTotals> productGraph;     // graph range, per day; period tag 0 only

  // No product or several:
  std::optional<KVRTotalsResult> current;   // current period, per day
  std::optional<KVRTotalsResult> compared;  // compared span, totals only; none when it
                                            // equals the current period (use `current`)
  std::optional<KVRTotalsResult> previous;  // previous span, totals only
  std::optional<KVRTotalsResult> graph;     // graph range, per day; period tag 0 only

  // The spans the load used (all day dates, both ends included).
  KVRDate startDate, endDate;                  // current period (s, e)
  KVRDate graphStartDate, graphEndDate;        // graph range (gs, ge)
  KVRDate lastDayDate, currentDayDate;         // compared span (ld, cd)
  KVRDate previousStartDate, previousEndDate;  // previous span (ps, pe)

  int valueTag = 0;   // value tag in force (for a redisplay: the new one)
  QString region;     // region filter; null for all regions
  int periodTag = 0;  // period tag in force when the load started
  // The load's product list: the extended selection sorted by name (in-app
  // purchases only for value tag 17).
  std::vector<KVRVortelyManagedProduct*> products;
  uint64_t generation = 0;  // the load request that produced it
  // The display built from these results on the load thread, if the screen
  // asked for one; consumed by the display on the main thread.
  std::shared_ptr<KVRPreparedOverviewDisplay> prepared;

  // The record of the compared span for the several-products case.
  const KVRTotalsResult* comparedOrCurrent() const {
    return compared ? &*compared : (current ? &*current : nullptr);
  }
};

// The screen's controls as the overview controller sees them. Segments:
// cumulativeControl 0 = day values, 1 = cumulative; combineControl
// 0 = one combined curve, 1 = one curve per product.
class KVRResumeControls {
 public:
  virtual ~KVRResumeControls() = default;

  // Value pop-up (selectedValuePU).
  virtual int selectedValueTag() const = 0;
  virtual void selectValueTag(int tag) = 0;
  virtual bool isValueItemEnabled(int tag) const = 0;
  virtual void setValueItemEnabled(int tag, bool enabled) = 0;
  virtual bool isValuePopUpEnabled() const = 0;
  virtual void setValuePopUpEnabled(bool enabled) = 0;

  // Region pop-up (regionsMatrixPU).
  virtual int selectedRegionTag() const = 0;
  virtual void selectFirstRegionItem() = 0;
  virtual void setRegionPopUpEnabled(bool enabled) = 0;

  // Period pop-up (periodMatrixPU): shows the period tag in force.
  virtual void showPeriodTag(int tag) = 0;
  virtual void setPeriodPopUpEnabled(bool enabled) = 0;

  // cumulativeControl.
  virtual int cumulativeSelectedSegment() const = 0;
  virtual void selectCumulativeSegment(int segment) = 0;
  virtual void setCumulativeSegmentEnabled(int segment, bool enabled) = 0;
  virtual void setCumulativeControlEnabled(bool enabled) = 0;

  // combineControl.
  virtual int combineSelectedSegment() const = 0;
  virtual void selectCombineSegment(int segment) = 0;
  virtual void setCombineSegmentEnabled(int segment, bool enabled) = 0;
  virtual void setCombineControlEnabled(bool enabled) = 0;

  // Date pickers (startDatePicker, endDatePicker).
  virtual void setStartPickerDate(KVRDate date) = 0;
  virtual void setEndPickerDate(KVRDate date) = 0;
  virtual void setPickersEnabled(bool enabled) = 0;

  // Labels written by the controller.
  virtual void setTrendLabel(const QString& text) = 0;
  virtual void setProductNameLabel(const QString& text) = 0;
  virtual void setReportsDatesLabel(const QString& text) = 0;
  virtual void setRevenuesLabel(const QString& text) = 0;
  virtual void setProductCurrencySymbol(const QString& symbol) = 0;
  virtual void setProductTotalIncomeLabel(const QString& text) = 0;
  virtual void setProductTotalSalesLabel(const QString& text) = 0;
  virtual void setProductTotalUpgradesLabel(const QString& text) = 0;

  // Redraw requests: the curve graph (lastWeekGraph), the two on-screen part
  // charts (downloadsCamembert, revenuesCamembert).
  virtual void redrawGraph() = 0;
  virtual void redrawCharts() = 0;
  // counterView setValue 0, not animated (restoring the settings).
  virtual void resetCounter() = 0;

  // Start of a reload: empty the per-product curves and the part-chart data
  // and zero their totals.
  virtual void clearCurvesAndCharts() = 0;
  // Whether per-product curves are held (isOverviewGraphCombined).
  virtual bool hasPerProductCurves() const = 0;

  // finishDisplay: show one completed load (or the last one again with a new
  // value tag). Main thread.
  virtual void displayLoad(const KVRLoadResults& results) = 0;
  // Asked on the main thread when a load starts: copies what the display
  // reads of the main thread (widgets, selection, user defaults) and returns
  // what builds the display from the load's results on the load thread. None
  // when the display is built on the main thread.
  using DisplayBuilder = std::function<std::shared_ptr<KVRPreparedOverviewDisplay>(const KVRLoadResults&)>;
  virtual DisplayBuilder displayBuilderForLoad() { return {}; }
  // anotherUIUpdate: refresh the account and product boxes.
  virtual void updateBoxes() = 0;
  // Whether the overview is on show: a reload asked for while it is not
  // waits until it is (the controller's screenDidShow).
  virtual bool isOnShow() const { return true; }
};
