#include "app/KVRMainWindow.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/KVRBusyOverlay.h"
#include "platform/KVRLocalization.h"

KVRMainWindow::KVRMainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QStringLiteral("Vortely"));
  setMinimumSize(900, 560);

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

  // Segmented control: one exclusive group of buttons, ids = segment indexes.
  auto* segmentRow = new QHBoxLayout();
  segmentRow->setSpacing(0);
  segmentRow->addStretch();
  segments_ = new QButtonGroup(this);
  segments_->setExclusive(true);
  const std::pair<int, QString> titles[] = {{0, KVRLocalized("Overview")},
                                            {1, KVRLocalized("Financial Statements")},
                                            {5, KVRLocalized("iAd Overview")}};
  for (const auto& [segment, title] : titles) {
    auto* button = new QToolButton(central);
    button->setObjectName(QStringLiteral("segment%1").arg(segment));
    button->setText(title);
    button->setCheckable(true);
    button->setMinimumWidth(150);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    segments_->addButton(button, segment);
    segmentRow->addWidget(button);
  }
  segmentRow->addStretch();
  column->addLayout(segmentRow);
  connect(segments_, &QButtonGroup::idClicked, this, [this](int segment) {
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
  if (QAbstractButton* b = segments_->button(segment)) b->setChecked(true);
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
  printAction_->setEnabled(enabled);
  exportAction_->setEnabled(enabled);
  quitAction_->setEnabled(enabled);
  for (QAbstractButton* b : segments_->buttons()) b->setEnabled(enabled);
}

void KVRMainWindow::closeEvent(QCloseEvent* event) {
  if (closeAllowed_) {
    event->accept();
    return;
  }
  event->ignore();
  emit quitRequested();
}
