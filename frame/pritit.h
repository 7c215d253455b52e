// Run banner and run identity.
#pragma once

#include <optional>
#include <string_view>

// Prints the banner on LFNOUT (box width `width`, 79 when absent) and sets
// programName, programPurpose, runTitle and, unless the constants file has
// been read, runDate and runTime.
void PRITIT(std::string_view progName, std::string_view descr,
            std::optional<int> width = std::nullopt);
