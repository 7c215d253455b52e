// Epoch text forms.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// One epoch (nEpo 1) in epoch[0], or two (nEpo 2, the two-epoch form) in epoch[0..1].
// A blank text (or part) is no epoch. A text that is not a date and time of
// day of the Gregorian calendar (month 1 to 12, a day of that month with
// leap years counted, hours 0 to 23, minutes 0 to 59, seconds from 0 to
// below 60; the year is free) stops the run like a field that cannot be
// read: " *** SR ST2TIM: Cannot extract the datum/time." and the text.
void ST2TIM(int iForm, int nEpo, std::string_view string, double* epoch,
            std::optional<int> nDec = std::nullopt);
// Writes the epoch text into `string`, which keeps its length.
void TIMST2(int iForm, int nEpo, const double* epoch, std::string& string,
            std::optional<int> nDec = std::nullopt);
