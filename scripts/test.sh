#!/usr/bin/env bash
# test.sh -- installs what is missing, builds, and runs the whole test suite
# with CTest: GL tests on a private Xvfb, audio on SDL's dummy driver; then
# the reliability checks. Each part's time is printed as it ends.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORREL_BUILD_DIR:-$root/build}"

# Runs a part of the command and prints how long it took.
timed() {
    local name="$1" start=$SECONDS
    shift
    "$@"
    echo "test: $name took $((SECONDS - start)) s"
}

timed setup bash "$root/scripts/setup.sh" test
timed build bash "$root/scripts/build.sh"

# shellcheck source=scripts/xvfb.sh
source "$root/scripts/xvfb.sh"
quorrel_start_xvfb
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
echo "test: X display $DISPLAY"
timed ctest ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300

# The reliability checks: the sanitizer builds (build-asan/, build-tsan/), a few
# seconds of each fuzz target (build-fuzz/) and the demo under valgrind.
# QUORREL_QUICK=1 skips them for a quick loop; CI runs them.
if [ "${QUORREL_QUICK:-0}" != 1 ]; then
    timed "sanitizers (asan)" bash "$root/scripts/sanitize.sh" asan
    timed "sanitizers (tsan)" bash "$root/scripts/sanitize.sh" tsan
    timed "fuzz (brief)" bash "$root/scripts/fuzz.sh" --brief
    timed valgrind bash "$root/scripts/valgrind.sh"
fi
echo "test: all passed in $SECONDS s"
