// Keyword lookup, file names and option descriptions.
#include "frame/readkeys.h"

#include <new>
#include <string>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/text.h"

namespace {


// First entry of the list with this name, or nullptr.
const t_key* findKey(std::string_view keyWord) {
  for (const t_key& key : inpKey.keys) {
    if (rt::eqPadded(key.keyName, keyWord)) return &key;
  }
  return nullptr;
}

// Replaces the result list by `n` blank values.
void newList(std::vector<std::string>& keyValue, std::size_t n) {
  allocOrStop([&] { std::vector<std::string>(n, std::string(kLineLen, ' ')).swap(keyValue); },
              "keyValue", {static_cast<long long>(n)}, "readKeys");
}

}  // namespace

void READKEYS(std::string_view keyWord, std::vector<std::string>& keyValue, int& irc) {
  newList(keyValue, 1);
  irc = 1;
  if (inpKey.readState != 2) return;

  if (rt::isBlank(keyWord)) {
    keyValue[0] = rt::fit(inpKey.fileName, kLineLen);
    irc = 0;
  } else if (rt::eqPadded(keyWord, "*")) {
    newList(keyValue, inpKey.keys.size());
    for (std::size_t i = 0; i < inpKey.keys.size(); ++i) {
      keyValue[i] = rt::fit(inpKey.keys[i].keyName, kLineLen);
    }
    irc = 0;
  } else if (const t_key* key = findKey(keyWord)) {
    irc = 0;
    if (key->value.size() != 1) newList(keyValue, key->value.size());
    for (std::size_t i = 0; i < key->value.size(); ++i) {
      keyValue[i] = rt::fit(key->value[i], kLineLen);
    }
  }

  if (irc == 1 && !rt::eqPadded(keyWord, "DUMMY_KEY")) {
    rt::writeFmt(LFNMSG, "(/,A,/18X,A,/)",
                 {" *** SR READKEYS: Keyword \"" + rt::trimRight(keyWord) + "\" not found.",
                  "Input file name:  " + rt::trimRight(inpKey.fileName)});
  }
}

bool KEYEXI(std::string_view keyWord) {
  if (inpKey.readState != 2) return false;
  return findKey(keyWord) != nullptr;
}

void GTFLNA(int iStop, std::string_view keyWord, std::string& filePath, int& irc,
            std::size_t len) {
  if (rt::eqPadded(keyWord, "DEFNAM")) return;
  filePath.assign(len, ' ');

  if (iStop == 1 || KEYEXI(keyWord)) {
    std::vector<std::string> values;
    int ircKey = 0;
    READKEYS(keyWord, values, ircKey);
    // A keyword without values names no file.
    if (!values.empty()) filePath = rt::fit(values[0], len);
  }

  if (!rt::isBlank(filePath)) {
    irc = 0;
    return;
  }
  irc = 1;
  if (iStop != 1) return;

  std::string descr(50, ' ');
  DESCRP(keyWord, 50, descr, 50);
  if (rt::isBlank(descr)) {
    rt::writeFmt(LFNMSG, "(/,A,/,16X,A,/)",
                 {" *** SR GTFLNA: File name not found or blank",
                  "Keyword:  " + rt::trimRight(keyWord)});
  } else {
    rt::writeFmt(LFNMSG, "(/,A,2(/,16X,A),/)",
                 {" *** SR GTFLNA: File name not found or blank",
                  "Keyword:  " + rt::trimRight(keyWord), "Option:   " + rt::trimRight(descr)});
  }
  EXITRC(2);
}

void DESCRP(std::string_view keyWord, int maxLen, std::string& descr, std::size_t len) {
  descr.assign(len, ' ');
  if (inpKey.readState < 2) return;

  const std::string msgKey = "MSG_" + rt::trimRight(keyWord);
  const std::string descrKey = "DESCR_" + rt::trimRight(keyWord);
  const t_key* found = nullptr;
  for (const t_key& key : inpKey.keys) {
    if (rt::eqPadded(key.keyName, msgKey) || rt::eqPadded(key.keyName, descrKey)) {
      found = &key;
      break;
    }
  }
  // No description, or a description keyword without values: blanks.
  if (found == nullptr || found->value.empty()) return;

  // A blank description needs no shortening, whatever maxLen is.
  const std::string& text = found->value[0];
  const long long last = static_cast<long long>(rt::trimLen(text));
  if (last == 0 || last <= maxLen) {
    descr = rt::fit(text, len);
  } else if (maxLen >= 1 && maxLen <= 3) {
    descr = rt::fit(text.substr(0, static_cast<std::size_t>(maxLen)), len);
  } else if (maxLen >= 4) {
    descr = rt::fit(text.substr(0, static_cast<std::size_t>(maxLen - 3)) + " ..", len);
  } else {
    rt::writeFmt(LFNMSG, "(/,A,I5,/16X,A,/)",
                 {" *** SR DESCRP: Illegal length of description string: ", maxLen,
                  "Keyword:  " + rt::trimRight(keyWord)});
    EXITRC(2);
  }
}
