// Failures raised inside the engine. Every failure is an exception carrying one of the
// engine's fixed English messages; the exported functions catch them all and turn them into
// status codes, so none of these types is ever seen by a caller of the C API.
#ifndef OCRB_PLATFORM_ERROR_H_
#define OCRB_PLATFORM_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ocrb {

// Base of every failure the engine raises on purpose.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A call to the operating system failed. Code is the system's last error code (0 when the
// system gave none).
class SystemError : public Error {
 public:
  explicit SystemError(uint32_t code);
  uint32_t Code() const { return code_; }

 private:
  uint32_t code_;
};

namespace platform {

// Error codes this seam sets off Windows; on Windows they are the system's own values.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNotLocked = 158;

// The calling thread's last error code, as set by the memory functions of this seam.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// The system's text for an error code, without a trailing line break.
std::string SystemErrorText(uint32_t code);

// The message of a SystemError: "System Error.  Code: %d." and the system's text on the next
// line, or "A call to an OS function failed" when the code is 0.
std::string SystemErrorMessage(uint32_t code);

// Raises SystemError with the calling thread's last error code.
[[noreturn]] void RaiseLastOSError();

}  // namespace platform
}  // namespace ocrb

#endif  // OCRB_PLATFORM_ERROR_H_
