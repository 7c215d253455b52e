// Test support for the system files, the constants and the banner: the run
// frame's fixture with the clock fixed and a keyword list whose values may
// name files of the temporary directory.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/testsupport.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace sysfiles_test {

using namespace frametest;

// Keywords with their value lines, in file order.
using Keys = std::vector<std::pair<std::string, std::vector<std::string>>>;

class SysFilesTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    freshRun();
  }

  // Program start again: run state reset, console captured and empty, the
  // clock at 05-Mar-2001 14:05:09.250, an empty temporary directory.
  void freshRun() {
    restart();
    rt::setClockOverride(rt::ClockValues{2001, 3, 5, 60, 14, 5, 9, 250});
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
      Texts expanded;
      for (const std::string& v : values) expanded.push_back(expand(v));
      addKey(name, expanded);
    }
    inpKey.keyCount = static_cast<int>(inpKey.keys.size());
    inpKey.readState = 2;
  }
};

}  // namespace sysfiles_test
