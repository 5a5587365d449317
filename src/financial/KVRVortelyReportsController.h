#pragma once
// The controller of the financial statements screen (the main window's
// second segment). It owns the screen's state: the statement of the
// selection with its year tables and month records, the year totals on show
// (financialsArray), the fixed incomes, the three-month window, the grid's
// records and their two exclusive selections, the currency mode, the bar
// chart's growth, and the report browser's state. It rebuilds the statement
// when the selection changes, steps through the months, answers the bar chart
// and the regions tables, and prints.
//
// Main-thread object, no widget of its own: the screen implements
// KVRReportsControls and is set with setControls() (null is tolerated). The
// grid, trend and details panel are computed by their presenters
// (KVRFinancialGrid, KVRFinancialTrend, KVRFinancialDetails) and handed to
// the controls by value.
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "financial/KVRFinancialDetails.h"
#include "financial/KVRFinancialExports.h"
#include "financial/KVRFinancialGrid.h"
#include "financial/KVRFinancialRegionsChart.h"
#include "financial/KVRFinancialStatement.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "financial/KVRFinancialTrend.h"
#include "graphs/KVRGraphDataSources.h"
#include "platform/KVRDate.h"

class QAction;
class QWidget;
class KVRApplicationServices;
class KVRPrintViewFinancial;
class KVRReconciliation;
struct KVRNotification;

// Posted when the exchange rates derived from the financial accounts change.
inline const QString KVRVortelyFinancialAccountsRatesHaveBeenUpdated =
    QStringLiteral("KVRVortelyFinancialAccountsRatesHaveBeenUpdated");

// A set of indexes of a grid's records (only the first one is shown).
using KVRIndexSet = std::set<int>;

// Everything the controller reads from or writes to the screen.
class KVRReportsControls {
 public:
  virtual ~KVRReportsControls() = default;

  // Currency segments: 0 the preferred currency, 1 local, 2 units.
  virtual int selectedCurrencySegment() const = 0;
  virtual void selectCurrencySegment(int segment) = 0;
  virtual void setPreferredCurrencyLabel(const QString& code) = 0;
  virtual void setTrendLabel(const QString& text) = 0;
  // The year pop-up: one item per year, the selected one titled `selected`.
  virtual void setYears(const std::vector<int>& years, std::optional<int> selected) = 0;
  virtual std::optional<int> selectedYear() const = 0;
  // The year pop-up, the currency segments and the month matrix.
  virtual void setOptionsEnabled(bool enabled) = 0;
  virtual void setMonthButtonsEnabled(bool previous, bool next) = 0;
  // The amount field, accounts pop-up and date picker of the panel.
  virtual void setReconcileControlsEnabled(bool enabled) = 0;

  virtual void showGrid(const KVRFinancialGrid& grid) = 0;
  virtual void showSelection(const KVRIndexSet& values, const KVRIndexSet& totals) = 0;
  virtual void showDetails(const KVRFinancialDetailsState& state) = 0;
  virtual void showTrend(const KVRFinancialTrend& trend) = 0;
  // The accounts pop-up's selected item (-1: none).
  virtual int selectedAccountItem() const = 0;
  // The amount field's text and the date picker's day (its first instant).
  virtual QString reconcileAmountText() const { return QString(); }
  virtual KVRDate reconcileDate() const { return KVRDate(); }
  // The reconcile and unreconcile buttons.
  virtual void setReconcileButtonsEnabled(bool) {}

  virtual void setIncomesTitle(const QString& text) = 0;
  virtual void redrawBarChart() = 0;
  virtual void reloadRegionTables() = 0;
  virtual void showFinancialsView() = 0;
  // The window that parents the print dialog.
  virtual QWidget* dialogParent() = 0;
  // Whether the screen is on show: a rebuild asked for while it is not waits
  // until it is (screenDidShow).
  virtual bool isOnShow() const { return true; }
};

class KVRVortelyManagedProduct;
class KVRVortelyFinancialsController;

class KVRVortelyReportsController : public QObject, public KVRVortelyBarGraphDataSource {
  Q_OBJECT
 public:
  // services: the application delegate (KVRApplicationServices::current()
  // when null).
  explicit KVRVortelyReportsController(KVRApplicationServices* services = nullptr,
                                       KVRReportsControls* controls = nullptr, QObject* parent = nullptr);
  ~KVRVortelyReportsController() override;

  void setControls(KVRReportsControls* controls) { controls_ = controls; }
  KVRReportsControls* controls() const { return controls_; }
  KVRApplicationServices* services() const;
  // The application's save of the database (a rebuild that changes the store
  // saves it); none: the data manager's own.
  void setDatabaseSaver(std::function<bool(QString*)> saver) { saver_ = std::move(saver); }
  // The delegate's financial accounts; none: the shared list (KVRFinancialAccounts).
  void setFinancialAccountsProvider(std::function<std::vector<KVRFinancialAccount>()> provider) {
    accountsProvider_ = std::move(provider);
  }
  // The financial accounts (the delegate's, else the user default's).
  std::vector<KVRFinancialAccount> financialAccounts() const;
  // The per-report financials panel (financialController): shown afresh
  // after each rebuild of the statement.
  void setFinancialController(KVRVortelyFinancialsController* panel) { financialController_ = panel; }
  KVRVortelyFinancialsController* financialController() const { return financialController_; }
  // How the user is told of a refused amount or a failed save (title, text);
  // none: the log only.
  void setAlertHandler(std::function<void(const QString&, const QString&)> handler) {
    alertHandler_ = std::move(handler);
  }
  // The delegate's setSelectedTabIndex.
  void setTabSelector(std::function<void(int)> selector) { tabSelector_ = std::move(selector); }
  // The current date of the date picker (tests pin it).
  void setClock(std::function<KVRDate()> clock) { clock_ = std::move(clock); }

  // ---- set-up and notifications
  void awakeFromNib();
  // The statement rebuild: fromNotification is false when the screen asks
  // for it itself (after a change of the report browser or a new payment).
  // While the screen is not on show the rebuild waits: requests made
  // meanwhile come to one rebuild when it is shown, of the selection then.
  void selectedProductDidChange(bool fromNotification);
  // The screen came on show: the rebuild that waited runs now.
  void screenDidShow();
  // Whether a rebuild waits for the screen to be shown.
  bool rebuildPending() const { return pendingRebuild_; }
  void preferedCurrencyDidChange();
  void accountCurrencyDidChange();

  // ---- actions
  void nextMonth();
  void previousMonth();
  // monthTag: 0 January ... 11 December, of the year pop-up's year.
  void jumpToMonth(int monthTag);
  void selectedYearDidChange();
  void currencyControlDidChange();
  // Selects a currency segment as a click would.
  void setCurrencyMode(int mode);
  // Selects a year of the pop-up as a choice would (headless use).
  void selectYear(int year);
  void userDidChangeAccount();
  void changeFilteredRegion(int tag);
  // A report type item of a menu: ticks it among the items before the first
  // separator, sets the report type to its tag + 1, shows the reports tab.
  void menuSetReportType(QAction* sender);
  // The payment actions of the details panel, on the cell selected in the
  // region grid (KVRReconciliation does the work and saves it at once).
  // reconcile and unreconcile then block the reconciliation controls until
  // the next rebuild from a notification and post
  // KVRVortelyReconcileHaveBeenUpdated, which the application answers by
  // rebuilding its data; forcePayment rebuilds the statement at once.
  void reconcile();
  void unreconcile();
  void forcePayment();

  // ---- operations
  void resetFinancials();
  void showFinancialsView();
  void updateNextPrevButtonsState();
  int indexOfMonth(int month, int year) const { return statement_->indexOfMonth(month, year); }
  std::optional<KVRMonthKey> compsForIndex(int index) const { return statement_->compsForIndex(index); }
  int indexForRegionCode(QStringView code) const;
  void setSelectedFinancialsValues(const KVRIndexSet& set);
  void setSelectedFinancialsValuesAll(const KVRIndexSet& set);
  const KVRIndexSet& selectedFinancialsValues() const { return selectedValues_; }
  const KVRIndexSet& selectedFinancialsValuesAll() const { return selectedValuesAll_; }
  bool allSelectedFlag() const { return allSelectedFlag_; }
  void updateCamembertViewWithAnimation(bool animate);
  std::vector<KVRReport*> visibleDatesReports() const;
  KVRReport* financialReportForMonth(KVRMonthKey month, QStringView regionCode) const {
    return statement_->financialReportForMonth(month, regionCode);
  }
  const KVRPaymentRecord* dictForDate(KVRMonthKey month, QStringView regionCode) const {
    return statement_->dictForDate(month, regionCode);
  }
  void updateDisplayedFinancialsValues();
  void showInfosForFinancialValue(const KVRFinancialValue* value, bool updateAccountsPopup);
  void updateTrendViewForFinancialValue(const KVRFinancialValue* value);
  // The fixed-income pass.
  void test();

  // ---- what the shell asks (KVRFinancialStatementsController)
  void setOptionsEnabled(bool enabled);
  // Prints the statement through the print layout at half scale; false when
  // cancelled (no reason) or failed (its reason).
  bool print(QString* error);
  // The exports of the export sheet, from the statement on show: the report
  // files of the three months of the grid, and the yearly archive of the
  // year pop-up's year. The result says what was written, left out or failed.
  KVRFinancialExportResult exportVisibleDatesReportsToPath(
      const QString& folder, const std::vector<KVRVortelyManagedProduct*>* filterProducts);
  KVRFinancialExportResult exportYearlyArchiveToPath(const QString& folder,
                                                     const std::vector<KVRVortelyManagedProduct*>* filterProducts);

  // ---- bar chart (revenuesGraph) and regions tables
  int numberOfPartsForCamembertGraph(KVRVortelyBarGraphView* view) override;
  QString legendForPartAtIndex(KVRVortelyBarGraphView* view, int part) override;
  QColor colorForPartAtIndex(KVRVortelyBarGraphView* view, int part) override;
  double valueForPartAtIndex(KVRVortelyBarGraphView* view, int part) override;
  float percentForPartAtIndex(KVRVortelyBarGraphView* view, int part) override;
  // In every currency mode a bar is the region's share of the year's income
  // in the preferred currency, on the preferred-currency axis; only its label
  // is in the region's own currency in the local mode.
  bool barsFollowPercent(KVRVortelyBarGraphView*) override { return true; }
  float ratioForAnimationAtIndex(KVRVortelyBarGraphView* view, int part) override;
  std::optional<QString> valueLabelFormatAtIndex(KVRVortelyBarGraphView* view, int part) override;
  void animateCamemebertNextStep();
  float graphAnimatePercent() const { return graphAnimatePercent_; }
  // The answers on the year totals on show.
  KVRFinancialRegionsChart regionsChart() const;

  // ---- report browser
  struct ReportTypeRow {
    QString Label;
    int Value;
  };
  std::vector<ReportTypeRow> reportTypesValues() const;
  int reportType() const { return reportType_; }
  void setReportType(int type);
  KVRDate reportDate() const { return reportDate_; }
  void setReportDate(KVRDate date);
  void selectedDateDidChange(KVRDate date) { setReportDate(date); }
  std::optional<QString> region() const { return region_; }
  QString revenues() const { return revenues_; }
  QString sales() const { return sales_; }
  QString refunds() const { return refunds_; }
  QString updates() const { return updates_; }

  // ---- state
  const KVRFinancialStatement& statement() const { return *statement_; }
  const KVRRegionRowTable& financialsArray() const { return financialsArray_; }
  const std::vector<float>& fixedIncomes() const { return fixedIncomes_; }
  int selectedMonth() const { return selectedMonth_; }
  int currencyMode() const { return currencyMode_; }
  const KVRFinancialGrid& grid() const { return grid_; }
  const KVRFinancialDetailsState& details() const { return details_; }
  const KVRFinancialTrend& trend() const { return trend_; }
  const std::vector<KVRAccountItem>& accountItems() const { return accountItems_; }
  bool bigger() const { return bigger_; }
  bool blockReconciliation() const { return blockReconciliation_; }
  bool optionsEnabled() const { return optionsEnabled_; }
  QString incomesTitle() const { return incomesTitle_; }
  QString printIncomesTitle() const { return prIncomesTitle_; }
  // "Financial Report for %1" with the selection's name.
  QString printTitle() const;
  // The print layout (made by awakeFromNib, at half scale).
  KVRPrintViewFinancial* printView() const { return printView_.get(); }
  // Statement rebuilds so far (tests).
  int rebuildCount() const { return rebuildCount_; }

 private:
  // The reconciliation of the shared store, saved through the database saver
  // (made in place: with no saver its own save refers to itself).
  KVRReconciliation reconciliation() const;
  // Selects cells of the region grid, or of the all-regions grid when
  // allRegions; a changed selection clears the other grid's.
  void selectCells(const KVRIndexSet& set, bool allRegions);
  // The selected cell of the grid on show: of the all-regions grid when the
  // selection lies there.
  const KVRFinancialValue* selectedValue() const;
  std::optional<int> shownYear() const;
  QString selectionName() const;
  QString preferredSymbol() const;
  // The cell the payment actions work on: the region grid's selected cell;
  // null when the selection lies elsewhere or is empty.
  const KVRFinancialValue* paymentCell() const;
  // After a reconciliation or its undoing: controls blocked, data rebuilt.
  void reconciliationDidChange();
  void rebuild(bool fromNotification);
  // Runs a rebuild that waited, so that what is read follows the selection.
  void bringUpToDate();
  void alert(const QString& title, const QString& text);

  KVRFinancialSelection selection_;
  int accountSelection_ = -1;
  KVRApplicationServices* services_ = nullptr;
  KVRReportsControls* controls_ = nullptr;
  std::function<bool(QString*)> saver_;
  std::function<std::vector<KVRFinancialAccount>()> accountsProvider_;
  std::function<void(int)> tabSelector_;
  KVRVortelyFinancialsController* financialController_ = nullptr;
  std::function<void(const QString&, const QString&)> alertHandler_;
  std::function<KVRDate()> clock_;

  std::shared_ptr<const KVRFinancialStatement> statement_;
  KVRRegionRowTable financialsArray_;
  std::vector<float> fixedIncomes_;
  std::optional<int> year_;  // the year on show when the controls have none
  int selectedMonth_ = 0;
  int currencyMode_ = KVRCurrencyModePreferred;
  KVRFinancialGrid grid_;
  KVRIndexSet selectedValues_, selectedValuesAll_;
  bool allSelectedFlag_ = false;
  KVRFinancialDetailsState details_;
  KVRFinancialTrend trend_;
  std::vector<KVRAccountItem> accountItems_;
  bool bigger_ = false;
  bool blockReconciliation_ = false;
  bool optionsEnabled_ = true;
  int rebuildCount_ = 0;
  bool pendingRebuild_ = false, pendingFromNotification_ = false;

  float graphAnimatePercent_ = 1.0f;
  QTimer animationTimer_;
  QString incomesTitle_, prIncomesTitle_;
  std::unique_ptr<KVRPrintViewFinancial> printView_;

  int reportType_ = 1;
  KVRDate reportDate_ = KVRDate(0.0);
  std::optional<QString> region_;
  QString revenues_ = QStringLiteral("--"), sales_ = QStringLiteral("--"), refunds_ = QStringLiteral("--"),
          updates_ = QStringLiteral("--");
};
