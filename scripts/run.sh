#!/usr/bin/env bash
# run.sh -- installs what is missing, builds, lays out the run folder (run/)
# with the demo's data files and starts the demo there. Without a display it
# runs the demo on a private Xvfb for a few seconds, takes a screenshot, asks
# the window to close and says where the log and the screenshot are.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORREL_BUILD_DIR:-$root/build}"
rundir="$root/run"
bash "$root/scripts/setup.sh" run
bash "$root/scripts/build.sh" --target quorrel mkassets xclose

mkdir -p "$rundir"
cp "$build/app/quorrel" "$rundir/quorrel"
"$build/tools/mkassets/mkassets" "$rundir"
cd "$rundir"

if [ -n "${DISPLAY:-}" ]; then
    export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-x11}"
    status=0
    ./quorrel || status=$?
    echo "run: quorrel exited with status $status; log: $rundir/log.txt"
    exit "$status"
fi

# shellcheck source=scripts/xvfb.sh
source "$root/scripts/xvfb.sh"
quorrel_start_xvfb
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
seconds="${QUORREL_RUN_SECONDS:-5}"
echo "run: no display; running the demo on Xvfb $DISPLAY for $seconds seconds"

before="$(ls shot*.tga 2>/dev/null || true)"
./quorrel &
pid=$!
wid="$(timeout 20 xdotool search --sync --name '^Quorrel project$' | head -n 1)" || true
if [ -z "$wid" ]; then
    wait "$pid" || true
    echo "run: the demo's window did not appear; log: $rundir/log.txt" >&2
    exit 1
fi
sleep "$seconds"
xdotool key --window "$wid" F12 2>/dev/null
sleep 1
"$build/tools/xclose/xclose" "$wid"
status=0
wait "$pid" || status=$?
echo "run: quorrel exited with status $status; log: $rundir/log.txt"

shot="$(ls shot*.tga 2>/dev/null | grep -vxF -e "$before" | tail -n 1 || true)"
[ -z "$before" ] && shot="$(ls shot*.tga 2>/dev/null | tail -n 1 || true)"
if [ -n "$shot" ]; then
    convert=/usr/bin/convert-im6.q16
    [ -x "$convert" ] || convert=/usr/bin/convert
    if "$convert" "$shot" -alpha off "${shot%.tga}.png" 2>/dev/null; then
        echo "run: screenshot: $rundir/$shot (PNG copy: $rundir/${shot%.tga}.png)"
    else
        echo "run: screenshot: $rundir/$shot"
    fi
fi
exit "$status"
