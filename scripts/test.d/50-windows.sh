#!/usr/bin/env bash
# The Windows DLLs, cross-built with mingw-w64: KMTv1dll.dll and the simulated
# controller's drop-in ftd2xx.dll for 32-bit (i686) and 64-bit (x86_64) Windows.
# 64-bit: the unit, end-to-end and host suites run under Wine. 32-bit: the same under
# 32-bit Wine where this machine's kernel runs 32-bit programs; otherwise the checks that
# need no 32-bit CPU (exports, imports, the stdcall argument sizes of every export).
echo "== Windows DLLs (mingw-w64 cross builds, Wine)"
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine

# One Wine prefix for the stage (it runs 32- and 64-bit programs), created once and
# quietly: no Mono or Gecko prompts, no debug output.
export WINEPREFIX="$PWD/build-wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot --init >/dev/null 2>&1 || true
fi

# configure PRESET TESTS [EMULATOR]: the preset (build-win32, build-win64) with the
# tests on or off, run under this Wine where given.
configure() {
  cmake --preset "$1" -DKMT_BUILD_TESTS="$2" ${3:+-DCMAKE_CROSSCOMPILING_EMULATOR="$3"} >/dev/null
}

# static_checks BUILD_DIR ARCH: exports, imports, (32-bit) stdcall sizes and the version
# resource (the build's project version) of both DLLs.
static_checks() {
  local nm_object=() version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
  [ "$2" = i686 ] && nm_object=("$2-w64-mingw32-nm" "$1/CMakeFiles/kmtv1.dir/library/exports.cpp.obj")
  python3 tests/windows/check_dll.py --version="$version" "$2-w64-mingw32-objdump" \
          "$1/bin/KMTv1dll.dll" library/kmtv1.def "${nm_object[@]}"
  [ "$2" = i686 ] && nm_object=("$2-w64-mingw32-nm" "$1/sim/d2xx/CMakeFiles/kmtv1_sim_d2xx.dir/ftd2xx.cpp.obj")
  python3 tests/windows/check_dll.py --version="$version" "$2-w64-mingw32-objdump" \
          "$1/bin/ftd2xx.dll" sim/d2xx/ftd2xx.def "${nm_object[@]}"
}

# 64-bit: both DLLs, the demo and every suite, run under wine64.
configure win64 ON "$wine64"
cmake --build --preset win64 -j "$jobs"
static_checks build-win64 x86_64
ctest --preset win64 -j "$jobs"
# The installed package as a Windows project uses it: find_package, the import library
# named by the CMake package, and the program run beside the installed DLL.
check=build-win64/install-check
rm -rf "$check"
cmake --install build-win64 --prefix "$check/prefix" >/dev/null
cmake -S tests/consumer -B "$check/consumer" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-x86_64.cmake" \
      -Dkmtv1_DIR="$PWD/$check/prefix/lib/cmake/kmtv1" >/dev/null
cmake --build "$check/consumer"
cp "$check/prefix/bin/KMTv1dll.dll" "$check/consumer/"
"$wine64" "$check/consumer/consumer.exe"
# One session through the network provider: ser2net on loopback in front of the
# simulator behind a pseudo-terminal (the GCC stage's Linux tool).
if [ -x build-gcc/kmtv1 ] && [ -x /usr/sbin/ser2net ]; then
  echo "== 64-bit: one session through rfc2217 (ser2net on loopback)"
  scripts/with-ser2net.sh build-gcc/kmtv1 -- \
    "$wine64" build-win64/bin/kmtv1_exports_test.exe --gtest_filter=OverNetwork*
else
  echo "== 64-bit: the session through rfc2217 NOT RUN: needs build-gcc/kmtv1 (stage 20-gcc) and ser2net"
fi

# 32-bit.
if ! scripts/can-run-32bit.sh; then
  why="this machine's kernel does not run 32-bit programs"
elif ! "$wine32" --version >/dev/null 2>&1; then
  why="32-bit Wine (wine32:i386) is not installed"
fi
if [ -z "${why:-}" ]; then
  echo "== 32-bit: suites under 32-bit Wine"
  configure win32 ON "$wine32"
  cmake --build --preset win32 -j "$jobs"
  static_checks build-win32 i686
  ctest --preset win32 -j "$jobs"
else
  echo "== 32-bit: NOT RUN under Wine: $why; the checks that need no 32-bit CPU only"
  configure win32 OFF
  cmake --build --preset win32 -j "$jobs" --target kmtv1 kmtv1_sim_d2xx kmtv1-demo
  static_checks build-win32 i686
fi
