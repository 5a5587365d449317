#pragma once
// What the shell needs of the financial statements screen: enabling its
// options with the empty states, printing, and the two exports of the export
// sheet. The screen implements it; until it exists the shell has none.
#include <QString>
#include <vector>

class KVRVortelyManagedProduct;

class KVRFinancialStatementsController {
 public:
  virtual ~KVRFinancialStatementsController() = default;

  virtual void setOptionsEnabled(bool enabled) = 0;
  // False when nothing was printed: with a reason when the print failed, none
  // when the user cancelled it.
  virtual bool print(QString* error) = 0;

  // Both write into the folder; filterProducts null exports every product.
  // They answer false with a reason when the files could not be written.
  virtual bool exportVisibleDatesReportsToPath(const QString& folder,
                                               const std::vector<KVRVortelyManagedProduct*>* filterProducts,
                                               QString* error) = 0;
  virtual bool exportYearlyArchiveToPath(const QString& folder,
                                         const std::vector<KVRVortelyManagedProduct*>* filterProducts,
                                         QString* error) = 0;
};
