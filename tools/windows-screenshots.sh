#!/usr/bin/env bash
# Photographs the Windows window program under Wine on a private Xvfb server: the main window, the
# task editor, the options, the schedule, the About box and the main window after a run of a small
# job, as
# docs/windows-main.png, docs/windows-task.png, docs/windows-options.png, docs/windows-schedule.png,
# docs/windows-about.png and docs/windows-run.png.
# Usage: tools/windows-screenshots.sh [build directory, default build/windows] [output folder]
# Needs wine, Xvfb, xdotool and ImageMagick's import. Wine runs without a window manager, so each
# picture is one window's client area with its menu bar, as the Linux pictures are.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/windows}" && pwd)"
out="$(mkdir -p "${2:-$root/docs}" && cd "${2:-$root/docs}" && pwd)"
program="$build/pemo-window.exe"
[ -f "$program" ] || { echo "windows-screenshots.sh: no $program; build the window program first" >&2; exit 1; }
for tool in wine Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "windows-screenshots.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
export WINEPREFIX="$build/wine-screenshots" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A fresh prefix: no window size or settings of an earlier run.
rm -rf "$WINEPREFIX"
number=90
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
export DISPLAY=":$number"
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
finish() {
    [ -z "$app" ] || kill "$app" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
wineboot -i >/dev/null 2>&1
wineserver -w

# A small job: two tasks over a few files, the job in a folder of its own, where the window
# writes its logs.
mkdir -p "$work/photos/2024" "$work/documents/letters" "$work/job"
printf 'photo %s\n' 1 >"$work/photos/2024/beach.jpg"
printf 'photo %s\n' 2 >"$work/photos/2024/hills.jpg"
printf 'letter\n' >"$work/documents/letters/ann.txt"
printf 'list\n' >"$work/documents/shopping.txt"
printf 'scratch\n' >"$work/documents/scratch.tmp"
win() { winepath -w "$1" 2>/dev/null; }
task() { # name, source, destination, exclusions, safe mode, colour
    printf '<NAME>%s<SRC>%s<DST>%s<EXC>%s<ENA>1<SAFEMODE>%s<RECURSE>1<CHECKOPEN>0<LASTRUN>-1<FAKEIT>0<RENAME>0' "${@:1:5}"
    printf '<EXCLUDEHIDDEN>0<EXCLUDESYSTEM>0<EXCLUDEHIDDENDIRS>0<EXCLUDESYSTEMDIRS>0<ONLYIFNEWER>0<COLOUR>%s<ONEHOUR>0\r\n' \
        "$6"
}
{
    task Photos "$(win "$work/photos")" "$(win "$work/mirror")\\Photos" "" 1 13434879
    task Documents "$(win "$work/documents")" "$(win "$work/mirror")\\Documents" '*.tmp;\cache' 0 16769248
} >"$work/job/nightly.job"

shot() { # window, file
    sleep 1.5
    import -window "$1" "$out/$2"
    echo "$out/$2"
}
find_window() { # name
    timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -n 1
}
# Keys go to the focused window through the X server's test extension, as typed ones would.
keys() { # window, keys...
    xdotool windowfocus --sync "$1"
    shift
    xdotool key --delay 120 "$@"
}

(cd "$work/job" && exec wine "$program" "$(win "$work/job/nightly.job")") >"$work/window.log" 2>&1 &
app=$!
main=$(find_window "nightly - Pemo")
[ -n "$main" ] || { echo "windows-screenshots.sh: the main window did not appear" >&2; cat "$work/window.log" >&2; exit 1; }
shot "$main" windows-main.png

# A double click on the first card opens its editor.
xdotool mousemove --window "$main" 120 48 click --repeat 2 --delay 80 1
editor=$(find_window "Edit task")
[ -n "$editor" ] || { echo "windows-screenshots.sh: the task editor did not open" >&2; exit 1; }
shot "$editor" windows-task.png
keys "$editor" Escape
sleep 1

# Opens a dialog from the menu with the keys, photographs it once it has had wait seconds to
# fill in, and closes it.
dialog_shot() { # keys (one word each), title, file, what, wait
    # shellcheck disable=SC2086 # the keys are separate words
    keys "$main" $1
    local dialog
    dialog=$(find_window "^$2\$")
    [ -n "$dialog" ] || { echo "windows-screenshots.sh: $4 did not open" >&2; exit 1; }
    sleep "$5"
    shot "$dialog" "$3"
    keys "$dialog" Escape
    sleep 1
}
dialog_shot "alt+t o" Options windows-options.png "the options" 0
# The schedule asks Task Scheduler (Wine's schtasks) what it holds for this job.
dialog_shot "alt+t c" Schedule windows-schedule.png "the schedule" 6
dialog_shot "alt+h a" "About Pemo" windows-about.png "the About box" 0

# Run all, then wait for the run's line in summary.log.
keys "$main" alt+r a
# A message box the run raises (a job that cannot be saved, ...) is named and closed, so that the
# run can end.
for _ in $(seq 120); do
    [ -s "$work/job/summary.log" ] && break
    for box in $(xdotool search --onlyvisible --name "^Pemo$" 2>/dev/null); do
        echo "windows-screenshots.sh: closed a message box of the run" >&2
        keys "$box" Return 2>/dev/null || true
    done
    sleep 0.5
done
[ -s "$work/job/summary.log" ] || {
    import -window root "$out/windows-failed.png"
    echo "windows-screenshots.sh: the run did not end (the screen: $out/windows-failed.png)" >&2
    exit 1
}
shot "$main" windows-run.png
