#!/usr/bin/env bash
# run_pytest.sh -- installs the Python module as its users do, with pip into a new
# virtual environment that sees the system's NumPy (no package index needed), and
# runs its tests against the build's libquorrel-em.so, found through the dynamic
# linker's usual search path (LD_LIBRARY_PATH).
#   usage: run_pytest.sh <source root> <folder of libquorrel-em.so.N> <pyscene program>
set -euo pipefail

root="$1" libdir="$2" pyscene="$3"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# The first Python 3 with what the module and its tests need (Debian's python3
# with python3-numpy, -pytest, -setuptools and -venv; scripts/setup.sh test installs them).
python=""
for candidate in ${QUORREL_PYTHON:-} /usr/bin/python3 python3; do
    if "$candidate" -c 'import numpy, pytest, setuptools, venv' 2>/dev/null; then
        python="$candidate"
        break
    fi
done
[ -n "$python" ] || { echo "python: no python3 with numpy, pytest, setuptools and venv (scripts/setup.sh test)" >&2; exit 1; }

# pip builds in the folder it installs from: a copy keeps the tree clean.
cp -r "$root/python" "$tmp/source"
"$python" -m venv --system-site-packages "$tmp/venv"
"$tmp/venv/bin/pip" install --quiet --no-index --no-build-isolation --disable-pip-version-check "$tmp/source" ||
    { echo "python: pip could not install the module" >&2; exit 1; }
cd "$tmp"
PYTHONDONTWRITEBYTECODE=1 LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" QUORREL_PYSCENE="$pyscene" \
    QUORREL_HEADER="$root/em/em.h" QUORREL_CHEADER="$root/tests/capi" \
    "$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests"
