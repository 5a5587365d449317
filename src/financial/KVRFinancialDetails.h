#pragma once
// The month details panel under the grid: what it shows for the selected cell,
// as one state record built from scratch on every call (the presenter), and
// applied to the panel's widgets by the screen. Six presentations:
//  - empty cell (no selection, a title or empty cell): everything blank;
//  - payment advice received: the reconcile form, with the amount expected
//    or the amount recorded, in the receiving account's currency, and the
//    payment summary;
//  - paid with a later month: the status and "Paid on <month>";
//  - a payment record with neither report nor month: the status only;
//  - waiting for the financial report;
//  - waiting for the payment advice: the "Create Payment" form.
// The reconcile button is wider in its "Create Payment" form: `bigger` says
// which width it has, the only state carried from one call to the next.
#include <QColor>
#include <QString>
#include <optional>
#include <vector>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRCalculationServices.h"
#include "financial/KVRFinancialGrid.h"
#include "platform/KVRDate.h"

// The action the reconcile button sends.
enum class KVRDetailsAction { reconcile, forcePayment };

// An item of the accounts pop-up: its title and the financial account it
// carries (none for the "--" item).
struct KVRAccountItem {
  QString title;
  std::optional<KVRFinancialAccount> account;
  bool operator==(const KVRAccountItem& o) const { return title == o.title; }
};

struct KVRFinancialDetailsInput {
  const KVRFinancialValue* value = nullptr;
  bool updateAccountsPopup = true;  // refill the pop-up (else items, selection and enabled states stay)
  bool allSelected = false;
  bool bigger = false;
  bool blockReconciliation = false;
  bool accountSelected = false;  // a store account row is selected in the product list
  std::vector<KVRFinancialAccount> financialAccounts;
  // The pop-up as it is (read when it is not refilled).
  std::vector<KVRAccountItem> currentItems;
  int currentSelection = -1;
  QString preferredCurrency;
  KVRDate now;
  // The converter of the amount field (the application's by default).
  KVRCalculationServices services = KVRCalculationServices::shared();
};

struct KVRFinancialDetailsState {
  bool statusHidden = false;
  QColor statusColor;
  QString status, label, title, income, incomeLocal;

  struct Control {
    bool hidden = true;
    std::optional<bool> enabled;  // none: left as it is
  };
  Control reconcileButton, unreconcileButton, amountField, accountsPopup, datePicker;
  std::optional<QString> reconcileTitle;           // "Reconcile" or "Create Payment"
  std::optional<KVRDetailsAction> reconcileAction;
  int reconcileWidthChange = 0;  // points added to the left of the button (+25 wider, -25 back)
  bool bigger = false;           // the button's width after this call

  std::optional<QString> amountText;
  bool focusAmountField = false;  // make the amount field first responder and select its text
  std::optional<std::vector<KVRAccountItem>> accountItems;  // refilled items
  std::optional<int> accountSelection;                      // item to select (-1: none)
  std::optional<KVRDate> pickerDate;
};

KVRFinancialDetailsState KVRPresentFinancialDetails(const KVRFinancialDetailsInput& input);
