// Geodetic datum lookup in the datum file of keyword DATUM.
#pragma once

#include <array>
#include <string>
#include <string_view>

// Looks up datumName (kDatumNameLen characters, exact) and returns the semi-major and
// semi-minor axes (m), the shift (m), the rotations (radians) and the scale
// factor of the datum; frmTyp (when not null) receives the frame type,
// left-adjusted, 16 characters. Returns only when the datum was found.
void GETDAT(std::string_view datumName, double& aEll, double& bEll, std::array<double, 3>& dxEll,
            std::array<double, 3>& drEll, double& scEll, std::string* frmTyp = nullptr);
