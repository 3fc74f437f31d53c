"""The front panel in a real headless browser, against the simulated controller.

Usage: test_panel.py PANEL_PROGRAM [ARGS...]   (e.g. build/kmtv1 panel)
Environment: KMT_PANEL_SCREENSHOT, a path to keep a screenshot of the panel at.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PANEL = sys.argv[1:]
CHROMIUM = shutil.which("chromium") and "/usr/lib/chromium/chromium"
CHROMEDRIVER = shutil.which("chromedriver")


def start_panel(driver_option):
    """Starts the panel on a free port; returns the process and the URL it printed."""
    env = dict(os.environ, KMT_DRIVER=driver_option)
    process = subprocess.Popen(PANEL, env=env, stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    match = re.search(r"(http://\S+)", line)
    if not match:
        process.kill()
        raise RuntimeError("the panel printed no URL: " + line)
    return process, match.group(1)


def stop_panel(process):
    process.terminate()
    assert process.wait(timeout=10) == 0
    process.stdout.close()


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

    def test_zz_screenshot(self):
        # Last (by name), with every part filled in.
        path = os.environ.get("KMT_PANEL_SCREENSHOT")
        if not path:
            self.skipTest("KMT_PANEL_SCREENSHOT not set")
        for i in range(1, 5):
            if not self.driver.find_element(By.ID, f"acq-in{i}").is_selected():
                self.driver.find_element(By.ID, f"acq-in{i}").click()
        self.driver.find_element(By.ID, "acquire").click()
        self.driver.find_element(By.ID, "scan").click()
        time.sleep(1)
        self.driver.execute_script("window.scrollTo(0, 0)")
        self.driver.save_screenshot(path)


class SilentController(unittest.TestCase):
    def test_failure_is_shown_in_words_and_values_blanked(self):
        process, url = start_panel("sim:clock=virtual,fault=silent")
        driver = browser()
        try:
            driver.get(url)
            wait_for(driver, lambda d: "did not answer" in text(d, "connection"),
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
