#include "core/KVRTotalsStruct.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// Interned currency codes: append-only, read without a lock once published.
// A code is written whole before the count that publishes it moves on, and is
// never changed afterwards.
struct CodeTable {
  std::mutex lock;
  std::array<std::string, 64> codes;
  std::atomic<int> count{0};
};
CodeTable& table() {
  static CodeTable t;
  return t;
}

constexpr const char* kMeasureNames[] = {
    "sales", "upgrades", "refunds", "downloads", "paiedSales", "freeSales", "currency",
    "iAdSales", "eCPM", "requests", "impressions", "fillRate", "ctr", "promoCode",
    "giftPurchase", "giftRedemption", "eduStore", "newSubscription", "renewal", "income"};

constexpr const char* kSlotCodes[] = {"USD", "EUR", "AUD", "CAD", "JPY", "GBP", "CHF",
                                      "NOK", "NZD", "MXN", "CNY", "SEK", "DKK"};

}  // namespace

int KVRCurrencySet::indexForCode(std::string_view code) {
  CodeTable& t = table();
  const int n = t.count.load(std::memory_order_acquire);
  for (int i = 0; i < n; ++i)
    if (code == t.codes[size_t(i)]) return i;
  std::lock_guard<std::mutex> g(t.lock);
  const int m = t.count.load(std::memory_order_relaxed);
  for (int i = n; i < m; ++i)
    if (code == t.codes[size_t(i)]) return i;
  if (m >= int(t.codes.size())) return -1;
  t.codes[size_t(m)].assign(code.data(), code.size());
  t.count.store(m + 1, std::memory_order_release);
  return m;
}

std::string_view KVRCurrencySet::codeForIndex(int index) {
  CodeTable& t = table();
  if (index < 0 || index >= t.count.load(std::memory_order_acquire)) return {};
  return std::string_view(t.codes[size_t(index)]);
}

void KVRCurrencySet::insert(std::string_view code) {
  made_ = true;
  const int i = indexForCode(code);
  if (i >= 0) bits_ |= (uint64_t{1} << i);
}

bool KVRCurrencySet::contains(std::string_view code) const {
  CodeTable& t = table();
  const int n = t.count.load(std::memory_order_acquire);
  for (int i = 0; i < n; ++i)
    if (code == t.codes[size_t(i)]) return bits_ & (uint64_t{1} << i);
  return false;
}

int KVRCurrencySet::count() const { return __builtin_popcountll(bits_); }

QStringList KVRCurrencySet::codes() const {
  QStringList out;
  forEach([&](std::string_view c) { out << QString::fromLatin1(c.data(), int(c.size())); });
  out.sort();
  return out;
}

float& KVRTotalsStruct::measure(KVRMeasure m) {
  switch (m) {
    case KVRMeasure::sales: return sales;
    case KVRMeasure::upgrades: return upgrades;
    case KVRMeasure::refunds: return refunds;
    case KVRMeasure::downloads: return downloads;
    case KVRMeasure::paiedSales: return paiedSales;
    case KVRMeasure::freeSales: return freeSales;
    case KVRMeasure::currency: return currency;
    case KVRMeasure::iAdSales: return iAdSales;
    case KVRMeasure::eCPM: return eCPM;
    case KVRMeasure::requests: return requests;
    case KVRMeasure::impressions: return impressions;
    case KVRMeasure::fillRate: return fillRate;
    case KVRMeasure::ctr: return ctr;
    case KVRMeasure::promoCode: return promoCode;
    case KVRMeasure::giftPurchase: return giftPurchase;
    case KVRMeasure::giftRedemption: return giftRedemption;
    case KVRMeasure::eduStore: return eduStore;
    case KVRMeasure::newSubscription: return newSubscription;
    case KVRMeasure::renewal: return renewal;
    case KVRMeasure::income: return income;
  }
  return income;
}

float& KVRTotalsStruct::currencyAmount(KVRCurrencySlot s) {
  switch (s) {
    case KVRCurrencySlot::USD: return currencyUSD;
    case KVRCurrencySlot::EUR: return currencyEUR;
    case KVRCurrencySlot::AUD: return currencyAUD;
    case KVRCurrencySlot::CAD: return currencyCAD;
    case KVRCurrencySlot::JPY: return currencyJPY;
    case KVRCurrencySlot::GBP: return currencyGBP;
    case KVRCurrencySlot::CHF: return currencyCHF;
    case KVRCurrencySlot::NOK: return currencyNOK;
    case KVRCurrencySlot::NZD: return currencyNZD;
    case KVRCurrencySlot::MXN: return currencyMXN;
    case KVRCurrencySlot::CNY: return currencyCNY;
    case KVRCurrencySlot::SEK: return currencySEK;
    case KVRCurrencySlot::DKK: return currencyDKK;
  }
  return currencyUSD;
}

bool KVRMeasureForKey(std::string_view key, KVRMeasure* out) {
  for (int i = 0; i < KVRSummedMeasureCount; ++i) {
    if (key == kMeasureNames[i]) {
      if (out) *out = static_cast<KVRMeasure>(i);
      return true;
    }
  }
  return false;
}

const char* KVRMeasureName(KVRMeasure m) { return kMeasureNames[static_cast<int>(m)]; }

int KVRCurrencySlotForCode(std::string_view code) {
  for (int i = 0; i < KVRCurrencySlotCount; ++i)
    if (code == kSlotCodes[i]) return i;
  return -1;
}

float KVRTotalsStruct::objectForKey(std::string_view key) const {
  KVRMeasure m;
  return KVRMeasureForKey(key, &m) ? measure(m) : 0.0f;
}

void KVRTotalsStruct::addValueFrom(const KVRTotalsStruct& other, std::string_view code) {
  currencies.insert(code);
  const int slot = KVRCurrencySlotForCode(code);
  if (slot < 0) return;
  const auto s = static_cast<KVRCurrencySlot>(slot);
  currencyAmount(s) = currencyAmount(s) + other.currencyAmount(s);
}

void KVRTotalsStruct::addValuesFrom(const KVRTotalsStruct& other) {
  currencies.unite(other.currencies);
  for (int i = 0; i < KVRCurrencySlotCount; ++i) {
    const auto s = static_cast<KVRCurrencySlot>(i);
    currencyAmount(s) = currencyAmount(s) + other.currencyAmount(s);
  }
}

bool KVRTotalsStruct::operator==(const KVRTotalsStruct& o) const {
  for (int i = 0; i <= static_cast<int>(KVRMeasure::income); ++i) {
    const float a = measure(static_cast<KVRMeasure>(i)), b = o.measure(static_cast<KVRMeasure>(i));
    if (std::memcmp(&a, &b, sizeof a) != 0) return false;
  }
  for (int i = 0; i < KVRCurrencySlotCount; ++i) {
    const float a = currencyAmount(static_cast<KVRCurrencySlot>(i));
    const float b = o.currencyAmount(static_cast<KVRCurrencySlot>(i));
    if (std::memcmp(&a, &b, sizeof a) != 0) return false;
  }
  return currencies == o.currencies;
}
