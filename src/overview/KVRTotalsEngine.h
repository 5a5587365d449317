#pragma once
// The totals engine: adds up, for a list of products, an optional region and a
// span of days, the products' per-day values that their history builds keep in
// memory, and returns per product the totals per country, the overall totals
// and, on request, the totals per day.
//
// Summing rules (every sum single precision, each addition adding the new value
// to the running value):
//  - value keys are visited in case-insensitive ascending order, days in walk
//    order, products in input order;
//  - the sums of one value key are gathered in a key accumulator; when the key
//    is done its six count measures are rounded ((s + 0.5) truncated toward
//    zero) as they go into "totals" and into an existing country record; the
//    first key of a country gives that country's record as it is;
//  - currency amounts go into "totals" per day; with onlyTotals the country
//    records carry no currency amounts;
//  - every product gets a (possibly zero) record for the country of every key
//    that passes the region filter, as soon as the walk has a day.
//
// The engine reads immutable snapshots of the products' values, taken once per
// product per run, so it holds no lock while it sums; products are summed in
// parallel, each on its own accumulators, which leaves the order of additions
// of every accumulator unchanged.
#include <QString>
#include <QStringList>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/KVRCalculationServices.h"
#include "core/KVRProductValues.h"
#include "overview/KVRTotalsResult.h"
#include "platform/KVRDate.h"

class KVRVortelyManagedProduct;

class KVRTotalsEngine {
 public:
  struct ProductInput {
    int64_t idStore = 0;
    KVRProductValuesRef values;  // null: a product whose history was never built
  };

  // Takes the snapshots of the products and the value keys of the shared
  // values index, then runs. None when cancel was seen set.
  static std::optional<KVRTotalsResult> totalsForRegion(
      const QString& region, KVRDate fromDate, KVRDate toDate,
      const std::vector<KVRVortelyManagedProduct*>& products, bool onlyTotals,
      const std::atomic<bool>* cancel = nullptr,
      const KVRCalculationServices& services = KVRCalculationServices::shared());

  // The run on explicit inputs. valueKeys: every key of the shared values index
  // (any order). region: null for all regions; otherwise the key's region part
  // must equal it exactly. maxThreads 0 picks a count from the machine. The
  // days are walked in the calendar of `services`; its log gets the start and
  // end lines.
  static std::optional<KVRTotalsResult> run(const QStringList& valueKeys,
                                            const std::vector<ProductInput>& products,
                                            const QString& region, KVRDate fromDate, KVRDate toDate,
                                            bool onlyTotals, const std::atomic<bool>* cancel = nullptr,
                                            int maxThreads = 0,
                                            const KVRCalculationServices& services = KVRCalculationServices::shared());

  // fromDate, then each following calendar day at fromDate's time of day, up
  // to toDate's day included (KVRCalendar::dayWalk); empty when a date is
  // missing or fromDate is later than toDate.
  static std::vector<KVRDate> dayWalk(KVRDate fromDate, KVRDate toDate,
                                      const KVRCalculationServices& services = KVRCalculationServices::shared());

  // Rounding of a count measure: (s + 0.5) truncated toward zero.
  static float roundCount(float s) { return static_cast<float>(std::trunc(static_cast<double>(s) + 0.5)); }

  // Case-insensitive ascending order (ties broken by the exact text, so the
  // order never depends on the input order).
  static QStringList sortedValueKeys(QStringList keys);
};
