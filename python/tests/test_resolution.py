"""Resolutions in Python as ocrb has them: a coding line scanned at 300 dpi, as a PIL image, a
numpy array, a path and bytes, stating nothing, the truth, or half or twice it; dpi= wins over
all of them and is reported as "option"."""

from __future__ import annotations

import io
import json
import os
import subprocess
from pathlib import Path
from typing import Any, Optional

import numpy as np
import pytest
from PIL import Image

import ocrb

from conftest import truth


@pytest.fixture(scope="module")
def line300(coding: Path) -> Image.Image:
    """The 200-dpi coding line scanned again at 300 dpi: grey, stating nothing."""
    grey = Image.open(coding).convert("L")
    scaled = grey.resize((grey.width * 3 // 2, grey.height * 3 // 2), Image.LANCZOS)
    scaled.info.pop("dpi", None)
    return scaled


def _page(result: ocrb.Result) -> ocrb.Page:
    assert len(result.pages) == 1
    return result.pages[0]


def _stating(image: Image.Image, dpi: Optional[int]) -> Image.Image:
    copy = image.copy()
    copy.info.pop("dpi", None)
    if dpi is not None:
        copy.info["dpi"] = (dpi, dpi)
    return copy


def _encoded(image: Image.Image, dpi: Optional[int], fmt: str = "PNG") -> bytes:
    out = io.BytesIO()
    if dpi is None:
        image.save(out, fmt)
    else:
        image.save(out, fmt, dpi=(dpi, dpi))
    return out.getvalue()


@pytest.mark.parametrize("stated", [None, 150, 300, 600])
def test_pil_images_and_files_read_exactly_whatever_they_state(line300: Image.Image,
                                                               stated: Optional[int]) -> None:
    engine = ocrb.Engine()
    expected = truth("coding-200dpi")
    inputs: list[Any] = [_stating(line300, stated), _encoded(line300, stated),
                         _encoded(line300.convert("1"), stated, "BMP")]
    for image in inputs:
        page = _page(engine.read(image))
        assert page.text == expected
        if stated is None:
            # PIL's BMP writer states 96 dpi, which is no resolution to the engine.
            assert page.stated_dpi in (None, (96, 96))
        else:
            assert page.stated_dpi == (stated, stated)
        assert page.dpi_source == ("file" if stated == 300 else "estimated")
        assert abs(page.xdpi - 300) <= 30 and page.ydpi == page.xdpi
        given = _page(engine.read(image, dpi=300))
        assert given.text == expected
        assert (given.xdpi, given.ydpi, given.dpi_source) == (300, 300, "option")
        assert given.stated_dpi == page.stated_dpi


def test_arrays_get_the_estimate_and_dpi_wins(line300: Image.Image) -> None:
    engine = ocrb.Engine()
    grey = np.asarray(line300)
    for array in (grey, np.stack([grey] * 3, axis=2), grey < 128):
        page = _page(engine.read(array))
        assert page.text == truth("coding-200dpi")
        assert page.dpi_source == "estimated" and page.stated_dpi is None
        assert abs(page.xdpi - 300) <= 30
        given = _page(engine.read(array, dpi=300))
        assert (given.xdpi, given.dpi_source, given.text) == (300, "option", page.text)
    # dpi wins even when it is wrong: the line read as 600 dpi is not the line.
    assert engine.read(grey, dpi=600).text != truth("coding-200dpi")


def test_a_fax_resolution_stays_as_stated(fax: Path) -> None:
    page = _page(ocrb.Engine().read(Image.open(fax)))
    assert (page.xdpi, page.ydpi, page.dpi_source, page.stated_dpi) == (200, 100, "file",
                                                                        (200, 100))
    assert page.text == truth("fax-200x100dpi")


def test_paths_with_dpi_report_the_option(coding: Path) -> None:
    page = _page(ocrb.Engine().read(coding, dpi=200))
    assert (page.dpi_source, page.stated_dpi) == ("option", (200, 200))


def test_to_dict_matches_ocrb_json_on_a_replaced_resolution(tmp_path: Path,
                                                            line300: Image.Image) -> None:
    path = tmp_path / "line-stating-150.png"
    line300.save(path, dpi=(150, 150))
    as_dict = ocrb.Engine().read(path).to_dict()
    assert as_dict["pages"][0]["stated_dpi"] == [150, 150]
    assert as_dict["pages"][0]["dpi_source"] == "estimated"
    cli = os.environ.get("OCRB_CLI")
    if not cli:
        pytest.skip("OCRB_CLI names no ocrb program")
    printed = json.loads(subprocess.run([cli, "-q", "-f", "json", str(path)], check=True,
                                        capture_output=True).stdout)["files"][0]
    assert printed["pages"][0]["stated_dpi"] == as_dict["pages"][0]["stated_dpi"]
    assert printed["pages"][0]["xdpi"] == as_dict["pages"][0]["xdpi"]
