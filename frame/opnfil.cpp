// File opening, inquiry and variable replacement.
#include "frame/opnfil.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "frame/d_inpkey.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/runid.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/freeform.h"
#include "runtime/text.h"
#include "runtime/units.h"

int opnfilFailFirst = 0;

namespace {

constexpr std::size_t kFieldLen = 20;
constexpr int kOpenAttempts = 10000;

// Writes the keyword block on the console and stops the run; openBusy stays
// set, so the exit sequence names OPNFIL as the place of the stop.
[[noreturn]] void unknownKeyword(const std::string& field, int lfn, const std::string& name) {
  rt::writeFmt(6, "(/,A,A,/,A,I3,/,A,A,/)",
               {" SR OPNFIL: UNKNOWN KEYWORD    : ", field,
                "            LOGICAL FILENUMBER : ", lfn,
                "            FILENAME           : ", name});
  EXITRC(2);
}

// The keyword in its 20-character field, upper-cased unless the program is
// exiting.
std::string keywordField(std::string_view keyword) {
  std::string field = rt::fit(keyword, kFieldLen);
  if (inpKey.readState < 3) UPPERC(field);
  return field;
}

// Value of the variable `name` from the first ENVIRONMENT keyword; false when
// no usable line defines it.
bool lookUpVariable(const std::string& name, std::string& value) {
  const t_key* env = nullptr;
  for (const t_key& key : inpKey.keys) {
    if (rt::eqPadded(key.keyName, "ENVIRONMENT")) {
      env = &key;
      break;
    }
  }
  if (env == nullptr) return false;
  for (const std::string& line : env->value) {
    std::string varName(kLineLen, ' ');
    std::string varValue(kLineLen, ' ');
    const rt::FreeRead read =
        rt::readFree(line, {rt::FreeTarget(varName, kLineLen), rt::FreeTarget(varValue, kLineLen)});
    if (read.set.empty() || !read.set[0]) continue;  // no name on this line
    if (!read.set[1]) varValue.assign(kLineLen, ' ');
    if (varValue.find('$') != std::string::npos) continue;
    if (rt::eqPadded(varName, name)) {
      value = varValue;
      return true;
    }
  }
  return false;
}

// The file name as OPNFIL takes it: left-adjusted in kLineLen characters, its
// variables replaced (RPLENVAR in mode iMode) once the keyword list is
// read; `replaced` tells whether there were references to replace.
std::string nameToOpen(std::string_view filePath, int iMode, bool& replaced) {
  std::string name = rt::fit(filePath, kLineLen);
  LEFTJS(name);
  replaced = inpKey.readState == 2 && name.find('$') != std::string::npos;
  if (replaced) RPLENVAR(iMode, name);
  return name;
}

const char* kindText(rt::FileKind kind) {
  switch (kind) {
    case rt::FileKind::Fifo: return "FIFO or pipe";
    case rt::FileKind::CharDevice: return "character device";
    case rt::FileKind::BlockDevice: return "block device";
    case rt::FileKind::Socket: return "socket";
    default: return "special file";
  }
}

}  // namespace

void LEFTJS(std::string& string) { string = rt::leftAdjust(string); }

void UPPERC(std::string& string) { string = rt::upperAZ(string); }

void RPLENVAR(int iMode, std::string& string) {
  std::string text = string;
  if (rt::trimLen(text) < 2) return;

  // Mode 1 warns, mode 2 stops the run, any other mode is silent.
  const auto report = [iMode](const std::string& what) {
    if (iMode != 1 && iMode != 2) return;
    const char* head = iMode == 1 ? " ### SR RPLENVAR: " : " *** SR RPLENVAR: ";
    rt::writeFmt(LFNMSG, "(/,A,/)", {head + what});
    if (iMode == 2) EXITRC(2);
  };

  std::size_t p = 0;  // scan position, from 0
  for (;;) {
    const std::size_t d = text.find('$', p);
    if (d == std::string::npos) break;

    std::string name;
    std::size_t refEnd = d + 1;  // last character of the reference
    if (d + 1 < text.size() && text[d + 1] == '{') {
      const std::size_t e = text.find('}', d + 2);
      if (e != std::string::npos) {
        name = text.substr(d + 2, e - d - 2);
        refEnd = e;
      } else {
        report("\"}\" is missing in: " + rt::trimRight(text));
      }
    } else if (d + 1 < text.size()) {
      name = text.substr(d + 1, 1);
    }

    std::string value;
    bool replaced = false;
    if (!rt::isBlank(name)) {
      if (lookUpVariable(name, value)) {
        const std::string rest =
            refEnd + 1 < text.size() ? rt::trimRight(text.substr(refEnd + 1)) : std::string();
        text = text.substr(0, d) + rt::trimRight(value) + rest;
        if (text.size() > kLineLen) text.resize(kLineLen);
        replaced = true;
      } else {
        report("Variable " + rt::trimRight(name) + " not resolved in: " + rt::trimRight(text));
      }
    }

    p = replaced ? d + rt::trimLen(value) : refEnd + 1;
    if (p + 1 >= rt::trimLen(text)) break;
  }
  string = rt::fit(text, string.size());
}

void OPNFIL(int lfn, std::string_view filePath, std::string_view status, std::string_view form,
            std::string_view action, std::string_view /*spare*/, int& iostat, rt::FileRole role) {
  inpKey.openBusy = true;

  bool replaced = false;
  std::string name = nameToOpen(filePath, 1, replaced);
  if (replaced) {
    // A file registered for removal under this name is removed under the
    // expanded one.
    const std::size_t count = std::min<std::size_t>(
        static_cast<std::size_t>(std::max(inpKey.delCount, 0)), inpKey.delFil.size());
    for (std::size_t c = 0; c < count; ++c) {
      if (rt::eqPadded(inpKey.delFil[c], filePath)) {
        inpKey.delFil[c] = name;
        break;
      }
    }
  }

  // Neither the file nor the unit may stay connected elsewhere. A result
  // file not finished there is dropped, not put in place; any other file is
  // closed as it stands. A file that several units may hold at once (a
  // device such as /dev/null, the program's standard output) stays where
  // it is connected: the program output, say, goes on there.
  const std::string path = rt::fileNameOf(name);
  const rt::FileInquiry file = rt::inquireFile(path);
  if (file.opened && file.unit >= 0 && !file.shared) rt::closeUnit(file.unit, rt::Disp::Discard);
  if (rt::unitOpened(lfn)) rt::closeUnit(lfn, rt::Disp::Discard);

  rt::OpenRequest request;
  request.role = role;
  const std::string statusField = keywordField(status);
  if (rt::eqPadded(statusField, "OLD")) {
    request.status = "OLD";
  } else if (rt::eqPadded(statusField, "UNKNOWN") || rt::eqPadded(statusField, "NEW") ||
             rt::isBlank(statusField)) {
    request.status = "UNKNOWN";
  } else if (rt::eqPadded(statusField, "SCRATCH")) {
    request.status = "SCRATCH";
  } else {
    unknownKeyword(statusField, lfn, name);
  }

  const std::string formField = keywordField(form);
  if (rt::eqPadded(formField, "FORMATTED") || rt::isBlank(formField)) {
    request.formatted = true;
  } else if (rt::eqPadded(formField, "UNFORMATTED") || rt::eqPadded(formField, "BINARY")) {
    request.formatted = false;
  } else {
    unknownKeyword(formField, lfn, name);
  }

  const std::string actionField = keywordField(action);
  if (rt::eqPadded(actionField, "READONLY")) {
    request.readOnly = true;
  } else if (rt::isBlank(actionField)) {
    request.readOnly = false;
  } else {
    unknownKeyword(actionField, lfn, name);
  }

  int attempt = 0;
  for (attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    if (opnfilFailFirst > 0) {
      --opnfilFailFirst;
      iostat = EACCES;
    } else {
      iostat = rt::openUnit(lfn, path, request);
    }
    if (iostat == 0) break;
  }
  if (iostat != 0) {
    inpKey.openBusy = false;
    return;
  }

  if (attempt > 1 && !rt::eqPadded(programName, "PNLQRY")) {
    rt::writeFmt(6, "(/,A,/,16X,A,/,16X,A,I5,A,/)",
                 {" ### SR OPNFIL: Problem to access file for opening",
                  "File name : " + path, "Successful after ", attempt, " open commands"});
  }
  inpKey.openBusy = false;
  iostat = 0;
}

std::string fileToOpen(std::string_view filePath) {
  bool replaced = false;
  return rt::fileNameOf(nameToOpen(filePath, 0, replaced));
}

void CHKINPF(std::string_view filePath, std::string_view routineName, InputReading reading) {
  const rt::FileKind kind = rt::fileKindOf(fileToOpen(filePath));
  if (kind == rt::FileKind::None || kind == rt::FileKind::Regular ||
      kind == rt::FileKind::Directory) {
    return;
  }
  if (kind == rt::FileKind::Fifo && reading == InputReading::Once) return;
  rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/,16X,A,A,/,16X,A,/)",
               {" *** SR " + rt::upperAZ(rt::trimRight(routineName)) +
                    ": Input file is not a regular file",
                rt::fit("File name:", 12), rt::trimRight(filePath), rt::fit("File type:", 12),
                kindText(kind), "A regular file is expected here."});
  EXITRC(2);
}

void INQUIRE(const InquireArgs& args) {
  if (args.unit) {
    const int unit = *args.unit;
    if (args.name != nullptr) *args.name = rt::unitName(unit);
    if (args.exist != nullptr) *args.exist = unit >= 0;
    if (args.opened != nullptr) *args.opened = rt::unitOpened(unit);
    return;
  }
  if (!args.file) return;
  std::string name = rt::fit(*args.file, kLineLen);
  RPLENVAR(2, name);
  const std::string path = rt::fileNameOf(name);
  const rt::FileInquiry file = rt::inquireFile(path);
  if (args.exist != nullptr) *args.exist = file.exist;
  if (args.opened != nullptr) *args.opened = file.opened;
  if (args.number != nullptr) *args.number = file.unit;
}
