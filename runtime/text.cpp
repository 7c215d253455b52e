// Fixed-length, blank-padded texts held in std::string.
#include "runtime/text.h"

#include <utility>

namespace rt {

namespace {
bool isPad(char c) { return c == ' ' || c == '\0'; }
}  // namespace

std::string fit(std::string_view s, std::size_t n) {
  std::string out(s.substr(0, n));
  out.resize(n, ' ');
  return out;
}

std::size_t trimLen(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && isPad(s[n - 1])) --n;
  return n;
}

std::string trimRight(std::string_view s) { return std::string(s.substr(0, trimLen(s))); }

bool isBlank(std::string_view s) {
  for (const char c : s) {
    if (!isPad(c)) return false;
  }
  return true;
}

bool eqPadded(std::string_view a, std::string_view b) {
  if (a.size() < b.size()) std::swap(a, b);
  if (a.substr(0, b.size()) != b) return false;
  for (std::size_t i = b.size(); i < a.size(); ++i) {
    if (a[i] != ' ') return false;
  }
  return true;
}

std::string leftAdjust(std::string_view s) {
  std::size_t lead = 0;
  while (lead < s.size() && s[lead] == ' ') ++lead;
  if (lead == s.size()) return std::string(s);  // all blanks: unchanged
  std::string out(s.substr(lead));
  out.append(lead, ' ');
  return out;
}

std::string upperAZ(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace rt
