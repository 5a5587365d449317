#include "overview/KVRVortelyResumeController.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <QDateTime>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRCalendar.h"
#include "core/KVRFormatters.h"
#include "core/KVRNotifications.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"
#include "core/KVRVortelyManagedProduct.h"
#include "overview/KVRBoxesPresenter.h"
#include "overview/KVROverviewPeriod.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"
#include "platform/KVRUserDefaults.h"

namespace {

const QString kLogKeyword = QStringLiteral("Resume Controller");

std::vector<KVRVortelyManagedProduct*> sortedByName(std::vector<KVRVortelyManagedProduct*> products) {
  products.erase(std::remove(products.begin(), products.end(), nullptr), products.end());
  std::stable_sort(products.begin(), products.end(),
                   [](const KVRVortelyManagedProduct* a, const KVRVortelyManagedProduct* b) {
                     return a->name < b->name;
                   });
  return products;
}

KVRDate laterOf(KVRDate a, KVRDate b) {
  if (!a.isValid()) return b;
  if (!b.isValid()) return a;
  return b.isLaterThan(a) ? b : a;
}

KVRDate earlierOf(KVRDate a, KVRDate b) {
  if (!a.isValid()) return b;
  if (!b.isValid()) return a;
  return b.isEarlierThan(a) ? b : a;
}

}  // namespace

// ============================================================== life cycle

KVRVortelyResumeController::KVRVortelyResumeController(KVRVortelyResumeController* dataProvider,
                                                       KVRApplicationServices* services,
                                                       KVRResumeControls* controls)
    : dataProvider_(dataProvider), services_(services), controls_(controls),
      loadingLock_(std::make_shared<std::mutex>()),
      // The iAd overview runs its loads under the sales overview's lock.
      loadsLock_(dataProvider ? dataProvider->loadingLock() : loadingLock_) {}

KVRVortelyResumeController::~KVRVortelyResumeController() {
  KVRNotificationCenter::defaultCenter().removeObserver(this);
  alive_.reset();  // queued starts and displays of this controller are dropped
  shuttingDown_.store(true);
  {
    std::lock_guard<std::mutex> q(queueLock_);
    waitingRequest_.reset();
    cancelLoad_.store(true);
  }
  for (LoadThread& t : threads_)
    if (t.thread.joinable()) t.thread.join();
}

KVRApplicationServices* KVRVortelyResumeController::services() const {
  return services_ ? services_ : KVRApplicationServices::current();
}

QString KVRVortelyResumeController::prefixForUserDefaults() const {
  return dataProvider_ ? QStringLiteral("KVRiAd") : QStringLiteral("KVRDashboard");
}

QString KVRVortelyResumeController::defaultsKey(const char* suffix) const {
  return prefixForUserDefaults() + QLatin1String(suffix);
}

void KVRVortelyResumeController::awakeFromNib() {
  if (controls_) controls_->selectFirstRegionItem();
  loadingData_.store(false);
  cancelLoad_.store(false);
  KVRNotificationCenter& nc = KVRNotificationCenter::defaultCenter();
  nc.addObserver(this, KVRVortelySelectedProductDidChange, nullptr,
                 [this](const KVRNotification&) { selectedProductDidChange(true); });
  nc.addObserver(this, KVRVortelyRatingsHaveBeenLoaded, nullptr, [this](const KVRNotification&) {
    if (controls_) controls_->updateBoxes();
  });
  updatePeriod();
}

void KVRVortelyResumeController::updatePeriod() {
  KVRUserDefaults& defaults = KVRUserDefaults::standard();
  // A stored tag that no item carries reads as the first item.
  long long value = defaults.integerForKey(defaultsKey("SelectedValue"));
  if (value < 0 || value >= KVROverviewValueTagCount) value = 0;
  selectValueTag(int(value));
  previousTag_ = int(value);

  selectedScale_ = defaults.integerForKey(defaultsKey("SelectedScale"));

  long long period = defaults.integerForKey(defaultsKey("SelectedPeriod"));
  if (!KVRIsPeriodTag(period)) period = 0;
  selectedPeriod_.store(int(period));
  if (controls_) controls_->showPeriodTag(int(period));

  if (period == KVRPeriodCustom) {
    // Stored dates may be anything (year 1 to 9999 would ask for millions of
    // days): they are held to the report days, or to the stores' years.
    const auto [lower, upper] = graphDateBounds();
    const auto [start, end] = KVRGraphRangeWithin(defaults.dateForKey(defaultsKey("StartDate")),
                                                  defaults.dateForKey(defaultsKey("EndDate")), lower, upper);
    dontUpdatePoints_ = true;
    setGraphEndDate(end);
    dontUpdatePoints_ = false;
    setGraphStartDate(start);
  }
  if (controls_) controls_->resetCounter();
}

// ============================================================== controls

int KVRVortelyResumeController::selectedValueTag() const {
  return controls_ ? controls_->selectedValueTag() : valueTagFallback_;
}

void KVRVortelyResumeController::selectValueTag(int tag) {
  valueTagFallback_ = tag;
  if (controls_) controls_->selectValueTag(tag);
}

void KVRVortelyResumeController::changeSelectedValue() { changeSelectedValue(selectedValueTag()); }

void KVRVortelyResumeController::changeSelectedValue(int tag) {
  valueTagFallback_ = tag;
  if (tag != KVRValueInAppSales && previousTag_ != KVRValueInAppSales) {
    // Same products: the loaded totals are shown again for the new value.
    dontUpdateTotals_ = true;
    selectedProductDidChange(false);
    dontUpdateTotals_ = false;
  } else {
    selectedProductDidChange(false);
  }
  previousTag_ = tag;
  applyCumulativeSegmentRule(tag);
  KVRUserDefaults::standard().setInteger(defaultsKey("SelectedValue"), tag);
}

void KVRVortelyResumeController::changeFilteredRegion() {
  changeFilteredRegion(controls_ ? controls_->selectedRegionTag() : -1);
}

void KVRVortelyResumeController::changeFilteredRegion(int tag) {
  const QString code = KVRRegionCodeForTag(tag);
  const QString current = region();
  if (code.isNull() == current.isNull() && code == current) return;
  setRegion(code);
  selectedProductDidChange(false);
}

QString KVRVortelyResumeController::region() const {
  std::lock_guard<std::mutex> g(uiLock_);
  return region_;
}

void KVRVortelyResumeController::setRegion(const QString& region) {
  // The load copies the region under uiLock, so it is written under it too.
  std::lock_guard<std::mutex> g(uiLock_);
  region_ = region;
}

void KVRVortelyResumeController::switchCumulativeView() {
  if (controls_) controls_->redrawGraph();
}

void KVRVortelyResumeController::switchCombined() {
  shouldComeBackToCombined_ = false;
  if (controls_) controls_->redrawGraph();
  if (KVRApplicationServices* s = services()) s->refreshProductsList();
}

bool KVRVortelyResumeController::isOverviewGraphCombined() const {
  if (!controls_) return true;
  return controls_->combineSelectedSegment() == 0 || !controls_->hasPerProductCurves();
}

void KVRVortelyResumeController::setOptionsEnabled(bool enabled) {
  if (!controls_) return;
  controls_->setCombineControlEnabled(enabled);
  controls_->setCumulativeControlEnabled(enabled);
  controls_->setPickersEnabled(enabled);
  if (isIAdOverview() || !enabled) {
    controls_->setValuePopUpEnabled(enabled);
  } else {
    // The revenue item keeps the state the reload gave it.
    const bool revenueEnabled = controls_->isValueItemEnabled(KVRValueRevenues);
    controls_->setValuePopUpEnabled(true);
    controls_->setValueItemEnabled(KVRValueRevenues, revenueEnabled);
  }
  controls_->setPeriodPopUpEnabled(enabled);
  controls_->setRegionPopUpEnabled(enabled);
}

float KVRVortelyResumeController::constrainSplitPosition(float proposed, float height) {
  return KVRConstrainSplitPosition(proposed, height);
}

void KVRVortelyResumeController::applyCumulativeSegmentRule(int valueTag) {
  if (!controls_) return;
  if (selectedPeriod_.load() == KVRPeriodDaily || valueTag == KVRValueECPM || valueTag == KVRValueFillRate ||
      valueTag == KVRValueCTR) {
    controls_->selectCumulativeSegment(0);
    controls_->setCumulativeSegmentEnabled(1, false);
  } else {
    controls_->setCumulativeSegmentEnabled(1, true);
  }
}

// ============================================================== periods

void KVRVortelyResumeController::setTrendTitle(const char* english) {
  if (controls_) controls_->setTrendLabel(KVRLocalized(english));
}

KVRDate KVRVortelyResumeController::cutToDay(KVRDate d) const {
  if (!d.isValid()) return d;
  KVRCalendar& cal = KVRCalendar::shared();
  KVRDateComponents c =
      cal.components(KVRYearCalendarUnit | KVRMonthCalendarUnit | KVRDayCalendarUnit, d);
  return cal.dateFromComponents(KVRDateComponents::ymd(c.year, c.month, c.day));
}

void KVRVortelyResumeController::changeLastPeriod(std::optional<int> senderTag) {
  KVRCalendar& cal = KVRCalendar::shared();
  KVRUserDefaults& defaults = KVRUserDefaults::standard();
  applyCumulativeSegmentRule(selectedValueTag());

  if (selectedPeriod_.load() == KVRPeriodCustom) {
    setTrendTitle("Custom trend");
    defaults.setDate(defaultsKey("StartDate"), graphStartDate_);
    defaults.setDate(defaultsKey("EndDate"), graphEndDate_);
    setStartDate(graphStartDate_);
    {
      std::lock_guard<std::mutex> g(uiLock_);
      lastDayDate_ = startDate_;
    }
    setEndDate(graphEndDate_);
    {
      std::lock_guard<std::mutex> g(uiLock_);
      currentDayDate_ = endDate_;
    }
    return;
  }

  dontUpdatePoints_ = true;
  const KVRDate e = cutToDay(lastDate_.isValid() ? lastDate_ : KVRDate(double(QDateTime::currentMSecsSinceEpoch())));
  setEndDate(e);
  // A graph range lying after the new end day would hold the end back (the
  // graph end is never set before the graph start): the preset's graph range
  // is its current period, so let the start go first.
  if (graphStartDate_.isLaterThan(endDate_)) setGraphStartDate(endDate_);
  setGraphEndDate(endDate_);

  if (senderTag) {
    selectedPeriod_.store(*senderTag);
    defaults.setInteger(defaultsKey("SelectedPeriod"), *senderTag);
  }
  const int tag = selectedPeriod_.load();
  setTrendTitle("Trend");
  setTrendTitle(KVRTrendTitleForPeriodTag(tag));
  const int dayOfMonth = cal.components(KVRDayCalendarUnit, e).day;
  const KVRPeriodStep step = KVRPeriodStepForTag(tag, dayOfMonth);

  bool startFromStep = false;
  if (!firstDate_.isValid()) {
    setStartDate(KVRFirstDateFallback());
  } else if (tag == KVRPeriodAll) {
    setStartDate(cutToDay(firstDate_));
  } else {
    setStartDate(step.hasStep ? cal.dateByAddingComponents(step.components, endDate_) : endDate_);
    startFromStep = true;
  }

  setGraphStartDate(startDate_);
  {
    std::lock_guard<std::mutex> g(uiLock_);
    lastDayDate_ = startDate_;
    currentDayDate_ = endDate_;
  }
  // The day period shows a week in the graph while its totals cover one day.
  if (startFromStep && step.isZeroDayStep() && tag != KVRPeriodCurrentMonth)
    setGraphStartDate(cal.dateByAddingComponents(KVRDateComponents::days(-6), graphEndDate_));

  dontUpdatePoints_ = false;
  if (senderTag) selectedProductDidChange(false);
}

void KVRVortelyResumeController::setSelectedPeriod(int tag) {
  if (tag != selectedPeriod_.load()) {
    selectedPeriod_.store(tag);
    if (controls_) controls_->showPeriodTag(tag);
    KVRUserDefaults::standard().setInteger(defaultsKey("SelectedPeriod"), tag);
  }
  changeLastPeriod(std::nullopt);
  selectedProductDidChange(false);
}

void KVRVortelyResumeController::setStartDate(KVRDate date) {
  if (date != startDate_) {
    std::lock_guard<std::mutex> g(uiLock_);
    startDate_ = date;
  }
  if (!dontUpdatePoints_) selectedProductDidChange(false);
}

void KVRVortelyResumeController::setEndDate(KVRDate date) {
  if (date != endDate_) {
    std::lock_guard<std::mutex> g(uiLock_);
    endDate_ = date;
  }
  if (!dontUpdatePoints_) selectedProductDidChange(false);
}

void KVRVortelyResumeController::setGraphStartDate(KVRDate date) {
  if (date != graphStartDate_) {
    {
      std::lock_guard<std::mutex> g(uiLock_);
      if (graphEndDate_.isValid() && date.isLaterThan(graphEndDate_))
        date = KVRCalendar::shared().dateByAddingComponents(KVRDateComponents::days(0), graphEndDate_);
      graphStartDate_ = date;
    }
    KVRUserDefaults::standard().setDate(defaultsKey("StartDate"), graphStartDate_);
    // The picker is bound to the graph start: it shows every change.
    if (controls_) controls_->setStartPickerDate(graphStartDate_);
  }
  if (!dontUpdatePoints_) {
    dontUpdatePoints_ = true;
    setStartDate(graphStartDate_);
    {
      std::lock_guard<std::mutex> g(uiLock_);
      lastDayDate_ = graphStartDate_;
    }
    dontUpdatePoints_ = false;
    setSelectedPeriod(KVRPeriodCustom);
    selectedProductDidChange(false);
  }
}

void KVRVortelyResumeController::setGraphEndDate(KVRDate date) {
  if (date != graphEndDate_) {
    {
      std::lock_guard<std::mutex> g(uiLock_);
      if (graphStartDate_.isValid() && date.isEarlierThan(graphStartDate_))
        date = KVRCalendar::shared().dateByAddingComponents(KVRDateComponents::days(0), graphStartDate_);
      graphEndDate_ = date;
    }
    KVRUserDefaults::standard().setDate(defaultsKey("EndDate"), graphEndDate_);
    if (controls_) controls_->setEndPickerDate(graphEndDate_);
  }
  if (!dontUpdatePoints_) {
    dontUpdatePoints_ = true;
    setEndDate(graphEndDate_);
    {
      std::lock_guard<std::mutex> g(uiLock_);
      currentDayDate_ = graphEndDate_;
    }
    dontUpdatePoints_ = false;
    setSelectedPeriod(KVRPeriodCustom);
    selectedProductDidChange(false);
  }
}

std::pair<KVRDate, KVRDate> KVRVortelyResumeController::graphDateBounds() const {
  return KVRGraphDateBounds(firstDate_, lastDate_, KVRDate(double(QDateTime::currentMSecsSinceEpoch())));
}

void KVRVortelyResumeController::pickerDidChangeDate(bool isEndPicker, KVRDate date) {
  const auto [lower, upper] = graphDateBounds();
  date = KVRClampDate(date, lower, upper);
  if (isEndPicker)
    setGraphEndDate(date);
  else
    setGraphStartDate(date);
}

// ============================================================== reload

QString KVRVortelyResumeController::reportDaysText(KVRDate first, KVRDate last) const {
  // No report day known: nothing to show.
  if (!first.isValid() || !last.isValid()) return QString();
  const KVRDateFormatter& f = KVRFormatters::shared().numberedDateFormatter();
  return KVRFormatWithArguments(KVRLocalized("(from %@ to %@)"), {f.stringFromDate(first), f.stringFromDate(last)});
}

std::vector<KVRVortelyManagedProduct*> KVRVortelyResumeController::loadProducts(int valueTag) const {
  KVRApplicationServices* s = services();
  std::vector<KVRVortelyManagedProduct*> products = sortedByName(s ? s->extendedSelectedProducts() : std::vector<KVRVortelyManagedProduct*>{});
  if (valueTag == KVRValueInAppSales)
    products.erase(std::remove_if(products.begin(), products.end(),
                                  [](KVRVortelyManagedProduct* p) { return !p->isInAppPurchase(); }),
                   products.end());
  return products;
}

void KVRVortelyResumeController::selectedProductDidChange(bool selectionChanged) {
  if (controls_ && !controls_->isOnShow()) {
    // Hidden: nothing is done until the overview is shown.
    reloadPending_ = true;
    pendingSelectionChanged_ = pendingSelectionChanged_ || selectionChanged;
    return;
  }
  reloadPending_ = false;
  selectionChanged = selectionChanged || pendingSelectionChanged_;
  pendingSelectionChanged_ = false;
  KVRVortelyLogCenter::sharedInstance().addLogEntry(QStringLiteral("selectedProductDidChange start"), false,
                                                    kLogKeyword);
  if (!dontUpdateTotals_) {
    // The running load is older than the request this reload makes: abandon it.
    std::lock_guard<std::mutex> q(queueLock_);
    if (loadingData_.load()) cancelLoad_.store(true);
  }

  if (controls_) controls_->clearCurvesAndCharts();

  KVRApplicationServices* services = this->services();
  const std::vector<KVRVortelyManagedProduct*> extended =
      sortedByName(services ? services->extendedSelectedProducts() : std::vector<KVRVortelyManagedProduct*>{});
  const std::vector<KVRVortelyManagedProduct*> selected =
      sortedByName(services ? services->selectedProducts() : std::vector<KVRVortelyManagedProduct*>{});
  const std::vector<KVRStoreAccount*> accounts =
      services ? services->selectedAccounts() : std::vector<KVRStoreAccount*>{};

  if (controls_) {
    if (extended.size() == 1)
      controls_->setProductNameLabel(extended.front()->name);
    else
      controls_->setProductNameLabel(extended.empty() ? KVRLocalized("No product") : KVRLocalized("Multiple products"));
  }

  // Product box sums over the shown products (the boxes' own texts).
  const std::vector<KVRVortelyManagedProduct*>& shown = selected.empty() ? extended : selected;
  const KVRProductTotalsTexts productTotals =
      KVRProductTotalsForShownProducts(shown, services && services->roundCurrencyValues());
  const bool someInitialized = productTotals.initialized;

  if (controls_) {
    const QString symbol = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol();
    controls_->setProductCurrencySymbol(symbol);
    controls_->setRevenuesLabel(KVRFormatWithArguments(QStringLiteral("%@ (%@)"), {KVRLocalized("Revenues"), symbol}));
    controls_->setProductTotalIncomeLabel(productTotals.income);
    controls_->setProductTotalSalesLabel(productTotals.sales);
    controls_->setProductTotalUpgradesLabel(productTotals.upgrades);

    // The revenue item of the sales overview: no income from built products.
    if (!isIAdOverview()) {
      if (productTotals.incomeSum == 0.0 && someInitialized && controls_->isValuePopUpEnabled()) {
        if (controls_->selectedValueTag() == KVRValueRevenues) selectValueTag(KVRValueSales);
        controls_->setValueItemEnabled(KVRValueRevenues, false);
      } else {
        controls_->setValueItemEnabled(KVRValueRevenues, true);
      }
    }
  }

  // Report days of the selected accounts' products. A product without a date
  // does not move the bounds.
  KVRDate first, last;
  if (!accounts.empty()) {
    std::lock_guard<std::recursive_mutex> ctx(KVRVortelyCoreDataManager::sharedInstance().contextLock());
    for (KVRStoreAccount* account : accounts) {
      if (!account) continue;
      for (KVRVortelyManagedProduct* p : sortedByName(account->products)) {
        if (p->firstDate.isValid() && (!first.isValid() || p->firstDate.isEarlierThan(first))) first = p->firstDate;
        if (p->lastDate.isValid() && (!last.isValid() || p->lastDate.isLaterThan(last))) last = p->lastDate;
      }
    }
  }
  {
    QString text;
    {
      std::unique_lock<std::recursive_mutex> g;
      if (services) g = std::unique_lock<std::recursive_mutex>(services->formatterLock());
      text = reportDaysText(first, last);
    }
    if (controls_) controls_->setReportsDatesLabel(text);
  }
  setLastDate(last);
  setFirstDate(first);

  if (selectionChanged && someInitialized) {
    dontUpdatePoints_ = true;
    if (graphEndDate_.isEarlierThan(cutToDay(firstDate_))) {
      // The range lies wholly before the new report days (clamping would leave
      // one empty day): it becomes those days. The end goes first, so that the
      // start is never set after it.
      setGraphEndDate(lastDate_.isValid() ? lastDate_ : firstDate_);
      setGraphStartDate(firstDate_);
    } else if (graphStartDate_.isLaterThan(lastDate_)) {
      // Wholly after them: likewise, the start first.
      setGraphStartDate(firstDate_.isValid() ? firstDate_ : lastDate_);
      setGraphEndDate(lastDate_);
    } else {
      setGraphStartDate(laterOf(graphStartDate_, firstDate_));
      setGraphEndDate(earlierOf(graphEndDate_, lastDate_));
    }
    dontUpdatePoints_ = false;
  }
  if (controls_) {
    controls_->setStartPickerDate(graphStartDate_);
    controls_->setEndPickerDate(graphEndDate_);
  }
  if (selectionChanged) {
    dontUpdatePoints_ = true;
    changeLastPeriod(std::nullopt);
    dontUpdatePoints_ = false;
  }

  // Combined graph control.
  if (extended.size() == 1) {
    KVRVortelyManagedProduct* p = extended.front();
    QString text;
    {
      std::unique_lock<std::recursive_mutex> g;
      if (services) g = std::unique_lock<std::recursive_mutex>(services->formatterLock());
      text = reportDaysText(p->firstDate, p->lastDate);
    }
    if (controls_) {
      controls_->setReportsDatesLabel(text);
      if (controls_->combineSelectedSegment() == 0) shouldComeBackToCombined_ = true;
      controls_->setCombineSegmentEnabled(0, false);
      controls_->setCombineSegmentEnabled(1, true);
      controls_->selectCombineSegment(1);
    }
  } else if (selected.empty() && services && services->isAccountSelected()) {
    if (controls_) {
      controls_->setCombineSegmentEnabled(0, true);
      controls_->setCombineSegmentEnabled(1, false);
      controls_->selectCombineSegment(0);
    }
  } else if (controls_) {
    controls_->setCombineSegmentEnabled(1, true);
    controls_->setCombineSegmentEnabled(0, true);
    if (shouldComeBackToCombined_) controls_->selectCombineSegment(0);
  }

  medianValue_ = KVRNoMedianValue;

  if (dontUpdateTotals_) {
    // With a load on its way, its own display shows the new value.
    if (displayedGeneration_ == requestCounter_ && !loadingData_.load()) displayLastResultsAgain();
    return;
  }
  if (controls_) controls_->updateBoxes();
  requestLoad();
}

void KVRVortelyResumeController::refreshUI() {
  if (loadingData_.load() && controls_) {
    controls_->redrawCharts();
    controls_->redrawGraph();
  }
}

void KVRVortelyResumeController::displayLastResultsAgain() {
  KVRLoadResults results;
  if (lastResults_) {
    results = *lastResults_;
  } else {
    // Nothing loaded yet: an empty load over the current spans.
    std::lock_guard<std::mutex> g(uiLock_);
    results.startDate = startDate_;
    results.endDate = endDate_;
    results.graphStartDate = graphStartDate_;
    results.graphEndDate = graphEndDate_;
    results.lastDayDate = lastDayDate_;
    results.currentDayDate = currentDayDate_;
    results.region = region_;
    results.periodTag = selectedPeriod_.load();
  }
  results.valueTag = selectedValueTag();
  results.prepared.reset();
  lastResults_ = results;
  ++displayedCount_;
  if (controls_) controls_->displayLoad(*lastResults_);
}

// ============================================================== background load

void KVRVortelyResumeController::reapFinishedThreads() {
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (it->done->load()) {
      if (it->thread.joinable()) it->thread.join();
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
}

bool KVRVortelyResumeController::waitForLoads(double timeoutSeconds) {
  return KVRMainThread::waitUntil(
      [this] {
        reapFinishedThreads();
        return !startPosted_ && threads_.empty() && deliveries_.load() == 0;
      },
      timeoutSeconds);
}

void KVRVortelyResumeController::screenDidShow() {
  if (reloadPending_) selectedProductDidChange(pendingSelectionChanged_);
}

void KVRVortelyResumeController::requestLoad() {
  ++requestCounter_;
  // Every reload of this turn of the event loop (a date pick makes several)
  // ends in the one load started when the turn is over.
  if (startPosted_) return;
  startPosted_ = true;
  std::weak_ptr<int> alive = alive_;
  KVRMainThread::post([this, alive] {
    if (alive.lock()) startBackgroundLoad();
  });
}

void KVRVortelyResumeController::startBackgroundLoad() {
  startPosted_ = false;
  reapFinishedThreads();
  LoadRequest request;
  request.generation = requestCounter_;
  request.valueTag = selectedValueTag();
  request.products = loadProducts(request.valueTag);
  request.alive = alive_;
  if (controls_) request.buildDisplay = controls_->displayBuilderForLoad();
  std::shared_ptr<std::mutex> loadingLock = loadsLock_;

  bool startThread = false;
  {
    std::lock_guard<std::mutex> q(queueLock_);
    waitingRequest_ = std::move(request);  // a request still waiting never runs
    if (!loadThreadActive_) loadThreadActive_ = startThread = true;
  }
  if (startThread) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    LoadThread t;
    t.done = done;
    t.thread = std::thread([this, loadingLock, done] {
      loadThreadMain(loadingLock);
      done->store(true);
    });
    threads_.push_back(std::move(t));
  }
  std::weak_ptr<int> alive = alive_;
  KVRMainThread::postAfter(0.6, [this, alive] {
    if (alive.lock()) refreshUI();
  });
}

std::optional<KVRTotalsResult> KVRVortelyResumeController::totalsForRegion(
    const QString& region, KVRDate fromDate, KVRDate toDate,
    const std::vector<KVRVortelyManagedProduct*>& products, bool onlyTotals) {
  return KVRTotalsEngine::totalsForRegion(region, fromDate, toDate, products, onlyTotals, &cancelLoad_);
}

void KVRVortelyResumeController::loadThreadMain(std::shared_ptr<std::mutex> loadingLock) {
  for (;;) {
    // The request is taken only once the lock is held, so that a request
    // replaced while this thread waited for it never runs.
    std::unique_lock<std::mutex> loading(*loadingLock);
    LoadRequest request;
    {
      std::lock_guard<std::mutex> q(queueLock_);
      if (!waitingRequest_ || shuttingDown_.load()) {
        loadThreadActive_ = false;
        return;
      }
      request = std::move(*waitingRequest_);
      waitingRequest_.reset();
      cancelLoad_.store(false);
      loadingData_.store(true);
    }
    backgroundLoadData(std::move(request), loading);
  }
}

void KVRVortelyResumeController::backgroundLoadData(LoadRequest request, std::unique_lock<std::mutex>& loading) {
  if (loadHook_) loadHook_(request.generation, LoadPhase::Running);

  KVRLoadResults r;
  r.generation = request.generation;
  r.valueTag = request.valueTag;
  r.products = std::move(request.products);
  {
    std::lock_guard<std::mutex> g(uiLock_);
    r.startDate = startDate_;
    r.endDate = endDate_;
    r.graphStartDate = graphStartDate_;
    r.graphEndDate = graphEndDate_;
    r.currentDayDate = currentDayDate_;
    r.lastDayDate = lastDayDate_;
    r.region = region_;
  }
  r.periodTag = selectedPeriod_.load();
  std::tie(r.previousStartDate, r.previousEndDate) =
      KVRPreviousSpan(r.periodTag, r.startDate, r.endDate, r.lastDayDate, r.currentDayDate);

  auto T = [&](KVRDate from, KVRDate to, bool onlyTotals) {
    return totalsForRegion(r.region, from, to, r.products, onlyTotals);
  };
  auto only = [](std::optional<KVRTotalsResult> res) -> std::optional<KVRProductTotals> {
    if (!res || res->empty()) return std::nullopt;
    return std::move(res->begin()->second);
  };
  if (r.products.size() == 1) {
    r.singleProduct = true;
    if (!cancelLoad_.load()) {
      r.productPrevious = only(T(r.previousStartDate, r.previousEndDate, true));
      if (!cancelLoad_.load()) r.productCurrent = only(T(r.startDate, r.endDate, false));
    }
    if (r.periodTag == KVRPeriodDaily && !cancelLoad_.load())
      r.productGraph = only(T(r.graphStartDate, r.graphEndDate, false));
  } else {
    if (!cancelLoad_.load()) r.current = T(r.startDate, r.endDate, false);
    if (!(r.startDate == r.lastDayDate && r.endDate == r.currentDayDate) && !cancelLoad_.load())
      r.compared = T(r.lastDayDate, r.currentDayDate, true);
    if (!cancelLoad_.load()) r.previous = T(r.previousStartDate, r.previousEndDate, true);
    if (r.periodTag == KVRPeriodDaily && !cancelLoad_.load())
      r.graph = T(r.graphStartDate, r.graphEndDate, false);
  }

  // The display is built here, off the main thread, still under the loading
  // lock (it reads the products as the engine did).
  if (request.buildDisplay && !cancelLoad_.load()) r.prepared = request.buildDisplay(r);

  bool cancelled;
  {
    std::lock_guard<std::mutex> q(queueLock_);
    cancelled = cancelLoad_.load();
    loadingData_.store(false);
  }
  loading.unlock();
  if (loadHook_) loadHook_(r.generation, LoadPhase::HandOver);

  // An abandoned load may hold partial results: it shows nothing, a newer
  // request follows it.
  if (cancelled) return;
  deliveries_.fetch_add(1);
  KVRMainThread::post([this, alive = request.alive, results = std::move(r)]() mutable {
    if (!alive.lock()) return;
    deliveries_.fetch_sub(1);
    finishLoad(std::move(results));
  });
}

void KVRVortelyResumeController::finishLoad(KVRLoadResults results) {
  // Only the newest request's results are shown: an older load that ended
  // after a newer request was made would put old figures under the new
  // selection's header.
  if (results.generation != requestCounter_) return;
  // A value change made while the load ran is shown with these totals.
  results.valueTag = selectedValueTag();
  displayedGeneration_ = results.generation;
  lastResults_ = std::move(results);
  ++displayedCount_;
  if (controls_) controls_->displayLoad(*lastResults_);
  // The prepared display has been taken over by the screen.
  lastResults_->prepared.reset();
}
