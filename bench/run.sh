#!/usr/bin/env bash
# Times the real program (pemo -auto on a one-task job) against rsync -a --delete on the same
# generated tree in the same run, with the floors that bound each case: cp -a for the first
# mirror, find over both trees for a rescan. Cases: first mirror, warm and cold no-change rescan,
# rescan after 1% of the files changed (with versions kept, too, against the same run without),
# the peak memory of a no-change rescan of a flat directory
# of 100,000 files, and 100,000 against 1,000,000 small files to show how time and memory grow.
# Usage: bench/run.sh [work-directory]   (default: a fresh directory under /tmp, removed after)
# PEMO_BENCH_QUICK=1 leaves out the million-file tree; PEMO_BENCH_GUI=OFF benchmarks a program
# built without the window.
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$(pwd)
build=${PEMO_BENCH_BUILD:-$root_dir/build/bench}
gui=${PEMO_BENCH_GUI:-ON}

command -v rsync >/dev/null || { echo "rsync is missing: run tools/install-deps.sh" >&2; exit 1; }
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPEMO_GUI="$gui" -DPEMO_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target pemo pemo_bench >/dev/null
pemo="$build/pemo"
bench="$build/bench/pemo_bench"

if [ $# -ge 1 ]; then
    work=$(realpath -m "$1")
    mkdir -p "$work"
    keep=1
else
    work=$(mktemp -d /tmp/pemo-bench-XXXXXX)
    keep=0
fi
cleanup() { [ "$keep" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT
# The program's settings and logs stay inside the work directory.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME" "$work/logs"

# Dropping the page cache needs root and a writable /proc/sys; say so and skip where it is not.
can_drop=0
if sync && (echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
    can_drop=1
fi
drop() { [ "$can_drop" = 1 ] && echo 3 >/proc/sys/vm/drop_caches; return 0; }

seconds=0
rss=0

# A one-task job mirroring $1 into $2, written as 8-bit text the program reads; a fourth
# argument keeps versions of what the run replaces or deletes for that many days.
job() {
    local file="$work/logs/$3.job" versions=""
    [ -n "${4:-}" ] && versions="<VERSIONS>$4"
    printf '<NAME>bench<SRC>%s<DST>%s<ENA>1<RECURSE>1%s\n' "$1" "$2" "$versions" >"$file"
    echo "$file"
}
# Runs one side in the logs directory and keeps its figures in this shell.
side() {
    local out
    if ! out=$(cd "$work/logs" && "$bench" run -- "$@"); then
        echo "FAILED: $* ($out)" >&2
        exit 1
    fi
    seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
    rss=$(sed -n 's/.*maxrss_kib=\([0-9]*\).*/\1/p' <<<"$out")
}
ratio() { echo "$1 / $2" | bc -l; }
mib() { echo "$1 / 1024" | bc -l; }

# One case: Pemo, then rsync, each after the other's dirty pages are written back (and, cold,
# with the page cache dropped); the flush of rsync's writes is timed apart, because Pemo flushes
# its destination's file system before it reports a task done and rsync does not.
declare -A t
run_case() { # name cold(0|1) source ours-destination rsync-destination
    local name=$1 cold=$2 src=$3 dst=$4 rdst=$5 f0 f1
    sync
    [ "$cold" = 1 ] && drop
    side "$pemo" -auto -file "$(job "$src" "$dst" "$name")"
    t[$name.ours]=$seconds
    t[$name.ours.rss]=$rss
    sync
    [ "$cold" = 1 ] && drop
    side rsync -a --delete "$src/" "$rdst/"
    t[$name.rsync]=$seconds
    t[$name.rsync.rss]=$rss
    f0=$(date +%s.%N)
    sync
    f1=$(date +%s.%N)
    t[$name.flush]=$(echo "$f1 - $f0" | bc -l)
}
floor_find() { # name cold(0|1) trees...
    local name=$1 cold=$2
    shift 2
    sync
    [ "$cold" = 1 ] && drop
    side find "$@" -printf ''
    t[$name.floor]=$seconds
}
report() { # name floor-label
    local name=$1 label=${2:-}
    printf '%-26s pemo %8.3f s   rsync %8.3f s (+%.3f s flush)   ratio %5.2f (%5.2f with the flush)' "$name" \
        "${t[$name.ours]}" "${t[$name.rsync]}" "${t[$name.flush]}" "$(ratio "${t[$name.ours]}" "${t[$name.rsync]}")" \
        "$(ratio "${t[$name.ours]}" "$(echo "${t[$name.rsync]} + ${t[$name.flush]}" | bc -l)")"
    if [ -n "$label" ]; then
        printf '   %s %.3f s, pemo / floor %5.2f' "$label" "${t[$name.floor]}" \
            "$(ratio "${t[$name.ours]}" "${t[$name.floor]}")"
    fi
    printf '\n'
}

echo "work directory: $work"
echo "program: $pemo (window build: $gui)"
[ "$can_drop" = 1 ] || echo "note: the page cache cannot be dropped here; the cold-cache case is skipped"
"$bench" generate "$work/src"
sync

# The first mirror is timed twice from empty destinations and the faster time of each side kept:
# on a shared machine a single run of it varies by half.
best() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
bo="" br="" bf="" bc_=""
for attempt in 1 2; do
    rm -rf "$work/ours" "$work/rsync" "$work/cp"
    run_case "first mirror #$attempt" 0 "$work/src" "$work/ours" "$work/rsync"
    sync
    side cp -a "$work/src" "$work/cp"
    t[first mirror #$attempt.floor]=$seconds
    report "first mirror #$attempt" "cp -a"
    bo=$(best "$bo" "${t[first mirror #$attempt.ours]}")
    br=$(best "$br" "${t[first mirror #$attempt.rsync]}")
    bf=$(best "$bf" "${t[first mirror #$attempt.flush]}")
    bc_=$(best "$bc_" "${t[first mirror #$attempt.floor]}")
done
t[first mirror.ours]=$bo
t[first mirror.rsync]=$br
t[first mirror.flush]=$bf
t[first mirror.floor]=$bc_
rm -rf "$work/cp"
report "first mirror" "cp -a"

run_case "no-change rescan" 0 "$work/src" "$work/ours" "$work/rsync"
floor_find "no-change rescan" 0 "$work/src" "$work/ours"
report "no-change rescan" "find both"

if [ "$can_drop" = 1 ]; then
    run_case "cold no-change rescan" 1 "$work/src" "$work/ours" "$work/rsync"
    floor_find "cold no-change rescan" 1 "$work/src" "$work/ours"
    report "cold no-change rescan" "find both"
fi

# Two more mirrors of ours for the same change, one keeping versions: what that adds is a rename
# of each replaced file into the versions area and the run folder's manifest. The run without
# comes right after the one with, so that neither finds the source's pages warmer.
cp -a "$work/ours" "$work/versions"
cp -a "$work/ours" "$work/plain"
"$bench" change "$work/src" >/dev/null
run_case "rescan after 1% change" 0 "$work/src" "$work/ours" "$work/rsync"
report "rescan after 1% change"
sync
side "$pemo" -auto -file "$(job "$work/src" "$work/versions" "versions" 30)"
with=$seconds
sync
side "$pemo" -auto -file "$(job "$work/src" "$work/plain" "plain")"
kept=$(find "$work/versions/.pemo-versions" -type f ! -name .pemo-manifest | wc -l)
printf '%-26s pemo %8.3f s with, %.3f s without (%d files kept)   with / without %5.2f\n' \
    "... with versions on" "$with" "$seconds" "$kept" "$(ratio "$with" "$seconds")"

# Every mirror must match the source.
for side_dir in ours rsync versions plain; do
    if ! diff -r -x .pemo-versions "$work/src" "$work/$side_dir" >/dev/null; then
        echo "MISMATCH: the $side_dir mirror differs from the source" >&2
        exit 1
    fi
done

run_case "flat 100,000 rescan" 0 "$work/src/flat" "$work/ours/flat" "$work/rsync/flat"
report "flat 100,000 rescan"
printf 'peak RSS, flat 100,000-file rescan: pemo %.1f MiB, rsync largest process %.1f MiB, ratio %.2f\n' \
    "$(mib "${t[flat 100,000 rescan.ours.rss]}")" "$(mib "${t[flat 100,000 rescan.rsync.rss]}")" \
    "$(ratio "${t[flat 100,000 rescan.ours.rss]}" "${t[flat 100,000 rescan.rsync.rss]}")"

if [ "${PEMO_BENCH_QUICK:-0}" != 1 ]; then
    rm -rf "$work/src" "$work/ours" "$work/rsync" "$work/versions" "$work/plain"
    for n in 100000 1000000; do
        "$bench" small "$work/small$n" "$n" >/dev/null
        sync
        side "$pemo" -auto -file "$(job "$work/small$n" "$work/mirror$n" "small$n")"
        t[small$n.first]=$seconds
        t[small$n.first.rss]=$rss
        sync
        side "$pemo" -auto -file "$(job "$work/small$n" "$work/mirror$n" "small$n")"
        t[small$n.rescan]=$seconds
        t[small$n.rescan.rss]=$rss
        printf '%9d small files      first mirror %8.3f s (%.1f MiB)   no-change rescan %8.3f s (%.1f MiB)\n' "$n" \
            "${t[small$n.first]}" "$(mib "${t[small$n.first.rss]}")" "${t[small$n.rescan]}" \
            "$(mib "${t[small$n.rescan.rss]}")"
        rm -rf "$work/small$n" "$work/mirror$n"
    done
    printf 'million / (10 x 100,000): first mirror %.2f, rescan %.2f (target <= 1.2)\n' \
        "$(echo "${t[small1000000.first]} / (10 * ${t[small100000.first]})" | bc -l)" \
        "$(echo "${t[small1000000.rescan]} / (10 * ${t[small100000.rescan]})" | bc -l)"
fi
