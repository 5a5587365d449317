// The product list: rows, selection questions and the curve-colour rule.
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>
#include <set>

#include "core/KVREntities.h"
#include "core/KVRVortelyManagedProduct.h"
#include "products/KVRVortelyProductListController.h"

namespace {

using P = KVRVortelyManagedProduct;
using List = KVRVortelyProductListController;

struct Fixture {
  std::vector<std::unique_ptr<KVRStoreAccount>> accounts;
  std::vector<std::unique_ptr<P>> products;

  KVRStoreAccount* account(const char* name) {
    accounts.push_back(std::make_unique<KVRStoreAccount>());
    accounts.back()->name = QString::fromLatin1(name);
    return accounts.back().get();
  }
  P* product(const char* name, KVRStoreAccount* owner = nullptr) {
    products.push_back(std::make_unique<P>());
    P* p = products.back().get();
    p->name = QString::fromLatin1(name);
    p->account = owner;
    if (owner) owner->products.push_back(p);
    return p;
  }
  std::vector<KVRStoreAccount*> accountPtrs() const {
    std::vector<KVRStoreAccount*> v;
    for (auto& a : accounts) v.push_back(a.get());
    return v;
  }
  std::vector<P*> productPtrs() const {
    std::vector<P*> v;
    for (auto& p : products) v.push_back(p.get());
    return v;
  }
};

QColor palette(size_t i) { return List::curveColors()[i % List::curveColors().size()]; }

TEST(ProductListColors, FewerThanTwoSelectedClearsEveryColour) {
  Fixture f;
  P* a = f.product("A");
  P* b = f.product("B");
  a->curveColor = palette(0);
  b->curveColor = palette(1);
  List::assignCurveColors(f.productPtrs(), {a});
  EXPECT_FALSE(a->curveColor.isValid());
  EXPECT_FALSE(b->curveColor.isValid());
  b->curveColor = palette(1);
  List::assignCurveColors(f.productPtrs(), {});
  EXPECT_FALSE(b->curveColor.isValid());
}

TEST(ProductListColors, TwoThenThreeThenAnotherSelection) {
  Fixture f;
  P* a = f.product("A");
  P* b = f.product("B");
  P* c = f.product("C");
  P* d = f.product("D");
  const auto all = f.productPtrs();

  // Two products without colour: n starts at 0.
  List::assignCurveColors(all, {a, b});
  EXPECT_EQ(a->curveColor, palette(0));
  EXPECT_EQ(b->curveColor, palette(1));
  EXPECT_FALSE(c->curveColor.isValid());

  // A third joins: two already coloured, so n starts at 2; the others keep theirs.
  List::assignCurveColors(all, {a, b, c});
  EXPECT_EQ(a->curveColor, palette(0));
  EXPECT_EQ(b->curveColor, palette(1));
  EXPECT_EQ(c->curveColor, palette(2));

  // Another selection: A leaves and loses its colour, D gets number 2 ...
  // which C holds already, so D takes the next free one.
  List::assignCurveColors(all, {b, c, d});
  EXPECT_FALSE(a->curveColor.isValid());
  EXPECT_EQ(b->curveColor, palette(1));
  EXPECT_EQ(c->curveColor, palette(2));
  EXPECT_EQ(d->curveColor, palette(3));
}

TEST(ProductListColors, NeverTwoSelectedProductsWithOneColourWhileColoursRemain) {
  Fixture f;
  P* a = f.product("A");
  P* b = f.product("B");
  P* c = f.product("C");
  // Plain rule: one coloured product (n = 1) and B would get number 1, the
  // colour A already has.
  a->curveColor = palette(1);
  List::assignCurveColors(f.productPtrs(), {a, b, c});
  std::set<QRgb> seen = {a->curveColor.rgba(), b->curveColor.rgba(), c->curveColor.rgba()};
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_EQ(a->curveColor, palette(1));
  EXPECT_EQ(b->curveColor, palette(2));
  EXPECT_EQ(c->curveColor, palette(3));
}

TEST(ProductListColors, MoreProductsThanColoursStillAllColoured) {
  Fixture f;
  const size_t count = List::curveColors().size() + 3;
  for (size_t i = 0; i < count; ++i) f.product("P");
  List::assignCurveColors(f.productPtrs(), f.productPtrs());
  std::set<QRgb> seen;
  for (P* p : f.productPtrs()) {
    ASSERT_TRUE(p->curveColor.isValid());
    seen.insert(p->curveColor.rgba());
  }
  EXPECT_EQ(seen.size(), List::curveColors().size());
}

class ProductListView : public ::testing::Test {
 protected:
  void SetUp() override {
    apps = f.account("Apps Inc");
    books = f.account("books ltd");  // sorted without regard to case
    zeta = f.product("Zeta", apps);
    alpha = f.product("alpha", apps);
    novel = f.product("Novel", books);
    loose = f.product("Followed");
    list = std::make_unique<List>(&view);
    list->reloadWith({books, apps}, f.productPtrs());
  }
  QString rowText(int top, int child = -1) {
    QModelIndex i = view.model()->index(top, 0);
    if (child >= 0) i = view.model()->index(child, 0, i);
    return i.data().toString();
  }

  Fixture f;
  KVRStoreAccount *apps, *books;
  P *zeta, *alpha, *novel, *loose;
  QTreeView view;
  std::unique_ptr<List> list;
};

TEST_F(ProductListView, AccountsThenLooseProductsSortedByName) {
  ASSERT_EQ(view.model()->rowCount(), 3);
  EXPECT_EQ(rowText(0), "Apps Inc");
  EXPECT_EQ(rowText(0, 0), "alpha");
  EXPECT_EQ(rowText(0, 1), "Zeta");
  EXPECT_EQ(rowText(1), "books ltd");
  EXPECT_EQ(rowText(1, 0), "Novel");
  EXPECT_EQ(rowText(2), "Followed");
  EXPECT_EQ(view.selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(list->allProducts().size(), 4u);
}

TEST_F(ProductListView, NothingSelected) {
  EXPECT_EQ(list->selectedProduct(), nullptr);
  EXPECT_TRUE(list->selectedProducts().empty());
  EXPECT_TRUE(list->extendedSelectedProducts().empty());
  EXPECT_TRUE(list->selectedAccounts().empty());
  EXPECT_FALSE(list->isAccountSelected());
}

TEST_F(ProductListView, AccountRowExpandsToItsProducts) {
  int announcements = 0;
  QObject::connect(list.get(), &List::selectionDidChange, [&] { ++announcements; });
  list->selectObjects({apps}, {});
  EXPECT_EQ(announcements, 1);
  EXPECT_TRUE(list->isAccountSelected());
  EXPECT_EQ(list->selectedProduct(), nullptr);
  EXPECT_TRUE(list->selectedProducts().empty());
  EXPECT_EQ(list->extendedSelectedProducts(), (std::vector<P*>{alpha, zeta}));
  EXPECT_EQ(list->selectedAccounts(), (std::vector<KVRStoreAccount*>{apps}));
  // Two products of the account: both coloured, differently.
  EXPECT_TRUE(alpha->curveColor.isValid());
  EXPECT_TRUE(zeta->curveColor.isValid());
  EXPECT_NE(alpha->curveColor, zeta->curveColor);
}

TEST_F(ProductListView, AccountAndOneOfItsProductsCountTheProductOnce) {
  list->selectObjects({apps}, {zeta, loose});
  EXPECT_EQ(list->extendedSelectedProducts(), (std::vector<P*>{alpha, zeta, loose}));
  EXPECT_EQ(list->selectedProducts(), (std::vector<P*>{zeta, loose}));
  // The loose product has no account; the account appears once.
  EXPECT_EQ(list->selectedAccounts(), (std::vector<KVRStoreAccount*>{apps}));
}

TEST_F(ProductListView, ProductsOfTwoAccounts) {
  list->selectObjects({}, {zeta, novel});
  EXPECT_FALSE(list->isAccountSelected());
  EXPECT_EQ(list->selectedAccounts(), (std::vector<KVRStoreAccount*>{apps, books}));
  EXPECT_EQ(list->selectedProduct(), novel);  // the current row
  list->selectObjects({}, {novel});
  EXPECT_EQ(list->selectedProduct(), novel);
  // One product: every colour cleared.
  EXPECT_FALSE(novel->curveColor.isValid());
  EXPECT_FALSE(zeta->curveColor.isValid());
}

TEST_F(ProductListView, ReloadKeepsTheSelectionOfObjectsStillListed) {
  list->selectObjects({books}, {zeta});
  int announcements = 0;
  QObject::connect(list.get(), &List::selectionDidChange, [&] { ++announcements; });
  list->reloadWith({apps}, {zeta, alpha, loose});
  EXPECT_EQ(announcements, 1);
  EXPECT_EQ(list->selectedProducts(), (std::vector<P*>{zeta}));
  EXPECT_TRUE(list->selectedAccounts() == (std::vector<KVRStoreAccount*>{apps}));
  EXPECT_FALSE(list->isAccountSelected());
}

}  // namespace
