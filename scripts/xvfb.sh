# xvfb.sh -- sourced by the run and test scripts: starts a private Xvfb with a
# 24-bit screen (Mesa's software GL then gives an 8-bit alpha channel) and
# exports DISPLAY; the server stops when the calling script exits.
quorrel_start_xvfb() {
    local fifo
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    QUORREL_XVFB_PID=$!
    local number
    read -r -t 30 number <"$fifo" || { echo "could not start Xvfb" >&2; rm -f "$fifo"; return 1; }
    rm -f "$fifo"
    export DISPLAY=":$number"
    trap 'kill "$QUORREL_XVFB_PID" 2>/dev/null || true' EXIT
}
