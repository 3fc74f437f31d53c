"""SPI: sets the master up and exchanges three bytes.

    KMT_DRIVER=sim python3 spi_transfer.py

The simulated controller's bus is a shift register from MOSI back to MISO, so each
byte comes back one transfer later.
"""

import kmtv1

with kmtv1.Controller() as controller:
    controller.spi_init(0)  # the setting byte: the controller firmware's meaning
    controller.spi_set_clock(1)  # selector 1..7
    received = controller.spi_transfer(b"\x01\x02\x03")
    print("sent 01 02 03, received %s" % received.hex(" "))
