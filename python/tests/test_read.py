"""ocrb.Engine.read on every kind of input, checked against the examples' texts and against
each other: the same pixels give the same result whatever form they arrive in."""

from __future__ import annotations

import json
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import ocrb
from conftest import DATA, truth


def test_reads_a_path_as_str_and_as_pathlike(coding: Path) -> None:
    engine = ocrb.Engine()
    by_str = engine.read(str(coding))
    assert by_str.text == truth("coding-200dpi")
    assert by_str.source == str(coding)
    assert engine.read(coding) == by_str


def test_result_structure(coding: Path) -> None:
    result = ocrb.Engine().read(coding)
    assert len(result.pages) == 1
    page = result.pages[0]
    assert (page.number, page.xdpi, page.ydpi) == (1, 200, 200)
    assert len(result.lines) == 1
    line = result.lines[0]
    assert line.text == "".join(c.char for c in line.chars)
    for c in line:
        assert 0.0 <= c.confidence <= 1.0
        if c.char == " ":
            assert c.box is None
        else:
            left, top, right, bottom = c.box
            assert 0 <= left <= right < page.width and 0 <= top <= bottom < page.height
    # Boxes run left to right along the line.
    lefts = [c.box[0] for c in line if c.box is not None]
    assert lefts == sorted(lefts)


def test_reads_bytes_like_the_file(block: Path) -> None:
    engine = ocrb.Engine()
    from_path = engine.read(block)
    data = block.read_bytes()
    for blob in (data, bytearray(data), memoryview(data)):
        from_bytes = engine.read(blob)
        assert from_bytes.pages == from_path.pages
        assert from_bytes.source is None
    assert from_path.text == truth("block-300dpi")


@pytest.mark.parametrize("mode", ["L", "RGB", "RGBA", "P"])
def test_pil_images_read_like_the_file(block: Path, mode: str) -> None:
    engine = ocrb.Engine()
    expected = engine.read(block)
    image = Image.open(block).convert(mode)
    image.info["dpi"] = (300, 300)
    assert engine.read(image).pages == expected.pages


def test_pil_bilevel_image(coding: Path) -> None:
    engine = ocrb.Engine()
    image = Image.open(coding).convert("1")
    assert engine.read(image, dpi=200).pages == engine.read(coding).pages


def test_numpy_grey_rgb_and_bool(block: Path, coding: Path) -> None:
    engine = ocrb.Engine()
    expected = engine.read(block)
    grey = np.asarray(Image.open(block).convert("L"))
    assert engine.read(grey, dpi=300).pages == expected.pages
    rgb = np.stack([grey] * 3, axis=2)
    assert engine.read(rgb, dpi=300).pages == expected.pages
    rgba = np.concatenate([rgb, np.full(grey.shape + (1,), 255, np.uint8)], axis=2)
    assert engine.read(rgba, dpi=300).pages == expected.pages
    # A view with a row stride of its own reads as its copy does.
    wide = np.zeros((grey.shape[0], grey.shape[1] + 13), np.uint8)
    wide[:, :grey.shape[1]] = grey
    assert engine.read(wide[:, :grey.shape[1]], dpi=300).pages == expected.pages

    ink = np.asarray(Image.open(coding).convert("L")) < 128
    assert ink.dtype == np.bool_
    from_bool = engine.read(ink, dpi=200)
    assert from_bool.pages == engine.read(coding).pages
    # Paper and ink swapped is no longer the same text.
    assert engine.read(~ink, dpi=200).text != from_bool.text


def test_non_square_pixels(tmp_path: Path, block: Path) -> None:
    grey = Image.open(block).convert("L")
    squashed = grey.resize((grey.width, grey.height // 2), Image.LANCZOS)
    path = tmp_path / "squashed.png"
    squashed.save(path, dpi=(300, 150))
    engine = ocrb.Engine()
    from_file = engine.read(path)
    assert (from_file.pages[0].xdpi, from_file.pages[0].ydpi) == (300, 150)
    assert engine.read(Image.open(path)).pages == from_file.pages
    assert engine.read(np.asarray(squashed), dpi=(300, 150)).pages == from_file.pages
    # Read as square pixels, the squashed characters are another matter.
    assert engine.read(np.asarray(squashed), dpi=300).pages != from_file.pages
    with pytest.raises(ValueError):
        engine.read(path, dpi=(300, 150))


def test_array_without_dpi_gets_the_estimate(coding: Path) -> None:
    ink = np.asarray(Image.open(coding).convert("L")) < 128
    page = ocrb.Engine().read(ink).pages[0]
    assert page.dpi_source == "estimated" and page.stated_dpi is None
    assert abs(page.xdpi - 200) <= 20 and page.ydpi == page.xdpi
    assert page.text == truth("coding-200dpi")


def test_every_page_of_a_multipage_tiff(two_pages: Path, coding: Path, block: Path) -> None:
    engine = ocrb.Engine()
    result = engine.read(two_pages)
    assert [p.number for p in result.pages] == [1, 2]
    assert result.pages[0].text == truth("coding-200dpi")
    with Image.open(two_pages) as image:
        image.seek(1)
        second = np.asarray(image.convert("L"))
    assert result.pages[1].lines == engine.read(second, dpi=200).pages[0].lines
    assert len(result.pages[1].lines) == 4
    assert result.text == result.pages[0].text + "\n\f\n" + result.pages[1].text
    assert len(result.lines) == len(result.pages[0].lines) + len(result.pages[1].lines)
    # Through PIL, frame by frame, the same pages.
    assert engine.read(Image.open(two_pages)).pages == result.pages


def test_single_line_and_dpi(block: Path) -> None:
    engine = ocrb.Engine()
    assert len(engine.read(block).lines) == 4
    assert len(engine.read(block, single_line=True).lines) == 1
    grey = np.asarray(Image.open(block).convert("L"))
    assert engine.read(grey, dpi=300).pages[0].xdpi == 300
    # Read as 100 dpi, the 300 dpi characters are far too large to be characters.
    assert engine.read(grey, dpi=100).text != truth("block-300dpi")


def test_turned_pages_are_stood_up_and_levelled(coding: Path) -> None:
    engine = ocrb.Engine()
    upside_down = Image.open(coding).rotate(180)
    page = engine.read(upside_down, dpi=200).pages[0]
    assert (page.text, page.orientation) == (truth("coding-200dpi"), 180)
    lying = engine.read(upside_down, dpi=200, orientation=0).pages[0]
    assert lying.orientation == 0 and lying.text != truth("coding-200dpi")

    # The slips turned 3 degrees anticlockwise (PIL's sense): measured and levelled.
    slips = Image.open(DATA / "slips.png").convert("L")
    turned = slips.rotate(3, resample=Image.BILINEAR, expand=True, fillcolor=255)
    level = engine.read(slips, dpi=300)
    levelled = engine.read(turned, dpi=300)
    assert levelled.pages[0].skew_degrees == pytest.approx(-3, abs=0.1)
    assert levelled.text == level.text
    assert engine.read(turned, dpi=300, deskew=False).pages[0].skew_degrees == 0
    for bad in ("upside-down", 45, True):
        with pytest.raises(ValueError, match="orientation"):
            engine.read(coding, orientation=bad)


def test_to_dict_matches_ocrb_json(two_pages: Path) -> None:
    result = ocrb.Engine().read(two_pages)
    as_dict = result.to_dict()
    assert json.loads(json.dumps(as_dict)) == as_dict
    cli = os.environ.get("OCRB_CLI")
    if not cli:
        pytest.skip("OCRB_CLI names no ocrb program")
    printed = json.loads(subprocess.run([cli, "-f", "json", str(two_pages)], check=True,
                                        capture_output=True).stdout)["files"][0]
    assert _rounded(as_dict) == _rounded(printed)


def _rounded(value: object) -> object:
    """Value with every float rounded to the three places ocrb prints."""
    if isinstance(value, float):
        return round(value, 3)
    if isinstance(value, dict):
        return {k: _rounded(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_rounded(v) for v in value]
    return value
