// Restores the run's shared state to program start.
#include "frame/reset.h"

#include <string>

#include "frame/cpu.h"
#include "frame/exitrc.h"
#include "frame/opnfil.h"
#include "runtime/units.h"

void resetRunState() {
  setStartState();
  exitInpFile.clear();

  M_CPU::cpuStart = 0.0;
  M_CPU::wallStart = 0.0;
  M_CPU::cpuLast = 0.0;
  M_CPU::wallLast = 0.0;

  opnfilFailFirst = 0;

  rt::resetUnits();
  rt::setConsoleOutput(nullptr);
  rt::setConsoleInput(nullptr);
}
