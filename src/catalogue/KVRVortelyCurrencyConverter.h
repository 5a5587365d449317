#pragma once
// The shared currency table, the user's preferred currency and the cache of
// exchange rates.
//
// The table has one row per money region (US, EU, CA, GB, JP, AU, WW, MX, NZ,
// NO, CH, CN, DK, SE, SG, TW, HK), in that order; every look-up answers the
// first matching row, so "USD" finds the US row before the WW row. The ad
// region "IAD" has no row.
//
// Exchange rates are kept per ordered pair of codes. The report codes
// "USD RoW", "USD - RoW" and "IAD" are dollars and convert as "USD". Only
// usable rates are kept: finite, positive, and neither the rate nor its
// inverse beyond 10^6 (a rate of 1e-40 would turn amounts into infinities
// through its inverse). A pair without a usable rate converts with rate 1
// (the amount comes back unchanged), is written to the log once and is
// remembered for the rates notice, which tells the user once, in the window,
// which rates are missing or damaged. The rate cache is guarded by a mutex:
// the converter is used from the history-building worker threads too.
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <map>
#include <atomic>
#include <vector>

#include "platform/KVRDate.h"

struct KVRStoreAccount;

// An exchange rate derived from a reconciled payment: what one unit of
// `currency` brought in the preferred currency, for the sales in the
// countries of money region `region` on the days firstDay to lastDay, of the
// products of one store account.
struct KVREffectiveRate {
  QString region;     // money region code of the countries ("EU")
  QString currency;   // rate code of the lines it converts ("EUR")
  KVRCivilDay firstDay = 0, lastDay = -1;
  double rate = 0;    // to the preferred currency
};
// One account's rates, sorted by region, currency and day, never overlapping.
using KVREffectiveRates = std::vector<KVREffectiveRate>;
using KVREffectiveRatesRef = std::shared_ptr<const KVREffectiveRates>;

struct KVRCurrencyRow {
  QString Label;   // English name of the currency
  QString Value;   // ISO 4217 code
  QString Symbol;  // display symbol
  QString Region;  // money region code
};

// A bank account the store pays into (user default "FinancialAccounts").
struct KVRFinancialAccount {
  QString Label, Owner, Bank, Number, Type, Currency;
  bool CurrencyLocked = false;
};

// The financial accounts of the application: one list, copied from the user
// default "FinancialAccounts" on first use and shared by everything that
// shows or reads an account (the accounts pop-up, the converter's
// financialAccountWithName, the reconciliation). A change goes through
// store(), which writes the whole list to the user default at once.
// Main thread.
class KVRFinancialAccounts {
 public:
  static KVRFinancialAccounts& shared();

  // The accounts, in their stored order; changes to them are kept in memory
  // until store().
  std::vector<KVRFinancialAccount>& accounts();
  // The first account with that label; null when none.
  const KVRFinancialAccount* withLabel(const QString& label);
  // Writes the list to the user default now; false, with the reason, when
  // the settings file could not be written.
  bool store(QString* error = nullptr);
  // Sets CurrencyLocked on the first account of that label and stores the
  // list when it changed. An unknown label changes nothing (true). When the
  // list cannot be stored, the flag is put back and false is returned.
  bool setCurrencyLocked(const QString& label, bool locked, QString* error = nullptr);
  // The list becomes these accounts, stored at once.
  bool replace(std::vector<KVRFinancialAccount> accounts, QString* error = nullptr);
  // Reads the user default again on next use (a settings file changed
  // behind the list's back; tests).
  void reload();

 private:
  KVRFinancialAccounts() = default;
  bool loaded_ = false;
  std::vector<KVRFinancialAccount> accounts_;
};

class KVRVortelyCurrencyConverter;

// The conversions into the preferred currency as of the last change of the
// rates or of the preferred currency, made once per change: each currency
// code met gets an index, and a conversion looks its rate up by that index,
// without a lock or a text. Immutable; any thread. The results are those of
// the converter's convertAmountToPreferedCurrency and
// floatConvertAmountToPreferedCurrency, bit for bit.
class KVRPreferredRates {
 public:
  const QString& preferred() const { return preferred_; }
  const QString& preferredSymbol() const { return symbol_; }
  // The index of a currency code; a code met for the first time gets one.
  int indexOf(const QString& code) const;
  // floatConvertAmountToPreferedCurrency of the currency of that index.
  float floatConvert(float amount, int index) const {
    const Entry* e = entry(index);
    if (!e) return slowFloatConvert(amount, index);
    if (e->rate == 0.0) {
      if (e->missing) noteMissing(index);
      return amount;
    }
    return static_cast<float>(static_cast<double>(amount) * e->rate);
  }
  // convertAmountToPreferedCurrency of the currency of that index.
  float convert(double amount, int index) const {
    const Entry* e = entry(index);
    if (!e) return slowConvert(amount, index);
    if (e->rate == 0.0) {
      if (e->missing) noteMissing(index);
      return static_cast<float>(amount);
    }
    return static_cast<float>(amount * e->rate);
  }

 private:
  friend class KVRVortelyCurrencyConverter;
  struct Entry {
    double rate = 0;       // 0: the amount stays as it is
    bool missing = false;  // no rate for a pair of two codes
  };
  const Entry* entry(int index) const {
    return index >= 0 && size_t(index) < entries_.size() ? &entries_[size_t(index)] : nullptr;
  }
  void noteMissing(int index) const;
  float slowFloatConvert(float amount, int index) const;
  float slowConvert(double amount, int index) const;

  KVRVortelyCurrencyConverter* converter_ = nullptr;
  QString preferred_, symbol_;
  QHash<QString, int> indexes_;  // the codes known when made
  std::vector<Entry> entries_;
  // Whether a missing pair was noted (once per set of rates).
  std::unique_ptr<std::atomic<bool>[]> noted_;
};
using KVRPreferredRatesRef = std::shared_ptr<const KVRPreferredRates>;

// The index of the currency texts of many lines: lines that share one text
// (as the lines of one load do) find it by the text's address. For one pass
// over lines that stay alive during it.
class KVRCurrencyIndexCache {
 public:
  explicit KVRCurrencyIndexCache(const KVRPreferredRates& rates) : rates_(rates) {}
  int of(const QString& code) {
    const void* key = code.constData();
    if (key == lastKey_) return last_;
    auto it = byAddress_.find(key);
    last_ = it != byAddress_.end() ? it->second : (byAddress_[key] = rates_.indexOf(code));
    lastKey_ = key;
    return last_;
  }

 private:
  const KVRPreferredRates& rates_;
  const void* lastKey_ = nullptr;
  int last_ = -1;
  std::map<const void*, int> byAddress_;
};

class KVRVortelyCurrencyConverter {
 public:
  static const std::vector<KVRCurrencyRow>& currencyValues();
  // First-row look-ups; null QString when no row matches.
  static QString currencyRegionForCurrencyValue(const QString& code);
  static QString currencySymbolForCurrencyRegion(const QString& region);
  static QString currencySymbolForCurrencyValue(const QString& code);
  static QString currencyValueForCurrencyRegion(const QString& region);  // "IAD" gives null

  // The code used for rates: "USD RoW", "USD - RoW" and "IAD" give "USD";
  // any other code is returned as it is.
  static QString rateCodeForCurrency(const QString& code);

  static KVRVortelyCurrencyConverter& sharedInstance();
  // A converter of one's own (tests): no rates until given some; the
  // preferred currency and the financial accounts are the user defaults.
  KVRVortelyCurrencyConverter() = default;
  KVRVortelyCurrencyConverter(const KVRVortelyCurrencyConverter&) = delete;
  KVRVortelyCurrencyConverter& operator=(const KVRVortelyCurrencyConverter&) = delete;

  // The user default "PreferedCurrency"; "EUR" when unset, empty or not a
  // currency of the table (then written to the log, once per value). Read
  // again only after a change of the user defaults.
  QString preferedCurrency() const;
  // The conversions into the preferred currency, made again only after a
  // change of the rates or of the user defaults. Any thread.
  KVRPreferredRatesRef preferredRates() const;
  // The index of a currency code (the same in every KVRPreferredRates).
  static int currencyIndex(const QString& code);
  static QString currencyForIndex(int index);
  // The symbol of the preferred currency, cached for the code it was looked up
  // for (a change of the preferred currency is followed). A code without a
  // table row gives the code itself.
  QString preferedCurrencySymbol();

  // The amount itself when both codes are equal or the pair has no rate;
  // otherwise amount times rate, formed in double and rounded once to float.
  double convertAmount(double amount, const QString& from, const QString& to);
  float convertAmountToPreferedCurrency(double amount, const QString& from);
  float floatConvertAmountToPreferedCurrency(float amount, const QString& from);

  // 1 for equal codes; the stored rate of the pair, else 1 / the stored rate of
  // the reverse pair; 0 when neither is known.
  double rateFrom(const QString& from, const QString& to) const;
  // The same, for a computation that will count a pair without a rate at 1:
  // such a pair is logged once and remembered for the rates notice.
  double rateFromNotingMissing(const QString& from, const QString& to);
  // Whether a rate can be kept: finite, positive, and neither it nor its
  // inverse beyond 10^6.
  static bool isUsableRate(double rate);
  // Stores the rate of a pair; a rate that is not usable forgets the pair
  // instead.
  void setRate(const QString& from, const QString& to, double rate);
  void removeAllRates();
  int rateCount() const;

  // What the user is told about the rates, once: a title and a text naming
  // the missing pairs and what was wrong with the rates file (damaged,
  // refused rates, or missing while rates were needed). Empty when all is
  // well or every current problem was already told.
  struct Notice {
    QString title, text;
  };
  std::optional<Notice> takeRatesNotice();
  // Forgets the problems seen and told (tests).
  void resetRatesProblems();

  // The rate cache lives in the support folder as "Rates.json", written in one
  // piece (a failed write leaves the previous file). loadRates replaces the
  // cache with the file's usable rates and refuses the others; a missing file
  // changes nothing, a damaged one (empty, truncated, not JSON) is ignored;
  // each is logged and kept for the rates notice.
  static QString ratesFilePath();
  bool saveRates(QString* error = nullptr);
  void loadRates();

  // The rates derived from reconciled payments, per store account, for the
  // preferred currency they were derived for. They replace the cached rates
  // for the days, regions and currencies they cover; an account without any
  // (or a preferred currency that changed since) converts at the cached
  // rates. Any thread.
  void setEffectiveRates(const QString& preferred, std::map<const KVRStoreAccount*, KVREffectiveRatesRef> rates);
  KVREffectiveRatesRef effectiveRatesForAccount(const KVRStoreAccount* account) const;
  // Forgets them (the store they were derived from closes; removeAllRates
  // forgets them too).
  void removeEffectiveRates();

  // The first account of the shared financial accounts list
  // (KVRFinancialAccounts) whose Label equals the text; none for a null label.
  std::optional<KVRFinancialAccount> financialAccountWithName(const QString& label) const;
  // The accounts as the user default "FinancialAccounts" holds them now.
  static std::vector<KVRFinancialAccount> financialAccounts();
  static QVariantList financialAccountsDefault();
  // Stores the accounts: the shared list becomes them and the user default is
  // written at once.
  static void setFinancialAccountsDefault(const std::vector<KVRFinancialAccount>& accounts);

 private:
  friend class KVRPreferredRates;
  QString readPreferedCurrency() const;
  KVRPreferredRatesRef makePreferredRates(const QString& preferred) const;
  // Called with lock_ held after a change of the rates or of what was told.
  void ratesChangedLocked() { ratesVersion_.fetch_add(1, std::memory_order_release); }
  void noteMissingPair(const QString& from, const QString& to);
  // The multiplier of a conversion; nullopt when the codes are equal or the
  // pair has no rate (the latter logged once).
  std::optional<double> conversionRate(const QString& from, const QString& to);
  double rateLocked(const QString& from, const QString& to) const;

  // The pair is remembered as missing; true the first time.
  bool noteMissingPairLocked(const QString& from, const QString& to);

  mutable std::mutex lock_;
  mutable std::atomic<unsigned long long> ratesVersion_{1};
  // The conversions last made, with the rates version and defaults change
  // count they were made for (under lock_).
  mutable KVRPreferredRatesRef preferredRates_;
  mutable unsigned long long preferredRatesVersion_ = 0, preferredRatesDefaults_ = ~0ull;
  std::map<QString, double> rates_;  // key "FROM>TO"
  QString effectivePreferred_;
  std::map<const KVRStoreAccount*, KVREffectiveRatesRef> effectiveRates_;
  std::set<QString> loggedMissingPairs_;
  mutable QString loggedUnknownPreferred_;

  // Problems of the rates, for the notice.
  QString ratesFileProblem_;      // what was wrong with the file; empty when none
  bool ratesFileMissing_ = false;
  QStringList refusedRates_;      // "USD>EUR (not a number)"
  std::set<QString> toldProblems_;
};
