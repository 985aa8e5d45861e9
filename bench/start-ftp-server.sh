# Sourced by the benchmark scripts: start_ftp_server ROOT [OPTION...] starts the
# local stand-in FTP server (scripts/ftp-server, with the options given) on a
# free loopback port serving ROOT, and sets server_pid and port. Expects
# source_dir (the repository) and work (a scratch folder) to be set.
start_ftp_server() {
  local root=$1 out="$work/server-$RANDOM.out"
  shift
  /usr/bin/python3 "$source_dir/scripts/ftp-server" "$root" 0 --quiet --demo "$@" > "$out" 2> "$out.err" &
  server_pid=$!
  for _ in $(seq 1 100); do
    grep -q "listening on" "$out" 2>/dev/null && break
    sleep 0.1
  done
  port=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$out")
  [ -n "$port" ] || { echo "server did not start"; cat "$out.err"; exit 1; }
}
