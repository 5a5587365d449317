#pragma once
// The account and product boxes of the overview: the selected store accounts
// (name, icon, all-time totals of their products, money counter, star
// ratings) and the shown products (icon, all-time totals, star ratings).
// Unlike the rest of the overview the boxes show all-time totals.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <array>
#include <vector>

class KVRVortelyManagedProduct;
struct KVRStoreAccount;

struct KVRBoxesInput {
  std::vector<KVRVortelyManagedProduct*> extendedProducts;  // E
  std::vector<KVRVortelyManagedProduct*> selectedProducts;  // S
  std::vector<KVRStoreAccount*> accounts;                   // Acc
  bool roundCurrency = false;
  QString currencySymbol;
  bool ratingsLoaded = false;
};

struct KVRBoxesDisplay {
  QString accountName;
  QString accountIconName;     // stock image name
  QByteArray accountIconData;  // the one selected account's own icon, when it has one
  QString accountTotalSales, accountTotalUpgrades, accountTotalIncome;
  QString accountCurrencySymbol;
  double globalCounterValue = 0;  // the account income sum, as accountTotalIncome
  bool roundCurrency = false;

  QString productIconName;  // stock image name; empty when productImage is shown
  QImage productImage;      // the one shown product's own icon
  QString productTotalSales, productTotalUpgrades, productTotalIncome;
  QString productCurrencySymbol;
  QString revenuesLabel;  // "Revenues (€)"

  // Star votes per level (1 to 5 stars) and the new votes since the last read.
  // Only meaningful when the ratings are loaded; otherwise the star views keep
  // what they show and the ratings load is asked for.
  bool ratingsAvailable = false;
  std::array<int, 5> accountRatings{}, accountNewRatings{}, productRatings{}, productNewRatings{};
};

KVRBoxesDisplay KVRMakeBoxesDisplay(const KVRBoxesInput& in);

// The product box's three totals over the shown products (S when not empty,
// else E): "--" each when no shown product belongs to an account. The reload
// writes the same labels when it starts. Sums in double precision (the same
// accounts' box shows the same digits).
struct KVRProductTotalsTexts {
  QString sales, upgrades, income;
  bool hasAccount = false;
  bool initialized = false;  // some shown product's history is built
  double incomeSum = 0;      // the unrounded income sum
};
KVRProductTotalsTexts KVRProductTotalsForShownProducts(const std::vector<KVRVortelyManagedProduct*>& shown,
                                                       bool roundCurrency);
