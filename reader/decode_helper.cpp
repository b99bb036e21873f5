// ocrb-decode: decodes one untrusted image file for the reader, in a process of its own, where
// a bound on address space and processor time holds and a crash harms nothing else. The reader
// starts it (bounded.cpp) with the file on standard input, a socket for pacing on descriptor
// 3 and its options as arguments, and reads the pages from standard output as protocol.h lays
// them out; standard error carries what the decoding libraries print.
//
// It applies its limits before it reads a byte of the file: the address space, a processor
// time reset as each page starts (a backstop: the reader's clock on the wall is the rule), no
// core files. It dies with the process that started it. With --paced it decodes a page only
// after the reader has taken the one before, so that the reader's engine and the decoder never
// hold a large page each at once.
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "reader/decoders.h"
#include "reader/protocol.h"

namespace ocrb::reader {
namespace {

namespace wire = protocol;

constexpr int kPaceDescriptor = 3;

struct Arguments {
  LoadOptions Options;
  int First = 1;
  bool Paced = false;
  long Parent = 0;
};

bool ParseNumber(const char* text, double* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && std::isfinite(*value) && *value >= 0;
}

template <typename T>
bool ParseWhole(const char* text, T* value) {
  const char* end = text + std::strlen(text);
  const auto [ptr, error] = std::from_chars(text, end, *value);
  return error == std::errc() && ptr == end;
}

// Returns false for anything it does not understand.
bool Parse(int argc, char** argv, Arguments& a) {
  bool versioned = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--keep-picture") {
      a.Options.KeepPicture = true;
      continue;
    }
    if (name == "--no-estimate") {
      a.Options.EstimateDpi = false;
      continue;
    }
    if (name == "--no-deskew") {
      a.Options.Deskew = false;
      continue;
    }
    if (name == "--paced") {
      a.Paced = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    bool ok = true;
    if (name == "--version") {
      if (std::strcmp(value, OCRB_DECODERS_VERSION) != 0) std::exit(wire::kVersionExit);
      versioned = true;
    } else if (name == "--dpi") {
      ok = ParseWhole(value, &a.Options.Dpi);
    } else if (name == "--ydpi") {
      ok = ParseWhole(value, &a.Options.YDpi);
    } else if (name == "--method") {
      ok = ParseBinarisation(value, &a.Options.Method);
    } else if (name == "--max-pixels") {
      ok = ParseWhole(value, &a.Options.MaxPixels);
    } else if (name == "--max-pages") {
      ok = ParseWhole(value, &a.Options.MaxPages);
    } else if (name == "--max-file-size") {
      ok = ParseWhole(value, &a.Options.MaxFileSize);
    } else if (name == "--max-memory") {
      ok = ParseWhole(value, &a.Options.MaxMemory);
    } else if (name == "--timeout") {
      ok = ParseNumber(value, &a.Options.Timeout);
    } else if (name == "--first") {
      ok = ParseWhole(value, &a.First) && a.First >= 1;
    } else if (name == "--parent") {
      ok = ParseWhole(value, &a.Parent);
    } else {
      ok = false;
    }
    if (!ok) return false;
  }
  return versioned;
}

// The processor time the process may still use: Seconds more than it has used, so that each
// page gets its own (the reader starts pages no faster than it can wait for them).
void AllowProcessorTime(double seconds) {
  rusage used{};
  getrusage(RUSAGE_SELF, &used);
  rlimit limit{};
  getrlimit(RLIMIT_CPU, &limit);
  const auto spent = static_cast<rlim_t>(used.ru_utime.tv_sec + used.ru_stime.tv_sec);
  rlim_t allowed = spent + static_cast<rlim_t>(std::ceil(seconds)) + 1;
  if (limit.rlim_max != RLIM_INFINITY) allowed = std::min(allowed, limit.rlim_max);
  limit.rlim_cur = allowed;
  setrlimit(RLIMIT_CPU, &limit);
}

void ApplyLimits(const LoadOptions& options) {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
#ifndef OCRB_SANITIZED
  // Under the sanitizers the shadow memory alone is larger than any sane bound; the reader
  // asks their allocator for the bound instead.
  const auto bytes = static_cast<rlim_t>(options.MaxMemory);
  const rlimit space{bytes, bytes};
  setrlimit(RLIMIT_AS, &space);
#endif
  // Twice the wall-clock bound: the decoder may run on while the reader is busy elsewhere.
  AllowProcessorTime(2 * options.Timeout);
}

// Writes all of Data; a reader that has gone away ends the process (SIGPIPE).
void WriteAll(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = write(STDOUT_FILENO, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(wire::kInputExit);
    bytes += n;
    size -= static_cast<size_t>(n);
  }
}

void Send(uint32_t kind, int page, const void* body, size_t size) {
  const wire::Header header{kind, static_cast<uint32_t>(page), size};
  WriteAll(&header, sizeof header);
  if (size > 0) WriteAll(body, size);
}

void SendFailure(uint32_t kind, int page, int status, const std::string& reason) {
  const std::string text = reason.substr(0, wire::kMaxReasonBytes);
  std::vector<uint8_t> body(sizeof(wire::Failure) + text.size());
  const wire::Failure failure{status};
  std::memcpy(body.data(), &failure, sizeof failure);
  std::memcpy(body.data() + sizeof failure, text.data(), text.size());
  Send(kind, page, body.data(), body.size());
}

// A page, and its picture's rows packed without padding.
void SendPage(const DecodedPage& page) {
  PIX* picture = page.Picture.get();
  const int depth = picture != nullptr ? pixGetDepth(picture) : 0;
  const size_t row_bytes = (static_cast<size_t>(page.Width) * depth + 7) / 8;
  wire::PageInfo info{};
  info.Width = page.Width;
  info.Height = page.Height;
  info.XDpi = page.XDpi;
  info.YDpi = page.YDpi;
  info.Source = static_cast<int32_t>(page.Source);
  info.StatedXDpi = page.StatedXDpi;
  info.StatedYDpi = page.StatedYDpi;
  info.DibBytes = page.Dib.size();
  info.SkewMeasured = page.SkewMeasured ? 1 : 0;
  info.SkewDegrees = page.SkewDegrees;
  info.SkewConfidence = page.SkewConfidence;
  if (picture != nullptr && (depth == 1 || depth == 8) && pixGetWidth(picture) == page.Width &&
      pixGetHeight(picture) == page.Height) {
    info.PictureDepth = depth;
    l_int32 x = 0, y = 0;
    pixGetResolution(picture, &x, &y);
    info.PictureXDpi = x;
    info.PictureYDpi = y;
    info.PictureBytes = row_bytes * static_cast<size_t>(page.Height);
  }
  const wire::Header header{wire::kPage, static_cast<uint32_t>(page.Number),
                            sizeof info + info.DibBytes + info.PictureBytes};
  WriteAll(&header, sizeof header);
  WriteAll(&info, sizeof info);
  WriteAll(page.Dib.data(), page.Dib.size());
  if (info.PictureDepth == 0) return;
  std::vector<uint8_t> row(row_bytes);
  const l_uint32* data = pixGetData(picture);
  const size_t wpl = static_cast<size_t>(pixGetWpl(picture));
  for (int y = 0; y < page.Height; ++y) {
    const l_uint32* line = data + static_cast<size_t>(y) * wpl;
    for (size_t b = 0; b < row_bytes; ++b) row[b] = static_cast<uint8_t>(GET_DATA_BYTE(line, b));
    WriteAll(row.data(), row.size());
  }
}

// Waits until the reader has taken the last page; false when it has gone away.
bool AwaitTurn() {
  uint8_t go = 0;
  for (;;) {
    const ssize_t n = read(kPaceDescriptor, &go, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

// The file on standard input, no more than Limit bytes.
bool ReadInput(uint64_t limit, std::vector<uint8_t>& bytes) {
  uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (bytes.size() + static_cast<size_t>(n) > limit) return false;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
}

int Run(const Arguments& a) {
  std::vector<uint8_t> bytes;
  if (!ReadInput(a.Options.MaxFileSize, bytes)) return wire::kInputExit;
  bool first_page = true;
  DecodeEvents events;
  events.Pages = [](int pages, bool paged) {
    const wire::FileInfo info{pages, paged ? 1 : 0};
    Send(wire::kFile, 0, &info, sizeof info);
  };
  events.Start = [&](int page) {
    if (a.Paced && !first_page && !AwaitTurn()) _exit(0);
    first_page = false;
    AllowProcessorTime(2 * a.Options.Timeout);
    Send(wire::kPageStart, page, nullptr, 0);
  };
  events.Page = [](DecodedPage&& page) {
    if (page.Status != kExitOk) {
      SendFailure(wire::kPageFailed, page.Number, page.Status, page.Error);
    } else {
      SendPage(page);
    }
    page = DecodedPage();
    // What the page took goes back to the system while the reader reads it.
    malloc_trim(0);
  };
  try {
    DecodePages(bytes, a.Options, a.First, events);
  } catch (const InputError& e) {
    SendFailure(wire::kFileFailed, 0, e.Status(), e.what());
  } catch (const std::bad_alloc&) {
    SendFailure(wire::kFileFailed, 0, kExitCorrupt, MemoryExceeded(a.Options));
  } catch (const std::exception& e) {
    SendFailure(wire::kFileFailed, 0, kExitInternal, std::string("internal error: ") + e.what());
  }
  Send(wire::kDone, 0, nullptr, 0);
  return 0;
}

}  // namespace
}  // namespace ocrb::reader

#ifdef OCRB_SANITIZED
// fontconfig keeps what Poppler's lookup of a substitute font made until the process ends;
// that is none of this program's memory to release.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

int main(int argc, char** argv) {
  using namespace ocrb::reader;
  Arguments arguments;
  if (!Parse(argc, argv, arguments)) {
    std::fputs("ocrb-decode: started by ocrb's reader, not by hand\n", stderr);
    return protocol::kUsageExit;
  }
  // Gone with the reader that started it, even when that one dies first.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (arguments.Parent != 0 && getppid() != arguments.Parent) return 0;
  ApplyLimits(arguments.Options);
  // Leptonica's own errors are left for the reader to read; its notes are not.
  setMsgSeverity(L_SEVERITY_ERROR);
  return Run(arguments);
}
