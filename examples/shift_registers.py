"""Shift-register expansion: writes eight bytes into the 74HC595 output chain and
reads the 74HC165 input chain (on the simulated controller, wired to those outputs).

    KMT_DRIVER=sim python3 shift_registers.py
"""

import kmtv1

with kmtv1.Controller() as controller:
    controller.exp1_init()  # all outputs 0
    controller.hc595_write(bytes([1, 2, 4, 8, 16, 32, 64, 128]))
    print("inputs: %s" % controller.hc165_read(8).hex(" "))
