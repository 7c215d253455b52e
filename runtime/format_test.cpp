#include "runtime/format.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/fixedtext.h"
#include "runtime/testsupport.h"
#include "runtime/units.h"

// Allocations are counted while a test asks for it: through a replaced
// operator new, or under a sanitizer, whose runtime has an operator new and
// an allocator of its own, through the allocator's hook, which sees every
// new and every malloc.
namespace {
std::atomic<bool> countAllocations{false};
std::atomic<long> allocations{0};

void countAllocation() {
  if (countAllocations.load(std::memory_order_relaxed)) {
    allocations.fetch_add(1, std::memory_order_relaxed);
  }
}
}  // namespace

#if XF_ADDRESS_SANITIZER || XF_THREAD_SANITIZER
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, std::size_t), void (*freeHook)(const volatile void*));
namespace {
const bool allocationsCounted = __sanitizer_install_malloc_and_free_hooks(
                                    [](const volatile void*, std::size_t) { countAllocation(); },
                                    [](const volatile void*) {}) != 0;
}  // namespace
#else
namespace {
const bool allocationsCounted = true;
}  // namespace
// GCC takes the malloc and free behind these for a mismatch once inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
  countAllocation();
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

// The allocations made while f runs.
template <typename F>
long allocationsOf(F&& f) {
  allocations = 0;
  countAllocations = true;
  f();
  countAllocations = false;
  return allocations;
}

namespace fs = std::filesystem;
using Records = std::vector<std::string>;

std::string blanks(std::size_t n) { return std::string(n, ' '); }

// ---------------------------------------------------------------------------
// Writer

// A line of the reference table: descriptor, value with 17 significant
// digits, the field between bars.
struct ReferenceField {
  std::string desc;
  std::string value;
  rt::FItem item;
  std::string field;  // without the bars
};

// The reference table runtime/format_cases.tsv; empty when it is not found.
std::vector<ReferenceField> referenceFields() {
  std::vector<ReferenceField> fields;
  std::ifstream in(XF_SOURCE_DIR "/runtime/format_cases.tsv");
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {  // the column names
      header = false;
      continue;
    }
    std::istringstream cols(line);
    std::string desc, value, field;
    if (!(std::getline(cols, desc, '\t') && std::getline(cols, value, '\t') &&
          std::getline(cols, field)) ||
        field.size() < 2) {
      ADD_FAILURE() << "not a reference line: " << line;
      continue;
    }
    const rt::FItem item = desc[0] == 'I' ? rt::FItem(std::stoll(value))
                                          : rt::FItem(std::strtod(value.c_str(), nullptr));
    fields.push_back({desc, value, item, field.substr(1, field.size() - 2)});
  }
  return fields;
}

TEST(FormatWriter, ReproducesEveryReferenceField) {
  const std::vector<ReferenceField> fields = referenceFields();
  for (const ReferenceField& f : fields)
    EXPECT_EQ(rt::formatField(f.desc, f.item), f.field) << f.desc << " of" << f.value;
  EXPECT_GT(fields.size(), 400u);
}

// A write tells which numbers did not fit their fields: exactly those of the
// reference fields written as asterisks, and a text never.
TEST(FormatWriter, TellsWhichNumbersDidNotFit) {
  std::ostringstream out;
  rt::setConsoleOutput(&out);
  std::vector<std::size_t> overflowed;
  int unfit = 0;
  for (const ReferenceField& f : referenceFields()) {
    const bool stars = f.field.find_first_not_of('*') == std::string::npos;
    rt::writeFmt(6, "(" + f.desc + ")", {f.item}, overflowed);
    EXPECT_EQ(overflowed, stars ? std::vector<std::size_t>{0} : std::vector<std::size_t>{})
        << f.desc << " of" << f.value;
    unfit += stars ? 1 : 0;
  }
  EXPECT_GT(unfit, 20);

  // The positions in the list, over several records and a restarted list;
  // the list is emptied first.
  out.str("");
  overflowed = {99};
  rt::writeFmt(6, "(A3,F10.5,/,(I2,F10.5))",
               {"********", 9999.999994, 100, 9999.999995, 5, -999.999995, 99, -999.99999},
               overflowed);
  EXPECT_EQ(overflowed, (std::vector<std::size_t>{2, 3, 5}));
  rt::writeFmt(6, "(3F10.5)", {1.0, 2.0, 3.0}, overflowed);
  EXPECT_TRUE(overflowed.empty());
  rt::setConsoleOutput(nullptr);
  EXPECT_EQ(out.str(),
            "***9999.99999\n************\n 5**********\n99-999.99999\n   1.00000   2.00000   3.00000\n");
}

struct WriteCase {
  const char* fmt;
  rt::FItems items;
  Records records;
};

void expectRecords(const std::vector<WriteCase>& cases) {
  for (const auto& c : cases) EXPECT_EQ(rt::formatRecords(c.fmt, c.items), c.records) << c.fmt;
}

TEST(FormatWriter, LayoutsOfTheProgram) {
  const std::string dashes69(69, '-');
  expectRecords({
      // coordinate-file station line
      {"(I3,2X,A16,3F15.5,4X,A5)",
       {1, "ZIMM 14001M004  ", 4331297.0123, 567555.6789, -4633133.7502, "IGS  "},
       {"  1  ZIMM 14001M004    4331297.01230   567555.67890 -4633133.75020    IGS  "}},
      // residual-table row
      {"(' | ',I3,' | ',A16,' | ',A1,1X,A1,' | ',3F10.4,' | ',A1,' |')",
       {12, "WTZR 14201M010  ", "A", "M", 0.0012, -0.00001, -0.0234, "M"},
       {" |  12 | WTZR 14201M010   | A M |     0.0012   -0.0000   -0.0234 | M |"}},
      // residual-table header
      {"(/,/,1X,69('-'),/,' | NUM |      NAME        | FLG |       ','RESIDUALS IN METERS ','     |   |',/,"
       "1X,69('-'))",
       {},
       {"", "", " " + dashes69, " | NUM |      NAME        | FLG |       RESIDUALS IN METERS      |   |",
        " " + dashes69}},
      // message block
      {"(/,A,3(/,16X,A),/,16X,A,I6,/)",
       {" *** SR GETCO3: ERROR READING FILE", "FILE NAME: a.crd", "LINE: 7", "REASON: bad", "STATIONS:", 42},
       {"", " *** SR GETCO3: ERROR READING FILE", blanks(16) + "FILE NAME: a.crd", blanks(16) + "LINE: 7",
        blanks(16) + "REASON: bad", blanks(16) + "STATIONS:    42", ""}},
      {"(' SCALE FACTOR',10X,':',F18.5,'  +-',F9.5,' MM/KM')",
       {1.0000012345678, 0.00081},
       {" SCALE FACTOR          :           1.00000  +-  0.00081 MM/KM"}},
      {"(1X,'|',5X,'|',18X,'|',5X,'|',32X,'|','   |')",
       {},
       {" |     |" + blanks(18) + "|     |" + blanks(32) + "|   |"}},
      {"(I1,\":\",I2.2,\":\",F6.3)", {1, 5, 7.25}, {"1:05: 7.250"}},
      {"(A,/,80('-'))", {"T"}, {"T", std::string(80, '-')}},
      {"(1X)", {}, {" "}},
  });
}

TEST(FormatWriter, DescriptorsAndListSyntax) {
  expectRecords({
      {"(i8,a2,f5.1,e10.3,d10.3)", {123, "ab", 1.5, 2.0, 2.0}, {"     123ab  1.5 0.200E+01 0.200D+01"}},
      {"(/18X,A)", {"x"}, {"", blanks(18) + "x"}},
      {"( I3 , 2 X , A )", {7, "z"}, {"  7  z"}},
      {"80('-')", {}, {std::string(80, '-')}},
      {"('it''s ',\"a \"\"b\"\"\",'\"')", {}, {"it's a \"b\"\""}},
      {"(A3,'|',A6,'|',A,'|',A1)", {"abcdef", "abc", "xyz  ", ""}, {"abc|   abc|xyz  | "}},
      {"(I4.2,I4.2,I3.0,I3.0,I20)", {5, -5, 0, 1, LLONG_MIN}, {"  05 -05     1-9223372036854775808"}},
      {"(3I3,2A2)", {1, 2, 3, "a", "b"}, {"  1  2  3 a b"}},
      {"(2(I1,2(A1)),'|')", {1, "a", "b", 2, "c", "d"}, {"1ab2cd|"}},
      {"(A,3/,A)", {"x", "y"}, {"x", "", "", "y"}},
  });
}

TEST(FormatWriter, RecordEndsAndTheEndOfTheItems) {
  expectRecords({
      {"(/)", {}, {"", ""}},
      {"(//,A)", {"x"}, {"", "", "x"}},
      {"(/,/,/)", {}, {"", "", "", ""}},
      {"(/,A,///)", {"x"}, {"", "x", "", "", ""}},
      {"(A,/)", {"a"}, {"a", ""}},
      {"(A)", {}, {""}},
      {"(' title')", {}, {" title"}},
      // output goes on through literals up to the first descriptor without an item
      {"(A,' x')", {"a"}, {"a x"}},
      {"(I3,' items',I3,' more')", {1}, {"  1 items"}},
      // a count of blanks before that descriptor is still written
      {"(/,A,2(/,16X,A),/)", {"H"}, {"", "H", blanks(16)}},
  });
}

TEST(FormatWriter, ListStartsAgainForRemainingItems) {
  expectRecords({
      // no group: from the beginning
      {"(A,I2)", {"a", 1, "b", 2, "c"}, {"a 1", "b 2", "c"}},
      {"(I3)", {1, 2, 3}, {"  1", "  2", "  3"}},
      // from the last top-level group, with its repeat count
      {"('N',2(1X,I1))", {1, 2, 3, 4, 5}, {"N 1 2", " 3 4", " 5 "}},
      {"(/,A,2(/,16X,A,A),/)",
       {"H", "a", "1", "b", "2", "c", "3"},
       {"", "H", blanks(16) + "a1", blanks(16) + "b2", "", "", blanks(16) + "c3", blanks(16)}},
      // the last top-level group, not a nested one nor a repeated descriptor
      {"(A,(I1,(A1)),3I1)", {"s", 1, "a", 2, 3, 4, 5, "b", 6}, {"s1a234", "5b6"}},
  });
}

TEST(FormatWriter, RoundsTheExactValueHalvesAwayFromZero) {
  struct Case {
    const char* desc;
    double value;
    const char* field;
  };
  const Case cases[] = {
      // exact ties go away from zero (rounding to even would differ)
      {"F5.2", 0.125, " 0.13"},
      {"F5.2", -0.125, "-0.13"},
      {"F6.3", 1.0625, " 1.063"},
      {"F8.0", 2.5, "      3."},
      {"F8.0", -0.5, "     -1."},
      {"E8.1", 0.25, " 0.3E+00"},
      {"E10.3", 1.125, " 0.113E+01"},
      // the double below the written half goes down
      {"F5.2", 2.675, " 2.67"},
      {"F6.2", 1.005, "  1.00"},
      {"E10.3", 2.675, " 0.267E+01"},
      // carries into a new digit
      {"F5.2", 9.9951, "10.00"},
      {"F6.2", 99.996, "100.00"},
      {"F5.2", 99.996, "*****"},
      {"E10.3", 0.99951, " 0.100E+01"},
      // a set sign bit stays, also when the value rounds to zero
      {"F10.4", -0.0, "   -0.0000"},
      {"F10.4", -0.00001, "   -0.0000"},
      {"F8.0", -0.25, "     -0."},
      {"E12.4", -0.0, " -0.0000E+00"},
      // the zero before the point only when there is room
      {"F6.4", 0.5, "0.5000"},
      {"F5.4", 0.5, ".5000"},
      {"F6.4", -0.5, "-.5000"},
      {"F5.4", -0.5, "*****"},
      {"F2.0", 0.25, "0."},
      {"F1.0", 0.25, "*"},
      {"E10.4", 1.0, "0.1000E+01"},
      {"E9.4", 1.0, ".1000E+01"},
      {"E9.4", -1.0, "*********"},
      // extreme magnitudes
      {"F10.4", 1e300, "**********"},
      {"F10.4", 1e-300, "    0.0000"},
      {"F10.4", 5e-324, "    0.0000"},
      {"E12.4", 123456.789, "  0.1235E+06"},
      {"D12.4", 123456.789, "  0.1235D+06"},
      {"E12.4", 1.5e100, "  0.1500+101"},
      {"D12.4", -2.5e-150, " -0.2500-149"},
      {"E12.4", 1e-310, "  0.1000-309"},
      {"E12.4", 5e-324, "  0.4941-323"},
      {"E12.4", 1.7976931348623157e308, "  0.1798+309"},
      // not numbers
      {"F10.4", std::numeric_limits<double>::infinity(), "  Infinity"},
      {"F10.4", -std::numeric_limits<double>::infinity(), " -Infinity"},
      {"F3.1", std::numeric_limits<double>::infinity(), "Inf"},
      {"F3.1", -std::numeric_limits<double>::infinity(), "***"},
      {"E12.4", std::numeric_limits<double>::quiet_NaN(), "         NaN"},
  };
  for (const auto& c : cases) EXPECT_EQ(rt::formatField(c.desc, c.value), c.field) << c.desc << " of " << c.value;
}

TEST(FormatWriter, FirstRecordIntoAText) {
  EXPECT_EQ(rt::formatText("(A,I3)", {"n=", 5}, 8), "n=  5   ");
  EXPECT_EQ(rt::formatText("(A,I3)", {"n=", 5}, 3), "n= ");
  EXPECT_EQ(rt::formatLine("(A,/,A)", {"x", "y"}), "x");
  EXPECT_EQ(rt::formatLine("(/,A)", {"x"}), "");
  EXPECT_EQ(rt::formatField("I3", 7), "  7");
}

TEST(FormatWriter, ProgrammerErrorsThrow) {
  // malformed format texts
  for (const char* fmt : {"(I3", "I3)", "(Q5)", "(F10)", "(E12)", "(I)", "(A5.2)", "(3'x')", "(0X)", "(A,')",
                          "(I0)", "(3)", "(F10.)", "(3,A)"})
    EXPECT_THROW(rt::formatRecords(fmt, {}), std::invalid_argument) << fmt;
  // an item of the wrong kind for its descriptor
  EXPECT_THROW(rt::formatRecords("(F10.4)", {1}), std::logic_error);
  EXPECT_THROW(rt::formatRecords("(I3)", {1.5}), std::logic_error);
  EXPECT_THROW(rt::formatRecords("(A)", {1}), std::logic_error);
  EXPECT_THROW(rt::formatRecords("(E12.4)", {"x"}), std::logic_error);
  // items left over that no descriptor can take
  EXPECT_THROW(rt::formatRecords("('abc')", {1}), std::logic_error);
  EXPECT_THROW(rt::formatRecords("(A,('x'))", {"a", "b"}), std::logic_error);
}

TEST(FormatWriter, WritesRecordsToAUnit) {
  std::ostringstream out;
  rt::setConsoleOutput(&out);
  rt::writeFmt(6, "(/,A,I3)", {"n=", 5});
  rt::writeFmt(6, "(/)");
  rt::setConsoleOutput(nullptr);
  EXPECT_EQ(out.str(), "\nn=  5\n\n\n");
}

TEST(FormatWriter, RecordsMadeAheadAreTheRecordsWritten) {
  // Records written at once, and made ahead by several threads (each its
  // own stations) and written afterwards in station order: the same text.
  const rt::FixedText<16> name("ZIMM 14001M004");
  const auto stations = [&](int first, int last, std::string* ahead) {
    for (int i = first; i < last; ++i) {
      const std::string_view row = "(' | ',I3,' | ',A16,' | ',A1,1X,A1,' | ',3F10.2,' | ',A1,' |')";
      const rt::FItems items = {i, name, "A", "M", 1.25 * i, -0.5 * i, 1.0e3 / (i + 1), "*"};
      const std::string_view several = "(/,A,I3,/,1X)";
      if (ahead != nullptr) {
        rt::appendRecords(*ahead, row, items);
        rt::appendRecords(*ahead, several, {"n=", i});
      } else {
        rt::writeFmt(6, row, items);
        rt::writeFmt(6, several, {"n=", i});
      }
    }
  };
  std::ostringstream direct;
  rt::setConsoleOutput(&direct);
  stations(0, 400, nullptr);
  rt::setConsoleOutput(nullptr);

  std::string parts[4];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { stations(100 * t, 100 * t + 100, &parts[t]); });
  for (std::thread& t : threads) t.join();
  std::ostringstream later;
  rt::setConsoleOutput(&later);
  for (const std::string& part : parts) rt::writeRecords(6, part);
  rt::writeRecords(6, "");
  rt::setConsoleOutput(nullptr);
  EXPECT_EQ(later.str(), direct.str());
  EXPECT_EQ(parts[0].substr(0, 78),
            " |   0 | ZIMM 14001M004   | A M |       0.00     -0.00   1000.00 | * |\n\nn=  0\n");

  // What the text held before stays.
  std::string ahead = "kept ";
  rt::appendRecords(ahead, "(A,/,I2)", {"before", 7});
  EXPECT_EQ(ahead, "kept before\n 7\n");
}

TEST(FormatWriter, ItemsReferToNamedTextsAndHoldTemporaries) {
  std::string name = "ALPHA";
  const rt::FixedText<5> flag("AB");
  const rt::FItems items = {name, std::string("A TEMPORARY LONGER THAN A SHORT STRING"), flag,
                            std::string_view("VIEW"), "LITERAL"};
  name = "BRAVO";  // a named text is referred to, not copied
  const rt::FItems copy = items;
  EXPECT_EQ(rt::formatLine("(5(A,'|'))", copy),
            "BRAVO|A TEMPORARY LONGER THAN A SHORT STRING|AB   |VIEW|LITERAL|");
}

TEST(FormatWriter, TrimmedRecordsLoseTheirTrailingBlanks) {
  const fs::path dir = rttest::freshTempDir("format_test");
  const std::string file = (dir / "trimmed.txt").string();
  ASSERT_EQ(rt::openUnit(40, file, {.status = "NEW"}), 0);
  const rt::FixedText<4> noPlate;
  const rt::FixedText<16> n1("N1"), n2("N2");
  rt::writeFmtTrimmed(40, "(I3,2X,A16,54X,A4)", {1, n1, noPlate});
  rt::writeFmtTrimmed(40, "(I3,2X,A16,3F15.5,4X,A5)", {-3, n2, 1.0, -2.0, 0.000004, "M    "});
  rt::writeFmtTrimmed(40, "(A)", {std::string("ab  \0 ", 6)});
  rt::writeFmtTrimmed(40, "(A,/,A,/,1X)", {"x  ", "  "});
  rt::writeFmtTrimmed(40, "(A)", {" lead"});
  rt::closeUnit(40);
  EXPECT_EQ(rttest::fileContent(file),
            "  1  N1\n"
            " -3  N2                      1.00000       -2.00000        0.00000    M\n"
            "ab\n"
            "x\n\n\n"
            " lead\n");
  fs::remove_all(dir);
}

TEST(FormatWriter, WarmedUpWriterAllocatesNothing) {
  const fs::path dir = rttest::freshTempDir("format_test");
  const std::string file = (dir / "rows.txt").string();
  ASSERT_EQ(rt::openUnit(40, file, {.status = "NEW"}), 0);
  const rt::FixedText<16> name("ZIMM 14001M004");
  const std::string flag = "IGS  ";
  const auto writeRows = [&] {
    for (int i = 0; i < 500; ++i) {
      const char f1 = 'A';
      rt::writeFmt(40, "(' | ',I3,' | ',A16,' | ',A1,1X,A1,' | ',3F10.2,' | ',A1,' |')",
                   {i % 1000, name, std::string_view(&f1, 1), "M", 1.25 * i, -0.5 * i,
                    1.0e3 / (i + 1), "*"});
      rt::writeFmtTrimmed(40, "(I3,2X,A16,3F15.5,4X,A5)",
                          {i, name, 4331297.0123 + i, 567555.6789 - i, -4633133.7502, flag});
    }
  };
  writeRows();  // the layouts are parsed and the buffers made once
  ASSERT_TRUE(allocationsCounted);
  // The count sees the allocations of a layout met for the first time.
  ASSERT_GT(allocationsOf([] { (void)rt::formatLine("(1X,A30,I5)", {"NOT SEEN BEFORE", 7}); }), 0);
  EXPECT_EQ(allocationsOf(writeRows), 0);
  rt::closeUnit(40);
  const std::string text = rttest::fileContent(file);
  EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1),
            " |   0 | ZIMM 14001M004   | A M |       0.00     -0.00   1000.00 | * |\n"
            "  0  ZIMM 14001M004    4331297.01230   567555.67890 -4633133.75020    IGS\n");
  fs::remove_all(dir);
}

TEST(FormatWriter, HundredThousandCoordinateLinesWellUnderASecond) {
  const auto start = std::chrono::steady_clock::now();
  std::size_t total = 0;
  for (int i = 0; i < 100000; ++i) {
    const rt::FItems items{i % 1000, "STATION 12345678", 4331297.0123 + i, 567555.6789 - i, 4633133.7502 + 0.001 * i,
                           "IGS  "};
    total += rt::formatLine("(I3,2X,A16,3F15.5,4X,A5)", items).size();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(total, 100000u * 75u);
  XF_SKIP_UNDER_SANITIZER("the time limit would measure the sanitizer (" +
                          std::to_string(seconds) + " s)");
  EXPECT_LT(seconds, 0.5);
}

// ---------------------------------------------------------------------------
// Reader

constexpr int kOk = 0;

TEST(FormatReader, IntegerFields) {
  struct Case {
    const char* fmt;
    const char* text;
    int status;
    int value;
  };
  const Case cases[] = {
      {"(I3)", "  7", kOk, 7},
      {"(I3)", " -7", kOk, -7},
      {"(I3)", "+ 7", kOk, 7},
      {"(I3)", "1 2", kOk, 12},  // embedded blanks are ignored
      {"(I3)", "   ", kOk, 0},
      {"(I3)", "", kOk, 0},  // a short record reads as blanks
      {"(I3)", "7", kOk, 7},
      {"(I3)", "  78", kOk, 7},  // the field is three columns
      {"(2X,I2)", "ab12", kOk, 12},
      {"(I11)", "-2147483648", kOk, INT_MIN},
      {"(I11)", " 2147483647", kOk, INT_MAX},
      {"(I11)", " 2147483648", rt::kIoConversion, 0},
      {"(I3)", "abc", rt::kIoConversion, 0},
      {"(I3)", "1.5", rt::kIoConversion, 0},
      {"(I3)", " - ", rt::kIoConversion, 0},
      {"(I3)", " 7-", rt::kIoConversion, 0},
      {"(I3)", "1e2", rt::kIoConversion, 0},
      {"(I2)", "ab", rt::kIoConversion, 0},
  };
  for (const auto& c : cases) {
    int v = 0;
    EXPECT_EQ(rt::readFmtText(c.text, c.fmt, {v}), c.status) << c.fmt << " of '" << c.text << "'";
    if (c.status == kOk) {
      EXPECT_EQ(v, c.value) << c.fmt << " of '" << c.text << "'";
    }
  }
}

TEST(FormatReader, RealFields) {
  struct Case {
    const char* fmt;
    const char* text;
    int status;
    double value;
  };
  // The conversion is correctly rounded, so the result equals the literal.
  const Case cases[] = {
      {"(F15.5)", "     1234567", kOk, 12.34567},  // implied decimals
      {"(F15.5)", "  4331297.01230", kOk, 4331297.0123},
      {"(F15.5)", "-4331297.0123", kOk, -4331297.0123},
      {"(F10.2)", "12345E2", kOk, 12345.0},  // implied decimals also before an exponent
      {"(F10.3)", "  1.5D3", kOk, 1500.0},
      {"(F10.3)", "1.5d3", kOk, 1500.0},
      {"(F10.3)", "1.5e-3", kOk, 1.5e-3},
      {"(F10.3)", "1.5-3", kOk, 1.5e-3},  // bare signed exponent
      {"(F10.3)", "+1.0+02", kOk, 100.0},
      {"(F8.2)", "1.5 E 2", kOk, 150.0},
      {"(F8.2)", "1 2.5", kOk, 12.5},
      {"(F8.2)", "-.5", kOk, -0.5},
      {"(F8.2)", "5.", kOk, 5.0},
      {"(F8.2)", "   ", kOk, 0.0},
      {"(F8.2)", "", kOk, 0.0},
      {"(F8.2)", "1e-999", kOk, 0.0},  // below the smallest double
      {"(E12.4)", "  0.1235E+06", kOk, 123500.0},
      {"(E12.4)", "12345", kOk, 1.2345},
      {"(D12.4)", "-1.25D-03", kOk, -1.25e-3},
      {"(3X,F5.1)", "abc 2.5", kOk, 2.5},
      {"(F8.2)", "1.5E", rt::kIoConversion, 0},
      {"(F8.2)", "1.5E+", rt::kIoConversion, 0},
      {"(F8.2)", "1..5", rt::kIoConversion, 0},
      {"(F8.2)", "1.5x", rt::kIoConversion, 0},
      {"(F8.2)", "1,5", rt::kIoConversion, 0},
      {"(F8.2)", "-", rt::kIoConversion, 0},
      {"(F8.2)", ".", rt::kIoConversion, 0},
      {"(F8.2)", "E5", rt::kIoConversion, 0},
      {"(F8.2)", "1.5E2.1", rt::kIoConversion, 0},
      {"(F8.2)", "1e999", rt::kIoConversion, 0},  // beyond the largest double
      {"(F8.2)", "1.5\t", rt::kIoConversion, 0},
  };
  for (const auto& c : cases) {
    double v = -1.0;
    EXPECT_EQ(rt::readFmtText(c.text, c.fmt, {v}), c.status) << c.fmt << " of '" << c.text << "'";
    if (c.status == kOk) {
      EXPECT_EQ(v, c.value) << c.fmt << " of '" << c.text << "'";
    }
  }
  double negZero = 1.0;
  ASSERT_EQ(rt::readFmtText("-0", "(F8.2)", {negZero}), kOk);
  EXPECT_TRUE(std::signbit(negZero));
}

TEST(FormatReader, TextFields) {
  struct Case {
    const char* fmt;
    const char* text;
    std::size_t len;
    const char* value;
  };
  const Case cases[] = {
      {"(A)", "abc  ", 0, "abc  "},     // the whole record as read
      {"(A)", "abc", 8, "abc     "},    // blank-filled to the declared length
      {"(A)", "abcdef", 2, "ab"},       // cut to the declared length
      {"(2X,A)", "abcdef", 0, "cdef"},  // the rest of the record
      {"(A5)", "ab", 0, "ab   "},       // a short record reads as blanks
      {"(A3)", "abcdef", 5, "abc  "},
      {"(A5)", "abcdef", 3, "abc"},
      {"(8X,A3)", "abc", 0, "   "},
  };
  for (const auto& c : cases) {
    std::string s = "old";
    EXPECT_EQ(rt::readFmtText(c.text, c.fmt, {{s, c.len}}), kOk) << c.fmt;
    EXPECT_EQ(s, c.value) << c.fmt << " of '" << c.text << "' into " << c.len;
  }
}

TEST(FormatReader, StationLineAndConstantsRecord) {
  int num = -1;
  std::string name, flag;
  double x = -1, y = -1, z = -1;
  const char* line = "  1  ZIMM 14001M004    4331297.01230   567555.67890  4633133.75020    IGS";
  ASSERT_EQ(rt::readFmtText(line, "(I3,2X,A16,3F15.5,4X,A5)", {num, {name, 16}, x, y, z, {flag, 5}}), kOk);
  EXPECT_EQ(num, 1);
  EXPECT_EQ(name, "ZIMM 14001M004  ");
  EXPECT_EQ(x, 4331297.0123);
  EXPECT_EQ(y, 567555.6789);
  EXPECT_EQ(z, 4633133.7502);
  EXPECT_EQ(flag, "IGS  ");

  // a station line without values
  ASSERT_EQ(rt::readFmtText("  2  ONSA", "(I3,2X,A16,3F15.5,4X,A5)", {num, {name, 16}, x, y, z, {flag, 5}}), kOk);
  EXPECT_EQ(num, 2);
  EXPECT_EQ(name, "ONSA            ");
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(z, 0.0);
  EXPECT_EQ(flag, "     ");

  std::string key, value;
  ASSERT_EQ(rt::readFmtText("C        3.0D8           comment", "(A6,3X,A16)", {{key, 6}, {value, 16}}), kOk);
  EXPECT_EQ(key, "C     ");
  EXPECT_EQ(value, "3.0D8           ");
}

TEST(FormatReader, SeveralRecordsRoundTrip) {
  const char* fmt =
      "(A16,7X,F12.3,7X,F12.4,7X,F10.4,/,A16,7X,F12.7,7X,F12.4,7X,F10.4,/,23X,D12.4,7X,F12.4,7X,F10.4,/)";
  const Records recs = rt::formatRecords(
      fmt, {"TRANSLATION X", 1234.5678, 0.0123, 1.5, "ROTATION X", 0.123456789, 2.5, -0.75, 1.25e-7, 3.5, 4.5});
  ASSERT_EQ(recs.size(), 4u);
  std::string a, b;
  double v[9] = {};
  std::size_t pos = 0;
  ASSERT_EQ(rt::readFmt(recs, pos, fmt, {{a, 16}, v[0], v[1], v[2], {b, 16}, v[3], v[4], v[5], v[6], v[7], v[8]}),
            kOk);
  EXPECT_EQ(pos, 4u);  // the closing "/" takes the empty fourth record
  EXPECT_EQ(a, "   TRANSLATION X");
  EXPECT_EQ(b, "      ROTATION X");
  const double expected[9] = {1234.568, 0.0123, 1.5, 0.1234568, 2.5, -0.75, 1.25e-7, 3.5, 4.5};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(v[i], expected[i]) << i;
}

TEST(FormatReader, RecordsConsumedAndEndOfRecords) {
  const Records recs{"  1  2", "  3  4", "  5"};
  int a = 0, b = 0, c = 0;
  std::size_t pos = 0;

  // the rest of the format is passed over when the targets are done
  EXPECT_EQ(rt::readFmt(recs, pos, "(I3,I3)", {a}), kOk);
  EXPECT_EQ(pos, 1u);
  EXPECT_EQ(a, 1);

  // a slash after the last target still moves to the next record
  pos = 0;
  EXPECT_EQ(rt::readFmt(recs, pos, "(I3,/)", {a}), kOk);
  EXPECT_EQ(pos, 2u);

  // more targets than descriptors: the list starts again on the next record
  pos = 0;
  EXPECT_EQ(rt::readFmt(recs, pos, "(I3)", {a, b, c}), kOk);
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(a * 100 + b * 10 + c, 135);
  std::string head;
  pos = 0;
  EXPECT_EQ(rt::readFmt(Records{"head 1 2", " 3 4"}, pos, "(A4,2(I2))", {{head, 4}, a, b, c}), kOk);
  EXPECT_EQ(head, "head");
  EXPECT_EQ(a * 100 + b * 10 + c, 123);
  EXPECT_EQ(pos, 2u);

  // no record left for the read, a slash or a restart
  pos = 3;
  EXPECT_EQ(rt::readFmt(recs, pos, "(I3)", {a}), rt::kIoEnd);
  EXPECT_EQ(pos, 3u);
  pos = 2;
  a = b = 0;
  EXPECT_EQ(rt::readFmt(recs, pos, "(I3,/,I3)", {a, b}), rt::kIoEnd);
  EXPECT_EQ(a, 5);  // read before the end was met
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(rt::readFmtText("  1", "(I3)", {a, b}), rt::kIoEnd);
  EXPECT_EQ(rt::readFmtText("  1", "(I3,/)", {a}), rt::kIoEnd);
  EXPECT_EQ(rt::readFmtText("  1", "(A)", {}), kOk);

  // a conversion error leaves the earlier targets set
  pos = 0;
  a = b = 0;
  EXPECT_EQ(rt::readFmt(Records{"  9abc", "  1"}, pos, "(I3,I3)", {a, b}), rt::kIoConversion);
  EXPECT_EQ(a, 9);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(pos, 1u);
}

TEST(FormatReader, ReadsFromAUnit) {
  std::istringstream in("  1  2\n\n  3\n");
  rt::setConsoleInput(&in);
  int a = 0, b = 0;
  EXPECT_EQ(rt::readFmtUnit(5, "(I3,I3,/)", {a, b}), kOk);  // also takes the empty record
  EXPECT_EQ(a * 10 + b, 12);
  EXPECT_EQ(rt::readFmtUnit(5, "(I3)", {a}), kOk);
  EXPECT_EQ(a, 3);
  EXPECT_EQ(rt::readFmtUnit(5, "(I3)", {a}), rt::kIoEnd);
  rt::setConsoleInput(nullptr);
  EXPECT_GT(rt::readFmtUnit(77, "(I3)", {a}), 0);  // not connected
}

TEST(FormatReader, WarmedUpReaderAllocatesNothing) {
  const fs::path dir = rttest::freshTempDir("format_test");
  const std::string file = (dir / "stations.crd").string();
  {
    std::ofstream out(file);
    for (int i = 0; i < 500; ++i) {
      out << "  7  STATION NAME 16   4331297.01230   567555.67890 -4633133.75020    IGS  \n";
    }
  }
  ASSERT_EQ(rt::openUnit(41, file, {.status = "OLD", .readOnly = true}), 0);
  std::string line;
  int num = 0;
  double x = 0.0, y = 0.0, z = 0.0;
  int lines = 0;
  const auto readAll = [&] {
    while (rt::readFmtUnit(41, "(A)", {rt::FTarget(line, 255)}) == 0) {
      const std::string_view columns(line);
      rt::readFmtText(columns.substr(0, 3), "(I3)", {num});
      rt::readFmtText(columns.substr(21, 45), "(3F15.5)", {x, y, z});
      ++lines;
    }
  };
  readAll();  // the layouts are parsed and the buffers made once
  rt::rewindUnit(41);
  EXPECT_EQ(allocationsOf(readAll), 0);
  EXPECT_EQ(lines, 1000);
  EXPECT_EQ(line.size(), 255u);
  EXPECT_EQ(num, 7);
  EXPECT_NEAR(z, -4633133.7502, 1e-9);
  rt::closeUnit(41);
  fs::remove_all(dir);
}

TEST(FormatReader, ThreadsReadAndWriteWithLayoutsNewToThem) {
  // Each thread meets layouts first met by no other and shared ones.
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int k = 1; k <= 200; ++k) {
        const std::string own = "(I" + std::to_string(t * 200 + k + 10) + ")";
        int v = 0;
        if (rt::readFmtText(std::to_string(k), own, {v}) != 0 || v != k) ++wrong[t];
        double x = 0.0;
        if (rt::readFmtText("  4331297.01230", "(F15.5)", {x}) != 0 || x != 4331297.0123) ++wrong[t];
        if (rt::formatLine("(I3,2X,A)", {k, "X"}) != rt::formatField("I3", k) + "  X") ++wrong[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

TEST(FormatReader, ProgrammerErrorsThrow) {
  int i = 0;
  double d = 0;
  std::string s;
  EXPECT_THROW(rt::readFmtText("abc", "('abc')", {}), std::logic_error);
  EXPECT_THROW(rt::readFmtText("  1", "(I3)", {d}), std::logic_error);
  EXPECT_THROW(rt::readFmtText("  1", "(F3.0)", {i}), std::logic_error);
  EXPECT_THROW(rt::readFmtText("  1", "(A)", {i}), std::logic_error);
  EXPECT_THROW(rt::readFmtText("  1", "(I3)", {s}), std::logic_error);
  EXPECT_THROW(rt::readFmtText("  1", "(I3", {i}), std::invalid_argument);
}

}  // namespace
