#!/usr/bin/env bash
# Tab 1 benchmarks, each beside its reference in the same run:
#  - the first page after Refresh with 10,000 inbox files versus 9 files;
#  - filing 100 photos of 5 MB through the filing code versus a shell loop doing
#    the same work with cp, cp, sync and rm.
set -euo pipefail
build=${TEVRAK_BUILD_DIR:-$(cd "$(dirname "$0")/../.." && pwd)/build}
bench=$build/bench/intake/tevrak_intake_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for n in 9 10000; do
  TEVRAK_ROOT=$work/refresh-$n XDG_CONFIG_HOME=$work/config "$bench" refresh $n
done

count=${TEVRAK_BENCH_PHOTOS:-100}
mkdir -p "$work/photos"
convert -size 2600x1950 plasma:fractal -quality 97 "$work/seed.jpg"
for i in $(seq -w 1 "$count"); do
  # 5 MB each: the seed photo plus padding after its end marker, different per file.
  { cat "$work/seed.jpg"; head -c $((5000000 - $(stat -c %s "$work/seed.jpg"))) /dev/urandom; } > "$work/photos/P$i.jpg"
done

TEVRAK_ROOT=$work/ours XDG_CONFIG_HOME=$work/config "$bench" filing "$work/photos"

mkdir -p "$work/shell/picture/12345678" "$work/shell/picture/transfer"
cp "$work"/photos/*.jpg "$work/shell/picture/"
start=$(date +%s%N)
n=0
for f in "$work"/shell/picture/*.jpg; do
  n=$((n + 1))
  name=12345678$(printf %03d "$n").jpg
  cp "$f" "$work/shell/picture/12345678/$name"
  cp "$f" "$work/shell/picture/transfer/$name"
  sync
  rm "$f"
done
end=$(date +%s%N)
echo "shell loop (cp, cp, sync, rm) $n photos: $(( (end - start) / 1000000 )) ms"
