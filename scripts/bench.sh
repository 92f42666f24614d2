#!/usr/bin/env bash
# bench.sh -- installs what the benchmarks need, builds them in release mode
# into build-bench/ and runs them: the mixing routines and the whole audio
# callback beside OpenAL Soft's loopback device, three runs at each level of
# the vector runs (EM_SIMD=avx2 where the processor has it, sse2, none), the
# hash of the long mixes at each level, the demo's uncapped frame on a private
# Xvfb and the processor share of the capped frame loop over ten seconds.
# Prints the tables (min and median of the runs per row and level) and writes
# them to bench-results.md (not committed), the figures to
# build-bench/bench-data.tsv and their plot to docs/bench.png.
#   usage: scripts/bench.sh [--quick] [--hash | --profile]
#     --quick    short rounds and one run per level, for a sanity check; the
#                plot goes to build-bench/bench.png
#     --hash     only the hash of the long mixes at each level (bit-exactness check)
#     --profile  also a callgrind profile of the long mix (instructions per function)
# QUORREL_BENCH_DIR, QUORREL_BENCH_RESULTS and QUORREL_BENCH_PLOT move the
# build folder, the results and the plot.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORREL_BENCH_DIR:-$root/build-bench}"
results="${QUORREL_BENCH_RESULTS:-$root/bench-results.md}"
mode=all
quick=()
runs=3
for arg in "$@"; do
    case "$arg" in
    --quick) quick=(--quick); runs=1 ;;
    --hash | --profile) mode="$arg" ;;
    *) echo "usage: scripts/bench.sh [--quick] [--hash | --profile]" >&2; exit 2 ;;
    esac
done
if [ ${#quick[@]} -gt 0 ]; then
    plot="${QUORREL_BENCH_PLOT:-$build/bench.png}"
else
    plot="${QUORREL_BENCH_PLOT:-$root/docs/bench.png}"
fi

extra=()
if [ "$mode" = --profile ]; then
    extra+=(valgrind)
fi
bash "$root/scripts/setup.sh" bench "${extra[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORREL_BENCH=ON -DQUORREL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorrel_mixbench quorrel_framebench quorrel mkassets xclose >/dev/null

# The levels of the vector runs this processor has, best first.
levels=(sse2 none)
if grep -qw avx2 /proc/cpuinfo; then
    levels=(avx2 sse2 none)
fi
# What the programs print besides their tables (the engine's allocation
# report, OpenAL Soft's warnings) goes here, never into the tables.
log="$build/bench-log.txt"
: >"$log"
mixbench="$build/bench/quorrel_mixbench"

# The hash of the long mixes at every level; status 1 when one differs.
hashes() {
    local level status=0 out
    for level in "${levels[@]}"; do
        out="$(EM_SIMD=$level "$mixbench" --hash 2>>"$log")" || status=1
        echo "$out"
        if grep -q '| NO |' <<<"$out"; then
            status=1
        fi
    done
    return $status
}

if [ "$mode" = --hash ]; then
    hashes
    exit
fi

# The mixer's figures: $runs runs at every level, the levels taken in turn
# so that a change in the machine's load falls on all of them alike; each
# run's tables and data rows are kept in benchruns/. Each level runs beside
# OpenAL Soft with its output limiter and dither off (fair: the goals are
# judged on these), then beside its default configuration (the rows with a
# peer only), whose figures the tables show beside the fair ones.
mixer_runs() {
    local dir="$build/benchruns" run level peer name
    rm -rf "$dir"
    mkdir -p "$dir"
    for run in $(seq 1 "$runs"); do
        for level in "${levels[@]}"; do
            for peer in fair default; do
                echo "bench: mixer, vector runs $level, OpenAL Soft $peer, run $run of $runs" >&2
                name="$dir/$level-$run"
                if [ $peer = default ]; then
                    name="$name-default"
                fi
                EM_SIMD=$level "$mixbench" --figures "${quick[@]}" --peer $peer --data "$name.tsv" >"$name.md" 2>>"$log"
                if ! awk -F'\t' -v want="$level" 'FNR > 1 && $5 != want { exit 1 }' "$name.tsv"; then
                    echo "bench: EM_SIMD=$level ran another level, see $name.md" >&2
                    return 1
                fi
            done
        done
    done
}

# The summary tables of the runs, and the data file the plot reads.
mixer_summary() {
    local dir="$build/benchruns" files=() run level
    for run in $(seq 1 "$runs"); do
        for level in "${levels[@]}"; do
            files+=("$dir/$level-$run.tsv" "$dir/$level-$run-default.tsv")
        done
    done
    echo "## Mixer"
    echo
    echo "Engine: 44100 Hz, 1024-frame buffers, 32-bit mix, limiter to 16-bit stereo; vector runs: ${levels[*]} (EM_SIMD)."
    sed -n 's/^Engine: [^.]*\. //p' "$dir/${levels[0]}-1.md"
    sed -n 's/^Engine: .*; \(default configuration: [^.]*\)\..*/Beside it, its \1./p' "$dir/${levels[0]}-1-default.md"
    awk -v levels="${levels[*]}" -v datafile="$build/bench-data.tsv" -f "$root/bench/bench_summary.awk" "${files[@]}"
    echo
    echo "Each run's own tables: \`$dir/\`."
}

# The plot of the data file: a panel per voice kind with a peer.
mixer_plot() {
    local data="$build/bench-data.tsv" kinds names peers how="median of $runs runs at each level" heading
    # Names and peers in double quotes (they hold spaces), a single quote
    # doubled, as gnuplot's single-quoted strings take it.
    {
        read -r kinds
        read -r names
        read -r peers
    } < <(awk -F'\t' '$1 == "callback" && $5 == "openal" && !seen[$2]++ { gsub(/\047/, "\047\047", $3); k = k $2 " "; n = n "\"" $3 "\" "; p = p "\"" $12 "\" " }
                      END { print k; print n; print p }' "$data")
    if [ ${#quick[@]} -gt 0 ]; then
        how="one quick run at each level"
    fi
    heading="Audio callback, us per 1024-frame buffer ($how): $(cpu_name), $(nproc) cores, commit $(commit)"
    mkdir -p "$(dirname "$plot")"
    gnuplot -e "data='$data'; out='$plot'; heading='$heading'; levels='${levels[*]}'; kinds='$kinds'; names='$names'; peers='$peers'" \
        "$root/bench/bench.gp" 2>>"$log"
}

cpu_name() {
    grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'
}

commit() {
    git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown
}

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
    "$build/bench/quorrel_framebench" 2>>"$log" || echo "| blob_render + swap | failed, see $log | | |"

    # The real program with its 10 ms frame cap: processor time of the
    # program and of the X server over ten seconds after a two-second start.
    # Its allocation report at the end goes to the log, not into the table.
    ./quorrel >>"$log" 2>&1 &
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

mixer_runs
# The tables go through tee, so a differing hash is remembered in a file and
# fails the run once the results and the plot are written.
hashfailed="$build/hash-differs"
rm -f "$hashfailed"
{
    echo "# Quorrel benchmarks"
    echo
    echo "Machine: $(cpu_name), $(nproc) cores; commit $(commit); $(date -u '+%Y-%m-%d %H:%M UTC')."
    echo "Each figure of a run is the median of its rounds; the tables give the min and median of the runs."
    echo "The machine may be shared, so runs vary by some per cent."
    echo
    mixer_summary
    hashes || { echo "**A hash differs from its reference.**"; touch "$hashfailed"; }
    (frame_figures)
    if [ "$mode" = --profile ]; then
        echo
        echo "## Profile (callgrind, instructions per function rendering the long mix)"
        echo
        echo '```'
        out="$build/callgrind.out"
        valgrind --tool=callgrind --callgrind-out-file="$out" "$mixbench" --hash >/dev/null 2>&1 || true
        callgrind_annotate "$out" 2>/dev/null | sed -n '/^Ir/,$p' | head -n 25
        echo '```'
    fi
} | tee "$results"
mixer_plot
echo "bench: results written to $results, figures to $build/bench-data.tsv, plot to $plot"
if [ -e "$hashfailed" ]; then
    echo "bench: a hash of the long mixes differs from its reference" >&2
    exit 1
fi
