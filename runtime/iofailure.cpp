// The input/output failure that no routine checks.
#include "runtime/iofailure.h"

#include <utility>

namespace rt {

namespace {

std::string failureText(const std::string& file, const std::string& operation,
                        const std::string& detail) {
  std::string text = "input/output failure: " + operation + " on file " + file;
  if (!detail.empty()) text += ": " + detail;
  return text;
}

}  // namespace

IoFailure::IoFailure(std::string file, std::string operation, std::string detail)
    : std::runtime_error(failureText(file, operation, detail)),
      file_(std::move(file)),
      operation_(std::move(operation)) {}

}  // namespace rt
