#!/usr/bin/env bash
# Sets up, builds and runs every test twice: once plainly, once built with AddressSanitizer
# and UndefinedBehaviorSanitizer (any report fails the run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

# The plain build includes the Python module; its pytest suite and the install test (a
# temporary prefix with a C and a C++ consumer) run as CTests.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCRB_BUILD_BENCH=ON \
  -DOCRB_BUILD_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The documented Python install, offline, into a throwaway virtual environment.
venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
CMAKE_BUILD_PARALLEL_LEVEL=$jobs "$venv/bin/python" -m pip install -q --no-build-isolation \
  --no-index .
root=$PWD
text=$(cd "$venv" && "$venv/bin/python" -c \
  "import ocrb; print(ocrb.Engine().read('$root/examples/coding-200dpi.bmp').text)")
[ "$text" = "$(cat examples/coding-200dpi.gt.txt)" ] || { echo "pip-installed ocrb read '$text'"; exit 1; }
(cd "$venv" && PYTHONDONTWRITEBYTECODE=1 "$venv/bin/python" -m pytest -q -p no:cacheprovider \
  "$root/python/tests")

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOCRB_SANITIZE=ON -DOCRB_BUILD_TOOLS=ON
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"
