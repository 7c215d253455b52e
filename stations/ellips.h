// Ellipsoidal and local coordinates.
//
// Datum record: aEll, bEll semi-major and semi-minor axis (metres), dxEll
// shift (3, metres), drEll rotations about the first, second and third axis
// (3, radians), scEll scale factor. Geocentric X relates to the datum's own
// Cartesian x by X = dxEll + scEll * D * x, D = R3(drEll[2]) R2(drEll[1])
// R1(drEll[0]). Matrices are 3 by 3, stored column by column (algebra.h).
// NEUCART and PROJDIR are re-entrant, and so is XYZELL but for the warning
// it may write about a point near the geocentre.
#pragma once

// ell := (latitude, longitude, height) of the geocentric point xyz in the
// datum. A point near the geocentre gets an approximation (with a warning on
// the message unit unless it lies within 1 cm of the geocentre); its
// latitude, too, lies within +-90 degrees and has the sign of z.
void XYZELL(double aEll, double bEll, const double* dxEll, const double* drEll, double scEll,
            const double* xyz, double* ell);

// Local north/east/up at (lat, lon, hgt) on the ellipsoid (aEll, bEll).
// iSig < 0: neu := rotMat * xyz (X/Y/Z to north/east/up);
// iSig >= 0: xyz := rotMat * neu (north/east/up to X/Y/Z).
// rotMat is the matrix applied. Where the Jacobian of the ellipsoidal
// coordinates is exactly singular, rotMat is formed from the local unit
// vectors instead.
void NEUCART(double lat, double lon, double hgt, double aEll, double bEll, int iSig, double* xyz,
             double* neu, double* rotMat);

// comp := components of vec along dirU, dirV and dirU x dirV (each the dot
// product divided by the direction's norm; 0.0 for a direction of norm 0).
// comp may be vec.
void PROJDIR(const double* vec, const double* dirU, const double* dirV, double* comp);
