// The codes of the Helmert estimation: how each station takes part, and in
// which system and unit its residuals are given.
//
// Routines whose arguments are integers by their contract (HELMTR's ITYP,
// resTyp and resUnt, HMINPI's results) hold these values as integers; each
// is converted once where it enters the estimator, the sweep or the report.
#pragma once

#include <cstddef>
#include <span>

namespace helm {

// How a station takes part in the estimation: an ITYP value. The codes
// compare with the integers of an ITYP array.
enum Handling : int {
  kUsed = 0,       // in the solution, the statistics and the rejection test
  kMarked = 1,     // its residual is computed and shown, nothing else
  kExcluded = 2,   // left out altogether: no residual, no row in the report
  kRejected = -1,  // rejected as an outlier by the estimator: shown, marked '*', not used
};

// The handling of an ITYP value: a value that is none of the four codes
// is taken as marked.
constexpr Handling handlingOf(int code) {
  switch (code) {
    case kUsed:
    case kExcluded:
    case kRejected:
      return static_cast<Handling>(code);
    default:
      return kMarked;
  }
}

// The system of the transformation and of its residuals: resTyp.
enum class ResidualSystem : int {
  // Any other resTyp: estimated in X/Y/Z, residuals in X/Y/Z.
  Frame = 0,
  // 1, "NEU": estimated in the north/east/up axes at the target set's
  // barycentre; residuals north, east and up there.
  Local = 1,
  // 2, "XYZ": estimated in X/Y/Z; residuals north, east and up at each
  // station (zero on the polar axis).
  Equatorial = 2,
  // 3: estimated in X/Y/Z; residuals along the station's position vector in
  // the transformed set, along its second direction (aux) and along their
  // cross product (zero on the polar axis).
  Projection = 3,
};

constexpr ResidualSystem residualSystemOf(int resTyp) {
  switch (static_cast<ResidualSystem>(resTyp)) {
    case ResidualSystem::Local:
    case ResidualSystem::Equatorial:
    case ResidualSystem::Projection:
      return static_cast<ResidualSystem>(resTyp);
    default:
      return ResidualSystem::Frame;
  }
}

// The unit of the printed residuals, statistics and translations: resUnt.
// 2 ("MM") millimetres; 1 ("M") and any other value metres.
enum class ResidualUnit : int { Metres = 1, Millimetres = 2 };

constexpr ResidualUnit residualUnitOf(int resUnt) {
  return resUnt == 2 ? ResidualUnit::Millimetres : ResidualUnit::Metres;
}

// The parameters estimated: iPar, 7 values (translations X, Y, Z, rotations
// about X, Y, Z, scale), 1 = estimated. When rotations or the scale are
// estimated without any translation, both sets are reduced to their own
// barycentres: the parameters then relate the reduced sets, and the shift
// between the barycentres is none of them.
constexpr bool reducedToBarycentres(std::span<const int> iPar) {
  bool rotationOrScale = false;
  for (std::size_t k = 3; k < 7; ++k) rotationOrScale = rotationOrScale || iPar[k] == 1;
  return rotationOrScale && iPar[0] != 1 && iPar[1] != 1 && iPar[2] != 1;
}

}  // namespace helm
