# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Sourced by the scripts that need a real FTP server on 127.0.0.1 (the demo, the benchmarks,
# the interoperability run). One calling shape for every kind of server:
#
#   ftp_start KIND NAME [EXTRA...]   starts a server, waits until it listens, sets $port
#
# KIND is pyftpd (tools/ftp-server.py; EXTRA are its options, --root or --sample-tree among
# them), vsftpd, proftpd or pure-ftpd (EXTRA are lines added to the configuration file, or
# options for pure-ftpd, which has none). The Debian servers take their passive ports from
# $ftp_pasv ("MIN MAX") and their binary from $ftp_bin_<kind> (vsftpd, proftpd, pureftpd)
# when set. Each server runs in a process group of its own, with its output in
# $ftp_logs/NAME-server.log and its files in $ftp_work; ftp_stop_all stops them all (call it
# from the script's EXIT trap).
#
#   ftp_free_port                   a port nobody listens on now, on 127.0.0.1
#   ftp_wait_port PORT NAME         waits up to 10 s until PORT accepts connections

ftp_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# pyftpdlib is installed for the system interpreter, which may not be the first on PATH.
ftp_python=${ZODARU_PYTHON:-/usr/bin/python3}
ftp_server_pids=()
ftp_pasv=${ftp_pasv:-"41000 41999"}

ftp_free_port() {
  "$ftp_python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

ftp_wait_port() { # port name
  local _
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "$2 did not start on port $1" >&2
  return 1
}

ftp_stop_all() {
  local pid
  for pid in "${ftp_server_pids[@]}"; do
    kill -TERM -- "-$pid" 2>/dev/null || true
  done
  for pid in "${ftp_server_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  ftp_server_pids=()
}

# Starts `command...` in a process group of its own (the group takes its session children
# too), its output into the server's log.
ftp_spawn() { # name command...
  local name=$1
  shift
  mkdir -p "${ftp_logs:=$ftp_work}"
  setsid "$@" >"$ftp_logs/$name-server.log" 2>&1 </dev/null &
  ftp_server_pids+=("$!")
}

ftp_start() { # kind name extra...
  local kind=$1 name=$2
  shift 2
  : "${ftp_work:?must name a directory for the server files}"
  case $kind in
    pyftpd) ftp_start_pyftpd "$name" "$@" ;;
    vsftpd | proftpd | pure-ftpd)
      port=$(ftp_free_port)
      "ftp_start_${kind/-/}" "$name" "$port" "$@"
      if ! ftp_wait_port "$port" "$name"; then
        cat "${ftp_logs:-$ftp_work}/$name-server.log" >&2
        return 1
      fi
      ;;
    *) echo "ftp_start: unknown server kind $kind" >&2; return 2 ;;
  esac
}

# tools/ftp-server.py prints its port once it listens.
ftp_start_pyftpd() { # name options...
  local name=$1 _
  shift
  mkdir -p "${ftp_logs:=$ftp_work}"
  setsid "$ftp_python" "$ftp_tools/ftp-server.py" "$@" >"$ftp_work/$name.port" \
    2>"$ftp_logs/$name-server.log" </dev/null &
  ftp_server_pids+=("$!")
  port=
  for _ in $(seq 300); do
    if [ -s "$ftp_work/$name.port" ]; then
      port=$(head -n 1 "$ftp_work/$name.port")
      break
    fi
    kill -0 "${ftp_server_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  if ! [[ "$port" =~ ^[0-9]+$ ]]; then
    echo "$name did not start:" >&2
    cat "$ftp_logs/$name-server.log" >&2 || true
    return 1
  fi
}

ftp_start_vsftpd() { # name port extra-lines...
  local name=$1 port=$2 conf=$ftp_work/$1-vsftpd.conf
  shift 2
  # Where vsftpd chroots its session processes: empty, and not writable by them.
  mkdir -p "$ftp_work/empty"
  chmod 755 "$ftp_work/empty"
  {
    cat <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
pasv_enable=YES
pasv_min_port=${ftp_pasv% *}
pasv_max_port=${ftp_pasv#* }
pasv_address=127.0.0.1
secure_chroot_dir=$ftp_work/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
use_localtime=NO
EOF
    printf '%s\n' "$@"
  } >"$conf"
  ftp_spawn "$name" "${ftp_bin_vsftpd:-/usr/sbin/vsftpd}" "$conf"
}

ftp_start_proftpd() { # name port extra-lines...
  local name=$1 port=$2 dir=$ftp_work/$1-proftpd
  shift 2
  mkdir -p "$dir"
  {
    cat <<EOF
ServerType standalone
ServerName "$name"
DefaultServer on
Port $port
DefaultAddress 127.0.0.1
SocketBindTight on
UseIPv6 off
User nobody
Group nogroup
PidFile $dir/proftpd.pid
ScoreboardFile $dir/scoreboard
DelayTable none
WtmpLog off
UseReverseDNS off
PassivePorts $ftp_pasv
TransferLog none
EOF
    printf '%s\n' "$@"
  } >"$dir/proftpd.conf"
  ftp_spawn "$name" "${ftp_bin_proftpd:-/usr/sbin/proftpd}" --nodaemon --config "$dir/proftpd.conf"
}

ftp_start_pureftpd() { # name port options...
  local name=$1 port=$2
  shift 2
  # -H: no reverse look-ups; -P: passive replies name 127.0.0.1.
  ftp_spawn "$name" "${ftp_bin_pureftpd:-/usr/sbin/pure-ftpd}" -S "127.0.0.1,$port" -H \
    -p "${ftp_pasv% *}:${ftp_pasv#* }" -P 127.0.0.1 "$@"
}
