// System files: connects the system input, the program output and the
// message file to their units, as the keywords SYSINP, SYSOUT, SYSERR,
// ERRMRG and SYSODEF ask, and sets LFNOUT and LFNMSG.
#pragma once

void OPNSYS();

// True when OPNSYS opens the file named by SYSERR as a message file of its
// own, emptying it: the name is not blank and not "SYSOUT", and ERRMRG does
// not merge the messages into the program output. Decided without writing
// anything.
bool ERRFIL();
