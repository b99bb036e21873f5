// The system's default beep. The engine sounds it where an odd pixel pattern is cleaned up
// while thinning; only the pixel change matters to recognition.
#ifndef OCRB_PLATFORM_BEEP_H_
#define OCRB_PLATFORM_BEEP_H_

namespace ocrb::platform {

// MessageBeep with type 0 on Windows; silent elsewhere, where a library has no business
// making noise on its host's terminal.
void Beep();

// How many beeps this process has sounded, so tests can see that one was asked for.
unsigned long long BeepCount();

}  // namespace ocrb::platform

#endif  // OCRB_PLATFORM_BEEP_H_
