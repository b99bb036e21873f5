"""Read numeric OCR-B text (``0123456789+-><#``) from images.

>>> import ocrb
>>> engine = ocrb.Engine()
>>> result = engine.read("examples/coding-200dpi.bmp")
>>> print(result.text)
0100000123456>120000019876543210005+ 010304565>

``Engine.read`` takes a path, the bytes of an image file, a PIL image or a numpy array and
returns a :class:`Result`: its pages, their lines, and every character with its confidence
and box. Each line carries its figures (mean and least confidence, share of unnamed
glyphs), whether it reads as junk (ordinary print named as digits; ``text`` leaves such
lines out) and, for a coding line of a known layout, what its check digits say. An engine
serves one thread at a time; give each thread its own (the engine releases the GIL while it
reads, so such threads run in parallel). ``ocrb.dask`` reads batches of files on a Dask
cluster.
"""

from __future__ import annotations

import inspect
import os
import sys
from dataclasses import dataclass, field
from typing import Any, Iterator, Optional, Union

from . import _ocrb
from ._errors import Error, ImageError

__all__ = ["Engine", "Result", "Page", "Line", "Char", "Check", "check_line", "Error",
           "ImageError", "__version__"]
__version__: str = _ocrb.VERSION

Box = tuple[int, int, int, int]
ImageInput = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, Any]

_MAX_DPI = 100000
_BINARISATIONS = ("sauvola", "normalised-otsu", "otsu")
_LINE_CHOICES = ("all", "best")


@dataclass(frozen=True)
class Char:
    """One recognised character: ``char`` is one of ``0123456789+-><#``, ``~`` for a glyph
    the engine could not name, or ``" "`` for an inserted space (which has no box).
    ``box`` is ``(left, top, right, bottom)``, inclusive, in the image's pixels."""

    char: str
    confidence: float
    box: Optional[Box]

    def to_dict(self) -> dict[str, Any]:
        return {"char": self.char, "confidence": self.confidence,
                "box": list(self.box) if self.box is not None else None}


@dataclass(frozen=True)
class Check:
    """What the check digits of a coding line say. ``layout`` is ``"swiss-slip"`` (the
    Swiss payment slip's coding line with amount: type, amount and check digit, ``>``,
    27-digit reference, ``+``, 9-digit participant number, ``>``) or
    ``"swiss-slip-no-amount"`` (the same with only type and check digit before the first
    ``>``, as in ``042>``). ``bad`` names the fields whose recursive modulo 10 check digit
    fails, in line order: ``"amount"`` (the block before the first ``>``), ``"reference"``,
    ``"participant"``; a field holding anything but digits fails too. ``str()`` gives
    ``"ok"`` or ``"bad reference"`` as ``ocrb --check`` prints it."""

    layout: str
    bad: tuple[str, ...] = ()

    @property
    def ok(self) -> bool:
        return not self.bad

    def __str__(self) -> str:
        return "ok" if self.ok else "bad " + ",".join(self.bad)

    def to_dict(self) -> dict[str, Any]:
        return {"layout": self.layout, "ok": self.ok, "bad": list(self.bad)}


@dataclass(frozen=True)
class Line:
    """One line of text, top to bottom within its page, with its figures.

    The figures count the characters other than spaces: ``mean_confidence`` and
    ``min_confidence`` (``~`` counts as 0), ``unnamed_share`` (the share of ``~``),
    ``off_pitch_share`` (steps between neighbours more than a fifth of a pitch off a whole
    number of the line's character pitches; 0 with fewer than 8 steps) and
    ``height_spread_share`` (digits more than a quarter taller or shorter than the line's
    median digit; 0 with fewer than 8 digits). ``junk`` is the rule ``ocrb`` uses to leave
    a line out of text output: mean confidence below 0.7 with median confidence below 0.9,
    off-pitch share above 0.25, or
    height-spread share above 0.4 (a line of spaces only is never junk). ``check`` is
    ``None`` unless the line has a known coding-line layout (:class:`Check`)."""

    text: str
    chars: tuple[Char, ...]
    mean_confidence: float = 0.0
    min_confidence: float = 0.0
    unnamed_share: float = 0.0
    off_pitch_share: float = 0.0
    height_spread_share: float = 0.0
    junk: bool = False
    check: Optional[Check] = None

    @property
    def confidences(self) -> list[float]:
        return [c.confidence for c in self.chars]

    def __iter__(self) -> Iterator[Char]:
        return iter(self.chars)

    def to_dict(self) -> dict[str, Any]:
        return {"text": self.text, "mean_confidence": self.mean_confidence,
                "min_confidence": self.min_confidence, "unnamed_share": self.unnamed_share,
                "off_pitch_share": self.off_pitch_share,
                "height_spread_share": self.height_spread_share, "junk": self.junk,
                "check": self.check.to_dict() if self.check is not None else None,
                "chars": [c.to_dict() for c in self.chars]}

    def _shown(self, check: bool) -> str:
        return self.text + (f"\t{self.check}" if check and self.check is not None else "")


@dataclass(frozen=True)
class Page:
    """One page: its size in pixels, the resolution the engine read it at (0 when none was
    stated or given; the engine then assumes 200 dpi) and its lines. A page of a TIFF or PDF
    that could not be read has its reason in ``error``, and no size and no lines."""

    number: int
    width: int
    height: int
    xdpi: int
    ydpi: int
    lines: tuple[Line, ...]
    # Where xdpi and ydpi came from, as in ocrb -f json: "file", "option", "estimated", "none".
    dpi_source: str = field(default="none", compare=False)
    error: Optional[str] = None
    # How the page was turned before it was read, as in ocrb -f json: by skew_degrees to level
    # it (positive: it fell to the right as scanned), after a quarter turn of orientation
    # degrees clockwise. Boxes are in the pixels of the page as given.
    skew_degrees: float = field(default=0.0, compare=False)
    orientation: int = field(default=0, compare=False)
    # The resolution the image states, (x, y), whether or not it was read at it; None when it
    # states none. A PIL image's info["dpi"] counts as stated.
    stated_dpi: Optional[tuple[int, int]] = field(default=None, compare=False)

    @property
    def text(self) -> str:
        """The lines that are not junk, joined by newlines."""
        return self.to_text()

    def to_text(self, *, all_lines: bool = False, check: bool = False) -> str:
        """The page as ``ocrb`` prints it, without the last newline: junk lines left out
        unless ``all_lines``; with ``check``, a coding line of a known layout followed by a
        tab and its :class:`Check` (``ocrb --all-lines --check``)."""
        return "\n".join(line._shown(check) for line in self.lines if all_lines or not line.junk)

    def to_dict(self) -> dict[str, Any]:
        if self.error is not None:
            return {"page": self.number, "error": self.error, "lines": []}
        return {"page": self.number, "width": self.width, "height": self.height,
                "xdpi": self.xdpi, "ydpi": self.ydpi, "dpi_source": self.dpi_source,
                "stated_dpi": list(self.stated_dpi) if self.stated_dpi is not None else None,
                "skew_degrees": self.skew_degrees, "orientation": self.orientation,
                "lines": [line.to_dict() for line in self.lines]}


@dataclass(frozen=True)
class Result:
    """Everything read from one input: every page of a multi-page file, in order.

    ``text`` holds the lines that are not junk, separated by newlines, and the pages by a
    form-feed line, as ``ocrb`` prints them (``to_text()`` takes ``ocrb``'s
    ``--all-lines`` and ``--check``); ``lines`` the lines of all pages, junk included;
    ``to_dict()`` the structure of one file in ``ocrb -f json``."""

    pages: tuple[Page, ...]
    source: Optional[str] = None
    ok: bool = field(default=True, init=False)

    def __post_init__(self) -> None:
        # A result with a failed page comes only with the ImageError that reports it.
        object.__setattr__(self, "ok", all(page.error is None for page in self.pages))

    @property
    def lines(self) -> list[Line]:
        return [line for page in self.pages for line in page.lines]

    @property
    def text(self) -> str:
        return self.to_text()

    def to_text(self, *, all_lines: bool = False, check: bool = False) -> str:
        """Every page's :meth:`Page.to_text`, pages separated by a form-feed line."""
        return "\n\f\n".join(page.to_text(all_lines=all_lines, check=check)
                              for page in self.pages)

    def to_dict(self) -> dict[str, Any]:
        return {"file": self.source, "pages": [page.to_dict() for page in self.pages]}


def _check(raw: Optional[tuple[str, tuple[str, ...]]]) -> Optional[Check]:
    return None if raw is None else Check(raw[0], tuple(raw[1]))


def check_line(text: str) -> Optional[Check]:
    """Checks ``text`` as a coding line, as ``ocrb --check`` does (spaces are ignored):
    ``None`` when it has no known layout, else a :class:`Check`.

    >>> str(ocrb.check_line("0100003949753>120000000000234478943216899+ 010001628>"))
    'ok'
    """
    if not isinstance(text, str):
        raise TypeError(f"check_line() takes a str, not {type(text).__name__}")
    return _check(_ocrb.check_line(text))


def _pages(raw: list[Any], first: int = 1) -> list[Page]:
    pages = []
    for offset, (width, height, xdpi, ydpi, lines, dpi_source, number, error, skew,
                 orientation, stated) in enumerate(raw):
        pages.append(Page(first + offset if first > 1 else number, width, height, xdpi, ydpi,
                          tuple(Line(text, tuple(Char(c, conf, box) for c, conf, box in chars),
                                     *figures, junk, _check(check))
                                for text, chars, figures, junk, check in lines),
                          dpi_source, error, round(skew, 2), orientation, stated))
    return pages


def _result(pages: list[Page], source: Optional[str] = None) -> Result:
    """The Result of Pages; raises ImageError, holding it, when a page failed."""
    result = Result(tuple(pages), source)
    failed = [page for page in pages if page.error is not None]
    if failed:
        reason = "; ".join(page.error for page in failed)  # type: ignore[misc]
        raise ImageError(reason, 0, result)
    return result


def _parameter_name(name: str) -> str:
    return name.replace("-", "_")


def _parameters_doc() -> str:
    """The list of parameters in Engine's documentation, from the engine's own table."""
    rows = []
    for name, flag, low, high, default, meaning in _ocrb.PARAMETERS:
        if flag:
            rows.append(f"    - ``{_parameter_name(name)}`` (bool): {meaning} "
                        f"[{'on' if default else 'off'}]")
        else:
            rows.append(f"    - ``{_parameter_name(name)}``: {meaning}, {low}..{high} [{default}]")
    return "\n".join(rows)


class Engine:
    __doc__ = f"""A recognition engine with its parameters.

    Every parameter is optional and given by name; ``None`` keeps the engine's default.
    Sizes are pixels of a 200 dpi image, scaled to each image's resolution. With their
    ranges and [defaults]:

{_parameters_doc()}

    A value outside its range raises ``ValueError``, a value of the wrong type or an unknown
    name ``TypeError``. One engine serves one thread at a time: a second thread calling
    ``read`` while the first is still reading gets a ``RuntimeError``; create one engine per
    thread instead.
    """

    def __init__(self, **given: Optional[int]) -> None:
        known = {_parameter_name(row[0]) for row in _ocrb.PARAMETERS}
        for key in given:
            if key not in known:
                raise TypeError(f"Engine() got an unexpected keyword argument '{key}'")
        values: list[int] = []
        self._parameters: dict[str, int] = {}
        for name, flag, _low, _high, default, _meaning in _ocrb.PARAMETERS:
            key = _parameter_name(name)
            value = given.get(key)
            if value is None:
                value = default
            elif flag and not isinstance(value, (bool, int)):
                raise TypeError(f"{key} must be True or False, not {type(value).__name__}")
            elif not flag and (isinstance(value, bool) or not isinstance(value, int)):
                raise TypeError(f"{key} must be an int, not {type(value).__name__}")
            value = int(value)
            if flag and value not in (0, 1):
                raise ValueError(f"{key} must be True or False, not {value}")
            values.append(value)
            self._parameters[key] = value
        self._engine = _ocrb.Engine(values)  # checks the ranges, raises ValueError

    @property
    def parameters(self) -> dict[str, int]:
        """Every parameter by name, as the engine uses it."""
        return dict(self._parameters)

    def __repr__(self) -> str:
        changed = {k: v for k, v in self._parameters.items() if v != _DEFAULTS[k]}
        return "ocrb.Engine(" + ", ".join(f"{k}={v}" for k, v in changed.items()) + ")"

    def read(
        self,
        image: ImageInput,
        *,
        dpi: Union[int, tuple[int, int], None] = None,
        single_line: bool = False,
        line: str = "all",
        binarise: str = "sauvola",
        timeout: Optional[float] = None,
        file_timeout: Optional[float] = None,
        max_memory: Optional[int] = None,
        max_file_size: Optional[int] = None,
        max_pixels: Optional[int] = None,
        max_pages: Optional[int] = None,
        deskew: bool = True,
        orientation: Union[str, int] = "auto",
    ) -> Result:
        """Reads every page of ``image`` and returns a :class:`Result`.

        ``image`` is a path, the bytes of an image file (any format Leptonica reads: BMP,
        PNG, TIFF with all its pages, JPEG, PNM, GIF, WebP, and PDF), a PIL image (every
        frame), or a numpy array: ``bool`` (True is ink), ``uint8`` grey (H, W) or colour
        (H, W, 3 or 4). Grey and colour are made black and white with ``binarise``
        ("sauvola", "normalised-otsu" or "otsu"), as ``ocrb --binarise`` does. ``dpi`` is the
        resolution every page is read at, whatever the image states, as ``ocrb --dpi`` does
        (``dpi_source`` "option"); arrays and PIL images may have ``(x, y)`` for pixels that
        are not square. Without it, a page is read at the resolution its image states (a
        file's header, a PIL image's ``info["dpi"]``) unless the height of its digits says
        that is off by more than a third, and one that states none (arrays never do) at the
        resolution its digits give (``dpi_source`` "estimated"); ``stated_dpi`` keeps what
        the image states. ``single_line`` reduces each page
        to the line nearest its middle (the engine's single-line mode); ``line="best"``
        reduces it to its best line instead, as ``ocrb --line best`` does: lines rank by
        check digits that hold, then a known coding-line layout, then not being junk, then
        the summed confidence of their characters other than spaces and ``~``; ties go to
        the upper line.

        ``deskew`` levels a page turned by a tenth of a degree or more before it is read,
        as ``ocrb --deskew auto`` does (``False``: ``--deskew off``); a level 1-bit page,
        a ``bool`` array or a PIL image of mode "1" included, is measured only when its
        lines read poorly or show a turn. ``orientation`` "auto" also reads a page that
        reads poorly turned by 90, 180 and 270 degrees and keeps the turn that reads best;
        0, 90, 180 or 270 turns every page clockwise by that much. Each page tells both in
        ``skew_degrees`` and ``orientation``; boxes stay in the pixels of the image given.

        Files are decoded by a process of their own, bounded as ``ocrb`` bounds it:
        ``timeout`` (seconds for each page of a PDF and for the whole of any other file),
        ``max_memory`` (bytes of its address space), ``max_file_size``, ``max_pixels`` (of
        an image or page, arrays and PIL images included) and ``max_pages``; ``None`` keeps
        ``ocrb``'s default (``ocrb --help``). ``file_timeout`` bounds the whole file, its
        pages' reading by the engine included (no bound by default). A path is read no
        further than ``max_file_size``, and a device or pipe is given up at once when its
        first bytes are no image.

        Raises ``ocrb.ImageError`` when the input is not an image, is damaged or exceeds a
        limit; when some pages of a TIFF or PDF failed, its ``result`` holds the pages read
        and the failed ones with their ``error``. Raises ``OSError`` when a path cannot be
        read, ``TypeError`` for inputs of another kind and ``ValueError`` for bad arguments.
        16-bit and floating-point PIL images are read at 8 bits, as a decoder reads a 16-bit
        file (integer images holding no value above 255 are taken as 8-bit; floating-point
        images must hold 0..1 or 0..255); others are refused with ``ImageError``.
        """
        xy = (0, 0) if dpi is None else _check_dpi(dpi)
        dpi_value = xy[0]
        if binarise not in _BINARISATIONS:
            raise ValueError(f"binarise must be one of {', '.join(_BINARISATIONS)}, not {binarise!r}")
        single = bool(single_line)
        if line not in _LINE_CHOICES:
            raise ValueError(f"line must be one of {', '.join(_LINE_CHOICES)}, not {line!r}")
        best = line == "best"
        if single and best:
            raise ValueError("single_line and line='best' exclude each other")
        limits = _limits(timeout, file_timeout, max_memory, max_file_size, max_pixels, max_pages)
        limits.deskew = bool(deskew)
        if orientation == "auto":
            limits.orientation = -1
        elif orientation in (0, 90, 180, 270) and not isinstance(orientation, bool):
            limits.orientation = int(orientation)
        else:
            raise ValueError(f"orientation must be 'auto', 0, 90, 180 or 270, not {orientation!r}")
        pixel_limit = limits.max_pixels or _ocrb.DEFAULT_MAX_PIXELS

        if isinstance(image, (str, os.PathLike, bytes, bytearray, memoryview)) and xy[0] != xy[1]:
            raise ValueError("image files take one dpi for both directions, as ocrb --dpi does")
        if isinstance(image, (str, os.PathLike)):
            with open(image, "rb") as file:
                raw = self._engine.read_file(file.fileno(), dpi_value, single, best, binarise,
                                             limits)
            return _result(_pages(raw), os.fspath(image))
        if isinstance(image, (bytes, bytearray, memoryview)):
            raw = self._engine.read_bytes(bytes(image), dpi_value, single, best, binarise,
                                          limits)
            return _result(_pages(raw))
        if _is_pil_image(image):
            return _result(self._read_pil(image, xy, single, best, binarise, pixel_limit, limits))
        if hasattr(image, "__array_interface__") or hasattr(image, "__array__"):
            raw = self._read_array(image, xy, single, best, binarise, pixel_limit, limits)
            return _result(_pages(raw))
        raise TypeError("read() takes a path, bytes, a PIL image or a numpy array, not "
                        + type(image).__name__)

    def _read_array(self, image: Any, dpi: tuple[int, int], single: bool, best: bool,
                    binarise: str, max_pixels: int, limits: Any) -> list[Any]:
        import numpy as np

        array = np.asarray(image)
        if array.ndim == 3 and array.shape[2] == 1:
            array = array[:, :, 0]
        # The size is checked before anything of it is converted or copied.
        if array.ndim in (2, 3):
            _check_pixels(array.shape[1], array.shape[0], max_pixels)
        if array.dtype == np.bool_:
            if array.ndim != 2:
                raise ValueError(f"a bool image has shape (height, width), not {array.shape}")
            bilevel = True
            array = np.ascontiguousarray(array).view(np.uint8)
        elif array.dtype == np.uint8:
            bilevel = False
            if array.ndim not in (2, 3) or (array.ndim == 3 and array.shape[2] not in (3, 4)):
                raise ValueError("a uint8 image has shape (height, width) or (height, width, 3 "
                                 f"or 4), not {array.shape}")
            array = np.ascontiguousarray(array)
        else:
            raise TypeError(f"arrays of bool or uint8 are read, not {array.dtype}")
        height, width = array.shape[:2]
        channels = 1 if array.ndim == 2 else array.shape[2]
        if width == 0 or height == 0:
            raise ValueError(f"the image is empty: shape {array.shape}")
        return self._engine.read_pixels(array, width, height, array.strides[0], channels,
                                        bilevel, 0, 0, dpi[0], dpi[1], single, best, binarise,
                                        max_pixels, limits)

    def _read_pil(self, image: Any, dpi: tuple[int, int], single: bool, best: bool,
                  binarise: str, max_pixels: int, limits: Any) -> list[Page]:
        from PIL import ImageSequence

        pages: list[Page] = []
        for frame in ImageSequence.Iterator(image):
            width, height = frame.size
            _check_pixels(width, height, max_pixels)
            # What the image states is checked against its digits as a file's is; the one given
            # wins over both.
            stated = tuple(min(_MAX_DPI, max(0, round(float(v))))
                           for v in (frame.info.get("dpi") or (0, 0))[:2])
            if len(stated) != 2:
                stated = (0, 0)
            bilevel = False
            if frame.mode == "1":
                # PIL's bilevel images hold paper as 1: the engine wants ink as nonzero.
                frame = frame.convert("L").point(lambda v: 255 if v == 0 else 0)
                bilevel = True
            elif frame.mode in ("RGBA", "LA", "PA") or (
                    frame.mode == "P" and "transparency" in frame.info):
                frame = frame.convert("RGBA")
            elif frame.mode in _WIDE_MODES:
                raw = self._engine.read_pixels(_wide_to_grey(frame), width, height, width, 1,
                                               False, stated[0], stated[1], dpi[0], dpi[1],
                                               single, best, binarise, max_pixels, limits)
                pages.extend(_pages(raw, first=len(pages) + 1))
                continue
            elif frame.mode not in ("L", "RGB"):
                frame = frame.convert("RGB")
            channels = {"L": 1, "RGB": 3, "RGBA": 4}[frame.mode]
            raw = self._engine.read_pixels(frame.tobytes(), width, height, width * channels,
                                           channels, bilevel, stated[0], stated[1], dpi[0],
                                           dpi[1], single, best, binarise, max_pixels, limits)
            pages.extend(_pages(raw, first=len(pages) + 1))
        return pages


# PIL's modes of more than 8 bits a sample: 16-bit, 32-bit integer and floating point.
_WIDE_MODES = ("I;16", "I;16L", "I;16B", "I;16N", "I", "F")


def _wide_to_grey(frame: Any) -> Any:
    """The 8-bit grey of a 16-bit, 32-bit integer or floating-point PIL image: the high byte
    of 16 bits, as decoders read 16-bit files. Raises ImageError for values that have no
    faithful 8-bit reading."""
    import numpy as np

    values = np.asarray(frame)
    if frame.mode == "F":
        if not np.isfinite(values).all():
            raise ImageError("a floating-point image holding values that are not finite")
        low, high = float(values.min()), float(values.max())
        if low < 0 or high > 255:
            raise ImageError(f"a floating-point image of values {low:g}..{high:g}: only 0..1 "
                             "and 0..255 have an 8-bit reading")
        scale = 255.0 if high <= 1.0 else 1.0
        return np.ascontiguousarray(np.rint(values * scale).astype(np.uint8))
    values = values.astype(np.int64, copy=False)
    low, high = int(values.min()), int(values.max())
    if low < 0 or high > 65535:
        raise ImageError(f"an integer image of values {low}..{high}: only 0..65535 has an "
                         "8-bit reading")
    if frame.mode == "I" and high <= 255:
        return np.ascontiguousarray(values.astype(np.uint8))
    return np.ascontiguousarray((values >> 8).astype(np.uint8))


def _check_pixels(width: int, height: int, max_pixels: int) -> None:
    if width * height > max_pixels:
        raise ImageError(f"the image ({width} x {height} pixels) exceeds max_pixels "
                         f"({max_pixels})")


def _limits(timeout: Optional[float], file_timeout: Optional[float], max_memory: Optional[int],
            max_file_size: Optional[int], max_pixels: Optional[int],
            max_pages: Optional[int]) -> Any:
    """The bounds of one read for the compiled module; 0 keeps ocrb's default."""
    limits = _ocrb.Limits()
    for name, value in (("timeout", timeout), ("file_timeout", file_timeout)):
        if value is None:
            continue
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise TypeError(f"{name} must be a number of seconds, not {type(value).__name__}")
        if not 0 < value <= 86400:
            raise ValueError(f"{name} must be above 0 and at most 86400 seconds, not {value!r}")
        setattr(limits, name, float(value))
    for name, value, low in (("max_memory", max_memory, 64 << 20),
                             ("max_file_size", max_file_size, 1),
                             ("max_pixels", max_pixels, 1), ("max_pages", max_pages, 1)):
        if value is None:
            continue
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"{name} must be an int, not {type(value).__name__}")
        high = 1000000 if name == "max_pages" else 1 << 40
        if not low <= value <= high:
            raise ValueError(f"{name} must be within {low}..{high}, not {value}")
        setattr(limits, name, value)
    return limits


def _check_dpi(dpi: Any) -> tuple[int, int]:
    pair = dpi if isinstance(dpi, tuple) else (dpi, dpi)
    if len(pair) != 2:
        raise ValueError(f"dpi is one int or a pair (x, y), not {dpi!r}")
    for value in pair:
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"dpi must be an int or a pair of ints, not {dpi!r}")
        if not 1 <= value <= _MAX_DPI:
            raise ValueError(f"dpi must be within 1..{_MAX_DPI}, not {dpi!r}")
    return pair[0], pair[1]


def _is_pil_image(image: Any) -> bool:
    pil = sys.modules.get("PIL.Image")
    return pil is not None and isinstance(image, pil.Image)


_DEFAULTS = {_parameter_name(p[0]): p[4] for p in _ocrb.PARAMETERS}
# Engine's keywords, one for each parameter of the engine's table, for help() and editors.
Engine.__init__.__signature__ = inspect.Signature(  # type: ignore[attr-defined]
    [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    + [inspect.Parameter(_parameter_name(p[0]), inspect.Parameter.KEYWORD_ONLY, default=None,
                         annotation=Optional[bool] if p[1] else Optional[int])
       for p in _ocrb.PARAMETERS])
