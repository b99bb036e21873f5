/* OCRB_Init and OCRB_Done in a fresh process, timed from inside: what a program that reads
   one image pays before its first read. Prints the two times in microseconds; run it many
   times (bench/init_cold.sh) and take the median. */
#include <stdio.h>
#include <time.h>

#include "ocrb.h"

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

int main(void) {
  OCRB_HANDLE engine = NULL;
  double start = Now(), init, done;
  if (OCRB_Init("", "", &engine) != OCRB_STATUS_OK) {
    fprintf(stderr, "ocrb_init_cold: OCRB_Init failed\n");
    return 1;
  }
  init = Now();
  OCRB_Done(engine);
  done = Now();
  printf("%.0f %.0f\n", init - start, done - init);
  return 0;
}
