/* The reader's C interface compiled as C and linked against libocrb_reader.so only, driven
   end to end as a host drives it: files by path, files in memory and pixel buffers in every
   layout, the options and engine parameters, every kind of failure with its message, the
   accessors at and past their ends, and two readers on two threads.

   The pixel buffers are made here from the 1-bit BMP example, decoded by this file's own
   code, so that every layout must give the very lines the file gives. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ocrb_reader.h"

static int failures = 0;
static int checks = 0;
static const char* phase = "";

#define CHECK(cond)                                                          \
  do {                                                                       \
    ++checks;                                                                \
    if (!(cond)) {                                                           \
      ++failures;                                                            \
      fprintf(stderr, "%s:%d: [%s] %s\n", __FILE__, __LINE__, phase, #cond); \
    }                                                                        \
  } while (0)

static void StartPhase(const char* name) {
  fprintf(stderr, "=== %s\n", name);
  phase = name;
}

/* ---- Files and text ------------------------------------------------------------------ */

static char* PathOf(const char* dir, const char* name) {
  static char paths[8][1024];
  static int next = 0;
  char* path = paths[next++ % 8];
  snprintf(path, sizeof paths[0], "%s/%s", dir, name);
  return path;
}
#define EXAMPLE(name) PathOf(OCRB_EXAMPLES_DIR, name)

static unsigned char* LoadFile(const char* path, size_t* size) {
  unsigned char* data = NULL;
  long length = -1;
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0) length = ftell(file);
  if (length > 0 && fseek(file, 0, SEEK_SET) == 0) {
    data = (unsigned char*)malloc((size_t)length + 1);
    if (data != NULL && fread(data, 1, (size_t)length, file) != (size_t)length) {
      free(data);
      data = NULL;
    }
    if (data != NULL) data[length] = '\0';
  }
  fclose(file);
  *size = length > 0 ? (size_t)length : 0;
  return data;
}

/* The text of a ground-truth file, NUL-terminated (freed by the caller). */
static char* LoadText(const char* path) {
  size_t size = 0;
  return (char*)LoadFile(path, &size);
}

/* All lines of a result, each followed by '\n', pages separated by "\f\n" as ocrb's text
   output separates them. Junk lines are left out. */
static void ResultText(const OCRBR_RESULT* result, char* out, size_t room) {
  int32_t p, l;
  out[0] = '\0';
  for (p = 0; p < OCRBR_ResultPageCount(result); ++p) {
    const OCRBR_PAGE* page = OCRBR_ResultPage(result, p);
    if (p > 0) strncat(out, "\f\n", room - strlen(out) - 1);
    for (l = 0; l < OCRBR_PageLineCount(page); ++l) {
      const OCRBR_LINE* line = OCRBR_PageLine(page, l);
      if (OCRBR_LineJunk(line)) continue;
      strncat(out, OCRBR_LineText(line), room - strlen(out) - 1);
      strncat(out, "\n", room - strlen(out) - 1);
    }
  }
}

static int Contains(const char* text, const char* part) {
  return text != NULL && strstr(text, part) != NULL;
}

/* ---- The 1-bit BMP example as pixels ----------------------------------------------------- */

static uint32_t Get32(const unsigned char* at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

/* Ink of each pixel (1 ink, 0 paper), rows top down, from a 1-bit bottom-up BMP; NULL when
   the file is not one. Ink is the palette entry nearer to black. */
static unsigned char* BmpInk(const char* path, int* width, int* height, int* dpi) {
  size_t size = 0;
  unsigned char* file = LoadFile(path, &size);
  unsigned char* ink = NULL;
  if (file != NULL && size > 62 && file[0] == 'B' && file[1] == 'M' && file[28] == 1) {
    const unsigned char* palette = file + 14 + Get32(file + 14);
    const uint32_t offset = Get32(file + 10);
    const int w = (int)Get32(file + 18), h = (int)Get32(file + 22);
    const size_t stride = ((size_t)w + 31) / 32 * 4;
    const int dark0 = palette[0] + palette[1] + palette[2] < palette[4] + palette[5] + palette[6];
    int x, y;
    if (w > 0 && h > 0 && offset + stride * (size_t)h <= size) {
      ink = (unsigned char*)malloc((size_t)w * (size_t)h);
      for (y = 0; ink != NULL && y < h; ++y) {
        const unsigned char* row = file + offset + stride * (size_t)(h - 1 - y);
        for (x = 0; x < w; ++x) {
          const int bit = (row[x / 8] >> (7 - x % 8)) & 1;
          ink[(size_t)y * (size_t)w + (size_t)x] = (unsigned char)(bit == 0 ? dark0 : !dark0);
        }
      }
      *width = w;
      *height = h;
      *dpi = (int)(Get32(file + 38) * 0.0254 + 0.5);
    }
  }
  free(file);
  return ink;
}

/* Ink as a buffer of Format with rows Padding bytes longer than they need be. */
static unsigned char* MakePixels(const unsigned char* ink, int width, int height, int32_t format,
                                 size_t padding, size_t* stride) {
  const size_t bytes = format == OCRBR_PIXELS_RGBA32 ? 4 : format == OCRBR_PIXELS_RGB24 ? 3 : 1;
  const size_t row = format == OCRBR_PIXELS_BIT1 ? ((size_t)width + 7) / 8 : (size_t)width * bytes;
  unsigned char* pixels;
  int x, y;
  size_t b;
  *stride = row + padding;
  /* Padding holds garbage: the reader must never read it as pixels. */
  pixels = (unsigned char*)malloc(*stride * (size_t)height);
  if (pixels == NULL) return NULL;
  memset(pixels, 0x5a, *stride * (size_t)height);
  for (y = 0; y < height; ++y) {
    unsigned char* out = pixels + *stride * (size_t)y;
    if (format == OCRBR_PIXELS_BIT1) memset(out, 0, row);
    for (x = 0; x < width; ++x) {
      const int dark = ink[(size_t)y * (size_t)width + (size_t)x];
      if (format == OCRBR_PIXELS_BIT1) {
        if (dark) out[x / 8] |= (unsigned char)(0x80 >> (x % 8));
        continue;
      }
      for (b = 0; b < bytes; ++b) out[(size_t)x * bytes + b] = dark ? 20 : 235;
      /* Colour: bluish ink on yellowish paper; alpha opaque. */
      if (bytes >= 3) out[(size_t)x * bytes + 2] = dark ? 90 : 200;
      if (bytes == 4) out[(size_t)x * bytes + 3] = 255;
    }
  }
  return pixels;
}

/* ---- Phases ---------------------------------------------------------------------------- */

static void TestOptions(void) {
  OCRBR_READER* reader = NULL;
  int64_t value = -7;
  StartPhase("options");
  CHECK(strlen(OCRBR_Version()) >= 5);
  CHECK(OCRBR_New(NULL) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_New(&reader) == OCRBR_STATUS_OK && reader != NULL);
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_DPI, &value) == OCRBR_STATUS_OK && value == 0);
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_DESKEW, &value) == OCRBR_STATUS_OK && value == 1);
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_ORIENTATION, &value) == OCRBR_STATUS_OK &&
        value == OCRBR_ORIENTATION_AUTO);
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_MAX_PAGES, &value) == OCRBR_STATUS_OK &&
        value == 1000);
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_TIMEOUT_MS, &value) == OCRBR_STATUS_OK &&
        value == 10000);
  CHECK(OCRBR_GetOption(reader, 99, &value) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_DPI, NULL) == OCRBR_STATUS_BAD_ARGUMENT);

  /* Each refusal names its option and leaves it as it was; a success clears the message. */
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DPI, 300) == OCRBR_STATUS_OK);
  CHECK(strcmp(OCRBR_LastError(reader), "") == 0);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DPI, -1) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(Contains(OCRBR_LastError(reader), "option 1 takes 0 to 100000, not -1"));
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_DPI, &value) == OCRBR_STATUS_OK && value == 300);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DPI, 100001) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DPI, 100000) == OCRBR_STATUS_OK);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_ORIENTATION, 45) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_ORIENTATION, 270) == OCRBR_STATUS_OK);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_BINARISATION, 3) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_BINARISATION, OCRBR_BINARISE_OTSU) == OCRBR_STATUS_OK);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PIXELS, 0) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PIXELS, (int64_t)1 << 30) == OCRBR_STATUS_OK);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PIXELS, ((int64_t)1 << 30) + 1) ==
        OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_MEMORY, ((int64_t)64 << 20) - 1) ==
        OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_TIMEOUT_MS, 0) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_TIMEOUT_MS, 2500) == OCRBR_STATUS_OK);
  CHECK(OCRBR_GetOption(reader, OCRBR_OPTION_TIMEOUT_MS, &value) == OCRBR_STATUS_OK &&
        value == 2500);
  CHECK(OCRBR_SetOption(reader, 0, 1) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(Contains(OCRBR_LastError(reader), "unknown"));

  /* Engine parameters keep to the ranges ocrb shows. */
  CHECK(OCRBR_SetParameter(reader, 0, 1) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetParameter(reader, OCRB_PARAM_MAX_PASSES + 1, 1) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_SetParameter(reader, OCRB_PARAM_MAX_PASSES, 9) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(Contains(OCRBR_LastError(reader), "max-passes takes 1 to 8, not 9"));
  CHECK(OCRBR_SetParameter(reader, OCRB_PARAM_MAX_PASSES, 8) == OCRBR_STATUS_OK);
  CHECK(OCRBR_SetOption(NULL, OCRBR_OPTION_DPI, 1) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(strcmp(OCRBR_LastError(NULL), "no reader") == 0);
  OCRBR_Free(reader);
  OCRBR_Free(NULL);

  /* The header's numbers for fields are the bits ocrb's JSON names. */
  CHECK(strcmp(OCRBR_FieldName(OCRBR_FIELD_AMOUNT), "amount") == 0);
  CHECK(strcmp(OCRBR_FieldName(OCRBR_FIELD_REFERENCE), "reference") == 0);
  CHECK(strcmp(OCRBR_FieldName(OCRBR_FIELD_PARTICIPANT), "participant") == 0);
  CHECK(strcmp(OCRBR_FieldName(3), "") == 0);
  CHECK(strcmp(OCRBR_LayoutName(OCRBR_LAYOUT_SWISS_SLIP), "swiss-slip") == 0);
  CHECK(strcmp(OCRBR_LayoutName(OCRBR_LAYOUT_SWISS_SLIP_NO_AMOUNT), "swiss-slip-no-amount") == 0);
  CHECK(strcmp(OCRBR_LayoutName(7), "") == 0);
  CHECK(strcmp(OCRBR_DpiSourceName(OCRBR_DPI_ESTIMATED), "estimated") == 0);
  CHECK(strcmp(OCRBR_DpiSourceName(OCRBR_DPI_OPTION), "option") == 0);
  CHECK(strcmp(OCRBR_DpiSourceName(-1), "") == 0);
}

/* Every character of every line of Result lies in its page, with a confidence in 0..1, and
   each line's character count is its non-space characters. */
static void CheckFigures(const OCRBR_RESULT* result) {
  int32_t p, l, k;
  for (p = 0; p < OCRBR_ResultPageCount(result); ++p) {
    const OCRBR_PAGE* page = OCRBR_ResultPage(result, p);
    CHECK(OCRBR_PageNumber(page) == p + 1);
    for (l = 0; l < OCRBR_PageLineCount(page); ++l) {
      const OCRBR_LINE* line = OCRBR_PageLine(page, l);
      const char* text = OCRBR_LineText(line);
      int characters = 0;
      CHECK(OCRBR_LineLength(line) == (int32_t)strlen(text));
      for (k = 0; k < OCRBR_LineLength(line); ++k) {
        TRect box;
        const float confidence = OCRBR_LineConfidence(line, k);
        CHECK(confidence >= 0 && confidence <= 1);
        CHECK(OCRBR_LineBox(line, k, &box) == OCRBR_STATUS_OK);
        if (text[k] == ' ') {
          CHECK(box.Left == 0 && box.Top == 0 && box.Right == 0 && box.Bottom == 0);
          continue;
        }
        ++characters;
        CHECK(box.Left >= 0 && box.Left <= box.Right && box.Right < OCRBR_PageWidth(page));
        CHECK(box.Top >= 0 && box.Top <= box.Bottom && box.Bottom < OCRBR_PageHeight(page));
      }
      CHECK(OCRBR_LineFigure(line, OCRBR_FIGURE_CHARACTERS) == characters);
      CHECK(OCRBR_LineFigure(line, OCRBR_FIGURE_MIN_CONFIDENCE) <=
            OCRBR_LineFigure(line, OCRBR_FIGURE_MEAN_CONFIDENCE));
      /* Past the ends. */
      CHECK(OCRBR_LineConfidence(line, OCRBR_LineLength(line)) == -1);
      CHECK(OCRBR_LineConfidence(line, -1) == -1);
      CHECK(OCRBR_LineBox(line, OCRBR_LineLength(line), NULL) == OCRBR_STATUS_BAD_ARGUMENT);
      CHECK(OCRBR_LineFigure(line, 0) == -1);
    }
    CHECK(OCRBR_PageLine(page, OCRBR_PageLineCount(page)) == NULL);
    CHECK(OCRBR_PageLine(page, -1) == NULL);
  }
  CHECK(OCRBR_ResultPage(result, OCRBR_ResultPageCount(result)) == NULL);
}

/* Reads Path and returns its text as ResultText gives it, checking the figures. */
static int ReadsAs(OCRBR_READER* reader, const char* path, const char* expected) {
  OCRBR_RESULT* result = NULL;
  char text[4096];
  const int32_t status = OCRBR_ReadFile(reader, path, &result);
  CHECK(status == OCRBR_STATUS_OK);
  if (status != OCRBR_STATUS_OK) fprintf(stderr, "  %s: %s\n", path, OCRBR_LastError(reader));
  CHECK(result != NULL);
  ResultText(result, text, sizeof text);
  CheckFigures(result);
  OCRBR_ResultFree(result);
  if (strcmp(text, expected) != 0) fprintf(stderr, "  %s read\n%s", path, text);
  return strcmp(text, expected) == 0;
}

static void TestFiles(void) {
  OCRBR_READER* reader = NULL;
  OCRBR_RESULT* result = NULL;
  const OCRBR_PAGE* page;
  const OCRBR_LINE* line;
  char* coding = LoadText(EXAMPLE("coding-200dpi.gt.txt"));
  char* pages = LoadText(EXAMPLE("pages-2.gt.txt"));
  char* letter = LoadText(EXAMPLE("letter.gt.txt"));
  char* bare = LoadText(EXAMPLE("grey-no-dpi.gt.txt"));
  StartPhase("files");
  CHECK(coding != NULL && pages != NULL && letter != NULL && bare != NULL);
  if (coding == NULL || pages == NULL || letter == NULL || bare == NULL) return;
  CHECK(OCRBR_New(&reader) == OCRBR_STATUS_OK);

  /* A 1-bit BMP: one page at the resolution it states. */
  CHECK(ReadsAs(reader, EXAMPLE("coding-200dpi.bmp"), coding));
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("coding-200dpi.bmp"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ResultStatus(result) == OCRBR_STATUS_OK);
  CHECK(strcmp(OCRBR_ResultError(result), "") == 0);
  page = OCRBR_ResultPage(result, 0);
  CHECK(OCRBR_ResultPageCount(result) == 1);
  CHECK(OCRBR_PageStatus(page) == OCRBR_STATUS_OK);
  CHECK(OCRBR_PageWidth(page) == 990 && OCRBR_PageHeight(page) == 83);
  CHECK(OCRBR_PageXDpi(page) == 200 && OCRBR_PageYDpi(page) == 200);
  CHECK(OCRBR_PageDpiSource(page) == OCRBR_DPI_FILE);
  CHECK(OCRBR_PageStatedXDpi(page) == 200 && OCRBR_PageStatedYDpi(page) == 200);
  CHECK(OCRBR_PageOrientation(page) == 0);
  line = OCRBR_PageLine(page, 0);
  CHECK(OCRBR_LineJunk(line) == 0);
  CHECK(OCRBR_LineFigure(line, OCRBR_FIGURE_MEAN_CONFIDENCE) > 0.7);
  OCRBR_ResultFree(result);

  /* Every page of a TIFF; a PDF's page; a grey PNG without a resolution gets the estimate. */
  CHECK(ReadsAs(reader, EXAMPLE("pages-2.tif"), pages));
  CHECK(ReadsAs(reader, EXAMPLE("letter.pdf"), letter));
  CHECK(ReadsAs(reader, EXAMPLE("grey-no-dpi.png"), bare));
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("grey-no-dpi.png"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_PageDpiSource(OCRBR_ResultPage(result, 0)) == OCRBR_DPI_ESTIMATED);
  CHECK(OCRBR_PageStatedXDpi(OCRBR_ResultPage(result, 0)) == 0);
  OCRBR_ResultFree(result);
  /* ... and with a resolution named, that one, even over one the file states. */
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DPI, 240) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("grey-no-dpi.png"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_PageDpiSource(OCRBR_ResultPage(result, 0)) == OCRBR_DPI_OPTION);
  CHECK(OCRBR_PageXDpi(OCRBR_ResultPage(result, 0)) == 240);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("coding-200dpi.bmp"), &result) == OCRBR_STATUS_OK);
  page = OCRBR_ResultPage(result, 0);
  CHECK(OCRBR_PageDpiSource(page) == OCRBR_DPI_OPTION && OCRBR_PageXDpi(page) == 240);
  CHECK(OCRBR_PageStatedXDpi(page) == 200);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DPI, 0) == OCRBR_STATUS_OK);

  /* A page turned a little is levelled, unless asked not to. */
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("block-300dpi.png"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_PageSkewDegrees(OCRBR_ResultPage(result, 0)) != 0);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DESKEW, 0) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("block-300dpi.png"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_PageSkewDegrees(OCRBR_ResultPage(result, 0)) == 0);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_DESKEW, 1) == OCRBR_STATUS_OK);

  /* A fixed orientation turns the page that far and says so. */
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_ORIENTATION, 180) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("coding-200dpi.bmp"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_PageOrientation(OCRBR_ResultPage(result, 0)) == 180);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_ORIENTATION, OCRBR_ORIENTATION_AUTO) ==
        OCRBR_STATUS_OK);

  /* An engine parameter reaches the engine: without space insertion no line has a space. */
  CHECK(OCRBR_SetParameter(reader, OCRB_PARAM_INSERT_SPACES, 0) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("coding-200dpi.bmp"), &result) == OCRBR_STATUS_OK);
  CHECK(strchr(coding, ' ') != NULL);
  CHECK(strchr(OCRBR_LineText(OCRBR_PageLine(OCRBR_ResultPage(result, 0), 0)), ' ') == NULL);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetParameter(reader, OCRB_PARAM_INSERT_SPACES, 1) == OCRBR_STATUS_OK);
  CHECK(ReadsAs(reader, EXAMPLE("coding-200dpi.bmp"), coding));
  OCRBR_Free(reader);
  free(coding);
  free(pages);
  free(letter);
  free(bare);
}

/* Lines of ordinary print are read and called junk; the best line is the coding line, whose
   check digits hold. */
static void TestLines(void) {
  OCRBR_READER* reader = NULL;
  OCRBR_RESULT* result = NULL;
  const OCRBR_PAGE* page;
  const OCRBR_LINE* line;
  char* coding = LoadText(PathOf(OCRB_TEST_DATA_DIR, "mixed-page.gt.txt"));
  const char* path = PathOf(OCRB_TEST_DATA_DIR, "mixed-page.png");
  char* slips = LoadText(PathOf(OCRB_TEST_DATA_DIR, "slips.gt.txt"));
  size_t checked = 0;
  int32_t l, junk = 0;
  StartPhase("junk, best line and check digits");
  CHECK(coding != NULL);
  if (coding == NULL) return;
  coding[strcspn(coding, "\n")] = '\0';
  CHECK(OCRBR_New(&reader) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, path, &result) == OCRBR_STATUS_OK);
  page = OCRBR_ResultPage(result, 0);
  CHECK(OCRBR_PageLineCount(page) >= 2);
  for (l = 0; l < OCRBR_PageLineCount(page); ++l)
    junk += OCRBR_PageLine(page, l) != NULL && OCRBR_LineJunk(OCRBR_PageLine(page, l));
  CHECK(junk >= 1);
  OCRBR_ResultFree(result);

  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_BEST_LINE, 1) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, path, &result) == OCRBR_STATUS_OK);
  page = OCRBR_ResultPage(result, 0);
  CHECK(OCRBR_PageLineCount(page) == 1);
  line = OCRBR_PageLine(page, 0);
  CHECK(strcmp(OCRBR_LineText(line), coding) == 0);
  CHECK(OCRBR_LineLayout(line) == OCRBR_LAYOUT_SWISS_SLIP);
  CHECK(OCRBR_LineCheckOk(line) == 1 && OCRBR_LineBadFields(line) == 0);
  CHECK(OCRBR_LineJunk(line) == 0);
  OCRBR_ResultFree(result);

  /* Lines whose check digits hold and fail, as ocrb --check reports them. */
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_BEST_LINE, 0) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, PathOf(OCRB_TEST_DATA_DIR, "slips.png"), &result) ==
        OCRBR_STATUS_OK);
  page = OCRBR_ResultPage(result, 0);
  CHECK(OCRBR_PageLineCount(page) == 5);
  for (l = 0; l < OCRBR_PageLineCount(page) && slips != NULL; ++l) {
    char expected[512];
    uint32_t field;
    line = OCRBR_PageLine(page, l);
    snprintf(expected, sizeof expected, "%s", OCRBR_LineText(line));
    if (OCRBR_LineLayout(line) != OCRBR_LAYOUT_NONE) {
      strcat(expected, OCRBR_LineCheckOk(line) ? "\tok" : "\tbad ");
      CHECK(OCRBR_LineCheckOk(line) == (OCRBR_LineBadFields(line) == 0));
      for (field = OCRBR_FIELD_AMOUNT; field <= OCRBR_FIELD_PARTICIPANT; field <<= 1) {
        if ((OCRBR_LineBadFields(line) & field) == 0) continue;
        if (expected[strlen(expected) - 1] != ' ') strcat(expected, ",");
        strcat(expected, OCRBR_FieldName(field));
      }
    }
    strcat(expected, "\n");
    CHECK(strncmp(slips + checked, expected, strlen(expected)) == 0);
    checked += strlen(expected);
  }
  CHECK(slips != NULL && checked == strlen(slips));
  OCRBR_ResultFree(result);

  /* Single line and best line exclude each other. */
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_BEST_LINE, 1) == OCRBR_STATUS_OK);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_SINGLE_LINE, 1) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, path, &result) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(result == NULL);
  CHECK(Contains(OCRBR_LastError(reader), "exclude each other"));
  OCRBR_Free(reader);
  free(coding);
  free(slips);
}

/* The JPEG and PNG of the colour slip, from memory; the coding line checks out. */
static void TestMemory(void) {
  OCRBR_READER* reader = NULL;
  OCRBR_RESULT* result = NULL;
  char* slip = LoadText(EXAMPLE("slip-colour-300dpi.gt.txt"));
  const char* files[] = {"slip-colour-300dpi.jpg", "slip-colour-300dpi.png"};
  size_t f;
  StartPhase("memory");
  CHECK(slip != NULL);
  if (slip == NULL) return;
  CHECK(OCRBR_New(&reader) == OCRBR_STATUS_OK);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_BEST_LINE, 1) == OCRBR_STATUS_OK);
  for (f = 0; f < sizeof files / sizeof files[0]; ++f) {
    size_t size = 0;
    unsigned char* data = LoadFile(EXAMPLE(files[f]), &size);
    char text[1024];
    const OCRBR_LINE* line;
    CHECK(data != NULL);
    if (data == NULL) continue;
    CHECK(OCRBR_ReadMemory(reader, data, size, &result) == OCRBR_STATUS_OK);
    ResultText(result, text, sizeof text);
    CHECK(strcmp(text, slip) == 0);
    line = OCRBR_PageLine(OCRBR_ResultPage(result, 0), 0);
    CHECK(OCRBR_LineCheckOk(line) == 1);
    CHECK(OCRBR_PageXDpi(OCRBR_ResultPage(result, 0)) == 300);
    CheckFigures(result);
    OCRBR_ResultFree(result);
    /* Cut short, the same file fails as damaged, with a result that says so. */
    CHECK(OCRBR_ReadMemory(reader, data, size / 2, &result) == OCRBR_STATUS_BAD_IMAGE);
    CHECK(result != NULL && OCRBR_ResultStatus(result) == OCRBR_STATUS_BAD_IMAGE);
    CHECK(strlen(OCRBR_ResultError(result)) > 0);
    CHECK(strcmp(OCRBR_ResultError(result), OCRBR_LastError(reader)) == 0);
    OCRBR_ResultFree(result);
    free(data);
  }
  OCRBR_Free(reader);
  free(slip);
}

/* The BMP's ink in every pixel layout, with padded rows, reads as the file does. */
static void TestPixels(void) {
  OCRBR_READER* reader = NULL;
  OCRBR_RESULT* result = NULL;
  const int32_t formats[] = {OCRBR_PIXELS_BIT1, OCRBR_PIXELS_GREY8, OCRBR_PIXELS_RGB24,
                             OCRBR_PIXELS_RGBA32};
  char* coding = LoadText(EXAMPLE("coding-200dpi.gt.txt"));
  int width = 0, height = 0, dpi = 0;
  unsigned char* ink = BmpInk(EXAMPLE("coding-200dpi.bmp"), &width, &height, &dpi);
  size_t f;
  StartPhase("pixels");
  CHECK(coding != NULL && ink != NULL && dpi == 200);
  if (coding == NULL || ink == NULL) return;
  CHECK(OCRBR_New(&reader) == OCRBR_STATUS_OK);
  for (f = 0; f < sizeof formats / sizeof formats[0]; ++f) {
    size_t stride = 0;
    unsigned char* pixels = MakePixels(ink, width, height, formats[f], 3, &stride);
    char text[1024];
    const OCRBR_PAGE* page;
    CHECK(pixels != NULL);
    if (pixels == NULL) continue;
    CHECK(OCRBR_ReadPixels(reader, pixels, formats[f], width, height, stride, dpi, dpi, &result) ==
          OCRBR_STATUS_OK);
    ResultText(result, text, sizeof text);
    if (strcmp(text, coding) != 0) fprintf(stderr, "  format %d read %s", (int)formats[f], text);
    CHECK(strcmp(text, coding) == 0);
    page = OCRBR_ResultPage(result, 0);
    CHECK(OCRBR_PageWidth(page) == width && OCRBR_PageHeight(page) == height);
    CHECK(OCRBR_PageXDpi(page) == 200 && OCRBR_PageDpiSource(page) == OCRBR_DPI_FILE);
    CheckFigures(result);
    OCRBR_ResultFree(result);
    /* Without a resolution the digits' heights give one near the true 200 dpi. */
    CHECK(OCRBR_ReadPixels(reader, pixels, formats[f], width, height, stride, 0, 0, &result) ==
          OCRBR_STATUS_OK);
    page = OCRBR_ResultPage(result, 0);
    CHECK(OCRBR_PageDpiSource(page) == OCRBR_DPI_ESTIMATED);
    CHECK(OCRBR_PageXDpi(page) > 160 && OCRBR_PageXDpi(page) < 240);
    OCRBR_ResultFree(result);
    /* A stride shorter than a row is refused, not read past. */
    CHECK(OCRBR_ReadPixels(reader, pixels, formats[f], width, height, stride - 4, dpi, dpi,
                           &result) == OCRBR_STATUS_BAD_IMAGE);
    CHECK(Contains(OCRBR_LastError(reader), "stride"));
    OCRBR_ResultFree(result);
    free(pixels);
  }
  OCRBR_Free(reader);
  free(ink);
  free(coding);
}

static void TestErrors(void) {
  OCRBR_READER* reader = NULL;
  OCRBR_RESULT* result = NULL;
  static const unsigned char garbage[] = "this is no image at all, only some words";
  unsigned char* pixels;
  StartPhase("errors");
  CHECK(OCRBR_New(&reader) == OCRBR_STATUS_OK);

  /* Arguments. */
  CHECK(OCRBR_ReadFile(NULL, EXAMPLE("coding-200dpi.bmp"), &result) == OCRBR_STATUS_BAD_ARGUMENT);
  /* A refused read leaves no stale pointer behind. */
  result = (OCRBR_RESULT*)&checks;
  CHECK(OCRBR_ReadFile(reader, NULL, &result) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(result == NULL);
  result = (OCRBR_RESULT*)&checks;
  CHECK(OCRBR_ReadPixels(reader, NULL, OCRBR_PIXELS_GREY8, 4, 4, 4, 0, 0, &result) ==
        OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(result == NULL);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("coding-200dpi.bmp"), NULL) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_ReadMemory(reader, NULL, 10, &result) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_ReadPixels(reader, garbage, 0, 4, 4, 4, 0, 0, &result) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(Contains(OCRBR_LastError(reader), "pixel format 0"));
  CHECK(OCRBR_ReadPixels(reader, garbage, 5, 4, 4, 4, 0, 0, &result) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(OCRBR_ReadPixels(reader, garbage, OCRBR_PIXELS_GREY8, 4, 4, 4, -1, 0, &result) ==
        OCRBR_STATUS_BAD_ARGUMENT);

  /* Files. */
  CHECK(OCRBR_ReadFile(reader, "/nonexistent/scan.png", &result) == OCRBR_STATUS_CANNOT_OPEN);
  CHECK(Contains(OCRBR_LastError(reader), "/nonexistent/scan.png: No such file"));
  CHECK(result != NULL && OCRBR_ResultPageCount(result) == 0);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_ReadMemory(reader, garbage, sizeof garbage, &result) == OCRBR_STATUS_BAD_IMAGE);
  CHECK(strlen(OCRBR_LastError(reader)) > 0);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_ReadMemory(reader, garbage, 0, &result) == OCRBR_STATUS_BAD_IMAGE);
  CHECK(Contains(OCRBR_LastError(reader), "empty"));
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_FILE_SIZE, 16) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadMemory(reader, garbage, sizeof garbage, &result) == OCRBR_STATUS_BAD_IMAGE);
  CHECK(Contains(OCRBR_LastError(reader), "OCRBR_OPTION_MAX_FILE_SIZE"));
  OCRBR_ResultFree(result);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("coding-200dpi.bmp"), &result) == OCRBR_STATUS_BAD_IMAGE);
  CHECK(Contains(OCRBR_LastError(reader), "max-file-size"));
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_FILE_SIZE, 1 << 20) == OCRBR_STATUS_OK);

  /* A limit on pages: the TIFF's second page is one too many. */
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PAGES, 1) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("pages-2.tif"), &result) == OCRBR_STATUS_BAD_IMAGE);
  CHECK(Contains(OCRBR_LastError(reader), "max-pages"));
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PAGES, 2) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("pages-2.tif"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ResultPageCount(result) == 2);
  OCRBR_ResultFree(result);

  /* Pixels: sizes, the pixel bound (at the bound read, past it refused). */
  pixels = (unsigned char*)calloc(400 * 300, 1);
  CHECK(pixels != NULL);
  if (pixels == NULL) return;
  memset(pixels, 255, 400 * 300);
  CHECK(OCRBR_ReadPixels(reader, pixels, OCRBR_PIXELS_GREY8, 0, 10, 400, 0, 0, &result) ==
        OCRBR_STATUS_BAD_IMAGE);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_ReadPixels(reader, pixels, OCRBR_PIXELS_BIT1, 10, -1, 400, 0, 0, &result) ==
        OCRBR_STATUS_BAD_IMAGE);
  OCRBR_ResultFree(result);
  /* Too wide is refused before a byte of it is read (the buffer is far smaller). */
  CHECK(OCRBR_ReadPixels(reader, garbage, OCRBR_PIXELS_BIT1, 65537, 1, 8193, 0, 0, &result) ==
        OCRBR_STATUS_BAD_IMAGE);
  CHECK(Contains(OCRBR_LastError(reader), "1 to 65536 pixels"));
  OCRBR_ResultFree(result);
  CHECK(OCRBR_ReadPixels(reader, garbage, OCRBR_PIXELS_GREY8, 1, 65537, 1, 0, 0, &result) ==
        OCRBR_STATUS_BAD_IMAGE);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PIXELS, 400 * 300) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadPixels(reader, pixels, OCRBR_PIXELS_GREY8, 400, 300, 400, 200, 200, &result) ==
        OCRBR_STATUS_OK);
  CHECK(OCRBR_PageLineCount(OCRBR_ResultPage(result, 0)) == 0);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PIXELS, 400 * 300 - 1) == OCRBR_STATUS_OK);
  CHECK(OCRBR_ReadPixels(reader, pixels, OCRBR_PIXELS_GREY8, 400, 300, 400, 200, 200, &result) ==
        OCRBR_STATUS_BAD_IMAGE);
  CHECK(Contains(OCRBR_LastError(reader), "max"));
  OCRBR_ResultFree(result);
  CHECK(OCRBR_ReadPixels(reader, pixels, OCRBR_PIXELS_BIT1, 400, 300, 50, 200, 200, &result) ==
        OCRBR_STATUS_BAD_IMAGE);
  OCRBR_ResultFree(result);
  CHECK(OCRBR_SetOption(reader, OCRBR_OPTION_MAX_PIXELS, (int64_t)1 << 26) == OCRBR_STATUS_OK);

  /* The engine refuses a page whose pixels, squared at 600 x 1 dpi, pass its limit: the
     reader says so, and keeps the engine's own status. */
  CHECK(OCRBR_ReadPixels(reader, pixels, OCRBR_PIXELS_BIT1, 2000, 300, 250, 600, 1, &result) ==
        OCRBR_STATUS_REFUSED);
  CHECK(OCRBR_LastEngineStatus(reader) == OCRB_STATUS_READ_FAILED);
  CHECK(Contains(OCRBR_LastError(reader), "the engine refused the bitmap (status -4)"));
  CHECK(Contains(OCRBR_LastError(reader), "squaring its pixels at 600 x 1 dpi makes"));
  CHECK(Contains(OCRBR_LastError(reader), "268435456"));
  CHECK(result != NULL && OCRBR_ResultStatus(result) == OCRBR_STATUS_REFUSED);
  OCRBR_ResultFree(result);
  /* The next read that succeeds clears both. */
  CHECK(OCRBR_ReadFile(reader, EXAMPLE("coding-200dpi.bmp"), &result) == OCRBR_STATUS_OK);
  CHECK(OCRBR_LastEngineStatus(reader) == 0 && strcmp(OCRBR_LastError(reader), "") == 0);
  OCRBR_ResultFree(result);

  /* Accessors asked about nothing answer quietly. */
  CHECK(OCRBR_ResultPageCount(NULL) == 0 && OCRBR_ResultPage(NULL, 0) == NULL);
  CHECK(OCRBR_ResultStatus(NULL) == OCRBR_STATUS_BAD_ARGUMENT);
  CHECK(strcmp(OCRBR_ResultError(NULL), "") == 0);
  CHECK(OCRBR_PageLineCount(NULL) == 0 && OCRBR_PageLine(NULL, 0) == NULL);
  CHECK(OCRBR_PageWidth(NULL) == 0 && OCRBR_PageDpiSource(NULL) == OCRBR_DPI_NONE);
  CHECK(strcmp(OCRBR_PageError(NULL), "") == 0);
  CHECK(strcmp(OCRBR_LineText(NULL), "") == 0 && OCRBR_LineLength(NULL) == 0);
  CHECK(OCRBR_LineConfidence(NULL, 0) == -1 && OCRBR_LineFigure(NULL, 1) == -1);
  CHECK(OCRBR_LineJunk(NULL) == 0 && OCRBR_LineLayout(NULL) == OCRBR_LAYOUT_NONE);
  OCRBR_ResultFree(NULL);
  free(pixels);
  OCRBR_Free(reader);
}

/* ---- Two readers on two threads ----------------------------------------------------------- */

struct Work {
  const char* Paths[3];
  char Texts[3][1024];
  int Rounds;
  int Failed;
};

static void* ReadAll(void* arg) {
  struct Work* work = (struct Work*)arg;
  OCRBR_READER* reader = NULL;
  int round, i;
  if (OCRBR_New(&reader) != OCRBR_STATUS_OK) {
    work->Failed = 1;
    return NULL;
  }
  for (round = 0; round < work->Rounds; ++round) {
    for (i = 0; i < 3; ++i) {
      OCRBR_RESULT* result = NULL;
      char text[1024];
      if (OCRBR_ReadFile(reader, work->Paths[i], &result) != OCRBR_STATUS_OK) work->Failed = 1;
      ResultText(result, text, sizeof text);
      OCRBR_ResultFree(result);
      if (round == 0) {
        memcpy(work->Texts[i], text, sizeof text);
      } else if (strcmp(text, work->Texts[i]) != 0) {
        work->Failed = 1;
      }
    }
  }
  OCRBR_Free(reader);
  return NULL;
}

static void TestThreads(void) {
  struct Work alone, first, second;
  pthread_t threads[2];
  int i;
  StartPhase("two readers on two threads");
  memset(&alone, 0, sizeof alone);
  alone.Paths[0] = EXAMPLE("block-300dpi.png");
  alone.Paths[1] = EXAMPLE("pages-2.tif");
  alone.Paths[2] = EXAMPLE("coding-200dpi.bmp");
  alone.Rounds = 1;
  ReadAll(&alone);
  CHECK(!alone.Failed);
  first = alone;
  second = alone;
  first.Rounds = second.Rounds = 3;
  CHECK(pthread_create(&threads[0], NULL, ReadAll, &first) == 0);
  CHECK(pthread_create(&threads[1], NULL, ReadAll, &second) == 0);
  CHECK(pthread_join(threads[0], NULL) == 0);
  CHECK(pthread_join(threads[1], NULL) == 0);
  CHECK(!first.Failed && !second.Failed);
  for (i = 0; i < 3; ++i) {
    CHECK(strcmp(first.Texts[i], alone.Texts[i]) == 0);
    CHECK(strcmp(second.Texts[i], alone.Texts[i]) == 0);
    CHECK(strlen(alone.Texts[i]) > 10);
  }
}

int main(void) {
  TestOptions();
  TestFiles();
  TestLines();
  TestMemory();
  TestPixels();
  TestErrors();
  TestThreads();
  fprintf(stderr, "%d of %d checks failed\n", failures, checks);
  return failures == 0 ? 0 : 1;
}
