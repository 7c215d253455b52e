// Signals that end the run.
#include "runtime/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace rt {

namespace {

// The faults among kFaultSignals at which the faulting instruction runs
// again when the handler returns (the others are raised by a call).
constexpr int kRepeatingFaults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// The files to remove on a signal: each entry owns a copy of the name made
// when it was registered and borrows the directory, so the handler only
// reads and unlinks.
constexpr int kTempEntries = 64;
struct TempEntry {
  std::atomic<bool> taken{false};
  std::atomic<int> dirFd{-1};
  std::atomic<char*> base{nullptr};
};
TempEntry tempFiles[kTempEntries];

// Signals held back (SignalsHeld): how many holders there are, and the
// first signal that came meanwhile.
std::atomic<int> holders{0};
std::atomic<int> heldSignal{0};

// The actions of the signals when the run started (RunSignals), by number.
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
  bool fault = false;
  for (int repeating : kRepeatingFaults) fault = fault || sig == repeating;
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

}  // namespace

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

bool faultSignal(int sig) {
  for (int fault : kFaultSignals)
    if (sig == fault) return true;
  return false;
}

RunSignals::RunSignals() {
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

RunSignals::~RunSignals() {
  for (int sig = 1; sig < NSIG; ++sig)
    if (taken_[sig]) ::sigaction(sig, &startActions[sig], nullptr);
  ::sigaction(SIGXFSZ, &oldXfsz_, nullptr);
}

int registerTempFile(int dirFd, const std::string& base) {
  for (int i = 0; i < kTempEntries; ++i) {
    TempEntry& entry = tempFiles[i];
    bool free = false;
    if (!entry.taken.compare_exchange_strong(free, true)) continue;
    char* copy = ::strdup(base.c_str());
    if (copy == nullptr) {
      entry.taken.store(false);
      return -1;
    }
    // The directory is in place before the name makes the entry count.
    entry.dirFd.store(dirFd);
    entry.base.store(copy);
    return i;
  }
  return -1;
}

void unregisterTempFile(int entry) {
  if (entry < 0 || entry >= kTempEntries) return;
  char* base = tempFiles[entry].base.exchange(nullptr);
  std::free(base);
  tempFiles[entry].taken.store(false);
}

void removeTempFiles() {
  for (TempEntry& entry : tempFiles) {
    const char* base = entry.base.load();
    if (base != nullptr) ::unlinkat(entry.dirFd.load(), base, 0);
  }
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

}  // namespace rt
