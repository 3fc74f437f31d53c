"""The front panel in a real headless browser, against the simulated controller.

Usage: test_panel.py PANEL_PROGRAM [ARGS...]   (e.g. build/kmtv1 panel)
Environment: KMT_PANEL_SCREENSHOT, a path to keep a screenshot of the panel at.
"""
import collections
import os
import re
import shutil
import struct
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "panel"))
import panel_process  # noqa: E402

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PANEL = sys.argv[1:]
CHROMIUM = shutil.which("chromium") and "/usr/lib/chromium/chromium"
CHROMEDRIVER = shutil.which("chromedriver")


def start_panel(driver_option):
    return panel_process.start_panel(PANEL, driver_option)


stop_panel = panel_process.stop_panel


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--window-size=1200,1760"):
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="kmtv1-panel-"))
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def wait_for(driver, condition, what, timeout=10):
    WebDriverWait(driver, timeout).until(lambda d: condition(d), message=what)


def text(driver, element_id):
    return driver.find_element(By.ID, element_id).text


def png_pixels(data):
    """(width, height, [pixel tuples]) of an 8-bit non-interlaced PNG, as the browser's
    screenshots are (no imaging library needed for these small pictures)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    at, idat, header = 8, [], None
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        if kind == b"IHDR":
            header = struct.unpack_from(">IIBBBBB", data, at + 8)
        elif kind == b"IDAT":
            idat.append(data[at + 8:at + 8 + length])
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or interlace or colour not in (2, 6):
        raise ValueError("unexpected PNG format %r" % (header,))
    size = 3 if colour == 2 else 4
    stride, raw = width * size, zlib.decompress(b"".join(idat))
    pixels, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1) + 1
        kind, row = raw[start - 1], bytearray(raw[start:start + stride])
        if kind == 1:  # Sub
            for x in range(size, stride):
                row[x] = (row[x] + row[x - size]) & 255
        elif kind == 2:  # Up
            row = bytearray((a + b) & 255 for a, b in zip(row, previous))
        elif kind == 3:  # Average
            for x in range(stride):
                left = row[x - size] if x >= size else 0
                row[x] = (row[x] + ((left + previous[x]) >> 1)) & 255
        elif kind == 4:  # Paeth
            for x in range(stride):
                left = row[x - size] if x >= size else 0
                up, corner = previous[x], previous[x - size] if x >= size else 0
                a, b, c = abs(up - corner), abs(left - corner), abs(left + up - 2 * corner)
                row[x] = (row[x] + (left if a <= b and a <= c else up if b <= c else corner)) & 255
        pixels += [tuple(row[x:x + 3]) for x in range(0, stride, size)]
        previous = row
    return width, height, pixels


class PanelInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Real time, so the inputs move; a square wave on line 2 for the logic scan.
        cls.process, cls.url = start_panel("sim:dio_clock=2:2000")
        cls.driver = browser()
        cls.driver.get(cls.url)
        wait_for(cls.driver, lambda d: text(d, "connection").startswith("Live"), "live readings")

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        stop_panel(cls.process)

    def test_page_loads_without_console_errors(self):
        wait_for(self.driver, lambda d: text(d, "firmware") == "1 0 43 2", "firmware words")
        self.assertEqual(text(self.driver, "controller"), "KMTC0002SIM00001")
        errors = [entry for entry in self.driver.get_log("browser")
                  if entry["level"] in ("SEVERE", "WARNING")]
        self.assertEqual(errors, [])

    def test_inputs_are_read_at_least_five_times_a_second(self):
        def readings():
            return int(self.driver.find_element(By.TAG_NAME, "body")
                       .get_attribute("data-readings"))
        first, started = readings(), time.monotonic()
        time.sleep(2)
        rate = (readings() - first) / (time.monotonic() - started)
        self.assertGreaterEqual(rate, 5)

    def test_analog_output_is_read_back_on_its_looped_input(self):
        # The simulated controller loops output 0 to input 3 and output 1 to input 4.
        for output, volts, input_id in ((0, "2.000", "ai3"), (1, "3.300", "ai4")):
            field = self.driver.find_element(By.ID, f"ao{output}-number")
            field.clear()
            field.send_keys(volts)
            self.driver.find_element(By.ID, f"ao{output}-set").click()
            wait_for(self.driver, lambda d: abs(float(text(d, input_id).split()[0]) -
                                                float(volts)) < 0.01,
                     f"{volts} V on {input_id}")
            self.assertEqual(text(self.driver, f"ao{output}-state"), f"set to {volts} V")

    def test_output_out_of_range_is_refused_in_words(self):
        field = self.driver.find_element(By.ID, "ao1-number")
        field.clear()
        field.send_keys("7")
        self.driver.find_element(By.ID, "ao1-set").click()
        wait_for(self.driver, lambda d: "from 0 to 5" in text(d, "message"), "refusal shown")
        field.clear()
        field.send_keys("3.300")

    def test_clicked_digital_output_is_seen_on_the_line(self):
        from selenium.webdriver.support.select import Select
        Select(self.driver.find_element(By.ID, "mode5")).select_by_visible_text("output")
        level = self.driver.find_element(By.ID, "level5")
        wait_for(self.driver, lambda d: level.is_enabled() and level.text == "0", "line 5 low")
        level.click()
        wait_for(self.driver, lambda d: level.text == "1", "line 5 high after the click")
        level.click()
        wait_for(self.driver, lambda d: level.text == "0", "line 5 low again")

    def test_acquisition_draws_one_trace_per_enabled_input(self):
        for enabled in ((1, 2), (1, 3, 4)):
            for i in range(1, 5):
                box = self.driver.find_element(By.ID, f"acq-in{i}")
                if box.is_selected() != (i in enabled):
                    box.click()
            self.driver.find_element(By.ID, "acquire").click()
            wait_for(self.driver, lambda d: [p.get_attribute("data-input") for p in
                                             d.find_elements(By.CSS_SELECTOR,
                                                             "#acquire-plot path.trace")]
                     == [str(i) for i in enabled], f"traces of inputs {enabled}")

    def test_logic_scan_draws_eight_lanes(self):
        self.driver.find_element(By.ID, "scan").click()
        wait_for(self.driver, lambda d: len(d.find_elements(By.CSS_SELECTOR,
                                                            "#scan-plot path.lane")) == 8,
                 "eight lanes")

    def test_screenshot_shows_the_filled_in_panel(self):
        # Every part filled in here, whatever the other tests did before. The outputs
        # (looped to inputs 3 and 4) apart, so that no trace hides another.
        for output, volts in ((0, "1.500"), (1, "4.000")):
            field = self.driver.find_element(By.ID, f"ao{output}-number")
            field.clear()
            field.send_keys(volts)
            self.driver.find_element(By.ID, f"ao{output}-set").click()
            wait_for(self.driver, lambda d: text(d, f"ao{output}-state") == f"set to {volts} V",
                     f"output {output} set")
        for i in range(1, 5):
            if not self.driver.find_element(By.ID, f"acq-in{i}").is_selected():
                self.driver.find_element(By.ID, f"acq-in{i}").click()
        self.driver.find_element(By.ID, "acquire").click()
        wait_for(self.driver, lambda d: len(d.find_elements(By.CSS_SELECTOR,
                                                            "#acquire-plot path.trace")) == 4,
                 "four traces")
        self.driver.find_element(By.ID, "scan").click()
        wait_for(self.driver, lambda d: len(d.find_elements(By.CSS_SELECTOR,
                                                            "#scan-plot path.lane")) == 8,
                 "eight lanes")
        # The acquisition as drawn on screen: more than one colour, and each of the four
        # traces visible in its own stroke colour (an unpainted plot, or traces hidden
        # or drawn off the plot, fail here).
        plot = self.driver.find_element(By.ID, "acquire-plot")
        strokes = self.driver.execute_script(
            "return [...arguments[0].querySelectorAll('path.trace')]"
            ".map(p => getComputedStyle(p).stroke)", plot)
        strokes = [tuple(int(v) for v in re.findall(r"\d+", s)[:3]) for s in strokes]
        self.assertEqual(len(set(strokes)), 4, strokes)
        width, height, pixels = png_pixels(plot.screenshot_as_png)
        self.assertGreater(width * height, 10000)
        colours = collections.Counter(pixels)
        self.assertLess(colours.most_common(1)[0][1] / len(pixels), 0.99, "one colour")
        for stroke in strokes:
            self.assertGreater(colours[stroke], 50, f"trace colour {stroke} barely drawn")
        # The whole page, as kept for the README: the size of the window's viewport.
        self.driver.execute_script("window.scrollTo(0, 0)")
        page = self.driver.get_screenshot_as_png()
        viewport = self.driver.execute_script(
            "return [innerWidth * devicePixelRatio, innerHeight * devicePixelRatio]")
        self.assertEqual(list(struct.unpack_from(">II", page, 16)), viewport)
        path = os.environ.get("KMT_PANEL_SCREENSHOT")
        if path:
            with open(path, "wb") as f:
                f.write(page)


class SilentController(unittest.TestCase):
    def test_failure_is_shown_in_words_and_values_blanked(self):
        process, url = start_panel("sim:clock=virtual,fault=silent")
        driver = browser()
        try:
            driver.get(url)
            wait_for(driver, lambda d: "no response from the controller" in text(d, "connection"),
                     "the failure in words")
            self.assertEqual(text(driver, "ai1"), "—")
            wait_for(driver, lambda d: "firmware query failed" in text(d, "firmware"),
                     "the firmware's failure in words")
        finally:
            driver.quit()
            stop_panel(process)


if __name__ == "__main__":
    if not (CHROMIUM and CHROMEDRIVER):
        print("SKIPPED: chromium or chromedriver not installed (scripts/deps.sh installs them)")
        sys.exit(0)
    unittest.main(argv=sys.argv[:1], verbosity=2)
