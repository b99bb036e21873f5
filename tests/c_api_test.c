/* The public header compiled as C and linked against the shared library only: a C host
   creates a handle, sets parameters, queries the empty result and releases the handle. */
#include <stdio.h>
#include <string.h>

#include "ocrb.h"

/* The caller's movable memory: the system's on Windows, the library's own elsewhere. */
#ifdef _WIN32
#include <windows.h>
typedef HGLOBAL MemHandle;
#define MEM_MOVEABLE GMEM_MOVEABLE
#define MEM_ZEROINIT GMEM_ZEROINIT
#define MemAlloc GlobalAlloc
#define MemLock GlobalLock
#define MemUnlock GlobalUnlock
#define MemSize GlobalSize
#define MemFree GlobalFree
#else
typedef OCRB_HGLOBAL MemHandle;
#define MEM_MOVEABLE OCRB_GMEM_MOVEABLE
#define MEM_ZEROINIT OCRB_GMEM_ZEROINIT
#define MemAlloc OCRB_GlobalAlloc
#define MemLock OCRB_GlobalLock
#define MemUnlock OCRB_GlobalUnlock
#define MemSize OCRB_GlobalSize
#define MemFree OCRB_GlobalFree
#endif

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
  MemHandle block;
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

  block = MemAlloc(MEM_MOVEABLE | MEM_ZEROINIT, 64);
  CHECK(block != NULL && MemSize(block) == 64);
  bytes = (unsigned char*)MemLock(block);
  CHECK(bytes != NULL && bytes[63] == 0);
  CHECK(MemUnlock(block) == 0);
  CHECK(MemFree(block) == NULL);
#ifndef _WIN32
  CHECK(MemSize(block) == 0); /* the library's registry knows a freed handle */
#endif

  printf("%d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
