// Station lists: station selection and station sigma files.
#include "stations/stalist.h"

#include <algorithm>
#include <stdexcept>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/mjd.h"
#include "frame/opnfil.h"
#include "frame/pritit.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/freeform.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

constexpr std::string_view kRoutine = "readstsg";
constexpr std::string_view kOldSigmaHeader =
    " *** SR READSTSG: Error reading sigmas from file (old format)";

enum class ListFormat { Unknown, Old, New };

bool nextLine(std::string& line) {
  return rt::readFmtUnit(LFNRD, "(A)", {rt::FTarget(line, kLineLen)}) == 0;
}

int lineLength(const std::string& line) { return static_cast<int>(rt::trimLen(line)); }

// Every asterisk from column `from` (0-based) on is read as the digit 9.
void starsToNines(std::string& line, std::size_t from) {
  std::replace(line.begin() + static_cast<std::ptrdiff_t>(std::min(from, line.size())),
               line.end(), '*', '9');
}

// Reads one free-form sigma from its field; false when it cannot be read
// or is negative. `blankOk`: a blank field is accepted and leaves `value`.
bool readSigma(const std::string& field, double& value, bool blankOk) {
  double v = 0.0;
  const rt::FreeRead r = rt::readFree(field, {v});
  if (!r.ok()) return blankOk && rt::isBlank(field);
  if (r.set.empty() || !r.set[0]) return true;
  if (v < 0.0) return false;
  value = v;
  return true;
}

class Reader {
 public:
  Reader(std::string_view filePath, int& nSig, t_stalist& list)
      : fileName_(rt::trimRight(filePath)), nSig_(nSig), list_(list) {}

  void firstPass();
  void allocate();
  void secondPass();

 private:
  void oldFormatLine(std::string& line);
  void newFormatLine(std::string& line);
  void store(const std::string& name) { list_.staNam[list_.nSta++].assign(name); }

  [[noreturn]] void sigmaError(std::string_view header, const std::string& name, int k,
                               const std::string& field, bool single);
  [[noreturn]] void columnsError(std::string_view fmt, std::string_view header,
                                 const std::string& name);
  [[noreturn]] void selectionError(const std::string& name);
  [[noreturn]] void unknownFormatError();
  // A line read as a text (a title, a station line, the line that ends the
  // list) that holds a NUL byte stops the run: the name would not match,
  // or the line would end the list early.
  void refuseNul(const std::string& line, int lineNumber);

  std::string fileName_;
  int& nSig_;
  t_stalist& list_;
  ListFormat format_ = ListFormat::Unknown;
  int count_ = 0;
  int maxLen_ = 0;
};

void Reader::firstPass() {
  std::string line;
  int lineNumber = 1;
  bool more = nextLine(line);
  if (more) refuseNul(line, lineNumber);
  if (more && lineLength(line) >= 5) {
    format_ = ListFormat::Old;
    count_ = 1;
    maxLen_ = lineLength(line);
  }
  if (more) {
    more = nextLine(line);
    ++lineNumber;
  }
  if (more) {
    if (line.compare(0, 5, "-----") == 0) {
      format_ = ListFormat::New;
      count_ = 0;
      maxLen_ = 0;
      for (int k = 0; k < 3 && more; ++k) {
        more = nextLine(line);
        ++lineNumber;
        if (more) maxLen_ = std::max(maxLen_, lineLength(line));
      }
    } else {
      refuseNul(line, lineNumber);
      if (lineLength(line) >= 5) {
        ++count_;
        if (format_ == ListFormat::Old) maxLen_ = std::max(maxLen_, lineLength(line));
      }
    }
  }
  while (more && (more = nextLine(line))) {
    ++lineNumber;
    if (format_ != ListFormat::Unknown) refuseNul(line, lineNumber);
    if (rt::isBlank(line)) break;
    const int len = lineLength(line);
    if (format_ == ListFormat::Old) {
      if (len >= 5) ++count_;
      maxLen_ = std::max(maxLen_, len);
    } else if (format_ == ListFormat::New) {
      ++count_;
    }
  }
  if (nSig_ == -1) {
    if (format_ == ListFormat::Old) nSig_ = (maxLen_ - 15) / 7;
    if (format_ == ListFormat::New) nSig_ = (maxLen_ - 11) / 10;
  }
}

void Reader::allocate() {
  allocChecked(list_.staNam, count_, t_staName(), "staList%staNam", {count_}, kRoutine);
  if (nSig_ > 0) {
    allocOrStop(
        [&] {
          std::vector<std::vector<double>>().swap(list_.sigma);
          list_.sigma.assign(static_cast<std::size_t>(count_),
                             std::vector<double>(static_cast<std::size_t>(nSig_), 0.0));
        },
        "staList%sigma", {nSig_, count_}, kRoutine);
  }
}

void Reader::secondPass() {
  rt::rewindUnit(LFNRD);
  list_.nSta = 0;
  std::string line;
  if (format_ == ListFormat::Old) {
    const std::string title = fileName_.size() < 45
                            ? "Converted from file " + fileName_
                            : "Converted from file .." + fileName_.substr(fileName_.size() - 41);
    std::string date;
    std::string time;
    DATTIM(date, time);
    list_.listTitle = datedTitle(title, date, time);
  } else if (format_ == ListFormat::New) {
    for (int k = 0; k < 5; ++k) {
      if (!nextLine(line)) break;
      if (k == 0) list_.listTitle = rt::fit(line, kTitleLen);
    }
  }

  while (list_.nSta < count_) {
    if (!nextLine(line) || rt::isBlank(line)) break;
    switch (format_) {
      case ListFormat::Old: oldFormatLine(line); break;
      case ListFormat::New: newFormatLine(line); break;
      case ListFormat::Unknown: unknownFormatError();
    }
  }
  rt::closeUnit(LFNRD);
}

void Reader::oldFormatLine(std::string& line) {
  const std::string name = line.substr(5, kStationNameLen);
  starsToNines(line, 21);
  const int len = lineLength(line);
  // Lines of one to four characters are no station lines (they are not
  // counted either).
  if (len < 5) return;

  const int n = list_.nSta;
  auto field = [&](int k) {
    return rt::fit(rt::columns(line, static_cast<std::size_t>(21 + 7 * (k - 1)), 7), 7);
  };
  auto readFields = [&](int nField) {
    for (int k = 1; k <= nField; ++k) {
      const std::string f = field(k);
      if (!readSigma(f, list_.sigma[n][k - 1], false)) {
        sigmaError(kOldSigmaHeader, name, k, f, false);
      }
    }
  };

  if (nSig_ == 0) {
    // A name, possibly followed by sigmas that are not asked for.
    store(name);
  } else if ((nSig_ == 1 || nSig_ == 3) && len >= 22 && len <= 28) {
    const std::string f = field(1);
    if (!readSigma(f, list_.sigma[n][0], false)) sigmaError(kOldSigmaHeader, name, 1, f, true);
    if (nSig_ == 3) list_.sigma[n][1] = list_.sigma[n][2] = list_.sigma[n][0];
    store(name);
  } else if (nSig_ == 3 && len >= 36 && len <= 42) {
    readFields(3);
    store(name);
  } else if (nSig_ == 2 && len >= 29 && len <= 35) {
    readFields(2);
    store(name);
  } else if ((nSig_ == 2 || nSig_ == 4) && len >= 43 && len <= 49) {
    readFields(nSig_);
    store(name);
  } else if (nSig_ > 0 || len > 21) {
    // Not the expected number of sigma fields (a name alone included).
    columnsError("(/,A,2(/,18X,A,A),/,18X,A,I2,/)",
                 " *** SR READSTSG: Error reading station sigma file (old format).", name);
  } else {
    // No sigma columns could be derived from the file: the name alone.
    store(name);
  }
}

void Reader::newFormatLine(std::string& line) {
  const std::string name = line.substr(0, kStationNameLen);
  starsToNines(line, kStationNameLen);
  const int n = list_.nSta;
  for (int k = 1; k <= nSig_; ++k) {
    const std::string f =
        rt::fit(rt::columns(line, static_cast<std::size_t>(20 + 10 * (k - 1)), 10), 10);
    if (!readSigma(f, list_.sigma[n][k - 1], true)) {
      sigmaError(" *** SR READSTSG: Error reading sigmas from file", name, k, f, false);
    }
  }
  const int len = lineLength(line);
  if (nSig_ == 0 && len > 20) selectionError(name);
  if (nSig_ != 0 && (len < 10 * (nSig_ - 1) + 21 || len > 10 * nSig_ + 20)) {
    columnsError("(/,A,2(/,18X,A,A),/18X,A,I10,/)",
                 " *** SR READSTSG: Error reading station sigma file.", name);
  }
  store(name);
}

void Reader::sigmaError(std::string_view header, const std::string& name, int k,
                        const std::string& field, bool single) {
  if (single) {
    rt::writeFmt(LFNMSG, "(/,A,2(/,18X,A,A),/,18X,A,A,/)",
                 {header, "File name:           ", fileName_, "Station name:        ",
                  rt::trimRight(name), "Sigma in column  1:  ", field});
  } else {
    rt::writeFmt(LFNMSG, "(/,A,2(/,18X,A,A),/,18X,A,I2,A,A,/)",
                 {header, "File name:           ", fileName_, "Station name:        ",
                  rt::trimRight(name), "Sigma in column ", k, ":  ", field});
  }
  EXITRC(2);
}

void Reader::columnsError(std::string_view fmt, std::string_view header, const std::string& name) {
  rt::writeFmt(LFNMSG, fmt,
               {header, "File name:                 ", fileName_, "Station name:              ",
                rt::trimRight(name), "Number of colums expected: ", nSig_});
  EXITRC(2);
}

void Reader::selectionError(const std::string& name) {
  rt::writeFmt(LFNMSG, "(/,A,2(/,18X,A,A),/,18X,A,/)",
               {" *** SR READSTSG: Error reading station selection file.", "File name:     ",
                fileName_, "Station name:  ", rt::trimRight(name),
                "Only the station name is expected on the line."});
  EXITRC(2);
}

void Reader::refuseNul(const std::string& line, int lineNumber) {
  if (!rt::hasNul(line)) return;
  rt::writeFmt(LFNMSG, "(/,A,2(/,18X,A,A),/)",
               {nSig_ == 0 ? " *** SR READSTSG: Error reading station selection file."
                           : " *** SR READSTSG: Error reading station sigma file.",
                "File name:     ", fileName_, "Line number:   ", std::to_string(lineNumber)});
  EXITRC(2);
}

void Reader::unknownFormatError() {
  rt::writeFmt(LFNMSG, "(/,A)", {" *** SR READSTSG: The format of the file is unknown."});
  if (nSig_ == 0) {
    rt::writeFmt(LFNMSG, "(18X,A)", {"A station selection file is expected here."});
  } else if (nSig_ > 0) {
    rt::writeFmt(LFNMSG, "(18X,A,I2,A)",
                 {"A station sigma file with ", nSig_, " columns is expected here."});
  }
  rt::writeFmt(LFNMSG, "(18X,A,A,/)", {"File name:           ", fileName_});
  EXITRC(2);
}

}  // namespace

void STALINIT(t_stalist& staList) {
  staList.nSta = 0;
  std::vector<t_staName>().swap(staList.staNam);
  std::vector<std::vector<double>>().swap(staList.sigma);
}

void READSTSG(std::string_view filePath, int& nSig, t_stalist& staList) {
  // The file is read twice (a rewind between the passes): a FIFO, a pipe or
  // a device stops the run before it is opened.
  CHKINPF(filePath, kRoutine);
  int iostat = 0;
  OPNFIL(LFNRD, filePath, "OLD", "FORMATTED", " ", " ", iostat);
  OPNERR(LFNMSG, LFNRD, iostat, filePath, kRoutine);

  Reader reader(filePath, nSig, staList);
  reader.firstPass();
  reader.allocate();
  reader.secondPass();
}
