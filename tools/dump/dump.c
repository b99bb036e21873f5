/* ocrb_dump: reads 1-bit BMP files through the nine C functions and prints every bit of each
   result, so that two builds of the engine can be compared byte for byte.
     ocrb_dump [-l LIBRARY] FILE.bmp...
   For every file: "file NAME" (the name without directories), "status S lines N", then per
   line "line I length L text" and per character "  K C CONFIDENCE LEFT TOP RIGHT BOTTOM" with
   the confidence as the hexadecimal bit pattern of the float. Output uses "\n" line ends on
   every platform.

   On Windows the program is a host of ocrb.dll as any other: it loads the library with
   LoadLibrary (LIBRARY, by default ocrb.dll beside the program), finds the nine functions by
   their plain names with GetProcAddress and hands each bitmap over in a GMEM_MOVEABLE block
   of GlobalAlloc. Elsewhere it links the shared library and uses its movable memory. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ocrb.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
typedef HGLOBAL MemHandle;
#define MemAlloc(bytes) GlobalAlloc(GMEM_MOVEABLE, (bytes))
#define MemLock GlobalLock
#define MemUnlock GlobalUnlock
#define MemFree GlobalFree
#else
typedef OCRB_HGLOBAL MemHandle;
#define MemAlloc(bytes) OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, (bytes))
#define MemLock OCRB_GlobalLock
#define MemUnlock OCRB_GlobalUnlock
#define MemFree OCRB_GlobalFree
#endif

/* The nine functions, as a host that loads the library at run time sees them. */
typedef struct Api {
  int32_t(OCRB_CALL* Init)(const char*, const char*, OCRB_HANDLE*);
  int32_t(OCRB_CALL* Done)(OCRB_HANDLE);
  int32_t(OCRB_CALL* SetParameter)(OCRB_HANDLE, int32_t, int32_t);
  int32_t(OCRB_CALL* Read)(OCRB_HANDLE, void*, int32_t);
  int32_t(OCRB_CALL* ResultLinesCount)(OCRB_HANDLE, int32_t*);
  int32_t(OCRB_CALL* ResultLineLength)(OCRB_HANDLE, int32_t, int32_t*);
  int32_t(OCRB_CALL* ResultLineChars)(OCRB_HANDLE, int32_t, char*);
  int32_t(OCRB_CALL* ResultLineConfidences)(OCRB_HANDLE, int32_t, float*);
  int32_t(OCRB_CALL* ResultLineRects)(OCRB_HANDLE, int32_t, TRect*);
} Api;

#ifdef _WIN32
/* Each function by its undecorated name; the address is converted through an integer
   because ISO C has no conversion between object and function pointers. */
#define FIND(field, name)                                                                          \
  do {                                                                                             \
    FARPROC proc = GetProcAddress(library, name);                                                  \
    if (proc == NULL) {                                                                            \
      fprintf(stderr, "ocrb_dump: %s has no export %s\n", path, name);                             \
      return 0;                                                                                    \
    }                                                                                              \
    memcpy(&api->field, &proc, sizeof proc < sizeof api->field ? sizeof proc : sizeof api->field); \
  } while (0)

static int LoadApi(const char* path, Api* api) {
  HMODULE library = LoadLibraryA(path);
  if (library == NULL) {
    fprintf(stderr, "ocrb_dump: cannot load %s (error %lu)\n", path, GetLastError());
    return 0;
  }
  FIND(Init, "OCRB_Init");
  FIND(Done, "OCRB_Done");
  FIND(SetParameter, "OCRB_SetParameter");
  FIND(Read, "OCRB_Read");
  FIND(ResultLinesCount, "OCRB_ResultLinesCount");
  FIND(ResultLineLength, "OCRB_ResultLineLength");
  FIND(ResultLineChars, "OCRB_ResultLineChars");
  FIND(ResultLineConfidences, "OCRB_ResultLineConfidences");
  FIND(ResultLineRects, "OCRB_ResultLineRects");
  return 1; /* the library stays loaded until the process ends */
}
#else
static int LoadApi(const char* path, Api* api) {
  (void)path;
  api->Init = OCRB_Init;
  api->Done = OCRB_Done;
  api->SetParameter = OCRB_SetParameter;
  api->Read = OCRB_Read;
  api->ResultLinesCount = OCRB_ResultLinesCount;
  api->ResultLineLength = OCRB_ResultLineLength;
  api->ResultLineChars = OCRB_ResultLineChars;
  api->ResultLineConfidences = OCRB_ResultLineConfidences;
  api->ResultLineRects = OCRB_ResultLineRects;
  return 1;
}
#endif

/* The packed DIB behind the 14-byte file header, in a movable block; NULL on failure. */
static MemHandle LoadDib(const char* path) {
  FILE* file = fopen(path, "rb");
  long size = 0;
  MemHandle block = NULL;
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (size = ftell(file)) > 14 &&
      fseek(file, 14, SEEK_SET) == 0) {
    block = MemAlloc((size_t)(size - 14));
    if (block != NULL) {
      void* bytes = MemLock(block);
      size_t got = bytes ? fread(bytes, 1, (size_t)(size - 14), file) : 0;
      MemUnlock(block);
      if (got != (size_t)(size - 14)) {
        MemFree(block);
        block = NULL;
      }
    }
  }
  fclose(file);
  return block;
}

static const char* BaseName(const char* path) {
  const char* base = path;
  const char* p;
  for (p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

static void DumpResult(const Api* api, OCRB_HANDLE engine) {
  int32_t count = 0, line, k;
  api->ResultLinesCount(engine, &count);
  printf("lines %d\n", (int)count);
  for (line = 0; line < count; ++line) {
    char text[OCRB_MAX_LINE_LENGTH + 1];
    float confidences[OCRB_MAX_LINE_LENGTH];
    TRect rects[OCRB_MAX_LINE_LENGTH];
    int32_t length = 0;
    if (api->ResultLineLength(engine, line, &length) != OCRB_STATUS_OK ||
        api->ResultLineChars(engine, line, text) != OCRB_STATUS_OK ||
        api->ResultLineConfidences(engine, line, confidences) != OCRB_STATUS_OK ||
        api->ResultLineRects(engine, line, rects) != OCRB_STATUS_OK) {
      printf("line %d unreadable\n", (int)line);
      continue;
    }
    printf("line %d length %d %s\n", (int)line, (int)length, text);
    for (k = 0; k < length; ++k) {
      uint32_t bits;
      memcpy(&bits, &confidences[k], sizeof bits);
      printf("  %d %c %08lx %ld %ld %ld %ld\n", (int)k, text[k], (unsigned long)bits,
             (long)rects[k].Left, (long)rects[k].Top, (long)rects[k].Right, (long)rects[k].Bottom);
    }
  }
}

int main(int argc, char** argv) {
  const char* library = "ocrb.dll";
  OCRB_HANDLE engine = NULL;
  Api api;
  int failures = 0, i;
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY); /* the same bytes as elsewhere: no "\r\n" */
#endif
  if (argc > 2 && strcmp(argv[1], "-l") == 0) {
    library = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (!LoadApi(library, &api)) return 3;
  if (api.Init("", "", &engine) != OCRB_STATUS_OK) {
    fprintf(stderr, "ocrb_dump: engine start-up failed\n");
    return 3;
  }
  for (i = 1; i < argc; ++i) {
    MemHandle dib = LoadDib(argv[i]);
    int32_t status;
    printf("file %s\n", BaseName(argv[i]));
    if (dib == NULL) {
      fprintf(stderr, "ocrb_dump: %s: cannot read\n", argv[i]);
      printf("unreadable\n");
      ++failures;
      continue;
    }
    status = api.Read(engine, dib, 0);
    MemFree(dib);
    printf("status %d ", (int)status);
    if (status != OCRB_STATUS_OK) ++failures;
    DumpResult(&api, engine);
  }
  api.Done(engine);
  fflush(stdout);
  return failures == 0 ? 0 : 2;
}
