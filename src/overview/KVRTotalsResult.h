#pragma once
// The totals engine's result: per product (by store id) the totals per country,
// the overall totals and, on request, the totals per day of the walked span.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/KVRTotalsStruct.h"
#include "platform/KVRDate.h"

// Country code -> record, kept in ascending code order (QString's order, the
// order of a std::map<QString, ...>). A product has a record for every country
// of the summed keys, so a result holds thousands of them, most of them zero
// on a short span. The engine therefore lays a product's records over a shared
// array of zero records (one per run), holding its own copies only of the
// records it sums into; anything else keeps one contiguous array of its own.
// Reading never copies. Changing the records through anything but entry(i)
// (a mutable iteration, operator[], at, find, append) first makes the whole
// array the container's own. Iteration visits the countries in ascending
// order; sums over a product's countries depend on that order.
class KVRCountryTotals {
 public:
  using value_type = std::pair<QString, KVRTotalsStruct>;
  using iterator = std::vector<value_type>::iterator;

  // Reads the records in order, the shared zero records among them.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = KVRCountryTotals::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;

    const_iterator() = default;
    reference operator*() const { return owner_->entry(pos_); }
    pointer operator->() const { return &owner_->entry(pos_); }
    const_iterator& operator++() {
      ++pos_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++pos_;
      return before;
    }
    bool operator==(const const_iterator& o) const { return pos_ == o.pos_; }

   private:
    friend class KVRCountryTotals;
    const_iterator(const KVRCountryTotals* owner, size_t pos) : owner_(owner), pos_(pos) {}
    const KVRCountryTotals* owner_ = nullptr;
    size_t pos_ = 0;
  };

  size_t size() const { return zeros_ ? zeros_->size() : entries_.size(); }
  bool empty() const { return size() == 0; }
  void reserve(size_t n) {
    ownAll();
    entries_.reserve(n);
  }
  void clear() {
    entries_.clear();
    dropZeros();
  }

  iterator begin() {
    ownAll();
    return entries_.begin();
  }
  iterator end() {
    ownAll();
    return entries_.end();
  }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  iterator find(const QString& country) {
    ownAll();
    const auto it = lowerBound(country);
    return it != entries_.end() && it->first == country ? it : entries_.end();
  }
  const_iterator find(const QString& country) const {
    const size_t pos = position(country);
    return pos < size() && entry(pos).first == country ? const_iterator(this, pos) : end();
  }
  size_t count(const QString& country) const { return find(country) != end() ? 1 : 0; }
  bool contains(const QString& country) const { return find(country) != end(); }

  // The record of a country; throws std::out_of_range when there is none.
  KVRTotalsStruct& at(const QString& country) {
    const auto it = find(country);
    if (it == entries_.end()) throw std::out_of_range("KVRCountryTotals::at: no such country");
    return it->second;
  }
  const KVRTotalsStruct& at(const QString& country) const {
    const auto it = find(country);
    if (it == end()) throw std::out_of_range("KVRCountryTotals::at: no such country");
    return it->second;
  }
  // The record of a country, a zero record inserted in its place when missing.
  KVRTotalsStruct& operator[](const QString& country) {
    ownAll();
    auto it = lowerBound(country);
    if (it == entries_.end() || it->first != country) it = entries_.emplace(it, country, KVRTotalsStruct());
    return it->second;
  }

  // Makes the records those of `zeros` (the same countries, its records),
  // laid over that array rather than copied from it; the records entry(i)
  // hands out for changes become the container's own.
  void assignFrom(std::shared_ptr<const KVRCountryTotals> zeros) {
    entries_.clear();
    own_.clear();
    if (!zeros || zeros->zeros_) {  // only an array of its own can be shared
      zeros_.reset();
      slot_.clear();
      if (zeros)
        for (size_t i = 0; i < zeros->size(); ++i) entries_.push_back(zeros->entry(i));
      return;
    }
    zeros_ = std::move(zeros);
    slot_.assign(zeros_->size(), -1);
  }
  // Room for that many records of its own over the shared array, so that
  // records handed out earlier stay where they are.
  void reserveChanged(size_t n) {
    if (zeros_) own_.reserve(std::min(n, zeros_->size()));
  }
  // Adds a record for a country that sorts after every country present (the
  // way a builder that visits countries in order fills the array); false, and
  // nothing added, when it does not.
  bool append(const QString& country, const KVRTotalsStruct& record) {
    ownAll();
    if (!entries_.empty() && !(entries_.back().first < country)) return false;
    entries_.emplace_back(country, record);
    return true;
  }
  // The i-th entry in country order; the mutable one is the container's own.
  value_type& entry(size_t i) {
    if (!zeros_) return entries_[i];
    int32_t& slot = slot_[i];
    if (slot < 0) {
      slot = int32_t(own_.size());
      own_.push_back(zeros_->entries_[i]);
    }
    return own_[size_t(slot)];
  }
  const value_type& entry(size_t i) const {
    if (!zeros_) return entries_[i];
    const int32_t slot = slot_[i];
    return slot < 0 ? zeros_->entries_[i] : own_[size_t(slot)];
  }

  bool operator==(const KVRCountryTotals& o) const {
    if (size() != o.size()) return false;
    for (size_t i = 0; i < size(); ++i)
      if (!(entry(i) == o.entry(i))) return false;
    return true;
  }

 private:
  // The position where a country is or would go.
  size_t position(const QString& country) const {
    const std::vector<value_type>& keys = zeros_ ? zeros_->entries_ : entries_;
    if (keys.empty() || keys.back().first < country) return keys.size();
    return size_t(std::lower_bound(keys.begin(), keys.end(), country,
                                   [](const value_type& e, const QString& c) { return e.first < c; }) -
                  keys.begin());
  }
  iterator lowerBound(const QString& country) { return entries_.begin() + std::ptrdiff_t(position(country)); }
  // The whole array made the container's own.
  void ownAll() {
    if (!zeros_) return;
    std::vector<value_type> all;
    all.reserve(zeros_->size());
    for (size_t i = 0; i < zeros_->size(); ++i) all.push_back(entry(i));
    entries_ = std::move(all);
    dropZeros();
  }
  void dropZeros() {
    zeros_.reset();
    own_.clear();
    slot_.clear();
  }

  std::vector<value_type> entries_;  // the records, when the array is the container's own
  // Else: the shared zero records, the records changed, and for each country
  // the position of its changed record (-1: the zero record).
  std::shared_ptr<const KVRCountryTotals> zeros_;
  std::vector<value_type> own_;
  std::vector<int32_t> slot_;
};

struct KVRProductTotals {
  KVRCountryTotals byCountry;  // country code -> sums over the span
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
