// PNG pages in colour, with alpha or with a transparent colour, read a row at a time and turned
// to grey a strip at a time, so that a page never costs four bytes a pixel. libpng expands
// palettes and transparency, strips 16-bit samples to their high byte and makes grey into
// RGB; the pixels then pass through the conversions Leptonica's whole-image path would apply
// (GreyBuilder), and the resolution is rounded as Leptonica rounds it. Grey and palette PNGs
// without transparency cost Leptonica a byte a pixel and are left to it, as are interlaced
// ones, whose rows arrive over seven passes.
//
// libpng reports damage by jumping back to the setjmp of ReadRows; nothing with a destructor
// lives in that function's frame.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "reader/decoders.h"

namespace ocrb::reader {
namespace {

struct MemoryInput {
  const uint8_t* Data;
  size_t Size;
  size_t Position;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t length) {
  auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (length > input->Size - input->Position) png_error(png, "the file ends early");
  std::memcpy(out, input->Data + input->Position, length);
  input->Position += length;
}

// libpng's complaints end in png_error; warnings are of chunks it can do without.
void Failed(png_structp png, png_const_charp message) {
  auto* reason = static_cast<char*>(png_get_error_ptr(png));
  std::strncpy(reason, message, 199);
  reason[199] = '\0';
  png_longjmp(png, 1);
}

void Ignored(png_structp, png_const_charp) {}

struct PngReader {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~PngReader() { png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr); }
};

// What ReadRows learns of the page before the rows.
struct Layout {
  png_uint_32 Width = 0;
  png_uint_32 Height = 0;
  bool RowWise = false;
  bool Alpha = false;
  int XDpi = 0;
  int YDpi = 0;
};

l_int32 ToDpi(png_uint_32 per_metre) {
  // As Leptonica rounds it.
  return static_cast<l_int32>(
      static_cast<l_float32>(per_metre) / static_cast<double>(kPelsPerMeterPerDpi) + 0.5);
}

// Reads the header and, for the PNGs read here, every row into Builder (made once the size is
// known and the page checked). Returns false with Reason set when libpng found damage.
bool ReadRows(PngReader& reader, MemoryInput& input, const LoadOptions& options, Layout& layout,
              std::unique_ptr<GreyBuilder>& builder, std::vector<png_byte>& row) {
  png_structp png = reader.Png;
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_read_fn(png, &input, ReadBytes);
  png_read_info(png, reader.Info);
  layout.Width = png_get_image_width(png, reader.Info);
  layout.Height = png_get_image_height(png, reader.Info);
  const int colour = png_get_color_type(png, reader.Info);
  const bool transparent = png_get_valid(png, reader.Info, PNG_INFO_tRNS) != 0;
  const bool interlaced = png_get_interlace_type(png, reader.Info) != PNG_INTERLACE_NONE;
  layout.RowWise = !interlaced &&
                   ((colour & PNG_COLOR_MASK_COLOR) != 0 || (colour & PNG_COLOR_MASK_ALPHA) != 0 ||
                    transparent) &&
                   !(colour == PNG_COLOR_TYPE_PALETTE && !transparent);
  if (!layout.RowWise) return true;
  layout.XDpi = ToDpi(png_get_x_pixels_per_meter(png, reader.Info));
  layout.YDpi = ToDpi(png_get_y_pixels_per_meter(png, reader.Info));
  // Every page read here becomes RGB or RGBA of 8 bits a sample; a transparent colour of an RGB
  // page is ignored, as Leptonica ignores it.
  png_set_strip_16(png);
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (transparent && colour != PNG_COLOR_TYPE_RGB) png_set_tRNS_to_alpha(png);
  if ((colour & PNG_COLOR_MASK_COLOR) == 0) {
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
  }
  png_read_update_info(png, reader.Info);
  const int channels = png_get_channels(png, reader.Info);
  if (channels != 3 && channels != 4) png_error(png, "unexpected samples per pixel");
  layout.Alpha = channels == 4;
  // The page is checked before anything of its size is made.
  CheckPixels("the image", layout.Width, layout.Height, options);
  CheckPageMemory("the image", layout.Width, layout.Height, options);
  row.resize(png_get_rowbytes(png, reader.Info));
  builder = std::make_unique<GreyBuilder>(static_cast<int>(layout.Width),
                                          static_cast<int>(layout.Height), layout.Alpha);
  for (png_uint_32 y = 0; y < layout.Height; ++y) {
    png_read_row(png, row.data(), nullptr);
    l_uint32* out = builder->NextRow();
    for (png_uint_32 x = 0; x < layout.Width; ++x) {
      const png_bytep p = row.data() + static_cast<size_t>(x) * channels;
      out[x] = GreyBuilder::Rgba(p[0], p[1], p[2], channels == 4 ? p[3] : 255);
    }
  }
  // The data after the last row (its checksum, the end chunk) must be whole too.
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

std::optional<Pix> ReadPngRows(const std::vector<uint8_t>& bytes, const LoadOptions& options) {
  char reason[200] = "";
  PngReader reader;
  reader.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, reason, Failed, Ignored);
  if (reader.Png == nullptr) throw std::bad_alloc();
  reader.Info = png_create_info_struct(reader.Png);
  if (reader.Info == nullptr) throw std::bad_alloc();
  MemoryInput input{bytes.data(), bytes.size(), 0};
  Layout layout;
  std::unique_ptr<GreyBuilder> builder;
  std::vector<png_byte> row;
  if (!ReadRows(reader, input, options, layout, builder, row)) {
    throw InputError(kExitCorrupt, std::string("corrupt or truncated PNG data (") + reason + ")");
  }
  if (!layout.RowWise) return std::nullopt;
  Pix page = builder->Finish();
  pixSetResolution(page.get(), layout.XDpi, layout.YDpi);
  return page;
}

}  // namespace ocrb::reader
