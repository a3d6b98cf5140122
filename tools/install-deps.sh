#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test Pemo. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format clang-tidy
    clang libclang-rt-dev
    libgtest-dev libgmock-dev
    libglib2.0-dev
    libwxgtk3.2-dev libxtst-dev
    xvfb xauth xdotool imagemagick
    rsync
    man-db bsdextrautils zsh desktop-file-utils appstream shared-mime-info libglib2.0-bin lintian
    gnome-themes-extra
    dpkg-dev file
    exfat-fuse exfatprogs ntfs-3g fusefat dosfstools
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
