// The program's usage.
#include "xform/usage.h"

#include <iostream>
#include <string>

#include "frame/m_vand.h"
#include "frame/readinpf.h"
#include "frame/widths.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

// The command line as READINPF takes it for the file name.
std::string commandLine() {
  std::string line(kLineLen, ' ');
  GETCMD(line);
  return rt::trimRight(line);
}

constexpr const char* kUsageLine = "Usage: xform1 KEYWORD_FILE   (xform1 --help for more)";

constexpr const char* kUsage[] = {
    "xform1: Helmert transformation between two sets of station coordinates.",
    "",
    "Usage: xform1 KEYWORD_FILE",
    "       xform1 -h | --help",
    "",
    "KEYWORD_FILE is the keyword input file: it names every input and result",
    "file and sets every option of the run. The file names in it are taken",
    "relative to the working directory, not to the keyword input file's folder.",
    "A keyword input file named -h or --help is given as ./-h or ./--help.",
    "",
    "XFORM1_THREADS=N (a positive integer) sets the number of threads; unset,",
    "the program chooses by the load of the machine. The results are the same.",
    "",
    "The README, section \"The keyword input file\", explains every keyword;",
    "examples/XFORM1.INP is a commented example.",
};

}  // namespace

bool usageAsked() {
  const std::string line = commandLine();
  return line == "-h" || line == "--help";
}

bool noKeywordFile() { return commandLine().empty(); }

void writeUsage() {
  for (const char* line : kUsage) rt::writeRecord(LFNOUT, line);
}

void writeUsageLine() {
  rt::flushAll();
  std::cerr << kUsageLine << std::endl;
}
