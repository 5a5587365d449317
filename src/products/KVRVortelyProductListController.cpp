#include "products/KVRVortelyProductListController.h"

#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <algorithm>
#include <mutex>
#include <set>

#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "graphs/KVRStockImages.h"

namespace {

bool nameLess(const QString& a, const QString& b) {
  const int c = a.compare(b, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : a < b;
}

constexpr QSize kIconSize(20, 20);

// A stock image drawn at the list's icon size, and at twice it for
// high-density screens.
QIcon stockIcon(const char* name) {
  QIcon icon;
  for (int scale : {1, 2}) icon.addPixmap(QPixmap::fromImage(KVRStockImage(QLatin1String(name), kIconSize * scale)));
  return icon;
}

QIcon accountIcon(const KVRStoreAccount* account) {
  if (!account->icon.isEmpty()) {
    QImage image;
    if (image.loadFromData(account->icon)) return QIcon(QPixmap::fromImage(image));
  }
  return stockIcon("accountNoIcon");
}

QIcon productIcon(const KVRVortelyManagedProduct* product) {
  const QImage image = product->icone();
  if (!image.isNull()) return QIcon(QPixmap::fromImage(image));
  if (product->isInAppPurchase()) return stockIcon("inapp");
  if (product->isEBook()) return stockIcon("ebook");
  return stockIcon("productNoIcon");
}

// Draws the row as usual, then the product's colour chip at the right end
// while the overview shows one curve per product.
class ProductRowDelegate : public QStyledItemDelegate {
 public:
  ProductRowDelegate(KVRVortelyProductListController* list, QObject* parent)
      : QStyledItemDelegate(parent), list_(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (index.data(KVRVortelyProductListController::KindRole).toInt() != KVRVortelyProductListController::ProductRow)
      return;
    if (!list_->showsColorChips()) return;
    auto* product = static_cast<KVRVortelyManagedProduct*>(
        index.data(KVRVortelyProductListController::ObjectRole).value<void*>());
    if (!product || !product->curveColor.isValid()) return;
    const int side = std::min(10, option.rect.height() - 6);
    const QRect chip(option.rect.right() - side - 6, option.rect.center().y() - side / 2, side, side);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(product->curveColor.darker(140));
    painter->setBrush(product->curveColor);
    painter->drawRoundedRect(chip, 2, 2);
    painter->restore();
  }

 private:
  KVRVortelyProductListController* list_;
};

}  // namespace

KVRVortelyProductListController::KVRVortelyProductListController(QTreeView* view, QObject* parent)
    : QObject(parent), view_(view), model_(new QStandardItemModel(this)) {
  view_->setModel(model_);
  view_->setHeaderHidden(true);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setIconSize(kIconSize);
  view_->setUniformRowHeights(true);
  view_->setItemDelegate(new ProductRowDelegate(this, view_));
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection&, const QItemSelection&) { onSelectionChanged(); });
}

KVRVortelyProductListController::~KVRVortelyProductListController() = default;

void KVRVortelyProductListController::reloadData() {
  auto& manager = KVRVortelyCoreDataManager::sharedInstance();
  std::vector<KVRStoreAccount*> accounts;
  std::vector<KVRVortelyManagedProduct*> products;
  {
    std::lock_guard<std::recursive_mutex> g(manager.contextLock());
    accounts = manager.accounts();
    products = manager.products();
  }
  reloadWith(accounts, products);
}

QStandardItem* KVRVortelyProductListController::makeAccountItem(KVRStoreAccount* account) {
  auto* item = new QStandardItem(accountIcon(account), account->name);
  item->setData(int(AccountRow), KindRole);
  item->setData(QVariant::fromValue(static_cast<void*>(account)), ObjectRole);
  item->setToolTip(account->developer.isEmpty() ? account->name : account->developer);
  return item;
}

QStandardItem* KVRVortelyProductListController::makeProductItem(KVRVortelyManagedProduct* product) {
  auto* item = new QStandardItem(productIcon(product), product->name);
  item->setData(int(ProductRow), KindRole);
  item->setData(QVariant::fromValue(static_cast<void*>(product)), ObjectRole);
  return item;
}

void KVRVortelyProductListController::reloadWith(const std::vector<KVRStoreAccount*>& accountsIn,
                                                 const std::vector<KVRVortelyManagedProduct*>& productsIn) {
  // Remember the selection by object.
  std::vector<KVRStoreAccount*> keptAccounts;
  std::vector<KVRVortelyManagedProduct*> keptProducts;
  for (QStandardItem* item : selectedItems()) {
    void* object = item->data(ObjectRole).value<void*>();
    if (item->data(KindRole).toInt() == AccountRow)
      keptAccounts.push_back(static_cast<KVRStoreAccount*>(object));
    else
      keptProducts.push_back(static_cast<KVRVortelyManagedProduct*>(object));
  }

  std::vector<KVRStoreAccount*> accounts = accountsIn;
  std::sort(accounts.begin(), accounts.end(),
            [](const KVRStoreAccount* a, const KVRStoreAccount* b) { return nameLess(a->name, b->name); });
  auto byName = [](const KVRVortelyManagedProduct* a, const KVRVortelyManagedProduct* b) {
    return nameLess(a->name, b->name);
  };

  reloading_ = true;
  model_->clear();
  std::set<const KVRVortelyManagedProduct*> listed;
  std::set<const KVRStoreAccount*> accountSet(accounts.begin(), accounts.end());
  {
    std::lock_guard<std::recursive_mutex> g(KVRVortelyCoreDataManager::sharedInstance().contextLock());
    for (KVRStoreAccount* account : accounts) {
      QStandardItem* accountItem = makeAccountItem(account);
      std::vector<KVRVortelyManagedProduct*> own = account->products;
      for (KVRVortelyManagedProduct* p : productsIn)
        if (p->account == account && std::find(own.begin(), own.end(), p) == own.end()) own.push_back(p);
      std::sort(own.begin(), own.end(), byName);
      for (KVRVortelyManagedProduct* p : own) {
        if (!listed.insert(p).second) continue;
        accountItem->appendRow(makeProductItem(p));
      }
      model_->appendRow(accountItem);
    }
  }
  std::vector<KVRVortelyManagedProduct*> loose;
  for (KVRVortelyManagedProduct* p : productsIn)
    if (!listed.count(p)) loose.push_back(p);
  std::sort(loose.begin(), loose.end(), byName);
  for (KVRVortelyManagedProduct* p : loose) {
    listed.insert(p);
    model_->appendRow(makeProductItem(p));
  }

  accounts_ = accounts;
  products_.clear();
  for (int r = 0; r < model_->rowCount(); ++r) {
    QStandardItem* top = model_->item(r);
    if (top->data(KindRole).toInt() == ProductRow)
      products_.push_back(static_cast<KVRVortelyManagedProduct*>(top->data(ObjectRole).value<void*>()));
    for (int c = 0; c < top->rowCount(); ++c)
      products_.push_back(static_cast<KVRVortelyManagedProduct*>(top->child(c)->data(ObjectRole).value<void*>()));
  }
  view_->expandAll();

  // Put back what is still listed.
  const bool hadSelection = !keptAccounts.empty() || !keptProducts.empty();
  std::erase_if(keptAccounts, [&](KVRStoreAccount* a) { return !accountSet.count(a); });
  std::erase_if(keptProducts, [&](KVRVortelyManagedProduct* p) { return !listed.count(p); });
  selectObjects(keptAccounts, keptProducts);
  reloading_ = false;
  // The selection the screens show may have lost rows: announce it once.
  if (hadSelection) onSelectionChanged();
}

std::vector<QStandardItem*> KVRVortelyProductListController::selectedItems() const {
  std::vector<QStandardItem*> items;
  if (!view_->selectionModel()) return items;
  QModelIndexList rows = view_->selectionModel()->selectedRows();
  // Row order of the list, whatever the order of the clicks.
  std::vector<std::pair<std::pair<int, int>, QStandardItem*>> ordered;
  for (const QModelIndex& index : rows) {
    QStandardItem* item = model_->itemFromIndex(index);
    if (!item) continue;
    const int top = index.parent().isValid() ? index.parent().row() : index.row();
    const int sub = index.parent().isValid() ? index.row() : -1;
    ordered.push_back({{top, sub}, item});
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& e : ordered) items.push_back(e.second);
  return items;
}

QStandardItem* KVRVortelyProductListController::currentSelectedItem() const {
  const std::vector<QStandardItem*> items = selectedItems();
  if (items.empty()) return nullptr;
  if (items.size() == 1) return items.front();
  const QModelIndex current = view_->selectionModel()->currentIndex();
  if (current.isValid() && view_->selectionModel()->isSelected(current)) return model_->itemFromIndex(current);
  return items.back();
}

KVRVortelyManagedProduct* KVRVortelyProductListController::selectedProduct() const {
  QStandardItem* item = currentSelectedItem();
  if (!item || item->data(KindRole).toInt() != ProductRow) return nullptr;
  return static_cast<KVRVortelyManagedProduct*>(item->data(ObjectRole).value<void*>());
}

bool KVRVortelyProductListController::isAccountSelected() const {
  QStandardItem* item = currentSelectedItem();
  return item && item->data(KindRole).toInt() == AccountRow;
}

std::vector<KVRVortelyManagedProduct*> KVRVortelyProductListController::selectedProducts() const {
  std::vector<KVRVortelyManagedProduct*> result;
  for (QStandardItem* item : selectedItems())
    if (item->data(KindRole).toInt() == ProductRow)
      result.push_back(static_cast<KVRVortelyManagedProduct*>(item->data(ObjectRole).value<void*>()));
  return result;
}

std::vector<KVRVortelyManagedProduct*> KVRVortelyProductListController::extendedSelectedProducts() const {
  std::vector<KVRVortelyManagedProduct*> result;
  std::set<const KVRVortelyManagedProduct*> seen;
  auto add = [&](KVRVortelyManagedProduct* p) {
    if (p && seen.insert(p).second) result.push_back(p);
  };
  const std::vector<QStandardItem*> items = selectedItems();
  bool anyAccount = false;
  for (QStandardItem* item : items) anyAccount |= item->data(KindRole).toInt() == AccountRow;
  std::unique_lock<std::recursive_mutex> g(KVRVortelyCoreDataManager::sharedInstance().contextLock(),
                                           std::defer_lock);
  if (anyAccount) g.lock();
  for (QStandardItem* item : items) {
    void* object = item->data(ObjectRole).value<void*>();
    if (item->data(KindRole).toInt() == AccountRow) {
      auto* account = static_cast<KVRStoreAccount*>(object);
      std::vector<KVRVortelyManagedProduct*> own = account->products;
      std::sort(own.begin(), own.end(), [](const KVRVortelyManagedProduct* a, const KVRVortelyManagedProduct* b) {
        return nameLess(a->name, b->name);
      });
      for (KVRVortelyManagedProduct* p : own) add(p);
    } else {
      add(static_cast<KVRVortelyManagedProduct*>(object));
    }
  }
  return result;
}

std::vector<KVRStoreAccount*> KVRVortelyProductListController::selectedAccounts() const {
  std::vector<KVRStoreAccount*> result;
  auto add = [&](KVRStoreAccount* a) {
    if (a && std::find(result.begin(), result.end(), a) == result.end()) result.push_back(a);
  };
  for (QStandardItem* item : selectedItems()) {
    void* object = item->data(ObjectRole).value<void*>();
    if (item->data(KindRole).toInt() == AccountRow)
      add(static_cast<KVRStoreAccount*>(object));
    else
      add(static_cast<KVRVortelyManagedProduct*>(object)->account);
  }
  return result;
}

void KVRVortelyProductListController::selectObjects(const std::vector<KVRStoreAccount*>& accounts,
                                                    const std::vector<KVRVortelyManagedProduct*>& products) {
  QItemSelection selection;
  QModelIndex last;
  auto consider = [&](QStandardItem* item) {
    void* object = item->data(ObjectRole).value<void*>();
    const bool wanted = item->data(KindRole).toInt() == AccountRow
                            ? std::find(accounts.begin(), accounts.end(), object) != accounts.end()
                            : std::find(products.begin(), products.end(), object) != products.end();
    if (wanted) {
      selection.select(item->index(), item->index());
      last = item->index();
    }
  };
  for (int r = 0; r < model_->rowCount(); ++r) {
    QStandardItem* top = model_->item(r);
    consider(top);
    for (int c = 0; c < top->rowCount(); ++c) consider(top->child(c));
  }
  QItemSelectionModel* sm = view_->selectionModel();
  const bool wasReloading = reloading_;
  reloading_ = true;  // one announcement for the whole change
  sm->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (last.isValid()) sm->setCurrentIndex(last, QItemSelectionModel::NoUpdate);
  reloading_ = wasReloading;
  onSelectionChanged();
}

void KVRVortelyProductListController::clearSelection() { selectObjects({}, {}); }

void KVRVortelyProductListController::onSelectionChanged() {
  if (reloading_) return;
  assignCurveColors(products_, extendedSelectedProducts());
  view_->viewport()->update();
  emit selectionDidChange();
}

void KVRVortelyProductListController::refresh() { view_->viewport()->update(); }

bool KVRVortelyProductListController::showsColorChips() const {
  return combinedQuery_ ? !combinedQuery_() : false;
}

const std::vector<QColor>& KVRVortelyProductListController::curveColors() {
  static const std::vector<QColor> colors = {
      QColor(0x1f, 0x77, 0xd0), QColor(0xe0, 0x6c, 0x1a), QColor(0x2c, 0xa0, 0x3c), QColor(0xd0, 0x2a, 0x2e),
      QColor(0x8e, 0x5c, 0xc0), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x6f, 0xc0), QColor(0x17, 0xb0, 0xbf),
      QColor(0xbc, 0xa8, 0x22), QColor(0x5a, 0x5a, 0x5a)};
  return colors;
}

void KVRVortelyProductListController::assignCurveColors(
    const std::vector<KVRVortelyManagedProduct*>& allProducts,
    const std::vector<KVRVortelyManagedProduct*>& extendedSelection) {
  if (extendedSelection.size() < 2) {
    for (KVRVortelyManagedProduct* p : allProducts) p->curveColor = QColor();
    for (KVRVortelyManagedProduct* p : extendedSelection) p->curveColor = QColor();
    return;
  }
  const std::set<const KVRVortelyManagedProduct*> selected(extendedSelection.begin(), extendedSelection.end());
  for (KVRVortelyManagedProduct* p : allProducts)
    if (!selected.count(p)) p->curveColor = QColor();

  const std::vector<QColor>& palette = curveColors();
  const size_t count = palette.size();
  std::set<QRgb> taken;
  size_t n = 0;
  for (const KVRVortelyManagedProduct* p : extendedSelection)
    if (p->curveColor.isValid()) {
      ++n;
      taken.insert(p->curveColor.rgba());
    }
  for (KVRVortelyManagedProduct* p : extendedSelection) {
    if (p->curveColor.isValid()) continue;
    // Two selected products never share a colour while the palette has a free one.
    for (size_t tries = 0; tries < count && taken.count(palette[n % count].rgba()); ++tries) ++n;
    p->curveColor = palette[n % count];
    taken.insert(p->curveColor.rgba());
    ++n;
  }
}
