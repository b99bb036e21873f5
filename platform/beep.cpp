#include "platform/beep.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ocrb::platform {

namespace {
std::atomic<unsigned long long> beeps{0};
}  // namespace

unsigned long long BeepCount() {
  return beeps.load();
}

void Beep() {
  ++beeps;
#ifdef _WIN32
  ::MessageBeep(0);
#endif
}

}  // namespace ocrb::platform
