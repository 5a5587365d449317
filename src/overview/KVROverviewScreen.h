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
#include "overview/KVRBoxesPresenter.h"
#include "overview/KVROverviewPresenter.h"
#include "overview/KVROverviewSources.h"
#include "overview/KVROverviewTypes.h"

class QComboBox;
class QDateEdit;
class QPushButton;
class KVRApplicationServices;
class KVRRatingsView;
class KVRVortelyCamembertGraphView;
class KVRVortelyCounterView;
class KVRVortelyGraphView;
class KVRVortelyResumeController;

// A row of mutually exclusive segment buttons.
class KVRSegmentedControl : public QWidget {
  Q_OBJECT
 public:
  KVRSegmentedControl(const QStringList& labels, QWidget* parent = nullptr);
  int selectedSegment() const { return selected_; }
  void setSelectedSegment(int segment);
  void setSegmentEnabled(int segment, bool enabled);
  bool isSegmentEnabled(int segment) const;
  QString labelForSegment(int segment) const;
  QPushButton* button(int segment) const;

 signals:
  void segmentClicked(int segment);

 private:
  std::vector<QPushButton*> buttons_;
  int selected_ = 0;
};

// The evolution badge (dayVariation): a coloured pill with the difference;
// a click shows the percentage (the alternate title) instead.
class KVREvolutionBadge : public QWidget {
 public:
  explicit KVREvolutionBadge(QWidget* parent = nullptr);
  void setBadge(const QString& imageName, const QString& title, const QString& alternateTitle);
  bool showsAlternate() const { return showAlternate_; }
  QString shownText() const { return showAlternate_ ? alternate_ : title_; }
  QSize sizeHint() const override { return QSize(150, 34); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;

 private:
  QString image_, title_, alternate_;
  bool showAlternate_ = false;
};

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
  void showDisplay(const KVROverviewDisplay& display);
  // The captions of the print command for the current state (title, settings,
  // hide flag, kind label).
  KVROverviewPrintCaptions printCaptions() const;

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
  void updateBoxes() override;

  // The grow animation of the on-screen part charts.
  void updateCamembertViewWithAnimation(bool animate);
  float graphAnimatePercent() const { return graphAnimatePercent_; }

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
  KVREvolutionBadge* dayVariation() const { return badge_; }
  QLabel* label(const char* outletName) const;

 private:
  void buildUi();
  QWidget* buildToolbar();
  QWidget* buildSummaryPanel();
  QWidget* buildGraphPanel();
  QWidget* buildChartsPanel();
  QWidget* buildBoxesColumn();
  void applyDisplay();
  void refreshState();
  void loadRatingsDelayed();
  void pickerDidChangeDate(QDateEdit* picker, KVRDate date) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  KVRApplicationServices* services() const;

  KVRVortelyResumeController* controller_;
  KVRApplicationServices* services_;
  bool iAd_;
  KVROverviewDisplay display_;
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
  KVREvolutionBadge* badge_ = nullptr;
  QLabel* dayProgressionImage_ = nullptr;
  QLabel *accountIcon_ = nullptr, *productIcon_ = nullptr;
  KVRRatingsView *accountMeanRating_ = nullptr, *productMeanRating_ = nullptr;
  std::map<QString, QLabel*> labels_;
};
