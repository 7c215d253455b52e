// Epoch text forms.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// One epoch (nEpo 1) in epoch[0], or two (nEpo 2, the two-epoch form) in epoch[0..1].
void ST2TIM(int iForm, int nEpo, std::string_view string, double* epoch,
            std::optional<int> nDec = std::nullopt);
// Writes the epoch text into `string`, which keeps its length.
void TIMST2(int iForm, int nEpo, const double* epoch, std::string& string,
            std::optional<int> nDec = std::nullopt);
