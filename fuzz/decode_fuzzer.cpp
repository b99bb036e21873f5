// The reader's decoding of image files on arbitrary bytes, in this process so that the
// fuzzer sees the paths taken: the 1-bit BMP pass-through, and the decoders the helper
// ocrb-decode runs (every format Leptonica sniffs, the row decoders of PNG, JPEG and TIFF,
// PDF), then binarisation and packing. The first byte chooses the options (bits 0-1 the
// binarisation, bits 2-3 the resolution for files that state none, bit 4 whether the decoded
// picture is kept); the rest is the file. The pdf target feeds PDFs through the helper itself.
//
// A file is decoded into pages or refused with InputError; any other way out is a finding.
// Each page must be a packed 1-bit DIB of the size the page states, in a block that holds
// all of it. Leptonica's messages are silenced: a fuzzer feeds it damaged files by the
// million.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz_util.h"
#include "image/packed_dib.h"
#include "ocrb.h"
#include "reader/decoders.h"
#include "reader/image.h"

namespace {

namespace reader = ocrb::reader;

constexpr int kDpi[4] = {0, 100, 200, 300};
constexpr size_t kInfoHeaderBytes = 40;

using ocrb::layout::GetI32;

// The packed DIB of a page, checked against what the page says of itself.
void CheckDib(const uint8_t* dib, size_t size, int width, int height) {
  OCRB_FUZZ_CHECK(width > 0 && height > 0);
  OCRB_FUZZ_CHECK(size >= kInfoHeaderBytes);
  OCRB_FUZZ_CHECK(dib != nullptr);
  const uint32_t header = static_cast<uint32_t>(GetI32(dib));
  OCRB_FUZZ_CHECK(header >= kInfoHeaderBytes && header <= size);
  OCRB_FUZZ_CHECK(GetI32(dib + 4) == width && GetI32(dib + 8) == height);
  OCRB_FUZZ_CHECK((dib[14] | dib[15] << 8) == 1);
  const uint32_t used = static_cast<uint32_t>(GetI32(dib + 32));
  const size_t table = 4 * size_t{used == 0 ? 2u : used};
  const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
  // A 1-bit BMP goes over as it is, with whatever follows its rows; a decoded page is exact.
  OCRB_FUZZ_CHECK(size >= header + table + stride * static_cast<size_t>(height));
}

}  // namespace

// fontconfig keeps what Poppler's lookup of a substitute font made until the process ends.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

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
    if (std::optional<reader::Page> page = reader::ReadPlainBmp(bytes, options)) {
      OCRB_FUZZ_CHECK(!options.KeepPicture || page->Picture != nullptr);
      const auto* dib = static_cast<const uint8_t*>(OCRB_GlobalLock(page->Dib.Get()));
      CheckDib(dib, OCRB_GlobalSize(page->Dib.Get()), page->Width, page->Height);
      OCRB_GlobalUnlock(page->Dib.Get());
      return 0;
    }
    reader::DecodeEvents events;
    events.Pages = [](int pages, bool) { OCRB_FUZZ_CHECK(pages > 0); };
    events.Start = [](int page) { OCRB_FUZZ_CHECK(page > 0); };
    events.Page = [&options](reader::DecodedPage&& page) {
      if (page.Status != reader::kExitOk) {
        OCRB_FUZZ_CHECK(page.Status == reader::kExitCorrupt && page.Dib.empty());
        return;
      }
      OCRB_FUZZ_CHECK(!options.KeepPicture || page.Picture != nullptr);
      CheckDib(page.Dib.data(), page.Dib.size(), page.Width, page.Height);
      OCRB_FUZZ_CHECK(page.Dib.size() == kInfoHeaderBytes + 8 +
                                             (static_cast<size_t>(page.Width) + 31) / 32 * 4 *
                                                 static_cast<size_t>(page.Height));
    };
    reader::DecodePages(bytes, options, 1, events);
  } catch (const reader::InputError& e) {
    OCRB_FUZZ_CHECK(e.Status() == reader::kExitCorrupt);
  }
  return 0;
}
