// The Helmert transformation report and the list of rejected stations.
//
// Every block of the report is written on the report unit through the
// format-list writer; a value that is not finite fills its field with
// asterisks, like a number too wide for it. The print level decides which
// blocks appear (1: title, statistics, counts, barycentre, parameters,
// iterations; 2: also the system block and the residual table); the
// rejection part is written at every level.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "stations/station.h"
#include "xform/helmcodes.h"

// The outcome of the rejection as the report and the list of rejected
// stations show it: the numbers of accepted (used) and rejected stations
// and, in station order, the name and the final residual (north, east, up
// in metres) of each rejected station.
struct HelmRejections {
  int accepted = 0;
  int rejected = 0;
  std::vector<t_staName> names;
  std::vector<double> residuals;  // 3 per rejected station
};

// The list of rejected stations on the file named by keyword LISTFIL, when
// a name is given. When a station was rejected, the list is opened as a
// result file before the report's rejection block (openRejectedList: false
// when no name is given) and written after it (writeRejectedList: put in
// place of an old list once whole; rmsCmp: the RMS of the north, east and
// up residuals, metres). When none was rejected, an old list is removed
// after the report has said so (removeRejectedList). A failed open stops
// the run.
bool openRejectedList();
void writeRejectedList(const HelmRejections& rejections, const double* rmsCmp);
void removeRejectedList();

class HelmReport {
 public:
  HelmReport(int printUnit, int iPrt, helm::ResidualSystem system, helm::ResidualUnit unit);

  // Fewer coordinates than parameters (written instead of the report).
  void tooManyParameters(int nPar, int nUsed) const;

  // Title block, system block and table head.
  void head(std::string_view title1, std::string_view title2, std::string_view datumName) const;

  // One row of the residual table (v are north, east, up in metres),
  // appended to `rows` with its line end: threads may make the rows of
  // different stations at once; writeRows writes them on the report.
  void stationRow(std::string& rows, int number, const t_staName& name, char flag1, char flag2,
                  const double* v, helm::Handling code) const;
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

  // Rejection summary: the counts and the rejected stations, or the line
  // that no outlier was found.
  void rejection(const HelmRejections& rejections) const;

 private:
  bool millimetres() const { return unitOf_ == helm::ResidualUnit::Millimetres; }
  int unit_;
  int iPrt_;
  helm::ResidualSystem system_;
  helm::ResidualUnit unitOf_;
  double factor_;
  std::string unitText_;
};
