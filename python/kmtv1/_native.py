"""Loading libkmtv1 and declaring the C prototypes of its 56 exports.

Every argument type mirrors include/kmtv1.h exactly: ``uint32_t *`` handles,
``int32_t *`` statuses, ``uint8_t``/``uint16_t`` by value, ``double`` by value.
Byte blocks of a fixed size are declared with :class:`Block` types that refuse a
buffer shorter than the library will read or write, so even the raw functions
cannot be handed a short buffer by mistake.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import Any, Callable, List, Optional, Tuple

from . import _text

__all__ = ["Block", "LibraryNotFoundError", "PROTOTYPES", "candidates", "declare", "load"]

PAYLOAD_SIZE = 16385  # KMT_PAYLOAD_SIZE: KMT_SendComm reads and writes this much
STRING_SIZE = 256  # KMT_STRING_SIZE: each discovery output string buffer
USER_SN_SIZE = 16
USER_AREA_SIZE = 128
LINE_TABLE_SIZE = 16  # DIO_WriteMask's two per-line arrays
BLOCK_LIMIT = 64  # UART, 1-Wire and shift-register transfers per exchange
ROM_SIZE = 8


class LibraryNotFoundError(OSError):
    """No loadable libkmtv1 was found; ``tried`` lists what was attempted."""

    def __init__(self, tried: List[Tuple[str, str]]) -> None:
        self.tried = list(tried)
        lines = "\n".join("  %s: %s" % (place, why) for place, why in self.tried)
        # The fix belongs in the message: a library installed under a prefix the
        # loader does not search is the usual cause.
        hint = ("Set KMTV1_LIBRARY to the library's full path, for example "
                "KMTV1_LIBRARY=PREFIX/%s/%s after cmake --install --prefix PREFIX."
                % ("bin" if os.name == "nt" else "lib", _library_names()[0]))
        super().__init__("libkmtv1 could not be loaded; tried:\n%s\n%s" % (lines, hint))


LibraryNotFoundError.__module__ = "kmtv1"


def _library_names(os_name: str = os.name, platform: str = sys.platform) -> List[str]:
    """File names of the shared library on this platform (versioned name first)."""
    if os_name == "nt":
        return ["KMTv1dll.dll"]
    if platform == "darwin":
        return ["libkmtv1.1.dylib", "libkmtv1.dylib"]
    return ["libkmtv1.so.1", "libkmtv1.so"]


def _installed_library_dir() -> Optional[str]:
    """The library directory relative to the package, when cmake --install put the
    package beside the library (it writes _installed.py); None otherwise."""
    try:
        from . import _installed
    except ImportError:
        return None
    return _installed.LIBRARY_DIR


def candidates(environ: Any = None,
               find_library: Callable[[str], Optional[str]] = ctypes.util.find_library,
               package_dir: Optional[str] = None,
               installed_dir: Optional[str] = None) -> List[Tuple[str, str, bool]]:
    """The places tried, in order, as (description, path-or-name, required).

    ``required`` is true for an explicit KMTV1_LIBRARY: when that fails to load the
    search stops there instead of silently picking up some other copy.
    ``installed_dir`` (default: what cmake --install recorded) is the library
    directory relative to the package directory.
    """
    environ = os.environ if environ is None else environ
    package_dir = package_dir or os.path.dirname(os.path.abspath(__file__))
    explicit = environ.get("KMTV1_LIBRARY", "")
    if explicit:
        return [("KMTV1_LIBRARY", explicit, True)]
    found = []
    installed_dir = installed_dir or _installed_library_dir()
    if installed_dir:
        directory = os.path.normpath(os.path.join(package_dir, installed_dir))
        for filename in _library_names():
            found.append(("installed with the package", os.path.join(directory, filename), False))
    # On Windows find_library looks for NAME.dll on PATH: the DLL's own name.
    name = find_library("KMTv1dll" if os.name == "nt" else "kmtv1")
    if name:
        found.append(("find_library", name, False))
    for directory in (package_dir, os.path.dirname(package_dir)):
        for filename in _library_names():
            found.append(("beside the package", os.path.join(directory, filename), False))
    for filename in _library_names():
        found.append(("loader path", filename, False))
    return found


def _loader() -> Any:
    # The Windows build uses __stdcall (KMT_CALL); WinDLL matches it on 32-bit
    # Windows and is the same as CDLL on 64-bit.
    return ctypes.WinDLL if os.name == "nt" else ctypes.CDLL


def load(path: Optional[str] = None) -> Any:
    """Loads the library (from ``path`` if given, else by the search order) and
    declares every prototype on it. Raises LibraryNotFoundError."""
    places = [("argument", path, True)] if path else candidates()
    tried = []
    for description, target, required in places:
        if os.sep in target and not os.path.exists(target):
            tried.append((description, "%s does not exist" % target))
            if required:
                break
            continue
        try:
            library = _loader()(target)
        except OSError as error:
            tried.append((description, "%s: %s" % (target, error)))
            if required:
                break
            continue
        return declare(library)
    raise LibraryNotFoundError(tried)


class Block:
    """Base of the argument types for byte blocks of a fixed least size.

    Accepts None (a null pointer: the library then returns at once without
    effect), a ctypes array of one-byte elements, a bytearray, or, for blocks the
    library only reads, bytes. A buffer shorter than ``size`` is refused before the
    call. ``size`` 0 means the least size depends on another argument; the caller
    then owns the check (the Controller methods always size these right).
    """

    size = 0
    writable = True

    @classmethod
    def from_param(cls, obj: Any) -> Any:
        if obj is None:
            return None
        if isinstance(obj, ctypes.Array):
            if ctypes.sizeof(obj._type_) != 1:
                raise TypeError("expected bytes, got an array of %s" % obj._type_.__name__)
            length = len(obj)
            array = obj
        elif isinstance(obj, bytearray):
            length = len(obj)
            # An empty bytearray cannot be shared; a one-byte stand-in keeps the
            # pointer non-null (null would turn the call into a no-op).
            array = (ctypes.c_uint8 * length).from_buffer(obj) if length else (ctypes.c_uint8 * 1)()
        elif isinstance(obj, bytes) and not cls.writable:
            length = len(obj)
            array = (ctypes.c_uint8 * max(length, 1)).from_buffer_copy(obj or b"\0")
        else:
            kind = "a bytearray or a ctypes byte array"
            if not cls.writable:
                kind = "bytes, " + kind
            raise TypeError("expected %s, got %s" % (kind, type(obj).__name__))
        if length < cls.size:
            raise ValueError("buffer of %d bytes is shorter than the %d bytes the library uses"
                             % (length, cls.size))
        return array


def _block(size: int, writable: bool) -> type:
    name = "Block%d%s" % (size, "Out" if writable else "In")
    return type(name, (Block,), {"size": size, "writable": writable})


_H = ctypes.POINTER(ctypes.c_uint32)  # handle, in-out
_S = ctypes.POINTER(ctypes.c_int32)  # status, out
_U8 = ctypes.c_uint8
_U16 = ctypes.c_uint16
_I32 = ctypes.c_int32
_U32 = ctypes.c_uint32
_F64 = ctypes.c_double
_PU8 = ctypes.POINTER(ctypes.c_uint8)
_PU16 = ctypes.POINTER(ctypes.c_uint16)
_PU32 = ctypes.POINTER(ctypes.c_uint32)
_PI32 = ctypes.POINTER(ctypes.c_int32)
_PF64 = ctypes.POINTER(ctypes.c_double)
# Discovery strings: const char * in, a 256-byte buffer out; VARIANT * both ways on
# Windows.
_TEXT = _text.text_in_type()

_PAYLOAD = _block(PAYLOAD_SIZE, True)
_STRING_OUT = _text.text_out_type(_block(STRING_SIZE, True))
_USER_SN_IN, _USER_SN_OUT = _block(USER_SN_SIZE, False), _block(USER_SN_SIZE, True)
_USER_AREA_IN, _USER_AREA_OUT = _block(USER_AREA_SIZE, False), _block(USER_AREA_SIZE, True)
_LINE_TABLE_IN = _block(LINE_TABLE_SIZE, False)
_BLOCK_OUT = _block(BLOCK_LIMIT, True)
_ROM_OUT = _block(ROM_SIZE, True)
_SETTING_IN = _block(1, False)
# Sizes that depend on a count argument: min(count, 64) for UART_Write, WR1_WriteSome,
# WR1_ReadSome and hc595_Write; min(count, 4000) + 1 for DIO_ScanPort; min(length, 2000)
# for DO_WaveOut.
_VARIABLE_IN, _VARIABLE_OUT = _block(0, False), _block(0, True)

# name: argument types, in header order. Every export returns void.
PROTOTYPES = {
    # Raw exchange
    "KMT_SendComm": [_H, _U16, _U8, _U8, _I32, _PAYLOAD, _PU16, _S],
    # Discovery and connection
    "KMT_CreateListDevs": [_TEXT, _PI32, _PI32],
    "KMT_GetTypeAndSNbyIndex": [_I32, _STRING_OUT, _STRING_OUT, _PI32],
    "KMT_InitBySN": [_H, _TEXT, _S],
    "KMT_Close": [_H, _U32],
    "KMT_GetDriverVersion": [_PI32, _PI32, _PI32],
    # System and identity
    "SYS_GetDriverType": [_PU16],
    "SYS_GetFirmWare": [_H, _PU16, _PU16, _PU16, _PU16, _S],
    "SYS_WriteUserSN": [_H, _USER_SN_IN, _S],
    "SYS_ReadUserSN": [_H, _USER_SN_OUT, _S],
    "SYS_WriteUserArea": [_H, _USER_AREA_IN, _S],
    "SYS_ReadUserArea": [_H, _USER_AREA_OUT, _S],
    "WatchDog": [_H, _U8, _S],
    "SYS_ReadCount": [_H, _PU32, _S],
    # Digital I/O
    "DIO_SetBitMode": [_H, _U8, _U8, _S],
    "DIO_WriteBit": [_H, _U8, _U8, _S],
    "DIO_ReadPort": [_H, _U8, _PU8, _S],
    "DIO_WritePort": [_H, _U8, _U8, _S],
    "DIO_SetPortMode": [_H, _U8, _U8, _S],
    "DIO_WriteMask": [_H, _LINE_TABLE_IN, _LINE_TABLE_IN, _S],
    # Analog I/O
    "AI_SimpleRead": [_H, _PF64, _PF64, _PF64, _PF64, _S],
    "AI_SimpleReadTimer": [_H, _PF64, _PF64, _PF64, _PF64, _PU32, _S],
    "AI_ReadCh4": [_H, _U8, _PF64, _S],
    "AI_ReadCh4Timer": [_H, _U8, _PF64, _PU32, _S],
    "AO_SimpleWrite": [_H, _U8, _F64, _S],
    "AO_SetDACDivider": [_H, _U16, _S],
    # I2C and SPI masters
    "I2C_Init": [_H, _S],
    "I2C_Start": [_H, _S],
    "I2C_Stop": [_H, _S],
    "I2C_Write": [_H, _U8, _PU8, _S],
    "I2C_Read": [_H, _U8, _PU8, _S],
    "I2C_SetTimeClock": [_H, _U8, _S],
    "SPI_Init": [_H, _SETTING_IN, _S],
    "SPI_Byte": [_H, _U8, _PU8, _S],
    "SPI_SetTimeClock": [_H, _U8, _S],
    "SPI_Bit": [_H, _U8, _PU8, _S],
    # UART bridge
    "UART_Init": [_H, _U16, _U8, _U8, _S],
    "UART_Interrupt": [_H, _U8, _S],
    "UART_Close": [_H, _S],
    "UART_SetTimeOut": [_H, _U16, _S],
    "UART_Read": [_H, _PU16, _BLOCK_OUT, _PU8, _PU8, _S],
    "UART_Write": [_H, _U16, _VARIABLE_IN, _S],
    # 1-Wire master
    "WR1_Init": [_H, _PU8, _S],
    "WR1_Read": [_H, _PU8, _S],
    "WR1_Write": [_H, _U8, _PU8, _S],
    "WR1_WriteSome": [_H, _U16, _VARIABLE_OUT, _S],
    "WR1_SearchRom": [_H, _PU8, _ROM_OUT, _S],
    "WR1_ReadSome": [_H, _U16, _VARIABLE_OUT, _S],
    # Generator, pulse counter and shift-register expansion
    "Gen_Generate": [_H, _U16, _U16, _U16, _S],
    "exp1_Init": [_H, _S],
    "hc595_Write": [_H, _U8, _VARIABLE_IN, _S],
    "hc165_Read": [_H, _PU8, _BLOCK_OUT, _S],
    "CountImp": [_H, _U16, _PU16, _S],
    # Block acquisition and waveform output
    "AI_Read": [_H, _U8, _U8, _U8, _U8, _U8, _U8, _U16, _U16, _U16, _U16, _F64,
                _PU8, _PU32, _PU16, _PU16, _PU16, _PU16, _PI32, _PF64, _S],
    "DIO_ScanPort": [_H, _U8, _U8, _U16, _U16, _U16, _U16, _PU8, _VARIABLE_OUT, _PF64, _S],
    "DO_WaveOut": [_H, _U16, _U16, _VARIABLE_IN, _S],
}


def declare(library: Any) -> Any:
    """Sets argtypes and restype of every export on a loaded library; returns it."""
    for name, argtypes in PROTOTYPES.items():
        function = getattr(library, name)
        function.argtypes = argtypes
        function.restype = None
    return library
