#include "financial/KVRVortelyFinancialsController.h"

#include <QAbstractTableModel>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSet>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>

#include "core/KVRApplicationServices.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVRFinancialTexts.h"
#include "financial/KVRReportValueTransformers.h"
#include "platform/KVRICUSupport.h"
#include "platform/KVRLocalization.h"

namespace {

struct RegionItem {
  int tag;
  const char* title;
};
const RegionItem kRegions[] = {
    {KVRFinancialsPanel::AllRegions, "All Regions"}, {KVRFinancialsPanel::AU, "Australia"},
    {KVRFinancialsPanel::CA, "Canada"},              {KVRFinancialsPanel::EU, "Europe"},
    {KVRFinancialsPanel::JP, "Japan"},               {KVRFinancialsPanel::GB, "United Kingdom"},
    {KVRFinancialsPanel::US, "United States"},       {KVRFinancialsPanel::WW, "Rest of World"},
    {KVRFinancialsPanel::MX, "Mexico"},              {KVRFinancialsPanel::NZ, "New Zealand"},
    {KVRFinancialsPanel::NO, "Norway"},              {KVRFinancialsPanel::CH, "Switzerland"},
};

const char* kStateTitles[] = {"Estimated", "Pointed", "Reported"};

const char* kStyle = R"(
KVRVortelyFinancialsController { background: #eef1f4; }
QFrame#panel { background: white; border: 1px solid #d9dee4; border-radius: 8px; }
QLabel { background: transparent; border: none; color: #1f252d; }
QLabel#caption { color: #6b7480; }
QLabel#sentence { color: #1f252d; }
QComboBox { min-height: 22px; padding: 1px 8px; border: 1px solid #c9cfd6; border-radius: 5px; background: white; color: #1f252d; }
QComboBox:disabled { color: #a0a7b0; }
QTableView, QTableWidget { border: 1px solid #d9dee4; gridline-color: #eceff2; background: white; alternate-background-color: #f7f9fb; }
QHeaderView::section { background: #f3f5f7; border: none; border-bottom: 1px solid #d9dee4; padding: 3px 6px; color: #333a44; }
)";

// The date picker's display format: the medium date style of the user's
// locale, as the panel's other dates are written (ICU pattern letters read
// the same in Qt, but for a lone "y").
QString mediumDateDisplayFormat() {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = KVRUserLocale();
  locale.setKeywordValue("calendar", "gregorian", status);
  std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, locale));
  auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
  if (!simple) return QStringLiteral("MMM d, yyyy");
  icu::UnicodeString pattern;
  simple->toPattern(pattern);
  QString out = KVRFromUnicodeString(pattern);
  out.replace(QRegularExpression(QStringLiteral("(?<!y)y(?!y)")), QStringLiteral("yyyy"));
  out.replace(QLatin1Char('L'), QLatin1Char('M'));
  return out;
}

QLabel* caption(const QString& text) {
  auto* l = new QLabel(text);
  l->setObjectName(QStringLiteral("caption"));
  return l;
}

QLabel* figureLabel() {
  auto* l = new QLabel(QStringLiteral("--"));
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

QLabel* messageLabel() {
  auto* l = new QLabel;
  l->setWordWrap(true);
  l->setStyleSheet(QStringLiteral("color: #b3261e;"));
  l->hide();
  return l;
}

}  // namespace

// ---------------------------------------------------------------------------
// The lines table's model: the presenter's rows as they are.

class KVRFinancialsLinesModel : public QAbstractTableModel {
 public:
  explicit KVRFinancialsLinesModel(const KVRFinancialsPanel& panel, QObject* parent)
      : QAbstractTableModel(parent), panel_(panel) {}

  void reload() {
    beginResetModel();
    cachedRow_ = -1;
    endResetModel();
  }
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : panel_.lineCount(); }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : KVRVortelyFinancialsController::LineColumnCount;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= panel_.lineCount()) return {};
    using C = KVRVortelyFinancialsController;
    if (role == Qt::TextAlignmentRole) {
      const bool figure = index.column() == C::UnitsColumn || index.column() == C::IncomeColumn ||
                          index.column() == C::ConvertedColumn;
      return QVariant::fromValue(Qt::Alignment(figure ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    // The cells of a row are asked one after the other: its texts are made once.
    if (cachedRow_ != index.row()) {
      cached_ = panel_.lineRow(index.row());
      cachedRow_ = index.row();
    }
    const KVRFinancialsLineRow& r = cached_;
    switch (index.column()) {
      case C::DateColumn: return r.date;
      case C::ProductColumn: return r.product;
      case C::TypeColumn: return r.type;
      case C::CountryColumn: return r.country;
      case C::UnitsColumn: return r.units;
      case C::IncomeColumn: return r.income;
      case C::ConvertedColumn: return r.converted;
      default: return {};
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* titles[] = {"Date", "Product", "Type", "Country", "Units", "Income", "Income (%1)"};
    if (section < 0 || section >= KVRVortelyFinancialsController::LineColumnCount) return {};
    if (section == KVRVortelyFinancialsController::ConvertedColumn)
      return KVRLocalized(titles[section]).arg(KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency());
    return KVRLocalized(titles[section]);
  }

 private:
  const KVRFinancialsPanel& panel_;
  mutable int cachedRow_ = -1;
  mutable KVRFinancialsLineRow cached_;
};

// ---------------------------------------------------------------------------
// Sheets

KVRFinancialsSheet::KVRFinancialsSheet(QWidget* parent, const QString& objectName, const QString& title)
    : QDialog(parent) {
  setObjectName(objectName);
  setWindowTitle(title);
  setWindowModality(Qt::WindowModal);
}

QPushButton* KVRFinancialsSheet::addFooter(QVBoxLayout* layout, const QString& okText) {
  message_ = ::messageLabel();
  layout->addWidget(message_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* cancel = new QPushButton(KVRLocalized("Cancel"));
  ok_ = new QPushButton(okText);
  ok_->setDefault(true);
  buttons->addWidget(cancel);
  buttons->addWidget(ok_);
  layout->addLayout(buttons);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ok_, &QPushButton::clicked, this, &KVRFinancialsSheet::confirmRequested);
  return cancel;
}

void KVRFinancialsSheet::showMessage(const QString& text) {
  message_->setText(text);
  message_->setVisible(!text.isEmpty());
  adjustSize();
}

KVRRealIncomeSheet::KVRRealIncomeSheet(QWidget* parent)
    : KVRFinancialsSheet(parent, QStringLiteral("reportRealIncomeSetPanel"), KVRLocalized("Payment received")) {
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(KVRLocalized("The money of this report was received:"));
  title->setStyleSheet(QStringLiteral("font-weight: bold;"));
  layout->addWidget(title);
  auto* form = new QFormLayout;
  amount_ = new QLineEdit;
  amount_->setObjectName(QStringLiteral("reportRealIncomeValue"));
  amount_->setMinimumWidth(220);
  date_ = new QDateEdit;
  date_->setObjectName(QStringLiteral("reportRealIncomeDatePicker"));
  date_->setCalendarPopup(true);
  date_->setDisplayFormat(mediumDateDisplayFormat());
  account_ = new QComboBox;
  account_->setObjectName(QStringLiteral("reportRealAccountPopup"));
  form->addRow(KVRLocalized("Amount:"), amount_);
  form->addRow(KVRLocalized("Date:"), date_);
  form->addRow(KVRLocalized("Bank account:"), account_);
  layout->addLayout(form);
  cancel_ = addFooter(layout, KVRLocalized("OK"));
}

KVRPartnerCostSheet::KVRPartnerCostSheet(QWidget* parent)
    : KVRFinancialsSheet(parent, QStringLiteral("partnerCostAddPanel"), KVRLocalized("Add a cost or a partner")) {
  auto* layout = new QVBoxLayout(this);
  auto* choice = new QHBoxLayout;
  costChoice_ = new QRadioButton(KVRLocalized("Cost"));
  partnerChoice_ = new QRadioButton(KVRLocalized("Partner"));
  costChoice_->setChecked(true);
  choice->addWidget(costChoice_);
  choice->addWidget(partnerChoice_);
  choice->addStretch();
  layout->addLayout(choice);

  forms_ = new QStackedWidget;
  auto* costPage = new QWidget;
  auto* costForm = new QFormLayout(costPage);
  costLabel_ = new QLineEdit;
  costLabel_->setObjectName(QStringLiteral("costAddLabel"));
  costValue_ = new QLineEdit;
  costValue_->setObjectName(QStringLiteral("costAddValue"));
  costForm->addRow(KVRLocalized("Label:"), costLabel_);
  costForm->addRow(KVRLocalized("Amount:"), costValue_);
  auto* partnerPage = new QWidget;
  auto* partnerForm = new QFormLayout(partnerPage);
  partnerLabel_ = new QLineEdit;
  partnerLabel_->setObjectName(QStringLiteral("partnerAddLabel"));
  partnerValue_ = new QLineEdit;
  partnerValue_->setObjectName(QStringLiteral("partnerAddValue"));
  partnerRoyalties_ = new QLineEdit;
  partnerRoyalties_->setObjectName(QStringLiteral("partnerAddRoyalties"));
  partnerRoyalties_->setPlaceholderText(KVRFinancialPercentText(0.35));  // a share, as stored and shown
  partnerForm->addRow(KVRLocalized("Name:"), partnerLabel_);
  partnerForm->addRow(KVRLocalized("Cost:"), partnerValue_);
  partnerForm->addRow(KVRLocalized("Royalties:"), partnerRoyalties_);
  forms_->addWidget(costPage);
  forms_->addWidget(partnerPage);
  layout->addWidget(forms_);
  connect(costChoice_, &QRadioButton::toggled, this, [this](bool on) { forms_->setCurrentIndex(on ? 0 : 1); });
  addFooter(layout, KVRLocalized("Add"));
}

int KVRPartnerCostSheet::partnerCostAddSelection() const { return costChoice_->isChecked() ? 0 : 1; }

void KVRPartnerCostSheet::setPartnerCostAddSelection(int selection) {
  (selection == 0 ? costChoice_ : partnerChoice_)->setChecked(true);
}

// ---------------------------------------------------------------------------
// The panel

KVRVortelyFinancialsController::KVRVortelyFinancialsController(QWidget* parent, KVRApplicationServices* services,
                                                               KVRFinancialsPanel::AccountsProvider accounts)
    : QWidget(parent),
      panel_(services, KVRVortelyCoreDataManager::sharedInstance(),
             accounts ? std::move(accounts)
                      : KVRFinancialsPanel::AccountsProvider([] { return KVRFinancialAccounts::shared().accounts(); })) {
  setObjectName(QStringLiteral("financialController"));
  setAttribute(Qt::WA_StyledBackground, true);
  setStyleSheet(QString::fromLatin1(kStyle));
  alert_ = [](QWidget* window, const QString& title, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, window);
    box->setInformativeText(text);
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  };

  // The report's state and the partners and costs stand beside the lines, or
  // under them where the lines' columns would not fit beside (placeSidePanel).
  pageLayout_ = new QBoxLayout(QBoxLayout::LeftToRight, this);
  pageLayout_->setContentsMargins(0, 0, 0, 0);
  pageLayout_->setSpacing(10);

  // Left: filters, lines and totals.
  auto* linesPanel = new QFrame;
  linesPanel->setObjectName(QStringLiteral("panel"));
  auto* left = new QVBoxLayout(linesPanel);
  left->setContentsMargins(10, 8, 10, 8);
  auto* filters = new QHBoxLayout;
  periods_ = new QComboBox;
  periods_->setObjectName(QStringLiteral("periodsPopup"));
  periods_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  regions_ = new QComboBox;
  regions_->setObjectName(QStringLiteral("regionsPopup"));
  for (const RegionItem& r : kRegions) regions_->addItem(KVRLocalized(r.title), r.tag);
  reports_ = new QComboBox;
  reports_->setObjectName(QStringLiteral("reportsPopup"));
  reports_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  reports_->setMinimumContentsLength(18);
  filters->addWidget(caption(KVRLocalized("Period:")));
  filters->addWidget(periods_);
  filters->addSpacing(6);
  filters->addWidget(caption(KVRLocalized("Region:")));
  filters->addWidget(regions_);
  filters->addSpacing(6);
  filters->addWidget(caption(KVRLocalized("Report:")));
  filters->addWidget(reports_, 1);
  left->addLayout(filters);

  linesModel_ = new KVRFinancialsLinesModel(panel_, this);
  lines_ = new QTableView;
  lines_->setObjectName(QStringLiteral("reportsTableView"));
  lines_->setModel(linesModel_);
  lines_->setAlternatingRowColors(true);
  lines_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lines_->verticalHeader()->hide();
  lines_->verticalHeader()->setDefaultSectionSize(22);
  lines_->setShowGrid(false);
  lines_->setWordWrap(false);
  QHeaderView* header = lines_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  // The other columns fit their texts (fitLineColumns); the product's name
  // takes what is left, elided, with the whole name in its tooltip.
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setSectionResizeMode(ProductColumn, QHeaderView::Stretch);
  header->setMinimumSectionSize(40);
  lines_->setTextElideMode(Qt::ElideRight);
  connect(header, &QHeaderView::sectionClicked, this, &KVRVortelyFinancialsController::sortByColumn);
  left->addWidget(lines_, 1);

  auto* totals = new QHBoxLayout;
  totalSales_ = figureLabel();
  totalSales_->setObjectName(QStringLiteral("reportsTotalSales"));
  totalUpgrades_ = figureLabel();
  totalUpgrades_->setObjectName(QStringLiteral("reportsTotalUpgrades"));
  totalRevenues_ = figureLabel();
  totalRevenues_->setObjectName(QStringLiteral("reportsTotalRevenues"));
  totals->addWidget(caption(KVRLocalized("Sales:")));
  totals->addWidget(totalSales_);
  totals->addSpacing(16);
  totals->addWidget(caption(KVRLocalized("Upgrades:")));
  totals->addWidget(totalUpgrades_);
  totals->addSpacing(16);
  totals->addWidget(caption(KVRLocalized("Revenues:")));
  totals->addWidget(totalRevenues_);
  totals->addStretch();
  left->addLayout(totals);
  pageLayout_->addWidget(linesPanel, 5);

  // Right: the report's state, the partners and costs.
  side_ = new QFrame;
  side_->setObjectName(QStringLiteral("panel"));
  sideLayout_ = new QBoxLayout(QBoxLayout::TopToBottom, side_);
  sideLayout_->setContentsMargins(10, 8, 10, 8);
  sideLayout_->setSpacing(12);
  auto* right = new QVBoxLayout;
  right->setContentsMargins(0, 0, 0, 0);
  sideLayout_->addLayout(right, 0);
  auto* stateTitle = new QLabel(KVRLocalized("Report state"));
  stateTitle->setStyleSheet(QStringLiteral("font-weight: bold;"));
  right->addWidget(stateTitle);
  auto* cells = new QHBoxLayout;
  stateGroup_ = new QButtonGroup(this);
  for (int tag = 0; tag < 3; ++tag) {
    auto* cell = new QRadioButton(KVRLocalized(kStateTitles[tag]));
    cell->setObjectName(QStringLiteral("reportState%1").arg(tag));
    stateGroup_->addButton(cell, tag);
    cells->addWidget(cell);
  }
  cells->addStretch();
  right->addLayout(cells);
  stateLabel_ = new QLabel;
  stateLabel_->setObjectName(QStringLiteral("sentence"));
  stateLabel_->setWordWrap(true);
  stateLabel_->setMinimumHeight(34);
  stateLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  stateLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  right->addWidget(stateLabel_);
  connect(stateGroup_, &QButtonGroup::idClicked, this, &KVRVortelyFinancialsController::stateChosen);

  right->addStretch();

  right = new QVBoxLayout;
  right->setContentsMargins(0, 0, 0, 0);
  sideLayout_->addLayout(right, 1);
  partnersTitle_ = new QLabel;
  partnersTitle_->setStyleSheet(QStringLiteral("font-weight: bold;"));
  partnersTitle_->setWordWrap(true);
  right->addWidget(partnersTitle_);
  partnersCosts_ = new QTableWidget(0, 4);
  partnersCosts_->setObjectName(QStringLiteral("partnersCosts"));
  partnersCosts_->setHorizontalHeaderLabels(
      {KVRLocalized("Kind"), KVRLocalized("Name"), KVRLocalized("Amount"), KVRLocalized("Royalties")});
  partnersCosts_->verticalHeader()->hide();
  partnersCosts_->verticalHeader()->setDefaultSectionSize(22);
  partnersCosts_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  partnersCosts_->setSelectionMode(QAbstractItemView::NoSelection);
  partnersCosts_->setShowGrid(false);
  partnersCosts_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  partnersCosts_->horizontalHeader()->resizeSection(0, 54);
  partnersCosts_->horizontalHeader()->resizeSection(2, 72);
  partnersCosts_->horizontalHeader()->resizeSection(3, 72);
  partnersCosts_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  right->addWidget(partnersCosts_, 1);
  auto* addRow = new QHBoxLayout;
  addRow->addStretch();
  addPartnerCost_ = new QPushButton(KVRLocalized("Add Cost or Partner..."));
  addPartnerCost_->setObjectName(QStringLiteral("addPartnerCost"));
  addRow->addWidget(addPartnerCost_);
  right->addLayout(addRow);
  pageLayout_->addWidget(side_, 2);
  placeSidePanel();

  connect(periods_, &QComboBox::currentIndexChanged, this, &KVRVortelyFinancialsController::periodChosen);
  connect(regions_, &QComboBox::currentIndexChanged, this, &KVRVortelyFinancialsController::regionChosen);
  connect(reports_, &QComboBox::currentIndexChanged, this, &KVRVortelyFinancialsController::reportChosen);
  connect(addPartnerCost_, &QPushButton::clicked, this, &KVRVortelyFinancialsController::openPartnerCostSheet);
  showAll();
}

KVRVortelyFinancialsController::~KVRVortelyFinancialsController() = default;

void KVRVortelyFinancialsController::selectedProductDidChange() {
  stale_ = true;
  if (isVisible()) refresh();
}

void KVRVortelyFinancialsController::refresh() {
  stale_ = false;
  panel_.selectedProductDidChange();
  showAll();
}

void KVRVortelyFinancialsController::refreshIfPending() {
  if (stale_ && isVisible()) refresh();
}

void KVRVortelyFinancialsController::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // After the events of the show, before its paint: a statement rebuild that
  // waited for the same show refreshes the panel itself, and this then does
  // nothing.
  if (stale_) QMetaObject::invokeMethod(this, &KVRVortelyFinancialsController::refreshIfPending, Qt::QueuedConnection);
}

QAbstractButton* KVRVortelyFinancialsController::reportStateCell(int tag) const { return stateGroup_->button(tag); }

void KVRVortelyFinancialsController::warn(const QString& title, const QString& text) {
  if (alert_) alert_(window(), title, text);
}

// --- Filters and report ----------------------------------------------------

void KVRVortelyFinancialsController::periodChosen(int index) {
  if (updating_ || index < 0 || index >= int(panel_.periodsValues().size())) return;
  panel_.setSelectedPeriod(panel_.periodsValues()[size_t(index)].value);
  showReports();
  showLines();
  showState();
}

void KVRVortelyFinancialsController::regionChosen(int index) {
  if (updating_ || index < 0) return;
  panel_.filterRegion(regions_->itemData(index).toInt());
  showReports();
  showLines();
  showState();
}

void KVRVortelyFinancialsController::reportChosen(int index) {
  if (updating_ || index < 0) return;
  QString error;
  if (!panel_.reportChange(index, &error))
    warn(KVRLocalized("The report state could not be saved"), error);
  showState();
}

void KVRVortelyFinancialsController::stateChosen(int tag) {
  QString error;
  switch (panel_.reportStateChange(tag, &error)) {
    case KVRFinancialsPanel::StateChange::OpenSheet:
      openRealIncomeSheet();
      break;
    case KVRFinancialsPanel::StateChange::Failed:
      warn(KVRLocalized("The report state could not be saved"), error);
      break;
    default:
      break;
  }
  showState();
}

void KVRVortelyFinancialsController::sortByColumn(int column) {
  using S = KVRFinancialsPanel::SortColumn;
  const S wanted = column == DateColumn ? S::Date : column == IncomeColumn ? S::Income : S::None;
  if (wanted == S::None) return;
  const bool ascending = panel_.sortColumn() == wanted ? !panel_.sortAscending() : true;
  panel_.sortLines(wanted, ascending);
  showLines();
}

// --- Sheets ---------------------------------------------------------------------

void KVRVortelyFinancialsController::openRealIncomeSheet() {
  if (!realIncomeSheet_) {
    realIncomeSheet_ = new KVRRealIncomeSheet(window());
    connect(realIncomeSheet_, &KVRRealIncomeSheet::confirmRequested, this,
            &KVRVortelyFinancialsController::confirmRealIncome);
    connect(realIncomeSheet_, &QDialog::rejected, this, [this] { realIncomeSheetDidEnd(QDialog::Rejected); });
  }
  const KVRFinancialsRealIncomeSheet s = panel_.realIncomeSheet(KVRDate(double(QDateTime::currentMSecsSinceEpoch())));
  realIncomeSheet_->accountPopup()->clear();
  realIncomeSheet_->accountPopup()->addItems(s.accounts);
  realIncomeSheet_->datePicker()->setDate(KVRCalendar::shared().qDate(s.date));
  realIncomeSheet_->amountField()->setText(s.amount);
  realIncomeSheet_->amountField()->setPlaceholderText(s.currencySymbol);
  realIncomeSheet_->showMessage(QString());
  realIncomeSheet_->open();
  realIncomeSheet_->amountField()->setFocus();
  realIncomeSheet_->amountField()->selectAll();
}

void KVRVortelyFinancialsController::confirmRealIncome() {
  QString message;
  if (!panel_.reportRealIncomeSetOK(realIncomeSheet_->amountField()->text(),
                                    KVRCalendar::shared().dateFromQDate(realIncomeSheet_->datePicker()->date()),
                                    realIncomeSheet_->accountPopup()->currentText(), &message)) {
    realIncomeSheet_->showMessage(message);
    return;
  }
  realIncomeSheet_->accept();
  realIncomeSheetDidEnd(QDialog::Accepted);
}

void KVRVortelyFinancialsController::realIncomeSheetDidEnd(int result) {
  if (result != QDialog::Accepted) panel_.reportRealIncomeSetCancel();
  showState();
}

void KVRVortelyFinancialsController::openPartnerCostSheet() {
  if (!panel_.canAddPartnerCost()) return;
  if (!partnerCostSheet_) {
    partnerCostSheet_ = new KVRPartnerCostSheet(window());
    connect(partnerCostSheet_, &KVRPartnerCostSheet::confirmRequested, this,
            &KVRVortelyFinancialsController::confirmPartnerCost);
  }
  partnerCostSheet_->showMessage(QString());
  partnerCostSheet_->open();
}

void KVRVortelyFinancialsController::confirmPartnerCost() {
  QString message;
  KVRPartnerCostSheet* s = partnerCostSheet_;
  const bool added = s->partnerCostAddSelection() == 0
                         ? panel_.addCost(s->costLabel()->text(), s->costValue()->text(), &message)
                         : panel_.addPartner(s->partnerLabel()->text(), s->partnerValue()->text(),
                                             s->partnerRoyalties()->text(), &message);
  if (!added) {
    s->showMessage(message);
    return;
  }
  s->accept();
  showPartnersCosts();
}

// --- Showing --------------------------------------------------------------------

void KVRVortelyFinancialsController::showAll() {
  showPeriods();
  showReports();
  showLines();
  showState();
  showPartnersCosts();
}

void KVRVortelyFinancialsController::showPeriods() {
  updating_ = true;
  periods_->clear();
  for (const KVRFinancialsPeriodChoice& p : panel_.periodsValues()) periods_->addItem(p.label);
  if (periods_->count() == 0) periods_->addItem(KVRLocalized("All"));
  periods_->setCurrentIndex(panel_.selectedPeriodIndex());
  regions_->setCurrentIndex(std::max(0, regions_->findData(panel_.regionTag())));
  updating_ = false;
}

void KVRVortelyFinancialsController::showReports() {
  updating_ = true;
  reports_->clear();
  const QStringList titles = panel_.reportTitles();
  reports_->addItems(titles);
  if (titles.isEmpty()) reports_->addItem(KVRLocalized("No financial report"));
  reports_->setEnabled(!titles.isEmpty());
  reports_->setCurrentIndex(std::max(0, panel_.selectedReportIndex()));
  updating_ = false;
}

void KVRVortelyFinancialsController::showLines() {
  linesModel_->reload();
  using S = KVRFinancialsPanel::SortColumn;
  QHeaderView* header = lines_->horizontalHeader();
  if (panel_.sortColumn() == S::None) {
    header->setSortIndicatorShown(false);
  } else {
    header->setSortIndicatorShown(true);
    header->setSortIndicator(panel_.sortColumn() == S::Date ? DateColumn : IncomeColumn,
                             panel_.sortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
  }
  fitLineColumns();
  placeSidePanel();
  totalSales_->setText(panel_.totalSalesText());
  totalUpgrades_->setText(panel_.totalUpgradesText());
  totalRevenues_->setText(panel_.totalRevenuesText());
}

void KVRVortelyFinancialsController::fitLineColumns() {
  QHeaderView* header = lines_->horizontalHeader();
  header->ensurePolished();
  lines_->ensurePolished();
  const std::vector<KVRFinancialsLineRow>& rows = panel_.widestLineRows();
  // Widths in fractions of a pixel, as the view measures a text before eliding it.
  const QFontMetricsF metrics(lines_->font());
  // The item view's text margin on each side.
  const int margins = 2 * (lines_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lines_) + 1);
  for (int column = 0; column < LineColumnCount; ++column) {
    if (column == ProductColumn) continue;
    // The title with room for the sort arrow where a click sorts.
    QStyleOptionHeader title;
    title.initFrom(header);
    title.orientation = Qt::Horizontal;
    title.section = column;
    title.text = linesModel_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    title.fontMetrics = header->fontMetrics();
    title.sortIndicator = column == DateColumn || column == IncomeColumn ? QStyleOptionHeader::SortDown
                                                                         : QStyleOptionHeader::None;
    int width = header->style()->sizeFromContents(QStyle::CT_HeaderSection, &title, QSize(), header).width();
    // The rows share most of their texts (one period's date, one type): each
    // text is measured once.
    QSet<QString> measured;
    measured.reserve(qsizetype(rows.size()));
    for (const KVRFinancialsLineRow& r : rows) {
      const QString* texts[] = {&r.date, &r.product, &r.type, &r.country, &r.units, &r.income, &r.converted};
      const QString& text = *texts[column];
      if (measured.contains(text)) continue;
      measured.insert(text);
      width = std::max(width, int(std::ceil(metrics.horizontalAdvance(text))) + margins);
    }
    header->resizeSection(column, width);
  }
}

void KVRVortelyFinancialsController::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeSidePanel();
}

void KVRVortelyFinancialsController::placeSidePanel() {
  constexpr int kSideWidth = 290, kSideMaximumWidth = 400, kSideHeightBelow = 170;
  constexpr int kProductWidth = 120;  // a short name whole, a long one elided
  // The width the lines need: the fitted columns, the product's name, the
  // table's frame and scroll bar and the panel's margins.
  QHeaderView* header = lines_->horizontalHeader();
  int needed = kProductWidth + 2 * lines_->frameWidth() +
               lines_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, lines_) + 20;
  for (int column = 0; column < LineColumnCount; ++column)
    if (column != ProductColumn) needed += header->sectionSize(column);
  const bool below = width() - kSideWidth - pageLayout_->spacing() < needed;
  if (sidePlaced_ && below == sideBelow_) return;
  sidePlaced_ = true;
  sideBelow_ = below;
  // Under the lines the state and the partners stand side by side, in a strip.
  pageLayout_->setDirection(below ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
  pageLayout_->setStretch(1, below ? 0 : 2);
  sideLayout_->setDirection(below ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
  sideLayout_->setStretch(0, below ? 1 : 0);
  side_->setMinimumWidth(below ? 0 : kSideWidth);
  side_->setMaximumWidth(below ? QWIDGETSIZE_MAX : kSideMaximumWidth);
  side_->setMaximumHeight(below ? kSideHeightBelow : QWIDGETSIZE_MAX);
}

void KVRVortelyFinancialsController::showState() {
  const bool hasReport = panel_.selectedReport() != nullptr;
  for (QAbstractButton* b : stateGroup_->buttons()) b->setEnabled(hasReport);
  stateGroup_->setExclusive(false);
  for (QAbstractButton* b : stateGroup_->buttons()) b->setChecked(stateGroup_->id(b) == panel_.stateTag());
  stateGroup_->setExclusive(true);
  stateLabel_->setText(hasReport ? panel_.stateSentence() : KVRLocalized("No financial report is chosen."));
}

void KVRVortelyFinancialsController::showPartnersCosts() {
  const bool one = panel_.canAddPartnerCost();
  partnersTitle_->setText(one ? KVRLocalized("Partners and costs")
                              : KVRLocalized("Partners and costs: select one product"));
  addPartnerCost_->setEnabled(one);
  const std::vector<KVRFinancialsPartnerCostRow> rows = panel_.partnerCostRows();
  partnersCosts_->setRowCount(int(rows.size()));
  for (int i = 0; i < int(rows.size()); ++i) {
    const KVRFinancialsPartnerCostRow& r = rows[size_t(i)];
    const QString texts[] = {r.kind, r.name, r.amount, r.royalties};
    for (int c = 0; c < 4; ++c) {
      auto* item = new QTableWidgetItem(texts[c]);
      if (c >= 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      partnersCosts_->setItem(i, c, item);
    }
  }
}
