"""Waveform and logic scan: plays a walking bit on port 0's outputs and samples port 0
while it plays.

    KMT_DRIVER=sim python3 logic_scan.py

The simulated controller holds each waveform byte 100 us (option wave_step_us); the
scan samples every sample_delay + 19.996 us.
"""

import kmtv1

with kmtv1.Controller() as controller:
    controller.set_port_mode(0, 1)  # outputs, so the waveform shows
    controller.wave_out(bytes([1, 2, 4, 8, 16, 32, 64, 128]))
    scan = controller.scan_port(40, sample_delay=30)
    seen = sorted(set(scan.samples))
    print("%d samples over %.6f s; port values seen: %s"
          % (len(scan.time), scan.time[-1], " ".join("%02X" % v for v in seen)))
