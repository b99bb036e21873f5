#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the prefix elsewhere, and there builds and
# runs the consumers (a C++ program of the engine through find_package, the C demo of the
# reader's C interface through pkg-config and through find_package) and the installed ocrb. Each must print the text of the bundled BMP example; ocrb and the Python
# package read the PNG example as well, through the decoder helper installed in libexec.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
example=$source/examples/coding-200dpi.bmp
expected=$(cat "$source/examples/coding-200dpi.gt.txt")

cmake --install "$build" --prefix "$work/first" >/dev/null
# A prefix that works only where it was installed is not relocatable: move it.
mv "$work/first" "$work/prefix"
prefix=$work/prefix

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

lib=$(find "$prefix" -name 'libocrb.so.*.*' | head -n 1)
[ -n "$lib" ] || fail "no versioned libocrb.so installed"
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[ "$soname" = "libocrb.so.0" ] || fail "SONAME is '$soname'"
[ -f "$prefix/include/ocrb.h" ] || fail "ocrb.h not installed"
[ -f "$prefix/share/man/man1/ocrb.1" ] || fail "man page not installed"

# A C consumer of the engine alone, through pkg-config.
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name ocrb.pc)")
libdir=$(pkg-config --variable=libdir ocrb)
[ -f "$libdir/libocrb.so" ] || fail "pkg-config libdir $libdir holds no libocrb.so"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/readbmp" "$source/tools/readbmp/readbmp.c" \
  $(pkg-config --cflags --libs ocrb) -Wl,-rpath,"$libdir"
"$work/readbmp" "$example" >"$work/readbmp.out" || fail "the C consumer failed"
[ "$(head -n 1 "$work/readbmp.out")" = "$expected" ] ||
  fail "C consumer read '$(head -n 1 "$work/readbmp.out")'"

# The C++ consumer, through the CMake package, which also gives the reader's C interface to
# the demo.
cmake -S "$source/tests/install" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DOCRB_DEMO_SOURCE="$source/tools/demo/demo.c" >/dev/null
cmake --build "$work/cxx" >/dev/null
[ "$("$work/cxx/consumer" "$example")" = "$expected" ] || fail "C++ consumer output differs"

# The reader's C interface: its library, header and pkg-config file, and the demo built
# through pkg-config alone. Files by path, a JPEG from memory and an RGB pixel buffer must each
# give what the installed ocrb -f json gives for the same file.
reader_lib=$(find "$prefix" -name 'libocrb_reader.so.*.*' | head -n 1)
[ -n "$reader_lib" ] || fail "no versioned libocrb_reader.so installed"
soname=$(objdump -p "$reader_lib" | awk '/SONAME/ {print $2}')
[ "$soname" = "libocrb_reader.so.0" ] || fail "the reader's SONAME is '$soname'"
[ -f "$prefix/include/ocrb_reader.h" ] || fail "ocrb_reader.h not installed"
pkg-config --exists ocrb_reader || fail "pkg-config finds no ocrb_reader"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/demo" "$source/tools/demo/demo.c" \
  $(pkg-config --cflags --libs ocrb_reader) -Wl,-rpath,"$libdir"
slip=$source/examples/slip-colour-300dpi.png
files=("$slip" "$source/examples/pages-2.tif" "$source/examples/letter.pdf")
same() {
  ${OCRB_PYTHON:-python3} "$source/tests/install/same_json.py" "$@" || fail "$* differ"
}
env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" -f json "${files[@]}" >"$work/ocrb-files.json" ||
  fail "the installed ocrb failed on the examples"
"$work/demo" "${files[@]}" >"$work/demo-files.json" || fail "the demo failed on the examples"
same "$work/ocrb-files.json" "$work/demo-files.json"
jpeg=$source/examples/slip-colour-300dpi.jpg
env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" -f json --line best "$jpeg" >"$work/ocrb-jpeg.json"
"$work/demo" --best --memory "$jpeg" >"$work/demo-jpeg.json" || fail "the demo failed on memory"
same "$work/ocrb-jpeg.json" "$work/demo-jpeg.json"
grep -q '"ok": true' "$work/demo-jpeg.json" || fail "the JPEG's coding line does not check out"
# RGB pixels: the colour slip as a binary PPM, which the demo hands over as a pixel buffer.
${OCRB_PYTHON:-python3} -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).convert("RGB").save(sys.argv[2])' "$slip" "$work/slip.ppm" ||
  fail "cannot make the PPM"
env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" -f json "$work/slip.ppm" >"$work/ocrb-ppm.json"
"$work/demo" --pixels "$work/slip.ppm" >"$work/demo-ppm.json" || fail "the demo failed on pixels"
same "$work/ocrb-ppm.json" "$work/demo-ppm.json"
# The same demo built through the CMake package's ocrb::ocrb_reader.
"$work/cxx/demo" "$slip" >"$work/cmake-demo.json" || fail "the CMake-built demo failed"
env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" -f json "$slip" >"$work/ocrb-slip.json"
same "$work/ocrb-slip.json" "$work/cmake-demo.json"

# The README's blocks that need an installed prefix, with ~/.local standing for this one.
${OCRB_PYTHON:-python3} "$source/scripts/readme.py" --build "$build" --prefix "$prefix" \
  >"$work/readme.out" 2>&1 || { cat "$work/readme.out" >&2; fail "a README block failed"; }

# ocrb from the moved prefix: its run path is relative to itself, never the build folder.
runpath=$(objdump -p "$prefix/bin/ocrb" | awk '/RUNPATH|RPATH/ {print $2}')
case "$runpath" in
  *'$ORIGIN'*) ;;
  *) fail "ocrb's run path is '$runpath'" ;;
esac
case "$runpath" in *"$build"*) fail "ocrb's run path names the build folder" ;; esac
[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" "$example")" = "$expected" ] ||
  fail "the installed ocrb read something else"
# A PNG is decoded by the helper, which ocrb finds in the prefix's libexec folder.
helper=$prefix/libexec/ocrb/ocrb-decode
[ -x "$helper" ] || fail "the decoder helper is not installed at $helper"
png=$source/examples/block-300dpi.png
png_text=$(cat "$source/examples/block-300dpi.gt.txt")
[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" "$png")" = "$png_text" ] ||
  fail "the installed ocrb cannot read a PNG"
# Without the helper a BMP is still read, and a PNG fails as an environment error (exit 1)
# that names what is missing.
mv "$helper" "$work/"
[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" "$example")" = "$expected" ] ||
  fail "ocrb without its helper cannot read a BMP"
status=0
message=$(env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" "$png" 2>&1) || status=$?
[ "$status" = 1 ] || fail "ocrb without its helper exits $status on a PNG"
case "$message" in
  *"cannot find the image decoder ocrb-decode"*) ;;
  *) fail "ocrb without its helper says '$message'" ;;
esac
mv "$work/ocrb-decode" "$helper"
# The overlay needs the module of in-process services, which ocrb finds beside libocrb;
# without it the rest still works and the overlay fails as an environment error.
mv "$(find "$prefix" -name libocrb_decode.so)" "$work/"
[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" "$png")" = "$png_text" ] ||
  fail "ocrb without its module cannot read a PNG"
status=0
message=$(env -u LD_LIBRARY_PATH "$prefix/bin/ocrb" --overlay "$work/seen.png" "$png" 2>&1) ||
  status=$?
[ "$status" = 1 ] || fail "ocrb without its module exits $status on an overlay"
case "$message" in
  *"cannot load the image decoders"*libocrb_decode.so*) ;;
  *) fail "ocrb without its module says '$message'" ;;
esac
mv "$work/libocrb_decode.so" "$(dirname "$lib")/"
# The Python package, when it was built, imports from the moved prefix and reads.
package=$(find "$prefix" -path '*/ocrb/__init__.py' | head -n 1)
if [ -n "$package" ]; then
  text=$(PYTHONPATH=$(dirname "$(dirname "$package")") PYTHONDONTWRITEBYTECODE=1 \
    ${OCRB_PYTHON:-python3} -c 'import ocrb, sys; print(ocrb.Engine().read(sys.argv[1]).text)' "$example")
  [ "$text" = "$expected" ] || fail "the installed Python package read '$text'"
  # A PNG goes through the helper in the prefix's libexec folder.
  text=$(PYTHONPATH=$(dirname "$(dirname "$package")") PYTHONDONTWRITEBYTECODE=1 \
    ${OCRB_PYTHON:-python3} -c 'import ocrb, sys; print(ocrb.Engine().read(sys.argv[1]).text)' "$png")
  [ "$text" = "$png_text" ] || fail "the installed Python package read '$text' from the PNG"
fi
echo "install test passed"
