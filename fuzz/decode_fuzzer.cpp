// The reader's decoding of image files (reader::DecodeImage) on arbitrary bytes: the 1-bit
// BMP pass-through, and every format Leptonica sniffs and decodes, then binarisation and
// packing. The first byte chooses the options (bits 0-1 the binarisation, bits 2-3 the
// resolution for files that state none, bit 4 whether the decoded picture is kept); the rest
// is the file.
//
// A file is decoded into pages or refused with InputError; any other way out is a finding.
// Each page must be a packed 1-bit DIB of the size the page states, in a block that holds
// all of it. Leptonica's messages are silenced: a fuzzer feeds it damaged files by the
// million.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_util.h"
#include "ocrb.h"
#include "reader/image.h"
#include "reader/lept.h"  // setMsgSeverity

namespace {

namespace reader = ocrb::reader;

constexpr int kDpi[4] = {0, 100, 200, 300};
constexpr size_t kInfoHeaderBytes = 40;

int32_t Get32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}

// The packed DIB of Page, checked against what the page says of itself.
void CheckPage(const reader::Page& page, bool keep_picture) {
  OCRB_FUZZ_CHECK(page.Width > 0 && page.Height > 0);
  OCRB_FUZZ_CHECK(!keep_picture || page.Picture != nullptr);
  const size_t size = OCRB_GlobalSize(page.Dib.Get());
  OCRB_FUZZ_CHECK(size >= kInfoHeaderBytes);
  const auto* dib = static_cast<const uint8_t*>(OCRB_GlobalLock(page.Dib.Get()));
  OCRB_FUZZ_CHECK(dib != nullptr);
  const uint32_t header = static_cast<uint32_t>(Get32(dib));
  OCRB_FUZZ_CHECK(header >= kInfoHeaderBytes && header <= size);
  OCRB_FUZZ_CHECK(Get32(dib + 4) == page.Width && Get32(dib + 8) == page.Height);
  OCRB_FUZZ_CHECK((dib[14] | dib[15] << 8) == 1);
  const uint32_t used = static_cast<uint32_t>(Get32(dib + 32));
  const size_t table = 4 * size_t{used == 0 ? 2u : used};
  const size_t stride = (static_cast<size_t>(page.Width) + 31) / 32 * 4;
  // A 1-bit BMP goes over as it is, with whatever follows its rows; a decoded page is exact.
  OCRB_FUZZ_CHECK(size >= header + table + stride * static_cast<size_t>(page.Height));
  OCRB_GlobalUnlock(page.Dib.Get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setMsgSeverity(L_SEVERITY_NONE);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  reader::LoadOptions options;
  options.Method = data[0] % 4 == 1   ? reader::Binarisation::kOtsu
                   : data[0] % 4 == 2 ? reader::Binarisation::kNormalisedOtsu
                                      : reader::Binarisation::kSauvola;
  options.Dpi = kDpi[data[0] >> 2 & 3];
  options.KeepPicture = data[0] >> 4 & 1;
  const std::vector<uint8_t> bytes(data + 1, data + size);
  try {
    for (const reader::Page& page : reader::DecodeImage(bytes, options))
      CheckPage(page, options.KeepPicture);
  } catch (const reader::InputError& e) {
    OCRB_FUZZ_CHECK(e.Status() == reader::kExitCorrupt);
  }
  return 0;
}
