#!/usr/bin/env bash
# Regenerates the button images, the busy animation and the icons from the SVG sources here.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick's convert. Run from anywhere:
#   resources/art/render.sh
set -euo pipefail

art=$(cd "$(dirname "$0")" && pwd)
res=$(dirname "$art")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# render SVG WIDTH HEIGHT OUT.png [FROM-COLOUR TO-COLOUR]
# The darker twin of a button is the same drawing with its one colour replaced.
render() {
    local src=$1 w=$2 h=$3 out=$4
    if [ $# -ge 6 ]; then
        sed "s/$5/$6/g" "$src" >"$tmp/recoloured.svg"
        src=$tmp/recoloured.svg
    fi
    rsvg-convert --width "$w" --height "$h" --format png "$src" >"$tmp/raw.png"
    # No timestamps or text chunks, so a re-run gives the same bytes.
    convert "$tmp/raw.png" -strip -define png:exclude-chunks=date,time "PNG32:$out"
}

render "$art/reboot.svg" 40 35 "$res/reboot.png"
render "$art/reboot.svg" 40 35 "$res/reboot_1.png" '#e0282b' '#9c1518'
render "$art/send.svg" 37 35 "$res/send.png"
render "$art/send.svg" 37 35 "$res/send_d.png" '#f28a1a' '#5d7390'
render "$art/mo.svg" 35 35 "$res/mo.png"
render "$art/mo.svg" 35 35 "$res/mo_.png" '#5ec6f0' '#1d6fb5'

# Busy animation: eight frames, each turned a further 45 degrees, 100 ms apart, looping.
frames=()
for i in 0 1 2 3 4 5 6 7; do
    sed "s/ANGLE/-$((i * 45))/" "$art/loading.svg" >"$tmp/loading-$i.svg"
    rsvg-convert --width 39 --height 39 --format png "$tmp/loading-$i.svg" >"$tmp/loading-$i.png"
    frames+=("$tmp/loading-$i.png")
done
convert -delay 10 -loop 0 -dispose Background "${frames[@]}" -strip "$res/loading.gif"

# Icons: one drawing at every size.
sizes=(16 24 32 48 64 72 96 128 256)
icons=()
for s in "${sizes[@]}"; do
    rsvg-convert --width "$s" --height "$s" --format png "$art/corvane-tool.svg" >"$tmp/icon-$s.png"
    icons+=("$tmp/icon-$s.png")
done
# Windows icon group (nine sizes, 32-bit with alpha) for resources/app.rc.
convert "${icons[@]}" -strip "$res/app.ico"
# The built-in 128 x 128 picture is a plain 24-bit bitmap; its corners go on white.
convert "$tmp/icon-128.png" -background white -alpha remove -alpha off -type TrueColor \
    "BMP3:$res/toolico.ico"
# Desktop icons for the freedesktop hicolor theme (Linux install).
mkdir -p "$res/icons"
for s in 16 24 32 48 64 128 256; do
    convert "$tmp/icon-$s.png" -strip -define png:exclude-chunks=date,time \
        "PNG32:$res/icons/corvane-tool-$s.png"
done
cp "$art/corvane-tool.svg" "$res/icons/corvane-tool.svg"
echo "render: images written to $res"
