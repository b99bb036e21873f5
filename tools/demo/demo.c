/* ocrb_demo: reads images through the reader's C interface (ocrb_reader.h) and prints every
   page, line and character with its figures, in the layout of ocrb -f json.

     ocrb_demo [--best] FILE...           each file by its path (any image, every page)
     ocrb_demo [--best] --memory FILE...  each file read into memory first, then the buffer
     ocrb_demo [--best] --pixels FILE...  binary PBM, PGM or PPM files as raw pixel buffers

   --best keeps each page's best line (ocrb --line best). A file that fails is printed with
   its error and status (an OCRBR_STATUS_ code) and its pages read before the failure. Exit
   status 0 when every file was read, 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ocrb_reader.h"

enum Mode { kByPath, kFromMemory, kAsPixels };

/* The whole of a file in a new buffer (freed by the caller), or NULL. */
static unsigned char* LoadFile(const char* path, size_t* size) {
  unsigned char* data = NULL;
  long length = -1;
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0) length = ftell(file);
  if (length >= 0 && fseek(file, 0, SEEK_SET) == 0) {
    data = (unsigned char*)malloc(length > 0 ? (size_t)length : 1);
    if (data != NULL && fread(data, 1, (size_t)length, file) != (size_t)length) {
      free(data);
      data = NULL;
    }
  }
  fclose(file);
  *size = (size_t)length;
  return data;
}

/* The next whole number of a PNM header at *At, skipping white space and comments; -1 when
   there is none. */
static long PnmNumber(const unsigned char* data, size_t size, size_t* at) {
  long value = -1;
  while (*at < size) {
    if (data[*at] == '#') {
      while (*at < size && data[*at] != '\n') ++*at;
    } else if (data[*at] == ' ' || data[*at] == '\t' || data[*at] == '\r' || data[*at] == '\n') {
      ++*at;
    } else {
      break;
    }
  }
  while (*at < size && data[*at] >= '0' && data[*at] <= '9' && value < 1000000) {
    value = (value < 0 ? 0 : value * 10) + (data[*at] - '0');
    ++*at;
  }
  return value;
}

/* Reads a binary PBM (P4), PGM (P5) or PPM (P6) of 8-bit samples as a pixel buffer. */
static int32_t ReadPnm(OCRBR_READER* reader, const unsigned char* data, size_t size,
                       OCRBR_RESULT** result) {
  size_t at = 2;
  long width, height, maximum = 1;
  int32_t format;
  size_t stride;
  if (size < 2 || data[0] != 'P' || data[1] < '4' || data[1] > '6') return -100;
  format = data[1] == '4'   ? OCRBR_PIXELS_BIT1
           : data[1] == '5' ? OCRBR_PIXELS_GREY8
                            : OCRBR_PIXELS_RGB24;
  width = PnmNumber(data, size, &at);
  height = PnmNumber(data, size, &at);
  if (format != OCRBR_PIXELS_BIT1) maximum = PnmNumber(data, size, &at);
  if (width <= 0 || height <= 0 || maximum != (format == OCRBR_PIXELS_BIT1 ? 1 : 255) ||
      at >= size) {
    return -100;
  }
  ++at; /* the one white-space character before the samples */
  stride = format == OCRBR_PIXELS_BIT1    ? ((size_t)width + 7) / 8
           : format == OCRBR_PIXELS_GREY8 ? (size_t)width
                                          : (size_t)width * 3;
  if (at > size || (size - at) / stride < (size_t)height) return -100;
  return OCRBR_ReadPixels(reader, data + at, format, (int32_t)width, (int32_t)height, stride, 0, 0,
                          result);
}

/* Text as a JSON string. */
static void PrintString(const char* text) {
  putchar('"');
  for (; *text != '\0'; ++text) {
    if (*text == '"' || *text == '\\') {
      printf("\\%c", *text);
    } else if ((unsigned char)*text < 0x20) {
      printf("\\u%04x", (unsigned)(unsigned char)*text);
    } else {
      putchar(*text);
    }
  }
  putchar('"');
}

static void PrintLine(const OCRBR_LINE* line) {
  int32_t k, length = OCRBR_LineLength(line);
  const char* text = OCRBR_LineText(line);
  uint32_t bad = OCRBR_LineBadFields(line), field;
  int first = 1;
  printf("{\"text\": ");
  PrintString(text);
  printf(", \"mean_confidence\": %.3f, \"min_confidence\": %.3f, \"unnamed_share\": %.3f",
         OCRBR_LineFigure(line, OCRBR_FIGURE_MEAN_CONFIDENCE),
         OCRBR_LineFigure(line, OCRBR_FIGURE_MIN_CONFIDENCE),
         OCRBR_LineFigure(line, OCRBR_FIGURE_UNNAMED_SHARE));
  printf(", \"off_pitch_share\": %.3f, \"height_spread_share\": %.3f, \"junk\": %s",
         OCRBR_LineFigure(line, OCRBR_FIGURE_OFF_PITCH_SHARE),
         OCRBR_LineFigure(line, OCRBR_FIGURE_HEIGHT_SPREAD_SHARE),
         OCRBR_LineJunk(line) ? "true" : "false");
  if (OCRBR_LineLayout(line) == OCRBR_LAYOUT_NONE) {
    printf(", \"check\": null");
  } else {
    printf(", \"check\": {\"layout\": \"%s\", \"ok\": %s, \"bad\": [",
           OCRBR_LayoutName(OCRBR_LineLayout(line)), OCRBR_LineCheckOk(line) ? "true" : "false");
    for (field = OCRBR_FIELD_AMOUNT; field <= OCRBR_FIELD_PARTICIPANT; field <<= 1) {
      if ((bad & field) == 0) continue;
      printf("%s\"%s\"", first ? "" : ", ", OCRBR_FieldName(field));
      first = 0;
    }
    printf("]}");
  }
  printf(", \"chars\": [");
  for (k = 0; k < length; ++k) {
    TRect box;
    const char c[2] = {text[k], '\0'};
    printf("%s{\"char\": ", k > 0 ? ", " : "");
    PrintString(c);
    printf(", \"confidence\": %.3f, \"box\": ", OCRBR_LineConfidence(line, k));
    if (text[k] == ' ' || OCRBR_LineBox(line, k, &box) != OCRBR_STATUS_OK) {
      printf("null}");
    } else {
      printf("[%d, %d, %d, %d]}", (int)box.Left, (int)box.Top, (int)box.Right, (int)box.Bottom);
    }
  }
  printf("]}");
}

static void PrintPage(const OCRBR_PAGE* page) {
  int32_t l, lines = OCRBR_PageLineCount(page);
  double skew = OCRBR_PageSkewDegrees(page);
  if (OCRBR_PageStatus(page) != OCRBR_STATUS_OK) {
    printf("{\"page\": %d, \"status\": %d, \"error\": ", (int)OCRBR_PageNumber(page),
           (int)OCRBR_PageStatus(page));
    PrintString(OCRBR_PageError(page));
    printf(", \"lines\": []}");
    return;
  }
  printf("{\"page\": %d, \"width\": %d, \"height\": %d, \"xdpi\": %d, \"ydpi\": %d",
         (int)OCRBR_PageNumber(page), (int)OCRBR_PageWidth(page), (int)OCRBR_PageHeight(page),
         (int)OCRBR_PageXDpi(page), (int)OCRBR_PageYDpi(page));
  printf(", \"dpi_source\": \"%s\"", OCRBR_DpiSourceName(OCRBR_PageDpiSource(page)));
  if (OCRBR_PageStatedXDpi(page) > 0 || OCRBR_PageStatedYDpi(page) > 0) {
    printf(", \"stated_dpi\": [%d, %d]", (int)OCRBR_PageStatedXDpi(page),
           (int)OCRBR_PageStatedYDpi(page));
  } else {
    printf(", \"stated_dpi\": null");
  }
  printf(", \"skew_degrees\": %.2f, \"orientation\": %d, \"lines\": [",
         skew > -0.005 && skew < 0.005 ? 0.0 : skew, (int)OCRBR_PageOrientation(page));
  for (l = 0; l < lines; ++l) {
    printf(l > 0 ? ",\n      " : "\n      ");
    PrintLine(OCRBR_PageLine(page, l));
  }
  printf(lines > 0 ? "\n    ]}" : "]}");
}

/* Reads one file as Mode says and prints its result, counting it in *Printed; returns the
   status of the read. */
static int32_t ReadOne(OCRBR_READER* reader, const char* path, enum Mode mode, int* printed) {
  OCRBR_RESULT* result = NULL;
  int32_t status, p, pages;
  if (mode == kByPath) {
    status = OCRBR_ReadFile(reader, path, &result);
  } else {
    size_t size = 0;
    unsigned char* data = LoadFile(path, &size);
    if (data == NULL) {
      fprintf(stderr, "ocrb_demo: %s: cannot read the file\n", path);
      return OCRBR_STATUS_CANNOT_OPEN;
    }
    status = mode == kFromMemory ? OCRBR_ReadMemory(reader, data, size, &result)
                                 : ReadPnm(reader, data, size, &result);
    free(data);
    if (status == -100) {
      fprintf(stderr, "ocrb_demo: %s: not a binary PBM, PGM or PPM of 8-bit samples\n", path);
      return OCRBR_STATUS_BAD_IMAGE;
    }
  }
  /* The message of a read by path names the file already. */
  if (status != OCRBR_STATUS_OK && mode == kByPath) {
    fprintf(stderr, "ocrb_demo: %s (status %d)\n", OCRBR_LastError(reader), (int)status);
  } else if (status != OCRBR_STATUS_OK) {
    fprintf(stderr, "ocrb_demo: %s: %s (status %d)\n", path, OCRBR_LastError(reader), (int)status);
  }
  if (result == NULL) return status;
  printf(*printed > 0 ? ",\n  {\"file\": " : "  {\"file\": ");
  ++*printed;
  PrintString(path);
  if (status != OCRBR_STATUS_OK) {
    printf(", \"error\": ");
    PrintString(OCRBR_ResultError(result));
    printf(", \"status\": %d", (int)status);
  }
  printf(", \"pages\": [");
  pages = OCRBR_ResultPageCount(result);
  for (p = 0; p < pages; ++p) {
    printf(p > 0 ? ",\n    " : "\n    ");
    PrintPage(OCRBR_ResultPage(result, p));
  }
  printf(pages > 0 ? "\n  ]}" : "]}");
  OCRBR_ResultFree(result);
  return status;
}

int main(int argc, char** argv) {
  OCRBR_READER* reader = NULL;
  enum Mode mode = kByPath;
  int i, first = 1, failed = 0, printed = 0;
  for (; first < argc && argv[first][0] == '-' && argv[first][1] == '-'; ++first) {
    if (strcmp(argv[first], "--memory") == 0) {
      mode = kFromMemory;
    } else if (strcmp(argv[first], "--pixels") == 0) {
      mode = kAsPixels;
    } else if (strcmp(argv[first], "--best") != 0) {
      break;
    }
  }
  if (first >= argc || argv[first][0] == '-') {
    fprintf(stderr, "usage: ocrb_demo [--best] [--memory | --pixels] FILE...\n");
    return 1;
  }
  if (OCRBR_New(&reader) != OCRBR_STATUS_OK) {
    fprintf(stderr, "ocrb_demo: out of memory\n");
    return 1;
  }
  for (i = 1; i < first; ++i) {
    if (strcmp(argv[i], "--best") == 0) OCRBR_SetOption(reader, OCRBR_OPTION_BEST_LINE, 1);
  }
  printf("{\"files\": [\n");
  for (i = first; i < argc; ++i) {
    failed |= ReadOne(reader, argv[i], mode, &printed) != OCRBR_STATUS_OK;
  }
  printf("\n]}\n");
  OCRBR_Free(reader);
  return failed ? 1 : 0;
}
