#include "financial/KVRFinancialDetails.h"

#include <algorithm>

#include "financial/KVRFinancialTexts.h"
#include "platform/KVRLocalization.h"

KVRFinancialDetailsState KVRPresentFinancialDetails(const KVRFinancialDetailsInput& in) {
  KVRFinancialDetailsState s;
  s.bigger = in.bigger;
  const KVRFinancialValue* v = in.value;
  const KVRPaymentRecord* P = v ? v->paymentDict.get() : nullptr;

  s.statusHidden = in.allSelected;
  s.statusColor = v && v->badgeColor ? *v->badgeColor : KVRFinancialGreyColor();

  // Empty cell.
  if (!v || v->isEmptyCell()) {
    return s;
  }

  s.title = QStringLiteral("%1-%2").arg(v->month, v->region);
  s.income = v->incomePref;
  s.incomeLocal = v->incomeLocal;

  if (P && P->isPaymentForm()) {
    // Payment advice received: the reconcile form.
    const bool reconciled = P->isReconciled();
    s.status = reconciled ? KVRLocalized("Status: payment received")
                          : KVRLocalized("Status: payment advise received, waiting for reconciliation");
    s.reconcileButton.hidden = false;
    s.unreconcileButton.hidden = !reconciled;
    if (s.bigger) {
      s.reconcileWidthChange = -25;
      s.bigger = false;
    }
    s.reconcileTitle = KVRLocalized("Reconcile");
    s.reconcileAction = KVRDetailsAction::reconcile;
    s.amountField.hidden = s.accountsPopup.hidden = s.datePicker.hidden = false;

    const bool noAccount = in.financialAccounts.empty();
    std::vector<KVRAccountItem> items = in.currentItems;
    int selection = in.currentSelection;
    if (in.updateAccountsPopup) {
      items.clear();
      for (const KVRFinancialAccount& a : in.financialAccounts) items.push_back({a.Label, a});
      if (items.empty()) items.push_back({QStringLiteral("--"), std::nullopt});
      selection = 0;
      const bool enabled = !noAccount && !in.blockReconciliation;
      s.reconcileButton.enabled = s.unreconcileButton.enabled = enabled;
    }

    double amount;
    QString from;
    if (reconciled) {
      s.pickerDate = P->pointedDate;
      if (in.updateAccountsPopup) {
        auto it = std::find_if(items.begin(), items.end(),
                               [&](const KVRAccountItem& i) { return i.title == P->pointedAccount; });
        selection = it == items.end() ? -1 : int(it - items.begin());
      }
      // The statement converted the money received into the preferred
      // currency (from its reconciliation line's): it is shown from there in
      // the account's currency, whatever the account's currency is now.
      amount = P->pointedIncome;
      from = in.preferredCurrency;
    } else {
      s.pickerDate = in.now;
      amount = P->localIncome;
      from = P->localCurrency;
    }
    if (in.updateAccountsPopup) {
      s.accountItems = items;
      s.accountSelection = selection;
    }

    QString to = in.preferredCurrency;
    if (selection >= 0 && selection < int(items.size()) && items[size_t(selection)].account &&
        !items[size_t(selection)].account->Currency.isEmpty())
      to = items[size_t(selection)].account->Currency;
    KVRVortelyCurrencyConverter& converter =
        in.services.converter ? *in.services.converter : KVRVortelyCurrencyConverter::sharedInstance();
    const double converted = converter.convertAmount(amount, from, to);
    s.amountText = KVRFinancialAmountText(converted, KVRCurrencySymbolOrCode(to));

    if (noAccount) {
      s.label = KVRLocalized(
          "To enable reconciliation, you need at least one financial account. You can create it in Vortely "
          "preferences.");
    } else {
      QString summary = KVRLocalized("Total payment amount: %1 (%2)\nFor months: ").arg(*s.amountText, P->localIncomeStr);
      std::vector<KVRMonthKey> prior = P->priorMonths;
      std::sort(prior.begin(), prior.end());
      for (KVRMonthKey m : prior) summary += QStringLiteral("%1, ").arg(KVRMonthCaption(m));
      summary += v->paymentMonth.value_or(QString());
      s.label = summary;
    }
    s.focusAmountField = true;
  } else if (P) {
    // A payment record of a later payment, or one with neither report nor month.
    if (v->paymentMonth) {
      s.status = P->isReconciled()
                     ? KVRLocalized("Status: payment received (on %1)").arg(*v->paymentMonth)
                     : KVRLocalized("Status: payment advise received, waiting for reconciliation (reported on %1)")
                           .arg(*v->paymentMonth);
      s.label = QStringLiteral("Paid on %1").arg(*v->paymentMonth);
    } else {
      s.status = KVRLocalized("Status: waiting for payment advise");
    }
  } else if (v->status == KVRFinancialValue::ReportMissing) {
    s.status = KVRLocalized("Status: waiting for financial report");
  } else {
    // The financial report is there, no payment advice: "Create Payment".
    s.reconcileButton.hidden = in.allSelected || v->severalAccounts;
    if (!s.bigger) {
      s.reconcileWidthChange = 25;
      s.bigger = true;
    }
    s.reconcileTitle = KVRLocalized("Create Payment");
    s.reconcileAction = KVRDetailsAction::forcePayment;
    s.reconcileButton.enabled = !in.blockReconciliation;
    s.status = KVRLocalized("Status: waiting for payment advise");
  }

  if (!in.accountSelected) s.reconcileButton.enabled = s.unreconcileButton.enabled = false;
  return s;
}
