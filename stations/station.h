// The fixed-length texts of a station set: station names (16 characters,
// compared as whole blank-padded names, case-sensitive), the five flag
// characters of a station line and plate names (4 characters).
#pragma once

#include "runtime/fixedtext.h"

using t_staName = rt::FixedText<16>;
using t_staFlg5 = rt::FixedText<5>;
using t_plateName = rt::FixedText<4>;
