"""ocrb.dask.read_files on a LocalCluster of two worker processes, against a serial read."""

from __future__ import annotations

import time
from pathlib import Path

import pytest

import ocrb
from conftest import truth

distributed = pytest.importorskip("distributed")
import ocrb.dask  # noqa: E402


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
    with distributed.Client(cluster) as client:
        yield client
    cluster.close()


def test_batch_matches_a_serial_read_in_input_order(
        client, coding: Path, block: Path, fax: Path, two_pages: Path, tmp_path: Path) -> None:
    junk = tmp_path / "junk.png"
    junk.write_bytes(b"no image here")
    paths = [coding, block, junk, fax, tmp_path / "absent.bmp", two_pages, coding, block]
    results = ocrb.dask.read_files(paths, client=client, single_line=False)
    assert len(results) == len(paths)
    engine = ocrb.Engine()
    for path, result in zip(paths, results):
        if path in (junk, tmp_path / "absent.bmp"):
            assert not result.ok and result.source == str(path)
        else:
            assert result.ok and result == engine.read(path)
    assert results[2].kind == "ImageError" and "not an image" in results[2].error
    assert results[4].kind == "FileNotFoundError"
    # One engine per worker process, made once for the whole batch.
    made = client.run(ocrb.dask.engines_made)
    assert len(made) == 2 and all(count == 1 for count in made.values())


def test_parameters_reach_the_workers(client, coding: Path) -> None:
    [result] = ocrb.dask.read_files([coding], client=client, insert_spaces=False)
    assert result.text == ocrb.Engine(insert_spaces=False).read(coding).text
    assert " " not in result.text


def test_bad_parameters_fail_before_the_batch(client, coding: Path) -> None:
    with pytest.raises(ValueError):
        ocrb.dask.read_files([coding], client=client, space_width=0)


def test_read_options_reach_the_workers(client, mixed: Path) -> None:
    [best] = ocrb.dask.read_files([mixed], client=client, line="best")
    assert best == ocrb.Engine().read(mixed, line="best")
    assert len(best.lines) == 1 and best.lines[0].check == ocrb.Check("swiss-slip")
    [lying] = ocrb.dask.read_files([mixed], client=client, orientation=180, deskew=False)
    assert lying.pages[0].orientation == 180
    assert lying == ocrb.Engine().read(mixed, orientation=180, deskew=False)


def test_a_file_past_its_time_fails_alone(client, coding: Path, block: Path,
                                          tmp_path: Path) -> None:
    from test_untrusted import four_pages, nested_form_pdf

    endless = tmp_path / "forms.pdf"
    endless.write_bytes(nested_form_pdf())
    damaged = four_pages(tmp_path / "four.tif", coding, bad=2)
    start = time.monotonic()
    results = ocrb.dask.read_files([endless, coding, damaged, block], client=client, timeout=1)
    assert time.monotonic() - start < 30
    assert [r.ok for r in results] == [False, True, False, True]
    assert results[0].kind == "ImageError" and "timed out after 1 s" in results[0].error
    assert results[1].text == truth("coding-200dpi") and results[3].text == truth("block-300dpi")
    # The damaged file's sound pages come back with its failure.
    assert [page.error is None for page in results[2].result.pages] == [True, False, True, True]
    with pytest.raises(ValueError):
        ocrb.dask.read_files([coding], client=client, timeout=0)
