#pragma once
// Builds the financial statement (KVRFinancialStatement) from the product-list
// selection and the store.
//
// Financial reports (type 4) of the selected products, each once, in begin
// date order (then id), their lines in id order:
//  - a selected products' report whose file name begins with "Zuvo" is put aside (deleted by
//    applyStoreChanges);
//  - a report's month is its begin date + 15 days; its region the part of its
//    file name after the last "_" (extension removed), else each line's from
//    its currency ("WW" for a currency without region); a line with neither
//    counts nowhere;
//  - a line's amount is (count x income, single precision, + 0.0001 in double)
//    / 100 in the report currency, converted once into the preferred currency;
//    the selected products' lines add to the month's vectors and to the year
//    tables, in single precision, in that order.
// Payment reports (type 5) of the selected accounts, in the begin date order
// of their Payment lines (then id), each account on its own:
//  - paid amount, conversion, reconciliation ratio, Japanese ratio against the
//    account's estimate (every line of every financial report of the account,
//    whatever products are selected);
//  - a payment larger than its month's estimate also covers the months before
//    it, until the remainder equals that month's estimate, 0, or the payment
//    month's own estimate one hundredth either way; and only as long as the
//    remainder is above 0 and above that month's estimate plus one
//    hundredth, never into a month that had a payment of its own;
//  - each account's figures are its own (its estimates, payments, ratios and
//    covered months); a month's figure is the sum of the accounts'.
// Months: those of the selected products' reports, with the payment months
// merged in when an account row is selected. iAd payments add to the year's
// "IAD" row (and to "All"), and fill the month's IAD slots when only an account
// is selected.
//
// build() returns on the calling thread; the report lines are read on a few
// threads of its own (joined before it returns), the sums made in the order
// above on the calling thread. The store is read under the context lock and
// not changed by build().
#include <QString>
#include <functional>
#include <vector>

#include "core/KVRCalculationServices.h"
#include "financial/KVRFinancialStatement.h"
#include "platform/KVRDate.h"

class KVRApplicationServices;
class KVRVortelyCoreDataManager;
class KVRVortelyManagedProduct;
struct KVRStoreAccount;

struct KVRReport;
struct KVRReportEntry;

// The region code a file name ends in: the part after its last "_", the
// extension removed. A view into `filename`.
QStringView KVRRegionPartOfFileName(QStringView filename);

// A report's line of the given type with the lowest id (unsaved lines, id 0,
// after the saved ones; the first in list order among equals), or null.
const KVRReportEntry* KVRFirstLineOfType(const KVRReport* r, int type);

// What the statement is built for: the product list's selection.
struct KVRFinancialSelection {
  std::vector<KVRVortelyManagedProduct*> products;  // extendedSelectedProducts
  std::vector<KVRStoreAccount*> accounts;           // selectedAccounts
  bool productsSelected = false;                    // selectedProducts is not empty
  bool accountSelected = false;                     // isAccountSelected

  static KVRFinancialSelection fromServices(KVRApplicationServices& services);
};

class KVRFinancialStatementBuilder {
 public:
  // The shared data manager and services by default.
  KVRFinancialStatementBuilder();
  explicit KVRFinancialStatementBuilder(KVRVortelyCoreDataManager& dataManager,
                                        const KVRCalculationServices& services = KVRCalculationServices::shared());

  // The statement of the selection. `now` dates a reconciled payment that has
  // no date of its own (the current time when not given).
  KVRFinancialStatement build(const KVRFinancialSelection& selection, KVRDate now = KVRDate()) const;

  // Makes the statement's store changes under the context lock: the payment
  // reports' begin dates, and the deletion of the reports put aside with
  // their lines (the products that listed them forget their financial
  // reports). True when anything changed.
  bool applyStoreChanges(const KVRStatementStoreChanges& changes) const;

  // build, then applyStoreChanges, then, when anything changed, `save` (the
  // application's save of the database, one transaction). A failed save
  // leaves its reason in *error; the statement is returned either way.
  KVRFinancialStatement rebuild(const KVRFinancialSelection& selection,
                                const std::function<bool(QString*)>& save, QString* error,
                                KVRDate now = KVRDate()) const;

 private:
  KVRVortelyCoreDataManager& dm_;
  KVRCalculationServices services_;
};
