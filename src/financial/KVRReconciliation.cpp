#include "financial/KVRReconciliation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <unicode/locid.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRFormatters.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVRAmountText.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "platform/KVRICUSupport.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRVortelyLogCenter.h"

namespace {

void log(const QString& message) {
  KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, QStringLiteral("Reports Controller"));
}

QString monthText(std::optional<KVRMonthKey> m) {
  return m ? QStringLiteral("%1-%2").arg(m->year).arg(m->month, 2, 10, QLatin1Char('0')) : QStringLiteral("?");
}

// The file name without its extension.
QString withoutExtension(const QString& filename) {
  const qsizetype dot = filename.lastIndexOf(u'.');
  const qsizetype slash = filename.lastIndexOf(u'/');
  return dot > slash + 1 ? filename.left(dot) : filename;
}

bool isPaymentLineType(int type) { return type >= KVREntryTypePriorBalance && type <= KVREntryTypePayment; }

}  // namespace

// What an operation changed, so that a failed save can undo it: the reports'
// fields as they were, the reconciliation lines' currencies, the objects made.
class KVRReconciliation::Journal {
 public:
  explicit Journal(KVRVortelyCoreDataManager& dm) : dm_(dm) {}

  // Remembers the report before its first change; marks it changed.
  void touch(KVRReport* r) {
    if (std::none_of(reports_.begin(), reports_.end(), [r](const ReportState& s) { return s.report == r; }))
      reports_.push_back({r, r->type, r->status, r->pointedIncome, r->pointedDate, r->pointedAccount, r->beginDate,
                          r->account});
    dm_.markChanged(r);
  }
  void setCurrency(KVRReportEntry* e, const QString& currency) {
    if (e->currency == currency) return;
    currencies_.emplace_back(e, e->currency);
    e->currency = currency;
    dm_.markChanged(e);
  }
  void created(KVRManagedObject* o) { created_.push_back(o); }
  bool empty() const { return reports_.empty() && currencies_.empty() && created_.empty(); }

  void undo() {
    // Lines before their report, newest first.
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) dm_.deleteObject(*it);
    for (const ReportState& s : reports_) {
      KVRReport* r = s.report;
      r->type = s.type;
      r->status = s.status;
      r->pointedIncome = s.pointedIncome;
      r->pointedDate = s.pointedDate;
      r->pointedAccount = s.pointedAccount;
      r->beginDate = s.beginDate;
      r->account = s.account;
    }
    for (auto it = currencies_.rbegin(); it != currencies_.rend(); ++it) it->first->currency = it->second;
    reports_.clear();
    currencies_.clear();
    created_.clear();
  }

 private:
  struct ReportState {
    KVRReport* report;
    int type, status;
    float pointedIncome;
    KVRDate pointedDate;
    QString pointedAccount;
    KVRDate beginDate;
    KVRStoreAccount* account;
  };
  KVRVortelyCoreDataManager& dm_;
  std::vector<ReportState> reports_;
  std::vector<std::pair<KVRReportEntry*, QString>> currencies_;
  std::vector<KVRManagedObject*> created_;
};

KVRReconciliation::KVRReconciliation()
    : KVRReconciliation(KVRVortelyCoreDataManager::sharedInstance(), {}) {}

KVRReconciliation::KVRReconciliation(KVRVortelyCoreDataManager& dataManager, Saver save)
    : dm_(dataManager), save_(std::move(save)) {
  if (!save_)
    save_ = [this](QString* error) {
      // The application's save when there is an application, else the store's own.
      if (KVRApplicationServices* app = KVRApplicationServices::current()) return app->saveDB(error);
      return dm_.save(error);
    };
}

QString KVRReconciliation::paymentCurrencyForRegion(const QString& regionCode) {
  if (regionCode.isEmpty() || regionCode == QLatin1String("WW")) return QStringLiteral("USD");
  return KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(regionCode);
}

std::optional<int64_t> KVRReconciliation::hundredths(double x) {
  const double scaled = std::round(x * 100.0);  // half away from zero
  if (!std::isfinite(scaled) || scaled >= 9.2e18 || scaled <= -9.2e18) return std::nullopt;
  return static_cast<int64_t>(scaled);
}

KVRReconciliationOutcome KVRReconciliation::save(Journal& journal, const QString& failureTitle) {
  KVRReconciliationOutcome outcome;
  QString error;
  if (save_(&error)) {
    outcome.kind = KVRReconciliationOutcome::done;
    return outcome;
  }
  // The transaction wrote nothing; the objects go back to what the file holds.
  journal.undo();
  log(QStringLiteral("%1: %2").arg(failureTitle, error));
  outcome.kind = KVRReconciliationOutcome::failed;
  outcome.title = failureTitle;
  outcome.message = error.isEmpty() ? KVRLocalized("The database could not be saved.") : error;
  return outcome;
}

// ---------------------------------------------------------------------------
// Creating a payment

KVRReconciliationOutcome KVRReconciliation::forcePayment(const KVRFinancialStatement& statement,
                                                        const KVRReconciliationCell& cell) {
  KVRReconciliationOutcome nothing;
  const QString where = QStringLiteral("%1 %2").arg(monthText(cell.month), cell.regionCode);
  if (cell.payment) {
    log(QStringLiteral("forcePayment %1: the month has a payment record already").arg(where));
    return nothing;
  }
  const QString currency = paymentCurrencyForRegion(cell.regionCode);
  if (!cell.month || cell.regionCode.isEmpty() || !cell.incomeLocalValue || currency.isEmpty()) {
    log(QStringLiteral("forcePayment %1: no month, region, local income or payment currency").arg(where));
    return nothing;
  }
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  KVRReport* financial = statement.financialReportForMonth(*cell.month, cell.regionCode);
  if (!financial) {
    log(QStringLiteral("forcePayment %1: no financial report").arg(where));
    return nothing;
  }
  const std::optional<int64_t> cents = hundredths(double(*cell.incomeLocalValue));
  if (!cents || *cents > std::numeric_limits<int32_t>::max() || *cents < std::numeric_limits<int32_t>::min()) {
    KVRReconciliationOutcome refused;
    refused.kind = KVRReconciliationOutcome::refused;
    refused.title = KVRLocalized("The payment could not be created");
    refused.message = KVRLocalized("The month's income is too large to be recorded as one payment.");
    log(QStringLiteral("forcePayment %1: income %2 cannot be stored").arg(where).arg(double(*cell.incomeLocalValue)));
    return refused;
  }

  // The payment report, named after the financial report. An Android report
  // answers for every region, so its payments name their region too.
  QString name = withoutExtension(financial->filename);
  if (KVRRegionPartOfFileName(financial->filename) != cell.regionCode) name += u'_' + cell.regionCode;
  name += QStringLiteral("_PYMT.txt");
  KVRReport* payment = nullptr;
  for (KVRReport* r : dm_.reports())
    if (r->filename == name) {
      payment = r;
      break;
    }
  if (payment && std::any_of(payment->entries.begin(), payment->entries.end(),
                             [](const KVRReportEntry* e) { return e && isPaymentLineType(e->type); })) {
    log(QStringLiteral("forcePayment %1: \"%2\" has its payment lines already").arg(where, name));
    return nothing;
  }

  Journal journal(dm_);
  if (!payment) {
    payment = dm_.reportWithName(name);
    journal.created(payment);
  } else {
    journal.touch(payment);
  }
  const KVRDate monthDate = cell.month->firstInstant();
  payment->beginDate = monthDate;
  payment->account = financial->account;
  payment->type = KVRReportTypePayment;
  static const char* const kMissingCodes[] = {"1-653", "1-670", "1-688", "1-706", "1-724"};
  for (int type = KVREntryTypePriorBalance; type <= KVREntryTypePayment; ++type) {
    KVRReportEntry* e =
        dm_.reportEntryInReport(payment, nullptr, monthDate, cell.regionCode, currency, type, true);
    if (!e) {
      KVRVortelyLogCenter::sharedInstance().addLogEntry(
          QString::fromLatin1(kMissingCodes[type - KVREntryTypePriorBalance]), true, QStringLiteral("ERROR"));
      continue;
    }
    journal.created(e);
    e->count = 1;
    e->income = (type == KVREntryTypeCurrentMonth || type == KVREntryTypePayment) ? int(*cents) : 0;
    e->report = payment;
    payment->entries.push_back(e);
  }
  KVRReconciliationOutcome outcome = save(journal, KVRLocalized("The payment could not be saved"));
  if (outcome.changed()) {
    outcome.paymentReport = payment;
    log(QStringLiteral("forcePayment %1: \"%2\" pays %3 %4").arg(where, name).arg(*cents).arg(currency));
  }
  return outcome;
}

// ---------------------------------------------------------------------------
// Recording and taking back a payment

KVRReconciliationOutcome KVRReconciliation::reconcile(const KVRFinancialStatement& statement,
                                                      const KVRReconciliationCell& cell, const QString& amountText,
                                                      KVRDate date, const QString& accountLabel) {
  return reconcile(statement, cell, amountText, date, accountLabel, KVRFormatters::shared().numbersLocale());
}

KVRReconciliationOutcome KVRReconciliation::reconcile(const KVRFinancialStatement& statement,
                                                      const KVRReconciliationCell& cell, const QString& amountText,
                                                      KVRDate date, const QString& accountLabel,
                                                      const icu::Locale& locale) {
  KVRReconciliationOutcome outcome;
  const KVRPaymentRecord* record = cell.payment.get();
  KVRReport* payment = record ? record->paymentReport : nullptr;
  if (!payment) {
    log(QStringLiteral("reconcile %1 %2: no payment report").arg(monthText(cell.month), cell.regionCode));
    return outcome;
  }
  const KVRAmountReading reading = KVRReadAmountText(amountText, KVRAmountKind::received, locale);
  if (!reading.ok()) {
    outcome.kind = KVRReconciliationOutcome::refused;
    outcome.title = KVRLocalized("The payment was not recorded");
    outcome.message = reading.error;
    return outcome;
  }
  const float received = float(*reading.value);

  // The account's currency may not change any more: locked first, so that
  // a failed save of the reports can unlock it again.
  KVRFinancialAccounts& accounts = KVRFinancialAccounts::shared();
  const KVRFinancialAccount* account = accounts.withLabel(accountLabel);
  const bool lockedBefore = account && account->CurrencyLocked;
  QString receivedCurrency = account ? account->Currency : QString();
  if (receivedCurrency.isEmpty()) receivedCurrency = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency();
  if (account && !lockedBefore) {
    QString error;
    if (!accounts.setCurrencyLocked(accountLabel, true, &error)) {
      outcome.kind = KVRReconciliationOutcome::failed;
      outcome.title = KVRLocalized("The reconciliation could not be saved");
      outcome.message = error;
      return outcome;
    }
  }

  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  Journal journal(dm_);
  journal.touch(payment);
  payment->pointedIncome = received;
  payment->status = KVRReportStatusPointed;
  payment->pointedDate = date;
  payment->pointedAccount = accountLabel;
  // The reconciliation lines name the currency the money arrived in; a
  // payment without one (a payment made here) gets one, which carries only
  // that currency (the amount is the report's).
  bool hasReconciliationLine = false;
  for (KVRReportEntry* e : payment->entries) {
    if (!e || e->type != KVREntryTypeReconciliation) continue;
    hasReconciliationLine = true;
    journal.setCurrency(e, receivedCurrency);
  }
  if (!hasReconciliationLine) {
    const KVRReportEntry* paid = nullptr;
    for (const KVRReportEntry* e : payment->entries)
      if (e && e->type == KVREntryTypePayment) paid = e;
    KVRReportEntry* e = dm_.reportEntryInReport(payment, nullptr, paid ? paid->beginDate : payment->beginDate,
                                                paid ? paid->country : cell.regionCode, receivedCurrency,
                                                KVREntryTypeReconciliation, true);
    if (e) {
      journal.created(e);
      e->count = 1;
      e->income = 0;
      e->report = payment;
      payment->entries.push_back(e);
    }
  }

  // The received amount spread over the financial reports it pays.
  const float k = received / record->localIncome;
  if (record->localIncome == 0.0f || !std::isfinite(k)) {
    log(QStringLiteral("reconcile %1 %2: the payment's amount is 0, its financial reports are left as they are")
            .arg(monthText(cell.month), cell.regionCode));
  } else if (cell.month) {
    auto point = [&](KVRReport* r, float amount) {
      if (!r || !std::isfinite(amount)) return;
      journal.touch(r);
      r->pointedIncome = amount;
      r->pointedAccount = accountLabel;
      r->status = KVRReportStatusPointed;
    };
    if (cell.incomeLocalValue)
      point(statement.financialReportForMonth(*cell.month, cell.regionCode), *cell.incomeLocalValue * k);
    // Each covered month has its own report: the order does not matter.
    for (KVRMonthKey m : record->priorMonths) {
      const KVRPaymentRecord* covered = statement.dictForDate(m, cell.regionCode);
      point(statement.financialReportForMonth(m, cell.regionCode), (covered ? covered->localIncome : 0.0f) * k);
    }
  }

  outcome = save(journal, KVRLocalized("The reconciliation could not be saved"));
  if (!outcome.changed() && account && !lockedBefore) accounts.setCurrencyLocked(accountLabel, false);
  if (outcome.changed())
    log(QStringLiteral("reconcile %1 %2: %3 %4 into \"%5\"")
            .arg(monthText(cell.month), cell.regionCode)
            .arg(double(received))
            .arg(receivedCurrency, accountLabel));
  return outcome;
}

KVRReconciliationOutcome KVRReconciliation::unreconcile(const KVRFinancialStatement& statement,
                                                        const KVRReconciliationCell& cell) {
  KVRReconciliationOutcome outcome;
  const KVRPaymentRecord* record = cell.payment.get();
  KVRReport* payment = record ? record->paymentReport : nullptr;
  if (!payment) {
    log(QStringLiteral("unreconcile %1 %2: no payment report").arg(monthText(cell.month), cell.regionCode));
    return outcome;
  }
  std::lock_guard<std::recursive_mutex> context(dm_.contextLock());
  Journal journal(dm_);
  journal.touch(payment);
  payment->pointedIncome = -1.0f;
  payment->status = KVRReportStatusNotConverted;
  payment->pointedDate = KVRDate();
  payment->pointedAccount = QStringLiteral("--");
  auto reset = [&](KVRReport* r) {
    if (!r) return;
    journal.touch(r);
    r->pointedIncome = -1.0f;
    r->pointedAccount = QString(u""_qs);
    r->status = KVRReportStatusNotConverted;
  };
  if (cell.month) {
    reset(statement.financialReportForMonth(*cell.month, cell.regionCode));
    for (KVRMonthKey m : record->priorMonths) reset(statement.financialReportForMonth(m, cell.regionCode));
  }
  outcome = save(journal, KVRLocalized("The reconciliation could not be saved"));
  if (outcome.changed()) log(QStringLiteral("unreconcile %1 %2").arg(monthText(cell.month), cell.regionCode));
  return outcome;
}
