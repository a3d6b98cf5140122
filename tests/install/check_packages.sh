#!/usr/bin/env bash
# Builds the Debian packages into a temporary directory and checks that each file is in the right
# package: the command line (pemo) with no toolkit among its dependencies, and the window program
# (pemo-window) with its desktop files, depending on the first.
# Usage: check_packages.sh BUILD_DIR WITH_WINDOW(ON|OFF)
set -euo pipefail
build=$(realpath "$1")
window=$2
work=$(mktemp -d /tmp/pemo-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! (cd "$work" && cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake") >"$work/cpack.txt" 2>&1; then
    cat "$work/cpack.txt" >&2
    echo "FAIL: cpack could not build the packages" >&2
    exit 1
fi
shopt -s nullglob
cli=("$work"/out/pemo_*.deb)
gui=("$work"/out/pemo-window_*.deb)
[ ${#cli[@]} -eq 1 ] || { echo "FAIL: no single pemo package among: $(ls "$work/out")" >&2; exit 1; }

# Fields and contents (paths without the leading "./").
field() { dpkg-deb -f "$1" "$2"; }
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./||'; }
has() { # package listing path
    grep -qx "$2" <<<"$1" || fail "$(basename "$3") lacks $2"
}
lacks() {
    grep -qx "$2" <<<"$1" && fail "$(basename "$3") holds $2, which belongs to the other package"
    return 0
}

cli_files=$(contents "${cli[0]}")
[ "$(field "${cli[0]}" Package)" = pemo ] || fail "the command-line package is not named pemo"
for f in usr/bin/pemo usr/share/man/man1/pemo.1.gz usr/share/bash-completion/completions/pemo \
    usr/share/zsh/vendor-completions/_pemo; do
    has "$cli_files" "$f" "${cli[0]}"
done
for f in usr/libexec/pemo/pemo-window usr/share/applications/pemo.desktop \
    usr/share/icons/hicolor/scalable/apps/pemo.svg usr/share/metainfo/org.example.pemo.metainfo.xml \
    usr/share/mime/packages/pemo.xml; do
    lacks "$cli_files" "$f" "${cli[0]}"
done
cli_depends=$(field "${cli[0]}" Depends)
grep -q 'libc6' <<<"$cli_depends" || fail "pemo's Depends was not computed from the program: $cli_depends"
grep -Eiq 'gtk|wx|libx11|gdk' <<<"$cli_depends" && fail "pemo depends on a toolkit: $cli_depends"

# The unpacked command-line program runs.
dpkg-deb -x "${cli[0]}" "$work/root"
# One version everywhere: the package's (less its Debian revision), the program's, the manual's and,
# with the window, the metainfo's.
version=$(field "${cli[0]}" Version)
upstream=${version%-*}
[ "$("$work/root/usr/bin/pemo" --version)" = "Pemo v$upstream" ] || fail "the packaged pemo does not say $upstream"
zgrep -q "^\.TH PEMO 1 .* \"Pemo $upstream\"" "$work/root/usr/share/man/man1/pemo.1.gz" || fail "the manual is not $upstream"

if [ "$window" = ON ]; then
    if [ ${#gui[@]} -ne 1 ]; then
        fail "no single pemo-window package among: $(ls "$work/out")"
    else
        gui_files=$(contents "${gui[0]}")
        for f in usr/libexec/pemo/pemo-window usr/share/applications/pemo.desktop \
            usr/share/icons/hicolor/scalable/apps/pemo.svg usr/share/metainfo/org.example.pemo.metainfo.xml \
            usr/share/mime/packages/pemo.xml; do
            has "$gui_files" "$f" "${gui[0]}"
        done
        for f in usr/bin/pemo usr/share/man/man1/pemo.1.gz; do
            lacks "$gui_files" "$f" "${gui[0]}"
        done
        gui_depends=$(field "${gui[0]}" Depends)
        dpkg-deb --fsys-tarfile "${gui[0]}" | tar -xO ./usr/share/metainfo/org.example.pemo.metainfo.xml |
            grep -qF "<release version=\"$upstream\"" || fail "the metainfo's release is not $upstream"
        grep -qF "pemo (= $version)" <<<"$gui_depends" || fail "pemo-window does not depend on pemo $version: $gui_depends"
        grep -q 'libwx' <<<"$gui_depends" || fail "pemo-window's Depends lacks the toolkit: $gui_depends"
    fi
else
    [ ${#gui[@]} -eq 0 ] || fail "a build without the window program packaged one"
fi

# Debian's own checker finds nothing to warn about in either package.
if command -v lintian >/dev/null; then
    for deb in "${cli[@]}" "${gui[@]}"; do
        found=$(lintian --fail-on none --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EW]: ') &&
            fail "lintian on $(basename "$deb"):"$'\n'"$found"
    done
else
    fail "lintian is missing (tools/install-deps.sh installs it)"
fi

[ "$failures" -eq 0 ] || exit 1
echo "package check passed"
