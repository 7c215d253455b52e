// Failure reports and the exit sequence.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Keyword input file whose return-code line EXIT_MEN rewrites (255 characters).
extern std::string exitInpFile;

// Ends the run: exit actions, end-of-run report, closing of units 10 to 999,
// then throws rt::ProgramExit with status 0 (return codes 0 and 1) or 1.
// Result files still open are put in place before the report (after return
// code 2 they stay as they were); a unit that cannot be closed ends the run
// with rt::IoFailure naming its file instead, and a result file that could
// not be put in place turns the report's last line into the error line.
[[noreturn]] void EXITRC(int retCode);
[[noreturn]] void EXIT_PGM(int retCode);
void EXIT_MEN(int retCode);
void EXIT_DEL();

// Returns when irc is 0; otherwise writes the allocation block and stops.
void ALCERR(int irc, std::string_view varName, std::initializer_list<long long> extents,
            std::string_view routineName);

// Returns when the status counts as success; otherwise writes the open
// failure block on msgUnit and stops.
void OPNERR(int msgUnit, int lfn, int iostat, std::string_view filePath,
            std::string_view routineName);
