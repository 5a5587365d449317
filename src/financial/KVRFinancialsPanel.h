#pragma once
// The per-report financials panel, as plain C++: it works on one imported
// financial report at a time. The user picks a period and a money region,
// then one of the matching financial reports; the panel shows the lines of
// the selected products in those reports with their sales, upgrades and
// revenue, the chosen report's state (estimated, pointed with the payment
// received, reported) with its sentence, and the partners and costs of the
// selected product.
//
// Every edit (report state, payment received, partner, cost) is saved at
// once in its own transaction; reads and writes of reports, lines, partners
// and costs hold the context lock for the whole sequence. The texts are made
// here, so the widgets never touch the store. Main thread.
#include <QString>
#include <QStringList>
#include <functional>
#include <unordered_map>
#include <vector>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "platform/KVRDate.h"

class KVRApplicationServices;
class KVRVortelyCoreDataManager;
class KVRVortelyManagedProduct;
struct KVRReport;
struct KVRReportEntry;

// A choice of the period pop-up: "All" (the date 0 s after 1 January 1970)
// or one report begin date, labelled "begin-end".
struct KVRFinancialsPeriodChoice {
  QString label;
  KVRDate value;
};

// A report state of the state cells.
struct KVRFinancialsStatusValue {
  QString label;
  int value;
};

// One row of the lines table, as shown.
struct KVRFinancialsLineRow {
  QString date;       // begin date, or "begin-end"
  QString product;    // the product's name
  QString type;       // "Sale", "Upgrade", "Refund"... ("?" for others)
  QString country;
  QString units;
  QString income;     // in the line's currency, "--" without income
  QString converted;  // in the preferred currency, "--" without income
};

// One row of the partners and costs table.
struct KVRFinancialsPartnerCostRow {
  QString kind;       // "Cost" or "Partner"
  QString name;
  QString amount;     // the cost's value, the partner's cost
  QString royalties;  // the partner's royalties; "" for a cost
};

// What the real-income sheet shows when it opens.
struct KVRFinancialsRealIncomeSheet {
  QStringList accounts;  // the financial accounts' labels, in stored order; "--" when none
  KVRDate date;          // today
  QString amount;        // the report's pointed income, with the preferred currency symbol
  QString currencySymbol;
};

class KVRFinancialsPanel {
 public:
  // The region pop-up's tags.
  enum RegionTag { AllRegions = 0, AU = 1, CA, EU, JP, GB, US, WW, MX, NZ, NO, CH };
  enum class SortColumn { None, Date, Income };
  enum class StateChange { Nothing, Stored, Failed, OpenSheet };

  using AccountsProvider = std::function<std::vector<KVRFinancialAccount>()>;
  // The application's services (KVRApplicationServices::current() at each
  // refresh when null), the shared data manager and the application's financial
  // accounts list by default.
  KVRFinancialsPanel();
  KVRFinancialsPanel(KVRApplicationServices* services, KVRVortelyCoreDataManager& dataManager,
                     AccountsProvider accounts);

  // --- Refresh: the reports and periods of the selection, then the lines.
  void selectedProductDidChange();

  // --- Period pop-up
  const std::vector<KVRFinancialsPeriodChoice>& periodsValues() const { return periods_; }
  KVRDate selectedPeriod() const { return selectedPeriod_; }
  // Another date recomputes the lines and selects the first report.
  void setSelectedPeriod(KVRDate period);
  // The choice on show: that of the selected period, 0 ("All") for none.
  int selectedPeriodIndex() const;
  static KVRDate allPeriods() { return KVRDate(0.0); }

  // --- Region pop-up
  static QString regionCodeForTag(int tag);  // "" for all regions
  void filterRegion(int tag);
  int regionTag() const { return regionTag_; }

  // --- Report pop-up: the reports passing both filters, by begin date.
  const std::vector<KVRReport*>& filteredReports() const { return filteredReports_; }
  QStringList reportTitles() const { return reportTitles_; }
  int selectedReportIndex() const { return selectedReport_; }
  KVRReport* selectedReport() const;
  // Shows the chosen report's state; a report never converted becomes
  // estimated with its estimated income, saved at once. False with the reason
  // when that save failed.
  bool reportChange(int index, QString* error = nullptr);

  // --- Lines and totals
  // The rows in their order on show; a row's texts are made when asked for
  // (a selection of every account may list hundreds of thousands of lines).
  int lineCount() const { return int(lines_.size()); }
  KVRFinancialsLineRow lineRow(int index) const;
  static KVRFinancialsLineRow rowOf(const KVRReportEntry& line);
  // The rows that hold, column by column, the longest texts of all the lines,
  // however many there are: one line of each period, type and country, and
  // the lines of the smallest and largest count and of the smallest and
  // largest amount in each currency (digits share one width, so the figure
  // with the most characters is the widest). A few dozen rows at most.
  const std::vector<KVRFinancialsLineRow>& widestLineRows() const;
  // Sorts the rows by date or income; ties keep their order.
  void sortLines(SortColumn column, bool ascending);
  SortColumn sortColumn() const { return sortColumn_; }
  bool sortAscending() const { return sortAscending_; }
  int totalSales() const { return sales_; }
  int totalUpgrades() const { return upgrades_; }
  float totalRevenue() const { return revenue_; }
  QString totalSalesText() const;
  QString totalUpgradesText() const;
  QString totalRevenuesText() const;

  // --- Report state
  static const std::vector<KVRFinancialsStatusValue>& statusValues();
  // The cell on show: the chosen state while the sheet is open, else the
  // report's; -1 without a report.
  int stateTag() const { return stateTag_; }
  QString stateSentence() const { return stateSentence_; }
  // A state chosen by the user: 0 and 2 are stored at once; 1 asks for the
  // payment received (OpenSheet). Nothing without a report.
  StateChange reportStateChange(int tag, QString* error = nullptr);
  KVRFinancialsRealIncomeSheet realIncomeSheet(KVRDate today) const;
  // The sheet's OK: the amount must read as an amount received, above zero
  // (KVRReadAmountText); then the payment is stored (status 1) and saved.
  // False keeps the sheet open, with the reason in *message; nothing is
  // stored.
  bool reportRealIncomeSetOK(const QString& amountText, KVRDate date, const QString& accountLabel,
                             QString* message);
  // The sheet's Cancel: nothing is stored, the cells show the report's state.
  void reportRealIncomeSetCancel();

  // --- Partners and costs of the selected product
  bool canAddPartnerCost() const;  // one product selected
  std::vector<KVRFinancialsPartnerCostRow> partnerCostRows() const;
  // The add sheet's OK; false keeps the sheet open with the reason, and
  // nothing is stored. A cost (and a partner's cost) is an amount of 0 or
  // more, royalties a share from 0 to 1 (0.35); an empty figure of a
  // partner is 0.
  bool addCost(const QString& name, const QString& valueText, QString* message);
  bool addPartner(const QString& name, const QString& costText, const QString& royaltiesText, QString* message);

  // --- Pieces
  // The state sentence of a report for a state tag; null for another tag.
  static QString stateSentenceFor(const KVRReport& report, int tag);

 private:
  void updateReportEntries();
  void updateReportState();
  void gatherRows();
  // A report's name and title in the report pop-up, made again only when
  // its file name, account or dates changed.
  struct ReportTexts {
    QString filename, developer;
    const void* account = nullptr;
    double begin = 0, end = 0;
    QString name, title;
  };
  const ReportTexts& textsOf(const KVRReport* r);
  std::unordered_map<const KVRReport*, ReportTexts> reportTexts_;

  KVRApplicationServices* services_;
  KVRVortelyCoreDataManager& dm_;
  AccountsProvider accounts_;

  // The selection, read at each refresh.
  std::vector<KVRVortelyManagedProduct*> products_;  // extended selection
  KVRVortelyManagedProduct* product_ = nullptr;      // the single selected product
  std::vector<KVRReport*> reports_;
  std::vector<KVRFinancialsPeriodChoice> periods_;
  KVRDate selectedPeriod_;
  int regionTag_ = AllRegions;
  std::vector<KVRReport*> filteredReports_;
  QStringList reportTitles_;
  // A line of the table with its sort values: begin date for the date
  // column, count x income in its own currency for the income column.
  struct Line {
    KVRReportEntry* entry;
    double beginDate;
    float incomeForCompare;
  };
  std::vector<Line> lines_;  // reportsEntries, in gathering order until sorted
  // The lines whose texts are the widest, found while gathering; their rows
  // are made when first asked (widestLineRows).
  std::vector<const KVRReportEntry*> widestEntries_;
  mutable std::vector<KVRFinancialsLineRow> widest_;
  mutable bool widestKnown_ = false;
  SortColumn sortColumn_ = SortColumn::None;
  bool sortAscending_ = true;
  int sales_ = 0, upgrades_ = 0;
  float revenue_ = 0;
  int selectedReport_ = -1;
  int stateTag_ = -1;
  QString stateSentence_;
};
