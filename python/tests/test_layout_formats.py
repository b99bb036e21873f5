"""ocrb -f hocr and -f alto, parsed back and held against ocrb -f json: every page, every line
that is not junk (and with --all-lines every line), every character's box and confidence."""

from __future__ import annotations

import json
import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Any

import pytest

HTML = "{http://www.w3.org/1999/xhtml}"
ALTO = "{http://www.loc.gov/standards/alto/ns-v4#}"


def _cli() -> str:
    cli = os.environ.get("OCRB_CLI")
    if not cli:
        pytest.skip("OCRB_CLI names no ocrb program")
    return cli


def _run(*args: str) -> subprocess.CompletedProcess[bytes]:
    return subprocess.run([_cli(), "-q", *args], capture_output=True, check=False)


def _json(files: list[Path], *options: str) -> dict[str, Any]:
    run = _run("-f", "json", *options, *map(str, files))
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


def _expected_lines(page: dict[str, Any], all_lines: bool) -> list[list[dict[str, Any]]]:
    """The characters other than spaces of each line the layout formats hold."""
    lines = []
    for line in page["lines"]:
        chars = [c for c in line["chars"] if c["char"] != " "]
        if chars and (all_lines or not line["junk"]):
            lines.append(chars)
    return lines


def _title(element: ET.Element) -> dict[str, str]:
    return {key: value.strip() for key, _, value in
            (part.strip().partition(" ") for part in element.get("title", "").split(";"))}


def _numbers(text: str) -> list[float]:
    return [float(v) for v in text.split()]


def _union(boxes: list[list[int]]) -> list[int]:
    return [min(b[0] for b in boxes), min(b[1] for b in boxes),
            max(b[2] for b in boxes), max(b[3] for b in boxes)]


def _check_hocr(document: bytes, expected: dict[str, Any], all_lines: bool) -> int:
    """Holds an hOCR document against the JSON of the same files; returns the characters."""
    root = ET.fromstring(document)
    pages = root.findall(f".//{HTML}div[@class='ocr_page']")
    json_pages = [(f, p) for f in expected["files"] for p in f["pages"] if "error" not in p]
    assert len(pages) == len(json_pages)
    ids = [e.get("id") for e in root.iter() if e.get("id")]
    assert len(ids) == len(set(ids)), "ids repeat"
    seen = 0
    for page, (file, json_page) in zip(pages, json_pages):
        title = _title(page)
        assert title["image"] == json.dumps(file["file"])
        assert _numbers(title["bbox"]) == [0, 0, json_page["width"], json_page["height"]]
        lines = page.findall(f"{HTML}span[@class='ocr_line']")
        expected_lines = _expected_lines(json_page, all_lines)
        assert len(lines) == len(expected_lines)
        for line, chars in zip(lines, expected_lines):
            words = line.findall(f"{HTML}span[@class='ocrx_word']")
            assert "".join(w.text or "" for w in words) == "".join(c["char"] for c in chars)
            boxes, confs = [], []
            for word in words:
                word_title = _title(word)
                word_boxes = _numbers(word_title["x_bboxes"])
                word_confs = _numbers(word_title["x_confs"])
                assert len(word_boxes) == 4 * len(word.text) and len(word_confs) == len(word.text)
                quads = [word_boxes[i:i + 4] for i in range(0, len(word_boxes), 4)]
                assert _numbers(word_title["bbox"]) == _union(quads)
                mean = sum(word_confs) / len(word_confs)
                assert abs(int(word_title["x_wconf"]) - mean) <= 0.51
                boxes += quads
                confs += word_confs
            # hOCR boxes end one past the last pixel; JSON's are inclusive.
            assert boxes == [[l, t, r + 1, b + 1] for l, t, r, b in (c["box"] for c in chars)]
            assert confs == pytest.approx([100 * c["confidence"] for c in chars], abs=0.051)
            assert _numbers(_title(line)["bbox"]) == _union(boxes)
            seen += len(chars)
    return seen


def _check_alto(document: bytes, expected: dict[str, Any], all_lines: bool) -> int:
    """Holds an ALTO document against the JSON of the same files; returns the characters."""
    root = ET.fromstring(document)
    assert root.tag == f"{ALTO}alto"
    assert root.findtext(f"{ALTO}Description/{ALTO}MeasurementUnit") == "pixel"
    tags = {t.get("ID"): t.get("LABEL") for t in root.iter(f"{ALTO}OtherTag")}
    assert list(tags.values()) == [f["file"] for f in expected["files"]]
    pages = root.findall(f"{ALTO}Layout/{ALTO}Page")
    json_pages = [(f, p) for f in expected["files"] for p in f["pages"] if "error" not in p]
    assert len(pages) == len(json_pages)
    ids = [e.get("ID") for e in root.iter() if e.get("ID")]
    assert len(ids) == len(set(ids)), "IDs repeat"
    seen = 0

    def box(e: ET.Element) -> list[int]:
        x, y, w, h = (int(e.get(k)) for k in ("HPOS", "VPOS", "WIDTH", "HEIGHT"))
        assert w > 0 and h > 0
        return [x, y, x + w - 1, y + h - 1]

    for page, (file, json_page) in zip(pages, json_pages):
        assert (int(page.get("WIDTH")), int(page.get("HEIGHT"))) == (json_page["width"],
                                                                     json_page["height"])
        expected_lines = _expected_lines(json_page, all_lines)
        blocks = page.findall(f"{ALTO}PrintSpace/{ALTO}TextBlock")
        assert len(blocks) == (1 if expected_lines else 0)
        lines = [line for block in blocks for line in block.findall(f"{ALTO}TextLine")]
        for block in blocks:
            assert tags[block.get("TAGREFS")] == file["file"]
        assert len(lines) == len(expected_lines)
        for line, chars in zip(lines, expected_lines):
            strings = line.findall(f"{ALTO}String")
            assert "".join(s.get("CONTENT") for s in strings) == "".join(c["char"] for c in chars)
            glyphs = [g for s in strings for g in s.findall(f"{ALTO}Glyph")]
            assert [g.get("CONTENT") for g in glyphs] == [c["char"] for c in chars]
            assert [box(g) for g in glyphs] == [c["box"] for c in chars]
            assert [float(g.get("GC")) for g in glyphs] == pytest.approx(
                [c["confidence"] for c in chars], abs=0.0011)
            for string in strings:
                own = string.findall(f"{ALTO}Glyph")
                assert box(string) == _union([box(g) for g in own])
                gcs = [float(g.get("GC")) for g in own]
                assert float(string.get("WC")) == pytest.approx(sum(gcs) / len(gcs), abs=0.002)
                ccs = [int(v) for v in string.get("CC").split()]
                assert ccs == [round(9 * (1 - gc)) for gc in gcs] or all(
                    abs(cc - 9 * (1 - gc)) <= 0.51 for cc, gc in zip(ccs, gcs))
            assert box(line) == _union([box(s) for s in strings])
            seen += len(chars)
    return seen


@pytest.fixture(scope="module")
def inputs(coding: Path, block: Path, two_pages: Path, mixed: Path) -> list[Path]:
    """Several files, one of them of two pages, one with junk lines."""
    return [coding, two_pages, mixed, block]


@pytest.mark.parametrize("all_lines", [False, True])
def test_hocr_and_alto_hold_what_json_holds(inputs: list[Path], all_lines: bool) -> None:
    options = ("--all-lines",) if all_lines else ()
    expected = _json(inputs)
    for fmt, check in (("hocr", _check_hocr), ("alto", _check_alto)):
        run = _run("-f", fmt, *options, *map(str, inputs))
        assert run.returncode == 0, run.stderr
        assert check(run.stdout, expected, all_lines) > 100, fmt


def test_junk_lines_only_with_all_lines(mixed: Path) -> None:
    expected = _json([mixed])
    page = expected["files"][0]["pages"][0]
    junk = [line for line in page["lines"] if line["junk"]]
    assert junk, "the mixed page has lines of ordinary print"
    kept = _run("-f", "alto", str(mixed)).stdout
    every = _run("-f", "alto", "--all-lines", str(mixed)).stdout
    count = len(page["lines"])
    assert len(ET.fromstring(kept).findall(f".//{ALTO}TextLine")) == count - len(junk)
    assert len(ET.fromstring(every).findall(f".//{ALTO}TextLine")) == count
    hocr = ET.fromstring(_run("-f", "hocr", str(mixed)).stdout)
    assert len(hocr.findall(f".//{HTML}span[@class='ocr_line']")) == count - len(junk)


def test_names_of_any_bytes_stay_well_formed(tmp_path: Path, coding: Path) -> None:
    odd = os.fsencode(tmp_path) + b"/a&b<c>\"d'\xff\x01.bmp"
    shutil.copyfile(coding, odd)
    for fmt in ("hocr", "alto"):
        run = subprocess.run([_cli(), "-q", "-f", fmt, odd], capture_output=True, check=False)
        assert run.returncode == 0, run.stderr
        root = ET.fromstring(run.stdout)
        text = ET.tostring(root, encoding="unicode")
        assert "a&amp;b&lt;c&gt;" in text and "\ufffd" in text
    # The one-file ALTO names its source image.
    alto = ET.fromstring(_run("-f", "alto", str(coding)).stdout)
    assert alto.findtext(f".//{ALTO}sourceImageInformation/{ALTO}fileName") == str(coding)


def test_failed_files_and_output_dir(tmp_path: Path, coding: Path, two_pages: Path) -> None:
    broken = tmp_path / "broken.png"
    broken.write_bytes(b"\x89PNG\r\n\x1a\n" + b"\0" * 40)
    for fmt in ("hocr", "alto"):
        run = _run("-f", fmt, str(broken), str(coding))
        assert run.returncode == 2
        root = ET.fromstring(run.stdout)  # still one document
        assert b"broken.png" in run.stderr
        tag = "div" if fmt == "hocr" else "Page"
        assert len([e for e in root.iter() if e.tag.endswith(tag) and
                    (tag == "Page" or e.get("class") == "ocr_page")]) == 1
    out = tmp_path / "out"
    for fmt, ext in (("hocr", "hocr"), ("alto", "xml")):
        run = _run("-f", fmt, "--output-dir", str(out), str(coding), str(two_pages))
        assert run.returncode == 0, run.stderr
        for path, pages in ((coding, 1), (two_pages, 2)):
            written = (out / f"{path.stem}.{ext}").read_bytes()
            expected = _json([path])
            check = _check_hocr if fmt == "hocr" else _check_alto
            assert check(written, expected, False) > 0
            assert len(re.findall(rb'class="ocr_page"|<Page ', written)) == pages


def test_xmllint_finds_both_well_formed(inputs: list[Path]) -> None:
    xmllint = shutil.which("xmllint")
    if xmllint is None:
        pytest.skip("xmllint is not installed")
    for fmt in ("hocr", "alto"):
        document = _run("-f", fmt, *map(str, inputs)).stdout
        lint = subprocess.run([xmllint, "--noout", "--nonet", "-"], input=document,
                              capture_output=True, check=False)
        assert lint.returncode == 0, lint.stderr
