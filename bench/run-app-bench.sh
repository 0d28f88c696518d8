#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole program against the engine alone and curl: a file (1 GiB by default) down and
# up through the main window's Get and Put, offscreen, on the same vsftpd in the same run.
# Reports MB/s, the ratio to curl, peak memory, the longest main-thread stall and the
# program's processor time per GiB moved (all threads; steadier than MB/s on a busy machine).
#
#   bench/run-app-bench.sh            (root: vsftpd must chroot; SIZE_MIB=1024 RUNS=9)
#
# Each of the RUNS rounds runs curl, the engine and the program once, one after the other,
# the first place moving on round by round, and the table shows the medians: on a shared
# machine the speed of one transfer moves by up to 4x from one minute to the next, and only
# alternated series compare like with like.
#
# The program's log (a few lines per chunk) goes to /dev/null, as the engine bench's does.
# The server is named ftp://: plain FTP, agreed beforehand, so no question stops a run.
# Everything lives in a temporary directory on tmpfs and goes when the script ends; the
# server listens on 127.0.0.1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
size_mib=${SIZE_MIB:-1024}
rounds=${RUNS:-9}
# Each helper below measures once per call; the rounds repeat them.
runs=1
# BROADCAST=off measures the program without the per-chunk session-bus signals.
broadcast=${BROADCAST:-on}
# BASELINE=DIR also runs DIR/app_transfer_bench and DIR/transfer_bench (copies kept from an
# earlier build) in the same run, for a before/after on the same load.
baseline=${BASELINE:-}
# LOG_TAB=1 keeps the Log tab in front, so every log line is also shown while data flows.
log_tab=()
[ -n "${LOG_TAB:-}" ] && log_tab=(--log-tab)

. "$root/bench/vsftpd-server.sh"
bench_setup "$@"

build=$root/build-app-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZODARU_BUILD_BENCH=ON -DZODARU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target app_transfer_bench transfer_bench >/dev/null
appbench=$build/bench/app_transfer_bench
enginebench=$build/bench/transfer_bench

bench_workdir zodaru-app-bench

mkdir -p "$work/up" "$work/down"
start_vsftpd 41000 41999
cp "$work/ftp/pub/big.bin" "$work/up/up.bin"

program() { # direction -> "MB/s peakKiB stallMs cpuSecondsPerGiB"
  local dir=$1 speeds=() peaks=() stalls=() cpus=() out
  for _ in $(seq "$runs"); do
    rm -f "$work/down/big.bin"
    before_upload
    if [ "$dir" = down ]; then
      out=$("$appbin" --server "ftp://127.0.0.1:$port" --direction down --remote-dir pub --file big.bin \
        --local-dir "$work/down" --broadcast "$broadcast" "${log_tab[@]}" 2>/dev/null)
      cmp -s "$work/down/big.bin" "$work/ftp/pub/big.bin" || { echo "download differs: $out" >&2; exit 1; }
    else
      out=$("$appbin" --server "ftp://127.0.0.1:$port" --direction up --remote-dir pub --file up.bin \
        --local-dir "$work/up" --broadcast "$broadcast" "${log_tab[@]}" 2>/dev/null)
      uploaded_intact "$work/up/up.bin" || { echo "upload differs: $out" >&2; exit 1; }
    fi
    speeds+=("$(echo "$out" | field MBps)")
    peaks+=("$(echo "$out" | field peakRSS_KiB)")
    stalls+=("$(echo "$out" | field longestStall_ms)")
    cpus+=("$(echo "$out" | field cpuSecondsPerGiB)")
  done
  echo "$(printf '%s\n' "${speeds[@]}" | median) $(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)" \
       "$(printf '%s\n' "${stalls[@]}" | sort -g | tail -1) $(printf '%s\n' "${cpus[@]}" | sort -g | median)"
}

engine() { # direction -> MB/s
  local dir=$1 speeds=() out
  for _ in $(seq "$runs"); do
    rm -f "$work/down/e.bin"
    before_upload
    if [ "$dir" = down ]; then
      out=$("$enginebin" --server "ftp://127.0.0.1:$port" --direction down --remote /pub/big.bin \
        --local "$work/down/e.bin" --broadcast "$broadcast" 2>/dev/null)
    else
      out=$("$enginebin" --server "ftp://127.0.0.1:$port" --direction up --remote "/$remote_up" \
        --local "$work/up/up.bin" --broadcast "$broadcast" 2>/dev/null)
      uploaded_intact "$work/up/up.bin" || { echo "engine's upload differs" >&2; exit 1; }
    fi
    speeds+=("$(echo "$out" | field MBps)")
  done
  printf '%s\n' "${speeds[@]}" | median
}

echo "vsftpd on 127.0.0.1:$port, ${size_mib} MiB, median of $rounds alternated rounds, files on tmpfs, program log to /dev/null, broadcast $broadcast"
printf '%-9s %9s %9s %9s %7s %9s %9s %10s %10s\n' direction curl engine program ratio "per round" "peak MiB" \
  "stall ms" "cpu s/GiB"
builds=("$appbench $enginebench")
[ -n "$baseline" ] && builds+=("$baseline/app_transfer_bench $baseline/transfer_bench")
for dir in down up; do
  label=$dir
  for build_pair in "${builds[@]}"; do
    read -r appbin enginebin <<<"$build_pair"
    cs=() es=() ps=() peaks=() stalls=() cpus=()
    curl_step() { cs+=("$(curl_run "$dir" "$work/down/curl.bin" "$work/up/up.bin")"); }
    engine_step() { es+=("$(engine "$dir")"); }
    program_step() {
      local p peak stall cpu
      read -r p peak stall cpu < <(program "$dir")
      ps+=("$p") peaks+=("$peak") stalls+=("$stall") cpus+=("${cpu:--}")
    }
    for round in $(seq "$rounds"); do
      in_turn "$round" curl_step engine_step program_step
    done
    c=$(printf '%s\n' "${cs[@]}" | median)
    e=$(printf '%s\n' "${es[@]}" | median)
    p=$(printf '%s\n' "${ps[@]}" | median)
    peak=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
    stall=$(printf '%s\n' "${stalls[@]}" | sort -g | tail -1)
    cpu=$(printf '%s\n' "${cpus[@]}" | median)
    ratio=$(awk -v p="$p" -v c="$c" 'BEGIN {printf "%.2f", p / c}')
    printf '%-9s %9s %9s %9s %7s %9s %9s %10s %10s\n' "$label" "$c" "$e" "$p" "$ratio" \
      "$(round_ratio "${ps[*]}" "${cs[*]}")" "$((peak / 1024))" "$stall" "$cpu"
    label="$dir(base)"
  done
done
echo "(MB/s = 10^6 bytes per second; ratio = program / curl, of the medians and the median of each round's;"
echo " targets: ratio >= 0.9 down and >= 1.1 up, peak < 64 MiB, stall <= 50 ms)"
