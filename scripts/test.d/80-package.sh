#!/usr/bin/env bash
# The packages, made by cpack and used as a user would: the Debian packages checked by
# lintian and installed into a scratch root (never into this machine's system), and the
# Windows zip made from the cross builds of the Windows stage.
echo "== packages: Debian (cpack, lintian, installed into a scratch root) and the Windows zip"
export KMT_DRIVER=sim

# --- Debian packages. Their paths differ from the other builds' (prefix /usr, the
# multiarch library folder, no run path), so they come from a Release build of their
# own that builds only what the packages hold.
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DKMT_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
      -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build-deb -j "$jobs" --target kmtv1 kmtv1-cli kmtv1-demo kmtv1-man kmtv1-simulate \
      kmtv1-mqtt \
      kmtv1-doctor
rm -rf build-deb/packages
(cd build-deb && cpack -G DEB >/dev/null)
debs=()
for package in libkmtv1-1 libkmtv1-dev kmtv1-tools python3-kmtv1; do
  deb=$(echo "build-deb/packages/${package}_"*.deb)
  [ -f "$deb" ] || { echo "no package $package"; exit 1; }
  debs+=("$deb")
  echo "$(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"
done
# Errors and warnings fail; the overrides, each with its reason, are in packaging/debian.
lintian --fail-on error,warning "${debs[@]}"

# Installed with dpkg into a scratch root: its own database, maintainer scripts run
# without chroot (DPKG_ROOT tells them the root), dependencies on this machine's
# libraries taken as met. The library package's postinst calls ldconfig, which here is
# a stand-in that records the call: the machine's loader cache stays as it is.
root=$PWD/build-deb/root
rm -rf "$root" build-deb/stand-in
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" build-deb/stand-in
touch "$root/var/lib/dpkg/status"
printf '#!/bin/sh\necho "$0 $*" >> "%s/ldconfig-calls"\n' "$root" > build-deb/stand-in/ldconfig
printf '#!/bin/sh\nexit 0\n' > build-deb/stand-in/start-stop-daemon
chmod +x build-deb/stand-in/*
PATH=$PWD/build-deb/stand-in:$PATH dpkg --root="$root" --log="$root/dpkg.log" \
  --force-script-chrootless --force-depends -i "${debs[@]}" >"$root/dpkg-output" 2>&1 ||
  { cat "$root/dpkg-output"; exit 1; }
test -s "$root/ldconfig-calls"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# What /etc/ld.so.cache gives a real installation.
export LD_LIBRARY_PATH=$root/usr/lib/$multiarch
test -f "$root/usr/lib/udev/rules.d/99-kmtv1.rules"

# A C program built with pkg-config, the tool and the Python package, all from the root.
export PKG_CONFIG_LIBDIR=$root/usr/lib/$multiarch/pkgconfig
cc examples/read_inputs.c -o build-deb/read_inputs $(pkg-config --cflags --libs kmtv1)
# (Each output is kept whole before it is searched, so that every exit code counts.)
out=$(build-deb/read_inputs) && grep -q "KMTC0002SIM00001: inputs" <<<"$out"
out=$("$root/usr/bin/kmtv1" list) && grep -q KMTC0002SIM00001 <<<"$out"
# The helper programs, found by the tool under libexec beside it.
env -u KMTV1_EXEC_PATH "$root/usr/bin/kmtv1" doctor >/dev/null
PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c "
import kmtv1
assert kmtv1.__file__.startswith('$root/'), kmtv1.__file__
found = [c.type + c.serial for c in kmtv1.list_controllers()]
assert found == ['KMTC0002SIM00001'], found"
echo "Debian packages: lintian clean, installed, C program, tool and Python package work"

# --- The Windows zip, from the Windows stage's cross builds (their targets are already
# built when that stage ran; built here otherwise).
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
export WINEPREFIX="$PWD/build-wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for arch in win32:i686 win64:x86_64; do
  build=build-${arch%%:*}
  [ -f "$build/build.ninja" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-${arch#*:}.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DKMT_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$jobs" --target kmtv1 kmtv1_sim_d2xx kmtv1-demo kmtv1-cli
done
cmake --build build-win64 --target kmtv1-dotnet
rm -rf build-win64/packages
(cd build-win64 && cpack -G ZIP -D KMT_ZIP_X86_BUILD="$PWD/../build-win32" >/dev/null)
zip=$(echo build-win64/packages/kmtv1-*-windows.zip)
top=$(basename "$zip" .zip)
expected=""
for file in kmtv1.h kmtv1.def README-Windows.txt Kmtv1.dll Kmtv1.xml; do expected+="$top/$file"$'\n'; done
# TEMPORARY until the licence file lands in the sources.
[ -f LICENSE ] && expected+="$top/LICENSE.txt"$'\n'

for folder in x86 x64; do
  for file in KMTv1dll.dll KMTv1dll.lib KMTv1dll.dll.a kmtv1.exe kmtv1-demo.exe \
              simulator/ftd2xx.dll; do
    expected+="$top/$folder/$file"$'\n'
  done
done
actual=$(/usr/bin/python3 -c "
import sys, zipfile
print('\n'.join(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith('/')))
" "$zip")
diff <(sort <<<"$expected" | sed '/^$/d') <(sort <<<"$actual") ||
  { echo "the zip's files differ from the expected list (< expected, > in the zip)"; exit 1; }

# As a user would: unpack, put the simulated ftd2xx.dll beside the 64-bit demo, run it.
work=build-win64/zip-check
rm -rf "$work"
/usr/bin/python3 -c "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" \
  "$zip" "$work"
unpacked=$work/$top
cp "$unpacked/x64/simulator/ftd2xx.dll" "$unpacked/x64/"
out=$(cd "$unpacked/x64" && env -u KMT_DRIVER "$wine64" kmtv1-demo.exe) &&
  grep -q "controllers of type KMTCV1: 1 " <<<"$out"
out=$(cd "$unpacked/x64" && env -u KMT_DRIVER "$wine64" kmtv1.exe list) &&
  grep -q KMTC0002SIM00001 <<<"$out"

# The MSVC import libraries, linked by an MSVC-compatible toolchain (clang-cl's code
# generation, lld-link) with no renaming; the programs run where Wine runs them.
for arch in x64:x86_64 x86:i686; do
  folder=${arch%%:*}
  clang --target="${arch#*:}-pc-windows-msvc" -O1 -c tests/package/msvc_import_check.c \
        -o "$work/check-$folder.obj"
  lld-link /nologo /nodefaultlib /entry:check /subsystem:console "/out:$unpacked/$folder/check.exe" \
           "$work/check-$folder.obj" "$unpacked/$folder/KMTv1dll.lib"
  cp "$unpacked/$folder/simulator/ftd2xx.dll" "$unpacked/$folder/" 2>/dev/null || true
done
(cd "$unpacked/x64" && env -u KMT_DRIVER "$wine64" check.exe)
if scripts/can-run-32bit.sh && "$wine32" --version >/dev/null 2>&1; then
  (cd "$unpacked/x86" && env -u KMT_DRIVER "$wine32" check.exe)
else
  echo "32-bit MSVC link check: linked, NOT RUN (no 32-bit Wine here)"
fi
echo "Windows zip: $(basename "$zip"), file list as expected, demo, tool and MSVC links run"
