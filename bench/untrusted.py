#!/usr/bin/env python3
"""Times ocrb on hostile files: exit status, wall seconds, the peak of the summed resident
memory of ocrb and every process below it (sampled every 10 ms from /proc), and GNU time's
maximum resident set size. Files come from build/bench/ocrb_untrusted_files DIR (bench/untrusted_files.cpp).

    python3 bench/untrusted.py [--cap SECONDS] OCRB DIR [OCRB OPTION...]

A run still going after --cap seconds (default 60) is killed and shown as such.
"""

from __future__ import annotations

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def tree_rss(root: int) -> int:
    """Resident kilobytes of Root and its descendants."""
    children: dict[int, list[int]] = {}
    rss: dict[int, int] = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ppid = int(fields[1])
            with open(f"/proc/{entry}/status") as f:
                kb = next((int(line.split()[1]) for line in f if line.startswith("VmRSS:")), 0)
        except (OSError, StopIteration, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(entry))
        rss[int(entry)] = kb
    total, stack = 0, [root]
    while stack:
        pid = stack.pop()
        total += rss.get(pid, 0)
        stack.extend(children.get(pid, []))
    return total


def run(ocrb: str, path: Path, options: list[str], cap: float) -> tuple[str, float, int, int]:
    with tempfile.NamedTemporaryFile("r") as report:
        command = ["/usr/bin/time", "-v", "-o", report.name, ocrb, "-q", *options, str(path)]
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   start_new_session=True)
        peak, killed = 0, False
        while process.poll() is None:
            peak = max(peak, tree_rss(process.pid))
            if time.monotonic() - start > cap:
                os.killpg(process.pid, signal.SIGKILL)
                killed = True
                process.wait()
                break
            time.sleep(0.01)
        wall = time.monotonic() - start
        err = process.stderr.read().decode(errors="replace").strip().splitlines()
        maxrss = 0
        status = "killed" if killed else "?"
        for line in report.read().splitlines():
            line = line.strip()
            if line.startswith("Maximum resident set size"):
                maxrss = int(line.rsplit(":", 1)[1])
            if line.startswith("Exit status:") and not killed:
                status = line.rsplit(":", 1)[1].strip()
        message = err[-1] if err else ""
        return f"{status} {message[:90]}", wall, peak, maxrss


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("ocrb")
    parser.add_argument("dir", type=Path)
    parser.add_argument("--cap", type=float, default=60)
    parser.add_argument("options", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    print(f"{'file':24} {'exit and message':60} {'wall s':>7} {'peak MB':>8} {'maxrss MB':>9}")
    for path in sorted(args.dir.iterdir()):
        if path.suffix.lower() not in (".pdf", ".jpg", ".png", ".tif", ".bmp"):
            continue
        outcome, wall, peak, maxrss = run(args.ocrb, path, args.options, args.cap)
        print(f"{path.name:24} {outcome:60} {wall:7.2f} {peak / 1024:8.0f} {maxrss / 1024:9.0f}",
              flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
