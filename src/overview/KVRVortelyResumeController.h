#pragma once
// The overview controller: state and settings of one overview (the sales
// overview, or the iAd overview when a data provider is given), its periods
// and date spans, the reload that every change ends in, and the background
// load that runs the totals engine and hands one completed load to the screen.
//
// Main-thread object, no widget: the screen implements KVRResumeControls and
// is set with setControls(); a null controls pointer is tolerated.
//
// Threads: the reloads of one turn of the event loop make one load request,
// started when the turn ends. The request goes to this controller's load
// thread, which runs one request at a time under the loading lock (the sales
// overview's, shared by the iAd overview, so at most one load runs in the
// application). A request waiting for the lock is replaced by a newer one and
// never runs; a newer request also abandons the running load. The load copies
// the spans under uiLock, calls the engine up to four times and posts the
// results by value to the main thread, where only the newest request's results
// are displayed: the screen always ends on the last request.
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "overview/KVROverviewTypes.h"
#include "overview/KVRTotalsEngine.h"
#include "platform/KVRDate.h"

class KVRApplicationServices;
class KVRVortelyManagedProduct;

class KVRVortelyResumeController {
 public:
  // dataProvider: the sales overview, for the iAd overview; null for the sales
  // overview. services: the application delegate (KVRApplicationServices::
  // current() when null).
  explicit KVRVortelyResumeController(KVRVortelyResumeController* dataProvider = nullptr,
                                      KVRApplicationServices* services = nullptr,
                                      KVRResumeControls* controls = nullptr);
  // Cancels the running load and waits for this controller's load threads.
  ~KVRVortelyResumeController();
  KVRVortelyResumeController(const KVRVortelyResumeController&) = delete;
  KVRVortelyResumeController& operator=(const KVRVortelyResumeController&) = delete;

  void setControls(KVRResumeControls* controls) { controls_ = controls; }
  KVRResumeControls* controls() const { return controls_; }
  KVRVortelyResumeController* dataProvider() const { return dataProvider_; }
  bool isIAdOverview() const { return dataProvider_ != nullptr; }
  KVRApplicationServices* services() const;

  // "KVRiAd" (iAd overview) or "KVRDashboard" (sales overview).
  QString prefixForUserDefaults() const;
  // The user-default key of this instance for a suffix such as "SelectedPeriod".
  QString defaultsKey(const char* suffix) const;

  // Start-up: selects the first region, observes the selection and ratings
  // notifications, restores the settings.
  void awakeFromNib();
  // Restores value, scale and period from the user defaults; the custom period
  // also restores its graph range (which reloads).
  void updatePeriod();

  // ---- controls (Part of the screen's actions)
  void changeSelectedValue(int valueTag);
  void changeSelectedValue();  // reads the value pop-up
  void changeFilteredRegion(int regionTag);
  void changeFilteredRegion();  // reads the region pop-up
  void switchCumulativeView();
  void switchCombined();
  bool isOverviewGraphCombined() const;
  void setOptionsEnabled(bool enabled);
  bool dateScale() const { return true; }
  bool predefinedValuesScale() const { return false; }
  // Split view delegate rule.
  static float constrainSplitPosition(float proposedPosition, float splitViewHeight);

  // ---- periods and dates
  // Action of the period pop-up (senderTag) or re-application of the stored
  // period (none: no reload).
  void changeLastPeriod(std::optional<int> senderTag);
  void setSelectedPeriod(int tag);
  void setStartDate(KVRDate date);
  void setEndDate(KVRDate date);
  void setGraphStartDate(KVRDate date);
  void setGraphEndDate(KVRDate date);
  // Callback of the calendar popover.
  void pickerDidChangeDate(bool isEndPicker, KVRDate date);
  // Applies the cumulative segment rule with a value tag.
  void applyCumulativeSegmentRule(int valueTag);

  // ---- reload and load
  // The common reload; selectionChanged is true for the selection notification.
  // The load it asks for starts at the end of the current turn of the event
  // loop, together with those of the other reloads of that turn.
  // While the overview is not on show the reload waits: the reloads asked
  // for meanwhile come to one when it is shown, of the selection then.
  void selectedProductDidChange(bool selectionChanged);
  // The overview came on show: the reload that waited runs now.
  void screenDidShow();
  bool reloadPending() const { return reloadPending_; }
  // Marks the charts and graph for redisplay while a load runs.
  void refreshUI();
  // YES while a load runs or is being cancelled (graph data source).
  bool loadingData() const { return cancelLoad_.load() || loadingData_.load(); }
  // The totals engine on this controller's cancel flag. Load threads only.
  std::optional<KVRTotalsResult> totalsForRegion(const QString& region, KVRDate fromDate, KVRDate toDate,
                                                 const std::vector<KVRVortelyManagedProduct*>& products,
                                                 bool onlyTotals);
  // The results of the last displayed load (redisplay, print).
  const std::optional<KVRLoadResults>& lastLoadResults() const { return lastResults_; }
  // Load requests made, and loads displayed so far (tests, diagnostics).
  uint64_t loadRequestCount() const { return requestCounter_; }
  uint64_t displayedLoadCount() const { return displayedCount_; }
  // Waits (processing main-thread calls) until every requested load has run
  // and its results have reached the main thread; false on time-out.
  bool waitForLoads(double timeoutSeconds);
  // Tests: called on the load thread when a load starts running (it holds the
  // loading lock) and when it has released the lock, before the hand-over.
  enum class LoadPhase { Running, HandOver };
  using LoadHook = std::function<void(uint64_t generation, LoadPhase phase)>;
  void setLoadHookForTesting(LoadHook hook) { loadHook_ = std::move(hook); }

  // ---- fields
  int selectedPeriod() const { return selectedPeriod_.load(); }
  long long selectedScale() const { return selectedScale_; }
  // The current period (both days included).
  KVRDate currentStartDate() const { return startDate_; }
  KVRDate currentEndDate() const { return endDate_; }
  // Graph data source: startDate and endDate answer the graph range.
  KVRDate startDate() const { return graphStartDate_; }
  KVRDate endDate() const { return graphEndDate_; }
  KVRDate graphStartDate() const { return graphStartDate_; }
  KVRDate graphEndDate() const { return graphEndDate_; }
  KVRDate lastDayDate() const { return lastDayDate_; }
  KVRDate currentDayDate() const { return currentDayDate_; }
  KVRDate firstDate() const { return firstDate_; }
  KVRDate lastDate() const { return lastDate_; }
  void setFirstDate(KVRDate d) { firstDate_ = d; }
  void setLastDate(KVRDate d) { lastDate_ = d; }
  QString region() const;
  void setRegion(const QString& region);
  int previousTag() const { return previousTag_; }
  float medianValue() const { return medianValue_; }
  void setMedianValue(float v) { medianValue_ = v; }
  bool dontUpdatePoints() const { return dontUpdatePoints_; }
  bool dontUpdateTotals() const { return dontUpdateTotals_; }
  bool shouldComeBackToCombined() const { return shouldComeBackToCombined_; }
  bool cancelLoadFlag() const { return cancelLoad_.load(); }
  std::mutex& uiLock() { return uiLock_; }
  std::shared_ptr<std::mutex> loadingLock() const { return loadingLock_; }
  // The value tag selected in the value pop-up.
  int selectedValueTag() const;

 private:
  struct LoadRequest {
    uint64_t generation = 0;
    std::vector<KVRVortelyManagedProduct*> products;
    int valueTag = 0;
    std::weak_ptr<int> alive;  // expires with the controller
    KVRResumeControls::DisplayBuilder buildDisplay;  // runs on the load thread
  };
  void requestLoad();
  void startBackgroundLoad();
  void loadThreadMain(std::shared_ptr<std::mutex> loadingLock);
  void backgroundLoadData(LoadRequest request, std::unique_lock<std::mutex>& loading);
  void finishLoad(KVRLoadResults results);
  void displayLastResultsAgain();
  void selectValueTag(int tag);
  // The days a stored or picked graph date is held to.
  std::pair<KVRDate, KVRDate> graphDateBounds() const;
  void setTrendTitle(const char* english);
  KVRDate cutToDay(KVRDate d) const;
  std::vector<KVRVortelyManagedProduct*> loadProducts(int valueTag) const;
  QString reportDaysText(KVRDate first, KVRDate last) const;
  void reapFinishedThreads();

  KVRVortelyResumeController* dataProvider_ = nullptr;
  KVRApplicationServices* services_ = nullptr;
  KVRResumeControls* controls_ = nullptr;

  mutable std::mutex uiLock_;
  std::shared_ptr<std::mutex> loadingLock_;
  std::shared_ptr<std::mutex> loadsLock_;  // the lock this controller's loads take

  std::atomic<int> selectedPeriod_{0};
  long long selectedScale_ = 0;
  // Written on the main thread under uiLock; read by the load under uiLock.
  KVRDate startDate_, endDate_, lastDayDate_, currentDayDate_, graphStartDate_, graphEndDate_;
  QString region_;
  KVRDate firstDate_, lastDate_;
  int previousTag_ = 0;
  int valueTagFallback_ = 0;  // the value tag when no controls are set
  float medianValue_ = KVRNoMedianValue;
  bool dontUpdatePoints_ = false;
  bool dontUpdateTotals_ = false;
  bool shouldComeBackToCombined_ = false;
  bool reloadPending_ = false, pendingSelectionChanged_ = false;
  std::atomic<bool> loadingData_{false};
  std::atomic<bool> cancelLoad_{false};
  std::atomic<bool> shuttingDown_{false};

  // Load bookkeeping (main thread).
  uint64_t requestCounter_ = 0;       // the newest request's generation
  uint64_t displayedGeneration_ = 0;  // the request whose results are on screen
  uint64_t displayedCount_ = 0;
  bool startPosted_ = false;  // the start of the requested load is queued
  std::optional<KVRLoadResults> lastResults_;
  std::atomic<int> deliveries_{0};  // results posted, not yet on the main thread

  // The hand-over to the load thread, guarded by queueLock_: the one request
  // waiting to run (a newer one replaces it) and whether the thread is alive.
  std::mutex queueLock_;
  std::optional<LoadRequest> waitingRequest_;
  bool loadThreadActive_ = false;

  struct LoadThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<LoadThread> threads_;
  LoadHook loadHook_;  // set before loads start; read by load threads
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
