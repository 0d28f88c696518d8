#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A source-like tree (2 000 files in 200 folders, mostly 1-64 KiB) down and up as one
# folder, through the whole program offscreen (AppContext::getEntries / putEntries with one
# directory entry, as a drag of the folder does) with 1, 2, 4 and 8 connections per
# direction, against lftp's `mirror` and `mirror -R` with --parallel=1 and =4, on the same
# vsftpd in the same run.
#
#   bench/run-tree-bench.sh       (root: vsftpd must chroot; RUNS=5 FILES=2000 FOLDERS=200
#                                  POOLS="1 2 4 8" SETTLE=1 FLAT=0 TRACE=1)
#
# Each round runs every client once per direction, the first place moving on round by
# round; the table shows each round, then each client's median time, its speed against the
# program with one connection and against lftp with four (above 1: faster), the processor
# time of the client and of the server's sessions, and the program's peak memory. Every
# result is compared byte for byte with its source (diff -r) before it counts.
#
# FLAT=1 also runs the program (flat-N) with the same files queued directory by directory
# as plain entries (the directories made beforehand): no walk, no MKD, only the queue and
# the per-file transfers, which tells the walk's share from the queue's.
# TRACE=1 (the default) ends with one more run of each client against a second vsftpd that
# logs every command, and prints the commands per file and the connections each client
# used: round trips measured, not guessed. TRACE=0 skips it.
#
# lftp's time is its whole run (start, login, mirror, quit; the login takes a few ms on
# 127.0.0.1); the program's is from the call that queues the folder until its last file is
# saved, the window and its first login already up. The program's log goes to /dev/null;
# its processor time is the whole process's, its start included.
# Everything lives in a temporary directory on tmpfs and goes when the script ends; the
# servers listen on 127.0.0.1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${RUNS:-5}
files=${FILES:-2000}
folders=${FOLDERS:-200}
flat=${FLAT:-0}
trace=${TRACE:-1}
settle=${SETTLE:-1}
read -r -a pools <<<"${POOLS:-1 2 4 8}"

. "$root/bench/vsftpd-server.sh"
. "$root/bench/parallel-clients.sh"
bench_setup "$@"

# TREE_BENCH=path measures a tree_bench built elsewhere (another revision) instead.
bench=${TREE_BENCH:-}
if [ -z "$bench" ]; then
  build=$root/build-app-bench
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZODARU_BUILD_BENCH=ON -DZODARU_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target tree_bench >/dev/null
  bench=$build/bench/tree_bench
fi

bench_workdir zodaru-tree-bench
# lftp reads ~/.lftprc and keeps its history and cache there: a private home.
export HOME=$work/home
mkdir -p "$HOME"

# The tree: the same every run (fixed seed). Folders nest up to four deep under the root,
# each new one under a folder picked at random; files go to folders picked at random, so
# some hold many and some few. Sizes: nine in ten
# between 1 and 64 KiB (even on a log scale), the rest smaller or up to 512 KiB.
make_tree() { # directory
  "$ftp_python" - "$1" "$files" "$folders" <<'EOF'
import math, os, random, sys
top, nfiles, nfolders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261210)
dirs = [(top, 0)]
os.makedirs(top)
for i in range(nfolders):
    parent, depth = rng.choice([d for d in dirs if d[1] < 4])
    path = os.path.join(parent, "%s%03d" % (rng.choice(["src", "lib", "doc", "test", "res"]), i))
    os.mkdir(path)
    dirs.append((path, depth + 1))
total = 0
for i in range(nfiles):
    where = rng.choice(dirs)[0]
    pick = rng.random()
    if pick < 0.05:
        size = rng.randint(0, 1023)
    elif pick < 0.95:
        size = int(1024 * math.exp(rng.uniform(0, math.log(64))))
    else:
        size = rng.randint(64 * 1024, 512 * 1024)
    name = "file%04d.%s" % (i, rng.choice(["c", "h", "cpp", "txt", "png", "json"]))
    with open(os.path.join(where, name), "wb") as out:
        out.write(rng.randbytes(size))
    total += size
print(total)
EOF
}

# Served from pub/tree; uploads go into pub/in (made fresh before each upload).
mkdir -p "$work/ftp/pub/in" "$work/up" "$work/down"
chmod 755 "$work/ftp"
bytes=$(make_tree "$work/ftp/pub/tree")
cp -a "$work/ftp/pub/tree" "$work/up/tree"
chown -R ftp:ftp "$work/ftp/pub"
anon_server=(anonymous_enable=YES no_anon_password=YES "anon_root=$work/ftp" anon_upload_enable=YES
  anon_mkdir_write_enable=YES anon_other_write_enable=YES anon_umask=022 write_enable=YES
  local_enable=NO max_clients=50 max_per_ip=0)
ftp_pasv="42000 42999"
ftp_start vsftpd vsftpd "${anon_server[@]}"
server_pid=${ftp_server_pids[-1]}

# Fresh targets: the download's local directory, the upload's remote one.
fresh_down() { rm -rf "$work/down/$1"; mkdir -p "$work/down/$1"; }
fresh_up() {
  rm -rf "$work/ftp/pub/in/$1"
  mkdir -p "$work/ftp/pub/in/$1"
  chown ftp:ftp "$work/ftp/pub/in/$1"
}
# The copy CLIENT made is the source's, names and bytes.
check() { # direction client
  if [ "$1" = down ]; then
    diff -r "$work/ftp/pub/tree" "$work/down/$2/tree" >/dev/null || { echo "$2's download differs" >&2; exit 1; }
  else
    diff -r "$work/up/tree" "$work/ftp/pub/in/$2/tree" >/dev/null || { echo "$2's upload differs" >&2; exit 1; }
  fi
}

# One client's run, CLIENT being lftp-N, zodaru-N (one folder entry) or flat-N (the files
# directory by directory, the directories made beforehand), N the connections; leaves the
# program's line in its output.
client_run() { # direction client port
  local dir=$1 client=$2 at=$3 n=${2#*-} mode=folder
  [[ $client == flat-* ]] && mode=flat
  if [ "$dir" = down ]; then
    fresh_down "$client"
    case $client in
      lftp-*) lftp_mirror down "$n" "$at" /pub/tree "$work/down/$client/tree" ;;
      *)
        [ "$mode" = flat ] && (cd "$work/ftp/pub" && find tree -type d -exec mkdir -p "$work/down/$client/{}" \;)
        "$bench" --server "ftp://127.0.0.1:$at" --direction down --mode "$mode" --remote-dir /pub \
          --local-dir "$work/down/$client" --name tree --files "$files" --tree "$work/ftp/pub/tree" \
          --connections "$n" 2>/dev/null || true
        ;;
    esac
  else
    fresh_up "$client"
    case $client in
      lftp-*) lftp_mirror up "$n" "$at" "$work/up/tree" "/pub/in/$client/tree" ;;
      *)
        if [ "$mode" = flat ]; then
          (cd "$work/up" && find tree -type d -exec mkdir -p "$work/ftp/pub/in/$client/{}" \;)
          chown -R ftp:ftp "$work/ftp/pub/in/$client"
        fi
        "$bench" --server "ftp://127.0.0.1:$at" --direction up --mode "$mode" --remote-dir "/pub/in/$client" \
          --local-dir "$work/up" --name tree --files "$files" --connections "$n" 2>/dev/null || true
        ;;
    esac
  fi
}

clients=(lftp-1 lftp-4)
for n in "${pools[@]}"; do clients+=("zodaru-$n"); done
if [ "$flat" = 1 ]; then
  for n in "${pools[@]}"; do clients+=("flat-$n"); done
fi
declare -A times ccpu scpu peak lines xcpu

# Runs CLIENT once, checks its copy and keeps its figures. Thousands of connections leave
# the machine busy for a moment after them (sockets in TIME_WAIT, freed memory): each run
# starts once that has settled, not in the previous one's wake.
step() { # direction client
  local dir=$1 client=$2 wall cpu server status t out
  sleep "$settle"
  read -r wall cpu server status < <(measured "$work/out" client_run "$dir" "$client" "$port")
  # A client may end in error after copying everything (a refused extra login): the copy
  # decides, the status is only said.
  [ "$status" = 0 ] || echo "  ($client $dir exited with status $status)" >&2
  check "$dir" "$client"
  t=$wall
  if [[ $client != lftp-* ]]; then
    out=$(cat "$work/out")
    if [ "$(echo "$out" | field files)" != "$files" ] || [ "$(echo "$out" | field bytes)" != "$bytes" ]; then
      echo "$client: count differs (want files=$files bytes=$bytes): $out" >&2
      exit 1
    fi
    t=$(echo "$out" | field seconds)
    peak[$dir/$client]+=" $(echo "$out" | field peakRSS_KiB)"
    lines[$dir/$client]+="$out"$'\n'
    xcpu[$dir/$client]+=" $(echo "$out" | field cpu_s)/$(echo "$out" | field mainThreadCpu_s)"
  fi
  times[$dir/$client]+=" $t" ccpu[$dir/$client]+=" $cpu" scpu[$dir/$client]+=" $server"
}


echo "vsftpd on 127.0.0.1:$port; tree: $files files, $folders folders, $bytes bytes; $rounds alternated rounds"
for dir in down up; do
  alternated_rounds "$dir"
  one=$(echo "${times[$dir/zodaru-${pools[0]}]}" | med)
  l4=$(echo "${times[$dir/lftp-4]}" | med)
  printf '%-10s %8s %9s %9s %10s %10s %8s %s\n' "$dir" "time s" "x ${pools[0]} conn" "x lftp-4" \
    "client cpu" "server cpu" "peak MiB" "cpu/main thread while moving"
  for client in "${clients[@]}"; do
    t=$(echo "${times[$dir/$client]}" | med)
    p=- x=
    if [[ $client != lftp-* ]]; then
      p=$(($(echo "${peak[$dir/$client]}" | tr ' ' '\n' | grep . | sort -n | tail -1) / 1024))
      # The pair of the run with the median processor time.
      x=$(echo "${xcpu[$dir/$client]}" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    fi
    printf '%-10s %8s %9.2f %9.2f %10s %10s %8s %s\n' "$client" "$t" \
      "$(awk -v a="$one" -v t="$t" 'BEGIN {print a / t}')" "$(awk -v a="$l4" -v t="$t" 'BEGIN {print a / t}')" \
      "$(echo "${ccpu[$dir/$client]}" | med)" "$(echo "${scpu[$dir/$client]}" | med)" "$p" "$x"
  done
  if [ -n "${times[$dir/zodaru-4]:-}" ]; then
    echo "  zodaru-4 against lftp-4, per round: $(round_ratio "${times[$dir/lftp-4]# }" "${times[$dir/zodaru-4]# }")x"
    # The program's own figures of its median round with four connections.
    m=$(echo "${times[$dir/zodaru-4]}" | med)
    while read -r line; do
      if [ "$(echo "$line" | field seconds)" = "$m" ]; then echo "  zodaru-4: $line"; break; fi
    done <<<"${lines[$dir/zodaru-4]}"
  fi
done
echo "(time: median seconds; x N conn and x lftp-4: that time over this one, above 1 faster;"
echo " cpu: median processor seconds of the client process and of the server's sessions; the program's"
echo " own from the queueing to its last file, the whole process's and its main thread's)"

[ "$trace" = 1 ] || exit 0

# One more run of each against a vsftpd that logs every command.
ftp_pasv="43000 43999"
trace_log=$work/trace-vsftpd.log
ftp_start vsftpd vsftpd-trace "${anon_server[@]}" xferlog_enable=YES xferlog_std_format=NO \
  log_ftp_protocol=YES "vsftpd_log_file=$trace_log"
echo "commands sent (vsftpd's protocol log, one run each; $files files, $folders folders):"
for dir in down up; do
  for client in "${clients[@]}"; do
    traced "$trace_log" "$files" "$client $dir" client_run "$dir" "$client" "$port"
  done
done
