from typing import Any

PARAMETERS: list[tuple[str, bool, int, int, int, str]]
VERSION: str

_Box = tuple[int, int, int, int]
_Check = tuple[str, tuple[str, ...]]
_Figures = tuple[float, float, float, float, float]
_Line = tuple[str, list[tuple[str, float, _Box | None]], _Figures, bool, _Check | None]
_Page = tuple[int, int, int, int, list[_Line], str]

def check_line(text: str) -> _Check | None: ...

class Engine:
    def __init__(self, values: list[int]) -> None: ...
    def read_bytes(
        self, data: bytes, dpi: int, single_line: bool, best_line: bool, binarise: str
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
    ) -> list[_Page]: ...
