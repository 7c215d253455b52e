// Failure reports and the exit sequence.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Keyword input file whose return-code line EXIT_MEN rewrites (kLineLen characters).
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

// The allocation check of every array the run allocates. allocates() runs
// `allocate` and tells whether it went through: false when an array could
// not be allocated, for want of memory (std::bad_alloc) or because it would
// have more elements than an array can hold (std::length_error, a count gone
// wrong); any other exception goes on. allocOrStop() stops the run through
// ALCERR (status 1) under varName, extents and routineName in that case.
template <typename Allocate>
[[nodiscard]] bool allocates(Allocate&& allocate) {
  try {
    allocate();
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

template <typename Allocate>
void allocOrStop(Allocate&& allocate, std::string_view varName,
                 std::initializer_list<long long> extents, std::string_view routineName) {
  if (!allocates(allocate)) ALCERR(1, varName, extents, routineName);
}

// Releases `v` and allocates it anew at n elements of `init`, through
// allocOrStop.
template <typename T>
void allocChecked(std::vector<T>& v, long long n, const T& init, std::string_view varName,
                  std::initializer_list<long long> extents, std::string_view routineName) {
  allocOrStop(
      [&] {
        std::vector<T>().swap(v);
        v.assign(static_cast<std::size_t>(n), init);
      },
      varName, extents, routineName);
}

// Releases `v` and reserves room for n elements, which the caller then
// appends one by one so that every element is written once, through
// allocOrStop.
template <typename T>
void reserveChecked(std::vector<T>& v, long long n, std::string_view varName,
                    std::initializer_list<long long> extents, std::string_view routineName) {
  allocOrStop(
      [&] {
        std::vector<T>().swap(v);
        v.reserve(static_cast<std::size_t>(n));
      },
      varName, extents, routineName);
}

// Returns when the status counts as success; otherwise writes the open
// failure block on msgUnit and stops.
void OPNERR(int msgUnit, int lfn, int iostat, std::string_view filePath,
            std::string_view routineName);
