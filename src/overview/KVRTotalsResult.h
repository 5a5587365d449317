#pragma once
// The totals engine's result: per product (by store id) the totals per country,
// the overall totals and, on request, the totals per day of the walked span.
#include <QString>
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

  const KVRTotalsStruct* dayRecord(KVRDate d) const {
    for (const auto& [date, rec] : salesByDate)
      if (date == d) return &rec;
    return nullptr;
  }
};

using KVRTotalsResult = std::map<int64_t, KVRProductTotals>;
