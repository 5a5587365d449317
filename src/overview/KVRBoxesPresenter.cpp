#include "overview/KVRBoxesPresenter.h"

#include <algorithm>
#include <mutex>

#include "core/KVRApplicationServices.h"
#include "graphs/KVRValueTexts.h"
#include "core/KVRVortelyManagedProduct.h"
#include "overview/KVROverviewPresenter.h"
#include "platform/KVRLocalization.h"

namespace {

// All-time sums over products, made for display in double precision.
struct Sums {
  int64_t sales = 0, upgrades = 0;
  double income = 0;
  void add(const KVRVortelyManagedProduct* p) {
    sales += KVRRounded(p->totalSales());
    upgrades += KVRRounded(p->totalUpgrades());
    income += p->totalIncomes();
  }
};

struct Texts {
  QString sales, upgrades, income;
};

Texts sumTexts(const Sums& s, bool hasAccount, bool roundCurrency) {
  if (!hasAccount) return {QStringLiteral("--"), QStringLiteral("--"), QStringLiteral("--")};
  std::unique_lock<std::recursive_mutex> lock;
  if (KVRApplicationServices* app = KVRApplicationServices::current())
    lock = std::unique_lock<std::recursive_mutex>(app->formatterLock());
  Texts t;
  t.income = KVRAmountText(s.income, roundCurrency);
  t.sales = KVRCountText(double(s.sales));
  t.upgrades = KVRCountText(double(s.upgrades));
  return t;
}

bool anyHasAccount(const std::vector<KVRVortelyManagedProduct*>& products) {
  return std::any_of(products.begin(), products.end(),
                     [](const KVRVortelyManagedProduct* p) { return p && p->account; });
}

void addRatings(const KVRVortelyManagedProduct* p, std::array<int, 5>& counts, std::array<int, 5>& news) {
  const std::vector<int> r = p->ratingsForCountry();
  const std::vector<int> n = p->newRatingsForCountry();
  for (size_t i = 0; i < 5 && i < r.size(); ++i) counts[i] += r[i];
  for (size_t i = 0; i < 5 && i < n.size(); ++i) news[i] += n[i];
}

}  // namespace

KVRProductTotalsTexts KVRProductTotalsForShownProducts(const std::vector<KVRVortelyManagedProduct*>& shown,
                                                       bool roundCurrency) {
  Sums s;
  KVRProductTotalsTexts out;
  for (const KVRVortelyManagedProduct* p : shown) {
    if (!p) continue;
    s.add(p);
    out.hasAccount = out.hasAccount || p->account;
    out.initialized = out.initialized || p->initialized();
  }
  const Texts t = sumTexts(s, out.hasAccount, roundCurrency);
  out.sales = t.sales;
  out.upgrades = t.upgrades;
  out.income = t.income;
  out.incomeSum = s.income;
  return out;
}

KVRBoxesDisplay KVRMakeBoxesDisplay(const KVRBoxesInput& in) {
  KVRBoxesDisplay d;
  const std::vector<KVRVortelyManagedProduct*> E = KVRSortedByName(in.extendedProducts);
  const std::vector<KVRVortelyManagedProduct*> S = KVRSortedByName(in.selectedProducts);
  std::vector<KVRStoreAccount*> accounts = in.accounts;
  accounts.erase(std::remove(accounts.begin(), accounts.end(), nullptr), accounts.end());
  const std::vector<KVRVortelyManagedProduct*>& shown = S.empty() ? E : S;

  // Account name.
  if (accounts.empty()) {
    d.accountName = KVRLocalized("No account");
  } else if (accounts.size() == 1) {
    const KVRStoreAccount* a = accounts.front();
    d.accountName = !a->name.isEmpty() ? a->name : !a->developer.isEmpty() ? a->developer : a->login;
  } else {
    d.accountName = KVRLocalized("Multiple accounts");
  }

  // Account sums over every product of the selected accounts.
  Sums accountSums;
  for (const KVRStoreAccount* a : accounts)
    for (const KVRVortelyManagedProduct* p : KVRSortedByName(a->products)) accountSums.add(p);
  const bool shownHasAccount = anyHasAccount(shown);
  const Texts at = sumTexts(accountSums, shownHasAccount, in.roundCurrency);
  d.accountTotalSales = at.sales;
  d.accountTotalUpgrades = at.upgrades;
  d.accountTotalIncome = at.income;
  d.accountCurrencySymbol = in.currencySymbol;
  d.globalCounterValue = accountSums.income;
  d.roundCurrency = in.roundCurrency;

  // Product sums over the shown products.
  const KVRProductTotalsTexts pt = KVRProductTotalsForShownProducts(shown, in.roundCurrency);
  d.productTotalSales = pt.sales;
  d.productTotalUpgrades = pt.upgrades;
  d.productTotalIncome = pt.income;
  d.productCurrencySymbol = in.currencySymbol;
  d.revenuesLabel = QStringLiteral("%1 (%2)").arg(KVRLocalized("Revenues"), in.currencySymbol);

  // Icons. The one product comes from the selection the box shows.
  const size_t nAcc = accounts.size();
  if (S.size() == 1) {
    const KVRVortelyManagedProduct* p = S.front();
    if (p->isInAppPurchase()) {
      d.productIconName = QStringLiteral("inapp");
    } else if (p->isEBook()) {
      d.productIconName = QStringLiteral("ebook");
    } else {
      d.productImage = p->icone();
      if (d.productImage.isNull()) d.productIconName = QStringLiteral("productNoIcon");
    }
    d.accountIconName = QStringLiteral("accountNoIcon");
  } else if (S.empty() && nAcc == 1) {
    d.productIconName = QStringLiteral("productMultipleIcon");
    d.accountIconName = QStringLiteral("accountNoIcon");
  } else if (S.size() >= 2) {
    d.productIconName = QStringLiteral("productMultipleIcon");
    d.accountIconName = QStringLiteral("accountMultipleIcon");
  } else if (nAcc == 0) {
    d.productIconName = QStringLiteral("productNoIcon");
    d.accountIconName = QStringLiteral("accountNoIcon");
  } else {
    d.productIconName = QStringLiteral("productMultipleIcon");
    d.accountIconName = QStringLiteral("accountMultipleIcon");
  }
  if (nAcc == 1 && !accounts.front()->icon.isEmpty()) d.accountIconData = accounts.front()->icon;

  // Star ratings, added up by star level.
  d.ratingsAvailable = in.ratingsLoaded;
  if (in.ratingsLoaded) {
    for (const KVRStoreAccount* a : accounts)
      for (const KVRVortelyManagedProduct* p : a->products)
        if (p) addRatings(p, d.accountRatings, d.accountNewRatings);
    for (const KVRVortelyManagedProduct* p : shown) addRatings(p, d.productRatings, d.productNewRatings);
  }
  return d;
}
