#include "platform/error.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ocrb {

SystemError::SystemError(uint32_t code) : Error(platform::SystemErrorMessage(code)), code_(code) {}

namespace platform {

#ifdef _WIN32

uint32_t GetLastError() {
  return ::GetLastError();
}
void SetLastError(uint32_t code) {
  ::SetLastError(code);
}

std::string SystemErrorText(uint32_t code) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

#else

namespace {
thread_local uint32_t last_error = kErrorSuccess;
}  // namespace

uint32_t GetLastError() {
  return last_error;
}
void SetLastError(uint32_t code) {
  last_error = code;
}

std::string SystemErrorText(uint32_t code) {
  switch (code) {
    case kErrorSuccess:
      return "The operation completed successfully.";
    case kErrorInvalidHandle:
      return "The handle is invalid.";
    case kErrorNotEnoughMemory:
      return "Not enough memory resources are available to process this command.";
    case kErrorNotLocked:
      return "The segment is already unlocked.";
    default:
      return "Unknown error.";
  }
}

#endif

std::string SystemErrorMessage(uint32_t code) {
  if (code == 0) return "A call to an OS function failed";
  char head[64];
  std::snprintf(head, sizeof head, "System Error.  Code: %d.", static_cast<int>(code));
  return std::string(head) + "\n" + SystemErrorText(code);
}

void RaiseLastOSError() {
  throw SystemError(GetLastError());
}

}  // namespace platform
}  // namespace ocrb
