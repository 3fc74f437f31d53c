#!/usr/bin/env python3
"""Many bridges, one broker, one subscriber (bench/mqtt.sh runs this).

Usage: mqtt_bench.py KMTV1_MQTT SECONDS BRIDGES RATE MOSQUITTO

Starts mosquitto on a free loopback port, BRIDGES bridges each for its own simulated
controller answering 2 ms late, at RATE readings a second, and one mosquitto_sub on every
state topic. Controller 1 goes silent halfway through the measured time. Prints the share
of the expected state messages that arrived, the age of a message at the subscriber
(receipt time minus the reading's time stamp), each half's message rate of the others,
and the bridges' memory and processor time. Measures only: never passes or fails.
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

bridge_program, seconds, count, rate, mosquitto = (
    sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), sys.argv[5])
EXCHANGES_PER_READING = 3  # analog inputs, port 0, port 1

with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
work = tempfile.TemporaryDirectory()
conf = os.path.join(work.name, "mosquitto.conf")
with open(conf, "w") as f:
    f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n"
            "max_connections -1\n" % port)
processes = []


def stop_all():
    for p in reversed(processes):
        if p.poll() is None:
            os.kill(p.pid, signal.SIGTERM)
    for p in reversed(processes):
        try:
            p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.kill(p.pid, signal.SIGKILL)
            p.wait()


broker = subprocess.Popen([mosquitto, "-c", conf], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
processes.append(broker)
try:
    for _ in range(250):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            break
        except OSError:
            time.sleep(0.02)

    serials = ["KMTC0002BENCH%03d" % (i + 1) for i in range(count)]
    received = {s: [] for s in serials}  # (receipt time, age) per state message
    online = set()
    sub = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port),
                            "-t", "kmtv1/+/state", "-t", "kmtv1/+/status", "-F", "%t\t%p"],
                           stdout=subprocess.PIPE, text=True)
    processes.append(sub)
    stamp = re.compile(r'"ts":([0-9.]+)')

    def read_messages():
        for line in sub.stdout:
            now = time.time()
            topic, payload = line.rstrip("\n").split("\t", 1)
            serial = topic.split("/")[1]
            if topic.endswith("/status"):
                if payload == "online":
                    online.add(serial)
                continue
            m = stamp.search(payload)
            if m and serial in received:
                received[serial].append((now, now - float(m.group(1))))

    threading.Thread(target=read_messages, daemon=True).start()
    time.sleep(0.3)

    # Controller 1 goes silent after as many readings as half the measured time holds;
    # its readings during start-up count too, so it goes silent a little before the half.
    silent_after = int(EXCHANGES_PER_READING * rate * seconds / 2)
    bridges = []
    for i, serial in enumerate(serials):
        driver = "sim:serials=%s,fault=delay:2000" % serial
        if i == 0:
            driver += "+silent@%d" % silent_after
        bridges.append(subprocess.Popen(
            [bridge_program, "--broker", "mqtt://127.0.0.1:%d" % port, "--rate", str(rate),
             "--no-discovery"], env=dict(os.environ, KMT_DRIVER=driver),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    processes.extend(bridges)
    deadline = time.monotonic() + 60
    while len(online) < count and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(1.0)
    start = time.time()
    time.sleep(seconds)
    end = time.time()

    def memory(pid):
        fields = {}
        for name in ("status", "smaps_rollup"):
            try:
                with open("/proc/%d/%s" % (pid, name)) as f:
                    for line in f:
                        key, _, value = line.partition(":")
                        fields[key] = value.strip()
            except OSError:
                pass
        kib = lambda key: int(fields.get(key, "0 kB").split()[0])
        return kib("VmRSS"), kib("Pss")

    def cpu_seconds(pid):
        with open("/proc/%d/stat" % pid) as f:
            parts = f.read().rsplit(")", 1)[1].split()
        return (int(parts[11]) + int(parts[12])) / os.sysconf("SC_CLK_TCK")

    mem = [memory(b.pid) for b in bridges]
    cpu = [cpu_seconds(b.pid) for b in bridges]
finally:
    stop_all()

half = (start + end) / 2
others = serials[1:]
window = [(t, a) for s in others for t, a in received[s] if start <= t < end]
expected = rate * (end - start) * len(others)
ages = sorted(a for _, a in window)


def percentile(p):
    return ages[min(len(ages) - 1, int(p / 100 * len(ages)))] * 1000 if ages else float("nan")


def rate_of(serial_list, t0, t1):
    n = sum(1 for s in serial_list for t, _ in received[s] if t0 <= t < t1)
    return n / (t1 - t0) / max(1, len(serial_list))


print("machine: %d cores, %s" % (os.cpu_count(), open("/proc/loadavg").read().split()[0]
                                  + " load average at the end"))
print("%d bridges at %g Hz, controllers answering 2 ms late, %.0f s measured"
      % (count, rate, end - start))
print("state messages received (controllers 2..%d): %d of %.0f expected = %.2f%%"
      % (count, len(window), expected, 100 * len(window) / expected))
print("age at the subscriber: median %.1f ms, p99 %.1f ms, max %.1f ms"
      % (percentile(50), percentile(99), ages[-1] * 1000 if ages else float("nan")))
print("rate per controller, first half / second half (controller 1 silent in the second):")
print("  controllers 2..%d: %.2f / %.2f messages/s" % (count, rate_of(others, start, half),
                                                       rate_of(others, half, end)))
print("  controller 1:      %.2f / %.2f messages/s" % (rate_of(serials[:1], start, half),
                                                       rate_of(serials[:1], half, end)))
rss = sum(m[0] for m in mem) / len(mem)
pss = sum(m[1] for m in mem) / len(mem)
print("memory per bridge: %.0f KiB resident, %.0f KiB proportional (shared pages split)"
      % (rss, pss))
print("processor time per bridge: %.1f%% of one core (whole run, start-up included)"
      % (100 * sum(cpu) / len(cpu) / (end - start)))
