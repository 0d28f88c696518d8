# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the benchmark runners: a vsftpd on 127.0.0.1 over "$work/ftp", with a file of
# $size_mib MiB at pub/big.bin, anonymous access and uploads into pub/.
#
#   bench_setup "$@"                 root, the benchmarks' packages, a private session bus
#   bench_workdir NAME               $work on tmpfs; vsftpd stopped and $work removed at exit
#   start_vsftpd PASV_MIN PASV_MAX   sets $port (tools/ftp-servers.sh starts it)
#   curl_run DIRECTION INTO FROM [cpu]  curl's median MB/s over $runs runs (and CPU s/GiB)
#   cpu_seconds FILE COMMAND...         CPU time of a command, into FILE
#   in_turn ROUND STEP...               the steps (functions) in turn, the ROUND-th first
#   before_upload / uploaded_intact LOCAL  around each upload to $remote_up
#   round_ratio "A..." "B..."           median of the rounds' A/B

# shellcheck source=tools/ftp-servers.sh
. "$(dirname "${BASH_SOURCE[0]}")/../tools/ftp-servers.sh"

# vsftpd must chroot the anonymous user; the broadcast needs a bus to go to, so a script
# started without one runs again under its own.
bench_setup() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "run as root: vsftpd chroots the anonymous user" >&2
    exit 1
  fi
  ZODARU_BENCH_DEPS=1 tools/install-deps.sh
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    exec dbus-run-session -- "$0" "$@"
  fi
}

bench_workdir() {
  work=$(mktemp -d "/dev/shm/$1.XXXXXX")
  ftp_work=$work
  trap bench_cleanup EXIT
}

bench_cleanup() {
  ftp_stop_all
  rm -rf "$work"
}

start_vsftpd() {
  local pasv_min=$1 pasv_max=$2
  # Served tree: the anonymous root must not be writable by the ftp user; pub/ is.
  mkdir -p "$work/ftp/pub"
  chmod 755 "$work/ftp"
  chown ftp:ftp "$work/ftp/pub"
  echo "making a ${size_mib} MiB file"
  head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/ftp/pub/big.bin"
  cp "$work/ftp/pub/big.bin" "$work/ftp/$remote_up"
  chown ftp:ftp "$work/ftp/pub/big.bin" "$work/ftp/$remote_up"

  ftp_pasv="$pasv_min $pasv_max"
  ftp_start vsftpd vsftpd \
    anonymous_enable=YES no_anon_password=YES "anon_root=$work/ftp" anon_upload_enable=YES \
    anon_mkdir_write_enable=YES anon_other_write_enable=YES anon_umask=022 write_enable=YES \
    local_enable=NO max_clients=20
}

# Every upload overwrites $remote_up, there from the start: the server truncates it when the
# upload begins and writes into the memory that frees. Removing it before each client started
# would let that memory go back to the virtual machine's host while a client starts up (free
# page reporting), and the server would then write into pages the host must hand back: about
# half the speed, paid by whoever starts slowest (curl uploading 3 s after the removal made
# 718 MB/s against 1406 right after it, 12 rounds).
remote_up=pub/up.bin

# The copy there dated 1970, so that uploaded_intact can tell it was replaced.
before_upload() { touch -d @0 "$work/ftp/$remote_up"; }

# True when the last upload replaced $remote_up with the bytes of LOCAL.
uploaded_intact() { [ "$(stat -c %Y "$work/ftp/$remote_up")" -gt 0 ] && cmp -s "$work/ftp/$remote_up" "$1"; }

# Whoever goes first in a round meets the machine as the last round left it (freed memory,
# a busy neighbour); the first place moves round by round so no side always takes it.
in_turn() {
  local round=$1; shift
  local steps=("$@") i
  for ((i = 0; i < ${#steps[@]}; i++)); do
    "${steps[(round + i) % ${#steps[@]}]}"
  done
}

# The median over the rounds of A[i] / B[i], to two places: the two sides of a round ran in
# the same minute, so this moves less with the machine's load than a ratio of two medians.
#   round_ratio "A1 A2 ..." "B1 B2 ..."
round_ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN {n = split(a, x, " "); split(b, y, " "); for (i = 1; i <= n; i++) print x[i] / y[i]}' |
    median | awk '{printf "%.2f", $1}'
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
field() { tr ' ' '\n' | sed -n "s/^$1=//p"; }

# CPU seconds (user + system) that `command...` takes, written to the file $1; the
# command's standard output goes through.
cpu_seconds() {
  local into=$1; shift
  local TIMEFORMAT='%U %S'
  { time "$@" 2>/dev/null; } 2>"$into.raw"
  awk '{printf "%.3f", $1 + $2}' "$into.raw" >"$into"
}

# CPU seconds per GiB moved: per_gib SECONDS BYTES
per_gib() { awk -v s="$1" -v b="$2" 'BEGIN {printf "%.2f", s * 1073741824 / b}'; }

# curl on the same server: curl_run DIRECTION DOWNLOAD_TO UPLOAD_FROM [cpu] -> median MB/s
# (and, with "cpu", the median CPU seconds per GiB)
curl_run() {
  local dir=$1 into=$2 from=$3 speeds=() cpus=() s
  for _ in $(seq "$runs"); do
    rm -f "$into"
    before_upload
    if [ "$dir" = down ]; then
      s=$(cpu_seconds "$work/curl.cpu" curl -s --ftp-pasv -o "$into" -w '%{speed_download} %{size_download}' \
        "ftp://127.0.0.1:$port/pub/big.bin" --user anonymous:bench@)
    else
      s=$(cpu_seconds "$work/curl.cpu" curl -s --ftp-pasv -T "$from" -w '%{speed_upload} %{size_upload}' \
        "ftp://127.0.0.1:$port/$remote_up" --user anonymous:bench@)
      uploaded_intact "$from" || { echo "curl's upload differs" >&2; exit 1; }
    fi
    speeds+=("$(awk -v b="${s% *}" 'BEGIN {printf "%.1f", b / 1e6}')")
    cpus+=("$(per_gib "$(cat "$work/curl.cpu")" "${s#* }")")
  done
  if [ "${4:-}" = cpu ]; then
    echo "$(printf '%s\n' "${speeds[@]}" | median) $(printf '%s\n' "${cpus[@]}" | median)"
  else
    printf '%s\n' "${speeds[@]}" | median
  fi
}
