from typing import Any

PARAMETERS: list[tuple[str, bool, int, int, int, str]]
VERSION: str
DEFAULT_TIMEOUT: float
DEFAULT_MAX_MEMORY: int
DEFAULT_MAX_FILE_SIZE: int
DEFAULT_MAX_PIXELS: int
DEFAULT_MAX_PAGES: int

_Box = tuple[int, int, int, int]
_Check = tuple[str, tuple[str, ...]]
_Figures = tuple[float, float, float, float, float]
_Line = tuple[str, list[tuple[str, float, _Box | None]], _Figures, bool, _Check | None]
_Page = tuple[int, int, int, int, list[_Line], str, int, str | None, float, int]

def check_line(text: str) -> _Check | None: ...

class Limits:
    timeout: float
    file_timeout: float
    max_memory: int
    max_file_size: int
    max_pixels: int
    max_pages: int
    deskew: bool
    orientation: int
    def __init__(self) -> None: ...

class Engine:
    def __init__(self, values: list[int]) -> None: ...
    def read_bytes(
        self, data: bytes, dpi: int, single_line: bool, best_line: bool, binarise: str,
        limits: Limits
    ) -> list[_Page]: ...
    def read_file(
        self, fd: int, dpi: int, single_line: bool, best_line: bool, binarise: str,
        limits: Limits
    ) -> list[_Page]: ...
    def read_pixels(
        self,
        data: Any,
        width: int,
        height: int,
        stride: int,
        channels: int,
        bilevel: bool,
        x_dpi: int,
        y_dpi: int,
        single_line: bool,
        best_line: bool,
        binarise: str,
        max_pixels: int,
        limits: Limits,
    ) -> list[_Page]: ...
