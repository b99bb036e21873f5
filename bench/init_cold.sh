#!/usr/bin/env bash
# Medians of OCRB_Init and OCRB_Done in fresh processes: bench/init_cold.sh [RUNS] [BUILD]
set -euo pipefail
runs=${1:-101}
build=${2:-build-bench}
program=$build/bench/ocrb_init_cold
for _ in $(seq "$runs"); do "$program"; done | python3 -c '
import statistics, sys
rows = [tuple(map(float, line.split())) for line in sys.stdin]
print("OCRB_Init cold: median %.0f us, OCRB_Done: median %.0f us (%d runs)" % (
    statistics.median(r[0] for r in rows), statistics.median(r[1] for r in rows), len(rows)))'
