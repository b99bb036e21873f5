"""Fixtures: the bundled examples, and images made from them in other shapes and formats."""

from __future__ import annotations

from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
DATA = Path(__file__).resolve().parents[2] / "tests" / "data"


def truth(stem: str) -> str:
    return (EXAMPLES / f"{stem}.gt.txt").read_text().rstrip("\n")


@pytest.fixture(scope="session")
def coding() -> Path:
    return EXAMPLES / "coding-200dpi.bmp"


@pytest.fixture(scope="session")
def block() -> Path:
    return EXAMPLES / "block-300dpi.png"


@pytest.fixture(scope="session")
def fax() -> Path:
    return EXAMPLES / "fax-200x100dpi.tif"


@pytest.fixture(scope="session")
def two_pages(tmp_path_factory: pytest.TempPathFactory, coding: Path, block: Path) -> Path:
    """A two-page TIFF at 200 dpi: the coding line (1 bit) and the grey block scaled from
    300 to 200 dpi."""
    from PIL import Image

    path = tmp_path_factory.mktemp("tiff") / "two-pages.tif"
    first = Image.open(coding)
    grey = Image.open(block).convert("L")
    second = grey.resize((grey.width * 2 // 3, grey.height * 2 // 3), Image.LANCZOS)
    first.save(path, save_all=True, append_images=[second], dpi=(200, 200))
    return path


@pytest.fixture(scope="session")
def mixed() -> Path:
    """Three lines of ordinary print above a coding line (tests/data/make_pages.py)."""
    return DATA / "mixed-page.png"


@pytest.fixture(scope="session")
def slips() -> Path:
    """Five OCR-B lines: coding lines whose check digits hold or fail, and one of no known
    layout; slips.gt.txt holds them as ``ocrb --check`` prints them."""
    return DATA / "slips.png"
