// The input side without the decoders: reading files within their limits, the 1-bit BMPs that
// go to the engine as they are, and handing everything else to the decoder helper.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "reader/bounded.h"
#include "reader/decoder.h"
#include "reader/image.h"
#include "reader/resolution.h"

namespace ocrb::reader {
namespace {

bool IsBmp(const uint8_t* data, size_t size) {
  return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

}  // namespace

std::optional<Page> ReadPlainBmp(const std::vector<uint8_t>& bytes, const LoadOptions& options) {
  const size_t size = bytes.size();
  if (size < kFileHeaderBytes + kInfoHeaderBytes || !IsBmp(bytes.data(), size)) {
    return std::nullopt;
  }
  const uint8_t* dib = bytes.data() + kFileHeaderBytes;
  const uint32_t header = Get32(dib);
  const int32_t width = static_cast<int32_t>(Get32(dib + layout::kWidthField));
  const int32_t height = static_cast<int32_t>(Get32(dib + layout::kHeightField));
  if (header < kInfoHeaderBytes || Get16(dib + 14) != 1 || Get32(dib + 16) != 0 || width <= 0 ||
      height <= 0) {
    return std::nullopt;
  }
  CheckPixels("the image", width, height, options);
  const uint64_t colours =
      Get32(dib + layout::kClrUsedField) == 0 ? 2 : Get32(dib + layout::kClrUsedField);
  if (colours > 256) throw InputError(kExitCorrupt, "damaged BMP header (palette too large)");
  const uint64_t table_end = uint64_t{header} + 4 * colours;  // header and palette
  const uint64_t stride = (uint64_t(width) + 31) / 32 * 4;
  const uint64_t pixel_bytes = stride * uint64_t(height);
  const uint64_t offset = Get32(bytes.data() + 10);
  if (offset < kFileHeaderBytes + table_end || kFileHeaderBytes + table_end > size) {
    throw InputError(kExitCorrupt, "damaged BMP header (pixel data overlaps the palette)");
  }
  if (offset + pixel_bytes > size) {
    throw InputError(kExitCorrupt, "truncated BMP: the pixel rows need " +
                                       std::to_string(pixel_bytes) + " bytes, the file holds " +
                                       std::to_string(size - std::min<uint64_t>(offset, size)));
  }

  std::vector<uint8_t> packed;
  if (offset == kFileHeaderBytes + table_end) {
    packed.assign(dib, bytes.data() + size);
  } else {
    // A gap between palette and pixels: close it, since the engine expects them adjacent.
    packed.assign(dib, dib + table_end);
    packed.insert(packed.end(), bytes.data() + offset, bytes.data() + offset + pixel_bytes);
  }
  const int x_dpi = PelsPerMeterToDpi(static_cast<int32_t>(Get32(packed.data() + kXPelsField)));
  const int y_dpi = PelsPerMeterToDpi(static_cast<int32_t>(Get32(packed.data() + kYPelsField)));
  const Resolution chosen = ChooseResolution(x_dpi, y_dpi, DpiSource::kFile, options, [&] {
    const ResolutionEstimate estimate = EstimateDibResolution(packed.data(), width, height);
    return DpiEstimate{estimate.Dpi, estimate.Trusted()};
  });
  // One stated resolution stands for both, in the header too.
  if (chosen.Source != DpiSource::kNone && (chosen.X != x_dpi || chosen.Y != y_dpi)) {
    SetDibDpi(packed.data(), chosen.X, chosen.Y);
  }

  Page page;
  page.Dib = CopyToBlock(packed.data(), packed.size());
  page.Width = width;
  page.Height = height;
  // What the engine is handed: the header's own figures unless replaced.
  page.XDpi = chosen.Source == DpiSource::kNone ? x_dpi : chosen.X;
  page.YDpi = chosen.Source == DpiSource::kNone ? y_dpi : chosen.Y;
  page.Source = chosen.Source;
  page.StatedXDpi = chosen.StatedX;
  page.StatedYDpi = chosen.StatedY;
  page.Plain = true;
  if (options.KeepPicture) {
    page.Picture = Decoder().ReadPicture(bytes);
    if (!page.Picture) throw InputError(kExitCorrupt, "damaged BMP data");
  }
  return page;
}

GlobalBlock CopyToBlock(const uint8_t* data, size_t size) {
  GlobalBlock block(OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, size));
  void* bytes = block.Get() != nullptr ? OCRB_GlobalLock(block.Get()) : nullptr;
  if (bytes == nullptr) throw std::bad_alloc();
  std::memcpy(bytes, data, size);
  OCRB_GlobalUnlock(block.Get());
  return block;
}

namespace {

struct FileCloser {
  void operator()(FILE* file) const {
    if (file != stdin) std::fclose(file);
  }
};
using OpenFile = std::unique_ptr<FILE, FileCloser>;

// Path opened for reading ("-": standard input).
OpenFile Open(const std::string& path) {
  OpenFile file(path == "-" ? stdin : std::fopen(path.c_str(), "rb"));
  if (!file) throw InputError(kExitEnvironment, std::strerror(errno));
  return file;
}

// Reads File to its end, no further than it has to be: more than Max_bytes is refused
// (InputError(kExitCorrupt), naming Limit), a regular file from its size before any byte is
// read. With Images_only, a pipe or device whose first bytes are no image is given up at once.
std::vector<uint8_t> ReadWithin(FILE* file, uint64_t max_bytes, const std::string& limit,
                                bool images_only) {
  struct stat info {};
  std::vector<uint8_t> bytes;
  const bool regular = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
  if (regular) {
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > max_bytes) {
      throw InputError(kExitCorrupt, "the file (" + Count(size) + " bytes) exceeds " + limit);
    }
    bytes.reserve(size);
  }
  // Pipes and devices say nothing of their size: they are read until the limit is passed,
  // and given up at once when their first bytes are no image. BMP and PDF are told without
  // the decoders; a regular file is left to them.
  uint8_t buffer[1 << 16];
  bool sniffed = regular || !images_only;
  for (;;) {
    const size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got == 0) break;
    if (bytes.size() + got > max_bytes) {
      throw InputError(kExitCorrupt, "the input exceeds " + limit);
    }
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (!sniffed && bytes.size() >= kHeadBytes) {
      sniffed = true;
      if (!IsPdf(bytes.data(), bytes.size()) && !IsBmp(bytes.data(), bytes.size()) &&
          !Decoder().KnownFormat(bytes.data(), kHeadBytes)) {
        NotAnImage();
      }
    }
  }
  // Reading a directory fails here (EISDIR) rather than at opening.
  if (std::ferror(file)) throw InputError(kExitEnvironment, std::strerror(errno));
  return bytes;
}

}  // namespace

std::vector<uint8_t> ReadFileBytes(const std::string& path, uint64_t max_bytes) {
  return ReadWithin(Open(path).get(), max_bytes,
                    "the limit of " + Count(max_bytes) + " bytes for a file", false);
}

std::vector<uint8_t> ReadInputFile(const std::string& path, const LoadOptions& options) {
  return ReadInputStream(Open(path).get(), options);
}

std::vector<uint8_t> ReadInputStream(FILE* file, const LoadOptions& options) {
  return ReadWithin(file, options.MaxFileSize,
                    "--max-file-size (" + Count(options.MaxFileSize) + " bytes)", true);
}

void DecodeImage(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                 const PageSink& sink) {
  if (bytes.empty()) throw InputError(kExitCorrupt, "empty file");
  if (bytes.size() > options.MaxFileSize) {
    throw InputError(kExitCorrupt, "the input (" + Count(bytes.size()) +
                                       " bytes) exceeds --max-file-size (" +
                                       Count(options.MaxFileSize) + " bytes)");
  }
  if (!IsPdf(bytes.data(), bytes.size())) {
    if (std::optional<Page> page = ReadPlainBmp(bytes, options)) {
      sink(std::move(*page));
      return;
    }
  }
  DecodeBounded(bytes, options, sink);
}

std::vector<Page> DecodeImage(const std::vector<uint8_t>& bytes, const LoadOptions& options) {
  std::vector<Page> pages;
  DecodeImage(bytes, options, [&pages](Page&& page) { pages.push_back(std::move(page)); });
  return pages;
}

}  // namespace ocrb::reader
