# Sourced by the benchmark scripts. Both functions set server_pid and port and
# expect source_dir (the repository) and work (a scratch folder) to be set.

# start_ftp_server ROOT [OPTION...] starts the local stand-in FTP server
# (scripts/ftp-server, with the options given) on a free loopback port serving ROOT.
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

# start_vsftpd ROOT [--tls CERT KEY] starts vsftpd (installed here if missing:
# apt-get, as root) as a standalone server on a free loopback port, with a
# configuration written into the work folder. It runs as the user who starts it
# (run_as_launching_user: no root needed, no chroot, and then only anonymous
# logins), so the benchmark logs in as "anonymous", at home in ROOT with write
# rights, in active and passive mode. With --tls the logins and every data
# connection must be encrypted (TLS 1.2 at least, data sessions must resume the
# control connection's: vsftpd's require_ssl_reuse); without it TLS is off.
# seccomp_sandbox and isolate are off so that it runs in a container.
start_vsftpd() {
  local root=$1 tls=NO certificate='' key='' name="vsftpd-$RANDOM"
  [ "${2:-}" = --tls ] && tls=YES certificate=$3 key=$4
  if ! command -v vsftpd >/dev/null && [ ! -x /usr/sbin/vsftpd ]; then
    echo "installing vsftpd (the benchmark's C server)"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q vsftpd >/dev/null ||
      { echo "vsftpd is missing and could not be installed (apt-get install vsftpd, as root)"; exit 1; }
  fi
  port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat > "$work/$name.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
run_as_launching_user=YES
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
anonymous_enable=YES
no_anon_password=YES
local_enable=NO
anon_root=$root
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_world_readable_only=NO
anon_umask=022
pasv_enable=YES
port_enable=YES
connect_from_port_20=NO
xferlog_enable=NO
ssl_enable=$tls
allow_anon_ssl=$tls
force_anon_logins_ssl=$tls
force_anon_data_ssl=$tls
require_ssl_reuse=YES
ssl_sslv2=NO
ssl_sslv3=NO
ssl_tlsv1=NO
ssl_ciphers=HIGH
CONF
  # Debian 12's vsftpd (3.0.3) knows no ssl_tlsv1_2: it allows every version it
  # is not told to refuse, so TLS 1.1 to 1.3 here, and both clients ask for 1.2
  # at least. Its default cipher list (DES-CBC3-SHA) is gone from OpenSSL 3.
  if [ "$tls" = YES ]; then
    printf 'rsa_cert_file=%s\nrsa_private_key_file=%s\n' "$certificate" "$key" >> "$work/$name.conf"
  fi
  # vsftpd writes its startup errors to its standard input (the control
  # connection when inetd starts it).
  /usr/sbin/vsftpd "$work/$name.conf" 0<> "$work/$name.err" > "$work/$name.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 100); do
    (exec 3<> "/dev/tcp/127.0.0.1/$port") 2>/dev/null && return
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "vsftpd did not start"
  cat "$work/$name.err" "$work/$name.out"
  exit 1
}
