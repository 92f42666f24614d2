#!/usr/bin/env bash
# bench.sh -- installs what the benchmarks need, builds them in release mode
# into build-bench/ and runs them: the mixing routines and the whole audio
# callback beside OpenAL Soft's loopback device, the hash of a long mix, the
# demo's uncapped frame on a private Xvfb and the processor share of the
# capped frame loop over ten seconds. Prints the tables and writes them to
# bench-results.md (not committed).
#   usage: scripts/bench.sh [--hash | --profile]
#     --hash     only the hash of the long mix (bit-exactness check)
#     --profile  also a callgrind profile of the long mix (instructions per function)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORREL_BENCH_DIR:-$root/build-bench}"
results="${QUORREL_BENCH_RESULTS:-$root/bench-results.md}"
mode="${1:-all}"

extra=()
if [ "$mode" = --profile ]; then
    extra+=(valgrind)
fi
bash "$root/scripts/setup.sh" bench "${extra[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORREL_BENCH=ON -DQUORREL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorrel_mixbench quorrel_framebench quorrel mkassets xclose >/dev/null

if [ "$mode" = --hash ]; then
    "$build/bench/quorrel_mixbench" --hash | sed '/^Max bytes\|^Bytes left/d'
    exit 0
fi

# The frame figures: the demo's folder with its data files, a private Xvfb.
frame_figures() {
    local rundir="$build/benchrun"
    mkdir -p "$rundir"
    cp "$build/app/quorrel" "$rundir/quorrel"
    "$build/tools/mkassets/mkassets" "$rundir" >/dev/null
    cd "$rundir"
    # shellcheck source=scripts/xvfb.sh
    source "$root/scripts/xvfb.sh"
    quorrel_start_xvfb
    export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
    echo
    echo "## Frame (Xvfb, 24-bit screen, Mesa software GL)"
    echo
    echo "| what | per frame | rate | note |"
    echo "|---|---|---|---|"
    # The program's allocation report goes to the log's readers, not the table.
    "$build/bench/quorrel_framebench" 2>&1 | grep -v '^Max bytes\|^Bytes left' || echo "| blob_render + swap | failed | | |"

    # The real program with its 10 ms frame cap: processor time of the
    # program and of the X server over ten seconds after a two-second start.
    ./quorrel &
    local pid=$!
    local wid
    wid="$(timeout 20 xdotool search --sync --name '^Quorrel project$' | head -n 1)" || true
    if [ -z "$wid" ]; then
        echo "| capped frame loop | the window did not appear | | |"
        wait "$pid" || true
        return
    fi
    sleep 2
    local hz p0 x0 t0 p1 x1 t1
    hz="$(getconf CLK_TCK)"
    read -r p0 x0 t0 < <(cpu_ticks "$pid" "$QUORREL_XVFB_PID")
    sleep 10
    read -r p1 x1 t1 < <(cpu_ticks "$pid" "$QUORREL_XVFB_PID")
    "$build/tools/xclose/xclose" "$wid" >/dev/null 2>&1 || true
    wait "$pid" || true
    awk -v p=$((p1 - p0)) -v x=$((x1 - x0)) -v t0="$t0" -v t1="$t1" -v hz="$hz" -v cores="$(nproc)" 'BEGIN {
        t = t1 - t0
        printf "| capped frame loop (quorrel, 10 ms ticks), %.1f s | %.1f%% of one core | X server %.1f%% | %d cores here |\n",
               t, 100 * p / hz / t, 100 * x / hz / t, cores }'
}

# utime + stime of two processes (all their threads), in clock ticks, and the time.
cpu_ticks() {
    local a b
    a="$(awk '{ print $14 + $15 }' "/proc/$1/stat")"
    b="$(awk '{ print $14 + $15 }' "/proc/$2/stat")"
    echo "$a $b $(date +%s.%N)"
}

{
    echo "# Quorrel benchmarks"
    echo
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores;" \
         "commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown); $(date -u '+%Y-%m-%d %H:%M UTC')."
    echo "Figures are medians of several rounds; the machine may be shared, so runs vary by some per cent."
    echo
    "$build/bench/quorrel_mixbench"
    (frame_figures)
    if [ "$mode" = --profile ]; then
        echo
        echo "## Profile (callgrind, instructions per function rendering the long mix)"
        echo
        echo '```'
        out="$build/callgrind.out"
        valgrind --tool=callgrind --callgrind-out-file="$out" "$build/bench/quorrel_mixbench" --hash >/dev/null 2>&1 || true
        callgrind_annotate "$out" 2>/dev/null | sed -n '/^Ir/,$p' | head -n 25
        echo '```'
    fi
} 2>&1 | tee "$results"
echo "bench: results written to $results"
