"""The discovery functions' strings, in the platform's string type.

On POSIX they are NUL-terminated byte strings: text in, a caller buffer of
STRING_SIZE bytes out. On Windows they are OLE Automation VARIANTs: an input is a
VARIANT holding a BSTR, which the library converts to text; an output is a VARIANT the
library sets to a BSTR that the caller frees. ``text_in`` and ``text_out`` hide the
difference from the rest of the package.
"""

from __future__ import annotations

import contextlib
import ctypes
import os
from typing import Any, Callable, Iterator, Tuple

__all__ = ["VARIANT", "VT_BSTR", "text_in", "text_in_type", "text_out", "text_out_type"]

STRING_SIZE = 256  # KMT_STRING_SIZE
VT_EMPTY = 0
VT_BSTR = 8


class _VariantValue(ctypes.Union):
    # The largest member (a record: two pointers) sets the size: 8 bytes on 32-bit
    # Windows, 16 on 64-bit.
    _fields_ = [("bstrVal", ctypes.c_void_p), ("llVal", ctypes.c_longlong),
                ("record", ctypes.c_void_p * 2)]


class VARIANT(ctypes.Structure):
    """The OLE Automation VARIANT: a type tag, three reserved words, the value."""

    _fields_ = [("vt", ctypes.c_ushort), ("wReserved1", ctypes.c_ushort),
                ("wReserved2", ctypes.c_ushort), ("wReserved3", ctypes.c_ushort),
                ("value", _VariantValue)]


_oleaut32 = None


def _ole() -> Any:
    """oleaut32 with the three functions used declared (Windows only, loaded once)."""
    global _oleaut32
    if _oleaut32 is None:
        ole = ctypes.WinDLL("oleaut32")  # type: ignore[attr-defined]
        ole.SysAllocString.argtypes = [ctypes.c_wchar_p]
        ole.SysAllocString.restype = ctypes.c_void_p
        ole.VariantInit.argtypes = [ctypes.POINTER(VARIANT)]
        ole.VariantInit.restype = None
        ole.VariantClear.argtypes = [ctypes.POINTER(VARIANT)]
        ole.VariantClear.restype = ctypes.c_long
        _oleaut32 = ole
    return _oleaut32


def _uses_variants() -> bool:
    return os.name == "nt"


def text_in_type() -> Any:
    """The ctypes argument type of a text input on this platform."""
    return ctypes.POINTER(VARIANT) if _uses_variants() else ctypes.c_char_p


def text_out_type(block_type: Any) -> Any:
    """The ctypes argument type of a text output (``block_type`` on POSIX)."""
    return ctypes.POINTER(VARIANT) if _uses_variants() else block_type


@contextlib.contextmanager
def text_in(text: str) -> Iterator[Any]:
    """Yields the argument that passes ``text`` to a discovery function; any memory it
    takes is freed when the block ends."""
    if not _uses_variants():
        yield text.encode("latin-1")
        return
    ole = _ole()
    variant = VARIANT()
    ole.VariantInit(ctypes.byref(variant))
    variant.vt = VT_BSTR
    variant.value.bstrVal = ole.SysAllocString(text)
    if not variant.value.bstrVal:
        raise MemoryError("SysAllocString failed")
    try:
        yield ctypes.byref(variant)
    finally:
        ole.VariantClear(ctypes.byref(variant))


@contextlib.contextmanager
def text_out() -> Iterator[Tuple[Any, Callable[[], str]]]:
    """Yields (argument, read): the argument receives a discovery function's output
    string, read() returns it as text. A BSTR the library stored is freed at the end."""
    if not _uses_variants():
        buffer = ctypes.create_string_buffer(STRING_SIZE)
        yield buffer, lambda: buffer.value.decode("latin-1")
        return
    ole = _ole()
    variant = VARIANT()
    ole.VariantInit(ctypes.byref(variant))

    def read() -> str:
        if variant.vt != VT_BSTR or not variant.value.bstrVal:
            return ""
        return ctypes.wstring_at(variant.value.bstrVal)

    try:
        yield ctypes.byref(variant), read
    finally:
        ole.VariantClear(ctypes.byref(variant))
