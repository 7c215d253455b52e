// Process entry: hands the command line to the main driver.
#include "runtime/process.h"
#include "xform/xform1.h"

int main(int argc, char** argv) { return rt::runProgram(argc, argv, XFORM1); }
