// The process: command line, clock, end of run.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rt {

// Thrown to end the run with an exit status (the exit sequence throws it
// after its last action). main turns it into the process exit status.
struct ProgramExit {
  int status;
};

// An input/output failure that no routine checks: exit status 127 with a
// message on standard error naming the file and the failed operation.
class IoFailure : public std::runtime_error {
 public:
  IoFailure(std::string file, std::string operation, std::string detail = {});
  const std::string& file() const { return file_; }
  const std::string& operation() const { return operation_; }

 private:
  std::string file_;
  std::string operation_;
};

// Command line, stored by the process entry.
void setCommandLine(int argc, const char* const* argv);
int argCount();                 // number of arguments, the program name not counted
std::string argument(int i);    // i from 1 to argCount(); empty outside

// Local clock: year, month, day, offset from UTC in minutes, hours, minutes,
// seconds, milliseconds.
using ClockValues = std::array<int, 8>;
ClockValues localClock();
// Processor time used by the process, in seconds.
double cpuSeconds();

// Tests may fix the clock; std::nullopt restores the real one.
void setClockOverride(std::optional<ClockValues> values);
void setCpuOverride(std::optional<double> seconds);

// Runs the program body and turns its end into an exit status: the status
// of a ProgramExit, 0 when the body returns, 127 for an IoFailure (message
// on standard error), 1 when memory runs out where no routine names the
// array (std::bad_alloc, or std::length_error for more elements than an
// array can hold: a message on standard error). Units and the
// console are flushed at the end; result files still open are put in place
// after status 0 and left as they were after any other ending (also when
// another exception leaves the body: it is thrown on afterwards). While the
// body runs, a file-size limit makes a write fail instead of killing the
// process (SIGXFSZ ignored), and every signal of signalEndsTheRun that is
// at its default action when the run starts (one ignored, as under nohup,
// or handled by a sanitizer stays so) first removes the files registered
// below and then ends the process as that signal does by default.
// Before anything else, each of the descriptors 0, 1 and 2 that is closed
// is opened on /dev/null, so that no file of the run takes the number of a
// standard stream.
int runProgram(int argc, const char* const* argv, const std::function<void()>& body);

// True for the signals whose default action ends the process (it
// terminates, with or without a core dump) and that can be caught: SIGHUP,
// SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1,
// SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
// SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS and the real-time signals.
// SIGXFSZ is not one: the run ignores it. The faults among them (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS) are never held back
// (SignalsHeld): the program cannot go on after them. A fault of the
// program itself ends the run where it happened, once the files are
// removed.
bool signalEndsTheRun(int sig);

// Files to remove when a signal ends the run (the new files beside result
// files). registerTempFile takes an absolute name and returns the entry, -1
// when there is no room; unregisterTempFile(-1) does nothing.
int registerTempFile(const std::string& absolutePath);
void unregisterTempFile(int entry);

// While an object of this class lives, a signal that ends the run (see
// runProgram), a fault aside, waits: it ends the run once the last such
// object is gone.
// For work that must not stop half way, such as a copy into a file.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

}  // namespace rt
