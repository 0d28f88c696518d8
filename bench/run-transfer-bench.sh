#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Transfer throughput, CPU time and memory: a 1 GiB file down and up through the engine,
# with the session-bus broadcast on and off, against curl on the same vsftpd in the same run.
#
#   bench/run-transfer-bench.sh            (root: vsftpd must chroot; SIZE_MIB=1024 RUNS=9)
#
# Each round runs curl, the engine with the broadcast and the engine without it once, one
# after the other, the first place moving on round by round; the table shows the medians (on
# a shared machine one transfer's speed moves by up to 4x from one minute to the next).
#
# Everything lives in a temporary directory on tmpfs and goes when the script ends: the
# server's configuration, its files and what the transfers write. The server listens on
# 127.0.0.1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
size_mib=${SIZE_MIB:-1024}
rounds=${RUNS:-9}
# Each helper below measures once per call; the rounds repeat them.
runs=1

. "$root/bench/vsftpd-server.sh"
bench_setup "$@"

# TRANSFER_BENCH=path measures an engine built elsewhere (another revision) instead.
bench=${TRANSFER_BENCH:-}
if [ -z "$bench" ]; then
  build=$root/build-bench
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZODARU_BUILD_BENCH=ON -DZODARU_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target transfer_bench >/dev/null
  bench=$build/bench/transfer_bench
fi

bench_workdir zodaru-bench

mkdir -p "$work/local"
start_vsftpd 40000 40999
cp "$work/ftp/pub/big.bin" "$work/local/big.bin"
bytes=$((size_mib * 1024 * 1024))

engine() { # direction broadcast -> "MB/s peakKiB cpu-s/GiB"
  local dir=$1 bc=$2 speeds=() peaks=() cpus=() out
  for _ in $(seq "$runs"); do
    rm -f "$work/local/down.bin"
    before_upload
    if [ "$dir" = down ]; then
      out=$(cpu_seconds "$work/engine.cpu" "$bench" --server "ftp://127.0.0.1:$port" --direction down \
        --remote /pub/big.bin --local "$work/local/down.bin" --broadcast "$bc")
      cmp -s "$work/local/down.bin" "$work/ftp/pub/big.bin" || { echo "download differs" >&2; exit 1; }
    else
      out=$(cpu_seconds "$work/engine.cpu" "$bench" --server "ftp://127.0.0.1:$port" --direction up \
        --remote "/$remote_up" --local "$work/local/big.bin" --broadcast "$bc")
      uploaded_intact "$work/local/big.bin" || { echo "upload differs" >&2; exit 1; }
    fi
    speeds+=("$(echo "$out" | field MBps)")
    peaks+=("$(echo "$out" | field peakRSS_KiB)")
    cpus+=("$(per_gib "$(cat "$work/engine.cpu")" "$bytes")")
  done
  echo "$(printf '%s\n' "${speeds[@]}" | median) $(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)" \
    "$(printf '%s\n' "${cpus[@]}" | median)"
}

echo "vsftpd on 127.0.0.1:$port, ${size_mib} MiB, median of $rounds alternated rounds, files on tmpfs, engine log to /dev/null"
echo "MB/s (10^6 bytes per second) and CPU seconds per GiB (user + system, whole process)"
printf '%-9s %8s %10s %10s %8s %8s %9s %8s %10s %10s %8s\n' direction curl engine+bus engine-bus "on/curl" \
  "off/curl" "per round" "cpu curl" "cpu e+bus" "cpu e-bus" "peak MiB"
for dir in down up; do
  cs=() ccs=() ons=() offs=() peaks=() cons=() coffs=()
  curl_step() {
    local c c_cpu
    read -r c c_cpu < <(curl_run "$dir" "$work/local/curl.bin" "$work/local/big.bin" cpu)
    cs+=("$c") ccs+=("$c_cpu")
  }
  on_step() {
    local on peak_on cpu_on
    read -r on peak_on cpu_on < <(engine "$dir" on)
    ons+=("$on") cons+=("$cpu_on") peaks+=("$peak_on")
  }
  off_step() {
    local off peak_off cpu_off
    read -r off peak_off cpu_off < <(engine "$dir" off)
    offs+=("$off") coffs+=("$cpu_off") peaks+=("$peak_off")
  }
  for round in $(seq "$rounds"); do
    in_turn "$round" curl_step on_step off_step
  done
  c=$(printf '%s\n' "${cs[@]}" | median)
  on=$(printf '%s\n' "${ons[@]}" | median)
  off=$(printf '%s\n' "${offs[@]}" | median)
  peak=$(( $(printf '%s\n' "${peaks[@]}" | sort -n | tail -1) / 1024 ))
  ratio_on=$(awk -v e="$on" -v c="$c" 'BEGIN {printf "%.2f", e / c}')
  ratio_off=$(awk -v e="$off" -v c="$c" 'BEGIN {printf "%.2f", e / c}')
  printf '%-9s %8s %10s %10s %8s %8s %9s %8s %10s %10s %8s\n' "$dir" "$c" "$on" "$off" "$ratio_on" "$ratio_off" \
    "$(round_ratio "${ons[*]}" "${cs[*]}")" "$(printf '%s\n' "${ccs[@]}" | median)" "$(printf '%s\n' "${cons[@]}" | median)" \
    "$(printf '%s\n' "${coffs[@]}" | median)" "$peak"
done
echo "(per round: the median of each round's engine+bus / curl; targets: engine >= curl down and >= 1.1x up,"
echo " peak < 64 MiB; the machine's other load moves MB/s, less so CPU s/GiB)"
