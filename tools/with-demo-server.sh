#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command (normally the client) next to the demo FTP server:
#
#   tools/with-demo-server.sh build/release/zodaru
#
# Starts tools/ftp-server.py on 127.0.0.1 with a sample tree (offering TLS with a certificate
# of its own, made at each start: the client asks once whether to trust it), then runs the
# command with HOME pointing at a temporary directory whose bookmarks.tarvo offers that
# server ("127.0.0.1:<port>", login demo, password demo), so the user's own bookmark file is
# never read nor touched. The command keeps the current directory, and the XDG directories stay those of the real home
# so the desktop's settings and caches still apply. When the command ends, the server is
# stopped and the temporary files are removed; the command's exit status is returned.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zodaru-home.XXXXXX")
ftp_work=$work
# shellcheck source=tools/ftp-servers.sh
. "$(dirname "$0")/ftp-servers.sh"

cleanup() {
  ftp_stop_all
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ftp_start pyftpd demo --sample-tree --name "Zodaru demo server" --user demo --password demo \
  --no-anonymous --tls explicit --tls-optional || exit 1
log=$work/demo-server.log

home="$work/home"
mkdir -m 700 "$home"
# The text form of a property list: an array of [server, login, password] triples.
printf '(\n  ("127.0.0.1:%s", "demo", "demo")\n)\n' "$port" >"$home/bookmarks.tarvo"
chmod 600 "$home/bookmarks.tarvo"
tls="TLS offered, self-signed certificate"
if grep -q "no TLS" "$log"; then
  tls=$(grep -m1 "no TLS" "$log")
fi
echo "Demo FTP server on 127.0.0.1:$port (login demo, password demo; $tls); log in $log" >&2

export XDG_CONFIG_HOME="${XDG_CONFIG_HOME:-${HOME:-$home}/.config}"
export XDG_CACHE_HOME="${XDG_CACHE_HOME:-${HOME:-$home}/.cache}"
export XDG_DATA_HOME="${XDG_DATA_HOME:-${HOME:-$home}/.local/share}"
export ZODARU_DEMO_PORT="$port"

status=0
HOME="$home" "$@" || status=$?
exit "$status"
