// Test support for the run frame: the run state back at program start around
// every test, the console captured, a fresh temporary directory per test, a
// keyword list filled in memory, and the catching of the end of a run.
// Used by tests only.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/reset.h"
#include "runtime/process.h"
#include "runtime/testsupport.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace frametest {

namespace fs = std::filesystem;

using Texts = std::vector<std::string>;

// Status of the ProgramExit that `body` ends with; -1 when it returns.
inline int exitStatusOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const rt::ProgramExit& e) {
    return e.status;
  }
  return -1;
}

// The records of a text, without their line ends.
inline Texts linesOf(const std::string& text) {
  Texts out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

using rttest::fileContent;

// Appends a keyword entry to inpKey as the keyword input file reader leaves
// it (name in 32 characters, values in 255); the read state stays as it is.
inline void addKey(const std::string& name, const Texts& values) {
  t_key key;
  key.keyName = rt::fit(name, 32);
  for (const auto& v : values) key.value.push_back(rt::fit(v, 255));
  inpKey.keys.push_back(key);
  inpKey.keyCount = static_cast<int>(inpKey.keys.size());
}

// A test of the run frame: program start before and after it, the console
// captured in `console_`, and an empty directory `dir_` of its own.
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    restart();
    dir_ = newTempDir();
  }
  void TearDown() override {
    rt::setClockOverride(std::nullopt);
    rt::setCpuOverride(std::nullopt);
    rt::setCommandLine(0, nullptr);
    resetRunState();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // The empty directory of the test; named after the running test.
  virtual fs::path newTempDir() const { return rttest::freshTempDir("frame"); }

  // Program start again: run state reset, console captured and empty.
  void restart() {
    resetRunState();
    console_.str("");
    rt::setConsoleOutput(&console_);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Writes a file of the temporary directory, making the directories the
  // name holds; returns its path.
  std::string writeFile(const std::string& name, const std::string& text) const {
    const std::string p = path(name);
    fs::create_directories(fs::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  Texts consoleLines() const { return linesOf(console_.str()); }

  std::ostringstream console_;
  fs::path dir_;
};

}  // namespace frametest
