#!/usr/bin/env bash
# fuzz.sh -- builds the libFuzzer targets (clang, with ASan and UBSan) into
# build-fuzz/, makes their seed corpora with the project's own generators and
# fuzzes each target in turn.
#   usage: scripts/fuzz.sh [--brief] [target...]
#     --brief   the test command's short run: QUORREL_FUZZ_BRIEF seconds per
#               target (default 4), starting from the seeds alone
#     default   QUORREL_FUZZ_SECONDS per target (default 600), growing the kept
#               corpus in build-fuzz/corpus/<target>/
#   targets: descriptor asset icon wav ogg mem tga seq (default all)
# A crash leaves its input in build-fuzz/crashes/<target>/ and fails the run:
# copy the input into tests/fuzz/regressions/<target>/ (the replay tests of the
# ordinary build then run it), fix the fault, and run again.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
brief=0
if [ "${1:-}" = --brief ]; then
    brief=1
    shift
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(descriptor asset icon wav ogg mem tga seq)
fi
if [ "$brief" = 1 ]; then
    seconds="${QUORREL_FUZZ_BRIEF:-4}"
else
    seconds="${QUORREL_FUZZ_SECONDS:-600}"
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORREL_FUZZ=ON -DQUORREL_SANITIZE=address,undefined >/dev/null
programs=(fuzz_mkseeds mkassets)
for t in "${targets[@]}"; do
    programs+=("fuzz_$t")
done
cmake --build "$build" -j"${QUORREL_JOBS:-2}" --target "${programs[@]}"

# Seeds: the test kit's picture writers, emplay's WAV header, the Ogg writer of
# tools/mixgen, emplay's example sequence and a generated one of 4096 steps, and
# the demo's own atlas and icon from mkassets.
seeds="$build/seeds"
rm -rf "$seeds"
"$build/tests/fuzz/fuzz_mkseeds" "$seeds"
mkdir -p "$seeds/demo"
"$build/tools/mkassets/mkassets" "$seeds/demo" >/dev/null
cp "$seeds/demo/icon.bmp" "$seeds/icon/mkassets-icon.bmp"
# An asset input: kind byte 0 (a TGA), no descriptor, no alpha image, the picture.
{ printf '\0\0\0\0\0'; cat "$seeds/demo/blobs.tga"; } >"$seeds/asset/mkassets-blobs"

# The audio targets run the engine on SDL's silent driver. Refused files make the
# engine print an error line each: the fuzzers' output goes to a log.
export SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy
# SDL's readers allocate what a header declares before reading it: blocks above
# 512 MiB come back null (which the readers handle) instead of taking the
# machine's memory and time; no input of at most 64 KiB needs one legitimately.
export ASAN_OPTIONS="allocator_may_return_null=1:max_allocation_size_mb=512:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    crashes="$build/crashes/$t"
    log="$build/fuzz-$t.log"
    mkdir -p "$crashes"
    if [ "$brief" = 1 ]; then
        corpus="$build/brief/$t"
        rm -rf "$corpus"
    fi
    mkdir -p "$corpus"
    # A target may list leaks of the libraries it drives (tests/fuzz/lsan-<target>.supp).
    supp="$root/tests/fuzz/lsan-$t.supp"
    if [ -f "$supp" ]; then
        export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0"
    else
        unset LSAN_OPTIONS
    fi
    # Files larger than 64 KiB add nothing that smaller ones do not reach.
    if "$build/tests/fuzz/fuzz_$t" "$corpus" "$seeds/$t" \
            -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=3072 \
            -malloc_limit_mb=1024 -artifact_prefix="$crashes/" -print_final_stats=1 \
            >"$log" 2>&1; then
        runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
        echo "fuzz: $t: ${runs:-?} inputs in ${seconds} s, no fault"
    else
        status=1
        echo "fuzz: $t: FAULT; input kept in $crashes/ (log $log):" >&2
        grep -E "ERROR|fuzz check failed|SUMMARY|#[0-9]+ 0x" "$log" | head -n 30 >&2 || true
    fi
done
exit "$status"
