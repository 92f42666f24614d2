#!/usr/bin/env bash
# test.sh -- installs what is missing, builds, and runs the whole test suite
# with CTest: GL tests on a private Xvfb, audio on SDL's dummy driver.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORREL_BUILD_DIR:-$root/build}"
bash "$root/scripts/setup.sh" test
bash "$root/scripts/build.sh"

# shellcheck source=scripts/xvfb.sh
source "$root/scripts/xvfb.sh"
quorrel_start_xvfb
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
echo "test: X display $DISPLAY"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300

# The reliability checks: the sanitizer builds (build-asan/, build-tsan/), a few
# seconds of each fuzz target (build-fuzz/) and the demo under valgrind.
# QUORREL_QUICK=1 skips them for a quick loop; CI runs them.
if [ "${QUORREL_QUICK:-0}" != 1 ]; then
    bash "$root/scripts/sanitize.sh" all
    bash "$root/scripts/fuzz.sh" --brief
    bash "$root/scripts/valgrind.sh"
fi
