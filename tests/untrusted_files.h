// Files an attacker would hand the reader, made byte by byte: each small, each built to cost
// a naive decoder minutes, gigabytes or a wrong answer. PDFs whose rendering never ends (an
// image of billions of rows, forms drawn within forms, tiling cells of a hundredth of a point,
// millions of strokes, one fill over a long path, a JBIG2 page of 130000 x 130000 pixels), a
// progressive JPEG that repeats its last scan, PNG and TIFF pages whose decoded forms dwarf
// their files, and TIFF and PDF pages whose data is cut or garbled. The tests and
// bench/untrusted_files.cpp (which writes them out for timing) share them.
#ifndef OCRB_TESTS_UNTRUSTED_FILES_H_
#define OCRB_TESTS_UNTRUSTED_FILES_H_

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// After size_t and FILE, which it uses without declaring.
#include <jpeglib.h>

#include "pdf_test_util.h"

namespace ocrb::testing_util {

// ---- Compression ---------------------------------------------------------------------------

// A zlib stream of Chunk repeated Times times, made without compressing the whole: the chunk
// is compressed once up to a full flush (which ends the block on a byte and forgets the
// window), and that piece stands for every repetition.
inline std::string DeflateRepeated(const std::string& chunk, uint64_t times, int level = 9) {
  z_stream z{};
  if (deflateInit(&z, level) != Z_OK) throw std::runtime_error("deflateInit");
  std::string head, piece, tail;
  auto run = [&z](const std::string& in, int flush, std::string& out) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    unsigned char buffer[1 << 14];
    do {
      z.next_out = buffer;
      z.avail_out = sizeof buffer;
      deflate(&z, flush);
      out.append(reinterpret_cast<char*>(buffer), sizeof buffer - z.avail_out);
    } while (z.avail_out == 0 || z.avail_in > 0);
  };
  run("", Z_NO_FLUSH, head);  // nothing yet: the two header bytes come with the first flush
  run(chunk, Z_FULL_FLUSH, piece);
  run("", Z_FINISH, tail);
  deflateEnd(&z);
  // The first flush carries the zlib header; later repetitions must not.
  const std::string first = head + piece;
  const std::string body = first.substr(2);
  uLong adler = adler32(0L, Z_NULL, 0);
  const uLong chunk_adler =
      adler32(adler32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(chunk.data()),
              static_cast<uInt>(chunk.size()));
  std::string out = first;
  for (uint64_t i = 1; i < times; ++i) out += body;
  for (uint64_t i = 0; i < times; ++i) {
    adler = adler32_combine(adler, chunk_adler, static_cast<z_off_t>(chunk.size()));
  }
  // The finishing piece ends with the checksum of what it saw (one chunk): replace it.
  tail.resize(tail.size() - 4);
  out += tail;
  for (int i = 3; i >= 0; --i) out += static_cast<char>(adler >> (8 * i) & 0xFF);
  return out;
}

inline std::string Deflate(const std::string& data, int level = 9) {
  return DeflateRepeated(data, 1, level);
}

// ---- PDF -----------------------------------------------------------------------------------

// A one-page US letter PDF whose content stream has Filter (empty or "/Filter /FlateDecode")
// and Data; Extra adds objects first (it gets the writer and returns the resources
// dictionary).
template <typename Extra>
std::string LetterPdfStream(const std::string& filter, const std::string& data, Extra extra) {
  PdfWriter pdf;
  const int catalog = pdf.Reserve();
  const int pages = pdf.Reserve();
  const std::string resources = extra(pdf);
  const int stream = pdf.Add(PdfWriter::Stream(filter, data));
  const int page = pdf.Add("<< /Type /Page /Parent " + std::to_string(pages) +
                           " 0 R /MediaBox [0 0 612 792] /Resources " + resources + " /Contents " +
                           std::to_string(stream) + " 0 R >>");
  pdf.Set(catalog, "<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>");
  pdf.Set(pages, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
  return pdf.Finish(catalog);
}

// The same drawing Contents, compressed when asked.
template <typename Extra>
std::string LetterPdf(const std::string& contents, Extra extra, bool compress = false) {
  return compress ? LetterPdfStream("/Filter /FlateDecode", Deflate(contents), extra)
                  : LetterPdfStream("", contents, extra);
}

// An image of Width x Height bits over the whole page, holding about a kilobyte of Flate data
// (all zero rows): the renderer walks every row it states.
inline std::string HugeImagePdf(uint64_t width = 60000, uint64_t height = 2000000000) {
  return LetterPdf("q 612 0 0 792 0 0 cm /Im0 Do Q\n", [&](PdfWriter& pdf) {
    const int image = pdf.Add(
        PdfWriter::Stream("/Type /XObject /Subtype /Image /Width " + std::to_string(width) +
                              " /Height " + std::to_string(height) +
                              " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /FlateDecode",
                          Deflate(std::string(1 << 20, '\0'))));
    return "<< /XObject << /Im0 " + Ref(image) + " >> >>";
  });
}

// A form drawing a square; each of Depth forms above it draws the one below Fan times.
inline std::string NestedFormPdf(int depth = 9, int fan = 10) {
  return LetterPdf("/F" + std::to_string(depth) + " Do\n", [&](PdfWriter& pdf) {
    int below = pdf.Add(
        PdfWriter::Stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792]", "0 0 612 792 re f"));
    for (int level = 1; level <= depth; ++level) {
      std::string draws;
      for (int i = 0; i < fan; ++i) draws += "/F" + std::to_string(level - 1) + " Do\n";
      below =
          pdf.Add(PdfWriter::Stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] "
                                    "/Resources << /XObject << /F" +
                                        std::to_string(level - 1) + " " + Ref(below) + " >> >>",
                                    draws));
    }
    return "<< /XObject << /F" + std::to_string(depth) + " " + Ref(below) + " >> >>";
  });
}

// The whole page filled with a tiling pattern whose cell is Cell points square.
inline std::string TinyTilingPdf(double cell = 0.01) {
  char step[32];
  std::snprintf(step, sizeof step, "%.4f", cell);
  return LetterPdf("/Pattern cs /P0 scn 0 0 612 792 re f\n", [&](PdfWriter& pdf) {
    const std::string s = step;
    const int pattern = pdf.Add(
        PdfWriter::Stream("/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 " + s + " " + s +
                              "] /XStep " + s + " /YStep " + s + " /Resources << >>",
                          "0 0 " + s + " " + s + " re f"));
    return "<< /Pattern << /P0 " + Ref(pattern) + " >> >>";
  });
}

// Strokes (a multiple of 10000) lines corner to corner across the page, compressed.
inline std::string ManyStrokesPdf(int strokes = 2000000) {
  std::string chunk;
  for (int i = 0; i < 10000; ++i) chunk += "0 0 m 612 792 l S\n";
  return LetterPdfStream("/Filter /FlateDecode",
                         DeflateRepeated(chunk, static_cast<uint64_t>(strokes / 10000)),
                         [](PdfWriter&) { return std::string("<< >>"); });
}

// The content of one fill over a path of Segments lines between scattered points (a fixed
// sequence of a linear congruential generator).
inline std::string LongFillContents(int segments = 200000) {
  std::string contents = "306 396 m\n";
  uint32_t state = 12345;
  auto next = [&state](int range) {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 8) % static_cast<uint32_t>(range));
  };
  for (int i = 0; i < segments; ++i) {
    contents += std::to_string(next(612)) + " " + std::to_string(next(792)) + " l\n";
  }
  return contents + "f\n";
}

inline std::string LongFillPdf(int segments = 200000) {
  return LetterPdf(
      LongFillContents(segments), [](PdfWriter&) { return std::string("<< >>"); }, true);
}

// A JBIG2 image whose page information segment states Side x Side pixels.
inline std::string Jbig2PagePdf(uint32_t side = 130000) {
  auto put32 = [](std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i) & 0xFF);
  };
  std::string data;
  // Segment header: number, type 48 (page information), no referred segments, page 1, length.
  put32(data, 0);
  data += '\x30';
  data += '\x00';
  data += '\x01';
  put32(data, 19);
  put32(data, side);  // width, height, resolutions, flags, striping
  put32(data, side);
  put32(data, 0);
  put32(data, 0);
  data += '\x00';
  data += std::string("\x00\x00", 2);
  // End of page (type 49).
  put32(data, 1);
  data += '\x31';
  data += '\x00';
  data += '\x01';
  put32(data, 0);
  return LetterPdf("q 612 0 0 792 0 0 cm /Im0 Do Q\n", [&](PdfWriter& pdf) {
    const int image =
        pdf.Add(PdfWriter::Stream("/Type /XObject /Subtype /Image /Width " + std::to_string(side) +
                                      " /Height " + std::to_string(side) +
                                      " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter "
                                      "/JBIG2Decode",
                                  data));
    return "<< /XObject << /Im0 " + Ref(image) + " >> >>";
  });
}

// ---- JPEG ----------------------------------------------------------------------------------

// A JPEG of Width x Height pixels of Components samples (1 grey, 3 RGB, 4 CMYK), each row
// filled by Fill(y, row); Progression sets the scans (none: a baseline file).
template <typename Fill>
std::string EncodeJpeg(int width, int height, int components, Fill fill,
                       const std::function<void(jpeg_compress_struct&)>& progression = {}) {
  jpeg_compress_struct c{};
  jpeg_error_mgr error{};
  c.err = jpeg_std_error(&error);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  if (progression) progression(c);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * static_cast<size_t>(components));
  for (int y = 0; y < height; ++y) {
    fill(y, row.data());
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string jpeg(reinterpret_cast<char*>(out), size);
  std::free(out);
  return jpeg;
}

// A grey progressive JPEG of Width x Height (flat grey, so that a refinement scan is a few
// bytes), its last scan repeated until it holds Scans scans.
inline std::string RepeatedScanJpeg(int width, int height, int scans) {
  const std::string jpeg = EncodeJpeg(
      width, height, 1,
      [width](int, JSAMPLE* row) { std::fill(row, row + width, static_cast<JSAMPLE>(128)); },
      [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
  // The scans: each starts at a start-of-scan marker and runs to the next marker that is
  // neither a stuffed byte nor a restart.
  std::vector<size_t> starts;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF &&
        static_cast<unsigned char>(jpeg[i + 1]) == 0xDA)
      starts.push_back(i);
  }
  const size_t end = jpeg.size() - 2;  // the end-of-image marker
  const std::string last = jpeg.substr(starts.back(), end - starts.back());
  std::string more;
  for (int i = static_cast<int>(starts.size()); i < scans; ++i) more += last;
  return jpeg.substr(0, end) + more + jpeg.substr(end);
}

// A valid grey progressive JPEG of Width x Height sent in Scans scans (at most 505): the DC
// coefficients first, then each AC coefficient on its own, a bit at a time from bit 7 down.
inline std::string ManyScanJpeg(int width, int height, int scans) {
  std::vector<jpeg_scan_info> script(1);
  script[0] = {1, {0}, 0, 0, 0, 0};
  for (int k = 1; k < 64 && static_cast<int>(script.size()) < scans; ++k) {
    for (int bit = 7; bit >= 0 && static_cast<int>(script.size()) < scans; --bit) {
      script.push_back({1, {0}, k, k, bit == 7 ? 0 : bit + 1, bit});
    }
  }
  return EncodeJpeg(
      width, height, 1,
      [width](int y, JSAMPLE* row) {
        for (int x = 0; x < width; ++x) row[x] = static_cast<JSAMPLE>(x * y);
      },
      [&script](jpeg_compress_struct& c) {
        c.scan_info = script.data();
        c.num_scans = static_cast<int>(script.size());
      });
}

// ---- PNG -----------------------------------------------------------------------------------

inline void PutBig32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i) & 0xFF);
}

inline std::string PngChunk(const std::string& type, const std::string& data) {
  std::string chunk;
  PutBig32(chunk, static_cast<uint32_t>(data.size()));
  const std::string body = type + data;
  chunk += body;
  PutBig32(chunk, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                              static_cast<uInt>(body.size()))));
  return chunk;
}

// A Side x Side RGBA PNG of transparent black: about a megabyte for 16000.
inline std::string BlankRgbaPng(uint32_t side = 16000) {
  std::string header;
  PutBig32(header, side);
  PutBig32(header, side);
  header +=
      std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace
  const std::string row(1 + 4 * size_t{side}, '\0');  // filter byte and pixels
  return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", header) +
         PngChunk("IDAT", DeflateRepeated(row, side)) + PngChunk("IEND", "");
}

// ---- TIFF ----------------------------------------------------------------------------------

// One page of a little-endian TIFF written tag by tag: its pixels as strips (or tiles) of
// raw, already compressed bytes.
struct TiffPageSpec {
  uint32_t Width = 1;
  uint32_t Height = 1;
  uint16_t Bits = 1;
  uint16_t Samples = 1;
  uint16_t Photometric = 0;        // 0 min-is-white, 1 min-is-black, 2 RGB
  uint16_t Compression = 1;        // 1 none, 8 deflate
  uint32_t RowsPerStrip = 0;       // 0: Height
  uint32_t TileSide = 0;           // nonzero: tiles of this side instead of strips
  uint32_t Dpi = 0;                // 0: no resolution tags
  std::vector<std::string> Parts;  // strips or tiles
};

inline std::string MakeTiffFile(const std::vector<TiffPageSpec>& pages) {
  std::string out = std::string("II*\0", 4);
  auto put = [](std::string& s, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
  };
  out += std::string(4, '\0');
  size_t link = 4;  // where the offset of the next directory goes
  for (const TiffPageSpec& page : pages) {
    // The parts first, then their offset and count arrays, then the directory.
    std::vector<uint32_t> offsets, counts;
    for (const std::string& part : page.Parts) {
      offsets.push_back(static_cast<uint32_t>(out.size()));
      counts.push_back(static_cast<uint32_t>(part.size()));
      out += part;
      if (out.size() % 2 != 0) out += '\0';
    }
    auto array = [&out, &put](const std::vector<uint32_t>& values) {
      const size_t at = out.size();
      out += std::string(4 * values.size(), '\0');
      for (size_t i = 0; i < values.size(); ++i) put(out, at + 4 * i, values[i], 4);
      return static_cast<uint32_t>(at);
    };
    const uint32_t offsets_at = array(offsets), counts_at = array(counts);
    const uint32_t bits_at = array({uint32_t{page.Bits} | uint32_t{page.Bits} << 16, page.Bits});
    const uint32_t resolution_at = array({page.Dpi, 1});
    struct Tag {
      uint16_t Id, Type;
      uint32_t Count, Value;
    };
    const uint32_t n = static_cast<uint32_t>(page.Parts.size());
    std::vector<Tag> tags = {{256, 4, 1, page.Width}, {257, 4, 1, page.Height}};
    // Three samples of one depth need the count in an array of shorts.
    tags.push_back(page.Samples == 3 ? Tag{258, 3, 3, bits_at} : Tag{258, 3, 1, page.Bits});
    tags.push_back({259, 3, 1, page.Compression});
    tags.push_back({262, 3, 1, page.Photometric});
    if (page.TileSide == 0) tags.push_back({273, 4, n, n == 1 ? offsets[0] : offsets_at});
    tags.push_back({277, 3, 1, page.Samples});
    if (page.TileSide == 0) {
      tags.push_back({278, 4, 1, page.RowsPerStrip == 0 ? page.Height : page.RowsPerStrip});
      tags.push_back({279, 4, n, n == 1 ? counts[0] : counts_at});
    }
    if (page.Dpi > 0) {
      tags.push_back({282, 5, 1, resolution_at});
      tags.push_back({283, 5, 1, resolution_at});
      tags.push_back({296, 3, 1, 2});
    }
    if (page.TileSide != 0) {
      tags.push_back({322, 4, 1, page.TileSide});
      tags.push_back({323, 4, 1, page.TileSide});
      tags.push_back({324, 4, n, n == 1 ? offsets[0] : offsets_at});
      tags.push_back({325, 4, n, n == 1 ? counts[0] : counts_at});
    }
    const size_t ifd = out.size();
    out += std::string(2 + 12 * tags.size() + 4, '\0');
    put(out, ifd, static_cast<uint32_t>(tags.size()), 2);
    for (size_t t = 0; t < tags.size(); ++t) {
      const size_t at = ifd + 2 + 12 * t;
      put(out, at, tags[t].Id, 2);
      put(out, at + 2, tags[t].Type, 2);
      put(out, at + 4, tags[t].Count, 4);
      put(out, at + 8, tags[t].Value, tags[t].Type == 3 && tags[t].Count == 1 ? 2 : 4);
    }
    put(out, link, static_cast<uint32_t>(ifd), 4);
    link = ifd + 2 + 12 * tags.size();
  }
  return out;
}

// A bilevel page one pixel wide and Height high (a multiple of 100000), in one deflate strip of
// white rows.
inline std::string TallBilevelTiff(uint32_t height = 200000000) {
  constexpr uint32_t kRows = 100000;
  TiffPageSpec page;
  page.Height = height / kRows * kRows;
  page.Compression = 8;
  page.Parts = {DeflateRepeated(std::string(kRows, '\0'), height / kRows)};
  return MakeTiffFile({page});
}

// A small page stating tiles of Side x Side pixels, with one tile of a few bytes.
inline std::string HugeTileTiff(uint32_t side = 65536) {
  TiffPageSpec page;
  page.Width = 64;
  page.Height = 64;
  page.Compression = 8;
  page.TileSide = side;
  page.Parts = {Deflate(std::string(4096, '\0'))};
  return MakeTiffFile({page});
}

// ---- BMP -----------------------------------------------------------------------------------

// A 1-bit BMP of Side x Side random pixels (a linear congruential generator), at 300 dpi.
inline std::string NoiseBmp(uint32_t side = 16000) {
  const size_t stride = (size_t{side} + 31) / 32 * 4;
  const size_t pixels = stride * side;
  std::string bmp(14 + 40 + 8 + pixels, '\0');
  auto put = [&bmp](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put(2, static_cast<uint32_t>(bmp.size()), 4);
  put(10, 14 + 40 + 8, 4);
  put(14, 40, 4);
  put(18, side, 4);
  put(22, side, 4);
  put(26, 1, 2);
  put(28, 1, 2);
  put(38, 11811, 4);  // 300 dpi
  put(42, 11811, 4);
  put(46, 2, 4);
  put(14 + 40, 0xFFFFFF, 4);  // white, then black
  uint64_t state = 88172645463325252ull;
  for (size_t i = 14 + 40 + 8; i < bmp.size(); ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    bmp[i] = static_cast<char>(state);
  }
  return bmp;
}

}  // namespace ocrb::testing_util

#endif  // OCRB_TESTS_UNTRUSTED_FILES_H_
