#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, if missing.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-dev clang-format libgtest-dev libgmock-dev
          libcli11-dev libbenchmark-dev python3 python3-setuptools python3-venv python3-pip
          python3-numpy python3-serial pkg-config
          mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64
          libcpp-httplib-dev nlohmann-json3-dev chromium chromium-driver python3-selenium
          mono-mcs mono-runtime libnunit-cil-dev nunit-console
          dpkg-dev file lintian help2man llvm lld
          mosquitto mosquitto-clients libmosquitto-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# 32-bit Wine for the 32-bit Windows DLL's tests, only where the kernel runs 32-bit programs.
if scripts/can-run-32bit.sh &&
   ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "Installing: wine32 (i386)"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Optional: without it the Windows stage says why and runs the static DLL checks.
  { $sudo dpkg --add-architecture i386 && $sudo apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wine32:i386 >/dev/null; } ||
    echo "wine32 (i386) could not be installed: the 32-bit suites will be skipped"
fi
