#!/usr/bin/env python3
"""Confidence calibration of a read evaluation set.

    python3 bench/calibration.py GT_DIR OUT_DIR

OUT_DIR holds NAME.txt and NAME.conf for every image (ocrb_readbmp -c -o OUT_DIR ...).
Each output line is paired with the ground-truth line of the same position, spaces are
dropped, and the characters are aligned by edit distance; a read character is right when
the alignment matches it to the same character. Prints, per confidence bin, how many
characters were read and the share that is right, and the most common confusions.
"""
import collections
import os
import sys


def align(gt, hyp):
    """For each character of hyp, whether the optimal alignment matches it to gt."""
    n, m = len(gt), len(hyp)
    d = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n + 1):
        d[i][0] = i
    for j in range(m + 1):
        d[0][j] = j
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (gt[i - 1] != hyp[j - 1]))
    right = [False] * m
    pairs = []
    i, j = n, m
    while i > 0 and j > 0:
        if d[i][j] == d[i - 1][j - 1] + (gt[i - 1] != hyp[j - 1]):
            right[j - 1] = gt[i - 1] == hyp[j - 1]
            if gt[i - 1] != hyp[j - 1]:
                pairs.append((gt[i - 1], hyp[j - 1]))
            i, j = i - 1, j - 1
        elif d[i][j] == d[i][j - 1] + 1:
            j -= 1
        else:
            i -= 1
    return right, pairs


def main():
    gt_dir, out_dir = sys.argv[1], sys.argv[2]
    bins = [(0.9, 1.01, "0.9 and up"), (0.8, 0.9, "0.8 to 0.9"), (0.5, 0.8, "0.5 to 0.8"),
            (-1.0, 0.5, "below 0.5")]
    counts = collections.Counter()
    rights = collections.Counter()
    confusions = collections.Counter()
    for name in sorted(os.listdir(out_dir)):
        if not name.endswith(".txt"):
            continue
        stem = name[:-4]
        gt_path = os.path.join(gt_dir, stem + ".gt.txt")
        conf_path = os.path.join(out_dir, stem + ".conf")
        if not os.path.exists(gt_path) or not os.path.exists(conf_path):
            continue
        gt_lines = [l for l in open(gt_path).read().split("\n") if l.strip()]
        out_lines = open(os.path.join(out_dir, name)).read().split("\n")
        conf_lines = open(conf_path).read().split("\n")
        for k, line in enumerate(out_lines):
            if not line.strip():
                continue
            confs = [float(c) for c in conf_lines[k].split()] if k < len(conf_lines) else []
            chars = [(c, confs[i]) for i, c in enumerate(line) if c != " " and i < len(confs)]
            gt = gt_lines[k].replace(" ", "") if k < len(gt_lines) else ""
            right, pairs = align(gt, "".join(c for c, _ in chars))
            confusions.update(pairs)
            for (c, conf), ok in zip(chars, right):
                for low, high, label in bins:
                    if low <= conf < high:
                        counts[label] += 1
                        rights[label] += ok
    print("| confidence | characters | right |")
    print("|---|---|---|")
    for _, _, label in bins:
        n = counts[label]
        print("| %s | %d | %s |" % (label, n, "%.2f %%" % (100.0 * rights[label] / n) if n else "-"))
    print("\nconfusions (truth read as):")
    for (g, h), n in confusions.most_common(12):
        print("  %s -> %s: %d" % (g, h, n))


if __name__ == "__main__":
    main()
