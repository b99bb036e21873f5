// Decoder() for programs that do not link the decoders: the command-line reader loads them
// from the decoder module on the first file that is not a plain 1-bit BMP (found beside
// libocrb through the program's run path), so that reading such BMPs never loads them.
#include <dlfcn.h>

#include <mutex>
#include <string>

#include "reader/decoder.h"

namespace ocrb::reader {

const DecoderApi& Decoder() {
  static const DecoderApi* api = nullptr;
  static std::string failure;
  static std::once_flag once;
  std::call_once(once, [] {
    // Never closed: pictures and their deleters live in the module until the process ends.
    void* module = dlopen(OCRB_DECODERS_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* why = dlerror();
      failure = why != nullptr ? why : OCRB_DECODERS_MODULE " not found";
      return;
    }
    using Entry = const DecoderApi* (*)(const char*);
    const auto entry = reinterpret_cast<Entry>(dlsym(module, "ocrb_decoders"));
    if (entry == nullptr) {
      failure = OCRB_DECODERS_MODULE " has no decoder table";
      return;
    }
    api = entry(OCRB_DECODERS_VERSION);
    if (api == nullptr) failure = OCRB_DECODERS_MODULE " is from another build of ocrb";
  });
  if (api == nullptr) {
    throw InputError(kExitEnvironment, "cannot load the image decoders: " + failure);
  }
  return *api;
}

}  // namespace ocrb::reader
