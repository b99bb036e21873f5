// The reader's side of the decoder helper (bounded.h): finding it, starting it, keeping its
// time, reading its pages and turning the way it ended into one message.
//
// The time a helper may take is what the reader spends waiting for it, counted in poll: the
// engine's reading of a page in between does not count, and with --paced the helper decodes
// nothing meanwhile. For a PDF the count starts again with every page; for other files it runs
// over the whole file. Every byte the helper sends is checked before it is used: a decoder
// taken over by a crafted file must not be able to reach beyond the page it describes.
#include "reader/bounded.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "reader/decoder.h"
#include "reader/protocol.h"

extern char** environ;

namespace ocrb::reader {
namespace {

namespace wire = protocol;
using Clock = std::chrono::steady_clock;

constexpr char kHelperName[] = "ocrb-decode";
// What is kept of the helper's standard error: enough for its last few lines.
constexpr size_t kStderrKept = 4096;
// A helper that has closed its output is given this long to exit before it is killed.
constexpr double kExitGrace = 2.0;

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }
  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

[[noreturn]] void SystemFailure(int status, const std::string& what, int error) {
  throw InputError(status, what + ": " + std::strerror(error));
}

// Fd moved above the standard descriptors, so that handing them to the helper in any order
// cannot overwrite one with another (a host may have closed its own standard descriptors).
UniqueFd AboveStandard(int fd) {
  if (fd < 0) SystemFailure(kExitInternal, "cannot make a pipe for the decoder", errno);
  UniqueFd owned(fd);
  if (fd > STDERR_FILENO) return owned;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) SystemFailure(kExitInternal, "cannot make a pipe for the decoder", errno);
  return UniqueFd(moved);
}

// A memory file holding Bytes: each helper reads the file from it.
UniqueFd MemoryFile(const std::vector<uint8_t>& bytes) {
  UniqueFd file = AboveStandard(memfd_create("ocrb-input", MFD_CLOEXEC));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(file.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) SystemFailure(kExitInternal, "cannot hand the file to the decoder", errno);
    done += static_cast<size_t>(n);
  }
  return file;
}

// The loaded object holding Address, by its real path ("" when it cannot be told).
std::string ObjectOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    return "";
  }
  std::unique_ptr<char, decltype(&std::free)> real(realpath(info.dli_fname, nullptr), std::free);
  // The main program may be named as it was started; its own link is the sure way.
  if (!real) real.reset(realpath("/proc/self/exe", nullptr));
  return real ? real.get() : "";
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('/'));
}

int Anchor() {
  return 0;
}

// Seconds the helper may still take: of its --timeout (per page of a PDF, per file otherwise)
// and of the whole file's bound.
struct Budget {
  double Timeout = 0;
  double Waited = 0;
  Clock::time_point FileStart = Clock::now();
  double FileTimeout = 0;

  double Left() const {
    double left = Timeout - Waited;
    if (FileTimeout > 0) left = std::min(left, FileTimeout - SinceStart());
    return left;
  }
  bool FileSpent() const { return FileTimeout > 0 && SinceStart() >= FileTimeout; }
  double SinceStart() const {
    return std::chrono::duration<double>(Clock::now() - FileStart).count();
  }
};

struct TimedOut {};

// The helper's output broke the protocol.
[[noreturn]] void Broken(const std::string& why) {
  throw InputError(kExitInternal, "the decoder's output is broken (" + why + ")");
}

// One run of the helper over a file, from page First on.
class Helper {
 public:
  Helper(const std::string& path, int input, const LoadOptions& options, int first) {
    int out[2], err[2], pace[2];
    if (pipe2(out, O_CLOEXEC) != 0) SystemFailure(kExitInternal, "cannot make a pipe", errno);
    UniqueFd out_read = AboveStandard(out[0]), out_write = AboveStandard(out[1]);
    if (pipe2(err, O_CLOEXEC) != 0) SystemFailure(kExitInternal, "cannot make a pipe", errno);
    UniqueFd err_read = AboveStandard(err[0]), err_write = AboveStandard(err[1]);
    // A socket, so that a byte sent to a helper that has died raises no SIGPIPE here.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pace) != 0) {
      SystemFailure(kExitInternal, "cannot make a socket", errno);
    }
    UniqueFd pace_mine = AboveStandard(pace[0]), pace_theirs = AboveStandard(pace[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    struct ActionsFreer {
      posix_spawn_file_actions_t* Actions;
      ~ActionsFreer() { posix_spawn_file_actions_destroy(Actions); }
    } free_actions{&actions};
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_write.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_write.Get(), STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pace_theirs.Get(), 3);
    // Nothing else of the host's reaches the helper, whatever its flags.
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    struct AttributesFreer {
      posix_spawnattr_t* Attributes;
      ~AttributesFreer() { posix_spawnattr_destroy(Attributes); }
    } free_attributes{&attributes};
    // The helper starts with no signal blocked or ignored, whatever the host's thread has.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char number[32];
    std::vector<std::string> args = {path, "--version", OCRB_DECODERS_VERSION, "--paced"};
    auto add = [&args](const char* name, const std::string& value) {
      args.push_back(name);
      args.push_back(value);
    };
    add("--dpi", std::to_string(options.Dpi));
    add("--ydpi", std::to_string(options.YDpi));
    add("--method", BinarisationName(options.Method));
    add("--max-pixels", std::to_string(options.MaxPixels));
    add("--max-pages", std::to_string(options.MaxPages));
    add("--max-file-size", std::to_string(options.MaxFileSize));
    add("--max-memory", std::to_string(options.MaxMemory));
    std::snprintf(number, sizeof number, "%.3f", options.Timeout);
    add("--timeout", number);
    add("--first", std::to_string(first));
    add("--parent", std::to_string(getpid()));
    if (options.KeepPicture) args.push_back("--keep-picture");
    if (!options.Deskew) args.push_back("--no-deskew");
    if (!options.EstimateDpi) args.push_back("--no-estimate");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_strings;
    std::vector<char*> envp;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
#ifdef OCRB_SANITIZED
      if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0) continue;
#endif
      envp.push_back(*e);
    }
#ifdef OCRB_SANITIZED
    // The sanitizers' shadow memory rules out a bound on the address space: their allocator
    // keeps the bound instead.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const uint64_t mb = std::max<uint64_t>(options.MaxMemory >> 20, 1);
    env_strings.push_back(
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
        ":allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(mb) +
        ":hard_rss_limit_mb=" + std::to_string(2 * mb + 256));
    for (std::string& s : env_strings) envp.push_back(s.data());
#endif
    envp.push_back(nullptr);

    const int failed =
        posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv.data(), envp.data());
    if (failed != 0) {
      pid_ = -1;
      SystemFailure(kExitEnvironment, "cannot start the image decoder " + path, failed);
    }
    out_ = std::move(out_read);
    err_ = std::move(err_read);
    pace_ = std::move(pace_mine);
  }

  ~Helper() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      Reap(true);
    }
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  // Reads Size bytes of the helper's output, within the budget. Returns false when the output
  // ended before any of them; throws TimedOut when the budget runs out.
  bool Read(void* into, size_t size, Budget& budget) {
    auto* bytes = static_cast<uint8_t*>(into);
    size_t got = 0;
    while (got < size) {
      if (!out_) {
        if (got == 0) return false;
        Broken("a message ends early");
      }
      Wait(budget);
      if (out_ready_) {
        const ssize_t n = read(out_.Get(), bytes + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          out_.Reset();
          continue;
        }
        got += static_cast<size_t>(n);
      }
    }
    return true;
  }

  // Lets the helper decode its next page.
  void Go() {
    const uint8_t go = 1;
    // A helper that has gone away shows itself when its output ends.
    while (send(pace_.Get(), &go, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
  }

  // Waits for the helper to close its standard error and exit, within the budget (and a
  // little grace); kills it when the time runs out. Returns its wait status.
  int Finish(Budget& budget) {
    Budget grace = budget;
    grace.Timeout = std::max(budget.Left(), 0.0) + kExitGrace;
    grace.Waited = 0;
    grace.FileTimeout = 0;
    out_.Reset();
    try {
      while (err_) Wait(grace);
      while (!Reap(false)) {
        if (grace.Left() <= 0) throw TimedOut{};
        poll(nullptr, 0, 5);
        grace.Waited += 0.005;
      }
    } catch (const TimedOut&) {
      Kill();
    }
    return status_;
  }

  void Kill() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      killed_ = true;
      Reap(true);
    }
  }

  bool Killed() const {
    return killed_;
  }
  const std::string& Stderr() const {
    return err_text_;
  }

 private:
  // Polls the output and the standard error until one has something, within the budget;
  // keeps what standard error says. Sets out_ready_.
  void Wait(Budget& budget) {
    out_ready_ = false;
    for (;;) {
      const double left = budget.Left();
      if (left <= 0) throw TimedOut{};
      pollfd fds[2] = {{out_ ? out_.Get() : -1, POLLIN, 0}, {err_ ? err_.Get() : -1, POLLIN, 0}};
      if (!out_ && !err_) return;
      const auto start = Clock::now();
      const int milliseconds = static_cast<int>(std::min(std::ceil(left * 1000), 60000.0));
      const int ready = poll(fds, 2, milliseconds);
      budget.Waited += std::chrono::duration<double>(Clock::now() - start).count();
      if (ready < 0 && errno != EINTR)
        SystemFailure(kExitInternal, "cannot wait for the decoder", errno);
      if (ready <= 0) continue;
      if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) KeepStderr();
      if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        out_ready_ = true;
        return;
      }
      if (!out_) return;
    }
  }

  void KeepStderr() {
    char buffer[4096];
    const ssize_t n = read(err_.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
      err_.Reset();
      return;
    }
    err_text_.append(buffer, static_cast<size_t>(n));
    if (err_text_.size() > 2 * kStderrKept) err_text_.erase(0, err_text_.size() - kStderrKept);
  }

  // Collects the helper's exit; without Block, only when it has already exited.
  bool Reap(bool block) {
    for (;;) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, block ? 0 : WNOHANG);
      if (done == pid_) {
        status_ = status;
        reaped_ = true;
        return true;
      }
      if (done == 0) return false;
      if (errno == EINTR) continue;
      // Reaped by someone else (a host that collects every child): nothing more to know.
      status_ = -1;
      reaped_ = true;
      return true;
    }
  }

  pid_t pid_ = -1;
  UniqueFd out_, err_, pace_;
  bool out_ready_ = false;
  bool reaped_ = false;
  bool killed_ = false;
  int status_ = -1;
  std::string err_text_;
};

// The last line the helper printed, for a message ("" when it printed nothing).
std::string LastLine(const std::string& text) {
  size_t end = text.find_last_not_of(" \t\r\n");
  if (end == std::string::npos) return "";
  const size_t start = text.find_last_of('\n', end);
  std::string line = text.substr(start == std::string::npos ? 0 : start + 1,
                                 end + 1 - (start == std::string::npos ? 0 : start + 1));
  if (line.size() > 200) line = line.substr(0, 200) + "...";
  return line;
}

bool MentionsMemory(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* word : {"memory", "bad_alloc", "rss limit", "allocation"}) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// Why a helper that did not finish its work stopped, in words.
std::string WhyItStopped(const Helper& helper, int status, const LoadOptions& options) {
  const std::string said = LastLine(helper.Stderr());
  const std::string detail = said.empty() ? "" : " (the decoder said: " + said + ")";
  const std::string memory = MemoryExceeded(options);
  if (status != -1 && WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGXCPU) return "timed out (processor time)";
    // Killed by the system: its memory ran out.
    if (signal == SIGKILL) return memory;
    if (MentionsMemory(helper.Stderr())) return memory;
    const char* name = sigdescr_np(signal);
    return "the decoder crashed (signal " + std::to_string(signal) + ": " +
           (name != nullptr ? name : "?") + ")" + detail;
  }
  if (status != -1 && WIFEXITED(status)) {
    if (MentionsMemory(helper.Stderr())) return memory;
    return "the decoder failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")" + detail;
  }
  return "the decoder ended without its result" + detail;
}

// The page of a kPage message, every field checked against what it must be.
Page ReceivePage(Helper& helper, const wire::Header& header, int current,
                 const LoadOptions& options, Budget& budget) {
  wire::PageInfo info{};
  if (header.Size < sizeof info || !helper.Read(&info, sizeof info, budget)) Broken("a short page");
  constexpr int64_t kSide = int64_t{1} << 30;
  if (static_cast<int>(header.Page) != current || info.Width <= 0 || info.Height <= 0 ||
      info.Width > kSide || info.Height > kSide ||
      int64_t{info.Width} * info.Height > options.MaxPixels) {
    Broken("a page of an impossible size");
  }
  const uint64_t stride = (static_cast<uint64_t>(info.Width) + 31) / 32 * 4;
  const uint64_t dib_bytes = kInfoHeaderBytes + 8 + stride * static_cast<uint64_t>(info.Height);
  const uint64_t picture_row = (static_cast<uint64_t>(info.Width) * info.PictureDepth + 7) / 8;
  const uint64_t picture_bytes = picture_row * static_cast<uint64_t>(info.Height);
  if (info.DibBytes != dib_bytes ||
      (info.PictureDepth != 0 && info.PictureDepth != 1 && info.PictureDepth != 8) ||
      info.PictureBytes != picture_bytes ||
      header.Size != sizeof info + info.DibBytes + info.PictureBytes || info.Source < 0 ||
      info.Source > static_cast<int32_t>(DpiSource::kEstimated) || info.XDpi < 0 || info.YDpi < 0 ||
      info.StatedXDpi < 0 || info.StatedYDpi < 0) {
    Broken("a page whose parts do not add up");
  }
  std::vector<uint8_t> dib(dib_bytes);
  if (!helper.Read(dib.data(), dib.size(), budget)) Broken("a page without its bitmap");
  if (Get32(dib.data()) != kInfoHeaderBytes ||
      static_cast<int32_t>(Get32(dib.data() + layout::kWidthField)) != info.Width ||
      static_cast<int32_t>(Get32(dib.data() + layout::kHeightField)) != info.Height ||
      Get16(dib.data() + layout::kBitCountField) != 1) {
    Broken("a bitmap that does not match its page");
  }
  Page page;
  page.Number = current;
  page.Dib = CopyToBlock(dib.data(), dib.size());
  dib = std::vector<uint8_t>();
  page.Width = info.Width;
  page.Height = info.Height;
  page.XDpi = info.XDpi;
  page.YDpi = info.YDpi;
  page.Source = static_cast<DpiSource>(info.Source);
  page.StatedXDpi = info.StatedXDpi;
  page.StatedYDpi = info.StatedYDpi;
  // A skew is believed only as a finite angle inside the sweep and a finite confidence.
  if (info.SkewMeasured == 1 && std::isfinite(info.SkewDegrees) &&
      std::fabs(info.SkewDegrees) <= 90 && std::isfinite(info.SkewConfidence) &&
      info.SkewConfidence >= 0) {
    page.SkewMeasured = true;
    page.SkewDegrees = info.SkewDegrees;
    page.SkewConfidence = info.SkewConfidence;
  }
  if (info.PictureBytes > 0) {
    std::vector<uint8_t> rows(info.PictureBytes);
    if (!helper.Read(rows.data(), rows.size(), budget)) Broken("a page without its picture");
    if (options.KeepPicture) {
      page.Picture =
          Decoder().PictureFromRows(rows.data(), info.Width, info.Height, info.PictureDepth,
                                    info.PictureXDpi, info.PictureYDpi);
      if (!page.Picture) throw std::bad_alloc();
    }
  }
  if (options.KeepPicture && !page.Picture) Broken("a page without the picture asked for");
  return page;
}

std::string ReadReason(Helper& helper, const wire::Header& header, Budget& budget, int* status) {
  wire::Failure failure{};
  if (header.Size < sizeof failure || header.Size > sizeof failure + wire::kMaxReasonBytes ||
      !helper.Read(&failure, sizeof failure, budget)) {
    Broken("a failure without its reason");
  }
  std::string reason(header.Size - sizeof failure, '\0');
  if (!reason.empty() && !helper.Read(reason.data(), reason.size(), budget)) {
    Broken("a reason cut short");
  }
  if (failure.Status != kExitCorrupt && failure.Status != kExitInternal &&
      failure.Status != kExitEnvironment) {
    Broken("a failure of an unknown status");
  }
  *status = failure.Status;
  return reason;
}

}  // namespace

const std::string& HelperPath() {
  static std::string path;
  static std::string looked;
  static std::once_flag once;
  std::call_once(once, [] {
    std::vector<std::string> candidates;
    // Beside libocrb and the code of this library, and in the prefix's libexec folder.
    const std::string library = ObjectOf(reinterpret_cast<const void*>(&OCRB_GlobalAlloc));
    for (const std::string& object : {library, ObjectOf(reinterpret_cast<const void*>(&Anchor))}) {
      if (object.empty()) continue;
      candidates.push_back(FolderOf(object) + "/" + kHelperName);
      candidates.push_back(FolderOf(object) + "/" + OCRB_HELPER_FROM_LIBRARY + "/" + kHelperName);
    }
#ifdef OCRB_HELPER_BUILD_PATH
    // A program of the build tree that carries the engine itself has no libocrb to look
    // beside.
    std::unique_ptr<char, decltype(&std::free)> program(realpath("/proc/self/exe", nullptr),
                                                        std::free);
    if (program && library == program.get()) candidates.push_back(OCRB_HELPER_BUILD_PATH);
#endif
    for (const std::string& candidate : candidates) {
      if (access(candidate.c_str(), X_OK) == 0) {
        path = candidate;
        return;
      }
      looked += (looked.empty() ? "" : ", ") + candidate;
    }
  });
  if (path.empty()) {
    throw InputError(kExitEnvironment, std::string("cannot find the image decoder ") + kHelperName +
                                           " (looked for " + looked + ")");
  }
  return path;
}

void DecodeBounded(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                   const PageSink& sink) {
  const std::string& path = HelperPath();
  const UniqueFd input = MemoryFile(bytes);
  // A PDF's pages each have the whole time; other files share it.
  const bool per_page = IsPdf(bytes.data(), bytes.size());
  Budget budget;
  budget.Timeout = options.Timeout;
  budget.FileTimeout = options.FileTimeout;
  const std::string out_of_time = "timed out after " + Seconds(options.Timeout) + " s (--timeout)";
  int first = 1;
  for (;;) {
    if (lseek(input.Get(), 0, SEEK_SET) != 0) SystemFailure(kExitInternal, "cannot rewind", errno);
    Helper helper(path, input.Get(), options, first);
    int count = 0;
    bool paged = false;
    int current = 0;  // the page started and not yet sent
    bool done = false;
    bool timed_out = false;
    std::optional<InputError> file_failure;
    try {
      wire::Header header{};
      while (!done && helper.Read(&header, sizeof header, budget)) {
        switch (header.Kind) {
          case wire::kFile: {
            wire::FileInfo info{};
            if (header.Size != sizeof info || !helper.Read(&info, sizeof info, budget) ||
                info.Pages <= 0 || info.Pages > options.MaxPages) {
              Broken("an impossible page count");
            }
            count = info.Pages;
            paged = info.Paged != 0;
            break;
          }
          case wire::kPageStart:
            if (header.Size != 0 || count == 0 || current != 0 ||
                static_cast<int>(header.Page) < first || static_cast<int>(header.Page) > count) {
              Broken("a page out of turn");
            }
            current = static_cast<int>(header.Page);
            if (per_page) budget.Waited = 0;
            break;
          case wire::kPage: {
            Page page = ReceivePage(helper, header, current, options, budget);
            current = 0;
            sink(std::move(page));
            if (budget.FileSpent()) throw TimedOut{};
            helper.Go();
            break;
          }
          case wire::kPageFailed: {
            if (static_cast<int>(header.Page) != current || current == 0)
              Broken("a page out of turn");
            Page failed;
            failed.Number = current;
            failed.Error = ReadReason(helper, header, budget, &failed.Status);
            current = 0;
            sink(std::move(failed));
            helper.Go();
            break;
          }
          case wire::kFileFailed: {
            int status = kExitCorrupt;
            std::string reason = ReadReason(helper, header, budget, &status);
            file_failure.emplace(status, reason);
            break;
          }
          case wire::kDone:
            if (header.Size != 0) Broken("an end with a body");
            done = true;
            break;
          default:
            Broken("a message of an unknown kind");
        }
      }
    } catch (const TimedOut&) {
      helper.Kill();
      timed_out = true;
    }
    const int status = helper.Killed() ? -1 : helper.Finish(budget);
    if (!timed_out && helper.Killed()) timed_out = true;  // it would not exit in time
    // A helper collected by someone else (status -1) leaves its output to judge it by.
    const bool clean =
        !timed_out && (status == -1 || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    if (done && clean) {
      if (file_failure) throw *file_failure;
      return;
    }
    if (!timed_out && status != -1 && WIFEXITED(status)) {
      if (WEXITSTATUS(status) == wire::kVersionExit) {
        throw InputError(kExitEnvironment,
                         "the image decoder " + path + " is from another build of ocrb");
      }
      if (WEXITSTATUS(status) == wire::kUsageExit || WEXITSTATUS(status) == wire::kInputExit) {
        throw InputError(
            kExitInternal,
            "the image decoder " + path + " refused its work" +
                (LastLine(helper.Stderr()).empty() ? "" : ": " + LastLine(helper.Stderr())));
      }
    }
    // The helper ran out of time or memory, crashed, or failed after its work.
    const std::string why =
        !timed_out ? WhyItStopped(helper, status, options)
        : budget.FileSpent()
            ? "timed out after " + Seconds(options.FileTimeout) + " s (the time for the whole file)"
            : out_of_time;
    const int kind = done ? kExitInternal : kExitCorrupt;
    if (paged && current > 0 && !done) {
      // That page alone failed, unless the file's time is spent.
      const std::string reason =
          "page " + Count(current) + (why.rfind("needs ", 0) == 0 ? " " : ": ") + why;
      if ((timed_out && !per_page) || budget.FileSpent()) throw InputError(kExitCorrupt, reason);
      Page failed;
      failed.Number = current;
      failed.Status = kExitCorrupt;
      failed.Error = reason;
      sink(std::move(failed));
      if (current >= count) return;
      first = current + 1;
      if (per_page) budget.Waited = 0;
      continue;
    }
    throw InputError(kind, why);
  }
}

}  // namespace ocrb::reader
