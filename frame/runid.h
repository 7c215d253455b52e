// Run identity, set by the banner and the constants.
#pragma once

#include <string>

extern std::string programName;     // 8 characters; blank: no end-of-run report, no removal of files
extern std::string programPurpose;  // kTitleLen characters
extern std::string runTitle;        // kTitleLen characters
extern std::string runDate;         // 9 characters, "05-MAR-01"
extern std::string runTime;         // 5 characters, "14:05"
