#!/usr/bin/env python3
"""Writes starting inputs for the exported-function fuzz target (fuzz/abi_fuzz.cpp):
one per export, all pointers given, answered by a well-formed response. libFuzzer grows
them; the minimised result is kept in fuzz/corpus_abi."""
import os
import random
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus_abi")
os.makedirs(out, exist_ok=True)
rng = random.Random(4321)


def frame(payload, result=0):
    head = bytes([result, len(payload) & 0xFF, len(payload) >> 8]) + bytes(payload)
    return head + bytes([sum(head) % 256])


for which in range(56):
    # One call, no driver failure; the export, no null pointer, 16 argument bytes.
    call = bytes([which, 0]) + bytes(rng.randrange(256) for _ in range(16))
    response = frame(bytes(rng.randrange(0xA5) for _ in range(10)))
    with open(os.path.join(out, "seed_%02d" % which), "wb") as f:
        f.write(bytes([0, 15]) + call + response + bytes([0xA5, 0x5A]) + response)
