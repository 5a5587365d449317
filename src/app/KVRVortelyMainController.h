#pragma once
// The application delegate: starts the application (services, start-up
// window, database, product list, observers, saved segment, the background
// history build, then the main window), serves the product-list selection to
// the screens, runs the data rebuilds, the print and export commands, the
// empty states, and the quit that saves the database first.
//
// Everything here runs on the main thread except the bodies of the background
// jobs (history build, rebuild, save), which hold the database context lock
// and hand their results back through KVRMainThread::post.
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "app/KVRAlertPresenter.h"
#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"

class KVRMainWindow;
class KVRStartupWindow;
class KVRTask;
class KVRVortelyProductListController;
class KVRVortelyResumeController;
class KVRFinancialStatementsController;
class KVROverviewScreen;
class KVRVortelyReportsController;
class KVRFinancialScreen;

class KVRVortelyMainController : public QObject, public KVRApplicationServices {
  Q_OBJECT
 public:
  // Segments of the main window's segmented control.
  enum Segment { OverviewSegment = 0, FinancialSegment = 1, RankingsSegment = 4, IAdOverviewSegment = 5 };

  explicit KVRVortelyMainController(QObject* parent = nullptr);
  ~KVRVortelyMainController() override;

  // --- Set-up before start (tests, tools) ---
  void setStorePath(const QString& path) { storePath_ = path; }  // default: the data manager's
  void setAlertPresenter(KVRAlertPresenter presenter) { alertPresenter_ = std::move(presenter); }
  // How a finished command says what it did (an information sheet by default).
  void setNoticePresenter(KVRAlertPresenter presenter) { noticePresenter_ = std::move(presenter); }
  void setDatabaseSaver(std::function<bool(QString*)> saver) { saver_ = std::move(saver); }
  void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }
  // Whether start-up shows the windows (off for tests that only need the logic).
  void setShowsWindows(bool shows) { showsWindows_ = shows; }
  // What prints a segment (replaces the built-in one): false when nothing was
  // printed, with the reason in *error when the print failed (none when the
  // user cancelled it).
  using PrintHandler = std::function<bool(QString* error)>;
  void setPrintHandler(int segment, PrintHandler handler);
  void setReportsController(KVRFinancialStatementsController* controller);

  // --- Start-up ---
  // Shows the start-up window and opens the database on a worker thread; the
  // start-up then goes on by itself (product list, data load): startupFinished()
  // turns true once the main window is shown.
  void applicationDidFinishLaunching();
  bool startupFinished() const { return startupFinished_; }
  bool storeOpened() const { return storeOpened_; }

  // --- Selection hub (KVRApplicationServices) ---
  KVRVortelyManagedProduct* selectedProduct() override;
  std::vector<KVRVortelyManagedProduct*> selectedProducts() override;
  std::vector<KVRVortelyManagedProduct*> extendedSelectedProducts() override;
  std::vector<KVRStoreAccount*> selectedAccounts() override;
  bool isAccountSelected() override;
  bool shouldUpdateRankings() override;
  void refreshProductsList() override;
  // Saves the database with the saver (setDatabaseSaver), under the context lock.
  bool saveDB(QString* error) override;

  // The financial accounts: the one shared list (KVRFinancialAccounts), copied
  // once from the user default "FinancialAccounts"; the converter's
  // financialAccountWithName reads the same list.
  std::vector<KVRFinancialAccount>& financialAccounts();
  // Selects a segment; 3, the reports tab, brings the financial statements forward.
  void setSelectedTabIndex(int index);
  int selectedTabIndex() const;
  KVRVortelyResumeController* resumeController() const;
  KVRVortelyResumeController* resumeiAdController() const;
  KVRFinancialStatementsController* reportsController() const { return reportsController_; }
  // The financial statements screen's own controller and screen.
  KVRVortelyReportsController* financialController() const { return financialController_.get(); }
  KVRFinancialScreen* financialScreen() const { return financialScreen_; }
  bool isOverviewGraphCombined() const;

  // --- Commands ---
  void printDocument();
  // Export formats 6 to 9 into a folder. Each ends with a message: a notice
  // of what was written where (true), or an alert saying why nothing or not
  // everything was written (false).
  bool exportReportsWithInfos(int format, const QString& folder);
  // File > Export...: asks for the format and the folder, then exports.
  void showExportSheet();

  // --- Empty states ---
  void updateNoAccountView();
  void updateNoProductView();

  // --- Data rebuild (reconciliation, preferred currency) ---
  // Every account's rates and every product's history; with `accounts`, only
  // theirs and the histories they change (a reconciliation).
  void rebuildData(const QString& taskLabel, std::vector<KVRStoreAccount*> accounts = {});
  bool isRebuilding() const { return rebuildTask_ != nullptr; }
  static QString currencySwitchLabel();

  // --- Quit ---
  // Commits edits, covers the window, saves on a background thread under the
  // "Saving database" task, and quits once the save succeeded.
  void requestQuit();
  bool isSaving() const { return saving_; }

  KVRMainWindow* mainWindow() const { return mainWindow_; }
  KVRStartupWindow* startupWindow() const { return startupWindow_; }
  KVRVortelyProductListController* productList() const { return productList_; }
  KVROverviewScreen* overviewScreen() const { return salesScreen_; }
  KVROverviewScreen* iAdOverviewScreen() const { return iAdScreen_; }

 signals:
  void startupDidFinish();

 private:
  // The rest of the start-up, once the database has been opened (or refused).
  void storeDidOpen(bool opened, const QString& path, const QString& error);
  // The file could not be opened, or its integrity check failed after the
  // open: told once the window shows; the application runs on an empty
  // context and never saves over the file.
  void storeNotOpened(const QString& path, const QString& error);
  void buildOverviewScreens();
  void restoreWindowGeometry();
  void saveWindowState();
  void registerObservers();
  void startDataLoad();
  void finishDataLoad();
  void selectionDidChange();
  void postSelectedProductDidChange();
  void updateTaskStatus();
  void setOptionsEnabled(bool enabled);
  // Enables Print and Export as the screen on show has something for them:
  // at once (updateCommandsState), or once the current events are handled
  // (scheduleCommandsState), after the screens have answered a change.
  void updateCommandsState();
  void scheduleCommandsState();
  void alert(const QString& title, const QString& text);
  void runInBackground(std::function<void()> job);
  // Runs fn on the main thread later, unless this controller is gone by then.
  void postToMain(std::function<void()> fn);

  QString storePath_;
  KVRAlertPresenter alertPresenter_;
  KVRAlertPresenter noticePresenter_;
  std::function<bool(QString*)> saver_;
  std::function<void()> quitHandler_;
  bool showsWindows_ = true;

  KVRMainWindow* mainWindow_ = nullptr;
  KVRStartupWindow* startupWindow_ = nullptr;
  KVRVortelyProductListController* productList_ = nullptr;
  KVRFinancialStatementsController* reportsController_ = nullptr;
  std::map<int, PrintHandler> printHandlers_;

  // The two overviews: the iAd one has the sales one as data provider.
  std::unique_ptr<KVRVortelyResumeController> salesController_, iAdController_;
  KVROverviewScreen* salesScreen_ = nullptr;  // owned by the main window
  KVROverviewScreen* iAdScreen_ = nullptr;
  // The financial statements: the controller, the shell's view of it, its screen.
  std::unique_ptr<KVRVortelyReportsController> financialController_;
  std::unique_ptr<KVRFinancialStatementsController> financialBridge_;
  KVRFinancialScreen* financialScreen_ = nullptr;  // owned by the main window

  bool startupFinished_ = false;
  bool storeOpened_ = false;
  bool splitterRestored_ = false;
  std::vector<std::pair<QString, QString>> startupAlerts_;  // title, text
  bool saving_ = false;
  bool rebuildPending_ = false;
  QString pendingRebuildLabel_;
  std::vector<KVRStoreAccount*> pendingRebuildAccounts_;  // empty: every account
  std::shared_ptr<KVRTask> rebuildTask_;

  std::shared_ptr<std::atomic<bool>> alive_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Worker> workers_;
  class QTimer* taskTimer_ = nullptr;
  bool commandsStateScheduled_ = false;
};
