#pragma once
// A plain, slow transcription of the totals engine's loops, used to check the
// fast engine bit for bit: text day keys written by the shared date formatter,
// nested maps as the caches, one lock per step, and both visiting orders.
#include <QString>
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "overview/KVRTotalsEngine.h"
#include "overview/KVRTotalsResult.h"

namespace reference {

struct Caches {
  // product idStore -> value key -> day key -> record (the product values caches)
  std::map<int64_t, std::map<QString, std::map<QString, KVRTotalsStruct>>> products;
  // value key -> day key -> product idStore -> record (the shared values index)
  std::map<QString, std::map<QString, std::map<int64_t, KVRTotalsStruct>>> shared;

  // The caches as the history builds would leave them for these products.
  static Caches fromSnapshots(const std::vector<KVRTotalsEngine::ProductInput>& products);
};

enum class Order { Automatic, ProductCache, SharedIndex };

// One run. products: the input products' store ids, in input order (a product
// without cache has no entry in caches.products). usedOrder receives the order
// the run took.
std::optional<KVRTotalsResult> totalsForRegion(const Caches& caches, const QString& region, KVRDate fromDate,
                                               KVRDate toDate, const std::vector<int64_t>& products,
                                               bool onlyTotals, const std::atomic<bool>* cancel = nullptr,
                                               Order order = Order::Automatic, Order* usedOrder = nullptr);

}  // namespace reference
