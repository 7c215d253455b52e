// Format-list writer and fixed-field reader.
//
// A format text is written exactly as the layouts give it, for example
//   "(' | ',I3,' | ',A16,' | ',A1,1X,A1,' | ',3F10.4,' | ',A1,' |')"
// Descriptors (upper or lower case): I w, I w.m, F w.d, E w.d, D w.d, A, A w,
// n X, quoted literals ('...' or "...", a doubled quote stands for one), "/",
// repeat counts on descriptors and on parenthesised groups, nested groups.
// Commas between descriptors may be left out where the text stays
// unambiguous ("(/18X,A)").
//
// Writing: the end of the list ends the current record; when items remain
// after the last data descriptor, the record ends and the list starts again
// at its last top-level parenthesised group (at its beginning when it has
// none). Writing stops at the first data descriptor for which no item is
// left, so literals before it are still written.
//
// Numbers are rounded on their exact binary value, halves away from zero; a
// value whose sign bit is set keeps its minus sign also when it rounds to
// zero; a number that does not fit its field is written as asterisks.
// A text longer than A w keeps its first w characters, a shorter one is
// right-aligned in the field. n X always writes n blanks, also at the end of
// a record ("(1X)" is a record holding one blank). F w.d drops the zero
// before the point only when the field has no room for it (".5000" in F5.4);
// E w.d writes 0.ddddE+ee, and +eee without the letter when the exponent
// needs three digits; infinities and NaN are written as text when they fit.
//
// Programmer errors throw: a malformed format text std::invalid_argument, an
// item of the wrong kind for its descriptor (an integer for F, a real for I,
// a number for A, ...) or items left over that no descriptor of the list can
// take std::logic_error. The same holds for reading (a literal in a format
// used for reading is a programmer error too).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/fixedtext.h"
#include "runtime/units.h"

namespace rt {

// One item of an output list: an integer, a real or a text. A text given
// as an lvalue (a string, a view, a literal, a fixed text) is referred to,
// not copied: an item list must not outlive the texts it names. A string
// temporary is moved into the item. Item lists are passed as braced lists
// ({1, name, 2.5}) straight to the writing calls, or held in an FItems.
class FItem {
 public:
  enum class Kind { Int, Real, Text };
  FItem(int v) : kind_(Kind::Int), i_(v) {}
  FItem(long v) : kind_(Kind::Int), i_(v) {}
  FItem(long long v) : kind_(Kind::Int), i_(v) {}
  FItem(double v) : kind_(Kind::Real), d_(v) {}
  FItem(const char* s) : kind_(Kind::Text), v_(s) {}
  FItem(std::string_view s) : kind_(Kind::Text), v_(s) {}
  FItem(const std::string& s) : kind_(Kind::Text), v_(s) {}
  FItem(std::string&& s) : kind_(Kind::Text), owned_(true), s_(std::move(s)) {}
  template <std::size_t N>
  FItem(const FixedText<N>& s) : kind_(Kind::Text), v_(s.view()) {}
  template <std::size_t N>
  FItem(const FixedText<N>&& s) = delete;  // would refer to a temporary
  Kind kind() const { return kind_; }
  long long intValue() const { return i_; }
  double realValue() const { return d_; }
  std::string_view text() const { return owned_ ? std::string_view(s_) : v_; }

 private:
  Kind kind_;
  bool owned_ = false;
  long long i_ = 0;
  double d_ = 0.0;
  std::string_view v_;
  std::string s_;
};

using FItems = std::vector<FItem>;
using FItemList = std::initializer_list<FItem>;

// Appends every element of an array to an item list, in order.
template <typename T>
void appendItems(FItems& items, const std::vector<T>& values) {
  for (const auto& v : values) items.emplace_back(v);
}

// Every writing call takes its items as a braced list or as an FItems; once
// a layout has been used, formatting a record allocates nothing.

// The records that the format writes for the items (no line ends).
std::vector<std::string> formatRecords(std::string_view fmt, FItemList items = {});
std::vector<std::string> formatRecords(std::string_view fmt, const FItems& items);

// Appends the records that the format writes for the items to `out`, each
// ended by '\n': for records made ahead of their writing (writeRecords in
// units.h), by several threads at once if need be.
void appendRecords(std::string& out, std::string_view fmt, FItemList items = {});
void appendRecords(std::string& out, std::string_view fmt, const FItems& items);

// Writes the records to a unit (see units.h).
void writeFmt(int unit, std::string_view fmt, FItemList items = {});
void writeFmt(int unit, std::string_view fmt, const FItems& items);
// The same, and `overflowed` tells which numbers did not fit their fields
// and were written as asterisks: their positions in `items`, counted from
// 0, in order (empty when every number fitted).
void writeFmt(int unit, std::string_view fmt, const FItems& items, std::vector<std::size_t>& overflowed);

// Writes the records to a unit without their trailing blanks (and NULs).
void writeFmtTrimmed(int unit, std::string_view fmt, FItemList items = {});
void writeFmtTrimmed(int unit, std::string_view fmt, const FItems& items);

// Internal write into a text of `len` characters: the first record, cut or
// blank-filled to `len`.
std::string formatText(std::string_view fmt, FItemList items, std::size_t len);
std::string formatText(std::string_view fmt, const FItems& items, std::size_t len);

// The first record only, as long as the format makes it.
std::string formatLine(std::string_view fmt, FItemList items = {});
std::string formatLine(std::string_view fmt, const FItems& items);

// One field of a single descriptor, e.g. formatField("F10.4", 1.5).
std::string formatField(std::string_view descriptor, const FItem& item);

// ---------------------------------------------------------------------------
// Fixed-field reading with a format list.
//
// Integer (I w), real (F w.d, E w.d, D w.d) and text (A, A w) fields are read
// from the records; n X skips columns, "/" goes on with the next record, and
// a record shorter than the fields reads as if filled with blanks. Numeric
// fields: leading and embedded blanks are ignored, an all-blank field is
// zero, a sign is optional, a field without a decimal point carries d
// implied fraction digits, an exponent may follow after E, D, e or d or start
// with a bare sign. Any other character is a conversion error. A w reads w
// characters into the text (A alone: the whole rest of the record); a text
// target keeps its declared length (`len`, blank-filled or cut to its first
// characters). An integer field outside the range of int, a real field
// beyond the largest double and an exponent letter without digits are
// conversion errors.
//
// When the targets are done the read goes on through the format up to the
// next data descriptor or the end of the list, so a "/" after the last
// target still moves to the next record; the record in which the read ends
// counts as consumed. More targets than descriptors: the next record is read
// and the list starts again as for writing.

class FTarget {
 public:
  enum class Kind { Int, Real, Text };
  FTarget(int& v) : kind_(Kind::Int), i_(&v) {}
  FTarget(double& v) : kind_(Kind::Real), d_(&v) {}
  // A text target with its declared length; 0 keeps the field as read.
  // The target's storage is reused from one read to the next.
  FTarget(std::string& s, std::size_t len = 0) : kind_(Kind::Text), s_(&s), len_(len) {}
  Kind kind() const { return kind_; }
  int* intPtr() const { return i_; }
  double* realPtr() const { return d_; }
  std::string* textPtr() const { return s_; }
  std::size_t len() const { return len_; }

 private:
  Kind kind_;
  int* i_ = nullptr;
  double* d_ = nullptr;
  std::string* s_ = nullptr;
  std::size_t len_ = 0;
};

using FTargets = std::vector<FTarget>;
using FTargetList = std::initializer_list<FTarget>;

// Status of a read: 0 success, kIoEnd (units.h) at end of file (no record
// left for a field or a "/"), a positive value for a conversion error.
constexpr int kIoConversion = 5010;

// Reads from the records of a text list, starting at records[pos]; `pos`
// moves past every record the read consumed (a read consumes at least one).
int readFmt(const std::vector<std::string>& records, std::size_t& pos, std::string_view fmt,
            FTargetList targets);
int readFmt(const std::vector<std::string>& records, std::size_t& pos, std::string_view fmt,
            const FTargets& targets);

// Reads from one text (an internal read of a single record).
int readFmtText(std::string_view text, std::string_view fmt, FTargetList targets);
int readFmtText(std::string_view text, std::string_view fmt, const FTargets& targets);

// Reads the records it needs from a unit (see units.h: a record holds at
// most the first kMaxRecordLen characters of its line).
int readFmtUnit(int unit, std::string_view fmt, FTargetList targets);
int readFmtUnit(int unit, std::string_view fmt, const FTargets& targets);

}  // namespace rt
