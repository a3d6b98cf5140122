#!/usr/bin/env bash
# Times the engine against rsync -a --delete on the same generated tree in the same run:
# first mirror, a rescan with no change, and a rescan after 1% of the files changed; then the
# peak memory of a no-change rescan of the 100,000-file flat directory.
# Usage: bench/run.sh [work-directory]   (default: a fresh directory under /tmp, removed after)
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$(pwd)
build=${PEMO_BENCH_BUILD:-$root_dir/build/bench}

command -v rsync >/dev/null || { echo "rsync is missing: run tools/install-deps.sh" >&2; exit 1; }
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPEMO_GUI=OFF -DPEMO_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target pemo_bench >/dev/null
bench="$build/bench/pemo_bench"

if [ $# -ge 1 ]; then
    work=$1
    mkdir -p "$work"
    keep=1
else
    work=$(mktemp -d /tmp/pemo-bench-XXXXXX)
    keep=0
fi
cleanup() { [ "$keep" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT

now() { date +%s.%N; }
ours() { "$bench" mirror "$work/src" "$work/ours" "$work/log.html"; }
theirs() { rsync -a --delete "$work/src/" "$work/rsync/"; }

declare -A times
phase() {
    local name=$1
    local t0 t1 t1b t2
    local out
    # Each side starts with no dirty pages of the other's (or the generator's) to write back.
    sync
    t0=$(now)
    out=$(ours)
    t1=$(now)
    sync
    t1b=$(now)
    theirs
    t2=$(now)
    times[$name.ours]=$(echo "$t1 - $t0" | bc -l)
    times[$name.rsync]=$(echo "$t2 - $t1b" | bc -l)
    printf '%-22s ours %8.3f s   rsync %8.3f s   ratio %5.2f   (%s)\n' "$name" "${times[$name.ours]}" \
        "${times[$name.rsync]}" "$(echo "${times[$name.ours]} / ${times[$name.rsync]}" | bc -l)" "$out"
}

echo "work directory: $work"
"$bench" generate "$work/src"
sync
# The first mirror is timed twice from empty destinations and the faster time of each side kept:
# on a shared machine a single run of it varies by half.
best_ours=""
best_rsync=""
for attempt in 1 2; do
    rm -rf "$work/ours" "$work/rsync"
    phase "initial mirror #$attempt"
    o=${times["initial mirror #$attempt.ours"]}
    r=${times["initial mirror #$attempt.rsync"]}
    if [ -z "$best_ours" ] || [ "$(echo "$o < $best_ours" | bc -l)" = 1 ]; then best_ours=$o; fi
    if [ -z "$best_rsync" ] || [ "$(echo "$r < $best_rsync" | bc -l)" = 1 ]; then best_rsync=$r; fi
done
printf '%-22s ours %8.3f s   rsync %8.3f s   ratio %5.2f   (best of two)\n' "initial mirror" "$best_ours" \
    "$best_rsync" "$(echo "$best_ours / $best_rsync" | bc -l)"
phase "no-change rescan"
"$bench" change "$work/src"
phase "rescan after 1% change"

# Both mirrors must match the source.
if ! diff -r "$work/src" "$work/ours" >/dev/null; then
    echo "MISMATCH: the engine's mirror differs from the source" >&2
    exit 1
fi

flat=$("$bench" mirror "$work/src/flat" "$work/ours/flat" "$work/log-flat.html")
rss=$(echo "$flat" | sed -n 's/.*maxrss_kib=\([0-9]*\).*/\1/p')
printf 'flat no-change rescan   %s\n' "$flat"
printf 'peak RSS of the flat rescan: %.1f MiB (target < 64 MiB)\n' "$(echo "$rss / 1024" | bc -l)"
