"""Tests of the kmtv1 Python package against the simulated controller.

Run with KMTV1_LIBRARY naming the built libkmtv1 (CTest sets it) and
KMT_DRIVER=sim:clock=virtual (set here when absent). KMTV1_TEST_HIDE_NUMPY=1 runs
them as if NumPy were not installed; KMTV1_TEST_INSTALLED=1 tests the kmtv1 that
Python finds (an installed one) instead of the package of this tree.
KMTV1_TEST_VERSION, when set (CTest sets it), is the version the build gave the library.
"""

import ctypes
import json
import math
import os
import re
import subprocess
import sys
import unittest
from unittest import mock

os.environ.setdefault("KMT_DRIVER", "sim:clock=virtual")
if os.environ.get("KMTV1_TEST_HIDE_NUMPY"):
    sys.modules["numpy"] = None  # makes "import numpy" fail
if not os.environ.get("KMTV1_TEST_INSTALLED"):
    # The package of this tree, whatever else is installed.
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import kmtv1  # noqa: E402  (the driver choice above must come first)
from kmtv1 import _native, _text  # noqa: E402

try:
    import numpy
except ImportError:
    numpy = None

HERE = os.path.dirname(os.path.abspath(__file__))
HEADER = os.path.join(HERE, "..", "..", "include", "kmtv1.h")
SIM_SERIAL = "KMTC0002SIM00001"


def header_prototypes():
    """{name: [(base type, is pointer, is const), ...]} parsed from the public header."""
    with open(HEADER) as f:
        text = f.read()
    found = {}
    for name, params in re.findall(r"KMT_API void KMT_CALL (\w+)\(([^)]*)\);", text):
        parsed = []
        for param in params.split(","):
            # The discovery string types, as the header defines them on this platform.
            param = param.replace("kmt_text_in", "const char *").replace("kmt_text_out", "char *")
            words = param.replace("*", " * ").split()
            const = words[0] == "const"
            base = words[1] if const else words[0]
            parsed.append((base, "*" in words, const))
        found[name] = parsed
    return found


BY_VALUE = {"uint8_t": ctypes.c_uint8, "uint16_t": ctypes.c_uint16, "uint32_t": ctypes.c_uint32,
            "int32_t": ctypes.c_int32, "double": ctypes.c_double}


class PrototypeTest(unittest.TestCase):
    """The binding declares every export exactly as the header does."""

    def test_every_export_is_declared(self):
        self.assertEqual(len(header_prototypes()), 56)
        self.assertEqual(set(_native.PROTOTYPES), set(header_prototypes()))

    def test_parameter_types_match_the_header(self):
        for name, params in header_prototypes().items():
            argtypes = _native.PROTOTYPES[name]
            with self.subTest(function=name):
                self.assertEqual(len(argtypes), len(params))
                for index, ((base, pointer, const), argtype) in enumerate(zip(params, argtypes)):
                    where = "%s parameter %d" % (name, index)
                    if not pointer:
                        self.assertIs(argtype, BY_VALUE[base], where)
                    elif base == "char" and const:
                        self.assertIs(argtype, ctypes.c_char_p, where)
                    elif isinstance(argtype, type) and issubclass(argtype, _native.Block):
                        # Byte blocks: the library writes through non-const ones only.
                        self.assertIn(base, ("uint8_t", "char"), where)
                        self.assertEqual(argtype.writable, not const, where)
                    else:
                        self.assertFalse(const, where)
                        self.assertIs(argtype, ctypes.POINTER(BY_VALUE[base]), where)

    def test_loaded_library_carries_the_prototypes(self):
        for name, argtypes in _native.PROTOTYPES.items():
            with self.subTest(function=name):
                function = getattr(kmtv1.lib, name)
                self.assertEqual(function.argtypes, argtypes)
                self.assertIsNone(function.restype)


class SizedBufferTest(unittest.TestCase):
    """A raw call with a buffer shorter than the library uses is refused before the call."""

    # function, index of the block parameter, least size, arguments (block as None)
    CASES = [
        ("KMT_SendComm", 5, 16385,
         lambda b: [ctypes.byref(ctypes.c_uint32()), 0x10, 1, 0, 0, b,
                    ctypes.byref(ctypes.c_uint16()), ctypes.byref(ctypes.c_int32())]),
        ("KMT_GetTypeAndSNbyIndex", 1, 256,
         lambda b: [0, b, ctypes.create_string_buffer(256), ctypes.byref(ctypes.c_int32())]),
        ("KMT_GetTypeAndSNbyIndex", 2, 256,
         lambda b: [0, ctypes.create_string_buffer(256), b, ctypes.byref(ctypes.c_int32())]),
        ("SYS_ReadUserSN", 1, 16, lambda b: [ctypes.byref(ctypes.c_uint32()), b,
                                             ctypes.byref(ctypes.c_int32())]),
        ("SYS_ReadUserArea", 1, 128, lambda b: [ctypes.byref(ctypes.c_uint32()), b,
                                                ctypes.byref(ctypes.c_int32())]),
        ("UART_Read", 2, 64,
         lambda b: [ctypes.byref(ctypes.c_uint32()), ctypes.byref(ctypes.c_uint16(1)), b,
                    ctypes.byref(ctypes.c_uint8()), ctypes.byref(ctypes.c_uint8()),
                    ctypes.byref(ctypes.c_int32())]),
        ("hc165_Read", 2, 64,
         lambda b: [ctypes.byref(ctypes.c_uint32()), ctypes.byref(ctypes.c_uint8(1)), b,
                    ctypes.byref(ctypes.c_int32())]),
        ("WR1_SearchRom", 2, 8,
         lambda b: [ctypes.byref(ctypes.c_uint32()), ctypes.byref(ctypes.c_uint8()), b,
                    ctypes.byref(ctypes.c_int32())]),
    ]
    READ_ONLY_CASES = [
        ("SYS_WriteUserSN", 16, lambda b: [ctypes.byref(ctypes.c_uint32()), b,
                                           ctypes.byref(ctypes.c_int32())]),
        ("SYS_WriteUserArea", 128, lambda b: [ctypes.byref(ctypes.c_uint32()), b,
                                              ctypes.byref(ctypes.c_int32())]),
        ("DIO_WriteMask", 16, lambda b: [ctypes.byref(ctypes.c_uint32()), b, bytes(16),
                                         ctypes.byref(ctypes.c_int32())]),
        ("SPI_Init", 1, lambda b: [ctypes.byref(ctypes.c_uint32()), b,
                                   ctypes.byref(ctypes.c_int32())]),
    ]

    def test_short_output_buffers_are_refused(self):
        for name, index, size, arguments in self.CASES:
            function = getattr(kmtv1.lib, name)
            with self.subTest(function=name, parameter=index):
                with self.assertRaisesRegex(ctypes.ArgumentError, "shorter"):
                    function(*arguments((ctypes.c_uint8 * (size - 1))()))
                with self.assertRaisesRegex(ctypes.ArgumentError, "shorter"):
                    function(*arguments(bytearray(size - 1)))
                function(*arguments((ctypes.c_uint8 * size)()))  # no device: status 1
                # Immutable bytes must never be handed to a block the library writes.
                with self.assertRaises(ctypes.ArgumentError):
                    function(*arguments(bytes(size)))

    def test_short_input_blocks_are_refused(self):
        for name, size, arguments in self.READ_ONLY_CASES:
            function = getattr(kmtv1.lib, name)
            with self.subTest(function=name):
                with self.assertRaisesRegex(ctypes.ArgumentError, "shorter"):
                    function(*arguments(bytes(size - 1)))
                function(*arguments(bytes(size)))


class LoaderTest(unittest.TestCase):
    def test_search_order(self):
        package = os.path.join(os.sep, "site", "kmtv1")
        beside = [os.path.join(d, n) for d in (package, os.path.dirname(package))
                  for n in _native._library_names()]
        cases = [
            ({"KMTV1_LIBRARY": "/x/libkmtv1.so"}, "libkmtv1.so.1", ["/x/libkmtv1.so"]),
            ({}, "libkmtv1.so.1", ["libkmtv1.so.1"] + beside + _native._library_names()),
            ({"KMTV1_LIBRARY": ""}, None, beside + _native._library_names()),
        ]
        for environ, found, expected in cases:
            with self.subTest(environ=environ, find_library=found):
                places = _native.candidates(environ, lambda _: found, package, "")
                self.assertEqual([p[1] for p in places], expected)

    def test_installed_library_comes_before_any_other_copy(self):
        package = os.path.join(os.sep, "p", "lib", "python3", "site-packages", "kmtv1")
        places = _native.candidates({}, lambda _: "libkmtv1.so.1", package, "../../..")
        installed = os.path.join(os.sep, "p", "lib", _native._library_names()[0])
        self.assertEqual((places[0][0], places[0][1]), ("installed with the package", installed))
        self.assertEqual(_native.candidates({"KMTV1_LIBRARY": "/x"}, None, package, "..")[0][1],
                         "/x")

    def test_named_library_that_is_missing_stops_the_search(self):
        with mock.patch.dict(os.environ, {"KMTV1_LIBRARY": "/nonexistent/libkmtv1.so.1"}):
            with self.assertRaises(kmtv1.LibraryNotFoundError) as caught:
                _native.load()
        self.assertEqual(len(caught.exception.tried), 1)
        self.assertIn("/nonexistent/libkmtv1.so.1", str(caught.exception))

    def test_library_names_per_platform(self):
        cases = [("nt", "win32", ["KMTv1dll.dll"]),
                 ("posix", "linux", ["libkmtv1.so.1", "libkmtv1.so"]),
                 ("posix", "darwin", ["libkmtv1.1.dylib", "libkmtv1.dylib"])]
        for os_name, platform, names in cases:
            with self.subTest(platform=platform):
                self.assertEqual(_native._library_names(os_name, platform), names)

    def test_not_found_message_names_the_variable_and_every_place(self):
        tried = [("find_library", "not found"), ("loader path", "libkmtv1.so.1: no such file")]
        message = str(kmtv1.LibraryNotFoundError(tried))
        for text in ("KMTV1_LIBRARY=", "find_library: not found", "loader path: libkmtv1.so.1"):
            self.assertIn(text, message)

    def test_explicit_path_loads_and_declares(self):
        library = _native.load(kmtv1.lib._name)
        self.assertEqual(library.AI_Read.argtypes, _native.PROTOTYPES["AI_Read"])


class DiscoveryTest(unittest.TestCase):
    def test_version_and_driver_type(self):
        version = kmtv1.version()
        self.assertEqual(len(version), 3)
        self.assertTrue(all(isinstance(part, int) and part >= 0 for part in version), version)
        if os.environ.get("KMTV1_TEST_VERSION"):
            self.assertEqual("%d.%d.%d" % version, os.environ["KMTV1_TEST_VERSION"])
        self.assertEqual(kmtv1.driver_type(), 1)
        # The package's version, as Python and pip see it, is the library's.
        self.assertEqual(kmtv1.__version__, "%d.%d.%d" % version)
        if os.environ.get("KMTV1_TEST_INSTALLED"):
            import importlib.metadata
            self.assertEqual(importlib.metadata.version("kmtv1"), kmtv1.__version__)

    def test_list_controllers(self):
        cases = [("KMTCV1", [("KMTC0002", "SIM00001")]), ("kmtcv1", [("KMTC0002", "SIM00001")]),
                 ("KMTC0002", 3), ("", 3), ("KMTCV2", 3)]
        for name, expected in cases:
            with self.subTest(type_name=name):
                if isinstance(expected, list):
                    listed = kmtv1.list_controllers(name)
                    self.assertEqual(listed, expected)
                    self.assertEqual(listed[0].full_serial, SIM_SERIAL)
                else:
                    with self.assertRaises(kmtv1.KmtError) as caught:
                        kmtv1.list_controllers(name)
                    self.assertEqual(caught.exception.status, expected)
                    self.assertEqual(caught.exception.function, "KMT_CreateListDevs")


class LifecycleTest(unittest.TestCase):
    def test_open_by_each_kind_of_serial(self):
        for serial in (None, SIM_SERIAL, SIM_SERIAL.encode(), kmtv1.list_controllers()[0]):
            with self.subTest(serial=serial):
                with kmtv1.Controller(serial) as c:
                    self.assertFalse(c.closed)
                    self.assertEqual(c.serial, SIM_SERIAL)
                    self.assertNotEqual(c.handle.value, 0)
                self.assertTrue(c.closed)

    def test_unknown_serial_does_not_open(self):
        with self.assertRaises(kmtv1.KmtError) as caught:
            kmtv1.Controller("KMTC0002NOSUCH")
        self.assertEqual((caught.exception.function, caught.exception.status),
                         ("KMT_InitBySN", kmtv1.STATUS_NOT_OPEN))
        self.assertIn("KMTC0002NOSUCH", str(caught.exception))

    def test_device_calls_after_close_raise_status_1(self):
        with kmtv1.Controller() as c:
            pass
        c.close()  # closing twice is harmless
        cases = [
            (lambda: c.firmware(), "SYS_GetFirmWare"),
            (lambda: c.send(1, 0), "KMT_SendComm"),
            (lambda: c.read_port(0), "DIO_ReadPort"),
            (lambda: c.analog_inputs(), "AI_SimpleRead"),
            (lambda: c.write_analog(0, 1.0), "AO_SimpleWrite"),
            (lambda: c.uart_read(), "UART_Read"),
            (lambda: c.wr1_search_rom(), "WR1_SearchRom"),
            (lambda: c.count_pulses(0), "CountImp"),
            (lambda: c.ai_read((1, 2)), "AI_Read"),
            (lambda: c.scan_port(10), "DIO_ScanPort"),
            (lambda: c.read_user_area(), "SYS_ReadUserArea"),
        ]
        for call, function in cases:
            with self.subTest(function=function):
                with self.assertRaises(kmtv1.KmtError) as caught:
                    call()
                self.assertIsInstance(caught.exception, kmtv1.NotOpenError)
                self.assertEqual(caught.exception.status, kmtv1.STATUS_NOT_OPEN)
                self.assertEqual(caught.exception.function, function)
                self.assertIn(function, str(caught.exception))


class SimulatorOptionsTest(unittest.TestCase):
    """Controller sets and faults that need their own process (the library reads
    KMT_DRIVER once)."""

    PRELUDE = (
        "import json, kmtv1\n"
        "def outcome(action):\n"
        "    try:\n"
        "        return ['ok', action()]\n"
        "    except kmtv1.KmtError as error:\n"
        "        return ['error', error.function, error.status]\n"
        "def listed():\n"
        "    return [list(i) for i in kmtv1.list_controllers()]\n"
        "def firmware():\n"
        "    with kmtv1.Controller() as c:\n"
        "        return list(c.firmware())\n")

    CASES = [
        ("devices=0", "listed", ["ok", []]),
        ("devices=0", "firmware", ["error", "KMT_CreateListDevs", 1]),
        ("devices=3", "listed",
         ["ok", [["KMTC0002", "SIM00001"], ["KMTC0002", "SIM00002"], ["KMTC0002", "SIM00003"]]]),
        ("serials=KMTC0001A+KMTC0002B7+XY", "listed", ["ok", [["KMTC0002", "B7"]]]),
        ("fault=fail:list:4", "listed", ["error", "KMT_CreateListDevs", 4]),
        ("fault=fail:open:3", "firmware", ["error", "KMT_InitBySN", 1]),
        ("fault=result:5#1.0", "firmware", ["error", "SYS_GetFirmWare", 2]),
        ("fault=checksum#1.0", "firmware", ["error", "SYS_GetFirmWare", 2]),
    ]

    def test_cases(self):
        environ = dict(os.environ, KMTV1_LIBRARY=kmtv1.lib._name,
                       PYTHONPATH=os.pathsep.join([os.path.dirname(os.path.dirname(
                           os.path.abspath(kmtv1.__file__)))] + sys.path))
        for options, action, expected in self.CASES:
            with self.subTest(options=options, action=action):
                environ["KMT_DRIVER"] = "sim:clock=virtual," + options
                code = self.PRELUDE + "print(json.dumps(outcome(%s)))\n" % action
                done = subprocess.run([sys.executable, "-c", code], env=environ,
                                      capture_output=True, text=True, timeout=60)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(json.loads(done.stdout), expected)


class FakeLibrary:
    """Records every call and reports success without writing any output."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        def call(*args):
            self.calls.append((name, args))
            if name != "KMT_Close":
                args[-1]._obj.value = 0  # the status, passed by reference
            if name == "KMT_InitBySN":
                args[0]._obj.value = 7
        return call


def size_of(argument):
    return ctypes.sizeof(argument._obj if hasattr(argument, "_obj") else argument)


class ArgumentPassingTest(unittest.TestCase):
    """What the methods hand to the library, watched through a recording library."""

    def setUp(self):
        self.fake = FakeLibrary()
        self.c = kmtv1.Controller(SIM_SERIAL, lib=self.fake)
        self.fake.calls.clear()

    def last(self, name):
        calls = [args for called, args in self.fake.calls if called == name]
        self.assertTrue(calls, "%s was not called" % name)
        return calls[-1]

    def test_buffers_are_sized_for_the_most_the_library_writes(self):
        c = self.c
        cases = [  # call, function, parameter index, bytes
            (lambda: c.send(1, 0), "KMT_SendComm", 5, 16385),
            (lambda: c.send(1, 0, bytes(16385)), "KMT_SendComm", 5, 16385),
            (lambda: c.read_user_sn(), "SYS_ReadUserSN", 1, 16),
            (lambda: c.read_user_area(), "SYS_ReadUserArea", 1, 128),
            (lambda: c.uart_read(0), "UART_Read", 2, 64),
            (lambda: c.uart_read(1), "UART_Read", 2, 64),
            (lambda: c.uart_read(65535), "UART_Read", 2, 64),
            (lambda: c.hc165_read(1), "hc165_Read", 2, 64),
            (lambda: c.hc165_read(255), "hc165_Read", 2, 64),
            (lambda: c.wr1_read_some(0), "WR1_ReadSome", 2, 64),
            (lambda: c.wr1_read_some(1000), "WR1_ReadSome", 2, 64),
            (lambda: c.wr1_write_some(b"abc"), "WR1_WriteSome", 2, 64),
            (lambda: c.wr1_search_rom(), "WR1_SearchRom", 2, 8),
            (lambda: c.scan_port(0), "DIO_ScanPort", 8, 1),
            (lambda: c.scan_port(4000), "DIO_ScanPort", 8, 4001),
        ]
        for call, function, index, size in cases:
            with self.subTest(function=function, row=cases.index((call, function, index, size))):
                call()
                self.assertEqual(size_of(self.last(function)[index]), size)
        for count, channels in ((0, (1,)), (7, (2, 4)), (2000, (1, 2, 3, 4)), (2000, (3,))):
            with self.subTest(function="AI_Read", count=count, channels=channels):
                c.ai_read(channels, count)
                arrays = self.last("AI_Read")[14:18]
                for array in arrays:
                    self.assertEqual(size_of(array), 2 * (count + 1))

    def test_blocks_and_counts_sent(self):
        c = self.c
        cases = [  # call, function, [(parameter index, expected value)]
            (lambda: c.write_user_sn(b"ab"), "SYS_WriteUserSN", [(1, b"ab" + bytes(14))]),
            (lambda: c.write_user_area(b"\xff"), "SYS_WriteUserArea", [(1, b"\xff" + bytes(127))]),
            (lambda: c.write_mask([0, 1, 2], [0, 0, 0x55]), "DIO_WriteMask",
             [(1, bytes([0, 1, 2]) + bytes(13)), (2, bytes([0, 0, 0x55]) + bytes(13))]),
            (lambda: c.hc595_write(b"xyz"), "hc595_Write", [(1, 3), (2, b"xyz")]),
            (lambda: c.wave_out(b"\x01\x02"), "DO_WaveOut", [(1, 2), (2, 7), (3, b"\x01\x02")]),
            (lambda: c.spi_init(0x81), "SPI_Init", [(1, b"\x81")]),
            (lambda: c.ai_read((4, 2), 10, threshold=2), "AI_Read",
             [(1, 0), (2, 1), (3, 0), (4, 1), (8, 10), (10, 10), (11, 2.0)]),
        ]
        for call, function, expected in cases:
            with self.subTest(function=function):
                call()
                args = self.last(function)
                for index, value in expected:
                    self.assertEqual(args[index], value, "parameter %d" % index)

    def test_uart_write_goes_in_blocks_of_64(self):
        for length, blocks in ((0, [0]), (5, [5]), (64, [64]), (65, [64, 1]), (150, [64, 64, 22])):
            with self.subTest(length=length):
                self.fake.calls.clear()
                data = bytes(i % 251 for i in range(length))
                self.c.uart_write(data)
                writes = [args for name, args in self.fake.calls if name == "UART_Write"]
                self.assertEqual([w[1] for w in writes], blocks)
                self.assertEqual(b"".join(w[2] for w in writes), data)

    def test_values_that_do_not_fit_are_refused_before_any_call(self):
        c = self.c
        cases = [
            (lambda: c.write_bit(99, 1), ValueError, r"line must be in 0\.\.11, got 99"),
            (lambda: c.set_bit_mode(12, 1), ValueError, r"0\.\.11"),
            (lambda: c.write_bit(0, 2), ValueError, r"value must be in 0\.\.1"),
            (lambda: c.write_port(5, 0), ValueError, r"port must be in 0\.\.1, got 5"),
            (lambda: c.set_port_mode(2, 1), ValueError, r"0\.\.1"),
            (lambda: c.read_channel(4), ValueError, r"channel must be in 0\.\.3"),
            (lambda: c.read_channel_timed(-1), ValueError, r"0\.\.3"),
            (lambda: c.write_analog(2, 1.0), ValueError, r"output must be in 0\.\.1"),
            (lambda: c.write_analog(0, -0.001), ValueError, r"volts must be in 0\.\.5 V"),
            (lambda: c.write_analog(1, 5.0001), ValueError, r"0\.\.5 V"),
            (lambda: c.write_analog(0, math.nan), ValueError, r"0\.\.5 V, got nan"),
            (lambda: c.write_analog(0, math.inf), ValueError, r"0\.\.5 V"),
            (lambda: c.write_analog(0, "1"), TypeError, "volts"),
            (lambda: c.ai_read((1,), 2001), ValueError, r"sample_count must be in 0\.\.2000"),
            (lambda: c.ai_read((3,), 65535), ValueError, r"0\.\.2000"),
            (lambda: c.ai_read((1,), 10, threshold=math.nan), ValueError, "threshold"),
            (lambda: c.ai_read((1,), 10, sample_delay=3001), ValueError, r"0\.\.3000 micro"),
            (lambda: c.ai_read((1,), 10, aux_word1=9), ValueError, r"10\.\.3000"),
            (lambda: c.scan_port(4001), ValueError, r"sample_count must be in 0\.\.4000"),
            (lambda: c.scan_port(65535), ValueError, r"0\.\.4000"),
            (lambda: c.generate(5, 10, 0), ValueError, r"6\.\.10000"),
            (lambda: c.count_pulses(18), ValueError, r"0\.\.17"),
            (lambda: c.read_port(256), ValueError),
            (lambda: c.write_port(0, -1), ValueError),
            (lambda: c.write_bit(0, 1.0), TypeError),
            (lambda: c.set_dac_divider(65536), ValueError),
            (lambda: c.send(256, 0), ValueError),
            (lambda: c.send(1, 0, bytes(16386)), ValueError),
            (lambda: c.uart_read(70000), ValueError),
            (lambda: c.hc595_write(bytes(65)), ValueError),
            (lambda: c.wr1_write_some(bytes(65)), ValueError),
            (lambda: c.write_user_sn(bytes(17)), ValueError),
            (lambda: c.write_mask([0] * 17), ValueError),
            (lambda: c.wave_out(bytes(2001)), ValueError),
            (lambda: c.ai_read(()), ValueError),
            (lambda: c.ai_read((0, 1)), ValueError),
            (lambda: c.ai_read((1,), sample_delay=70000), ValueError),
        ]
        for index, (call, error, *message) in enumerate(cases):
            with self.subTest(row=index):
                with self.assertRaisesRegex(error, message[0] if message else ""):
                    call()
                self.assertEqual(self.fake.calls, [])

    def test_handle_and_status_travel_by_reference(self):
        self.c.watchdog(5)
        args = self.last("WatchDog")
        self.assertIs(args[0]._obj, self.c.handle)
        self.assertEqual(self.c.handle.value, 7)
        self.assertEqual(args[1], 5)
        self.assertIsInstance(args[2]._obj, ctypes.c_int32)


class DeviceTest(unittest.TestCase):
    """One open simulated controller for the whole class."""

    @classmethod
    def setUpClass(cls):
        cls.c = kmtv1.Controller()

    @classmethod
    def tearDownClass(cls):
        cls.c.close()

    def test_firmware_matches_the_raw_exchange(self):
        raw = self.c.send(1, 0)
        self.assertEqual(len(raw), 8)
        words = tuple(raw[i] | raw[i + 1] << 8 for i in range(0, 8, 2))
        self.assertEqual(self.c.firmware(), words)
        self.assertEqual(words, (1, 0, 43, 2))

    def test_raw_send(self):
        self.assertEqual(self.c.send(8, 0), b"")  # short request: echoed header, no payload
        with self.assertRaises(kmtv1.KmtError) as caught:
            self.c.send(99, 0, b"\x01\x02")  # no such command: the controller refuses
        self.assertEqual((caught.exception.function, caught.exception.status),
                         ("KMT_SendComm", kmtv1.STATUS_BAD_RESPONSE))

    def test_analog_output_number_out_of_range(self):
        for output in (2, 3, 255):
            with self.subTest(output=output):
                with self.assertRaisesRegex(ValueError, r"output must be in 0\.\.1"):
                    self.c.write_analog(output, 1.0)
        # The library's own refusal, through the raw function, is OutOfRangeError.
        status = ctypes.c_int32()
        kmtv1.lib.AO_SimpleWrite(ctypes.byref(self.c.handle), 2, 1.0, ctypes.byref(status))
        self.assertEqual(status.value, kmtv1.STATUS_OUT_OF_RANGE)

    def test_digital_port_round_trip(self):
        c = self.c
        c.set_port_mode(0, 1)  # outputs read back their latches
        c.set_port_mode(1, 1)
        # Port 0 is lines 0..7, port 1 lines 8..11 (its bits 0..3).
        for port, value, expected in ((0, 0xA5, 0xA5), (0, 0x00, 0x00), (0, 0xFF, 0xFF),
                                      (1, 0x0A, 0x0A), (1, 0x05, 0x05)):
            with self.subTest(port=port, value=value):
                c.write_port(port, value)
                self.assertEqual(c.read_port(port), expected)

    def test_digital_lines(self):
        c = self.c
        c.set_port_mode(0, 1)  # outputs read back their latches
        c.set_port_mode(1, 1)
        c.write_port(0, 0)
        c.write_port(1, 0)
        for line, port, bit in ((0, 0, 0x01), (7, 0, 0x80), (8, 1, 0x01), (11, 1, 0x08)):
            with self.subTest(line=line):
                c.write_bit(line, 1)
                self.assertTrue(c.read_port(port) & bit)
                c.write_bit(line, 0)
                self.assertFalse(c.read_port(port) & bit)
        c.write_mask([1, 0, 2, 2, 0, 0, 0, 0, 1, 0, 0, 1], [0, 0, 1, 0])
        self.assertEqual((c.read_port(0), c.read_port(1)), (0b0101, 0b1001))

    # The simulated controller loops analog output 0 to input 3 and output 1 to input 4.
    LOOPS = {0: 3, 1: 4}
    HALF_COUNT = 5 / 1023 / 2 + 1e-12  # worst rounding of a 10-bit reading, in volts

    def test_analog_output_looped_to_an_input(self):
        c = self.c
        for output, volts in ((0, 1.0), (1, 3.3), (0, 0.0), (1, 5.0), (0, 2.5)):
            with self.subTest(output=output, volts=volts):
                c.write_analog(output, volts)
                inputs = c.analog_inputs()
                self.assertEqual(len(inputs), 4)
                looped = self.LOOPS[output]
                self.assertAlmostEqual(inputs[looped - 1], volts, delta=self.HALF_COUNT)
                # The single-channel reads take the channel byte 0..3 for inputs 1..4.
                self.assertEqual(c.read_channel(looped - 1), inputs[looped - 1])
                timed, timer = c.analog_inputs_timed()
                self.assertEqual(timed[looped - 1], inputs[looped - 1])
                self.assertIsInstance(timer, int)

    def test_block_acquisition_of_looped_inputs(self):
        c = self.c
        c.write_analog(0, 1.0)
        c.write_analog(1, 4.0)
        counts = {3: round(1.0 / 5 * 1023), 4: round(4.0 / 5 * 1023)}
        for channels, sample_count in (((3, 4), 5), ((4,), 0), ((1, 3, 4), 100)):
            with self.subTest(channels=channels, sample_count=sample_count):
                got = c.ai_read(channels, sample_count)
                self.assertEqual(got.channels, channels)
                self.assertEqual(len(got.counts), len(channels))
                self.assertEqual(len(got.volts), len(channels))
                for samples in got.counts:
                    self.assertEqual(len(samples), sample_count + 1)
                # The k-th row belongs to the k-th selected input.
                for samples, channel in zip(got.counts, channels):
                    if channel in counts:
                        self.assertEqual(set(samples), {counts[channel]})
                self.assertEqual(got.trailer_byte, sum(1 << (n - 1) for n in channels))
                self.assertGreater(got.duration, 0)

    def test_port_scan(self):
        c = self.c
        c.set_port_mode(0, 1)
        c.set_port_mode(1, 1)
        c.write_port(0, 0x3C)
        c.write_port(1, 0x09)
        for count in (0, 20, 4000):
            with self.subTest(sample_count=count):
                scan = c.scan_port(count)
                self.assertEqual(scan.samples, bytes([0x3C]) * (count + 1))
                self.assertEqual(scan.trailer_byte, 0x09)  # port 1 at the last instant

    def test_user_memory_round_trip(self):
        c = self.c
        c.write_user_sn(b"python")
        self.assertEqual(c.read_user_sn(), b"python" + bytes(10))
        area = bytes(range(128))
        c.write_user_area(area)
        self.assertEqual(c.read_user_area(), area)

    def test_buses(self):
        c = self.c
        # SPI: a shift register from MOSI to MISO, so each byte returns one transfer later.
        c.spi_init(0)
        self.assertEqual(c.spi_transfer(b"\x11\x22\x33"), b"\x00\x11\x22")
        # I2C: an EEPROM at address 0x50; write answers 0 for an acknowledge.
        c.i2c_init()
        c.i2c_start()
        self.assertEqual([c.i2c_write(b) for b in (0xA0, 0x10, 0x5A)], [0, 0, 0])
        c.i2c_stop()
        c.i2c_start()
        self.assertEqual([c.i2c_write(b) for b in (0xA0, 0x10)], [0, 0])
        c.i2c_start()
        self.assertEqual(c.i2c_write(0xA1), 0)
        self.assertEqual(c.i2c_read(1), 0x5A)
        c.i2c_stop()
        # Shift-register expansion: a chain of eight reads back what was shifted out.
        c.exp1_init()
        c.hc595_write(b"ABCDEFGH")
        self.assertEqual(c.hc165_read(8), b"ABCDEFGH")
        self.assertEqual(c.hc165_read(10), b"ABCDEFGH\x00\x00")

    def test_one_wire_search_finds_three_devices(self):
        c = self.c
        self.assertEqual(c.wr1_init(), 1)  # presence pulse
        steps = [c.wr1_search_rom() for _ in range(3)]
        self.assertEqual([s.result for s in steps], [1, 1, 2])
        self.assertEqual(len({s.rom for s in steps}), 3)
        self.assertEqual(sorted(s.rom[0] for s in steps), [0x01, 0x28, 0x28])

    def test_generator_counted(self):
        c = self.c
        c.generate(100, 10, 500)  # 1 MHz / (100 x 10) = 1 kHz
        self.assertIn(c.count_pulses(8), (999, 1000, 1001))  # selector 8: a 1 s window

    def test_uart_loop(self):
        c = self.c
        message = bytes(range(150))
        cases = [  # written, [(count asked, data, bytes still waiting)]
            (b"hello", [(64, b"hello", 0)]),
            (b"hello", [(2, b"he", 3), (64, b"llo", 0)]),
            (message, [(64, message[:64], 86), (100, message[64:128], 22), (64, message[128:], 0)]),
            (b"", [(64, b"", 0)]),
        ]
        for written, reads in cases:
            with self.subTest(written=written[:8], length=len(written)):
                c.uart_init(9600, 0, 0)
                c.uart_write(written)
                for count, data, waiting in reads:
                    got = c.uart_read(count)
                    self.assertEqual(got.data, data)
                    self.assertEqual(got.trailer1, waiting)
        c.uart_close()
        with self.assertRaises(kmtv1.KmtError) as caught:
            c.uart_read()  # a closed UART refuses reads
        self.assertEqual(caught.exception.status, kmtv1.STATUS_BAD_RESPONSE)


class ErrorClassTest(unittest.TestCase):
    """Each status has a class of its own, caught separately; listing reports driver
    statuses, of which only 3 is a device status."""

    def test_status_to_class(self):
        cases = [
            ("DIO_ReadPort", 1, kmtv1.NotOpenError), ("KMT_InitBySN", 1, kmtv1.NotOpenError),
            ("AI_Read", 2, kmtv1.NoResponseError), ("KMT_SendComm", 2, kmtv1.NoResponseError),
            ("KMT_CreateListDevs", 3, kmtv1.UnknownTypeError),
            ("AO_SimpleWrite", 4, kmtv1.OutOfRangeError),
            ("KMT_CreateListDevs", 4, kmtv1.KmtError), ("KMT_CreateListDevs", 2, kmtv1.KmtError),
            ("DIO_ReadPort", 9, kmtv1.KmtError),
        ]
        for function, status, cls in cases:
            with self.subTest(function=function, status=status):
                error = kmtv1._controller.error_for(function, status)
                self.assertIs(type(error), cls)
                self.assertEqual((error.function, error.status), (function, status))
        self.assertIsInstance(kmtv1.OutOfRangeError("f", 4), ValueError)

    def test_real_failures_raise_their_class(self):
        with kmtv1.Controller() as c:
            with self.assertRaises(kmtv1.NoResponseError):
                c.send(99, 0)
        with self.assertRaises(kmtv1.NotOpenError):
            c.firmware()
        with self.assertRaises(kmtv1.UnknownTypeError):
            kmtv1.list_controllers("KMTCV9")


class BlockResultTest(unittest.TestCase):
    """Block acquisitions and scans come back in volts and line levels on a time axis,
    as NumPy arrays when NumPy is there and as lists otherwise."""

    @classmethod
    def setUpClass(cls):
        cls.c = kmtv1.Controller()
        cls.array = numpy.ndarray if numpy is not None else list

    @classmethod
    def tearDownClass(cls):
        cls.c.close()

    def test_acquisition_in_volts_with_time_axis(self):
        c = self.c
        c.write_analog(0, 1.0)
        c.write_analog(1, 4.0)
        cases = [  # channels, count, delay, expected channels, volts of looped inputs
            ((3,), 0, 0, (3,), {3: 1.0}),
            ((4, 3), 10, 0, (3, 4), {3: 1.0, 4: 4.0}),
            ((1, 2, 3, 4), 50, 100, (1, 2, 3, 4), {3: 1.0, 4: 4.0}),
        ]
        for channels, count, delay, expected, looped in cases:
            with self.subTest(channels=channels, count=count):
                got = c.ai_read(channels, count, sample_delay=delay)
                self.assertEqual(got.channels, expected)
                self.assertIsInstance(got.time, self.array)
                self.assertIsInstance(got.volts[0], self.array)
                self.assertEqual(len(got.time), count + 1)
                step = (len(expected) * 108.7663 + 19.2327 + delay + 6) / 1e6
                self.assertEqual(float(got.time[0]), 0.0)
                self.assertAlmostEqual(float(got.time[-1]), count * step, delta=1e-12)
                # The library's duration is the same model plus 4 microseconds.
                self.assertAlmostEqual(got.duration, count * step + 4e-6, delta=1e-12)
                for row, channel in enumerate(expected):
                    self.assertEqual([float(v) for v in got.volts[row]],
                                     [int(n) / 1023 * 5 for n in got.counts[row]])
                    if channel in looped:
                        self.assertAlmostEqual(float(got.volts[row][-1]), looped[channel],
                                               delta=5 / 1023 / 2)
                rows = list(got.rows())
                self.assertEqual(len(rows), count + 1)
                self.assertEqual(len(rows[0]), 1 + len(expected))

    def test_scan_as_line_levels(self):
        c = self.c
        c.set_port_mode(0, 1)
        c.write_port(0, 0b10100101)
        for count in (0, 30):
            with self.subTest(sample_count=count):
                got = c.scan_port(count)
                self.assertIsInstance(got.levels[0], self.array)
                self.assertEqual(len(got.levels), 8)
                self.assertEqual([int(row[-1]) for row in got.levels], [1, 0, 1, 0, 0, 1, 0, 1])
                self.assertEqual(len(got.time), count + 1)
                self.assertAlmostEqual(float(got.time[-1]), count * got.sample_period,
                                       delta=1e-12)


class WindowsStringTest(unittest.TestCase):
    """The discovery strings travel as VARIANTs on Windows: only the structure's layout
    can be checked here."""

    def test_variant_layout(self):
        pointer = ctypes.sizeof(ctypes.c_void_p)
        self.assertEqual(ctypes.sizeof(_text.VARIANT), 8 + max(8, 2 * pointer))
        self.assertEqual(_text.VARIANT.vt.offset, 0)
        self.assertEqual(_text.VARIANT.value.offset, 8)
        self.assertEqual(_text.VT_BSTR, 8)

    @unittest.skipIf(os.name == "nt", "POSIX strings")
    def test_posix_strings_are_bytes(self):
        with _text.text_in("KMTCV1") as argument:
            self.assertEqual(argument, b"KMTCV1")
        with _text.text_out() as (buffer, read):
            buffer.value = b"SIM00001"
            self.assertEqual(read(), "SIM00001")


if __name__ == "__main__":
    unittest.main()
