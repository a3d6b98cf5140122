#!/usr/bin/env bash
# Installs the Windows installer silently under Wine in a fresh prefix, checks the files, the
# Start-menu entry and the .job type, runs a small job with the installed pemo.exe -auto, then
# uninstalls silently and checks that nothing the install made is left. Another program's
# earlier claim on .job must come back. The portable zip beside the installer (if there) must run
# from wherever it is unpacked. Usage: tools/windows-install-test.sh <setup.exe> [prefix]
set -euo pipefail
setup="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
export WINEPREFIX="${2:-$(dirname "$setup")/wine-install-test}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
passed=0
failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then
        echo "ok: $what"
        passed=$((passed + 1))
    else
        echo "FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}
no_key() { ! wine reg query "$1" >/dev/null 2>&1; }
wine_run() { wine "$@"; local status=$?; wineserver -w; return $status; }
reg_value() { wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
wineboot -i >/dev/null 2>&1
wineserver -w
wine reg add 'HKCU\Software\Classes\.job' /ve /d OtherProgram.Job /f >/dev/null 2>&1

wine_run "$setup" /S
user=$(wine cmd /c echo %USERNAME% 2>/dev/null | tr -d '\r')
home="$WINEPREFIX/drive_c/users/$user"
place="$home/AppData/Local/Programs/Pemo"
link="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Pemo.lnk"
for file in pemo.exe pemo-window.exe README.txt uninstall.exe; do
    check "installed $file" test -f "$place/$file"
done
check "Start-menu entry" test -f "$link"
check ".job opens as Pemo.Job" test "$(reg_value 'HKCU\Software\Classes\.job')" = Pemo.Job
command=$(reg_value 'HKCU\Software\Classes\Pemo.Job\shell\open\command')
check ".job opens with pemo-window.exe" test "$command" = '"C:\users\'"$user"'\AppData\Local\Programs\Pemo\pemo-window.exe" "%1"'

# The installed command-line program mirrors a small tree.
mkdir -p "$work/source/sub" "$work/run"
printf 'one\n' >"$work/source/a.txt"
printf 'two\n' >"$work/source/sub/b.txt"
printf '<NAME>Small<SRC>%s<DST>%s<EXC><ENA>1<SAFEMODE>0<RECURSE>1<CHECKOPEN>0<LASTRUN>-1<FAKEIT>0<RENAME>0<EXCLUDEHIDDEN>0<EXCLUDESYSTEM>0<EXCLUDEHIDDENDIRS>0<EXCLUDESYSTEMDIRS>0<ONLYIFNEWER>0<COLOUR>16777215<ONEHOUR>0\r\n' \
    "$(winepath -w "$work/source")" "$(winepath -w "$work/mirror")" >"$work/run/small.job"
status=0
(cd "$work/run" && wine "$place/pemo.exe" -auto -file small.job >"$work/out.txt" 2>&1) || status=$?
wineserver -w
check "pemo.exe -auto exits 0 (status $status)" test "$status" -eq 0
check "the mirror holds the tree" diff -r "$work/source" "$work/mirror"
check "summary.log has the run's line" test -s "$work/run/summary.log"

wine_run "$place/uninstall.exe" /S
# The uninstaller runs a copy of itself from the temporary folder; wait for it too.
sleep 2
wineserver -w
check "program folder removed" test ! -e "$place"
check "Start-menu entry removed" test ! -e "$link"
check "Pemo.Job removed" no_key 'HKCU\Software\Classes\Pemo.Job'
check "uninstall entry removed" no_key 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pemo'
check ".job given back" test "$(reg_value 'HKCU\Software\Classes\.job')" = OtherProgram.Job
check "no OpenWithProgids left" no_key 'HKCU\Software\Classes\.job\OpenWithProgids'
portable="${setup%-setup.exe}-portable.zip"
if [ -f "$portable" ]; then
    mkdir -p "$work/portable"
    (cd "$work/portable" && unzip -q "$portable")
    check "the portable pemo.exe runs where it is unpacked" wine "$work/portable/pemo.exe" --version
fi
echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
