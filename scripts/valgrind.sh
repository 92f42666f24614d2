#!/usr/bin/env bash
# valgrind.sh -- runs the demo under valgrind's memcheck on a private Xvfb:
# start-up, a few dozen frames, a screenshot on the way, then the window closed
# as a window manager would; and checks the outcome: no invalid read or write,
# no use of uninitialised values and no leak in our own code
# (scripts/valgrind.supp holds the C library's, libX11's and the GL driver's own
# noise), a screenshot written, and allocation reports with nothing left. Every
# frame runs the same code, so a few dozen cover what hundreds would.
#   usage: scripts/valgrind.sh   (QUORREL_VALGRIND_FRAMES, default 30; about 2 s a frame)
# The run folder is build/valgrind-run/; valgrind's report is valgrind.log there.
set -euo pipefail

SECONDS=0
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORREL_BUILD_DIR:-$root/build}"
frames="${QUORREL_VALGRIND_FRAMES:-30}"
shotframe=$((frames * 2 / 3))
rundir="$build/valgrind-run"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${QUORREL_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j"${QUORREL_JOBS:-2}" --target quorrel mkassets xclose
rm -rf "$rundir"
mkdir -p "$rundir"
cp "$build/app/quorrel" "$rundir/quorrel"
"$build/tools/mkassets/mkassets" "$rundir" >/dev/null
gcc -shared -fPIC -O2 -o "$rundir/framecount.so" "$root/tests/valgrind/framecount.c" -ldl

if [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=scripts/xvfb.sh
    source "$root/scripts/xvfb.sh"
    quorrel_start_xvfb
fi
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy

cd "$rundir"
count="$rundir/frames.txt"
echo 0 >"$count"
# Each drawn frame under memcheck takes about two seconds here; the whole
# run is bounded by the timeout.
# Mesa's GLX layer and software driver are preloaded: dlopen'ed, they are
# unloaded before the leak check and their frames could not be named.
preload="$rundir/framecount.so"
for lib in /usr/lib/*/libGLX_mesa.so.0 /usr/lib/*/dri/swrast_dri.so; do
    [ -e "$lib" ] && preload="$preload:$lib"
done
QUORREL_FRAMECOUNT="$count" LD_PRELOAD="$preload" timeout 900 valgrind --time-stamp=yes --tool=memcheck --error-exitcode=97 --gen-suppressions=all \
    --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --track-origins=no --num-callers=30 --suppressions="$root/scripts/valgrind.supp" \
    --soname-synonyms=somalloc=nouserintercepts --log-file="$rundir/valgrind.log" \
    --vgdb=no ./quorrel >"$rundir/stdout.txt" 2>"$rundir/stderr.txt" &
pid=$!

fail() {
    echo "valgrind: $*" >&2
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -f "$rundir/valgrind.log" ] && tail -n 60 "$rundir/valgrind.log" >&2
    exit 1
}

# Waits until the frame count reaches $1, for at most $2 seconds.
wait_frames() {
    local want="$1" limit="$2" waited=0
    while [ "$(cat "$count" 2>/dev/null || echo 0)" -lt "$want" ]; do
        kill -0 "$pid" 2>/dev/null || fail "the demo ended after $(cat "$count") frames"
        [ "$waited" -ge "$limit" ] && fail "only $(cat "$count") of $want frames in $limit s"
        sleep 1
        waited=$((waited + 1))
    done
}

wid="$(timeout 180 xdotool search --sync --name '^Quorrel project$' | head -n 1)" || true
[ -n "$wid" ] || fail "the demo's window did not appear"
echo "valgrind: window up after ${SECONDS} s"
wait_frames "$shotframe" 600
xdotool key --window "$wid" F12
wait_frames "$frames" 600
"$build/tools/xclose/xclose" "$wid"
status=0
wait "$pid" || status=$?
drawn="$(cat "$count")"
echo "valgrind: the demo drew $drawn frames and exited with status $status after ${SECONDS} s"

problems=0
if [ "$status" -ne 0 ]; then
    echo "valgrind: memcheck reported errors (exit status $status):" >&2
    problems=1
fi
if ! grep -q "ERROR SUMMARY: 0 errors" valgrind.log; then
    grep -E "^==[0-9]+== (Invalid|Conditional|Use of|Syscall|Mismatched|[0-9,]+ bytes in)" valgrind.log >&2 || true
    problems=1
fi
if ! ls shot*.tga >/dev/null 2>&1; then
    echo "valgrind: no screenshot was written" >&2
    problems=1
fi
if ! grep -q "^Bytes left allocated at io_deinit: 0$" log.txt; then
    echo "valgrind: log.txt's allocation report shows blocks left" >&2
    problems=1
fi
if ! grep -q "^Bytes left allocated at io_deinit: 0$" stdout.txt; then
    echo "valgrind: the audio engine's allocation report shows blocks left" >&2
    problems=1
fi
if [ "$problems" -ne 0 ]; then
    echo "valgrind: see $rundir/valgrind.log" >&2
    exit 1
fi
echo "valgrind: clean: $(grep -o 'ERROR SUMMARY: .*' valgrind.log | head -n 1); screenshot $(ls shot*.tga)"
