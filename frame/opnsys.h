// System files: connects the system input, the program output and the
// message file to their units, as the keywords SYSINP, SYSOUT, SYSERR,
// ERRMRG and SYSODEF ask, and sets LFNOUT and LFNMSG.
#pragma once

void OPNSYS();
