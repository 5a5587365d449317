// The data manager on a real database file: what a save writes comes back
// whole after a reopen, damaged or foreign files are refused and left as they
// were, and the helper operations keep the context consistent.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRDatabaseSchema.h"
#include "core/KVRNotifications.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRNotificationCenter.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.readAll();
}

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("Vortely.sqlite");
  }
  void TearDown() override { dm().closeStore(); }

  void openOrDie() {
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
  }
  void saveOrDie() {
    QString error;
    ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  }
  void reopen() {
    dm().closeStore();
    openOrDie();
  }

  QTemporaryDir dir_;
  QString path_;
};

KVRVortelyManagedProduct* productWithStoreId(int64_t idStore) {
  for (KVRVortelyManagedProduct* p : dm().products())
    if (p->idStore == idStore) return p;
  return nullptr;
}

KVRReport* reportNamed(const QString& name) {
  for (KVRReport* r : dm().reports())
    if (r->filename == name) return r;
  return nullptr;
}

// One of every kind of object, with every attribute set to a telling value.
void fillEveryKind() {
  KVRStoreAccount* a = dm().insertStoreAccount();
  a->name = "Main account";
  a->developer = "Pelliro Soft";
  a->login = "me@example.com";
  a->password = "KEYCHAIN";
  a->icon = QByteArray("\x89PNG\0\1\2", 7);

  KVRVortelyManagedProduct* p = dm().insertProduct(a);
  p->idStore = 4000000001LL;  // beyond 32 bits
  p->name = QString::fromUtf8("Écrits — 日本");
  p->category = "Games";
  p->bundleIdentifier = "com.example.ecrits";
  p->version = "2.1";
  p->free = true;
  p->firstDate = KVRDate(1300000000000.0);
  p->lastDate = KVRDate(1400000000000.5);
  p->iconData = QByteArray("icon", 4);

  KVRVortelyManagedProduct* followed = dm().insertProduct(nullptr);
  followed->idStore = 77;
  followed->name = "Followed";

  KVRReport* r = dm().insertReport();
  r->filename = "Pelliro Soft-80012345_0312_EU.txt";
  r->type = KVRReportTypeFinancial;
  r->beginDate = KVRDate(1330000000000.0);
  r->endDate = KVRDate(1332000000000.0);
  r->account = a;
  r->status = KVRReportStatusPointed;
  r->pointedIncome = 123.25f;
  r->pointedDate = KVRDate(1335000000000.0);
  r->pointedAccount = "Bank EUR";

  KVRReportEntry* e = dm().insertReportEntry(r, p);
  e->type = KVREntryTypeRefund;
  e->subType = KVREntrySubTypeGiftRedemption;
  e->count = -3;
  e->income = 279;
  e->currency = "EUR";
  e->country = "FR";
  e->beginDate = KVRDate(1330000000000.0);
  // endDate left absent

  KVRiAdReportEntry* ad = dm().insertIAdReportEntry(r, p);
  ad->date = KVRDate(1331000000000.0);
  ad->country = "US";
  ad->revenue = 1.5f;
  ad->requests = 1000.f;
  ad->impressions = 900.f;
  ad->fillRate = 90.f;
  ad->ctr = 0.25f;
  ad->eCPM = 1.6666666f;

  KVRRating* rating = dm().insertRating(p);
  rating->country = "143441";
  rating->stars = 4;
  rating->allVersions = false;
  rating->count = 12;
  rating->newCount = 2;

  KVRCost* c = dm().insertCost(p);
  c->name = "Design";
  c->value = 1500.75;
  KVRPartner* x = dm().insertPartner(p);
  x->name = "Artist";
  x->cost = 10;
  x->royalties = 0.125;
}

}  // namespace

TEST_F(DatabaseTest, EveryAttributeAndRelationshipSurvivesSaveAndReopen) {
  openOrDie();
  fillEveryKind();
  EXPECT_TRUE(dm().hasChanges());
  saveOrDie();
  EXPECT_FALSE(dm().hasChanges());
  reopen();

  ASSERT_EQ(dm().accounts().size(), 1u);
  KVRStoreAccount* a = dm().accounts()[0];
  EXPECT_GT(a->objectID, 0);
  EXPECT_EQ(a->name, "Main account");
  EXPECT_EQ(a->developer, "Pelliro Soft");
  EXPECT_EQ(a->login, "me@example.com");
  EXPECT_EQ(a->password, "KEYCHAIN");
  EXPECT_EQ(a->icon, QByteArray("\x89PNG\0\1\2", 7));

  ASSERT_EQ(dm().products().size(), 2u);
  KVRVortelyManagedProduct* p = productWithStoreId(4000000001LL);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->name, QString::fromUtf8("Écrits — 日本"));
  EXPECT_EQ(p->category, "Games");
  EXPECT_EQ(p->bundleIdentifier, "com.example.ecrits");
  EXPECT_EQ(p->version, "2.1");
  EXPECT_TRUE(p->free);
  EXPECT_EQ(p->firstDate.ms, 1300000000000.0);
  EXPECT_EQ(p->lastDate.ms, 1400000000000.5);
  EXPECT_EQ(p->iconData, QByteArray("icon"));
  EXPECT_EQ(p->account, a);
  ASSERT_EQ(a->products.size(), 1u);
  EXPECT_EQ(a->products[0], p);

  KVRVortelyManagedProduct* followed = productWithStoreId(77);
  ASSERT_NE(followed, nullptr);
  EXPECT_EQ(followed->account, nullptr);
  EXPECT_FALSE(followed->free);
  EXPECT_FALSE(followed->firstDate.isValid());
  EXPECT_TRUE(followed->bundleIdentifier.isNull());

  ASSERT_EQ(dm().reports().size(), 1u);
  KVRReport* r = dm().reports()[0];
  EXPECT_EQ(r->filename, "Pelliro Soft-80012345_0312_EU.txt");
  EXPECT_EQ(r->type, KVRReportTypeFinancial);
  EXPECT_EQ(r->beginDate.ms, 1330000000000.0);
  EXPECT_EQ(r->endDate.ms, 1332000000000.0);
  EXPECT_EQ(r->account, a);
  EXPECT_EQ(r->status, KVRReportStatusPointed);
  EXPECT_EQ(r->pointedIncome, 123.25f);
  EXPECT_EQ(r->pointedDate.ms, 1335000000000.0);
  EXPECT_EQ(r->pointedAccount, "Bank EUR");

  ASSERT_EQ(r->entries.size(), 1u);
  ASSERT_EQ(p->entries.size(), 1u);
  KVRReportEntry* e = r->entries[0];
  EXPECT_EQ(p->entries[0], e);
  EXPECT_EQ(e->product, p);
  EXPECT_EQ(e->report, r);
  EXPECT_EQ(e->type, KVREntryTypeRefund);
  EXPECT_EQ(e->subType, KVREntrySubTypeGiftRedemption);
  EXPECT_EQ(e->count, -3);
  EXPECT_EQ(e->income, 279);
  EXPECT_EQ(e->currency, "EUR");
  EXPECT_EQ(e->country, "FR");
  EXPECT_EQ(e->beginDate.ms, 1330000000000.0);
  EXPECT_FALSE(e->endDate.isValid());

  ASSERT_EQ(p->iAdEntries.size(), 1u);
  KVRiAdReportEntry* ad = p->iAdEntries[0];
  EXPECT_EQ(ad->product, p);
  EXPECT_EQ(ad->report, r);
  EXPECT_EQ(ad->date.ms, 1331000000000.0);
  EXPECT_EQ(ad->country, "US");
  EXPECT_EQ(ad->revenue, 1.5f);
  EXPECT_EQ(ad->requests, 1000.f);
  EXPECT_EQ(ad->impressions, 900.f);
  EXPECT_EQ(ad->fillRate, 90.f);
  EXPECT_EQ(ad->ctr, 0.25f);
  EXPECT_EQ(ad->eCPM, 1.6666666f);

  ASSERT_EQ(p->ratings.size(), 1u);
  EXPECT_EQ(p->ratings[0]->product, p);
  EXPECT_EQ(p->ratings[0]->country, "143441");
  EXPECT_EQ(p->ratings[0]->stars, 4);
  EXPECT_FALSE(p->ratings[0]->allVersions);
  EXPECT_EQ(p->ratings[0]->count, 12);
  EXPECT_EQ(p->ratings[0]->newCount, 2);
  ASSERT_EQ(p->costs.size(), 1u);
  EXPECT_EQ(p->costs[0]->product, p);
  EXPECT_EQ(p->costs[0]->name, "Design");
  EXPECT_EQ(p->costs[0]->value, 1500.75);
  ASSERT_EQ(p->partners.size(), 1u);
  EXPECT_EQ(p->partners[0]->product, p);
  EXPECT_EQ(p->partners[0]->name, "Artist");
  EXPECT_EQ(p->partners[0]->cost, 10);
  EXPECT_EQ(p->partners[0]->royalties, 0.125);
}

TEST_F(DatabaseTest, ChangesAndCascadingDeletesAreSaved) {
  openOrDie();
  fillEveryKind();
  KVRReport* other = dm().insertReport();
  other->filename = "other";
  KVRVortelyManagedProduct* p = productWithStoreId(4000000001LL);
  KVRReportEntry* kept = dm().insertReportEntry(other, p);
  kept->count = 5;
  saveOrDie();
  reopen();

  // A change is written only when marked.
  p = productWithStoreId(4000000001LL);
  p->name = "Renamed";
  dm().markChanged(p);
  KVRReport* fin = reportNamed("Pelliro Soft-80012345_0312_EU.txt");
  ASSERT_NE(fin, nullptr);
  fin->status = KVRReportStatusNotConverted;
  fin->pointedIncome = -1;
  dm().markChanged(fin);
  saveOrDie();
  reopen();
  p = productWithStoreId(4000000001LL);
  EXPECT_EQ(p->name, "Renamed");
  fin = reportNamed("Pelliro Soft-80012345_0312_EU.txt");
  EXPECT_EQ(fin->status, KVRReportStatusNotConverted);
  EXPECT_EQ(fin->pointedIncome, -1.0f);

  // Deleting a report takes its lines and ad lines, in memory and in the file.
  ASSERT_EQ(p->entries.size(), 2u);
  dm().deleteObject(fin);
  EXPECT_EQ(p->entries.size(), 1u);
  EXPECT_EQ(p->entries[0]->count, 5);
  EXPECT_TRUE(p->iAdEntries.empty());
  EXPECT_EQ(dm().reports().size(), 1u);
  saveOrDie();
  reopen();
  p = productWithStoreId(4000000001LL);
  ASSERT_EQ(p->entries.size(), 1u);
  EXPECT_EQ(p->entries[0]->count, 5);
  EXPECT_TRUE(p->iAdEntries.empty());
  EXPECT_EQ(p->ratings.size(), 1u);

  // Deleting a product takes its lines (out of their report too), ratings,
  // costs and partners; the report stays.
  dm().deleteObject(p);
  KVRReport* otherReport = reportNamed("other");
  ASSERT_NE(otherReport, nullptr);
  EXPECT_TRUE(otherReport->entries.empty());
  EXPECT_TRUE(dm().accounts()[0]->products.empty());
  saveOrDie();
  reopen();
  EXPECT_EQ(dm().products().size(), 1u);
  EXPECT_NE(reportNamed("other"), nullptr);
  SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READONLY);
  for (const char* table : {"ReportEntry", "iAdReportEntry", "Rating", "Cost", "Partner"})
    EXPECT_EQ(raw.execAndGet(std::string("SELECT count(*) FROM ") + table).getInt(), 0) << table;
}

TEST_F(DatabaseTest, DeletingAnAccountTakesItsProductsAndReports) {
  openOrDie();
  fillEveryKind();
  saveOrDie();
  dm().deleteObject(dm().accounts()[0]);
  EXPECT_TRUE(dm().accounts().empty());
  ASSERT_EQ(dm().products().size(), 1u);  // the followed product has no account
  EXPECT_TRUE(dm().reports().empty());
  saveOrDie();
  reopen();
  EXPECT_TRUE(dm().accounts().empty());
  ASSERT_EQ(dm().products().size(), 1u);
  EXPECT_EQ(dm().products()[0]->idStore, 77);
  EXPECT_TRUE(dm().reports().empty());
}

TEST_F(DatabaseTest, InsertedThenDeletedObjectsNeverReachTheFile) {
  openOrDie();
  KVRReport* r = dm().insertReport();
  KVRVortelyManagedProduct* p = dm().insertProduct(nullptr);
  dm().insertReportEntry(r, p);
  dm().deleteObject(r);
  dm().deleteObject(p);
  saveOrDie();
  reopen();
  EXPECT_TRUE(dm().reports().empty());
  EXPECT_TRUE(dm().products().empty());
}

TEST_F(DatabaseTest, FailedSaveWritesNothingAndKeepsTheChangesForTheNextOne) {
  openOrDie();
  fillEveryKind();
  saveOrDie();
  KVRVortelyManagedProduct* p = productWithStoreId(77);
  p->name = "Renamed";
  dm().markChanged(p);
  KVRReport* r = dm().insertReport();
  r->filename = "new report";
  KVRReportEntry* e = dm().insertReportEntry(r, p);
  e->count = 42;
  dm().insertCost(p)->name = "New cost";
  {
    // Someone else's change makes the last step of the save fail.
    SQLite::Database other(path_.toStdString(), SQLite::OPEN_READWRITE);
    other.exec("ALTER TABLE Cost RENAME TO CostAway");
  }
  QString error;
  EXPECT_FALSE(dm().save(&error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(dm().hasChanges());
  EXPECT_EQ(r->objectID, 0);  // the ids given inside the failed transaction are taken back
  EXPECT_EQ(e->objectID, 0);
  {
    SQLite::Database other(path_.toStdString(), SQLite::OPEN_READWRITE);
    EXPECT_EQ(other.execAndGet("SELECT count(*) FROM Report").getInt(), 1);
    EXPECT_EQ(other.execAndGet("SELECT name FROM Product WHERE idStore = 77").getString(), "Followed");
    other.exec("ALTER TABLE CostAway RENAME TO Cost");
  }
  saveOrDie();
  reopen();
  EXPECT_EQ(productWithStoreId(77)->name, "Renamed");
  ASSERT_NE(reportNamed("new report"), nullptr);
  ASSERT_EQ(reportNamed("new report")->entries.size(), 1u);
  EXPECT_EQ(reportNamed("new report")->entries[0]->count, 42);
  EXPECT_EQ(productWithStoreId(77)->costs.size(), 1u);
}

TEST_F(DatabaseTest, LargeStoreReadsBackInRowOrder) {
  // Enough lines for the load to split them between threads.
  openOrDie();
  KVRVortelyManagedProduct* a = dm().insertProduct(nullptr);
  a->idStore = 1;
  KVRVortelyManagedProduct* b = dm().insertProduct(nullptr);
  b->idStore = 2;
  std::vector<KVRReport*> reports;
  for (int i = 0; i < 300; ++i) reports.push_back(dm().insertReport());
  const int lines = 260000;
  for (int i = 0; i < lines; ++i) {
    KVRReportEntry* e = dm().insertReportEntry(reports[size_t(i / 1000 % 300)], i % 3 ? a : b);
    e->count = i;
    e->country = i % 2 ? "US" : "FR";
  }
  saveOrDie();
  reopen();
  size_t total = 0;
  for (KVRVortelyManagedProduct* p : dm().products()) {
    int last = -1;
    for (KVRReportEntry* e : p->entries) {
      EXPECT_GT(e->count, last);
      last = e->count;
      ASSERT_EQ(e->product, p);
      ASSERT_EQ(p->idStore == 1, e->count % 3 != 0);
      ASSERT_EQ(e->country, e->count % 2 ? "US" : "FR");
    }
    total += p->entries.size();
  }
  EXPECT_EQ(total, size_t(lines));
  total = 0;
  for (KVRReport* r : dm().reports()) {
    int last = -1;
    for (KVRReportEntry* e : r->entries) {
      ASSERT_GT(e->count, last);
      last = e->count;
      ASSERT_EQ(e->report, r);
    }
    total += r->entries.size();
  }
  EXPECT_EQ(total, size_t(lines));
}

TEST_F(DatabaseTest, LineListedInAReportGetsItOnSave) {
  openOrDie();
  KVRReport* r = dm().insertReport();
  r->filename = "r";
  KVRVortelyManagedProduct* p = dm().insertProduct(nullptr);
  p->idStore = 5;
  KVRReportEntry* e = dm().reportEntryInReport(r, p, KVRDate(0.0), "US", "USD", 1, true);
  // The importer's way: the line is added to the report's lines and given its product.
  r->entries.push_back(e);
  e->product = p;
  p->entries.push_back(e);
  saveOrDie();
  EXPECT_EQ(e->report, r);
  reopen();
  ASSERT_EQ(dm().reports()[0]->entries.size(), 1u);
  EXPECT_EQ(dm().reports()[0]->entries[0]->product, dm().products()[0]);
}

TEST_F(DatabaseTest, ReportEntryInReportSetsFieldsAndMarksCategories) {
  openOrDie();
  KVRReport* r = dm().reportWithName("Dev-S_D_1_20120101");
  KVRVortelyManagedProduct* book = dm().insertProduct(nullptr);
  book->category = "Books";
  KVRVortelyManagedProduct* iap = dm().insertProduct(nullptr);
  iap->category = "Games";

  KVRReportEntry* e = dm().reportEntryInReport(r, book, KVRDate(1000.0), "DE", "EUR", 11, false);
  EXPECT_EQ(e->type, 1);
  EXPECT_EQ(book->category, "E-Book");
  EXPECT_EQ(e->beginDate.ms, 1000.0);
  EXPECT_EQ(e->country, "DE");
  EXPECT_EQ(e->currency, "EUR");
  EXPECT_EQ(e->report, nullptr);
  EXPECT_TRUE(r->entries.empty());  // the caller attaches it

  e = dm().reportEntryInReport(r, iap, KVRDate(2000.0), "JP", "JPY", 4, false);
  EXPECT_EQ(e->type, 4);
  EXPECT_EQ(iap->category, "In-App Purchase");

  KVRVortelyManagedProduct* plain = dm().insertProduct(nullptr);
  plain->category = "Utilities";
  dm().reportEntryInReport(r, plain, KVRDate(0.0), "US", "USD", 1, false);
  dm().reportEntryInReport(r, plain, KVRDate(0.0), "US", "USD", 10, false);
  EXPECT_EQ(plain->category, "Utilities");

  // No product: the type is still reduced, nothing is marked, nothing breaks.
  e = dm().reportEntryInReport(r, nullptr, KVRDate(), "US", "USD", 13, false);
  EXPECT_EQ(e->type, 3);
  e = dm().reportEntryInReport(nullptr, nullptr, KVRDate(), QString(), QString(), 4, true);
  EXPECT_EQ(e->type, 4);

  // A marked category of a saved product reaches the file.
  saveOrDie();
  iap->category = "Games";
  dm().markChanged(iap);
  saveOrDie();
  dm().reportEntryInReport(r, iap, KVRDate(), "US", "USD", 4, false);
  saveOrDie();
  const int64_t iapId = iap->objectID;
  reopen();
  for (KVRVortelyManagedProduct* p : dm().products()) {
    if (p->objectID == iapId) {
      EXPECT_EQ(p->category, "In-App Purchase");
    }
  }
}

TEST_F(DatabaseTest, ReportWithNameAndPaymentReports) {
  openOrDie();
  KVRReport* a = dm().reportWithName("Dev-payment_1");
  a->type = KVRReportTypePayment;
  EXPECT_EQ(a->filename, "Dev-payment_1");
  EXPECT_EQ(dm().reportWithName("Dev-payment_1"), a);
  KVRReport* b = dm().reportWithName("Dev-daily");
  b->type = KVRReportTypeDaily;
  EXPECT_NE(a, b);
  KVRReport* c = dm().insertReport();
  c->type = KVRReportTypePayment;
  const auto payments = dm().paymentReports();
  ASSERT_EQ(payments.size(), 2u);
  EXPECT_EQ(payments[0], a);
  EXPECT_EQ(payments[1], c);

  // Names follow renames (marked), deletions and duplicates (the first one counts).
  c->filename = "Dev-payment_1";
  EXPECT_EQ(dm().reportWithName("Dev-payment_1"), a);
  a->filename = "Dev-payment_old";
  dm().markChanged(a);
  EXPECT_EQ(dm().reportWithName("Dev-payment_1"), c);
  EXPECT_EQ(dm().reportWithName("Dev-payment_old"), a);
  dm().deleteObject(c);
  KVRReport* fresh = dm().reportWithName("Dev-payment_1");
  EXPECT_NE(fresh, c);
  EXPECT_EQ(fresh->filename, "Dev-payment_1");
  saveOrDie();
  reopen();
  EXPECT_EQ(dm().reportWithName("Dev-daily")->type, KVRReportTypeDaily);
  EXPECT_EQ(dm().reports().size(), 3u);
}

TEST_F(DatabaseTest, IncomeValueForReportConvertsEachLine) {
  openOrDie();
  auto& converter = KVRVortelyCurrencyConverter::sharedInstance();
  converter.removeAllRates();
  converter.setRate("USD", "EUR", 0.5);
  KVRReport* r = dm().insertReport();
  EXPECT_EQ(dm().incomeValueForReport(r), 0.0f);
  KVRReportEntry* e1 = dm().insertReportEntry(r, nullptr);
  e1->count = 3;
  e1->income = 70;
  e1->currency = "EUR";
  KVRReportEntry* e2 = dm().insertReportEntry(r, nullptr);
  e2->count = -2;
  e2->income = 100;
  e2->currency = "USD";
  // (210 + (-200 x 0.5)) / 100
  EXPECT_FLOAT_EQ(dm().incomeValueForReport(r), 1.1f);
  EXPECT_EQ(dm().incomeValueForReport(nullptr), 0.0f);
  converter.removeAllRates();
}

TEST_F(DatabaseTest, LoadRatingsRunsOnceAtATimeAndAnnouncesOnTheMainThread) {
  openOrDie();
  KVRVortelyManagedProduct* p = dm().insertProduct(nullptr);
  KVRRating* r = dm().insertRating(p);
  r->country = "143441";
  r->stars = 5;
  r->count = 7;

  std::atomic<int> posts{0};
  bool onMain = false;
  int marker = 0;
  KVRNotificationCenter::defaultCenter().addObserver(&marker, KVRVortelyRatingsHaveBeenLoaded, nullptr,
                                                     [&](const KVRNotification& n) {
                                                       ++posts;
                                                       onMain = KVRMainThread::isMainThread();
                                                       EXPECT_EQ(n.object, nullptr);
                                                     });
  EXPECT_FALSE(dm().ratingsLoaded());
  std::thread first;
  {
    // While the first load waits for the context lock, a second call returns
    // at once without loading. The second call is made here, where the
    // (re-entrant) lock is held: should it load after all, it shows as loaded
    // ratings instead of waiting for ever.
    std::lock_guard<std::recursive_mutex> hold(dm().contextLock());
    first = std::thread([] { dm().loadRatings(); });
    const bool firstWaits = KVRMainThread::waitUntil([] { return dm().ratingsLoading(); }, 10.0);
    EXPECT_TRUE(firstWaits) << "the first load never started";
    if (firstWaits) {
      dm().loadRatings();
      EXPECT_FALSE(dm().ratingsLoaded());
    }
  }
  first.join();
  EXPECT_TRUE(dm().ratingsLoaded());
  EXPECT_TRUE(KVRMainThread::waitUntil([&] { return posts.load() > 0; }, 5.0));
  KVRMainThread::waitUntil([] { return false; }, 0.2);
  EXPECT_EQ(posts.load(), 1);
  EXPECT_TRUE(onMain);
  EXPECT_EQ(p->ratingsForCountry()[4], 7);

  // Once finished, a later call loads again.
  dm().loadRatings();
  EXPECT_TRUE(KVRMainThread::waitUntil([&] { return posts.load() == 2; }, 5.0));
  KVRNotificationCenter::defaultCenter().removeObserver(&marker);
}

// ---------------------------------------------------------------------------
// Files that must not be opened

class DatabaseRefusalTest : public DatabaseTest {
 protected:
  void expectRefusedAndUntouched(const QByteArray& original, const char* reasonPart) {
    QString error;
    EXPECT_FALSE(dm().openStore(path_, &error));
    EXPECT_TRUE(error.contains(reasonPart, Qt::CaseInsensitive)) << error.toStdString();
    EXPECT_FALSE(dm().isOpen());
    EXPECT_TRUE(dm().accounts().empty());
    EXPECT_TRUE(dm().products().empty());
    EXPECT_TRUE(dm().reports().empty());
    EXPECT_EQ(fileBytes(path_), original);
    EXPECT_FALSE(QFile::exists(path_ + "-wal"));
    EXPECT_FALSE(QFile::exists(path_ + "-shm"));
    // Refusing again changes nothing either.
    EXPECT_FALSE(dm().openStore(path_, &error));
    EXPECT_EQ(fileBytes(path_), original);
  }

  QByteArray writeSavedStore() {
    openOrDie();
    fillEveryKind();
    for (int i = 0; i < 3000; ++i) {
      KVRReportEntry* e = dm().insertReportEntry(dm().reports()[0], dm().products()[0]);
      e->count = i;
      e->country = "US";
    }
    saveOrDie();
    dm().closeStore();
    return fileBytes(path_);
  }
};

TEST_F(DatabaseRefusalTest, GarbageFile) {
  QByteArray garbage;
  for (int i = 0; i < 8192; ++i) garbage.append(char((i * 7919) & 0xff));
  QFile f(path_);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(garbage);
  f.close();
  expectRefusedAndUntouched(garbage, "not a database");
}

TEST_F(DatabaseRefusalTest, TextFileShorterThanAHeader) {
  QFile f(path_);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("hello\n");
  f.close();
  expectRefusedAndUntouched("hello\n", "not a database");
}

TEST_F(DatabaseRefusalTest, TruncatedDatabase) {
  const QByteArray whole = writeSavedStore();
  ASSERT_GT(whole.size(), 16384);
  const QByteArray cut = whole.left(whole.size() / 2);
  QFile f(path_);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(cut);
  f.close();
  expectRefusedAndUntouched(cut, "damaged");
}

TEST_F(DatabaseRefusalTest, DatabaseShorterThanItsPages) {
  // After a deletion the last pages are free, so the integrity check reads
  // nothing on them: the missing end is seen by the header's page count.
  writeSavedStore();
  {
    SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE);
    raw.exec("DELETE FROM ReportEntry WHERE id > 50");
  }
  ASSERT_FALSE(QFile::exists(path_ + "-wal"));
  const QByteArray whole = fileBytes(path_);
  for (int lost : {100, 4000}) {
    const QByteArray cut = whole.left(whole.size() - lost);
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(cut);
    f.close();
    expectRefusedAndUntouched(cut, "its end is missing");
  }
}

TEST_F(DatabaseRefusalTest, DatabaseCutInsideItsHeader) {
  const QByteArray cut = writeSavedStore().left(60);
  QFile f(path_);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(cut);
  f.close();
  QString error;
  EXPECT_FALSE(dm().openStore(path_, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(fileBytes(path_), cut);
}

TEST_F(DatabaseRefusalTest, NewerLayoutVersion) {
  writeSavedStore();
  {
    SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE);
    raw.exec("PRAGMA user_version = 99");
  }
  const QByteArray bytes = fileBytes(path_);
  expectRefusedAndUntouched(bytes, "newer version");
}

TEST_F(DatabaseRefusalTest, SomeoneElsesDatabase) {
  {
    SQLite::Database raw(path_.toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    raw.exec("CREATE TABLE notes (body TEXT)");
    raw.exec("INSERT INTO notes VALUES ('keep me')");
  }
  expectRefusedAndUntouched(fileBytes(path_), "not a Vortely database");
}

TEST_F(DatabaseTest, LockedDatabaseIsWaitedForThenExplained) {
  openOrDie();
  dm().insertStoreAccount()->name = "Kept";
  saveOrDie();
  dm().closeStore();
  // Another program holds the file's lock.
  auto other = std::make_unique<SQLite::Database>(path_.toStdString(), SQLite::OPEN_READWRITE);
  other->exec("PRAGMA locking_mode = EXCLUSIVE");
  other->exec("BEGIN EXCLUSIVE");

  // The open waits, says so once, and goes on when the lock is let go.
  std::atomic<int> told{0};
  std::atomic<bool> opened{false};
  QString error;
  std::thread opener([&] {
    opened = dm().openStore(path_, &error, [&] { ++told; });
  });
  const bool waited = KVRMainThread::waitUntil([&] { return told.load() > 0; }, 10.0);
  other.reset();
  opener.join();
  EXPECT_TRUE(waited);
  EXPECT_EQ(told.load(), 1);
  ASSERT_TRUE(opened.load()) << error.toStdString();
  ASSERT_EQ(dm().accounts().size(), 1u);
  dm().closeStore();

  // Still locked when the wait ends: the reason names the other program, and
  // the file is left as it was.
  other = std::make_unique<SQLite::Database>(path_.toStdString(), SQLite::OPEN_READWRITE);
  other->exec("PRAGMA locking_mode = EXCLUSIVE");
  other->exec("BEGIN EXCLUSIVE");
  const QByteArray locked = fileBytes(path_);
  dm().setBusyTimeoutMs(200);
  EXPECT_FALSE(dm().openStore(path_, &error));
  dm().setBusyTimeoutMs(KVRDatabaseSchema::kBusyTimeoutMs);
  EXPECT_TRUE(error.contains("in use by another program")) << error.toStdString();
  EXPECT_FALSE(dm().isOpen());
  EXPECT_EQ(fileBytes(path_), locked);
  other.reset();
  openOrDie();
  EXPECT_EQ(dm().accounts().size(), 1u);
}

TEST_F(DatabaseTest, EmptyFileAndMissingFolderMakeANewStore) {
  QFile f(path_);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  openOrDie();
  EXPECT_TRUE(dm().accounts().empty());
  dm().closeStore();
  path_ = dir_.filePath("deeper/still/Vortely.sqlite");
  openOrDie();
  dm().insertStoreAccount()->name = "x";
  saveOrDie();
  reopen();
  EXPECT_EQ(dm().accounts().size(), 1u);
  EXPECT_TRUE(dm().save(nullptr));  // nothing to write
}

// ---------------------------------------------------------------------------
// A process killed in the middle of a save

namespace {
const char* kCrashEnv = "VORTELY_DB_CRASH_CHILD";
constexpr int kCrashLines = 400000;
}  // namespace

// Run only as the child of the test below: opens the store it is given, starts
// a large save and reports progress through marker files.
TEST(DatabaseCrashChild, WritesALargeSave) {
  const QString path = qEnvironmentVariable(kCrashEnv);
  if (path.isEmpty()) GTEST_SKIP() << "runs only as the child of the kill test";
  QString error;
  ASSERT_TRUE(dm().openStore(path, &error)) << error.toStdString();
  KVRReport* r = dm().reports()[0];
  KVRVortelyManagedProduct* p = dm().products()[0];
  r->filename = "changed by the killed save";
  dm().markChanged(r);
  for (int i = 0; i < kCrashLines; ++i) {
    KVRReportEntry* e = dm().insertReportEntry(r, p);
    e->count = 1000 + i;
    e->currency = "USD";
    e->country = "GB";
  }
  QFile(path + ".saving").open(QIODevice::WriteOnly);
  dm().save(&error);
  QFile(path + ".saved").open(QIODevice::WriteOnly);
  dm().closeStore();
}

TEST_F(DatabaseTest, KilledDuringSaveLeavesThePreviousStateWhole) {
  openOrDie();
  KVRStoreAccount* a = dm().insertStoreAccount();
  a->name = "acct";
  KVRVortelyManagedProduct* p = dm().insertProduct(a);
  p->idStore = 9;
  KVRReport* r = dm().insertReport();
  r->filename = "before";
  for (int i = 0; i < 10; ++i) dm().insertReportEntry(r, p)->count = i;
  saveOrDie();
  dm().closeStore();

  int killedMidSave = 0;
  for (int delayMs : {5, 60, 200}) {
    QFile::remove(path_ + ".saving");
    QFile::remove(path_ + ".saved");
    openOrDie();
    const QString filenameBefore = dm().reports()[0]->filename;
    const size_t linesBefore = dm().reports()[0]->entries.size();
    dm().closeStore();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kCrashEnv, path_);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=DatabaseCrashChild.WritesALargeSave"});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return QFile::exists(path_ + ".saving"); }, 60.0));
    QThread::msleep(delayMs);
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished(10000);
    const bool finished = QFile::exists(path_ + ".saved");
    if (!finished) ++killedMidSave;

    // The reopen runs the integrity check; the file holds one whole state.
    QString error;
    ASSERT_TRUE(dm().openStore(path_, &error)) << error.toStdString();
    EXPECT_TRUE(dm().waitForIntegrityCheck(&error)) << error.toStdString();
    ASSERT_EQ(dm().reports().size(), 1u);
    ASSERT_EQ(dm().products().size(), 1u);
    EXPECT_EQ(dm().accounts()[0]->products.size(), 1u);
    if (finished) {
      EXPECT_EQ(dm().reports()[0]->filename, "changed by the killed save");
      EXPECT_EQ(dm().reports()[0]->entries.size(), linesBefore + kCrashLines);
    } else {
      EXPECT_EQ(dm().reports()[0]->filename, filenameBefore);
      EXPECT_EQ(dm().reports()[0]->entries.size(), linesBefore);
      EXPECT_EQ(dm().products()[0]->entries.size(), linesBefore);
    }
    dm().closeStore();
  }
  EXPECT_GT(killedMidSave, 0) << "the child finished every save before it was killed";
}
