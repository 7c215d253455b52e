// Makes a synthetic network for the benchmark: two coordinate files of N
// stations related by a known seven-parameter transformation, millimetre
// noise and K planted outliers of decimetres to metres, and a keyword input
// file that transforms the second set into the first.
//
//   gennet DIR N K [REJECT]
//
// DIR receives REF.CRD, LOC.CRD and XFORM1.INP; REJECT (default 1) is the
// value of the REJECT keyword. The constants and datum files are expected in
// DIR as CONST. and DATUM. (the benchmark copies the example's). The same
// arguments always give the same files.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A fixed pseudo-random sequence (64-bit linear congruential generator).
struct Sequence {
  std::uint64_t state;
  double uniform() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0);
  }
  double normal() {
    const double u1 = uniform() + 1e-300;
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }
};

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
    std::fprintf(stderr, "usage: gennet DIR N K [REJECT]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long n = std::atol(argv[2]);
  const long k = std::atol(argv[3]);
  const int reject = argc > 4 ? std::atoi(argv[4]) : 1;
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

  // GRS80 and the transformation from the first set into the second:
  // X2 = t + (1 + s) R X1 with small rotations.
  const double a = 6378137.0;
  const double f = 1.0 / 298.257222101;
  const double e2 = f * (2.0 - f);
  const double mas = 4.84813681109536e-9;
  const double t[3] = {0.046, -0.827, 1.235};
  const double r[3] = {1.3 * mas, -3.4 * mas, 2.1 * mas};
  const double s = -4.7e-9;

  Sequence seq{12345};
  // Outliers are spread evenly over the network.
  const long step = k > 0 ? n / k : n + 1;
  for (long i = 0; i < n; ++i) {
    const double lat = std::asin(2.0 * seq.uniform() - 1.0);
    const double lon = 6.283185307179586 * seq.uniform() - 3.141592653589793;
    const double h = 3000.0 * seq.uniform();
    const double sl = std::sin(lat), cl = std::cos(lat);
    const double nrad = a / std::sqrt(1.0 - e2 * sl * sl);
    const double x1[3] = {(nrad + h) * cl * std::cos(lon), (nrad + h) * cl * std::sin(lon),
                          (nrad * (1.0 - e2) + h) * sl};
    double x2[3] = {t[0] + (1.0 + s) * (x1[0] + r[2] * x1[1] - r[1] * x1[2]),
                    t[1] + (1.0 + s) * (-r[2] * x1[0] + x1[1] + r[0] * x1[2]),
                    t[2] + (1.0 + s) * (r[1] * x1[0] - r[0] * x1[1] + x1[2])};
    for (double& c : x2) c += 0.002 * seq.normal();
    if (k > 0 && i % step == step / 2 && i / step < k) {
      // An outlier of 0.1 m to 2 m in a random direction.
      const double size = 0.1 + 1.9 * seq.uniform();
      double d[3] = {seq.normal(), seq.normal(), seq.normal()};
      const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      for (int c = 0; c < 3; ++c) x2[c] += size * d[c] / len;
    }
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
