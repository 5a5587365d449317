#pragma once
// A plain transcription of the history build's rules: one whole totals record
// per value key and day in an ordered map, each line added to it in line
// order. The compact build must give the very same floats.
#include <QString>
#include <map>
#include <utility>
#include <vector>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVREntities.h"
#include "core/KVRTotalsStruct.h"

namespace reference {

struct History {
  std::map<std::pair<QString, KVRCivilDay>, KVRTotalsStruct> records;  // (value key, day) -> record
  float totalSales = 0, totalUpgrades = 0, totalIncomes = 0;
};

// With the catalogue, the given converter's current rates to its preferred currency
// and the shared calendar, as the default build services; money of a region
// and currency that has effective rates converts day by day at them.
History buildHistory(KVRVortelyCurrencyConverter& converter, const std::vector<KVRReportEntry*>& entries,
                     const std::vector<KVRiAdReportEntry*>& adEntries,
                     const std::vector<KVRReport*>& accountReports, const KVREffectiveRates* effectiveRates = nullptr);

}  // namespace reference
