#!/usr/bin/env bash
# Reads an evaluation set with ocrb, writes OUT/NAME.txt for every image and scores it.
#
#   scripts/eval.sh [SET] [OUT] [OCRB OPTION]...
#
# SET defaults to ../shared/eval/dev, OUT to build-cli/eval/<name of SET>. Every NAME.gt.txt in
# SET names an image: NAME.bmp, else NAME.png, .tif, .pbm, .jpg or .pdf (EXT=png picks one kind).
# The whole set goes through one ocrb process (JOBS threads, default 1); the seconds per image
# printed are its wall time divided by the number of images. A pages/ directory inside SET is
# read and scored the same way. Needs python3 with numpy for the scoring.
set -euo pipefail
# Debian's interpreter, whose numpy and PIL come from the archive; PYTHON overrides it.
python=${PYTHON:-$(command -v /usr/bin/python3 || command -v python3)}
root=$(cd "$(dirname "$0")/.." && pwd)
set_dir=$(cd "${1:-$root/../shared/eval/dev}" && pwd)
out=${2:-$root/build-cli/eval/$(basename "$set_dir")}
shift $(($# < 2 ? $# : 2))
build=${OCRB_BUILD_DIR:-$root/build-cli}
score=${SCORE:-$root/../shared/eval/score.py}
exts=${EXT:-bmp png tif tiff pbm jpg pdf}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target ocrb_cli -j 2 >/dev/null
ocrb=$build/tools/ocrb/ocrb

# read_set DIR DEST: reads and scores one directory.
read_set() {
  local dir=$1 dest=$2 files=() gt name e
  shift 2
  for gt in "$dir"/*.gt.txt; do
    name=${gt%.gt.txt}
    for e in $exts; do
      if [ -f "$name.$e" ]; then
        files+=("$name.$e")
        break
      fi
    done
  done
  if [ ${#files[@]} -eq 0 ]; then
    echo "eval.sh: no images with ground truth in $dir" >&2
    return 1
  fi
  rm -rf "$dest"
  mkdir -p "$dest"
  local start end status=0
  start=$(date +%s.%N)
  "$ocrb" -q -j "${JOBS:-1}" --output-dir "$dest" "$@" "${files[@]}" || status=$?
  end=$(date +%s.%N)
  # Exit status 2 (an unreadable image) still leaves the rest to score.
  if [ "$status" -ne 0 ] && [ "$status" -ne 2 ]; then return "$status"; fi
  "$python" "$score" "$dir" "$dest" --json "$dest/score.json" --name "$(basename "$dir")"
  "$python" -c 'import sys; n, s = int(sys.argv[1]), float(sys.argv[2]) - float(sys.argv[3]); print("  %d images in %.2f s: %.4f s/image" % (n, s, s / n))' \
    "${#files[@]}" "$end" "$start" | tee "$dest/seconds.txt"
}

read_set "$set_dir" "$out" "$@"
if [ -d "$set_dir/pages" ]; then read_set "$set_dir/pages" "$out/pages" "$@"; fi
