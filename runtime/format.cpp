// Format-list writer and fixed-field reader.
//
// A format text goes through three stages: the tokeniser cuts it into
// counts, descriptors, literals, parentheses and slashes; the parser turns
// the tokens into a flat list of steps in which each parenthesised group is
// an Open/Close pair that knows its repeat count; the writer and the reader
// walk that list. Parsed lists are cached by their text, so a layout used for
// every record of a file is parsed once.
#include "runtime/format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "runtime/text.h"
#include "runtime/units.h"

namespace rt {
namespace {

// ---------------------------------------------------------------------------
// Parsed form

enum class Op : unsigned char {
  Int,      // I w / I w.m        (w, d = m or -1)
  Fixed,    // F w.d
  Exp,      // E w.d / D w.d      (letter 'E' or 'D')
  Text,     // A / A w            (w = -1 without width)
  Skip,     // n X                (w = n)
  Literal,  // quoted text        (text)
  Slash,    // n /                (w = n)
  Open,     // n (                (w = n, jump = index of the Close)
  Close,    // )                  (jump = index of the Open)
};

struct Step {
  Op op;
  char letter = 0;  // the descriptor letter of a data step (I F E D A)
  int w = 0;
  int d = -1;
  std::size_t jump = 0;
  std::string text;
};

Step makeStep(Op op, int w = 0, std::size_t jump = 0) {
  Step s{};
  s.op = op;
  s.w = w;
  s.jump = jump;
  return s;
}

constexpr int kMaxDepth = 32;

struct Format {
  std::string source;
  std::vector<Step> steps;
  std::size_t restart = 0;       // where the list starts again when items remain
  bool restartHasData = false;   // whether the part from `restart` on holds a data descriptor
};

[[noreturn]] void badFormat(std::string_view fmt, const std::string& why) {
  throw std::invalid_argument("invalid format \"" + std::string(fmt) + "\": " + why);
}

// ---------------------------------------------------------------------------
// Tokeniser

struct Token {
  enum Kind { Count, Desc, Literal, LParen, RParen, Slash, Comma } kind;
  char letter = 0;  // Desc: I F E D A X (upper case)
  int w = -1;       // Desc: width; Count: the count
  int d = -1;       // Desc: decimals / minimum digits
  std::string text; // Literal
};

class Tokeniser {
 public:
  explicit Tokeniser(std::string_view s) : s_(s) {}

  std::vector<Token> all() {
    std::vector<Token> out;
    for (;;) {
      skipBlanks();
      if (i_ >= s_.size()) return out;
      out.push_back(next());
    }
  }

 private:
  void skipBlanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  bool digitHere() {
    skipBlanks();
    return i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9';
  }
  int number() {
    long v = 0;
    while (digitHere()) {
      v = v * 10 + (s_[i_++] - '0');
      if (v > 1000000) badFormat(s_, "number too large");
    }
    return static_cast<int>(v);
  }

  Token next() {
    Token t{};
    const char c = s_[i_];
    if (c >= '0' && c <= '9') {
      t.kind = Token::Count;
      t.w = number();
      return t;
    }
    ++i_;
    switch (c) {
      case '(': t.kind = Token::LParen; return t;
      case ')': t.kind = Token::RParen; return t;
      case '/': t.kind = Token::Slash; return t;
      case ',': t.kind = Token::Comma; return t;
      case '\'':
      case '"': {
        t.kind = Token::Literal;
        for (;;) {
          if (i_ >= s_.size()) badFormat(s_, "unterminated literal");
          const char q = s_[i_++];
          if (q == c) {
            if (i_ < s_.size() && s_[i_] == c) {
              t.text += c;
              ++i_;
              continue;
            }
            return t;
          }
          t.text += q;
        }
      }
      default: break;
    }
    const char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    t.kind = Token::Desc;
    t.letter = u;
    switch (u) {
      case 'X': return t;
      case 'I':
      case 'F':
      case 'E':
      case 'D':
      case 'A':
        if (digitHere()) t.w = number();
        skipBlanks();
        if (i_ < s_.size() && s_[i_] == '.') {
          ++i_;
          if (!digitHere()) badFormat(s_, "digits expected after '.'");
          t.d = number();
        }
        return t;
      default: badFormat(s_, std::string("unknown descriptor '") + c + "'");
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// ---------------------------------------------------------------------------
// Parser

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), toks_(Tokeniser(text).all()) {}

  Format parse() {
    Format f;
    f.source = std::string(text_);
    std::size_t begin = 0, end = toks_.size();
    // The usual form is one pair of parentheses around the whole list.
    if (end >= 2 && toks_[0].kind == Token::LParen && matchingParen(0) == end - 1) {
      begin = 1;
      end -= 1;
    }
    std::size_t k = begin;
    bool lastTopGroup = false;
    std::size_t restart = 0;
    parseList(f, k, end, 0, restart, lastTopGroup);
    if (k != end) badFormat(text_, "unbalanced ')'");
    f.restart = lastTopGroup ? restart : 0;
    for (std::size_t i = f.restart; i < f.steps.size(); ++i) {
      const Op op = f.steps[i].op;
      if (op == Op::Int || op == Op::Fixed || op == Op::Exp || op == Op::Text) f.restartHasData = true;
    }
    return f;
  }

 private:
  std::size_t matchingParen(std::size_t open) const {
    int depth = 0;
    for (std::size_t i = open; i < toks_.size(); ++i) {
      if (toks_[i].kind == Token::LParen) ++depth;
      if (toks_[i].kind == Token::RParen && --depth == 0) return i;
    }
    return toks_.size();
  }

  void parseList(Format& f, std::size_t& k, std::size_t end, int depth, std::size_t& restart,
                 bool& lastTopGroup) {
    while (k < end) {
      const Token& first = toks_[k];
      if (first.kind == Token::Comma) {
        ++k;
        continue;
      }
      if (first.kind == Token::RParen) {
        if (depth == 0) badFormat(text_, "unbalanced ')'");
        return;
      }
      int count = 1;
      bool hasCount = false;
      if (first.kind == Token::Count) {
        count = first.w;
        hasCount = true;
        if (count < 1) badFormat(text_, "count must be positive");
        if (++k >= end) badFormat(text_, "count without descriptor");
      }
      const Token& t = toks_[k++];
      switch (t.kind) {
        case Token::LParen: {
          if (depth + 1 >= kMaxDepth) badFormat(text_, "groups nested too deeply");
          const std::size_t open = f.steps.size();
          f.steps.push_back(makeStep(Op::Open, count));
          if (depth == 0) {
            restart = open;
            lastTopGroup = true;
          }
          parseList(f, k, end, depth + 1, restart, lastTopGroup);
          if (k >= end || toks_[k].kind != Token::RParen) badFormat(text_, "missing ')'");
          ++k;
          f.steps[open].jump = f.steps.size();
          f.steps.push_back(makeStep(Op::Close, 0, open));
          break;
        }
        case Token::Slash: f.steps.push_back(makeStep(Op::Slash, count)); break;
        case Token::Literal:
          if (hasCount) badFormat(text_, "count before a literal");
          f.steps.push_back(makeStep(Op::Literal));
          f.steps.back().text = t.text;
          break;
        case Token::Desc: addDescriptor(f, t, count); break;
        default: badFormat(text_, "descriptor expected");
      }
    }
  }

  void addDescriptor(Format& f, const Token& t, int count) {
    if (t.letter == 'X') {
      f.steps.push_back(makeStep(Op::Skip, count));
      return;
    }
    Step s = makeStep(Op::Text, t.w);
    s.letter = t.letter;
    s.d = t.d;
    if (t.w == 0) badFormat(text_, "width must be positive");
    switch (t.letter) {
      case 'I':
        if (t.w < 0) badFormat(text_, "I needs a width");
        s.op = Op::Int;
        break;
      case 'F':
      case 'E':
      case 'D':
        if (t.w < 0 || t.d < 0) badFormat(text_, std::string(1, t.letter) + " needs a width and decimals");
        s.op = t.letter == 'F' ? Op::Fixed : Op::Exp;
        break;
      default:
        if (t.d >= 0) badFormat(text_, "A takes no decimals");
        break;
    }
    if (count == 1) {
      f.steps.push_back(s);
      return;
    }
    // A repeated descriptor runs as a group of its own; it is no restart point.
    const std::size_t open = f.steps.size();
    f.steps.push_back(makeStep(Op::Open, count, open + 2));
    f.steps.push_back(s);
    f.steps.push_back(makeStep(Op::Close, 0, open));
  }

  std::string_view text_;
  std::vector<Token> toks_;
};

struct TransparentHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The parsed layouts, shared by the threads of the process: an entry, once
// made, stays where it is.
const Format& cachedFormat(std::string_view text) {
  static std::mutex guard;
  static std::unordered_map<std::string, Format, TransparentHash, std::equal_to<>> cache;
  const std::lock_guard<std::mutex> lock(guard);
  auto it = cache.find(text);
  if (it == cache.end()) it = cache.emplace(std::string(text), Parser(text).parse()).first;
  return it->second;
}

const Format& parsedFormat(std::string_view text) {
  // The layouts of a loop come back at every record, mostly from the same
  // literal: a few recent ones of the thread are found by where the text
  // lies, then compared, before the shared cache is searched.
  struct Recent {
    const char* data = nullptr;
    const Format* format = nullptr;
  };
  thread_local std::array<Recent, 16> recent{};
  Recent& r = recent[(reinterpret_cast<std::uintptr_t>(text.data()) / 8 + text.size()) % recent.size()];
  if (r.data == text.data() && r.format != nullptr && r.format->source == text) return *r.format;
  const Format& f = cachedFormat(text);
  r = {text.data(), &f};
  return f;
}

// Group repetition while walking the steps.
struct GroupStack {
  std::array<int, kMaxDepth> left{};
  int top = -1;
  void open(const Step& s) { left[++top] = s.w; }
  // The step index after a Close.
  std::size_t close(const Step& s, std::size_t pc) {
    if (--left[top] > 0) return s.jump + 1;
    --top;
    return pc + 1;
  }
};

const char* kindName(FItem::Kind k) {
  switch (k) {
    case FItem::Kind::Int: return "an integer";
    case FItem::Kind::Real: return "a real";
    default: return "a text";
  }
}

[[noreturn]] void wrongItem(const Format& f, const Step& s, std::size_t index, const char* kind) {
  throw std::logic_error("format \"" + f.source + "\": item " + std::to_string(index + 1) + " is " + kind +
                         ", which descriptor " + s.letter + " cannot take");
}

// ---------------------------------------------------------------------------
// Numbers on output

// A number that does not fit its field: w asterisks. Returns false, which
// the number writers below hand on as "did not fit".
bool stars(std::string& out, int w) {
  out.append(static_cast<std::size_t>(w), '*');
  return false;
}

void padLeft(std::string& out, int w, std::size_t len) {
  if (static_cast<std::size_t>(w) > len) out.append(static_cast<std::size_t>(w) - len, ' ');
}

// The number writers return whether the number fitted its field.
bool putInt(std::string& out, long long v, int w, int m) {
  if (m == 0 && v == 0) {
    out.append(static_cast<std::size_t>(w), ' ');
    return true;
  }
  unsigned long long mag = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  const int digits = m > n ? m : n;
  const int len = digits + (v < 0 ? 1 : 0);
  if (len > w) return stars(out, w);
  padLeft(out, w, static_cast<std::size_t>(len));
  if (v < 0) out += '-';
  out.append(static_cast<std::size_t>(digits - n), '0');
  while (n > 0) out += buf[--n];
  return true;
}

// The exact decimal value of a positive finite double: 0.D1D2...Dn x 10^point,
// without trailing zeros (n = 0 stands for zero).
struct Decimal {
  char digits[800];
  int n = 0;
  int point = 0;
};

void exactDecimal(double x, Decimal& dec) {
  int e2 = 0;
  const double f = std::frexp(x, &e2);  // x = f * 2^e2, 0.5 <= f < 1
  unsigned long long m = static_cast<unsigned long long>(std::ldexp(f, 53));
  int q = e2 - 53;
  while ((m & 1ULL) == 0) {
    m >>= 1;
    ++q;
  }
  // x = m * 2^q with m odd; with q < 0 the expansion has -q fraction digits.
  // Enough digits for the exact value: with q < 0 it is m * 5^-q / 10^-q,
  // at most 16 + 0.7 * -q + 1 significant digits; an integer has at most 309.
  const int precision = q < 0 ? 18 + static_cast<int>(-q * 0.69897) : static_cast<int>(e2 * 0.30103) + 1;
  char buf[840];
  std::snprintf(buf, sizeof buf, "%.*e", precision, x);  // glibc prints the exact expansion
  dec.n = 0;
  const char* p = buf;
  for (; *p != 'e' && *p != '\0'; ++p)
    if (*p != '.') dec.digits[dec.n++] = *p;
  dec.point = *p == 'e' ? std::atoi(p + 1) + 1 : 0;
  while (dec.n > 0 && dec.digits[dec.n - 1] == '0') --dec.n;
}

// Keeps `keep` leading digits, rounding half away from zero.
void roundDecimal(Decimal& dec, int keep) {
  if (keep >= dec.n) return;
  if (keep < 0) {
    dec.n = 0;
    return;
  }
  const bool up = dec.digits[keep] >= '5';
  dec.n = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && dec.digits[i] == '9') --i;
    if (i < 0) {
      dec.digits[0] = '1';
      dec.n = 1;
      ++dec.point;
    } else {
      ++dec.digits[i];
      dec.n = i + 1;
    }
  }
  while (dec.n > 0 && dec.digits[dec.n - 1] == '0') --dec.n;
}

// The common case of F w.d without printing the expansion: x = m * 2^q, and
// x * 10^d is rounded in 128-bit integer arithmetic, which is exact. Gives
// the same digits as exactDecimal and roundDecimal; false when the numbers
// would not fit.
bool fixedByIntegers(double x, int d, Decimal& dec) {
  if (d > 18) return false;
  // x = m * 2^q from the bits of a normal double (m with its hidden bit);
  // a subnormal one goes the exact way.
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased == 0) return false;
  const unsigned long long m = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
  const int q = biased - 1075;
  if (q > 10 || q < -120) return false;
  unsigned __int128 scale = 1;
  for (int i = 0; i < d; ++i) scale *= 10;
  unsigned __int128 r = static_cast<unsigned __int128>(m) * scale;  // below 2^113
  if (q >= 0) {
    r <<= q;
  } else {
    const int s = -q;
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (s - 1);
    const bool up = (r & ((half << 1) - 1)) >= half;  // half away from zero
    r >>= s;
    if (up) ++r;
  }
  // r holds the rounded value in units of 10^-d.
  char buf[48];
  int n = 0;
  while (r > std::numeric_limits<unsigned long long>::max()) {
    buf[n++] = static_cast<char>('0' + static_cast<int>(r % 10));
    r /= 10;
  }
  // The rest in 64-bit arithmetic, which is much cheaper than 128-bit division.
  for (unsigned long long r64 = static_cast<unsigned long long>(r); r64 != 0; r64 /= 10) {
    buf[n++] = static_cast<char>('0' + static_cast<int>(r64 % 10));
  }
  dec.n = 0;
  dec.point = n - d;
  while (n > 0) dec.digits[dec.n++] = buf[--n];
  while (dec.n > 0 && dec.digits[dec.n - 1] == '0') --dec.n;
  return true;
}

char digitAt(const Decimal& dec, int i) { return i >= 0 && i < dec.n ? dec.digits[i] : '0'; }

// Writes an infinity or NaN (true), setting `fitted`; false for a finite x.
bool putNonFinite(std::string& out, double x, int w, bool& fitted) {
  if (std::isfinite(x)) return false;
  const char* t;
  if (std::isnan(x))
    t = "NaN";
  else if (x > 0)
    t = w >= 8 ? "Infinity" : "Inf";
  else
    t = w >= 9 ? "-Infinity" : "-Inf";
  const std::size_t len = std::char_traits<char>::length(t);
  if (len > static_cast<std::size_t>(w)) {
    fitted = stars(out, w);
  } else {
    padLeft(out, w, len);
    out += t;
    fitted = true;
  }
  return true;
}

bool putFixed(std::string& out, double x, int w, int d) {
  bool fitted = true;
  if (putNonFinite(out, x, w, fitted)) return fitted;
  const bool neg = std::signbit(x);
  Decimal dec;
  if (x != 0.0 && !fixedByIntegers(std::fabs(x), d, dec)) {
    exactDecimal(std::fabs(x), dec);
    roundDecimal(dec, dec.point + d);
  }
  const bool zeroInt = dec.n == 0 || dec.point <= 0;
  int intLen = zeroInt ? 1 : dec.point;
  int len = (neg ? 1 : 0) + intLen + 1 + d;
  if (len > w && zeroInt && d > 0) {  // the zero before the point is optional
    intLen = 0;
    --len;
  }
  if (len > w) return stars(out, w);
  padLeft(out, w, static_cast<std::size_t>(len));
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(len));
  char* p = out.data() + at;
  if (neg) *p++ = '-';
  if (zeroInt) {
    if (intLen == 1) *p++ = '0';
  } else {
    for (int i = 0; i < dec.point; ++i) *p++ = digitAt(dec, i);
  }
  *p++ = '.';
  for (int j = 0; j < d; ++j) *p++ = digitAt(dec, dec.point + j);
  return true;
}

bool putExp(std::string& out, double x, int w, int d, char letter) {
  bool fitted = true;
  if (putNonFinite(out, x, w, fitted)) return fitted;
  const bool neg = std::signbit(x);
  Decimal dec;
  int exp = 0;
  if (x != 0.0) {
    exactDecimal(std::fabs(x), dec);
    roundDecimal(dec, d);
    exp = dec.point;
  }
  const int aexp = exp < 0 ? -exp : exp;
  if (aexp > 999) return stars(out, w);
  int len = (neg ? 1 : 0) + 2 + d + 4;
  bool zero = true;
  if (len > w) {  // the zero before the point is optional
    zero = false;
    --len;
  }
  if (len > w) return stars(out, w);
  padLeft(out, w, static_cast<std::size_t>(len));
  if (neg) out += '-';
  if (zero) out += '0';
  out += '.';
  for (int j = 0; j < d; ++j) out += digitAt(dec, j);
  if (aexp <= 99) out += letter;
  out += exp < 0 ? '-' : '+';
  if (aexp > 99) out += static_cast<char>('0' + aexp / 100);
  out += static_cast<char>('0' + aexp / 10 % 10);
  out += static_cast<char>('0' + aexp % 10);
  return true;
}

void putText(std::string& out, std::string_view s, int w) {
  if (w < 0) {
    out += s;
  } else if (s.size() >= static_cast<std::size_t>(w)) {
    out.append(s.substr(0, static_cast<std::size_t>(w)));
  } else {
    padLeft(out, w, s.size());
    out += s;
  }
}

// Writes one item into its field; false when it is a number that did not
// fit and was written as asterisks (a text always fits: it is cut).
bool putItem(std::string& out, const Format& f, const Step& s, const FItem& item, std::size_t index) {
  switch (s.op) {
    case Op::Int:
      if (item.kind() != FItem::Kind::Int) wrongItem(f, s, index, kindName(item.kind()));
      return putInt(out, item.intValue(), s.w, s.d);
    case Op::Fixed:
    case Op::Exp:
      if (item.kind() != FItem::Kind::Real) wrongItem(f, s, index, kindName(item.kind()));
      if (s.op == Op::Fixed) return putFixed(out, item.realValue(), s.w, s.d);
      return putExp(out, item.realValue(), s.w, s.d, s.letter);
    default:
      if (item.kind() != FItem::Kind::Text) wrongItem(f, s, index, kindName(item.kind()));
      putText(out, item.text(), s.w);
      return true;
  }
}

// ---------------------------------------------------------------------------
// Numbers on input

// A numeric field without its blanks, which are ignored wherever they
// stand; the scan then has no blanks to pass over.
class Compacted {
 public:
  explicit Compacted(std::string_view field) {
    char* out = small_;
    if (field.size() > sizeof small_) {
      large_.resize(field.size());
      out = large_.data();
    }
    // Without a branch per character: every character is stored, and the
    // end moves on only past one that is not a blank. (A local count: the
    // stores through `out` could otherwise change a member.)
    std::size_t n = 0;
    for (const char c : field) {
      out[n] = c;
      n += c != ' ' ? 1 : 0;
    }
    n_ = n;
    data_ = out;
  }
  Compacted(const Compacted&) = delete;
  Compacted& operator=(const Compacted&) = delete;
  std::string_view view() const { return {data_, n_}; }

 private:
  char small_[64];
  std::string large_;
  const char* data_ = nullptr;
  std::size_t n_ = 0;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Passes an optional sign at field[i]; true when it is '-'.
bool takeSign(std::string_view field, std::size_t& i) {
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) return field[i++] == '-';
  return false;
}

bool readInt(std::string_view raw, int& out) {
  const Compacted compacted(raw);
  const std::string_view field = compacted.view();
  const std::size_t n = field.size();
  if (n == 0) {
    out = 0;
    return true;
  }
  std::size_t i = 0;
  const bool neg = takeSign(field, i);
  if (i >= n || !isDigit(field[i])) return false;
  long long v = 0;
  for (; i < n && isDigit(field[i]); ++i) {
    v = v * 10 + (field[i] - '0');
    if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return false;
  }
  if (i < n) return false;
  if (neg) v = -v;
  if (v > std::numeric_limits<int>::max()) return false;
  out = static_cast<int>(v);
  return true;
}

// The value of the decimal digits `digits` (no leading zeros) times 10^exp,
// correctly rounded. Up to 15 digits and a power of ten up to 22 are exact
// doubles, so one multiplication or division gives the rounded value
// directly; other numbers go through strtod.
double decimalValue(const char* digits, std::size_t n, long exp) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (n <= 15 && exp >= -22 && exp <= 22) {
    long long m = 0;
    for (std::size_t i = 0; i < n; ++i) m = m * 10 + (digits[i] - '0');
    const double v = static_cast<double>(m);
    return exp < 0 ? v / kPow10[-exp] : v * kPow10[exp];
  }
  // digits, 'e', the exponent: no decimal point, so independent of the locale.
  std::string text(digits, n);
  text += 'e';
  text += std::to_string(exp);
  return std::strtod(text.c_str(), nullptr);
}

bool readReal(std::string_view raw, int decimals, double& out) {
  const Compacted compacted(raw);
  const std::string_view field = compacted.view();
  const std::size_t n = field.size();
  if (n == 0) {
    out = 0.0;
    return true;
  }
  std::size_t i = 0;
  const bool neg = takeSign(field, i);
  // The significant digits (leading zeros dropped); a field holds at most
  // as many digits as it has characters.
  char stackDigits[64];
  std::string longDigits;
  char* digits = stackDigits;
  if (n > sizeof stackDigits) {
    longDigits.resize(n);
    digits = longDigits.data();
  }
  std::size_t nDigits = 0;
  bool point = false;
  bool any = false;
  int fraction = 0;
  for (; i < n; ++i) {
    const char c = field[i];
    if (isDigit(c)) {
      any = true;
      if (point) ++fraction;
      if (c != '0' || nDigits > 0) digits[nDigits++] = c;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  long exp = 0;
  if (i < n) {
    const char c = field[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
      ++i;
    else if (c != '+' && c != '-')
      return false;
    const bool eneg = takeSign(field, i);
    if (i >= n || !isDigit(field[i])) return false;
    for (; i < n && isDigit(field[i]); ++i) {
      exp = exp * 10 + (field[i] - '0');
      if (exp > 100000) exp = 100000;
    }
    if (i < n) return false;
    if (eneg) exp = -exp;
  }
  double v = 0.0;
  if (nDigits > 0) {
    exp -= point ? fraction : decimals;
    v = decimalValue(digits, nDigits, exp);
    if (std::isinf(v)) return false;
  }
  out = neg ? -v : v;
  return true;
}

[[noreturn]] void wrongTarget(const Format& f, const Step& s, std::size_t index) {
  throw std::logic_error("format \"" + f.source + "\": target " + std::to_string(index + 1) +
                         " does not fit descriptor " + s.letter);
}


// Reads one field at `col` into the target; returns 0 or kIoConversion.
int readField(const Format& f, const Step& s, std::string_view rec, std::size_t& col, const FTarget& t,
              std::size_t index) {
  if (s.op == Op::Text) {
    if (t.kind() != FTarget::Kind::Text) wrongTarget(f, s, index);
    std::size_t w;
    if (s.w >= 0)
      w = static_cast<std::size_t>(s.w);
    else if (t.len() > 0)
      w = t.len();
    else
      w = col < rec.size() ? rec.size() - col : 0;
    const std::string_view field = rt::columns(rec, col, w);
    col += w;
    // The field, blank-filled to w, then cut or filled to the declared length.
    std::string& target = *t.textPtr();
    const std::size_t len = t.len() > 0 ? t.len() : w;
    target.assign(field.substr(0, std::min(field.size(), len)));
    target.resize(len, ' ');
    return 0;
  }
  const std::string_view field = rt::columns(rec, col, static_cast<std::size_t>(s.w));
  col += static_cast<std::size_t>(s.w);
  if (s.op == Op::Int) {
    if (t.kind() != FTarget::Kind::Int) wrongTarget(f, s, index);
    return readInt(field, *t.intPtr()) ? 0 : kIoConversion;
  }
  if (t.kind() != FTarget::Kind::Real) wrongTarget(f, s, index);
  return readReal(field, s.d, *t.realPtr()) ? 0 : kIoConversion;
}

// ---------------------------------------------------------------------------
// Walking a format, the same for writing and reading: the groups, "/" and the
// start again at the end of the list are run here; the engine (a record
// writer or reader) does the rest. It tells whether items are left (`left`),
// ends the transfer (`finish`), goes on with a new record (`newRecord`, false
// stops), and handles n X (`skip`), a literal (`literal`) and a data
// descriptor (`data`, false stops).

template <typename Engine>
void walkFormat(const Format& f, Engine& e) {
  std::size_t pc = 0;
  GroupStack groups;
  const std::size_t n = f.steps.size();
  for (;;) {
    if (pc == n) {
      if (!e.left()) return e.finish();
      if (!f.restartHasData)
        throw std::logic_error("format \"" + f.source + "\" has no descriptor for the remaining " + Engine::kItems);
      if (!e.newRecord()) return;
      pc = f.restart;
      continue;
    }
    const Step& s = f.steps[pc];
    switch (s.op) {
      case Op::Open:
        groups.open(s);
        ++pc;
        continue;
      case Op::Close: pc = groups.close(s, pc); continue;
      case Op::Skip: e.skip(static_cast<std::size_t>(s.w)); break;
      case Op::Literal: e.literal(s.text); break;
      case Op::Slash:
        for (int i = 0; i < s.w; ++i)
          if (!e.newRecord()) return;
        break;
      default:
        if (!e.left()) return e.finish();
        if (!e.data(s)) return;
        break;
    }
    ++pc;
  }
}

// Writer engine: hands each finished record to `emit`, which returns false to
// stop early. The record is built in a buffer that the writing calls of the
// thread share, so that a warmed-up writer allocates nothing; `emit` must not
// write through the format-list writer itself.
template <typename Emit>
struct RecordWriter {
  static constexpr const char* kItems = "items";
  const Format& f;
  std::span<const FItem> items;
  Emit& emit;
  std::string& rec;
  std::vector<std::size_t>* overflowed = nullptr;  // where asked: the items written as asterisks
  std::size_t item = 0;

  bool left() const { return item < items.size(); }
  void finish() { emit(std::as_const(rec)); }
  bool newRecord() {
    if (!emit(std::as_const(rec))) return false;
    rec.clear();
    return true;
  }
  void skip(std::size_t w) { rec.append(w, ' '); }
  void literal(const std::string& text) { rec += text; }
  bool data(const Step& s) {
    if (!putItem(rec, f, s, items[item], item) && overflowed != nullptr) overflowed->push_back(item);
    ++item;
    return true;
  }
};

std::string& recordBuffer() {
  thread_local std::string buffer = [] {
    std::string b;
    b.reserve(256);
    return b;
  }();
  return buffer;
}

template <typename Emit>
void writeRecords(const Format& f, std::span<const FItem> items, Emit&& emit,
                  std::vector<std::size_t>* overflowed = nullptr) {
  std::string& rec = recordBuffer();
  rec.clear();
  RecordWriter<std::remove_reference_t<Emit>> w{f, items, emit, rec, overflowed};
  walkFormat(f, w);
}

// ---------------------------------------------------------------------------
// Reader engine: `next(rec)` supplies the next record (0, kIoEnd or an error
// status); the status of the read ends up in `status`.

template <typename Next>
struct RecordReader {
  static constexpr const char* kItems = "targets";
  const Format& f;
  std::span<const FTarget> targets;
  Next& next;
  std::string_view rec{};
  std::size_t col = 0;
  std::size_t target = 0;
  int status = 0;

  bool left() const { return target < targets.size(); }
  void finish() {}
  bool newRecord() {
    status = next(rec);
    col = 0;
    return status == 0;
  }
  void skip(std::size_t w) { col += w; }
  [[noreturn]] void literal(const std::string&) {
    throw std::logic_error("format \"" + f.source + "\": a literal cannot be read");
  }
  bool data(const Step& s) {
    status = readField(f, s, rec, col, targets[target], target);
    ++target;
    return status == 0;
  }
};

template <typename Next>
int readRecords(const Format& f, std::span<const FTarget> targets, Next&& next) {
  RecordReader<std::remove_reference_t<Next>> r{f, targets, next};
  if (!r.newRecord()) return r.status;
  walkFormat(f, r);
  return r.status;
}

}  // namespace

// ---------------------------------------------------------------------------
// Writing

namespace {

std::vector<std::string> recordsOf(std::string_view fmt, std::span<const FItem> items) {
  std::vector<std::string> out;
  writeRecords(parsedFormat(fmt), items, [&](const std::string& rec) {
    out.push_back(rec);
    return true;
  });
  return out;
}

void appendTo(std::string& out, std::string_view fmt, std::span<const FItem> items) {
  writeRecords(parsedFormat(fmt), items, [&](const std::string& rec) {
    out += rec;
    out += '\n';
    return true;
  });
}

void writeToUnit(int unit, std::string_view fmt, std::span<const FItem> items,
                 std::vector<std::size_t>* overflowed = nullptr) {
  writeRecords(
      parsedFormat(fmt), items,
      [&](const std::string& rec) {
        writeRecord(unit, rec);
        return true;
      },
      overflowed);
}

void writeTrimmedToUnit(int unit, std::string_view fmt, std::span<const FItem> items) {
  writeRecords(parsedFormat(fmt), items, [&](const std::string& rec) {
    writeRecord(unit, std::string_view(rec).substr(0, trimLen(rec)));
    return true;
  });
}

std::string firstRecord(std::string_view fmt, std::span<const FItem> items) {
  std::string line;
  writeRecords(parsedFormat(fmt), items, [&](const std::string& rec) {
    line = rec;
    return false;
  });
  return line;
}

}  // namespace

std::vector<std::string> formatRecords(std::string_view fmt, FItemList items) {
  return recordsOf(fmt, items);
}
std::vector<std::string> formatRecords(std::string_view fmt, const FItems& items) {
  return recordsOf(fmt, items);
}

void appendRecords(std::string& out, std::string_view fmt, FItemList items) {
  appendTo(out, fmt, items);
}
void appendRecords(std::string& out, std::string_view fmt, const FItems& items) {
  appendTo(out, fmt, items);
}

void writeFmt(int unit, std::string_view fmt, FItemList items) { writeToUnit(unit, fmt, items); }
void writeFmt(int unit, std::string_view fmt, const FItems& items) { writeToUnit(unit, fmt, items); }
void writeFmt(int unit, std::string_view fmt, const FItems& items, std::vector<std::size_t>& overflowed) {
  overflowed.clear();
  writeToUnit(unit, fmt, items, &overflowed);
}

void writeFmtTrimmed(int unit, std::string_view fmt, FItemList items) {
  writeTrimmedToUnit(unit, fmt, items);
}
void writeFmtTrimmed(int unit, std::string_view fmt, const FItems& items) {
  writeTrimmedToUnit(unit, fmt, items);
}

std::string formatLine(std::string_view fmt, FItemList items) { return firstRecord(fmt, items); }
std::string formatLine(std::string_view fmt, const FItems& items) { return firstRecord(fmt, items); }

std::string formatText(std::string_view fmt, FItemList items, std::size_t len) {
  return fit(firstRecord(fmt, items), len);
}
std::string formatText(std::string_view fmt, const FItems& items, std::size_t len) {
  return fit(firstRecord(fmt, items), len);
}

std::string formatField(std::string_view descriptor, const FItem& item) {
  return firstRecord(descriptor, std::span<const FItem>(&item, 1));
}

// ---------------------------------------------------------------------------
// Reading

namespace {

int readFromRecords(const std::vector<std::string>& records, std::size_t& pos, std::string_view fmt,
                    std::span<const FTarget> targets) {
  return readRecords(parsedFormat(fmt), targets, [&](std::string_view& rec) {
    if (pos >= records.size()) return kIoEnd;
    rec = records[pos++];
    return 0;
  });
}

int readFromText(std::string_view text, std::string_view fmt, std::span<const FTarget> targets) {
  bool given = false;
  return readRecords(parsedFormat(fmt), targets, [&](std::string_view& rec) {
    if (given) return kIoEnd;
    given = true;
    rec = text;
    return 0;
  });
}

int readFromUnit(int unit, std::string_view fmt, std::span<const FTarget> targets) {
  // The record stays in the unit's own buffer until the next read.
  return readRecords(parsedFormat(fmt), targets,
                     [&](std::string_view& rec) { return readRecordView(unit, rec); });
}

}  // namespace

int readFmt(const std::vector<std::string>& records, std::size_t& pos, std::string_view fmt,
            FTargetList targets) {
  return readFromRecords(records, pos, fmt, targets);
}
int readFmt(const std::vector<std::string>& records, std::size_t& pos, std::string_view fmt,
            const FTargets& targets) {
  return readFromRecords(records, pos, fmt, targets);
}

int readFmtText(std::string_view text, std::string_view fmt, FTargetList targets) {
  return readFromText(text, fmt, targets);
}
int readFmtText(std::string_view text, std::string_view fmt, const FTargets& targets) {
  return readFromText(text, fmt, targets);
}

int readFmtUnit(int unit, std::string_view fmt, FTargetList targets) {
  return readFromUnit(unit, fmt, targets);
}
int readFmtUnit(int unit, std::string_view fmt, const FTargets& targets) {
  return readFromUnit(unit, fmt, targets);
}

}  // namespace rt
