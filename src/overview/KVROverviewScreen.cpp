#include "overview/KVROverviewScreen.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <array>
#include <thread>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"
#include "graphs/KVRFittingLabel.h"
#include "graphs/KVRSplitView.h"
#include "graphs/KVRStockImages.h"
#include "graphs/KVRVortelyCamembertGraphView.h"
#include "graphs/KVRVortelyCounterView.h"
#include "graphs/KVRVortelyGraphView.h"
#include "overview/KVROverviewPeriod.h"
#include "overview/KVRVortelyResumeController.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRMainThread.h"
#include "products/KVRRatingsView.h"

namespace {

const QColor kText(0x1f, 0x25, 0x2d);
const QColor kSecondary(0x6b, 0x74, 0x80);

QFont uiFont(int pixelSize, bool bold = false) {
  QFont f = QApplication::font();
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  return f;
}

template <typename Label = QLabel>
Label* makeLabel(int pixelSize, bool bold, const QColor& color, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* l = new Label;
  l->setFont(uiFont(pixelSize, bold));
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, color);
  l->setPalette(p);
  l->setAlignment(align);
  return l;
}

// A figure's label: shrinks its text to fit, never widens the layout.
KVRFittingLabel* makeFigure(int pixelSize, bool bold, const QColor& color,
                            Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
  return makeLabel<KVRFittingLabel>(pixelSize, bold, color, align);
}

QFrame* makePanel() {
  auto* f = new QFrame;
  f->setObjectName(QStringLiteral("panel"));
  return f;
}

struct ValueItem {
  int tag;
  const char* title;
};
// The value pop-up's items: the sales measures on the sales overview, the ad
// measures on the iAd overview.
const ValueItem kSalesValues[] = {
    {0, "Sales"},           {1, "Upgrades"},         {2, "Downloads"},   {3, "Refunds"},
    {4, "Revenues"},        {5, "Free Sales"},       {6, "Paid Sales"},  {17, "In-App Purchases"},
    {13, "Promo Codes"},    {14, "Gift Redemptions"}, {15, "Gifts"},     {16, "Educational Sales"},
    {18, "New Subscription"}, {19, "Renewal"},
};
const ValueItem kIAdValues[] = {
    {7, "iAd Revenues"}, {8, "eCPM"}, {9, "Requests"}, {10, "Impressions"}, {11, "Fill Rate"}, {12, "CTR"},
};
const ValueItem kPeriods[] = {
    {0, "Day"},      {1, "Week"},     {7, "2 Weeks"}, {2, "Month"}, {8, "Current Month"},
    {3, "3 Months"}, {4, "6 Months"}, {5, "Year"},    {6, "All"},   {-1, "Custom"},
};
const ValueItem kRegions[] = {
    {-1, "All Regions"},    {0, "United States"}, {1, "Europe"},      {2, "Canada"},    {3, "United Kingdom"},
    {4, "Japan"},           {5, "Australia"},     {6, "Rest of World"}, {7, "Mexico"},  {8, "New Zealand"},
    {9, "Norway"},          {10, "Switzerland"},  {11, "China"},      {12, "Denmark"},  {13, "Sweden"},
    {14, "Singapore"},      {15, "Taiwan"},       {16, "Hong Kong"},
};

int indexOfTag(const QComboBox* box, int tag) { return box->findData(tag); }

QStandardItem* itemOfTag(const QComboBox* box, int tag) {
  auto* model = qobject_cast<QStandardItemModel*>(box->model());
  const int i = indexOfTag(box, tag);
  return model && i >= 0 ? model->item(i) : nullptr;
}

const char* kStyle = R"(
KVROverviewScreen { background: #eef1f4; }
QFrame#panel { background: white; border: 1px solid #d9dee4; border-radius: 8px; }
QLabel { background: transparent; border: none; }
QComboBox, QDateEdit { min-height: 24px; padding: 1px 8px; border: 1px solid #c9cfd6; border-radius: 5px; background: white; color: #1f252d; }
QComboBox:disabled, QDateEdit:disabled { color: #a0a7b0; }
)";

}  // namespace

// --- Screen ------------------------------------------------------------------------------

KVROverviewScreen::KVROverviewScreen(KVRVortelyResumeController* controller, KVRApplicationServices* services,
                                     QWidget* parent)
    : QWidget(parent), controller_(controller), services_(services), iAd_(controller && controller->isIAdOverview()) {
  state_.iAd = iAd_;
  state_.currencySymbol = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol();
  graphSource_ = std::make_unique<KVROverviewGraphSource>(&display_, &state_);
  downloadsSource_ = std::make_unique<KVROverviewChartSource>(KVRPartChart::downloads, &display_, &state_,
                                                              &graphAnimatePercent_);
  revenuesSource_ =
      std::make_unique<KVROverviewChartSource>(KVRPartChart::revenues, &display_, &state_, &graphAnimatePercent_);
  auto loading = [this] { return controller_ && controller_->loadingData(); };
  graphSource_->loading = loading;
  graphSource_->generation = [this] { return graphGeneration_; };
  downloadsSource_->loading = loading;
  revenuesSource_->loading = loading;

  setObjectName(iAd_ ? QStringLiteral("iAdOverview") : QStringLiteral("salesOverview"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QString::fromLatin1(kStyle));
  buildUi();

  animationTimer_.setInterval(20);
  connect(&animationTimer_, &QTimer::timeout, this, [this] { animateCamembertNextStep(); });
  updateCamembertViewWithAnimation(false);

  overlay_ = std::make_unique<KVRCalendarOverlayController>();
  overlay_->setDelegate(this);

  if (controller_) controller_->setControls(this);
}

// On show: visible; or, in a window that is not on screen (yet), the page
// that window shows.
bool KVROverviewScreen::isOnShow() const {
  if (isVisible()) return true;
  if (window()->isVisible()) return false;
  for (const QWidget* w = this; w && !w->isWindow(); w = w->parentWidget())
    if (w->isHidden()) return false;
  return true;
}

void KVROverviewScreen::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (controller_ && controller_->controls() == this) controller_->screenDidShow();
}

KVROverviewScreen::~KVROverviewScreen() {
  if (controller_ && controller_->controls() == this) controller_->setControls(nullptr);
  // The views go before the data sources they point to.
  graph_->setDataSource(nullptr);
  downloadsChart_->setDataSource(nullptr);
  revenuesChart_->setDataSource(nullptr);
}

KVRApplicationServices* KVROverviewScreen::services() const {
  return services_ ? services_ : KVRApplicationServices::current();
}

QLabel* KVROverviewScreen::label(const char* outletName) const {
  auto it = labels_.find(QString::fromLatin1(outletName));
  return it == labels_.end() ? nullptr : it->second;
}

void KVROverviewScreen::buildUi() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(14, 12, 14, 12);
  root->setSpacing(10);
  root->addWidget(buildToolbar());

  auto* body = new QHBoxLayout;
  body->setSpacing(10);
  auto* main = new QVBoxLayout;
  main->setSpacing(10);
  main->addWidget(buildSummaryPanel());
  // The curve graph over the part charts, in a split view whose divider keeps
  // the graph at least 200 high and leaves the charts 250.
  auto* split = new KVRConstrainedSplitter(Qt::Vertical);
  split->constrain = [](int proposed, int height) {
    return int(std::lround(KVRVortelyResumeController::constrainSplitPosition(float(proposed), float(height))));
  };
  split->setChildrenCollapsible(false);
  split->setHandleWidth(10);
  split->addWidget(buildGraphPanel());
  split->addWidget(buildChartsPanel());
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  splitView_ = split;
  main->addWidget(split, 1);
  body->addLayout(main, 1);
  body->addWidget(buildBoxesColumn());
  root->addLayout(body, 1);
}

QWidget* KVROverviewScreen::buildToolbar() {
  auto* bar = new QWidget;
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);

  auto* titles = new QVBoxLayout;
  titles->setSpacing(0);
  // A long name is set smaller, then elided in the middle: it never pushes
  // the pop-ups (or the product list) aside.
  KVRFittingLabel* name = makeFigure(20, true, kText);
  name->setMinimumPixelSize(15);
  name->setElidesName(true);
  QLabel* dates = makeLabel(12, false, kSecondary);
  labels_[QStringLiteral("productNameLabel")] = name;
  labels_[QStringLiteral("reportsDatesLabel")] = dates;
  titles->addWidget(name);
  titles->addWidget(dates);
  row->addLayout(titles, 1);

  periodPU_ = new QComboBox;
  for (const ValueItem& p : kPeriods) periodPU_->addItem(KVRLocalized(p.title), p.tag);
  itemOfTag(periodPU_, -1)->setEnabled(false);  // reached through the date pickers
  connect(periodPU_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    const int tag = periodPU_->itemData(index).toInt();
    if (controller_ && tag != -1) controller_->setSelectedPeriod(tag);
  });

  startPicker_ = new QDateEdit;
  endPicker_ = new QDateEdit;
  for (QDateEdit* p : {startPicker_, endPicker_}) {
    p->setDisplayFormat(QStringLiteral("MMM d, yyyy"));
    p->setReadOnly(true);  // dates are chosen in the calendar, never typed
    p->setButtonSymbols(QAbstractSpinBox::NoButtons);
    p->setMinimumWidth(110);
    // A click anywhere on the picker (its text field included) opens the calendar.
    p->installEventFilter(this);
    if (QLineEdit* field = p->findChild<QLineEdit*>()) field->installEventFilter(this);
    p->setSpecialValueText(QStringLiteral("--"));
  }
  QLabel* to = makeLabel(12, false, kSecondary);
  to->setText(KVRLocalized("to"));

  valuePU_ = new QComboBox;
  if (iAd_)
    for (const ValueItem& v : kIAdValues) valuePU_->addItem(KVRLocalized(v.title), v.tag);
  else
    for (const ValueItem& v : kSalesValues) valuePU_->addItem(KVRLocalized(v.title), v.tag);
  connect(valuePU_, qOverload<int>(&QComboBox::activated), this, [this](int) {
    refreshState();
    if (controller_) controller_->changeSelectedValue(selectedValueTag());
  });

  regionPU_ = new QComboBox;
  for (const ValueItem& r : kRegions) regionPU_->addItem(KVRLocalized(r.title), r.tag);
  connect(regionPU_, qOverload<int>(&QComboBox::activated), this, [this](int) {
    if (controller_) controller_->changeFilteredRegion(selectedRegionTag());
  });
  regionPU_->setVisible(!iAd_);  // ad income has no money region

  row->addWidget(valuePU_);
  row->addWidget(regionPU_);
  row->addSpacing(8);
  row->addWidget(periodPU_);
  row->addWidget(startPicker_);
  row->addWidget(to);
  row->addWidget(endPicker_);
  return bar;
}

QWidget* KVROverviewScreen::buildSummaryPanel() {
  auto* panel = makePanel();
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(16, 10, 16, 10);
  row->setSpacing(16);

  auto* counterCol = new QVBoxLayout;
  counterCol->setSpacing(4);
  QLabel* revenues = makeLabel(12, false, kSecondary);
  labels_[QStringLiteral("revenuesLabel")] = revenues;
  counter_ = new KVRVortelyCounterView;
  counter_->setMinimumSize(190, 50);
  counter_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  counterCol->addWidget(revenues);
  counterCol->addWidget(counter_);
  counterCol->addStretch();
  row->addLayout(counterCol, 3);

  auto* metrics = new QGridLayout;
  metrics->setHorizontalSpacing(14);
  metrics->setVerticalSpacing(6);
  struct Metric {
    const char* outlet;
    const char* caption;
  };
  const Metric salesMetrics[] = {{"salesDatesLabel", "Sales"}, {"refundsLabel", "Refunds"},
                                 {"upgradesLabel", "Upgrades"}, {"downloadsLabel", "Downloads"}};
  const Metric adMetrics[] = {{"requestsLabel", "Requests"}, {"impressionsLabel", "Impressions"},
                              {"fillRateLabel", "Fill Rate"}, {"eCPMLabel", "eCPM"}, {"ctrLabel", "CTR"}};
  // Two figures a row (three on the ad overview), each a caption over its value.
  const int columns = iAd_ ? 3 : 2;
  int shown = 0;
  auto addMetric = [&](const Metric& m, bool visible) {
    QLabel* caption = makeLabel(11, false, kSecondary);
    caption->setText(KVRLocalized(m.caption).toUpper());
    KVRFittingLabel* value = makeFigure(17, true, kText);
    value->setText(QStringLiteral("0"));
    labels_[QString::fromLatin1(m.outlet)] = value;
    if (!visible) return;  // kept for the display, not laid out on this overview
    auto* cell = new QVBoxLayout;
    cell->setSpacing(0);
    cell->addWidget(caption);
    cell->addWidget(value);
    metrics->addLayout(cell, shown / columns, shown % columns);
    ++shown;
  };
  for (const Metric& m : salesMetrics) addMetric(m, !iAd_);
  for (const Metric& m : adMetrics) addMetric(m, iAd_);
  for (int c = 0; c < columns; ++c) metrics->setColumnStretch(c, 1);
  row->addLayout(metrics, 3);

  // The evolution: previous span against the compared span. Its figures
  // shrink or go onto rows of their own, never over the badge.
  auto* evo = new QVBoxLayout;
  evo->setSpacing(2);
  QLabel* trend = makeLabel(13, true, kText, Qt::AlignCenter);
  QLabel* evoDates = makeLabel(11, false, kSecondary, Qt::AlignCenter);
  labels_[QStringLiteral("trendLabel")] = trend;
  labels_[QStringLiteral("evolutionDatesLabel")] = evoDates;
  evolution_ = new KVREvolutionView(KVREvolutionStyle::screen);
  evolution_->setObjectName(QStringLiteral("dayVariation"));
  evolution_->setMinimumHeight(56);
  evo->addWidget(trend);
  evo->addWidget(evoDates);
  evo->addWidget(evolution_, 1);
  row->addLayout(evo, 4);
  return panel;
}

QWidget* KVROverviewScreen::buildGraphPanel() {
  auto* panel = makePanel();
  auto* col = new QVBoxLayout(panel);
  col->setContentsMargins(14, 10, 14, 10);
  col->setSpacing(6);
  auto* head = new QHBoxLayout;
  QLabel* caption = makeLabel(14, true, kText);
  labels_[QStringLiteral("graphLabel")] = caption;
  cumulativeControl_ = new KVRSegmentedControl({KVRLocalized("Daily"), KVRLocalized("Cumulative")});
  combineControl_ = new KVRSegmentedControl({KVRLocalized("Combined"), KVRLocalized("By Product")});
  connect(cumulativeControl_, &KVRSegmentedControl::segmentClicked, this, [this](int) {
    refreshState();
    if (controller_) controller_->switchCumulativeView();
    else redrawGraph();
  });
  connect(combineControl_, &KVRSegmentedControl::segmentClicked, this, [this](int) {
    refreshState();
    if (controller_) controller_->switchCombined();
    else redrawGraph();
  });
  head->addWidget(caption, 1);
  head->addWidget(cumulativeControl_);
  head->addSpacing(8);
  head->addWidget(combineControl_);
  col->addLayout(head);
  graph_ = new KVRVortelyGraphView;
  graph_->setKindOfGraph(2);
  graph_->setShowValues(true);
  graph_->setDataSource(graphSource_.get());
  graph_->setMinimumHeight(130);  // the split view keeps the pane at least 200 high
  col->addWidget(graph_, 1);
  return panel;
}

QWidget* KVROverviewScreen::buildChartsPanel() {
  auto* holder = new QWidget;
  auto* row = new QHBoxLayout(holder);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(10);
  auto makeChart = [&](const char* outlet, KVRVortelyCamembertGraphView** chart, KVROverviewChartSource* source,
                       bool green) {
    auto* panel = makePanel();
    auto* col = new QVBoxLayout(panel);
    col->setContentsMargins(14, 10, 14, 10);
    col->setSpacing(4);
    QLabel* caption = makeLabel(14, true, kText);
    labels_[QString::fromLatin1(outlet)] = caption;
    *chart = new KVRVortelyCamembertGraphView;
    (*chart)->setDataSource(source);
    (*chart)->setGreenBars(green);
    (*chart)->setMinimumHeight(150);
    col->addWidget(caption);
    col->addWidget(*chart, 1);
    row->addWidget(panel, 1);
  };
  makeChart("camembertDownloadsLabel", &downloadsChart_, downloadsSource_.get(), false);
  makeChart("camembertRevenuesLabel", &revenuesChart_, revenuesSource_.get(), true);
  label("camembertRevenuesLabel")->setText(iAd_ ? KVRLocalized("iAd Revenues") : KVRLocalized("Revenues"));
  return holder;
}

QWidget* KVROverviewScreen::buildBoxesColumn() {
  auto* column = new QWidget;
  column->setFixedWidth(246);
  auto* col = new QVBoxLayout(column);
  col->setContentsMargins(0, 0, 0, 0);
  col->setSpacing(10);

  auto totalsGrid = [&](const char* salesOutlet, const char* upgradesOutlet, const char* incomeOutlet,
                        const char* symbolOutlet) {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(3);
    const char* captions[] = {"Sales", "Upgrades", "Revenues"};
    const char* outlets[] = {salesOutlet, upgradesOutlet, incomeOutlet};
    for (int i = 0; i < 3; ++i) {
      QLabel* c = makeLabel(12, false, kSecondary);
      c->setText(KVRLocalized(captions[i]));
      KVRFittingLabel* v = makeFigure(13, true, kText, Qt::AlignRight | Qt::AlignVCenter);
      v->setText(QStringLiteral("--"));
      labels_[QString::fromLatin1(outlets[i])] = v;
      grid->addWidget(c, i, 0);
      grid->addWidget(v, i, 1);
    }
    QLabel* symbol = makeLabel(12, false, kSecondary);
    labels_[QString::fromLatin1(symbolOutlet)] = symbol;
    grid->addWidget(symbol, 2, 2);
    grid->setColumnStretch(1, 1);
    return grid;
  };
  auto header = [&](QLabel** icon, const char* nameOutlet, const char* caption) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    *icon = new QLabel;
    (*icon)->setFixedSize(44, 44);
    (*icon)->setScaledContents(true);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    QLabel* cap = makeLabel(10, true, kSecondary);
    cap->setText(KVRLocalized(caption).toUpper());
    QLabel* name = makeLabel(14, true, kText);
    name->setWordWrap(true);
    if (nameOutlet) labels_[QString::fromLatin1(nameOutlet)] = name;
    texts->addWidget(cap);
    texts->addWidget(name);
    row->addWidget(*icon);
    row->addLayout(texts, 1);
    return std::make_pair(row, name);
  };

  // Account box.
  auto* account = makePanel();
  auto* a = new QVBoxLayout(account);
  a->setContentsMargins(14, 12, 14, 12);
  a->setSpacing(8);
  a->addLayout(header(&accountIcon_, "accountNameLabel", "Account").first);
  globalCounter_ = new KVRVortelyCounterView;
  globalCounter_->setMinimumHeight(40);
  a->addWidget(globalCounter_);
  a->addLayout(totalsGrid("accountTotalSalesLabel", "accountTotalUpgradesLabel", "accountTotalIncomeLabel",
                          "accountCurrencySymbol"));
  accountMeanRating_ = new KVRRatingsView;
  accountMeanRating_->setSmallView(true);
  accountMeanRating_->setMinimumHeight(70);
  a->addWidget(accountMeanRating_);
  col->addWidget(account);

  // Product box.
  auto* product = makePanel();
  auto* p = new QVBoxLayout(product);
  p->setContentsMargins(14, 12, 14, 12);
  p->setSpacing(8);
  auto [productHeader, productName] = header(&productIcon_, nullptr, "Product");
  labels_[QStringLiteral("productBoxNameLabel")] = productName;
  p->addLayout(productHeader);
  p->addLayout(totalsGrid("productTotalSalesLabel", "productTotalUpgradesLabel", "productTotalIncomeLabel",
                          "productCurrencySymbol"));
  productMeanRating_ = new KVRRatingsView;
  productMeanRating_->setSmallView(true);
  productMeanRating_->setMinimumHeight(70);
  p->addWidget(productMeanRating_);
  col->addWidget(product);
  col->addStretch();
  return column;
}

void KVROverviewScreen::moveSplitDivider(int proposedPosition) {
  static_cast<KVRConstrainedSplitter*>(splitView_)->moveDivider(proposedPosition);
}

// --- State of the controls --------------------------------------------------------------

void KVROverviewScreen::refreshState() {
  KVROverviewControlState s;
  s.cumulative = cumulativeControl_->selectedSegment() != 0;
  s.perProduct = combineControl_->selectedSegment() != 0;
  s.valueTag = selectedValueTag();
  s.iAd = iAd_;
  s.currencySymbol = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol();
  KVRApplicationServices* app = services();
  s.roundCurrency = app && app->roundCurrencyValues();
  if (s == state_) return;
  state_ = std::move(s);
  ++graphGeneration_;
}

KVROverviewControlState KVROverviewScreen::controlState() const {
  KVROverviewControlState s = state_;
  s.cumulative = cumulativeControl_->selectedSegment() != 0;
  s.perProduct = combineControl_->selectedSegment() != 0;
  s.valueTag = selectedValueTag();
  return s;
}

int KVROverviewScreen::selectedValueTag() const {
  return valuePU_->currentIndex() >= 0 ? valuePU_->currentData().toInt() : (iAd_ ? 7 : 0);
}

void KVROverviewScreen::selectValueTag(int tag) {
  const int i = indexOfTag(valuePU_, tag);
  if (i >= 0) valuePU_->setCurrentIndex(i);
  refreshState();
}

bool KVROverviewScreen::isValueItemEnabled(int tag) const {
  const QStandardItem* item = itemOfTag(valuePU_, tag);
  return item && item->isEnabled();
}

void KVROverviewScreen::setValueItemEnabled(int tag, bool enabled) {
  if (QStandardItem* item = itemOfTag(valuePU_, tag)) item->setEnabled(enabled);
}

bool KVROverviewScreen::isValuePopUpEnabled() const { return valuePU_->isEnabled(); }
void KVROverviewScreen::setValuePopUpEnabled(bool enabled) { valuePU_->setEnabled(enabled); }

int KVROverviewScreen::selectedRegionTag() const {
  return regionPU_->currentIndex() >= 0 ? regionPU_->currentData().toInt() : -1;
}
void KVROverviewScreen::selectFirstRegionItem() { regionPU_->setCurrentIndex(0); }
void KVROverviewScreen::setRegionPopUpEnabled(bool enabled) { regionPU_->setEnabled(enabled); }

void KVROverviewScreen::showPeriodTag(int tag) {
  const int i = indexOfTag(periodPU_, tag);
  if (i >= 0) periodPU_->setCurrentIndex(i);
}
void KVROverviewScreen::setPeriodPopUpEnabled(bool enabled) { periodPU_->setEnabled(enabled); }

int KVROverviewScreen::cumulativeSelectedSegment() const { return cumulativeControl_->selectedSegment(); }
void KVROverviewScreen::selectCumulativeSegment(int segment) {
  cumulativeControl_->setSelectedSegment(segment);
  refreshState();
}
void KVROverviewScreen::setCumulativeSegmentEnabled(int segment, bool enabled) {
  cumulativeControl_->setSegmentEnabled(segment, enabled);
}
void KVROverviewScreen::setCumulativeControlEnabled(bool enabled) { cumulativeControl_->setEnabled(enabled); }

int KVROverviewScreen::combineSelectedSegment() const { return combineControl_->selectedSegment(); }
void KVROverviewScreen::selectCombineSegment(int segment) {
  combineControl_->setSelectedSegment(segment);
  refreshState();
}
void KVROverviewScreen::setCombineSegmentEnabled(int segment, bool enabled) {
  combineControl_->setSegmentEnabled(segment, enabled);
}
void KVROverviewScreen::setCombineControlEnabled(bool enabled) { combineControl_->setEnabled(enabled); }

void KVROverviewScreen::setStartPickerDate(KVRDate date) {
  const QSignalBlocker block(startPicker_);
  startPicker_->setDate(date.isValid() ? KVRCalendar::shared().qDate(date) : startPicker_->minimumDate());
}
void KVROverviewScreen::setEndPickerDate(KVRDate date) {
  const QSignalBlocker block(endPicker_);
  endPicker_->setDate(date.isValid() ? KVRCalendar::shared().qDate(date) : endPicker_->minimumDate());
}
void KVROverviewScreen::setPickersEnabled(bool enabled) {
  startPicker_->setEnabled(enabled);
  endPicker_->setEnabled(enabled);
}

void KVROverviewScreen::setTrendLabel(const QString& text) { label("trendLabel")->setText(text); }
void KVROverviewScreen::setProductNameLabel(const QString& text) {
  label("productNameLabel")->setText(text);
  label("productBoxNameLabel")->setText(text);
}
void KVROverviewScreen::setReportsDatesLabel(const QString& text) { label("reportsDatesLabel")->setText(text); }
void KVROverviewScreen::setRevenuesLabel(const QString& text) { label("revenuesLabel")->setText(text); }
void KVROverviewScreen::setProductCurrencySymbol(const QString& symbol) {
  label("productCurrencySymbol")->setText(symbol);
}
void KVROverviewScreen::setProductTotalIncomeLabel(const QString& text) {
  label("productTotalIncomeLabel")->setText(text);
}
void KVROverviewScreen::setProductTotalSalesLabel(const QString& text) {
  label("productTotalSalesLabel")->setText(text);
}
void KVROverviewScreen::setProductTotalUpgradesLabel(const QString& text) {
  label("productTotalUpgradesLabel")->setText(text);
}

void KVROverviewScreen::redrawGraph() {
  refreshState();
  graph_->update();
}

void KVROverviewScreen::redrawCharts() {
  downloadsChart_->update();
  revenuesChart_->update();
}

void KVROverviewScreen::resetCounter() { counter_->setValue(0, false); }

void KVROverviewScreen::clearCurvesAndCharts() {
  if (printedIsShown_) {
    // The print job takes the complete record over; the screen goes on with
    // a copy of the rest.
    printedDisplay_ = std::move(display_);
    printedIsShown_ = false;
    std::vector<KVROverviewCurve> curves;
    std::array<KVRChartDivision, 4> parts;
    KVROverviewDisplay& full = printedDisplay_;
    std::array<KVRChartDivision*, 4> fullParts = {&full.downloadsPerProduct, &full.revenuesPerProduct,
                                                  &full.downloadsPerCountry, &full.revenuesPerCountry};
    curves.swap(full.curves);
    for (size_t i = 0; i < parts.size(); ++i) std::swap(parts[i], *fullParts[i]);
    display_ = full;
    curves.swap(full.curves);
    for (size_t i = 0; i < parts.size(); ++i) std::swap(parts[i], *fullParts[i]);
  } else {
    display_.curves.clear();
    display_.downloadsPerProduct = KVRChartDivision{};
    display_.revenuesPerProduct = KVRChartDivision{};
    display_.downloadsPerCountry = KVRChartDivision{};
    display_.revenuesPerCountry = KVRChartDivision{};
  }
  ++graphGeneration_;
}

bool KVROverviewScreen::hasPerProductCurves() const { return !display_.curves.empty(); }

// --- Display --------------------------------------------------------------------------------

KVRResumeControls::DisplayBuilder KVROverviewScreen::displayBuilderForLoad() {
  // What the display reads of the main thread, copied now; the load thread
  // builds from the copy.
  refreshState();
  auto prepared = std::make_shared<KVRPreparedOverviewDisplay>();
  prepared->valueTag = selectedValueTag();
  prepared->regionTitle = regionPU_->currentText();
  if (KVRApplicationServices* app = services()) prepared->selectedProducts = app->selectedProducts();
  prepared->roundCurrency = state_.roundCurrency;
  prepared->currencySymbol = state_.currencySymbol;
  const bool iAd = iAd_;
  return [prepared, iAd](const KVRLoadResults& results) {
    KVROverviewInput in = KVROverviewInputFromLoad(results, iAd);
    in.valueTag = prepared->valueTag;
    in.regionTitle = prepared->regionTitle;
    in.selectedProducts = prepared->selectedProducts;
    in.roundCurrency = prepared->roundCurrency;
    in.currencySymbol = prepared->currencySymbol;
    prepared->display = KVRMakeOverviewDisplay(in, &prepared->usedPreviousCurve);
    return prepared;
  };
}

void KVROverviewScreen::displayLoad(const KVRLoadResults& results) {
  refreshState();
  KVROverviewInput in = KVROverviewInputFromLoad(results, iAd_);
  in.valueTag = selectedValueTag();
  in.regionTitle = regionPU_->currentText();
  if (KVRApplicationServices* app = services()) in.selectedProducts = app->selectedProducts();
  in.roundCurrency = state_.roundCurrency;
  in.currencySymbol = state_.currencySymbol;
  const KVRPreparedOverviewDisplay* p = results.prepared.get();
  if (p && !p->usedPreviousCurve && p->valueTag == in.valueTag && p->regionTitle == in.regionTitle &&
      p->selectedProducts == in.selectedProducts && p->roundCurrency == in.roundCurrency &&
      p->currencySymbol == in.currencySymbol) {
    // Built on the load thread from the state still on show: only bound here.
    display_ = std::move(results.prepared->display);
  } else {
    in.previousPointsInCurve = display_.pointsInCurve;
    display_ = KVRMakeOverviewDisplay(in);
  }
  presentDisplay();
  updateBoxes();
  keepPrintJob();
}

void KVROverviewScreen::showDisplay(KVROverviewDisplay display) {
  display_ = std::move(display);
  presentDisplay();
  keepPrintJob();
}

void KVROverviewScreen::presentDisplay() {
  ++graphGeneration_;
  refreshState();
  applyDisplay();
}

void KVROverviewScreen::keepPrintJob() {
  // The record on display is the one printed until the screen clears it.
  printedIsShown_ = true;
  printedDisplay_ = KVROverviewDisplay{};
  printedCaptions_ = printCaptions();
}

KVROverviewPrintJob KVROverviewScreen::printJob() const {
  // The last complete display with the captions it was shown with; only the
  // view's segments, which need no load, are read now.
  KVROverviewPrintJob job{printedIsShown_ ? display_ : printedDisplay_, controlState(), printedCaptions_};
  job.captions.displayView = QStringLiteral("%1, %2")
                                 .arg(cumulativeControl_->labelForSegment(cumulativeControl_->selectedSegment()),
                                      combineControl_->labelForSegment(combineControl_->selectedSegment()));
  return job;
}

KVROverviewPrintJob KVROverviewScreen::printJobAfterRunningLoad(double waitSeconds) {
  if (controller_) {
    controller_->waitForLoads(waitSeconds);
    // The display the last load queued before its thread ended.
    QCoreApplication::sendPostedEvents();
  }
  return printJob();
}

void KVROverviewScreen::applyDisplay() {
  const KVROverviewDisplay& d = display_;
  counter_->setWholeUnits(d.roundCurrency);
  counter_->setValue(d.counterValue, true);
  label("salesDatesLabel")->setText(d.salesText);
  label("refundsLabel")->setText(d.refundsText);
  label("upgradesLabel")->setText(d.upgradesText);
  label("downloadsLabel")->setText(d.downloadsText);
  label("fillRateLabel")->setText(d.fillRateText);
  label("eCPMLabel")->setText(d.eCPMText);
  label("ctrLabel")->setText(d.ctrText);
  label("requestsLabel")->setText(d.requestsText);
  label("impressionsLabel")->setText(d.impressionsText);
  label("camembertDownloadsLabel")->setText(d.chartCaption);
  label("graphLabel")->setText(d.graphCaption);

  evolution_->setTexts(d.evolution);
  label("reportsDatesLabel")->setText(d.reportsDatesText);
  label("evolutionDatesLabel")->setText(d.evolutionDatesText);

  if (controller_) controller_->setMedianValue(d.medianValue);
  graph_->setShowLastDay(d.showLastDay);
  graph_->update();
  updateCamembertViewWithAnimation(true);
}

void KVROverviewScreen::animateCamembertNextStep() {
  graphAnimatePercent_ = KVRNextAnimationStep(graphAnimatePercent_);
  if (graphAnimatePercent_ >= 1.0f) animationTimer_.stop();
  redrawCharts();
}

void KVROverviewScreen::updateCamembertViewWithAnimation(bool animate) {
  if (animate) {
    graphAnimatePercent_ = 0;
    redrawCharts();
    animationTimer_.start();
  } else {
    graphAnimatePercent_ = 1.0f;
    redrawCharts();
  }
}

// --- Boxes -------------------------------------------------------------------------------------

void KVROverviewScreen::updateBoxes() {
  KVRBoxesInput in;
  if (KVRApplicationServices* app = services()) {
    in.extendedProducts = app->extendedSelectedProducts();
    in.selectedProducts = app->selectedProducts();
    in.accounts = app->selectedAccounts();
    in.roundCurrency = app->roundCurrencyValues();
  }
  in.currencySymbol = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol();
  in.ratingsLoaded = KVRVortelyCoreDataManager::sharedInstance().ratingsLoaded();
  boxes_ = KVRMakeBoxesDisplay(in);
  const KVRBoxesDisplay& b = boxes_;

  label("accountNameLabel")->setText(b.accountName);
  QImage accountImage;
  if (!b.accountIconData.isEmpty()) accountImage = QImage::fromData(b.accountIconData);
  if (accountImage.isNull()) accountImage = KVRStockImage(b.accountIconName, QSize(88, 88));
  accountIcon_->setPixmap(QPixmap::fromImage(accountImage));
  label("accountTotalSalesLabel")->setText(b.accountTotalSales);
  label("accountTotalUpgradesLabel")->setText(b.accountTotalUpgrades);
  label("accountTotalIncomeLabel")->setText(b.accountTotalIncome);
  label("accountCurrencySymbol")->setText(b.accountCurrencySymbol);
  globalCounter_->setWholeUnits(b.roundCurrency);
  globalCounter_->setValue(b.globalCounterValue, true);

  const QImage productImage =
      !b.productImage.isNull() ? b.productImage : KVRStockImage(b.productIconName, QSize(88, 88));
  productIcon_->setPixmap(QPixmap::fromImage(productImage));
  label("productTotalSalesLabel")->setText(b.productTotalSales);
  label("productTotalUpgradesLabel")->setText(b.productTotalUpgrades);
  label("productTotalIncomeLabel")->setText(b.productTotalIncome);
  label("productCurrencySymbol")->setText(b.productCurrencySymbol);
  label("revenuesLabel")->setText(b.revenuesLabel);

  if (b.ratingsAvailable) {
    accountMeanRating_->setRatings(std::vector<int>(b.accountRatings.begin(), b.accountRatings.end()),
                                   std::vector<int>(b.accountNewRatings.begin(), b.accountNewRatings.end()));
    productMeanRating_->setRatings(std::vector<int>(b.productRatings.begin(), b.productRatings.end()),
                                   std::vector<int>(b.productNewRatings.begin(), b.productNewRatings.end()));
  } else if (!ratingsRetryPending_) {
    ratingsRetryPending_ = true;
    QTimer::singleShot(1000, this, [this] { loadRatingsDelayed(); });
  }
  KVRVortelyLogCenter::sharedInstance().addLogEntry(QStringLiteral("selectedProductDidChange end"), false,
                                                   QStringLiteral("Resume Controller"));
}

void KVROverviewScreen::loadRatingsDelayed() {
  KVRApplicationServices* app = services();
  if (app && app->shouldUpdateRankings()) {
    ratingsRetryPending_ = false;
    // The load posts KVRVortelyRatingsHaveBeenLoaded, which brings the boxes back.
    std::thread([] { KVRVortelyCoreDataManager::sharedInstance().loadRatings(); }).detach();
    return;
  }
  QTimer::singleShot(1000, this, [this] { loadRatingsDelayed(); });
}

// --- Print captions -----------------------------------------------------------------------------

KVROverviewPrintCaptions KVROverviewScreen::printCaptions() const {
  KVROverviewPrintCaptions c;
  c.displayKind = valuePU_->currentText();
  c.displayLatestPeriod = periodPU_->currentText();
  c.displayRegion = iAd_ ? QString() : regionPU_->currentText();
  c.displayView = QStringLiteral("%1, %2")
                      .arg(cumulativeControl_->labelForSegment(cumulativeControl_->selectedSegment()),
                           combineControl_->labelForSegment(combineControl_->selectedSegment()));
  c.trendLabel = label("trendLabel")->text();
  c.revenuesLabel = label("revenuesLabel")->text();
  KVROverviewPrintSelection selection;
  if (KVRApplicationServices* app = services()) {
    selection.extendedProducts = app->extendedSelectedProducts();
    selection.accounts = app->selectedAccounts();
    selection.isAccountSelected = app->isAccountSelected();
  }
  c.hideByProduct = selection.extendedProducts.size() == 1;
  c.printTitle =
      KVROverviewPrintTitle(KVROverviewPrintSubject(selection), label("evolutionDatesLabel")->text());
  c.kindLabel = label("camembertDownloadsLabel")->text();
  return c;
}

// --- Date pickers ---------------------------------------------------------------------------------

bool KVROverviewScreen::eventFilter(QObject* watched, QEvent* event) {
  QDateEdit* picker = qobject_cast<QDateEdit*>(watched);
  if (!picker && watched && watched->parent()) picker = qobject_cast<QDateEdit*>(watched->parent());
  if (picker && (picker == startPicker_ || picker == endPicker_) && event->type() == QEvent::MouseButtonPress &&
      picker->isEnabled()) {
    // The calendar opens right-aligned, just below the picker.
    const QRectF frameInWindow(QPointF(picker->mapTo(picker->window(), QPoint(0, 0))), QSizeF(picker->size()));
    const QRectF frame =
        KVRCalendarPopoverFrame(frameInWindow, QPointF(picker->mapToGlobal(QPoint(0, 0))), QSizeF(overlay_->frameSize()));
    overlay_->showWithFrame(frame.toRect(), picker);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void KVROverviewScreen::pickerDidChangeDate(QDateEdit* picker, KVRDate date) {
  if (controller_) controller_->pickerDidChangeDate(picker == endPicker_, date);
}
