// The input/output failure that no routine checks.
#pragma once

#include <stdexcept>
#include <string>

namespace rt {

// An input/output failure that no routine checks: exit status 127 with a
// message on standard error naming the file and the failed operation
// ("input/output failure: <operation> on file <file>[: <detail>]").
class IoFailure : public std::runtime_error {
 public:
  IoFailure(std::string file, std::string operation, std::string detail = {});
  const std::string& file() const { return file_; }
  const std::string& operation() const { return operation_; }

 private:
  std::string file_;
  std::string operation_;
};

}  // namespace rt
