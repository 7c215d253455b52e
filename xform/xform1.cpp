// Main driver of the Helmert transformation program.
#include "xform/xform1.h"

#include <cstdio>

#include "frame/exitrc.h"

void XFORM1() {
  std::puts(" The transformation driver is not built yet.");
  EXITRC(2);
}
