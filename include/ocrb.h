/*
 * ocrb.h - recognition of numeric OCR-B text in bilevel bitmaps.
 *
 * The engine reads the fifteen characters "0123456789+-><#" from a 1-bit packed DIB and
 * returns lines of text with a confidence and a bounding rectangle for every character.
 *
 * Rules
 *
 *  1. Bitmap. OCRB_Read takes a packed device-independent bitmap (a BITMAPINFOHEADER of at
 *     least 40 bytes, then the colour table, then the pixel rows, bottom row first, each row
 *     padded to 4 bytes) in a movable memory block. Only 1 bit per pixel is read. Ink is the
 *     colour-table entry nearer to black, so both palette orders work. The resolution
 *     (pixels per metre in the header) says how large characters are; 96 dpi or less is read
 *     as 200 dpi, and non-square pixels are squared before recognition.
 *  2. Ownership. The caller owns its bitmap and every result buffer; the engine never frees,
 *     changes or keeps them. The engine owns everything behind a handle until OCRB_Done.
 *  3. Status codes. Every function returns one of the OCRB_STATUS_ codes below and never
 *     lets a failure escape. Null handles and null output pointers are answered with
 *     OCRB_STATUS_FAILED (-3).
 *  4. Call order. OCRB_Init; then any mixture of OCRB_SetParameter, OCRB_Read and the
 *     result accessors; then OCRB_Done. The accessors report on the most recent OCRB_Read of
 *     the same handle, and parameters keep their values across reads.
 *  5. Threads. A handle serves one call at a time. Separate handles share no state that a
 *     call changes unguarded, so each thread may use a handle of its own.
 *  6. Rectangles are inclusive (Right and Bottom are the last column and row), with row 0
 *     at the top of the image, in the pixel grid of the bitmap handed to OCRB_Read.
 *  7. Limits. The image the engine works on (the bitmap, its pixels squared as rule 1 says)
 *     may hold at most OCRB_MAX_WORKING_PIXELS pixels, 16384 x 16384 (a 600 dpi A3 page
 *     holds about 70 million). The size is worked out from the header, so a bitmap past it,
 *     or a small one whose resolutions would square it past it, is refused with -4 before
 *     anything of its size is allocated; at the limit a read needs about 140 MB. The work
 *     of one read is bounded too, so that no bitmap costs more than about a second per
 *     megapixel, or a quarter of a second for a small one: every glyph the engine classifies is
 *     charged 400 plus the pixels of its rectangle, and a read may spend 524,288 plus 2 per
 *     pixel of the working image. Reaching the budget is not a failure: classification
 *     stops, the characters read so far stay in the result (components are taken top to
 *     bottom, so lines above a field of noise are read first), and the rest are left
 *     unread. Scans of printed lines spend a fifth of it or less; random ink, dense speckle
 *     and the like reach it.
 *
 * Packed DIBs. A BMP file is a 14-byte file header ("BM", file size, offset of the pixels)
 * followed by a packed DIB: the 40-byte BITMAPINFOHEADER (width, height > 0 for bottom-up
 * rows, 1 plane, 1 bit per pixel, no compression, pixels per metre), the colour table of
 * two 4-byte entries, and the rows, each padded to a multiple of 4 bytes. So a 1-bit BMP
 * whose pixels follow its colour table, as most writers save it, reaches the engine by
 * skipping its first 14 bytes:
 *
 *     FILE* f = fopen("page.bmp", "rb");
 *     fseek(f, 0, SEEK_END);
 *     long size = ftell(f) - 14;
 *     fseek(f, 14, SEEK_SET);
 *     OCRB_HGLOBAL dib = OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, (size_t)size);
 *     fread(OCRB_GlobalLock(dib), 1, (size_t)size, f);
 *     OCRB_GlobalUnlock(dib);
 *     fclose(f);
 *     OCRB_HANDLE engine;
 *     OCRB_Init("", "", &engine);
 *     int32_t status = OCRB_Read(engine, dib, 0);
 *     OCRB_GlobalFree(dib);
 *
 * On Windows the block comes from the system's GlobalAlloc(GMEM_MOVEABLE, ...) instead.
 * (tools/readbmp/readbmp.c does the same with every check in place and prints the text.)
 *
 * This header is plain C and serves C and C++ callers alike.
 */
#ifndef OCRB_H_
#define OCRB_H_

#include <stddef.h>
#include <stdint.h>

/* Calling convention: the Windows standard convention on 32-bit Windows, where the
   functions are exported undecorated through a module-definition file; the platform's
   default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define OCRB_CALL __stdcall
#else
#define OCRB_CALL
#endif

/* On Windows the module-definition file alone names the exports (decorated names would
   otherwise be exported beside the plain ones); elsewhere the functions are marked. */
#if defined(_WIN32)
#define OCRB_EXPORT
#else
#define OCRB_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
#define OCRB_STATUS_OK 0               /* success */
#define OCRB_STATUS_CREATE_FAILED (-1) /* OCRB_Init: context or model object not created */
#define OCRB_STATUS_MODEL_FAILED (-2)  /* OCRB_Init: a model resource could not be read */
#define OCRB_STATUS_FAILED (-3)        /* a failure was caught inside the call */
#define OCRB_STATUS_READ_FAILED (-4)   /* OCRB_Read failed */
#define OCRB_STATUS_BAD_LINE (-5)      /* the line index names no line of the result */
#define OCRB_STATUS_BAD_PARAMETER (-6) /* unrecognised parameter identifier */

/* Parameter identifiers for OCRB_SetParameter, each with its default. Sizes marked
   "scaled" are pixels of a 200 dpi image; each read converts them to the image's
   resolution. No range is enforced. */
#define OCRB_PARAM_INSERT_SPACES 1    /* nonzero: fill wide gaps with spaces (low 8 bits) */
#define OCRB_PARAM_SPACE_WIDTH 2      /* scaled: gap unit of space insertion */
#define OCRB_PARAM_MIN_CHAR_WIDTH 3   /* scaled: a character is wider than this */
#define OCRB_PARAM_MIN_CHAR_HEIGHT 4  /* scaled: a character is taller than this */
#define OCRB_PARAM_MAX_CHAR_WIDTH 5   /* scaled: a character is at most this wide */
#define OCRB_PARAM_MAX_CHAR_HEIGHT 6  /* scaled: a character is at most this tall */
#define OCRB_PARAM_SPECK_SIZE 7       /* scaled: a blob this small is no character alone */
#define OCRB_PARAM_DASH_MIN_WIDTH 8   /* scaled: flat-mark window, least width */
#define OCRB_PARAM_DASH_MIN_HEIGHT 9  /* scaled: flat-mark window, least height */
#define OCRB_PARAM_DASH_MAX_WIDTH 10  /* scaled: flat-mark window, greatest width */
#define OCRB_PARAM_DASH_MAX_HEIGHT 11 /* scaled: flat-mark window, greatest height */
#define OCRB_PARAM_USE_TEMPLATES 12   /* nonzero: template recogniser instead of network */
#define OCRB_PARAM_MAX_PASSES 13      /* preprocessing passes per glyph; outside 1..8 is 8 */

#define OCRB_DEFAULT_INSERT_SPACES 1
#define OCRB_DEFAULT_SPACE_WIDTH 18
/* The least character: at the nominal size (digits 2.3 to 2.6 mm, 18 to 20 pixels at 200
   dpi) an OCR-B '+' stands 12.8 to 14.5 pixels tall and a '1' is 7.2 to 8 pixels wide; thin
   print takes up to a pixel off each side. A character must be wider than 4 and taller than
   10 pixels, so that the smallest thinly printed '+' and '1' still qualify. */
#define OCRB_DEFAULT_MIN_CHAR_WIDTH 4
#define OCRB_DEFAULT_MIN_CHAR_HEIGHT 10
#define OCRB_DEFAULT_MAX_CHAR_WIDTH 25
#define OCRB_DEFAULT_MAX_CHAR_HEIGHT 30
#define OCRB_DEFAULT_SPECK_SIZE 6
#define OCRB_DEFAULT_DASH_MIN_WIDTH 10
#define OCRB_DEFAULT_DASH_MIN_HEIGHT 2
#define OCRB_DEFAULT_DASH_MAX_WIDTH 20
#define OCRB_DEFAULT_DASH_MAX_HEIGHT 8
#define OCRB_DEFAULT_USE_TEMPLATES 0
#define OCRB_DEFAULT_MAX_PASSES 8

/* Result store limits: at most this many lines, each of at most this many characters. A
   buffer of OCRB_MAX_LINE_LENGTH + 1 bytes always holds a line's text and its NUL. */
#define OCRB_MAX_LINES 255
/* The largest working image OCRB_Read accepts, in pixels (rule 7). */
#define OCRB_MAX_WORKING_PIXELS 268435456
#define OCRB_MAX_LINE_LENGTH 255

/* A recognised line holds "0123456789+-><#", "~" for a glyph the classifier could not name
   (confidence 0.0) and " " for an inserted space (confidence 1.0, rectangle 0,0,0,0). */

/* An inclusive rectangle: 16 bytes, Left, Top, Right, Bottom. */
typedef struct TRect {
  int32_t Left;
  int32_t Top;
  int32_t Right;
  int32_t Bottom;
} TRect;

typedef void* OCRB_HANDLE;

/* Creates an engine and writes its handle. The two reserved strings must be valid
   NUL-terminated strings (empty is fine); they have no effect on recognition. Returns 0,
   -1 when the engine or its model objects cannot be created, -2 when the embedded model
   cannot be read. Handle is written only on success. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_Init(const char* Reserved1, const char* Reserved2,
                                        OCRB_HANDLE* Handle);

/* Releases the engine. Returns 0, or -3. The handle is invalid afterwards, for good: no
   handle value is handed out twice in a process, so a released one is refused (-3, or -4
   from OCRB_Read) even after a new engine is made. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_Done(OCRB_HANDLE Handle);

/* Stores one parameter (OCRB_PARAM_ ids 1..13). Returns 0, -6 for any other id (nothing
   changes), or -3. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_SetParameter(OCRB_HANDLE Handle, int32_t Id, int32_t Value);

/* Recognises the 1-bit packed DIB in the movable block DIBHandle, replacing the previous
   result. SingleLine nonzero reduces the result to one line. The block is only read.
   Returns 0, or -4 on any failure (a null or released engine handle included); a bitmap
   refused before recognition starts (an invalid or freed block, a header, colour table or
   pixel rows that do not fit the block, a depth other than 1 bit, a compressed or top-down
   bitmap, an image too large to work on) leaves the previous result readable. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_Read(OCRB_HANDLE Handle, void* DIBHandle, int32_t SingleLine);

/* Writes the number of lines of the last result (0..255). Returns 0, or -3. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLinesCount(OCRB_HANDLE Handle, int32_t* Count);

/* Writes the length of line Line (from 0). Returns 0; -5 with Length set to 0 when Line
   names no line; -3. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineLength(OCRB_HANDLE Handle, int32_t Line,
                                                    int32_t* Length);

/* Copies the characters of line Line and one NUL: exactly Length + 1 bytes (256 always
   suffice). Returns 0; -5 leaving Buffer untouched; -3. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineChars(OCRB_HANDLE Handle, int32_t Line, char* Buffer);

/* Copies Length confidences (IEEE single precision, 0..1) of line Line. Returns 0; -5
   leaving Buffer untouched; -3. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineConfidences(OCRB_HANDLE Handle, int32_t Line,
                                                         float* Buffer);

/* Copies Length rectangles of line Line. Returns 0; -5 leaving Buffer untouched; -3. */
OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineRects(OCRB_HANDLE Handle, int32_t Line, TRect* Buffer);

#if !defined(_WIN32)
/* Movable memory with the semantics of the Windows global memory functions, so that any
   caller can hand a bitmap over off Windows. A handle is opaque; an invalid or freed handle
   is detected and answered with the failure value of each function. */
typedef void* OCRB_HGLOBAL;
#define OCRB_GMEM_MOVEABLE 0x0002u /* accepted; every block is movable */
#define OCRB_GMEM_ZEROINIT 0x0040u /* new bytes are zero */

/* Allocates Bytes (0 is allowed). NULL on failure. */
OCRB_EXPORT OCRB_HGLOBAL OCRB_GlobalAlloc(uint32_t Flags, size_t Bytes);
/* Locks the block and returns its address, stable until the matching unlock. NULL for an
   invalid handle or a block of 0 bytes. */
OCRB_EXPORT void* OCRB_GlobalLock(OCRB_HGLOBAL Mem);
/* Undoes one lock. Nonzero while the block stays locked, 0 when it is unlocked (also for an
   invalid handle or a block that was not locked). */
OCRB_EXPORT int32_t OCRB_GlobalUnlock(OCRB_HGLOBAL Mem);
/* Resizes an unlocked block, keeping its contents; new bytes are zero with
   OCRB_GMEM_ZEROINIT. Returns the same handle, or NULL (the block unchanged) on failure. */
OCRB_EXPORT OCRB_HGLOBAL OCRB_GlobalReAlloc(OCRB_HGLOBAL Mem, size_t Bytes, uint32_t Flags);
/* Size of the block in bytes; 0 for an invalid handle. */
OCRB_EXPORT size_t OCRB_GlobalSize(OCRB_HGLOBAL Mem);
/* Frees the block, locked or not. NULL on success, Mem itself for an invalid handle. */
OCRB_EXPORT OCRB_HGLOBAL OCRB_GlobalFree(OCRB_HGLOBAL Mem);
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* OCRB_H_ */
