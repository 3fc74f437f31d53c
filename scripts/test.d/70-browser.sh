#!/usr/bin/env bash
# The front panel in a real headless browser (Debian's chromium and chromedriver)
# against the simulated controller. Reuses the GCC build; builds only the panel.
echo "== front panel in the browser"
if ! command -v chromium >/dev/null || ! command -v chromedriver >/dev/null; then
  echo "SKIPPED: chromium or chromedriver missing (scripts/deps.sh installs them)"
  exit 0
fi
[ -f build-gcc/build.ninja ] || cmake --preset gcc >/dev/null
cmake --build build-gcc -j "${jobs:-2}" --target kmtv1-cli
# Debian's python3 (where python3-selenium lives), whatever python3 comes first in PATH.
# The screenshot goes to the build; KMT_PANEL_SCREENSHOT=docs/panel.png refreshes the README's.
KMT_PANEL_SCREENSHOT="${KMT_PANEL_SCREENSHOT:-build-gcc/panel.png}" \
  /usr/bin/python3 tests/browser/test_panel.py build-gcc/kmtv1 panel
