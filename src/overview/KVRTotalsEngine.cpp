#include "overview/KVRTotalsEngine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <span>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <QHash>

#include "core/KVRCalendar.h"
#include "core/KVRProcessors.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"
#include "core/KVRVortelyManagedProduct.h"

namespace {

const QString kLogKeyword = QStringLiteral("Resume Controller");

using Member = float KVRTotalsStruct::*;

// The 13 per-currency amounts, by KVRCurrencySlot.
constexpr Member kSlotMembers[KVRCurrencySlotCount] = {
    &KVRTotalsStruct::currencyUSD, &KVRTotalsStruct::currencyEUR, &KVRTotalsStruct::currencyAUD,
    &KVRTotalsStruct::currencyCAD, &KVRTotalsStruct::currencyJPY, &KVRTotalsStruct::currencyGBP,
    &KVRTotalsStruct::currencyCHF, &KVRTotalsStruct::currencyNOK, &KVRTotalsStruct::currencyNZD,
    &KVRTotalsStruct::currencyMXN, &KVRTotalsStruct::currencyCNY, &KVRTotalsStruct::currencySEK,
    &KVRTotalsStruct::currencyDKK};

// KVRTotalsEngine::roundCount without a call: for |x + 0.5| under 2^31 the
// truncation toward zero is the conversion to a whole number, which gives
// back the very same float.
inline float roundCountQuickly(float s) {
  const double x = double(s) + 0.5;
  if (x > -2147483648.0 && x < 2147483648.0) return float(int64_t(x));
  return KVRTotalsEngine::roundCount(s);
}

// The keys a run visits and their countries. They depend on the value keys and
// the region alone, so runs in a row (one load makes several) share them.
struct KeyPlan {
  QStringList sortedKeys;  // the sorted value keys it was made from
  QString region;
  struct Key {
    QString valueKey;
    int country = 0;          // index into countries
    bool firstOfCountry = true;  // no earlier key of the walk has its country
  };
  std::vector<Key> keys;  // the keys that pass the filter, in visiting order
  // The same keys in QString order, each with its position in keys: a
  // product's series come in that order, so one merge pass pairs them.
  std::vector<std::pair<QString, int>> keysByText;
  // Distinct countries of those keys, ascending, as interned texts (see
  // internedText): the records of every product carry them.
  QStringList countries;
  // A zero record for each of the countries: every product gets a record for
  // every country, so its records start laid over these.
  std::shared_ptr<const KVRCountryTotals> zeroRecords;
  // The countries that more than one key passes.
  std::vector<int> countriesOfSeveralKeys;
};

// What one run shares between its products.
struct Plan {
  std::vector<KVRDate> walk;
  std::vector<KVRCivilDay> walkDays;  // the calendar day of each walked date
  bool consecutive = true;            // walkDays[i] == walkDays[0] + i
  // A product's day records before any sum: the walk's dates with zero
  // records, copied whole into each product's result.
  std::vector<std::pair<KVRDate, KVRTotalsStruct>> zeroDays;
  std::shared_ptr<const KeyPlan> keyPlan;
  bool onlyTotals = false;
  std::array<uint64_t, KVRCurrencySlotCount> slotBit{};  // a slot's code in a currency set, 0: none yet
  const std::atomic<bool>* cancel = nullptr;
};

bool cancelled(const Plan& plan) {
  return plan.cancel && plan.cancel->load(std::memory_order_relaxed);
}

// The set bits of a word, without a library call on processors the build
// does not assume to count them.
inline int popcount64(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return int((x * 0x0101010101010101ULL) >> 56);
}

// A key's text as UTF-16 code units: comparing these orders texts the way
// QString's operator< does, without a call per comparison.
inline std::u16string_view codeUnits(const QString& s) {
  return {reinterpret_cast<const char16_t*>(s.constData()), size_t(s.size())};
}

// For each visited key, the position of the product's series of that key (-1
// when it has none). The series normally rise in QString order; one that does
// not (or that repeats a key) restarts the search, so any order gives the same
// pairs, the last series of a key winning.
std::vector<int> pairSeriesWithKeys(const KeyPlan& kp, const KVRProductValues& values) {
  std::vector<int> seriesIndex(kp.keys.size(), -1);
  const auto& keys = kp.keysByText;
  const size_t n = keys.size();
  size_t j = 0;
  std::u16string_view previous;
  for (size_t i = 0; i < values.series.size(); ++i) {
    const std::u16string_view text = codeUnits(values.series[i].valueKey);
    if (i > 0 && !(previous < text)) j = 0;
    previous = text;
    while (j < n && codeUnits(keys[j].first) < text) ++j;
    if (j < n && codeUnits(keys[j].first) == text) seriesIndex[size_t(keys[j].second)] = int(i);
  }
  return seriesIndex;
}

// A product's series paired with the visited keys both ways: for each key the
// position of its series (-1: none), for each series its key (-1: not
// visited).
struct SeriesPairs {
  std::vector<int> seriesIndex;
  std::vector<int> keyOfSeries;
};

// The pairs, remembered per thread for the snapshots it has seen with the
// current key plan: loads in a row sum the same snapshots with the same keys.
// An entry is used only while its snapshot is alive, so an address in the
// table is the snapshot it was made for.
const SeriesPairs& seriesPairs(const std::shared_ptr<const KeyPlan>& kp, const KVRProductValuesRef& values) {
  struct Entry {
    std::weak_ptr<const KVRProductValues> values;
    SeriesPairs pairs;
  };
  struct Cache {
    std::shared_ptr<const KeyPlan> keyPlan;
    std::unordered_map<const KVRProductValues*, Entry> bySnapshot;
  };
  thread_local Cache cache;
  if (cache.keyPlan != kp || cache.bySnapshot.size() > 4096) {
    cache.bySnapshot.clear();
    cache.keyPlan = kp;
  }
  Entry& e = cache.bySnapshot[values.get()];
  if (e.values.expired()) {
    e.values = values;
    e.pairs.seriesIndex = pairSeriesWithKeys(*kp, *values);
    e.pairs.keyOfSeries.assign(values->series.size(), -1);
    for (size_t k = 0; k < e.pairs.seriesIndex.size(); ++k)
      if (e.pairs.seriesIndex[k] >= 0) e.pairs.keyOfSeries[size_t(e.pairs.seriesIndex[k])] = int(k);
  }
  return e.pairs;
}

// Readers of a value at a byte offset of a row, by the value's form.
inline auto floatAt(uint16_t at) {
  return [at](const uint8_t* r) {
    float v;
    std::memcpy(&v, r + at, sizeof v);
    return v;
  };
}
inline auto int16At(uint16_t at) {
  return [at](const uint8_t* r) {
    int16_t x;
    std::memcpy(&x, r + at, sizeof x);
    return float(x);
  };
}
inline auto int8At(uint16_t at) {
  return [at](const uint8_t* r) { return float(int8_t(r[at])); };
}

// Calls f with a reader of op's value in a row (a function of the row's
// address) made for op's form, so that a loop over rows reads each value
// without asking how: a float, a 16- or 8-bit whole number, each possibly
// times the series' scale; a sum of two values is read the general way.
template <typename F>
inline void withReader(const KVRSeriesRecords::FieldOp& op, float scale, F&& f) {
  auto scaled = [scale](auto read) { return [read, scale](const uint8_t* r) { return read(r) * scale; }; };
  if (op.encoding & KVRSeriesRecords::kSum) {
    f([&op, scale](const uint8_t* r) { return KVRSeriesRecords::read(r, op, scale); });
    return;
  }
  const bool isScaled = op.encoding & KVRSeriesRecords::kScaled;
  switch (op.encoding & KVRSeriesRecords::kEncodingMask) {
    case KVRSeriesRecords::kInt16: isScaled ? f(scaled(int16At(op.offset))) : f(int16At(op.offset)); return;
    case KVRSeriesRecords::kInt8: isScaled ? f(scaled(int8At(op.offset))) : f(int8At(op.offset)); return;
    default: isScaled ? f(scaled(floatAt(op.offset))) : f(floatAt(op.offset)); return;
  }
}

// Adds records of a series (positions `pos`, their rows `rows`, each for the
// day record `dayRecords` holds when the run keeps days) into a key
// accumulator, the overall accumulator and the day accumulators, as adding each whole record in turn would: a field that is
// zero in every record of the series has nothing to add (a sum that starts at
// +0 never becomes -0, so adding a zero leaves it as it is), and a currency
// amount is added, like addValueFrom does, only for the codes of the
// record's own set. Field by field: each accumulator still gets its additions
// one record after the other, and a field's running sum stays in a register.
void sumRows(const KVRSeriesRecords& recs, const Plan& plan, const uint32_t* pos, const uint8_t* const* rows,
             KVRTotalsStruct* const* dayRecords, size_t n, KVRTotalsStruct& acc, KVRTotalsStruct& overall) {
  if (n == 0) return;
  const bool perDay = !plan.onlyTotals;
  // A day record's fields (its first member starts the record).
  const auto days = [dayRecords](size_t i) { return KVRRecordFloats(*dayRecords[i]); };
  const float scale = recs.scale();
  float* a = KVRRecordFloats(acc);
  auto column = [&](const KVRSeriesRecords::FieldOp& op, auto read) {
    const uint8_t f = op.field;
    float sum = a[f];
    if (perDay) {
      for (size_t i = 0; i < n; ++i) {
        const float v = read(rows[i]);
        sum += v;
        days(i)[f] += v;
      }
    } else {
      for (size_t i = 0; i < n; ++i) sum += read(rows[i]);
    }
    a[f] = sum;
  };
  // Two fields of one form at a time: one pass over the rows and days serves
  // both, and their sums go on side by side.
  auto columns = [&](const KVRSeriesRecords::FieldOp& p, const KVRSeriesRecords::FieldOp& q, auto readP, auto readQ) {
    const uint8_t fp = p.field, fq = q.field;
    float sp = a[fp], sq = a[fq];
    if (perDay) {
      for (size_t i = 0; i < n; ++i) {
        const uint8_t* r = rows[i];
        float* d = days(i);
        const float vp = readP(r), vq = readQ(r);
        sp += vp;
        sq += vq;
        d[fp] += vp;
        d[fq] += vq;
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        const uint8_t* r = rows[i];
        sp += readP(r);
        sq += readQ(r);
      }
    }
    a[fp] = sp;
    a[fq] = sq;
  };
  auto group = [&](std::span<const KVRSeriesRecords::FieldOp> ops, auto readerAt) {
    size_t k = 0;
    for (; k + 1 < ops.size(); k += 2) columns(ops[k], ops[k + 1], readerAt(ops[k].offset), readerAt(ops[k + 1].offset));
    if (k < ops.size()) column(ops[k], readerAt(ops[k].offset));
  };
  group(recs.floatMeasures(), floatAt);
  group(recs.int16Measures(), int16At);
  group(recs.int8Measures(), int8At);
  for (const KVRSeriesRecords::FieldOp& op : recs.otherMeasures()) withReader(op, scale, [&](auto read) { column(op, read); });

  // Currency amounts, for the codes of each record's set.
  float* o = KVRRecordFloats(overall);
  if (recs.uniformSets()) {
    const KVRCurrencySet& set = recs.set(0);
    if (set.empty()) return;
    overall.currencies.unite(set);
    if (perDay) {
      acc.currencies.unite(set);
      for (size_t i = 0; i < n; ++i) dayRecords[i]->currencies.unite(set);
    }
    for (const KVRSeriesRecords::FieldOp& op : recs.firstSetSlotOps())
      withReader(op, scale, [&](auto read) {
        const uint8_t f = op.field;
        float so = o[f];
        if (perDay) {
          float sa = a[f];
          for (size_t i = 0; i < n; ++i) {
            const float v = read(rows[i]);
            so += v;
            sa += v;
            days(i)[f] += v;
          }
          a[f] = sa;
        } else {
          for (size_t i = 0; i < n; ++i) so += read(rows[i]);
        }
        o[f] = so;
      });
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    const KVRCurrencySet& set = recs.set(pos[i]);
    if (set.empty()) continue;
    overall.currencies.unite(set);
    if (perDay) {
      acc.currencies.unite(set);
      dayRecords[i]->currencies.unite(set);
    }
    for (const KVRSeriesRecords::FieldOp& op : recs.slotOps()) {
      if (!(set.bits() & plan.slotBit[op.field - KVRRecordField::firstSlot])) continue;
      const float v = KVRSeriesRecords::read(rows[i], op, scale);
      o[op.field] += v;
      if (perDay) {
        a[op.field] += v;
        days(i)[op.field] += v;
      }
    }
  }
}

// Which of the 20 measures are counts, rounded as a key merges.
constexpr std::array<uint8_t, 20> kCountFields = [] {
  std::array<uint8_t, 20> c{};
  c[KVRRecordField::sales] = c[KVRRecordField::upgrades] = c[KVRRecordField::refunds] = true;
  c[KVRRecordField::downloads] = c[KVRRecordField::paiedSales] = c[KVRRecordField::freeSales] = true;
  return c;
}();

// sumRows over the records at positions `pos`, each for the walk's day in
// `day`.
void sumRecords(const KVRSeriesRecords& recs, const Plan& plan, const uint32_t* pos, const uint32_t* day, size_t n,
                KVRTotalsStruct& acc, KVRTotalsStruct& overall, KVRProductTotals& out) {
  // The rows and day records, on the stack for the usual short runs.
  constexpr size_t kOnStack = 64;
  const uint8_t* rowsOnStack[kOnStack];
  KVRTotalsStruct* daysOnStack[kOnStack];
  thread_local std::vector<const uint8_t*> rowsOnHeap;
  thread_local std::vector<KVRTotalsStruct*> daysOnHeap;
  const uint8_t** rows = rowsOnStack;
  KVRTotalsStruct** days = daysOnStack;
  if (n > kOnStack) {
    rowsOnHeap.resize(n);
    daysOnHeap.resize(n);
    rows = rowsOnHeap.data();
    days = daysOnHeap.data();
  }
  const uint8_t* first = recs.row(0);
  const size_t stride = recs.stride();
  for (size_t i = 0; i < n; ++i) rows[i] = first + pos[i] * stride;
  if (!plan.onlyTotals)
    for (size_t i = 0; i < n; ++i) days[i] = &out.salesByDate[day[i]].second;
  sumRows(recs, plan, pos, rows, days, n, acc, overall);
}

// A finished key accumulator merged into the overall totals and, for a
// country's later key, into the country's record: the measures as
// mergedMeasures gives them. Only the series' measures can be other than +0
// in the accumulator, and adding +0 changes no sum (a sum that starts at +0
// never becomes -0), so the others are left out.
//
// A count read as a whole number in every record sums to a whole number (a
// float of 2^24 or more is one), and trunc(s + 0.5) of a whole number s is s,
// or s + 1 below zero, which the float addition rounds as the conversion from
// double would. Its sign of zero may differ (-1 gives +0 where the rounding
// gives -0), which changes no sum it is added to. So those counts need no
// trip through double, and a field that is not a count adds 0 to itself.
inline void mergeKey(const KVRSeriesRecords& recs, KVRTotalsStruct& acc, KVRTotalsStruct& overall,
                     KVRTotalsStruct* record) {
  const float* a = KVRRecordFloats(acc);
  float* o = KVRRecordFloats(overall);
  float* c = record ? KVRRecordFloats(*record) : nullptr;
  auto merge = [&](uint8_t field, float m) {
    o[field] += m;
    if (c) c[field] += m;
  };
  auto rounded = [&](uint8_t f) { return kCountFields[f] ? roundCountQuickly(a[f]) : a[f]; };
  for (const KVRSeriesRecords::FieldOp& op : recs.floatMeasures()) merge(op.field, rounded(op.field));
  const size_t wholeCount = recs.int16Measures().size() + recs.int8Measures().size();
  for (const KVRSeriesRecords::FieldOp& op : std::span(recs.int16Measures().data(), wholeCount)) {
    const float s = a[op.field];
    merge(op.field, s + float(kCountFields[op.field] & (s < 0.0f)));
  }
  for (const KVRSeriesRecords::FieldOp& op : recs.otherMeasures()) merge(op.field, rounded(op.field));
  if (record) record->addValuesFrom(acc);
}

// A key whose series has one record in the walk, summed and merged in one
// pass: the accumulator (zero before) gets the record, the day record (when
// the run keeps days) and the overall totals what sumRecord and mergeKey
// would add, field by field in the same order; a country's later key adds the
// merged measures and the amounts into the country's record too. A count read
// as a whole number v merges as v, or v + 1 below zero (see mergeKey).
template <bool kDays, bool kLater>
inline void sumAndMergeRecord(const KVRSeriesRecords& recs, const uint8_t* r, float* a, float* d, float* o,
                              float* c) {
  auto add = [&](uint8_t f, float v) {
    const float s = a[f] + v;
    a[f] = s;
    if constexpr (kDays) d[f] += v;
    const float m = kCountFields[f] ? roundCountQuickly(s) : s;
    o[f] += m;
    if constexpr (kLater) c[f] += m;
  };
  auto whole = [&](uint8_t f, int x) {
    const float v = float(x);
    a[f] += v;
    if constexpr (kDays) d[f] += v;
    const float m = float(x + int(kCountFields[f] & (x < 0)));
    o[f] += m;
    if constexpr (kLater) c[f] += m;
  };
  for (const KVRSeriesRecords::FieldOp& op : recs.floatMeasures()) add(op.field, floatAt(op.offset)(r));
  for (const KVRSeriesRecords::FieldOp& op : recs.int16Measures()) {
    int16_t x;
    std::memcpy(&x, r + op.offset, sizeof x);
    whole(op.field, x);
  }
  for (const KVRSeriesRecords::FieldOp& op : recs.int8Measures()) whole(op.field, int8_t(r[op.offset]));
  for (const KVRSeriesRecords::FieldOp& op : recs.otherMeasures()) add(op.field, KVRSeriesRecords::read(r, op, recs.scale()));
}

// The same for a record with currency amounts handled too; see above.
inline void sumAndMergeRecord(const KVRSeriesRecords& recs, const Plan& plan, size_t pos, size_t day,
                              KVRTotalsStruct& acc, KVRTotalsStruct& overall, KVRProductTotals& out,
                              KVRTotalsStruct* record) {
  const uint8_t* r = recs.row(pos);
  float* a = KVRRecordFloats(acc);
  float* o = KVRRecordFloats(overall);
  float* c = record ? KVRRecordFloats(*record) : nullptr;
  KVRTotalsStruct* dayRecord = plan.onlyTotals ? nullptr : &out.salesByDate[day].second;
  float* d = dayRecord ? KVRRecordFloats(*dayRecord) : nullptr;
  if (d) {
    if (c) sumAndMergeRecord<true, true>(recs, r, a, d, o, c);
    else sumAndMergeRecord<true, false>(recs, r, a, d, o, c);
  } else {
    if (c) sumAndMergeRecord<false, true>(recs, r, a, d, o, c);
    else sumAndMergeRecord<false, false>(recs, r, a, d, o, c);
  }

  // Currency amounts, for the codes of the record's set.
  const KVRCurrencySet& set = recs.set(pos);
  if (!set.empty()) {
    overall.currencies.unite(set);
    if (d) {
      acc.currencies.unite(set);
      dayRecord->currencies.unite(set);
    }
    auto addAmount = [&](const KVRSeriesRecords::FieldOp& op) {
      const float v = KVRSeriesRecords::read(r, op, recs.scale());
      o[op.field] += v;
      if (d) {
        a[op.field] += v;
        d[op.field] += v;
      }
    };
    if (recs.uniformSets()) {
      for (const KVRSeriesRecords::FieldOp& op : recs.firstSetSlotOps()) addAmount(op);
    } else {
      for (const KVRSeriesRecords::FieldOp& op : recs.slotOps())
        if (set.bits() & plan.slotBit[op.field - KVRRecordField::firstSlot]) addAmount(op);
    }
  }
  if (record) record->addValuesFrom(acc);
}

// Sums one product. False when the run was cancelled.
bool sumProduct(const Plan& plan, const KVRTotalsEngine::ProductInput& in, KVRProductTotals& out) {
  const KeyPlan& kp = *plan.keyPlan;
  const size_t dayCount = plan.walk.size();
  KVRTotalsStruct overall;

  out.hasSalesByDate = !plan.onlyTotals;
  const bool perDay = !plan.onlyTotals && dayCount > 0 && !kp.keys.empty();
  if (perDay) {
    out.salesByDate = plan.zeroDays;
  }

  // The product's series paired with the passing keys.
  const SeriesPairs* pairs = in.values && dayCount > 0 ? &seriesPairs(plan.keyPlan, in.values) : nullptr;

  if (dayCount > 0) {
    const KVRCivilDay firstDay = plan.walkDays.front();
    const KVRCivilDay lastDay = plan.walkDays.back();
    const size_t keyCount = kp.keys.size();
    // The keys whose series have records in the walk, in key order, and where
    // the walk enters and leaves each of them. The series lie apart in memory:
    // find all the ranges first, asking for each range's first row, then sum,
    // so that the fetches overlap instead of following one another.
    struct Visit {
      uint32_t key, series, first, last;
    };
    thread_local std::vector<Visit> visits;
    visits.clear();
    // A walk within the product's 64 latest days passes over the series
    // without a record in it by their bit of those days.
    const KVRProductValues::Extent* extent = in.values ? &in.values->extent() : nullptr;
    uint64_t recent = 0;
    const bool byRecentDays = extent && plan.consecutive && extent->first <= extent->last &&
                              firstDay >= extent->last - 63 && !extent->recentDays.empty();
    if (byRecentDays)
      for (KVRCivilDay d = firstDay; d <= std::min(lastDay, extent->last); ++d) recent |= uint64_t(1) << (extent->last - d);
    // The positions from a series' bits of the latest days: its records
    // before the walk, and up to its end.
    auto visitRecent = [&](size_t k, size_t i) {
      const uint64_t days = extent->recentDays[i];
      const int before = extent->last - firstDay + 1;  // bits of the days before the walk start here
      const int upTo = std::max(0, extent->last - lastDay);
      const uint32_t a = extent->recentFirst[i] + uint32_t(before >= 64 ? 0 : popcount64(days >> before));
      const uint32_t b = extent->recentFirst[i] + uint32_t(popcount64(days >> upTo));
      visits.push_back({uint32_t(k), uint32_t(i), a, b});
      __builtin_prefetch(&in.values->series[i].records);  // what a visit reads of it lies in this line
    };
    // The series with a record on the walk's days, when they are fewer than
    // the keys: found from the lists of the latest days, then put in key order.
    size_t listed = 0;
    if (byRecentDays && pairs)
      for (uint64_t b = recent; b; b &= b - 1) {
        const int day = __builtin_ctzll(b);
        listed += extent->recentStart[size_t(day) + 1] - extent->recentStart[size_t(day)];
      }
    if (byRecentDays && pairs && listed < keyCount) {
      if (recent & (recent - 1)) {
        // Several days: their keys marked in a bitmap, then taken in order.
        thread_local std::vector<uint64_t> metKeys;
        metKeys.assign((keyCount + 63) / 64, 0);
        for (uint64_t b = recent; b; b &= b - 1) {
          const int day = __builtin_ctzll(b);
          for (uint32_t j = extent->recentStart[size_t(day)]; j < extent->recentStart[size_t(day) + 1]; ++j) {
            const int k = pairs->keyOfSeries[extent->recentSeries[j]];
            if (k >= 0) metKeys[size_t(k) >> 6] |= uint64_t(1) << (k & 63);
          }
        }
        for (size_t w = 0; w < metKeys.size(); ++w)
          for (uint64_t b = metKeys[w]; b; b &= b - 1) {
            const size_t k = w * 64 + size_t(__builtin_ctzll(b));
            visitRecent(k, size_t(pairs->seriesIndex[k]));
          }
      } else if (recent) {
        thread_local std::vector<std::pair<uint32_t, uint32_t>> met;  // key, series
        met.clear();
        const int day = __builtin_ctzll(recent);
        for (uint32_t j = extent->recentStart[size_t(day)]; j < extent->recentStart[size_t(day) + 1]; ++j) {
          const uint32_t i = extent->recentSeries[j];
          const int k = pairs->keyOfSeries[i];
          if (k >= 0) met.emplace_back(uint32_t(k), i);
        }
        // One day's list comes in series order, which is mostly key order too.
        if (!std::is_sorted(met.begin(), met.end())) std::sort(met.begin(), met.end());
        for (const auto& [k, i] : met) visitRecent(k, i);
      }
    } else {
      for (size_t k = 0; pairs && k < keyCount; ++k) {
        const int index = pairs->seriesIndex[k];
        if (index < 0) continue;
        const size_t i = size_t(index);
        if (byRecentDays) {
          if (extent->recentDays[i] & recent) visitRecent(k, i);
          continue;
        }
        const KVRValueSeries* series = &in.values->series[i];
        if (series->days.empty()) continue;
        if (!plan.consecutive) {
          visits.push_back({uint32_t(k), uint32_t(i), 0, 0});
          continue;
        }
        const auto [a, b] = series->days.range(firstDay, lastDay);
        if (a == b) continue;
        visits.push_back({uint32_t(k), uint32_t(i), uint32_t(a), uint32_t(b)});
        __builtin_prefetch(series->records.row(a));
      }
    }
    // Every country of a passing key gets a record: the zero records first,
    // then the sums into those of the countries met. A key without records in
    // the walk adds nothing (its merge would add zeros, which change no sum).
    out.byCountry.assignFrom(kp.zeroRecords);
    out.byCountry.reserveChanged(visits.size() + kp.countriesOfSeveralKeys.size());
    KVRTotalsStruct later;  // the key accumulator of a country's later keys
    // The field tables and first rows of the next visits are asked for while
    // one is summed.
    constexpr size_t kAhead = 12;
    auto fetch = [&](const Visit& w) {
      const KVRSeriesRecords& recs = in.values->series[w.series].records;
      __builtin_prefetch(recs.allOps().data());
      __builtin_prefetch(recs.row(w.first));
    };
    for (size_t j = 0; j < std::min(kAhead, visits.size()); ++j) fetch(visits[j]);
    for (size_t vi = 0; vi < visits.size(); ++vi) {
      const Visit& v = visits[vi];
      if (vi + kAhead < visits.size()) fetch(visits[vi + kAhead]);
      if (cancelled(plan)) return false;
      const KeyPlan::Key& key = kp.keys[v.key];
      const KVRValueSeries* series = &in.values->series[v.series];
      // The key accumulator. A country's first key gives its record as it is,
      // so that key sums straight into the (still zero) record.
      KVRTotalsStruct& record = out.byCountry.entry(size_t(key.country)).second;
      if (!key.firstOfCountry) later = KVRTotalsStruct();
      KVRTotalsStruct& acc = key.firstOfCountry ? record : later;
      // The records of the walk in this series: positions and days.
      if (byRecentDays) {
        // The days from the bits (at most 64): the walk's days, earliest
        // first.
        uint64_t days = extent->recentDays[v.series] & recent;
        if (days && !(days & (days - 1))) {
          // One record in the walk.
          sumAndMergeRecord(series->records, plan, v.first,
                            size_t(extent->last - (63 - __builtin_clzll(days)) - firstDay), acc, overall, out,
                            key.firstOfCountry ? nullptr : &record);
          continue;
        } else {
          // Consecutive rows from v.first, their days from the bits.
          uint32_t positions[64];
          const uint8_t* rows[64];
          KVRTotalsStruct* dayRecords[64];
          const uint8_t* row = series->records.row(v.first);
          const size_t stride = series->records.stride();
          size_t n = 0;
          for (; days; ++n, row += stride) {
            const int bit = 63 - __builtin_clzll(days);
            days &= ~(uint64_t(1) << bit);
            positions[n] = uint32_t(v.first + n);
            rows[n] = row;
            if (perDay) dayRecords[n] = &out.salesByDate[size_t(extent->last - bit - firstDay)].second;
          }
          sumRows(series->records, plan, positions, rows, dayRecords, n, acc, overall);
        }
        mergeKey(series->records, acc, overall, key.firstOfCountry ? nullptr : &record);
        continue;
      }
      thread_local std::vector<uint32_t> positions, walkDays;
      positions.clear();
      walkDays.clear();
      auto take = [&](size_t pos, size_t day) {
        positions.push_back(uint32_t(pos));
        walkDays.push_back(uint32_t(day));
      };
      if (plan.consecutive) {
        series->days.visitRange(v.first, v.last, firstDay,
                                [&](size_t pos, KVRCivilDay d) { take(pos, size_t(d - firstDay)); });
      } else {
        for (size_t i = 0; i < dayCount; ++i)
          if (const ptrdiff_t pos = series->days.indexOf(plan.walkDays[i]); pos >= 0) take(size_t(pos), i);
      }
      sumRecords(series->records, plan, positions.data(), walkDays.data(), positions.size(), acc, overall, out);
      mergeKey(series->records, acc, overall, key.firstOfCountry ? nullptr : &record);
    }
    // A country's later keys make its record's currency set, with or
    // without records.
    for (int c : kp.countriesOfSeveralKeys) out.byCountry.entry(size_t(c)).second.currencies.make();
  }
  if (cancelled(plan)) return false;

  for (auto& d : out.salesByDate) d.second.income = 0;
  out.totals = overall;
  return true;
}

// Helper threads kept for the engine's runs, so that a run does not pay for
// starting threads. A run uses them only when no other run does; otherwise it
// sums on its own thread. Idle helpers sleep on a condition variable: they
// never spin, so they take no processor time from the thread that sums, also
// when they share its processor.
class WorkerPool {
 public:
  static WorkerPool& shared() {
    static WorkerPool* pool = new WorkerPool(7);
    return *pool;
  }
  unsigned helperCount() const { return unsigned(helpers_.size()); }

  // Runs job on the calling thread and on up to `helpers` pool threads; returns
  // once every one that started has returned. False (nothing run) when the
  // pool is busy. A helper that the system has not yet given a processor when
  // the calling thread's job returns does not start: job must share its work
  // out so that whichever threads run it do all of it (the caller's alone too).
  bool tryRun(unsigned helpers, const std::function<void()>& job) {
    std::unique_lock<std::mutex> busy(runLock_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    helpers = std::min(helpers, helperCount());
    {
      std::lock_guard<std::mutex> g(m_);
      job_ = &job;
      wanted_ = helpers;
      running_ = 0;
      open_ = true;
      ++generation_;
    }
    cv_.notify_all();
    job();
    std::unique_lock<std::mutex> g(m_);
    open_ = false;
    done_.wait(g, [this] { return running_ == 0; });
    job_ = nullptr;
    return true;
  }

 private:
  explicit WorkerPool(unsigned n) {
    for (unsigned i = 0; i < n; ++i) helpers_.emplace_back([this, i] { loop(i); }).detach();
  }
  void loop(unsigned index) {
    uint64_t seen = 0;
    for (;;) {
      const std::function<void()>* job = nullptr;
      {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return generation_ != seen; });
        seen = generation_;
        if (index >= wanted_ || !open_) continue;
        job = job_;
        ++running_;
      }
      (*job)();
      std::lock_guard<std::mutex> g(m_);
      if (--running_ == 0) done_.notify_all();
    }
  }

  std::mutex runLock_;
  std::mutex m_;
  std::condition_variable cv_, done_;
  const std::function<void()>* job_ = nullptr;
  unsigned wanted_ = 0, running_ = 0;
  bool open_ = false;  // helpers may still start on the current job
  uint64_t generation_ = 0;
  std::vector<std::thread> helpers_;
};

// What a run costs on one thread, roughly, in nanoseconds: the records it
// adds, the records it makes (one per day of the walk for each product), and
// the zero records of the countries it lays under each product's. Measured on
// the large sample; only the order of magnitude matters.
double estimatedNanoseconds(const Plan& plan, const std::vector<KVRTotalsEngine::ProductInput>& products,
                            size_t allKeys) {
  constexpr double kPerRecordAdded = 12, kPerRecordMade = 20, kPerRecordLaid = 1, kPerProduct = 1500;
  const KeyPlan& kp = *plan.keyPlan;
  if (plan.walk.empty()) return double(products.size()) * kPerProduct;
  const double keyShare = allKeys ? double(kp.keys.size()) / double(allKeys) : 0.0;
  const KVRCivilDay first = plan.walkDays.front(), last = plan.walkDays.back();
  double added = 0;
  for (const KVRTotalsEngine::ProductInput& p : products) {
    if (!p.values) continue;
    const KVRProductValues::Extent& e = p.values->extent();
    if (e.first > e.last) continue;
    const double span = double(e.last - e.first + 1);
    const double overlap = double(std::min(last, e.last)) - double(std::max(first, e.first)) + 1;
    if (overlap > 0) added += double(e.records) * std::min(1.0, overlap / span) * keyShare;
  }
  const double made = double(products.size()) * (plan.onlyTotals ? 0.0 : double(plan.walk.size()));
  const double laid = double(products.size()) * double(kp.zeroRecords->size());
  return added * kPerRecordAdded + made * kPerRecordMade + laid * kPerRecordLaid +
         double(products.size()) * kPerProduct;
}

// The sorted value keys of the last run: the shared index hands the same list
// (the same shared data) until a product publishes new keys.
QStringList sortedKeysCached(const QStringList& keys) {
  static std::mutex lock;
  static QStringList lastInput, lastSorted;
  std::lock_guard<std::mutex> g(lock);
  if (lastInput.size() == keys.size() && (lastInput.constData() == keys.constData() || lastInput == keys))
    return lastSorted;
  lastSorted = KVRTotalsEngine::sortedValueKeys(keys);
  lastInput = keys;
  return lastSorted;
}

// A text equal to t whose characters are kept for the life of the process and
// that has no reference count: copies of it, made by every thread for every
// product's records, share nothing that they write. (Country codes are few.)
QString internedText(const QString& t) {
  static std::mutex lock;
  static QHash<QString, QString> table;
  std::lock_guard<std::mutex> g(lock);
  auto it = table.constFind(t);
  if (it == table.constEnd()) {
    char16_t* kept = new char16_t[size_t(t.size()) + 1];  // never freed
    std::memcpy(kept, t.constData(), size_t(t.size()) * sizeof(char16_t));
    kept[t.size()] = 0;
    it = table.insert(t, QString::fromRawData(reinterpret_cast<const QChar*>(kept), t.size()));
  }
  return *it;
}

KeyPlan makeKeyPlan(const QStringList& sortedKeys, const QString& region) {
  KeyPlan kp;
  kp.sortedKeys = sortedKeys;
  kp.region = region;
  // The keys that pass the filter, in visiting order. A key without "-" names
  // no country and is not counted.
  QHash<QString, int> countryIndex;
  QHash<QString, int> keyIndex;
  for (const QString& key : sortedKeys) {
    const int dash = key.indexOf(QLatin1Char('-'));
    if (dash < 0) continue;
    if (!region.isNull() && QStringView(key).left(dash) != region) continue;
    if (keyIndex.contains(key)) continue;  // a key listed twice is visited once
    const int next = key.indexOf(QLatin1Char('-'), dash + 1);
    const QString country = key.mid(dash + 1, next < 0 ? -1 : next - dash - 1);
    auto found = countryIndex.constFind(country);
    if (found == countryIndex.constEnd()) {
      found = countryIndex.insert(country, int(kp.countries.size()));
      kp.countries << country;
    }
    keyIndex.insert(key, int(kp.keys.size()));
    kp.keys.push_back({key, *found});
  }
  // Countries in ascending order, the order of the per-product records.
  {
    QStringList sorted = kp.countries;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> remap(size_t(kp.countries.size()));
    for (int i = 0; i < kp.countries.size(); ++i)
      remap[size_t(i)] = int(std::lower_bound(sorted.begin(), sorted.end(), kp.countries[i]) - sorted.begin());
    for (auto& k : kp.keys) k.country = remap[size_t(k.country)];
    kp.countries.clear();
    for (const QString& c : sorted) kp.countries << internedText(c);
  }
  {
    std::vector<int> keysOfCountry(size_t(kp.countries.size()), 0);
    for (KeyPlan::Key& k : kp.keys) k.firstOfCountry = keysOfCountry[size_t(k.country)]++ == 0;
    for (size_t c = 0; c < keysOfCountry.size(); ++c)
      if (keysOfCountry[c] > 1) kp.countriesOfSeveralKeys.push_back(int(c));
  }
  auto zeros = std::make_shared<KVRCountryTotals>();
  zeros->reserve(size_t(kp.countries.size()));
  for (const QString& c : kp.countries) zeros->append(c, KVRTotalsStruct());
  kp.zeroRecords = std::move(zeros);
  kp.keysByText.reserve(kp.keys.size());
  for (size_t i = 0; i < kp.keys.size(); ++i) kp.keysByText.emplace_back(kp.keys[i].valueKey, int(i));
  std::sort(kp.keysByText.begin(), kp.keysByText.end(),
            [](const auto& a, const auto& b) { return codeUnits(a.first) < codeUnits(b.first); });
  return kp;
}

// The key plan of the last run, reused while the sorted keys (the same shared
// list) and the region stay the same. The plan holds the list it was made
// from, so a list at the same address is that list.
std::shared_ptr<const KeyPlan> keyPlanCached(const QStringList& sortedKeys, const QString& region) {
  static std::mutex lock;
  static std::shared_ptr<const KeyPlan> last;
  std::lock_guard<std::mutex> g(lock);
  if (last && last->sortedKeys.size() == sortedKeys.size() && last->sortedKeys.constData() == sortedKeys.constData() &&
      last->region.isNull() == region.isNull() && last->region == region)
    return last;
  last = std::make_shared<const KeyPlan>(makeKeyPlan(sortedKeys, region));
  return last;
}


}  // namespace

QStringList KVRTotalsEngine::sortedValueKeys(QStringList keys) {
  std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });
  return keys;
}

std::vector<KVRDate> KVRTotalsEngine::dayWalk(KVRDate fromDate, KVRDate toDate,
                                              const KVRCalculationServices& services) {
  // By calendar day, both ends included, whatever clock changes the zone has.
  return services.calendar->dayWalk(fromDate, toDate);
}

std::optional<KVRTotalsResult> KVRTotalsEngine::run(const QStringList& valueKeys,
                                                    const std::vector<ProductInput>& products,
                                                    const QString& region, KVRDate fromDate,
                                                    KVRDate toDate, bool onlyTotals,
                                                    const std::atomic<bool>* cancel, int maxThreads,
                                                    const KVRCalculationServices& services) {
  KVRVortelyLogCenter& log = *services.log;
  log.addLogEntry(QStringLiteral("totalsForRegion start"), false, kLogKeyword);

  Plan plan;
  plan.onlyTotals = onlyTotals;
  plan.cancel = cancel;
  plan.walk = dayWalk(fromDate, toDate, services);
  KVRCalendar& cal = *services.calendar;
  plan.walkDays.reserve(plan.walk.size());
  for (size_t i = 0; i < plan.walk.size(); ++i) {
    plan.walkDays.push_back(cal.civilDay(plan.walk[i]));
    if (i > 0 && plan.walkDays[i] != plan.walkDays[0] + KVRCivilDay(i)) plan.consecutive = false;
  }

  if (!onlyTotals) {
    plan.zeroDays.resize(plan.walk.size());
    for (size_t i = 0; i < plan.walk.size(); ++i) plan.zeroDays[i].first = plan.walk[i];
  }

  plan.keyPlan = keyPlanCached(sortedKeysCached(valueKeys), region);
  {
    // The interned codes only grow, and an index keeps its code: each thread
    // looks up the slots of the codes it has not yet seen.
    thread_local int known = 0;
    thread_local std::array<uint64_t, KVRCurrencySlotCount> slotBit{};
    for (; known < 64; ++known) {
      const std::string_view code = KVRCurrencySet::codeForIndex(known);
      if (code.empty()) break;
      if (const int slot = KVRCurrencySlotForCode(code); slot >= 0) slotBit[size_t(slot)] = uint64_t(1) << known;
    }
    plan.slotBit = slotBit;
  }

  std::vector<KVRProductTotals> totals(products.size());
  std::atomic<bool> stopped{false};
  std::atomic<size_t> nextProduct{0};
  auto worker = [&] {
    for (;;) {
      if (stopped.load(std::memory_order_relaxed)) return;
      const size_t k = nextProduct.fetch_add(1, std::memory_order_relaxed);
      if (k >= products.size()) return;
      if (!sumProduct(plan, products[k], totals[k])) {
        stopped.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };
  // Threads from the work: a run one thread does in about a millisecond wakes
  // no helper (waking them costs as much as they save), a longer one takes a
  // thread per half millisecond of work, up to the processors the process may
  // run on. A count given by the caller is taken as it is.
  unsigned threads = 1;
  if (maxThreads > 0) {
    threads = unsigned(maxThreads);
  } else {
    const double ns = estimatedNanoseconds(plan, products, size_t(valueKeys.size()));
    if (ns > 1.0e6) threads = unsigned(std::min(8.0, std::ceil(ns / 0.5e6)));
    threads = std::min(threads, KVRAvailableProcessors());
  }
  threads = unsigned(std::min<size_t>(threads, products.size()));
  const std::function<void()> job = worker;
  if (threads <= 1 || !WorkerPool::shared().tryRun(threads - 1, job)) worker();
  if (stopped.load() || (cancel && cancel->load())) return std::nullopt;

  KVRTotalsResult result;
  for (size_t k = 0; k < products.size(); ++k)
    result.insert_or_assign(products[k].idStore, std::move(totals[k]));
  log.addLogEntry(QStringLiteral("totalsForRegion end"), false, kLogKeyword);
  return result;
}

std::optional<KVRTotalsResult> KVRTotalsEngine::totalsForRegion(
    const QString& region, KVRDate fromDate, KVRDate toDate,
    const std::vector<KVRVortelyManagedProduct*>& products, bool onlyTotals,
    const std::atomic<bool>* cancel, const KVRCalculationServices& services) {
  // One consistent snapshot per product for the whole run.
  std::vector<ProductInput> inputs;
  inputs.reserve(products.size());
  for (KVRVortelyManagedProduct* p : products) {
    if (!p) continue;
    inputs.push_back({p->idStore, p->valuesByCountryAndDate()});
  }
  const KVRSharedValuesIndex::ViewRef view =
      KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().snapshot();
  const QStringList keys = view ? view->valueKeys : QStringList();
  return run(keys, inputs, region, fromDate, toDate, onlyTotals, cancel, 0, services);
}
