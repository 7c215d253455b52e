// Test support for the option checks: the run frame's fixture with a
// keyword list in memory, the message unit read back from the console, and
// helpers for expected records.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/testsupport.h"
#include "runtime/text.h"
#include "runtime/units.h"

using Lines = std::vector<std::string>;

// A keyword of the input file with its value lines.
using frametest::addKey;

class OptCheckTest : public frametest::FrameTest {
 protected:
  static constexpr const char* kInputFile = "/data/run/XFORM1.INP";

  void SetUp() override {
    FrameTest::SetUp();
    inpKey.fileName = rt::fit(kInputFile, 255);
    inpKey.readState = 2;
  }

 public:
  // Values as READKEYS returns them: 255 characters each.
  static std::vector<std::string> vals(std::initializer_list<std::string_view> values) {
    std::vector<std::string> out;
    for (std::string_view v : values) out.push_back(rt::fit(v, 255));
    return out;
  }

  // The records written to the console since the last call.
  Lines records() {
    rt::flushAll();
    Lines out = frametest::linesOf(console_.str());
    console_.str("");
    return out;
  }

  // Runs f and returns the exit status of the stop it makes (-1: none);
  // the keyword list is then readable again, as before the stop.
  static int exitStatus(const std::function<void()>& f) {
    const int status = frametest::exitStatusOf(f);
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
};
