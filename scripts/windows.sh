#!/usr/bin/env bash
# Builds ocrb.dll for 64-bit and 32-bit Windows with Debian's MinGW-w64 and checks both:
#   1. installs what it needs from Debian when missing (what scripts/setup.sh installs for the
#      Linux build, and MinGW-w64, wine64, qemu-user, gcc-multilib, the GoogleTest sources);
#   2. cross-builds build-win64 and build-win32;
#   3. runs the x86-64 test suite with CTest under wine64;
#   4. checks the i686 DLL statically (exports, the argument bytes each __stdcall export
#      pops, imports, resources) and links a C program against each import library;
#   5. runs the test suite of a 32-bit Linux build (-m32) under qemu-i386;
#   6. reads images with ocrb_dump.exe (a host that loads ocrb.dll with LoadLibrary) under
#      wine64 and with the Linux ocrb_dump, and requires byte-identical output: the bundled
#      example and tests/data always, and the first OCRB_DEV_SCANS scans (default all) of
#      ../shared/eval/dev when that folder exists ("all" for every scan; 0 for none).
# Stages can be chosen: scripts/windows.sh [install] [build] [wine] [static] [m32] [compare]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] || jobs=2
dev_scans=${OCRB_DEV_SCANS:-all}
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(install build wine static m32 compare)

want() {
  local s
  for s in "${stages[@]}"; do [ "$s" = "$1" ] && return 0; done
  return 1
}

# Seconds since the start of the script, for the record of each stage.
start=$SECONDS
stage() { echo "== [$((SECONDS - start)) s] $*"; }

if want install; then
  stage "installing MinGW-w64, wine64, qemu-user, gcc-multilib, googletest"
  bash scripts/setup.sh  # the Linux build, which the comparison needs
  packages=(cmake make g++ gcc binutils mingw-w64 g++-mingw-w64-x86-64-posix
    g++-mingw-w64-i686-posix wine64 qemu-user gcc-multilib g++-multilib googletest)
  missing=()
  for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${missing[@]}"
  fi
fi

# wine keeps its own Windows installation; a private one under the build folder needs no
# display and leaves the user's alone.
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null 2>&1 && wine=$(command -v wine64)
export WINEPREFIX="$root/build-win64/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no prompts for .NET or Gecko
start_wine() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    stage "creating the wine prefix"
    mkdir -p "$WINEPREFIX"
    DISPLAY= "$wine" wineboot -i >/dev/null 2>&1 || true
  fi
}

if want build; then
  stage "cross-building for x86-64 Windows"
  cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-win64 -j "$jobs"
  stage "cross-building for i686 Windows"
  cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-win32 -j "$jobs"
  for dll in build-win64/ocrb.dll build-win32/ocrb.dll; do
    echo "$dll: $(stat -c %s "$dll") bytes"
  done
fi

if want wine; then
  start_wine
  stage "x86-64 test suite under wine64"
  ctest --test-dir build-win64 --output-on-failure -j "$jobs"
fi

if want static; then
  stage "i686 DLL: static checks"
  ctest --test-dir build-win32 --output-on-failure
  # The C test program linked against the i686 import library (decorated names) and against
  # the x86-64 one; the x86-64 program also ran in the suite above.
  for exe in build-win32/tests/ocrb_c_api_test.exe build-win64/tests/ocrb_c_api_test.exe; do
    [ -f "$exe" ] || { echo "missing $exe: the C program did not link"; exit 1; }
  done
fi

if want m32; then
  stage "32-bit Linux build, its test suite under qemu-i386"
  cmake -S . -B build-m32 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCRB_BUILD_TOOLS=OFF >/dev/null
  cmake --build build-m32 -j "$jobs"
  ctest --test-dir build-m32 --output-on-failure -j "$jobs"
fi

if want compare; then
  start_wine
  stage "ocrb_dump: ocrb.dll under wine64 against the Linux library"
  cmake -S . -B build >/dev/null
  cmake --build build -j "$jobs" --target ocrb_dump
  images=("$root/examples/coding-200dpi.bmp")
  if [ -d tests/data ]; then
    while IFS= read -r f; do images+=("$f"); done < <(find "$root/tests/data" -name '*.bmp' | sort)
  fi
  dev="$root/../shared/eval/dev"
  if [ "$dev_scans" != 0 ] && [ -d "$dev" ]; then
    count=0
    while IFS= read -r f; do
      if [ "$dev_scans" != all ] && [ "$count" -ge "$dev_scans" ]; then break; fi
      images+=("$f")
      count=$((count + 1))
    done < <(find "$dev" -maxdepth 1 -name '*.bmp' | sort)
    echo "comparing on ${#images[@]} images, $count of them from $dev"
  else
    echo "notice: $dev is absent (or OCRB_DEV_SCANS=0): comparing on the project's" \
      "${#images[@]} images only"
  fi
  out="$root/build-win64/compare"
  mkdir -p "$out"
  build/tools/ocrb_dump "${images[@]}" >"$out/linux.txt"
  "$wine" build-win64/ocrb_dump.exe "${images[@]}" >"$out/windows.txt"
  if cmp -s "$out/linux.txt" "$out/windows.txt"; then
    echo "identical: $(grep -c '^file ' "$out/linux.txt") images," \
      "$(stat -c %s "$out/linux.txt") bytes"
  else
    echo "Linux and Windows results differ:"
    diff "$out/linux.txt" "$out/windows.txt" | head -40
    exit 1
  fi
fi

stage "done"
