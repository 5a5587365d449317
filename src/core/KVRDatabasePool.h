#pragma once
// Block storage for the context's objects. Loading millions of report lines one
// `new` at a time costs both time and heap overhead; a pool hands out objects
// from contiguous blocks instead. Objects live until the pool is destroyed
// (the store is closed): deleting an object from the context only unlinks it,
// so a pointer another thread still holds never dangles before the close.
// An object is constructed when it is handed out, so the unused end of the
// last block is never touched (and takes no memory).
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

template <typename T>
class KVRDatabasePool {
 public:
  explicit KVRDatabasePool(size_t blockSize) : blockSize_(blockSize ? blockSize : 1) {}
  KVRDatabasePool(const KVRDatabasePool&) = delete;
  KVRDatabasePool& operator=(const KVRDatabasePool&) = delete;
  ~KVRDatabasePool() { clear(); }

  T* create() {
    if (blocks_.empty() || used_ == blockSize_) {
      blocks_.push_back(static_cast<T*>(::operator new(sizeof(T) * blockSize_, std::align_val_t(alignof(T)))));
      used_ = 0;
    }
    T* slot = blocks_.back() + used_;
    new (slot) T();
    ++used_;
    return slot;
  }
  // Every object made, in the order it was made.
  template <typename F>
  void forEach(F&& f) {
    for (size_t b = 0; b < blocks_.size(); ++b) {
      const size_t n = b + 1 == blocks_.size() ? used_ : blockSize_;
      for (size_t i = 0; i < n; ++i) f(blocks_[b] + i);
    }
  }
  size_t count() const { return blocks_.empty() ? 0 : (blocks_.size() - 1) * blockSize_ + used_; }
  void clear() {
    forEach([](T* o) { o->~T(); });
    for (T* b : blocks_) ::operator delete(b, std::align_val_t(alignof(T)));
    blocks_.clear();
    used_ = 0;
  }

 private:
  size_t blockSize_;
  size_t used_ = 0;
  std::vector<T*> blocks_;
};
