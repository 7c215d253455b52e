// Modified Julian Date, calendar and clock.
#pragma once

#include <array>
#include <string>

void MJDCAL(double mjd, int& year, int& month, double& day);
double CALMJD(int year, int month, double day);
int FULLYR(int year);
double REMAIND(double x, double y);
// Current local date "05-MAR-01" (9 characters) and time "14:05" (5).
void DATTIM(std::string& date, std::string& time);
// Local clock: year, month, day, UTC offset in minutes, hours, minutes, seconds, milliseconds.
void DATVAL(std::array<int, 8>& values);
