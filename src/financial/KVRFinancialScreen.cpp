#include "financial/KVRFinancialScreen.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPropertyAnimation>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "financial/KVRFinancialWidgets.h"
#include "financial/KVRVortelyFinancialsController.h"
#include "graphs/KVRVortelyBarGraphView.h"
#include "graphs/KVRFittingLabel.h"
#include "graphs/KVRSegmentedControl.h"
#include "platform/KVRLocalization.h"

namespace {

// The page's background (kStyle).
const QColor kPageBackground(0xee, 0xf1, 0xf4);

const char* kStyle = R"(
KVRFinancialScreen { background: #eef1f4; }
QFrame#panel { background: white; border: 1px solid #d9dee4; border-radius: 8px; }
QLabel { background: transparent; border: none; }
QComboBox, QDateEdit, QLineEdit { min-height: 24px; padding: 1px 8px; border: 1px solid #c9cfd6; border-radius: 5px; background: white; color: #1f252d; }
QComboBox:disabled, QDateEdit:disabled, QLineEdit:disabled { color: #a0a7b0; background: #f6f7f9; }
QToolButton[month="true"] { min-width: 30px; min-height: 22px; padding: 1px 4px; border: 1px solid #c9cfd6; border-radius: 4px; background: white; color: #333a44; }
QToolButton[month="true"]:hover { background: #e8f0fa; }
QToolButton[month="true"]:disabled { color: #b0b6be; background: #f3f5f7; }
QToolButton[step="true"] { min-width: 26px; min-height: 22px; border: 1px solid #c9cfd6; border-radius: 4px; background: white; color: #333a44; }
QToolButton[step="true"]:disabled { color: #c4c9d0; background: #f3f5f7; }
QToolButton[month="true"]:focus { border: 2px solid #7fb2e5; padding: 0px 3px; }
QToolButton[step="true"]:focus { border: 2px solid #7fb2e5; }
QTableView { background: white; border: none; }
QHeaderView::section { background: white; border: none; color: #6b7480; font-weight: bold; padding: 2px 6px; }
QPushButton#financialValueReconcileButton, QPushButton#financialValueUnreconcileButton { min-height: 24px; padding: 1px 10px; }
)";

// Covers a widget with the page's colour while it fades in, from opaque to
// clear. The widget below draws as always: drawn through a graphics effect's
// offscreen picture instead, the grid's header came out as a black bar.
class FadeCover : public QWidget {
 public:
  explicit FadeCover(QWidget* covered) : QWidget(covered) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    covered->installEventFilter(this);
    setGeometry(covered->rect());
    raise();
    show();
  }
  // How much of the covered widget shows: 0 none, 1 all of it.
  void setShown(qreal shown) {
    cover_ = std::clamp(1.0 - shown, 0.0, 1.0);
    update();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    if (watched == parentWidget() && event->type() == QEvent::ChildAdded) raise();
    return false;
  }
  void paintEvent(QPaintEvent*) override {
    QColor c = kPageBackground;
    c.setAlphaF(float(cover_));
    QPainter(this).fillRect(rect(), c);
  }

 private:
  qreal cover_ = 1.0;
};

QFrame* makePanel() {
  auto* f = new QFrame;
  f->setObjectName(QStringLiteral("panel"));
  return f;
}

}  // namespace

KVRFinancialScreen::KVRFinancialScreen(KVRVortelyReportsController* controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
  setObjectName(QStringLiteral("financialPage"));
  setAttribute(Qt::WA_StyledBackground, true);
  setStyleSheet(QString::fromLatin1(kStyle));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(10, 8, 10, 8);
  column->setSpacing(8);
  reportsTableViewBox_ = buildOptionsBar();
  // The box: the statement, or the lines of one financial report at a time.
  financialsBox_ = new QWidget;
  financialsBox_->setObjectName(QStringLiteral("financialsBox"));
  auto* box = new QVBoxLayout(financialsBox_);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(6);
  pages_ = new KVRSegmentedControl({KVRLocalized("Statement"), KVRLocalized("Report Lines")});
  pages_->setObjectName(QStringLiteral("financialsPages"));
  pages_->setMinimumSegmentWidth(110);
  pageStack_ = new QStackedWidget;
  pageStack_->addWidget(buildFinancialsBox());
  financialController_ = new KVRVortelyFinancialsController(
      nullptr, controller_ ? controller_->services() : nullptr,
      [controller = controller_] {
        return controller ? controller->financialAccounts() : KVRFinancialAccounts::shared().accounts();
      });
  pageStack_->addWidget(financialController_);
  box->addWidget(pages_, 0, Qt::AlignLeft);
  box->addWidget(pageStack_, 1);
  connect(pages_, &KVRSegmentedControl::segmentClicked, pageStack_, &QStackedWidget::setCurrentIndex);
  column->addWidget(reportsTableViewBox_, 0);
  column->addWidget(financialsBox_, 1);
  if (controller_) {
    controller_->setControls(this);
    controller_->setFinancialController(financialController_);
  }
}

// On show: visible; or, in a window that is not on screen (yet), the page
// that window shows.
bool KVRFinancialScreen::isOnShow() const {
  if (isVisible()) return true;
  if (window()->isVisible()) return false;
  for (const QWidget* w = this; w && !w->isWindow(); w = w->parentWidget())
    if (w->isHidden()) return false;
  return true;
}

void KVRFinancialScreen::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (controller_ && controller_->controls() == this) controller_->screenDidShow();
}

void KVRFinancialScreen::showPage(int page) { pages_->clickSegment(page); }
int KVRFinancialScreen::shownPage() const { return pageStack_->currentIndex(); }

KVRFinancialScreen::~KVRFinancialScreen() {
  if (controller_ && controller_->controls() == this) controller_->setControls(nullptr);
  if (controller_ && controller_->financialController() == financialController_)
    controller_->setFinancialController(nullptr);
  if (revenuesGraph_) revenuesGraph_->setDataSource(nullptr);
}

QWidget* KVRFinancialScreen::buildOptionsBar() {
  QFrame* bar = makePanel();
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(10, 6, 10, 6);
  row->setSpacing(6);

  years_ = new QComboBox;
  years_->setObjectName(QStringLiteral("availableYears"));
  years_->setMinimumWidth(80);
  row->addWidget(years_);
  connect(years_, &QComboBox::activated, this, [this] {
    if (controller_) controller_->selectedYearDidChange();
  });

  months_ = new QButtonGroup(this);
  QLocale locale;
  for (int tag = 0; tag < 12; ++tag) {
    auto* b = new QToolButton;
    b->setText(locale.standaloneMonthName(tag + 1, QLocale::ShortFormat));
    b->setProperty("month", true);
    // Tab reaches the months, the arrow keys go along them (the group's own
    // navigation) and Space presses the one with the focus.
    b->setFocusPolicy(Qt::TabFocus);
    b->setToolTip(locale.standaloneMonthName(tag + 1));
    months_->addButton(b, tag);
    row->addWidget(b);
  }
  connect(months_, &QButtonGroup::idClicked, this, [this](int tag) {
    if (controller_) controller_->jumpToMonth(tag);
  });

  row->addStretch(1);
  previous_ = new QToolButton;
  previous_->setText(QStringLiteral("◀"));
  previous_->setToolTip(KVRLocalized("Previous month"));
  previous_->setProperty("step", true);
  next_ = new QToolButton;
  next_->setText(QStringLiteral("▶"));
  next_->setToolTip(KVRLocalized("Next month"));
  next_->setProperty("step", true);
  previous_->setFocusPolicy(Qt::TabFocus);
  next_->setFocusPolicy(Qt::TabFocus);
  row->addWidget(previous_);
  row->addWidget(next_);
  // The arrow keys go from one to the other; they only move the focus.
  auto* steps = new QButtonGroup(this);
  steps->setExclusive(false);
  steps->addButton(previous_);
  steps->addButton(next_);
  connect(previous_, &QToolButton::clicked, this, [this] {
    if (controller_) controller_->previousMonth();
  });
  connect(next_, &QToolButton::clicked, this, [this] {
    if (controller_) controller_->nextMonth();
  });

  row->addSpacing(12);
  currencyControl_ = new KVRSegmentedControl({QStringLiteral("EUR"), KVRLocalized("Local"), KVRLocalized("Units")});
  currencyControl_->setObjectName(QStringLiteral("currencyControl"));
  row->addWidget(currencyControl_);
  connect(currencyControl_, &KVRSegmentedControl::segmentClicked, this, [this] {
    if (controller_) controller_->currencyControlDidChange();
  });
  bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  return bar;
}

QWidget* KVRFinancialScreen::buildFinancialsBox() {
  auto* box = new QWidget;
  box->setObjectName(QStringLiteral("statementPage"));
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);

  // The grid and, beside it, the year's income per region.
  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  QFrame* gridPanel = makePanel();
  auto* gridColumn = new QVBoxLayout(gridPanel);
  gridColumn->setContentsMargins(6, 6, 6, 6);
  gridColumn->setSpacing(2);
  regionGrid_ = new KVRFinancialGridView(KVRFinancialGridModel::Regions);
  regionGrid_->setObjectName(QStringLiteral("financialGrid"));
  regionGrid_->verticalHeader()->setMinimumSectionSize(18);
  regionGrid_->setMinimumHeight(18 * 18 + 24);
  totalsGrid_ = new KVRFinancialGridView(KVRFinancialGridModel::Totals);
  totalsGrid_->setObjectName(QStringLiteral("financialGridAll"));
  totalsGrid_->setFixedHeight(28);
  auto* separator = new QFrame;
  separator->setFrameShape(QFrame::HLine);
  separator->setStyleSheet(QStringLiteral("color: #d9dee4;"));
  gridColumn->addWidget(regionGrid_, 1);
  gridColumn->addWidget(separator);
  gridColumn->addWidget(totalsGrid_);
  connect(regionGrid_, &KVRFinancialGridView::recordSelected, this, [this](int record) {
    if (controller_) controller_->setSelectedFinancialsValues(KVRIndexSet{record});
  });
  connect(totalsGrid_, &KVRFinancialGridView::recordSelected, this, [this](int record) {
    if (controller_) controller_->setSelectedFinancialsValuesAll(KVRIndexSet{record});
  });
  top->addWidget(gridPanel, 1);

  QFrame* incomesPanel = makePanel();
  incomesPanel->setFixedWidth(420);
  auto* incomes = new QVBoxLayout(incomesPanel);
  incomes->setContentsMargins(10, 8, 10, 8);
  incomes->setSpacing(6);
  incomesTitle_ = new QLabel;
  incomesTitle_->setObjectName(QStringLiteral("incomesTitle"));
  incomesTitle_->setFont(KVRPixelFont(13, true));
  revenuesGraph_ = new KVRVortelyBarGraphView;
  revenuesGraph_->setObjectName(QStringLiteral("revenuesGraph"));
  revenuesGraph_->setMinimumHeight(140);
  revenuesGraph_->setDataSource(controller_);
  regionsModel_ = new KVRRegionsTableModel(
      [this] { return controller_ ? controller_->regionsChart() : KVRFinancialRegionsChart(); }, this);
  revenuesTable_ = new QTableView;
  revenuesTable_->setObjectName(QStringLiteral("revenuesTable"));
  revenuesTable_->setModel(regionsModel_);
  revenuesTable_->setSelectionMode(QAbstractItemView::NoSelection);
  revenuesTable_->setFocusPolicy(Qt::NoFocus);
  revenuesTable_->setShowGrid(false);
  revenuesTable_->horizontalHeader()->hide();
  revenuesTable_->verticalHeader()->hide();
  revenuesTable_->verticalHeader()->setDefaultSectionSize(18);
  revenuesTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  revenuesTable_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  revenuesTable_->setAlternatingRowColors(true);
  revenuesTable_->setStyleSheet(QStringLiteral("QTableView { alternate-background-color: #f5f7fa; }"));
  incomes->addWidget(incomesTitle_);
  incomes->addWidget(revenuesGraph_, 5);
  incomes->addWidget(revenuesTable_, 4);
  top->addWidget(incomesPanel);
  column->addLayout(top, 1);

  // The selected month's details and its trend.
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(8);
  QFrame* detailsPanel = makePanel();
  auto* details = new QVBoxLayout(detailsPanel);
  details->setContentsMargins(0, 0, 0, 0);
  panel_ = new KVRFinancialDetailsPanel;
  details->addWidget(panel_);
  connect(panel_, &KVRFinancialDetailsPanel::reconcileClicked, this, [this] {
    if (controller_) controller_->reconcile();
  });
  connect(panel_, &KVRFinancialDetailsPanel::forcePaymentClicked, this, [this] {
    if (controller_) controller_->forcePayment();
  });
  connect(panel_, &KVRFinancialDetailsPanel::unreconcileClicked, this, [this] {
    if (controller_) controller_->unreconcile();
  });
  connect(panel_, &KVRFinancialDetailsPanel::accountChosen, this, [this] {
    if (controller_) controller_->userDidChangeAccount();
  });
  bottom->addWidget(detailsPanel, 1);
  QFrame* trendPanel = makePanel();
  trendPanel->setFixedWidth(300);
  auto* trend = new QVBoxLayout(trendPanel);
  trend->setContentsMargins(12, 10, 12, 10);
  trendView_ = new KVRFinancialTrendView;
  trend->addWidget(trendView_);
  bottom->addWidget(trendPanel);
  detailsPanel->setFixedHeight(150);
  trendPanel->setFixedHeight(150);
  column->addLayout(bottom, 0);
  return box;
}

QToolButton* KVRFinancialScreen::monthButton(int tag) const {
  return qobject_cast<QToolButton*>(months_->button(tag));
}

// ---------------------------------------------------------------------------
// Controls

int KVRFinancialScreen::selectedCurrencySegment() const { return currencyControl_->selectedSegment(); }
void KVRFinancialScreen::selectCurrencySegment(int segment) { currencyControl_->setSelectedSegment(segment); }
void KVRFinancialScreen::setPreferredCurrencyLabel(const QString& code) {
  currencyControl_->setLabelForSegment(0, code);
}
void KVRFinancialScreen::setTrendLabel(const QString& text) { trendView_->setCaption(text); }

void KVRFinancialScreen::setYears(const std::vector<int>& years, std::optional<int> selected) {
  const QSignalBlocker block(years_);
  years_->clear();
  for (int y : years) years_->addItem(QString::number(y), y);
  if (selected) years_->setCurrentIndex(years_->findData(*selected));
}

std::optional<int> KVRFinancialScreen::selectedYear() const {
  if (years_->currentIndex() < 0) return std::nullopt;
  bool ok = false;
  const int y = years_->currentText().toInt(&ok);
  return ok ? std::optional<int>(y) : std::nullopt;
}

void KVRFinancialScreen::setOptionsEnabled(bool enabled) {
  years_->setEnabled(enabled);
  currencyControl_->setEnabled(enabled);
  for (QAbstractButton* b : months_->buttons()) b->setEnabled(enabled);
}

void KVRFinancialScreen::setMonthButtonsEnabled(bool previous, bool next) {
  previous_->setEnabled(previous);
  next_->setEnabled(next);
}

void KVRFinancialScreen::setReconcileControlsEnabled(bool enabled) { panel_->setReconcileControlsEnabled(enabled); }
void KVRFinancialScreen::setReconcileButtonsEnabled(bool enabled) { panel_->setReconcileButtonsEnabled(enabled); }
QString KVRFinancialScreen::reconcileAmountText() const { return panel_->financialValueReconcileValue()->text(); }
KVRDate KVRFinancialScreen::reconcileDate() const { return panel_->reconcileDate(); }

void KVRFinancialScreen::showGrid(const KVRFinancialGrid& grid) {
  regionGrid_->gridModel()->setGrid(grid);
  totalsGrid_->gridModel()->setGrid(grid);
}

void KVRFinancialScreen::showSelection(const KVRIndexSet& values, const KVRIndexSet& totals) {
  regionGrid_->showSelection(values);
  totalsGrid_->showSelection(totals);
}

void KVRFinancialScreen::showDetails(const KVRFinancialDetailsState& state) { panel_->showDetails(state); }
void KVRFinancialScreen::showTrend(const KVRFinancialTrend& trend) { trendView_->showTrend(trend); }
int KVRFinancialScreen::selectedAccountItem() const {
  return panel_->financialValueReconcileAccount()->currentIndex();
}
void KVRFinancialScreen::setIncomesTitle(const QString& text) { incomesTitle_->setText(text); }
void KVRFinancialScreen::redrawBarChart() { revenuesGraph_->update(); }
void KVRFinancialScreen::reloadRegionTables() { regionsModel_->reload(); }

// ---------------------------------------------------------------------------
// Bringing the financial panel in: the options bar closes up from the whole
// page to its own height while the statement fades in, from half-way.

void KVRFinancialScreen::showFinancialsView() {
  finishAnimations();
  auto* column = static_cast<QVBoxLayout*>(layout());
  const int full = std::max(height() - financialsBox_->minimumSizeHint().height(),
                            reportsTableViewBox_->sizeHint().height());
  const int natural = reportsTableViewBox_->sizeHint().height();
  column->setStretch(0, 1);
  column->setStretch(1, 0);
  reportsTableViewBox_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  // Nothing of the statement shows until its fade begins.
  auto* cover = new FadeCover(financialsBox_);
  fadeCover_ = cover;

  shrink_ = new QPropertyAnimation(reportsTableViewBox_, "maximumHeight", this);
  shrink_->setDuration(400);
  shrink_->setEasingCurve(QEasingCurve::InQuad);
  shrink_->setStartValue(full);
  shrink_->setEndValue(natural);
  fadeIn_ = new QVariantAnimation(this);
  fadeIn_->setDuration(300);
  fadeIn_->setEasingCurve(QEasingCurve::InQuad);
  fadeIn_->setStartValue(0.0);
  fadeIn_->setEndValue(1.0);
  connect(shrink_, &QPropertyAnimation::valueChanged, this, [this] {
    if (fadeIn_ && fadeIn_->state() == QAbstractAnimation::Stopped && fadeIn_->currentTime() == 0 &&
        shrink_->currentTime() >= shrink_->duration() / 2)
      fadeIn_->start();
  });
  connect(shrink_, &QPropertyAnimation::finished, this, [this, column] {
    column->setStretch(0, 0);
    column->setStretch(1, 1);
    reportsTableViewBox_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    reportsTableViewBox_->setMaximumHeight(QWIDGETSIZE_MAX);
    if (fadeIn_ && fadeIn_->state() == QAbstractAnimation::Stopped && fadeIn_->currentTime() == 0) fadeIn_->start();
  });
  connect(fadeIn_, &QVariantAnimation::valueChanged, cover,
          [cover](const QVariant& shown) { cover->setShown(shown.toReal()); });
  connect(fadeIn_, &QVariantAnimation::finished, this, [this] {
    // The cover only served the fade.
    delete fadeCover_;
    fadeCover_ = nullptr;
  });
  shrink_->start();
}

void KVRFinancialScreen::finishAnimations() {
  if (shrink_ && shrink_->state() != QAbstractAnimation::Stopped) shrink_->setCurrentTime(shrink_->duration());
  if (fadeIn_ && fadeIn_->state() == QAbstractAnimation::Stopped && fadeCover_) fadeIn_->start();
  if (fadeIn_ && fadeIn_->state() != QAbstractAnimation::Stopped) fadeIn_->setCurrentTime(fadeIn_->duration());
  if (shrink_) shrink_->deleteLater();
  if (fadeIn_) fadeIn_->deleteLater();
  shrink_ = nullptr;
  fadeIn_ = nullptr;
}
