#!/usr/bin/env bash
# The Windows build, tested on this machine: installs what is missing (mingw-w64, Wine, ...),
# builds the static wxMSW once (tools/build-wxmsw.sh), cross-builds pemo.exe, the window program
# and the test binary in build/windows, runs the suite under Wine in a fresh private prefix, then
# the demo job with pemo.exe (tools/windows-demo.sh). Prints how long each stage took.
# PEMO_WX_CONFIG names a wx-config to use instead of building wxMSW; PEMO_WINDOWS_GUI=OFF leaves
# the window program out.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

timings=()
# Runs one stage and notes its time; its status is the stage's (the commands in it run as a list
# whose failures each stage checks itself).
stage() {
    local name=$1 start=$SECONDS status=0
    shift
    echo "== windows.sh: $name"
    "$@" || status=$?
    timings+=("$(printf '%-6s %5d s' "$name" $((SECONDS - start)))$([ "$status" -eq 0 ] || echo " (failed)")")
    return "$status"
}
report_timings() {
    echo "windows.sh stage times:"
    printf '  %s\n' "${timings[@]}"
}
trap report_timings EXIT

install_deps() {
    local packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine
        libz-mingw-w64-dev googletest nsis zip unzip cmake ninja-build)
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update &&
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# The window program needs a ui/CMakeLists.txt that knows Windows; until then only the core is built.
gui=OFF
wx_config=""
find_wx() {
    if [ "${PEMO_WINDOWS_GUI:-ON}" = OFF ] || ! grep -q WIN32 ui/CMakeLists.txt; then
        echo "windows.sh: the window program is left out"
        return 0
    fi
    wx_config=${PEMO_WX_CONFIG:-$(bash tools/build-wxmsw.sh | tail -n 1)} || return 1
    [ -x "$wx_config" ] || { echo "windows.sh: no wx-config at '$wx_config'" >&2; return 1; }
    gui=ON
}

build="$root/build/windows"
configure_and_build() {
    local args=() # the wxMSW build and the compiler cache, when there are
    [ "$gui" = ON ] && args=(-DwxWidgets_CONFIG_EXECUTABLE="$wx_config")
    command -v ccache >/dev/null && args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Debug -DPEMO_WERROR=ON -DPEMO_GUI="$gui" "${args[@]}" >"$build.configure.log" ||
        { cat "$build.configure.log" >&2; return 1; }
    cmake --build "$build" -j "$(nproc)"
}

# Wine in a prefix of its own, made fresh, silent, asking for no Mono or Gecko, and finding the
# compiler's runtime libraries (the programs link them dynamically).
export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
runtime_path() {
    local dirs=("$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")"
        /usr/x86_64-w64-mingw32/lib) joined="" d
    for d in "${dirs[@]}"; do
        joined+="${joined:+;}Z:${d//\//\\}"
    done
    printf '%s' "$joined"
}
start_wine() {
    stop_wine
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # One server for the whole suite instead of one per test.
    wineserver -p && wineboot -i >/dev/null 2>&1
}
stop_wine() {
    wineserver -k 2>/dev/null || true
}

# Tests still failing under Wine for a reason the file gives are left out and named, so that
# every other test guards the port; the list is meant to shrink to nothing.
known_failures="$root/tools/windows-known-failures.txt"
# Wine now and then fails to start a program at all (no output, a few milliseconds): the tests
# that failed run once more, one at a time, and must pass then.
run_tests() {
    local names
    local exclude=()
    names=$(sed -e 's/[[:space:]]*#.*//' -e '/^$/d' "$known_failures" | paste -sd '|')
    if [ -n "$names" ]; then
        echo "windows.sh: left out as known failures under Wine: ${names//|/, } (reasons in $known_failures)"
        exclude=(-E "^($names)( |\$)")
    fi
    if ! ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300 "${exclude[@]}"; then
        echo "windows.sh: the failed tests once more, one at a time"
        ctest --test-dir "$build" --output-on-failure --timeout 300 --rerun-failed
    fi
}

stage deps install_deps
stage wxmsw find_wx
mkdir -p "$build"
stage build configure_and_build
WINEPATH="$(runtime_path)"
export WINEPATH
stage wine start_wine
trap 'stop_wine; report_timings' EXIT
status=0
stage tests run_tests || status=1
stage demo bash tools/windows-demo.sh "$build/pemo.exe" || status=1
# The installer and the portable zip hold both programs, so they need the window program.
install_test() {
    local installer
    installer=$(bash tools/windows-package.sh "$build" | head -n 1) && bash tools/windows-install-test.sh "$installer"
}
if [ "$gui" = ON ]; then
    stage setup install_test || status=1
fi
exit "$status"
