#!/usr/bin/env bash
# Paints the picture wallpapers into Compositor/assets/Wallpapers (they are committed; run this
# only to change them). Needs the packages of scripts/install-deps.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O2 -Wall -Wextra -o "$work/paint_wallpapers" \
  "$root/scripts/wallpaper-pictures/paint_wallpapers.cpp" \
  $(pkg-config --cflags --libs cairo) -ljpeg
"$work/paint_wallpapers" "$root/Compositor/assets/Wallpapers"
