// Decoding where time, memory and crashes are bounded: every file but a plain 1-bit BMP is
// decoded by the helper program ocrb-decode, started with posix_spawn (safe in a process of
// many threads, such as a Python interpreter or a Dask worker) and given the file through a
// memory file. The helper limits its own address space and processor time; the reader keeps
// the clock on the wall with poll and kills the helper when a page (of a PDF) or the file (of
// any other format) runs past --timeout. The helper's standard error comes back through a pipe
// and becomes part of one message per file; the reader's own descriptors, signal handlers and
// environment are left as they are.
//
// The helper is looked for beside libocrb (the build tree and the Python package keep it
// there), then in the libexec folder of the prefix libocrb is installed in.
#ifndef OCRB_READER_BOUNDED_H_
#define OCRB_READER_BOUNDED_H_

#include <cstdint>
#include <string>
#include <vector>

#include "reader/image.h"

namespace ocrb::reader {

// Decodes Bytes in the helper and hands each page to Sink as it arrives, failed pages
// included. A page of a TIFF or PDF that crashes the helper, exhausts its memory or (PDF only)
// its time fails on its own, and a new helper goes on from the next page. Throws InputError:
// kExitCorrupt for the file as a whole (not an image, damaged, beyond a limit, out of time),
// kExitEnvironment when the helper cannot be found or started, kExitInternal when it breaks
// its protocol. Whatever Sink throws passes through; the helper is stopped and reaped on
// every path.
void DecodeBounded(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                   const PageSink& sink);

// The helper's path; throws InputError(kExitEnvironment) naming where it was looked for.
const std::string& HelperPath();

}  // namespace ocrb::reader

#endif  // OCRB_READER_BOUNDED_H_
