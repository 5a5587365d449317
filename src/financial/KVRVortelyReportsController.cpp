#include "financial/KVRVortelyReportsController.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>

#include <algorithm>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRNotifications.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialFigures.h"
#include "financial/KVRFinancialPrint.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "financial/KVRPrintViewFinancial.h"
#include "financial/KVRReconciliation.h"
#include "financial/KVRVortelyFinancialsController.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRNotificationCenter.h"
#include "platform/KVRUserDefaults.h"
#include "platform/KVRVortelyLogCenter.h"

namespace {

const QString kLogKeyword = QStringLiteral("Reports Controller");
const QString kSelectedCurrencyKey = QStringLiteral("KVRVortelyFinancialSelectedCurrency");

void log(const QString& message) { KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, kLogKeyword); }

// The region codes of the region filter's tags.
const char* const kFilterCodes[] = {"US", "EU", "CA", "GB", "JP", "AU", "WW", "IAD", "MX",
                                    "NO", "NZ", "CH", "CN", "DK", "SE", "SG", "TW", "HK"};

}  // namespace

KVRVortelyReportsController::KVRVortelyReportsController(KVRApplicationServices* services,
                                                         KVRReportsControls* controls, QObject* parent)
    : QObject(parent),
      services_(services),
      controls_(controls),
      statement_(std::make_shared<KVRFinancialStatement>()),
      financialsArray_(KVRMakeRegionRowTable()) {
  animationTimer_.setInterval(20);
  connect(&animationTimer_, &QTimer::timeout, this, &KVRVortelyReportsController::animateCamemebertNextStep);
}

KVRVortelyReportsController::~KVRVortelyReportsController() {
  KVRNotificationCenter::defaultCenter().removeObserver(this);
}

KVRApplicationServices* KVRVortelyReportsController::services() const {
  return services_ ? services_ : KVRApplicationServices::current();
}

QString KVRVortelyReportsController::preferredSymbol() const {
  return KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol();
}

// ---------------------------------------------------------------------------
// Set-up

void KVRVortelyReportsController::awakeFromNib() {
  // A stored segment outside the three reads as the first.
  const long long stored = KVRUserDefaults::standard().integerForKey(kSelectedCurrencyKey);
  currencyMode_ = stored >= 0 && stored <= 2 ? int(stored) : KVRCurrencyModePreferred;
  if (controls_) controls_->selectCurrencySegment(currencyMode_);
  printView_ = std::make_unique<KVRPrintViewFinancial>();
  if (controls_) {
    controls_->setTrendLabel(KVRLocalized("Monthly trend"));
    controls_->setPreferredCurrencyLabel(KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency());
    controls_->setYears({}, std::nullopt);
  }
  year_.reset();
  resetFinancials();
  reportDate_ = KVRDate(0.0);
  reportType_ = 1;
  revenues_ = sales_ = refunds_ = updates_ = QStringLiteral("--");

  auto& center = KVRNotificationCenter::defaultCenter();
  center.removeObserver(this);
  center.addObserver(this, KVRVortelySelectedProductDidChange, nullptr,
                     [this](const KVRNotification&) { selectedProductDidChange(true); });
  center.addObserver(this, KVRVortelyPreferedCurrencyDidChange, nullptr,
                     [this](const KVRNotification&) { preferedCurrencyDidChange(); });
  center.addObserver(this, KVRVortelyFinancialAccountsRatesHaveBeenUpdated, nullptr,
                     [this](const KVRNotification&) { accountCurrencyDidChange(); });
  showFinancialsView();
}

void KVRVortelyReportsController::resetFinancials() {
  financialsArray_ = KVRMakeRegionRowTable();
  auto empty = std::make_shared<KVRFinancialStatement>();
  empty->financialsByYear[2010] = financialsArray_;
  statement_ = std::move(empty);
  fixedIncomes_.clear();
  updateDisplayedFinancialsValues();
}

void KVRVortelyReportsController::showFinancialsView() {
  if (controls_) controls_->showFinancialsView();
}

void KVRVortelyReportsController::preferedCurrencyDidChange() {
  if (controls_) controls_->setPreferredCurrencyLabel(KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency());
}

void KVRVortelyReportsController::accountCurrencyDidChange() { showInfosForFinancialValue(selectedValue(), false); }
void KVRVortelyReportsController::userDidChangeAccount() { showInfosForFinancialValue(selectedValue(), false); }

// ---------------------------------------------------------------------------
// The statement

void KVRVortelyReportsController::selectedProductDidChange(bool fromNotification) {
  if (controls_ && !controls_->isOnShow()) {
    // Hidden: nothing is read or written until the screen is shown.
    pendingRebuild_ = true;
    pendingFromNotification_ = pendingFromNotification_ || fromNotification;
    return;
  }
  rebuild(fromNotification);
}

void KVRVortelyReportsController::screenDidShow() { bringUpToDate(); }

void KVRVortelyReportsController::bringUpToDate() {
  if (!pendingRebuild_) return;
  const bool fromNotification = pendingFromNotification_;
  pendingRebuild_ = pendingFromNotification_ = false;
  rebuild(fromNotification);
}

void KVRVortelyReportsController::rebuild(bool fromNotification) {
  pendingRebuild_ = pendingFromNotification_ = false;
  log(QStringLiteral("selectedProductDidChange start"));
  ++rebuildCount_;
  const std::optional<KVRMonthKey> remembered = selectedMonth_ >= 0 ? compsForIndex(selectedMonth_) : std::nullopt;

  KVRFinancialSelection selection;
  if (KVRApplicationServices* app = services()) selection = KVRFinancialSelection::fromServices(*app);
  selection_ = selection;
  std::function<bool(QString*)> save = saver_;
  if (!save) save = [](QString* error) { return KVRVortelyCoreDataManager::sharedInstance().save(error); };
  QString error;
  auto st = std::make_shared<KVRFinancialStatement>(KVRFinancialStatementBuilder().rebuild(selection, save, &error));
  statement_ = st;

  // The year pop-up: the year on show when the statement still has it, else
  // the latest.
  const int year = st->chosenYear(shownYear());
  year_ = year;
  if (controls_) controls_->setYears(st->years(), year);
  if (const KVRRegionRowTable* table = st->yearTable(year)) financialsArray_ = *table;

  if (fromNotification) {
    blockReconciliation_ = false;
    if (controls_) controls_->setReconcileControlsEnabled(true);
    selectedMonth_ = st->firstShownMonth(remembered);
  }
  // The year totals and the fixed incomes first, so that the grid, the panel
  // and the trend show this statement's figures.
  selectedYearDidChange();
  test();
  updateDisplayedFinancialsValues();
  if (fromNotification && !remembered) setSelectedFinancialsValues(KVRIndexSet{0});
  // The per-report panel lists the selection's reports as the rebuild left them.
  if (financialController_) financialController_->selectedProductDidChange();
  log(QStringLiteral("selectedProductDidChange end"));
}

std::vector<KVRFinancialAccount> KVRVortelyReportsController::financialAccounts() const {
  return accountsProvider_ ? accountsProvider_() : KVRFinancialAccounts::shared().accounts();
}

std::optional<int> KVRVortelyReportsController::shownYear() const {
  if (controls_) return controls_->selectedYear();
  return year_;
}

void KVRVortelyReportsController::selectedYearDidChange() {
  const std::optional<int> year = shownYear();
  // A year the statement does not have keeps the table on show.
  if (year) {
    if (const KVRRegionRowTable* table = statement_->yearTable(*year)) {
      financialsArray_ = KVRYearTotals(*statement_, *year, *table);
    }
  }
  updateCamembertViewWithAnimation(true);
  if (controls_) controls_->reloadRegionTables();
}

void KVRVortelyReportsController::test() { fixedIncomes_ = KVRFixedIncomes(*statement_); }

int KVRVortelyReportsController::indexForRegionCode(QStringView code) const {
  for (int r = 0; r < KVRFinancialRegionCount; ++r)
    if (financialsArray_[size_t(r)].shortDesc == code) return r;
  return -1;
}

std::vector<KVRReport*> KVRVortelyReportsController::visibleDatesReports() const {
  return statement_->reportsOfMonths(selectedMonth_, 3);
}

// ---------------------------------------------------------------------------
// The month window

void KVRVortelyReportsController::updateNextPrevButtonsState() {
  const int64_t count = int64_t(statement_->months.size());
  if (controls_) controls_->setMonthButtonsEnabled(selectedMonth_ > 0, int64_t(selectedMonth_) + 3 < count);
}

void KVRVortelyReportsController::nextMonth() {
  if (int64_t(selectedMonth_) + 3 < int64_t(statement_->months.size())) ++selectedMonth_;
  updateDisplayedFinancialsValues();
}

void KVRVortelyReportsController::previousMonth() {
  if (selectedMonth_ > 0) --selectedMonth_;
  updateDisplayedFinancialsValues();
}

void KVRVortelyReportsController::jumpToMonth(int monthTag) {
  const int count = int(statement_->months.size());
  const std::optional<int> year = shownYear();
  int index = year ? indexOfMonth(monthTag + 1, *year) : count;
  if (index + 3 > count) index = count - 3;
  selectedMonth_ = std::max(index, 0);
  updateDisplayedFinancialsValues();
}

// ---------------------------------------------------------------------------
// The grid, its selection, the panel and the trend

void KVRVortelyReportsController::updateDisplayedFinancialsValues() {
  updateNextPrevButtonsState();
  KVRFinancialGridInput in;
  in.statement = statement_.get();
  in.rows = &financialsArray_;
  in.selectedMonth = selectedMonth_;
  in.currencyMode = currencyMode_;
  in.productsSelected = selection_.productsSelected;
  in.accountSelected = selection_.accountSelected;
  in.preferredSymbol = preferredSymbol();
  grid_ = KVRBuildFinancialGrid(in);
  if (controls_) controls_->showGrid(grid_);
  // The same grid position stays selected across month steps and unit changes.
  showInfosForFinancialValue(selectedValue(), true);
}

const KVRFinancialValue* KVRVortelyReportsController::selectedValue() const {
  if (allSelectedFlag_)
    return selectedValuesAll_.empty() ? nullptr : grid_.total(*selectedValuesAll_.begin());
  return selectedValues_.empty() ? nullptr : grid_.value(*selectedValues_.begin());
}

void KVRVortelyReportsController::setSelectedFinancialsValues(const KVRIndexSet& set) { selectCells(set, false); }

void KVRVortelyReportsController::setSelectedFinancialsValuesAll(const KVRIndexSet& set) { selectCells(set, true); }

void KVRVortelyReportsController::selectCells(const KVRIndexSet& set, bool allRegions) {
  KVRIndexSet& chosen = allRegions ? selectedValuesAll_ : selectedValues_;
  if (set != chosen) {
    chosen = set;
    (allRegions ? selectedValues_ : selectedValuesAll_).clear();
  }
  allSelectedFlag_ = allRegions;
  if (controls_) controls_->showSelection(selectedValues_, selectedValuesAll_);
  showInfosForFinancialValue(selectedValue(), true);
}

void KVRVortelyReportsController::showInfosForFinancialValue(const KVRFinancialValue* value, bool updateAccountsPopup) {
  KVRFinancialDetailsInput in;
  in.value = value;
  in.updateAccountsPopup = updateAccountsPopup;
  in.allSelected = allSelectedFlag_;
  in.bigger = bigger_;
  in.blockReconciliation = blockReconciliation_;
  in.accountSelected = selection_.accountSelected;
  in.financialAccounts = financialAccounts();
  in.currentItems = accountItems_;
  in.currentSelection = controls_ ? controls_->selectedAccountItem() : accountSelection_;
  in.preferredCurrency = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency();
  in.now = clock_ ? clock_() : KVRDate(double(QDateTime::currentMSecsSinceEpoch()));
  details_ = KVRPresentFinancialDetails(in);
  bigger_ = details_.bigger;
  if (details_.accountItems) accountItems_ = *details_.accountItems;
  if (details_.accountSelection) accountSelection_ = *details_.accountSelection;
  updateTrendViewForFinancialValue(value);
  if (controls_) controls_->showDetails(details_);
}

void KVRVortelyReportsController::updateTrendViewForFinancialValue(const KVRFinancialValue* value) {
  KVRFinancialTrendInput in;
  in.statement = statement_.get();
  in.fixedIncomes = &fixedIncomes_;
  in.value = value;
  in.selectedMonth = selectedMonth_;
  in.allSelected = allSelectedFlag_;
  if (!selectedValuesAll_.empty()) in.selectedTotal = *selectedValuesAll_.begin();
  in.currencyMode = currencyMode_;
  in.preferredSymbol = preferredSymbol();
  trend_ = KVRComputeFinancialTrend(in);
  if (controls_) controls_->showTrend(trend_);
}

// ---------------------------------------------------------------------------
// The currency mode

void KVRVortelyReportsController::setCurrencyMode(int mode) {
  if (controls_) controls_->selectCurrencySegment(mode);
  else currencyMode_ = mode;
  currencyControlDidChange();
}

void KVRVortelyReportsController::currencyControlDidChange() {
  if (controls_) currencyMode_ = controls_->selectedCurrencySegment();
  if (currencyMode_ < 0 || currencyMode_ > 2) currencyMode_ = KVRCurrencyModePreferred;
  updateDisplayedFinancialsValues();
  updateCamembertViewWithAnimation(true);
  KVRUserDefaults::standard().setInteger(kSelectedCurrencyKey, currencyMode_);
}

void KVRVortelyReportsController::setOptionsEnabled(bool enabled) {
  optionsEnabled_ = enabled;
  if (controls_) controls_->setOptionsEnabled(enabled);
}

// ---------------------------------------------------------------------------
// Bar chart and regions tables

QString KVRVortelyReportsController::selectionName() const {
  KVRApplicationServices* app = services();
  if (!app) return KVRLocalized("multiple selection");
  const std::vector<KVRVortelyManagedProduct*> products = app->selectedProducts();
  if (products.size() == 1) return products.front()->name;
  if (products.empty()) {
    const std::vector<KVRStoreAccount*> accounts = app->selectedAccounts();
    if (accounts.size() == 1) return accounts.front()->name;
  }
  return KVRLocalized("multiple selection");
}

QString KVRVortelyReportsController::printTitle() const {
  return KVRLocalized("Financial Report for %1").arg(selectionName());
}

void KVRVortelyReportsController::updateCamembertViewWithAnimation(bool animate) {
  const QString name = selectionName();
  if (const std::optional<int> year = shownYear()) {
    const QString y = QString::number(*year);
    incomesTitle_ = KVRLocalized("%1 incomes for %2").arg(y, name);
    prIncomesTitle_ = QStringLiteral("%1 %2").arg(y, KVRLocalized("Incomes").toLower());
  } else {
    incomesTitle_ = QStringLiteral("Incomes");
    prIncomesTitle_ = KVRLocalized("Incomes");
  }
  if (controls_) controls_->setIncomesTitle(incomesTitle_);
  if (animate) {
    graphAnimatePercent_ = 0.0f;
    animationTimer_.start();
  } else {
    animationTimer_.stop();
    graphAnimatePercent_ = 1.0f;
  }
  if (controls_) controls_->redrawBarChart();
}

void KVRVortelyReportsController::animateCamemebertNextStep() {
  graphAnimatePercent_ += 0.05f;
  if (graphAnimatePercent_ >= 1.0f) {
    graphAnimatePercent_ = 1.0f;
    animationTimer_.stop();
  }
  if (controls_) controls_->redrawBarChart();
}

KVRFinancialRegionsChart KVRVortelyReportsController::regionsChart() const {
  return KVRFinancialRegionsChart(&financialsArray_, currencyMode_, selection_.accountSelected, preferredSymbol());
}

int KVRVortelyReportsController::numberOfPartsForCamembertGraph(KVRVortelyBarGraphView*) {
  return KVRFinancialRegionsChart::partCount();
}
QString KVRVortelyReportsController::legendForPartAtIndex(KVRVortelyBarGraphView*, int part) {
  return regionsChart().legend(part);
}
QColor KVRVortelyReportsController::colorForPartAtIndex(KVRVortelyBarGraphView*, int) {
  return KVRFinancialRegionsChart::color();
}
double KVRVortelyReportsController::valueForPartAtIndex(KVRVortelyBarGraphView*, int part) {
  return regionsChart().value(part);
}
float KVRVortelyReportsController::percentForPartAtIndex(KVRVortelyBarGraphView*, int part) {
  return regionsChart().percent(part);
}
float KVRVortelyReportsController::ratioForAnimationAtIndex(KVRVortelyBarGraphView*, int) {
  return graphAnimatePercent_;
}
std::optional<QString> KVRVortelyReportsController::valueLabelFormatAtIndex(KVRVortelyBarGraphView*, int part) {
  return regionsChart().valueLabelFormat(part);
}

// ---------------------------------------------------------------------------
// Report browser

void KVRVortelyReportsController::changeFilteredRegion(int tag) {
  std::optional<QString> code;
  if (tag >= 0 && tag < int(std::size(kFilterCodes))) code = QString::fromLatin1(kFilterCodes[tag]);
  if (code == region_) return;
  region_ = code;
  selectedProductDidChange(false);
}

std::vector<KVRVortelyReportsController::ReportTypeRow> KVRVortelyReportsController::reportTypesValues() const {
  const std::vector<ReportTypeRow> freeRows = {
      {KVRLocalized("Daily"), 1}, {KVRLocalized("Weekly"), 2}, {KVRLocalized("Monthly"), 3}};
  const std::vector<ReportTypeRow> saleRows = {
      {KVRLocalized("Daily"), 1}, {KVRLocalized("Weekly"), 2}, {KVRLocalized("Financial"), 4}};
  KVRApplicationServices* app = services();
  KVRVortelyManagedProduct* product = app ? app->selectedProduct() : nullptr;
  return product && !product->free ? saleRows : freeRows;
}

void KVRVortelyReportsController::setReportType(int type) {
  if (type == reportType_) return;
  reportType_ = type;
  selectedProductDidChange(false);
}

void KVRVortelyReportsController::setReportDate(KVRDate date) {
  if (date == reportDate_) return;
  reportDate_ = date;
  selectedProductDidChange(false);
}

void KVRVortelyReportsController::menuSetReportType(QAction* sender) {
  if (!sender) return;
  QMenu* menu = nullptr;
  for (QObject* o : sender->associatedObjects())
    if ((menu = qobject_cast<QMenu*>(o))) break;
  if (menu) {
    for (QAction* item : menu->actions()) {
      if (item->isSeparator()) break;
      item->setCheckable(true);
      item->setChecked(item == sender);
    }
  }
  setReportType(sender->data().toInt() + 1);
  if (tabSelector_) tabSelector_(3);
}

// ---------------------------------------------------------------------------
// Payments, print and exports

namespace {

KVRReconciliationCell reconciliationCell(const KVRFinancialValue& v) {
  KVRReconciliationCell cell;
  cell.month = v.monthDate;
  cell.regionCode = v.regionCode.value_or(QString());
  cell.incomeLocalValue = v.incomeLocalValue;
  cell.payment = v.paymentDict;
  return cell;
}

}  // namespace

const KVRFinancialValue* KVRVortelyReportsController::paymentCell() const {
  if (allSelectedFlag_ || selectedValues_.empty()) return nullptr;
  return grid_.value(*selectedValues_.begin());
}

void KVRVortelyReportsController::alert(const QString& title, const QString& text) {
  log(QStringLiteral("%1: %2").arg(title, text));
  if (alertHandler_) alertHandler_(title, text);
}

KVRReconciliation KVRVortelyReportsController::reconciliation() const {
  return KVRReconciliation(KVRVortelyCoreDataManager::sharedInstance(), saver_);
}

void KVRVortelyReportsController::reconcile() {
  const KVRFinancialValue* v = paymentCell();
  if (!v) return;
  const int item = controls_ ? controls_->selectedAccountItem() : accountSelection_;
  const QString account =
      item >= 0 && item < int(accountItems_.size()) ? accountItems_[size_t(item)].title : QString();
  const KVRReconciliationOutcome out =
      reconciliation().reconcile(*statement_, reconciliationCell(*v),
                                 controls_ ? controls_->reconcileAmountText() : QString(),
                                 controls_ ? controls_->reconcileDate() : KVRDate(), account);
  if (out.kind == KVRReconciliationOutcome::refused || out.kind == KVRReconciliationOutcome::failed)
    alert(out.title, out.message);
  if (out.changed()) reconciliationDidChange();
}

void KVRVortelyReportsController::unreconcile() {
  const KVRFinancialValue* v = paymentCell();
  if (!v) return;
  const KVRReconciliationOutcome out = reconciliation().unreconcile(*statement_, reconciliationCell(*v));
  if (out.kind == KVRReconciliationOutcome::failed) alert(out.title, out.message);
  if (out.changed()) reconciliationDidChange();
}

void KVRVortelyReportsController::reconciliationDidChange() {
  blockReconciliation_ = true;
  if (controls_) {
    controls_->setReconcileButtonsEnabled(false);
    controls_->setReconcileControlsEnabled(false);
  }
  KVRNotificationCenter::defaultCenter().postNotification(KVRVortelyReconcileHaveBeenUpdated, this);
}

void KVRVortelyReportsController::forcePayment() {
  const KVRFinancialValue* v = paymentCell();
  if (!v) return;
  const KVRReconciliationOutcome out = reconciliation().forcePayment(*statement_, reconciliationCell(*v));
  if (out.kind == KVRReconciliationOutcome::refused || out.kind == KVRReconciliationOutcome::failed)
    alert(out.title, out.message);
  // The statement follows the store, whatever was made.
  selectedProductDidChange(false);
}

bool KVRVortelyReportsController::print(QString* error) {
  bringUpToDate();
  if (!printView_) printView_ = std::make_unique<KVRPrintViewFinancial>();
  KVRFinancialPrintContent content;
  content.title = printTitle();
  content.incomesTitle = prIncomesTitle_;
  content.trendLabel = KVRLocalized("Monthly trend");
  content.grid = grid_;
  content.trend = trend_;
  content.details = details_;
  content.yearTable = financialsArray_;
  content.currencyMode = currencyMode_;
  content.accountSelected = selection_.accountSelected;
  content.preferredSymbol = preferredSymbol();
  KVRFillFinancialPrint(*printView_, content);
  return printView_->print(controls_ ? controls_->dialogParent() : nullptr, error);
}

KVRFinancialExportResult KVRVortelyReportsController::exportVisibleDatesReportsToPath(
    const QString& folder, const std::vector<KVRVortelyManagedProduct*>* filterProducts) {
  bringUpToDate();
  return KVRExportVisibleDatesReports(*statement_, selectedMonth_, folder, filterProducts);
}

KVRFinancialExportResult KVRVortelyReportsController::exportYearlyArchiveToPath(
    const QString& folder, const std::vector<KVRVortelyManagedProduct*>* filterProducts) {
  bringUpToDate();
  KVRApplicationServices* app = services();
  const bool accountSelected = app ? app->isAccountSelected() : selection_.accountSelected;
  return KVRExportYearlyArchive(*statement_, shownYear(), accountSelected, folder, filterProducts);
}

void KVRVortelyReportsController::selectYear(int year) {
  // Like the pop-up, which lists the statement's years only: another year
  // leaves it without a selected item.
  year_ = statement_->yearTable(year) ? std::optional<int>(year) : std::nullopt;
  if (controls_) controls_->setYears(statement_->years(), year_);
  selectedYearDidChange();
}
