#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Many small files (1 000 x 4 KiB) of one directory down and up through the whole program
# offscreen (every file selected, Get or Put clicked), with 1, 2, 4 and 8 connections per
# direction, against lftp's `mirror` (-R up) with --parallel=1 and =4, curl moving every
# file over one connection and curl with --parallel --parallel-max 4, all on the same
# vsftpd in the same run.
#
#   bench/run-pool-bench.sh    (root: vsftpd must chroot; RUNS=5 FILES=1000 SIZE=4096
#                               POOLS="1 2 4 8" SETTLE=1 TRACE=1)
#
# Each round runs every client once per direction, the first place moving on round by
# round; every result is compared byte for byte with its source (diff -r) before it counts.
# The table gives each client's median time and files per second, its speed against the
# program with one connection and against lftp with four (above 1: faster), the processor
# time of the client and of the server's sessions, and the program's peak memory and the
# number of connections that carried its files.
#
# lftp's and curl's time is their whole run (start, login, transfers, quit; the login takes
# a few ms on 127.0.0.1); the program's runs from the click until its last file is done, the
# window and its first login already up, the extra connections' logins inside. The
# program's processor time is the whole process's, its start included.
# TRACE=1 ends with one more run of each client against a second vsftpd that logs every
# command: the connections each opened and its commands per file.
# POOL_BENCH=path measures a pool_bench built elsewhere (another revision) instead.
# Everything lives in a temporary directory on tmpfs and goes when the script ends; the
# servers listen on 127.0.0.1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${RUNS:-5}
files=${FILES:-1000}
size=${SIZE:-4096}
read -r -a pools <<<"${POOLS:-1 2 4 8}"
trace=${TRACE:-1}
settle=${SETTLE:-1}

. "$root/bench/vsftpd-server.sh"
. "$root/bench/parallel-clients.sh"
bench_setup "$@"

bench=${POOL_BENCH:-}
if [ -z "$bench" ]; then
  build=$root/build-app-bench
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZODARU_BUILD_BENCH=ON -DZODARU_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target pool_bench >/dev/null
  bench=$build/bench/pool_bench
fi

bench_workdir zodaru-pool-bench
# lftp reads ~/.lftprc and keeps its history and cache there: a private home.
export HOME=$work/home
mkdir -p "$HOME"

# Served from pub/small (file0001.bin ...); uploads go into pub/in/CLIENT, made fresh.
mkdir -p "$work/ftp/pub/small" "$work/ftp/pub/in" "$work/up" "$work/down"
chmod 755 "$work/ftp"
"$ftp_python" - "$work/ftp/pub/small" "$files" "$size" <<'EOF'
import os, sys
top, n, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(1, n + 1):
    with open(os.path.join(top, "file%04d.bin" % i), "wb") as out:
        out.write(os.urandom(size))
EOF
cp -a "$work/ftp/pub/small" "$work/up/small"
chown -R ftp:ftp "$work/ftp/pub"
first=$(printf %04d 1) last=$(printf %04d "$files")
# Room for eight connections per direction, the command one and lftp's or curl's own.
anon_server=(anonymous_enable=YES no_anon_password=YES "anon_root=$work/ftp" anon_upload_enable=YES
  anon_mkdir_write_enable=YES anon_other_write_enable=YES anon_umask=022 write_enable=YES
  local_enable=NO max_clients=50 max_per_ip=0)
ftp_pasv="44000 44999"
ftp_start vsftpd vsftpd "${anon_server[@]}"
server_pid=${ftp_server_pids[-1]}
main_port=$port

fresh_down() { rm -rf "$work/down/$1"; mkdir -p "$work/down/$1"; }
fresh_up() {
  rm -rf "$work/ftp/pub/in/$1"
  mkdir -p "$work/ftp/pub/in/$1"
  chown ftp:ftp "$work/ftp/pub/in/$1"
}
# The copy CLIENT made is the source's, byte for byte.
check() { # direction client
  if [ "$1" = down ]; then
    diff -r "$work/ftp/pub/small" "$work/down/$2" >/dev/null || { echo "$2's download differs" >&2; exit 1; }
  else
    diff -r "$work/up/small" "$work/ftp/pub/in/$2" >/dev/null || { echo "$2's upload differs" >&2; exit 1; }
  fi
}

# One client's run, CLIENT being lftp-N, curl-1, curl-4 or zodaru-N; leaves the program's
# line in $work/out.
client_run() { # direction client port
  local dir=$1 client=$2 at=$3 n=${2#*-} url="ftp://127.0.0.1:$3"
  local curl_args=(-s --ftp-pasv --user anonymous:bench@)
  [ "$n" -gt 1 ] && curl_args+=(-Z --parallel-max "$n")
  if [ "$dir" = down ]; then
    fresh_down "$client"
    case $client in
      lftp-*) lftp_mirror down "$n" "$at" /pub/small "$work/down/$client" ;;
      curl-*) curl "${curl_args[@]}" "$url/pub/small/file[$first-$last].bin" -o "$work/down/$client/file#1.bin" ;;
      zodaru-*) "$bench" --server "$url" --direction down --remote-dir /pub/small --local-dir "$work/down/$client" \
        --files "$files" --connections "$n" 2>/dev/null || true ;;
    esac
  else
    fresh_up "$client"
    case $client in
      lftp-*) lftp_mirror up "$n" "$at" "$work/up/small" "/pub/in/$client" ;;
      curl-*) curl "${curl_args[@]}" -T "$work/up/small/file[$first-$last].bin" "$url/pub/in/$client/" ;;
      zodaru-*) "$bench" --server "$url" --direction up --remote-dir "/pub/in/$client" --local-dir "$work/up/small" \
        --files "$files" --connections "$n" 2>/dev/null || true ;;
    esac
  fi
}

clients=(lftp-1 lftp-4 curl-1 curl-4)
for n in "${pools[@]}"; do clients+=("zodaru-$n"); done
declare -A times ccpu scpu peak engines xcpu

# Runs CLIENT once, checks its copy and keeps its figures. Thousands of connections leave
# the machine busy for a moment after them (sockets in TIME_WAIT, freed memory): each run
# starts once that has settled, not in the previous one's wake.
step() { # direction client
  local dir=$1 client=$2 wall cpu server status t out
  sleep "$settle"
  read -r wall cpu server status < <(measured "$work/out" client_run "$dir" "$client" "$main_port")
  # A client may end in error after copying everything (a refused extra login): the copy
  # decides, the status is only said.
  [ "$status" = 0 ] || echo "  ($client $dir exited with status $status)" >&2
  check "$dir" "$client"
  t=$wall
  if [[ $client == zodaru-* ]]; then
    out=$(cat "$work/out")
    if [ "$(echo "$out" | field files)" != "$files" ]; then
      echo "$client: not every file done: $out" >&2
      exit 1
    fi
    t=$(echo "$out" | field seconds)
    peak[$dir/$client]+=" $(echo "$out" | field peakRSS_KiB)"
    engines[$dir/$client]+=" $(echo "$out" | field engines)"
    xcpu[$dir/$client]+=" $(echo "$out" | field cpu_s)/$(echo "$out" | field mainThreadCpu_s)"
  fi
  times[$dir/$client]+=" $t" ccpu[$dir/$client]+=" $cpu" scpu[$dir/$client]+=" $server"
}


echo "vsftpd on 127.0.0.1:$main_port; $files files of $size bytes; $rounds alternated rounds"
for dir in down up; do
  alternated_rounds "$dir"
  one=$(echo "${times[$dir/zodaru-${pools[0]}]}" | med)
  l4=$(echo "${times[$dir/lftp-4]}" | med)
  printf '%-10s %8s %8s %9s %9s %10s %10s %8s %7s %s\n' "$dir" "time s" files/s "x ${pools[0]} conn" "x lftp-4" \
    "client cpu" "server cpu" "peak MiB" engines "cpu/main thread while moving"
  for client in "${clients[@]}"; do
    t=$(echo "${times[$dir/$client]}" | med)
    p=- e=- x=
    if [[ $client == zodaru-* ]]; then
      p=$(($(echo "${peak[$dir/$client]}" | tr ' ' '\n' | grep . | sort -n | tail -1) / 1024))
      e=$(echo "${engines[$dir/$client]}" | med)
      # The pair of the run with the median processor time.
      x=$(echo "${xcpu[$dir/$client]}" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    fi
    printf '%-10s %8s %8.0f %9.2f %9.2f %10s %10s %8s %7s %s\n' "$client" "$t" \
      "$(awk -v t="$t" -v n="$files" 'BEGIN {print n / t}')" "$(awk -v a="$one" -v t="$t" 'BEGIN {print a / t}')" "$(awk -v a="$l4" -v t="$t" 'BEGIN {print a / t}')" \
      "$(echo "${ccpu[$dir/$client]}" | med)" "$(echo "${scpu[$dir/$client]}" | med)" "$p" "$e" "$x"
  done
  if [ -n "${times[$dir/zodaru-4]:-}" ]; then
    echo "  zodaru-4 against lftp-4, per round: $(round_ratio "${times[$dir/lftp-4]# }" "${times[$dir/zodaru-4]# }")x"
  fi
done
echo "(time: median seconds; x N conn and x lftp-4: that time over this one, above 1 faster;"
echo " cpu: median processor seconds of the client process and of the server's sessions; the program's"
echo " own from the click to its last file, the whole process's and its main thread's)"

[ "$trace" = 1 ] || exit 0

ftp_pasv="45000 45999"
trace_log=$work/trace-vsftpd.log
ftp_start vsftpd vsftpd-trace "${anon_server[@]}" xferlog_enable=YES xferlog_std_format=NO \
  log_ftp_protocol=YES "vsftpd_log_file=$trace_log"
echo "commands sent (vsftpd's protocol log, one run each; $files files):"
for dir in down up; do
  for client in "${clients[@]}"; do
    traced "$trace_log" "$files" "$client $dir" client_run "$dir" "$client" "$port"
  done
done
