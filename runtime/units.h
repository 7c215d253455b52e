// Logical units: unit numbers mapped to open files.
//
// Unit 5 is standard input and unit 6 standard output from the start (both
// can be redirected for tests). Every other unit is connected by openUnit.
// A file may also be connected to unit 5 or 6 in place of the console; once
// that file is closed the unit is the console again, and closing the console
// itself only flushes it. Reading unit 6 or writing unit 5 while they are the
// console is an error.
// A file is the one its name leads to (runtime/fileid.h): the name is
// resolved once, at the open, so "a/../b.txt" is what the system takes it
// for, and a removal (Disp::Delete) removes the file in the directory that
// the name led to then. Leading and trailing blanks of a file name are not
// part of it (fileNameOf).
// Several units that write on one file (a standard stream, a FIFO or a
// device named for two purposes) deliver their records to it in the order
// in which they were written, whichever unit wrote them; the console (unit
// 6 while no file is connected to it) is one of them on the file of
// standard output.
//
// Failures: openUnit and the *Iostat calls return a status (0 success).
// readRecord returns kIoEnd at end of file. Every other call that fails
// (a write to a full disk, a write to a unit whose file is closed, a close
// or rewind that fails) throws IoFailure: an unchecked input/output failure.
// Its message names the file, never the unit: a unit that is no longer
// connected is known by the file last connected to it.
//
// Result files (FileRole::Result) are replaced whole or not at all, as
// runtime/replace.h tells: only a close with Keep puts the new content in
// place. A close with Discard or Delete, any failure, reconnecting the unit
// before the close, and the end of the run by an error or a signal leave
// the target as it was. A result file that is the very file open as
// standard output or standard error is written through that stream (the
// records follow what the program wrote there, nothing is cut); the targets
// that the replacement leaves where they stand are opened here by their
// place. Messages name the target, never the new file beside it.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

#include "runtime/fileid.h"

namespace rt {

// Status of a read: -1 at end of file (no record left).
constexpr int kIoEnd = -1;

// Keep: closed as it stands (a result file is put in place). Delete: the
// file is removed as well (a result file: the target is removed and its new
// content dropped); special files (FIFOs, devices, sockets) and the program
// output are never removed. Discard: a result file is left as it was before
// it was opened; any other unit is closed as with Keep.
enum class Disp { Keep, Delete, Discard };

// Ordinary: the file is written where it stands. Output: the same, for a
// file that the run only writes (the program output, the message file).
// Result: see above.
// A FIFO or a device opened as an Output or a Result is opened for writing
// only, never for reading as well: a FIFO without a reader is waited for,
// as any writer of a FIFO waits (a signal that ends the run ends the wait),
// its reader sees the end of the records at the close, and a reader that
// leaves early ends the run as a pipe closed early does (SIGPIPE, or, with
// that signal ignored, a failing write: IoFailure).
enum class FileRole { Ordinary, Output, Result };

struct OpenRequest {
  std::string status = "UNKNOWN";  // "OLD", "UNKNOWN", "NEW" or "SCRATCH" (upper case)
  bool formatted = true;
  bool readOnly = false;
  FileRole role = FileRole::Ordinary;
};

// Connects `path` to `unit`. OLD: the file must exist; NEW: it must not;
// UNKNOWN: opened when it exists, created otherwise; SCRATCH: a new
// temporary file that is removed when the unit is closed (path ignored).
// The file is positioned at its start; the first write after the open, a
// rewind or a read cuts the file at the current position (sequential
// output). Without readOnly the file is opened for reading and writing; an
// existing file that may only be read is then opened for reading, and a
// write to it fails; a protected file of another user (runtime/fileid.h)
// is so opened as an Ordinary file and not at all as an Output or a
// Result (EACCES). A file put under the name between its resolution and
// its opening is not taken (EAGAIN: the caller may try again). A regular
// file named as a result by the link of an open file (/dev/fd/N) is
// replaced under its own name (FilePlace::resolveOpenFile), or not opened
// when it has none (ENOENT). Returns 0 or a positive status (an errno
// value); a result file may throw IoFailure (see above). A unit that is
// already connected is closed first, with Discard: a result file not yet
// closed there is dropped. Formatted and unformatted units both hold text
// records.
int openUnit(int unit, const std::string& path, const OpenRequest& req = {});

bool unitOpened(int unit);
// Name of the file connected to `unit` as it was given to openUnit (the
// file name it stands for); empty when the unit is not connected (units 5
// and 6 have no name).
std::string unitName(int unit);

struct FileInquiry {
  bool exist = false;
  bool opened = false;
  int unit = -1;  // the unit to which the file is connected, -1 if none
  // The file connected is one that several units may hold at once: not a
  // regular file (a device such as /dev/null, a FIFO), or the file that is
  // the program's standard output or error.
  bool shared = false;
};
FileInquiry inquireFile(const std::string& path);

// What a file name stands for on disk, symbolic links followed (the file
// that opening the name reaches), found without opening it: None when
// nothing of that name can be looked at (a missing file, say).
enum class FileKind { None, Regular, Directory, Fifo, CharDevice, BlockDevice, Socket, Other };
FileKind fileKindOf(const std::string& path);

// Close with keep, delete or discard disposition; closing a unit that is
// not connected does nothing. closeUnit throws IoFailure when the close
// fails (for a result file: when it could not be put in place), naming the
// file; closeUnitIostat returns the status instead. The unit is closed in
// both cases.
void closeUnit(int unit, Disp disp = Disp::Keep);
int closeUnitIostat(int unit, Disp disp = Disp::Keep);

// True when `unit` holds a result file opened with FileRole::Result.
bool resultUnit(int unit);

// Closes every unit that holds a result file with `disp`; the first failure
// is thrown as IoFailure after all of them are closed.
void closeResultUnits(Disp disp);

// The longest record that any layout reads: a line's characters after the
// first kMaxRecordLen are skipped without being held.
constexpr std::size_t kMaxRecordLen = 255;

// Reads the next record: the line without its line end, cut to its first
// kMaxRecordLen characters. A CR before the line end is dropped when the
// line is not longer than that. Returns 0, kIoEnd (-1) at end of file, or
// a positive status when the unit is not connected or not readable.
// `record` keeps its storage from one call to the next.
int readRecord(int unit, std::string& record);

// As readRecord, with the record left in the unit's own buffer: `record`
// is valid until the next operation on the unit.
int readRecordView(int unit, std::string_view& record);

// Writes one record and its line end.
void writeRecord(int unit, std::string_view record);

// Writes records made ahead, each ended by '\n' in `lines` (as appendRecords
// in format.h makes them), as writeRecord would write them one by one.
void writeRecords(int unit, std::string_view lines);

// Positions the file at its start; no effect on the console or on a unit
// that is not connected.
void rewindUnit(int unit);

// Flushes every connected unit and the console.
void flushAll();

// Redirection of the console for tests: nullptr restores std::cout / std::cin.
void setConsoleOutput(std::ostream* out);
void setConsoleInput(std::istream* in);

// Closes every unit without checks (between in-process tests); result
// files are discarded.
void resetUnits();

}  // namespace rt
