"""Sets analog output 0, samples inputs 1 and 3 in one block and writes the block to a
CSV file (time in seconds, then volts per input).

    KMT_DRIVER=sim python3 acquire_csv.py block.csv

With the simulated controller, output 0 is looped back to input 3.
"""

import csv
import sys

import kmtv1


def main(path: str) -> None:
    with kmtv1.Controller() as controller:
        controller.write_analog(0, 1.5)
        block = controller.ai_read((1, 3), sample_count=200, sample_delay=50)
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["time_s"] + ["input%d_V" % n for n in block.channels])
        writer.writerows(block.rows())
    print("%d samples of inputs %s over %.6f s written to %s"
          % (len(block.time), block.channels, block.duration, path))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "block.csv")
