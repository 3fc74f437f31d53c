"""Digital lines: port 0 as outputs, a pattern written and read back, one line
toggled, then all twelve latches set at once with a mask.

    KMT_DRIVER=sim python3 digital_io.py

Modes: 0 input, 1 output, 2 input with pull-up. Port 0 is lines 0..7, port 1 lines 8..11.
"""

import kmtv1

OUTPUT = 1

with kmtv1.Controller() as controller:
    controller.set_port_mode(0, OUTPUT)
    controller.write_port(0, 0x5A)
    print("port 0 after writing 0x5A: 0x%02X" % controller.read_port(0))
    controller.write_bit(0, 1)
    print("port 0 after setting line 0: 0x%02X" % controller.read_port(0))
    # Per line: 0 low, 1 high, 2 the value given for it. Lines 0..3 high, the rest low.
    controller.write_mask([1, 1, 1, 1] + [0] * 8)
    print("port 0 after the mask: 0x%02X" % controller.read_port(0))
