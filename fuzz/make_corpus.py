#!/usr/bin/env python3
"""Writes the regression corpus of the response fuzz target: for every function,
responses that are well formed, refused, corrupt, cut short or oversized."""
import os
import random
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
os.makedirs(out, exist_ok=True)
rng = random.Random(1234)
MARK = bytes([0xA5, 0x5A])


def frame(payload, result=0):
    head = bytes([result, len(payload) & 0xFF, len(payload) >> 8]) + bytes(payload)
    return head + bytes([sum(head) % 256])


def payload(n):
    # No 0xA5 bytes, so a payload never contains the read marker.
    return bytes(rng.choice([b for b in range(256) if b != 0xA5]) for _ in range(n))


for which in range(56):
    args = bytes([which]) + bytes(rng.randrange(256) for _ in range(8))
    big = which in (33, 44, 46, 47)
    lengths = [0, 1, 2, 3, 4, 5, 8, 10, 66, 70] + ([4007, 16013] if big else [])
    cases = [frame(payload(n)) for n in lengths]
    cases += [
        frame(payload(4), result=7),                       # refused
        frame(payload(6))[:-1] + b"\x00",                  # wrong checksum
        frame(payload(12))[:9],                            # truncated payload
        bytes([0, 0xFF, 0xFF]) + payload(20),              # announcement beyond the buffer
        bytes([0, 0x01]),                                  # partial header
        frame(payload(3))[:2] + MARK + frame(payload(3))[2:],  # header split over reads
        b"",                                               # silence
    ]
    for i, response in enumerate(cases):
        with open(os.path.join(out, f"f{which:02d}_{i:02d}"), "wb") as f:
            f.write(args + response)
