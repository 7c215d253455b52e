// Check of the files that a run names by keywords, before it writes any.
#include "frame/ckflna.h"

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
};

// The file a keyword names, its name taken as GTFLNA and OPNFIL take it;
// nothing is written for a missing keyword or an unresolved variable.
NamedFile namedFile(const t_fileKey& key) {
  NamedFile file;
  std::string value;
  int irc = 0;
  GTFLNA(0, key.keyWord, value, irc, key.len);
  if (irc != 0) return file;
  file.name = fileToOpen(value);
  file.id = rt::fileIdOf(file.name);
  return file;
}

// True when the two may not name one file: two outputs that do not share,
// or an output and an input that is read at or after the output's step.
bool collide(const t_fileKey& a, const t_fileKey& b) {
  if (a.output && b.output) return a.share == 0 || a.share != b.share;
  if (a.output) return b.step >= a.step;
  if (b.output) return a.step >= b.step;
  return false;
}

// The message block of one pair: the output first.
void reportPair(const t_fileKey& out, const NamedFile& outFile, const t_fileKey& other,
                const NamedFile& otherFile) {
  const std::string outLine = "Output file: " + std::string(out.keyWord) + " = " + outFile.name;
  const std::string otherLine = std::string(other.output ? "Output file: " : "Input file:  ") +
                                std::string(other.keyWord) + " = " + otherFile.name;
  const char* why = other.output ? "Both outputs would be written to this one file."
                                 : "The output would change the input before it is read.";
  rt::writeFmt(LFNMSG, "(/,A,4(/,16X,A),/)",
               {" *** SR CKFLNA: One file named for two purposes", outLine, otherLine, why,
                "Processing is stopped; no file has been written."});
}

}  // namespace

void CKFLNA(std::span<const t_fileKey> keys) {
  std::vector<NamedFile> files;
  files.reserve(keys.size());
  for (const t_fileKey& key : keys) files.push_back(namedFile(key));

  bool refused = false;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    for (std::size_t j = i + 1; j < keys.size(); ++j) {
      if (!collide(keys[i], keys[j]) || !rt::sameFile(files[i].id, files[j].id)) continue;
      if (keys[i].output)
        reportPair(keys[i], files[i], keys[j], files[j]);
      else
        reportPair(keys[j], files[j], keys[i], files[i]);
      refused = true;
    }
  }
  if (refused) EXITRC(2);
}
