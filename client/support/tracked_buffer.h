// A growable buffer in one tracked block, for decoders that build text of unknown length.
//
// States: empty (no block yet), holding (a block of capacity() elements, the first size() in
// use and always followed by a zero element), released (release() handed the block to the
// caller; the buffer is empty again). Growth failures are reported, never thrown: append
// returns false and leaves the contents as they were. The capacity grows in whole multiples
// of `step` elements, by at least half the current capacity, so a long document costs a
// linear number of copies; `limit` caps the number of elements the buffer may ever hold.
#pragma once

#include <cstddef>
#include <cstring>

#include "common/tracked_memory.h"

template <typename T>
class TrackedBuffer {
 public:
  TrackedBuffer(size_t step, size_t limit) : step_(step), limit_(limit) {}
  ~TrackedBuffer() { MEM_FREE(data_); }
  TrackedBuffer(const TrackedBuffer&) = delete;
  TrackedBuffer& operator=(const TrackedBuffer&) = delete;

  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  const T* data() const { return data_; }
  T* data() { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

  // Makes room for `extra` more elements (and the terminator). False when the limit would
  // be passed or memory runs out.
  bool reserve(size_t extra) {
    if (extra > limit_ || size_ > limit_ - extra) return false;
    size_t needed = size_ + extra + 1;
    if (needed <= capacity_) return true;
    size_t grown = capacity_ + (capacity_ / 2 > step_ ? capacity_ / 2 : step_);
    if (grown < needed) grown = needed;
    grown = (grown + step_ - 1) / step_ * step_;
    void* block = MEM_REALLOC(data_, grown * sizeof(T));
    if (block == nullptr) return false;
    // mem_realloc zero-fills the new block, so the tail is already terminated.
    data_ = static_cast<T*>(block);
    capacity_ = grown;
    return true;
  }

  bool append(const T* items, size_t count) {
    if (!reserve(count)) return false;
    if (count > 0) std::memcpy(data_ + size_, items, count * sizeof(T));
    size_ += count;
    data_[size_] = T();
    return true;
  }
  bool push(T item) { return append(&item, 1); }

  // Drops the last element (no-op when empty).
  void pop() {
    if (size_ == 0) return;
    data_[--size_] = T();
  }
  // Drops everything after the first `count` elements.
  void truncate(size_t count) {
    if (count >= size_) return;
    size_ = count;
    data_[size_] = T();
  }
  void clear() {
    size_ = 0;
    if (data_ != nullptr) data_[0] = T();
  }

  // Hands the terminated block to the caller (mem_free); an empty buffer first allocates a
  // block holding just the terminator. NULL when that allocation fails.
  T* release() {
    if (data_ == nullptr && !reserve(0)) return nullptr;
    T* out = data_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return out;
  }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t step_;
  size_t limit_;
};
