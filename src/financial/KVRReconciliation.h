#pragma once
// What the user records of the money the stores paid: creating the payment
// report of a month whose payment advice never came (forcePayment), the
// amount actually received (reconcile) and taking it back (unreconcile).
// Each works on the cell selected in the financial grid and on the statement
// it comes from, changes the reports under the context lock, and saves the
// database at once in one transaction: when the save fails, every change it
// made is undone in memory too (the file holds none of it), and the outcome
// says why. Main thread.
//
// Amounts:
//  - a created payment pays the cell's local income in hundredths, rounded to
//    the nearest (half away from zero) in 64 bits: 9.999 pays 1000;
//  - the amount received is typed in the currency of the bank account that
//    received it (KVRAmountText reads it); the payment report keeps it as its
//    pointed income, and its reconciliation lines (type 10) carry that
//    account's currency (the preferred currency when the account has none),
//    so that the statement converts it from there;
//  - k = received / the payment's local amount; the month's financial report
//    gets the cell's local income x k, each earlier month the payment covers
//    its own local amount x k. Without a usable k (a payment of 0) the
//    financial reports are left as they are.
#include <QString>
#include <functional>
#include <optional>
#include <unicode/locid.h>

#include "financial/KVRFinancialStatement.h"
#include "platform/KVRDate.h"

class KVRVortelyCoreDataManager;
struct KVRReport;

// The selected cell of the financial grid, as the operations read it.
struct KVRReconciliationCell {
  std::optional<KVRMonthKey> month;        // MonthDate
  QString regionCode;                      // RegionCode
  std::optional<float> incomeLocalValue;   // IncomeLocalValue
  KVRPaymentRecordRef payment;             // PaymentDict, null when none
};

struct KVRReconciliationOutcome {
  enum Kind {
    done,     // changed and saved
    nothing,  // nothing to do (stale button, missing report, ...): nothing changed
    refused,  // the user's input was refused: nothing changed
    failed,   // the save failed: nothing changed
  };
  Kind kind = nothing;
  QString title, message;  // for the user, when refused or failed
  KVRReport* paymentReport = nullptr;  // forcePayment: the payment report made

  bool changed() const { return kind == done; }
};

class KVRReconciliation {
 public:
  // Saves the database in one transaction; false with the reason when it failed.
  using Saver = std::function<bool(QString* error)>;

  // The shared data manager, saved by the application's saveDB (the data
  // manager's own save without an application).
  KVRReconciliation();
  KVRReconciliation(KVRVortelyCoreDataManager& dataManager, Saver save);

  // Creates the payment report of the cell's month and region: named after
  // the month's financial report with "_PYMT.txt" (and the region before it
  // when that report's name does not end in it, as the Android reports, which
  // answer for every region), five lines (prior balance, current month,
  // withholding, GST/JCT, payment), in the region's currency ("USD" for "WW").
  // Nothing is made for a cell that has a payment record already, without a
  // financial report, a month, a region, a local income, or a known currency,
  // nor into a report of that name that has payment lines already.
  KVRReconciliationOutcome forcePayment(const KVRFinancialStatement& statement, const KVRReconciliationCell& cell);

  // Records `amountText` (an amount received, above zero, read by
  // KVRReadAmountText in the figures' locale, or in `locale`) as received on
  // `date` into the financial account labelled `accountLabel`, whose
  // currency is then locked. Nothing happens for a cell without a payment
  // record or payment report; a text that is not such an amount is refused
  // with the reader's message, and nothing is stored.
  KVRReconciliationOutcome reconcile(const KVRFinancialStatement& statement, const KVRReconciliationCell& cell,
                                     const QString& amountText, KVRDate date, const QString& accountLabel);
  KVRReconciliationOutcome reconcile(const KVRFinancialStatement& statement, const KVRReconciliationCell& cell,
                                     const QString& amountText, KVRDate date, const QString& accountLabel,
                                     const icu::Locale& locale);

  // Takes the record back: the payment report and the financial reports of
  // its months lose their pointed amount, account and status (the account's
  // currency stays locked). Nothing happens without a payment report.
  KVRReconciliationOutcome unreconcile(const KVRFinancialStatement& statement, const KVRReconciliationCell& cell);

  // The currency of a payment of a region: "USD" for "WW" or no region, the
  // currency table's for the others, null when it has none ("IAD").
  static QString paymentCurrencyForRegion(const QString& regionCode);
  // x x 100 rounded to the nearest integer, half away from zero, in 64 bits;
  // none when x is not finite or the result does not fit a 64-bit integer.
  static std::optional<int64_t> hundredths(double x);

 private:
  class Journal;
  KVRReconciliationOutcome save(Journal& journal, const QString& failureTitle);

  KVRVortelyCoreDataManager& dm_;
  Saver save_;
};
