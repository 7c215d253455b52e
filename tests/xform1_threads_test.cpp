// Whole runs on a generated network of several thousand stations, with
// outliers, by one thread and by several: the report and every result file
// must be the same byte for byte (the clock masked), whatever the number of
// threads; with one thread, the program starts no thread at all; a run that
// fits in a limited address space on one thread fits there with the
// default number of threads too.
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iterator>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "runtime/testsupport.h"

namespace {

using e2e::RunDir;

struct Variant {
  std::string name;
  std::vector<std::pair<std::string, std::string>> changes;  // lines of XFORM1.INP
};

class Xform1Threads : public ::testing::TestWithParam<Variant> {};

// Test names show the variant's name only.
void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

TEST_P(Xform1Threads, SameFilesWhateverTheNumberOfThreads) {
  const Variant& variant = GetParam();
  // The network: 20000 stations (ten chunks of the estimator's searches), 20
  // outliers, the example's constants and datums.
  RunDir source("threads_network");
  ASSERT_TRUE(e2e::generateNetwork(source, "20000 20"));
  std::string input = source.text("XFORM1.INP");
  for (const auto& [from, to] : variant.changes) input = e2e::replaced(input, from, to);

  std::optional<std::set<std::string>> firstFiles;
  std::vector<std::string> firstTexts;
  for (const std::string threads : {"1", "3", "8"}) {
    SCOPED_TRACE(threads + " threads");
    RunDir dir("threads_" + threads);
    for (const std::string name : {"CONST.", "DATUM.", "REF.CRD", "LOC.CRD"}) {
      dir.put(name, source.text(name));
    }
    dir.put("XFORM1.INP", input);
    e2e::RunResult result;
    {
      const rttest::EnvVariable variable("XFORM1_THREADS", threads.c_str());
      result = e2e::run(dir, {"XFORM1.INP"});
    }
    ASSERT_EQ(result.status, 0) << result.err;
    const std::set<std::string> files = dir.files();
    // The run rejected the outliers and wrote its report, parameters and list.
    ASSERT_TRUE(files.count("XFORM1.OUT") && files.count("XFORM1.TRN") &&
                files.count("REJECTED.LST"));
    EXPECT_NE(dir.text("XFORM1.OUT").find("REJECTED STATIONS     :    20"), std::string::npos);
    std::vector<std::string> texts = {e2e::maskClock(result.out), e2e::maskClock(result.err)};
    for (const std::string& name : files) texts.push_back(e2e::maskClock(dir.text(name)));
    if (!firstFiles) {
      firstFiles = files;
      firstTexts = texts;
      continue;
    }
    ASSERT_EQ(files, *firstFiles);
    ASSERT_EQ(texts.size(), firstTexts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) {
      EXPECT_TRUE(texts[k] == firstTexts[k]) << "file " << k << " differs";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, Xform1Threads,
    ::testing::Values(
        // X/Y/Z, seven parameters: north/east/up residuals at each station.
        Variant{"XyzAllParameters", {}},
        // The local system at the barycentre, which moves with every rejection.
        Variant{"LocalSystem", {{"RESIDTYPE 1 \"XYZ\"", "RESIDTYPE 1 \"NEU\""}}},
        // No translation: both sets reduced to their barycentres.
        Variant{"Reduced",
                {{"HLM_1 1 \"1\"", "HLM_1 1 \"0\""},
                 {"HLM_2 1 \"1\"", "HLM_2 1 \"0\""},
                 {"HLM_3 1 \"1\"", "HLM_3 1 \"0\""}}}),
    [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

TEST(Xform1AddressSpace, RunThatFitsOnOneThreadFitsWithTheDefaultThreads) {
  XF_SKIP_UNDER_SANITIZER("the program reserves far more address space than the limit");
  // 100000 stations take some 40 MiB on one thread; under a limit of 64 MiB
  // the pool's threads must leave the run the room it needs.
  RunDir source("address_space_network");
  ASSERT_TRUE(e2e::generateNetwork(source, "100000 100"));
  const auto limited = [] {
    const rlimit lim{rlim_t{64} << 20, rlim_t{64} << 20};
    if (::setrlimit(RLIMIT_AS, &lim) != 0) ::_exit(125);
  };
  std::vector<std::string> firstTexts;
  for (const char* threads : {"1", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(threads != nullptr ? "one thread" : "the default threads");
    RunDir dir("address_space");
    for (const std::string name : {"CONST.", "DATUM.", "REF.CRD", "LOC.CRD", "XFORM1.INP"}) {
      dir.put(name, source.text(name));
    }
    e2e::RunResult result;
    {
      const rttest::EnvVariable variable("XFORM1_THREADS", threads);
      result = e2e::run(dir, {"XFORM1.INP"}, limited);
    }
    if (result.status == 125) GTEST_SKIP() << "the address-space limit cannot be set here";
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(dir.text("XFORM1.OUT").find("REJECTED STATIONS     :   100"), std::string::npos);
    std::vector<std::string> texts = {e2e::maskClock(result.out), e2e::maskClock(result.err)};
    for (const std::string& name : dir.files()) texts.push_back(e2e::maskClock(dir.text(name)));
    if (firstTexts.empty()) {
      firstTexts = texts;
      continue;
    }
    ASSERT_EQ(texts.size(), firstTexts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) {
      EXPECT_TRUE(texts[k] == firstTexts[k]) << "file " << k << " differs";
    }
  }
}

// Makes the calling process die as soon as it starts a thread.
bool forbidThreads() { return rttest::filterThreads(SECCOMP_RET_KILL_PROCESS); }

// XFORM1_THREADS=1: neither the reading of the coordinate files (two blocks
// of lines here) nor the estimation starts a thread. With 2, the same run
// dies at its first thread, which shows that the check sees threads.
TEST(Xform1OneThread, StartsNoThreadAtAll) {
  RunDir dir("one_thread");
  ASSERT_TRUE(e2e::generateNetwork(dir, "20000 20"));
  constexpr int kNoFilter = 125;
  const auto guarded = [] {
    if (!forbidThreads()) ::_exit(kNoFilter);
  };
  e2e::RunResult result;
  {
    const rttest::EnvVariable variable("XFORM1_THREADS", "2");
    result = e2e::run(dir, {"XFORM1.INP"}, guarded);
  }
  if (result.status == kNoFilter) GTEST_SKIP() << "a seccomp filter cannot be installed here";
  EXPECT_EQ(result.status, -1) << "the run with two threads was not stopped";
  // Blanks around the number, as a script may leave them, change nothing.
  for (const char* one : {"1", " 1\t"}) {
    SCOPED_TRACE(std::string("XFORM1_THREADS=\"") + one + "\"");
    {
      const rttest::EnvVariable variable("XFORM1_THREADS", one);
      result = e2e::run(dir, {"XFORM1.INP"}, guarded);
    }
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(dir.text("XFORM1.OUT").find("REJECTED STATIONS     :    20"), std::string::npos);
  }
}

// A value of XFORM1_THREADS that is not a positive integer, or one above
// the most threads, is told in one line on standard error, before anything
// else, whether the run uses threads or not; the report and every file are
// those of a run without it.
TEST(Xform1ThreadSetting, ValueNotTakenIsToldOnceAndChangesNoFile) {
  for (const char* network : {"1000 10", "5000 10"}) {
    SCOPED_TRACE(network);
    RunDir source("setting_network");
    ASSERT_TRUE(e2e::generateNetwork(source, network));
    const auto runWith = [&](const char* value, std::vector<std::string>& files) {
      RunDir dir("setting");
      for (const std::string name : {"CONST.", "DATUM.", "REF.CRD", "LOC.CRD", "XFORM1.INP"}) {
        dir.put(name, source.text(name));
      }
      e2e::RunResult result;
      {
        const rttest::EnvVariable variable("XFORM1_THREADS", value);
        result = e2e::run(dir, {"XFORM1.INP"});
      }
      files.clear();
      for (const std::string& name : dir.files()) {
        files.push_back(name + "\n" + e2e::maskClock(dir.text(name)));
      }
      result.out = e2e::maskClock(result.out);
      return result;
    };
    std::vector<std::string> wantFiles, files;
    const e2e::RunResult want = runWith(nullptr, wantFiles);
    ASSERT_EQ(want.status, 0) << want.err;
    // (The values taken and not taken, one by one: the pool's own test.)
    const struct {
      const char* value;
      const char* told;  // the line before the run's own standard error
    } values[] = {
        {"", ""},
        {" ", ""},
        {"0",
         "XFORM1_THREADS=\"0\" is not a positive integer: the program chooses the number of "
         "threads\n"},
        {"8x",
         "XFORM1_THREADS=\"8x\" is not a positive integer: the program chooses the number of "
         "threads\n"},
        {"5000", "XFORM1_THREADS=\"5000\" is more than 1024: the program uses 1024 threads\n"},
    };
    for (const auto& v : values) {
      SCOPED_TRACE(std::string("XFORM1_THREADS=\"") + v.value + "\"");
      const e2e::RunResult got = runWith(v.value, files);
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(got.out, want.out);
      EXPECT_TRUE(files == wantFiles);
      EXPECT_EQ(got.err, v.told + want.err);
    }
  }
}

}  // namespace
