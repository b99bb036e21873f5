// PDF input through the bounded decoder, as ocrb and the Python package read it: every input
// becomes a PDF (the signature is put in front when it is missing) and goes to the decoder
// helper ocrb-decode, which renders it in a process of its own under a time and memory bound.
// The coverage this process sees is the reader's side: starting the helper, its protocol,
// the checks on every page it sends, the way it ended and what is made of it.
//
// Each page must be a packed 1-bit DIB of the size it states, or a failed page with its
// reason; a failure of the file must be damage (status 2). A broken protocol, a helper that
// fails after its work (a leak report), a sanitizer report in the helper and a child left
// behind are findings.
#include <sys/wait.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "ocrb.h"
#include "reader/image.h"

namespace {

namespace reader = ocrb::reader;

constexpr size_t kInfoHeaderBytes = 40;

bool SaysSanitizer(const std::string& text) {
  return text.find("Sanitizer") != std::string::npos ||
         text.find("runtime error") != std::string::npos;
}

void CheckPage(const reader::Page& page) {
  if (page.Failed()) {
    OCRB_FUZZ_CHECK(page.Status == reader::kExitCorrupt && !page.Error.empty());
    OCRB_FUZZ_CHECK(!SaysSanitizer(page.Error));
    OCRB_FUZZ_CHECK(page.Dib.Get() == nullptr);
    return;
  }
  OCRB_FUZZ_CHECK(page.Width > 0 && page.Height > 0);
  const size_t stride = (static_cast<size_t>(page.Width) + 31) / 32 * 4;
  OCRB_FUZZ_CHECK(OCRB_GlobalSize(page.Dib.Get()) ==
                  kInfoHeaderBytes + 8 + stride * static_cast<size_t>(page.Height));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kSignature = "%PDF-";
  std::vector<uint8_t> bytes(data, data + size);
  if (size < kSignature.size() || !std::equal(kSignature.begin(), kSignature.end(), data)) {
    bytes.insert(bytes.begin(), kSignature.begin(), kSignature.end());
  }
  reader::LoadOptions options;
  options.Dpi = 72;  // small pages: the time goes to the file, not to its pixels
  options.Timeout = 2;
  options.MaxMemory = uint64_t{256} << 20;
  options.MaxPages = 4;
  try {
    reader::DecodeImage(bytes, options, CheckPage);
  } catch (const reader::InputError& e) {
    OCRB_FUZZ_CHECK(e.Status() == reader::kExitCorrupt);
    OCRB_FUZZ_CHECK(!SaysSanitizer(e.what()));
  }
  // Every helper was collected.
  OCRB_FUZZ_CHECK(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
  return 0;
}
