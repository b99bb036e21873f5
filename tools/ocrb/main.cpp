// ocrb: reads numeric OCR-B text from image files.
//
// Files are read by a small team of threads, each with its own engine handle; the main
// thread writes the results, and every failure message, in the order of the inputs.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "options.h"
#include "reader/decoder.h"
#include "reader/reader.h"

namespace ocrb::cli {
namespace {

// Messages and the progress bar go here: a duplicate of standard error taken at start-up,
// which stays put while decoding threads mute descriptor 2.
FILE* messages = stderr;

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

void WriteWhole(const std::string& path, const std::string& text) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file || std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() ||
      std::fflush(file.get()) != 0) {
    throw InputError(kExitEnvironment, "cannot write " + path + ": " + std::strerror(errno));
  }
}

class Reader {
 public:
  explicit Reader(const Options& options) : options_(options) {
    load_.Dpi = options.Dpi;
    load_.Method = options.Method;
    load_.KeepPicture = !options.Overlay.empty();
    load_.MaxPixels = options.MaxPixels;
    load_.MaxFileSize = options.MaxFileSize;
    load_.MaxPages = options.MaxPages;
  }

  // Reads one file completely: its pages, its overlay, and (with --output-dir) its file.
  FileResult Read(Engine& engine, const std::string& name) const {
    FileResult result;
    result.Name = name;
    try {
      // Pages are read as they are decoded: one is held at a time.
      DecodeImage(ReadInputFile(name, load_), load_, [&](Page&& page) {
        result.Pages.push_back(engine.Read(page, options_.SingleLine));
        if (options_.BestLine) KeepBestLine(result.Pages.back());
        if (!options_.Overlay.empty()) {
          Decoder().WriteOverlay(page.Picture.get(), result.Pages.back(),
                                 OverlayPath(options_.Overlay, result.Pages.size() - 1));
        }
      });
      if (!options_.OutputDir.empty()) {
        WriteWhole(OutputDirPath(options_.OutputDir, name, options_.OutputFormat),
                   FormatPrologue(options_.OutputFormat) +
                       FormatFile(options_.OutputFormat, result, 0, 1, options_.Text) +
                       FormatEpilogue(options_.OutputFormat));
      }
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
    if (result.Status != kExitOk) result.Pages.clear();
    return result;
  }

 private:
  const Options& options_;
  LoadOptions load_;
};

int ReadAll(const Options& options, FILE* out) {
  const std::vector<std::string>& files = options.Files;
  const Reader reader(options);
  std::vector<FileResult> results(files.size());
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
      FileResult result;
      if (engine) {
        result = reader.Read(*engine, files[i]);
      } else {
        result.Name = files[i];
        result.Status = kExitInternal;
        result.Error = startup_error;
      }
      std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(result);
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
  if (to_stream) output_failed |= std::fputs(FormatPrologue(options.OutputFormat).c_str(), out) < 0;
  for (size_t i = 0; i < files.size(); ++i) {
    FileResult result;
    {
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait(lock, [&] { return ready[i] != 0; });
      result = std::move(results[i]);
    }
    if (result.Status != kExitOk) {
      progress.Clear();
      const std::string shown = result.Name == "-" ? "standard input" : result.Name;
      std::fprintf(messages, "ocrb: %s: %s\n", shown.c_str(), result.Error.c_str());
      status = std::max(status, result.Status);
    }
    if (to_stream) {
      const std::string text =
          FormatFile(options.OutputFormat, result, i, files.size(), options.Text);
      output_failed |= std::fwrite(text.data(), 1, text.size(), out) != text.size();
    }
    progress.Update(i + 1);
  }
  if (to_stream) output_failed |= std::fputs(FormatEpilogue(options.OutputFormat).c_str(), out) < 0;
  output_failed |= std::fflush(out) != 0;
  progress.Clear();
  if (output_failed) {
    std::fprintf(messages, "ocrb: cannot write the output: %s\n", std::strerror(errno));
    status = std::max<int>(status, kExitEnvironment);
  }
  return status;
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
    std::error_code error;
    std::filesystem::create_directories(options.OutputDir, error);
    if (error) {
      std::fprintf(messages, "ocrb: cannot create %s: %s\n", options.OutputDir.c_str(),
                   error.message().c_str());
      return kExitEnvironment;
    }
  }
  File file;
  if (!options.OutputFile.empty() && options.OutputFile != "-") {
    file.reset(std::fopen(options.OutputFile.c_str(), "wb"));
    if (!file) {
      std::fprintf(messages, "ocrb: cannot write %s: %s\n", options.OutputFile.c_str(),
                   std::strerror(errno));
      return kExitEnvironment;
    }
  }
  return ReadAll(options, file ? file.get() : stdout);
}

}  // namespace
}  // namespace ocrb::cli

int main(int argc, char** argv) {
  // Leptonica's own diagnostics are replaced by one message per file (the decoder module
  // silences them as it loads).
  const int duplicate = dup(2);
  if (duplicate >= 0) {
    if (FILE* stream = fdopen(duplicate, "w")) {
      std::setvbuf(stream, nullptr, _IOLBF, 0);
      ocrb::cli::messages = stream;
    }
  }
  try {
    return ocrb::cli::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(ocrb::cli::messages, "ocrb: internal error: %s\n", e.what());
    return ocrb::cli::kExitInternal;
  }
}
