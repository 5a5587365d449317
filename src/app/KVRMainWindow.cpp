#include "app/KVRMainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/KVRBusyOverlay.h"
#include "graphs/KVRSegmentedControl.h"
#include "platform/KVRLocalization.h"

KVRMainWindow::KVRMainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QStringLiteral("Vortely"));
  setMinimumSize(1200, 730);  // the smallest window the screens are laid out for

  QMenu* file = menuBar()->addMenu(KVRLocalized("&File"));
  printAction_ = file->addAction(KVRLocalized("Print..."));
  printAction_->setShortcut(QKeySequence::Print);
  exportAction_ = file->addAction(KVRLocalized("Export..."));
  exportAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
  file->addSeparator();
  quitAction_ = file->addAction(KVRLocalized("Quit Vortely"));
  quitAction_->setShortcut(QKeySequence::Quit);
  quitAction_->setMenuRole(QAction::QuitRole);
  connect(printAction_, &QAction::triggered, this, &KVRMainWindow::printRequested);
  connect(exportAction_, &QAction::triggered, this, &KVRMainWindow::exportRequested);
  connect(quitAction_, &QAction::triggered, this, &KVRMainWindow::quitRequested);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 6, 0, 0);
  column->setSpacing(6);

  // The segmented control of the screens, drawn as one control.
  auto* segmentRow = new QHBoxLayout();
  segmentRow->setSpacing(0);
  segmentRow->addStretch();
  segments_ = new KVRSegmentedControl(
      {KVRLocalized("Overview"), KVRLocalized("Financial Statements"), KVRLocalized("iAd Overview")}, central);
  segments_->setObjectName(QStringLiteral("segments"));
  segments_->setMinimumSegmentWidth(150);
  segmentScreens_ = {0, 1, 5};
  segmentRow->addWidget(segments_);
  segmentRow->addStretch();
  column->addLayout(segmentRow);
  connect(segments_, &KVRSegmentedControl::segmentClicked, this, [this](int index) {
    const int segment = segmentScreens_[size_t(index)];
    selectSegment(segment);
    emit segmentChosen(segment);
  });

  splitter_ = new QSplitter(Qt::Horizontal, central);
  splitter_->setObjectName(QStringLiteral("mainSplitter"));
  splitter_->setChildrenCollapsible(false);
  productTree_ = new QTreeView(splitter_);
  productTree_->setObjectName(QStringLiteral("productList"));
  productTree_->setMinimumWidth(200);
  rightStack_ = new QStackedWidget(splitter_);
  screenStack_ = new QStackedWidget(rightStack_);
  noAccountView_ = makeEmptyView(KVRLocalized("No store account"),
                                 KVRLocalized("Add a store account to download and import your sales reports."));
  noProductView_ = makeEmptyView(KVRLocalized("No product"),
                                 KVRLocalized("Your products appear here once their sales reports are imported."));
  noAccountView_->setObjectName(QStringLiteral("noAccountView"));
  noProductView_->setObjectName(QStringLiteral("noProductView"));
  rightStack_->addWidget(screenStack_);
  rightStack_->addWidget(noAccountView_);
  rightStack_->addWidget(noProductView_);
  splitter_->addWidget(productTree_);
  splitter_->addWidget(rightStack_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({260, 940});
  column->addWidget(splitter_, 1);
  setCentralWidget(central);

  taskLabel_ = new QLabel(this);
  taskLabel_->setObjectName(QStringLiteral("taskStatusLabel"));
  taskProgress_ = new QProgressBar(this);
  taskProgress_->setRange(0, 1000);
  taskProgress_->setMaximumWidth(160);
  taskProgress_->setTextVisible(false);
  statusBar()->addWidget(taskLabel_, 1);
  statusBar()->addPermanentWidget(taskProgress_);
  taskProgress_->hide();

  overlay_ = new KVRBusyOverlay(this);
  // Sees the shortcut overrides of every widget of the window first.
  qApp->installEventFilter(this);
}

bool KVRMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const QKeySequence pressed(key->keyCombination());
  for (QAction* action : {printAction_, exportAction_, quitAction_}) {
    if (!action->isEnabled()) continue;
    for (const QKeySequence& shortcut : action->shortcuts())
      if (shortcut.matches(pressed) == QKeySequence::ExactMatch) {
        // Not taken by the widget: the shortcut goes to the menu's command.
        event->ignore();
        return true;
      }
  }
  return false;
}

QWidget* KVRMainWindow::makeEmptyView(const QString& title, const QString& text) {
  auto* view = new QWidget(rightStack_);
  auto* layout = new QVBoxLayout(view);
  layout->addStretch();
  auto* t = new QLabel(title, view);
  QFont f = t->font();
  f.setPointSizeF(f.pointSizeF() * 1.5);
  f.setBold(true);
  t->setFont(f);
  t->setAlignment(Qt::AlignCenter);
  auto* x = new QLabel(text, view);
  x->setAlignment(Qt::AlignCenter);
  x->setWordWrap(true);
  layout->addWidget(t);
  layout->addWidget(x);
  layout->addStretch();
  return view;
}

void KVRMainWindow::setSegmentPage(int segment, QWidget* page) {
  auto it = pages_.find(segment);
  if (it != pages_.end()) {
    if (it->second == page) return;
    screenStack_->removeWidget(it->second);
    it->second->deleteLater();
  }
  pages_[segment] = page;
  screenStack_->addWidget(page);
  if (segment == selectedSegment_) screenStack_->setCurrentWidget(page);
}

QWidget* KVRMainWindow::segmentPage(int segment) const {
  auto it = pages_.find(segment);
  return it == pages_.end() ? nullptr : it->second;
}

void KVRMainWindow::selectSegment(int segment) {
  if (!pages_.count(segment)) return;
  selectedSegment_ = segment;
  const auto it = std::find(segmentScreens_.begin(), segmentScreens_.end(), segment);
  if (it != segmentScreens_.end()) segments_->setSelectedSegment(int(it - segmentScreens_.begin()));
  screenStack_->setCurrentWidget(pages_[segment]);
}

void KVRMainWindow::setEmptyState(EmptyState state) {
  emptyState_ = state;
  rightStack_->setCurrentWidget(state == NoAccountState   ? noAccountView_
                                : state == NoProductState ? noProductView_
                                                          : static_cast<QWidget*>(screenStack_));
}

void KVRMainWindow::setTaskStatus(const QString& label, float progress) {
  taskLabel_->setText(label);
  taskProgress_->setVisible(!label.isEmpty());
  taskProgress_->setValue(int(progress * 1000.0f));
}

QString KVRMainWindow::taskStatusText() const { return taskLabel_->text(); }

void KVRMainWindow::setCommandsEnabled(bool enabled) {
  commandsEnabled_ = enabled;
  quitAction_->setEnabled(enabled);
  segments_->setEnabled(enabled);
  updateCommandActions();
}

void KVRMainWindow::setPrintAvailable(bool available) {
  printAvailable_ = available;
  updateCommandActions();
}

void KVRMainWindow::setExportAvailable(bool available) {
  exportAvailable_ = available;
  updateCommandActions();
}

void KVRMainWindow::updateCommandActions() {
  printAction_->setEnabled(commandsEnabled_ && printAvailable_);
  exportAction_->setEnabled(commandsEnabled_ && exportAvailable_);
}

void KVRMainWindow::closeEvent(QCloseEvent* event) {
  if (closeAllowed_) {
    event->accept();
    return;
  }
  event->ignore();
  emit quitRequested();
}
