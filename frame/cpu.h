// Run timers and the end-of-run report (module M_CPU).
#pragma once

#include <string>
#include <string_view>

namespace M_CPU {
extern double cpuStart;
extern double wallStart;
extern double cpuLast;
extern double wallLast;
}  // namespace M_CPU

void CPUBEG(int mode);
void CPUMARK(std::string_view label);
void CPUEND(int retCode);
std::string CPUFMT(double days);  // 13 characters
