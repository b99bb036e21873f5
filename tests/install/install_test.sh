#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the prefix elsewhere, and there builds and
# runs two consumers (the C demo through pkg-config, a C++ program through find_package) and
# the installed ocrb. Each must print the text of the bundled BMP example; ocrb and the Python
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

# The C consumer, through pkg-config.
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name ocrb.pc)")
libdir=$(pkg-config --variable=libdir ocrb)
[ -f "$libdir/libocrb.so" ] || fail "pkg-config libdir $libdir holds no libocrb.so"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/demo" "$source/tools/demo/demo.c" \
  $(pkg-config --cflags --libs ocrb) -Wl,-rpath,"$libdir"
"$work/demo" "$example" >"$work/demo.out" || fail "the C consumer failed"
[ "$(head -n 1 "$work/demo.out")" = "$expected" ] || fail "C consumer read '$(head -n 1 "$work/demo.out")'"

# The C++ consumer, through the CMake package.
cmake -S "$source/tests/install" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cxx" >/dev/null
[ "$("$work/cxx/consumer" "$example")" = "$expected" ] || fail "C++ consumer output differs"

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
