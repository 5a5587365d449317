#include "core/KVRProductValues.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------- days

void KVRSeriesDays::push_back(KVRCivilDay day) {
  if (!wide_) {
    if (offsets_.empty()) base_ = day;
    const int64_t off = int64_t(day) - int64_t(base_);
    if (off >= 0 && off <= 0xFFFF) {
      offsets_.push_back(uint16_t(off));
      return;
    }
    widen();
  }
  wideDays_.push_back(day);
}

void KVRSeriesDays::widen() {
  wideDays_.reserve(offsets_.size() + 1);
  for (uint16_t o : offsets_) wideDays_.push_back(base_ + KVRCivilDay(o));
  offsets_.clear();
  offsets_.shrink_to_fit();
  wide_ = true;
}

namespace {

// The position of the first day not before d, days rising strictly. Since
// days[i] >= days[0] + i and days[i] <= days[n-1] - (n-1-i), the answer lies
// in a window that is a single position when the series has every day; inside
// it an interpolation search needs few probes on evenly spread days, and never
// more than a binary search's.
template <typename DayAt>
size_t firstDayNotBefore(size_t n, const DayAt& dayAt, int64_t d) {
  if (n == 0 || d <= dayAt(0)) return 0;
  const int64_t first = dayAt(0), last = dayAt(n - 1);
  if (d > last) return n;
  // Here dayAt(lo - 1) < d <= dayAt(hi) holds with lo >= 1.
  size_t hi = std::min(size_t(d - first), n - 1);
  const int64_t fromBack = last - d;
  size_t lo = int64_t(n - 1) > fromBack ? n - 1 - size_t(fromBack) : 1;
  lo = std::max<size_t>(lo, 1);
  if (dayAt(lo - 1) >= d) {
    size_t a = 0, b = lo;  // binary search in [0, lo)
    while (a < b) {
      const size_t m = a + (b - a) / 2;
      if (dayAt(m) < d) a = m + 1;
      else b = m;
    }
    return a;
  }
  bool interpolate = true;
  while (hi > lo) {
    size_t mid;
    if (interpolate) {
      const double lowDay = double(dayAt(lo - 1));
      const double span = double(dayAt(hi)) - lowDay;
      mid = lo - 1 + size_t(double(hi - lo + 1) * (double(d) - lowDay) / span);
      mid = std::clamp(mid, lo, hi - 1);
    } else {
      mid = lo + (hi - lo) / 2;
    }
    interpolate = !interpolate;  // alternate, so the worst case stays logarithmic
    if (dayAt(mid) < d) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

}  // namespace

size_t KVRSeriesDays::lowerBound(KVRCivilDay day) const {
  if (wide_)
    return firstDayNotBefore(wideDays_.size(), [this](size_t i) { return int64_t(wideDays_[i]); }, day);
  const int64_t off = int64_t(day) - int64_t(base_);
  return firstDayNotBefore(offsets_.size(), [this](size_t i) { return int64_t(offsets_[i]); }, off);
}

// ---------------------------------------------------------------- byte buffer

void KVRByteBuffer::allocateZeroed(size_t n) {
  std::free(data_);
  data_ = n ? static_cast<uint8_t*>(std::calloc(n, 1)) : nullptr;
  if (n && !data_) throw std::bad_alloc();
  size_ = n;
}

void KVRByteBuffer::resize(size_t n) {
  if (n == size_) return;
  if (n == 0) {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
    return;
  }
  auto* p = static_cast<uint8_t*>(std::realloc(data_, n));
  if (!p) throw std::bad_alloc();
  if (n > size_) std::memset(p + size_, 0, n - size_);
  data_ = p;
  size_ = n;
}

void KVRByteBuffer::assign(const uint8_t* p, size_t n) {
  data_ = n ? static_cast<uint8_t*>(std::malloc(n)) : nullptr;
  if (n && !data_) throw std::bad_alloc();
  if (n) std::memcpy(data_, p, n);
  size_ = n;
}

// ---------------------------------------------------------------- records

namespace {

bool isSlotField(int field) { return field >= KVRRecordField::firstSlot; }

// Order of the field table: measures but income, income, currency amounts.
int opRank(int field) {
  if (field == KVRRecordField::income) return KVRRecordField::firstSlot * 2;
  return isSlotField(field) ? KVRRecordField::firstSlot * 2 + field : field;
}

uint32_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

}  // namespace

void KVRSeriesRecords::setOps(std::vector<FieldOp> ops) {
  std::sort(ops.begin(), ops.end(), [](const FieldOp& a, const FieldOp& b) { return opRank(a.field) < opRank(b.field); });
  measureOps_ = 0;
  hasIncome_ = 0;
  for (const FieldOp& op : ops) {
    if (op.field == KVRRecordField::income) hasIncome_ = 1;
    else if (!isSlotField(op.field)) ++measureOps_;
  }
  ops.shrink_to_fit();
  ops_ = std::move(ops);
}

uint8_t KVRSeriesRecords::setIndexFor(const KVRCurrencySet& s) {
  if (count_ == 0 || s == firstSet_) {
    if (count_ == 0) firstSet_ = s;
    return 0;
  }
  for (size_t i = 0; i < otherSets_.size(); ++i)
    if (otherSets_[i] == s) return uint8_t(i + 1);
  otherSets_.push_back(s);
  return uint8_t(otherSets_.size());
}

void KVRSeriesRecords::relayout(const std::vector<KVRTotalsStruct>& records, uint64_t fields) {
  std::vector<FieldOp> ops;
  uint16_t offset = 0;
  for (int f = 0; f < KVRRecordField::count; ++f) {
    if (!(fields & (uint64_t(1) << f))) continue;
    ops.push_back(FieldOp{uint8_t(f), kFloat, offset});
    offset = uint16_t(offset + sizeof(float));
  }
  stride_ = offset;
  scale_ = 1.0f;
  setOps(std::move(ops));
  rows_.allocateZeroed(size_t(stride_) * records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    uint8_t* row = rows_.data() + i * stride_;
    const float* x = KVRRecordFloats(records[i]);
    for (const FieldOp& op : ops_) std::memcpy(row + op.offset, &x[op.field], sizeof(float));
  }
}

void KVRSeriesRecords::push_back(const KVRTotalsStruct& record) {
  // The fields this record needs that no column holds yet.
  uint64_t stored = 0;
  for (const FieldOp& op : ops_) stored |= uint64_t(1) << op.field;
  uint64_t needed = stored;
  const float* x = KVRRecordFloats(record);
  for (int f = 0; f < KVRRecordField::count; ++f)
    if (bitsOf(x[f]) != 0) needed |= uint64_t(1) << f;
  const bool plain = std::all_of(ops_.begin(), ops_.end(), [](const FieldOp& op) { return op.encoding == kFloat; });
  if (needed != stored || !plain) {
    std::vector<KVRTotalsStruct> all;
    all.reserve(count_ + 1u);
    for (size_t i = 0; i < count_; ++i) all.push_back((*this)[i]);
    relayout(all, needed);
  }
  rows_.resize(size_t(stride_) * (count_ + 1u));
  uint8_t* row = rows_.data() + size_t(stride_) * count_;
  for (const FieldOp& op : ops_) std::memcpy(row + op.offset, &x[op.field], sizeof(float));
  const uint8_t set = setIndexFor(record.currencies);
  if (set != 0 && setIndex_.empty()) setIndex_.assign(count_, 0);
  if (!setIndex_.empty()) setIndex_.push_back(set);
  ++count_;
}

KVRTotalsStruct KVRSeriesRecords::operator[](size_t i) const {
  KVRTotalsStruct r;
  float* x = KVRRecordFloats(r);
  const uint8_t* p = row(i);
  for (const FieldOp& op : ops_) x[op.field] = read(p, op, scale_);
  r.currencies = set(i);
  return r;
}

size_t KVRSeriesRecords::byteSize() const {
  return rows_.size() + ops_.capacity() * sizeof(FieldOp) + otherSets_.capacity() * sizeof(KVRCurrencySet) +
         setIndex_.capacity();
}

// ---------------------------------------------------------------- values

const KVRValueSeries* KVRProductValues::find(const QString& valueKey) const {
  auto it = std::lower_bound(series.begin(), series.end(), valueKey,
                             [](const KVRValueSeries& s, const QString& k) { return s.valueKey < k; });
  if (it == series.end() || it->valueKey != valueKey) return nullptr;
  return &*it;
}

const KVRTotalsStruct* KVRProductValues::find(const QString& valueKey, KVRCivilDay day) const {
  const KVRValueSeries* s = find(valueKey);
  if (!s) return nullptr;
  const ptrdiff_t i = s->indexOf(day);
  if (i < 0) return nullptr;
  std::call_once(read_.once, [this] { read_.p = std::make_unique<ReadRecords>(); });
  ReadRecords& cache = *read_.p;
  std::lock_guard<std::mutex> g(cache.lock);
  std::unique_ptr<KVRTotalsStruct>& slot = cache.records[{s, size_t(i)}];
  if (!slot) {
    slot = std::make_unique<KVRTotalsStruct>(s->records[size_t(i)]);
    if (dateOfDay) slot->date = slot->beginDate = slot->endDate = dateOfDay(day);
  }
  return slot.get();
}

size_t KVRProductValues::byteSize() const {
  size_t n = series.capacity() * sizeof(KVRValueSeries);
  for (const KVRValueSeries& s : series) n += s.days.byteSize() + s.records.byteSize();
  return n;
}
