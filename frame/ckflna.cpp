// Check of the files that a run names by keywords, before it writes any.
#include "frame/ckflna.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "runtime/fileid.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

struct NamedFile {
  std::string name;  // as the file opening takes it; empty: no file
  rt::FileId id;
  int access = 0;    // an output: 0 when the run may write it, else the errno value
};

// The file a keyword names, its name taken as GTFLNA and OPNFIL take it,
// and for an output whether the run may write it; nothing is written for
// a missing keyword or an unresolved variable.
NamedFile namedFile(const t_fileKey& key) {
  NamedFile file;
  std::string value;
  int irc = 0;
  GTFLNA(0, key.keyWord, value, irc, key.len);
  if (irc != 0) return file;
  file.name = fileToOpen(value);
  rt::FilePlace place;
  const int e = place.resolve(rt::fileNameOf(file.name));
  if (e == 0) {
    file.id = rt::fileIdOf(place);
    if (key.output) file.access = rt::writeAccess(place, key.writing);
  } else if (key.output && rt::unreachableName(e)) {
    file.access = e;
  }
  return file;
}

// Why the two may not name one file; nullptr when they may: two outputs
// that do not share, an output and an input that is read at or after the
// output's step, or one read before it that holds other content.
const char* collision(const t_fileKey& out, const t_fileKey& other) {
  if (other.output)
    return out.share == 0 || out.share != other.share
               ? "Both outputs would be written to this one file."
               : nullptr;
  if (other.step >= out.step) return "The output would change the input before it is read.";
  if (out.content == 0 || out.content != other.content)
    return "The output would replace the input by a file of another kind.";
  return nullptr;
}

// The message block of one pair: the output first.
void reportPair(const t_fileKey& out, const NamedFile& outFile, const t_fileKey& other,
                const NamedFile& otherFile, const char* why) {
  const std::string outLine = "Output file: " + std::string(out.keyWord) + " = " + outFile.name;
  const std::string otherLine = std::string(other.output ? "Output file: " : "Input file:  ") +
                                std::string(other.keyWord) + " = " + otherFile.name;
  rt::writeFmt(LFNMSG, "(/,A,4(/,16X,A),/)",
               {" *** SR CKFLNA: One file named for two purposes", outLine, otherLine, why,
                "Processing is stopped; no file has been written."});
}

// The message block of an output that the run may not write.
void reportUnwritable(const t_fileKey& out, const NamedFile& outFile) {
  const std::string outLine = "Output file: " + std::string(out.keyWord) + " = " + outFile.name;
  const bool noDirectory = outFile.access == ENOENT || outFile.access == ENOTDIR;
  const std::string why = noDirectory ? std::string("Its directory does not exist.")
                                      : "The run may neither create nor write it: " +
                                            std::string(std::strerror(outFile.access));
  rt::writeFmt(LFNMSG, "(/,A,3(/,16X,A),/)",
               {" *** SR CKFLNA: Output file cannot be written", outLine, why,
                "Processing is stopped; no file has been written."});
}

}  // namespace

void CKFLNA(std::span<const t_fileKey> keys) {
  std::vector<NamedFile> files;
  files.reserve(keys.size());
  for (const t_fileKey& key : keys) files.push_back(namedFile(key));

  bool refused = false;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (files[i].access == 0) continue;
    reportUnwritable(keys[i], files[i]);
    refused = true;
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    for (std::size_t j = i + 1; j < keys.size(); ++j) {
      if (!(keys[i].output || keys[j].output) || !rt::sameFile(files[i].id, files[j].id))
        continue;
      const std::size_t out = keys[i].output ? i : j;
      const std::size_t other = out == i ? j : i;
      const char* why = collision(keys[out], keys[other]);
      if (why == nullptr) continue;
      reportPair(keys[out], files[out], keys[other], files[other], why);
      refused = true;
    }
  }
  if (refused) EXITRC(2);
}
