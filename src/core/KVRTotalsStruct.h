#pragma once
// The totals record: single-precision measures of one product (or a sum of
// products) for a region, country and day or span, plus amounts per currency.
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <string_view>

#include "platform/KVRDate.h"

// The summed measures, in the order the totals engine visits them.
enum class KVRMeasure : uint8_t {
  sales, upgrades, refunds, downloads, paiedSales, freeSales,  // count measures
  currency, iAdSales, eCPM, requests, impressions, fillRate, ctr,
  promoCode, giftPurchase, giftRedemption, eduStore, newSubscription, renewal,
  income,
};
inline constexpr int KVRSummedMeasureCount = 19;  // every measure but income
inline constexpr int KVRCountMeasureCount = 6;    // the first six are counts

// The 13 currencies that carry an amount of their own in a record.
enum class KVRCurrencySlot : uint8_t { USD, EUR, AUD, CAD, JPY, GBP, CHF, NOK, NZD, MXN, CNY, SEK, DKK };
inline constexpr int KVRCurrencySlotCount = 13;

// A set of currency codes. Codes are interned in a process-wide table (at most
// 64 distinct codes), so a set is a bit mask; "absent" and "empty" differ.
class KVRCurrencySet {
 public:
  bool exists() const { return made_; }
  void make() { made_ = true; }
  void insert(std::string_view code);
  void unite(const KVRCurrencySet& other) { made_ = true; bits_ |= other.bits_; }
  bool contains(std::string_view code) const;
  bool empty() const { return bits_ == 0; }
  int count() const;
  QStringList codes() const;  // sorted
  uint64_t bits() const { return bits_; }
  template <typename F> void forEach(F&& f) const {  // f(std::string_view code)
    for (uint64_t b = bits_; b; b &= b - 1) f(codeForIndex(__builtin_ctzll(b)));
  }
  bool operator==(const KVRCurrencySet& o) const { return made_ == o.made_ && bits_ == o.bits_; }

  static int indexForCode(std::string_view code);  // interns; -1 when the table is full
  static std::string_view codeForIndex(int index);

 private:
  uint64_t bits_ = 0;
  bool made_ = false;
};

struct KVRTotalsStruct {
  float promoCode = 0, giftPurchase = 0, giftRedemption = 0, eduStore = 0, newSubscription = 0,
        renewal = 0, downloads = 0, sales = 0, upgrades = 0, currency = 0, refunds = 0,
        paiedSales = 0, freeSales = 0, income = 0, iAdSales = 0, eCPM = 0, requests = 0,
        impressions = 0, fillRate = 0, ctr = 0;
  float currencyUSD = 0, currencyEUR = 0, currencyAUD = 0, currencyCAD = 0, currencyJPY = 0,
        currencyGBP = 0, currencyCHF = 0, currencyNOK = 0, currencyNZD = 0, currencyMXN = 0,
        currencyCNY = 0, currencySEK = 0, currencyDKK = 0;
  KVRCurrencySet currencies;  // absent until the first currency operation
  KVRDate beginDate, endDate, date;

  float& measure(KVRMeasure m);
  float measure(KVRMeasure m) const { return const_cast<KVRTotalsStruct*>(this)->measure(m); }
  float& currencyAmount(KVRCurrencySlot s);
  float currencyAmount(KVRCurrencySlot s) const {
    return const_cast<KVRTotalsStruct*>(this)->currencyAmount(s);
  }

  // The field of that name among the readable measures; 0 for any other name,
  // "income" included.
  float objectForKey(std::string_view key) const;
  float objectForKey(const QString& key) const { return objectForKey(std::string_view(key.toLatin1().constData())); }
  // A literal name ("sales") would otherwise match both overloads above.
  float objectForKey(const char* key) const { return objectForKey(std::string_view(key ? key : "")); }

  // Adds the other record's amount in one currency (one of the 13) and puts the
  // code into this record's currencies; another code only joins the set.
  void addValueFrom(const KVRTotalsStruct& other, std::string_view code);
  // Adds all 13 amounts of the other record and joins its currencies.
  void addValuesFrom(const KVRTotalsStruct& other);

  bool operator==(const KVRTotalsStruct& o) const;  // bit-exact on every float
};

// The measure readable under a key name, or nullopt-like false when the name
// is not one of them ("income" is not).
bool KVRMeasureForKey(std::string_view key, KVRMeasure* out);
const char* KVRMeasureName(KVRMeasure m);
// The slot of one of the 13 currencies, or -1.
int KVRCurrencySlotForCode(std::string_view code);

// Reading a measure of a record that may be absent yields 0.
inline float KVRObjectForKey(const KVRTotalsStruct* r, std::string_view key) {
  return r ? r->objectForKey(key) : 0.0f;
}
