// Plate-motion models: the velocity of a station on a rigid tectonic plate.
#pragma once

#include <array>
#include <string_view>

// One plate of the model table: four-character code and angular velocity
// about the geocentric X, Y and Z axes in degrees per million years.
struct t_plate {
  const char* code;
  std::array<double, 3> omega;
};

// The fourteen plates of the model.
extern const std::array<t_plate, 14> plateTable;

// Velocity (m/year) of the position (x, y, z) (m) on `plate`, and the
// position moved from epoch t0 to t1 (years) at that velocity. A plate code
// that is not in the table gives six zeros.
void PLTMOV(std::string_view plate, double t0, double x, double y, double z, double t1, double& x1,
            double& y1, double& z1, double& vx, double& vy, double& vz);

// As PLTMOV, the returned velocity scaled by 0.9562; the moved position is
// the one of PLTMOV (formed with the unscaled velocity).
void PLTMV2(std::string_view plate, double t0, double x, double y, double z, double t1, double& x1,
            double& y1, double& z1, double& vx, double& vy, double& vz);
