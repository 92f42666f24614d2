#!/usr/bin/env bash
# build.sh -- configures and builds the project with CMake into build/.
#   usage: scripts/build.sh [cmake --build arguments, e.g. --target quorrel]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORREL_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${QUORREL_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
