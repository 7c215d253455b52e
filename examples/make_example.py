#!/usr/bin/env python3
"""Makes the example of the Helmert transformation program.

Writes, into the folder of this script:
  XFORM1.INP        the keyword input file, every keyword commented
  DATUM.            the geodetic datum file
  REF_2020.CRD      first coordinate set: the reference frame, epoch 2020-01-01
  LOC_2022.CRD      second coordinate set: a local solution, epoch 2022-07-01 12:00
  REF_2020.VEL      velocities of the reference stations
  GENERATED.PAR     the transformation the second set was generated with

Thirty synthetic stations lie on the ellipsoid around the globe. The second
set is the first one moved to 2022-07-01 12:00 with the station velocities
and taken into another frame by a known seven-parameter transformation,
with millimetre noise and two outliers. Running the program on XFORM1.INP
(the constants file CONST. of this folder is used too) estimates that
transformation again.

Only the Python 3 standard library is used; the output is the same on every
run (a fixed pseudo-random sequence).
"""

import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# Ellipsoid of the datum (GRS80).
A = 6378137.0
RF = 298.257222101
E2 = 1.0 - (1.0 - 1.0 / RF) ** 2
MAS = math.pi / 180.0 / 3600.0 / 1000.0  # one milliarcsecond in radians

# The transformation from the second set into the first, in the program's
# model x1 = s R3(rz) R2(ry) R1(rx) (x2 + t): translations (m), rotations
# (mas) and scale (ppb, parts per billion).
TRANSLATION = (0.0463, -0.8271, 1.2356)
ROTATION_MAS = (1.25, -3.40, 2.05)
SCALE_PPB = -4.60

NOISE_NE = 0.0012  # standard deviation of the noise, north and east (m)
NOISE_U = 0.0025   # and up (m)
OUTLIERS = {"KETU": (0.0, 0.0, 0.0480),    # north, east, up (m), by station code
            "PORV": (0.0310, -0.0120, 0.0)}

EPOCH1 = (2020, 1, 1, 0)   # year, month, day, hour
EPOCH2 = (2022, 7, 1, 12)

# Thirty invented stations: code, latitude, longitude (degrees), height (m).
STATIONS = [
    ("ARVO", 64.15, -21.95, 72.0), ("BELK", 52.52, 13.40, 88.0),
    ("CORA", 40.42, -3.70, 667.0), ("DUNE", 25.28, 51.52, 23.0),
    ("ELMO", -1.29, 36.82, 1725.0), ("FARO", -33.92, 18.42, 45.0),
    ("GILA", 32.25, -110.95, 728.0), ("HOLT", 45.50, -73.57, 98.0),
    ("ISKA", 59.93, 30.33, 31.0), ("JORA", 28.61, 77.21, 216.0),
    ("KALI", 13.75, 100.50, 12.0), ("LUMA", 35.68, 139.69, 67.0),
    ("MIRA", -6.21, 106.85, 30.0), ("NEVA", -37.81, 144.96, 58.0),
    ("OKAR", -41.29, 174.78, 35.0), ("PULA", 21.31, -157.86, 44.0),
    ("QUIL", 61.22, -149.90, 120.0), ("RIOS", -22.91, -43.17, 18.0),
    ("SALA", -34.60, -58.38, 45.0), ("TUNE", -12.05, -77.04, 185.0),
    ("UMBA", 4.71, -74.07, 2582.0), ("VERA", 19.43, -99.13, 2256.0),
    ("WAKA", -17.83, 31.05, 1505.0), ("XALO", 14.69, -17.44, 35.0),
    ("YUKA", 62.03, 129.73, 134.0), ("ZORN", 78.22, 15.65, 78.0),
    ("KETU", -77.85, 166.67, 205.0), ("LAVA", 43.10, 141.35, 46.0),
    ("MOSA", 55.75, 37.62, 163.0), ("PORV", 9.03, 38.74, 2369.0),
]

# Rotation poles of three synthetic plates (degrees per million years);
# a station takes the plate of its longitude band.
PLATES = [("PLTW", (0.05, -0.21, -0.01)),    # longitudes below -30
          ("PLTE", (-0.06, -0.14, 0.19)),    # -30 to 100
          ("PLTP", (-0.09, 0.29, -0.60))]    # 100 and more


class Sequence:
    """A fixed pseudo-random sequence (linear congruential generator)."""

    def __init__(self, seed):
        self.state = seed

    def uniform(self):
        self.state = (6364136223846793005 * self.state + 1442695040888963407) % 2 ** 64
        return ((self.state >> 11) + 0.5) / 2 ** 53

    def normal(self):
        return math.sqrt(-2.0 * math.log(self.uniform())) * math.cos(2.0 * math.pi * self.uniform())


def mjd(year, month, day):
    """Modified Julian Date of a Gregorian date (day with its fraction)."""
    if month <= 2:
        year -= 1
        month += 12
    a = year // 100
    b = 2 - a + a // 4
    return int(365.25 * year) - 679006 + int(30.6001 * (month + 1)) + b + day


def geocentric(lat, lon, h):
    la, lo = math.radians(lat), math.radians(lon)
    n = A / math.sqrt(1.0 - E2 * math.sin(la) ** 2)
    return [(n + h) * math.cos(la) * math.cos(lo), (n + h) * math.cos(la) * math.sin(lo),
            (n * (1.0 - E2) + h) * math.sin(la)]


def local_to_xyz(lat, lon, d):
    """A north/east/up vector at (lat, lon) in X/Y/Z."""
    sl, cl = math.sin(math.radians(lat)), math.cos(math.radians(lat))
    so, co = math.sin(math.radians(lon)), math.cos(math.radians(lon))
    n, e, u = d
    return [-sl * co * n - so * e + cl * co * u, -sl * so * n + co * e + cl * so * u, cl * n + sl * u]


def rotation(axis, a):
    c, s = math.cos(a), math.sin(a)
    if axis == 1:
        return [[1, 0, 0], [0, c, s], [0, -s, c]]
    if axis == 2:
        return [[c, 0, -s], [0, 1, 0], [s, 0, c]]
    return [[c, s, 0], [-s, c, 0], [0, 0, 1]]


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def into_second(x1):
    """x2 with x1 = s R (x2 + t), so x2 = R^T x1 / s - t."""
    r = matmul(rotation(3, ROTATION_MAS[2] * MAS),
               matmul(rotation(2, ROTATION_MAS[1] * MAS), rotation(1, ROTATION_MAS[0] * MAS)))
    s = 1.0 + SCALE_PPB * 1.0e-9
    y = [sum(r[k][i] * x1[k] for k in range(3)) for i in range(3)]
    return [y[i] / s - TRANSLATION[i] for i in range(3)]


def plate_of(lon):
    return PLATES[0] if lon < -30 else PLATES[1] if lon < 100 else PLATES[2]


def velocity(x, omega):
    k = math.pi / 180.0 * 1.0e-6  # degrees per million years to radians per year
    return [k * (omega[1] * x[2] - omega[2] * x[1]), k * (omega[2] * x[0] - omega[0] * x[2]),
            k * (omega[0] * x[1] - omega[1] * x[0])]


def epoch_text(e):
    return "%04d-%02d-%02d %02d:00:00" % e


def coordinate_file(title, datum, epoch, rows):
    """rows: number, name, X, Y, Z, flag."""
    out = [title, "-" * 80,
           "LOCAL GEODETIC DATUM: %-16s  EPOCH: %s" % (datum, epoch), "",
           "NUM  STATION NAME           X (M)          Y (M)          Z (M)     FLAG", ""]
    for num, name, x, flag in rows:
        out.append(("%3d  %-16s%15.5f%15.5f%15.5f    %-5s" % (num % 1000, name, x[0], x[1], x[2], flag)).rstrip())
    out.append(" ")
    return out


def velocity_file(title, datum, rows):
    """rows: number, name, VX, VY, VZ, flag, plate."""
    out = [title, "-" * 80, ("LOCAL GEODETIC DATUM: %-16s" % datum).rstrip(), "",
           "NUM  STATION NAME           VX (M/Y)       VY (M/Y)       VZ (M/Y)  FLAG   PLATE", ""]
    for num, name, v, flag, plate in rows:
        out.append(("%3d  %-16s%15.5f%15.5f%15.5f    %-4s %-4s" % (num, name, v[0], v[1], v[2], flag, plate)).rstrip())
    out.append(" ")
    return out


def datum_file():
    def entry(name, frame, a, rf):
        return ["%-16s A  =  %12.3f DX =  %12.4f RX =  %10.4f" % (name, a, 0.0, 0.0),
                "%-16s 1/F = %12.7f DY =  %12.4f RY =  %10.4f" % (frame, rf, 0.0, 0.0),
                "%-16s SC =  %12s DZ =  %12.4f RZ =  %10.4f" % ("", "0.0000D+00", 0.0, 0.0),
                ""]
    out = ["GEODETIC DATUMS OF THE EXAMPLE", "-" * 80,
           "DATUM            ELLIPSOID            SHIFT (M)           ROTATION (\")",
           "-" * 80]
    out += entry("WGS 84", "GLOBAL", 6378137.0, 298.257223563)
    out += entry("GRS80", "GLOBAL", A, RF)
    return out


INPUT_FILE = r"""! Keyword input file of the example: the second coordinate set, a local
! solution of 2022, is transformed into the first, the reference frame of
! 2020. Each keyword line holds the name, the number of values and, for one
! value, the value; a table holds one value per line below its keyword line.
! Lines beginning with "!", "#" or "*" are comments.

! ---- Run frame --------------------------------------------------------
! Title of the run: shown in the banner and on line 1 of the lists.
TITLE 1 "Example: local solution 2022 into the reference frame 2020"
! Campaign named in the banner; session and year, when both are given,
! form the banner's session line ("unknown" otherwise).
CAMPAIGN 1 "EXAMPLE"
SES_INFO 1 ""
YR4_INFO 1 ""
! Variables for file names and the banner, one "NAME value" per line.
ENVIRONMENT 1 "USER example"
! System input file (this program reads nothing from it); blank: none.
SYSINP 1 ""
! Program output file; blank: the console.
SYSOUT 1 ""
! Check box: the SYSOUT name is a default name; 0 with a SYSOUT name that
! ends in two digits gives a warning.
SYSODEF 1 "0"
! Check box: 1 merges the messages into the program output; 0 sends them
! to the file of SYSERR ("SYSOUT": the program output), which must then be
! named. Without ERRMRG a blank SYSERR means the program output.
ERRMRG 1 "1"
SYSERR 1 ""
! Constants file (physical constants of the suite).
CONST 1 "CONST."
! Geodetic datum file: the datum of the first set must be in it.
DATUM 1 "DATUM."
! Keywords whose files are removed at the end of the run, one per line
! (none here).
DELETE_FILES 0

! ---- Coordinate sets ----------------------------------------------------
! First set: the target system of the transformation.
COORD1 1 "REF_2020.CRD"
! Second set: the set that is transformed.
COORD2 1 "LOC_2022.CRD"
! Velocities of the first set's stations: with a file named, the first set
! is moved to the epoch of the second set first. Blank: no epoch move.
VELAPR 1 "REF_2020.VEL"

! ---- Station selection ----------------------------------------------------
! RADIO_1 1: selection by a station file (USESTA); RADIO_2 1: by the table
! STASELECT. Exactly one of the two is 1.
RADIO_1 1 "1"
RADIO_2 1 "0"
! Station selection file (new format: title, hyphens, three header lines,
! one name per line). Blank: every paired station is used.
USESTA 1 ""
! Stations not in the selection file: MARK (shown, not used) or EXCLUDE.
OTHSTA 1 "MARK"
! Table of stations (read with RADIO_2 1): name, two columns that are not
! used, and the flag: blank used, M marked, E excluded. A station on no
! line is excluded; of two lines for one station the last decides.
STASELECT 3
  "ARVO 10201M001" "" "" ""
  "BELK 10202M001" "" "" "M"
  "CORA 10203M001" "" "" "E"

! ---- Estimation ---------------------------------------------------------
! System of the transformation and its residuals: XYZ (equatorial X/Y/Z,
! needed for the transformed coordinates) or NEU (local north/east/up at
! the barycentre).
RESIDTYPE 1 "XYZ"
! Unit of the printed residuals and translations: M or MM.
RESIDUNIT 1 "MM"
! Parameters to estimate (1) or not (0): translations X, Y, Z, rotations
! about X, Y, Z, scale.
HLM_1 1 "1"
HLM_2 1 "1"
HLM_3 1 "1"
HLM_4 1 "1"
HLM_5 1 "1"
HLM_6 1 "1"
HLM_7 1 "1"
! Outlier rejection (1): one station per pass, the one with the largest
! residual of those above a limit, until none exceeds a limit.
REJECT 1 "1"
! Limits of the north, east and up residuals in millimetres; blank or 0:
! no limit.
NLIMIT 1 "8"
ELIMIT 1 "8"
ULIMIT 1 "15"

! ---- Result files (blank: not written) ------------------------------------
! List of rejected stations (removed when no station is rejected).
LISTFIL 1 "REJECTED.LST"
! Transformation parameters: epoch, translations (cm), scale (ppb),
! rotations (mas), their rates and formal errors.
TRNFIL 1 "XFORM1.TRN"
! The second set transformed into the first set's system (XYZ only) ...
COORDRS 1 "TRANSFORMED.CRD"
! ... merged into this existing coordinate file; blank: no merge.
COORD 1 ""
! List of the stations used in the end, a station selection file.
OKSTA 1 "ACCEPTED.FIL"
"""


def main():
    seq = Sequence(20220701)
    e1 = mjd(EPOCH1[0], EPOCH1[1], EPOCH1[2] + EPOCH1[3] / 24.0)
    e2 = mjd(EPOCH2[0], EPOCH2[1], EPOCH2[2] + EPOCH2[3] / 24.0)
    first, second, velocities = [], [], []
    for i, (code, lat, lon, h) in enumerate(STATIONS):
        name = "%s %05dM001" % (code, 10201 + i)
        x1 = geocentric(lat, lon, h)
        plate, omega = plate_of(lon)
        v = velocity(x1, omega)
        first.append((i + 1, name, x1, "R"))
        velocities.append((i + 1, name, v, "V", plate))
        moved = [x1[k] + v[k] * (e2 - e1) / 365.25 for k in range(3)]
        x2 = into_second(moved)
        d = [NOISE_NE * seq.normal(), NOISE_NE * seq.normal(), NOISE_U * seq.normal()]
        d = [d[k] + OUTLIERS.get(code, (0.0, 0.0, 0.0))[k] for k in range(3)]
        dx = local_to_xyz(lat, lon, d)
        second.append((501 + i, name, [x2[k] + dx[k] for k in range(3)], "L"))
    # The second file lists its stations in another order.
    second.sort(key=lambda row: row[1][::-1])

    def write(name, lines):
        with open(os.path.join(HERE, name), "w", newline="\n") as out:
            out.write("\n".join(lines) + "\n")

    write("XFORM1.INP", INPUT_FILE.rstrip("\n").split("\n"))
    write("DATUM.", datum_file())
    write("REF_2020.CRD", coordinate_file("REFERENCE FRAME 2020, EXAMPLE NETWORK", "GRS80",
                                          epoch_text(EPOCH1), first))
    write("LOC_2022.CRD", coordinate_file("LOCAL SOLUTION 2022, EXAMPLE NETWORK", "GRS80",
                                          epoch_text(EPOCH2), second))
    write("REF_2020.VEL", velocity_file("VELOCITIES OF THE REFERENCE FRAME 2020", "GRS80",
                                        velocities))
    # The generating transformation in the units of the parameter file.
    write("GENERATED.PAR", [
        "! Transformation the example's second set was generated with",
        "! (units of the parameter file: cm, ppb, mas)",
        "TX %.5f" % (TRANSLATION[0] * 100.0),
        "TY %.5f" % (TRANSLATION[1] * 100.0),
        "TZ %.5f" % (TRANSLATION[2] * 100.0),
        "SC %.5f" % SCALE_PPB,
        "RX %.5f" % ROTATION_MAS[0],
        "RY %.5f" % ROTATION_MAS[1],
        "RZ %.5f" % ROTATION_MAS[2],
    ] + ["OUTLIER %s" % name for _, name, _, _ in first if name[:4] in OUTLIERS])


if __name__ == "__main__":
    main()
