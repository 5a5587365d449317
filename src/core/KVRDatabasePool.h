#pragma once
// Block storage for the context's objects. Loading millions of report lines one
// `new` at a time costs both time and heap overhead; a pool hands out objects
// from contiguous blocks instead. Objects live until the pool is destroyed
// (the store is closed): deleting an object from the context only unlinks it,
// so a pointer another thread still holds never dangles before the close.
#include <cstddef>
#include <memory>
#include <vector>

template <typename T>
class KVRDatabasePool {
 public:
  explicit KVRDatabasePool(size_t blockSize) : blockSize_(blockSize ? blockSize : 1) {}
  KVRDatabasePool(const KVRDatabasePool&) = delete;
  KVRDatabasePool& operator=(const KVRDatabasePool&) = delete;

  T* create() {
    if (blocks_.empty() || used_ == blockSize_) {
      blocks_.push_back(std::make_unique<T[]>(blockSize_));
      used_ = 0;
    }
    return &blocks_.back()[used_++];
  }
  size_t count() const { return blocks_.empty() ? 0 : (blocks_.size() - 1) * blockSize_ + used_; }
  void clear() {
    blocks_.clear();
    used_ = 0;
  }

 private:
  size_t blockSize_;
  size_t used_ = 0;
  std::vector<std::unique_ptr<T[]>> blocks_;
};
