"""What ocrb.Engine.read makes of inputs that are damaged, too large, endless or wider than 8
bits: an exception with its reason, within its bounds, with the pages that can be read kept;
16-bit and floating-point images read as their 8-bit forms."""

from __future__ import annotations

import time
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import ocrb
from conftest import truth


def nested_form_pdf(depth: int = 9, fan: int = 10) -> bytes:
    """A form drawing a square, each of Depth forms above it drawing the one below Fan times:
    a renderer draws Fan ** Depth squares."""
    bodies = [b"<< /Type /Catalog /Pages 2 0 R >>",
              b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
              b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject "
              b"<< /F%d %d 0 R >> >> /Contents 4 0 R >>" % (depth, 5 + depth)]
    content = b"/F%d Do" % depth
    bodies.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content))
    square = b"0 0 612 792 re f"
    bodies.append(b"<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length %d >>\n"
                  b"stream\n%s\nendstream" % (len(square), square))
    for level in range(1, depth + 1):
        draws = b"".join(b"/F%d Do\n" % (level - 1) for _ in range(fan))
        bodies.append(b"<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << "
                      b"/XObject << /F%d %d 0 R >> >> /Length %d >>\nstream\n%s\nendstream"
                      % (level - 1, 4 + level, len(draws), draws))
    out, offsets = b"%PDF-1.4\n", []
    for number, body in enumerate(bodies, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(bodies) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    return out + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(bodies) + 1, xref)


def four_pages(path: Path, coding: Path, bad: int) -> Path:
    """Four pages of the coding line, deflated; page Bad's data garbled."""
    page = Image.open(coding)
    page.save(path, save_all=True, append_images=[page] * 3,
              compression="tiff_adobe_deflate", dpi=(200, 200))
    with Image.open(path) as image:
        image.seek(bad - 1)
        strips = list(zip(image.tag_v2[273], image.tag_v2[279]))
    data = bytearray(path.read_bytes())
    for offset, count in strips:
        for i in range(offset + 2, offset + count):
            data[i] ^= 0x5A
    path.write_bytes(bytes(data))
    return path


@pytest.fixture(scope="module")
def grey_block(block: Path) -> Image.Image:
    return Image.open(block).convert("L")


@pytest.mark.parametrize("mode", ["I;16", "I", "F"])
def test_wide_images_read_as_their_8_bit_forms(grey_block: Image.Image, mode: str,
                                               tmp_path: Path) -> None:
    engine = ocrb.Engine()
    expected = engine.read(grey_block, dpi=300).text
    assert expected == truth("block-300dpi")
    levels = np.asarray(grey_block)
    if mode == "F":
        wide = Image.fromarray(levels.astype(np.float32) / 255, mode="F")
    else:
        # The grey levels as 16-bit values, the low byte not zero, as a scanner's would be.
        values = levels.astype(np.int32) * 257
        wide = Image.fromarray(values.astype(np.uint16 if mode == "I;16" else np.int32), mode=mode)
    assert wide.mode == mode
    assert engine.read(wide, dpi=300).text == expected
    if mode == "I;16":
        # The same pixels as a 16-bit PNG, read by path through the decoders.
        wide.save(tmp_path / "wide.png", dpi=(300, 300))
        assert engine.read(tmp_path / "wide.png").text == expected


@pytest.mark.parametrize("mode, values, says", [
    ("F", np.full((40, 60), 300.0, np.float32), "0..1 and 0..255"),
    ("F", np.full((40, 60), np.nan, np.float32), "not finite"),
    ("I", np.full((40, 60), -5, np.int32), "0..65535"),
    ("I", np.full((40, 60), 70000, np.int32), "0..65535"),
])
def test_wide_images_without_an_8_bit_reading_are_refused(mode: str, values: np.ndarray,
                                                          says: str) -> None:
    with pytest.raises(ocrb.ImageError, match=says):
        ocrb.Engine().read(Image.fromarray(values, mode=mode))


def test_limits_hold_before_anything_is_read_or_converted(tmp_path: Path, block: Path) -> None:
    engine = ocrb.Engine()
    start = time.monotonic()
    with pytest.raises(ocrb.ImageError, match="not an image"):
        engine.read("/dev/zero")
    # Twenty thousand squared pixels that take no memory until converted.
    huge = np.broadcast_to(np.zeros((1, 1), np.uint8), (20000, 20000))
    with pytest.raises(ocrb.ImageError, match=r"20000 x 20000 pixels\) exceeds max_pixels"):
        engine.read(huge)
    with pytest.raises(ocrb.ImageError, match="exceeds max_pixels"):
        engine.read(Image.open(block), max_pixels=1000)
    with pytest.raises(ocrb.ImageError, match="exceeds max_file_size"):
        engine.read(block.read_bytes(), max_file_size=1000)
    with pytest.raises(ocrb.ImageError, match="exceeds --max-file-size"):
        engine.read(block, max_file_size=1000)
    assert time.monotonic() - start < 5
    for bad, error in [({"timeout": 0}, ValueError), ({"timeout": "1"}, TypeError),
                       ({"max_memory": 1 << 20}, ValueError), ({"max_pages": 1.5}, TypeError)]:
        with pytest.raises(error):
            engine.read(block, **bad)


def test_a_damaged_page_fails_alone(tmp_path: Path, coding: Path) -> None:
    path = four_pages(tmp_path / "four.tif", coding, bad=3)
    with pytest.raises(ocrb.ImageError, match=r"page 3") as caught:
        ocrb.Engine().read(path)
    result = caught.value.result
    assert result is not None and not result.ok and result.source == str(path)
    assert [page.number for page in result.pages] == [1, 2, 3, 4]
    assert [page.error is None for page in result.pages] == [True, True, False, True]
    assert [page.text for page in result.pages] == [truth("coding-200dpi"),
                                                   truth("coding-200dpi"), "",
                                                   truth("coding-200dpi")]
    assert result.pages[2].to_dict()["error"].startswith("corrupt or truncated TIFF data")


def test_a_file_past_its_time_is_an_image_error() -> None:
    start = time.monotonic()
    with pytest.raises(ocrb.ImageError, match=r"timed out after 1 s") as caught:
        ocrb.Engine().read(nested_form_pdf(), timeout=1)
    assert time.monotonic() - start < 10
    assert caught.value.result is not None and caught.value.result.pages[0].error
