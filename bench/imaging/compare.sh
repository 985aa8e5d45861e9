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
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }

"$bench" make "$data" >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One timed run: "<wall ms> <cpu ms>" of a command (cpu = user + system), its output to $out/log.
timed() {
    /usr/bin/time -f '%e %U %S' -o "$out/time" "$@" >"$out/log"
    awk '{ printf "%.1f %.1f\n", $1 * 1000, ($2 + $3) * 1000 }' "$out/time"
}

declare -A result
for kind in plain exif; do
    files=("$data/$kind"/IMG_{1..9}.jpg)
    cat "${files[@]}" >/dev/null  # both read the photos from the page cache
    im=() im_cpu=() ours=() ours_cpu=() ours_one=()
    for ((r = 0; r < rounds; ++r)); do
        read -r wall cpu < <(timed convert -define jpeg:size=340x270 "${files[@]}" -thumbnail '170x135!' \
            "$out/out_%d.png")
        im+=("$wall") im_cpu+=("$cpu")
        read -r wall cpu < <(timed "$bench" page "${files[@]}")
        ours+=("$(awk '/^page_ms/ { print $2 }' "$out/log")")
        ours_cpu+=("$(awk '/^page_cpu_ms/ { print $2 }' "$out/log")")
        timed "$bench" page -t 1 "${files[@]}" >/dev/null
        ours_one+=("$(awk '/^page_ms/ { print $2 }' "$out/log")")
    done
    result[$kind.im]=$(printf '%s\n' "${im[@]}" | median)
    result[$kind.im_cpu]=$(printf '%s\n' "${im_cpu[@]}" | median)
    result[$kind.ours]=$(printf '%s\n' "${ours[@]}" | median)
    result[$kind.ours_cpu]=$(printf '%s\n' "${ours_cpu[@]}" | median)
    result[$kind.one]=$(printf '%s\n' "${ours_one[@]}" | median)
done

ls -l "$data"/plain/IMG_1.jpg "$data"/exif/IMG_1.jpg | awk '{ printf "   photo %s: %.1f MB\n", $NF, $5 / 1e6 }'
echo "   medians of $rounds alternating rounds, ms; ratio = Tevrak / ImageMagick"
echo "   wall: ImageMagick's whole run, Tevrak's page in-process (2 threads; 1 thread beside it)"
echo "   cpu:  user + system time, ImageMagick's whole process, Tevrak's page (all threads); a fair view"
echo "         when other work shares the cores, but the parallel gain shows only in wall time"
printf '   %-34s %10s %10s %7s %8s   %10s %10s %7s %8s\n' photos "IM wall" "ours wall" ratio goal \
    "IM cpu" "ours cpu" ratio "1 thread"
for kind in plain exif; do
    goal=0.45
    label="9 x 12 MP, no EXIF thumbnail"
    if [[ $kind == exif ]]; then goal=0.05; label="9 x 12 MP, camera EXIF thumbnail"; fi
    ratio=$(awk -v a="${result[$kind.ours]}" -v b="${result[$kind.im]}" 'BEGIN { printf "%.3f", a / b }')
    cpu_ratio=$(awk -v a="${result[$kind.ours_cpu]}" -v b="${result[$kind.im_cpu]}" 'BEGIN { printf "%.3f", a / b }')
    printf '   %-34s %10s %10s %7s %8s   %10s %10s %7s %8s\n' "$label" "${result[$kind.im]}" \
        "${result[$kind.ours]}" "$ratio" "<= $goal" "${result[$kind.im_cpu]}" "${result[$kind.ours_cpu]}" \
        "$cpu_ratio" "${result[$kind.one]}"
done
echo "   load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"

# Peak memory of a process holding the nine thumbnails of 12-megapixel photos (goal: under 150 MB).
plain=("$data/plain"/IMG_{1..9}.jpg)
ours_kb=$(/usr/bin/time -f '%M' "$bench" memory "${plain[@]}" 2>&1 >/dev/null | tail -1)
im_kb=$(/usr/bin/time -f '%M' convert -define jpeg:size=340x270 "${plain[@]}" -thumbnail '170x135!' \
    "$out/out_%d.png" 2>&1 >/dev/null | tail -1)
printf '   peak resident memory: Tevrak %.1f MB, ImageMagick %.1f MB (goal: Tevrak under 150 MB)\n' \
    "$(awk -v k="$ours_kb" 'BEGIN { print k / 1024 }')" "$(awk -v k="$im_kb" 'BEGIN { print k / 1024 }')"
