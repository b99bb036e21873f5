// The failures the network code raises: a broken precondition, and a malformed stored network.
// The stream parser and compiled network raise them as the object model does, so that a model
// refused at start-up is refused for the same reason whichever form reads it.
#ifndef OCRB_NEURAL_FAILURE_H_
#define OCRB_NEURAL_FAILURE_H_

#include <string>

#include "platform/error.h"

namespace ocrb {

// A range or precondition check failed. The message is "Assertion failure (UNIT, line N)",
// UNIT being the source file of the check relative to the source tree (e.g. neural/base.cpp).
class AssertionFailure : public Error {
 public:
  AssertionFailure(const std::string& unit, int line);
  const std::string& Unit() const { return unit_; }
  int Line() const { return line_; }

 private:
  std::string unit_;
  int line_;
};

// A stored network, node or link record is malformed (counts that do not fit the shape, fewer
// cells than the object uses, more data announced than the stream holds).
class NetworkStreamError : public Error {
 public:
  using Error::Error;
};

// Raises AssertionFailure naming File (a source path) and Line.
[[noreturn]] void RaiseAssertionFailure(const char* file, int line);

// Raises AssertionFailure naming the caller's file and line unless Ok holds. The place comes
// from the compiler's builtins as default arguments, which resolve at the call site: the same
// as std::source_location::current(), which not every supported compiler can build with
// libstdc++ (clang before 15 lacks the builtin it needs).
inline void Require(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (!ok) [[unlikely]]
    RaiseAssertionFailure(file, line);
}

}  // namespace ocrb

#endif  // OCRB_NEURAL_FAILURE_H_
