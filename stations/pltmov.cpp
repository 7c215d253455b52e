// Plate-motion models.
#include "stations/pltmov.h"

#include "runtime/text.h"
#include "stations/algebra.h"

const std::array<t_plate, 14> plateTable = {{
    {"PCFC", {-0.0907, 0.2902, -0.5976}},
    {"AFRC", {0.0532, -0.1856, 0.2348}},
    {"ANTA", {-0.0494, -0.1018, 0.2218}},
    {"ARAB", {0.4003, -0.0311, 0.4049}},
    {"AUST", {0.4695, 0.3072, 0.3762}},
    {"CARB", {-0.0109, -0.2027, 0.0945}},
    {"COCO", {-0.6249, -1.2944, 0.6544}},
    {"EURA", {-0.0590, -0.1434, 0.1887}},
    {"INDI", {0.3995, 0.0026, 0.4066}},
    {"NAZC", {-0.0921, -0.5138, 0.5756}},
    {"NOAM", {0.0152, -0.2155, -0.0094}},
    {"SOAM", {-0.0624, -0.0906, -0.0523}},
    {"JUFU", {0.2995, 0.4805, -0.2936}},
    {"PHIL", {0.5913, -0.4412, -0.5976}},
}};

namespace {

// Degrees per million years to radians per year.
constexpr double kDegMyToRadYr = 1.7453292E-8;
// Scale of the second model.
constexpr double kModel2Scale = 0.9562;

// The common part of both models: velocity and moved position; false (and
// six zeros) for a code that is not in the table.
bool plateMotion(std::string_view plate, double t0, double x, double y, double z, double t1,
                 double& x1, double& y1, double& z1, double& vx, double& vy, double& vz) {
  x1 = y1 = z1 = vx = vy = vz = 0.0;
  const std::string code = rt::fit(plate, 4);
  const t_plate* found = nullptr;
  for (const t_plate& p : plateTable) {
    if (code == p.code) found = &p;  // the last equal code counts
  }
  if (found == nullptr) return false;
  const double pos[3] = {x, y, z};
  double w[3];
  CROSS3(found->omega.data(), pos, w);
  vx = kDegMyToRadYr * w[0];
  vy = kDegMyToRadYr * w[1];
  vz = kDegMyToRadYr * w[2];
  x1 = x + (t1 - t0) * vx;
  y1 = y + (t1 - t0) * vy;
  z1 = z + (t1 - t0) * vz;
  return true;
}

}  // namespace

void PLTMOV(std::string_view plate, double t0, double x, double y, double z, double t1, double& x1,
            double& y1, double& z1, double& vx, double& vy, double& vz) {
  plateMotion(plate, t0, x, y, z, t1, x1, y1, z1, vx, vy, vz);
}

void PLTMV2(std::string_view plate, double t0, double x, double y, double z, double t1, double& x1,
            double& y1, double& z1, double& vx, double& vy, double& vz) {
  if (plateMotion(plate, t0, x, y, z, t1, x1, y1, z1, vx, vy, vz)) {
    vx *= kModel2Scale;
    vy *= kModel2Scale;
    vz *= kModel2Scale;
  }
}
