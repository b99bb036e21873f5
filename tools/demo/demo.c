/* A minimal host of the library in plain C: creates an engine, sets a parameter, prints
   the (empty) result store and releases the engine. */
#include <stdio.h>

#include "ocrb.h"

int main(void) {
  OCRB_HANDLE engine = NULL;
  int32_t status = OCRB_Init("", "", &engine);
  int32_t count = 0, line;
  if (status != OCRB_STATUS_OK) {
    fprintf(stderr, "ocrb_demo: engine start-up failed with status %d\n", (int)status);
    return 1;
  }
  status = OCRB_SetParameter(engine, OCRB_PARAM_SPACE_WIDTH, OCRB_DEFAULT_SPACE_WIDTH);
  printf("set space width: status %d\n", (int)status);
  OCRB_ResultLinesCount(engine, &count);
  printf("lines in the result: %d\n", (int)count);
  for (line = 0; line < count; ++line) {
    char text[OCRB_MAX_LINE_LENGTH + 1];
    if (OCRB_ResultLineChars(engine, line, text) == OCRB_STATUS_OK) printf("%s\n", text);
  }
  status = OCRB_Done(engine);
  printf("released: status %d\n", (int)status);
  return status == OCRB_STATUS_OK ? 0 : 1;
}
