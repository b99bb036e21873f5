#!/usr/bin/env bash
# The soak test at full length: 10,000 reads of sound and damaged bitmaps (or as many as the
# first argument says), engines made and released every 50 reads, and the heap required to
# come back to the byte (tests/soak_test.cpp). The second argument names the build directory
# (default build; configured plainly when it has no cache yet); a sanitizer build measures
# with the sanitizer's own count instead of glibc's.
#   scripts/soak.sh [reads] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
reads=${1:-10000}
build=${2:-build}
jobs=$(nproc 2>/dev/null || echo 2)
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target ocrb_soak_tests
# glibc's per-thread cache off, so that its count of heap in use is exact.
GLIBC_TUNABLES=glibc.malloc.tcache_count=0 OCRB_SOAK_READS=$reads "$build/tests/ocrb_soak_tests"
