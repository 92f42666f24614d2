#!/usr/bin/env bash
# install_test.sh -- installs the build into a temporary prefix and checks the installed files and the shared
# libraries' sonames; builds the user's C++ programs (user/: io and gfx, and the C++ examples) and the audio-only C
# program (cuser/: the C example) outside the source tree four ways each (find_package(Quorrel) and pkg-config,
# shared and static); runs them against expected*.txt (play_wav in C and in C++ offline and on SDL's disk device) and
# compares the runs; shows that configuring the audio-only program never looks for the graphics packages; runs the
# installed emplay; checks that the package refuses another major version, an unknown component and a machine
# without the libraries a component needs. Each failure names its step.
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

cp -r "$here/user" "$here/cuser" "$here/../../examples" "$tmp"
cp "$here/../../tools/emplay/examples/tone.wav" "$tmp"
# cmakebuild <project> <kind> [cmake options...]: configures and builds user/ or cuser/ into <project>-cmake-<kind>.
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
# pkgbuild <project> <kind> <program> <source> <compiler and options> <pkg-config arguments...>
pkgbuild() {
    local flags compiler
    flags="$(pkg-config --cflags --libs "${@:6}")" || fail "pkg-config --cflags --libs ${*:6} failed"
    read -r -a compiler <<<"$5"
    mkdir -p "$tmp/$1-pkgconfig-$2"
    # shellcheck disable=SC2086 # the flags are words
    step "building $3 ($2) with pkg-config" "${compiler[@]}" -Wall -Wextra -Werror "$tmp/$4" \
        -o "$tmp/$1-pkgconfig-$2/$3" $flags -Wl,-rpath,"$prefix/$libdir"
}
for kind in shared static; do
    [ "$kind" = shared ] && suffix="" || suffix="-static"
    pkgbuild user "$kind" user user/main.cpp "${CXX:-c++} -std=c++17" ${suffix:+--static} "quorrel-gfx$suffix"
    pkgbuild user "$kind" play_wav examples/play_wav.cpp "${CXX:-c++} -std=c++17" ${suffix:+--static} "quorrel-em$suffix"
    pkgbuild cuser "$kind" play_wav_c examples/play_wav.c "${CC:-cc} -std=c99 -pedantic" ${suffix:+--static} "quorrel-em$suffix"
done
# The programs of each project and the library each loads: <project>:<program>:<library>.
programs=(user:user:gfx user:play_wav:em cuser:play_wav_c:em)
for program in flyby sequence game; do
    [ -x "$tmp/user-cmake-shared/$program" ] || fail "the example $program was not built with CMake"
done
for entry in "${programs[@]}"; do
    IFS=: read -r project program lib <<<"$entry"
    for build in cmake-shared pkgconfig-shared; do
        readelf -d "$tmp/$project-$build/$program" | grep -qF "[libquorrel-$lib.so.$major]" ||
            fail "$program built with $build does not load libquorrel-$lib.so.$major"
    done
    for build in cmake-static pkgconfig-static; do
        ! readelf -d "$tmp/$project-$build/$program" | grep -qF "libquorrel-" ||
            fail "$program built with $build loads a shared library of the engine"
    done
done

# run <project> <program> <build> <expected> <arguments> [env...]: runs a build of a program in a folder of its own
# beside tone.wav; each line it prints must match the pattern on the same line of <expected> and
# standard error hold only what SDL's disk driver (the device's capture) says; the engine's report and log must say
# that every block was freed.
run() {
    local dir="$tmp/run-$2-$3${6:+-device}" lines patterns i
    mkdir "$dir"
    cp "$tmp/tone.wav" "$dir"
    # shellcheck disable=SC2086 # the arguments are words
    (cd "$dir" && env "${@:6}" "$tmp/$1-$3/$2" $5) >"$dir/out.txt" 2>"$dir/err.txt" ||
        { cat "$dir/out.txt" "$dir/err.txt" >&2; fail "$2 built with $3 failed"; }
    ! grep -v -e '^WARNING: You are using the SDL disk writer audio driver!$' -e '^ Writing to file \[device\.raw\]\.$' \
        "$dir/err.txt" >&2 || fail "$2 built with $3 printed the lines above on standard error"
    mapfile -t lines <"$dir/out.txt"
    mapfile -t patterns <"$here/$4"
    for i in "${!patterns[@]}"; do
        [[ "${lines[i]:-}" =~ ${patterns[i]} ]] || { cat "$dir/out.txt" >&2; fail \
            "$2 built with $3 printed \"${lines[i]:-}\" on line $((i + 1)), expected ${patterns[i]}"; }
    done
    [ "${#lines[@]}" -eq "${#patterns[@]}" ] || fail "$2 built with $3 printed ${#lines[@]} lines"
    grep -qx "Bytes left allocated at io_deinit: 0" "$dir/out.txt" "$dir/log.txt" 2>/dev/null ||
        fail "$2 built with $3 does not report every block freed"
    diff "$tmp/run-$2-cmake-shared${6:+-device}/out.txt" "$dir/out.txt" >&2 ||
        fail "$2 built with cmake-shared and with $3 printed different things"
}
for build in cmake-shared cmake-static pkgconfig-shared pkgconfig-static; do
    run user user "$build" expected.txt ""
    cmp "$tmp/run-user-cmake-shared/user.tga" "$tmp/run-user-$build/user.tga" >&2 || fail "user built with $build wrote another TGA"
    for entry in user:play_wav cuser:play_wav_c; do
        program="${entry#*:}"
        # Offline: the same render from every build, in C and in C++.
        run "${entry%%:*}" "$program" "$build" expected-render.txt "--render a.out tone.wav"
        cmp "$tmp/run-play_wav-cmake-shared/a.out" "$tmp/run-$program-$build/a.out" >&2 ||
            fail "$program built with $build rendered other sound than play_wav built with cmake-shared"
        # On a sound device whose stream SDL's disk driver writes to device.raw: the voice starts between two device
        # buffers, so the stream must be whole silent buffers, then exactly the offline render.
        run "${entry%%:*}" "$program" "$build" expected-device.txt tone.wav SDL_AUDIODRIVER=disk \
            SDL_DISKAUDIOFILE=device.raw SDL_DISKAUDIODELAY=5
        raw="$tmp/run-$program-$build-device/device.raw" skip=0
        while cmp -s -n 4096 -i "$skip:0" "$raw" /dev/zero; do skip=$((skip + 4096)); done
        cmp -n "$(($(stat -c %s "$tmp/run-$program-$build/a.out") - 44))" -i "$skip:44" "$raw" "$tmp/run-$program-$build/a.out" >&2 ||
            fail "the device's stream of $program built with $build differs from its offline render after its silent buffers"
    done
done

step "the installed emplay rendering the shipped tone" \
    env SDL_AUDIODRIVER=dummy "$prefix/bin/emplay" -o "$tmp/emplay.wav" "$tmp/tone.wav"
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
