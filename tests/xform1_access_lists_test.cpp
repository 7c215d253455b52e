// Whole runs of the program on result files that have access lists: a
// replaced file keeps its list, so the users it shuts out stay out and
// those it lets in keep their access; where the new file does not take the
// list, the run fails and the old file stays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::RunDir;

// The test network with the parameters and the accepted stations as result
// files beside the list of rejected stations.
e2e::Keywords listKeywords() {
  return e2e::networkKeywords().set("TRNFIL", {"PARAM.TRN"}).set("OKSTA", {"ACCEPT.FIL"});
}

e2e::RunResult runNetwork(const RunDir& dir, const std::function<void()>& inChild = {}) {
  e2e::putNetworkInputs(dir);
  dir.put("XFORM1.INP", listKeywords().text());
  return e2e::run(dir, {"XFORM1.INP"}, inChild);
}

// An old result file of the given mode whose list gives the user nobody
// the permissions `nobody`; false where the file system takes no list.
bool putOldFile(const RunDir& dir, const std::string& name, mode_t mode, unsigned nobody) {
  dir.put(name, "old\n");
  const std::string file = (dir / name).string();
  return ::chmod(file.c_str(), mode) == 0 &&
         rttest::giveAccessList(file, rttest::accessList(6, {{rttest::kNobodyUid, nobody}},
                                                         (mode >> 3) & 7, (mode >> 3) & 7,
                                                         mode & 7));
}

// Whether the user nobody may open the file for reading: 1 yes, 0 no, -1
// when that cannot be tried here, with the reason in `why` (not root, no
// way to become that user, or the file's directory out of its reach).
int nobodyReads(const fs::path& file, std::string& why) {
  why = rttest::whyNobodyCannot(file.parent_path(), X_OK);
  if (!why.empty()) return -1;
  const int status = rttest::runAsNobody([&file] {
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0 && errno != EACCES) ::_exit(2);
    return fd >= 0;
  });
  if (status == 0 || status == 1) return status == 0 ? 1 : 0;
  why = status == rttest::kCannotBecomeNobody
            ? "cannot become the user nobody"
            : "the open as nobody failed otherwise than by a refusal";
  return -1;
}

TEST(Xform1AccessLists, ReplacedResultsKeepTheirLists) {
  RunDir plain("acl_plain");
  const e2e::RunResult want = runNetwork(plain);
  ASSERT_EQ(want.status, 0) << want.err;

  RunDir dir("acl_kept");
  // The parameters may be read by everyone but nobody; the accepted
  // stations by their group and nobody.
  if (!putOldFile(dir, "PARAM.TRN", 0644, 0) || !putOldFile(dir, "ACCEPT.FIL", 0640, 4))
    GTEST_SKIP() << "the file system of the temporary directory takes no access list: "
                 << std::strerror(errno);
  struct Old {
    std::string name;
    mode_t mode;
    std::string list;
    int nobodyReads;
  };
  const Old olds[] = {{"PARAM.TRN", 0644, rttest::accessListOf(dir / "PARAM.TRN"), 0},
                      {"ACCEPT.FIL", 0640, rttest::accessListOf(dir / "ACCEPT.FIL"), 1}};
  // The run directory is one that nobody may search, whatever the umask
  // made it: the lists alone decide what nobody reads.
  fs::permissions(dir.path(), fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
  const e2e::RunResult got = runNetwork(dir);
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(e2e::maskClock(got.out), e2e::maskClock(want.out));
  EXPECT_EQ(got.err, want.err);
  EXPECT_EQ(dir.files(), plain.files());
  for (const std::string& name : plain.files())
    EXPECT_EQ(e2e::maskClock(dir.text(name)), e2e::maskClock(plain.text(name))) << name;
  std::string notTried;  // why nobody's reads could not be tried
  for (const Old& old : olds) {
    SCOPED_TRACE(old.name);
    struct stat sb {};
    ASSERT_EQ(::stat((dir / old.name).c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 07777, old.mode);
    EXPECT_EQ(rttest::accessListOf(dir / old.name), old.list);
    std::string why;
    const int reads = nobodyReads(dir / old.name, why);
    if (reads < 0) {
      notTried = why;
    } else {
      EXPECT_EQ(reads, old.nobodyReads);
    }
  }
  if (!notTried.empty())
    GTEST_SKIP() << "the lists were compared; reading as nobody not tried: " << notTried;
}

TEST(Xform1AccessLists, AListTheNewFileRefusesLeavesTheOldFile) {
  RunDir plain("acl_plain");
  const e2e::RunResult want = runNetwork(plain);
  ASSERT_EQ(want.status, 0) << want.err;
  const std::string report = e2e::maskClock(want.out);

  RunDir dir("acl_refused");
  if (!putOldFile(dir, "PARAM.TRN", 0644, 0))
    GTEST_SKIP() << "the file system of the temporary directory takes no access list: "
                 << std::strerror(errno);
  const std::string list = rttest::accessListOf(dir / "PARAM.TRN");
  const e2e::RunResult got = runNetwork(dir, [] {
    // As a file system that takes no list for the new file.
    if (!rttest::refuseSystemCalls({SYS_fsetxattr}, EOPNOTSUPP)) ::_exit(125);
  });
  if (got.status == 125) GTEST_SKIP() << "system calls cannot be refused here";
  EXPECT_EQ(got.status, 127);
  EXPECT_EQ(got.err, "input/output failure: write on file PARAM.TRN: Operation not supported\n");
  EXPECT_EQ(dir.text("PARAM.TRN"), "old\n");
  EXPECT_EQ(rttest::accessListOf(dir / "PARAM.TRN"), list);
  EXPECT_EQ(e2e::newFilesIn(dir.path()), std::vector<std::string>{});
  // The report stops where the parameter file fails, before the
  // end-of-run lines.
  EXPECT_EQ(e2e::maskClock(got.out), report.substr(0, report.find("\n>>> CPU")));
}

}  // namespace
