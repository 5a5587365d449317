#include "core/KVRProductValues.h"

#include <algorithm>
#include <cmath>

#include <sys/mman.h>

// ---------------------------------------------------------------- byte buffer

std::shared_ptr<uint8_t> KVRByteBuffer::allocateBlock(size_t n) {
  if (n == 0) return nullptr;
  if (n >= (size_t(64) << 10)) {
    void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return std::shared_ptr<uint8_t>(static_cast<uint8_t*>(p), [n](uint8_t* q) { ::munmap(q, n); });
  }
  auto* p = static_cast<uint8_t*>(std::calloc(n, 1));
  if (!p) throw std::bad_alloc();
  return std::shared_ptr<uint8_t>(p, [](uint8_t* q) { std::free(q); });
}

void KVRByteBuffer::allocateZeroed(size_t n) {
  bytes_ = allocateBlock(n);
  size_ = n;
}

void KVRByteBuffer::resize(size_t n) {
  std::shared_ptr<uint8_t> next = allocateBlock(n);
  if (n && bytes_) std::memcpy(next.get(), bytes_.get(), std::min(n, size_));
  bytes_ = std::move(next);
  size_ = n;
}

// ---------------------------------------------------------------- days

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
  size_t hi = size_t(std::min<int64_t>(d - first, int64_t(n) - 1));
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

// The position of the k-th set bit of b (k counted from 0).
int selectBit(uint64_t b, unsigned k) {
  for (; k > 0; --k) b &= b - 1;
  return __builtin_ctzll(b);
}

}  // namespace

KVRCivilDay KVRSeriesDays::operator[](size_t i) const {
  switch (form_) {
    case kOffsets: return base_ + KVRCivilDay(offsets()[i]);
    case kWide: return wide()[i];
    case kBitmap: break;
  }
  // The word holding the i-th day: the last whose count of earlier days is
  // not above i.
  const uint16_t* r = ranks();
  size_t lo = 0, hi = words_;
  while (hi - lo > 1) {
    const size_t mid = lo + (hi - lo) / 2;
    if (r[mid] <= i) lo = mid;
    else hi = mid;
  }
  return base_ + KVRCivilDay(lo * 64 + size_t(selectBit(bits()[lo], unsigned(i - r[lo]))));
}

size_t KVRSeriesDays::lowerBound(KVRCivilDay day) const {
  switch (form_) {
    case kOffsets: {
      const uint16_t* o = offsets();
      return firstDayNotBefore(count_, [o](size_t i) { return int64_t(o[i]); }, int64_t(day) - int64_t(base_));
    }
    case kWide: {
      const KVRCivilDay* w = wide();
      return firstDayNotBefore(count_, [w](size_t i) { return int64_t(w[i]); }, int64_t(day));
    }
    case kBitmap: break;
  }
  const int64_t off = int64_t(day) - int64_t(base_);
  if (off <= 0) return 0;
  if (off >= int64_t(words_) * 64) return count_;
  const size_t word = size_t(off / 64);
  const uint64_t before = bits()[word] & ((uint64_t(1) << (off % 64)) - 1);
  return size_t(ranks()[word]) + size_t(__builtin_popcountll(before));
}

namespace {

enum class DayForm { offsets, bitmap, wide };

DayForm dayFormFor(const KVRCivilDay* days, size_t n, size_t* bytes) {
  if (n == 0) return *bytes = 0, DayForm::offsets;
  const int64_t span = int64_t(days[n - 1]) - int64_t(days[0]) + 1;
  if (span > 0x10000) return *bytes = n * sizeof(KVRCivilDay), DayForm::wide;
  const size_t words = size_t((span + 63) / 64);
  const size_t bitmap = words * (sizeof(uint64_t) + sizeof(uint16_t));
  if (bitmap < n * sizeof(uint16_t)) return *bytes = bitmap, DayForm::bitmap;
  return *bytes = n * sizeof(uint16_t), DayForm::offsets;
}

}  // namespace

size_t KVRSeriesDays::layoutBytes(const KVRCivilDay* days, size_t n) {
  size_t bytes = 0;
  dayFormFor(days, n, &bytes);
  return bytes;
}

void KVRSeriesDays::assign(const KVRCivilDay* days, size_t n, KVRByteBuffer storage) {
  count_ = uint32_t(n);
  capacity_ = uint32_t(n);
  words_ = 0;
  size_t bytes = 0;
  const DayForm form = dayFormFor(days, n, &bytes);
  data_ = std::move(storage);
  if (n == 0) {
    form_ = kOffsets;
    return;
  }
  base_ = days[0];
  last_ = days[n - 1];
  uint8_t* out = const_cast<uint8_t*>(data_.data());  // the caller's zeroed slice
  switch (form) {
    case DayForm::wide:
      form_ = kWide;
      std::memcpy(out, days, n * sizeof(KVRCivilDay));
      return;
    case DayForm::bitmap: {
      form_ = kBitmap;
      const size_t words = size_t((int64_t(days[n - 1]) - int64_t(base_) + 64) / 64);
      words_ = uint32_t(words);
      auto* b = reinterpret_cast<uint64_t*>(out);
      for (size_t i = 0; i < n; ++i) {
        const size_t off = size_t(days[i] - base_);
        b[off / 64] |= uint64_t(1) << (off % 64);
      }
      auto* r = reinterpret_cast<uint16_t*>(out + words * sizeof(uint64_t));
      uint32_t before = 0;
      for (size_t w = 0; w < words; ++w) {
        r[w] = uint16_t(before);
        before += uint32_t(__builtin_popcountll(b[w]));
      }
      return;
    }
    case DayForm::offsets: {
      form_ = kOffsets;
      auto* o = reinterpret_cast<uint16_t*>(out);
      for (size_t i = 0; i < n; ++i) o[i] = uint16_t(days[i] - base_);
      return;
    }
  }
}

void KVRSeriesDays::push_back(KVRCivilDay day) {
  if (form_ == kBitmap) {
    // Days made by a build, extended by hand: as plain days again.
    std::vector<KVRCivilDay> all(begin(), end());
    form_ = kWide;
    count_ = capacity_ = 0;
    data_ = KVRByteBuffer();
    for (KVRCivilDay d : all) push_back(d);
  }
  if (form_ == kOffsets && count_ > 0) {
    const int64_t off = int64_t(day) - int64_t(base_);
    if (off < 0 || off > 0xFFFF) {
      // Beyond 16 bits of days: whole days.
      std::vector<KVRCivilDay> all(begin(), end());
      data_.resize(0);
      data_.resize(std::max<size_t>(all.size() * 2, 4) * sizeof(KVRCivilDay));
      std::memcpy(data_.data(), all.data(), all.size() * sizeof(KVRCivilDay));
      capacity_ = uint32_t(data_.size() / sizeof(KVRCivilDay));
      form_ = kWide;
    }
  }
  if (count_ == 0 && form_ == kOffsets) base_ = day;
  const size_t width = form_ == kWide ? sizeof(KVRCivilDay) : sizeof(uint16_t);
  if (count_ == capacity_) {
    capacity_ = std::max<uint32_t>(4, capacity_ * 2);
    data_.resize(size_t(capacity_) * width);
  }
  if (form_ == kWide) reinterpret_cast<KVRCivilDay*>(data_.data())[count_] = day;
  else reinterpret_cast<uint16_t*>(data_.data())[count_] = uint16_t(day - base_);
  ++count_;
  last_ = day;
}

// ---------------------------------------------------------------- records

namespace {

bool isSlotField(int field) { return field >= KVRRecordField::firstSlot; }

uint32_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

}  // namespace

KVRSeriesRecords::KVRSeriesRecords(const KVRSeriesRecords& o)
    : count_(o.count_), capacity_(o.capacity_), stride_(o.stride_), opCount_(o.opCount_), floats_(o.floats_),
      int16s_(o.int16s_), int8s_(o.int8s_), others_(o.others_), hasIncome_(o.hasIncome_),
      firstSetSlots_(o.firstSetSlots_), scale_(o.scale_), firstSet_(o.firstSet_),
      sets_(o.sets_ ? std::make_unique<SetTable>(*o.sets_) : nullptr), block_(o.block_) {}

KVRSeriesRecords& KVRSeriesRecords::operator=(KVRSeriesRecords o) noexcept {
  std::swap(count_, o.count_);
  std::swap(capacity_, o.capacity_);
  std::swap(stride_, o.stride_);
  std::swap(opCount_, o.opCount_);
  std::swap(floats_, o.floats_);
  std::swap(int16s_, o.int16s_);
  std::swap(int8s_, o.int8s_);
  std::swap(others_, o.others_);
  std::swap(hasIncome_, o.hasIncome_);
  std::swap(firstSetSlots_, o.firstSetSlots_);
  std::swap(scale_, o.scale_);
  std::swap(firstSet_, o.firstSet_);
  std::swap(sets_, o.sets_);
  std::swap(block_, o.block_);
  return *this;
}

namespace {

constexpr const char* kSlotCode[KVRCurrencySlotCount] = {"USD", "EUR", "AUD", "CAD", "JPY", "GBP", "CHF",
                                                          "NOK", "NZD", "MXN", "CNY", "SEK", "DKK"};

// The group of a measure: how it is read.
int readKind(const KVRSeriesRecords::FieldOp& op) {
  if (op.encoding & (KVRSeriesRecords::kSum | KVRSeriesRecords::kScaled)) return 3;
  return op.encoding & KVRSeriesRecords::kEncodingMask;  // float 0, 16-bit 1, 8-bit 2
}

}  // namespace

void KVRSeriesRecords::arrangeOps(std::vector<FieldOp>& ops) {
  auto rank = [this](const FieldOp& op) {
    if (op.field == KVRRecordField::income) return 1000;
    if (isSlotField(op.field)) {
      const bool inFirst = firstSet_.contains(kSlotCode[op.field - KVRRecordField::firstSlot]);
      return 2000 + (inFirst ? 0 : 100) + op.field;
    }
    return readKind(op) * 100 + op.field;
  };
  std::sort(ops.begin(), ops.end(), [&](const FieldOp& a, const FieldOp& b) { return rank(a) < rank(b); });
  floats_ = int16s_ = int8s_ = others_ = hasIncome_ = firstSetSlots_ = 0;
  for (const FieldOp& op : ops) {
    const int r = rank(op);
    if (r == 1000) hasIncome_ = 1;
    else if (r >= 2000 && r < 2100) ++firstSetSlots_;
    else if (r < 1000) {
      switch (r / 100) {
        case 0: ++floats_; break;
        case 1: ++int16s_; break;
        case 2: ++int8s_; break;
        default: ++others_; break;
      }
    }
  }
  opCount_ = uint8_t(ops.size());
}

void KVRSeriesRecords::arrangeOpsInPlace() {
  if (opCount_ == 0) return;
  std::vector<FieldOp> table(ops(), ops() + opCount_);
  arrangeOps(table);
  std::memcpy(block_.data() + opsOffset(), table.data(), opsBytes());
}

void KVRSeriesRecords::noteSet(size_t i, const KVRCurrencySet& s) {
  if (i == 0) {
    firstSet_ = s;
    sets_.reset();
    return;
  }
  if (!sets_) {
    if (s == firstSet_) return;
    sets_ = std::make_unique<SetTable>();
    sets_->index.assign(i, 0);
  }
  uint8_t k = 0;
  if (!(s == firstSet_)) {
    auto it = std::find(sets_->others.begin(), sets_->others.end(), s);
    if (it == sets_->others.end()) {
      sets_->others.push_back(s);
      it = sets_->others.end() - 1;
    }
    k = uint8_t(it - sets_->others.begin() + 1);
  }
  sets_->index.resize(i);
  sets_->index.push_back(k);
}

void KVRSeriesRecords::relayout(const std::vector<KVRTotalsStruct>& records, uint64_t fields) {
  std::vector<FieldOp> ops;
  uint16_t offset = 0;
  for (int f = 0; f < KVRRecordField::count; ++f) {
    if (!(fields & (uint64_t(1) << f))) continue;
    ops.push_back(FieldOp{uint8_t(f), kFloat, offset, 0, 0, 0});
    offset = uint16_t(offset + sizeof(float));
  }
  arrangeOps(ops);
  stride_ = offset;
  scale_ = 1.0f;
  count_ = uint32_t(records.size());
  capacity_ = std::max<uint32_t>(count_, 4);
  block_.allocateZeroed(opsOffset() + opsBytes());
  std::memcpy(block_.data() + opsOffset(), ops.data(), opsBytes());
  for (size_t i = 0; i < records.size(); ++i) {
    uint8_t* r = block_.data() + i * stride_;
    const float* x = KVRRecordFloats(records[i]);
    for (const FieldOp& op : ops) std::memcpy(r + op.offset, &x[op.field], sizeof(float));
  }
}

void KVRSeriesRecords::push_back(const KVRTotalsStruct& record) {
  // The fields this record needs that no column holds yet.
  uint64_t stored = 0;
  bool plain = true;
  for (const FieldOp& op : allOps()) {
    stored |= uint64_t(1) << op.field;
    plain = plain && op.encoding == kFloat;
  }
  uint64_t needed = stored;
  const float* x = KVRRecordFloats(record);
  for (int f = 0; f < KVRRecordField::count; ++f)
    if (bitsOf(x[f]) != 0) needed |= uint64_t(1) << f;
  if (needed != stored || !plain) {
    std::vector<KVRTotalsStruct> all;
    all.reserve(count_ + 1u);
    for (size_t i = 0; i < count_; ++i) all.push_back((*this)[i]);
    relayout(all, needed);
  }
  if (count_ == capacity_) {
    // More room for rows: the field table moves to the new end.
    const std::vector<FieldOp> table(ops(), ops() + opCount_);
    capacity_ = std::max<uint32_t>(4, capacity_ * 2);
    block_.resize(opsOffset() + opsBytes());
    if (!table.empty()) std::memcpy(block_.data() + opsOffset(), table.data(), opsBytes());
  }
  uint8_t* r = block_.data() + size_t(stride_) * count_;
  for (const FieldOp& op : allOps()) std::memcpy(r + op.offset, &x[op.field], sizeof(float));
  noteSet(count_, record.currencies);
  ++count_;
  if (count_ == 1 || needed != stored || !plain) arrangeOpsInPlace();  // the first set is known now
}

KVRTotalsStruct KVRSeriesRecords::operator[](size_t i) const {
  KVRTotalsStruct r;
  float* x = KVRRecordFloats(r);
  const uint8_t* p = row(i);
  for (const FieldOp& op : allOps()) x[op.field] = read(p, op, scale_);
  r.currencies = set(i);
  return r;
}

size_t KVRSeriesRecords::byteSize() const {
  size_t n = block_.size();
  if (sets_) n += sizeof(SetTable) + sets_->others.capacity() * sizeof(KVRCurrencySet) + sets_->index.capacity();
  return n;
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

const KVRProductValues::Extent& KVRProductValues::extent() const {
  if (extent_.ready.load(std::memory_order_acquire)) return extent_.extent;
  std::call_once(extent_.once, [this] {
    Extent e;
    for (const KVRValueSeries& s : series) {
      if (s.days.empty()) continue;
      e.records += s.days.size();
      const KVRCivilDay a = s.days.front(), b = s.days.back();
      if (e.first > e.last) e.first = a, e.last = b;
      e.first = std::min(e.first, a);
      e.last = std::max(e.last, b);
    }
    e.recentDays.assign(series.size(), 0);
    e.recentFirst.assign(series.size(), 0);
    for (size_t i = 0; i < series.size(); ++i) {
      e.recentFirst[i] = uint32_t(series[i].days.lowerBound(e.last - 63));
      series[i].days.visit(e.last - 63, e.last,
                           [&](size_t, KVRCivilDay d) { e.recentDays[i] |= uint64_t(1) << (e.last - d); });
    }
    e.recentStart.assign(65, 0);
    for (const uint64_t days : e.recentDays)
      for (uint64_t b = days; b; b &= b - 1) ++e.recentStart[size_t(__builtin_ctzll(b)) + 1];
    for (size_t d = 0; d < 64; ++d) e.recentStart[d + 1] += e.recentStart[d];
    e.recentSeries.resize(e.recentStart[64]);
    std::vector<uint32_t> fill(e.recentStart.begin(), e.recentStart.end() - 1);
    for (size_t i = 0; i < e.recentDays.size(); ++i)
      for (uint64_t b = e.recentDays[i]; b; b &= b - 1) e.recentSeries[fill[size_t(__builtin_ctzll(b))]++] = uint32_t(i);
    extent_.extent = std::move(e);
    extent_.ready.store(true, std::memory_order_release);
  });
  return extent_.extent;
}

size_t KVRProductValues::byteSize() const {
  size_t n = series.capacity() * sizeof(KVRValueSeries);
  for (const KVRValueSeries& s : series) n += s.days.byteSize() + s.records.byteSize();
  return n;
}
