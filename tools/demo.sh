#!/usr/bin/env bash
# The demo: installs what is missing, builds Pemo (Release, its own build directory) and runs the
# bundled demo job unattended (-auto), mirroring demo/sample into build/demo-out/mirror. Run it a
# second time to see the no-change case: every file counts as Same.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/install-deps.sh

build="$root/build/demo"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPEMO_GUI=OFF -DPEMO_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target pemo >/dev/null

out="$root/build/demo-out"
mkdir -p "$out"
sample="$root/demo/sample"
job="$out/demo.job"
# The job names this clone's own paths, so it is generated here; once generated it is kept,
# since each run saves its last-run times into it.
names_this_clone() {
    grep -qaF "$sample" "$job" || iconv -f UTF-16 -t UTF-8 "$job" 2>/dev/null | grep -qF "$sample"
}
if [ ! -f "$job" ] || ! names_this_clone; then
    escape() { printf '%s' "$1" | sed 's/[&|\\]/\\&/g'; }
    sed -e "s|@SAMPLE@|$(escape "$sample")|g" -e "s|@MIRROR@|$(escape "$out/mirror")|g" \
        -e "s|@OUT@|$(escape "$out")|g" demo/demo.job.in >"$job"
fi

first_run=1
[ -d "$out/mirror" ] && first_run=0

# log.html and summary.log are written to the current directory.
status=0
(cd "$out" && "$build/pemo" -auto -file demo.job) || status=$?

summary="$(tail -n 1 "$out/summary.log" | tr -d '\r')"
IFS=, read -r _ _ _ _ _ _ _ _ changed same deleted skipped new saved errors bytes_new _ seconds count size <<<"$summary"

echo "Pemo demo: mirrored $sample"
echo "  mirror:      $out/mirror (and the single-file task: $out/single-file)"
echo "  run log:     $out/log.html"
echo "  summary log: $out/summary.log"
echo "  saved job:   $job"
echo "This run: New $new, Changed $changed, Same $same, Deleted $deleted, Skipped $skipped, Saved $saved," \
    "Errors $errors; $count source files, $size bytes, $bytes_new bytes copied as new, ${seconds}s; exit status $status"
if [ "$first_run" -eq 1 ]; then
    echo "Run 'bash tools/demo.sh' again: nothing has changed, so every file counts as Same."
else
    echo "Change something under demo/sample and run it again to see the mirror follow."
fi
exit "$status"
