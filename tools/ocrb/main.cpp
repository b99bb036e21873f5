// ocrb: reads numeric OCR-B text from image files.
//
// Files are read by a small team of threads, each with its own engine handle; the main
// thread writes the results, and every failure message, in the order of the inputs.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "options.h"
#include "reader/decoder.h"
#include "reader/reader.h"

namespace ocrb::cli {
namespace {

// Messages and the progress bar go to standard error.
FILE* const messages = stderr;

// The permissions a new file gets, taken once at start-up: asking the process means changing
// its mask for a moment, which no other thread may see.
mode_t new_file_mode = 0644;

// A one-line bar on standard error, redrawn at most ten times a second.
class ProgressBar {
 public:
  ProgressBar(size_t total, bool enabled) : total_(total), enabled_(enabled) {}
  ~ProgressBar() { Clear(); }

  void Update(size_t done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    constexpr size_t kWidth = 30;
    const size_t filled = kWidth * done / total_;
    std::fprintf(messages, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), done, total_);
    std::fflush(messages);
    shown_ = true;
  }

  // Removes the bar, so that a message can take the line.
  void Clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", messages);
    std::fflush(messages);
    shown_ = false;
    last_ = {};
  }

 private:
  size_t total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The file named Name inside Dir with the extension of Format.
std::string OutputDirPath(const std::string& dir, const std::string& name, Format format) {
  std::string stem = name == "-" ? "stdin" : std::filesystem::path(name).stem().string();
  return (std::filesystem::path(dir) / (stem + "." + FormatExtension(format))).string();
}

// A file written whole or not at all: the text goes to a temporary file beside Path, which
// replaces Path only once every byte is written. A path that is no regular file (a device, a
// pipe) is written directly, as there is nothing to put beside it.
class AtomicFile {
 public:
  // Throws InputError(kExitEnvironment) when the file cannot be made.
  explicit AtomicFile(const std::string& path) : path_(path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      file_.reset(std::fopen(path.c_str(), "wb"));
    } else {
      temporary_ = path + ".partial-XXXXXX";
      const int fd = mkstemp(temporary_.data());
      if (fd >= 0) file_.reset(fdopen(fd, "wb"));
      if (fd >= 0 && !file_) close(fd);
      if (!file_ && fd >= 0) std::remove(temporary_.c_str());
      if (!file_) temporary_.clear();
    }
    if (!file_) Fail();
  }
  ~AtomicFile() {
    file_.reset();
    if (!temporary_.empty()) std::remove(temporary_.c_str());
  }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  FILE* Stream() const { return file_.get(); }

  // Flushes, closes and puts the file in place; throws InputError(kExitEnvironment) when any
  // of it failed, leaving nothing behind.
  void Commit() {
    const bool flushed = std::fflush(file_.get()) == 0 && std::ferror(file_.get()) == 0;
    const int error = errno;
    const bool closed = std::fclose(file_.release()) == 0;
    if (!flushed || !closed) Fail(flushed ? errno : error);
    if (!temporary_.empty()) {
      // A fresh temporary file is readable by its owner only; the result is as any new file.
      chmod(temporary_.c_str(), new_file_mode);
      if (std::rename(temporary_.c_str(), path_.c_str()) != 0) Fail();
      temporary_.clear();
    }
  }

 private:
  [[noreturn]] void Fail(int error = errno) {
    throw InputError(kExitEnvironment, "cannot write " + path_ + ": " + std::strerror(error));
  }

  std::string path_;
  std::string temporary_;
  File file_;
};

void WriteWhole(const std::string& path, const std::string& text) {
  AtomicFile file(path);
  std::fwrite(text.data(), 1, text.size(), file.Stream());
  file.Commit();
}

// Two inputs whose files in the output folder would be one: refused before anything is read,
// so that no result replaces another. Returns the message, or "" when every name is its own.
std::string OutputDirClash(const Options& options) {
  std::map<std::string, std::string> taken;
  for (const std::string& name : options.Files) {
    const std::string path = OutputDirPath(options.OutputDir, name, options.OutputFormat);
    const auto [at, fresh] = taken.emplace(path, name);
    if (!fresh) {
      return "--output-dir: " + at->second + " and " + name + " would both be written to " + path;
    }
  }
  return "";
}

// A file's result, and why its file in the output folder could not be written.
struct Outcome {
  FileResult Result;
  std::string WriteError;
};

class Reader {
 public:
  explicit Reader(const Options& options) : options_(options) {
    load_.Dpi = options.Dpi;
    load_.Method = options.Method;
    load_.KeepPicture = !options.Overlay.empty();
    load_.MaxPixels = options.MaxPixels;
    load_.MaxFileSize = options.MaxFileSize;
    load_.MaxPages = options.MaxPages;
    load_.Timeout = options.Timeout;
    load_.MaxMemory = options.MaxMemory;
    load_.Deskew = options.Deskew;
    load_.Orientation = options.Orientation;
  }

  // Reads one file completely: its pages, its overlay, and (with --output-dir) its file. The
  // pages read around a failed page, and before a failure of the file, stay in the result.
  Outcome Read(Engine& engine, const std::string& name) const {
    Outcome outcome;
    FileResult& result = outcome.Result;
    result.Name = name;
    try {
      // Pages are read as they are decoded: one is held at a time.
      DecodeImage(ReadInputFile(name, load_), load_, [&](Page&& page) {
        result.Pages.push_back(ReadPage(engine, page, load_, options_.SingleLine));
        PageResult& read = result.Pages.back();
        if (read.Failed()) return;
        if (options_.BestLine) KeepBestLine(read);
        if (!options_.Overlay.empty()) {
          Decoder().WriteOverlay(page.Picture.get(), read,
                                 OverlayPath(options_.Overlay, result.Pages.size() - 1));
        }
      });
    } catch (const InputError& e) {
      result.Status = e.Status();
      result.Error = e.what();
    } catch (const std::bad_alloc&) {
      result.Status = kExitInternal;
      result.Error = "out of memory";
    } catch (const std::exception& e) {
      result.Status = kExitInternal;
      result.Error = std::string("internal error: ") + e.what();
    }
    for (const PageResult& page : result.Pages)
      result.Status = std::max(result.Status, page.Status);
    if (!options_.OutputDir.empty() && !(result.Pages.empty() && result.Status != kExitOk)) {
      try {
        WriteWhole(OutputDirPath(options_.OutputDir, name, options_.OutputFormat),
                   FormatPrologue(options_.OutputFormat, {name}) +
                       FormatFile(options_.OutputFormat, result, 0, 1, options_.Text) +
                       FormatEpilogue(options_.OutputFormat));
      } catch (const InputError& e) {
        outcome.WriteError = e.what();
      }
    }
    return outcome;
  }

 private:
  const Options& options_;
  LoadOptions load_;
};

// The lines of standard error for one file: each failed page, then the file's own failure.
void ReportFailures(const FileResult& result) {
  const std::string shown = result.Name == "-" ? "standard input" : result.Name;
  for (const PageResult& page : result.Pages) {
    if (page.Failed()) std::fprintf(messages, "ocrb: %s: %s\n", shown.c_str(), page.Error.c_str());
  }
  if (!result.Error.empty()) {
    std::fprintf(messages, "ocrb: %s: %s\n", shown.c_str(), result.Error.c_str());
  }
}

// The notes of standard error for one file: each page read at another resolution than its
// file states. Returns whether there was any.
bool ReportResolutions(const FileResult& result, ProgressBar& progress) {
  const std::string shown = result.Name == "-" ? "standard input" : result.Name;
  bool any = false;
  for (const PageResult& page : result.Pages) {
    const std::string notice = ResolutionNotice(page);
    if (notice.empty()) continue;
    if (!any) progress.Clear();
    any = true;
    const std::string where =
        result.Pages.size() > 1 ? "page " + std::to_string(page.Number) + ": " : "";
    std::fprintf(messages, "ocrb: %s: %s%s\n", shown.c_str(), where.c_str(), notice.c_str());
  }
  return any;
}

// Reads every file, Jobs at a time, and writes the results in the order of the inputs to Out
// (or, with --output-dir, each to its file). Returns the exit status: the highest of the
// files', except that an output that could not be written always gives 1.
int ReadAll(const Options& options, FILE* out) {
  const std::vector<std::string>& files = options.Files;
  const Reader reader(options);
  std::vector<Outcome> outcomes(files.size());
  std::vector<char> ready(files.size(), 0);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<size_t> next{0};

  auto work = [&]() {
    std::unique_ptr<Engine> engine;
    std::string startup_error;
    try {
      engine = std::make_unique<Engine>(options.Engine);
    } catch (const std::exception& e) {
      startup_error = e.what();
    }
    for (size_t i; (i = next.fetch_add(1)) < files.size();) {
      Outcome outcome;
      if (engine) {
        outcome = reader.Read(*engine, files[i]);
      } else {
        outcome.Result.Name = files[i];
        outcome.Result.Status = kExitInternal;
        outcome.Result.Error = startup_error;
      }
      std::lock_guard<std::mutex> lock(mutex);
      outcomes[i] = std::move(outcome);
      ready[i] = 1;
      finished.notify_all();
    }
  };
  const size_t thread_count = std::min<size_t>(static_cast<size_t>(options.Jobs), files.size());
  std::vector<std::jthread> threads;
  for (size_t t = 0; t < thread_count; ++t) threads.emplace_back(work);

  ProgressBar progress(files.size(),
                       !options.Quiet && files.size() > 1 && isatty(fileno(messages)) != 0);
  int status = kExitOk;
  bool output_failed = false;
  const bool to_stream = options.OutputDir.empty();
  if (to_stream) {
    output_failed |= std::fputs(FormatPrologue(options.OutputFormat, files).c_str(), out) < 0;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    Outcome outcome;
    {
      // Each file ends within its time bound, so waiting here in input order is bounded too.
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait(lock, [&] { return ready[i] != 0; });
      outcome = std::move(outcomes[i]);
    }
    const FileResult& result = outcome.Result;
    if (result.Status != kExitOk || !outcome.WriteError.empty()) progress.Clear();
    if (!options.Quiet) ReportResolutions(result, progress);
    if (result.Status != kExitOk) {
      ReportFailures(result);
      status = std::max(status, result.Status);
    }
    if (!outcome.WriteError.empty()) {
      std::fprintf(messages, "ocrb: %s\n", outcome.WriteError.c_str());
      output_failed = true;
    }
    if (to_stream) {
      const std::string text =
          FormatFile(options.OutputFormat, result, i, files.size(), options.Text);
      output_failed |= std::fwrite(text.data(), 1, text.size(), out) != text.size();
    }
    progress.Update(i + 1);
  }
  if (to_stream) {
    output_failed |= std::fputs(FormatEpilogue(options.OutputFormat).c_str(), out) < 0;
    const bool flushed = std::fflush(out) == 0 && std::ferror(out) == 0;
    if (!flushed || output_failed) {
      progress.Clear();
      std::fprintf(messages, "ocrb: cannot write the output: %s\n", std::strerror(errno));
      output_failed = true;
    }
  }
  progress.Clear();
  // Results that never reached their file are lost: that outweighs a damaged input.
  return output_failed ? kExitEnvironment : status;
}

int Run(int argc, char** argv) {
  Options options;
  try {
    options = ParseCommandLine(argc, argv);
    if (options.What == Action::kRead) {
      if (!options.FilesFrom.empty()) {
        std::vector<std::string> listed = ReadNameList(options.FilesFrom);
        options.Files.insert(options.Files.end(), listed.begin(), listed.end());
      }
      if (options.Files.empty()) throw UsageError("no input files");
      const auto stdin_uses = std::count(options.Files.begin(), options.Files.end(), "-") +
                              (options.FilesFrom == "-" ? 1 : 0);
      if (stdin_uses > 1) throw UsageError("standard input can be read only once");
      if (!options.Overlay.empty() && options.Files.size() != 1) {
        throw UsageError("--overlay takes exactly one input file");
      }
    }
  } catch (const UsageError& e) {
    std::fprintf(messages, "ocrb: %s\nTry 'ocrb --help' for more information.\n", e.what());
    return kExitEnvironment;
  } catch (const InputError& e) {
    std::fprintf(messages, "ocrb: %s: %s\n", options.FilesFrom.c_str(), e.what());
    return e.Status();
  }

  switch (options.What) {
    case Action::kHelp:
      PrintHelp(stdout);
      return kExitOk;
    case Action::kVersion:
      PrintVersion(stdout);
      return kExitOk;
    case Action::kPrintParameters:
      PrintParameters(stdout, options.Engine);
      return kExitOk;
    case Action::kRead:
      break;
  }

  if (!options.OutputDir.empty()) {
    const std::string clash = OutputDirClash(options);
    if (!clash.empty()) {
      std::fprintf(messages, "ocrb: %s\n", clash.c_str());
      return kExitEnvironment;
    }
    std::error_code error;
    std::filesystem::create_directories(options.OutputDir, error);
    if (error) {
      std::fprintf(messages, "ocrb: cannot create %s: %s\n", options.OutputDir.c_str(),
                   error.message().c_str());
      return kExitEnvironment;
    }
  }
  if (options.OutputFile.empty() || options.OutputFile == "-") return ReadAll(options, stdout);
  // The output file appears whole once everything is written, or not at all.
  try {
    AtomicFile file(options.OutputFile);
    const int status = ReadAll(options, file.Stream());
    if (status == kExitEnvironment && std::ferror(file.Stream()) != 0) return status;
    file.Commit();
    return status;
  } catch (const InputError& e) {
    std::fprintf(messages, "ocrb: %s\n", e.what());
    return kExitEnvironment;
  }
}

}  // namespace
}  // namespace ocrb::cli

int main(int argc, char** argv) {
  const mode_t mask = umask(0);
  umask(mask);
  ocrb::cli::new_file_mode = 0666 & ~mask;
  try {
    return ocrb::cli::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(ocrb::cli::messages, "ocrb: internal error: %s\n", e.what());
    return ocrb::cli::kExitInternal;
  }
}
