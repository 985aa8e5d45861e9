#!/usr/bin/env bash
# FTP over loopback: our client beside curl (active mode, PORT) against one
# pyftpdlib stand-in server, in one run. Uploads (APPE) and downloads (RETR to
# a file) of a big file (TEVRAK_BENCH_FTP_MB, default 1024 MiB), and 200 files
# of 50 KiB appended on one control connection. Prints the ratios and our peak
# resident memory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${TEVRAK_BUILD_DIR:-$source_dir/build}
bench=$build/bench/ftp/tevrak_ftp_bench
size_mb=${TEVRAK_BENCH_FTP_MB:-1024}
rounds=${TEVRAK_BENCH_ROUNDS:-2}

[ -x "$bench" ] || { echo "build tevrak_ftp_bench first ($bench)"; exit 1; }
command -v curl >/dev/null || { echo "curl is missing"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tevrak-ftp-bench-XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/server/Claim/Bench" "$work/local/small"
head -c "${size_mb}M" /dev/urandom > "$work/server/Claim/Bench/big.bin"
ln "$work/server/Claim/Bench/big.bin" "$work/local/big.bin"
for i in $(seq 0 199); do
  head -c 51200 /dev/urandom > "$work/local/small/$(printf 'f%03d' "$i")"
done

# shellcheck source=../start-ftp-server.sh
. "$here/../start-ftp-server.sh"
start_ftp_server "$work/server"
echo "server on 127.0.0.1:$port, file ${size_mb} MiB, $rounds rounds"

for round in $(seq 1 "$rounds"); do
  TEVRAK_FTP_PORT=$port TEVRAK_BENCH_DIR=$work "$bench" \
    --benchmark_out="$work/round$round.json" --benchmark_out_format=json
done

/usr/bin/python3 - "$work"/round*.json <<'PY'
import json, sys
runs = {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        runs.setdefault(b["name"].split("/")[0], []).append(b)
def best(name, key):
    values = [b[key] for b in runs.get(name, []) if key in b]
    return max(values) if key == "bytes_per_second" else min(values)
print()
print("%-22s %14s %14s %8s" % ("", "Tevrak", "curl", "ratio"))
for what in ("Upload", "Download"):
    ours = best(what + "_Tevrak", "bytes_per_second") / 1e6
    theirs = best(what + "_Curl", "bytes_per_second") / 1e6
    print("%-22s %11.0f MB/s %9.0f MB/s %8.2f   (goal >= 0.90)" % (what + " throughput", ours, theirs, ours / theirs))
ours = best("Append200_Tevrak", "files") * 1e3
theirs = best("Append200_Curl", "files") * 1e3
print("%-22s %11.2f ms   %9.2f ms   %8.2f   (goal <= 1.00)" % ("200 x 50 KiB, per file", ours, theirs, ours / theirs))
peak = max(b.get("peak_rss_MB", 0) for bs in runs.values() for b in bs)
print("%-22s %11.1f MB   (goal < 16)" % ("peak resident memory", peak))
PY
