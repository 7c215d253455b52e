// Fixed-length texts held inline: a station name of 16 characters, a flag
// field of 5, a plate name of 4. A FixedText<N> is exactly N characters,
// blank-padded, with no heap storage, so arrays of them are flat and cheap
// to fill, compare and hash.
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace rt {

template <std::size_t N>
class FixedText {
 public:
  static_assert(N > 0, "a fixed text holds at least one character");
  static constexpr std::size_t kLength = N;

  // All blanks.
  FixedText() { std::memset(c_, ' ', N); }
  // Cut or blank-filled to N characters, as rt::fit does.
  explicit FixedText(std::string_view s) { assign(s); }

  void assign(std::string_view s) {
    const std::size_t n = std::min(s.size(), N);
    if (n > 0) std::memcpy(c_, s.data(), n);
    std::memset(c_ + n, ' ', N - n);
  }

  std::string_view view() const { return {c_, N}; }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(c_, N); }
  const char* data() const { return c_; }
  static constexpr std::size_t size() { return N; }
  char operator[](std::size_t i) const { return c_[i]; }

  // Byte by byte by character code (unsigned), as std::string compares.
  friend bool operator==(const FixedText& a, const FixedText& b) {
    return std::memcmp(a.c_, b.c_, N) == 0;
  }
  friend std::strong_ordering operator<=>(const FixedText& a, const FixedText& b) {
    return std::memcmp(a.c_, b.c_, N) <=> 0;
  }

  friend std::ostream& operator<<(std::ostream& out, const FixedText& t) {
    return out.write(t.c_, static_cast<std::streamsize>(N));
  }

 private:
  char c_[N];
};

// Hash of a text (a multiplicative mix of its 8-byte words); the same for
// equal texts of any type.
inline std::uint64_t hashText(std::string_view s) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ULL;
  std::uint64_t h = s.size() * kMul;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  if (i < s.size()) {
    std::uint64_t w = 0;
    std::memcpy(&w, s.data() + i, s.size() - i);
    h = (h ^ w) * kMul;
  }
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ULL;
  h ^= h >> 32;
  return h;
}

}  // namespace rt

template <std::size_t N>
struct std::hash<rt::FixedText<N>> {
  std::size_t operator()(const rt::FixedText<N>& t) const {
    return static_cast<std::size_t>(rt::hashText(t.view()));
  }
};
