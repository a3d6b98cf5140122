#!/usr/bin/env bash
# Fails when a layer's library calls into a layer above it: a symbol the library uses but neither
# it nor a layer below defines, while a higher layer's library does. Static libraries alone let
# such a call link whenever the program happens to pull the higher object in for another reason.
# Usage: check_layer_links.sh NM LAYER=ARCHIVE ...   (lowest layer first)
set -euo pipefail
nm=$1
shift
work=$(mktemp -d /tmp/pemo-links-XXXXXX)
trap 'rm -rf "$work"' EXIT

names=()
for pair in "$@"; do
    i=${#names[@]}
    names+=("${pair%%=*}")
    archive=${pair#*=}
    [ -f "$archive" ] || { echo "no library $archive" >&2; exit 1; }
    # Every definition (weak ones too: an inline function a lower layer defines may be used), the
    # strong ones that only their own layer may offer, and what the layer uses from elsewhere.
    "$nm" -g --defined-only "$archive" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u >"$work/all$i"
    "$nm" -g --defined-only "$archive" 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TDBR]$/ { print $3 }' |
        sort -u >"$work/strong$i"
    "$nm" -g -u "$archive" 2>/dev/null | awk '$1 == "U" { print $2 }' | sort -u >"$work/used$i"
done

offences=0
: >"$work/below"
for ((i = 0; i < ${#names[@]}; i++)); do
    sort -u "$work/below" "$work/all$i" -o "$work/below"
    comm -23 "$work/used$i" "$work/below" >"$work/missing"
    for ((j = i + 1; j < ${#names[@]}; j++)); do
        comm -12 "$work/missing" "$work/strong$j" >"$work/upward"
        while read -r symbol; do
            echo "${names[$i]}/ uses $(c++filt "$symbol"), defined in ${names[$j]}/ above it" >&2
            offences=$((offences + 1))
        done <"$work/upward"
    done
done
[ "$offences" -eq 0 ] || exit 1
echo "every layer's library uses only itself and the layers below"
