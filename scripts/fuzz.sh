#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ (fuzz/README.md).
#
#   scripts/fuzz.sh [seconds] [target...]   each target for that long (default 60 s; targets
#                                           default to all: read network model decode pdf)
#   scripts/fuzz.sh --merge [target...]     minimises each corpus (keeping the seeds)
#
# New inputs that reach new code go to fuzz/corpus/<target>/, so the corpus grows; with
# OCRB_FUZZ_GROW=0 (as CI runs it) they go to a scratch folder in the build directory and
# the source tree is left alone. Crashes, timeouts, leaks and out-of-memory inputs are saved
# under <build>/fuzz-artifacts/<target>/ and make the script fail; each line of the summary
# gives the target's speed, coverage (cov: edges, ft: features) and corpus.
#
# Environment: OCRB_FUZZ_BUILD, the build directory (default build-fuzz, configured with
# clang and OCRB_BUILD_FUZZ=ON when it has no cache yet); OCRB_FUZZ_JOBS, how many targets
# run at once (default 2, or 1 on a single core).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
all_targets=(read network model decode pdf)

merge=0
if [ "${1:-}" = "--merge" ]; then
  merge=1
  shift
fi
seconds=60
if [ $merge = 0 ] && [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [ -f "fuzz/${t}_fuzzer.cpp" ] || { echo "no fuzz target '$t' (have: ${all_targets[*]})"; exit 2; }
done

build=${OCRB_FUZZ_BUILD:-build-fuzz}
jobs=${OCRB_FUZZ_JOBS:-$(($(nproc 2>/dev/null || echo 1) > 1 ? 2 : 1))}
grow=${OCRB_FUZZ_GROW:-1}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCRB_BUILD_FUZZ=ON -DOCRB_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/ocrb_fuzz_}"

# The libFuzzer flags of a target: its "key = value" lines of fuzz/<target>.options.
flags_of() {
  sed -n 's/^\([a-z_]*\) *= *\(.*\)$/-\1=\2/p' "fuzz/$1.options" |
    sed "s|^-dict=|-dict=$root/fuzz/|"
}

# The largest input a committed corpus keeps besides its seeds: bitmaps and tables grow large,
# and these caps keep nearly all the coverage in a few megabytes.
keep_max() {
  case $1 in
    read) echo 8192 ;;
    model) echo 4096 ;;
    *) echo 1000000 ;;
  esac
}

if [ $merge = 1 ]; then
  for t in "${targets[@]}"; do
    corpus=fuzz/corpus/$t
    fresh=$(mktemp -d)
    small=$(mktemp -d)
    cp "$corpus"/seed-* "$fresh"/ 2>/dev/null || true
    find "$corpus" -type f ! -name 'seed-*' -size -"$(($(keep_max "$t") + 1))"c \
      -exec cp {} "$small"/ \;
    log=$build/merge-$t.log
    # shellcheck disable=SC2046
    "$build/fuzz/ocrb_fuzz_$t" -merge=1 $(flags_of "$t") "$fresh" "$small" >"$log" 2>&1 ||
      { echo "merging $t failed: $log"; tail -20 "$log"; exit 1; }
    before=$(find "$corpus" -type f | wc -l)
    rm -f "$corpus"/*
    cp "$fresh"/* "$corpus"/
    rm -rf "$fresh" "$small"
    # The coverage the corpus reaches on its own.
    # shellcheck disable=SC2046
    reached=$("$build/fuzz/ocrb_fuzz_$t" -runs=0 $(flags_of "$t") "$corpus" 2>&1 |
      sed -n 's/.*INITED \(cov: [0-9]* ft: [0-9]*\).*/\1/p')
    after=$(find "$corpus" -type f | wc -l)
    echo "$t: $before -> $after inputs, $(du -sh --apparent-size "$corpus" | cut -f1), $reached"
  done
  exit 0
fi

# Runs one target for $seconds in libFuzzer's fork mode, which keeps fuzzing past a slow input
# (saving it) instead of stopping at the first; its log goes to <build>/fuzz-logs/<target>.log.
run_one() {
  local t=$1 art=$root/$build/fuzz-artifacts/$t log=$root/$build/fuzz-logs/$t.log
  local corpora=("fuzz/corpus/$t")
  rm -rf "$art"
  mkdir -p "$art" "$(dirname "$log")"
  if [ "$grow" = 0 ]; then
    local scratch=$root/$build/fuzz-scratch/$t
    mkdir -p "$scratch"
    corpora=("$scratch" "fuzz/corpus/$t")
  fi
  # shellcheck disable=SC2046
  "$build/fuzz/ocrb_fuzz_$t" $(flags_of "$t") -fork=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="$seconds" -artifact_prefix="$art/" "${corpora[@]}" >"$log" 2>&1 || true
}

for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
  echo "fuzzing $t for $seconds s"
  run_one "$t" &
done
wait

# A crash, a sanitizer report or a leak fails the run. Inputs slower than the target's
# -timeout, or needing more memory than its -rss_limit_mb, are listed; they fail the run only
# with OCRB_FUZZ_STRICT=1 (reading is being bounded; fuzz/slow/ keeps the known ones).
failed=0
for t in "${targets[@]}"; do
  log=$build/fuzz-logs/$t.log
  art=$build/fuzz-artifacts/$t
  # The last progress line of fork mode: "#runs: cov: N ft: N corp: N exec/s N ...".
  line=$(grep -E '^#[0-9]+: cov:' "$log" | tail -1 || true)
  runs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' <<<"$line")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
  secs=$(sed -n 's/.* time: \([0-9]*\)s.*/\1/p' <<<"$line")
  execs=$([ -n "$runs" ] && [ "${secs:-0}" -gt 0 ] && echo $((runs / secs)) || echo "?")
  count=$(find "fuzz/corpus/$t" -type f | wc -l)
  size=$(du -sh --apparent-size "fuzz/corpus/$t" | cut -f1)
  printf '%-8s %7s execs/s  %9s runs  cov %5s  ft %6s  corpus %4s files %5s\n' \
    "$t" "$execs" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$count" "$size"
  crashes=$(find "$art" -type f \( -name 'crash-*' -o -name 'leak-*' \) | sort)
  slow=$(find "$art" -type f \( -name 'timeout-*' -o -name 'oom-*' \) | sort)
  if [ -z "$line" ] || [ -n "$crashes" ]; then
    failed=1
    echo "$t FAILED; log $log"
    [ -z "$crashes" ] || echo "$crashes" | sed 's/^/  reproducer: /'
    grep -E 'ERROR|SUMMARY|broken promise|runtime error' "$log" | head -10 | sed 's/^/  /' || true
  fi
  if [ -n "$slow" ]; then
    [ "${OCRB_FUZZ_STRICT:-0}" = 0 ] || failed=1
    echo "$t: inputs over the time or memory limit (see fuzz/README.md):"
    echo "$slow" | sed 's/^/  /'
  fi
done
exit $failed
