/* ocrb_demo: reads the 1-bit BMP named on the command line and prints every line of text,
   then the confidence of each of its characters.

     ocrb_demo FILE.bmp

   A BMP file is a 14-byte file header followed by a packed DIB (the info header, the colour
   table and the pixel rows), which is what OCRB_Read takes: the demo copies everything after
   the file header into a movable block and hands it over. Exit status 0 when the file was
   read, 1 when it could not be opened or the engine refused it. */
#include <stdio.h>
#include <stdlib.h>

#include "ocrb.h"

/* On Windows the movable block is the system's; elsewhere the library exports the same
   functions under the OCRB_ prefix. */
#ifdef _WIN32
#include <windows.h>
#define OCRB_HGLOBAL HGLOBAL
#define OCRB_GMEM_MOVEABLE GMEM_MOVEABLE
#define OCRB_GlobalAlloc GlobalAlloc
#define OCRB_GlobalLock GlobalLock
#define OCRB_GlobalUnlock GlobalUnlock
#define OCRB_GlobalFree GlobalFree
#endif

/* The size of the BITMAPFILEHEADER in front of the packed DIB. */
#define kFileHeaderBytes 14

/* The packed DIB of a BMP file in a new movable block, or NULL. */
static OCRB_HGLOBAL LoadDib(const char* path) {
  OCRB_HGLOBAL block = NULL;
  long size = 0;
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (size = ftell(file)) > kFileHeaderBytes &&
      fseek(file, kFileHeaderBytes, SEEK_SET) == 0) {
    const size_t bytes = (size_t)(size - kFileHeaderBytes);
    block = OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, bytes);
    if (block != NULL) {
      void* data = OCRB_GlobalLock(block);
      const size_t got = data != NULL ? fread(data, 1, bytes, file) : 0;
      OCRB_GlobalUnlock(block);
      if (got != bytes) block = OCRB_GlobalFree(block);
    }
  }
  fclose(file);
  return block;
}

int main(int argc, char** argv) {
  OCRB_HANDLE engine = NULL;
  OCRB_HGLOBAL dib;
  int32_t status, count = 0, line, k;
  if (argc != 2) {
    fprintf(stderr, "usage: ocrb_demo FILE.bmp\n");
    return 1;
  }
  dib = LoadDib(argv[1]);
  if (dib == NULL) {
    fprintf(stderr, "ocrb_demo: cannot load %s\n", argv[1]);
    return 1;
  }
  if (OCRB_Init("", "", &engine) != OCRB_STATUS_OK) {
    fprintf(stderr, "ocrb_demo: the engine did not start\n");
    OCRB_GlobalFree(dib);
    return 1;
  }
  status = OCRB_Read(engine, dib, 0);
  OCRB_GlobalFree(dib); /* the engine keeps nothing of the bitmap */
  if (status != OCRB_STATUS_OK) {
    fprintf(stderr, "ocrb_demo: the engine refused %s (status %d)\n", argv[1], (int)status);
    OCRB_Done(engine);
    return 1;
  }
  OCRB_ResultLinesCount(engine, &count);
  for (line = 0; line < count; ++line) {
    char text[OCRB_MAX_LINE_LENGTH + 1] = {0};
    float confidences[OCRB_MAX_LINE_LENGTH];
    int32_t length = 0;
    if (OCRB_ResultLineLength(engine, line, &length) != OCRB_STATUS_OK ||
        OCRB_ResultLineChars(engine, line, text) != OCRB_STATUS_OK ||
        OCRB_ResultLineConfidences(engine, line, confidences) != OCRB_STATUS_OK) {
      break;
    }
    printf("%s\n", text);
    for (k = 0; k < length; ++k) printf(k > 0 ? " %.3f" : "  %.3f", (double)confidences[k]);
    printf("\n");
  }
  OCRB_Done(engine);
  return line == count ? 0 : 1;
}
