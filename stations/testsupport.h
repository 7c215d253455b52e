// Common ground of the station-data tests: a fresh run state, a temporary
// directory, keywords, captured console and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/reset.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace stationtest {

namespace fs = std::filesystem;

// A fixture file of this folder.
inline std::string fixture(const std::string& name) {
  return std::string(XF_SOURCE_DIR) + "/stations/testdata/" + name;
}

// Lines joined with line ends, as a file holds them.
inline std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class StationEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    static std::atomic<int> serial{0};
    dir_ = fs::temp_directory_path() /
           ("xf-stations-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    rt::setConsoleOutput(&console_);
  }
  void TearDown() override {
    resetRunState();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string writeFile(const std::string& name, const std::string& text) const {
    const std::string p = path(name);
    fs::create_directories(fs::path(p).parent_path());
    std::ofstream out(p, std::ios::binary);
    out << text;
    return p;
  }
  std::string writeLines(const std::string& name, const std::vector<std::string>& lines) const {
    return writeFile(name, joinLines(lines));
  }

  // A keyword of the keyword list with its values; the list counts as read.
  static void setKey(const std::string& name, const std::vector<std::string>& values) {
    t_key key;
    key.keyName = rt::fit(name, 32);
    for (const auto& v : values) key.value.push_back(rt::fit(v, 255));
    if (key.value.empty()) key.value.push_back(std::string(255, ' '));
    inpKey.keys.push_back(key);
    inpKey.keyCount = static_cast<int>(inpKey.keys.size());
    inpKey.readState = 2;
  }

  // Runs `body`; the exit status when it stops the run, -1 when it returns.
  static int stopStatus(const std::function<void()>& body) {
    try {
      body();
    } catch (const rt::ProgramExit& e) {
      return e.status;
    }
    return -1;
  }

  // A new run after a stop: state back to program start, console captured
  // afresh. Keywords must be set again.
  void freshRun() {
    resetRunState();
    console_.str("");
    rt::setConsoleOutput(&console_);
  }

  std::string console() const { return console_.str(); }
  void clearConsole() { console_.str(""); }

  // Names of the files in the temporary directory.
  std::vector<std::string> filesInDir() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::ostringstream console_;
};

}  // namespace stationtest
