#pragma once
// A small store made by hand for the statement tests: accounts, products,
// financial and payment reports in a temporary database, Paris time, euros
// preferred. Every build is also made by the reference builder and must
// agree with it bit for bit.
#include <QTemporaryDir>
#include <bit>
#include <ostream>
#include <gtest/gtest.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "platform/KVRUserDefaults.h"
#include "reference_builder.h"

inline void PrintTo(const KVRMonthKey& m, std::ostream* os) { *os << m.year << "-" << m.month; }

class StatementTest : public ::testing::Test {
 protected:
  static KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }
  static KVRVortelyCurrencyConverter& converter() { return KVRVortelyCurrencyConverter::sharedInstance(); }
  static inline const KVRDate kNow = KVRDate(1.3e12);

  void SetUp() override {
    KVRCalendar::shared().resetTimeZone(QStringLiteral("Europe/Paris"));
    QString error;
    ASSERT_TRUE(dm().openStore(storePath(), &error)) << error.toStdString();
    converter().removeAllRates();
    KVRUserDefaults::standard().setString(QStringLiteral("PreferedCurrency"), QStringLiteral("EUR"));
    soft = account(QStringLiteral("Pelliro Soft"));
    app = product(soft, 1001);
  }
  void TearDown() override {
    dm().closeStore();
    converter().removeAllRates();
    KVRUserDefaults::standard().removeObjectForKey(QStringLiteral("PreferedCurrency"));
    KVRCalendar::shared().resetTimeZone();
  }

  QString storePath() const { return dir_.filePath(QStringLiteral("Vortely.sqlite")); }

  static KVRDate day(int y, int m, int d) {
    return KVRCalendar::shared().dateFromComponents(KVRDateComponents::ymd(y, m, d));
  }

  KVRStoreAccount* account(const QString& developer) {
    KVRStoreAccount* a = dm().insertStoreAccount();
    a->name = a->developer = developer;
    return a;
  }
  KVRVortelyManagedProduct* product(KVRStoreAccount* a, int64_t idStore) {
    KVRVortelyManagedProduct* p = dm().insertProduct(a);
    p->idStore = idStore;
    p->name = QStringLiteral("Product %1").arg(idStore);
    return p;
  }
  // A financial report "<developer>-<fileName>" beginning on `begin`.
  KVRReport* financial(KVRStoreAccount* a, const QString& fileName, KVRDate begin) {
    KVRReport* r = dm().insertReport();
    r->filename = a->developer + QLatin1Char('-') + fileName;
    r->type = KVRReportTypeFinancial;
    r->account = a;
    r->beginDate = begin;
    return r;
  }
  KVRReportEntry* line(KVRReport* r, KVRVortelyManagedProduct* p, int count, int income, const QString& currency) {
    KVRReportEntry* e = dm().insertReportEntry(r, p);
    e->type = KVREntryTypeSale;
    e->count = count;
    e->income = income;
    e->currency = currency;
    e->country = QStringLiteral("FR");
    e->beginDate = r->beginDate;
    return e;
  }
  // A payment report whose Payment line pays `income` hundredths of
  // `currency` for `region`, dated `lineDate` (the report's own date is
  // earlier until a build writes it).
  KVRReport* payment(KVRStoreAccount* a, const QString& region, KVRDate lineDate, int income,
                     const QString& currency) {
    KVRReport* r = dm().insertReport();
    r->filename = a->developer + QStringLiteral("-Payment_%1_%2.txt").arg(region).arg(++payments_);
    r->type = KVRReportTypePayment;
    r->account = a;
    r->beginDate = KVRDate(lineDate.ms - 86400000.0 * 9);
    paymentLine(r, KVREntryTypeCurrentMonth, income, currency, region, lineDate);
    paymentLine(r, KVREntryTypePayment, income, currency, region, lineDate);
    return r;
  }
  KVRReportEntry* paymentLine(KVRReport* r, int type, int income, const QString& currency, const QString& region,
                              KVRDate date) {
    KVRReportEntry* e = dm().insertReportEntry(r, nullptr);
    e->type = type;
    e->count = 1;
    e->income = income;
    e->currency = currency;
    e->country = region;
    e->beginDate = date;
    return e;
  }
  // Marks a payment received: `pointed` in `currency` (the reconciliation line's).
  void reconcile(KVRReport* r, float pointed, const QString& currency, const QString& bankAccount) {
    r->pointedIncome = pointed;
    r->status = KVRReportStatusPointed;
    r->pointedAccount = bankAccount;
    r->pointedDate = day(2011, 6, 2);
    paymentLine(r, KVREntryTypeReconciliation, int(pointed * 100), currency, QString(), r->beginDate);
  }

  static KVRFinancialSelection accountSelection(std::vector<KVRStoreAccount*> accounts) {
    KVRFinancialSelection s;
    for (KVRStoreAccount* a : accounts) s.products.insert(s.products.end(), a->products.begin(), a->products.end());
    s.accounts = std::move(accounts);
    s.accountSelected = true;
    return s;
  }
  static KVRFinancialSelection productSelection(std::vector<KVRVortelyManagedProduct*> products) {
    KVRFinancialSelection s;
    for (KVRVortelyManagedProduct* p : products)
      if (p->account && std::find(s.accounts.begin(), s.accounts.end(), p->account) == s.accounts.end())
        s.accounts.push_back(p->account);
    s.products = std::move(products);
    s.productsSelected = true;
    return s;
  }

  // The builder's statement, checked against the reference's.
  KVRFinancialStatement build(const KVRFinancialSelection& selection) {
    KVRFinancialStatement st = KVRFinancialStatementBuilder().build(selection, kNow);
    EXPECT_EQ(reference::difference(st, reference::build(selection, kNow)), "");
    return st;
  }

  KVRStoreAccount* soft = nullptr;
  KVRVortelyManagedProduct* app = nullptr;

 private:
  QTemporaryDir dir_;
  int payments_ = 0;
};

// Floats compared bit for bit.
#define EXPECT_FLOAT_BITS(a, b) EXPECT_EQ(std::bit_cast<uint32_t>(float(a)), std::bit_cast<uint32_t>(float(b))) \
    << #a " = " << (a) << ", expected " << (b)
