#!/bin/sh
# Regenerates the ETC1 textures of the three demos from pictures drawn here with ImageMagick.
# Every mip level is resized from the full picture and encoded to a PKM file with etc1tool.
# The results are committed, so a build needs neither tool.
# Usage: tools/make-assets.sh        (needs the packages in tools/packages-assets.txt)
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
samples="$root/samples/opengles_20"
font=DejaVu-Sans-Bold
for tool in convert etc1tool; do
    command -v $tool >/dev/null || { echo "make-assets: $tool missing; run tools/install-deps.sh tools/packages-assets.txt" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# encode <png> <pkm> <width> <height>: one level to PKM. etc1tool reads past the picture when a side
# is below one 4x4 block, so such a level is enlarged to 4x4 by pixel replication, encoded, and its
# header given back the true size (bytes 12-15: original width and height, big-endian).
encode() {
    if [ "$3" -ge 4 ] && [ "$4" -ge 4 ]; then
        etc1tool "$1" --encode -o "$2" >/dev/null
        return
    fi
    convert "$1" -filter point -resize '4x4!' PNG24:"$work/pad.png"
    etc1tool "$work/pad.png" --encode -o "$2" >/dev/null
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 >> 8)) $(($3 & 255)) $(($4 >> 8)) $(($4 & 255)))" |
        dd of="$2" bs=1 seek=12 conv=notrunc status=none
}

# mipchain <full.png> <size> <out-prefix> <out-suffix> [per-level hook]: levels size x size down to 1x1.
mipchain() {
    src=$1 size=$2 prefix=$3 suffix=$4 hook=$5
    level=0 s=$size
    while [ "$s" -ge 1 ]; do
        convert "$src" -filter Box -resize "${s}x${s}!" PNG24:"$work/level.png"
        [ -n "$hook" ] && $hook "$work/level.png" "$level" "$s"
        encode "$work/level.png" "$prefix$level$suffix" "$s" "$s"
        level=$((level + 1)) s=$((s / 2))
    done
}

# lanterna: a grid picture; each level gets its own tint and, where it is large enough, its number,
# so every quad tells which level the GPU sampled for it.
tints="#ff3030 #ff9020 #f0f020 #30e040 #20e0e0 #ffffff #e040ff #ff80b0 #a0a0a0"
lanterna_level() {
    tint=$(echo $tints | cut -d' ' -f$(($2 + 1)))
    convert "$1" -fill "$tint" -colorize 65% PNG24:"$1"
    if [ "$3" -ge 8 ]; then
        convert "$1" -font $font -pointsize $(($3 * 3 / 4)) -fill black -stroke white \
            -strokewidth $(($3 / 48 + 1)) -gravity center -annotate +0+0 "$2" PNG24:"$1"
    fi
}
lanterna() {
    out="$samples/lanterna/assets"
    rm -f "$out"/good_mip_*.pkm
    convert -size 256x256 pattern:checkerboard -fill none -stroke gray20 -strokewidth 8 \
        -draw "rectangle 4,4 251,251" PNG24:"$work/lanterna.png"
    mipchain "$work/lanterna.png" 256 "$out/good_mip_" .pkm lanterna_level
}

# A hue wheel: the colour picture of veilglass and of the atlas.
wheel() {
    convert -size "$1x$2" xc: -fx 'atan2(j-h/2,i-w/2)/(2*pi)+0.5' -size "$1x$2" xc:white xc:gray50 \
        -set colorspace HSL -combine -colorspace sRGB PNG24:"$3"
}

# veilglass: the colour picture and, in files of its own, a soft-edged ring as alpha: opaque outside,
# half transparent in its middle band, clear in the hole and around it.
veilglass() {
    out="$samples/veilglass/assets"
    rm -f "$out"/good_compressed_mip_*.pkm
    wheel 256 256 "$work/veil.png"
    convert -size 256x256 xc:black -fill white -draw "circle 128,128 128,14" \
        -fill gray50 -draw "circle 128,128 128,52" -fill black -draw "circle 128,128 128,82" \
        -blur 0x6 PNG24:"$work/veil_alpha.png"
    mipchain "$work/veil.png" 256 "$out/good_compressed_mip_" .pkm
    mipchain "$work/veil_alpha.png" 256 "$out/good_compressed_mip_" _alpha.pkm
}

# tilemosaic: one 256x256 atlas. Top half (t 0 to 0.5): the colour picture, 256x128. Bottom half
# (t 0.5 to 1): its alpha mask, a soft-edged star, opaque with a half-transparent core, clear
# around it. Both halves are 2:1 like the quads, so the picture is shown undistorted.
tilemosaic() {
    out="$samples/tilemosaic/assets"
    rm -f "$out"/good_atlas_mip_*.pkm
    wheel 256 128 "$work/atlas_colour.png"
    convert -size 256x128 xc:black -fill white \
        -draw "polygon 128,8 150,48 232,64 150,80 128,120 106,80 24,64 106,48" \
        -fill gray50 -draw "ellipse 128,64 36,18 0,360" -blur 0x3 PNG24:"$work/atlas_alpha.png"
    convert "$work/atlas_colour.png" "$work/atlas_alpha.png" -append PNG24:"$work/atlas.png"
    mipchain "$work/atlas.png" 256 "$out/good_atlas_mip_" .pkm
}

mkdir -p "$samples/lanterna/assets" "$samples/veilglass/assets" "$samples/tilemosaic/assets"
lanterna
veilglass
tilemosaic
echo "make-assets: textures written under $samples/*/assets"
