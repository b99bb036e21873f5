#!/usr/bin/env python3
"""Renders the small pages the reader's tests read, with their texts.

    python3 tests/data/make_pages.py tests/data

mixed-page.png: three lines of ordinary print (DejaVu Sans, fonts-dejavu-core) above a
Swiss payment slip's coding line in OCR-B (fonts-ocr-b), 200 dpi, 1 bit. The engine names
most of the ordinary letters as digits; text output must hold the coding line alone.
mixed-page.gt.txt holds that line.

slips.png: five OCR-B lines at 300 dpi: coding lines whose check digits hold, with and
without amount, two with wrong check digits, and one line of no known layout. slips.gt.txt
holds them, each followed by the marker ``ocrb --check`` prints.

The check digits here are computed by this script's own code, independently of the reader.
Needs Debian's python3-pil. Same fonts, same bytes.
"""
import os
import sys

from PIL import Image, ImageDraw, ImageFont

OCRB = "/usr/share/fonts/opentype/ocr-b/OCRB.otf"
SANS = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
PITCH_MM = 2.54
DIGIT_MM = 2.54

# The recursive modulo 10 table in its square form: row = carry, column = digit.
ROWS = ["0946827135", "9468271350", "4682713509", "6827135094", "8271350946",
        "2713509468", "7135094682", "1350946827", "3509468271", "5094682713"]


def check_digit(digits):
    carry = 0
    for d in digits:
        carry = int(ROWS[carry][int(d)])
    return str((10 - carry) % 10)


def with_check(digits):
    return digits + check_digit(digits)


def coding_line(kind, amount, reference, participant):
    head = with_check(kind + amount)
    return f"{head}>{with_check(reference)}+ {with_check(participant)}>"


def substitute(text, index):
    """Text with the digit at Index replaced by the next digit."""
    return text[:index] + str((int(text[index]) + 1) % 10) + text[index + 1:]


def draw_ocrb(draw, text, x, y, dpi):
    """Sets Text in OCR-B on its 2.54 mm pitch, each glyph centred in its cell."""
    px = dpi / 25.4
    font = ImageFont.truetype(OCRB, round(DIGIT_MM * px / 0.7))
    _, top, _, bottom = font.getbbox("0")
    font = ImageFont.truetype(OCRB, round(font.size * DIGIT_MM * px / (bottom - top)))
    pitch = PITCH_MM * px
    for i, ch in enumerate(text):
        if ch != " ":
            w = font.getlength(ch)
            draw.text((x + i * pitch + (pitch - w) / 2, y), ch, font=font, fill=0)


def mixed_page(out):
    dpi = 200
    px = dpi / 25.4
    sans = ImageFont.truetype(SANS, round(10 / 72 * dpi))
    prose = ["Invoice 2024-0117 of 12 March, payable within thirty days",
             "Muster AG, Bahnhofstrasse 12, Zürich, for the account of Beispiel GmbH",
             "Please pay the amount below with the attached payment slip."]
    code = coding_line("01", "0000394975", "12000000000023447894321689", "01000162")
    img = Image.new("L", (round(150 * px), round(36 * px)), 255)
    draw = ImageDraw.Draw(img)
    y = round(4 * px)
    for line in prose:
        draw.text((round(6 * px), y), line, font=sans, fill=0)
        y += round(5.5 * px)
    draw_ocrb(draw, code, round(6 * px), y + round(6 * px), dpi)
    img.point(lambda v: 0 if v < 128 else 255).convert("1").save(
        os.path.join(out, "mixed-page.png"), dpi=(dpi, dpi))
    with open(os.path.join(out, "mixed-page.gt.txt"), "w") as f:
        f.write(code + "\n")


def slips(out):
    dpi = 300
    px = dpi / 25.4
    good = coding_line("01", "0000394975", "12000000000023447894321689", "01000162")
    plain = coding_line("04", "", "21000000000313947143000901", "01000162")
    bad_reference = substitute(good, 20)
    bad_amount_participant = substitute(substitute(good, 5), 45)
    other = "2020-06-30 >>> 774411+"
    lines = [(good, "ok"), (plain, "ok"), (bad_reference, "bad reference"),
             (bad_amount_participant, "bad amount,participant"), (other, None)]
    img = Image.new("L", (round(150 * px), round((len(lines) * 6 + 6) * px)), 255)
    draw = ImageDraw.Draw(img)
    for i, (text, _) in enumerate(lines):
        draw_ocrb(draw, text, round(6 * px), round((4 + 6 * i) * px), dpi)
    img.point(lambda v: 0 if v < 128 else 255).convert("1").save(
        os.path.join(out, "slips.png"), dpi=(dpi, dpi))
    with open(os.path.join(out, "slips.gt.txt"), "w") as f:
        for text, marker in lines:
            f.write(text + (f"\t{marker}" if marker else "") + "\n")


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    mixed_page(out)
    slips(out)
