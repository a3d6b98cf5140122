#!/usr/bin/env bash
# Makes the Windows installer and the portable zip from a Windows build (default build/windows,
# configured with cmake/mingw-w64-x86_64.cmake and the window program): the programs are
# installed stripped into <build>/package/stage, then makensis writes pemo-<version>-setup.exe and
# zip writes pemo-<version>-portable.zip beside it. Prints the two paths.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/windows}" && pwd)"
for tool in makensis zip; do
    command -v "$tool" >/dev/null || { echo "windows-package.sh: $tool is missing (apt-get install nsis zip)" >&2; exit 1; }
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "windows-package.sh: $build is not a configured build" >&2; exit 1; }

# Quiet unless it fails: then the compiler's words are what the caller needs.
quietly() {
    local output
    output=$("$@" 2>&1) || { printf '%s\n' "$output" >&2; echo "windows-package.sh: failed: $*" >&2; return 1; }
}
quietly cmake --build "$build" --target pemo pemo-window
out="$build/package"
stage="$out/stage"
rm -rf "$stage"
mkdir -p "$stage"
quietly cmake --install "$build" --prefix "$stage" --strip
for program in pemo.exe pemo-window.exe README.txt; do
    [ -f "$stage/$program" ] || { echo "windows-package.sh: the build did not install $program" >&2; exit 1; }
done

installer="$out/pemo-$version-setup.exe"
portable="$out/pemo-$version-portable.zip"
rm -f "$installer" "$portable"
cp "$root/data/icons/pemo.ico" "$stage/pemo.ico"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$installer" "$root/data/windows/pemo.nsi" >&2
# Fixed times and order, so that the same programs give the same zip.
(cd "$stage" && touch -d "@$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)" pemo.exe pemo-window.exe README.txt &&
    zip -q -X -D "$portable" pemo.exe pemo-window.exe README.txt)
echo "$installer"
echo "$portable"
