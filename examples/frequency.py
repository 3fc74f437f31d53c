"""Generator and pulse counter: starts the generator at 1 kHz and measures it with
the counter (on the simulated controller the counter counts the generator's edges;
on hardware, wire the generator output to the counter input).

    KMT_DRIVER=sim python3 frequency.py

frequency = 1000000 / (value1 * value2) Hz; value3 the high time in per mille.
Counter window of selector 4: 99982 us.
"""

import kmtv1

WINDOW_S = {4: 0.099982, 8: 1.0}

with kmtv1.Controller() as controller:
    controller.generate(10, 100, 500)  # 1000000 / (10 * 100) = 1000 Hz, 50 % high
    pulses = controller.count_pulses(4)
    print("%d pulses in %.6f s: %.0f Hz" % (pulses, WINDOW_S[4], pulses / WINDOW_S[4]))
