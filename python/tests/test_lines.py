"""What the reader makes of each line: its figures, the junk rule, the best line of a page
and the check digits of coding lines, against the command-line program and against a second
derivation of the check digit."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import ocrb
from conftest import DATA


def _truth(name: str) -> list[str]:
    return (DATA / name).read_text().splitlines()


def test_figures_agree_with_the_characters(mixed: Path, slips: Path) -> None:
    engine = ocrb.Engine()
    for path in (mixed, slips):
        for line in engine.read(path).lines:
            named = [c.confidence if c.char != "~" else 0.0 for c in line if c.char != " "]
            assert named, line.text
            assert line.mean_confidence == pytest.approx(sum(named) / len(named), abs=1e-6)
            assert line.min_confidence == pytest.approx(min(named), abs=1e-6)
            assert line.unnamed_share == pytest.approx(line.text.count("~") / len(named))
            assert 0.0 <= line.off_pitch_share <= 1.0
            assert 0.0 <= line.height_spread_share <= 1.0
            rule = (line.mean_confidence < 0.7 or line.off_pitch_share > 0.25
                    or line.height_spread_share > 0.4)
            assert line.junk == rule, line.text


def test_text_leaves_ordinary_print_out(mixed: Path) -> None:
    coding = _truth("mixed-page.gt.txt")
    result = ocrb.Engine().read(mixed)
    assert [line.junk for line in result.lines] == [True, True, True, False]
    assert result.text == coding[0]
    assert result.pages[0].text == coding[0]
    everything = result.to_text(all_lines=True)
    assert everything.split("\n") == [line.text for line in result.lines]
    assert result.to_text(check=True) == coding[0] + "\tok"


@pytest.mark.parametrize("form", ["path", "bytes", "array", "pil"])
def test_best_line_is_the_coding_line(mixed: Path, form: str) -> None:
    image = {"path": lambda: mixed, "bytes": mixed.read_bytes,
             "array": lambda: np.asarray(Image.open(mixed).convert("L")),
             "pil": lambda: Image.open(mixed)}[form]()
    result = ocrb.Engine().read(image, dpi=200, line="best")
    assert [line.text for line in result.lines] == _truth("mixed-page.gt.txt")
    assert result.lines[0].check == ocrb.Check("swiss-slip")


def test_line_choices_are_checked(mixed: Path) -> None:
    engine = ocrb.Engine()
    assert len(engine.read(mixed, line="all").lines) == 4
    with pytest.raises(ValueError, match="line must be one of all, best"):
        engine.read(mixed, line="middle")
    with pytest.raises(ValueError, match="exclude each other"):
        engine.read(mixed, single_line=True, line="best")


def test_check_results_of_coding_lines(slips: Path) -> None:
    result = ocrb.Engine().read(slips)
    assert result.to_text(check=True).split("\n") == _truth("slips.gt.txt")
    checks = [line.check for line in result.lines]
    assert checks == [ocrb.Check("swiss-slip"), ocrb.Check("swiss-slip-no-amount"),
                      ocrb.Check("swiss-slip", ("reference",)),
                      ocrb.Check("swiss-slip", ("amount", "participant")), None]
    assert [c.ok for c in checks[:4]] == [True, True, False, False]
    assert str(checks[3]) == "bad amount,participant"
    assert checks[2].to_dict() == {"layout": "swiss-slip", "ok": False, "bad": ["reference"]}


# The recursive modulo 10 written as its square table: row = carry, column = digit.
_ROWS = ["0946827135", "9468271350", "4682713509", "6827135094", "8271350946",
         "2713509468", "7135094682", "1350946827", "3509468271", "5094682713"]


def _with_check(digits: str) -> str:
    carry = 0
    for d in digits:
        carry = int(_ROWS[carry][int(d)])
    return digits + str((10 - carry) % 10)


def test_check_line_catches_every_single_substitution() -> None:
    line = (_with_check("01" + "0000012550") + ">" + _with_check("0" * 10 + "1234567890123456")
            + "+ " + _with_check("01" + "234567") + ">")
    assert ocrb.check_line(line) == ocrb.Check("swiss-slip")
    fields = ["amount"] * 13 + [""] + ["reference"] * 27 + ["", ""] + ["participant"] * 9 + [""]
    assert len(fields) == len(line)
    for k, field in enumerate(fields):
        if not field:
            continue
        for digit in "0123456789":
            if digit != line[k]:
                changed = line[:k] + digit + line[k + 1:]
                assert ocrb.check_line(changed) == ocrb.Check("swiss-slip", (field,)), changed
    assert ocrb.check_line("2020-06-30 >>> 774411+") is None
    with pytest.raises(TypeError):
        ocrb.check_line(42)  # type: ignore[arg-type]


def test_text_and_dicts_match_ocrb(mixed: Path, slips: Path) -> None:
    cli = os.environ.get("OCRB_CLI")
    if not cli:
        pytest.skip("OCRB_CLI names no ocrb program")
    engine = ocrb.Engine()
    for path in (mixed, slips):
        for args, options in (([], {}), (["--all-lines", "--check"],
                                         {"all_lines": True, "check": True})):
            printed = subprocess.run([cli, *args, str(path)], check=True, capture_output=True,
                                     text=True).stdout
            assert printed == engine.read(path).to_text(**options) + "\n"
        best = subprocess.run([cli, "--line", "best", str(path)], check=True,
                              capture_output=True, text=True).stdout
        assert best == engine.read(path, line="best").text + "\n"
