"""Analog output 0 set to three voltages, each read back on analog input 3 (the
simulated controller loops output 0 to input 3; on hardware, wire them together).

    KMT_DRIVER=sim python3 analog_loop.py

Outputs take 0..5 V; inputs read 0..5 V in 1023 steps.
"""

import kmtv1

with kmtv1.Controller() as controller:
    for volts in (0.5, 2.5, 4.5):
        controller.write_analog(0, volts)
        reading, timer_us = controller.read_channel_timed(2)  # channel 2 is input 3
        print("output 0 at %.2f V: input 3 reads %.3f V (controller time %d us)"
              % (volts, reading, timer_us))
