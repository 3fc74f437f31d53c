#!/usr/bin/env python3
"""The command-line tool as a user runs it, against the simulated controller.

Usage: KMTV1_TEST_VERSION=X.Y.Z cli_test.py PATH_TO_KMTV1 (the version the build gives
the library and the tool). Every run gets KMT_DRIVER=sim:clock=virtual unless a
case names its own driver. Results are checked by value: JSON parsed, SVG parsed as XML.
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

TOOL = None
SIM = "sim:clock=virtual"
VERSION = os.environ["KMTV1_TEST_VERSION"]
# The simulated controller's firmware words (its own, not the library's version).
FIRMWARE = [1, 0, 43, 2]


def run(*args, driver=SIM, stdin=None, cwd=None, timeout=60):
    env = dict(os.environ, KMT_DRIVER=driver)
    return subprocess.run([TOOL, *args], input=stdin, capture_output=True, text=True, env=env,
                          cwd=cwd, timeout=timeout)


def documents(text):
    """Every JSON document in text, in order (pretty-printed ones follow each other)."""
    decoder, docs, i = json.JSONDecoder(), [], 0
    while True:
        while i < len(text) and text[i].isspace():
            i += 1
        if i == len(text):
            return docs
        doc, i = decoder.raw_decode(text, i)
        docs.append(doc)


class Families(unittest.TestCase):
    # One session: each line's JSON document is checked against the expected fields.
    # Lines with None are steps whose result is not looked at.
    SESSION = [
        ("info", {"firmware": FIRMWARE, "serial": "KMTC0002SIM00001", "library_version": VERSION}),
        ("dio port-mode 0 output", {"port": 0, "mode": 1}),
        ("dio port-write 0 0x5a", None),
        ("dio port-read 0", {"port": 0, "value": 0x5A}),
        ("dio read 1", {"line": 1, "level": 1}),
        ("dio mask 101000000000 --value 3=7", None),
        ("dio port-read 0", {"value": 0x0D}),
        ("ao write 0 2.5", {"output": 0, "volts": 2.5}),
        ("ai read 3", {"input": 3, "volts": 512 / 1023 * 5}),
        ("i2c scan", {"addresses": [0x48, 0x50]}),
        ("i2c write 0x50 10 ca fe", None),
        ("i2c read 0x50 2 -r 10", {"data": "ca fe"}),
        ("spi transfer 01 02 03", {"received": "00 01 02"}),
        ("uart init 9600", None),
        ("uart send --text hi", None),
        ("uart receive", {"text": "hi", "count": 2}),
        ("onewire reset", {"presence": True}),
        ("shift write 01 02 03 04 05 06 07 08", None),
        ("shift read 8", {"data": "01 02 03 04 05 06 07 08"}),
        ("mem serial-write 000102030405060708090a0b0c0d0e0f", None),
        ("mem serial", {"data": "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f"}),
        ("gen 1000", {"hz": 1000.0}),
        ("count 8", {"count": 1000}),
        ("raw 1 0", {"response": "01 00 00 00 2b 00 02 00", "length": 8}),
        ("wave --shape walk --length 16", {"length": 16}),
    ]

    def test_session_values(self):
        script = "\n".join(line for line, _ in self.SESSION) + "\n"
        result = run("--json", "shell", stdin=script)
        self.assertEqual(result.returncode, 0, result.stderr)
        docs = documents(result.stdout)
        self.assertEqual(len(docs), len(self.SESSION))
        for (line, expected), doc in zip(self.SESSION, docs):
            for key, value in (expected or {}).items():
                self.assertEqual(doc.get(key), value, line)

    def test_onewire_search_lists_every_device_with_family_and_crc(self):
        doc = json.loads(run("onewire", "search", "--json").stdout)
        self.assertEqual([d["family"] for d in doc["devices"]], [0x28, 0x28, 0x01])
        self.assertTrue(all(d["crc_ok"] for d in doc["devices"]))

    def test_list_and_serial_choice(self):
        two = SIM + ",devices=2"
        self.assertEqual([c["serial"] for c in json.loads(run("list", "--json", driver=two).stdout)],
                         ["KMTC0002SIM00001", "KMTC0002SIM00002"])
        # The serial part alone, and global options after the command.
        doc = json.loads(run("info", "--json", "-s", "SIM00002", driver=two).stdout)
        self.assertEqual(doc["serial"], "KMTC0002SIM00002")
        missing = run("-s", "SIM00009", "info", driver=two)
        self.assertEqual(missing.returncode, 3)
        self.assertIn("cannot open controller SIM00009", missing.stderr)

    def test_watch_prints_one_object_per_reading(self):
        lines = run("ai", "watch", "1", "-n", "3", "-i", "1", "--json").stdout.splitlines()
        self.assertEqual([json.loads(line)["input"] for line in lines], [1, 1, 1])


class Refusals(unittest.TestCase):
    # (arguments, driver, exit code, text expected on standard error)
    CASES = [
        (["ao", "write", "0", "nan"], SIM, 2, "0 to 5 V"),
        (["ao", "write", "1", "5.01"], SIM, 2, "0 to 5 V"),
        (["raw", "1", "0", "-d", "-5"], SIM, 2, "--delay"),
        (["acquire", "-n", "-5"], SIM, 2, "samples"),
        (["dio", "write", "12", "1"], SIM, 2, "line"),
        (["mem", "serial-write", "00"], SIM, 2, "exactly 16 bytes"),
        (["frobnicate"], SIM, 2, "frobnicate"),
        (["raw", "250", "0"], SIM, 12, "no response from the controller (status 2)"),
        (["list"], "sim:devices=0", 3, "KMT_DRIVER=sim"),
        (["info"], "sim:clock=virtual,fault=fail:open:3", 3, "cannot open controller"),
        (["--driver", "bogus", "list"], SIM, 2, "--driver: unknown driver \"bogus\""),
        (["list", "--driver", "trace:/tmp/t.txt:bogus"], SIM, 2, "unknown driver \"bogus\""),
        (["--driver", "trace::sim", "list"], SIM, 2, "needs a file name"),
        (["--driver", "replay:", "list"], SIM, 2, "unknown driver"),
        (["i2c", "write", "0x20", "00"], SIM, 1, "did not acknowledge"),
        (["uart", "receive"], SIM, 12, "status 2"),  # the UART is not open
        (["wave"], SIM, 2, "one way"),
        (["wave", "01", "--shape", "ramp"], SIM, 2, "one way"),
        (["wave", "--shape", "zigzag"], SIM, 2, "unknown shape"),
        (["uart", "send", "--text", "x" * 65], SIM, 2, "byte count 65"),
        (["gen", "0"], SIM, 2, "frequency"),
        (["count", "18"], SIM, 2, "18"),
        (["ai", "read", "5"], SIM, 2, "5"),
        (["spi", "clock", "8"], SIM, 2, "8"),
        (["dio", "mode", "0", "sideways"], SIM, 2, "sideways"),
        (["dio", "mask", "10"], SIM, 2, "twelve"),
        (["dio", "frob"], SIM, 2, "unknown command: dio frob"),
        (["dio"], SIM, 2, "dio needs a command: mode write read"),
        (["mem", "area-write", "--file", "/nonexistent/x"], SIM, 1, "cannot read"),
        (["run", "/nonexistent/script"], SIM, 1, "cannot read"),
        (["replay", "/nonexistent/trace", "--", "info"], SIM, 2, "/nonexistent/trace"),
    ]

    # (arguments, standard output) for the text of some commands
    TEXT = [
        (["dio", "read", "0"], "0\n"),
        (["dio", "port-read", "1"], "port 1: 0x00 = 0000\n"),
        (["ai", "read", "3"], "3: 0.0000 V\n"),
        (["onewire", "reset"], "device present\n"),
        (["i2c", "scan"], "0x48\n0x50\n"),
        (["spi", "bit", "1"], "0\n"),
        (["ao", "write", "0", "5"], ""),
        (["wave", "01", "02"], "playing 2 bytes on port 0 (lines in output mode show them)\n"),
        (["--version"], "kmtv1 %s (library %s)\n" % (VERSION, VERSION)),
    ]

    def test_text_output(self):
        for args, text in self.TEXT:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual((result.returncode, result.stdout), (0, text), result.stderr)

    def test_every_command_has_help(self):
        root = run("--help").stdout
        names = root.split("Subcommands:")[1].split("\n\n")[0].split()[::1]
        commands = [n for n in names if run(n, "--help").returncode == 0]
        self.assertGreaterEqual(len(commands), 21)
        self.assertIn("Exit codes:", root)
        self.assertIn("kmtv1 --help", run("acquire", "--help").stdout)

    def test_exit_codes_and_words(self):
        for args, driver, code, words in self.CASES:
            with self.subTest(args=args):
                result = run(*args, driver=driver)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(words, result.stderr)
                self.assertEqual(result.stdout, "")

    def test_json_error_object(self):
        result = run("raw", "250", "0", "--json")
        self.assertEqual(json.loads(result.stdout)["error"],
                         {"message": "exchange 250/0: no response from the controller (status 2)",
                          "exit_code": 12, "status": 2})

    def test_json_error_status_on_every_failure(self):
        # (arguments, driver, exit code, status): the status of the call that failed,
        # null where the command failed before calling the library.
        cases = [
            (["list"], "sim:devices=0", 3, 0),
            (["info"], "sim:devices=0", 3, 0),
            (["info"], "sim:clock=virtual,fault=fail:open:3", 3, 1),
            (["ao", "write", "0", "nan"], SIM, 2, None),
            (["--driver", "bogus", "list"], SIM, 2, None),
        ]
        for args, driver, code, status in cases:
            with self.subTest(args=args, driver=driver):
                result = run(*args, "--json", driver=driver)
                error = json.loads(result.stdout)["error"]
                self.assertEqual((result.returncode, error["exit_code"]), (code, code))
                self.assertIn("status", error)
                self.assertEqual(error["status"], status)

    def test_driver_forms_that_are_accepted(self):
        with tempfile.TemporaryDirectory() as tmp:
            for driver in ("sim:clock=virtual", "trace:%s/t.txt:sim:clock=virtual" % tmp):
                with self.subTest(driver=driver):
                    result = run("--driver", driver, "list")
                    self.assertEqual(result.returncode, 0, result.stderr)
            result = run("--driver", "tty:%s/none=KMTC0002X" % tmp, "list")
            self.assertNotIn("unknown driver", result.stderr)
            self.assertNotEqual(result.returncode, 2)
        # A wrong name is the command line's error, not the library's.
        self.assertNotIn("KMT_DRIVER:", run("--driver", "bogus", "list").stderr)

    def test_write_command_prints_nothing(self):
        result = run("raw", "16", "7", "00", "ff")
        self.assertEqual((result.returncode, result.stdout), (0, ""))


class Documentation(unittest.TestCase):
    ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    GLOBAL_WITH_VALUE = {"--driver", "--trace", "-s", "--serial"}

    def command_lines(self):
        """(file, words) of every `kmtv1 ...` line in the shell blocks of the docs."""
        files = [os.path.join(self.ROOT, "README.md")]
        docs = os.path.join(self.ROOT, "docs")
        files += [os.path.join(docs, f) for f in sorted(os.listdir(docs)) if f.endswith(".md")]
        for path in files:
            in_block = False
            with open(path, encoding="utf-8") as f:
                for line in f:
                    if line.startswith("```"):
                        in_block = line.strip() in ("```sh", "```shell", "```console")
                        continue
                    words = line.split("#")[0].split()
                    while words and "=" in words[0]:  # VAR=value before the program
                        words.pop(0)
                    if in_block and words and words[0] in ("kmtv1", "build/kmtv1"):
                        yield os.path.basename(path), words[1:]

    def test_every_documented_command_exists(self):
        # The leading words naming commands (`uart init`) must be commands of the tool:
        # its help for them names the whole path.
        checked = 0
        for name, words in self.command_lines():
            while words and words[0] in self.GLOBAL_WITH_VALUE:
                words = words[2:]
            path = []
            for word in words:
                if not word.replace("-", "").isalpha() or word.startswith("-"):
                    break
                path.append(word)
            if not path:
                continue
            with self.subTest(file=name, command=" ".join(path)):
                usage = run(*path, "--help").stdout
                self.assertIn("Usage: kmtv1 %s " % " ".join(path), usage)
                checked += 1
        self.assertGreater(checked, 5)


class HostileInput(unittest.TestCase):
    """Files and drivers that are not what they should be: each is refused within seconds,
    with its exit code and a message naming the file."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        cls.fifo = os.path.join(cls.dir, "fifo")
        os.mkfifo(cls.fifo)

        def sized(name, size, sparse=False):
            path = os.path.join(cls.dir, name)
            with open(path, "wb") as f:
                if sparse:
                    f.truncate(size)
                else:
                    f.write(b"\x01" * size)
            return path

        cls.area_129 = sized("area.bin", 129)
        cls.wave_2001 = sized("wave.bin", 2001)
        cls.script_big = sized("script.txt", 1024 * 1024 + 1, sparse=True)
        cls.trace_big = sized("trace.txt", 16 * 1024 * 1024 + 1, sparse=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def cases(self):
        d, fifo = self.dir, self.fifo
        return [
            # (arguments, driver, exit code, text expected on standard error)
            (["mem", "serial-write", "--file", d], SIM, 1, d + ": is a directory"),
            (["mem", "area-write", "--file", d], SIM, 1, d + ": is a directory"),
            (["wave", "--file", d], SIM, 1, d + ": is a directory"),
            (["run", d], SIM, 1, d + ": is a directory"),
            (["mem", "area-write", "--file", "/dev/zero"], SIM, 1, "/dev/zero: is not a regular"),
            (["wave", "--file", "/dev/urandom"], SIM, 1, "/dev/urandom: is not a regular"),
            (["mem", "serial-write", "--file", fifo], SIM, 1, fifo + ": is not a regular"),
            (["run", fifo], SIM, 1, fifo + ": is not a regular"),
            (["mem", "area-write", "--file", self.area_129], SIM, 1, "more than 128 bytes"),
            (["wave", "--file", self.wave_2001], SIM, 1, "more than 2000 bytes"),
            (["run", self.script_big], SIM, 1, "more than 1048576 bytes"),
            (["--driver", "replay:/dev/zero", "info"], SIM, 1, "/dev/zero: a trace is read"),
            (["--driver", "replay:" + d, "info"], SIM, 1, d + ": a trace is read"),
            (["replay", "/dev/zero", "--", "info"], SIM, 1, "/dev/zero: a trace is read"),
            (["replay", d, "--", "info"], SIM, 2, d),
            (["replay", self.trace_big, "--", "info"], SIM, 1, "larger than 16 MiB"),
            (["info"], "trace:/dev/full:" + SIM, 1, "/dev/full: a trace is written"),
            (["--trace", "/dev/full", "info"], SIM, 1, "/dev/full: a trace is written"),
            (["--trace", "/proc/version", "info"], SIM, 1, "/proc/version: "),
            (["--trace", "/nonexistent/x", "info"], SIM, 1, "/nonexistent/x: cannot write"),
            (["--trace", d, "info"], SIM, 1, d + ": a trace is written"),
            (["info"], "sim:state=", 3, "state: expected the path"),
        ]

    def test_refused_with_exit_code_and_file_name(self):
        for args, driver, code, words in self.cases():
            with self.subTest(args=args, driver=driver):
                result = run(*args, driver=driver, timeout=10)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(words, result.stderr)

    def test_trace_that_fails_midway_fails_the_command(self):
        # The file-size limit makes the trace's first writes past 200 bytes fail, as a
        # full disk would.
        import resource
        import signal

        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (200, 200))

        trace = os.path.join(self.dir, "cut.txt")
        env = dict(os.environ, KMT_DRIVER=SIM)
        result = subprocess.run([TOOL, "--trace", trace, "info"], capture_output=True, text=True,
                                env=env, timeout=10, preexec_fn=small_files)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("trace: cannot write " + trace, result.stderr)
        self.assertIn(trace + ": the trace was not written completely", result.stderr)
        self.assertFalse(os.path.exists(trace))
        self.assertTrue(os.path.exists(trace + ".incomplete"))


class Sessions(unittest.TestCase):
    FAILING = "dio port-read 0\nraw 250 0\ndio port-read 1\n"

    def test_run_stops_at_the_first_failure(self):
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, "s.txt"), "w") as f:
                f.write(self.FAILING)
            result = run("run", "s.txt", cwd=tmp)
        self.assertEqual(result.returncode, 12)
        self.assertEqual(result.stdout, "port 0: 0x00 = 00000000\n")
        self.assertIn("stopped at s.txt:2", result.stderr)

    def test_shell_goes_on_and_returns_the_last_failure(self):
        result = run("shell", stdin=self.FAILING)
        self.assertEqual(result.returncode, 12)
        self.assertEqual(result.stdout, "port 0: 0x00 = 00000000\nport 1: 0x00 = 0000\n")

    def test_json_per_line_and_fixed_driver(self):
        result = run("shell", stdin="dio port-read 0 --json\ndio port-read 0\n--driver sim list\n")
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, json.dumps({"port": 0, "value": 0}, indent=2) +
                         "\nport 0: 0x00 = 00000000\n")
        self.assertIn("whole session", result.stderr)

    def test_user_area_from_and_to_files(self):
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, "in.bin"), "wb") as f:
                f.write(bytes(range(128)))
            result = run("shell", stdin="mem area-write --file in.bin\nmem area -o out.bin\n", cwd=tmp)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(tmp, "out.bin"), "rb") as f:
                self.assertEqual(f.read(), bytes(range(128)))

    def test_commands_that_do_not_end_are_refused_in_sessions(self):
        lines = [
            # (line, text expected on standard error)
            ("panel", "`panel` serves until Ctrl-C"),
            ("--json panel --port 0", "`panel` serves until Ctrl-C"),
            ("--driver sim panel", "`panel` serves until Ctrl-C"),
            ("simulate --pty", "`simulate` serves until Ctrl-C"),
            ("mqtt", "`mqtt` serves until Ctrl-C"),
            ("ai watch 1", "a watch without --count"),
            ("dio watch -n 0", "a watch without --count"),
            ("shell", "sessions do not nest"),
            ("run other.txt", "sessions do not nest"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            for line, words in lines:
                with self.subTest(line=line):
                    with open(os.path.join(tmp, "s.txt"), "w") as f:
                        f.write(line + "\n")
                    for result in (run("shell", stdin=line + "\n", timeout=10),
                                   run("run", "s.txt", cwd=tmp, timeout=10)):
                        self.assertEqual(result.returncode, 2, result.stderr)
                        self.assertIn(words, result.stderr)
        # Input without end (or without line ends) is cut off at 64 KiB a line.
        for args in (["shell"], ["run", "-"]):
            result = run(*args, stdin="x" * 70000, timeout=10)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn("stdin:1: a line longer than 65536 bytes", result.stderr)
        # With a count, a watch is an ordinary line.
        self.assertEqual(run("shell", stdin="ai watch 1 -n 2 -i 1\n").returncode, 0)

    def test_dio_watch(self):
        lines = run("dio", "watch", "-n", "2", "-i", "1", "--json").stdout.splitlines()
        self.assertEqual([sorted(json.loads(line)) for line in lines],
                         [["port0", "port1", "time_s"]] * 2)


class Acquisitions(unittest.TestCase):
    def picture_lines(self, path):
        root = ET.parse(path).getroot()
        return root.findall("{http://www.w3.org/2000/svg}polyline"), ET.tostring(root, "unicode")

    def test_acquire_csv_svg_json(self):
        with tempfile.TemporaryDirectory() as tmp:
            result = run("acquire", "-c", "1,2,3,4", "-n", "50", "--csv", "a.csv", "--svg", "a.svg",
                         "--json", cwd=tmp)
            self.assertEqual(result.returncode, 0, result.stderr)
            doc = json.loads(result.stdout)
            self.assertEqual([len(v) for v in doc["volts"]], [50] * 4)
            with open(os.path.join(tmp, "a.csv")) as f:
                rows = f.read().splitlines()
            self.assertEqual(rows[0], "time_s,input1_V,input2_V,input3_V,input4_V")
            self.assertEqual(len(rows), 51)
            self.assertAlmostEqual(float(rows[-1].split(",")[0]), doc["duration_s"], places=6)
            lines, text = self.picture_lines(os.path.join(tmp, "a.svg"))
            self.assertEqual(len(lines), 4)
            self.assertIn("time (s)", text)
            self.assertIn("voltage (V)", text)

    def test_scan_timing_diagram_has_a_line_per_port_line(self):
        with tempfile.TemporaryDirectory() as tmp:
            # Line 0 toggles every 100 us; the scan sees it change.
            doc = json.loads(run("scan", "-n", "200", "--svg", "p.svg", "--json", cwd=tmp,
                                 driver=SIM + ",dio_clock=0:100").stdout)
            self.assertEqual(len(doc["port"]), 200)
            self.assertEqual({b & 1 for b in doc["port"]}, {0, 1})
            lines, _ = self.picture_lines(os.path.join(tmp, "p.svg"))
            self.assertEqual(len(lines), 8)


class Traces(unittest.TestCase):
    def test_recorded_session_replays_to_the_same_output(self):
        script = "dio port-mode 0 output\ndio port-write 0 0x3c\ndio port-read 0\ni2c scan\n"
        with tempfile.TemporaryDirectory() as tmp:
            trace = os.path.join(tmp, "t.txt")
            recorded = run("--json", "--trace", trace, "shell", stdin=script)
            replayed = run("replay", trace, "--", "--json", "shell", stdin=script, driver="")
            self.assertEqual(recorded.returncode, 0, recorded.stderr)
            self.assertEqual(replayed.returncode, 0, replayed.stderr)
            self.assertEqual(documents(replayed.stdout), documents(recorded.stdout))
            with open(trace) as f:
                lines = [line.rstrip("\n") for line in f if not line.startswith("#")]
            for line in lines:
                self.assertRegex(line, r"^\d+\.\d{6} \S+( \S+)* = \d+$")
            frames = [line.split()[1] for line in lines]
            self.assertIn(">", frames)
            self.assertIn("<", frames)
            # A request the trace does not hold gets no answer.
            other = run("replay", trace, "--", "dio", "port-read", "1", driver="")
            self.assertEqual(other.returncode, 12)
            # Line ends of Windows are read as well.
            with open(trace, "rb") as f:
                crlf = f.read().replace(b"\n", b"\r\n")
            with open(trace, "wb") as f:
                f.write(crlf)
            replayed = run("replay", trace, "--", "--json", "shell", stdin=script, driver="")
            self.assertEqual(replayed.returncode, 0, replayed.stderr)
            self.assertEqual(documents(replayed.stdout), documents(recorded.stdout))

    def test_replay_takes_time_in_proportion_to_the_trace(self):
        # 200,000 listed controllers and as many requests never answered: some 12 MB that a
        # replay matching each line against all before it would take minutes over.
        with tempfile.TemporaryDirectory() as tmp:
            trace = os.path.join(tmp, "long.txt")
            with open(trace, "w") as f:
                f.write("# kmtv1 trace 1\n0.000000 list-count 200000 = 0\n")
                for i in range(200000):
                    f.write(f"0.000001 list {i} KMTC0002R{i:07d} = 0\n")
                    f.write(f"0.000002 > {i % 256:02x} {i // 256 % 256:02x} = 0\n")
            result = run("--driver", "replay:" + trace, "list", driver="", timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
