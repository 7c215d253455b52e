// Storage of the run's shared state. Its start values are named once,
// below: the program starts with them and resetRunState() puts them back
// (setStartState()). The numbers are set before any code runs.
#include "frame/constants.h"
#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/reset.h"
#include "frame/runid.h"
#include "frame/widths.h"

namespace {

struct StartState {
  int lfnInp, lfnOut, lfnMsg, lfnAux, lfnErf, lfnOuf, lfnRd;
  std::size_t programNameLen, runDateLen, runTimeLen;
};
constexpr StartState kStart = {5, 6, 6, 996, 997, 998, 999, 8, 9, 5};

}  // namespace

int LFNINP = kStart.lfnInp;
int LFNOUT = kStart.lfnOut;
int LFNMSG = kStart.lfnMsg;
int LFNAUX = kStart.lfnAux;
int LFNERF = kStart.lfnErf;
int LFNOUF = kStart.lfnOuf;
int LFNRD = kStart.lfnRd;

t_inpkey inpKey;

std::string programName(kStart.programNameLen, ' ');
std::string programPurpose(kTitleLen, ' ');
std::string runTitle(kTitleLen, ' ');
std::string runDate(kStart.runDateLen, ' ');
std::string runTime(kStart.runTimeLen, ' ');

double pi = 0.0;
double degPerRad = 0.0;
double arcsecPerRad = 0.0;
int constantsRead = 0;

void setStartState() {
  INPKINIT(inpKey);

  programName.assign(kStart.programNameLen, ' ');
  programPurpose.assign(kTitleLen, ' ');
  runTitle.assign(kTitleLen, ' ');
  runDate.assign(kStart.runDateLen, ' ');
  runTime.assign(kStart.runTimeLen, ' ');

  LFNINP = kStart.lfnInp;
  LFNOUT = kStart.lfnOut;
  LFNMSG = kStart.lfnMsg;
  LFNAUX = kStart.lfnAux;
  LFNERF = kStart.lfnErf;
  LFNOUF = kStart.lfnOuf;
  LFNRD = kStart.lfnRd;

  pi = 0.0;
  degPerRad = 0.0;
  arcsecPerRad = 0.0;
  constantsRead = 0;
}
