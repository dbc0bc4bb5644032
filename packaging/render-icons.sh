#!/bin/bash
# Renders the desktop icons in packaging/icons/ from the window icon's SVG source.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick; the build installs the committed files.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
src="$here/resources/images/ico_title.svg"
out="$here/packaging/icons"
convert=${CONVERT:-convert}

for tool in rsvg-convert "$convert"; do
    command -v "$tool" >/dev/null || { echo "render-icons: $tool is missing" >&2; exit 1; }
done
mkdir -p "$out"

# Icon themes want square icons: the 201 x 188 motif is centred on a transparent square.
sed -e 's|width="201" height="188" viewBox="0 0 201 188"|width="201" height="201" viewBox="0 -6.5 201 201"|' \
    "$src" >"$out/controller.svg"
grep -q 'viewBox="0 -6.5 201 201"' "$out/controller.svg" || { echo "render-icons: unexpected SVG header" >&2; exit 1; }

for size in 16 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" "$out/controller.svg" -o "$out/tmp.png"
    "$convert" "$out/tmp.png" -strip -define png:color-type=6 -define png:bit-depth=8 "PNG32:$out/controller-$size.png"
done
rm -f "$out/tmp.png"
ls -l "$out"
