#!/usr/bin/env bash
# Packing 20 scanned-document GIFs (1700 x 2300, about 9 MB in all) into one
# claim archive, one run per file: Tevrak's writer (flushes to disk
# included) beside Info-ZIP `zip -6` adding the same files one at a time, and
# beside zlib alone deflating the same bytes, all in one interleaved run.
# The GIFs are made once with ImageMagick and kept in $TEVRAK_ZIP_BENCH_DIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${TEVRAK_BUILD_DIR:-$here/../../build}
bench=$build/bench/zip/tevrak_zip_bench
work=${TEVRAK_ZIP_BENCH_DIR:-${TMPDIR:-/tmp}/tevrak-zip-bench}
input=$work/input
[ -x "$bench" ] || { echo "build the target tevrak_zip_bench first ($bench)"; exit 1; }
command -v convert >/dev/null && command -v zip >/dev/null || { echo "needs ImageMagick and zip"; exit 1; }

font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
[ -f "$font" ] || font=$(fc-list : file | head -1 | cut -d: -f1)
make_page() {  # a scanned page: typed lines, scanner noise, 8 or 9 grey levels
  local n=$1 out=$2 text colours=9
  [ $((n % 10)) -lt 3 ] && colours=8
  text=$(/usr/bin/python3 -c "
import random
random.seed($n)
w='claim repair garage bumper insurer survey damage invoice total baht payment vehicle policy'.split()
print('\n'.join(' '.join(random.choice(w) for _ in range(9)) for _ in range(55)))")
  convert -seed "$n" -size 1700x2300 xc:white -font "$font" -fill black -pointsize 30 \
    -annotate +120+150 "$text" -attenuate 0.15 +noise Gaussian -colorspace gray +dither -colors $colours "$out.tmp.gif"
  mv "$out.tmp.gif" "$out"
}
mkdir -p "$input"
missing=()
for n in $(seq 800 819); do
  [ -f "$input/12345678$n.gif" ] || missing+=("$n")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "making ${#missing[@]} scanned-document GIFs in $input (once) ..."
  for n in "${missing[@]}"; do
    make_page "$n" "$input/12345678$n.gif" &
    [ $(jobs -r | wc -l) -ge 2 ] && wait -n
  done
  wait
fi
echo "input: $(ls "$input"/*.gif | wc -l) GIFs, $(du -cb "$input"/*.gif | tail -1 | cut -f1) bytes"

json=$work/result.json
TEVRAK_ZIP_BENCH_INPUT=$input "$bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=1 --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null

# For reference only: the same writer with fsync made a no-op (LD_PRELOAD),
# to show what the flushes to disk cost on this machine.
nosync=$work/nofsync.so
printf 'int fsync(int fd){(void)fd;return 0;}\nint fdatasync(int fd){(void)fd;return 0;}\n' >"$work/nofsync.c"
cc -shared -fPIC -o "$nosync" "$work/nofsync.c"
json_nosync=$work/result-nofsync.json
TEVRAK_ZIP_BENCH_INPUT=$input LD_PRELOAD=$nosync "$bench" --benchmark_filter='TevrakZip_OneRunPerFile|InfoZip' \
  --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true --benchmark_min_time=1 \
  --benchmark_format=json --benchmark_out="$json_nosync" --benchmark_out_format=json >/dev/null

/usr/bin/python3 - "$json" "$json_nosync" <<'PY'
import json, statistics, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
nosync_runs = json.load(open(sys.argv[2]))["benchmarks"]
def matching(name):
    return [r for r in runs if r["run_name"].split("/")[0] == "BM_" + name]
def pick(name, key="real_time"):
    vals = [r[key] for r in matching(name) if r.get("run_type") == "iteration"]
    return statistics.median(vals), vals
ours, o = pick("TevrakZip_OneRunPerFile")
infozip, i = pick("InfoZip_OneRunPerFile")
zlib_only, z = pick("ZlibDeflateOnly")
mem = max(r["peak_rss_growth_kib"] for r in matching("TevrakZip_MemoryFlat"))
our_size = matching("TevrakZip_OneRunPerFile")[0]["archive_bytes"]
iz_size = matching("InfoZip_OneRunPerFile")[0]["archive_bytes"]
fmt = lambda v: ", ".join("%.0f" % x for x in v)
print("time for 20 files, one run per file (median of 5, ms):")
print("  Tevrak TZip (fsync file and folder each run): %7.1f   [%s]" % (ours, fmt(o)))
print("  Info-ZIP zip -6, one call per file:            %7.1f   [%s]" % (infozip, fmt(i)))
print("  zlib raw deflate of the same bytes alone:      %7.1f   [%s]" % (zlib_only, fmt(z)))
print("ratios:  TZip / zip = %.2f (goal <= 0.90)    TZip / zlib alone = %.2f (goal <= 1.30)" % (ours / infozip, ours / zlib_only))
print("archive: TZip %d bytes, zip %d bytes, TZip / zip = %.4f (goal <= 1.01)" % (our_size, iz_size, our_size / iz_size))
ns = statistics.median(r["real_time"] for r in nosync_runs
                       if r["run_name"].split("/")[0] == "BM_TevrakZip_OneRunPerFile" and r.get("run_type") == "iteration")
nz = statistics.median(r["real_time"] for r in nosync_runs
                       if r["run_name"].split("/")[0] == "BM_InfoZip_OneRunPerFile" and r.get("run_type") == "iteration")
print("reference, fsync disabled (second run): TZip %.1f ms, zip %.1f ms, TZip / zip = %.2f" % (ns, nz, ns / nz))
print("memory: packing a 64 MiB file raised the peak RSS by at most %d KiB" % mem)
PY
