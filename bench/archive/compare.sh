#!/usr/bin/env bash
# Archive page of nine 12-megapixel photos (without and with EXIF thumbnails) and of nine scanned GIF
# documents, beside ImageMagick making the same nine thumbnails in one process, rounds interleaved; then the time to open the print preview of one
# 12-megapixel photo. Wall time is what the user waits; CPU time (user + system, all threads) is the fairer
# view when other work shares the two cores. Only ratios from one run mean anything on this machine.
#
#   TEVRAK_BUILD_DIR   build folder holding bench/archive/tevrak_archive_bench (default: ../../build)
#   TEVRAK_BENCH_DATA  drive C: for the generated photos (default: $TMPDIR/tevrak-archive-bench; kept)
#   ROUNDS             rounds per kind of photo (default 7)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${TEVRAK_BUILD_DIR:-$here/../../build}
bench=$build/bench/archive/tevrak_archive_bench
root=${TEVRAK_BENCH_DATA:-${TMPDIR:-/tmp}/tevrak-archive-bench}
rounds=${ROUNDS:-7}
[[ -x $bench ]] || { echo "build the target tevrak_archive_bench first ($bench)" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick's convert is needed" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }
export TEVRAK_ROOT=$root
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$bench" make "$root" >/dev/null 2>&1

median() { sort -n | awk '{v[NR]=$1} END {if (NR % 2) print v[(NR+1)/2]; else printf "%.2f\n", (v[NR/2]+v[NR/2+1])/2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

printf '%-36s %9s %9s %7s   %9s %9s %7s\n' "archive page of nine pictures" "ours" "IM" "ratio" "ours cpu" "IM cpu" "ratio"
for claim in PLAIN001 EXIFT001 DOCS0001; do
  ours=() ours_cpu=() im=() im_cpu=()
  files=("$root"/picture/$claim/*.*)
  cat "${files[@]}" >/dev/null  # both read the photos from the page cache
  for ((r = 0; r < rounds; r++)); do
    "$bench" page "$claim" >"$out/log" 2>/dev/null
    ours+=("$(awk '/page_ms/ {print $2}' "$out/log")")
    ours_cpu+=("$(awk '/page_ms/ {print $4}' "$out/log")")
    /usr/bin/time -f '%e %U %S' -o "$out/time" \
      convert -define jpeg:size=340x270 "${files[@]}" -thumbnail '170x135!' "$out/out_%d.png"
    im+=("$(awk '{printf "%.1f", $1 * 1000}' "$out/time")")
    im_cpu+=("$(awk '{printf "%.1f", ($2 + $3) * 1000}' "$out/time")")
  done
  o=$(printf '%s\n' "${ours[@]}" | median)
  oc=$(printf '%s\n' "${ours_cpu[@]}" | median)
  m=$(printf '%s\n' "${im[@]}" | median)
  mc=$(printf '%s\n' "${im_cpu[@]}" | median)
  case $claim in
    PLAIN001) label="no EXIF thumbnail, ms" ;;
    EXIFT001) label="camera EXIF thumbnails, ms" ;;
    *) label="nine scanned GIF documents, ms" ;;
  esac
  printf '%-36s %9.1f %9.1f %7s   %9.1f %9.1f %7s\n' "$label" "$o" "$m" "$(ratio "$o" "$m")" "$oc" "$mc" "$(ratio "$oc" "$mc")"
done
echo "goals (12-MP photos): ratio at most 0.45 without, 0.05 with EXIF thumbnails; medians of $rounds alternating rounds"

p=$("$bench" preview -r "$rounds" "c:\\picture\\PLAIN001\\PLAIN001001.jpg" 2>/dev/null | awk '/preview_ms/ {print $2}' | median)
printf 'print preview of a 12-megapixel photo, until its page is painted: %.1f ms (goal: under 1000 ms)\n' "$p"
