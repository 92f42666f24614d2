#!/usr/bin/env bash
# install_test.sh -- installs the build into a temporary prefix and checks the installed files and the shared
# libraries' sonames; builds the user's C++ program (user/) and the audio-only C program (cuser/) outside the source
# tree four ways each (find_package(Quorrel) and pkg-config, shared and static), runs them against expected.txt and
# cexpected.txt and compares the runs; shows that configuring the audio-only program never looks for the graphics
# packages; runs the installed emplay; checks that the package refuses another major version, an unknown component
# and a machine without the libraries a component needs. Each failure names its step.
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
major="${version%%.*}"
expected="$(printf '%s\n' bin/emplay include/{em/em,gfx/gfx,io/io}.h "$libdir"/libquorrel-{em,gfx,io}.{a,so} \
    "$libdir"/libquorrel-{em,gfx,io}.so.{"$major","$version"} \
    "$libdir"/cmake/Quorrel/Quorrel{Config,ConfigVersion,Dependencies}.cmake \
    "$libdir"/cmake/Quorrel/QuorrelTargets-{em,gfx,io}{,-"$buildtype"}.cmake \
    "$libdir"/pkgconfig/quorrel-{em,gfx,io}{,-static}.pc | LC_ALL=C sort)"
installed="$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)"
[ "$installed" = "$expected" ] ||
    { diff <(echo "$expected") <(echo "$installed") >&2; fail "the installed files differ from the list (< expected, > installed)"; }
for name in em gfx io; do
    lib="$prefix/$libdir/libquorrel-$name.so"
    [ "$(readlink "$lib")" = "libquorrel-$name.so.$major" ] && [ "$(readlink "$lib.$major")" = "libquorrel-$name.so.$version" ] ||
        fail "$lib is not a link to libquorrel-$name.so.$major, a link to libquorrel-$name.so.$version"
    readelf -d "$lib.$version" | grep -qF "Library soname: [libquorrel-$name.so.$major]" ||
        fail "libquorrel-$name.so.$version does not have the soname libquorrel-$name.so.$major"
done
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
pcprefix="$(pkg-config --variable=prefix quorrel-io)" || fail "pkg-config cannot read quorrel-io.pc"
[ "$pcprefix" = "$prefix" ] || fail "quorrel-io.pc names the prefix $pcprefix instead of $prefix"

cp -r "$here/user" "$here/cuser" "$here/common" "$tmp"
# cmakebuild <program> <kind> [cmake options...]: configures and builds user/ or cuser/ into <program>-cmake-<kind>.
cmakebuild() {
    local build="$tmp/$1-cmake-$2"
    step "configuring $1 ($2) with find_package(Quorrel)" "$cmake" -S "$tmp/$1" -B "$build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "${@:3}"
    cp "$tmp/step.log" "$build/configure.log"
    found="$(sed -n 's/^Quorrel_DIR:PATH=//p' "$build/CMakeCache.txt")"
    [ "$found" = "$prefix/$libdir/cmake/Quorrel" ] || fail "find_package(Quorrel) found $found, not the installed package"
    step "building $1 ($2) with CMake" "$cmake" --build "$build"
}
cmakebuild user shared
cmakebuild user static -DQUORREL_STATIC=ON
cmakebuild cuser shared --debug-find
cmakebuild cuser static -DQUORREL_STATIC=ON
# The audio-only program's configure step looks for em's dependencies alone (/usr/X11R6 is one of the prefixes
# CMake searches for anything, not a search for X11).
! grep -v -F /usr/X11R6 "$tmp/cuser-cmake-shared/configure.log" | grep -n -i -E 'sdl_?image|opengl|glu\b|x11' >&2 ||
    fail "configuring the audio-only program looked for the graphics packages (the lines above)"
grep -q 'NAMES: "sndfile"' "$tmp/cuser-cmake-shared/configure.log" || fail "the find debug output of the audio-only program does not show em's dependencies"

# pkg-config: quorrel-<name> links the shared library, quorrel-<name>-static the archive.
# pkgbuild <program> <kind> <compiler and options> <pkg-config arguments...>
pkgbuild() {
    local flags compiler
    flags="$(pkg-config --cflags --libs "${@:4}")" || fail "pkg-config --cflags --libs ${*:4} failed"
    read -r -a compiler <<<"$3"
    # shellcheck disable=SC2086 # the flags are words
    step "building $1 ($2) with pkg-config" "${compiler[@]}" -Wall -Wextra -Werror "$tmp/$1/main.$([ "$1" = user ] && echo cpp || echo c)" \
        -I"$tmp/common" -o "$tmp/$1-pkgconfig-$2" $flags -Wl,-rpath,"$prefix/$libdir"
}
pkgbuild user shared "${CXX:-c++} -std=c++17" quorrel-em quorrel-gfx
pkgbuild user static "${CXX:-c++} -std=c++17" --static quorrel-em-static quorrel-gfx-static
pkgbuild cuser shared "${CC:-cc} -std=c99 -pedantic" quorrel-em
pkgbuild cuser static "${CC:-cc} -std=c99 -pedantic" --static quorrel-em-static
# binary <program> <build>: the path of that build of the program.
binary() {
    if [ -d "$tmp/$1-$2" ]; then echo "$tmp/$1-$2/$1"; else echo "$tmp/$1-$2"; fi
}
for program in user cuser; do
    for build in cmake-shared pkgconfig-shared; do
        readelf -d "$(binary "$program" "$build")" | grep -qF "[libquorrel-em.so.$major]" ||
            fail "$program built with $build does not load libquorrel-em.so.$major"
    done
    for build in cmake-static pkgconfig-static; do
        ! readelf -d "$(binary "$program" "$build")" | grep -qF "libquorrel-" ||
            fail "$program built with $build loads a shared library of the engine"
    done
done

# run <program> <build> <expected>: runs a build of the program in a folder of its own; each line it prints must
# match the pattern on the same line of <expected>, and standard error hold only what SDL's disk driver (the device's
# capture) says.
run() {
    local dir="$tmp/run-$1-$2" lines patterns i
    mkdir "$dir"
    (cd "$dir" && "$(binary "$1" "$2")") >"$dir/out.txt" 2>"$dir/err.txt" ||
        { cat "$dir/out.txt" "$dir/err.txt" >&2; fail "$1 built with $2 failed"; }
    ! grep -v -e '^WARNING: You are using the SDL disk writer audio driver!$' -e '^ Writing to file \[device\.raw\]\.$' \
        "$dir/err.txt" >&2 || fail "$1 built with $2 printed the lines above on standard error"
    mapfile -t lines <"$dir/out.txt"
    mapfile -t patterns <"$here/$3"
    for i in "${!patterns[@]}"; do
        [[ "${lines[i]:-}" =~ ${patterns[i]} ]] || { cat "$dir/out.txt" >&2; fail \
            "$1 built with $2 printed \"${lines[i]:-}\" on line $((i + 1)), expected ${patterns[i]}"; }
    done
    [ "${#lines[@]}" -eq "${#patterns[@]}" ] || fail "$1 built with $2 printed ${#lines[@]} lines"
    [ "$1" = cuser ] || grep -qx "Bytes left allocated at io_deinit: 0" "$dir/log.txt" ||
        fail "the log of $1 built with $2 does not report every block freed"
    diff "$tmp/run-$1-cmake-shared/out.txt" "$dir/out.txt" >&2 || fail "$1 built with cmake-shared and with $2 printed different things"
}
for build in cmake-shared cmake-static pkgconfig-shared pkgconfig-static; do
    run user "$build" expected.txt
    run cuser "$build" cexpected.txt
done

step "the installed emplay rendering the user program's WAV file" \
    env SDL_AUDIODRIVER=dummy "$prefix/bin/emplay" -o "$tmp/emplay.wav" "$tmp/run-user-cmake-shared/tone.wav"
[ "$(head -c 4 "$tmp/emplay.wav")" = RIFF ] && [ "$(stat -c %s "$tmp/emplay.wav")" -gt 44 ] ||
    fail "the installed emplay wrote no sound to $tmp/emplay.wav"

# probe <version> <components> [env...]: configures a project asking for that version of the package and those
# components, in that environment.
mkdir "$tmp/probe" "$tmp/nomodules"
printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(probe LANGUAGES C)' \
    'find_package(Quorrel ${QUORREL_VERSION} REQUIRED COMPONENTS ${QUORREL_COMPONENTS})' >"$tmp/probe/CMakeLists.txt"
probe() {
    rm -rf "$tmp/probe-build"
    env "${@:3}" "$cmake" -S "$tmp/probe" -B "$tmp/probe-build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DQUORREL_VERSION="$1" -DQUORREL_COMPONENTS="$2" >"$tmp/probe.log" 2>&1
}
# said <text> <failure>: the probe's output holds the text (CMake's line breaks undone), else fails.
said() {
    tr -s ' \n' '  ' <"$tmp/probe.log" | grep -qF "$1" || { cat "$tmp/probe.log" >&2; fail "$2"; }
}
probe "$version" "io;gfx;em" || { cat "$tmp/probe.log" >&2; fail "find_package(Quorrel $version) refused the installed $version"; }
next="$((major + 1)).0"
! probe "$next" em || fail "find_package(Quorrel $next) accepted the installed $version"
said "version: $version" "find_package(Quorrel $next) did not fail on the version"
! probe "$version" "em;sound" || fail "find_package(Quorrel COMPONENTS em sound) succeeded"
said "Quorrel has no component sound (its components are io, gfx and em)" "an unknown component was not named"
nomodules=(PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR="$tmp/nomodules")
! probe "$version" em "${nomodules[@]}" ||
    fail "find_package(Quorrel COMPONENTS em) succeeded without the pkg-config modules of SDL, vorbisfile and sndfile"
said "Quorrel's component em needs libraries that were not found: PkgConfig::SDL, PkgConfig::VORBIS, PkgConfig::SNDFILE " \
    "find_package(Quorrel COMPONENTS em) without pkg-config modules did not name them"
! probe "$version" gfx "${nomodules[@]}" || fail "find_package(Quorrel COMPONENTS gfx) succeeded without SDL and SDL_image"
said "Quorrel's component gfx needs libraries that were not found: PkgConfig::SDL, PkgConfig::SDLIMAGE " \
    "find_package(Quorrel COMPONENTS gfx) without pkg-config modules did not name them"
probe "$version" io "${nomodules[@]}" ||
    { cat "$tmp/probe.log" >&2; fail "find_package(Quorrel COMPONENTS io) needed a pkg-config module"; }
echo "install test: passed"
