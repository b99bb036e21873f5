"""Engine parameters by name: accepted, refused, and felt by the reading."""

from __future__ import annotations

import inspect
from pathlib import Path

import pytest

import ocrb
from ocrb import _ocrb


def test_every_engine_parameter_is_a_keyword() -> None:
    keywords = set(inspect.signature(ocrb.Engine).parameters)
    assert keywords == {name.replace("-", "_") for name, *_ in _ocrb.PARAMETERS}
    engine = ocrb.Engine()
    for name, _flag, _low, _high, default, _meaning in _ocrb.PARAMETERS:
        assert engine.parameters[name.replace("-", "_")] == default


def test_the_documentation_lists_every_parameter_with_its_range_and_default() -> None:
    doc = ocrb.Engine.__doc__ or ""
    for name, flag, low, high, default, meaning in _ocrb.PARAMETERS:
        key = name.replace("-", "_")
        if flag:
            assert f"``{key}`` (bool): {meaning} [{'on' if default else 'off'}]" in doc
        else:
            assert f"``{key}``: {meaning}, {low}..{high} [{default}]" in doc


def test_values_reach_the_engine() -> None:
    engine = ocrb.Engine(space_width=30, insert_spaces=False, max_passes=2)
    assert engine.parameters["space_width"] == 30
    assert engine.parameters["insert_spaces"] == 0
    assert engine.parameters["max_passes"] == 2
    assert "space_width=30" in repr(engine)


@pytest.mark.parametrize("kwargs", [
    {"space_width": 0}, {"min_char_height": -1}, {"max_char_width": 10001},
    {"max_passes": 0}, {"max_passes": 9}, {"insert_spaces": 2},
])
def test_out_of_range_is_a_value_error(kwargs: dict) -> None:
    name = next(iter(kwargs))
    with pytest.raises(ValueError, match=name):
        ocrb.Engine(**kwargs)


@pytest.mark.parametrize("kwargs", [
    {"space_width": 1.5}, {"space_width": "18"}, {"min_char_width": True}, {"no_such": 1},
])
def test_wrong_type_or_name_is_a_type_error(kwargs: dict) -> None:
    with pytest.raises(TypeError):
        ocrb.Engine(**kwargs)


def test_parameters_change_what_is_read(coding: Path) -> None:
    text = ocrb.Engine().read(coding).text
    assert " " in text
    assert " " not in ocrb.Engine(insert_spaces=False).read(coding).text
    # Characters at most 5 pixels tall: nothing on the line qualifies.
    assert ocrb.Engine(max_char_height=5).read(coding).text != text


@pytest.mark.parametrize("kwargs, error", [
    ({"dpi": 0}, ValueError), ({"dpi": 100001}, ValueError), ({"dpi": 2.5}, TypeError),
    ({"dpi": (200, 0)}, ValueError), ({"dpi": (200, 100, 50)}, ValueError),
    ({"dpi": (200, "100")}, TypeError),
    ({"binarise": "magic"}, ValueError),
])
def test_bad_read_options(coding: Path, kwargs: dict, error: type) -> None:
    with pytest.raises(error):
        ocrb.Engine().read(coding, **kwargs)


def test_binarisation_methods_are_accepted(block: Path) -> None:
    engine = ocrb.Engine()
    for method in ("sauvola", "normalised-otsu", "otsu"):
        assert engine.read(block, binarise=method).pages[0].width > 0
