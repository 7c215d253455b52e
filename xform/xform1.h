// The Helmert transformation program.
#pragma once

// The main driver: runs the whole program from the command line stored by
// the process entry. Ends through the exit sequence; a command line that
// asks for the usage (xform/usage.h) gets it and returns.
void XFORM1();
