#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A source-like tree (2 000 files in 200 folders, mostly 1-64 KiB) down and up as one
# folder, through the whole program offscreen (AppContext::getEntries / putEntries with one
# directory entry, as a drag of the folder does), against lftp's `mirror` and `mirror -R`
# over one connection (--parallel=1), on the same vsftpd in the same run.
#
#   bench/run-tree-bench.sh       (root: vsftpd must chroot; RUNS=5 FILES=2000 FOLDERS=200)
#
# Each round runs lftp and the program once per direction, the first place moving on round
# by round; the table shows each round and the medians, the ratio program / lftp of the
# medians and the median of each round's ratio, and the program's peak memory. Every result
# is compared byte for byte with its source (diff -r) before it counts.
#
# FLAT=1 also runs the program with the same files queued directory by directory as plain
# entries (the directories made beforehand): no walk, no MKD, only the queue and the
# per-file transfers, which tells the walk's share from the queue's.
# TRACE=1 (the default) ends with one more run of each client against a second vsftpd that
# logs every command, and prints the commands per file and the connections each client
# used: round trips measured, not guessed. TRACE=0 skips it.
#
# lftp's time is its whole run (start, login, mirror, quit; the login takes a few ms on
# 127.0.0.1); the program's is from the call that queues the folder until its last file is
# saved, the window and its login already up. The program's log goes to /dev/null.
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

. "$root/bench/vsftpd-server.sh"
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
  local_enable=NO max_clients=20)
ftp_pasv="42000 42999"
ftp_start vsftpd vsftpd "${anon_server[@]}"

# Fresh targets: the download's local directory, the upload's remote one.
fresh_down() { rm -rf "$work/down/$1"; mkdir -p "$work/down/$1"; }
fresh_up() {
  rm -rf "$work/ftp/pub/in/$1"
  mkdir -p "$work/ftp/pub/in/$1"
  chown ftp:ftp "$work/ftp/pub/in/$1"
}
same_tree() { # a b -> true when both hold the same names and bytes
  diff -r "$1" "$2" >/dev/null
}

now_ns() { date +%s%N; }

lftp_run() { # direction port -> seconds
  local dir=$1 at=$2 start end
  if [ "$dir" = down ]; then
    fresh_down lftp
    start=$(now_ns)
    lftp -u anonymous,bench@ -p "$at" -e "set ftp:ssl-allow no; set net:max-retries 1; \
      mirror --parallel=1 /pub/tree $work/down/lftp/tree; quit" 127.0.0.1 >/dev/null 2>&1
    end=$(now_ns)
    same_tree "$work/ftp/pub/tree" "$work/down/lftp/tree" || { echo "lftp's download differs" >&2; exit 1; }
  else
    fresh_up lftp
    start=$(now_ns)
    lftp -u anonymous,bench@ -p "$at" -e "set ftp:ssl-allow no; set net:max-retries 1; \
      mirror -R --parallel=1 $work/up/tree /pub/in/lftp/tree; quit" 127.0.0.1 >/dev/null 2>&1
    end=$(now_ns)
    same_tree "$work/up/tree" "$work/ftp/pub/in/lftp/tree" || { echo "lftp's upload differs" >&2; exit 1; }
  fi
  awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f", (e - s) / 1e9}'
}

# The program: one folder entry (mode folder) or the files directory by directory (flat).
# Prints tree_bench's line.
program_run() { # direction mode port
  local dir=$1 mode=$2 at=$3 out target=zodaru-$2
  if [ "$dir" = down ]; then
    fresh_down "$target"
    [ "$mode" = flat ] && (cd "$work/ftp/pub" && find tree -type d -exec mkdir -p "$work/down/$target/{}" \;)
    out=$("$bench" --server "ftp://127.0.0.1:$at" --direction down --mode "$mode" --remote-dir /pub \
      --local-dir "$work/down/$target" --name tree --files "$files" --tree "$work/ftp/pub/tree" 2>/dev/null) || true
    same_tree "$work/ftp/pub/tree" "$work/down/$target/tree" || { echo "program's download differs: $out" >&2; exit 1; }
  else
    fresh_up "$target"
    if [ "$mode" = flat ]; then
      (cd "$work/up" && find tree -type d -exec mkdir -p "$work/ftp/pub/in/$target/{}" \;)
      chown -R ftp:ftp "$work/ftp/pub/in/$target"
    fi
    out=$("$bench" --server "ftp://127.0.0.1:$at" --direction up --mode "$mode" --remote-dir "/pub/in/$target" \
      --local-dir "$work/up" --name tree --files "$files" 2>/dev/null) || true
    same_tree "$work/up/tree" "$work/ftp/pub/in/$target/tree" || { echo "program's upload differs: $out" >&2; exit 1; }
  fi
  if [ "$(echo "$out" | field files)" != "$files" ] || [ "$(echo "$out" | field bytes)" != "$bytes" ]; then
    echo "program's count differs (want files=$files bytes=$bytes): $out" >&2
    exit 1
  fi
  echo "$out"
}

echo "vsftpd on 127.0.0.1:$port; tree: $files files, $folders folders, $bytes bytes; $rounds alternated rounds;"
echo "lftp: mirror --parallel=1 (one connection), its whole run; program: from the folder's queueing to its last file"
for dir in down up; do
  ls_=() ps=() fs=() peaks=() lines=()
  lftp_step() { ls_+=("$(lftp_run "$dir" "$port")"); }
  program_step() {
    local out
    out=$(program_run "$dir" folder "$port")
    ps+=("$(echo "$out" | field seconds)") peaks+=("$(echo "$out" | field peakRSS_KiB)")
    lines+=("$out")
  }
  flat_step() { fs+=("$(program_run "$dir" flat "$port" | field seconds)"); }
  steps=(lftp_step program_step)
  [ "$flat" = 1 ] && steps+=(flat_step)
  for round in $(seq "$rounds"); do
    in_turn "$round" "${steps[@]}"
    printf '  %s round %d: lftp %ss, program %ss%s\n' "$dir" "$round" "${ls_[-1]}" "${ps[-1]}" \
      "$([ "$flat" = 1 ] && echo ", program flat ${fs[-1]}s")"
  done
  l=$(printf '%s\n' "${ls_[@]}" | median)
  p=$(printf '%s\n' "${ps[@]}" | median)
  peak=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
  ratio=$(awk -v p="$p" -v l="$l" 'BEGIN {printf "%.2f", p / l}')
  printf '%-4s median: lftp %ss, program %ss, ratio %s (per round %s), peak %d MiB%s\n' "$dir" "$l" "$p" "$ratio" \
    "$(round_ratio "${ps[*]}" "${ls_[*]}")" "$((peak / 1024))" \
    "$([ "$flat" = 1 ] && echo ", flat $(printf '%s\n' "${fs[@]}" | median)s")"
  # The program's own figures of its median round.
  for line in "${lines[@]}"; do
    if [ "$(echo "$line" | field seconds)" = "$p" ]; then echo "  program: $line"; break; fi
  done
done
echo "(ratio = program / lftp, seconds; target: ratio <= 1.5 both ways)"

[ "$trace" = 1 ] || exit 0

# One more run of each against a vsftpd that logs every command: commands per file by verb,
# and the control connections, for each client and direction.
ftp_pasv="43000 43999"
trace_log=$work/trace-vsftpd.log
ftp_start vsftpd vsftpd-trace "${anon_server[@]}" xferlog_enable=YES xferlog_std_format=NO \
  log_ftp_protocol=YES "vsftpd_log_file=$trace_log"
trace_port=$port
touch "$trace_log"
traced() { # label command... -> the commands it sent, per file
  local label=$1 before
  shift
  before=$(wc -l <"$trace_log")
  "$@" >/dev/null
  tail -n +"$((before + 1))" "$trace_log" | awk -v label="$label" -v n="$files" '
    /CONNECT: Client/ { connections++ }
    /FTP command: Client/ {
      sub(/.*FTP command: Client "[^"]*", "/, ""); split($0, w, /[ "]/); verb = toupper(w[1])
      count[verb]++; all++
    }
    END {
      line = ""
      for (v in count) line = line sprintf(" %s=%d", v, count[v])
      printf "  %-13s %d connections, %.2f commands per file; in all:%s\n", label, connections, all / n, line
    }'
}
echo "commands sent (vsftpd's protocol log, one run each; $files files, $folders folders):"
for dir in down up; do
  traced "lftp $dir" lftp_run "$dir" "$trace_port"
  traced "program $dir" program_run "$dir" folder "$trace_port"
  [ "$flat" = 1 ] && traced "flat $dir" program_run "$dir" flat "$trace_port"
done
