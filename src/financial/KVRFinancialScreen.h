#pragma once
// The financial statements screen: the window layout of the reports
// controller. A bar of options at the top (year pop-up, month matrix, month
// buttons, currency segments); below it the grid of the three months by
// region with the all-regions totals, beside it the year's income per region
// (bar chart and table), and under the grid the details of the selected
// month with its monthly trend. It is the controller's controls
// (KVRReportsControls): every figure comes from the controller's records.
#include <QWidget>
#include <memory>

#include "financial/KVRVortelyReportsController.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPropertyAnimation;
class QVariantAnimation;
class QTableView;
class QToolButton;
class KVRFinancialDetailsPanel;
class KVRFinancialGridView;
class KVRFinancialTrendView;
class KVRRegionsTableModel;
class KVRSegmentedControl;
class KVRVortelyBarGraphView;
class KVRVortelyFinancialsController;
class QStackedWidget;

class KVRFinancialScreen : public QWidget, public KVRReportsControls {
  Q_OBJECT
 public:
  // Becomes the controller's controls.
  explicit KVRFinancialScreen(KVRVortelyReportsController* controller, QWidget* parent = nullptr);
  ~KVRFinancialScreen() override;

  KVRVortelyReportsController* controller() const { return controller_; }

  // ---- KVRReportsControls
  int selectedCurrencySegment() const override;
  void selectCurrencySegment(int segment) override;
  void setPreferredCurrencyLabel(const QString& code) override;
  void setTrendLabel(const QString& text) override;
  void setYears(const std::vector<int>& years, std::optional<int> selected) override;
  std::optional<int> selectedYear() const override;
  void setOptionsEnabled(bool enabled) override;
  void setMonthButtonsEnabled(bool previous, bool next) override;
  void setReconcileControlsEnabled(bool enabled) override;
  void showGrid(const KVRFinancialGrid& grid) override;
  void showSelection(const KVRIndexSet& values, const KVRIndexSet& totals) override;
  void showDetails(const KVRFinancialDetailsState& state) override;
  void showTrend(const KVRFinancialTrend& trend) override;
  int selectedAccountItem() const override;
  QString reconcileAmountText() const override;
  KVRDate reconcileDate() const override;
  void setReconcileButtonsEnabled(bool enabled) override;
  void setIncomesTitle(const QString& text) override;
  void redrawBarChart() override;
  void reloadRegionTables() override;
  void showFinancialsView() override;
  QWidget* dialogParent() override { return window(); }
  bool isOnShow() const override;

  // Ends the animations of showFinancialsView at once (tests, screenshots).
  void finishAnimations();

  // Widgets (outlets), for the shell and tests.
  KVRFinancialGridView* regionGrid() const { return regionGrid_; }
  KVRFinancialGridView* totalsGrid() const { return totalsGrid_; }
  KVRFinancialTrendView* trendView() const { return trendView_; }
  KVRFinancialDetailsPanel* detailsPanel() const { return panel_; }
  KVRVortelyBarGraphView* revenuesGraph() const { return revenuesGraph_; }
  QTableView* revenuesTable() const { return revenuesTable_; }
  QComboBox* availableYears() const { return years_; }
  KVRSegmentedControl* currencyControl() const { return currencyControl_; }
  QToolButton* nextMonthButton() const { return next_; }
  QToolButton* previousMonthButton() const { return previous_; }
  QToolButton* monthButton(int tag) const;
  QLabel* incomesTitle() const { return incomesTitle_; }
  QWidget* reportsTableViewBox() const { return reportsTableViewBox_; }
  QWidget* financialsBox() const { return financialsBox_; }
  // The per-report financials panel, on the second page of the box.
  KVRVortelyFinancialsController* financialController() const { return financialController_; }
  // The pages of the box, chosen by a segmented control above it: 0 the
  // statement, 1 the lines of one financial report at a time.
  void showPage(int page);
  int shownPage() const;

 protected:
  // A rebuild that waited while the screen was hidden runs before its paint.
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildOptionsBar();
  QWidget* buildFinancialsBox();

  KVRVortelyReportsController* controller_;
  QWidget* reportsTableViewBox_ = nullptr;
  QWidget* financialsBox_ = nullptr;
  QComboBox* years_ = nullptr;
  QButtonGroup* months_ = nullptr;
  QToolButton *previous_ = nullptr, *next_ = nullptr;
  KVRSegmentedControl* currencyControl_ = nullptr;
  KVRFinancialGridView *regionGrid_ = nullptr, *totalsGrid_ = nullptr;
  QLabel* incomesTitle_ = nullptr;
  KVRVortelyBarGraphView* revenuesGraph_ = nullptr;
  QTableView* revenuesTable_ = nullptr;
  KVRRegionsTableModel* regionsModel_ = nullptr;
  KVRFinancialTrendView* trendView_ = nullptr;
  KVRFinancialDetailsPanel* panel_ = nullptr;
  KVRSegmentedControl* pages_ = nullptr;
  QStackedWidget* pageStack_ = nullptr;
  KVRVortelyFinancialsController* financialController_ = nullptr;
  QPropertyAnimation* shrink_ = nullptr;
  QVariantAnimation* fadeIn_ = nullptr;
  // Over the statement while it fades in (the page's colour, opaque to clear).
  QWidget* fadeCover_ = nullptr;
};
