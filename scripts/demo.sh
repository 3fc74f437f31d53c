#!/usr/bin/env bash
# Installs what the library, the kmtv1 tool and the demo need (nothing of the test tool
# chain), builds them in build/ and runs the demo against the simulated controller.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --demo
cmake --preset demo >/dev/null
cmake --build --preset demo
KMT_DRIVER="${KMT_DRIVER:-sim}" build/kmtv1-demo
echo
echo "Built in build/: the library, the tool build/kmtv1 and the demo."
if [ -n "$(scripts/deps.sh --missing)" ]; then
  # Sizes as apt-get -s reckons them from a Debian 12 base system (priorities required
  # and important): the demo's packages come to about 105 packages and 110 MB to
  # download, the whole test tool chain to about 770 more and 820 MB (3.8 GB installed).
  echo "scripts/test.sh runs the whole test suite. Its first run installs the test tool chain"
  echo "first (Clang, GoogleTest, Python modules, mingw-w64, Wine, Chromium, Mono: about 770"
  echo "packages, 820 MB to download), some 3 to 4 minutes on a fresh machine."
fi
