#pragma once
// The database entities as the rest of the program sees them: plain objects
// owned by the data manager's context (KVRVortelyCoreDataManager). Pointers
// between them stay valid until the object is deleted from the context.
//
// Writing rules: take the context lock (KVRVortelyCoreDataManager::contextLock)
// around every read or write of these objects from a background thread, and
// call KVRVortelyCoreDataManager::markChanged(obj) after changing a persistent
// attribute, so that the next save writes it.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

#include "platform/KVRDate.h"

class KVRVortelyManagedProduct;
struct KVRStoreAccount;
struct KVRReport;

// ReportType codes (KVRReport::type).
enum KVRReportType : int {
  KVRReportTypeNew = 0, KVRReportTypeDaily = 1, KVRReportTypeWeekly = 2,
  KVRReportTypeMonthlyFree = 3, KVRReportTypeFinancial = 4, KVRReportTypePayment = 5,
  KVRReportTypeIAd = 6,
};

// EntryType codes (KVRReportEntry::type).
enum KVREntryType : int {
  KVREntryTypeSale = 1, KVREntryTypeUpgrade = 2, KVREntryTypeRefund = 3, KVREntryTypeInAppPurchase = 4,
  KVREntryTypePriorBalance = 5, KVREntryTypeCurrentMonth = 6, KVREntryTypeWithholdingTax = 7,
  KVREntryTypeGstJctTax = 8, KVREntryTypePayment = 9, KVREntryTypeReconciliation = 10,
};

// Sub-types of sales lines (KVRReportEntry::subType): which special measure a
// line also feeds. Free or paid is told by the line's income (0 = free).
enum KVREntrySubType : int {
  KVREntrySubTypeStandard = 0, KVREntrySubTypePromoCode = 1, KVREntrySubTypeGiftPurchase = 2,
  KVREntrySubTypeGiftRedemption = 3, KVREntrySubTypeEducation = 4,
  KVREntrySubTypeNewSubscription = 5, KVREntrySubTypeRenewal = 6,
};

// ReportStatus codes (KVRReport::status).
enum KVRReportStatus : int {
  KVRReportStatusNotConverted = -1, KVRReportStatusEstimated = 0, KVRReportStatusPointed = 1,
  KVRReportStatusReported = 2,
};

struct KVRManagedObject {
  int64_t objectID = 0;  // database row id; 0 until first saved
  virtual ~KVRManagedObject() = default;
};

struct KVRStoreAccount : KVRManagedObject {
  QString name, developer, login;
  QString password;  // "KEYCHAIN" or "NONE"
  QByteArray icon;   // image data, empty when none
  std::vector<KVRVortelyManagedProduct*> products;
  bool isAndroid() const { return developer.startsWith(QLatin1String("Android")); }
};

struct KVRReportEntry : KVRManagedObject {
  KVRVortelyManagedProduct* product = nullptr;
  KVRReport* report = nullptr;
  int type = 0;     // KVREntryType
  int subType = 0;  // KVREntrySubType
  int count = 0;
  int income = 0;   // hundredths of the currency, per unit
  QString currency; // ISO code
  QString country;  // two-letter code, upper case
  KVRDate beginDate, endDate;
};

struct KVRReport : KVRManagedObject {
  QString filename;  // developer name, "-", file name
  int type = 0;      // KVRReportType
  KVRDate beginDate, endDate;
  KVRStoreAccount* account = nullptr;
  std::vector<KVRReportEntry*> entries;  // a set: no entry twice
  int status = KVRReportStatusNotConverted;
  float pointedIncome = -1.0f;  // preferred currency; -1 when not reconciled
  KVRDate pointedDate;
  QString pointedAccount;      // financial account label
};

// One line of an ad report: one product, one country, one day.
struct KVRiAdReportEntry : KVRManagedObject {
  KVRVortelyManagedProduct* product = nullptr;
  KVRReport* report = nullptr;
  KVRDate date;
  QString country;
  float revenue = 0;      // ad income, in USD
  float requests = 0, impressions = 0;
  float fillRate = 0;     // percent
  float ctr = 0;          // percent
  float eCPM = 0;         // USD per thousand impressions
};

// Star votes of one level, for one country and one version slot.
struct KVRRating : KVRManagedObject {
  KVRVortelyManagedProduct* product = nullptr;
  QString country;       // storefront identifier of the country
  int stars = 0;         // 1 to 5
  bool allVersions = true;
  int count = 0;         // votes
  int newCount = 0;      // votes since the last read
};

struct KVRCost : KVRManagedObject {
  KVRVortelyManagedProduct* product = nullptr;
  QString name;
  double value = 0;
};

struct KVRPartner : KVRManagedObject {
  KVRVortelyManagedProduct* product = nullptr;
  QString name;
  double cost = 0;
  double royalties = 0;
};
