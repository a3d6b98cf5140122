#!/usr/bin/env bash
# Builds a static wxMSW 3.2 for mingw-w64 from Debian's wxwidgets3.2 source package, once: the
# result stays in build/wxmsw/<key>/ and is reused while the source version and this script are
# unchanged. Prints the wx-config to use on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD/build/wxmsw
mkdir -p "$root"

# The source package needs deb-src entries for the archives apt already uses.
if ! apt-get source --print-uris wxwidgets3.2 >/dev/null 2>&1; then
    list=/etc/apt/sources.list.d/pemo-deb-src.sources
    for f in /etc/apt/sources.list.d/*.sources; do
        [ "$f" = "$list" ] && continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" } /(^|\n)Types:[^\n]*deb($|[ \n])/ && !/Enabled: *no/ {
                 sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
    done >"$list.new"
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >/etc/apt/sources.list.d/pemo-deb-src.list
    fi
    mv "$list.new" "$list"
    apt-get update -q >/dev/null
fi

version=$(apt-get source --print-uris wxwidgets3.2 2>/dev/null | sed -n "s/.*wxwidgets3.2_\([^ ]*\)\.dsc.*/\1/p" | head -n 1)
[ -n "$version" ] || { echo "build-wxmsw.sh: no wxwidgets3.2 source package found" >&2; exit 1; }
key="$version-$(sha256sum "$0" | cut -c1-12)"
prefix=$root/$key/install
if [ -x "$prefix/bin/wx-config" ]; then
    echo "$prefix/bin/wx-config"
    exit 0
fi

rm -rf "${root:?}/$key"
mkdir -p "$root/$key/src"
(cd "$root/$key/src" && apt-get source -q --download-only wxwidgets3.2 >/dev/null &&
    dpkg-source -x --no-check ./*.dsc source >/dev/null)
mkdir -p "$root/$key/obj"
cd "$root/$key/obj"
# Debian's source drops the bundled PNG, JPEG, TIFF and expat: icons come as ICO, BMP or XPM.
../src/source/configure --host=x86_64-w64-mingw32 --prefix="$prefix" --with-msw --disable-shared \
    --without-libpng --without-libjpeg --without-libtiff --without-expat --disable-svg --disable-xrc \
    --disable-html --disable-webview --disable-mediactrl --disable-stc --disable-richtext \
    --disable-propgrid --disable-ribbon --disable-aui --without-opengl --with-zlib=sys \
    --with-regex=builtin >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
make -j "$(nproc)" >make.log 2>&1 || { grep -m 20 -E "error|Error" make.log >&2; exit 1; }
make install >install.log 2>&1
rm -rf "$root/$key/src" "$root/$key/obj"
echo "$prefix/bin/wx-config"
