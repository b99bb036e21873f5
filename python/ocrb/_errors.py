"""Exceptions raised by ocrb."""

from __future__ import annotations

from typing import Any


class Error(RuntimeError):
    """A failure of the engine itself (it did not start, or answered out of turn).

    ``status`` is the engine's status code (an ``OCRB_STATUS_`` value, 0 when the failure
    happened before the engine was asked), ``reason`` the message without the file name.
    """

    def __init__(self, reason: str, status: int = 0) -> None:
        super().__init__(reason, status)
        self.reason = reason
        self.status = status

    def __str__(self) -> str:
        return self.reason if not self.status else f"{self.reason} [engine status {self.status}]"


class ImageError(Error):
    """The input is not an image, its image data is damaged, it exceeds a limit, or the engine
    refused it (``status`` -4 when the engine did).

    When some pages of a TIFF or PDF were read and others failed, ``result`` holds the
    :class:`ocrb.Result` of them all: the pages read, and the failed ones with their ``error``.
    It is ``None`` when nothing of the file could be read."""

    def __init__(self, reason: str, status: int = 0, result: Any = None) -> None:
        super().__init__(reason, status)
        self.result = result

    def __reduce__(self) -> tuple[Any, ...]:
        return (type(self), (self.reason, self.status, self.result))
