// The process: command line, clock, end of run.
#include "runtime/process.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <new>
#include <utility>

#include "runtime/chunkpool.h"
#include "runtime/units.h"

namespace rt {

namespace {

std::string failureText(const std::string& file, const std::string& operation,
                        const std::string& detail) {
  std::string text = "input/output failure: " + operation + " on file " + file;
  if (!detail.empty()) text += ": " + detail;
  return text;
}

std::vector<std::string>& commandLine() {
  static std::vector<std::string> args;
  return args;
}

std::optional<ClockValues>& clockOverride() {
  static std::optional<ClockValues> value;
  return value;
}

std::optional<double>& cpuOverride() {
  static std::optional<double> value;
  return value;
}

// Flushes every unit at the end of the run; returns the message of a
// failure there (an unchecked input/output failure too), empty on success.
std::string finalFlush() {
  try {
    flushAll();
  } catch (const IoFailure& e) {
    return e.what();
  }
  return {};
}

// Closes the result files that are still open: put in place (commit) or
// left as they were; returns the message of a failure, empty on success.
std::string finishResults(bool commit) {
  try {
    closeResultUnits(commit ? Disp::Keep : Disp::Discard);
  } catch (const IoFailure& e) {
    return e.what();
  }
  return {};
}

// The files to remove on a signal: each entry owns a copy of the name made
// when it was registered, so the handler only reads and unlinks.
constexpr int kTempEntries = 64;
std::atomic<char*> tempFiles[kTempEntries];

void removeTempFiles() {
  for (std::atomic<char*>& entry : tempFiles) {
    const char* name = entry.load();
    if (name != nullptr) ::unlink(name);
  }
}

// Signals that stop the program where it stands: a fault of its own (an
// instruction that cannot run, a bad address, an arithmetic fault, a bad
// system call, a trap) or an abort (std::terminate). The program cannot go
// on after them, so they are never held back.
bool faultSignal(int sig) {
  switch (sig) {
    case SIGSEGV: case SIGBUS: case SIGFPE: case SIGILL: case SIGABRT: case SIGTRAP: case SIGSYS:
      return true;
    default:
      return false;
  }
}

// Signals held back (SignalsHeld): how many holders there are, and the
// first signal that came meanwhile.
std::atomic<int> holders{0};
std::atomic<int> heldSignal{0};

// The actions of the signals when the run started (SignalScope), by number.
struct sigaction startActions[NSIG];

void defaultAction(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
}

// The usual ending for this signal: its default action.
void dieBy(int sig) {
  defaultAction(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
}

void removeTempFilesAndDie(int sig, siginfo_t* info, void* /*context*/) {
  const int savedErrno = errno;
  if (!faultSignal(sig) && holders.load() > 0) {
    int none = 0;
    heldSignal.compare_exchange_strong(none, sig);
    // Still held: the last holder ends the run. Otherwise the holders
    // have just gone, and whoever takes the signal first ends it.
    if (holders.load() > 0 || heldSignal.exchange(0) == 0) {
      errno = savedErrno;
      return;
    }
  }
  removeTempFiles();
  const bool fault = sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
  if (fault && info != nullptr && info->si_code > 0) {
    // The program's own fault (the kernel's signal, not one sent): the
    // faulting instruction runs again on return and meets the default
    // action, so that the process ends with this signal where the fault
    // is (a core dump shows the fault, not this handler).
    defaultAction(sig);
    errno = savedErrno;
    return;
  }
  dieBy(sig);
}

// The signal actions of the run, and those they replaced.
class SignalScope {
 public:
  SignalScope() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, &oldXfsz_);

    struct sigaction cleanup {};
    cleanup.sa_sigaction = removeTempFilesAndDie;
    // A sanitizer's alternate stack serves the handler too; an interrupted
    // call goes on after a held signal.
    cleanup.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&cleanup.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
      if (signalEndsTheRun(sig)) sigaddset(&cleanup.sa_mask, sig);
    for (int sig = 1; sig < NSIG; ++sig) {
      taken_[sig] = false;
      if (!signalEndsTheRun(sig) || ::sigaction(sig, nullptr, &startActions[sig]) != 0) continue;
      // Only a signal at its default action is taken: one ignored when the
      // run started (nohup) stays ignored, one with a handler of its own
      // (a sanitizer's, a profiler's) keeps it.
      const struct sigaction& start = startActions[sig];
      if ((start.sa_flags & SA_SIGINFO) != 0 || start.sa_handler != SIG_DFL) continue;
      taken_[sig] = ::sigaction(sig, &cleanup, nullptr) == 0;
    }
  }
  ~SignalScope() {
    for (int sig = 1; sig < NSIG; ++sig)
      if (taken_[sig]) ::sigaction(sig, &startActions[sig], nullptr);
    ::sigaction(SIGXFSZ, &oldXfsz_, nullptr);
  }
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;

 private:
  bool taken_[NSIG] = {};
  struct sigaction oldXfsz_ {};
};

// The end of a run that ran out of memory where no array is named: the
// result files not finished are left as they were and their new files
// removed, what was written goes out, and a message that needs no memory
// is written on standard error. Nothing here may throw: memory may still
// be short.
int outOfMemory() {
  try {
    closeResultUnits(Disp::Discard);
  } catch (...) {
  }
  removeTempFiles();
  try {
    flushAll();
  } catch (...) {
  }
  static constexpr char kMessage[] =
      "out of memory: the run is stopped, result files not finished are left as they were\n";
  std::cerr.write(kMessage, sizeof kMessage - 1);
  std::cerr.flush();
  return 1;
}

}  // namespace

IoFailure::IoFailure(std::string file, std::string operation, std::string detail)
    : std::runtime_error(failureText(file, operation, detail)),
      file_(std::move(file)),
      operation_(std::move(operation)) {}

void setCommandLine(int argc, const char* const* argv) {
  auto& args = commandLine();
  args.clear();
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
}

int argCount() {
  const auto& args = commandLine();
  return args.empty() ? 0 : static_cast<int>(args.size()) - 1;
}

std::string argument(int i) {
  if (i < 1 || i > argCount()) return {};
  return commandLine()[static_cast<std::size_t>(i)];
}

ClockValues localClock() {
  if (clockOverride()) return *clockOverride();
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  time_t secs = ts.tv_sec;
  localtime_r(&secs, &tm);
  return ClockValues{tm.tm_year + 1900,
                     tm.tm_mon + 1,
                     tm.tm_mday,
                     static_cast<int>(tm.tm_gmtoff / 60),
                     tm.tm_hour,
                     tm.tm_min,
                     tm.tm_sec,
                     static_cast<int>(ts.tv_nsec / 1000000)};
}

double cpuSeconds() {
  if (cpuOverride()) return *cpuOverride();
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void setClockOverride(std::optional<ClockValues> values) { clockOverride() = values; }
void setCpuOverride(std::optional<double> seconds) { cpuOverride() = seconds; }

int registerTempFile(const std::string& absolutePath) {
  for (int i = 0; i < kTempEntries; ++i) {
    if (tempFiles[i].load() != nullptr) continue;
    char* copy = ::strdup(absolutePath.c_str());
    if (copy == nullptr) return -1;
    char* expected = nullptr;
    if (tempFiles[i].compare_exchange_strong(expected, copy)) return i;
    std::free(copy);
  }
  return -1;
}

void unregisterTempFile(int entry) {
  if (entry < 0 || entry >= kTempEntries) return;
  char* name = tempFiles[entry].exchange(nullptr);
  std::free(name);
}

SignalsHeld::SignalsHeld() { holders.fetch_add(1); }

SignalsHeld::~SignalsHeld() {
  if (holders.fetch_sub(1) != 1) return;
  const int sig = heldSignal.exchange(0);
  if (sig != 0) {
    removeTempFiles();
    dieBy(sig);
  }
}

bool signalEndsTheRun(int sig) {
  switch (sig) {
    case SIGHUP: case SIGINT: case SIGQUIT: case SIGILL: case SIGTRAP: case SIGABRT:
    case SIGBUS: case SIGFPE: case SIGUSR1: case SIGSEGV: case SIGUSR2: case SIGPIPE:
    case SIGALRM: case SIGTERM: case SIGSTKFLT: case SIGXCPU: case SIGVTALRM: case SIGPROF:
    case SIGIO: case SIGPWR: case SIGSYS:
      return true;
    default:
      return sig >= SIGRTMIN && sig <= SIGRTMAX;
  }
}

int runProgram(int argc, const char* const* argv, const std::function<void()>& body) {
  const SignalScope signals;
  int status = 0;
  try {
    // The command line is the first memory the run takes.
    setCommandLine(argc, argv);
    // A setting of the threads that is not taken is told before anything else.
    ChunkPool::threadSetting();
    body();
  } catch (const ProgramExit& e) {
    status = e.status;
  } catch (const IoFailure& e) {
    // Result files not finished keep their old content; what was written
    // before the failure goes out before the message.
    finishResults(false);
    const std::string flushFailure = finalFlush();
    std::cerr << e.what() << std::endl;
    if (!flushFailure.empty() && flushFailure != e.what()) std::cerr << flushFailure << std::endl;
    return 127;
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  } catch (...) {
    // An ending that no routine expects: no result file is put in place nor
    // any new file left beside one, and the exception goes on as before.
    finishResults(false);
    finalFlush();
    throw;
  }
  const std::string resultFailure = finishResults(status == 0);
  const std::string flushFailure = finalFlush();
  if (!resultFailure.empty() || !flushFailure.empty()) {
    if (!resultFailure.empty()) std::cerr << resultFailure << std::endl;
    if (!flushFailure.empty()) std::cerr << flushFailure << std::endl;
    return 127;
  }
  return status;
}

}  // namespace rt
