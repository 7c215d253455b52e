// Restores the run's shared state to program start (used between in-process tests).
#pragma once

// Keyword list, exit input file, run identity, unit numbers, constants and
// run timers back to their start values; every unit closed; the console
// back on the standard streams; the file-opening test hook cleared.
void resetRunState();

// Puts back the start values of the state that frame/state.cpp holds
// (keyword list, run identity, unit numbers, constants), named once there:
// the program starts with them, set before any code runs.
void setStartState();
