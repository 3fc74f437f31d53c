"""Python binding of libkmtv1, the host library of the KMTC multi-function USB I/O controller.

    import kmtv1
    with kmtv1.Controller() as c:          # the first KMTCV1 controller found
        print(c.firmware(), c.analog_inputs())
        block = c.ai_read((1, 2), 100)     # volts and a time axis (NumPy arrays if
        print(block.time[-1], block.volts[0][:5])  # NumPy is installed)

``kmtv1.lib`` is the loaded library itself, with the C prototypes of all 56 exports
declared, for calls the Controller methods do not cover. The library is found through
KMTV1_LIBRARY, then the library installed with the package (cmake --install), then
ctypes.util.find_library("kmtv1"), then beside the package, then
the dynamic loader's own search path (see python/README.md).
"""

from ._controller import (
    FULL_SCALE_VOLTS,
    MAX_ACQUISITION_COUNT,
    MAX_SCAN_COUNT,
    STATUS_BAD_RESPONSE,
    STATUS_NOT_OPEN,
    STATUS_OK,
    STATUS_OUT_OF_RANGE,
    STATUS_UNKNOWN_TYPE,
    Acquisition,
    Controller,
    ControllerInfo,
    KmtError,
    NoResponseError,
    NotOpenError,
    OutOfRangeError,
    PortScan,
    RomSearch,
    UartData,
    UnknownTypeError,
    driver_type,
    library,
    list_controllers,
    version,
)
from ._controller import _lock as lock
from ._native import PAYLOAD_SIZE, PROTOTYPES, STRING_SIZE, LibraryNotFoundError

try:
    # Written by the build into its copy of the package (build/python/kmtv1), which pip
    # and cmake --install take.
    from ._version import __version__
except ImportError:
    # Straight from the source tree (PYTHONPATH=python): see __getattr__ below.
    pass

__all__ = [
    "Acquisition", "Controller", "ControllerInfo", "FULL_SCALE_VOLTS", "KmtError",
    "LibraryNotFoundError", "MAX_ACQUISITION_COUNT", "MAX_SCAN_COUNT", "NoResponseError",
    "NotOpenError", "OutOfRangeError", "PAYLOAD_SIZE", "PROTOTYPES", "PortScan", "RomSearch",
    "STATUS_BAD_RESPONSE", "STATUS_NOT_OPEN", "STATUS_OK", "STATUS_OUT_OF_RANGE",
    "STATUS_UNKNOWN_TYPE", "STRING_SIZE", "UartData", "UnknownTypeError", "driver_type", "lib",
    "library", "list_controllers", "lock", "version",
]


def __getattr__(name: str) -> object:
    # ``kmtv1.lib`` loads the library on first use, so that importing the package
    # never fails merely because the library is elsewhere.
    if name == "lib":
        return library()
    # The source tree holds no version of its own: it is that of the library it loads.
    if name == "__version__":
        return "%d.%d.%d" % version()
    raise AttributeError("module 'kmtv1' has no attribute %r" % (name,))
