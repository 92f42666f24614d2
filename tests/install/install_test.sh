#!/usr/bin/env bash
# install_test.sh -- installs the build into a temporary prefix, checks that
# exactly the libraries, public headers, emplay and package files landed there,
# and builds a user's program (user/) against it from a folder outside the source
# tree, once with find_package(Quorrel) and once with pkg-config; both programs
# must run and print the same. Also checks the package's refusals: a version of
# another major number, and a machine without the libraries the engine needs.
#   usage: install_test.sh <build dir> <cmake> <lib dir> <build type> <version>
# CC and CXX name the compilers the build used. Each failure names its step.
set -euo pipefail

build="$1" cmake="$2" libdir="$3" buildtype="$4" version="$5"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cxx="${CXX:-c++}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
case "$tmp/" in
    "$root"/*) echo "install test: the temporary folder $tmp lies inside the source tree" >&2; exit 1 ;;
esac

fail() {
    echo "install test: $*" >&2
    exit 1
}

# step <what> <command...>: runs a command, showing its output only when it fails.
step() {
    local what="$1"
    shift
    if ! "$@" >"$tmp/step.log" 2>&1; then
        cat "$tmp/step.log" >&2
        fail "$what failed"
    fi
}

# ---- Install and list ------------------------------------------------------

step "cmake --install $build --prefix $prefix" "$cmake" --install "$build" --prefix "$prefix"

expected="bin/emplay
include/em/em.h
include/gfx/gfx.h
include/io/io.h
$libdir/cmake/Quorrel/QuorrelConfig.cmake
$libdir/cmake/Quorrel/QuorrelConfigVersion.cmake
$libdir/cmake/Quorrel/QuorrelDependencies.cmake
$libdir/cmake/Quorrel/QuorrelTargets-$buildtype.cmake
$libdir/cmake/Quorrel/QuorrelTargets.cmake
$libdir/libquorrel-em.a
$libdir/libquorrel-gfx.a
$libdir/libquorrel-io.a
$libdir/pkgconfig/quorrel-em.pc
$libdir/pkgconfig/quorrel-gfx.pc
$libdir/pkgconfig/quorrel-io.pc"
installed="$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)"
echo "install test: installed under the prefix:"
echo "$installed" | sed 's/^/  /'
if [ "$installed" != "$(echo "$expected" | LC_ALL=C sort)" ]; then
    diff <(echo "$expected" | LC_ALL=C sort) <(echo "$installed") >&2 || true
    fail "the installed files differ from the expected list (< expected, > installed)"
fi

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
pcprefix="$(pkg-config --variable=prefix quorrel-io)" || fail "pkg-config cannot read quorrel-io.pc"
[ "$pcprefix" = "$prefix" ] || fail "quorrel-io.pc names the prefix $pcprefix instead of $prefix"

# ---- The user's program, both ways -----------------------------------------

cp -r "$here/user" "$tmp/user"

step "configuring the user program with find_package(Quorrel)" \
    "$cmake" -S "$tmp/user" -B "$tmp/user-cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
found="$(sed -n 's/^Quorrel_DIR:PATH=//p' "$tmp/user-cmake/CMakeCache.txt")"
[ "$found" = "$prefix/$libdir/cmake/Quorrel" ] || fail "find_package(Quorrel) found $found, not the installed package"
step "building the user program with CMake" "$cmake" --build "$tmp/user-cmake"

flags="$(pkg-config --cflags --libs --static quorrel-em quorrel-gfx)" ||
    fail "pkg-config --cflags --libs --static quorrel-em quorrel-gfx failed"
# shellcheck disable=SC2086 # the flags are words
step "building the user program with pkg-config" \
    "$cxx" -std=c++17 -Wall -Wextra -Werror "$tmp/user/main.cpp" -o "$tmp/user-pkgconfig" $flags

# run <name> <program>: runs the program in a folder of its own and checks each
# line of its output against the pattern of expected.txt on the same line.
run() {
    local name="$1" program="$2" dir="$tmp/run-$1"
    mkdir "$dir"
    if ! (cd "$dir" && "$program") >"$dir/out.txt" 2>"$dir/err.txt"; then
        cat "$dir/out.txt" "$dir/err.txt" >&2
        fail "the user program built with $name failed"
    fi
    # SDL's disk driver, which captures the device's stream, announces itself on
    # standard error; nothing else may appear there.
    if grep -v -e '^WARNING: You are using the SDL disk writer audio driver!$' \
        -e '^ Writing to file \[device\.raw\]\.$' "$dir/err.txt" >&2; then
        fail "the user program built with $name printed the lines above on standard error"
    fi
    local lines patterns i
    mapfile -t lines <"$dir/out.txt"
    mapfile -t patterns <"$here/expected.txt"
    for i in "${!patterns[@]}"; do
        if ! [[ "${lines[i]:-}" =~ ${patterns[i]} ]]; then
            cat "$dir/out.txt" >&2
            fail "the user program built with $name printed \"${lines[i]:-}\" on line $((i + 1)), expected ${patterns[i]}"
        fi
    done
    [ "${#lines[@]}" -eq "${#patterns[@]}" ] ||
        fail "the user program built with $name printed ${#lines[@]} lines, expected ${#patterns[@]}"
    grep -qx "Bytes left allocated at io_deinit: 0" "$dir/log.txt" ||
        fail "the log of the user program built with $name does not report every block freed"
}
run CMake "$tmp/user-cmake/user"
run pkg-config "$tmp/user-pkgconfig"
diff "$tmp/run-CMake/out.txt" "$tmp/run-pkg-config/out.txt" >&2 ||
    fail "the two builds of the user program printed different things"

# ---- The installed emplay ---------------------------------------------------

step "the installed emplay rendering the user program's WAV file" \
    env SDL_AUDIODRIVER=dummy "$prefix/bin/emplay" -o "$tmp/emplay.wav" "$tmp/run-CMake/tone.wav"
[ "$(head -c 4 "$tmp/emplay.wav")" = RIFF ] && [ "$(stat -c %s "$tmp/emplay.wav")" -gt 44 ] ||
    fail "the installed emplay wrote no sound to $tmp/emplay.wav"

# ---- The package's refusals -------------------------------------------------

# A project that asks for the package at the version QUORREL_VERSION names.
mkdir "$tmp/probe"
cat >"$tmp/probe/CMakeLists.txt" <<'PROBE'
cmake_minimum_required(VERSION 3.16)
project(probe LANGUAGES C)
find_package(Quorrel ${QUORREL_VERSION} REQUIRED)
PROBE
# probe_said <text>: the probe's output holds text (CMake wraps its messages: the
# words are compared with the line breaks undone).
probe_said() {
    tr -s ' \n' '  ' <"$tmp/probe.log" | grep -qF "$1"
}
# probe <version> [env...]: configures that project asking for <version>, in the
# environment given; its output is left in $tmp/probe.log, its status returned.
probe() {
    local asked="$1"
    shift
    rm -rf "$tmp/probe-build"
    env "$@" "$cmake" -S "$tmp/probe" -B "$tmp/probe-build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DQUORREL_VERSION="$asked" >"$tmp/probe.log" 2>&1
}

probe "$version" || { cat "$tmp/probe.log" >&2; fail "find_package(Quorrel $version) refused the installed $version"; }

next="$((${version%%.*} + 1)).0"
if probe "$next"; then
    fail "find_package(Quorrel $next) accepted the installed $version"
fi
probe_said "version: $version" ||
    { cat "$tmp/probe.log" >&2; fail "find_package(Quorrel $next) did not fail on the version"; }

mkdir "$tmp/nomodules"
if probe "$version" PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR="$tmp/nomodules"; then
    fail "find_package(Quorrel) succeeded without the pkg-config modules of SDL, SDL_image and vorbisfile"
fi
probe_said "Quorrel needs libraries that were not found: PkgConfig::SDL, PkgConfig::SDLIMAGE, PkgConfig::VORBIS " ||
    { cat "$tmp/probe.log" >&2; fail "find_package(Quorrel) without pkg-config modules did not name them"; }

echo "install test: passed"
