// Test support shared by the tests of every folder: a fresh temporary
// directory per test and the content of a file. Used by tests only.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace rttest {

namespace fs = std::filesystem;

// An empty directory under the system's temporary directory, named after
// the tag, the process and the running test.
inline fs::path freshTempDir(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir = fs::temp_directory_path() /
                       (tag + "_" + std::string(info->test_suite_name()) + "_" +
                        std::to_string(::getpid()) + "_" + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// The whole content of a file, byte for byte.
inline std::string fileContent(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace rttest
