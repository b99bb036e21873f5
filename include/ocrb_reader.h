/*
 * ocrb_reader.h - numeric OCR-B text from image files, file contents and pixel buffers.
 *
 * The engine of ocrb.h reads one 1-bit packed DIB. The reader around it does what a host
 * program otherwise writes for itself, exactly as the ocrb command does: it decodes image
 * files (PNG, TIFF with every page, JPEG, PNM, GIF, BMP, and every page of a PDF) within
 * bounds on their size, time and memory, binarises grey and colour pages, settles each page's
 * resolution (the file's, the caller's, or one estimated from its digits), levels turned
 * pages and stands up pages read on their side or upside down, reads every page with the
 * engine, and judges every line: its figures, the junk rule and the check digits of coding
 * lines.
 *
 * Rules
 *
 *  1. Handles. OCRBR_New makes a reader; OCRBR_Free releases it. Every read gives a result
 *     that the caller releases with OCRBR_ResultFree, whenever it likes (also after the
 *     reader is freed). Pages and lines are read through pointers into their result, valid
 *     until the result is freed. Every handle and pointer is opaque.
 *  2. Status codes. Every function that can fail returns one of the OCRBR_STATUS_ codes
 *     below and never lets a failure escape; OCRBR_LastError then says why in one line of
 *     English (for a refused bitmap, which field or limit refused it), and
 *     OCRBR_LastEngineStatus gives the engine's own OCRB_STATUS_ code when the engine was the
 *     one that refused. Accessors of results never fail: asked about a null pointer or an
 *     index past the end, they answer NULL, 0, -1 or "", as each one says.
 *  3. Reads. A read gives a result for every status but OCRBR_STATUS_BAD_ARGUMENT and
 *     OCRBR_STATUS_NO_MEMORY (*Result is then NULL). The result holds every page read, and
 *     every page that failed on its own (a damaged page of a TIFF or PDF: it has its status
 *     and error, and the pages around it are read), also when the file failed after them. The
 *     status of a read is the file's own failure, else the first failed page's, else
 *     OCRBR_STATUS_OK.
 *  4. Threads. A reader serves one call at a time. Readers share nothing a call changes, so
 *     each thread may use a reader of its own. Results are plain data: any thread may read
 *     them.
 *  5. Files other than a 1-bit BMP are decoded by a helper program, ocrb-decode, in a process
 *     of its own whose time and memory are bounded; it is found beside libocrb.so or in the
 *     prefix's libexec/ocrb folder. The reader prints nothing and leaves the caller's signal
 *     handlers, locale and file descriptors as they are (it closes what it opens).
 *  6. Rectangles are the engine's TRect (ocrb.h): inclusive, row 0 at the top, in the pixels
 *     of the page as it was decoded (or handed over), whatever turn the reader gave it.
 *
 * Typical use:
 *
 *     OCRBR_READER* reader = NULL;
 *     OCRBR_RESULT* result = NULL;
 *     if (OCRBR_New(&reader) != OCRBR_STATUS_OK) return 1;
 *     OCRBR_SetOption(reader, OCRBR_OPTION_BEST_LINE, 1);
 *     if (OCRBR_ReadFile(reader, "slip.png", &result) != OCRBR_STATUS_OK)
 *       fprintf(stderr, "%s\n", OCRBR_LastError(reader));
 *     for (int32_t p = 0; p < OCRBR_ResultPageCount(result); ++p) {
 *       const OCRBR_PAGE* page = OCRBR_ResultPage(result, p);
 *       for (int32_t l = 0; l < OCRBR_PageLineCount(page); ++l)
 *         puts(OCRBR_LineText(OCRBR_PageLine(page, l)));
 *     }
 *     OCRBR_ResultFree(result);
 *     OCRBR_Free(reader);
 *
 * tools/demo/demo.c prints every figure of a result, in the layout of ocrb -f json.
 * Link with pkg-config's ocrb_reader, or CMake's ocrb::ocrb_reader.
 */
#ifndef OCRB_READER_H_
#define OCRB_READER_H_

#include <stddef.h>
#include <stdint.h>

#include "ocrb.h" /* TRect, OCRB_PARAM_ identifiers, OCRB_STATUS_ codes */

#if defined(_WIN32)
#define OCRBR_EXPORT
#else
#define OCRBR_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes.
   BAD_ARGUMENT: a null handle or pointer, an unknown option, pixel format or parameter, a
     value out of its range.
   CANNOT_OPEN: a file that cannot be opened or read, or a decoder helper that cannot be
     found or started.
   BAD_IMAGE: not an image, damaged, or past a limit (the message names the option).
   REFUSED: the engine refused the bitmap; the message says why.
   ENGINE: the engine did not start, or refused a parameter. */
#define OCRBR_STATUS_OK 0
#define OCRBR_STATUS_BAD_ARGUMENT (-1)
#define OCRBR_STATUS_CANNOT_OPEN (-2)
#define OCRBR_STATUS_BAD_IMAGE (-3)
#define OCRBR_STATUS_REFUSED (-4)
#define OCRBR_STATUS_ENGINE (-5)
#define OCRBR_STATUS_NO_MEMORY (-6) /* memory ran out */
#define OCRBR_STATUS_INTERNAL (-7)  /* anything else */

/* Options of a reader, for OCRBR_SetOption and OCRBR_GetOption; each is the ocrb option of
   the same name. With their defaults:
   DPI: resolution of every image and PDF page, whatever it states; 0: the resolution the
     image states, unless the heights of its digits clearly say otherwise, else estimated
     from them (96 dpi or less counts as none; PDF: 300). 0.
   BINARISATION: an OCRBR_BINARISE_ method. Sauvola.
   SINGLE_LINE: nonzero: the engine reads each page as one line. 0.
   BEST_LINE: nonzero: each page keeps only its best line (--line best: check digits that
     hold, then a known layout, then not junk, then confidence). 0.
   DESKEW: nonzero: pages turned a little are levelled. 1.
   ORIENTATION: -1: a page that reads poorly is also tried turned; 0, 90, 180, 270: every
     page is turned that far clockwise first. -1.
   MAX_PIXELS: of each image or page, width times height. 64 Mi.
   MAX_FILE_SIZE: bytes of one file or buffer. 256 MiB.
   MAX_PAGES: of a TIFF, PDF or GIF. 1000.
   TIMEOUT_MS: milliseconds the decoder may take for each page of a PDF, and for the whole
     of any other file. 10000.
   MAX_MEMORY: bytes of address space of the decoder. 512 MiB. */
#define OCRBR_OPTION_DPI 1
#define OCRBR_OPTION_BINARISATION 2
#define OCRBR_OPTION_SINGLE_LINE 3
#define OCRBR_OPTION_BEST_LINE 4
#define OCRBR_OPTION_DESKEW 5
#define OCRBR_OPTION_ORIENTATION 6
#define OCRBR_OPTION_MAX_PIXELS 7
#define OCRBR_OPTION_MAX_FILE_SIZE 8
#define OCRBR_OPTION_MAX_PAGES 9
#define OCRBR_OPTION_TIMEOUT_MS 10
#define OCRBR_OPTION_MAX_MEMORY 11

#define OCRBR_BINARISE_SAUVOLA 0         /* local threshold */
#define OCRBR_BINARISE_NORMALISED_OTSU 1 /* Otsu's threshold after flattening the background */
#define OCRBR_BINARISE_OTSU 2            /* one global Otsu threshold */

#define OCRBR_ORIENTATION_AUTO (-1)

/* Layouts of raw pixels for OCRBR_ReadPixels. Samples are bytes, rows run top down. */
#define OCRBR_PIXELS_BIT1 1   /* 1 bit a pixel, the leftmost in the high bit, 1 is ink */
#define OCRBR_PIXELS_GREY8 2  /* 1 byte a pixel, 0 black, 255 white */
#define OCRBR_PIXELS_RGB24 3  /* red, green, blue */
#define OCRBR_PIXELS_RGBA32 4 /* red, green, blue, alpha (transparent is paper) */

/* Where a page's resolution came from. */
#define OCRBR_DPI_NONE 0      /* nowhere: the engine's own rule applied (200 dpi) */
#define OCRBR_DPI_FILE 1      /* the file, or the caller's pixel buffer */
#define OCRBR_DPI_OPTION 2    /* OCRBR_OPTION_DPI */
#define OCRBR_DPI_ESTIMATED 3 /* the heights of the digits on the page */

/* Coding-line layouts whose check digits the reader knows. */
#define OCRBR_LAYOUT_NONE 0
#define OCRBR_LAYOUT_SWISS_SLIP 1 /* with an amount */
#define OCRBR_LAYOUT_SWISS_SLIP_NO_AMOUNT 2

/* Fields of a coding line, bits of OCRBR_LineBadFields. */
#define OCRBR_FIELD_AMOUNT 1u /* the block before the first '>' */
#define OCRBR_FIELD_REFERENCE 2u
#define OCRBR_FIELD_PARTICIPANT 4u

/* Figures of a line, for OCRBR_LineFigure. Counts and shares are over the characters other
   than spaces; the engine's unnamed glyph '~' counts confidence 0. */
#define OCRBR_FIGURE_CHARACTERS 1 /* characters other than spaces */
#define OCRBR_FIGURE_UNNAMED 2    /* of which '~' */
#define OCRBR_FIGURE_MEAN_CONFIDENCE 3
#define OCRBR_FIGURE_MIN_CONFIDENCE 4
#define OCRBR_FIGURE_MEDIAN_CONFIDENCE 5
#define OCRBR_FIGURE_UNNAMED_SHARE 6
#define OCRBR_FIGURE_NAMED_CONFIDENCE_SUM 7
#define OCRBR_FIGURE_OFF_PITCH_SHARE 8     /* steps between neighbours off the line's pitch */
#define OCRBR_FIGURE_HEIGHT_SPREAD_SHARE 9 /* digits whose height strays from the usual one */

typedef struct OCRBR_Reader OCRBR_READER;
typedef struct OCRBR_Result OCRBR_RESULT;
typedef struct OCRBR_Page OCRBR_PAGE;
typedef struct OCRBR_Line OCRBR_LINE;

/* ---- Readers -------------------------------------------------------------------------- */

/* Makes a reader with every option and engine parameter at its default into *Reader. The
   engine starts with the first read. OCRBR_STATUS_NO_MEMORY (and *Reader NULL) when memory
   runs out. */
OCRBR_EXPORT int32_t OCRBR_New(OCRBR_READER** reader);

/* Releases a reader (NULL: nothing). Results it gave stay valid. */
OCRBR_EXPORT void OCRBR_Free(OCRBR_READER* reader);

/* Sets or gets an OCRBR_OPTION_. Refuses an unknown option or a value out of its range
   (OCRBR_STATUS_BAD_ARGUMENT), leaving the option as it was. */
OCRBR_EXPORT int32_t OCRBR_SetOption(OCRBR_READER* reader, int32_t option, int64_t value);
OCRBR_EXPORT int32_t OCRBR_GetOption(const OCRBR_READER* reader, int32_t option, int64_t* value);

/* Sets an engine parameter (OCRB_PARAM_ of ocrb.h) for the reads that follow, within the
   range ocrb --print-parameters shows; OCRBR_STATUS_BAD_ARGUMENT outside it. */
OCRBR_EXPORT int32_t OCRBR_SetParameter(OCRBR_READER* reader, int32_t id, int32_t value);

/* Why the most recent call on Reader failed: one line of English, "" after a success. Valid
   until the next call on Reader. NULL reader: "no reader". */
OCRBR_EXPORT const char* OCRBR_LastError(const OCRBR_READER* reader);

/* The engine's OCRB_STATUS_ code when the most recent failure was the engine's (the engine
   refused a bitmap, did not start or refused a parameter); 0 otherwise. */
OCRBR_EXPORT int32_t OCRBR_LastEngineStatus(const OCRBR_READER* reader);

/* ---- Reads (rule 3 says what *Result holds) ------------------------------------------- */

/* Reads the image file at Path: every page of it. */
OCRBR_EXPORT int32_t OCRBR_ReadFile(OCRBR_READER* reader, const char* path, OCRBR_RESULT** result);

/* Reads an image file held in memory: Size bytes at Data, which the reader only reads. */
OCRBR_EXPORT int32_t OCRBR_ReadMemory(OCRBR_READER* reader, const void* data, size_t size,
                                      OCRBR_RESULT** result);

/* Reads pixels held by the caller as one page: Format is an OCRBR_PIXELS_ layout, rows run
   top down Stride bytes apart, and Data holds at least Stride * (Height - 1) bytes plus one
   row. XDpi and YDpi are the resolution (0 for none: then OCRBR_OPTION_DPI, or the estimate,
   applies as to a file that states none; one of them alone stands for both). Grey and colour pixels are binarised as a
   decoded file would be; 1-bit pixels go to the engine as they are. */
OCRBR_EXPORT int32_t OCRBR_ReadPixels(OCRBR_READER* reader, const void* data, int32_t format,
                                      int32_t width, int32_t height, size_t stride, int32_t x_dpi,
                                      int32_t y_dpi, OCRBR_RESULT** result);

/* ---- Results ---------------------------------------------------------------------------- */

/* Releases a result (NULL: nothing). */
OCRBR_EXPORT void OCRBR_ResultFree(OCRBR_RESULT* result);

/* The status of the read that gave Result, and the file's own error ("" when the file did not
   fail; the first failed page's error when only pages failed). */
OCRBR_EXPORT int32_t OCRBR_ResultStatus(const OCRBR_RESULT* result);
OCRBR_EXPORT const char* OCRBR_ResultError(const OCRBR_RESULT* result);

/* Pages in file order; NULL past the end. */
OCRBR_EXPORT int32_t OCRBR_ResultPageCount(const OCRBR_RESULT* result);
OCRBR_EXPORT const OCRBR_PAGE* OCRBR_ResultPage(const OCRBR_RESULT* result, int32_t index);

/* A page: its number in the file (1 first), its status (OCRBR_STATUS_OK, or why it failed
   alone, with its error), its size in pixels as decoded, its resolution as read and where it
   came from (an OCRBR_DPI_ source), the resolution the file or pixels stated (0 for none;
   for a PDF page, the resolution it was rendered at), and how it was turned before it was read: SkewDegrees
   (positive: the page as scanned falls to the right) after a clockwise quarter turn of
   Orientation degrees. A failed page has no lines and zero figures. */
OCRBR_EXPORT int32_t OCRBR_PageNumber(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageStatus(const OCRBR_PAGE* page);
OCRBR_EXPORT const char* OCRBR_PageError(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageWidth(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageHeight(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageXDpi(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageYDpi(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageDpiSource(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageStatedXDpi(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageStatedYDpi(const OCRBR_PAGE* page);
OCRBR_EXPORT double OCRBR_PageSkewDegrees(const OCRBR_PAGE* page);
OCRBR_EXPORT int32_t OCRBR_PageOrientation(const OCRBR_PAGE* page);

/* Lines top to bottom; NULL past the end. */
OCRBR_EXPORT int32_t OCRBR_PageLineCount(const OCRBR_PAGE* page);
OCRBR_EXPORT const OCRBR_LINE* OCRBR_PageLine(const OCRBR_PAGE* page, int32_t index);

/* A line's text (NUL-terminated, "" for NULL) and its length in characters, spaces
   included. */
OCRBR_EXPORT const char* OCRBR_LineText(const OCRBR_LINE* line);
OCRBR_EXPORT int32_t OCRBR_LineLength(const OCRBR_LINE* line);

/* Character Index of a line: its confidence (0..1; -1 past the end) and its box (a space's
   box is all zeros). OCRBR_LineBox answers OCRBR_STATUS_BAD_ARGUMENT for a null pointer or
   an index past the end. */
OCRBR_EXPORT float OCRBR_LineConfidence(const OCRBR_LINE* line, int32_t index);
OCRBR_EXPORT int32_t OCRBR_LineBox(const OCRBR_LINE* line, int32_t index, TRect* box);

/* An OCRBR_FIGURE_ of the line; -1 for an unknown figure. */
OCRBR_EXPORT double OCRBR_LineFigure(const OCRBR_LINE* line, int32_t figure);

/* Nonzero when the junk rule calls the line junk (ocrb's text output leaves it out). */
OCRBR_EXPORT int32_t OCRBR_LineJunk(const OCRBR_LINE* line);

/* The line's coding-line layout (OCRBR_LAYOUT_), the fields whose check digit fails
   (OCRBR_FIELD_ bits), and whether a known layout checks out (nonzero). */
OCRBR_EXPORT int32_t OCRBR_LineLayout(const OCRBR_LINE* line);
OCRBR_EXPORT uint32_t OCRBR_LineBadFields(const OCRBR_LINE* line);
OCRBR_EXPORT int32_t OCRBR_LineCheckOk(const OCRBR_LINE* line);

/* Names, as ocrb writes them: a layout ("swiss-slip", "swiss-slip-no-amount", "" for none),
   a field ("amount", "reference", "participant"; "" for another value), a resolution source
   ("none", "file", "option", "estimated"; "" for another value). */
OCRBR_EXPORT const char* OCRBR_LayoutName(int32_t layout);
OCRBR_EXPORT const char* OCRBR_FieldName(uint32_t field);
OCRBR_EXPORT const char* OCRBR_DpiSourceName(int32_t source);

/* The reader's version, "MAJOR.MINOR.PATCH". */
OCRBR_EXPORT const char* OCRBR_Version(void);

#ifdef __cplusplus
}
#endif

#endif /* OCRB_READER_H_ */
