// Free-form (list-directed) reading and writing.
#include "runtime/freeform.h"

#include <charconv>
#include <climits>
#include <algorithm>
#include <string>

#include "runtime/text.h"
#include "runtime/units.h"

namespace rt {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
// Characters that end an unquoted value.
bool endsValue(char c) { return isSpace(c) || c == ',' || c == '/'; }

// Integer: optional sign, then digits only.
bool parseInt(std::string_view t, int& out) {
  std::size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  if (i == t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (!isDigit(t[i])) return false;
    v = v * 10 + (t[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (neg) v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

// Real: optional sign, digits with an optional decimal point (at least one
// digit), then an optional exponent: E, D, e or d with an optional sign, or
// a bare sign, followed by digits.
bool parseReal(std::string_view t, double& out) {
  std::string norm;
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    if (t[i] == '-') norm.push_back('-');
    ++i;
  }
  std::size_t digits = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    if (isDigit(t[i])) {
      ++digits;
    } else if (t[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
    norm.push_back(t[i]);
  }
  if (digits == 0) return false;
  if (i < t.size()) {
    const char c = t[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
    } else if (c != '+' && c != '-') {
      return false;
    }
    norm.push_back('e');
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm.push_back(t[i++]);
    if (i == t.size()) return false;
    for (; i < t.size(); ++i) {
      if (!isDigit(t[i])) return false;
      norm.push_back(t[i]);
    }
  }
  double v = 0.0;
  const auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ec != std::errc() || res.ptr != norm.data() + norm.size()) return false;
  out = v;
  return true;
}

bool assign(const FreeTarget& target, const std::string& value, bool quoted) {
  switch (target.kind()) {
    case FreeTarget::Kind::Int:
      return !quoted && parseInt(value, *target.intPtr());
    case FreeTarget::Kind::Real:
      return !quoted && parseReal(value, *target.realPtr());
    case FreeTarget::Kind::Text:
      *target.textPtr() = target.len() > 0 ? fit(value, target.len()) : value;
      return true;
  }
  return false;
}

}  // namespace

FreeRead readFree(std::string_view line, const std::vector<FreeTarget>& targets) {
  FreeRead result;
  const std::size_t n = targets.size();
  result.set.assign(n, false);
  const std::size_t end = line.size();
  std::size_t pos = 0;
  std::size_t ti = 0;

  auto skipSpaces = [&] {
    while (pos < end && isSpace(line[pos])) ++pos;
  };
  // After a value: blanks and at most one comma belong to the separator.
  auto skipSeparator = [&] {
    skipSpaces();
    if (pos < end && line[pos] == ',') ++pos;
  };

  while (ti < n) {
    skipSpaces();
    if (pos == end) {
      result.iostat = kIoEnd;
      return result;
    }
    if (line[pos] == '/') return result;
    if (line[pos] == ',') {  // an empty value
      ++pos;
      ++ti;
      continue;
    }

    // A repeat count: digits directly followed by an asterisk.
    std::size_t repeat = 1;
    std::size_t q = pos;
    while (q < end && isDigit(line[q])) ++q;
    if (q > pos && q < end && line[q] == '*') {
      repeat = 0;
      for (std::size_t k = pos; k < q; ++k) {
        repeat = repeat * 10 + static_cast<std::size_t>(line[k] - '0');
        if (repeat > n) repeat = n + 1;  // more than enough for every target
      }
      if (repeat == 0) {
        result.iostat = kIoConversion;
        return result;
      }
      pos = q + 1;
      if (pos == end || endsValue(line[pos])) {  // "r*" alone: r empty values
        ti = std::min(n, ti + repeat);
        skipSeparator();
        continue;
      }
    }

    std::string value;
    bool quoted = false;
    const char c = line[pos];
    if (c == '\'' || c == '"') {
      quoted = true;
      ++pos;
      bool closed = false;
      while (pos < end) {
        if (line[pos] == c) {
          if (pos + 1 < end && line[pos + 1] == c) {
            value.push_back(c);
            pos += 2;
            continue;
          }
          ++pos;
          closed = true;
          break;
        }
        value.push_back(line[pos++]);
      }
      if (!closed) {  // the line ends inside the text
        result.iostat = kIoEnd;
        return result;
      }
      if (pos < end && !endsValue(line[pos])) {
        result.iostat = kIoConversion;
        return result;
      }
    } else {
      const std::size_t start = pos;
      while (pos < end && !endsValue(line[pos])) ++pos;
      value.assign(line.substr(start, pos - start));
    }

    for (std::size_t k = 0; k < repeat && ti < n; ++k, ++ti) {
      if (!assign(targets[ti], value, quoted)) {
        result.iostat = kIoConversion;
        return result;
      }
      result.set[ti] = true;
    }
    skipSeparator();
  }
  return result;
}

namespace {

std::string itemText(const FItem& item) {
  switch (item.kind()) {
    case FItem::Kind::Int: {
      std::string digits = std::to_string(item.intValue());
      if (digits.size() < 12) digits.insert(0, 12 - digits.size(), ' ');
      return digits;
    }
    case FItem::Kind::Real: {
      // Shortest text that reads back as the same value, in 24 columns.
      char buf[64];
      const auto res = std::to_chars(buf, buf + sizeof buf, item.realValue());
      std::string text(buf, res.ptr);
      if (text.size() < 24) text.insert(0, 24 - text.size(), ' ');
      return text;
    }
    case FItem::Kind::Text:
      return std::string(item.text());
  }
  return {};
}

constexpr std::size_t kLastColumn = 79;

}  // namespace

std::vector<std::string> freeRecords(const FItems& items) {
  std::vector<std::string> records;
  std::string current = " ";
  bool hasValue = false;
  bool prevText = false;
  for (const FItem& item : items) {
    const bool isText = item.kind() == FItem::Kind::Text;
    const std::string text = itemText(item);
    std::size_t sep = (hasValue && !(prevText && isText)) ? 1 : 0;
    if (hasValue && current.size() + sep + text.size() > kLastColumn) {
      records.push_back(current);
      current.assign(1, ' ');
      sep = 0;
    }
    current.append(sep, ' ');
    current += text;
    hasValue = true;
    prevText = isText;
  }
  records.push_back(current);
  return records;
}

void writeFree(int unit, const FItems& items) {
  for (const std::string& record : freeRecords(items)) writeRecord(unit, record);
}

std::string freeText(const FItems& items) { return freeRecords(items).front(); }

}  // namespace rt
