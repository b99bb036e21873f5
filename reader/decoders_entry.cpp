// The entry of the decoder module (libocrb_decode.so): the only symbol it exports.
#include <cstring>

#include "reader/decoders.h"

extern "C" __attribute__((visibility("default"))) const ocrb::reader::DecoderApi* ocrb_decoders(
    const char* version) {
  // A module from another build has another table; the loader says so rather than call it.
  if (version == nullptr || std::strcmp(version, OCRB_DECODERS_VERSION) != 0) return nullptr;
  // Failures reach the reader's caller as one message per file, not as Leptonica's chatter.
  setMsgSeverity(L_SEVERITY_NONE);
  return &ocrb::reader::LinkedDecoders();
}
