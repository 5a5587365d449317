#pragma once
// The exchange rates that reconciled payments show: what the money of a
// region's sales actually brought once it reached the bank.
//
// For each store account, its statement is built as when the account row is
// selected (all its products, its payments). Each reconciled payment of a
// money region (not iAd) then gives one rate for the region's currency:
//
//   rate = received / estimated x (rate from the currency received to the
//          preferred currency)
//
// where received is the payment report's pointed income, in the currency of
// its reconciliation line (the preferred currency when it has none), and
// estimated is what the account's financial reports announced for the region
// over the months the payment pays: its own month and the earlier months it
// covers, in the region's currency. A bookkeeper's effective rate is money in
// over income booked, so the rate takes in what the store kept back (the
// Japanese withholding tax, rounding of the transfer): the overview's income
// of those months then adds up to the money received, as the statement's
// does through its payment ratio.
//
// The rate holds for the days of those months' financial reports (their
// begin to end days; the calendar month when a report has no end or a span
// shorter than three weeks, or the month has no report), for the account's sales in the region's countries
// in that currency. A later payment's rate wins where two payments cover a
// day. No rate is derived where the estimate is not above 0, the received
// amount is not above 0, or the rate is not usable (see the converter).
//
// Reads the store under the context lock; any thread.
#include <map>
#include <vector>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRHistoryBuilder.h"

class KVRVortelyCoreDataManager;
class KVRVortelyManagedProduct;
struct KVRStoreAccount;

using KVREffectiveRatesByAccount = std::map<const KVRStoreAccount*, KVREffectiveRatesRef>;

// One account's rates into the `preferred` currency; null when it has none.
KVREffectiveRatesRef KVRDeriveEffectiveRatesForAccount(KVRVortelyCoreDataManager& dataManager,
                                                       KVRStoreAccount* account, const QString& preferred);
// The rates of every account of the store, into the `preferred` currency.
KVREffectiveRatesByAccount KVRDeriveEffectiveRates(KVRVortelyCoreDataManager& dataManager, const QString& preferred);
// Derives them for the converter's current preferred currency (read once) and
// hands them to the shared converter, which the history builds read. The number of rates (day runs) installed.
size_t KVRInstallEffectiveRates(KVRVortelyCoreDataManager& dataManager);

// What a reconciliation changes, rebuilt off the main thread: the rates of
// the accounts it touched (the payment's), and the histories of those
// accounts' products that have sales on a day whose rate changed, built with
// the new rates. Every other account keeps its rates and every other product
// its history, which a full rebuild would give again bit for bit: a history
// reads the rates only on its lines' days.
struct KVRRatesRebuild {
  QString preferred;
  KVREffectiveRatesByAccount rates;  // every account's rates, the touched ones new
  std::vector<KVRVortelyManagedProduct*> products;  // the products rebuilt
  std::vector<KVRHistory> histories;                // histories[i]: products[i]'s
  size_t changedRuns = 0;                           // rate runs that differ from before
};
// Any thread; reads the store under the context lock and the converter's
// current rates, changes nothing.
KVRRatesRebuild KVRRebuildRatesOfAccounts(KVRVortelyCoreDataManager& dataManager,
                                          const std::vector<KVRStoreAccount*>& accounts);
// Main thread: the rates into the shared converter, then each history into
// its product (and the shared values index). Returns the histories replaced,
// for the caller to let go of off the main thread (freeing them unmaps their
// memory).
std::vector<KVRProductValuesRef> KVRInstallRatesRebuild(KVRRatesRebuild rebuild);
