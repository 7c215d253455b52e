// Test support for the system files, the constants and the banner: a fresh
// run state with the console captured and the clock fixed, a temporary
// directory per test, and a keyword list filled in memory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/reset.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace sysfiles_test {

namespace fs = std::filesystem;

// Keywords with their value lines, in file order.
using Keys = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Status of the ProgramExit that `body` ends with; -1 when it returns.
inline int exitStatusOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const rt::ProgramExit& e) {
    return e.status;
  }
  return -1;
}

// The records of a text.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

inline std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SysFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("sysfiles_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    freshRun();
  }
  void TearDown() override {
    resetRunState();
    rt::setClockOverride(std::nullopt);
    fs::remove_all(dir_);
  }

  // Program start again: run state reset, console captured and empty, the
  // clock at 05-Mar-2001 14:05:09.250, an empty temporary directory.
  void freshRun() {
    resetRunState();
    rt::setClockOverride(rt::ClockValues{2001, 3, 5, 60, 14, 5, 9, 250});
    rt::setConsoleOutput(&console_);
    console_.str("");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }

  // A value that starts with "@" names a file in the temporary directory.
  std::string expand(const std::string& v) const {
    return !v.empty() && v[0] == '@' ? (dir_ / v.substr(1)).string() : v;
  }

  // Fills the keyword list as the keyword input file reader leaves it.
  void setKeys(const Keys& keys) const {
    INPKINIT(inpKey);
    inpKey.fileName = rt::fit((dir_ / "XFORM1.INP").string(), 255);
    for (const auto& [name, values] : keys) {
      t_key key;
      key.keyName = rt::fit(name, 32);
      for (const std::string& v : values) key.value.push_back(rt::fit(expand(v), 255));
      inpKey.keys.push_back(key);
    }
    inpKey.keyCount = static_cast<int>(inpKey.keys.size());
    inpKey.readState = 2;
  }

  std::ostringstream console_;
  fs::path dir_;
};

}  // namespace sysfiles_test
