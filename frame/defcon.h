// Definition of the run's constants and reading of the constants file.
#pragma once

// Sets pi, degPerRad, arcsecPerRad and the run date and time; with iRead 1
// also reads the constants file named by keyword CONST into the key
// variables of frame/constants.h and derives the wavelength tables.
void DEFCON(int iRead);
