#!/usr/bin/env bash
# sanitize.sh -- the sanitizer builds: the whole suite built with AddressSanitizer
# and UndefinedBehaviorSanitizer (build-asan/), and the audio engine's tests, whose
# callback runs on SDL's audio thread, built with ThreadSanitizer (build-tsan/).
#   usage: scripts/sanitize.sh [asan|tsan|all]   (default all)
# Runs on the caller's X display, or starts a private Xvfb when none is set.
# Exits non-zero when a build fails, a test fails or a sanitizer reports.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
which="${1:-all}"
jobs="${QUORREL_JOBS:-2}"

if [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=scripts/xvfb.sh
    source "$root/scripts/xvfb.sh"
    quorrel_start_xvfb
fi
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy

# Sanitized frames are larger: libstdc++'s recursive std::regex matcher in the
# program tests needs more than the default 8 MiB stack under ASan.
ulimit -s 65536 2>/dev/null || true

configure() {
    local dir="$1" sanitizers="$2"
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DQUORREL_SANITIZE="$sanitizers" >/dev/null
}

run_asan() {
    local dir="$root/build-asan"
    echo "sanitize: AddressSanitizer + UndefinedBehaviorSanitizer build in $dir"
    configure "$dir" "address,undefined"
    cmake --build "$dir" -j"$jobs"
    # Mesa's swrast driver is dlopen'ed and unloaded again at exit, after which
    # LeakSanitizer cannot symbolise its blocks: it stays loaded from the start
    # (ASan then need not be the first library, hence verify_asan_link_order=0).
    # allocator_may_return_null: the allocators' tests ask for impossible sizes
    # and check that the refusal is handled; blocks above 1 GiB (which only a
    # damaged file's header asks SDL's readers for) come back null the same way.
    local dri
    dri="$(ls /usr/lib/*/dri/swrast_dri.so 2>/dev/null | head -n 1 || true)"
    LD_PRELOAD="${dri}" \
    ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=1024" \
    LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

run_tsan() {
    local dir="$root/build-tsan"
    echo "sanitize: ThreadSanitizer build of the audio engine tests in $dir"
    configure "$dir" "thread"
    # Every test program named test_em_* (the engine's tests and its soak).
    local targets
    targets="$(cat "$root"/tests/*/CMakeLists.txt |
               sed -n 's/^quorrel_add_test(\(test_em_[a-z0-9_]*\).*/\1/p' | sort -u | tr '\n' ' ')"
    # shellcheck disable=SC2086
    cmake --build "$dir" -j"$jobs" --target $targets
    # Only the audio programs were built: the others are registered as *_NOT_BUILT.
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp" \
        ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300 -E '_NOT_BUILT$'
}

case "$which" in
    asan) run_asan ;;
    tsan) run_tsan ;;
    all) run_asan; run_tsan ;;
    *) echo "usage: scripts/sanitize.sh [asan|tsan|all]" >&2; exit 2 ;;
esac
