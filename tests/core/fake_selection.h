#pragma once
// The product list's selection as the screens read it, set by the test, in
// the place of the application delegate.
#include <vector>

#include "core/KVRApplicationServices.h"

class FakeSelection : public KVRApplicationServices {
 public:
  std::vector<KVRVortelyManagedProduct*> selected, extended;
  std::vector<KVRStoreAccount*> accounts;
  bool accountSelected = false;

  // Product rows selected: the same products in the extended selection.
  void selectProducts(std::vector<KVRVortelyManagedProduct*> products) { selected = extended = std::move(products); }

  // The delegate from now until uninstall(), which puts the previous one back.
  void install() {
    previous_ = KVRApplicationServices::current();
    KVRApplicationServices::setCurrent(this);
  }
  void uninstall() { KVRApplicationServices::setCurrent(previous_); }

  KVRVortelyManagedProduct* selectedProduct() override { return selected.size() == 1 ? selected[0] : nullptr; }
  std::vector<KVRVortelyManagedProduct*> selectedProducts() override { return selected; }
  std::vector<KVRVortelyManagedProduct*> extendedSelectedProducts() override { return extended; }
  std::vector<KVRStoreAccount*> selectedAccounts() override { return accounts; }
  bool isAccountSelected() override { return accountSelected; }
  bool shouldUpdateRankings() override { return true; }
  void refreshProductsList() override {}

 private:
  KVRApplicationServices* previous_ = nullptr;
};
