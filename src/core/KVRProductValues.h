#pragma once
// A product's per-day values, as its history build leaves them: for every value
// key ("EU-FR": region code, "-", country code) the days in ascending order and
// one totals record per day. A published KVRProductValues is never modified:
// a rebuild makes a new one and swaps it in whole, so readers on any thread can
// keep using the one they took.
#include <QString>
#include <algorithm>
#include <memory>
#include <vector>

#include "core/KVRTotalsStruct.h"
#include "platform/KVRDate.h"

struct KVRValueSeries {
  QString valueKey;  // "%@-%@": region then country
  QString region;    // the part before "-"
  QString country;   // the part after "-"
  std::vector<KVRCivilDay> days;          // ascending, no repeats
  std::vector<KVRTotalsStruct> records;   // records[i] is the day days[i]

  const KVRTotalsStruct* find(KVRCivilDay day) const {
    auto it = std::lower_bound(days.begin(), days.end(), day);
    if (it == days.end() || *it != day) return nullptr;
    return &records[size_t(it - days.begin())];
  }
};

struct KVRProductValues {
  std::vector<KVRValueSeries> series;  // sorted by valueKey (QString ordering)

  const KVRValueSeries* find(const QString& valueKey) const {
    auto it = std::lower_bound(series.begin(), series.end(), valueKey,
                               [](const KVRValueSeries& s, const QString& k) { return s.valueKey < k; });
    if (it == series.end() || it->valueKey != valueKey) return nullptr;
    return &*it;
  }
  const KVRTotalsStruct* find(const QString& valueKey, KVRCivilDay day) const {
    const KVRValueSeries* s = find(valueKey);
    return s ? s->find(day) : nullptr;
  }
  size_t recordCount() const {
    size_t n = 0;
    for (const auto& s : series) n += s.records.size();
    return n;
  }
};

using KVRProductValuesRef = std::shared_ptr<const KVRProductValues>;
