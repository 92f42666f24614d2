#!/usr/bin/env bash
# install_test.sh -- installs the build into a temporary prefix and checks the installed files; builds the user's
# program (user/) outside the source tree with find_package(Quorrel) and with pkg-config, runs both against
# expected.txt and compares them; runs the installed emplay; checks that the package refuses another major version
# and a machine without the libraries the engine needs. Each failure names its step.
#   usage: install_test.sh <build dir> <cmake> <lib dir> <build type> <version>   (CC and CXX name the build's compilers)
set -euo pipefail

build="$1" cmake="$2" libdir="$3" buildtype="$4" version="$5"
here="$(cd "$(dirname "$0")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
fail() {
    echo "install test: $*" >&2
    exit 1
}
case "$tmp/" in "$(cd "$here/../.." && pwd)"/*) fail "the temporary folder $tmp lies inside the source tree" ;; esac
# step <what> <command...>: runs a command, showing its output only when it fails.
step() {
    "${@:2}" >"$tmp/step.log" 2>&1 || { cat "$tmp/step.log" >&2; fail "$1 failed"; }
}

step "cmake --install $build --prefix $prefix" "$cmake" --install "$build" --prefix "$prefix"
expected="$(printf '%s\n' bin/emplay include/{em/em,gfx/gfx,io/io}.h "$libdir"/libquorrel-{em,gfx,io}.a \
    "$libdir"/cmake/Quorrel/Quorrel{Config,ConfigVersion,Dependencies,Targets-"$buildtype",Targets}.cmake \
    "$libdir"/pkgconfig/quorrel-{em,gfx,io}.pc | LC_ALL=C sort)"
installed="$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)"
[ "$installed" = "$expected" ] ||
    { diff <(echo "$expected") <(echo "$installed") >&2; fail "the installed files differ from the list (< expected, > installed)"; }
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
pcprefix="$(pkg-config --variable=prefix quorrel-io)" || fail "pkg-config cannot read quorrel-io.pc"
[ "$pcprefix" = "$prefix" ] || fail "quorrel-io.pc names the prefix $pcprefix instead of $prefix"

cp -r "$here/user" "$tmp/user"
step "configuring the user program with find_package(Quorrel)" \
    "$cmake" -S "$tmp/user" -B "$tmp/user-cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
found="$(sed -n 's/^Quorrel_DIR:PATH=//p' "$tmp/user-cmake/CMakeCache.txt")"
[ "$found" = "$prefix/$libdir/cmake/Quorrel" ] || fail "find_package(Quorrel) found $found, not the installed package"
step "building the user program with CMake" "$cmake" --build "$tmp/user-cmake"
flags="$(pkg-config --cflags --libs --static quorrel-em quorrel-gfx)" || fail "pkg-config --cflags --libs --static failed"
# shellcheck disable=SC2086 # the flags are words
step "building the user program with pkg-config" \
    "${CXX:-c++}" -std=c++17 -Wall -Wextra -Werror "$tmp/user/main.cpp" -o "$tmp/user-pkgconfig" $flags

# run <name> <program>: runs the program in a folder of its own; each line it prints must match the pattern on the
# same line of expected.txt, and standard error hold only what SDL's disk driver (the device's capture) says.
run() {
    local dir="$tmp/run-$1" lines patterns i
    mkdir "$dir"
    (cd "$dir" && "$2") >"$dir/out.txt" 2>"$dir/err.txt" ||
        { cat "$dir/out.txt" "$dir/err.txt" >&2; fail "the user program built with $1 failed"; }
    ! grep -v -e '^WARNING: You are using the SDL disk writer audio driver!$' -e '^ Writing to file \[device\.raw\]\.$' \
        "$dir/err.txt" >&2 || fail "the user program built with $1 printed the lines above on standard error"
    mapfile -t lines <"$dir/out.txt"
    mapfile -t patterns <"$here/expected.txt"
    for i in "${!patterns[@]}"; do
        [[ "${lines[i]:-}" =~ ${patterns[i]} ]] || { cat "$dir/out.txt" >&2; fail \
            "the user program built with $1 printed \"${lines[i]:-}\" on line $((i + 1)), expected ${patterns[i]}"; }
    done
    [ "${#lines[@]}" -eq "${#patterns[@]}" ] || fail "the user program built with $1 printed ${#lines[@]} lines"
    grep -qx "Bytes left allocated at io_deinit: 0" "$dir/log.txt" ||
        fail "the log of the user program built with $1 does not report every block freed"
}
run CMake "$tmp/user-cmake/user"
run pkg-config "$tmp/user-pkgconfig"
diff "$tmp/run-CMake/out.txt" "$tmp/run-pkg-config/out.txt" >&2 || fail "the two builds of the user program printed different things"

step "the installed emplay rendering the user program's WAV file" \
    env SDL_AUDIODRIVER=dummy "$prefix/bin/emplay" -o "$tmp/emplay.wav" "$tmp/run-CMake/tone.wav"
[ "$(head -c 4 "$tmp/emplay.wav")" = RIFF ] && [ "$(stat -c %s "$tmp/emplay.wav")" -gt 44 ] ||
    fail "the installed emplay wrote no sound to $tmp/emplay.wav"

# probe <version> [env...]: configures a project asking for that version of the package, in that environment.
mkdir "$tmp/probe" "$tmp/nomodules"
printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(probe LANGUAGES C)' \
    'find_package(Quorrel ${QUORREL_VERSION} REQUIRED)' >"$tmp/probe/CMakeLists.txt"
probe() {
    rm -rf "$tmp/probe-build"
    env "${@:2}" "$cmake" -S "$tmp/probe" -B "$tmp/probe-build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DQUORREL_VERSION="$1" >"$tmp/probe.log" 2>&1
}
# said <text> <failure>: the probe's output holds the text (CMake's line breaks undone), else fails.
said() {
    tr -s ' \n' '  ' <"$tmp/probe.log" | grep -qF "$1" || { cat "$tmp/probe.log" >&2; fail "$2"; }
}
probe "$version" || { cat "$tmp/probe.log" >&2; fail "find_package(Quorrel $version) refused the installed $version"; }
next="$((${version%%.*} + 1)).0"
! probe "$next" || fail "find_package(Quorrel $next) accepted the installed $version"
said "version: $version" "find_package(Quorrel $next) did not fail on the version"
! probe "$version" PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR="$tmp/nomodules" ||
    fail "find_package(Quorrel) succeeded without the pkg-config modules of SDL, SDL_image, vorbisfile and sndfile"
said "Quorrel needs libraries that were not found: PkgConfig::SDL, PkgConfig::SDLIMAGE, PkgConfig::VORBIS, PkgConfig::SNDFILE " \
    "find_package(Quorrel) without pkg-config modules did not name them"
echo "install test: passed"
