// Logical units: unit numbers mapped to open files.
#include "runtime/units.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <vector>

#include "runtime/fileid.h"
#include "runtime/iofailure.h"
#include "runtime/replace.h"
#include "runtime/text.h"

namespace rt {

namespace {

constexpr int kConsoleIn = 5;
constexpr int kConsoleOut = 6;
constexpr std::size_t kBufferSize = 1 << 16;
constexpr std::size_t kReadAheadSize = 1 << 16;

enum class LastOp { None, Read, Write };

constexpr int kNoWriter = -1;       // no unit (takeTurn)
constexpr int kConsoleWriter = -2;  // the console: unit 6 while no file is connected to it

struct Unit {
  FILE* file = nullptr;
  std::string name;       // as given to openUnit, without leading and trailing blanks
  // Where the name led at the open: the directory is held while the file
  // may be removed there (a regular file open for writing).
  FilePlace place;
  dev_t dev = 0;
  ino_t ino = 0;
  bool identified = false;  // dev and ino name the file (a new result file has none yet)
  bool regular = false;   // a regular file (can be cut)
  bool readOnly = false;
  bool scratch = false;
  bool formatted = true;
  bool result = false;         // opened as a result file
  bool sharesConsole = false;  // the file open as standard output or error
  LastOp last = LastOp::None;
  std::unique_ptr<char[]> buffer;
  std::unique_ptr<Replacement> replacement;  // a result file written beside its target
  // Reading: the file is read ahead in blocks (the buffer is made on the
  // first read), and records are cut from the block; the last record read
  // stays in `record`.
  std::unique_ptr<char[]> ahead;
  std::size_t aheadPos = 0;
  std::size_t aheadEnd = 0;
  std::string record;
};

struct UnitTable {
  std::map<int, Unit> units;
  // The name of the file last connected to each unit, for the message of a
  // failure on the unit once that file is closed.
  std::map<int, std::string> lastNames;
  std::ostream* out = &std::cout;
  std::istream* in = &std::cin;
  // The unit that wrote last; kNoWriter at the start and once a unit is
  // closed, whose number may come back with another file (takeTurn).
  int lastWriter = kNoWriter;
  // The console as one of the writers on a file (takeTurn): identified by
  // the file of descriptor 1 while it is standard output (identifyConsole).
  Unit console;
};

UnitTable& table() {
  static UnitTable t;
  return t;
}

std::string displayName(const Unit& u) { return u.scratch ? "scratch file" : u.name; }

Unit* findUnit(int unit) {
  auto it = table().units.find(unit);
  return it == table().units.end() ? nullptr : &it->second;
}

// Opens the file with POSIX flags; returns the descriptor or -1 with errno.
int openDescriptor(const FilePlace& place, const OpenRequest& req, bool& readOnly) {
  const std::string& st = req.status;
  int create = 0;
  if (st == "NEW") {
    create = O_CREAT | O_EXCL;
  } else if (st == "UNKNOWN" || st.empty()) {
    create = O_CREAT;
  } else if (st != "OLD") {
    errno = EINVAL;
    return -1;
  }
  readOnly = req.readOnly;
  // A FIFO or a device that the run only writes: opened for writing only
  // (units.h), waiting for the reader of a FIFO.
  const bool writeOnly = !readOnly && place.exists() && fifoOrDevice(place.status()) &&
                         req.role != FileRole::Ordinary;
  int fd = place.open((readOnly ? O_RDONLY : writeOnly ? O_WRONLY : O_RDWR) | create, 0666);
  const bool mayFallBack = req.role == FileRole::Ordinary || !place.writeProtected();
  if (fd < 0 && !readOnly && mayFallBack && (errno == EACCES || errno == EROFS)) {
    // An existing file that may only be read (an input file of another
    // owner) is opened for reading; a write to it then fails loudly.
    const int saved = errno;
    fd = place.open(O_RDONLY);
    if (fd >= 0) {
      readOnly = true;
    } else {
      errno = saved;
    }
  }
  return fd;
}

// ---- The program's own output ----

void flushStandardStreams() {
  table().out->flush();
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

// Writes the unit's records on a copy of the descriptor of the standard
// stream `console`, which is the file `sb`: what the program wrote there
// goes first, the records follow it, and the file is never cut or removed.
int shareConsole(Unit& u, const struct stat& sb, int console, int& fd) {
  flushStandardStreams();
  fd = ::fcntl(console, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return errno;
  u.sharesConsole = true;
  u.dev = sb.st_dev;
  u.ino = sb.st_ino;
  u.identified = true;
  return 0;
}

// Flushes and closes a file unit and removes it from the table; returns 0 or
// an errno value, and in `operation` the step that failed.
int closeFile(int unit, Disp disp, std::string& operation) {
  auto it = table().units.find(unit);
  table().lastWriter = kNoWriter;
  Unit& u = it->second;
  int status = 0;
  if (u.replacement) {
    // A result file written beside its target: put in place with Keep,
    // otherwise dropped (and with Delete the target removed as well).
    if (disp == Disp::Keep) {
      status = u.replacement->commit(u.file, operation);
    } else {
      std::fclose(u.file);
      u.replacement->abandon();
      if (disp == Disp::Delete) {
        const int e = u.place.remove();
        if (e != 0 && e != ENOENT) {
          status = e;
          operation = "delete";
        }
      }
    }
    u.file = nullptr;
    table().units.erase(it);
    return status;
  }
  if (u.file != nullptr) {
    if (std::fflush(u.file) != 0) {
      status = errno;
      operation = "write";
    }
    // A result file written in place reaches the disk before it counts as
    // written.
    if (status == 0 && u.result && u.regular && !u.readOnly && !u.sharesConsole &&
        disp != Disp::Delete && ::fsync(::fileno(u.file)) != 0) {
      status = errno;
      operation = "write";
    }
    if (std::fclose(u.file) != 0 && status == 0) {
      status = errno;
      operation = "close";
    }
    u.file = nullptr;
  }
  // Only a regular file is removed: never a FIFO, a device or a socket, nor
  // the file that is the program's own output.
  if (disp == Disp::Delete && !u.scratch && u.regular && !u.sharesConsole) {
    const int e = u.place.remove();
    if (e != 0 && e != ENOENT && status == 0) {
      status = e;
      operation = "delete";
    }
  }
  table().units.erase(it);
  return status;
}

bool isConsole(int unit) { return unit == kConsoleIn || unit == kConsoleOut; }

// Takes the identity of the console's file: that of descriptor 1 while the
// console is standard output, none while it is redirected. Renewed at every
// open, before which no unit can share its file.
void identifyConsole() {
  UnitTable& t = table();
  struct stat sb {};
  t.console.identified = t.out == &std::cout && ::fstat(1, &sb) == 0;
  t.console.dev = sb.st_dev;
  t.console.ino = sb.st_ino;
}

void flushConsole() {
  std::ostream& out = *table().out;
  out.flush();
  if (out.fail()) throw IoFailure("standard output", "write", "the stream failed");
}

// True when both units write on one file: records go to the file itself,
// not to a new file beside a target (which no other unit holds).
bool writeOnOneFile(const Unit& a, const Unit& b) {
  const auto through = [](const Unit& u) { return u.identified && !u.replacement; };
  return through(a) && through(b) && a.dev == b.dev && a.ino == b.ino;
}

// Units that write on one file (a standard stream, a FIFO or a device
// named for two purposes), and the console with them, each have a buffer
// of their own. Before a unit or the console writes after another one,
// every other writer on its file passes on what it holds, so the records
// reach the file in the order in which they were written.
void takeTurn(int unit, const Unit& self) {
  UnitTable& t = table();
  if (t.lastWriter == unit) return;
  t.lastWriter = unit;
  if (unit != kConsoleWriter && writeOnOneFile(t.console, self)) flushConsole();
  for (auto& [number, u] : t.units) {
    if (number == unit || u.last != LastOp::Write || !writeOnOneFile(u, self)) continue;
    if (std::fflush(u.file) != 0) {
      const int e = errno != 0 ? errno : EIO;
      std::clearerr(u.file);
      throw IoFailure(displayName(u), "write", std::strerror(e));
    }
  }
}

}  // namespace

int openUnit(int unit, const std::string& path, const OpenRequest& req) {
  // A result file not finished on the unit is dropped, not put in place;
  // any other file is closed as it stands.
  if (findUnit(unit) != nullptr) closeUnit(unit, Disp::Discard);

  Unit u;
  u.formatted = req.formatted;
  int fd = -1;
  if (req.status == "SCRATCH") {
    FILE* f = std::tmpfile();
    if (f == nullptr) return errno != 0 ? errno : EIO;
    u.file = f;
    u.scratch = true;
    u.regular = true;
    fd = ::fileno(f);
  } else {
    u.name = fileNameOf(path);
    if (u.name.empty()) return ENOENT;
    u.result = req.role == FileRole::Result;
    // Where the name leads is decided here, once.
    if (const int e = u.place.resolve(u.name); e != 0)
      return u.result ? unreachableResult(u.name, e) : e;
    const bool existed = u.place.exists();
    const struct stat resolved = u.place.status();
    // A file to write that is the program's standard output or error (a
    // name such as /dev/stdout): written through that stream.
    int console = -1;
    if ((u.result || (!req.readOnly && req.status == "UNKNOWN")) && u.place.exists())
      console = standardStreamOf(u.place.status());
    if (console >= 0) {
      if (req.status == "NEW") return EEXIST;
      const int e = shareConsole(u, u.place.status(), console, fd);
      if (e != 0) return e;
    } else if (u.result) {
      // A regular file named by the link of an open file (/dev/fd/N) is
      // replaced under its own name, never written where it stands.
      if (u.place.systemLink() && existed && S_ISREG(resolved.st_mode)) {
        FilePlace own;
        if (const int e = u.place.resolveOpenFile(own); e != 0) return e;
        u.place = std::move(own);
      }
      auto replacement = std::make_unique<Replacement>();
      const int e = replacement->begin(u.name, u.place, req.status);
      if (e != 0) return e;
      if (replacement->way() == Replacement::Way::Beside) {
        fd = replacement->descriptor();
        if (replacement->targetExisted()) {
          u.dev = replacement->targetDevice();
          u.ino = replacement->targetInode();
          u.identified = true;
        }
        u.replacement = std::move(replacement);
      }
    }
    // Written where it stands: opened in the directory its name led to.
    const bool inPlace = fd < 0;
    if (inPlace) {
      bool readOnly = false;
      fd = openDescriptor(u.place, req, readOnly);
      if (fd < 0) return errno != 0 ? errno : EIO;
      u.readOnly = readOnly;
    }
    // fdopen: a stream for writing only is not cut.
    const int access = ::fcntl(fd, F_GETFL) & O_ACCMODE;
    const char* mode = access == O_RDONLY ? "r" : access == O_WRONLY ? "w" : "r+";
    // On a failure from here on, a new file beside the target goes with
    // `u` (Replacement abandons it).
    struct stat sb {};
    if (::fstat(fd, &sb) != 0) {
      const int e = errno;
      ::close(fd);
      return e;
    }
    // The file opened where it stands is the one that the name led to (or a
    // regular file that the open made), not one put under the name since:
    // a FIFO in place of a regular file, say, would have been opened as the
    // other kind of file.
    const bool same = existed ? sb.st_dev == resolved.st_dev && sb.st_ino == resolved.st_ino
                              : S_ISREG(sb.st_mode);
    if (inPlace && !same) {
      ::close(fd);
      return EAGAIN;
    }
    if (S_ISDIR(sb.st_mode)) {
      ::close(fd);
      return EISDIR;
    }
    u.file = ::fdopen(fd, mode);
    if (u.file == nullptr) {
      const int e = errno;
      ::close(fd);
      return e;
    }
    if (inPlace) {
      u.dev = sb.st_dev;
      u.ino = sb.st_ino;
      u.identified = true;
      u.regular = S_ISREG(sb.st_mode);
    } else {
      // The new file beside the target can be cut; the program's own output
      // never is.
      u.regular = !u.sharesConsole;
    }
    // A file that is never removed here needs no directory. One that the
    // run may only read may still be removed (its directory decides).
    const bool removable = u.replacement || (u.regular && !u.sharesConsole);
    if (!removable) u.place.closeDirectory();
  }
  u.buffer = std::make_unique<char[]>(kBufferSize);
  std::setvbuf(u.file, u.buffer.get(), _IOFBF, kBufferSize);
  table().lastNames[unit] = displayName(u);
  table().units[unit] = std::move(u);
  identifyConsole();
  return 0;
}

bool unitOpened(int unit) { return isConsole(unit) || findUnit(unit) != nullptr; }

std::string unitName(int unit) {
  const Unit* u = findUnit(unit);
  return u == nullptr ? std::string() : u->name;
}

FileInquiry inquireFile(const std::string& path) {
  FileInquiry answer;
  FilePlace asked;
  if (asked.resolve(fileNameOf(path)) != 0) return answer;
  answer.exist = asked.exists();
  const struct stat& sb = asked.status();
  for (const auto& [number, u] : table().units) {
    if (u.scratch) continue;
    // A file known by what it is on disk; a new result file, which is not
    // there yet, by its directory and its name there.
    bool same = false;
    if (answer.exist && u.identified) {
      same = u.dev == sb.st_dev && u.ino == sb.st_ino;
    } else {
      same = u.place.sameNameAs(asked);
    }
    if (same) {
      // A result file exists for the program from its opening on, although
      // its content is put in place only at the close.
      if (u.replacement) answer.exist = true;
      answer.opened = true;
      answer.unit = number;
      answer.shared = !u.regular || u.sharesConsole;
      break;
    }
  }
  return answer;
}

FileKind fileKindOf(const std::string& path) {
  FilePlace place;
  if (place.resolve(fileNameOf(path)) != 0 || !place.exists()) return FileKind::None;
  const struct stat& sb = place.status();
  if (S_ISREG(sb.st_mode)) return FileKind::Regular;
  if (S_ISDIR(sb.st_mode)) return FileKind::Directory;
  if (S_ISFIFO(sb.st_mode)) return FileKind::Fifo;
  if (S_ISCHR(sb.st_mode)) return FileKind::CharDevice;
  if (S_ISBLK(sb.st_mode)) return FileKind::BlockDevice;
  if (S_ISSOCK(sb.st_mode)) return FileKind::Socket;
  return FileKind::Other;
}

void closeUnit(int unit, Disp disp) {
  Unit* u = findUnit(unit);
  if (u == nullptr) {
    if (unit == kConsoleOut) flushConsole();
    return;
  }
  const std::string name = displayName(*u);
  std::string operation;
  const int status = closeFile(unit, disp, operation);
  if (status != 0) throw IoFailure(name, operation, std::strerror(status));
}

int closeUnitIostat(int unit, Disp disp) {
  if (findUnit(unit) == nullptr) {
    if (unit == kConsoleOut) {
      table().out->flush();
      return table().out->fail() ? EIO : 0;
    }
    return 0;
  }
  std::string operation;
  return closeFile(unit, disp, operation);
}

namespace {

// Ends a record of which `total` characters were seen, the first of them
// (at most kMaxRecordLen + 1) held in `record`: a CR before the line end is
// dropped when the whole line is held, then the record is cut to its limit.
void endRecord(std::string& record, std::size_t total) {
  if (total == record.size() && !record.empty() && record.back() == '\r') record.pop_back();
  if (record.size() > kMaxRecordLen) record.resize(kMaxRecordLen);
}

// Appends what is still wanted of `len` characters to a record being read.
void takeCharacters(std::string& record, const char* p, std::size_t len) {
  const std::size_t room = kMaxRecordLen + 1 - record.size();
  record.append(p, len < room ? len : room);
}

int readConsoleRecord(std::string& record) {
  std::istream& in = *table().in;
  record.clear();
  std::size_t total = 0;
  char c = 0;
  while (in.get(c)) {
    if (c == '\n') {
      endRecord(record, total);
      return 0;
    }
    takeCharacters(record, &c, 1);
    ++total;
  }
  if (!in.eof()) return EIO;
  if (total == 0) return kIoEnd;
  endRecord(record, total);
  return 0;
}

// Reads the next record of a unit that is not a regular file (a pipe, a
// device) character by character: a read never waits for more than the
// line it takes.
int readStreamRecord(Unit& u) {
  std::string& record = u.record;
  record.clear();
  std::size_t total = 0;
  for (;;) {
    const int c = getc_unlocked(u.file);
    if (c == EOF) {
      if (std::ferror(u.file)) {
        const int e = errno != 0 ? errno : EIO;
        std::clearerr(u.file);
        return e;
      }
      std::clearerr(u.file);
      // Nothing at all before the end: the end of the file.
      if (total == 0) return kIoEnd;
      break;
    }
    if (c == '\n') break;
    const char ch = static_cast<char>(c);
    takeCharacters(record, &ch, 1);
    ++total;
  }
  endRecord(record, total);
  return 0;
}

// Reads the next record of a file unit into u.record.
int readFileRecord(Unit& u) {
  if (u.last == LastOp::Write) {
    // Switching from writing to reading needs a positioning call.
    if (std::fflush(u.file) != 0) throw IoFailure(displayName(u), "write", std::strerror(errno));
    std::fseek(u.file, 0, SEEK_CUR);
  }
  u.last = LastOp::Read;
  if (!u.regular) return readStreamRecord(u);
  std::string& record = u.record;
  record.clear();
  std::size_t total = 0;
  bool any = false;
  for (;;) {
    if (u.aheadPos == u.aheadEnd) {
      if (!u.ahead) u.ahead = std::make_unique<char[]>(kReadAheadSize);
      u.aheadPos = 0;
      u.aheadEnd = std::fread(u.ahead.get(), 1, kReadAheadSize, u.file);
      if (u.aheadEnd == 0) {
        if (std::ferror(u.file)) {
          const int e = errno != 0 ? errno : EIO;
          std::clearerr(u.file);
          return e;
        }
        std::clearerr(u.file);
        // Nothing at all before the end: the end of the file.
        if (!any) return kIoEnd;
        break;
      }
    }
    any = true;
    const char* p = u.ahead.get() + u.aheadPos;
    const std::size_t avail = u.aheadEnd - u.aheadPos;
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', avail));
    const std::size_t len = nl != nullptr ? static_cast<std::size_t>(nl - p) : avail;
    takeCharacters(record, p, len);
    total += len;
    u.aheadPos += len;
    if (nl != nullptr) {
      ++u.aheadPos;
      break;
    }
  }
  endRecord(record, total);
  return 0;
}

// Drops what was read ahead and not taken: the file is positioned after the
// last record read, where the next write starts.
int dropReadAhead(Unit& u) {
  const std::size_t unread = u.aheadEnd - u.aheadPos;
  u.aheadPos = u.aheadEnd = 0;
  return ::fseeko(u.file, -static_cast<off_t>(unread), SEEK_CUR);
}

std::string& consoleRecord() {
  static std::string record;
  return record;
}

}  // namespace

int readRecord(int unit, std::string& record) {
  std::string_view view;
  const int status = readRecordView(unit, view);
  if (status == 0) {
    record.assign(view);
  } else {
    record.clear();
  }
  return status;
}

int readRecordView(int unit, std::string_view& record) {
  record = {};
  Unit* u = findUnit(unit);
  if (u == nullptr && unit == kConsoleIn) {
    std::string& rec = consoleRecord();
    const int status = readConsoleRecord(rec);
    if (status == 0) record = rec;
    return status;
  }
  if (u == nullptr) return EBADF;
  const int status = readFileRecord(*u);
  if (status == 0) record = u->record;
  return status;
}

namespace {

// Writes `text` on the unit, followed by a line end where `lineEnd` is set.
void writeText(int unit, std::string_view text, bool lineEnd) {
  Unit* u = findUnit(unit);
  if (u == nullptr && unit == kConsoleOut) {
    takeTurn(kConsoleWriter, table().console);
    std::ostream& out = *table().out;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (lineEnd) out.put('\n');
    if (out.fail()) throw IoFailure("standard output", "write", "the stream failed");
    return;
  }
  if (u == nullptr && unit == kConsoleIn) {
    throw IoFailure("standard input", "write", "standard input cannot be written");
  }
  if (u == nullptr) {
    // The file closed under the run is named; a unit that never had one
    // has no name to give.
    const auto last = table().lastNames.find(unit);
    if (last != table().lastNames.end()) throw IoFailure(last->second, "write", "the file is closed");
    throw IoFailure("(none)", "write", "no file was opened for this output");
  }
  // The name for a failure is made only when one happens: this runs for every record.
  const auto fail = [&](const char* why) { throw IoFailure(displayName(*u), "write", why); };
  if (u->readOnly) fail("the file is open for reading only");
  takeTurn(unit, *u);
  if (u->last != LastOp::Write) {
    // Sequential output: the file ends after the records written from here.
    // A file that cannot be positioned (a FIFO, a pipe) is written on as it is.
    if (dropReadAhead(*u) != 0 && errno != ESPIPE) fail(std::strerror(errno));
    if (u->regular) {
      const off_t pos = ::ftello(u->file);
      if (pos < 0 || ::ftruncate(::fileno(u->file), pos) != 0) fail(std::strerror(errno));
    }
    u->last = LastOp::Write;
  }
  if (std::fwrite(text.data(), 1, text.size(), u->file) != text.size() ||
      (lineEnd && std::fputc('\n', u->file) == EOF)) {
    const int e = errno != 0 ? errno : EIO;
    std::clearerr(u->file);
    fail(std::strerror(e));
  }
}

}  // namespace

void writeRecord(int unit, std::string_view record) { writeText(unit, record, true); }

void writeRecords(int unit, std::string_view lines) {
  if (!lines.empty()) writeText(unit, lines, false);
}

void rewindUnit(int unit) {
  Unit* u = findUnit(unit);
  if (u == nullptr) return;  // the console and units not connected: no effect
  const std::string name = displayName(*u);
  if (std::fflush(u->file) != 0) {
    const int e = errno;
    std::clearerr(u->file);
    throw IoFailure(name, "write", std::strerror(e));
  }
  if (std::fseek(u->file, 0, SEEK_SET) != 0) throw IoFailure(name, "rewind", std::strerror(errno));
  u->aheadPos = u->aheadEnd = 0;
  std::clearerr(u->file);
  u->last = LastOp::None;
}

void flushAll() {
  // Every unit is flushed; the first failure is reported afterwards.
  std::string failedName;
  int failure = 0;
  for (auto& [number, u] : table().units) {
    if (u.last == LastOp::Write && std::fflush(u.file) != 0) {
      if (failure == 0) {
        failure = errno != 0 ? errno : EIO;
        failedName = displayName(u);
      }
      std::clearerr(u.file);
    }
  }
  flushConsole();
  if (failure != 0) throw IoFailure(failedName, "write", std::strerror(failure));
}

void setConsoleOutput(std::ostream* out) {
  table().out = out != nullptr ? out : &std::cout;
  identifyConsole();
}
void setConsoleInput(std::istream* in) { table().in = in != nullptr ? in : &std::cin; }

bool resultUnit(int unit) {
  const Unit* u = findUnit(unit);
  return u != nullptr && u->result;
}

void closeResultUnits(Disp disp) {
  std::vector<int> numbers;
  for (const auto& [number, u] : table().units)
    if (u.result) numbers.push_back(number);
  std::string failedName;
  std::string failedOperation;
  int failure = 0;
  for (int number : numbers) {
    const std::string name = displayName(*findUnit(number));
    std::string operation;
    const int status = closeFile(number, disp, operation);
    if (status != 0 && failure == 0) {
      failure = status;
      failedName = name;
      failedOperation = operation;
    }
  }
  if (failure != 0) throw IoFailure(failedName, failedOperation, std::strerror(failure));
}

void resetUnits() {
  for (auto& [number, u] : table().units) {
    if (u.file != nullptr) std::fclose(u.file);
    u.file = nullptr;
    u.replacement.reset();  // a result file not finished is dropped
  }
  table().units.clear();
  table().lastNames.clear();
  table().lastWriter = kNoWriter;
}

}  // namespace rt
