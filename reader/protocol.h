// What the decoder helper (ocrb-decode) and the reader that starts it say to each other.
//
// The reader starts the helper with the file's bytes on its standard input and its options as
// arguments. The helper writes messages to its standard output: a header, then Size bytes of
// body. It tells the page count once the file's headers have been checked, each page as it
// starts, each page as a packed 1-bit DIB (with its picture when the reader draws an overlay)
// or the reason it failed, and finally the end. Its standard error is the reader's to read:
// whatever the decoding libraries print goes there.
//
// Both ends are built from the same source; the helper refuses to run for a reader of another
// build (kVersionExit), so the layout below needs no version of its own.
#ifndef OCRB_READER_PROTOCOL_H_
#define OCRB_READER_PROTOCOL_H_

#include <cstdint>

namespace ocrb::reader::protocol {

enum Kind : uint32_t {
  kFile = 1,        // body FileInfo: the headers are checked
  kPageStart = 2,   // no body: the helper starts decoding page Header::Page
  kPage = 3,        // body PageInfo, the DIB, then the picture's rows
  kPageFailed = 4,  // body Failure: that page alone failed; the next one follows
  kFileFailed = 5,  // body Failure: the file as a whole; nothing follows but kDone
  kDone = 6,        // no body: the helper is about to exit
};

struct Header {
  uint32_t Kind;
  uint32_t Page;  // 1 first; 0 for the file
  uint64_t Size;  // bytes of body that follow
};

struct FileInfo {
  int32_t Pages;  // pages the file holds
  int32_t Paged;  // 1 for TIFF and PDF, whose pages fail one by one; 0 for one image
};

// A page of Width x Height pixels: DibBytes bytes of packed DIB (header, palette, rows), then,
// when PictureDepth is 1 or 8, the picture's rows, top down, each (Width * PictureDepth + 7) / 8
// bytes long (PictureDepth 0: no picture).
struct PageInfo {
  int32_t Width;
  int32_t Height;
  int32_t XDpi;
  int32_t YDpi;
  int32_t Source;  // DpiSource
  int32_t PictureDepth;
  int32_t PictureXDpi;
  int32_t PictureYDpi;
  uint64_t DibBytes;
  uint64_t PictureBytes;
  // The page's skew, when SkewMeasured is 1 (decoder.h).
  int32_t SkewMeasured;
  int32_t Reserved;
  double SkewDegrees;
  double SkewConfidence;
  // What the file states (Page's StatedXDpi and StatedYDpi).
  int32_t StatedXDpi;
  int32_t StatedYDpi;
};

// Followed by the reason, in UTF-8, without a terminating NUL.
struct Failure {
  int32_t Status;  // ExitStatus
};

// Exit statuses of the helper besides 0.
constexpr int kUsageExit = 64;    // arguments it does not understand
constexpr int kVersionExit = 65;  // started by a reader of another build
constexpr int kInputExit = 66;    // its standard input could not be read

// The longest reason a failure message may carry.
constexpr uint64_t kMaxReasonBytes = 4096;

}  // namespace ocrb::reader::protocol

#endif  // OCRB_READER_PROTOCOL_H_
