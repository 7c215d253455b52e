#include "frame/textutil.h"

#include <gtest/gtest.h>

#include <string>

#include "frame/d_inpkey.h"
#include "frame/opnfil.h"
#include "frame/testsupport.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

using namespace std::string_literals;

TEST(Lentrm, LengthWithoutTrailingBlanksAndNuls) {
  struct Case {
    std::string text;
    int lentrm;
    int lentr1;
  };
  const Case cases[] = {
      {"", 0, 1},
      {"      ", 0, 1},
      {"\0\0 \0"s, 0, 1},
      {"ABC", 3, 3},
      {"ABC   ", 3, 3},
      {"  A B  ", 5, 5},
      {"AB\0\0"s, 2, 2},
      {"A \0 \0"s, 1, 1},
      {"\0X"s, 2, 2},  // a leading NUL is a character like any other
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LENTRM(c.text), c.lentrm) << '"' << c.text << '"';
    EXPECT_EQ(LENTR1(c.text), c.lentr1) << '"' << c.text << '"';
  }
}

struct SplitCase {
  int mode;
  const char* path;
  const char* device;
  const char* dir;
  const char* name;
  const char* ext;
  int irc;
};

TEST(Fnsplt, SplitsFileNamesIntoTheirParts) {
  const SplitCase cases[] = {
      {0, "C:\\DATA\\TEST.CRD", "C", "\\DATA", "TEST", "CRD", 0},
      {1, "C:\\DATA\\TEST.CRD", "C:", "\\DATA\\", "TEST.", "CRD", 0},
      {0, "TEST.CRD", "", "", "TEST", "CRD", 0},
      {1, "TEST.CRD", "", "", "TEST.", "CRD", 0},
      {0, "TEST", "", "", "TEST", "", 0},
      // No name: an error without the separators, a blank name with them.
      {0, "C:\\DATA\\", "C", "\\DATA", "", "", 2},
      {1, "C:\\DATA\\", "C:", "\\DATA\\", "", "", 0},
      // A dot inside a directory is no extension.
      {0, "DIR.X\\FILE", "", "DIR.X", "FILE", "", 0},
      {0, "\\A\\B.C\\D.E", "", "\\A\\B.C", "D", "E", 0},
      {0, "X.Y.Z", "", "", "X.Y", "Z", 0},
      {0, "C:FILE.TXT", "C", "", "FILE", "TXT", 0},
      {1, "C:FILE.TXT", "C:", "", "FILE.", "TXT", 0},
      {0, "\\FILE", "", "", "FILE", "", 0},    // a dir of just the backslash is dropped
      {1, "\\FILE", "", "\\", "FILE", "", 0},
      {0, "C:\\DATA\\.CRD", "C", "\\DATA", "", "CRD", 2},
      {1, "C:\\DATA\\.CRD", "C:", "\\DATA\\", ".", "CRD", 2},
      {0, "FILE.", "", "", "FILE", "", 0},
      // A colon after the last backslash or after the extension dot.
      {0, "A.B:C", "", "", "", "", 2},
      {1, "A.B:C", "", "", "", "", 2},
      {0, "\\DIR:X", "", "", "", "", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " " << c.path);
    std::string path = rt::fit(c.path, 40);
    std::string node(8, 'x'), device(16, 'x'), dir(16, 'x'), name(16, 'x'), ext(8, 'x'),
        ver(8, 'x');
    int irc = -1;
    FNSPLT(c.mode, path, node, device, dir, name, ext, ver, irc);
    EXPECT_EQ(irc, c.irc);
    EXPECT_EQ(path, rt::fit(c.path, 40));
    EXPECT_EQ(node, std::string(8, ' '));
    EXPECT_EQ(ver, std::string(8, ' '));
    EXPECT_EQ(device, rt::fit(c.device, 16));
    EXPECT_EQ(dir, rt::fit(c.dir, 16));
    EXPECT_EQ(name, rt::fit(c.name, 16));
    EXPECT_EQ(ext, rt::fit(c.ext, 8));
  }
}

TEST(Fnsplt, BlankNameAndLeadingBlanks) {
  std::string node(4, 'x'), device(4, 'x'), dir(4, 'x'), name(4, 'x'), ext(4, 'x'), ver(4, 'x');
  int irc = -1;
  std::string blank(20, ' ');
  FNSPLT(0, blank, node, device, dir, name, ext, ver, irc);
  EXPECT_EQ(irc, 1);
  EXPECT_EQ(blank, std::string(20, ' '));
  for (const std::string* part : {&node, &device, &dir, &name, &ext, &ver})
    EXPECT_EQ(*part, "    ");

  std::string path = "   D:\\X\\Y.Z   ";
  FNSPLT(0, path, node, device, dir, name, ext, ver, irc);
  EXPECT_EQ(irc, 0);
  EXPECT_EQ(path, "D:\\X\\Y.Z      ");  // left-adjusted in place, length kept
  EXPECT_EQ(device, "D   ");
  EXPECT_EQ(dir, "\\X  ");
  EXPECT_EQ(name, "Y   ");
  EXPECT_EQ(ext, "Z   ");
}

TEST(Fnsplt, PartsAreCutToTheirLengthOrTakenWholeWhenEmpty) {
  std::string path = "C:\\CAMPAIGN\\STATIONS.CRD";
  std::string node, device(1, ' '), dir(4, ' '), name(5, ' '), ext, ver;
  int irc = -1;
  FNSPLT(0, path, node, device, dir, name, ext, ver, irc);
  EXPECT_EQ(irc, 0);
  EXPECT_EQ(device, "C");
  EXPECT_EQ(dir, "\\CAM");
  EXPECT_EQ(name, "STATI");
  EXPECT_EQ(ext, "CRD");  // an empty out-text takes the whole part
  EXPECT_EQ(node, "");
  EXPECT_EQ(ver, "");
}

class LincountTest : public frametest::FrameTest {
 protected:
  // A keyword list in read state 2 with one keyword of one value.
  static void keyword(const std::string& name, const std::string& value) {
    frametest::addKey(name, {value});
    inpKey.readState = 2;
  }
};

const std::string kFixture = XF_SOURCE_DIR "/frame/testdata/lincount_coordinates.crd";

TEST_F(LincountTest, CountsStationLinesAndTheRest) {
  // 6 header lines (two of them blank), 10 station lines, a blank line and
  // 3 footer lines.
  int nRest = -1;
  EXPECT_EQ(LINCOUNT(kFixture, 6, &nRest), 10);
  EXPECT_EQ(nRest, 4);
  EXPECT_EQ(LINCOUNT(kFixture, 6), 10);
  // Without a header skip the count stops at the first blank header line.
  EXPECT_EQ(LINCOUNT(kFixture, 0, &nRest), 3);
  EXPECT_EQ(nRest, 17);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(LincountTest, FileNameFromKeyword) {
  keyword("COORD", kFixture);
  int nRest = -1;
  EXPECT_EQ(LINCOUNT("COORD", 6, &nRest), 10);
  EXPECT_EQ(nRest, 4);
  EXPECT_EQ(LINCOUNT(rt::fit("COORD", 32), 6), 10);
}

// A file name with leading blanks names the same file to the inquiry, to
// the open and to the count (a coordinate file named so in a keyword).
TEST_F(LincountTest, NameWithLeadingBlanksIsTheSameFile) {
  const std::string padded = "   " + kFixture + "  ";
  bool exist = false;
  INQUIRE({.file = padded, .exist = &exist});
  EXPECT_TRUE(exist);
  int nRest = -1;
  EXPECT_EQ(LINCOUNT(padded, 6, &nRest), 10);
  EXPECT_EQ(nRest, 4);
  keyword("COORD", padded);
  EXPECT_EQ(LINCOUNT("COORD", 6, &nRest), 10);
  EXPECT_EQ(nRest, 4);

  int iostat = -1;
  OPNFIL(60, padded, "OLD", "", "READONLY", "", iostat);
  ASSERT_EQ(iostat, 0);
  EXPECT_EQ(rt::unitName(60), kFixture);
  bool opened = false;
  int number = 0;
  INQUIRE({.file = padded, .opened = &opened, .number = &number});
  EXPECT_TRUE(opened);
  EXPECT_EQ(number, 60);
  rt::closeUnit(60);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(LincountTest, NoBlankLineAndShortFiles) {
  const std::string noBlank = writeFile("noblank.txt", "H1\nH2\na\nb\nc\n");
  int nRest = -1;
  EXPECT_EQ(LINCOUNT(noBlank, 2, &nRest), 3);
  EXPECT_EQ(nRest, 0);

  // The header skip runs past the end of the file.
  nRest = -1;
  EXPECT_EQ(LINCOUNT(noBlank, 6, &nRest), 0);
  EXPECT_EQ(nRest, 0);
  EXPECT_EQ(LINCOUNT(noBlank, 5, &nRest), 0);  // exactly the whole file as header
  EXPECT_EQ(nRest, 0);

  const std::string empty = writeFile("empty.txt", "");
  EXPECT_EQ(LINCOUNT(empty, 0, &nRest), 0);
  EXPECT_EQ(nRest, 0);

  // Blank lines right after the header: nothing counted, all the rest in nRest.
  const std::string trailing = writeFile("trailing.txt", "H\n\n  \nx\n");
  EXPECT_EQ(LINCOUNT(trailing, 1, &nRest), 0);
  EXPECT_EQ(nRest, 3);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(LincountTest, NeitherKeywordNorFileGivesZero) {
  int nRest = -1;
  EXPECT_EQ(LINCOUNT(path("missing.crd"), 0, &nRest), 0);
  EXPECT_EQ(nRest, 0);
  keyword("COORD", "");  // a blank file name
  EXPECT_EQ(LINCOUNT("COORD", 0, &nRest), 0);
  EXPECT_EQ(console_.str(), "");
  EXPECT_FALSE(rt::unitOpened(999));
}

TEST_F(LincountTest, KeywordNamingAMissingFileStops) {
  const std::string missing = path("missing.crd");
  keyword("COORD", missing);
  EXPECT_EQ(frametest::exitStatusOf([] { LINCOUNT("COORD", 6); }), 1);
  const std::string pad(16, ' ');
  EXPECT_EQ(console_.str(), "\n *** SR OPNERR: OPEN FAILED\n" + pad + "FILE NAME : " + missing +
                               "\n" + pad + "PGM./SUBR.:   linCount\n" + pad +
                               "IOSTAT    :      2\n" + pad + "FILE UNIT :    999\n\n");
}

}  // namespace
