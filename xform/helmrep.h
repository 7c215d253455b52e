// The Helmert transformation report and the list of rejected stations.
//
// Every block of the report is written on the report unit through the
// format-list writer; a value that is not finite is printed as 0.0. The
// print level decides which blocks appear (1: title, statistics, counts,
// barycentre, parameters, iterations; 2: also the system block and the
// residual table); the rejection part is written at every level.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "stations/station.h"

class HelmReport {
 public:
  // resTyp 1 local north/east/up, other values equatorial; resUnt 2
  // millimetres, other values metres.
  HelmReport(int printUnit, int iPrt, int resTyp, int resUnt);

  // Fewer coordinates than parameters (written instead of the report).
  void tooManyParameters(int nPar, int nUsed) const;

  // Title block, system block and table head.
  void head(std::string_view title1, std::string_view title2, std::string_view datumName) const;

  // One row of the residual table (v are north, east, up in metres),
  // appended to `rows` with its line end: threads may make the rows of
  // different stations at once; writeRows writes them on the report.
  void stationRow(std::string& rows, int number, const t_staName& name, char flag1, char flag2,
                  const double* v, int code) const;
  void writeRows(std::string_view rows) const;

  void tableFoot() const;

  // Per component values in metres.
  void statistics(const double* rms, const double* mean, const double* minimum,
                  const double* maximum) const;

  // nPar reported (including the 3 implied by a reduction), number of
  // coordinates and sigma0 in metres.
  void counts(int nParam, int nCoord, double sigma0) const;

  // Latitude and longitude in radians, height in metres.
  void barycentre(double lat, double lon, double hgt) const;

  void parameterHead() const;
  // k: 0-2 translations (metres), 3-5 rotations (radians), 6 the scale factor.
  void parameterLine(int k, double value, double error) const;
  void iterations(int count) const;

  // Rejection summary on the report and the list file named by LISTFIL
  // (written when a station was rejected, an old one removed otherwise).
  // ITYP: handling codes, STNAME: names, residuals: 3 per rejected station
  // (code -1), in station order, in metres; rmsCmp: 3 values in metres.
  void rejection(int nStat, std::span<const int> ITYP, std::span<const t_staName> STNAME,
                 std::span<const double> residuals, const double* rmsCmp) const;

 private:
  bool millimetres() const { return resUnt_ == 2; }
  int unit_;
  int iPrt_;
  int resTyp_;
  int resUnt_;
  double factor_;
  std::string unitText_;
};
