// Helmert (seven-parameter similarity) transformation between two sets of
// station coordinates, with outlier rejection and the transformation report.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "stations/station.h"

// Estimates XSTA1 = s * R * (XSTA2 + T), R = R3(rz) R2(ry) R1(rx), by
// iterated least squares, prints the report on printUnit and, with iRej 1,
// rejects one outlier per residual pass and writes (or removes) the list of
// rejected stations named by keyword LISTFIL.
//
// Arrays are stored column by column: station i (counted from 0) has its
// X, Y, Z at XSTA1[3*i .. 3*i+2], its flags at STAFLG[2*i] (target set's
// file) and STAFLG[2*i+1] (transformed set's file). aux (3 per station) is
// read only for the projected residuals. iPar, param and rmsPar hold 7
// values (tx, ty, tz, rx, ry, rz, s), rLimit and rmsCmp 3 (north, east, up).
// ITYP holds the handling codes, resTyp the residual system and resUnt the
// residual unit as integers (xform/helmcodes.h); stations rejected here are
// set to helm::kRejected.
//
// Stops the run with return code 2 (a block on the message unit) when no
// station is used, when rejections leave fewer coordinates than parameters,
// when the normal equations are singular, or when the solution does not
// converge within 100 steps since the last rejection.
void HELMTR(std::string_view title1, std::string_view title2, int nStat,
            std::span<const t_staName> STNAME, std::span<const int> STANUM,
            std::span<const char> STAFLG, std::span<const double> XSTA2,
            std::span<const double> XSTA1, std::span<const double> aux, std::span<int> ITYP,
            std::span<const int> iPar, int resTyp, int resUnt, std::string_view datumName,
            double aEll, double bEll, std::span<const double> dxEll, std::span<const double> drEll,
            double scEll, int printUnit, int iPrt, int iRej, std::span<const double> rLimit,
            std::span<double> param, std::span<double> rmsPar, double& rmsTrn, int& nDof,
            std::span<double> rmsCmp);
