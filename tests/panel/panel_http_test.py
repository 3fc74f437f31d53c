#!/usr/bin/env python3
"""The panel's HTTP server, request by request and against hostile clients, without a
browser: the real server (kmtv1-panel) on a free loopback port, the simulated controller.

Usage: panel_http_test.py PANEL_PROGRAM [ARGS...]   (e.g. build/kmtv1-panel)
The limits checked are the server's (tools/panel/guarded_server.h, README "Hostile clients").
"""
import http.client
import json
import re
import select
import socket
import sys
import threading
import time
import unittest

import panel_process

PANEL = sys.argv[1:]
HEAD_TIME = 5.0          # request line and headers within 5 s
PER_ADDRESS = 32         # connections from one client address
BODY_LIMIT = 64 * 1024   # request body, decoded


def start_panel(driver_option):
    return panel_process.start_panel(PANEL, driver_option)


stop_panel = panel_process.stop_panel


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


class Panel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.process, cls.url = start_panel("sim:clock=virtual")
        match = re.match(r"http://([^/]+)/\?token=([0-9a-f]+)", cls.url)
        cls.host, cls.token = match.group(1), match.group(2)
        cls.port = int(cls.host.rsplit(":", 1)[1])

    @classmethod
    def tearDownClass(cls):
        stop_panel(cls.process)

    def request(self, method, path, host=None, body=None, token=True, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        all_headers = {"Host": host or self.host, **(headers or {})}
        if token:
            all_headers["X-Panel-Token"] = self.token
        if isinstance(body, dict):
            body = json.dumps(body)
        connection.request(method, path, body=body, headers=all_headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, data

    def raw(self, data, source="127.0.0.1", timeout=10):
        """Sends bytes as they are; returns the response's status (None: closed unanswered)."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout,
                                      source_address=(source, 0)) as s:
            try:
                s.sendall(data)
            except OSError:
                pass  # refused midway: the answer may still be there
            return self.status_of(s)

    @staticmethod
    def status_of(s):
        received = b""
        try:
            while b"\r\n" not in received:
                more = s.recv(4096)
                if not more:
                    break
                received += more
        except OSError:
            pass
        match = re.match(rb"HTTP/1\.1 (\d{3}) ", received)
        return int(match.group(1)) if match else None

    def head(self, method="POST", path="/api/line", extra=""):
        return (f"{method} {path} HTTP/1.1\r\nHost: {self.host}\r\n"
                f"X-Panel-Token: {self.token}\r\n{extra}").encode()

    def timed_page(self, path="/"):
        started = time.monotonic()
        status, _ = self.request("GET", path)
        return status, time.monotonic() - started


class Requests(Panel):
    def test_refusals(self):
        port = self.port
        big = {"line": 0, "level": 1, "pad": "x" * BODY_LIMIT}
        cases = [
            # method, path, host, token, body, status
            ("GET", "/", None, False, None, 403),
            ("GET", "/panel.js", None, False, None, 403),
            ("GET", "/api/live", None, False, None, 403),
            ("GET", "/?token=" + "0" * 32, None, False, None, 403),
            ("POST", "/api/line", None, False, {"line": 0, "level": 1}, 403),
            ("GET", "/", f"evil.example:{port}", True, None, 403),
            ("GET", "/", f"127.0.0.1:{port + 1}", True, None, 403),
            ("GET", "/", "127.0.0.1", True, None, 403),
            ("GET", "/", f"localhost:{port}", True, None, 200),
            ("GET", "/", f"[::1]:{port}", True, None, 200),
            ("GET", "/api/line", None, True, None, 405),
            ("POST", "/api/line", None, True, {"line": 12, "level": 1}, 400),
            ("POST", "/api/line", None, True, {"line": 0, "level": 2}, 400),
            ("POST", "/api/line", None, True, {"line": "0", "level": 1}, 400),
            ("POST", "/api/line", None, True, "[1, 2]", 400),
            ("POST", "/api/line-mode", None, True, {"line": 0, "mode": 3}, 400),
            ("POST", "/api/analog-out", None, True, {"output": 2, "volts": 1}, 400),
            ("POST", "/api/analog-out", None, True, {"output": 0, "volts": 5.01}, 400),
            ("POST", "/api/analog-out", None, True, {"output": 0, "volts": -0.1}, 400),
            ("POST", "/api/acquire", None, True,
             {"inputs": [False] * 4, "sample_count": 1, "sample_delay": 0}, 400),
            ("POST", "/api/acquire", None, True,
             {"inputs": [True] * 4, "sample_count": 2001, "sample_delay": 0}, 400),
            ("POST", "/api/scan", None, True, {"sample_count": 4001, "sample_delay": 0}, 400),
            ("POST", "/api/scan", None, True, {"sample_count": 1, "sample_delay": 3001}, 400),
            ("POST", "/api/line", None, True, big, 413),  # Content-Length over the limit
            ("POST", "/api/analog-out", None, True, {"output": 1, "volts": 5}, 200),
            ("POST", "/api/scan", None, True, {"sample_count": 0, "sample_delay": 0}, 200),
        ]
        for method, path, host, token, body, status in cases:
            with self.subTest(method=method, path=path, host=host, token=token, body=body):
                got, data = self.request(method, path, host, body, token)
                self.assertEqual(got, status, data[:200])
                if status >= 400:
                    self.assertTrue(json.loads(data)["error"])

    def test_framings_and_sizes(self):
        def chunked(total, chunk=4096, body_start=b'{"line": 0, "level": 1, "pad": "'):
            data = body_start + b"x" * (total - len(body_start) - 2) + b'"}'
            pieces = [data[i:i + chunk] for i in range(0, len(data), chunk)]
            return b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in pieces) + b"0\r\n\r\n"

        te = "Transfer-Encoding: chunked\r\n\r\n"
        cases = [
            # what, bytes sent, status
            ("chunked within the limit", self.head(extra=te) + chunked(1000), 200),
            ("chunked over the limit", self.head(extra=te) + chunked(BODY_LIMIT + 1), 413),
            ("chunked in one-byte chunks", self.head(extra=te) + chunked(60000, 1), 413),
            ("endless chunk-size line", self.head(extra=te) + b"1" * 300000, 413),
            ("Content-Length beyond the limit", self.head(extra="Content-Length: 99999999999\r\n\r\n"),
             413),
            ("headers beyond 32 KiB",
             self.head("GET", "/", "".join(f"X-Pad{i}: {'y' * 4000}\r\n" for i in range(10))), 431),
            ("form upload", self.head(extra="Content-Type: multipart/form-data; boundary=b\r\n"
                                            "Content-Length: 4\r\n\r\n") + b"--b-", 415),
            ("not HTTP", b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 400),
        ]
        for what, data, status in cases:
            with self.subTest(what):
                started = time.monotonic()
                self.assertEqual(self.raw(data), status)
                self.assertLess(time.monotonic() - started, 3)

    def test_huge_chunked_body_is_refused_without_being_read(self):
        before = resident_kib(self.process.pid)
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(self.head(extra="Transfer-Encoding: chunked\r\n\r\n"))
            chunk = b"100000\r\n" + b"x" * 0x100000 + b"\r\n"
            sent = 0
            try:
                while sent < 100 * len(chunk):  # 100 MiB, far beyond what may be read
                    s.sendall(chunk)
                    sent += len(chunk)
            except OSError:
                pass  # the server stopped reading and closed
            self.assertEqual(self.status_of(s), 413)
        self.assertLess(sent, 100 * len(chunk))
        self.assertLess(resident_kib(self.process.pid) - before, 16 * 1024)


class SlowClients(Panel):
    def slow_clients(self, count, source, seconds, answers):
        """Opens `count` connections from `source(index)` that send a request line and then
        a header line a second, for `seconds`; collects each one's answer (status or None)."""
        def dribble(index):
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=HEAD_TIME + 5,
                                              source_address=(source(index), 0)) as s:
                    started = time.monotonic()
                    try:
                        s.sendall(b"GET /api/live HTTP/1.1\r\n")
                        # A header line a second until the server answers (or closes).
                        while (time.monotonic() - started < seconds and
                               not select.select([s], [], [], 1)[0]):
                            s.sendall(b"X-Slow: %d\r\n" % index)
                    except OSError:
                        pass
                    answers[index] = (self.status_of(s), time.monotonic() - started)
            except OSError as e:
                answers[index] = (str(e), 0)

        threads = [threading.Thread(target=dribble, args=(i,)) for i in range(count)]
        for thread in threads:
            thread.start()
        return threads

    def answers_while(self, threads, seconds):
        """Fetches the page and the live readings while the slow clients hold on; returns
        the slowest answer's time."""
        slowest, deadline = 0, time.monotonic() + seconds
        time.sleep(0.5)  # let every slow client connect first
        while time.monotonic() < deadline:
            for path in ("/", "/api/live"):
                status, took = self.timed_page(path)
                self.assertEqual(status, 200, path)
                slowest = max(slowest, took)
            time.sleep(0.2)
        for thread in threads:
            thread.join(timeout=HEAD_TIME + 10)
        return slowest

    def test_twenty_slow_clients_do_not_hold_the_page(self):
        answers = {}
        threads = self.slow_clients(20, lambda i: "127.0.0.1", HEAD_TIME + 2, answers)
        slowest = self.answers_while(threads, HEAD_TIME - 0.5)
        print(f"\n20 slow clients: slowest page or reading answered in {slowest * 1000:.0f} ms",
              file=sys.stderr)
        self.assertLess(slowest, 1.0)
        # Each slow client is cut off when its headers are late: 408, within the limit.
        self.assertEqual(sorted(a[0] for a in answers.values()), [408] * 20)
        self.assertTrue(all(took < HEAD_TIME + 1.5 for _, took in answers.values()), answers)

    def test_fifty_slow_clients_from_fifty_addresses_do_not_hold_the_page(self):
        # Every address of 127/8 is this machine's: 50 clients, each from one of its own.
        answers = {}
        threads = self.slow_clients(50, lambda i: f"127.0.1.{i + 1}", HEAD_TIME + 2, answers)
        slowest = self.answers_while(threads, HEAD_TIME - 0.5)
        print(f"\n50 slow clients: slowest page or reading answered in {slowest * 1000:.0f} ms",
              file=sys.stderr)
        self.assertLess(slowest, 1.0)
        self.assertEqual(sorted(a[0] for a in answers.values()), [408] * 50)

    def test_slow_clients_from_one_address_are_capped(self):
        # Another loopback address than the page's, so that the cap on one address shows.
        answers = {}
        threads = self.slow_clients(40, lambda i: "127.0.0.2", HEAD_TIME + 2, answers)
        slowest = self.answers_while(threads, 3)
        self.assertLess(slowest, 1.0)
        statuses = [a[0] for a in answers.values()]
        self.assertEqual(statuses.count(408), PER_ADDRESS, statuses)
        # The rest were refused at once (503, or closed before their request arrived).
        refused = [a for a in answers.values() if a[0] != 408]
        self.assertTrue(all(status in (503, None) and took < 1.5 for status, took in refused),
                        refused)

    def test_idle_connection_is_closed(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=15) as s:
            started = time.monotonic()
            self.assertEqual(s.recv(100), b"")
            self.assertLess(time.monotonic() - started, HEAD_TIME + 1.5)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
