#pragma once
// The shared values index: for every product that has built its history, the
// same immutable snapshot the product caches, so that one lookup answers
// value key -> day -> product -> record for all products at once. Publishing a
// product's snapshot replaces its earlier one whole (no stale day survives a
// shorter rebuild); readers take a consistent view with snapshot().
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>

#include "core/KVRProductValues.h"

class KVRSharedValuesIndex {
 public:
  struct View {
    std::map<int64_t, KVRProductValuesRef> byProduct;  // idStore -> snapshot
    QStringList valueKeys;  // every key some product holds, sorted case-insensitively

    const KVRTotalsStruct* find(const QString& valueKey, KVRCivilDay day, int64_t idStore) const {
      auto it = byProduct.find(idStore);
      return it == byProduct.end() || !it->second ? nullptr : it->second->find(valueKey, day);
    }
  };
  using ViewRef = std::shared_ptr<const View>;

  void publish(int64_t idStore, KVRProductValuesRef values);  // null removes
  void clear();
  ViewRef snapshot() const;

 private:
  // Case-insensitive order, ties broken case-sensitively so that the order
  // is total and the same on every run.
  struct KeyLess {
    bool operator()(const QString& a, const QString& b) const;
  };

  mutable std::shared_mutex lock_;
  ViewRef view_ = std::make_shared<View>();
  std::map<QString, int, KeyLess> keyUses_;  // key -> number of products holding it
};
