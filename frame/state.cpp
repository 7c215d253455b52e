// Storage of the run's shared state. Its start values are written once, in
// setStartState(): the program starts with them and resetRunState() puts
// them back.
#include "frame/constants.h"
#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/reset.h"
#include "frame/runid.h"
#include "frame/widths.h"

int LFNINP;
int LFNOUT;
int LFNMSG;
int LFNAUX;
int LFNERF;
int LFNOUF;
int LFNRD;

t_inpkey inpKey;

std::string programName;
std::string programPurpose;
std::string runTitle;
std::string runDate;
std::string runTime;

double pi;
double degPerRad;
double arcsecPerRad;
int constantsRead;

void setStartState() {
  INPKINIT(inpKey);

  programName.assign(8, ' ');
  programPurpose.assign(kTitleLen, ' ');
  runTitle.assign(kTitleLen, ' ');
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
}

namespace {

// The program starts with the start values: set once the storage above is
// constructed, before main.
[[maybe_unused]] const bool started = (setStartState(), true);

}  // namespace
