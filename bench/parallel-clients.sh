# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2154  # $work and $server_pid come from the sourcing script
# Sourced by run-pool-bench.sh and run-tree-bench.sh, after vsftpd-server.sh: one run of a
# client measured three ways, lftp's mirror, the commands a client sends per file.
#
#   server_cpu PID                 CPU seconds of the ended sessions of the vsftpd PID
#   measured OUT COMMAND...        runs COMMAND (its output into OUT); prints
#                                  "wall client-cpu server-cpu exit-status" of the run
#   lftp_mirror DIR N PORT FROM TO lftp mirror (-R when DIR is up) with --parallel=N
#   traced LOG FILES LABEL CMD...  after CMD ran against the vsftpd logging into LOG: the
#                                  connections it opened and its commands per file
#
# $server_pid names the vsftpd that measured reads; everything talks to 127.0.0.1 only.

now_ns() { date +%s%N; }

# A vsftpd session is a process of the listener's (and its own child, which it reaps):
# their processor time reaches the listener's cutime and cstime once the listener has
# reaped them, so this waits until it has no child left (2 s at most).
server_cpu() { # pid -> seconds
  local pid=$1 _
  for _ in $(seq 40); do
    [ -z "$(pgrep -P "$pid" 2>/dev/null)" ] && break
    sleep 0.05
  done
  awk -v hz="$(getconf CLK_TCK)" '{print ($16 + $17) / hz}' "/proc/$pid/stat"
}

# COMMAND's wall time, its processor time and its children's, and the server's for the
# sessions it opened (all of them ended when it returns).
measured() { # out command...
  local out=$1 before start end cpu status=0
  shift
  before=$(server_cpu "$server_pid")
  start=$(now_ns)
  cpu_seconds "$work/measured.cpu" "$@" >"$out" || status=$?
  end=$(now_ns)
  cpu=$(cat "$work/measured.cpu")
  awk -v s="$start" -v e="$end" -v c="$cpu" -v b="$before" -v a="$(server_cpu "$server_pid")" -v r="$status" \
    'BEGIN {printf "%.3f %.3f %.3f %d\n", (e - s) / 1e9, c, a - b, r}'
}

lftp_mirror() { # direction parallel port from to
  local reverse=
  [ "$1" = up ] && reverse=-R
  lftp -u anonymous,bench@ -p "$3" -e "set ftp:ssl-allow no; set net:max-retries 1; \
    mirror $reverse --parallel=$2 $4 $5; quit" 127.0.0.1 >/dev/null 2>&1
}

# One run of CMD against a vsftpd whose protocol log is LOG (log_ftp_protocol=YES): the
# control connections it opened, and its commands per file, by verb.
traced() { # log files label command...
  local log=$1 n=$2 label=$3 before
  shift 3
  touch "$log"
  before=$(wc -l <"$log")
  "$@" >/dev/null 2>&1
  sleep 0.2 # the sessions' last lines
  tail -n +"$((before + 1))" "$log" | awk -v label="$label" -v n="$n" '
    /CONNECT: Client/ { connections++ }
    /FTP command: Client/ {
      sub(/.*FTP command: Client "[^"]*", "/, ""); split($0, w, /[ "]/); verb = toupper(w[1])
      count[verb]++; all++
    }
    END {
      line = ""
      for (v in count) line = line sprintf(" %s=%d", v, count[v])
      printf "  %-16s %2d connections, %.2f commands per file; in all:%s\n", label, connections, all / n, line
    }'
}

# The median of the numbers in a list of them (words).
med() { tr ' ' '\n' | grep . | median; }

# The rounds of one direction: every client of `clients` runs once per round through the
# caller's `step DIRECTION CLIENT`, in an order that changes from round to round (in_turn);
# each round's times (`times`) and peaks (`peak`) are printed as they come.
alternated_rounds() { # direction
  local dir=$1 client round line
  local steps=()
  for client in "${clients[@]}"; do
    eval "step_$dir${client//-/_}() { step $dir $client; }"
    steps+=("step_$dir${client//-/_}")
  done
  for round in $(seq "$rounds"); do
    in_turn "$round" "${steps[@]}"
    line="  $dir round $round:"
    for client in "${clients[@]}"; do
      line+=" $client $(echo "${times[$dir/$client]}" | awk '{print $NF}')s"
      [ -n "${peak[$dir/$client]:-}" ] && line+="/$(echo "${peak[$dir/$client]}" | awk '{printf "%d", $NF / 1024}')MiB"
    done
    echo "$line"
  done
}
