// Common ground of the station-data tests: the run frame's fixture with a
// short temporary directory, fixture files, station files written from
// lines, and keywords set for the readers.
#pragma once

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/testsupport.h"
#include "stations/station.h"

namespace stationtest {

namespace fs = std::filesystem;

using frametest::exitStatusOf;
using frametest::fileContent;

// A fixture file of this folder.
inline std::string fixture(const std::string& name) {
  return std::string(XF_SOURCE_DIR) + "/stations/testdata/" + name;
}

// Lines joined with line ends, as a file holds them.
inline std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

// Fixed-length texts as strings, for comparisons.
template <std::size_t N>
std::vector<std::string> texts(const std::vector<rt::FixedText<N>>& values) {
  std::vector<std::string> out;
  for (const auto& v : values) out.push_back(v.str());
  return out;
}

// Station names (cut or blank-filled to 16 characters), plate names (4).
inline std::vector<t_staName> staNames(const std::vector<std::string>& names) {
  return {names.begin(), names.end()};
}
inline std::vector<t_plateName> plateNames(const std::vector<std::string>& names) {
  return {names.begin(), names.end()};
}

// One-character flags from texts (their first character, blank when empty).
inline std::vector<char> flagChars(const std::vector<std::string>& flags) {
  std::vector<char> out;
  for (const auto& f : flags) out.push_back(f.empty() ? ' ' : f[0]);
  return out;
}

class StationEnv : public frametest::FrameTest {
 protected:
  // A short directory name, so that long file names below it still fit in
  // a keyword value.
  fs::path newTempDir() const override {
    static std::atomic<int> serial{0};
    const fs::path dir = fs::temp_directory_path() /
                         ("xf-stations-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
  }

  std::string writeLines(const std::string& name, const std::vector<std::string>& lines) const {
    return writeFile(name, joinLines(lines));
  }

  // A keyword of the keyword list with its values (one blank value when it
  // has none); the list counts as read.
  static void setKey(const std::string& name, const std::vector<std::string>& values) {
    frametest::addKey(name, values.empty() ? std::vector<std::string>{""} : values);
    inpKey.readState = 2;
  }

  std::string console() const { return console_.str(); }

  // Names of the files in the temporary directory.
  std::vector<std::string> filesInDir() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// Where line `line` (counted from 0) of a file's text begins.
inline std::size_t lineStart(const std::string& text, int line) {
  std::size_t at = 0;
  for (int k = 0; k < line; ++k) at = text.find('\n', at) + 1;
  return at;
}

}  // namespace stationtest
