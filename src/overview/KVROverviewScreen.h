#pragma once
// The overview screen: the window layout of one overview (sales or iAd). It
// holds the pop-ups, segmented controls and date pickers, the counter and
// metric labels, the evolution badge, the curve graph, the two part charts and
// the account and product boxes. It is the overview controller's controls
// (KVRResumeControls): a completed load arrives through displayLoad, is turned
// into one display record (KVROverviewPresenter) and put into the widgets; the
// graph and the charts draw from the same record through their data sources.
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "graphs/KVRCalendarOverlayController.h"
#include "graphs/KVREvolutionView.h"
#include "graphs/KVRSegmentedControl.h"
#include "overview/KVRBoxesPresenter.h"
#include "overview/KVROverviewPresenter.h"
#include "overview/KVROverviewSources.h"
#include "overview/KVROverviewTypes.h"

class QComboBox;
class QDateEdit;
class QSplitter;
class KVRApplicationServices;
class KVRRatingsView;
class KVRVortelyCamembertGraphView;
class KVRVortelyCounterView;
class KVRVortelyGraphView;
class KVRVortelyResumeController;

class KVROverviewScreen : public QWidget, public KVRResumeControls, private KVRCalendarOverlayDelegate {
  Q_OBJECT
 public:
  // Becomes the controller's controls. services: the application delegate
  // (KVRApplicationServices::current() when null).
  explicit KVROverviewScreen(KVRVortelyResumeController* controller, KVRApplicationServices* services = nullptr,
                             QWidget* parent = nullptr);
  ~KVROverviewScreen() override;

  KVRVortelyResumeController* controller() const { return controller_; }
  bool isIAd() const { return iAd_; }

  // The record on display and the state of the controls the graphs read.
  const KVROverviewDisplay& display() const { return display_; }
  KVROverviewControlState controlState() const;
  const KVRBoxesDisplay& boxes() const { return boxes_; }
  // Shows a display record directly (previews, tests).
  void showDisplay(KVROverviewDisplay display);
  // The captions of the print command for the current state (title, settings,
  // hide flag, kind label).
  KVROverviewPrintCaptions printCaptions() const;
  // What a print shows: the last complete display as a whole, with the
  // captions it was shown with (a load that has started since changes
  // neither), and the view's present segments.
  KVROverviewPrintJob printJob() const;
  // The same once the running load, if any, has been displayed (waiting at
  // most that long for it).
  KVROverviewPrintJob printJobAfterRunningLoad(double waitSeconds);

  // ---- KVRResumeControls
  int selectedValueTag() const override;
  void selectValueTag(int tag) override;
  bool isValueItemEnabled(int tag) const override;
  void setValueItemEnabled(int tag, bool enabled) override;
  bool isValuePopUpEnabled() const override;
  void setValuePopUpEnabled(bool enabled) override;
  int selectedRegionTag() const override;
  void selectFirstRegionItem() override;
  void setRegionPopUpEnabled(bool enabled) override;
  void showPeriodTag(int tag) override;
  void setPeriodPopUpEnabled(bool enabled) override;
  int cumulativeSelectedSegment() const override;
  void selectCumulativeSegment(int segment) override;
  void setCumulativeSegmentEnabled(int segment, bool enabled) override;
  void setCumulativeControlEnabled(bool enabled) override;
  int combineSelectedSegment() const override;
  void selectCombineSegment(int segment) override;
  void setCombineSegmentEnabled(int segment, bool enabled) override;
  void setCombineControlEnabled(bool enabled) override;
  void setStartPickerDate(KVRDate date) override;
  void setEndPickerDate(KVRDate date) override;
  void setPickersEnabled(bool enabled) override;
  void setTrendLabel(const QString& text) override;
  void setProductNameLabel(const QString& text) override;
  void setReportsDatesLabel(const QString& text) override;
  void setRevenuesLabel(const QString& text) override;
  void setProductCurrencySymbol(const QString& symbol) override;
  void setProductTotalIncomeLabel(const QString& text) override;
  void setProductTotalSalesLabel(const QString& text) override;
  void setProductTotalUpgradesLabel(const QString& text) override;
  void redrawGraph() override;
  void redrawCharts() override;
  void resetCounter() override;
  void clearCurvesAndCharts() override;
  bool hasPerProductCurves() const override;
  void displayLoad(const KVRLoadResults& results) override;
  DisplayBuilder displayBuilderForLoad() override;
  void updateBoxes() override;
  bool isOnShow() const override;

  // The grow animation of the on-screen part charts: restarted from 0 (or
  // set to its end), and one step of it (the timer's action, every 0.02 s).
  void updateCamembertViewWithAnimation(bool animate);
  void animateCamembertNextStep();
  float graphAnimatePercent() const { return graphAnimatePercent_; }
  bool isAnimatingCharts() const { return animationTimer_.isActive(); }

  // Widgets (outlets), for the shell and tests.
  QComboBox* selectedValuePU() const { return valuePU_; }
  QComboBox* periodMatrixPU() const { return periodPU_; }
  QComboBox* regionsMatrixPU() const { return regionPU_; }
  KVRSegmentedControl* cumulativeControl() const { return cumulativeControl_; }
  KVRSegmentedControl* combineControl() const { return combineControl_; }
  QDateEdit* startDatePicker() const { return startPicker_; }
  QDateEdit* endDatePicker() const { return endPicker_; }
  KVRVortelyGraphView* lastWeekGraph() const { return graph_; }
  KVRVortelyCamembertGraphView* downloadsCamembert() const { return downloadsChart_; }
  KVRVortelyCamembertGraphView* revenuesCamembert() const { return revenuesChart_; }
  KVRVortelyCounterView* counterView() const { return counter_; }
  // The evolution: arrow (dayProgressionImage), badge (dayVariation) and the
  // four figures around it.
  KVREvolutionView* dayVariation() const { return evolution_; }
  KVREvolutionView* evolutionView() const { return evolution_; }
  QLabel* label(const char* outletName) const;
  // The split view between the curve graph and the part charts.
  QSplitter* splitView() const { return splitView_; }
  // Moves the split view's divider to a proposed position (the graph's
  // height), kept within the divider's rule as a drag is.
  void moveSplitDivider(int proposedPosition);

 protected:
  // A reload that waited while the overview was hidden runs before its paint.
  void showEvent(QShowEvent* event) override;

 private:
  void buildUi();
  QWidget* buildToolbar();
  QWidget* buildSummaryPanel();
  QWidget* buildGraphPanel();
  QWidget* buildChartsPanel();
  QWidget* buildBoxesColumn();
  void presentDisplay();
  void applyDisplay();
  void keepPrintJob();
  void refreshState();
  void loadRatingsDelayed();
  void pickerDidChangeDate(QDateEdit* picker, KVRDate date) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  KVRApplicationServices* services() const;

  KVRVortelyResumeController* controller_;
  KVRApplicationServices* services_;
  bool iAd_;
  KVROverviewDisplay display_;
  // What a print shows: the record on display while printedIsShown_, else
  // the last complete record, kept when the screen cleared its curves.
  KVROverviewDisplay printedDisplay_;
  bool printedIsShown_ = false;
  // Changes with every change of what the curve graph is asked.
  uint64_t graphGeneration_ = 1;
  KVROverviewPrintCaptions printedCaptions_;
  KVROverviewControlState state_;
  KVRBoxesDisplay boxes_;
  float graphAnimatePercent_ = 1.0f;
  QTimer animationTimer_;
  bool ratingsRetryPending_ = false;

  std::unique_ptr<KVROverviewGraphSource> graphSource_;
  std::unique_ptr<KVROverviewChartSource> downloadsSource_, revenuesSource_;
  std::unique_ptr<KVRCalendarOverlayController> overlay_;

  QComboBox *valuePU_ = nullptr, *periodPU_ = nullptr, *regionPU_ = nullptr;
  KVRSegmentedControl *cumulativeControl_ = nullptr, *combineControl_ = nullptr;
  QDateEdit *startPicker_ = nullptr, *endPicker_ = nullptr;
  KVRVortelyGraphView* graph_ = nullptr;
  KVRVortelyCamembertGraphView *downloadsChart_ = nullptr, *revenuesChart_ = nullptr;
  KVRVortelyCounterView* counter_ = nullptr;
  KVRVortelyCounterView* globalCounter_ = nullptr;
  KVREvolutionView* evolution_ = nullptr;
  QSplitter* splitView_ = nullptr;
  QLabel *accountIcon_ = nullptr, *productIcon_ = nullptr;
  KVRRatingsView *accountMeanRating_ = nullptr, *productMeanRating_ = nullptr;
  std::map<QString, QLabel*> labels_;
};
