#!/usr/bin/env python3
"""How the junk rule, --line best and the check digits do on an evaluation set and on pages
of ordinary print above a coding line.

    python3 bench/lines.py SET_DIR [--mixed N] [--seed S] [--keep DIR]

SET_DIR holds NAME.bmp (or .png) with NAME.gt.txt, as an evaluation set does (a pages/
directory inside it is read too). Every image is read with `ocrb -f json` (OCRB names the
program, default build/tools/ocrb/ocrb) and each read line is paired with the ground-truth
line it is nearest to (edit distance over the line's length, spaces removed; a pair needs
less than half the line wrong). Printed:

  - lines the junk rule drops, and of those the ones paired with a true line (must be 0);
  - the true lines of the Swiss payment slip's layout, and the share whose check digits
    hold (computed here, with the table written out as rows, not by the reader);
  - of the engine's lines paired with such a line: the share whose check digits hold, the
    share that hold and read right, and any that hold but read wrong (an error the check
    digits missed).

With --mixed N, N pages are rendered (PIL with DejaVu Sans, Serif, Sans Mono and OCR-B from
fonts-dejavu-core and fonts-ocr-b): two to eight lines of ordinary print with words, dates,
amounts and postal codes, at 8 to 14 pt, above a coding line whose check digits hold, at
200 or 300 dpi, half of them blurred and thresholded. Printed: the lines of print the junk
rule drops, coding lines it drops (must be 0), and how often --line best returns the coding
line. Same seed, same pages.
"""
from __future__ import annotations

import argparse
import glob
import json
import os
import random
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OCRB = os.environ.get("OCRB", os.path.join(ROOT, "build", "tools", "ocrb", "ocrb"))

ROWS = ["0946827135", "9468271350", "4682713509", "6827135094", "8271350946",
        "2713509468", "7135094682", "1350946827", "3509468271", "5094682713"]


def check_digit(digits: str) -> str:
    carry = 0
    for d in digits:
        carry = int(ROWS[carry][int(d)])
    return str((10 - carry) % 10)


def holds(field: str) -> bool:
    return field.isdigit() and check_digit(field[:-1]) == field[-1]


def slip_fields(text: str) -> list[str] | None:
    """The three fields of a slip coding line (spaces removed), or None."""
    s = text.replace(" ", "")
    for length, first, plus in ((52, 13, 41), (42, 3, 31)):
        if len(s) == length and s[first] == ">" and s[plus] == "+" and s[-1] == ">":
            fields = [s[:first], s[first + 1:plus], s[plus + 1:-1]]
            if all(f.isdigit() for f in fields):
                return fields
    return None


def distance(a: str, b: str) -> int:
    prev = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        cur = [i]
        for j, cb in enumerate(b, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ca != cb)))
        prev = cur
    return prev[-1]


def read(files: list[str], *args: str) -> list[dict]:
    out = subprocess.run([OCRB, "-q", "-f", "json", *args, *files], capture_output=True,
                         text=True, check=False)
    if out.returncode not in (0, 2):
        sys.exit(f"ocrb failed: {out.stderr}")
    return json.loads(out.stdout)["files"]


def truth(image: str) -> list[str]:
    with open(os.path.splitext(image)[0] + ".gt.txt") as f:
        return [line for line in f.read().split("\n") if line.strip()]


def pair(text: str, truths: list[str]) -> tuple[str | None, float]:
    """The true line nearest Text and the share of it that differs."""
    t = text.replace(" ", "")
    best, share = None, 1.0
    for g in truths:
        gg = g.replace(" ", "")
        d = distance(t, gg) / max(1, len(gg))
        if d < share:
            best, share = g, d
    return best, share


def images(set_dir: str) -> list[str]:
    found = []
    for d in (set_dir, os.path.join(set_dir, "pages")):
        for gt in sorted(glob.glob(os.path.join(d, "*.gt.txt"))):
            stem = gt[: -len(".gt.txt")]
            for ext in (".bmp", ".png"):
                if os.path.exists(stem + ext):
                    found.append(stem + ext)
                    break
    return found


def measure_set(set_dir: str) -> None:
    files = images(set_dir)
    lines = dropped = dropped_true = 0
    slips = slips_holding = 0
    read_slips = read_holding = read_right = missed = 0
    for f in read(files):
        truths = truth(f["file"])
        for g in truths:
            fields = slip_fields(g)
            if fields is not None:
                slips += 1
                slips_holding += all(holds(x) for x in fields)
        for page in f["pages"]:
            for line in page["lines"]:
                lines += 1
                near, share = pair(line["text"], truths)
                paired = near is not None and share < 0.5
                if line["junk"]:
                    dropped += 1
                    if paired:
                        dropped_true += 1
                        print(f"  dropped true line: {f['file']}: {line['text']!r}")
                if paired and slip_fields(near) is not None:
                    read_slips += 1
                    ok = line["check"] is not None and line["check"]["ok"]
                    right = line["text"].replace(" ", "") == near.replace(" ", "")
                    read_holding += ok
                    read_right += ok and right
                    if ok and not right:
                        missed += 1
                        print(f"  check digits hold on a misread line: {f['file']}: "
                              f"{line['text']!r} for {near!r}")
    print(f"{set_dir}: {len(files)} images, {lines} lines read")
    print(f"  junk rule drops {dropped} lines, {dropped_true} of them true lines")
    print(f"  true slip coding lines: {slips}, check digits hold on {slips_holding} "
          f"({100 * slips_holding / max(1, slips):.1f} %)")
    print(f"  read lines paired with them: {read_slips}; check digits hold on {read_holding} "
          f"({100 * read_holding / max(1, read_slips):.1f} %), of which read right "
          f"{read_right}; hold on a misread line: {missed}")


WORDS = """the of and to in is for on that with as by at from this be are or an it was which
payment slip account invoice reference amount due date please pay within thirty days customer
number address street city postal code thank you for your order receipt paid transfer bank
Zahlteil Empfangsschein Konto Zahlbar durch Referenz Betrag Währung Rechnung Datum Kunde
Strasse Postfach Bern Zürich Genève Lausanne facture montant payable par compte référence
Monsieur Madame Herr Frau Ltd GmbH SA AG Nr. Tel. total net VAT MwSt TVA""".split()
FONTS = "/usr/share/fonts/truetype/dejavu/"
OCRB_FONT = "/usr/share/fonts/opentype/ocr-b/OCRB.otf"


def sentence(r: random.Random) -> str:
    words = [r.choice(WORDS) for _ in range(r.randint(3, 12))]
    if r.random() < 0.4:
        words.insert(r.randrange(len(words) + 1), str(r.randint(1000, 9999)))
    if r.random() < 0.3:
        words.insert(r.randrange(len(words) + 1),
                     f"{r.randint(1, 28):02d}.{r.randint(1, 12):02d}.{r.randint(2015, 2030)}")
    if r.random() < 0.3:
        at = r.randrange(len(words) + 1)
        words.insert(at, f"CHF {r.randint(1, 9999)}.{r.randint(0, 99):02d}")
    s = " ".join(words)
    return s[0].upper() + s[1:]


def coding_line(r: random.Random) -> str:
    def digits(n: int) -> str:
        return "".join(r.choice("0123456789") for _ in range(n))
    reference = digits(26)
    participant = "01" + digits(6)
    head = "04" if r.random() < 0.5 else "01" + f"{r.randint(100, 99999999):010d}"
    return (f"{head}{check_digit(head)}>{reference}{check_digit(reference)}+ "
            f"{participant}{check_digit(participant)}>")


def mixed_page(r: random.Random, path: str) -> str:
    from PIL import Image, ImageDraw, ImageFilter, ImageFont

    dpi = r.choice([200, 300])
    px = dpi / 25.4
    face = r.choice(["DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSerif.ttf",
                     "DejaVuSansMono.ttf"])
    pt = r.choice([8, 9, 10, 11, 12, 14])
    font = ImageFont.truetype(FONTS + face, round(pt / 72 * dpi))
    ocr = ImageFont.truetype(OCRB_FONT, round(2.54 * px / 0.7))
    prose = [sentence(r) for _ in range(r.randint(2, 8))]
    leading = round(pt * 1.5 / 72 * dpi)
    img = Image.new("L", (round(190 * px), len(prose) * leading + round(40 * px)), 255)
    draw = ImageDraw.Draw(img)
    y = round(8 * px)
    for s in prose:
        draw.text((round(10 * px), y), s, font=font, fill=0)
        y += leading
    y += round(8 * px)
    code = coding_line(r)
    for i, ch in enumerate(code):
        draw.text((round(10 * px) + i * 2.54 * px, y), ch, font=ocr, fill=0)
    if r.random() < 0.5:
        img = img.filter(ImageFilter.GaussianBlur(r.uniform(0.5, 1.5) * dpi / 200))
        threshold = r.randint(100, 170)
        img = img.point(lambda v: 0 if v < threshold else 255)
    img.convert("1").save(path, dpi=(dpi, dpi))
    with open(os.path.splitext(path)[0] + ".gt.txt", "w") as f:
        f.write(code + "\n")
    return code


def measure_mixed(count: int, seed: int, keep: str | None) -> None:
    r = random.Random(seed)
    folder = keep or tempfile.mkdtemp(prefix="ocrb_mixed_")
    os.makedirs(folder, exist_ok=True)
    files = [os.path.join(folder, f"m{i:03d}.png") for i in range(count)]
    codes = {f: mixed_page(r, f) for f in files}
    print_lines = print_dropped = code_lines = code_dropped = 0
    for f in read(files):
        code = codes[f["file"]]
        for line in f["pages"][0]["lines"]:
            _, share = pair(line["text"], [code])
            if share < 0.3:
                code_lines += 1
                code_dropped += line["junk"]
            else:
                print_lines += 1
                print_dropped += line["junk"]
    best_right = sum(
        1 for f in read(files, "--line", "best")
        if f["pages"][0]["lines"]
        and pair(f["pages"][0]["lines"][0]["text"], [codes[f["file"]]])[1] < 0.3)
    print(f"{count} pages of ordinary print above a coding line (seed {seed}, in {folder})")
    print(f"  lines of print: {print_lines}, dropped by the junk rule {print_dropped} "
          f"({100 * print_dropped / max(1, print_lines):.1f} %)")
    print(f"  coding lines: {code_lines}, dropped {code_dropped}")
    print(f"  --line best returns the coding line on {best_right} of {count} pages")
    if keep is None:
        for f in files:
            os.remove(f)
            os.remove(os.path.splitext(f)[0] + ".gt.txt")
        os.rmdir(folder)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("set_dir")
    parser.add_argument("--mixed", type=int, default=0)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--keep", help="keep the rendered pages in this folder")
    args = parser.parse_args()
    measure_set(args.set_dir)
    if args.mixed:
        measure_mixed(args.mixed, args.seed, args.keep)


if __name__ == "__main__":
    main()
