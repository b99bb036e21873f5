"""Failures as Python exceptions with the engine's status and message."""

from __future__ import annotations

from pathlib import Path

import numpy as np
import pytest

import ocrb


def test_not_an_image() -> None:
    with pytest.raises(ocrb.ImageError, match="not an image") as caught:
        ocrb.Engine().read(b"these are not the pixels you are looking for")
    assert caught.value.status == 0
    assert isinstance(caught.value, ocrb.Error) and isinstance(caught.value, RuntimeError)


def test_damaged_files(block: Path, coding: Path) -> None:
    engine = ocrb.Engine()
    png = block.read_bytes()
    with pytest.raises(ocrb.ImageError, match="PNG"):
        engine.read(png[: len(png) // 2])
    bmp = coding.read_bytes()
    with pytest.raises(ocrb.ImageError, match="truncated BMP"):
        engine.read(bmp[:-600])
    with pytest.raises(ocrb.ImageError):
        engine.read(b"")
    # The engine still reads after refusing.
    assert engine.read(coding).lines


def test_missing_file(tmp_path: Path) -> None:
    with pytest.raises(FileNotFoundError):
        ocrb.Engine().read(tmp_path / "absent.png")


@pytest.mark.parametrize("array, error", [
    (np.zeros((10, 10), np.float32), TypeError),
    (np.zeros((10, 10, 2), np.uint8), ValueError),
    (np.zeros((10,), np.uint8), ValueError),
    (np.zeros((10, 10, 3), np.bool_), ValueError),
    (np.zeros((0, 10), np.uint8), ValueError),
])
def test_arrays_the_engine_cannot_take(array: np.ndarray, error: type) -> None:
    with pytest.raises(error):
        ocrb.Engine().read(array)


def test_other_inputs_are_type_errors() -> None:
    with pytest.raises(TypeError):
        ocrb.Engine().read(42)


def test_errors_survive_pickling() -> None:
    import pickle

    error = ocrb.ImageError("damaged", -4)
    back = pickle.loads(pickle.dumps(error))
    assert (type(back), back.reason, back.status) == (ocrb.ImageError, "damaged", -4)
    assert "engine status -4" in str(back)
