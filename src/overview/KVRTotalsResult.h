#pragma once
// The totals engine's result: per product (by store id) the totals per country,
// the overall totals and, on request, the totals per day of the walked span.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/KVRTotalsStruct.h"
#include "platform/KVRDate.h"

// Country code -> record, kept in ascending code order (QString's order, the
// order of a std::map<QString, ...>) in one contiguous array: a product has a
// record for every country of the summed keys, so a result holds thousands of
// them, and one allocation per product keeps building and releasing it cheap.
// Iteration visits the countries in ascending order; sums over a product's
// countries depend on that order.
class KVRCountryTotals {
 public:
  using value_type = std::pair<QString, KVRTotalsStruct>;
  using iterator = std::vector<value_type>::iterator;
  using const_iterator = std::vector<value_type>::const_iterator;

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void reserve(size_t n) { entries_.reserve(n); }
  void clear() { entries_.clear(); }

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  iterator find(const QString& country) {
    const auto it = lowerBound(country);
    return it != entries_.end() && it->first == country ? it : entries_.end();
  }
  const_iterator find(const QString& country) const {
    return const_cast<KVRCountryTotals*>(this)->find(country);
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
    return const_cast<KVRCountryTotals*>(this)->at(country);
  }
  // The record of a country, a zero record inserted in its place when missing.
  KVRTotalsStruct& operator[](const QString& country) {
    auto it = lowerBound(country);
    if (it == entries_.end() || it->first != country) it = entries_.emplace(it, country, KVRTotalsStruct());
    return it->second;
  }

  // Makes the records those of `prototype` (the same countries, its records):
  // a whole array written at once.
  void assignFrom(const KVRCountryTotals& prototype) {
    entries_.clear();
    entries_.reserve(prototype.size());
    for (const value_type& e : prototype.entries_) entries_.emplace_back(e.first, e.second);
  }
  // Adds a record for a country that sorts after every country present (the
  // way a builder that visits countries in order fills the array); false, and
  // nothing added, when it does not.
  bool append(const QString& country, const KVRTotalsStruct& record) {
    if (!entries_.empty() && !(entries_.back().first < country)) return false;
    entries_.emplace_back(country, record);
    return true;
  }
  // The i-th entry in country order.
  value_type& entry(size_t i) { return entries_[i]; }
  const value_type& entry(size_t i) const { return entries_[i]; }

  bool operator==(const KVRCountryTotals& o) const { return entries_ == o.entries_; }

 private:
  iterator lowerBound(const QString& country) {
    // Adding countries in order is the common case: answer it without a search.
    if (entries_.empty() || entries_.back().first < country) return entries_.end();
    return std::lower_bound(entries_.begin(), entries_.end(), country,
                            [](const value_type& e, const QString& c) { return e.first < c; });
  }

  std::vector<value_type> entries_;
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
