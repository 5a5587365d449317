#include "catalogue/KVRVortelyCurrencyConverter.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QVariantMap>
#include <cmath>

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

bool isUsableRate(double rate) { return std::isfinite(rate) && rate > 0.0; }

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

QString KVRVortelyCurrencyConverter::preferedCurrency() const {
  const QString code = KVRUserDefaults::standard().stringForKey(kPreferedCurrencyKey);
  return code.isEmpty() ? QStringLiteral("EUR") : code;
}

QString KVRVortelyCurrencyConverter::preferedCurrencySymbol() {
  const QString code = preferedCurrency();
  std::lock_guard<std::mutex> g(lock_);
  if (cachedSymbol_.isNull() || cachedSymbolCode_ != code) {
    QString symbol = currencySymbolForCurrencyValue(code);
    cachedSymbol_ = symbol.isNull() ? code : symbol;
    cachedSymbolCode_ = code;
  }
  return cachedSymbol_;
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

std::optional<double> KVRVortelyCurrencyConverter::conversionRate(const QString& from,
                                                                  const QString& to) {
  const QString f = rateCodeForCurrency(from), t = rateCodeForCurrency(to);
  if (f == t) return std::nullopt;
  bool logIt = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    const double rate = rateLocked(f, t);
    if (rate != 0.0) return rate;
    logIt = loggedMissingPairs_.insert(pairKey(f, t)).second;
  }
  if (logIt)
    log(QStringLiteral("No exchange rate from %1 to %2: amounts are left unconverted")
            .arg(f.isEmpty() ? QStringLiteral("(none)") : f, t.isEmpty() ? QStringLiteral("(none)") : t));
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
  return static_cast<float>(convertAmount(amount, from, preferedCurrency()));
}

float KVRVortelyCurrencyConverter::floatConvertAmountToPreferedCurrency(float amount,
                                                                        const QString& from) {
  const std::optional<double> rate = conversionRate(from, preferedCurrency());
  if (!rate) return amount;
  return static_cast<float>(static_cast<double>(amount) * *rate);
}

void KVRVortelyCurrencyConverter::setRate(const QString& from, const QString& to, double rate) {
  const QString f = rateCodeForCurrency(from), t = rateCodeForCurrency(to);
  if (f == t) return;
  std::lock_guard<std::mutex> g(lock_);
  if (isUsableRate(rate))
    rates_[pairKey(f, t)] = rate;
  else
    rates_.erase(pairKey(f, t));
}

void KVRVortelyCurrencyConverter::removeAllRates() {
  std::lock_guard<std::mutex> g(lock_);
  rates_.clear();
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
  QFile file(path);
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    log(QStringLiteral("Could not read the exchange rates file %1: %2").arg(path, file.errorString()));
    return;
  }
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
  if (doc.isNull() || !doc.isObject() || !doc.object().value(QStringLiteral("rates")).isObject()) {
    log(QStringLiteral("Ignoring the damaged exchange rates file %1 (%2)")
            .arg(path, parseError.error == QJsonParseError::NoError ? QStringLiteral("unexpected content")
                                                                      : parseError.errorString()));
    return;
  }
  std::map<QString, double> loaded;
  int skipped = 0;
  const QJsonObject rates = doc.object().value(QStringLiteral("rates")).toObject();
  for (auto it = rates.begin(); it != rates.end(); ++it) {
    const QString key = it.key();
    const int sep = key.indexOf(QLatin1Char('>'));
    const double rate = it.value().toDouble(0.0);
    if (sep <= 0 || sep == key.size() - 1 || !it.value().isDouble() || !isUsableRate(rate)) {
      ++skipped;
      continue;
    }
    loaded[key] = rate;
  }
  if (skipped)
    log(QStringLiteral("Skipped %1 unreadable rate(s) in %2").arg(skipped).arg(path));
  std::lock_guard<std::mutex> g(lock_);
  rates_ = std::move(loaded);
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
  for (const QVariant& v : financialAccountsDefault()) {
    if (v.typeId() != QMetaType::QVariantMap) continue;
    const QVariantMap m = v.toMap();
    if (m.value(QStringLiteral("Label")).toString() == label) return accountFromMap(m);
  }
  return std::nullopt;
}

QVariantList KVRVortelyCurrencyConverter::financialAccountsDefault() {
  return KVRUserDefaults::standard().arrayForKey(kFinancialAccountsKey);
}

void KVRVortelyCurrencyConverter::setFinancialAccountsDefault(
    const std::vector<KVRFinancialAccount>& accounts) {
  QVariantList list;
  for (const KVRFinancialAccount& a : accounts) {
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
  KVRUserDefaults::standard().setArray(kFinancialAccountsKey, list);
}
