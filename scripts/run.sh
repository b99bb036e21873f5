#!/usr/bin/env bash
# Sets up, builds the library and tools, and runs the example program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
./build/tools/ocrb_demo "$@"
