#pragma once
// A product's per-day values, as its history build leaves them: for every value
// key ("EU-FR": region code, "-", country code) the days in ascending order and
// one totals record per day. A published KVRProductValues is never modified:
// a rebuild makes a new one and swaps it in whole, so readers on any thread can
// keep using the one they took.
//
// Storage. A product has millions of day records in all, each of which would
// take a whole totals record (33 floats, the currency set and three dates)
// while it uses a handful of its measures. A series therefore keeps only what
// its records carry:
// - its days as 16-bit offsets from the first one;
// - one packed row per day holding only the fields that are not zero in some
//   record of the series, each in the narrowest exact form: a float, or a
//   16- or 8-bit integer when every value of the field is a whole number in
//   that range (turned back into the very same float);
// - fields whose every value equals another field's share its column (paid
//   sales and sales when every sale is paid, an amount and the income when
//   every line is in that currency), and the preferred-currency amount may be
//   read as the income times the series' one exchange rate when that product
//   gives every record's amount bit for bit;
// - the currency sets as one set for the series, or a small table of sets and
//   an index per day when the days differ.
// Reading a record back gives every float bit for bit as the build made it.
#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "core/KVRTotalsStruct.h"
#include "platform/KVRDate.h"

// The 33 float fields of a totals record that a day record may carry, by their
// position in the record: the 20 measures in declaration order, then the 13
// currency amounts in KVRCurrencySlot order.
namespace KVRRecordField {
enum : uint8_t {
  promoCode, giftPurchase, giftRedemption, eduStore, newSubscription, renewal, downloads, sales,
  upgrades, currency, refunds, paiedSales, freeSales, income, iAdSales, eCPM, requests, impressions,
  fillRate, ctr, firstSlot, count = firstSlot + KVRCurrencySlotCount,
};
}  // namespace KVRRecordField

static_assert(offsetof(KVRTotalsStruct, promoCode) == 0);
static_assert(offsetof(KVRTotalsStruct, ctr) == KVRRecordField::ctr * sizeof(float));
static_assert(offsetof(KVRTotalsStruct, income) == KVRRecordField::income * sizeof(float));
static_assert(offsetof(KVRTotalsStruct, currency) == KVRRecordField::currency * sizeof(float));
static_assert(offsetof(KVRTotalsStruct, currencyUSD) == KVRRecordField::firstSlot * sizeof(float));
static_assert(offsetof(KVRTotalsStruct, currencyDKK) == (KVRRecordField::count - 1) * sizeof(float));

// The record's 33 fields as one array.
inline float* KVRRecordFloats(KVRTotalsStruct& r) { return &r.promoCode; }
inline const float* KVRRecordFloats(const KVRTotalsStruct& r) { return &r.promoCode; }

// A block of bytes: owned alone, or a slice of a larger block that many
// share (the storage of a whole product's series, made in one piece).
// Copies share the bytes; changing them through data() first makes the block
// one's own.
class KVRByteBuffer {
 public:
  const uint8_t* data() const { return bytes_.get(); }
  uint8_t* data() {
    if (bytes_ && bytes_.use_count() > 1) resize(size_);
    return bytes_.get();
  }
  size_t size() const { return size_; }
  // n zero bytes of one's own (any earlier content is dropped).
  void allocateZeroed(size_t n);
  // One's own block of n bytes keeping the first min(n, size()); new bytes zero.
  void resize(size_t n);
  // A slice of a shared block.
  void borrow(std::shared_ptr<uint8_t> slice, size_t n) {
    bytes_ = std::move(slice);
    size_ = n;
  }
  // A zeroed block of n bytes, mapped straight from the system when large
  // (so that it takes exactly its pages, and gives them back when released).
  static std::shared_ptr<uint8_t> allocateBlock(size_t n);

 private:
  std::shared_ptr<uint8_t> bytes_;
  size_t size_ = 0;
};

// The days of a series: ascending, no repeats. Kept as 16-bit offsets from
// the first day, or, when that is smaller, as a bitmap of the days from the
// first to the last with the count of days before each 64-day word; whole
// days when the series spans more than 16 bits of days.
class KVRSeriesDays {
 public:
  KVRSeriesDays() = default;
  KVRSeriesDays(std::initializer_list<KVRCivilDay> days) {
    for (KVRCivilDay d : days) push_back(d);
  }

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  KVRCivilDay operator[](size_t i) const;
  KVRCivilDay front() const { return base_; }
  KVRCivilDay back() const { return last_; }
  void reserve(size_t) {}
  // Appends a day after the last one.
  void push_back(KVRCivilDay day);
  // The position of the first day not before `day` (size() when none).
  size_t lowerBound(KVRCivilDay day) const;
  // The position of `day`, -1 when the series has no record that day.
  ptrdiff_t indexOf(KVRCivilDay day) const {
    const size_t i = lowerBound(day);
    return i < count_ && (*this)[i] == day ? ptrdiff_t(i) : -1;
  }
  // The positions [first, last) of the days from `from` to `to`, both included.
  std::pair<size_t, size_t> range(KVRCivilDay from, KVRCivilDay to) const {
    if (count_ == 0 || to < from || to < base_ || from > last_) return {0, 0};
    const size_t a = lowerBound(from);
    if (form_ != kBitmap && (a == count_ || (*this)[a] > to)) return {a, a};
    return {a, to >= back() ? size_t(count_) : lowerBound(to + 1)};
  }
  // Calls f(position, day) for each day from `from` to `to` (both included),
  // in order.
  template <typename F>
  void visit(KVRCivilDay from, KVRCivilDay to, F&& f) const {
    const auto [a, b] = range(from, to);
    visitRange(a, b, from, f);
  }
  // The same over positions found by range(from, ...).
  template <typename F>
  void visitRange(size_t first, size_t last, KVRCivilDay from, F&& f) const;
  size_t byteSize() const { return data_.size(); }
  const void* address() const { return data_.data(); }

  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = KVRCivilDay;
    using difference_type = ptrdiff_t;
    using pointer = void;
    using reference = KVRCivilDay;
    const_iterator() = default;
    const_iterator(const KVRSeriesDays* d, size_t i) : d_(d), i_(i) {}
    KVRCivilDay operator*() const { return (*d_)[i_]; }
    KVRCivilDay operator[](difference_type n) const { return (*d_)[size_t(difference_type(i_) + n)]; }
    const_iterator& operator++() { ++i_; return *this; }
    const_iterator operator++(int) { auto t = *this; ++i_; return t; }
    const_iterator& operator--() { --i_; return *this; }
    const_iterator& operator+=(difference_type n) { i_ = size_t(difference_type(i_) + n); return *this; }
    const_iterator& operator-=(difference_type n) { i_ = size_t(difference_type(i_) - n); return *this; }
    const_iterator operator+(difference_type n) const { auto t = *this; return t += n; }
    const_iterator operator-(difference_type n) const { auto t = *this; return t -= n; }
    difference_type operator-(const const_iterator& o) const { return difference_type(i_) - difference_type(o.i_); }
    bool operator==(const const_iterator& o) const { return i_ == o.i_; }
    auto operator<=>(const const_iterator& o) const { return i_ <=> o.i_; }

   private:
    const KVRSeriesDays* d_ = nullptr;
    size_t i_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count_}; }

 private:
  friend class KVRHistoryBuilder;
  enum Form : uint8_t { kOffsets, kBitmap, kWide };
  // The bytes the smallest form of sorted days takes; then the days laid out
  // in that form in `storage`, a zeroed slice of that many bytes.
  static size_t layoutBytes(const KVRCivilDay* days, size_t n);
  void assign(const KVRCivilDay* days, size_t n, KVRByteBuffer storage);
  const uint16_t* offsets() const { return reinterpret_cast<const uint16_t*>(data_.data()); }
  const KVRCivilDay* wide() const { return reinterpret_cast<const KVRCivilDay*>(data_.data()); }
  const uint64_t* bits() const { return reinterpret_cast<const uint64_t*>(data_.data()); }
  const uint16_t* ranks() const { return reinterpret_cast<const uint16_t*>(data_.data() + words_ * sizeof(uint64_t)); }

  KVRCivilDay base_ = 0;  // the first day
  KVRCivilDay last_ = 0;  // the last day
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;  // days room (offsets and whole days)
  uint32_t words_ = 0;     // bitmap words
  Form form_ = kOffsets;
  KVRByteBuffer data_;
};

// The records of a series, one packed row per day (see the top of the file).
class KVRSeriesRecords {
 public:
  // How a field is read from a row.
  enum Encoding : uint8_t {
    kFloat = 0,
    kInt16 = 1,
    kInt8 = 2,
    kEncodingMask = 3,
    kScaled = 0x40,  // the value read times the series' scale
    kSum = 0x80,     // the value read plus the second value read
  };
  // One field: where its value lies in a row and how it is read.
  struct FieldOp {
    uint8_t field;      // KVRRecordField
    uint8_t encoding;   // Encoding, possibly with kScaled or kSum
    uint16_t offset;    // byte offset in the row
    uint8_t encoding2;  // the second value of a sum
    uint8_t unused = 0;
    uint16_t offset2;
  };

  KVRSeriesRecords() = default;
  KVRSeriesRecords(std::initializer_list<KVRTotalsStruct> records) {
    for (const KVRTotalsStruct& r : records) push_back(r);
  }
  KVRSeriesRecords(const KVRSeriesRecords& o);
  KVRSeriesRecords(KVRSeriesRecords&&) noexcept = default;
  KVRSeriesRecords& operator=(KVRSeriesRecords o) noexcept;

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Appends a record (after the last day). Hand-made values use it; the
  // history build writes its series whole.
  void push_back(const KVRTotalsStruct& record);
  void reserve(size_t) {}
  // Record i as a whole totals record, every float as stored; its dates are
  // not kept here (see KVRProductValues::find).
  KVRTotalsStruct operator[](size_t i) const;
  KVRTotalsStruct front() const { return (*this)[0]; }
  KVRTotalsStruct back() const { return (*this)[count_ - 1]; }

  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = KVRTotalsStruct;
    using difference_type = ptrdiff_t;
    using pointer = void;
    using reference = KVRTotalsStruct;
    const_iterator() = default;
    const_iterator(const KVRSeriesRecords* r, size_t i) : r_(r), i_(i) {}
    KVRTotalsStruct operator*() const { return (*r_)[i_]; }
    const_iterator& operator++() { ++i_; return *this; }
    const_iterator operator++(int) { auto t = *this; ++i_; return t; }
    bool operator==(const const_iterator& o) const { return i_ == o.i_; }

   private:
    const KVRSeriesRecords* r_ = nullptr;
    size_t i_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count_}; }

  // ---- Raw reading, for the totals engine.
  const uint8_t* row(size_t i) const { return block_.data() + i * stride_; }
  size_t stride() const { return stride_; }
  float scale() const { return scale_; }
  std::span<const FieldOp> allOps() const { return {ops(), opCount_}; }
  // The measures other than income that are not zero: those read as floats,
  // as 16-bit and as 8-bit whole numbers, and those worked out (sums and
  // products), each group in field order.
  std::span<const FieldOp> measureOps() const { return {ops(), measureCount()}; }
  std::span<const FieldOp> floatMeasures() const { return {ops(), floats_}; }
  std::span<const FieldOp> int16Measures() const { return {ops() + floats_, int16s_}; }
  std::span<const FieldOp> int8Measures() const { return {ops() + floats_ + int16s_, int8s_}; }
  std::span<const FieldOp> otherMeasures() const { return {ops() + floats_ + int16s_ + int8s_, others_}; }
  // The income, when not zero.
  const FieldOp* incomeOp() const { return hasIncome_ ? ops() + measureCount() : nullptr; }
  // The currency amounts that are not zero: first those whose code is in the
  // first record's set, then the others, each group in slot order.
  std::span<const FieldOp> slotOps() const {
    return {ops() + measureCount() + hasIncome_, size_t(opCount_ - measureCount() - hasIncome_)};
  }
  std::span<const FieldOp> firstSetSlotOps() const { return {ops() + measureCount() + hasIncome_, firstSetSlots_}; }
  // Every record has the same currency set (then set(i) is that set).
  bool uniformSets() const { return !sets_; }
  const KVRCurrencySet& set(size_t i) const {
    if (!sets_) return firstSet_;
    const uint8_t k = sets_->index[i];
    return k == 0 ? firstSet_ : sets_->others[k - 1u];
  }
  static float readOne(const uint8_t* row, uint8_t encoding, uint16_t offset) {
    switch (encoding & kEncodingMask) {
      case kInt16: {
        int16_t x;
        std::memcpy(&x, row + offset, sizeof x);
        return float(x);
      }
      case kInt8: return float(int8_t(row[offset]));
      default: {
        float v;
        std::memcpy(&v, row + offset, sizeof v);
        return v;
      }
    }
  }
  static float read(const uint8_t* row, const FieldOp& op, float scale) {
    float v = readOne(row, op.encoding, op.offset);
    if (op.encoding & kSum) v = v + readOne(row, op.encoding2, op.offset2);
    if (op.encoding & kScaled) v = v * scale;
    return v;
  }
  // Bytes held (rows, field table, sets).
  size_t byteSize() const;

 private:
  friend class KVRHistoryBuilder;
  struct SetTable {
    std::vector<KVRCurrencySet> others;  // sets other than firstSet_
    std::vector<uint8_t> index;          // per record: 0 firstSet_, k others[k - 1]
  };
  const FieldOp* ops() const { return reinterpret_cast<const FieldOp*>(block_.data() + opsOffset()); }
  size_t opsBytes() const { return size_t(opCount_) * sizeof(FieldOp); }
  // Where the field table starts: after the room for the rows, at a multiple
  // of 8 bytes.
  static size_t opsOffset(size_t rows, size_t stride) { return (rows * stride + 7) & ~size_t(7); }
  size_t opsOffset() const { return opsOffset(capacity_, stride_); }
  // Lays the records out again with float columns for the given fields.
  void relayout(const std::vector<KVRTotalsStruct>& records, uint64_t fields);
  size_t measureCount() const { return size_t(floats_) + int16s_ + int8s_ + others_; }
  // Puts the fields in the order the groups above read them (the first
  // record's set known) and counts the groups.
  void arrangeOps(std::vector<FieldOp>& ops);
  // The same on the table already in the block.
  void arrangeOpsInPlace();
  void noteSet(size_t i, const KVRCurrencySet& s);

  uint32_t count_ = 0;
  uint32_t capacity_ = 0;  // rows room
  uint16_t stride_ = 0;
  uint8_t opCount_ = 0;
  uint8_t floats_ = 0, int16s_ = 0, int8s_ = 0, others_ = 0;  // the measure groups
  uint8_t hasIncome_ = 0;
  uint8_t firstSetSlots_ = 0;
  float scale_ = 1.0f;
  KVRCurrencySet firstSet_;
  std::unique_ptr<SetTable> sets_;  // null: every record has firstSet_
  // The rows, then the field table: a walk over the latest days reads the
  // last rows and the table, which lie next to each other.
  KVRByteBuffer block_;
};

template <typename F>
void KVRSeriesDays::visitRange(size_t first, size_t last, KVRCivilDay from, F&& f) const {
  if (first >= last) return;
  switch (form_) {
    case kOffsets: {
      const uint16_t* o = offsets();
      for (size_t pos = first; pos < last; ++pos) f(pos, base_ + KVRCivilDay(o[pos]));
      return;
    }
    case kWide: {
      const KVRCivilDay* w = wide();
      for (size_t pos = first; pos < last; ++pos) f(pos, w[pos]);
      return;
    }
    case kBitmap: break;
  }
  // Set bits from `from` on, word by word.
  const int64_t start = std::max<int64_t>(0, int64_t(from) - int64_t(base_));
  const uint64_t* w = bits();
  size_t pos = first;
  for (size_t word = size_t(start / 64); word < words_ && pos < last; ++word) {
    uint64_t b = w[word];
    if (int64_t(word) == start / 64) b &= ~uint64_t(0) << (start % 64);
    for (; b && pos < last; b &= b - 1) f(pos++, KVRCivilDay(base_ + int64_t(word) * 64 + __builtin_ctzll(b)));
  }
}

// The record header comes first, and a series starts a cache line: a walk
// reads the header of each series it visits in one line.
struct alignas(64) KVRValueSeries {
  KVRSeriesRecords records;   // records[i] is the day days[i]
  QString valueKey;  // "%@-%@": region then country
  QString region;    // the part before "-"
  QString country;   // the part after "-"
  KVRSeriesDays days;         // ascending, no repeats

  // The position of a day's record, -1 when there is none.
  ptrdiff_t indexOf(KVRCivilDay day) const { return days.indexOf(day); }
  size_t byteSize() const { return sizeof(*this) + days.byteSize() + records.byteSize(); }
};

struct KVRProductValues {
  std::vector<KVRValueSeries> series;  // sorted by valueKey (QString ordering)
  // The first instant of a day, for the dates of records read with find();
  // unset: records without dates.
  std::function<KVRDate(KVRCivilDay)> dateOfDay;

  const KVRValueSeries* find(const QString& valueKey) const;
  // A day's record as a whole totals record (with its dates), or null. The
  // record stays valid as long as these values live.
  const KVRTotalsStruct* find(const QString& valueKey, KVRCivilDay day) const;
  size_t recordCount() const {
    size_t n = 0;
    for (const auto& s : series) n += s.records.size();
    return n;
  }
  // Bytes held by the series.
  size_t byteSize() const;
  // How many records, the first and last day of any series (first > last
  // when there is none), and for each series which of the 64 days up to that
  // last day it has a record on (bit i: the day i days before the last), so
  // that a short walk over the latest days finds the series it meets without
  // opening the others, and for each of those days the series it has a
  // record on; worked out on first request.
  struct Extent {
    size_t records = 0;
    KVRCivilDay first = 1, last = 0;
    std::vector<uint64_t> recentDays;    // by series
    std::vector<uint32_t> recentFirst;   // by series: the position of its first record of those days
    // The series with a record on each of those days, ascending: those of
    // the day i days before the last are recentSeries[recentStart[i]] up to
    // recentSeries[recentStart[i + 1]] (65 starts).
    std::vector<uint32_t> recentStart;
    std::vector<uint32_t> recentSeries;
  };
  const Extent& extent() const;

 private:
  // Records handed out by find(), made on first request. A copy of the values
  // starts without any.
  struct ReadRecords {
    std::mutex lock;
    std::map<std::pair<const KVRValueSeries*, size_t>, std::unique_ptr<KVRTotalsStruct>> records;
  };
  struct ReadRecordsHolder {
    ReadRecordsHolder() = default;
    ReadRecordsHolder(const ReadRecordsHolder&) {}
    ReadRecordsHolder& operator=(const ReadRecordsHolder&) { return *this; }
    std::once_flag once;
    std::unique_ptr<ReadRecords> p;
  };
  mutable ReadRecordsHolder read_;
  struct ExtentHolder {
    ExtentHolder() = default;
    ExtentHolder(const ExtentHolder&) {}
    ExtentHolder& operator=(const ExtentHolder&) { return *this; }
    std::once_flag once;
    std::atomic<bool> ready{false};  // set once the extent is made: later calls skip call_once
    Extent extent;
  };
  mutable ExtentHolder extent_;
};

using KVRProductValuesRef = std::shared_ptr<const KVRProductValues>;
