#!/bin/bash
# Renders the committed images in resources/ from their SVG sources in resources/images/.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick; the build itself uses only the rendered files.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
src="$here/resources/images"
out="$here/resources"
convert=${CONVERT:-convert}

for tool in rsvg-convert "$convert" identify; do
    command -v "$tool" >/dev/null || { echo "render-images: $tool is missing" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The title icon is stored without an alpha channel, so it is flattened onto white.
rsvg-convert -w 201 -h 188 "$src/ico_title.svg" -o "$tmp/ico_title.png"
"$convert" "$tmp/ico_title.png" -background white -alpha remove -alpha off \
    -strip -define png:color-type=2 -define png:bit-depth=8 "PNG24:$out/ICO_TITLE.png"

# The USB symbols keep their transparent background.
for name in active inactive; do
    upper=${name^^}
    rsvg-convert -w 48 -h 23 "$src/usb_$name.svg" -o "$tmp/usb_$name.png"
    "$convert" "$tmp/usb_$name.png" -strip -define png:color-type=6 -define png:bit-depth=8 \
        "PNG32:$out/USB_$upper.png"
done

# The first program's window icon file: the title motif centred on a white square.
rsvg-convert -w 402 -h 376 "$src/ico_title.svg" -o "$tmp/logo_big.png"
"$convert" "$tmp/logo_big.png" -background white -alpha remove -alpha off \
    -gravity center -extent 402x402 -resize 128x128 -strip -quality 92 \
    -sampling-factor 4:4:4 "$out/logo.jpg"

check() {
    local file=$1 want=$2 got
    got=$(identify -format '%m %wx%h %[channels]' "$file")
    if [ "$got" != "$want" ]; then
        echo "render-images: $file is '$got', expected '$want'" >&2
        exit 1
    fi
    echo "$file: $got"
}
check "$out/ICO_TITLE.png" "PNG 201x188 srgb"
check "$out/USB_ACTIVE.png" "PNG 48x23 srgba"
check "$out/USB_INACTIVE.png" "PNG 48x23 srgba"
check "$out/logo.jpg" "JPEG 128x128 srgb"
