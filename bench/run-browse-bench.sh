#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole program against curl on the same vsftpd in the same run, offscreen:
#  - 1000 files of 4 KiB selected in the remote browser and fetched with Get, against curl
#    fetching the same URLs over one connection (files per second);
#  - a directory of 100 000 entries opened in the remote browser, against curl's LIST of
#    it; then scrolled through page by page and listed again with a row selected.
# Reports the ratios and the longest main-thread gaps, and while files come how often the
# window repainted and the longest repaint.
#
#   bench/run-browse-bench.sh        (root: vsftpd must chroot; FILES=1000 ENTRIES=100000 RUNS=5)
#
# The program's log goes to /dev/null. Everything lives in a temporary directory on tmpfs
# and goes when the script ends; the server listens on 127.0.0.1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${FILES:-1000}
entries=${ENTRIES:-100000}
runs=${RUNS:-5}
size_mib=0 # no big file: vsftpd-server.sh makes an empty pub/big.bin

. "$root/bench/vsftpd-server.sh"
bench_setup "$@"

build=${BUILD_DIR:-$root/build-browse-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZODARU_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target listing_bench >/dev/null
bench=$build/bench/listing_bench

bench_workdir zodaru-browse-bench

start_vsftpd 42000 42999
echo "making $files files of 4 KiB and a directory of $entries entries"
mkdir -p "$work/ftp/small" "$work/ftp/big"
/usr/bin/python3 - "$work/ftp" "$files" "$entries" <<'PY'
import os, sys
top, files, entries = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
block = os.urandom(4096)
for i in range(1, files + 1):
    with open(f"{top}/small/f{i:04d}", "wb") as f:
        f.write(block)
for i in range(entries):
    open(f"{top}/big/entry-{i:06d}.dat", "wb").close()
PY
url=ftp://127.0.0.1:$port

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", b - a}'; }

curl_files() { # -> seconds
  rm -rf "$work/curl-small" && mkdir "$work/curl-small"
  local t0 t1
  t0=$(now)
  curl -s --ftp-pasv --user anonymous:bench@ "$url/small/f[0001-$(printf %04d "$files")]" -o "$work/curl-small/#1"
  t1=$(now)
  [ "$(ls "$work/curl-small" | wc -l)" -eq "$files" ] || { echo "curl fetched too few files" >&2; exit 1; }
  elapsed "$t0" "$t1"
}

curl_list() { # -> seconds
  local t0 t1
  t0=$(now)
  curl -s --ftp-pasv --user anonymous:bench@ "$url/big/" >/dev/null
  t1=$(now)
  elapsed "$t0" "$t1"
}

echo "vsftpd on 127.0.0.1:$port, files on tmpfs, median of $runs runs, program log to /dev/null"
cs=() ps=() pg=() pr=() pm=()
# A thousand connections leave the machine busy for a moment after them (sockets in
# TIME_WAIT, freed memory): each side starts once that has settled, not in its wake.
curl_step() {
  sleep 3
  cs+=("$(curl_files)")
}
program_step() {
  rm -rf "$work/down" && mkdir "$work/down"
  sleep 3
  local out
  out=$("$bench" --server "ftp://127.0.0.1:$port" --mode files --remote-dir small --count "$files" \
    --local-dir "$work/down" 2>/dev/null) || { echo "program failed: $out" >&2; exit 1; }
  cmp -s "$work/down/f0001" "$work/ftp/small/f0001" || { echo "download differs" >&2; exit 1; }
  ps+=("$(echo "$out" | field seconds)")
  pg+=("$(echo "$out" | field longestGap_ms)")
  pr+=("$(echo "$out" | field windowRepaints)")
  pm+=("$(echo "$out" | field repaintMax_ms)")
}
for round in $(seq "$runs"); do
  in_turn "$round" curl_step program_step
done
c=$(printf '%s\n' "${cs[@]}" | median)
p=$(printf '%s\n' "${ps[@]}" | median)
awk -v n="$files" -v c="$c" -v p="$p" -v g="$(printf '%s\n' "${pg[@]}" | sort -g | tail -1)" \
  -v r="$(round_ratio "${cs[*]}" "${ps[*]}")" 'BEGIN {
  printf "%d files of 4 KiB: curl %.1f files/s, program %.1f files/s, ratio %.2f (per round %s; target >= 0.8), longest gap %s ms\n",
    n, n / c, n / p, c / p, r, g }'
echo "  window repainted $(printf '%s\n' "${pr[@]}" | median) times (median), longest repaint $(printf '%s\n' "${pm[@]}" | sort -g | tail -1) ms"

cl=() po=() og=() ss=() rl=() rg=()
curl_step() { cl+=("$(curl_list)"); }
program_step() {
  local out
  out=$("$bench" --server "ftp://127.0.0.1:$port" --mode listing --remote-dir big --count "$entries" 2>/dev/null) \
    || { echo "program failed: $out" >&2; exit 1; }
  po+=("$(echo "$out" | field openSeconds)")
  og+=("$(echo "$out" | field openGap_ms)")
  ss+=("$(echo "$out" | field scrollStepMax_ms)")
  rl+=("$(echo "$out" | field reloadSeconds)")
  rg+=("$(echo "$out" | field reloadGap_ms)")
}
for round in $(seq "$runs"); do
  in_turn "$round" curl_step program_step
done
c=$(printf '%s\n' "${cl[@]}" | median)
p=$(printf '%s\n' "${po[@]}" | median)
worst() { printf '%s\n' "$@" | sort -g | tail -1; }
awk -v n="$entries" -v c="$c" -v p="$p" -v r="$(printf '%s\n' "${rl[@]}" | median)" \
  -v og="$(worst "${og[@]}")" -v ss="$(worst "${ss[@]}")" -v rg="$(worst "${rg[@]}")" 'BEGIN {
  printf "%d entries: curl LIST %.3f s, program shows them in %.3f s, ratio %.2f (target <= 1.5)\n", n, c, p, p / c
  printf "  longest main-thread gap while loading %s ms; longest scroll step %s ms; listed again with a row kept selected in %.3f s (gap %s ms)\n",
    og, ss, r, rg }'
