/* ocrb_readbmp: reads 1-bit BMP files through the C API and writes each one's text.
     ocrb_readbmp [-s] FILE.bmp...        text to standard output, a blank line between files
     ocrb_readbmp [-s] -o DIR FILE.bmp... DIR/NAME.txt for every FILE
   -p ID=VALUE sets engine parameter ID (applies to the files after it); -s asks for a
   single line; with -o, -c also writes DIR/NAME.conf, the confidences of each
   line's characters separated by spaces. The packed DIB behind the 14-byte file header is handed to
   the engine as it is. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ocrb.h"

static OCRB_HGLOBAL LoadDib(const char* path) {
  FILE* file = fopen(path, "rb");
  long size;
  OCRB_HGLOBAL block = NULL;
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (size = ftell(file)) > 14 &&
      fseek(file, 14, SEEK_SET) == 0) {
    block = OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, (size_t)(size - 14));
    if (block != NULL) {
      void* bytes = OCRB_GlobalLock(block);
      size_t got = bytes ? fread(bytes, 1, (size_t)(size - 14), file) : 0;
      OCRB_GlobalUnlock(block);
      if (got != (size_t)(size - 14)) block = OCRB_GlobalFree(block) == NULL ? NULL : NULL;
    }
  }
  fclose(file);
  return block;
}

/* DIR/NAME.conf: one line per text line, the confidence of every character. */
static void WriteConfidences(OCRB_HANDLE engine, int32_t count, const char* out_dir,
                             const char* path) {
  char name[4096];
  const char* base = strrchr(path, '/');
  size_t n;
  int32_t line, k;
  FILE* out;
  base = base ? base + 1 : path;
  n = strlen(base);
  if (n > 4 && strcmp(base + n - 4, ".bmp") == 0) n -= 4;
  snprintf(name, sizeof name, "%s/%.*s.conf", out_dir, (int)n, base);
  out = fopen(name, "w");
  if (out == NULL) return;
  for (line = 0; line < count; ++line) {
    float conf[OCRB_MAX_LINE_LENGTH];
    int32_t length = 0;
    OCRB_ResultLineLength(engine, line, &length);
    OCRB_ResultLineConfidences(engine, line, conf);
    for (k = 0; k < length; ++k) fprintf(out, k ? " %.4f" : "%.4f", conf[k]);
    fprintf(out, "\n");
  }
  fclose(out);
}

int main(int argc, char** argv) {
  OCRB_HANDLE engine = NULL;
  const char* out_dir = NULL;
  int single = 0, confidences = 0, failures = 0, i;
  if (OCRB_Init("", "", &engine) != OCRB_STATUS_OK) {
    fprintf(stderr, "ocrb_readbmp: engine start-up failed\n");
    return 3;
  }
  for (i = 1; i < argc; ++i) {
    const char* path = argv[i];
    OCRB_HGLOBAL dib;
    int32_t status, count = 0, line;
    FILE* out = stdout;
    if (strcmp(path, "-s") == 0) {
      single = 1;
      continue;
    }
    if (strcmp(path, "-c") == 0) {
      confidences = 1;
      continue;
    }
    if (strcmp(path, "-p") == 0 && i + 1 < argc) {
      int id = 0, value = 0;
      if (sscanf(argv[++i], "%d=%d", &id, &value) != 2 ||
          OCRB_SetParameter(engine, id, value) != OCRB_STATUS_OK) {
        fprintf(stderr, "ocrb_readbmp: bad parameter %s\n", argv[i]);
        return 1;
      }
      continue;
    }
    if (strcmp(path, "-o") == 0 && i + 1 < argc) {
      out_dir = argv[++i];
      continue;
    }
    dib = LoadDib(path);
    if (dib == NULL) {
      fprintf(stderr, "ocrb_readbmp: %s: cannot read\n", path);
      ++failures;
      continue;
    }
    status = OCRB_Read(engine, dib, single);
    OCRB_GlobalFree(dib);
    if (status != OCRB_STATUS_OK) {
      fprintf(stderr, "ocrb_readbmp: %s: read failed (%d)\n", path, (int)status);
      ++failures;
      continue;
    }
    if (out_dir != NULL) {
      char name[4096];
      const char* base = strrchr(path, '/');
      size_t n;
      base = base ? base + 1 : path;
      n = strlen(base);
      if (n > 4 && strcmp(base + n - 4, ".bmp") == 0) n -= 4;
      snprintf(name, sizeof name, "%s/%.*s.txt", out_dir, (int)n, base);
      out = fopen(name, "w");
      if (out == NULL) {
        fprintf(stderr, "ocrb_readbmp: cannot write %s\n", name);
        ++failures;
        continue;
      }
    }
    OCRB_ResultLinesCount(engine, &count);
    for (line = 0; line < count; ++line) {
      char text[OCRB_MAX_LINE_LENGTH + 1];
      OCRB_ResultLineChars(engine, line, text);
      fprintf(out, "%s\n", text);
    }
    if (out != stdout) {
      fclose(out);
      if (confidences) WriteConfidences(engine, count, out_dir, path);
    } else if (i + 1 < argc)
      fprintf(out, "\n");
  }
  OCRB_Done(engine);
  return failures == 0 ? 0 : 2;
}
