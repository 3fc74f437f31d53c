#!/usr/bin/env bash
# Builds the library and runs the demo against the simulated controller.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kmtv1-demo kmtv1-cli
KMT_DRIVER="${KMT_DRIVER:-sim}" build/kmtv1-demo
