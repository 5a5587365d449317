#pragma once
// The totals engine's result: per product (by store id) the totals per country,
// the overall totals and, on request, the totals per day of the walked span.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/KVRTotalsStruct.h"
#include "platform/KVRDate.h"

struct KVRProductTotals {
  std::map<QString, KVRTotalsStruct> byCountry;  // country code -> sums over the span
  KVRTotalsStruct totals;                        // overall totals
  bool hasSalesByDate = false;                   // false when asked for totals only
  // One record per day of the walk, in walk order, keyed by the walk's dates.
  std::vector<std::pair<KVRDate, KVRTotalsStruct>> salesByDate;

  // The walk's dates rise strictly, so a day is found by binary search; only a
  // date equal to one the walk produced finds a record.
  const KVRTotalsStruct* dayRecord(KVRDate d) const {
    if (!d.isValid()) return nullptr;
    auto it = std::lower_bound(salesByDate.begin(), salesByDate.end(), d.ms,
                               [](const auto& e, double ms) { return e.first.ms < ms; });
    if (it == salesByDate.end() || it->first.ms != d.ms) return nullptr;
    return &it->second;
  }
};

using KVRTotalsResult = std::map<int64_t, KVRProductTotals>;
