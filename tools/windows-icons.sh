#!/usr/bin/env bash
# Draws the Windows icons (data/icons/*.ico) from the SVG icons beside them, which stay the one
# source: the Windows toolkit build reads no SVG, so the program's resources carry these instead.
# Needs rsvg-convert (Debian librsvg2-bin) and ImageMagick's convert. Rerun after changing an SVG
# and commit the .ico files it writes.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for svg in *.svg; do
    name=${svg%.svg}
    frames=()
    # The sizes Windows asks for: small and large icons at 100-200 % scaling, and for the program's
    # own icon Explorer's extra-large view.
    sizes="16 20 24 32 40 48 64"
    [ "$name" = pemo ] && sizes="$sizes 256"
    for size in $sizes; do
        rsvg-convert -w "$size" -h "$size" "$svg" -o "$work/$name-$size.png"
        frames+=("$work/$name-$size.png")
    done
    convert "${frames[@]}" "$name.ico"
done
