// Geodetic datum lookup.
#include "stations/getdat.h"

#include <algorithm>

#include "frame/constants.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

constexpr std::string_view kEntryFormat =
    "(A16,7X,F12.3,7X,F12.4,7X,F10.4,/,A16,7X,F12.7,7X,F12.4,7X,F10.4,/,"
    "23X,D12.4,7X,F12.4,7X,F10.4,/)";

// The frame type of an entry (its second A16 field).
constexpr std::size_t kFrameTypeLen = 16;
// The file name's field in a message, widened to the whole name when it is
// longer.
constexpr std::size_t kFileFieldLen = 32;

// The file name in its message field.
std::string fileField(const std::string& name) {
  return rt::fit(name, std::max<std::size_t>(kFileFieldLen, rt::trimLen(name)));
}

}  // namespace

void GETDAT(std::string_view datumName, double& aEll, double& bEll, std::array<double, 3>& dxEll,
            std::array<double, 3>& drEll, double& scEll, std::string* frmTyp) {
  std::string filNam(kLineLen, ' ');
  int irc = 0;
  GTFLNA(1, "DATUM", filNam, irc, kLineLen);

  // Read once: a FIFO serves, a device (/dev/zero) would give no end.
  CHKINPF(filNam, "GETDAT", InputReading::Once);
  int iostat = 0;
  OPNFIL(LFNRD, filNam, "OLD", "FORMATTED", "READONLY", " ", iostat);
  OPNERR(LFNMSG, LFNRD, iostat, filNam, "GETDAT");

  // Four header lines; a shorter file is an input/output failure.
  const int ios = rt::readFmtUnit(LFNRD, "(/,/,/)", {});
  if (ios != 0) throw rt::IoFailure(rt::trimRight(filNam), "read", "datum file header");

  const std::string wanted = rt::fit(datumName, kDatumNameLen);
  std::string name;
  std::string frame;
  double rf = 0.0;
  for (;;) {
    const int status = rt::readFmtUnit(
        LFNRD, kEntryFormat,
        {rt::FTarget(name, kDatumNameLen), aEll, dxEll[0], drEll[0],
         rt::FTarget(frame, kFrameTypeLen), rf, dxEll[1], drEll[1], scEll, dxEll[2], drEll[2]});
    if (status == rt::kIoEnd) {
      // The file ends within an entry: the datum is not in the file.
      rt::writeFmt(LFNMSG, "(/,' *** SR GETDAT: LOCAL GEODETIC DATUM NOT FOUND',/,16X,'DATUM: ',A16,/)",
                   {wanted});
      EXITRC(2);
    }
    if (status != 0) throw rt::IoFailure(rt::trimRight(filNam), "read", "datum file entry");
    if (name == wanted) break;
  }

  if (frmTyp != nullptr) {
    *frmTyp = rt::leftAdjust(rt::fit(frame, kFrameTypeLen));
    if (rt::isBlank(*frmTyp)) {
      rt::writeFmt(LFNMSG, "(/,1X,A,A,A,/,16X,A,2(/,16X,A,A),/)",
                   {"*** SR ", "GETDAT", ": FRAME TYPE (GLOBAL/REGIONAL/LOCAL)",
                    "HAS TO BE SPECIFIED", "FILE  : ", fileField(filNam), "DATUM : ",
                    rt::trimRight(wanted)});
      EXITRC(2);
    }
  }

  bEll = (1.0 - 1.0 / rf) * aEll;
  scEll = 1.0 + scEll;
  for (double& r : drEll) r = r / arcsecPerRad;
  rt::closeUnit(LFNRD);
}
