// The process: command line, clock, end of run.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/iofailure.h"
#include "runtime/signals.h"

namespace rt {

// Thrown to end the run with an exit status (the exit sequence throws it
// after its last action). main turns it into the process exit status.
struct ProgramExit {
  int status;
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
// process, and a signal that ends the run first removes the new files
// beside result files (RunSignals in runtime/signals.h).
// Before anything else, each of the descriptors 0, 1 and 2 that is closed
// is opened on /dev/null, so that no file of the run takes the number of a
// standard stream.
int runProgram(int argc, const char* const* argv, const std::function<void()>& body);

}  // namespace rt
