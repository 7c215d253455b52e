// Station coordinate file reader.
#include "stations/getco3.h"

#include <algorithm>
#include <array>

#include "frame/epoch.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/textutil.h"
#include "frame/widths.h"
#include "runtime/chunkpool.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/textindex.h"
#include "runtime/units.h"

namespace {

constexpr std::string_view kRoutine = "getco3";

// Next line of the file, as read (at most kLineLen characters; columns past its
// end read as blanks); false at the end of the file or on a read error. The
// line stays valid until the next read.
bool nextLine(std::string_view& line) { return rt::readRecordView(LFNRD, line) == 0; }

// Column c of a line (counted from 0), a blank past its end.
char column(std::string_view line, std::size_t c) { return c < line.size() ? line[c] : ' '; }

[[noreturn]] void headerError(std::string_view filePath) {
  rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/)",
               {" *** SR GETCO3: Error reading header of coordinate file",
                rt::fit("File name:", 12), rt::trimRight(filePath)});
  EXITRC(2);
}

[[noreturn]] void dataLineError(std::string_view filePath, int nStat) {
  rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/,16X,A,I6,/)",
               {" *** SR GETCO3: Error reading data lines for coordinate file",
                rt::fit("File name:", 13), rt::trimRight(filePath), rt::fit("Line number:", 13),
                nStat});
  EXITRC(2);
}

[[noreturn]] void duplicateError(std::string_view filePath, std::string_view name) {
  rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/,16X,A,/)",
               {" *** SR GETCO3: More than one entry for station \"" + rt::trimRight(name) + "\"",
                "found in file: ", rt::trimRight(filePath), "Processing is stopped."});
  EXITRC(2);
}

// The number and the values of the taken station lines are converted in
// blocks: the lines of a block are collected as they are read, then
// converted in fixed chunks by the program's pool of threads, each chunk
// stopping at the first of its lines that cannot be read. The pool reports
// the first chunk in order that stopped so, so the line reported is the
// first in file order, the one a conversion line by line would have
// stopped at. A block of one chunk is converted by the calling thread
// alone. The lines of a block are a work buffer, no array of the reader's
// outputs: when there is no memory for it, the run ends as any allocation
// failure of that kind does (rt::runProgram), without an allocation block.
class ConversionBlock {
 public:
  static constexpr std::size_t kLines = 16384;
  static constexpr std::size_t kChunkLines = 2048;
  // Columns 1-66 of a line: the number (1-3) and the values (22-66).
  static constexpr std::size_t kWidth = 66;

  ConversionBlock(bool number, bool values) : number_(number), values_(values) {
    if (number_ || values_) text_.reserve(kLines * kWidth);
  }
  bool active() const { return number_ || values_; }
  bool full() const { return size() == kLines; }
  std::size_t size() const { return text_.size() / kWidth; }

  void add(std::string_view line) {
    const std::string_view used = line.substr(0, std::min(line.size(), kWidth));
    text_.append(used);
    text_.append(kWidth - used.size(), ' ');
  }

  // Converts the lines into num[0..size-1] and x[0..size-1] (either may be
  // null when not asked for); returns the position in the block of the
  // first line that could not be read, -1 when all were read. The block is
  // empty afterwards.
  std::ptrdiff_t convert(int* num, std::array<double, 3>* x) {
    const std::size_t n = size();
    const std::size_t nChunks = (n + kChunkLines - 1) / kChunkLines;
    // A line that cannot be read ends its chunk; of the chunks that end so
    // (or fail otherwise), the pool reports the first.
    struct BadLine {
      std::size_t line;
    };
    const auto chunk = [&](std::size_t c) {
      const std::size_t end = std::min(n, (c + 1) * kChunkLines);
      for (std::size_t i = c * kChunkLines; i < end; ++i) {
        if (!convertLine(i, num, x)) throw BadLine{i};
      }
    };
    std::ptrdiff_t bad = -1;
    try {
      if (nChunks > 1) {
        rt::ChunkPool::shared().run(nChunks, chunk);
      } else if (nChunks == 1) {
        chunk(0);
      }
    } catch (const BadLine& b) {
      bad = static_cast<std::ptrdiff_t>(b.line);
    }
    text_.clear();
    return bad;
  }

 private:
  bool convertLine(std::size_t i, int* num, std::array<double, 3>* x) const {
    const std::string_view line(text_.data() + i * kWidth, kWidth);
    if (number_ && rt::readFmtText(line.substr(0, 3), "(I3)", {num[i]}) != 0) return false;
    if (values_ && rt::readFmtText(line.substr(21, 45), "(3F15.5)", {x[i][0], x[i][1], x[i][2]}) != 0) {
      return false;
    }
    return true;
  }

  bool number_;
  bool values_;
  std::string text_;
};

}  // namespace

bool flagSelected(int nFlag, const std::vector<std::string>& flags, char flag) {
  const int count = std::min<int>(nFlag, static_cast<int>(flags.size()));
  for (int k = 0; k < count; ++k) {
    const char f = flags[k].empty() ? ' ' : flags[k][0];
    if (f == '@') return true;
    if (f == '#' && flag != ' ') return true;
    if (f == flag) return true;
  }
  return false;
}

void GETCO3(std::string_view filePath, int nFlag, const std::vector<std::string>& flags, int& nStat,
            std::vector<t_staName>& stname, const t_getco3Opt& opt) {
  // The file is read twice, first to count its lines: a FIFO, a pipe or a
  // device stops the run before either reading opens it.
  CHKINPF(filePath, kRoutine);

  // Size: station lines up to the first blank line.
  int nRest = 0;
  const long long n = std::max(0, LINCOUNT(filePath, 6, &nRest));
  nRest = std::max(0, nRest);

  // Each array gets room for n elements; the taken stations are appended
  // and the rest is filled with the initial values at the end, so that
  // every element is written once.
  reserveChecked(stname, n, "stname", {n}, kRoutine);
  if (opt.stanum) reserveChecked(*opt.stanum, n, "stanum", {n}, kRoutine);
  if (opt.xstat) reserveChecked(*opt.xstat, n, "xstat", {3, n}, kRoutine);
  if (opt.staflg) reserveChecked(*opt.staflg, n, "staflg", {n}, kRoutine);
  if (opt.staflg5) reserveChecked(*opt.staflg5, n, "staflg5", {n}, kRoutine);
  if (opt.plate) reserveChecked(*opt.plate, n, "plate", {n}, kRoutine);
  if (opt.footer) {
    allocChecked(*opt.footer, nRest, std::string(opt.footerLen, ' '), "footer", {nRest}, kRoutine);
  }

  int iostat = 0;
  OPNFIL(LFNRD, filePath, "OLD", "FORMATTED", "READONLY", " ", iostat);
  OPNERR(LFNMSG, LFNRD, iostat, filePath, kRoutine);

  // Header: title, then the datum line; lines 2, 4, 5 and 6 are passed over.
  std::string title;
  std::string datumLine;
  if (rt::readFmtUnit(LFNRD, "(A)", {rt::FTarget(title, kTitleLen)}) != 0 ||
      rt::readFmtUnit(LFNRD, "(/,A,///)", {rt::FTarget(datumLine, kLineLen)}) != 0) {
    headerError(filePath);
  }
  // A title or datum name asked for that holds a NUL byte is a header that
  // cannot be read.
  const std::string datumName = datumLine.substr(22, kDatumNameLen);
  if ((opt.fileTitle && rt::hasNul(title)) || (opt.datumName && rt::hasNul(datumName))) {
    headerError(filePath);
  }
  if (opt.fileTitle) *opt.fileTitle = title;
  if (opt.datumName) *opt.datumName = datumName;
  if (opt.timCrd) ST2TIM(1, 1, datumLine.substr(47, 19), opt.timCrd);

  // Station block. Whether the file carries values is decided on line 7.
  // Names and flags are taken as the lines are read; numbers and values are
  // converted block by block.
  nStat = 0;
  std::string_view line;
  bool lastRead = nextLine(line);
  const bool hasValues = lastRead && (column(line, 30) == '.' || column(line, 31) == '.');
  // A caller that asks for the values needs a file that carries them: a
  // first station line without them (shifted by a column, a tab in it)
  // would leave every value of the file at 0.0.
  if (opt.xstat && !hasValues && lastRead && !rt::isBlank(rt::columns(line, 5, 17))) {
    dataLineError(filePath, 1);
  }
  ConversionBlock block(opt.stanum != nullptr, hasValues && opt.xstat != nullptr);
  const auto convertBlock = [&] {
    const std::size_t first = static_cast<std::size_t>(nStat) - block.size();
    const std::ptrdiff_t bad = block.convert(opt.stanum ? opt.stanum->data() + first : nullptr,
                                             opt.xstat ? opt.xstat->data() + first : nullptr);
    if (bad >= 0) dataLineError(filePath, static_cast<int>(first) + static_cast<int>(bad) + 1);
  };
  while (lastRead && nStat < n && !rt::isBlank(rt::columns(line, 5, 17))) {
    if (flagSelected(nFlag, flags, column(line, 70))) {
      // A NUL byte, in a name as in a number, makes the line unreadable; a
      // line before it whose conversion is still pending is reported first.
      if (rt::hasNul(line)) {
        if (block.size() > 0) convertBlock();
        dataLineError(filePath, nStat + 1);
      }
      ++nStat;
      stname.emplace_back(rt::columns(line, 5, kStationNameLen));
      // Room for the number and the values, written by the conversion.
      if (opt.stanum) opt.stanum->push_back(0);
      if (opt.xstat) opt.xstat->push_back({0.0, 0.0, 0.0});
      if (block.active()) block.add(line);
      if (opt.staflg) opt.staflg->push_back(column(line, 70));
      if (opt.staflg5) opt.staflg5->emplace_back(rt::columns(line, 70, 5));
      if (opt.plate) opt.plate->emplace_back(rt::columns(line, 75, 4));
      if (block.full()) convertBlock();
    }
    lastRead = nextLine(line);
  }
  if (block.size() > 0) convertBlock();
  const auto size = static_cast<std::size_t>(n);
  stname.resize(size);
  if (opt.stanum) opt.stanum->resize(size, 0);
  if (opt.xstat) opt.xstat->resize(size, std::array<double, 3>{0.0, 0.0, 0.0});
  if (opt.staflg) opt.staflg->resize(size, ' ');
  if (opt.staflg5) opt.staflg5->resize(size);
  if (opt.plate) opt.plate->resize(size);

  // Footer: the line that ended the station block and every line after it.
  // It is not cut at the size counted above, so that no line of the file
  // is lost when the block ends before the first blank line.
  if (opt.footer && lastRead) {
    std::vector<std::string>& footer = *opt.footer;
    std::size_t k = 0;
    do {
      std::string text = rt::fit(line, opt.footerLen);
      if (k < footer.size()) {
        footer[k] = std::move(text);
      } else {
        footer.push_back(std::move(text));
      }
      ++k;
    } while (nextLine(line));
  }

  rt::closeUnit(LFNRD);

  // Duplicate names among the taken stations: the first station (in file
  // order) whose name occurs again is reported.
  const rt::FirstIndex<kStationNameLen> index = nameIndex(stname, nStat);
  if (index.firstRepeated() >= 0) duplicateError(filePath, stname[index.firstRepeated()]);
}
