// Small program entry of the run frame: reads the keyword input file named by
// the command line, opens the files named by the keywords that PROBE_OPEN
// lists (one record each, left open) and ends the run with return code 0.
#include <string>
#include <vector>

#include "frame/cpu.h"
#include "frame/d_inpkey.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/readinpf.h"
#include "frame/readkeys.h"
#include "frame/runid.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

void probe() {
  CPUBEG(-1);
  INPKINIT(inpKey);
  READINPF("", inpKey);
  programName = rt::fit("FRPROBE", 8);

  std::vector<std::string> keys;
  int irc = 0;
  READKEYS("PROBE_OPEN", keys, irc);
  int lfn = 10;
  for (const std::string& key : keys) {
    std::string filePath;
    GTFLNA(1, rt::trimRight(key), filePath, irc);
    int iostat = 0;
    OPNFIL(lfn, filePath, "UNKNOWN", "FORMATTED", "", "", iostat);
    OPNERR(LFNMSG, lfn, iostat, filePath, "FRPROBE");
    rt::writeRecord(lfn, "probe record");
    ++lfn;
  }
  EXITRC(0);
}

}  // namespace

int main(int argc, char** argv) { return rt::runProgram(argc, argv, probe); }
