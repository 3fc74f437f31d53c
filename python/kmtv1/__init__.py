"""Python binding of libkmtv1, the host library of the KMTC multi-function USB I/O controller.

    import kmtv1
    with kmtv1.Controller() as c:          # the first KMTCV1 controller found
        print(c.firmware(), c.analog_inputs())

``kmtv1.lib`` is the loaded library itself, with the C prototypes of all 56 exports
declared, for calls the Controller methods do not cover. The library is found through
KMTV1_LIBRARY, then ctypes.util.find_library("kmtv1"), then beside the package, then
the dynamic loader's own search path (see python/README.md).
"""

from ._controller import (
    STATUS_BAD_RESPONSE,
    STATUS_NOT_OPEN,
    STATUS_OK,
    STATUS_OUT_OF_RANGE,
    STATUS_UNKNOWN_TYPE,
    Acquisition,
    Controller,
    ControllerInfo,
    KmtError,
    PortScan,
    RomSearch,
    UartData,
    driver_type,
    library,
    list_controllers,
    version,
)
from ._controller import _lock as lock
from ._native import PAYLOAD_SIZE, PROTOTYPES, STRING_SIZE, LibraryNotFoundError

__all__ = [
    "Acquisition", "Controller", "ControllerInfo", "KmtError", "LibraryNotFoundError",
    "PAYLOAD_SIZE", "PROTOTYPES", "PortScan", "RomSearch", "STATUS_BAD_RESPONSE",
    "STATUS_NOT_OPEN", "STATUS_OK", "STATUS_OUT_OF_RANGE", "STATUS_UNKNOWN_TYPE",
    "STRING_SIZE", "UartData", "driver_type", "lib", "library", "list_controllers", "lock",
    "version",
]


def __getattr__(name):
    # ``kmtv1.lib`` loads the library on first use, so that importing the package
    # never fails merely because the library is elsewhere.
    if name == "lib":
        return library()
    raise AttributeError("module 'kmtv1' has no attribute %r" % (name,))
