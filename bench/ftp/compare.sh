#!/usr/bin/env bash
# FTP over loopback: our client beside curl (active mode, PORT) against a real
# server written in C, vsftpd (TEVRAK_BENCH_FTP_SERVER=vsftpd, the default), or
# the pyftpdlib stand-in (=pyftpdlib), in one run. Uploads (APPE) and downloads
# (RETR to a file) of a big file (TEVRAK_BENCH_FTP_MB, default 1024 MiB) in
# plain text and over TLS, and 200 files of 50 KiB appended on one control
# connection. The encrypted runs go to a second server on the same root that
# requires TLS (data sessions resumed) with a certificate from an authority
# made here, which both clients are told to trust. They run in passive mode
# (curl 7.88 fails an encrypted data connection in active mode), so plain text
# is measured in both modes.
# vsftpd runs as the user who starts the script, with anonymous logins (see
# bench/start-ftp-server.sh); if it is missing it is installed with apt-get,
# which needs root.
# Prints MB/s, the ratios, the CPU seconds of each client and of the server
# (with the processes it forks per connection) for each run, and our peak
# resident memory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${TEVRAK_BUILD_DIR:-$source_dir/build}
bench=$build/bench/ftp/tevrak_ftp_bench
size_mb=${TEVRAK_BENCH_FTP_MB:-1024}
rounds=${TEVRAK_BENCH_ROUNDS:-2}
server_kind=${TEVRAK_BENCH_FTP_SERVER:-vsftpd}
case $server_kind in
  vsftpd) user=anonymous ;;
  pyftpdlib) user=online ;;
  *) echo "TEVRAK_BENCH_FTP_SERVER is vsftpd or pyftpdlib"; exit 1 ;;
esac

[ -x "$bench" ] || { echo "build tevrak_ftp_bench first ($bench)"; exit 1; }
command -v curl >/dev/null || { echo "curl is missing"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tevrak-ftp-bench-XXXXXX")
server_pids=
cleanup() {
  for pid in $server_pids; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
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
mkdir "$work/certificates"
"$source_dir/tests/ftp/make-test-certificates" "$work/certificates"
if [ "$server_kind" = vsftpd ]; then
  start_vsftpd "$work/server"
  plain_port=$port server_pids=$server_pid
  start_vsftpd "$work/server" --tls "$work/certificates/server.pem" "$work/certificates/server.key"
else
  start_ftp_server "$work/server"
  plain_port=$port server_pids=$server_pid
  start_ftp_server "$work/server" --tls "$work/certificates/server.pem" "$work/certificates/server.key" \
    --tls-required
fi
tls_port=$port server_pids="$server_pids $server_pid"
echo "$server_kind on 127.0.0.1:$plain_port (plain) and :$tls_port (TLS required), file ${size_mb} MiB, $rounds rounds"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

for round in $(seq 1 "$rounds"); do
  TEVRAK_FTP_PORT=$plain_port TEVRAK_FTP_TLS_PORT=$tls_port TEVRAK_FTP_CA=$work/certificates/ca.pem \
    TEVRAK_FTP_SERVER_PIDS=$server_pids TEVRAK_FTP_USER=$user TEVRAK_BENCH_DIR=$work "$bench" "$@" \
    --benchmark_out="$work/round$round.json" --benchmark_out_format=json
done

/usr/bin/python3 - "$work"/round*.json <<'PY'
import json, sys
runs = {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        if not b.get("error_occurred"):
            parts = b["name"].split("/")
            name = "/".join(parts[:2]) if parts[1] in ("plain", "passive", "tls") else parts[0]
            runs.setdefault(name, []).append(b)
def best(name, key):
    values = [b[key] for b in runs.get(name, []) if key in b]
    if not values:
        return float("nan")
    return max(values) if key == "bytes_per_second" else min(values)
def mbps(name):
    return best(name, "bytes_per_second") / 1e6
print()
print("%-26s %14s %14s %8s" % ("", "Tevrak", "curl", "ratio"))
for what in ("Upload", "Download"):
    for wire, goal in (("plain", ">= 0.90"), ("passive", ""), ("tls", ">= 1.00")):
        ours, theirs = mbps("%s_Tevrak/%s" % (what, wire)), mbps("%s_Curl/%s" % (what, wire))
        print("%-26s %11.0f MB/s %9.0f MB/s %8.2f   %s" % ("%s %s" % (what, wire), ours, theirs,
                                                            ours / theirs, goal and "(goal %s)" % goal))
    for who in ("Tevrak", "Curl"):
        tls = mbps("%s_%s/tls" % (what, who))
        print("%-26s %11.2f (active) %5.2f (passive)   %s" % (
            "%s %s tls / plain" % (what, who), tls / mbps("%s_%s/plain" % (what, who)),
            tls / mbps("%s_%s/passive" % (what, who)), "(goal >= 0.80)" if who == "Tevrak" else ""))
print()
print("CPU seconds per transfer (best round):         client      server")
for what in ("Upload", "Download"):
    for wire in ("plain", "passive", "tls"):
        for who in ("Tevrak", "Curl"):
            name = "%s_%s/%s" % (what, who, wire)
            print("  %-34s %8.2f %11.2f" % (name, best(name, "client_cpu_s"), best(name, "server_cpu_s")))
ours = best("Append200_Tevrak", "files") * 1e3
theirs = best("Append200_Curl", "files") * 1e3
print("%-26s %11.2f ms   %9.2f ms   %8.2f   (goal <= 1.00)" % ("200 x 50 KiB, per file", ours, theirs, ours / theirs))
peak = max(b.get("peak_rss_MB", 0) for bs in runs.values() for b in bs)
print("%-26s %11.1f MB   (goal < 16)" % ("peak resident memory", peak))
PY
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
