// Support for the end-to-end tests: a fresh run directory, keyword input
// files, running the built program there, reading its files back with the
// clock masked.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
// GCC 12 takes a member of the regex automaton's states for one that may be
// used uninitialised once the address sanitizer instruments it, a false
// report from inside the standard library: silenced for its templates alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/testsupport.h"

namespace e2e {

namespace fs = std::filesystem;

// The test fixtures in the source tree.
inline fs::path dataDir() { return fs::path(XF_SOURCE_DIR) / "tests" / "data"; }

// The content of a file (throws when it cannot be read).
using rttest::fileContent;

inline void writeFile(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  if (!out) throw std::runtime_error("cannot write " + file.string());
  out << text;
}

// A fresh, empty directory under the system's temporary directory, removed
// with everything in it at the end of the test.
class RunDir {
 public:
  explicit RunDir(const std::string& tag) {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("xform1_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~RunDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  RunDir(const RunDir&) = delete;
  RunDir& operator=(const RunDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

  void put(const std::string& name, const std::string& text) const {
    const fs::path file = path_ / name;
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    writeFile(file, text);
  }
  // Copies a fixture of tests/data under the given name.
  void copy(const std::string& fixture, const std::string& name) const {
    put(name, fileContent(dataDir() / fixture));
  }
  std::string text(const std::string& name) const { return fileContent(path_ / name); }
  bool exists(const std::string& name) const { return fs::exists(path_ / name); }

  // Every regular file in the directory and below, relative names.
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(path_))
      if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), path_).string());
    return names;
  }

 private:
  fs::path path_;
};

// Keywords of a keyword input file, in file order.
class Keywords {
 public:
  using Entry = std::pair<std::string, std::vector<std::string>>;

  Keywords() = default;
  Keywords(std::initializer_list<Entry> entries) : entries_(entries) {}

  // Replaces the values of a keyword (appended when it is not there yet).
  Keywords& set(const std::string& key, std::vector<std::string> values) {
    for (Entry& e : entries_)
      if (e.first == key) {
        e.second = std::move(values);
        return *this;
      }
    entries_.emplace_back(key, std::move(values));
    return *this;
  }
  Keywords& remove(const std::string& key) {
    std::erase_if(entries_, [&key](const Entry& e) { return e.first == key; });
    return *this;
  }

  // The file: one keyword line with its count, a single value on the
  // keyword line, several values on lines of their own. A value without
  // double quotes is written between them; one holding them is written as
  // it stands (a table line of quoted cells).
  std::string text() const {
    std::string out = "! Keyword input file of an end-to-end test run\n";
    for (const Entry& e : entries_) {
      const auto quoted = [](const std::string& v) {
        return v.find('"') != std::string::npos ? v : '"' + v + '"';
      };
      out += e.first + " " + std::to_string(e.second.size());
      if (e.second.size() == 1) {
        out += ' ' + quoted(e.second[0]) + '\n';
      } else {
        out += "\n";
        for (const std::string& v : e.second) out += "  " + quoted(v) + "\n";
      }
    }
    return out;
  }

 private:
  std::vector<Entry> entries_;
};

// The keywords of a run on the test network of tests/data (NET_A.CRD,
// NET_B.CRD with CONST.TST and DATUM.TST): seven parameters in X/Y/Z,
// residuals in metres, no rejection, the list of rejected stations as
// REJECT.LST and no other result file. Each test changes what it needs.
inline Keywords networkKeywords() {
  return Keywords{
      {"CONST", {"CONST.TST"}},
      {"DATUM", {"DATUM.TST"}},
      {"TITLE", {"Helmert transformation of the test network"}},
      {"COORD1", {"NET_A.CRD"}},
      {"COORD2", {"NET_B.CRD"}},
      {"VELAPR", {""}},
      {"COORD", {""}},
      {"RADIO_1", {"1"}},
      {"RADIO_2", {"0"}},
      {"USESTA", {""}},
      {"OTHSTA", {"MARK"}},
      {"STASELECT", {"\"ALFA 10001M001\" \"\" \"\" \"\""}},
      {"RESIDTYPE", {"XYZ"}},
      {"RESIDUNIT", {"M"}},
      {"HLM_1", {"1"}},
      {"HLM_2", {"1"}},
      {"HLM_3", {"1"}},
      {"HLM_4", {"1"}},
      {"HLM_5", {"1"}},
      {"HLM_6", {"1"}},
      {"HLM_7", {"1"}},
      {"REJECT", {"0"}},
      {"NLIMIT", {"10"}},
      {"ELIMIT", {"10"}},
      {"ULIMIT", {"20"}},
      {"LISTFIL", {"REJECT.LST"}},
      {"TRNFIL", {""}},
      {"COORDRS", {""}},
      {"OKSTA", {""}},
  };
}

// The run of the test network with every result file under a name of its
// own (PARAM.TRN, TRANSF.CRD, ACCEPT.FIL), residuals in millimetres,
// rejection on (one outlier).
inline Keywords everyResultKeywords() {
  Keywords keywords = networkKeywords();
  keywords.set("RESIDUNIT", {"MM"})
      .set("REJECT", {"1"})
      .set("TRNFIL", {"PARAM.TRN"})
      .set("COORDRS", {"TRANSF.CRD"})
      .set("OKSTA", {"ACCEPT.FIL"});
  return keywords;
}

// The input files of the test network (besides the keyword input file).
inline void putNetworkInputs(const RunDir& dir) {
  for (const char* name : {"CONST.TST", "DATUM.TST", "NET_A.CRD", "NET_B.CRD"})
    dir.copy(name, name);
}

// A synthetic network made by the network generator in the directory:
// REF.CRD, LOC.CRD and XFORM1.INP beside the example's CONST. and DATUM.;
// `arguments` are the generator's after the directory ("5000 5 1 regional":
// stations, outliers, REJECT, region). False when the generator fails.
inline bool generateNetwork(const RunDir& dir, const std::string& arguments) {
  for (const char* f : {"CONST.", "DATUM."}) {
    dir.put(f, fileContent(fs::path(XF_SOURCE_DIR) / "examples" / f));
  }
  const std::string command = std::string("'") + XF_GENNET + "' '" + dir.path().string() + "' " +
                              arguments + " > /dev/null";
  return std::system(command.c_str()) == 0;
}

// The result files of a generated network run with every result file
// under a name of its own (makeLargeRun): keyword, file name.
inline const std::map<std::string, std::string>& largeRunResults() {
  static const std::map<std::string, std::string> results = {
      {"TRNFIL", "XFORM1.TRN"}, {"COORDRS", "OUT.CRD"}, {"OKSTA", "OK.FIL"},
      {"LISTFIL", "REJECTED.LST"}};
  return results;
}

// A generated network of 100 000 stations with 10 outliers whose keyword
// input file names every result file (largeRunResults); false when the
// network cannot be made.
inline bool makeLargeRun(const RunDir& dir) {
  if (!generateNetwork(dir, "100000 10")) return false;
  std::string inp = dir.text("XFORM1.INP");
  for (const auto& [key, value] : largeRunResults()) {
    const std::size_t at = inp.find("\n" + key + " 1 ");
    if (at == std::string::npos) return false;
    const std::size_t end = inp.find('\n', at + 1);
    inp.replace(at + 1, end - at - 1, key + " 1 \"" + value + "\"");
  }
  dir.put("XFORM1.INP", inp);
  return true;
}

// Entries of a directory, and of those below it, whose names mark a new
// file beside a result file.
inline std::vector<std::string> newFilesIn(const fs::path& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.find(".~") != std::string::npos) found.push_back(name);
  }
  return found;
}

// A copy of the built program that the user nobody may run: in a
// directory of its own under the temporary directory, which every user may
// search (the build directory may lie below a private one, which only its
// owner reaches). why() is empty when nobody can run the copy, otherwise
// the reason, for a skip: not root, or a temporary directory that other
// users cannot reach.
class ProgramForNobody {
 public:
  ProgramForNobody() : dir_("program_for_nobody") {
    const fs::path copy = dir_ / "xform1";
    fs::copy_file(XF_PROGRAM, copy);
    fs::permissions(copy, static_cast<fs::perms>(0755));
    fs::permissions(dir_.path(), static_cast<fs::perms>(0755));
    path_ = copy.string();
    why_ = rttest::whyNobodyCannot(copy, X_OK);
  }

  const std::string& path() const { return path_; }
  const std::string& why() const { return why_; }

 private:
  RunDir dir_;
  std::string path_;
  std::string why_;
};

struct RunResult {
  int status = -1;      // exit status of the process
  std::string out;      // standard output
  std::string err;      // standard error
  long maxRssKb = 0;    // peak resident memory of the process, kilobytes
};

// Runs the built program (or `program`, a copy of it) in the directory
// with the given arguments; inChild, when given, is called in the new
// process just before the program is started.
inline RunResult run(const RunDir& dir, const std::vector<std::string>& args,
                     const std::function<void()>& inChild = {},
                     const std::string& program = XF_PROGRAM) {
  const fs::path outFile = dir.path().parent_path() / (dir.path().filename().string() + ".stdout");
  const fs::path errFile = dir.path().parent_path() / (dir.path().filename().string() + ".stderr");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (inChild) inChild();
    ::execv(name.c_str(), argv.data());
    ::_exit(126);
  }
  int wstatus = 0;
  rusage usage{};
  ::wait4(pid, &wstatus, 0, &usage);
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.maxRssKb = usage.ru_maxrss;
  result.out = fileContent(outFile);
  result.err = fileContent(errFile);
  fs::remove(outFile);
  fs::remove(errFile);
  return result;
}

// Holds a running child process at a point of its run that the test sees
// from outside (a new file beside a result file, say): polls `reached`
// (every 200 microseconds, for up to a minute), stops the process with
// SIGSTOP once it holds and asks `reached` again once the process stands
// still, since it may have gone on in between. True when the process is
// held stopped at such a point: a signal sent now comes when it is
// continued (SIGCONT), whatever the machine's load. False when the point
// was never seen or was passed: the process is then let go on, and the
// caller waits for it as usual (and may try again with a new run).
inline bool stopWhen(pid_t pid, const std::function<bool()>& reached) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool seen = false;
  while (!(seen = reached()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  if (!seen || ::kill(pid, SIGSTOP) != 0) return false;
  // Stopped or ended: the status stays for the caller's wait.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WEXITED | WNOWAIT) != 0)
    if (errno != EINTR) return false;
  if (info.si_code != CLD_STOPPED) return false;
  if (reached()) return true;
  ::kill(pid, SIGCONT);
  return false;
}

// The texts that depend on the clock, replaced by fixed ones: the run date
// and time ("05-MAR-01 14:05"), the banner's date ("05-Mar-2001 14:05:09")
// and the times of the timing lines.
inline std::string maskClock(const std::string& text) {
  static const std::regex runDate(R"(\d\d-[A-Z]{3}-\d\d \d\d:\d\d)");
  static const std::regex bannerDate(R"(\d\d-[A-Z][a-z]{2}-[ \d]{4} \d\d:\d\d:\d\d)");
  static const std::regex timing(R"((>>> CPU/Real time for pgm "[^"]*": ).*)");
  std::string masked = std::regex_replace(text, timing, "$1H:MM:SS.SSS / H:MM:SS.SSS");
  masked = std::regex_replace(masked, bannerDate, "DD-Mmm-YYYY HH:MM:SS");
  masked = std::regex_replace(masked, runDate, "DD-MMM-YY HH:MM");
  return masked;
}

// The text with the first occurrence of `from` replaced by `to` (a line of
// a keyword input file, say); throws when there is none.
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("no " + from + " in the text");
  return text.replace(at, from.size(), to);
}

}  // namespace e2e
