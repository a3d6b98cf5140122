#!/usr/bin/env bash
# Installs the build into a temporary root and checks that every installed file is where a
# distribution expects it and passes its format's own validator.
# Usage: check_install.sh BUILD_DIR WITH_WINDOW(ON|OFF)
set -euo pipefail
build=$1
window=$2
root=$(mktemp -d /tmp/pemo-install-XXXXXX)
trap 'rm -rf "$root"' EXIT

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
cd "$root/usr"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
need() {
    [ -f "$1" ] || fail "$1 is not installed"
}

need bin/pemo
[ -x bin/pemo ] || fail "bin/pemo is not executable"
need share/man/man1/pemo.1.gz
need share/bash-completion/completions/pemo
need share/zsh/vendor-completions/_pemo

# The manual renders with no warning, and it names every switch the program knows.
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l share/man/man1/pemo.1.gz 2>&1 >/dev/null) ||
    fail "man cannot render the manual"
[ -z "$warnings" ] || fail "man reports: $warnings"
page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l share/man/man1/pemo.1.gz 2>/dev/null | col -b) || true
for switch in -file -runall -show -stay -auto -fakeit -maxdelete: -shutdown -ignoreerrors -datelog \
    -logexclusions -noballoon -showdetlog -letter: --help --version; do
    grep -q -- "$switch" <<<"$page" || fail "the manual does not name $switch"
    grep -q -- "$switch" share/bash-completion/completions/pemo || fail "bash completion lacks $switch"
    grep -q -- "${switch%:}" share/zsh/vendor-completions/_pemo || fail "zsh completion lacks $switch"
done
# Every switch the program itself lists in --help is in the manual and both completions.
help=$(bin/pemo --help) || fail "bin/pemo --help failed"
listed=$(sed -n 's/^  \(-[^ ].*\)/\1/p' <<<"$help" | sed 's/   .*//; s/, /\n/g' | sed 's/ .*//; s/:[A-Z]$/:/')
[ -n "$listed" ] || fail "bin/pemo --help lists no switch"
for switch in $listed; do
    grep -qF -- "$switch" <<<"$page" || fail "the manual does not name $switch, which --help lists"
    [ "$switch" = "-?" ] || [ "$switch" = "-h" ] ||
        grep -qF -- "$switch" share/bash-completion/completions/pemo || fail "bash completion lacks $switch"
done
for section in "EXIT STATUS" "FILES" "EXAMPLES" "JOB FILE" "SETTINGS"; do
    grep -q "^$section" <<<"$page" || fail "the manual has no $section section"
done

bash -n share/bash-completion/completions/pemo || fail "bash completion does not parse"
if command -v zsh >/dev/null; then
    zsh -n share/zsh/vendor-completions/_pemo || fail "zsh completion does not parse"
else
    fail "zsh is missing (tools/install-deps.sh installs it)"
fi

# Bash offers job files and directories only: after -file, in -file:PATH (which readline splits at
# ":") and alone; blanks come unescaped (readline escapes them) and directories without the "/"
# readline adds, which would be doubled.
jobs=$(mktemp -d)
mkdir -p "$jobs/my jobs/sub"
touch "$jobs/nightly.job" "$jobs/notes.txt" "$jobs/my jobs/night ly.job"
complete_words() {
    (cd "$jobs" && bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _pemo
        printf "%s\n" "${COMPREPLY[@]}"' "$root/usr/share/bash-completion/completions/pemo" "$@")
}
offered=$(complete_words pemo -file "")
grep -qx "nightly.job" <<<"$offered" || fail "bash completion does not offer nightly.job after -file: $offered"
grep -q "notes.txt" <<<"$offered" && fail "bash completion offers notes.txt after -file"
grep -qx "my jobs" <<<"$offered" || fail "bash completion offers the directory as: $offered"
[ "$(complete_words pemo -file : 'my\ jobs/n')" = "my jobs/night ly.job" ] ||
    fail "bash completion of -file:PATH with a blank offers: $(complete_words pemo -file : 'my\ jobs/n')"
[ "$(complete_words pemo nig)" = nightly.job ] || fail "bash completion of a lone job name offers: $(complete_words pemo nig)"
rm -rf "$jobs"

if [ "$window" = ON ]; then
    need libexec/pemo/pemo-window
    [ -x libexec/pemo/pemo-window ] || fail "libexec/pemo/pemo-window is not executable"
    # The installed pemo finds the installed window program and hands it a window run; a
    # stand-in takes its place, so no display is needed.
    mv libexec/pemo/pemo-window "$root/pemo-window.real"
    printf '#!/bin/sh\necho "$@" > "%s/window-args"\nexit 7\n' "$root" >libexec/pemo/pemo-window
    chmod 755 libexec/pemo/pemo-window
    status=0
    (cd "$root" && env -u WAYLAND_DISPLAY DISPLAY=:97 "$root/usr/bin/pemo" -file a.job 2>/dev/null) || status=$?
    [ "$status" = 7 ] && grep -qx -- "-file a.job" "$root/window-args" ||
        fail "the installed pemo does not start the installed window program (status $status)"
    mv "$root/pemo-window.real" libexec/pemo/pemo-window
    need share/applications/pemo.desktop
    need share/icons/hicolor/scalable/apps/pemo.svg
    need share/metainfo/org.example.pemo.metainfo.xml
    need share/mime/packages/pemo.xml
    desktop-file-validate share/applications/pemo.desktop || fail "desktop-file-validate"
    grep -q '^Exec=pemo %f$' share/applications/pemo.desktop || fail "the desktop entry does not pass %f"
    grep -q '^MimeType=application/x-pemo-job;$' share/applications/pemo.desktop ||
        fail "the desktop entry does not claim the job type"
    appstreamcli validate --no-net --pedantic share/metainfo/org.example.pemo.metainfo.xml >/dev/null ||
        fail "appstreamcli validate"
    # The job type compiles into a MIME database and maps *.job to it.
    mkdir -p "$root/mime/packages"
    cp share/mime/packages/pemo.xml "$root/mime/packages/"
    update-mime-database "$root/mime" >/dev/null 2>&1 || fail "update-mime-database"
    grep -q 'application/x-pemo-job:\*\.job' "$root/mime/globs" || fail "*.job is not mapped to the job type"
    # Beside another program's *.job type, the contents decide: a job in either encoding, with a
    # comment first or with no .job in its name, is Pemo's; the other program keeps its own.
    printf '<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info"><mime-type type="%s">%s</mime-type></mime-info>\n' \
        application/x-other-job '<glob pattern="*.job"/>' >"$root/mime/packages/other.xml"
    update-mime-database "$root/mime" >/dev/null 2>&1 || fail "update-mime-database with another *.job type"
    samples=$(mktemp -d -p "$root")
    { printf '\xff\xfe'; printf '<NAME>a<SRC>/s<DST>/d\r\n' | iconv -t UTF-16LE; } >"$samples/utf16.job"
    { printf '\xff\xfe'; printf '# nightly\r\n<NAME>a\r\n' | iconv -t UTF-16LE; } >"$samples/commented16.job"
    printf '\xef\xbb\xbf<NAME>a<SRC>/s\n' >"$samples/marked.job"
    printf '# nightly\n<NAME>a<SRC>/s\n' >"$samples/nightly"
    printf '[Task]\nCommand=true\n' >"$samples/other.job"
    type_of() { XDG_DATA_HOME="$root" XDG_DATA_DIRS="$root" gio info -a standard::content-type "$samples/$1" 2>/dev/null |
        sed -n 's/.*content-type: //p'; }
    for f in utf16.job:pemo commented16.job:pemo marked.job:pemo nightly:pemo other.job:other; do
        [ "$(type_of "${f%:*}")" = "application/x-${f#*:}-job" ] || fail "${f%:*} is taken for $(type_of "${f%:*}")"
    done
fi

[ "$failures" -eq 0 ] || exit 1
echo "install check passed"
