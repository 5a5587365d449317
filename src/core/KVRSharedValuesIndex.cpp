#include "core/KVRSharedValuesIndex.h"

#include <mutex>

// Writers copy the current view, change the copy and swap it in under the
// exclusive lock; readers take the current view under the shared lock and
// keep it as long as they like. A view is never changed once published.

bool KVRSharedValuesIndex::KeyLess::operator()(const QString& a, const QString& b) const {
  const int c = QString::compare(a, b, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : a < b;
}

void KVRSharedValuesIndex::publish(int64_t idStore, KVRProductValuesRef values) {
  std::unique_lock<std::shared_mutex> g(lock_);
  auto next = std::make_shared<View>(*view_);
  bool keysChanged = false;

  auto old = next->byProduct.find(idStore);
  if (old != next->byProduct.end()) {
    if (old->second)
      for (const KVRValueSeries& s : old->second->series) {
        auto k = keyUses_.find(s.valueKey);
        if (k != keyUses_.end() && --k->second <= 0) {
          keyUses_.erase(k);
          keysChanged = true;
        }
      }
    next->byProduct.erase(old);
  }
  if (values) {
    for (const KVRValueSeries& s : values->series) {
      auto [k, inserted] = keyUses_.try_emplace(s.valueKey, 0);
      ++k->second;
      keysChanged = keysChanged || inserted;
    }
    next->byProduct.emplace(idStore, std::move(values));
  }
  if (keysChanged) {
    next->valueKeys.clear();
    next->valueKeys.reserve(qsizetype(keyUses_.size()));
    for (const auto& [key, uses] : keyUses_) next->valueKeys.append(key);
  }
  view_ = std::move(next);
}

void KVRSharedValuesIndex::clear() {
  std::unique_lock<std::shared_mutex> g(lock_);
  keyUses_.clear();
  view_ = std::make_shared<View>();
}

KVRSharedValuesIndex::ViewRef KVRSharedValuesIndex::snapshot() const {
  std::shared_lock<std::shared_mutex> g(lock_);
  return view_;
}
