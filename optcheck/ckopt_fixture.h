// Test support for the option checks: a keyword list in memory, the message
// unit captured from the console, and helpers for expected records.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/reset.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

using Lines = std::vector<std::string>;

class OptCheckTest : public ::testing::Test {
 protected:
  static constexpr const char* kInputFile = "/data/run/XFORM1.INP";

  void SetUp() override {
    resetRunState();
    rt::setConsoleOutput(&console_);
    inpKey.fileName = rt::fit(kInputFile, 255);
    inpKey.readState = 2;
  }
  void TearDown() override { resetRunState(); }

 public:
  // A keyword of the input file with its value lines.
  static void addKey(std::string_view name, std::initializer_list<std::string_view> values) {
    t_key key;
    key.keyName = rt::fit(name, 32);
    for (std::string_view v : values) key.value.push_back(rt::fit(v, 255));
    inpKey.keys.push_back(key);
    inpKey.keyCount = static_cast<int>(inpKey.keys.size());
  }

  // Values as READKEYS returns them: 255 characters each.
  static std::vector<std::string> vals(std::initializer_list<std::string_view> values) {
    std::vector<std::string> out;
    for (std::string_view v : values) out.push_back(rt::fit(v, 255));
    return out;
  }

  // The records written to the console since the last call.
  Lines records() {
    rt::flushAll();
    Lines out;
    std::istringstream in(console_.str());
    for (std::string line; std::getline(in, line);) out.push_back(line);
    console_.str("");
    return out;
  }

  // Runs f and returns the exit status of the stop it makes (-1: none);
  // the keyword list is then readable again, as before the stop.
  static int exitStatus(const std::function<void()>& f) {
    int status = -1;
    try {
      f();
    } catch (const rt::ProgramExit& e) {
      status = e.status;
    }
    inpKey.readState = 2;
    return status;
  }

  // A record indented by 16 blanks.
  static std::string in16(std::string_view text) {
    return std::string(16, ' ') + std::string(text);
  }

  // The first records of a diagnostic block: empty record, header, input
  // file, caller and option.
  static Lines head(std::string_view header, std::string_view caller, std::string_view option) {
    return {"", std::string(header), in16(std::string("Input file:  ") + kInputFile),
            in16("Called by:   " + std::string(caller)),
            in16("Option:      " + std::string(option))};
  }

  static Lines join(std::initializer_list<Lines> parts) {
    Lines out;
    for (const Lines& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }

  std::ostringstream console_;
};
