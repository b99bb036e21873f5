#!/usr/bin/env bash
# Sets up, builds the library and the ocrb reader, and reads the bundled examples. Arguments
# go to ocrb (for example --format tsv); without any, the output is also checked against the
# examples' ground truth.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# A build folder configured before keeps its options.
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build --target ocrb_cli -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
examples=(examples/coding-200dpi.bmp examples/block-300dpi.png examples/fax-200x100dpi.tif
  examples/slip-colour-300dpi.png examples/slip-colour-300dpi.jpg examples/pages-2.tif
  examples/letter.pdf examples/grey-no-dpi.png)
./build/tools/ocrb/ocrb "$@" "${examples[@]}"
if [ $# -eq 0 ]; then
  right=0
  for image in "${examples[@]}"; do
    if ./build/tools/ocrb/ocrb "$image" | cmp -s - "${image%.*}.gt.txt"; then
      right=$((right + 1))
    else
      echo "run.sh: $image was not read as ${image%.*}.gt.txt says" >&2
    fi
  done
  echo "$right of ${#examples[@]} examples read exactly as their ground truth says."
  [ "$right" -eq ${#examples[@]} ]
fi
