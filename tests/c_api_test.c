/* The public header compiled as C and linked against the shared library only: a C host
   creates a handle, sets parameters, queries the empty result and releases the handle. */
#include <stdio.h>
#include <string.h>

#include "ocrb.h"

static int failures = 0;
static int checks = 0;

#define CHECK(cond)                                              \
  do {                                                           \
    ++checks;                                                    \
    if (!(cond)) {                                               \
      ++failures;                                                \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
    }                                                            \
  } while (0)

int main(void) {
  OCRB_HANDLE handle = NULL;
  int32_t count = -1, length = -1;
  char text[OCRB_MAX_LINE_LENGTH + 1];
  float confidences[OCRB_MAX_LINE_LENGTH];
  TRect rects[OCRB_MAX_LINE_LENGTH];
  OCRB_HGLOBAL block;
  unsigned char* bytes;

  CHECK(sizeof(TRect) == 16);
  CHECK(OCRB_Init("", "", &handle) == OCRB_STATUS_OK);
  CHECK(handle != NULL);
  CHECK(OCRB_SetParameter(handle, OCRB_PARAM_SPACE_WIDTH, 20) == OCRB_STATUS_OK);
  CHECK(OCRB_SetParameter(handle, OCRB_PARAM_MAX_PASSES, 1) == OCRB_STATUS_OK);
  CHECK(OCRB_SetParameter(handle, 14, 1) == OCRB_STATUS_BAD_PARAMETER);
  CHECK(OCRB_ResultLinesCount(handle, &count) == OCRB_STATUS_OK && count == 0);
  CHECK(OCRB_ResultLineLength(handle, 0, &length) == OCRB_STATUS_BAD_LINE && length == 0);
  memset(text, 'x', sizeof text);
  CHECK(OCRB_ResultLineChars(handle, 0, text) == OCRB_STATUS_BAD_LINE && text[0] == 'x');
  CHECK(OCRB_ResultLineConfidences(handle, 0, confidences) == OCRB_STATUS_BAD_LINE);
  CHECK(OCRB_ResultLineRects(handle, 0, rects) == OCRB_STATUS_BAD_LINE);
  CHECK(OCRB_ResultLinesCount(NULL, &count) == OCRB_STATUS_FAILED);
  CHECK(OCRB_Done(handle) == OCRB_STATUS_OK);

  block = OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE | OCRB_GMEM_ZEROINIT, 64);
  CHECK(block != NULL && OCRB_GlobalSize(block) == 64);
  bytes = (unsigned char*)OCRB_GlobalLock(block);
  CHECK(bytes != NULL && bytes[63] == 0);
  CHECK(OCRB_GlobalUnlock(block) == 0);
  CHECK(OCRB_GlobalFree(block) == NULL);
  CHECK(OCRB_GlobalSize(block) == 0);

  printf("%d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
