#pragma once
// The shared owner of the database (one SQLite file in the support folder) and
// of its one context: every entity object lives here. Every thread takes the
// context lock around each access; it is re-entrant on the same thread.
// Saves write every change in one transaction.
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/KVREntities.h"
#include "core/KVRSharedValuesIndex.h"
#include "core/KVRVortelyManagedProduct.h"

namespace SQLite {
class Statement;
}

class KVRVortelyCoreDataManager {
 public:
  static KVRVortelyCoreDataManager& sharedInstance();

  // The database file in the support folder.
  static QString defaultStorePath();
  // Opens (creating when missing) the database and loads its objects. A file
  // that is not a database of ours, or is plainly damaged, is left untouched
  // (no log or shared-memory file is left beside it): false with a reason in
  // *error, and the context stays empty. The integrity check of a sound
  // looking file goes on after the open (waitForIntegrityCheck). While another program holds the file's lock it
  // waits up to the busy time-out, telling waitingForLock once when it starts
  // waiting (from one of the threads of the open). Any thread; it holds the
  // context lock throughout.
  bool openStore(const QString& path, QString* error, std::function<void()> waitingForLock = {});
  // How long an open or a save waits for another program's lock (10 s).
  void setBusyTimeoutMs(int ms) { busyTimeoutMs_.store(ms); }
  // What the last open left out because a line's count or amount is not a
  // number the line can hold: a title and a text naming a few of the reports
  // concerned with their count. Given once; empty when nothing was left out.
  struct LoadNotice {
    QString title, text;
  };
  std::optional<LoadNotice> takeLoadNotice();
  // Waits for the integrity check of the open file, which runs on its own
  // thread from the end of the open: false with the reason when the file is
  // damaged. Nothing is written to the file before the check has passed (a
  // save or edit waits for it) and nothing at all once it has failed; the
  // caller then closes the store, which leaves the file as it was. True when
  // no check is pending. Any thread; takes no lock a caller may hold.
  bool waitForIntegrityCheck(QString* problems = nullptr);
  bool isOpen() const;
  QString storePath() const;
  void closeStore();
  // Writes every inserted, changed and deleted object in one transaction.
  bool save(QString* error);
  bool hasChanges() const;

  std::recursive_mutex& contextLock() { return contextLock_; }

  // Objects of the context (take the context lock while using them off the main thread).
  std::vector<KVRStoreAccount*> accounts() const;
  std::vector<KVRVortelyManagedProduct*> products() const;
  std::vector<KVRReport*> reports() const;

  // Reports of type 5.
  std::vector<KVRReport*> paymentReports();
  // The first report of that file name; a new one when none (never null).
  KVRReport* reportWithName(const QString& filename);
  // Always inserts a new line (forceCreate is not consulted) with its begin
  // date, currency, country and type; a type of 11 or more is stored minus 10
  // and marks the product "E-Book", type 4 marks it "In-App Purchase". The
  // caller attaches it to the report (and product); a line listed by the
  // report or product it was made for and not pointing back gets it on save.
  KVRReportEntry* reportEntryInReport(KVRReport* report, KVRVortelyManagedProduct* product, KVRDate date,
                                      const QString& country, const QString& currency, int type,
                                      bool forceCreate);
  // Sum of count x income of the report's lines in the preferred currency, / 100.
  float incomeValueForReport(KVRReport* report);
  void deleteObject(KVRManagedObject* object);
  // Deletes the reports with their lines; every product that held one of
  // their lines forgets its financial reports (they are listed again on next
  // use). Reports already deleted are skipped.
  void deleteReportsResettingProducts(const std::vector<KVRReport*>& reports);

  // Inserting objects (they are saved with the next save).
  KVRStoreAccount* insertStoreAccount();
  KVRVortelyManagedProduct* insertProduct(KVRStoreAccount* account);
  KVRReport* insertReport();
  KVRReportEntry* insertReportEntry(KVRReport* report, KVRVortelyManagedProduct* product);
  KVRiAdReportEntry* insertIAdReportEntry(KVRReport* report, KVRVortelyManagedProduct* product);
  KVRRating* insertRating(KVRVortelyManagedProduct* product);
  KVRCost* insertCost(KVRVortelyManagedProduct* product);
  KVRPartner* insertPartner(KVRVortelyManagedProduct* product);
  // Records that a persistent attribute of the object changed.
  void markChanged(KVRManagedObject* object);

  // --- User edits, saved at once ---
  // Each writes its own rows in one transaction under the context lock and
  // changes the objects only once the write has succeeded (an object not yet
  // in the file goes with a whole save instead). On failure the objects keep
  // what they had and the reason is in *error.
  struct ReportState {
    int status = KVRReportStatusEstimated;
    float pointedIncome = -1.0f;
    KVRDate pointedDate;
    QString pointedAccount;
  };
  bool saveReportState(KVRReport* report, const ReportState& state, QString* error);
  // The new cost or partner of the product, saved; null on failure.
  KVRCost* addCost(KVRVortelyManagedProduct* product, const QString& name, double value, QString* error);
  KVRPartner* addPartner(KVRVortelyManagedProduct* product, const QString& name, double cost, double royalties,
                         QString* error);

  // Loads every product's rating cache, then posts KVRVortelyRatingsHaveBeenLoaded
  // on the main thread. At most one load runs at a time.
  void loadRatings();
  bool ratingsLoaded() const { return ratingsLoaded_.load(); }
  // Whether a ratings load has begun (it may still wait for the context lock).
  bool ratingsLoading() const { return ratingsLoading_.load(); }

  // The shared values index of every product's built history.
  KVRSharedValuesIndex& valuesByCountryAndDate() { return valuesIndex_; }

 private:
  KVRVortelyCoreDataManager();
  ~KVRVortelyCoreDataManager();
  struct Impl;
  // addCost and addPartner: a product not yet in the file saves the new
  // object with the whole context; otherwise its row alone is inserted
  // (`sql` with the product's id as its first value, then what bindValues
  // binds) before the object is made. fill sets the object's own values.
  template <typename T>
  T* addSavedToProduct(KVRVortelyManagedProduct* product, QString* error,
                       T* (KVRVortelyCoreDataManager::*insert)(KVRVortelyManagedProduct*),
                       void (KVRVortelyManagedProduct::*attach)(T*), const char* sql,
                       const std::function<void(SQLite::Statement&)>& bindValues, const std::function<void(T*)>& fill);
  std::unique_ptr<Impl> d_;
  std::recursive_mutex contextLock_;
  std::atomic<bool> ratingsLoaded_{false};
  std::atomic<bool> ratingsLoading_{false};
  std::atomic<int> busyTimeoutMs_;
  KVRSharedValuesIndex valuesIndex_;
};
