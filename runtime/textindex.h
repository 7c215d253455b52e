// Index of an array of fixed-length texts by their value: where a text
// first occurs, and the first text that occurs more than once. The index
// holds one 32-bit entry per slot (twice as many slots as texts, open
// addressing), not the texts themselves, so it costs 8 bytes per text and
// no allocation per text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "runtime/fixedtext.h"

namespace rt {

template <std::size_t N>
class FirstIndex {
 public:
  FirstIndex() = default;

  // Indexes keys[0 .. size-1]; the array must outlive the index and stay
  // unchanged while it is used.
  explicit FirstIndex(std::span<const FixedText<N>> keys) : keys_(keys) {
    if (keys.size() >= UINT32_MAX / 2) throw std::length_error("too many texts for one index");
    std::size_t capacity = 16;
    while (capacity < 2 * keys.size()) capacity *= 2;
    slots_.assign(capacity, 0);
    mask_ = capacity - 1;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i + kAhead < keys.size()) prefetch(keys[i + kAhead]);
      std::uint32_t& e = slots_[slotFor(keys[i])];
      if (e == 0) {
        e = static_cast<std::uint32_t>(i + 1);
      } else {
        // The earliest text with a later repetition is a first occurrence.
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(e - 1);
        if (repeated_ < 0 || first < repeated_) repeated_ = first;
      }
    }
  }

  // Position of the first text equal to `key`, -1 when there is none.
  std::ptrdiff_t find(const FixedText<N>& key) const {
    if (slots_.empty()) return -1;
    return static_cast<std::ptrdiff_t>(slots_[slotFor(key)]) - 1;
  }

  // find() for every key of an array, in order: visit(i, find(keys[i])).
  // The slots of the keys a few places ahead are fetched meanwhile, so that
  // the lookups of a large array do not wait for memory one by one.
  template <typename Visit>
  void findEach(std::span<const FixedText<N>> keys, Visit&& visit) const {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i + kAhead < keys.size()) prefetch(keys[i + kAhead]);
      visit(i, find(keys[i]));
    }
  }

  // The smallest position i whose text occurs again at a later position,
  // -1 when all texts differ.
  std::ptrdiff_t firstRepeated() const { return repeated_; }

 private:
  static constexpr std::size_t kAhead = 8;

  std::size_t slotOf(const FixedText<N>& key) const {
    return static_cast<std::size_t>(hashText(key.view())) & mask_;
  }
  // The slot that holds `key`, or the empty slot where it would go.
  std::size_t slotFor(const FixedText<N>& key) const {
    std::size_t s = slotOf(key);
    while (slots_[s] != 0 && keys_[slots_[s] - 1] != key) s = (s + 1) & mask_;
    return s;
  }
  void prefetch(const FixedText<N>& key) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[slotOf(key)]);
  }

  std::span<const FixedText<N>> keys_;
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
  std::ptrdiff_t repeated_ = -1;
};

}  // namespace rt
