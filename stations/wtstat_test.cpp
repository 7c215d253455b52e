#include "stations/wtstat.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "frame/constants.h"
#include "frame/runid.h"
#include "runtime/filelock.h"
#include "stations/getco3.h"
#include "stations/testsupport.h"

namespace {

using stationtest::exitStatusOf;
using stationtest::joinLines;
using stationtest::fileContent;
using Vec = std::array<double, 3>;

const std::string kHyphens(80, '-');
const std::string kCoordHeader =
    "NUM  STATION NAME           X (M)          Y (M)          Z (M)     FLAG";
const std::string kVelocityHeader =
    "NUM  STATION NAME           VX (M/Y)       VY (M/Y)       VZ (M/Y)  FLAG   PLATE";

// The existing file of the merge cases: A and C with flags X and Y.
const std::vector<std::string> kExisting = {
    "EXISTING FILE",
    kHyphens,
    "LOCAL GEODETIC DATUM: OLD DATUM         EPOCH: 2009-06-30 00:00:00",
    "",
    kCoordHeader,
    "",
    " 11  A                 4000000.00000  1000000.00000  4800000.00000    X",
    " 13  C                 4100000.00000  1100000.00000  4700000.00000    Y",
    " ",
    "OLD FOOTER",
};

// The caller's stations of the merge cases: C and B.
struct Caller {
  std::vector<std::string> names = {"C", "B"};
  std::vector<Vec> x = {{4100000.1, 1100000.2, 4700000.3}, {4050000.5, 1050000.5, 4750000.5}};
  std::vector<int> num = {23, 22};
  std::vector<std::string> flags = {"N", " M"};
};

// WTSTAT with the caller's stations given as texts: station names, and
// flags of any length, each filled with blanks to the longest of them.
void wtstat(int iWrite, std::string& file, std::string_view title, std::string_view datum, int n,
            const std::vector<std::string>& names, const std::vector<Vec>& x,
            const std::vector<std::string>& flags, t_wtstatOpt opt = {}) {
  std::size_t len = 1;
  for (const auto& f : flags) len = std::max(len, f.size());
  std::string chars;
  for (const auto& f : flags) chars += rt::fit(f, len);
  opt.flagLen = len;
  WTSTAT(iWrite, file, title, datum, n, stationtest::staNames(names), x,
         std::span<const char>(chars.data(), chars.size()), opt);
}

class WtstatTest : public stationtest::StationEnv {
 protected:
  // Head of a coordinate-form file written with a plain title.
  static std::vector<std::string> coordHead(const std::string& title, const std::string& datum,
                                            const std::string& epoch) {
    return {rt::fit(title, 80), kHyphens,
            "LOCAL GEODETIC DATUM: " + rt::fit(datum, 16) + "  EPOCH: " + rt::fit(epoch, 19), "",
            kCoordHeader, ""};
  }
  static std::vector<std::string> plus(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  // The file that the merge cases write with replacement.
  static std::string replacedMerge() {
    return joinLines(
        plus(coordHead("MERGED TITLE", "OLD DATUM", "2010-01-01 00:00:00"),
             {" 11  A                 4000000.00000  1000000.00000  4800000.00000",
              " 22  B                 4050000.50000  1050000.50000  4750000.50000    M",
              " 13  C                 4100000.10000  1100000.20000  4700000.30000    N", "",
              "OLD FOOTER"}));
  }

  // Writes the caller's stations of the merge cases in coordinate form.
  void writeMerge(int iWrite, std::string& file, bool withNumbers = true,
                  const std::vector<std::string>* footer = nullptr) {
    const Caller c;
    wtstat(iWrite, file, "MERGED TITLE", "NEW DATUM", 2, c.names, c.x, c.flags,
           {.stanum = withNumbers ? &c.num : nullptr, .timCrd = 55197.0, .footer = footer});
  }
};

TEST_F(WtstatTest, MergeReplacesAndKeepsExistingStations) {
  const std::string old = writeLines("old.crd", kExisting);
  setKey("COORD", {old});
  std::string out = path("out.crd");
  writeMerge(1, out);
  EXPECT_EQ(fileContent(out), replacedMerge());

  writeMerge(2, out);
  EXPECT_EQ(fileContent(out),
            joinLines(plus(coordHead("MERGED TITLE", "OLD DATUM", "2010-01-01 00:00:00"),
                           {" 11  A                 4000000.00000  1000000.00000  4800000.00000",
                            " 22  B                 4050000.50000  1050000.50000  4750000.50000    M",
                            " 13  C                 4100000.00000  1100000.00000  4700000.00000",
                            "", "OLD FOOTER"})));
  EXPECT_EQ(fileContent(old), joinLines(kExisting));
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"old.crd", "out.crd"}));
}

TEST_F(WtstatTest, WriteOnlyDoesNotReadTheExistingFile) {
  setKey("COORD", {writeLines("old.crd", kExisting)});
  std::string out = path("out.crd");
  writeMerge(0, out);
  EXPECT_EQ(fileContent(out),
            joinLines(plus(coordHead("MERGED TITLE", "NEW DATUM", "2010-01-01 00:00:00"),
                           {" 22  B                 4050000.50000  1050000.50000  4750000.50000    M",
                            " 23  C                 4100000.10000  1100000.20000  4700000.30000    N",
                            " "})));
}

TEST_F(WtstatTest, WithoutNumbersStationsAreNumberedInNameOrder) {
  setKey("COORD", {writeLines("old.crd", kExisting)});
  std::string out = path("out.crd");
  writeMerge(1, out, false);
  EXPECT_EQ(fileContent(out),
            joinLines(plus(coordHead("MERGED TITLE", "OLD DATUM", "2010-01-01 00:00:00"),
                           {"  1  A                 4000000.00000  1000000.00000  4800000.00000",
                            "  2  B                 4050000.50000  1050000.50000  4750000.50000    M",
                            "  3  C                 4100000.10000  1100000.20000  4700000.30000    N",
                            "", "OLD FOOTER"})));
}

TEST_F(WtstatTest, SameFileIsReadAndRewritten) {
  const std::string file = writeLines("net.crd", kExisting);
  setKey("COORD", {file});
  setKey("COORDRS", {file});
  std::string out(32, ' ');  // blank: the name comes from COORDRS
  writeMerge(1, out);
  EXPECT_EQ(rt::trimRight(out), file);
  EXPECT_EQ(fileContent(file), replacedMerge());
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"net.crd"}));
}

// Another run merging into the same file holds its lock: a merge waits for
// it and then reads what that run put in place; writing without a merge
// never waits.
TEST_F(WtstatTest, MergesIntoOneFileTakeTurns) {
  std::vector<std::string> other = kExisting;
  other.insert(other.begin() + 8,
               " 14  D                 4200000.00000  1200000.00000  4600000.00000    Z");
  setKey("ENVIRONMENT", {"D \"" + dir_.string() + "\""});
  setKey("COORD", {"${D}/net.crd"});
  const std::string file = path("net.crd");

  // The other run: it locks the file as a merge does and, `holdMs` later,
  // puts its merged file in place and lets go; the byte on the pipe says
  // that it holds the lock.
  const auto otherRun = [&](int holdMs, int& fd) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      rt::FileLock lock;
      if (lock.lock(file) != 0) ::_exit(1);
      if (::write(fds[1], "L", 1) != 1) ::_exit(3);
      ::usleep(static_cast<useconds_t>(holdMs) * 1000);
      writeLines("other.tmp", other);
      if (::rename(path("other.tmp").c_str(), file.c_str()) != 0) ::_exit(2);
      ::_exit(0);
    }
    ::close(fds[1]);
    char byte = 0;
    EXPECT_EQ(::read(fds[0], &byte, 1), 1);
    fd = fds[0];
    return pid;
  };
  const auto seconds = [](auto start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  // The merge waits for the other run, whether the file exists or the
  // other run is about to make it, and then merges into its file.
  for (const bool exists : {true, false}) {
    SCOPED_TRACE(exists ? "the file exists" : "no file yet");
    std::remove(file.c_str());
    if (exists) writeLines("net.crd", kExisting);
    int fd = -1;
    const pid_t pid = otherRun(400, fd);
    const auto start = std::chrono::steady_clock::now();
    std::string out = file;
    writeMerge(1, out);
    EXPECT_GE(seconds(start), 0.3);
    EXPECT_EQ(exitStatusOf([&] {
                int ws = 0;
                ::waitpid(pid, &ws, 0);
                throw rt::ProgramExit{WIFEXITED(ws) ? WEXITSTATUS(ws) : -1};
              }),
              0);
    ::close(fd);
    const std::string merged = fileContent(file);
    EXPECT_NE(merged.find(" 14  D "), std::string::npos) << merged;  // the other run's station
    EXPECT_NE(merged.find(" 22  B "), std::string::npos) << merged;  // and this run's
  }

  // Without a merge nothing waits.
  int fd = -1;
  const pid_t pid = otherRun(2000, fd);
  const auto start = std::chrono::steady_clock::now();
  std::string out = file;
  writeMerge(0, out);
  EXPECT_LT(seconds(start), 1.0);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(fd);
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"net.crd"}));
}

TEST_F(WtstatTest, FooterRules) {
  const std::vector<std::string> stationLines = {
      " 22  B                 4050000.50000  1050000.50000  4750000.50000    M",
      " 13  C                 4100000.10000  1100000.20000  4700000.30000    N"};
  const std::vector<std::string> given = {" ", "END OF FILE   ", "  indented  "};
  const std::vector<std::string> none;
  struct Case {
    const char* what;
    std::vector<std::string> existing;
    const std::vector<std::string>* footer;
    std::vector<std::string> tail;
  };
  std::vector<std::string> existingAtEof(kExisting.begin(), kExisting.begin() + 7);
  existingAtEof.push_back(" 13  C                 4100000.00000  1100000.00000  4700000.00000");
  const Case cases[] = {
      {"caller's footer over the existing one", kExisting, &given,
       {"", "END OF FILE", "  indented"}},
      {"caller's footer without lines", kExisting, &none, {" "}},
      {"existing file ending at its stations", existingAtEof, nullptr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setKey("COORD", {writeLines("old.crd", c.existing)});
    std::string out = path("out.crd");
    writeMerge(1, out, true, c.footer);
    const std::vector<std::string> a = {
        " 11  A                 4000000.00000  1000000.00000  4800000.00000"};
    EXPECT_EQ(fileContent(out),
              joinLines(plus(plus(plus(coordHead("MERGED TITLE", "OLD DATUM",
                                                 "2010-01-01 00:00:00"),
                                       a),
                                  stationLines),
                             c.tail)));
    inpKey.keys.clear();
  }
}

TEST_F(WtstatTest, NumbersModuloOneThousandAndFlagsLeftAdjusted) {
  std::string out = path("num.crd");
  const std::vector<std::string> names = {"N1", "N2", "N3", "N4"};
  const std::vector<Vec> x(4, Vec{1.0, -2.0, 0.000004});
  const std::vector<int> num = {1005, -3, -1100, 999};
  const std::vector<std::string> flags = {" M", "ABCDEFG", "", "  "};
  wtstat(0, out, "NUMBERS", "D", 4, names, x, flags, {.stanum = &num, .timCrd = 0.0});
  EXPECT_EQ(fileContent(out),
            joinLines(plus(coordHead("NUMBERS", "D", ""),
                           {"  5  N1                      1.00000       -2.00000        0.00000    M",
                            " -3  N2                      1.00000       -2.00000        0.00000    ABCDE",
                            "***  N3                      1.00000       -2.00000        0.00000",
                            "999  N4                      1.00000       -2.00000        0.00000",
                            " "})));
}

TEST_F(WtstatTest, VelocityAndPlateOnlyForms) {
  const std::vector<std::string> names = {"BRAVO", "ALPHA"};
  const std::vector<Vec> v = {{0.1, 0.2, 0.3}, {0.01, -0.02, 0.003}};
  const std::vector<std::string> flags = {"", "VELOC"};
  const std::vector<t_plateName> plates = stationtest::plateNames({"NOAMERICA", "EURA"});
  const std::vector<std::string> head = {rt::fit("VELOCITIES", 80), kHyphens,
                                         "LOCAL GEODETIC DATUM: IGS14           ", "",
                                         kVelocityHeader, ""};
  std::string vel = path("net.vel");
  wtstat(0, vel, "VELOCITIES", "IGS14", 2, names, v, flags, {.plate = &plates});
  EXPECT_EQ(fileContent(vel),
            joinLines(plus(head,
                           {"  1  ALPHA                   0.01000       -0.02000        0.00300    VELO EURA",
                            "  2  BRAVO                   0.10000        0.20000        0.30000         NOAM",
                            " "})));

  std::string plt = path("net.plt");
  wtstat(0, plt, "VELOCITIES", "IGS14", 2, names, v, flags, {.plate = &plates, .pltOnly = true});
  EXPECT_EQ(fileContent(plt),
            joinLines(plus(head,
                           {"  1  ALPHA                                                                 EURA",
                            "  2  BRAVO                                                                 NOAM",
                            " "})));
}

TEST_F(WtstatTest, VelocityFormMergesWithTheVelocityKeyword) {
  const std::string old = writeLines(
      "old.vel", {"OLD", kHyphens, "LOCAL GEODETIC DATUM: VDATUM", "", kVelocityHeader, "",
                  "  7  ALPHA                   0.01000       -0.02000        0.00300    VELO EURA",
                  " "});
  setKey("VELAPR", {old});
  setKey("COORD", {path("never-read.crd")});
  std::string out = path("out.vel");
  const std::vector<std::string> names = {"BRAVO"};
  const std::vector<Vec> v = {{0.1, 0.2, 0.3}};
  const std::vector<std::string> flags = {"F"};
  wtstat(1, out, "NEW", "NDATUM", 1, names, v, flags);
  EXPECT_EQ(fileContent(out),
            joinLines({rt::fit("NEW", 80), kHyphens, "LOCAL GEODETIC DATUM: VDATUM          ", "",
                       kVelocityHeader, "",
                       "  1  ALPHA                   0.01000       -0.02000        0.00300         EURA",
                       "  2  BRAVO                   0.10000        0.20000        0.30000    F",
                       ""}));
}

TEST_F(WtstatTest, ExistingFileWithoutValuesIsMergedOnlyInThePlateOnlyForm) {
  // The existing file with the values of its first station line one
  // column to the left: its stations would be written back with values of
  // zero. A plate-only file carries none and is merged in the plate-only
  // form as before.
  std::vector<std::string> shifted = kExisting;
  shifted[6].erase(10, 1);
  const std::string oldCrd = writeLines("old.crd", shifted);
  setKey("COORD", {oldCrd});
  std::string out = path("out.crd");
  EXPECT_EQ(exitStatusOf([&] { writeMerge(1, out); }), 1);
  EXPECT_EQ(console(), joinLines({"", " *** SR GETCO3: Error reading data lines for coordinate file",
                                  "                File name:   " + oldCrd,
                                  "                Line number:      1", ""}));
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"old.crd"}));

  restart();
  const std::string oldPlt = writeLines(
      "old.plt", {"OLD", kHyphens, "LOCAL GEODETIC DATUM: VDATUM", "", kVelocityHeader, "",
                  "  7  ALPHA                                                                 EURA",
                  " "});
  setKey("VELAPR", {oldPlt});
  std::string plt = path("out.plt");
  const std::vector<t_plateName> plates = stationtest::plateNames({"NOAM"});
  wtstat(1, plt, "NEW", "NDATUM", 1, {"BRAVO"}, {{0.1, 0.2, 0.3}}, {"F"},
         {.plate = &plates, .pltOnly = true});
  EXPECT_EQ(fileContent(plt),
            joinLines({rt::fit("NEW", 80), kHyphens, "LOCAL GEODETIC DATUM: VDATUM          ", "",
                       kVelocityHeader, "",
                       "  1  ALPHA                                                                 EURA",
                       "  2  BRAVO                                                                 NOAM",
                       ""}));
}

TEST_F(WtstatTest, DatedTitleOnceTheConstantsAreRead) {
  constantsRead = 1;
  runDate = "05-MAR-24";
  runTime = "14:07";
  const std::string title = "A TITLE OF SEVENTY CHARACTERS ......................................X";
  std::string out = path("dated.crd");
  wtstat(0, out, title, "D", 0, {}, {}, {}, {.timCrd = 0.0});
  const std::string text = fileContent(out);
  EXPECT_EQ(text.substr(0, text.find('\n')), title.substr(0, 63) + "  05-MAR-24 14:07");
}

TEST_F(WtstatTest, NoStationsAndNoExistingFile) {
  setKey("COORD", {path("absent.crd")});
  std::string out = path("empty.crd");
  wtstat(1, out, "EMPTY", "D", 0, {}, {}, {}, {.timCrd = 51544.5});
  EXPECT_EQ(fileContent(out),
            joinLines(plus(coordHead("EMPTY", "D", "2000-01-01 12:00:00"), {" "})));
}

TEST_F(WtstatTest, NoOutputNameWritesNothing) {
  std::string out = "  ";
  wtstat(0, out, "T", "D", 0, {}, {}, {}, {.timCrd = 0.0});  // no COORDRS keyword
  setKey("COORDRS", {""});
  wtstat(0, out, "T", "D", 0, {}, {}, {}, {.timCrd = 0.0});
  EXPECT_TRUE(rt::isBlank(out));
  EXPECT_TRUE(filesInDir().empty());
  EXPECT_EQ(console(), "");
}

TEST_F(WtstatTest, RoundTripInEachForm) {
  const std::vector<std::string> names = {"ZULU 10003M001", "ALPHA", "MIKE"};
  const std::vector<Vec> x = {{4027893.732154, 307045.613206, 4919474.995671},
                              {-1234567.123456, -2345678.234567, 5432109.987654},
                              {0.0000049, -0.0000051, 12.5}};
  const std::vector<int> num = {1234, 7, -5};
  const std::vector<std::string> flags = {"ABCDE", "X", " "};
  const std::vector<t_plateName> plates = stationtest::plateNames({"EURA", "PCFC", "NOAM"});
  // Output order: ALPHA, MIKE, ZULU.
  const int order[] = {1, 2, 0};

  struct Form {
    const char* file;
    bool coords, pltOnly, dated;
  };
  for (const Form& f : {Form{"a.crd", true, false, false}, Form{"b.crd", true, false, true},
                        Form{"c.vel", false, false, false}, Form{"d.plt", false, true, true}}) {
    SCOPED_TRACE(f.file);
    constantsRead = f.dated ? 1 : 0;
    runDate = "05-MAR-24";
    runTime = "14:07";
    std::string out = path(f.file);
    t_wtstatOpt opt{.stanum = &num, .plate = &plates, .pltOnly = f.pltOnly};
    if (f.coords) opt.timCrd = 58849.25;
    wtstat(0, out, "ROUND TRIP", "IGS14", 3, names, x, flags, opt);

    int n = 0;
    std::vector<t_staName> rNames;
    std::vector<char> rFlg;
    std::vector<t_staFlg5> rFlg5;
    std::vector<t_plateName> rPlate;
    std::string title, datum;
    double epoch = -1.0;
    std::vector<int> rNum;
    std::vector<Vec> rx(3, Vec{0.0, 0.0, 0.0});
    // A plate-only file carries no values to ask for.
    GETCO3(out, 1, {"@"}, n, rNames,
           {.fileTitle = &title, .datumName = &datum, .timCrd = &epoch, .stanum = &rNum,
            .xstat = f.pltOnly ? nullptr : &rx, .staflg = &rFlg, .staflg5 = &rFlg5,
            .plate = &rPlate});
    ASSERT_EQ(n, 3);
    EXPECT_EQ(title, f.dated ? rt::fit("ROUND TRIP", 63) + "  05-MAR-24 14:07"
                             : rt::fit("ROUND TRIP", 80));
    EXPECT_EQ(datum, "IGS14           ");
    EXPECT_NEAR(epoch, f.coords ? 58849.25 : 0.0, 1e-6);
    for (int k = 0; k < 3; ++k) {
      const int j = order[k];
      EXPECT_EQ(rNames[k].str(), rt::fit(names[j], 16));
      EXPECT_EQ(rNum[k], num[j] % 1000);
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(rx[k][c], f.pltOnly ? 0.0 : std::round(x[j][c] * 1e5) / 1e5, 1e-9);
      }
      const std::string flag5 = rt::fit(rt::leftAdjust(flags[j]), 5);
      EXPECT_EQ(rFlg[k], f.pltOnly ? ' ' : flag5[0]);
      EXPECT_EQ(rFlg5[k].str(), f.pltOnly ? "     " : f.coords ? flag5 : flag5.substr(0, 4) + " ");
      EXPECT_EQ(rPlate[k], f.coords ? t_plateName() : plates[j]);
    }
  }
}

TEST_F(WtstatTest, SortByCharacterCodeKeepsTheOrderOfEqualNames) {
  // Blank before letters, upper before lower case, a byte above 127 last;
  // the two stations named B stay in the caller's order.
  const std::vector<std::string> names = {"b", "B", "\xC4X", "AB", "A B", "B", " Z"};
  std::vector<Vec> x;
  for (int i = 0; i < 7; ++i) x.push_back({1.0 + i, 0.0, 0.0});
  const std::vector<std::string> flags(7, " ");
  std::string out = path("sorted.crd");
  wtstat(0, out, "SORTED", "D", 7, names, x, flags, {.timCrd = 0.0});
  EXPECT_EQ(fileContent(out),
            joinLines(plus(coordHead("SORTED", "D", ""),
                           {"  1   Z                      7.00000        0.00000        0.00000",
                            "  2  A B                     5.00000        0.00000        0.00000",
                            "  3  AB                      4.00000        0.00000        0.00000",
                            "  4  B                       2.00000        0.00000        0.00000",
                            "  5  B                       6.00000        0.00000        0.00000",
                            "  6  b                       1.00000        0.00000        0.00000",
                            "  7  \xC4X                      3.00000        0.00000        0.00000",
                            " "})));

  // A name given twice that the existing file holds: one entry, the later
  // values replace the earlier ones.
  setKey("COORD", {writeLines("old.crd", kExisting)});
  std::string merged = path("merged.crd");
  const std::vector<std::string> twice = {"C", "C"};
  const std::vector<Vec> xTwice = {{8.0, 0.0, 0.0}, {9.0, 0.0, 0.0}};
  const std::vector<std::string> flagsTwice = {"P", "Q"};
  wtstat(1, merged, "MERGED", "D", 2, twice, xTwice, flagsTwice, {.timCrd = 0.0});
  EXPECT_EQ(fileContent(merged),
            joinLines(plus(coordHead("MERGED", "OLD DATUM", ""),
                           {"  1  A                 4000000.00000  1000000.00000  4800000.00000",
                            "  2  C                       9.00000        0.00000        0.00000    Q",
                            "", "OLD FOOTER"})));
}

TEST_F(WtstatTest, VariablesInTheOutputName) {
  // A resolved variable: the file is written under the replaced name, and
  // a removal at exit registered under the given name follows it.
  setKey("ENVIRONMENT", {"\"DIR\" \"" + dir_.string() + "\""});
  const std::string raw = "${DIR}/out.crd";
  inpKey.delFil = {rt::fit(raw, 255)};
  inpKey.delCount = 1;
  std::string out = raw;
  wtstat(0, out, "T", "D", 0, {}, {}, {}, {.timCrd = 0.0});
  EXPECT_EQ(fileContent(path("out.crd")), joinLines(plus(coordHead("T", "D", ""), {" "})));
  EXPECT_EQ(inpKey.delFil[0], rt::fit(path("out.crd"), 255));

  // An unresolved one is warned about once; the name is taken as it is.
  std::string literal = path("a$Q.crd");
  wtstat(0, literal, "T", "D", 0, {}, {}, {}, {.timCrd = 0.0});
  EXPECT_EQ(console(), joinLines({"", " ### SR RPLENVAR: Variable Q not resolved in: " + literal,
                                  ""}));
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"a$Q.crd", "out.crd"}));
}

TEST_F(WtstatTest, NameWithoutRoomForANewFileBesideItIsWrittenDirectly) {
  // A target of 254 characters: no temporary name of at most 255 fits.
  const std::size_t base = path("").size();
  const std::string target = path(std::string(254 - base - 2, 'd') + "/x");
  ASSERT_EQ(target.size(), 254u);
  std::filesystem::create_directories(std::filesystem::path(target).parent_path());
  const Caller c;
  for (int iWrite : {0, 1}) {
    SCOPED_TRACE(iWrite);
    setKey("COORD", {target});
    std::string out = target;
    wtstat(iWrite, out, "LONG", "D", 1, {c.names[0]}, {c.x[0]}, {c.flags[0]}, {.timCrd = 0.0});
    EXPECT_EQ(fileContent(target),
              joinLines(plus(coordHead("LONG", "D", ""),
                             {"  1  C                 4100000.10000  1100000.20000  4700000.30000    N",
                              iWrite == 0 ? " " : ""})));
    inpKey.keys.clear();
  }
  std::vector<std::string> inDir;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(target).parent_path())) {
    inDir.push_back(e.path().filename().string());
  }
  EXPECT_EQ(inDir, (std::vector<std::string>{"x"}));
}

TEST_F(WtstatTest, PermissionsOfTargetAndDirectory) {
  if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the super-user";
  namespace fs = std::filesystem;
  // A target that may only be read is left as it is.
  const std::string file = writeLines("ro.crd", kExisting);
  fs::permissions(file, fs::perms::owner_read);
  std::string out = file;
  EXPECT_THROW(writeMerge(0, out), rt::IoFailure);
  EXPECT_EQ(fileContent(file), joinLines(kExisting));
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"ro.crd"}));

  // A writable target in a directory that takes no new file is rewritten
  // in place.
  const std::string inLocked = writeLines("locked/net.crd", kExisting);
  fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  setKey("COORD", {inLocked});
  out = inLocked;
  writeMerge(1, out);
  fs::permissions(path("locked"), fs::perms::owner_all);
  EXPECT_EQ(fileContent(inLocked), replacedMerge());
}

TEST_F(WtstatTest, TargetThatIsADirectoryStopsBeforeWriting) {
  std::filesystem::create_directories(path("subdir"));
  std::string out = path("subdir");
  EXPECT_EQ(exitStatusOf([&] { wtstat(0, out, "T", "D", 0, {}, {}, {}, {.timCrd = 0.0}); }), 1);
  EXPECT_NE(console().find(" *** SR OPNERR: OPEN FAILED"), std::string::npos);
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"subdir"}));
}

TEST_F(WtstatTest, FailedWriteKeepsTheFileThatWasMergedInto) {
  // A file-size limit makes the writing fail part-way; the existing file,
  // which is also the output, must still hold its stations.
  std::vector<std::string> existing(kExisting.begin(), kExisting.begin() + 6);
  char buf[128];
  for (int i = 0; i < 400; ++i) {
    std::snprintf(buf, sizeof buf, "%3d  %-16s%15.5f%15.5f%15.5f    X", i, ('S' + std::to_string(i)).c_str(),
                  4.0e6 + i, 1.0e6, 4.8e6);
    existing.push_back(buf);
  }
  existing.push_back(" ");
  const std::string file = writeLines("net.crd", existing);
  const std::string before = fileContent(file);
  setKey("COORD", {file});

  std::string out = file;
  bool failed = false;
  {
    const rttest::FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.ok());
    try {
      writeMerge(1, out);
    } catch (const rt::IoFailure&) {
      failed = true;
    } catch (const rt::ProgramExit&) {
      failed = true;
    }
  }

  EXPECT_TRUE(failed);
  EXPECT_EQ(fileContent(file), before);
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"net.crd"}));
}

TEST_F(WtstatTest, HundredThousandStationsReadAndWrittenQuickly) {
  constexpr int kCount = 100000;
  std::string text = joinLines(coordHead("LARGE NETWORK", "IGS14", "2010-01-01 00:00:00"));
  char buf[128];
  for (int i = 0; i < kCount; ++i) {
    // Names in no particular order, every one different.
    const int id = static_cast<int>((static_cast<long long>(i) * 7919) % kCount);
    std::snprintf(buf, sizeof buf, "%3d  ST%06d%-8s%15.5f%15.5f%15.5f    A\n", i % 1000, id, "",
                  4.0e6 + id * 0.001, 1.0e6 - id * 0.002, 4.8e6 + id * 0.003);
    text += buf;
  }
  text += " \n";
  const std::string file = writeFile("large.crd", text);
  setKey("COORD", {file});

  const auto start = std::chrono::steady_clock::now();
  int n = 0;
  std::vector<t_staName> names;
  std::vector<char> flags;
  std::vector<int> num;
  std::vector<Vec> x;
  double epoch = 0.0;
  GETCO3(file, 1, {"#"}, n, names, {.timCrd = &epoch, .stanum = &num, .xstat = &x, .staflg = &flags});
  ASSERT_EQ(n, kCount);
  std::string out = path("large-out.crd");
  WTSTAT(1, out, "LARGE NETWORK", "IGS14", n, names, x, flags, {.stanum = &num, .timCrd = epoch});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const std::string written = fileContent(out);
  EXPECT_NE(written.find("\n  0  ST000000"), std::string::npos);
  EXPECT_NE(written.find("ST099999"), std::string::npos);
  EXPECT_LT(written.find("ST000001"), written.find("ST000002"));
  XF_SKIP_UNDER_SANITIZER("the time limit would measure the sanitizer (" +
                          std::to_string(seconds) + " s)");
  EXPECT_LT(seconds, 5.0);
}

}  // namespace
