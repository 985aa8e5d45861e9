#!/usr/bin/env bash
# Thumbnail page of nine 12-megapixel JPEGs: Tevrak's page loader beside ImageMagick making the same nine
# thumbnails in one process, on the same photos, in alternating rounds of one run. Prints the medians,
# the ratios and the peak memory. Not run by CI: this machine's speed drifts, and the parallel decoding
# needs both cores free, so run it on a quiet machine and trust only the ratios of one run.
#
#   TEVRAK_BUILD_DIR   build folder holding bench/imaging/tevrak_imaging_bench (default: ../../build)
#   TEVRAK_BENCH_DATA  folder for the generated photos (default: $TMPDIR/tevrak-bench-imaging; kept)
#   ROUNDS             rounds per kind of photo (default 7)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${TEVRAK_BUILD_DIR:-$here/../../build}
bench=$build/bench/imaging/tevrak_imaging_bench
data=${TEVRAK_BENCH_DATA:-${TMPDIR:-/tmp}/tevrak-bench-imaging}
rounds=${ROUNDS:-7}

[[ -x $bench ]] || { echo "build the target tevrak_imaging_bench first ($bench)" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick's convert is needed" >&2; exit 1; }

"$bench" make "$data" >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A result
for kind in plain exif; do
    files=("$data/$kind"/IMG_{1..9}.jpg)
    cat "${files[@]}" >/dev/null  # both read the photos from the page cache
    im=() ours=() ours_process=() ours_one=()
    for ((r = 0; r < rounds; ++r)); do
        t0=$(now_ns)
        convert -define jpeg:size=340x270 "${files[@]}" -thumbnail '170x135!' "$out/out_%d.png"
        t1=$(now_ns)
        im+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) / 1e6 }')")

        t0=$(now_ns)
        page=$("$bench" page "${files[@]}" | awk '/page_ms/ { print $2 }')
        t1=$(now_ns)
        ours+=("$page")
        ours_process+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) / 1e6 }')")
        ours_one+=("$("$bench" page -t 1 "${files[@]}" | awk '/page_ms/ { print $2 }')")
    done
    result[$kind.im]=$(printf '%s\n' "${im[@]}" | median)
    result[$kind.ours]=$(printf '%s\n' "${ours[@]}" | median)
    result[$kind.process]=$(printf '%s\n' "${ours_process[@]}" | median)
    result[$kind.one]=$(printf '%s\n' "${ours_one[@]}" | median)
done

ls -l "$data"/plain/IMG_1.jpg "$data"/exif/IMG_1.jpg | awk '{ printf "   photo %s: %.1f MB\n", $NF, $5 / 1e6 }'
echo "   medians of $rounds alternating rounds, ms (ratio = Tevrak / ImageMagick)"
printf '   %-34s %12s %12s %8s %12s %12s %8s\n' photos ImageMagick "Tevrak page" ratio "1 thread" "whole proc" goal
for kind in plain exif; do
    goal=0.45
    label="9 x 12 MP, no EXIF thumbnail"
    if [[ $kind == exif ]]; then goal=0.05; label="9 x 12 MP, camera EXIF thumbnail"; fi
    ratio=$(awk -v a="${result[$kind.ours]}" -v b="${result[$kind.im]}" 'BEGIN { printf "%.3f", a / b }')
    printf '   %-34s %12s %12s %8s %12s %12s %8s\n' "$label" "${result[$kind.im]}" "${result[$kind.ours]}" \
        "$ratio" "${result[$kind.one]}" "${result[$kind.process]}" "<= $goal"
done

# Peak memory of a process holding the nine thumbnails of 12-megapixel photos (goal: under 150 MB).
plain=("$data/plain"/IMG_{1..9}.jpg)
if [[ -x /usr/bin/time ]]; then
    ours_kb=$(/usr/bin/time -f '%M' "$bench" memory "${plain[@]}" 2>&1 >/dev/null | tail -1)
    im_kb=$(/usr/bin/time -f '%M' convert -define jpeg:size=340x270 "${plain[@]}" -thumbnail '170x135!' \
        "$out/out_%d.png" 2>&1 >/dev/null | tail -1)
    printf '   peak resident memory: Tevrak %.1f MB, ImageMagick %.1f MB (goal: Tevrak under 150 MB)\n' \
        "$(awk -v k="$ours_kb" 'BEGIN { print k / 1024 }')" "$(awk -v k="$im_kb" 'BEGIN { print k / 1024 }')"
else
    "$bench" memory "${plain[@]}" | sed 's/^/   /'
fi
