#pragma once
// What the screens ask of the application delegate: the product-list selection
// and a few application-wide settings. The main controller implements it; tests
// put a fake in its place with setCurrent().
#include <QString>
#include <mutex>
#include <vector>

class KVRVortelyManagedProduct;
struct KVRStoreAccount;

class KVRApplicationServices {
 public:
  virtual ~KVRApplicationServices() = default;

  // The product of the selected row, or null when no row is selected or the
  // row is not a product.
  virtual KVRVortelyManagedProduct* selectedProduct() = 0;
  // The products among the selected rows (account and group rows skipped).
  virtual std::vector<KVRVortelyManagedProduct*> selectedProducts() = 0;
  // The selected products with group and account rows expanded to their products.
  virtual std::vector<KVRVortelyManagedProduct*> extendedSelectedProducts() = 0;
  // The account of each selected product that has one, and each selected account row.
  virtual std::vector<KVRStoreAccount*> selectedAccounts() = 0;
  // YES when the selected row is a store account row.
  virtual bool isAccountSelected() = 0;
  // YES once the start-up data load has finished.
  virtual bool shouldUpdateRankings() = 0;
  virtual void refreshProductsList() = 0;

  // The boolean user default "KVRVortelyRoundValues": money shown in whole units.
  virtual bool roundCurrencyValues();
  // The one path that saves the database: every change in one transaction;
  // false with the reason when it failed. The data manager's save by default.
  virtual bool saveDB(QString* error);
  // Serialises every use of the shared formatters.
  std::recursive_mutex& formatterLock() { return formatterLock_; }
  // The current delegate's formatter lock, held until the returned lock ends;
  // an empty lock when there is no delegate.
  static std::unique_lock<std::recursive_mutex> lockFormatters();

  static KVRApplicationServices* current();
  static void setCurrent(KVRApplicationServices* services);

 private:
  std::recursive_mutex formatterLock_;
};
