"""The Python face of libkmtv1: discovery, the Controller class and its results."""

import collections
import ctypes
import threading
from ctypes import byref

from . import _native

__all__ = [
    "Acquisition", "Controller", "ControllerInfo", "KmtError", "PortScan", "RomSearch",
    "UartData", "driver_type", "library", "list_controllers", "version",
]

STATUS_OK = 0
STATUS_NOT_OPEN = 1
STATUS_BAD_RESPONSE = 2
STATUS_UNKNOWN_TYPE = 3
STATUS_OUT_OF_RANGE = 4

_STATUS_TEXT = {
    STATUS_NOT_OPEN: "no device open, or the request write failed",
    STATUS_BAD_RESPONSE: "no response, a bad response, or the controller refused the request",
    STATUS_UNKNOWN_TYPE: "unknown device type name",
    STATUS_OUT_OF_RANGE: "argument out of range; nothing was sent",
}


class KmtError(Exception):
    """A library call reported a non-zero status.

    ``status`` is the value the library reported, ``function`` the C function that
    reported it (for example ``"DIO_ReadPort"``).
    """

    def __init__(self, function, status, detail=None):
        self.function = function
        self.status = status
        text = detail or _STATUS_TEXT.get(status, "driver status %d" % status)
        super().__init__("%s failed with status %d: %s" % (function, status, text))


KmtError.__module__ = "kmtv1"  # tracebacks name it as users import it


# The library serves one calling thread at a time and ctypes releases the GIL during
# a call, so every call made through this module is serialised here.
_lock = threading.RLock()
_library = None


def library():
    """The loaded library with all prototypes declared (loaded on first use)."""
    global _library
    with _lock:
        if _library is None:
            _library = _native.load()
        return _library


def _check_int(name, value, bits, signed=False):
    """Refuses values that would not fit the C parameter: ctypes would silently cut them."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int, not %s" % (name, type(value).__name__))
    low, high = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    if not low <= value <= high:
        raise ValueError("%s must be in %d..%d, got %d" % (name, low, high, value))
    return value


def _u8(name, value):
    return _check_int(name, value, 8)


def _u16(name, value):
    return _check_int(name, value, 16)


def _limit_length(name, data, limit):
    data = bytes(data)
    if len(data) > limit:
        raise ValueError("%s holds %d bytes; at most %d go in one transfer"
                         % (name, len(data), limit))
    return data


def _text(value):
    return value.encode("latin-1") if isinstance(value, str) else bytes(value)


class ControllerInfo(collections.namedtuple("ControllerInfo", "type serial")):
    """One listed controller: its 8-character type code and its serial number."""

    __slots__ = ()

    @property
    def full_serial(self):
        """The full serial-number string (type code + serial) that opens it."""
        return self.type + self.serial


UartData = collections.namedtuple("UartData", "data trailer1 trailer2")
UartData.__doc__ = "UART_Read's result: the data bytes and the response's last two bytes."

RomSearch = collections.namedtuple("RomSearch", "result rom")
RomSearch.__doc__ = "WR1_SearchRom's result: the controller's result byte and the 8-byte ROM code."

PortScan = collections.namedtuple("PortScan", "samples trailer_byte sample_period")
PortScan.__doc__ = ("DIO_ScanPort's result: one port byte per sampling instant, the response's "
                    "last byte and the estimated time per sample in seconds.")

Acquisition = collections.namedtuple(
    "Acquisition", "samples channel_count trailer_byte trailer_value duration")
Acquisition.__doc__ = (
    "AI_Read's result. samples[k] is the list of the (k+1)-th word of every sample group "
    "(raw converter counts), one list per selected input; duration is the estimated "
    "acquisition time in seconds.")


def version():
    """The library version as (major, minor, build)."""
    lib = library()
    parts = [ctypes.c_int32() for _ in range(3)]
    with _lock:
        lib.KMT_GetDriverVersion(*(byref(p) for p in parts))
    return tuple(p.value for p in parts)


def driver_type():
    """The library's driver type constant (needs no device)."""
    lib = library()
    value = ctypes.c_uint16()
    with _lock:
        lib.SYS_GetDriverType(byref(value))
    return value.value


def list_controllers(type_name="KMTCV1", *, lib=None):
    """Lists the controllers of a public type name as ControllerInfo(type, serial).

    An unknown type name raises KmtError with status 3. Finding none, or having no
    driver at all, gives an empty list; another driver failure with nothing found
    raises KmtError carrying the driver's status.
    """
    lib = lib or library()
    count, status = ctypes.c_int32(), ctypes.c_int32()
    found = []
    with _lock:
        lib.KMT_CreateListDevs(_text(type_name), byref(count), byref(status))
        if status.value == STATUS_UNKNOWN_TYPE and count.value == 0:
            raise KmtError("KMT_CreateListDevs", status.value,
                           "unknown device type name %r" % (type_name,))
        for index in range(count.value):
            type_out = ctypes.create_string_buffer(_native.STRING_SIZE)
            serial_out = ctypes.create_string_buffer(_native.STRING_SIZE)
            ignored = ctypes.c_int32()
            lib.KMT_GetTypeAndSNbyIndex(index, type_out, serial_out, byref(ignored))
            found.append(ControllerInfo(type_out.value.decode("latin-1"),
                                        serial_out.value.decode("latin-1")))
    # Driver status 2 is "device not found": the ordinary state without a controller.
    if not found and status.value not in (STATUS_OK, 2):
        raise KmtError("KMT_CreateListDevs", status.value)
    return found


class Controller:
    """One open controller.

    ``Controller()`` opens the first KMTCV1 controller found; ``Controller(serial)``
    opens the one with this full serial-number string (type code + serial, or a
    ControllerInfo). Use it as a context manager, or call close(). ``lib`` selects a
    library object other than the default one (anything with the 56 functions).

    Every method makes the library call(s) named in its documentation and raises
    KmtError when the call reports a non-zero status. Integer arguments must fit
    their C parameter width (ValueError otherwise); beyond that, the library's own
    limits apply as include/kmtv1.h describes.
    """

    def __init__(self, serial=None, *, lib=None):
        self._lib = lib or library()
        self._handle = ctypes.c_uint32(0)
        self._closed = True
        if serial is None:
            listed = list_controllers(lib=self._lib)
            if not listed:
                raise KmtError("KMT_CreateListDevs", STATUS_NOT_OPEN, "no KMTCV1 controller found")
            serial = listed[0]
        if isinstance(serial, ControllerInfo):
            serial = serial.full_serial
        self.serial = serial if isinstance(serial, str) else _text(serial).decode("latin-1")
        status = ctypes.c_int32()
        with _lock:
            self._lib.KMT_InitBySN(byref(self._handle), _text(serial), byref(status))
        if status.value != STATUS_OK:
            raise KmtError("KMT_InitBySN", status.value, "cannot open %r" % (self.serial,))
        self._closed = False

    # -- lifetime ------------------------------------------------------------------

    @property
    def handle(self):
        """The ctypes uint32 handle variable, for calling raw functions: byref(c.handle)."""
        return self._handle

    @property
    def closed(self):
        return self._closed

    def close(self):
        """Closes the device (KMT_Close). Closing twice does nothing.

        The library keeps one "device open" flag: closing any controller disarms the
        others until the next controller is opened.
        """
        if not self._closed:
            with _lock:
                self._lib.KMT_Close(byref(self._handle), 0)
            self._closed = True

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<kmtv1.Controller %r%s>" % (self.serial, " closed" if self._closed else "")

    def _call(self, name, *args):
        """Calls a device function with the handle first and a status last."""
        status = ctypes.c_int32(0)
        with _lock:
            getattr(self._lib, name)(byref(self._handle), *args, byref(status))
        if status.value != STATUS_OK:
            raise KmtError(name, status.value)

    # -- raw exchange ----------------------------------------------------------------

    def send(self, group, command, payload=b"", delay_ms=0, frame_prefix=0x0010):
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
        _check_int("delay_ms", delay_ms, 32, signed=True)
        buffer = (ctypes.c_uint8 * _native.PAYLOAD_SIZE).from_buffer_copy(
            payload.ljust(_native.PAYLOAD_SIZE, b"\0"))
        length = ctypes.c_uint16(len(payload))
        self._call("KMT_SendComm", frame_prefix, group, command, delay_ms, buffer, byref(length))
        return bytes(buffer[:length.value])

    # -- system and identity -----------------------------------------------------------

    def firmware(self):
        """The four firmware identification words (SYS_GetFirmWare)."""
        words = [ctypes.c_uint16() for _ in range(4)]
        self._call("SYS_GetFirmWare", *(byref(w) for w in words))
        return tuple(w.value for w in words)

    def write_user_sn(self, data):
        """Stores the 16-byte user serial number (SYS_WriteUserSN); shorter data is
        padded with zero bytes."""
        data = _limit_length("data", data, _native.USER_SN_SIZE)
        self._call("SYS_WriteUserSN", data.ljust(_native.USER_SN_SIZE, b"\0"))

    def read_user_sn(self):
        """The 16-byte user serial number (SYS_ReadUserSN)."""
        block = (ctypes.c_uint8 * _native.USER_SN_SIZE)()
        self._call("SYS_ReadUserSN", block)
        return bytes(block)

    def write_user_area(self, data):
        """Stores the 128-byte user area (SYS_WriteUserArea); shorter data is padded
        with zero bytes."""
        data = _limit_length("data", data, _native.USER_AREA_SIZE)
        self._call("SYS_WriteUserArea", data.ljust(_native.USER_AREA_SIZE, b"\0"))

    def read_user_area(self):
        """The 128-byte user area (SYS_ReadUserArea)."""
        block = (ctypes.c_uint8 * _native.USER_AREA_SIZE)()
        self._call("SYS_ReadUserArea", block)
        return bytes(block)

    def watchdog(self, value):
        """Sends the watchdog byte (WatchDog)."""
        self._call("WatchDog", _u8("value", value))

    def read_count(self):
        """The controller's 32-bit counter (SYS_ReadCount)."""
        count = ctypes.c_uint32()
        self._call("SYS_ReadCount", byref(count))
        return count.value

    # -- digital I/O -------------------------------------------------------------------

    def set_bit_mode(self, bit, mode):
        """Sets the mode of line 0..11 (DIO_SetBitMode)."""
        self._call("DIO_SetBitMode", _u8("bit", bit), _u8("mode", mode))

    def write_bit(self, bit, value):
        """Writes one line (DIO_WriteBit)."""
        self._call("DIO_WriteBit", _u8("bit", bit), _u8("value", value))

    def read_port(self, port):
        """Reads port 0 or 1 (DIO_ReadPort)."""
        value = ctypes.c_uint8()
        self._call("DIO_ReadPort", _u8("port", port), byref(value))
        return value.value

    def write_port(self, port, value):
        """Writes port 0 or 1 (DIO_WritePort)."""
        self._call("DIO_WritePort", _u8("port", port), _u8("value", value))

    def set_port_mode(self, port, mode):
        """Sets the mode of port 0 or 1 (DIO_SetPortMode)."""
        self._call("DIO_SetPortMode", _u8("port", port), _u8("mode", mode))

    def write_mask(self, codes, values=()):
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

    def analog_inputs(self):
        """The four analog inputs in volts (AI_SimpleRead)."""
        volts = [ctypes.c_double() for _ in range(4)]
        self._call("AI_SimpleRead", *(byref(v) for v in volts))
        return tuple(v.value for v in volts)

    def analog_inputs_timed(self):
        """The four analog inputs in volts and the controller's timer value
        (AI_SimpleReadTimer): ((v1, v2, v3, v4), timer)."""
        volts = [ctypes.c_double() for _ in range(4)]
        timer = ctypes.c_uint32()
        self._call("AI_SimpleReadTimer", *(byref(v) for v in volts), byref(timer))
        return tuple(v.value for v in volts), timer.value

    def read_channel(self, channel):
        """One analog value in volts for a channel byte (AI_ReadCh4)."""
        volts = ctypes.c_double()
        self._call("AI_ReadCh4", _u8("channel", channel), byref(volts))
        return volts.value

    def read_channel_timed(self, channel):
        """One analog value in volts and the timer value (AI_ReadCh4Timer): (volts, timer)."""
        volts, timer = ctypes.c_double(), ctypes.c_uint32()
        self._call("AI_ReadCh4Timer", _u8("channel", channel), byref(volts), byref(timer))
        return volts.value, timer.value

    def write_analog(self, output, volts):
        """Sets analog output 0 or 1 to a voltage (AO_SimpleWrite); other outputs raise
        KmtError with status 4."""
        self._call("AO_SimpleWrite", _u8("output", output), float(volts))

    def set_dac_divider(self, divider):
        """Sends the DAC divider (AO_SetDACDivider)."""
        self._call("AO_SetDACDivider", _u16("divider", divider))

    # -- I2C and SPI masters -----------------------------------------------------------

    def i2c_init(self):
        self._call("I2C_Init")

    def i2c_start(self):
        self._call("I2C_Start")

    def i2c_stop(self):
        self._call("I2C_Stop")

    def i2c_write(self, byte):
        """Writes one byte on the I2C bus; returns the controller's answer byte (I2C_Write)."""
        rx = ctypes.c_uint8()
        self._call("I2C_Write", _u8("byte", byte), byref(rx))
        return rx.value

    def i2c_read(self, byte=0):
        """Reads one byte from the I2C bus; ``byte`` travels with the request (I2C_Read)."""
        rx = ctypes.c_uint8()
        self._call("I2C_Read", _u8("byte", byte), byref(rx))
        return rx.value

    def i2c_set_clock(self, selector):
        """Selects the I2C clock 1..5; any other selector sends clock code 0 (I2C_SetTimeClock)."""
        self._call("I2C_SetTimeClock", _u8("selector", selector))

    def spi_init(self, setting):
        """Sends the SPI setting byte (SPI_Init)."""
        self._call("SPI_Init", bytes([_u8("setting", setting)]))

    def spi_byte(self, byte):
        """Exchanges one byte on the SPI bus; returns the byte received (SPI_Byte)."""
        rx = ctypes.c_uint8()
        self._call("SPI_Byte", _u8("byte", byte), byref(rx))
        return rx.value

    def spi_transfer(self, data):
        """Exchanges each byte of ``data`` in turn (SPI_Byte per byte); returns the bytes
        received."""
        return bytes(self.spi_byte(b) for b in bytes(data))

    def spi_bit(self, byte):
        """One SPI bit transfer; returns the controller's answer byte (SPI_Bit)."""
        rx = ctypes.c_uint8()
        self._call("SPI_Bit", _u8("byte", byte), byref(rx))
        return rx.value

    def spi_set_clock(self, selector):
        """Selects the SPI clock 1..7; any other selector sends clock code 0 (SPI_SetTimeClock)."""
        self._call("SPI_SetTimeClock", _u8("selector", selector))

    # -- UART bridge -------------------------------------------------------------------

    def uart_init(self, config_word, config_byte1, config_byte2):
        self._call("UART_Init", _u16("config_word", config_word),
                   _u8("config_byte1", config_byte1), _u8("config_byte2", config_byte2))

    def uart_interrupt(self, setting):
        self._call("UART_Interrupt", _u8("setting", setting))

    def uart_close(self):
        self._call("UART_Close")

    def uart_set_timeout(self, timeout):
        self._call("UART_SetTimeOut", _u16("timeout", timeout))

    def uart_read(self, count=_native.BLOCK_LIMIT):
        """Reads up to min(count, 64) bytes (UART_Read): UartData(data, trailer1, trailer2).

        How many bytes come back is the controller's answer, not ``count``.
        """
        wanted = ctypes.c_uint16(_u16("count", count))
        data = (ctypes.c_uint8 * _native.BLOCK_LIMIT)()
        trailer1, trailer2 = ctypes.c_uint8(), ctypes.c_uint8()
        self._call("UART_Read", byref(wanted), data, byref(trailer1), byref(trailer2))
        return UartData(bytes(data[:wanted.value]), trailer1.value, trailer2.value)

    def uart_write(self, data):
        """Sends ``data`` (UART_Write), in blocks of 64 bytes when it is longer; stops at
        the first block that fails."""
        data = bytes(data)
        for start in range(0, max(len(data), 1), _native.BLOCK_LIMIT):
            block = data[start:start + _native.BLOCK_LIMIT]
            self._call("UART_Write", len(block), block)

    # -- 1-Wire master -----------------------------------------------------------------

    def wr1_init(self):
        """Bus initialisation (WR1_Init); returns the controller's reply byte."""
        reply = ctypes.c_uint8()
        self._call("WR1_Init", byref(reply))
        return reply.value

    def wr1_read(self):
        """Reads one byte from the bus (WR1_Read)."""
        value = ctypes.c_uint8()
        self._call("WR1_Read", byref(value))
        return value.value

    def wr1_write(self, value):
        """Writes one byte to the bus (WR1_Write); returns the controller's reply byte."""
        reply = ctypes.c_uint8()
        self._call("WR1_Write", _u8("value", value), byref(reply))
        return reply.value

    def wr1_write_some(self, data):
        """Writes up to 64 bytes (WR1_WriteSome); returns the controller's answer, as
        many bytes as were written."""
        data = _limit_length("data", data, _native.BLOCK_LIMIT)
        block = (ctypes.c_uint8 * _native.BLOCK_LIMIT).from_buffer_copy(
            data.ljust(_native.BLOCK_LIMIT, b"\0"))
        self._call("WR1_WriteSome", len(data), block)
        return bytes(block[:len(data)])

    def wr1_read_some(self, count):
        """Reads min(count, 64) bytes from the bus (WR1_ReadSome)."""
        count = _u16("count", count)
        block = (ctypes.c_uint8 * _native.BLOCK_LIMIT)()
        self._call("WR1_ReadSome", count, block)
        return bytes(block[:min(count, _native.BLOCK_LIMIT)])

    def wr1_search_rom(self):
        """One ROM search step (WR1_SearchRom): RomSearch(result, rom)."""
        result = ctypes.c_uint8()
        rom = (ctypes.c_uint8 * _native.ROM_SIZE)()
        self._call("WR1_SearchRom", byref(result), rom)
        return RomSearch(result.value, bytes(rom))

    # -- generator, pulse counter and shift-register expansion -------------------------

    def generate(self, value1, value2, value3):
        """Starts the signal generator (Gen_Generate); the library limits value1 and value2
        to 6..10000 and value3 to 0..1000."""
        self._call("Gen_Generate", _u16("value1", value1), _u16("value2", value2),
                   _u16("value3", value3))

    def count_pulses(self, selector):
        """Counts pulses over counting window 0..17 (CountImp); returns the 16-bit result."""
        pulses = ctypes.c_uint16()
        self._call("CountImp", _u16("selector", selector), byref(pulses))
        return pulses.value

    def exp1_init(self):
        """Prepares the shift-register expansion port (exp1_Init)."""
        self._call("exp1_Init")

    def hc595_write(self, data):
        """Shifts out up to 64 bytes (hc595_Write)."""
        data = _limit_length("data", data, _native.BLOCK_LIMIT)
        self._call("hc595_Write", len(data), data)

    def hc165_read(self, count):
        """Shifts in min(count, 64) bytes (hc165_Read)."""
        wanted = ctypes.c_uint8(_u8("count", count))
        block = (ctypes.c_uint8 * _native.BLOCK_LIMIT)()
        self._call("hc165_Read", byref(wanted), block)
        return bytes(block[:wanted.value])

    # -- block acquisition and waveform output -----------------------------------------

    def ai_read(self, channels=(1,), sample_count=100, *, sample_delay=0, threshold=0.0,
                aux_byte1=0, aux_byte2=0, aux_word1=10, aux_word2=0):
        """Samples the selected analog inputs (1..4) sample_count + 1 times (AI_Read).

        sample_count is limited to 2000 and sample_delay (extra microseconds per
        instant) to 3000 by the library; threshold is a level in volts. Returns an
        Acquisition whose samples hold one list of raw counts per selected input,
        positionally: samples[0] is the first word of every sample group.
        """
        selected = set(channels)
        if not selected or not selected <= {1, 2, 3, 4}:
            raise ValueError("channels must name one to four of the inputs 1..4, got %r"
                             % (channels,))
        enables = [1 if n in selected else 0 for n in (1, 2, 3, 4)]
        _u16("sample_count", sample_count)
        # Every array gets the most the library can write for this count, whichever
        # inputs are selected.
        length = min(sample_count, 2000) + 1
        arrays = [(ctypes.c_uint16 * length)() for _ in range(4)]
        trailer_byte, trailer_value = ctypes.c_uint8(), ctypes.c_uint32()
        channel_count, duration = ctypes.c_int32(), ctypes.c_double()
        self._call("AI_Read", *enables, _u8("aux_byte1", aux_byte1), _u8("aux_byte2", aux_byte2),
                   _u16("sample_delay", sample_delay), _u16("aux_word1", aux_word1),
                   _u16("aux_word2", aux_word2), sample_count, float(threshold),
                   byref(trailer_byte), byref(trailer_value), *arrays, byref(channel_count),
                   byref(duration))
        samples = tuple(list(a) for a in arrays[:len(selected)])
        return Acquisition(samples, channel_count.value, trailer_byte.value, trailer_value.value,
                           duration.value)

    def scan_port(self, sample_count=100, *, sample_delay=0, aux_byte1=0, aux_byte2=0,
                  aux_word1=10, aux_word2=0):
        """Samples the digital port sample_count + 1 times (DIO_ScanPort); sample_count is
        limited to 4000 by the library. Returns PortScan(samples, trailer_byte,
        sample_period)."""
        _u16("sample_count", sample_count)
        samples = (ctypes.c_uint8 * (min(sample_count, 4000) + 1))()
        trailer_byte, period = ctypes.c_uint8(), ctypes.c_double()
        self._call("DIO_ScanPort", _u8("aux_byte1", aux_byte1), _u8("aux_byte2", aux_byte2),
                   _u16("sample_delay", sample_delay), _u16("aux_word1", aux_word1),
                   _u16("aux_word2", aux_word2), sample_count, byref(trailer_byte), samples,
                   byref(period))
        return PortScan(bytes(samples), trailer_byte.value, period.value)

    def wave_out(self, data):
        """Outputs up to 2000 bytes on the digital port (DO_WaveOut); empty data sends
        nothing."""
        data = _limit_length("data", data, 2000)
        self._call("DO_WaveOut", len(data), 7, data)
