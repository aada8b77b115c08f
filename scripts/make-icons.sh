#!/usr/bin/env bash
# Renders data/tovrin-unpacker.svg into the PNG sizes the desktop's hicolor
# theme looks up, data/icons/SIZE/tovrin-unpacker.png. The PNGs are committed,
# so building needs no SVG renderer; run this after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
if ! command -v rsvg-convert > /dev/null; then
  echo "make-icons: rsvg-convert is missing; install it with: apt-get install --no-install-recommends librsvg2-bin" >&2
  exit 1
fi
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$top/data/icons/$size"
  rsvg-convert -w "$size" -h "$size" "$top/data/tovrin-unpacker.svg" -o "$top/data/icons/$size/tovrin-unpacker.png"
done
