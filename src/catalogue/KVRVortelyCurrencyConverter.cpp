#include "catalogue/KVRVortelyCurrencyConverter.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QDir>
#include <QSaveFile>
#include <QVariantMap>
#include <cmath>

#include "platform/KVRLocalization.h"
#include "platform/KVRVortelyLogCenter.h"
#include "platform/KVRSupportFolder.h"
#include "platform/KVRUserDefaults.h"

namespace {

const QString kLogKeyword = QStringLiteral("Currency Converter");
const QString kPreferedCurrencyKey = QStringLiteral("PreferedCurrency");
const QString kFinancialAccountsKey = QStringLiteral("FinancialAccounts");
const QString kRatesFileName = QStringLiteral("Rates.json");
constexpr int kRatesFileVersion = 1;

QString pairKey(const QString& from, const QString& to) { return from + QLatin1Char('>') + to; }

// Beyond this a rate, or its inverse, is taken for damage: no two currencies
// of the stores are a million times apart.
constexpr double kLargestRate = 1e6;

// Why a rate read from the file is refused; empty when it is usable.
QString refusal(const QJsonValue& v) {
  if (!v.isDouble()) return QStringLiteral("not a number");
  const double rate = v.toDouble();
  if (!std::isfinite(rate)) return QStringLiteral("not a number");
  if (rate <= 0.0) return QStringLiteral("zero or negative");
  if (rate > kLargestRate) return QStringLiteral("too large");
  if (rate < 1.0 / kLargestRate) return QStringLiteral("too small");
  return QString();
}

// "A, B, C and 4 more": at most `shown` items of a list.
QString listed(const QStringList& items, int shown = 8) {
  if (items.size() <= shown) return items.join(QStringLiteral(", "));
  return KVRLocalized("%1 and %2 more").arg(items.mid(0, shown).join(QStringLiteral(", "))).arg(items.size() - shown);
}

void log(const QString& message) {
  KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, kLogKeyword);
}

// A boolean kept in the defaults: typed, or read back from the settings file as text.
bool variantBool(const QVariant& v) {
  if (v.typeId() == QMetaType::QString) {
    const QString t = v.toString().trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes")) return true;
    bool ok = false;
    const double d = t.toDouble(&ok);
    return ok && d != 0;
  }
  return v.toBool();
}

KVRFinancialAccount accountFromMap(const QVariantMap& m) {
  KVRFinancialAccount a;
  a.Label = m.value(QStringLiteral("Label")).toString();
  a.Owner = m.value(QStringLiteral("Owner")).toString();
  a.Bank = m.value(QStringLiteral("Bank")).toString();
  a.Number = m.value(QStringLiteral("Number")).toString();
  a.Type = m.value(QStringLiteral("Type")).toString();
  a.Currency = m.value(QStringLiteral("Currency")).toString();
  a.CurrencyLocked = variantBool(m.value(QStringLiteral("CurrencyLocked")));
  return a;
}

void logMissingPair(const QString& f, const QString& t) {
  log(QStringLiteral("No exchange rate from %1 to %2: amounts are left unconverted")
          .arg(f.isEmpty() ? QStringLiteral("(none)") : f, t.isEmpty() ? QStringLiteral("(none)") : t));
}

}  // namespace

// ---------------------------------------------------------------- table

const std::vector<KVRCurrencyRow>& KVRVortelyCurrencyConverter::currencyValues() {
  // One row per money region; the US row leads so that dollars find "US".
  static const std::vector<KVRCurrencyRow> rows = {
      {QStringLiteral("US Dollar"), QStringLiteral("USD"), QStringLiteral("$"), QStringLiteral("US")},
      {QStringLiteral("Euro"), QStringLiteral("EUR"), QStringLiteral("€"), QStringLiteral("EU")},
      {QStringLiteral("Canadian Dollar"), QStringLiteral("CAD"), QStringLiteral("CA$"), QStringLiteral("CA")},
      {QStringLiteral("British Pound"), QStringLiteral("GBP"), QStringLiteral("£"), QStringLiteral("GB")},
      {QStringLiteral("Japanese Yen"), QStringLiteral("JPY"), QStringLiteral("¥"), QStringLiteral("JP")},
      {QStringLiteral("Australian Dollar"), QStringLiteral("AUD"), QStringLiteral("A$"), QStringLiteral("AU")},
      {QStringLiteral("US Dollar (Rest of the World)"), QStringLiteral("USD"), QStringLiteral("$"), QStringLiteral("WW")},
      {QStringLiteral("Mexican Peso"), QStringLiteral("MXN"), QStringLiteral("MX$"), QStringLiteral("MX")},
      {QStringLiteral("New Zealand Dollar"), QStringLiteral("NZD"), QStringLiteral("NZ$"), QStringLiteral("NZ")},
      {QStringLiteral("Norwegian Krone"), QStringLiteral("NOK"), QStringLiteral("NOK"), QStringLiteral("NO")},
      {QStringLiteral("Swiss Franc"), QStringLiteral("CHF"), QStringLiteral("CHF"), QStringLiteral("CH")},
      {QStringLiteral("Chinese Yuan"), QStringLiteral("CNY"), QStringLiteral("CN¥"), QStringLiteral("CN")},
      {QStringLiteral("Danish Krone"), QStringLiteral("DKK"), QStringLiteral("DKK"), QStringLiteral("DK")},
      {QStringLiteral("Swedish Krona"), QStringLiteral("SEK"), QStringLiteral("SEK"), QStringLiteral("SE")},
      {QStringLiteral("Singapore Dollar"), QStringLiteral("SGD"), QStringLiteral("SGD"), QStringLiteral("SG")},
      {QStringLiteral("New Taiwan Dollar"), QStringLiteral("TWD"), QStringLiteral("NT$"), QStringLiteral("TW")},
      {QStringLiteral("Hong Kong Dollar"), QStringLiteral("HKD"), QStringLiteral("HK$"), QStringLiteral("HK")},
  };
  return rows;
}

namespace {

// The `wanted` column of the first row whose `key` column is `value`.
QString columnOfFirstRow(const std::vector<KVRCurrencyRow>& rows, QString KVRCurrencyRow::*key, const QString& value,
                         QString KVRCurrencyRow::*wanted) {
  for (const KVRCurrencyRow& r : rows)
    if (r.*key == value) return r.*wanted;
  return QString();
}

}  // namespace

QString KVRVortelyCurrencyConverter::currencyRegionForCurrencyValue(const QString& code) {
  return columnOfFirstRow(currencyValues(), &KVRCurrencyRow::Value, code, &KVRCurrencyRow::Region);
}

QString KVRVortelyCurrencyConverter::currencySymbolForCurrencyRegion(const QString& region) {
  return columnOfFirstRow(currencyValues(), &KVRCurrencyRow::Region, region, &KVRCurrencyRow::Symbol);
}

QString KVRVortelyCurrencyConverter::currencySymbolForCurrencyValue(const QString& code) {
  return columnOfFirstRow(currencyValues(), &KVRCurrencyRow::Value, code, &KVRCurrencyRow::Symbol);
}

QString KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(const QString& region) {
  return columnOfFirstRow(currencyValues(), &KVRCurrencyRow::Region, region, &KVRCurrencyRow::Value);
}

QString KVRVortelyCurrencyConverter::rateCodeForCurrency(const QString& code) {
  if (code == QLatin1String("USD RoW") || code == QLatin1String("USD - RoW") ||
      code == QLatin1String("IAD"))
    return QStringLiteral("USD");
  return code;
}

// ---------------------------------------------------------------- instance

KVRVortelyCurrencyConverter& KVRVortelyCurrencyConverter::sharedInstance() {
  static KVRVortelyCurrencyConverter converter;
  return converter;
}

QString KVRVortelyCurrencyConverter::readPreferedCurrency() const {
  const QString code = KVRUserDefaults::standard().stringForKey(kPreferedCurrencyKey);
  if (code.isEmpty()) return QStringLiteral("EUR");
  if (!currencyRegionForCurrencyValue(code).isNull()) return code;
  // Any text can be stored in the default; one that is no currency of the
  // table would convert nothing.
  bool logIt = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    logIt = loggedUnknownPreferred_ != code;
    loggedUnknownPreferred_ = code;
  }
  if (logIt)
    log(QStringLiteral("The preferred currency \"%1\" is not a known currency: EUR is used instead").arg(code));
  return QStringLiteral("EUR");
}

QString KVRVortelyCurrencyConverter::preferedCurrency() const { return preferredRates()->preferred(); }

QString KVRVortelyCurrencyConverter::preferedCurrencySymbol() { return preferredRates()->preferredSymbol(); }

// ---------------------------------------------------------------- conversions by index

namespace {

// Every currency code met, by index, for the life of the process.
struct CurrencyRegistry {
  std::mutex lock;
  QHash<QString, int> indexes;
  std::vector<QString> codes;
};
CurrencyRegistry& registry() {
  static CurrencyRegistry r;
  return r;
}

// The conversions a thread used last, with what they were made for.
struct ThreadRates {
  const void* owner = nullptr;
  unsigned long long version = 0, defaults = ~0ull;
  KVRPreferredRatesRef rates;
};
thread_local ThreadRates threadRates;

}  // namespace

int KVRVortelyCurrencyConverter::currencyIndex(const QString& code) {
  CurrencyRegistry& r = registry();
  {
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.indexes.constFind(code);
    if (it != r.indexes.constEnd()) return *it;
    r.codes.push_back(code);
    r.indexes.insert(code, int(r.codes.size() - 1));
  }
  // The next conversions know the new code.
  sharedInstance().ratesVersion_.fetch_add(1, std::memory_order_release);
  return int(r.codes.size() - 1);
}

QString KVRVortelyCurrencyConverter::currencyForIndex(int index) {
  CurrencyRegistry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  return index >= 0 && size_t(index) < r.codes.size() ? r.codes[size_t(index)] : QString();
}

KVRPreferredRatesRef KVRVortelyCurrencyConverter::preferredRates() const {
  const unsigned long long version = ratesVersion_.load(std::memory_order_acquire);
  const unsigned long long defaults = KVRUserDefaults::changeCount();
  ThreadRates& t = threadRates;
  if (t.owner == this && t.rates && t.version == version && t.defaults == defaults) return t.rates;
  KVRPreferredRatesRef rates;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (preferredRates_ && preferredRatesVersion_ == version && preferredRatesDefaults_ == defaults)
      rates = preferredRates_;
  }
  if (!rates) {
    // Made from the rates and default as they are now, which are at least
    // as new as the counts read above.
    rates = makePreferredRates(readPreferedCurrency());
    std::lock_guard<std::mutex> g(lock_);
    preferredRates_ = rates;
    preferredRatesVersion_ = version;
    preferredRatesDefaults_ = defaults;
  }
  t = {this, version, defaults, rates};
  return rates;
}

KVRPreferredRatesRef KVRVortelyCurrencyConverter::makePreferredRates(const QString& preferred) const {
  auto r = std::make_shared<KVRPreferredRates>();
  r->converter_ = const_cast<KVRVortelyCurrencyConverter*>(this);
  r->preferred_ = preferred;
  const QString symbol = currencySymbolForCurrencyValue(preferred);
  r->symbol_ = symbol.isNull() ? preferred : symbol;
  std::vector<QString> codes;
  {
    CurrencyRegistry& reg = registry();
    std::lock_guard<std::mutex> g(reg.lock);
    r->indexes_ = reg.indexes;
    codes = reg.codes;
  }
  const QString to = rateCodeForCurrency(preferred);
  r->entries_.resize(codes.size());
  {
    std::lock_guard<std::mutex> g(lock_);
    for (size_t i = 0; i < codes.size(); ++i) {
      const QString from = rateCodeForCurrency(codes[i]);
      if (from == to) continue;
      const double rate = rateLocked(from, to);
      r->entries_[i] = {rate, rate == 0.0};
    }
  }
  r->noted_ = std::make_unique<std::atomic<bool>[]>(codes.size());
  return r;
}

void KVRVortelyCurrencyConverter::noteMissingPair(const QString& from, const QString& to) {
  bool logIt = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    logIt = noteMissingPairLocked(from, to);
  }
  if (logIt) logMissingPair(from, to);
}

int KVRPreferredRates::indexOf(const QString& code) const {
  auto it = indexes_.constFind(code);
  return it != indexes_.constEnd() ? *it : KVRVortelyCurrencyConverter::currencyIndex(code);
}

void KVRPreferredRates::noteMissing(int index) const {
  if (noted_[size_t(index)].exchange(true, std::memory_order_relaxed)) return;
  converter_->noteMissingPair(KVRVortelyCurrencyConverter::rateCodeForCurrency(KVRVortelyCurrencyConverter::currencyForIndex(index)),
                              KVRVortelyCurrencyConverter::rateCodeForCurrency(preferred_));
}

// A code met after these conversions were made: through the converter.
float KVRPreferredRates::slowFloatConvert(float amount, int index) const {
  const std::optional<double> rate = converter_->conversionRate(KVRVortelyCurrencyConverter::currencyForIndex(index), preferred_);
  return rate ? static_cast<float>(static_cast<double>(amount) * *rate) : amount;
}

float KVRPreferredRates::slowConvert(double amount, int index) const {
  const std::optional<double> rate = converter_->conversionRate(KVRVortelyCurrencyConverter::currencyForIndex(index), preferred_);
  return static_cast<float>(rate ? amount * *rate : amount);
}

double KVRVortelyCurrencyConverter::rateLocked(const QString& from, const QString& to) const {
  if (from == to) return 1.0;
  auto it = rates_.find(pairKey(from, to));
  if (it != rates_.end()) return it->second;
  it = rates_.find(pairKey(to, from));
  if (it != rates_.end()) return 1.0 / it->second;
  return 0.0;
}

double KVRVortelyCurrencyConverter::rateFrom(const QString& from, const QString& to) const {
  const QString f = rateCodeForCurrency(from), t = rateCodeForCurrency(to);
  std::lock_guard<std::mutex> g(lock_);
  return rateLocked(f, t);
}

bool KVRVortelyCurrencyConverter::noteMissingPairLocked(const QString& from, const QString& to) {
  return loggedMissingPairs_.insert(pairKey(from, to)).second;
}


double KVRVortelyCurrencyConverter::rateFromNotingMissing(const QString& from, const QString& to) {
  const QString f = rateCodeForCurrency(from), t = rateCodeForCurrency(to);
  bool logIt = false;
  double rate = 0.0;
  {
    std::lock_guard<std::mutex> g(lock_);
    rate = rateLocked(f, t);
    if (rate == 0.0) logIt = noteMissingPairLocked(f, t);
  }
  if (logIt) logMissingPair(f, t);
  return rate;
}

std::optional<double> KVRVortelyCurrencyConverter::conversionRate(const QString& from,
                                                                  const QString& to) {
  const QString f = rateCodeForCurrency(from), t = rateCodeForCurrency(to);
  if (f == t) return std::nullopt;
  bool logIt = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    const double rate = rateLocked(f, t);
    if (rate != 0.0) return rate;
    logIt = noteMissingPairLocked(f, t);
  }
  if (logIt) logMissingPair(f, t);
  return std::nullopt;
}

double KVRVortelyCurrencyConverter::convertAmount(double amount, const QString& from,
                                                  const QString& to) {
  const std::optional<double> rate = conversionRate(from, to);
  if (!rate) return amount;
  return static_cast<double>(static_cast<float>(amount * *rate));
}

float KVRVortelyCurrencyConverter::convertAmountToPreferedCurrency(double amount,
                                                                   const QString& from) {
  const KVRPreferredRatesRef rates = preferredRates();
  return rates->convert(amount, rates->indexOf(from));
}

float KVRVortelyCurrencyConverter::floatConvertAmountToPreferedCurrency(float amount,
                                                                        const QString& from) {
  const KVRPreferredRatesRef rates = preferredRates();
  return rates->floatConvert(amount, rates->indexOf(from));
}

bool KVRVortelyCurrencyConverter::isUsableRate(double rate) {
  return std::isfinite(rate) && rate > 0.0 && rate <= kLargestRate && rate >= 1.0 / kLargestRate;
}

void KVRVortelyCurrencyConverter::setRate(const QString& from, const QString& to, double rate) {
  const QString f = rateCodeForCurrency(from), t = rateCodeForCurrency(to);
  if (f == t) return;
  std::lock_guard<std::mutex> g(lock_);
  if (isUsableRate(rate)) {
    rates_[pairKey(f, t)] = rate;
    loggedMissingPairs_.erase(pairKey(f, t));
    loggedMissingPairs_.erase(pairKey(t, f));
  } else {
    rates_.erase(pairKey(f, t));
  }
  ratesChangedLocked();
}

void KVRVortelyCurrencyConverter::removeAllRates() {
  std::lock_guard<std::mutex> g(lock_);
  rates_.clear();
  effectivePreferred_.clear();
  effectiveRates_.clear();
  ratesChangedLocked();
}

void KVRVortelyCurrencyConverter::resetRatesProblems() {
  std::lock_guard<std::mutex> g(lock_);
  loggedMissingPairs_.clear();
  ratesFileProblem_.clear();
  ratesFileMissing_ = false;
  refusedRates_.clear();
  toldProblems_.clear();
  ratesChangedLocked();
}

std::optional<KVRVortelyCurrencyConverter::Notice> KVRVortelyCurrencyConverter::takeRatesNotice() {
  const QString path = QDir::toNativeSeparators(ratesFilePath());
  std::lock_guard<std::mutex> g(lock_);
  // The pairs still missing now (a rate may have come since), by target.
  QStringList missing;
  std::map<QString, QStringList> sourcesByTarget;
  for (const QString& key : loggedMissingPairs_) {
    const int sep = key.indexOf(QLatin1Char('>'));
    const QString f = key.left(sep), t = key.mid(sep + 1);
    if (f.isEmpty() || t.isEmpty() || rateLocked(f, t) != 0.0) continue;
    missing << key;
    sourcesByTarget[t] << f;
  }
  std::set<QString> problems;
  for (const QString& m : missing) problems.insert(QStringLiteral("missing ") + m);
  if (!ratesFileProblem_.isEmpty()) problems.insert(QStringLiteral("file ") + ratesFileProblem_);
  for (const QString& r : refusedRates_) problems.insert(QStringLiteral("refused ") + r);
  // A missing file matters only when some amount needed a rate.
  if (ratesFileMissing_ && !missing.isEmpty()) problems.insert(QStringLiteral("no file"));
  bool anythingNew = false;
  for (const QString& p : problems) anythingNew = anythingNew || !toldProblems_.count(p);
  if (!anythingNew) return std::nullopt;
  toldProblems_.insert(problems.begin(), problems.end());

  QStringList paragraphs;
  if (!missing.isEmpty()) {
    QStringList conversions;
    for (const auto& [target, sources] : sourcesByTarget)
      conversions << KVRLocalized("%1 into %2").arg(listed(sources), target);
    paragraphs << KVRLocalized("No usable exchange rate converts %1. These amounts are counted unconverted, "
                               "at a rate of 1, so revenue in other currencies is not exact.")
                      .arg(conversions.join(QStringLiteral("; ")));
  }
  if (!ratesFileProblem_.isEmpty())
    paragraphs << KVRLocalized("The exchange rates file “%1” is damaged (%2): none of its rates were used.")
                      .arg(path, ratesFileProblem_);
  else if (ratesFileMissing_ && !missing.isEmpty())
    paragraphs << KVRLocalized("The exchange rates file “%1” is missing.").arg(path);
  if (!refusedRates_.isEmpty())
    paragraphs << KVRLocalized("These rates of “%1” were refused: %2.").arg(path, listed(refusedRates_));
  return Notice{KVRLocalized("Some exchange rates are missing or damaged"), paragraphs.join(QStringLiteral("\n\n"))};
}

int KVRVortelyCurrencyConverter::rateCount() const {
  std::lock_guard<std::mutex> g(lock_);
  return static_cast<int>(rates_.size());
}

// ---------------------------------------------------------------- persistence
//
// Rates.json: {"version": 1, "rates": {"USD>EUR": 0.74, ...}}

QString KVRVortelyCurrencyConverter::ratesFilePath() { return KVRSupportFolder::file(kRatesFileName); }

bool KVRVortelyCurrencyConverter::saveRates(QString* error) {
  QJsonObject rates;
  {
    std::lock_guard<std::mutex> g(lock_);
    for (const auto& [key, rate] : rates_) rates.insert(key, rate);
  }
  QJsonObject root;
  root.insert(QStringLiteral("version"), kRatesFileVersion);
  root.insert(QStringLiteral("rates"), rates);

  const QString path = ratesFilePath();
  QSaveFile file(path);
  QString failure;
  if (!file.open(QIODevice::WriteOnly)) {
    failure = file.errorString();
  } else {
    const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (file.write(data) != data.size()) {
      failure = file.errorString();
      file.cancelWriting();
    } else if (!file.commit()) {
      failure = file.errorString();
    }
  }
  if (failure.isEmpty()) return true;
  log(QStringLiteral("Could not save the exchange rates to %1: %2").arg(path, failure));
  if (error) *error = failure;
  return false;
}

void KVRVortelyCurrencyConverter::loadRates() {
  const QString path = ratesFilePath();
  auto fileProblem = [this](const QString& problem, bool missing) {
    std::lock_guard<std::mutex> g(lock_);
    ratesFileProblem_ = problem;
    ratesFileMissing_ = missing;
    refusedRates_.clear();
  };
  QFile file(path);
  if (!file.exists()) {
    log(QStringLiteral("No exchange rates file %1").arg(path));
    fileProblem(QString(), true);
    return;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    log(QStringLiteral("Could not read the exchange rates file %1: %2").arg(path, file.errorString()));
    fileProblem(file.errorString(), false);
    return;
  }
  QJsonParseError parseError;
  const QByteArray data = file.readAll();
  const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
  if (doc.isNull() || !doc.isObject() || !doc.object().value(QStringLiteral("rates")).isObject()) {
    const QString why = data.trimmed().isEmpty() ? QStringLiteral("empty")
                        : parseError.error == QJsonParseError::NoError ? QStringLiteral("unexpected content")
                                                                        : parseError.errorString();
    log(QStringLiteral("Ignoring the damaged exchange rates file %1 (%2)").arg(path, why));
    fileProblem(why, false);
    return;
  }
  std::map<QString, double> loaded;
  QStringList refused;
  const QJsonObject rates = doc.object().value(QStringLiteral("rates")).toObject();
  for (auto it = rates.begin(); it != rates.end(); ++it) {
    const QString key = it.key();
    const int sep = key.indexOf(QLatin1Char('>'));
    QString why = sep <= 0 || sep == key.size() - 1 ? QStringLiteral("not a currency pair") : refusal(it.value());
    if (!why.isEmpty()) {
      refused << QStringLiteral("%1 (%2)").arg(key, why);
      continue;
    }
    loaded[key] = it.value().toDouble();
  }
  if (!refused.isEmpty())
    log(QStringLiteral("Refused %1 rate(s) in %2: %3").arg(refused.size()).arg(path, refused.join(QStringLiteral(", "))));
  std::lock_guard<std::mutex> g(lock_);
  rates_ = std::move(loaded);
  ratesChangedLocked();
  ratesFileProblem_.clear();
  ratesFileMissing_ = false;
  refusedRates_ = refused;
}

// ---------------------------------------------------------------- effective rates

void KVRVortelyCurrencyConverter::setEffectiveRates(const QString& preferred,
                                                    std::map<const KVRStoreAccount*, KVREffectiveRatesRef> rates) {
  std::lock_guard<std::mutex> g(lock_);
  effectivePreferred_ = preferred;
  effectiveRates_ = std::move(rates);
}

KVREffectiveRatesRef KVRVortelyCurrencyConverter::effectiveRatesForAccount(const KVRStoreAccount* account) const {
  const QString preferred = preferedCurrency();
  std::lock_guard<std::mutex> g(lock_);
  if (!account || preferred != effectivePreferred_) return nullptr;
  auto it = effectiveRates_.find(account);
  return it == effectiveRates_.end() ? nullptr : it->second;
}

void KVRVortelyCurrencyConverter::removeEffectiveRates() {
  std::lock_guard<std::mutex> g(lock_);
  effectivePreferred_.clear();
  effectiveRates_.clear();
}

// ---------------------------------------------------------------- financial accounts

std::vector<KVRFinancialAccount> KVRVortelyCurrencyConverter::financialAccounts() {
  std::vector<KVRFinancialAccount> accounts;
  for (const QVariant& v : financialAccountsDefault()) {
    if (v.typeId() != QMetaType::QVariantMap) continue;
    accounts.push_back(accountFromMap(v.toMap()));
  }
  return accounts;
}

std::optional<KVRFinancialAccount> KVRVortelyCurrencyConverter::financialAccountWithName(
    const QString& label) const {
  if (label.isNull()) return std::nullopt;
  if (const KVRFinancialAccount* a = KVRFinancialAccounts::shared().withLabel(label)) return *a;
  return std::nullopt;
}

QVariantList KVRVortelyCurrencyConverter::financialAccountsDefault() {
  return KVRUserDefaults::standard().arrayForKey(kFinancialAccountsKey);
}

void KVRVortelyCurrencyConverter::setFinancialAccountsDefault(
    const std::vector<KVRFinancialAccount>& accounts) {
  KVRFinancialAccounts::shared().replace(accounts);
}

// ---------------------------------------------------------------- the shared list

KVRFinancialAccounts& KVRFinancialAccounts::shared() {
  static KVRFinancialAccounts list;
  return list;
}

std::vector<KVRFinancialAccount>& KVRFinancialAccounts::accounts() {
  if (!loaded_) {
    accounts_ = KVRVortelyCurrencyConverter::financialAccounts();
    loaded_ = true;
  }
  return accounts_;
}

const KVRFinancialAccount* KVRFinancialAccounts::withLabel(const QString& label) {
  if (label.isNull()) return nullptr;
  for (const KVRFinancialAccount& a : accounts())
    if (a.Label == label) return &a;
  return nullptr;
}

bool KVRFinancialAccounts::store(QString* error) {
  QVariantList list;
  for (const KVRFinancialAccount& a : accounts()) {
    QVariantMap m;
    m.insert(QStringLiteral("Label"), a.Label);
    m.insert(QStringLiteral("Owner"), a.Owner);
    m.insert(QStringLiteral("Bank"), a.Bank);
    m.insert(QStringLiteral("Number"), a.Number);
    m.insert(QStringLiteral("Type"), a.Type);
    m.insert(QStringLiteral("Currency"), a.Currency);
    m.insert(QStringLiteral("CurrencyLocked"), a.CurrencyLocked);
    list.append(m);
  }
  KVRUserDefaults& defaults = KVRUserDefaults::standard();
  defaults.setArray(kFinancialAccountsKey, list);
  if (defaults.synchronize()) return true;
  const QString why = KVRLocalized("The preferences file could not be written.");
  log(QStringLiteral("The financial accounts could not be stored: %1").arg(why));
  if (error) *error = why;
  return false;
}

bool KVRFinancialAccounts::setCurrencyLocked(const QString& label, bool locked, QString* error) {
  std::vector<KVRFinancialAccount>& list = accounts();
  for (KVRFinancialAccount& a : list) {
    if (a.Label != label) continue;
    if (a.CurrencyLocked == locked) return true;
    a.CurrencyLocked = locked;
    if (store(error)) return true;
    // Put back, in the settings held in memory too.
    a.CurrencyLocked = !locked;
    store();
    return false;
  }
  return true;
}

bool KVRFinancialAccounts::replace(std::vector<KVRFinancialAccount> accounts, QString* error) {
  accounts_ = std::move(accounts);
  loaded_ = true;
  return store(error);
}

void KVRFinancialAccounts::reload() {
  loaded_ = false;
  accounts_.clear();
}
