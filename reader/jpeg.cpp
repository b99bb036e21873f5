// JPEG pages read a row at a time with libjpeg: grey ones straight into an 8-bit picture,
// colour and CMYK ones a strip at a time to grey (GreyBuilder), with the conversions
// Leptonica's whole-image reader applies (CMYK to RGB as it does, Adobe's inverted CMYK
// included), so that a page never costs four bytes a pixel.
//
// Two things Leptonica cannot be told: a progressive JPEG is refused once its scans pass
// kMaxJpegScans (a progress monitor sees every scan start while libjpeg gathers them, before
// the first row comes out), and every warning of damaged data is damage at once, rather than
// after libjpeg has consumed the rest of the file.
//
// libjpeg reports errors by calling error_exit, which jumps back to the setjmp of ReadRows;
// nothing with a destructor lives in that function's frame.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "reader/decoders.h"

// After FILE and size_t, which it uses without declaring.
#include <jpeglib.h>

namespace ocrb::reader {
namespace {

// The error manager with somewhere to jump to and a place for the reason.
struct Errors {
  jpeg_error_mgr Manager{};
  jmp_buf Jump{};
  char Reason[JMSG_LENGTH_MAX] = "";
};

[[noreturn]] void Stop(j_common_ptr info) {
  auto* errors = reinterpret_cast<Errors*>(info->err);
  (*info->err->format_message)(info, errors->Reason);
  std::longjmp(errors->Jump, 1);
}

// Warnings (level -1) are of damaged data; trace messages (higher levels) are not.
void Message(j_common_ptr info, int level) {
  if (level < 0) Stop(info);
}

void Nothing(j_common_ptr) {}

// Called while libjpeg gathers the scans of a progressive file, before the first row.
void Progress(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxJpegScans) {
    auto* errors = reinterpret_cast<Errors*>(info->err);
    std::snprintf(errors->Reason, sizeof errors->Reason, "a progressive JPEG of more than %d scans",
                  kMaxJpegScans);
    std::longjmp(errors->Jump, 1);
  }
}

struct Decompressor {
  jpeg_decompress_struct Info{};
  Errors Err;
  jpeg_progress_mgr Monitor{};
  Decompressor() {
    Info.err = jpeg_std_error(&Err.Manager);
    Err.Manager.error_exit = Stop;
    Err.Manager.emit_message = Message;
    Err.Manager.output_message = Nothing;
    Monitor.progress_monitor = Progress;
  }
  ~Decompressor() { jpeg_destroy_decompress(&Info); }
};

struct Layout {
  int Width = 0;
  int Height = 0;
  int Components = 0;
  bool Cmyk = false;
  bool Adobe = false;
  int XDpi = 0;
  int YDpi = 0;
};

// Leptonica's conversion of one CMYK pixel to RGB, ignoring colour profiles; Adobe's files
// store C, M and Y inverted.
l_uint32 CmykToRgba(int cyan, int magenta, int yellow, int black, bool adobe) {
  auto channel = [black, adobe](int ink) {
    const int v = adobe ? black * ink / 255 : black * (255 - ink) / 255;
    return static_cast<uint32_t>(std::min(std::max(v, 0), 255));
  };
  return GreyBuilder::Rgba(channel(cyan), channel(magenta), channel(yellow), 255);
}

// Reads the header, checks the page, then every row: grey ones into Grey, others through
// Builder. Returns false with the reason in the decompressor when libjpeg stopped.
bool ReadRows(Decompressor& d, const std::vector<uint8_t>& bytes, const LoadOptions& options,
              Layout& layout, Pix& grey, std::unique_ptr<GreyBuilder>& builder,
              std::vector<JSAMPLE>& row) {
  jpeg_decompress_struct& info = d.Info;
  if (setjmp(d.Err.Jump) != 0) return false;
  jpeg_create_decompress(&info);
  info.progress = &d.Monitor;
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  jpeg_calc_output_dimensions(&info);
  layout.Width = static_cast<int>(info.output_width);
  layout.Height = static_cast<int>(info.output_height);
  layout.Components = info.out_color_components;
  layout.Cmyk = layout.Components == 4 &&
                (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK);
  if (layout.Components != 1 && layout.Components != 3 && !layout.Cmyk) {
    std::snprintf(d.Err.Reason, sizeof d.Err.Reason, "%d samples a pixel", layout.Components);
    return false;
  }
  CheckPixels("the image", layout.Width, layout.Height, options);
  CheckPageMemory("the image", static_cast<uint64_t>(layout.Width),
                  static_cast<uint64_t>(layout.Height), options);
  row.resize(static_cast<size_t>(layout.Width) * static_cast<size_t>(layout.Components));
  if (layout.Components == 1) {
    grey.reset(pixCreate(layout.Width, layout.Height, 8));
    if (!grey) throw std::bad_alloc();
  } else {
    builder = std::make_unique<GreyBuilder>(layout.Width, layout.Height, false);
  }
  // A progressive file's scans are all read here.
  jpeg_start_decompress(&info);
  layout.Adobe = info.saw_Adobe_marker != 0;
  for (int y = 0; y < layout.Height; ++y) {
    JSAMPROW rows[1] = {row.data()};
    if (jpeg_read_scanlines(&info, rows, 1) != 1) {
      std::snprintf(d.Err.Reason, sizeof d.Err.Reason, "row %d cannot be read", y);
      return false;
    }
    if (layout.Components == 1) {
      l_uint32* line = pixGetData(grey.get()) + static_cast<size_t>(y) * pixGetWpl(grey.get());
      for (int x = 0; x < layout.Width; ++x) SET_DATA_BYTE(line, x, row[static_cast<size_t>(x)]);
      continue;
    }
    l_uint32* out = builder->NextRow();
    for (int x = 0; x < layout.Width; ++x) {
      const JSAMPLE* p = row.data() + static_cast<size_t>(x) * layout.Components;
      out[x] = layout.Cmyk ? CmykToRgba(p[0], p[1], p[2], p[3], layout.Adobe)
                           : GreyBuilder::Rgba(p[0], p[1], p[2], 255);
    }
  }
  // As Leptonica reads them: pixels per inch, or per centimetre; any other unit states none.
  if (info.density_unit == 1) {
    layout.XDpi = info.X_density;
    layout.YDpi = info.Y_density;
  } else if (info.density_unit == 2) {
    layout.XDpi = static_cast<l_int32>(static_cast<l_float32>(info.X_density) * 2.54 + 0.5);
    layout.YDpi = static_cast<l_int32>(static_cast<l_float32>(info.Y_density) * 2.54 + 0.5);
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

Pix ReadJpegRows(const std::vector<uint8_t>& bytes, const LoadOptions& options) {
  Decompressor d;
  Layout layout;
  Pix grey;
  std::unique_ptr<GreyBuilder> builder;
  std::vector<JSAMPLE> row;
  if (!ReadRows(d, bytes, options, layout, grey, builder, row)) {
    throw InputError(kExitCorrupt,
                     std::string("corrupt or truncated JPEG data (") + d.Err.Reason + ")");
  }
  Pix page = builder ? builder->Finish() : std::move(grey);
  pixSetResolution(page.get(), layout.XDpi, layout.YDpi);
  return page;
}

}  // namespace ocrb::reader
