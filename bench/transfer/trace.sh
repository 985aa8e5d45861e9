#!/usr/bin/env bash
# Where the whole Transfer's time goes: runs the transfer benchmark's job (three
# rounds, as compare.sh) under strace and breaks each round down by the system
# calls seen: the exports and packing before the first login, each login, the
# listings, each upload's command round trips, data and completion wait, the
# removal of the sent file, the flushes, and the branch folder's listing.
# strace slows every traced call, so the untraced rounds are timed first and
# printed beside the traced ones. Needs strace.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${TEVRAK_BUILD_DIR:-$source_dir/build}
bench=$build/bench/transfer/tevrak_transfer_bench
count=${TEVRAK_BENCH_PHOTOS:-100}

[ -x "$bench" ] || { echo "build tevrak_transfer_bench first ($bench)"; exit 1; }
command -v strace >/dev/null || { echo "strace is missing"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tevrak-transfer-trace-XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
[ -n "${TEVRAK_TRACE_KEEP:-}" ] && trap - EXIT

mkdir -p "$work/photos" "$work/server/Claim/Bench"
for i in $(seq 1 "$count"); do
  head -c 2000000 /dev/urandom > "$work/photos/$(printf '%08d001.jpg' "$i")"
done
# shellcheck source=../start-ftp-server.sh
. "$here/../start-ftp-server.sh"
start_ftp_server "$work/server"

TEVRAK_FTP_PORT=$port TEVRAK_BENCH_DIR=$work "$bench" --benchmark_filter=TransferJob 2>/dev/null |
  grep manual_time | sed 's/^/untraced: /'
TEVRAK_FTP_PORT=$port TEVRAK_BENCH_DIR=$work strace -f -tt -T --seccomp-bpf -s 160 -o "$work/trace" \
  -e trace=access,faccessat,faccessat2,connect,accept,accept4,recvfrom,close,fsync,fdatasync,renameat2,rename,unlink,unlinkat \
  "$bench" --benchmark_filter=TransferJob 2>/dev/null | grep manual_time | sed 's/^/traced:   /'

/usr/bin/python3 - "$work/trace" "$port" <<'PY'
import re, sys
from datetime import datetime
path, port = sys.argv[1], sys.argv[2]
line_re = re.compile(r'^\d+\s+(\d\d:\d\d:\d\d\.\d+) (\w+)\((.*)\) += (-?\d+|\?)[^<]*(?:<([\d.]+)>)?$')
events = []
for line in open(path, errors="replace"):
    m = line_re.match(line.rstrip())
    if m:
        t = datetime.strptime(m.group(1), "%H:%M:%S.%f")
        events.append((t.hour * 3600 + t.minute * 60 + t.second + t.microsecond / 1e6, m.group(2), m.group(3),
                       m.group(4), float(m.group(5) or 0)))

def rounds():
    start = None
    for i, e in enumerate(events):
        if e[1].startswith(("access", "faccessat")) and "tevrak-bench-job-start" in e[2]:
            start = i
        elif e[1].startswith(("access", "faccessat")) and "tevrak-bench-job-end" in e[2] and start is not None:
            yield events[start:i + 1]
            start = None

def breakdown(evs):
    t0, t1 = evs[0][0], evs[-1][0]
    phases = []          # (name, seconds)
    control = None       # control connection's descriptor
    data = None          # open data connection's descriptor
    mark = t0
    logins = 0
    files = []           # per upload: commands, data, completion, after
    current = None
    flush_time = flushes = 0.0
    state = "local"
    phase_flushes = [0, 0.0]  # count and seconds in the phase so far
    uploads_from = None
    def close_phase(name, t, since=None):
        nonlocal mark
        phases.append((name, t - (mark if since is None else since), phase_flushes[:]))
        phase_flushes[:] = [0, 0.0]
        mark = t
    for t, call, args, ret, dur in evs:
        if call in ("fsync", "fdatasync"):
            flushes += 1
            flush_time += dur
            phase_flushes[0] += 1
            phase_flushes[1] += dur
        if call == "connect" and "htons(%s)" % port in args:
            close_phase({"local": "exports and packing (before the first login)",
                         "between": "after the uploads: close, day folders, branch file"}.get(state, state), t)
            control = args.split(",")[0]
            logins += 1
            state = "login %d" % logins
        elif call == "recvfrom" and args.split(",")[0] == control:
            text = args.split('"')[1] if '"' in args else ""
            # the last reply in what was received (a 150 and its 226 can come in one read)
            replies = [l[:3] for l in text.split("\\r\\n") if l[:3].isdigit()]
            reply = replies[-1] if replies else ""
            if state.startswith("login") and reply == "250":
                close_phase(state + " (connect, greeting, USER, PASS, TYPE, SYST, CWD)", t)
                state = "listing %d" % logins
            elif state.startswith("listing") and reply == "226":
                close_phase(state + " (PORT, NLST, data, 226)", t)
                state = "uploads" if logins == 1 else "download end"
                uploads_from = t
            elif state == "uploads" and reply in ("125", "150"):
                current = {"start": mark, "150": t}
            elif state == "uploads" and reply == "226" and current:
                current["226"] = t
        elif call in ("accept", "accept4") and state == "uploads" and current:
            current["accept"] = t
            data = ret
        elif call == "close" and state == "uploads" and current and args == data:
            current["closed"] = t
            data = None
        elif call in ("unlink", "unlinkat") and state == "uploads" and current and "226" in current:
            current["removed"] = t
            files.append(current)
            mark = t
            current = None
        elif call == "close" and args == control and state == "uploads":
            close_phase("uploads (each below)", t, uploads_from)
            state = "between"
        elif call == "close" and args == control and state == "download end":
            close_phase("close", t)
            state = "end"
    close_phase("end of the job", t1)
    return t1 - t0, phases, files, flushes, flush_time

def ms(x):
    return "%8.1f" % (x * 1e3)

for n, evs in enumerate(rounds(), 1):
    total, phases, files, flushes, flush_time = breakdown(evs)
    print("\nround %d (traced): %.0f ms, %d flushes taking %.1f ms" % (n, total * 1e3, flushes, flush_time * 1e3))
    print("  %8s     %5s    %-6s %8s" % ("ms", "%", "flushes", "ms"))
    for name, seconds, (count, flushed) in phases:
        print("  %s ms  %5.1f %%  %3d %s ms  %s" % (ms(seconds), 100 * seconds / total, count, ms(flushed), name))
    if files:
        keys = [("the last file removed to 125/150 (log, progress window, listener, PORT, APPE)", "start", "150"), ("125/150 to the server's connection", "150", "accept"),
                ("data (2 MB)", "accept", "closed"), ("close to 226", "closed", "226"),
                ("226 to the file removed", "226", "removed")]
        print("  %d uploads, per file (mean):" % len(files))
        for label, a, b in keys:
            mean = sum(f[b] - f[a] for f in files if a in f and b in f) / len(files)
            print("    %s ms  %s" % (ms(mean), label))
PY
