// The process: command line, clock, end of run.
#include "runtime/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <iostream>
#include <new>
#include <stdexcept>
#include <utility>

#include "runtime/chunkpool.h"
#include "runtime/units.h"

namespace rt {

namespace {

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

namespace {

// Each of the descriptors 0, 1 and 2 that is closed is opened on /dev/null
// (0 for reading, 1 and 2 for writing), so that no file of the run takes
// the number of a standard stream and receives what is written there.
void openClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The system gives the lowest free number: `fd`, the lower ones being
    // open by now.
    if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0) continue;
  }
}

}  // namespace

int runProgram(int argc, const char* const* argv, const std::function<void()>& body) {
  openClosedStandardDescriptors();
  const RunSignals signals;
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
  } catch (const std::length_error&) {
    // An array asked for with more elements than an array can hold fails
    // to allocate like one for which memory runs out.
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
