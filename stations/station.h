// The fixed-length texts of a station set: station names (kStationNameLen characters,
// compared as whole blank-padded names, case-sensitive), the five flag
// characters of a station line and plate names (4 characters).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "frame/widths.h"
#include "runtime/fixedtext.h"
#include "runtime/textindex.h"

using t_staName = rt::FixedText<kStationNameLen>;
using t_staFlg5 = rt::FixedText<5>;
using t_plateName = rt::FixedText<4>;

// The index of the first station of each name among the first n names of
// a list (none when n is 0 or less).
inline rt::FirstIndex<kStationNameLen> nameIndex(const std::vector<t_staName>& names, long long n) {
  const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
  return rt::FirstIndex<kStationNameLen>(std::span<const t_staName>(names.data(), count));
}
