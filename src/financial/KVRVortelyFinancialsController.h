#pragma once
// The per-report financials panel of the statements screen: the period,
// region and report pop-ups, the lines table (sortable by date and income),
// the sales, upgrades and revenue totals, the report state cells with their
// sentence, the window-modal sheet of the payment received, and the partners
// and costs of the selected product with the sheet that adds one. The
// figures and texts come from KVRFinancialsPanel; this widget only shows them
// and passes the user's choices on.
#include <QDialog>
#include <QWidget>
#include <functional>

#include "financial/KVRFinancialsPanel.h"

class QAbstractButton;
class QBoxLayout;
class QButtonGroup;
class QFrame;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTableView;
class QTableWidget;
class QVBoxLayout;
class KVRFinancialsLinesModel;

// A window-modal sheet of the panel: its form, then a message line for what
// was refused and the Cancel and confirming buttons.
class KVRFinancialsSheet : public QDialog {
  Q_OBJECT
 public:
  QLabel* messageLabel() const { return message_; }
  QPushButton* okButton() const { return ok_; }
  // Shows text on the message line; an empty text hides it.
  void showMessage(const QString& text);

 signals:
  void confirmRequested();

 protected:
  KVRFinancialsSheet(QWidget* parent, const QString& objectName, const QString& title);
  // Adds the message line and the buttons under the form; returns Cancel.
  QPushButton* addFooter(QVBoxLayout* layout, const QString& okText);

 private:
  QLabel* message_ = nullptr;
  QPushButton* ok_ = nullptr;
};

// The sheet of the payment received (reportRealIncomeSetPanel).
class KVRRealIncomeSheet : public KVRFinancialsSheet {
  Q_OBJECT
 public:
  explicit KVRRealIncomeSheet(QWidget* parent);
  QLineEdit* amountField() const { return amount_; }           // reportRealIncomeValue
  QDateEdit* datePicker() const { return date_; }              // reportRealIncomeDatePicker
  QComboBox* accountPopup() const { return account_; }         // reportRealAccountPopup
  QPushButton* cancelButton() const { return cancel_; }

 private:
  QLineEdit* amount_;
  QDateEdit* date_;
  QComboBox* account_;
  QPushButton* cancel_;
};

// The sheet that adds a cost or a partner (partnerCostAddPanel).
class KVRPartnerCostSheet : public KVRFinancialsSheet {
  Q_OBJECT
 public:
  explicit KVRPartnerCostSheet(QWidget* parent);
  // 0 = a cost, any other value = a partner.
  int partnerCostAddSelection() const;
  void setPartnerCostAddSelection(int selection);
  QLineEdit* costLabel() const { return costLabel_; }
  QLineEdit* costValue() const { return costValue_; }
  QLineEdit* partnerLabel() const { return partnerLabel_; }
  QLineEdit* partnerValue() const { return partnerValue_; }
  QLineEdit* partnerRoyalties() const { return partnerRoyalties_; }

 private:
  QRadioButton* costChoice_;
  QRadioButton* partnerChoice_;
  QStackedWidget* forms_;
  QLineEdit* costLabel_;
  QLineEdit* costValue_;
  QLineEdit* partnerLabel_;
  QLineEdit* partnerValue_;
  QLineEdit* partnerRoyalties_;
};

class KVRVortelyFinancialsController : public QWidget {
  Q_OBJECT
 public:
  // Column indexes of the lines table.
  enum LineColumn { DateColumn, ProductColumn, TypeColumn, CountryColumn, UnitsColumn, IncomeColumn,
                    ConvertedColumn, LineColumnCount };
  using AlertPresenter = std::function<void(QWidget* window, const QString& title, const QString& text)>;

  // services: the application delegate (KVRApplicationServices::current()
  // when null); accounts: the financial accounts offered by the payment sheet
  // (the application's list when empty).
  explicit KVRVortelyFinancialsController(QWidget* parent = nullptr, KVRApplicationServices* services = nullptr,
                                          KVRFinancialsPanel::AccountsProvider accounts = {});
  ~KVRVortelyFinancialsController() override;

  // Reads the selection again and shows it (after a selection change and
  // after each rebuild of the statement). While the panel is not on show it
  // only notes that it is out of date: it reads the selection, and the
  // report it then shows takes its estimate, when it is shown.
  void selectedProductDidChange();
  // Whether a refresh waits for the panel to be shown.
  bool refreshPending() const { return stale_; }
  // How failures to save are shown (a warning box on the window by default).
  void setAlertPresenter(AlertPresenter presenter) { alert_ = std::move(presenter); }

  KVRFinancialsPanel& panel() { return panel_; }

  // The controls, for the screen and the tests.
  QComboBox* periodsPopup() const { return periods_; }
  QComboBox* regionsPopup() const { return regions_; }
  QComboBox* reportsPopup() const { return reports_; }
  QTableView* reportsTableView() const { return lines_; }
  QAbstractButton* reportStateCell(int tag) const;
  QLabel* reportStateLabel() const { return stateLabel_; }
  QLabel* reportsTotalSales() const { return totalSales_; }
  QLabel* reportsTotalUpgrades() const { return totalUpgrades_; }
  QLabel* reportsTotalRevenues() const { return totalRevenues_; }
  QTableWidget* partnersCostsTable() const { return partnersCosts_; }
  QPushButton* addPartnerCostButton() const { return addPartnerCost_; }
  QLabel* partnersCostsTitle() const { return partnersTitle_; }
  KVRRealIncomeSheet* reportRealIncomeSetPanel() const { return realIncomeSheet_; }
  KVRPartnerCostSheet* partnerCostAddPanel() const { return partnerCostSheet_; }

  // The header clicks of the lines table: date and income sort, each
  // column's direction flipping on a second click.
  void sortByColumn(int column);
  // True while the report's state and the partners and costs stand under the
  // lines, the lines' columns not fitting beside them.
  bool sidePanelBelow() const { return sideBelow_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void refresh();
  void refreshIfPending();
  void periodChosen(int index);
  void regionChosen(int index);
  void reportChosen(int index);
  void stateChosen(int tag);
  void openRealIncomeSheet();
  void confirmRealIncome();
  void realIncomeSheetDidEnd(int result);
  void openPartnerCostSheet();
  void confirmPartnerCost();

  void showAll();
  void showPeriods();
  void showReports();
  void showLines();
  void fitLineColumns();
  void placeSidePanel();
  void showState();
  void showPartnersCosts();
  void warn(const QString& title, const QString& text);

  KVRFinancialsPanel panel_;
  AlertPresenter alert_;
  bool updating_ = false;
  bool sideBelow_ = false, sidePlaced_ = false;
  bool stale_ = false;

  QBoxLayout* pageLayout_;
  QBoxLayout* sideLayout_;
  QFrame* side_;
  QComboBox* periods_;
  QComboBox* regions_;
  QComboBox* reports_;
  QTableView* lines_;
  KVRFinancialsLinesModel* linesModel_;
  QButtonGroup* stateGroup_;
  QLabel* stateLabel_;
  QLabel* totalSales_;
  QLabel* totalUpgrades_;
  QLabel* totalRevenues_;
  QLabel* partnersTitle_;
  QTableWidget* partnersCosts_;
  QPushButton* addPartnerCost_;
  KVRRealIncomeSheet* realIncomeSheet_ = nullptr;
  KVRPartnerCostSheet* partnerCostSheet_ = nullptr;
};
