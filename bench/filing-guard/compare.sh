#!/usr/bin/env bash
# The filing guard's figures (not run by CI):
#  - quality: tiles cut from the photographs of a Debian wallpaper package (mate-backgrounds, installed here
#    when missing), each filed as a JPEG and varied by ImageMagick; the share of variants our hash finds
#    per kind at the product's limits, beside a plain 64-bit average hash and difference hash at their best
#    thresholds, and the closest pair of different tiles (every pair is compared);
#  - speed: the drop's checks at 100,000 prints and the cost of printing a 12-MP photo.
# TEVRAK_BENCH_TILE=WxH sets the tile size (default 200x150), TEVRAK_BENCH_KEEP=1 keeps the work folder.
set -euo pipefail
build=${TEVRAK_BUILD_DIR:-$(cd "$(dirname "$0")/../.." && pwd)/build}
bench=$build/bench/filing-guard/tevrak_filing_guard_bench
tile=${TEVRAK_BENCH_TILE:-200x150}
work=$(mktemp -d)
if [ "${TEVRAK_BENCH_KEEP:-}" != 1 ]; then trap 'rm -rf "$work"' EXIT; else echo "work folder: $work"; fi

wallpapers=/usr/share/backgrounds/mate
if [ ! -d "$wallpapers/nature" ]; then
  apt-get install -y mate-backgrounds >/dev/null
fi
# The photographs (the drawn wallpapers and the smaller copies of one photo are left out).
sources=("$wallpapers"/nature/*.jpg "$wallpapers/abstract/Elephants_5640x3172.jpg" "$wallpapers/desktop/GreenTraditional.jpg")

mkdir -p "$work/cut" "$work/tiles"
n=0
for source in "${sources[@]}"; do
  base=$(basename "$source" .jpg)
  convert "$source" -crop "$tile" +repage "$work/cut/$base-%03d.png"
done
# Whole tiles only (the right and bottom edges leave smaller pieces).
width=${tile%x*}
height=${tile#*x}
for piece in "$work"/cut/*.png; do
  if [ "$(identify -format '%wx%h' "$piece")" = "${width}x${height}" ]; then
    n=$((n + 1))
    id=$(printf 't%04d' "$n")
    convert "$piece" -quality 92 "$work/tiles/$id.jpg"
  fi
  rm "$piece"
done
echo "$n tiles of $tile from ${#sources[@]} photographs"

# The variants of each filed tile, one ImageMagick run per tile.
make_variants() {
  local t=$1 stem=${1%.jpg}
  convert "$t" -strip \
    \( +clone -quality 50 -write "$stem.q50.jpg" +delete \) \
    \( +clone -quality 75 -write "$stem.q75.jpg" +delete \) \
    \( +clone -quality 95 -write "$stem.q95.jpg" +delete \) \
    -quality 90 \
    \( +clone -resize 50% -write "$stem.half.jpg" +delete \) \
    \( +clone -resize 25% -write "$stem.quarter.jpg" +delete \) \
    \( +clone -modulate 120 -write "$stem.bright+20.jpg" +delete \) \
    \( +clone -modulate 80 -write "$stem.bright-20.jpg" +delete \) \
    \( +clone -gamma 0.8 -write "$stem.gamma0.8.jpg" +delete \) \
    \( +clone -gamma 1.25 -write "$stem.gamma1.25.jpg" +delete \) \
    \( +clone -rotate 90 -write "$stem.rot90.jpg" +delete \) \
    \( +clone -rotate 180 -write "$stem.rot180.jpg" +delete \) \
    \( +clone -rotate 270 -write "$stem.rot270.jpg" +delete \) \
    \( +clone -flop -write "$stem.mirror.jpg" +delete \) \
    \( +clone -flop -rotate 90 -write "$stem.mirror-rot90.jpg" +delete \) \
    \( +clone -shave 2%x2% +repage -write "$stem.crop2.jpg" +delete \) \
    \( +clone -shave 3%x3% +repage -write "$stem.crop3.jpg" +delete \) \
    null:
}
export -f make_variants
start=$(date +%s)
find "$work/tiles" -name 't????.jpg' -print0 | xargs -0 -P 2 -I{} bash -c 'make_variants "$1"' _ {}
echo "variants made in $(( $(date +%s) - start )) s"

"$bench" quality "$work/tiles"

# Speed: a 12-MP photograph (a wallpaper enlarged to 4000 x 3000 with sensor-like noise, quality 92: the size
# of a camera's file).
convert "$wallpapers/nature/Garden.jpg" -resize 4000x3000! -attenuate 0.4 +noise Gaussian -quality 92 "$work/photo-12mp.jpg"
echo
"$bench" speed 100000 "$work/photo-12mp.jpg"
"$bench" speed 10000 "$work/photo-12mp.jpg"
