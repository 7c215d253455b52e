// Signals that end the run: the new files of the run removed first, some
// work never cut half way.
#pragma once

#include <signal.h>

#include <string>

namespace rt {

// True for the signals whose default action ends the process (it
// terminates, with or without a core dump) and that can be caught: SIGHUP,
// SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1,
// SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
// SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS and the real-time signals.
// SIGXFSZ is not one: the run ignores it.
bool signalEndsTheRun(int sig);

// The faults among them: a fault of the program itself (an instruction
// that cannot run, a bad address, an arithmetic fault, a bad system call, a
// trap) or an abort (std::terminate). The program cannot go on after them:
// they are never held back (SignalsHeld), and a thread that raises one
// takes it itself (the workers of the thread pool block every other signal).
inline constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
bool faultSignal(int sig);

// While an object of this class lives, every signal of signalEndsTheRun
// that is at its default action when it is made (one ignored, as under
// nohup, or handled by a sanitizer stays so) first removes the files
// registered below and then ends the process as that signal does by
// default; a fault of the program itself ends it where it happened. SIGXFSZ
// is ignored meanwhile: a write beyond the file-size limit fails instead of
// killing the process. The destructor restores the actions found.
class RunSignals {
 public:
  RunSignals();
  ~RunSignals();
  RunSignals(const RunSignals&) = delete;
  RunSignals& operator=(const RunSignals&) = delete;

 private:
  bool taken_[NSIG] = {};
  struct sigaction oldXfsz_ {};
};

// Files to remove when a signal ends the run (the new files beside result
// files), each by its name in a directory: registerTempFile returns the
// entry, -1 when there is no room. The caller keeps `dirFd` open until it
// calls unregisterTempFile (-1 does nothing). The handler removes them by
// unlinkat(dirFd, base), which works at any depth and takes no memory.
int registerTempFile(int dirFd, const std::string& base);
void unregisterTempFile(int entry);
// Removes every registered file now (the end of a run out of memory).
void removeTempFiles();

// While an object of this class lives, a signal that ends the run, a
// fault aside, waits: it ends the run once the last such object is gone.
// For work that must not stop half way, such as a copy into a file.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

}  // namespace rt
