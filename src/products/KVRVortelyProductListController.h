#pragma once
// The product list of the main window's left pane: the store accounts, each
// with its products, then the products that belong to no account, all sorted
// by name. Several rows may be selected. The list answers the selection
// questions the application delegate forwards to it, and keeps the products'
// curve colours in step with the selection. Main thread only.
#include <QColor>
#include <QObject>
#include <functional>
#include <vector>

class QTreeView;
class QStandardItemModel;
class QStandardItem;
class QItemSelection;
class KVRVortelyManagedProduct;
struct KVRStoreAccount;

class KVRVortelyProductListController : public QObject {
  Q_OBJECT
 public:
  // Item data roles of the list's model.
  enum Role { KindRole = 0x0101, ObjectRole = 0x0102 };
  enum RowKind { AccountRow = 1, ProductRow = 2 };

  // Binds the view: model, extended selection, row drawing.
  explicit KVRVortelyProductListController(QTreeView* view, QObject* parent = nullptr);
  ~KVRVortelyProductListController() override;

  QTreeView* view() const { return view_; }

  // Reads the accounts and products of the data manager (under the context
  // lock) and rebuilds the rows; the selection of objects still present is
  // kept, and announced once when there was one.
  void reloadData();
  // Rebuilds the rows from the given objects (products listed with an account
  // appear under it, the others at the end).
  void reloadWith(const std::vector<KVRStoreAccount*>& accounts,
                  const std::vector<KVRVortelyManagedProduct*>& products);

  // Selection.
  // The product of the selected row: the one selected row, or with several the
  // current (most recently chosen) one; null when that row is no product.
  KVRVortelyManagedProduct* selectedProduct() const;
  std::vector<KVRVortelyManagedProduct*> selectedProducts() const;
  // Selected products, with each selected account row expanded to its
  // products; no product twice; in row order.
  std::vector<KVRVortelyManagedProduct*> extendedSelectedProducts() const;
  // The account of every selected product that has one and every selected
  // account row; no account twice.
  std::vector<KVRStoreAccount*> selectedAccounts() const;
  // The selected row (as for selectedProduct) is an account row.
  bool isAccountSelected() const;
  bool hasAccounts() const { return !accounts_.empty(); }
  bool hasProducts() const { return !products_.empty(); }
  const std::vector<KVRVortelyManagedProduct*>& allProducts() const { return products_; }

  // Selects exactly these rows (accounts and products); the others are
  // deselected. Announces the change like a click would.
  void selectObjects(const std::vector<KVRStoreAccount*>& accounts,
                     const std::vector<KVRVortelyManagedProduct*>& products);
  void clearSelection();

  // Redraws the rows (colour chips follow the combined-graph setting).
  void refresh();
  // Whether the sales overview draws one combined curve; without it the colour
  // chips are shown.
  void setCombinedGraphQuery(std::function<bool()> query) { combinedQuery_ = std::move(query); }
  bool showsColorChips() const;

  // The curve colours, numbered from 0.
  static const std::vector<QColor>& curveColors();
  // With fewer than two products in the extended selection every product loses
  // its curve colour. With two or more, products outside the selection lose
  // theirs and each selected product without one gets colour n modulo the
  // number of colours, n starting at the count of selected products that
  // already have one and rising by one per assignment; a colour another
  // selected product already has is skipped while free colours remain.
  static void assignCurveColors(const std::vector<KVRVortelyManagedProduct*>& allProducts,
                                const std::vector<KVRVortelyManagedProduct*>& extendedSelection);

 signals:
  // After every change of the selected rows (the curve colours already set).
  void selectionDidChange();

 private:
  void onSelectionChanged();
  QStandardItem* makeAccountItem(KVRStoreAccount* account);
  QStandardItem* makeProductItem(KVRVortelyManagedProduct* product);
  QStandardItem* itemForIndexRow(const class QModelIndex& index) const;
  QStandardItem* currentSelectedItem() const;
  std::vector<QStandardItem*> selectedItems() const;

  QTreeView* view_;
  QStandardItemModel* model_;
  std::vector<KVRStoreAccount*> accounts_;
  std::vector<KVRVortelyManagedProduct*> products_;
  std::function<bool()> combinedQuery_;
  bool reloading_ = false;
};
