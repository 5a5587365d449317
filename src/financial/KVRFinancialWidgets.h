#pragma once
// The widgets of the financial statements screen and their print twins:
//  - the grid: a table view per grid (regions, all regions) on a model of the
//    grid record, drawn by a cell delegate (badge colour, figure, payment mark,
//    selection); the print draws the same cells with the same painter;
//  - the regions table (region label and year income);
//  - the trend view (arrow, evolution badge, four figures);
//  - the details panel (texts, reconcile controls).
// The printed page's pieces are in KVRFinancialPrint.h.
#include <QAbstractTableModel>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>
#include <functional>

#include "financial/KVRFinancialDetails.h"
#include "financial/KVRFinancialGrid.h"
#include "financial/KVRFinancialRegionsChart.h"
#include "financial/KVRFinancialTrend.h"

class KVREvolutionView;

// Draws one cell of the grid in a rectangle: the badge in its colour, the
// figure, the payment mark; `scale` multiplies the sizes (print).
void KVRPaintFinancialCell(QPainter& p, const QRectF& rect, const KVRFinancialValue& value, bool selected,
                           double scale = 1.0);

// The model of one grid: the region grid (18 rows: the title, then the three
// months) or the all-regions grid (one row: its label, then the three totals).
class KVRFinancialGridModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Kind { Regions, Totals };
  explicit KVRFinancialGridModel(Kind kind, QObject* parent = nullptr);

  void setGrid(const KVRFinancialGrid& grid);
  const KVRFinancialGrid& grid() const { return grid_; }
  Kind kind() const { return kind_; }
  // The record of a cell; null for the all-regions grid's label.
  const KVRFinancialValue* valueAt(const QModelIndex& index) const;
  // The index of a cell in its grid's list (-1 for none), and back.
  int recordIndex(const QModelIndex& index) const;
  QModelIndex modelIndex(int recordIndex) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  Kind kind_;
  KVRFinancialGrid grid_;
  KVRFinancialValue allLabel_;
};

class KVRFinancialCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// A grid view: single selection of one cell, reported by record index.
class KVRFinancialGridView : public QTableView {
  Q_OBJECT
 public:
  explicit KVRFinancialGridView(KVRFinancialGridModel::Kind kind, QWidget* parent = nullptr);
  KVRFinancialGridModel* gridModel() const { return model_; }
  // Shows the selection without announcing it.
  void showSelection(const std::set<int>& records);
  // The cell's rectangle in the viewport (tests click there).
  QRect cellRect(int recordIndex) const;

 signals:
  void recordSelected(int recordIndex);

 protected:
  // Region rows share the height evenly, all of the same height.
  void resizeEvent(QResizeEvent* event) override;

 private:
  KVRFinancialGridModel* model_;
  bool showing_ = false;
};

// The regions table: 19 rows (AU to iAd, then all regions), the label and the
// year income.
class KVRRegionsTableModel : public QAbstractTableModel {
 public:
  explicit KVRRegionsTableModel(std::function<KVRFinancialRegionsChart()> chart, QObject* parent = nullptr)
      : QAbstractTableModel(parent), chart_(std::move(chart)) {}
  void reload() {
    beginResetModel();
    endResetModel();
  }
  int rowCount(const QModelIndex& = QModelIndex()) const override { return KVRFinancialRegionsChart::tableRowCount(); }
  int columnCount(const QModelIndex& = QModelIndex()) const override { return 2; }
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex&) const override { return Qt::ItemIsEnabled; }

 private:
  std::function<KVRFinancialRegionsChart()> chart_;
};

// The trend view: its caption over the evolution view (the month before, an
// arrow, the badge, the month of the cell), on screen or in print style.
class KVRFinancialTrendView : public QWidget {
 public:
  explicit KVRFinancialTrendView(bool print = false, QWidget* parent = nullptr);
  void setCaption(const QString& caption);
  void showTrend(const KVRFinancialTrend& trend);
  QLabel* caption() const { return caption_; }
  // The evolution view (dayVariation, and prDayVariation in print).
  KVREvolutionView* dayVariation() const { return evolution_; }

 private:
  QLabel* caption_;
  KVREvolutionView* evolution_;
};

// The details panel under the grid.
class KVRFinancialDetailsPanel : public QWidget {
  Q_OBJECT
 public:
  explicit KVRFinancialDetailsPanel(QWidget* parent = nullptr);
  void showDetails(const KVRFinancialDetailsState& state);
  void setReconcileControlsEnabled(bool enabled);
  void setReconcileButtonsEnabled(bool enabled);
  // The date picker's day: its first instant in the shared calendar.
  KVRDate reconcileDate() const;

  QLabel* financialValueTitle() const { return title_; }
  QLabel* financialValueStatus() const { return status_; }
  QLabel* financialValueLabel() const { return label_; }
  QLabel* financialValueIncome() const { return income_; }
  QLabel* financialValueIncomeLocal() const { return incomeLocal_; }
  QPushButton* financialValueReconcileButton() const { return reconcile_; }
  QPushButton* financialValueUnreconcileButton() const { return unreconcile_; }
  QLineEdit* financialValueReconcileValue() const { return amount_; }
  QComboBox* financialValueReconcileAccount() const { return accounts_; }
  QDateEdit* financialValueReconcileDate() const { return date_; }
  // The normal width of the reconcile button; "Create Payment" adds 25.
  static constexpr int kReconcileWidth = 118;

 signals:
  void reconcileClicked();
  void forcePaymentClicked();
  void unreconcileClicked();
  void accountChosen();

 private:
  QLabel *title_, *status_, *label_, *income_, *incomeLocal_, *incomeCaption_, *incomeLocalCaption_;
  QPushButton *reconcile_, *unreconcile_;
  QLineEdit* amount_;
  QComboBox* accounts_;
  QDateEdit* date_;
  std::optional<KVRDetailsAction> action_;
  bool filling_ = false;
};
