#!/usr/bin/python3
"""The same exchanges as kmtv1_serial_bench, as a user would write them with pyserial
alone: frames built by hand, over the serial port or pseudo-terminal given.

Usage: serial_pyserial.py PORT [SMALL_EXCHANGES [SCANS]]  (defaults 2000 and 10)
PORT is a device path or a pyserial URL (rfc2217://HOST:PORT through ser2net).
Prints "small_per_s VALUE", "scan_ms MEDIAN", "small_median_us" and "small_p99_us", as
the library's benchmark does.

Request frame: 0x10 0x00, group, command, payload length (low byte first), payload,
and the sum of all those bytes modulo 256. Response frame: result byte (0 = success),
payload length (low byte first), payload, and the sum of all preceding bytes modulo 256.
"""
import statistics
import sys
import time

import serial


def request(group, command, payload=b""):
    frame = bytes([0x10, 0x00, group, command, len(payload) & 0xFF, len(payload) >> 8])
    frame += payload
    return frame + bytes([sum(frame) & 0xFF])


def exchange(port, frame):
    port.write(frame)
    header = port.read(3)
    if len(header) != 3 or header[0] != 0:
        raise RuntimeError("no or refused response: %r" % header)
    length = header[1] | header[2] << 8
    rest = port.read(length + 1)
    if len(rest) != length + 1 or (sum(header) + sum(rest[:-1])) & 0xFF != rest[-1]:
        raise RuntimeError("short or corrupt response")
    return rest[:-1]


def main():
    path = sys.argv[1]
    small = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    scans = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    with serial.serial_for_url(path, baudrate=250000, bytesize=8, parity="N", stopbits=1,
                               timeout=2) as port:
        read_port = request(16, 2, bytes([0]))  # port 0's levels: one byte back
        round_trips = []
        start = time.perf_counter()
        for _ in range(small):
            t = time.perf_counter()
            exchange(port, read_port)
            round_trips.append((time.perf_counter() - t) * 1e6)
        print("small_per_s %.1f" % (small / (time.perf_counter() - start)))

        # 4000 intervals: delay 0 (+6 sent), count 4000, aux word 10, two aux bytes, aux 0 (+6).
        scan = request(20, 1, bytes([6, 0, 0xA0, 0x0F, 10, 0, 0, 0, 6, 0]))
        times = []
        for _ in range(scans):
            start = time.perf_counter()
            samples = exchange(port, scan)
            times.append((time.perf_counter() - start) * 1000)
            if len(samples) != 4002:
                raise RuntimeError("scan answered %d bytes" % len(samples))
        print("scan_ms %.2f" % statistics.median(times))
        round_trips.sort()
        print("small_median_us %.1f" % statistics.median(round_trips))
        print("small_p99_us %.1f" % round_trips[len(round_trips) * 99 // 100])


if __name__ == "__main__":
    main()
