#!/usr/bin/env bash
# Archive page of nine 12-megapixel photos (without and with EXIF thumbnails) beside ImageMagick making the
# same nine thumbnails in one process, rounds interleaved; then the time to open the print preview of one
# 12-megapixel photo. Only ratios from one run mean anything on this machine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${TEVRAK_BUILD_DIR:-$here/../../build}
bench=$build/bench/archive/tevrak_archive_bench
root=${TEVRAK_BENCH_DATA:-${TMPDIR:-/tmp}/tevrak-archive-bench}
rounds=${ROUNDS:-7}
export TEVRAK_ROOT=$root
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$bench" make "$root" >/dev/null 2>&1

median() { sort -n | awk '{v[NR]=$1} END {if (NR % 2) print v[(NR+1)/2]; else printf "%.2f\n", (v[NR/2]+v[NR/2+1])/2}'; }
now_ns() { date +%s%N; }

for claim in PLAIN001 EXIFT001; do
  ours=()
  magick=()
  files=("$root"/picture/$claim/*.jpg)
  cat "${files[@]}" >/dev/null  # both start from the page cache
  for ((r = 0; r < rounds; r++)); do
    ours+=("$("$bench" page "$claim" 2>/dev/null | awk '/page_ms/ {print $2}')")
    start=$(now_ns)
    convert -define jpeg:size=340x270 "${files[@]}" -thumbnail '170x135!' "$out/out_%d.png"
    magick+=("$(( ($(now_ns) - start) / 1000 ))")
  done
  o=$(printf '%s\n' "${ours[@]}" | median)
  m=$(printf '%s\n' "${magick[@]}" | awk '{print $1/1000}' | median)
  label=$([ "$claim" = PLAIN001 ] && echo "no EXIF thumbnail" || echo "EXIF thumbnails  ")
  printf 'archive page, %s: ours %8.1f ms   ImageMagick %8.1f ms   ratio %.3f\n' "$label" "$o" "$m" \
    "$(awk -v a="$o" -v b="$m" 'BEGIN {print a / b}')"
done

p=$("$bench" preview -r "$rounds" "c:\\picture\\PLAIN001\\PLAIN001001.jpg" 2>/dev/null | awk '/preview_ms/ {print $2}' | median)
printf 'print preview of a 12-megapixel photo: %.1f ms (goal: under 1000 ms)\n' "$p"
