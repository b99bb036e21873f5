#!/usr/bin/env python3
"""What the errors of a read evaluation set are made of.

    python3 bench/errors.py SET_DIR OUT_DIR

OUT_DIR holds NAME.txt (and, for the calibration bins, NAME.conf) for every NAME.gt.txt of
SET_DIR, as `ocrb_readbmp -c -o OUT_DIR` writes them; SET_DIR/manifest.tsv gives each image's
level. Lines are paired by position, spaces dropped, and aligned by edit distance. Prints per
level the deletions, substitutions and insertions, the most frequent confusion pairs (with
their share of the level's characters), and the share of read characters that are right per
confidence bin.
"""
import collections
import csv
import os
import sys


def align(gt, hyp):
    """Edit operations turning gt into hyp: ('=', g, h), ('s', g, h), ('d', g, None), ('i', None, h)."""
    n, m = len(gt), len(hyp)
    d = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n + 1):
        d[i][0] = i
    for j in range(m + 1):
        d[0][j] = j
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (gt[i - 1] != hyp[j - 1]))
    ops, i, j = [], n, m
    while i > 0 or j > 0:
        if i > 0 and j > 0 and d[i][j] == d[i - 1][j - 1] + (gt[i - 1] != hyp[j - 1]):
            ops.append(("=" if gt[i - 1] == hyp[j - 1] else "s", gt[i - 1], hyp[j - 1], j - 1))
            i, j = i - 1, j - 1
        elif i > 0 and d[i][j] == d[i - 1][j] + 1:
            ops.append(("d", gt[i - 1], None, None))
            i -= 1
        else:
            ops.append(("i", None, hyp[j - 1], j - 1))
            j -= 1
    return ops[::-1]


def lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [l.rstrip("\n").replace(" ", "") for l in f]


def main():
    set_dir, out_dir = sys.argv[1], sys.argv[2]
    levels = {}
    manifest = os.path.join(set_dir, "manifest.tsv")
    if os.path.exists(manifest):
        with open(manifest) as f:
            for row in csv.DictReader(f, delimiter="\t"):
                levels[row["name"]] = row.get("level", "all")
    names = sorted(n[:-7] for n in os.listdir(set_dir) if n.endswith(".gt.txt"))
    ops_by = collections.defaultdict(collections.Counter)
    pairs_by = collections.defaultdict(collections.Counter)
    chars_by = collections.Counter()
    bins = collections.OrderedDict((b, [0, 0]) for b in ("<0.5", "0.5-0.8", "0.8-0.9", "0.9-0.99", ">=0.99"))
    for name in names:
        level = levels.get(name, "all")
        gt = [l for l in lines(os.path.join(set_dir, name + ".gt.txt"))]
        hyp = lines(os.path.join(out_dir, name + ".txt"))
        conf_path = os.path.join(out_dir, name + ".conf")
        confs = []
        if os.path.exists(conf_path):
            with open(conf_path) as f:
                confs = [[float(v) for v in l.split()] for l in f]
        text_lines = []
        if os.path.exists(os.path.join(out_dir, name + ".txt")):
            with open(os.path.join(out_dir, name + ".txt"), encoding="utf-8") as f:
                text_lines = [l.rstrip("\n") for l in f]
        for k in range(max(len(gt), len(hyp))):
            g = gt[k] if k < len(gt) else ""
            h = hyp[k] if k < len(hyp) else ""
            chars_by[level] += len(g)
            # The confidences of the line's characters without its spaces.
            raw = None
            if k < len(confs):
                if k < len(text_lines) and len(text_lines[k]) == len(confs[k]):
                    raw = [c for ch, c in zip(text_lines[k], confs[k]) if ch != " "]
            for op, a, b, j in align(g, h):
                ops_by[level][op] += 1
                if op == "s":
                    pairs_by[level][(a, b)] += 1
                if raw is not None and j is not None and op in "=si" and j < len(raw):
                    c = raw[j]
                    key = ("<0.5" if c < 0.5 else "0.5-0.8" if c < 0.8 else "0.8-0.9" if c < 0.9
                           else "0.9-0.99" if c < 0.99 else ">=0.99")
                    bins[key][0] += 1
                    bins[key][1] += op == "="
    for level in sorted(chars_by):
        o = ops_by[level]
        n = chars_by[level]
        errors = o["d"] + o["s"] + o["i"]
        print("%-6s chars=%d CER=%.4f deletions=%d substitutions=%d insertions=%d"
              % (level, n, errors / max(n, 1), o["d"], o["s"], o["i"]))
        top = pairs_by[level].most_common(5)
        if top:
            print("       confusions: " + ", ".join("%s->%s %d (%.3f %%)" % (a, b, c, 100.0 * c / n)
                                                  for (a, b), c in top))
    if any(v[0] for v in bins.values()):
        print("confidence bins (read characters, share right):")
        for key, (count, right) in bins.items():
            print("  %-9s %6d  %s" % (key, count, "%.2f %%" % (100.0 * right / count) if count else "-"))


if __name__ == "__main__":
    main()
