# Sourced by the benchmark scripts: start_ftp_server ROOT starts the local
# stand-in FTP server (scripts/ftp-server) on a free loopback port serving ROOT,
# and sets server_pid and port. Expects source_dir (the repository) and work
# (a scratch folder) to be set.
start_ftp_server() {
  /usr/bin/python3 "$source_dir/scripts/ftp-server" "$1" 0 --quiet --demo > "$work/server.out" 2> "$work/server.err" &
  server_pid=$!
  for _ in $(seq 1 100); do
    grep -q "listening on" "$work/server.out" 2>/dev/null && break
    sleep 0.1
  done
  port=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$work/server.out")
  [ -n "$port" ] || { echo "server did not start"; cat "$work/server.err"; exit 1; }
}
