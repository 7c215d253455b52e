// Restores the run's shared state to program start.
#include "frame/reset.h"

#include <string>

#include "frame/constants.h"
#include "frame/cpu.h"
#include "frame/d_inpkey.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/runid.h"
#include "runtime/units.h"

void resetRunState() {
  INPKINIT(inpKey);
  exitInpFile.clear();

  programName.assign(8, ' ');
  programPurpose.assign(80, ' ');
  runTitle.assign(80, ' ');
  runDate.assign(9, ' ');
  runTime.assign(5, ' ');

  LFNINP = 5;
  LFNOUT = 6;
  LFNMSG = 6;
  LFNAUX = 996;
  LFNERF = 997;
  LFNOUF = 998;
  LFNRD = 999;

  pi = 0.0;
  degPerRad = 0.0;
  arcsecPerRad = 0.0;
  constantsRead = 0;

  M_CPU::cpuStart = 0.0;
  M_CPU::wallStart = 0.0;
  M_CPU::cpuLast = 0.0;
  M_CPU::wallLast = 0.0;

  opnfilFailFirst = 0;

  rt::resetUnits();
  rt::setConsoleOutput(nullptr);
  rt::setConsoleInput(nullptr);
}
