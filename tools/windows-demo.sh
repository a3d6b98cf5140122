#!/usr/bin/env bash
# The demo job run unattended by pemo.exe under Wine, twice, beside the Linux program on the same
# sample: the mirrors must hold the sample without its *.tmp, and the run logs, summary lines and
# saved jobs must say the same once paths, dates and durations are set aside. The second run must
# find every file the same. Usage: windows-demo.sh PEMO_EXE [LINUX_PEMO]; Wine's environment
# (WINEPREFIX, WINEPATH, ...) comes from the caller.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
exe=$(realpath "$1")
linux=${2:-$root/build/test/pemo}
if [ ! -x "$linux" ]; then
    cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DPEMO_GUI=OFF -DPEMO_TESTS=OFF >/dev/null
    cmake --build build/demo --target pemo >/dev/null
    linux=$root/build/demo/pemo
fi

sample=$root/demo/sample
base=$root/build/windows/demo
rm -rf "$base"
mkdir -p "$base/windows" "$base/linux"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
escape() { printf '%s' "$1" | sed 's/[&|\\]/\\&/g'; }
make_job() { # sample mirror out separator
    sed -e "s|@SAMPLE@/|@SAMPLE@$4|g" -e "s|@SAMPLE@|$(escape "$1")|g" -e "s|@MIRROR@|$(escape "$2")|g" \
        -e "s|@OUT@/|@OUT@$4|g" -e "s|@OUT@|$(escape "$3")|g" demo/demo.job.in
}
make_job "$(windows_path "$sample")" "$(windows_path "$base/windows/mirror")" "$(windows_path "$base/windows")" \
    '\\' >"$base/windows/demo.job"
make_job "$sample" "$base/linux/mirror" "$base/linux" / >"$base/linux/demo.job"

failures=0
fail() {
    echo "windows-demo.sh: $*" >&2
    failures=$((failures + 1))
}
# A file of the run as UTF-8 text with paths and times made comparable between the two systems.
# A file's text as UTF-8: UTF-16 by its byte-order mark, else 8-bit text as the job was written.
decoded() {
    if [ "$(head -c 2 "$1" | od -An -tx1)" = " ff fe" ]; then iconv -f UTF-16 -t UTF-8 "$1"; else cat "$1"; fi
}
normalised() { # side file
    local dir=$base/$1 sample_text=$sample
    if [ "$1" = windows ]; then
        dir=$(windows_path "$dir")
        sample_text=$(windows_path "$sample")
    fi
    decoded "$base/$1/$2" | tr -d '\r' |
        sed -e "s|$(escape "$dir")|@OUT@|g" -e "s|$(escape "$sample_text")|@SAMPLE@|g" |
        sed -e '/@OUT@\|@SAMPLE@/s|\\|/|g' -e 's|at [0-9/]* [0-9:]*\( [AP]M\)\?|at @TIME@|' -e 's|Time: [0-9]*s|Time: @S@s|' \
            -e 's|<LASTRUN>[1-9][0-9]*|<LASTRUN>@SET@|g'
}
# The summary line without its date, time and duration.
counters() { tail -n 1 "$base/$1/summary.log" | tr -d '\r' | cut -d, -f1,2,9-17,19-; }
tree() { (cd "$1" && find . -type f ! -name '*.tmp' | LC_ALL=C sort | xargs -d '\n' sha256sum); }

for run in first second; do
    status=0
    (cd "$base/windows" && wine "$exe" -auto -file demo.job) || status=$?
    [ "$status" -eq 0 ] || fail "$run run: pemo.exe ended with status $status"
    (cd "$base/linux" && "$linux" -auto -file demo.job) || fail "$run run: the Linux program failed"
    [ "$(tree "$sample")" = "$(tree "$base/windows/mirror")" ] || fail "$run run: the mirror differs from the sample"
    cmp -s "$sample/README.txt" "$base/windows/single-file/README.txt" || fail "$run run: the single file differs"
    [ "$(head -c 2 "$base/windows/log.html" | od -An -tx1)" = " ff fe" ] || fail "$run run: log.html is not UTF-16 with a BOM"
    # A job is saved in the encoding it was read in, here 8-bit text on both systems.
    [ "$(head -c 2 "$base/windows/demo.job" | od -An -tx1)" = "$(head -c 2 "$base/linux/demo.job" | od -An -tx1)" ] ||
        fail "$run run: demo.job was not saved in the encoding the Linux program kept"
    for file in log.html demo.job; do
        diff -u <(normalised linux "$file") <(normalised windows "$file") >&2 ||
            fail "$run run: $file differs from the Linux program's (above: -Linux +Windows)"
    done
    [ "$(counters linux)" = "$(counters windows)" ] ||
        fail "$run run: summary.log counters differ: Linux '$(counters linux)', Windows '$(counters windows)'"
done
IFS=, read -r _ _ changed same deleted skipped new saved errors _ <<<"$(counters windows)"
[ "$new.$changed.$deleted.$errors" = "0.0.0.0" ] && [ "$same" -gt 0 ] ||
    fail "the second run did not find every file the same: New $new, Changed $changed, Deleted $deleted, Same $same, Errors $errors"
echo "windows-demo.sh: second run New $new, Changed $changed, Same $same, Deleted $deleted, Skipped $skipped," \
    "Saved $saved, Errors $errors; $failures failed checks"
[ "$failures" -eq 0 ]
