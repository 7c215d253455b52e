// The Helmert transformation program.
#pragma once

// The main driver: runs the whole program from the command line stored by
// the process entry. Ends through the exit sequence.
void XFORM1();
