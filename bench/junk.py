#!/usr/bin/env python3
"""Junk on pages with ordinary text: what a reader prints that is not on the OCR-B lines.

    bench/junk.py PAGES OUT

PAGES holds NAME.gt.txt (the OCR-B lines of each page, as ocrb_train --write-pages writes
them); OUT holds NAME.txt and NAME.conf as ocrb_readbmp -c writes them, or NAME.txt alone
for a reader's text output. The read characters (spaces left out, lines joined) are aligned
with the true ones at least cost; read characters that align with nothing are junk. Prints
per page and in total: junk characters, junk at confidence 0.9 or more, and the OCR-B
characters lost or misread.
"""
import os
import sys


def align(truth, read):
    """Counts of (substituted, deleted, inserted positions in read) of a least-cost alignment."""
    n, m = len(truth), len(read)
    cost = [[0] * (m + 1) for _ in range(n + 1)]
    for j in range(m + 1):
        cost[0][j] = j
    for i in range(1, n + 1):
        row, up = cost[i], cost[i - 1]
        row[0] = i
        t = truth[i - 1]
        for j in range(1, m + 1):
            row[j] = min(up[j] + 1, row[j - 1] + 1, up[j - 1] + (t != read[j - 1]))
    subs = dels = 0
    inserted = []
    i, j = n, m
    while i > 0 or j > 0:
        if i > 0 and j > 0 and cost[i][j] == cost[i - 1][j - 1] + (truth[i - 1] != read[j - 1]):
            subs += truth[i - 1] != read[j - 1]
            i, j = i - 1, j - 1
        elif j > 0 and cost[i][j] == cost[i][j - 1] + 1:
            inserted.append(j - 1)
            j -= 1
        else:
            dels += 1
            i -= 1
    return subs, dels, inserted


def chars(lines):
    return [c for line in lines for c in line.replace(" ", "")]


def main():
    pages, out = sys.argv[1], sys.argv[2]
    names = sorted(f[:-7] for f in os.listdir(pages) if f.endswith(".gt.txt"))
    totals = [0, 0, 0, 0, 0]
    print(f"{'page':10} {'truth':>6} {'junk':>5} {'junk>=.9':>8} {'lost':>5}")
    for name in names:
        truth = chars(open(os.path.join(pages, name + ".gt.txt")).read().splitlines())
        text_path = os.path.join(out, name + ".txt")
        lines = open(text_path).read().splitlines() if os.path.exists(text_path) else []
        conf_path = os.path.join(out, name + ".conf")
        confidences = []
        if os.path.exists(conf_path):
            conf_lines = open(conf_path).read().splitlines()
            for line, conf in zip(lines, conf_lines):
                values = [float(v) for v in conf.split()]
                confidences += [v for c, v in zip(line, values) if c != " "]
        read = chars(lines)
        subs, dels, inserted = align(truth, read)
        sure = sum(1 for j in inserted if j < len(confidences) and confidences[j] >= 0.9)
        row = [len(truth), len(inserted), sure, subs + dels]
        print(f"{name:10} {row[0]:6d} {row[1]:5d} {row[2]:8d} {row[3]:5d}")
        for k, v in enumerate(row):
            totals[k] += v
        totals[4] += 1
    pages_read = max(1, totals[4])
    print(f"{'total':10} {totals[0]:6d} {totals[1]:5d} {totals[2]:8d} {totals[3]:5d}")
    print(f"per page: junk {totals[1] / pages_read:.1f}, junk at >= 0.9 "
          f"{totals[2] / pages_read:.1f}; OCR-B characters lost or misread "
          f"{100.0 * totals[3] / max(1, totals[0]):.2f} %")


if __name__ == "__main__":
    main()
