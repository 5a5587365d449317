#include "financial/KVRFinancialWidgets.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "core/KVRCalendar.h"
#include "graphs/KVREvolutionView.h"
#include "graphs/KVRFittingLabel.h"
#include "platform/KVRLocalization.h"

namespace {

const QColor kText(0x1f, 0x25, 0x2d);
const QColor kSecondary(0x6b, 0x74, 0x80);
const QColor kAccent(0x3b, 0x82, 0xc4);
const QColor kTotalFill(0xe6, 0xed, 0xf5);

QLabel* makeLabel(int pixelSize, bool bold, const QColor& color, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* l = new QLabel;
  l->setFont(KVRPixelFont(pixelSize, bold));
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, color);
  l->setPalette(p);
  l->setAlignment(align);
  return l;
}

}  // namespace

// ---------------------------------------------------------------------------
// Cells

void KVRPaintFinancialCell(QPainter& p, const QRectF& rect, const KVRFinancialValue& v, bool selected, double scale) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  const double pad = std::min(2.0 * scale, rect.height() * 0.08);
  const QRectF box = rect.adjusted(pad, pad, -pad, -pad);
  const double radius = 5.0 * scale;
  const double fontSize = std::min(12.5 * scale, box.height() * 0.7);

  if (v.kind == KVRFinancialCellKind::title) {
    // The region's label.
    p.setPen(kText);
    KVRDrawFittedText(p, box.adjusted(4.0 * scale, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, v.income,
                   KVRPixelFont(fontSize, true));
  } else {
    QColor fill = v.kind == KVRFinancialCellKind::total ? kTotalFill : v.badgeColor.value_or(KVRFinancialGreyColor());
    if (v.kind == KVRFinancialCellKind::empty || v.kind == KVRFinancialCellKind::noData) fill.setAlphaF(fill.alphaF() * 0.55);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(box, radius, radius);

    QRectF textBox = box.adjusted(7.0 * scale, 0, -7.0 * scale, 0);
    if (!v.hidePayment) {
      // The payment mark: a payment of this month (filled) or a month paid
      // with a later payment (ring with an arrow).
      const double d = std::min(box.height() * 0.62, 14.0 * scale);
      const QRectF mark(box.left() + 5.0 * scale, box.center().y() - d / 2, d, d);
      p.setBrush(QColor(255, 255, 255, 200));
      p.setPen(QPen(QColor(0x3a, 0x40, 0x30), 1.2 * scale));
      p.drawEllipse(mark.adjusted(0.5, 0.5, -0.5, -0.5));
      if (v.enablePayment) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x3a, 0x40, 0x30));
        p.drawEllipse(mark.center(), d * 0.22, d * 0.22);
      } else {
        p.setBrush(Qt::NoBrush);
        QPainterPath arrow;
        arrow.moveTo(mark.left() + d * 0.26, mark.center().y());
        arrow.lineTo(mark.right() - d * 0.26, mark.center().y());
        arrow.moveTo(mark.right() - d * 0.46, mark.top() + d * 0.32);
        arrow.lineTo(mark.right() - d * 0.26, mark.center().y());
        arrow.lineTo(mark.right() - d * 0.46, mark.bottom() - d * 0.32);
        p.drawPath(arrow);
      }
      textBox.setLeft(mark.right() + 4.0 * scale);
    }
    const bool missing = v.kind == KVRFinancialCellKind::empty || v.kind == KVRFinancialCellKind::noData;
    p.setPen(missing ? kSecondary : kText);
    KVRDrawFittedText(p, textBox, (missing ? Qt::AlignHCenter : Qt::AlignRight) | Qt::AlignVCenter, v.income,
                   KVRPixelFont(fontSize, v.kind == KVRFinancialCellKind::total));
  }
  if (selected) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kAccent, 2.0 * scale));
    p.drawRoundedRect(box.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
  }
  p.restore();
}

// ---------------------------------------------------------------------------
// Grid model and views

KVRFinancialGridModel::KVRFinancialGridModel(Kind kind, QObject* parent) : QAbstractTableModel(parent), kind_(kind) {
  allLabel_ = grid_.allRegionsTitle();
}

void KVRFinancialGridModel::setGrid(const KVRFinancialGrid& grid) {
  const bool sameShape = grid.values.size() == grid_.values.size() && grid.totals.size() == grid_.totals.size();
  if (!sameShape) beginResetModel();
  grid_ = grid;
  allLabel_ = grid_.allRegionsTitle();
  if (!sameShape) {
    endResetModel();
  } else {
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
  }
}

int KVRFinancialGridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return kind_ == Regions ? int(grid_.values.size()) / KVRFinancialGrid::kColumns : (grid_.totals.empty() ? 0 : 1);
}

int KVRFinancialGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : KVRFinancialGrid::kColumns;
}

int KVRFinancialGridModel::recordIndex(const QModelIndex& index) const {
  if (!index.isValid()) return -1;
  if (kind_ == Regions) return index.row() * KVRFinancialGrid::kColumns + index.column();
  return index.column() >= 1 ? index.column() - 1 : -1;
}

QModelIndex KVRFinancialGridModel::modelIndex(int record) const {
  if (record < 0) return QModelIndex();
  if (kind_ == Regions) return index(record / KVRFinancialGrid::kColumns, record % KVRFinancialGrid::kColumns);
  return record < 3 ? index(0, record + 1) : QModelIndex();
}

const KVRFinancialValue* KVRFinancialGridModel::valueAt(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  if (kind_ == Totals && index.column() == 0) return &allLabel_;
  const int record = recordIndex(index);
  return kind_ == Regions ? grid_.value(record) : grid_.total(record);
}

QVariant KVRFinancialGridModel::data(const QModelIndex& index, int role) const {
  const KVRFinancialValue* v = valueAt(index);
  if (!v) return QVariant();
  switch (role) {
    case Qt::DisplayRole:
      return v->income;
    case Qt::ToolTipRole:
      if (v->kind == KVRFinancialCellKind::title) return v->region;
      return QStringLiteral("%1-%2").arg(v->month, v->region);
    default:
      return QVariant();
  }
}

QVariant KVRFinancialGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  if (section == 0) return kind_ == Regions ? KVRLocalized("Region") : QString();
  return section <= 3 ? grid_.captions[size_t(section - 1)] : QString();
}

Qt::ItemFlags KVRFinancialGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  if (kind_ == Totals && index.column() == 0) return Qt::ItemIsEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void KVRFinancialCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  const auto* model = qobject_cast<const KVRFinancialGridModel*>(index.model());
  const KVRFinancialValue* v = model ? model->valueAt(index) : nullptr;
  if (!v) return;
  KVRPaintFinancialCell(*painter, QRectF(option.rect), *v, option.state & QStyle::State_Selected);
}

KVRFinancialGridView::KVRFinancialGridView(KVRFinancialGridModel::Kind kind, QWidget* parent)
    : QTableView(parent), model_(new KVRFinancialGridModel(kind, this)) {
  setModel(model_);
  setItemDelegate(new KVRFinancialCellDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(kind == KVRFinancialGridModel::Regions ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(kind == KVRFinancialGridModel::Regions ? 21 : 26);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(false);
  if (kind == KVRFinancialGridModel::Totals) horizontalHeader()->hide();
  QPalette pal = palette();
  pal.setColor(QPalette::Base, Qt::white);
  setPalette(pal);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (showing_ || !current.isValid() || !(model_->flags(current) & Qt::ItemIsSelectable)) return;
    emit recordSelected(model_->recordIndex(current));
  });
}

void KVRFinancialGridView::showSelection(const std::set<int>& records) {
  showing_ = true;
  const QModelIndex target = records.empty() ? QModelIndex() : model_->modelIndex(*records.begin());
  if (target.isValid()) {
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
  } else {
    selectionModel()->clearSelection();
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
  showing_ = false;
}

QRect KVRFinancialGridView::cellRect(int record) const { return visualRect(model_->modelIndex(record)); }

void KVRFinancialGridView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  const int rows = model_->kind() == KVRFinancialGridModel::Regions ? 18 : 1;
  verticalHeader()->setDefaultSectionSize(std::max(18, viewport()->height() / rows));
}

// ---------------------------------------------------------------------------
// Regions table

QVariant KVRRegionsTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return QVariant();
  const bool all = KVRFinancialRegionsChart::regionRowOfTableRow(index.row()) == 0;
  if (role == Qt::DisplayRole) {
    const KVRFinancialRegionsChart chart = chart_();
    return index.column() == 0 ? chart.tableLabel(index.row()) : chart.tableIncome(index.row());
  }
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(index.column() == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::FontRole && all) return KVRPixelFont(12, true);
  if (role == Qt::FontRole) return KVRPixelFont(12);
  return QVariant();
}

// ---------------------------------------------------------------------------
// Trend view

KVRFinancialTrendView::KVRFinancialTrendView(bool print, QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(print ? 8 : 4);
  caption_ = makeLabel(print ? 17 : 13, true, kText, Qt::AlignLeft | Qt::AlignVCenter);
  caption_->setObjectName(QStringLiteral("trendLabel"));
  evolution_ = new KVREvolutionView(print ? KVREvolutionStyle::print : KVREvolutionStyle::screen);
  evolution_->setObjectName(print ? QStringLiteral("prDayVariation") : QStringLiteral("dayVariation"));
  column->addWidget(caption_);
  column->addWidget(evolution_, 1);
  showTrend(KVRFinancialTrend());
}

void KVRFinancialTrendView::setCaption(const QString& caption) { caption_->setText(caption); }

void KVRFinancialTrendView::showTrend(const KVRFinancialTrend& t) {
  evolution_->setTexts(t);
}

// ---------------------------------------------------------------------------
// Details panel

KVRFinancialDetailsPanel::KVRFinancialDetailsPanel(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(12, 10, 12, 10);
  column->setSpacing(6);

  auto* head = new QHBoxLayout;
  title_ = makeLabel(15, true, kText);
  title_->setObjectName(QStringLiteral("financialValueTitle"));
  status_ = makeLabel(12, true, kSecondary, Qt::AlignRight | Qt::AlignVCenter);
  status_->setObjectName(QStringLiteral("financialValueStatus"));
  head->addWidget(title_, 1);
  head->addWidget(status_, 1);
  column->addLayout(head);

  auto* incomes = new QHBoxLayout;
  incomes->setSpacing(8);
  incomeCaption_ = makeLabel(11, false, kSecondary);
  incomeCaption_->setText(KVRLocalized("Estimated income:"));
  income_ = makeLabel(14, true, kText);
  income_->setObjectName(QStringLiteral("financialValueIncome"));
  incomeLocalCaption_ = makeLabel(11, false, kSecondary);
  incomeLocalCaption_->setText(KVRLocalized("In local currency:"));
  incomeLocal_ = makeLabel(14, true, kText);
  incomeLocal_->setObjectName(QStringLiteral("financialValueIncomeLocal"));
  incomes->addWidget(incomeCaption_);
  incomes->addWidget(income_);
  incomes->addSpacing(18);
  incomes->addWidget(incomeLocalCaption_);
  incomes->addWidget(incomeLocal_);
  incomes->addStretch(1);
  column->addLayout(incomes);

  auto* controls = new QHBoxLayout;
  controls->setSpacing(6);
  amount_ = new QLineEdit;
  amount_->setObjectName(QStringLiteral("financialValueReconcileValue"));
  amount_->setMinimumWidth(90);
  amount_->setPlaceholderText(KVRLocalized("Amount received"));
  accounts_ = new QComboBox;
  accounts_->setObjectName(QStringLiteral("financialValueReconcileAccount"));
  accounts_->setMinimumWidth(120);
  date_ = new QDateEdit;
  date_->setObjectName(QStringLiteral("financialValueReconcileDate"));
  date_->setCalendarPopup(true);
  date_->setDisplayFormat(QStringLiteral("MMM d, yyyy"));
  unreconcile_ = new QPushButton(KVRLocalized("Unreconcile"));
  unreconcile_->setObjectName(QStringLiteral("financialValueUnreconcileButton"));
  reconcile_ = new QPushButton(KVRLocalized("Reconcile"));
  reconcile_->setObjectName(QStringLiteral("financialValueReconcileButton"));
  reconcile_->setFixedWidth(kReconcileWidth);
  controls->addWidget(amount_, 1);
  controls->addWidget(accounts_, 1);
  controls->addWidget(date_);
  controls->addStretch(0);
  controls->addWidget(unreconcile_);
  controls->addWidget(reconcile_);
  column->addLayout(controls);

  label_ = makeLabel(12, false, kText, Qt::AlignLeft | Qt::AlignTop);
  label_->setObjectName(QStringLiteral("financialValueLabel"));
  label_->setWordWrap(true);
  column->addWidget(label_, 1);

  connect(reconcile_, &QPushButton::clicked, this, [this] {
    if (action_ == KVRDetailsAction::forcePayment) emit forcePaymentClicked();
    else emit reconcileClicked();
  });
  connect(unreconcile_, &QPushButton::clicked, this, &KVRFinancialDetailsPanel::unreconcileClicked);
  connect(accounts_, &QComboBox::activated, this, [this] {
    if (!filling_) emit accountChosen();
  });
  showDetails(KVRFinancialDetailsState());
}

void KVRFinancialDetailsPanel::showDetails(const KVRFinancialDetailsState& s) {
  title_->setText(s.title);
  status_->setText(s.status);
  status_->setVisible(!s.statusHidden);
  QPalette pal = status_->palette();
  QColor c = s.statusColor.isValid() ? s.statusColor : KVRFinancialGreyColor();
  // The badge colours are pale: the status is written in a darker shade of its colour.
  c.setAlphaF(1.0);
  pal.setColor(QPalette::WindowText, c.darker(c.lightness() > 180 ? 190 : 130));
  status_->setPalette(pal);
  label_->setText(s.label);
  income_->setText(s.income);
  incomeLocal_->setText(s.incomeLocal);
  const bool empty = s.title.isEmpty();
  incomeCaption_->setVisible(!empty);
  incomeLocalCaption_->setVisible(!empty);

  auto apply = [](QWidget* w, const KVRFinancialDetailsState::Control& c) {
    w->setVisible(!c.hidden);
    if (c.enabled) w->setEnabled(*c.enabled);
  };
  apply(reconcile_, s.reconcileButton);
  apply(unreconcile_, s.unreconcileButton);
  apply(amount_, s.amountField);
  apply(accounts_, s.accountsPopup);
  apply(date_, s.datePicker);
  if (s.reconcileTitle) reconcile_->setText(*s.reconcileTitle);
  if (s.reconcileAction) action_ = s.reconcileAction;
  if (s.reconcileWidthChange) reconcile_->setFixedWidth(reconcile_->minimumWidth() + s.reconcileWidthChange);
  if (s.accountItems) {
    filling_ = true;
    accounts_->clear();
    for (const KVRAccountItem& item : *s.accountItems) accounts_->addItem(item.title);
    filling_ = false;
  }
  if (s.accountSelection) accounts_->setCurrentIndex(*s.accountSelection);
  if (s.pickerDate) date_->setDate(KVRCalendar::shared().qDate(*s.pickerDate));
  if (s.amountText) amount_->setText(*s.amountText);
  if (s.focusAmountField && amount_->isVisible()) {
    amount_->setFocus(Qt::OtherFocusReason);
    amount_->selectAll();
  }
}

void KVRFinancialDetailsPanel::setReconcileButtonsEnabled(bool enabled) {
  reconcile_->setEnabled(enabled);
  unreconcile_->setEnabled(enabled);
}

KVRDate KVRFinancialDetailsPanel::reconcileDate() const {
  return KVRCalendar::shared().dateFromQDate(date_->date());
}

void KVRFinancialDetailsPanel::setReconcileControlsEnabled(bool enabled) {
  amount_->setEnabled(enabled);
  accounts_->setEnabled(enabled);
  date_->setEnabled(enabled);
}
