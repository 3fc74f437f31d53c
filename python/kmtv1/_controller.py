"""The Python face of libkmtv1: discovery, the Controller class and its results."""

from __future__ import annotations

import ctypes
import math
import threading
from ctypes import byref
from typing import Any, Iterable, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _native, _text

try:  # Block results are NumPy arrays when NumPy is there, lists otherwise.
    import numpy as _np
except ImportError:  # pragma: no cover - depends on the environment
    _np = None

__all__ = [
    "Acquisition", "Controller", "ControllerInfo", "KmtError", "NoResponseError",
    "NotOpenError", "OutOfRangeError", "PortScan", "RomSearch", "UartData", "UnknownTypeError",
    "driver_type", "library", "list_controllers", "version",
]

STATUS_OK = 0
STATUS_NOT_OPEN = 1
STATUS_BAD_RESPONSE = 2
STATUS_UNKNOWN_TYPE = 3
STATUS_OUT_OF_RANGE = 4

# The controller's limits, refused before anything is sent rather than clamped.
LINES = 12  # digital lines 0..11
PORTS = 2  # digital ports 0 and 1
ANALOG_INPUTS = 4  # inputs 1..4 (channel bytes 0..3)
ANALOG_OUTPUTS = 2  # outputs 0 and 1
FULL_SCALE_VOLTS = 5.0  # analog inputs and outputs span 0..5 V
MAX_ACQUISITION_COUNT = 2000  # AI_Read: sample_count + 1 sample groups
MAX_SCAN_COUNT = 4000  # DIO_ScanPort: sample_count + 1 port bytes
MAX_SAMPLE_DELAY = 3000  # microseconds added per instant
MAX_WAVE_LENGTH = 2000
# The library's timing model of a block acquisition, in microseconds: one conversion
# per selected input, a fixed share per instant, and the delay word sent (delay + 6).
CONVERSION_US = 108.7663
INSTANT_US = 19.2327
DELAY_OFFSET_US = 6


class KmtError(Exception):
    """A library call reported a non-zero status.

    ``status`` is the value the library reported, ``function`` the C function that
    reported it (for example ``"DIO_ReadPort"``). The subclasses name the device
    statuses, so each can be caught on its own.
    """

    text = "driver status %d"

    def __init__(self, function: str, status: int, detail: Optional[str] = None) -> None:
        self.function = function
        self.status = status
        text = detail or (self.text % status if "%d" in self.text else self.text)
        super().__init__("%s failed with status %d: %s" % (function, status, text))


class NotOpenError(KmtError):
    """Status 1: no device open (or it could not be opened), or the request write failed."""

    text = "no device open, or the request write failed"


class NoResponseError(KmtError):
    """Status 2: no response, a short or corrupt response, or the controller refused."""

    text = "no response, a bad response, or the controller refused the request"


class UnknownTypeError(KmtError):
    """Status 3: the device type name given to discovery is not known."""

    text = "unknown device type name"


class OutOfRangeError(KmtError, ValueError):
    """Status 4: an argument the controller cannot take; nothing was sent."""

    text = "argument out of range; nothing was sent"


for _cls in (KmtError, NotOpenError, NoResponseError, UnknownTypeError, OutOfRangeError):
    _cls.__module__ = "kmtv1"  # tracebacks name them as users import them

_DEVICE_ERRORS = {STATUS_NOT_OPEN: NotOpenError, STATUS_BAD_RESPONSE: NoResponseError,
                  STATUS_UNKNOWN_TYPE: UnknownTypeError, STATUS_OUT_OF_RANGE: OutOfRangeError}


def error_for(function: str, status: int, detail: Optional[str] = None) -> KmtError:
    """The exception for a non-zero status of ``function``. Listing reports driver
    statuses, which are not the device statuses: only its 3 has a class of its own."""
    if function == "KMT_CreateListDevs":
        cls = UnknownTypeError if status == STATUS_UNKNOWN_TYPE else KmtError
    else:
        cls = _DEVICE_ERRORS.get(status, KmtError)
    return cls(function, status, detail)


# The library serves one calling thread at a time and ctypes releases the GIL during
# a call, so every call made through this module is serialised here.
_lock = threading.RLock()
_library = None


def library() -> Any:
    """The loaded library with all prototypes declared (loaded on first use)."""
    global _library
    with _lock:
        if _library is None:
            _library = _native.load()
        return _library


def _check_int(name: str, value: Any, low: int, high: int, what: str = "") -> int:
    """Refuses anything but an int in low..high; the message states the allowed range."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int, not %s" % (name, type(value).__name__))
    if not low <= value <= high:
        raise ValueError("%s must be in %d..%d%s, got %d" % (name, low, high, what, value))
    return value


def _u8(name: str, value: Any) -> int:
    return _check_int(name, value, 0, 0xFF)


def _u16(name: str, value: Any) -> int:
    return _check_int(name, value, 0, 0xFFFF)


def _volts(name: str, value: Any, low: float = 0.0, high: float = FULL_SCALE_VOLTS) -> float:
    """Refuses NaN, infinities and levels outside low..high volts."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError("%s must be a number of volts, not %s" % (name, type(value).__name__))
    value = float(value)
    if math.isnan(value) or not low <= value <= high:
        raise ValueError("%s must be in %g..%g V, got %r" % (name, low, high, value))
    return value


def _limit_length(name: str, data: Any, limit: int) -> bytes:
    data = bytes(data)
    if len(data) > limit:
        raise ValueError("%s holds %d bytes; at most %d go in one transfer"
                         % (name, len(data), limit))
    return data


def _text_of(value: Union[str, bytes]) -> str:
    return value if isinstance(value, str) else bytes(value).decode("latin-1")


class ControllerInfo(NamedTuple):
    """One listed controller: its 8-character type code and its serial number."""

    type: str
    serial: str

    @property
    def full_serial(self) -> str:
        """The full serial-number string (type code + serial) that opens it."""
        return self.type + self.serial


class UartData(NamedTuple):
    """UART_Read's result: the data bytes and the response's last two bytes."""

    data: bytes
    trailer1: int
    trailer2: int


class RomSearch(NamedTuple):
    """WR1_SearchRom's result: the controller's result byte and the 8-byte ROM code."""

    result: int
    rom: bytes


class Acquisition(NamedTuple):
    """A block acquisition (AI_Read) in volts, with its time axis.

    ``time``: seconds from the first instant, one per instant (sample_count + 1),
    from the library's timing model. ``volts``: one row per input of ``channels``
    (ascending input numbers), each as long as ``time``; ``counts``: the same as raw
    converter counts (1023 counts are 5 V). Rows are NumPy arrays (``volts`` and
    ``counts`` then 2-D) when NumPy is installed, lists otherwise. ``trailer_byte``
    and ``trailer_value``: what the controller appended; ``duration``: the library's
    estimate of the whole acquisition in seconds.
    """

    time: Any
    volts: Any
    channels: Tuple[int, ...]
    counts: Any
    trailer_byte: int
    trailer_value: int
    duration: float

    def rows(self) -> Iterable[Tuple[float, ...]]:
        """(time, volts of each input) per instant, as floats: ready for csv.writer."""
        columns = [self.time] + list(self.volts)
        return (tuple(float(c[i]) for c in columns) for i in range(len(self.time)))


class PortScan(NamedTuple):
    """A logic scan of digital port 0, lines 0..7 (DIO_ScanPort), with its time axis.

    ``time``: seconds from the first instant, one per instant (sample_count + 1).
    ``levels``: one row per line 0..7, each the line's level 0 or 1 at every instant
    (NumPy 2-D array of uint8 when NumPy is installed, lists otherwise). ``samples``:
    the raw port bytes. ``trailer_byte``: the response's last byte (port 1 at the last
    instant on the reference firmware); ``sample_period``: the library's estimate of
    the time per sample in seconds.
    """

    time: Any
    levels: Any
    samples: bytes
    trailer_byte: int
    sample_period: float


def _time_axis(count: int, step: float) -> Any:
    if _np is not None:
        return _np.arange(count, dtype=_np.float64) * step
    return [i * step for i in range(count)]


def _counts_to_volts(rows: List[Any]) -> Tuple[Any, Any]:
    """Raw rows to (counts, volts), divided by 1023 first and then times 5, as the
    library converts its single readings."""
    if _np is not None:
        counts = _np.array([_np.ctypeslib.as_array(r) for r in rows], dtype=_np.uint16)
        return counts, counts / 1023.0 * FULL_SCALE_VOLTS
    counts = [list(r) for r in rows]
    return counts, [[c / 1023.0 * FULL_SCALE_VOLTS for c in row] for row in counts]


def _line_levels(samples: bytes) -> Any:
    if _np is not None:
        port = _np.frombuffer(samples, dtype=_np.uint8)
        return (port[_np.newaxis, :] >> _np.arange(8, dtype=_np.uint8)[:, _np.newaxis]) & 1
    return [[(byte >> line) & 1 for byte in samples] for line in range(8)]


def version() -> Tuple[int, int, int]:
    """The library version as (major, minor, build)."""
    lib = library()
    parts = [ctypes.c_int32() for _ in range(3)]
    with _lock:
        lib.KMT_GetDriverVersion(*(byref(p) for p in parts))
    return (parts[0].value, parts[1].value, parts[2].value)


def driver_type() -> int:
    """The library's driver type constant (needs no device)."""
    lib = library()
    value = ctypes.c_uint16()
    with _lock:
        lib.SYS_GetDriverType(byref(value))
    return value.value


def list_controllers(type_name: str = "KMTCV1", *, lib: Any = None) -> List[ControllerInfo]:
    """Lists the controllers of a public type name as ControllerInfo(type, serial).

    An unknown type name raises UnknownTypeError (status 3). Finding none, or having
    no driver at all, gives an empty list; another driver failure with nothing found
    raises KmtError carrying the driver's status.
    """
    lib = lib or library()
    count, status = ctypes.c_int32(), ctypes.c_int32()
    found = []
    with _lock, _text.text_in(_text_of(type_name)) as name:
        lib.KMT_CreateListDevs(name, byref(count), byref(status))
        if status.value == STATUS_UNKNOWN_TYPE and count.value == 0:
            raise error_for("KMT_CreateListDevs", status.value,
                            "unknown device type name %r" % (type_name,))
        for index in range(count.value):
            with _text.text_out() as (type_out, read_type), \
                    _text.text_out() as (serial_out, read_serial):
                ignored = ctypes.c_int32()
                lib.KMT_GetTypeAndSNbyIndex(index, type_out, serial_out, byref(ignored))
                found.append(ControllerInfo(read_type(), read_serial()))
    # Driver status 2 is "device not found": the ordinary state without a controller.
    if not found and status.value not in (STATUS_OK, 2):
        raise error_for("KMT_CreateListDevs", status.value)
    return found


class Controller:
    """One open controller.

    ``Controller()`` opens the first KMTCV1 controller found; ``Controller(serial)``
    opens the one with this full serial-number string (type code + serial, or a
    ControllerInfo). Use it as a context manager, or call close(). ``lib`` selects a
    library object other than the default one (anything with the 56 functions).

    Every method makes the library call(s) named in its documentation and raises a
    KmtError subclass when the call reports a non-zero status. Arguments are checked
    before anything is sent: a value the controller cannot take raises ValueError
    (TypeError for a wrong type) with the allowed range, rather than being clamped or
    cut by the library.
    """

    def __init__(self, serial: Union[None, str, bytes, ControllerInfo] = None, *,
                 lib: Any = None) -> None:
        self._lib = lib or library()
        self._handle = ctypes.c_uint32(0)
        self._closed = True
        if serial is None:
            listed = list_controllers(lib=self._lib)
            if not listed:
                raise NotOpenError("KMT_CreateListDevs", STATUS_NOT_OPEN,
                                   "no KMTCV1 controller found")
            serial = listed[0]
        if isinstance(serial, ControllerInfo):
            serial = serial.full_serial
        self.serial = _text_of(serial)
        status = ctypes.c_int32()
        with _lock, _text.text_in(self.serial) as text:
            self._lib.KMT_InitBySN(byref(self._handle), text, byref(status))
        if status.value != STATUS_OK:
            raise error_for("KMT_InitBySN", status.value, "cannot open %r" % (self.serial,))
        self._closed = False

    # -- lifetime ------------------------------------------------------------------

    @property
    def handle(self) -> ctypes.c_uint32:
        """The ctypes uint32 handle variable, for calling raw functions: byref(c.handle)."""
        return self._handle

    @property
    def closed(self) -> bool:
        """True once close() has run (or the open failed)."""
        return self._closed

    def close(self) -> None:
        """Closes the device (KMT_Close). Closing twice does nothing.

        The library keeps one "device open" flag: closing any controller disarms the
        others until the next controller is opened.
        """
        if not self._closed:
            with _lock:
                self._lib.KMT_Close(byref(self._handle), 0)
            self._closed = True

    def __enter__(self) -> "Controller":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<kmtv1.Controller %r%s>" % (self.serial, " closed" if self._closed else "")

    def _call(self, name: str, *args: Any) -> None:
        """Calls a device function with the handle first and a status last."""
        status = ctypes.c_int32(0)
        with _lock:
            getattr(self._lib, name)(byref(self._handle), *args, byref(status))
        if status.value != STATUS_OK:
            raise error_for(name, status.value)

    # -- raw exchange ----------------------------------------------------------------

    def send(self, group: int, command: int, payload: bytes = b"", delay_ms: int = 0,
             frame_prefix: int = 0x0010) -> bytes:
        """One raw request/response exchange (KMT_SendComm); returns the response payload.

        Group 8 sends the three-byte short request. delay_ms: pause between request
        and response (0 or less: none).
        """
        payload = bytes(payload)
        if len(payload) > _native.PAYLOAD_SIZE:
            raise ValueError("payload of %d bytes exceeds %d"
                             % (len(payload), _native.PAYLOAD_SIZE))
        _u16("frame_prefix", frame_prefix)
        _u8("group", group)
        _u8("command", command)
        _check_int("delay_ms", delay_ms, -(1 << 31), (1 << 31) - 1)
        buffer = (ctypes.c_uint8 * _native.PAYLOAD_SIZE).from_buffer_copy(
            payload.ljust(_native.PAYLOAD_SIZE, b"\0"))
        length = ctypes.c_uint16(len(payload))
        self._call("KMT_SendComm", frame_prefix, group, command, delay_ms, buffer, byref(length))
        return bytes(buffer[:length.value])

    # -- system and identity -----------------------------------------------------------

    def firmware(self) -> Tuple[int, int, int, int]:
        """The four firmware identification words (SYS_GetFirmWare)."""
        words = [ctypes.c_uint16() for _ in range(4)]
        self._call("SYS_GetFirmWare", *(byref(w) for w in words))
        return (words[0].value, words[1].value, words[2].value, words[3].value)

    def write_user_sn(self, data: bytes) -> None:
        """Stores the 16-byte user serial number (SYS_WriteUserSN); shorter data is
        padded with zero bytes."""
        data = _limit_length("data", data, _native.USER_SN_SIZE)
        self._call("SYS_WriteUserSN", data.ljust(_native.USER_SN_SIZE, b"\0"))

    def read_user_sn(self) -> bytes:
        """The 16-byte user serial number (SYS_ReadUserSN)."""
        block = (ctypes.c_uint8 * _native.USER_SN_SIZE)()
        self._call("SYS_ReadUserSN", block)
        return bytes(block)

    def write_user_area(self, data: bytes) -> None:
        """Stores the 128-byte user area (SYS_WriteUserArea); shorter data is padded
        with zero bytes."""
        data = _limit_length("data", data, _native.USER_AREA_SIZE)
        self._call("SYS_WriteUserArea", data.ljust(_native.USER_AREA_SIZE, b"\0"))

    def read_user_area(self) -> bytes:
        """The 128-byte user area (SYS_ReadUserArea)."""
        block = (ctypes.c_uint8 * _native.USER_AREA_SIZE)()
        self._call("SYS_ReadUserArea", block)
        return bytes(block)

    def watchdog(self, value: int) -> None:
        """Sends the watchdog byte (WatchDog)."""
        self._call("WatchDog", _u8("value", value))

    def read_count(self) -> int:
        """The controller's 32-bit counter (SYS_ReadCount)."""
        count = ctypes.c_uint32()
        self._call("SYS_ReadCount", byref(count))
        return count.value

    # -- digital I/O -------------------------------------------------------------------

    def set_bit_mode(self, line: int, mode: int) -> None:
        """Sets the mode byte of line 0..11 (DIO_SetBitMode); 1 makes it an output."""
        self._call("DIO_SetBitMode", _check_int("line", line, 0, LINES - 1), _u8("mode", mode))

    def write_bit(self, line: int, value: Union[int, bool]) -> None:
        """Sets line 0..11 low (0, False) or high (1, True) (DIO_WriteBit)."""
        if isinstance(value, bool):
            value = int(value)
        self._call("DIO_WriteBit", _check_int("line", line, 0, LINES - 1),
                   _check_int("value", value, 0, 1))

    def read_port(self, port: int) -> int:
        """Reads port 0 (lines 0..7) or 1 (lines 8..11 in bits 0..3) (DIO_ReadPort)."""
        value = ctypes.c_uint8()
        self._call("DIO_ReadPort", _check_int("port", port, 0, PORTS - 1), byref(value))
        return value.value

    def write_port(self, port: int, value: int) -> None:
        """Writes port 0 or 1, one bit per line (DIO_WritePort)."""
        self._call("DIO_WritePort", _check_int("port", port, 0, PORTS - 1), _u8("value", value))

    def set_port_mode(self, port: int, mode: int) -> None:
        """Sets the mode byte of port 0 or 1 (DIO_SetPortMode); 1 makes it outputs."""
        self._call("DIO_SetPortMode", _check_int("port", port, 0, PORTS - 1), _u8("mode", mode))

    def write_mask(self, codes: Sequence[int], values: Sequence[int] = ()) -> None:
        """Writes all twelve lines at once (DIO_WriteMask).

        codes[i] for line i: 0 sends 0x00, 1 sends 0xFF, 2 sends values[i]. Both
        sequences may be shorter than 12; missing entries are 0.
        """
        tables = []
        for name, table in (("codes", codes), ("values", values)):
            table = [_u8("%s[%d]" % (name, i), v) for i, v in enumerate(table)]
            if len(table) > _native.LINE_TABLE_SIZE:
                raise ValueError("%s has %d entries; there are 12 lines" % (name, len(table)))
            tables.append(bytes(table).ljust(_native.LINE_TABLE_SIZE, b"\0"))
        self._call("DIO_WriteMask", *tables)

    # -- analog I/O --------------------------------------------------------------------

    def analog_inputs(self) -> Tuple[float, float, float, float]:
        """The four analog inputs in volts (AI_SimpleRead)."""
        volts = [ctypes.c_double() for _ in range(4)]
        self._call("AI_SimpleRead", *(byref(v) for v in volts))
        return (volts[0].value, volts[1].value, volts[2].value, volts[3].value)

    def analog_inputs_timed(self) -> Tuple[Tuple[float, float, float, float], int]:
        """The four analog inputs in volts and the controller's timer value
        (AI_SimpleReadTimer): ((v1, v2, v3, v4), timer)."""
        volts = [ctypes.c_double() for _ in range(4)]
        timer = ctypes.c_uint32()
        self._call("AI_SimpleReadTimer", *(byref(v) for v in volts), byref(timer))
        return (volts[0].value, volts[1].value, volts[2].value, volts[3].value), timer.value

    def read_channel(self, channel: int) -> float:
        """One analog input in volts (AI_ReadCh4); channel 0..3 reads input 1..4."""
        volts = ctypes.c_double()
        self._call("AI_ReadCh4", _check_int("channel", channel, 0, ANALOG_INPUTS - 1),
                   byref(volts))
        return volts.value

    def read_channel_timed(self, channel: int) -> Tuple[float, int]:
        """One analog input in volts and the timer value (AI_ReadCh4Timer): (volts, timer);
        channel 0..3 reads input 1..4."""
        volts, timer = ctypes.c_double(), ctypes.c_uint32()
        self._call("AI_ReadCh4Timer", _check_int("channel", channel, 0, ANALOG_INPUTS - 1),
                   byref(volts), byref(timer))
        return volts.value, timer.value

    def write_analog(self, output: int, volts: float) -> None:
        """Sets analog output 0 or 1 to 0..5 V (AO_SimpleWrite). Levels outside the
        output's range and NaN raise ValueError: the library would send a wrapped code."""
        self._call("AO_SimpleWrite", _check_int("output", output, 0, ANALOG_OUTPUTS - 1),
                   _volts("volts", volts))

    def set_dac_divider(self, divider: int) -> None:
        """Sends the DAC divider (AO_SetDACDivider)."""
        self._call("AO_SetDACDivider", _u16("divider", divider))

    # -- I2C and SPI masters -----------------------------------------------------------

    def i2c_init(self) -> None:
        """Prepares the I2C master (I2C_Init)."""
        self._call("I2C_Init")

    def i2c_start(self) -> None:
        """Sends an I2C start condition (I2C_Start)."""
        self._call("I2C_Start")

    def i2c_stop(self) -> None:
        """Sends an I2C stop condition (I2C_Stop)."""
        self._call("I2C_Stop")

    def i2c_write(self, byte: int) -> int:
        """Writes one byte on the I2C bus; returns the controller's answer byte (I2C_Write)."""
        rx = ctypes.c_uint8()
        self._call("I2C_Write", _u8("byte", byte), byref(rx))
        return rx.value

    def i2c_read(self, byte: int = 0) -> int:
        """Reads one byte from the I2C bus; ``byte`` travels with the request (I2C_Read)."""
        rx = ctypes.c_uint8()
        self._call("I2C_Read", _u8("byte", byte), byref(rx))
        return rx.value

    def i2c_set_clock(self, selector: int) -> None:
        """Selects the I2C clock 1..5; any other selector sends clock code 0 (I2C_SetTimeClock)."""
        self._call("I2C_SetTimeClock", _u8("selector", selector))

    def spi_init(self, setting: int) -> None:
        """Sends the SPI setting byte (SPI_Init)."""
        self._call("SPI_Init", bytes([_u8("setting", setting)]))

    def spi_byte(self, byte: int) -> int:
        """Exchanges one byte on the SPI bus; returns the byte received (SPI_Byte)."""
        rx = ctypes.c_uint8()
        self._call("SPI_Byte", _u8("byte", byte), byref(rx))
        return rx.value

    def spi_transfer(self, data: bytes) -> bytes:
        """Exchanges each byte of ``data`` in turn (SPI_Byte per byte); returns the bytes
        received."""
        return bytes(self.spi_byte(b) for b in bytes(data))

    def spi_bit(self, byte: int) -> int:
        """One SPI bit transfer; returns the controller's answer byte (SPI_Bit)."""
        rx = ctypes.c_uint8()
        self._call("SPI_Bit", _u8("byte", byte), byref(rx))
        return rx.value

    def spi_set_clock(self, selector: int) -> None:
        """Selects the SPI clock 1..7; any other selector sends clock code 0 (SPI_SetTimeClock)."""
        self._call("SPI_SetTimeClock", _u8("selector", selector))

    # -- UART bridge -------------------------------------------------------------------

    def uart_init(self, config_word: int, config_byte1: int, config_byte2: int) -> None:
        """Configures and opens the UART bridge (UART_Init); the values pass unchanged."""
        self._call("UART_Init", _u16("config_word", config_word),
                   _u8("config_byte1", config_byte1), _u8("config_byte2", config_byte2))

    def uart_interrupt(self, setting: int) -> None:
        """Sends the UART interrupt setting byte (UART_Interrupt)."""
        self._call("UART_Interrupt", _u8("setting", setting))

    def uart_close(self) -> None:
        """Closes the UART bridge (UART_Close)."""
        self._call("UART_Close")

    def uart_set_timeout(self, timeout: int) -> None:
        """Sends the UART read time-out word (UART_SetTimeOut)."""
        self._call("UART_SetTimeOut", _u16("timeout", timeout))

    def uart_read(self, count: int = _native.BLOCK_LIMIT) -> UartData:
        """Reads up to min(count, 64) bytes (UART_Read): UartData(data, trailer1, trailer2).

        How many bytes come back is the controller's answer, not ``count``.
        """
        wanted = ctypes.c_uint16(_u16("count", count))
        data = (ctypes.c_uint8 * _native.BLOCK_LIMIT)()
        trailer1, trailer2 = ctypes.c_uint8(), ctypes.c_uint8()
        self._call("UART_Read", byref(wanted), data, byref(trailer1), byref(trailer2))
        return UartData(bytes(data[:wanted.value]), trailer1.value, trailer2.value)

    def uart_write(self, data: bytes) -> None:
        """Sends ``data`` (UART_Write), in blocks of 64 bytes when it is longer; stops at
        the first block that fails."""
        data = bytes(data)
        for start in range(0, max(len(data), 1), _native.BLOCK_LIMIT):
            block = data[start:start + _native.BLOCK_LIMIT]
            self._call("UART_Write", len(block), block)

    # -- 1-Wire master -----------------------------------------------------------------

    def wr1_init(self) -> int:
        """Bus initialisation (WR1_Init); returns the controller's reply byte."""
        reply = ctypes.c_uint8()
        self._call("WR1_Init", byref(reply))
        return reply.value

    def wr1_read(self) -> int:
        """Reads one byte from the bus (WR1_Read)."""
        value = ctypes.c_uint8()
        self._call("WR1_Read", byref(value))
        return value.value

    def wr1_write(self, value: int) -> int:
        """Writes one byte to the bus (WR1_Write); returns the controller's reply byte."""
        reply = ctypes.c_uint8()
        self._call("WR1_Write", _u8("value", value), byref(reply))
        return reply.value

    def wr1_write_some(self, data: bytes) -> bytes:
        """Writes up to 64 bytes (WR1_WriteSome); returns the controller's answer, as
        many bytes as were written."""
        data = _limit_length("data", data, _native.BLOCK_LIMIT)
        block = (ctypes.c_uint8 * _native.BLOCK_LIMIT).from_buffer_copy(
            data.ljust(_native.BLOCK_LIMIT, b"\0"))
        self._call("WR1_WriteSome", len(data), block)
        return bytes(block[:len(data)])

    def wr1_read_some(self, count: int) -> bytes:
        """Reads min(count, 64) bytes from the bus (WR1_ReadSome)."""
        count = _u16("count", count)
        block = (ctypes.c_uint8 * _native.BLOCK_LIMIT)()
        self._call("WR1_ReadSome", count, block)
        return bytes(block[:min(count, _native.BLOCK_LIMIT)])

    def wr1_search_rom(self) -> RomSearch:
        """One ROM search step (WR1_SearchRom): RomSearch(result, rom)."""
        result = ctypes.c_uint8()
        rom = (ctypes.c_uint8 * _native.ROM_SIZE)()
        self._call("WR1_SearchRom", byref(result), rom)
        return RomSearch(result.value, bytes(rom))

    # -- generator, pulse counter and shift-register expansion -------------------------

    def generate(self, value1: int, value2: int, value3: int) -> None:
        """Starts the signal generator (Gen_Generate): value1 and value2 in 6..10000,
        value3 in 0..1000 (the library would clamp them; here they are refused)."""
        self._call("Gen_Generate", _check_int("value1", value1, 6, 10000),
                   _check_int("value2", value2, 6, 10000), _check_int("value3", value3, 0, 1000))

    def count_pulses(self, selector: int) -> int:
        """Counts pulses over counting window 0..17 (CountImp); returns the 16-bit result."""
        pulses = ctypes.c_uint16()
        self._call("CountImp", _check_int("selector", selector, 0, 17), byref(pulses))
        return pulses.value

    def exp1_init(self) -> None:
        """Prepares the shift-register expansion port (exp1_Init)."""
        self._call("exp1_Init")

    def hc595_write(self, data: bytes) -> None:
        """Shifts out up to 64 bytes (hc595_Write)."""
        data = _limit_length("data", data, _native.BLOCK_LIMIT)
        self._call("hc595_Write", len(data), data)

    def hc165_read(self, count: int) -> bytes:
        """Shifts in min(count, 64) bytes (hc165_Read)."""
        wanted = ctypes.c_uint8(_u8("count", count))
        block = (ctypes.c_uint8 * _native.BLOCK_LIMIT)()
        self._call("hc165_Read", byref(wanted), block)
        return bytes(block[:wanted.value])

    # -- block acquisition and waveform output -----------------------------------------

    def ai_read(self, channels: Iterable[int] = (1,), sample_count: int = 100, *,
                sample_delay: int = 0, threshold: float = 0.0, aux_byte1: int = 0,
                aux_byte2: int = 0, aux_word1: int = 10, aux_word2: int = 0) -> Acquisition:
        """Samples the analog inputs ``channels`` (numbers 1..4) at sample_count + 1
        instants in one exchange (AI_Read); returns an Acquisition in volts with its
        time axis.

        sample_count: 0..2000 intervals. sample_delay: 0..3000 extra microseconds per
        instant. threshold: a level of 0..5 V handed to the controller. aux_word1
        (10..3000), aux_word2 (0..3000) and the aux bytes pass to the firmware. The
        controller sends the selected inputs in ascending order, so ``channels`` of
        the result are sorted whatever order they were given in.
        """
        selected = tuple(sorted(set(channels)))
        if not selected or not set(selected) <= {1, 2, 3, 4}:
            raise ValueError("channels must name one to four of the inputs 1..4, got %r"
                             % (channels,))
        enables = [1 if n in selected else 0 for n in (1, 2, 3, 4)]
        count = _check_int("sample_count", sample_count, 0, MAX_ACQUISITION_COUNT)
        delay = _check_int("sample_delay", sample_delay, 0, MAX_SAMPLE_DELAY, " microseconds")
        threshold = _volts("threshold", threshold)
        arrays = [(ctypes.c_uint16 * (count + 1))() for _ in range(4)]
        trailer_byte, trailer_value = ctypes.c_uint8(), ctypes.c_uint32()
        channel_count, duration = ctypes.c_int32(), ctypes.c_double()
        self._call("AI_Read", *enables, _u8("aux_byte1", aux_byte1), _u8("aux_byte2", aux_byte2),
                   delay, _check_int("aux_word1", aux_word1, 10, 3000),
                   _check_int("aux_word2", aux_word2, 0, 3000), count, threshold,
                   byref(trailer_byte), byref(trailer_value), *arrays, byref(channel_count),
                   byref(duration))
        interval_us = len(selected) * CONVERSION_US + INSTANT_US + (delay + DELAY_OFFSET_US)
        counts, volts = _counts_to_volts(arrays[:len(selected)])
        return Acquisition(_time_axis(count + 1, interval_us / 1e6), volts, selected, counts,
                           trailer_byte.value, trailer_value.value, duration.value)

    def scan_port(self, sample_count: int = 100, *, sample_delay: int = 0, aux_byte1: int = 0,
                  aux_byte2: int = 0, aux_word1: int = 10, aux_word2: int = 0) -> PortScan:
        """Samples digital port 0 (lines 0..7) at sample_count + 1 instants in one
        exchange (DIO_ScanPort); returns a PortScan of line levels with its time axis.

        sample_count: 0..4000 intervals; sample_delay: 0..3000 extra microseconds per
        sample; aux_word1 (10..3000), aux_word2 (0..3000) and the aux bytes pass to
        the firmware.
        """
        count = _check_int("sample_count", sample_count, 0, MAX_SCAN_COUNT)
        delay = _check_int("sample_delay", sample_delay, 0, MAX_SAMPLE_DELAY, " microseconds")
        samples = (ctypes.c_uint8 * (count + 1))()
        trailer_byte, period = ctypes.c_uint8(), ctypes.c_double()
        self._call("DIO_ScanPort", _u8("aux_byte1", aux_byte1), _u8("aux_byte2", aux_byte2),
                   delay, _check_int("aux_word1", aux_word1, 10, 3000),
                   _check_int("aux_word2", aux_word2, 0, 3000), count, byref(trailer_byte),
                   samples, byref(period))
        raw = bytes(samples)
        return PortScan(_time_axis(count + 1, period.value), _line_levels(raw), raw,
                        trailer_byte.value, period.value)

    def wave_out(self, data: bytes) -> None:
        """Outputs up to 2000 bytes on the digital port (DO_WaveOut); empty data sends
        nothing."""
        data = _limit_length("data", data, MAX_WAVE_LENGTH)
        self._call("DO_WaveOut", len(data), 7, data)
