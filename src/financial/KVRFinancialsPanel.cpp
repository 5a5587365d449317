#include "financial/KVRFinancialsPanel.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>
#include <mutex>
#include <set>
#include <unordered_set>

#include "core/KVRApplicationServices.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRAmountText.h"
#include "financial/KVRFinancialExports.h"
#include "financial/KVRFinancialTexts.h"
#include "financial/KVRReportValueTransformers.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRVortelyLogCenter.h"

namespace {

const QString kLogKeyword = QStringLiteral("Financials Controller");

void log(const QString& message) { KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, kLogKeyword); }

// A date as the panel writes it (medium style of the user's locale); "--"
// for a missing date.
QString dateText(KVRDate date) {
  if (!date.isValid()) return QStringLiteral("--");
  return KVRReportDateTransformer::transformedValue(date, KVRDate());
}

// The file name a report is known by: its stored name without the developer.
QString reportName(const KVRReport& r) {
  const QString n = KVRReportFileName(r.filename, r.account ? r.account->developer : QString());
  return n.isNull() ? r.filename : n;
}

// The state control's tag for a report's stored status; -1 for none of its states.
int stateTagOf(const KVRReport& r) {
  return r.status >= KVRReportStatusEstimated && r.status <= KVRReportStatusReported ? r.status : -1;
}

}  // namespace

KVRFinancialsPanel::KVRFinancialsPanel()
    : KVRFinancialsPanel(nullptr, KVRVortelyCoreDataManager::sharedInstance(),
                         [] { return KVRFinancialAccounts::shared().accounts(); }) {}

KVRFinancialsPanel::KVRFinancialsPanel(KVRApplicationServices* services, KVRVortelyCoreDataManager& dataManager,
                                       AccountsProvider accounts)
    : services_(services), dm_(dataManager), accounts_(std::move(accounts)) {}

// ---------------------------------------------------------------------------
// Refresh

void KVRFinancialsPanel::selectedProductDidChange() {
  log(QStringLiteral("selectedProductDidChange start"));
  KVRApplicationServices* app = services_ ? services_ : KVRApplicationServices::current();
  products_ = app ? app->extendedSelectedProducts() : std::vector<KVRVortelyManagedProduct*>();
  product_ = app ? app->selectedProduct() : nullptr;
  {
    std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
    reports_.clear();
    std::unordered_set<const KVRReport*> seen;
    for (KVRVortelyManagedProduct* p : products_)
      for (KVRReport* r : p->financialReports())
        if (seen.insert(r).second) reports_.push_back(r);

    // One period per begin date; the first report met gives its end date.
    std::map<double, KVRDate> ends;
    for (const KVRReport* r : reports_)
      if (r->beginDate.isValid()) ends.emplace(r->beginDate.ms, r->endDate);
    periods_.clear();
    periods_.push_back({KVRLocalized("All"), allPeriods()});
    for (const auto& [begin, end] : ends)
      periods_.push_back({end.isValid() ? QStringLiteral("%1-%2").arg(dateText(KVRDate(begin)), dateText(end))
                                        : dateText(KVRDate(begin)),
                          KVRDate(begin)});
  }
  // A period no longer offered falls back to all periods.
  if (selectedPeriodIndex() == 0) selectedPeriod_ = KVRDate();
  updateReportEntries();
  log(QStringLiteral("selectedProductDidChange end"));
}

// ---------------------------------------------------------------------------
// Filters

void KVRFinancialsPanel::setSelectedPeriod(KVRDate period) {
  if (period == selectedPeriod_) return;
  selectedPeriod_ = period;
  updateReportEntries();
}

int KVRFinancialsPanel::selectedPeriodIndex() const {
  if (!selectedPeriod_.isValid() || selectedPeriod_ == allPeriods()) return 0;
  for (size_t i = 1; i < periods_.size(); ++i)
    if (periods_[i].value == selectedPeriod_) return int(i);
  return 0;
}

QString KVRFinancialsPanel::regionCodeForTag(int tag) {
  static const char* const codes[] = {"", "AU", "CA", "EU", "JP", "GB", "US", "WW", "MX", "NZ", "NO", "CH"};
  if (tag < 1 || tag > CH) return QString(u""_qs);
  return QString::fromLatin1(codes[tag]);
}

void KVRFinancialsPanel::filterRegion(int tag) {
  regionTag_ = tag;
  updateReportEntries();
}

void KVRFinancialsPanel::updateReportEntries() {
  const QString region = regionCodeForTag(regionTag_);
  const bool allPeriodsShown = !selectedPeriod_.isValid() || selectedPeriod_ == allPeriods();
  {
    std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
    filteredReports_.clear();
    for (KVRReport* r : reports_) {
      if (!region.isEmpty()) {
        const qsizetype dot = r->filename.lastIndexOf(QLatin1Char('.'));
        const QStringView stem = QStringView(r->filename).left(dot < 0 ? r->filename.size() : dot);
        if (!stem.endsWith(region)) continue;
      }
      if (!allPeriodsShown && r->beginDate != selectedPeriod_) continue;
      filteredReports_.push_back(r);
    }
    // By begin date, then name. The names and titles are kept from one
    // refresh to the next while the report's name and dates stay.
    struct Keyed {
      double begin;
      const ReportTexts* texts;
      KVRReport* report;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(filteredReports_.size());
    for (KVRReport* r : filteredReports_)
      keyed.push_back({r->beginDate.isValid() ? r->beginDate.ms : -INFINITY, &textsOf(r), r});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
      if (a.begin != b.begin) return a.begin < b.begin;
      if (a.texts->name != b.texts->name) return a.texts->name < b.texts->name;
      return a.report->objectID < b.report->objectID;
    });
    reportTitles_.clear();
    reportTitles_.reserve(qsizetype(keyed.size()));
    for (size_t i = 0; i < keyed.size(); ++i) {
      filteredReports_[i] = keyed[i].report;
      reportTitles_ << keyed[i].texts->title;
    }
    gatherRows();
  }
  sortLines(sortColumn_, sortAscending_);
  reportChange(filteredReports_.empty() ? -1 : 0);
}

const KVRFinancialsPanel::ReportTexts& KVRFinancialsPanel::textsOf(const KVRReport* r) {
  ReportTexts& t = reportTexts_[r];
  const double begin = r->beginDate.isValid() ? r->beginDate.ms : NAN, end = r->endDate.isValid() ? r->endDate.ms : NAN;
  const QString developer = r->account ? r->account->developer : QString();
  const bool same = !t.title.isNull() && t.filename == r->filename && t.account == r->account && t.developer == developer &&
                    (t.begin == begin || (std::isnan(t.begin) && std::isnan(begin))) &&
                    (t.end == end || (std::isnan(t.end) && std::isnan(end)));
  if (!same) {
    t.filename = r->filename;
    t.account = r->account;
    t.developer = developer;
    t.begin = begin;
    t.end = end;
    t.name = reportName(*r);
    t.title = QStringLiteral("%1 (%2)").arg(t.name, KVRReportDateTransformer::transformedValue(*r));
  }
  return t;
}

// The lines of the filtered reports that belong to the selected products,
// with the totals. A line belongs to one report and the reports are listed
// once, so no line comes twice. The conversions are those of the rates on
// hand when the refresh starts, looked up by currency index. Under the
// context lock.
void KVRFinancialsPanel::gatherRows() {
  const KVRPreferredRatesRef rates = KVRVortelyCurrencyConverter::sharedInstance().preferredRates();
  KVRCurrencyIndexCache currencies(*rates);
  const std::unordered_set<const KVRVortelyManagedProduct*> selected(products_.begin(), products_.end());
  lines_.clear();
  widestEntries_.clear();
  widestKnown_ = false;
  sales_ = upgrades_ = 0;
  revenue_ = 0;
  size_t count = 0;
  for (const KVRReport* r : filteredReports_) count += r->entries.size();
  lines_.reserve(count);
  const KVRVortelyManagedProduct* lastProduct = nullptr;
  // The widest texts, in the same pass: one line of each period, type and
  // country, the lines of the fewest and most units, and of the smallest and
  // largest amount in each currency. Most lines repeat the period, type,
  // country and currency of the line before them, so the look-ups are few.
  std::map<std::pair<double, double>, int> periods;
  std::map<int, int> types;
  std::unordered_map<QString, int> countries;
  std::unordered_map<QString, std::pair<int, int>> amounts;  // currency -> smallest, largest
  // The codes are shared strings: a string met before is looked up by its
  // address, without hashing its text.
  std::unordered_set<const QChar*> countryStrings;
  std::unordered_map<const QChar*, std::pair<int, int>*> currencyStrings;
  int fewest = 0, most = 0;
  auto ms = [](KVRDate d) { return d.isValid() ? d.ms : -INFINITY; };
  // The same text, most often the same shared string.
  auto same = [](const QString& a, const QString& b) {
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
  };
  const KVRReportEntry* previous = nullptr;
  std::pair<int, int>* range = nullptr;
  for (const KVRReport* r : filteredReports_) {
    for (KVRReportEntry* e : r->entries) {
      if (!e->product) continue;
      if (e->product != lastProduct) {
        if (!selected.count(e->product)) continue;
        lastProduct = e->product;
      }
      const float v = rates->convert(double(e->income), currencies.of(e->currency));
      const int n = e->count;
      switch (e->type) {
        case KVREntryTypeSale:
          sales_ += n;
          revenue_ += float(n) * v / 100.0f;
          break;
        case KVREntryTypeUpgrade:
          upgrades_ += n;
          break;
        case KVREntryTypeRefund:
          revenue_ += float(n) * v / 100.0f;
          break;
        case KVREntryTypeInAppPurchase:
          revenue_ += float(n) * v / 100.0f;
          if (n > 0) sales_ += n;
          break;
        default:
          break;
      }
      const int i = int(lines_.size());
      const float amount = KVRIncomeForCompare(*e);
      lines_.push_back({e, e->beginDate.isValid() ? e->beginDate.ms : -INFINITY, amount});

      if (!previous || ms(previous->beginDate) != ms(e->beginDate) || ms(previous->endDate) != ms(e->endDate))
        periods.try_emplace(std::pair{ms(e->beginDate), ms(e->endDate)}, i);
      if (!previous || previous->type != e->type) types.try_emplace(e->type, i);
      if ((!previous || !same(previous->country, e->country)) && countryStrings.insert(e->country.constData()).second)
        countries.try_emplace(e->country, i);
      if (!previous || !same(previous->currency, e->currency)) {
        std::pair<int, int>*& known = currencyStrings[e->currency.constData()];
        if (!known) known = &amounts.try_emplace(e->currency, std::pair{i, i}).first->second;
        range = known;
      }
      if (amount < lines_[size_t(range->first)].incomeForCompare) range->first = i;
      if (amount > lines_[size_t(range->second)].incomeForCompare) range->second = i;
      if (e->count < lines_[size_t(fewest)].entry->count) fewest = i;
      if (e->count > lines_[size_t(most)].entry->count) most = i;
      previous = e;
    }
  }
  if (lines_.empty()) return;
  std::set<int> chosen = {fewest, most};
  for (const auto& [period, i] : periods) chosen.insert(i);
  for (const auto& [type, i] : types) chosen.insert(i);
  for (const auto& [country, i] : countries) chosen.insert(i);
  for (const auto& [currency, range] : amounts) chosen.insert({range.first, range.second});
  widestEntries_.reserve(chosen.size());
  for (int i : chosen) widestEntries_.push_back(lines_[size_t(i)].entry);
}

KVRFinancialsLineRow KVRFinancialsPanel::lineRow(int index) const {
  KVRFinancialsLineRow row;
  if (index < 0 || index >= int(lines_.size())) return row;
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  return rowOf(*lines_[size_t(index)].entry);
}

KVRFinancialsLineRow KVRFinancialsPanel::rowOf(const KVRReportEntry& e) {
  KVRFinancialsLineRow row;
  row.date = KVRReportDateTransformer::transformedValue(e);
  row.product = e.product ? e.product->name : QString();
  row.type = KVRDownloadTypeTransformer::transformedValue(e.type);
  row.country = e.country;
  row.units = KVRFinancialDecimalText(e.count);
  row.income = KVRReportIncomeTransformer::transformedValue(e);
  row.converted = KVRReportConvertIncomeTransformer::transformedValue(e);
  return row;
}

const std::vector<KVRFinancialsLineRow>& KVRFinancialsPanel::widestLineRows() const {
  // Once per gathering: sorting changes the order, not the texts.
  if (widestKnown_) return widest_;
  widestKnown_ = true;
  widest_.clear();
  if (widestEntries_.empty()) return widest_;
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  widest_.reserve(widestEntries_.size());
  for (const KVRReportEntry* e : widestEntries_) widest_.push_back(rowOf(*e));
  return widest_;
}

void KVRFinancialsPanel::sortLines(SortColumn column, bool ascending) {
  sortColumn_ = column;
  sortAscending_ = ascending;
  if (column == SortColumn::None) return;
  auto key = [column](const Line& l) { return column == SortColumn::Income ? double(l.incomeForCompare) : l.beginDate; };
  std::stable_sort(lines_.begin(), lines_.end(), [&](const Line& a, const Line& b) {
    return ascending ? key(a) < key(b) : key(b) < key(a);
  });
}

QString KVRFinancialsPanel::totalSalesText() const { return KVRFinancialDecimalText(sales_); }

QString KVRFinancialsPanel::totalUpgradesText() const { return KVRFinancialDecimalText(upgrades_); }

QString KVRFinancialsPanel::totalRevenuesText() const {
  return KVRFinancialAmountText(revenue_, KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol());
}

// ---------------------------------------------------------------------------
// Report and state

KVRReport* KVRFinancialsPanel::selectedReport() const {
  return selectedReport_ >= 0 && selectedReport_ < int(filteredReports_.size()) ? filteredReports_[size_t(selectedReport_)]
                                                                                : nullptr;
}

bool KVRFinancialsPanel::reportChange(int index, QString* error) {
  selectedReport_ = index >= 0 && index < int(filteredReports_.size()) ? index : -1;
  KVRReport* r = selectedReport();
  if (!r) {
    stateTag_ = -1;
    stateSentence_.clear();
    return true;
  }
  bool saved = true;
  {
    std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
    if (r->status == KVRReportStatusNotConverted)
      saved = dm_.saveReportState(
          r, {KVRReportStatusEstimated, dm_.incomeValueForReport(r), r->pointedDate, r->pointedAccount}, error);
    stateTag_ = stateTagOf(*r);
  }
  updateReportState();
  return saved;
}

const std::vector<KVRFinancialsStatusValue>& KVRFinancialsPanel::statusValues() {
  static const std::vector<KVRFinancialsStatusValue> values = {
      {QStringLiteral("estimated"), 0}, {QStringLiteral("pointed"), 1}, {QStringLiteral("reported"), 2}};
  return values;
}

QString KVRFinancialsPanel::stateSentenceFor(const KVRReport& report, int tag) {
  const QString symbol = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol();
  const QString amount = KVRFinancialAmountNumber(report.pointedIncome);
  switch (tag) {
    case 0: return KVRLocalized("Estimated revenues for this report: %1 %2").arg(amount, symbol);
    case 1:
      return KVRLocalized("Pointed revenues for this report: %1 %2\nOn account %3, on %4")
          .arg(amount, symbol, report.pointedAccount.isEmpty() ? QStringLiteral("--") : report.pointedAccount,
               dateText(report.pointedDate));
    case 2: return KVRLocalized("This report revenues have been reported. Estimated revenues: %1 %2").arg(amount, symbol);
    default: return QString();
  }
}

void KVRFinancialsPanel::updateReportState() {
  const KVRReport* r = selectedReport();
  if (!r) return;
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  const QString sentence = stateSentenceFor(*r, stateTag_);
  if (!sentence.isNull()) stateSentence_ = sentence;
}

KVRFinancialsPanel::StateChange KVRFinancialsPanel::reportStateChange(int tag, QString* error) {
  KVRReport* r = selectedReport();
  if (!r || tag < KVRReportStatusEstimated || tag > KVRReportStatusReported) return StateChange::Nothing;
  if (tag == KVRReportStatusPointed) {
    stateTag_ = tag;
    return StateChange::OpenSheet;
  }
  bool saved = true;
  {
    std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
    if (r->status != tag) saved = dm_.saveReportState(r, {tag, r->pointedIncome, r->pointedDate, r->pointedAccount}, error);
    stateTag_ = stateTagOf(*r);
  }
  updateReportState();
  return saved ? StateChange::Stored : StateChange::Failed;
}

KVRFinancialsRealIncomeSheet KVRFinancialsPanel::realIncomeSheet(KVRDate today) const {
  KVRFinancialsRealIncomeSheet sheet;
  for (const KVRFinancialAccount& a : accounts_ ? accounts_() : std::vector<KVRFinancialAccount>()) sheet.accounts << a.Label;
  if (sheet.accounts.isEmpty()) sheet.accounts << QStringLiteral("--");
  sheet.date = today;
  sheet.currencySymbol = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrencySymbol();
  if (const KVRReport* r = selectedReport()) {
    std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
    if (r->pointedIncome >= 0) sheet.amount = KVRFinancialAmountNumber(r->pointedIncome) + QLatin1Char(' ') + sheet.currencySymbol;
  }
  return sheet;
}

bool KVRFinancialsPanel::reportRealIncomeSetOK(const QString& typed, KVRDate date, const QString& accountLabel,
                                               QString* message) {
  auto refuse = [&](const QString& why) {
    if (message) *message = why;
    return false;
  };
  KVRReport* r = selectedReport();
  if (!r) return refuse(KVRLocalized("No report is chosen."));
  const KVRAmountReading amount = KVRReadAmountText(typed, KVRAmountKind::received);
  if (!amount.ok()) return refuse(amount.error);
  QString error;
  {
    std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
    if (!dm_.saveReportState(r, {KVRReportStatusPointed, float(*amount.value), date, accountLabel}, &error))
      return refuse(KVRLocalized("The payment could not be saved: %1").arg(error));
  }
  stateTag_ = KVRReportStatusPointed;
  updateReportState();
  return true;
}

void KVRFinancialsPanel::reportRealIncomeSetCancel() {
  if (const KVRReport* r = selectedReport()) {
    std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
    stateTag_ = stateTagOf(*r);
  }
  updateReportState();
}

// ---------------------------------------------------------------------------
// Partners and costs

bool KVRFinancialsPanel::canAddPartnerCost() const { return product_ != nullptr; }

std::vector<KVRFinancialsPartnerCostRow> KVRFinancialsPanel::partnerCostRows() const {
  std::vector<KVRFinancialsPartnerCostRow> rows;
  if (!product_) return rows;
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  for (const KVRCost* c : product_->costs) rows.push_back({KVRLocalized("Cost"), c->name, KVRFinancialAmountNumber(c->value), QString()});
  for (const KVRPartner* p : product_->partners)
    rows.push_back({KVRLocalized("Partner"), p->name, KVRFinancialAmountNumber(p->cost), KVRFinancialDecimalText(p->royalties)});
  return rows;
}

bool KVRFinancialsPanel::addCost(const QString& name, const QString& valueText, QString* message) {
  auto refuse = [&](const QString& why) {
    if (message) *message = why;
    return false;
  };
  if (!product_) return refuse(KVRLocalized("Select one product to add a cost to it."));
  if (name.trimmed().isEmpty()) return refuse(KVRLocalized("Type a name for the cost."));
  const KVRAmountReading value = KVRReadAmountText(valueText, KVRAmountKind::cost);
  if (!value.ok()) return refuse(value.error);
  QString error;
  if (!dm_.addCost(product_, name.trimmed(), *value.value, &error))
    return refuse(KVRLocalized("The cost could not be saved: %1").arg(error));
  return true;
}

bool KVRFinancialsPanel::addPartner(const QString& name, const QString& costText, const QString& royaltiesText,
                                    QString* message) {
  auto refuse = [&](const QString& why) {
    if (message) *message = why;
    return false;
  };
  if (!product_) return refuse(KVRLocalized("Select one product to add a partner to it."));
  if (name.trimmed().isEmpty()) return refuse(KVRLocalized("Type the partner's name."));
  // An empty figure is none (0): a partner may have a cost, royalties or both.
  auto read = [](const QString& text, KVRAmountKind kind) {
    KVRAmountReading r;
    if (text.trimmed().isEmpty()) r.value = 0.0;
    else r = KVRReadAmountText(text, kind);
    return r;
  };
  const KVRAmountReading cost = read(costText, KVRAmountKind::cost);
  if (!cost.ok()) return refuse(cost.error);
  const KVRAmountReading royalties = read(royaltiesText, KVRAmountKind::share);
  if (!royalties.ok()) return refuse(royalties.error);
  QString error;
  if (!dm_.addPartner(product_, name.trimmed(), *cost.value, *royalties.value, &error))
    return refuse(KVRLocalized("The partner could not be saved: %1").arg(error));
  return true;
}
