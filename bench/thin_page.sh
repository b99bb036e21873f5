#!/usr/bin/env bash
# The cost of a full page of thin, blurred print: 30 lines at 300 dpi, stroke weight 0.55,
# blur sigma 2 pixels, binarised at 0.37 of the coverage, with the specks and noise of a heavy
# scan. Most characters fall apart into pieces there, so every broken-print step runs on most
# of the page. Made by the trainer, then read in-process by ocrb_worst_case (the time of one
# read, best of several).
#
#   bench/thin_page.sh [BUILD]     (BUILD defaults to build-bench, configured with
#                                   -DOCRB_BUILD_BENCH=ON; needs ocrb_train and ocrb_worst_case)
set -euo pipefail
build=${1:-build-bench}
page=$(mktemp -d)
trap 'rm -rf "$page"' EXIT
"$build/tools/ocrb_train" --write-pages "$page" --pages 1 --seed 903 --other-text 0 \
  --extra-heavy 1 --page-dpi 300 --page-lines 30 --page-weight 0.55 --page-blur 2 \
  --page-threshold 0.37 >/dev/null 2>&1
"$build/bench/ocrb_worst_case" --files "$page/p0000.bmp"
