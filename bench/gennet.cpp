// Makes a synthetic network for the benchmark: two coordinate files of N
// stations related by a known seven-parameter transformation, millimetre
// noise and K planted outliers of decimetres to metres, and a keyword input
// file that transforms the second set into the first.
//
//   gennet DIR N K [REJECT [regional]]
//
// DIR receives REF.CRD, LOC.CRD and XFORM1.INP; REJECT (default 1) is the
// value of the REJECT keyword. The stations cover the globe, or with
// "regional" a region of some 15 by 23 degrees. The constants and datum
// files are expected in DIR as CONST. and DATUM. (the benchmark copies the
// example's). The same arguments always give the same files.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/network.h"

namespace {

void writeHeader(std::FILE* f, const char* title, const char* epoch) {
  std::fprintf(f, "%-80s\n", title);
  std::fprintf(f, "%s\n", std::string(80, '-').c_str());
  std::fprintf(f, "LOCAL GEODETIC DATUM: %-16s  EPOCH: %s\n\n", "GRS80", epoch);
  std::fprintf(f, "NUM  STATION NAME           X (M)          Y (M)          Z (M)     FLAG\n\n");
}

void writeStation(std::FILE* f, long i, const char* name, const double* x) {
  std::fprintf(f, "%3ld  %-16s%15.5f%15.5f%15.5f    %-5s\n", (i + 1) % 1000, name, x[0], x[1],
               x[2], "R");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: gennet DIR N K [REJECT [regional]]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long n = std::atol(argv[2]);
  const long k = std::atol(argv[3]);
  const int reject = argc > 4 ? std::atoi(argv[4]) : 1;
  const bool regional = argc > 5 && std::string(argv[5]) == "regional";
  if (n < 1 || n > 9999999 || k < 0 || k > n) {
    std::fprintf(stderr, "gennet: need 1 <= N <= 9999999 and 0 <= K <= N\n");
    return 2;
  }

  std::FILE* ref = std::fopen((dir + "/REF.CRD").c_str(), "w");
  std::FILE* loc = std::fopen((dir + "/LOC.CRD").c_str(), "w");
  std::FILE* inp = std::fopen((dir + "/XFORM1.INP").c_str(), "w");
  if (ref == nullptr || loc == nullptr || inp == nullptr) {
    std::fprintf(stderr, "gennet: cannot write into %s\n", dir.c_str());
    return 1;
  }
  writeHeader(ref, "SYNTHETIC REFERENCE SET", "2020-01-01 00:00:00");
  writeHeader(loc, "SYNTHETIC LOCAL SET", "2020-01-01 00:00:00");

  bench::Network network(n, k, regional);
  for (long i = 0; i < n; ++i) {
    double x1[3], x2[3];
    network.next(x1, x2);
    char name[32];
    std::snprintf(name, sizeof name, "N%07ldM001", i + 1);
    writeStation(ref, i, name, x1);
    writeStation(loc, i, name, x2);
  }
  std::fprintf(ref, "\n");
  std::fprintf(loc, "\n");

  std::fprintf(inp,
               "TITLE 1 \"Synthetic network of %ld stations\"\n"
               "CAMPAIGN 1 \"BENCH\"\nSES_INFO 1 \"\"\nYR4_INFO 1 \"\"\n"
               "ENVIRONMENT 1 \"USER bench\"\nSYSINP 1 \"\"\nSYSOUT 1 \"XFORM1.OUT\"\n"
               "SYSODEF 1 \"1\"\nERRMRG 1 \"1\"\nSYSERR 1 \"\"\nCONST 1 \"CONST.\"\n"
               "DATUM 1 \"DATUM.\"\nDELETE_FILES 0\n"
               "COORD1 1 \"REF.CRD\"\nCOORD2 1 \"LOC.CRD\"\nVELAPR 1 \"\"\n"
               "RADIO_1 1 \"1\"\nRADIO_2 1 \"0\"\nUSESTA 1 \"\"\nOTHSTA 1 \"MARK\"\nSTASELECT 0\n"
               "RESIDTYPE 1 \"XYZ\"\nRESIDUNIT 1 \"MM\"\n"
               "HLM_1 1 \"1\"\nHLM_2 1 \"1\"\nHLM_3 1 \"1\"\nHLM_4 1 \"1\"\nHLM_5 1 \"1\"\n"
               "HLM_6 1 \"1\"\nHLM_7 1 \"1\"\nREJECT 1 \"%d\"\n"
               "NLIMIT 1 \"20\"\nELIMIT 1 \"20\"\nULIMIT 1 \"40\"\n"
               "LISTFIL 1 \"REJECTED.LST\"\nTRNFIL 1 \"XFORM1.TRN\"\nCOORDRS 1 \"\"\n"
               "COORD 1 \"\"\nOKSTA 1 \"\"\n",
               n, reject);
  const bool ok = std::fclose(ref) == 0 && std::fclose(loc) == 0 && std::fclose(inp) == 0;
  if (!ok) {
    std::fprintf(stderr, "gennet: write failed in %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
