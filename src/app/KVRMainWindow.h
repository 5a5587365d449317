#pragma once
// The main window: the segmented control of the screens (overview 0,
// financial statements 1, iAd overview 5), the product list on the left of
// the splitter, the selected screen or an empty state on the right, the task
// status line at the bottom, and the File menu (Print..., Export..., Quit).
// Closing the window asks the delegate to quit; it closes only once allowed.
// The menu's shortcuts work wherever the focus is in the window: they win
// over a text field's own key bindings (Ctrl+E in a field exports).
#include <QMainWindow>
#include <map>
#include <vector>

class QAction;
class KVRSegmentedControl;
class QLabel;
class QProgressBar;
class QSplitter;
class QStackedWidget;
class QTreeView;
class KVRBusyOverlay;

class KVRMainWindow : public QMainWindow {
  Q_OBJECT
 public:
  enum EmptyState { NoEmptyState, NoAccountState, NoProductState };

  explicit KVRMainWindow(QWidget* parent = nullptr);

  QTreeView* productTree() const { return productTree_; }
  QSplitter* splitter() const { return splitter_; }
  KVRBusyOverlay* overlay() const { return overlay_; }

  // The screens by segment; a page replaces the one in place (the old one is deleted).
  void setSegmentPage(int segment, QWidget* page);
  QWidget* segmentPage(int segment) const;
  bool hasSegment(int segment) const { return pages_.count(segment) != 0; }
  void selectSegment(int segment);  // no signal
  int selectedSegment() const { return selectedSegment_; }

  void setEmptyState(EmptyState state);
  EmptyState emptyState() const { return emptyState_; }

  // The status line: the label of the running task and its progress; empty hides it.
  void setTaskStatus(const QString& label, float progress);
  QString taskStatusText() const;

  void setCommandsEnabled(bool enabled);
  // Whether the screen on show has something to print or export; Print and
  // Export are enabled only then (and while the commands are enabled).
  void setPrintAvailable(bool available);
  void setExportAvailable(bool available);
  void setCloseAllowed(bool allowed) { closeAllowed_ = allowed; }

  QAction* printAction() const { return printAction_; }
  QAction* exportAction() const { return exportAction_; }
  QAction* quitAction() const { return quitAction_; }
  KVRSegmentedControl* segmentedControl() const { return segments_; }

 signals:
  void segmentChosen(int segment);
  void printRequested();
  void exportRequested();
  void quitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* makeEmptyView(const QString& title, const QString& text);
  void updateCommandActions();

  // The screens' segmented control; its segments in order hold these screens.
  KVRSegmentedControl* segments_;
  std::vector<int> segmentScreens_;
  QSplitter* splitter_;
  QTreeView* productTree_;
  QStackedWidget* rightStack_;
  QStackedWidget* screenStack_;
  QWidget* noAccountView_;
  QWidget* noProductView_;
  QLabel* taskLabel_;
  QProgressBar* taskProgress_;
  KVRBusyOverlay* overlay_;
  QAction* printAction_;
  QAction* exportAction_;
  QAction* quitAction_;
  std::map<int, QWidget*> pages_;
  int selectedSegment_ = 0;
  EmptyState emptyState_ = NoEmptyState;
  bool closeAllowed_ = false;
  bool commandsEnabled_ = true;
  bool printAvailable_ = true;
  bool exportAvailable_ = true;
};
