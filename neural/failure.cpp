// An assertion failure names its place by the last two components of the source path, so that
// the message is the same whichever folder the tree was built from.
#include "neural/failure.h"

#include <string_view>

namespace ocrb {
namespace {

// The last two components of a source path: "neural/base.cpp" from "/any/root/neural/base.cpp".
std::string UnitName(std::string_view path) {
  const size_t last = path.find_last_of("/\\");
  if (last == std::string_view::npos || last == 0) return std::string(path);
  const size_t before = path.find_last_of("/\\", last - 1);
  return std::string(before == std::string_view::npos ? path : path.substr(before + 1));
}

std::string AssertionMessage(const std::string& unit, int line) {
  return "Assertion failure (" + unit + ", line " + std::to_string(line) + ")";
}

}  // namespace

AssertionFailure::AssertionFailure(const std::string& unit, int line)
    : Error(AssertionMessage(unit, line)), unit_(unit), line_(line) {}

void RaiseAssertionFailure(const char* file, int line) {
  throw AssertionFailure(UnitName(file != nullptr ? file : ""), line);
}

}  // namespace ocrb
