#!/usr/bin/env bash
# Sets up, builds and runs every test twice: once plainly with GCC, once built with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer (any report fails the run) in the build that
# also makes the fuzz targets, which then run for a minute each. Then the thread tests under
# ThreadSanitizer (GCC). The soak test runs in both full suites.
#
# Its build folders are its own (build-test, build-fuzz, build-tsan), apart from the build/
# that scripts/run.sh and the README use, so neither run disturbs the other. The pip install
# packs the module and libraries build-test already holds rather than compiling them again,
# and every compile goes through ccache when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
# Seconds since the start of the script, for the record of each stage.
start=$SECONDS
stage() { echo "== [$((SECONDS - start)) s] $*"; }

stage "GCC build and tests"
# The plain build includes the Python module; its pytest suite and the install test (a
# temporary prefix with the consumers of both C interfaces, and the README's blocks that need
# a prefix) run as CTests.
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCRB_BUILD_BENCH=ON \
  -DOCRB_BUILD_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build-test -j "$jobs"
ctest --test-dir build-test --output-on-failure -j "$jobs"

stage "README"
# Every block of README.md runs as written, in a copy of the tree where build/ stands for
# build-test (the blocks that need an installed prefix ran in the install test; those marked
# to skip say why).
/usr/bin/python3 scripts/readme.py --build build-test

stage "pip install"
# The documented Python install, offline, into a throwaway virtual environment, from the
# module and libraries of build-test (built for the same interpreter).
venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
CMAKE_BUILD_PARALLEL_LEVEL=$jobs OCRB_CMAKE_BUILD_DIR=$PWD/build-test \
  "$venv/bin/python" -m pip install -q --no-build-isolation --no-index .
root=$PWD
text=$(cd "$venv" && "$venv/bin/python" -c \
  "import ocrb; print(ocrb.Engine().read('$root/examples/coding-200dpi.bmp').text)")
[ "$text" = "$(cat examples/coding-200dpi.gt.txt)" ] || { echo "pip-installed ocrb read '$text'"; exit 1; }
(cd "$venv" && PYTHONDONTWRITEBYTECODE=1 "$venv/bin/python" -m pytest -q -p no:cacheprovider \
  "$root/python/tests")

stage "clang sanitizer build and tests"
# clang with AddressSanitizer, UndefinedBehaviorSanitizer and the fuzzers' coverage counters:
# the whole suite (the fuzz corpora replayed among it), then each fuzz target for 60 s, its
# new inputs kept out of the source tree.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCRB_BUILD_FUZZ=ON -DOCRB_BUILD_TESTS=ON \
  -DOCRB_BUILD_TOOLS=ON
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -j "$jobs"
stage "fuzzing"
OCRB_FUZZ_BUILD=build-fuzz OCRB_FUZZ_GROW=0 bash scripts/fuzz.sh 60

stage "ThreadSanitizer build and thread tests"
# ThreadSanitizer: two engine handles on two threads against one thread's results, and two
# readers of the reader's C interface on two threads.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCRB_SANITIZE_THREAD=ON \
  -DOCRB_BUILD_TOOLS=ON
cmake --build build-tsan -j "$jobs" --target ocrb_threads_tests ocrb_reader_c_test
ctest --test-dir build-tsan --output-on-failure -R '^(Threads|ReaderCApi)\.'
stage "done"
