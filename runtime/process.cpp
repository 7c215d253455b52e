// The process: command line, clock, end of run.
#include "runtime/process.h"

#include <ctime>
#include <iostream>
#include <utility>

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

int runProgram(int argc, const char* const* argv, const std::function<void()>& body) {
  setCommandLine(argc, argv);
  int status = 0;
  try {
    body();
  } catch (const ProgramExit& e) {
    status = e.status;
  } catch (const IoFailure& e) {
    // What was written before the failure goes out before the message.
    const std::string flushFailure = finalFlush();
    std::cerr << e.what() << std::endl;
    if (!flushFailure.empty()) std::cerr << flushFailure << std::endl;
    return 127;
  }
  const std::string flushFailure = finalFlush();
  if (!flushFailure.empty()) {
    std::cerr << flushFailure << std::endl;
    return 127;
  }
  return status;
}

}  // namespace rt
