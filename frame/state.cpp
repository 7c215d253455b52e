// Storage of the run's shared state.
#include "frame/constants.h"
#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/runid.h"

int LFNINP = 5;
int LFNOUT = 6;
int LFNMSG = 6;
int LFNAUX = 996;
int LFNERF = 997;
int LFNOUF = 998;
int LFNRD = 999;

t_inpkey inpKey;

std::string programName(8, ' ');
std::string programPurpose(80, ' ');
std::string runTitle(80, ' ');
std::string runDate(9, ' ');
std::string runTime(5, ' ');

double pi = 0.0;
double degPerRad = 0.0;
double arcsecPerRad = 0.0;
int constantsRead = 0;
