#!/usr/bin/env bash
# setup.sh -- installs the Debian packages the project needs that are missing.
#   usage: scripts/setup.sh [run|test|bench] [extra packages...]
#   (test also brings the test tools, bench the peer engine the benchmarks compare with and gnuplot)
set -euo pipefail

purpose="${1:-run}"
[ $# -gt 0 ] && shift
packages=(cmake g++ make pkg-config
          libsdl1.2-dev libsdl-image1.2-dev libvorbis-dev libogg-dev libsndfile1-dev libmp3lame-dev
          libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri libx11-dev
          xvfb xauth xdotool imagemagick)
# libmp3lame-dev: sndfile's pkg-config file names -lmp3lame among its static
# libraries, so `pkg-config --static` users of the engine link it too.
if [ "$purpose" = test ]; then
    packages+=(googletest libgtest-dev)
    # sanitizer builds, libFuzzer targets and the valgrind run of the demo
    packages+=(clang libclang-rt-14-dev valgrind)
    # the Python module's tests: a virtual environment that sees Debian's NumPy
    packages+=(python3-numpy python3-setuptools python3-wheel python3-pytest python3-venv)
fi
if [ "$purpose" = bench ]; then
    # the peer, and gnuplot (without X) for the plot of the figures
    packages+=(libopenal-dev gnuplot-nox)
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
