#!/usr/bin/env bash
echo "== Python package installed with pip into a fresh virtual environment"
# The GCC stage's build (configured the same way, so running this stage alone or after
# it leaves that build as it was).
cmake --preset gcc >/dev/null
# kmtv1-python: the package with its version written in (build-gcc/python).
cmake --build build-gcc -j "$jobs" --target kmtv1 kmtv1-python
# Debian's interpreter: its setuptools and NumPy come from Debian's packages, so the
# install works offline (another python3 earlier on PATH may lack them).
python=/usr/bin/python3
[ -x "$python" ] || python=python3
work=build-gcc/pip-install
rm -rf "$work"
"$python" -m venv --system-site-packages "$work/venv"
# Built from a copy, so that the build's package gets no build/ or egg-info folder.
cp -r build-gcc/python "$work/source"
"$work/venv/bin/pip" install --quiet --no-build-isolation --no-index "$work/source"
export KMT_DRIVER=sim:clock=virtual KMTV1_LIBRARY=$PWD/build-gcc/libkmtv1.so.1
# The version the build gave the library (the tests compare pip's and the package's).
export KMTV1_TEST_VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-gcc/CMakeCache.txt)
cd "$work"
# The README's Python example, then the package's tests against the installed copy.
venv/bin/python ../../examples/acquire_csv.py block.csv
test "$(wc -l < block.csv)" -eq 202
venv/bin/python -c "import kmtv1, numpy; assert isinstance(kmtv1.Controller().ai_read().time, numpy.ndarray)"
KMTV1_TEST_INSTALLED=1 venv/bin/python -m unittest discover -s ../../python/tests 2>&1 | tail -3
venv/bin/python -c "import kmtv1; assert kmtv1.__file__.startswith('$PWD/venv/'), kmtv1.__file__"
