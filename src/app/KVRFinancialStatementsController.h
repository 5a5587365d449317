#pragma once
// What the shell needs of the financial statements screen: enabling its
// options with the empty states, printing, and the two exports of the export
// sheet. The screen implements it; until it exists the shell has none.
#include <QString>
#include <vector>

class KVRVortelyManagedProduct;

// How an export ended, with the message that tells the user.
struct KVRExportOutcome {
  enum Kind { Written, NothingWritten, Failed };
  Kind kind = Failed;
  QString title, text;
};

class KVRFinancialStatementsController {
 public:
  virtual ~KVRFinancialStatementsController() = default;

  virtual void setOptionsEnabled(bool enabled) = 0;
  // False when nothing was printed: with a reason when the print failed, none
  // when the user cancelled it.
  virtual bool print(QString* error) = 0;
  // Whether the statement on show holds any month: something to print or
  // export. Print and Export are disabled without one.
  virtual bool hasMonths() const { return true; }
  // Whether a rebuild waits for the screen to be shown: hasMonths() then
  // speaks of the selection before the last one.
  virtual bool rebuildPending() const { return false; }

  // Both write into the folder; filterProducts null exports every product.
  // The outcome says what was written where, what was left out and why, or
  // why nothing was written.
  virtual KVRExportOutcome exportVisibleDatesReportsToPath(
      const QString& folder, const std::vector<KVRVortelyManagedProduct*>* filterProducts) = 0;
  virtual KVRExportOutcome exportYearlyArchiveToPath(const QString& folder,
                                                     const std::vector<KVRVortelyManagedProduct*>* filterProducts) = 0;
};
