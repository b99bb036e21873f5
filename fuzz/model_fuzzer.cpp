// The model's stored tables and network, fuzzed, then a read with the model they make.
//
// The first byte chooses what the rest becomes:
//   0  the class-profile table (OCRB16STA)
//   1  the template-count table (OCRB163DSTA)
//   2  patches to the embedded network (OCRB16NET), each three bytes of offset
//      (little-endian, modulo the stream's size), a length byte (1 + value % 8) and that
//      many bytes: weights become huge, negative, infinite or NaN, cells and counts change
// Bit 2 of the first byte reads with the template recogniser instead of the network.
//
// The tables go through the loaders start-up uses (classify/tables.h) into the context of one
// engine kept for the run, over zeroed tables as in a new engine: a full start-up per input
// would spend its time parsing the embedded network. The tables load from any bytes. A
// patched network goes through the whole start-up (OCRB_Init with the fuzzed resource in
// place of the embedded one), which may refuse it (-2) but nothing else. The read of a piece
// of the bundled coding line must return 0 or -4 and leave a result that keeps the header's
// promises.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "classify/tables.h"
#include "engine/context.h"
#include "engine/handles.h"
#include "engine/model.h"
#include "fuzz_util.h"
#include "image/packed_dib.h"
#include "ocrb.h"
#include "platform/resources.h"
#include "platform/stream.h"

namespace {

using ocrb::fuzz::Block;
using ocrb::fuzz::Broken;
using ocrb::platform::ResourceBytes;

// Columns of the coding line kept for the read: its first dozen characters.
constexpr int32_t kSampleWidth = 240;
constexpr size_t kFileHeaderBytes = 14;

// The embedded resources, but Name's bytes from the fuzzer.
class FuzzedResources : public ocrb::platform::ResourceProvider {
 public:
  FuzzedResources(std::string_view name, const uint8_t* data, size_t size)
      : name_(name), bytes_{data, size} {}
  bool Find(std::string_view name, ResourceBytes& out) const override {
    if (name != name_) return ocrb::platform::EmbeddedResources().Find(name, out);
    out = bytes_;
    return true;
  }

 private:
  std::string_view name_;
  ResourceBytes bytes_;
};

struct Sample {
  std::vector<uint8_t> Dib;
  int32_t Width = 0;
  int32_t Height = 0;
};

using ocrb::layout::GetI32;

// The left end of examples/coding-200dpi.bmp (a 1-bit BMP whose pixels follow its
// two-entry colour table) as a packed DIB: each row cut to its first bytes.
Sample LoadSample() {
  const std::vector<uint8_t> file =
      ocrb::fuzz::FileBytes(std::string(OCRB_EXAMPLES_DIR) + "/coding-200dpi.bmp");
  const size_t kInfo = 40, kTable = 8;
  if (file.size() < kFileHeaderBytes + kInfo + kTable) Broken("the sample bitmap is missing");
  const uint8_t* dib = file.data() + kFileHeaderBytes;
  const int32_t width = GetI32(dib + 4), height = GetI32(dib + 8);
  const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
  if (GetI32(dib) != 40 || width <= 0 || height <= 0 ||
      file.size() < kFileHeaderBytes + kInfo + kTable + stride * static_cast<size_t>(height))
    Broken("the sample bitmap is not the expected 1-bit BMP");
  Sample s;
  s.Width = std::min(width, kSampleWidth);
  s.Height = height;
  const size_t cut = (static_cast<size_t>(s.Width) + 31) / 32 * 4;
  s.Dib.assign(dib, dib + kInfo + kTable);
  s.Dib[4] = static_cast<uint8_t>(s.Width);
  s.Dib[5] = static_cast<uint8_t>(s.Width >> 8);
  s.Dib[6] = s.Dib[7] = 0;
  std::fill(s.Dib.begin() + 20, s.Dib.begin() + 24, 0);  // image size: may be 0
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = dib + kInfo + kTable + stride * static_cast<size_t>(y);
    s.Dib.insert(s.Dib.end(), row, row + cut);
  }
  return s;
}

const Sample& TheSample() {
  static const Sample sample = LoadSample();
  return sample;
}

// The embedded network with the input's patches applied.
std::vector<uint8_t> PatchedNetwork(const uint8_t* data, size_t size) {
  ResourceBytes network;
  if (!ocrb::platform::EmbeddedResources().Find(ocrb::kNetworkResource, network) ||
      network.size == 0)
    Broken("the embedded network is missing");
  std::vector<uint8_t> bytes(network.data, network.data + network.size);
  for (size_t at = 0; at + 4 <= size;) {
    const size_t offset =
        (size_t{data[at]} | size_t{data[at + 1]} << 8 | size_t{data[at + 2]} << 16) % bytes.size();
    const size_t length = 1 + data[at + 3] % 8u;
    at += 4;
    for (size_t k = 0; k < length && at < size && offset + k < bytes.size(); ++k, ++at)
      bytes[offset + k] = data[at];
  }
  return bytes;
}

// Reads the sample with Handle and checks the result.
void ReadSample(OCRB_HANDLE handle, int32_t use_templates) {
  const Sample& sample = TheSample();
  OCRB_FUZZ_CHECK(OCRB_SetParameter(handle, OCRB_PARAM_USE_TEMPLATES, use_templates) ==
                  OCRB_STATUS_OK);
  Block block(sample.Dib.data(), sample.Dib.size());
  const int32_t status = OCRB_Read(handle, block.Get(), 0);
  OCRB_FUZZ_CHECK(status == OCRB_STATUS_OK || status == OCRB_STATUS_READ_FAILED);
  ocrb::fuzz::CheckResult(handle, status == OCRB_STATUS_OK ? sample.Width : 0, sample.Height,
                          false);
}

// The engine kept for the table inputs, started from the embedded model.
OCRB_HANDLE TableEngine() {
  static OCRB_HANDLE handle = [] {
    OCRB_HANDLE h = nullptr;
    if (OCRB_Init("", "", &h) != OCRB_STATUS_OK) Broken("the engine did not start");
    return h;
  }();
  return handle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int mode = data[0] & 3;
  const int32_t use_templates = data[0] >> 2 & 1;
  if (mode == 3) return 0;

  if (mode != 2) {
    OCRB_HANDLE handle = TableEngine();
    ocrb::TModel& model = ocrb::ContextOf(handle)->Model;
    ocrb::TReadOnlyMemoryStream stream(data + 1, static_cast<int64_t>(size - 1));
    if (mode == 0) {
      std::fill_n(&model.ClassProfiles[0], ocrb::kTemplateClassSlots, ocrb::TClassProfile{});
      ocrb::LoadClassProfiles(stream, model.ClassProfiles);
      return 0;  // no recognition step reads the profiles
    }
    std::fill_n(&model.TemplateCounts[0][0][0], sizeof model.TemplateCounts / sizeof(int32_t), 0);
    ocrb::LoadTemplateCounts(stream, model.TemplateCounts);
    ReadSample(handle, use_templates);
    return 0;
  }

  const std::vector<uint8_t> network = PatchedNetwork(data + 1, size - 1);
  FuzzedResources resources(ocrb::kNetworkResource, network.data(), network.size());
  ocrb::platform::ScopedResourceProvider scope(resources);
  OCRB_HANDLE handle = nullptr;
  const int32_t started = OCRB_Init("", "", &handle);
  OCRB_FUZZ_CHECK(started == OCRB_STATUS_OK || started == OCRB_STATUS_MODEL_FAILED);
  if (started != OCRB_STATUS_OK) return 0;
  ReadSample(handle, use_templates);
  OCRB_FUZZ_CHECK(OCRB_Done(handle) == OCRB_STATUS_OK);
  return 0;
}
