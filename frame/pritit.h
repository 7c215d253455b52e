// Run banner and run identity.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Prints the banner on LFNOUT (box width `width`, 79 when absent) and sets
// programName, programPurpose, runTitle and, unless the constants file has
// been read, runDate and runTime.
void PRITIT(std::string_view progName, std::string_view descr,
            std::optional<int> width = std::nullopt);

// A title with its date: `title` in kTitleLen characters, its last 16
// columns replaced by " dd-Mon-yy hh:mm" (`date` in 9 characters, `time`
// in 5).
std::string datedTitle(std::string_view title, std::string_view date, std::string_view time);
